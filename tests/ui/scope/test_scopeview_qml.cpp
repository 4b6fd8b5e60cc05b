// The scope view document under the program's root window: its layout on the 800 x 480 screen,
// the panels its tools, boxes and notices open, and that opening it posts no setting.
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/homescreen.h"
#include "ui/frame/dialogpanel.h"
#include "ui/scope/scopeview.h"

#include <QDir>
#include <cstring>
#include <QQuickItem>

#include <gtest/gtest.h>

namespace {

class ScopeViewQmlTest : public HomeScreenTest {
protected:
    // The root window as main publishes it: the view's items connect to it.
    HomeView& loadRoot()
    {
        HomeView& root = load();
        po_g_homeView = &root;
        return root;
    }
    void TearDown() override
    {
        // The view goes before the window, as at a mode change: its overlays must not outlive
        // the root window's own destruction.
        closeView();
        po_g_homeView = nullptr;
        HomeScreenTest::TearDown();
        takeRequests();
    }
    // Opens the scope view in a mode; the test fails when it does not appear.
    QQuickItem* open(int mode)
    {
        data.instrumentMode = mode;
        view_->screenRaz();
        if (!processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"scopeView"}; })) {
            ADD_FAILURE() << "no scope view for mode " << mode;
            return nullptr;
        }
        return item("scopeView");
    }
    void closeView()
    {
        if (!view_)
            return;
        data.instrumentMode = HomeView::kNoView;
        view_->screenRaz();
        EXPECT_TRUE(processEventsUntil([this] { return modeViews(*view_).empty(); }));
    }
    QRectF rect(const char* name)
    {
        QQuickItem* i = item(name);
        if (!i) {
            ADD_FAILURE() << "no item " << name;
            return QRectF();
        }
        return QRectF(i->mapToScene(QPointF(0, 0)), QSizeF(i->width(), i->height()));
    }
    // A tool of the tool bar (the panels have tools of their own).
    QQuickItem* tool(const char* name)
    {
        QQuickItem* found = findItem(item("toolPanel"), QString::fromLatin1(name));
        if (!found)
            ADD_FAILURE() << "no tool " << name;
        return found;
    }
    QQuickItem* shownPanel()
    {
        auto* dialog = qobject_cast<DialogPanel*>(item("dialogPanel"));
        return dialog ? dialog->displayedPanel() : nullptr;
    }
    static std::vector<pipe_dial> settings(const std::vector<pipe_dial>& requests)
    {
        std::vector<pipe_dial> out;
        for (const pipe_dial& r : requests)
            if (r.kind == REQ_SET_PARAM)
                out.push_back(r);
        return out;
    }
};

TEST_F(ScopeViewQmlTest, LayoutOnTheScreenAndNoSettingPostedAtCreation)
{
    loadRoot();
    ASSERT_TRUE(showAndExpose());
    takeRequests();
    // A function in the setup: the math panel created closed must not send its empty text.
    std::strcpy(data.mathExprCh1, "ch2");
    ASSERT_NE(open(0x10), nullptr);
    processEventsFor(100);
    EXPECT_TRUE(settings(takeRequests()).empty());

    EXPECT_EQ(rect("toolPanel"), QRectF(0, 0, 70, 440));
    EXPECT_EQ(rect("tuningPanel"), QRectF(70, 0, 730, 75));
    EXPECT_EQ(rect("mainScreen"), QRectF(70, 75, 730, 365));
    EXPECT_EQ(rect("statusLine"), QRectF(40, 440, 760, 40));
    EXPECT_FALSE(item("overview")->isVisible());
    EXPECT_EQ(item("statusLine")->property("trigger").toString(), QStringLiteral("..."));
    // Every panel starts hidden.
    for (const char* panel : {"measChannelPanel", "measTypePanel", "triggerPanel", "verticalPanel", "horizontalPanel",
                              "mathPanel", "passFailPanel", "fileSave"}) {
        ASSERT_NE(item(panel), nullptr) << panel;
        EXPECT_EQ(item(panel)->opacity(), 0) << panel;
    }

    // Zoomed or non-time display: the overview takes 40 pixels under the tuning bar.
    data.traceFormat = 1;
    view_->screenMaj(param::traceFormat);
    processEventsFor(50);
    EXPECT_TRUE(item("overview")->isVisible());
    EXPECT_EQ(rect("overview"), QRectF(70, 75, 730, 40));
    EXPECT_EQ(rect("mainScreen"), QRectF(70, 115, 730, 325));
    // Full screen: tool bar and tuning bar collapse.
    data.keyToggleFlag = 1;
    view_->screenMaj(param::keyToggleFlag);
    processEventsFor(50);
    EXPECT_EQ(item("toolPanel")->width(), 0);
    EXPECT_EQ(item("tuningPanel")->height(), 0);
    EXPECT_EQ(rect("overview"), QRectF(0, 0, 800, 40));
    saveArtefact(*view_, "scope-view-fft-fullscreen.png");
}

