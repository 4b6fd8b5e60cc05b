// The recorder's power box: the power box's data and updating in one low, wide row.
#pragma once

#include "ui/frame/powerchannel.h"

class LoggerPowerChannel : public PowerChannel {
    Q_OBJECT

public:
    explicit LoggerPowerChannel(QQuickItem* parent = nullptr);

    void paint(QPainter* painter) override;

protected:
    // Everything but the auxiliary lines (the viewer's box draws no more).
    void paintCommon(QPainter* painter);
};
