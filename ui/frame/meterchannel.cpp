#include "ui/frame/meterchannel.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "network/user_int.h"
#include "ui/frame/homeview.h"
#include "ui/frame/metermeasurement.h"
#include "ui/frame/zinccolor.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>

#include <cmath>

MeterChannel::MeterChannel(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , borderPen_(Qt::white)
    , textPen_(Qt::white)
    , channelColour_(Qt::black)
    , title_(QStringLiteral("---"))
    , couplingText_(QStringLiteral("--"))
    , rangeText_(QStringLiteral("-----"))
    , valueText_(QStringLiteral("------"))
    , apparentText_(QStringLiteral("------"))
    , reactiveText_(QStringLiteral("------"))
    , powerFactorText_(QStringLiteral("------"))
    , line1_(QStringLiteral("---"))
    , line2_(QStringLiteral("---"))
{
    titleFont_.setPointSize(15);
    titleFont_.setWeight(75);
    valueFont_.setPointSize(35);
    valueFont_.setWeight(75);
    borderPen_.setWidth(5);
    textPen_.setWidth(5);
    setSize(QSizeF(355, 140));
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &MeterChannel::screenMajSlot);
    screenMajSlot(0);
}

MeterChannel::~MeterChannel()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &MeterChannel::screenMajSlot);
}

void MeterChannel::setColor(unsigned short paletteIndex)
{
    channelColour_ = getZincColor(paletteIndex);
    resetGradient();
    borderPen_.setColor(channelColour_);
}

void MeterChannel::resetGradient()
{
    background_ = QLinearGradient(width(), 0, 0, height());
    background_.setColorAt(0, Qt::lightGray);
    background_.setColorAt(1, Qt::black);
}

void MeterChannel::geometryChanged(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickPaintedItem::geometryChanged(newGeometry, oldGeometry);
    resetGradient();
}

void MeterChannel::init()
{
    reference_ = false;
    title_ = QStringLiteral("X");
    couplingText_ = QStringLiteral("--");
    rangeText_ = QStringLiteral("-----");
    valueText_.clear();
    apparentText_.clear();
    reactiveText_.clear();
    powerFactorText_.clear();
    line1_.clear();
    line2_.clear();
}

void MeterChannel::screenMajSlot(int parameter)
{
    switch (parameter) {
    case 0:
    case 29:
    case param::meterFunction:
        if (parameter != param::meterFunction)
            auxiliaryMode_ = data.meterAuxMeas;
        // The first channel's resistance, continuity, capacitance and diode have no frequency:
        // the relative value takes its place.
        if (auxiliaryMode_ == 0 && ((data.meterFunction >= 1 && data.meterFunction <= 4) || data.meterFunction == 16))
            auxiliaryMode_ = 2;
        break;
    case param::meterAuxMeas:
        auxiliaryMode_ = data.meterAuxMeas;
        break;
    default:
        return;
    }
    update();
}

void MeterChannel::copyReading(const MeterMeasurement& m, const QString& title)
{
    title_ = title;
    iconName_ = m.iconName();
    valueText_ = m.valueText();
    status_ = static_cast<short>(m.numericValue(&value_));
    switch (auxiliaryMode_) {
    case 1:
        line1_ = m.maxText();
        line2_ = m.minText();
        break;
    case 2:
        line1_.clear();
        line2_ = m.relativeText();
        break;
    case 0:
        line1_.clear();
        line2_ = m.frequencyText();
        break;
    default:
        break;
    }
}

void MeterChannel::trigger(MeterMeasurement* m)
{
    if (!m)
        return;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    copyReading(*m, m->title());
    couplingText_ = m->couplingText();
    rangeText_ = m->rangeText();
    rangeFlag_ = m->rangeFlag();
    bool parsed = false;
    const int n = title_.right(1).toInt(&parsed);
    reference_ = parsed && n >= 1 && n <= 16 && (data.measRefChannel & (1 << (n - 1))) != 0;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    update();
    setPelanodeMeterMeas(static_cast<int16_t>(parsed ? n - 1 : -1), rangeText_, couplingText_, valueText_, line1_,
                         line2_);
}

