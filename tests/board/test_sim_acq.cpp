// The simulated FPGA's acquisition FIFO, interrupt status, mask and acknowledge, trigger
// positions, the macro vernier read-back and the UIO interrupt, through raw device accesses.
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

using simboard::TSample;
using simboard::TStrictCheck;
using namespace std::chrono_literals;

class SimAcq : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        window_ = std::make_unique<simtest::Window>();
        ASSERT_TRUE(window_->ok());
    }
    void TearDown() override
    {
        window_.reset();
        SimFpgaBoardTest::TearDown();
    }

    // n samples whose codes tell their number: sample k holds k*4 + c + first on channel c.
    static std::vector<TSample> numbered(size_t n, uint16_t first = 0)
    {
        std::vector<TSample> v(n);
        for (size_t k = 0; k < n; ++k)
            for (int c = 0; c < 4; ++c)
                v[k][c] = static_cast<uint16_t>((first + k * 4 + c) & 0xFFF);
        return v;
    }
    // One sample through the four ports, in order.
    TSample readSample()
    {
        TSample s;
        for (int c = 0; c < 4; ++c)
            s[c] = w().read(32 + c);
        return s;
    }
    // The checks this test provoked on purpose, then none left.
    static void expectViolations(std::vector<TStrictCheck> expected)
    {
        std::vector<TStrictCheck> got;
        for (const auto& v : simboard::violations())
            got.push_back(v.check);
        EXPECT_EQ(got, expected) << violationText();
        simboard::clearViolations();
    }

    simtest::Window& w() { return *window_; }

    std::unique_ptr<simtest::Window> window_;
};

TEST_F(SimAcq, FifoDeliversFourPortsPerSampleInOrderAndHolds16384)
{
    EXPECT_EQ(w().read(18), 0);
    std::vector<TSample> in = {{{0x0123, 0x1456, 0xF789, 0x0ABC}}, {{1, 2, 3, 4}}};
    ASSERT_EQ(simboard::pushSamples(in), 2u);
    EXPECT_EQ(w().read(18), 2);
    EXPECT_EQ(w().read(32), 0x0123);
    EXPECT_EQ(w().read(33), 0x0456) << "12-bit codes";
    EXPECT_EQ(w().read(34), 0x0789);
    EXPECT_EQ(w().read(18), 2) << "only the channel-4 port pops";
    EXPECT_EQ(w().read(35), 0x0ABC);
    EXPECT_EQ(w().read(18), 1);
    EXPECT_EQ(readSample(), (TSample{{1, 2, 3, 4}}));
    simboard::TFifoState f = simboard::fifo();
    EXPECT_EQ(f.count, 0u);
    EXPECT_EQ(f.produced, 2u);
    EXPECT_EQ(f.popped, 2u);

    // Capacity: the rest is refused, nothing is lost from what was taken; order kept across the
    // ring's wrap.
    auto many = numbered(simboard::kFifoSamples + 10);
    EXPECT_EQ(simboard::pushSamples(many), simboard::kFifoSamples);
    EXPECT_EQ(w().read(18), simboard::kFifoSamples);
    for (size_t k = 0; k < simboard::kFifoSamples; ++k) {
        TSample s = readSample();
        if (s != many[k]) {
            ADD_FAILURE() << "sample " << k;
            break;
        }
    }
    EXPECT_EQ(w().read(18), 0);
    expectViolations({});
}

TEST_F(SimAcq, StrictModeFlagsPortsOutOfOrderAndReadsOfAnEmptyFifo)
{
    ASSERT_EQ(simboard::pushSamples(numbered(2)), 2u);
    EXPECT_EQ(w().read(33), 1) << "the head sample's channel 2";
    expectViolations({TStrictCheck::FifoPortOrder});
    EXPECT_EQ(w().read(34), 2);
    EXPECT_EQ(w().read(35), 3);
    expectViolations({});
    EXPECT_EQ(w().read(32), 4);
    EXPECT_EQ(w().read(32), 4) << "a second latch of the same head";
    expectViolations({TStrictCheck::FifoPortOrder});
    for (uint32_t port : {33u, 34u, 35u})
        w().read(port);
    expectViolations({});
    EXPECT_EQ(w().read(32), 0);
    expectViolations({TStrictCheck::FifoReadEmpty});
}

