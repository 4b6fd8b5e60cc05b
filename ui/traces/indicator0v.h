// Zero line (vertical position) of a channel on the left edge: offsetCh1-offsetCh4.
#pragma once

#include "ui/traces/indicator.h"

class Indicator0V : public Indicator {
public:
    static const short ts_c_normalMotif[];
    static const short ts_c_maxMotif[];
    static const short ts_c_minMotif[];

    // Kinds 0-3 live channels 1-4, 4-7 their memories; any other as 0.
    explicit Indicator0V(unsigned short kind);

    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(int value, int extra) override;
    void getIndicPos(int* x0, int* y0, short const** symbol) override;
    QPoint getTitlePos() override;

protected:
    // Channel index 0..3 of a kind.
    static int channelOfKind(unsigned short kind);
};
