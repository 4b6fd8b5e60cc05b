// Spectrum display: exact codes of a coherent sine in linear and dB scale, the windows, the
// clamping of DC, shift, zoom and position, and envelopes with empty entries.
#include "acquisition/fft.h"
#include "acquisition/vectorpath.h"

#include "core/scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int32_t kZero = 524256;
constexpr double kPi = 3.14159265358979323846;

// 524256 + round(A cos(2 pi cycles i / 2500)).
std::vector<uint32_t> sine(double amplitude, int cycles = 100)
{
    std::vector<uint32_t> v(kFftPoints);
    for (int i = 0; i < kFftPoints; ++i)
        v[i] = uint32_t(kZero + std::lround(amplitude * std::cos(2.0 * kPi * cycles * i / kFftPoints)));
    return v;
}

std::vector<uint32_t> constant(uint32_t word) { return std::vector<uint32_t>(kFftPoints, word); }

// Linear scale, zoom 1, position 0, no shift.
void linear(std::vector<uint32_t>& v, uint32_t window = 0)
{
    Fft(v.data(), window, 0, 0.0, 1.0f, 0, 0);
}

// Index of the strongest (smallest) code among points [from, to).
int strongest(const std::vector<uint32_t>& v, int from, int to)
{
    int best = from;
    for (int i = from; i < to; ++i)
        if (v[i] < v[best])
            best = i;
    return best;
}

TEST(Fft, CosineTable)
{
    fftInit();
    EXPECT_EQ(cosinus[0], 1.0);
    EXPECT_DOUBLE_EQ(cosinus[1], 0.99999684);
    EXPECT_DOUBLE_EQ(cosinus[2], 0.99998737);
    EXPECT_DOUBLE_EQ(cosinus[1250], -1.0);
    EXPECT_NEAR(cosinus[625], 0.0, 1e-12);
    EXPECT_EQ(cosinus[2500], 1.0);
}

TEST(Fft, CoherentSineInLinearScale)
{
    std::vector<uint32_t> v = sine(65520);
    linear(v);
    EXPECT_NEAR(int32_t(v[200]), 458736, 1);
    EXPECT_NEAR(int32_t(v[201]), 491496, 1);  // interpolated half-way to bin 101
    EXPECT_NEAR(int32_t(v[198]), kZero, 1);
    EXPECT_NEAR(int32_t(v[202]), kZero, 1);
    EXPECT_EQ(v[0], 0u);  // the DC bin of codes near the zero line, clamped instead of wrapped
    EXPECT_EQ(v[2499], kFftEmpty);  // after the last bin
}

TEST(Fft, OneVoltRmsIsTheTopOfTheScreenInDb)
{
    std::vector<uint32_t> v = sine(46330);
    Fft(v.data(), 0, 1, GetSensitivity(8, SCALE_SCOPE), 1.0f, 0, 0);
    EXPECT_NEAR(int32_t(v[200]), 393215, 2);
    // The rounding noise of the other bins lies far below.
    EXPECT_GT(v[400], 0x9FFC0u);
}

TEST(Fft, EveryWindowKeepsTheCoherentPeak)
{
    // Every window has a mean of 1: the coherent bin keeps its amplitude.
    for (uint32_t window : {0u, 1u, 2u, 3u, 4u, 9u}) {
        SCOPED_TRACE(window);
        std::vector<uint32_t> v = sine(65520);
        linear(v, window);
        EXPECT_NEAR(int32_t(v[200]), 458736, 2);
        EXPECT_EQ(strongest(v, 20, 2499), 200);
    }
}