TEST_F(SimAcq, FifoResetEmptiesItClearsBits5To7AndRestartsTheNumbering)
{
    ASSERT_EQ(simboard::pushSamples(numbered(5)), 5u);
    readSample();
    simboard::latchStatus(0x1FFEF);
    w().write(16, 0x8000);
    simboard::TFifoState f = simboard::fifo();
    EXPECT_EQ(f.count, 0u);
    EXPECT_EQ(f.produced, 0u);
    EXPECT_EQ(f.popped, 0u);
    EXPECT_EQ(f.resets, 1u);
    EXPECT_EQ(w().read(18), 0);
    EXPECT_EQ(simboard::status(), 0x1FF0Fu) << "bits 5, 6 and 7 cleared, the others kept";
    w().write(16, 0x0001);
    EXPECT_EQ(simboard::fifo().resets, 1u) << "only 0x8000 resets";
}

TEST_F(SimAcq, StatusLatchesUntilReadOrClearedAndBit6FollowsTheThreshold)
{
    simboard::latchStatus(0x1 | 0x20 | 0x100 | 0x80000000u);
    EXPECT_EQ(simtest::spiRead(16), 0x121u) << "bits outside the status are not kept";
    EXPECT_EQ(simtest::spiRead(16), 0u) << "read to clear";

    w().write(17, 4);
    ASSERT_EQ(simboard::pushSamples(numbered(3)), 3u);
    EXPECT_EQ(simtest::spiRead(16), 0u);
    ASSERT_EQ(simboard::pushSamples(numbered(1)), 1u);
    EXPECT_EQ(simtest::spiRead(16), 0x40u);
    EXPECT_EQ(simtest::spiRead(16), 0x40u) << "a level, not cleared by the read";
    readSample();
    EXPECT_EQ(simtest::spiRead(16), 0u);
    w().write(17, 0);
    EXPECT_EQ(simtest::spiRead(16), 0x40u) << "threshold 0: any sample";
    readSample(), readSample(), readSample();
    EXPECT_EQ(simtest::spiRead(16), 0u) << "never with an empty FIFO";

    // Cleared by a write of 0 and, with the mask at 0, by the acknowledge; with a mask set the
    // acknowledge leaves what was latched since the last read.
    for (int reg : {16, 64}) {
        simboard::latchStatus(0x8F);
        ASSERT_TRUE(simtest::spiWrite(reg, reg == 16 ? 0 : 1));
        EXPECT_EQ(simboard::status(), 0u) << reg;
    }
    ASSERT_TRUE(simtest::spiWrite(8, 0x1));
    simboard::latchStatus(0x8F);
    ASSERT_TRUE(simtest::spiWrite(64, 1));
    EXPECT_EQ(simboard::status(), 0x8Fu);
    ASSERT_TRUE(simtest::spiWrite(16, 0));
    EXPECT_EQ(simboard::status(), 0u);
    ASSERT_TRUE(simtest::spiWrite(8, 0x1FF6F));
    EXPECT_EQ(simtest::spiRead(8), 0x1FF6Fu);
    EXPECT_EQ(simboard::interruptMask(), 0x1FF6Fu);
}

TEST_F(SimAcq, TriggerPositionIsThe13BitOffsetFromThePoppedSamples)
{
    ASSERT_EQ(simboard::pushSamples(numbered(8 + 40)), 48u);  // 8 warm-up samples count
    struct Case {
        int source;
        int64_t index;
        uint32_t highBits;
        int pop;          // samples popped before the read
        uint32_t value;   // SPI 104 + source
    } cases[] = {
        {0, 10, 0, 0, 10},
        {1, 10, 0, 0, 10},
        {2, 4095, 0, 0, 0x0FFF},
        {3, 10, 0, 12, 0x1FFE},              // already popped: negative
        {0, 11, 0, 0, 0x1FFF},               // one behind after the 12 pops above
        {1, 12 + 4096, 0, 0, 0x1000},        // the sign bit: -4096 for the reader
        {2, 13, 0xFFFFE000u, 0, 0xFFFFE001u},  // noise above bit 12
        {3, 12 + 8192 + 5, 0, 0, 5},         // 13 bits only
    };
    for (const auto& k : cases) {
        for (int i = 0; i < k.pop; ++i)
            readSample();
        simboard::setTriggerSample(k.source, k.index, k.highBits);
        EXPECT_EQ(simtest::spiRead(104 + k.source), k.value) << k.source << " " << k.index;
        EXPECT_EQ(simboard::spiRegister(104 + k.source), k.value);
    }
    simboard::clearTriggerSample(0);
    EXPECT_EQ(simtest::spiRead(104), 0u);
    w().write(16, 0x8000);  // numbering restarts, the index stays
    EXPECT_EQ(simtest::spiRead(105), 0x1000u + 12);
}

