#include "ui/frame/paintedlayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>

void PaintedLayout::begin()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

void PaintedLayout::text(QPainter* painter, const QPointF& baseline, const QString& text, const QColor& behind)
{
    painter->drawText(baseline, text);
    if (text.isEmpty())
        return;
    // The ink of the text, not its line box: lines closer than the font's leading still read.
    const QFontMetricsF metrics(painter->font(), painter->device());
    const QRectF box = metrics.tightBoundingRect(text).translated(baseline);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({text, painter->combinedTransform().mapRect(box), painter->pen().color(), behind, false});
}

void PaintedLayout::fill(QPainter* painter, const QRectF& rect, const QColor& colour)
{
    painter->fillRect(rect, colour);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({QString(), painter->combinedTransform().mapRect(rect), colour, QColor(), true});
}

void PaintedLayout::covers(QPainter* painter, const QRectF& rect)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({QString(), painter->combinedTransform().mapRect(rect), QColor(), QColor(), true});
}

void PaintedLayout::picture(QPainter* painter, const QRectF& target, const QPixmap& picture)
{
    painter->drawPixmap(target, picture, QRectF(picture.rect()));
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({QString(), painter->combinedTransform().mapRect(target), QColor(), QColor(), false});
}

std::vector<PaintedLayout::Entry> PaintedLayout::entries() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}
