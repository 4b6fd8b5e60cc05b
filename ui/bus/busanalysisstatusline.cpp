#include "ui/bus/busanalysisstatusline.h"

#include "core/gest_db.h"
#include "network/user_int.h"
#include "ui/frame/homeview.h"
#include "ui/frame/scopestatusline.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>

#include <cstring>

namespace {

// The words of the state text in this line's catalogue context; state 0 reads "stop" here.
[[maybe_unused]] const char* const kTriggerWords[] = {
    QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "running"), QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "pretrig"),
    QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "waiting qualifier"), QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "delay"),
    QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "waiting trigger"), QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "postrig"),
    QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "end"), QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "stop"),
    QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "ch"), QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "line"),
    QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "extern"), QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "auto"),
    QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "trig'd"), QT_TRANSLATE_NOOP("BusAnalysisStatusLine", "sgl"),
};

} // namespace

BusAnalysisStatusLine::BusAnalysisStatusLine(QQuickItem* parent)
    : StatusLine(parent)
{
    busFont_.setPointSize(12);
    busFont_.setWeight(75);
    busPen_.setColor(Qt::white);
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &BusAnalysisStatusLine::screenMajSlot);
}

BusAnalysisStatusLine::~BusAnalysisStatusLine()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &BusAnalysisStatusLine::screenMajSlot);
}

QString BusAnalysisStatusLine::busFileNameOf(const database& setup)
{
    // A recalled setup may fill the whole field without a terminator.
    return QString::fromUtf8(setup.busFileName, static_cast<int>(strnlen(setup.busFileName, sizeof setup.busFileName)));
}

void BusAnalysisStatusLine::screenMajSlot(int parameter)
{
    statusText_ = ScopeStatusLine::composeTriggerStatus(data, "BusAnalysisStatusLine", "stop");
    if (parameter == 0 || parameter == param::busFileName)
        busFileText_ = busFileNameOf(data);
    update();
    setPelanodeTriggerStatus(statusText_);
}

void BusAnalysisStatusLine::paint(QPainter* painter)
{
    layout_.begin();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QFont font = busFont_;
    font.setWeight(50);
    font.setItalic(false);
    painter->setFont(font);
    painter->setPen(busPen_);

    const int w = static_cast<int>(width());
    const int advance = QFontMetrics(font, painter->device()).horizontalAdvance(statusText_);
    layout_.text(painter, QPointF(w - advance - 50, 12), statusText_);

    // Below the status text (the meter's place): at the top it would cover the text's end.
    drawIcons(painter, QRect(w - 160, kBatteryTop, 100, 18));

    font.setWeight(75);
    font.setItalic(true);
    painter->setFont(font);
    layout_.text(painter, QPointF(200, font.pointSize() + 10), busFileText_);
}
