// Touch overlays: the point mapping, what a press drags, the requests a release posts, the hold
// on screen refreshes, the reactions to setup changes and the automatic cursors.
#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/ui_fixture.h"
#include "tests/support/simboardtest.h"
#include "ui/traces/cursor.h"
#include "ui/traces/gridscreen.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicator.h"
#include "ui/traces/indicatortriggerv.h"
#include "ui/traces/indicscreencomp.h"
#include "ui/traces/indicscreenf.h"
#include "ui/traces/indicscreent.h"
#include "ui/traces/indicscreentcomp.h"
#include "ui/traces/indicscreenxy.h"
#include "ui/traces/loggerindicscreen.h"
#include "ui/recorder/loggerindicscreencomp.h"
#include "ui/traces/viewerindicscreen.h"
#include "ui/frame/zinccolor.h"
#include "ui/traces/zoomarea.h"

#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

using uitest::takeRequests;

// Opens the protected handlers of an overlay class to the tests.
template <typename T>
class Probe : public T {
public:
    Probe(unsigned short mask, int width = 1000, int height = 1000) : T(nullptr, mask, 0, 0, width, height) {}
    using T::mousePressEvent;
    using T::mouseMoveEvent;
    using T::mouseReleaseEvent;
    using T::mouseUngrabEvent;

