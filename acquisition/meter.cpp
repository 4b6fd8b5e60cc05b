// The multimeter cycle: every pass acquires 2500 samples per channel at time bases 18, 35 and 21,
// filters and measures them, publishes per channel the set whose time base frames the signal best
// and asks for range changes; every few passes it measures each channel's input offset at three
// positions of the offset DAC and corrects the channel's scale from them.
#include "acquisition/meter.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/acqctrl.h"
#include "acquisition/measkernel.h"
#include "acquisition/modecycles.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "hardware/frequencemeter.h"
#include "hardware/frontend_meter.h"
#include "hardware/transfer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kReadStop = 0x2000;
constexpr int kReadEnd = 0x1000;
constexpr int kReadSamples = 0x10;
constexpr uint32_t kMeterSamples = 2500;
constexpr int32_t kMeasureFirst = 100;
constexpr int32_t kMeasureEnd = 2400;            // samples 100..2399
constexpr int32_t kZeroCode = 0x7FFE0;           // 524256, the code of 0 V
constexpr int32_t kScreenTop = 0x60000;
constexpr int32_t kSpanCodes = 262080;
constexpr int32_t kResistanceTop = 0x9FFC0;
constexpr int32_t kOneDivision = 26208;
constexpr uint16_t kSteadyPeriods35 = 4;        // whole periods the 5.04 us set needs
constexpr int kSettleMs = 19;
constexpr int kPollMs = 1;
constexpr unsigned short kOffsetTimeBase = 22;
constexpr int kMarkedOffset = 0x8000;

enum { SET_18 = 0, SET_21 = 1, SET_35 = 2 };
constexpr int kRecordsPerSet = 6;                // channels 1-4, power A, power B

// Cycle state that outlives one call.
struct TState {
    bool started = false;
    uint16_t mode = 0;
    int16_t function = 0;
    int16_t ohmRange = 0;
    int holdPasses = 2;
    int passesLeft = 2;
    int offsetMeasurements = 0;
    int32_t resistanceOffset = 0;
    bool offsetDone = false;                     // the 0x8000 mark of channel 1
};
TState s_state;
mesures s_sets[3][kRecordsPerSet];

enum class TEnd { Pass, Stop };

TAcquisition* channelTrace(int n)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return n >= 0 && n < 4 ? t[n] : nullptr;
}

int16_t setupRange(const database& s, int n)
{
    const int16_t r[4] = {s.meterRangeCh1, s.meterRangeCh2, s.meterRangeCh3, s.meterRangeCh4};
    return r[n];
}

// The channels read by the power functions (bit n: channel n + 1).
uint16_t powerSources()
{
    uint16_t sources = 0;
    for (TFonction* f : {setupLinks().powerFunctionA, setupLinks().powerFunctionB})
        if (f != nullptr && f->IsDefined())
            sources |= f->VoiesSrc();
    return sources;
}

// Measurement function of each channel.
void channelFunctions(const database& s, int16_t out[4])
{
    const bool power = (s.meterFunction & 8) != 0;
    const uint16_t sources = power ? powerSources() : 0;
    out[0] = s.meterFunction;
    for (int n = 1; n < 4; ++n) {
        if (s.meterFunction == 9)
            out[n] = 9;
        else
            out[n] = power && (sources & (1u << n)) ? 8 : 0;
    }
}

void invalidate(mesures* m)
{
    m->flags = 0;
    m->overrange = 0;
}

bool validExtremes(const mesures& m)
{
    return (m.flags & (MEAS_MAX_VALID | MEAS_MIN_VALID)) == (MEAS_MAX_VALID | MEAS_MIN_VALID);
}

// False when a stop ended the wait; otherwise the read-out word of the acquisition's samples
// (re-arming after an end without samples).
bool waitSamples(acq_ctrl* ctrl, bool* armFailed)
{
    pauseMs(kSettleMs);
    for (;;) {
        const int flags = ChipAcqRead(ctrl, kPollMs);
        if (flags & kReadStop)
            return false;
        if (flags & kReadSamples)
            return true;
        if (flags & kReadEnd) {
            pthread_mutex_lock(&o_g_synchroAcqMutex);
            ChipAcqIoctl(CHIPACQ_METER, ctrl);
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
            if (ChipAcqWrite(ctrl) != 0) {
                *armFailed = true;
                return false;
            }
        }
    }
}

