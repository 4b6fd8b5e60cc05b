// The row of channel boxes of the recorder and viewer modes: which boxes and measurements exist
// for the meter function and the installed channels, their colours, and the values of a recalled
// recording under the first cursor. The base of the recorder and meter panels.
#pragma once

#include <QMetaObject>
#include <QQuickItem>

#include <cstdint>

class MeterChannel;
class MeterMeasurement;
class PowerChannel;
class PowerMeasurement;
class TAcquisition;

class ViewerPanel : public QQuickItem {
    Q_OBJECT

public:
    // Panel flags: bits 0-3 live channels, 8-11 recalled memory traces, this bit the power box.
    static constexpr uint16_t kPowerBit = 0x2000;

    explicit ViewerPanel(QQuickItem* parent = nullptr);
    ~ViewerPanel() override;

    // The panel flags from meterFunction and channelFlags.
    void setChannels();
    // setChannels(), then each box shows its live measurement, its recalled trace or nothing.
    void refresh();

    uint16_t channels() const { return channels_; }
    MeterChannel* box(int i) const { return boxes_[i]; }
    PowerChannel* powerBox() const { return powerBox_; }
    MeterMeasurement* measurement(int i) const { return measurements_[i]; }
    PowerMeasurement* powerMeasurement() const { return powerMeasurement_; }

    // The trace of channel 0..3 from the setup's links (may be null).
    static TAcquisition* channelTrace(int i);

public slots:
    virtual void setLayout();
    virtual void displayKalvexSlot();
    virtual void screenMajSlot(int code);
    void displayCursorValueSlot();

protected:
    // Deletes every box and measurement and clears the pointers.
    void clearLayout();
    // Box classes of a layout; the recorder's differ.
    virtual MeterChannel* makeChannelBox(bool power);
    virtual PowerChannel* makePowerBox();
    // Steps shared by every layout: the old objects deleted, then a measurement and a box per
    // channel the function shows, the power measurement and box, channel 1's icon.
    void createBoxes();
    // The recorder's layout: createBoxes(), then the row's positions and height.
    void buildRowLayout();
    // Each box's colour: the trace colour when its flag (memoryTraceCh or traceOnCh) is set.
    void applyColours(bool memoryFlags);

    uint16_t channels_ = 0;
    MeterChannel* boxes_[4] = {nullptr, nullptr, nullptr, nullptr};
    PowerChannel* powerBox_ = nullptr;
    MeterMeasurement* measurements_[4] = {nullptr, nullptr, nullptr, nullptr};
    PowerMeasurement* powerMeasurement_ = nullptr;
    QMetaObject::Connection connections_[3];
};

// The channel-1 icon of a meter function (1-4), empty for the others.
const char* channelOneIcon(int meterFunction);
