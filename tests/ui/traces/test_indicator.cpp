// Indicators: value and position from the setup and from the finger (y upward), the edge rule
// and its symbols, hit rectangles, hidden flags, the trigger level's channel offset and the
// coupling symbols.
#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/traces/indicator0v.h"
#include "ui/traces/indicator0v_f.h"
#include "ui/traces/indicator0v_x.h"
#include "ui/traces/indicatortriggert.h"
#include "ui/traces/indicatortriggertcomp.h"
#include "ui/traces/indicatortriggerv.h"
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

class IndicatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        data.zoomWidth = 40.0f;
        data.horizPosition = 0;
        takeRequests();
    }

    static void drag(Indicator& i, int x, int y)
    {
        QPoint p(x, y);
        i.setPositionFromMouse(p);
    }
    static bool hits(Indicator& i, int x, int y)
    {
        QPoint p(x, y);
        return i.isNear(p);
    }
    // Drags with a press and a release; returns what the release posted.
    static std::vector<pipe_dial> dragAndRelease(Indicator& i, int x, int y)
    {
        i.setActive(true);
        drag(i, x, y);
        i.setActive(false);
        return takeRequests();
    }
    static QImage paintOf(Indicator& i) { return uitest::paintOverlay(i); }
};

TEST_F(IndicatorTest, ConstructedFlags)
{
    data.traceColorCh3 = 4;
    struct Row {
        std::unique_ptr<Indicator> indicator;
        int parameter;
        const char* title;
        bool visible;
        int x;
        int y;
    };
    Row rows[] = {
        {std::make_unique<Indicator0V>(0), 9, "1", false, 0, 500},
        {std::make_unique<Indicator0V>(7), 12, "4", false, 0, 500},
        {std::make_unique<Indicator0V>(12), 9, "1", false, 0, 500},
        {std::make_unique<Indicator0V_X>(5), 10, "2", false, 500, 0},
        {std::make_unique<Indicator0V_F>(1, 1), 118, "2-40dB", false, 0, 500},
        {std::make_unique<Indicator0V_F>(6, 0), 119, "3", false, 0, 500},
        {std::make_unique<IndicatorTriggerT>(), 5, "T", true, 500, 0},
        {std::make_unique<IndicatorTriggerTComp>(), 5, "", true, 500, 0},
        {std::make_unique<IndicatorTriggerV>(2), 115, "", true, 959, 500},
        {std::make_unique<IndicatorTriggerV>(9), 113, "", true, 959, 500},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.parameter);
        EXPECT_EQ(r.indicator->parameter(), r.parameter);
        EXPECT_EQ(r.indicator->title(), QString(r.title));
        EXPECT_EQ(r.indicator->isVisible(), r.visible);
        EXPECT_EQ(r.indicator->x(), r.x);
        EXPECT_EQ(r.indicator->y(), r.y);
    }
    EXPECT_EQ(rows[0].indicator->fillColor(), getZincColor(7));
    EXPECT_EQ(rows[6].indicator->fillColor(), getZincColor(8));
    EXPECT_EQ(rows[6].indicator->lowerBound(), -92800);
    EXPECT_EQ(rows[8].indicator->fillColor(), getZincColor(4));
    EXPECT_EQ(rows[0].indicator->upperBound(), max_par.offsetCh1);
    EXPECT_EQ(rows[0].indicator->lowerBound(), -max_par.offsetCh1);
    EXPECT_EQ(rows[7].indicator->pen().width(), 5);
}

TEST_F(IndicatorTest, ZeroLinesFromSetupAndFinger)
{
    struct Row {
        float factor;
        int32_t position;
        int value;
        int y;
    } rows[] = {
        {1.0f, 0, 0, 500},  {1.0f, 0, 100, 400}, {2.0f, 0, 250, 500},
        {2.0f, 100, 250, 400}, {0.0f, 0, 100, 400},  // unusable factor taken as 1
    };
    for (const Row& r : rows) {
        Indicator0V zero(0);
        zero.setPositionFromSetup(r.value, 0);
        zero.setZoom(r.factor, r.position);
        EXPECT_EQ(zero.y(), r.y) << r.factor << " " << r.value;
        EXPECT_EQ(zero.value(), r.value);
        // The finger where the flag sits gives the value back.
        drag(zero, 3, 1000 - r.y);
        EXPECT_EQ(zero.y(), r.y);
        EXPECT_EQ(zero.value(), r.value);

        Indicator0V_X x(0);
        x.setPositionFromSetup(r.value, 0);
        x.setZoom(r.factor, r.position);
        EXPECT_EQ(x.x(), 1000 - r.y);
        drag(x, 1000 - r.y, 3);
        EXPECT_EQ(x.value(), r.value);
    }
    // Float arithmetic, truncated toward zero.
    Indicator0V zero(0);
    zero.setZoom(3.0f, 0);
    drag(zero, 0, 499);  // 500 - 501 / 3 = 333.0
    EXPECT_EQ(zero.value(), 333);
    drag(zero, 0, 1000 - 1600);  // beyond the bottom: 500 - 1600 / 3 = -33.3
    EXPECT_EQ(zero.value(), -33);
}

