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
    if (spanStart_ == 0 && spanSamples_ == 100000) {
        const float start = static_cast<float>(std::max(rect_.left(), 0)) * 100.0f;
        *out = truncToInt32(std::min(start, 100000.0f - width * 100000.0f / 40.0f));
        return true;
    }
    // A strip over the recording: its pixels stand for the recording's samples; the window never
    // starts before the recording nor reaches past its end when it fits in it.
    const double window = static_cast<double>(width) * 2500.0;
    const double start = spanStart_ + std::max(rect_.left(), 0) * static_cast<double>(spanSamples_) / 1000.0;
    const double last = std::max<double>(spanStart_, spanStart_ + spanSamples_ - window);
    *out = truncToInt32(static_cast<float>(std::min(start, last)));
    return true;
}

void ZoomAreaTComp::setSpan(uint32_t start, uint32_t samples)
{
    spanStart_ = start;
    spanSamples_ = std::max<uint32_t>(samples, 1);
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
