// Helpers of the user-interface tests: the root window loaded from the program's HomeView.qml,
// a log of its signals, event loops with a deadline, clicks and a look at the box of the
// controller.
#pragma once

#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/layoutcheck.h"
#include "tests/support/simboardtest.h"
#include "ui/frame/homeview.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// One round of the GUI thread's events. The tests run no event loop, so the deletions that a
// call made directly from the test asked for are carried out here, as the program's loop would.
inline void processEventsOnce(int maxMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, maxMs);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs the GUI thread's events until the condition holds; false after 10 s.
inline bool processEventsUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        processEventsOnce(20);
    }
    return true;
}

// Runs the GUI thread's events for a while (to show that nothing more comes).
inline void processEventsFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        processEventsOnce(10);
}

// Every signal of a HomeView as text, with the thread that emitted it. The connections are direct,
// so the functors run in the emitting thread; they go with the log.
class TSignalLog {
public:
    explicit TSignalLog(HomeView& view)
    {
        auto add = [this](const std::string& entry) {
            std::lock_guard<std::mutex> lock(mutex_);
            entries_.push_back(entry);
            threads_.push_back(QThread::currentThread());
        };
        auto on = [this, &view](auto signal, auto functor) {
            QObject::connect(&view, signal, &context_, functor, Qt::DirectConnection);
        };
        on(&HomeView::createInstrumentSignal, [add] { add("createInstrument"); });
        on(&HomeView::displayBrandSignal, [add](bool v) { add(v ? "brand on" : "brand off"); });
        on(&HomeView::displayKalvexSignal, [add] { add("kalvex"); });
        on(&HomeView::refreshConfigSignal, [add] { add("config"); });
        on(&HomeView::screenAutomaticMeasurementSignal, [add] { add("automatic"); });
        on(&HomeView::screenIhmSignal, [add](int code, int a, int b) {
            add("ihm " + std::to_string(code) + " " + std::to_string(a) + " " + std::to_string(b));
        });
        on(&HomeView::screenMajSignal, [add](int code) { add("maj " + std::to_string(code)); });
        on(&HomeView::screenManualMeasurementSignal, [add] { add("manual"); });
        on(&HomeView::screenMessageSignal, [add](int number, const QString& text) {
            add("message " + std::to_string(number) + " '" + text.toStdString() + "'" + (text.isNull() ? " null" : ""));
        });
        on(&HomeView::screenRazSignal, [add] { add("raz"); });
        on(&HomeView::screenRefreshSignal, [add] { add("refresh"); });
        on(&HomeView::screenshotSignal, [add](const QString& n) { add("screenshot '" + n.toStdString() + "'"); });
        on(&HomeView::refreshInfoToolSignal, [add](bool v) { add(v ? "info on" : "info off"); });
    }

    std::vector<std::string> entries() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    std::vector<QThread*> threads() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }
    int count(const std::string& entry) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(std::count(entries_.begin(), entries_.end(), entry));
    }
    // Entries that start with the prefix.
    std::vector<std::string> startingWith(const std::string& prefix) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const auto& e : entries_)
            if (e.compare(0, prefix.size(), prefix) == 0)
                out.push_back(e);
        return out;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
        threads_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    std::vector<QThread*> threads_;
    QObject context_;  // last: it goes first, and the connections with it
};

// The item of that objectName in the visual tree under the item, or null.
inline QQuickItem* findItem(QQuickItem* under, const QString& name)
{
    for (QQuickItem* child : under->childItems()) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem* found = findItem(child, name))
            return found;
    }
    return nullptr;
}

// The mode views (and their placeholders) under the root: the window's direct children whose
// name ends in "View".
inline std::vector<std::string> modeViews(HomeView& view)
{
    std::vector<std::string> out;
    for (QQuickItem* child : view.contentItem()->childItems())
        if (child->objectName().endsWith(QLatin1String("View")))
            out.push_back(child->objectName().toStdString());
    return out;
}

// A press and a release of a button at a point of the window.
inline void clickAt(QWindow& window, QPointF point, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent press(QEvent::MouseButtonPress, point, point, window.mapToGlobal(point.toPoint()), button, button,
                      Qt::NoModifier);
    QGuiApplication::sendEvent(&window, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, point, point, window.mapToGlobal(point.toPoint()), button,
                        Qt::NoButton, Qt::NoModifier);
    QGuiApplication::sendEvent(&window, &release);
}