// Arms the acquisition at the record's time base; false when the arming failed.
bool arm(acq_ctrl* ctrl)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    ChipAcqIoctl(CHIPACQ_METER, ctrl);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return ChipAcqWrite(ctrl) == 0;
}

// The new samples into the traces; false when nothing was transferred.
bool transfer(acq_ctrl* ctrl)
{
    return TransferNewSamples(ctrl, kMeterSamples) != 0;
}

double meanOf(const uint32_t* samples, int first, int end)
{
    double sum = 0;
    int count = 0;
    for (int i = first; i < end; ++i) {
        if (samples[i] >= kInvalidSampleFrom)
            continue;
        sum += samples[i] & kSampleCodeMask;
        ++count;
    }
    return count ? sum / count : 0.0;
}

void measureResistance(const uint32_t* samples, mesures* m)
{
    const double centre = meanOf(samples, 250, 2250);
    double sum = 0;
    int count = 0;
    for (int i = 250; i < 2250; ++i) {
        if (samples[i] >= kInvalidSampleFrom)
            continue;
        const double v = samples[i] & kSampleCodeMask;
        if (v > centre - kOneDivision && v < centre + kOneDivision) {
            sum += v;
            ++count;
        }
    }
    m->periodCount = 0;
    if (count == 0) {
        m->flags = 0;
        return;
    }
    double v = sum / count + s_state.resistanceOffset;
    if (v <= kScreenTop) {
        m->flags = 0;
        m->overrange = 1;
        return;
    }
    m->flags = 0x2003;
    m->overrange = 0;
    v = 655296.0 + (393216.0 - v) * 0.5;
    m->mean = v > 524256.0 ? v : 524256.0;
    m->maxCode = m->minCode = std::max<uint32_t>(static_cast<uint32_t>(m->mean), kZeroCode);
}

// Measures channel n's trace (already filtered) into its record of set `set`.
void measureChannel(acq_ctrl* ctrl, int n, int16_t function, int set, unsigned short timeBase)
{
    TAcquisition* trace = channelTrace(n);
    mesures* m = &s_sets[set][n];
    const uint32_t* samples = trace->samples;
    const bool filtered = trace->filterKind != 0;
    const double gain = ctrl->probeGain[n];
    const auto levels = [&] {
        MeasPixT(samples, m, kMeasureFirst, kMeasureEnd, 1);
        if (!m->overrange)
            checkOverflow(m, gain);
    };
    const short tb = static_cast<short>(timeBase);
    // A filtered channel is measured from the set of 21 alone (and in the resistance and power
    // functions): the other sets' samples need no filtering.
    const bool resistance = function == 1 || function == 2;
    const bool power = function >= 8 && function <= 11;
    if (filtered && set != SET_21 && !resistance && (!power || n == 0))
        return;
    trace->Filter(kMeterSamples);
    if (resistance) {
        measureResistance(samples, m);
    } else if (power) {
        levels();
        if (n == 0 && !filtered)
            MesuresCorrection(m, 0, tb);
        MeasPixAmp(samples, m, kMeasureFirst, kMeasureEnd, kZeroCode);
    } else if (!filtered || set == SET_21) {
        levels();
        const bool correctFirst = m->periodCount == 0 || m->periodCount >= 100;
        if (!filtered && correctFirst)
            MesuresCorrection(m, static_cast<unsigned short>(n), tb);
        MeasPixAmp(samples, m, kMeasureFirst, kMeasureEnd, kZeroCode);
        if (!filtered && !correctFirst)
            MesuresCorrection(m, static_cast<unsigned short>(n), tb);
        if (function == 4 && m->mean > 576480.0) {
            m->flags = 0;
            m->overrange = 1;
        }
    }
}

