// Black-box tests of the built program, each on a root of its own under the test's temporary
// directory.
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace {
// Generous: start-up under the sanitizers on a loaded machine.
constexpr auto kStartTimeout = 60s;
// The real-time acquisition thread: started by the acquisition control thread, which the
// controller starts after the probe scan of its start-up.
const std::string kThreadAfterProbeScan = "startacq";

// The program on the test's root, output left to the test's.
bool startBenchview(BenchviewProcess& process, const std::string& root, int portOffset,
                    std::vector<std::string> args = {}, bool captureStdout = false)
{
    BenchviewProcess::Options options;
    options.args = std::move(args);
    options.root = root;
    options.portOffset = portOffset;
    options.captureStdout = captureStdout;
    return process.start(BENCHVIEW_EXE, options);
}
} // namespace

class BenchviewBlackBox : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        // Not yet existing: the program resolves and seeds it itself.
        childRoot_ = root_ + "/board";
    }

    std::string childPath(const char* boardPath) const { return childRoot_ + boardPath; }

    std::string childRoot_;
};

TEST_F(BenchviewBlackBox, VersionArgumentPrintsTheVersionAndCreatesNothing)
{
    for (const char* arg : {"-V", "-v"}) {
        SCOPED_TRACE(arg);
        BenchviewProcess process;
        ASSERT_TRUE(startBenchview(process, childRoot_, portOffset_, {arg}, true));
        int status = 0;
        ASSERT_TRUE(process.waitExit(kStartTimeout, &status));
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(process.takeStdout(), "1.12\n");
        struct stat st;
        EXPECT_NE(stat(childRoot_.c_str(), &st), 0) << "the root was created";
    }
}

TEST_F(BenchviewBlackBox, VersionWithASecondArgumentStartsNormally)
{
    BenchviewProcess process;
    ASSERT_TRUE(startBenchview(process, childRoot_, portOffset_, {"-V", "x"}));
    EXPECT_TRUE(process.waitForPath(childPath("/var/tmp/tavlinStarted"), kStartTimeout));
    EXPECT_TRUE(process.running());
}

TEST_F(BenchviewBlackBox, FreshStartCreatesItsFilesAndARestartKeepsTheMarker)
{
    const std::string marker = childPath("/var/tmp/tavlinStarted");
    {
        BenchviewProcess process;
        ASSERT_TRUE(startBenchview(process, childRoot_, portOffset_));
        ASSERT_TRUE(process.waitForPath(marker, kStartTimeout));
        ASSERT_TRUE(process.waitForPath(childPath("/var/tmp/auto_off"), kStartTimeout));
        struct stat st;
        ASSERT_EQ(stat(childPath("/media/private/batch").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_TRUE(process.running());
    }

    // Date the marker back: a second start that re-created it would date it now.
    timespec past[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, marker.c_str(), past, 0), 0);
    BenchviewProcess process;
    ASSERT_TRUE(startBenchview(process, childRoot_, portOffset_));
    ASSERT_TRUE(process.waitForThread(kThreadAfterProbeScan, kStartTimeout));
    struct stat st;
    ASSERT_EQ(stat(marker.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_TRUE(process.running());
}
