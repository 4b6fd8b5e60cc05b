// Driver opening on the simulated board: the configuration load, the outputs, the timers and the
// interrupt thread, and the start-up going on without the SPI device or without /dev/uio0.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/drvtest.h"

#include "core/requests.h"
#include "hardware/chip_acq.h"

#include <thread>

namespace {
// The opening as the board saw it: GPIO writes, reads of the configured input, the configuration
// stream (open mode, speed, writes) and the lamp bit of register 20.
std::vector<std::string> openingTrace()
{
    std::vector<std::string> out;
    int spiFlags = -1;
    int64_t loadFd = -1;
    int writes = 0;
    int64_t bytes = 0;
    for (const simboard::TLogEntry& e : simboard::log()) {
        switch (e.kind) {
        case simboard::TLogKind::Open:
            if (e.text == "/sys/class/gpio/gpio147/value")
                out.push_back("read gpio147");
            if (e.text == "/dev/spidev1.0")
                spiFlags = static_cast<int>(e.b);
            break;
        case simboard::TLogKind::SpiSpeed:
            if (e.b == 50000000) {
                out.push_back(std::string("load ") + ((spiFlags & O_ACCMODE) == O_WRONLY ? "write-only" : "other mode")
                              + " at 50000000 Hz");
                loadFd = e.a;
            }
            break;
        case simboard::TLogKind::ConfigBytes:
            ++writes;
            bytes += e.b;
            break;
        case simboard::TLogKind::Close:
            if (e.a == loadFd) {
                out.push_back(std::to_string(writes) + " writes, " + std::to_string(bytes) + " bytes");
                loadFd = -1;
            }
            break;
        case simboard::TLogKind::Sysfs: {
            // "/sys/class/gpio/gpioN/value v" -> "gpioN v"
            const std::string prefix = "/sys/class/gpio/";
            const size_t slash = e.text.find('/', prefix.size());
            if (e.text.rfind(prefix, 0) == 0 && slash != std::string::npos)
                out.push_back(e.text.substr(prefix.size(), slash - prefix.size()) + e.text.substr(e.text.rfind(' ')));
            break;
        }
        case simboard::TLogKind::SpiWrite:
            if (e.b == 20)
                out.push_back(std::string("reg20 lamp ") + ((e.c & (1u << 9)) ? "1" : "0"));
            break;
        default:
            break;
        }
    }
    return out;
}

const std::vector<std::string> kAfterLoad = {"reg20 lamp 1", "gpio144 0", "gpio4 1"};
} // namespace

class DriverOpenTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        unmapWindow();  // the driver maps it itself
        simboard::clearLog();
    }
    void TearDown() override
    {
        // The interrupt thread leaves its blocking read before the window goes.
        simboard::shutdown();
        waitFor([] { return threadsNamed("tItAcq") == 0; });
        HardwareTest::TearDown();
    }
};

TEST_F(DriverOpenTest, UnconfiguredBoardIsLoadedWithTheWholeImage)
{
    restartUnconfigured();
    simboard::clearLog();
    EXPECT_EQ(ChipAcqDrv(), 0);

    std::vector<std::string> expected = {"read gpio147", "gpio145 1", "gpio145 0", "gpio145 1",
                                         "load write-only at 50000000 Hz", "35 writes, 142124 bytes", "read gpio147"};
    expected.insert(expected.end(), kAfterLoad.begin(), kAfterLoad.end());
    const std::vector<std::string> trace = openingTrace();
    EXPECT_EQ(trace, expected);
    EXPECT_TRUE(simboard::fpgaConfigured());
    EXPECT_EQ(simboard::configurationBytes(), kFpgaImageSize);

    // Window mapped, board present, interrupt thread running, status cleared.
    EXPECT_TRUE(ChipAcqBoardPresent());
    EXPECT_NE(pv_g_fpgaIoMem.load(), nullptr);
    EXPECT_GE(i_g_weim_fd, 0);
    EXPECT_TRUE(waitFor([] { return threadsNamed("tItAcq") == 1; }));
    EXPECT_EQ(us_g_chipAcqStatus, 0);
}

