// Scope front end: parameter values and chip contents after each operation, observed on the
// simulated front-end chips. The relay word's bit 7 is set (held) once a sequence has released
// the chip; the calibration trims leave it clear.
#include "tests/hardware/hwtest.h"

#include "acquisition/acqctrl.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/frontend_meter.h"
#include "hardware/frontend_scope.h"
#include "hardware/scaling.h"
#include "core/scale.h"
#include "tests/support/linkedtraces.h"
#include "tests/support/probes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <unistd.h>

namespace {

class FrontEndScopeTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        setPauseHook([this](int ms) { pauses.push_back(ms); });
        cal = calibration{};
        FrontEndInit(&cal);
        pauses.clear();
    }
    void TearDown() override
    {
        setPauseHook(nullptr);
        us_g_swBandwidth.store(0);
        HardwareTest::TearDown();
    }
    static uint16_t chip(int ch, int p) { return simboard::frontEnd(ch).params[p]; }

    calibration cal{};
    std::vector<int> pauses;
};

TEST_F(FrontEndScopeTest, PositionLawAndUnrenderedError)
{
    const struct {
        int16_t position;
        uint16_t p18;
    } cases[] = {{0, 512}, {1250, 0}, {-1250, 1023}, {250, 410}, {-1, 513}, {32767, 0}, {-32768, 1023}};
    for (const auto& c : cases) {
        PositionVerticale(2, c.position);
        EXPECT_EQ(to_g_scalingParams[2][18], c.p18) << c.position;
        EXPECT_EQ(chip(2, 18), c.p18) << c.position;
        EXPECT_TRUE(simboard::frontEnd(2).held());
    }
    EXPECT_FLOAT_EQ(GetVertPositionError(0, 0), 0.0f);
    EXPECT_NEAR(GetVertPositionError(1, 1250), 1250 - 512 * 20000.0 / 8184, 1e-4);
    EXPECT_NEAR(GetVertPositionError(3, -1), -1 + 20000.0 / 8184, 1e-4);
    EXPECT_FLOAT_EQ(GetVertPositionError(4, 1250), 0.0f);
}

TEST_F(FrontEndScopeTest, TriggerLevelComparatorChannelAndHysteresis)
{
    struct Case {
        int16_t source, level, position, edge, coupling, hysteresis;
        int channel;
        uint16_t p19;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 1, 0, 0, 511},
        {0, 0, 0, 0, 1, 1, 0, 536},
        {0, 0, 0, 1, 1, 1, 0, 486},
        // Channel sources negate the level and keep the position with couplings 1 and 3.
        {1, 1000, 0, 0, 1, 0, 1, 511 - 410},
        {1, 0, 1000, 0, 3, 0, 1, 511 - 410},
        {1, 0, 1000, 0, 0, 0, 1, 511},
        // Source 4 uses channel 1's comparator at level 0; 5 and 6 channel 4's, level kept.
        {4, 1000, 1000, 0, 1, 0, 0, 511},
        {6, 1000, 0, 0, 1, 0, 3, 511 + 409},
        {5, 30000, 0, 0, 1, 0, 3, 1023},
    };
    for (const Case& c : cases) {
        to_g_scalingParams[c.channel][19] = 0;
        LevelTrigger(c.source, c.level, c.position, c.edge, c.coupling, c.hysteresis, &cal);
        EXPECT_EQ(to_g_scalingParams[c.channel][19], c.p19) << c.source << "/" << c.level << "/" << c.position;
        EXPECT_EQ(chip(c.channel, 19), c.p19);
    }
    // Calibration offsets by edge and coupling group.
    cal.trigOffsetHigh13[2] = 7;
    cal.trigOffsetLow02[2] = -9;
    LevelTrigger(2, 0, 0, 1, 3, 0, &cal);
    EXPECT_EQ(to_g_scalingParams[2][19], 518);
    LevelTrigger(2, 0, 0, 0, 2, 0, &cal);
    EXPECT_EQ(to_g_scalingParams[2][19], 502);
}

