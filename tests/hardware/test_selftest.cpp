// The first half of the self test on the simulated board: the pipeline devices' pattern and
// reset sequence, the scaling path through the overscan detector, the installed channels.
#include "tests/hardware/hwtest.h"

#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/selftest.h"

#include <utility>

namespace {

class SelfTestTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        CmdeLogique(CMDE_CHANNEL_POWER, 0xF);
        simboard::setInputsConnected(false);
    }

    // (data word, opcode) of the pipeline commands sent to one channel's device.
    static std::vector<std::pair<int, int>> pipelineCommands(uint16_t mask)
    {
        std::vector<std::pair<int, int>> out;
        for (const simboard::TSerialCommand& c : simboard::serialCommands()) {
            const bool pipeline = (c.opcode >= 0x82 && c.opcode <= 0x87) || c.opcode == 0x185 || c.opcode == 0x186
                                  || c.opcode == 0xAC || c.opcode == 0xAD;
            if (c.mask == mask && pipeline)
                out.emplace_back(c.data, c.opcode);
        }
        return out;
    }
};

TEST_F(SelfTestTest, PipelinePatternWithTheResetPairBetweenAttempts)
{
    const std::vector<std::pair<int, int>> attempt{{0, 0x87},  {84, 0x82},  {21844, 0x82},
                                                   {0, 0x83},  {0, 0x185},  {0, 0x186}};
    const std::vector<std::pair<int, int>> reset{{0, 0xAD}, {0, 0xAC}};
    auto twice = attempt;
    twice.insert(twice.end(), reset.begin(), reset.end());
    twice.insert(twice.end(), attempt.begin(), attempt.end());
    auto failed = twice;
    failed.insert(failed.end(), reset.begin(), reset.end());
    struct Row {
        const char* what;
        std::function<void()> fault;
        uint16_t result;
        std::vector<std::pair<int, int>> commands;
    };
    const Row rows[] = {
        {"healthy", [] {}, 1, attempt},
        {"answering only after the reset pair", [] { simboard::setElvReadBackLate(0, true); }, 1, twice},
        {"dead", [] { simboard::setPipelineDead(0, true); }, 0, failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        simboard::clearFaults();
        row.fault();
        simboard::clearHistories();
        EXPECT_EQ(AutoTestPipeline(0, nullptr), row.result);
        EXPECT_EQ(pipelineCommands(1), row.commands);
    }
    // The late fault of one channel leaves the others answering at once.
    simboard::clearFaults();
    simboard::setElvReadBackLate(0, true);
    simboard::clearHistories();
    EXPECT_EQ(AutoTestPipeline(2, nullptr), 4);
    EXPECT_EQ(pipelineCommands(4), attempt);
}

TEST_F(SelfTestTest, ScalingPathTripsTheDetectorUnlessTheOffsetDacIsStuck)
{
    ConfigurationScope(nullptr);
    for (unsigned short ch = 0; ch < 4; ++ch)
        EXPECT_EQ(AutoTestScaling(ch, nullptr), 16 << ch) << ch;
    EXPECT_EQ(to_g_scalingParams[2][18], 1023) << "kept until the next front-end initialisation";

    simboard::setOffsetDacStuck(2, true);
    EXPECT_EQ(AutoTestScaling(2, nullptr), 0);
    EXPECT_EQ(AutoTestScaling(1, nullptr), 32);
}

TEST_F(SelfTestTest, ChannelsTwoAndThreeOnlyWhenInstalled)
{
    struct Row {
        uint16_t mask;
        std::function<void()> fault;
        uint16_t word;
        std::vector<uint16_t> tested;  // device masks that received the pattern
    };
    const Row rows[] = {
        {15, [] {}, 0xFF, {1, 2, 4, 8}},
        {9, [] {}, 0xFF, {1, 8}},
        {9, [] { simboard::setPipelineDead(1, true); }, 0xFF, {1, 8}},
        {15, [] { simboard::setPipelineDead(1, true); }, 0xFD, {1, 2, 2, 4, 8}},  // two attempts
        {15, [] { simboard::setOffsetDacStuck(2, true); }, 0xBF, {1, 2, 4, 8}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.word);
        simboard::clearFaults();
        row.fault();
        data.hwChannelMask = row.mask;
        simboard::clearHistories();
        EXPECT_EQ(AutoTest(nullptr), row.word);
        std::vector<uint16_t> tested;
        for (const simboard::TSerialCommand& c : simboard::serialCommands())
            if (c.opcode == 0x87)
                tested.push_back(c.mask);
        EXPECT_EQ(tested, row.tested);
        // Lit where a channel's pipeline or scaling bit is clear.
        EXPECT_EQ(simboard::reg20().selfTestLamps, ~(row.word & (row.word >> 4)) & 0xF);
    }
}

} // namespace
