// Decimation filters: what the 95-tap filters do to impulses, constants and sines, and the cases
// in which they leave a trace alone.
#include "acquisition/TAcquisition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr uint32_t kTop = 0x60000;

struct Trace {
    explicit Trace(int16_t kind, uint32_t fill = 524256u) : words(2600, fill)
    {
        filter.samples = words.data();
        filter.filterKind = kind;
    }
    std::vector<uint32_t> words;
    TNumericFilter filter;
};

TEST(NumericFilter, OffOrTooShortLeavesTheTraceAlone)
{
    Trace off(0, 600000u);
    EXPECT_EQ(off.filter.Filter(2500), 1);
    Trace shortRun(2, 600000u);
    EXPECT_EQ(shortRun.filter.Filter(94), 2);
    for (const Trace* t : {&off, &shortRun})
        for (uint32_t w : t->words)
            ASSERT_EQ(w, 600000u);
}

// For both kinds: points 0..94 emptied; a constant stays (the taps are normalised); an impulse
// gives back the taps, symmetric and summing to 1; a slow sine keeps its amplitude.
TEST(NumericFilter, ConstantImpulseAndPassband)
{
    for (int16_t kind : {2, 1}) {
        SCOPED_TRACE(kind);
        Trace constant(kind);
        ASSERT_EQ(constant.filter.Filter(2500), 1);
        for (uint32_t k = 0; k < 95; ++k)
            ASSERT_EQ(constant.words[k], kEmptySampleWord) << k;
        for (uint32_t k = 95; k < 2500; ++k)
            ASSERT_NEAR(double(constant.words[k]), 524256.0, 1.0) << k;
        EXPECT_EQ(constant.words[2500], 524256u) << "beyond the count: untouched";

        // Impulse of 2^20 above the top at input 200: output 95 + k holds tap (200 - k).
        Trace impulse(kind, kTop);
        impulse.words[200] = kTop + (1u << 19);
        impulse.filter.Filter(2500);
        std::vector<double> taps(95);
        double sum = 0;
        for (int j = 0; j < 95; ++j) {
            taps[j] = (double(impulse.words[95 + 200 - j]) - kTop) / (1u << 19);
            sum += taps[j];
        }
        EXPECT_NEAR(sum, 1.0, 1e-3);
        for (int j = 0; j < 95; ++j)
            EXPECT_NEAR(taps[j], taps[94 - j], 4e-6) << j;
        EXPECT_LT(taps[0], 0.0);
        EXPECT_GT(taps[47], taps[46]);

        // A sine of 2000 samples a period (well inside both pass bands).
        Trace sine(kind);
        for (uint32_t k = 0; k < 2500; ++k)
            sine.words[k] = static_cast<uint32_t>(524256.0 + 50000.0 * std::sin(2 * M_PI * k / 2000.0));
        sine.filter.Filter(2500);
        double lo = 1e9, hi = 0;
        for (uint32_t k = 400; k < 2500; ++k) {
            lo = std::min(lo, double(sine.words[k]));
            hi = std::max(hi, double(sine.words[k]));
        }
        EXPECT_NEAR((hi - lo) / 2, 50000.0, 0.02 * 50000.0);
    }
}

} // namespace
