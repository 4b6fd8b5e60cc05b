// Acquisition-chip driver: opening, the interrupt thread that drains the FPGA FIFO into the
// sample ring, and the three timers.
#include "hardware/chip_acq.h"

#include "board/deviceio.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "hardware/CmdesBase.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <fcntl.h>
#include <linux/spi/spidev.h>

int i_g_weim_fd = -1;
const uint32_t i_l_spiSpeed = 50000000;

uint16_t tus_l_signalsBuffer[kRingWords];
int32_t l_g_signalsBufferWritePtr = 0;
int32_t l_g_signalsBufferReadPtr = 0;
int32_t l_g_signalsBufferWritePtrOld = 0;
int32_t l_g_nSamplesToThrow = 0;
int32_t pseudoChipAcqPhotoTrig = kPhotoTrigUnknown;

uint32_t pseudoFPGA_IRQ4_STAT = 0;
uint32_t pseudoFPGA_IRQ4_MASK = 0;

// The auto-trigger delays start at the values every control command sets: a zero delay would
// disarm the timer instead of arming it.
TChipAcqDevDescriptor o_g_chipAcqDevDescriptor = {
    timer_t(), timer_t(), timer_t(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kAutoTimeoutFirstNs, kAutoTimeoutNextNs, 0,
};
uint16_t us_g_chipAcqStatus = 0;
std::atomic<int32_t> o_g_frequenceMeterReady{0};

int32_t pseudoPretrig = 0;
int32_t pseudoPostrig = 0;
int16_t pseudoMacroVernier = -1;
uint32_t pseudoFPGA_CMDE_GEN = 0;

namespace {
const char kUioDevice[] = "/dev/uio0";
const char kSpiDevice[] = "/dev/spidev1.0";

std::atomic<bool> boardPresent{false};
// The timers ChipAcqDrv made, and the interrupt threads running (for ChipAcqDrvEnd).
bool timersMade = false;
std::mutex itThreadsMutex;
std::condition_variable itThreadsGone;
int itThreadsRunning = 0;
// Set by the interrupt thread's first FIFO drain since it started; guarded by o_g_synchroAcqMutex.
bool firstDrainDone = false;

void sleepUs(long microseconds)
{
    timespec t{microseconds / 1000000, (microseconds % 1000000) * 1000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// Reset pulse, then the image in chunks. A failed chunk is remembered and the rest still sent.
void loadConfiguration()
{
    CmdeLogique(CMDE_FPGA_RESET, 1);
    sleepUs(1000);
    CmdeLogique(CMDE_FPGA_RESET, 0);
    sleepUs(10);
    CmdeLogique(CMDE_FPGA_RESET, 1);
    sleepUs(250);

    TDeviceIO& io = deviceIO();
    const int fd = io.open(kSpiDevice, O_WRONLY);
    if (fd < 0)
        return;  // no image sent; the start-up goes on
    uint32_t speed = i_l_spiSpeed;
    io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed);
    bool allWritten = true;
    for (size_t offset = 0; offset < kFpgaImageSize; offset += kFpgaLoadChunk) {
        const size_t n = std::min(kFpgaLoadChunk, kFpgaImageSize - offset);
        if (io.write(fd, tuc_l_fpga + offset, n) != static_cast<ssize_t>(n))
            allWritten = false;
    }
    io.close(fd);
    if (allWritten)
        EtatLogique(ETAT_FPGA_CONFIGURED);
}

bool createTimer(timer_t* timer, void (*callback)(union sigval))
{
    struct sigevent event {};
    event.sigev_notify = SIGEV_THREAD;
    event.sigev_signo = SIGRTMIN;
    event.sigev_notify_function = callback;
    return timer_create(CLOCK_MONOTONIC, &event, timer) == 0;
}

int32_t signExtend13(uint32_t value)
{
    int32_t v = static_cast<int32_t>(value & 0x1FFF);
    if (v & 0x1000)
        v -= 0x2000;
    return v;
}

// --- FIFO drain: direct window reads, no allocation, no system call --------------------------------

inline void readSample(TRegisterWindow* window, uint16_t* to)
{
    to[0] = window->read16(ACQ_EIM_FIFO_PORT);
    to[1] = window->read16(ACQ_EIM_FIFO_PORT + 1);
    to[2] = window->read16(ACQ_EIM_FIFO_PORT + 2);
    to[3] = window->read16(ACQ_EIM_FIFO_PORT + 3);  // pops the sample
}

inline uint32_t fifoCount(TRegisterWindow* window)
{
    return window ? window->read16(ACQ_EIM_FIFO_COUNT) : 0;
}

// Stores n samples from position pos on, wrapping at the ring end; returns the position after.
int32_t storeSamples(TRegisterWindow* window, uint32_t n, int32_t pos)
{
    for (uint32_t i = 0; i < n; ++i) {
        readSample(window, tus_l_signalsBuffer + pos);
        pos += 4;
        if (pos >= kRingWords)
            pos = 0;
    }
    return pos;
}

void discardSamples(TRegisterWindow* window, uint32_t n)
{
    uint16_t sink[4];
    for (uint32_t i = 0; i < n; ++i)
        readSample(window, sink);
}

// One interrupt drains at most one FIFO's depth: the drain holds the mutex, and a FIFO refilled
// as fast as it is read would otherwise keep the read-out and the auto-trigger timer waiting for
// as long as it lasts (for ever when its count never falls).
constexpr uint32_t kDrainLimitSamples = 16384;

// Bit 7: the record restarts the ring; drain until the count reads 0. True when the limit
// stopped it with samples left.
bool drainRestart(TRegisterWindow* window)
{
    int32_t pos = 0;
    uint32_t drained = 0;
    uint32_t n = fifoCount(window);
    for (; n != 0 && drained < kDrainLimitSamples; n = fifoCount(window)) {
        pos = storeSamples(window, n, pos);
        drained += n;
    }
    l_g_signalsBufferWritePtr = pos;
    return n != 0;
}

// Bits 5 and 6: everything (5) or blocks of 8 (6), discarding first, while the recount exceeds 16.
// True when the limit stopped it with more than 16 samples left.
bool drainBlocks(TRegisterWindow* window, bool all)
{
    auto take = [all](uint32_t count) { return all ? count : count & ~7u; };
    int32_t pos = l_g_signalsBufferWritePtr;
    uint32_t drained = 0;
    uint32_t n = take(fifoCount(window));
    for (;;) {
        if (l_g_nSamplesToThrow > 0) {
            const uint32_t k = std::min(n, static_cast<uint32_t>(l_g_nSamplesToThrow));
            discardSamples(window, k);
            l_g_nSamplesToThrow -= static_cast<int32_t>(k);
            drained += k;
        } else {
            pos = storeSamples(window, n, pos);
            drained += n;
        }
        n = take(fifoCount(window));
        if (n <= 16 || drained >= kDrainLimitSamples)
            break;
    }
    l_g_signalsBufferWritePtr = pos;
    return n > 16;
}

void orDetail(TSynchroDetail bits)
{
    o_g_synchroAcqDetail |= bits;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
}
} // namespace

bool ChipAcqBoardPresent()
{
    return boardPresent.load();
}

int ChipAcqDrv()
{
    TDeviceIO& io = deviceIO();
    registerPowerOffUndo("acquisition driver", [] { return ChipAcqDrvEnd(); });
    // 1. The interrupt and the register window.
    boardPresent.store(false);
    i_g_weim_fd = io.open(kUioDevice, O_RDWR);
    if (i_g_weim_fd >= 0) {
        if (TRegisterWindow* window = io.mapRegisterWindow(i_g_weim_fd, kFpgaWindowBytes, 0)) {
            pv_g_fpgaIoMem.store(window, std::memory_order_release);
            boardPresent.store(true);
        } else {
            // Without the window there is no board to drive: the interrupt thread ends at once.
            io.close(i_g_weim_fd);
            i_g_weim_fd = -1;
        }
    }

    // 2-3. The configuration, unless the FPGA keeps one.
    if (!EtatLogique(ETAT_FPGA_CONFIGURED))
        loadConfiguration();

    // 4.
    sleepUs(10000);
    CmdeLogique(CMDE_LAMP, 1);
    CmdeLogique(CMDE_GPIO_144, 0);
    CmdeLogique(CMDE_GPIO_4, 1);

    // 5. The three timers; only the message timer runs from now on.
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    if (createTimer(&d.messageTimer, ChipAcqTimerMessage)) {
        itimerspec period{};
        period.it_value.tv_nsec = kMessageTimerMs * 1000000L;
        period.it_interval.tv_nsec = kMessageTimerMs * 1000000L;
        timer_settime(d.messageTimer, 0, &period, nullptr);
    }
    createTimer(&d.autoTimer, ChipAcqTimerAuto);
    createTimer(&d.frequencemeterTimer, ChipAcqTimerFrequencemeter);
    timersMade = true;

    // 6. The interrupt thread at the top of the round-robin range.
    startThread(&tItAcq_id, ChipAcqItThread, nullptr, 100, true, "tItAcq");

    // 7.
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    us_g_chipAcqStatus = 0;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return 0;
}

int ChipAcqOpen(char*, int32_t)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_chipAcqDevDescriptor.autoTriggered = 0;
    o_g_chipAcqDevDescriptor.previousAutoTriggered = 0;
    o_g_chipAcqDevDescriptor.autoDueNs = 0;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return 0;
}

void* ChipAcqItThread(void*)
{
    {
        std::lock_guard<std::mutex> lock(itThreadsMutex);
        ++itThreadsRunning;
    }
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    firstDrainDone = false;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    TDeviceIO& io = deviceIO();
    for (;;) {
        const uint32_t enable = 1;
        ssize_t n;
        do
            n = io.write(i_g_weim_fd, &enable, sizeof enable);
        while (n < 0 && errno == EINTR);
        if (n != 4)
            break;
        uint32_t events = 0;
        do
            n = io.read(i_g_weim_fd, &events, sizeof events);
        while (n < 0 && errno == EINTR);
        if (n != 4)
            break;
        ChipAcqItHandle();
    }
    {
        std::lock_guard<std::mutex> lock(itThreadsMutex);
        --itThreadsRunning;
    }
    itThreadsGone.notify_all();
    return nullptr;
}

bool ChipAcqDrvEnd(int timeoutMs)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    if (timersMade) {
        timer_delete(d.messageTimer);
        timer_delete(d.autoTimer);
        timer_delete(d.frequencemeterTimer);
        timersMade = false;
    }
    boardPresent.store(false);
    TDeviceIO& io = deviceIO();
    if (TRegisterWindow* window = pv_g_fpgaIoMem.exchange(nullptr, std::memory_order_acq_rel))
        io.unmapRegisterWindow(window);
    // A closed device ends the interrupt thread's wait.
    if (i_g_weim_fd >= 0)
        io.close(i_g_weim_fd);
    {
        std::unique_lock<std::mutex> lock(itThreadsMutex);
        if (!itThreadsGone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return itThreadsRunning == 0; }))
            return false;
    }
    i_g_weim_fd = -1;

    pthread_mutex_lock(&o_g_synchroAcqMutex);
    firstDrainDone = false;
    d = TChipAcqDevDescriptor{};
    d.autoTimeoutFirst = kAutoTimeoutFirstNs;
    d.autoTimeoutNext = kAutoTimeoutNextNs;
    us_g_chipAcqStatus = 0;
    pseudoFPGA_IRQ4_STAT = 0;
    pseudoFPGA_IRQ4_MASK = 0;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    l_g_signalsBufferWritePtr = l_g_signalsBufferReadPtr = l_g_signalsBufferWritePtrOld = 0;
    l_g_nSamplesToThrow = 0;
    pseudoChipAcqPhotoTrig = kPhotoTrigUnknown;
    o_g_frequenceMeterReady.store(0);
    pseudoPretrig = pseudoPostrig = 0;
    pseudoMacroVernier = -1;
    pseudoFPGA_CMDE_GEN = 0;
    ChipAcqResetCommandWords();
    return true;
}

