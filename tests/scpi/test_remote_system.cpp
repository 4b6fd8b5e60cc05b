// A remote user's view of the device and system commands, hard copies and help: a running
// benchview on a simulated board of the test's own, over loopback TCP.
#include "board/board.h"
#include "core/calibfile.h"
#include "core/setup.h"
#include "hardware/calibration.h"
#include "network/pelanodeInterface.h"
#include "tests/network/ws_test_client.h"
#include "tests/scpi/benchview_fixture.h"
#include "tests/support/poweronsetup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <dirent.h>
#include <poll.h>
#include <vector>
#include <string>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr int kReplyTimeoutMs = 30000;
const std::string kNoError = "0,No error \n\r";

bool fileExists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

class RemoteSystem : public BenchviewScpiTest {
protected:
    void SetUp() override
    {
        BenchviewScpiTest::SetUp();
        ASSERT_EQ(writePowerOnSetup(scopeOnChannel1), 0);
        // The screen is grabbed from a real window: the X server of the test run (xvfb-run),
        // where there is one; the offscreen platform has nothing to grab.
        auto options = BenchviewProcess::Options::headless(root_, portOffset_);
        options.environment.push_back("BENCHVIEW_SCPI_LOOPBACK_ONLY=1");
        if (std::getenv("DISPLAY")) {
            for (std::string& e : options.environment)
                if (e.compare(0, 16, "QT_QPA_PLATFORM=") == 0)
                    e = "QT_QPA_PLATFORM=xcb";
        }
        ASSERT_TRUE(process_.start(BENCHVIEW_EXE, options));
        ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", 60s)) << process_.log();
        fd_ = connectClient();
        ASSERT_GE(fd_, 0) << process_.log();
        // The power-on setup is applied at the end of start-up. Its recall holds the stored
        // mode for a moment before the mode change it queues: the mode must stay.
        ASSERT_TRUE(waitFor("DEV:MODE?\n", "SCOP\n\r", 3)) << process_.log();
    }

    std::string ask(const std::string& lines, size_t replies = 1)
    {
        return askScpi(fd_, lines, replies, kReplyTimeoutMs);
    }

    // Until the query answers the reply `times` times in a row, 100 ms apart.
    bool waitFor(const std::string& query, const std::string& reply, int times = 1)
    {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        int run = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            run = ask(query) == reply ? run + 1 : 0;
            if (run >= times)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    std::string readExactly(size_t n)
    {
        return ::readExactly(fd_, n, kReplyTimeoutMs);
    }

    std::vector<std::string> screenshots()
    {
        std::vector<std::string> names;
        if (DIR* d = ::opendir((root_ + "/media/user/screenshots").c_str())) {
            while (dirent* e = ::readdir(d))
                if (e->d_name[0] != '.')
                    names.push_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }

    int fd_ = -1;
};

TEST_F(RemoteSystem, KeyLockHelpAndSuffixes)
{
    EXPECT_EQ(ask("SYST:KLOCK 5\nSYST:KLOCK?\n"), "1\n\r");
    EXPECT_EQ(ask("SYST:KLOCK OFF\nSYST:KLOCK?\n"), "0\n\r");
    EXPECT_EQ(ask("SYST:COMM:SOCK3:ADDR?\nSYST:ERR?\n"), "-114,Header suffix out of range\n\r");
    EXPECT_EQ(ask("SYST:COMM:SOCK:ADDR?\n"), "192.0.2.10\n\r");

    ASSERT_TRUE(writeAll(fd_, "HELP?\n"));
    const std::string list = readExactly(500);
    ASSERT_EQ(list.size(), 500u);
    EXPECT_EQ(list.substr(list.size() - 32), "DISPlay                MMEMory\n\r");
    EXPECT_EQ(ask("HELP TRAC\n", 4),
              "TRACe:CATalog?\n\rTRACe[:DATA]? <INT1|2|3|4>\n\rTRACe:LIMit <limit1>,<limit2>,<step>\n\rTRACe:LIMit?\n\r");
    EXPECT_EQ(ask("HELP NOPE\nSYST:ERR?\n").compare(0, 1, "-"), 0);
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);
}

TEST_F(RemoteSystem, TheSetupTravelsAsOneBlock)
{
    EXPECT_EQ(ask("AVER:COUN 16\n*OPC?\n"), "1\n\r");
    ASSERT_TRUE(writeAll(fd_, "SYST:SET?\n"));
    const std::string block = readExactly(6 + kSetupFileSize + 2);
    ASSERT_EQ(block.size(), 6 + kSetupFileSize + 2);
    ASSERT_EQ(block.substr(0, 6), "#41360");
    EXPECT_EQ(block.substr(block.size() - 2), "\n\r");

    EXPECT_EQ(ask("AVER:COUN 0\nAVER:COUN?\n"), "0\n\r");
    EXPECT_FALSE(fileExists(root_ + "/tmp/scpi_7up.cfg"));  // removed once sent
    EXPECT_EQ(ask("SYST:SET " + block.substr(0, block.size() - 2) + "\n*OPC?\n"), "1\n\r");
    EXPECT_TRUE(waitFor("AVER:COUN?\n", "16\n\r"));
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);

