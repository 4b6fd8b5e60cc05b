// Sample correction from the calibration: points, bandwidth-limit selection, meter sensitivities
// and factors, probe correction, and the identity fallback for unusable points.
#include "hardware/correction.h"

#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "acquisition/TAcquisition.h"
#include "core/scale.h"
#include "hardware/calibration.h"
#include "hardware/kalvex.h"
#include "tests/support/probes.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int32_t kTop = 393216;
constexpr int32_t kBottom = 655296;

class CorrectionTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        data.hwChannelMask = 15;
        data.instrumentMode = 16;
        std::memcpy(&cal_, &CalibUsine, sizeof cal_);
        std::memset(&r_, 0, sizeof r_);
    }

    void TearDown() override
    {
        unplugAllProbes();
        SimFpgaBoardTest::TearDown();
    }

    void setPoints(int bwl, int channel, int sensitivity, int32_t low, int32_t high)
    {
        setCalibrationRangePoint(cal_, bwl, channel, 0, sensitivity, low);
        setCalibrationRangePoint(cal_, bwl, channel, 1, sensitivity, high);
    }

    void setAllPoints(int32_t low, int32_t high)
    {
        for (int bwl = 0; bwl < 2; ++bwl)
            for (int c = 0; c < 4; ++c)
                for (int s = 0; s < 16; ++s)
                    setPoints(bwl, c, s, low, high);
    }

    void run() { findCorrectionDynamique(&data, &r_, &cal_); }

    void expectIdentity(int channel)
    {
        EXPECT_EQ(r_.span[channel], 262080) << "channel " << channel;
        EXPECT_EQ(r_.zero[channel], 393216) << "channel " << channel;
        EXPECT_EQ(r_.offset[channel], 0) << "channel " << channel;
    }

    calibration cal_;
    acq_ctrl r_;
};

TEST_F(CorrectionTest, IdentityPointsGiveTheIdentity)
{
    setAllPoints(kTop, kBottom);
    for (uint16_t mode : {16, 64, 128}) {
        data.instrumentMode = mode;
        run();
        for (int c = 0; c < 4; ++c) {
            expectIdentity(c);
            EXPECT_EQ(r_.probeGain[c], 1.0);
        }
    }
}

TEST_F(CorrectionTest, FactoryRecordGivesTheIdentityInEveryMode)
{
    for (uint16_t mode : {16, 17, 64, 128, 130}) {
        for (int16_t function : {0, 1, 2, 3, 4}) {
            data.instrumentMode = mode;
            data.meterFunction = function;
            std::memset(&r_, 0x5A, sizeof r_);
            run();
            SCOPED_TRACE("mode " + std::to_string(mode) + " function " + std::to_string(function));
            for (int c = 0; c < 4; ++c)
                expectIdentity(c);
        }
    }
}

TEST_F(CorrectionTest, UnusablePointsFallBackToTheIdentity)
{
    struct Case {
        const char* what;
        int32_t low, high;
        bool identity;
        int32_t span, zero;
    };
    for (const Case& c : std::vector<Case>{
             {"calibrated", 400000, 650000, false, 250000, 386104},
             {"narrowest accepted", 500000, 501000, false, 1000, -27592734},
             {"too narrow", 500000, 500999, true, 0, 0},
             {"equal", 500000, 500000, true, 0, 0},
             {"inverted", kBottom, kTop, true, 0, 0},
             {"zero beyond 32 bits", -2000000000, -1999998000, true, 0, 0},
             {"span beyond 32 bits", -2147483647, 2147483647, true, 0, 0},
         }) {
        SCOPED_TRACE(c.what);
        setPoints(0, 1, 8, c.low, c.high);
        run();
        if (c.identity) {
            expectIdentity(1);
        } else {
            EXPECT_EQ(r_.span[1], c.span);
            EXPECT_EQ(r_.zero[1], c.zero);
            EXPECT_EQ(r_.offset[1], 0);
        }
        expectIdentity(0);  // the factory points of the other channels
    }
}

