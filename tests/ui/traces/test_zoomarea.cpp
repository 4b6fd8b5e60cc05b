// Zoom areas: the request each display makes for a rectangle, the caps and floors, the XY pair,
// unusable setups, and records that stay intact while later requests are made.
#include "core/gest_db.h"
#include "core/requests.h"
#include "ui/traces/zoomareaf.h"
#include "ui/traces/zoomareat.h"
#include "ui/traces/zoomareatcomp.h"
#include "ui/traces/zoomareaxy.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<pipe_dial> takeRequests()
{
    std::vector<pipe_dial> out;
    pipe_dial r{};
    while (!o_g_consMessageBox.empty() && o_g_consMessageBox.receive(&r, true, 1) == 0)
        out.push_back(r);
    return out;
}

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

class ZoomAreaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        takeRequests();
    }

    // The one request of `area`, with its record.
    static TZoomRect recordOf(ZoomArea& area, int code)
    {
        EXPECT_EQ(area.sendRequest(), ZoomArea::kPosted);
        const auto requests = takeRequests();
        EXPECT_EQ(requests.size(), 1u);
        if (requests.size() != 1)
            return TZoomRect{};
        EXPECT_EQ(requests[0].kind, REQ_SET_PARAM);
        EXPECT_EQ(requests[0].code, code);
        EXPECT_EQ(requests[0].intValue, 4);
        EXPECT_EQ(requests[0].senderId, senderValue(MENU_id));
        return *reinterpret_cast<const TZoomRect*>(requests[0].auxValue);
    }
};

struct Window {
    float vFactor;
    int32_t vPosition;
    float width;
    int32_t horizPosition;
};

struct Row {
    Window setup;
    QRect rect;
    TZoomRect expected;
};

const Row kTimeRows[] = {
    // One tenth of the height: factor 10; the whole width: window unchanged.
    {{1.0f, 0, 40.0f, 0}, corners(0, 200, 999, 299), {10.0f, 2000, 40.0f, 0}},
    // 5 units high: held at 16.
    {{1.0f, 0, 40.0f, 0}, corners(0, 100, 999, 104), {16.0f, 1600, 40.0f, 0}},
    // Half the width from x 250.
    {{1.0f, 0, 40.0f, 0}, corners(250, 0, 749, 999), {1.0f, 0, 20.0f, 25000}},
    // Narrow rectangle on a narrow window: width held at 1.
    {{1.0f, 0, 1.5f, 1000}, corners(500, 0, 599, 999), {1.0f, 0, 1.0f, 2875}},
    // Already zoomed vertically.
    {{2.0f, 100, 40.0f, 0}, corners(0, 0, 999, 499), {4.0f, 200, 40.0f, 0}},
};

void expectRecord(const TZoomRect& got, const TZoomRect& want)
{
    EXPECT_FLOAT_EQ(got.verticalFactor, want.verticalFactor);
    EXPECT_EQ(got.verticalPosition, want.verticalPosition);
    EXPECT_FLOAT_EQ(got.windowWidth, want.windowWidth);
    EXPECT_EQ(got.windowPosition, want.windowPosition);
}

TEST_F(ZoomAreaTest, TimeAndFftRecords)
{
    for (const Row& r : kTimeRows) {
        SCOPED_TRACE(testing::Message() << r.rect.left() << "," << r.rect.top() << " " << r.rect.right() << ","
                                        << r.rect.bottom());
        data.vZoomFactor = r.setup.vFactor;
        data.vZoomPosition = r.setup.vPosition;
        data.zoomWidth = r.setup.width;
        data.horizPosition = r.setup.horizPosition;
        ZoomAreaT t;
        t.setRect(r.rect);
        expectRecord(recordOf(t, param::zoomState), r.expected);

        // The FFT area reads its own fields only.
        data.fftVZoomFactor = r.setup.vFactor;
        data.fftVZoomPosition = r.setup.vPosition;
        data.fftZoomWidth = r.setup.width;
        data.fftHorizPosition = r.setup.horizPosition;
        data.vZoomFactor = 7.0f;
        data.zoomWidth = 3.0f;
        ZoomAreaF f;
        f.setRect(r.rect);
        expectRecord(recordOf(f, param::fftZoomState), r.expected);
    }
}

TEST_F(ZoomAreaTest, CompressedWindowFollowsTheStartKeepingItsWidth)
{
    data.vZoomFactor = 2.0f;
    data.vZoomPosition = 50;
    data.zoomWidth = 10.0f;
    struct {
        int x1;
        int32_t window;
    } rows[] = {{300, 30000}, {900, 75000}, {-20, 0}};
    for (const auto& r : rows) {
        ZoomAreaTComp c;
        c.setRect(corners(r.x1, 0, r.x1 + 50, 999));
        expectRecord(recordOf(c, param::zoomState), TZoomRect{2.0f, 50, 10.0f, r.window});
    }
}

