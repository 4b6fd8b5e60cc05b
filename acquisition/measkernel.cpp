// Waveform measurement kernels. Everything is local to the call, so the measure thread, the
// mode cycles and the bus engine may measure at the same time.
#include "acquisition/measkernel.h"

#include "acquisition/vectorpath.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define MEAS_AVX2 1
#include <immintrin.h>
#endif

namespace {

__extension__ typedef __int128 TWide;

constexpr uint32_t kInvalidFrom = 0x40000000u;
constexpr uint32_t kCodeMask = 0xFFFFFu;
constexpr int32_t kTraceSize = 100000;

// 1024 codes a bin over the measured range: bins 0..281.
constexpr int kBins = 282;

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

// One entry of the block table: the extremes of the valid codes of a block (low above high when
// it has none), their bins once clamped, the count, sum and sum of squares of the valid codes.
constexpr int32_t kTableWords = 64;
constexpr int32_t kMaxBlocks = (kTraceSize + kTableWords - 1) / kTableWords;
constexpr int32_t kEmptyLow = 1 << 21;

struct TBlock {
    int32_t low;
    int32_t high;
    int32_t count;
    uint32_t sum;
    uint64_t squares;
    int16_t binLow;
    int16_t binHigh;
    bool plain;  // every word a bare code
};

inline int binOf(int32_t code)
{
    const int32_t v = std::clamp(code, static_cast<int32_t>(kMeasRangeLow), static_cast<int32_t>(kMeasRangeHigh));
    return (v - static_cast<int32_t>(kMeasRangeLow)) >> 10;
}

// Lower edge of bin k (1..kBins - 1): a raw code is at or above it exactly when its clamped code is.
inline int32_t binEdge(int k)
{
    return static_cast<int32_t>(kMeasRangeLow) + 1024 * k;
}

#if defined(__SSE2__)
// The vector part of scanBlock over the first n & ~3 words. Plain is true when every word is
// taken for a bare code (valid, no bit above the code): no masking then, and false is returned,
// with nothing set, when the extremes of the raw words show that one was not.
template <bool Plain>
inline bool scanVectors(const uint32_t* w, int32_t n, int32_t& low, int32_t& high, int32_t& count, uint32_t& sum,
                        uint64_t& squares)
{
    // Codes below 2^20 are exact in single precision, whose min/max SSE2 has (not the integer
    // ones); the conversion keeps the order of any word, so the extremes of raw words tell
    // whether they were all bare codes.
    const __m128i codeMask = _mm_set1_epi32(static_cast<int32_t>(kCodeMask));
    const __m128 none = _mm_set1_ps(static_cast<float>(kEmptyLow));
    __m128 vlow = none;
    __m128 vhigh = _mm_set1_ps(-1.0f);
    __m128i counts = _mm_setzero_si128();
    __m128i sums = _mm_setzero_si128();
    __m128i squaresEven = _mm_setzero_si128();
    __m128i squaresOdd = _mm_setzero_si128();
    int32_t j = 0;
    if (Plain) {
        // Four vectors a step, so that the min/max chains (several cycles each) do not set the pace.
        for (; n - j >= 16; j += 16) {
            const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j));
            const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j + 4));
            const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j + 8));
            const __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j + 12));
            const __m128 f0 = _mm_cvtepi32_ps(x0);
            const __m128 f1 = _mm_cvtepi32_ps(x1);
            const __m128 f2 = _mm_cvtepi32_ps(x2);
            const __m128 f3 = _mm_cvtepi32_ps(x3);
            vlow = _mm_min_ps(vlow, _mm_min_ps(_mm_min_ps(f0, f1), _mm_min_ps(f2, f3)));
            vhigh = _mm_max_ps(vhigh, _mm_max_ps(_mm_max_ps(f0, f1), _mm_max_ps(f2, f3)));
            sums = _mm_add_epi32(sums, _mm_add_epi32(_mm_add_epi32(x0, x1), _mm_add_epi32(x2, x3)));
            const __m128i even = _mm_add_epi64(_mm_add_epi64(_mm_mul_epu32(x0, x0), _mm_mul_epu32(x1, x1)),
                                               _mm_add_epi64(_mm_mul_epu32(x2, x2), _mm_mul_epu32(x3, x3)));
            const __m128i o0 = _mm_srli_epi64(x0, 32);
            const __m128i o1 = _mm_srli_epi64(x1, 32);
            const __m128i o2 = _mm_srli_epi64(x2, 32);
            const __m128i o3 = _mm_srli_epi64(x3, 32);
            const __m128i odd = _mm_add_epi64(_mm_add_epi64(_mm_mul_epu32(o0, o0), _mm_mul_epu32(o1, o1)),
                                              _mm_add_epi64(_mm_mul_epu32(o2, o2), _mm_mul_epu32(o3, o3)));
            squaresEven = _mm_add_epi64(squaresEven, even);
            squaresOdd = _mm_add_epi64(squaresOdd, odd);
        }
    }
    for (; n - j >= 4; j += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j));
        __m128i c = x;
        __m128 f;
        if (Plain) {
            f = _mm_cvtepi32_ps(c);
            vlow = _mm_min_ps(vlow, f);
        } else {
            const __m128i ok = _mm_cmpeq_epi32(_mm_srli_epi32(x, 30), _mm_setzero_si128());
            c = _mm_and_si128(_mm_and_si128(x, codeMask), ok);  // invalid words: 0
            f = _mm_cvtepi32_ps(c);
            counts = _mm_sub_epi32(counts, ok);
            vlow = _mm_min_ps(vlow, _mm_add_ps(f, _mm_andnot_ps(_mm_castsi128_ps(ok), none)));
        }
        vhigh = _mm_max_ps(vhigh, f);  // a block without a valid word is fixed by the caller
        sums = _mm_add_epi32(sums, c);
        squaresEven = _mm_add_epi64(squaresEven, _mm_mul_epu32(c, c));
        const __m128i odd = _mm_srli_epi64(c, 32);
        squaresOdd = _mm_add_epi64(squaresOdd, _mm_mul_epu32(odd, odd));
    }
    vlow = _mm_min_ps(vlow, _mm_shuffle_ps(vlow, vlow, _MM_SHUFFLE(1, 0, 3, 2)));
    vlow = _mm_min_ps(vlow, _mm_shuffle_ps(vlow, vlow, _MM_SHUFFLE(2, 3, 0, 1)));
    vhigh = _mm_max_ps(vhigh, _mm_shuffle_ps(vhigh, vhigh, _MM_SHUFFLE(1, 0, 3, 2)));
    vhigh = _mm_max_ps(vhigh, _mm_shuffle_ps(vhigh, vhigh, _MM_SHUFFLE(2, 3, 0, 1)));
    counts = _mm_add_epi32(counts, _mm_shuffle_epi32(counts, _MM_SHUFFLE(1, 0, 3, 2)));
    counts = _mm_add_epi32(counts, _mm_shuffle_epi32(counts, _MM_SHUFFLE(2, 3, 0, 1)));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(1, 0, 3, 2)));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(2, 3, 0, 1)));
    const float fl = _mm_cvtss_f32(vlow);
    const float fh = _mm_cvtss_f32(vhigh);
    if (Plain && !(fl >= 0.0f && fh <= static_cast<float>(kCodeMask)))
        return false;
    low = static_cast<int32_t>(fl);
    high = static_cast<int32_t>(fh);
    count = Plain ? (n & ~3) : _mm_cvtsi128_si32(counts);
    sum = static_cast<uint32_t>(_mm_cvtsi128_si32(sums));
    alignas(16) uint64_t wide[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(wide), _mm_add_epi64(squaresEven, squaresOdd));
    squares = wide[0] + wide[1];
    return true;
}
#endif

