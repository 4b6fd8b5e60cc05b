#include "busanalysis/busmeasfactory.h"

#include "acquisition/TAcquisition.h"
#include "busanalysis/busxmlvalue.h"
#include "core/gest_db.h"
#include "core/scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kTriggerLowest = 0x60000;
constexpr uint32_t kTriggerHighest = 0x9FFC0;
constexpr uint32_t kInvalidBits = 0xC0000000u;
constexpr uint32_t kBit29 = 0x20000000u;

bool valid(uint32_t word)
{
    return (word & kInvalidBits) == 0;
}

uint32_t codeOf(uint32_t word)
{
    return word & ~kBit29;
}

// Σ i × bins[i] / Σ bins[i] over lowest .. highest, in 64 bits; false when empty.
bool histogramMean(const TBusHistogram& h, int64_t* mean)
{
    uint64_t n = 0;
    uint64_t s = 0;
    for (uint32_t i = h.lowest; i <= h.highest && i < TBusHistogram::kBins; ++i) {
        n += h.bins[i];
        s += uint64_t{i} * h.bins[i];
    }
    if (n == 0)
        return false;
    *mean = static_cast<int64_t>(s / n);
    return true;
}

} // namespace

void TBusHistogram::reset()
{
    std::memset(bins, 0, sizeof bins);
    lowest = kBins - 1;
    highest = 0;
    count = 0;
}

void TBusHistogram::addValue(uint32_t v)
{
    if (v < 1 || v >= kBins)
        return;
    ++bins[v];
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
    ++count;
}

TBusMeasFactory::TBusMeasFactory()
{
    reset();
    resetHistograms();
}

void TBusMeasFactory::reset()
{
    triggerMin = kTriggerLowest;
    triggerMax = kTriggerHighest;
    trigMinPercent = 40;
    trigMaxPercent = 60;
    trigAuto = false;
    timeBitTheo = 100000;
    channel = 0;
    nbAcq = 1;
    acqCounter = 0;
    typeCodage = 0;
    limitLowFreq = 0;
    limitHighFreq = 0;
}

void TBusMeasFactory::resetHistograms()
{
    acqCounter = 0;
    pairHistogram.reset();
    highHistogram.reset();
    lowHistogram.reset();
    std::memset(binary, 0, sizeof binary);
}

void TBusMeasFactory::setTriggerMin(uint32_t code)
{
    triggerMin = std::clamp(code, kTriggerLowest, kTriggerHighest);
}

void TBusMeasFactory::setTriggerMax(uint32_t code)
{
    triggerMax = std::clamp(code, kTriggerLowest, kTriggerHighest);
}

void TBusMeasFactory::setTheoricalTimeBit(uint32_t samples)
{
    timeBitTheo = std::min<uint32_t>(samples, 96000);
}

void TBusMeasFactory::setCounterAcqMax(int32_t count)
{
    nbAcq = std::max(count, 1);
}

int TBusMeasFactory::setParamsFromXml(XmlDescriptor* setupMesure)
{
    static const char* const kKeys[] = {"trigminpour", "trigmaxpour", "trigmin",       "trigmax",
                                        "timebittheo", "nbacq",       "typecodage",    "idvoie",
                                        "trigauto",    "limitelowfreq", "limitehighfreq"};
    return walkBusChildren(setupMesure, kKeys, 11, [this](int key, const std::string& text) {
        int64_t v = 0;
        switch (key) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4: {
            if (!readBusInteger(text, 32, false, &v))
                return false;
            uint32_t* const fields[] = {&trigMinPercent, &trigMaxPercent, &triggerMin, &triggerMax, &timeBitTheo};
            *fields[key] = static_cast<uint32_t>(v);
            return true;
        }
        case 5:
        case 6:
            if (!readBusInteger(text, 32, true, &v))
                return false;
            (key == 5 ? nbAcq : typeCodage) = static_cast<int32_t>(v);
            return true;
        case 7:
            if (!readBusInteger(text, 16, true, &v))
                return false;
            channel = static_cast<int16_t>(v);
            return true;
        case 8:
            return readBusBool(text, &trigAuto);
        default:
            return readBusFloat(text, key == 9 ? &limitLowFreq : &limitHighFreq);
        }
    });
}

