#include "ui/traces/zoomareaxy.h"

#include "core/gest_db.h"
#include "ui/traces/zoomguard.h"

#include <algorithm>
#include <cmath>

namespace {

// One axis: the factor request's intValue (factor x 100, 1600 at the cap) and the new position.
bool axis(float factor, int span, float positionBase, int32_t* percent, int32_t* position)
{
    if (span <= 0 || !isUsableZoomValue(factor))
        return false;
    const float m = factor * 1000.0f / static_cast<float>(span);
    const float capped = std::min(m, 16.0f);
    const float p = capped * positionBase / factor;
    if (!std::isfinite(m) || !std::isfinite(p))
        return false;
    *percent = m < 16.0f ? truncToInt32(m * 100.0f) : 1600;
    *position = truncToInt32(p);
    return true;
}

} // namespace

int ZoomAreaXy::sendRequest()
{
    const int w = rect_.right() - rect_.left() + 1;
    const int h = rect_.bottom() - rect_.top() + 1;
    int32_t xPercent = 0, xPosition = 0, yPercent = 0, yPosition = 0;
    const float xBase = static_cast<float>(data.xyZoomPosition) - static_cast<float>(rect_.right()) + 999.0f;
    const float yBase = static_cast<float>(rect_.top()) + static_cast<float>(data.vZoomPosition);
    if (!axis(data.xyZoomFactor, w, xBase, &xPercent, &xPosition) ||
        !axis(data.vZoomFactor, h, yBase, &yPercent, &yPosition))
        return kNothingPosted;
    const int first = post(param::xyZoomFactor, xPosition, xPercent);
    const int second = post(param::vZoomFactor, yPosition, yPercent);
    return (first == kPosted && second == kPosted) ? kPosted : kRefused;
}
