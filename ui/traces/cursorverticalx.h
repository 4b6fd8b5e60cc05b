// Vertical cursor of the XY display: V1x (xyCursor1X) or V2x (0x8002, xyCursor2X). Its value is
// an X-channel code, mapped through the scale and offset like a level.
#pragma once

#include "ui/traces/cursorvertical.h"

class CursorVerticalX : public CursorVertical {
public:
    CursorVerticalX(unsigned short identity, int32_t x);

    void setZoom(float factor, int32_t position) override;
    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(QPoint& v) override;
    void sendRequest() override;
};
