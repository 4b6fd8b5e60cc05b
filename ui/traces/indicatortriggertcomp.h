// Trigger mark of the compressed view: the symbol alone, drawn over the whole record.
#pragma once

#include "ui/traces/indicatortriggert.h"

class IndicatorTriggerTComp : public IndicatorTriggerT {
public:
    static const short ts_c_normalMotif[];
    static const short ts_c_maxMotif[];
    static const short ts_c_minMotif[];

    IndicatorTriggerTComp();

    void paint(QPainter& painter) override;
    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(int value, int extra) override;
    void getIndicPos(int* x0, int* y0, short const** symbol) override;
};
