// Overlay of the recorder's compressed display: holds nothing and reacts to nothing; it only
// paints transparent and holds back the screen refreshes while a finger is down.
#pragma once

#include "ui/traces/indicscreen.h"

class LoggerIndicScreenComp : public IndicScreen {
    Q_OBJECT

public:
    explicit LoggerIndicScreenComp(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                                   int y = 0, int width = 0, int height = 0);

public slots:
    void screenMajSlot(int parameter) override;
};
