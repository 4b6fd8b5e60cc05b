// The scope view's table of the 20 automatic measurements of all four channels side by side,
// scrolled by dragging. Shown, it makes the instrument measure every channel.
#pragma once

#include "ui/traces/automeascomputethread.h"

#include <QColor>
#include <QFont>
#include <QPen>
#include <QQuickPaintedItem>
#include <QStringList>

#include <cstdint>

class AutomeasType : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QStringList measurementListCh1 READ measurementListCh1 NOTIFY measurementListCh1Changed)
    Q_PROPERTY(QStringList measurementListCh2 READ measurementListCh2 NOTIFY measurementListCh2Changed)
    Q_PROPERTY(QStringList measurementListCh3 READ measurementListCh3 NOTIFY measurementListCh3Changed)
    Q_PROPERTY(QStringList measurementListCh4 READ measurementListCh4 NOTIFY measurementListCh4Changed)

public:
    static constexpr int kColumns = 4;
    static constexpr int kLineHeight = 22;

    explicit AutomeasType(QQuickItem* parent = nullptr);
    ~AutomeasType() override;

    // Copies taken under o_g_autoMeasMutex.
    QStringList measurementListCh1() const { return list(0); }
    QStringList measurementListCh2() const { return list(1); }
    QStringList measurementListCh3() const { return list(2); }
    QStringList measurementListCh4() const { return list(3); }
    QStringList list(int column) const;

    QColor columnColour(int column) const { return colours_[column]; }
    int firstLine() const { return firstLine_; }

    void paint(QPainter* painter) override;

signals:
    void measurementListCh1Changed();
    void measurementListCh2Changed();
    void measurementListCh3Changed();
    void measurementListCh4Changed();

public slots:
    void opacityChangedSlot();
    void screenMajSlot(int code);
    void screenAutomaticMeasurementSlot();
    void screenRefreshSlot();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void connectAll(bool on);

    QColor colours_[kColumns];
    QFont font_;
    QPen pen_;
    int16_t firstLine_ = 0;
    int16_t pressY_ = -1;
    QStringList lists_[kColumns];
    AutomeasComputeThread* workers_[kColumns];
    bool shown_ = false;  // acts only on a change between opacity 0 and non-zero
};
