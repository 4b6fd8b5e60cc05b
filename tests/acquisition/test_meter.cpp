// Multimeter cycle parts on scripted records: range requests, time-base choice, overload marking
// and the scale correction from the offset points.
#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/acqctrl.h"
#include "acquisition/measkernel.h"
#include "acquisition/meter.h"
#include "core/command.h"
#include "hardware/frequencemeter.h"
#include "core/gest_db.h"
#include "core/requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
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
        {0, mesures{}, 21},   {3, mesures{}, 21},   {4, mesures{}, 35},  // a few whole periods at 5.04 us
        {23, mesures{}, 35},  {49, mesures{}, 35},  {64, mesures{}, 18}, {100, mesures{}, 35},
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

// One pass's processing and publication on prepared samples: the set chosen per channel, its
// factor and range in the published record, the resistance formula, and the range step's hold.
class MeterPassTest : public MeterAutorangeTest {
protected:
    void SetUp() override
    {
        MeterAutorangeTest::SetUp();
        TAcquisition** links[4] = {&setupLinks().acqCh1, &setupLinks().acqCh2, &setupLinks().acqCh3,
                                   &setupLinks().acqCh4};
        for (int n = 0; n < 4; ++n) {
            traces_[n] = std::make_unique<TAcquisition>(static_cast<unsigned short>(n));
            *links[n] = traces_[n].get();
        }
        ctrl_.shownChannels = ctrl_.acqChannels = 0xF;
        for (int n = 0; n < 4; ++n)
            ctrl_.probeGain[n] = 1.0;
        std::memset(pseudo_FqPr, 0, sizeof pseudo_FqPr);
    }
    void TearDown() override
    {
        for (TAcquisition** l : {&setupLinks().acqCh1, &setupLinks().acqCh2, &setupLinks().acqCh3, &setupLinks().acqCh4})
            *l = nullptr;
        MeterAutorangeTest::TearDown();
    }
    // A sine of `amplitude` codes and `period` samples around the centre (0: constant `amplitude`).
    void fill(int n, double amplitude, double period)
    {
        for (uint32_t i = 0; i < 2500; ++i)
            traces_[n]->samples[i] = period > 0
                                         ? static_cast<uint32_t>(std::lround(kZero + amplitude * std::sin(2 * M_PI * i / period)))
                                         : static_cast<uint32_t>(amplitude);
    }
    void pass()
    {
        for (unsigned short tb : {18, 35, 21})
            MeterMeasureSet(&ctrl_, data, tb);
        MeterPublish(&ctrl_);
    }

    std::unique_ptr<TAcquisition> traces_[4];
    acq_ctrl ctrl_{};
};

TEST_F(MeterPassTest, PublicationFactorsAndRange)
{
    fill(0, 550000, 0);      // DC: no periods, time base 21
    fill(1, 50000, 20);      // 114 periods (27.63 of 4 us units): time base 18
    fill(2, 50000, 25.3);    // 90 periods: time base 35
    fill(3, 50000, 20);      // the filter flag: always time base 21
    traces_[3]->filterKind = 1;
    for (int n = 0; n < 4; ++n)
        traces_[n]->meterRange = static_cast<uint16_t>(n);
    pass();
    const float factors[4] = {kMeterFactor21, kMeterFactor18, kMeterFactor35, kMeterFactor21};
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(table_[n].extraValue, factors[n]) << n << ", periods " << table_[n].periodCount;
        EXPECT_EQ(table_[n].capaWord, n) << n;
        EXPECT_EQ(table_[n].flags & 3, 3) << n;
    }
    EXPECT_NEAR(table_[0].mean, 550000.0, 1.0);
    EXPECT_EQ(table_[8].flags, 0) << "no power function";
    EXPECT_EQ(table_[8].capaWord, 0);

    // Without channel 1 the power records are marked invalid.
    table_[8].flags = 0x3;
    table_[8].overrange = 1;
    ctrl_.shownChannels = 0xE;
    pass();
    EXPECT_EQ(table_[8].flags, 0);
    EXPECT_EQ(table_[8].overrange, 0);
}

