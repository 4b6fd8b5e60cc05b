// The key help: pictures and texts of the keys on both models, how it is switched on and off,
// and its overlay in the root window.
#include "board/sim/simboard.h"
#include "tests/ui/support/homescreen.h"
#include "ui/frame/keyhelp.h"
#include "ui/frame/zinccolor.h"

#include <QImage>

#include <QDir>

#include <cstdlib>
#include <utility>

namespace {

QString keyText(const char* key) { return QCoreApplication::translate("KeyHelp", key); }

} // namespace

class KeyHelpTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        // The FPGA answers from the start, as after its load.
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
        ASSERT_TRUE(simboard::install());
        load();
        ASSERT_NE(view_, nullptr);
        help_ = qobject_cast<KeyHelp*>(item("keyHelp"));
        ASSERT_NE(help_, nullptr);
        QObject::connect(help_, &KeyHelp::sigHelpMsg, help_,
                         [this](const QString& text, const QString& image) { shown_.emplace_back(text, image); });
        takeRequests();
    }
    void TearDown() override
    {
        HomeScreenTest::TearDown();
        if (simboard::installed())
            simboard::uninstall();
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Scenario);
    }

    void switchOn()
    {
        help_->setActive();
        data.keyHelpOn = 1;
        emit view_->screenMajSignal(132);
    }
    static void model(int channels)
    {
        simboard::updateScenario([channels](simboard::TScenario& s) { s.model = channels; });
    }

    KeyHelp* help_ = nullptr;
    std::vector<std::pair<QString, QString>> shown_;
};

TEST_F(KeyHelpTest, KeyBitGivesItsPictureOnEachModel)
{
    struct Case {
        int bit;
        const char* four;
        const char* two;
    } const cases[] = {
        {0x1, "Touche6.png", "Touche6.png"},
        {0x8, "Touche24.png", "Touche24.png"},
        {0x800, "Touche18.png", "Touche18.png"},
        {0x10000, "Touche17.png", "Touche17.png"},
        {0x200000, "Touche11.png", "Touche11M.png"},
        {0x400000, "Touche12.png", "Touche12M.png"},
        {0x10000000, "Touche9.png", "Touche9.png"},
        {0, "", ""},                // no key
        {0x100001, "", ""},         // two keys at once
        {0x20000000, "", ""},       // a bit of no key
    };
    switchOn();
    for (const Case& c : cases) {
        for (int channels : {4, 2}) {
            model(channels);
            shown_.clear();
            emit view_->screenIhmSignal(1, c.bit, 10);
            ASSERT_EQ(shown_.size(), 1u);
            EXPECT_EQ(shown_[0].second.toStdString(), channels == 4 ? c.four : c.two)
                << std::hex << c.bit << " on " << channels << " channels";
        }
    }
}

// The picture shows the key the user pressed as it looks on the panel: its printed label (the
// drawing keeps it as the PNG text "Label") and, for the channel keys, the channel's colour.
TEST_F(KeyHelpTest, EveryPictureShowsThePanelKey)
{
    struct Case {
        int bit;
        const char* four;  // the label on the four-channel model
        const char* two;   // on the two-channel model
        int colourIndex;   // default trace colour of the channel key, -1 for a plain key
    } const cases[] = {
        {0x1, "AUTO SET", "AUTO SET", -1},       {0x2, "s/div", "s/div", -1},
        {0x20, "s/div", "s/div", -1},            {0x4, "LEFT RIGHT", "LEFT RIGHT", -1},
        {0x40, "LEFT RIGHT", "LEFT RIGHT", -1},  {0x8, "RUN HOLD", "RUN HOLD", -1},
        {0x10, "REF", "REF", -1},                {0x80, "ZOOM", "ZOOM", -1},
        {0x100, "SINGLE", "SINGLE", -1},         {0x200, "PRINT", "PRINT", -1},
        {0x400, "UP DOWN", "UP DOWN", -1},       {0x800, "UP DOWN", "UP DOWN", -1},
        {0x1000, "FULL TRACE", "FULL TRACE", -1}, {0x2000, "SLOPE", "SLOPE", -1},
        {0x4000, "FULL SCRN", "FULL SCRN", -1},  {0x8000, "V/div", "V/div", -1},
        {0x10000, "V/div", "V/div", -1},         {0x20000, "AC DC", "AC DC", -1},
        {0x40000, "50%", "50%", -1},             {0x80000, "BACKLIGHT", "BACKLIGHT", -1},
        {0x1000000, "BACKLIGHT", "BACKLIGHT", -1}, {0x100000, "CH1", "CH1", 4},
        {0x200000, "CH2", "MATH 2", 2},          {0x400000, "CH3", "MATH 3", 1},
        {0x800000, "CH4", "CH4", 5},             {0x2000000, "HOME", "HOME", -1},
        {0x4000000, "MEAS", "MEAS", -1},         {0x8000000, "MEAS REF", "MEAS REF", -1},
        {0x10000000, "CURS", "CURS", -1},
    };
    for (const Case& c : cases)
        for (int channels : {4, 2}) {
            SCOPED_TRACE(testing::Message() << std::hex << c.bit << " on " << channels << " channels");
            const QString file = KeyHelp::pictureOf(c.bit, channels == 2);
            const QImage picture(QStringLiteral(":/images/Touches/") + file);
            ASSERT_FALSE(picture.isNull()) << file.toStdString();
            EXPECT_EQ(picture.text(QStringLiteral("Label")).toStdString(), channels == 4 ? c.four : c.two);
            if (c.colourIndex < 0)
                continue;
            // The cap left of the label is the channel's colour.
            const QColor cap = picture.pixelColor(picture.width() / 8 + 2, picture.height() / 2);
            const QColor trace = getZincColor(static_cast<unsigned short>(c.colourIndex));
            EXPECT_LT(std::abs(cap.red() - trace.red()) + std::abs(cap.green() - trace.green())
                          + std::abs(cap.blue() - trace.blue()),
                      40)
                << cap.name().toStdString() << " for " << trace.name().toStdString();
        }
}

