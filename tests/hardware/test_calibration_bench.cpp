// The simulated board's analogue errors and calibration bench, programmed through the product's
// front-end functions and read from the model directly (no acquisition): what a board that
// needs calibrating shows in the scope mode, and what the factory steps' set-ups measure.
// raw = 2047.5 + 3.6 x thousandths of the screen; 125 thousandths a division.
#include "tests/hardware/hwtest.h"

#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/calibsteps.h"
#include "hardware/feserial.h"
#include "hardware/frontend.h"
#include "hardware/frontend_scope.h"
#include "hardware/scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

double rawOf(double units) { return 2047.5 + 3.6 * units; }

// The channel's errors in board/sim/uncalibrated.json, read from the file itself.
simboard::TScenario sampleScenario()
{
    std::ifstream in(std::string(BV_SOURCE_ROOT) + "/board/sim/uncalibrated.json");
    std::stringstream text;
    text << in.rdbuf();
    simboard::TScenario s;
    std::string why;
    EXPECT_TRUE(simboard::parseScenario(text.str(), &s, &why)) << why;
    return s;
}

class CalibrationBenchTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        setPauseHook([](int) {});
        std::memcpy(&cal_, &CalibUsine, sizeof cal_);
        FrontEndInit(&cal_);
        ASSERT_EQ(CmdeLogique(CMDE_CHANNEL_POWER, 0xF), 0);
    }
    void TearDown() override
    {
        setPauseHook(nullptr);
        HardwareTest::TearDown();
    }
    // The init word the driver sends with its next command: bit 64 takes the bench's sources out.
    static void initWord(uint16_t ch, uint16_t word) { feSerialSend(feChannelMask(ch), 0x0C1, word); }
    static void cal(uint16_t ch, int parameter, uint16_t value)
    {
        o_g_scalingParamsCalibration[parameter] = value;
        ScalingWrite(ch, o_g_scalingParamsCalibration, static_cast<int16_t>(parameter), 3);
    }

    calibration cal_{};
};

// The sample board's errors as the scope mode meets them with the factory record: each channel's
// level is (1 + gain) times the truth plus its offset.
TEST_F(CalibrationBenchTest, AnUncalibratedBoardReadsOffByItsErrors)
{
    const simboard::TScenario s = sampleScenario();
    simboard::setScenario(s);
    for (uint16_t ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        const simboard::TAnalogErrors& e = s.errors[ch];
        EXPECT_NE(e.gain, 0.0);
        EXPECT_NE(e.offset, 0.0);
        simboard::TSignal dc;
        dc.shape = "dc";
        dc.offset = 1.0;
        simboard::setSignal(ch, dc);
        SetSensitivityCalibr(ch, 8, &cal_);   // 1 V/div, trims of the record
        CouplageBwlVertical(ch, 8, 1, 0, 10);
        PositionVerticale(ch, 0);
        // The factory record's trims sit at 128: they leave the offset as it is.
        const double units = (1 + e.gain) * 125.0 + e.offset * 125.0;
        EXPECT_NEAR(simboard::sampleCode(ch, 0.001), rawOf(units), 1.0);
    }
}

