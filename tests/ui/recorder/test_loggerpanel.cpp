// The recorder panel: its files byte by byte and through the recall, the recording step's
// timing, and the ways a recording must not lose or garble records.
#include "core/files.h"
#include "core/process.h"
#include "tests/ui/support/logger_fixture.h"
#include "ui/traces/loggerchannel.h"
#include "ui/traces/loggerpowerchannel.h"
#include "ui/traces/viewerchannel.h"
#include "ui/traces/viewerpowerchannel.h"

#include <QDateTime>

#include <chrono>
#include <fstream>
#include <cmath>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<pipe_dial> screenRequests(const std::vector<pipe_dial>& all, int code)
{
    std::vector<pipe_dial> out;
    for (const pipe_dial& r : all) {
        if (r.kind == REQ_SCREEN && r.intValue == code)
            out.push_back(r);
    }
    return out;
}

} // namespace

class LoggerPanelTest : public LoggerFixture {};

TEST_F(LoggerPanelTest, OneChannelFileHasItsBlockInfoAndRecords)
{
    auto p = makePanel();
    setValues(*p, {1.25f});
    tick(*p);
    setValues(*p, {std::nanf("")});
    tick(*p);
    setValues(*p, {-0.75f});
    for (int i = 2; i < 600; ++i)
        tick(*p);
    ASSERT_EQ(files().size(), 1u);
    const std::string name = files()[0];
    EXPECT_EQ(name, nameAt(clock_.real.tv_sec - 120));
    const std::string bytes = fileBytes(name);
    ASSERT_EQ(bytes.size(), 2656u);
    EXPECT_EQ(bytes.substr(0, 4), ".rec");
    EXPECT_EQ(bytes.substr(128, 4), std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(bytes.substr(132, 60), std::string(60, '\0'));
    EXPECT_EQ(wordAt(bytes, 256), bitsOf(1.25f));
    EXPECT_EQ(bytes.substr(260, 4), std::string("\x00\x00\xC0\x7F", 4));
    EXPECT_EQ(wordAt(bytes, 264), bitsOf(-0.75f));
    // The header is dated at the first record.
    const QString date = QDateTime::fromSecsSinceEpoch(clock_.real.tv_sec - 120).toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    EXPECT_EQ(bytes.substr(42, 19), date.toStdString());

    // The file name goes to the controller.
    bool named = false;
    for (const pipe_dial& r : uitest::takeRequests()) {
        if (r.kind == REQ_SET_PARAM && r.code == param::loggerFileName)
            named = std::string(reinterpret_cast<const char*>(r.intValue)) == name;
    }
    EXPECT_TRUE(named);

    // Read back as the viewer does: each value at its index, NaN where it was not valid.
    ASSERT_EQ(LoggerRecallAll(&data, (loggerDir() + "/" + name).c_str()), 0);
    EXPECT_NEAR(TAcquisition::measValueAt(TAcquisition::Voie1Normalisee, trace(0), 0), 1.25f, 0.02f);
    EXPECT_TRUE(std::isnan(TAcquisition::measValueAt(TAcquisition::Voie1Normalisee, trace(0), 1)));
    EXPECT_NEAR(TAcquisition::measValueAt(TAcquisition::Voie1Normalisee, trace(0), 599), -0.75f, 0.02f);
}

TEST_F(LoggerPanelTest, PowerFileOnTheTwoChannelModel)
{
    data.hwChannelMask = 9;
    data.channelFlags = 9;
    data.meterFunction = 8;
    auto p = makePanel();
    EXPECT_EQ(p->channels(), 0x2009);
    setValues(*p, {2.0f, 3.0f});
    for (int i = 0; i < 200; ++i)
        tick(*p);
    ASSERT_EQ(files().size(), 1u);
    const std::string bytes = fileBytes(files()[0]);
    // Three info blocks, then 200 records of 12 bytes: one flush.
    ASSERT_EQ(bytes.size(), 384u + 200u * 12u);
    EXPECT_EQ(bytes.substr(128, 4), std::string("\x09\x20\x08\x00", 4));
    EXPECT_EQ(wordAt(bytes, 384), bitsOf(2.0f));
    EXPECT_EQ(wordAt(bytes, 388), bitsOf(3.0f));

    ASSERT_EQ(LoggerRecallAll(&data, (loggerDir() + "/" + files()[0]).c_str()), 0);
    EXPECT_NEAR(TAcquisition::measValueAt(TAcquisition::Voie4Normalisee, trace(3), 199), 3.0f, 0.01f);
}

TEST_F(LoggerPanelTest, TicksCatchUpBoundedAndIgnoreTheDate)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    tick(*p);
    EXPECT_EQ(p->recordCounter(), 1u);
    // The date set forward an hour: no flood of records.
    clock_.real.tv_sec += 3600;
    tick(*p);
    EXPECT_EQ(p->recordCounter(), 2u);
    tick(*p, 1000);  // a 1 s stall
    EXPECT_EQ(p->recordCounter(), 7u);
    tick(*p, 10000);  // a 10 s stall: only 10 at this tick
    EXPECT_EQ(p->recordCounter(), 17u);

    // No record due yet: still one pass.
    auto q = makePanel();
    setValues(*q, {1.0f});
    tick(*q, 50);
    EXPECT_EQ(q->recordCounter(), 1u);
}

