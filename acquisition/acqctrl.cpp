// The acquisition control record and its application after a setup change, one routine per
// instrument mode.
#include "acquisition/acqctrl.h"

#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "hardware/correction.h"
#include "hardware/frontend_capa.h"

#include <limits>
#include <type_traits>

static_assert(std::is_trivial<acq_ctrl>::value && std::is_standard_layout<acq_ctrl>::value,
              "acq_ctrl is a plain record");

namespace {

// The complete application of each mode.
constexpr uint32_t kComplete = 29;
constexpr uint32_t kModeParameter = param::instrumentMode;

// Points of the harmonic, meter and capacitance records.
constexpr int32_t kShortRecord = 2500;

TFonction* mathFunctionOf(int channel)
{
    const TSetupLinks& l = setupLinks();
    TFonction* const f[4] = {l.mathFunctionCh1, l.mathFunctionCh2, l.mathFunctionCh3, l.mathFunctionCh4};
    return f[channel];
}

bool defined(TFonction* f)
{
    return f && f->IsDefined();
}

bool traceOn(const database& s, int channel)
{
    const uint8_t on[4] = {s.traceOnCh1, s.traceOnCh2, s.traceOnCh3, s.traceOnCh4};
    return on[channel] != 0;
}

int16_t sensitivityOf(const database& s, int channel)
{
    const int16_t v[4] = {s.sensitivityCh1, s.sensitivityCh2, s.sensitivityCh3, s.sensitivityCh4};
    return v[channel];
}

int16_t trigEdgeOf(const database& s, int channel)
{
    const int16_t v[4] = {s.trigEdgeCh1, s.trigEdgeCh2, s.trigEdgeCh3, s.trigEdgeCh4};
    return v[channel];
}

double correction(database* setup, acq_ctrl* ctrl, calibration* cal)
{
    return findCorrectionDynamique(setup, ctrl, cal);
}

// Edges of the trigger and qualifier sources; a source that is no channel (external, line, none)
// has no edge of its own and gets 0.
void applyEdges(const database& s, acq_ctrl* ctrl)
{
    ctrl->triggerEdge = s.trigSource >= 0 && s.trigSource < 4 ? static_cast<uint16_t>(trigEdgeOf(s, s.trigSource)) : 0;
    ctrl->qualifierEdge = s.qualifSource >= 0 && s.qualifSource < 4 ? trigEdgeOf(s, s.qualifSource) : 0;
}

void applySensGroups(const database& s, acq_ctrl* ctrl)
{
    for (int c = 0; c < 4; ++c)
        ctrl->sensGroup[c] = sensGroupOf(sensitivityOf(s, c));
}

uint16_t scopeAcqFlags(const database& s, uint16_t timeBase)
{
    uint16_t flags = static_cast<uint16_t>((s.traceMode & 3) | (s.minMax != 0 ? 4 : 0));
    if (timeBase < 18)
        flags |= 0x20;  // equivalent-time sampling
    else if (timeBase <= 24)
        flags |= 0x90;
    else
        flags |= s.trigMode == 2 ? 0xC0 : 0x80;
    return flags;
}

void applyAveraging(const database& s, acq_ctrl* ctrl)
{
    ctrl->averaging = s.repSig != 0 && s.minMax != 1;
    ctrl->averageIndex = ctrl->averaging ? s.averageCount : 0;
}

// Fixed record of the meter and capacitance acquisitions (2500 points, no trigger position).
// The fixed short record of the meter, capacitance and harmonic acquisitions.
void applyMeterConstants(acq_ctrl* ctrl)
{
    ctrl->dispWidth = 1.0f;
    ctrl->triggerOffset = 0;
    ctrl->preTrigger = 0;
    ctrl->averageIndex = 0;
    ctrl->triggerSource = 0;
    ctrl->accumulate = 0;
    ctrl->dispPosition = 0;
    ctrl->triggerOffsetFrac = 0;
    ctrl->triggerEdge = 0;
    ctrl->qualifierEdge = 0;
    ctrl->postTrigger = kShortRecord;
    ctrl->decimation = 1;
    for (uint32_t& g : ctrl->sensGroup)
        g = 3;
}

void applyPowerMode(const database& s, acq_ctrl* ctrl)
{
    ctrl->powerMode = s.harmPower != 0;
    if (ctrl->powerMode) {
        TFonction* f = setupLinks().powerFunctionA;
        ctrl->acqChannels = f ? f->VoiesSrc() : 0;
    }
}

} // namespace

uint32_t sensGroupOf(int sensitivity)
{
    if (sensitivity <= 7)
        return 0;
    if (sensitivity <= 9)
        return 1;
    if (sensitivity <= 12)
        return 2;
    return 3;
}

