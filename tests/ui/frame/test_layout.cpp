// The screens a new user reaches, read as the user reads them: the whole program in this process on
// the simulated board, a battery level known, a signal on channel 1. Each row reaches a view (or a
// panel of it) from the one before, waits until it shows its data, keeps a screenshot and checks
// that no text lies under another text or a picture, that every text stays inside its item and that
// no text has the colour of what is behind it.
#include "tests/ui/support/program_fixture.h"  // first: the scenario has a member named "signals"
#include "tests/ui/support/layoutcheck.h"

#include "ui/frame/statusline.h"

#include <QFileInfo>
#include <fstream>

#include <QQuickItem>

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

void post(int parameter, intptr_t value)
{
    pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, senderValue(MENU_id)};
    ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
}

class LayoutTest : public ProgramTest {
protected:
    QQuickItem* need(const char* name)
    {
        QQuickItem* found = nullptr;
        processEventsUntil([&] { return (found = item(name)) != nullptr && found->isVisible(); }, kTimeoutMs);
        return found;
    }
    bool showing(const char* name)
    {
        return processEventsUntil([&] { return modeViews(*view_) == std::vector<std::string>{name}; }, kTimeoutMs);
    }
    void openMode(const char* tool, const char* viewName)
    {
        // A click on a tool panel still sliding in (a loaded host draws it late) may miss: again.
        for (int attempt = 0; attempt < 3 && modeViews(*view_) != std::vector<std::string>{}; ++attempt) {
            processEventsFor(300);
            QQuickItem* home = need("homeTool");
            ASSERT_NE(home, nullptr);
            clickItem(*home);
            processEventsUntil([&] { return modeViews(*view_).empty(); }, kTimeoutMs / 3);
        }
        ASSERT_TRUE(modeViews(*view_).empty());
        QQuickItem* t = need(tool);
        ASSERT_NE(t, nullptr) << tool;
        clickItem(*t);
        ASSERT_TRUE(showing(viewName)) << viewName;
        processEventsFor(1000);
    }
};

} // namespace

PROGRAM_TEST_F(LayoutTest, EveryViewReadsAsTheUserSeesIt)
{
    // A battery the status lines show, a signal the boxes measure.
    const std::string level = hostPath(StatusLine::kBatteryLevelFile);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(QString::fromStdString(level)).path()));
    std::ofstream(level) << "80 ";
    simboard::TSignal sine;
    sine.shape = "sine";
    sine.vpp = 2.0;
    sine.frequency = 1000.0;
    simboard::setSignal(0, sine);
    startProgram();
    ASSERT_FALSE(HasFatalFailure());

    struct Row {
        const char* name;
        std::function<void()> reach;
    };
    const Row rows[] = {
        {"home", [] {}},
        {"scope",
         [&] {
             post(param::traceOnCh1, 1);
             ASSERT_TRUE(processEventsUntil([] { return data.traceOnCh1 != 0; }, kTimeoutMs));
             openMode("modeTool_Oscilloscope", "scopeView");
         }},
        {"scope-measurement-box",
         [&] {
             post(param::timeBaseIndex, 17);
             clickItem(*need("measChannelTool"));
             QQuickItem* box = need("autoMeasChannel");
             ASSERT_NE(box, nullptr);
             // The levels measured: the longest texts ("Vrms cyc: 707 mV").
             ASSERT_TRUE(processEventsUntil(
                 [&] {
                     const QStringList l = box->property("measurementList").toStringList();
                     return l.size() == 20 && !l[7].contains(QLatin1String("-----"))
                         && !l[8].contains(QLatin1String("-----"));
                 },
                 kTimeoutMs))
                 << box->property("measurementList").toStringList().join(QLatin1Char('|')).toStdString();
         }},
        {"scope-fft",
         [&] {
             clickItem(*need("measChannelTool"));
             post(param::traceFormat, 1);
             ASSERT_TRUE(processEventsUntil([] { return data.traceFormat == 1; }, kTimeoutMs));
             processEventsFor(1000);
         }},
        {"scope-save-panel",
         [&] {
             post(param::traceFormat, 0);
             ASSERT_TRUE(processEventsUntil([] { return data.traceFormat == 0; }, kTimeoutMs));
             QQuickItem* tools = need("toolPanel");
             ASSERT_NE(tools, nullptr);
             clickItem(*findItem(tools, QStringLiteral("saveTool")));
             QQuickItem* panel = item("fileSave");
             ASSERT_NE(panel, nullptr);
             ASSERT_TRUE(processEventsUntil([&] { return panel->opacity() == 1.0; }, kTimeoutMs));
         }},
        {"harmonic",
         [&] {
             post(param::traceFormat, 0);
             openMode("modeTool_Harmonic", "harmonicView");
         }},
        {"bus", [&] { openMode("modeTool_Bus", "busAnalysisView"); }},
        {"meter-function-options",
         [&] {
             post(param::meterFunction, 0);
             post(param::traceOnCh1, 1);
             post(param::traceOnCh2, 0);
             openMode("modeTool_Multimeter", "meterView");
             QQuickItem* functions = need("functionTool");
             ASSERT_NE(functions, nullptr);
             clickItem(*findItem(functions, QStringLiteral("optionsButton")));
             processEventsFor(800);
         }},
        {"probe-overview",
         [&] {
             QQuickItem* overview = item("kalvexOverview");
             ASSERT_NE(overview, nullptr);
             ASSERT_TRUE(QMetaObject::invokeMethod(overview, "displayKalvexSlot"));
             ASSERT_TRUE(processEventsUntil([&] { return overview->isVisible(); }, kTimeoutMs));
             // The headings of the strip above the boxes are not elided: each must fit its column.
             QQuickItem* header = findItem(overview, QStringLiteral("kalvexHeader"));
             ASSERT_NE(header, nullptr);
             for (QQuickItem* text : header->childItems()) {
                 const QString words = text->property("text").toString();
                 EXPECT_LE(text->property("contentWidth").toReal(), text->width() + 0.5) << words.toStdString();
                 EXPECT_LE(text->property("contentHeight").toReal(), header->height() + 0.5) << words.toStdString();
             }
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.reach();
        ASSERT_FALSE(HasFatalFailure());
        processEventsFor(500);
        saveArtefact(*view_, (std::string("layout-") + row.name + ".png").c_str());
    }
}
