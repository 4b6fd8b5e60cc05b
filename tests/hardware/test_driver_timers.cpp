// The driver's timer callbacks: the state message, the forced trigger and the frequency meter.
#include "tests/hardware/hwtest.h"

#include "core/requests.h"
#include "hardware/chip_acq.h"

#include <thread>

namespace {
// Every record the controller's inbox holds, leaving it empty.
std::vector<pipe_dial> inbox()
{
    const pipe_dial marker{0x7FFF, 0, 0, 0, 0.0f, 0};
    o_g_consMessageBox.send(&marker);
    std::vector<pipe_dial> out;
    pipe_dial r{};
    while (o_g_consMessageBox.receive(&r, true, 1) == 0 && r.kind != 0x7FFF)
        out.push_back(r);
    return out;
}

void tick()
{
    ChipAcqTimerMessage(sigval{});
}
} // namespace

class DriverTimerTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        RTAC_id = pthread_self();
        us_g_chipAcqStatus = 0;
        o_g_chipAcqDevDescriptor.autoTriggered = 0;
        pseudoRC = 0;
    }
};

TEST_F(DriverTimerTest, MessageTimerPostsTheStateOnlyWhenItChanged)
{
    struct Row {
        const char* what;
        bool realTimeKnown;
        int16_t runStop;
        uint16_t state;
        int16_t trigStatus;
        int posted;  // value posted, -1 for nothing
        uint16_t stateAfter;
    };
    const Row rows[] = {
        {"unchanged", true, 0, 5, 5, -1, 5},
        {"changed", true, 0, 6, 5, 6, 6},
        {"held", true, 1, 6, 0, 1, 1},
        {"held, already shown", true, 1, 6, 1, -1, 1},
        {"held replaces a fast-time-base 7", true, 1, 7, 0, 1, 1},
        {"no real-time thread yet", false, 0, 6, 0, -1, 6},
        {"no real-time thread yet, held", false, 1, 6, 0, -1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RTAC_id = row.realTimeKnown ? pthread_self() : pthread_t();
        data.acqRunStop = row.runStop;
        data.trigStatus = row.trigStatus;
        acqStateStore(row.state);
        tick();
        const std::vector<pipe_dial> posted = inbox();
        EXPECT_EQ(acqStateLoad(), row.stateAfter);
        if (row.posted < 0) {
            EXPECT_TRUE(posted.empty());
        } else {
            ASSERT_EQ(posted.size(), 1u);
            EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
            EXPECT_EQ(posted[0].code, 34);
            EXPECT_EQ(posted[0].auxValue, 0);
            EXPECT_EQ(posted[0].intValue, row.posted);
            EXPECT_EQ(posted[0].floatValue, 0.0f);
            EXPECT_EQ(posted[0].senderId, senderValue(pthread_self()));
        }
    }
}

TEST_F(DriverTimerTest, HoldIsPostedOnceTheControllerStoredIt)
{
    data.acqRunStop = 1;
    data.trigStatus = 4;
    acqStateStore(4);
    tick();
    ASSERT_EQ(inbox().size(), 1u);
    data.trigStatus = 1;  // what the controller does with the notice
    tick();
    tick();
    EXPECT_TRUE(inbox().empty());
}

TEST_F(DriverTimerTest, AutoTriggerForcesATriggerThroughRegister56)
{
    struct Row {
        const char* what;
        uint16_t relay;
        std::vector<std::string> sequence;
        uint16_t statusAfter;
    };
    const Row rows[] = {
        {"front end in the signal path",
         0,
         {"serial mask 15 opcode 0xc3 data 2", "read 56 = 0x30", "write 56 0x31", "read 99", "write 56 0x30"},
         0x10},
        {"relay bit 0x100: the driver counts the trigger itself",
         0x100,
         {"read 56 = 0x30", "write 56 0x31", "read 99", "write 56 0x30"},
         0x13},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        pseudoRC = row.relay;
        us_g_chipAcqStatus = 0x10;
        o_g_chipAcqDevDescriptor.autoTriggered = 0;
        simboard::pokeSpiRegister(56, 0x30);
        simboard::clearLog();
        ChipAcqTimerAuto(sigval{});

        std::vector<std::string> sequence;
        char text[64];
        for (const auto& e : simboard::log(
                 {simboard::TLogKind::Serial, simboard::TLogKind::SpiRead, simboard::TLogKind::SpiWrite})) {
            if (e.kind == simboard::TLogKind::Serial)
                std::snprintf(text, sizeof text, "serial mask %d opcode 0x%x data %d", int(e.a), unsigned(e.b), int(e.c));
            else if (e.kind == simboard::TLogKind::SpiWrite)
                std::snprintf(text, sizeof text, "write %d 0x%x", int(e.b), unsigned(e.c));
            else if (e.b == 99)
                std::snprintf(text, sizeof text, "read 99");
            else
                std::snprintf(text, sizeof text, "read %d = 0x%x", int(e.b), unsigned(e.c));
            sequence.push_back(text);
        }
        EXPECT_EQ(sequence, row.sequence);
        EXPECT_EQ(us_g_chipAcqStatus, row.statusAfter);
        EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 1);
    }
}

TEST_F(DriverTimerTest, AutoTriggerWaitsForTheAcquisitionMutex)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    std::thread timer([] { ChipAcqTimerAuto(sigval{}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 0);
    EXPECT_TRUE(logOf(simboard::TLogKind::SpiRead).empty());
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    timer.join();
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 1);
}

TEST_F(DriverTimerTest, FrequencyMeterTimerMarksTheCountersReady)
{
    o_g_frequenceMeterReady = 1;
    ChipAcqTimerFrequencemeter(sigval{});
    EXPECT_EQ(o_g_frequenceMeterReady.load(), 2);
}
