#include "ui/traces/indicscreenf.h"

#include "core/gest_db.h"
#include "ui/traces/cursorhorizontal.h"
#include "ui/traces/cursorverticalf.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicator0v_f.h"
#include "ui/traces/zoomareaf.h"

IndicScreenF::IndicScreenF(QQuickItem* parent, unsigned short channelMask, int x, int y, int width, int height)
    : IndicScreen(parent, channelMask, x, y, width, height)
{
    setCursor(0, new CursorVerticalF(0x8001, 100));
    setCursor(1, new CursorVerticalF(0x8002, 900));
    setCursor(3, new CursorHorizontal(0x4008, 100));
    setCursor(4, new CursorHorizontal(0x4010, 900));
    // fftVerticalScale 1 is the logarithmic scale: the zero lines say "-40dB".
    for (unsigned short n = 0; n < 4; ++n)
        if (channelMask_ & (1u << n))
            setIndicator(n, new Indicator0V_F(n, data.fftVerticalScale == 1 ? 1 : 0));
    if (home_)
        homeConnections_.push_back(connect(home_.data(), &HomeView::screenManualMeasurementSignal, this,
                &IndicScreenF::screenManualMeasurementSlot));
}

IndicScreenF::~IndicScreenF()
{
}

void IndicScreenF::screenManualMeasurementSlot()
{
    static const int kWords[5][2] = {{0, -1}, {1, -1}, {-1, -1}, {-1, 2}, {-1, 3}};
    placeFromCursorTable(kWords);
}

void IndicScreenF::setVisibleIndics()
{
    for (int n = 0; n < 4; ++n)
        if (indicators_[n])
            indicators_[n]->setVisible((data.channelFlags & (0x101u << n)) != 0);
    update();
}

void IndicScreenF::placeZeroLine(int channel)
{
    if (indicators_[channel])
        indicators_[channel]->setPositionFromSetup(setupValue(param::fftOffsetCh1 + channel), 0);
}

void IndicScreenF::screenMajSlot(int parameter)
{
    switch (parameter) {
    case 8:    // channelFlags
    case 27:   // autoset
    case 29:   // layout
    case 73:   // traceFormat
    case 142:  // split layout
        setZoomArea(new ZoomAreaF);
        displayKalvexSlot();
        preparePlacement();
        screenManualMeasurementSlot();
        for (int n = 0; n < 4; ++n)
            placeZeroLine(n);
        zoomAll(data.fftVZoomFactor, data.fftVZoomPosition);
        break;
    case 14: case 16: case 18: case 20:  // traceOnCh1-traceOnCh4
        setVisibleIndics();
        break;
    case 23:  // measRefChannel
        preparePlacement();
        screenManualMeasurementSlot();
        break;
    case 96:  // fftVZoomFactor
        zoomAll(data.fftVZoomFactor, data.fftVZoomPosition);
        screenManualMeasurementSlot();
        break;
    case 72:  // fftZoomState
    case 97:  // fftVZoomPosition
        zoomAll(data.fftVZoomFactor, data.fftVZoomPosition);
        break;
    case 93:  // cursorState
        setVisibleIndics();
        cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
        break;
    case 117: case 118: case 119: case 120:  // fftOffsetCh1-fftOffsetCh4
        placeZeroLine(parameter - 117);
        break;
    case 0:
        screenManualMeasurementSlot();
        break;
    default:
        return;
    }
    update();
}