TEST_F(ScopeViewQmlTest, ToolsAndNoticesOpenTheirPanelsOneAtATime)
{
    loadRoot();
    ASSERT_TRUE(showAndExpose());
    ASSERT_NE(open(0x10), nullptr);
    processEventsFor(50);

    // The controller's command 0 opens the measurement box, and leaves it open when repeated.
    view_->screenIhm(0, 0, 0);
    processEventsFor(20);
    EXPECT_EQ(shownPanel(), item("measChannelPanel"));
    view_->screenIhm(0, 0, 0);
    processEventsFor(20);
    EXPECT_EQ(shownPanel(), item("measChannelPanel"));

    struct Case {
        const char* tool;
        const char* panel;
    } cases[] = {
        {"triggerTool", "triggerPanel"},   {"measTypeTool", "measTypePanel"}, {"measChannelTool", "measChannelPanel"},
        {"saveTool", "fileSave"},          {"passFailTool", "passFailPanel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        clickItem(*tool(c.tool));
        processEventsFor(20);
        EXPECT_EQ(shownPanel(), item(c.panel));
        EXPECT_EQ(item(c.panel)->opacity(), 1);
        // The dialog strip sits on the status line and never covers the whole screen.
        EXPECT_EQ(rect("dialogPanel").bottom(), 440);
        EXPECT_GT(item("mainScreen")->height(), 150);
    }
    takeRequests();
    // The pass/fail tool unzooms (three requests) before its panel goes away on a second click.
    clickItem(*tool("passFailTool"));
    processEventsFor(20);
    EXPECT_EQ(settings(takeRequests()).size(), 3u);
    EXPECT_EQ(shownPanel(), nullptr);

    // Math: the option picks the function shown in the panel.
    QQuickItem* math = tool("mathTool");
    ASSERT_NE(math, nullptr);
    QQuickItem* button = findItem(math, QStringLiteral("optionsButton"));
    ASSERT_NE(button, nullptr);
    clickItem(*button);
    processEventsFor(600);
    QQuickItem* option = findItem(math, QStringLiteral("option2"));
    ASSERT_NE(option, nullptr);
    clickItem(*option);
    processEventsFor(20);
    EXPECT_EQ(shownPanel(), item("mathPanel"));
    EXPECT_EQ(findItem(item("mathPanel"), "panelTitle")->property("text").toString(), QStringLiteral("Fonction mathematique F3"));
    // The close cross closes it.
    clickItem(*findItem(item("mathPanel"), "closeCross"));
    processEventsFor(20);
    EXPECT_EQ(shownPanel(), nullptr);
}

TEST_F(ScopeViewQmlTest, ChannelClickOpensTheVerticalPanelOnlyForAnInstalledChannel)
{
    loadRoot();
    ASSERT_TRUE(showAndExpose());
    QQuickItem* scope = open(0x10);
    ASSERT_NE(scope, nullptr);
    data.traceOnCh1 = 1;
    data.traceOnCh2 = 0;
    processEventsFor(50);
    takeRequests();

    QMetaObject::invokeMethod(scope, "channelClicked", Q_ARG(QVariant, 15), Q_ARG(QVariant, 1));
    EXPECT_EQ(shownPanel(), item("verticalPanel"));
    EXPECT_EQ(findItem(item("verticalPanel"), "panelTitle")->property("text").toString(), QStringLiteral("CH2"));
    auto requests = settings(takeRequests());
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, param::traceOnCh2);
    EXPECT_EQ(requests[1].code, param::measRefChannel);

    // Channel 1 on a model that lacks it in the mask: the reference changes, the panel closes.
    QMetaObject::invokeMethod(scope, "channelClicked", Q_ARG(QVariant, 8), Q_ARG(QVariant, 0));
    EXPECT_EQ(shownPanel(), nullptr);
    requests = settings(takeRequests());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, param::measRefChannel);
}

TEST_F(ScopeViewQmlTest, EveryScopeModeShowsTheViewAndAModeChangeReplacesIt)
{
    loadRoot();
    for (int mode : {0x10, 0x12, 0x13}) {
        SCOPED_TRACE(mode);
        QQuickItem* scope = open(mode);
        ASSERT_NE(scope, nullptr);
        EXPECT_NE(qobject_cast<ScopeView*>(scope), nullptr);
        data.instrumentMode = HomeView::kNoView;
        view_->screenRaz();
        ASSERT_TRUE(processEventsUntil([this] { return modeViews(*view_).empty(); }));
    }
}

} // namespace
