#include "ui/harmonic/harmonicscreen.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "ui/harmonic/harmonictrace.h"
#include "ui/frame/homeview.h"

#include <QPainter>
#include <QPolygonF>

namespace {
constexpr unsigned short kPowerPalette = 6;
} // namespace

HarmonicScreen::HarmonicScreen(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::screenRefreshSignal, this, &HarmonicScreen::screenRefreshSlot);
        connections_[1] = connect(home, &HomeView::displayKalvexSignal, this, &HarmonicScreen::displayKalvexSlot);
    }
}

HarmonicScreen::~HarmonicScreen()
{
    for (auto& c : connections_)
        disconnect(c);
    for (HarmonicTrace*& t : traces_) {
        delete t;
        t = nullptr;
    }
}

void HarmonicScreen::init()
{
    if (traces_[0])
        return;
    if (HomeView* home = po_g_homeView)
        connections_[2] = connect(home, &HomeView::screenMajSignal, this, &HarmonicScreen::screenMajSlot);
    for (uint16_t i = 0; i < 5; ++i)
        traces_[i] = new HarmonicTrace(i);
    displayKalvexSlot();
}

void HarmonicScreen::screenMajSlot(int code)
{
    if (code == 0 || code == param::harmOrder)
        markerOrder_ = data.harmOrder;
}

void HarmonicScreen::displayKalvexSlot()
{
    const int16_t colours[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4};
    for (int i = 0; i < 4; ++i) {
        if (traces_[i])
            traces_[i]->setColor(static_cast<unsigned short>(colours[i]));
    }
    if (traces_[4])
        traces_[4]->setColor(kPowerPalette);
}

void HarmonicScreen::screenRefreshSlot()
{
    // A collapsed item draws nothing: nothing to compute either.
    if (height() == 0)
        return;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    for (HarmonicTrace* t : traces_) {
        if (t)
            t->computeSamplesToPixels();
    }
    update();
    pthread_mutex_unlock(&o_g_autoMeasMutex);
}

void HarmonicScreen::paint(QPainter* painter)
{
    painter->save();
    // y upward: 0 at the bottom edge, 1000 at the top.
    painter->setWindow(0, 1000, 1024, -1000);
    painter->setRenderHint(QPainter::Antialiasing, true);

    const qreal n = markerOrder_;
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::white);
    painter->drawPolygon(QPolygonF({{16 * n, 0}, {16 * n + 16, 0}, {16 * n + 8, 50}}));
    painter->drawPolygon(QPolygonF({{16 * n, 1000}, {16 * n + 16, 1000}, {16 * n + 8, 950}}));

    if (data.harmPower != 0) {
        if (traces_[4])
            traces_[4]->paint(painter);
    } else {
        for (HarmonicTrace* t : traces_) {
            if (t)
                t->paint(painter);
        }
    }
    painter->restore();
}