TEST(Fft, ConstantAndZeroInputs)
{
    // A constant: all energy in bin 0.
    std::vector<uint32_t> v = constant(kZero);
    linear(v);
    EXPECT_EQ(v[0], 0u);
    for (int i = 2; i < 2499; ++i)
        ASSERT_NEAR(int32_t(v[i]), kZero, 1) << i;

    // A zero spectrum: 0xFFFC0 - 524256 in linear scale, the bottom code in dB.
    v = constant(0);
    linear(v);
    for (int i = 0; i < 2499; ++i)
        ASSERT_EQ(v[i], uint32_t(0xFFFC0 - kZero)) << i;
    v = constant(0);
    Fft(v.data(), 2, 1, GetSensitivity(8, SCALE_SCOPE), 1.0f, 0, 0);
    for (int i = 0; i < 2499; ++i)
        ASSERT_EQ(v[i], 0xFFFC0u) << i;
    v = constant(0);
    Fft(v.data(), 0, 2, 0.0, 1.0f, 0, 0);  // unreferenced dB
    EXPECT_EQ(v[100], 0xFFFC0u);
}

TEST(Fft, ShiftIsClamped)
{
    struct Row {
        uint32_t bin;
        int32_t shift;
        uint32_t expected;
    };
    const Row rows[] = {
        {0, 100, 0},          {100, 100, 0},          {101, 100, 1},
        {500000, 100, 499900}, {0xFFFC0, -1, 0xFFFC0}, {0xFFF00, -1000, 0xFFFC0},
        {0, -200, 200},       {0, 0x7FFFFFFF, 0},     {0xFFFC0, int32_t(0x80000000), 0xFFFC0},
    };
    for (const Row& r : rows) {
        std::vector<uint32_t> bins(kFftBins, r.bin);
        FftCadrage(bins.data(), r.shift);
        EXPECT_EQ(bins[0], r.expected) << r.bin << " " << r.shift;
        EXPECT_EQ(bins[kFftBins - 1], r.expected);
    }

    // Through Fft: a positive shift lowers the codes of every bin.
    std::vector<uint32_t> v = sine(65520);
    Fft(v.data(), 0, 0, 0.0, 1.0f, 0, 26208);
    EXPECT_NEAR(int32_t(v[200]), 458736 - 26208, 1);
    EXPECT_NEAR(int32_t(v[400]), kZero - 26208, 1);
}

// Bins k = 1000 + 8k, so that every point position is predictable.
std::vector<uint32_t> ramp()
{
    std::vector<uint32_t> bins(kFftBins);
    for (int k = 0; k < kFftBins; ++k)
        bins[k] = uint32_t(1000 + 8 * k);
    return bins;
}

TEST(Fft, HalfZoomShowsEveryBinFourPointsApart)
{
    const std::vector<uint32_t> bins = ramp();
    std::vector<uint32_t> points(kFftPoints, 7);
    FftHorizontalZoom(bins.data(), points.data(), 0.5f, 0);
    EXPECT_EQ(points[4 * 624], bins[624]);
    EXPECT_EQ(points[1], kFftEmpty);
    FftInterpolation(points.data());
    for (int i = 0; i <= 2496; ++i)
        ASSERT_EQ(points[i], uint32_t(1000 + 2 * i)) << i;
    for (int i = 2497; i < kFftPoints; ++i)
        EXPECT_EQ(points[i], kFftEmpty) << i;
}

TEST(Fft, PositionAndZoomStayInsideTheSpectrum)
{
    const std::vector<uint32_t> bins = ramp();
    struct Row {
        const char* what;
        float zoom;
        int32_t position;
        int firstBin;   // at point 0
        int lastPoint;  // last non-empty point
    };
    const Row rows[] = {
        {"zoom 1 from bin 0", 1.0f, 0, 0, 2498},
        {"position 1000 starts at bin 500", 1.0f, 1000, 500, 2 * 749},
        {"beyond the spectrum", 1.0f, 100000, 1249, 0},
        {"largest position", 1.0f, 0x7FFFFFFF, 1249, 0},
        {"negative position", 1.0f, -500, 0, 2498},
        {"zoom 0 counts as 1", 0.0f, 0, 0, 2498},
        {"negative zoom counts as 1", -2.0f, 0, 0, 2498},
        {"zoom 2 shows every bin on its point", 2.0f, 0, 0, 1249},
        {"zoom 0.1 stops at the last point", 0.1f, 0, 0, 2480},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<uint32_t> points(kFftPoints);
        FftHorizontalZoom(bins.data(), points.data(), r.zoom, r.position);
        EXPECT_EQ(points[0], bins[r.firstBin]);
        int last = -1;
        for (int i = 0; i < kFftPoints; ++i)
            if (points[i] != kFftEmpty)
                last = i;
        EXPECT_EQ(last, r.lastPoint);
    }
}

