// The recorder's channel box: the meter box's data and updating in a smaller box, with the
// reference circle of the automatic measurements.
#pragma once

#include "ui/frame/meterchannel.h"

class LoggerChannel : public MeterChannel {
    Q_OBJECT

public:
    explicit LoggerChannel(QQuickItem* parent = nullptr);

    void paint(QPainter* painter) override;

protected:
    // Everything but the auxiliary lines (the viewer's box draws no more).
    void paintCommon(QPainter* painter);
};
