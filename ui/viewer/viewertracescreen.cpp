#include "ui/viewer/viewertracescreen.h"

#include "ui/viewer/viewertrace.h"

namespace {

constexpr unsigned short kPowerBit = 0x2000;
constexpr short kAuxKind = 8;

} // namespace

ViewerTraceScreen::ViewerTraceScreen(QQuickItem* parent, unsigned short mask, int x, int y, int w, int h)
    : TraceScreen(parent, 0, x, y, w, h)
{
    channelMask_ = mask;
    compressed_ = false;
    for (int ch = 0; ch < 4; ++ch)
        if (mask & (1u << ch))
            traces_[kLiveSlot + ch] = new ViewerTrace(static_cast<short>(ch));
    if (mask & kPowerBit)
        traces_[kAuxSlot] = new ViewerTrace(kAuxKind);
    for (Trace* t : traces_)
        if (t)
            t->setChangedCallback([this] { repaintChanged(); });
    displayKalvexSlot();
    screenMajSlot(0);
}

ViewerTraceScreen::~ViewerTraceScreen() = default;
