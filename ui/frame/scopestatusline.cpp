#include "ui/frame/scopestatusline.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/setupparam.h"
#include "network/user_int.h"
#include "ui/frame/homeview.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>

namespace {

constexpr int kCursor1Time = 24;
constexpr int kCursor1Level = 88;
constexpr uint16_t kDualSlopeMode = 18;

// The words of the status text in this line's catalogue context (the composer looks them up
// by context, which the extraction cannot follow).
[[maybe_unused]] const char* const kTriggerWords[] = {
    QT_TRANSLATE_NOOP("ScopeStatusLine", "running"), QT_TRANSLATE_NOOP("ScopeStatusLine", "pretrig"),
    QT_TRANSLATE_NOOP("ScopeStatusLine", "waiting qualifier"), QT_TRANSLATE_NOOP("ScopeStatusLine", "delay"),
    QT_TRANSLATE_NOOP("ScopeStatusLine", "waiting trigger"), QT_TRANSLATE_NOOP("ScopeStatusLine", "postrig"),
    QT_TRANSLATE_NOOP("ScopeStatusLine", "end"), QT_TRANSLATE_NOOP("ScopeStatusLine", "stop"),
    QT_TRANSLATE_NOOP("ScopeStatusLine", "ch"), QT_TRANSLATE_NOOP("ScopeStatusLine", "line"),
    QT_TRANSLATE_NOOP("ScopeStatusLine", "extern"), QT_TRANSLATE_NOOP("ScopeStatusLine", "auto"),
    QT_TRANSLATE_NOOP("ScopeStatusLine", "trig'd"), QT_TRANSLATE_NOOP("ScopeStatusLine", "sgl"),
};

} // namespace

ScopeStatusLine::ScopeStatusLine(QQuickItem* parent)
    : StatusLine(parent)
{
    scopeFont_.setPointSize(12);
    scopeFont_.setWeight(75);
    scopePen_.setColor(Qt::white);
    if (po_g_homeView) {
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &ScopeStatusLine::screenMajSlot);
        connect(po_g_homeView, &HomeView::screenManualMeasurementSignal, this,
                &ScopeStatusLine::displayCursorValueSlot);
        connect(po_g_homeView, &HomeView::screenRefreshSignal, this, &ScopeStatusLine::screenRefreshSlot);
    }
    connect(&fugitiveTimer_, &QTimer::timeout, this, &ScopeStatusLine::fugitiveDisplayEndSlot);
}

ScopeStatusLine::~ScopeStatusLine()
{
    if (po_g_homeView) {
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &ScopeStatusLine::screenMajSlot);
        disconnect(po_g_homeView, &HomeView::screenManualMeasurementSignal, this,
                   &ScopeStatusLine::displayCursorValueSlot);
    }
    disconnect(&fugitiveTimer_, &QTimer::timeout, this, &ScopeStatusLine::fugitiveDisplayEndSlot);
}

QString ScopeStatusLine::composeTriggerStatus(const database& setup, const char* context, const char* stateZero)
{
    const char* const states[] = {stateZero, "pretrig", "waiting qualifier", "delay",
                                  "waiting trigger", "postrig", "end", "running"};
    const auto word = [context](const char* source) { return QCoreApplication::translate(context, source); };
    QString text;
    if (setup.acqRunStop != 0)
        text = word("stop");
    else if (setup.trigStatus >= 0 && setup.trigStatus < 8)
        text = word(states[setup.trigStatus]);
    text += QStringLiteral(", ");

    const int source = setup.trigSource;
    if (source >= 0 && source <= 3)
        text += word("ch") + QString::number(source + 1);
    else if (source == 4)
        text += word("line");
    else if (source == 5)
        text += word("extern");
    else if (source == 6)
        text += word("extern") + QStringLiteral("/5");

    if (setup.instrumentMode == kDualSlopeMode) {
        text += QStringLiteral(" , +/- , ");
    } else {
        // A recalled or remote setup can hold any source; only 0..3 name a channel of their own.
        const int16_t edges[] = {setup.trigEdgeCh1, setup.trigEdgeCh2, setup.trigEdgeCh3, setup.trigEdgeCh4};
        const int16_t edge = (source >= 0 && source <= 3) ? edges[source] : setup.trigEdgeCh1;
        text += edge == 1 ? QStringLiteral(" , - , ") : edge == 2 ? QStringLiteral(" , +/- , ") : QStringLiteral(" , + , ");
    }

    switch (setup.trigMode) {
    case 0:
    case 4:
        text += word("auto");
        break;
    case 1:
        text += word("trig'd");
        break;
    case 2:
        text += word("sgl");
        break;
    default:
        break;
    }
    return text;
}

void ScopeStatusLine::screenMajSlot(int code)
{
    triggerStatus_ = composeTriggerStatus(data);
    if (getSetupParam(&data, code, &misc1_)) {
        misc2_.clear();
        fugitiveTimer_.start();
        setPelanodeMisc(misc1_, misc2_);
    } else {
        displayCursorValueSlot();
    }
    update();
    setPelanodeTriggerStatus(triggerStatus_);
}

void ScopeStatusLine::displayCursorValueSlot()
{
    if ((data.cursorState & 1) == 0 || fugitiveTimer_.isActive())
        return;
    getSetupParam(&data, kCursor1Time, &misc1_);
    getSetupParam(&data, kCursor1Level, &misc2_);
    update();
    setPelanodeMisc(misc1_, misc2_);
}

void ScopeStatusLine::fugitiveDisplayEndSlot()
{
    if (data.cursorState & 1) {
        getSetupParam(&data, kCursor1Time, &misc1_);
        getSetupParam(&data, kCursor1Level, &misc2_);
    } else {
        misc1_.clear();
        misc2_.clear();
    }
    setPelanodeMisc(misc1_, misc2_);
    update();
}

void ScopeStatusLine::screenRefreshSlot()
{
    QString counter;
    if (data.passFailOn != 0)
        counter = QString::fromStdString(TAcquisition::passFailCounter.get(data.passFailDisplay));
    setPelanodePassfailCounter(counter);
}

void ScopeStatusLine::paint(QPainter* painter)
{
    layout_.begin();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QFont font = scopeFont_;
    font.setWeight(50);
    font.setItalic(false);
    painter->setFont(font);
    painter->setPen(scopePen_);

    const int w = static_cast<int>(width());
    const int textWidth = QFontMetrics(font, painter->device()).horizontalAdvance(triggerStatus_);
    layout_.text(painter, QPointF(w - textWidth - 50, 12), triggerStatus_);

    const int size = font.pointSize();
    drawFields(painter, font, misc1_, size + 2);
    drawFields(painter, font, misc2_, 2 * size + 5);

    // Below the trigger status text, as the meter and recorder lines have it: at the top the
    // battery would cover the end of any text.
    drawIcons(painter, QRect(w - 160, kBatteryTop, 100, 18));
}
