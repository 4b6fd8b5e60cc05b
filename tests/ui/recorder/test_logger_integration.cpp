// The recorder tried as a new user would: the whole program in this process (controller,
// acquisition, root window) on the simulated board of the test's own root. From the meter view
// the user opens the recorder, sees the record file's name and "running" in the status line and
// channel 1's record growing on the display, switches to the split layout, and goes back to the
// meter; the record file stays.
#include "tests/ui/support/program_fixture.h"
#include "core/files.h"
#include "ui/traces/loggerpanel.h"
#include "ui/traces/loggerscreen.h"
#include "ui/traces/loggerstatusline.h"
#include "ui/frame/dialogpanel.h"
#include "ui/frame/meterchannel.h"
#include "ui/traces/viewerpanel.h"
#include "acquisition/TAcquisition.h"
#include "ui/traces/trace.h"
#include "ui/traces/tracescreen.h"
#include "ui/viewer/viewerscreencomp.h"
#include "ui/frame/zinccolor.h"

#include <QImage>
#include <QQuickItem>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

void post(int parameter, intptr_t value)
{
    pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, senderValue(MENU_id)};
    ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
}

class LoggerIntegrationTest : public ProgramTest {
protected:
    // Looked up each time: the controller may have the view made anew.
    LoggerStatusLine* line() { return qobject_cast<LoggerStatusLine*>(item("loggerStatusLine")); }
    LoggerScreen* screen() { return qobject_cast<LoggerScreen*>(item("loggerScreen")); }
    bool showing(const char* name)
    {
        return processEventsUntil([&] { return modeViews(*view_) == std::vector<std::string>{name}; }, kTimeoutMs);
    }
    void use(const char* view, const char* tool)
    {
        QQuickItem* v = item(view);
        QQuickItem* t = v ? findItem(v, QString::fromLatin1(tool)) : nullptr;
        ASSERT_NE(t, nullptr) << tool;
        clickItem(*t);
    }
    // Pixels of the colour inside the main display, right of the overlay's zero flags.
    int pixelsOf(const QColor& colour)
    {
        LoggerScreen* s = screen();
        if (!s)
            return 0;
        const QImage shot = view_->grabWindow();
        const QRect area = QRectF(s->mapToScene(QPointF(0, 0)), QSizeF(s->width(), s->height())).toRect();
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left() + 32; x <= area.right(); ++x)
                n += shot.pixelColor(x, y).rgb() == colour.rgb();
        return n;
    }
    static std::vector<std::string> loggerFiles()
    {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(LoggerPanel::loggerFolder().c_str())) {
            while (dirent* e = ::readdir(d))
                if (e->d_name[0] != '.')
                    names.emplace_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }
};

} // namespace

PROGRAM_TEST_F(LoggerIntegrationTest, NewUserRecordsChannelOneInOnePaneAndSplit)
{
    // A sine well inside the meter's range: its readings feed the record.
    simboard::TSignal sine;
    sine.shape = "sine";
    sine.vpp = 1.0;
    sine.frequency = 1000.0;
    simboard::setSignal(0, sine);
    startProgram();
    ASSERT_FALSE(HasFatalFailure());

    post(param::meterFunction, 0);
    post(param::traceOnCh1, 1);
    ASSERT_TRUE(processEventsUntil([] { return data.meterFunction == 0 && data.traceOnCh1 != 0; }, kTimeoutMs));
    QQuickItem* modeTool = item("modeTool_Multimeter");
    ASSERT_NE(modeTool, nullptr);
    clickItem(*modeTool);
    ASSERT_TRUE(showing("meterView"));
    use("meterView", "recorderTool");
    ASSERT_TRUE(showing("loggerView"));

    // The status line: the file being written, running.
    ASSERT_TRUE(processEventsUntil(
        [&] {
            return line() && line()->trigger() == QStringLiteral("running")
                && line()->fileText().startsWith(QStringLiteral("tavlin_"));
        },
        kTimeoutMs))
        << (line() ? line()->fileText().toStdString() + " / " + line()->trigger().toStdString() : "no line");
    EXPECT_TRUE(line()->blinkTimer().isActive());

    // Channel 1's record grows on the main display.
    const QColor ch1 = getZincColor(static_cast<unsigned short>(data.traceColorCh1));
    EXPECT_TRUE(processEventsUntil([&] { return pixelsOf(ch1) > 20; }, kTimeoutMs)) << pixelsOf(ch1);
    ASSERT_NE(screen(), nullptr);
    EXPECT_EQ(screen()->layout(), LoggerLayoutOnePane);
    saveArtefact(*view_, "logger-one-pane.png");

    // The split layout: one pane per channel of the four-channel model.
    post(param::splitLayout, 1);
    ASSERT_TRUE(processEventsUntil([&] { return screen() && screen()->layout() == LoggerLayoutCh1To4; }, kTimeoutMs));
    int grids = 0;
    for (int i = 0; i < ScopeScreen::kGrids; ++i)
        grids += screen()->grid(i) != nullptr;
    EXPECT_EQ(grids, 4);
    processEventsFor(1000);
    saveArtefact(*view_, "logger-split.png");
    post(param::splitLayout, 0);
    ASSERT_TRUE(processEventsUntil([] { return data.splitLayout == 0; }, kTimeoutMs));

    // Back to the meter: the recording ends and its file stays.
    use("loggerView", "meterTool");
    ASSERT_TRUE(showing("meterView"));
    // (A change of the recorded channels while the layout changes may start a second file.)
    const std::vector<std::string> files = loggerFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& name : files)
        EXPECT_EQ(name.rfind("tavlin_", 0), 0u) << name;
}

