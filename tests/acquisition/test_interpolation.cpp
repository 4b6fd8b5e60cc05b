// Block min/max, gap filling, min/max stretching and the least-squares line.
#include "acquisition/interpolation.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kEmpty = 0x80000000u;
constexpr uint32_t kMark = 0x20000000u;
constexpr uint32_t kFullScale = 0xFFFFFu;
constexpr int32_t kZero = 0x7FFE0;

class InterpolationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        setupLinks() = TSetupLinks{};
    }
};

// Measured words at first, first + spacing, ... (count of them) carrying f(position); the rest empty.
std::vector<uint32_t> sampled(size_t size, size_t first, size_t spacing, size_t count,
                              double (*f)(double, double), double param)
{
    std::vector<uint32_t> v(size, kEmpty);
    for (size_t i = 0, p = first; i < count && p < size; ++i, p += spacing)
        v[p] = static_cast<uint32_t>(std::lround(f(static_cast<double>(p), param)));
    return v;
}

double sine(double p, double period)
{
    return kZero + 400000.0 * std::sin(2.0 * M_PI * p / period);
}

// Straight line through two measured words, truncated like the product.
uint32_t lineAt(const std::vector<uint32_t>& v, size_t a, size_t b, size_t p)
{
    const int64_t ca = v[a] & kFullScale, cb = v[b] & kFullScale;
    return static_cast<uint32_t>(ca + (cb - ca) * (static_cast<int64_t>(p) - static_cast<int64_t>(a)) /
                                          (static_cast<int64_t>(b) - static_cast<int64_t>(a)));
}

TEST_F(InterpolationTest, SincTableKnownEntries)
{
    const struct { int k; int v; } known[] = {
        {0, 8192}, {1, 8179}, {2, 8143}, {10, 7041}, {20, 4320}, {30, 1589}, {39, 97}, {40, 0},
        {41, -84}, {50, -373}, {60, -175}, {79, 5}, {80, 0}, {81, -5}, {100, -65}, {119, -1},
        {120, 0}, {121, 1}, {160, 0},
    };
    for (const auto& e : known)
        EXPECT_EQ(sinc[e.k], e.v) << "entry " << e.k;
    // Monotone fall over the main lobe.
    for (int k = 1; k <= 40; ++k)
        EXPECT_LT(sinc[k], sinc[k - 1]) << k;
}

TEST_F(InterpolationTest, BlockMinAndMax)
{
    TAcquisition trace(1);
    uint32_t* s = trace.samples;
    std::fill(s, s + TAcquisition::kSampleCount, kEmpty);
    // Around the block 80..159: outside words that must not count.
    s[79] = 10;
    s[160] = 0xF0000;
    s[80] = 3000;
    s[159] = 200;
    s[120] = 0x40000000u | 7000;  // flagged but not empty: counts by its code
    // Block 400..479: only the limit codes each routine ignores.
    s[400] = 0xFFFC0;
    s[401] = 0;
    // Block 99920..99999 and a block cut at the record's end.
    s[99999] = 1234;

    const struct { int32_t start; uint16_t n; uint32_t min, max; } cases[] = {
        {130, 80, 200, 7000},
        {80, 80, 200, 7000},
        {240, 80, kEmpty, kEmpty},       // only empty words
        {400, 80, 0, 0xFFFC0},           // 0xFFFC0 ignored by min, 0 by max
        {99990, 80, 1234, 1234},
        {99950, 300, 1234, 1234},        // block 99900..100199 cut at 100,000
        {100000, 80, kEmpty, kEmpty},
        {-5, 80, kEmpty, kEmpty},
        {10, 0, kEmpty, kEmpty},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(acq_min(&trace, c.start, c.n), c.min) << c.start << "/" << c.n;
        EXPECT_EQ(acq_max(&trace, c.start, c.n), c.max) << c.start << "/" << c.n;
        uint32_t min = 1, max = 1;
        acq_minmax(&trace, c.start, c.n, &min, &max);
        EXPECT_EQ(min, c.min) << c.start << "/" << c.n;
        EXPECT_EQ(max, c.max) << c.start << "/" << c.n;
    }
    s[401] = 0xFFFFF;
    EXPECT_EQ(acq_min(&trace, 400, 80), kEmpty);
    s[400] = s[401] = 0;
    EXPECT_EQ(acq_max(&trace, 400, 80), kEmpty);
}

