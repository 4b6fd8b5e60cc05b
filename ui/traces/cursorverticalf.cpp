#include "ui/traces/cursorverticalf.h"

#include "core/gest_db.h"

CursorVerticalF::CursorVerticalF(unsigned short identity, int32_t x)
    : CursorVertical(identity, x)
{
}

void CursorVerticalF::setPositionFromMouse(QPoint& p)
{
    x_ = p.x();
    setupPosition_[0] = timeFromX(p.x(), data.fftZoomState == 2, data.fftHorizPosition, data.fftZoomWidth);
}

void CursorVerticalF::setPositionFromSetup(QPoint& v)
{
    setupPosition_[0] = v.x();
    setupPosition_[1] = v.y();
    x_ = xFromTime(v.x(), followsTimeZoom_ && data.fftZoomState == 2, data.fftHorizPosition, data.fftZoomWidth);
}