TEST_F(KeyHelpTest, KeyCodeGivesItsTextOnEachModel)
{
    struct Case {
        int code;
        const char* four;
        const char* two;
    } const cases[] = {
        {10, "T_INSTRUMENT", "T_INSTRUMENT"},
        {12, "T_BACKLIGHT_M", "T_BACKLIGHT_M"},
        {16, "T_AUTOSET", "T_AUTOSET"},
        {23, "T_AUTOSET", "T_AUTOSET"},
        {17, "KEY_NOT_USED", "KEY_NOT_USED"},
        {49, "KEY_NOT_USED", "KEY_NOT_USED"},
        {50, "T_CH1_ON", "T_MATH_ON"},
        {60, "T_CH1_ON", "T_MATH_ON"},
        {61, "T_CH1_ON", "T_MATH_ON"},
        {62, "T_FULL_TRACE", "T_FULL_TRACE"},
        {97, "T_CH1_COUPLAGE", "T_CH1_COUPLAGE"},
        {111, "T_CH1_METER_RANGE_mV", "T_CH1_METER_RANGE_mV"},
        {130, "T_LEVEL_50", "T_LEVEL_50"},
        {143, "T_LEVEL_50", "T_LEVEL_50"},
        {132, "T_RUN_HOLD", "T_RUN_HOLD"},
        {147, "T_CH1_SLOPE", "T_CH1_SLOPE"},
        {148, "KEY_NOT_USED", "KEY_NOT_USED"},
        {-1, "KEY_NOT_USED", "KEY_NOT_USED"},
    };
    switchOn();
    for (const Case& c : cases) {
        for (int channels : {4, 2}) {
            model(channels);
            shown_.clear();
            emit view_->screenIhmSignal(1, 0x2, c.code);
            ASSERT_EQ(shown_.size(), 1u);
            EXPECT_EQ(shown_[0].first, keyText(channels == 4 ? c.four : c.two)) << c.code << " on " << channels;
            EXPECT_FALSE(shown_[0].first.isEmpty());
        }
    }
}

TEST_F(KeyHelpTest, OnlyNotice132SwitchesAndKeysReachOnlyTheShownHelp)
{
    help_->setActive();
    // While off, key notices are not heard.
    emit view_->screenIhmSignal(1, 0x2, 10);
    EXPECT_TRUE(shown_.empty());

    data.keyHelpOn = 1;
    emit view_->screenMajSignal(0);
    EXPECT_FALSE(help_->isVisible());
    EXPECT_TRUE(shown_.empty());

    emit view_->screenMajSignal(132);
    EXPECT_TRUE(help_->isVisible());
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].first, keyText("AIDE_INFO"));
    EXPECT_TRUE(shown_[0].second.isEmpty());

    // Shown twice over: still one answer per key.
    emit view_->screenMajSignal(132);
    shown_.clear();
    emit view_->screenIhmSignal(1, 0x2, 10);
    EXPECT_EQ(shown_.size(), 1u);
    // Other notices show nothing.
    emit view_->screenIhmSignal(6, 0x2, 10);
    emit view_->screenIhmSignal(7, 0, 0);
    EXPECT_EQ(shown_.size(), 1u);

    // A recall clears the parameter and announces 0: the help stays until 132 comes.
    data.keyHelpOn = 0;
    emit view_->screenMajSignal(0);
    EXPECT_TRUE(help_->isVisible());
    emit view_->screenMajSignal(132);
    EXPECT_FALSE(help_->isVisible());
    shown_.clear();
    emit view_->screenIhmSignal(1, 0x2, 10);
    EXPECT_TRUE(shown_.empty());
}

TEST_F(KeyHelpTest, OverlayShowsThePictureAndATouchOnTheTextEndsTheHelp)
{
    ASSERT_TRUE(showAndExpose());
    emit view_->complete();
    takeRequests();
    data.keyHelpOn = 1;
    emit view_->screenMajSignal(132);
    processEventsOnce(20);  // the connection of the root is queued
    ASSERT_TRUE(help_->isVisible());

    auto* image = item("keyHelpImage");
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->isVisible());

    emit view_->screenIhmSignal(1, 0x200000, 60);
    ASSERT_TRUE(processEventsUntil([image] { return image->isVisible(); }));
    EXPECT_EQ(image->width(), 48);
    EXPECT_EQ(image->height(), 48);
    EXPECT_EQ(image->property("status").toInt(), 1);  // Image.Ready: the picture is in the resources

    saveArtefact(*view_, "key-help.png");

    emit view_->screenIhmSignal(1, 0, 60);
    EXPECT_FALSE(image->isVisible());

    auto* text = item("keyHelpText");
    ASSERT_NE(text, nullptr);
    clickItem(*text);
    auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(posted[0].code, 132);
    EXPECT_EQ(posted[0].auxValue, 0);
    EXPECT_EQ(posted[0].intValue, 0);
    EXPECT_EQ(posted[0].floatValue, 0.0f);
    EXPECT_EQ(posted[0].senderId, senderValue(MENU_id));
}
