#include "ui/harmonic/harmonicgridscreen.h"

#include <QPainter>
#include <utility>

namespace {
// One band per harmonic column of the bar graph.
constexpr int kWindowWidth = 1024;
constexpr int kWindowHeight = 1000;
constexpr int kBands = 64;
constexpr int kBandWidth = kWindowWidth / kBands;
} // namespace

HarmonicGridScreen::HarmonicGridScreen(QQuickItem* parent, int x, int y, int width, int height,
                                       QString title)
    : GridScreen(parent, x, y, width, height, std::move(title))
{
}

void HarmonicGridScreen::paint(QPainter* painter)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setWindow(0, 0, kWindowWidth, kWindowHeight);
    const QColor grey = QColor(Qt::gray).darker(200);
    for (int band = 0; band < kBands; ++band)
        painter->fillRect(QRect(band * kBandWidth, 0, kBandWidth, kWindowHeight),
                          band % 2 == 0 ? QColor(Qt::black) : grey);
    pen_->setStyle(Qt::SolidLine);
    painter->setPen(*pen_);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(QPointF(0, 0), QPointF(1022, 998)));
    pen_->setStyle(Qt::DotLine);
    painter->setPen(*pen_);
    paintQuarterHorizontals(painter, kWindowWidth - 1);
    painter->restore();
}
