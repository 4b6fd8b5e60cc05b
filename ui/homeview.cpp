#include "ui/homeview.h"

#include "core/process.h"
#include "core/setup.h"

#include <QCoreApplication>
#include <QMetaObject>

HomeView* po_g_homeView = nullptr;

HomeView::HomeView(QWindow* parent)
    : QQuickWindow(parent)
{
}

// Each call posts an event to this window, so the emission and every receiver run in the GUI
// thread whatever thread called.

void HomeView::screenMaj(int code)
{
    QMetaObject::invokeMethod(this, [this, code] { emit screenMajSignal(code); }, Qt::QueuedConnection);
}

void HomeView::screenRefresh()
{
    if (!refreshAllowed_.load())
        return;
    QMetaObject::invokeMethod(this, [this] { emit screenRefreshSignal(); }, Qt::QueuedConnection);
}

void HomeView::screenRaz()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (modeWord_.load() == kNoInstrument) {
                emit createInstrumentSignal();
                // Let the new instrument view finish building before the next queued call.
                QCoreApplication::processEvents();
            } else {
                emit screenRazSignal();
            }
        },
        Qt::QueuedConnection);
}

void HomeView::screenMessage(int number, const char* text)
{
    // Copied now: the caller's text may be gone when the GUI thread gets to it.
    QString copy = QString::fromUtf8(text ? text : "");
    QMetaObject::invokeMethod(this, [this, number, copy] { emit screenMessageSignal(number, copy); },
                              Qt::QueuedConnection);
}

void HomeView::screenIhm(int code, int a, int b)
{
    if (code == 3 && b == 180) {
        SetupSave("setup", true, "");
        endProcess(4);
    }
    QMetaObject::invokeMethod(this, [this, code, a, b] { emit screenIhmSignal(code, a, b); },
                              Qt::QueuedConnection);
}

void HomeView::screenHardcopy(char* name)
{
    QString copy = QString::fromUtf8(name ? name : "");
    QMetaObject::invokeMethod(this, [this, copy] { emit screenshotSignal(copy); }, Qt::QueuedConnection);
}

void HomeView::screenKalvex()
{
    QMetaObject::invokeMethod(this, [this] { emit displayKalvexSignal(); }, Qt::QueuedConnection);
}

void HomeView::screenManualMeasurement()
{
    QMetaObject::invokeMethod(this, [this] { emit screenManualMeasurementSignal(); }, Qt::QueuedConnection);
}

void HomeView::screenAutomaticMeasurement()
{
    QMetaObject::invokeMethod(this, [this] { emit screenAutomaticMeasurementSignal(); }, Qt::QueuedConnection);
}

void HomeView::setBrandVisible(bool visible)
{
    brandVisible_.store(visible);
    QMetaObject::invokeMethod(this, [this, visible] { emit displayBrandSignal(visible); }, Qt::QueuedConnection);
}

void HomeView::showWindow()
{
    // A window is shown from its own thread only.
    QMetaObject::invokeMethod(this, [this] { show(); }, Qt::QueuedConnection);
}

void HomeView::refreshConfig()
{
    QMetaObject::invokeMethod(this, [this] { emit refreshConfigSignal(); }, Qt::QueuedConnection);
}
