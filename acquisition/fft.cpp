#include "acquisition/fft.h"

#include "acquisition/vectorpath.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <mutex>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define FFT_AVX2 1
#include <immintrin.h>
#endif

static_assert(std::is_same<fftw_real, float>::value, "single-precision FFTW 2 expected");

double cosinus[kFftPoints + 1];
float to_l_signal1[kFftPoints];
float to_l_signal2[kFftPoints];
uint32_t ti_l_module[kFftBins];

namespace {

// Never destroyed: FFTW 2 keeps the plan until the process ends.
rfftw_plan g_plan = nullptr;
std::once_flag g_once;

// Weights of windows 0..4, from the cosine table once, so that a frame only multiplies.
constexpr int kWindows = 5;
double g_weights[kWindows][kFftPoints];

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kZeroLine = 524256.0;

double roundSignificant(double v, int digits)
{
    if (v == 0.0)
        return 0.0;
    const double scale = std::pow(10.0, digits - 1 - int(std::floor(std::log10(std::fabs(v)))));
    return std::round(v * scale) / scale;
}

inline bool validWord(uint32_t w) { return w < 0x40000000u; }

// cos(2 pi k i / 2500) from the table.
inline double cosK(int k, int i) { return cosinus[(k * i) % kFftPoints]; }

double windowWeight(uint32_t window, int i)
{
    switch (window) {
    case 1:
        return 1.0 - 0.85749 * cosK(1, i);
    case 2:
        return 1.0 - cosK(1, i);
    case 3:
        return 1.0 - 1.19 * cosK(1, i) + 0.19 * cosK(2, i);
    case 4:
        return 1.0 - 1.93 * cosK(1, i) + 1.29 * cosK(2, i) - 0.388 * cosK(3, i) + 0.0322 * cosK(4, i);
    default:
        return 1.0;
    }
}

void build()
{
    for (int i = 0; i < kFftPoints; ++i)
        cosinus[i] = roundSignificant(std::cos(kTwoPi * i / kFftPoints), 8);
    cosinus[kFftPoints] = 1.0;
    for (int w = 0; w < kWindows; ++w)
        for (int i = 0; i < kFftPoints; ++i)
            g_weights[w][i] = windowWeight(uint32_t(w), i);
    // FFTW_ESTIMATE: the measuring planner would take seconds.
    g_plan = rfftw_create_plan(kFftPoints, FFTW_REAL_TO_COMPLEX, FFTW_ESTIMATE);
}

} // namespace

void fftInit()
{
    std::call_once(g_once, build);
}

rfftw_plan fftPlan()
{
    fftInit();
    return g_plan;
}

namespace {

// Sum and number of the valid words.
int64_t validSum(const uint32_t* points, int& valid)
{
    int64_t sum = 0;
    int count = 0;
    int i = 0;
#if defined(__SSE2__)
    // Valid words are below 2^30: 64-bit lanes never carry.
    __m128i sums = _mm_setzero_si128();
    __m128i counts = _mm_setzero_si128();
    for (; kFftPoints - i >= 4; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(points + i));
        const __m128i ok = _mm_cmpeq_epi32(_mm_srli_epi32(x, 30), _mm_setzero_si128());
        const __m128i v = _mm_and_si128(x, ok);
        sums = _mm_add_epi64(sums, _mm_unpacklo_epi32(v, _mm_setzero_si128()));
        sums = _mm_add_epi64(sums, _mm_unpackhi_epi32(v, _mm_setzero_si128()));
        counts = _mm_sub_epi32(counts, ok);
    }
    alignas(16) int64_t wide[2];
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(wide), sums);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), counts);
    sum = wide[0] + wide[1];
    count = lanes[0] + lanes[1] + lanes[2] + lanes[3];
#endif
    for (; i < kFftPoints; ++i) {
        if (validWord(points[i])) {
            sum += int32_t(points[i]);
            ++count;
        }
    }
    valid = count;
    return sum;
}

} // namespace

