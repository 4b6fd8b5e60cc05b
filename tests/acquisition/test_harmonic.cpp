// Harmonic analyser parts on prepared samples: the transform against a direct DFT, the rate
// search, one channel's record and levels, and the power record.
#include "acquisition/TAcquisition.h"
#include "acquisition/harmonic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kZero = 524256;

// Trace samples (from index 0) of f(k), k the sample index counted from the first analysed one.
std::vector<uint32_t> traceOf(const std::function<double(int)>& f, int count = 2500)
{
    std::vector<uint32_t> v(count);
    for (int k = 0; k < count; ++k)
        v[k] = static_cast<uint32_t>(std::lround(kZero + f(k - kHarmonicFirstSample)));
    return v;
}

// theta of sample k: 16 periods in 2048 samples.
double theta(int k)
{
    return 2 * kPi * k / 128.0;
}

TEST(HarmonicFFTTest, MatchesDirectTransform)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-1e5, 1e5);
    std::vector<double> in(kHarmonicPoints);
    for (double& x : in)
        x = d(rng);
    std::vector<complexe> out(kHarmonicPoints);
    HarmonicFFT(in.data(), out.data());
    double worst = 0, scale = 0;
    for (int k = 0; k < kHarmonicPoints; ++k) {
        std::complex<double> sum = 0;
        for (int n = 0; n < kHarmonicPoints; ++n)
            sum += in[n] * std::polar(1.0, -2 * kPi * static_cast<double>(static_cast<long>(k) * n % kHarmonicPoints) / kHarmonicPoints);
        worst = std::max(worst, std::abs(sum - std::complex<double>(out[k].re, out[k].im)));
        scale = std::max(scale, std::abs(sum));
    }
    EXPECT_LT(worst / scale, 1e-6);
}

TEST(HarmonicFFTTest, CosineOfSixteenPeriodsFillsTwoBins)
{
    std::vector<double> in(kHarmonicPoints);
    for (int k = 0; k < kHarmonicPoints; ++k)
        in[k] = std::cos(theta(k));
    std::vector<complexe> out(kHarmonicPoints);
    HarmonicFFT(in.data(), out.data());
    for (int k = 0; k < kHarmonicPoints; ++k) {
        const double mag = std::hypot(out[k].re, out[k].im);
        if (k == 16 || k == 2032)
            EXPECT_NEAR(mag, 1024.0, 1e-3) << k;
        else
            EXPECT_LT(mag, 1e-3) << k;
    }
}

TEST(FindSampleRateTest, Bounds)
{
    const struct {
        const char* what;
        std::function<double(int)> signal;
        int result;
        double rate;   // afterwards
    } rows[] = {
        {"50 Hz at 20 kS/s", [](int k) { return 50000 * std::sin(2 * kPi * 50 * k / 20000.0); }, 0, 6400},
        {"flat", [](int) { return 0.0; }, 3, 20000},
        {"three periods, small", [](int k) { return 5000 * std::sin(2 * kPi * k / 800.0); }, 3, 20000},
        {"three periods, large", [](int k) { return 50000 * std::sin(2 * kPi * k / 800.0); }, 1, 20000},
        {"too many periods", [](int k) { return 50000 * std::sin(2 * kPi * k / 3.5); }, 1, 20000},
    };
    for (const auto& r : rows) {
        const std::vector<uint32_t> samples = traceOf(r.signal);
        double rate = 20000;
        EXPECT_EQ(FindSampleRate(samples.data(), &rate), r.result) << r.what;
        EXPECT_NEAR(rate, r.rate, 10) << r.what;
    }
    std::vector<uint32_t> empty(2500, kEmptySampleWord);
    double rate = 5000;
    EXPECT_EQ(FindSampleRate(empty.data(), &rate), 2);
    EXPECT_EQ(rate, 5000);
}

struct HarmonicChannelTest : ::testing::Test {
    double table[64] = {};
    THarmonicResults record{};

    int run(const std::function<double(int)>& f, int average = 0, bool replace = false, double period = 1.5625e-4)
    {
        const std::vector<uint32_t> samples = traceOf(f);
        return HarmonicChannel(samples.data(), period, average, replace, table, &record, nullptr);
    }
};

