// Trigger panel of the scope view: shows the setup's trigger parameters in volts and seconds for
// the QML controls and turns the user's choices into parameter requests to the controller. The
// panel never changes a setting itself; it shows the new value when the controller announces it.
#pragma once

#include <QQuickItem>
#include <QString>

#include <cstdint>

class ScopeTrigger : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY titleChanged)
    Q_PROPERTY(int tsourceIndex READ tsourceIndex NOTIFY dataChanged)
    Q_PROPERTY(int tcouplingIndex READ tcouplingIndex NOTIFY dataChanged)
    Q_PROPERTY(int tedgeIndex READ tedgeIndex NOTIFY dataChanged)
    Q_PROPERTY(bool tnoiserejectValue READ tnoiserejectValue NOTIFY dataChanged)
    Q_PROPERTY(double tlevelValue READ tlevelValue NOTIFY dataChanged)
    Q_PROPERTY(double tmaxlevelValue READ tmaxlevelValue NOTIFY dataChanged)
    Q_PROPERTY(double holdoffValue READ holdoffValue NOTIFY dataChanged)
    Q_PROPERTY(double maxholdoffValue READ maxholdoffValue NOTIFY dataChanged)
    Q_PROPERTY(double minholdoffValue READ minholdoffValue NOTIFY dataChanged)
    Q_PROPERTY(int selectIndex READ selectIndex NOTIFY dataChanged)
    Q_PROPERTY(int qsourceIndex READ qsourceIndex NOTIFY dataChanged)
    Q_PROPERTY(int qcouplingIndex READ qcouplingIndex NOTIFY dataChanged)
    Q_PROPERTY(int qedgeIndex READ qedgeIndex NOTIFY dataChanged)
    Q_PROPERTY(bool qnoiserejectValue READ qnoiserejectValue NOTIFY dataChanged)
    Q_PROPERTY(double qlevelValue READ qlevelValue NOTIFY dataChanged)
    Q_PROPERTY(double qmaxlevelValue READ qmaxlevelValue NOTIFY dataChanged)
    Q_PROPERTY(int pulseIndex READ pulseIndex NOTIFY dataChanged)
    Q_PROPERTY(double t1Value READ t1Value NOTIFY dataChanged)
    Q_PROPERTY(double t1maxValue READ t1maxValue NOTIFY dataChanged)
    Q_PROPERTY(double t1minValue READ t1minValue NOTIFY dataChanged)
    Q_PROPERTY(double t2Value READ t2Value NOTIFY dataChanged)
    Q_PROPERTY(double delayValue READ delayValue NOTIFY dataChanged)
    Q_PROPERTY(double delaymaxValue READ delaymaxValue NOTIFY dataChanged)
    Q_PROPERTY(double delayminValue READ delayminValue NOTIFY dataChanged)
    Q_PROPERTY(double countValue READ countValue NOTIFY dataChanged)
    Q_PROPERTY(double countmaxValue READ countmaxValue NOTIFY dataChanged)
    Q_PROPERTY(double countminValue READ countminValue NOTIFY dataChanged)

