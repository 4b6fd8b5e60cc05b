// Trace screen of the recorded-file viewer: ViewerTrace objects in the live slots (channels 1-4)
// and the auxiliary slot (the power trace).
#pragma once

#include "ui/traces/tracescreen.h"

class ViewerTraceScreen : public TraceScreen {
    Q_OBJECT

public:
    // Mask bits 0x1-0x8 channels 1-4, 0x2000 the power trace.
    ViewerTraceScreen(QQuickItem* parent, unsigned short mask, int x, int y, int w, int h);
    ~ViewerTraceScreen() override;
};