// A corrected smart probe on channel 2: its gain scales the position and the level, and its
// offset moves the threshold by the offset's share of the channel's own screen, whatever probe
// coefficient scales that screen (an offset of 8.5 x 20000 codes of the screen is 8 steps).
TEST_F(FrontEndScopeTest, SmartProbeCorrectionOnPositionAndTriggerLevel)
{
    TLinkedTraces traces(TLinkedTraces::kLive);
    data.sensitivityCh2 = 8;
    const double voltsPerCode = GetSensitivity(8, SCALE_SCOPE);
    linkProbe(1, correctedProbe(3, 2.0, 0.0));
    PositionVerticale(1, 100);
    EXPECT_EQ(chip(1, 18), 512 - (200 * 8192) / 20000) << "position x |gain|";
    LevelTrigger(1, -100, 0, 0, 1, 0, &cal);
    EXPECT_EQ(chip(1, 19), 511 + (200 * 8184) / 20000) << "level x |gain|";

    for (float coefficient : {1.0f, 10.0f, 0.1f}) {
        SCOPED_TRACE(coefficient);
        traces.trace(1)->probeCoeff = coefficient;
        unplugAllProbes();
        linkProbe(1, correctedProbe(3, 1.0, 8.5 * 20000.0 * voltsPerCode * coefficient));
        LevelTrigger(1, 0, 0, 0, 1, 0, &cal);
        EXPECT_EQ(chip(1, 19), 511 + 8);
    }
    unplugAllProbes();
}

TEST_F(FrontEndScopeTest, SourcesWithoutComparatorChangeNothing)
{
    uint16_t before[kScalingChannels][kScalingParams];
    std::memcpy(before, to_g_scalingParams, sizeof before);
    for (int16_t source : {7, 55, -1, 300}) {
        LevelTrigger(source, 100, 0, 0, 1, 1, &cal);
        FrontTrigger(source, 1);
        CouplageTrigger(source, 2);
        HysteresisTrigger(source, 1);
    }
    EXPECT_EQ(std::memcmp(before, to_g_scalingParams, sizeof before), 0);
}

TEST_F(FrontEndScopeTest, SourceRoutingEdgeCouplingAndHysteresis)
{
    SourceTrigger(1, 0);
    const uint16_t routed[4] = {0, 0, 1, 1};
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(chip(ch, 40), routed[ch]) << ch;
    SourceTrigger(2, kNoTriggerSource);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(to_g_scalingParams[ch][40], 0) << ch;

    data.trigType = 0;
    FrontTrigger(2, 0);
    EXPECT_EQ(to_g_scalingParams[2][41], 1);
    FrontTrigger(5, 0);
    EXPECT_EQ(to_g_scalingParams[3][41], 0);
    const struct {
        int16_t coupling;
        uint16_t code;
    } couplings[] = {{0, 6}, {1, 1}, {2, 7}, {3, 13}, {9, 6}};
    for (const auto& c : couplings) {
        CouplageTrigger(1, c.coupling);
        EXPECT_EQ(chip(1, 38), c.code) << c.coupling;
    }
    CouplageTrigger(4, 1);
    EXPECT_EQ(to_g_scalingParams[0][38], 6);
    HysteresisTrigger(1, 1);
    EXPECT_EQ(to_g_scalingParams[1][46], 3);
    HysteresisTrigger(1, 0);
    EXPECT_EQ(to_g_scalingParams[1][46], 1);
    HysteresisTrigger(4, 0);
    EXPECT_EQ(to_g_scalingParams[0][46], 3);

    // Their own guard: with a delay trigger only the source and the qualifier are touched.
    data.trigType = 2;
    data.trigSource = 0;
    data.qualifSource = 1;
    to_g_scalingParams[2][41] = 0;
    FrontTrigger(2, 0);
    EXPECT_EQ(to_g_scalingParams[2][41], 0);
    FrontTrigger(1, 0);
    EXPECT_EQ(to_g_scalingParams[1][41], 1);

    // The forced transition ends on the forward edge.
    data.trigType = 1;
    TriggerSimulation(3, 1);
    EXPECT_EQ(to_g_scalingParams[3][41], 0);
    TriggerSimulation(3, 0);
    EXPECT_EQ(to_g_scalingParams[3][41], 1);
}

