// The root window's numeric, text and function keyboards: opened by the root's signals, answered
// through its close signals, with their checks and limits; and a panel that acts only on the
// answer to its own request.
#include "tests/ui/support/qmlharness.h"

namespace {

// Everything the keyboards answer on the root window, one line each.
const char* const kAnswerLog = R"(
import QtQuick 2.0
Item {
    property string log: ""
    Connections {
        target: homeView
        function onSigCloseNumKey(value) { log += "closeNum " + value + "\n" }
        function onSigCloseFctKey(value) { log += "closeFct " + value + "\n" }
        function onSigCloseAlphaKey(value) { log += "closeAlpha " + value + "\n" }
    }
}
)";

// A panel of the program's kind: it remembers which of its two fields opened the keyboard and
// takes the answer only then.
const char* const kPanel = R"(
import QtQuick 2.0
Item {
    id: panel
    property string source: ""
    property double level: 1
    property double holdoff: 2
    width: 200
    height: 60
    ValueSelect { objectName: "levelField"; doubleValue: panel.level; minValue: -5; maxValue: 5; decimals: 2
                  onValueClicked: panel.source = "level" }
    ValueSelect { objectName: "holdoffField"; x: 100; doubleValue: panel.holdoff; minValue: 0; maxValue: 10
                  decimals: 2; onValueClicked: panel.source = "holdoff" }
    Connections {
        target: homeView
        function onSigCloseNumKey(value) {
            if (panel.source === "level")
                panel.level = value
            else if (panel.source === "holdoff")
                panel.holdoff = value
            panel.source = ""
        }
    }
}
)";

} // namespace

class KeyboardTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        load();
        ASSERT_TRUE(view_);
        ASSERT_TRUE(showAndExpose());
        answers_ = create(kAnswerLog);
        ASSERT_TRUE(answers_);
        numeric_ = item("numericKeyboard");
        alpha_ = item("alphaKeyboard");
        function_ = item("functionKeyboard");
        ASSERT_TRUE(numeric_ && alpha_ && function_);
    }

    // A QML object created in the root window's context (as every view and panel is).
    QObject* create(const char* document)
    {
        QQmlComponent component(engine_);
        component.setData(QByteArray(document), QUrl(QStringLiteral("qrc:/TestPanel.qml")));
        QObject* object = component.create(engine_->contextForObject(root_));
        if (!object) {
            ADD_FAILURE() << component.errorString().toStdString();
            return nullptr;
        }
        object->setParent(root_);
        if (auto* visual = qobject_cast<QQuickItem*>(object))
            visual->setParentItem(view_->contentItem());
        return object;
    }

    QStringList answers() { return takeLog(answers_); }
    QString text(QQuickItem* keyboard) { return keyboard->property("text").toString(); }
    QQuickItem* field(QQuickItem* keyboard, const char* name) { return need(keyboard, name); }

    void openNumeric(double value, double min, double max, int decimals)
    {
        QMetaObject::invokeMethod(view_, "sigOpenNumKey", Q_ARG(double, value), Q_ARG(double, min),
                                  Q_ARG(double, max), Q_ARG(int, decimals));
    }
    void openAlpha(const QString& value, int length)
    {
        QMetaObject::invokeMethod(view_, "sigOpenAlphaKey", Q_ARG(QString, value), Q_ARG(int, length));
    }
    void openFunction(const QString& value)
    {
        QMetaObject::invokeMethod(view_, "sigOpenFctKey", Q_ARG(QString, value));
    }

    QObject* answers_ = nullptr;
    QQuickItem* numeric_ = nullptr;
    QQuickItem* alpha_ = nullptr;
    QQuickItem* function_ = nullptr;
};