void ChipAcqItHandle()
{
    TRegisterWindow* window = pv_g_fpgaIoMem.load(std::memory_order_acquire);
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;

    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t status = TFpga::getSpiRegister(ACQ_SPI_IRQ_STATUS) & ~IRQ_TRIGGER_SEEN;
    // Bits the read-out has not taken yet are kept: the record end can come in the same status
    // read as the trigger, and the interrupt still pending from it then reads 0 here; replacing
    // the shadow would lose the end and the record would never be flushed.
    const bool unread = (o_g_synchroAcqDetail & (SYNCHRO_SAMPLES | SYNCHRO_FAST_TIMEBASE | SYNCHRO_END)) != 0;
    const uint32_t kept = unread ? ~0u : static_cast<uint32_t>(IRQ_TRIGGER_SEEN);
    pseudoFPGA_IRQ4_STAT = status | (pseudoFPGA_IRQ4_STAT & kept);
    if (status & IRQ_TRIGGER_BITS)
        pseudoFPGA_IRQ4_STAT |= IRQ_TRIGGER_SEEN;
    if (!(status & pseudoFPGA_IRQ4_MASK)) {
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        return;  // not ours: not even the lamp changes
    }

    uint32_t position = 0;
    for (int source = 0; source < 4; ++source) {
        if (status & (1u << source)) {
            position = TFpga::getSpiRegister(static_cast<unsigned short>(ACQ_SPI_TRIGGER_POSITION + source));
            break;
        }
    }
    if (d.autoTriggered && pseudoChipAcqPhotoTrig == kPhotoTrigUnknown) {
        pseudoFPGA_IRQ4_STAT |= IRQ_TRIGGER_BITS;
        pseudoChipAcqPhotoTrig = l_g_signalsBufferWritePtr;
    } else if (status & IRQ_TRIGGER_BITS) {
        pseudoChipAcqPhotoTrig = l_g_signalsBufferWritePtr + 4 * signExtend13(position);
    }

    bool drained = false;
    bool samplesLeft = false;
    if (status & IRQ_END_BITS) {
        TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 1);
        orDetail(SYNCHRO_END);
    } else if (status & IRQ_FIFO_RESTART) {
        samplesLeft = drainRestart(window);
        orDetail(SYNCHRO_SAMPLES);
        drained = true;
    } else if (status & (IRQ_FIFO_LAST | IRQ_FIFO_THRESHOLD)) {
        samplesLeft = drainBlocks(window, (status & IRQ_FIFO_LAST) != 0);
        orDetail(SYNCHRO_SAMPLES);
        drained = true;
    }
    // The FPGA interrupts on a rising status bit only. A drain cut short by its limit leaves the
    // FIFO level bit set, and no new event would ever come: the FIFO fills, the acquisition stalls
    // and the record never ends. The acknowledge restarts the edge detection, so the level still
    // set raises the next interrupt.
    if (samplesLeft)
        TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 1);
    // Until the first drain, wake the read-out on every other interrupt of ours.
    if (drained) {
        if (!firstDrainDone)  // once a start: the flag lives until a power-off
            registerPowerOffUndo("acquisition driver", [] { return ChipAcqDrvEnd(); });
        firstDrainDone = true;
    } else if (!firstDrainDone)
        orDetail(SYNCHRO_FAST_TIMEBASE);

    const uint16_t acqStatus = us_g_chipAcqStatus;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);

    const uint32_t lamp = (acqStatus & 0xF) == 0xF ? 0 : (acqStatus & ACQ_STATUS_PRETRIG) ? 3 : 1;
    CmdeLogique(CMDE_ACQ_STATUS_LAMP, lamp);
}

