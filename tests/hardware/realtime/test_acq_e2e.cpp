// Whole acquisitions on the simulated board: set-up commands, arming and read-outs against the
// acquisition engine, with the front end programmed directly through the scaling registers.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/drvtest.h"
#include "tests/hardware/realtime/realtime_support.h"

#include "acquisition/acqctrl.h"
#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "hardware/scaling.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {
using namespace std::chrono_literals;
using realtime::copyBlock;
using realtime::setDetail;
using realtime::TPacer;

// After each step the driver gets up to 100 ms, checked every millisecond, then 100 us more.
constexpr realtime::TPacing kPacing{std::chrono::milliseconds(1), std::chrono::microseconds(100), true};

// Parameter numbers of the front-end chip used here.
enum : int {
    P_AC = 3,
    P_GROUND = 13,
    P_OFFSET = 18,
    P_LEVEL = 19,
    P_TRIGGER_OFF = 40,
    P_TRIGGER_RISING = 41,
};

struct TReadOut {
    int events = 0;        // last answer
    int reads = 0;
    bool framed = false;   // a block with 0x400 was handed out
    int32_t ringStart = 0;
    uint32_t newSamples = 0;
    std::vector<simboard::TSample> block;   // the framed block, copied out of the ring
    std::vector<double> completeAtMs;       // wall time of each record complete
};

// Rising crossings of code 2048 in a channel of a block.
std::vector<size_t> risingCrossings(const std::vector<simboard::TSample>& block, int ch)
{
    std::vector<size_t> out;
    for (size_t i = 1; i < block.size(); ++i)
        if (block[i - 1][ch] < 2048 && block[i][ch] >= 2048)
            out.push_back(i);
    return out;
}
} // namespace

class AcqEndToEndTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        us_g_swBandwidth.store(3);
        ASSERT_EQ(ChipAcqDrv(), 0);
        ASSERT_TRUE(ChipAcqBoardPresent());
        CmdeLogique(CMDE_CHANNEL_POWER, 0x1);  // the others read mid-scale
        setDetail(SYNCHRO_NONE);
    }
    void TearDown() override
    {
        us_g_swBandwidth.store(0);
        setDetail(SYNCHRO_STOP);
        simboard::shutdown();
        EXPECT_TRUE(waitFor([] { return threadsNamed("tItAcq") == 0; }));
        HardwareTest::TearDown();
    }

    static void speed(double factor)
    {
        simboard::updateScenario([factor](simboard::TScenario& s) { s.speedFactor = factor; });
    }

    // Channel 1 at sensitivity row 7 (0.5 V/div), centred, comparator at 0 V on rising edges.
    static void frontEnd(int offsetP18 = 512, int levelP19 = 511)
    {
        uint16_t params[kScalingParams];
        ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, params);
        const uint16_t row7[] = {13, 6, 4, 1, 1};  // p24, p27, p35, p33, p34
        const int rowParams[] = {24, 27, 35, 33, 34};
        for (int i = 0; i < 5; ++i)
            params[rowParams[i]] = row7[i];
        params[P_OFFSET] = static_cast<uint16_t>(offsetP18);
        params[P_LEVEL] = static_cast<uint16_t>(levelP19);
        params[P_TRIGGER_OFF] = 0;
        params[P_TRIGGER_RISING] = 1;
        params[P_GROUND] = 0;
        params[P_AC] = 0;
        ASSERT_EQ(ScalingWrite(0, params, 0, SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER), 0);
    }

    // A scope record on channel 1 with an edge trigger on it, as the acquisition record gives
    // it for time base t and sweep offset o.
    static acq_ctrl scopeRecord(uint16_t t, int32_t sweepOffset, uint16_t triggerMode)
    {
        acq_ctrl c{};
        c.acqMode = 16;
        c.timeBase = t;
        c.cycleChannels = 0x1;
        c.triggerSource = 0;
        c.triggerType = 0;
        c.triggerMode = triggerMode;
        c.holdoff = 15000;
        c.acqFlags = t <= 17 ? 0x20 : t <= 24 ? 0x90 : 0x80;
        // Scale of index 23 over the scale of t, for the middle time bases 18..24.
        static const int32_t kMiddleDecimation[] = {40, 20, 8, 4, 2, 1, 1};
        int32_t d = 1;
        if (t >= 18 && t <= 24)
            d = kMiddleDecimation[t - 18];
        c.decimation = static_cast<uint16_t>(d);
        c.triggerOffset = sweepOffset / d;
        c.preTrigger = static_cast<uint32_t>(sweepOffset < 0 ? -sweepOffset : 0);
        c.postTrigger = static_cast<uint32_t>(sweepOffset + (t <= 17 && sweepOffset >= 0 ? 102400 : 100000));
        return c;
    }

    // Set-up commands 0 and 1 as the scope cycle runs them.
    static void setUpScope(acq_ctrl* c)
    {
        ChipAcqIoctl(CHIPACQ_SCOPE, c);
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        ChipAcqIoctl(CHIPACQ_TIMEBASE, c);
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
    }

    // Reads until the record is complete, a stop or an end, or wallMs ran out.
    static TReadOut readUntilComplete(acq_ctrl* c, int wallMs)
    {
        TReadOut r;
        const auto start = std::chrono::steady_clock::now();
        const auto deadline = start + std::chrono::milliseconds(wallMs);
        while (std::chrono::steady_clock::now() < deadline) {
            r.events = ChipAcqRead(c, 200);
            ++r.reads;
            if (r.events == 8192 || r.events == 4096)
                break;
            if ((r.events & 0x400) && !r.framed) {
                r.framed = true;
                r.ringStart = c->ringStart;
                r.newSamples = c->newSamples;
                r.block = copyBlock(c->ringStart, c->newSamples);
            }
            if (r.events & 0x10) {
                r.completeAtMs.push_back(
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
                break;
            }
        }
        return r;
    }
};

