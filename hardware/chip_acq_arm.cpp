// Arming of one acquisition, the read-out loop that hands the acquisition cycles the blocks of
// the sample ring, and the forced trigger.
#include "hardware/chip_acq.h"

#include "acquisition/acqctrl.h"
#include "hardware/CmdesBase.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"
#include "hardware/frontend_capa.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

const uint32_t tul_l_valIp[36] = {
    1048575, 1048575, 1048575, 1048575, 1048575, 1048575, 1048575, 349525, 33825, 1025,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
};
uint32_t pseudoELV = 1;
uint16_t pseudoRC2[4] = {0, 0, 0, 0};

namespace {
// Serial opcodes of arming.
enum : uint16_t {
    OP_STREAM_START = 0x080,
    OP_LENGTH = 0x082,
    OP_LENGTH_COMMIT = 0x083,
    OP_ARM_RESET = 0x087,
    OP_RELAY2 = 0x092,
    OP_START = 0x097,
    OP_LENGTH_RECOVER_2 = 0x0AC,
    OP_LENGTH_RECOVER_1 = 0x0AD,
    OP_INIT = 0x0C1,
    OP_LENGTH_READ_1 = 0x185,
    OP_LENGTH_READ_2 = 0x186,
};

constexpr int kLengthTries = 10;
constexpr int kAutoTimeoutMode4Ns = 40000000;
constexpr int32_t kFramedSamplesMax = 100000;
constexpr uint32_t kStreamBlockSamples = 5000;

// Pipeline bandwidth tables: [0] for variants 2 and 3, [1] for the others; by sensGroup.
const uint16_t kBandwidthBits[2][4] = {{0, 0, 6, 6}, {2, 2, 6, 6}};
const uint16_t kSecondRelayWords[2][4] = {{3, 3, 3, 3}, {0, 0, 0, 0}};

bool scopeMode(const acq_ctrl* ctrl)
{
    return (ctrl->acqMode & 0x10) != 0;
}

uint16_t sourceBit(uint16_t source)
{
    return static_cast<uint16_t>((1u << (source & 3)) & FE_ALL_CHANNELS);
}

bool qualified(const acq_ctrl* ctrl)
{
    return ctrl->triggerType == 2 || ctrl->triggerType == 3;
}

uint16_t initialWord(unsigned channel)
{
    switch (channel) {
    case 0: return static_cast<uint16_t>(pseudoInitCh1);
    case 1: return static_cast<uint16_t>(pseudoInitCh2);
    case 2: return static_cast<uint16_t>(pseudoInitCh3);
    default: return static_cast<uint16_t>(pseudoInitCh4);
    }
}

void writeGeneralCommand()
{
    TFpga::setSpiRegister(ACQ_SPI_GENERAL_COMMAND, pseudoFPGA_CMDE_GEN);
}

void sleepUs(long microseconds)
{
    timespec t{0, microseconds * 1000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// One shot of ns nanoseconds; 0 disarms.
void setAutoTimer(int32_t ns)
{
    itimerspec value{};
    value.it_value.tv_sec = ns / 1000000000;
    value.it_value.tv_nsec = ns % 1000000000;
    timer_settime(o_g_chipAcqDevDescriptor.autoTimer, 0, &value, nullptr);
}

int64_t monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The auto-trigger delay of this acquisition: the whole delay when a wait begins, else what is
// left of the wait an earlier acquisition began (at once when it is over). Mutex held.
int32_t autoDelayWithinWait(int32_t delay)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    const int64_t now = monotonicNs();
    if (d.autoDueNs == 0) {
        d.autoDueNs = now + delay;
        return delay;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(d.autoDueNs - now, 1, delay));
}

// Sends the block length and reads it back from channel 4 down; true when every channel of set
// answers pseudoELV to both read-backs.
bool sendBlockLength(uint16_t set)
{
    feSerialSend(set, OP_LENGTH, pseudoELV >> 14);
    feSerialSend(set, OP_LENGTH, pseudoELV & 0x3FFF);
    feSerialSend(set, OP_LENGTH_COMMIT, 0);
    bool match = true;
    for (int ch = 3; ch >= 0; --ch) {
        const uint16_t mask = feChannelMask(static_cast<unsigned>(ch));
        if (!(set & mask))
            continue;
        const uint32_t first = (feSerialQuery(mask, OP_LENGTH_READ_1) >> 4) & 0xFFFFF;
        const uint32_t second = (feSerialQuery(mask, OP_LENGTH_READ_2) >> 4) & 0xFFFFF;
        if (first != pseudoELV || second != pseudoELV)
            match = false;
    }
    return match;
}

// Step 13: ring positions and the detail word. A pending stop keeps its bit: it is the suspender's
// and only a resume replaces it. Returns whether a stop was pending.
bool resetRingAndDetail(const acq_ctrl* ctrl)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    l_g_signalsBufferWritePtr = 0;
    l_g_signalsBufferReadPtr = 0;
    l_g_signalsBufferWritePtrOld = 0;
    const bool stopPending = (o_g_synchroAcqDetail & SYNCHRO_STOP) != 0;
    if (!stopPending) {
        o_g_synchroAcqDetail = (ctrl->acqFlags & 0x20) ? SYNCHRO_FAST_TIMEBASE : SYNCHRO_NONE;
        pthread_cond_broadcast(&o_g_synchroAcqCond);
    }
    l_g_nSamplesToThrow = 8;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return stopPending;
}

int32_t wrapRing(int64_t position)
{
    int64_t p = position % kRingWords;
    if (p < 0)
        p += kRingWords;
    return static_cast<int32_t>(p);
}
} // namespace