TAcquisition* TBusMeasFactory::channelTrace() const
{
    TSetupLinks& links = setupLinks();
    TAcquisition* const traces[] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};
    return channel >= 0 && channel <= 3 ? traces[channel] : nullptr;
}

int TBusMeasFactory::newAcq(database* setup, TBusAutoMeas* autoMeas)
{
    if (setup->traceFormat == 0) {
        if (trigAuto)
            setTriggerAuto(setup);
        createBinarySignal(setup);
        createTemporalHistogram();
    }
    TAcquisition* trace = channelTrace();
    if (trace && trace->samples) {
        MeasPixT_bus(trace->samples, autoMeas, kWindowFirst, kWindowEnd, typeCodage);
        MeasPixAmp(trace->samples, autoMeas, kWindowFirst, kWindowEnd, static_cast<int32_t>(kZeroLineCode));
    }
    ++acqCounter;
    return acqCounter < nbAcq ? -1 : 0;
}

void TBusMeasFactory::setTriggerAuto(database*)
{
    TAcquisition* trace = channelTrace();
    if (!trace || !trace->samples)
        return;
    mesures m{};
    MeasPixT(trace->samples, &m, kWindowFirst, kWindowEnd, 1);
    if ((m.flags & (MEAS_TOP_VALID | MEAS_BASE_VALID)) != (MEAS_TOP_VALID | MEAS_BASE_VALID))
        return;
    const int64_t base = m.baseLevel;
    const int64_t span = std::max<int64_t>(int64_t{m.topLevel} - base, 0);
    triggerMax = static_cast<uint32_t>(base + std::min<uint32_t>(trigMaxPercent, 100) * span / 100);
    triggerMin = static_cast<uint32_t>(base + std::min<uint32_t>(trigMinPercent, 100) * span / 100);
}

void TBusMeasFactory::createBinarySignal(database*)
{
    try {
        TAcquisition* trace = channelTrace();
        if (!trace || !trace->samples)
            throw -1;
        const uint32_t* s = trace->samples;
        int32_t i = kWindowFirst;
        while (i < kWindowEnd && !valid(s[i]))
            ++i;
        if (i >= kWindowEnd)
            throw -2;
        int32_t state = 0;
        for (; i < kWindowEnd; ++i) {
            if (!valid(s[i]))
                continue;
            const uint32_t k = codeOf(s[i]);
            if (k > triggerMax || k < triggerMin) {
                state = k > triggerMax ? 1 : -1;
                break;
            }
        }
        if (state == 0)
            throw 0;
        // Entry i stands for sample i: the undecided start takes the first decisive state.
        std::fill(binary, binary + i + 1, state);
        const uint64_t longest = uint64_t{timeBitTheo} + 1;
        int32_t runStart = -1;
        int32_t written = i;
        for (int32_t j = i + 1; j < kWindowEnd; ++j) {
            const uint32_t k = codeOf(s[j]);
            const bool decisive = valid(s[j]) && (k > triggerMax || k < triggerMin);
            if (!decisive) {
                if (valid(s[j]) && runStart < 0)
                    runStart = j;
                else if (runStart < 0)
                    binary[j] = binary[j - 1], written = j;  // invalid: the previous entry again
                continue;
            }
            if (runStart >= 0) {
                const int32_t fill = uint64_t(j - runStart) <= longest ? state : 0;
                std::fill(binary + runStart, binary + j, fill);
                runStart = -1;
            }
            state = k > triggerMax ? 1 : -1;
            binary[j] = state;
            written = j;
        }
        if (runStart >= 0 && uint64_t(kWindowEnd - runStart) > timeBitTheo)
            state = 0;
        std::fill(binary + written + 1, binary + kWindowEnd, state);
    } catch (int) {
        // No trace, no valid or no decisive sample: the signal keeps its previous content.
    }
}

