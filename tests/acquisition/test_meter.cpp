// Multimeter cycle parts on scripted records: range requests, time-base choice, overload marking
// and the scale correction from the offset points.
#include "acquisition/acqctrl.h"
#include "acquisition/measkernel.h"
#include "acquisition/meter.h"
#include "core/gest_db.h"
#include "core/requests.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr uint32_t kZero = 524256;

mesures extremes(uint32_t lo, uint32_t hi, uint8_t overrange = 0)
{
    mesures m{};
    m.flags = MEAS_MAX_VALID | MEAS_MIN_VALID;
    m.minCode = lo;
    m.maxCode = hi;
    m.overrange = overrange;
    return m;
}

class MeterAutorangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 128;
        data.meterFunction = 0;
        data.meterAutoRangeCh1 = data.meterAutoRangeCh2 = data.meterAutoRangeCh3 = data.meterAutoRangeCh4 = 1;
        RTAC_id = static_cast<pthread_t>(0x47A1);
        std::memset(table_, 0, sizeof table_);
        setupLinks().measResultsPtr = table_;
        requests();
    }
    void TearDown() override { setupLinks().measResultsPtr = nullptr; }

    static std::vector<pipe_dial> requests()
    {
        std::vector<pipe_dial> out;
        pipe_dial r{};
        while (o_g_consMessageBox.peek(&r)) {
            o_g_consMessageBox.receive(&r, true, 1);
            out.push_back(r);
        }
        return out;
    }

    mesures table_[10];
};

// Windows around the centre by range 3 (inclusive bounds), overload up, top range, range 0.
TEST_F(MeterAutorangeTest, WindowsOverloadAndLimits)
{
    const struct {
        int16_t range;
        mesures record;
        int expected;  // new range, -1: no request
    } rows[] = {
        {3, extremes(524244, 524268), 0},   {3, extremes(524243, 524268), 0},
        {3, extremes(524126, 524386), 0},   {3, extremes(524125, 524386), 1},
        {3, extremes(522947, 525565), 1},   {3, extremes(522946, 525565), 2},
        {3, extremes(511153, 537359), 2},   {3, extremes(511152, 537359), -1},
        {1, extremes(524250, 524260), 0},   {0, extremes(524250, 524260), -1},
        {1, extremes(0, 0, 1), 2},          {3, extremes(0, 0, 1), -1},
        {2, mesures{}, -1},
    };
    for (const auto& r : rows) {
        data.meterRangeCh3 = r.range;
        table_[2] = r.record;
        const int result = autorange(0x4, 0, &data);
        const auto posted = requests();
        SCOPED_TRACE(testing::Message() << "range " << r.range << " lo " << r.record.minCode);
        if (r.expected < 0) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(posted.empty());
            continue;
        }
        EXPECT_EQ(result, 1);
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
        EXPECT_EQ(posted[0].code, param::meterRangeCh3);
        EXPECT_EQ(posted[0].intValue, r.expected);
        EXPECT_EQ(posted[0].senderId, senderValue(RTAC_id));
    }
}

// Channels 4 down to 1; the result is the last channel's; resistance ranges go to 6; other
// functions, the auto switch off and mode 130 post nothing.
TEST_F(MeterAutorangeTest, ChannelOrderFunctionsAndMode130)
{
    for (int n = 0; n < 4; ++n)
        table_[n] = extremes(0, 0, 1);
    data.meterRangeCh1 = data.meterRangeCh2 = data.meterRangeCh4 = 1;
    data.meterAutoRangeCh3 = 0;
    EXPECT_EQ(autorange(0xF, 0, &data), 1);
    auto posted = requests();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].code, param::meterRangeCh4);
    EXPECT_EQ(posted[1].code, param::meterRangeCh2);
    EXPECT_EQ(posted[2].code, param::meterRangeCh1);

    // Channel 1 at the top: the result follows channel 1 although channel 2 ranged.
    data.meterRangeCh1 = 3;
    EXPECT_EQ(autorange(0x3, 0, &data), 0);
    EXPECT_EQ(requests().size(), 1u);

    data.meterFunction = 1;
    data.ohmRange = 5;
    EXPECT_EQ(autorange(0x1, 1, &data), 1);
    posted = requests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, param::ohmRange);
    EXPECT_EQ(posted[0].intValue, 6);
    data.ohmRange = 6;
    EXPECT_EQ(autorange(0x1, 1, &data), 0);
    EXPECT_EQ(autorange(0x1, 4, &data), 0) << "no auto-range for the diode";
    EXPECT_TRUE(requests().empty());

    data.instrumentMode = 130;
    data.meterRangeCh2 = 0;
    EXPECT_EQ(autorange(0xF, 0, &data), 0);
    EXPECT_TRUE(requests().empty());
}

