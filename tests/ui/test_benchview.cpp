// Black-box tests of the built program, each on a root of its own under the test's temporary
// directory.
#include "tests/support/simboardtest.h"
#include "tests/ui/benchviewprocess.h"

#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {
// Generous: start-up under the sanitizers on a loaded machine.
constexpr auto kStartTimeout = 60s;
// The real-time acquisition thread: started by the acquisition control thread, which the
// controller starts after the probe scan of its start-up.
const std::string kThreadAfterProbeScan = "startacq";

// Polls until the process has a thread of that name (the controller names the threads it starts).
bool waitForThread(BenchviewProcess& process, const std::string& name, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string taskDir = "/proc/" + std::to_string(process.pid()) + "/task";
    while (process.running() && std::chrono::steady_clock::now() < deadline) {
        if (DIR* dir = opendir(taskDir.c_str())) {
            bool found = false;
            while (dirent* e = readdir(dir)) {
                std::ifstream comm(taskDir + "/" + e->d_name + "/comm");
                std::string line;
                if (std::getline(comm, line) && line == name)
                    found = true;
            }
            closedir(dir);
            if (found)
                return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
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
        ASSERT_TRUE(process.start({arg}, childRoot_, portOffset_, true));
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
    ASSERT_TRUE(process.start({"-V", "x"}, childRoot_, portOffset_));
    EXPECT_TRUE(waitForPath(process, childPath("/var/tmp/tavlinStarted"), kStartTimeout));
    EXPECT_TRUE(process.running());
}

TEST_F(BenchviewBlackBox, FreshStartCreatesItsFilesAndARestartKeepsTheMarker)
{
    const std::string marker = childPath("/var/tmp/tavlinStarted");
    {
        BenchviewProcess process;
        ASSERT_TRUE(process.start({}, childRoot_, portOffset_));
        ASSERT_TRUE(waitForPath(process, marker, kStartTimeout));
        ASSERT_TRUE(waitForPath(process, childPath("/var/tmp/auto_off"), kStartTimeout));
        struct stat st;
        ASSERT_EQ(stat(childPath("/media/private/batch").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_TRUE(process.running());
    }

    // Date the marker back: a second start that re-created it would date it now.
    timespec past[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, marker.c_str(), past, 0), 0);
    BenchviewProcess process;
    ASSERT_TRUE(process.start({}, childRoot_, portOffset_));
    ASSERT_TRUE(waitForThread(process, kThreadAfterProbeScan, kStartTimeout));
    struct stat st;
    ASSERT_EQ(stat(marker.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_TRUE(process.running());
}
