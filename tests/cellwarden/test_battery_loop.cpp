// The daemon's event loop in process, on the companion board's wall-power line: every change of
// the line is acted on once, whether it comes while a pass waits or between two passes.
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "cellwarden/battery.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

class EdgeCounter : public Battery {
public:
    void ManageEvents() override {}
    void saveBatteryLevel() override {}
    void pass() { RunPasses(1); }
    std::atomic<int> edges{0};

protected:
    void EdgeAction() override { ++edges; }
};

class BatteryLoopTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        simboard::installCompanionDeviceIO();
        // A pass waits 100 ms, an edge settles in under 2 ms.
        setCellwardenSpeed(600);
    }
    void TearDown() override
    {
        setCellwardenSpeed(1);
        setDeviceIO(nullptr);
        SimBoardTest::TearDown();
    }
};

TEST_F(BatteryLoopTest, EveryChangeOfWallPowerIsActedOnOnce)
{
    ASSERT_TRUE(simboard::setWallPower(true));
    EdgeCounter battery;
    // As the daemon's start does, before its loop.
    EXPECT_TRUE(Battery::IsWallAlimConnected());
    battery.pass();
    EXPECT_EQ(battery.edges, 0) << "nothing changed";

    // Unplugged while no pass waits: the next pass's arming read takes the edge away.
    ASSERT_TRUE(simboard::setWallPower(false));
    battery.pass();
    EXPECT_EQ(battery.edges, 1) << "the change between passes";
    EXPECT_FALSE(Battery::IsWallAlimConnected());
    battery.pass();
    EXPECT_EQ(battery.edges, 1) << "nothing new";

    // Plugged in while a pass waits: acted on in that pass, and not again by the next.
    std::thread plug([] {
        std::this_thread::sleep_for(30ms);
        simboard::setWallPower(true);
    });
    battery.pass();
    plug.join();
    EXPECT_EQ(battery.edges, 2) << "the change during a pass";
    battery.pass();
    EXPECT_EQ(battery.edges, 2) << "nothing new";
}

} // namespace
