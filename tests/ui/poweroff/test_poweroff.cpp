// The idle power-off of the built program: the only test that waits for the first 60 s tick.
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

using namespace std::chrono_literals;

class BenchviewPowerOff : public SimBoardTest {};

TEST_F(BenchviewPowerOff, IdleForLongerThanAutoOffPowersOffAfterTheFirstTick)
{
    // A root not yet seeded, holding only the configuration and an old activity mark.
    const std::string root = root_ + "/board";
    ASSERT_EQ(mkdir(root.c_str(), 0777), 0);
    for (const char* dir : {"/media", "/media/private", "/var", "/var/tmp"})
        ASSERT_EQ(mkdir((root + dir).c_str(), 0777), 0);
    std::ofstream(root + "/media/private/config.ini") << "AutoOff=1\n";
    const std::string mark = root + "/var/tmp/auto_off";
    std::ofstream(mark).flush();
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    timespec old[2] = {{now.tv_sec - 600, 0}, {now.tv_sec - 600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, mark.c_str(), old, 0), 0);

    BenchviewProcess process;
    BenchviewProcess::Options options;
    options.root = root;
    options.portOffset = portOffset_;
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(process.start(BENCHVIEW_EXE, options));
    int status = 0;
    ASSERT_TRUE(process.waitExit(130s, &status)) << "still running";
    auto elapsed = std::chrono::steady_clock::now() - started;

    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GE(elapsed, 55s) << "powered off before the first idle tick";
    std::ifstream pipe(root + "/var/tmp/offpipe", std::ios::binary);
    std::ostringstream content;
    content << pipe.rdbuf();
    EXPECT_EQ(content.str(), "POWEROFF");
}
