// Touch overlay of the XY display: two X cursors, V1, V2, the Y and X zero lines of the four
// channels and the XY zoom.
#pragma once

#include "ui/traces/indicscreen.h"

class IndicScreenXy : public IndicScreen {
    Q_OBJECT

public:
    explicit IndicScreenXy(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                           int y = 0, int width = 0, int height = 0);
    ~IndicScreenXy() override;

    void cursorsInit(unsigned short state, unsigned short channelBits) override;

    // Channel bit that gives the cursor colour of an XY source byte; 0 (colour 15) for a source
    // outside 0..3.
    static unsigned short sourceChannelBit(int source);

public slots:
    void screenMajSlot(int parameter) override;
    void screenManualMeasurementSlot();

protected:
    void setVisibleIndics() override;

private:
    void colourXCursors();
    void colourVCursors();
    void placeZeroLines(int channel);
    void zoomY();
    void zoomX();
};