// The power functions over their source channels' samples into records 4 and 5 of the set.
void measurePower(int set)
{
    mesures* records = s_sets[set];
    TAcquisition* power = setupLinks().powerAcq;
    const uint16_t sources = powerSources();
    bool valid = power != nullptr && power->samples != nullptr;
    switch (sources) {
    case 0x9: valid = valid && validExtremes(records[0]) && validExtremes(records[3]); break;
    case 0xF:
        for (int n = 0; n < 4; ++n)
            valid = valid && validExtremes(records[n]);
        break;
    case 0x3: valid = valid && validExtremes(records[0]) && validExtremes(records[1]); break;
    default: valid = false; break;
    }
    constexpr int32_t kEdges = MEAS_RISE | MEAS_FALL | MEAS_NEXT_RISE | MEAS_NEXT_FALL;
    valid = valid && (records[0].flags & kEdges) == kEdges;
    TFonction* const functions[2] = {setupLinks().powerFunctionA, setupLinks().powerFunctionB};
    for (int k = 0; k < 2; ++k) {
        mesures* m = &records[4 + k];
        if (!valid || functions[k] == nullptr
            || !functions[k]->Compute(power->samples, kMeasureFirst, kMeasureEnd - kMeasureFirst)) {
            invalidate(m);
            continue;
        }
        const mesures& c = records[0];
        m->rise10 = c.rise10;
        m->rise50 = c.rise50;
        m->rise90 = c.rise90;
        m->fall90 = c.fall90;
        m->fall50 = c.fall50;
        m->fall10 = c.fall10;
        m->nextRise50 = c.nextRise50;
        m->nextFall50 = c.nextFall50;
        m->lastCross50 = c.lastCross50;
        m->periodCount = c.periodCount;
        m->otherEdgeCount = c.otherEdgeCount;
        m->extraValue = c.extraValue;
        m->flags = c.flags | 0xF;
        MeasPixAmp(power->samples, m, kMeasureFirst, kMeasureEnd, kZeroCode);
    }
}

void measureSet(acq_ctrl* ctrl, const database& s, const int16_t functions[4], int set, unsigned short timeBase)
{
    const uint16_t live = ctrl->shownChannels & 0xF;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    for (int n = 0; n < 4; ++n) {
        TAcquisition* trace = channelTrace(n);
        if (!(live & (1u << n)) || trace == nullptr || trace->samples == nullptr)
            continue;
        measureChannel(ctrl, n, functions[n], set, timeBase);
    }
    if (s.meterFunction & 8)
        measurePower(set);
    pthread_mutex_unlock(&o_g_autoMeasMutex);
}

void publish(acq_ctrl* ctrl)
{
    mesures* table = setupLinks().measResultsPtr;
    if (table == nullptr)
        return;
    const uint16_t live = ctrl->shownChannels & 0xF;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    for (int n = 0; n < 4; ++n) {
        TAcquisition* trace = channelTrace(n);
        if (!(live & (1u << n)) || trace == nullptr)
            continue;
        const unsigned short tb = timebaseSelect(static_cast<short>(n), s_sets[SET_35]);
        int set = SET_18;
        float factor = kMeterFactor18;
        if (trace->filterKind != 0 || tb == 21) {
            set = SET_21;
            factor = kMeterFactor21;
        } else if (tb == 35) {
            set = SET_35;
            factor = kMeterFactor35;
        }
        table[n] = s_sets[set][n];
        table[n].extraValue = factor;
        table[n].capaWord = static_cast<int16_t>(trace->meterRange);
        if (n == 0) {
            for (int k = 0; k < 2; ++k) {
                table[8 + k] = s_sets[set][4 + k];
                table[8 + k].extraValue = factor;
                table[8 + k].capaWord = 0;
            }
        }
    }
    if (!(live & 1)) {
        invalidate(&table[8]);
        invalidate(&table[9]);
    }
    pthread_mutex_unlock(&o_g_autoMeasMutex);
}

void invalidatePublished()
{
    mesures* table = setupLinks().measResultsPtr;
    if (table == nullptr)
        return;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    for (int r : {0, 1, 2, 3, 8, 9})
        invalidate(&table[r]);
    pthread_mutex_unlock(&o_g_autoMeasMutex);
}

