// The trigger panel's document under the program's root window: opening it sends nothing, a
// value typed on the numeric keyboard sends one request, selectors send without moving until the
// controller announces the change, the type selector switches the page, and the two-channel
// model greys CH2 and CH3.
#include "tests/support/controllerend.h"
#include "board/sim/simboard.h"  // before Qt: the scenario has a member named "signals"

#include "tests/ui/support/qmlharness.h"
#include "tests/ui/support/ownprocess.h"

#include "core/command.h"
#include "core/process.h"
#include "ui/frame/dialogpanel.h"
#include "ui/traces/scopetrigger.h"

#include <QDir>

#include <chrono>
#include <thread>

class ScopeTriggerQmlTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        data.trigSource = 1;
        data.qualifSource = 0;
        data.trigType = 0;
        data.trigLevelCh2 = 100;
        data.trigCouplingCh2 = 1;
    }
    void TearDown() override
    {
        if (controllerRunning_) {
            // The controller goes on running: it must find no window from now on.
            po_g_homeBridge.store(nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_TRUE(endControllerThread(COMM_id)) << "the controller did not end";
        }
        po_g_homeView = nullptr;
        HomeScreenTest::TearDown();
        if (simboard::installed())
            simboard::uninstall();
    }

    // Loads the root and the panel hidden in a dialog panel, as the scope view holds it.
    bool open()
    {
        load();
        if (!view_ || !showAndExpose())
            return false;
        po_g_homeView = view_;
        dialog_ = new DialogPanel(view_->contentItem());
        dialog_->setWidth(730);
        dialog_->setY(40);
        QQmlComponent component(engine_, QUrl(QStringLiteral("qrc:/ScopeTrigger.qml")));
        QObject* object = component.beginCreate(engine_->contextForObject(root_));
        panel_ = qobject_cast<ScopeTrigger*>(object);
        if (!panel_) {
            ADD_FAILURE() << component.errorString().toStdString();
            delete object;
            return false;
        }
        panel_->setParentItem(dialog_);
        panel_->setParent(dialog_);
        panel_->setOpacity(0);
        panel_->setEnabled(false);
        component.completeCreate();
        // As the scope view's trigger tool does.
        dialog_->display(panel_);
        panel_->setClicked();
        processEventsFor(50);
        return true;
    }

    QQuickItem* under(const char* name) { return need(panel_, name); }

    // Starts the controller on the test's board root, as main does, once the panel is open.
    bool startController()
    {
        po_g_homeBridge.store(view_, std::memory_order_release);
        emit view_->complete();
        if (startThread(&COMM_id, command, nullptr, 65, false, "COMM") != 0)
            return false;
        controllerRunning_ = true;
        return true;
    }

    bool controllerRunning_ = false;
    DialogPanel* dialog_ = nullptr;   // owned by the window's content
    ScopeTrigger* panel_ = nullptr;   // owned by the dialog panel
};

TEST_F(ScopeTriggerQmlTest, OpeningSendsNothingAndATypedLevelSendsOneRequest)
{
    ASSERT_TRUE(open());
    EXPECT_TRUE(takeRequests().empty());
    EXPECT_EQ(panel_->opacity(), 1.0);
    EXPECT_EQ(dialog_->height(), panel_->height());

    // Cancel gives the shown value back: nothing to send.
    QQuickItem* numeric = item("numericKeyboard");
    ASSERT_NE(numeric, nullptr);
    clickItem(*under("tLevelValue"));
    ASSERT_TRUE(numeric->isVisible());
    clickKey(numeric, "key_cancel");
    processEventsFor(30);
    EXPECT_TRUE(takeRequests().empty());

    clickItem(*under("tLevelValue"));
    clickKeys(numeric, {"key_0", "key_enter"});
    processEventsFor(30);
    auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 113 + 1);
    EXPECT_EQ(posted[0].intValue, 0);

    // The controller's notice moves the field; the change itself sends nothing.
    const QString before = under("tLevelValue")->property("stringValue").toString();
    data.trigLevelCh2 = 0;
    view_->screenMaj(114);
    ASSERT_TRUE(processEventsUntil(
        [&] { return under("tLevelValue")->property("stringValue").toString() != before; }));
    processEventsFor(30);
    EXPECT_TRUE(takeRequests().empty());

    // The hold-off goes in ticks: 1 µs is 125 ticks.
    clickItem(*under("holdoffValue"));
    clickKeys(numeric, {"key_1", "key_e", "key_-", "key_6", "key_enter"});
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 32);
    EXPECT_EQ(posted[0].intValue, 125);

    saveArtefact(*view_, "trigger-panel.png");
}

