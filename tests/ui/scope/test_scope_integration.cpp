// The oscilloscope tried as a new user would: the whole program in this process (controller,
// acquisition, root window) on the simulated board of the test's own root. The user opens the
// scope through the mode tool, switches channel 1 on with its box, reads the measurements,
// changes the trigger level on the keyboard, and the screen follows the controller.
#include "acquisition/TFonction.h"
#include "tests/support/probes.h"
#include "tests/ui/support/program_fixture.h"
#include "ui/frame/dialogpanel.h"
#include "ui/scope/tooltimebase.h"
#include "ui/traces/tracescreenpassfail.h"
#include "ui/frame/zinccolor.h"

#include <QImage>
#include <QQuickItem>

#include <gtest/gtest.h>

namespace {

// Pixels of that colour inside the rectangle of the window's picture.
int countColour(const QImage& image, const QRect& area, QColor colour)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) < 24 && std::abs(c.green() - colour.green()) < 24 &&
                std::abs(c.blue() - colour.blue()) < 24)
                ++n;
        }
    return n;
}

class ScopeIntegrationTest : public ProgramTest {
protected:
    // The program started and the scope view opened through its mode tool.
    void startScope()
    {
        startProgram();
        ASSERT_FALSE(HasFatalFailure());
        clickItem(*item("modeTool_Oscilloscope"));
        ASSERT_TRUE(processEventsUntil(
            [&] { return modeViews(*view_) == std::vector<std::string>{"scopeView"}; }, kTimeoutMs));
        processEventsFor(500);
    }

    QRect sceneRect(QQuickItem* i)
    {
        const QPointF p = i->mapToScene(QPointF(0, 0));
        return QRect(int(p.x()), int(p.y()), int(i->width()), int(i->height()));
    }
    QQuickItem* need(const char* name)
    {
        QQuickItem* i = item(name);
        if (!i)
            ADD_FAILURE() << "no item " << name;
        return i;
    }
    QQuickItem* tool(const char* name) { return findItem(need("toolPanel"), QString::fromLatin1(name)); }
};