TEST_F(HarmonicChannelTest, FundamentalAndThirdHarmonic)
{
    ASSERT_EQ(run([](int k) { return 100000 * std::sin(theta(k)) + 10000 * std::sin(3 * theta(k)); }), 0);
    EXPECT_EQ(record.status, HARMONIC_MEASURED);
    EXPECT_NEAR(record.distortion, 0.1, 1e-4);
    EXPECT_NEAR(record.rms, 71063.4, 1);
    const THarmonicEntry& h1 = record.entries[1];
    const THarmonicEntry& h3 = record.entries[3];
    EXPECT_NEAR(h1.amplitude, 70710.7, 0.5);
    EXPECT_NEAR(h1.ratio, 1.0, 1e-6);
    EXPECT_NEAR(h1.phase, 0.0, 0.1);
    EXPECT_NEAR(h3.amplitude, 7071.07, 0.5);
    EXPECT_NEAR(h3.ratio, 0.1, 1e-5);
    EXPECT_NEAR(h3.phase, 0.0, 0.1);
    EXPECT_NEAR(h1.period, 128 * 1.5625e-4, 1e-9);
    EXPECT_NEAR(h3.period, 128 * 1.5625e-4 / 3, 1e-9);
    EXPECT_TRUE(std::isnan(record.entries[0].period));
    EXPECT_EQ(record.entries[2].ratio, 0.0f);
    EXPECT_EQ(table[0], 0.0);
}

TEST_F(HarmonicChannelTest, PhasesAreRelativeToTheFundamental)
{
    // The whole shape shifted in time: each order keeps its own phase.
    for (double shift : {0.0, 0.7, -2.5}) {
        run([shift](int k) {
            const double t = theta(k) + shift;
            return 80000 * std::sin(t) + 8000 * std::sin(3 * t + 30 * kPi / 180) + 4000 * std::sin(5 * t - 120 * kPi / 180);
        });
        EXPECT_NEAR(record.entries[1].phase, 0.0, 0.05) << shift;
        EXPECT_NEAR(record.entries[3].phase, 30.0, 0.05) << shift;
        EXPECT_NEAR(record.entries[5].phase, -120.0, 0.05) << shift;
        EXPECT_NEAR(record.entries[5].ratio, 0.05, 1e-5) << shift;
    }
}

TEST_F(HarmonicChannelTest, AveragingWeightsANewLevel)
{
    const auto sine = [](int k) { return 100000 * std::sin(theta(k)); };
    const double level = 100000 * 1024.0;   // |bin 16| of the sine
    const struct {
        int average;
        bool replace;
        double expected;
    } rows[] = {
        {0, false, level},
        {4, false, level / 16 + 500.0 * 15 / 16},
        {4, true, level},
    };
    for (const auto& r : rows) {
        std::fill(table, table + 64, 500.0);
        run(sine, r.average, r.replace);
        EXPECT_NEAR(table[1], r.expected, 1e-3 * level) << r.average << r.replace;
        EXPECT_EQ(table[0], 500.0) << "slot 0 is never written";
    }
}

TEST_F(HarmonicChannelTest, FailuresLeaveSlotZeroAndThenAreReplaced)
{
    const struct {
        const char* what;
        std::function<double(int)> signal;
        int status;
        double value;
    } rows[] = {
        {"clips low", [](int k) { return k == 700 ? -200000.0 : 0.0; }, HARMONIC_OVERRANGE, kHarmonicClipped},
        {"clips high", [](int k) { return k == 5 ? 131040.0 : 0.0; }, HARMONIC_OVERRANGE, kHarmonicClipped},
    };
    for (const auto& r : rows) {
        std::fill(table, table + 64, 0.0);
        EXPECT_EQ(run(r.signal, 4), r.status) << r.what;
        EXPECT_EQ(record.status, r.status) << r.what;
        EXPECT_EQ(table[0], 0.0) << r.what;
        for (int h = 1; h < 64; ++h)
            ASSERT_EQ(table[h], r.value) << r.what << h;
        EXPECT_EQ(record.entries[1].amplitude, 0.0f) << r.what;
    }
    HarmonicFailed(HARMONIC_NOT_MEASURED, table, &record, nullptr);
    EXPECT_EQ(record.status, HARMONIC_NOT_MEASURED);
    EXPECT_EQ(table[0], 0.0);
    EXPECT_EQ(table[63], kHarmonicFailedTransfer);

    // The cycle replaces the levels on the first good pass after a failed one.
    run([](int k) { return 100000 * std::sin(theta(k)); }, 4, true);
    EXPECT_NEAR(table[1], 100000 * 1024.0, 1e3);
    EXPECT_LT(table[2], 1);
    EXPECT_NEAR(record.entries[1].ratio, 1.0, 1e-6);
}