TEST_F(InterpolationTest, TooFewMeasuredLeavesTheRecordAlone)
{
    // 9 measured, and 9 measured plus words that only look like samples (interpolated marks).
    std::vector<uint32_t> nine = sampled(400, 3, 40, 9, sine, 500.0);
    std::vector<uint32_t> marked = nine;
    marked[5] = kMark | 1000;
    marked[6] = kMark | 2000;
    for (auto* v : {&nine, &marked}) {
        const std::vector<uint32_t> before = *v;
        EXPECT_EQ(InterpolAcq(v->data(), static_cast<int32_t>(v->size())), 2);
        EXPECT_EQ(*v, before);
    }
    EXPECT_EQ(InterpolAcq(nullptr, 100), 2);
    uint32_t one = 5;
    EXPECT_EQ(InterpolAcq(&one, 0), 2);
}

TEST_F(InterpolationTest, RunOfTwelveSincInsideLinearElsewhere)
{
    // Samples 5, 15, ..., 115 of a sine with 8 samples a period: curved enough that the
    // kernel and a straight line disagree.
    const size_t spacing = 10, first = 5;
    std::vector<uint32_t> v = sampled(130, first, spacing, 12, sine, 80.0);
    const std::vector<uint32_t> before = v;
    ASSERT_EQ(InterpolAcq(v.data(), static_cast<int32_t>(v.size())), 0);

    auto pos = [&](size_t i) { return first + i * spacing; };
    int sincDiffersFromLine = 0;
    for (size_t p = 0; p < v.size(); ++p) {
        if (before[p] != kEmpty) {
            EXPECT_EQ(v[p], before[p]) << p;
            continue;
        }
        ASSERT_EQ(v[p] & 0xFFF00000u, kMark) << "word " << p << " = " << std::hex << v[p];
        if (p > pos(3) && p < pos(8)) {
            // Kernel region: close to the sampled sine.
            EXPECT_NEAR(static_cast<double>(v[p] & kFullScale), sine(static_cast<double>(p), 80.0), 0.02 * kFullScale) << p;
            const size_t a = first + (p - first) / spacing * spacing;
            if ((v[p] & kFullScale) != lineAt(v, a, a + spacing, p))
                ++sincDiffersFromLine;
        } else {
            // Straight lines between neighbours, extended at both ends.
            size_t a = p < pos(0) ? pos(0) : p > pos(11) ? pos(10) : first + (p - first) / spacing * spacing;
            EXPECT_EQ(v[p] & kFullScale, lineAt(v, a, a + spacing, p)) << p;
        }
    }
    EXPECT_GT(sincDiffersFromLine, 30);
}

TEST_F(InterpolationTest, ReconstructsASampledSine)
{
    // Equivalent-time style records: one measured word every `spacing` positions.
    const struct { size_t spacing; double samplesPerPeriod; } cases[] = {
        {40, 20.0}, {40, 25.0}, {40, 64.0}, {20, 20.0}, {10, 32.0}, {8, 20.0}, {4, 50.0}, {2, 20.0},
    };
    for (const auto& c : cases) {
        const double period = c.spacing * c.samplesPerPeriod;
        // The first measured word within one spacing of the start: the ends are extrapolated.
        std::vector<uint32_t> v = sampled(100000, c.spacing / 2, c.spacing, 100000, sine, period);
        ASSERT_EQ(InterpolAcq(v.data(), static_cast<int32_t>(v.size())), 0);
        double worst = 0.0;
        for (size_t p = 0; p < v.size(); ++p) {
            ASSERT_EQ(v[p] & 0xDFF00000u, 0u) << p;
            worst = std::max(worst, std::fabs((v[p] & kFullScale) - sine(static_cast<double>(p), period)));
        }
        EXPECT_LT(worst, 0.01 * kFullScale) << "spacing " << c.spacing << ", " << c.samplesPerPeriod << " a period";
    }
}

