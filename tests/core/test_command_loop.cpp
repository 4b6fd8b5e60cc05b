// One pass of the controller loop per record: activity mark, meter hold, request key, screen
// saver, every request kind, and the completion of SCPI requests.
#include "tests/core/command_fixture.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acquisit.h"
#include "core/scale.h"
#include "hardware/CmdesBase.h"
#include "hardware/handshake.h"
#include "network/requestkey.h"
#include "ui/viewer/viewereventlistfactory.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <chrono>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// Identities of threads that do not run in these tests: any distinct non-zero values.
const pthread_t kFakeScpi = static_cast<pthread_t>(0x5C01);
const pthread_t kFakeKeys = static_cast<pthread_t>(0x7A01);
const pthread_t kFakeWeb = static_cast<pthread_t>(0x3E01);
const pthread_t kFakeRealTime = static_cast<pthread_t>(0x47A1);
const pthread_t kFakeAcquisit = static_cast<pthread_t>(0xAC01);

class CommandLoopTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        COMM_id = pthread_self();
        SCPI_id = kFakeScpi;
        TRAD_id = kFakeKeys;
        tWEBSd_id = kFakeWeb;
        RTAC_id = kFakeRealTime;
        ACQU_id = kFakeAcquisit;
    }

    static intptr_t scpi() { return senderValue(SCPI_id); }
    static intptr_t keys() { return senderValue(TRAD_id); }
    static intptr_t web() { return senderValue(tWEBSd_id); }
    static intptr_t realTime() { return senderValue(RTAC_id); }
    static intptr_t comm() { return senderValue(COMM_id); }

    static pipe_dial record(uint16_t kind, int32_t code, intptr_t aux, intptr_t value, intptr_t sender)
    {
        return pipe_dial{kind, code, aux, value, 0.0f, sender};
    }

    static void apply(pipe_dial r) { applyRequest(r); }

    // The real-time thread (idle: the record acquires nothing), so that suspends return; it takes
    // the place of the fake identity.
    static void startRealTimeStandin()
    {
        RTAC_id = 0;
        ASSERT_EQ(startAcquisitionThread(&RTAC_id, startacq, nullptr, 15, "startacq"), 0);
    }

    static bool waitResumes(size_t count)
    {
        return acquisitLogWait([count](const TAcquisitLog& s) { return s.resumes.size() >= count; }, 5000);
    }

    static int releases() { return scpiReleases(); }

    std::vector<std::string> messages() { return bridge()->callsStartingWith("screenMessage("); }

    std::string autoOff() const { return readHostFile(hostPath("/var/tmp/auto_off")); }
};

// --- Sender matching ------------------------------------------------------------------------

TEST_F(CommandLoopTest, SenderMatchingNeverTakesAnUnwrittenIdentityForTheUserInterface)
{
    EXPECT_TRUE(isSender(0, MENU_id));
    EXPECT_FALSE(isSender(-1, MENU_id));
    EXPECT_TRUE(isSender(scpi(), SCPI_id));
    EXPECT_FALSE(isSender(keys(), SCPI_id));

    SCPI_id = 0;
    RTAC_id = 0;
    EXPECT_FALSE(isSender(0, SCPI_id));
    EXPECT_FALSE(isSender(0, RTAC_id));

    // A user-interface record before the SCPI thread exists: no release.
    apply(record(0, 0, 0, 0, 0));
    EXPECT_EQ(releases(), 0);
    // A failed trace save from the user interface before the real-time thread exists: no hold.
    startRealTimeStandin();
    RTAC_id = 0;
    apply(record(REQ_FILE, fileTraceSave, 0, 0, 0));
    EXPECT_TRUE(drain(o_g_consMessageBox).empty());
}

// --- Step 2: user activity ------------------------------------------------------------------

TEST_F(CommandLoopTest, ActivityMarkOnlyForUserSenders)
{
    struct Row {
        const char* who;
        intptr_t sender;
        bool marks;
    };
    const Row rows[] = {
        {"keys", keys(), true},       {"menu", 0, true},           {"scpi", scpi(), true},
        {"web", web(), true},         {"real-time", realTime(), false}, {"timer", kSenderTimer, false},
        {"controller", comm(), false}, {"acquisit", senderValue(ACQU_id), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.who);
        ASSERT_TRUE(writeBoardFile("/var/tmp/auto_off", ""));
        apply(record(0, 0, 0, 0, row.sender));
        EXPECT_EQ(autoOff(), row.marks ? " " : "");
    }
}

TEST_F(CommandLoopTest, ActivityMarkNeverCreatesTheFile)
{
    apply(record(0, 0, 0, 0, keys()));
    struct stat st;
    EXPECT_NE(stat(hostPath("/var/tmp/auto_off").c_str(), &st), 0);
}

// --- Step 3: held meter ---------------------------------------------------------------------

TEST_F(CommandLoopTest, HeldMeterRunsAgainInsteadOfAKeyOrTouchRequest)
{
    for (intptr_t sender : {keys(), intptr_t{0}}) {
        data.instrumentMode = 128;
        data.acqRunStop = 1;
        data.traceOnCh1 = 0;
        apply(record(REQ_SET_PARAM, param::traceOnCh1, 7, 1, sender));
        EXPECT_EQ(data.acqRunStop, 0);
        EXPECT_EQ(data.traceOnCh1, 0);
        EXPECT_TRUE(drain(o_g_consMessageBox).empty());
    }
}