TEST_F(SimAcq, MacroVernierReadBackIsTheVernierShifted7)
{
    w().command(0x01, 0x1A0, 0);
    EXPECT_EQ(w().readBack(), 0u);
    simboard::setMacroVernier(2, -3);
    simboard::setMacroVernier(1, 300);
    w().command(0x04, 0x1A0, 0);
    EXPECT_EQ(w().readBack(), 0x7FFE80u);
    EXPECT_EQ(static_cast<int16_t>(w().readBack() >> 7), -3) << "the driver's decoding";
    w().command(0x02, 0x1A0, 0);
    EXPECT_EQ(w().readBack() >> 7, 300u);
}

// /dev/uio0 as the interrupt thread uses it.
class Uio {
public:
    explicit Uio(int flags = 0) : fd_(deviceIO().open("/dev/uio0", O_RDWR | flags)) {}
    ~Uio()
    {
        if (fd_ >= 0)
            deviceIO().close(fd_);
    }
    bool enable(uint32_t on = 1) { return deviceIO().write(fd_, &on, 4) == 4; }
    // The event count, or -errno.
    int64_t read()
    {
        uint32_t n = 0;
        if (deviceIO().read(fd_, &n, 4) != 4)
            return -errno;
        return n;
    }

private:
    int fd_;
};

TEST_F(SimAcq, InterruptEventsAreRisingEdgesOfStatusAndMask)
{
    Uio uio(O_NONBLOCK);
    ASSERT_TRUE(uio.enable());
    auto count = [] { return simboard::interruptState().count; };

    simboard::latchStatus(0x1);
    EXPECT_EQ(count(), 0u) << "masked out";
    ASSERT_TRUE(simtest::spiWrite(8, 0x1));
    EXPECT_EQ(count(), 1u) << "the mask uncovering a set bit is an edge";
    EXPECT_EQ(uio.read(), 1);
    EXPECT_FALSE(simboard::interruptState().enabled) << "disabled by the delivery";

    simboard::latchStatus(0x1);
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), -EAGAIN) << "still set: no new edge";
    EXPECT_EQ(simtest::spiRead(16), 0x1u);
    simboard::latchStatus(0x1);
    EXPECT_EQ(uio.read(), 2) << "cleared by the read, set again";

    // A level bit raises one event per rising edge, not one per sample.
    ASSERT_TRUE(simtest::spiWrite(8, 0x40));
    w().write(17, 8);
    ASSERT_TRUE(uio.enable());
    ASSERT_EQ(simboard::pushSamples(numbered(7)), 7u);
    EXPECT_EQ(uio.read(), -EAGAIN);
    ASSERT_EQ(simboard::pushSamples(numbered(1)), 1u);
    EXPECT_EQ(uio.read(), 3);
    ASSERT_TRUE(uio.enable());
    ASSERT_EQ(simboard::pushSamples(numbered(100)), 100u);
    EXPECT_EQ(uio.read(), -EAGAIN);
    for (int i = 0; i < 101; ++i)
        readSample();
    ASSERT_EQ(simboard::pushSamples(numbered(1)), 1u);
    EXPECT_EQ(uio.read(), 4) << "fell below the threshold, rose again";

    // Raised while disabled: pending until the enable.
    ASSERT_TRUE(simtest::spiWrite(8, 0x100));
    simboard::latchStatus(0x100);
    EXPECT_TRUE(simboard::interruptState().pending);
    EXPECT_EQ(uio.read(), -EAGAIN);
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), 5);
    EXPECT_EQ(simboard::interruptState().raised, 5u);

    std::vector<std::string> lines;
    for (const auto& e : simboard::log({simboard::TLogKind::Interrupt}))
        lines.push_back(simboard::describe(e));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "interrupt delivered bits 0x00001 count 1");
    EXPECT_EQ(lines[4], "interrupt pending bits 0x00100 count 4");
}

