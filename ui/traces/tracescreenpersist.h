// Persistence display: what the traces draw piles up in an image of its own until the first
// acquisition-done notice after a setting change.
#pragma once

#include "ui/traces/tracescreen.h"

class QImage;
class QPainter;

class TraceScreenPersist : public TraceScreen {
    Q_OBJECT

public:
    // Clear states: nothing pending, a setting changed, wipe at the next paint.
    enum { ClearNone = 0, ClearChanged = 1, ClearNextPaint = 2 };

    TraceScreenPersist(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                       int height);
    ~TraceScreenPersist() override;

    void paint(QPainter* painter) override;

    int clearState() const { return clearState_; }
    const QImage& image() const { return *image_; }
    // True for the display-neutral parameters (cursors, colours, units ...) that keep the picture.
    static bool keepsPicture(int parameter);

public slots:
    void displayKalvexSlot() override;
    void screenMajSlot(int parameter) override;

private:
    QImage* image_;
    QPainter* imagePainter_;
    int clearState_ = ClearNone;
};
