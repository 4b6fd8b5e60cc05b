// Measurement kernels: levels, edges, periods and means of a trace window.
#include "acquisition/measkernel.h"
#include "acquisition/vectorpath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

// The straightforward implementation the fast kernels must match word for word: one scalar pass
// for the histogram and the extremes, every visited sample walked in the edge search.
namespace slow {


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


int32_t measPix(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference)
{
    measT(samples, m, first, last, 2);
    return measAmp(samples, m, first, last, reference);
}

} // namespace slow

constexpr int kSize = 100000;
constexpr uint32_t kLow = 458736;   // 2.5 divisions below the centre
constexpr uint32_t kHigh = 589776;  // 2.5 divisions above
constexpr int32_t kCentre = 0x7FFE0;

std::vector<uint32_t> trace(const std::function<uint32_t(int)>& f, int size = kSize)
{
    std::vector<uint32_t> v(size);
    for (int i = 0; i < size; ++i)
        v[i] = f(i);
    return v;
}

// Low for the first half of every period, then high.
std::vector<uint32_t> square(int period, uint32_t low = kLow, uint32_t high = kHigh)
{
    return trace([=](int i) { return i % period < period / 2 ? low : high; });
}

std::vector<uint32_t> noisySine(int period, double amplitude, unsigned seed)
{
    return trace([=](int i) {
        const unsigned noise = (static_cast<unsigned>(i) * 2654435761u + seed) >> 22;  // 0..1023
        return static_cast<uint32_t>(std::lround(kCentre + amplitude * std::sin(2 * M_PI * i / period))) +
               noise - 512;
    });
}

mesures filled()
{
    mesures m;
    std::memset(&m, 0xAB, sizeof m);
    return m;
}

