// Zoom area of the time display: zoomState request with the window of the rectangle.
#pragma once

#include "ui/traces/zoomarea.h"

class ZoomAreaT : public ZoomArea {
public:
    int sendRequest() override;
};