TEST_F(KeyboardTest, NumericKeyboardRefusesValuesOutsideItsRangeAndCancelGivesTheOldOne)
{
    openNumeric(0.50004, -2.00001, 3.00004, 2);
    ASSERT_TRUE(numeric_->isVisible());
    EXPECT_DOUBLE_EQ(numeric_->property("doubleValue").toDouble(), 0.5);  // three digits
    EXPECT_DOUBLE_EQ(numeric_->property("minValue").toDouble(), -2);
    EXPECT_DOUBLE_EQ(numeric_->property("maxValue").toDouble(), 3);
    EXPECT_DOUBLE_EQ(numeric_->width(), 200);
    EXPECT_DOUBLE_EQ(numeric_->height(), 200);
    QQuickItem* input = field(numeric_, "numericField");
    EXPECT_EQ(text(numeric_), QStringLiteral("5.00e-1"));
    EXPECT_EQ(input->property("selectedText").toString(), text(numeric_));

    clickKey(numeric_, "key_9");  // replaces the selection; above the maximum
    EXPECT_EQ(text(numeric_), QStringLiteral("9"));
    EXPECT_FALSE(numeric_->property("acceptable").toBool());
    EXPECT_EQ(input->property("color").value<QColor>(), QColor("red"));
    clickKey(numeric_, "key_enter");
    EXPECT_TRUE(numeric_->isVisible());
    EXPECT_EQ(answers(), QStringList());
    clickKey(numeric_, "key_cancel");
    EXPECT_FALSE(numeric_->isVisible());
    EXPECT_EQ(answers(), QStringList{"closeNum 0.5"});

    openNumeric(0.5, -2, 3, 2);
    clickKeys(numeric_, {"key_-", "key_1", "key_.", "key_2", "key_5", "key_e", "key_-", "key_1"});
    EXPECT_EQ(text(numeric_), QStringLiteral("-1.25e-1"));
    EXPECT_TRUE(numeric_->property("acceptable").toBool());
    EXPECT_EQ(input->property("color").value<QColor>(), QColor("black"));
    clickKeys(numeric_, {"key_delete", "key_delete", "key_delete"});
    EXPECT_EQ(text(numeric_), QStringLiteral("-1.25"));
    clickKey(numeric_, "key_enter");
    EXPECT_FALSE(numeric_->isVisible());
    EXPECT_EQ(answers(), QStringList{"closeNum -1.25"});

    // Min and Max put the bounds in the opening notation.
    openNumeric(0.5, -2, 3, 2);
    clickKey(numeric_, "key_Max");
    EXPECT_EQ(text(numeric_), QStringLiteral("3.00e+0"));
    clickKey(numeric_, "key_Min");
    EXPECT_EQ(text(numeric_), QStringLiteral("-2.00e+0"));
    clickKey(numeric_, "key_enter");
    EXPECT_EQ(answers(), QStringList{"closeNum -2"});
}

TEST_F(KeyboardTest, NumericKeyboardWithoutDecimalsOpensPlainAndRefusesThePoint)
{
    openNumeric(12345, 0, 50000, 0);
    EXPECT_EQ(text(numeric_), QStringLiteral("12300"));
    QQuickItem* point = need(numeric_, "key_.");
    EXPECT_FALSE(point->isEnabled());
    clickKeys(numeric_, {"key_4", "key_.", "key_5"});
    EXPECT_EQ(text(numeric_), QStringLiteral("45"));
    clickKey(numeric_, "key_Max");
    EXPECT_EQ(text(numeric_), QStringLiteral("50000"));
    clickKey(numeric_, "key_enter");
    EXPECT_EQ(answers(), QStringList{"closeNum 50000"});

    openNumeric(1, 0, 10, 3);
    EXPECT_TRUE(point->isEnabled());
    EXPECT_EQ(text(numeric_), QStringLiteral("1.00e+0"));
}

TEST_F(KeyboardTest, TextKeyboardKeepsItsLimitEvenOverASelection)
{
    openAlpha(QStringLiteral("abc"), 3);
    ASSERT_TRUE(alpha_->isVisible());
    EXPECT_EQ(field(alpha_, "alphaField")->property("selectedText").toString(), QStringLiteral("abc"));
    clickKey(alpha_, "key_13");  // "d": the text is full
    clickKey(alpha_, "key_space");
    EXPECT_EQ(text(alpha_), QStringLiteral("abc"));
    clickKey(alpha_, "key_delete");  // removes the selection
    EXPECT_EQ(text(alpha_), QString());
    clickKeys(alpha_, {"key_13", "key_caps2", "key_14", "key_caps1", "key_sym", "key_0"});
    EXPECT_EQ(text(alpha_), QStringLiteral("dE&"));
    clickKeys(alpha_, {"key_delete", "key_space", "key_29"});  // "$" no longer fits
    EXPECT_EQ(text(alpha_), QStringLiteral("dE "));
    clickKey(alpha_, "key_enter");
    EXPECT_FALSE(alpha_->isVisible());
    EXPECT_EQ(answers(), QStringList{"closeAlpha dE "});

    // Cancel gives back the opening text.
    openAlpha(QStringLiteral("trace1"), 20);
    EXPECT_EQ(alpha_->property("symbolLock").toBool(), true);  // the locks stay as left
    clickKeys(alpha_, {"key_sym", "key_1", "key_22"});
    EXPECT_EQ(text(alpha_), QStringLiteral("2l"));
    clickKey(alpha_, "key_cancel");
    EXPECT_EQ(answers(), QStringList{"closeAlpha trace1"});
    EXPECT_EQ(text(alpha_), QStringLiteral("trace1"));
    // Inside the 800 x 480 screen, with keys for a finger.
    EXPECT_LE(alpha_->width(), 800);
    EXPECT_LE(alpha_->height(), 480);
    EXPECT_GE(need(alpha_, "key_13")->height(), 40);
}

