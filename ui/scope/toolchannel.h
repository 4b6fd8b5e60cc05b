// Box of the scope's tuning bar that sums up one input channel: name, coupling, full-scale
// range, bandwidth limit and value per division, and a ring on the reference channel of the
// automatic measurements. Also gives the web service its channel summary.
#pragma once

#include "ui/frame/paintedlayout.h"

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPen>
#include <QQuickPaintedItem>
#include <QString>

#include <string>

class TAcquisition;
class TFonction;

class ToolChannel : public QQuickPaintedItem, public PaintedLayoutSource {
    Q_OBJECT
    Q_PROPERTY(int identifier READ identifier WRITE setIdentifier NOTIFY identifierChanged)
    Q_PROPERTY(int physicalChannels READ physicalChannels)

public:
    // Kind of source shown by the box (index into the name prefixes "CH", "F", "M").
    enum TKind : unsigned short { KindChannel = 0, KindFunction = 1, KindMemory = 2 };

    explicit ToolChannel(QQuickItem* parent = nullptr);
    ~ToolChannel() override;

    int identifier() const { return identifier_; }
    // Channel index 0..3 (others are clamped); the box is rebuilt for it.
    void setIdentifier(int index);
    // The channels the hardware has (hwChannelMask), read live.
    static int physicalChannels();

    // Rebuilds the texts and the frame colour (white when not shown) from the trace and
    // coefficient of the box.
    void update(unsigned short kind, QColor colour, bool shown, unsigned short range, unsigned short coupling,
                int bandwidth);
    using QQuickPaintedItem::update;
    void setColor(const QColor& colour);

    void paint(QPainter* painter) override;
    const PaintedLayout& paintedLayout() const override { return layout_; }

    // Comma-terminated summary of channel index 0..3 in UTF-8 (µ written "u"); empty for
    // any other index.
    static std::string getPelanodeInfos(unsigned short channel);

    // What the box shows.
    const QString& nameText() const { return name_; }
    const QString& couplingText() const { return coupling_; }
    const QString& bandwidthText() const { return bandwidth_; }
    const QString& rangeText() const { return range_; }
    const QString& divisionText() const { return division_; }
    QColor frameColour() const { return frameColour_; }
    bool isReference() const { return reference_; }

public slots:
    void screenMajSlot(int code);

signals:
    // Declared for QML; the panel emits its own signal of that name.
    void channelClickedSignal(int physicalChannels, int identifier);
    void identifierChanged();

private:
    PaintedLayout layout_;
    // Reads the source of the box from the setup and rebuilds it.
    void rebuild();

    QFont smallFont_;
    QFont nameFont_;
    QLinearGradient background_;
    QPen framePen_;
    QPen textPen_;
    QString name_;
    QString coupling_;
    QString bandwidth_;
    QString range_;
    QString division_;
    unsigned short identifier_ = 0;
    QColor frameColour_;
    bool reference_ = false;
    TAcquisition* trace_ = nullptr;
    TFonction* function_ = nullptr;
    float coefficient_ = 1.0f;
};
