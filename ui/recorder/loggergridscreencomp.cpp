#include "ui/recorder/loggergridscreencomp.h"

#include <QPainter>
#include <utility>

LoggerGridScreenComp::LoggerGridScreenComp(QQuickItem* parent, int x, int y, int width,
                                           int height, QString title)
    : GridScreen(parent, x, y, width, height, std::move(title))
{
}

void LoggerGridScreenComp::paint(QPainter* painter)
{
    painter->save();
    paintBackground(painter);
    paintTimeVerticals(painter);
    paintQuarterHorizontals(painter, 1000);
    paintTitle(painter);
    painter->restore();
}
