// The calibration steps on the simulated board with nothing connected (as on a factory bench):
// the offset and trigger steps on a board without offset errors, the reference steps on a board
// whose references are off (each trim takes its reference's error out), and the faults that fail
// a step and leave the record alone.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/realtime/realtime_support.h"

#include "acquisition/TAcquisition.h"
#include "board/deviceio.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/calibsteps.h"
#include "hardware/chip_acq.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using realtime::setDetail;

class CalibStepsBoardTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        ASSERT_EQ(ChipAcqDrv(), 0);
        CmdeLogique(CMDE_CHANNEL_POWER, 0xF);
        setDetail(SYNCHRO_NONE);
        simboard::setInputsConnected(false);
        simboard::updateScenario([](simboard::TScenario& s) { s.speedFactor = 20; });
        // The waits between measurements do not change what the board answers.
        setPauseHook([](int) {});
        std::memset(&record_, 0, sizeof record_);
        for (int ch = 0; ch < 4; ++ch)
            record_.vosBf1[ch] = 77;
        // The channels' normalised buffers, which the program's start-up allocates.
        static std::vector<uint32_t> buffers[4];
        uint32_t** const links[4] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                                     &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee};
        for (int ch = 0; ch < 4; ++ch) {
            buffers[ch].assign(TAcquisition::kNormalisedSamples, 0);
            *links[ch] = buffers[ch].data();
        }
    }
    void TearDown() override
    {
        TAcquisition::Voie1Normalisee = TAcquisition::Voie2Normalisee = nullptr;
        TAcquisition::Voie3Normalisee = TAcquisition::Voie4Normalisee = nullptr;
        setPauseHook(nullptr);
        // The tests set channels' sensitivities and trigger couplings in the live setup.
        std::memcpy(&data, &init_par, sizeof data);
        setDetail(SYNCHRO_STOP);
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        HardwareTest::TearDown();
    }

    calibration record_{};
};

TEST_F(CalibStepsBoardTest, OffsetAndTriggerStepsOnABoardWithoutOffsets)
{
    const int ch = 1;
    record_.vosBf2Fill[ch] = 5;
    EXPECT_EQ(CalibOffsetOscillo(ch, &record_), 1);
    EXPECT_EQ(record_.vosBf1[ch], 128) << "the factory value, error 0";
    EXPECT_EQ(record_.vosBf2Fill[ch], 0);
    for (int s = 0; s < 16; ++s) {
        // Nothing for the trims to null: every search keeps its first value.
        EXPECT_EQ(record_.vosBf2[ch][s], 128);
        EXPECT_EQ(record_.vosGp[ch][s], 128);
    }

    // A 0 V input: the comparator toggles within a few steps of the middle, for both couplings.
    for (const int16_t coupling : {1, 0}) {
        SCOPED_TRACE(coupling);
        data.trigCouplingCh2 = coupling;
        ASSERT_EQ(CompensationLevelTrig(ch, &record_), 1);
        const int group = coupling == 1 ? 1 : 0;
        EXPECT_NEAR(calibrationTrigOffset(record_, group, 0, ch), 0, 8);
        EXPECT_NEAR(calibrationTrigOffset(record_, group, 1, ch), 0, 8);
    }
}

// Each channel's references off by their own errors: the steps pass on every channel and the
// trims they store bring each reference back to its nominal size (the board's trim moves a
// reference by 1/2000 a step from 128).
TEST_F(CalibStepsBoardTest, ReferenceStepsTrimEveryChannelsReferencesToTheirSize)
{
    struct TCase {
        double refP, refN;
    };
    const TCase cases[4] = {{0.02, -0.015}, {-0.01, 0.02}, {0.03, 0.01}, {-0.02, -0.025}};
    simboard::updateScenario([&](simboard::TScenario& s) {
        for (int ch = 0; ch < 4; ++ch) {
            s.errors[ch].refP = cases[ch].refP;
            s.errors[ch].refN = cases[ch].refN;
            s.errors[ch].gain = 0.01 * (ch - 1);
        }
    });
    for (int ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
        ASSERT_EQ(CompensationRef2VP(ch, &record_), 1);
        ASSERT_EQ(CompensationRef2VN(ch, &record_), 1);
        EXPECT_NEAR((1 + cases[ch].refP) * (1 + (record_.ref2Vp[ch] - 128) / 2000.0), 1.0, 0.001)
            << int(record_.ref2Vp[ch]);
        EXPECT_NEAR((1 + cases[ch].refN) * (1 + (record_.ref2Vn[ch] - 128) / 2000.0), 1.0, 0.001)
            << int(record_.ref2Vn[ch]);
    }
}

// Thousandths of the screen (the board's level unit) in normalised codes: 3.6 ADC codes a
// thousandth, 64 x 262144 / 262080 normalised codes an ADC code through the identity.
constexpr double kCodesPerUnit = 3.6 * 64.0 * 262144.0 / 262080.0;

