// Setup files: names and places of a save, the recall of good and bad files, the rebuild of the
// run-time links, the system-field copy and saves racing with the controller.
#include "tests/core/setup_fixture.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "board/sim/simboard.h"
#include "core/command_param.h"
#include "hardware/kalvex.h"
#include "tests/support/probes.h"

#include <atomic>
#include <csignal>
#include <dirent.h>
#include <set>
#include <sys/resource.h>
#include <thread>

namespace {

class SetupFileTest : public SetupTest {};

TEST_F(SetupFileTest, SaveNamesAndPlaces)
{
    const std::string n32(32, 'a');
    const std::string n33(33, 'a');
    const std::string longDir = std::string(40, 'd') + "/abc";
    struct Row {
        const char* name;
        bool inPrivate;
        bool sdCard;
        int result;
        std::string file;  // board path written, "" for none
    };
    const std::vector<Row> rows = {
        {"abc", false, false, 0, "/media/user/setups/abc.cfg"},
        {"abc.cfg", false, false, 0, "/media/user/setups/abc.cfg"},
        {"abc.CFG", false, false, 0, "/media/user/setups/abc.CFG.cfg"},
        {n32.c_str(), false, false, 0, "/media/user/setups/" + n32 + ".cfg"},
        {n33.c_str(), false, false, 23, ""},
        {"", false, false, 23, ""},
        {nullptr, false, false, 19, ""},
        // Judged by its last component only; its directory does not exist.
        {longDir.c_str(), false, false, 19, ""},
        {"setup", true, false, 0, "/media/private/setup.cfg"},
        {"/media/user/mine", false, false, 0, "/media/user/mine.cfg"},
        {"/media/user/nowhere/mine", false, false, 19, ""},
        {"abc", false, true, 0, "/media/user/sdcard_p1/setups/abc.cfg"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? row.name : "(null)");
        removeTree(hostPath("/media/user"));
        ASSERT_EQ(mkdir(hostPath("/media/user").c_str(), 0777), 0);
        if (row.sdCard) {
            mkdir(hostPath("/dev").c_str(), 0777);
            ASSERT_TRUE(writeBoardFile("/dev/mmcblk0p1", ""));
            ASSERT_EQ(mkdir(hostPath("/media/user/sdcard_p1").c_str(), 0777), 0);
        } else {
            ::unlink(hostPath("/dev/mmcblk0p1").c_str());
        }
        data.timeBaseIndex = 11;
        data.setupChecksum = 0;

        EXPECT_EQ(SetupSave(row.name, row.inPrivate, "my comment"), row.result);

        if (row.file.empty())
            continue;
        const std::string bytes = readHostFile(hostPath(row.file.c_str()));
        ASSERT_EQ(bytes.size(), 1360u);
        EXPECT_EQ(bytes.substr(0, 4), ".cfg");
        EXPECT_EQ(bytes.substr(62, 12), "my comment..");
        EXPECT_EQ(bytes.substr(126, 2), "\r\n");
        // The record follows with its checksum, which the live setup carries too.
        EXPECT_EQ(data.setupChecksum, setupChecksum(data));
        EXPECT_EQ(0, std::memcmp(bytes.data() + 128, &data, sizeof data));
    }
    // The setups directory was made where it was missing (no temporary file is left behind).
    struct stat st;
    ASSERT_EQ(stat(hostPath("/media/user/sdcard_p1/setups").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(readHostFile(hostPath("/media/user/sdcard_p1/setups/abc.cfg")).size(), 1360u);
}

TEST_F(SetupFileTest, SetupsDirectoryThatCannotBeMadeGives17AfterTheChecksum)
{
    ASSERT_TRUE(writeBoardFile("/media/user/setups", "a file where the directory should be"));
    data.setupChecksum = 0;
    EXPECT_EQ(SetupSave("abc", false, ""), 17);
    EXPECT_EQ(data.setupChecksum, setupChecksum(data));
    EXPECT_EQ(readHostFile(hostPath("/media/user/setups")), "a file where the directory should be");
}

TEST_F(SetupFileTest, FailingWriteKeepsThePreviousFile)
{
    data.timeBaseIndex = 4;
    ASSERT_EQ(SetupSave("setup", true, "good"), 0);
    const std::string good = readHostFile(hostPath("/media/private/setup.cfg"));
    ASSERT_EQ(good.size(), 1360u);

    // A medium that takes only 1000 bytes: the save fails part way.
    const int status = inChild([] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        data.timeBaseIndex = 9;
        ::_exit(SetupSave("setup", true, "bad"));
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 19);
    EXPECT_EQ(readHostFile(hostPath("/media/private/setup.cfg")), good);
    // Nothing else is left in the directory.
    std::set<std::string> names;
    if (DIR* dir = opendir(hostPath("/media/private").c_str())) {
        while (const dirent* e = readdir(dir))
            names.insert(e->d_name);
        closedir(dir);
    }
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "setup.cfg"}));
}