// One measurement pass: 18, then 35, then 21.
TEnd pass(database* setup, acq_ctrl* ctrl, const int16_t functions[4])
{
    ctrl->cycleChannels = ctrl->acqChannels;
    CmdeLogique(CMDE_REG20_BIT19, functions[0] == 2 && (ctrl->acqChannels & 1) ? 1 : 0);
    ctrl->timeBase = 18;
    ctrl->armOption = ctrl->acqFlags == ACQ_FLAGS_CONTINUITY ? 0 : 1;
    if (!arm(ctrl))
        return TEnd::Stop;
    std::memset(s_sets, 0, sizeof s_sets);

    for (;;) {
        bool armFailed = false;
        if (!waitSamples(ctrl, &armFailed))
            return TEnd::Stop;
        // Transfer before anything re-arms: arming resets the ring positions.
        const bool transferred = transfer(ctrl);
        FrequencemeterRead();
        const unsigned short measured = ctrl->timeBase;
        if (measured == 21 && !transferred)
            return TEnd::Pass;
        if (measured == 21) {
            measureSet(ctrl, *setup, functions, SET_21, measured);
            return TEnd::Pass;
        }
        const bool retry = measured == 35 && !transferred;
        if (!retry)
            ctrl->timeBase = measured == 18 ? 35 : 21;
        if (!arm(ctrl))
            return TEnd::Stop;
        // These samples are measured while the next acquisition runs.
        if (transferred)
            measureSet(ctrl, *setup, functions, measured == 18 ? SET_18 : SET_35, measured);
    }
}

void rangeStep(database* setup, acq_ctrl* ctrl)
{
    const uint16_t live = ctrl->shownChannels & 0xF;
    if (s_state.holdPasses < 1) {
        if (autorange(live, static_cast<unsigned short>(setup->meterFunction), setup) != 0)
            s_state.holdPasses = 1;
        else
            postStateNotice(pipe_dial{REQ_CHANNEL_STATE, 0, 0, live, 0.0f, senderValue(RTAC_id)});
    } else {
        invalidatePublished();
        --s_state.holdPasses;
    }
}

// Meter function of channel n for the offset set-up (the mark: nothing to do on channel 1).
int16_t offsetFunction(int n, const int16_t functions[4])
{
    if (n == 0 && s_state.offsetDone)
        return static_cast<int16_t>(functions[0] | kMarkedOffset);
    return functions[n];
}

void restoreChannels(uint16_t channels, const int16_t functions[4])
{
    for (int n = 0; n < 4; ++n)
        if (channels & (1u << n))
            ScalingMesureOffset(static_cast<uint16_t>(n), offsetFunction(n, functions), 0);
}

// Offset points of every measured channel, then the scale corrections.
TEnd offsetMeasurement(database* setup, acq_ctrl* ctrl, const int16_t functions[4])
{
    const uint16_t channels = ctrl->acqChannels & 0xF;
    const bool resistance = functions[0] == 1 || functions[0] == 2;
    int16_t largest = 0;
    for (int n = 0; n < 4; ++n)
        if (ctrl->shownChannels & (1u << n))
            largest = std::max(largest, setupRange(*setup, n));
    const int settleMs = largest == 3 ? 440 : 240;

    int32_t savedSpan[4], savedZero[4];
    std::copy(ctrl->span, ctrl->span + 4, savedSpan);
    std::copy(ctrl->zero, ctrl->zero + 4, savedZero);
    for (int n = 0; n < 4; ++n) {
        if (!(channels & (1u << n)) || (n == 0 && (resistance || s_state.offsetDone)))
            continue;
        ctrl->span[n] = kSpanCodes;
        ctrl->zero[n] = kScreenTop;
    }

    float points[4][3] = {};
    for (int step = 3; step >= 1; --step) {
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        for (int n = 0; n < 4; ++n)
            if (channels & (1u << n))
                ScalingMesureOffset(static_cast<uint16_t>(n), offsetFunction(n, functions), step);
        pauseMs(settleMs);
        ctrl->timeBase = kOffsetTimeBase;
        bool armFailed = false;
        if (!arm(ctrl) || !waitSamples(ctrl, &armFailed) || !transfer(ctrl)) {
            restoreChannels(channels, functions);
            return TEnd::Stop;
        }
        for (int n = 0; n < 4; ++n) {
            TAcquisition* trace = channelTrace(n);
            if ((channels & (1u << n)) && trace != nullptr && trace->samples != nullptr)
                points[n][step - 1] = static_cast<float>(meanOf(trace->samples, 250, 1500));
        }
    }
    for (auto& p : points) {
        p[0] -= 191.95313f;
        p[1] -= 127.96875f;
    }
    restoreChannels(channels, functions);
    pauseMs(settleMs);

    for (int n = 0; n < 4; ++n) {
        if (!(channels & (1u << n)))
            continue;
        if (n == 0 && resistance) {
            if (s_state.offsetDone)
                continue;
            s_state.resistanceOffset = kResistanceTop - static_cast<int32_t>(points[0][0]);
            if (functions[0] == 1 && setup->ohmRange == 6) {
                pauseMs(1000);
                s_state.offsetDone = true;
            }
            continue;
        }
        if (n == 0 && s_state.offsetDone)
            continue;
        if (!CoeffAdjust(static_cast<unsigned short>(n), ctrl, points[n])) {
            ctrl->span[n] = savedSpan[n];
            ctrl->zero[n] = savedZero[n];
        }
    }
    ++s_state.offsetMeasurements;
    s_state.passesLeft = s_state.offsetMeasurements <= 20 ? 5 : 100;
    return TEnd::Pass;
}