    // Item positions (pixels, y downward).
    void press(QPointF at)
    {
        QMouseEvent e(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        this->mousePressEvent(&e);
    }
    void move(QPointF at)
    {
        QMouseEvent e(QEvent::MouseMove, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        this->mouseMoveEvent(&e);
    }
    void release(QPointF at)
    {
        QMouseEvent e(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        this->mouseReleaseEvent(&e);
    }
    // The same with overlay points (y upward) on a 1000 x 1000 item.
    void pressAt(int x, int y) { press(QPointF(x, 1000 - y)); }
    void moveTo(int x, int y) { move(QPointF(x, 1000 - y)); }
    void releaseAt(int x, int y) { release(QPointF(x, 1000 - y)); }

    QImage painted()
    {
        QImage image(1000, 1000, QImage::Format_ARGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        this->paint(&painter);
        return image;
    }
};

// An overlay point inside an indicator's hit rectangle.
QPoint hitPointOf(Indicator* indicator)
{
    for (int y = 0; y <= 1000; y += 5)
        for (int x = 0; x <= 1000; x += 5) {
            QPoint p(x, y);
            if (indicator->isNear(p))
                return p;
        }
    return QPoint(-1, -1);
}

class IndicScreenTest : public uitest::HomeViewTest {
protected:
    void adjustSetup() override
    {
        data.zoomState = 0;
        data.zoomWidth = 40.0f;
        data.horizPosition = 0;
        data.vZoomFactor = 1.0f;
        data.vZoomPosition = 0;
        data.cursorState = 1;
        data.measRefChannel = 1;
        data.channelFlags = 0x000F;
    }
    void SetUp() override
    {
        HomeViewTest::SetUp();
        QObject::connect(home_.get(), &HomeView::refreshAllowedSignal,
                         [this](bool allowed) { refreshSignals_.push_back(allowed); });
        setupLinks().cursorTablePtr = table_;
    }
    void TearDown() override
    {
        setupLinks().cursorTablePtr = nullptr;
        setupLinks().measResultsPtr = nullptr;
        HomeViewTest::TearDown();
    }

    std::vector<bool> refreshSignals_;
    // time1, time2, level1, level2, time3, xpos1, xpos2
    int32_t table_[7] = {10000, 90000, 425976, 622536, 50000, 0, 0};
};

TEST_F(IndicScreenTest, ItemPositionsMapToOverlayPointsWithYUpward)
{
    Probe<IndicScreenT> overlay(0x0001, 500, 300);
    EXPECT_EQ(overlay.channelMask(), 0x1);
    EXPECT_EQ(overlay.overlayPoint(QPointF(250, 75)), QPoint(500, 750));
    EXPECT_EQ(overlay.overlayPoint(QPointF(0, 300)), QPoint(0, 0));
    EXPECT_EQ(overlay.overlayPoint(QPointF(499.9, 0)), QPoint(999, 1000));
    // The zoom rectangle comes back to y downward: pressed near the top, dragged down-right.
    data.cursorState = 0;
    overlay.screenMajSlot(29);
    overlay.press(QPointF(50, 30));     // (100, 900) -> start (100, 100)
    overlay.move(QPointF(150, 120));    // (300, 600)
    EXPECT_EQ(overlay.zoomArea()->rect(), QRect(QPoint(100, 100), QPoint(299, 399)));
    overlay.move(QPointF(-1, 200));      // ignored
    EXPECT_EQ(overlay.zoomArea()->rect(), QRect(QPoint(100, 100), QPoint(299, 399)));
    // Mask of live and stored channels together.
    Probe<IndicScreenT> mixed(0x0201);
    EXPECT_EQ(mixed.channelMask(), 0x3);
}

TEST_F(IndicScreenTest, PressDragsAnIndicatorBeforeAnyCursor)
{
    Probe<IndicScreenT> overlay(0x0001);
    overlay.screenMajSlot(29);
    data.trigSource = 0;
    data.trigType = 0;
    overlay.screenMajSlot(112);
    Indicator* level = overlay.indicator(10);
    ASSERT_NE(level, nullptr);
    ASSERT_TRUE(level->isVisible());
    // Put V1 across the trigger flag.
    QPoint hit = hitPointOf(level);
    ASSERT_GE(hit.x(), 0);
    QPoint v(0, 0);
    table_[2] = static_cast<int32_t>((1000 - hit.y() + 1500) / Cursor::kCodeScale);
    overlay.screenManualMeasurementSlot();
    QPoint probe = hit;
    ASSERT_TRUE(overlay.cursor(3)->isNear(probe));
    overlay.pressAt(hit.x(), hit.y());
    EXPECT_EQ(overlay.draggedIndicator(), level);
    EXPECT_EQ(overlay.activeCursors(), 0);
    overlay.releaseAt(hit.x(), hit.y());
    (void)v;
    const auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, param::trigLevelCh1);
    // A hidden indicator is never hit: the cursor takes the press and posts alone.
    level->setVisible(false);
    overlay.pressAt(hit.x(), hit.y());
    EXPECT_EQ(overlay.draggedIndicator(), nullptr);
    EXPECT_EQ(overlay.activeCursors(), 0x4008);
    overlay.releaseAt(hit.x(), hit.y());
    const auto second = takeRequests();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].code, param::cursor1Level);
}

TEST_F(IndicScreenTest, PressTakesOneVerticalAndOneHorizontalCursor)
{
    Probe<IndicScreenT> overlay(0x0001);
    overlay.screenMajSlot(29);
    // T1 and T2 both at x 500, V1 at y 125 (from below: 875).
    table_[0] = 50000;
    table_[1] = 50000;
    overlay.screenManualMeasurementSlot();
    ASSERT_EQ(overlay.cursor(0)->x(), 500);
    ASSERT_EQ(overlay.cursor(1)->x(), 500);
    ASSERT_EQ(overlay.cursor(3)->y(), 125);
    overlay.pressAt(505, 875);
    EXPECT_EQ(overlay.activeCursors(), 0x8001 | 0x4008);
    EXPECT_TRUE(overlay.cursor(0)->isActive());
    EXPECT_FALSE(overlay.cursor(1)->isActive());
    overlay.moveTo(250, 500);
    overlay.releaseAt(250, 500);
    const auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].code, param::cursor1Time);
    EXPECT_EQ(posted[0].intValue, 25000);
    EXPECT_EQ(posted[1].code, param::cursor1Level);
    EXPECT_EQ(posted[1].intValue, overlay.cursor(3)->setupSecond());
    EXPECT_EQ(overlay.activeCursors(), 0);
    // T2 never became active: it kept its place.
    EXPECT_EQ(overlay.cursor(1)->x(), 500);
}

TEST_F(IndicScreenTest, TriggerPositionDraggedPostsItsNewOffset)
{
    Probe<IndicScreenT> overlay(0x0001);
    data.sweepOffset = -50000;
    overlay.screenMajSlot(29);
    Indicator* trigger = overlay.indicator(8);
    ASSERT_NE(trigger, nullptr);
    EXPECT_EQ(trigger->x(), 500);
    const QPoint hit = hitPointOf(trigger);
    ASSERT_GE(hit.x(), 0);
    overlay.pressAt(hit.x(), hit.y());
    ASSERT_EQ(overlay.draggedIndicator(), trigger);
    overlay.moveTo(250, hit.y());
    overlay.releaseAt(250, hit.y());
    const auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, 1);
    EXPECT_EQ(posted[0].code, 5);
    EXPECT_EQ(posted[0].auxValue, 0);
    EXPECT_EQ(posted[0].intValue, -25000);
}

