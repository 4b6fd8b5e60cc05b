// The calibration steps' searches, fits and formulas against scripted measurements: the steps
// program the simulated board as usual, the measurements answer from the calibration set.
#include "tests/hardware/hwtest.h"

#include "hardware/calibration.h"
#include "hardware/calibsteps.h"

#include <deque>
#include <functional>

namespace {

constexpr int32_t kCentre = 0x7FFE0;

// Answers each measurement from the calibration set as the step left it, or from a queue.
class TScriptedBench : public TCalibrationBench {
public:
    std::function<int32_t(const uint16_t* set)> respond;
    std::deque<int32_t> queue;          // used when respond is empty
    std::deque<int32_t> corrected;      // answers of the corrected measurements
    std::vector<std::pair<int32_t, int32_t>> correctedPoints;
    std::vector<std::vector<uint16_t>> sets;  // the set at each plain measurement
    int calls = 0;

    int measure(uint16_t, int32_t* mean, int) override
    {
        ++calls;
        sets.emplace_back(o_g_scalingParamsCalibration, o_g_scalingParamsCalibration + kScalingParams);
        if (respond) {
            *mean = respond(o_g_scalingParamsCalibration);
        } else {
            if (queue.empty())
                return -1;
            *mean = queue.front();
            queue.pop_front();
        }
        return 0;
    }
    int measureCorrected(uint16_t, int32_t* mean, int32_t low, int32_t high, int) override
    {
        ++calls;
        correctedPoints.emplace_back(low, high);
        if (corrected.empty())
            return -1;
        *mean = corrected.front();
        corrected.pop_front();
        return 0;
    }
    void clearQuality() override {}
    uint32_t quality() override { return 0; }
    void wait(int) override {}
};

class CalibStepsTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        std::memset(&record_, 0, sizeof record_);
        for (int ch = 0; ch < 4; ++ch)
            record_.vosBf1[ch] = 128;
        setCalibrationBench(&bench_);
    }
    void TearDown() override
    {
        setCalibrationBench(nullptr);
        HardwareTest::TearDown();
    }

    // The values parameter p took at the plain measurements, in order.
    std::vector<int> seen(int p) const
    {
        std::vector<int> v;
        for (const auto& set : bench_.sets)
            v.push_back(set[p]);
        return v;
    }

    TScriptedBench bench_;
    calibration record_{};
};

