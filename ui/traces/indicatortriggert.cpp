#include "ui/traces/indicatortriggert.h"

#include "core/gest_db.h"
#include "ui/frame/zinccolor.h"
#include "ui/traces/zoomguard.h"

const short IndicatorTriggerT::ts_c_normalMotif[] = {1, 14, 0, 14, 25};
const short IndicatorTriggerT::ts_c_maxMotif[] = {3, 0, 25, 30, 25, 30, 25, 16, 13, 30, 25, 16, 37};
const short IndicatorTriggerT::ts_c_minMotif[] = {3, 0, 25, 30, 25, 0, 25, 14, 13, 0, 25, 14, 37};

IndicatorTriggerT::IndicatorTriggerT()
{
    parameter_ = param::sweepOffset;
    title_ = QStringLiteral("T");
    lowerBound_ = kLowerBound;
    upperBound_ = max_par.sweepOffset;
    fillColor_ = getZincColor(8);
    visible_ = true;
    x_ = 500;
    y_ = 0;
}

void IndicatorTriggerT::setPositionFromMouse(QPoint& p)
{
    x_ = p.x();
    const int32_t points = truncToInt32(static_cast<float>(p.x()) * usableZoomWidth(data.zoomWidth) / 40.0f);
    value_ = clampToInt32(-100 * static_cast<int64_t>(points) - data.horizPosition);
}

void IndicatorTriggerT::setPositionFromSetup(int value, int)
{
    value_ = value;
    const int32_t scaled = truncToInt32(static_cast<float>(static_cast<int64_t>(value) + data.horizPosition) *
                                        40.0f / usableZoomWidth(data.zoomWidth));
    x_ = scaled / -100;
}

void IndicatorTriggerT::getIndicPos(int* x0, int* y0, short const** symbol)
{
    *y0 = y_;
    const int corner = x_ - 12;
    if (corner > 1000) {
        *x0 = 959;
        *symbol = ts_c_maxMotif;
    } else if (corner < 0) {
        *x0 = 0;
        *symbol = ts_c_minMotif;
    } else {
        *x0 = corner;
        *symbol = ts_c_normalMotif;
    }
}

QPoint IndicatorTriggerT::getTitlePos()
{
    return QPoint(18, 35);
}
