// Model of one multimeter reading: turns the published measurement record of a channel into a
// value in volts, ohms or farads and into the texts a channel box shows (value, range,
// coupling, frequency, minimum, maximum, relative value, function icon). GUI thread.
#pragma once

#include <QObject>
#include <QString>

#include <cfloat>
#include <cstdint>

class TAcquisition;
struct mesures;

class MeterMeasurement : public QObject {
    Q_OBJECT

public:
    // Quantities getMeasurementValue extracts.
    static constexpr uint16_t MEAS_METER_FREQUENCY = 0x2060;
    static constexpr uint16_t MEAS_METER_DC = 0x3020;
    static constexpr uint16_t MEAS_METER_AC = 0x3030;
    static constexpr uint16_t MEAS_METER_ACDC = 0x3040;
    static constexpr uint16_t MEAS_METER_RESISTANCE = 0x3060;
    static constexpr uint16_t MEAS_METER_CAPACITANCE = 0x3070;
    static constexpr uint16_t MEAS_METER_DIODE = 0x3080;
    static constexpr uint16_t MEAS_POWER_SINGLE = 0x30C0;
    static constexpr uint16_t MEAS_POWER_THREE_PHASE = 0x3200;
    static constexpr uint16_t MEAS_POWER_BALANCED_PN = 0x3210;
    static constexpr uint16_t MEAS_POWER_BALANCED_2PH = 0x3230;
    // No quantity chosen yet.
    static constexpr uint16_t kNoIdentifier = 255;
    // Above this the frequency reads as overload.
    static constexpr float kMaxFrequency = 202000.0f;

    explicit MeterMeasurement(QObject* parent = nullptr);
    ~MeterMeasurement() override;

    // Channel 0..3 (others take channel 1's trace); record index = channel. Connects the
    // refresh and parameter notices, then takes the current settings.
    void setIdentifier(int channel);
    QString title() const;
    QString getUnit() const;
    // The numeric value into out; returns the status (0 valid, 1 overload, 2 no data).
    int numericValue(float* out) const;
    // A value from elsewhere (the viewer's cursor): NaN is no data.
    void setNumericValue(float v);
    // Status of quantity id in the record, and its value (0 when not valid) into out when set.
    // Reads the record as it is: the caller copies a live record under the results lock.
    int getMeasurementValue(uint16_t id, const mesures* record, float* out) const;
    void setTuningRange();
    void setTuningCoupling(uint16_t function);

    // Coupling label of a meter coupling code (0..11); empty for odd codes and others.
    static QString couplingText(int code);

    // What the boxes copy (under the results lock, which these never take).
    const QString& rangeText() const { return rangeText_; }
    const QString& couplingText() const { return couplingText_; }
    const QString& valueText() const { return valueText_; }
    const QString& frequencyText() const { return frequencyText_; }
    const QString& minText() const { return minText_; }
    const QString& maxText() const { return maxText_; }
    const QString& relativeText() const { return relativeText_; }
    const QString& iconName() const { return iconName_; }
    void setIconName(const QString& name) { iconName_ = name; }
    bool rangeFlag() const { return rangeFlag_; }
    uint16_t identifier() const { return identifier_; }
    int channel() const { return channel_; }
    int frequencyStatus() const { return frequencyStatus_; }
    double halfRange() const { return halfRange_; }
    double scale() const { return scale_; }
    float minimum() const { return minimum_; }
    float maximum() const { return maximum_; }
    float relativeReference() const { return relativeReference_; }
    TAcquisition* acquisition() const { return acquisition_; }

public slots:
    virtual void screenRefreshSlot();
    void screenMajSlot(int parameter);

protected:
    // The value of quantity id with the given scale and offset (one wattmeter of the
    // three-phase power reads with its own scale).
    static int valueOf(uint16_t id, const mesures* record, double scale, double offset, float* out);
    // Minimum := FLT_MAX, maximum := -FLT_MAX, relative reference := numeric value.
    void resetStatistics();
    // Steps 5 and 6 of a refresh: the frequency, minimum, maximum and relative texts. The
    // maximum FLT_MAX reads "- OL -" when overloadMaximum; the relative text needs the
    // frequency status too when relativeNeedsFrequency.
    void setAuxiliaryTexts(int status, int frequencyStatus, float frequency, const QString& unit,
                           bool overloadMaximum, bool relativeNeedsFrequency);
    // The record of a channel in the linked table, null when none is linked.
    static mesures* recordOf(int index);

    float numericValue_ = 0.0f;
    float relativeReference_ = 0.0f;
    float minimum_ = FLT_MAX;
    float maximum_ = -FLT_MAX;
    int channel_ = 0;
    QString rangeText_;
    QString couplingText_;
    QString valueText_;
    QString frequencyText_;
    QString minText_;
    QString maxText_;
    QString relativeText_;
    QString iconName_;
    TAcquisition* acquisition_ = nullptr;
    mesures* record_ = nullptr;
    uint16_t identifier_ = MEAS_METER_DC;
    double halfRange_ = 0.0;
    double rangeTop_ = 0.0;
    bool rangeFlag_ = false;
    double scale_ = 1.0;
    double offset_ = 0.0;
    int status_ = 1;
    int frequencyStatus_ = 1;
};
