// Block min/max, gap filling of equivalent-time records, min/max pair stretching and a
// least-squares line over 32-bit sample words.
#include "acquisition/interpolation.h"

#include "acquisition/TAcquisition.h"

#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t kEmpty = 0x80000000u;           // bit 31: no sample
constexpr uint32_t kInterpolated = 0x20000000u;    // bit 29: produced here
constexpr uint32_t kNotMeasured = 0xA0000000u;     // empty or interpolated
constexpr uint32_t kCode = 0xFFFFFu;
constexpr int32_t kZeroCode = 0x7FFE0;
constexpr int32_t kRecordLength = 100000;
constexpr int32_t kMinMeasured = 10;
constexpr int kSincSteps = 40;                     // table entries per sample spacing

inline bool measured(uint32_t w)
{
    return (w & kNotMeasured) == 0;
}

// Interpolated code with its mark; out-of-range results never reach the flag bits.
inline uint32_t interpolatedWord(int64_t code)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(code, 0, kCode)) | kInterpolated;
}

// Fills the unmeasured words of [lo, hi] (exclusive of the anchors a, b themselves) on the
// line through the measured words at a and b.
void fillLine(uint32_t* a, uint32_t* b, uint32_t* lo, uint32_t* hi)
{
    const int64_t ca = *a & kCode;
    const int64_t cb = *b & kCode;
    const int64_t span = b - a;
    for (uint32_t* p = lo; p <= hi; ++p) {
        if (measured(*p))
            continue;
        *p = interpolatedWord(ca + (cb - ca) * (p - a) / span);
    }
}

// Block [first, last) of the trace's record holding start, or an empty range.
bool blockOf(TAcquisition* trace, int32_t start, uint16_t n, int32_t* first, int32_t* last)
{
    if (trace == nullptr || trace->samples == nullptr || n == 0 || start < 0)
        return false;
    *first = start - start % n;
    *last = std::min<int32_t>(*first + n, kRecordLength);
    return *first < *last;
}

// Lowest (at most 0xFFFC0) and highest (0 when none) code of the sample words of [first,
// last), empty words skipped. The display envelope runs this over every record: four words at
// a time.
void blockMinMax(const uint32_t* s, int32_t first, int32_t last, uint32_t* lowest, uint32_t* highest)
{
    int32_t i = first;
    uint32_t low = 0xFFFC0u;
    uint32_t high = 0;
#if defined(__SSE2__)
    // Codes are below 2^20: signed comparisons are exact. An empty word counts as the highest
    // code for the minimum and as 0 for the maximum.
    const __m128i code = _mm_set1_epi32(static_cast<int32_t>(kCode));
    __m128i vlow = _mm_set1_epi32(static_cast<int32_t>(low));
    __m128i vhigh = _mm_setzero_si128();
    for (; last - i >= 4; i += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i empty = _mm_srai_epi32(w, 31);
        const __m128i c = _mm_and_si128(w, code);
        const __m128i forLow = _mm_or_si128(c, _mm_and_si128(empty, code));
        const __m128i forHigh = _mm_andnot_si128(empty, c);
        const __m128i lower = _mm_cmplt_epi32(forLow, vlow);
        vlow = _mm_or_si128(_mm_and_si128(lower, forLow), _mm_andnot_si128(lower, vlow));
        const __m128i higher = _mm_cmpgt_epi32(forHigh, vhigh);
        vhigh = _mm_or_si128(_mm_and_si128(higher, forHigh), _mm_andnot_si128(higher, vhigh));
    }
    alignas(16) uint32_t lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), vlow);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 4), vhigh);
    low = std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
    high = std::max(std::max(lanes[4], lanes[5]), std::max(lanes[6], lanes[7]));
#endif
    for (; i < last; ++i) {
        if (s[i] & kEmpty)
            continue;
        low = std::min(low, s[i] & kCode);
        high = std::max(high, s[i] & kCode);
    }
    *lowest = low;
    *highest = high;
}

}  // namespace