TEST_F(ZoomAreaTest, CompressedDragPostsOnlyChangesAndRepostsARefusedOne)
{
    data.vZoomFactor = 1.0f;
    data.zoomWidth = 10.0f;
    ZoomAreaTComp c;
    c.setRect(corners(100, 0, 200, 999));
    EXPECT_EQ(c.postMove(), ZoomArea::kPosted);
    EXPECT_EQ(c.postMove(), ZoomArea::kNothingPosted) << "same window";
    EXPECT_EQ(takeRequests().size(), 1u);

    // Fill the box: the next move is refused, the release posts it again.
    pipe_dial filler{REQ_SET_PARAM, 0, 0, 0, 0.0f, 0};
    while (o_g_consMessageBox.send(&filler) == 0) {
    }
    c.setRect(corners(300, 0, 400, 999));
    EXPECT_EQ(c.postMove(), ZoomArea::kRefused);
    takeRequests();
    EXPECT_EQ(c.postMove(), ZoomArea::kPosted);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(requests[0].auxValue)->windowPosition, 30000);

    c.forgetPosted();
    EXPECT_EQ(c.postMove(), ZoomArea::kPosted) << "a new drag posts its first position";
}

TEST_F(ZoomAreaTest, XyPostsXThenY)
{
    data.xyZoomFactor = 1.0f;
    data.xyZoomPosition = 0;
    data.vZoomFactor = 1.0f;
    data.vZoomPosition = 0;
    ZoomAreaXy xy;
    xy.setRect(corners(100, 10, 199, 59));  // 100 wide: x10; 50 high: x20, held at 16
    EXPECT_EQ(xy.sendRequest(), ZoomArea::kPosted);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, param::xyZoomFactor);
    EXPECT_EQ(requests[0].intValue, 1000);
    EXPECT_EQ(requests[0].auxValue, 8000);
    EXPECT_EQ(requests[1].code, param::vZoomFactor);
    EXPECT_EQ(requests[1].intValue, 1600);
    EXPECT_EQ(requests[1].auxValue, 160);
    for (const pipe_dial& r : requests) {
        EXPECT_EQ(r.kind, REQ_SET_PARAM);
        EXPECT_EQ(r.floatValue, 0.0f);
    }
}

TEST_F(ZoomAreaTest, UnusableSetupOrRectanglePostsNothing)
{
    const float bad[] = {0.0f, -2.0f, NAN, INFINITY};
    for (float value : bad) {
        SCOPED_TRACE(value);
        std::memcpy(&data, &init_par, sizeof data);
        data.vZoomFactor = 1.0f;
        data.zoomWidth = 40.0f;
        data.xyZoomFactor = 1.0f;
        data.fftVZoomFactor = 1.0f;
        data.fftZoomWidth = 40.0f;
        const QRect rect = corners(100, 100, 399, 399);
        ZoomAreaT t;
        ZoomAreaF f;
        ZoomAreaTComp c;
        ZoomAreaXy xy;
        for (ZoomArea* a : std::initializer_list<ZoomArea*>{&t, &f, &c, &xy})
            a->setRect(rect);

        data.zoomWidth = value;
        EXPECT_EQ(t.sendRequest(), ZoomArea::kNothingPosted);
        EXPECT_EQ(c.sendRequest(), ZoomArea::kNothingPosted);
        data.zoomWidth = 40.0f;
        data.vZoomFactor = value;
        EXPECT_EQ(t.sendRequest(), ZoomArea::kNothingPosted);
        EXPECT_EQ(xy.sendRequest(), ZoomArea::kNothingPosted);
        data.vZoomFactor = 1.0f;
        data.xyZoomFactor = value;
        EXPECT_EQ(xy.sendRequest(), ZoomArea::kNothingPosted);
        data.fftZoomWidth = value;
        EXPECT_EQ(f.sendRequest(), ZoomArea::kNothingPosted);
        EXPECT_TRUE(takeRequests().empty());
    }
    // A reset rectangle has no size.
    ZoomAreaT t;
    EXPECT_EQ(t.rect(), corners(0, 0, -1, -1));
    EXPECT_EQ(t.sendRequest(), ZoomArea::kNothingPosted);
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(ZoomAreaTest, EarlierRecordsSurviveLaterRequests)
{
    data.vZoomFactor = 1.0f;
    data.zoomWidth = 40.0f;
    ZoomAreaT a;
    ZoomAreaT b;
    a.setRect(corners(0, 0, 999, 99));
    b.setRect(corners(0, 0, 999, 499));
    ASSERT_EQ(a.sendRequest(), ZoomArea::kPosted);
    ASSERT_EQ(b.sendRequest(), ZoomArea::kPosted);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].auxValue, requests[1].auxValue);
    EXPECT_FLOAT_EQ(reinterpret_cast<const TZoomRect*>(requests[0].auxValue)->verticalFactor, 10.0f);
    EXPECT_FLOAT_EQ(reinterpret_cast<const TZoomRect*>(requests[1].auxValue)->verticalFactor, 2.0f);
}

} // namespace