int ChipAcqWrite(acq_ctrl* ctrl)
{
    if (!ChipAcqBoardPresent()) {
        resetRingAndDetail(ctrl);
        return -1;
    }

    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    const bool scope = scopeMode(ctrl);
    const uint16_t trigSet = ChipAcqTriggerChannels(ctrl);
    const uint16_t source = sourceBit(ctrl->triggerSource);

    // 1.
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    pseudoFPGA_IRQ4_MASK = 0;
    pseudoFPGA_IRQ4_STAT = 0;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    TFpga::setSpiRegister(ACQ_SPI_IRQ_MASK, 0);
    TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 1);

    // 2.
    pseudoRC = 0x80;
    ChipAcqSendRelayWords();

    // 3.
    TFpga::setEimRegister(ACQ_EIM_FIFO_RESET, 0x8000);
    TFpga::setEimRegister(ACQ_EIM_FIFO_THRESHOLD, 4095);
    TFpga::setSpiRegister(ACQ_SPI_IRQ_STATUS, 0);

    // 4-6. The descriptor under the mutex: the auto-trigger callback reads it.
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    // An acquisition stopped while its auto-trigger timer ran (a remote reading holds the
    // acquisition) hands its due time on: a hold does not restart the wait. A trigger, a record
    // completed or a control command (it disarms the timer) ends the wait.
    if (!d.autoTimerArmed || d.autoTriggered)
        d.autoDueNs = 0;
    setAutoTimer(0);
    d.autoTimerArmed = 0;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);

    feSerialSend(FE_ALL_CHANNELS, ACQ_OP_AUTO_TRIGGER, pseudoParamTrigger_Aux);
    feSerialSend(scope ? source : 0, ACQ_OP_AUTO_TRIGGER, pseudoParamTrigger_Main);

    pthread_mutex_lock(&o_g_synchroAcqMutex);
    us_g_chipAcqStatus = (ctrl->acqFlags & 0x20) ? ACQ_STATUS_PRETRIG : 0;
    d.acqEvents = 0;
    d.readPosition = 0;
    d.previousAutoTriggered = d.autoTriggered;
    d.autoTriggered = 0;
    pseudoChipAcqPhotoTrig = kPhotoTrigUnknown;

    // 7.
    const bool streaming = (ctrl->acqFlags & 0x80) != 0;
    uint16_t lengthSet = 0;
    if (streaming) {
        us_g_chipAcqStatus |= (scope && (ctrl->acqFlags & 0x90) == 0x90) ? ACQ_STATUS_STREAM_FPGA_END
                                                                          : ACQ_STATUS_STREAM_COUNTED;
        if (ctrl->acqMode & 0x80)
            us_g_chipAcqStatus |= ACQ_STATUS_METER;
        d.rearmChannels = 0;
        d.vernierChannel = source;
        d.stopChannels = scope ? static_cast<uint16_t>(ctrl->cycleChannels | source) : ctrl->cycleChannels;
        pseudoELV = 1;
    } else {
        if (ctrl->acqMode & 0x80)
            us_g_chipAcqStatus |= ACQ_STATUS_METER;
        pseudoELV = tul_l_valIp[ctrl->timeBase < 36 ? ctrl->timeBase : 35];
        d.stopChannels = 0;
        d.vernierChannel = source;
        d.rearmChannels = static_cast<uint16_t>(source | ctrl->cycleChannels);
        lengthSet = scope ? static_cast<uint16_t>(d.rearmChannels | (qualified(ctrl) ? sourceBit(ctrl->qualifierSource) : 0))
                          : ctrl->cycleChannels;
        lengthSet &= FE_ALL_CHANNELS;
    }
    const uint16_t status = us_g_chipAcqStatus;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);

    if (!streaming) {
        for (int attempt = 1; !sendBlockLength(lengthSet) && attempt < kLengthTries; ++attempt) {
            feSerialSend(trigSet, OP_LENGTH_RECOVER_1, 0);
            feSerialSend(trigSet, OP_LENGTH_RECOVER_2, 0);
        }
    }

    // 8. Relay words; the general command's variant bits go out with step 9's write.
    pseudoRC = static_cast<uint16_t>((pseudoRC & 0xC7FF) | 0x2001);
    const int variant = EtatLogique(ETAT_BANDWIDTH_VARIANT);
    const int table = (variant == 2 || variant == 3) ? 0 : 1;
    for (unsigned ch = 0; ch < 4; ++ch) {
        const uint32_t group = ctrl->sensGroup[ch] & 3;
        pseudoRC_bwl[ch] = kBandwidthBits[table][group];
        pseudoRC2[ch] = kSecondRelayWords[table][group];
    }
    if (variant == 1)
        pseudoFPGA_CMDE_GEN |= 0xF00;
    else
        pseudoFPGA_CMDE_GEN &= ~0xF00u;
    uint16_t rc = pseudoRC;
    if ((ctrl->acqFlags & 0x4) && ctrl->timeBase > 10)
        rc |= 0x400;
    else
        rc = static_cast<uint16_t>(rc & ~0x400);
    if (ctrl->acqFlags & 0x20)
        rc = static_cast<uint16_t>((rc & ~0x100) | 0x20);
    else
        rc = static_cast<uint16_t>((rc & ~0x20) | 0x100);
    if ((status & (ACQ_STATUS_STREAM_COUNTED | ACQ_STATUS_STREAM_FPGA_END)) || pseudoELV == 1)
        rc = static_cast<uint16_t>((rc & 0xFDAF) | 0x88);
    else
        rc = static_cast<uint16_t>((rc & 0xFD27) | 0x80);
    pseudoRC = rc;
    ChipAcqSendRelayWords();
    for (unsigned ch = 0; ch < 4; ++ch)
        feSerialSend(feChannelMask(ch), OP_RELAY2, pseudoRC2[ch]);

    // 9.
    feSerialSend(trigSet, OP_ARM_RESET, 0);
    pseudoFPGA_CMDE_GEN |= 0x10;
    writeGeneralCommand();
    feSerialSend(trigSet, OP_LENGTH_RECOVER_1, 0);
    pseudoFPGA_CMDE_GEN &= ~0x10u;
    writeGeneralCommand();

    // 10.
    if (!(pseudoRC & 0x8)) {
        pseudoRC |= 0x8;
        ChipAcqSendRelayWords();
        pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x8);
        ChipAcqSendRelayWords();
    }

    // 11.
    sleepUs(10);
    TFpga::getSpiRegister(ACQ_SPI_IRQ_STATUS);
    for (unsigned ch = 0; ch < 4; ++ch)
        feSerialSend(feChannelMask(ch), OP_INIT, static_cast<uint16_t>(initialWord(ch) | 0x24));
    TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 0);

    // 12.
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    d.pretrigWords = d.triggerWords = d.posttrigWords = 0;
    pseudoMacroVernier = -1;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);

    // 13.
    const bool stopPending = resetRingAndDetail(ctrl);

    // 14.
    TFpga::setSpiRegister(ACQ_SPI_IRQ_STATUS, 0);
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    pseudoFPGA_IRQ4_MASK = streaming ? 0x1FF6F : 0x1FF2F;
    const uint32_t mask = pseudoFPGA_IRQ4_MASK;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    TFpga::setSpiRegister(ACQ_SPI_IRQ_MASK, mask);

    // 15.
    if (ctrl->acqFlags == ACQ_FLAGS_CAPACITANCE)
        MMRampCapa(true);

    // 16.
    feSerialSend(trigSet, OP_START, 0);

    // 17.
    if (!(ctrl->acqFlags & 0x20)) {
        pseudoFPGA_CMDE_GEN |= 0x2;
        writeGeneralCommand();
        feSerialSend(trigSet, OP_STREAM_START, scope ? source : 0);
    }

    // 18.
    if (acqStateLoad() != 7)
        acqStateStore(1);

    // 19.
    switch (ctrl->acqFlags) {
    case ACQ_FLAGS_HARMONIC:
    case ACQ_FLAGS_METER:
    case ACQ_FLAGS_CAPACITANCE:
    case ACQ_FLAGS_CONTINUITY:
        ChipAcqForceTrigger();
        break;
    default:
        break;
    }

    // 20.
    return stopPending ? -1 : 0;
}

