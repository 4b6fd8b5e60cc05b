// The bus measurement kernel (levels, thresholds, edges, window, invalid words, 32-bit indices,
// re-entrance) and the search functions.
#include "busanalysis/busmeaskernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLow = 450000;
constexpr uint32_t kHigh = 600000;

// Low outside [rise, fall), high inside, with linear ramps of the given length.
std::vector<uint32_t> pulse(int32_t rise, int32_t fall, int32_t ramp = 0, uint32_t low = kLow, uint32_t high = kHigh)
{
    std::vector<uint32_t> s(100000);
    for (int32_t i = 0; i < 100000; ++i) {
        double v = 0;
        if (i >= rise && i < fall)
            v = ramp ? std::min(1.0, double(i - rise) / ramp) : 1.0;
        else if (i >= fall)
            v = ramp ? std::max(0.0, 1.0 - double(i - fall) / ramp) : 0.0;
        s[i] = low + static_cast<uint32_t>(v * (high - low));
    }
    return s;
}

std::vector<uint32_t> square(int32_t period, int32_t phase = 0)
{
    std::vector<uint32_t> s(100000);
    for (int32_t i = 0; i < 100000; ++i)
        s[i] = ((i + phase) / (period / 2)) % 2 ? kHigh : kLow;
    return s;
}

} // namespace

TEST(BusKernelTest, SquareWaveLevelsAndEdges)
{
    std::vector<uint32_t> s = square(10000);  // low 0..4999, high 5000..9999, ...
    TBusAutoMeas m;
    ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 0), 0);
    EXPECT_EQ(m.flags & 0xF, 0xF);
    EXPECT_EQ(m.flags & 0x70, 0x70);
    EXPECT_EQ(m.flags & 0x380, 0x380);
    EXPECT_EQ(m.topLevel, kHigh);
    EXPECT_EQ(m.baseLevel, kLow);
    EXPECT_EQ(m.midLevel, 525000u);
    EXPECT_EQ(m.rise10, 5000u);
    EXPECT_EQ(m.rise50, 5000u);
    EXPECT_EQ(m.rise95, 5000u);
    EXPECT_EQ(m.fall90, 10000u);
    EXPECT_EQ(m.fall50, 10000u);
    EXPECT_GT(m.periodCount, 0);

    // Ramps of 1000 samples place the crossings at the thresholds: p10 465000, p50 525000,
    // p90 585000.
    s = pulse(20000, 60000, 1000);
    ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 0), 0);
    struct Crossing {
        uint32_t index;
        uint32_t expected;
    } crossings[] = {{m.rise5, 20050},  {m.rise10, 20100}, {m.rise45, 20450}, {m.rise50, 20500},
                     {m.rise55, 20550}, {m.rise90, 20900}, {m.rise95, 20950}, {m.fall95, 60050},
                     {m.fall90, 60100}, {m.fall50, 60500}, {m.fall10, 60900}, {m.fall5, 60950}};
    for (const Crossing& c : crossings)
        EXPECT_NEAR(double(c.index), double(c.expected), 2.0) << c.expected;
    EXPECT_EQ(m.afterFallLevel, kLow);  // 5000 samples after the falling 45 % crossing
}

TEST(BusKernelTest, Failures)
{
    struct Case {
        const char* what;
        std::vector<uint32_t> samples;
        int32_t codingType;
        int32_t flags;  // expected flags after the failure
    } cases[] = {
        {"extremes within four bins", pulse(20000, 60000, 0, 500000, 503000), 0, 0x3},
        {"clipped at the range end", pulse(20000, 60000, 0, 300000, 600000), 0, 0x1},
        {"two levels for coding 7", square(10000), 7, 0x3},
        {"no valid sample", std::vector<uint32_t>(100000, 0x80000000u | kHigh), 0, 0},
    };
    for (const Case& c : cases) {
        TBusAutoMeas m;
        EXPECT_EQ(MeasPixT_bus(c.samples.data(), &m, 2000, 98000, c.codingType), -2) << c.what;
        EXPECT_EQ(m.flags, c.flags) << c.what;
    }
}

