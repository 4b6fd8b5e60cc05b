// The meter view document under the program's root window: its layout on the 800 x 480 screen,
// the requests of its tools, the hidden three-phase option and its going.
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/CmdesBase.h"
#include "core/requests.h"
#include "tests/ui/support/homescreen.h"
#include "ui/frame/dialogpanel.h"
#include "ui/traces/loggerpanel.h"
#include "ui/meter/meterpanel.h"
#include "ui/meter/meterview.h"

#include <QQuickItem>

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class MeterViewQmlTest : public HomeScreenTest {
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
        closeView();
        po_g_homeView = nullptr;
        HomeScreenTest::TearDown();
        takeRequests();
    }
    QQuickItem* open()
    {
        HomeView& root = load();
        po_g_homeView = &root;
        EXPECT_TRUE(showAndExpose());
        // The controller sets the installed channels at start.
        data.hwChannelMask = EtatLogique(ETAT_TWO_CHANNEL_MODEL) ? 9 : 0xF;
        data.instrumentMode = 128;
        view_->screenRaz();
        if (!processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"meterView"}; })) {
            ADD_FAILURE() << "no meter view";
            return nullptr;
        }
        return item("meterView");
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
    QQuickItem* tool(const char* name) { return need(item("toolPanel"), name); }
    static std::vector<pipe_dial> settings(const std::vector<pipe_dial>& requests)
    {
        std::vector<pipe_dial> out;
        for (const pipe_dial& r : requests)
            if (r.kind == REQ_SET_PARAM)
                out.push_back(r);
        return out;
    }

    static QQuickItem* need(QQuickItem* under, const char* name)
    {
        QQuickItem* found = under ? findItem(under, QString::fromLatin1(name)) : nullptr;
        if (!found)
            ADD_FAILURE() << "no item " << name;
        return found;
    }
};

TEST_F(MeterViewQmlTest, LayoutAndPanel)
{
    QQuickItem* view = open();
    ASSERT_NE(view, nullptr);
    EXPECT_NE(qobject_cast<MeterView*>(view), nullptr);
    EXPECT_EQ(rect("toolPanel").width(), 70);
    EXPECT_EQ(rect("toolPanel").x(), 0);
    EXPECT_EQ(rect("meterStatusLine").bottom(), 480);
    EXPECT_EQ(rect("meterStatusLine").height(), 35);
    EXPECT_EQ(rect("meterPanel").size(), QSizeF(680, 430));
    EXPECT_GE(rect("meterPanel").x(), 70);
    EXPECT_LE(rect("meterPanel").right(), 800);
    EXPECT_EQ(rect("dialogPanel").bottom(), rect("meterStatusLine").top());
    // The layout ran on completion: a box per installed channel.
    auto* panel = qobject_cast<MeterPanel*>(item("meterPanel"));
    ASSERT_NE(panel, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(panel->box(i), nullptr) << i;
    EXPECT_EQ(::access(hostPath("/var/tmp/auto_off").c_str(), F_OK), -1);
    closeView();
    EXPECT_EQ(::access(hostPath("/var/tmp/auto_off").c_str(), F_OK), 0);
}

TEST_F(MeterViewQmlTest, ToolRequests)
{
    ASSERT_NE(open(), nullptr);
    takeRequests();
    struct Row {
        const char* tool;
        const char* option;  // nullptr: the tool itself
        int parameter;
        int value;
    };
    const Row rows[] = {
        {"homeTool", nullptr, param::instrumentMode, 0x8000},
        {"recorderTool", nullptr, param::instrumentMode, 0x82},
        {"functionTool", "option0", param::meterFunction, 0},
        {"functionTool", "option3", param::meterFunction, 3},
        {"powerTool", "option0", param::meterFunction, 8},
        {"powerTool", "option1", param::meterFunction, 9},
        {"powerTool", "option2", param::meterFunction, 11},
        {"powerTool", "option3", param::meterFunction, 10},
        {"frequencyTool", nullptr, param::meterAuxMeas, 0},
        {"statisticsTool", nullptr, param::meterAuxMeas, 1},
        {"relativeTool", nullptr, param::meterAuxMeas, 2},
        {"helpTool", nullptr, param::keyHelpOn, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.tool) + " " + (r.option ? r.option : ""));
        QQuickItem* t = tool(r.tool);
        ASSERT_NE(t, nullptr);
        if (r.option) {
            clickItem(*need(t, "optionsButton"));
            processEventsFor(600);
            clickItem(*need(t, r.option));
        } else {
            clickItem(*t);
        }
        const std::vector<pipe_dial> sent = settings(takeRequests());
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].code, r.parameter);
        EXPECT_EQ(sent[0].intValue, r.value);
    }
    // The file tool shows the save panel and posts nothing.
    clickItem(*tool("fileTool"));
    auto* dialog = qobject_cast<DialogPanel*>(item("dialogPanel"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->displayedPanel(), item("fileSave"));
    EXPECT_TRUE(settings(takeRequests()).empty());
}

TEST_F(MeterViewQmlTest, TwoChannelModelHidesTheThreePhaseOption)
{
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    ASSERT_NE(open(), nullptr);
    QQuickItem* power = tool("powerTool");
    ASSERT_NE(power, nullptr);
    EXPECT_FALSE(need(power, "option1")->isVisible() && need(power, "option1")->property("visible").toBool());
    EXPECT_TRUE(need(power, "option0")->property("visible").toBool());
}

TEST_F(MeterViewQmlTest, ModeChangeReplacesTheViewAndTheWindowTakesItAlong)
{
    ASSERT_NE(open(), nullptr);
    // The notice deletes the view; its end asks for the next one.
    data.instrumentMode = 130;
    view_->screenRaz();
    ASSERT_TRUE(processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"loggerView"}; }));
    // The recorder's panel took over: the activity mark stayed away.
    EXPECT_EQ(LoggerPanel::livePanels(), 1);
    EXPECT_EQ(::access(hostPath("/var/tmp/auto_off").c_str(), F_OK), -1);
    data.instrumentMode = 128;
    view_->screenRaz();
    ASSERT_TRUE(processEventsUntil([this] { return modeViews(*view_) == std::vector<std::string>{"meterView"}; }));
    // Going with the window: no panel left behind.
    unload();
    EXPECT_EQ(LoggerPanel::livePanels(), 0);
    EXPECT_EQ(::access(hostPath("/var/tmp/auto_off").c_str(), F_OK), 0);
}

} // namespace