TEST_F(InterpolationTest, SpacingAboveFortyFillsLinearly)
{
    for (size_t spacing : {41u, 50u, 97u}) {
        const size_t first = 2;
        std::vector<uint32_t> v = sampled(spacing * 20 + 5, first, spacing, 20, sine, spacing * 7.0);
        const std::vector<uint32_t> before = v;
        ASSERT_EQ(InterpolAcq(v.data(), static_cast<int32_t>(v.size())), 0);
        for (size_t p = first + 1; p < first + 19 * spacing; ++p) {
            if (before[p] != kEmpty)
                continue;
            const size_t a = first + (p - first) / spacing * spacing;
            ASSERT_EQ(v[p], kMark | lineAt(v, a, a + spacing, p)) << "spacing " << spacing << " word " << p;
        }
    }
}

TEST_F(InterpolationTest, InterpolatedCodesClampToTheCodeRange)
{
    // Full-scale square wave: the kernel overshoots both rails; steep ends extrapolate beyond them.
    std::vector<uint32_t> v(400, kEmpty);
    for (size_t i = 0; i < 36; ++i)
        v[20 + i * 10] = (i / 2) % 2 ? 0u : kFullScale;
    v[20] = 0x10;  // steep first segment: extended backwards below 0
    v[30] = 0xFFFF0;
    v[360] = kFullScale;  // steep last segment: extended forwards below 0
    v[370] = 0x10;
    ASSERT_EQ(InterpolAcq(v.data(), static_cast<int32_t>(v.size())), 0);
    int atTop = 0, atBottom = 0;
    for (size_t p = 0; p < v.size(); ++p) {
        ASSERT_EQ(v[p] & 0xDFF00000u, 0u) << p;
        if (v[p] == (kMark | kFullScale))
            ++atTop;
        if (v[p] == kMark)
            ++atBottom;
    }
    EXPECT_GT(atTop, 0);
    EXPECT_GT(atBottom, 0);
    EXPECT_EQ(v[0], kMark);          // backward extension clamped at 0
    EXPECT_EQ(v[399], kMark);        // forward extension of the last falling segment
}

TEST_F(InterpolationTest, LinearInterpHelper)
{
    // No measured word: nothing changes; one: its level; two: line and both extensions.
    std::vector<uint32_t> none(8, kEmpty);
    linearInterp(none.data(), none.data() + 7);
    EXPECT_EQ(none, std::vector<uint32_t>(8, kEmpty));

    std::vector<uint32_t> one(6, kEmpty);
    one[2] = 500;
    linearInterp(one.data(), one.data() + 5);
    EXPECT_EQ(one, (std::vector<uint32_t>{kMark | 500, kMark | 500, 500, kMark | 500, kMark | 500, kMark | 500}));

    std::vector<uint32_t> two = {kEmpty, kMark | 7, 100, kEmpty, kEmpty, 400, kEmpty, kEmpty};
    linearInterp(two.data(), two.data() + 6);  // the last word is outside the range
    EXPECT_EQ(two, (std::vector<uint32_t>{kMark | 0, kMark | 0, 100, kMark | 200, kMark | 300, 400,
                                          kMark | 500, kEmpty}));
}

struct MinMaxCase {
    const char* name;
    std::vector<uint32_t> pairs;
    uint32_t total;
    std::vector<std::pair<uint32_t, uint32_t>> writes;  // (index, value) expected; others untouched
};

