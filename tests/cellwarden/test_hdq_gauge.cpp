// The bus over the simulated gauge's pseudo-terminal, in process.
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "cellwarden/hdq.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

class HdqGaugeTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        setDeviceIO(&passThroughDeviceIO());
    }
    void TearDown() override
    {
        HDQ::Close();
        gauge_.stop();
        setDeviceIO(nullptr);
        SimBoardTest::TearDown();
    }
    void start(const simboard::TBattery& b)
    {
        gauge_.configure(b);
        std::string error;
        ASSERT_TRUE(gauge_.start(&error)) << error;
        HDQ::Initialize("/dev/ttymxc2");
        ASSERT_GE(HDQ::i_i_fd, 0);
    }
    simboard::TSimGauge gauge_;
};

simboard::TBattery battery(const char* gauge)
{
    simboard::TBattery b;
    b.gauge = gauge;
    b.percent = 87;
    b.voltage_mV = 10000;
    b.current_mA = -300;
    return b;
}

} // namespace

TEST_F(HdqGaugeTest, Bq34z100Registers)
{
    start(battery("bq34z100"));
    HDQ::WriteWordRegister(0, 1);
    EXPECT_EQ(0x0100, HDQ::ReadWordRegister(0));
    EXPECT_TRUE(HDQ::LastReadComplete());
    EXPECT_EQ(87, HDQ::ReadRegister(0x02));
    EXPECT_EQ(10000, HDQ::ReadWordRegister(0x08));
    EXPECT_EQ(static_cast<uint16_t>(-300), HDQ::ReadWordRegister(0x10));
    EXPECT_EQ(2982, HDQ::ReadWordRegister(0x0C));
    EXPECT_TRUE(HDQ::LastReadComplete());
}
