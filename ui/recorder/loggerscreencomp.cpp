#include "ui/recorder/loggerscreencomp.h"

#include "core/gest_db.h"
#include "ui/recorder/loggergridscreencomp.h"
#include "ui/recorder/loggerindicscreencomp.h"
#include "ui/traces/tracescreen.h"

namespace {

constexpr unsigned short kChannels1To4 = 15;

} // namespace

LoggerScreenComp::LoggerScreenComp(QQuickItem* parent) : LoggerScreen(parent)
{
    layout_ = LoggerLayoutOnePane;
    mask_ = static_cast<unsigned short>(data.channelFlags + (powerFunction() ? kPowerTrace : 0));
}

LoggerScreenComp::~LoggerScreenComp() = default;

void LoggerScreenComp::setLayout()
{
    clearChildren();
    const int width = static_cast<int>(this->width());
    const int height = static_cast<int>(this->height());
    if (width < 1 || height < 1)
        return;
    const int W = width - 5;
    grids_[0] = new LoggerGridScreenComp(this, 0, 0, W, height, QStringLiteral("LOGGER"));
    // Left compressed: the strip draws the envelope of the whole record, never the power trace.
    traceScreens_[0] = new TraceScreen(this, kChannels1To4, 0, 0, W, height);
    overlays_[0] = new LoggerIndicScreenComp(this, mask_, 0, 0, W, height);
    overlays_[0]->screenMajSlot(param::spareWord29);
}
