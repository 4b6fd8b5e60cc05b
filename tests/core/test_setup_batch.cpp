// The batch directory applied at start: the defaults marker, links by their ending, the working
// directory left behind, the logger file name, deletions and the single mode request.
#include "tests/core/setup_fixture.h"

#include <algorithm>
#include <dirent.h>

namespace {

class BatchRecallTest : public SetupTest {
protected:
    void SetUp() override
    {
        SetupTest::SetUp();
        batch_ = hostPath(kBatchDir);
        ASSERT_EQ(mkdir(batch_.c_str(), 0777), 0);
        filesStandin().traceRecallResult = 0;
        filesStandin().functionRecallResult = 0;
        filesStandin().loggerRecallResult = 0;
    }

    void link(const std::string& name, const std::string& target)
    {
        ASSERT_EQ(symlink(target.c_str(), (batch_ + "/" + name).c_str()), 0) << name;
    }
    void makeDir(const char* boardDir) { ASSERT_EQ(mkdir(hostPath(boardDir).c_str(), 0777), 0); }

    // The entries of the batch directory in its own order.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> out;
        if (DIR* dir = opendir(batch_.c_str())) {
            while (const dirent* e = readdir(dir))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    out.push_back(e->d_name);
            closedir(dir);
        }
        return out;
    }
    static std::string cwd()
    {
        char buffer[4096];
        return getcwd(buffer, sizeof buffer) ? buffer : "";
    }
    static std::string modeRequest(uint16_t mode)
    {
        return requestText(pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, mode, 0.0f, senderValue(COMM_id)});
    }
    static std::vector<std::string> recalls()
    {
        std::vector<std::string> out;
        for (const TFileCall& c : filesStandin().calls)
            out.push_back(c.function + " " + c.name);
        return out;
    }

    std::string batch_;
};

TEST_F(BatchRecallTest, DefaultsMarkerAndATraceLinkAreBothAppliedAndRemoved)
{
    makeDir("/media/user/traces");
    ASSERT_TRUE(writeBoardFile("/media/user/traces/x.trc", "trace"));
    ASSERT_TRUE(writeBoardFile("/media/private/batch/defaultSetup", ""));
    link("x.trc", hostPath("/media/user/traces/x.trc"));
    ASSERT_TRUE(writeBoardFile("/media/private/batch/notes.txt", "left alone"));
    const std::vector<std::string> order = entries();
    data.timeBaseIndex = 3;

    // The defaults count as a success; the trace stand-in reports 0 too.
    EXPECT_EQ(batchRecall(15), 0);

    EXPECT_EQ(data.timeBaseIndex, init_par.timeBaseIndex);
    EXPECT_EQ(recalls(), std::vector<std::string>{"TraceRecallAll " + batch_ + "/x.trc"});
    EXPECT_EQ(entries(), std::vector<std::string>{"notes.txt"});
    EXPECT_TRUE(exists("/media/user/traces/x.trc"));
    // One request, with the mode of whichever came last.
    const bool traceLast = std::find(order.begin(), order.end(), "x.trc") > std::find(order.begin(), order.end(), "defaultSetup");
    EXPECT_EQ(inbox(), std::vector<std::string>{modeRequest(traceLast ? 16 : init_par.instrumentMode)});
    EXPECT_EQ(cwd(), hostPath("/media/user/traces"));
    EXPECT_EQ(std::string(data.loggerFileName), traceLast ? "x.trc" : std::string(init_par.loggerFileName));
}

TEST_F(BatchRecallTest, UpperCaseSetupLinkIsRecalledThroughTheLink)
{
    makeDir("/media/user/setups");
    database image = sampleImage();
    ASSERT_TRUE(writeBoardFile("/media/user/setups/Mine.CFG", fileBytes(image)));
    link("Mine.CFG", hostPath("/media/user/setups/Mine.CFG"));
    data.selfTestResult = 0xFFFF;

    EXPECT_EQ(batchRecall(9), 0);

    EXPECT_EQ(data.timeBaseIndex, 7);
    EXPECT_EQ(data.hwChannelMask, 9);
    EXPECT_EQ(data.selfTestResult, 0xFFFF);
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(inbox(), std::vector<std::string>{modeRequest(image.instrumentMode)});
    EXPECT_EQ(cwd(), hostPath("/media/user/setups"));
}

