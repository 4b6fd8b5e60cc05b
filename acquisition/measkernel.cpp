// Waveform measurement kernels. Everything is local to the call, so the measure thread, the
// mode cycles and the bus engine may measure at the same time.
#include "acquisition/measkernel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
constexpr int kInvalidColumn = kPaddedBins;
constexpr int kColumns = kPaddedBins + 1;
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
    uint64_t count = 0;
    int64_t i = from;
#if defined(__SSE2__)
    // 32-bit lane sums over blocks short enough not to carry (4 x 2048 codes below 2^20), the
    // squares in 64-bit lanes.
    constexpr int64_t kBlock = 8192;
    const __m128i codeMask = _mm_set1_epi32(static_cast<int32_t>(kCodeMask));
    __m128i squaresEven = _mm_setzero_si128();
    __m128i squaresOdd = _mm_setzero_si128();
    while (to - i >= 4) {
        const int64_t end = i + std::min<int64_t>(kBlock, (to - i) & ~int64_t{3});
        __m128i sums = _mm_setzero_si128();
        __m128i counts = _mm_setzero_si128();
        for (; i < end; i += 4) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
            const __m128i ok = _mm_cmpeq_epi32(_mm_srli_epi32(x, 30), _mm_setzero_si128());
            const __m128i c = _mm_and_si128(_mm_and_si128(x, codeMask), ok);
            sums = _mm_add_epi32(sums, c);
            counts = _mm_sub_epi32(counts, ok);
            squaresEven = _mm_add_epi64(squaresEven, _mm_mul_epu32(c, c));
            const __m128i odd = _mm_srli_epi64(c, 32);
            squaresOdd = _mm_add_epi64(squaresOdd, _mm_mul_epu32(odd, odd));
        }
        alignas(16) uint32_t lanes[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 4), counts);
        for (int k = 0; k < 4; ++k) {
            sum += lanes[k];
            count += lanes[4 + k];
        }
    }
    alignas(16) uint64_t wide[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(wide), squaresEven);
    _mm_store_si128(reinterpret_cast<__m128i*>(wide + 2), squaresOdd);
    squares += wide[0] + wide[1] + wide[2] + wide[3];
#endif
    for (; i < to; ++i) {
        const uint32_t w = samples[i];
        const uint64_t code = w < kInvalidFrom ? (w & kCodeMask) : 0u;
        sum += code;
        squares += code * code;
        count += w < kInvalidFrom ? 1u : 0u;
    }
    t.sum += sum;
    t.squares += squares;
    t.count += static_cast<int64_t>(count);
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

// The codes of zone z form one interval [from, from + width) of 0..0xFFFFF: at or above every
// level whose bit is set, below every other one. width 0 when no code has that zone.
void zoneInterval(unsigned z, const int32_t (&levels)[4], uint32_t& from, uint32_t& width)
{
    int64_t low = 0;
    int64_t high = int64_t{kCodeMask} + 1;
    for (int k = 0; k < 4; ++k) {
        if (z >> k & 1)
            low = std::max<int64_t>(low, levels[k]);
        else
            high = std::min<int64_t>(high, levels[k]);
    }
    from = static_cast<uint32_t>(std::min<int64_t>(low, int64_t{kCodeMask} + 1));
    width = high > low ? static_cast<uint32_t>(high - low) : 0u;
}

constexpr int32_t kBlockWords = 64;
constexpr int kMaxBlockStep = 4;

// True when the code of every word of the block lies in [from, from + width). Invalid words are
// not told apart: their codes can only send a block down the slow path, which skips them.
inline bool blockInZone(const uint32_t* w, uint32_t from, uint32_t width)
{
    // Codes are below 2^20 and from + width is at most 2^20: signed comparisons are exact.
    const int32_t low = static_cast<int32_t>(from);
    const int32_t high = static_cast<int32_t>(from + width) - 1;
#if defined(__SSE2__)
    const __m128i codeMask = _mm_set1_epi32(static_cast<int32_t>(kCodeMask));
    const __m128i vlow = _mm_set1_epi32(low);
    const __m128i vhigh = _mm_set1_epi32(high);
    __m128i out = _mm_setzero_si128();
    for (int j = 0; j < kBlockWords; j += 4) {
        const __m128i c = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j)), codeMask);
        out = _mm_or_si128(out, _mm_or_si128(_mm_cmplt_epi32(c, vlow), _mm_cmpgt_epi32(c, vhigh)));
    }
    return _mm_movemask_epi8(out) == 0;