void TBusMeasFactory::createTemporalHistogram()
{
    const uint64_t t = timeBitTheo;
    const uint64_t hi = t * 130 / 100;
    const uint64_t lo = t * 70 / 100;
    if (hi > uint64_t(kWindowEnd))
        return;
    int32_t start = 0;
    while (start < kWindowEnd && binary[start] == 0)
        ++start;
    if (start >= kWindowEnd)
        return;
    int32_t e1 = findEdge(binary, start, kWindowEnd);
    if (e1 < 0)
        return;
    int64_t prev = -1;
    for (;;) {
        const int32_t e2 = findEdge(binary, e1, kWindowEnd);
        if (e2 < 0)
            break;
        const uint64_t width = uint64_t(e2 - e1);
        if (lo < width && width < hi) {
            (binary[e1] == 1 ? highHistogram : lowHistogram).addValue(static_cast<uint32_t>(width));
            if (prev > 0) {
                pairHistogram.addValue(static_cast<uint32_t>(e2 - prev));
                prev = 0;
            } else {
                prev = e1;
            }
        } else {
            prev = 0;
        }
        e1 = e2;
    }
}

int TBusMeasFactory::computeTriseTfall(const uint32_t* samples, TTriggerRiseFallTime* out, int edges)
{
    TTriggerRiseFallTime r{0, UINT32_MAX, 0, UINT32_MAX};
    bool rise = false;
    bool fall = false;
    for (int32_t e = findEdge(binary, kWindowFirst, kWindowEnd); e > 0; e = findEdge(binary, e, kWindowEnd)) {
        if (binary[e - 1] == 0 || binary[e] == 0 || !valid(samples[e]))
            continue;
        const uint32_t k = codeOf(samples[e]);
        const bool rising = k > triggerMax && (edges & 1);
        const bool falling = k < triggerMin && (edges & 2);
        if (!rising && !falling)
            continue;
        // Back to the last sample beyond the other threshold.
        int32_t j = e - 1;
        while (j >= 0 && (!valid(samples[j]) ||
                          (rising ? codeOf(samples[j]) > triggerMin : codeOf(samples[j]) < triggerMax)))
            --j;
        if (j < 0)
            return -1;
        const uint32_t n = static_cast<uint32_t>(e - j);
        if (rising) {
            r.longestRise = std::max(r.longestRise, n);
            r.shortestRise = std::min(r.shortestRise, n);
            rise = true;
        } else {
            r.longestFall = std::max(r.longestFall, n);
            r.shortestFall = std::min(r.shortestFall, n);
            fall = true;
        }
    }
    if (!rise && !fall)
        return -1;
    if (!rise)
        r.shortestRise = 0;
    if (!fall)
        r.shortestFall = 0;
    *out = r;
    return 0;
}

int TBusMeasFactory::computeTimeBit(double* mean, double* minimum, double* maximum, unsigned short mode)
{
    const TBusHistogram* used[2] = {nullptr, nullptr};
    if (typeCodage == 2 || typeCodage == 3)
        used[0] = &pairHistogram;
    else if (mode == 1)
        used[0] = &lowHistogram;
    else if (mode == 2)
        used[0] = &highHistogram;
    else if (mode == 3)
        used[0] = &lowHistogram, used[1] = &highHistogram;
    else
        return -1;
    uint64_t n = 0;
    uint64_t s = 0;
    uint32_t lowest = TBusHistogram::kBins - 1;
    uint32_t highest = 0;
    for (const TBusHistogram* h : used) {
        if (!h || h->count == 0)
            continue;
        for (uint32_t i = h->lowest; i <= h->highest; ++i)
            s += uint64_t{i} * h->bins[i];
        n += h->count;
        lowest = std::min(lowest, h->lowest);
        highest = std::max(highest, h->highest);
    }
    if (n == 0)
        return -1;
    *minimum = lowest;
    *maximum = highest;
    *mean = static_cast<double>(s / n);
    return 0;
}

