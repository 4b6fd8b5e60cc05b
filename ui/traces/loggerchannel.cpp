#include "ui/traces/loggerchannel.h"

#include <QFontMetricsF>
#include <QPainter>

LoggerChannel::LoggerChannel(QQuickItem* parent)
    : MeterChannel(parent)
{
    titleFont_.setPointSize(12);
    valueFont_.setPointSize(18);
    setSize(QSizeF(175, 105));
}

void LoggerChannel::paintCommon(QPainter* painter)
{
    const qreal w = width();
    const qreal h = height();
    const int t = titleFont_.pointSize();
    const int v = valueFont_.pointSize();
    paintRecorderFrame(painter, t + 15);
    const QFontMetricsF metrics(titleFont_, painter->device());
    painter->setPen(textPen_);
    painter->drawText(QPointF(w - 10 - metrics.horizontalAdvance(rangeText_), t + 6), rangeText_);
    painter->drawText(QPointF(w - 10 - metrics.horizontalAdvance(couplingText_), 2 * (t + 6)), couplingText_);

    painter->setFont(valueFont_);
    painter->drawText(QPointF(10, 2 * t + v + 18), valueText_);

    paintIconSquare(painter, QRectF(w - 42, (h - 32) / 2, 32, 32));
}

void LoggerChannel::paint(QPainter* painter)
{
    paintCommon(painter);
    const int t = titleFont_.pointSize();
    const int v = valueFont_.pointSize();
    painter->setFont(titleFont_);
    painter->setPen(textPen_);
    painter->drawText(QPointF(10, 3 * t + v + 26), line1_);
    painter->drawText(QPointF(10, 4 * t + v + 30), line2_);
}