TEST_F(HarmonicChannelTest, AnUndeliveredSampleIsNotMeasured)
{
    std::vector<uint32_t> samples = traceOf([](int k) { return 1000 * std::sin(theta(k)); });
    samples[1500] = kEmptySampleWord;
    EXPECT_EQ(HarmonicChannel(samples.data(), 1e-4, 0, false, table, &record, nullptr), HARMONIC_NOT_MEASURED);
    EXPECT_EQ(table[5], kHarmonicFailedTransfer);
}

TEST_F(HarmonicChannelTest, FlatInputHasNoNaN)
{
    run([](int) { return 0.0; });
    EXPECT_EQ(record.status, HARMONIC_MEASURED);
    EXPECT_EQ(record.distortion, 0.0f);
    EXPECT_EQ(record.rms, 0.0f);
    for (int j = 0; j < 64; ++j) {
        const THarmonicEntry& e = record.entries[j];
        EXPECT_TRUE(std::isfinite(e.ratio) && std::isfinite(e.phase) && std::isfinite(e.amplitude)) << j;
        EXPECT_EQ(e.ratio, 0.0f) << j;
        EXPECT_EQ(std::isnan(e.period), j == 0) << j;
    }
}

TEST(HarmonicPowerTest, ProductsPhasesAndReturnedPower)
{
    THarmonicResults ch1{}, ch4{}, power{};
    double t1[64] = {}, t4[64] = {}, tp[64] = {};
    const struct {
        int order;
        double level1, level4, phase1, phase4;
        double product, phase;
    } rows[] = {
        {1, 10, 4, 0, -30, 40, 30},
        {3, 2, 3, 170, -170, 6, -20},     // the difference wraps: still in phase
        {5, 2, 2, 100, -20, -4, 120},     // more than a quarter period apart: power returned
        {7, 1, 5, -150, 10, -5, -160},
    };
    for (const auto& r : rows) {
        t1[r.order] = r.level1;
        t4[r.order] = r.level4;
        ch1.entries[r.order] = {0.02f / r.order, 0, static_cast<float>(r.phase1), static_cast<float>(r.level1)};
        ch4.entries[r.order].phase = static_cast<float>(r.phase4);
        ch4.entries[r.order].amplitude = static_cast<float>(r.level4);
    }
    HarmonicPower(ch1, ch4, t1, t4, tp, &power, nullptr);
    EXPECT_EQ(power.status, HARMONIC_MEASURED);
    for (const auto& r : rows) {
        const double product = r.product < 0 ? -std::fabs(r.level1 * r.level4) : r.level1 * r.level4;
        EXPECT_DOUBLE_EQ(tp[r.order], product) << r.order;
        EXPECT_NEAR(power.entries[r.order].ratio, product / 40.0, 1e-6) << r.order;
        EXPECT_NEAR(power.entries[r.order].phase, r.phase, 1e-4) << r.order;
        EXPECT_FLOAT_EQ(power.entries[r.order].period, 0.02f / r.order) << r.order;
        EXPECT_NEAR(power.entries[r.order].amplitude, product, 1e-4) << r.order;
    }
    EXPECT_EQ(tp[0], 0.0);

    for (int32_t status : {HARMONIC_NOT_MEASURED, HARMONIC_OVERRANGE}) {
        ch4.status = status;
        HarmonicPower(ch1, ch4, t1, t4, tp, &power, nullptr);
        EXPECT_EQ(power.status, HARMONIC_NOT_MEASURED) << status;
    }
}

} // namespace
