// Scope front end programmed through the product functions, observed as the simulated board's
// analogue model places the input on the ADC: raw = 2047.5 + 3.6 x thousandths above mid-screen,
// 125 thousandths per division. Samples are read from the model directly (no acquisition).
#include "tests/hardware/hwtest.h"

#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/frontend.h"
#include "hardware/frontend_scope.h"
#include "hardware/scaling.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kDacStep = 20000.0 / 8184.0;  // thousandths per offset or threshold DAC step
constexpr double kRawPerUnit = 3.6;

double rawOf(double units) { return 2047.5 + kRawPerUnit * units; }

class FrontEndAnalogTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        setPauseHook([](int) {});
        FrontEndInit(&cal);
        ASSERT_EQ(CmdeLogique(CMDE_CHANNEL_POWER, 0xF), 0);
    }
    void TearDown() override
    {
        setPauseHook(nullptr);
        HardwareTest::TearDown();
    }

    // Channel ch at sensitivity s (8: 1 V/div), the given coupling (0 AC, 1 DC, 2 ground), position.
    static void program(uint16_t ch, int16_t s, int16_t coupling, int16_t position)
    {
        SetSensitivity(ch, s, to_g_scalingParams[ch]);
        CouplageBwlVertical(ch, s, coupling, 0, 10);
        PositionVerticale(ch, position);
    }
    static void dc(int ch, double volts)
    {
        simboard::TSignal s;
        s.shape = "dc";
        s.offset = volts;
        simboard::setSignal(ch, s);
    }

    calibration cal{};
};

TEST_F(FrontEndAnalogTest, DcLevelsPositionGroundAndClipping)
{
    struct Case {
        const char* what;
        double volts;
        int16_t coupling, position;
        double units;     // expected level, thousandths above mid-screen
        double tolerance; // thousandths
    };
    const Case cases[] = {
        {"1 V at 1 V/div: one division up", 1.0, 1, 0, 125.0, 0.5},
        {"0 V: the zero line", 0.0, 1, 0, 0.0, 0.5},
        {"ground ignores the input", 3.0, 2, 0, 0.0, 0.5},
        {"position +250 moves the zero line up", 0.0, 1, 250, 250.0, kDacStep},
        {"position -250 moves it down", 0.0, 1, -250, -250.0, kDacStep},
        {"1 V at position +250", 1.0, 1, 250, 375.0, kDacStep},
        {"ground at position +250 reads the moved zero line", 3.0, 2, 250, 250.0, kDacStep},
    };
    for (const Case& c : cases) {
        dc(0, c.volts);
        program(0, 8, c.coupling, c.position);
        const simboard::TAnalogChannel a = simboard::analogChannel(0);
        ASSERT_TRUE(a.powered) << c.what;
        EXPECT_DOUBLE_EQ(a.voltsPerDiv, 1.0) << c.what;
        EXPECT_EQ(a.ground, c.coupling == 2) << c.what;
        const double raw = simboard::sampleCode(0, 0.001);
        EXPECT_NEAR(raw, rawOf(c.units), kRawPerUnit * c.tolerance + 0.5) << c.what;
    }

    // Far beyond the ADC's range it clips, never wraps.
    program(0, 8, 1, 0);
    dc(0, 10.0);
    EXPECT_EQ(simboard::sampleCode(0, 0.001), 4095);
    dc(0, -10.0);
    EXPECT_EQ(simboard::sampleCode(0, 0.001), 0);
}

TEST_F(FrontEndAnalogTest, AnUnpoweredChannelReadsMidScale)
{
    dc(1, 1.0);
    program(1, 8, 1, 250);
    ASSERT_EQ(CmdeLogique(CMDE_CHANNEL_POWER, 0x1), 0);
    EXPECT_FALSE(simboard::analogChannel(1).powered);
    EXPECT_EQ(simboard::sampleCode(1, 0.001), 2048);
}

// The comparator sits at the level above the trace's zero line whatever the position, and a
// rising-edge trigger (a rising edge of its output) fires where a rising sine crosses it, within
// one sample.
TEST_F(FrontEndAnalogTest, SineTriggersOnTheRisingEdgeAtTheLevel)
{
    simboard::TSignal sine;
    sine.shape = "sine";
    sine.vpp = 4.0;
    sine.frequency = 1000.0;
    simboard::setSignal(0, sine);
    SourceTrigger(0, 0);  // the defaults leave every comparator output disabled
    const struct {
        int16_t level, position;
    } cases[] = {{0, 0}, {125, 0}, {-125, 0}, {125, 250}, {-200, -100}};
    for (const auto& c : cases) {
        program(0, 8, 1, c.position);
        LevelTrigger(0, c.level, c.position, 0, 1, 0, &cal);
        FrontTrigger(0, 0);
        const simboard::TAnalogChannel a = simboard::analogChannel(0);
        ASSERT_TRUE(a.risingOutput);
        ASSERT_FALSE(a.triggerDisabled);
        EXPECT_NEAR(a.thresholdUnits - a.offsetUnits, c.level, 2 * kDacStep) << c.level << "@" << c.position;

        // Walk one period in samples of 1 us, starting off the sine's zero phase; the output
        // (sample above threshold) rises once.
        const double dt = 1e-6, t0 = 0.0003;
        const double thresholdRaw = rawOf(a.thresholdUnits);
        int rises = 0;
        bool above = simboard::sampleCode(0, t0) > thresholdRaw;
        for (int i = 1; i <= 1000; ++i) {
            const double t = t0 + i * dt;
            const bool now = simboard::sampleCode(0, t) > thresholdRaw;
            if (now && !above) {
                ++rises;
                // Rising input, at the level (volts above the zero line) within one sample's step.
                EXPECT_GT(simboard::inputVolts(0, t), simboard::inputVolts(0, t - dt));
                const double levelVolts = c.level / 125.0;
                const double slope = M_PI * sine.frequency * sine.vpp;  // volts per second, at most
                EXPECT_NEAR(simboard::inputVolts(0, t), levelVolts, slope * dt + 2 * kDacStep / 125.0)
                    << c.level << "@" << c.position;
            }
            above = now;
        }
        EXPECT_EQ(rises, 1) << c.level << "@" << c.position;
    }

    // The falling edge turns the output around.
    FrontTrigger(0, 1);
    EXPECT_FALSE(simboard::analogChannel(0).risingOutput);
}

} // namespace
