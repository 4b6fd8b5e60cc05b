// The capacitance cycle: channel 1's capacitor is discharged, then charged by the range's current
// while channel 1 is sampled; the ramp's slope is the result, filtered over successive slopes.
#include "acquisition/capa.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/measkernel.h"
#include "acquisition/modecycles.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/scale.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend_capa.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

const int16_t ts_l_dischargeTimeout[8] = {100, 500, 500, 1000, 100, 1000, 1000, 20000};
const int16_t ts_l_ecartMax[8] = {0, 200, 1500, 500, 500, 1000, 1000, 1000};

namespace {

constexpr int kReadStop = 0x2000;
constexpr int kReadEnd = 0x1000;
constexpr int kReadSamples = 0x10;
constexpr int kPollMs = 100;
constexpr uint32_t kCapaSamples = 2500;
constexpr unsigned short kMeasuredSamples = 2490;
constexpr uint32_t kNoRampCode = 0x60000;
constexpr uint32_t kRampStartCode = 602880;
constexpr uint32_t kRampEndCode = 445632;
constexpr double kLowest = -1.7976931348623157e308;
constexpr float kLowestFloat = -3.4028235e38f;
constexpr double kInputCapacitance = 2e-10;

struct TState {
    bool started = false;
    int16_t range = 0;
    double previous = 0.0;
    double ring[4] = {0, 0, 0, 0};
    int count = 0;
    int next = 0;
};
TState s_state;

int clampRange(int range) { return std::clamp(range, 0, 7); }

double ringMean()
{
    if (s_state.count == 0)
        return 0.0;
    double sum = 0;
    for (int i = 0; i < s_state.count; ++i)
        sum += s_state.ring[i];
    return sum / s_state.count;
}

void ringRestart(double value)
{
    s_state.ring[0] = value;
    s_state.count = 1;
    s_state.next = 1;
}

void ringAppend(double value)
{
    s_state.ring[s_state.next] = value;
    s_state.next = (s_state.next + 1) % 4;
    s_state.count = std::min(s_state.count + 1, 4);
}

// Forgets slopes of another range: their scale differs.
void followRange(int16_t range)
{
    if (s_state.started && s_state.range == range)
        return;
    s_state = TState{};
    s_state.started = true;
    s_state.range = range;
}

void sendRequest(pipe_dial request) { o_g_consMessageBox.send(&request); }

} // namespace

void CapaResetState() { s_state = TState{}; }

int MeasCapa(const uint32_t* samples, mesures* record, unsigned short count, double* slope)
{
    std::memset(record, 0, sizeof *record);
    if (samples == nullptr || count < 4)
        return -1;
    if (samples[0] <= kNoRampCode) {
        record->flags |= kCapaValidFlag;
        record->capaValue = *slope;
        *slope = 0.0;
        return -1;
    }
    int i = 3;
    while (i < count && samples[i] > kRampStartCode)
        ++i;
    // Checked before the end of the ramp: a capacitor that never charged also ends high.
    if (i >= count) {
        record->flags |= kCapaValidFlag;
        record->capaValue = *slope < kLowest ? -std::numeric_limits<double>::infinity() : *slope;
        *slope = -std::numeric_limits<double>::infinity();
        return -1;
    }
    if (samples[count - 1] > kRampEndCode - 1)
        return -1;
    int j = i;
    while (j + 1 < count && samples[j + 1] > kRampEndCode)
        ++j;
    if (samples[i] <= kRampEndCode || j - i <= 2)
        return -1;
    const int centre = (i + j) >> 1;
    double sum = 0;
    for (int k = i; k <= j; ++k)
        sum += samples[k];
    const double mean = sum / (j - i + 1);
    double num = 0, den = 0;
    for (int k = i; k <= j; ++k) {
        const double dk = k - centre;
        num += dk * (samples[k] - mean);
        den += dk * dk;
    }
    *slope = den != 0 ? num / den : 0.0;
    record->flags |= kCapaValidFlag;
    record->capaValue = *slope;
    return 0;
}

int CapaAutorange(float slope, database* setup)
{
    int b = clampRange(setup->capaRange);
    const int current = b;
    TAcquisition* trace = setupLinks().acqCh1;
    bool over = false;
    if (slope == 0.0f) {
        if (b > 1)
            --b;
    } else if (slope < kLowestFloat) {
        if (b < 7)
            ++b;
        over = true;
    } else if (trace != nullptr) {
        double span = 0;
        trace->GetMMRange(&span, nullptr, nullptr);
        const double e = span * 0.5;
        const float s = GetVerticalScale(trace, SCALE_CAPACITANCE, static_cast<short>(b));
        const float o = GetVerticalOffset(trace, SCALE_CAPACITANCE);
        const float d = static_cast<float>(o - s / slope - kInputCapacitance);
        if (b < 7) {
            if (d > 0.9 * e)
                ++b;
            else if (b > 1 && d < 0.09 * e)
                --b;
        } else {
            if (d < 0.09 * e)
                --b;
            over = d > 1.05 * e;
        }
    }
    if (setup->instrumentMode != 130 && setup->meterAutoRangeCh1 && b != current)
        sendRequest(pipe_dial{REQ_SET_PARAM, param::capaRange, 0, b, 0.0f, senderValue(RTAC_id)});
    return over ? -1 : 0;
}

