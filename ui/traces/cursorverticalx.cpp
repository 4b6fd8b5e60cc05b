#include "ui/traces/cursorverticalx.h"

#include "core/gest_db.h"
#include "ui/traces/zoomguard.h"

#include <algorithm>

// The X value is kept in both setup positions: the overlay places XY cursors with (0, value)
// while the request carries the first position, so a press and release without a move must
// not post 0.
CursorVerticalX::CursorVerticalX(unsigned short identity, int32_t x)
    : CursorVertical(identity, x)
{
    if (identity == 0x8002) {
        label_ = QStringLiteral("V2x");
        request_.code = param::xyCursor2X;
    } else {
        label_ = QStringLiteral("V1x");
        request_.code = param::xyCursor1X;
    }
    scale_ = kCodeScale;
    offset_ = 1000;
    setupPosition_[0] = truncToInt32((static_cast<float>(x) - 1000.0f) / 0.0038156288f);
    setupPosition_[1] = setupPosition_[0];
}

void CursorVerticalX::setZoom(float factor, int32_t position)
{
    const float f = usableZoomFactor(factor);
    scale_ = f * kCodeScale;
    offset_ = clampToInt32(1000 - static_cast<int64_t>(truncToInt32(f * -1500.0f - static_cast<float>(position))));
    QPoint v(setupPosition_[0], setupPosition_[1]);
    setPositionFromSetup(v);
}

void CursorVerticalX::setPositionFromMouse(QPoint& p)
{
    x_ = p.x();
    setupPosition_[0] = truncToInt32((static_cast<float>(p.x()) - static_cast<float>(offset_)) / scale_);
    setupPosition_[1] = setupPosition_[0];
}

void CursorVerticalX::setPositionFromSetup(QPoint& v)
{
    setupPosition_[0] = v.y();
    setupPosition_[1] = v.y();
    x_ = std::clamp(truncToInt32(static_cast<float>(offset_) + static_cast<float>(v.y()) * scale_), 5, 995);
}

void CursorVerticalX::sendRequest()
{
    post(setupPosition_[0]);
}
