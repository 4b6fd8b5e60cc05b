// Autoset's pure rules: counter acceptance and period, time base from a period, best channel.
#include "acquisition/autoset.h"

#include <gtest/gtest.h>

namespace {

TEST(AutosetRules, CounterRangesAcceptAndGiveThePeriod)
{
    struct Row {
        int range;
        uint32_t v, l;
        bool accepted;
        double period;
    };
    const Row rows[] = {
        {0, 2, 122, true, 122 * 8.192e-6},
        {0, 1, 122, false, 0},
        {0, 0, 122, false, 0},
        {0, 63, 79, false, 0},
        {0, 63, 80, true, 80 * 8.192e-6},
        {0, 63, 16384, true, 16384 * 8.192e-6},
        {0, 63, 16385, false, 0},
        {1, 5, 195, true, 195 * 5.12e-7},
        {2, 5, 3125, true, 3125 * 3.2e-8},
        {3, 9, 1000, false, 0},
        {3, 10, 1000, true, 0.0335544 / 1000},
        {4, 10, 16385, false, 0},
        {4, 63, 500, true, 0.002097152 / 500},
        {5, 63, 80, true, 1.31072e-4 / 80},
        {6, 10, 100000, true, 6.5536e-5 / 100000},
        {6, 10, 79, false, 0},
        {6, 9, 1000, false, 0},
        {7, 63, 1000, false, 0},
        {-1, 63, 1000, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "range " << row.range << " v " << row.v << " l " << row.l);
        double period = -1.0;
        EXPECT_EQ(AutosetCounterAccepts(row.range, row.v, row.l, &period), row.accepted);
        if (row.accepted)
            EXPECT_DOUBLE_EQ(period, row.period);
        else
            EXPECT_EQ(period, -1.0);
    }
}

TEST(AutosetRules, TimeBaseIsTheCountOfIdealPeriodsBelow)
{
    struct Row {
        double period;
        uint16_t timeBase;
        float watch;
    };
    const Row rows[] = {
        {0.001, 17, 1.667e-3f},
        // An entry equal to the period (as a double) is not below it.
        {static_cast<double>(6.667e-4f), 16, 6.667e-4f},
        {static_cast<double>(6.667e-4f) * 1.0000001, 17, 1.667e-3f},
        {1e-12, 0, 3.333e-9f},
        {0.1667, 23, 0.1667f},
        {0.5, 24, 0.1667f},
        {2.5e-4, 15, 3.333e-4f},
        {1e-4, 14, 1.667e-4f},
        {0.02, 21, 0.03333f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.period);
        TAutosetParams p;
        AutosetTimeBaseOf(row.period, &p);
        EXPECT_EQ(p.timeBase, row.timeBase);
        EXPECT_EQ(p.watchTime, row.watch);
    }
    EXPECT_EQ(autosetFftTimeBase(17), 21);
}

TEST(AutosetRules, BestChannelHasTheLargestTimeBaseTheLaterOnATie)
{
    struct Row {
        const char* what;
        int found[4];
        uint16_t timeBase[4];
        int best;
    };
    const Row rows[] = {
        {"none", {0, 0, 0, 0}, {17, 17, 17, 17}, -1},
        {"one", {0, 0, 1, 0}, {0, 0, 9, 23}, 2},
        {"tie", {1, 1, 1, 0}, {17, 17, 14, 23}, 1},
        {"largest first", {1, 1, 0, 1}, {21, 17, 0, 14}, 0},
        {"not found ignored", {1, 0, 0, 1}, {12, 23, 23, 12}, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TAutosetParams p[4];
        for (int ch = 0; ch < 4; ++ch) {
            p[ch].found = static_cast<uint8_t>(row.found[ch]);
            p[ch].timeBase = row.timeBase[ch];
        }
        EXPECT_EQ(AutosetBestChannel(p), row.best);
    }
}

} // namespace