TEST_F(IndicScreenTest, ZoomRectangleBelowOneHundredUnitsPostsNothing)
{
    struct Row {
        QPoint from, to;  // overlay points, y upward
        bool posts;
    };
    const Row rows[] = {
        {{100, 900}, {199, 700}, false},  // 99 wide
        {{100, 900}, {300, 801}, false},  // 99 high
        {{100, 900}, {200, 800}, true},   // 100 x 100
        {{600, 200}, {100, 900}, true},   // drawn backwards
    };
    Probe<IndicScreenT> overlay(0x0001);
    data.cursorState = 0;
    overlay.screenMajSlot(29);
    for (const Row& row : rows) {
        overlay.pressAt(row.from.x(), row.from.y());
        overlay.moveTo(row.to.x(), row.to.y());
        overlay.releaseAt(row.to.x(), row.to.y());
        const auto posted = takeRequests();
        ASSERT_EQ(posted.size(), row.posts ? 1u : 0u) << row.to.x() << "," << row.to.y();
        if (row.posts) {
            EXPECT_EQ(posted[0].code, param::zoomState);
            EXPECT_EQ(posted[0].intValue, 4);
        }
        EXPECT_TRUE(overlay.zoomArea()->rect().isNull()) << "reset after every release";
    }
}

TEST_F(IndicScreenTest, PressHoldsBackRefreshesAndGivesThemBackOnce)
{
    {
        // No cursor, no indicator, no zoom area.
        Probe<LoggerIndicScreenComp> overlay(0x0001);
        overlay.pressAt(500, 500);
        EXPECT_EQ(refreshSignals_, std::vector<bool>({false}));
        overlay.releaseAt(500, 500);
        EXPECT_EQ(refreshSignals_, std::vector<bool>({false, true}));
        // The window ungrabs after a release: nothing more.
        overlay.mouseUngrabEvent();
        EXPECT_EQ(refreshSignals_, std::vector<bool>({false, true}));
    }
    refreshSignals_.clear();
    {
        Probe<IndicScreenT> overlay(0x0001);
        overlay.screenMajSlot(29);
        overlay.pressAt(500, 500);
        overlay.mouseUngrabEvent();
        overlay.mouseUngrabEvent();
        overlay.releaseAt(500, 500);
        EXPECT_EQ(refreshSignals_, std::vector<bool>({false, true}));
    }
    refreshSignals_.clear();
    {
        // Grab lost while a cursor is dragged: the cursor is committed once, and a later press
        // starts afresh.
        takeRequests();
        Probe<IndicScreenT> overlay(0x0001);
        overlay.screenMajSlot(29);
        overlay.pressAt(100, 500);
        ASSERT_EQ(overlay.activeCursors(), 0x8001);
        overlay.moveTo(300, 500);
        overlay.mouseUngrabEvent();
        EXPECT_FALSE(overlay.cursor(0)->isActive());
        auto posted = takeRequests();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].intValue, 30000);
        overlay.pressAt(600, 500);
        overlay.releaseAt(600, 500);
        EXPECT_TRUE(takeRequests().empty());
        EXPECT_EQ(refreshSignals_, std::vector<bool>({false, true, false, true}));
    }
    refreshSignals_.clear();
    {
        // Deleted mid-drag.
        auto* overlay = new Probe<IndicScreenTComp>(0x0001);
        overlay->pressAt(500, 500);
        overlay->moveTo(600, 500);
        delete overlay;
        EXPECT_EQ(refreshSignals_, std::vector<bool>({false, true}));
    }
    // Deleted overlays left nothing connected.
    emit home_->screenMajSignal(29);
    emit home_->screenManualMeasurementSignal();
    emit home_->screenRefreshSignal();
    emit home_->displayKalvexSignal();
}

