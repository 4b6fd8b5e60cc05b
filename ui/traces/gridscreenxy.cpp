#include "ui/traces/gridscreenxy.h"

#include <QPainter>
#include <utility>

GridScreenXy::GridScreenXy(QQuickItem* parent, int x, int y, int width, int height, QString title)
    : GridScreen(parent, x, y, width, height, std::move(title))
{
}

void GridScreenXy::paint(QPainter* painter)
{
    painter->save();
    paintBackground(painter);
    for (int v = 125; v < 1000; v += 125) {
        painter->drawLine(v, 0, v, 1000);
        painter->drawLine(0, v, 1000, v);
    }
    painter->drawLine(1000, 0, 1000, 1000);
    painter->restore();
}
