// Cursors: placement from the setup and from the finger (y upward), the active-cursor word, the
// requests a release posts, and what is painted where (y downward).
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/traces/cursorautomatic.h"
#include "ui/traces/cursorhorizontal.h"
#include "ui/traces/cursorvertical.h"
#include "ui/traces/cursorverticalf.h"
#include "ui/traces/cursorverticalx.h"
#include "ui/traces/loggercursorvertical.h"
#include "ui/frame/zinccolor.h"

#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

using uitest::takeRequests;

class CursorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        data.zoomState = 0;
        data.zoomWidth = 40.0f;
        data.horizPosition = 0;
        data.fftZoomState = 0;
        data.fftZoomWidth = 40.0f;
        data.fftHorizPosition = 0;
        takeRequests();
    }

    static void placeFromSetup(Cursor& c, int first, int second)
    {
        QPoint v(first, second);
        c.setPositionFromSetup(v);
    }
    // Finger at (x, y) in overlay units, y upward.
    static void drag(Cursor& c, int x, int y)
    {
        QPoint p(x, y);
        c.setPositionFromMouse(p);
    }

    // Whether any pixel of the rectangle has the colour (dashed lines leave gaps).
    static bool anyPixel(const QImage& image, QRect area, QColor colour)
    {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixelColor(x, y) == colour)
                    return true;
        return false;
    }

    static QImage paintOf(Cursor& c) { return uitest::paintOverlay(c); }
};

TEST_F(CursorTest, LevelCursorFromSetupWithZoomAndClamps)
{
    struct Row {
        float factor;
        int32_t position;
        int32_t level;
        int32_t y;
    } rows[] = {
        {1.0f, 0, 425976, 125},   // the default level
        {1.0f, 0, 622536, 875},
        {1.0f, 0, 0, 10},         // off screen above
        {1.0f, 0, 1000000, 990},  // off screen below
        {2.0f, 0, 425976, 250},
        {2.0f, -100, 425976, 350},
        {0.0f, 0, 425976, 125},   // unusable factor taken as 1
        {NAN, 0, 622536, 875},
    };
    for (const Row& r : rows) {
        CursorHorizontal c(0x4008, 100);
        placeFromSetup(c, 0, r.level);
        c.setZoom(r.factor, r.position);
        EXPECT_EQ(c.y(), r.y) << r.factor << " " << r.position << " " << r.level;
        EXPECT_EQ(c.setupSecond(), r.level);
    }
}

TEST_F(CursorTest, TimeCursorFromSetupWithAndWithoutTimeZoom)
{
    struct Row {
        int16_t zoomState;
        float width;
        int32_t horizPosition;
        bool follows;
        int32_t time;
        int32_t x;
    } rows[] = {
        {0, 40.0f, 0, true, 0, 5},
        {0, 40.0f, 0, true, 99999, 995},
        {0, 40.0f, 0, true, 50000, 500},
        {2, 4.0f, 10000, true, 15000, 500},
        {2, 4.0f, 10000, true, 9000, 5},
        {2, 4.0f, 10000, true, 90000, 995},
        {2, 4.0f, 10000, false, 15000, 150},  // compressed view: the whole record
        {2, 0.0f, 10000, true, 60000, 500},   // unusable width taken as 40
        {2, -1.0f, 10000, true, 60000, 500},
    };
    for (const Row& r : rows) {
        data.zoomState = r.zoomState;
        data.zoomWidth = r.width;
        data.horizPosition = r.horizPosition;
        CursorVertical c(0x8001, 100);
        c.setFollowsTimeZoom(r.follows);
        placeFromSetup(c, r.time, 0);
        EXPECT_EQ(c.x(), r.x) << r.zoomState << " " << r.width << " " << r.time;
    }
}

TEST_F(CursorTest, OtherDisplaysFromSetup)
{
    // FFT: its own window fields; the time window does not matter.
    data.zoomState = 2;
    data.zoomWidth = 1.0f;
    data.fftZoomState = 2;
    data.fftZoomWidth = 8.0f;
    data.fftHorizPosition = 2000;
    CursorVerticalF f(0x8001, 100);
    placeFromSetup(f, 12000, 0);
    EXPECT_EQ(f.x(), 500);

    LoggerCursorVertical logger(0x8001, 100);
    placeFromSetup(logger, 98750, 0);
    EXPECT_EQ(logger.x(), 500);
    placeFromSetup(logger, 1000, 0);
    EXPECT_EQ(logger.x(), 5);

    // XY: the value in the second position, as the overlay hands it.
    CursorVerticalX xy(0x8001, 100);
    placeFromSetup(xy, 0, -131040);
    EXPECT_EQ(xy.x(), 500);
}

