// The documents of the horizontal, vertical, math and pass/fail panels under the program's root
// window, driven through their controls and the shared keyboards: opening a panel or reloading it
// posts nothing, a choice posts one request, and the pass/fail panel enables its controls by
// the test's state.
// Before any Qt header: the scenario has a member named like Qt's "signals" keyword.
#include "board/sim/simboard.h"

#include "tests/ui/support/qmlharness.h"

#include "ui/frame/dialogpanel.h"
#include "ui/scope/passfail.h"
#include "ui/scope/scopehorizontal.h"
#include "ui/scope/scopemath.h"
#include "ui/scope/scopevertical.h"

#include <QDir>

#include <cstring>

class ScopePanelsQmlTest : public HomeScreenTest {
protected:
    void TearDown() override
    {
        po_g_homeView = nullptr;
        HomeScreenTest::TearDown();
        takeRequests();
    }

    // Loads the root and the panel's document hidden in a dialog panel, as the scope view holds it.
    QQuickItem* create(const char* document)
    {
        load();
        if (!view_ || !showAndExpose())
            return nullptr;
        po_g_homeView = view_;
        dialog_ = new DialogPanel(view_->contentItem());
        dialog_->setWidth(730);
        dialog_->setY(440 - 184);
        QQmlComponent component(engine_, QUrl(QStringLiteral("qrc:/") + QLatin1String(document)));
        QObject* object = component.beginCreate(engine_->contextForObject(root_));
        panel_ = qobject_cast<QQuickItem*>(object);
        if (!panel_) {
            ADD_FAILURE() << component.errorString().toStdString();
            delete object;
            return nullptr;
        }
        panel_->setParentItem(dialog_);
        panel_->setParent(dialog_);
        panel_->setOpacity(0);
        panel_->setEnabled(false);
        component.completeCreate();
        processEventsFor(30);
        takeRequests();
        return panel_;
    }
    void show()
    {
        dialog_->display(panel_);
        processEventsFor(50);
    }
    QQuickItem* under(const char* name) { return need(panel_, name); }
    // Chooses entry `index` of a list box through its drop-down list.
    void pick(const char* listBox, int index)
    {
        QQuickItem* box = under(listBox);
        ASSERT_NE(box, nullptr);
        clickKey(box, "listText");
        processEventsFor(20);
        clickKey(box, ("dropDownEntry" + std::to_string(index)).c_str());
        processEventsFor(20);
    }
    void saveArtefact(const char* name) { ::saveArtefact(*view_, name); }
    // Posted {code, intValue} pairs.
    static std::vector<std::pair<int, intptr_t>> posts()
    {
        std::vector<std::pair<int, intptr_t>> out;
        for (const pipe_dial& r : takeRequests())
            out.emplace_back(r.code, r.intValue);
        return out;
    }
    using Posts = std::vector<std::pair<int, intptr_t>>;

    DialogPanel* dialog_ = nullptr;  // owned by the window's content
    QQuickItem* panel_ = nullptr;    // owned by the dialog panel
};

TEST_F(ScopePanelsQmlTest, HorizontalPanelPostsOnlyTheUsersChoices)
{
    data.timeBaseIndex = 13;
    data.traceMode = 3;
    data.traceFormat = 0;
    data.repSig = 0;
    data.averageCount = 2;
    data.fftVerticalScale = 0;
    auto* panel = qobject_cast<ScopeHorizontal*>(create("ScopeHorizontal.qml"));
    ASSERT_NE(panel, nullptr);
    // As the scope view does on a time-base click.
    panel->screenMajSlot();
    show();
    EXPECT_TRUE(posts().empty());
    EXPECT_EQ(under("panelTitle")->property("text").toString(), QStringLiteral("Parametres horizontaux"));

    // The 35 time bases, with the three that break the 1-2-5 pattern.
    QQuickItem* timebase = under("timebaseSelect");
    ASSERT_EQ(callQml(timebase, "entryCount").toInt(), 35);
    auto label = [&](int i) { return callQml(timebase, "entryText", i).toString(); };
    EXPECT_EQ(label(0), QStringLiteral("1 ns"));
    EXPECT_EQ(label(4), QStringLiteral("25 ns"));
    EXPECT_EQ(label(11), QString::fromUtf8("4 \u03bcs"));
    EXPECT_EQ(label(23), QStringLiteral("40 ms"));
    EXPECT_EQ(label(34), QStringLiteral("200 s"));
    EXPECT_EQ(timebase->property("currentText").toString(), label(13));
    // Mode 3 shows the first trace mode; the averaging shows none while the signal is not repetitive.
    EXPECT_EQ(under("modeSelect")->property("currentText").toString(), QStringLiteral("Vecteur"));
    EXPECT_EQ(under("averageSelect")->property("listIndex").toInt(), 0);

    // Its own index again: nothing. "2 ms": the time base, shown at once.
    pick("timebaseSelect", 13);
    EXPECT_TRUE(posts().empty());
    pick("timebaseSelect", 19);
    EXPECT_EQ(posts(), (Posts{{121, 19}}));
    EXPECT_EQ(timebase->property("currentText").toString(), QStringLiteral("2 ms"));
    clickKey(under("modeSelect"), "plusKey");
    EXPECT_EQ(posts(), (Posts{{2, 2}}));
    clickKey(under("repsigBox"), "checkboxImage");
    EXPECT_EQ(posts(), (Posts{{148, 1}}));

    // The controller's notice reloads every control and posts nothing.
    data.timeBaseIndex = 19;
    data.traceMode = 2;
    data.repSig = 1;
    view_->screenMaj(121);
    processEventsFor(30);
    EXPECT_TRUE(posts().empty());
    EXPECT_EQ(under("averageSelect")->property("listIndex").toInt(), 2);
    EXPECT_EQ(under("modeSelect")->property("currentText").toString(), QStringLiteral("Enveloppe"));
    saveArtefact("horizontal-panel-time.png");

    // The format switches the page at once; the reload keeps the page of the setup.
    clickKey(under("typeSelect"), "selectKey1");
    EXPECT_EQ(posts(), (Posts{{73, 1}}));
    EXPECT_TRUE(under("windowSelect")->isVisible());
    EXPECT_TRUE(under("scaleSelect")->isVisible());
    EXPECT_FALSE(under("averageSelect")->isVisible());
    saveArtefact("horizontal-panel-fft.png");
    pick("scaleSelect", 1);
    EXPECT_EQ(posts(), (Posts{{98, 1}}));
    data.traceFormat = 2;
    view_->screenMaj(73);
    processEventsFor(30);
    EXPECT_TRUE(under("xSourceSelect")->isVisible());
    EXPECT_FALSE(under("windowSelect")->isVisible());
    EXPECT_TRUE(posts().empty());
    saveArtefact("horizontal-panel-xy.png");
}

