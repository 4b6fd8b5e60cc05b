// The update screen: its version answer and its one QML document, with the animation's time
// driven by the test.
#include "tests/support/benchviewprocess.h"

#include <gtest/gtest.h>

#include <QAnimationDriver>
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <chrono>

using namespace std::chrono_literals;

namespace {

// Animation time that moves only when the test says so.
class SteppedDriver : public QAnimationDriver {
public:
    void step(qint64 ms)
    {
        now_ += ms;
        advance();
    }
    qint64 elapsed() const override { return now_; }

private:
    qint64 now_ = 0;
};

} // namespace

TEST(FlashnoteVersion, PrintsAndExits)
{
    for (const char* arg : {"-V", "-v"}) {
        int status = -1;
        EXPECT_EQ("1.02\n", programOutput(FLASHNOTE_EXE, arg, &status)) << arg;
        EXPECT_EQ(0, status) << arg;
    }
}

TEST(FlashnoteVersion, AnotherCommandLineShowsTheScreen)
{
    BenchviewProcess p;
    BenchviewProcess::Options o;
    o.args = {"-V", "x"};
    o.root = ::testing::TempDir() + "flashnote-screen";
    o.environment = {"QT_QPA_PLATFORM=offscreen", "QT_QUICK_BACKEND=software"};
    ASSERT_TRUE(p.start(FLASHNOTE_EXE, o));
    int status = -1;
    EXPECT_FALSE(p.waitExit(1500ms, &status)) << "ended with " << status;
}

TEST(FlashnoteDocument, WindowTextAndTheColourCycle)
{
    SteppedDriver driver;
    driver.install();
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    ASSERT_EQ(1, engine.rootObjects().size());
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    ASSERT_NE(nullptr, window);
    // The layout and the animation's start come from the event loop; on a loaded host the
    // window's geometry may take more than a few turns of it.
    auto* background = window->findChild<QQuickItem*>("background");
    ASSERT_NE(nullptr, background);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    while (background->width() != 800 && std::chrono::steady_clock::now() < deadline);
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(QSize(800, 480), window->size());

    QObject* notice = window->findChild<QObject*>("notice");
    ASSERT_NE(nullptr, notice);
    EXPECT_EQ("update running...", notice->property("text").toString());
    const QFont font = notice->property("font").value<QFont>();
    EXPECT_EQ("Sans Serif", font.family());
    EXPECT_EQ(24, font.pointSize());
    EXPECT_TRUE(font.bold());
    auto* noticeItem = qobject_cast<QQuickItem*>(notice);
    ASSERT_NE(nullptr, noticeItem);
    EXPECT_NEAR(400, noticeItem->x() + noticeItem->width() / 2, 1);
    EXPECT_NEAR(240, noticeItem->y() + noticeItem->height() / 2, 1);

    EXPECT_EQ(QSizeF(800, 480), background->size());
    QObject* fading = window->findChild<QObject*>("fading");
    ASSERT_NE(nullptr, fading);
    EXPECT_EQ(-1, fading->property("loops").toInt()) << "loops for ever";
    EXPECT_TRUE(fading->property("running").toBool());

    auto colour = [&] { return background->property("color").value<QColor>(); };
    driver.step(0);
    EXPECT_EQ(QColor("white"), colour());
    driver.step(1000);
    const QColor half = colour();
    EXPECT_NE(QColor("white"), half);
    EXPECT_NE(QColor("yellow"), half);
    driver.step(1000);
    EXPECT_EQ(QColor("yellow"), colour());
    driver.step(2000);
    EXPECT_EQ(QColor("white"), colour());
    driver.step(2000);
    EXPECT_EQ(QColor("yellow"), colour()) << "and again";
    driver.uninstall();
}