void startState(const database& s)
{
    const bool changed = !s_state.started || s_state.mode != s.instrumentMode || s_state.function != s.meterFunction;
    if (changed) {
        s_state.holdPasses = 2;
        s_state.passesLeft = 2;
        s_state.offsetMeasurements = 0;
    }
    if (changed || s_state.ohmRange != s.ohmRange) {
        s_state.resistanceOffset = 0;
        s_state.offsetDone = false;
    }
    s_state.started = true;
    s_state.mode = s.instrumentMode;
    s_state.function = s.meterFunction;
    s_state.ohmRange = s.ohmRange;
}

} // namespace

void MeterMeasureSet(acq_ctrl* ctrl, const database& setup, unsigned short timeBase)
{
    int16_t functions[4];
    channelFunctions(setup, functions);
    const int set = timeBase == 18 ? SET_18 : timeBase == 35 ? SET_35 : SET_21;
    measureSet(ctrl, setup, functions, set, timeBase);
}

void MeterPublish(acq_ctrl* ctrl)
{
    publish(ctrl);
}

void MeterRangeStep(database* setup, acq_ctrl* ctrl)
{
    rangeStep(setup, ctrl);
}

void MeterCycleStart(const database& setup)
{
    startState(setup);
}

TMeterCycleState meterCycleState()
{
    return {s_state.holdPasses, s_state.passesLeft, s_state.offsetMeasurements, s_state.resistanceOffset,
            s_state.offsetDone};
}

void Meter(database* setup, acq_ctrl* ctrl)
{
    if (setup == nullptr || ctrl == nullptr || ctrl->acqFlags == ACQ_FLAGS_REPROCESS
        || ctrl->acqFlags == ACQ_FLAGS_REPROCESS_REDRAW)
        return;
    startState(*setup);
    for (uint16_t n = 0; n < 4; ++n)
        ScalingMesureOffsetInit(n);
    int16_t functions[4];
    channelFunctions(*setup, functions);

    for (;;) {
        while (s_state.passesLeft > 0) {
            if (pass(setup, ctrl, functions) == TEnd::Stop)
                return;
            publish(ctrl);
            rangeStep(setup, ctrl);
            if (functions[0] != 2)
                --s_state.passesLeft;
            if (ctrl->runStop == 1)
                return;
        }
        if (offsetMeasurement(setup, ctrl, functions) == TEnd::Stop || ctrl->runStop == 1)
            return;
    }
}

int autorange(unsigned short channels, unsigned short meterFunction, database* setup)
{
    if (setup == nullptr || setup->instrumentMode == 130)
        return 0;
    const mesures* table = setupLinks().measResultsPtr;
    int result = 0;
    for (int n = 3; n >= 0; --n) {
        if (!(channels & (1u << n)))
            continue;
        result = 0;
        int32_t parameter;
        int16_t range, top;
        bool autoOn;
        switch (n) {
        case 1: parameter = param::meterRangeCh2; range = setup->meterRangeCh2; autoOn = setup->meterAutoRangeCh2; top = 3; break;
        case 2: parameter = param::meterRangeCh3; range = setup->meterRangeCh3; autoOn = setup->meterAutoRangeCh3; top = 3; break;
        case 3: parameter = param::meterRangeCh4; range = setup->meterRangeCh4; autoOn = setup->meterAutoRangeCh4; top = 3; break;
        default:
            autoOn = setup->meterAutoRangeCh1;
            if (meterFunction == 0 || (meterFunction >= 8 && meterFunction <= 11)) {
                parameter = param::meterRangeCh1;
                range = setup->meterRangeCh1;
                top = 3;
            } else if (meterFunction == 1) {
                parameter = param::ohmRange;
                range = setup->ohmRange;
                top = 6;
            } else {
                continue;
            }
            break;
        }
        if (!autoOn || table == nullptr)
            continue;
        range = std::clamp<int16_t>(range, 0, top);
        const mesures& r = table[n];
        int16_t wanted = range;
        if (r.overrange) {
            if (range < top)
                wanted = static_cast<int16_t>(range + 1);
        } else if (validExtremes(r) && range > 0) {
            const auto within = [&](uint32_t half) {
                return r.maxCode >= kZeroCode - half && r.maxCode <= kZeroCode + half && r.minCode >= kZeroCode - half
                       && r.minCode <= kZeroCode + half;
            };
            int down = 0;
            if (within(12))
                down = 4;
            else if (within(130))
                down = 3;
            else if (within(1309))
                down = 2;
            else if (within(13103))
                down = 1;
            wanted = static_cast<int16_t>(std::max(0, range - down));
        }
        if (wanted == range)
            continue;
        pipe_dial request{REQ_SET_PARAM, parameter, 0, wanted, 0.0f, senderValue(RTAC_id)};
        o_g_consMessageBox.send(&request);
        result = 1;
    }
    return result;
}

