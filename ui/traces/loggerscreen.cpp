#include "ui/traces/loggerscreen.h"

#include "core/gest_db.h"
#include "ui/traces/loggergridscreen.h"
#include "ui/traces/loggerindicscreen.h"
#include "ui/traces/tracescreen.h"

namespace {

// The children leave a strip on the right for the indicators' flags.
constexpr int kRightMargin = 5;
constexpr unsigned short kFourChannels = 15;

// The trace of each pane, top to bottom, for the layouts with panes.
constexpr unsigned short kCh1Ch4[] = {1, 8};
constexpr unsigned short kCh1Ch4Power[] = {1, 8, LoggerScreen::kPowerTrace};
constexpr unsigned short kCh1To4[] = {1, 2, 4, 8};
constexpr unsigned short kCh1To4Power[] = {1, 2, 4, 8, LoggerScreen::kPowerTrace};

struct TPanes {
    const unsigned short* traces;
    int count;
};

TPanes panesOf(TLoggerLayout layout)
{
    switch (layout) {
    case LoggerLayoutCh1Ch4: return {kCh1Ch4, 2};
    case LoggerLayoutCh1Ch4Power: return {kCh1Ch4Power, 3};
    case LoggerLayoutCh1To4: return {kCh1To4, 4};
    case LoggerLayoutCh1To4Power: return {kCh1To4Power, 5};
    default: return {nullptr, 0};
    }
}

} // namespace

LoggerScreen::LoggerScreen(QQuickItem* parent) : ScopeScreen(parent)
{
    mask_ = static_cast<unsigned short>((data.channelFlags & 0xF) + (powerFunction() ? kPowerTrace : 0));
}

LoggerScreen::~LoggerScreen() = default;

bool LoggerScreen::powerFunction()
{
    return (data.meterFunction & 8) != 0;
}

void LoggerScreen::setLayout(unsigned short mask, TLoggerLayout layout)
{
    layout_ = layout;
    mask_ = mask & kTraceBits;
    setLayout();
}

void LoggerScreen::setLayout()
{
    clearChildren();
    const int width = static_cast<int>(this->width());
    const int height = static_cast<int>(this->height());
    if (width <= 0 || height <= 0)
        return;
    const int W = width - kRightMargin;
    const int H = height;

    // Grids first, then traces, then overlays: creation order is the stacking order.
    const TPanes panes = panesOf(layout_);
    if (panes.count == 0) {
        grids_[0] = new LoggerGridScreen(this, 0, 0, W, H, QString());
        traceScreens_[0] = new TraceScreen(this, mask_, 0, 0, W, H);
        overlays_[0] = new LoggerIndicScreen(this, kTraceBits, 0, 0, W, H);
    } else {
        const int paneHeight = H / panes.count;
        for (int k = 0; k < panes.count; ++k)
            grids_[k] = new LoggerGridScreen(this, 0, k * H / panes.count, W, paneHeight, QString());
        int n = 0;
        for (int k = 0; k < panes.count; ++k)
            if (mask_ & panes.traces[k])
                traceScreens_[n++] = new TraceScreen(this, panes.traces[k], 0, k * H / panes.count, W, paneHeight);
        for (int k = 0; k < panes.count; ++k)
            overlays_[k] = new LoggerIndicScreen(this, panes.traces[k], 0, k * H / panes.count, W, paneHeight);
    }

    for (IndicScreen* o : overlays_)
        if (o)
            o->screenMajSlot(param::spareWord29);
    for (TraceScreen* t : traceScreens_) {
        if (t) {
            t->setCompressed(false);
            t->setVerticalZoom();
        }
    }
}

void LoggerScreen::screenMajSlot(int code)
{
    switch (code) {
    case 0:
        update();
        break;
    case param::traceOnCh1:
    case param::traceOnCh2:
    case param::traceOnCh3:
    case param::traceOnCh4:
    case param::spareWord29:
    case param::traceFormat:
    case param::splitLayout:
    case param::meterFunction: {
        const bool power = powerFunction();
        TLoggerLayout layout = LoggerLayoutOnePane;
        if (data.splitLayout != 0) {
            if (data.hwChannelMask == kFourChannels)
                layout = power ? LoggerLayoutCh1To4Power : LoggerLayoutCh1To4;
            else
                layout = power ? LoggerLayoutCh1Ch4Power : LoggerLayoutCh1Ch4;
        }
        layout_ = layout;
        mask_ = static_cast<unsigned short>((data.channelFlags | (power ? kPowerTrace : 0)) & kTraceBits);
        setLayout();
        break;
    }
    default:
        break;
    }
}
