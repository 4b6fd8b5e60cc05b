// Touch overlay: the transparent item laid over a trace screen that holds the display's cursors,
// indicators and zoom area, turns presses, moves and releases into drags or a zoom rectangle,
// and re-reads positions from the setup when the controller announces a change.
//
// Points handed to cursors and indicators are overlay units with y upward (0..1000); painting
// uses the window 0..999 with y downward.
#pragma once

#include <vector>

#include <QPoint>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QRect>

#include <cstdint>

class Cursor;
class HomeView;
class Indicator;
class ZoomArea;

class IndicScreen : public QQuickPaintedItem {
    Q_OBJECT

public:
    static constexpr int kIndicatorSlots = 14;
    static constexpr int kCursorSlots = 7;
    // Smallest zoom rectangle (overlay units, each side) that is worth a request.
    static constexpr int kMinZoomSide = 100;

    // The defaults are what the QML engine gives an overlay it creates itself.
    explicit IndicScreen(QQuickItem* parent = nullptr, unsigned short channelMask = 0x0F0F, int x = 0,
                         int y = 0, int width = 0, int height = 0);
    ~IndicScreen() override;

    void paint(QPainter* painter) override;

    // Visibility of the manual and automatic cursors for the setup's cursor state and reference
    // channel bits.
    virtual void cursorsInit(unsigned short state, unsigned short channelBits);

    // Overlay point of an item position: x to the right, y upward, 0..1000.
    QPoint overlayPoint(const QPointF& position) const;

    unsigned short channelMask() const { return channelMask_; }
    Indicator* indicator(int slot) const;
    Cursor* cursor(int slot) const;
    ZoomArea* zoomArea() const { return zoomArea_; }
    Indicator* draggedIndicator() const { return dragged_; }
    unsigned short activeCursors() const { return activeCursors_; }
    bool pressPending() const { return pressPending_; }

public slots:
    void displayKalvexSlot();
    virtual void screenMajSlot(int parameter);

protected:
    virtual void setVisibleIndics();

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // A press whose release will never come (grab taken away) must not hold back the screen.
    void mouseUngrabEvent() override;
    void touchUngrabEvent() override;

    // Takes ownership; replaces what the slot held.
    void setCursor(int slot, Cursor* cursor);
    void setIndicator(int slot, Indicator* indicator);
    void setZoomArea(ZoomArea* area);

    // Every cursor's reference channel, the indicators' visibility and the cursors' visibility
    // from the setup; the subclasses then re-place their cursors.
    void preparePlacement();
    // Every present indicator and cursor through the zoom.
    void zoomAll(float factor, int32_t position);
    // Places cursors 0..4 from the cursor table: words[slot] gives the table word of the first
    // and second setup value (-1: 0). A null table places nothing. Repaints.
    void placeFromCursorTable(const int (*words)[2]);

    // Press bookkeeping: holds back the screen refreshes, and gives them back exactly once.
    void beginPress();
    void endPress();

    // Setup value of parameter `index` (sign-extended as the setup reads it).
    static int32_t setupValue(int index);

    unsigned short channelMask_;
    Indicator* dragged_;
    unsigned short activeCursors_;
    Indicator* indicators_[kIndicatorSlots];
    Cursor* cursors_[kCursorSlots];
    ZoomArea* zoomArea_;
    int32_t zoomStart_[2];
    // A press whose refresh hold has not been given back yet.
    bool pressPending_;
    // The root window at construction; guarded, the overlay may outlive it in tests.
    QPointer<HomeView> home_;
    // Connections to the root window, ended by handle: the root may be half destroyed when an
    // overlay goes with it, so the destructor never touches the root itself.
    std::vector<QMetaObject::Connection> homeConnections_;
};