TEST_F(AcqEndToEndTest, MiddleTimeBaseSineFramedAroundItsTrigger)
{
    frontEnd();
    TPacer pacer(2000000, kPacing);  // 500 samples a step
    acq_ctrl c = scopeRecord(21, -50000, 1);
    ASSERT_EQ(c.decimation, 4);
    setUpScope(&c);
    ASSERT_EQ(ChipAcqWrite(&c), 0);
    const TReadOut r = readUntilComplete(&c, 5000);
    ASSERT_TRUE(r.events & 0x10) << "events " << r.events;
    ASSERT_TRUE(r.framed);
    ASSERT_EQ(r.newSamples, 25000u);

    uint16_t lo = 4095, hi = 0;
    for (const auto& s : r.block) {
        lo = std::min(lo, s[0]);
        hi = std::max(hi, s[0]);
        EXPECT_NE(s[1], 0x0FFF) << "a warm-up sample reached the ring";
    }
    EXPECT_NEAR(lo, 1148, 1148 * 0.01);
    EXPECT_NEAR(hi, 2947, 2947 * 0.01);

    const std::vector<size_t> rising = risingCrossings(r.block, 0);
    ASSERT_GE(rising.size(), 90u);
    for (size_t i = 1; i < rising.size(); ++i)
        EXPECT_NEAR(double(rising[i] - rising[i - 1]), 250.0, 2.0);
    const size_t nearest = *std::min_element(rising.begin(), rising.end(), [](size_t a, size_t b) {
        return std::labs(long(a) - 12500) < std::labs(long(b) - 12500);
    });
    EXPECT_LE(std::labs(long(nearest) - 12500), 2);
}

TEST_F(AcqEndToEndTest, SlowTimeBaseStreamsBlocksFromTheFramedTrigger)
{
    frontEnd();
    TPacer pacer(50000000, kPacing);  // 1000 samples a step
    acq_ctrl c = scopeRecord(26, -50000, 1);  // 50 us a sample
    setUpScope(&c);
    ASSERT_EQ(ChipAcqWrite(&c), 0);
    std::vector<simboard::TSample> record;
    int events = 0;
    int blocks = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        events = ChipAcqRead(&c, 200);
        if (events == 8192 || events == 4096)
            break;
        if (events != 0) {
            if (blocks++ == 0) {
                ASSERT_TRUE(events & 0x400) << "the first block is the framed one";
            }
            EXPECT_LE(c.newSamples, 100000u);
            const auto block = copyBlock(c.ringStart, c.newSamples);
            record.insert(record.end(), block.begin(), block.end());
        }
        if (events & 0x10)
            break;
    }
    ASSERT_TRUE(events & 0x10) << "events " << events;
    EXPECT_GT(blocks, 1);
    // 50,000 samples before the trigger, the trigger sample and the post-trigger count after it,
    // however long the blocks a late reader takes (the post phase counts from the trigger sample).
    EXPECT_NEAR(double(record.size()), 100001.0, 2.0);
    const std::vector<size_t> rising = risingCrossings(record, 0);
    ASSERT_FALSE(rising.empty());
    const size_t nearest = *std::min_element(rising.begin(), rising.end(), [](size_t a, size_t b) {
        return std::labs(long(a) - 50000) < std::labs(long(b) - 50000);
    });
    EXPECT_LE(std::labs(long(nearest) - 50000), 2);
    for (const auto& sample : record)
        ASSERT_NE(sample[1], 0x0FFF) << "a warm-up sample reached the ring";
}

