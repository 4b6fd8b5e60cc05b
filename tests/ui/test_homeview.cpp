#include "tests/support/simboardtest.h"
#include "ui/homeview.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QThread>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records every signal of a HomeView with the thread it arrived in. Functors without a context
// object are called directly by the emitting thread, so the thread check checks the emission.
class TSignalLog {
public:
    explicit TSignalLog(HomeView& view)
    {
        auto add = [this](const std::string& entry) {
            std::lock_guard<std::mutex> lock(mutex_);
            entries_.push_back(entry);
            threads_.push_back(QThread::currentThread());
        };
        QObject::connect(&view, &HomeView::screenMajSignal, [add](int code) { add("maj " + std::to_string(code)); });
        QObject::connect(&view, &HomeView::screenRefreshSignal, [add] { add("refresh"); });
        QObject::connect(&view, &HomeView::screenRazSignal, [add] { add("raz"); });
        QObject::connect(&view, &HomeView::createInstrumentSignal, [add] { add("createInstrument"); });
        QObject::connect(&view, &HomeView::screenMessageSignal, [add](int number, const QString& text) {
            add("message " + std::to_string(number) + " '" + text.toStdString() + "'");
        });
        QObject::connect(&view, &HomeView::screenIhmSignal, [add](int code, int a, int b) {
            add("ihm " + std::to_string(code) + " " + std::to_string(a) + " " + std::to_string(b));
        });
        QObject::connect(&view, &HomeView::screenshotSignal, [add](const QString& n) { add("screenshot " + n.toStdString()); });
        QObject::connect(&view, &HomeView::displayKalvexSignal, [add] { add("kalvex"); });
        QObject::connect(&view, &HomeView::screenManualMeasurementSignal, [add] { add("manual"); });
        QObject::connect(&view, &HomeView::screenAutomaticMeasurementSignal, [add] { add("automatic"); });
        QObject::connect(&view, &HomeView::displayBrandSignal, [add](bool v) { add(v ? "brand on" : "brand off"); });
        QObject::connect(&view, &HomeView::refreshConfigSignal, [add] { add("config"); });
    }

    std::vector<std::string> entries()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    std::vector<QThread*> threads()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> entries_;
    std::vector<QThread*> threads_;
};

// Runs the GUI thread's events until the condition holds (at most 10 s).
bool processEventsUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

TEST(HomeView, CallsFromAnotherThreadArriveQueuedInTheGuiThread)
{
    HomeView view;
    TSignalLog log(view);
    char text[] = "trace.trc";
    char shot[] = "/media/user/shot.png";

    std::thread controller([&] {
        view.screenMaj(42);
        view.screenMessage(14, text);
        std::strcpy(text, "changed");  // the caller's buffer changes before delivery
        view.screenMessage(0, nullptr);
        view.screenIhm(1, 2, 3);
        view.screenIhm(3, 5, 179);
        view.screenHardcopy(shot);
        view.screenKalvex();
        view.screenManualMeasurement();
        view.screenAutomaticMeasurement();
        view.setBrandVisible(true);
        view.refreshConfig();
        view.screenRefresh();
        view.screenRaz();
    });
    controller.join();
    EXPECT_TRUE(log.entries().empty()) << "delivered before the GUI thread ran its events";
    EXPECT_TRUE(view.brandVisible());

    const std::vector<std::string> expected = {
        "maj 42",      "message 14 'trace.trc'", "message 0 ''", "ihm 1 2 3", "ihm 3 5 179",
        "screenshot /media/user/shot.png",       "kalvex",       "manual",    "automatic",
        "brand on",    "config",                 "refresh",      "createInstrument",
    };
    ASSERT_TRUE(processEventsUntil([&] { return log.entries().size() >= expected.size(); }));
    EXPECT_EQ(log.entries(), expected);
    for (QThread* t : log.threads())
        EXPECT_EQ(t, QCoreApplication::instance()->thread());
}

TEST(HomeView, RefreshFlagAndModeWord)
{
    HomeView view;
    TSignalLog log(view);
    EXPECT_TRUE(view.refreshAllowed());
    EXPECT_EQ(view.modeWord(), 0x8000);

    view.setRefreshAllowed(false);
    view.screenRefresh();
    view.setModeWord(0x10);
    view.screenRaz();
    view.setRefreshAllowed(true);
    view.screenRefresh();
    view.setBrandVisible(false);

    const std::vector<std::string> expected = {"raz", "refresh", "brand off"};
    ASSERT_TRUE(processEventsUntil([&] { return log.entries().size() >= expected.size(); }));
    EXPECT_EQ(log.entries(), expected);
}

TEST(HomeView, ShowWindowIsQueuedIntoTheGuiThread)
{
    HomeView view;
    std::thread controller([&] { view.showWindow(); });
    controller.join();
    EXPECT_FALSE(view.isVisible());
    EXPECT_TRUE(processEventsUntil([&] { return view.isVisible(); }));
}

TEST(HomeView, RootWindowShowsTheLastMessageNumber)
{
    auto* engine = new QQmlEngine();
    QQmlComponent component(engine, QUrl(QStringLiteral("qrc:/HomeView.qml")));
    std::unique_ptr<QObject> root(component.create());
    ASSERT_TRUE(root) << component.errorString().toStdString();
    auto* view = qobject_cast<HomeView*>(root.get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->width(), 800);
    EXPECT_EQ(view->height(), 480);

    auto* number = view->findChild<QQuickItem*>("messageNumber");
    ASSERT_NE(number, nullptr);
    view->screenMessage(27, "");
    EXPECT_TRUE(processEventsUntil([&] { return view->property("lastMessage").toInt() == 27; }));
    EXPECT_TRUE(number->property("text").toString().endsWith(" 27"))
        << number->property("text").toString().toStdString();
    root.reset();
    delete engine;
}

class HomeViewDeathTest : public SimBoardTest {};

TEST_F(HomeViewDeathTest, PanelRequestSavesAndEndsWithStatusFour)
{
    HomeView view;
    EXPECT_EXIT(view.screenIhm(3, 0, 180), ::testing::ExitedWithCode(4), "");
}