// Clicks the middle of the item.
inline void clickItem(QQuickItem& item, Qt::MouseButton button = Qt::LeftButton)
{
    clickAt(*item.window(), item.mapToScene(QPointF(item.width() / 2, item.height() / 2)), button);
}

// Every request waiting in the controller's box, oldest first, leaving it empty.
inline std::vector<pipe_dial> takeRequests()
{
    constexpr intptr_t kMarker = -0x7E57;
    pipe_dial marker{};
    marker.senderId = kMarker;
    o_g_consMessageBox.send(&marker);
    std::vector<pipe_dial> out;
    for (;;) {
        pipe_dial r{};
        if (o_g_consMessageBox.receive(&r, true, 5) != 0) {
            ADD_FAILURE() << "the marker never came back";
            return out;
        }
        if (r.senderId == kMarker)
            return out;
        out.push_back(r);
    }
}

// Saves a screenshot of the window under the artefact folder, kept for review and never compared
// with a picture; what it shows must read: no text under another, outside its item or in the
// colour of its background. A screen still in a transition (a box changing colour, a row fading)
// is given a second to come to rest before what it shows is judged.
inline void saveArtefact(QQuickWindow& view, const char* name)
{
    std::vector<std::string> faults = layoutcheck::faults(view);
    QElapsedTimer settling;
    settling.start();
    while (!faults.empty() && settling.elapsed() < 1000) {
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 100)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        faults = layoutcheck::faults(view);
    }
    const QString dir = QStringLiteral(BENCHVIEW_ARTEFACT_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(view.grabWindow().save(dir + QLatin1Char('/') + QLatin1String(name), "PNG"));
    for (const std::string& fault : faults)
        ADD_FAILURE() << name << ": " << fault;
}

// Fails the test on any warning from the program's QML documents (script errors, missing files ...).
class TQmlWarningWatch {
public:
    TQmlWarningWatch() { previous_ = qInstallMessageHandler(&TQmlWarningWatch::handler); }
    ~TQmlWarningWatch() { qInstallMessageHandler(previous_); }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        const bool fromQml = text.contains(QLatin1String("qrc:")) || text.contains(QLatin1String("benchview"))
            || (context.file && std::strncmp(context.file, "qrc:", 4) == 0);
        if (type != QtDebugMsg && type != QtInfoMsg && fromQml)
            ADD_FAILURE() << "Qt warning: " << text.toStdString() << " (" << (context.file ? context.file : "") << ")";
    }
    QtMessageHandler previous_ = nullptr;
};

// A test on its own board with the root window loaded from the program's HomeView.qml; the
// live setup holds the defaults with no mode.
class HomeScreenTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof(database));
        data.instrumentMode = HomeView::kNoView;
    }

    void TearDown() override
    {
        unload();
        SimBoardTest::TearDown();
    }

    // Loads the root window (once per test); the test fails when it cannot.
    HomeView& load()
    {
        engine_ = new QQmlEngine();
        QQmlComponent component(engine_, QUrl(QStringLiteral("qrc:/HomeView.qml")));
        root_ = component.create();
        if (!root_)
            ADD_FAILURE() << component.errorString().toStdString();
        view_ = qobject_cast<HomeView*>(root_);
        if (!view_)
            ADD_FAILURE() << "the root is not a HomeView";
        return *view_;
    }

    // Shows the window and waits until it can be grabbed.
    bool showAndExpose()
    {
        view_->show();
        return processEventsUntil([this] { return view_->isExposed(); });
    }

    void unload()
    {
        delete root_;
        root_ = nullptr;
        view_ = nullptr;
        delete engine_;
        engine_ = nullptr;
    }

    QQuickItem* item(const char* name) { return findItem(view_->contentItem(), QString::fromLatin1(name)); }

    TQmlWarningWatch warnings_;
    QQmlEngine* engine_ = nullptr;
    QObject* root_ = nullptr;
    HomeView* view_ = nullptr;
};
