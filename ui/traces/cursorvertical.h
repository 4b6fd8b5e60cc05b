// Vertical time cursor of the time display: T1 (0x8001), T2 (0x8002) or the phase cursor Ph
// (0x8004).
#pragma once

#include "ui/traces/cursor.h"

class CursorVertical : public Cursor {
public:
    CursorVertical(unsigned short identity, int32_t x);

    void paint(QPainter& painter) override;
    bool isNear(QPoint& p) override;
    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(QPoint& v) override;
    void sendRequest() override;

protected:
    // Time (record point) of an overlay x through the time window when it applies.
    int32_t timeFromX(int32_t x, bool zoomed, int32_t windowPosition, float windowWidth) const;
    // Overlay x of a time, clamped to 5..995.
    static int32_t xFromTime(int32_t time, bool zoomed, int32_t windowPosition, float windowWidth);
};
