// Measurement kernels: levels, edges, periods and means of a trace window.
#include "acquisition/measkernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

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

} // namespace