TEST_F(CommandLoopTest, HeldMeterAppliesAnScpiRequestAfterTheRunAndReleasesOnce)
{
    // A setting that restarts nothing, so that the SCPI request completes in its own pass.
    data.instrumentMode = 128;
    data.acqRunStop = 1;
    data.keyLock = 0;
    const pipe_dial original = record(REQ_SET_PARAM, param::keyLock, 7, 1, scpi());
    apply(original);

    EXPECT_EQ(data.acqRunStop, 0);
    EXPECT_EQ(data.keyLock, 0);
    EXPECT_EQ(releases(), 0);
    const auto queued = drain(o_g_consMessageBox);
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0], original);

    apply(queued[0]);
    EXPECT_EQ(data.keyLock, 1);
    EXPECT_EQ(releases(), 1);
    EXPECT_FALSE(b_g_scpiOrigin);
}

TEST_F(CommandLoopTest, HeldMeterLeavesProbeEventsAndOtherSendersAlone)
{
    data.instrumentMode = 128;
    data.acqRunStop = 1;
    apply(record(REQ_SET_PARAM, param::traceOnCh1, 0, 1, web()));
    EXPECT_EQ(data.traceOnCh1, 1);
    EXPECT_EQ(data.acqRunStop, 1);

    startRealTimeStandin();
    simboard::clearLog();
    apply(record(REQ_PROBE_EVENT, 0, 0, 0, keys()));
    EXPECT_EQ(data.acqRunStop, 1);
    EXPECT_EQ(probeBusesRead(), std::vector<int>{0});
}

// --- Step 4: request key ----------------------------------------------------------------------

TEST_F(CommandLoopTest, RequestKeyRenewedForKeyScreenAndScpiSettingsOnly)
{
    struct Row {
        const char* who;
        uint16_t kind;
        intptr_t sender;
        bool renews;
    };
    const Row rows[] = {
        {"keys", REQ_SET_PARAM, keys(), true},    {"menu", REQ_SET_PARAM, 0, true},
        {"scpi", REQ_SET_PARAM, scpi(), true},    {"web", REQ_SET_PARAM, web(), false},
        {"timer", REQ_SET_PARAM, kSenderTimer, false}, {"keys, other kind", REQ_SCREEN, keys(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.who);
        const int32_t before = l_g_requestKey.load();
        apply(record(row.kind, param::spareWord1, 0, 1, row.sender));
        EXPECT_EQ(l_g_requestKey.load() != before, row.renews);
    }
}

// --- Step 5: screen saver -----------------------------------------------------------------------

TEST_F(CommandLoopTest, ScreenSaverOnKeyAndTouchOnlyWakeIt)
{
    const pipe_dial wake{REQ_SCREEN_SAVER, 3, 0, 0, 0.0f, kSenderTimer};
    for (intptr_t sender : {keys(), intptr_t{0}}) {
        ScreenSaverActif = 1;
        data.traceOnCh1 = 0;
        bridge()->clear();
        apply(record(REQ_SET_PARAM, param::traceOnCh1, 0, 1, sender));
        EXPECT_EQ(data.traceOnCh1, 0);
        EXPECT_TRUE(bridge()->calls().empty());
        EXPECT_EQ(drain(o_g_consMessageBox), std::vector<pipe_dial>{wake});
    }
    EXPECT_EQ(ScreenSaverActif.load(), 1);  // the wake-up record turns it off in its own pass
}

TEST_F(CommandLoopTest, ScreenSaverOnScpiAndWebRequestsWakeItAndAreApplied)
{
    const pipe_dial wake{REQ_SCREEN_SAVER, 3, 0, 0, 0.0f, kSenderTimer};
    for (intptr_t sender : {scpi(), web()}) {
        ScreenSaverActif = 1;
        data.keyLock = 0;
        apply(record(REQ_SET_PARAM, param::keyLock, 0, 1, sender));
        EXPECT_EQ(data.keyLock, 1);
        EXPECT_EQ(drain(o_g_consMessageBox), std::vector<pipe_dial>{wake});
    }
    EXPECT_EQ(releases(), 1);
}

TEST_F(CommandLoopTest, ScreenSaverOnOtherSendersNeitherWakeNorDrop)
{
    ScreenSaverActif = 1;
    apply(record(REQ_SET_PARAM, param::traceOnCh1, 0, 1, realTime()));
    EXPECT_EQ(data.traceOnCh1, 1);
    EXPECT_TRUE(drain(o_g_consMessageBox).empty());
}

TEST_F(CommandLoopTest, ScreenSaverRequestCodes)
{
    struct Row {
        uint8_t before;
        int32_t code;
        uint8_t after;
    };
    const Row rows[] = {{0, 1, 1}, {1, 3, 0}, {0, 5, 1}, {1, 5, 0}, {1, 7, 1}, {0, 7, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.before) + " code " + std::to_string(row.code));
        simboard::clearHistories();
        ScreenSaverActif = row.before;
        data.channelFlags = 0xFFFF;  // rebuilt from the switches only by the wake-up
        apply(record(REQ_SCREEN_SAVER, row.code, 0, 0, kSenderTimer));
        EXPECT_EQ(ScreenSaverActif.load(), row.after);
        // One screen-saver switch, on or off (gpio144 follows it).
        const auto saver = simboard::gpioHistory(144);
        ASSERT_EQ(saver.size(), 1u);
        EXPECT_EQ(saver[0].text, row.after ? "1" : "0");
        EXPECT_EQ(data.channelFlags == 0xFFFF, row.code != 3);
        const auto sent = drain(o_g_acquMessageBox);
        if (row.after)
            EXPECT_TRUE(sent.empty());
        else
            EXPECT_EQ(sent, (std::vector<TLongArray>{{38, CH_ALL, ACQ_RESTART_CLEAR, comm()}}));
    }
}

