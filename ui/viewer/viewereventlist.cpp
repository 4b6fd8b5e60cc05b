#include "ui/viewer/viewereventlist.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "ui/frame/homeview.h"
#include "ui/traces/zoomarea.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kColumns = 3;
constexpr int kColumnWidth = 190;
constexpr int kRowHeight = 22;
constexpr int32_t kLevelMirror = 1048512;
constexpr float kHalfWindow = 1250.0f;
// The last 2500 samples: a window never runs past the record.
constexpr int32_t kLastWindow = 97500;
constexpr int kDragPixels = 12;

void post(int32_t code, intptr_t value, intptr_t aux = 0)
{
    pipe_dial request{REQ_SET_PARAM, code, aux, value, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

int entryIndex(const QString& entry)
{
    return entry.mid(entry.lastIndexOf(QLatin1Char('|')) + 1).toInt();
}

} // namespace

ViewerEventList::ViewerEventList(QQuickItem* parent)
    : QQuickPaintedItem(parent), background_(Qt::lightGray), pen_(Qt::black)
{
    font_.setPointSize(12);
    setAcceptedMouseButtons(Qt::AllButtons);
    if (HomeView* home = po_g_homeView)
        screenMaj_ = connect(home, &HomeView::screenMajSignal, this, &ViewerEventList::screenMajSlot);
}

ViewerEventList::~ViewerEventList()
{
    disconnect(screenMaj_);
}

void ViewerEventList::displayEventList(QStringList events)
{
    events_ = std::move(events);
    topRow_ = 0;
    firstIndex_ = 0;
    selectedCell_ = 0;
    lastTopRow_ = static_cast<int16_t>(events_.size() / kColumns);
    emit eventSelectedChanged(0);
    displayEvent();
}

void ViewerEventList::screenMajSlot(int) {}

void ViewerEventList::paint(QPainter* painter)
{
    painter->fillRect(QRectF(0, 0, width(), height()), background_.lighter(150));
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setFont(font_);
    painter->setPen(pen_);
    int x = 10;
    int y = 27;
    for (int i = firstIndex_; i < events_.size(); ++i) {
        const QString& e = events_.at(i);
        painter->drawText(x, y, e.left(e.lastIndexOf(QLatin1Char('|'))));
        x += kColumnWidth;
        if (x > 569) {
            x = 10;
            y += kRowHeight;
        }
    }
    if (!events_.isEmpty()) {
        const int row = selectedCell_ / kColumns;
        const int column = selectedCell_ % kColumns;
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRect(QPoint(kColumnWidth * column + 5, kRowHeight * row + 10),
                                QPoint(kColumnWidth * column + 194, kRowHeight * row + 31)));
    }
}

void ViewerEventList::mousePressEvent(QMouseEvent* event)
{
    pressY_ = static_cast<int16_t>(std::lround(event->localPos().y()));
    event->accept();
}

void ViewerEventList::mouseReleaseEvent(QMouseEvent* event)
{
    const int x = static_cast<int>(std::lround(event->localPos().x()));
    const int y = static_cast<int>(std::lround(event->localPos().y()));
    const int dy = y - pressY_;
    if (std::abs(dy) >= kDragPixels) {
        // Dragging upwards shows later rows.
        topRow_ = static_cast<int16_t>(std::clamp(topRow_ - dy / kRowHeight, 0, static_cast<int>(lastTopRow_)));
        firstIndex_ = static_cast<int16_t>(topRow_ * kColumns);
        selectedCell_ = 0;
        emit eventSelectedChanged(firstIndex_);
        displayEvent();
        update();
        return;
    }
    const int column = std::clamp((x - 10) / kColumnWidth, 0, kColumns - 1);
    const int row = (y - 5) / kRowHeight;
    int cell = row > 10 ? 33 + column : std::max(row, 0) * kColumns + column;
    int index = firstIndex_;
    if (events_.isEmpty()) {
        cell = 0;
    } else {
        index = firstIndex_ + cell;
        // Below the last entry: the last entry.
        if (index >= events_.size()) {
            cell = events_.size() - firstIndex_ - 1;
            index = events_.size() - 1;
        }
    }
    selectedCell_ = static_cast<int16_t>(cell);
    emit eventSelectedChanged(index);
    displayEvent();
}

void ViewerEventList::displayEvent()
{
    const int index = firstIndex_ + selectedCell_;
    if (index >= 0 && index < events_.size()) {
        const int sample = entryIndex(events_.at(index));
        // One record per post: the controller copies it when it takes the request.
        static TZoomRecordRing ring;
        TZoomRect* zoom = ring.next();
        const float left = static_cast<float>(sample) - kHalfWindow;
        const int32_t position = left > 0.0f ? std::min(static_cast<int32_t>(left), kLastWindow) : 0;
        *zoom = TZoomRect{data.vZoomFactor, data.vZoomPosition, 1.0f, position};
        post(param::zoomState, 4, reinterpret_cast<intptr_t>(zoom));
        post(param::cursorState, 1);
        post(param::cursor1Time, sample);
        post(param::cursor1Level, static_cast<int32_t>(static_cast<uint32_t>(kLevelMirror)
                                                        - static_cast<uint32_t>(data.eventLevel1)));
        post(param::cursor2Level, static_cast<int32_t>(static_cast<uint32_t>(kLevelMirror)
                                                        - static_cast<uint32_t>(data.eventLevel2)));
        // Any other source (the web service posts any value) is channel 1's.
        const int source = data.eventSource >= 0 && data.eventSource <= 3 ? data.eventSource : 0;
        post(param::measRefChannel, intptr_t{1} << source);
    }
    update();
}
