// Model of the multimeter's power reading: the two power product records with the channel 1
// and 4 readings give active, apparent and reactive power and the power factor for the four
// wiring functions (single phase, three phase with two wattmeters, balanced three phase
// phase-to-neutral and between two phases). Changes only through compute and its own
// parameter slot.
#pragma once

#include "ui/frame/metermeasurement.h"

class PowerMeasurement : public MeterMeasurement {
    Q_OBJECT

public:
    static constexpr double kSqrt3 = 1.7320508;
    // Records of the two power product traces.
    static constexpr int kMainRecord = 8;
    static constexpr int kSecondRecord = 9;

    explicit PowerMeasurement(QObject* parent = nullptr);

    // Stores the channel and connects the parameter notices only: no trace, no refresh.
    void setIdentifier(int channel);
    QString title() const;
    void setTuningRange();
    void setNumericValue(float v);
    // One reading from the power records and the main values of channels 1 and 4.
    void compute(float voltage, float current);

    // Identifier and wiring picture of a meter function.
    static uint16_t identifierOf(int function);
    static QString iconOf(int function);

    const QString& apparentText() const { return apparentText_; }
    const QString& reactiveText() const { return reactiveText_; }
    const QString& powerFactorText() const { return powerFactorText_; }
    double secondScale() const { return secondScale_; }

public slots:
    void screenMajSlot(int parameter);

protected:
    mesures* secondRecord_ = nullptr;
    QString apparentText_;
    QString reactiveText_;
    QString powerFactorText_;
    double secondScale_ = 1.0;
};
