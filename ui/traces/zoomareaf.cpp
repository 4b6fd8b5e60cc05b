#include "ui/traces/zoomareaf.h"

#include "core/gest_db.h"

namespace {
TZoomRecordRing s_records;
} // namespace

int ZoomAreaF::sendRequest()
{
    TZoomRect record;
    if (!computeZoomRecord(rect_, data.fftVZoomFactor, data.fftVZoomPosition, data.fftZoomWidth,
                           data.fftHorizPosition, &record))
        return kNothingPosted;
    TZoomRect* kept = s_records.next();
    *kept = record;
    return post(param::fftZoomState, reinterpret_cast<intptr_t>(kept), 4);
}
