// The recorder view: its root item following the full-screen switch, and its document under the
// program's root window (layout on the 800 x 480 screen, tool requests, the save panel, the
// full-screen collapse, the change to the next view).
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/homescreen.h"
#include "tests/ui/support/qmlharness.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/frame/dialogpanel.h"
#include "ui/frame/filesave.h"
#include "ui/traces/gridscreen.h"
#include "ui/traces/loggerpanel.h"
#include "ui/traces/loggerscreen.h"
#include "ui/traces/loggerstatusline.h"
#include "ui/recorder/loggerview.h"

#include <QPointer>
#include <QQuickItem>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
using LoggerViewItemTest = uitest::HomeViewTest;
} // namespace

TEST_F(LoggerViewItemTest, FollowsTheFullScreenSwitchAndGoesOnTheResetNotice)
{
    QPointer<LoggerView> view = new LoggerView();
    int changes = 0;
    QObject::connect(view.data(), &LoggerView::displayFullScreenChanged, [&changes] { ++changes; });
    const struct {
        int code;
        uint8_t flag;
        bool fullScreen;
        int changes;
    } rows[] = {
        {0, 1, false, 0},
        {param::keyToggleFlag, 1, true, 1},
        {param::splitLayout, 0, true, 1},
        {param::spareWord29, 0, false, 2},
        {param::spareWord29, 1, true, 3},
    };
    for (const auto& row : rows) {
        data.keyToggleFlag = row.flag;
        emit home_->screenMajSignal(row.code);
        EXPECT_EQ(view->displayFullScreen(), row.fullScreen) << row.code;
        EXPECT_EQ(changes, row.changes) << row.code;
    }
    emit home_->screenRazSignal();
    processEventsOnce(10);
    EXPECT_TRUE(view.isNull());
}

namespace {

class LoggerViewQmlTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
        std::string why;
        ASSERT_TRUE(simboard::install(&why)) << why;
    }
    void TearDown() override
    {
        if (view_) {
            data.instrumentMode = HomeView::kNoView;
            view_->screenRaz();
            EXPECT_TRUE(processEventsUntil([this] { return modeViews(*view_).empty(); }));
        }
        po_g_homeView = nullptr;
        HomeScreenTest::TearDown();
        takeRequests();
    }
    QQuickItem* open()
    {
        HomeView& root = load();
        po_g_homeView = &root;
        EXPECT_TRUE(showAndExpose());
        data.hwChannelMask = 0xF;
        data.channelFlags = 0x1;
        data.instrumentMode = 130;
        view_->screenRaz();
        if (!processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"loggerView"}; })) {
            ADD_FAILURE() << "no recorder view";
            return nullptr;
        }
        processEventsFor(50);
        return item("loggerView");
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

} // namespace

TEST_F(LoggerViewQmlTest, LayoutAndFullScreen)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(rect("loggerView"), QRectF(0, 0, 800, 480));
    const qreal panelHeight = item("loggerPanel")->height();
    EXPECT_GT(panelHeight, 100);
    EXPECT_EQ(rect("toolPanel"), QRectF(0, 0, 70, 445));
    EXPECT_EQ(rect("loggerPanel"), QRectF(70, 0, 730, panelHeight));
    EXPECT_EQ(rect("loggerScreenComp"), QRectF(70, panelHeight, 730, 40));
    EXPECT_EQ(rect("loggerScreen"), QRectF(70, panelHeight + 40, 730, 445 - panelHeight - 40));
    EXPECT_EQ(rect("loggerStatusLine"), QRectF(40, 445, 760, 35));
    EXPECT_FALSE(item("loggerStatusLine")->property("trigger").toString().isEmpty());
    EXPECT_FALSE(item("loggerIcon")->property("source").toString().isEmpty());
    EXPECT_EQ(item("loggerIcon")->property("status").toInt(), 1);  // Image.Ready
    // The panes were built for the size the document gave.
    auto* screen = qobject_cast<LoggerScreen*>(item("loggerScreen"));
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->grid(0), nullptr);
    EXPECT_EQ(screen->grid(0)->height(), screen->height());
    saveArtefact(*view_, "logger-view-layout.png");

    // Full screen: the tool column and the recorder panel collapse; the screens take the room.
    data.keyToggleFlag = 1;
    view_->screenMaj(param::keyToggleFlag);
    processEventsFor(50);
    EXPECT_EQ(item("toolPanel")->width(), 0);
    EXPECT_EQ(item("loggerPanel")->height(), 0);
    EXPECT_EQ(rect("loggerScreenComp"), QRectF(0, 0, 800, 40));
    EXPECT_EQ(rect("loggerScreen"), QRectF(0, 40, 800, 405));
    // The notice again with the flag unchanged keeps it so, though the panel lays itself out anew.
    view_->screenMaj(param::spareWord29);
    processEventsFor(50);
    EXPECT_EQ(item("loggerPanel")->height(), 0);
    EXPECT_EQ(rect("loggerScreenComp"), QRectF(0, 0, 800, 40));
    data.keyToggleFlag = 0;
    view_->screenMaj(param::keyToggleFlag);
    processEventsFor(50);
    EXPECT_EQ(rect("toolPanel"), QRectF(0, 0, 70, 445));
    EXPECT_EQ(item("loggerPanel")->height(), panelHeight);
    // An unchanged flag leaves the restored height.
    view_->screenMaj(param::spareWord29);
    processEventsFor(50);
    EXPECT_EQ(item("loggerPanel")->height(), panelHeight);
}

TEST_F(LoggerViewQmlTest, ToolsAndTheSavePanel)
{
    ASSERT_NE(open(), nullptr);
    takeRequests();
    const struct {
        const char* tool;
        int parameter;
        int value;
    } rows[] = {
        {"homeTool", param::instrumentMode, 0x8000},
        {"meterTool", param::instrumentMode, 0x80},
        {"helpTool", param::keyHelpOn, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.tool);
        clickKey(item("toolPanel"), r.tool);
        processEventsFor(20);
        const std::vector<pipe_dial> sent = settings(takeRequests());
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].code, r.parameter);
        EXPECT_EQ(sent[0].intValue, r.value);
    }
    // The file tool shows the recorder's save panel and posts nothing.
    clickKey(item("toolPanel"), "fileTool");
    processEventsFor(20);
    EXPECT_TRUE(settings(takeRequests()).empty());
    ASSERT_EQ(shownPanel(), item("fileSave"));
    EXPECT_EQ(item("fileSave")->property("saveTypes").toInt(), int(FileSave::Logger));
}

TEST_F(LoggerViewQmlTest, TheResetNoticeEndsTheViewAndTheNextOneComes)
{
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(LoggerPanel::livePanels(), 1);
    data.instrumentMode = 128;
    view_->screenRaz();
    ASSERT_TRUE(processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"meterView"}; }));
    EXPECT_EQ(item("loggerStatusLine"), nullptr);
}
