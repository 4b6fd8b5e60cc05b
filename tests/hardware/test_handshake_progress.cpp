// The driver's progress step: counting, the record end (stop and flush) as the board sees it,
// the flush wait and its time-out, and the reported state and events.
#include "tests/hardware/hwtest.h"

#include "hardware/chip_acq.h"

#include <thread>

namespace {
using namespace std::chrono_literals;

void progress()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    ChipAcqSynchro(SYNCHRO_NONE);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

uint32_t detailWord()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t d = o_g_synchroAcqDetail;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return d;
}

void orDetail(TSynchroDetail bits)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail |= bits;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

// SPI writes and serial commands in order, e.g. "spi 8 0x0", "serial 1 0x90 0x1c2".
std::vector<std::string> boardSequence()
{
    std::vector<std::string> out;
    char text[64];
    for (const auto& e : simboard::log({simboard::TLogKind::SpiWrite, simboard::TLogKind::Serial})) {
        if (e.kind == simboard::TLogKind::SpiWrite)
            std::snprintf(text, sizeof text, "spi %d 0x%x", int(e.b), unsigned(e.c));
        else
            std::snprintf(text, sizeof text, "serial %d 0x%x 0x%x", int(e.a), unsigned(e.b), unsigned(e.c));
        out.push_back(text);
    }
    return out;
}
} // namespace

class ProgressTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
        d.pretrigWords = d.triggerWords = d.posttrigWords = 0;
        d.delaySamples = 0;
        d.autoTriggered = 0;
        d.acqEvents = 0;
        d.rearmChannels = d.stopChannels = d.vernierChannel = 0;
        acqStateStore(0);
        us_g_chipAcqStatus = 0;
        pseudoFPGA_IRQ4_STAT = 0;
        pseudoFPGA_IRQ4_MASK = 0x1FFEF;
        l_g_signalsBufferWritePtr = l_g_signalsBufferWritePtrOld = 0;
        pseudoPretrig = pseudoPostrig = 1000000;
        pseudoMacroVernier = -1;
        pseudoRC = 0;
        for (uint16_t& b : pseudoRC_bwl)
            b = 0;
        pseudoFPGA_CMDE_GEN = 0;
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        o_g_synchroAcqDetail = SYNCHRO_NONE;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        simboard::clearLog();
    }
};

TEST_F(ProgressTest, PretriggerFillsAtItsLengthInSamples)
{
    us_g_chipAcqStatus = 0x10;
    pseudoPretrig = 1000;
    l_g_signalsBufferWritePtr = 3996;
    progress();
    EXPECT_EQ(us_g_chipAcqStatus, 0x10);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.pretrigWords, 3996u);
    EXPECT_EQ(acqStateLoad(), 0);
    EXPECT_EQ(l_g_signalsBufferWritePtrOld, 3996);

    l_g_signalsBufferWritePtr = 4000;
    progress();
    EXPECT_EQ(us_g_chipAcqStatus, 0x11);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.acqEvents, 0x1);
    EXPECT_EQ(acqStateLoad(), 4);

    // New words across the ring end count the wrap.
    us_g_chipAcqStatus = 0x20;
    o_g_chipAcqDevDescriptor.pretrigWords = 0;
    l_g_signalsBufferWritePtrOld = kRingWords - 1000;
    l_g_signalsBufferWritePtr = 400;
    progress();
    EXPECT_EQ(o_g_chipAcqDevDescriptor.pretrigWords, 1400u);
    EXPECT_EQ(us_g_chipAcqStatus, 0x20);
}