#if defined(MEAS_AVX2)
#define MEAS_AVX2_FN __attribute__((target("avx2"))) inline
// Horizontal minimum, maximum and sums of 256-bit vectors.
MEAS_AVX2_FN uint32_t lowest(__m256i v)
{
    __m128i h = _mm_min_epu32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    h = _mm_min_epu32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(1, 0, 3, 2)));
    h = _mm_min_epu32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(h));
}

MEAS_AVX2_FN uint32_t highest(__m256i v)
{
    __m128i h = _mm_max_epu32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    h = _mm_max_epu32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(1, 0, 3, 2)));
    h = _mm_max_epu32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(h));
}

MEAS_AVX2_FN uint32_t total32(__m256i v)
{
    __m128i h = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    h = _mm_add_epi32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(1, 0, 3, 2)));
    h = _mm_add_epi32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(h));
}

MEAS_AVX2_FN uint64_t total64(__m256i v)
{
    const __m128i h = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(h)) + static_cast<uint64_t>(_mm_extract_epi64(h, 1));
}

// Squares of the eight codes, summed in pairs into four 64-bit lanes.
MEAS_AVX2_FN __m256i squaresOf(__m256i c)
{
    const __m256i odd = _mm256_srli_epi64(c, 32);
    return _mm256_add_epi64(_mm256_mul_epu32(c, c), _mm256_mul_epu32(odd, odd));
}

// scanBlock over a whole block with 256-bit vectors, which have the unsigned 32-bit min/max:
// the extremes of the raw words tell at once whether they were all bare codes, else the block
// is read again with the invalid words masked. The same exact integers as scanBlock.
__attribute__((target("avx2"), always_inline)) inline void scanBlockAvx2(const uint32_t* w, TBlock& b)
{
    static_assert(kTableWords == 64, "eight vectors a block");
    // lddqu: the compiler splits unaligned 256-bit loads in two for older processors, which here
    // only costs. Named vectors, not an array, which the compiler may keep in memory.
    const auto* v = reinterpret_cast<const __m256i*>(w);
    const __m256i x0 = _mm256_lddqu_si256(v);
    const __m256i x1 = _mm256_lddqu_si256(v + 1);
    const __m256i x2 = _mm256_lddqu_si256(v + 2);
    const __m256i x3 = _mm256_lddqu_si256(v + 3);
    const __m256i x4 = _mm256_lddqu_si256(v + 4);
    const __m256i x5 = _mm256_lddqu_si256(v + 5);
    const __m256i x6 = _mm256_lddqu_si256(v + 6);
    const __m256i x7 = _mm256_lddqu_si256(v + 7);
    __m256i high = _mm256_max_epu32(_mm256_max_epu32(_mm256_max_epu32(x0, x1), _mm256_max_epu32(x2, x3)),
                                    _mm256_max_epu32(_mm256_max_epu32(x4, x5), _mm256_max_epu32(x6, x7)));
    const uint32_t rawHigh = highest(high);
    if (rawHigh <= kCodeMask) {
        const __m256i low = _mm256_min_epu32(_mm256_min_epu32(_mm256_min_epu32(x0, x1), _mm256_min_epu32(x2, x3)),
                                             _mm256_min_epu32(_mm256_min_epu32(x4, x5), _mm256_min_epu32(x6, x7)));
        const __m256i sums = _mm256_add_epi32(_mm256_add_epi32(_mm256_add_epi32(x0, x1), _mm256_add_epi32(x2, x3)),
                                              _mm256_add_epi32(_mm256_add_epi32(x4, x5), _mm256_add_epi32(x6, x7)));
        const __m256i squares =
            _mm256_add_epi64(_mm256_add_epi64(_mm256_add_epi64(squaresOf(x0), squaresOf(x1)),
                                              _mm256_add_epi64(squaresOf(x2), squaresOf(x3))),
                             _mm256_add_epi64(_mm256_add_epi64(squaresOf(x4), squaresOf(x5)),
                                              _mm256_add_epi64(squaresOf(x6), squaresOf(x7))));
        b.low = static_cast<int32_t>(lowest(low));
        b.high = static_cast<int32_t>(rawHigh);
        b.count = kTableWords;
        b.sum = total32(sums);
        b.squares = total64(squares);
        b.plain = true;
    } else {
        // Invalid words count nowhere: code 0 for the sums and the highest, kEmptyLow for the lowest.
        const __m256i codeMask = _mm256_set1_epi32(static_cast<int32_t>(kCodeMask));
        const __m256i none = _mm256_set1_epi32(kEmptyLow);
        __m256i low = none;
        high = _mm256_setzero_si256();
        __m256i counts = _mm256_setzero_si256();
        __m256i sums = _mm256_setzero_si256();
        __m256i squares = _mm256_setzero_si256();
        for (int k = 0; k < 8; ++k) {
            const __m256i x = _mm256_lddqu_si256(v + k);  // in the cache since the test above
            const __m256i ok = _mm256_cmpeq_epi32(_mm256_srli_epi32(x, 30), _mm256_setzero_si256());
            const __m256i c = _mm256_and_si256(_mm256_and_si256(x, codeMask), ok);
            low = _mm256_min_epu32(low, _mm256_blendv_epi8(none, c, ok));
            high = _mm256_max_epu32(high, c);
            counts = _mm256_sub_epi32(counts, ok);
            sums = _mm256_add_epi32(sums, c);
            squares = _mm256_add_epi64(squares, squaresOf(c));
        }
        b.count = static_cast<int32_t>(total32(counts));
        b.low = static_cast<int32_t>(lowest(low));
        b.high = b.count ? static_cast<int32_t>(highest(high)) : -1;
        b.sum = total32(sums);
        b.squares = total64(squares);
        b.plain = false;
    }
    b.binLow = static_cast<int16_t>(b.count ? binOf(b.low) : 0);
    b.binHigh = static_cast<int16_t>(b.count ? binOf(b.high) : -1);
}
#endif

