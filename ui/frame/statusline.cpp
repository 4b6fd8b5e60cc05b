#include "ui/frame/statusline.h"

#include "board/board.h"
#include "core/sysserv.h"
#include "network/user_int.h"
#include "ui/frame/homeview.h"

#include <QFontMetrics>
#include <QPainter>

#include <cstdlib>
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

const char* storageRoot(bool sdcard)
{
    return sdcard ? "/media/user/sdcard_p1" : "/media/user";
}

QString batteryIconFor(int level)
{
    if (level == 0)
        return QString();
    if (level < 20)
        return QStringLiteral(":/images/battery20.png");
    if (level < 40)
        return QStringLiteral(":/images/battery40.png");
    if (level < 60)
        return QStringLiteral(":/images/battery60.png");
    if (level >= 80)
        return QStringLiteral(":/images/battery100.png");
    return QStringLiteral(":/images/battery80.png");
}

} // namespace

StatusLine::StatusLine(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    font_.setPointSize(12);
    font_.setWeight(75);
    pen_.setColor(Qt::white);
    fugitiveTimer_.setSingleShot(true);
    fugitiveTimer_.setInterval(kFugitiveIntervalMs);
    scanTimer_.setSingleShot(false);

    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenIhmSignal, this, &StatusLine::screenIhmSlot);
    connect(&scanTimer_, &QTimer::timeout, this, &StatusLine::batteryLevelSlot);
    connect(&scanTimer_, &QTimer::timeout, this, &StatusLine::memoryScanSlot);
    scanTimer_.start(kScanIntervalMs);

    batteryLevelSlot();
    setPelanodeTriggerStatus(triggerText_);
    setPelanodeMisc(misc1_, misc2_);
    memoryScanSlot();
}

StatusLine::~StatusLine()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, &HomeView::screenIhmSignal, this, &StatusLine::screenIhmSlot);
    disconnect(&scanTimer_, &QTimer::timeout, this, nullptr);
}

void StatusLine::drawFields(QPainter* painter, QFont font, const QStringList& items, int baseline, int gap, int x)
{
    bool bold = true;
    for (const QString& item : items) {
        font.setWeight(bold ? 75 : 50);
        font.setItalic(!bold);
        painter->setFont(font);
        layout_.text(painter, QPointF(x, baseline), item);
        x += QFontMetrics(font, painter->device()).horizontalAdvance(item) + gap;
        bold = !bold;
    }
}

void StatusLine::drawIcons(QPainter* painter, const QRect& battery)
{
    if (!batteryIcon_.isNull())
        layout_.picture(painter, battery, batteryIcon_);
    if (!storageIcon_.isNull())
        layout_.picture(painter, QRect(0, 0, 32, 32), storageIcon_);
}

void StatusLine::setTrigger(QString& text)
{
    triggerText_ = text;
}

void StatusLine::screenIhmSlot(int code, int, int)
{
    if (code == 6 || code == 7)
        scanTimer_.start(kRescanIntervalMs);
}

void StatusLine::batteryLevelSlot()
{
    batteryIcon_ = QPixmap();
    batteryIconName_.clear();
    batteryCharging_ = false;

    const int fd = ::open(boardPath(kBatteryLevelFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[11] = {};
        const ssize_t n = ::read(fd, text, 10);
        ::close(fd);
        text[n > 0 ? n : 0] = '\0';
        // Charge in percent, negative while charging.
        const auto value = static_cast<int16_t>(std::strtol(text, nullptr, 10));
        setPelanodeBattery(value);

        const int level = std::abs(static_cast<int>(value));
        batteryCharging_ = (static_cast<uint16_t>(value) & 0x8000) != 0;
        batteryIconName_ = batteryIconFor(level);
        if (!batteryIconName_.isEmpty()) {
            batteryIcon_ = QPixmap(batteryIconName_);
            if (batteryCharging_ && !batteryIcon_.isNull()) {
                QPainter painter(&batteryIcon_);
                painter.drawPixmap(0, 0, QPixmap(QStringLiteral(":/images/batteryInCharge.png")));
            }
        }
    }
    update();
}

QString StatusLine::storageIconName(uint64_t availableBlocks, uint64_t totalBlocks, bool sdcard)
{
    const double ratio = totalBlocks == 0 ? 0.0 : static_cast<double>(availableBlocks) / static_cast<double>(totalBlocks);
    const char* colour = ratio > 0.8 ? "green" : ratio > 0.5 ? "orange" : "red";
    return sdcard ? QStringLiteral(":/images/sdcard-") + QLatin1String(colour) + QStringLiteral(".png")
                  : QStringLiteral(":/images/file_") + QLatin1String(colour) + QStringLiteral("32.png");
}

void StatusLine::memoryScanSlot()
{
    struct statfs fs;
    if (::statfs(boardPath(storageRoot(isSdcardPresent())).c_str(), &fs) == 0) {
        // The card may have gone between the two looks; the picture follows the second.
        storageIconName_ = storageIconName(static_cast<uint64_t>(fs.f_bavail), static_cast<uint64_t>(fs.f_blocks),
                                           isSdcardPresent());
        storageIcon_ = QPixmap(storageIconName_);
    }
    update();
    scanTimer_.start(kScanIntervalMs);
}