TEST_F(ScopePanelsQmlTest, VerticalPanelTypedValuesAndProbePage)
{
    data.traceOnCh2 = 1;
    data.probeCoeffCh2 = 10.0f;
    std::memcpy(data.unitCh2, "V\0\0", 4);
    data.sensitivityCh2 = 8;
    data.traceColorCh2 = 2;
    auto* panel = qobject_cast<ScopeVertical*>(create("ScopeVertical.qml"));
    ASSERT_NE(panel, nullptr);
    panel->setClickedChannel(1);
    takeRequests();
    show();
    EXPECT_TRUE(posts().empty());
    EXPECT_EQ(under("panelTitle")->property("text").toString(), QStringLiteral("CH2"));
    EXPECT_EQ(under("sensitivitySelect")->property("currentText").toString(), QStringLiteral("10.0 V"));

    // The probe coefficient: cancel sends nothing, a confirmed value one request.
    QQuickItem* numeric = item("numericKeyboard");
    clickItem(*under("probeCoeffValue"));
    ASSERT_TRUE(numeric->isVisible());
    clickKey(numeric, "key_cancel");
    EXPECT_TRUE(takeRequests().empty());
    clickItem(*under("probeCoeffValue"));
    clickKeys(numeric, {"key_1", "key_0", "key_0", "key_enter"});
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, 51);
    EXPECT_EQ(requests[0].floatValue, 100.0f);
    // The controller's notice: the texts follow the coefficient.
    data.probeCoeffCh2 = 100.0f;
    view_->screenMaj(51);
    processEventsFor(30);
    EXPECT_EQ(under("sensitivitySelect")->property("currentText").toString(), QStringLiteral("100 V"));

    // The unit on the text keyboard, three characters at most.
    QQuickItem* alpha = item("alphaKeyboard");
    clickItem(*under("unitValue"));
    ASSERT_TRUE(alpha->isVisible());
    callQml(alpha, "deleteBack");
    callQml(alpha, "insertText", QStringLiteral("A"));
    callQml(alpha, "enter");
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, 43);
    EXPECT_STREQ(reinterpret_cast<const char*>(requests[0].intValue), "A");

    clickKey(under("couplingSelect"), "selectKey2");
    clickKey(under("bwLimitSelect"), "plusKey");
    EXPECT_EQ(posts(), (Posts{{17, 2}, {139, data.bwLimitCh2 + 1}}));
    saveArtefact("vertical-panel.png");

    // Page 2: the colour without a probe; no button selector.
    clickItem(*under("pageSwitch"));
    processEventsFor(20);
    EXPECT_EQ(under("panelTitle")->property("text").toString(), QStringLiteral("CH2 - KALVEX"));
    EXPECT_TRUE(under("colourSelect")->isVisible());
    EXPECT_FALSE(under("buttonSelect")->isVisible());
    EXPECT_FALSE(under("sensitivitySelect")->isVisible());
    clickKey(under("colourSelect"), "selectKey1");
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, 167);
    EXPECT_EQ(requests[0].intValue, 4);
    EXPECT_EQ(requests[0].auxValue, -1);
    saveArtefact("vertical-panel-kalvex.png");
}

