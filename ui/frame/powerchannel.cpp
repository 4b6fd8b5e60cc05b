#include "ui/frame/powerchannel.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "network/user_int.h"
#include "ui/frame/powermeasurement.h"

#include <QPainter>
#include <QPixmap>

PowerChannel::PowerChannel(QQuickItem* parent)
    : MeterChannel(parent)
{
    title_ = QStringLiteral("Pa");
    titleFont_.setPointSize(15);
    valueFont_.setPointSize(35);
    setSize(QSizeF(715, 140));
    setColor(6);
}

void PowerChannel::trigger(PowerMeasurement* m)
{
    if (!m)
        return;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    copyReading(*m, m->title());
    apparentText_ = m->apparentText();
    reactiveText_ = m->reactiveText();
    powerFactorText_ = m->powerFactorText();
    reference_ = (data.measRefChannel & (1 << kReferenceBit)) != 0;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    update();
    setPelanodePowerMeas(TPowerTexts{valueText_, reactiveText_, apparentText_, powerFactorText_, line1_, line2_});
}

void PowerChannel::trigger(TAcquisition* t)
{
    if (!t)
        return;
    valueText_.clear();
    apparentText_.clear();
    reactiveText_.clear();
    powerFactorText_.clear();
    line1_.clear();
    line2_.clear();
    update();
    setPelanodePowerMeas(TPowerTexts{valueText_, reactiveText_, apparentText_, powerFactorText_, line1_, line2_});
}

void PowerChannel::paint(QPainter* painter)
{
    const qreal h = height();
    const int t = titleFont_.pointSize();
    const int v = valueFont_.pointSize();
    paintFrame(painter, 10, 50);

    painter->setFont(titleFont_);
    painter->drawText(QPointF(25, t + 10), title_);
    painter->setPen(textPen_);
    painter->drawText(QPointF(405, t + 2 * v + 42), line1_);
    painter->drawText(QPointF(150, t + 2 * v + 42), line2_);

    painter->setFont(valueFont_);
    painter->drawText(QPointF(145, v + 20), valueText_);
    painter->drawText(QPointF(145, 2 * v + 31), apparentText_);
    painter->drawText(QPointF(405, v + 20), reactiveText_);
    painter->drawText(QPointF(405, 2 * v + 31), powerFactorText_);

    const QPixmap picture = icon();
    if (!picture.isNull())
        painter->drawPixmap(QPointF(10, (h - picture.height()) / 2), picture);
}
