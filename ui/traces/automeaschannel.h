// The measurement back end (identifier -> raw value -> scaled value and text) and the scope
// view's box of the 20 automatic measurements of the reference channel.
#pragma once

#include "ui/frame/paintedlayout.h"

#include "ui/traces/automeascomputethread.h"

#include <QColor>
#include <QFont>
#include <QPen>
#include <QQuickPaintedItem>
#include <QString>
#include <QStringList>

class TAcquisition;
struct mesures;

class AutoMeasChannel : public QQuickPaintedItem, public PaintedLayoutSource {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY titleChanged)
    Q_PROPERTY(QStringList measurementList READ measurementList NOTIFY measurementListChanged)

public:
    explicit AutoMeasChannel(QQuickItem* parent = nullptr);
    ~AutoMeasChannel() override;

    // Back end. None of these takes o_g_autoMeasMutex: callers that read live records hold it.
    // Raw value of id (samples or codes); 1 when valid, else 0 with *raw = 0. raw may be null.
    static int getMeasurementValue(unsigned short id, TAcquisition* trace, mesures* record, float* raw);
    // Scaled value and text ("----- " and 0 when false). text and value may be null.
    static bool getMeasurement(unsigned short id, TAcquisition* trace, mesures* record, QString* text,
                               float* value);
    // Trace and record of a channel bit (1, 2, 4, 8 -> channels 1-4; 8192 -> the power trace;
    // other -> none), from the run-time links.
    static bool getMeasurement(unsigned short channel, unsigned short id, QString* text, float* value);
    // The trace and record that a channel bit selects (null when none or no link).
    static void channelSources(unsigned short channel, TAcquisition** trace, mesures** record);

    QString title() const { return title_; }
    // A copy taken under o_g_autoMeasMutex.
    QStringList measurementList() const;
    QColor color() const { return color_; }
    int selectedCell() const { return selected_; }

    void paint(QPainter* painter) override;
    const PaintedLayout& paintedLayout() const override { return layout_; }

signals:
    void titleChanged();
    void measurementListChanged();

public slots:
    void opacityChangedSlot();
    void screenMajSlot(int code);
    void screenAutomaticMeasurementSlot();
    void screenRefreshSlot();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    PaintedLayout layout_;
    void connectRoot(bool on);

    QString title_;
    QColor color_;
    QFont font_;
    QPen pen_;
    QStringList list_;
    AutomeasComputeThread* worker_;
    int16_t selected_ = -1;
    bool shown_ = false;  // acts only on a change between opacity 0 and non-zero
};
