// The file viewer's channel box: the recorder's box without the auxiliary lines.
#pragma once

#include "ui/traces/loggerchannel.h"

class ViewerChannel : public LoggerChannel {
    Q_OBJECT

public:
    explicit ViewerChannel(QQuickItem* parent = nullptr);

    void paint(QPainter* painter) override;
};
