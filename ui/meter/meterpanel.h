// The multimeter's boxes: which boxes and measurements exist for the meter function and the
// installed channels, fed every 200 ms, each reading passed on to its channel's trace (the remote
// queries read it there). Keeps the recorder's lifetime: the inactivity power-off is held off
// while it exists; it never writes a file.
#pragma once

#include "ui/traces/loggerpanel.h"

class MeterPanel : public LoggerPanel {
    Q_OBJECT

public:
    explicit MeterPanel(QQuickItem* parent = nullptr);

signals:
    void refreshSignal();

public slots:
    void setLayout() override;
    void refreshSlot() override;

protected:
    MeterChannel* makeChannelBox(bool power) override;
    PowerChannel* makePowerBox() override;
};