#else
    int32_t out = 0;
    for (int j = 0; j < kBlockWords; ++j) {
        const int32_t c = static_cast<int32_t>(w[j] & kCodeMask);
        out |= (c < low) | (c > high);
    }
    return out == 0;
#endif
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
    // Most samples stay in the zone of the previous one: a block of words is first checked as a
    // whole (a loop the compiler vectorises) and only a block with a zone change is walked one
    // sample at a time. Checking every word of the block, not only the visited ones, can only
    // send more blocks down the slow path.
    const bool blocks = step <= kMaxBlockStep;
    const int32_t advance = (kBlockWords + step - 1) / step * step;  // visited samples of a block
    unsigned boundsZone = ~0u;
    uint32_t zoneFrom = 0;
    uint32_t zoneWidth = 0;
    i += step;
    while (i < hi) {
        if (blocks && hi - i >= kBlockWords) {
            if (zone != boundsZone) {
                zoneInterval(zone, levels, zoneFrom, zoneWidth);
                boundsZone = zone;
            }
            if (blockInZone(samples + i, zoneFrom, zoneWidth)) {
                i += advance;
                continue;
            }
        }
        const int32_t end = hi - i > advance ? i + advance : hi;
        for (; i < end; i += step) {
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

// Words prepared a chunk at a time, so that the histogram loop only scatters.
constexpr int32_t kChunk = 256;

// For each word of the chunk: the histogram column and the code clamped to the measured range;
// also the lowest and highest clamped code of the valid words (above kMeasRangeHigh and below
// kMeasRangeLow when there is none).
void prepareChunk(const uint32_t* w, int32_t n, int32_t* column, int32_t* clamped, int32_t& lowest,
                  int32_t& highest)
{
    constexpr int32_t kNone = 1 << 30;
    int32_t j = 0;
    int32_t low = kNone;
    int32_t high = 0;
#if defined(__SSE2__)
    // Codes below 2^20 are exact in single precision, whose min/max SSE2 has (not the integer
    // ones).
    const __m128i codeMask = _mm_set1_epi32(static_cast<int32_t>(kCodeMask));
    const __m128 rangeLow = _mm_set1_ps(static_cast<float>(kMeasRangeLow));
    const __m128 rangeHigh = _mm_set1_ps(static_cast<float>(kMeasRangeHigh));
    const __m128i columnBase = _mm_set1_epi32(static_cast<int32_t>(kMeasRangeLow) - kPad * 1024);
    const __m128i invalidColumn = _mm_set1_epi32(kInvalidColumn);
    const __m128 none = _mm_set1_ps(static_cast<float>(kNone));
    __m128 vlow = none;
    __m128 vhigh = _mm_setzero_ps();
    for (; n - j >= 4; j += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j));
        const __m128i ok = _mm_cmpeq_epi32(_mm_srli_epi32(x, 30), _mm_setzero_si128());
        const __m128 okf = _mm_castsi128_ps(ok);
        const __m128 f = _mm_min_ps(_mm_max_ps(_mm_cvtepi32_ps(_mm_and_si128(x, codeMask)), rangeLow), rangeHigh);
        const __m128i v = _mm_cvttps_epi32(f);
        const __m128i bin = _mm_srli_epi32(_mm_sub_epi32(v, columnBase), 10);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(column + j),
                         _mm_or_si128(_mm_and_si128(ok, bin), _mm_andnot_si128(ok, invalidColumn)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(clamped + j), v);
        vlow = _mm_min_ps(vlow, _mm_add_ps(f, _mm_andnot_ps(okf, none)));
        vhigh = _mm_max_ps(vhigh, _mm_and_ps(okf, f));
    }
    alignas(16) float lanes[8];
    _mm_store_ps(lanes, vlow);
    _mm_store_ps(lanes + 4, vhigh);
    for (int k = 0; k < 4; ++k) {
        low = std::min(low, lanes[k] < static_cast<float>(kNone) ? static_cast<int32_t>(lanes[k]) : kNone);
        high = std::max(high, static_cast<int32_t>(lanes[4 + k]));
    }
#endif
    for (; j < n; ++j) {
        const bool ok = w[j] < kInvalidFrom;
        const int32_t v = std::clamp(static_cast<int32_t>(w[j] & kCodeMask), static_cast<int32_t>(kMeasRangeLow),
                                     static_cast<int32_t>(kMeasRangeHigh));
        if (ok) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
        column[j] = ok ? ((v - static_cast<int32_t>(kMeasRangeLow)) >> 10) + kPad : kInvalidColumn;
        clamped[j] = v;
    }
    lowest = low;
    highest = high;
}