// Extremes, count, sum and sum of squares of the valid codes of n words.
void scanBlock(const uint32_t* w, int32_t n, TBlock& b)
{
    int32_t low = kEmptyLow;
    int32_t high = -1;
    int32_t count = 0;
    uint32_t sum = 0;
    uint64_t squares = 0;
    int32_t j = 0;
    bool plain = true;
#if defined(__SSE2__)
    if (!scanVectors<true>(w, n, low, high, count, sum, squares)) {
        plain = false;
        scanVectors<false>(w, n, low, high, count, sum, squares);
    }
    j = n & ~3;
#endif
    for (; j < n; ++j) {
        plain = plain && w[j] <= kCodeMask;
        if (w[j] >= kInvalidFrom)
            continue;
        const int32_t c = static_cast<int32_t>(w[j] & kCodeMask);
        low = std::min(low, c);
        high = std::max(high, c);
        ++count;
        sum += static_cast<uint32_t>(c);
        squares += uint64_t{static_cast<uint32_t>(c)} * static_cast<uint32_t>(c);
    }
    if (count == 0)
        high = -1;
    b.low = low;
    b.squares = squares;
    b.high = high;
    b.count = count;
    b.sum = sum;
    b.binLow = static_cast<int16_t>(count ? binOf(low) : 0);
    b.binHigh = static_cast<int16_t>(count ? binOf(high) : -1);
    b.plain = plain;
}

constexpr int kBand = 4;
constexpr int kMaxEdges = 2 * kBand;  // a band is at most 2 * kBand - 1 bins wide

// Counts of the valid words of the listed blocks at or above each of the N edges of a band, bin
// edges from base up: a word's offset from base in bins is formed once (saturated to 8 bits,
// which keeps its order against 0 .. 7), then compared with 0 .. N - 1, sixteen words at a time.
// The 8-bit lane counts stay in registers across the blocks and are widened before they can
// wrap; the last n % 16 words of a block are counted one by one.
template <int N>
void countAboveEdges(const uint32_t* samples, int32_t lo, int32_t hi, const TBlock* blocks, const int32_t* list,
                     int32_t listed, int32_t base, int32_t* above)
{
    for (int k = 0; k < N; ++k)
        above[k] = 0;
#if !defined(__SSE2__)
    (void)blocks;  // their flags only choose a vector loop
#else
    const __m128i codeMask = _mm_set1_epi32(static_cast<int32_t>(kCodeMask));
    const __m128i vbase = _mm_set1_epi32(base);
    __m128i acc[N];
    __m128i wide[N];
    for (int k = 0; k < N; ++k) {
        acc[k] = _mm_setzero_si128();
        wide[k] = _mm_setzero_si128();
    }
    int32_t pending = 0;  // words in the 8-bit lanes since they were last widened
    const auto offsets = [&](const uint32_t* v, bool plain) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
        if (!plain)  // invalid words become code 0, below every edge (base is above 0)
            x = _mm_and_si128(_mm_and_si128(x, codeMask), _mm_cmpeq_epi32(_mm_srli_epi32(x, 30), _mm_setzero_si128()));
        return _mm_srai_epi32(_mm_sub_epi32(x, vbase), 10);
    };
    const auto count = [&](const uint32_t* v, bool plain) {
        const __m128i d = _mm_packs_epi16(_mm_packs_epi32(offsets(v, plain), offsets(v + 4, plain)),
                                          _mm_packs_epi32(offsets(v + 8, plain), offsets(v + 12, plain)));
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
        for (int k = 0; k < N; ++k)
            acc[k] = _mm_sub_epi8(acc[k], _mm_cmpgt_epi8(d, _mm_set1_epi8(static_cast<char>(k - 1))));
    };