TEST_F(KeyboardTest, FunctionKeyboardAnswersOnlyAValidFunction)
{
    TSignalLog log(*view_);
    openFunction(QStringLiteral("ch1"));
    ASSERT_TRUE(function_->isVisible());
    clickKeys(function_, {"key_ch2", "key_*", "key_2"});
    EXPECT_EQ(text(function_), QStringLiteral("ch2*2"));
    clickKey(function_, "key_enter");
    EXPECT_FALSE(function_->isVisible());
    EXPECT_EQ(answers(), QStringList{"closeFct ch2*2"});

    openFunction(QStringLiteral("ch1"));
    clickKeys(function_, {"key_Clr", "key_ch1", "key_+"});
    clickKey(function_, "key_enter");
    EXPECT_TRUE(function_->isVisible());
    EXPECT_EQ(answers(), QStringList());
    const std::vector<std::string> messages = log.startingWith("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("message 26 ''", 0), 0u) << messages[0];
    // An operation is inserted at the cursor; its list stays on the screen.
    QQuickItem* operations = need(function_, "operationSelect");
    clickKey(operations, "listText");
    QQuickItem* list = need(operations, "dropDown");
    ASSERT_TRUE(list->isVisible());
    const QRectF onScreen = list->mapRectToScene(QRectF(0, 0, list->width(), list->height()));
    EXPECT_TRUE(QRectF(0, 0, 800, 480).contains(onScreen)) << onScreen.y() << " " << onScreen.bottom();
    processEventsOnce(10);
    clickKey(list, "dropDownEntry3");
    clickKeys(function_, {"key_t", "key_)"});
    EXPECT_EQ(text(function_), QStringLiteral("ch1+sin(t)"));
    clickKey(function_, "key_cancel");
    EXPECT_FALSE(function_->isVisible());
    EXPECT_EQ(answers(), QStringList{"closeFct ch1"});
    EXPECT_LE(function_->width(), 800);
    EXPECT_LE(function_->height(), 480);
}

TEST_F(KeyboardTest, FunctionTextStopsAt99Characters)
{
    openFunction(QString(97, QLatin1Char('1')));
    QQuickItem* input = field(function_, "functionField");
    input->setProperty("cursorPosition", 97);
    clickKey(function_, "key_ch1");  // would make 100: refused whole, not cut
    EXPECT_EQ(text(function_).size(), 97);
    clickKeys(function_, {"key_+", "key_2", "key_3"});
    EXPECT_EQ(text(function_), QString(97, QLatin1Char('1')) + QStringLiteral("+2"));
}

TEST_F(KeyboardTest, AModeChangeHidesTheKeyboards)
{
    openNumeric(1, 0, 2, 1);
    openAlpha(QStringLiteral("x"), 5);
    openFunction(QStringLiteral("ch1"));
    ASSERT_TRUE(numeric_->isVisible() && alpha_->isVisible() && function_->isVisible());
    EXPECT_DOUBLE_EQ(numeric_->z(), 1);
    view_->childKilled();
    EXPECT_FALSE(numeric_->isVisible() || alpha_->isVisible() || function_->isVisible());
}

TEST_F(KeyboardTest, OnlyThePanelThatAskedTakesTheAnswer)
{
    auto* first = qobject_cast<QQuickItem*>(create(kPanel));
    auto* second = qobject_cast<QQuickItem*>(create(kPanel));
    ASSERT_TRUE(first && second);
    second->setY(100);
    clickKey(second, "holdoffField");
    ASSERT_TRUE(numeric_->isVisible());
    EXPECT_EQ(text(numeric_), QStringLiteral("2.00e+0"));
    clickKeys(numeric_, {"key_7", "key_enter"});
    EXPECT_DOUBLE_EQ(second->property("holdoff").toDouble(), 7);
    EXPECT_DOUBLE_EQ(second->property("level").toDouble(), 1);
    EXPECT_DOUBLE_EQ(first->property("holdoff").toDouble(), 2);
    EXPECT_EQ(second->property("source").toString(), QString());
    EXPECT_EQ(need(second, "holdoffField")->property("stringValue").toString(), QStringLiteral("7.00 "));

    clickKey(first, "levelField");
    clickKey(numeric_, "key_cancel");
    EXPECT_DOUBLE_EQ(first->property("level").toDouble(), 1);
    EXPECT_DOUBLE_EQ(second->property("holdoff").toDouble(), 7);
}

// The function check stands in for the root's: the keyboard follows its answer.
class FunctionKeyboardStandInTest : public QmlControlsTest {};

TEST_F(FunctionKeyboardStandInTest, EnterFollowsTheRootsCheck)
{
    ASSERT_TRUE(load(R"(
        FunctionKeyboard { objectName: "keyboard"; visible: false }
    )"));
    QQuickItem* keyboard = item("keyboard");
    keyboard->setProperty("textInputValue", QStringLiteral("ch3"));
    callQml(keyboard, "open");
    root_->setProperty("functionValid", false);
    clickKeys(keyboard, {"key_/", "key_enter"});
    EXPECT_TRUE(keyboard->isVisible());
    EXPECT_EQ(takeLog(root_), (QStringList{"verify /", "message 26 ''"}));
    root_->setProperty("functionValid", true);
    clickKey(keyboard, "key_enter");
    EXPECT_FALSE(keyboard->isVisible());
    EXPECT_EQ(takeLog(root_), (QStringList{"verify /", "closeFct /"}));
}