TEST_F(SetupFileTest, RecallTakesOnlyAWholeGoodFile)
{
    const database image = sampleImage();
    const std::string good = fileBytes(image);
    std::string changed = good;
    changed[128 + 700] ^= 0x01;
    struct Row {
        const char* what;
        bool present;
        std::string bytes;
        int result;
    };
    const Row rows[] = {
        {"missing", false, "", 18},
        {"1359 bytes", true, good.substr(0, 1359), 20},
        {"1361 bytes", true, good + "x", 20},
        {"one byte changed", true, changed, 20},
        {"good", true, good, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ::unlink(hostPath("/media/user/s.cfg").c_str());
        if (row.present) {
            ASSERT_TRUE(writeBoardFile("/media/user/s.cfg", row.bytes));
        }
        std::memcpy(&data, &init_par, sizeof data);
        data.selfTestResult = 0x1234;
        data.validChannelMask = 0;
        data.timeBaseIndex = 11;
        database before;
        std::memcpy(&before, &data, sizeof before);

        EXPECT_EQ(SetupRecall("/media/user/s.cfg", false, 15), row.result);

        if (row.result != 0) {
            // A refused load changes nothing.
            EXPECT_EQ(std::memcmp(&data, &before, sizeof data), 0);
            continue;
        }
        EXPECT_EQ(data.timeBaseIndex, image.timeBaseIndex);
        EXPECT_EQ(data.sensitivityCh1, image.sensitivityCh1);
        EXPECT_EQ(data.instrumentMode, image.instrumentMode);
        // The running self test, never the file's; the masks from the hardware.
        EXPECT_EQ(data.selfTestResult, 0x1234);
        EXPECT_EQ(data.hwChannelMask, 15);
        EXPECT_EQ(data.validChannelMask, 1039);
    }
    EXPECT_EQ(SetupRecall(nullptr, false, 15), 18);
    EXPECT_EQ(data.timeBaseIndex, init_par.timeBaseIndex);
}

TEST_F(SetupFileTest, RecallSetsTheMasksOfTheTwoChannelModel)
{
    ASSERT_TRUE(simboard::install());
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    database image = sampleImage();
    image.hwChannelMask = 15;
    image.validChannelMask = 1039;
    image.setupChecksum = setupChecksum(image);
    ASSERT_TRUE(writeBoardFile("/media/user/s.cfg", fileBytes(image)));
    EXPECT_EQ(SetupRecall("/media/user/s.cfg", false, 9), 0);
    EXPECT_EQ(data.hwChannelMask, 9);
    EXPECT_EQ(data.validChannelMask, 1033);
    simboard::uninstall();
}

TEST_F(SetupFileTest, RecalledSetupNeverLocksTestsOrShowsStoredTraces)
{
    database image = sampleImage();
    image.keyLock = 1;
    image.keyHelpOn = 1;
    image.refShownCh2 = 1;
    image.memoryTraceCh3 = 1;
    image.refCapture = 255;
    image.passFailRunStop = 1;
    image.passFailOn = 1;
    image.passFailMaskIsMemory = 1;
    image.cursor1Time = 101;
    image.cursor2Time = 102;
    image.cursor1Level = 103;
    image.cursor2Level = 104;
    image.cursor3Time = 105;
    image.xyCursor1X = 106;
    image.xyCursor2X = 107;
    image.setupChecksum = setupChecksum(image);
    ASSERT_TRUE(writeBoardFile("/media/user/s.cfg", fileBytes(image)));

    ASSERT_EQ(SetupRecall("/media/user/s.cfg", true, 15), 0);

    EXPECT_EQ(data.keyLock, 0);
    EXPECT_EQ(data.keyHelpOn, 0);
    EXPECT_EQ(data.refShownCh2, 0);
    EXPECT_EQ(data.memoryTraceCh3, 0);
    EXPECT_EQ(data.refCapture, 0);
    EXPECT_EQ(data.passFailRunStop, 0);
    EXPECT_EQ(data.passFailOn, 0);
    EXPECT_EQ(data.passFailMaskIsMemory, 0);
    // Cursor table, measurement and harmonic tables are linked and reset.
    const TSetupLinks& l = setupLinks();
    ASSERT_NE(l.cursorTablePtr, nullptr);
    EXPECT_EQ(std::vector<int32_t>(l.cursorTablePtr, l.cursorTablePtr + 7),
              (std::vector<int32_t>{101, 102, 103, 104, 105, 106, 107}));
    ASSERT_NE(l.measResultsPtr, nullptr);
    ASSERT_NE(l.harmonicResultsPtr, nullptr);
    for (int r = 0; r < kHarmonicRecords; ++r) {
        uint32_t word;
        std::memcpy(&word, reinterpret_cast<const unsigned char*>(l.harmonicResultsPtr) + r * kHarmonicRecordSize,
                    sizeof word);
        EXPECT_EQ(word, 1u) << r;
    }
    // The channel flags are rebuilt after the clearing: shown channels only.
    const int shown = (image.traceOnCh1 ? 1 : 0) | (image.traceOnCh2 ? 2 : 0) | (image.traceOnCh3 ? 4 : 0)
        | (image.traceOnCh4 ? 8 : 0);
    EXPECT_EQ(data.channelFlags, shown);
}

TEST_F(SetupFileTest, PostTreatmentCreatesOnceAndKeepsTheLinks)
{
    TSetupLinks& l = setupLinks();
    linkProbe(1, 7);
    database image;
    std::memcpy(&image, &init_par, sizeof image);
    image.meterFunction = 9;

    // A fresh recall makes every object and forgets the probes.
    EXPECT_EQ(SetupRecallPostTraitement(&image, true, 9, 0), 0);
    EXPECT_EQ(smartProbeLink(1), nullptr);
    TAcquisition* traces[] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4, l.refAcqCh1, l.refAcqCh2,
                              l.refAcqCh3, l.refAcqCh4, l.powerAcq, l.maskAcq};
    const uint16_t ids[] = {1, 2, 4, 8, 16, 32, 64, 128, 8192, 4096};
    for (size_t i = 0; i < std::size(traces); ++i) {
        ASSERT_NE(traces[i], nullptr) << i;
        EXPECT_EQ(traces[i]->identifier, ids[i]);
    }
    TFonction* functions[] = {l.mathFunctionCh1, l.mathFunctionCh2, l.mathFunctionCh3, l.mathFunctionCh4,
                              l.powerFunctionA, l.powerFunctionB};
    const uint16_t functionIds[] = {0, 1, 2, 3, 8, 9};
    for (size_t i = 0; i < std::size(functions); ++i) {
        ASSERT_NE(functions[i], nullptr) << i;
        EXPECT_EQ(functions[i]->identifier, functionIds[i]);
    }
    // Channels 2 and 3 are not fitted and have no function: they show divisions.
    EXPECT_EQ(std::string(data.unitCh1, strnlen(data.unitCh1, 4)), std::string(init_par.unitCh1, strnlen(init_par.unitCh1, 4)));
    EXPECT_EQ(std::string(data.unitCh2, 4), std::string("div\0", 4));
    EXPECT_EQ(std::string(data.unitCh3, 4), std::string("div\0", 4));
    EXPECT_EQ(data.hwChannelMask, 9);
    // Every live and reference trace and the mask are cleared, the auxiliary trace is not.
    std::multiset<uint16_t> cleared;
    for (const TTraceCall& c : traceCallLog().calls)
        if (c.kind == TTraceCall::RazSignalNormalise && c.all)
            cleared.insert(c.identifier);
    EXPECT_EQ(cleared, (std::multiset<uint16_t>{1, 2, 4, 8, 16, 32, 64, 128, 4096}));
    // The power functions are set for the recalled meter function.
    char text[128] = {};
    EXPECT_STREQ(l.powerFunctionA->GetFonctionString(text, false), "(ch1*ch2)/divv(4)");
    EXPECT_STREQ(l.powerFunctionB->GetFonctionString(text, false), "(ch3*ch4)/divv(4)");

    // A later recall keeps every object and the probe links, and re-applies the probe's
    // coefficient and unit; channel 2's function feeds it.
    TSetupLinks before = l;
    const std::shared_ptr<TKalvex> probe = linkProbe(1, 0x0009);  // a temperature adapter
    std::strcpy(image.mathExprCh2, "ch1+ch4");
    std::memcpy(image.unitCh2, "V\0\0\0", 4);
    image.probeCoeffCh2 = 1.0f;
    EXPECT_EQ(SetupRecallPostTraitement(&image, false, 9, 0), 0);
    EXPECT_EQ(0, std::memcmp(&before, &l, sizeof before));
    EXPECT_EQ(smartProbeLink(1), probe);
    EXPECT_EQ(data.probeCoeffCh2, 500.0f);
    EXPECT_EQ(std::string(data.unitCh2, 4), std::string("\xC2\xB0" "C\0", 4));
    EXPECT_TRUE(l.mathFunctionCh2->IsDefined());
    EXPECT_EQ(std::string(l.mathFunctionCh2->text), "ch1+ch4");
}

