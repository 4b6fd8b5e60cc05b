#include "ui/meter/meterstatusline.h"

#include "core/gest_db.h"
#include "core/setupparam.h"
#include "network/user_int.h"
#include "ui/frame/homeview.h"

#include <QFontMetrics>
#include <QPainter>

MeterStatusLine::MeterStatusLine(QQuickItem* parent)
    : StatusLine(parent)
{
    font_.setPointSize(12);
    font_.setWeight(75);
    pen_.setColor(Qt::white);
    triggerText_.clear();
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &MeterStatusLine::screenMajSlot);
    connect(&fugitiveTimer_, &QTimer::timeout, this, &MeterStatusLine::fugitiveDisplayEndSlot);
}

MeterStatusLine::~MeterStatusLine()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &MeterStatusLine::screenMajSlot);
    disconnect(&fugitiveTimer_, &QTimer::timeout, this, &MeterStatusLine::fugitiveDisplayEndSlot);
}

void MeterStatusLine::screenMajSlot(int parameter)
{
    triggerText_ = data.acqRunStop != 0 ? tr("stop") : tr("running");
    if (getSetupParam(&data, parameter, &misc1_)) {
        misc2_.clear();
        fugitiveTimer_.start();
    }
    update();
    setPelanodeTriggerStatus(triggerText_);
}

void MeterStatusLine::fugitiveDisplayEndSlot()
{
    misc1_.clear();
    misc2_.clear();
    update();
    setPelanodeMisc(misc1_, misc2_);
}

void MeterStatusLine::paint(QPainter* painter)
{
    layout_.begin();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setFont(font_);
    painter->setPen(pen_);

    const int w = static_cast<int>(width());
    const int textWidth = QFontMetrics(font_, painter->device()).horizontalAdvance(triggerText_);
    layout_.text(painter, QPointF(w - textWidth - 50, 12), triggerText_);

    drawIcons(painter, QRect(w - 160, kBatteryTop, 100, 18));

    const int size = font_.pointSize();
    drawFields(painter, font_, misc1_, size + 2);
    drawFields(painter, font_, misc2_, 2 * size + 5);
}
