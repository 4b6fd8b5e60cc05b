// The boot of the simulated board, through the developer tool "simboard boot": what it empties,
// what it keeps, the root it works on, and a product start after it.
#include "board/board.h"
#include "board/sim/simboard.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::set<std::string> entries(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

bool makeFile(const std::string& path, const std::string& text = "x")
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// Modification time, seconds; -1 when missing.
long long mtime(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_mtime) : -1;
}

void age(const std::string& path)
{
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW);
}

class SimBoardBoot : public SimBoardTest {
protected:
    void TearDown() override
    {
        process_.kill();  // before the root goes
        SimBoardTest::TearDown();
    }

    // Runs the tool on root (BENCHVIEW_SIMROOT); its exit status, its output in *output.
    int runTool(const std::vector<std::string>& args, const std::string& root, std::string* output = nullptr)
    {
        BenchviewProcess::Options options;
        options.args = args;
        options.root = root;
        options.logPath = root_ + "/simboard.log";
        BenchviewProcess tool;
        EXPECT_TRUE(tool.start(SIMBOARD_EXE, options));
        int status = -1;
        EXPECT_TRUE(tool.waitExit(30s, &status));
        if (output)
            *output = tool.log();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    BenchviewProcess process_;
};

TEST_F(SimBoardBoot, EmptiesVarTmpOfASeededRootOnly)
{
    const std::string outside = root_ + "-outside";
    ::mkdir(outside.c_str(), 0777);
    ASSERT_TRUE(makeFile(outside + "/keep"));

    struct Row {
        const char* what;
        bool seeded;
        std::function<void(const std::string& tmp)> prepare;
        std::set<std::string> left;
    };
    const std::vector<Row> rows = {
        {"files, a FIFO and a folder", true,
         [](const std::string& tmp) {
             makeFile(tmp + "/tavlinStarted");
             ::unlink((tmp + "/offpipe").c_str());
             ::mkfifo((tmp + "/fifo").c_str(), 0666);
             ::mkdir((tmp + "/dir").c_str(), 0777);
             ::mkdir((tmp + "/dir/deeper").c_str(), 0777);
             makeFile(tmp + "/dir/deeper/file");
         },
         {"offpipe"}},
        {"a link pointing outside", true,
         [&](const std::string& tmp) {
             ::symlink(outside.c_str(), (tmp + "/link").c_str());
             ::symlink((outside + "/keep").c_str(), (tmp + "/fileLink").c_str());
         },
         {"offpipe"}},
        {"not seeded: only the mark", false, [](const std::string& tmp) { makeFile(tmp + "/tavlinStarted"); },
         {"offpipe", "tavlinStarted"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.seeded)
            ::unlink(hostPath("/sim/seeded").c_str());
        const std::string tmp = hostPath("/var/tmp");
        row.prepare(tmp);
        age(hostPath(simboard::kBootMarkPath));

        std::string output;
        EXPECT_EQ(runTool({"boot"}, root_, &output), 0) << output;

        EXPECT_EQ(entries(tmp), row.left);
        struct stat st;
        ASSERT_EQ(::lstat((tmp + "/offpipe").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_GT(mtime(hostPath(simboard::kBootMarkPath)), 1000000000);
    }
    EXPECT_EQ(entries(outside), std::set<std::string>{"keep"});
    EXPECT_EQ(readWholeFile(outside + "/keep"), "x");
    removeTree(outside);
}

TEST_F(SimBoardBoot, WorksOnTheRootTheEnvironmentNamesAndRefusesOtherCommands)
{
    // BENCHVIEW_SIMROOT wins over "simroot" beside the tool.
    const std::string besideTool = std::string(SIMBOARD_EXE).substr(0, std::string(SIMBOARD_EXE).rfind('/')) + "/simroot";
    const long long before = mtime(besideTool + simboard::kBootMarkPath);
    const std::string fresh = root_ + "/fresh";
    EXPECT_EQ(runTool({"boot"}, fresh), 0);
    EXPECT_GT(mtime(fresh + simboard::kBootMarkPath), 0);
    EXPECT_EQ(mtime(besideTool + simboard::kBootMarkPath), before);
    EXPECT_EQ(entries(fresh), std::set<std::string>{"sim"});  // not seeded by the tool

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"reboot"}, std::vector<std::string>{"boot", "now"}}) {
        std::string output;
        EXPECT_EQ(runTool(args, root_, &output), 2);
        EXPECT_NE(output.find("usage: simboard"), std::string::npos) << output;
    }
}

// The product reads its probes at the first start since a boot: its start-up marker is made
// again after each boot.
TEST_F(SimBoardBoot, ProductStartAfterABootReadsTheProbesAgain)
{
    ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, R"({"channels": [{"probe": {"id": "0x8001"}}]})"));
    const std::string marker = hostPath("/var/tmp/tavlinStarted");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(mtime(marker), -1);
        ASSERT_TRUE(process_.start(BENCHVIEW_EXE, BenchviewProcess::Options::headless(root_, portOffset_)));
        EXPECT_TRUE(process_.waitForPath(marker, 60s)) << process_.log();
        process_.kill();
        EXPECT_EQ(runTool({"boot"}, root_), 0);
    }
}

} // namespace
