#include "ui/harmonic/toolpower.h"

#include "core/gest_db.h"
#include "ui/frame/homeview.h"

#include <QFontMetricsF>
#include <QPainter>

ToolPower::ToolPower(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , colour_(Qt::white)
    , framePen_(Qt::white)
    , textPen_(Qt::white)
    , title_(tr("Power"))
{
    smallFont_.setPointSize(12);
    smallFont_.setWeight(75);
    titleFont_.setPointSize(20);
    titleFont_.setWeight(75);
    framePen_.setWidth(5);
    textPen_.setWidth(5);
    setColor(colour_);
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &ToolPower::screenMajSlot);
    update();
}

ToolPower::~ToolPower()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &ToolPower::screenMajSlot);
}

void ToolPower::setColor(const QColor& c)
{
    colour_ = c;
    background_ = QLinearGradient(width(), 0, 0, height());
    background_.setColorAt(0, Qt::lightGray);
    background_.setColorAt(1, Qt::black);
    framePen_.setColor(colour_);
}

void ToolPower::geometryChanged(const QRectF& newGeometry, const QRectF& oldGeometry)
{
    QQuickPaintedItem::geometryChanged(newGeometry, oldGeometry);
    setColor(colour_);
}

void ToolPower::update(QColor c, bool on)
{
    setColor(on ? c : QColor(Qt::white));
}

void ToolPower::screenMajSlot(int)
{
    update(Qt::yellow, data.harmPower != 0);
    update();
}

void ToolPower::paint(QPainter* painter)
{
    const qreal w = width();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(background_);
    painter->setPen(framePen_);
    painter->drawRoundedRect(QRectF(0, 0, w, height()), 20, 40, Qt::RelativeSize);
    painter->setFont(titleFont_);
    painter->setPen(textPen_);
    const qreal titleWidth = QFontMetricsF(titleFont_, painter->device()).horizontalAdvance(title_);
    painter->drawText(QPointF(w - 5 - titleWidth, titleFont_.pointSize() + 10), title_);
}
