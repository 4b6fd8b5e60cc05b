// Waveform measurement kernels. Everything is local to the call, so the measure thread, the
// mode cycles and the bus engine may measure at the same time.
#include "acquisition/measkernel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

__extension__ typedef __int128 TWide;

constexpr uint32_t kInvalidFrom = 0x40000000u;
constexpr uint32_t kCodeMask = 0xFFFFFu;
constexpr int32_t kTraceSize = 100000;

// 1024 codes a bin over the measured range: bins 0..281.
constexpr int kBins = 282;
// Zero bins on each side, so that the three-bin windows at the ends of the range read nothing.
constexpr int kPad = 2;
constexpr int kPaddedBins = kBins + 2 * kPad;
// Interleaved copies of the histogram: a run of equal codes does not wait on one counter.
constexpr int kLanes = 4;
constexpr uint64_t kCountUnit = uint64_t{1} << 40;

constexpr int kHysteresis = 8190;
constexpr uint32_t kMinEdgeAmplitude = 16381;

// Sums of the valid codes of a window.
struct TTotals {
    uint64_t sum = 0;
    uint64_t squares = 0;  // of the codes themselves; exact up to 2^23 samples
    int64_t count = 0;
};

void addRange(const uint32_t* samples, int64_t from, int64_t to, TTotals& t)
{
    uint64_t sum = 0;
    uint64_t squares = 0;
    int64_t count = 0;
    for (int64_t i = from; i < to; ++i) {
        const uint32_t w = samples[i];
        const uint64_t valid = w < kInvalidFrom;
        const uint64_t code = (w & kCodeMask) * valid;
        sum += code;
        squares += code * code;
        count += static_cast<int64_t>(valid);
    }
    t.sum += sum;
    t.squares += squares;
    t.count += count;
}

// Mean and mean of (code - reference)^2, both 0 without a sample: exact integer sums, rounded
// once at the end.
void means(const TTotals& t, int32_t reference, double& mean, double& meanSquare)
{
    if (t.count == 0) {
        mean = 0.0;
        meanSquare = 0.0;
        return;
    }
    const TWide r = reference;
    const TWide squares = static_cast<TWide>(t.squares) - 2 * r * static_cast<TWide>(t.sum) +
                          static_cast<TWide>(t.count) * r * r;
    mean = static_cast<double>(t.sum) / static_cast<double>(t.count);
    meanSquare = static_cast<double>(squares) / static_cast<double>(t.count);
}

// Bit k set when the code is at or above level k (10 %, 50 %, hysteresis, 90 %): the XOR of two
// zones tells exactly which levels lie between two samples.
inline unsigned zoneOf(int32_t v, const int32_t (&levels)[4])
{
    return static_cast<unsigned>(v >= levels[0]) | static_cast<unsigned>(v >= levels[1]) << 1 |
           static_cast<unsigned>(v >= levels[2]) << 2 | static_cast<unsigned>(v >= levels[3]) << 3;
}

// Mean of the codes of bins [from, from + 3) (clipped to the table); false when they hold none.
bool levelMean(const uint32_t* counts, const uint64_t* sums, int from, uint32_t& level)
{
    uint64_t n = 0;
    uint64_t s = 0;
    for (int b = std::max(from, 0); b < std::min(from + 3, kBins); ++b) {
        n += counts[b + kPad];
        s += sums[b + kPad];
    }
    if (n == 0) {
        level = static_cast<uint32_t>(static_cast<int64_t>(kMeasRangeLow) + 1024 * int64_t{from} + 1536);
        return false;
    }
    level = static_cast<uint32_t>(s / n);
    return true;
}