void MeterChannel::trigger(TAcquisition* t)
{
    if (!t)
        return;
    const int index = t->channelIndex;
    reference_ = index >= 0 && index < 16 && (data.measRefChannel & (1 << index)) != 0;
    const TScale kind = t->meterScale;
    if (kind == SCALE_OHMMETER || kind == SCALE_CAPACITANCE || kind == SCALE_DIODE)
        couplingText_.clear();
    else
        couplingText_ = MeterMeasurement::couplingText(t->meterCoupling);
    title_ = QStringLiteral("M") + QString::number(index + 1);
    double span = 0.0;
    t->GetMMRange(&span, nullptr, nullptr);
    rangeText_ = ScopePrintf(3, span / 2.0) + GetVerticalUnit(t, kind, true);
    setPelanodeMeterMeas(static_cast<int16_t>(index), rangeText_, couplingText_, valueText_, line1_, line2_);
    update();
}

void MeterChannel::paintFrame(QPainter* painter, qreal xRound, qreal yRound)
{
    const qreal w = width();
    const qreal h = height();
    painter->setRenderHint(QPainter::Antialiasing);
    // Every box's paint starts here.
    layout_.begin();
    layout_.fill(painter, QRectF(0, 0, w, h), channelColour_);
    painter->setPen(borderPen_);
    painter->setBrush(background_);
    if (xRound != 0.0)
        painter->drawRoundedRect(QRectF(2, 2, w - 4, h - 4), xRound, yRound, Qt::RelativeSize);
    else
        painter->drawRect(QRectF(2, 2, w - 4, h - 4));
}

QColor MeterChannel::readableOn(const QColor& behind, const QColor& preferred)
{
    // Perceived brightness (ITU-R BT.601 weights): a light background takes black, a dark
    // one the preferred colour when that is light enough, else white.
    auto brightness = [](const QColor& c) { return 0.299 * c.redF() + 0.587 * c.greenF() + 0.114 * c.blueF(); };
    const double gap = std::abs(brightness(behind) - brightness(preferred));
    if (gap >= 0.4)
        return preferred;
    return brightness(behind) > 0.5 ? QColor(Qt::black) : QColor(Qt::white);
}

QPixmap MeterChannel::icon() const
{
    if (iconName_.isEmpty())
        return QPixmap();
    return QPixmap(QStringLiteral(":/images/") + iconName_);
}

void MeterChannel::paintIconSquare(QPainter* painter, const QRectF& square)
{
    const QPixmap picture = icon();
    if (picture.isNull())
        return;
    painter->fillRect(square, channelColour_);
    painter->drawPixmap(square, picture, QRectF(picture.rect()));
}

void MeterChannel::paintRecorderFrame(QPainter* painter, qreal titleBaseline)
{
    const qreal w = width();
    const qreal h = height();
    paintFrame(painter, 0, 0);
    painter->setFont(titleFont_);
    if (reference_) {
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(QRectF(QPointF(w - 33, h - 25), QPointF(w - 18, h - 10)));
    }
    painter->drawText(QPointF(10, titleBaseline), title_);
}

void MeterChannel::paint(QPainter* painter)
{
    const qreal w = width();
    const qreal h = height();
    const int t = titleFont_.pointSize();
    const int v = valueFont_.pointSize();
    paintFrame(painter, 20, 50);

    painter->setFont(titleFont_);
    const QFontMetricsF titleMetrics(titleFont_, painter->device());
    layout_.text(painter, QPointF(15, t + 20), title_);
    if (rangeFlag_)
        painter->fillRect(QRectF(QPointF(65, 15), QPointF(titleMetrics.horizontalAdvance(rangeText_) + 74,
                                                          titleMetrics.height() + 9)),
                          channelColour_);

    painter->setPen(textPen_);
    if (rangeFlag_) {
        // On its rectangle of the channel colour (white for a channel that is off) the range
        // keeps the text colour only where that reads.
        QPen onColour = textPen_;
        onColour.setColor(readableOn(channelColour_, textPen_.color()));
        painter->setPen(onColour);
    }
    layout_.text(painter, QPointF(70, t + 20), rangeText_, rangeFlag_ ? channelColour_ : QColor());
    painter->setPen(textPen_);
    layout_.text(painter, QPointF(w - titleMetrics.horizontalAdvance(couplingText_) - 15, t + 20), couplingText_);
    layout_.text(painter, QPointF(20, v + 2 * t + 42), line1_);
    layout_.text(painter, QPointF(20, v + 3 * t + 52), line2_);

    painter->setFont(valueFont_);
    const QFontMetricsF valueMetrics(valueFont_, painter->device());
    layout_.text(painter, QPointF((w - valueMetrics.horizontalAdvance(valueText_)) / 2, t + v + 31), valueText_);

    paintIconSquare(painter, QRectF(w - 73, h - 58, 48, 48));
}