// Which points a channel uses: distinct spans for the bandwidth-limit-off and -on points.
TEST_F(CorrectionTest, BandwidthLimitStateSelectsThePoints)
{
    constexpr int32_t kOff = 200000, kOn = 250000;
    setAllPoints(kTop, kTop + kOff);
    for (int c = 0; c < 4; ++c)
        for (int s = 0; s < 16; ++s)
            setPoints(1, c, s, kTop, kTop + kOn);

    struct Case {
        const char* what;
        int bandwidthLines;  // 0/1: 300 MHz model, 2: 100 MHz, 3: 60 MHz
        int16_t sensitivity, userTimeBase, minMax, coupling;
        int32_t bwLimit;
        bool on;
    };
    for (const Case& c : std::vector<Case>{
             {"plain", 0, 8, 15, 0, 1, 0, false},
             {"bandwidth limit set", 0, 8, 15, 0, 1, 2, true},
             {"ground coupling", 0, 8, 15, 0, 2, 0, true},
             {"slow time base", 0, 8, 18, 0, 1, 0, true},
             {"slow time base with min/max", 0, 8, 18, 1, 1, 0, false},
             {"300 MHz, sensitivity 10", 0, 10, 15, 0, 1, 0, true},
             {"100 MHz, sensitivity 9", 2, 9, 15, 0, 0, 0, false},
             {"100 MHz, sensitivity 15", 2, 15, 15, 0, 0, 0, true},
             {"60 MHz, sensitivity 0", 3, 0, 15, 0, 1, 0, true},
         }) {
        SCOPED_TRACE(c.what);
        simboard::updateScenario([&](simboard::TScenario& s) { s.bandwidthLines = c.bandwidthLines; });
        data.sensitivityCh3 = c.sensitivity;
        data.userTimeBase = c.userTimeBase;
        data.minMax = c.minMax;
        data.couplingCh3 = c.coupling;
        data.bwLimitCh3 = c.bwLimit;
        run();
        EXPECT_EQ(r_.span[2], c.on ? kOn : kOff);
    }
}

TEST_F(CorrectionTest, MeterFactorsFollowTheMeterSensitivity)
{
    for (int c = 0; c < 4; ++c)
        for (int s = 0; s < 16; ++s) {
            const float g = 1.0f + 0.01f * (16 * c + s);
            std::memcpy(reinterpret_cast<uint8_t*>(&cal_) + offsetof(calibration, meterGain) + 4 * (16 * c + s), &g, 4);
        }
    for (int c = 0; c < 4; ++c)
        for (int range = 0; range < 4; ++range) {
            const float v = 100.0f * (c + 1) + range;
            std::memcpy(reinterpret_cast<uint8_t*>(&cal_) + offsetof(calibration, meterOffset) + 4 * (4 * c + range),
                        &v, 4);
        }

    // Channels 2-4 by their meter range: sensitivities 6, 9, 12, 15 carry the range's offset.
    data.instrumentMode = 128;
    for (int16_t range = 0; range < 4; ++range) {
        data.meterRangeCh2 = data.meterRangeCh3 = data.meterRangeCh4 = range;
        run();
        const int sens = 6 + 3 * range;
        for (int c = 1; c < 4; ++c) {
            EXPECT_FLOAT_EQ(r_.meterFactorA[c], 1.0f + 0.01f * (16 * c + sens)) << c << "/" << range;
            EXPECT_FLOAT_EQ(r_.meterFactorB[c], 100.0f * (c + 1) + range) << c << "/" << range;
        }
    }

    // Channel 1 on other sensitivities has no meter offset: resistance range 2 (sensitivity 7),
    // capacitance range 1 (sensitivity 11).
    data.meterFunction = 1;
    data.ohmRange = 2;
    run();
    EXPECT_FLOAT_EQ(r_.meterFactorA[0], 1.07f);
    EXPECT_EQ(r_.meterFactorB[0], 0.0);
    data.meterFunction = 3;
    data.capaRange = 1;
    run();
    EXPECT_FLOAT_EQ(r_.meterFactorA[0], 1.11f);
    EXPECT_EQ(r_.meterFactorB[0], 0.0);

    // A range without a sensitivity gets neutral factors and the identity.
    data.meterFunction = 0;
    data.meterRangeCh1 = 4;
    run();
    EXPECT_EQ(r_.meterFactorA[0], 1.0);
    EXPECT_EQ(r_.meterFactorB[0], 0.0);
    expectIdentity(0);

    // Outside the meter modes the factors stay as they were.
    data.instrumentMode = 16;
    r_.meterFactorA[2] = 7.5;
    r_.meterFactorB[2] = -3.25;
    run();
    EXPECT_EQ(r_.meterFactorA[2], 7.5);
    EXPECT_EQ(r_.meterFactorB[2], -3.25);
}

