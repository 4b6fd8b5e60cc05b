// The interrupt handling against the simulated FIFO and status: trigger positions, the three
// drain branches, the end branch, the first-interrupt rule, the mask test and the status lamp;
// then the thread itself on the UIO device.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/drvtest.h"

#include "core/process.h"
#include "core/requests.h"
#include "hardware/chip_acq.h"

#include <thread>
#include <utility>

namespace {
constexpr uint32_t kAllBits = 0x1FFEF;

std::vector<simboard::TSample> makeSamples(size_t n, uint16_t base = 0)
{
    std::vector<simboard::TSample> out(n);
    for (size_t i = 0; i < n; ++i)
        for (int ch = 0; ch < 4; ++ch)
            out[i][ch] = static_cast<uint16_t>((base + i * 4 + ch) & 0xFFF);
    return out;
}

simboard::TSample ringSample(int32_t pos)
{
    return {tus_l_signalsBuffer[pos], tus_l_signalsBuffer[pos + 1], tus_l_signalsBuffer[pos + 2],
            tus_l_signalsBuffer[pos + 3]};
}

uint32_t detail()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t d = o_g_synchroAcqDetail;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return d;
}

void setDetail(uint32_t value)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = static_cast<TSynchroDetail>(value);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}
} // namespace

class DriverIrqTest : public HardwareTest {
protected:
    // The interrupt thread on /dev/uio0 with the given mask, enabled and waiting.
    void startInterruptThread(uint32_t mask)
    {
        i_g_weim_fd = deviceIO().open("/dev/uio0", O_RDWR);
        ASSERT_GE(i_g_weim_fd, 0);
        TFpga::setSpiRegister(ACQ_SPI_IRQ_MASK, mask);
        pseudoFPGA_IRQ4_MASK = mask;
        ASSERT_EQ(startThread(&tItAcq_id, ChipAcqItThread, nullptr, 100, true, "tItAcq"), 0);
        ASSERT_TRUE(waitFor([] { return simboard::interruptState().enabled; }));
    }

    // Waits (3 s at the most) for the samples detail as the read-out does; the detail word and
    // the ring's write position then.
    static std::pair<uint32_t, int32_t> waitForSamples()
    {
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 3;
        while (!(o_g_synchroAcqDetail & SYNCHRO_SAMPLES)
               && pthread_cond_timedwait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex, &deadline) == 0) {
        }
        const std::pair<uint32_t, int32_t> seen{o_g_synchroAcqDetail, l_g_signalsBufferWritePtr};
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        return seen;
    }

    void SetUp() override
    {
        HardwareTest::SetUp();
        l_g_signalsBufferWritePtr = 0;
        l_g_nSamplesToThrow = 0;
        pseudoChipAcqPhotoTrig = kPhotoTrigUnknown;
        pseudoFPGA_IRQ4_STAT = 0;
        pseudoFPGA_IRQ4_MASK = kAllBits;
        us_g_chipAcqStatus = 0;
        o_g_chipAcqDevDescriptor.autoTriggered = 0;
        setDetail(0);
    }
};