bool CoeffAdjust(unsigned short channel, acq_ctrl* ctrl, float points[3])
{
    if (ctrl == nullptr || channel > 3 || points == nullptr)
        return false;
    const double gain = ctrl->probeGain[channel];
    const double a = ctrl->meterFactorA[channel];
    const double b = ctrl->meterFactorB[channel];
    const double e = static_cast<double>(ctrl->offset[channel]) + kZeroCode;
    const double g = (e + (points[1] - 524256.0) * gain * a) - (e + gain * (points[0] - 524256.0) * a);
    // Equal or reversed points (a saturated, floating or faulty input) give no scale.
    if (!std::isfinite(g) || g < 0.5 * kSpanCodes || g > 2.0 * kSpanCodes)
        return false;
    const double zero = (393216.0 - (e + gain * (points[2] - 524256.0) * a - std::trunc(g * 0.5) + b)) * kSpanCodes / g
                        + kScreenTop - 0.5;
    if (!std::isfinite(zero) || std::fabs(zero) > 2147483647.0)
        return false;
    ctrl->span[channel] = static_cast<int32_t>(g - 0.5);
    ctrl->zero[channel] = static_cast<int32_t>(zero);
    return true;
}

void checkOverflow(mesures* m, double gain)
{
    if (m == nullptr)
        return;
    if (!std::isfinite(gain) || !(gain > 0.0))
        gain = 1.0;
    const double bound = std::min(144144.0 / gain, 1e9);
    const int64_t lo = static_cast<int64_t>(-bound) + kZeroCode;
    const int64_t hi = static_cast<int64_t>(bound) + kZeroCode;
    const int64_t minCode = m->minCode, maxCode = m->maxCode;
    if (minCode <= lo || minCode >= hi || maxCode >= hi || maxCode <= lo)
        m->flags = 0;
    m->overrange = (maxCode >= hi || minCode <= lo) ? 1 : 0;
}

unsigned short timebaseSelect(short channel, const mesures* set)
{
    if (set == nullptr || channel < 0 || channel > 3)
        return 21;
    const mesures& m = set[channel];
    // Below 50 periods in the 5.04 us window the 40 us set frames more of them, but from a few
    // hundred hertz up it has few samples a period: a period of a whole number of them (a
    // 2 kHz square: 12.5) shows its edges at the same few phases in every period, and its
    // means stay off by up to a sample in 25 (the DC of a 25 % square 12 %). Once the 5.04 us
    // window frames a few whole periods, their means are steady to a sample in 1800.
    if (m.periodCount < kSteadyPeriods35)
        return 21;
    if (m.periodCount < 50)
        return 35;
    if (validExtremes(m) && std::llabs(static_cast<long long>(m.maxCode) - m.minCode) <= kOneDivision)
        return 18;
    const double x = 0.0126 / m.periodCount / 4e-6;
    const int f = static_cast<int>((x - std::floor(x)) * 100.0);
    const auto in = [f](int lo, int hi) { return f >= lo && f <= hi; };
    if (in(23, 27) || in(31, 35) || f < 3 || f > 97 || in(42, 52) || in(64, 68) || in(73, 77))
        return 35;
    return 18;
}
