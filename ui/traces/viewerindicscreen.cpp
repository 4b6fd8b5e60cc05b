#include "ui/traces/viewerindicscreen.h"

#include "core/gest_db.h"
#include "ui/traces/cursorhorizontal.h"
#include "ui/traces/cursorvertical.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicator0v.h"
#include "ui/traces/zoomareat.h"

ViewerIndicScreen::ViewerIndicScreen(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                                     int height)
    : IndicScreen(parent, channelMask, x, y, width, height)
{
    setCursor(0, new CursorVertical(0x8001, 100));
    setCursor(3, new CursorHorizontal(0x4008, 100));
    setCursor(4, new CursorHorizontal(0x4010, 900));
    for (unsigned short n = 0; n < 4; ++n)
        if (channelMask_ & (1u << n))
            setIndicator(n, new Indicator0V(n));
    if (home_)
        connect(home_.data(), &HomeView::screenManualMeasurementSignal, this,
                &ViewerIndicScreen::screenManualMeasurementSlot);
}

ViewerIndicScreen::~ViewerIndicScreen()
{
    if (home_)
        disconnect(home_.data(), &HomeView::screenManualMeasurementSignal, this,
                   &ViewerIndicScreen::screenManualMeasurementSlot);
}

void ViewerIndicScreen::cursorsInit(unsigned short state, unsigned short channelBits)
{
    const bool manual = (state & 1) != 0;
    // Only the time display holds the automatic cursors; they show with the manual ones when
    // the automatic cursors are on and the reference channel is one of this display's.
    const bool automatic = (state & 3) == 3 && (channelBits & channelMask_) != 0;
    for (int slot = 0; slot < kCursorSlots; ++slot)
        if (cursors_[slot])
            cursors_[slot]->setVisible(slot <= 4 ? manual : automatic);
}

void ViewerIndicScreen::screenManualMeasurementSlot()
{
    // Cursor-table words: 0 time1, 1 time2, 2 level1, 3 level2, 4 time3.
    static const int kWords[5][2] = {{0, -1}, {1, -1}, {4, -1}, {-1, 2}, {-1, 3}};
    placeFromCursorTable(kWords);
}

void ViewerIndicScreen::placementStep()
{
    preparePlacement();
    screenManualMeasurementSlot();
}

void ViewerIndicScreen::placeTriggerPosition()
{
    if (indicators_[8])
        indicators_[8]->setPositionFromSetup(data.sweepOffset, 0);
}

void ViewerIndicScreen::setVisibleIndics()
{
    static const int kMemory[4] = {param::memoryTraceCh1, param::memoryTraceCh2, param::memoryTraceCh3,
                                   param::memoryTraceCh4};
    for (int n = 0; n < 4; ++n) {
        if (!indicators_[n])
            continue;
        indicators_[n]->setMovable(false);
        indicators_[n]->setVisible(setupValue(kMemory[n]) != 0);
    }
    update();
}

void ViewerIndicScreen::screenMajSlot(int parameter)
{
    switch (parameter) {
    case 29:   // layout
    case 142:  // split layout
        setZoomArea(new ZoomAreaT);
        displayKalvexSlot();
        placementStep();
        placeTriggerPosition();
        zoomAll(data.vZoomFactor, data.vZoomPosition);
        break;
    case 23:  // measRefChannel
        placementStep();
        break;
    case 36:  // zoomWidth
        placeTriggerPosition();
        screenManualMeasurementSlot();
        break;
    case 121:  // timeBaseIndex
        placeTriggerPosition();
        break;
    case 61:  // zoomState
    case 94:  // vZoomFactor
        zoomAll(data.vZoomFactor, data.vZoomPosition);
        screenManualMeasurementSlot();
        break;
    case 95:  // vZoomPosition
        zoomAll(data.vZoomFactor, data.vZoomPosition);
        break;
    case 93:  // cursorState
        setVisibleIndics();
        cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
        screenManualMeasurementSlot();
        break;
    case 0:
    case 13:  // horizPosition
        screenManualMeasurementSlot();
        break;
    default:
        return;
    }
    update();
}
