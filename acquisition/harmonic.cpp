// The harmonic-analyser cycle: per pass the fundamental's period of each channel is measured on a
// nominal-rate acquisition, then each channel is acquired at 128 samples a period, transformed
// and its harmonics 0-63 written into the result block and the trace's averaged levels.
#include "acquisition/harmonic.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/measkernel.h"
#include "acquisition/modecycles.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "hardware/chip_acq.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kStages = 11;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 57.29577951471995;
constexpr int32_t kZeroCode = 0x7FFE0;
constexpr uint32_t kClipLow = 0x60000;
constexpr uint32_t kClipHigh = 655295;
constexpr int kLastDistortionOrder = 41;

std::array<complexe, 1025> buildCoefficients()
{
    std::array<complexe, 1025> c{};
    const auto round7 = [](double v) { return std::round(v * 1e7) / 1e7; };
    for (int k = 0; k <= 1024; ++k) {
        const double a = 2.0 * kPi * k / kHarmonicPoints;
        c[k] = {round7(std::cos(a)), round7(-std::sin(a))};
    }
    return c;
}

unsigned reverseBits(unsigned v)
{
    unsigned r = 0;
    for (int b = 0; b < kStages; ++b)
        r |= ((v >> b) & 1u) << (kStages - 1 - b);
    return r;
}

std::array<uint16_t, kHarmonicPoints> buildReversal()
{
    std::array<uint16_t, kHarmonicPoints> r{};
    for (unsigned i = 0; i < kHarmonicPoints; ++i)
        r[i] = static_cast<uint16_t>(reverseBits(i));
    return r;
}

const std::array<uint16_t, kHarmonicPoints> s_reversed = buildReversal();

double wrapDegrees(double d)
{
    if (!std::isfinite(d))
        return d;
    d = std::fmod(d, 360.0);
    if (d > 180.0)
        d -= 360.0;
    else if (d < -180.0)
        d += 360.0;
    return d;
}

double power(int bin)
{
    return bin == 0 ? 0.0 : td_l_module2[bin];
}

void lock(pthread_mutex_t* m)
{
    if (m != nullptr)
        pthread_mutex_lock(m);
}

void unlock(pthread_mutex_t* m)
{
    if (m != nullptr)
        pthread_mutex_unlock(m);
}

double largest(const double* table)
{
    double ref = 0;
    for (int j = 0; j < kHarmonicOrders; ++j)
        ref = std::max(ref, std::fabs(table[j]));
    return ref;
}

} // namespace

const std::array<complexe, 1025> Coefficient = buildCoefficients();
double td_l_memHarmonic[kHarmonicPoints];
complexe to_l_result[kHarmonicPoints];
double td_l_module2[kHarmonicPoints / 2];

void HarmonicFFT(const double* in, complexe* out)
{
    for (int i = 0; i < kHarmonicPoints; ++i)
        out[s_reversed[i]] = {in[i], 0.0};
    for (int span = 2; span <= kHarmonicPoints; span <<= 1) {
        const int half = span / 2;
        const int step = kHarmonicPoints / span;
        for (int group = 0; group < kHarmonicPoints; group += span) {
            complexe* low = out + group;
            complexe* high = low + half;
            for (int k = 0; k < half; ++k) {
                const complexe& w = Coefficient[static_cast<size_t>(step * k)];
                const double re = high[k].re * w.re - high[k].im * w.im;
                const double im = high[k].re * w.im + high[k].im * w.re;
                high[k] = {low[k].re - re, low[k].im - im};
                low[k] = {low[k].re + re, low[k].im + im};
            }
        }
    }
}

int FindSampleRate(const uint32_t* samples, double* rate)
{
    mesures m{};
    MeasPixT(samples, &m, 120, 2480, 1);
    if ((m.flags & (MEAS_MAX_VALID | MEAS_MIN_VALID)) != (MEAS_MAX_VALID | MEAS_MIN_VALID))
        return 2;
    if (m.periodCount < 4 || m.periodCount > 624)
        return static_cast<int64_t>(m.maxCode) - static_cast<int64_t>(m.minCode) < 13104 ? 3 : 1;
    const double span = static_cast<double>(m.lastCross50) - static_cast<double>(std::min(m.rise50, m.fall50));
    if (!(span > 0))
        return 1;
    *rate = *rate * 128.0 * m.periodCount / span;
    return 0;
}