int TBusMeasFactory::getMaxFft(const TAcquisition* trace, int32_t* code)
{
    if (!trace || !trace->samples)
        return -1;
    // The band comes from a descriptor: refuse anything that would read outside the record.
    const double f = GetHorizontalScaleF(trace->timeBase);
    const double low = limitLowFreq;
    const double high = limitHighFreq;
    if (!std::isfinite(low) || !std::isfinite(high) || low <= 0 || high <= 0 || !(f > 0))
        return -1;
    const double first = std::floor(low / f);
    const double last = std::floor(high / f);
    if (first < 1 || last < 1 || first > last || first >= kWindowEnd)
        return -1;
    // The spectrum is the trace's 2500 display points, not its time record: at the spectrum's
    // zoom 1 and position 0 a point stands for 40 samples of the horizontal scale (two points a
    // bin); the zoom and position shown move the bins as the scope cycle moved them.
    const double zoom = data.fftZoomWidth > 0.0f ? double(data.fftZoomWidth) / 40.0 : 1.0;
    const double firstBin = std::clamp(data.fftHorizPosition / 40 / 2, 0, kFftBinCount - 1);
    auto pointOf = [&](double sample) { return (sample / 80.0 - firstBin) * 2.0 / zoom; };
    const int32_t from = static_cast<int32_t>(std::max(0.0, std::floor(pointOf(first))));
    const int32_t to = static_cast<int32_t>(std::min(double(kFftPointCount - 1), std::ceil(pointOf(last))));
    uint32_t best = kMeasRangeHigh;
    for (int32_t p = from; p <= to; ++p) {
        const uint32_t word = trace->loggerRaw[p];
        if (!valid(word))
            continue;
        best = std::min(best, std::clamp(word & 0xFFFFFu & ~0x3Fu, kMeasRangeLow, kMeasRangeHigh));
    }
    *code = static_cast<int32_t>(best);
    return 0;
}

// Tail fit of the pair histogram (how the outline is settled here):
// - bins lowest .. highest are copied into a work array; gaps of fewer than 5 empty bins between
//   filled bins are filled linearly;
// - from each end toward the mean index, a tail starts at the outermost bin holding more than 4
//   values and above the largest of the 4 bins before it, and runs over the non-empty bins
//   from there, up to its largest bin (the flank of the outer peak) and never past the mean;
// - each bin i of the run gives y = sqrt(-ln(bin / largest of the run)); a least-squares line
//   y = a i + b with i relative to the mean index gives the width |1 / (a sqrt 2)| and the centre
//   -b / a; a run shorter than 4 bins gives its outermost index and width 0;
// - offset = mean distance of the two centres from the mean index, width = mean of the two widths.
int TBusMeasFactory::pairTails(double* offset, double* width) const
{
    const TBusHistogram& h = pairHistogram;
    const int32_t n = static_cast<int32_t>(h.highest - h.lowest + 1);
    std::vector<uint32_t> counts(h.bins + h.lowest, h.bins + h.highest + 1);
    int64_t meanAbsolute = 0;
    if (!histogramMean(h, &meanAbsolute))
        return -3;
    const int32_t mean = static_cast<int32_t>(meanAbsolute - h.lowest);
    std::vector<double> w(counts.begin(), counts.end());
    for (int32_t a = 0; a < n;) {
        int32_t b = a + 1;
        while (b < n && counts[b] == 0)
            ++b;
        if (b < n && counts[a] > 0 && b - a - 1 > 0 && b - a - 1 < 5)
            for (int32_t i = a + 1; i < b; ++i)
                w[i] = w[a] + (w[b] - w[a]) * (i - a) / (b - a);
        a = b;
    }
    auto largestBefore = [&](int32_t i, int32_t step) {
        double m = 0;
        for (int32_t k = 1; k <= 4; ++k) {
            const int32_t j = i - k * step;
            if (j >= 0 && j < n)
                m = std::max(m, w[j]);
        }
        return m;
    };
    double centres[2];
    double widths[2];
    bool found[2] = {false, false};
    for (int side = 0; side < 2; ++side) {
        const int32_t step = side == 0 ? 1 : -1;
        int32_t i = side == 0 ? 0 : n - 1;
        while ((step > 0 ? i <= mean : i >= mean) && !(w[i] > 4 && w[i] > largestBefore(i, step)))
            i += step;
        if (step > 0 ? i > mean : i < mean)
            continue;
        int32_t end = i;
        int32_t peak = i;
        while ((step > 0 ? end + step <= mean : end + step >= mean) && w[end + step] > 0) {
            end += step;
            if (w[end] > w[peak])
                peak = end;
        }
        found[side] = true;
        const int32_t length = (peak - i) * step + 1;
        if (length < 4) {
            centres[side] = i - mean;
            widths[side] = 0;
            continue;
        }
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int32_t k = i; k != peak + step; k += step) {
            if (w[k] <= 0)
                return -4;
            const double x = k - mean;
            const double y = std::sqrt(-std::log(w[k] / w[peak]));
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        const double denominator = length * sxx - sx * sx;
        if (denominator == 0)
            return -5;
        const double a = (length * sxy - sx * sy) / denominator;
        const double b = (sy - a * sx) / length;
        if (a == 0 || !std::isfinite(a) || !std::isfinite(b))
            return -3;
        widths[side] = std::fabs(1.0 / (a * 1.4142135));
        centres[side] = -b / a;
    }
    if (!found[0] && !found[1]) {
        int32_t first = 0;
        int32_t last = 0;
        int32_t count = 0;
        find_entier2(counts.data(), n, kBusGreater, 0, &first, &count, 1);
        find_entier2(counts.data(), n, kBusGreater, 0, &last, &count, 2);
        *offset = 0;
        *width = last - first;
        return 0;
    }
    for (int side = 0; side < 2; ++side) {
        if (!found[side]) {
            centres[side] = -centres[1 - side];
            widths[side] = widths[1 - side];
        }
    }
    *offset = (std::fabs(centres[0]) + std::fabs(centres[1])) / 2;
    *width = (widths[0] + widths[1]) / 2;
    return 0;
}