TEST_F(CalibStepsTest, TrimSearchConvergesOnLinearResponsesAndStopsOffTheScreen)
{
    struct Row {
        const char* what;
        std::function<int32_t(const uint16_t*)> respond;
        int32_t result;
        uint8_t trim;  // every search's result
    };
    const Row rows[] = {
        {"centre at 100", [](const uint16_t* s) { return kCentre + 700 * (100 - s[25]); }, 1, 100},
        {"centre at 200, steep", [](const uint16_t* s) { return kCentre + 1500 * (200 - s[25]); }, 1, 200},
        // 38 and 37 err alike: the first one met stays.
        {"centre between 37 and 38", [](const uint16_t* s) { return kCentre + 100 * (75 - 2 * s[25]); }, 1, 38},
        // The first measurement below the screen's bottom: one iteration, 128 kept.
        {"off the screen", [](const uint16_t*) { return 655297; }, 1, 128},
        {"centre at 3: outside 5..251", [](const uint16_t* s) { return kCentre + 700 * (3 - s[25]); }, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::memset(record_.vosBf2, 0, sizeof record_.vosBf2);
        record_.vosBf2Fill[1] = 9;
        bench_ = TScriptedBench();
        bench_.respond = row.respond;
        EXPECT_EQ(CompensationVosBF2(1, &record_), row.result);
        for (int s = 0; s < 16; ++s)
            EXPECT_EQ(record_.vosBf2[1][s], row.trim) << "sensitivity " << s;
        EXPECT_EQ(record_.vosBf2Fill[1], row.result ? 0 : 9);
    }
    // Off the screen: exactly one measurement per search.
    bench_ = TScriptedBench();
    bench_.respond = [](const uint16_t*) { return 655297; };
    ASSERT_EQ(CompensationVosBF2(1, &record_), 1);
    EXPECT_EQ(bench_.calls, 5);
}

TEST_F(CalibStepsTest, SecondAndThirdStagesMapTheFiveSearchesBySensitivity)
{
    // Each search (set by its p33/p34 pair) centres at its own trim.
    const auto target = [](const uint16_t* s) {
        switch (s[33] * 16 + s[34]) {
        case 1 * 16 + 0: return 10;   // r0
        case 2 * 16 + 2: return 20;   // r1
        case 4 * 16 + 3: return 30;   // r2
        case 1 * 16 + 1: return 40;   // r3
        default: return 50;           // r4 (8, 7)
        }
    };
    bench_.respond = [&](const uint16_t* s) { return kCentre + 500 * (target(s) - s[25]); };
    ASSERT_EQ(CompensationVosBF2(2, &record_), 1);
    const uint8_t second[16] = {50, 30, 20, 20, 10, 10, 20, 40, 10, 40, 10, 10, 10, 10, 10, 10};
    EXPECT_EQ(std::vector<uint8_t>(record_.vosBf2[2], record_.vosBf2[2] + 16), std::vector<uint8_t>(second, second + 16));

    bench_.sets.clear();
    bench_.respond = [&](const uint16_t* s) { return kCentre + 500 * (target(s) - s[29]); };
    ASSERT_EQ(CompensationVosGP(2, &record_), 1);
    const uint8_t third[16] = {50, 30, 20, 20, 10, 10, 20, 10, 10, 40, 10, 10, 10, 10, 10, 10};
    EXPECT_EQ(std::vector<uint8_t>(record_.vosGp[2], record_.vosGp[2] + 16), std::vector<uint8_t>(third, third + 16));
    // Before search k, p25 holds the second stage's entry of sensitivity 4, 2, 1, 9, 0.
    std::vector<int> p25;
    for (const auto& set : bench_.sets)
        if (p25.empty() || p25.back() != set[25])
            p25.push_back(set[25]);
    EXPECT_EQ(p25, (std::vector<int>{10, 20, 30, 40, 50}));
}

TEST_F(CalibStepsTest, FirstStageScansCoarseThenFineAroundTheBest)
{
    struct Row {
        const char* what;
        int target;
        int32_t offset;  // added to every measurement with p35 = 4
        int32_t result;
        uint8_t vosBf1;
    };
    const Row rows[] = {
        {"factory value", 128, 0, 1, 128},
        {"low trim", 21, 0, 1, 21},
        {"best 0", -30, 0, 0, 77},
        {"best 255", 300, 0, 0, 77},
        {"error of 2000 codes", 128, 2000, 0, 77},
        {"error just below", 128, 1999, 1, 128},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        record_.vosBf1[0] = 77;
        bench_ = TScriptedBench();
        bench_.respond = [&row](const uint16_t* s) {
            const int32_t m0 = kCentre + 1234;
            return s[35] == 0 ? m0 : m0 + row.offset + 300 * std::abs(s[16] - row.target);
        };
        EXPECT_EQ(CompensationVosBF1(0, &record_), row.result);
        EXPECT_EQ(record_.vosBf1[0], row.vosBf1);
    }
    // The scan itself: M0, 17 coarse values, 33 fine values from best - 16 upwards.
    bench_ = TScriptedBench();
    bench_.respond = [](const uint16_t* s) { return kCentre + (s[35] == 0 ? 0 : 300 * std::abs(s[16] - 10)); };
    ASSERT_EQ(CompensationVosBF1(0, &record_), 1);
    const std::vector<int> p16 = seen(16);
    ASSERT_EQ(p16.size(), 1u + 17u + 33u);
    std::vector<int> coarse(p16.begin() + 1, p16.begin() + 18);
    EXPECT_EQ(coarse, (std::vector<int>{255, 239, 223, 207, 191, 175, 159, 143, 127, 111, 95, 79, 63, 47, 31, 15, 0}));
    EXPECT_EQ(p16[18], 0) << "best 15 < 16: the fine scan starts at 0";
    EXPECT_EQ(p16.back(), 32);
    EXPECT_EQ(seen(35).front(), 0);
    EXPECT_EQ(seen(59).front(), 1);
}

TEST_F(CalibStepsTest, ReferenceStepsFitTheCrossingWithinTheByte)
{
    struct Row {
        const char* what;
        bool positive;
        double crossing;
        double slope;
        int32_t result;
        uint8_t stored;
    };
    const Row rows[] = {
        {"step 5 at 100", true, 100.0, -300.0, 1, 100},
        {"step 6 at 180.4", false, 180.4, 250.0, 1, 180},
        // A coarse crossing near the bottom: the fine pass must stay at trims 0 and up.
        {"step 5 at 9", true, 9.0, -300.0, 1, 9},
        {"flat line", true, 100.0, 0.0, 0, 55},
        {"coarse crossing above 247", false, 250.0, 250.0, 0, 55},
        {"coarse crossing below 8", true, 6.0, -300.0, 0, 55},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        record_.ref2Vp[3] = record_.ref2Vn[3] = 55;
        bench_ = TScriptedBench();
        const int trim = row.positive ? 4 : 8;
        // A at p18 512 reads the centre; B at the far end moves with the trim.
        bench_.respond = [&row, trim](const uint16_t* s) {
            if (s[18] == 512)
                return kCentre;
            return static_cast<int32_t>(kCentre + row.slope * (s[trim] - row.crossing));
        };
        const int32_t result = row.positive ? CompensationRef2VP(3, &record_) : CompensationRef2VN(3, &record_);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(row.positive ? record_.ref2Vp[3] : record_.ref2Vn[3], row.stored);
        for (int v : seen(trim))
            EXPECT_LE(v, 255) << "a trim below 0 wrapped into the byte";
        for (int v : seen(18))
            EXPECT_TRUE(v == 512 || v == (row.positive ? 0 : 1023));
    }
}

TEST_F(CalibStepsTest, TwoPointStepFormulasAndLimits)
{
    struct Row {
        const char* what;
        int16_t sensitivity;
        int32_t m3;
        int32_t result;
        int32_t low, high;
    };
    // M1 400000, M2 650000, M4 = centre + 16 for both bandwidth-limit states.
    const Row rows[] = {
        {"sensitivity 4", 4, 800000, 1, 449664, 599664},
        {"sensitivity 15 takes 2 M3 - M2", 15, 800000, 1, 374664, 674664},
        {"high point too low", 4, 700000, 0, 0, 0},
        {"low point too high", 4, 560000, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::memset(record_.rangePoints, 0, sizeof record_.rangePoints);
        setCalibrationMeterGain(record_, 1, row.sensitivity, 0.5f);
        setCalibrationMeterOffset(record_, 1, 3, 7.0f);
        data.sensitivityCh2 = row.sensitivity;
        bench_ = TScriptedBench();
        bench_.queue = {400000, 650000, row.m3, 400000, 650000, row.m3};
        bench_.corrected = {kCentre + 16, kCentre + 16};
        EXPECT_EQ(CompensationMesure(1, &record_), row.result);
        for (int bwl = 0; bwl < 2; ++bwl) {
            EXPECT_EQ(calibrationRangePoint(record_, bwl, 1, 0, row.sensitivity), row.low) << bwl;
            EXPECT_EQ(calibrationRangePoint(record_, bwl, 1, 1, row.sensitivity), row.high) << bwl;
        }
        EXPECT_EQ(calibrationMeterGain(record_, 1, row.sensitivity), row.result ? 1.0f : 0.5f);
        EXPECT_EQ(calibrationMeterOffset(record_, 1, 3), row.result && row.sensitivity == 15 ? 0.0f : 7.0f);
        if (row.result) {
            // The corrected measurement uses the points before the shift.
            ASSERT_EQ(bench_.correctedPoints.size(), 2u);
            EXPECT_EQ(bench_.correctedPoints[0], std::make_pair(row.low + 16, row.high + 16));
        }
    }
}

TEST_F(CalibStepsTest, CurrentGainStepKeepsOneForAnInvalidPairOrAGainFarFromOne)
{
    // Channel 1's span with the bandwidth limit on: 200000 at every sensitivity.
    for (int s = 0; s < 16; ++s) {
        setCalibrationRangePoint(record_, 1, 0, 0, s, 400000);
        setCalibrationRangePoint(record_, 1, 0, 1, s, 600000);
    }
    // A pair (A, B) of 4-pass measurements giving G = (B - A) x 8 / (200000 k).
    const auto pair = [](double g, double k) {
        return std::vector<int32_t>{500000, static_cast<int32_t>(500000 + g * 200000 * k / 8)};
    };
    struct Row {
        const char* what;
        std::vector<std::vector<int32_t>> pairs;
        int32_t result;
        float g[4];
    };
    const Row rows[] = {
        {"all valid", {pair(1.0, 5), pair(1.2, 5), pair(0.8, 4), pair(1.1, 5)}, 1, {1.0f, 1.2f, 0.8f, 1.1f}},
        {"second pair off the screen", {pair(1.0, 5), {700000, 500000}, pair(0.8, 4), pair(1.1, 5)}, 0,
         {1.0f, 1.0f, 0.8f, 1.1f}},
        {"third gain 3", {pair(1.0, 5), pair(1.2, 5), pair(3.0, 4), pair(1.1, 5)}, 0, {1.0f, 1.2f, 1.0f, 1.1f}},
        {"fourth gain 0", {pair(1.0, 5), pair(1.2, 5), pair(0.8, 4), pair(0.0, 5)}, 0, {1.0f, 1.2f, 0.8f, 1.0f}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        bench_ = TScriptedBench();
        for (const auto& p : row.pairs)
            bench_.queue.insert(bench_.queue.end(), p.begin(), p.end());
        EXPECT_EQ(CompensationCourantIgamme(2, &record_), row.result);
        const float* g = row.g;
        const float ohm[7] = {g[0], g[1], g[1], g[2], g[2], g[3], g[3]};
        const float capa[8] = {g[2], g[2], g[2], g[1], g[1], g[0], g[0], g[0]};
        for (int r = 0; r < 7; ++r)
            EXPECT_NEAR(calibrationOhmCurrentGain(record_, r), ohm[r], 1e-4) << "ohm range " << r;
        for (int r = 0; r < 8; ++r)
            EXPECT_NEAR(calibrationCapaCurrentGain(record_, r), capa[r], 1e-4) << "capa range " << r;
    }
    // A failed acquisition stores nothing of the step.
    setCalibrationOhmCurrentGain(record_, 0, 0.75f);
    bench_ = TScriptedBench();
    bench_.queue = {500000};
    EXPECT_EQ(CompensationCourantIgamme(2, &record_), 0);
    EXPECT_EQ(calibrationOhmCurrentGain(record_, 0), 0.75f);
}

TEST_F(CalibStepsTest, ChannelOrSensitivityOutsideTheTablesFailsWithoutWriting)
{
    const calibration before = record_;
    bench_.respond = [](const uint16_t*) { return kCentre; };
    for (int32_t ch : {4, -1, 100}) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(CalibOffsetOscillo(ch, &record_), 0);
        EXPECT_EQ(CompensationLevelTrig(ch, &record_), 0);
        EXPECT_EQ(CompensationRef2VP(ch, &record_), 0);
        EXPECT_EQ(CompensationRef2VN(ch, &record_), 0);
        EXPECT_EQ(CompensationMesure(ch, &record_), 0);
        EXPECT_EQ(CompensationCourantIgamme(ch, &record_), 0);
    }
    data.sensitivityCh1 = 16;
    EXPECT_EQ(CompensationMesure(0, &record_), 0);
    EXPECT_EQ(bench_.calls, 0);
    EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
}

} // namespace