// Every channel of a board with errors of each kind: each step passes, and what it stores takes
// the channel's own error out. The offset trims null the output offset (2 and 0.25 thousandths
// a step), the two points span the screen at the channel's gain, the current gains are the
// source's error seen through channel 1's span.
TEST_F(CalibStepsBoardTest, EveryStepTakesItsErrorOutOnEveryChannel)
{
    const simboard::TAnalogErrors errors[4] = {{0.03, 0.12, 0.02, -0.015, 0.025},
                                               {-0.02, -0.08, -0.01, 0.02, -0.03},
                                               {0.015, 0.05, 0.03, 0.01, 0.0},
                                               {-0.025, -0.1, -0.02, -0.025, 0.04}};
    simboard::updateScenario([&](simboard::TScenario& s) {
        for (int ch = 0; ch < 4; ++ch)
            s.errors[ch] = errors[ch];
    });
    data.sensitivityCh1 = data.sensitivityCh2 = data.sensitivityCh3 = data.sensitivityCh4 = 8;
    data.trigCouplingCh1 = data.trigCouplingCh2 = data.trigCouplingCh3 = data.trigCouplingCh4 = 1;
    for (int ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        const simboard::TAnalogErrors& e = errors[ch];
        ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
        double worst = 0;
        for (int s = 0; s < 16; ++s)
            worst = std::max(worst, std::fabs(e.offset * 125 - (record_.vosBf2[ch][s] - 128) * 2.0 -
                                              (record_.vosGp[ch][s] - 128) * 0.25));
        EXPECT_LE(worst, 1.0) << "thousandths of the screen left";

        ASSERT_EQ(CompensationRef2VP(ch, &record_), 1);
        ASSERT_EQ(CompensationRef2VN(ch, &record_), 1);
        EXPECT_NEAR((1 + e.refP) * (1 + (record_.ref2Vp[ch] - 128) / 2000.0), 1.0, 0.001);
        EXPECT_NEAR((1 + e.refN) * (1 + (record_.ref2Vn[ch] - 128) / 2000.0), 1.0, 0.001);
        EXPECT_EQ(CompensationLevelTrig(ch, &record_), 1);

        // Channel 1's points at the four current-gain sensitivities first: step 13 reads them.
        for (const int16_t s : {8, 14, 11, 7, 2}) {
            SCOPED_TRACE(s);
            data.sensitivityCh1 = data.sensitivityCh2 = data.sensitivityCh3 = data.sensitivityCh4 = s;
            if (ch != 0 && s != 8)
                continue;
            ASSERT_EQ(CompensationMesure(ch, &record_), 1);
            for (int bw = 0; bw < 2; ++bw) {
                const double span = calibrationRangePoint(record_, bw, ch, 1, s) - calibrationRangePoint(record_, bw, ch, 0, s);
                EXPECT_NEAR(span / (1000 * kCodesPerUnit * (1 + e.gain)), 1.0, 0.002) << bw;
            }
        }
        ASSERT_EQ(CompensationCourantIgamme(ch, &record_), 1);
        const double seen = (1 + e.current) * (1 + e.gain) / (1 + errors[0].gain);
        for (int r = 0; r < 7; ++r)
            EXPECT_NEAR(calibrationOhmCurrentGain(record_, r), seen, 0.002 * seen) << r;
        for (int r = 0; r < 8; ++r)
            EXPECT_NEAR(calibrationCapaCurrentGain(record_, r), seen, 0.002 * seen) << r;
    }
}

// A channel's calibration at the real board's pacing (every settling wait and acquisition in wall
// time) and in the simulated board's quick calibration (the controller runs factory steps so):
// both store the same record, within the noise of a code. The offset step's many one-pass
// searches are only the common start; the steps compared take two and four passes and settle.
TEST_F(CalibStepsBoardTest, QuickCalibrationFindsWhatTheRealPacingFinds)
{
    const int ch = 0;
    simboard::updateScenario([](simboard::TScenario& s) { s.errors[0] = {0.03, 0.12, 0.02, -0.015, 0.025}; });
    data.sensitivityCh1 = 8;
    data.trigCouplingCh1 = 1;
    // The current step reads channel 1's points at four sensitivities: nominal ones here.
    for (const int s : {14, 11, 7, 2})
        for (int bw = 0; bw < 2; ++bw) {
            setCalibrationRangePoint(record_, bw, ch, 0, s, 0x60000);
            setCalibrationRangePoint(record_, bw, ch, 1, s, 0x9FFC0);
        }
    record_.ref2Vn[ch] = 128;
    deviceIO().quickCalibration(true);
    ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
    deviceIO().quickCalibration(false);
    struct TStep {
        const char* name;
        int32_t (*run)(int32_t, calibration*);
    } const steps[] = {{"positive reference", CompensationRef2VP},
                       {"trigger", CompensationLevelTrig},
                       {"two points", CompensationMesure},
                       {"current source", CompensationCourantIgamme}};
    calibration found[2];
    for (const bool quick : {false, true}) {
        SCOPED_TRACE(quick ? "quick calibration" : "real pacing");
        calibration& r = found[quick ? 1 : 0];
        r = record_;
        setPauseHook(nullptr);
        deviceIO().quickCalibration(quick);
        for (const TStep& step : steps)
            EXPECT_EQ(step.run(ch, &r), 1) << step.name;
        deviceIO().quickCalibration(false);
    }
    const calibration& real = found[0];
    const calibration& quick = found[1];
    EXPECT_NEAR(quick.ref2Vp[ch], real.ref2Vp[ch], 1);
    for (int bound = 0; bound < 2; ++bound)
        EXPECT_NEAR(calibrationTrigOffset(quick, 1, bound, ch), calibrationTrigOffset(real, 1, bound, ch), 1) << bound;
    // An ADC code is 64 normalised codes.
    for (int bw = 0; bw < 2; ++bw)
        for (int point = 0; point < 2; ++point)
            EXPECT_NEAR(calibrationRangePoint(quick, bw, ch, point, 8), calibrationRangePoint(real, bw, ch, point, 8), 64)
                << "limit " << bw << " point " << point;
    for (int r = 0; r < 7; ++r)
        EXPECT_NEAR(calibrationOhmCurrentGain(quick, r), calibrationOhmCurrentGain(real, r), 0.001) << r;
    for (int r = 0; r < 8; ++r)
        EXPECT_NEAR(calibrationCapaCurrentGain(quick, r), calibrationCapaCurrentGain(real, r), 0.001) << r;
}