// A wire whose swing is less than half a division (CAN-H's 1 V at 2 V/div, most of the record
// at the top level) still has its levels; only the edges need half a division.
TEST(BusKernelTest, SmallSwingHasLevelsAndEdgesFromHalfADivision)
{
    struct Case {
        uint32_t swing;
        int32_t edgeFlags;
    } cases[] = {{15000, 0}, {16379, 0}, {16380, 0x3F0}};
    for (const Case& c : cases) {
        const std::vector<uint32_t> s = pulse(3000, 96000, 0, 550000, 550000 + c.swing);
        TBusAutoMeas m;
        ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 0), 0) << c.swing;
        EXPECT_EQ(m.flags & 0xF, 0xF) << c.swing;
        EXPECT_EQ(m.topLevel, 550000 + c.swing) << c.swing;
        EXPECT_EQ(m.baseLevel, 550000u) << c.swing;
        EXPECT_EQ(m.flags & 0x3F0, c.edgeFlags) << c.swing;
    }
}

// The edges of a record whose valid samples stand 40, 41 or 65 apart at any parity (an
// equivalent-time record before its gaps are filled) are found at the first valid sample past
// the step, and a ramp's 10-90 % within one spacing.
TEST(BusKernelTest, SparseRecordsAtAnySpacingAndParity)
{
    const std::vector<std::vector<int32_t>> patterns = {{40}, {41}, {40, 41, 65}};
    for (const std::vector<int32_t>& pattern : patterns) {
        for (int32_t offset : {0, 1, 17}) {
            std::vector<int32_t> valid;
            for (int32_t i = offset, k = 0; i < 100000; i += pattern[k++ % pattern.size()])
                valid.push_back(i);
            auto firstFrom = [&](int32_t at) { return *std::lower_bound(valid.begin(), valid.end(), at); };
            auto sparse = [&](const std::vector<uint32_t>& dense) {
                std::vector<uint32_t> s(100000, 0x80000000u);
                for (int32_t i : valid)
                    s[i] = dense[i];
                return s;
            };
            const std::string what = std::to_string(pattern.size()) + " " + std::to_string(offset);
            TBusAutoMeas m;
            std::vector<uint32_t> s = sparse(pulse(20000, 60000));
            ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 0), 0) << what;
            ASSERT_EQ(m.flags & 0x3F0, 0x3F0) << what;
            for (uint32_t index : {m.rise5, m.rise10, m.rise50, m.rise90, m.rise95})
                EXPECT_EQ(index, uint32_t(firstFrom(20000))) << what;
            for (uint32_t index : {m.fall95, m.fall90, m.fall50, m.fall10, m.fall5})
                EXPECT_EQ(index, uint32_t(firstFrom(60000))) << what;

            s = sparse(pulse(20000, 60000, 2000));  // 10-90 %: 1600 samples
            ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 0), 0) << what;
            ASSERT_EQ(m.flags & 0x3F0, 0x3F0) << what;
            EXPECT_NEAR(double(m.rise90) - m.rise10, 1600.0, 65) << what;
            EXPECT_NEAR(double(m.fall10) - m.fall90, 1600.0, 65) << what;
        }
    }
}

TEST(BusKernelTest, ThreeLevelCode)
{
    std::vector<uint32_t> s(100000);
    for (int32_t i = 0; i < 100000; ++i) {
        const int phase = (i / 3000) % 4;  // high, null, low, null
        s[i] = phase == 0 ? kHigh : phase == 2 ? kLow : 525000;
    }
    TBusAutoMeas m;
    ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 7), 0);
    EXPECT_EQ(m.midLevel, 525000u);
    EXPECT_EQ(m.topLevel, kHigh);
    EXPECT_EQ(m.baseLevel, kLow);
}

