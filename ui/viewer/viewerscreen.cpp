#include "ui/viewer/viewerscreen.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "ui/traces/loggergridscreen.h"
#include "ui/traces/viewerindicscreen.h"
#include "ui/viewer/viewertracescreen.h"

namespace {

constexpr int kRightMargin = 5;
constexpr unsigned short kFourChannels = 15;
constexpr unsigned short kStoredTraces = 0x0F00;
constexpr unsigned short kShownBits = 0x2F00;
constexpr unsigned short kAllTraces = 0x200F;

struct TPane {
    unsigned short traces;  // trace screen and overlay mask
    unsigned short stored;  // the channel-mask bit its trace screen needs
};

constexpr TPane kCh1{1, 0x100}, kCh2{2, 0x200}, kCh3{4, 0x400}, kCh4{8, 0x800},
    kPower{LoggerScreen::kPowerTrace, LoggerScreen::kPowerTrace};
constexpr TPane kCh1Ch4[] = {kCh1, kCh4};
constexpr TPane kCh1Ch4Power[] = {kCh1, kCh4, kPower};
constexpr TPane kCh1To4[] = {kCh1, kCh2, kCh3, kCh4};
constexpr TPane kCh1To4Power[] = {kCh1, kCh2, kCh3, kCh4, kPower};

struct TPanes {
    const TPane* panes;
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

ViewerScreen::ViewerScreen(QQuickItem* parent) : LoggerScreen(parent)
{
    mask_ = static_cast<unsigned short>((powerFunction() ? kPowerTrace : 0) | (data.channelFlags & kStoredTraces));
}

void ViewerScreen::setLayout(unsigned short mask, TLoggerLayout layout)
{
    mask_ = mask & kShownBits;
    layout_ = layout;
    setLayout();
    pipe_dial request{REQ_ACQ_DONE, 0, 0, 0, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

void ViewerScreen::setLayout()
{
    clearChildren();
    const int width = static_cast<int>(this->width());
    const int H = static_cast<int>(this->height());
    if (width <= 0 || H <= 0)
        return;
    const int W = width - kRightMargin;

    const TPanes p = panesOf(layout_);
    if (p.count == 0) {
        grids_[0] = new LoggerGridScreen(this, 0, 0, W, H, QString());
        traceScreens_[0] = new ViewerTraceScreen(this, kAllTraces, 0, 0, W, H);
        overlays_[0] = new ViewerIndicScreen(this, kAllTraces, 0, 0, W, H);
    } else {
        // Grids, then traces, then overlays: creation order is the stacking order.
        const int band = H / p.count;
        for (int k = 0; k < p.count; ++k)
            grids_[k] = new LoggerGridScreen(this, 0, k * H / p.count, W, band, QString());
        int n = 0;
        for (int k = 0; k < p.count; ++k)
            if (mask_ & p.panes[k].stored)
                traceScreens_[n++] = new ViewerTraceScreen(this, p.panes[k].traces, 0, k * H / p.count, W, band);
        for (int k = 0; k < p.count; ++k)
            overlays_[k] = new ViewerIndicScreen(this, p.panes[k].traces, 0, k * H / p.count, W, band);
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

void ViewerScreen::screenMajSlot(int code)
{
    switch (code) {
    case 0:
        update();
        break;
    case param::channelFlags:
    case param::spareWord29:
    case param::traceFormat:
    case param::splitLayout:
    case param::meterFunction: {
        const bool power = powerFunction();
        const unsigned short flags = static_cast<unsigned short>(data.channelFlags);
        if (data.splitLayout != 0) {
            const bool four = data.hwChannelMask == kFourChannels;
            if (power)
                setLayout(static_cast<unsigned short>(flags + kPowerTrace), four ? LoggerLayoutCh1To4Power : LoggerLayoutCh1Ch4Power);
            else
                setLayout(flags, four ? LoggerLayoutCh1To4 : LoggerLayoutCh1Ch4);
        } else {
            setLayout(static_cast<unsigned short>(flags | (power ? kPowerTrace : 0)), LoggerLayoutOnePane);
        }
        break;
    }
    default:
        break;
    }
}