#endif
    for (int32_t t = 0; t < listed; ++t) {
        const int32_t from = lo + list[t] * kTableWords;
        const uint32_t* w = samples + from;
        const int32_t n = std::min(kTableWords, hi - from);
        int32_t j = 0;
#if defined(__SSE2__)
        if (pending + n > 16 * 255) {
            for (int k = 0; k < N; ++k) {
                wide[k] = _mm_add_epi64(wide[k], _mm_sad_epu8(acc[k], _mm_setzero_si128()));
                acc[k] = _mm_setzero_si128();
            }
            pending = 0;
        }
        if (blocks[list[t]].plain) {
            for (; n - j >= 16; j += 16)
                count(w + j, true);
        } else {
            for (; n - j >= 16; j += 16)
                count(w + j, false);
        }
        pending += j;
#endif
        for (; j < n; ++j) {
            if (w[j] >= kInvalidFrom)
                continue;
            const int32_t c = static_cast<int32_t>(w[j] & kCodeMask);
            for (int k = 0; k < N; ++k)
                above[k] += c - base >= 1024 * k ? 1 : 0;
        }
    }
#if defined(__SSE2__)
    for (int k = 0; k < N; ++k) {
        const __m128i v = _mm_add_epi64(wide[k], _mm_sad_epu8(acc[k], _mm_setzero_si128()));
        alignas(16) int64_t halves[2];
        _mm_store_si128(reinterpret_cast<__m128i*>(halves), v);
        above[k] += static_cast<int32_t>(halves[0] + halves[1]);
    }
#endif
}

#if defined(MEAS_AVX2)
// Offsets from base in bins of eight words (invalid words far below), as in countAboveEdges.
MEAS_AVX2_FN __m256i binOffsets(const uint32_t* v, bool plain, __m256i vbase)
{
    __m256i x = _mm256_lddqu_si256(reinterpret_cast<const __m256i*>(v));
    if (!plain)
        x = _mm256_and_si256(_mm256_and_si256(x, _mm256_set1_epi32(static_cast<int32_t>(kCodeMask))),
                             _mm256_cmpeq_epi32(_mm256_srli_epi32(x, 30), _mm256_setzero_si256()));
    return _mm256_srai_epi32(_mm256_sub_epi32(x, vbase), 10);
}

// countAboveEdges thirty-two words at a time (the order of the 8-bit lanes after the packs does
// not matter to a count).
template <int N>
__attribute__((target("avx2"))) void countAboveEdgesAvx2(const uint32_t* samples, int32_t lo, int32_t hi,
                                                         const TBlock* blocks, const int32_t* list, int32_t listed,
                                                         int32_t base, int32_t* above)
{
    for (int k = 0; k < N; ++k)
        above[k] = 0;
    const __m256i vbase = _mm256_set1_epi32(base);
    __m256i acc[N];
    __m256i wide[N];
    for (int k = 0; k < N; ++k) {
        acc[k] = _mm256_setzero_si256();
        wide[k] = _mm256_setzero_si256();
    }
    int32_t pending = 0;  // words in the 8-bit lanes since they were last widened
    for (int32_t t = 0; t < listed; ++t) {
        const int32_t from = lo + list[t] * kTableWords;
        const uint32_t* w = samples + from;
        const int32_t n = std::min(kTableWords, hi - from);
        if (pending + n > 32 * 255) {
            for (int k = 0; k < N; ++k) {
                wide[k] = _mm256_add_epi64(wide[k], _mm256_sad_epu8(acc[k], _mm256_setzero_si256()));
                acc[k] = _mm256_setzero_si256();
            }
            pending = 0;
        }
        const bool plain = blocks[list[t]].plain;
        int32_t j = 0;
        for (; n - j >= 32; j += 32) {
            const __m256i d = _mm256_packs_epi16(
                _mm256_packs_epi32(binOffsets(w + j, plain, vbase), binOffsets(w + j + 8, plain, vbase)),
                _mm256_packs_epi32(binOffsets(w + j + 16, plain, vbase), binOffsets(w + j + 24, plain, vbase)));
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
            for (int k = 0; k < N; ++k)
                acc[k] = _mm256_sub_epi8(acc[k], _mm256_cmpgt_epi8(d, _mm256_set1_epi8(static_cast<char>(k - 1))));
        }
        pending += j;
        for (; j < n; ++j) {
            if (w[j] >= kInvalidFrom)
                continue;
            const int32_t c = static_cast<int32_t>(w[j] & kCodeMask);
            for (int k = 0; k < N; ++k)
                above[k] += c - base >= 1024 * k ? 1 : 0;
        }
    }
    for (int k = 0; k < N; ++k) {
        const __m256i v = _mm256_add_epi64(wide[k], _mm256_sad_epu8(acc[k], _mm256_setzero_si256()));
        const __m128i h = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        above[k] += static_cast<int32_t>(_mm_cvtsi128_si64(h) + _mm_extract_epi64(h, 1));
    }
}
#endif

// The bins of the blocks of the table side by side, padded with empty entries to a multiple of 8:
// finding the blocks that reach a few bins tests eight of them at a time.
struct TBinIndex {
    alignas(16) int16_t low[kMaxBlocks + 8];
    alignas(16) int16_t high[kMaxBlocks + 8];

    void pad(int32_t blockCount)
    {
        for (int32_t k = blockCount; k < blockCount + 8; ++k) {
            low[k] = kBins;
            high[k] = -1;
        }
    }

    // Calls f(k) for each block k < blockCount with a bin in [from, to), in order.
    template <typename F>
    void forEachIn(int32_t blockCount, int from, int to, F f) const
    {
#if defined(__SSE2__)
        const __m128i below = _mm_set1_epi16(static_cast<int16_t>(from - 1));
        const __m128i above = _mm_set1_epi16(static_cast<int16_t>(to));
        for (int32_t k = 0; k < blockCount; k += 8) {
            const __m128i l = _mm_load_si128(reinterpret_cast<const __m128i*>(low + k));
            const __m128i h = _mm_load_si128(reinterpret_cast<const __m128i*>(high + k));
            const __m128i hit = _mm_and_si128(_mm_cmpgt_epi16(h, below), _mm_cmpgt_epi16(above, l));
            unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(hit, _mm_setzero_si128())));
            for (; bits != 0; bits &= bits - 1)
                f(k + __builtin_ctz(bits));
        }