    // Another length is drained whole: the "*RST" inside it never runs.
    EXPECT_EQ(ask("SYST:SET #16*RST\n\nSYST:ERR?\n"), "-222,Data out of range\n\r");
    EXPECT_EQ(ask("AVER:COUN?\nSYST:ERR?\n", 2), "16\n\r" + kNoError);
}

TEST_F(RemoteSystem, HardCopiesAndTheInstrumentMode)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "a screen hard copy needs a display (run under xvfb-run)";
    EXPECT_EQ(ask("HCOP:SDUM \"shot1\"\n*OPC?\n"), "1\n\r");
    EXPECT_TRUE(process_.waitForPath(root_ + "/media/user/screenshots/shot1.png", 30s)) << process_.log();
    EXPECT_EQ(ask("HCOP:SDUM:IMM\n*OPC?\n"), "1\n\r");
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (screenshots().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(100ms);
    ASSERT_EQ(screenshots().size(), 2u);

    EXPECT_EQ(ask("HCOP:SDUM \"../outside\"\nSYST:ERR?\n"), "-257,File name error\n\r");
    EXPECT_EQ(ask("HCOP:SDUM \"..\"\nSYST:ERR?\n"), "-257,File name error\n\r");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(screenshots().size(), 2u);
    EXPECT_FALSE(fileExists(root_ + "/media/user/outside.png"));

    EXPECT_EQ(ask("DEV:MODE MULT\n*OPC?\n"), "1\n\r");
    EXPECT_TRUE(waitFor("DEV:MODE?\n", "MULT\n\r"));
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);
}

// The factory's first steps: read the seeded record, run a step, change the serial number and
// commit the record to the calibration file.
TEST_F(RemoteSystem, FactoryRecordStepAndCommit)
{
    ASSERT_TRUE(writeAll(fd_, "FORM INT\nZC:CAL:LIST?\n"));
    const std::string block = readExactly(6 + kCalibrationSize + 2);
    ASSERT_EQ(block.size(), 6 + kCalibrationSize + 2);
    EXPECT_EQ(block.substr(0, 6), "#42422");
    EXPECT_EQ(block.substr(block.size() - 2), "\n\r");
    calibration record;
    std::memcpy(&record, block.data() + 6, sizeof record);
    EXPECT_EQ(std::string(record.modelName, 6), "NONAME");
    uint32_t sum = 0;
    for (size_t i = 4; i < kCalibrationSize; ++i)
        sum += static_cast<unsigned char>(block[6 + i]);
    uint32_t checksum = 0;
    std::memcpy(&checksum, block.data() + 6, 4);
    EXPECT_EQ(checksum, ~sum);

    // A step holds the interpreter until its end; the first one succeeds on any board.
    EXPECT_EQ(ask("ZC:CAL:INIT\n*OPC?\n"), "1\n\r");
    EXPECT_EQ(ask("*WAI\nSYST:ERR?\n"), kNoError);
    // The positive reference step succeeds; with the board's references dead it fails, and
    // *WAI tells.
    EXPECT_EQ(ask("ZC:CAL:VP1\n*WAI\nSYST:ERR?\n"), kNoError);
    {
        std::ofstream control(root_ + "/sim/control");
        control << "fault 1 reference on\n" << std::flush;
    }
    EXPECT_EQ(ask("ZC:CAL:VP1\n*WAI\nSYST:ERR?\n"), "-200,Execution error\n\r");
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);

    const time_t before = std::time(nullptr);
    EXPECT_EQ(ask("ZC:CAL:SNUM \"SN-REMOTE\"\nZC:CAL:FLASH\n*OPC?\n"), "1\n\r");
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);
    std::ifstream in(root_ + kCalibrationFile, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(file.size(), 128 + kCalibrationSize);
    calibration stored;
    std::memcpy(&stored, file.data() + 128, sizeof stored);
    EXPECT_TRUE(calibrationChecksumValid(stored));
    EXPECT_STREQ(stored.serialNumber, "SN-REMOTE");
    EXPECT_GE(static_cast<time_t>(calibrationDateOf(stored)), before - 5);
}

} // namespace

