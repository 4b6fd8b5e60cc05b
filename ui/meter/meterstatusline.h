// Status line of the multimeter screen: "running" or "stop", for 2 s the texts of a setting
// just changed, and the battery and storage icons.
#pragma once

#include "ui/frame/statusline.h"

class MeterStatusLine : public StatusLine {
    Q_OBJECT
    Q_PROPERTY(QString trigger READ trigger WRITE setTriggerText)

public:
    explicit MeterStatusLine(QQuickItem* parent = nullptr);
    ~MeterStatusLine() override;

    void paint(QPainter* painter) override;

    QString trigger() const { return triggerText_; }
    void setTriggerText(QString text) { setTrigger(text); }

public slots:
    void screenMajSlot(int parameter);
    void fugitiveDisplayEndSlot();
};