TEST_F(AcqEndToEndTest, NormalModeWithoutTriggerWaitsAndAStopEndsIt)
{
    speed(4);
    frontEnd();
    simboard::setNoTrigger(true);
    acq_ctrl c = scopeRecord(21, -50000, 1);
    setUpScope(&c);
    ASSERT_EQ(ChipAcqWrite(&c), 0);
    const TReadOut waiting = readUntilComplete(&c, 400);
    EXPECT_FALSE(waiting.events & 0x12);
    std::thread stopper([] {
        std::this_thread::sleep_for(50ms);
        ChipAcqIoctl(CHIPACQ_STOP, nullptr);
    });
    int result = 0;
    while ((result = ChipAcqRead(&c)) != 8192 && result != 4096 && !(result & 0x10)) {
    }
    stopper.join();
    EXPECT_EQ(result, 8192);
}

TEST_F(AcqEndToEndTest, AutoTriggerOnAFlatInputAfter500ThenAfter80Ms)
{
    simboard::TSignal flat;
    flat.shape = "dc";
    simboard::setSignal(0, flat);
    frontEnd(512, 300);  // the level far above the input: the comparator never rises
    acq_ctrl c = scopeRecord(21, -50000, 0);
    setUpScope(&c);

    // The board's own times (speed 1): from its start to its trigger, the pre-trigger fill (55 ms)
    // and the auto-trigger timer. Judged on the board's clock, not on when the reader saw the end:
    // a loaded host delays the reader by hundreds of milliseconds, never the timer's choice.
    std::vector<double> triggerMs;
    for (int acquisition = 0; acquisition < 2; ++acquisition) {
        simboard::clearLog();
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        const TReadOut r = readUntilComplete(&c, 5000);
        ASSERT_TRUE(r.events & 0x10) << "acquisition " << acquisition << " events " << r.events;
        EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 1);
        uint64_t startNs = 0, triggerNs = 0;
        for (const simboard::TLogEntry& e : simboard::log({simboard::TLogKind::Engine})) {
            if (e.text == "start" && startNs == 0)
                startNs = e.timeNs;
            if (e.text.rfind("trigger ", 0) == 0 && triggerNs == 0)
                triggerNs = e.timeNs;
        }
        ASSERT_NE(startNs, 0u);
        ASSERT_GT(triggerNs, startNs) << "acquisition " << acquisition;
        triggerMs.push_back(static_cast<double>(triggerNs - startNs) / 1e6);
    }
    // The first waits 500 ms after the fill; the next only 80 ms, far below 500.
    EXPECT_GT(triggerMs[0], 500.0);
    EXPECT_GT(triggerMs[1], 80.0);
    EXPECT_LT(triggerMs[1], 500.0);
}

// A remote reading holds the acquisition between two cycles, which stops the one under way. A
// client asking every 300 ms (sooner than the 500 ms auto-trigger delay) must still get records
// of a flat input: the hold does not start the wait again.
TEST_F(AcqEndToEndTest, HoldsSoonerThanTheAutoTriggerDelayStillLetRecordsComplete)
{
    speed(4);  // the fills take a few milliseconds of wall time; the auto-trigger timer does not
    simboard::TSignal flat;
    flat.shape = "dc";
    simboard::setSignal(0, flat);
    frontEnd(512, 300);  // the comparator never rises
    acq_ctrl c = scopeRecord(21, -50000, 0);
    setUpScope(&c);

    const auto start = std::chrono::steady_clock::now();
    int held = 0;
    int events = 0;
    for (; held < 8 && !(events & 0x10); ++held) {
        setDetail(SYNCHRO_RESUME);
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        // Read-outs for 300 ms, then the hold.
        const auto holdAt = std::chrono::steady_clock::now() + 300ms;
        for (auto now = std::chrono::steady_clock::now(); now < holdAt && !(events & 0x10);
             now = std::chrono::steady_clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(holdAt - now).count();
            events = ChipAcqRead(&c, static_cast<int32_t>(std::max<int64_t>(left, 1)));
        }
        if (events & 0x10)
            break;
        setDetail(SYNCHRO_STOP);
        ASSERT_EQ(ChipAcqRead(&c), 8192);
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(events & 0x10) << "no record after " << held << " holds in " << ms << " ms";
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 1);
    EXPECT_GE(held, 1) << "the first acquisition was to be held before its auto trigger";
    EXPECT_GT(ms, 500.0) << "the auto trigger still waits its whole delay";
}