TEST_F(ScopeTriggerQmlTest, SelectorsSendAndWaitForTheController)
{
    ASSERT_TRUE(open());
    QQuickItem* coupling = under("tCouplingSelect");
    ASSERT_NE(coupling, nullptr);
    EXPECT_EQ(coupling->property("listIndex").toInt(), 1);
    clickKey(coupling, "plusKey");
    auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 181 + 1);
    EXPECT_EQ(posted[0].intValue, 2);
    EXPECT_EQ(coupling->property("listIndex").toInt(), 1);
    data.trigCouplingCh2 = 2;
    view_->screenMaj(182);
    ASSERT_TRUE(processEventsUntil([&] { return coupling->property("listIndex").toInt() == 2; }));
    EXPECT_TRUE(takeRequests().empty());

    clickKey(under("tEdgeSelect"), "selectKey1");
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 185 + 1);
    EXPECT_EQ(posted[0].intValue, 1);

    // The source moves at once (the panel recomputes before the controller applies it).
    QQuickItem* source = under("tSourceSelect");
    clickKey(source, "selectKey3");
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 112);
    EXPECT_EQ(posted[0].intValue, 3);
    EXPECT_EQ(source->property("itemIndex").toInt(), 3);

    // The type switches the page at once.
    QQuickItem* delay = under("delay");
    EXPECT_FALSE(delay->isVisible());
    clickKey(under("typeSelect"), "selectKey2");
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 180);
    EXPECT_EQ(posted[0].intValue, 2);
    EXPECT_TRUE(delay->isVisible());
    EXPECT_TRUE(under("qSourceSelect")->isVisible());
    EXPECT_FALSE(under("tSourceSelect")->isVisible());
    EXPECT_TRUE(under("triggerPicture")->isVisible());

    saveArtefact(*view_, "trigger-panel-delay.png");
    clickKey(under("typeSelect"), "selectKey1");
    EXPECT_TRUE(under("t2")->isVisible());
    EXPECT_EQ(takeRequests().size(), 1u);
    saveArtefact(*view_, "trigger-panel-pulse.png");

    // Closing hides the panel and sends nothing.
    clickItem(*under("triggerClose"));
    EXPECT_FALSE(dialog_->dialogDisplayed());
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(ScopeTriggerQmlTest, TwoChannelModelGreysTheMiddleChannels)
{
    ASSERT_TRUE(simboard::install());
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    ASSERT_TRUE(open());
    QQuickItem* source = under("tSourceSelect");
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        QQuickItem* key = need(source, ("selectKey" + std::to_string(i)).c_str());
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->isEnabled(), i == 0 || i == 3);
    }
    clickKey(source, "selectKey2");
    EXPECT_TRUE(takeRequests().empty());
}

// Through the real controller: a typed level and a coupling choice come back on screen.
PROGRAM_TEST_F(ScopeTriggerQmlTest, ChangesComeBackFromTheController)
{
    ASSERT_TRUE(open());
    ASSERT_TRUE(startController());
    // The request waits in the box until the controller's start-up is through.
    constexpr int kTimeoutMs = 60000;
    QQuickItem* coupling = under("tCouplingSelect");
    const int couplingBefore = coupling->property("listIndex").toInt();
    const int wanted = couplingBefore == 3 ? 2 : couplingBefore + 1;
    clickKey(coupling, couplingBefore == 3 ? "minusKey" : "plusKey");
    const int column = ScopeTrigger::channelColumn(panel_->tsourceIndex());
    ASSERT_TRUE(processEventsUntil([&] { return coupling->property("listIndex").toInt() == wanted; }, kTimeoutMs));
    EXPECT_EQ(get_db(adr_par, type_par, &data, param::trigCouplingCh1 + column), wanted);

    // The largest level the field allows (three digits, rounded inward): about 1000 thousandths.
    const int32_t levelBefore = get_db(adr_par, type_par, &data, param::trigLevelCh1 + column);
    QQuickItem* numeric = item("numericKeyboard");
    clickItem(*under("tLevelValue"));
    clickKeys(numeric, {"key_Max", "key_enter"});
    int32_t level = levelBefore;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            level = get_db(adr_par, type_par, &data, param::trigLevelCh1 + column);
            return level != levelBefore && panel_->tlevelValue() == panel_->triggerScale() * level;
        },
        kTimeoutMs));
    EXPECT_GE(level, 990);
    EXPECT_LE(level, 1000);
    EXPECT_EQ(under("tLevelValue")->property("stringValue").toString(),
              callQml(under("tLevelValue"), "prefixed", panel_->tlevelValue(), QStringLiteral("V")).toString());
}
