// The zoom rectangle a finger draws on a touch overlay, and the request that zooms the display
// into it. Overlay units 0..1000, y downward.
#pragma once

#include "core/requests.h"

#include <QRect>

#include <cstdint>

class ZoomArea {
public:
    // Results of sendRequest.
    static constexpr int kPosted = 0;
    static constexpr int kRefused = -1;      // the controller's box was full
    static constexpr int kNothingPosted = 1;  // the rectangle or the setup is unusable

    ZoomArea();
    virtual ~ZoomArea();

    // Posts the zoom request of this display for the rectangle.
    virtual int sendRequest();

    QRect& rect() { return rect_; }
    const QRect& rect() const { return rect_; }
    void setRect(const QRect& rect) { rect_ = rect; }
    // Null rectangle: corners (0, 0) and (-1, -1).
    void reset() { rect_ = QRect(QPoint(0, 0), QPoint(-1, -1)); }

protected:
    static int post(int32_t code, intptr_t auxValue, intptr_t intValue);

    QRect rect_;
};

// Records handed to the controller by pointer. Each zoom-area class takes the next one of its
// own ring for every request, so a record is not rewritten while its request may still wait in
// the controller's box (127 usable slots).
class TZoomRecordRing {
public:
    static constexpr int kRecords = 128;
    TZoomRect* next()
    {
        TZoomRect* record = &records_[index_];
        index_ = (index_ + 1) % kRecords;
        return record;
    }

private:
    TZoomRect records_[kRecords] = {};
    int index_ = 0;
};

// Time or FFT zoom record for `rect`: false when the rectangle or the inputs are unusable.
bool computeZoomRecord(const QRect& rect, float vFactor, int32_t vPosition, float width,
                       int32_t horizPosition, TZoomRect* out);