// Generated once, offline: monotone piecewise-cubic (PCHIP, Fritsch-Carlson slopes, flat at 0)
// through the kernel's known entries and its zeros at 40, 80, 120, 160, rounded to integers.
const int16_t sinc[161] = {
    8192, 8179, 8143, 8077, 7983, 7863, 7723, 7567, 7398, 7221,
    7041, 6843, 6614, 6359, 6085, 5795, 5497, 5195, 4894, 4601,
    4320, 4041, 3753, 3459, 3163, 2871, 2584, 2309, 2049, 1807,
    1589, 1387, 1192, 1005, 826, 658, 499, 353, 218, 97,
    0, -84, -136, -184, -229, -270, -305, -333, -355, -368,
    -373, -369, -357, -339, -316, -291, -264, -237, -213, -191,
    -175, -162, -148, -135, -121, -108, -95, -83, -70, -59,
    -48, -38, -29, -20, -13, -7, -2, 2, 4, 5,
    0, -5, -9, -14, -18, -22, -27, -31, -35, -39,
    -43, -47, -50, -53, -56, -59, -61, -63, -64, -65,
    -65, -65, -63, -61, -59, -55, -52, -48, -43, -39,
    -34, -29, -24, -20, -16, -12, -8, -5, -3, -1,
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 0, 0, 0, 0, 0, 0, 0, 0,
    0,
};

void acq_minmax(TAcquisition* trace, int32_t start, uint16_t n, uint32_t* min, uint32_t* max)
{
    int32_t first = 0, last = 0;
    uint32_t low = 0xFFFC0u;
    uint32_t high = 0;
    if (blockOf(trace, start, n, &first, &last))
        blockMinMax(trace->samples, first, last, &low, &high);
    *min = low == 0xFFFC0u ? kEmpty : low;
    *max = high == 0 ? kEmpty : high;
}

uint32_t acq_min(TAcquisition* trace, int32_t start, uint16_t n)
{
    uint32_t min = 0, max = 0;
    acq_minmax(trace, start, n, &min, &max);
    return min;
}

uint32_t acq_max(TAcquisition* trace, int32_t start, uint16_t n)
{
    uint32_t min = 0, max = 0;
    acq_minmax(trace, start, n, &min, &max);
    return max;
}

void linearInterp(uint32_t* from, uint32_t* to)
{
    if (from == nullptr || to == nullptr || to < from)
        return;
    uint32_t* firstMeasured = nullptr;
    uint32_t* secondMeasured = nullptr;
    uint32_t* previous = nullptr;
    uint32_t* beforeLast = nullptr;
    for (uint32_t* p = from; p <= to; ++p) {
        if (!measured(*p))
            continue;
        if (firstMeasured == nullptr) {
            firstMeasured = p;
        } else {
            if (secondMeasured == nullptr)
                secondMeasured = p;
            fillLine(previous, p, previous + 1, p - 1);
            beforeLast = previous;
        }
        previous = p;
    }
    if (firstMeasured == nullptr)
        return;
    if (secondMeasured == nullptr) {
        // A single measured word: nothing to take a slope from, hold its level.
        const uint32_t level = interpolatedWord(*firstMeasured & kCode);
        for (uint32_t* p = from; p <= to; ++p)
            if (!measured(*p))
                *p = level;
        return;
    }
    fillLine(firstMeasured, secondMeasured, from, firstMeasured - 1);
    fillLine(beforeLast, previous, previous + 1, to);
}

void sincInterp(uint32_t** valid, uint32_t** end)
{
    if (valid == nullptr || end == nullptr || end - valid < 2)
        return;
    const int64_t spacing = valid[1] - valid[0];
    if (spacing <= 0)
        return;
    if (spacing > kSincSteps) {
        // The kernel has no entry finer than one step of the table: a straight line instead.
        linearInterp(valid[0], end[-1]);
        return;
    }
    const int64_t r = kSincSteps / spacing;
    const int64_t count = end - valid;
    for (int64_t w = 0; w + 7 < count; ++w) {
        uint32_t** window = valid + w;
        for (uint32_t* p = window[3] + 1; p < window[4]; ++p) {
            if ((*p & kEmpty) == 0)
                continue;
            int64_t sum = 0;
            for (int k = 0; k < 8; ++k) {
                const int64_t distance = p > window[k] ? p - window[k] : window[k] - p;
                const int64_t index = r * distance;
                if (index > 160)
                    continue;
                sum += (static_cast<int64_t>(*window[k] & 0xFFFFFFFu) - kZeroCode) * sinc[index];
            }
            *p = interpolatedWord(sum / 8192 + kZeroCode);
        }
    }
}

