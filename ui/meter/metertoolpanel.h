// Root item of the multimeter's tool column.
#pragma once

#include <QQuickItem>

class MeterToolPanel : public QQuickItem {
    Q_OBJECT

public:
    explicit MeterToolPanel(QQuickItem* parent = nullptr);

    // The three-phase wiring needs the four channels.
    Q_INVOKABLE bool is2wattmeterMeasAvailable() const;
};