TEST_F(AcqEndToEndTest, EquivalentTimeRecordAtTimeBase15)
{
    frontEnd();
    TPacer pacer(1000000, kPacing);
    acq_ctrl c = scopeRecord(15, 0, 0);
    setUpScope(&c);
    ASSERT_EQ(ChipAcqWrite(&c), 0);
    const TReadOut r = readUntilComplete(&c, 5000);
    ASSERT_TRUE(r.events & 0x10) << "events " << r.events;
    EXPECT_TRUE(r.framed);
    EXPECT_EQ(r.ringStart, 0);
    EXPECT_EQ(r.newSamples, 2500u);
    // The flushed record went from ring position 0: the vernier entry, then the block headers.
    EXPECT_EQ(l_g_signalsBufferWritePtr, 4 * 2689);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(tus_l_signalsBuffer[ch], simboard::etRecord().vernierCode);
    EXPECT_EQ(tus_l_signalsBuffer[4], 0);
}

TEST_F(AcqEndToEndTest, MeterAndHarmonicAcquisitionsCompleteByTheLastBlock)
{
    frontEnd();
    TPacer pacer(10000000, kPacing);
    struct Row {
        const char* what;
        uint16_t mode;
        uint16_t flags;
        int32_t command;
        uint16_t timeBase;
        uint32_t pre, post;
    };
    const Row rows[] = {
        {"meter at time base 21", ACQ_MODE_METER, ACQ_FLAGS_METER, CHIPACQ_METER, 21, 0, 20000},
        {"harmonic", ACQ_MODE_HARMONIC, ACQ_FLAGS_HARMONIC, CHIPACQ_HARMONIC, 21, 0, 20000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        acq_ctrl c{};
        c.acqMode = row.mode;
        c.acqFlags = row.flags;
        c.timeBase = row.timeBase;
        c.cycleChannels = 0x1;
        c.decimation = 1;
        c.preTrigger = row.pre;
        c.postTrigger = row.post;
        c.triggerMode = 0;
        ChipAcqIoctl(CHIPACQ_SCOPE, nullptr);
        if (row.command == CHIPACQ_METER) {
            pthread_mutex_lock(&o_g_synchroAcqMutex);
            ChipAcqIoctl(row.command, &c);
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
        } else {
            ChipAcqIoctl(row.command, &c);
        }
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        uint32_t samples = 0;
        int events = 0;
        bool warmUp = false;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            events = ChipAcqRead(&c, 200);
            if (events == 8192 || events == 4096)
                break;
            if (events != 0) {
                for (const auto& s : copyBlock(c.ringStart, c.newSamples))
                    warmUp |= s[1] == 0x0FFF;
                samples += c.newSamples;
            }
            if (events & 0x10)
                break;
        }
        EXPECT_TRUE(events & 0x10) << "events " << events;
        EXPECT_FALSE(warmUp);
        EXPECT_GT(samples, 0u);
        EXPECT_TRUE(simboard::engineState().lastBlock);
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        setDetail(SYNCHRO_NONE);
    }
}

TEST_F(AcqEndToEndTest, StalledFifoHoldsTheReadOutAndASilentChannelReadsItsCode)
{
    frontEnd();
    {
        // Nothing comes out of a stalled FIFO: the bounded read says "not yet", a stop ends it.
        speed(4);
        simboard::setFifoStalled(true);
        acq_ctrl c = scopeRecord(21, -50000, 1);
        setUpScope(&c);
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        EXPECT_EQ(ChipAcqRead(&c, 300), 0);
        EXPECT_EQ(c.newSamples, 0u);
        ChipAcqIoctl(CHIPACQ_STOP, nullptr);
        EXPECT_EQ(ChipAcqRead(&c), 8192);
        simboard::setFifoStalled(false);
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        setDetail(SYNCHRO_NONE);
    }
    simboard::setSilentChannel(1, 1000);
    TPacer pacer(2000000, kPacing);
    acq_ctrl c = scopeRecord(21, -50000, 1);
    setUpScope(&c);
    ASSERT_EQ(ChipAcqWrite(&c), 0);
    const TReadOut r = readUntilComplete(&c, 5000);
    ASSERT_TRUE(r.events & 0x10) << "events " << r.events;
    ASSERT_EQ(r.block.size(), 25000u);
    for (const auto& s : r.block)
        ASSERT_EQ(s[1], 1000);
    EXPECT_FALSE(risingCrossings(r.block, 0).empty());  // channel 1 still triggers and moves
}
