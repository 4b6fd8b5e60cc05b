// Touch overlay of the viewer's time display: T1, V1, V2 and the zero lines of its channels.
#pragma once

#include "ui/traces/indicscreen.h"

class ViewerIndicScreen : public IndicScreen {
    Q_OBJECT

public:
    explicit ViewerIndicScreen(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F,
                               int x = 0, int y = 0, int width = 0, int height = 0);
    ~ViewerIndicScreen() override;

    void cursorsInit(unsigned short state, unsigned short channelBits) override;

public slots:
    void screenMajSlot(int parameter) override;
    // Places the manual cursors from the cursor table.
    virtual void screenManualMeasurementSlot();

protected:
    void setVisibleIndics() override;
    void placementStep();
    // Trigger-position flag (slot 8) from sweepOffset, when present.
    void placeTriggerPosition();
};
