// Pass/fail panel of the scope view: the source, the X and Y tolerances of the mask, the counter
// display and beep choices, on/off and run/stop, and whether the mask comes from a file. Each
// setter stores its value and sends it only when it differs from the setup.
#pragma once

#include <QQuickItem>
#include <QString>

class PassFail : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(int sourceIndex READ sourceIndex WRITE setSourceIndex NOTIFY dataChanged)
    Q_PROPERTY(float xMaskValue READ xMaskValue WRITE setXMaskValue NOTIFY dataChanged)
    Q_PROPERTY(float yMaskValue READ yMaskValue WRITE setYMaskValue NOTIFY dataChanged)
    Q_PROPERTY(int displayIndex READ displayIndex WRITE setDisplayIndex NOTIFY dataChanged)
    Q_PROPERTY(unsigned short beep READ beep WRITE setBeep NOTIFY dataChanged)
    Q_PROPERTY(unsigned short onOff READ onOff WRITE setOnOff NOTIFY dataChanged)
    Q_PROPERTY(unsigned short runStop READ runStop WRITE setRunStop NOTIFY dataChanged)
    Q_PROPERTY(unsigned short maskIsMemory READ maskIsMemory WRITE setMaskIsMemory NOTIFY dataChanged)
    Q_PROPERTY(QString counterValue READ counterValue NOTIFY counterValueChanged)

public:
    explicit PassFail(QQuickItem* parent = nullptr);
    ~PassFail() override;

    // A tolerance in divisions as the request's hundredths: a single-precision input a hair
    // below a hundredth (0.29 is 0.28999999) counts as that hundredth. False for NaN.
    static bool toHundredths(float value, int32_t* out);

    int sourceIndex() const { return sourceIndex_; }
    float xMaskValue() const { return xMaskValue_; }
    float yMaskValue() const { return yMaskValue_; }
    int displayIndex() const { return displayIndex_; }
    unsigned short beep() const { return beep_; }
    unsigned short onOff() const { return onOff_; }
    unsigned short runStop() const { return runStop_; }
    unsigned short maskIsMemory() const { return maskIsMemory_; }
    QString counterValue() const { return counterValue_; }
    void setSourceIndex(int value) { sourceIndex_ = value; }
    void setXMaskValue(float value) { xMaskValue_ = value; }
    void setYMaskValue(float value) { yMaskValue_ = value; }
    void setDisplayIndex(int value) { displayIndex_ = value; }
    void setBeep(unsigned short value) { beep_ = value; }
    void setOnOff(unsigned short value) { onOff_ = value; }
    void setRunStop(unsigned short value) { runStop_ = value; }
    void setMaskIsMemory(unsigned short value) { maskIsMemory_ = value; }

    // Every property from the setup; the counter shows "-". Emits nothing.
    Q_INVOKABLE void initPassFailParams();
    // 2 on the two-channel model, else 4.
    Q_INVOKABLE int getChannels() const;

    Q_INVOKABLE void sendRequestSource(int index);
    Q_INVOKABLE void sendRequestXMask(float value);
    Q_INVOKABLE void sendRequestYMask(float value);
    Q_INVOKABLE void sendRequestDisplay(int index);
    Q_INVOKABLE void sendRequestBeep(unsigned short value);
    Q_INVOKABLE void sendRequestOnOff(unsigned short value);
    Q_INVOKABLE void sendRequestRunStop(unsigned short value);
    // Sent even when unchanged.
    Q_INVOKABLE void sendRequestMaskIsMemory(unsigned short value);

signals:
    void dataChanged();
    void counterValueChanged();

public slots:
    void opacityChangedSlot();
    void screenMajSlot(int code);
    void screenRefreshSlot();

private:
    void sendTolerance(int code, float value, float* stored);

    int sourceIndex_ = 0;
    float xMaskValue_ = 0.0f;
    float yMaskValue_ = 0.0f;
    int displayIndex_ = 0;
    unsigned short beep_ = 0;
    unsigned short onOff_ = 0;
    unsigned short runStop_ = 0;
    unsigned short maskIsMemory_ = 0;
    QString counterValue_;
    bool shown_ = false;
};