// Last index in [from, to) of a valid word whose clamped code is v (there is one).
int32_t lastIndexIn(const uint32_t* samples, int32_t from, int32_t to, uint32_t v)
{
    for (int32_t i = to - 1; i > from; --i) {
        const uint32_t w = samples[i];
        if (w < kInvalidFrom && std::min(std::max(w & kCodeMask, kMeasRangeLow), kMeasRangeHigh) == v)
            return i;
    }
    return from;
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

    // Count (bits 40 and up) and sum of the clamped codes (bits 0-39) of each bin, in one word
    // so that a sample costs one update; a window of 100,000 codes below 2^20 cannot carry over.
    // The last column takes the invalid words, so that the scatter has no branch; interleaved
    // copies keep a run of equal codes from waiting on one counter.
    uint64_t bins[kLanes][kColumns];
    std::memset(bins, 0, sizeof bins);

    // One pass: the extremes (with the chunk holding the last of each) while the words are
    // prepared, then the scatter.
    uint32_t minCode = ~0u;
    uint32_t maxCode = 0;
    int32_t minChunk = lo;
    int32_t maxChunk = lo;
    alignas(16) int32_t column[kChunk];
    alignas(16) int32_t clamped[kChunk];
    for (int32_t from = lo; from < hi; from += kChunk) {
        const int32_t n = std::min(kChunk, hi - from);
        int32_t lowest = 0;
        int32_t highest = 0;
        prepareChunk(samples + from, n, column, clamped, lowest, highest);
        int32_t j = 0;
        for (; n - j >= kLanes; j += kLanes) {
            bins[0][column[j]] += kCountUnit + static_cast<uint32_t>(clamped[j]);
            bins[1][column[j + 1]] += kCountUnit + static_cast<uint32_t>(clamped[j + 1]);
            bins[2][column[j + 2]] += kCountUnit + static_cast<uint32_t>(clamped[j + 2]);
            bins[3][column[j + 3]] += kCountUnit + static_cast<uint32_t>(clamped[j + 3]);
        }
        for (; j < n; ++j)
            bins[0][column[j]] += kCountUnit + static_cast<uint32_t>(clamped[j]);
        // The last chunk reaching each extreme.
        if (lowest <= static_cast<int32_t>(kMeasRangeHigh) && static_cast<uint32_t>(lowest) <= minCode) {
            minCode = static_cast<uint32_t>(lowest);
            minChunk = from;
        }
        if (highest >= static_cast<int32_t>(kMeasRangeLow) && static_cast<uint32_t>(highest) >= maxCode) {
            maxCode = static_cast<uint32_t>(highest);
            maxChunk = from;
        }
    }

    uint32_t hist[kPaddedBins];
    uint64_t binSums[kPaddedBins];
    int64_t valid = 0;
    for (int b = 0; b < kPaddedBins; ++b) {
        uint64_t n = 0;
        uint64_t s = 0;
        for (int lane = 0; lane < kLanes; ++lane) {
            n += bins[lane][b] >> 40;
            s += bins[lane][b] & (kCountUnit - 1);
        }
        hist[b] = static_cast<uint32_t>(n);
        binSums[b] = s;
        valid += static_cast<int64_t>(n);
    }
    if (valid == 0)
        return m->flags;
    const int32_t minIndex = lastIndexIn(samples, minChunk, std::min(hi, minChunk + kChunk), minCode);
    const int32_t maxIndex = lastIndexIn(samples, maxChunk, std::min(hi, maxChunk + kChunk), maxCode);

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
