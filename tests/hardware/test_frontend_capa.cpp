// Harmonic and capacitance front end: chip contents and relay words after each operation on the
// simulated front-end chips.
#include "tests/hardware/hwtest.h"

#include "core/process.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/frontend_capa.h"
#include "hardware/scaling.h"

#include <gtest/gtest.h>

namespace {

class FrontEndCapaTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        setPauseHook([this](int ms) { pauses.push_back(ms); });
        cal = calibration{};
        for (int ch = 0; ch < 4; ++ch) {
            cal.vosBf1[ch] = static_cast<uint8_t>(40 + ch);
            for (int s = 0; s < 16; ++s) {
                cal.vosBf2[ch][s] = static_cast<uint8_t>(100 + s);
                cal.vosGp[ch][s] = static_cast<uint8_t>(10 * ch + s);
                cal.trimP22[ch][s] = static_cast<uint8_t>(60 + 10 * ch + s);
            }
        }
        FrontEndInit(&cal);
        pauses.clear();
    }
    void TearDown() override
    {
        setPauseHook(nullptr);
        HardwareTest::TearDown();
    }
    static uint16_t chip(int ch, int p) { return simboard::frontEnd(ch).params[p]; }

    static std::string sequence(int ch, size_t from, bool relayWords = true) { return frontEndSequence(ch, from, relayWords); }
    static size_t mark() { return serialMark(); }

    calibration cal{};
    std::vector<int> pauses;
};

// Ramp on: the range's current; off: no current and the discharge switch, whatever the range
// (a range outside 0..7 from a recalled setup is clamped).
TEST_F(FrontEndCapaTest, RampOnAndOff)
{
    for (int16_t range : {0, 3, 5, 7, 9, -2}) {
        data.capaRange = range;
        MMRampCapa(true);
        EXPECT_EQ(chip(0, 6), 0) << range;
        EXPECT_EQ(chip(0, 5), CapaParametres[std::clamp<int>(range, 0, 7)].currentCode) << range;
        MMRampCapa(false);
        EXPECT_EQ(chip(0, 5), 15) << range;
        EXPECT_EQ(chip(0, 6), 1) << range;
        EXPECT_TRUE(simboard::frontEnd(0).held());
    }
}

TEST_F(FrontEndCapaTest, ConfigurationAndRange)
{
    size_t from = mark();
    ConfigurationCapa(0, &cal);
    for (int ch = 1; ch < 4; ++ch) {
        EXPECT_EQ(sequence(ch, from, false), "8 ") << ch;
        EXPECT_EQ(chip(ch, 23), 1) << ch;
    }
    EXPECT_EQ(chip(0, 23), 0);
    EXPECT_EQ(chip(0, 16), cal.vosBf1[0]);
    EXPECT_EQ(chip(0, 17), 1) << "current relay closed";
    EXPECT_EQ(chip(0, 12), 0);
    EXPECT_EQ(chip(0, 18), 282) << "position 562";
    EXPECT_TRUE(simboard::frontEnd(0).held());

    for (int16_t range = 0; range < kCapaRanges; ++range) {
        MMGammeCapa(0, range, &cal);
        const TCapaParametres& row = CapaParametres[range];
        EXPECT_EQ(chip(0, 5), 15) << range;
        EXPECT_EQ(chip(0, 25), cal.vosBf2[0][row.sensitivity]);
        EXPECT_EQ(chip(0, 29), cal.vosGp[0][row.sensitivity]);
        EXPECT_EQ(chip(0, 22), cal.trimP22[0][row.sensitivity]);
        EXPECT_EQ(chip(0, 24), row.p24);
        EXPECT_EQ(chip(0, 35), row.p35);
        EXPECT_EQ(chip(0, 34), row.p34);
        EXPECT_EQ(chip(0, 56), row.p56);
        EXPECT_TRUE(simboard::frontEnd(0).held());
    }
    // Another channel takes its own p25 but channel 1's p29 and p22.
    MMGammeCapa(2, 4, &cal);
    EXPECT_EQ(chip(2, 25), cal.vosBf2[2][11]);
    EXPECT_EQ(chip(2, 29), cal.vosGp[0][11]);
    EXPECT_EQ(chip(2, 22), cal.trimP22[0][11]);
}

// Which chips each harmonic parameter programs; each ends released; trigger parameters and the
// time base change nothing.
TEST_F(FrontEndCapaTest, ProgramFeHarmonicRows)
{
    data.instrumentMode = 64;
    data.sensitivityCh2 = 5;
    data.offsetCh3 = 100;
    const struct {
        int32_t parameter;
        unsigned channels;
    } rows[] = {
        {param::traceOnCh1, 0x1},     {param::traceOnCh4, 0x8},     {param::couplingCh2, 0x2},
        {param::sensitivityCh2, 0x2}, {param::offsetCh3, 0x4},      {param::bwLimitCh4, 0x8},
        {param::instrumentMode, 0xF}, {param::harmPower, 0xF},      {29, 0xF},
        {param::calibrationWrite, 0xF}, {113, 0x0},                 {param::trigSource, 0x0},
        {param::timeBaseIndex, 0x0},
    };
    for (const auto& r : rows) {
        const std::string what = "parameter " + std::to_string(r.parameter);
        EXPECT_EQ(programmedChannels([&] { ProgramFE(r.parameter, nullptr, &cal); }, what), r.channels) << what;
    }
    EXPECT_EQ(chip(1, 24), to_l_voltParams[5][0]);
    EXPECT_EQ(chip(0, 17), 0) << "current relay open";
    EXPECT_EQ(chip(2, 16), cal.vosBf1[2]);

    pauses.clear();
    size_t from = mark();
    ConfigurationHarmonic(&cal);
    // p23 (register 8), the relay pulse on channel 1 only, all registers, then the p12 pulse.
    EXPECT_EQ(sequence(1, from), "R- 8 R+ R- 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 R+ R- 2 2 R+ ");
    EXPECT_EQ(chip(1, 12), 0);
    ProgramFE_Harmonic(param::instrumentMode, nullptr, &cal);
    EXPECT_NE(std::find(pauses.begin(), pauses.end(), 200), pauses.end());
}

} // namespace
