#include "ui/traces/indicscreencomp.h"

#include "core/files.h"
#include "core/gest_db.h"
#include "ui/traces/cursor.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicator.h"
#include "ui/traces/zoomareatcomp.h"
#include "ui/traces/zoomguard.h"

#include <QMouseEvent>

#include <algorithm>
#include <cmath>

IndicScreenComp::IndicScreenComp(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                                 int height)
    : IndicScreen(parent, channelMask, x, y, width, height)
{
    if (home_)
        homeConnections_.push_back(connect(home_.data(), &HomeView::screenManualMeasurementSignal, this,
                &IndicScreenComp::screenManualMeasurementSlot));
}

IndicScreenComp::~IndicScreenComp()
{
}

int IndicScreenComp::pressX(qreal px) const
{
    const int w = static_cast<int>(width());
    if (w <= 0)
        return 0;
    const double scaled = static_cast<double>(std::llround(px)) * 1000.0 / w;
    return static_cast<int>(std::clamp(std::trunc(scaled), -1.0e9, 1.0e9));
}

void IndicScreenComp::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    beginPress();
    lastX_ = pressX(event->localPos().x());
    if (auto* area = dynamic_cast<ZoomAreaTComp*>(zoomArea_))
        area->forgetPosted();
}

void IndicScreenComp::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!pressPending_ || event->localPos().x() < 0.0 || event->localPos().y() < 0.0 || !zoomArea_)
        return;
    const int x = pressX(event->localPos().x());
    // With the whole record shown there is no window to move.
    if (!zoomArea_->rect().isEmpty()) {
        zoomArea_->rect().translate(x - lastX_, 0);
        if (auto* area = dynamic_cast<ZoomAreaTComp*>(zoomArea_))
            area->postMove();
        else
            zoomArea_->sendRequest();
        update();
    }
    lastX_ = x;
}

void IndicScreenComp::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!pressPending_)
        return;
    // A move whose post the full box refused is made good here.
    if (auto* area = dynamic_cast<ZoomAreaTComp*>(zoomArea_))
        if (!area->rect().isEmpty())
            area->postMove();
    endPress();
}

void IndicScreenComp::mouseUngrabEvent()
{
    if (!pressPending_)
        return;
    // The window stays where the finger left it.
    if (auto* area = dynamic_cast<ZoomAreaTComp*>(zoomArea_))
        if (!area->rect().isEmpty())
            area->postMove();
    endPress();
}

void IndicScreenComp::screenManualMeasurementSlot()
{
    // Over the whole record: the cursors do not follow the time zoom.
    for (int slot = 0; slot < 3; ++slot)
        if (cursors_[slot])
            cursors_[slot]->setFollowsTimeZoom(false);
    static const int kWords[5][2] = {{0, -1}, {1, -1}, {4, -1}, {-1, -1}, {-1, -1}};
    if (!followsRecording_) {
        placeFromCursorTable(kWords);
        return;
    }
    // Over the recording's span: a time becomes the record position its pixel has on a strip of
    // the whole record.
    const TViewerSpan span = ViewerSpan();
    const int32_t* table = setupLinks().cursorTablePtr;
    if (table)
        for (int slot = 0; slot < 3; ++slot)
            if (cursors_[slot]) {
                const double t = static_cast<double>(table[kWords[slot][0]]) - span.start;
                const double whole = std::clamp(t * 100000.0 / std::max<uint32_t>(span.samples, 1), -1.0e9, 1.0e9);
                QPoint v(static_cast<int>(whole), 0);
                cursors_[slot]->setPositionFromSetup(v);
            }
    update();
}

void IndicScreenComp::setVisibleIndics()
{
    if (indicators_[9])
        indicators_[9]->setVisible(true);
    update();
}

void IndicScreenComp::showWindow()
{
    const TViewerSpan span = followsRecording_ ? ViewerSpan() : TViewerSpan{0, 100000};
    const bool whole = span.start == 0 && span.samples == 100000;
    if (auto* area = dynamic_cast<ZoomAreaTComp*>(zoomArea_))
        area->setSpan(span.start, span.samples);
    if (zoomArea_ && !whole) {
        // The window over the recording's span, cut to the strip.
        const double width = usableZoomWidth(data.zoomWidth);
        const double perPixel = std::max<uint32_t>(span.samples, 1) / 1000.0;
        const double left = (static_cast<double>(data.horizPosition) - span.start) / perPixel;
        const double right = left + width * 2500.0 / perPixel - 1.0;
        const int l = static_cast<int>(std::clamp(std::floor(left), 0.0, 999.0));
        const int r = static_cast<int>(std::clamp(std::floor(right), static_cast<double>(l), 999.0));
        if (width < 40.0 && !(l == 0 && r == 999))
            zoomArea_->setRect(QRect(QPoint(l, 0), QPoint(r, 999)));
        else
            zoomArea_->reset();
    } else if (zoomArea_) {
        const float width = usableZoomWidth(data.zoomWidth);
        if (width < 40.0f) {
            const int left = data.horizPosition / 100;
            const int right = left + truncToInt32(width * 1000.0f / 40.0f) - 1;
            zoomArea_->setRect(QRect(QPoint(left, 0), QPoint(right, 999)));
        } else {
            zoomArea_->reset();
        }
    }
    if (indicators_[9])
        indicators_[9]->setPositionFromSetup(data.sweepOffset, 0);
    for (Cursor* cursor : cursors_)
        if (cursor)
            cursor->setZoom(data.vZoomFactor, data.vZoomPosition);
}

void IndicScreenComp::screenMajSlot(int parameter)
{
    switch (parameter) {
    case 27:   // autoset
    case 29:   // layout
    case 73:   // traceFormat
    case 142:  // split layout
        setZoomArea(new ZoomAreaTComp);
        displayKalvexSlot();
        setVisibleIndics();
        cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
        screenManualMeasurementSlot();
        showWindow();
        break;
    case 5:    // sweepOffset
    case 13:   // horizPosition
    case 36:   // zoomWidth
    case 61:   // zoomState
    case 121:  // timeBaseIndex
        showWindow();
        break;
    case 93:   // cursorState
    case 112:  // trigSource
    case 174:  // qualifSource
        setVisibleIndics();
        cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
        screenManualMeasurementSlot();
        break;
    case 0:
        break;
    default:
        return;
    }
    update();
}