namespace {

// Windowed floats of the leading entries of n while they are valid, four at a time (the same
// double products as the plain loop); stops before the first group holding an invalid entry
// and returns the number of entries done, n when every entry was valid.
int windowWhileValid(const uint32_t* points, const double* w, float* out, int n)
{
    int i = 0;
#if defined(__SSE2__)
    for (; n - i >= 4; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(points + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(x, 30), _mm_setzero_si128())) != 0xFFFF)
            return i;
        const __m128 low = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtepi32_pd(x), _mm_loadu_pd(w + i)));
        const __m128 high = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(x, 8)), _mm_loadu_pd(w + i + 2)));
        _mm_storeu_ps(out + i, _mm_movelh_ps(low, high));
    }
#endif
    for (; i < n; ++i) {
        if (!validWord(points[i]))
            return i;
        out[i] = float(double(int32_t(points[i])) * w[i]);
    }
    return i;
}

#if defined(FFT_AVX2)
// The leading entries eight at a time, as windowWhileValid; the caller does the rest.
__attribute__((target("avx2"))) int windowWhileValidAvx2(const uint32_t* points, const double* w, float* out)
{
    int i = 0;
    for (; kFftPoints - i >= 8; i += 8) {
        // lddqu: not split in two like an unaligned load for older processors.
        const __m256i x = _mm256_lddqu_si256(reinterpret_cast<const __m256i*>(points + i));
        if (!_mm256_testz_si256(x, _mm256_set1_epi32(static_cast<int32_t>(0xC0000000u))))
            return i;
        const __m128 low =
            _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(x)), _mm256_castsi256_pd(_mm256_lddqu_si256(reinterpret_cast<const __m256i*>(w + i)))));
        const __m128 high =
            _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(x, 1)), _mm256_castsi256_pd(_mm256_lddqu_si256(reinterpret_cast<const __m256i*>(w + i + 4)))));
        _mm256_storeu_ps(out + i, _mm256_set_m128(high, low));
    }
    return i;
}
#endif

} // namespace

bool FftWindow(const uint32_t* points, uint32_t window, float* out)
{
    fftInit();
    const double* w = g_weights[window < uint32_t(kWindows) ? window : 0];
    // Every entry valid, the usual case: one pass.
#if defined(FFT_AVX2)
    // The 256-bit functions end before any plain code runs: with the upper halves of the vector
    // registers left in use, the transform's legacy SSE code runs several times slower.
    if (vectorPath() == TVectorPath::Avx2) {
        const int i = windowWhileValidAvx2(points, w, out);
        if (i + windowWhileValid(points + i, w + i, out + i, kFftPoints - i) == kFftPoints)
            return true;
    } else if (windowWhileValid(points, w, out, kFftPoints) == kFftPoints) {
        return true;
    }
#else
    if (windowWhileValid(points, w, out, kFftPoints) == kFftPoints)
        return true;
#endif
    // An empty entry taken as a signed word would feed -2^31 into the transform: use the mean
    // of the valid entries instead.
    int valid = 0;
    const int64_t sum = validSum(points, valid);
    if (valid == 0)
        return false;
    const double mean = double(sum) / valid;
    for (int i = 0; i < kFftPoints; ++i)
        out[i] = float((validWord(points[i]) ? double(int32_t(points[i])) : mean) * w[i]);
    return true;
}

namespace {

// Power of bin k of the half-complex spectrum, in double.
inline double power(const float* spectrum, int k)
{
    const double r = spectrum[k];
    const double i = k == 0 ? 0.0 : double(spectrum[kFftPoints - k]);
    return r * r + i * i;
}

// Clamped code, never wrapped: the DC bin of a trace near the zero line exceeds the range.
inline uint32_t clampedCode(double code)
{
    code = code > 0.0 ? code : 0.0;
    code = code < double(kFftBottom) ? code : double(kFftBottom);
    return uint32_t(int32_t(code));
}

// A code minus the shift: below 1 it is 0, above the bottom the bottom.
inline uint32_t shiftedCode(uint32_t code, int32_t shift)
{
    const int64_t v = int64_t(code) - shift;
    return v < 1 ? 0u : v > kFftBottom ? uint32_t(kFftBottom) : uint32_t(v);
}

// The reference of the dB scale: (log10(p) x 0.5 - reference) x 65520 with log10 = log2 x
// log10(2), so that code = base - log2(p) x perOctave.
struct TDbScale {
    double base;
    double perOctave;
};

inline uint32_t dbCode(double p, const TDbScale& s)
{
    // log10(0) is -inf: a silent bin sits at the bottom code.
    return clampedCode(p > 0.0 ? s.base - double(std::log2(float(p))) * s.perOctave : double(kFftBottom));
}

#if defined(__SSE2__)
// Powers of bins k and k + 1 (k >= 1): real parts at k, k + 1, imaginary parts at N - k, N - k - 1.
inline __m128d powerPair(const float* spectrum, int k)
{
    const __m128d r = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(spectrum + k))));
    const __m128d i = _mm_cvtps_pd(
        _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(spectrum + kFftPoints - k - 1))));
    const __m128d iSwapped = _mm_shuffle_pd(i, i, 1);
    return _mm_add_pd(_mm_mul_pd(r, r), _mm_mul_pd(iSwapped, iSwapped));
}