void HarmonicFailed(int32_t status, double* table, THarmonicResults* record, pthread_mutex_t* m)
{
    const double value = status == HARMONIC_OVERRANGE ? kHarmonicClipped : kHarmonicFailedTransfer;
    lock(m);
    std::memset(record, 0, sizeof *record);
    record->status = status;
    if (table != nullptr)
        std::fill(table + 1, table + kHarmonicOrders, value);
    unlock(m);
}

int HarmonicChannel(const uint32_t* samples, double samplingPeriod, int averageCount, bool replaceLevels,
                    double* table, THarmonicResults* record, pthread_mutex_t* m)
{
    const uint32_t* in = samples + kHarmonicFirstSample;
    for (int k = 0; k < kHarmonicPoints; ++k) {
        // An empty word is a sample the transfer did not deliver: nothing is measured.
        if (in[k] >= kInvalidSampleFrom) {
            HarmonicFailed(HARMONIC_NOT_MEASURED, table, record, m);
            return HARMONIC_NOT_MEASURED;
        }
        const uint32_t code = in[k] & kSampleCodeMask;
        if (code <= kClipLow || code > kClipHigh) {
            HarmonicFailed(HARMONIC_OVERRANGE, table, record, m);
            return HARMONIC_OVERRANGE;
        }
        td_l_memHarmonic[k] = static_cast<double>(static_cast<int32_t>(code) - kZeroCode);
    }
    HarmonicFFT(td_l_memHarmonic, to_l_result);
    td_l_module2[0] = 0.0;
    double total = 0;
    for (int i = 1; i < kHarmonicPoints / 2; ++i) {
        td_l_module2[i] = to_l_result[i].re * to_l_result[i].re + to_l_result[i].im * to_l_result[i].im;
        total += td_l_module2[i];
    }
    const double fundamental = power(kHarmonicBinsPerOrder);
    double others = 0;
    for (int h = 2; h <= kLastDistortionOrder; ++h)
        others += power(kHarmonicBinsPerOrder * h);

    THarmonicResults r{};
    r.status = HARMONIC_MEASURED;
    // A flat input has no fundamental: no distortion rather than 0/0.
    r.distortion = fundamental > 0 ? static_cast<float>(std::sqrt(others / fundamental)) : 0.0f;
    r.rms = static_cast<float>(std::sqrt(2.0 * total) / kHarmonicPoints);
    const double phi1 = std::atan2(to_l_result[kHarmonicBinsPerOrder].im, to_l_result[kHarmonicBinsPerOrder].re);
    const int n = std::clamp(averageCount, 0, 30);
    const double weight = replaceLevels ? 1.0 : 1.0 / static_cast<double>(1u << n);

    lock(m);
    for (int h = 1; h < kHarmonicOrders; ++h)
        table[h] = std::sqrt(power(kHarmonicBinsPerOrder * h)) * weight + (1.0 - weight) * table[h];
    const double ref = largest(table);
    for (int j = 0; j < kHarmonicOrders; ++j) {
        const complexe& bin = to_l_result[kHarmonicBinsPerOrder * j];
        THarmonicEntry& e = r.entries[j];
        e.period = j == 0 ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(128.0 * samplingPeriod / j);
        e.ratio = ref > 0 ? static_cast<float>(table[j] / ref) : 0.0f;
        e.phase = static_cast<float>(wrapDegrees((std::atan2(bin.im, bin.re) - j * phi1) * kDegreesPerRadian - (j * 90.0 - 90.0)));
        e.amplitude = static_cast<float>(std::sqrt(2.0 * power(kHarmonicBinsPerOrder * j)) / kHarmonicPoints);
    }
    *record = r;
    unlock(m);
    return HARMONIC_MEASURED;
}

