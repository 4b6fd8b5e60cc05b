#include "ui/traces/tracescreen.h"

#include "core/gest_db.h"
#include "ui/frame/homeview.h"
#include "ui/traces/trace.h"
#include "ui/traces/tracexy.h"

#include <QPainter>
#include <sched.h>

const uint16_t TraceScreen::kSlotBits[kSlots] = {0x1000, 0x100, 0x200, 0x400, 0x800, 0x1, 0x2, 0x4, 0x8, 0x2000};
const short TraceScreen::kSlotKinds[kSlots] = {13, 4, 5, 6, 7, 0, 1, 2, 3, 8};
std::atomic<uint64_t> TraceScreen::changedPictures_{0};

namespace {

constexpr unsigned short kLiveXyColour = 6;
constexpr unsigned short kMemoryXyColour = 14;
constexpr unsigned short kAuxColour = 6;
// Stored and mask traces use the channel's colour moved to the second half of the palette.
constexpr int kStoredColourShift = 8;

int channelColour(int channel)
{
    const int16_t colours[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4};
    return colours[channel];
}

} // namespace

TraceScreen::TraceScreen(QQuickItem* parent, unsigned short channelMask, int x, int y, int width, int height)
    : QQuickPaintedItem(parent), channelMask_(channelMask)
{
    setPosition(QPointF(x, y));
    setSize(QSizeF(width, height));
    if (channelMask_ != 0) {
        for (int slot = 0; slot < kSlots; ++slot) {
            if (channelMask_ & kSlotBits[slot]) {
                traces_[slot] = new Trace(kSlotKinds[slot]);
                traces_[slot]->setChangedCallback([this] { repaintChanged(); });
            }
        }
        liveXy_ = new TraceXy;
        memoryXy_ = new TraceXy;
        setXySources();
        liveXy_->setColor(kLiveXyColour);
        memoryXy_->setColor(kMemoryXyColour);
        displayKalvexSlot();
    }
    if (HomeView* view = po_g_homeView) {
        connections_[0] = connect(view, &HomeView::screenAutomaticMeasurementSignal, this,
                                  &TraceScreen::screenRefreshSlot);
        connections_[1] = connect(view, &HomeView::screenMajSignal, this, &TraceScreen::screenMajSlot);
        connections_[2] = connect(view, &HomeView::displayKalvexSignal, this, &TraceScreen::displayKalvexSlot);
        connections_[3] = connect(view, &HomeView::screenRefreshSignal, this, &TraceScreen::screenRefreshSlot);
    }
    screenRefreshSlot();
}

TraceScreen::~TraceScreen()
{
    for (auto& c : connections_)
        disconnect(c);
    // Each trace stops its drawing thread before it goes.
    for (Trace*& t : traces_) {
        delete t;
        t = nullptr;
    }
    delete liveXy_;
    delete memoryXy_;
}

Trace* TraceScreen::sourceTrace(int firstSlot, int source) const
{
    // XY sources are setup bytes (recalled setups, remote requests): only channels 1-4 count.
    if (source < 0 || source > 3)
        return nullptr;
    return traces_[firstSlot + source];
}

void TraceScreen::setXySources()
{
    if (!liveXy_ || !memoryXy_)
        return;
    liveXy_->setSources(sourceTrace(kLiveSlot, data.xySourceX), sourceTrace(kLiveSlot, data.xySourceY));
    memoryXy_->setSources(sourceTrace(kStoredSlot, data.xySourceX), sourceTrace(kStoredSlot, data.xySourceY));
}

void TraceScreen::screenRefreshSlot()
{
    // The drawing threads ask for the repaint once their rows changed: an unchanged trace costs
    // no frame.
    for (Trace* t : traces_) {
        if (!t)
            continue;
        t->computeSamplesToPixels();
        sched_yield();
    }
}

void TraceScreen::repaintChanged()
{
    // Several traces finishing together make one update.
    if (!repaintQueued_.exchange(true)) {
        changedPictures_.fetch_add(1, std::memory_order_relaxed);
        QMetaObject::invokeMethod(this, [this] {
            repaintQueued_.store(false);
            update();
        }, Qt::QueuedConnection);
    }
}

void TraceScreen::paintContent(QPainter* painter)
{
    if (displayFormat_ == FormatXy) {
        if (liveXy_)
            liveXy_->paint(painter);
        if (memoryXy_)
            memoryXy_->paint(painter);
        return;
    }
    for (Trace* t : traces_) {
        if (!t)
            continue;
        t->paint(painter);
        sched_yield();
    }
}

void TraceScreen::paint(QPainter* painter)
{
    painter->setWindow(QRect(0, 0, 1000, 1000));
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    paintContent(painter);
}

void TraceScreen::applyTraceColours()
{
    if (Trace* mask = traces_[kMaskSlot]) {
        const int source = data.passFailSource;
        if (source >= 0 && source <= 3)
            mask->setColor(static_cast<unsigned short>(channelColour(source) + kStoredColourShift));
    }
    for (int ch = 0; ch < 4; ++ch) {
        if (Trace* stored = traces_[kStoredSlot + ch])
            stored->setColor(static_cast<unsigned short>(channelColour(ch) + kStoredColourShift));
        if (Trace* live = traces_[kLiveSlot + ch])
            live->setColor(static_cast<unsigned short>(channelColour(ch)));
    }
    if (Trace* aux = traces_[kAuxSlot])
        aux->setColor(kAuxColour);
}

void TraceScreen::displayKalvexSlot()
{
    applyTraceColours();
    update();
}

void TraceScreen::setCompressed(bool compressed)
{
    compressed_ = compressed;
    for (Trace* t : traces_)
        if (t)
            t->setCompressed(compressed);
}

void TraceScreen::setVerticalZoom()
{
    if (displayFormat_ == FormatFft) {
        for (Trace* t : traces_)
            if (t)
                t->setVerticalZoom(data.fftVZoomFactor, data.fftVZoomPosition);
        return;
    }
    for (Trace* t : traces_)
        if (t)
            t->setVerticalZoom(data.vZoomFactor, data.vZoomPosition);
    if (displayFormat_ != FormatXy)
        return;
    // XY: the X sources take the XY zoom, the Y sources the vertical zoom; the stored traces of
    // the memory plot the same as their live counterparts, so that both plots overlay.
    for (int first : {kLiveSlot, kStoredSlot})
        if (Trace* t = sourceTrace(first, data.xySourceX))
            t->setVerticalZoom(data.xyZoomFactor, data.xyZoomPosition);
    for (int first : {kLiveSlot, kStoredSlot})
        if (Trace* t = sourceTrace(first, data.xySourceY))
            t->setVerticalZoom(data.vZoomFactor, data.vZoomPosition);
}

void TraceScreen::screenMajSlot(int parameter)
{
    switch (parameter) {
    case param::autosetRequest:
    case param::spareWord29:
    case param::traceFormat:
        displayFormat_ = static_cast<uint16_t>(data.traceFormat);
        setVerticalZoom();
        screenRefreshSlot();
        setXySources();
        update();
        break;
    case param::xySourceX:
    case param::xySourceY:
        setXySources();
        update();
        break;
    case param::zoomState:
    case param::fftZoomState:
    case param::vZoomFactor:
    case param::vZoomPosition:
    case param::fftVZoomFactor:
    case param::fftVZoomPosition:
        setVerticalZoom();
        screenRefreshSlot();
        break;
    case 0:
    case param::traceOnCh1:
    case param::traceOnCh2:
    case param::traceOnCh3:
    case param::traceOnCh4:
        screenRefreshSlot();
        break;
    default:
        break;
    }
}