TEST(Fft, InterpolationFillsOnlyBetweenPoints)
{
    std::vector<uint32_t> p(kFftPoints, kFftEmpty);
    p[10] = 0x40000000u | 1000;  // only the low 20 bits of the start code count
    p[14] = 200;                 // falling: slope (200 - 1000) * 128 / 4
    p[15] = 300;
    p[18] = 301;
    FftInterpolation(p.data());
    const uint32_t expected[] = {kFftEmpty, 0x40000000u | 1000, 800, 600, 400, 200, 300, 300, 300, 301, kFftEmpty};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(p[9 + i], expected[i]) << 9 + i;
    EXPECT_EQ(p[0], kFftEmpty);
    EXPECT_EQ(p[2499], kFftEmpty);
}

TEST(Fft, EmptyEnvelopeEntriesTakeTheMeanOfTheValidOnes)
{
    // 10 % of the entries missing: the spectrum keeps its peak (lowered by the missing part)
    // instead of the wide-band garbage of -2^31 words.
    std::vector<uint32_t> v = sine(65520);
    for (int i = 0; i < kFftPoints; i += 10)
        v[i] = kFftEmpty;
    linear(v);
    EXPECT_NEAR(int32_t(v[200]), kZero - 0.9 * 65520, 0.01 * 65520);
    EXPECT_EQ(strongest(v, 20, 2499), 200);
    for (int i = 20; i < 2499; ++i)
        ASSERT_LE(v[i], 0xFFFC0u) << i;

    // The mean replaces the gaps before windowing: a constant with holes is still a pure DC.
    v = constant(kZero + 1000);
    for (int i = 5; i < kFftPoints; i += 7)
        v[i] = (i & 1) != 0 ? kFftEmpty : 0x40000000u;
    linear(v, 2);
    EXPECT_NEAR(int32_t(v[200]), kZero, 1);

    // Nothing valid: the 2500 points are empty.
    v = constant(kFftEmpty);
    Fft(v.data(), 2, 1, GetSensitivity(8, SCALE_SCOPE), 1.0f, 0, 0);
    for (int i = 0; i < kFftPoints; ++i)
        ASSERT_EQ(v[i], kFftEmpty) << i;
}

} // namespace

namespace {

// The module step against the plain formula in double precision, over spectra whose powers
// span every magnitude the transform gives (zero, tiny, single-precision underflow, huge): dB
// codes within one code (values a few hundredths apart may truncate apart), linear codes exact.
// Each vector path of the build in turn; the widest again at the end.
template <typename F>
void onEveryPath(F f)
{
    for (TVectorPath path : {TVectorPath::Portable, TVectorPath::Sse2, TVectorPath::Avx2}) {
        if (!setVectorPath(path))
            continue;
        SCOPED_TRACE(static_cast<int>(path));
        f(path);
    }
    resetVectorPath();
}

TEST(Fft, ModuleMatchesThePlainFormula)
{
    onEveryPath([](TVectorPath) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> exponent(-30.0, 13.0);
    std::uniform_int_distribution<int> sign(0, 1);
    const double unitsPerCode = GetSensitivity(8, SCALE_SCOPE);
    const double reference = std::log10(kFftPoints / (unitsPerCode * 1.4142136)) - 10.001465201465201;
    for (int round = 0; round < 20; ++round) {
        std::vector<float> spectrum(kFftPoints);
        for (float& f : spectrum)
            f = float((sign(rng) ? 1 : -1) * std::pow(10.0, exponent(rng)));
        for (int k = round; k < kFftPoints; k += 97)
            spectrum[k] = 0.0f;  // silent parts, also half a bin
        spectrum[5] = 1e-25f;    // a power that underflows in single precision
        spectrum[kFftPoints - 5] = 0.0f;
        std::vector<uint32_t> db(kFftBins), lin(kFftBins);
        FftModule(spectrum.data(), db.data(), 1, unitsPerCode);
        FftModule(spectrum.data(), lin.data(), 0, 0.0);
        for (int k = 0; k < kFftBins; ++k) {
            const double r = spectrum[k];
            const double i = k == 0 ? 0.0 : double(spectrum[kFftPoints - k]);
            const double p = r * r + i * i;
            const double dbCode = p > 0.0 ? (std::log10(p) * 0.5 - reference) * -65520.0 + 0xFFFC0 : 0xFFFC0;
            const double linCode = 0xFFFC0 - (std::sqrt(p) / 1250.0 + 524256.0);
            ASSERT_NEAR(int32_t(db[k]), int32_t(std::clamp(dbCode, 0.0, double(0xFFFC0))), 1) << k;
            ASSERT_EQ(lin[k], uint32_t(std::clamp(linCode, 0.0, double(0xFFFC0)))) << k;
        }
    }
    });
}