TEST_F(DriverOpenTest, PreconfiguredBoardKeepsItsConfiguration)
{
    EXPECT_EQ(ChipAcqDrv(), 0);
    std::vector<std::string> expected = {"read gpio147"};
    expected.insert(expected.end(), kAfterLoad.begin(), kAfterLoad.end());
    const std::vector<std::string> trace = openingTrace();
    EXPECT_EQ(trace, expected);
    EXPECT_TRUE(simboard::log({simboard::TLogKind::ConfigBytes}).empty());
    EXPECT_EQ(simboard::configuration().resets, 0u);
    EXPECT_TRUE(ChipAcqBoardPresent());
}

TEST_F(DriverOpenTest, WithoutTheSpiDeviceNoImageIsSentAndTheStartUpGoesOn)
{
    restartUnconfigured();
    simboard::setOpenFault("/dev/spidev1.0");
    simboard::clearLog();
    EXPECT_EQ(ChipAcqDrv(), 0);
    const std::vector<std::string> trace = openingTrace();
    // The register-20 lamp goes through the same device and is lost; the GPIO outputs are not.
    EXPECT_EQ(trace, (std::vector<std::string>{"read gpio147", "gpio145 1", "gpio145 0", "gpio145 1",
                                               "gpio144 0", "gpio4 1"}));
    EXPECT_FALSE(simboard::fpgaConfigured());
    EXPECT_TRUE(ChipAcqBoardPresent());
    EXPECT_TRUE(waitFor([] { return threadsNamed("tItAcq") == 1; }));
}

TEST_F(DriverOpenTest, WithoutUioTheBoardIsAbsentAndTheInterruptThreadEnds)
{
    simboard::setOpenFault("/dev/uio0");
    EXPECT_EQ(ChipAcqDrv(), 0);
    EXPECT_FALSE(ChipAcqBoardPresent());
    EXPECT_EQ(pv_g_fpgaIoMem.load(), nullptr);
    EXPECT_EQ(i_g_weim_fd, -1);
    EXPECT_NE(senderValue(tItAcq_id), 0);  // it was started
    EXPECT_TRUE(waitFor([] { return threadsNamed("tItAcq") == 0; }));
    // The rest of the opening happened.
    const std::vector<std::string> trace = openingTrace();
    EXPECT_EQ(trace, (std::vector<std::string>{"read gpio147", "reg20 lamp 1", "gpio144 0", "gpio4 1"}));
}

TEST_F(DriverOpenTest, TimersAndTheMessageTimerPostingTheStateEvery200Ms)
{
    data.acqRunStop = 0;
    data.trigStatus = 0;
    RTAC_id = pthread_self();
    acqStateStore(4);
    ASSERT_EQ(ChipAcqDrv(), 0);

    itimerspec message{};
    ASSERT_EQ(timer_gettime(o_g_chipAcqDevDescriptor.messageTimer, &message), 0);
    EXPECT_EQ(message.it_interval.tv_sec, 0);
    EXPECT_EQ(message.it_interval.tv_nsec, 200000000L);
    // The two one-shot timers exist and are not armed.
    for (timer_t t : {o_g_chipAcqDevDescriptor.autoTimer, o_g_chipAcqDevDescriptor.frequencemeterTimer}) {
        itimerspec idle{};
        ASSERT_EQ(timer_gettime(t, &idle), 0);
        EXPECT_EQ(idle.it_value.tv_sec + idle.it_value.tv_nsec, 0);
    }

    pipe_dial posted{};
    ASSERT_EQ(o_g_consMessageBox.receive(&posted, true, 3), 0);
    EXPECT_EQ(posted.kind, REQ_SET_PARAM);
    EXPECT_EQ(posted.code, 34);
    EXPECT_EQ(posted.auxValue, 0);
    EXPECT_EQ(posted.intValue, 4);
    EXPECT_EQ(posted.floatValue, 0.0f);
    EXPECT_EQ(posted.senderId, senderValue(pthread_self()));
}

TEST_F(DriverOpenTest, ChipAcqOpenClearsTheAutoTriggerFlags)
{
    o_g_chipAcqDevDescriptor.autoTriggered = 1;
    o_g_chipAcqDevDescriptor.previousAutoTriggered = 1;
    char name[] = "chip_acq";
    EXPECT_EQ(ChipAcqOpen(name, 2), 0);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 0);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.previousAutoTriggered, 0);
    // The auto-trigger delays hold the control commands' values from the start.
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTimeoutFirst, 500000000);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTimeoutNext, 80000000);
}
