// Vertical cursor of the FFT display: time cursor mapped through the FFT window.
#pragma once

#include "ui/traces/cursorvertical.h"

class CursorVerticalF : public CursorVertical {
public:
    CursorVerticalF(unsigned short identity, int32_t x);

    void setPositionFromMouse(QPoint& p) override;
    void setPositionFromSetup(QPoint& v) override;
};