// --- REQ_FILE -----------------------------------------------------------------------------------

TEST_F(CommandLoopTest, FileActionsWriteOrReadTheirFileShowTheirMessagesAndRestart)
{
    static char name[] = "/media/user/traces/run 1.trc";
    static char comment[] = "note";
    struct Row {
        int32_t action;
        const char* file;  // written or read by the action, "" for none
        long size;
        std::vector<std::string> screen;
        std::vector<TLongArray> restart;
    };
    const std::vector<Row> rows = {
        {fileTraceSave, "run 1.trc", 800258, {"screenMessage(14,run 1.trc)", "screenMessage(0,)"}, {}},
        {fileSetupSave, "run 1.trc.cfg", 1360, {"screenMessage(14,run 1.trc)"}, {}},
        {fileFunctionSave, "run 1.trc.fct", 128 + 3 + 9, {"screenMessage(14,run 1.trc)"}, {}},
        {fileHarmonicSave, "run 1.trc.txt", 300, {"screenMessage(14,run 1.trc)"}, {}},
        {fileMaskSave, "run 1.trc.msk", 400194, {"screenMessage(14,run 1.trc)", "screenMessage(0,)"}, {}},
        {fileTraceRecall, "run 1.trc", 800258, {}, {{214, CH_MASK_TRACE, ACQ_RESTART_CLEAR, 0}}},
        {fileBatchRecall, "", 0, {}, {{8, CH_ALL, ACQ_RESTART_CLEAR, 0}}},
    };
    // Everything lands beside the traces; the batch directory is there but empty.
    ASSERT_EQ(mkdir(hostPath("/media/user/traces").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(hostPath("/media/private/batch").c_str(), 0777), 0);
    ASSERT_TRUE(writeBoardFile("/media/private/harmonic.txt", std::string(300, 'h')));
    const TLinks links = linkEverything();
    data.channelFlags = 3;
    static char function[] = "ch1+ch2";
    ASSERT_TRUE(links.function[0]->SetFonctionString(function, false));
    data.memoryTraceCh2 = 0;
    startRealTimeStandin();
    size_t resumes = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.action);
        bridge()->clear();
        apply(record(REQ_FILE, row.action, reinterpret_cast<intptr_t>(comment), reinterpret_cast<intptr_t>(name), 0));

        EXPECT_EQ(bridge()->calls(), row.screen);
        if (*row.file) {
            struct stat st;
            ASSERT_EQ(stat((hostPath("/media/user/traces") + "/" + row.file).c_str(), &st), 0);
            EXPECT_EQ(st.st_size, row.size);
        }
        std::vector<TLongArray> expected = row.restart;
        for (auto& m : expected)
            m.senderId = comm();
        EXPECT_EQ(drain(o_g_acquMessageBox), expected);
        // Suspended and resumed with 2 around the work.
        ASSERT_TRUE(waitResumes(++resumes));
        EXPECT_EQ(acquisitLog().resumes.back(), SYNCHRO_RESUME);
    }
    // The recall took the saved channels as memories.
    EXPECT_EQ(data.memoryTraceCh2, 1);
    EXPECT_EQ(links.channel[1]->identifier, 512);
    // The batch recall ran: it leaves the process in the batch directory.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), hostPath("/media/private/batch"));
    EXPECT_EQ(acquisitLog().resumes.size(), rows.size());
}

TEST_F(CommandLoopTest, FileMessageShowsTheBaseName)
{
    startRealTimeStandin();
    struct Row {
        const char* name;
        const char* shown;
    };
    for (const Row row : {Row{"plain", "plain"}, Row{"/a/b/c.trc", "c.trc"}, Row{"dir/", ""}, Row{nullptr, ""},
                          Row{"mesure-\xc3\xa9t\xc3\xa9", "mesure-\xc3\xa9t\xc3\xa9"}}) {
        bridge()->clear();
        apply(record(REQ_FILE, fileFunctionSave, 0, reinterpret_cast<intptr_t>(row.name), 0));
        ASSERT_FALSE(bridge()->calls().empty());
        EXPECT_EQ(bridge()->calls().front(), std::string("screenMessage(14,") + row.shown + ")");
        // A missing name reaches the file function, which reports it; otherwise there is no
        // function to save.
        EXPECT_EQ(bridge()->calls().back(), row.name ? "screenMessage(24,)" : "screenMessage(19,)");
    }
}

TEST_F(CommandLoopTest, HarmonicCopyWithoutANameFailsWithoutTheCopy)
{
    startRealTimeStandin();
    ASSERT_TRUE(writeBoardFile("/media/private/harmonic.txt", std::string(300, 'h')));
    apply(record(REQ_FILE, fileHarmonicSave, 0, 0, 0));
    EXPECT_EQ(messages().back(), "screenMessage(19,)");
    struct stat st;
    EXPECT_NE(stat(hostPath("/media/user/harmonic").c_str(), &st), 0);
}