bool CapaFilterSlope(mesures* record, double slope, database* setup)
{
    const int16_t range = static_cast<int16_t>(clampRange(setup->capaRange));
    followRange(range);
    const double previous = s_state.previous;
    s_state.previous = slope;
    const double tolerance = ts_l_ecartMax[range];
    // A tolerance of 0 takes every slope.
    const bool stable = tolerance == 0 || std::fabs(previous - slope) < tolerance || (previous < kLowest && slope < kLowest);
    if (!stable)
        return false;
    if (record->flags & kCapaValidFlag) {
        const double mean = ringMean();
        if (s_state.count > 0 && mean != 0 && (range == 7 || std::fabs(slope - mean) > tolerance))
            ringRestart(slope);
        else
            ringAppend(slope);
    }
    if (CapaAutorange(static_cast<float>(slope), setup) == -1) {
        record->overrange = 1;
        record->flags &= ~kCapaValidFlag;
    } else {
        record->capaValue = ringMean();
        record->overrange = 0;
    }
    return true;
}

namespace {

enum class TWait { Samples, Restart, Stop };

// Polls the read-out of the armed record until samples, an end without them or a stop.
TWait waitRead(acq_ctrl* armed)
{
    for (;;) {
        const int flags = ChipAcqRead(armed, kPollMs);
        if (flags & kReadStop)
            return TWait::Stop;
        if (flags & kReadEnd)
            return TWait::Restart;
        if (flags & kReadSamples)
            return TWait::Samples;
    }
}

bool transfer(acq_ctrl* ctrl, uint32_t* held)
{
    ctrl->ringStart = 0;
    return TransferNewSamples(ctrl, kCapaSamples, held) == 1;
}

acq_ctrl dischargeRecord(const acq_ctrl& live)
{
    acq_ctrl d{};
    d.decimation = 1;
    d.shownChannels = live.shownChannels;
    d.acqChannels = live.acqChannels;
    d.cycleChannels = live.cycleChannels;
    d.runStop = 0;
    d.triggerMode = 1;
    d.dispWidth = 1.0f;
    d.acqMode = 64;
    d.holdoff = 8;
    d.calib = live.calib;
    d.postTrigger = 2500;
    d.preTrigger = 2500;
    d.acqFlags = 0x181;
    d.timeBase = 21;
    d.span[0] = live.span[0];
    d.zero[0] = live.zero[0];
    return d;
}

void capacitanceCommand(acq_ctrl* record)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    ChipAcqIoctl(CHIPACQ_CAPACITANCE, record);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

enum class TStep { Measure, Restart, Stop };

TStep discharge(acq_ctrl* ctrl, acq_ctrl* record, int range)
{
    const int timeout = ts_l_dischargeTimeout[range];
    const int attempts = timeout < 200 ? 1 : timeout / 100;
    TAcquisition* trace = setupLinks().acqCh1;
    for (int n = 0; n < attempts; ++n) {
        if (ChipAcqWrite(record) != 0)
            return TStep::Stop;
        const TWait w = waitRead(record);
        if (w == TWait::Stop)
            return TStep::Stop;
        if (w == TWait::Restart)
            return TStep::Restart;
        uint32_t held = 0;
        if (!transfer(ctrl, &held) || held == 0 || trace == nullptr || trace->samples == nullptr)
            continue;
        const uint32_t count = std::min<uint32_t>(held, 1000);
        double sum = 0;
        for (uint32_t k = 0; k < count; ++k)
            sum += trace->samples[k] & kSampleCodeMask;
        if (sum / count > kCapaDischarged)
            return TStep::Measure;
    }
    return TStep::Restart;
}

} // namespace

void Capa(database* setup, acq_ctrl* ctrl)
{
    if (ctrl->acqFlags == 255)
        return;
    // The channels of the running cycle: the transfer fills only those.
    ctrl->cycleChannels = ctrl->acqChannels;
    acq_ctrl record = dischargeRecord(*ctrl);
    mesures local{};
    for (;;) {
        MMRampCapa(false);
        capacitanceCommand(&record);
        TAcquisition* trace = setupLinks().acqCh1;
        const int range = clampRange(trace != nullptr ? trace->meterRange : setup->capaRange);
        const TStep step = discharge(ctrl, &record, range);
        if (step == TStep::Stop)
            return;
        if (step == TStep::Restart)
            continue;
        capacitanceCommand(ctrl);
        if (ChipAcqWrite(ctrl) != 0)
            return;
        bool restart = false;
        for (;;) {
            const TWait w = waitRead(ctrl);
            if (w == TWait::Stop)
                return;
            if (w == TWait::Restart) {
                restart = true;
                break;
            }
            uint32_t held = 0;
            if (transfer(ctrl, &held))
                break;
        }
        if (restart)
            continue;
        trace = setupLinks().acqCh1;
        double slope = s_state.started ? s_state.previous : 0.0;
        MeasCapa(trace != nullptr ? trace->samples : nullptr, &local, kMeasuredSamples, &slope);
        if (CapaFilterSlope(&local, slope, setup)) {
            local.capaWord = static_cast<int16_t>(trace != nullptr ? trace->meterRange : 0);
            pthread_mutex_lock(&o_g_autoMeasMutex);
            if (mesures* table = setupLinks().measResultsPtr)
                std::memcpy(&table[0], &local, sizeof local);
            pthread_mutex_unlock(&o_g_autoMeasMutex);
        }
        postStateNotice(pipe_dial{REQ_CHANNEL_STATE, 0, 0, 1, 0.0f, senderValue(RTAC_id)});
    }
}
