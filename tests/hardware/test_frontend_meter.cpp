// Multimeter front end: parameter values and chip contents after each operation, observed on the
// simulated front-end chips and in the serial log (relay words around each group of writes).
#include "tests/hardware/hwtest.h"

#include "acquisition/acqctrl.h"
#include "core/process.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/frontend_meter.h"
#include "hardware/kalvex.h"
#include "hardware/scaling.h"
#include "tests/support/probes.h"

#include <gtest/gtest.h>

namespace {

class FrontEndMeterTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        setPauseHook([this](int ms) { pauses.push_back(ms); });
        cal = calibration{};
        for (int ch = 0; ch < 4; ++ch)
            for (int s = 0; s < 16; ++s) {
                cal.vosBf2[ch][s] = static_cast<uint8_t>(100 + s);
                cal.trimP61[ch][s] = static_cast<uint8_t>(s & 3);
            }
        FrontEndInit(&cal);
        data.instrumentMode = 128;
        pauses.clear();
    }
    void TearDown() override
    {
        setPauseHook(nullptr);
        unplugAllProbes();
        HardwareTest::TearDown();
    }
    static uint16_t chip(int ch, int p) { return simboard::frontEnd(ch).params[p]; }

    static std::string sequence(int ch, size_t from, bool relayWords = true) { return frontEndSequence(ch, from, relayWords); }
    static size_t mark() { return serialMark(); }

    calibration cal{};
    std::vector<int> pauses;
};

TEST_F(FrontEndMeterTest, RangeLookupsAndTheCurrentRelay)
{
    EXPECT_EQ(MeterRangeToScopeSensibility(0), 6);
    EXPECT_EQ(MeterRangeToScopeSensibility(3), 15);
    EXPECT_EQ(MeterRangeToScopeSensibility(4), -1);
    EXPECT_EQ(OhmRangeToScopeSensibility(3), 6);

    const size_t from = mark();
    MMRelaisCourant(1, true);
    EXPECT_EQ(sequence(1, from), "");
    MMRelaisCourant(0, true);
    EXPECT_EQ(chip(0, 17), 1);
    EXPECT_EQ(chip(0, 2), 1);
    // p17 held, the p2 pulse released: register 3 (p17), register 0 twice.
    EXPECT_EQ(sequence(0, from), "R- 3 0 0 R+ ");
    EXPECT_EQ(pauses, (std::vector<int>{5, 2}));
}

// Coupling values to (p3, p14, p20); coupling 1 and 5 switch p14 by range; one held group.
TEST_F(FrontEndMeterTest, CouplingTable)
{
    const struct {
        int16_t coupling, range;
        uint16_t p3, p14, p20;
    } rows[] = {
        {0, 0, 1, 0, 0}, {4, 0, 1, 0, 1}, {8, 2, 1, 0, 1}, {1, 0, 0, 2, 0}, {1, 3, 0, 1, 0}, {5, 1, 0, 2, 0},
        {2, 0, 0, 0, 0}, {6, 0, 0, 0, 1}, {10, 3, 0, 0, 1}, {3, 0, 0, 0, 0}, {7, 1, 0, 0, 0},
    };
    for (const auto& r : rows) {
        const size_t from = mark();
        MMCouplageVertical(2, r.coupling, r.range);
        EXPECT_EQ(chip(2, 3), r.p3) << r.coupling;
        EXPECT_EQ(chip(2, 14), r.p14) << r.coupling << " range " << r.range;
        EXPECT_EQ(chip(2, 20), r.p20) << r.coupling;
        EXPECT_EQ(sequence(2, from), "R- 0 3 7 R+ ") << r.coupling;
    }
}

TEST_F(FrontEndMeterTest, VoltmeterAndOhmmeterRanges)
{
    for (int16_t range = 0; range < kMeterVoltageRanges; ++range) {
        MMGammeVoltmetre(1, range, &cal);
        const int s = Sensibilite[range];
        EXPECT_EQ(chip(1, 24), voltParams[range][0]);
        EXPECT_EQ(chip(1, 34), voltParams[range][4]);
        EXPECT_EQ(chip(1, 56), voltParams[range][5]);
        EXPECT_EQ(chip(1, 25), cal.vosBf2[1][s]);
        EXPECT_EQ(chip(1, 61), cal.trimP61[1][s]);
        EXPECT_TRUE(simboard::frontEnd(1).held());
    }
    // Outside 0..3: nothing at all.
    const size_t from = mark();
    MMGammeVoltmetre(1, 4, &cal);
    MMGammeVoltmetre(1, -1, &cal);
    EXPECT_EQ(sequence(1, from), "");

    for (int16_t range = 0; range < kOhmRanges; ++range) {
        MMGammeOhmetre(0, range, &cal);
        const TOhmParametres& row = OhmParametres[range];
        EXPECT_EQ(chip(0, 5), row.currentCode);
        EXPECT_EQ(chip(0, 25), cal.vosBf2[0][row.sensitivity]);
        EXPECT_EQ(chip(0, 33), row.p33);
        EXPECT_EQ(chip(0, 56), row.p56);
    }
    MMGammeOhmetre(0, 9, &cal);  // clamped to the last row
    EXPECT_EQ(chip(0, 5), OhmParametres[6].currentCode);
}