TEST_F(InterpolationTest, MinMaxPairsStretchInsideTheOutput)
{
    constexpr uint32_t kGuard = 0xDEADBEEF;
    const MinMaxCase cases[] = {
        // 4 pairs over 40 words, f = 10; the third pair empty, the last one never written.
        {"gap", {1, 2, 3, 4, kEmpty, kEmpty, 7, 8}, 40, {}},
        // f = 12 from 40 / 3: writes stop below 36.
        {"uneven", {1, 2, 3, 4, 5, 6}, 40, {}},
        // A half-empty pair is skipped but ends the previous pair's stretch.
        {"half", {1, 2, kEmpty, 4, 5, 6}, 30, {}},
    };
    for (const auto& c : cases) {
        const uint32_t n = static_cast<uint32_t>(c.pairs.size() / 2);
        const uint32_t f = (c.total / n) & ~1u;
        std::vector<uint32_t> out(c.total + 16, kGuard);
        interpMinMax(c.pairs.data(), out.data(), n, c.total);
        // Expected from the stretch rule, with pair indices.
        std::vector<uint32_t> expect(out.size(), kGuard);
        for (uint32_t i = 0; i < n; ++i) {
            if ((c.pairs[2 * i] | c.pairs[2 * i + 1]) & kEmpty)
                continue;
            uint32_t w = 2 * i + 2;
            while (w < 2 * n && (c.pairs[w] & kEmpty))
                ++w;
            if (w >= 2 * n)
                break;
            for (uint32_t k = 0; f * i + 2 * k < f * (w / 2); ++k) {
                expect[f * i + 2 * k] = c.pairs[2 * i + 1];
                expect[f * i + f + 1 + 2 * k] = c.pairs[2 * i];
            }
        }
        EXPECT_EQ(out, expect) << c.name;
        for (uint32_t p = f * n; p < out.size(); ++p)
            EXPECT_EQ(out[p], kGuard) << c.name << " word " << p;
    }

    // The transfer's equivalent-time call: 1250 pairs over the record.
    std::vector<uint32_t> pairs(2500);
    for (uint32_t i = 0; i < 1250; ++i) {
        pairs[2 * i] = 1000 + i;
        pairs[2 * i + 1] = 5000 + i;
    }
    std::vector<uint32_t> out(100000 + 64, kGuard);
    interpMinMax(pairs.data(), out.data(), 1250, 100000);
    for (uint32_t p = 100000; p < out.size(); ++p)
        ASSERT_EQ(out[p], kGuard) << p;
    EXPECT_EQ(out[0], 5000u);
    EXPECT_EQ(out[81], 1000u);
    EXPECT_EQ(out[99999], 1000u + 1248);
    EXPECT_EQ(out[99920], kGuard);  // the last pair has no successor

    // In place (the buffer is both source and output): same result as from a copy.
    std::vector<uint32_t> inPlace(100000, kEmpty);
    std::copy(pairs.begin(), pairs.end(), inPlace.begin());
    std::vector<uint32_t> fromCopy = inPlace;
    interpMinMax(pairs.data(), fromCopy.data(), 1250, 100000);
    interpMinMax(inPlace.data(), inPlace.data(), 1250, 100000);
    EXPECT_EQ(inPlace, fromCopy);
}

TEST_F(InterpolationTest, RegressionOnExactLines)
{
    const struct { std::vector<int16_t> x; double slope, intercept; } cases[] = {
        {{0, 1}, 3.0, 7.0},
        {{-5, 0, 5, 10, 15}, -1000.0, 5.0},
        {{-32768, 0, 32767}, 40000.0, -12345.0},
        {{100, 300, 200, 250}, 0.5, 0.0},
    };
    for (const auto& c : cases) {
        std::vector<int32_t> y;
        for (int16_t x : c.x)
            y.push_back(static_cast<int32_t>(std::lround(c.slope * x + c.intercept)));
        double slope = 0, intercept = 0;
        RegressionLineaire(c.x.data(), y.data(), static_cast<int16_t>(c.x.size()), &slope, &intercept);
        EXPECT_NEAR(slope, c.slope, 1e-9 * std::fabs(c.slope) + 1e-12);
        EXPECT_NEAR(intercept, c.intercept, 1e-6 * (std::fabs(c.intercept) + 1));
    }
    // Equal x has no slope: a flat line through the mean, never a division by zero.
    const int16_t x[] = {4, 4, 4};
    const int32_t y[] = {10, 20, 30};
    double slope = 1, intercept = 1;
    RegressionLineaire(x, y, 3, &slope, &intercept);
    EXPECT_EQ(slope, 0.0);
    EXPECT_EQ(intercept, 20.0);
}

}  // namespace
