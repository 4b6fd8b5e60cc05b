#include "ui/traces/loggerpowerchannel.h"

#include <QPainter>

LoggerPowerChannel::LoggerPowerChannel(QQuickItem* parent)
    : PowerChannel(parent)
{
    titleFont_.setPointSize(12);
    valueFont_.setPointSize(18);
    setSize(QSizeF(709, 75));
    setColor(6);
}

void LoggerPowerChannel::paintCommon(QPainter* painter)
{
    const int t = titleFont_.pointSize();
    const int v = valueFont_.pointSize();
    paintRecorderFrame(painter, t + 10);
    painter->setPen(textPen_);
    painter->setFont(valueFont_);
    const qreal baseline = t + v + 18;
    painter->drawText(QPointF(10, baseline), valueText_);
    painter->drawText(QPointF(170, baseline), apparentText_);
    painter->drawText(QPointF(340, baseline), reactiveText_);
    painter->drawText(QPointF(510, baseline), powerFactorText_);
}

void LoggerPowerChannel::paint(QPainter* painter)
{
    paintCommon(painter);
    const int t = titleFont_.pointSize();
    const int v = valueFont_.pointSize();
    painter->setFont(titleFont_);
    painter->setPen(textPen_);
    painter->drawText(QPointF(150, 2 * t + v + 26), line1_);
    painter->drawText(QPointF(10, 2 * t + v + 26), line2_);
}