TEST_F(SetupFileTest, PostTreatmentWithSkipChangesNothing)
{
    database image;
    std::memset(&image, 0x5A, sizeof image);
    const database before = data;
    EXPECT_EQ(SetupRecallPostTraitement(&image, true, 15, 3), 3);
    EXPECT_EQ(0, std::memcmp(&before, &data, sizeof data));
    EXPECT_EQ(setupLinks().acqCh1, nullptr);
}

TEST_F(SetupFileTest, SystemCopyTakesExactlyTheSystemFields)
{
    const int fields[] = {param::measResultsPtr, param::cursorTablePtr, param::keyLock, param::instrumentMode,
                          param::unitCh1, param::unitCh2, param::unitCh3, param::unitCh4, param::probeCoeffCh1,
                          param::probeCoeffCh2, param::probeCoeffCh3, param::probeCoeffCh4,
                          param::displayBrightness, param::deviceError, param::loggerFileName,
                          param::selfTestResult, param::validChannelMask, param::traceColorCh1,
                          param::traceColorCh2, param::traceColorCh3, param::traceColorCh4,
                          param::smartProbeCh1, param::smartProbeCh2, param::smartProbeCh3,
                          param::smartProbeCh4, param::hwChannelMask, param::busFileName, param::busDiag};
    std::vector<bool> copied(sizeof(database), false);
    for (int f : fields)
        for (unsigned b = 0; b < type_par[f]; ++b)
            copied[adr_par[f] + b] = true;

    database source;
    database target;
    auto* s = reinterpret_cast<unsigned char*>(&source);
    for (size_t i = 0; i < sizeof source; ++i)
        s[i] = static_cast<unsigned char>(0x80 | (i * 7));
    std::memset(&target, 0, sizeof target);

    SetupSystemCopy(&target, &source);

    const auto* t = reinterpret_cast<const unsigned char*>(&target);
    int wrong = 0;
    for (size_t i = 0; i < sizeof target; ++i) {
        if (t[i] != (copied[i] ? s[i] : 0) && ++wrong <= 5)
            ADD_FAILURE() << "byte " << i << (copied[i] ? " not copied" : " copied");
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(SetupFileTest, SaveRacingWithTheControllerAlwaysWritesARecallableFile)
{
    std::atomic<bool> stop{false};
    std::thread controller([&] {
        for (int32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            data.sweepOffset = i;
            std::memset(data.mathExprCh1, 'a' + i % 26, sizeof data.mathExprCh1 - 1);
            data.trigLevelCh2 = static_cast<int16_t>(i);
        }
    });
    int bad = 0;
    for (int n = 0; n < 200; ++n) {
        ASSERT_EQ(SetupSave("race", true, ""), 0);
        const std::string bytes = readHostFile(hostPath("/media/private/race.cfg"));
        ASSERT_EQ(bytes.size(), 1360u);
        database image;
        std::memcpy(&image, bytes.data() + 128, sizeof image);
        if (setupChecksum(image) != image.setupChecksum)
            ++bad;
    }
    stop = true;
    controller.join();
    EXPECT_EQ(bad, 0);
    // And the last one recalls.
    EXPECT_EQ(SetupRecall("/media/private/race.cfg", false, 15), 0);
}

} // namespace