// Function 0x8000 changes nothing; functions 1 and 2 only switch the current; other functions
// ground the input at the three DAC positions and restore the saved set-up.
TEST_F(FrontEndMeterTest, OffsetMeasurementSetUp)
{
    ConfigurationMultimetre(&cal, 0xF);
    ConfigurationVoltmetre(1, &cal, 0, 1);
    MMRelaisCourant(0, true);
    MMGammeOhmetre(0, 2, &cal);
    for (uint16_t ch = 0; ch < 4; ++ch)
        ScalingMesureOffsetInit(ch);

    size_t from = mark();
    ScalingMesureOffset(1, static_cast<int16_t>(0x8000), 2);
    EXPECT_EQ(sequence(1, from), "");

    from = mark();
    ScalingMesureOffset(0, 1, 2);
    EXPECT_EQ(chip(0, 6), 1);
    EXPECT_EQ(chip(0, 5), 15);
    EXPECT_EQ(sequence(0, from), "R- 1 1 R+ ");
    ScalingMesureOffset(0, 1, 0);
    EXPECT_EQ(chip(0, 6), 0);
    EXPECT_EQ(chip(0, 5), OhmParametres[2].currentCode);
    EXPECT_EQ(pauses.back(), 300);

    const uint16_t dac[4] = {0, 921, 102, 512};
    for (int type = 1; type <= 3; ++type) {
        ScalingMesureOffset(1, 0, type);
        EXPECT_EQ(chip(1, 18), dac[type]);
        EXPECT_EQ(chip(1, 13), 1);
        EXPECT_EQ(chip(1, 20), 1);
        EXPECT_EQ(pseudoInitCh2, 64);
    }
    ScalingMesureOffset(1, 0, 0);
    EXPECT_EQ(chip(1, 18), 512);
    EXPECT_EQ(chip(1, 13), 0);
    EXPECT_EQ(chip(1, 14), 2);
    EXPECT_EQ(chip(1, 20), 0);
    EXPECT_EQ(pseudoInitCh2, 0);
    EXPECT_TRUE(simboard::frontEnd(1).held());

    // The diode function switches its source off around the measurement.
    ConfigurationDiode(0, &cal);
    ScalingMesureOffsetInit(0);
    ScalingMesureOffset(0, 4, 3);
    EXPECT_EQ(chip(0, 7), 1);
    ScalingMesureOffset(0, 4, 0);
    EXPECT_EQ(chip(0, 7), 0);
}

// Which chips each meter parameter programs; every chip written ends released. Channel 1 in
// continuity takes resistance range 0 whatever ohmRange holds.
TEST_F(FrontEndMeterTest, ProgramFeMeterRows)
{
    data.meterFunction = 2;
    data.ohmRange = 5;
    const struct {
        int32_t parameter;
        unsigned channels;
    } rows[] = {
        {param::traceOnCh1, 0x1},       {param::traceOnCh3, 0x4},      {param::instrumentMode, 0xF},
        {param::meterFunction, 0xF},    {param::calibrationWrite, 0xF}, {param::meterRangeCh1, 0x1},
        {param::ohmRange, 0x1},         {param::meterCouplingCh2, 0x2}, {param::meterRangeCh4, 0x8},
        {-1, 0x1},                      {param::offsetCh1, 0x0},        {param::sensitivityCh2, 0x0},
    };
    for (const auto& r : rows) {
        const std::string what = "parameter " + std::to_string(r.parameter);
        EXPECT_EQ(programmedChannels([&] { ProgramFE_Meter(r.parameter, nullptr, &cal); }, what), r.channels) << what;
    }
    EXPECT_EQ(chip(0, 5), OhmParametres[0].currentCode);
    EXPECT_EQ(chip(0, 17), 1) << "continuity closes the current relay";
    EXPECT_EQ(chip(0, 18), 282) << "ohmmeter position 562";

    // Set-ups end with the settling pause.
    pauses.clear();
    ProgramFE_Meter(param::traceOnCh2, nullptr, &cal);
    EXPECT_EQ(pauses.back(), 200);

    // The diode function: relay step closes then opens p17, the diode source on (p7 = 0).
    data.meterFunction = 4;
    ProgramFE_Meter(param::meterFunction, nullptr, &cal);
    EXPECT_EQ(chip(0, 17), 0);
    EXPECT_EQ(chip(0, 7), 0);
    EXPECT_EQ(chip(0, 5), 15);
}

// A probe with id 7 selects the meter range itself: the range step programs the voltage range
// and never the resistance range or the coupling.
TEST_F(FrontEndMeterTest, ProbeIdSevenTakesTheMeterRange)
{
    data.meterFunction = 1;
    data.meterRangeCh1 = 2;
    data.ohmRange = 0;
    data.meterCouplingCh2 = 1;
    data.meterRangeCh2 = 0;
    linkProbe(0, 7);
    linkProbe(1, 7);

    MMGammeOhmetre(0, 0, &cal);
    ProgramFE_Meter(param::meterRangeCh1, nullptr, &cal);
    EXPECT_EQ(chip(0, 24), voltParams[2][0]);
    EXPECT_EQ(chip(0, 5), OhmParametres[0].currentCode) << "no resistance range";

    MMCouplageVertical(1, 0, 0);
    ProgramFE_Meter(param::meterRangeCh2, nullptr, &cal);
    EXPECT_EQ(chip(1, 3), 1) << "coupling left as it was";
    EXPECT_EQ(chip(1, 24), voltParams[0][0]);

    setSmartProbeLink(1, nullptr);
    ProgramFE_Meter(param::meterRangeCh2, nullptr, &cal);
    EXPECT_EQ(chip(1, 3), 0);
    EXPECT_EQ(chip(1, 14), 2);
}

} // namespace
