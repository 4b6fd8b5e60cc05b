// Zero line of a channel used as X in the XY display: the flag sits on the bottom edge.
#pragma once

#include "ui/traces/indicator0v.h"

class Indicator0V_X : public Indicator0V {
public:
    static const short ts_c_normalMotif[];
    static const short ts_c_maxMotif[];
    static const short ts_c_minMotif[];

    explicit Indicator0V_X(unsigned short kind);

    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(int value, int extra) override;
    void getIndicPos(int* x0, int* y0, short const** symbol) override;
};
