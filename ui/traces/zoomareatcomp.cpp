#include "ui/traces/zoomareatcomp.h"

#include "core/gest_db.h"
#include "ui/traces/zoomguard.h"

#include <algorithm>

namespace {
TZoomRecordRing s_records;
} // namespace

bool ZoomAreaTComp::windowPosition(int32_t* out) const
{
    const float width = data.zoomWidth;
    if (!isUsableZoomValue(width))
        return false;
    const float start = static_cast<float>(std::max(rect_.left(), 0)) * 100.0f;
    *out = truncToInt32(std::min(start, 100000.0f - width * 100000.0f / 40.0f));
    return true;
}

int ZoomAreaTComp::sendRequest()
{
    int32_t window = 0;
    if (!windowPosition(&window) || !isUsableZoomValue(data.vZoomFactor))
        return kNothingPosted;
    TZoomRect* kept = s_records.next();
    *kept = TZoomRect{data.vZoomFactor, data.vZoomPosition, data.zoomWidth, window};
    const int result = post(param::zoomState, reinterpret_cast<intptr_t>(kept), 4);
    if (result == kPosted) {
        hasPosted_ = true;
        lastPosted_ = window;
    }
    return result;
}

int ZoomAreaTComp::postMove()
{
    int32_t window = 0;
    if (!windowPosition(&window))
        return kNothingPosted;
    if (hasPosted_ && window == lastPosted_)
        return kNothingPosted;
    return sendRequest();
}