void edgeSearch(const uint32_t* samples, mesures* m, int32_t lo, int32_t hi, int step)
{
    const int32_t top = static_cast<int32_t>(m->topLevel);
    const int32_t base = static_cast<int32_t>(m->baseLevel);
    const int32_t a = top - base;
    const int32_t mid = static_cast<int32_t>((int64_t{top} + base) / 2);
    const int32_t levels[4] = {base + a / 10, mid, mid + kHysteresis, top - a / 10};

    int32_t i = lo;
    while (i < hi && samples[i] >= kInvalidFrom)
        ++i;
    if (i >= hi)
        return;
    unsigned zone = zoneOf(static_cast<int32_t>(samples[i] & kCodeMask), levels);

    int32_t cross10 = 0, cross50 = 0, cross90 = 0;
    unsigned sinceEdge = 0;   // levels crossed since the last edge
    unsigned sinceCount = 0;  // levels crossed since the last period count
    int edges = 0;
    bool firstRising = false;
    for (i += step; i < hi; i += step) {
        const uint32_t w = samples[i];
        if (w >= kInvalidFrom)
            continue;
        const unsigned z = zoneOf(static_cast<int32_t>(w & kCodeMask), levels);
        if (z == zone)
            continue;
        const unsigned crossed = z ^ zone;
        const bool rose = z > zone;
        zone = z;
        if (crossed & 1)
            cross10 = i;
        if (crossed & 2)
            cross50 = i;
        if (crossed & 8)
            cross90 = i;
        sinceEdge |= crossed;
        sinceCount |= crossed;

        // The period count first: the crossing that completes the first edge is no period.
        if ((sinceCount & 6) == 6 && edges > 0) {
            if (rose == firstRising) {
                ++m->periodCount;
                m->lastCross50 = cross50;
            } else {
                ++m->otherEdgeCount;
            }
            sinceCount = 0;
        }

        if (sinceEdge == 15 && edges < 4) {
            const bool rising = cross10 < cross90 || (cross10 == cross90 && rose);
            if (edges == 0)
                firstRising = rising;
            ++edges;
            sinceEdge = 0;
            const bool both = (m->flags & MEAS_RISE) && (m->flags & MEAS_FALL);
            if (rising) {
                if (!(m->flags & MEAS_RISE)) {
                    m->rise10 = static_cast<uint32_t>(cross10);
                    m->rise50 = static_cast<uint32_t>(cross50);
                    m->rise90 = static_cast<uint32_t>(cross90);
                    m->flags |= MEAS_RISE;
                } else if (both && !(m->flags & MEAS_NEXT_RISE)) {
                    m->nextRise50 = static_cast<uint32_t>(cross50);
                    m->flags |= MEAS_NEXT_RISE;
                }
            } else {
                if (!(m->flags & MEAS_FALL)) {
                    m->fall90 = static_cast<uint32_t>(cross90);
                    m->fall50 = static_cast<uint32_t>(cross50);
                    m->fall10 = static_cast<uint32_t>(cross10);
                    m->flags |= MEAS_FALL;
                } else if (both && !(m->flags & MEAS_NEXT_FALL)) {
                    m->nextFall50 = static_cast<uint32_t>(cross50);
                    m->flags |= MEAS_NEXT_FALL;
                }
            }
        }
    }

    // A period count far from what the first period predicts is not trusted.
    constexpr int32_t kChecked = 0x800 | 0x400 | 0x100 | 0x20;
    if ((m->flags & kChecked) == kChecked && m->periodCount <= 49 && m->periodCount > 2) {
        const bool riseFirst = firstRising;
        const int64_t p = riseFirst ? int64_t{m->nextRise50} - m->rise50 : int64_t{m->nextFall50} - m->fall50;
        const int64_t s = int64_t{m->lastCross50} - (riseFirst ? m->rise50 : m->fall50);
        const int64_t k = m->periodCount;
        if (64 * p < 64 * s / (k + 2) || 64 * p > 64 * s / (k - 2)) {
            m->periodCount = 1;
            m->lastCross50 = static_cast<int32_t>(riseFirst ? m->nextRise50 : m->nextFall50);
        }
    }

    // Edges too close to be real.
    if ((m->flags & 0xFF0) == 0xFF0) {
        const int64_t d = int64_t{m->nextRise50} - m->rise50;
        if (d >= -4 && d <= 4) {
            m->flags &= ~0xFF0;
            m->periodCount = 0;
        }
    }
}

