// The measurement box: cell selection and its request, title and colour, posts on visibility
// changes only, measuring only while shown, painting.
#include "tests/ui/scope/automeas_fixture.h"
#include "tests/ui/support/test_trace_fixture.h"
#include "ui/traces/automeaschannel.h"
#include "ui/frame/homeview.h"
#include "ui/frame/zinccolor.h"

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
class AutoMeasBox : public AutoMeasFixture {
protected:
    static void press(AutoMeasChannel* item, double x, double y)
    {
        QMouseEvent ev(QEvent::MouseButtonPress, QPointF(x, y), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(item, &ev);
    }
    static QImage render(AutoMeasChannel* item)
    {
        QImage image(700, 105, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        item->paint(&p);
        return image;
    }
    // Runs the GUI event loop until pred holds (false after timeoutMs).
    template <typename Pred>
    static bool waitFor(Pred pred, int timeoutMs)
    {
        for (int waited = 0; !pred(); waited += 5) {
            if (waited > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
};
} // namespace

TEST_F(AutoMeasBox, PressSelectsCellAndPostsItsMeasurement)
{
    struct Case {
        double x, y;
        int16_t ref;
        int cell;
    } const cases[] = {
        {420, 60, 1, 13},     // "wminus": {1, 74, 0, 0x41}
        {419.6, 59.5, 1, 13},  // rounded to whole pixels
        {0, 0, 2, 0},
        {700, 20, 4, 4},       // right of the last column: fifth column
        {20, 200, 8, 15},      // beyond the fourth row: fourth row
        {150, 26, 8191, 1},    // (26 - 5) / 22 is still the first row
    };
    AutoMeasChannel item;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cell);
        data.measRefChannel = c.ref;
        press(&item, c.x, c.y);
        EXPECT_EQ(item.selectedCell(), c.cell);
        const auto posted = drainRequests();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
        EXPECT_EQ(posted[0].code, 74);
        EXPECT_EQ(posted[0].auxValue, 0);
        EXPECT_EQ(posted[0].intValue, tus_g_measId[c.cell] | c.ref);
    }
    data.measRefChannel = 1;
    press(&item, 420, 60);
    EXPECT_EQ(drainRequests().at(0).intValue, 0x41);
}

TEST_F(AutoMeasBox, TitleAndColourFollowReferenceChannel)
{
    data.traceColorCh2 = 5;
    struct Case {
        int16_t ref;
        uint16_t flags;
        const char* title;
        QColor colour;
    } const cases[] = {
        {2, 0x2, "CH2", getZincColor(5)},
        {2, 0x200, "M2", getZincColor(5)},
        {2, 0x1, "CH2", QColor(Qt::lightGray)},
        {8191, 0xF, "x", QColor(Qt::lightGray)},
        {0, 0xF, "x", QColor(Qt::lightGray)},
    };
    AutoMeasChannel item;
    item.setSize(QSizeF(700, 105));
    int titles = 0;
    QObject::connect(&item, &AutoMeasChannel::titleChanged, [&titles] { ++titles; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        data.measRefChannel = c.ref;
        data.channelFlags = c.flags;
        item.screenMajSlot(23);
        EXPECT_EQ(item.title(), c.title);
        EXPECT_EQ(item.color(), c.colour);
        // The background is the colour lightened by half.
        EXPECT_EQ(render(&item).pixel(3, 3), c.colour.lighter(150).rgb());
    }
    EXPECT_EQ(titles, 5);
    // Codes outside the list change nothing.
    data.measRefChannel = 1;
    data.channelFlags = 0x1;
    item.screenMajSlot(5);
    EXPECT_EQ(item.title(), "x");
    EXPECT_EQ(titles, 5);
}

TEST_F(AutoMeasBox, PostsOnlyWhenVisibilityChanges)
{
    AutoMeasChannel item;
    item.setOpacity(0);
    EXPECT_TRUE(drainRequests().empty());  // created hidden: the user's cursors stay
    struct Step {
        double opacity;
        int posted;  // -1: nothing
    } const steps[] = {{0.3, 3}, {0.6, -1}, {1.0, -1}, {0, 0}, {0, -1}, {1, 3}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.opacity);
        item.setOpacity(s.opacity);
        const auto posted = drainRequests();
        if (s.posted < 0) {
            EXPECT_TRUE(posted.empty());
        } else {
            ASSERT_EQ(posted.size(), 1u);
            EXPECT_EQ(posted[0].code, 93);
            EXPECT_EQ(posted[0].intValue, s.posted);
        }
    }
}

TEST_F(AutoMeasBox, MeasuresOnRefreshOnlyWhileShownAndPaintsSelection)
{
    HomeView home;
    po_g_homeView = &home;
    records_[0] = fullRecord();
    data.measRefChannel = 8191;  // falls back to channel 1
    {
        TWatchdog dog(20, "box measurement");
        AutoMeasChannel item;
        item.setSize(QSizeF(700, 105));
        item.setOpacity(0);
        int ready = 0;
        QObject::connect(&item, &AutoMeasChannel::measurementListChanged, [&ready] { ++ready; });
        emit home.screenRefreshSignal();
        EXPECT_FALSE(waitFor([&] { return ready > 0; }, 300));  // hidden: nothing computed
        EXPECT_TRUE(item.measurementList().isEmpty());

        item.setOpacity(1);
        emit home.screenRefreshSignal();
        ASSERT_TRUE(waitFor([&] { return ready > 0; }, 10000));
        const QStringList list = item.measurementList();
        ASSERT_EQ(list.size(), kAutoMeasCount);
        EXPECT_EQ(list[16], "dcycle: 50.0 %");

        // A cursor change measures too.
        ready = 0;
        emit home.screenManualMeasurementSignal();
        ASSERT_TRUE(waitFor([&] { return ready > 0; }, 10000));

        press(&item, 420, 60);  // cell 13: column 3, row 2
        const QImage image = render(&item);
        // The frame's left edge at x = 410 (antialiased over two pixels), between rows of text.
        const QColor background = QColor(Qt::lightGray).lighter(150);
        auto darkest = [&](int x0, int x1, int y) {
            int d = 255;
            for (int x = x0; x <= x1; ++x)
                d = std::min(d, image.pixelColor(x, y).red());
            return d;
        };
        EXPECT_LT(darkest(408, 412, 64), 160);
        EXPECT_EQ(image.pixel(5, 5), background.rgb());
        EXPECT_EQ(darkest(408, 412, 64 + 22), 255);  // row 3 has no frame
    }
    po_g_homeView = nullptr;
}
