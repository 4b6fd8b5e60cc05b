#include "ui/traces/cursorhorizontal.h"

#include "core/gest_db.h"
#include "ui/traces/zoomguard.h"

#include <QPainter>

#include <algorithm>

CursorHorizontal::CursorHorizontal(unsigned short identity, int32_t y)
    : Cursor(identity)
{
    if (identity == 0x4010) {
        label_ = QStringLiteral("V2");
        request_.code = param::cursor2Level;
    } else {
        label_ = QStringLiteral("V1");
        request_.code = param::cursor1Level;
    }
    x_ = 0;
    y_ = y;
}

void CursorHorizontal::paint(QPainter& painter)
{
    if (!visible_)
        return;
    paintLine(painter, QPoint(0, y_), QPoint(1000, y_), QPoint(900, y_ - 10));
}

bool CursorHorizontal::isNear(QPoint& p)
{
    if (!visible_)
        return false;
    const int64_t d = 1000 - static_cast<int64_t>(p.y()) - y_;
    return d * d < 900;
}

void CursorHorizontal::setPositionFromMouse(QPoint& p)
{
    y_ = 1000 - p.y();
    setupPosition_[1] = truncToInt32((1000.0f - static_cast<float>(p.y()) - static_cast<float>(offset_)) / scale_);
}

void CursorHorizontal::setPositionFromSetup(QPoint& v)
{
    setupPosition_[0] = v.x();
    setupPosition_[1] = v.y();
    y_ = std::clamp(truncToInt32(static_cast<float>(offset_) + static_cast<float>(v.y()) * scale_), 10, 990);
}

void CursorHorizontal::sendRequest()
{
    post(setupPosition_[1]);
}