TEST(BusKernelTest, WindowAndInvalidWords)
{
    std::vector<uint32_t> s = square(10000);
    TBusAutoMeas whole;
    ASSERT_EQ(MeasPixT_bus(s.data(), &whole, 0, 100000, 0), 0);
    struct Window {
        int32_t first;
        int32_t last;
    } windows[] = {{100000, 0}, {-5000, 100000}, {0, 250000}, {250000, -1}};
    for (const Window& w : windows) {
        TBusAutoMeas m;
        ASSERT_EQ(MeasPixT_bus(s.data(), &m, w.first, w.last, 0), 0);
        EXPECT_EQ(std::memcmp(&m, &whole, sizeof m), 0) << w.first << " " << w.last;
    }

    // Words with bit 30 or 31 set are skipped whatever their code bits say.
    for (int32_t i = 3000; i < 100000; i += 7)
        s[i] = (i % 2 ? 0x80000000u : 0x40000000u) | (i % 3 ? 0xFFFFFu : 0u);
    TBusAutoMeas m;
    ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 0), 0);
    EXPECT_EQ(m.maxCode, kHigh);
    EXPECT_EQ(m.minCode, kLow);
}

TEST(BusKernelTest, LateEdgesKeepTheirFullIndices)
{
    std::vector<uint32_t> s = pulse(72000, 80000);
    TBusAutoMeas m;
    ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 98000, 0), 0);
    EXPECT_EQ(m.rise5, 72000u);
    EXPECT_EQ(m.rise95, 72000u);
    EXPECT_EQ(m.fall45, 80000u);
    EXPECT_EQ(m.fall5, 80000u);
    EXPECT_EQ(m.afterFallLevel, kLow);

    // A fall so late that 5000 samples after it lie beyond the record: no level.
    s = pulse(20000, 96000);
    ASSERT_EQ(MeasPixT_bus(s.data(), &m, 2000, 100000, 0), 0);
    EXPECT_EQ(m.fall45, 96000u);
    EXPECT_EQ(m.afterFallLevel, 0u);
}

TEST(BusKernelTest, ThreadsGiveIdenticalRecords)
{
    const std::vector<uint32_t> s = pulse(20000, 60000, 1000);
    TBusAutoMeas reference;
    ASSERT_EQ(MeasPixT_bus(s.data(), &reference, 2000, 98000, 0), 0);
    std::vector<TBusAutoMeas> results(4);
    std::vector<std::thread> threads;
    for (TBusAutoMeas& r : results)
        threads.emplace_back([&s, &r] {
            for (int k = 0; k < 50; ++k)
                MeasPixT_bus(s.data(), &r, 2000, 98000, 0);
        });
    for (std::thread& t : threads)
        t.join();
    for (const TBusAutoMeas& r : results)
        EXPECT_EQ(std::memcmp(&r, &reference, sizeof r), 0);
}

TEST(BusSearchTest, IntervalsAndFill)
{
    uint32_t p[] = {5, 9, 1, 7, 3};
    struct Case {
        int32_t from;
        int32_t to;
        uint32_t max;
        uint32_t min;
        uint32_t maxInclusive;
        uint32_t minInclusive;
    } cases[] = {{0, 5, 9, 1, 9, 1}, {2, 4, 7, 1, 7, 1}, {3, 3, 7, 7, 7, 7}, {3, 4, 7, 7, 7, 3}, {1, 0, 9, 9, 9, 9}};
    for (const Case& c : cases) {
        EXPECT_EQ(Maximum_sur_intervalle_int(p, c.from, c.to), c.max) << c.from << ".." << c.to;
        EXPECT_EQ(Minimum_sur_intervalle_int(p, c.from, c.to), c.min) << c.from << ".." << c.to;
        if (c.to < 5) {
            EXPECT_EQ(Maximum_sur_intervalle_signal_t(p, c.from, c.to), c.maxInclusive);
            EXPECT_EQ(Minimum_sur_intervalle_signal_t(p, c.from, c.to), c.minInclusive);
        }
    }
    remplissage_tableau(p, 1, 3, 4);
    EXPECT_EQ(std::vector<uint32_t>(p, p + 5), (std::vector<uint32_t>{5, 4, 4, 7, 3}));
    remplissage_tableau(p, 3, 3, 0);
    EXPECT_EQ(p[3], 7u);
}

