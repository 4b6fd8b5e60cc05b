// The message pop-up: which numbers are timed, held or locking, how the two lines are composed,
// what reaches the status cache, its picture, and its place in the root window.
#include "core/gest_db.h"
#include "core/root.h"
#include "network/user_int.h"
#include "tests/ui/support/catalogue.h"
#include "tests/ui/support/homescreen.h"
#include "ui/frame/messagebox.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <thread>

namespace {

// The pop-up text as the status cache holds it now.
std::string warning()
{
    std::string trigger, misc1, misc2, battery, text, counter;
    getPelanodeStatus(trigger, misc1, misc2, battery, text, counter);
    return text;
}

enum class Hold { Timed, Held };

struct Case {
    int code;
    const char* supplied;
    const char* message;
    const char* detail;
    Hold hold;
    int intervalMs;  // of a timed message
};

QImage painted(MessageBox& box)
{
    QImage image(static_cast<int>(box.width()), static_cast<int>(box.height()), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    box.paint(&p);
    return image;
}

// Pixels of the pop-up's blue (text or outline) within the rectangle.
int bluePixels(const QImage& image, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > c.red() + 60 && c.blue() > c.green() + 60)
                ++n;
        }
    return n;
}

} // namespace

class MessageBoxTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof(database));
    }
    MessageBox box_;
};

TEST_F(MessageBoxTest, StartsHiddenAtItsSize)
{
    EXPECT_FALSE(box_.isVisible());
    EXPECT_EQ(box_.width(), 500);
    EXPECT_EQ(box_.height(), 100);
    EXPECT_EQ(box_.currentCode(), 0);
    EXPECT_TRUE(box_.hideTimer()->isSingleShot());
    EXPECT_FALSE(box_.hideTimer()->isActive());
}

