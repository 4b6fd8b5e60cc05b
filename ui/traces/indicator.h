// Flags at the edges of the trace area that show and set a zero line, the trigger level or the
// trigger position. Plain objects held and painted by the touch overlays; overlay units 0..1000
// (x to the right, y downward); points handed to isNear/setPositionFromMouse come with y upward.
//
// Symbol tables: a count of segments, then x1, y1, x2, y2 per segment, relative to the flag
// corner.
#pragma once

#include <QColor>
#include <QFont>
#include <QPen>
#include <QPoint>
#include <QString>

#include <cstdint>

class QPainter;

class Indicator {
public:
    static constexpr int kWidth = 40;
    static constexpr int kHeight = 50;

    Indicator();
    virtual ~Indicator();

    virtual void paint(QPainter& painter);
    // Stores the zoom, then re-places the flag from its value.
    virtual void setZoom(float factor, int position);
    // Trigger coupling symbol; only the trigger-level flag keeps it.
    virtual void setModel(short model);
    virtual void setPositionFromMouse(QPoint& p) = 0;
    virtual void setPositionFromSetup(int value, int extra) = 0;
    // Flag corner after the edge rule, and the symbol that goes with it.
    virtual void getIndicPos(int* x0, int* y0, short const** symbol) = 0;
    virtual QPoint getTitlePos() = 0;

    bool isNear(QPoint& p);
    // A visible flag going from active to inactive posts its value.
    void setActive(bool active);
    void sendRequest();
    void setColor(unsigned short index);

    unsigned short parameter() const { return parameter_; }
    const QString& title() const { return title_; }
    QColor fillColor() const { return fillColor_; }
    bool isActive() const { return active_; }
    bool isVisible() const { return visible_; }
    void setVisible(bool visible) { visible_ = visible; }
    bool isMovable() const { return movable_; }
    void setMovable(bool movable) { movable_ = movable; }
    int32_t value() const { return value_; }
    int32_t x() const { return x_; }
    int32_t y() const { return y_; }
    int32_t lowerBound() const { return lowerBound_; }
    int32_t upperBound() const { return upperBound_; }
    float zoomFactor() const { return zoomFactor_; }
    int32_t zoomPosition() const { return zoomPosition_; }
    const QPen& pen() const { return pen_; }

protected:
    // Fill, symbol and title at the corner that getIndicPos gives.
    void paintFlag(QPainter& painter, bool fill, bool title);
    static void drawSymbol(QPainter& painter, int x0, int y0, const short* symbol);
    // Zoom factor with an unusable one taken as 1.
    float factor() const;

    unsigned short parameter_;
    QString title_;
    QColor fillColor_;
    bool active_;
    bool visible_;
    bool movable_;
    int32_t value_;
    int32_t x_;
    int32_t y_;
    int32_t lowerBound_;
    int32_t upperBound_;
    float zoomFactor_;
    int32_t zoomPosition_;
    QPen pen_;
    QFont font_;
};
