// The range and time-base lookups behind the sample correction and the control record.
#include "core/scale.h"
#include "hardware/frontend_capa.h"
#include "hardware/frontend_meter.h"
#include "hardware/frontend_scope.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CorrectionLookups, CapacitanceRanges)
{
    unsigned short tb = 0, sens = 0;
    double current = 0.0;
    ASSERT_TRUE(CapaRangeToScopeReglages(0, &tb, &sens, &current));
    EXPECT_EQ(tb, 18);
    EXPECT_EQ(sens, 9);
    EXPECT_EQ(current, 2e-6);
    ASSERT_TRUE(CapaRangeToScopeReglages(7, &tb, &sens, &current));
    EXPECT_EQ(tb, 27);
    EXPECT_EQ(sens, 11);
    EXPECT_EQ(current, 5e-4);
    ASSERT_TRUE(CapaRangeToScopeReglages(3, nullptr, nullptr, &current));  // any pointer may be absent
    EXPECT_EQ(current, 5e-5);

    // No row: nothing is written.
    for (int range : {-1, 8, 0x7FFF}) {
        tb = sens = 99;
        current = -1.0;
        EXPECT_FALSE(CapaRangeToScopeReglages(range, &tb, &sens, &current)) << range;
        EXPECT_EQ(tb, 99);
        EXPECT_EQ(sens, 99);
        EXPECT_EQ(current, -1.0);
    }
    EXPECT_EQ(CapaCurrentOfCode(7), 5e-8);
    EXPECT_EQ(CapaCurrentOfCode(15), 0.0);
}

TEST(CorrectionLookups, MeterAndResistanceSensitivities)
{
    const std::vector<std::pair<int, int>> meter = {{-1, -1}, {0, 6}, {1, 9}, {2, 12}, {3, 15}, {4, -1}};
    for (const auto& m : meter)
        EXPECT_EQ(MeterRangeToScopeSensibility(m.first), m.second) << m.first;
    const std::vector<std::pair<int, int>> ohm = {{-1, -1}, {0, 0}, {1, 0}, {2, 7}, {3, 6},
                                                  {4, 15},  {5, 7}, {6, 15}, {7, -1}};
    for (const auto& o : ohm)
        EXPECT_EQ(OhmRangeToScopeSensibility(o.first), o.second) << o.first;
}

TEST(CorrectionLookups, TimeBaseTables)
{
    EXPECT_EQ(GetHorizontalScaleT(0), 1e-13f);
    EXPECT_EQ(GetHorizontalScaleT(15), 1e-8f);
    EXPECT_EQ(GetHorizontalScaleT(34), 2e-2f);
    EXPECT_EQ(GetHorizontalScaleT(35), 1.26e-7f);
    EXPECT_EQ(GetHorizontalScaleT(36), 0.0f);
    EXPECT_EQ(GetRealHorizontalScaleT(6), 4e-10f);
    EXPECT_EQ(GetRealHorizontalScaleT(17), 2e-6f);
    EXPECT_EQ(GetRealHorizontalScaleT(23), 4e-6f);
    EXPECT_EQ(GetRealHorizontalScaleT(24), 1e-5f);
    EXPECT_EQ(GetRealHorizontalScaleT(35), 2.52e-6f);
    EXPECT_EQ(GetRealHorizontalScaleT(0xFFFF), 0.0f);
}

class BwleStateTest : public SimFpgaBoardTest {};

TEST_F(BwleStateTest, ByVariantSlownessAndMinMax)
{
    struct Case {
        int bandwidthLines;  // 0 and 1 both read as the 300 MHz model
        int firstOn;         // lowest sensitivity whose entry is 1
    };
    for (const Case& c : std::vector<Case>{{0, 10}, {1, 10}, {2, 10}, {3, 0}}) {
        simboard::updateScenario([&](simboard::TScenario& s) { s.bandwidthLines = c.bandwidthLines; });
        for (int s = 0; s < 16; ++s) {
            const uint16_t entry = s >= c.firstOn ? 1 : 0;
            EXPECT_EQ(getBwleState(s, false, 0), entry) << c.bandwidthLines << "/" << s;
            EXPECT_EQ(getBwleState(s, true, 1), entry) << c.bandwidthLines << "/" << s;
            EXPECT_EQ(getBwleState(s, true, 0), 1) << c.bandwidthLines << "/" << s;
        }
        EXPECT_EQ(getBwleState(16, false, 0), 0);
        EXPECT_EQ(getBwleState(-1, false, 0), 0);
    }
}

} // namespace