TEST_F(MessageBoxTest, EachCodeComposesItsLinesAndHoldRule)
{
    data.selfTestResult = 0xFFFE;
    const Case cases[] = {
        {1, "x", "message1", "", Hold::Timed, 5000},
        {19, "", "message19", "", Hold::Timed, 5000},
        {32, "", "message32", "", Hold::Timed, 5000},
        {6, "", "message6", "", Hold::Held, 0},
        {33, "", "message33", "", Hold::Held, 0},
        {27, "", "message27", "", Hold::Held, 0},
        {27, "setup.cfg", "message27", " setup.cfg", Hold::Timed, 5000},
        {8, "setup.cfg", "message8 setup.cfg", "", Hold::Held, 0},
        {14, "a.png", "message14", " a.png", Hold::Timed, 5000},
        {25, "tavlin_1", "message25", " tavlin_1", Hold::Timed, 5000},
        {29, "bus", "message29", " bus", Hold::Held, 0},
        {34, "", "message19", "", Hold::Held, 0},
        {35, "lost", "message35", "", Hold::Timed, 5000},  // the recorder with no channel on
        {36, "lost", "", "", Hold::Timed, 5000},
        {-1, "lost", "", "", Hold::Timed, 5000},
        {15, "", "message15", "", Hold::Timed, 30000},
        {13, "", "message13fffe", "", Hold::Held, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        // 13 and 15 lock: each case starts from a hidden pop-up.
        box_.timerSlot();
        box_.screenMessageSlot(c.code, QString::fromUtf8(c.supplied));
        EXPECT_EQ(box_.currentCode(), c.code);
        EXPECT_EQ(box_.message().toStdString(), c.message);
        EXPECT_EQ(box_.property("message").toString().toStdString(), c.message);
        EXPECT_EQ(box_.detail().toStdString(), c.detail);
        EXPECT_TRUE(box_.isVisible());
        EXPECT_EQ(box_.hideTimer()->isActive(), c.hold == Hold::Timed);
        if (c.hold == Hold::Timed) {
            EXPECT_EQ(box_.hideTimer()->interval(), c.intervalMs);
        }
        const std::string published = std::string(c.message) + c.detail;
        EXPECT_EQ(warning(), published.empty() ? "+" : published);
    }
}

TEST_F(MessageBoxTest, TheTimerEndHidesAndPublishesTheEmptyText)
{
    box_.screenMessageSlot(19, QString());
    ASSERT_TRUE(box_.hideTimer()->isActive());
    box_.timerSlot();
    EXPECT_FALSE(box_.isVisible());
    EXPECT_EQ(box_.currentCode(), 0);
    EXPECT_TRUE(box_.message().isEmpty());
    EXPECT_EQ(warning(), "+");
}

TEST_F(MessageBoxTest, CodeZeroHidesButLeavesTheTimerRunning)
{
    box_.screenMessageSlot(25, QStringLiteral("f"));
    box_.screenMessageSlot(0, QStringLiteral("ignored"));
    EXPECT_FALSE(box_.isVisible());
    EXPECT_TRUE(box_.message().isEmpty());
    EXPECT_TRUE(box_.detail().isEmpty());
    EXPECT_EQ(warning(), "+");
    EXPECT_TRUE(box_.hideTimer()->isActive());
    // Its end publishes the empty text again and keeps the pop-up hidden.
    box_.timerSlot();
    EXPECT_FALSE(box_.isVisible());
    EXPECT_EQ(warning(), "+");
}

TEST_F(MessageBoxTest, AHeldMessageAfterATimedOneStaysShown)
{
    box_.screenMessageSlot(1, QString());
    box_.screenMessageSlot(6, QString());
    EXPECT_FALSE(box_.hideTimer()->isActive());
    EXPECT_TRUE(box_.isVisible());
    EXPECT_EQ(box_.message(), QStringLiteral("message6"));
}

TEST_F(MessageBoxTest, SelfTestFailureLocksAgainstEveryLaterCode)
{
    data.selfTestResult = 0xFFFE;
    box_.screenMessageSlot(13, QString());
    for (int code : {0, 7, 13, 34}) {
        SCOPED_TRACE(code);
        box_.screenMessageSlot(code, QStringLiteral("x"));
        EXPECT_EQ(box_.currentCode(), 13);
        EXPECT_EQ(box_.message(), QStringLiteral("message13fffe"));
        EXPECT_TRUE(box_.isVisible());
        EXPECT_EQ(warning(), "message13fffe");
    }
    // No leading zeros.
    box_.timerSlot();
    data.selfTestResult = 0x0a;
    box_.screenMessageSlot(13, QString());
    EXPECT_EQ(box_.message(), QStringLiteral("message13a"));
}

TEST_F(MessageBoxTest, MessageFifteenLocksUntilItsOwnEnd)
{
    box_.screenMessageSlot(15, QString());
    box_.screenMessageSlot(0, QString());
    box_.screenMessageSlot(6, QString());
    EXPECT_EQ(box_.currentCode(), 15);
    EXPECT_TRUE(box_.isVisible());
    EXPECT_EQ(box_.hideTimer()->interval(), 30000);
    box_.timerSlot();
    box_.screenMessageSlot(6, QString());
    EXPECT_EQ(box_.currentCode(), 6);
    EXPECT_EQ(box_.message(), QStringLiteral("message6"));
}

TEST_F(MessageBoxTest, PaintsAGreyBoxWithABlueOutlineAndTwoLines)
{
    box_.screenMessageSlot(25, QStringLiteral("tavlin_2026-12-10_00-20-07"));
    const QImage image = painted(box_);

    // Inside the outline, away from the text: the grey at opacity 0.8.
    const QColor inside = image.pixelColor(8, 50);
    EXPECT_NEAR(inside.alpha(), 204, 3);
    EXPECT_NEAR(inside.red(), 160, 8);
    EXPECT_NEAR(inside.green(), 160, 8);
    EXPECT_NEAR(inside.blue(), 164, 8);
    // The outline: 4 pixels wide on the rectangle inset by 2.
    for (QPoint p : {QPoint(2, 50), QPoint(250, 2), QPoint(497, 50), QPoint(250, 97)}) {
        const QColor c = image.pixelColor(p);
        EXPECT_GT(c.blue(), c.red() + 60) << p.x() << "," << p.y();
    }
    // Two lines of blue text, each centred: its ink lies in the upper and the lower half.
    const int top = bluePixels(image, QRect(20, 8, 460, 40));
    const int bottom = bluePixels(image, QRect(20, 52, 460, 40));
    EXPECT_GT(top, 100);
    EXPECT_GT(bottom, 100);
    EXPECT_LT(bluePixels(image, QRect(20, 8, 100, 40)), bluePixels(image, QRect(200, 8, 100, 40)))
        << "first line centred";

    // One line: its ink around the middle.
    box_.screenMessageSlot(6, QString());
    const QImage single = painted(box_);
    EXPECT_GT(bluePixels(single, QRect(20, 35, 460, 30)), 100);
    EXPECT_EQ(bluePixels(single, QRect(20, 8, 460, 15)), 0);

    QDir().mkpath(QStringLiteral(BENCHVIEW_ARTEFACT_DIR));
    const QString path = QStringLiteral(BENCHVIEW_ARTEFACT_DIR "/messagebox_two_lines.png");
    ASSERT_TRUE(image.save(path));
    std::printf("two-line message: %s\n", qPrintable(path));
}

// With the program's English catalogue and font every text stays inside the outline, also with
// the longest completions its senders supply (a proposed file name, an autoset text).
TEST_F(MessageBoxTest, EveryEnglishTextFitsInsideTheOutline)
{
    TCatalogueGuard catalogue;
    QGuiApplication::setFont(QFont(applicationFontFamily(QString()), 10));
    ASSERT_TRUE(installTranslatorFrom(QCoreApplication::applicationDirPath() + "/translations", QString()));
    data.selfTestResult = 0xFFFF;
    const char* const fileName = "tavlin_2026-12-31_23-59-59.png";
    for (int code = 1; code <= 34; ++code) {
        const char* supplied = code == 8 ? "trig on CH4" : code == 29 ? "Recessive level" : fileName;
        SCOPED_TRACE(code);
        MessageBox box;  // the font is the application's at creation
        box.screenMessageSlot(code, QString::fromUtf8(supplied));
        ASSERT_FALSE(box.message().isEmpty());
        EXPECT_FALSE(box.message().startsWith(QLatin1String("message"))) << box.message().toStdString();
        // Between the outline and a margin of 8 pixels: no ink of a text that runs over.
        const QImage image = painted(box);
        const int w = static_cast<int>(box.width());
        EXPECT_EQ(bluePixels(image, QRect(6, 14, 6, 72)) + bluePixels(image, QRect(w - 12, 14, 6, 72)), 0)
            << (box.message() + box.detail()).toStdString();
    }
}

class MessageBoxRootTest : public HomeScreenTest {};

TEST_F(MessageBoxRootTest, TheRootPlacesOnePopUpAboveAllAndFeedsItFromTheController)
{
    HomeView& view = load();
    ASSERT_TRUE(showAndExpose());
    QQuickItem* item = this->item("messageBox");
    auto* box = qobject_cast<MessageBox*>(item);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->x(), 150);
    EXPECT_EQ(box->y(), 190);
    for (const char* keyboard : {"numericKeyboard", "alphaKeyboard", "functionKeyboard"})
        if (QQuickItem* k = this->item(keyboard)) {
            EXPECT_GT(box->z(), k->z()) << keyboard;
        }
    EXPECT_FALSE(box->isVisible());

    // The root's complete notice connects the pop-up; the controller calls from its own thread.
    emit view.complete();
    std::thread controller([&view] { view.screenMessage(25, "tavlin_1.cfg"); });
    controller.join();
    ASSERT_TRUE(processEventsUntil([box] { return box->isVisible(); }));
    EXPECT_EQ(box->message(), QStringLiteral("message25"));
    EXPECT_EQ(box->detail(), QStringLiteral(" tavlin_1.cfg"));
    // A second complete does not connect twice: code 8 appends its text only once.
    emit view.complete();
    view.screenMessage(8, "x");
    ASSERT_TRUE(processEventsUntil([box] { return box->currentCode() == 8; }));
    processEventsFor(50);
    EXPECT_EQ(box->message(), QStringLiteral("message8 x"));
}