TEST_F(SimAcq, AcknowledgeDropsThePendingEventAndRearmsWhatIsStillSet)
{
    Uio uio(O_NONBLOCK);
    ASSERT_TRUE(simtest::spiWrite(8, 0x1FF6F));
    simboard::latchStatus(0x200);  // interrupt disabled (never enabled): pending
    EXPECT_TRUE(simboard::interruptState().pending);
    EXPECT_EQ(simtest::spiRead(16), 0x200u);
    ASSERT_TRUE(simtest::spiWrite(64, 1));
    EXPECT_FALSE(simboard::interruptState().pending);
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), -EAGAIN) << "read, then acknowledged before it was delivered";

    // A bit latched after the status read survives the acknowledge and interrupts again.
    simboard::latchAfterNextStatusRead(simboard::kStatusLastBlock);
    simboard::latchStatus(0x100);
    EXPECT_EQ(uio.read(), 1);
    EXPECT_EQ(simtest::spiRead(16), 0x100u);
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), 2) << "latched between the read and now";
    ASSERT_TRUE(simtest::spiWrite(64, 1));
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), 3) << "still latched after the acknowledge";
    EXPECT_EQ(simtest::spiRead(16), simboard::kStatusLastBlock);

    // Samples above the threshold when an end is acknowledged interrupt again.
    ASSERT_EQ(simboard::pushSamples(numbered(20)), 20u);
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), 4);
    simboard::latchStatus(0x100);
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), 5);
    EXPECT_EQ(simtest::spiRead(16), 0x140u);
    ASSERT_TRUE(uio.enable());
    ASSERT_TRUE(simtest::spiWrite(64, 1));
    EXPECT_EQ(uio.read(), 6);
    EXPECT_EQ(simtest::spiRead(16), 0x40u);
}

TEST_F(SimAcq, BlockedReadEndsWithTheInterruptOrWithShutdown)
{
    ASSERT_TRUE(simtest::spiWrite(8, 0xF));
    Uio uio;
    ASSERT_TRUE(uio.enable());
    std::atomic<int64_t> got{0};
    std::thread reader([&] { got = uio.read(); });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(got.load(), 0);
    simboard::latchStatus(0x4);
    reader.join();
    EXPECT_EQ(got.load(), 1);

    ASSERT_TRUE(uio.enable());
    std::thread blocked([&] { got = uio.read(); });
    std::this_thread::sleep_for(20ms);
    simboard::shutdown();
    blocked.join();
    EXPECT_LT(got.load(), 0);
}

TEST_F(SimAcq, FaultsSuppressInterruptsStallTheFifoAndAddBit5ToEnds)
{
    Uio uio(O_NONBLOCK);
    ASSERT_TRUE(uio.enable());
    ASSERT_TRUE(simtest::spiWrite(8, 0x1FFEF));

    simboard::setInterruptsSuppressed(true);
    simboard::latchStatus(0x1);
    EXPECT_EQ(simboard::status(), 0x1u) << "the status still latches";
    EXPECT_EQ(uio.read(), -EAGAIN);
    EXPECT_EQ(simboard::interruptState().raised, 0u);
    simboard::clearFaults();
    EXPECT_EQ(simtest::spiRead(16), 0x1u);

    simboard::setEndWithLastBlock(true);
    simboard::latchStatus(0x400);
    EXPECT_EQ(simtest::spiRead(16), 0x420u);
    simboard::latchStatus(0x80);
    EXPECT_EQ(simtest::spiRead(16), 0x80u) << "only with end bits";
    simboard::clearFaults();
    EXPECT_EQ(uio.read(), 1);

    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), 2) << "the bit-7 event, pending until the enable";

    ASSERT_TRUE(simtest::spiWrite(8, 0));
    ASSERT_EQ(simboard::pushSamples(numbered(3)), 3u);
    simboard::setFifoStalled(true);
    EXPECT_EQ(simboard::pushSamples(numbered(1, 0x100)), 0u);
    EXPECT_EQ(w().read(18), 0);
    EXPECT_EQ(simtest::spiRead(16), 0u) << "no level bit while stalled";
    ASSERT_TRUE(simtest::spiWrite(8, 0x40));
    ASSERT_TRUE(uio.enable());
    EXPECT_EQ(uio.read(), -EAGAIN);
    simboard::setFifoStalled(false);
    EXPECT_EQ(w().read(18), 3) << "held samples wait for the end of the stall";
    EXPECT_EQ(uio.read(), 3) << "the level rises at the end of the stall";
    EXPECT_EQ(readSample(), numbered(1)[0]);
}

} // namespace
