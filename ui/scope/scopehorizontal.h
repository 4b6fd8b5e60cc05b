// Horizontal panel of the scope view: the time base, the acquisition options, the display format
// and the FFT and XY settings as selector indices, and one parameter request per choice. The
// panel shows a value only once the controller has applied it and announced the change.
#pragma once

#include <QQuickItem>
#include <QString>

class ScopeHorizontal : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY titleChanged)
    Q_PROPERTY(int timebaseIndex READ timebaseIndex WRITE setTimebaseIndex NOTIFY valuesChanged)
    Q_PROPERTY(bool savrelValue READ savrelValue WRITE setSavrelValue NOTIFY valuesChanged)
    Q_PROPERTY(bool minmaxValue READ minmaxValue WRITE setMinmaxValue NOTIFY valuesChanged)
    Q_PROPERTY(bool repsigValue READ repsigValue WRITE setRepsigValue NOTIFY valuesChanged)
    Q_PROPERTY(int averageIndex READ averageIndex WRITE setAverageIndex NOTIFY valuesChanged)
    Q_PROPERTY(int modeIndex READ modeIndex WRITE setModeIndex NOTIFY valuesChanged)
    Q_PROPERTY(int typeIndex READ typeIndex WRITE setTypeIndex NOTIFY valuesChanged)
    Q_PROPERTY(int windowIndex READ windowIndex WRITE setWindowIndex NOTIFY valuesChanged)
    Q_PROPERTY(int scaleIndex READ scaleIndex WRITE setScaleIndex NOTIFY valuesChanged)
    Q_PROPERTY(int xSourceIndex READ xSourceIndex WRITE setXSourceIndex NOTIFY valuesChanged)
    Q_PROPERTY(int ySourceIndex READ ySourceIndex WRITE setYSourceIndex NOTIFY valuesChanged)

public:
    explicit ScopeHorizontal(QQuickItem* parent = nullptr);
    ~ScopeHorizontal() override;

    // The panel's four trace modes and the setup's mode numbers. indexToMode gives -1 for an
    // index outside 0..3.
    static int indexToMode(int index);
    static int modeToIndex(int mode);

    QString title() const { return title_; }
    int timebaseIndex() const { return timebaseIndex_; }
    void setTimebaseIndex(int value) { timebaseIndex_ = value; }
    bool savrelValue() const { return savrelValue_; }
    void setSavrelValue(bool value) { savrelValue_ = value; }
    bool minmaxValue() const { return minmaxValue_; }
    void setMinmaxValue(bool value) { minmaxValue_ = value; }
    bool repsigValue() const { return repsigValue_; }
    void setRepsigValue(bool value) { repsigValue_ = value; }
    int averageIndex() const { return averageIndex_; }
    void setAverageIndex(int value) { averageIndex_ = value; }
    int modeIndex() const { return modeIndex_; }
    void setModeIndex(int value) { modeIndex_ = value; }
    int typeIndex() const { return typeIndex_; }
    void setTypeIndex(int value) { typeIndex_ = value; }
    int windowIndex() const { return windowIndex_; }
    void setWindowIndex(int value) { windowIndex_ = value; }
    int scaleIndex() const { return scaleIndex_; }
    void setScaleIndex(int value) { scaleIndex_ = value; }
    int xSourceIndex() const { return xSourceIndex_; }
    void setXSourceIndex(int value) { xSourceIndex_ = value; }
    int ySourceIndex() const { return ySourceIndex_; }
    void setYSourceIndex(int value) { ySourceIndex_ = value; }

    Q_INVOKABLE void sendRequestTimeBase(int index);
    Q_INVOKABLE void sendRequestSavRel(bool on);
    Q_INVOKABLE void sendRequestMinMax(bool on);
    Q_INVOKABLE void sendRequestRepsig(bool on);
    Q_INVOKABLE void sendRequestAverage(int index);
    Q_INVOKABLE void sendRequestMode(int index);
    Q_INVOKABLE void sendRequestType(int index);
    Q_INVOKABLE void sendRequestWindow(int index);
    Q_INVOKABLE void sendRequestFftVerticalScale(int index);
    Q_INVOKABLE void sendRequestXSource(int index);
    Q_INVOKABLE void sendRequestYSource(int index);

signals:
    void titleChanged();
    // The values' notice for QML bindings; a write from QML stores without it.
    void valuesChanged();
    void dataChanged(bool domainUpdate);

public slots:
    // Every setup change reloads the whole panel.
    void screenMajSlot();

private:
    QString title_;
    int timebaseIndex_ = -1;
    bool savrelValue_ = false;
    bool minmaxValue_ = false;
    bool repsigValue_ = false;
    int averageIndex_ = -1;
    int modeIndex_ = -1;
    int typeIndex_ = -1;
    int windowIndex_ = -1;
    int scaleIndex_ = -1;
    int xSourceIndex_ = -1;
    int ySourceIndex_ = -1;
    QMetaObject::Connection majConnection_;
};