void HarmonicPower(const THarmonicResults& ch1, const THarmonicResults& ch4, const double* table1,
                   const double* table4, double* powerTable, THarmonicResults* powerRecord, pthread_mutex_t* m)
{
    lock(m);
    THarmonicResults r{};
    if (ch1.status != HARMONIC_MEASURED || ch4.status != HARMONIC_MEASURED) {
        r.status = HARMONIC_NOT_MEASURED;
        *powerRecord = r;
        unlock(m);
        return;
    }
    double phase[kHarmonicOrders] = {};
    for (int h = 1; h < kHarmonicOrders; ++h) {
        phase[h] = wrapDegrees(static_cast<double>(ch1.entries[h].phase) - ch4.entries[h].phase);
        // Voltage and current more than a quarter period apart: the power flows back.
        const double sign = phase[h] < -90.0 || phase[h] > 90.0 ? -1.0 : 1.0;
        powerTable[h] = sign * table1[h] * table4[h];
    }
    const double ref = largest(powerTable);
    for (int j = 0; j < kHarmonicOrders; ++j) {
        THarmonicEntry& e = r.entries[j];
        e.period = ch1.entries[j].period;
        e.ratio = ref > 0 ? static_cast<float>(powerTable[j] / ref) : 0.0f;
        e.phase = static_cast<float>(phase[j]);
        const float sign = powerTable[j] < 0 ? -1.0f : 1.0f;
        e.amplitude = j == 0 ? 0.0f : sign * ch1.entries[j].amplitude * ch4.entries[j].amplitude;
    }
    r.status = HARMONIC_MEASURED;
    *powerRecord = r;
    unlock(m);
}

namespace {

constexpr int kReadStop = 0x2000;
constexpr int kReadEnd = 0x1000;
constexpr int kReadSamples = 0x10;
constexpr int kSettleMs = 100;
constexpr int kPollMs = 1;
constexpr int kPassPauseMs = 60;
constexpr uint32_t kHarmonicSamples = 2500;

TAcquisition* channelTrace(int n)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return n >= 0 && n < 4 ? t[n] : nullptr;
}

// The trace whose sampling period clocks an acquisition of these channels (the driver's rule).
TAcquisition* clockTrace(uint16_t channels)
{
    switch (channels) {
    case 2: return channelTrace(1);
    case 4: return channelTrace(2);
    case 8: return channelTrace(3);
    default: return channelTrace(0);
    }
}

THarmonicResults* record(int n)
{
    THarmonicResults* block = setupLinks().harmonicResultsPtr;
    return block != nullptr ? block + n : nullptr;
}

double nominalRate(int16_t select)
{
    switch (select) {
    case 1: return 5000.0;
    case 2: return 6000.0;
    case 3: return 40000.0;
    default: return 20000.0;
    }
}

enum class TAcq { Done, Failed, Stop };

// One acquisition of ctrl->cycleChannels at the harmonic clock, transferred into the traces.
TAcq acquire(acq_ctrl* ctrl, int16_t filterKind)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    ChipAcqIoctl(CHIPACQ_HARMONIC, ctrl);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    if (ChipAcqWrite(ctrl) != 0)
        return TAcq::Stop;
    pauseMs(kSettleMs);
    for (;;) {
        const int flags = ChipAcqRead(ctrl, kPollMs);
        if (flags & (kReadStop | kReadEnd))
            return TAcq::Stop;
        if (flags & kReadSamples)
            break;
    }
    ctrl->ringStart = 0;
    for (int n = 0; n < 4; ++n)
        if (TAcquisition* t = channelTrace(n); t != nullptr && (ctrl->cycleChannels & (1u << n)))
            t->filterKind = filterKind;
    return TransferNewSamples(ctrl, kHarmonicSamples) == 1 ? TAcq::Done : TAcq::Failed;
}

// The measurement acquisitions, and the other modes after this one, read unfiltered samples.
void filterOff(uint16_t channels)
{
    for (int n = 0; n < 4; ++n)
        if (TAcquisition* t = channelTrace(n); t != nullptr && (channels & (1u << n)))
            t->filterKind = 0;
}

void failChannels(uint16_t channels)
{
    for (int n = 0; n < 4; ++n) {
        TAcquisition* t = channelTrace(n);
        THarmonicResults* r = record(n);
        if ((channels & (1u << n)) && t != nullptr && r != nullptr)
            HarmonicFailed(HARMONIC_NOT_MEASURED, t->harmonicTable, r, &o_g_autoMeasMutex);
    }
}

// The channels whose period was found.
uint16_t searchRates(uint16_t channels)
{
    uint16_t found = 0;
    for (int n = 3; n >= 0; --n) {
        TAcquisition* t = channelTrace(n);
        if (!(channels & (1u << n)) || t == nullptr || t->samples == nullptr)
            continue;
        t->Filter(kHarmonicSamples);
        double rate = 1.0 / t->GetHarmonicSamplingPeriod();
        if (FindSampleRate(t->samples, &rate) == 0) {
            t->SetHarmonicSampleRate(rate);
            found = static_cast<uint16_t>(found | (1u << n));
        }
    }
    return found;
}

