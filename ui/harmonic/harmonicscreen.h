// The harmonic bar graph: orders 0-63 side by side, the four channels' bars in each order's slot
// (or the power bars alone when the power display is on), and a marker under and over the
// selected order.
#pragma once

#include <QMetaObject>
#include <QQuickPaintedItem>

#include <cstdint>

class HarmonicTrace;

class HarmonicScreen : public QQuickPaintedItem {
    Q_OBJECT

public:
    explicit HarmonicScreen(QQuickItem* parent = nullptr);
    ~HarmonicScreen() override;

    void paint(QPainter* painter) override;

    int16_t markerOrder() const { return markerOrder_; }
    HarmonicTrace* trace(int i) const { return traces_[i]; }

public slots:
    // Called by the QML item once completed.
    void init();
    void screenMajSlot(int code);
    void displayKalvexSlot();
    void screenRefreshSlot();

private:
    int16_t markerOrder_ = 0;
    HarmonicTrace* traces_[5] = {};
    QMetaObject::Connection connections_[3];
};
