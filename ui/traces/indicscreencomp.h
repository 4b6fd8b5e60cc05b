// Touch overlay of the compressed time display (the whole record): a finger drags the zoom
// window, which follows at once.
#pragma once

#include "ui/traces/indicscreen.h"

class IndicScreenComp : public IndicScreen {
    Q_OBJECT

public:
    explicit IndicScreenComp(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                             int y = 0, int width = 0, int height = 0);
    ~IndicScreenComp() override;

    // The viewer's strip spans the recalled recording (ViewerSpan) instead of the whole record:
    // the zoom window and the cursors are placed over that span.
    void followRecording(bool on) { followsRecording_ = on; }

public slots:
    void screenMajSlot(int parameter) override;
    // Places the time cursors over the whole record from the cursor table.
    void screenManualMeasurementSlot();

protected:
    void setVisibleIndics() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseUngrabEvent() override;

private:
    // Overlay x of an item x: the pixel rounded to the nearest integer, then scaled.
    int pressX(qreal px) const;
    // Zoom rectangle := the shown window, trigger mark and cursors through the zoom.
    void showWindow();

    int lastX_ = 0;
    bool followsRecording_ = false;
};