#else
        for (int32_t k = 0; k < blockCount; ++k)
            if (high[k] >= from && low[k] < to)
                f(k);
#endif
    }
};

// The histogram of the valid codes of a window, bins counted only when the level search asks for
// them: most signals need a few bins next to each extreme, and a block whose codes share one bin
// counts without reading its words again.
class TLazyHistogram {
public:
    // Bins below lowest and above highest are known to be empty.
    TLazyHistogram(const uint32_t* samples, int32_t lo, const TBlock* blocks, const TBinIndex& index,
                   int32_t blockCount, int32_t hi, int lowest, int highest)
        : samples_(samples), lo_(lo), hi_(hi), blocks_(blocks), index_(index), blockCount_(blockCount)
    {
        std::memset(counts_, 0, sizeof counts_);
        for (int b = 0; b < kBins; ++b)
            known_[b] = b < lowest || b > highest;
    }

    uint32_t operator[](int bin)
    {
        if (bin < 0 || bin >= kBins)
            return 0;
        if (!known_[bin])
            countBand(bin);
        return counts_[bin];
    }

    // Sum of the clamped codes of bins [from, to) (clipped to the table).
    uint64_t sumOf(int from, int to) const;

private:
    void countBand(int bin);
    template <int N>
    void countEdges(int from, int to, int32_t* above);

    const uint32_t* samples_;
    int32_t lo_;
    int32_t hi_;
    const TBlock* blocks_;
    const TBinIndex& index_;
    int32_t blockCount_;
    uint32_t counts_[kBins];
    bool known_[kBins];
};

// Blocks whose codes share one bin count without being read.
template <int N>
void TLazyHistogram::countEdges(int from, int to, int32_t* above)
{
    int32_t list[kMaxBlocks];
    int32_t listed = 0;
    int32_t read = 0;
    index_.forEachIn(blockCount_, from, to, [&](int32_t k) {
        const TBlock& b = blocks_[k];
        if (b.binLow == b.binHigh) {
            counts_[b.binLow] += static_cast<uint32_t>(b.count);
            return;
        }
        list[listed++] = k;
        read += b.count;
    });
#if defined(MEAS_AVX2)
    if (vectorPath() == TVectorPath::Avx2)
        countAboveEdgesAvx2<N>(samples_, lo_, hi_, blocks_, list, listed, binEdge(from), above);
    else
#endif
        countAboveEdges<N>(samples_, lo_, hi_, blocks_, list, listed, binEdge(from), above);
    // Bin 0 also takes the codes below the measured range, the last bin those above it.
    if (from == 0)
        above[0] = read;
    if (to == kBins)
        above[N - 1] = 0;
}

void TLazyHistogram::countBand(int bin)
{
    // The run of unknown bins around bin, at most kBand - 1 below it.
    int from = bin;
    int to = bin + 1;
    while (from > 0 && from > bin - kBand && !known_[from - 1])
        --from;
    while (to < kBins && to - from < 2 * kBand - 1 && !known_[to])
        ++to;
    // A band of the full width costs little more than a narrower one and spares a later pass.
    while (from > 0 && to - from < 2 * kBand - 1 && !known_[from - 1])
        --from;
    // above(e) counts the words of bin from + e and up, e = 0 .. to - from.
    int32_t above[kMaxEdges];
    switch (to - from) {
    case 1: countEdges<2>(from, to, above); break;
    case 2: countEdges<3>(from, to, above); break;
    case 3: countEdges<4>(from, to, above); break;
    case 4: countEdges<5>(from, to, above); break;
    case 5: countEdges<6>(from, to, above); break;
    case 6: countEdges<7>(from, to, above); break;
    default: countEdges<8>(from, to, above); break;
    }
    for (int e = from; e < to; ++e)
        counts_[e] += static_cast<uint32_t>(above[e - from] - above[e + 1 - from]);
    for (int e = from; e < to; ++e)
        known_[e] = true;
}

uint64_t TLazyHistogram::sumOf(int from, int to) const
{
    from = std::max(from, 0);
    to = std::min(to, kBins);
    if (from >= to)
        return 0;
    // Raw codes at or above lowEdge and up to highEdge are those whose clamped bin lies in the
    // range; the bins at the ends of the table also take the codes beyond the measured range.
    const int32_t lowEdge = from == 0 ? -1 : binEdge(from);
    const int32_t highEdge = to == kBins ? std::numeric_limits<int32_t>::max() : binEdge(to) - 1;
    uint64_t total = 0;
    index_.forEachIn(blockCount_, from, to, [&](int32_t k) {
        const TBlock& b = blocks_[k];
        if (b.binLow >= from && b.binHigh < to && b.low >= static_cast<int32_t>(kMeasRangeLow) &&
            b.high <= static_cast<int32_t>(kMeasRangeHigh)) {
            total += b.sum;
            return;
        }
        const uint32_t* w = samples_ + lo_ + k * kTableWords;
        const int32_t n = std::min(kTableWords, hi_ - (lo_ + k * kTableWords));
        int32_t j = 0;
#if defined(__SSE2__)
        const __m128i codeMask = _mm_set1_epi32(static_cast<int32_t>(kCodeMask));
        const __m128i vlow = _mm_set1_epi32(lowEdge);
        const __m128i vhigh = _mm_set1_epi32(highEdge);
        const __m128 rangeLow = _mm_set1_ps(static_cast<float>(kMeasRangeLow));
        const __m128 rangeHigh = _mm_set1_ps(static_cast<float>(kMeasRangeHigh));
        __m128i sums = _mm_setzero_si128();
        if (b.plain && b.low >= static_cast<int32_t>(kMeasRangeLow) && b.high <= static_cast<int32_t>(kMeasRangeHigh)) {
            // Bare codes inside the measured range: no mask, no clamp.
            for (; n - j >= 4; j += 4) {
                const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j));
                const __m128i out = _mm_or_si128(_mm_cmpgt_epi32(vlow, c), _mm_cmpgt_epi32(c, vhigh));
                sums = _mm_add_epi32(sums, _mm_andnot_si128(out, c));
            }
        }
        for (; n - j >= 4; j += 4) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j));
            const __m128i ok = _mm_cmpeq_epi32(_mm_srli_epi32(x, 30), _mm_setzero_si128());
            const __m128i c = _mm_and_si128(x, codeMask);
            const __m128i in = _mm_andnot_si128(_mm_or_si128(_mm_cmpgt_epi32(vlow, c), _mm_cmpgt_epi32(c, vhigh)), ok);
            const __m128i v =
                _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_cvtepi32_ps(c), rangeLow), rangeHigh));
            sums = _mm_add_epi32(sums, _mm_and_si128(v, in));
        }
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
        total += uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