TEST_F(LoggerPanelTest, RolloverOpensTheNextFileTwentyThousandSecondsLater)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    const time_t start = clock_.real.tv_sec;
    // 200 ms per record, ten per tick once behind: 100000 records in 10000 ticks.
    for (int i = 0; i < 10000 || (p->recordCounter() != 0 && i < 10100); ++i)
        tick(*p, 2000);
    EXPECT_EQ(p->recordCounter(), 0u);
    EXPECT_EQ(p->descriptor(), -1);
    tick(*p, 2000);
    const std::vector<std::string> names = files();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], nameAt(start));
    EXPECT_EQ(names[1], nameAt(start + 20000));
    EXPECT_EQ(fileBytes(names[0]).size(), 256u + 4u * 100000u);
    // The trace's value counts start again with the file.
    EXPECT_LE(trace(0)->loggerCount, 10u);
    EXPECT_LE(trace(0)->loggerValues, 10u);
}

TEST_F(LoggerPanelTest, DestructionFlushesAndClearsThePopUp)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    for (int i = 0; i < 7; ++i)
        tick(*p);
    uitest::takeRequests();
    p.reset();
    ASSERT_EQ(files().size(), 1u);
    EXPECT_EQ(fileBytes(files()[0]).size(), 256u + 7u * 4u);
    EXPECT_EQ(screenRequests(uitest::takeRequests(), 0).size(), 1u);
}

TEST_F(LoggerPanelTest, WidthChangeEndsTheFileAndStartsAnother)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    for (int i = 0; i < 597; ++i)
        tick(*p);
    // A fourth channel mid-buffer: the first file keeps its own width.
    data.channelFlags = 0xF;
    p->screenMajSlot(param::channelFlags);
    setValues(*p, {1.0f, 2.0f, 3.0f, 4.0f});
    for (int i = 0; i < 10; ++i)
        tick(*p, 1000);
    p.reset();
    const std::vector<std::string> names = files();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(fileBytes(names[0]).size(), 256u + 597u * 4u);
    const std::string second = fileBytes(names[1]);
    EXPECT_EQ(second.substr(128, 4), std::string("\x0F\x00\x00\x00", 4));
    ASSERT_EQ((second.size() - 448u) % 16u, 0u);
    EXPECT_EQ(wordAt(second, 448 + 12), bitsOf(4.0f));
}

TEST_F(LoggerPanelTest, ExistingNameGetsASuffix)
{
    ASSERT_EQ(::mkdir(hostPath("/media/user/logger").c_str(), 0777), 0);
    const std::string taken = nameAt(clock_.real.tv_sec);
    ASSERT_TRUE(std::ofstream(loggerDir() + "/" + taken).good());
    auto p = makePanel();
    setValues(*p, {1.0f});
    tick(*p);
    p.reset();
    const std::vector<std::string> names = files();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], taken.substr(0, taken.size() - 4) + "_1.rec");
    EXPECT_EQ(fileBytes(names[1]).size(), 260u);
}

