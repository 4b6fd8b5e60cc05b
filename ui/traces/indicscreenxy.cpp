#include "ui/traces/indicscreenxy.h"

#include "core/gest_db.h"
#include "ui/traces/cursorhorizontal.h"
#include "ui/traces/cursorverticalx.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicator0v.h"
#include "ui/traces/indicator0v_x.h"
#include "ui/traces/zoomareaxy.h"

IndicScreenXy::IndicScreenXy(QQuickItem* parent, unsigned short channelMask, int x, int y, int width, int height)
    : IndicScreen(parent, channelMask, x, y, width, height)
{
    setCursor(0, new CursorVerticalX(0x8001, 100));
    setCursor(1, new CursorVerticalX(0x8002, 900));
    setCursor(3, new CursorHorizontal(0x4008, 100));
    setCursor(4, new CursorHorizontal(0x4010, 900));
    for (unsigned short n = 0; n < 4; ++n) {
        setIndicator(n, new Indicator0V(n));
        setIndicator(4 + n, new Indicator0V_X(n));
    }
    if (home_)
        homeConnections_.push_back(connect(home_.data(), &HomeView::screenManualMeasurementSignal, this,
                &IndicScreenXy::screenManualMeasurementSlot));
}

IndicScreenXy::~IndicScreenXy()
{
}

unsigned short IndicScreenXy::sourceChannelBit(int source)
{
    // The source bytes reach 0..255 from a recall or a remote request.
    return (source >= 0 && source <= 3) ? static_cast<unsigned short>(1u << source) : 0;
}

void IndicScreenXy::cursorsInit(unsigned short state, unsigned short channelBits)
{
    const bool manual = (channelBits & channelMask_) != 0 && (state & 1) != 0;
    for (int slot = 0; slot < kCursorSlots; ++slot)
        if (cursors_[slot])
            cursors_[slot]->setVisible(slot <= 4 && manual);
}

void IndicScreenXy::screenManualMeasurementSlot()
{
    // Cursor-table words: 2 level1, 3 level2, 5 xpos1, 6 xpos2.
    static const int kWords[5][2] = {{-1, 5}, {-1, 6}, {-1, -1}, {-1, 2}, {-1, 3}};
    placeFromCursorTable(kWords);
}

void IndicScreenXy::setVisibleIndics()
{
    for (int n = 0; n < 4; ++n) {
        const bool shown = (data.channelFlags & (0x101u << n)) != 0;
        if (indicators_[n])
            indicators_[n]->setVisible(shown && data.xySourceY == n);
        if (indicators_[4 + n])
            indicators_[4 + n]->setVisible(shown && data.xySourceX == n);
    }
    update();
}

void IndicScreenXy::colourXCursors()
{
    for (int slot = 0; slot < 2; ++slot)
        if (cursors_[slot])
            cursors_[slot]->setReferenceChannel(sourceChannelBit(data.xySourceX));
}

void IndicScreenXy::colourVCursors()
{
    for (int slot = 3; slot < 5; ++slot)
        if (cursors_[slot])
            cursors_[slot]->setReferenceChannel(sourceChannelBit(data.xySourceY));
}

void IndicScreenXy::placeZeroLines(int channel)
{
    const int offset = setupValue(param::offsetCh1 + channel);
    if (indicators_[channel])
        indicators_[channel]->setPositionFromSetup(offset, 0);
    if (indicators_[4 + channel])
        indicators_[4 + channel]->setPositionFromSetup(offset, 0);
}

void IndicScreenXy::zoomY()
{
    for (int n = 0; n < 4; ++n)
        if (indicators_[n])
            indicators_[n]->setZoom(data.vZoomFactor, data.vZoomPosition);
    for (int slot = 3; slot < kCursorSlots; ++slot)
        if (cursors_[slot])
            cursors_[slot]->setZoom(data.vZoomFactor, data.vZoomPosition);
}

void IndicScreenXy::zoomX()
{
    for (int n = 4; n < 8; ++n)
        if (indicators_[n])
            indicators_[n]->setZoom(data.xyZoomFactor, data.xyZoomPosition);
    for (int slot = 0; slot < 2; ++slot)
        if (cursors_[slot])
            cursors_[slot]->setZoom(data.xyZoomFactor, data.xyZoomPosition);
}

void IndicScreenXy::screenMajSlot(int parameter)
{
    switch (parameter) {
    case 8:    // channelFlags
    case 27:   // autoset
    case 29:   // layout
    case 73:   // traceFormat
    case 142:  // split layout
        setZoomArea(new ZoomAreaXy);
        displayKalvexSlot();
        preparePlacement();
        screenManualMeasurementSlot();
        colourXCursors();
        colourVCursors();
        for (int n = 0; n < 4; ++n)
            placeZeroLines(n);
        zoomY();
        zoomX();
        break;
    case 9: case 10: case 11: case 12:  // offsetCh1-offsetCh4
        placeZeroLines(parameter - 9);
        break;
    case 14: case 16: case 18: case 20:     // traceOnCh1-traceOnCh4
    case 134: case 135: case 136: case 137:  // memoryTraceCh1-memoryTraceCh4
        setVisibleIndics();
        break;
    case 59:  // xySourceX
        colourXCursors();
        setVisibleIndics();
        break;
    case 60:  // xySourceY
        colourVCursors();
        setVisibleIndics();
        break;
    case 61:  // zoomState
    case 94:  // vZoomFactor
        zoomY();
        screenManualMeasurementSlot();
        break;
    case 101:  // xyZoomFactor
        zoomX();
        screenManualMeasurementSlot();
        break;
    case 23:  // measRefChannel
        preparePlacement();
        screenManualMeasurementSlot();
        break;
    case 36:  // zoomWidth
    case 0:
        screenManualMeasurementSlot();
        break;
    case 93:  // cursorState
        setVisibleIndics();
        cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
        screenManualMeasurementSlot();
        break;
    default:
        return;
    }
    update();
}