TEST_F(DriverIrqTest, TriggerPositionIsA13BitSignedOffsetOfTheFirstTriggeredSource)
{
    struct Row {
        const char* what;
        uint32_t bits;
        std::vector<std::pair<int, int64_t>> triggers;  // source, trigger sample index
        uint32_t noise;                                  // bits above bit 12 of the register
        int32_t offset;
    };
    const Row rows[] = {
        {"0x1FFF is -1", 0x1, {{0, -1}}, 0, -1},
        {"0x0FFF stays 4095", 0x1, {{0, 4095}}, 0, 4095},
        {"0x1000 is -4096", 0x4, {{2, -4096}}, 0, -4096},
        {"bits above 12 ignored", 0x8, {{3, 5}}, 0xABCDE000u, 5},
        {"negative with noise", 0x2, {{1, -3}}, 0xFFFFE000u, -3},
        {"first set bit wins", 0x6, {{1, 7}, {2, 9}}, 0, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (const auto& t : row.triggers)
            simboard::setTriggerSample(t.first, t.second, row.noise);
        l_g_signalsBufferWritePtr = 4000;
        pseudoChipAcqPhotoTrig = kPhotoTrigUnknown;
        pseudoFPGA_IRQ4_STAT = 0;
        simboard::latchStatus(row.bits);
        ChipAcqItHandle();
        EXPECT_EQ(pseudoChipAcqPhotoTrig, 4000 + 4 * row.offset);
        EXPECT_EQ(pseudoFPGA_IRQ4_STAT, row.bits | IRQ_TRIGGER_SEEN);
        EXPECT_EQ(l_g_signalsBufferWritePtr, 4000);  // no FIFO bit: nothing stored
    }
}

TEST_F(DriverIrqTest, AutoTriggeredAcquisitionTakesTheWritePositionOnce)
{
    o_g_chipAcqDevDescriptor.autoTriggered = 1;
    l_g_signalsBufferWritePtr = 800;
    simboard::pushSamples(makeSamples(8));
    simboard::latchStatus(IRQ_FIFO_LAST);
    ChipAcqItHandle();
    // The position at the interrupt, before the drain; the shadow claims all four triggers.
    EXPECT_EQ(pseudoChipAcqPhotoTrig, 800);
    EXPECT_EQ(pseudoFPGA_IRQ4_STAT & 0xF, 0xFu);
    EXPECT_EQ(l_g_signalsBufferWritePtr, 832);

    // Known now: a real trigger computes it again from its offset (sample 2, 8 popped: -6).
    simboard::setTriggerSample(0, 2);
    simboard::latchStatus(0x1);
    ChipAcqItHandle();
    EXPECT_EQ(pseudoChipAcqPhotoTrig, 832 - 24);
}

TEST_F(DriverIrqTest, FifoDrains)
{
    struct Row {
        const char* what;
        uint32_t bits;          // latched besides the level bit 6 (threshold 0: set while not empty)
        size_t pushed;
        int32_t toThrow;
        int32_t writeBefore;
        size_t discarded;       // the first stored sample is pushed[discarded]
        size_t stored;
        int32_t firstPosition;  // ring position of the first stored sample
        int32_t writeAfter;
    };
    const Row rows[] = {
        {"bit 6: blocks of 8, recount 7 ends", 0, 23, 0, 0, 0, 16, 0, 64},
        {"bit 5: everything", IRQ_FIFO_LAST, 23, 0, 0, 0, 23, 0, 92},
        {"bit 5: more than a block", IRQ_FIFO_LAST, 100, 0, 40, 0, 100, 40, 440},
        {"bit 6: a pass that only discards stores nothing", 0, 16, 5, 100, 5, 0, 100, 100},
        {"bit 6: discards, then stores while the recount exceeds 16", 0, 40, 5, 100, 5, 32, 100, 228},
        {"bit 6: a recount of exactly 16 waits for the next interrupt", 0, 24, 8, 0, 8, 0, 0, 0},
        {"bit 6: wraps at the ring end", 0, 16, 0, kRingWords - 8, 0, 16, kRingWords - 8, 56},
        {"bit 7: restarts the ring at 0", IRQ_FIFO_RESTART, 10, 0, 4000, 0, 10, 0, 40},
        {"bit 7: ignores the samples to throw", IRQ_FIFO_RESTART, 10, 3, 4000, 0, 10, 0, 40},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TFpga::setEimRegister(ACQ_EIM_FIFO_RESET, 0x8000);
        std::fill(std::begin(tus_l_signalsBuffer), std::end(tus_l_signalsBuffer), 0xFFFF);
        const auto pushed = makeSamples(row.pushed, 100);
        ASSERT_EQ(simboard::pushSamples(pushed), row.pushed);
        l_g_signalsBufferWritePtr = row.writeBefore;
        l_g_nSamplesToThrow = row.toThrow;
        setDetail(0);
        if (row.bits)
            simboard::latchStatus(row.bits);

        ChipAcqItHandle();

        EXPECT_EQ(l_g_signalsBufferWritePtr, row.writeAfter);
        EXPECT_EQ(simboard::fifo().count, row.pushed - row.discarded - row.stored);
        if (row.bits != IRQ_FIFO_RESTART) {
            EXPECT_EQ(l_g_nSamplesToThrow, row.toThrow - static_cast<int32_t>(row.discarded));
        }
        EXPECT_EQ(detail() & SYNCHRO_SAMPLES, SYNCHRO_SAMPLES);
        int32_t pos = row.firstPosition;
        for (size_t i = 0; i < row.stored; ++i) {
            ASSERT_EQ(ringSample(pos), pushed[row.discarded + i]) << "sample " << i;
            pos = (pos + 4) % kRingWords;
        }
        EXPECT_EQ(ringSample(pos), (simboard::TSample{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF})) << "nothing more stored";
    }
}

TEST_F(DriverIrqTest, EndOfAcquisitionIsAcknowledgedAndTakesPrecedenceOverTheFifo)
{
    simboard::pushSamples(makeSamples(5));
    simboard::latchStatus(0x100 | IRQ_FIFO_LAST);
    simboard::clearLog();
    ChipAcqItHandle();
    const auto writes = logOf(simboard::TLogKind::SpiWrite);
    ASSERT_EQ(writes.size(), 2u);  // the acknowledge, then the lamp in register 20
    EXPECT_EQ(writes[0].b, 64);
    EXPECT_EQ(writes[0].c, 1);
    EXPECT_EQ(writes[1].b, 20);
    EXPECT_EQ(simboard::fifo().count, 5u);
    EXPECT_EQ(l_g_signalsBufferWritePtr, 0);
    EXPECT_EQ(detail() & SYNCHRO_END, SYNCHRO_END);
}

TEST_F(DriverIrqTest, FirstInterruptRuleWakesTheReadOutUntilTheFirstDrain)
{
    struct Step {
        const char* what;
        uint32_t bits;
        size_t samples;
        uint32_t detail;
    };
    const Step steps[] = {
        {"end before any drain", 0x200, 0, SYNCHRO_END | SYNCHRO_FAST_TIMEBASE},
        {"trigger before any drain", 0x1, 0, SYNCHRO_FAST_TIMEBASE},
        {"the first drain", IRQ_FIFO_LAST, 8, SYNCHRO_SAMPLES},
        {"end after it", 0x200, 0, SYNCHRO_END},
        {"trigger after it", 0x1, 0, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        setDetail(0);
        if (step.samples)
            simboard::pushSamples(makeSamples(step.samples));
        simboard::latchStatus(step.bits);
        ChipAcqItHandle();
        EXPECT_EQ(detail(), step.detail);
    }
}

TEST_F(DriverIrqTest, StatusOutsideTheMaskChangesNothing)
{
    pseudoFPGA_IRQ4_MASK = IRQ_FIFO_LAST;
    simboard::pushSamples(makeSamples(16));  // level bit 6 only
    l_g_signalsBufferWritePtr = 400;
    setDetail(0);
    simboard::clearHistories();
    ChipAcqItHandle();
    EXPECT_EQ(simboard::fifo().count, 16u);
    EXPECT_EQ(l_g_signalsBufferWritePtr, 400);
    EXPECT_EQ(detail(), 0u);
    EXPECT_TRUE(simboard::reg20History().empty()) << "the lamp is not touched";
    EXPECT_EQ(pseudoFPGA_IRQ4_STAT, IRQ_FIFO_THRESHOLD);  // the shadow still follows the status
}

TEST_F(DriverIrqTest, StatusLamp)
{
    const std::pair<uint16_t, int> rows[] = {
        {0xF, 0}, {0x1F, 0}, {0x4F, 0}, {0x1, 3}, {0x13, 3}, {0x7, 3}, {0x0, 1}, {0x2, 1}, {0x16, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        us_g_chipAcqStatus = row.first;
        simboard::latchStatus(0x1);
        ChipAcqItHandle();
        EXPECT_EQ(simboard::reg20().statusLamp, row.second);
    }
}

TEST_F(DriverIrqTest, ThreadReEnablesWaitsDrainsAndEndsWithTheDevice)
{
    startInterruptThread(IRQ_FIFO_LAST | IRQ_END_BITS);
    if (HasFatalFailure())
        return;

    const auto pushed = makeSamples(20, 7);
    simboard::pushSamples(pushed);
    simboard::latchStatus(IRQ_FIFO_LAST);
    ASSERT_EQ(waitForSamples().second, 80);
    for (size_t i = 0; i < pushed.size(); ++i)
        EXPECT_EQ(ringSample(static_cast<int32_t>(4 * i)), pushed[i]);

    // Enabled again for the next interrupt: every read was preceded by a write of 1.
    EXPECT_TRUE(waitFor([] { return simboard::interruptState().enabled; }));
    EXPECT_EQ(simboard::interruptState().count, 1u);
    const auto uio = logOf(simboard::TLogKind::Uio);
    ASSERT_EQ(uio.size(), 2u);
    EXPECT_EQ(uio[0].b, 1);
    EXPECT_EQ(uio[1].b, 1);

    // A failing transfer ends the thread.
    simboard::shutdown();
    EXPECT_TRUE(waitFor([] { return threadsNamed("tItAcq") == 0; }));
}

// The FPGA raises the last block between the handler's status read (an end of acquisition)
// and its acknowledge: the event must still reach the thread, and the samples the read-out
// waits for must reach the ring.
TEST_F(DriverIrqTest, LastBlockRaisedBetweenTheStatusReadAndTheAcknowledgeIsDrained)
{
    simboard::setEnginePaused(true);
    startInterruptThread(IRQ_FIFO_LAST | IRQ_END_BITS);
    if (HasFatalFailure())
        return;

    const auto pushed = makeSamples(12, 3);
    simboard::pushSamples(pushed);
    simboard::latchAfterNextStatusRead(IRQ_FIFO_LAST);
    simboard::latchStatus(0x100);

    const auto [seen, written] = waitForSamples();
    EXPECT_TRUE(seen & SYNCHRO_END);
    ASSERT_TRUE(seen & SYNCHRO_SAMPLES) << "the last block was lost with the acknowledge";
    ASSERT_EQ(written, 4 * 12);
    for (size_t i = 0; i < pushed.size(); ++i)
        EXPECT_EQ(ringSample(static_cast<int32_t>(4 * i)), pushed[i]);

    simboard::shutdown();
    EXPECT_TRUE(waitFor([] { return threadsNamed("tItAcq") == 0; }));
}