TEST_F(IndicatorTest, TriggerPositionAndItsRequest)
{
    IndicatorTriggerT t;
    t.setPositionFromSetup(-50000, 0);
    EXPECT_EQ(t.x(), 500);
    const auto requests = dragAndRelease(t, 250, 0);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(requests[0].code, param::sweepOffset);
    EXPECT_EQ(requests[0].auxValue, 0);
    EXPECT_EQ(requests[0].intValue, -25000);
    EXPECT_EQ(requests[0].senderId, senderValue(MENU_id));

    // Zoomed window.
    data.zoomWidth = 4.0f;
    data.horizPosition = 10000;
    t.setPositionFromSetup(-12000, 0);
    EXPECT_EQ(t.x(), 200);
    drag(t, 200, 0);
    EXPECT_EQ(t.value(), -12000);
    data.zoomWidth = 0.0f;  // unusable: the whole record
    t.setPositionFromSetup(-60000, 0);
    EXPECT_EQ(t.x(), 500);

    IndicatorTriggerTComp comp;
    comp.setPositionFromSetup(-50000, 0);
    EXPECT_EQ(comp.x(), 500);
    drag(comp, 300, 0);
    EXPECT_EQ(comp.value(), -30000);
}

TEST_F(IndicatorTest, TriggerLevelHasTheChannelOffsetSubtracted)
{
    IndicatorTriggerV level(1);
    level.setPositionFromSetup(100, 50);
    EXPECT_EQ(level.y(), 350);
    level.setZoom(2.0f, 0);
    EXPECT_EQ(level.y(), 700) << "the zoom keeps the channel offset";
    level.setZoom(1.0f, 0);
    const auto requests = dragAndRelease(level, 959, 650);
    EXPECT_EQ(level.y(), 350);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, param::trigLevelCh2);
    EXPECT_EQ(requests[0].intValue, 100);
}

TEST_F(IndicatorTest, EdgeRulesAndSymbols)
{
    struct Row {
        std::unique_ptr<Indicator> indicator;
        int value;
        int x0;
        int y0;
        const short* symbol;
    };
    Row rows[] = {
        {std::make_unique<Indicator0V>(0), -600, 0, 949, Indicator0V::ts_c_maxMotif},
        {std::make_unique<Indicator0V>(0), 600, 0, 0, Indicator0V::ts_c_minMotif},
        {std::make_unique<Indicator0V>(0), 100, 0, 375, Indicator0V::ts_c_normalMotif},
        {std::make_unique<IndicatorTriggerV>(0), -600, 959, 949, IndicatorTriggerV::ts_c_maxMotif},
        {std::make_unique<IndicatorTriggerV>(0), 600, 959, 0, IndicatorTriggerV::ts_c_minMotif},
        {std::make_unique<Indicator0V_X>(0), 600, 959, 0, Indicator0V_X::ts_c_maxMotif},
        {std::make_unique<Indicator0V_X>(0), -600, 0, 0, Indicator0V_X::ts_c_minMotif},
        {std::make_unique<Indicator0V_X>(0), 100, 586, 0, Indicator0V_X::ts_c_normalMotif},
        // Trigger position: the corner x - 12 decides.
        {std::make_unique<IndicatorTriggerT>(), -101300, 959, 0, IndicatorTriggerT::ts_c_maxMotif},
        {std::make_unique<IndicatorTriggerT>(), -101200, 1000, 0, IndicatorTriggerT::ts_c_normalMotif},
        {std::make_unique<IndicatorTriggerT>(), -1100, 0, 0, IndicatorTriggerT::ts_c_minMotif},
        {std::make_unique<IndicatorTriggerTComp>(), -200000, 959, 0, IndicatorTriggerTComp::ts_c_maxMotif},
        {std::make_unique<IndicatorTriggerTComp>(), 5000, 0, 0, IndicatorTriggerTComp::ts_c_minMotif},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.indicator->parameter() << " " << r.value);
        r.indicator->setPositionFromSetup(r.value, 0);
        int x0 = -1, y0 = -1;
        const short* symbol = nullptr;
        r.indicator->getIndicPos(&x0, &y0, &symbol);
        EXPECT_EQ(x0, r.x0);
        EXPECT_EQ(y0, r.y0);
        EXPECT_EQ(symbol, r.symbol);
    }
    // Segment tables: count, then four coordinates per segment.
    const short expectedMax[] = {2, 14, 0, 14, 50, 14, 50, 2, 25};
    EXPECT_EQ(0, std::memcmp(Indicator0V::ts_c_maxMotif, expectedMax, sizeof expectedMax));
    const short expectedCompMin[] = {2, 0, 150, 14, 20, 0, 150, 14, 280};
    EXPECT_EQ(0, std::memcmp(IndicatorTriggerTComp::ts_c_minMotif, expectedCompMin, sizeof expectedCompMin));
}

