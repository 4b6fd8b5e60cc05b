#include "ui/traces/indicator0v.h"

#include "core/gest_db.h"
#include "ui/traces/zoomguard.h"

const short Indicator0V::ts_c_normalMotif[] = {1, 0, 25, 12, 25};
const short Indicator0V::ts_c_maxMotif[] = {2, 14, 0, 14, 50, 14, 50, 2, 25};
const short Indicator0V::ts_c_minMotif[] = {2, 14, 0, 14, 50, 14, 0, 2, 25};

int Indicator0V::channelOfKind(unsigned short kind)
{
    return kind <= 7 ? (kind & 3) : 0;
}

Indicator0V::Indicator0V(unsigned short kind)
{
    const int channel = channelOfKind(kind);
    const int16_t limits[4] = {max_par.offsetCh1, max_par.offsetCh2, max_par.offsetCh3, max_par.offsetCh4};
    parameter_ = static_cast<unsigned short>(param::offsetCh1 + channel);
    title_ = QString::number(channel + 1);
    lowerBound_ = -limits[channel];
    upperBound_ = limits[channel];
    x_ = 0;
    y_ = 500;
}

void Indicator0V::setPositionFromMouse(QPoint& p)
{
    y_ = 1000 - p.y();
    value_ = truncToInt32(500.0f - (static_cast<float>(zoomPosition_) + 1000.0f - static_cast<float>(p.y())) / factor());
}

void Indicator0V::setPositionFromSetup(int value, int)
{
    value_ = value;
    y_ = truncToInt32(static_cast<float>(500 - static_cast<int64_t>(value)) * factor() -
                      static_cast<float>(zoomPosition_));
}

void Indicator0V::getIndicPos(int* x0, int* y0, short const** symbol)
{
    *x0 = x_;
    if (y_ > 1000) {
        *y0 = 949;
        *symbol = ts_c_maxMotif;
    } else if (y_ < 0) {
        *y0 = 0;
        *symbol = ts_c_minMotif;
    } else {
        *y0 = y_ - 25;
        *symbol = ts_c_normalMotif;
    }
}

QPoint Indicator0V::getTitlePos()
{
    return QPoint(18, 35);
}
