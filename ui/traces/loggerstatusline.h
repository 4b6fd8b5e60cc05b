// Status line of the recorder view: the record file's name on a blinking background, the run
// state, the fixed time texts of the record (its span and its step), cursor 2's time and level or
// for 2 s the texts of a setting just changed, the battery and storage icons. Mirrors its texts
// into the status cache.
#pragma once

#include "ui/frame/statusline.h"

class LoggerStatusLine : public StatusLine {
    Q_OBJECT
    // The base's trigger text.
    Q_PROPERTY(QString trigger READ trigger WRITE setTriggerText)

public:
    static constexpr int kBlinkIntervalMs = 500;

    explicit LoggerStatusLine(QQuickItem* parent = nullptr);
    ~LoggerStatusLine() override;

    void paint(QPainter* painter) override;

    QString trigger() const { return triggerText_; }
    void setTriggerText(QString text) { setTrigger(text); }

    const QStringList& rangeTexts() const { return rangeTexts_; }
    const QString& fileText() const { return fileText_; }
    bool blinkOn() const { return blink_; }
    QTimer& blinkTimer() { return blinkTimer_; }

public slots:
    virtual void screenMajSlot(int parameter);
    virtual void displayCursorValueSlot();
    virtual void fugitiveDisplayEndSlot();
    void blinkSlot();

protected:
    // The setup's record file name: at most the field's 40 bytes (a full field holds no NUL).
    static QString loggerFileNameText();
    // The texts of a setting just changed for 2 s when it has some, else the cursor readings.
    void showSettingOrCursors(int parameter);

    QStringList rangeTexts_;
    QString fileText_;
    QTimer blinkTimer_;
    bool blink_ = false;

private:
    // Cursor 2's time and level with the cursors on, else nothing; true with the cursors on.
    bool fillCursorLists();
};
