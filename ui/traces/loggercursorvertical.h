// Vertical cursor of the recorder display: addresses the last 2500 points of the record
// (97500..99999).
#pragma once

#include "ui/traces/cursorvertical.h"

class LoggerCursorVertical : public CursorVertical {
public:
    static constexpr int32_t kFirstPoint = 97500;

    LoggerCursorVertical(unsigned short identity, int32_t x);

    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(QPoint& v) override;
};