TEST_F(ProgressTest, CountingAfterTheTrigger)
{
    struct Row {
        const char* what;
        uint16_t status;
        uint8_t autoTriggered;
        int32_t newWords;
        uint32_t triggerWords;
        uint32_t posttrigWords;
        uint16_t statusAfter;
        uint32_t triggerAfter;
        uint32_t posttrigAfter;
        bool endSent;
        uint16_t state;
        uint16_t events;
    };
    // Delay 20 samples, post-trigger 100 samples.
    const Row rows[] = {
        {"0x13 within the delay", 0x13, 0, 40, 0, 0, 0x13, 40, 0, false, 5, 0x2},
        {"0x13 past the delay", 0x13, 0, 44, 40, 0, 0x17, 84, 4, false, 5, 0x800},
        {"0x23 counts only when auto-triggered", 0x23, 0, 400, 0, 0, 0x23, 0, 0, false, 5, 0x2},
        {"0x23 auto-triggered", 0x23, 1, 400, 0, 0, 0x27, 400, 320, false, 5, 0x800},
        {"0x17 short of the end", 0x17, 0, 396, 0, 0, 0x17, 0, 396, false, 5, 0x800},
        {"0x17 reaching the end", 0x17, 0, 400, 0, 0, 0x1F, 0, 400, true, 6, 0x10},
        {"0x27 counts only when auto-triggered", 0x27, 0, 400, 0, 0, 0x27, 0, 0, false, 5, 0x800},
        {"0x27 auto-triggered reaching the end", 0x27, 1, 400, 0, 0, 0x2F, 0, 400, true, 6, 0x10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
        d.delaySamples = 20;
        pseudoPostrig = 100;
        d.autoTriggered = row.autoTriggered;
        d.triggerWords = row.triggerWords;
        d.posttrigWords = row.posttrigWords;
        d.acqEvents = 0;
        us_g_chipAcqStatus = row.status;
        l_g_signalsBufferWritePtrOld = 0;
        l_g_signalsBufferWritePtr = row.newWords;
        simboard::clearLog();

        progress();

        EXPECT_EQ(us_g_chipAcqStatus, row.statusAfter);
        EXPECT_EQ(d.triggerWords, row.triggerAfter);
        EXPECT_EQ(d.posttrigWords, row.posttrigAfter);
        EXPECT_EQ(acqStateLoad(), row.state);
        EXPECT_EQ(d.acqEvents, row.events);
        const std::vector<std::string> ended = {"serial 15 0x96 0x0", "spi 8 0x0"};
        EXPECT_EQ(boardSequence(), row.endSent ? ended : std::vector<std::string>{});
    }
}

TEST_F(ProgressTest, StateAndEventsByStatus)
{
    struct Row {
        const char* what;
        uint16_t status;
        uint32_t shadow;
        uint16_t stateBefore;
        uint16_t statusAfter;
        uint16_t state;
        uint16_t events;
    };
    const Row rows[] = {
        {"pre-trigger filled", 0x1, 0, 0, 0x1, 4, 0x1},
        {"triggered", 0x3, 0, 0, 0x3, 5, 0x2},
        {"post-trigger", 0x7, 0, 0, 0x7, 5, 0x800},
        {"meter record complete", 0x4F, 0, 0, 0x4F, 6, 0x10},
        {"meter, nothing yet", 0x40, 0, 1, 0x40, 1, 0},
        {"a fast-time-base 7 survives", 0x1, 0, 7, 0x1, 7, 0x1},
        {"trigger seen by the interrupt thread", 0x10, IRQ_TRIGGER_SEEN, 0, 0x13, 5, 0x2},
        {"last FIFO block seen", 0x20, IRQ_FIFO_LAST, 0, 0x2F, 6, 0x10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        us_g_chipAcqStatus = row.status;
        pseudoFPGA_IRQ4_STAT = row.shadow;
        o_g_chipAcqDevDescriptor.delaySamples = 1000;
        o_g_chipAcqDevDescriptor.acqEvents = 0;
        acqStateStore(row.stateBefore);
        progress();
        EXPECT_EQ(us_g_chipAcqStatus, row.statusAfter);
        EXPECT_EQ(acqStateLoad(), row.state);
        EXPECT_EQ(o_g_chipAcqDevDescriptor.acqEvents, row.events);
    }
}

TEST_F(ProgressTest, FastTimeBaseRecordEndWithoutRearmOnlyClearsTheMask)
{
    us_g_chipAcqStatus = 0xF;
    progress();
    EXPECT_EQ(boardSequence(), std::vector<std::string>{"spi 8 0x0"});
    EXPECT_EQ(pseudoFPGA_IRQ4_MASK, 0u);
    EXPECT_EQ(pseudoRC, 0);
    EXPECT_EQ(acqStateLoad(), 6);
}

TEST_F(ProgressTest, StopBranchAcknowledgesRestoresTheRelaysAndReadsTheVernierOnce)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    d.stopChannels = 0xF;
    d.vernierChannel = 2;
    simboard::setMacroVernier(1, 37);
    pseudoRC = 0x1E0;
    const uint16_t bwl[4] = {1, 2, 4, 8};
    std::copy(bwl, bwl + 4, pseudoRC_bwl);
    pseudoFPGA_CMDE_GEN = 0xFF;
    us_g_chipAcqStatus = 0xF;

    progress();

    EXPECT_EQ(boardSequence(), (std::vector<std::string>{
                                   "spi 8 0x0", "spi 64 0x1", "spi 0 0x9d",
                                   "serial 1 0x90 0x1c2", "serial 2 0x90 0x1c4", "serial 4 0x90 0x1c8",
                                   "serial 8 0x90 0x1d0", "serial 2 0x1a0 0x0"}));
    EXPECT_EQ(pseudoRC, 0xE0);
    EXPECT_EQ(pseudoFPGA_CMDE_GEN, 0x9Du);
    EXPECT_EQ(pseudoMacroVernier, 37);

    // Read in this acquisition (not negative any more): not read again.
    simboard::clearLog();
    us_g_chipAcqStatus = 0xF;
    progress();
    for (const std::string& s : boardSequence())
        EXPECT_EQ(s.find("0x1a0"), std::string::npos) << s;
}

TEST_F(ProgressTest, FlushBranchRearmsAndWaitsForSamples)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    d.rearmChannels = 0x3;
    d.vernierChannel = 1;
    simboard::setMacroVernier(0, -300);  // read back as signed 16 bits
    pseudoRC = 0x120;
    us_g_chipAcqStatus = 0xF;

    std::thread interrupt([] {
        std::this_thread::sleep_for(30ms);
        orDetail(SYNCHRO_SAMPLES);
    });
    progress();
    interrupt.join();

    EXPECT_EQ(boardSequence(), (std::vector<std::string>{
                                   "serial 1 0x90 0x280", "serial 2 0x90 0x280", "serial 4 0x90 0x280",
                                   "serial 8 0x90 0x280", "spi 8 0x0", "spi 8 0x1ff80", "spi 64 0x1",
                                   "serial 1 0x1a0 0x0", "serial 3 0x95 0x0"}));
    EXPECT_EQ(pseudoRC, 0x140);
    EXPECT_EQ(pseudoFPGA_IRQ4_MASK, 0x1FF80u);
    EXPECT_EQ(pseudoMacroVernier, -300);
    EXPECT_EQ(simboard::fifo().threshold, 64);
    EXPECT_EQ(detailWord(), SYNCHRO_SAMPLES) << "ended by the samples, not by the time-out";
}

TEST_F(ProgressTest, FlushWaitEndsOnAStop)
{
    o_g_chipAcqDevDescriptor.rearmChannels = 0x1;
    pseudoMacroVernier = 0;
    us_g_chipAcqStatus = 0xF;
    std::thread saver([] {
        std::this_thread::sleep_for(20ms);
        AcqStopNoWait();
    });
    progress();
    saver.join();
    EXPECT_EQ(detailWord(), SYNCHRO_STOP);
}

TEST_F(ProgressTest, FlushWithASilentFpgaEndsAfterItsTimeOutWithAnAcquisitionEnd)
{
    o_g_chipAcqDevDescriptor.rearmChannels = 0x1;
    pseudoMacroVernier = 0;
    us_g_chipAcqStatus = 0xF;
    const double ms = elapsedMs([] { progress(); });
    EXPECT_GE(ms, kFlushTimeoutMs - 5.0);
    EXPECT_EQ(detailWord(), SYNCHRO_END);
}
