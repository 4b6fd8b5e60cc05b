// Status line of the scope view: acquisition and trigger state, the texts of a setting just
// changed (for 2 s) or the cursor readings, the battery and storage icons; mirrors its texts and
// the pass/fail counter into the status cache.
#pragma once

#include "ui/frame/statusline.h"

class ScopeStatusLine : public StatusLine {
    Q_OBJECT
    // The base's trigger text; the scope line draws its own trigger status text instead.
    Q_PROPERTY(QString trigger READ trigger WRITE setTriggerText)

public:
    explicit ScopeStatusLine(QQuickItem* parent = nullptr);
    ~ScopeStatusLine() override;

    void paint(QPainter* painter) override;

    QString trigger() const { return triggerText_; }
    void setTriggerText(QString text) { setTrigger(text); }

    const QString& triggerStatusText() const { return triggerStatus_; }

    // The trigger status text of a setup (state, source, slope, mode), its words looked up in
    // the catalogue context of the line that shows it; stateZero is the word of trigger state 0.
    static QString composeTriggerStatus(const struct database& setup, const char* context = "ScopeStatusLine",
                                        const char* stateZero = "running");

    void screenMajSlot(int code);
    void displayCursorValueSlot();
    void fugitiveDisplayEndSlot();
    void screenRefreshSlot();

private:
    QFont scopeFont_;
    QPen scopePen_;
    QString triggerStatus_;
};