int TBusMeasFactory::computeJitter(TJitter* out, int16_t id)
{
    const uint16_t which = static_cast<uint16_t>(id);
    if (which == 0x4082 || which == 0x4084) {
        if (lowHistogram.count == 0 || highHistogram.count == 0)
            return -1;
    } else if (lowHistogram.count == 0 || highHistogram.count == 0 || pairHistogram.count == 0) {
        return -2;
    }
    double j2 = 0;
    double j3 = 0;
    if (which == 0x4080 || which == 0x4081) {
        const int r = pairTails(&j2, &j3);
        if (r < 0)
            return r;
    }
    int64_t meanHigh = 0;
    int64_t meanLow = 0;
    if (!histogramMean(highHistogram, &meanHigh))
        return -2;
    if (!histogramMean(lowHistogram, &meanLow))
        return -11;
    const double j1 = double(std::max(highHistogram.highest, lowHistogram.highest)) -
                      double(std::min(highHistogram.lowest, lowHistogram.lowest));
    const double spread = double(std::max(highHistogram.highest - highHistogram.lowest,
                                          lowHistogram.highest - lowHistogram.lowest));
    const double rest = j3 < spread ? spread - j3 : spread;
    const double j4 = j2 < rest ? rest - j2 : 0;
    const double j5 = double(std::llabs(meanHigh - meanLow));
    *out = TJitter{static_cast<float>(j3 + j2 + j4 + j5), static_cast<float>(j1), static_cast<float>(j2),
                   static_cast<float>(j3),           static_cast<float>(j4), static_cast<float>(j5)};
    return 0;
}

int TBusMeasFactory::jitter(int16_t id, double* percent)
{
    TJitter j{};
    const int r = computeJitter(&j, id);
    if (r != 0)
        return r;
    double value = 0;
    switch (static_cast<uint16_t>(id)) {
    case 0x4082:
        value = j.j5;
        break;
    case 0x4084:
        value = j.j1;
        break;
    case 0x4081:
        value = j.j0;
        break;
    default:
        value = double(j.j2) + j.j3 + j.j4;
        break;
    }
    const double t = double(timeBitTheo) * ((typeCodage == 2 || typeCodage == 3) ? 2 : 1);
    if (t == 0)
        return -1;  // no bit time: no value
    *percent = value * 100 / t;
    return 0;
}
