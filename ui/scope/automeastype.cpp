#include "ui/scope/automeastype.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "ui/frame/homeview.h"
#include "ui/frame/zinccolor.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <sched.h>

namespace {

// Channel bits of the four columns.
constexpr unsigned short kChannelBit[AutomeasType::kColumns] = {1, 2, 4, 8};
constexpr int kLastLine = kAutoMeasCount - 1;
// measRefChannel value that makes the acquisition measure every channel.
constexpr int32_t kAllChannels = 0x1FFF;

void post(int32_t code, intptr_t value)
{
    pipe_dial request{REQ_SET_PARAM, code, 0, value, 0.0f, senderValue(MENU_id)};
    // A full box drops the request; the table has nothing better to do.
    o_g_consMessageBox.send(&request);
}

// Locks o_g_autoMeasMutex for one scope.
struct TMeasLock {
    TMeasLock() { pthread_mutex_lock(&o_g_autoMeasMutex); }
    ~TMeasLock() { pthread_mutex_unlock(&o_g_autoMeasMutex); }
    TMeasLock(const TMeasLock&) = delete;
    TMeasLock& operator=(const TMeasLock&) = delete;
};

} // namespace

AutomeasType::AutomeasType(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , pen_(Qt::black)
{
    for (QColor& c : colours_)
        c = QColor(Qt::lightGray);
    font_.setPointSize(12);
    for (AutomeasComputeThread*& w : workers_)
        w = new AutomeasComputeThread();
    setAcceptedMouseButtons(Qt::AllButtons);
    setAntialiasing(true);
    connect(this, &QQuickItem::opacityChanged, this, &AutomeasType::opacityChangedSlot);
}

AutomeasType::~AutomeasType()
{
    disconnect(this, &QQuickItem::opacityChanged, this, &AutomeasType::opacityChangedSlot);
    // Each worker stops and waits for its pass before the lists it writes go.
    for (AutomeasComputeThread*& w : workers_) {
        delete w;
        w = nullptr;
    }
}

QStringList AutomeasType::list(int column) const
{
    if (column < 0 || column >= kColumns)
        return QStringList();
    TMeasLock lock;
    return lists_[column];
}

void AutomeasType::connectAll(bool on)
{
    using Changed = void (AutomeasType::*)();
    const Changed changed[kColumns] = {&AutomeasType::measurementListCh1Changed,
                                       &AutomeasType::measurementListCh2Changed,
                                       &AutomeasType::measurementListCh3Changed,
                                       &AutomeasType::measurementListCh4Changed};
    for (int i = 0; i < kColumns; ++i) {
        if (on) {
            connect(workers_[i], &AutomeasComputeThread::measReadySignal, this, changed[i], Qt::UniqueConnection);
            connect(workers_[i], &AutomeasComputeThread::measReadySignal, this, &AutomeasType::screenRefreshSlot,
                    Qt::UniqueConnection);
        } else {
            disconnect(workers_[i], &AutomeasComputeThread::measReadySignal, this, changed[i]);
            disconnect(workers_[i], &AutomeasComputeThread::measReadySignal, this, &AutomeasType::screenRefreshSlot);
        }
    }
    if (!po_g_homeView)
        return;
    if (on) {
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &AutomeasType::screenMajSlot, Qt::UniqueConnection);
        connect(po_g_homeView, &HomeView::screenRefreshSignal, this, &AutomeasType::screenAutomaticMeasurementSlot,
                Qt::UniqueConnection);
    } else {
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &AutomeasType::screenMajSlot);
        disconnect(po_g_homeView, &HomeView::screenRefreshSignal, this, &AutomeasType::screenAutomaticMeasurementSlot);
    }
}

void AutomeasType::opacityChangedSlot()
{
    // Fades change the opacity many times: only showing and hiding count.
    const bool visible = opacity() != 0;
    if (visible == shown_)
        return;
    shown_ = visible;
    connectAll(visible);
    if (visible)
        screenMajSlot(0);
    post(param::measRefChannel, visible ? kAllChannels : 1);
    post(param::cursorState, visible ? 3 : 0);
}

void AutomeasType::screenAutomaticMeasurementSlot()
{
    if (!shown_)
        return;
    for (int i = 0; i < kColumns; ++i) {
        if (i > 0)
            sched_yield();
        workers_[i]->compute(kChannelBit[i], &lists_[i]);
    }
}

void AutomeasType::screenMajSlot(int code)
{
    switch (code) {
    case 0:
        break;
    case 14: case 16: case 18: case 20: case 23: case 29: case 93: {
        const short colour[kColumns] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3,
                                        data.traceColorCh4};
        for (int n = 0; n < kColumns; ++n)
            colours_[n] = (data.channelFlags & (0x101u << n)) != 0
                ? getZincColor(static_cast<unsigned short>(colour[n]))
                : QColor(Qt::lightGray);
        break;
    }
    default:
        return;
    }
    update();
}

void AutomeasType::screenRefreshSlot()
{
    update();
}

void AutomeasType::paint(QPainter* painter)
{
    QStringList lists[kColumns];
    {
        TMeasLock lock;
        for (int i = 0; i < kColumns; ++i)
            lists[i] = lists_[i];
    }
    const qreal w = width();
    const int step = static_cast<int>(w / kColumns);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setFont(font_);
    painter->setPen(pen_);
    int x = 10;
    for (int n = 0; n < kColumns; ++n) {
        painter->fillRect(QRectF(n * w / kColumns, 0, w / kColumns, height()), colours_[n].lighter(150));
        int baseline = 27;
        for (int k = firstLine_; k < lists[n].size(); ++k, baseline += kLineHeight)
            painter->drawText(QPointF(x, baseline), lists[n][k]);
        x += step;
    }
}

void AutomeasType::mousePressEvent(QMouseEvent* event)
{
    pressY_ = static_cast<int16_t>(qRound(event->localPos().y()));
    event->accept();
}

void AutomeasType::mouseReleaseEvent(QMouseEvent* event)
{
    const int releaseY = qRound(event->localPos().y());
    const int moved = (releaseY - pressY_) / kLineHeight;
    firstLine_ = static_cast<int16_t>(std::clamp(firstLine_ - moved, 0, kLastLine));
    event->accept();
    update();
}