// log2 of four normal positive floats: exponent plus log2 of the mantissa folded into
// [sqrt(1/2), sqrt(2)), by the series of atanh((m - 1) / (m + 1)); within 2e-7 of the exact
// log2 (closer than log2f), a thousandth of a code. Given as the exponent and the mantissa's part apart, so
// that the caller adds them in double.
inline void log2Parts(__m128 x, __m128i& exponent, __m128& fraction)
{
    const __m128i bits = _mm_castps_si128(x);
    __m128i e = _mm_sub_epi32(_mm_srli_epi32(bits, 23), _mm_set1_epi32(127));
    __m128 m = _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x7FFFFF)), _mm_set1_epi32(0x3F800000)));
    const __m128 big = _mm_cmpgt_ps(m, _mm_set1_ps(1.41421356f));
    m = _mm_or_ps(_mm_and_ps(big, _mm_mul_ps(m, _mm_set1_ps(0.5f))), _mm_andnot_ps(big, m));
    e = _mm_sub_epi32(e, _mm_castps_si128(big));  // -1 where big: one more
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 t = _mm_div_ps(_mm_sub_ps(m, one), _mm_add_ps(m, one));
    const __m128 t2 = _mm_mul_ps(t, t);
    __m128 series = _mm_set1_ps(1.0f / 11.0f);
    series = _mm_add_ps(_mm_mul_ps(series, t2), _mm_set1_ps(1.0f / 9.0f));
    series = _mm_add_ps(_mm_mul_ps(series, t2), _mm_set1_ps(1.0f / 7.0f));
    series = _mm_add_ps(_mm_mul_ps(series, t2), _mm_set1_ps(1.0f / 5.0f));
    series = _mm_add_ps(_mm_mul_ps(series, t2), _mm_set1_ps(1.0f / 3.0f));
    series = _mm_add_ps(_mm_mul_ps(series, t2), one);
    // 2 t series is ln(m); times 1/ln(2).
    fraction = _mm_mul_ps(_mm_mul_ps(t, series), _mm_set1_ps(2.0f * 1.44269504088896341f));
    exponent = e;
}

// A code clamped to 0..bottom, then shifted and clamped again: the same integer as the shift
// applied to the truncated code (the shift is whole).
inline __m128i shiftedCodes(__m128d code, __m128d shift)
{
    const __m128d zero = _mm_setzero_pd();
    const __m128d bottom = _mm_set1_pd(double(kFftBottom));
    code = _mm_min_pd(_mm_max_pd(code, zero), bottom);
    return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(_mm_sub_pd(code, shift), zero), bottom));
}

// Codes of four bins from their powers (two pairs), shifted.
inline void dbCodes4(__m128d p0, __m128d p1, const TDbScale& s, int32_t shift, uint32_t* out)
{
    const __m128 x = _mm_movelh_ps(_mm_cvtpd_ps(p0), _mm_cvtpd_ps(p1));
    // Zero, denormal or rounded to zero in single precision: those lanes the plain way.
    const int tiny = _mm_movemask_ps(_mm_cmplt_ps(x, _mm_set1_ps(FLT_MIN)));
    __m128i e;
    __m128 f;
    log2Parts(x, e, f);
    const __m128d base = _mm_set1_pd(s.base);
    const __m128d perOctave = _mm_set1_pd(s.perOctave);
    const __m128d low = _mm_add_pd(_mm_cvtepi32_pd(e), _mm_cvtps_pd(f));
    const __m128d high = _mm_add_pd(_mm_cvtepi32_pd(_mm_srli_si128(e, 8)), _mm_cvtps_pd(_mm_movehl_ps(f, f)));
    const __m128d by = _mm_set1_pd(double(shift));
    const __m128i c0 = shiftedCodes(_mm_sub_pd(base, _mm_mul_pd(low, perOctave)), by);
    const __m128i c1 = shiftedCodes(_mm_sub_pd(base, _mm_mul_pd(high, perOctave)), by);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(c0, c1));
    if (tiny != 0) {
        alignas(16) double p[4];
        _mm_store_pd(p, p0);
        _mm_store_pd(p + 2, p1);
        for (int j = 0; j < 4; ++j)
            if (tiny >> j & 1)
                out[j] = shiftedCode(dbCode(p[j], s), shift);
    }
}
#endif

