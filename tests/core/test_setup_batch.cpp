// The batch directory applied at start: the defaults marker, links by their ending, the working
// directory left behind, the logger file name, deletions and the single mode request.
#include "tests/core/setup_fixture.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"

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
        // The traces and functions the recalls fill.
        TSetupLinks& l = setupLinks();
        TAcquisition** traces[4] = {&l.acqCh1, &l.acqCh2, &l.acqCh3, &l.acqCh4};
        TFonction** functions[4] = {&l.mathFunctionCh1, &l.mathFunctionCh2, &l.mathFunctionCh3, &l.mathFunctionCh4};
        static char none[] = "";
        for (int n = 0; n < 4; ++n) {
            *traces[n] = new TAcquisition(static_cast<unsigned short>(1u << n));
            *functions[n] = new TFonction(static_cast<unsigned short>(n), none);
        }
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
    std::string batch_;
};

TEST_F(BatchRecallTest, DefaultsMarkerAndATraceLinkAreBothAppliedAndRemoved)
{
    makeDir("/media/user/traces");
    // A trace file of channel 2: header, mask, one record of zeros.
    ASSERT_TRUE(writeBoardFile("/media/user/traces/x.trc",
                               ".trc" + std::string(124, '.') + std::string("\x02\x00", 2) + std::string(400064, '\0')));
    ASSERT_TRUE(writeBoardFile("/media/private/batch/defaultSetup", ""));
    link("x.trc", hostPath("/media/user/traces/x.trc"));
    ASSERT_TRUE(writeBoardFile("/media/private/batch/notes.txt", "left alone"));
    const std::vector<std::string> order = entries();
    data.timeBaseIndex = 3;

    // The defaults count as a success, and so does the trace.
    EXPECT_EQ(batchRecall(15), 0);

    const bool traceLast = std::find(order.begin(), order.end(), "x.trc") > std::find(order.begin(), order.end(), "defaultSetup");
    EXPECT_EQ(data.timeBaseIndex, traceLast ? 0 : init_par.timeBaseIndex);
    EXPECT_EQ(data.memoryTraceCh2, traceLast ? 1 : init_par.memoryTraceCh2);
    EXPECT_EQ(entries(), std::vector<std::string>{"notes.txt"});
    EXPECT_TRUE(exists("/media/user/traces/x.trc"));
    // One request, with the mode of whichever came last.
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

// A load of a damaged or missing setup (a remote or screen load goes through the batch) changes
// nothing of the live setup and asks for no mode; the link goes all the same.
TEST_F(BatchRecallTest, RefusedSetupLoadLeavesTheLiveSetupAsItWas)
{
    makeDir("/media/user/setups");
    const std::string good = fileBytes(sampleImage());
    std::string changed = good;
    changed[600] ^= 0x10;
    struct Row {
        const char* what;
        bool present;
        std::string bytes;
        int result;
    };
    const Row rows[] = {
        {"cut", true, good.substr(0, 700), 20},
        {"one byte changed", true, changed, 20},
        {"zeros", true, std::string(1360, '\0'), 20},
        {"missing", false, "", 18},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ::unlink(hostPath("/media/user/setups/trunc.cfg").c_str());
        if (row.present) {
            ASSERT_TRUE(writeBoardFile("/media/user/setups/trunc.cfg", row.bytes));
        }
        link("trunc.cfg", hostPath("/media/user/setups/trunc.cfg"));
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 16;
        data.traceOnCh2 = 1;
        data.trigLevelCh1 = 131;
        data.memoryTraceCh1 = 1;
        // Every link names its target's file for the recorder, applied or not.
        std::memset(data.loggerFileName, 0, sizeof data.loggerFileName);
        std::strcpy(data.loggerFileName, "trunc.cfg");
        database before;
        std::memcpy(&before, &data, sizeof before);

        EXPECT_EQ(batchRecall(15), row.result);
        EXPECT_EQ(std::memcmp(&data, &before, sizeof data), 0);
        EXPECT_TRUE(inbox().empty());
        EXPECT_TRUE(entries().empty());
    }
    // The defaults asked for are still taken.
    data.traceOnCh2 = 1;
    EXPECT_EQ(SetupRecall(nullptr, false, 15), 18);
    EXPECT_EQ(data.traceOnCh2, init_par.traceOnCh2);
}

TEST_F(BatchRecallTest, EveryLinkIsHandledByItsPathAndRemoved)
{
    makeDir("/media/user/traces");
    makeDir("/media/user/functions");
    link("a.trc", hostPath("/media/user/traces/a.trc"));
    link("b.fct", hostPath("/media/user/functions/b.fct"));
    link("c.msk", hostPath("/media/user/traces/c.msk"));
    link("d.txt", hostPath("/media/user/traces/d.txt"));
    // Only the function file exists: the trace and mask recalls cannot open theirs.
    ASSERT_TRUE(writeBoardFile("/media/user/functions/b.fct", std::string(128, '.') + "1\r\nch1*2\r\n"));
    const std::vector<std::string> order = entries();

    const int result = batchRecall(15);

    std::string lastDir;
    uint16_t mode = kNoBatchMode;
    int lastResult = 0;
    for (const std::string& name : order) {
        if (name == "b.fct") {
            mode = 16;
            lastResult = 0;
            lastDir = "/media/user/functions";
        } else {
            if (name != "d.txt")
                lastResult = 17;
            if (name == "a.trc")
                mode = 16;
            lastDir = "/media/user/traces";
        }
    }
    EXPECT_EQ(result, lastResult);
    EXPECT_STREQ(data.mathExprCh1, "ch1*2");
    EXPECT_EQ(data.traceOnCh1, 1);
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(inbox(), std::vector<std::string>{modeRequest(mode)});
    EXPECT_EQ(cwd(), hostPath(lastDir.c_str()));
}

TEST_F(BatchRecallTest, BoardAbsoluteTargetIsReadUnderTheBoardRoot)
{
    makeDir("/media/user/functions");
    ASSERT_TRUE(writeBoardFile("/media/user/functions/f.fct", std::string(128, '.') + "2\r\nch1*3\r\n"));
    link("f.fct", "/media/user/functions/f.fct");

    EXPECT_EQ(batchRecall(15), 0);

    EXPECT_STREQ(data.mathExprCh2, "ch1*3");
    EXPECT_EQ(data.traceOnCh2, 1);
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(cwd(), hostPath("/media/user/functions"));
}

TEST_F(BatchRecallTest, RecorderLinkNamesTheLoggerFileWithinItsField)
{
    const std::string base(60, 'r');
    makeDir("/media/user/recordings");
    link("run.REC", hostPath("/media/user/recordings") + "/" + base + ".rec");
    std::memset(data.loggerFileName, 'z', sizeof data.loggerFileName);

    // The recording itself is missing: the recall reports it and leaves the name.
    EXPECT_EQ(batchRecall(15), 17);

    EXPECT_EQ(std::string(data.loggerFileName), std::string(39, 'r'));
    EXPECT_EQ(inbox(), std::vector<std::string>{modeRequest(256)});
}

TEST_F(BatchRecallTest, OverlongLinkTargetIsCutAndTheLinkStillRemoved)
{
    makeDir("/media/user/traces");
    const std::string target = hostPath("/media/user/traces") + "/" + std::string(400, 't') + ".trc";
    link("long.trc", target);

    EXPECT_EQ(batchRecall(15), 17);

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
}

} // namespace