TEST_F(LoggerPanelTest, FolderThatCannotBeMadeReportsOnceAndRetriesAtEachFlush)
{
    // A plain file where the folder should be.
    ASSERT_TRUE(std::ofstream(loggerDir()).good());
    auto p = makePanel();
    setValues(*p, {1.0f});
    for (int i = 0; i < 1200; ++i)
        tick(*p);
    EXPECT_EQ(screenRequests(uitest::takeRequests(), LoggerPanel::kMessageLoggerFull).size(), 1u);
    ASSERT_EQ(::unlink(loggerDir().c_str()), 0);
    const time_t firstBuffered = clock_.real.tv_sec;
    for (int i = 0; i < 600; ++i)
        tick(*p);
    const std::vector<std::string> names = files();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], nameAt(firstBuffered));
    EXPECT_EQ(fileBytes(names[0]).size(), 256u + 600u * 4u);
}

TEST_F(LoggerPanelTest, FullMediumReportsPerStepAndRetries)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    tick(*p);
    ASSERT_EQ(files().size(), 1u);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    for (int i = 1; i < 600; ++i)
        tick(*p);
    const auto messages = screenRequests(uitest::takeRequests(), LoggerPanel::kMessageLoggerFull);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(p->descriptor(), -1);
    // Room again: the next flush opens a file for its records.
    for (int i = 0; i < 600; ++i)
        tick(*p);
    EXPECT_EQ(files().size(), 2u);
    EXPECT_GE(p->descriptor(), 0);
}

TEST_F(LoggerPanelTest, ActivityMarkAbsentWhileAnyPanelLives)
{
    const std::string mark = hostPath("/var/tmp/auto_off");
    auto first = makePanel();
    EXPECT_NE(::access(mark.c_str(), F_OK), 0);
    // A mode change makes the next view before the old one goes.
    auto second = makePanel();
    first.reset();
    EXPECT_NE(::access(mark.c_str(), F_OK), 0);
    second.reset();
    EXPECT_EQ(::access(mark.c_str(), F_OK), 0);
}

TEST_F(LoggerPanelTest, EndActionKeepsEveryBufferedRecord)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    for (int i = 0; i < 599; ++i)
        tick(*p);
    std::thread([] { runEndActions(); }).join();
    EXPECT_EQ(fileBytes(files()[0]).size(), 256u + 599u * 4u);
    p.reset();
    EXPECT_EQ(fileBytes(files()[0]).size(), 256u + 599u * 4u);
}

TEST_F(LoggerPanelTest, EndActionGivesUpWhenTheLockIsHeld)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    for (int i = 0; i < 5; ++i)
        tick(*p);
    const auto t0 = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::timed_mutex> hold(p->sinkLock());
        std::thread([] { runEndActions(); }).join();
    }
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(450));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    p.reset();
    // Written once, by the panel's own close.
    EXPECT_EQ(fileBytes(files()[0]).size(), 256u + 5u * 4u);
}

