#include "ui/traces/cursorautomatic.h"

#include "core/gest_db.h"
#include "ui/traces/zoomguard.h"

#include <QPainter>

#include <algorithm>

CursorAutomatic::CursorAutomatic(unsigned short identity, int32_t x, int32_t y)
    : Cursor(identity)
{
    label_ = identity == 0x2040 ? QStringLiteral("B") : QStringLiteral("A");
    x_ = x;
    y_ = y;
    pen_.setStyle(Qt::SolidLine);
}

void CursorAutomatic::paint(QPainter& painter)
{
    if (!visible_)
        return;
    QPen pen = pen_;
    pen.setColor(Qt::lightGray);
    painter.setPen(pen);
    // A cross with a gap of 10 units around the point.
    painter.drawLine(QPoint(std::max(x_ - 50, 0), y_), QPoint(std::max(x_ - 10, 0), y_));
    painter.drawLine(QPoint(std::min(x_ + 10, 1000), y_), QPoint(std::min(x_ + 50, 1000), y_));
    painter.drawLine(QPoint(x_, std::max(y_ - 50, 0)), QPoint(x_, std::max(y_ - 10, 0)));
    painter.drawLine(QPoint(x_, std::min(y_ + 10, 1000)), QPoint(x_, std::min(y_ + 50, 1000)));
    painter.setFont(font_);
    pen.setColor(labelColor_);
    painter.setPen(pen);
    painter.drawText(QPoint(x_ + 10, y_ - 10), label_);
}

bool CursorAutomatic::isNear(QPoint&)
{
    return false;
}

void CursorAutomatic::setPositionFromMouse(QPoint&)
{
}

void CursorAutomatic::setPositionFromSetup(QPoint& v)
{
    setupPosition_[0] = v.x();
    setupPosition_[1] = v.y();
    if (data.zoomState == 2) {
        const float width = usableZoomWidth(data.zoomWidth);
        x_ = truncToInt32(static_cast<float>(static_cast<int64_t>(v.x()) - data.horizPosition) /
                          (width * 2500.0f / 1000.0f));
    } else {
        x_ = v.x() / 100;
    }
    const int32_t code = v.y() & 0xFFFFF;
    y_ = 1000 - (code - 393216) * 1000 / 262080;
}

void CursorAutomatic::sendRequest()
{
}
