// The root window's single pop-up for numbered messages of the controller, the screenshot and the
// event-list worker. The text shown is also published to the remote client's status cache.
#pragma once

#include "ui/frame/paintedlayout.h"

#include <QFont>
#include <QPen>
#include <QQuickPaintedItem>
#include <QString>

class QTimer;

class MessageBox : public QQuickPaintedItem, public PaintedLayoutSource {
    Q_OBJECT
    Q_PROPERTY(QString message READ message)

public:
    // Hide delays of the timed messages.
    static constexpr int kTimedMs = 5000;
    static constexpr int kLongTimedMs = 30000;

    explicit MessageBox(QQuickItem* parent = nullptr);
    ~MessageBox() override;

    QString message() const { return message_; }
    QString detail() const { return detail_; }
    int currentCode() const { return currentCode_; }
    QTimer* hideTimer() const { return hideTimer_; }

    // Connects the root window's screenMessageSignal (queued from the controller thread).
    Q_INVOKABLE void setActive();

    void paint(QPainter* painter) override;
    const PaintedLayout& paintedLayout() const override { return layout_; }

public slots:
    // Shows the message of that number (text completes some of them); 0 hides. Ignored while
    // message 13 or 15 is shown.
    void screenMessageSlot(int code, QString text);
    void timerSlot();

private:
    PaintedLayout layout_;
    QString message_;
    QString detail_;
    int currentCode_ = 0;
    QFont font_;
    QPen pen_;
    QTimer* hideTimer_ = nullptr;
};
