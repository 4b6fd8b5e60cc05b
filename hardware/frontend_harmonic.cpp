// Harmonic-analyser front end: the scope's channels with the harmonic default set, no trigger
// programming and the bandwidth state of a fixed time base.
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/calibration.h"
#include "hardware/frontend.h"
#include "hardware/frontend_meter.h"
#include "hardware/scaling.h"

namespace {

constexpr uint16_t kFlagsBoth = SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER;
constexpr int16_t kHarmonicTimeBase = 18;
constexpr int kConfigurationSettleMs = 200;

struct TChannel {
    int16_t offset, coupling, sensitivity;
    int32_t bwLimit;
};

TChannel channelSetup(uint16_t channel)
{
    const database& d = data;
    switch (channel) {
    case 0: return {d.offsetCh1, d.couplingCh1, d.sensitivityCh1, d.bwLimitCh1};
    case 1: return {d.offsetCh2, d.couplingCh2, d.sensitivityCh2, d.bwLimitCh2};
    case 2: return {d.offsetCh3, d.couplingCh3, d.sensitivityCh3, d.bwLimitCh3};
    default: return {d.offsetCh4, d.couplingCh4, d.sensitivityCh4, d.bwLimitCh4};
    }
}

void bandwidth(uint16_t channel)
{
    const TChannel c = channelSetup(channel);
    CouplageBwlVertical(channel, c.sensitivity, c.coupling, c.bwLimit, kHarmonicTimeBase);
}

void position(uint16_t channel) { PositionVerticale(channel, channelSetup(channel).offset); }

void sensitivityStep(uint16_t channel, calibration* calib)
{
    SetSensitivityCalibr(channel, channelSetup(channel).sensitivity, calib);
    bandwidth(channel);
}

// All registers from the channel's set, then its sensitivity and position.
void wholeChannel(uint16_t channel, calibration* calib)
{
    ScalingWrite(channel, to_g_scalingParams[channel], 0, kFlagsBoth);
    sensitivityStep(channel, calib);
    position(channel);
}

} // namespace

void ConfigurationHarmonic(calibration* calib)
{
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        uint16_t* set = to_g_scalingParams[ch];
        ScalingLoadDefaults(SCALING_DEFAULTS_HARMONIC, set);
        ScalingWrite(ch, set, 23, kFlagsBoth);
        MMRelaisCourant(ch, false);
        ChannelReferenceTrims(ch, set, calib);
        ScalingWrite(ch, set, 0, kFlagsBoth);
        set[12] = 3;
        ScalingWrite(ch, set, 12, SCALING_HOLD_BEFORE);
        set[12] = 0;
        ScalingWrite(ch, set, 12, SCALING_RELEASE_AFTER);
    }
}

void ProgramFE_Harmonic(int32_t parameter, acq_ctrl*, calibration* calib)
{
    using namespace param;
    switch (parameter) {
    case traceOnCh1: case traceOnCh2: case traceOnCh3: case traceOnCh4:
        wholeChannel(static_cast<uint16_t>((parameter - traceOnCh1) / 2), calib);
        return;
    case couplingCh1: case couplingCh2: case couplingCh3: case couplingCh4: {
        const uint16_t ch = static_cast<uint16_t>((parameter - couplingCh1) / 2);
        sensitivityStep(ch, calib);
        position(ch);
        return;
    }
    case sensitivityCh1: case sensitivityCh2: case sensitivityCh3: case sensitivityCh4: {
        const uint16_t ch = static_cast<uint16_t>(parameter - sensitivityCh1);
        sensitivityStep(ch, calib);
        position(ch);
        return;
    }
    case offsetCh1: case offsetCh2: case offsetCh3: case offsetCh4:
        position(static_cast<uint16_t>(parameter - offsetCh1));
        return;
    case 29: case instrumentMode: case calibrationWrite: case harmPower:
        ConfigurationHarmonic(calib);
        pauseMs(kConfigurationSettleMs);
        for (uint16_t ch = 0; ch < kScalingChannels; ++ch)
            wholeChannel(ch, calib);
        return;
    case bwLimitCh1: case bwLimitCh2: case bwLimitCh3: case bwLimitCh4:
        bandwidth(static_cast<uint16_t>(parameter - bwLimitCh1));
        return;
    default: return;
    }
}