TEST_F(CursorTest, FingerPositionsPerClass)
{
    data.zoomState = 2;
    data.zoomWidth = 4.0f;
    data.horizPosition = 10000;
    data.fftZoomState = 2;
    data.fftZoomWidth = 8.0f;
    data.fftHorizPosition = 2000;

    CursorVertical t(0x8002, 100);
    drag(t, 500, 3);
    EXPECT_EQ(t.x(), 500);
    EXPECT_EQ(t.setupFirst(), 15000);
    data.zoomState = 0;
    drag(t, 250, 3);
    EXPECT_EQ(t.setupFirst(), 25000);

    CursorVerticalF f(0x8001, 100);
    drag(f, 100, 0);
    EXPECT_EQ(f.setupFirst(), 4000);
    data.fftZoomWidth = 0.0f;  // unusable: the whole record
    drag(f, 100, 0);
    EXPECT_EQ(f.setupFirst(), 12000);

    LoggerCursorVertical logger(0x8001, 100);
    drag(logger, 400, 0);
    EXPECT_EQ(logger.setupFirst(), 98500);
    drag(logger, 0, 0);
    EXPECT_EQ(logger.setupFirst(), 97500);
    drag(logger, 1000, 0);
    EXPECT_EQ(logger.setupFirst(), 99999);  // never past the record

    CursorVerticalX xy(0x8002, 100);
    EXPECT_EQ(xy.setupFirst(), -235872);  // from the start position
    drag(xy, 500, 0);
    EXPECT_EQ(xy.x(), 500);
    EXPECT_EQ(xy.setupFirst(), -131040);

    CursorHorizontal level(0x4010, 900);
    drag(level, 3, 875);  // y upward: 125 from the top
    EXPECT_EQ(level.y(), 125);
    EXPECT_EQ(level.setupSecond(), 425880);
    placeFromSetup(level, 0, level.setupSecond());
    EXPECT_EQ(level.y(), 125);
}

TEST_F(CursorTest, HitTestsUseYUpward)
{
    CursorVertical t(0x8001, 500);
    CursorHorizontal v(0x4008, 200);
    CursorAutomatic a(0x2020, 500, 200);
    QPoint on(510, 800);  // 200 from the top
    QPoint offX(520, 800);
    QPoint offY(510, 230);
    EXPECT_FALSE(t.isNear(on)) << "invisible cursors are not hit";
    t.setVisible(true);
    v.setVisible(true);
    a.setVisible(true);
    EXPECT_TRUE(t.isNear(on));
    EXPECT_FALSE(t.isNear(offX));
    EXPECT_TRUE(v.isNear(on));
    EXPECT_FALSE(v.isNear(offY)) << "y 230 upward is 770 from the top";
    QPoint mirrored(510, 200);
    EXPECT_FALSE(v.isNear(mirrored));
    QPoint at(500, 800);
    EXPECT_FALSE(a.isNear(at));
}

TEST_F(CursorTest, ActiveWordAndReleaseRequests)
{
    CursorVertical t1(0x8001, 100);
    CursorVertical t2(0x8002, 500);
    CursorHorizontal v1(0x4008, 100);
    unsigned short word = 0;
    word = t1.setActive(true, word);
    word = t2.setActive(true, word);
    word = v1.setActive(true, word);
    EXPECT_EQ(word, 0x8001 | 0x4008);
    EXPECT_TRUE(t1.isActive());
    EXPECT_FALSE(t2.isActive());
    EXPECT_TRUE(v1.isActive());

    drag(t1, 250, 0);
    drag(v1, 0, 875);
    for (Cursor* c : std::initializer_list<Cursor*>{&t1, &t2, &v1})
        EXPECT_EQ(c->setActive(false, 0), 0);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(requests[0].code, param::cursor1Time);
    EXPECT_EQ(requests[0].intValue, 25000);
    EXPECT_EQ(requests[0].auxValue, 0);
    EXPECT_EQ(requests[0].senderId, senderValue(MENU_id));
    EXPECT_EQ(requests[1].code, param::cursor1Level);
    EXPECT_EQ(requests[1].intValue, 425880);

    // Releasing again posts nothing: nobody is active any more.
    t1.setActive(false, 0);
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(CursorTest, LabelsAndParametersByIdentity)
{
    struct Row {
        std::unique_ptr<Cursor> cursor;
        const char* label;
        int code;
    };
    Row rows[] = {
        {std::make_unique<CursorVertical>(0x8001, 0), "T1", 24},
        {std::make_unique<CursorVertical>(0x8002, 0), "T2", 25},
        {std::make_unique<CursorVertical>(0x8004, 0), "Ph", 92},
        {std::make_unique<CursorVertical>(0x8010, 0), "T1", 24},
        {std::make_unique<CursorHorizontal>(0x4008, 0), "V1", 88},
        {std::make_unique<CursorHorizontal>(0x4010, 0), "V2", 89},
        {std::make_unique<CursorHorizontal>(0x4001, 0), "V1", 88},
        {std::make_unique<CursorVerticalX>(0x8001, 0), "V1x", 203},
        {std::make_unique<CursorVerticalX>(0x8002, 0), "V2x", 204},
        {std::make_unique<CursorVerticalF>(0x8002, 0), "T2", 25},
        {std::make_unique<LoggerCursorVertical>(0x8004, 0), "Ph", 92},
        {std::make_unique<CursorAutomatic>(0x2020, 0, 0), "A", 0},
        {std::make_unique<CursorAutomatic>(0x2040, 0, 0), "B", 0},
    };
    for (Row& r : rows) {
        EXPECT_EQ(r.cursor->label(), QString(r.label));
        EXPECT_EQ(r.cursor->request().code, r.code) << r.label;
        r.cursor->setActive(true, 0);
        r.cursor->setActive(false, 0);
        const auto requests = takeRequests();
        if (r.code == 0) {
            EXPECT_TRUE(requests.empty()) << "automatic cursors post nothing";
        } else {
            ASSERT_EQ(requests.size(), 1u) << r.label;
            EXPECT_EQ(requests[0].code, r.code);
        }
    }
}

TEST_F(CursorTest, XyCursorPlacedByTheOverlayReleasesItsOwnValue)
{
    // Placed with (0, value); a press and release without a move posts that value, not 0.
    CursorVerticalX xy(0x8001, 100);
    placeFromSetup(xy, 0, -131040);
    xy.setActive(true, 0);
    xy.setActive(false, 0);
    const auto requests = takeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, param::xyCursor1X);
    EXPECT_EQ(requests[0].intValue, -131040);
}

