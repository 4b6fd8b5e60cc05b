#include "ui/tracescreenpassfail_standin.h"

#include "ui/tracescreen.h"

// A plain trace screen draws the mask trace, without the cached picture of the real one.
TraceScreen* newPassFailTraceScreen(QQuickItem* parent, int x, int y, int width, int height)
{
    return new TraceScreen(parent, 0x1000, x, y, width, height);
}
