// The file viewer's power box: the recorder's power box without the auxiliary lines.
#pragma once

#include "ui/traces/loggerpowerchannel.h"

class ViewerPowerChannel : public LoggerPowerChannel {
    Q_OBJECT

public:
    explicit ViewerPowerChannel(QQuickItem* parent = nullptr);

    void paint(QPainter* painter) override;
};