TEST_F(FrontEndScopeTest, CouplingAndBandwidthAcrossVariants)
{
    struct Case {
        uint16_t variant;
        int16_t sensitivity, coupling;
        int32_t bwLimit;
        int16_t timeBase;
        uint16_t p3, p20, p32, p31, p13, p57, init;
    };
    data.minMax = 1;
    const Case cases[] = {
        {3, 8, 0, 0, 10, 1, 0, 0, 0, 0, 1, 0},
        {2, 14, 1, 0, 10, 0, 0, 1, 0, 0, 1, 0},
        {1, 9, 1, 0, 10, 0, 0, 0, 0, 0, 0, 0},
        {1, 9, 1, 2, 10, 0, 0, 1, 1, 0, 0, 0},
        {1, 9, 0, 3, 10, 1, 1, 1, 1, 0, 0, 0},
        {2, 3, 2, 0, 10, 0, 1, 1, 1, 1, 0, 64},
    };
    for (const Case& c : cases) {
        us_g_swBandwidth.store(c.variant);
        CouplageBwlVertical(1, c.sensitivity, c.coupling, c.bwLimit, c.timeBase);
        const simboard::TFrontEnd fe = simboard::frontEnd(1);
        EXPECT_EQ(fe.params[3], c.p3) << c.variant << "/" << c.sensitivity << "/" << c.coupling;
        EXPECT_EQ(fe.params[20], c.p20);
        EXPECT_EQ(fe.params[32], c.p32);
        EXPECT_EQ(fe.params[31], c.p31);
        EXPECT_EQ(fe.params[13], c.p13);
        EXPECT_EQ(fe.params[57], c.p57);
        EXPECT_EQ(pseudoInitCh2, c.init);
        EXPECT_TRUE(fe.held());
    }
    // Slow time base with minMax off enables the limit whatever the sensitivity.
    data.minMax = 0;
    CouplageBwlVertical(0, 0, 1, 0, 18);
    EXPECT_EQ(chip(0, 57), 1);
}

TEST_F(FrontEndScopeTest, GroundOnNonZeroBoardCodeKeepsP13)
{
    simboard::TScenario s = simboard::scenario();
    s.boardCode = 2;
    simboard::setScenario(s);
    ASSERT_NE(EtatLogique(ETAT_BOARD_CODE), 0);
    to_g_scalingParams[0][13] = 0;
    CouplageBwlVertical(0, 5, 2, 0, 10);
    EXPECT_EQ(to_g_scalingParams[0][13], 0);
    EXPECT_EQ(to_g_scalingParams[0][31], 1);
    EXPECT_EQ(pseudoInitCh1, 64);
}

TEST_F(FrontEndScopeTest, SensitivityWithTrimsLeaveTheChipUnreleasedUntilCoupling)
{
    for (int ch = 0; ch < 4; ++ch)
        for (int s = 0; s < 16; ++s) {
            cal.vosBf2[ch][s] = static_cast<uint8_t>(10 + s);
            cal.trimP61[ch][s] = static_cast<uint8_t>(s + ch);
        }
    SetSensitivityCalibr(2, 8, &cal);
    const simboard::TFrontEnd fe = simboard::frontEnd(2);
    const int params[6] = {24, 27, 35, 33, 34, 56};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(fe.params[params[i]], to_l_voltParams[8][i]) << params[i];
    EXPECT_EQ(to_g_scalingParams[2][42], 1);
    EXPECT_EQ(fe.params[25], 18);
    EXPECT_EQ(to_g_scalingParams[2][61], 10);
    EXPECT_FALSE(fe.held());
    CouplageBwlVertical(2, 8, 1, 0, 10);
    EXPECT_TRUE(simboard::frontEnd(2).held());
    // A sensitivity outside the table changes nothing.
    SetSensitivityCalibr(2, 16, &cal);
    EXPECT_EQ(to_g_scalingParams[2][24], to_l_voltParams[8][0]);
}

