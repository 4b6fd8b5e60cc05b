// Measurement cursors held, painted and moved by the touch overlays. Plain objects, not items:
// coordinates are overlay units 0..1000 (x to the right, y downward); points handed to
// isNear/setPositionFromMouse come with y upward, as the overlay delivers them.
#pragma once

#include "core/requests.h"

#include <QColor>
#include <QFont>
#include <QPen>
#include <QPoint>
#include <QString>

#include <cstdint>

class QPainter;

class Cursor {
public:
    // Orientation bits of the identity word.
    static constexpr unsigned short kVertical = 0x8000;
    static constexpr unsigned short kHorizontal = 0x4000;
    static constexpr unsigned short kAutomatic = 0x2000;
    static constexpr float kCodeScale = 0.0038156288f;  // rows per code, 1000/262080

    explicit Cursor(unsigned short identity);
    virtual ~Cursor();

    virtual void paint(QPainter& painter) = 0;
    // Maps the cursor through a vertical zoom, then re-places it from its setup positions.
    virtual void setZoom(float factor, int32_t position);
    virtual bool isNear(QPoint& p) = 0;
    virtual void setPositionFromMouse(QPoint& p) = 0;
    // v = (first, second) setup values; both are stored.
    virtual void setPositionFromSetup(QPoint& v) = 0;
    virtual void sendRequest() = 0;

    // Takes and returns the overlay's word of active cursor bits: at most one vertical and one
    // horizontal cursor are active together. Switching off posts the request of a cursor that
    // was active.
    unsigned short setActive(bool on, unsigned short bits);
    // Label colour from the reference channel bit (1, 2, 4, 8 a channel; 8192 the power trace).
    void setReferenceChannel(unsigned short channelBit);

    unsigned short identity() const { return identity_; }
    const QString& label() const { return label_; }
    QColor labelColor() const { return labelColor_; }
    int32_t x() const { return x_; }
    int32_t y() const { return y_; }
    int32_t setupFirst() const { return setupPosition_[0]; }
    int32_t setupSecond() const { return setupPosition_[1]; }
    const pipe_dial& request() const { return request_; }
    bool isActive() const { return active_; }
    bool isVisible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }
    float scale() const { return scale_; }
    int32_t offset() const { return offset_; }
    bool followsTimeZoom() const { return followsTimeZoom_; }
    void setFollowsTimeZoom(bool follows) { followsTimeZoom_ = follows; }

protected:
    // Posts the prepared request with `value`; a full box drops it.
    void post(int32_t value);
    // Line in the active or idle colour, then the label in the label colour.
    void paintLine(QPainter& painter, const QPoint& from, const QPoint& to, const QPoint& labelAt);

    unsigned short identity_;
    QString label_;
    QFont font_;
    QPen pen_;
    QColor labelColor_;
    int32_t setupPosition_[2];
    int32_t x_;
    int32_t y_;
    pipe_dial request_;
    bool active_;
    bool visible_;
    float scale_;
    int32_t offset_;
    bool followsTimeZoom_;
};