void ChipAcqTimerMessage(union sigval)
{
    if (data.acqRunStop == 1)
        acqStateStore(1);
    const uint16_t state = acqStateLoad();
    if (state == static_cast<uint16_t>(data.trigStatus))
        return;
    // Before the acquisition thread exists a sender of 0 would pass for the user interface.
    const pthread_t realTime = __atomic_load_n(&RTAC_id, __ATOMIC_RELAXED);
    const intptr_t sender = senderValue(realTime);
    if (sender == 0)
        return;
    const pipe_dial notice{REQ_SET_PARAM, param::trigStatus, 0, state, 0.0f, sender};
    o_g_consMessageBox.send(&notice);
}

void ChipAcqTimerAuto(union sigval)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    if (pseudoRC & 0x100)
        us_g_chipAcqStatus |= ACQ_STATUS_PRETRIG | ACQ_STATUS_TRIGGER;
    else
        feSerialSend(FE_ALL_CHANNELS, ACQ_OP_AUTO_TRIGGER, 1);
    const uint32_t force = TFpga::getSpiRegister(ACQ_SPI_FORCE_TRIGGER);
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, force | 1);
    TFpga::getSpiRegister(ACQ_SPI_VERSION);
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, force);
    o_g_chipAcqDevDescriptor.autoTriggered = 1;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

void ChipAcqTimerFrequencemeter(union sigval)
{
    o_g_frequenceMeterReady.store(2);
}