// The recorder keeps running and keeps its meter settings. A remote client that asks for one of
// them there is told so: SCPI queues -221 and the web service answers "-1,", and the setting
// is as it was. Over SCPI in one table: the command, the query that reads the setting back.
TEST_F(RemoteSystem, TheRecorderAnswersSettingsItCannotTakeWithAnError)
{
    ASSERT_EQ(ask("DEV:MOD LOG;*OPC?\n"), "1\n\r");
    ASSERT_EQ(ask("DEV:MOD?\n"), "LOG\n\r");
    ASSERT_EQ(ask("SYST:ERR?\n"), kNoError);
    const struct {
        const char* command;
        const char* query;
    } refused[] = {
        {"INP2:DMM:COUP DC", "INP2:DMM:COUP?"},
        {"INP1:DMM:BAND:RES 100", "INP1:DMM:BAND:RES?"},
        {"SENS:FUNC RES", "SENS:FUNC?"},
        {"RANG2:AUTO OFF", "RANG2:AUTO?"},
        {"RANG1:VOLT 800", "RANG1:VOLT?"},
        {"TRIG:RUN:STAT OFF", "TRIG:RUN:STAT?"},
        {"INIT:CONT:NAME EDGE,OFF", "TRIG:RUN:STAT?"},
        {"ABOR", "TRIG:RUN:STAT?"},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.command);
        const std::string before = ask(std::string(row.query) + "\n");
        ASSERT_EQ(before.substr(before.size() - 2), "\n\r");
        EXPECT_EQ(ask(std::string(row.command) + "\n*OPC?\n"), "1\n\r");
        EXPECT_EQ(ask("SYST:ERR?\n"), "-221,Settings conflict\n\r");
        EXPECT_EQ(ask(std::string(row.query) + "\n"), before);
    }
    // What the recorder takes is still taken.
    EXPECT_EQ(ask("TRIG:RUN:STAT ON;*OPC?\n"), "1\n\r");
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);

    TWsTestClient ws;
    ASSERT_TRUE(ws.ok());
    ws.target(boardPort(kWsPort));
    const std::string coupling = ask("INP2:DMM:COUP?\n");
    for (const char* request : {"/toolsMeter?p2=1", "/toolsMeter?p1=1", "/verticalMeter?channel=2&p3=6",
                                "/verticalMeter?channel=1&p2=0", "/toolsScope?p0=1"}) {
        EXPECT_EQ(ws.exchange(request).bytes, "-1,") << request;
    }
    EXPECT_EQ(ask("*WAI;*OPC?\n"), "1\n\r");
    EXPECT_EQ(ask("INP2:DMM:COUP?\n"), coupling);
    EXPECT_EQ(ask("TRIG:RUN:STAT?\n"), "1\n\r");
    EXPECT_EQ(ask("DEV:MOD?\n"), "LOG\n\r");
}