// Channel 1's sensitivity and range factor by meter function, read back from the span: the
// bandwidth-limit-on points of sensitivity s are 200000 + 1000 s codes apart.
TEST_F(CorrectionTest, ChannelOneMeterFunctions)
{
    for (int s = 0; s < 16; ++s)
        setPoints(1, 0, s, kTop, kTop + 200000 + 1000 * s);
    for (int r = 0; r < 7; ++r) {
        const float g = 1.0f + 0.25f * r;
        std::memcpy(reinterpret_cast<uint8_t*>(&cal_) + offsetof(calibration, ohmCurrentGain) + 4 * r, &g, 4);
    }
    for (int r = 0; r < 8; ++r) {
        const float g = 0.5f + 0.125f * r;
        std::memcpy(reinterpret_cast<uint8_t*>(&cal_) + offsetof(calibration, capaCurrentGain) + 4 * r, &g, 4);
    }
    data.meterRangeCh1 = 2;  // sensitivity 12
    data.ohmRange = 3;       // sensitivity 6, gain 1.75
    data.capaRange = 0;      // sensitivity 9, gain 0.5

    struct Case {
        const char* what;
        uint16_t mode;
        int16_t function;
        uint16_t probeId;
        int sensitivity;
        double k;
    };
    for (const Case& c : std::vector<Case>{
             {"voltmeter", 128, 0, 0, 12, 1.0},
             {"resistance", 128, 1, 0, 6, 1.75},
             {"continuity: resistance range 0", 130, 2, 0, 0, 1.0},
             {"capacitance", 128, 3, 0, 9, 0.5},
             {"diode: meter range 1", 128, 4, 0, 9, 1.0},
             {"other function", 128, 8, 0, 12, 1.0},
             {"probe 7 takes the meter range", 128, 1, 7, 12, 1.75},
             {"another probe does not", 128, 1, 5, 6, 1.75},
         }) {
        SCOPED_TRACE(c.what);
        unplugAllProbes();
        if (c.probeId)
            linkProbe(0, c.probeId);
        data.instrumentMode = c.mode;
        data.meterFunction = c.function;
        run();
        const double span = (200000.0 + 1000.0 * c.sensitivity) * c.k;
        EXPECT_EQ(r_.span[0], static_cast<int32_t>(span));
        EXPECT_EQ(r_.zero[0], 393216);
        EXPECT_EQ(r_.span[1], 262080);  // channel 2 keeps the factory identity, k 1
    }
}

TEST_F(CorrectionTest, ProbeGainAndOffset)
{
    setAllPoints(kTop, kBottom);
    linkProbe(1, correctedProbe(3, 2.0, 100.0));
    // Channel 2's scale is steered through a stored-memory trace, which scales with its own
    // sensitivity whatever index the correction passes.
    auto* trace = new TAcquisition(512);
    setupLinks().acqCh2 = trace;
    auto setScale = [trace](float wanted) {
        trace->sensitivity = 8;
        trace->probeCoeff = wanted / GetSensitivity(8, SCALE_SCOPE);
        for (int i = 0; i < 8 && std::isfinite(wanted) && GetVerticalScale(trace, SCALE_SCOPE, 0) != wanted; ++i)
            trace->probeCoeff =
                std::nextafter(trace->probeCoeff, GetVerticalScale(trace, SCALE_SCOPE, 0) < wanted ? 1e30f : -1e30f);
    };

    struct Case {
        const char* what;
        float verticalScale;
        int32_t offset, span, zero;
    };
    for (const Case& c : std::vector<Case>{
             {"unit scale", 1.0f, -100, 524160, 458786},
             {"half scale", 0.5f, -200, 524160, 458836},
             {"zero scale: no offset", 0.0f, 0, 524160, 458736},
             {"scale not a number: no offset", std::numeric_limits<float>::quiet_NaN(), 0, 524160, 458736},
         }) {
        SCOPED_TRACE(c.what);
        setScale(c.verticalScale);
        if (std::isfinite(c.verticalScale)) {
            ASSERT_EQ(GetVerticalScale(trace, SCALE_SCOPE, 3), c.verticalScale);
        }
        run();
        EXPECT_EQ(r_.probeGain[1], 2.0);
        EXPECT_EQ(r_.offset[1], c.offset);
        EXPECT_EQ(r_.span[1], c.span);
        EXPECT_EQ(r_.zero[1], c.zero);
        EXPECT_EQ(r_.probeGain[0], 1.0);
        expectIdentity(0);
    }

    // A probe without a correction counts as gain 1, offset 0; an unusable result keeps the gain.
    linkProbe(1, probeWithId(3));
    setScale(1.0f);
    run();
    expectIdentity(1);
    EXPECT_EQ(r_.probeGain[1], 1.0);
    linkProbe(1, correctedProbe(3, 1e-6, 100.0));
    run();
    expectIdentity(1);
    EXPECT_EQ(r_.probeGain[1], 1e-6);
}

TEST_F(CorrectionTest, NothingWithoutACalibrationRecord)
{
    std::memset(&r_, 0x5A, sizeof r_);
    acq_ctrl before = r_;
    EXPECT_EQ(findCorrectionDynamique(&data, &r_, nullptr), 0.0);
    EXPECT_EQ(std::memcmp(&before, &r_, sizeof r_), 0);
}

} // namespace
