// Zoom area of the compressed time display: moves the zoom window to where the rectangle starts,
// keeping its width and the vertical zoom.
#pragma once

#include "ui/traces/zoomarea.h"

class ZoomAreaTComp : public ZoomArea {
public:
    int sendRequest() override;

    // Window position (record points) the request for the current rectangle would carry; false
    // when the setup's window width is unusable.
    bool windowPosition(int32_t* out) const;

    // For drags that post while the finger moves: posts only when the window position differs
    // from the last one the box accepted during this drag, so a refused post is made again by
    // the next call (the release). forgetPosted() starts a drag.
    int postMove();
    void forgetPosted() { hasPosted_ = false; }

    // The samples the strip spans (the whole record unless set): rectangle 0..999 across them.
    void setSpan(uint32_t start, uint32_t samples);

private:
    uint32_t spanStart_ = 0;
    uint32_t spanSamples_ = 100000;
    bool hasPosted_ = false;
    int32_t lastPosted_ = 0;
};