int ChipAcqRead(acq_ctrl* ctrl, int32_t timeoutMs)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    timespec deadline{};
    if (timeoutMs >= 0) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += (timeoutMs % 1000) * 1000000L;
        deadline.tv_sec += deadline.tv_nsec / 1000000000L;
        deadline.tv_nsec %= 1000000000L;
    }
    auto stopOrEnd = [](uint32_t detail) { return (detail & SYNCHRO_STOP) ? 8192 : 4096; };

    for (;;) {
        // 1.
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        if (o_g_synchroAcqDetail == SYNCHRO_NONE) {
            if (timeoutMs < 0) {
                pthread_cond_wait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex);
            } else {
                int rc = 0;
                while (o_g_synchroAcqDetail == SYNCHRO_NONE && rc != ETIMEDOUT)
                    rc = pthread_cond_clockwait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex, CLOCK_MONOTONIC, &deadline);
                if (o_g_synchroAcqDetail == SYNCHRO_NONE) {
                    pthread_mutex_unlock(&o_g_synchroAcqMutex);
                    ctrl->newSamples = 0;
                    return 0;  // not yet
                }
            }
        }
        if (o_g_synchroAcqDetail & (SYNCHRO_STOP | SYNCHRO_END)) {
            const int result = stopOrEnd(o_g_synchroAcqDetail);
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
            return result;
        }

        // 2. The rest of the pass also works on what the interrupt thread and the auto-trigger
        // callback share, so it keeps the mutex; nothing in it blocks.
        const TSynchroDetail detail = o_g_synchroAcqDetail;
        o_g_synchroAcqDetail = SYNCHRO_NONE;
        const int32_t w = l_g_signalsBufferWritePtr;
        int32_t n = w - l_g_signalsBufferReadPtr;
        if (n < 0)
            n += kRingWords;
        ChipAcqSynchro(detail);
        if (o_g_synchroAcqDetail & (SYNCHRO_STOP | SYNCHRO_END)) {
            const int result = stopOrEnd(o_g_synchroAcqDetail);
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
            return result;
        }
        const uint16_t status = us_g_chipAcqStatus;

        // 3.
        if (!d.autoTimerArmed && (status & 0x3) == 0x1) {
            int32_t delay = 0;
            if (ctrl->triggerMode == 4)
                delay = kAutoTimeoutMode4Ns;
            else if ((ctrl->triggerMode == 0 || ctrl->triggerMode == 3) && !(ctrl->acqFlags & 0x8))
                delay = d.previousAutoTriggered ? d.autoTimeoutNext : d.autoTimeoutFirst;
            if (delay > 0) {
                delay = autoDelayWithinWait(delay);
                setAutoTimer(delay);
                d.autoTimerArmed = 1;
            }
        }

        // 4-5.
        if ((status & 0xF) == 0xF) {
            d.acqEvents |= 0x10;
            d.autoDueNs = 0;
            if (acqStateLoad() != 7 && (ctrl->acqFlags & 0x20))
                acqStateStore(7);
            setAutoTimer(0);
            d.autoTimerArmed = 0;
        } else {
            const uint16_t phase = status & 0xF;
            if (phase == 1)
                acqStateStore(4);
            else if (phase == 3 || phase == 7)
                acqStateStore(5);
            if (status & ACQ_STATUS_TRIGGER)
                d.autoDueNs = 0;  // triggered: the wait is over
            const uint32_t samples = static_cast<uint32_t>(n) / 4;
            const bool handOut = (status & ACQ_STATUS_STREAM_COUNTED)
                && samples > kStreamBlockSamples
                && ((ctrl->acqFlags & 0x40) || (d.acqEvents & 0x800));
            if (!handOut) {
                pthread_mutex_unlock(&o_g_synchroAcqMutex);
                continue;
            }
        }

        // 6.
        l_g_signalsBufferReadPtr = w;
        bool framed = false;
        if (!(d.acqEvents & 0x400) && (status & 0x7) == 0x7) {
            d.acqEvents |= 0x400;
            framed = true;
            if (status & ACQ_STATUS_STREAM_FPGA_END) {
                const uint32_t samples = kFramedSamplesMax / (ctrl->decimation ? ctrl->decimation : 1);
                ctrl->newSamples = samples;
                ctrl->ringStart = wrapRing(static_cast<int64_t>(w) - 4 * static_cast<int64_t>(samples));
            } else if ((status & ACQ_STATUS_STREAM_COUNTED) && !(ctrl->acqFlags & 0x40)) {
                ctrl->ringStart = wrapRing(static_cast<int64_t>(pseudoChipAcqPhotoTrig) + 4 * static_cast<int64_t>(ctrl->triggerOffset));
                d.readPosition = w;
                int32_t words = w - ctrl->ringStart;
                if (w <= ctrl->ringStart)
                    words += kRingWords;
                ctrl->newSamples = static_cast<uint32_t>(std::min(words / 4, kFramedSamplesMax));
            } else if (!(status & (ACQ_STATUS_STREAM_COUNTED | ACQ_STATUS_STREAM_FPGA_END))) {
                ctrl->ringStart = 0;
                ctrl->newSamples = 2500;
            } else {
                framed = false;
            }
        }
        if (!framed) {
            ctrl->newSamples = static_cast<uint32_t>(n) / 4;
            ctrl->ringStart = d.readPosition;
            d.readPosition = w;
        }

        // 7.
        ctrl->readChannels = ctrl->cycleChannels;
        const int events = d.acqEvents;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        return events;
    }
}

void ChipAcqForceTrigger()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t force = TFpga::getSpiRegister(ACQ_SPI_FORCE_TRIGGER);
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, force | 1);
    TFpga::getSpiRegister(ACQ_SPI_VERSION);
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, force);
    o_g_chipAcqDevDescriptor.autoTriggered = 1;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}
