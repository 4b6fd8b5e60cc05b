// Automatic cursor A (0x2020) or B (0x2040): marks where the selected automatic measurement was
// taken. Never hit, never posts.
#pragma once

#include "ui/traces/cursor.h"

class CursorAutomatic : public Cursor {
public:
    CursorAutomatic(unsigned short identity, int32_t x, int32_t y);

    void paint(QPainter& painter) override;
    bool isNear(QPoint& p) override;
    void setPositionFromMouse(QPoint& p) override;
    // v = (record point, measurement-record code; codes grow with the value).
    void setPositionFromSetup(QPoint& v) override;
    void sendRequest() override;
};
