// Capacitance front end: per-range table and lookups, the set-up of channel 1, its range and
// its charging ramp.
#include "hardware/frontend_capa.h"

#include "core/gest_db.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/frontend_meter.h"
#include "hardware/scaling.h"

#include <algorithm>

const TCapaParametres CapaParametres[kCapaRanges] = {
    {11, 9, 14, 7, 1, 1, 1, 0, 18},
    {11, 11, 14, 7, 2, 1, 0, 31, 18},
    {11, 11, 14, 7, 2, 1, 0, 31, 21},
    {13, 11, 14, 7, 2, 1, 0, 31, 18},
    {13, 11, 14, 7, 2, 1, 0, 31, 21},
    {14, 11, 14, 7, 2, 1, 0, 31, 21},
    {14, 11, 14, 7, 2, 1, 0, 31, 24},
    {14, 11, 14, 7, 2, 1, 0, 31, 27},
};

double CapaCurrentOfCode(uint8_t currentCode)
{
    switch (currentCode) {
    case 7: return 5e-8;
    case 11: return 2e-6;
    case 13: return 5e-5;
    case 14: return 5e-4;
    default: return 0.0;
    }
}

bool CapaRangeToScopeReglages(int range, unsigned short* timeBase, unsigned short* sensitivity, double* current)
{
    if (range < 0 || range >= kCapaRanges)
        return false;
    const TCapaParametres& row = CapaParametres[range];
    if (timeBase)
        *timeBase = row.timeBase;
    if (sensitivity)
        *sensitivity = row.sensitivity;
    if (current)
        *current = CapaCurrentOfCode(row.currentCode);
    return true;
}

namespace {

constexpr uint16_t kFlagsBoth = SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER;
// Channel 1's position in capacitance: 0 V near the top edge, the ramp falls through the screen.
constexpr int16_t kCapaPosition = 562;
constexpr uint16_t kNoCurrent = 15;

const TCapaParametres& capaRow(int range) { return CapaParametres[std::clamp(range, 0, kCapaRanges - 1)]; }

void setParam(uint16_t channel, int parameter, uint16_t value, uint16_t flags)
{
    to_g_scalingParams[channel][parameter] = value;
    ScalingWrite(channel, to_g_scalingParams[channel], static_cast<int16_t>(parameter), flags);
}

} // namespace

void ConfigurationCapa(uint16_t, calibration* calib)
{
    uint16_t* ch1 = to_g_scalingParams[0];
    ScalingLoadDefaults(SCALING_DEFAULTS_CAPACITANCE, ch1);
    for (uint16_t ch = 1; ch < kScalingChannels; ++ch)
        to_g_scalingParams[ch][23] = 1;
    ch1[23] = 0;
    if (calib != nullptr) {
        ch1[16] = calib->vosBf1[0];
        ch1[1] = calib->pipelineTrim[0];
        ch1[4] = calib->ref2Vp[0];
        ch1[8] = calib->ref2Vn[0];
    }
    ScalingWrite(0, ch1, 23, SCALING_HOLD_BEFORE);
    ScalingWrite(0, ch1, 0, SCALING_RELEASE_AFTER);
    for (uint16_t ch = 1; ch < kScalingChannels; ++ch)
        ScalingWrite(ch, to_g_scalingParams[ch], 23, kFlagsBoth);
    setParam(0, 12, 1, SCALING_HOLD_BEFORE);
    setParam(0, 12, 3, 0);
    setParam(0, 12, 0, SCALING_RELEASE_AFTER);
    MMRelaisCourant(0, true);
    PositionVerticale(0, kCapaPosition);
    pseudoInitCh1 = pseudoInitCh2 = pseudoInitCh3 = pseudoInitCh4 = 0;
    ChipAcqIoctl(CHIPACQ_SCOPE, nullptr);
}

void MMGammeCapa(uint16_t channel, int16_t range, calibration* calib)
{
    if (channel >= kScalingChannels)
        return;
    const TCapaParametres& row = capaRow(range);
    const int s = row.sensitivity;
    setParam(channel, 5, kNoCurrent, SCALING_HOLD_BEFORE);
    if (calib != nullptr) {
        setParam(channel, 25, calib->vosBf2[channel][s], 0);
        setParam(channel, 29, calib->vosGp[0][s], 0);
        setParam(channel, 22, calib->trimP22[0][s], 0);
    }
    const uint8_t gain[6] = {row.p24, row.p27, row.p35, row.p33, row.p34, row.p56};
    constexpr int kGainParams[6] = {24, 27, 35, 33, 34, 56};
    for (int i = 0; i < 6; ++i)
        setParam(channel, kGainParams[i], gain[i], i == 5 ? SCALING_RELEASE_AFTER : 0);
}

void MMRampCapa(bool on)
{
    if (on) {
        setParam(0, 6, 0, kFlagsBoth);
        setParam(0, 5, capaRow(data.capaRange).currentCode, kFlagsBoth);
    } else {
        setParam(0, 5, kNoCurrent, kFlagsBoth);
        setParam(0, 6, 1, kFlagsBoth);
    }
}