TEST_F(IndicatorTest, FlagAtTheLowerEdgeIsPaintedAndHitThere)
{
    Indicator0V zero(0);
    zero.setPositionFromSetup(-600, 0);  // y 1100: below the screen
    zero.setVisible(true);
    const QImage image = paintOf(zero);
    EXPECT_EQ(image.pixel(5, 955), getZincColor(7).rgba()) << "fill of the flag at the bottom";
    EXPECT_EQ(image.pixel(14, 960), QColor(Qt::white).rgba()) << "upright bar of the max symbol";
    EXPECT_EQ(image.pixelColor(5, 900).alpha(), 0);
    // Hit rectangle (0, 949)-(40, 999), points with y upward.
    EXPECT_TRUE(hits(zero, 20, 1000 - 975));
    EXPECT_TRUE(hits(zero, 40, 1000 - 949));
    EXPECT_FALSE(hits(zero, 41, 1000 - 975));
    EXPECT_FALSE(hits(zero, 20, 1000 - 940));
    EXPECT_FALSE(hits(zero, 20, 975)) << "y is upward";

    zero.setMovable(false);
    EXPECT_FALSE(hits(zero, 20, 1000 - 975));
}

TEST_F(IndicatorTest, HiddenFlagIsNeitherPaintedNorHitNorPosted)
{
    Indicator0V zero(1);
    zero.setPositionFromSetup(0, 0);
    EXPECT_FALSE(zero.isVisible());
    const QImage image = paintOf(zero);
    bool anyPainted = false;
    for (int y = 0; y < 1000 && !anyPainted; y += 5)
        for (int x = 0; x < 100 && !anyPainted; ++x)
            anyPainted = image.pixelColor(x, y).alpha() != 0;
    EXPECT_FALSE(anyPainted);
    EXPECT_FALSE(hits(zero, 10, 500));
    EXPECT_TRUE(dragAndRelease(zero, 10, 600).empty());

    // Visible: a release posts, a release of an inactive flag does not.
    zero.setVisible(true);
    EXPECT_EQ(dragAndRelease(zero, 10, 600).size(), 1u);
    zero.setActive(false);
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(IndicatorTest, CouplingSymbolsByModel)
{
    EXPECT_EQ(IndicatorTriggerV::couplingSymbol(0), IndicatorTriggerV::ts_c_couplingAc);
    EXPECT_EQ(IndicatorTriggerV::couplingSymbol(1), IndicatorTriggerV::ts_c_couplingDc);
    EXPECT_EQ(IndicatorTriggerV::couplingSymbol(2), IndicatorTriggerV::ts_c_couplingLfReject);
    EXPECT_EQ(IndicatorTriggerV::couplingSymbol(3), IndicatorTriggerV::ts_c_couplingHfReject);
    EXPECT_EQ(IndicatorTriggerV::couplingSymbol(7), IndicatorTriggerV::ts_c_couplingDc);

    // The flag sits at (959, 475): DC draws its bar at y 9 of the flag, AC does not.
    IndicatorTriggerV level(0);
    level.setPositionFromSetup(0, 0);
    EXPECT_EQ(level.model(), 1);
    EXPECT_EQ(paintOf(level).pixel(959 + 10, 475 + 9), QColor(Qt::white).rgba());
    level.setModel(0);
    EXPECT_EQ(paintOf(level).pixel(959 + 10, 475 + 9), level.fillColor().rgba());
    EXPECT_EQ(paintOf(level).pixel(959 + 7, 475 + 15), QColor(Qt::white).rgba());
}

} // namespace
