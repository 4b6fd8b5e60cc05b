// The ambient-light sensor as the simulated board's sensor sees it, and the automatic brightness.
#include "hardware/lux.h"

#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "board/deviceio.h"
#include "tests/support/simfpgaboardtest.h"

#include <fcntl.h>
#include <linux/input.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

class LuxTest : public SimFpgaBoardTest {
protected:
    // Every record queued in the controller's inbox, leaving it empty.
    static std::vector<pipe_dial> drain()
    {
        pipe_dial marker{};
        marker.kind = 0xFFFF;
        o_g_consMessageBox.send(&marker);
        std::vector<pipe_dial> out;
        pipe_dial r{};
        while (o_g_consMessageBox.receive(&r, true, 1) == 0 && r.kind != 0xFFFF)
            out.push_back(r);
        return out;
    }
    // The sensor registers written, in order, as "register=value".
    static std::vector<std::string> writes()
    {
        std::vector<std::string> out;
        for (const simboard::TLogEntry& e : simboard::log({simboard::TLogKind::I2cDev}))
            if (e.text == "write" && e.d >= 0)
                out.push_back(std::to_string(e.c) + "=" + std::to_string(e.d));
        return out;
    }
};

TEST_F(LuxTest, LevelFromTheValueRegisters)
{
    struct Row {
        double lux;
        uint8_t high, low;
        float read;
    };
    const Row rows[] = {
        {0.045, 0x00, 0x01, 0.045f},
        {22.95, 0x1F, 0x0F, 22.95f},
        {100.0, 0x48, 0x0B, 139.0f * 16.0f * 0.045f},
        {0.0, 0x00, 0x00, 0.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lux);
        simboard::setLux(row.lux);
        EXPECT_EQ(simboard::luxRegister(3), row.high);
        EXPECT_EQ(simboard::luxRegister(4), row.low);
        float lux = -1.0f;
        ASSERT_EQ(luxRead(&lux), 0);
        EXPECT_FLOAT_EQ(lux, row.read);
    }
}

TEST_F(LuxTest, BrightnessLevelsAndThresholdBytes)
{
    const std::pair<float, int> levels[] = {
        {0.0f, 3}, {3.99f, 3}, {4.0f, 4}, {5.0f, 4}, {20.0f, 5}, {98.9f, 5}, {99.0f, 6}, {463.0f, 7},
        {2152.9f, 7}, {2153.0f, 8}, {9999.0f, 8}, {10000.0f, 9},
    };
    for (const auto& l : levels)
        EXPECT_EQ(luxBrightness(l.first), l.second) << l.first;
    const std::pair<float, int> bytes[] = {
        {5.0f, 6}, {100.0f, 0x48}, {20000.0f, 0xBD}, {34.425f, 0x2B}, {11.475f, 0x0F}, {0.0f, 0},
        {-1.0f, 0}, {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const auto& b : bytes)
        EXPECT_EQ(ConvLuxInExponentMantissaByte(b.first), b.second) << b.first;
}

TEST_F(LuxTest, AutoSetPostsTheBrightnessAndSetsAWindowAroundTheLevel)
{
    drain();
    simboard::setLux(22.95);
    simboard::clearLog();
    EXPECT_EQ(luxAutoSet(), 0);
    EXPECT_EQ(writes(), (std::vector<std::string>{"5=43", "6=15", "7=100"}));
    std::vector<int64_t> reads;
    for (const simboard::TLogEntry& e : simboard::log({simboard::TLogKind::I2cDev}))
        if (e.text == "read")
            reads.push_back(e.c);
    EXPECT_EQ(reads, (std::vector<int64_t>{0, 3, 4}));  // the status first: it clears the interrupt
    const auto posted = drain();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(posted[0].code, param::displayBrightness);
    EXPECT_EQ(posted[0].intValue, 5);
    EXPECT_EQ(posted[0].senderId, senderValue(pthread_self()));
}

TEST_F(LuxTest, AnAbsentOrSilentSensorPostsNothing)
{
    drain();
    for (int fault = 0; fault < 2; ++fault) {
        simboard::clearFaults();
        if (fault == 0)
            simboard::setOpenFault("/dev/i2c-0");
        else
            simboard::setLuxSensorSilent(true);
        EXPECT_EQ(luxInit(), -1);
        EXPECT_EQ(luxSetThresholds(1, 2), -1);
        EXPECT_EQ(luxAutoSet(), 0);
        EXPECT_TRUE(drain().empty());
    }
    simboard::clearFaults();
    EXPECT_EQ(luxInit(), 0);
    EXPECT_EQ(simboard::luxRegister(2), 3);
}

TEST_F(LuxTest, SensorInterruptWhenTheLevelLeavesTheWindow)
{
    const int fd = deviceIO().open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    simboard::setLux(22.95);
    ASSERT_EQ(luxInterruptEnable(true), 0);
    ASSERT_EQ(luxSetThresholds(0x2B, 0x0F), 0);
    struct input_event ev {};
    simboard::setLux(25.0);  // inside the window
    EXPECT_EQ(deviceIO().read(fd, &ev, sizeof ev), -1);
    simboard::setLux(5000.0);
    ASSERT_EQ(deviceIO().read(fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    EXPECT_EQ(ev.code, 50);
    EXPECT_EQ(ev.value, 1);
    EXPECT_EQ(deviceIO().read(fd, &ev, sizeof ev), -1);
    bool pending = false;
    ASSERT_EQ(luxInterruptRead(&pending), 0);
    EXPECT_TRUE(pending);
    ASSERT_EQ(luxInterruptRead(&pending), 0);
    EXPECT_FALSE(pending);
    ASSERT_EQ(luxInterruptEnable(false), 0);
    simboard::setLux(1.0);
    EXPECT_EQ(deviceIO().read(fd, &ev, sizeof ev), -1);
    deviceIO().close(fd);
}

} // namespace