// The frame, whose steps are merged where they can be, against the steps one after the other
// (the spreading and interpolation plain loops), on every path; and every path gives the codes of
// the first one, bit for bit. Traces with and without empty entries, every window, both scales,
// zooms and positions, shifts up to the extremes.
TEST(Fft, FrameIsItsStepsOnEveryPath)
{
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 300.0);
    struct Case {
        std::vector<uint32_t> input;
        uint32_t window;
        uint16_t logScale;
        float zoom;
        int32_t position;
        int32_t shift;
    };
    const float zooms[] = {1.0f, 0.0f, -1.0f, 0.5f, 2.0f, 1.7f, 0.1f};
    const int32_t positions[] = {0, 1, 500, 2497, -4, 0x7FFFFFFF};
    const int32_t shifts[] = {0, 12345, -70000, 0xFFFC0, -0xFFFC0, INT32_MIN, INT32_MAX};
    std::vector<Case> cases;
    for (int c = 0; c < 60; ++c) {
        std::vector<uint32_t> v(kFftPoints);
        const double cycles = std::uniform_real_distribution<double>(0.5, 1200.0)(rng);
        const double amplitude = std::pow(10.0, std::uniform_real_distribution<double>(0.0, 5.5)(rng));
        for (int i = 0; i < kFftPoints; ++i)
            v[i] = uint32_t(std::llround(kZero + amplitude * std::sin(2.0 * kPi * cycles * i / kFftPoints) +
                                         noise(rng))) & 0xFFFFFu;
        if (c % 4 == 1)
            for (int i = c; i < kFftPoints; i += 13 + c)
                v[i] = c % 8 == 1 ? kFftEmpty : 0x40000000u;
        if (c % 10 == 3)
            v.assign(kFftPoints, uint32_t(c * 1000));
        cases.push_back({v, uint32_t(c % 6), uint16_t(c % 3), zooms[c % 7], positions[c % 6], shifts[c % 7]});
    }

    std::vector<std::vector<uint32_t>> first;
    onEveryPath([&](TVectorPath) {
        for (size_t n = 0; n < cases.size(); ++n) {
            const Case& c = cases[n];
            SCOPED_TRACE(n);
            const double unitsPerCode = GetSensitivity(8, SCALE_SCOPE);
            std::vector<uint32_t> frame = c.input;
            Fft(frame.data(), c.window, c.logScale, unitsPerCode, c.zoom, c.position, c.shift);

            std::vector<float> windowed(kFftPoints), spectrum(kFftPoints);
            std::vector<uint32_t> bins(kFftBins), steps(kFftPoints, 7);
            ASSERT_TRUE(FftWindow(c.input.data(), c.window, windowed.data()));
            rfftw_one(fftPlan(), windowed.data(), spectrum.data());
            FftModule(spectrum.data(), bins.data(), c.logScale, unitsPerCode);
            FftCadrage(bins.data(), c.shift);
            FftHorizontalZoom(bins.data(), steps.data(), c.zoom, c.position);
            FftInterpolation(steps.data());
            ASSERT_EQ(frame, steps);
            if (first.size() < cases.size())
                first.push_back(frame);
            else
                ASSERT_EQ(frame, first[n]);
        }
    });
}

} // namespace