TEST(MeterCycleParts, TimebaseSelect)
{
    const struct {
        uint16_t periods;
        mesures record;
        unsigned short expected;
    } rows[] = {
        {40, mesures{}, 21},  {49, mesures{}, 21},  {64, mesures{}, 18}, {100, mesures{}, 35},
        {64, extremes(524000, 550208), 18},  {100, extremes(524000, 550208), 18},
        {100, extremes(524000, 550209), 35},  {3150, mesures{}, 35},  // f = 0: below 3
        {90, mesures{}, 35},  // f = 0 of 35.0
        {70, mesures{}, 35},  // 45.0: f = 0
        {80, mesures{}, 18},  // 39.375: f = 37
    };
    for (const auto& r : rows) {
        mesures set[6] = {};
        set[1] = r.record;
        set[1].periodCount = r.periods;
        EXPECT_EQ(timebaseSelect(1, set), r.expected) << r.periods << " periods, spread "
                                                      << (r.record.maxCode - r.record.minCode);
    }
}

// Bounds 524256 -+ 144144 / gain; gain 0, negative or not finite counts as 1.
TEST(MeterCycleParts, CheckOverflow)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        uint32_t lo, hi;
        double gain;
        bool valid;
        uint8_t overrange;
    } rows[] = {
        {380113, 668399, 1.0, true, 0},  {380112, 600000, 1.0, false, 1}, {500000, 668400, 1.0, false, 1},
        {668400, 668400, 1.0, false, 1}, {380112, 380112, 1.0, false, 1}, {452184, 596328, 2.0, false, 1},
        {452185, 596327, 2.0, true, 0},  {400000, 600000, 0.0, true, 0},  {400000, 600000, nan, true, 0},
        {400000, 600000, -3.0, true, 0}, {380112, 600000, INFINITY, false, 1},
    };
    for (const auto& r : rows) {
        mesures m = extremes(r.lo, r.hi);
        checkOverflow(&m, r.gain);
        EXPECT_EQ(m.flags != 0, r.valid) << r.lo << ".." << r.hi << " gain " << r.gain;
        EXPECT_EQ(m.overrange, r.overrange) << r.lo << ".." << r.hi << " gain " << r.gain;
    }
}

TEST(MeterCycleParts, CoeffAdjustAndItsGuard)
{
    acq_ctrl ctrl{};
    for (int n = 0; n < 4; ++n) {
        ctrl.probeGain[n] = 1.0;
        ctrl.meterFactorA[n] = 1.0;
        ctrl.span[n] = 111;
        ctrl.zero[n] = 222;
    }
    float points[3] = {393216.0f, 655296.0f, 524256.0f};
    EXPECT_TRUE(CoeffAdjust(2, &ctrl, points));
    EXPECT_EQ(ctrl.span[2], 262079);
    EXPECT_EQ(ctrl.zero[2], 393215);

    // The simulated board's edges: the mapping that puts them back at 393216 and 655296.
    float board[3] = {409088.0f - 191.95313f, 639488.0f - 127.96875f, 524288.0f};
    EXPECT_TRUE(CoeffAdjust(1, &ctrl, board));
    const auto code = [&](uint32_t raw) {
        return ctrl.zero[1] + static_cast<int32_t>((uint64_t{raw} * 262144u) / uint32_t(ctrl.span[1])) * 64;
    };
    EXPECT_NEAR(code(248), 393216, 100);
    EXPECT_NEAR(code(3848), 655296, 100);
    EXPECT_NEAR(code(2048), 524256, 70);

    // Equal, reversed or far-off points change nothing.
    const float bad[][3] = {{524256, 524256, 524256}, {655296, 393216, 524256}, {0, 1e6f, 524256}, {0, NAN, 0}};
    for (const auto& p : bad) {
        float q[3] = {p[0], p[1], p[2]};
        EXPECT_FALSE(CoeffAdjust(3, &ctrl, q)) << p[0] << " " << p[1];
        EXPECT_EQ(ctrl.span[3], 111);
        EXPECT_EQ(ctrl.zero[3], 222);
    }
    ctrl.probeGain[3] = 0.0;
    EXPECT_FALSE(CoeffAdjust(3, &ctrl, points));
    EXPECT_FALSE(CoeffAdjust(4, &ctrl, points));
}

} // namespace