#if defined(FFT_AVX2)
// The same steps as above, four or eight bins a step, lane for lane the same operations (no
// fused multiply-add), so the same codes.
__attribute__((target("avx2"))) inline __m256d powerQuad(const float* spectrum, int k)
{
    const __m256d r = _mm256_cvtps_pd(_mm_loadu_ps(spectrum + k));
    const __m128 reversed = _mm_loadu_ps(spectrum + kFftPoints - k - 3);  // i(k + 3) .. i(k)
    const __m256d i = _mm256_cvtps_pd(_mm_shuffle_ps(reversed, reversed, _MM_SHUFFLE(0, 1, 2, 3)));
    return _mm256_add_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(i, i));
}

__attribute__((target("avx2"))) inline __m128i shiftedCodesAvx2(__m256d code, __m256d shift)
{
    const __m256d zero = _mm256_setzero_pd();
    const __m256d bottom = _mm256_set1_pd(double(kFftBottom));
    code = _mm256_min_pd(_mm256_max_pd(code, zero), bottom);
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(_mm256_sub_pd(code, shift), zero), bottom));
}

// The codes of bins k .. end eight at a time; returns where the caller goes on. Bins whose power
// is tiny in single precision are marked in tinyGroups (one byte for each eight bins from the
// first, a bit a bin) for the caller to redo the plain way, outside 256-bit code.
__attribute__((target("avx2"))) int dbCodesAvx2(const float* spectrum, int k, int end, const TDbScale& s,
                                               int32_t shift, uint32_t* bins, uint8_t* tinyGroups)
{
    const __m256d base = _mm256_set1_pd(s.base);
    const __m256d perOctave = _mm256_set1_pd(s.perOctave);
    const __m256d by = _mm256_set1_pd(double(shift));
    const __m256 one = _mm256_set1_ps(1.0f);
    for (; end - k >= 8; k += 8) {
        const __m256d p0 = powerQuad(spectrum, k);
        const __m256d p1 = powerQuad(spectrum, k + 4);
        const __m256 x = _mm256_set_m128(_mm256_cvtpd_ps(p1), _mm256_cvtpd_ps(p0));
        *tinyGroups++ = uint8_t(_mm256_movemask_ps(_mm256_cmp_ps(x, _mm256_set1_ps(FLT_MIN), _CMP_LT_OS)));
        // log2Parts, eight lanes.
        const __m256i bits = _mm256_castps_si256(x);
        __m256i e = _mm256_sub_epi32(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(127));
        __m256 m = _mm256_castsi256_ps(
            _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFF)), _mm256_set1_epi32(0x3F800000)));
        const __m256 big = _mm256_cmp_ps(m, _mm256_set1_ps(1.41421356f), _CMP_GT_OS);
        m = _mm256_or_ps(_mm256_and_ps(big, _mm256_mul_ps(m, _mm256_set1_ps(0.5f))), _mm256_andnot_ps(big, m));
        e = _mm256_sub_epi32(e, _mm256_castps_si256(big));
        const __m256 t = _mm256_div_ps(_mm256_sub_ps(m, one), _mm256_add_ps(m, one));
        const __m256 t2 = _mm256_mul_ps(t, t);
        __m256 series = _mm256_set1_ps(1.0f / 11.0f);
        series = _mm256_add_ps(_mm256_mul_ps(series, t2), _mm256_set1_ps(1.0f / 9.0f));
        series = _mm256_add_ps(_mm256_mul_ps(series, t2), _mm256_set1_ps(1.0f / 7.0f));
        series = _mm256_add_ps(_mm256_mul_ps(series, t2), _mm256_set1_ps(1.0f / 5.0f));
        series = _mm256_add_ps(_mm256_mul_ps(series, t2), _mm256_set1_ps(1.0f / 3.0f));
        series = _mm256_add_ps(_mm256_mul_ps(series, t2), one);
        const __m256 f = _mm256_mul_ps(_mm256_mul_ps(t, series), _mm256_set1_ps(2.0f * 1.44269504088896341f));
        const __m256d low = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(e)),
                                          _mm256_cvtps_pd(_mm256_castps256_ps128(f)));
        const __m256d high = _mm256_add_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(e, 1)),
                                           _mm256_cvtps_pd(_mm256_extractf128_ps(f, 1)));
        const __m128i c0 = shiftedCodesAvx2(_mm256_sub_pd(base, _mm256_mul_pd(low, perOctave)), by);
        const __m128i c1 = shiftedCodesAvx2(_mm256_sub_pd(base, _mm256_mul_pd(high, perOctave)), by);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(bins + k), _mm256_set_m128i(c1, c0));
    }
    return k;
}