TEST(BusSearchTest, Edges)
{
    const int32_t a[] = {1, 1, -1};
    const int32_t flat[] = {1, 1, 1, 1};
    const int32_t b[] = {0, 1, 1, 0, 0, -1};
    struct Case {
        const int32_t* p;
        int32_t from;
        int32_t end;
        int32_t result;
    } cases[] = {{a, 0, 3, 2}, {flat, 0, 4, -1}, {b, 0, 6, 1}, {b, 1, 6, 3}, {b, 3, 6, 5}, {b, 3, 5, -1}, {b, 5, 6, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(findEdge(c.p, c.from, c.end), c.result) << c.from << ".." << c.end;
}

TEST(BusSearchTest, ElementsAndSets)
{
    const uint32_t p[] = {4, 8, 2, 8, 6};
    struct Case {
        int32_t condition;
        uint32_t value;
        int32_t up;
        int32_t down;
        int32_t count;
    } cases[] = {
        {kBusLess, 5, 0, 2, 2},     {kBusGreater, 5, 1, 4, 3},  {kBusAtMost, 4, 0, 2, 2}, {kBusAtLeast, 8, 1, 3, 2},
        {kBusEqual, 8, 1, 3, 2},    {kBusNotEqual, 8, 0, 4, 3}, {kBusEqual, 7, -1, -1, 0}, {0, 1, -1, -1, -1},
        {7, 1, -1, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.condition);
        EXPECT_EQ(findElement(p, 5, c.condition, c.value, 1), c.up);
        EXPECT_EQ(findElement(p, 5, c.condition, c.value, 2), c.down);
        EXPECT_EQ(findElement(p, 5, c.condition, c.value, 3), -1);
        EXPECT_EQ(findNbOccurence(p, 5, c.condition, c.value), c.count);
        int32_t out[5] = {-9, -9, -9, -9, -9};
        int32_t count = -9;
        EXPECT_EQ(findEnsemble(p, 5, out, 5, c.value, &count, c.condition), c.count >= 0 ? 1 : 0);
        if (c.count >= 0) {
            EXPECT_EQ(count, c.count);
            EXPECT_EQ(findrr_entier(out, 5, p, 5, c.condition, c.value), c.count);
            if (c.count > 0) {
                EXPECT_EQ(out[0], c.up);
            }
        } else {
            EXPECT_EQ(count, -9);
        }
        int32_t index = -9;
        EXPECT_EQ(find_entier2(p, 5, c.condition, c.value, &index, &count, 2), c.down >= 0 ? 1 : 0);
        if (c.down >= 0) {
            EXPECT_EQ(index, c.down);
        }
        EXPECT_EQ(find_entier2(p, 5, c.condition, c.value, out, &count, 0), c.count > 0 ? 1 : 0);
    }
    EXPECT_EQ(findNbOccurence(p, 0, kBusEqual, 8), 0);
    EXPECT_EQ(findNbOccurence(nullptr, 5, kBusEqual, 8), -1);
    EXPECT_EQ(findElement(nullptr, 5, kBusEqual, 8, 1), -1);
    int32_t out[2];
    int32_t count = 0;
    EXPECT_EQ(findrr_entier(out, 1, p, 5, kBusEqual, 8), 1);  // at most outMax
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(findrr_entier(nullptr, 1, p, 5, kBusEqual, 8), -1);
    EXPECT_EQ(findEnsemble(nullptr, 5, out, 2, 8, &count, kBusEqual), 0);
    EXPECT_EQ(find_entier2(p, 5, kBusEqual, 8, out, &count, 3), 0);
}
