// Touch overlay of the recorder display: two cursors over the last points of the record, V1, V2
// and the zero lines of the recorded channels.
#pragma once

#include "ui/traces/viewerindicscreen.h"

class LoggerIndicScreen : public ViewerIndicScreen {
    Q_OBJECT

public:
    explicit LoggerIndicScreen(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                               int y = 0, int width = 0, int height = 0);

    void paint(QPainter* painter) override;

public slots:
    void screenMajSlot(int parameter) override;
    void screenManualMeasurementSlot() override;

protected:
    void setVisibleIndics() override;
};