TEST_F(LoggerPanelTest, ShutdownWritesTheRecordingFirst)
{
    auto p = makePanel();
    setValues(*p, {1.0f});
    for (int i = 0; i < 9; ++i)
        tick(*p);
    const std::string file = loggerDir() + "/" + files()[0];
    const pid_t pid = ::fork();
    if (pid == 0) {
        int ran = 0;
        registerEndAction([&ran] { ++ran; });
        runEndActions();
        // Already run: nothing again on the way out.
        registerEndAction([] { ::_exit(3); });
        runEndActions();
        ::_exit(readWholeFile(file).size() == 256u + 9u * 4u && ran == 1 ? 0 : 1);
    }
    int status = -1;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

// Layout of the recorder and viewer rows by function and installed channels.
TEST_F(LoggerPanelTest, RowLayoutTable)
{
    struct Row {
        int function;
        uint16_t mask;
        std::vector<QPointF> boxes;  // channels 1-4, (-1, -1) for none
        bool powerBox;
        const char* icon;
    };
    const QPointF none(-1, -1);
    const Row rows[] = {
        {0, 0xF, {{5, 3}, {183, 3}, {362, 3}, {539, 3}}, false, ""},
        {0, 9, {{94, 3}, none, none, {450, 3}}, false, ""},
        {1, 0xF, {{5, 3}, {183, 3}, {362, 3}, {539, 3}}, false, "ch1_ohm.png"},
        {3, 0xF, {{272, 3}, none, none, none}, false, "ch1_capa.png"},
        {8, 9, {{94, 3}, none, none, {450, 3}}, true, ""},
    };
    for (const Row& r : rows) {
        data.meterFunction = static_cast<int16_t>(r.function);
        data.hwChannelMask = r.mask;
        LoggerPanel logger;
        ViewerPanel viewer;
        logger.setLayout();
        viewer.setLayout();
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << "function " << r.function << " box " << i);
            ASSERT_EQ(logger.box(i) != nullptr, r.boxes[i] != none);
            ASSERT_EQ(viewer.box(i) != nullptr, r.boxes[i] != none);
            EXPECT_EQ(logger.measurement(i) != nullptr, r.boxes[i] != none);
            if (!logger.box(i))
                continue;
            EXPECT_EQ(logger.box(i)->position(), r.boxes[i]);
            EXPECT_EQ(viewer.box(i)->position(), r.boxes[i]);
            EXPECT_EQ(logger.measurement(i)->channel(), i);
            // The recorder's power functions use the viewer's boxes.
            EXPECT_EQ(qobject_cast<ViewerChannel*>(logger.box(i)) != nullptr, r.powerBox);
            EXPECT_NE(qobject_cast<LoggerChannel*>(logger.box(i)), nullptr);
            EXPECT_NE(qobject_cast<ViewerChannel*>(viewer.box(i)), nullptr);
        }
        EXPECT_EQ(logger.measurement(0)->iconName(), QString::fromLatin1(r.icon));
        ASSERT_EQ(logger.powerBox() != nullptr, r.powerBox);
        EXPECT_EQ(logger.powerMeasurement() != nullptr, r.powerBox);
        if (r.powerBox) {
            EXPECT_EQ(logger.powerBox()->position(), QPointF(5, 110));
            EXPECT_EQ(qobject_cast<ViewerPowerChannel*>(logger.powerBox()), nullptr);
            EXPECT_NE(qobject_cast<ViewerPowerChannel*>(viewer.powerBox()), nullptr);
            EXPECT_EQ(logger.height(), 105 + 75 + 7);
        } else {
            EXPECT_EQ(logger.height(), 105 + 6);
        }
    }
}

TEST_F(LoggerPanelTest, SetChannelsTable)
{
    struct Row {
        int function;
        uint16_t flags;
        uint16_t expected;
    };
    const Row rows[] = {{0, 0xFFFF, 0xF0F}, {2, 0xFFFF, 0x101}, {4, 0x0F0F, 0x101}, {9, 0x0103, 0x2103}, {16, 0x00F0, 0}};
    ViewerPanel p;
    for (const Row& r : rows) {
        data.meterFunction = static_cast<int16_t>(r.function);
        data.channelFlags = r.flags;
        p.setChannels();
        EXPECT_EQ(p.channels(), r.expected) << r.function;
    }
}

// The viewer's boxes show the recalled value under the first cursor; a cursor index that is
// negative or past the buffer shows no value.
TEST_F(LoggerPanelTest, ViewerCursorValues)
{
    data.channelFlags = 0x100;
    data.memoryTraceCh1 = 1;
    data.cursorState = 1;
    int32_t cursors[7] = {};
    setupLinks().cursorTablePtr = cursors;
    ViewerPanel p;
    p.setLayout();
    const float value = 2.5f;
    std::memcpy(&TAcquisition::Voie1Normalisee[3], &value, sizeof value);
    TAcquisition::computeViewerSignal(TAcquisition::Voie1Normalisee, trace(0));
    struct Row {
        int32_t index;
        bool shown;
    };
    for (const Row& r : {Row{3, true}, Row{-1, false}, Row{200000, false}}) {
        cursors[0] = r.index;
        p.displayCursorValueSlot();
        float v = 0.0f;
        const int status = p.measurement(0)->numericValue(&v);
        if (r.shown) {
            EXPECT_EQ(status, 0);
            EXPECT_NEAR(v, value, 0.01f);
        } else {
            EXPECT_EQ(status, 2) << r.index;
            EXPECT_EQ(p.box(0)->valueText(), QStringLiteral("---.-"));
        }
    }
}
