// Per-channel sample correction from the calibration record.
#include "hardware/correction.h"

#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "hardware/calibration.h"
#include "hardware/frontend_capa.h"
#include "hardware/frontend_meter.h"
#include "hardware/frontend_scope.h"
#include "hardware/kalvex.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kScreenTop = 393216.0;   // 0x60000
constexpr double kScreenCentre = 524256.0; // 0x7FFE0
constexpr double kScreenHeight = 262080.0;

TAcquisition* traceOf(int channel)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const traces[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return traces[channel];
}

bool fitsInt32(double v)
{
    return std::isfinite(v) && v >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
           v < static_cast<double>(std::numeric_limits<int32_t>::max()) + 1.0;
}

// Sensitivity of channel 1 in the meter modes.
int meterSensitivityCh1(const database& s)
{
    const std::shared_ptr<TKalvex> probe = smartProbeLink(0);
    if (probe && probe->id == 7)
        return MeterRangeToScopeSensibility(s.meterRangeCh1);
    switch (s.meterFunction) {
    case 1: return OhmRangeToScopeSensibility(s.ohmRange);
    case 2: return OhmRangeToScopeSensibility(0);
    case 3: {
        unsigned short sens = 0;
        return CapaRangeToScopeReglages(s.capaRange, nullptr, &sens, nullptr) ? sens : -1;
    }
    case 4: return MeterRangeToScopeSensibility(1);
    default: return MeterRangeToScopeSensibility(s.meterRangeCh1);
    }
}

// Range factor of channel 1 in the meter modes (1.0 for the voltmeter and for unknown ranges).
double rangeFactorCh1(const database& s, const calibration& cal)
{
    switch (s.meterFunction) {
    case 1:
        return s.ohmRange >= 0 && s.ohmRange < 7 ? calibrationOhmCurrentGain(cal, s.ohmRange) : 1.0;
    case 2: return calibrationOhmCurrentGain(cal, 0);
    case 3:
        return s.capaRange >= 0 && s.capaRange < 8 ? calibrationCapaCurrentGain(cal, s.capaRange) : 1.0;
    default: return 1.0;
    }
}

} // namespace

double findCorrectionDynamique(database* setup, acq_ctrl* record, calibration* cal)
{
    if (!setup || !record || !cal)
        return 0.0;
    const database& s = *setup;
    const bool meterModes = s.instrumentMode >= 128 && s.instrumentMode <= 130;
    const bool meterBit = (s.instrumentMode & 0x80) != 0;
    const int16_t sensitivities[4] = {s.sensitivityCh1, s.sensitivityCh2, s.sensitivityCh3, s.sensitivityCh4};
    const int32_t bwLimits[4] = {s.bwLimitCh1, s.bwLimitCh2, s.bwLimitCh3, s.bwLimitCh4};
    const int16_t couplings[4] = {s.couplingCh1, s.couplingCh2, s.couplingCh3, s.couplingCh4};
    const int16_t meterRanges[4] = {s.meterRangeCh1, s.meterRangeCh2, s.meterRangeCh3, s.meterRangeCh4};

    for (int c = 0; c < 4; ++c) {
        // 1. Sensitivity and bandwidth-limit state.
        int sens;
        int bwl;
        if (!meterModes) {
            sens = sensitivities[c];
            bwl = bwLimits[c] != 0 || couplings[c] == 2 ||
                  getBwleState(sens, data.userTimeBase > 17, static_cast<unsigned short>(data.minMax)) != 0;
        } else {
            bwl = 1;
            sens = c == 0 ? meterSensitivityCh1(s) : MeterRangeToScopeSensibility(meterRanges[c]);
        }
        const bool sensValid = sens >= 0 && sens < kCalibSensitivities;

        // 3. Range factor.
        const double k = c == 0 && meterBit ? rangeFactorCh1(s, *cal) : 1.0;

        // 4. Meter factors (a range without a sensitivity gets neutral ones).
        if (meterBit) {
            if (sensValid) {
                record->meterFactorA[c] = calibrationMeterGain(*cal, c, sens);
                record->meterFactorB[c] =
                    sens % 3 == 0 && sens >= 6 ? calibrationMeterOffset(*cal, c, (sens - 6) / 3) : 0.0;
            } else {
                record->meterFactorA[c] = 1.0;
                record->meterFactorB[c] = 0.0;
            }
        }

        // 5. Probe gain g and offset p.
        double g = 1.0;
        double p = 0.0;
        if (const std::shared_ptr<TKalvex> probe = smartProbeLink(c))
            probe->getCorrection(&g, &p);
        // 7.
        record->probeGain[c] = g;

        bool accepted = false;
        if (sensValid) {
            // 2. The points of the channel's state and sensitivity.
            const double low = calibrationRangePoint(*cal, bwl, c, 0, sens);
            const double high = calibrationRangePoint(*cal, bwl, c, 1, sens);
            // 6. Probe offset in codes; no usable scale means no offset.
            const double v = GetVerticalScale(traceOf(c), SCALE_SCOPE, static_cast<short>(sens));
            double d = 0.0;
            if (v != 0.0 && std::isfinite(v))
                d = (-p / v) * ((high - low) * k) / kScreenHeight;
            // 8. Points with the probe applied.
            const double lowP = std::trunc(d + std::trunc(g * (low - kScreenCentre)) + kScreenCentre);
            const double highP = std::trunc(d + std::trunc(g * (high - kScreenCentre)) + kScreenCentre);
            // 9. Span and zero.
            const double span = (highP - lowP) * k;
            const double zero = (kScreenTop - lowP) * kScreenHeight / span + kScreenTop;
            if (fitsInt32(d) && fitsInt32(span) && std::trunc(span) >= kMinimumSpan && fitsInt32(zero)) {
                record->offset[c] = static_cast<int32_t>(d);
                record->span[c] = static_cast<int32_t>(span);
                record->zero[c] = static_cast<int32_t>(zero);
                accepted = true;
            }
        }
        if (!accepted) {
            record->offset[c] = 0;
            record->span[c] = kIdentitySpan;
            record->zero[c] = kIdentityZero;
        }
    }
    return 0.0;
}
