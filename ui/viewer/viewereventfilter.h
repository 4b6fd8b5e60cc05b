// The viewer's event filter: the setup's event source, type, levels and duration in the units of
// the source trace, and the requests that change them.
#pragma once

#include <QMetaObject>
#include <QQuickItem>
#include <QString>

class ViewerEventFilter : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(int sourceIndex MEMBER sourceIndex_ NOTIFY dataChanged)
    Q_PROPERTY(int typeIndex MEMBER typeIndex_ NOTIFY dataChanged)
    Q_PROPERTY(double level1Value MEMBER level1Value_ NOTIFY dataChanged)
    Q_PROPERTY(double maxLevel1Value MEMBER maxLevel1Value_ NOTIFY dataChanged)
    Q_PROPERTY(double level2Value MEMBER level2Value_ NOTIFY dataChanged)
    Q_PROPERTY(double maxLevel2Value MEMBER maxLevel2Value_ NOTIFY dataChanged)
    Q_PROPERTY(double durationValue MEMBER durationValue_ NOTIFY dataChanged)
    Q_PROPERTY(double maxDurationValue MEMBER maxDurationValue_ NOTIFY dataChanged)
    Q_PROPERTY(QString verticalUnit MEMBER verticalUnit_ NOTIFY dataChanged)

public:
    explicit ViewerEventFilter(QQuickItem* parent = nullptr);
    ~ViewerEventFilter() override;

    Q_INVOKABLE void sendRequestSource(int i);
    Q_INVOKABLE void sendRequestType(int i);
    // Levels in the source trace's units; nothing is posted when the trace gives no scale.
    Q_INVOKABLE void sendRequestLevel1(double v);
    Q_INVOKABLE void sendRequestLevel2(double v);
    // Seconds, posted in samples of 0.2 s.
    Q_INVOKABLE void sendRequestDuration(double s);
    // Refills every property from the setup.
    Q_INVOKABLE void initFilterParams();

signals:
    void dataChanged();
    // Events found; -1 when no search result is to be shown.
    void counterChanged(int n);

public slots:
    void screenMajSlot(int code);
    void opacityChangedSlot();

private:
    void sendLevel(int levelCode, int cursorCode, double v);

    int sourceIndex_ = -1;
    int typeIndex_ = -1;
    double level1Value_;
    double maxLevel1Value_;
    double level2Value_;
    double maxLevel2Value_;
    double durationValue_;
    double maxDurationValue_;
    QString verticalUnit_;
    QMetaObject::Connection screenMaj_;
};
