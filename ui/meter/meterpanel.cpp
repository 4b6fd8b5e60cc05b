#include "ui/meter/meterpanel.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "network/user_int.h"
#include "ui/frame/meterchannel.h"
#include "ui/frame/metermeasurement.h"
#include "ui/frame/powerchannel.h"
#include "ui/frame/powermeasurement.h"

MeterPanel::MeterPanel(QQuickItem* parent) : LoggerPanel(parent)
{
    initPelanodeMeterMeas();
}

MeterChannel* MeterPanel::makeChannelBox(bool)
{
    return new MeterChannel(this);
}

PowerChannel* MeterPanel::makePowerBox()
{
    return new PowerChannel(this);
}

void MeterPanel::setLayout()
{
    createBoxes();
    const int f = data.meterFunction;
    const bool channelOneOnly = f >= 2 && f <= 4;
    const bool power = f >= 8 && f <= 11;
    if (channelOneOnly) {
        if (boxes_[0])
            boxes_[0]->setPosition(QPointF(170, 145));
    } else {
        const qreal top = power ? 3 : 50;
        const qreal bottom = power ? 145 : 235;
        if (boxes_[0])
            boxes_[0]->setPosition(boxes_[1] ? QPointF(5, top) : QPointF(180, top));
        if (boxes_[0] && boxes_[1])
            boxes_[1]->setPosition(QPointF(365, top));
        if (boxes_[3])
            boxes_[3]->setPosition(boxes_[2] ? QPointF(365, bottom) : QPointF(180, bottom));
        if (boxes_[2] && boxes_[3])
            boxes_[2]->setPosition(QPointF(5, bottom));
    }
    if (powerBox_)
        powerBox_->setPosition(QPointF(5, 286));

    displayKalvexSlot();
    update();
}

void MeterPanel::refreshSlot()
{
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 4; ++i) {
        MeterMeasurement* m = measurements_[i];
        if (!boxes_[i] || !m)
            continue;
        boxes_[i]->trigger(m);
        const int status = m->numericValue(&values[i]);
        if (TAcquisition* t = channelTrace(i))
            t->setMeterMeasurement(static_cast<TMeasureStatus>(status), values[i]);
    }
    if (powerBox_ && powerMeasurement_) {
        powerMeasurement_->compute(values[0], values[3]);
        powerBox_->trigger(powerMeasurement_);
        float active = 0.0f;
        const int status = powerMeasurement_->numericValue(&active);
        if (TAcquisition* t = setupLinks().powerAcq)
            t->setMeterMeasurement(static_cast<TMeasureStatus>(status), active);
    }
}
