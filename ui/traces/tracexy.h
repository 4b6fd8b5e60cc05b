// Two traces drawn against each other (XY display): the X source's rows give x (mirrored), the
// Y source's rows give y, one line per column.
#pragma once

#include <QPen>

class QPainter;
class Trace;

class TraceXy {
public:
    TraceXy() = default;

    // Either source may be null: the plot then draws nothing.
    void setSources(Trace* x, Trace* y);
    void setColor(unsigned short index);
    void darkerColor(unsigned short factor);
    // 499 lines; nothing while a source is null or not converted yet.
    void paint(QPainter* painter);

    Trace* xSource() const { return x_; }
    Trace* ySource() const { return y_; }
    const QPen& pen() const { return pen_; }

private:
    QPen pen_;
    Trace* x_ = nullptr;
    Trace* y_ = nullptr;
};
