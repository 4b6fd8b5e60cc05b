#include "ui/traces/loggercursorvertical.h"

#include <algorithm>

LoggerCursorVertical::LoggerCursorVertical(unsigned short identity, int32_t x)
    : CursorVertical(identity, x)
{
}

void LoggerCursorVertical::setPositionFromMouse(QPoint& p)
{
    x_ = p.x();
    // The right edge (x 1000) would address point 100000, one past the record.
    const int64_t point = static_cast<int64_t>(p.x()) * 2500 / 1000 + kFirstPoint;
    setupPosition_[0] = static_cast<int32_t>(std::clamp<int64_t>(point, kFirstPoint, 99999));
}

void LoggerCursorVertical::setPositionFromSetup(QPoint& v)
{
    setupPosition_[0] = v.x();
    setupPosition_[1] = v.y();
    const int64_t x = (static_cast<int64_t>(v.x()) - kFirstPoint) * 1000 / 2500;
    x_ = static_cast<int32_t>(std::clamp<int64_t>(x, 5, 995));
}
