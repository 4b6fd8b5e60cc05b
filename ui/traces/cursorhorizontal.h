// Horizontal level cursor: V1 (0x4008) or V2 (0x4010).
#pragma once

#include "ui/traces/cursor.h"

class CursorHorizontal : public Cursor {
public:
    CursorHorizontal(unsigned short identity, int32_t y);

    void paint(QPainter& painter) override;
    bool isNear(QPoint& p) override;
    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(QPoint& v) override;
    void sendRequest() override;
};
