// The transfer's serial traffic on the simulated board: the pipeline read-back and the relay
// words re-sent after an equivalent-time transfer.
#include "hwtest.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "hardware/chip_acq.h"
#include "hardware/transfer.h"

#include <gtest/gtest.h>

namespace {

uint32_t s_buffer[100000];

class TransferBoardTest : public HardwareTest {
protected:
    void TearDown() override
    {
        TAcquisition::Voie1Normalisee = nullptr;
        HardwareTest::TearDown();
    }
};

TEST_F(TransferBoardTest, EquivalentTimeReadsThePipelineAndResendsTheRelays)
{
    std::fill(std::begin(s_buffer), std::end(s_buffer), 0x80000000u);
    TAcquisition::Voie1Normalisee = s_buffer;
    acq_ctrl ctrl{};
    ctrl.acqMode = 16;
    ctrl.acqFlags = 33;
    ctrl.timeBase = 15;
    ctrl.acqChannels = ctrl.cycleChannels = 1;
    ctrl.triggerSource = 1;
    ctrl.preTrigger = ctrl.postTrigger = 50000;
    ctrl.newSamples = 2500;
    ctrl.span[0] = 262080;
    ctrl.zero[0] = 0x60000;
    pseudoELV = 33825;
    pseudoPretrig = 2500;
    pseudoPostrig = 1250;
    pseudoRC = 0x1C0;
    pseudoRC_bwl[2] = 0x8;
    for (int e = 0; e < 2689; ++e)
        tus_l_signalsBuffer[4 * e] = 2000;

    simboard::clearLog();
    uint32_t held = 0;
    int32_t first = -1;
    TInterpolation interp = 1;
    ASSERT_EQ(acqtrans(&ctrl, &held, &first, &interp), 1);
    EXPECT_EQ(held, 100000u);
    EXPECT_EQ(pseudoRC, 0x180);

    struct Expected {
        int64_t mask, opcode;
    };
    const Expected expected[] = {{3, 0x83},  {2, 0x181}, {2, 0x185}, {2, 0x186}, {3, 0x84},
                                 {1, 0x90},  {2, 0x90},  {4, 0x90},  {8, 0x90}};
    const auto log = serialLog();
    ASSERT_EQ(log.size(), std::size(expected));
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].a, expected[i].mask) << i;
        EXPECT_EQ(log[i].b, expected[i].opcode) << i;
    }
    EXPECT_EQ(log[5].c, 0x180 << 1);
    EXPECT_EQ(log[7].c, (0x180 | 0x8) << 1);
}

}  // namespace
