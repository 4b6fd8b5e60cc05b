// The viewer's filter and list panels under the program's root window: opening them posts
// nothing, a typed level posts its two requests, and the list panel shows the events it is given.
#include "board/sim/simboard.h"  // before Qt: the scenario has a member named "signals"

#include "tests/ui/support/qmlharness.h"

#include "acquisition/TAcquisition.h"
#include "ui/frame/dialogpanel.h"
#include "ui/viewer/viewereventfilter.h"
#include "ui/viewer/viewereventlist.h"

#include <QQmlComponent>

namespace {

class ViewerEventsQmlTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        saved_ = setupLinks();
        trace_ = std::make_unique<TAcquisition>(1);
        setupLinks().acqCh1 = trace_.get();
        data.eventSource = 0;
        data.eventType = 1;
        data.eventLevel1 = 524256;
        data.eventDuration = 5;
    }
    void TearDown() override
    {
        delete panel_;
        po_g_homeView = nullptr;
        HomeScreenTest::TearDown();
        setupLinks() = saved_;
    }

    // Loads the root and one panel document in it.
    QQuickItem* open(const char* url)
    {
        load();
        if (!view_ || !showAndExpose())
            return nullptr;
        po_g_homeView = view_;
        QQmlComponent component(engine_, QUrl(QString::fromLatin1(url)));
        QObject* object = component.create(engine_->contextForObject(root_));
        panel_ = qobject_cast<QQuickItem*>(object);
        if (!panel_) {
            ADD_FAILURE() << component.errorString().toStdString();
            delete object;
            return nullptr;
        }
        panel_->setParentItem(view_->contentItem());
        processEventsFor(50);
        return panel_;
    }

    TSetupLinks saved_;
    std::unique_ptr<TAcquisition> trace_;
    QQuickItem* panel_ = nullptr;
};

TEST_F(ViewerEventsQmlTest, FilterOpensWithoutPostingAndATypedLevelPostsItsRequests)
{
    QQuickItem* filter = open("qrc:/ViewerEventFilter.qml");
    ASSERT_NE(filter, nullptr);
    // Shown as the view shows it: the setup is read, the count hidden.
    filter->setOpacity(0);
    filter->setOpacity(1);
    processEventsFor(30);
    EXPECT_TRUE(takeRequests().empty());
    EXPECT_FALSE(need(filter, "countText")->isVisible());

    QQuickItem* numeric = item("numericKeyboard");
    ASSERT_NE(numeric, nullptr);
    clickItem(*need(filter, "level1Value"));
    ASSERT_TRUE(numeric->isVisible());
    clickKeys(numeric, {"key_0", "key_enter"});
    processEventsFor(30);
    EXPECT_TRUE(takeRequests().empty());  // the value shown: no change

    double span = 0.0;
    trace_->GetMMRange(&span, nullptr, nullptr);
    ASSERT_GT(span, 0.0);
    clickItem(*need(filter, "durationValue"));
    clickKeys(numeric, {"key_2", "key_enter"});
    processEventsFor(30);
    const std::vector<pipe_dial> posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 211);
    EXPECT_EQ(posted[0].intValue, 10);

    // A level: the stored code, then the cursor's mirrored code.
    clickItem(*need(filter, "level1Value"));
    clickKeys(numeric, {"key_0", "key_.", "key_5", "key_enter"});
    processEventsFor(30);
    const std::vector<pipe_dial> level = takeRequests();
    ASSERT_EQ(level.size(), 2u);
    EXPECT_EQ(level[0].code, 209);
    EXPECT_EQ(level[0].intValue, static_cast<intptr_t>(0.5 / (span / 262080.0) + 524256.0));
    EXPECT_EQ(level[1].code, 88);
    EXPECT_EQ(level[1].intValue, 1048512 - level[0].intValue);

    QMetaObject::invokeMethod(filter, "counterChanged", Q_ARG(int, 250));
    processEventsFor(10);
    EXPECT_TRUE(need(filter, "countText")->isVisible());
    EXPECT_EQ(need(filter, "countText")->property("text").toString(), QStringLiteral("> 250 event(s) found"));
}

TEST_F(ViewerEventsQmlTest, ListPanelShowsItsEventsAndTheSelection)
{
    QQuickItem* panel = open("qrc:/ViewerEventList.qml");
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(takeRequests().empty());
    panel->setProperty("filterText", QStringLiteral("CH1 < 0.000 V : 1.000 s"));
    EXPECT_EQ(panel->property("title").toString(), QStringLiteral("CH1 < 0.000 V : 1.000 s - (-/0)"));
    panel->setProperty("events", QStringList{"2026-03-14,09:20:01.8|9", "2026-03-14,09:20:03.0|15"});
    processEventsFor(20);
    EXPECT_EQ(panel->property("title").toString(), QStringLiteral("CH1 < 0.000 V : 1.000 s - (1/2)"));
    const std::vector<pipe_dial> posted = takeRequests();
    ASSERT_EQ(posted.size(), 6u);
    EXPECT_EQ(posted[2].intValue, 9);  // cursor 1 on the first event
}

