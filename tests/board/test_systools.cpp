#include "board/board.h"
#include "board/systools.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;

namespace {
bool exists(const std::string& p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

bool waitForFile(const std::string& p, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exists(p)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}
} // namespace

class SystemTools : public SimBoardTest {};

TEST_F(SystemTools, SimulatedBoardOnlyLogsEachRun)
{
    EXPECT_EQ(runSystemTool("reboot", {}, 5000), 0);
    EXPECT_EQ(runSimulatedSystemTool("ifup", {"eth0", "--force"}, 100), 0);
    EXPECT_EQ(readHostFile(hostPath(kSimToolsLog)), "reboot\nifup eth0 --force\n");
}

TEST_F(SystemTools, SimulatedRunFailsWhenTheLogCannotBeWritten)
{
    ASSERT_EQ(mkdir(hostPath(kSimToolsLog).c_str(), 0777), 0);
    errno = 0;
    EXPECT_EQ(runSimulatedSystemTool("reboot", {}, 100), kToolNotStarted);
    EXPECT_NE(errno, 0);
}

TEST_F(SystemTools, BoardRunGivesTheProgramsStatus)
{
    struct Case {
        const char* program;
        std::vector<std::string> args;
        int expected;
    } cases[] = {
        {"true", {}, 0},
        {"sh", {"-c", "exit 3"}, 3},
        {"sh", {"-c", "kill -9 $$"}, 128 + 9},
        {"/bin/false", {}, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runBoardSystemTool(c.program, c.args, 10000), c.expected) << c.program;
}

TEST_F(SystemTools, BoardRunPassesArgumentsWithoutAShell)
{
    // A shell would split the name and expand the variable.
    const std::string name = root_ + "/a b;$HOME*";
    EXPECT_EQ(runBoardSystemTool("touch", {name}, 10000), 0);
    EXPECT_TRUE(exists(name));
}

TEST_F(SystemTools, BoardRunOfAMissingProgramIsNotStarted)
{
    errno = 0;
    EXPECT_EQ(runBoardSystemTool("benchview-no-such-program", {}, 1000), kToolNotStarted);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SystemTools, ProgramThatOutlivesTheWaitGoesOn)
{
    const std::string done = root_ + "/done";
    EXPECT_EQ(runBoardSystemTool("sh", {"-c", "sleep 0.5; touch \"$0\"", done}, 50), kToolStillRunning);
    EXPECT_TRUE(waitForFile(done, 10s)) << "the program was stopped";
}
