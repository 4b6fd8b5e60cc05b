// Zoom area of the FFT display: fftZoomState request with the window of the rectangle.
#pragma once

#include "ui/traces/zoomarea.h"

class ZoomAreaF : public ZoomArea {
public:
    int sendRequest() override;
};
