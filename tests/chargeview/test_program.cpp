// The charging screen as a child process on the test's own simulated board.
#include "board/sim/simboard.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <linux/input.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class ChargeviewTest : public SimBoardTest {
protected:
    void TearDown() override
    {
        screen_.kill();
        if (keyFifo_ >= 0)
            ::close(keyFifo_);
        SimBoardTest::TearDown();
    }
    bool exists(const char* path) { return ::access(hostPath(path).c_str(), F_OK) == 0; }
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    // Started with the key FIFO (or without a key device), running once the marker exists.
    void start(bool keyDevice = true, const std::vector<std::string>& args = {})
    {
        std::string why;
        ASSERT_TRUE(simboard::boot(&why)) << why;
        if (keyDevice) {
            keyFifo_ = simboard::makeCompanionKeyFifo();
            ASSERT_GE(keyFifo_, 0);
        }
        std::ofstream(hostPath("/var/tmp/batlevel")) << "-30";
        BenchviewProcess::Options options = BenchviewProcess::Options::headless(root_, portOffset_);
        options.logPath = root_ + "/chargeview.log";
        options.environment.push_back("QT_QPA_PLATFORM=offscreen");
        options.args = args;
        ASSERT_TRUE(screen_.start(CHARGEVIEW_EXE, options));
        ASSERT_TRUE(waitFor([&] { return exists("/var/tmp/powerOffAllowed"); }, 20s)) << screen_.log();
    }
    // "path text" per write of the sysfs log, with the times in seconds.
    std::vector<std::pair<double, std::string>> sysfsLog()
    {
        std::vector<std::pair<double, std::string>> out;
        std::istringstream in(readHostFile(hostPath(simboard::kSysfsLogPath)));
        std::string line;
        while (std::getline(in, line)) {
            const size_t space = line.find(' ');
            out.emplace_back(std::atof(line.substr(0, space).c_str()), line.substr(space + 1));
        }
        return out;
    }
    BenchviewProcess screen_;
    int keyFifo_ = -1;
};

} // namespace

TEST(ChargeviewVersion, PrintsAndExits)
{
    for (const char* arg : {"-V", "-v"}) {
        int status = -1;
        EXPECT_EQ("1.05\n", programOutput(CHARGEVIEW_EXE, arg, &status)) << arg;
        EXPECT_EQ(0, status) << arg;
    }
}

TEST_F(ChargeviewTest, BoardFilesAndThePowerKey)
{
    start(true, {"-V", "x"});  // two arguments run the screen
    // The beep, then the backlight: whole values, in order, the beep about 70 ms long.
    ASSERT_TRUE(waitFor([&] { return sysfsLog().size() >= 4; }, 10s));
    const auto log = sysfsLog();
    EXPECT_EQ("/sys/class/leds/led426/brightness 255", log[0].second);
    EXPECT_EQ("/sys/class/leds/led426/brightness 0", log[1].second);
    EXPECT_NEAR(0.070, log[1].first - log[0].first, 0.060);
    EXPECT_GE(log[1].first - log[0].first, 0.069);
    EXPECT_EQ("/sys/class/backlight/backlight.22/bl_power 0", log[2].second);
    EXPECT_EQ("/sys/class/backlight/backlight.22/brightness 5", log[3].second);
    EXPECT_EQ("0", readHostFile(hostPath("/sys/class/leds/led426/brightness")));
    EXPECT_EQ("5", readHostFile(hostPath("/sys/class/backlight/backlight.22/brightness")));

    // Another key first: nothing; then a release of the power key ends it.
    struct input_event other {};
    other.type = EV_KEY;
    other.code = 50;
    ASSERT_EQ(static_cast<ssize_t>(sizeof other), ::write(keyFifo_, &other, sizeof other));
    ASSERT_TRUE(simboard::writePowerKeyRecord(keyFifo_, 0));
    int status = 0;
    ASSERT_TRUE(screen_.waitExit(10s, &status)) << screen_.log();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_FALSE(exists("/var/tmp/powerOffAllowed"));
}

TEST_F(ChargeviewTest, SignalsRemoveTheMarker)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        TearDown();
        SetUp();
        start();
        ::kill(screen_.pid(), sig);
        int status = 0;
        ASSERT_TRUE(screen_.waitExit(10s, &status));
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_FALSE(exists("/var/tmp/powerOffAllowed")) << sig;
    }
}

TEST_F(ChargeviewTest, WithoutAKeyDeviceOrItsWriterItIdles)
{
    for (bool keyDevice : {false, true}) {
        SCOPED_TRACE(keyDevice ? "writer closed" : "no key device");
        TearDown();
        SetUp();
        start(keyDevice);
        if (keyDevice) {
            ::close(keyFifo_);  // the reader sees the end of the file
            keyFifo_ = -1;
        }
        std::this_thread::sleep_for(500ms);
        long before = 0;
        for (const std::string& tid : screen_.threads("powerkey"))
            before += screen_.threadCpuTicks(tid);
        const long all = screen_.threadCpuTicks(std::to_string(screen_.pid()));
        std::this_thread::sleep_for(1500ms);
        ASSERT_TRUE(screen_.running());
        long after = 0;
        for (const std::string& tid : screen_.threads("powerkey"))
            after += screen_.threadCpuTicks(tid);
        EXPECT_LE(after - before, 2) << "the key thread spins";
        EXPECT_LT(screen_.threadCpuTicks(std::to_string(screen_.pid())) - all, ::sysconf(_SC_CLK_TCK) / 2);
        EXPECT_TRUE(exists("/var/tmp/powerOffAllowed"));
    }
}
