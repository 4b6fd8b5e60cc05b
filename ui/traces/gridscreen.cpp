#include "ui/traces/gridscreen.h"

#include <QPainter>
#include <utility>

namespace {
constexpr int kWindow = 1000;
// Corner of the frame: one unit inside the window so that both far sides show.
constexpr qreal kFrameCorner = 998;
} // namespace

GridScreen::GridScreen(QQuickItem* parent, int x, int y, int width, int height, QString title)
    : QQuickPaintedItem(parent),
      title_(std::move(title)),
      pen_(new QPen(QBrush(Qt::white), 0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin)),
      font_(new QFont())
{
    font_->setPointSize(35);
    font_->setWeight(QFont::Bold);
    setAntialiasing(true);
    setPosition(QPointF(x, y));
    setSize(QSizeF(width, height));
}

GridScreen::~GridScreen()
{
    delete pen_;
    delete font_;
}

void GridScreen::paintBackground(QPainter* painter)
{
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setWindow(0, 0, kWindow, kWindow);
    painter->fillRect(QRect(0, 0, kWindow, kWindow), Qt::black);
    pen_->setStyle(Qt::SolidLine);
    painter->setPen(*pen_);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(QPointF(0, 0), QPointF(kFrameCorner, kFrameCorner)));
    pen_->setStyle(Qt::DotLine);
    painter->setPen(*pen_);
}

void GridScreen::paintTimeVerticals(QPainter* painter)
{
    for (int x = 100; x <= kWindow; x += 100)
        painter->drawLine(x, 0, x, kWindow);
}

void GridScreen::paintQuarterHorizontals(QPainter* painter, int width)
{
    for (int y = 250; y < kWindow; y += 250)
        painter->drawLine(0, y, width, y);
}

void GridScreen::paintTitle(QPainter* painter)
{
    if (title_.isEmpty())
        return;
    painter->setWindow(painter->viewport());
    painter->setOpacity(0.5);
    painter->setFont(*font_);
    pen_->setStyle(Qt::SolidLine);
    painter->setPen(*pen_);
    painter->drawText(QRectF(0, 0, width(), height()), Qt::AlignCenter, title_);
}

void GridScreen::paint(QPainter* painter)
{
    painter->save();
    paintBackground(painter);
    paintTimeVerticals(painter);
    for (int y = 125; y < kWindow; y += 125)
        painter->drawLine(0, y, kWindow, y);
    paintTitle(painter);
    painter->restore();
}
