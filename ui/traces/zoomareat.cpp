#include "ui/traces/zoomareat.h"

#include "core/gest_db.h"

namespace {
TZoomRecordRing s_records;
} // namespace

int ZoomAreaT::sendRequest()
{
    TZoomRect record;
    if (!computeZoomRecord(rect_, data.vZoomFactor, data.vZoomPosition, data.zoomWidth, data.horizPosition,
                           &record))
        return kNothingPosted;
    TZoomRect* kept = s_records.next();
    *kept = record;
    return post(param::zoomState, reinterpret_cast<intptr_t>(kept), 4);
}
