#include "ui/traces/tracexy.h"

#include "ui/traces/trace.h"
#include "ui/frame/zinccolor.h"

#include <QLine>
#include <QPainter>

void TraceXy::setSources(Trace* x, Trace* y)
{
    pen_.setWidth(2);
    pen_.setCosmetic(true);
    x_ = x;
    y_ = y;
}

void TraceXy::setColor(unsigned short index)
{
    pen_.setColor(getZincColor(index));
}

void TraceXy::darkerColor(unsigned short factor)
{
    pen_.setColor(pen_.color().darker(factor));
}

void TraceXy::paint(QPainter* painter)
{
    if (!x_ || !y_)
        return;
    short xs[2 * Trace::kColumns];
    short ys[2 * Trace::kColumns];
    if (!x_->computePolygon(xs) || !y_->computePolygon(ys))
        return;
    painter->setPen(pen_);
    // The middle values only tell the direction of the line; their 16-bit sums are kept as such.
    int16_t previousX = static_cast<int16_t>(xs[0] + xs[1]);
    int16_t previousY = static_cast<int16_t>(ys[0] + ys[1]);
    QLine lines[Trace::kColumns - 1];
    for (int k = 1; k < Trace::kColumns; ++k) {
        const short xMin = xs[2 * k], xMax = xs[2 * k + 1];
        const short yMin = ys[2 * k], yMax = ys[2 * k + 1];
        const int16_t middleX = static_cast<int16_t>(xMin + xMax);
        const int16_t middleY = static_cast<int16_t>(yMin + yMax);
        int x1, x2, y1, y2;
        if (middleX > previousX) {
            x1 = 1000 - xMin;
            x2 = 1000 - xMax;
        } else {
            x1 = 1000 - xMax;
            x2 = 1000 - xMin;
        }
        if (middleY > previousY) {
            y1 = yMin;
            y2 = yMax;
        } else {
            y1 = yMax;
            y2 = yMin;
        }
        lines[k - 1] = QLine(x1, y1, x2, y2);
        previousX = middleX;
        previousY = middleY;
    }
    painter->drawLines(lines, Trace::kColumns - 1);
}
