// Frequency meter: the counts read from the simulated board's counters and the period framing
// they give a meter record.
#include "tests/hardware/hwtest.h"

#include "acquisition/measkernel.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frequencemeter.h"
#include "hardware/frontend.h"
#include "hardware/frontend_meter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

mesures framedRecord()
{
    mesures m{};
    m.flags = MEAS_MAX_VALID | MEAS_MIN_VALID;
    m.minCode = 400000;
    m.maxCode = 600000;
    m.periodCount = 7;
    m.otherEdgeCount = 7;
    m.lastCross50 = 1234;
    return m;
}

// Row 0 (3.2e-8 s units) or row 1 (0.033554432 / n) into the marks; time base 18 is 4 us a
// sample in the meter modes.
TEST(MesuresCorrection, FramingFromTheCounts)
{
    std::memcpy(&data, &init_par, sizeof data);
    data.instrumentMode = 128;
    constexpr int32_t kMarks = MEAS_RISE | MEAS_FALL | MEAS_NEXT_RISE | MEAS_NEXT_FALL;
    struct Row {
        int32_t row0, row1;
        uint32_t spread;    // maxCode - minCode
        int result;
        uint32_t start, half, period, periodAndHalf;
        uint16_t periods;
        int32_t end;
        bool marked;
    };
    const Row rows[] = {
        // 5000 x 3.2e-8 = 160 us = 40 samples: 62 whole periods.
        {5000, 0, 200000, 1, 100, 120, 140, 160, 62, 2580, true},
        // Row 1: 0.033554432 / 3355 = 10.0014 us = 2.5 samples.
        {900, 3355, 200000, 1, 100, 101, 102, 103, 999, 2597, true},
        // Row 1 at 0x4000 or more: the fixed framing.
        {900, 20000, 200000, 0, 100, 100, 100, 100, 2500, 2599, true},
        // Row 0 out of range: nothing changes.
        {20000, 0, 200000, 0, 0, 0, 0, 0, 7, 1234, false},
        {1000, 1000, 200000, 0, 0, 0, 0, 0, 7, 1234, false},
        // Less than a division of signal: no marks, no periods.
        {5000, 0, 26207, 0, 0, 0, 0, 0, 0, 1234, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.row0 << " / " << r.row1 << ", spread " << r.spread);
        pseudo_FqPr[0][2] = r.row0;
        pseudo_FqPr[1][2] = r.row1;
        mesures m = framedRecord();
        m.maxCode = m.minCode + r.spread;
        EXPECT_EQ(MesuresCorrection(&m, 2, 18), r.result);
        EXPECT_EQ((m.flags & kMarks) == kMarks, r.marked);
        EXPECT_EQ(m.periodCount, r.periods);
        EXPECT_EQ(m.lastCross50, r.end);
        if (!r.marked)
            continue;
        EXPECT_EQ(m.rise10, r.start);
        EXPECT_EQ(m.rise90, r.start);
        EXPECT_EQ(m.fall50, r.half);
        EXPECT_EQ(m.nextRise50, r.period);
        EXPECT_EQ(m.nextFall50, r.periodAndHalf);
        if (r.result == 1) {
            EXPECT_EQ(m.otherEdgeCount, r.periods);
        }
    }
    pseudo_FqPr[0][2] = pseudo_FqPr[1][2] = 0;
}

class FrequencemeterTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        setPauseHook([this](int ms) { pauses.push_back(ms); });
        cal = calibration{};
        FrontEndInit(&cal);
        ConfigurationMultimetre(&cal, 0xF);
        for (uint16_t ch = 0; ch < 4; ++ch)
            ConfigurationVoltmetre(ch, &cal, 1, 1);
        AlimentationVoies(0xF);
        std::memset(pseudo_FqPr, 0, sizeof pseudo_FqPr);
        gammeIndex = 1;
        pauses.clear();
    }
    void TearDown() override
    {
        setPauseHook(nullptr);
        o_g_frequenceMeterReady.store(0);
        HardwareTest::TearDown();
    }

    static simboard::TSignal sine(double hz)
    {
        simboard::TSignal s;
        s.shape = "sine";
        s.vpp = 2.0;
        s.frequency = hz;
        return s;
    }

    // A counter start (the word of the next row), the counting time, the timer's expiry, the read.
    static void count()
    {
        FrequencemeterStart(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        o_g_frequenceMeterReady.store(2);
        FrequencemeterRead();
    }

    calibration cal{};
    std::vector<int> pauses;
};

// 10 kHz gives 3125 units of 3.2e-8 s (word 13, row 0); 100 kHz 3355 with word 17 (row 1) and a
// row-0 count below 1000, stored as 0.
TEST_F(FrequencemeterTest, CountsOfBothRanges)
{
    simboard::setSignal(0, sine(10000.0));
    count();
    EXPECT_EQ(gammeIndex, 0);
    EXPECT_EQ(simboard::counterRange(0), 2);
    EXPECT_NEAR(pseudo_FqPr[0][0], 3125, 1);
    EXPECT_EQ(o_g_frequenceMeterReady.load(), 0);

    simboard::setSignal(0, sine(100000.0));
    count();
    EXPECT_EQ(simboard::counterRange(0), 3);
    EXPECT_NEAR(pseudo_FqPr[1][0], 3355, 1);
    count();
    EXPECT_EQ(pseudo_FqPr[0][0], 0);

    // Channels 4 down to 1, each addressed alone.
    const size_t from = simboard::serialCommands().size();
    count();
    std::vector<uint16_t> masks;
    const auto commands = simboard::serialCommands();
    for (size_t i = from; i < commands.size(); ++i)
        if (commands[i].opcode == 0x1CF)
            masks.push_back(commands[i].mask);
    EXPECT_EQ(masks, (std::vector<uint16_t>{8, 4, 2, 1}));
}

// Below 1000 or above 12288: 0; in range, stored only with a quality above 32.
TEST_F(FrequencemeterTest, StoreRules)
{
    const struct {
        double hz;
        int quality;   // stuck value, -1 the board's own
        bool silent;
        int32_t expected;
    } rows[] = {
        {10000.0, -1, false, 3125}, {10000.0, 32, false, 777}, {10000.0, 33, false, 3125},
        {10000.0, -1, true, 0},     {1000.0, -1, false, 0},    {2000.0, -1, false, 0},
        {3000.0, -1, false, 10416},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.hz << " Hz, quality " << r.quality);
        simboard::setSignal(1, sine(r.hz));
        simboard::setQualityStuck(1, r.quality);
        simboard::setCounterSilent(1, r.silent);
        gammeIndex = 1;
        pseudo_FqPr[0][1] = 777;
        count();
        EXPECT_NEAR(pseudo_FqPr[0][1], r.expected, 1);
    }
}

// Without a timer the read gives up after a second of 40 ms waits and keeps the counts.
TEST_F(FrequencemeterTest, BoundedWaitWithoutTimer)
{
    ASSERT_EQ(o_g_chipAcqDevDescriptor.frequencemeterTimer, timer_t());
    pseudo_FqPr[1][3] = 4444;
    FrequencemeterStart(0);
    ASSERT_EQ(o_g_frequenceMeterReady.load(), 1);
    FrequencemeterRead();
    EXPECT_EQ(o_g_frequenceMeterReady.load(), 0);
    EXPECT_EQ(pseudo_FqPr[1][3], 4444);
    int total = 0;
    for (int ms : pauses) {
        EXPECT_EQ(ms, 40);
        total += ms;
    }
    EXPECT_EQ(total, 1000);

    // Without a start: nothing at all.
    pauses.clear();
    FrequencemeterRead();
    EXPECT_TRUE(pauses.empty());
}

} // namespace