// The list panel in the view's dialog strip closes on its own button, not only on its tool.
TEST_F(ViewerEventsQmlTest, ListPanelClosesOnItsCloseButton)
{
    QQuickItem* panel = open("qrc:/ViewerEventList.qml");
    ASSERT_NE(panel, nullptr);
    DialogPanel strip(view_->contentItem());
    strip.setWidth(730);
    panel->setParentItem(&strip);
    panel->setOpacity(0);
    strip.display(panel);
    processEventsFor(20);
    ASSERT_EQ(strip.displayedPanel(), panel);
    QQuickItem* close = need(panel, "closeButton");
    ASSERT_NE(close, nullptr);
    clickItem(*close);
    processEventsFor(20);
    EXPECT_EQ(strip.displayedPanel(), nullptr);
    EXPECT_EQ(panel->opacity(), 0.0);
    panel->setParentItem(view_->contentItem());
}

// The filter opens on a setup with no event type (its default): the type box asks for one
// instead of standing empty, and the longest type is shown whole.
TEST_F(ViewerEventsQmlTest, TypeBoxIsNeverBlankNorCut)
{
    data.eventType = 0;
    QQuickItem* filter = open("qrc:/ViewerEventFilter.qml");
    ASSERT_NE(filter, nullptr);
    filter->setOpacity(0);
    filter->setOpacity(1);
    processEventsFor(30);
    QQuickItem* box = need(filter, "typeSelect");
    ASSERT_NE(box, nullptr);
    QQuickItem* placeholder = findItem(box, QStringLiteral("placeholder"));
    ASSERT_NE(placeholder, nullptr);
    EXPECT_TRUE(placeholder->isVisible());
    EXPECT_FALSE(placeholder->property("text").toString().isEmpty());
    EXPECT_FALSE(placeholder->property("truncated").toBool());

    for (int type = 1; type <= 4; ++type) {
        SCOPED_TRACE(type);
        data.eventType = static_cast<int16_t>(type);
        filter->setOpacity(0);
        filter->setOpacity(1);
        processEventsFor(30);
        EXPECT_FALSE(placeholder->isVisible());
        QQuickItem* text = nullptr;
        for (QQuickItem* t : box->findChildren<QQuickItem*>())
            if (t->inherits("QQuickText") && t->isVisible() && t != placeholder
                && t->property("text").toString().contains(QLatin1String("L1")))
                text = t;
        ASSERT_NE(text, nullptr);
        EXPECT_FALSE(text->property("truncated").toBool()) << text->property("text").toString().toStdString();
        EXPECT_LE(text->property("contentWidth").toReal(), text->width() + 0.5);
    }

    // Its list, opened where the view places the panel (right of the 70-pixel tool column), lies
    // inside the window with every type whole.
    filter->setX(70);
    clickItem(*findItem(box, QStringLiteral("listText")));
    QQuickItem* list = findItem(box, QStringLiteral("dropDown"));
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->isVisible());
    const QRectF onScreen = list->mapRectToScene(QRectF(0, 0, list->width(), list->height()));
    EXPECT_GE(onScreen.left(), 0.0);
    EXPECT_LE(onScreen.right(), view_->width());
    clickItem(*findItem(list, QStringLiteral("dropDownEntry1")));
    EXPECT_FALSE(list->isVisible());
    const std::vector<pipe_dial> chosen = takeRequests();
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].code, 208);
    EXPECT_EQ(chosen[0].intValue, 2);
}

TEST_F(ViewerEventsQmlTest, ViewFillsTheWindowAndFullScreenHidesToolsAndBoxes)
{
    QQuickItem* view = open("qrc:/ViewerView.qml");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->objectName(), QStringLiteral("viewerView"));
    EXPECT_EQ(view->width(), 800);
    EXPECT_EQ(view->height(), 480);
    for (const char* name : {"homeTool", "nextTool", "previousTool", "filterTool", "helpTool", "viewerPanel",
                             "viewerScreenComp", "viewerScreen", "viewerStatusLine"})
        need(view, name);
    takeRequests();  // the screens ask for a refresh as they are laid out
    QQuickItem* tools = need(view, "toolPanel");
    EXPECT_EQ(tools->width(), 70);

    data.keyToggleFlag = 1;
    view_->screenMaj(param::keyToggleFlag);
    ASSERT_TRUE(processEventsUntil([&] { return tools->width() == 0; }));
    EXPECT_EQ(need(view, "viewerPanel")->height(), 0);
    EXPECT_EQ(need(view, "viewerScreenComp")->x(), 0);
    data.keyToggleFlag = 0;
    view_->screenMaj(param::keyToggleFlag);
    ASSERT_TRUE(processEventsUntil([&] { return tools->width() == 70; }));

    // The filter tool opens the filter and recalls the viewed file for a search.
    std::strcpy(data.loggerFileName, "r.rec");
    clickItem(*need(view, "filterTool"));
    processEventsFor(30);
    std::vector<pipe_dial> posted;
    for (const pipe_dial& r : takeRequests())
        if (r.kind != REQ_ACQ_DONE)
            posted.push_back(r);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, REQ_FILE);
    EXPECT_EQ(posted[0].code, fileLoggerRecall);
    EXPECT_EQ(posted[0].intValue, reinterpret_cast<intptr_t>(data.loggerFileName));
    EXPECT_EQ(need(view, "viewerEventFilter")->opacity(), 1.0);
}

} // namespace