void measureChannel(int n, double samplingPeriod, int averageCount)
{
    TAcquisition* t = channelTrace(n);
    THarmonicResults* r = record(n);
    if (t == nullptr || r == nullptr || t->samples == nullptr)
        return;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    // Levels after a pass that measured nothing (or a setup change) are not blended with.
    const bool replace = r->status != HARMONIC_MEASURED;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    HarmonicChannel(t->samples, samplingPeriod, averageCount, replace, t->harmonicTable, r, &o_g_autoMeasMutex);
}

void powerStep()
{
    TAcquisition* t1 = channelTrace(0);
    TAcquisition* t4 = channelTrace(3);
    TAcquisition* tp = setupLinks().powerAcq;
    THarmonicResults* r1 = record(0);
    THarmonicResults* r4 = record(3);
    THarmonicResults* rp = record(kHarmonicPowerRecord);
    if (rp == nullptr)
        return;
    if (t1 == nullptr || t4 == nullptr || tp == nullptr || r1 == nullptr || r4 == nullptr) {
        pthread_mutex_lock(&o_g_autoMeasMutex);
        rp->status = HARMONIC_NOT_MEASURED;
        pthread_mutex_unlock(&o_g_autoMeasMutex);
        return;
    }
    pthread_mutex_lock(&o_g_autoMeasMutex);
    const THarmonicResults ch1 = *r1;
    const THarmonicResults ch4 = *r4;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    HarmonicPower(ch1, ch4, t1->harmonicTable, t4->harmonicTable, tp->harmonicTable, rp, &o_g_autoMeasMutex);
}

} // namespace

void Harmonic(database* setup, acq_ctrl* ctrl)
{
    if (setup == nullptr || ctrl == nullptr || ctrl->acqFlags == 255)
        return;
    const int averageCount = setup->averageCount;
    for (;;) {
        const int16_t select = ctrl->harmonicFreqSel;
        const double nominal = nominalRate(select);
        for (int n = 0; n < 4; ++n)
            if (TAcquisition* t = channelTrace(n))
                t->SetHarmonicSampleRate(nominal);
        const uint16_t channels = ctrl->acqChannels & 0xF;
        if (channels == 0)
            return;
        const bool powerMode = ctrl->powerMode != 0;
        const uint16_t searched = powerMode ? 1 : channels;
        ctrl->cycleChannels = searched;

        // The decimating filter steadies the period search of a selected mains frequency.
        const bool selected = select >= 1 && select <= 3;
        const TAcq search = acquire(ctrl, selected ? 2 : 0);
        uint16_t periodFound = 0;
        if (search == TAcq::Done)
            periodFound = searchRates(searched);
        filterOff(searched);
        if (search == TAcq::Stop)
            return;
        if (search == TAcq::Failed) {
            failChannels(channels);
        } else {
            for (int n = 3; n >= 0; --n) {
                if (!(channels & (1u << n)))
                    continue;
                const uint16_t word = powerMode && n == 0 ? 9 : static_cast<uint16_t>(1u << n);
                ctrl->cycleChannels = word;
                const TAcq a = acquire(ctrl, 0);
                if (a == TAcq::Stop)
                    return;
                // A channel of the word outside the measured set keeps its record.
                const uint16_t measured = word & channels;
                if (a == TAcq::Failed) {
                    failChannels(measured);
                    continue;
                }
                TAcquisition* clock = clockTrace(word);
                double period = clock != nullptr ? clock->GetHarmonicSamplingPeriod() : 1.0 / nominal;
                // No period found (a DC input): the nominal rate is no frequency of the signal.
                const uint16_t clockBit = word == 9 ? 1 : word;
                if ((periodFound & clockBit) == 0)
                    period = 0.0;
                for (int c = 0; c < 4; ++c)
                    if (measured & (1u << c))
                        measureChannel(c, period, averageCount);
            }
        }
        if (powerMode)
            powerStep();
        postStateNotice(pipe_dial{REQ_CHANNEL_STATE, 15, 0, 0, 0.0f, senderValue(RTAC_id)});
        pauseMs(kPassPauseMs);
        if (ctrl->runStop == 1)
            return;
    }
}
