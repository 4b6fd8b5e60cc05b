// Trigger position (sweepOffset) on the bottom edge of the time display.
#pragma once

#include "ui/traces/indicator.h"

class IndicatorTriggerT : public Indicator {
public:
    static const short ts_c_normalMotif[];
    static const short ts_c_maxMotif[];
    static const short ts_c_minMotif[];
    static constexpr int32_t kLowerBound = -92800;

    IndicatorTriggerT();

    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(int value, int extra) override;
    void getIndicPos(int* x0, int* y0, short const** symbol) override;
    QPoint getTitlePos() override;
};