TEST_F(CommandLoopTest, FileResultReportFollowsTheSender)
{
    startRealTimeStandin();
    struct Row {
        const char* who;
        intptr_t sender;
        int result;
        int deviceError;  // -1: unchanged
        std::vector<std::string> screen;
        std::vector<int> pauses;
    };
    const Row rows[] = {
        {"scpi failure", scpi(), 20, 22, {}, {}},
        {"scpi success", scpi(), 0, 0, {}, {}},
        {"menu failure", 0, 20, -1, {"screenMessage(20,)"}, {100}},
        {"menu success", 0, 0, -1, {}, {}},
    };
    // A trace file of no channel recalls nothing and succeeds; one cut in its mask fails.
    const std::string header = ".trc" + std::string(124, '.');
    ASSERT_TRUE(writeBoardFile("/media/user/empty.trc", header + std::string(2, '\0')));
    ASSERT_TRUE(writeBoardFile("/media/user/cut.trc", header + "."));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.who);
        data.deviceError = 5;
        bridge()->clear();
        TPauseLog::instance().clear();
        const char* path = row.result == 0 ? "/media/user/empty.trc" : "/media/user/cut.trc";
        apply(record(REQ_FILE, fileTraceRecall, 0, reinterpret_cast<intptr_t>(path), row.sender));
        EXPECT_EQ(data.deviceError, row.deviceError < 0 ? 5 : row.deviceError);
        EXPECT_EQ(bridge()->calls(), row.screen);
        EXPECT_EQ(pauses(), row.pauses);
        drain(o_g_acquMessageBox);
    }
}

TEST_F(CommandLoopTest, UnknownFileActionSuspendsResumesAndReportsNothing)
{
    startRealTimeStandin();
    data.deviceError = 5;
    apply(record(REQ_FILE, 99, 0, 0, scpi()));
    EXPECT_TRUE(bridge()->calls().empty());
    EXPECT_EQ(data.deviceError, 5);
    EXPECT_TRUE(drain(o_g_acquMessageBox).empty());
    ASSERT_TRUE(waitResumes(1));
    EXPECT_EQ(acquisitLog().resumes.size(), 1u);
    EXPECT_EQ(releases(), 1);
}

TEST_F(CommandLoopTest, FailedSaveFromTheRealTimeThreadHoldsTheAcquisition)
{
    startRealTimeStandin();
    const pipe_dial hold{REQ_SET_PARAM, param::acqRunStop, 0, 1, 0.0f, 0};
    struct Row {
        const char* who;
        int32_t action;
        intptr_t sender;
        const char* name;
        bool holds;
    };
    const Row rows[] = {
        {"trace, real-time, failed", fileTraceSave, realTime(), "", true},
        {"mask, real-time, failed", fileMaskSave, realTime(), "/media/user/exists.msk", true},
        {"trace, real-time, saved", fileTraceSave, realTime(), "/media/user/t", false},
        {"trace, menu, failed", fileTraceSave, 0, "", false},
    };
    ASSERT_TRUE(writeBoardFile("/media/user/exists.msk", "old"));
    linkEverything();
    data.channelFlags = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.who);
        apply(record(REQ_FILE, row.action, 0, reinterpret_cast<intptr_t>(row.name), row.sender));
        EXPECT_EQ(drain(o_g_consMessageBox), row.holds ? std::vector<pipe_dial>{hold} : std::vector<pipe_dial>{});
    }
    EXPECT_EQ(readHostFile(hostPath("/media/user/exists.msk")), "old");
}

TEST_F(CommandLoopTest, SaveAndRestartNeverSuspendsAndSetsTheDoneFlagUnderItsMutex)
{
    startRealTimeStandin();
    linkEverything();
    data.channelFlags = 1;
    b_g_saveRestartDone = false;

    // The real-time side's wait: it may start before or after the signal.
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += 30;  // the save syncs its file: slow on a busy disk
        pthread_mutex_lock(&o_g_synchroSavRelMutex);
        while (!b_g_saveRestartDone)
            if (pthread_cond_timedwait(&o_g_synchroSavRelCond, &o_g_synchroSavRelMutex, &deadline) != 0)
                break;
        woke = b_g_saveRestartDone;
        pthread_mutex_unlock(&o_g_synchroSavRelMutex);
    });
    apply(record(REQ_FILE, fileTraceSaveAlt, 0, reinterpret_cast<intptr_t>("/media/user/alt"), realTime()));
    waiter.join();

    EXPECT_TRUE(woke);
    EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{"screenMessage(14,alt)", "screenMessage(0,)"}));
    EXPECT_TRUE(acquisitLog().resumes.empty());
    // The file it wrote comes back through the recall.
    EXPECT_EQ(readHostFile(hostPath("/media/user/alt.trc")).size(), 128u + 2 + 400064);
    data.memoryTraceCh1 = 0;
    apply(record(REQ_FILE, fileTraceRecall, 0, reinterpret_cast<intptr_t>("/media/user/alt.trc"), 0));
    EXPECT_EQ(data.memoryTraceCh1, 1);
}

TEST_F(CommandLoopTest, SetupImageIsAppliedAndAnnouncedToTheBusThread)
{
    startRealTimeStandin();
    static database image;
    std::memcpy(&image, &init_par, sizeof image);
    image.traceOnCh3 = 1;
    image.timeBaseIndex = 12;
    image.instrumentMode = 17;
    image.deviceError = 5;
    image.hwChannelMask = 0;

    apply(record(REQ_FILE, fileSetupApply, 0, reinterpret_cast<intptr_t>(&image), scpi()));

    EXPECT_EQ(data.traceOnCh3, 1);
    EXPECT_EQ(data.hwChannelMask, us_g_hwChannels);
    // The time base is applied and the derived scales recomputed.
    EXPECT_EQ(data.userTimeBase, 12);
    EXPECT_FLOAT_EQ(data.voltsPerDivCh1, GetSensitivity(data.sensitivityCh1, SCALE_SCOPE) * data.probeCoeffCh1);
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMaj(29)"});
    EXPECT_EQ(drain(o_g_acquMessageBox), (std::vector<TLongArray>{{29, CH_ALL, ACQ_RESTART_32, comm()}}));
    EXPECT_EQ(drain(o_g_busMessageBox),
              (std::vector<pipe_dial>{{REQ_BUS_STEP, BUS_STEP_APPLIED, 0, 0, 0.0f, comm()}}));
    // No report: the record has become the controller's. The SCPI request still completes
    // when the restart is acknowledged.
    EXPECT_EQ(data.deviceError, 5);
    EXPECT_EQ(pendingAcknowledge, 8);
}

