// The key thread in the running program: keys, light changes and the power key sent as lines
// into the simulated board's control pipe (real time, a few seconds).
#include "board/board.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

class BenchviewKeys : public SimBoardTest {
protected:
    void send(const std::string& line)
    {
        std::ofstream pipe(hostPath(simboard::kControlPipePath));
        pipe << line << "\n" << std::flush;
    }
};

TEST_F(BenchviewKeys, ChannelKeyLightAndPowerKeyThroughTheControlPipe)
{
    // The scope view with channel 1 off, recalled at start-up through the batch folder.
    std::memcpy(&data, &init_par, sizeof(database));
    data.instrumentMode = 16;
    data.traceOnCh1 = 0;
    ASSERT_EQ(SetupSave("scope", true, ""), 0);
    ::mkdir(hostPath(kBatchDir).c_str(), 0777);
    ASSERT_EQ(::symlink("../scope.cfg", (hostPath(kBatchDir) + "/scope.cfg").c_str()), 0);
    std::string why;
    ASSERT_TRUE(simboard::boot(&why)) << why;

    BenchviewProcess process;
    ASSERT_TRUE(process.start(BENCHVIEW_EXE, BenchviewProcess::Options::headless(root_, portOffset_)));
    ASSERT_TRUE(process.waitForThread("TRAD", 60s)) << process.log();
    std::this_thread::sleep_for(500ms);  // the key thread enables its event lines
    send("lux 5000");
    send("key ch1");
    // Its short press is reported 4 ticks after the release: a power key before would replace it.
    std::this_thread::sleep_for(1s);
    send("key power long");
    int status = 0;
    ASSERT_TRUE(process.waitExit(30s, &status)) << process.log();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readHostFile(hostPath("/var/tmp/offpipe")), "POWEROFF");

    // The setup saved at power-off.
    std::memset(&data, 0, sizeof(database));
    ASSERT_EQ(SetupRecall(kPowerOnSetupFile, true, 15), 0);
    EXPECT_EQ(data.instrumentMode, 16);
    EXPECT_EQ(data.traceOnCh1, 1);
    EXPECT_EQ(data.displayBrightness, 8);
}

} // namespace
