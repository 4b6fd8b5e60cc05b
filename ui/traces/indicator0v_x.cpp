#include "ui/traces/indicator0v_x.h"

#include "ui/traces/zoomguard.h"

const short Indicator0V_X::ts_c_normalMotif[] = {1, 14, 0, 14, 25};
const short Indicator0V_X::ts_c_maxMotif[] = {3, 0, 25, 30, 25, 30, 25, 16, 13, 30, 25, 16, 37};
const short Indicator0V_X::ts_c_minMotif[] = {3, 0, 25, 30, 25, 0, 25, 14, 13, 0, 25, 14, 37};

Indicator0V_X::Indicator0V_X(unsigned short kind)
    : Indicator0V(kind)
{
    x_ = 500;
    y_ = 0;
}

void Indicator0V_X::setPositionFromMouse(QPoint& p)
{
    x_ = p.x();
    value_ = truncToInt32(500.0f - (static_cast<float>(zoomPosition_) + 1000.0f - static_cast<float>(p.x())) / factor());
}

void Indicator0V_X::setPositionFromSetup(int value, int)
{
    value_ = value;
    x_ = clampToInt32(1000 - static_cast<int64_t>(truncToInt32(static_cast<float>(500 - static_cast<int64_t>(value)) *
                                                                   factor() -
                                                               static_cast<float>(zoomPosition_))));
}

void Indicator0V_X::getIndicPos(int* x0, int* y0, short const** symbol)
{
    *y0 = y_;
    if (x_ > 1000) {
        *x0 = 959;
        *symbol = ts_c_maxMotif;
    } else if (x_ < 0) {
        *x0 = 0;
        *symbol = ts_c_minMotif;
    } else {
        *x0 = x_ - 14;
        *symbol = ts_c_normalMotif;
    }
}
