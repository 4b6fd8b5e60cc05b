#include "acquisition/fft.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <type_traits>

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

bool FftWindow(const uint32_t* points, uint32_t window, float* out)
{
    fftInit();
    // An empty entry taken as a signed word would feed -2^31 into the transform: use the mean
    // of the valid entries instead.
    int64_t sum = 0;
    int valid = 0;
    for (int i = 0; i < kFftPoints; ++i) {
        if (validWord(points[i])) {
            sum += int32_t(points[i]);
            ++valid;
        }
    }
    if (valid == 0)
        return false;
    const double mean = double(sum) / valid;
    const double* w = g_weights[window < uint32_t(kWindows) ? window : 0];
    if (valid == kFftPoints) {
        for (int i = 0; i < kFftPoints; ++i)
            out[i] = float(double(int32_t(points[i])) * w[i]);
    } else {
        for (int i = 0; i < kFftPoints; ++i)
            out[i] = float((validWord(points[i]) ? double(int32_t(points[i])) : mean) * w[i]);
    }
    return true;
}

void FftModule(const float* spectrum, uint32_t* bins, uint16_t logScale, double unitsPerCode)
{
    double reference = 0.0;
    if (logScale == 1)
        reference = std::log10(kFftPoints / (unitsPerCode * 1.4142136)) - 10.001465201465201;
    // (log10(p) x 0.5 - reference) x 65520 with log10 = log2 x log10(2): the single-precision
    // log2 is the fastest call and its error (a few 1e-7) stays far below one code.
    const double base = double(kFftBottom) + reference * 65520.0;
    const double perOctave = 0.5 * 0.30102999566398119521 * 65520.0;
    for (int k = 0; k < kFftBins; ++k) {
        const double r = spectrum[k];
        const double i = k == 0 ? 0.0 : double(spectrum[kFftPoints - k]);
        const double p = r * r + i * i;
        double code;
        if (logScale != 0) {
            // log10(0) is -inf: a silent bin sits at the bottom code.
            code = p > 0.0 ? base - double(std::log2(float(p))) * perOctave : double(kFftBottom);
        } else {
            code = double(kFftBottom) - (std::sqrt(p) / 1250.0 + kZeroLine);
        }
        // The DC bin of a trace near the zero line exceeds the range: clamp, never wrap.
        code = code > 0.0 ? code : 0.0;
        code = code < double(kFftBottom) ? code : double(kFftBottom);
        bins[k] = uint32_t(int32_t(code));
    }
}

void FftCadrage(uint32_t* bins, int32_t shift)
{
    for (int k = 0; k < kFftBins; ++k) {
        const int64_t v = int64_t(bins[k]) - shift;
        bins[k] = v < 1 ? 0u : v > kFftBottom ? uint32_t(kFftBottom) : uint32_t(v);
    }
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
    FftModule(to_l_signal2, ti_l_module, logScale, unitsPerCode);
    FftCadrage(ti_l_module, shift);
    FftHorizontalZoom(ti_l_module, points, zoom, position);
    FftInterpolation(points);
}