TEST_F(CommandLoopTest, SetupImageOutsideBusModeIsNotForwardedAndAMissingImageFails)
{
    startRealTimeStandin();
    static database image;
    std::memcpy(&image, &init_par, sizeof image);
    apply(record(REQ_FILE, fileSetupApply, 0, reinterpret_cast<intptr_t>(&image), 0));
    EXPECT_TRUE(drain(o_g_busMessageBox).empty());

    bridge()->clear();
    data.traceOnCh2 = 1;
    apply(record(REQ_FILE, fileSetupApply, 0, 0, 0));
    EXPECT_EQ(data.traceOnCh2, 1);
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMessage(20,)"});
    EXPECT_EQ(drain(o_g_acquMessageBox).size(), 1u);  // only the first request's restart
}

TEST_F(CommandLoopTest, LoggerRecallStartsTheEventSearchAndResetsTheZooms)
{
    startRealTimeStandin();
    std::strcpy(data.loggerFileName, "rec-\xc3\xa9.rec");
    data.zoomState = 2;
    data.horizPosition = 500;
    data.zoomWidth = 4.0f;
    data.vZoomFactor = 3.0f;
    data.xyZoomPosition = 9;
    // The recall of a missing file leaves channel 1's buffer as it is: one fall below the
    // level, five samples long, ending at sample 14.
    std::vector<uint32_t> channel1(TAcquisition::kNormalisedSamples, 0x80000000u);
    std::fill(channel1.begin(), channel1.begin() + 10, 500000u);
    std::fill(channel1.begin() + 10, channel1.begin() + 15, 540000u);
    uint32_t* const savedBuffer = TAcquisition::Voie1Normalisee;
    TAcquisition::Voie1Normalisee = channel1.data();
    data.eventSource = 0;
    data.eventType = 1;
    data.eventLevel1 = 524256;
    data.eventDuration = 5;
    {
        ViewerEventListFactory worker;

        apply(record(REQ_FILE, fileLoggerRecall, reinterpret_cast<intptr_t>(&worker),
                     reinterpret_cast<intptr_t>("f.rec"), 0));

        QStringList events;
        worker.getEventList(events);
        ASSERT_EQ(events.size(), 1);
        EXPECT_TRUE(events[0].endsWith(QLatin1String("|9"))) << events[0].toStdString();
        EXPECT_EQ(data.zoomState, 0);
        EXPECT_EQ(data.horizPosition, 0);
        EXPECT_EQ(data.zoomWidth, 40.0f);
        EXPECT_EQ(data.fftZoomWidth, 40.0f);
        EXPECT_EQ(data.vZoomFactor, 1.0f);
        EXPECT_EQ(data.xyZoomPosition, 0);
        EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{"screenMaj(8)", "screenMessage(17,)"}));
        EXPECT_EQ(drain(o_g_acquMessageBox), (std::vector<TLongArray>{{8, CH_ALL, ACQ_RESTART_CLEAR, comm()}}));

        // Without a worker nothing searches again: the list keeps the first filter's event.
        data.eventLevel1 = 0;
        apply(record(REQ_FILE, fileLoggerRecall, 0, reinterpret_cast<intptr_t>("f.rec"), 0));
        events.clear();
        worker.getEventList(events);
        EXPECT_EQ(events.size(), 1);
    }
    TAcquisition::Voie1Normalisee = savedBuffer;
}

// --- Channel state, manual measurement, screen, operation done ------------------------------------

TEST_F(CommandLoopTest, ChannelStateMergesWithTheKeepMask)
{
    struct Row {
        uint32_t before;
        intptr_t bits;
        uint32_t after;
    };
    const Row rows[] = {
        {0x000F0F0F, 1, 0x000E0E0F}, {0x000F0F0F, 0, 0x000F0F0F}, {0xFF0F0F0F, 8, 0x0007070F},
        {0x00000000, 5, 0x00000005}, {0x001F1F1F, 0x10, 0x001F1F1F}, {0x12345678, 0, 0x12345678},
    };
    for (uint16_t kind : {REQ_CHANNEL_STATE, REQ_CHANNEL_STATE2}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::to_string(kind) + ": " + std::to_string(row.before) + " with " + std::to_string(row.bits));
            data.channelOnMask = row.before;
            bridge()->clear();
            apply(record(kind, 0, 0, row.bits, kSenderTimer));
            EXPECT_EQ(data.channelOnMask, row.after);
            EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenRefresh()"});
        }
    }
}