#endif
        for (; j < n; ++j) {
            if (w[j] >= kInvalidFrom)
                continue;
            const int32_t c = static_cast<int32_t>(w[j] & kCodeMask);
            if (c >= lowEdge && c <= highEdge)
                total += static_cast<uint32_t>(std::clamp(c, static_cast<int32_t>(kMeasRangeLow),
                                                          static_cast<int32_t>(kMeasRangeHigh)));
        }
    });
    return total;
}

// Mean of the codes of bins [from, from + 3) (clipped to the table); false when they hold none.
bool levelMean(TLazyHistogram& hist, int from, uint32_t& level)
{
    uint64_t n = 0;
    for (int b = std::max(from, 0); b < std::min(from + 3, kBins); ++b)
        n += hist[b];
    if (n == 0) {
        level = static_cast<uint32_t>(static_cast<int64_t>(kMeasRangeLow) + 1024 * int64_t{from} + 1536);
        return false;
    }
    level = static_cast<uint32_t>(hist.sumOf(from, from + 3) / n);
    return true;
}

constexpr int kMaxBlockStep = 4;

constexpr int32_t kFineWords = 8;

// The codes [low, high] of a zone, set once a zone change, for the test of kFineWords words.
struct TZoneCodes {
    int32_t low = 0;
    int32_t high = -1;
#if defined(__SSE2__)
    __m128i vlow = _mm_setzero_si128();
    __m128i vhigh = _mm_set1_epi32(-1);
#endif

    // [from, from + width): codes are below 2^20 and from + width is at most 2^20, so signed
    // comparisons are exact.
    void set(uint32_t from, uint32_t width)
    {
        low = static_cast<int32_t>(from);
        high = static_cast<int32_t>(from + width) - 1;
#if defined(__SSE2__)
        vlow = _mm_set1_epi32(low);
        vhigh = _mm_set1_epi32(high);
#endif
    }

    // True when the code of each of kFineWords words lies in the zone. Invalid words are not told
    // apart: their codes can only send the words down the slow path, which skips them.
    bool hold(const uint32_t* w) const
    {
#if defined(__SSE2__)
        const __m128i codeMask = _mm_set1_epi32(static_cast<int32_t>(kCodeMask));
        const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)), codeMask);
        const __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4)), codeMask);
        const __m128i out = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(a, vlow), _mm_cmpgt_epi32(a, vhigh)),
                                         _mm_or_si128(_mm_cmplt_epi32(b, vlow), _mm_cmpgt_epi32(b, vhigh)));
        return _mm_movemask_epi8(out) == 0;
#else
        int32_t out = 0;
        for (int j = 0; j < kFineWords; ++j) {
            const int32_t c = static_cast<int32_t>(w[j] & kCodeMask);
            out |= (c < low) | (c > high);
        }
        return out == 0;
#endif
    }
};

void edgeSearch(const uint32_t* samples, const TBlock* table, mesures* m, int32_t lo, int32_t hi, int step)
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
    // Most samples stay in the zone of the previous one: the rest of each block of the table is
    // first checked against the block's extremes, and only a block with a zone change is walked,
    // a few words at a time, each run checked exactly before it is walked one sample at a time.
    // Invalid words are skipped there, so that the extremes of the valid codes decide; checking
    // words that are not visited can only send more of them down the slow path.
    const bool blocks = step <= kMaxBlockStep;
    const int32_t fineAdvance = (kFineWords + step - 1) / step * step;
    const bool powerOfTwo = (step & (step - 1)) == 0;
    unsigned boundsZone = ~0u;
    TZoneCodes codes;
    const auto bounds = [&]() {
        if (zone != boundsZone) {
            uint32_t from = 0;
            uint32_t width = 0;
            zoneInterval(zone, levels, from, width);
            codes.set(from, width);
            boundsZone = zone;
        }
    };
    // The first visited sample at or after sample `at` (no division for the usual steps).
    const auto visitedFrom = [&](int32_t at) {
        const int32_t ahead = at - i + step - 1;
        return i + (powerOfTwo ? ahead & -step : ahead / step * step);
    };
    // A change of zone at visited sample `at` to zone z.
    const auto change = [&](int32_t at, unsigned z) {
        const unsigned crossed = z ^ zone;
        const bool rose = z > zone;
        zone = z;
        if (crossed & 1)
            cross10 = at;
        if (crossed & 2)
            cross50 = at;
        if (crossed & 8)
            cross90 = at;
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
    };
#if defined(__SSE2__)
    // Bits of the levels a code lies below, 15 minus its zone.
    const __m128i allLevels = _mm_set1_epi16(15);
    const __m128i level0 = _mm_set1_epi32(levels[0]);
    const __m128i level1 = _mm_set1_epi32(levels[1]);
    const __m128i level2 = _mm_set1_epi32(levels[2]);
    const __m128i level3 = _mm_set1_epi32(levels[3]);
    const auto belowLevels = [&](__m128i c) {
        return _mm_or_si128(
            _mm_or_si128(_mm_and_si128(_mm_cmpgt_epi32(level0, c), _mm_set1_epi32(1)),
                         _mm_and_si128(_mm_cmpgt_epi32(level1, c), _mm_set1_epi32(2))),
            _mm_or_si128(_mm_and_si128(_mm_cmpgt_epi32(level2, c), _mm_set1_epi32(4)),
                         _mm_and_si128(_mm_cmpgt_epi32(level3, c), _mm_set1_epi32(8))));
    };