TEST_F(ScopePanelsQmlTest, MathPanelSendsOnlyWhatTheUserProduced)
{
    std::strcpy(data.mathExprCh3, "ch1*2");
    auto* panel = qobject_cast<ScopeMath*>(create("ScopeMath.qml"));
    ASSERT_NE(panel, nullptr);
    panel->setClicked(2);
    show();
    EXPECT_EQ(under("expressionText")->property("text").toString(), QStringLiteral("ch1*2"));
    // Opened and closed without an edit: nothing, not even the function switched on.
    dialog_->displayOff();
    processEventsFor(20);
    EXPECT_TRUE(posts().empty());

    show();
    // The function keyboard, cancelled: nothing.
    QQuickItem* keyboard = item("functionKeyboard");
    clickItem(*under("expressionArea"));
    ASSERT_TRUE(keyboard->isVisible());
    callQml(keyboard, "cancel");
    EXPECT_TRUE(posts().empty());

    // A preset: once.
    clickItem(*under("preset3"));
    auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, 64);
    EXPECT_STREQ(reinterpret_cast<const char*>(requests[0].intValue), "ch1-ch4");
    EXPECT_EQ(requests[1].code, 68);
    EXPECT_EQ(requests[1].intValue, 1);
    EXPECT_EQ(under("expressionText")->property("text").toString(), QStringLiteral("ch1-ch4"));
    saveArtefact("math-panel.png");
    // Once the controller stored it, closing sends nothing more.
    std::strcpy(data.mathExprCh3, "ch1-ch4");
    dialog_->displayOff();
    processEventsFor(20);
    EXPECT_TRUE(posts().empty());

    // A text the keyboard confirmed, and one the setup refused: the closing sends the shown one.
    show();
    clickItem(*under("expressionArea"));
    callQml(keyboard, "deleteBack");
    callQml(keyboard, "insertText", QStringLiteral("ch4-ch1"));
    callQml(keyboard, "enter");
    requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(requests[0].intValue), "ch4-ch1");
    dialog_->displayOff();
    processEventsFor(20);
    EXPECT_EQ(takeRequests().size(), 2u);
}

TEST_F(ScopePanelsQmlTest, PassFailPanelEnablesByStateAndSendsTheMaskSource)
{
    data.passFailOn = 0;
    data.passFailRunStop = 0;
    data.passFailMaskIsMemory = 0;
    data.passFailSource = 0;
    data.passFailXMask = 20;
    data.passFailYMask = 20;
    auto* panel = qobject_cast<PassFail*>(create("PassFail.qml"));
    ASSERT_NE(panel, nullptr);
    show();
    EXPECT_TRUE(posts().empty());

    const char* controls[] = {"onOffButton", "runStopButton", "sourceSelect", "xMask", "yMask",
                              "displaySelect", "beepSelect", "maskSaveButton", "maskLoadButton"};
    struct State {
        const char* name;
        int on, run, memory;
        bool enabled[9];
    } states[] = {
        {"off", 0, 0, 0, {true, false, false, false, false, false, false, false, false}},
        {"on, stopped", 1, 0, 0, {true, true, true, true, true, false, false, true, true}},
        {"on, stopped, mask from a file", 1, 0, 1, {true, true, true, false, false, false, false, true, true}},
        {"on, running", 1, 1, 0, {true, true, false, false, false, true, true, true, false}},
    };
    for (const State& s : states) {
        SCOPED_TRACE(s.name);
        data.passFailOn = static_cast<int16_t>(s.on);
        data.passFailRunStop = static_cast<int16_t>(s.run);
        data.passFailMaskIsMemory = static_cast<int16_t>(s.memory);
        view_->screenMaj(219);
        processEventsFor(20);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(under(controls[i])->isEnabled(), s.enabled[i]) << controls[i];
    }
    saveArtefact("passfail-panel.png");

    // Stopped and on: the source and a tolerance typed on the keyboard.
    data.passFailRunStop = 0;
    view_->screenMaj(218);
    processEventsFor(20);
    clickKey(under("sourceSelect"), "selectKey3");
    EXPECT_EQ(posts(), (Posts{{212, 3}, {220, 0}}));
    QQuickItem* numeric = item("numericKeyboard");
    clickItem(*under("xMaskValue"));
    ASSERT_TRUE(numeric->isVisible());
    clickKeys(numeric, {"key_0", "key_.", "key_2", "key_9", "key_enter"});
    EXPECT_EQ(posts(), (Posts{{213, 29}}));
    // Started, then off: switching off stops locally and the mask is built again.
    clickItem(*under("runStopButton"));
    EXPECT_EQ(posts(), (Posts{{218, 1}}));
    clickItem(*under("onOffButton"));
    EXPECT_EQ(posts(), (Posts{{219, 0}, {220, 0}}));
    EXPECT_EQ(panel->runStop(), 0);
    // A mask loaded from a file.
    callQml(panel, "maskLoaded");
    EXPECT_EQ(posts(), (Posts{{220, 1}}));
}