TEST_F(IndicScreenTest, CursorsInitFollowsEachPaneOfAFourPaneLayout)
{
    std::vector<std::unique_ptr<Probe<IndicScreenF>>> panes;
    std::vector<std::unique_ptr<Probe<IndicScreenT>>> times;
    for (unsigned short bit = 1; bit <= 8; bit <<= 1) {
        panes.push_back(std::make_unique<Probe<IndicScreenF>>(bit));
        times.push_back(std::make_unique<Probe<IndicScreenT>>(bit));
    }
    struct Row {
        unsigned short state, channelBits;
        bool manualOnPane2, levelsOnPane2, automaticOnTimePane2;
    };
    const Row rows[] = {
        {1, 2, true, true, false},
        {3, 2, true, true, true},
        {0, 2, false, false, false},
        {1, 8191, true, false, false},
    };
    for (const Row& row : rows) {
        for (int pane = 0; pane < 4; ++pane) {
            panes[pane]->cursorsInit(row.state, row.channelBits);
            times[pane]->cursorsInit(row.state, row.channelBits);
            const bool mine = ((row.channelBits >> pane) & 1) != 0;
            EXPECT_EQ(panes[pane]->cursor(0)->isVisible(), mine && row.manualOnPane2) << pane;
            EXPECT_EQ(panes[pane]->cursor(3)->isVisible(), mine && row.levelsOnPane2) << pane;
            // The time display shows its manual cursors whatever the channel.
            EXPECT_EQ(times[pane]->cursor(3)->isVisible(), (row.state & 1) != 0);
            EXPECT_EQ(times[pane]->cursor(5)->isVisible(), mine && row.automaticOnTimePane2) << pane;
        }
    }
    Probe<IndicScreenXy> xy(0x0001);
    xy.cursorsInit(3, 2);
    EXPECT_FALSE(xy.cursor(0)->isVisible());
    xy.cursorsInit(3, 1);
    EXPECT_TRUE(xy.cursor(0)->isVisible());
    EXPECT_TRUE(xy.cursor(4)->isVisible());
}

TEST_F(IndicScreenTest, TimeOverlayReactsToEachSetupRow)
{
    Probe<IndicScreenT> overlay(0x0003);
    overlay.screenMajSlot(29);
    // Zero line of channel 2 from its offset.
    data.offsetCh2 = 100;
    overlay.screenMajSlot(10);
    EXPECT_EQ(overlay.indicator(1)->value(), 100);
    EXPECT_EQ(overlay.indicator(1)->y(), 400);
    // Trigger level with the channel's offset.
    data.trigLevelCh2 = 50;
    overlay.screenMajSlot(114);
    auto* level = static_cast<IndicatorTriggerV*>(overlay.indicator(11));
    EXPECT_EQ(level->value(), 50);
    EXPECT_EQ(level->channelOffset(), 100);
    // Coupling model.
    data.trigCouplingCh2 = 2;
    overlay.screenMajSlot(182);
    EXPECT_EQ(level->model(), 2);
    // Trigger position.
    data.sweepOffset = -20000;
    overlay.screenMajSlot(5);
    EXPECT_EQ(overlay.indicator(8)->x(), 200);
    // Trigger-level visibility by source and qualifier.
    data.trigType = 2;
    data.trigSource = 0;
    data.qualifSource = 1;
    overlay.screenMajSlot(174);
    EXPECT_TRUE(overlay.indicator(10)->isVisible());
    EXPECT_TRUE(overlay.indicator(11)->isVisible());
    data.trigType = 0;
    overlay.screenMajSlot(112);
    EXPECT_FALSE(overlay.indicator(11)->isVisible());
    // Zoom of every flag and cursor; the cursors are re-placed.
    data.vZoomFactor = 2.0f;
    overlay.screenMajSlot(94);
    EXPECT_EQ(overlay.indicator(1)->zoomFactor(), 2.0f);
    // A zero factor from a recall does not throw positions around.
    data.vZoomFactor = 0.0f;
    overlay.screenMajSlot(94);
    EXPECT_EQ(overlay.indicator(1)->y(), 400);
    // Colours of the channel flags and the cursors' reference channel.
    data.traceColorCh2 = 9;
    emit home_->displayKalvexSignal();
    EXPECT_EQ(overlay.indicator(1)->fillColor(), getZincColor(9));
    EXPECT_EQ(overlay.indicator(11)->fillColor(), getZincColor(9));
    // Unhandled parameters leave everything alone; nothing is ever posted by a reaction.
    overlay.screenMajSlot(200);
    EXPECT_TRUE(takeRequests().empty());
    // Reached through the root window's signal.
    data.offsetCh1 = -100;
    emit home_->screenMajSignal(9);
    EXPECT_EQ(overlay.indicator(0)->y(), 600);
}

