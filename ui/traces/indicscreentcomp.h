// Compressed time display's overlay with the trigger mark.
#pragma once

#include "ui/traces/indicscreencomp.h"

class IndicScreenTComp : public IndicScreenComp {
    Q_OBJECT

public:
    explicit IndicScreenTComp(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                              int y = 0, int width = 0, int height = 0);
};