TEST_F(FrontEndScopeTest, ConfigurationLoadsDefaultsAndCalibration)
{
    cal.vosBf1[3] = 33;
    cal.ref2Vp[3] = 5;
    cal.trimP39[3] = 2;
    to_g_scalingParams[3][24] = 1;
    ConfigurationScope(&cal);
    uint16_t defaults[kScalingParams];
    ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, defaults);
    EXPECT_EQ(to_g_scalingParams[3][24], defaults[24]);
    EXPECT_EQ(chip(3, 16), 33);
    EXPECT_EQ(chip(3, 4), 5);
    EXPECT_EQ(chip(3, 39), 2);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_TRUE(simboard::frontEnd(ch).held()) << ch;
    // Only the first channel's current relay is pulsed (5 ms then 2 ms).
    EXPECT_EQ(pauses, (std::vector<int>{5, 2}));
}

TEST_F(FrontEndScopeTest, CurrentRelayActsOnFirstChannelOnly)
{
    MMRelaisCourant(0, true);
    EXPECT_EQ(chip(0, 17), 1);
    EXPECT_EQ(chip(0, 2), 1);
    EXPECT_TRUE(simboard::frontEnd(0).held());
    pauses.clear();
    to_g_scalingParams[1][17] = 0;
    MMRelaisCourant(1, true);
    EXPECT_EQ(to_g_scalingParams[1][17], 0);
    EXPECT_TRUE(pauses.empty());
}

TEST_F(FrontEndScopeTest, OverscanThresholdsAndMinimumWait)
{
    OverscanSet(1, 437, -437);
    EXPECT_EQ(to_g_scalingParams[1][19], 511 + 178);
    EXPECT_EQ(to_g_scalingParams[1][66], 511 - 179);
    EXPECT_EQ(to_g_scalingParams[1][63], 1);
    EXPECT_EQ(to_g_scalingParams[1][64], 1);
    EXPECT_TRUE(simboard::frontEnd(1).held());
    // A quiet input raises no event: 0 after at least 10 ms, detector released.
    const double ms = elapsedMs([] { EXPECT_EQ(OverscanTest(1, 0.001f), 0); });
    EXPECT_GE(ms, 9.5);
    EXPECT_EQ(simboard::spiRegister(36), 0u);
    EXPECT_EQ(to_g_scalingParams[1][44], 1);
    OverscanReset(1);
    EXPECT_EQ(to_g_scalingParams[1][19], 511);
    EXPECT_EQ(to_g_scalingParams[1][64], 0);
}

// The simulated detector scans the input against the window: a sine filling most of the
// +-437 window leaves it upwards when moved up, downwards when moved down.
TEST_F(FrontEndScopeTest, OverscanTestReportsTheSideTheSignalLeaves)
{
    simboard::TScenario s = simboard::scenario();
    s.signals[2].shape = "sine";
    s.signals[2].frequency = 1000.0;
    simboard::setScenario(s);
    const struct {
        double vpp;
        int16_t position;
        int result;
    } cases[] = {{6.8, 0, 0}, {6.8, 250, 2}, {6.8, -250, 1}, {1.0, 0, 0}, {1.0, 300, 0}, {9.0, 0, 3}};
    SetSensitivityCalibr(2, 8, &cal);  // 1 V/div
    CouplageBwlVertical(2, 8, 1, 0, 10);
    for (const auto& c : cases) {
        s.signals[2].vpp = c.vpp;
        simboard::setScenario(s);
        PositionVerticale(2, c.position);
        OverscanSet(2, 437, -437);
        EXPECT_EQ(OverscanTest(2, 0.05f), c.result) << c.vpp << " Vpp at " << c.position;
        EXPECT_EQ(simboard::spiRegister(40), 0u);
        OverscanReset(2);
    }
}