TEST_F(IndicScreenTest, OtherOverlaysReactToTheirRows)
{
    {
        Probe<IndicScreenF> fft(0x0001);
        fft.screenMajSlot(29);
        ASSERT_NE(fft.zoomArea(), nullptr);
        data.fftOffsetCh1 = 200;
        fft.screenMajSlot(117);
        EXPECT_EQ(fft.indicator(0)->y(), 300);
        data.channelFlags = 0;
        fft.screenMajSlot(14);
        EXPECT_FALSE(fft.indicator(0)->isVisible());
    }
    {
        // The "-40dB" label with the logarithmic scale.
        data.fftVerticalScale = 1;
        Probe<IndicScreenF> log(0x0001);
        EXPECT_TRUE(log.indicator(0)->title().endsWith("-40dB"));
        data.fftVerticalScale = 0;
        Probe<IndicScreenF> lin(0x0001);
        EXPECT_FALSE(lin.indicator(0)->title().endsWith("-40dB"));
    }
    {
        Probe<IndicScreenXy> xy(0x0F0F);
        data.channelFlags = 0x3;
        data.xySourceX = 1;
        data.xySourceY = 0;
        data.traceOnCh2 = 1;
        data.traceColorCh2 = 11;
        xy.screenMajSlot(29);
        EXPECT_EQ(xy.cursor(0)->labelColor(), getZincColor(11));
        EXPECT_TRUE(xy.indicator(0)->isVisible());
        EXPECT_FALSE(xy.indicator(4)->isVisible());
        EXPECT_TRUE(xy.indicator(5)->isVisible());
        // A source byte out of range gives colour 15, not a stray field.
        data.xySourceX = 200;
        xy.screenMajSlot(59);
        EXPECT_EQ(xy.cursor(0)->labelColor(), getZincColor(15));
        EXPECT_FALSE(xy.indicator(5)->isVisible());
        // X cursors placed from xpos words.
        table_[5] = 0;
        xy.screenMajSlot(0);
        EXPECT_EQ(xy.cursor(0)->setupFirst(), 0);
    }
    {
        Probe<LoggerIndicScreen> logger(0x0003);
        data.traceOnCh1 = 1;
        data.traceOnCh2 = 1;
        data.hwChannelMask = 0x1;
        logger.screenMajSlot(14);
        EXPECT_TRUE(logger.indicator(0)->isVisible());
        EXPECT_FALSE(logger.indicator(1)->isVisible());
        EXPECT_FALSE(logger.indicator(0)->isMovable());
        EXPECT_EQ(logger.zoomArea(), nullptr);
        // Two marks at the right edge while cursor 0 shows.
        logger.cursorsInit(1, 1);
        QImage image = logger.painted();
        EXPECT_EQ(image.pixelColor(975, 55), QColor(Qt::white));
        EXPECT_EQ(image.pixelColor(975, 945), QColor(Qt::white));
        logger.cursorsInit(0, 1);
        image = logger.painted();
        EXPECT_NE(image.pixelColor(975, 55), QColor(Qt::white));
    }
    {
        // A null cursor table places nothing.
        setupLinks().cursorTablePtr = nullptr;
        Probe<ViewerIndicScreen> viewer(0x0001);
        viewer.screenManualMeasurementSlot();
        EXPECT_EQ(viewer.cursor(0)->x(), 100);
        viewer.screenMajSlot(93);
        EXPECT_FALSE(viewer.indicator(0)->isMovable());
    }
}

