// Acquisition-chip driver: opening, interrupt thread, timers, control commands and the driver
// state that all of them share.
#pragma once

#include "board/board.h"
#include "hardware/handshake.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <pthread.h>

struct acq_ctrl;

// Opens the driver: register window, FPGA configuration, timers, interrupt thread. Returns 0.
int ChipAcqDrv();
// Undoes ChipAcqDrv as a power-off does, for a test's tear-down (the program never calls it): the
// timers deleted, the interrupt thread ended with its device closed, the register window
// unmapped and every driver word back to its start value. Call once the acquisition threads
// have ended; false when the interrupt thread had not left after timeoutMs.
bool ChipAcqDrvEnd(int timeoutMs = 5000);
// Clears the auto-trigger state; both arguments are ignored. Returns 0.
int ChipAcqOpen(char* name, int32_t flags);
// Driver command; 0, 6, 10 and 12 accept a null record. Returns 0.
int ChipAcqIoctl(int32_t command, acq_ctrl* ctrl);

// Body of the interrupt thread "tItAcq": ends when the UIO device refuses a 4-byte transfer.
void* ChipAcqItThread(void*);
// Steps 2-9 of one interrupt (status, trigger position, FIFO drain, detail bits, lamp): what the
// thread does after each UIO read.
void ChipAcqItHandle();
// Timer callbacks; the notification value is ignored.
void ChipAcqTimerMessage(union sigval);
void ChipAcqTimerAuto(union sigval);
void ChipAcqTimerFrequencemeter(union sigval);
// The progress step, called by the read-out with o_g_synchroAcqMutex held (the argument is
// ignored). The end-of-record flush waits on the condition, which releases the mutex.
void ChipAcqSynchro(TSynchroDetail detail);

// --- Platform objects -----------------------------------------------------------------------------

// /dev/uio0, read-write, kept for the run (the interrupt and the register window); -1 without it.
extern int i_g_weim_fd;
// The register window itself is pv_g_fpgaIoMem (hardware/fpga.h).
constexpr size_t kFpgaWindowBytes = 0x4000000;
// The FPGA configuration image, streamed to the FPGA in chunks when it is not configured.
constexpr size_t kFpgaImageSize = 142124;
constexpr size_t kFpgaLoadChunk = 4096;
extern const uint8_t tuc_l_fpga[kFpgaImageSize];
// SPI clock of the configuration load.
extern const uint32_t i_l_spiSpeed;
// tItAcq_id is declared with the other thread identities (core/requests.h).

// False when /dev/uio0 could not be opened or mapped: no window, the interrupt thread ends at
// its first transfer and arming refuses.
bool ChipAcqBoardPresent();

// --- Sample ring ----------------------------------------------------------------------------------

constexpr int32_t kRingSamples = 100000;
constexpr int32_t kRingWords = kRingSamples * 4;  // 16-bit words, four per sample (channels 1-4)
// One writer (the interrupt thread); positions published under o_g_synchroAcqMutex.
extern uint16_t tus_l_signalsBuffer[kRingWords];
// Positions in 16-bit words, 0..kRingWords-1, multiples of 4.
extern int32_t l_g_signalsBufferWritePtr;
extern int32_t l_g_signalsBufferReadPtr;
extern int32_t l_g_signalsBufferWritePtrOld;
// Samples still to discard from the FIFO before storing (set by arming).
extern int32_t l_g_nSamplesToThrow;
// Ring position of the trigger sample, not wrapped (the reader wraps it); kPhotoTrigUnknown
// until a trigger position is known.
constexpr int32_t kPhotoTrigUnknown = 0x1000000;
extern int32_t pseudoChipAcqPhotoTrig;

// --- Interrupt bookkeeping ------------------------------------------------------------------------

// Shadow of SPI 16; bit 31 is the driver's own sticky "trigger seen in this acquisition".
extern uint32_t pseudoFPGA_IRQ4_STAT;
// Bits the driver wants (the value of SPI 8).
extern uint32_t pseudoFPGA_IRQ4_MASK;

enum : uint32_t {
    IRQ_TRIGGER_BITS = 0xF,       // trigger of source 1-4
    IRQ_FIFO_LAST = 1u << 5,      // last block of the FIFO: drain everything
    IRQ_FIFO_THRESHOLD = 1u << 6, // above the threshold: drain in blocks of 8
    IRQ_FIFO_RESTART = 1u << 7,   // record that restarts the ring
    IRQ_END_BITS = 0x1FF00,       // bits 8-16: end of acquisition
    IRQ_TRIGGER_SEEN = 1u << 31,  // driver's sticky bit
};

