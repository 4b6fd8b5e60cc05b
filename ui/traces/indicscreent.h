// Touch overlay of the scope's time display: T1, T2, Ph, V1, V2, the automatic cursors A and B,
// the zero lines, trigger levels and trigger position of its channels, and the time zoom.
#pragma once

#include "ui/traces/viewerindicscreen.h"

struct mesures;

class IndicScreenT : public ViewerIndicScreen {
    Q_OBJECT

public:
    explicit IndicScreenT(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                          int y = 0, int width = 0, int height = 0);
    ~IndicScreenT() override;

    // Points (time, code) of the automatic cursors A and B for a measurement identifier (without
    // its channel bits) from a record. False for identifiers that place nothing. `reference` is
    // the trace's zero code, used by the RMS groups.
    static bool automaticCursorPoints(unsigned short identifier, const mesures& record, int32_t tm,
                                      int32_t reference, QPoint* a, QPoint* b);

public slots:
    void screenMajSlot(int parameter) override;
    // Automatic cursors A and B of the selected automatic measurement.
    void screenRefreshSlot();

protected:
    void setVisibleIndics() override;

private:
    void placeZeroLine(int channel);
    void placeTriggerLevel(int channel);
    void setCouplingModel(int channel);
};
