#include "ui/traces/automeaschannel.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "ui/frame/homeview.h"
#include "ui/frame/zinccolor.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kColumns = 5;
constexpr int kColumnStep = 135;
constexpr int kRowStep = 22;
constexpr int kFirstX = 10;
// Three pixels below the title strip, so that the title never touches the first row; the
// selection and the presses follow the rows.
constexpr int kRowShift = 3;
constexpr int kFirstBaseline = 27 + kRowShift;
// A text keeps this much of its column free before the next one starts.
constexpr int kColumnGap = 6;
constexpr int kSmallestPointSize = 7;

void post(int32_t code, intptr_t value)
{
    pipe_dial request{REQ_SET_PARAM, code, 0, value, 0.0f, senderValue(MENU_id)};
    // A full box drops the request: the next visibility change posts again.
    o_g_consMessageBox.send(&request);
}

// Channel number 1..4 of a one-bit reference mask, 0 for anything else.
int channelNumber(int mask)
{
    switch (mask) {
    case 1: return 1;
    case 2: return 2;
    case 4: return 3;
    case 8: return 4;
    default: return 0;
    }
}
} // namespace

AutoMeasChannel::AutoMeasChannel(QQuickItem* parent)
    : QQuickPaintedItem(parent), color_(Qt::lightGray), pen_(Qt::black), worker_(new AutomeasComputeThread)
{
    font_.setPointSize(12);
    setAcceptedMouseButtons(Qt::AllButtons);
    connect(this, &QQuickItem::opacityChanged, this, &AutoMeasChannel::opacityChangedSlot);
}

AutoMeasChannel::~AutoMeasChannel()
{
    disconnect(this, &QQuickItem::opacityChanged, this, &AutoMeasChannel::opacityChangedSlot);
    connectRoot(false);
    delete worker_;  // stops its thread, which writes list_
    worker_ = nullptr;
}

QStringList AutoMeasChannel::measurementList() const
{
    pthread_mutex_lock(&o_g_autoMeasMutex);
    QStringList copy = list_;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    return copy;
}

void AutoMeasChannel::connectRoot(bool on)
{
    HomeView* view = po_g_homeView;
    if (on) {
        if (view != nullptr) {
            connect(view, &HomeView::screenRefreshSignal, this, &AutoMeasChannel::screenAutomaticMeasurementSlot,
                    Qt::UniqueConnection);
            connect(view, &HomeView::screenManualMeasurementSignal, this,
                    &AutoMeasChannel::screenAutomaticMeasurementSlot, Qt::UniqueConnection);
            connect(view, &HomeView::screenMajSignal, this, &AutoMeasChannel::screenMajSlot, Qt::UniqueConnection);
        }
        connect(worker_, &AutomeasComputeThread::measReadySignal, this, &AutoMeasChannel::screenRefreshSlot,
                Qt::UniqueConnection);
    } else {
        if (view != nullptr) {
            disconnect(view, &HomeView::screenRefreshSignal, this, &AutoMeasChannel::screenAutomaticMeasurementSlot);
            disconnect(view, &HomeView::screenManualMeasurementSignal, this,
                       &AutoMeasChannel::screenAutomaticMeasurementSlot);
            disconnect(view, &HomeView::screenMajSignal, this, &AutoMeasChannel::screenMajSlot);
        }
        if (worker_ != nullptr)
            disconnect(worker_, &AutomeasComputeThread::measReadySignal, this, &AutoMeasChannel::screenRefreshSlot);
    }
}

void AutoMeasChannel::opacityChangedSlot()
{
    // Only a change between hidden and shown counts: fades would flood the controller, and a box
    // created hidden must not reset the cursors.
    const bool shown = opacity() != 0.0;
    if (shown == shown_)
        return;
    shown_ = shown;
    post(param::cursorState, shown ? 3 : 0);
    connectRoot(shown);
    if (shown)
        screenMajSlot(0);
}

void AutoMeasChannel::screenMajSlot(int code)
{
    switch (code) {
    case 0: case 8: case 14: case 16: case 18: case 20: case 23: case 29: case 93:
        break;
    default:
        return;
    }
    static const char* const kMemoryTitles[4] = {QT_TR_NOOP("M1"), QT_TR_NOOP("M2"), QT_TR_NOOP("M3"),
                                                 QT_TR_NOOP("M4")};
    static const char* const kLiveTitles[4] = {QT_TR_NOOP("CH1"), QT_TR_NOOP("CH2"), QT_TR_NOOP("CH3"),
                                               QT_TR_NOOP("CH4")};
    const int n = channelNumber(data.measRefChannel);
    if (n == 0) {
        title_ = QStringLiteral("x");
        color_ = QColor(Qt::lightGray);
    } else {
        const unsigned flags = data.channelFlags;
        const int16_t colours[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4};
        title_ = tr((flags & (0x100u << (n - 1))) ? kMemoryTitles[n - 1] : kLiveTitles[n - 1]);
        color_ = (flags & (0x101u << (n - 1))) ? getZincColor(static_cast<unsigned short>(colours[n - 1]))
                                                : QColor(Qt::lightGray);
    }
    emit titleChanged();
    update();
}

void AutoMeasChannel::screenAutomaticMeasurementSlot()
{
    int channel = data.measRefChannel;
    if (channelNumber(channel) == 0)
        channel = 1;
    worker_->compute(static_cast<unsigned short>(channel), &list_);
}

void AutoMeasChannel::screenRefreshSlot()
{
    update();
    emit measurementListChanged();
}

void AutoMeasChannel::paint(QPainter* painter)
{
    layout_.begin();
    painter->setRenderHint(QPainter::Antialiasing, true);
    const QStringList texts = measurementList();
    // A long text ("Vrms cyc: 868 mV") would run into the next column: the font shrinks until
    // the widest one fits.
    QFont font = font_;
    auto widest = [&](const QFont& f) {
        const QFontMetricsF metrics(f, painter->device());
        qreal w = 0;
        for (const QString& text : texts)
            w = std::max(w, metrics.horizontalAdvance(text));
        return w;
    };
    while (font.pointSize() > kSmallestPointSize && widest(font) > kColumnStep - kColumnGap)
        font.setPointSize(font.pointSize() - 1);
    painter->setFont(font);
    painter->setPen(pen_);
    layout_.fill(painter, QRectF(0, 0, width(), height()), color_.lighter(150));
    int x = kFirstX;
    int y = kFirstBaseline;
    for (const QString& text : texts) {
        layout_.text(painter, QPointF(x, y), text);
        if (x > 539) {
            x = kFirstX;
            y += kRowStep;
        } else {
            x += kColumnStep;
        }
    }
    if (selected_ >= 0) {
        const int column = selected_ % kColumns;
        const int row = selected_ / kColumns;
        painter->drawRect(QRect(QPoint(kColumnStep * column + 5, kRowStep * row + 10 + kRowShift),
                                QPoint(kColumnStep * column + 139, kRowStep * row + 31 + kRowShift)));
    }
}

void AutoMeasChannel::mousePressEvent(QMouseEvent* event)
{
    const int x = qRound(event->localPos().x());
    const int y = qRound(event->localPos().y());
    const int column = std::clamp((x - kFirstX) / kColumnStep, 0, kColumns - 1);
    const int row = std::clamp((y - 5 - kRowShift) / kRowStep, 0, 3);
    selected_ = static_cast<int16_t>(column + kColumns * row);
    post(param::indicatorMask, tus_g_measId[selected_] | data.measRefChannel);
    update();
    event->accept();
}