// FPGA registers the driver uses.
enum : unsigned short {
    ACQ_SPI_IRQ_MASK = 8,
    ACQ_SPI_IRQ_STATUS = 16,
    ACQ_SPI_FORCE_TRIGGER = 56,
    ACQ_SPI_IRQ_ACK = 64,
    ACQ_SPI_VERSION = 99,
    ACQ_SPI_TRIGGER_POSITION = 104,   // + source 0..3
    ACQ_SPI_GENERAL_COMMAND = 0,
    ACQ_EIM_FIFO_RESET = 16,
    ACQ_EIM_FIFO_THRESHOLD = 17,
    ACQ_EIM_FIFO_COUNT = 18,
    ACQ_EIM_FIFO_PORT = 32,           // 32-35: channels 1-4; 35 pops the sample
};

// Serial opcodes the driver sends.
enum : uint16_t {
    ACQ_OP_RELAY = 0x090,
    ACQ_OP_FLUSH = 0x095,
    ACQ_OP_END = 0x096,
    ACQ_OP_AUTO_TRIGGER = 0x0C3,
    ACQ_OP_VERNIER_READ = 0x1A0,
};

// --- Driver descriptor and status -----------------------------------------------------------------

struct TChipAcqDevDescriptor {
    timer_t messageTimer;
    timer_t autoTimer;
    timer_t frequencemeterTimer;
    uint8_t autoTimerArmed;
    int32_t readPosition;
    uint16_t acqState;        // trigStatus values: 4, 5, 6, 7 (fast time base), 1 held
    uint16_t acqEvents;       // 0x1, 0x2, 0x10, 0x400, 0x800
    int32_t delaySamples;
    uint8_t previousAutoTriggered;
    uint8_t autoTriggered;
    uint32_t pretrigWords;
    uint32_t triggerWords;
    uint32_t posttrigWords;
    uint16_t rearmChannels;
    uint16_t stopChannels;
    uint16_t vernierChannel;
    int32_t autoTimeoutFirst; // ns
    int32_t autoTimeoutNext;  // ns
    // When the auto trigger of the wait in progress is due (CLOCK_MONOTONIC, ns; 0: no wait).
    // A wait outlives an acquisition stopped before its trigger, so that holds repeated faster
    // than the delay never keep a flat input from being recorded.
    int64_t autoDueNs;
};
// Guarded by o_g_synchroAcqMutex, except acqState, which the message timer reads without it
// (use acqStateLoad/acqStateStore).
extern TChipAcqDevDescriptor o_g_chipAcqDevDescriptor;

inline uint16_t acqStateLoad()
{
    return __atomic_load_n(&o_g_chipAcqDevDescriptor.acqState, __ATOMIC_RELAXED);
}
inline void acqStateStore(uint16_t state)
{
    __atomic_store_n(&o_g_chipAcqDevDescriptor.acqState, state, __ATOMIC_RELAXED);
}

constexpr int32_t kAutoTimeoutFirstNs = 500000000;
constexpr int32_t kAutoTimeoutNextNs = 80000000;
constexpr int kMessageTimerMs = 200;

// Driver status (guarded by o_g_synchroAcqMutex).
enum : uint16_t {
    ACQ_STATUS_PRETRIG = 0x1,
    ACQ_STATUS_TRIGGER = 0x2,
    ACQ_STATUS_POSTTRIG = 0x4,
    ACQ_STATUS_COMPLETE = 0x8,
    ACQ_STATUS_STREAM_COUNTED = 0x10,
    ACQ_STATUS_STREAM_FPGA_END = 0x20,
    ACQ_STATUS_METER = 0x40,
};
extern uint16_t us_g_chipAcqStatus;

// 1 once the frequency-meter counters started, 2 once its timer expired.
extern std::atomic<int32_t> o_g_frequenceMeterReady;

// --- Shared driver words --------------------------------------------------------------------------

// Pre- and post-trigger lengths in samples (set-up commands).
extern int32_t pseudoPretrig;
extern int32_t pseudoPostrig;
// Last vernier read-back of the FPGA; -1 until read in this acquisition.
extern int16_t pseudoMacroVernier;
// Shadow of SPI 0, the general command.
extern uint32_t pseudoFPGA_CMDE_GEN;

// Front-end relay word (serial opcode 0x90) and the per-channel bandwidth-limit bits ORed into it
// for each channel. The driver owns them; the scaling registers only clear and set bit 7
// (front end held) around register writes.
extern uint16_t pseudoRC;
extern uint16_t pseudoRC_bwl[4];

