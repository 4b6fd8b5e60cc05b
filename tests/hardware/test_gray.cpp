// Gray code of the FPGA's counters.
#include "hardware/frequencemeter.h"

#include <gtest/gtest.h>

#include <random>

TEST(GrayCode, KnownValues)
{
    struct Row {
        uint32_t binary, gray;
    };
    const Row rows[] = {
        {0, 0}, {1, 1}, {2, 3}, {3, 2}, {14993, 10201}, {937, 637}, {8752, 13096}, {1249, 1681},
        {0x80000000u, 0xC0000000u}, {0xFFFFFFFFu, 0x80000000u},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(BinToGray(row.binary), row.gray) << row.binary;
        EXPECT_EQ(GrayToBin(row.gray), row.binary) << row.gray;
    }
}

TEST(GrayCode, RoundTripAndSingleBitSteps)
{
    std::mt19937 random(12345);
    for (int i = 0; i < 10000; ++i) {
        const uint32_t n = random();
        EXPECT_EQ(GrayToBin(BinToGray(n)), n);
        EXPECT_EQ(BinToGray(GrayToBin(n)), n);
        // Neighbours differ in exactly one bit: what makes a counter safe to read while it runs.
        EXPECT_EQ(__builtin_popcount(BinToGray(n) ^ BinToGray(n + 1)), 1);
    }
}
