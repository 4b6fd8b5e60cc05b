// Touch overlay of the FFT display: two frequency cursors, V1, V2, the FFT zero lines of its
// channels and the FFT zoom.
#pragma once

#include "ui/traces/indicscreen.h"

class IndicScreenF : public IndicScreen {
    Q_OBJECT

public:
    explicit IndicScreenF(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                          int y = 0, int width = 0, int height = 0);
    ~IndicScreenF() override;

public slots:
    void screenMajSlot(int parameter) override;
    void screenManualMeasurementSlot();

protected:
    void setVisibleIndics() override;

private:
    void placeZeroLine(int channel);
};
