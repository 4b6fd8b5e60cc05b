// The trace screen of the pass/fail mask: it draws its traces into an image of its own only when
// the controller announces a finished acquisition (code 90) and otherwise shows that image, so
// the mask, which does not move between acquisitions, is not redrawn on every display refresh.
#pragma once

#include "ui/traces/tracescreen.h"

#include <QImage>
#include <cstdint>

class QPainter;

class TraceScreenPassFail : public TraceScreen {
    Q_OBJECT

public:
    static constexpr int kImageSize = 1000;

    TraceScreenPassFail(QQuickItem* parent, unsigned short channelMask, int x, int y, int width, int height);
    ~TraceScreenPassFail() override;

    void paint(QPainter* painter) override;
    bool redrawPending() const { return pending_; }
    const QImage& image() const { return *image_; }

public slots:
    void displayKalvexSlot() override;
    void screenMajSlot(int parameter) override;

private:
    // Every present trace has published rows converted after the last code 90.
    bool conversionsDone() const;

    QImage* image_;
    QPainter* imagePainter_;
    bool pending_ = false;
    // Each trace's finished conversions when code 90 came.
    uint32_t conversionsAtNotice_[kSlots] = {};
};
