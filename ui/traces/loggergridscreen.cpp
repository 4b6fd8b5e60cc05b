#include "ui/traces/loggergridscreen.h"

#include <QPainter>
#include <utility>

LoggerGridScreen::LoggerGridScreen(QQuickItem* parent, int x, int y, int width, int height,
                                   QString title)
    : GridScreen(parent, x, y, width, height, std::move(title))
{
}

void LoggerGridScreen::paint(QPainter* painter)
{
    painter->save();
    paintBackground(painter);
    paintTimeVerticals(painter);
    paintQuarterHorizontals(painter, 1000);
    painter->restore();
}