PROGRAM_TEST_F(ScopeIntegrationTest, NewUserOpensTheScopeSeesChannelOneMeasuresAndSetsTheTrigger)
{
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;
    EXPECT_EQ(data.instrumentMode, 0x8000);
    saveArtefact(view, "home.png");

    // The mode tool opens the scope view.
    QQuickItem* modeTool = item("modeTool_Oscilloscope");
    ASSERT_NE(modeTool, nullptr);
    clickItem(*modeTool);
    ASSERT_TRUE(processEventsUntil(
        [&] { return data.instrumentMode == 0x10 && modeViews(view) == std::vector<std::string>{"scopeView"}; },
        kTimeoutMs));
    processEventsFor(500);
    for (const char* part : {"statusLine", "tuningPanel", "toolPanel", "mainScreen", "toolChannel1", "toolTimebase"})
        ASSERT_NE(item(part), nullptr) << part;

    // Channel 1's box: the first tap switches it on when it is off; then it is the reference.
    QQuickItem* box = item("toolChannel1");
    if (data.traceOnCh1 == 0) {
        clickItem(*box);
        ASSERT_TRUE(processEventsUntil([] { return data.traceOnCh1 != 0; }, kTimeoutMs));
    } else {
        clickItem(*box);
    }
    ASSERT_TRUE(processEventsUntil([] { return data.measRefChannel == 1; }, kTimeoutMs));

    // The live trace in the channel's colour on the main screen.
    const QColor colour = getZincColor(static_cast<unsigned short>(data.traceColorCh1));
    QQuickItem* screen = need("mainScreen");
    int found = 0;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            // Inside the flags of the zero line and the trigger, on both edges.
            found = countColour(view.grabWindow(), sceneRect(screen).adjusted(30, 20, -30, -5), colour);
            return found > 200;
        },
        kTimeoutMs))
        << "channel 1's colour " << colour.name().toStdString() << ": " << found << " pixels";
    saveArtefact(view, "scope-one-pane.png");

    // A pop-up over the view: the two-line form with the longest name the program proposes.
    view.screenMessage(14, "tavlin_2026-12-31_23-59-59.trc");
    QQuickItem* popUp = need("messageBox");
    ASSERT_TRUE(processEventsUntil([&] { return popUp->isVisible(); }, kTimeoutMs));
    processEventsFor(200);
    saveArtefact(view, "scope-message.png");
    view.screenMessage(0, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return !popUp->isVisible(); }, kTimeoutMs));

    // The measurement box of the reference channel shows a frequency once the cursors T1 and T2
    // span whole periods: a slower time base (remote command until the horizontal panel exists).
    pipe_dial slower{REQ_SET_PARAM, param::timeBaseIndex, 0, 17, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&slower);
    ASSERT_TRUE(processEventsUntil([] { return data.timeBaseIndex == 17; }, kTimeoutMs));
    clickItem(*tool("measChannelTool"));
    QQuickItem* measBox = findItem(need("measChannelPanel"), QStringLiteral("autoMeasChannel"));
    ASSERT_NE(measBox, nullptr);
    QString frequency;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            for (const QString& line : measBox->property("measurementList").toStringList())
                if (line.startsWith(QCoreApplication::translate("AutomeasComputeThread", "freq")) &&
                    !line.contains(QLatin1String("-----")))
                    frequency = line;
            return !frequency.isEmpty();
        },
        kTimeoutMs))
        << measBox->property("measurementList").toStringList().join(QLatin1Char('|')).toStdString();
    saveArtefact(view, "scope-measurements.png");

    // The trigger panel: a level typed on the keyboard goes to the controller and comes back.
    clickItem(*tool("triggerTool"));
    QQuickItem* trigger = need("triggerPanel");
    ASSERT_TRUE(processEventsUntil([&] { return trigger->opacity() == 1.0; }, kTimeoutMs));
    QQuickItem* levelField = findItem(trigger, QStringLiteral("tLevelValue"));
    ASSERT_NE(levelField, nullptr);
    const int16_t levelBefore = data.trigLevelCh1;
    QQuickItem* keyboard = need("numericKeyboard");
    clickItem(*levelField);
    ASSERT_TRUE(keyboard->isVisible());
    for (const char* key : {"key_0", "key_.", "key_3", "key_enter"})
        clickItem(*findItem(keyboard, QString::fromLatin1(key)));
    ASSERT_TRUE(processEventsUntil([&] { return data.trigLevelCh1 != levelBefore; }, kTimeoutMs));
    ASSERT_TRUE(processEventsUntil(
        [&] { return std::abs(trigger->property("tlevelValue").toDouble() - 0.3) < 0.02; }, kTimeoutMs))
        << trigger->property("tlevelValue").toDouble();
    saveArtefact(view, "scope-trigger-panel.png");

    // The trigger tool again closes its panel; the other panels with labels of their own (the
    // measurement table, the save panel) open and close the same way.
    clickItem(*tool("triggerTool"));
    ASSERT_TRUE(processEventsUntil([&] { return trigger->opacity() == 0.0; }, kTimeoutMs));
    for (const char* name : {"measTypeTool", "saveTool"}) {
        clickItem(*tool(name));
        processEventsFor(500);
        saveArtefact(view, (std::string("scope-") + name + ".png").c_str());
        clickItem(*tool(name));
        processEventsFor(300);
    }

    // Four panes, as a recalled setup or a remote command sets them.
    pipe_dial split{REQ_SET_PARAM, param::splitLayout, 0, 1, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&split);
    ASSERT_TRUE(processEventsUntil(
        [&] { return screen->childItems().size() >= 12; }, kTimeoutMs));
    processEventsFor(1000);
    saveArtefact(view, "scope-four-panes.png");

    // The dots mode (19) shows the same view.
    pipe_dial dots{REQ_SET_PARAM, param::instrumentMode, 0, 0x13, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&dots);
    ASSERT_TRUE(processEventsUntil(
        [&] { return view.scopeMode() == 0x13 && modeViews(view) == std::vector<std::string>{"scopeView"}; },
        kTimeoutMs))
        << "mode " << view.scopeMode();
}

