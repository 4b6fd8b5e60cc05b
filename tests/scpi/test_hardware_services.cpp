// What the remote interfaces rely on of the hardware layer, checked on the simulated FPGA board:
// board identity, the logic device's registers, the serial front-end interface, the scaling
// shadows and their lock, the Gray code helpers and the calibration steps.
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibsteps.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"
#include "hardware/frequencemeter.h"
#include "hardware/scaling.h"
#include "hardware/transfer.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "tests/scpi/scpi_unit_reader.h"
#include "tests/hardware/hwtest.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdint>
#include <functional>
#include <type_traits>

namespace {

// The simulated FPGA board with the register window mapped as the driver maps it.
class HardwareServices : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        us_g_swBandwidth = 0;
    }

    void TearDown() override
    {
        us_g_swBandwidth = 0;
        HardwareTest::TearDown();
    }

    static void scenario(const std::function<void(simboard::TScenario&)>& change)
    {
        simboard::setScenario(simboard::defaultScenario());
        simboard::updateScenario(change);
    }
};

TEST_F(HardwareServices, BoardIdentityAndTheBandwidthVariant)
{
    scenario([](simboard::TScenario& s) { s.model = 4; });
    EXPECT_EQ(EtatLogique(ETAT_TWO_CHANNEL_MODEL), 0);
    scenario([](simboard::TScenario& s) { s.model = 2; });
    EXPECT_NE(EtatLogique(ETAT_TWO_CHANNEL_MODEL), 0);

    struct Case {
        int lines;
        uint16_t override;
        int expected;
    };
    for (const Case& c : {Case{0, 0, 1}, Case{1, 0, 1}, Case{2, 0, 2}, Case{3, 0, 3}, Case{3, 2, 2}, Case{0, 3, 3}}) {
        scenario([&c](simboard::TScenario& s) { s.bandwidthLines = c.lines; });
        us_g_swBandwidth = c.override;
        EXPECT_EQ(EtatLogique(ETAT_BANDWIDTH_VARIANT), c.expected) << c.lines << " " << c.override;
    }
}

// PASSFAIL:SOURCE asks the board for its model: channels 2 and 3 do not exist on two channels.
TEST_F(HardwareServices, PassFailSourceFollowsTheModel)
{
    data.instrumentMode = 16;
    data.passFailOn = 1;
    struct Case {
        int model;
        const char* line;
        int error;
    };
    for (const Case& c : {Case{2, "PASSFAIL:SOURCE INT2", kErrSettingsConflict},
                          Case{2, "PASSFAIL:SOURCE INTERNAL3", kErrSettingsConflict},
                          Case{2, "PASSFAIL:SOURCE INT4", 0}, Case{4, "PASSFAIL:SOURCE INT2", 0},
                          Case{4, "PASSFAIL:SOURCE INT3", 0}}) {
        scenario([&c](simboard::TScenario& s) { s.model = c.model; });
        TScpiMemorySession session;
        session.send(std::string(c.line) + "\n");
        TUnitReader reader;
        const TUnitResult r = reader.readUnit();
        EXPECT_EQ(r.error ? r.error : r.handlerResult, c.error) << c.line << " model " << c.model;
        EXPECT_EQ(reader.requestCount, c.error == 0 ? 1 : 0) << c.line;
    }
}

TEST_F(HardwareServices, RegistersOfTheLogicDevice)
{
    ASSERT_NE(pv_g_fpgaIoMem.load(), nullptr);
    EXPECT_EQ(TFpga::setEimRegister(20, 0x1234), 0);
    EXPECT_EQ(simboard::eimWord(20), 0x1234);
    EXPECT_EQ(TFpga::getEimRegister(20), 0x1234u);
    EXPECT_EQ(TFpga::getSpiRegister(99), simboard::defaultScenario().fpgaVersion);
    EXPECT_EQ(TFpga::setSpiRegister(7, 0x00ABCDEFu), 0);
    EXPECT_EQ(simboard::spiRegister(7), 0x00ABCDEFu);
    EXPECT_EQ(TFpga::getSpiRegister(7), 0x00ABCDEFu);
}

TEST_F(HardwareServices, SerialFrontEndInterfaceAndScaling)
{
    // Words 48-52: data, command, status, read-back; one whole access per call.
    const size_t before = simboard::serialCommands().size();
    ASSERT_TRUE(feSerialAccess(0x0055, feCommandWord(FE_CHANNEL_2, 0x092)));
    const auto commands = simboard::serialCommands();
    ASSERT_EQ(commands.size(), before + 1);
    EXPECT_EQ(commands.back().mask, FE_CHANNEL_2);
    EXPECT_EQ(commands.back().opcode, 0x092);
    EXPECT_EQ(commands.back().data, 0x0055);
    EXPECT_FALSE(commands.back().dropped);

    static_assert(std::extent<decltype(tus_g_scalingPseudoReg), 0>::value == 4, "4 channels");
    static_assert(std::extent<decltype(tus_g_scalingPseudoReg), 1>::value == 17, "17 packed registers");
    static_assert(std::extent<decltype(to_g_scalingParams), 1>::value == 72, "72 parameters");
    static_assert(sizeof tul_g_sortedSignal == 100004 * sizeof(uint32_t), "the sorted transfer words");

    // Flags 7 resend the channel's packed shadow as it stands, between the relay words; the
    // read-back (parameter 0, flags 3) gives the same registers.
    ASSERT_EQ(ScalingInit(), 0);
    ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, to_g_scalingParams[1]);
    ASSERT_EQ(ScalingWrite(1, to_g_scalingParams[1], 0, 3), 0);
    const size_t sent = simboard::serialCommands().size();
    ASSERT_EQ(ScalingWrite(1, nullptr, 0, 7), 0);
    const auto resent = simboard::serialCommands();
    size_t toChannel2 = 0;
    for (size_t i = sent; i < resent.size(); ++i)
        toChannel2 += resent[i].mask == FE_CHANNEL_2 ? 1 : 0;
    EXPECT_GE(toChannel2, 17u);
    uint16_t registers[17] = {};
    ASSERT_EQ(ScalingRead(1, registers, 0, 3), 0);
    for (int r = 0; r < 17; ++r)
        EXPECT_EQ(registers[r], tus_g_scalingPseudoReg[1][r]) << r;
    // The callers' lock is free again afterwards.
    ASSERT_EQ(pthread_mutex_trylock(&exclusionScalingIO), 0);
    pthread_mutex_unlock(&exclusionScalingIO);
}

TEST_F(HardwareServices, GrayCodeAndCalibrationSteps)
{
    EXPECT_EQ(BinToGray(2), 3u);
    for (uint32_t n : {0u, 1u, 2u, 0x7FFFu, 0x80000000u, 0xFFFFFFFFu, 123456789u}) {
        EXPECT_EQ(BinToGray(n), n ^ (n >> 1)) << n;
        EXPECT_EQ(GrayToBin(BinToGray(n)), n) << n;
    }
    // The steps the acquisition runs for calRange 3, 4, 5, 6, 7 and 13: one entry point each.
    using Step = int32_t (*)(int32_t, calibration*);
    const Step steps[] = {&CalibOffsetOscillo, &CompensationLevelTrig, &CompensationRef2VP,
                          &CompensationRef2VN, &CompensationMesure,    &CompensationCourantIgamme};
    for (Step s : steps)
        EXPECT_NE(s, nullptr);
}

} // namespace