// A calibration acquisition that fails (a stop pending at its arming) ends every measuring step
// at once with 0, storing nothing of that step.
TEST_F(CalibStepsBoardTest, AFailedCalibrationAcquisitionFailsTheStepAndStoresNothing)
{
    const int ch = 0;
    data.sensitivityCh1 = 7;
    ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
    ASSERT_EQ(CompensationRef2VP(ch, &record_), 1);
    ASSERT_EQ(CompensationRef2VN(ch, &record_), 1);
    ASSERT_EQ(CompensationMesure(ch, &record_), 1);
    struct TStep {
        const char* name;
        int32_t (*run)(int32_t, calibration*);
    } const steps[] = {{"offsets", CalibOffsetOscillo}, {"positive reference", CompensationRef2VP},
                       {"negative reference", CompensationRef2VN}, {"two points", CompensationMesure},
                       {"current source", CompensationCourantIgamme}};
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.name);
        const calibration before = record_;
        setDetail(SYNCHRO_STOP);
        EXPECT_EQ(step.run(ch, &record_), 0);
        EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
    }
    setDetail(SYNCHRO_NONE);
    EXPECT_EQ(CompensationRef2VP(ch, &record_), 1) << "the next acquisition works";
}

// A current source far out of its range: the gains it would give are refused, each stays 1.0 and
// the step reports the failure.
TEST_F(CalibStepsBoardTest, ACurrentSourceOutOfRangeFailsTheCurrentStep)
{
    const int ch = 0;
    simboard::updateScenario([](simboard::TScenario& s) { s.errors[0].current = 1.5; });
    for (const int16_t s : {14, 11, 7, 2}) {
        data.sensitivityCh1 = s;
        ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
        ASSERT_EQ(CompensationRef2VP(ch, &record_), 1);
        ASSERT_EQ(CompensationRef2VN(ch, &record_), 1);
        ASSERT_EQ(CompensationMesure(ch, &record_), 1);
    }
    for (int r = 0; r < 7; ++r)
        setCalibrationOhmCurrentGain(record_, r, 0.5f);
    EXPECT_EQ(CompensationCourantIgamme(ch, &record_), 0);
    for (int r = 0; r < 7; ++r)
        EXPECT_EQ(calibrationOhmCurrentGain(record_, r), 1.0f) << r;
}

// A dead reference leaves a flat line: both reference steps fail, and the two-point step, whose
// second point is the negative reference, finds its points too close; none stores anything.
TEST_F(CalibStepsBoardTest, ADeadReferenceFailsTheReferenceSteps)
{
    const int ch = 2;
    ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
    simboard::setReferenceDead(ch, true);
    const calibration before = record_;
    EXPECT_EQ(CompensationRef2VP(ch, &record_), 0);
    EXPECT_EQ(CompensationRef2VN(ch, &record_), 0);
    data.sensitivityCh3 = 8;
    EXPECT_EQ(CompensationMesure(ch, &record_), 0);
    EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
    simboard::setReferenceDead(ch, false);
    EXPECT_EQ(CompensationRef2VP(ch, &record_), 1) << "the fault cleared";
}

TEST_F(CalibStepsBoardTest, StuckQualityBitsFailTheTriggerStepWithinItsScans)
{
    simboard::setQualityStuck(2, 0);
    data.trigCouplingCh3 = 2;
    const calibration before = record_;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CompensationLevelTrig(2, &record_), 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 60.0);
    EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
    // Every threshold written stayed in the 10-bit field.
    EXPECT_LE(simboard::frontEnd(2).params[19], 1023);
}

} // namespace
