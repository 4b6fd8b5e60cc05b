// A remote user's view of the device and system commands, hard copies and help: a running
// benchview on a simulated board of the test's own, over loopback TCP.
#include "board/board.h"
#include "core/setup.h"
#include "tests/scpi/benchview_fixture.h"
#include "tests/support/poweronsetup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
        // The power-on setup is applied at the end of start-up.
        ASSERT_TRUE(waitFor("DEV:MODE?\n", "SCOP\n\r")) << process_.log();
    }

    std::string ask(const std::string& lines, size_t replies = 1)
    {
        return askScpi(fd_, lines, replies, kReplyTimeoutMs);
    }

    bool waitFor(const std::string& query, const std::string& reply)
    {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ask(query) == reply)
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

} // namespace