// Each setting panel opened through the scope view's own wiring, one setting changed in each, and
// the controller's notice bringing the value back into the panel; then a smart probe plugged on
// channel 2 shows the overview.
PROGRAM_TEST_F(ScopeIntegrationTest, NewUserChangesTheSettingsFromThePanels)
{
    startScope();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;
    auto* dialog = qobject_cast<DialogPanel*>(need("dialogPanel"));
    ASSERT_NE(dialog, nullptr);
    auto inPanel = [&](const char* panel, const char* name) {
        QQuickItem* found = findItem(need(panel), QString::fromLatin1(name));
        if (!found)
            ADD_FAILURE() << "no item " << name << " in " << panel;
        return found;
    };
    auto pick = [&](const char* panel, const char* list, int index) {
        QQuickItem* box = inPanel(panel, list);
        clickItem(*findItem(box, QStringLiteral("listText")));
        processEventsFor(50);
        clickItem(*findItem(box, QStringLiteral("dropDownEntry") + QString::number(index)));
    };

    // The time-base box opens the horizontal panel; "2 ms" comes back into the panel and the box.
    QQuickItem* timebaseBox = need("toolTimebase");
    clickItem(*timebaseBox);
    QQuickItem* horizontal = need("horizontalPanel");
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == horizontal; }, kTimeoutMs));
    EXPECT_EQ(horizontal->property("timebaseIndex").toInt(), data.timeBaseIndex);
    pick("horizontalPanel", "timebaseSelect", 19);
    ASSERT_TRUE(processEventsUntil([&] { return data.timeBaseIndex == 19; }, kTimeoutMs));
    auto* box = qobject_cast<ToolTimebase*>(timebaseBox);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return box->divisionText() == QStringLiteral("2.00 ms/div"); }, kTimeoutMs))
        << box->divisionText().toStdString();
    EXPECT_EQ(inPanel("horizontalPanel", "timebaseSelect")->property("currentText").toString(), QStringLiteral("2 ms"));
    saveArtefact(view, "scope-horizontal-panel.png");

    // The format pages: FFT rebuilds the screen with the overview, Y(t) puts it back.
    QQuickItem* overview = need("overview");
    clickItem(*findItem(inPanel("horizontalPanel", "typeSelect"), QStringLiteral("selectKey1")));
    ASSERT_TRUE(processEventsUntil([&] { return data.traceFormat == 1 && overview->isVisible(); }, kTimeoutMs));
    EXPECT_TRUE(inPanel("horizontalPanel", "windowSelect")->isVisible());
    processEventsFor(300);
    saveArtefact(view, "scope-horizontal-panel-fft.png");
    clickItem(*findItem(inPanel("horizontalPanel", "typeSelect"), QStringLiteral("selectKey0")));
    ASSERT_TRUE(processEventsUntil([&] { return data.traceFormat == 0 && !overview->isVisible(); }, kTimeoutMs));
    clickItem(*inPanel("horizontalPanel", "closeCross"));
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == nullptr; }, kTimeoutMs));

    // An inactive channel's box: switched on, its vertical panel open; the coupling comes back.
    if (data.traceOnCh3 != 0) {
        pipe_dial off{REQ_SET_PARAM, param::traceOnCh3, 0, 0, 0.0f, senderValue(MENU_id)};
        o_g_consMessageBox.send(&off);
        ASSERT_TRUE(processEventsUntil([] { return data.traceOnCh3 == 0; }, kTimeoutMs));
    }
    clickItem(*need("toolChannel3"));
    QQuickItem* vertical = need("verticalPanel");
    ASSERT_TRUE(processEventsUntil([&] { return data.traceOnCh3 != 0 && dialog->displayedPanel() == vertical; },
                                   kTimeoutMs));
    EXPECT_EQ(inPanel("verticalPanel", "panelTitle")->property("text").toString(), QStringLiteral("CH3"));
    const int coupling = data.couplingCh3 == 1 ? 0 : 1;
    clickItem(*findItem(inPanel("verticalPanel", "couplingSelect"), QStringLiteral("selectKey") + QString::number(coupling)));
    ASSERT_TRUE(processEventsUntil(
        [&] { return data.couplingCh3 == coupling && vertical->property("couplingIndex").toInt() == coupling; },
        kTimeoutMs));
    saveArtefact(view, "scope-vertical-panel.png");

    // F4 of the math tool; the preset "ch1-ch4" makes channel 4 the difference.
    QQuickItem* math = tool("mathTool");
    clickItem(*findItem(math, QStringLiteral("optionsButton")));
    processEventsFor(600);
    clickItem(*findItem(math, QStringLiteral("option3")));
    QQuickItem* mathPanel = need("mathPanel");
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == mathPanel; }, kTimeoutMs));
    EXPECT_EQ(inPanel("mathPanel", "panelTitle")->property("text").toString(),
              QCoreApplication::translate("ScopeMath", "Fonction mathematique") + QStringLiteral(" F4"));
    clickItem(*inPanel("mathPanel", "preset3"));
    ASSERT_TRUE(processEventsUntil(
        [&] {
            auto* function = static_cast<TFonction*>(setupLink(param::mathFunctionCh4));
            return std::strcmp(data.mathExprCh4, "ch1-ch4") == 0 && data.traceOnCh4 == 1 && function &&
                   function->IsDefined();
        },
        kTimeoutMs));
    saveArtefact(view, "scope-math-panel.png");

    // Pass/fail on channel 1 with 0.2 division tolerances, started: the counter counts and the
    // mask is drawn behind the live traces. The mask is built from channel 1's record: on.
    if (data.traceOnCh1 == 0) {
        clickItem(*need("toolChannel1"));
        ASSERT_TRUE(processEventsUntil([] { return data.traceOnCh1 != 0; }, kTimeoutMs));
        processEventsFor(500);
    }
    clickItem(*tool("passFailTool"));
    QQuickItem* passFail = need("passFailPanel");
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == passFail; }, kTimeoutMs));
    clickItem(*inPanel("passFailPanel", "onOffButton"));
    ASSERT_TRUE(processEventsUntil([&] { return data.passFailOn == 1; }, kTimeoutMs));
    ASSERT_TRUE(processEventsUntil([&] { return passFail->property("onOff").toInt() == 1; }, kTimeoutMs));
    if (data.passFailSource != 0)
        clickItem(*findItem(inPanel("passFailPanel", "sourceSelect"), QStringLiteral("selectKey0")));
    QQuickItem* keyboard = need("numericKeyboard");
    for (const char* field : {"xMaskValue", "yMaskValue"}) {
        clickItem(*inPanel("passFailPanel", field));
        ASSERT_TRUE(keyboard->isVisible());
        for (const char* key : {"key_0", "key_.", "key_2", "key_enter"})
            clickItem(*findItem(keyboard, QString::fromLatin1(key)));
    }
    ASSERT_TRUE(processEventsUntil(
        [&] { return data.passFailSource == 0 && data.passFailXMask == 20 && data.passFailYMask == 20; }, kTimeoutMs));
    clickItem(*inPanel("passFailPanel", "runStopButton"));
    ASSERT_TRUE(processEventsUntil([&] { return data.passFailRunStop == 1; }, kTimeoutMs));
    QQuickItem* counter = inPanel("passFailPanel", "counterText");
    auto total = [&] {
        const QStringList parts = counter->property("text").toString().split(QStringLiteral(" / "));
        return parts.size() == 2 ? parts[1].toInt() : -1;
    };
    ASSERT_TRUE(processEventsUntil([&] { return total() > 0; }, kTimeoutMs)) << counter->property("text").toString().toStdString();
    const int first = total();
    ASSERT_TRUE(processEventsUntil([&] { return total() > first; }, kTimeoutMs));
    bool maskScreen = false;
    for (QQuickItem* child : need("mainScreen")->childItems())
        maskScreen = maskScreen || qobject_cast<TraceScreenPassFail*>(child) != nullptr;
    EXPECT_TRUE(maskScreen);
    // In the source's stored colour, not darkened like the traces beside it.
    const QColor maskColour = getZincColor(static_cast<unsigned short>(data.traceColorCh1 + 8));
    int maskPixels = 0;
    EXPECT_TRUE(processEventsUntil(
        [&] {
            maskPixels = countColour(view.grabWindow(), sceneRect(need("mainScreen")), maskColour);
            return maskPixels > 200;
        },
        kTimeoutMs))
        << maskColour.name().toStdString() << ": " << maskPixels << " pixels";
    saveArtefact(view, "scope-passfail-panel.png");

    // Stopped: the mask saved, then loaded back from the masks folder.
    clickItem(*inPanel("passFailPanel", "runStopButton"));
    ASSERT_TRUE(processEventsUntil([&] { return data.passFailRunStop == 0; }, kTimeoutMs));
    ASSERT_TRUE(processEventsUntil([&] { return passFail->property("runStop").toInt() == 0; }, kTimeoutMs));
    clickItem(*inPanel("passFailPanel", "maskSaveButton"));
    QQuickItem* maskSave = need("maskSave");
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == maskSave; }, kTimeoutMs));
    const QString masks = QString::fromStdString(boardPath("/media/user/masks"));
    auto maskFiles = [&] { return QDir(masks).entryList(QDir::Files); };
    ASSERT_TRUE(maskFiles().isEmpty());
    clickItem(*inPanel("maskSave", "saveTool"));
    ASSERT_TRUE(processEventsUntil([&] { return !maskFiles().isEmpty(); }, kTimeoutMs));
    processEventsFor(500);
    clickItem(*tool("passFailTool"));
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == passFail; }, kTimeoutMs));
    clickItem(*inPanel("passFailPanel", "maskLoadButton"));
    QQuickItem* maskLoad = need("maskLoad");
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == maskLoad; }, kTimeoutMs));
    EXPECT_EQ(inPanel("maskLoad", "fileList")->property("currentText").toString(), maskFiles().value(0));
    clickItem(*inPanel("maskLoad", "loadTool"));
    ASSERT_TRUE(processEventsUntil([&] { return data.passFailMaskIsMemory == 1; }, kTimeoutMs));
    clickItem(*tool("passFailTool"));
    ASSERT_TRUE(processEventsUntil([&] { return dialog->displayedPanel() == passFail; }, kTimeoutMs));
    EXPECT_EQ(passFail->property("maskIsMemory").toInt(), 1);
    EXPECT_FALSE(inPanel("passFailPanel", "xMask")->isEnabled());

    // An x10 probe of the instrument's own range plugged on channel 2 and its event: the
    // overview over the screen.
    QQuickItem* probeOverview = need("kalvexOverview");
    EXPECT_FALSE(probeOverview->isVisible());
    simboard::plugProbe(1, probeWithId(0x8001));
    pipe_dial event{REQ_PROBE_EVENT, 1, 0, 0, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&event);
    ASSERT_TRUE(processEventsUntil([&] { return probeOverview->isVisible(); }, kTimeoutMs));
    const QStringList second = probeOverview->property("kalvexListCh2").toStringList();
    ASSERT_EQ(second.size(), 7);
    EXPECT_EQ(second[1], QStringLiteral("300V CAT III"));
    EXPECT_EQ(second[6], QStringLiteral("VP110 x10 voltage probe"));
    EXPECT_EQ(probeOverview->property("kalvexListCh1").toStringList().value(1),
              QCoreApplication::translate("KalvexOverview", "600 V CAT III"));
    processEventsFor(300);
    saveArtefact(view, "scope-probe-overview.png");
    clickItem(*probeOverview);
    ASSERT_TRUE(processEventsUntil([&] { return !probeOverview->isVisible(); }, kTimeoutMs));
}

} // namespace