// Recorder, viewer, recorder again, as a user goes: the recording opened in the viewer fills the
// window (cursor T1 on its first record, the boxes read it); leaving the viewer gives the live
// channels back, so the recorder records again into a new file; with every channel off the
// recorder says it has nothing to record instead of showing "running".
PROGRAM_TEST_F(LoggerIntegrationTest, RecorderViewerRecorderRoundTrip)
{
    simboard::TSignal sine;
    sine.shape = "sine";
    sine.vpp = 1.0;
    sine.frequency = 1000.0;
    simboard::setSignal(0, sine);
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    TSignalLog log(*view_);

    post(param::meterFunction, 0);
    post(param::traceOnCh1, 1);
    ASSERT_TRUE(processEventsUntil([] { return data.meterFunction == 0 && data.traceOnCh1 != 0; }, kTimeoutMs));
    clickItem(*item("modeTool_Multimeter"));
    ASSERT_TRUE(showing("meterView"));
    use("meterView", "recorderTool");
    ASSERT_TRUE(showing("loggerView"));
    ASSERT_TRUE(processEventsUntil([&] { return line() && line()->fileText().startsWith(QStringLiteral("tavlin_")); },
                                   kTimeoutMs));
    // A few seconds of records: a short recording (counted from the first record drawn, so that a
    // loaded host still records some).
    const QColor recordedColour = getZincColor(static_cast<unsigned short>(data.traceColorCh1));
    EXPECT_TRUE(processEventsUntil([&] { return pixelsOf(recordedColour) > 20; }, kTimeoutMs));
    processEventsFor(3000);
    use("loggerView", "meterTool");
    ASSERT_TRUE(showing("meterView"));
    // One recording: the view is made once, even when the taps come faster than views go.
    const std::vector<std::string> recorded = loggerFiles();
    ASSERT_EQ(recorded.size(), 1u) << ::testing::PrintToString(recorded);

    // The file manager links the recording; the batch recall opens it in the viewer.
    const std::string command =
        std::string("bash ") + BENCHVIEW_PICK_RECORDING + " '" + SimBoardTest::root_ + "' </dev/null >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    pipe_dial batch{REQ_FILE, fileBatchRecall, 0, 0, 0.0f, senderValue(MENU_id)};
    ASSERT_EQ(o_g_consMessageBox.send(&batch), 0);
    ASSERT_TRUE(showing("viewerView"));
    EXPECT_EQ(data.traceOnCh1, 0) << "the viewer shows the recording, not the live channel";
    // The short recording fills the window and T1 stands on its first record: channel 1's box
    // reads a value there.
    EXPECT_LT(data.zoomWidth, 1.0f);
    EXPECT_EQ(data.cursor1Time, static_cast<int32_t>(RecordedExtent().first));
    QQuickItem* panel = item("viewerPanel");
    ASSERT_NE(panel, nullptr);
    auto* viewerPanel = qobject_cast<ViewerPanel*>(panel);
    ASSERT_NE(viewerPanel, nullptr);
    EXPECT_TRUE(processEventsUntil(
        [&] {
            MeterChannel* box = viewerPanel->box(0);
            return box && !box->valueText().isEmpty() && !box->valueText().contains(QLatin1String("---"));
        },
        kTimeoutMs))
        << (viewerPanel->box(0) ? viewerPanel->box(0)->valueText().toStdString() : "no box");
    saveArtefact(*view_, "viewer-short-recording.png");

    // The compressed strip draws the recording across its width, not as a sliver at its left:
    // its 1250 points hold channel 1's data wherever the recording does.
    // So does the main display, however few samples the recording holds.
    auto channelOne = [](ScopeScreen* screen) -> const Trace* {
        if (!screen || !screen->traceScreen(0))
            return nullptr;
        for (int slot = 0; slot < TraceScreen::kSlots; ++slot)
            if (const Trace* t = screen->traceScreen(0)->trace(slot); t && t->kind() == 0 && t->acquisition())
                return t;
        return nullptr;
    };
    auto pointsWithData = [](const Trace* t, bool envelope) {
        const uint32_t* codes = envelope ? t->acquisition()->loggerEnvelope : t->acquisition()->loggerRaw;
        int n = 0;
        for (int p = 0; p < Trace::kRows / 2; ++p)
            n += codes[2 * p] < 0x40000000u || codes[2 * p + 1] < 0x40000000u;
        return n;
    };
    // The truth: the share of the recording's span where channel 1 holds a sample.
    const TViewerSpan span = ViewerSpan();
    ASSERT_GT(span.samples, 0u);
    ASSERT_LT(span.samples, 100000u);
    int recordedSamples = 0;
    for (uint32_t i = span.start; i < span.start + span.samples; ++i)
        recordedSamples += TAcquisition::Voie1Normalisee[i] < 0x40000000u;
    ASSERT_GT(recordedSamples, 0);
    const int expected = static_cast<int>(int64_t(recordedSamples) * (Trace::kRows / 2) / span.samples);
    const int slack = static_cast<int>((Trace::kRows / 2) / span.samples) + 2;
    const Trace* stripCh1 = channelOne(qobject_cast<ScopeScreen*>(item("viewerScreenComp")));
    ASSERT_NE(stripCh1, nullptr);
    EXPECT_TRUE(processEventsUntil([&] { return std::abs(pointsWithData(stripCh1, true) - expected) <= slack; },
                                   kTimeoutMs))
        << pointsWithData(stripCh1, true) << " points for " << expected;
    const Trace* mainCh1 = channelOne(qobject_cast<ScopeScreen*>(item("viewerScreen")));
    ASSERT_NE(mainCh1, nullptr);
    EXPECT_TRUE(processEventsUntil([&] { return std::abs(pointsWithData(mainCh1, false) - expected) <= slack; },
                                   kTimeoutMs))
        << pointsWithData(mainCh1, false) << " points for " << expected;

    // The filter and list panels: each closes on its own button as well as on its tool.
    auto* dialog = qobject_cast<DialogPanel*>(item("dialogPanel"));
    ASSERT_NE(dialog, nullptr);
    clickItem(*findItem(item("viewerView"), QStringLiteral("filterTool")));
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() != nullptr; }, kTimeoutMs));
    processEventsFor(500);
    saveArtefact(*view_, "viewer-event-filter.png");
    QQuickItem* list = item("viewerEventListPanel");
    ASSERT_NE(list, nullptr);
    dialog->display(list);
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == list; }, kTimeoutMs));
    processEventsFor(500);
    saveArtefact(*view_, "viewer-event-list.png");
    clickItem(*findItem(list, QStringLiteral("closeButton")));
    EXPECT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == nullptr; }, kTimeoutMs));

    // Back to the recorder: channel 1 is on again and a new file is written.
    clickItem(*findItem(item("viewerView"), QStringLiteral("homeTool")));
    ASSERT_TRUE(processEventsUntil([&] { return modeViews(*view_).empty(); }, kTimeoutMs));
    EXPECT_NE(data.traceOnCh1, 0);
    clickItem(*item("modeTool_Multimeter"));
    ASSERT_TRUE(showing("meterView"));
    use("meterView", "recorderTool");
    ASSERT_TRUE(showing("loggerView"));
    EXPECT_TRUE(processEventsUntil(
        [&] {
            return line() && line()->trigger() == QStringLiteral("running") && loggerFiles().size() > recorded.size();
        },
        kTimeoutMs))
        << loggerFiles().size() << " files";

    // Every channel off: refused aloud, never "running".
    log.clear();
    post(param::traceOnCh1, 0);
    EXPECT_TRUE(processEventsUntil([&] { return !log.startingWith("message 35").empty(); }, kTimeoutMs));
    EXPECT_TRUE(processEventsUntil([&] { return line() && line()->trigger() == QStringLiteral("stop"); }, kTimeoutMs));
    saveArtefact(*view_, "logger-no-channel.png");
}