TEST_F(IndicScreenTest, CompressedViewMovesTheWindowWithTheFinger)
{
    data.zoomWidth = 10.0f;  // a quarter of the record
    data.horizPosition = 20000;
    Probe<IndicScreenTComp> overlay(0x0001);
    overlay.screenMajSlot(29);
    EXPECT_EQ(overlay.zoomArea()->rect(), QRect(QPoint(200, 0), QPoint(449, 999)));
    ASSERT_NE(overlay.indicator(9), nullptr);
    EXPECT_TRUE(overlay.indicator(9)->isVisible());
    takeRequests();
    overlay.press(QPointF(300.4, 500));  // x 300
    overlay.move(QPointF(400.6, 500));   // x 401: window moved 101
    auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, param::zoomState);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(posted[0].auxValue)->windowPosition, 30100);
    overlay.move(QPointF(401.2, 500));  // same x: nothing new
    EXPECT_TRUE(takeRequests().empty());
    // A full box refuses the next move; the release posts it again.
    pipe_dial filler{1, 0, 0, 0, 0.0f, 0};
    int sent = 0;
    while (o_g_consMessageBox.send(&filler) == 0)
        ++sent;
    overlay.move(QPointF(450, 500));
    takeRequests();
    overlay.release(QPointF(450, 500));
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(posted[0].auxValue)->windowPosition, 35000);
    EXPECT_EQ(refreshSignals_, std::vector<bool>({false, true}));
    // The whole record shown: nothing to move.
    data.zoomWidth = 40.0f;
    overlay.screenMajSlot(36);
    EXPECT_TRUE(overlay.zoomArea()->rect().isNull());
    overlay.press(QPointF(300, 500));
    overlay.move(QPointF(600, 500));
    overlay.release(QPointF(600, 500));
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(IndicScreenTest, AutomaticCursorPointsPerGroup)
{
    mesures r{};
    r.flags = 0x3FFF;
    r.topLevel = 600000;
    r.baseLevel = 400000;
    r.maxCode = 610000;
    r.minCode = 390000;
    r.rise10 = 1000; r.rise50 = 1100; r.rise90 = 1200;
    r.fall90 = 5000; r.fall50 = 5100; r.fall10 = 5200;
    r.nextRise50 = 9100; r.nextFall50 = 13100;
    r.mean = 500000.7;
    r.meanSquare = 10000.0 * 10000.0;
    r.meanSquarePeriods = 20000.0 * 20000.0;
    struct Row {
        unsigned short id;
        QPoint a, b;
    };
    const Row rows[] = {
        {0x10, {1000, 420000}, {1200, 580000}},
        {0x20, {5000, 580000}, {5200, 420000}},
        {0x30, {1100, 500000}, {5100, 500000}},
        {0x40, {5100, 500000}, {9100, 500000}},
        {0x55, {1100, 500000}, {9100, 500000}},
        {0x1000, {50000, 610000}, {50000, 390000}},
        {0x10A0, {50000, 610000}, {50000, 390000}},
        {0x1040, {50000, 600000}, {50000, 400000}},
        {0x1060, {50000, 534256}, {50000, 514256}},
        {0x1080, {50000, 500000}, {50000, 500000}},
        {0x10C0, {50000, 544256}, {50000, 504256}},
    };
    for (const Row& row : rows) {
        QPoint a, b;
        ASSERT_TRUE(IndicScreenT::automaticCursorPoints(row.id, r, 50000, 524256, &a, &b)) << row.id;
        EXPECT_EQ(a, row.a) << std::hex << row.id;
        EXPECT_EQ(b, row.b) << std::hex << row.id;
    }
    // Falling edge first.
    r.rise50 = 6000;
    QPoint a, b;
    ASSERT_TRUE(IndicScreenT::automaticCursorPoints(0x30, r, 0, 0, &a, &b));
    EXPECT_EQ(b, QPoint(13100, 500000));
    ASSERT_TRUE(IndicScreenT::automaticCursorPoints(0x60, r, 0, 0, &a, &b));
    EXPECT_EQ(a, QPoint(5100, 500000));
    EXPECT_EQ(b, QPoint(13100, 500000));
    // A missing bit parks both; identifiers of no group place nothing.
    r.flags = 0x3FFF & ~0x10;
    ASSERT_TRUE(IndicScreenT::automaticCursorPoints(0x10, r, 0, 0, &a, &b));
    EXPECT_EQ(a, QPoint(0, 655296));
    EXPECT_EQ(b, QPoint(100000, 655296));
    EXPECT_FALSE(IndicScreenT::automaticCursorPoints(0x80, r, 0, 0, &a, &b));
}

