// Vertical panel of the scope view: the settings of one channel (sensitivity, coupling, bandwidth
// limit, probe coefficient, unit, smart-probe button function and colour) and the rule of a click
// on a channel box (switch the channel on, make it the reference, or switch it off).
#pragma once

#include <QColor>
#include <QQuickItem>
#include <QString>
#include <QStringList>

class ScopeVertical : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY dataChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY dataChanged)
    Q_PROPERTY(int sensIndex READ sensIndex WRITE setSensIndex NOTIFY dataChanged)
    Q_PROPERTY(int couplingIndex READ couplingIndex WRITE setCouplingIndex NOTIFY dataChanged)
    Q_PROPERTY(int bwLimitIndex READ bwLimitIndex WRITE setBwLimitIndex NOTIFY dataChanged)
    Q_PROPERTY(float probeCoeff READ probeCoeff WRITE setProbeCoeff NOTIFY dataChanged)
    Q_PROPERTY(QString unit READ unit WRITE setUnit NOTIFY dataChanged)
    Q_PROPERTY(int kalvexButtonIndex READ kalvexButtonIndex WRITE setKalvexButtonIndex NOTIFY dataChanged)
    Q_PROPERTY(int kalvexColorIndex READ kalvexColorIndex WRITE setKalvexColorIndex NOTIFY dataChanged)

public:
    // A unit buffer: 3 bytes (what the controller keeps) and a NUL.
    static constexpr int kUnitBytes = 3;
    static constexpr int kBufferRing = 128;
    static const float kSensitivities[16];
    // Palette index sent for each entry of the colour selector.
    static const int kColourTable[4];

    explicit ScopeVertical(QQuickItem* parent = nullptr);
    ~ScopeVertical() override;

    // Non-zero: the panel is to be shown for that channel (0..3).
    Q_INVOKABLE int setClickedChannel(int channel);

    Q_INVOKABLE void sendRequestSensibility(int index);
    Q_INVOKABLE void sendRequestCoupling(int index);
    Q_INVOKABLE void sendRequestBwLimit(int index);
    Q_INVOKABLE void sendRequestProbeCoeff(float coefficient);
    Q_INVOKABLE void sendRequestMeasUnit(QString unit);
    Q_INVOKABLE void sendRequestKalvex(int button, int colour);
    // 1 when the channel's smart probe is an active probe with buttons.
    Q_INVOKABLE int isButtonSelectPossible() const;
    // One text per sensitivity: volts per division times the probe coefficient, and the unit.
    Q_INVOKABLE QStringList getSensitivityList() const;

    QString title() const { return title_; }
    QColor color() const { return color_; }
    int sensIndex() const { return sensIndex_; }
    int couplingIndex() const { return couplingIndex_; }
    int bwLimitIndex() const { return bwLimitIndex_; }
    float probeCoeff() const { return probeCoeff_; }
    // '{' reads as the ohm sign, U+FFFD as the degree sign.
    QString unit() const;
    int kalvexButtonIndex() const { return kalvexButtonIndex_; }
    int kalvexColorIndex() const { return kalvexColorIndex_; }
    void setColor(const QColor& value) { color_ = value; }
    void setSensIndex(int value) { sensIndex_ = value; }
    void setCouplingIndex(int value) { couplingIndex_ = value; }
    void setBwLimitIndex(int value) { bwLimitIndex_ = value; }
    void setProbeCoeff(float value) { probeCoeff_ = value; }
    void setUnit(const QString& value) { unit_ = value; }
    void setKalvexButtonIndex(int value) { kalvexButtonIndex_ = value; }
    void setKalvexColorIndex(int value) { kalvexColorIndex_ = value; }

    int clickedChannel() const { return clickedChannel_; }
    int selectedChannel() const { return selectedChannel_; }
    // The colour selector's entry of a palette index: 4 -> 1, 1 -> 2, 5 -> 3, else 0.
    static int colourIndexOf(int paletteIndex);
    // The unit text cut to at most `bytes` bytes of UTF-8 on a character boundary.
    static QByteArray cutUtf8(const QString& text, int bytes);

signals:
    void dataChanged();

public slots:
    void opacityChangedSlot();
    void screenMajSlot(int code);

private:
    void refresh();

    int clickedChannel_ = 0;
    QString title_;
    QColor color_ = QColor(Qt::gray);
    int sensIndex_ = -1;
    int couplingIndex_ = -1;
    int bwLimitIndex_ = -1;
    float probeCoeff_ = 1.0f;
    QString unit_;
    int kalvexButtonIndex_ = -1;
    int kalvexColorIndex_ = -1;
    int selectedChannel_ = -1;
    int displayCode_ = 0;
    int sensitivityCode_ = 0;
    int couplingCode_ = 0;
    int bwLimitCode_ = 0;
    int probeCode_ = 0;
    int unitCode_ = 0;
    int colourCode_ = 0;
    bool shown_ = false;
    // Each unit request gets the next buffer: a request may wait in the controller's box.
    char unitBuffers_[kBufferRing][kUnitBytes + 1] = {};
    int nextUnitBuffer_ = 0;
};
