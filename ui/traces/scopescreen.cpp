#include "ui/traces/scopescreen.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "ui/traces/gridscreen.h"
#include "ui/traces/gridscreenxy.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicscreenf.h"
#include "ui/traces/indicscreent.h"
#include "ui/traces/indicscreenxy.h"
#include "ui/traces/tracescreen.h"
#include "ui/traces/tracescreenpassfail.h"
#include "ui/traces/tracescreenpersist.h"

namespace {

constexpr unsigned short kChannelMasks[4] = {0x0101, 0x0202, 0x0404, 0x0808};
constexpr unsigned short kAllChannels = 0x0F0F;
constexpr int kAccumulation = 5;
// The children leave a strip on the right for the indicators' flags.
constexpr int kRightMargin = 5;

// Pass/fail source channel 0..3 when pass/fail is on, else -1. The source is a setup byte a
// recalled setup or remote command may have set to anything; read unsigned.
int passFailRow()
{
    if (data.passFailOn == 0)
        return -1;
    const unsigned source = static_cast<uint16_t>(data.passFailSource);
    return source <= 3 ? static_cast<int>(source) : -1;
}

} // namespace

ScopeScreen::ScopeScreen(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView)
        connections_[0] = connect(home, &HomeView::screenMajSignal, this, &ScopeScreen::screenMajSlot);
    connections_[1] = connect(this, &QQuickItem::widthChanged, this, &ScopeScreen::resizeSlot);
    connections_[2] = connect(this, &QQuickItem::heightChanged, this, &ScopeScreen::resizeSlot);
    // Runs the base's setLayout() even for a subclass: with no size yet it builds nothing.
    resizeSlot();
}

ScopeScreen::~ScopeScreen()
{
    for (auto& c : connections_)
        disconnect(c);
    clearChildren();
}

QString ScopeScreen::labelOfFormat(int format)
{
    if (format == 2)
        return QStringLiteral("XY");
    if (format == 1)
        return QStringLiteral("FFT");
    return QString();
}

void ScopeScreen::clearChildren()
{
    for (GridScreen*& g : grids_) {
        delete g;
        g = nullptr;
    }
    for (TraceScreen*& t : traceScreens_) {
        delete t;
        t = nullptr;
    }
    for (IndicScreen*& o : overlays_) {
        delete o;
        o = nullptr;
    }
}

void ScopeScreen::resizeSlot()
{
    setLayout();
    // The controller answers with a redraw of the new stack from the held samples. A full box
    // drops the record: the next acquisition redraws anyway.
    pipe_dial request{REQ_ACQ_DONE, 0, 0, 0, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

void ScopeScreen::setLayout(bool split, short format, QString label)
{
    split_ = split;
    format_ = format;
    label_ = label;
    resizeSlot();
}

void ScopeScreen::setLayout()
{
    clearChildren();
    const int W = static_cast<int>(width());
    const int H = static_cast<int>(height());
    if (H <= 0 || W <= 0)
        return;

    const int w = W - kRightMargin;
    const int q = H >> 2;
    const int rows[4] = {0, q, H >> 1, (3 * H) >> 2};
    const bool xy = format_ == 2;
    const bool panes = split_ && !xy;

    // Grids first, then traces, then overlays: creation order is the stacking order.
    if (xy)
        grids_[0] = new GridScreenXy(this, 0, 0, w, H, QString());
    else if (panes)
        for (int i = 0; i < 4; ++i)
            grids_[i] = new GridScreen(this, 0, rows[i], w, q, QString());
    else
        grids_[0] = new GridScreen(this, 0, 0, w, H, QString());

    int n = 0;
    if (data.traceMode == kAccumulation) {
        if (panes) {
            for (int i = 0; i < 4; ++i)
                traceScreens_[n++] = new TraceScreenPersist(this, kChannelMasks[i], 0, rows[i], w, q);
            for (int i = 0; i < 4; ++i)
                traceScreens_[n++] = new TraceScreen(this, kChannelMasks[i], 0, rows[i], w, q);
        } else {
            traceScreens_[n++] = new TraceScreenPersist(this, kAllChannels, 0, 0, w, H);
            traceScreens_[n++] = new TraceScreen(this, kAllChannels, 0, 0, w, H);
        }
    } else {
        const int source = passFailRow();
        if (panes) {
            if (source >= 0)
                traceScreens_[n++] = new TraceScreenPassFail(this, 0x1000, 0, rows[source], w, q);
            for (int i = 0; i < 4; ++i)
                traceScreens_[n++] = new TraceScreen(this, kChannelMasks[i], 0, rows[i], w, q);
        } else {
            if (source >= 0)
                traceScreens_[n++] = new TraceScreenPassFail(this, 0x1000, 0, 0, w, H);
            traceScreens_[n++] = new TraceScreen(this, kAllChannels, 0, 0, w, H);
        }
    }
    for (int i = 0; i < n; ++i) {
        TraceScreen* t = traceScreens_[i];
        t->setCompressed(false);
        // The format before the zoom: the vertical zoom depends on it.
        t->setDisplayFormat(static_cast<uint16_t>(format_));
        t->setVerticalZoom();
    }

    if (xy) {
        overlays_[0] = new IndicScreenXy(this, kAllChannels, 0, 0, w, H);
    } else if (panes) {
        for (int i = 0; i < 4; ++i) {
            if (format_ == 1)
                overlays_[i] = new IndicScreenF(this, kChannelMasks[i], 0, rows[i], w, q);
            else
                overlays_[i] = new IndicScreenT(this, kChannelMasks[i], 0, rows[i], w, q);
        }
    } else if (format_ == 1) {
        overlays_[0] = new IndicScreenF(this, kAllChannels, 0, 0, w, H);
    } else {
        overlays_[0] = new IndicScreenT(this, kAllChannels, 0, 0, w, H);
    }
    for (IndicScreen* o : overlays_)
        if (o)
            o->screenMajSlot(param::spareWord29);
}

void ScopeScreen::screenMajSlot(int code)
{
    switch (code) {
    case 0:
        update();
        break;
    case param::traceMode:
    case param::passFailSource:
    case param::passFailOn:
        setLayout();
        break;
    case param::spareWord29:
        setLayout(data.splitLayout != 0, data.traceFormat, labelOfFormat(data.traceFormat));
        setLayout();
        break;
    case param::traceFormat:
    case param::fftVerticalScale:
    case param::splitLayout:
        setLayout(data.splitLayout != 0, data.traceFormat, labelOfFormat(data.traceFormat));
        break;
    default:
        break;
    }
}
