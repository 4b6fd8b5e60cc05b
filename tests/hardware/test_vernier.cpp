#include "hardware/vernier.h"

#include <gtest/gtest.h>

namespace {

void setLimits(uint16_t mn, uint16_t mx)
{
    TVernier::us_c_vernierMinCh2 = mn;
    TVernier::us_c_vernierMaxCh2 = mx;
}

TEST(VernierTest, ValeurCorrigeeCases)
{
    VernierTablesEnd();  // the limits a power-on leaves
    struct Case {
        uint16_t mn, mx;
        int32_t code;
        int result;
        int32_t out;
        uint16_t mnAfter, mxAfter;
    };
    const Case cases[] = {
        {1000, 3000, 4095, kNoVernier, 0, 1000, 3000},  // missing vernier: nothing touched
        {1000, 3000, 0, kNoVernier, 0, 1000, 3000},
        {1000, 3000, 2000, 0, 10239, 1000, 3000},
        {1000, 3000, 1000, 0, 20479, 1000, 3000},
        {1000, 3000, 3000, 0, 0, 1000, 3000},
        {1000, 3000, 3500, 0, 0, 1000, 3500},           // widened to the code
        {1000, 3000, 500, 0, 20479, 500, 3000},
        {2000, 2000, 2000, kNoVernier, 0, 2000, 2000},  // empty window: no division
        {0, 0, 1234, 0, 0, 0, 1234},                    // uncalibrated: max widened, min 0 stays
    };
    for (const Case& c : cases) {
        setLimits(c.mn, c.mx);
        TVernier v(1);
        int32_t code = c.code;
        EXPECT_EQ(v.ValeurCorrigee(&code), c.result) << c.code << " in " << c.mn << ".." << c.mx;
        EXPECT_EQ(code, c.out) << c.code;
        EXPECT_EQ(TVernier::us_c_vernierMinCh2, c.mnAfter) << c.code;
        EXPECT_EQ(TVernier::us_c_vernierMaxCh2, c.mxAfter) << c.code;
        if (c.code == 0 || c.code == 4095)
            EXPECT_EQ(v.countdown, 128);
        else
            EXPECT_EQ(v.countdown, 127);
    }
    // The other channels' limits are not touched.
    EXPECT_EQ(TVernier::us_c_vernierMinCh1, 0);
    EXPECT_EQ(TVernier::us_c_vernierMaxCh3, 0);
}

TEST(VernierTest, WindowShrinksOnceEvery128Calls)
{
    setLimits(1000, 3000);
    TVernier v(1);
    for (int i = 0; i < 127; ++i) {
        int32_t code = 2000;
        ASSERT_EQ(v.ValeurCorrigee(&code), 0);
    }
    EXPECT_EQ(TVernier::us_c_vernierMinCh2, 1000);
    EXPECT_EQ(TVernier::us_c_vernierMaxCh2, 3000);
    int32_t code = 2000;
    EXPECT_EQ(v.ValeurCorrigee(&code), 0);
    EXPECT_EQ(TVernier::us_c_vernierMinCh2, 1001);
    EXPECT_EQ(TVernier::us_c_vernierMaxCh2, 2999);
    EXPECT_EQ(v.countdown, 128);
    EXPECT_EQ(code, (2999 - 2000) * 20479 / (2999 - 1001));
}

TEST(VernierTest, ShrinkingToAPointGivesNoVernier)
{
    // Window 2000..2001: the shrink step meets in the middle; the code outside widens it again.
    setLimits(2000, 2001);
    TVernier v(1);
    v.countdown = 1;
    int32_t code = 2000;
    EXPECT_EQ(v.ValeurCorrigee(&code), kNoVernier);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(TVernier::us_c_vernierMinCh2, 2000);
    EXPECT_EQ(TVernier::us_c_vernierMaxCh2, 2000);
}

TEST(VernierTest, CalibrationOkAndTables)
{
    struct Case {
        uint16_t mn, mx;
        int ok;
    };
    for (const Case& c : {Case{800, 3300, 0}, Case{0, 3300, -1}, Case{800, 4095, -1}, Case{4095, 4095, -1}}) {
        setLimits(c.mn, c.mx);
        EXPECT_EQ(VernierCh2.IsCalibrationOK(), c.ok) << c.mn << ".." << c.mx;
    }
    EXPECT_EQ(VernierCh1.channelIndex, 0);
    EXPECT_EQ(VernierCh4.channelIndex, 3);
    EXPECT_EQ(VernierCh3.countdown, 128);
    // The 3-entry lists run sup2us, equ2us, inf2us; all data zero until calibrated.
    EXPECT_EQ(MatriceOffsetsListV3[0], MatriceOffsetsV3_sup2us);
    EXPECT_EQ(MatriceOffsetsListV3[1], MatriceOffsetsV3_equ2us);
    EXPECT_EQ(MatriceOffsetsListV3[2], MatriceOffsetsV3_inf2us);
    EXPECT_EQ(matriceOffsetsOf(3, 3), MatriceOffsetsMinMaxV4);
    EXPECT_EQ(&bypassMaxOffsetOf(1), &BypassMaxOffsetV2);
    for (int16_t v : MatriceOffsetsV4_inf2us)
        EXPECT_EQ(v, 0);
    EXPECT_EQ(BypassMinOffsetV1, 0);
}

}  // namespace