PROGRAM_TEST_F(ScopeIntegrationTest, KeyHelpExplainsAPressedKeyAndATouchEndsIt)
{
    startScope();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;

    QQuickItem* help = need("keyHelp");
    QQuickItem* image = need("keyHelpImage");
    QQuickItem* text = need("keyHelpText");
    clickItem(*tool("helpTool"));
    ASSERT_TRUE(processEventsUntil([&] { return data.keyHelpOn == 1 && help->isVisible(); }, kTimeoutMs));
    EXPECT_EQ(text->property("text").toString(), QCoreApplication::translate("KeyHelp", "AIDE_INFO"));

    // A key of the panel, pressed and released on the simulated board: explained, not acted on.
    processEventsFor(300);
    database before;
    std::memcpy(&before, &data, sizeof(database));
    simboard::pressKeys(0x8);
    processEventsFor(150);
    simboard::releaseKeys(0x8);
    ASSERT_TRUE(processEventsUntil([&] { return image->isVisible(); }, kTimeoutMs));
    EXPECT_TRUE(image->property("source").toString().endsWith(QLatin1String("/Touche24.png")));
    EXPECT_NE(text->property("text").toString(), QCoreApplication::translate("KeyHelp", "AIDE_INFO"));
    processEventsFor(300);
    EXPECT_EQ(std::memcmp(&before, &data, sizeof(database)), 0);
    saveArtefact(view, "scope-key-help.png");

    clickItem(*text);
    ASSERT_TRUE(processEventsUntil([&] { return data.keyHelpOn == 0 && !help->isVisible(); }, kTimeoutMs));
}