#endif
    const int32_t blockCount = (hi - lo + kTableWords - 1) / kTableWords;
    i += step;
    while (i < hi) {
        int32_t block = (i - lo) / kTableWords;
        if (blocks) {
            bounds();
            if (table[block].low >= codes.low && table[block].high <= codes.high) {
                // The whole run of blocks inside the zone, stepping by block rather than by sample.
                do
                    ++block;
                while (block < blockCount && table[block].low >= codes.low && table[block].high <= codes.high);
                i = visitedFrom(std::min(hi, lo + block * kTableWords));
                continue;
            }
        }
        const int32_t blockEnd = std::min(hi, lo + (block + 1) * kTableWords);
#if defined(__SSE2__)
        if (step == 2 && blocks && table[block].plain) {
            // Bare codes: the zones of the eight visited samples of sixteen words at once, each
            // compared with the one visited before it; only the changes are walked. The last
            // sixteen may reach into the next block when its words are bare codes too.
            for (; i < blockEnd && hi - i >= 16 && (blockEnd - i >= 16 || table[block + 1].plain); i += 16) {
                const __m128 x0 = _mm_loadu_ps(reinterpret_cast<const float*>(samples + i));
                const __m128 x1 = _mm_loadu_ps(reinterpret_cast<const float*>(samples + i + 4));
                const __m128 x2 = _mm_loadu_ps(reinterpret_cast<const float*>(samples + i + 8));
                const __m128 x3 = _mm_loadu_ps(reinterpret_cast<const float*>(samples + i + 12));
                const __m128i even0 = _mm_castps_si128(_mm_shuffle_ps(x0, x1, _MM_SHUFFLE(2, 0, 2, 0)));
                const __m128i even1 = _mm_castps_si128(_mm_shuffle_ps(x2, x3, _MM_SHUFFLE(2, 0, 2, 0)));
                const __m128i zones = _mm_xor_si128(_mm_packs_epi32(belowLevels(even0), belowLevels(even1)), allLevels);
                const __m128i before =
                    _mm_or_si128(_mm_slli_si128(zones, 2), _mm_cvtsi32_si128(static_cast<int32_t>(zone)));
                unsigned changed = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(zones, before))) & 0x5555u;
                if (changed == 0)
                    continue;
                alignas(16) int16_t lanes[8];
                _mm_store_si128(reinterpret_cast<__m128i*>(lanes), zones);
                for (; changed != 0; changed &= changed - 1) {
                    const int k = __builtin_ctz(changed) >> 1;
                    change(i + 2 * k, static_cast<unsigned>(lanes[k]));
                }
            }
        }