// The linear codes of bins k .. end four at a time; returns where the caller goes on.
__attribute__((target("avx2"))) int linearCodesAvx2(const float* spectrum, int k, int end, int32_t shift,
                                                   uint32_t* bins)
{
    const __m256d by = _mm256_set1_pd(double(shift));
    for (; end - k >= 4; k += 4) {
        const __m256d amplitude = _mm256_div_pd(_mm256_sqrt_pd(powerQuad(spectrum, k)), _mm256_set1_pd(1250.0));
        const __m256d code =
            _mm256_sub_pd(_mm256_set1_pd(double(kFftBottom)), _mm256_add_pd(amplitude, _mm256_set1_pd(kZeroLine)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bins + k), shiftedCodesAvx2(code, by));
    }
    return k;
}
#endif

} // namespace

namespace {

// The bin codes, the shift applied as they are stored (FftModule, then FftCadrage).
void moduleShifted(const float* spectrum, uint32_t* bins, uint16_t logScale, double unitsPerCode, int32_t shift)
{
    double reference = 0.0;
    if (logScale == 1)
        reference = std::log10(kFftPoints / (unitsPerCode * 1.4142136)) - 10.001465201465201;
    const TDbScale scale{double(kFftBottom) + reference * 65520.0, 0.5 * 0.30102999566398119521 * 65520.0};
#if defined(FFT_AVX2)
    const bool avx2 = vectorPath() == TVectorPath::Avx2;
#endif
    int k = 0;
    if (logScale != 0) {
        bins[k] = shiftedCode(dbCode(power(spectrum, k), scale), shift);
        ++k;
#if defined(FFT_AVX2)
        if (avx2) {
            uint8_t tiny[kFftBins / 8];
            const int from = k;
            k = dbCodesAvx2(spectrum, from, kFftBins, scale, shift, bins, tiny);
            for (int g = 0; g < (k - from) / 8; ++g)
                for (unsigned lanes = tiny[g]; lanes != 0; lanes &= lanes - 1) {
                    const int j = from + 8 * g + __builtin_ctz(lanes);
                    bins[j] = shiftedCode(dbCode(power(spectrum, j), scale), shift);
                }
        }
#endif
#if defined(__SSE2__)
        for (; kFftBins - k >= 4; k += 4)
            dbCodes4(powerPair(spectrum, k), powerPair(spectrum, k + 2), scale, shift, bins + k);
#endif
        for (; k < kFftBins; ++k)
            bins[k] = shiftedCode(dbCode(power(spectrum, k), scale), shift);
        return;
    }
    bins[k] = shiftedCode(clampedCode(double(kFftBottom) - (std::sqrt(power(spectrum, k)) / 1250.0 + kZeroLine)), shift);
    ++k;
#if defined(FFT_AVX2)
    if (avx2)
        k = linearCodesAvx2(spectrum, k, kFftBins, shift, bins);
#endif
#if defined(__SSE2__)
    const __m128d by = _mm_set1_pd(double(shift));
    for (; kFftBins - k >= 2; k += 2) {
        const __m128d amplitude = _mm_div_pd(_mm_sqrt_pd(powerPair(spectrum, k)), _mm_set1_pd(1250.0));
        const __m128d code = _mm_sub_pd(_mm_set1_pd(double(kFftBottom)), _mm_add_pd(amplitude, _mm_set1_pd(kZeroLine)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bins + k), shiftedCodes(code, by));
    }
#endif
    for (; k < kFftBins; ++k)
        bins[k] = shiftedCode(clampedCode(double(kFftBottom) - (std::sqrt(power(spectrum, k)) / 1250.0 + kZeroLine)), shift);
}

// Zoom 1 from bin first: bin k at point 2 (k - first), each point between two bins their mean
// (what the interpolation gives a gap of one point), the points after the last bin empty.
void spreadByTwo(const uint32_t* bins, uint32_t* points, int first)
{
    const uint32_t* b = bins + first;
    const int n = kFftBins - first;
    int j = 0;
#if defined(__SSE2__)
    for (; n - 1 - j >= 4; j += 4) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j + 1));
        const __m128i mid = _mm_srli_epi32(_mm_add_epi32(here, next), 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(points + 2 * j), _mm_unpacklo_epi32(here, mid));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(points + 2 * j + 4), _mm_unpackhi_epi32(here, mid));
    }