TEST_F(CursorTest, AutomaticCursorPlacement)
{
    CursorAutomatic a(0x2020, 350, 350);
    placeFromSetup(a, 50000, 393216);
    EXPECT_EQ(a.x(), 500);
    EXPECT_EQ(a.y(), 1000);
    placeFromSetup(a, 100000, 655296);
    EXPECT_EQ(a.x(), 1000);
    EXPECT_EQ(a.y(), 0);
    placeFromSetup(a, 0, 0x100000 | 524256);  // bits above 20 ignored
    EXPECT_EQ(a.y(), 500);
    data.zoomState = 2;
    data.zoomWidth = 4.0f;
    data.horizPosition = 10000;
    placeFromSetup(a, 15000, 524256);
    EXPECT_EQ(a.x(), 500);
    data.zoomWidth = 0.0f;  // unusable: the whole record
    placeFromSetup(a, 60000, 524256);
    EXPECT_EQ(a.x(), 500);
}

TEST_F(CursorTest, ReferenceChannelColour)
{
    data.traceColorCh2 = 4;
    data.traceOnCh2 = 1;
    data.traceColorCh3 = 2;
    data.traceOnCh3 = 0;
    data.memoryTraceCh3 = 0;
    data.traceColorCh4 = 5;
    data.traceOnCh4 = 0;
    data.memoryTraceCh4 = 1;
    struct Row {
        unsigned short bit;
        unsigned short index;
    } rows[] = {{2, 4}, {4, 15}, {8, 5}, {8192, 6}, {3, 15}, {0, 15}};
    for (const Row& r : rows) {
        CursorHorizontal c(0x4008, 100);
        EXPECT_EQ(c.labelColor(), QColor(Qt::white));
        c.setReferenceChannel(r.bit);
        EXPECT_EQ(c.labelColor(), getZincColor(r.index)) << r.bit;
    }
}

TEST_F(CursorTest, PaintingColoursAndPlaces)
{
    CursorVertical t(0x8001, 300);
    const QRect column(300, 480, 1, 40);
    EXPECT_FALSE(anyPixel(paintOf(t), QRect(0, 0, 1000, 1000), QColor(Qt::lightGray))) << "invisible";
    t.setVisible(true);
    EXPECT_TRUE(anyPixel(paintOf(t), column, QColor(Qt::lightGray)));
    t.setActive(true, 0);
    EXPECT_TRUE(anyPixel(paintOf(t), column, QColor(Qt::white)));

    // Level 425976 is drawn 125 from the top.
    CursorHorizontal v(0x4008, 500);
    v.setVisible(true);
    placeFromSetup(v, 0, 425976);
    const QImage image = paintOf(v);
    EXPECT_TRUE(anyPixel(image, QRect(400, 125, 40, 1), QColor(Qt::lightGray)));
    EXPECT_FALSE(anyPixel(image, QRect(0, 870, 1000, 10), QColor(Qt::lightGray)));

    // The automatic cross leaves its centre free.
    CursorAutomatic a(0x2020, 500, 500);
    a.setVisible(true);
    const QImage cross = paintOf(a);
    EXPECT_EQ(cross.pixelColor(500, 500).alpha(), 0);
    EXPECT_EQ(cross.pixelColor(470, 500), QColor(Qt::lightGray));
    EXPECT_EQ(cross.pixelColor(500, 530), QColor(Qt::lightGray));
    EXPECT_EQ(cross.pixelColor(500, 560).alpha(), 0);
}

} // namespace
