// Painted box of one multimeter channel: title, range, coupling, the value in a large font, two
// auxiliary lines (frequency, minimum and maximum, or relative value) and the function icon.
// Holds copies of texts only, taken from a measurement or a recorded trace, and publishes them
// to the web service's status cache.
#pragma once

#include "ui/frame/paintedlayout.h"

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPen>
#include <QQuickPaintedItem>
#include <QString>

class MeterMeasurement;
class TAcquisition;

class MeterChannel : public QQuickPaintedItem, public PaintedLayoutSource {
    Q_OBJECT

public:
    explicit MeterChannel(QQuickItem* parent = nullptr);
    ~MeterChannel() override;

    // Channel colour from the palette; gradient and border follow.
    void setColor(unsigned short paletteIndex);
    // A box for a channel without data.
    void init();
    // Copies the measurement's texts (under the results lock), repaints and publishes them.
    void trigger(MeterMeasurement* m);
    // Viewer form: reference, coupling, title and range of a recorded trace.
    void trigger(TAcquisition* t);

    void paint(QPainter* painter) override;
    const PaintedLayout& paintedLayout() const override { return layout_; }

    const QString& title() const { return title_; }
    const QString& iconName() const { return iconName_; }
    bool isReference() const { return reference_; }
    const QString& couplingText() const { return couplingText_; }
    const QString& rangeText() const { return rangeText_; }
    bool rangeFlag() const { return rangeFlag_; }
    const QString& valueText() const { return valueText_; }
    const QString& apparentText() const { return apparentText_; }
    const QString& reactiveText() const { return reactiveText_; }
    const QString& powerFactorText() const { return powerFactorText_; }
    const QString& line1() const { return line1_; }
    const QString& line2() const { return line2_; }
    short auxiliaryMode() const { return auxiliaryMode_; }
    short status() const { return status_; }
    float value() const { return value_; }
    QColor channelColour() const { return channelColour_; }
    const QFont& titleFont() const { return titleFont_; }
    const QFont& valueFont() const { return valueFont_; }

public slots:
    void screenMajSlot(int parameter);

protected:
    // The gradient follows the size (a panel may resize a box after creating it).
    void geometryChanged(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    // The gradient across the item's current size.
    void resetGradient();
    // Title, icon, value text and status of a reading, and its auxiliary lines for the current
    // mode (the caller holds the results lock).
    void copyReading(const MeterMeasurement& m, const QString& title);
    // Background of every box: the channel colour, then the framed gradient (rounded when
    // xRound is not 0).
    void paintFrame(QPainter* painter, qreal xRound, qreal yRound);
    // A text colour that reads on the background: the preferred one when it differs enough in
    // brightness, else black or white.
    static QColor readableOn(const QColor& behind, const QColor& preferred);
    // The picture of the icon name, null when it does not load.
    QPixmap icon() const;
    // The icon into its square filled with the channel colour, when it loads.
    void paintIconSquare(QPainter* painter, const QRectF& square);
    // Frame of the recorder and viewer boxes: plain rectangle, reference circle, the title at
    // (10, titleBaseline) in the border pen; leaves the title font set.
    void paintRecorderFrame(QPainter* painter, qreal titleBaseline);

    QFont titleFont_;
    QFont valueFont_;
    QLinearGradient background_;
    QPen borderPen_;
    QPen textPen_;
    QColor channelColour_;
    QString title_;
    QString iconName_;
    bool reference_ = false;
    QString couplingText_;
    QString rangeText_;
    bool rangeFlag_ = false;
    QString valueText_;
    QString apparentText_;
    QString reactiveText_;
    QString powerFactorText_;
    QString line1_;
    QString line2_;
    short auxiliaryMode_ = 1;
    short status_ = 2;
    float value_ = 0.0f;
    PaintedLayout layout_;
};