TEST_F(BatchRecallTest, EveryLinkIsHandledByItsPathAndRemoved)
{
    makeDir("/media/user/traces");
    makeDir("/media/user/functions");
    link("a.trc", hostPath("/media/user/traces/a.trc"));
    link("b.fct", hostPath("/media/user/functions/b.fct"));
    link("c.msk", hostPath("/media/user/traces/c.msk"));
    link("d.txt", hostPath("/media/user/traces/d.txt"));
    const std::vector<std::string> order = entries();
    filesStandin().traceRecallResult = 17;

    const int result = batchRecall(15);

    std::vector<std::string> expected;
    std::string lastDir;
    uint16_t mode = kNoBatchMode;
    int lastResult = 0;
    for (const std::string& name : order) {
        if (name == "b.fct") {
            expected.push_back("FunctionRecallAll " + batch_ + "/b.fct");
            mode = 16;
            lastResult = 0;
            lastDir = "/media/user/functions";
        } else {
            if (name != "d.txt") {
                expected.push_back("TraceRecallAll " + batch_ + "/" + name);
                lastResult = 17;
            }
            if (name == "a.trc")
                mode = 16;
            lastDir = "/media/user/traces";
        }
    }
    EXPECT_EQ(recalls(), expected);
    EXPECT_EQ(result, lastResult);
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(inbox(), std::vector<std::string>{modeRequest(mode)});
    EXPECT_EQ(cwd(), hostPath(lastDir.c_str()));
}

TEST_F(BatchRecallTest, RecorderLinkNamesTheLoggerFileWithinItsField)
{
    const std::string base(60, 'r');
    makeDir("/media/user/recordings");
    link("run.REC", hostPath("/media/user/recordings") + "/" + base + ".rec");
    std::memset(data.loggerFileName, 'z', sizeof data.loggerFileName);

    EXPECT_EQ(batchRecall(15), 0);

    EXPECT_EQ(std::string(data.loggerFileName), std::string(39, 'r'));
    EXPECT_EQ(recalls(), std::vector<std::string>{"LoggerRecallAll " + batch_ + "/run.REC"});
    EXPECT_EQ(inbox(), std::vector<std::string>{modeRequest(256)});
}

TEST_F(BatchRecallTest, OverlongLinkTargetIsCutAndTheLinkStillRemoved)
{
    makeDir("/media/user/traces");
    const std::string target = hostPath("/media/user/traces") + "/" + std::string(400, 't') + ".trc";
    link("long.trc", target);

    EXPECT_EQ(batchRecall(15), 0);

    // 299 characters of the target are read: its directory is entered, the name is cut.
    EXPECT_EQ(cwd(), hostPath("/media/user/traces"));
    EXPECT_EQ(std::string(data.loggerFileName), std::string(39, 't'));
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(inbox(), std::vector<std::string>{modeRequest(16)});
}

TEST_F(BatchRecallTest, EmptyOrMissingDirectoryChangesNothing)
{
    data.timeBaseIndex = 3;
    EXPECT_EQ(batchRecall(15), 0);
    EXPECT_EQ(cwd(), batch_);

    ASSERT_EQ(chdir(root_.c_str()), 0);
    ASSERT_EQ(rmdir(batch_.c_str()), 0);
    EXPECT_EQ(batchRecall(15), 0);
    EXPECT_EQ(cwd(), root_);

    EXPECT_EQ(data.timeBaseIndex, 3);
    EXPECT_TRUE(inbox().empty());
    EXPECT_TRUE(filesStandin().calls.empty());
}

} // namespace
