// Status line of the bus-analysis view: the acquisition and trigger state at the right, the
// selected bus file in bold italics, the battery and storage icons; mirrors the state text into
// the status cache.
#pragma once

#include "ui/frame/statusline.h"

class BusAnalysisStatusLine : public StatusLine {
    Q_OBJECT
    // The base's trigger text; this line neither draws nor publishes it.
    Q_PROPERTY(QString trigger READ trigger WRITE setTriggerText)

public:
    explicit BusAnalysisStatusLine(QQuickItem* parent = nullptr);
    ~BusAnalysisStatusLine() override;

    void paint(QPainter* painter) override;

    QString trigger() const { return triggerText_; }
    void setTriggerText(QString text) { setTrigger(text); }

    const QString& statusText() const { return statusText_; }
    const QString& busFileText() const { return busFileText_; }

    // busFileName up to its first NUL, never beyond its 40 bytes.
    static QString busFileNameOf(const struct database& setup);

    void screenMajSlot(int parameter);

private:
    QFont busFont_;
    QPen busPen_;
    QString statusText_;
    QString busFileText_;
};