TEST_F(CommandLoopTest, ChannelStateInBusModeAndInAHeldScope)
{
    data.instrumentMode = 17;
    data.acqRunStop = 0;
    apply(record(REQ_CHANNEL_STATE, 0, 3, 2, kSenderTimer));
    EXPECT_EQ(drain(o_g_busMessageBox),
              (std::vector<pipe_dial>{{REQ_BUS_STEP, BUS_STEP_ACQUIRED, 0, 0, 0.0f, comm()}}));
    EXPECT_TRUE(drain(o_g_acquMessageBox).empty());

    struct Row {
        uint16_t mode;
        int16_t runStop;
        bool reprocess;
    };
    for (const Row row : {Row{16, 1, true}, Row{19, 1, true}, Row{16, 0, false}, Row{128, 1, false}}) {
        SCOPED_TRACE(row.mode);
        data.instrumentMode = row.mode;
        data.acqRunStop = row.runStop;
        apply(record(REQ_CHANNEL_STATE2, 0, 0, 1, kSenderTimer));
        const std::vector<TLongArray> reprocess{{0, CH_ALL, ACQ_RESTART_FULL, comm()}};
        EXPECT_EQ(drain(o_g_acquMessageBox), row.reprocess ? reprocess : std::vector<TLongArray>{});
        EXPECT_TRUE(drain(o_g_busMessageBox).empty());
    }
}

TEST_F(CommandLoopTest, ManualMeasurementCopiesTheCursorTable)
{
    int32_t table[7] = {10, 11, 12, 13, 14, 15, 16};
    setupLinks().cursorTablePtr = table;
    struct Row {
        int32_t code;
        bool first, second;
    };
    for (const Row row : {Row{90, true, false}, Row{91, false, true}, Row{0, true, true}}) {
        SCOPED_TRACE(row.code);
        data.cursor1Time = data.cursor1Level = data.xyCursor1X = -1;
        data.cursor2Time = data.cursor2Level = data.xyCursor2X = -1;
        bridge()->clear();
        apply(record(REQ_MANUAL_MEAS, row.code, 0, 0, senderValue(MEAS_id)));
        EXPECT_EQ(data.cursor1Time, row.first ? 10 : -1);
        EXPECT_EQ(data.cursor1Level, row.first ? 12 : -1);
        EXPECT_EQ(data.xyCursor1X, row.first ? 15 : -1);
        EXPECT_EQ(data.cursor2Time, row.second ? 11 : -1);
        EXPECT_EQ(data.cursor2Level, row.second ? 13 : -1);
        EXPECT_EQ(data.xyCursor2X, row.second ? 16 : -1);
        EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenManualMeasurement()"});
    }
    setupLinks().cursorTablePtr = nullptr;
    apply(record(REQ_MANUAL_MEAS, 0, 0, 0, senderValue(MEAS_id)));
    EXPECT_EQ(data.cursor1Time, 10);
    EXPECT_TRUE(drain(o_g_acquMessageBox).empty());
}

TEST_F(CommandLoopTest, ScreenRequestsShowMessagesOrGoToTheView)
{
    apply(record(REQ_SCREEN, 2, reinterpret_cast<intptr_t>("bus time-out"), 31, senderValue(tBUS_id)));
    apply(record(REQ_SCREEN, 2, 0, 0, senderValue(tBUS_id)));
    apply(record(REQ_SCREEN, 6, 1, 2, senderValue(tSDCARD_id)));
    EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{"screenMessage(31,bus time-out)", "screenMessage(0,)",
                                                            "screenIhm(6,1,2)"}));
    EXPECT_EQ(pauses(), (std::vector<int>{100, 100}));
}

TEST_F(CommandLoopTest, BridgeCallsAreSkippedWithoutARootWindowButPausesAreTaken)
{
    po_g_homeBridge.store(nullptr);
    apply(record(REQ_SCREEN, 2, 0, 4, 0));
    apply(record(REQ_ACQ_DONE, 0, 0, 0, senderValue(ACQU_id)));
    EXPECT_TRUE(bridge()->calls().empty());
    EXPECT_EQ(pauses(), std::vector<int>{100});
}

TEST_F(CommandLoopTest, OperationDoneClearsTheCalibrationWaitAndSetsDeviceError)
{
    for (int32_t code : {0, 1}) {
        pendingAcknowledge = 0x808;
        bridge()->clear();
        apply(record(REQ_OPERATION_DONE, code, 0, 0, realTime()));
        EXPECT_EQ(pendingAcknowledge, 8);
        EXPECT_EQ(data.deviceError, code == 0 ? 22 : 0);
        EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMessage(0,)"});
    }
}

// --- Smart-probe events -----------------------------------------------------------------------