TEST_F(IndicScreenTest, AutomaticCursorsFollowTheSelectedMeasurement)
{
    static mesures records[4] = {};
    setupLinks().measResultsPtr = records;
    records[1] = mesures{};
    records[1].flags = 0x3;
    records[1].maxCode = 600000;
    records[1].minCode = 450000;
    data.cursor1Time = 20000;
    data.cursor2Time = 60000;
    Probe<IndicScreenT> overlay(0x0002);
    Cursor* a = overlay.cursor(5);
    Cursor* b = overlay.cursor(6);
    // Maximum of channel 2 with automatic cursors on.
    data.cursorState = 3;
    data.indicatorMask = 0x1002;
    emit home_->screenRefreshSignal();
    EXPECT_EQ(a->setupFirst(), 40000);
    EXPECT_EQ(a->setupSecond(), 600000);
    EXPECT_EQ(b->setupSecond(), 450000);
    EXPECT_LT(a->y(), b->y()) << "higher code higher on the screen";
    // Channel 1's measurement is not this pane's.
    data.indicatorMask = 0x1001;
    records[0].flags = 0;
    overlay.screenMajSlot(74);
    EXPECT_EQ(a->setupSecond(), 600000);
    // Missing bits park them.
    records[1].flags = 0x1;
    data.indicatorMask = 0x1002;
    overlay.screenMajSlot(90);
    EXPECT_EQ(a->setupFirst(), 0);
    EXPECT_EQ(a->setupSecond(), 655296);
    EXPECT_EQ(b->setupFirst(), 100000);
    // Manual cursors only: nothing moves.
    records[1].flags = 0x3;
    data.cursorState = 1;
    overlay.screenMajSlot(91);
    EXPECT_EQ(a->setupFirst(), 0);
}

TEST_F(IndicScreenTest, PaintsCursorsFlagsAndZoomRectangle)
{
    Probe<IndicScreenT> overlay(0x0001);
    data.sweepOffset = -50000;
    overlay.screenMajSlot(29);
    overlay.cursorsInit(1, 1);
    overlay.pressAt(600, 600);
    overlay.moveTo(800, 300);
    QImage image = overlay.painted();
    // Transparent but for the rectangle (600..799, 400..699 y downward), white at 0.4.
    const QColor inside = image.pixelColor(700, 550);
    EXPECT_EQ(inside.rgb(), QColor(Qt::white).rgb());
    EXPECT_NEAR(inside.alpha(), 102, 2);
    EXPECT_EQ(image.pixelColor(580, 550).alpha(), 0);
    EXPECT_EQ(image.pixelColor(820, 550).alpha(), 0);
    // V1 at y 125 (the default level), lit somewhere along its dashes.
    bool lit = false;
    for (int x = 0; x < 1000 && !lit; ++x)
        lit = image.pixelColor(x, 125).alpha() != 0;
    EXPECT_TRUE(lit);
    overlay.releaseAt(800, 300);
    // A picture of the overlay over a grid, kept for review.
    GridScreen grid(nullptr, 0, 0, 800, 480);
    QImage picture(800, 480, QImage::Format_ARGB32);
    picture.fill(Qt::black);
    {
        QPainter painter(&picture);
        grid.paint(&painter);
    }
    overlay.setWidth(800);
    overlay.setHeight(480);
    overlay.pressAt(100, 900);
    overlay.move(QPointF(300, 250));
    QImage layer(800, 480, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter painter(&layer);
        overlay.paint(&painter);
    }
    {
        QPainter painter(&picture);
        painter.drawImage(0, 0, layer);
    }
    overlay.release(QPointF(300, 250));
    takeRequests();
    QDir().mkpath(BENCHVIEW_ARTEFACT_DIR);
    EXPECT_TRUE(picture.save(QString(BENCHVIEW_ARTEFACT_DIR) + "/indicscreent.png"));
}

TEST_F(IndicScreenTest, QmlCreatesTheRegisteredOverlays)
{
    QQmlEngine engine;
    for (const char* type : {"CursorScreenT_", "CursorScreenF_", "CursorScreenXy_"}) {
        QQmlComponent component(&engine);
        component.setData(QByteArray("import com.brovak.scope 1.0\n") + type + " { width: 100; height: 50 }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        ASSERT_NE(object, nullptr) << type << component.errorString().toStdString();
        auto* overlay = qobject_cast<IndicScreen*>(object.get());
        ASSERT_NE(overlay, nullptr);
        EXPECT_EQ(overlay->channelMask(), 0xF);
        EXPECT_EQ(overlay->width(), 100);
        EXPECT_EQ(overlay->acceptedMouseButtons(), Qt::AllButtons);
    }
}

} // namespace
