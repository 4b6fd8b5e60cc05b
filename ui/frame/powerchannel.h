// Wide box of the power functions: active, apparent and reactive power, the power factor, two
// auxiliary lines and the wiring picture.
#pragma once

#include "ui/frame/meterchannel.h"

class PowerMeasurement;

class PowerChannel : public MeterChannel {
    Q_OBJECT

public:
    // Bit of measRefChannel that marks the auxiliary trace as the reference.
    static constexpr int kReferenceBit = 13;

    explicit PowerChannel(QQuickItem* parent = nullptr);

    void trigger(PowerMeasurement* m);
    // Viewer form: every power and auxiliary text emptied, then published.
    void trigger(TAcquisition* t);

    void paint(QPainter* painter) override;
};