public:
    // Seconds per tick of the trigger time parameters.
    static constexpr double kTick = 8e-9;
    static constexpr double kMinHoldoff = 6.4e-8;
    static constexpr double kT1Min = 1.6e-8;
    static constexpr double kDelayMin = 4.8e-8;
    static constexpr double kCountMin = 3;

    explicit ScopeTrigger(QQuickItem* parent = nullptr);
    ~ScopeTrigger() override;

    QString title() const { return title_; }
    int tsourceIndex() const { return tsourceIndex_; }
    int tcouplingIndex() const { return tcouplingIndex_; }
    int tedgeIndex() const { return tedgeIndex_; }
    bool tnoiserejectValue() const { return tnoiserejectValue_; }
    double tlevelValue() const { return tlevelValue_; }
    double tmaxlevelValue() const { return tmaxlevelValue_; }
    double holdoffValue() const { return holdoffValue_; }
    double maxholdoffValue() const { return maxholdoffValue_; }
    double minholdoffValue() const { return minholdoffValue_; }
    int selectIndex() const { return selectIndex_; }
    int qsourceIndex() const { return qsourceIndex_; }
    int qcouplingIndex() const { return qcouplingIndex_; }
    int qedgeIndex() const { return qedgeIndex_; }
    bool qnoiserejectValue() const { return qnoiserejectValue_; }
    double qlevelValue() const { return qlevelValue_; }
    double qmaxlevelValue() const { return qmaxlevelValue_; }
    int pulseIndex() const { return pulseIndex_; }
    double t1Value() const { return t1Value_; }
    double t1maxValue() const { return t1maxValue_; }
    double t1minValue() const { return t1minValue_; }
    double t2Value() const { return t2Value_; }
    double delayValue() const { return delayValue_; }
    double delaymaxValue() const { return delaymaxValue_; }
    double delayminValue() const { return delayminValue_; }
    double countValue() const { return countValue_; }
    double countmaxValue() const { return countmaxValue_; }
    double countminValue() const { return countminValue_; }

    // Volts per thousandth of the trigger range of the trigger / qualifier channel, as of the
    // last recomputation (NaN before the first).
    double triggerScale() const { return triggerScale_; }
    double qualifierScale() const { return qualifierScale_; }

    Q_INVOKABLE void sendRequestSelect(int index);
    Q_INVOKABLE void sendRequestTrigSource(int index);
    Q_INVOKABLE void sendRequestTrigCoupling(int index);
    Q_INVOKABLE void sendRequestTrigEdge(int index);
    Q_INVOKABLE void sendRequestTrigNoiseReject(bool on);
    Q_INVOKABLE void sendRequestTrigLevel(double volts);
    Q_INVOKABLE void sendRequestHoldoff(double seconds);
    Q_INVOKABLE void sendRequestQualifSource(int index);
    Q_INVOKABLE void sendRequestQualifCoupling(int index);
    Q_INVOKABLE void sendRequestQualifEdge(int index);
    Q_INVOKABLE void sendRequestQualifNoiseReject(bool on);
    Q_INVOKABLE void sendRequestQualifLevel(double volts);
    Q_INVOKABLE void sendRequestPulseType(int index);
    Q_INVOKABLE void sendRequestPulseT1(double seconds);
    Q_INVOKABLE void sendRequestPulseT2(double seconds);
    Q_INVOKABLE void sendRequestDelay(double seconds);
    Q_INVOKABLE void sendRequestCount(double count);

    Q_INVOKABLE void setClicked();
    // 2 on the two-channel model (channels 1 and 4), else 4.
    Q_INVOKABLE int getChannels() const;

    // Column offset 0..3 of a source index: 1, 2, 3 keep theirs, anything else is channel 1.
    static int channelColumn(int sourceIndex);
    // Typed value to the request's int32: a quotient within a relative 1e-9 below an integer is
    // that integer, else truncation toward zero; saturates beyond the int32 range. False for NaN
    // (nothing is to be sent).
    static bool toRequestValue(double quotient, int32_t* out);

signals:
    void titleChanged();
    void dataChanged();
    void triggerTypeChanged();

public slots:
    void opacityChangedSlot();
    void screenMajSlot(int code);

private:
    void paramUpdate();
    void post(int code, int32_t value);
    void postQuotient(int code, double quotient);

    QString title_;
    int tsourceIndex_ = -1;
    int tcouplingIndex_ = -1;
    int tedgeIndex_ = -1;
    bool tnoiserejectValue_ = false;
    double tlevelValue_;
    double tmaxlevelValue_;
    double holdoffValue_;
    double maxholdoffValue_;
    double minholdoffValue_;
    int selectIndex_ = -1;
    int qsourceIndex_ = -1;
    int qcouplingIndex_ = -1;
    int qedgeIndex_ = -1;
    bool qnoiserejectValue_ = false;
    double qlevelValue_;
    double qmaxlevelValue_;
    int pulseIndex_ = -1;
    double t1Value_;
    double t1maxValue_;
    double t1minValue_;
    double t2Value_;
    double delayValue_;
    double delaymaxValue_;
    double delayminValue_;
    double countValue_;
    double countmaxValue_;
    double countminValue_;
    double triggerScale_;
    double qualifierScale_;
};