#endif
    for (; j < n - 1; ++j) {
        points[2 * j] = b[j];
        points[2 * j + 1] = (b[j] + b[j + 1]) >> 1;
    }
    points[2 * j] = b[j];
    std::fill(points + 2 * j + 1, points + kFftPoints, kFftEmpty);
}

} // namespace

void FftModule(const float* spectrum, uint32_t* bins, uint16_t logScale, double unitsPerCode)
{
    moduleShifted(spectrum, bins, logScale, unitsPerCode, 0);
}

void FftCadrage(uint32_t* bins, int32_t shift)
{
    for (int k = 0; k < kFftBins; ++k)
        bins[k] = shiftedCode(bins[k], shift);
}

void FftHorizontalZoom(const uint32_t* bins, uint32_t* points, float zoom, int32_t position)
{
    std::fill(points, points + kFftPoints, kFftEmpty);
    if (!(zoom > 0.0f))
        zoom = 1.0f;
    const float step = 2.0f / zoom;
    // Requests reach the position unchecked: keep the first bin inside the spectrum.
    const int first = std::clamp(position / 2, 0, kFftBins - 1);
    float at = 0.0f;
    for (int k = first; k < kFftBins; ++k) {
        if (!(at < float(kFftPoints)))
            break;
        points[int(at)] = bins[k];
        at += step;
    }
}

void FftInterpolation(uint32_t* points)
{
    int start = 0;
    while (start < kFftPoints && points[start] == kFftEmpty)
        ++start;
    while (start < kFftPoints) {
        int end = start + 1;
        while (end < kFftPoints && points[end] == kFftEmpty)
            ++end;
        if (end >= kFftPoints)
            return;  // trailing empties stay empty
        const int n = end - start;
        if (n > 1) {
            const int64_t a = points[start] & 0xFFFFFu;
            const int64_t b = points[end];
            // Zoom 1 leaves single gaps: spare the division there (same result, 128 is even).
            const int64_t slope = n == 2 ? (b - a) * 64 : ((b - a) * 128) / n;
            for (int j = 1; j < n; ++j)
                points[start + j] = uint32_t((a * 128 + j * slope) / 128);
        }
        start = end;
    }
}

void Fft(uint32_t* points, uint32_t window, uint16_t logScale, double unitsPerCode, float zoom,
         int32_t position, int32_t shift)
{
    fftInit();
    if (!FftWindow(points, window, to_l_signal1)) {
        std::fill(points, points + kFftPoints, kFftEmpty);
        return;
    }
    rfftw_one(g_plan, to_l_signal1, to_l_signal2);
    moduleShifted(to_l_signal2, ti_l_module, logScale, unitsPerCode, shift);
    if (!(zoom > 0.0f) || zoom == 1.0f) {
        spreadByTwo(ti_l_module, points, std::clamp(position / 2, 0, kFftBins - 1));
        return;
    }
    FftHorizontalZoom(ti_l_module, points, zoom, position);
    FftInterpolation(points);
}
