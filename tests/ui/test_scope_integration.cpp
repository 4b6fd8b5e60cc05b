// The oscilloscope tried as a new user would: the whole program in this process (controller,
// acquisition, root window) on the simulated board of the test's own root. The user opens the
// scope through the mode tool, switches channel 1 on with its box, reads the measurements,
// changes the trigger level on the keyboard, and the screen follows the controller.
#include "board/sim/simboard.h"
#include "board/board.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/root.h"
#include "tests/ui/homescreen.h"
#include "ui/dialogpanel.h"
#include "ui/zinccolor.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace {

// Generous: acquisitions under the sanitizers on a loaded machine.
constexpr int kTimeoutMs = 60000;

void saveArtefact(HomeView& view, const char* name)
{
    const QString dir = QStringLiteral(BENCHVIEW_ARTEFACT_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(view.grabWindow().save(dir + QLatin1Char('/') + QLatin1String(name), "PNG"));
}

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

class ScopeIntegrationTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        simboard::registerScenarioSeed();
        HomeScreenTest::SetUp();
        if (HasFatalFailure())
            return;
        // As main does, before any thread starts.
        mkdir(boardPath("/media/private/batch").c_str(), 0777);
        std::string why;
        ASSERT_TRUE(simboard::install(&why)) << why;
    }
    void TearDown() override
    {
        // The controller and the acquisition go on running: they must find no window from now
        // on. A call they have begun ends long before the window goes.
        po_g_homeBridge.store(nullptr);
        po_g_homeView = nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // The view goes before the window, as at a mode change: its overlays must not outlive
        // the root window's own destruction.
        if (view_) {
            data.instrumentMode = HomeView::kNoView;
            view_->screenRaz();
            EXPECT_TRUE(processEventsUntil([this] { return modeViews(*view_).empty(); }));
        }
        unload();
        simboard::shutdown();
        simboard::uninstall();
        HomeScreenTest::TearDown();
    }

    // The program's start: controller thread, root window published, start-up notice.
    void startProgram()
    {
        // The catalogue and font of the default configuration, before the window loads.
        installTranslator();
        QGuiApplication::setFont(QFont(applicationFontFamily(readRootConfig().language), kApplicationFontPointSize));
        HomeView& view = load();
        po_g_homeView = &view;
        po_g_homeBridge.store(&view, std::memory_order_release);
        emit view.complete();
        ASSERT_EQ(startThread(&COMM_id, command, nullptr, 65, false, "COMM"), 0);
        ASSERT_TRUE(processEventsUntil([&] { return view.isExposed(); }, kTimeoutMs));
        processEventsFor(300);
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

TEST_F(ScopeIntegrationTest, NewUserOpensTheScopeSeesChannelOneMeasuresAndSetsTheTrigger)
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

} // namespace

TEST_F(ScopeIntegrationTest, KeyHelpExplainsAPressedKeyAndATouchEndsIt)
{
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    HomeView& view = *view_;
    clickItem(*item("modeTool_Oscilloscope"));
    ASSERT_TRUE(processEventsUntil([&] { return modeViews(view) == std::vector<std::string>{"scopeView"}; },
                                   kTimeoutMs));
    processEventsFor(500);

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