#endif
        const int32_t end = visitedFrom(blockEnd);
        for (int32_t stop = i; i < end; i += step) {
            if (i >= stop) {
                stop = i + fineAdvance;
                if (blocks && hi - i >= kFineWords) {
                    bounds();
                    if (codes.hold(samples + i)) {
                        i = stop - step;
                        continue;
                    }
                }
            }
            const uint32_t w = samples[i];
            if (w >= kInvalidFrom)
                continue;
            const unsigned z = zoneOf(static_cast<int32_t>(w & kCodeMask), levels);
            if (z != zone)
                change(i, z);
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

// The index entries of the blocks, and the extremes and the last block reaching each of them
// (once clamped) as the table is made.
struct TTableTotals {
    explicit TTableTotals(TBinIndex& i) : index(i) {}

    inline void take(const TBlock& b, int32_t k)
    {
        index.low[k] = b.count ? b.binLow : static_cast<int16_t>(kBins);
        index.high[k] = b.binHigh;
        if (b.count) {
            valid += b.count;
            lowest = std::min(lowest, b.low);
            highest = std::max(highest, b.high);
            const int32_t low = std::clamp(b.low, static_cast<int32_t>(kMeasRangeLow), static_cast<int32_t>(kMeasRangeHigh));
            const int32_t high = std::clamp(b.high, static_cast<int32_t>(kMeasRangeLow), static_cast<int32_t>(kMeasRangeHigh));
            if (low <= minClamped) {
                minClamped = low;
                minBlock = k;
            }
            if (high >= maxClamped) {
                maxClamped = high;
                maxBlock = k;
            }
        }
    }

    TBinIndex& index;
    int64_t valid = 0;
    int32_t lowest = kEmptyLow;
    int32_t highest = -1;
    int32_t minBlock = 0;
    int32_t maxBlock = 0;
    int32_t minClamped = std::numeric_limits<int32_t>::max();
    int32_t maxClamped = std::numeric_limits<int32_t>::min();
};

#if defined(MEAS_AVX2)
// The whole blocks of [lo, hi) with 256-bit vectors, in one function so that the processor stays
// in that mode; returns their number.
__attribute__((target("avx2"))) int32_t tableAvx2(const uint32_t* samples, int32_t lo, int32_t hi, TBlock* blocks,
                                                 TTableTotals& totals)
{
    int32_t k = 0;
    for (int32_t from = lo; hi - from >= kTableWords; from += kTableWords, ++k) {
        scanBlockAvx2(samples + from, blocks[k]);
        totals.take(blocks[k], k);
    }
    return k;
}
#endif

// The block table of [lo, hi) in blocks, blockCount set.
int32_t measT(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int step, TBlock* blocks,
              int32_t& blockCount)
{
    const int32_t lo = std::clamp(std::min(first, last), 0, kTraceSize);
    const int32_t hi = std::clamp(std::max(first, last), 0, kTraceSize);
    if (step < 1)
        step = 1;

    m->flags = 0;
    m->periodCount = 0;
    m->otherEdgeCount = 0;

    // The block table: one read of every word.
    TBinIndex index;
    TTableTotals totals(index);
    blockCount = 0;
#if defined(MEAS_AVX2)
    if (vectorPath() == TVectorPath::Avx2)
        blockCount = tableAvx2(samples, lo, hi, blocks, totals);
#endif
    for (int32_t from = lo + blockCount * kTableWords; from < hi; from += kTableWords) {
        scanBlock(samples + from, std::min(kTableWords, hi - from), blocks[blockCount]);
        totals.take(blocks[blockCount], blockCount);
        ++blockCount;
    }
    const int64_t valid = totals.valid;
    const int32_t lowest = totals.lowest;
    const int32_t highest = totals.highest;
    const int32_t minBlock = totals.minBlock;
    const int32_t maxBlock = totals.maxBlock;
    const auto clamped = [](int32_t code) {
        return std::clamp(code, static_cast<int32_t>(kMeasRangeLow), static_cast<int32_t>(kMeasRangeHigh));
    };
    index.pad(blockCount);
    if (valid == 0)
        return m->flags;
    const uint32_t minCode = static_cast<uint32_t>(clamped(lowest));
    const uint32_t maxCode = static_cast<uint32_t>(clamped(highest));
    const int32_t minFrom = lo + minBlock * kTableWords;
    const int32_t maxFrom = lo + maxBlock * kTableWords;
    const int32_t minIndex = lastIndexIn(samples, minFrom, std::min(hi, minFrom + kTableWords), minCode);
    const int32_t maxIndex = lastIndexIn(samples, maxFrom, std::min(hi, maxFrom + kTableWords), maxCode);

    TLazyHistogram hist(samples, lo, blocks, index, blockCount, hi, static_cast<int>((minCode - kMeasRangeLow) >> 10),
                        static_cast<int>((maxCode - kMeasRangeLow) >> 10));
    auto window = [&hist](int centre) {
        // centre - 1 .. centre + 1; bins beyond the table are empty.
        return uint64_t{hist[centre - 1]} + hist[centre] + hist[centre + 1];
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
    const bool topFound = levelMean(hist, topBin, level);
    m->topLevel = level;
    const bool baseFound = levelMean(hist, baseBin - 1, level);
    m->baseLevel = level;
    if (minCode != kMeasRangeHigh && (m->flags & MEAS_MIN_VALID) && baseFound)
        m->flags |= MEAS_BASE_VALID;
    if (maxCode != kMeasRangeLow && (m->flags & MEAS_MAX_VALID) && topFound)
        m->flags |= MEAS_TOP_VALID;

    if ((m->flags & (MEAS_MIN_VALID | MEAS_MAX_VALID)) == (MEAS_MIN_VALID | MEAS_MAX_VALID) &&
        maxCode - minCode >= kMinEdgeAmplitude)
        edgeSearch(samples, blocks, m, lo, hi, step);
    return m->flags;
}

// Adds the totals of the words [from, to) to t.
using TAddRange = void (*)(const void* context, int64_t from, int64_t to, TTotals& t);

int32_t measAmpWith(mesures* m, int32_t first, int32_t last, int32_t reference, const void* context,
                    TAddRange add)
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
        add(context, from, to, inPeriods);
        window = inPeriods;
        add(context, to, hi, window);
        add(context, lo, from, window);
    } else {
        add(context, lo, hi, inPeriods);
        window = inPeriods;
    }

    means(inPeriods, reference, m->meanPeriods, m->meanSquarePeriods);
    means(window, reference, m->mean, m->meanSquare);
    m->sum = static_cast<double>(window.sum);
    m->count = static_cast<int32_t>(window.count);
    return m->flags;
}

int32_t measAmp(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference)
{
    return measAmpWith(m, first, last, reference, samples,
                       [](const void* context, int64_t from, int64_t to, TTotals& t) {
                           addRange(static_cast<const uint32_t*>(context), from, to, t);
                       });
}

// The totals of whole blocks come from the table, the words before and after them are read.
struct TTableRange {
    const uint32_t* samples;
    int32_t lo;
    const TBlock* blocks;
};

void addFromTable(const void* context, int64_t from, int64_t to, TTotals& t)
{
    const TTableRange& r = *static_cast<const TTableRange*>(context);
    const int64_t firstBlock = (from - r.lo + kTableWords - 1) / kTableWords;
    const int64_t endBlock = (to - r.lo) / kTableWords;
    if (firstBlock >= endBlock) {
        addRange(r.samples, from, to, t);
        return;
    }
    addRange(r.samples, from, r.lo + firstBlock * kTableWords, t);
    for (int64_t k = firstBlock; k < endBlock; ++k) {
        t.sum += r.blocks[k].sum;
        t.squares += r.blocks[k].squares;
        t.count += r.blocks[k].count;
    }
    addRange(r.samples, r.lo + endBlock * kTableWords, to, t);
}

} // namespace

int32_t MeasPixT(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int16_t step)
{
    TBlock blocks[kMaxBlocks];
    int32_t blockCount = 0;
    return measT(samples, m, first, last, step, blocks, blockCount);
}

int32_t MeasPixAmp(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference)
{
    return measAmp(samples, m, first, last, reference);
}

int32_t meas_pix(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference)
{
    TBlock blocks[kMaxBlocks];
    int32_t blockCount = 0;
    measT(samples, m, first, last, 2, blocks, blockCount);
    // The table covers the window when it lies inside the trace (measT clamps, the means do not).
    if (std::min(first, last) < 0 || std::max(first, last) > kTraceSize)
        return measAmp(samples, m, first, last, reference);
    const TTableRange table{samples, std::min(first, last), blocks};
    return measAmpWith(m, first, last, reference, &table, addFromTable);
}