int32_t InterpolAcq(uint32_t* samples, int32_t n)
{
    if (samples == nullptr || n <= 0)
        return 2;
    std::vector<uint32_t*> list;
    list.reserve(std::min<int32_t>(n, kRecordLength));
    for (int32_t i = 0; i < n && list.size() < static_cast<size_t>(kRecordLength); ++i)
        if (measured(samples[i]))
            list.push_back(samples + i);
    const int64_t m = static_cast<int64_t>(list.size());
    if (m < kMinMeasured)
        return 2;

    auto spacingAt = [&](int64_t i) { return static_cast<int16_t>(list[i + 1] - list[i]); };
    int64_t i = 0;
    while (i < m - 1) {
        const int16_t spacing = spacingAt(i);
        int64_t j = i + 1;
        while (j + 1 < m && spacingAt(j) == spacing)
            ++j;
        if (j - i + 1 >= kMinMeasured) {
            linearInterp(list[i], list[i + 3]);
            sincInterp(&list[i], &list[j] + 1);
            i = j - 3;
        }
        linearInterp(list[i], list[j]);
        i = j;
    }
    linearInterp(samples, list[1]);
    linearInterp(list[m - 2], samples + n - 1);
    return 0;
}

void interpMinMax(const uint32_t* pairs, uint32_t* out, uint32_t n, uint32_t total)
{
    if (pairs == nullptr || out == nullptr || n == 0)
        return;
    const uint64_t f = (total / n) & ~1u;
    if (f == 0)
        return;
    // Writes run ahead of the reads: an overlapping source is read from a copy.
    std::vector<uint32_t> copy;
    const uint32_t* src = pairs;
    const uintptr_t srcLo = reinterpret_cast<uintptr_t>(pairs), srcHi = srcLo + 8ull * n;
    const uintptr_t outLo = reinterpret_cast<uintptr_t>(out), outHi = outLo + 4ull * total;
    if (srcLo < outHi && outLo < srcHi) {
        copy.assign(pairs, pairs + 2ull * n);
        src = copy.data();
    }
    auto empty = [&](uint64_t word) { return (src[word] & kEmpty) != 0; };
    const uint64_t words = 2ull * n;
    // i and j are pair indices: pair i spans out[f i, f i + f); every write stays below f n.
    for (uint64_t i = 0; i < n; ++i) {
        if (empty(2 * i) || empty(2 * i + 1))
            continue;
        uint64_t next = 2 * i + 2;
        while (next < words && empty(next))
            ++next;
        if (next >= words)
            return;
        const uint64_t j = next / 2;
        const uint32_t first = src[2 * i];
        const uint32_t second = src[2 * i + 1];
        for (uint64_t k = 0; f * i + 2 * k < f * j; ++k) {
            out[f * i + 2 * k] = second;
            out[f * i + f + 1 + 2 * k] = first;
        }
    }
}

void RegressionLineaire(const int16_t* x, const int32_t* y, int16_t count, double* slope,
                        double* intercept)
{
    if (slope == nullptr || intercept == nullptr)
        return;
    *slope = 0.0;
    *intercept = 0.0;
    if (x == nullptr || y == nullptr || count <= 0)
        return;
    int64_t sumX = 0, sumY = 0;
    for (int i = 0; i < count; ++i) {
        sumX += x[i];
        sumY += y[i];
    }
    const double meanX = static_cast<double>(sumX) / count;
    const double meanY = static_cast<double>(sumY) / count;
    double sxy = 0.0, sxx = 0.0;
    for (int i = 0; i < count; ++i) {
        const double dx = x[i] - meanX;
        sxy += dx * (y[i] - meanY);
        sxx += dx * dx;
    }
    // All x equal: no slope to find; a flat line through the mean.
    *slope = sxx > 0.0 ? sxy / sxx : 0.0;
    *intercept = meanY - meanX * *slope;
}
