#include "ui/scope/tooltimebase.h"

#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "ui/frame/homeview.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

// Time-base index and sample duration of the live setup: a single shot or a record without
// repetitive sampling shows the hardware's own rate.
struct TTimebase {
    unsigned short index;
    float sample;
};

TTimebase timebase()
{
    const unsigned short i = static_cast<unsigned short>(data.timeBaseIndex);
    const bool real = data.trigMode == 2 || data.repSig == 0;
    return {i, real ? GetRealHorizontalScaleT(i) : GetHorizontalScaleT(i)};
}

} // namespace

ToolTimebase::ToolTimebase(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , framePen_(Qt::white, 5)
{
    font_.setPointSize(12);
    font_.setWeight(75);
    setAntialiasing(true);
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &ToolTimebase::screenMajSlot);
    // Texts from the start: the box must not stay empty until the first notice.
    screenMajSlot(0);
}

ToolTimebase::~ToolTimebase() = default;

void ToolTimebase::setColor(const QColor& colour)
{
    const bool changed = colour != colour_;
    colour_ = colour;
    background_ = QLinearGradient(width(), 0, 0, height());
    background_.setColorAt(0, Qt::lightGray);
    background_.setColorAt(1, Qt::black);
    update();
    if (changed)
        emit colorChanged();
}

void ToolTimebase::screenMajSlot(int)
{
    const TTimebase t = timebase();
    duration_ = QChar(0x2190) + ScopePrintf(2, GetAcquisitionLength(t.index)) + tr("s") + QChar(0x2192);
    division_ = ScopePrintf(2, GetHorizontalDiv(t.index)) + QString::fromLatin1(GetHorizontalUnit()) + tr("/div");
    rate_ = ScopePrintf(2, 1.0 / static_cast<double>(t.sample)) + tr("ech") + QStringLiteral("/s");
    update();
}

void ToolTimebase::paint(QPainter* painter)
{
    const qreal w = width();
    const qreal h = height();
    background_.setStart(w, 0);
    background_.setFinalStop(0, h);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(background_);
    painter->setPen(framePen_);
    painter->drawRoundedRect(QRectF(0, 0, w, h), 20, 40, Qt::RelativeSize);

    painter->setFont(font_);
    const QFontMetricsF metrics(font_);
    const int s = font_.pointSize();
    const int m = static_cast<int>((h - 3 * s) / 4);
    auto centred = [&](const QString& text, int baseline) {
        painter->drawText(QPointF(std::floor((w - metrics.horizontalAdvance(text)) / 2), baseline), text);
    };
    centred(duration_, m + s);
    centred(rate_, 2 * (m + s));
    centred(division_, 3 * s + 3 * m);
}

std::string ToolTimebase::getPelanodeInfos()
{
    const TTimebase t = timebase();
    QString text = ScopePrintf(2, GetAcquisitionLength(t.index)) + QStringLiteral("s,")
        + ScopePrintf(2, 1.0 / static_cast<double>(t.sample)) + tr("ech") + QStringLiteral("/s,")
        + ScopePrintf(2, GetHorizontalDiv(t.index)) + QString::fromLatin1(GetHorizontalUnit()) + tr("/div")
        + QStringLiteral(",");
    text.replace(QChar(0x03BC), QLatin1Char('u'));
    return text.toStdString();
}