// SPI 32 counts each channel's comparator transitions since its last write, saturating at 63.
TEST_F(FrontEndScopeTest, ComparatorTransitionsCountPerChannel)
{
    simboard::TScenario s = simboard::scenario();
    s.signals[1].shape = "sine";
    s.signals[1].vpp = 2.0;
    s.signals[1].frequency = 1000.0;
    s.signals[3].shape = "sine";
    s.signals[3].vpp = 0.5;
    s.signals[3].frequency = 1000.0;
    simboard::setScenario(s);
    for (int ch : {1, 3}) {
        SetSensitivityCalibr(ch, 8, &cal);
        CouplageBwlVertical(ch, 8, 1, 0, 10);
        PositionVerticale(ch, 0);
        LevelTrigger(ch, 0, 0, 0, 1, 0, &cal);
    }
    // Channel 4's threshold lies above its small sine: no transition.
    LevelTrigger(3, 400, 0, 0, 1, 0, &cal);
    TFpga::setSpiRegister(32, 0);
    usleep(100000);
    const uint32_t counts = TFpga::getSpiRegister(32);
    EXPECT_EQ((counts >> 10) & 63, 63u) << std::hex << counts;
    EXPECT_EQ((counts >> 22) & 63, 0u);
    EXPECT_EQ((counts >> 4) & 63, 0u) << "no input on channel 1";
    // The write restarts the count: a read right after holds only the transitions since (two a
    // millisecond at 1 kHz; a loaded host may pause between the two).
    const auto cleared = std::chrono::steady_clock::now();
    TFpga::setSpiRegister(32, 0);
    const uint32_t after = (TFpga::getSpiRegister(32) >> 10) & 63;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cleared);
    EXPECT_LE(after, 2u + 2u * static_cast<uint32_t>(ms.count())) << ms.count() << " ms between";
}

TEST_F(FrontEndScopeTest, ScopeParametersReachTheirChannels)
{
    data.instrumentMode = 0;
    data.trigSource = 1;
    data.qualifSource = 1;
    data.trigType = 0;
    data.offsetCh2 = 250;
    data.sensitivityCh2 = 11;
    data.couplingCh2 = 2;
    data.trigLevelCh2 = 1000;
    data.trigCouplingCh2 = 1;
    data.trigEdgeCh2 = 0;
    data.noiseRejectCh2 = 1;
    data.offsetCh3 = 500;

    ProgramFE(param::offsetCh2, nullptr, &cal);
    EXPECT_EQ(chip(1, 18), 410);
    EXPECT_EQ(to_g_scalingParams[1][19], 511 - 512 + 25);
    ProgramFE(param::sensitivityCh2, nullptr, &cal);
    EXPECT_EQ(chip(1, 24), to_l_voltParams[11][0]);
    EXPECT_EQ(chip(1, 13), 1);
    ProgramFE(param::trigCouplingCh2, nullptr, &cal);
    EXPECT_EQ(chip(1, 38), 1);
    EXPECT_EQ(chip(1, 46), 3);
    EXPECT_EQ(chip(1, 41), 1);
    // Channel 3 is not the trigger source: its comparator is left alone.
    to_g_scalingParams[2][19] = 0;
    ProgramFE(param::trigLevelCh3, nullptr, &cal);
    EXPECT_EQ(to_g_scalingParams[2][19], 0);
    ProgramFE(param::offsetCh3, nullptr, &cal);
    EXPECT_EQ(to_g_scalingParams[2][18], 512 - 204);
    // Unrelated parameters change nothing.
    uint16_t before[kScalingChannels][kScalingParams];
    std::memcpy(before, to_g_scalingParams, sizeof before);
    ProgramFE(param::userTimeBase, nullptr, &cal);
    EXPECT_EQ(std::memcmp(before, to_g_scalingParams, sizeof before), 0);

    // Reconfiguration waits 200 ms after the default sets and reprograms every channel.
    pauses.clear();
    ProgramFE(param::autosetRequest, nullptr, &cal);
    ASSERT_GE(pauses.size(), 3u);
    EXPECT_EQ(pauses[2], 200);
    EXPECT_EQ(chip(1, 18), 410);
    EXPECT_EQ(chip(2, 18), 512 - 204);
    EXPECT_EQ(chip(1, 24), to_l_voltParams[11][0]);
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_TRUE(simboard::frontEnd(ch).held()) << ch;
        EXPECT_EQ(to_g_scalingParams[ch][40], ch == 1 ? 0 : 1) << ch;
    }
}