void ParametresTemporels(database* setup, acq_ctrl* ctrl)
{
    const database& s = *setup;
    // 1. Zoom window.
    if (s.traceFormat == 1 || s.traceFormat == 2 || s.zoomState != 2) {
        ctrl->dispPosition = 0;
        ctrl->dispWidth = 40.0f;
    } else {
        ctrl->dispPosition = s.horizPosition;
        ctrl->dispWidth = s.zoomWidth;
    }

    // 2. The user's time base, not the displayed one. Single precision: 1e-8f * 1e12f is
    // exactly 10000, the double product truncates to 9999. From 5 ms a point (index 32) the
    // picoseconds exceed 32 bits: they saturate (only the fast time bases use the value).
    ctrl->timeBase = static_cast<uint16_t>(s.userTimeBase);
    const float scale = GetHorizontalScaleT(ctrl->timeBase);
    const float scalePs = scale * 1e12f;
    ctrl->horizScalePs = scalePs >= 2147483648.0f ? std::numeric_limits<int32_t>::max()
                                                  : static_cast<int32_t>(scalePs);

    // 3. Divisor and decimation. A time base outside the table has no scale: divisor 1.
    int32_t d = 1;
    if (ctrl->timeBase <= 17) {
        ctrl->decimation = 1;
        if (scale > 0.0f) {
            const float half = 0.5f * scale;
            d = static_cast<int32_t>((static_cast<double>(half) + 8e-9) / static_cast<double>(scale));
        }
    } else if (ctrl->timeBase <= 24) {
        // Single-precision quotient: in double 4e-6f / 1e-7f gives 39.99... and truncates to 39.
        const float q = GetHorizontalScaleT(23) / scale;
        d = static_cast<int32_t>(q);
    }
    if (d <= 0)
        d = 1;
    if (ctrl->timeBase > 17)
        ctrl->decimation = static_cast<uint16_t>(d);

    // 4.
    ctrl->accumulate = s.traceMode == 4;

    // 5. Trigger position; 64-bit intermediates so the extreme offsets cannot overflow.
    const int64_t o = s.sweepOffset;
    ctrl->triggerOffset = static_cast<int32_t>(o / d);
    ctrl->triggerOffsetFrac = static_cast<int32_t>(((o % d) * 1024) / d);
    ctrl->preTrigger = static_cast<uint32_t>(o < 0 ? -o : 0);
    ctrl->postTrigger = static_cast<uint32_t>(o + (ctrl->timeBase <= 17 && o >= 0 ? 102400 : 100000));
}

double ScopeParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl)
{
    const database& s = *setup;

    // Channel masks.
    ctrl->shownChannels = s.channelFlags & 0x1FFF;
    ctrl->acqChannels = 0;
    uint16_t sources = 0;
    for (int c = 0; c < 4; ++c) {
        if (!traceOn(s, c))
            continue;
        TFonction* f = mathFunctionOf(c);
        if (defined(f))
            sources |= f->VoiesSrc();
        else if (s.hwChannelMask & (1u << c))
            ctrl->acqChannels |= 1u << c;
    }
    // Sources that show a memory trace are not acquired.
    ctrl->acqChannels |= sources & ~((s.channelFlags >> 8) & 0xF) & (s.hwChannelMask | 0xFF0);

    switch (parameter) {
    case param::traceMode:
    case param::autosetRequest:
    case kComplete:
    case param::minMax:
    case kModeParameter:
        applyAveraging(s, ctrl);
        ctrl->triggerT2 = static_cast<uint32_t>(s.pulseT2);
        ctrl->triggerEventCount = static_cast<uint32_t>(s.eventCount);
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        ctrl->triggerT1 = static_cast<uint32_t>(s.pulseT1);
        ctrl->triggerType = static_cast<uint16_t>(s.trigType);
        ctrl->holdoff = static_cast<uint32_t>(s.trigHoldoff);
        ctrl->triggerDelay = s.trigDelay;
        ctrl->pulseCondition = static_cast<uint16_t>(s.pulseType);
        ParametresTemporels(setup, ctrl);
        ctrl->qualifierSource = static_cast<uint16_t>(s.qualifSource);
        ctrl->triggerSource = static_cast<uint16_t>(s.trigSource);
        ctrl->triggerMode = static_cast<uint16_t>(s.trigMode);
        ctrl->acqFlags = scopeAcqFlags(s, ctrl->timeBase);
        applyEdges(s, ctrl);
        applySensGroups(s, ctrl);
        ctrl->pfSource = s.passFailSource;
        ctrl->saveRestartOn = s.saveRestart;
        ctrl->pfDisplay = s.passFailDisplay;
        ctrl->pfBeep = s.passFailBeep;
        ctrl->pfActive = s.passFailOn != 0 && s.passFailRunStop != 0;
        return correction(setup, ctrl, cal);
    case param::acqRunStop:
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        return 0.0;
    case param::sweepOffset:
    case param::horizPosition:
    case param::zoomState:
    case param::fftZoomWidth:
    case param::fftHorizPosition:
    case param::fftZoomState:
    case param::traceFormat:
        ParametresTemporels(setup, ctrl);
        return 0.0;
    case param::trigMode:
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        ctrl->triggerMode = static_cast<uint16_t>(s.trigMode);
        ParametresTemporels(setup, ctrl);
        ctrl->acqFlags = scopeAcqFlags(s, ctrl->timeBase);
        return correction(setup, ctrl, cal);
    case param::trigHoldoff:
        ctrl->holdoff = static_cast<uint32_t>(s.trigHoldoff);
        return 0.0;
    case param::zoomWidth:
    case param::timeBaseIndex:
        ParametresTemporels(setup, ctrl);
        ctrl->acqFlags = scopeAcqFlags(s, ctrl->timeBase);
        return parameter == param::timeBaseIndex ? correction(setup, ctrl, cal) : 0.0;
    case param::averageCount:
        ctrl->averageIndex = ctrl->averaging ? s.averageCount : 0;
        return 0.0;
    case param::sensitivityCh1:
    case param::sensitivityCh2:
    case param::sensitivityCh3:
    case param::sensitivityCh4: {
        const int c = static_cast<int>(parameter - param::sensitivityCh1);
        ctrl->sensGroup[c] = sensGroupOf(sensitivityOf(s, c));
        return correction(setup, ctrl, cal);
    }
    case param::trigSource:
        ctrl->triggerSource = static_cast<uint16_t>(s.trigSource);
        return 0.0;
    case param::repSig:
        applyAveraging(s, ctrl);
        return correction(setup, ctrl, cal);
    case param::qualifSource:
        ctrl->qualifierSource = static_cast<uint16_t>(s.qualifSource);
        return 0.0;
    case param::trigDelay:
        ctrl->triggerDelay = s.trigDelay;
        return 0.0;
    case param::eventCount:
        ctrl->triggerEventCount = static_cast<uint32_t>(s.eventCount);
        return 0.0;
    case param::pulseT1:
        ctrl->triggerT1 = static_cast<uint32_t>(s.pulseT1);
        return 0.0;
    case param::pulseType:
        ctrl->pulseCondition = static_cast<uint16_t>(s.pulseType);
        return 0.0;
    case param::trigType:
        ctrl->triggerType = static_cast<uint16_t>(s.trigType);
        return 0.0;
    case param::pulseT2:
        ctrl->triggerT2 = static_cast<uint32_t>(s.pulseT2);
        return 0.0;
    case param::trigEdgeCh1:
    case param::trigEdgeCh2:
    case param::trigEdgeCh3:
    case param::trigEdgeCh4: {
        const int c = static_cast<int>(parameter - param::trigEdgeCh1);
        if (s.trigSource == c)
            ctrl->triggerEdge = static_cast<uint16_t>(trigEdgeOf(s, c));
        if (s.qualifSource == c)
            ctrl->qualifierEdge = trigEdgeOf(s, c);
        return 0.0;
    }
    case param::saveRestart:
        ctrl->saveRestartOn = s.saveRestart;
        return 0.0;
    case param::passFailSource:
        ctrl->pfSource = s.passFailSource;
        return 0.0;
    case param::passFailDisplay:
        ctrl->pfDisplay = s.passFailDisplay;
        return 0.0;
    case param::passFailBeep:
        ctrl->pfBeep = s.passFailBeep;
        return 0.0;
    case param::passFailRunStop:
        ctrl->pfActive = s.passFailOn != 0 && s.passFailRunStop != 0;
        return 0.0;
    case param::traceOnCh1:
    case param::couplingCh1:
    case param::traceOnCh2:
    case param::couplingCh2:
    case param::traceOnCh3:
    case param::couplingCh3:
    case param::traceOnCh4:
    case param::couplingCh4:
    case param::bwLimitCh1:
    case param::bwLimitCh2:
    case param::bwLimitCh3:
    case param::bwLimitCh4:
        return correction(setup, ctrl, cal);
    default:
        return 0.0;
    }
}

double HarmonicParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl)
{
    const database& s = *setup;
    ctrl->acqChannels = 0;
    for (int c = 0; c < 4; ++c) {
        if (traceOn(s, c) && (s.hwChannelMask & (1u << c)) && !defined(mathFunctionOf(c)))
            ctrl->acqChannels |= 1u << c;
    }
    ctrl->shownChannels = ctrl->acqChannels;
    ctrl->acqMode = ACQ_MODE_HARMONIC;

    switch (parameter) {
    case param::acqRunStop:
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        return 0.0;
    case param::traceOnCh1:
    case param::traceOnCh2:
    case param::traceOnCh3:
    case param::traceOnCh4:
    case param::sensitivityCh1:
    case param::sensitivityCh2:
    case param::sensitivityCh3:
    case param::sensitivityCh4:
    case param::bwLimitCh1:
    case param::bwLimitCh2:
    case param::bwLimitCh3:
    case param::bwLimitCh4:
        return correction(setup, ctrl, cal);
    case kComplete:
    case kModeParameter: {
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        applyMeterConstants(ctrl);
        ctrl->averageIndex = s.averageCount;
        ctrl->timeBase = 23;
        ctrl->triggerMode = 1;
        ctrl->acqFlags = ACQ_FLAGS_HARMONIC;
        const double result = correction(setup, ctrl, cal);
        applyPowerMode(s, ctrl);
        ctrl->harmonicFreqSel = s.harmonicFreq;
        return result;
    }
    case param::averageCount:
        ctrl->averageIndex = s.averageCount;
        return 0.0;
    case param::harmPower:
        applyPowerMode(s, ctrl);
        return 0.0;
    case param::harmonicFreq:
        ctrl->harmonicFreqSel = s.harmonicFreq;
        return 0.0;
    default:
        return 0.0;
    }
}

double MeterParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl)
{
    const database& s = *setup;
    // Continuity, capacitance and diode use channel 1 alone.
    const bool channel1Only = s.meterFunction >= 2 && s.meterFunction <= 4;
    ctrl->acqChannels = 0;
    for (int c = 0; c < 4; ++c) {
        if (c > 0 && channel1Only)
            break;
        if (traceOn(s, c) && (s.hwChannelMask & (1u << c)))
            ctrl->acqChannels |= 1u << c;
    }
    ctrl->shownChannels = ctrl->acqChannels;
    ctrl->acqMode = ACQ_MODE_METER;

    switch (parameter) {
    case param::acqRunStop:
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        return 0.0;
    case param::traceOnCh1:
    case param::traceOnCh2:
    case param::traceOnCh3:
    case param::traceOnCh4:
    case param::meterCouplingCh1:
    case param::meterRangeCh1:
    case param::meterCouplingCh2:
    case param::meterRangeCh2:
    case param::meterCouplingCh3:
    case param::meterRangeCh3:
    case param::meterCouplingCh4:
    case param::meterRangeCh4:
    case param::ohmRange:
    case param::capaRange:
        return cal ? correction(setup, ctrl, cal) : 0.0;
    case kComplete:
    case kModeParameter:
    case param::meterFunction: {
        ctrl->acqFlags = s.meterFunction == 2 ? ACQ_FLAGS_CONTINUITY : ACQ_FLAGS_METER;
        applyMeterConstants(ctrl);
        ctrl->triggerMode = 0;
        ctrl->timeBase = 21;
        const double result = cal ? correction(setup, ctrl, cal) : 0.0;
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        return result;
    }
    default:
        return 0.0;
    }
}

double CapaParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl)
{
    const database& s = *setup;
    ctrl->acqMode = ACQ_MODE_METER;
    ctrl->acqChannels = s.traceOnCh1 != 0 ? 1 : 0;
    ctrl->shownChannels = ctrl->acqChannels;

    switch (parameter) {
    case param::acqRunStop:
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        return 0.0;
    case kComplete:
    case kModeParameter:
    case param::meterFunction: {
        ctrl->runStop = 0;
        applyMeterConstants(ctrl);
        ctrl->triggerMode = 1;
        ctrl->acqFlags = ACQ_FLAGS_CAPACITANCE;
        // A range without a row keeps the time base it had.
        CapaRangeToScopeReglages(s.capaRange, &ctrl->timeBase, nullptr, nullptr);
        const double result = correction(setup, ctrl, cal);
        ctrl->runStop = static_cast<uint16_t>(s.acqRunStop);
        return result;
    }
    case param::capaRange:
        CapaRangeToScopeReglages(s.capaRange, &ctrl->timeBase, nullptr, nullptr);
        return correction(setup, ctrl, cal);
    default:
        return 0.0;
    }
}

double affect_par(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl)
{
    switch (setup->instrumentMode) {
    case 16:
    case 17: {
        const double result = ScopeParam(setup, parameter, cal, ctrl);
        ctrl->acqMode = setup->instrumentMode;
        return result;
    }
    case 64:
        return HarmonicParam(setup, parameter, cal, ctrl);
    case 128:
    case 130:
        return setup->meterFunction == 3 ? CapaParam(setup, parameter, cal, ctrl)
                                         : MeterParam(setup, parameter, cal, ctrl);
    default:
        ctrl->acqMode = ACQ_MODE_IDLE;
        return 0.0;
    }
}