// The multimeter scales a channel by the screen edges its grounded input stops at with the offset
// DAC beyond them (codes 102 and 921). Gain errors cancel there; the references, which set the
// DAC's span, do not until their trims null them.
TEST_F(CalibrationBenchTest, TheGroundedEdgesFollowTheReferencesAndTheirTrims)
{
    const simboard::TScenario s = sampleScenario();
    simboard::setScenario(s);
    const auto live = [](uint16_t ch, int parameter, uint16_t value) {
        to_g_scalingParams[ch][parameter] = value;
        ScalingWrite(ch, to_g_scalingParams[ch], static_cast<int16_t>(parameter), 3);
    };
    const auto trim = [](double error) { return static_cast<uint16_t>(std::lround(128 - 2000 * error / (1 + error))); };
    for (uint16_t ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        const simboard::TAnalogErrors& e = s.errors[ch];
        SetSensitivityCalibr(ch, 8, &cal_);
        live(ch, 13, 1);
        const auto span = [&] {
            live(ch, 18, 102);
            const double top = simboard::sampleCode(ch, 0.001);
            live(ch, 18, 921);
            return (top - simboard::sampleCode(ch, 0.001)) / 3.6 / (1 + e.gain);   // thousandths
        };
        ASSERT_EQ(simboard::frontEnd(ch).params[4], 128);
        ASSERT_EQ(simboard::frontEnd(ch).params[8], 128);
        EXPECT_NEAR(span(), 500 * (1 + e.refP) + 500 * (1 + e.refN), 1.0);
        // Trimmed as the reference steps trim them: the nominal screen, to a trim step.
        live(ch, 4, trim(e.refP));
        live(ch, 8, trim(e.refN));
        EXPECT_NEAR(span(), 1000, 1.0);
    }
}

// The steps' set-ups on channel 2 with known errors: the grounded calibration path and its
// rails, the references with their trims, the current source into the 1 Mohm input.
TEST_F(CalibrationBenchTest, BenchSourcesFollowTheTrimsAndTheErrors)
{
    const uint16_t ch = 1;
    const double gain = 1.02;
    simboard::updateScenario([&](simboard::TScenario& s) {
        s.errors[ch] = {gain - 1, 0.0, 0.03, -0.02, 0.05};
        s.signals[ch].shape = "dc";
        s.signals[ch].offset = 3.0;   // off the input while the bench is loaded
    });
    ParamsCalibrationInit(ch, o_g_scalingParamsCalibration);
    SetSensitivity(ch, 11, o_g_scalingParamsCalibration);   // 10 V/div
    const double railTop = 500.0 + 2 / 3.6, railBottom = -500.0 + 8 / 3.6;
    const double toMid = railBottom / 205;   // DAC 512 on the calibration path
    struct Case {
        const char* what;
        uint16_t p13, init, p18, p10, p4, p8, p5;
        double units;
    } cases[] = {
        {"open input, mid-scale", 0, 64, 512, 0, 128, 128, 15, 0.0},
        {"ground at the top rail", 1, 64, 307, 0, 128, 128, 15, railTop},
        {"ground beyond the top rail", 1, 64, 100, 0, 128, 128, 15, railTop},
        {"ground at 511", 1, 64, 511, 0, 128, 128, 15, 0.0},
        {"ground at the bottom rail", 1, 64, 716, 0, 128, 128, 15, railBottom},
        {"positive reference at its rail", 0, 0, 0, 0, 128, 128, 15, railTop - (railTop - toMid) * 1.03},
        {"positive reference trimmed", 0, 0, 0, 0, 100, 128, 15,
         railTop - (railTop - toMid) * 1.03 * (1 + (100 - 128) / 2000.0)},
        {"negative reference at its rail", 0, 0, 1023, 0, 128, 128, 15, railBottom + (toMid - railBottom) * 0.98},
        {"negative reference spans a screen", 0, 0, 716, 0, 128, 150, 15,
         railBottom + 1000 * 0.98 * (1 + (150 - 128) / 2000.0)},
        {"50 uA into 1 Mohm", 0, 0, 716, 1, 128, 128, 13, railBottom + 50e-6 * 1.05 * 1e6 / 10 * 125},
        {"no current range", 0, 0, 716, 1, 128, 128, 15, railBottom},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cal(ch, 5, c.p5);
        cal(ch, 4, c.p4);
        cal(ch, 8, c.p8);
        cal(ch, 10, c.p10);
        cal(ch, 18, c.p18);
        cal(ch, 13, c.p13);
        initWord(ch, c.init);
        EXPECT_NEAR(simboard::sampleCode(ch, 0.001), rawOf(gain * c.units), 1.0);
    }
}

} // namespace
