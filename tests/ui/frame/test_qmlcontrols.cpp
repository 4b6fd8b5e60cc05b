// The shared QML controls: prefixed values, list boxes, radio boxes, check boxes and the way a
// value field opens the root window's keyboards.
#include "tests/ui/support/qmlharness.h"

namespace {

struct PrefixCase {
    double value;
    const char* unit;
    const char* text;
};

} // namespace

TEST_F(QmlControlsTest, ValueFieldsShowThreeDigitsWithThePrefix)
{
    ASSERT_TRUE(load(R"(
        ValueSelect { objectName: "value" }
        ValueSelectInt { objectName: "valueInt"; y: 60 }
    )"));
    const PrefixCase cases[] = {
        {0.00047, "V", "470 \u00b5V"},
        {-5e-13, "V", "0.00 V"},  // below 1e-12: no sign
        {5e-13, "V", "0.00 V"},
        {0, "V", "0.00 V"},
        {1e-12, "F", "1.00 pF"},
        {-2.5e-9, "s", "-2.50 ns"},
        {0.0123, "A", "12.3 mA"},
        {1, "V", "1.00 V"},
        {1500, "Hz", "1.50 kHz"},
        {2.5e6, "Hz", "2.50 MHz"},
        {3e9, "Hz", "3.00 GHz"},
        {4.2e12, "Hz", "4.20 THz"},
        {999.96, "V", "1.00 kV"},  // rounding reaches the next prefix
        {-123456, "V", "-123 kV"},
    };
    for (const char* name : {"value", "valueInt"}) {
        QQuickItem* field = item(name);
        ASSERT_TRUE(field);
        for (const PrefixCase& c : cases) {
            field->setProperty("unit", QString::fromUtf8(c.unit));
            field->setProperty("doubleValue", c.value);
            EXPECT_EQ(field->property("stringValue").toString().toStdString(), c.text) << name << " " << c.value;
        }
    }
    // Without the scientific form: the decimals asked for.
    QQuickItem* field = item("value");
    field->setProperty("scientific", false);
    field->setProperty("decimals", 2);
    field->setProperty("doubleValue", 3.14159);
    EXPECT_EQ(field->property("stringValue").toString(), QStringLiteral("3.14 V"));
    field->setProperty("decimals", 0);
    field->setProperty("doubleValue", -0.4);
    EXPECT_EQ(field->property("stringValue").toString(), QStringLiteral("0 V"));  // no negative zero
}

TEST_F(QmlControlsTest, ValueAndStringFieldsOpenTheKeyboardsOfTheRoot)
{
    ASSERT_TRUE(load(R"(
        ValueSelect { objectName: "value"; doubleValue: 0.5; minValue: -2; maxValue: 3; decimals: 2
                      onValueClicked: homeView.note("valueClicked") }
        ValueSelect { objectName: "disabled"; y: 60; enab: false; onValueClicked: homeView.note("disabledClicked") }
        ValueSelectInt { objectName: "valueInt"; y: 120; doubleValue: 1000; maxValue: 5000 }
        StringSelect { objectName: "string"; y: 180; stringValue: "trace"; length: 12
                       onValueClicked: homeView.note("stringClicked") }
    )"));
    clickKey(window_->contentItem(), "value");
    clickKey(window_->contentItem(), "disabled");
    clickKey(window_->contentItem(), "valueInt");
    clickKey(window_->contentItem(), "string");
    EXPECT_EQ(takeLog(root_), (QStringList{"openNum 0.5 -2 3 2", "valueClicked", "openNum 1000 0 5000 0",
                                           "openAlpha trace 12", "stringClicked"}));
    EXPECT_DOUBLE_EQ(item("disabled")->opacity(), 0.2);
    EXPECT_DOUBLE_EQ(item("value")->opacity(), 1.0);
}

TEST_F(QmlControlsTest, ListBoxStepsWithinItsEntriesAndShowsNothingWithoutOne)
{
    ASSERT_TRUE(load(R"(
        MyListBox {
            objectName: "list"
            x: 100; y: 300
            listBoxTitle: "Source"
            myListModel: ListModel { ListElement { txt: "ch1" } ListElement { txt: "ch2" } ListElement { txt: "ch3" } }
        }
        MyListBox { objectName: "empty"; x: 100; y: 400; listIndex: 1 }
    )"));
    QQuickItem* list = item("list");
    auto text = [list] { return list->property("currentText").toString(); };
    EXPECT_EQ(text(), QString());
    EXPECT_EQ(item("empty")->property("currentText").toString(), QString());

    clickKey(list, "minusKey");  // -1 stays -1
    EXPECT_EQ(list->property("listIndex").toInt(), -1);
    const char* steps[][3] = {{"plusKey", "0", "ch1"}, {"plusKey", "1", "ch2"}, {"plusKey", "2", "ch3"},
                              {"plusKey", "2", "ch3"},  // "+" on the last entry
                              {"minusKey", "1", "ch2"}, {"minusKey", "0", "ch1"},
                              {"minusKey", "0", "ch1"}};  // "-" on the first entry
    for (auto& step : steps) {
        clickKey(list, step[0]);
        EXPECT_EQ(list->property("listIndex").toInt(), std::atoi(step[1])) << step[0];
        EXPECT_EQ(text(), QString::fromLatin1(step[2]));
    }
    list->setProperty("listIndex", -1);
    EXPECT_EQ(text(), QString());

    // The drop-down list: opened by the text, above its neighbours while open, closed by a choice.
    QQuickItem* dropDown = need(list, "dropDown");
    clickKey(list, "listText");
    EXPECT_TRUE(dropDown->isVisible());
    EXPECT_EQ(list->property("zValue").toInt(), 1);
    EXPECT_GE(dropDown->x(), list->width());  // on the right, bottom-aligned
    EXPECT_DOUBLE_EQ(dropDown->y() + dropDown->height(), list->height());
    EXPECT_DOUBLE_EQ(dropDown->height(), 3 * 30 + 20);
    processEventsOnce(10);
    clickKey(dropDown, "dropDownEntry2");
    EXPECT_FALSE(dropDown->isVisible());
    EXPECT_EQ(text(), QStringLiteral("ch3"));
    EXPECT_EQ(list->property("zValue").toInt(), 0);

    // ... and by the loss of the focus (touching another box).
    clickKey(list, "listText");
    ASSERT_TRUE(dropDown->isVisible());
    clickItem(*item("empty"));
    EXPECT_FALSE(dropDown->isVisible());
    EXPECT_EQ(list->property("listIndex").toInt(), 2);

    // Not opened when disabled.
    list->setProperty("enableDDList", false);
    clickKey(list, "listText");
    EXPECT_FALSE(dropDown->isVisible());
}

TEST_F(QmlControlsTest, OperationSelectHandsOverOnlyLaterChoices)
{
    ASSERT_TRUE(load(R"(
        OperationSelect { objectName: "operations"; onSigAddOperation: homeView.note("add " + opValue) }
        ModeSelect { objectName: "mode"; y: 100; index: 2 }
    )"));
    QQuickItem* operations = item("operations");
    EXPECT_EQ(operations->property("index").toInt(), 0);
    EXPECT_EQ(operations->property("currentText").toString(), QStringLiteral("divh("));
    EXPECT_FALSE(need(operations, "minusKey")->isVisible());
    EXPECT_FALSE(need(operations, "groupBoxTitle")->isVisible());
    EXPECT_EQ(takeLog(root_), QStringList());
    operations->setProperty("index", 7);
    operations->setProperty("index", 3);
    operations->setProperty("index", -1);
    EXPECT_EQ(takeLog(root_), (QStringList{"add sqrt(", "add sin("}));

    QQuickItem* mode = item("mode");
    EXPECT_EQ(mode->property("currentText").toString(), QStringLiteral("Toute l'acquisition"));
    EXPECT_EQ(mode->property("listBoxTitle").toString(), QStringLiteral("Mode"));
    EXPECT_DOUBLE_EQ(mode->width(), 250);
}

TEST_F(QmlControlsTest, RadioBoxChecksExactlyItsCurrentEntry)
{
    ASSERT_TRUE(load(R"(
        MyRadioBox {
            objectName: "radio"
            y: 40
            currentIndex: 5
            myListModel: ListModel { ListElement { txt: "AC"; img: "" } ListElement { txt: "DC"; img: "" }
                                     ListElement { txt: "GND"; img: "" } }
            onSigCurrentIndexChange: homeView.note("change " + currentIndex)
        }
    )"));
    QQuickItem* radio = item("radio");
    auto checked = [radio] {
        QString out;
        for (const char* name : {"radioButton0", "radioButton1", "radioButton2"})
            out += need(radio, name)->property("checked").toBool() ? "x" : ".";
        return out;
    };
    EXPECT_EQ(radio->property("currentIndex").toInt(), 0);  // out of range at completion
    EXPECT_EQ(checked(), QStringLiteral("x.."));
    clickKey(radio, "radioButton2");
    EXPECT_EQ(radio->property("currentIndex").toInt(), 2);
    EXPECT_EQ(checked(), QStringLiteral("..x"));
    clickKey(radio, "radioButton2");  // the current one stays checked, no change
    EXPECT_EQ(checked(), QStringLiteral("..x"));
    radio->setProperty("currentIndex", 1);  // from the setup: no signal
    EXPECT_EQ(checked(), QStringLiteral(".x."));
    EXPECT_EQ(takeLog(root_), QStringList{"change 2"});
}

TEST_F(QmlControlsTest, CheckboxSelectBoxAndButton)
{
    ASSERT_TRUE(load(R"(
        Checkbox { objectName: "check"; name: "Filtre"; onClicked: homeView.note("clicked " + checked) }
        MyButton { objectName: "button"; y: 40; text: "Auto"; onButtonClicked: homeView.note("button") }
        MySelectBox {
            objectName: "select"
            y: 100
            itemIndex: 0
            myListModel: ListModel {
                ListElement { txt: "1"; img: ""; enabled: 1 }
                ListElement { txt: ""; img: ""; enabled: 1 }
                ListElement { txt: "3"; img: ""; enabled: 0 }
                ListElement { txt: "4"; img: ""; enabled: 1 }
            }
        }
    )"));
    clickKey(window_->contentItem(), "check");
    clickKey(window_->contentItem(), "check");
    clickKey(window_->contentItem(), "button");
    EXPECT_EQ(takeLog(root_), (QStringList{"clicked true", "clicked false", "button"}));
    EXPECT_EQ(need(item("check"), "checkboxImage")->property("source").toUrl().toString(),
              QStringLiteral("qrc:/images/unchecked.png"));
    EXPECT_DOUBLE_EQ(item("button")->height(), 25);

    QQuickItem* select = item("select");
    EXPECT_FALSE(need(select, "selectKey1")->isVisible());  // no text, no image
    EXPECT_DOUBLE_EQ(need(select, "selectKey2")->opacity(), 0.2);
    clickKey(select, "selectKey2");  // disabled
    EXPECT_EQ(select->property("itemIndex").toInt(), 0);
    clickKey(select, "selectKey3");
    EXPECT_EQ(select->property("itemIndex").toInt(), 3);
    EXPECT_EQ(need(select, "selectKey3")->property("border").value<QObject*>()->property("width").toInt(), 4);
    EXPECT_EQ(need(select, "selectKey0")->property("border").value<QObject*>()->property("width").toInt(), 1);
    select->setProperty("enab", false);
    clickKey(select, "selectKey0");
    EXPECT_EQ(select->property("itemIndex").toInt(), 3);
}
