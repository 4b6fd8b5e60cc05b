// The bus over the simulated gauge's pseudo-terminal, in process.
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "cellwarden/hdq.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

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

TEST_F(HdqGaugeTest, FaultsAreCaughtOrReported)
{
    const struct {
        const char* name;
        simboard::TGaugeFaults faults;
        uint16_t word;  // 0: no expectation
        bool complete;
    } cases[] = {
        {"high byte changes once", [] { simboard::TGaugeFaults f; f.unstableHighReads = 1; return f; }(), 10000, true},
        {"high byte never settles", [] { simboard::TGaugeFaults f; f.unstableHighReads = 1000; return f; }(), 0, false},
        {"answer characters dropped", [] { simboard::TGaugeFaults f; f.droppedAnswerChars = 3; return f; }(), 0, false},
        {"late answer", [] { simboard::TGaugeFaults f; f.answerDelayMs = 20; return f; }(), 10000, true},
        {"flipped bits", [] { simboard::TGaugeFaults f; f.flippedAnswerBits = 0x01; return f; }(), 10000 ^ 0x0101, true},
        {"silent", [] { simboard::TGaugeFaults f; f.silent = true; return f; }(), 0, false},
    };
    start(battery("bq34z100"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gauge_.setFaults(c.faults);
        const uint16_t word = HDQ::ReadWordRegister(0x08);
        EXPECT_EQ(c.complete, HDQ::LastReadComplete());
        if (c.word) {
            EXPECT_EQ(c.word, word);
        }
        gauge_.resetFaults();
        EXPECT_EQ(10000, HDQ::ReadWordRegister(0x08));
    }
}

TEST_F(HdqGaugeTest, Bq2018RamAndCounterClear)
{
    start(battery("bq2018"));
    HDQ::WriteWordRegister(0, 1);
    EXPECT_EQ(0x0001, HDQ::ReadWordRegister(0));
    HDQ::WriteRegister(0x02 + 5, 0xA7);
    EXPECT_EQ(0xA7, HDQ::ReadRegister(0x02 + 5));
    EXPECT_EQ(0xA7, gauge_.ram()[5]);
    gauge_.setCounter(0x7A, 500);
    gauge_.setCounter(0x7E, 600);
    EXPECT_EQ(600, HDQ::ReadWordRegister(0x7E));
    EXPECT_EQ(2 << 5, HDQ::ReadRegister(0x74));
    HDQ::WriteRegister(0x74, 27);  // all but the self-discharge count
    EXPECT_EQ(0, HDQ::ReadWordRegister(0x7E));
    EXPECT_EQ(500, HDQ::ReadWordRegister(0x7A));
}

TEST(HdqNoDevice, ReadsZeroAtOnce)
{
    HDQ::Initialize("/dev/no-such-serial-port");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(0, HDQ::ReadWordRegister(0x08));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
}

TEST_F(HdqGaugeTest, RatesPerSimulatedMinuteFollowTheLines)
{
    simboard::TBattery b = battery("bq34z100");
    b.dischargingRates.percent = -6;
    b.dischargingRates.dischargeCount = 600;
    b.chargingRates.percent = 6;
    b.chargingRates.chargeCount = 600;
    gauge_.configure(b);
    gauge_.setSpeedFactor(60);  // a simulated minute each second
    std::string error;
    ASSERT_TRUE(gauge_.start(&error)) << error;
    auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i)
            std::this_thread::sleep_for(10ms);
        return done();
    };
    const uint8_t kChargeCount = 0x7C, kDischargeCount = 0x7E;

    // No wall power: discharging.
    ASSERT_TRUE(simboard::setWallPower(false));
    ASSERT_TRUE(waitFor([&] { return gauge_.stateOfCharge() <= 85 && gauge_.counter(kDischargeCount) >= 100; }));
    EXPECT_EQ(0, gauge_.counter(kChargeCount));

    // Wall power with the charger off: the pack rests.
    ASSERT_TRUE(simboard::writeSharedLineFile(127, 0));
    ASSERT_TRUE(simboard::setWallPower(true));
    std::this_thread::sleep_for(200ms);
    const int resting = gauge_.stateOfCharge();
    const uint16_t discharged = gauge_.counter(kDischargeCount);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(resting, gauge_.stateOfCharge());
    EXPECT_EQ(discharged, gauge_.counter(kDischargeCount));

    // Charging, up to 100 % and no further.
    gauge_.setStateOfCharge(99);
    ASSERT_TRUE(simboard::writeSharedLineFile(127, 1));
    ASSERT_TRUE(waitFor([&] { return gauge_.stateOfCharge() == 100 && gauge_.counter(kChargeCount) >= 100; }));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(100, gauge_.stateOfCharge());
    EXPECT_EQ(discharged, gauge_.counter(kDischargeCount));
}