// Resistance: 655296 + (393216 - average) / 2, at least the centre; at or below the top an
// overload.
TEST_F(MeterPassTest, ResistanceFormula)
{
    data.meterFunction = 1;
    ctrl_.shownChannels = 0x1;
    MeterCycleStart(data);
    const struct {
        uint32_t code;
        double mean;
        int32_t flags;
        uint8_t overrange;
    } rows[] = {
        {501324, 601242.0, 0x2003, 0}, {655296, 524256.0, 0x2003, 0}, {700000, 524256.0, 0x2003, 0},
        {393217, 655295.5, 0x2003, 0}, {393216, 0.0, 0, 1},           {380000, 0.0, 0, 1},
    };
    for (const auto& r : rows) {
        fill(0, r.code, 0);
        pass();
        EXPECT_EQ(table_[0].flags, r.flags) << r.code;
        EXPECT_EQ(table_[0].overrange, r.overrange) << r.code;
        if (r.flags) {
            EXPECT_DOUBLE_EQ(table_[0].mean, r.mean) << r.code;
            EXPECT_EQ(table_[0].maxCode, static_cast<uint32_t>(r.mean)) << r.code;
            EXPECT_EQ(table_[0].periodCount, 0);
        }
    }
}

// A power function over channels 1 and 4: its record takes channel 1's edges and gets its own
// means; a source set the cycle does not know marks the power records invalid.
TEST_F(MeterPassTest, PowerRecordsFollowTheSourceChannels)
{
    static uint32_t* const buffers = new uint32_t[4 * TAcquisition::kNormalisedSamples];
    uint32_t** voies[4] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                           &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee};
    for (int n = 0; n < 4; ++n)
        *voies[n] = buffers + n * TAcquisition::kNormalisedSamples;
    TAcquisition power(9);
    std::string sum = "ch1+ch4", other = "ch2+ch3";
    TFonction a(0, &sum[0]), b(1, &other[0]);
    ASSERT_TRUE(a.IsDefined());
    setupLinks().powerAcq = &power;
    setupLinks().powerFunctionA = &a;
    setupLinks().powerFunctionB = nullptr;
    data.meterFunction = 8;
    ctrl_.shownChannels = 0x9;
    fill(0, 40000, 25.3);
    fill(3, 40000, 25.3);
    std::copy(traces_[0]->samples, traces_[0]->samples + 2500, TAcquisition::Voie1Normalisee);
    std::copy(traces_[3]->samples, traces_[3]->samples + 2500, TAcquisition::Voie4Normalisee);
    MeterMeasureSet(&ctrl_, data, 21);
    MeterPublish(&ctrl_);
    EXPECT_EQ(table_[8].flags & 0xFFF, (table_[0].flags & 0xFFF) | 0xF);
    EXPECT_EQ(table_[8].periodCount, table_[0].periodCount);
    EXPECT_EQ(table_[8].nextRise50, table_[0].nextRise50);
    EXPECT_EQ(table_[8].capaWord, 0);
    EXPECT_EQ(table_[9].flags, 0) << "no second function";

    setupLinks().powerFunctionA = &b;
    ctrl_.shownChannels = 0xF;
    MeterMeasureSet(&ctrl_, data, 21);
    MeterPublish(&ctrl_);
    EXPECT_EQ(table_[8].flags, 0) << "sources 2 and 3";
    setupLinks().powerAcq = nullptr;
    setupLinks().powerFunctionA = nullptr;
}

// Two passes held at the start, one after a range request; a change of mode or function starts
// the counters again, the same one keeps them.
TEST_F(MeterPassTest, HoldPassesAndCycleStart)
{
    data.meterFunction = 0;
    data.meterRangeCh2 = 0;
    ctrl_.shownChannels = 0x2;
    MeterCycleStart(data);
    fill(1, 550000, 0);
    pass();
    table_[1].overrange = 1;  // as an overload publishes it
    for (int holding : {2, 1}) {
        EXPECT_EQ(meterCycleState().holdPasses, holding);
        MeterRangeStep(&data, &ctrl_);
        EXPECT_EQ(table_[1].flags, 0);
        EXPECT_EQ(table_[1].overrange, 0);
        EXPECT_TRUE(requests().empty());
        table_[1].overrange = 1;
    }
    MeterRangeStep(&data, &ctrl_);
    auto posted = requests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, param::meterRangeCh2);
    EXPECT_EQ(meterCycleState().holdPasses, 1);
    MeterRangeStep(&data, &ctrl_);
    EXPECT_TRUE(requests().empty()) << "the pass after a request only marks its records";
    table_[1] = extremes(500000, 550000);
    MeterRangeStep(&data, &ctrl_);
    posted = requests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, REQ_CHANNEL_STATE);
    EXPECT_EQ(posted[0].intValue, 0x2);

    MeterCycleStart(data);
    EXPECT_EQ(meterCycleState().holdPasses, 0);
    data.meterFunction = 4;
    MeterCycleStart(data);
    EXPECT_EQ(meterCycleState().holdPasses, 2);
    EXPECT_EQ(meterCycleState().passesLeft, 2);
    data.instrumentMode = 130;
    MeterRangeStep(&data, &ctrl_);
    MeterCycleStart(data);
    EXPECT_EQ(meterCycleState().holdPasses, 2);
}

} // namespace
