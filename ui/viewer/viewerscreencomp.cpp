#include "ui/viewer/viewerscreencomp.h"

#include "core/gest_db.h"
#include "ui/traces/gridscreen.h"
#include "ui/traces/indicscreencomp.h"
#include "ui/viewer/viewertracescreen.h"

namespace {

constexpr int kRightMargin = 5;
constexpr unsigned short kAllTraces = 0x200F;

} // namespace

ViewerScreenComp::ViewerScreenComp(QQuickItem* parent) : ViewerScreen(parent) {}

void ViewerScreenComp::setLayout()
{
    clearChildren();
    const int width = static_cast<int>(this->width());
    const int h = static_cast<int>(this->height());
    if (width < 1 || h < 1)
        return;
    const int w = width - kRightMargin;
    grids_[0] = new GridScreen(this, 0, 0, w, h, QStringLiteral("VIEWER"));
    traceScreens_[0] = new ViewerTraceScreen(this, kAllTraces, 0, 0, w, h);
    auto* overlay = new IndicScreenComp(this, kAllTraces, 0, 0, w, h);
    // The strip shows the recording's own span (its traces reduce that span): the window and the
    // cursors are placed over it.
    overlay->followRecording(true);
    overlays_[0] = overlay;
    overlays_[0]->screenMajSlot(param::spareWord29);
}