bool sameBytes(const mesures& a, const mesures& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(MeasKernel, SquareWaveGivesTheExactFigures)
{
    const std::vector<uint32_t> s = square(1000);
    mesures m = filled();
    meas_pix(s.data(), &m, 0, kSize, kCentre);
    EXPECT_EQ(m.flags, 0x3FFF);
    EXPECT_EQ(m.minCode, kLow);
    EXPECT_EQ(m.minIndex, 99499);
    EXPECT_EQ(m.maxCode, kHigh);
    EXPECT_EQ(m.maxIndex, 99999);
    EXPECT_EQ(m.topLevel, kHigh);
    EXPECT_EQ(m.baseLevel, kLow);
    EXPECT_EQ(m.rise10, 500u);
    EXPECT_EQ(m.rise50, 500u);
    EXPECT_EQ(m.rise90, 500u);
    EXPECT_EQ(m.fall90, 1000u);
    EXPECT_EQ(m.fall50, 1000u);
    EXPECT_EQ(m.fall10, 1000u);
    EXPECT_EQ(m.nextRise50, 1500u);
    EXPECT_EQ(m.nextFall50, 2000u);
    EXPECT_EQ(m.lastCross50, 99500);
    EXPECT_EQ(m.periodCount, 99);
    EXPECT_EQ(m.mean, 524256.0);
    EXPECT_EQ(m.meanPeriods, 524256.0);
    EXPECT_EQ(m.meanSquare, 4292870400.0);
    EXPECT_EQ(m.meanSquarePeriods, 4292870400.0);
    EXPECT_EQ(m.count, 100000);
    EXPECT_EQ(m.sum, 524256.0 * 100000);
    EXPECT_EQ(m.overrange, 0);
}

TEST(MeasKernel, WindowWithoutValidSampleOnlyClearsTheCounters)
{
    std::vector<uint32_t> s = trace([](int i) { return i % 2 ? 0x80000000u : 0x40000000u + kLow; });
    mesures m = filled();
    const mesures before = m;
    EXPECT_EQ(MeasPixT(s.data(), &m, 0, kSize, 2), 0);
    EXPECT_EQ(m.periodCount, 0);
    EXPECT_EQ(m.otherEdgeCount, 0);
    m.flags = before.flags;
    m.periodCount = before.periodCount;
    m.otherEdgeCount = before.otherEdgeCount;
    EXPECT_TRUE(sameBytes(m, before));

    meas_pix(s.data(), &m, 0, kSize, kCentre);
    EXPECT_EQ(m.flags, 0);
    EXPECT_EQ(m.count, 0);
    EXPECT_EQ(m.mean, 0.0);
    EXPECT_EQ(m.meanSquarePeriods, 0.0);
}

struct TShapeCase {
    const char* name;
    std::function<uint32_t(int)> shape;
    int32_t flags;          // after meas_pix
    uint32_t minCode, maxCode;
    uint8_t overrange;
};

TEST(MeasKernel, ShapesGiveTheirValidityAndExtremes)
{
    const TShapeCase cases[] = {
        // Levels but no edge: the whole window is the period window.
        {"flat", [](int i) { return kCentre + (i % 7) * 1000u; }, 0x300F, kCentre, kCentre + 6000, 0},
        // Clipped at the largest codes.
        {"clipped", [](int i) { return i % 1000 < 500 ? kLow : 700000u; }, 0x000A, kLow, 668400, 1},
        {"below the range", [](int i) { return 100000u + i % 3; }, 0, 380112, 380112, 1},
        {"above the range", [](int) { return 0xFFFFFu; }, 0, 668400, 668400, 1},
        // Math results beyond the measured range on both sides.
        {"math range", [](int i) { return i % 2 ? 262176u : 786336u; }, 0, 380112, 668400, 1},
        {"math bottom", [](int) { return 262176u; }, 0, 380112, 380112, 1},
    };
    for (const TShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> s = trace(c.shape);
        mesures m = filled();
        meas_pix(s.data(), &m, 0, kSize, kCentre);
        EXPECT_EQ(m.flags, c.flags);
        EXPECT_EQ(m.minCode, c.minCode);
        EXPECT_EQ(m.maxCode, c.maxCode);
        EXPECT_EQ(m.overrange, c.overrange);
        EXPECT_EQ(m.periodCount, 0);
        EXPECT_EQ(m.count, kSize);
        EXPECT_EQ(m.meanPeriods, m.mean);
        EXPECT_EQ(m.meanSquarePeriods, m.meanSquare);
        // Levels stay inside the measured range even without a valid group.
        EXPECT_GE(m.baseLevel, kMeasRangeLow - 1024);
        EXPECT_LE(m.topLevel, kMeasRangeHigh + 3072);
    }
}

// Five periods of 10000 samples, then a tail: the tail's crossings count only when they pass the
// hysteresis level above 50 %.
TEST(MeasKernel, CrossingsWithoutHysteresisCountNoPeriod)
{
    const auto withTail = [](uint32_t a, uint32_t b) {
        return trace([=](int i) {
            if (i < 50000)
                return i % 10000 < 5000 ? kLow : kHigh;
            return i % 4 < 2 ? a : b;
        });
    };
    mesures quiet = filled();
    mesures noise = filled();
    mesures loud = filled();
    MeasPixT(withTail(520000, 520000).data(), &quiet, 0, kSize, 2);
    MeasPixT(withTail(520000, 528000).data(), &noise, 0, kSize, 2);  // 50 % is 524256
    MeasPixT(withTail(520000, 540000).data(), &loud, 0, kSize, 2);   // past 524256 + 8190
    EXPECT_EQ(quiet.periodCount, 4);
    EXPECT_EQ(noise.periodCount, quiet.periodCount);
    EXPECT_EQ(noise.otherEdgeCount, quiet.otherEdgeCount);
    EXPECT_EQ(noise.lastCross50, quiet.lastCross50);
    EXPECT_GT(loud.periodCount, quiet.periodCount);
}

TEST(MeasKernel, EdgesCloserThanFiveSamplesAreDropped)
{
    mesures close = filled();
    MeasPixT(square(4).data(), &close, 0, kSize, 1);
    EXPECT_EQ(close.flags & 0xFF0, 0);
    EXPECT_EQ(close.periodCount, 0);
    EXPECT_EQ(close.flags & 0xF, 0xF);

    mesures apart = filled();
    MeasPixT(square(10).data(), &apart, 0, kSize, 1);
    EXPECT_EQ(apart.flags & 0xFF0, 0xFF0);
    EXPECT_EQ(apart.nextRise50 - apart.rise50, 10u);
    EXPECT_EQ(apart.periodCount, 9999);
}

// A first period far shorter than the others makes the count untrustworthy.
TEST(MeasKernel, InconsistentFirstPeriodResetsTheCount)
{
    const auto shape = [](int firstHigh) {
        return trace([=](int i) {
            if (i < 400)
                return i >= firstHigh && i < 200 ? kHigh : kLow;
            return (i - 400) % 2000 < 1000 ? kHigh : kLow;
        }, 20000);
    };
    mesures odd = filled();
    MeasPixT(shape(100).data(), &odd, 0, 20000, 1);
    EXPECT_EQ(odd.flags & 0xFF0, 0xFF0);
    EXPECT_EQ(odd.rise50, 100u);
    EXPECT_EQ(odd.nextRise50, 400u);
    EXPECT_EQ(odd.periodCount, 1);
    EXPECT_EQ(odd.lastCross50, 400);

    // The same trace with regular periods keeps its count.
    const std::vector<uint32_t> regular = trace([](int i) { return i % 2000 < 1000 ? kLow : kHigh; }, 20000);
    mesures even = filled();
    MeasPixT(regular.data(), &even, 0, 20000, 1);
    EXPECT_EQ(even.periodCount, 9);
    EXPECT_EQ(even.lastCross50, 19000);
}

TEST(MeasKernel, MeasPixIsBothKernelsOverAnyWindow)
{
    const std::vector<uint32_t> sine = noisySine(3000, 60000, 7);
    struct { int32_t first, last; } windows[] = {{0, kSize}, {5000, 95000}, {95000, 5000}, {12345, 12346}, {700, 700}};
    for (const auto& w : windows) {
        SCOPED_TRACE(testing::Message() << w.first << ".." << w.last);
        mesures both = filled();
        mesures apart = filled();
        meas_pix(sine.data(), &both, w.first, w.last, kCentre);
        MeasPixT(sine.data(), &apart, w.first, w.last, 2);
        MeasPixAmp(sine.data(), &apart, w.first, w.last, kCentre);
        EXPECT_TRUE(sameBytes(both, apart));
    }
    mesures whole = filled();
    meas_pix(sine.data(), &whole, 0, kSize, kCentre);
    EXPECT_EQ(whole.flags & 0x3FFF, 0x3FFF);
    EXPECT_NEAR(whole.nextRise50 - whole.rise50, 3000.0, 10.0);
    EXPECT_EQ(whole.periodCount, 32);
    EXPECT_NEAR(whole.meanPeriods, kCentre, 100.0);
    EXPECT_NEAR(std::sqrt(whole.meanSquarePeriods), 60000 / std::sqrt(2.0), 200.0);

    // MeasPixT clamps its window to the trace.
    mesures clamped = filled();
    MeasPixT(sine.data(), &clamped, -500, 250000, 2);
    mesures exact = filled();
    MeasPixT(sine.data(), &exact, 0, kSize, 2);
    EXPECT_TRUE(sameBytes(clamped, exact));
}

TEST(MeasKernel, TwoThreadsMeasuringAtOnceGetTheirOwnResults)
{
    const std::vector<uint32_t> a = square(1000);
    const std::vector<uint32_t> b = noisySine(777, 50000, 3);
    mesures expectA = filled();
    mesures expectB = filled();
    meas_pix(a.data(), &expectA, 0, kSize, kCentre);
    meas_pix(b.data(), &expectB, 5000, 95000, kCentre);

    const auto run = [](const std::vector<uint32_t>& s, int32_t first, int32_t last, const mesures& expect,
                        int& mismatches) {
        for (int n = 0; n < 200; ++n) {
            mesures m = filled();
            meas_pix(s.data(), &m, first, last, kCentre);
            mismatches += sameBytes(m, expect) ? 0 : 1;
        }
    };
    int badA = 0;
    int badB = 0;
    std::thread ta(run, std::cref(a), 0, kSize, std::cref(expectA), std::ref(badA));
    std::thread tb(run, std::cref(b), 5000, 95000, std::cref(expectB), std::ref(badB));
    ta.join();
    tb.join();
    EXPECT_EQ(badA, 0);
    EXPECT_EQ(badB, 0);
}

// Each vector path the build has, pinned for the test and given back after it.
class MeasKernelPaths : public ::testing::TestWithParam<TVectorPath> {
protected:
    void SetUp() override { ASSERT_TRUE(setVectorPath(GetParam())); }
    void TearDown() override { resetVectorPath(); }
};

std::string pathName(const ::testing::TestParamInfo<TVectorPath>& info)
{
    static const char* const names[] = {"Portable", "Sse2", "Avx2"};
    return names[static_cast<int>(info.param)];
}

// Only the paths this build and processor run: a path it lacks is no test, not a skipped one.
std::vector<TVectorPath> pathsHere()
{
    std::vector<TVectorPath> paths;
    for (TVectorPath p : {TVectorPath::Portable, TVectorPath::Sse2, TVectorPath::Avx2})
        if (setVectorPath(p))
            paths.push_back(p);
    resetVectorPath();
    return paths;
}

INSTANTIATE_TEST_SUITE_P(Paths, MeasKernelPaths, ::testing::ValuesIn(pathsHere()), pathName);

// Random and shaped traces, random windows and steps: the kernels give the same records, byte for
// byte, as the straightforward implementation, on every path.
TEST_P(MeasKernelPaths, FastKernelsMatchTheStraightforwardOnes)
{
    std::mt19937 rng(12345);
    auto uni = [&](int64_t a, int64_t b) { return std::uniform_int_distribution<int64_t>(a, b)(rng); };
    auto invalidWord = [&]() {
        static const uint32_t words[] = {0x40000000u, 0x80000000u, 0xFFFFFFFFu, 0x40000000u | 458736u};
        return words[uni(0, 3)];
    };
    for (int round = 0; round < 160; ++round) {
        const int shape = round % 8;
        const int period = static_cast<int>(uni(3, 30000));
        const double amplitude = static_cast<double>(uni(0, 200000));
        const int noise = static_cast<int>(uni(0, 20000));
        const double invalidShare = round % 5 == 0 ? 0.0 : std::uniform_real_distribution<double>(0.0, 0.3)(rng);
        const uint32_t base = static_cast<uint32_t>(uni(0, 0xFFFFF));
        std::vector<uint32_t> s(kSize);
        for (int i = 0; i < kSize; ++i) {
            double v = 0.0;
            const double ph = static_cast<double>(i % period) / period;
            switch (shape) {
            case 0: v = kCentre + amplitude * std::sin(2 * M_PI * ph); break;
            case 1: v = kCentre + (ph < 0.5 ? -amplitude : amplitude) / 2; break;
            case 2: v = kCentre + amplitude * (ph - 0.5); break;                       // saw
            case 3: v = kCentre + (ph < 0.1 ? amplitude : 0.0); break;                 // pulses
            case 4: v = static_cast<double>(uni(0, 0xFFFFF)); break;                   // random codes
            case 5: v = static_cast<double>(base); break;                              // flat
            case 6: v = static_cast<double>(uni(0, 1) ? kMeasRangeLow : kMeasRangeHigh); break;
            default: v = kCentre + amplitude * std::sin(2 * M_PI * ph) * std::sin(M_PI * i / kSize); break;
            }
            if (noise > 0)
                v += static_cast<double>(uni(-noise, noise));
            uint32_t w = static_cast<uint32_t>(std::clamp<int64_t>(std::llround(v), 0, 0xFFFFF));
            if (shape == 6 && uni(0, 1))
                w |= static_cast<uint32_t>(uni(0, 0x3FF)) << 20;  // high bits below 0x40000000
            if (invalidShare > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng) < invalidShare)
                w = invalidWord();
            s[i] = w;
        }
        if (round % 7 == 3)  // long invalid stretches
            std::fill(s.begin() + uni(0, kSize / 2), s.begin() + uni(kSize / 2, kSize), invalidWord());

        for (int window = 0; window < 6; ++window) {
            int32_t first = static_cast<int32_t>(uni(0, kSize));
            int32_t last = static_cast<int32_t>(uni(0, kSize));
            if (window == 0) {
                first = 0;
                last = kSize;
            } else if (window == 1) {
                first = 95000;
                last = 5000;
            } else if (window == 2) {
                last = first + static_cast<int32_t>(uni(0, 70));  // short windows
                last = std::min(last, kSize);
            }
            const int32_t reference = static_cast<int32_t>(uni(0, 0xFFFFF));
            mesures fast = filled();
            mesures slowRecord = filled();
            const int32_t rf = meas_pix(s.data(), &fast, first, last, reference);
            const int32_t rs = slow::measPix(s.data(), &slowRecord, first, last, reference);
            ASSERT_EQ(rf, rs) << "round " << round << " window " << first << ".." << last;
            ASSERT_TRUE(sameBytes(fast, slowRecord)) << "round " << round << " window " << first << ".." << last;

            const int16_t step = static_cast<int16_t>(uni(-1, 9));
            fast = filled();
            slowRecord = filled();
            ASSERT_EQ(MeasPixT(s.data(), &fast, first - 10, last, step),
                      slow::measT(s.data(), &slowRecord, first - 10, last, step));
            ASSERT_TRUE(sameBytes(fast, slowRecord)) << "round " << round << " step " << step;
        }
    }
}

} // namespace

