#include "ui/traces/cursorvertical.h"

#include "core/gest_db.h"
#include "ui/traces/zoomguard.h"

#include <QPainter>

#include <algorithm>

CursorVertical::CursorVertical(unsigned short identity, int32_t x)
    : Cursor(identity)
{
    switch (identity) {
    case 0x8002:
        label_ = QStringLiteral("T2");
        request_.code = param::cursor2Time;
        break;
    case 0x8004:
        label_ = QStringLiteral("Ph");
        request_.code = param::cursor3Time;
        break;
    default:
        label_ = QStringLiteral("T1");
        request_.code = param::cursor1Time;
        break;
    }
    x_ = x;
    y_ = 0;
}

void CursorVertical::paint(QPainter& painter)
{
    if (!visible_)
        return;
    paintLine(painter, QPoint(x_, 0), QPoint(x_, 1000), QPoint(x_ + 10, 950));
}

bool CursorVertical::isNear(QPoint& p)
{
    if (!visible_)
        return false;
    const int64_t d = static_cast<int64_t>(p.x()) - x_;
    return d * d < 400;
}

int32_t CursorVertical::timeFromX(int32_t x, bool zoomed, int32_t windowPosition, float windowWidth) const
{
    if (zoomed && followsTimeZoom_) {
        const float width = usableZoomWidth(windowWidth);
        return clampToInt32(static_cast<int64_t>(windowPosition) +
                            truncToInt32(static_cast<float>(x) * width * 2500.0f / 1000.0f));
    }
    return clampToInt32(static_cast<int64_t>(x) * 100);
}

int32_t CursorVertical::xFromTime(int32_t time, bool zoomed, int32_t windowPosition, float windowWidth)
{
    int32_t x;
    if (zoomed) {
        const float width = usableZoomWidth(windowWidth);
        x = truncToInt32(static_cast<float>(static_cast<int64_t>(time) - windowPosition) / width * 1000.0f /
                         2500.0f);
    } else {
        x = static_cast<int32_t>(static_cast<int64_t>(time) * 1000 / 100000);
    }
    return std::clamp(x, 5, 995);
}

void CursorVertical::setPositionFromMouse(QPoint& p)
{
    x_ = p.x();
    setupPosition_[0] = timeFromX(p.x(), data.zoomState == 2, data.horizPosition, data.zoomWidth);
}

void CursorVertical::setPositionFromSetup(QPoint& v)
{
    setupPosition_[0] = v.x();
    setupPosition_[1] = v.y();
    x_ = xFromTime(v.x(), followsTimeZoom_ && data.zoomState == 2, data.horizPosition, data.zoomWidth);
}

void CursorVertical::sendRequest()
{
    post(setupPosition_[0]);
}
