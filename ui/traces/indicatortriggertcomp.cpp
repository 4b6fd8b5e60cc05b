#include "ui/traces/indicatortriggertcomp.h"

#include "ui/traces/zoomguard.h"

const short IndicatorTriggerTComp::ts_c_normalMotif[] = {1, 14, 250, 14, 750};
const short IndicatorTriggerTComp::ts_c_maxMotif[] = {2, 30, 150, 16, 20, 30, 150, 16, 280};
const short IndicatorTriggerTComp::ts_c_minMotif[] = {2, 0, 150, 14, 20, 0, 150, 14, 280};

IndicatorTriggerTComp::IndicatorTriggerTComp()
{
    title_.clear();
    pen_.setWidth(5);
}

void IndicatorTriggerTComp::paint(QPainter& painter)
{
    if (!visible_)
        return;
    paintFlag(painter, false, false);
}

void IndicatorTriggerTComp::setPositionFromMouse(QPoint& p)
{
    x_ = p.x();
    value_ = clampToInt32(-100 * static_cast<int64_t>(p.x()));
}

void IndicatorTriggerTComp::setPositionFromSetup(int value, int)
{
    value_ = value;
    x_ = value / -100;
}

void IndicatorTriggerTComp::getIndicPos(int* x0, int* y0, short const** symbol)
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