// Each scope parameter reaches the front ends it concerns (channel 2 is the trigger source) and
// leaves every chip it wrote released.
TEST_F(FrontEndScopeTest, ProgramFeScopeRowsWriteTheirChannelsOnly)
{
    data.instrumentMode = 0;
    data.trigSource = 1;
    data.qualifSource = 1;
    data.trigType = 0;
    const struct {
        int32_t parameter;
        unsigned channels;  // bit ch: the chip of channel ch received register writes
    } rows[] = {
        {param::offsetCh2, 0x2},      {param::offsetCh3, 0x4},      {param::sensitivityCh4, 0x8},
        {param::couplingCh1, 0x1},    {param::bwLimitCh3, 0x4},     {param::minMax, 0xF},
        {param::timeBaseIndex, 0xF},  {param::trigLevelCh2, 0x2},   {param::trigLevelCh1, 0x0},
        {param::trigEdgeCh2, 0x2},    {param::trigSource, 0xF},     {param::userTimeBase, 0x0},
    };
    for (const auto& r : rows) {
        const std::string what = "parameter " + std::to_string(r.parameter);
        EXPECT_EQ(programmedChannels([&] { ProgramFE_Scope(r.parameter, nullptr, &cal); }, what), r.channels) << what;
    }
}

TEST_F(FrontEndScopeTest, PoweringRuleAndMode8000)
{
    acq_ctrl ctrl{};
    data.instrumentMode = 0;
    data.traceOnCh1 = 1;
    ctrl.poweredChannels = 0xABCD;
    ProgramFE(param::traceOnCh1, &ctrl, &cal);
    EXPECT_NE(ctrl.poweredChannels, 0xABCD);
    EXPECT_EQ(ctrl.poweredChannels & 1, 1);

    ctrl.poweredChannels = 0xABCD;
    ProgramFE(param::offsetCh1, &ctrl, &cal);
    EXPECT_EQ(ctrl.poweredChannels, 0xABCD);

    data.instrumentMode = 0x8000;
    ProgramFE(param::traceOnCh1, &ctrl, &cal);
    EXPECT_EQ(ctrl.poweredChannels, 0xABCD);
    EXPECT_EQ(simboard::spiRegister(20) & 0xF, 0u) << "all channels unpowered";
}

TEST_F(FrontEndScopeTest, ResendAllRewritesTheShadow)
{
    data.instrumentMode = 0;
    PositionVerticale(0, 1250);
    const uint32_t writes = simboard::frontEnd(0).registerWrites;
    ProgramFE(-1, nullptr, &cal);
    EXPECT_EQ(simboard::frontEnd(0).registerWrites, writes + kScalingRegisters);
    EXPECT_EQ(chip(0, 18), 0);
    EXPECT_TRUE(simboard::frontEnd(0).held());
}

} // namespace