int32_t measT(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int step)
{
    const int32_t lo = std::clamp(std::min(first, last), 0, kTraceSize);
    const int32_t hi = std::clamp(std::max(first, last), 0, kTraceSize);
    if (step < 1)
        step = 1;

    m->flags = 0;
    m->periodCount = 0;
    m->otherEdgeCount = 0;

    // Count (bits 40 and up) and sum of the codes (bits 0-39) of each bin, in one word so that
    // a sample costs one update; a window of 100,000 codes below 2^20 cannot carry over.
    uint64_t bins[kLanes][kPaddedBins];
    std::memset(bins, 0, sizeof bins);

    // One pass: histogram, per-bin sums and the extremes with their last indices.
    uint32_t minCode = kMeasRangeHigh;
    uint32_t maxCode = kMeasRangeLow;
    int32_t minIndex = 0;
    int32_t maxIndex = 0;
    int64_t valid = 0;
    for (int32_t i = lo; i < hi; ++i) {
        const uint32_t w = samples[i];
        if (w >= kInvalidFrom)
            continue;
        const uint32_t v = std::min(std::max(w & kCodeMask, kMeasRangeLow), kMeasRangeHigh);
        const uint32_t bin = ((v - kMeasRangeLow) >> 10) + kPad;
        bins[i & (kLanes - 1)][bin] += kCountUnit + v;
        if (v <= minCode) {
            minCode = v;
            minIndex = i;
        }
        if (v >= maxCode) {
            maxCode = v;
            maxIndex = i;
        }
        ++valid;
    }
    if (valid == 0)
        return m->flags;

    uint32_t hist[kPaddedBins];
    uint64_t binSums[kPaddedBins];
    for (int b = 0; b < kPaddedBins; ++b) {
        uint64_t n = 0;
        uint64_t s = 0;
        for (int lane = 0; lane < kLanes; ++lane) {
            n += bins[lane][b] >> 40;
            s += bins[lane][b] & (kCountUnit - 1);
        }
        hist[b] = static_cast<uint32_t>(n);
        binSums[b] = s;
    }
    auto window = [&hist](int centre) {
        // centre - 1 .. centre + 1; bins beyond the table are empty.
        if (centre < -1 || centre > kBins)
            return uint64_t{0};
        const int c = centre + kPad;
        return uint64_t{hist[c - 1]} + hist[c] + hist[c + 1];
    };

    m->minCode = minCode;
    m->maxCode = maxCode;
    m->minIndex = minIndex;
    m->maxIndex = maxIndex;
    if (minCode != kMeasRangeHigh && minCode != kMeasRangeLow)
        m->flags |= MEAS_MIN_VALID;
    if (maxCode != kMeasRangeHigh && maxCode != kMeasRangeLow)
        m->flags |= MEAS_MAX_VALID;
    m->overrange = (minCode == kMeasRangeLow || maxCode == kMeasRangeHigh) ? 1 : 0;

    // Level groups: the densest three-bin window climbing from the lowest code, and its
    // mirror coming down from the highest.
    const uint64_t threshold = static_cast<uint64_t>(valid / 20);
    const int g = static_cast<int>((minCode - kMeasRangeLow) >> 10);
    const int h = static_cast<int>((maxCode - kMeasRangeLow) >> 10);

    int baseBin = g;
    {
        const int stop = (7 * h + g) / 10;
        int found = -1;
        uint64_t foundSum = 0;
        for (int j = g + 1;; ++j) {
            const uint64_t s = window(j);
            if (s > threshold) {
                found = j;
                foundSum = s;
            }
            if (j + 1 >= stop)
                break;
            if (found >= 0 && window(j + 1) <= s)
                break;
        }
        if (found >= 0 && std::abs(h - found) > 4 && foundSum >= threshold)
            baseBin = found;
    }
    int topBin = h - 1;
    {
        const int stop = (h + 7 * g) / 10;
        int found = -1;
        uint64_t foundSum = 0;
        for (int k = h - 1;; --k) {
            const uint64_t s = window(k);
            if (s > threshold) {
                found = k;
                foundSum = s;
            }
            if (k - 1 <= stop)
                break;
            if (found >= 0 && window(k - 1) <= s)
                break;
        }
        if (found >= 0 && std::abs(found - g) > 4 && foundSum >= threshold)
            topBin = found - 1;
    }

    uint32_t level = 0;
    const bool topFound = levelMean(hist, binSums, topBin, level);
    m->topLevel = level;
    const bool baseFound = levelMean(hist, binSums, baseBin - 1, level);
    m->baseLevel = level;
    if (minCode != kMeasRangeHigh && (m->flags & MEAS_MIN_VALID) && baseFound)
        m->flags |= MEAS_BASE_VALID;
    if (maxCode != kMeasRangeLow && (m->flags & MEAS_MAX_VALID) && topFound)
        m->flags |= MEAS_TOP_VALID;

    if ((m->flags & (MEAS_MIN_VALID | MEAS_MAX_VALID)) == (MEAS_MIN_VALID | MEAS_MAX_VALID) &&
        maxCode - minCode >= kMinEdgeAmplitude)
        edgeSearch(samples, m, lo, hi, step);
    return m->flags;
}

int32_t measAmp(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference)
{
    const int64_t lo = std::min(first, last);
    const int64_t hi = std::max(first, last);

    // The whole periods, kept inside the window.
    int64_t from = 0;
    int64_t to = 0;
    const int32_t extremes = MEAS_MIN_VALID | MEAS_MAX_VALID;
    if ((m->flags & extremes) == extremes) {
        const bool rise = (m->flags & MEAS_RISE) != 0;
        const bool fall = (m->flags & MEAS_FALL) != 0;
        const bool fallFirst = (fall && !rise) || (!fall && !rise) || (rise && fall && m->fall50 < m->rise50);
        if (m->periodCount != 0) {
            from = std::clamp<int64_t>(fallFirst ? m->fall50 : m->rise50, lo, hi);
            to = std::clamp<int64_t>(m->lastCross50, from, hi);
        }
        m->flags |= MEAS_PERIOD_MEANS;
    }
    const bool periods = to > from;

    // The period totals, then the rest of the window after and before them.
    TTotals inPeriods;
    TTotals window;
    if (periods) {
        addRange(samples, from, to, inPeriods);
        window = inPeriods;
        addRange(samples, to, hi, window);
        addRange(samples, lo, from, window);
    } else {
        addRange(samples, lo, hi, inPeriods);
        window = inPeriods;
    }

    means(inPeriods, reference, m->meanPeriods, m->meanSquarePeriods);
    means(window, reference, m->mean, m->meanSquare);
    m->sum = static_cast<double>(window.sum);
    m->count = static_cast<int32_t>(window.count);
    return m->flags;
}

} // namespace

int32_t MeasPixT(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int16_t step)
{
    return measT(samples, m, first, last, step);
}

int32_t MeasPixAmp(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference)
{
    return measAmp(samples, m, first, last, reference);
}

int32_t meas_pix(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference)
{
    measT(samples, m, first, last, 2);
    return measAmp(samples, m, first, last, reference);
}
