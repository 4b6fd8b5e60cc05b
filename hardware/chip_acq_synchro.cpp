// The driver's progress step: counted samples and interrupt status become the acquisition
// status, the reported state and the events; a complete record is stopped or flushed.
#include "hardware/chip_acq.h"

#include "hardware/feserial.h"
#include "hardware/fpga.h"

#include <cerrno>
#include <ctime>

namespace {
void sendRelayWords()
{
    for (unsigned ch = 0; ch < 4; ++ch)
        feSerialSend(feChannelMask(ch), ACQ_OP_RELAY, static_cast<uint16_t>(pseudoRC | pseudoRC_bwl[ch]));
}

void readVernier()
{
    const uint32_t readBack = feSerialQuery(o_g_chipAcqDevDescriptor.vernierChannel, ACQ_OP_VERNIER_READ);
    pseudoMacroVernier = static_cast<int16_t>(static_cast<uint16_t>(readBack >> 7));
}

void delayTest()
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    const int64_t triggered = d.triggerWords / 4;
    if (triggered >= d.delaySamples) {
        us_g_chipAcqStatus |= ACQ_STATUS_PRETRIG | ACQ_STATUS_TRIGGER | ACQ_STATUS_POSTTRIG;
        d.posttrigWords = static_cast<uint32_t>((triggered - d.delaySamples) * 4);
    }
}

// Words of this step (n) counted in the trigger phase. The step that saw the trigger also
// stored the samples before it: only those from the trigger sample on count, else the record
// ends early by as many samples (a late reader makes a long step: 1,400 samples short).
uint32_t wordsAfterTrigger(uint32_t n)
{
    if (o_g_chipAcqDevDescriptor.triggerWords != 0 || pseudoChipAcqPhotoTrig == kPhotoTrigUnknown)
        return n;
    int64_t trigger = pseudoChipAcqPhotoTrig % kRingWords;
    if (trigger < 0)
        trigger += kRingWords;
    int64_t stored = l_g_signalsBufferWritePtr - trigger;
    if (stored < 0)
        stored += kRingWords;
    // Beyond this step's words: the trigger sample is not stored yet.
    return stored <= static_cast<int64_t>(n) ? static_cast<uint32_t>(stored) : 0;
}

void endTest()
{
    if (static_cast<int64_t>(o_g_chipAcqDevDescriptor.posttrigWords / 4) >= pseudoPostrig) {
        feSerialSend(FE_ALL_CHANNELS, ACQ_OP_END, 0);
        us_g_chipAcqStatus |= 0xF;
    }
}

// Waits, releasing the mutex, for samples or a stop; a silent FPGA ends the wait after
// kFlushTimeoutMs with an acquisition end, so the read-out returns.
void waitFlush()
{
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_nsec += kFlushTimeoutMs * 1000000L;
    deadline.tv_sec += deadline.tv_nsec / 1000000000L;
    deadline.tv_nsec %= 1000000000L;
    while (!(o_g_synchroAcqDetail & (SYNCHRO_SAMPLES | SYNCHRO_STOP))) {
        if (pthread_cond_clockwait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex, CLOCK_MONOTONIC, &deadline) == ETIMEDOUT
            && !(o_g_synchroAcqDetail & (SYNCHRO_SAMPLES | SYNCHRO_STOP))) {
            o_g_synchroAcqDetail |= SYNCHRO_END;
            pthread_cond_broadcast(&o_g_synchroAcqCond);
            return;
        }
    }
}

void recordEnd()
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    pseudoFPGA_IRQ4_MASK = 0;
    TFpga::setSpiRegister(ACQ_SPI_IRQ_MASK, 0);
    if (d.stopChannels != 0) {
        TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 1);
        pseudoFPGA_CMDE_GEN &= ~0x62u;
        TFpga::setSpiRegister(ACQ_SPI_GENERAL_COMMAND, pseudoFPGA_CMDE_GEN);
        pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x100u);
        sendRelayWords();
        if (pseudoMacroVernier < 0)
            readVernier();
    } else if (d.rearmChannels != 0) {
        pseudoFPGA_IRQ4_MASK = 0x1FF80;  // bits 7 to 16
        TFpga::setSpiRegister(ACQ_SPI_IRQ_MASK, pseudoFPGA_IRQ4_MASK);
        TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 1);
        if (pseudoMacroVernier < 0)
            readVernier();
        TFpga::setEimRegister(ACQ_EIM_FIFO_THRESHOLD, 64);
        feSerialSend(d.rearmChannels, ACQ_OP_FLUSH, 0);
        waitFlush();
    }
}
} // namespace

void ChipAcqSynchro(TSynchroDetail)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;

    // 1. What the interrupt thread saw.
    if (pseudoFPGA_IRQ4_STAT & IRQ_TRIGGER_SEEN)
        us_g_chipAcqStatus |= ACQ_STATUS_PRETRIG | ACQ_STATUS_TRIGGER;
    if (pseudoFPGA_IRQ4_STAT & IRQ_FIFO_LAST)
        us_g_chipAcqStatus |= 0xF;

    // 2. Words stored since the previous step, for the streaming acquisitions.
    uint32_t n = 0;
    if (us_g_chipAcqStatus & (ACQ_STATUS_STREAM_COUNTED | ACQ_STATUS_STREAM_FPGA_END)) {
        int32_t words = l_g_signalsBufferWritePtr - l_g_signalsBufferWritePtrOld;
        if (words < 0)
            words += kRingWords;
        n = static_cast<uint32_t>(words);
        l_g_signalsBufferWritePtrOld = l_g_signalsBufferWritePtr;
    }

    // 3. Counting by the status with its mode bits.
    switch (us_g_chipAcqStatus) {
    case 0x10:
    case 0x20:
        d.pretrigWords += n;
        if (static_cast<int64_t>(d.pretrigWords / 4) >= pseudoPretrig)
            us_g_chipAcqStatus |= ACQ_STATUS_PRETRIG;
        break;
    case 0x13:
        d.triggerWords += wordsAfterTrigger(n);
        delayTest();
        break;
    case 0x23:
        if (d.autoTriggered)
            d.triggerWords += wordsAfterTrigger(n);
        delayTest();
        break;
    case 0x17:
        d.posttrigWords += n;
        endTest();
        break;
    case 0x27:
        if (d.autoTriggered)
            d.posttrigWords += n;
        endTest();
        break;
    case 0xF:
        if (d.rearmChannels != 0) {
            pseudoRC = static_cast<uint16_t>((pseudoRC & ~0x20u) | 0x40u);
            sendRelayWords();
        }
        break;
    default:
        endTest();
        break;
    }

    // 4. The record end.
    if ((us_g_chipAcqStatus & 0xF) == 0xF)
        recordEnd();

    // 5. State and events; the flush may have let others run, so the status is read again.
    uint16_t state = 0;
    switch (us_g_chipAcqStatus & ~(ACQ_STATUS_STREAM_COUNTED | ACQ_STATUS_STREAM_FPGA_END)) {
    case 0x1:
        d.acqEvents |= 0x1;
        state = 4;
        break;
    case 0x3:
        d.acqEvents |= 0x2;
        state = 5;
        break;
    case 0x7:
        d.acqEvents |= 0x800;
        state = 5;
        break;
    case 0xF:
    case 0x4F:
        d.acqEvents |= 0x10;
        state = 6;
        break;
    default:
        break;
    }
    if (state != 0 && acqStateLoad() != 7)
        acqStateStore(state);
}
