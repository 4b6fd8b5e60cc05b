// Zoom area of the XY display: two requests, xyZoomFactor (X) then vZoomFactor (Y), each with the
// factor x 100 and the new position.
#pragma once

#include "ui/traces/zoomarea.h"

class ZoomAreaXy : public ZoomArea {
public:
    int sendRequest() override;
};