// --- Driver control commands ------------------------------------------------------------------

enum : int32_t {
    CHIPACQ_SCOPE = 0,
    CHIPACQ_TIMEBASE = 1,
    CHIPACQ_HARMONIC = 2,
    CHIPACQ_METER = 3,
    CHIPACQ_CALIBRATION = 5,
    CHIPACQ_AUTOSET = 6,
    CHIPACQ_CAPACITANCE = 8,
    CHIPACQ_STOP = 10,
    CHIPACQ_STOP_QUIET = 12,
};

// Shadows of the last value sent (only the driver reads them back).
extern uint16_t pseudoInitCh1, pseudoInitCh2, pseudoInitCh3, pseudoInitCh4;
extern uint32_t pseudoBDT;           // fast sample-clock divider (0x1FFFF when unused)
extern uint32_t pseudoFPGA_BDT_ML;   // SPI 68: slow sample clock in microseconds minus one
extern uint16_t pseudoParamTrigger_Main, pseudoParamTrigger_Aux;
extern uint16_t pseudoOn_Off_Blocs_Trigger, pseudoOn_Off_Blocs_Qualifier, pseudoOn_Off_Blocs_Aux;
extern uint16_t pseudoParamHO_Trigger, pseudoParamHO_Qualifier, pseudoParamHO_Aux;
extern uint16_t pseudoHoldOff_Trigger, pseudoHoldOff_Qualifier, pseudoHoldOff_Aux;
extern uint16_t pseudoFrqMtr;        // frequency-meter word (opcode 0xCE)

extern const uint32_t tul_l_holdoffGammee[7];
extern const int32_t tl_l_holdoffClk[6];
extern const uint32_t tul_l_delayGamme[7];
extern const uint32_t tul_l_dtGamme[7];
extern const int32_t tl_l_delayClk[6];
extern const int32_t tl_l_deltaTClk[6];
extern const int16_t ts_l_deltaTClkCoeff[6];
extern const uint16_t tus_l_deltaTSelect[4];
extern const uint16_t tus_l_postrigDiviseur[36];

// Range r of value in a 7-bound range table: the first k in 1..6 with table[k] >= value, minus
// one; values above the last bound take the last range (5).
int ChipAcqRange(const uint32_t* table, uint32_t value);
// Device mask of the trigger blocks: the record's channel word with the trigger source, and the
// qualifier for trigger types 2 and 3; 0 outside the scope modes.
uint16_t ChipAcqTriggerChannels(const acq_ctrl* ctrl);
// The channel word without the trigger source (and qualifier for types 2 and 3) in the scope
// modes; the whole channel word outside them.
uint16_t ChipAcqAuxChannels(const acq_ctrl* ctrl);
// Sends the relay word (pseudoRC | pseudoRC_bwl[ch]) to channels 1 to 4.
void ChipAcqSendRelayWords();
// Every shadow word of the commands, the arming and the relay words back to its start value (part
// of ChipAcqDrvEnd).
void ChipAcqResetCommandWords();

// --- Arming and read-out ---------------------------------------------------------------------

// Block length (ELV) of the non-streaming acquisitions by time-base index, and the last value sent
// (1 for the streaming acquisitions).
extern const uint32_t tul_l_valIp[36];
extern uint32_t pseudoELV;
// Per-channel second relay word (opcode 0x92), from the bandwidth variant and sensGroup.
extern uint16_t pseudoRC2[4];

// Arms one acquisition (called without o_g_synchroAcqMutex). Returns 0, or -1 when a stop was
// pending (the detail word keeps bit 4) or when there is no board (nothing is programmed).
int ChipAcqWrite(acq_ctrl* ctrl);
// Waits for the interrupt thread's news and returns 8192 (stop), 4096 (end of acquisition) or
// the event word with ringStart, newSamples and readChannels set. With timeoutMs >= 0 a wait that
// ends with nothing new returns 0 with newSamples 0 ("not yet"); -1 waits as long as it takes.
int ChipAcqRead(acq_ctrl* ctrl, int32_t timeoutMs = -1);
// Forces a trigger at once (SPI 56 bit 0 pulse) and marks the acquisition auto-triggered.
void ChipAcqForceTrigger();

// How long the end-of-record flush waits for samples or a stop before it reports an end. The
// simulated FPGA is a thread of the host, which a loaded host can hold up far longer than the
// real FPGA ever pauses; an end reported then loses a record that is already on its way.
constexpr int kFlushTimeoutMs = kSimulatedBoard ? 1000 : 100;
