#include "ui/traces/loggerstatusline.h"

#include "core/gest_db.h"
#include "core/setupparam.h"
#include "network/user_int.h"
#include "ui/frame/homeview.h"

#include <QFontMetrics>
#include <QPainter>

#include <cstring>

namespace {

constexpr int kCursor2Time = 25;
constexpr int kCursor2Level = 89;
// The span of a record file and the step between its records.
constexpr int kRangeSeconds = 20000;
constexpr double kStepSeconds = 0.2;
constexpr uint16_t kLiveChannels = 0xF;

} // namespace

LoggerStatusLine::LoggerStatusLine(QQuickItem* parent)
    : StatusLine(parent)
{
    font_.setPointSize(12);
    pen_.setColor(Qt::white);
    const QString pattern = QStringLiteral(" %1 s ");
    rangeTexts_ << QChar(0x2190) + pattern.arg(kRangeSeconds) + QChar(0x2192) + QLatin1Char(' ')
                << QChar(0x2192) + pattern.arg(kStepSeconds, 0, 'f', 1) + QChar(0x2190);
    blinkTimer_.setInterval(kBlinkIntervalMs);
    blinkTimer_.setSingleShot(false);

    // By name: the slots are virtual, so a subclass's own versions receive these.
    if (po_g_homeView) {
        connect(po_g_homeView, SIGNAL(screenMajSignal(int)), this, SLOT(screenMajSlot(int)));
        connect(po_g_homeView, SIGNAL(screenManualMeasurementSignal()), this, SLOT(displayCursorValueSlot()));
    }
    connect(&fugitiveTimer_, SIGNAL(timeout()), this, SLOT(fugitiveDisplayEndSlot()));
    connect(&blinkTimer_, SIGNAL(timeout()), this, SLOT(blinkSlot()));
}

LoggerStatusLine::~LoggerStatusLine()
{
    blinkTimer_.stop();
    if (po_g_homeView) {
        disconnect(po_g_homeView, SIGNAL(screenMajSignal(int)), this, SLOT(screenMajSlot(int)));
        disconnect(po_g_homeView, SIGNAL(screenManualMeasurementSignal()), this, SLOT(displayCursorValueSlot()));
    }
    disconnect(&fugitiveTimer_, SIGNAL(timeout()), this, SLOT(fugitiveDisplayEndSlot()));
    disconnect(&blinkTimer_, SIGNAL(timeout()), this, SLOT(blinkSlot()));
}

QString LoggerStatusLine::loggerFileNameText()
{
    return QString::fromUtf8(data.loggerFileName,
                             static_cast<int>(strnlen(data.loggerFileName, sizeof data.loggerFileName)));
}

void LoggerStatusLine::showSettingOrCursors(int parameter)
{
    if (getSetupParam(&data, parameter, &misc1_)) {
        misc2_.clear();
        fugitiveTimer_.start();
    } else {
        displayCursorValueSlot();
    }
}

void LoggerStatusLine::screenMajSlot(int parameter)
{
    // The run state, and each channel switched on or off: with no channel on nothing is recorded,
    // never "running" then.
    const bool runState = parameter == 0 || parameter == param::acqRunStop || parameter == param::spareWord29
        || parameter == param::trigStatus || parameter == param::channelFlags || parameter == param::traceOnCh1
        || parameter == param::traceOnCh2 || parameter == param::traceOnCh3 || parameter == param::traceOnCh4;
    if (runState)
        triggerText_ = data.acqRunStop != 0 || (data.channelFlags & kLiveChannels) == 0 ? tr("stop") : tr("running");
    const bool fileName = parameter == 0 || parameter == param::spareWord29 || parameter == param::loggerFileName;
    if (fileName && (data.channelFlags & kLiveChannels) != 0) {
        fileText_ = loggerFileNameText();
        // Once blinking, the rhythm stays.
        if (!blinkTimer_.isActive())
            blinkTimer_.start();
    }
    showSettingOrCursors(parameter);
    update();
    setPelanodeLoggerStatus(fileText_ + QStringLiteral(" - ") + triggerText_);
}

bool LoggerStatusLine::fillCursorLists()
{
    if ((data.cursorState & 1) == 0) {
        misc1_.clear();
        misc2_.clear();
        return false;
    }
    getSetupParam(&data, kCursor2Time, &misc1_);
    getSetupParam(&data, kCursor2Level, &misc2_);
    return true;
}

void LoggerStatusLine::displayCursorValueSlot()
{
    fillCursorLists();
    update();
    setPelanodeMisc(misc1_, misc2_);
}

void LoggerStatusLine::fugitiveDisplayEndSlot()
{
    const bool cursors = fillCursorLists();
    update();
    if (!cursors)
        setPelanodeMisc(misc1_, misc2_);
}

void LoggerStatusLine::blinkSlot()
{
    blink_ = !blink_;
    update();
}

void LoggerStatusLine::paint(QPainter* painter)
{
    layout_.begin();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QFont font = font_;
    font.setWeight(50);
    font.setItalic(false);
    painter->setFont(font);
    painter->setPen(pen_);

    const int advance = QFontMetrics(font, painter->device()).horizontalAdvance(triggerText_);
    layout_.text(painter, QPointF(static_cast<int>(width() - advance - 50), 12), triggerText_);

    const int size = font.pointSize();
    drawFields(painter, font, rangeTexts_, 2 * size + 5, 0, 370);
    drawFields(painter, font, misc1_, size + 2, 4);
    drawFields(painter, font, misc2_, 2 * size + 5, 4);

    drawIcons(painter, QRect(static_cast<int>(width() - 160), kBatteryTop, 100, 18));

    QFont fileFont = font;
    fileFont.setWeight(75);
    fileFont.setItalic(true);
    const int fileWidth = QFontMetrics(fileFont, painter->device()).horizontalAdvance(fileText_);
    painter->fillRect(QRect(347, 0, fileWidth, 16), blink_ ? Qt::darkGray : Qt::black);
    painter->setFont(fileFont);
    layout_.text(painter, QPointF(350, size), fileText_, blink_ ? QColor(Qt::darkGray) : QColor(Qt::black));
}