TEST_F(CommandLoopTest, ProbeEventByReadingResult)
{
    startRealTimeStandin();
    auto* trace = new TAcquisition(2);
    setupLinks().acqCh2 = trace;
    auto probe = [](uint16_t id, const char* damage = "", int button = 0) {
        simboard::TProbeDescription d = probeWithId(id);
        d.damage = damage;
        d.button = button;
        return d;
    };
    struct Row {
        int result;
        std::optional<simboard::TProbeDescription> probe;  // on channel 2; none: nothing plugged
        bool keyPending;  // the probe was linked and a key noticed before the event
        std::vector<std::string> screen;
        bool restarts;
        bool identifies;
    };
    const std::vector<Row> rows = {
        {0, probe(9), false, {"screenMaj(16)", "screenMessage(15,)", "screenKalvex()"}, true, true},
        {0, probe(36), false, {"screenMaj(16)", "screenMessage(15,)", "screenKalvex()"}, true, true},
        {4, probe(5, "header"), false, {"screenMaj(16)", "screenKalvex()"}, true, true},
        {0, probe(5), false, {"screenMaj(16)", "screenKalvex()"}, true, true},
        {2, std::nullopt, false, {"screenMaj(16)", "screenKalvex()"}, true, false},
        {3, probe(0x1234, "descriptor"), false, {"screenMaj(16)"}, false, false},
        {5, probe(0x8001, "", 1), true, {}, false, false},
    };
    size_t resumes = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.result) + " probe " + std::to_string(row.probe ? row.probe->id : -1));
        resetTraceCallLog();
        unplugAllProbes();
        if (row.probe)
            simboard::plugProbe(1, *row.probe);
        if (row.keyPending)
            linkProbe(1, *row.probe)->updateStatus();
        simboard::clearLog();
        bridge()->clear();
        TPauseLog::instance().clear();
        data.voltsPerDivCh1 = -1.0f;  // recomputed by find_coeff only

        apply(record(REQ_PROBE_EVENT, 1, 0, 0, keys()));

        EXPECT_EQ(probeBusesRead(), std::vector<int>{1});
        EXPECT_EQ(bridge()->calls(), row.screen);
        const bool warned = !row.screen.empty() && bridge()->count("screenMessage(15,)") == 1;
        EXPECT_EQ(pauses(), warned ? (std::vector<int>{500, 20, 100}) : (std::vector<int>{500, 20}));
        const std::vector<TLongArray> restart{{16, 2, ACQ_RESTART_CLEAR, comm()}};
        EXPECT_EQ(drain(o_g_acquMessageBox), row.restarts ? restart : std::vector<TLongArray>{});
        EXPECT_EQ(data.voltsPerDivCh1 != -1.0f, row.result < 5);
        // find_coeff re-reads every trace's measurement parameters: only the rest counts here.
        std::vector<TTraceCall> calls;
        for (const TTraceCall& c : traceCallLog().calls)
            if (c.kind != TTraceCall::SetMesureParametres)
                calls.push_back(c);
        if (row.identifies) {
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].kind, TTraceCall::SetIdentifier);
            EXPECT_EQ(calls[0].identifier, 2);
        } else {
            EXPECT_TRUE(calls.empty());
        }
        ASSERT_TRUE(waitResumes(++resumes));
        EXPECT_EQ(acquisitLog().resumes.back(), SYNCHRO_RESUME);
    }
}

TEST_F(CommandLoopTest, ProbeEventChannelIndexAndViewerMode)
{
    startRealTimeStandin();
    size_t resumes = 0;
    for (int32_t code : {0, 2, 3, 4, -1}) {
        simboard::clearLog();
        apply(record(REQ_PROBE_EVENT, code, 0, 0, keys()));
        ASSERT_TRUE(waitResumes(++resumes));
        const int n = (code >= 1 && code <= 3) ? code : 0;
        EXPECT_EQ(probeBusesRead(), std::vector<int>{n});
        EXPECT_TRUE(bridge()->count("screenMaj(" + std::to_string(14 + 2 * n) + ")") >= 1);
        EXPECT_EQ(drain(o_g_acquMessageBox),
                  (std::vector<TLongArray>{{14 + 2 * n, 1 << n, ACQ_RESTART_CLEAR, comm()}}));
    }

    data.instrumentMode = 256;
    simboard::clearLog();
    bridge()->clear();
    TPauseLog::instance().clear();
    const size_t resumed = acquisitLog().resumes.size();
    apply(record(REQ_PROBE_EVENT, 2, 0, 0, keys()));
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenKalvex()"});
    EXPECT_TRUE(probeBusesRead().empty());
    EXPECT_TRUE(pauses().empty());
    EXPECT_EQ(acquisitLog().resumes.size(), resumed);
}

// --- Parameter requests (the rules themselves: test_command_param*.cpp) ----------------------

TEST_F(CommandLoopTest, ParameterRequestStoresTheValueAndUpdatesTheScreen)
{
    apply(record(REQ_SET_PARAM, 0x10000 | param::keyLock, 0, 1, 0));
    EXPECT_EQ(data.keyLock, 1);
    apply(record(REQ_SET_PARAM, 222, 0, 1, 0));
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMaj(31)"});
    EXPECT_TRUE(drain(o_g_acquMessageBox).empty());
    EXPECT_TRUE(drain(o_g_measMessageBox).empty());
}

// No thread runs in these two: the child is a plain fork and writes this test's board.
TEST_F(CommandLoopTest, PowerOffWritesThePipeAndExitsWithZero)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    // The child's screen calls and pauses can only be seen on its stderr.
    struct TPrintingBridge : TRecordingBridge {
        void screenMessage(int number, const char*) override { std::fprintf(stderr, "message %d\n", number); }
    };
    po_g_homeBridge.store(new TPrintingBridge());
    setPauseHook([](int ms) { std::fprintf(stderr, "pause %d\n", ms); });
    EXPECT_EXIT(apply(record(REQ_SET_PARAM, param::powerOffRequest, 0, 1, -1)), ::testing::ExitedWithCode(0),
                "message 5\npause 100\npause 2000\n");
    EXPECT_EQ(readHostFile(hostPath("/var/tmp/offpipe")), "POWEROFF");
}

TEST_F(CommandLoopTest, PowerOffExitsWithZeroWithoutThePipe)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    ::unlink(hostPath("/var/tmp/offpipe").c_str());
    EXPECT_EXIT(apply(record(REQ_SET_PARAM, param::powerOffRequest, 0, 1, -1)), ::testing::ExitedWithCode(0), "");
}

// --- SCPI completion --------------------------------------------------------------------------

TEST_F(CommandLoopTest, ScpiRequestWithoutRestartIsReleasedInItsOwnPass)
{
    apply(record(REQ_SCREEN, 2, 0, 3, scpi()));
    EXPECT_EQ(releases(), 1);
    EXPECT_EQ(pendingAcknowledge, 0);
    EXPECT_FALSE(b_g_scpiOrigin);

    // *WAI posts kind 0: nothing to do, released at once.
    apply(record(0, 0, 0, 0, scpi()));
    EXPECT_EQ(releases(), 2);
}

