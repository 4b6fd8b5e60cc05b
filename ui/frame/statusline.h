// Base of every status line: battery icon from the battery daemon's level file, storage icon from
// the fill of the storage, the trigger text and two lists of field texts, and the two timers.
// Subclasses fill the texts, publish them to the status cache and paint.
#pragma once

#include "ui/frame/paintedlayout.h"

#include <QFont>
#include <QPen>
#include <QPixmap>
#include <QQuickPaintedItem>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>

class StatusLine : public QQuickPaintedItem, public PaintedLayoutSource {
    Q_OBJECT

public:
    static constexpr int kScanIntervalMs = 300000;
    // After an SD-card (6) or front-panel (7) notice, so that the new medium is seen soon.
    static constexpr int kRescanIntervalMs = 5000;
    static constexpr int kFugitiveIntervalMs = 2000;
    static constexpr const char* kBatteryLevelFile = "/var/tmp/batlevel";
    // Top of the battery icon: below the trigger text on its baseline 12.
    static constexpr int kBatteryTop = 16;

    explicit StatusLine(QQuickItem* parent = nullptr);
    ~StatusLine() override;

    void paint(QPainter* painter) override = 0;

    // No repaint: the caller repaints.
    void setTrigger(QString& text);

    void screenIhmSlot(int code, int a, int b);
    void batteryLevelSlot();
    void memoryScanSlot();

    // The storage icon for a free-space ratio of available over total blocks; no blocks at all
    // counts as full.
    static QString storageIconName(uint64_t availableBlocks, uint64_t totalBlocks, bool sdcard);

    // What the last scans chose (empty: none); for inspection.
    const QString& batteryIconName() const { return batteryIconName_; }
    bool batteryCharging() const { return batteryCharging_; }
    const QString& storageIconName() const { return storageIconName_; }
    const QPixmap& batteryIcon() const { return batteryIcon_; }
    const QPixmap& storageIcon() const { return storageIcon_; }
    const QString& triggerText() const { return triggerText_; }
    const QStringList& misc1() const { return misc1_; }
    const QStringList& misc2() const { return misc2_; }
    QTimer& fugitiveTimer() { return fugitiveTimer_; }
    QTimer& scanTimer() { return scanTimer_; }
    const PaintedLayout& paintedLayout() const override { return layout_; }

protected:
    // One line of field texts from x, gap pixels apart, alternating weight 75 upright (first) and
    // weight 50 italic.
    void drawFields(QPainter* painter, QFont font, const QStringList& items, int baseline, int gap = 8, int x = 32);
    // The battery and storage icons where a line puts them.
    void drawIcons(QPainter* painter, const QRect& battery);

    QFont font_;
    QPen pen_;
    QString triggerText_;
    QStringList misc1_;
    QStringList misc2_;
    QPixmap batteryIcon_;
    QPixmap storageIcon_;
    QTimer fugitiveTimer_;
    QTimer scanTimer_;
    PaintedLayout layout_;

private:
    QString batteryIconName_;
    bool batteryCharging_ = false;
    QString storageIconName_;
};