TEST_F(CommandLoopTest, ScpiRequestWithRestartIsReleasedAfterTheAcknowledgement)
{
    startRealTimeStandin();
    apply(record(REQ_FILE, fileBatchRecall, 0, 0, scpi()));
    EXPECT_EQ(drain(o_g_acquMessageBox), (std::vector<TLongArray>{{8, CH_ALL, ACQ_RESTART_CLEAR, comm()}}));
    EXPECT_EQ(pendingAcknowledge, 8);
    EXPECT_TRUE(b_g_scpiOrigin);
    EXPECT_EQ(releases(), 0);

    // Other records in between do not release it.
    apply(record(REQ_SCREEN, 2, 0, 0, keys()));
    EXPECT_EQ(releases(), 0);

    apply(record(REQ_ACQ_DONE, 0, 100000, 1, senderValue(ACQU_id)));
    EXPECT_EQ(releases(), 1);
    EXPECT_EQ(pendingAcknowledge, 0);
    EXPECT_FALSE(b_g_scpiOrigin);
    EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{"screenMessage(0,)", "screenMaj(90)", "screenRefresh()"}));
}

TEST_F(CommandLoopTest, ScpiReleaseThroughTheAcquisitionStandin)
{
    startRealTimeStandin();
    ASSERT_EQ(startAcquisitionThread(&ACQU_id, acquisit, nullptr, 20, "acquisit"), 0);
    data.traceOnCh1 = 1;
    data.traceOnCh3 = 1;  // the batch recall rebuilds channelFlags: 5

    apply(record(REQ_FILE, fileBatchRecall, 0, 0, scpi()));
    EXPECT_EQ(releases(), 0);

    pipe_dial done{};
    ASSERT_EQ(o_g_consMessageBox.receive(&done, true, 5), 0);
    EXPECT_EQ(done, (pipe_dial{REQ_ACQ_DONE, 0, 100000, 5, 0.0f, senderValue(ACQU_id)}));
    applyRequest(done);
    EXPECT_EQ(releases(), 1);
    EXPECT_EQ(pendingAcknowledge, 0);
}

TEST_F(CommandLoopTest, NothingReachesTheAcquisitionWhileACalibrationStepIsPending)
{
    startRealTimeStandin();
    pendingAcknowledge = 0x800;
    apply(record(REQ_FILE, fileBatchRecall, 0, 0, 0));
    apply(record(REQ_SCREEN_SAVER, 3, 0, 0, kSenderTimer));
    ScreenSaverActif = 0;
    data.instrumentMode = 16;
    data.acqRunStop = 1;
    apply(record(REQ_CHANNEL_STATE, 0, 0, 1, kSenderTimer));
    EXPECT_TRUE(drain(o_g_acquMessageBox).empty());
    EXPECT_EQ(pendingAcknowledge, 0x800);

    // The end of the step releases the waiting SCPI request in its own pass.
    b_g_scpiOrigin = true;
    apply(record(REQ_OPERATION_DONE, 1, 0, 0, realTime()));
    EXPECT_EQ(pendingAcknowledge, 0);
    EXPECT_EQ(releases(), 1);
}

// --- The hardcopy key's own sender ------------------------------------------------------------

TEST_F(CommandLoopTest, HardcopyKeyNeitherReleasesAWaitingScpiSetNorClearsACalibrationGuard)
{
    const pipe_dial hardcopy = record(REQ_SET_PARAM, param::hardcopyRequest, 0, 0, kSenderHardcopyKey);
    for (uint16_t waiting : {uint16_t{8}, uint16_t{0x800}}) {
        SCOPED_TRACE(waiting);
        pendingAcknowledge = waiting;
        b_g_scpiOrigin = true;
        bridge()->clear();
        const int32_t key = l_g_requestKey.load();
        apply(hardcopy);
        EXPECT_EQ(pendingAcknowledge, waiting);
        EXPECT_TRUE(b_g_scpiOrigin);
        EXPECT_EQ(releases(), 0);
        EXPECT_NE(l_g_requestKey.load(), key);
        EXPECT_EQ(bridge()->calls().front(), "screenHardcopy()");
    }
}

TEST_F(CommandLoopTest, HardcopyKeyIsTakenWithTheScreenSaverOnAndAfterTheHeldMeterRuns)
{
    const pipe_dial hardcopy = record(REQ_SET_PARAM, param::hardcopyRequest, 0, 0, kSenderHardcopyKey);
    const pipe_dial wake{REQ_SCREEN_SAVER, 3, 0, 0, 0.0f, kSenderTimer};
    ScreenSaverActif = 1;
    bridge()->clear();
    apply(hardcopy);
    EXPECT_EQ(drain(o_g_consMessageBox), std::vector<pipe_dial>{wake});
    EXPECT_EQ(bridge()->calls().front(), "screenHardcopy()");

    ScreenSaverActif = 0;
    data.instrumentMode = 128;
    data.acqRunStop = 1;
    bridge()->clear();
    apply(hardcopy);
    EXPECT_EQ(data.acqRunStop, 0);
    const auto queued = drain(o_g_consMessageBox);
    ASSERT_EQ(queued, std::vector<pipe_dial>{hardcopy});
    bridge()->clear();
    apply(queued[0]);
    EXPECT_EQ(bridge()->calls().front(), "screenHardcopy()");
    EXPECT_EQ(releases(), 0);
}

} // namespace
