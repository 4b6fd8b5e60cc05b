// The viewer's event filter and event list items: their requests, their updates from the
// controller, and the list's taps, drags and painting.
#include "tests/ui/support/meter_fixture.h"

#include "ui/viewer/viewereventfilter.h"
#include "ui/viewer/viewereventlist.h"

#include <QMouseEvent>

#include <cmath>
#include <limits>
#include <utility>

namespace {

using Post = std::pair<int32_t, intptr_t>;

class ViewerEventsTest : public MeterFixture {
protected:
    // The (code, value) of each waiting request, checked as the user interface's set-parameter posts.
    static std::vector<Post> posts()
    {
        std::vector<Post> out;
        for (const pipe_dial& r : uitest::takeRequests()) {
            EXPECT_EQ(r.kind, REQ_SET_PARAM);
            EXPECT_EQ(r.senderId, senderValue(MENU_id));
            out.emplace_back(r.code, r.intValue);
        }
        return out;
    }
    double k(int channel)
    {
        double span = 0.0;
        trace(channel)->GetMMRange(&span, nullptr, nullptr);
        return span / 262080.0;
    }
};

class TEventList : public ViewerEventList {
public:
    using ViewerEventList::mousePressEvent;
    using ViewerEventList::mouseReleaseEvent;
    void press(QPointF at)
    {
        QMouseEvent e(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        mousePressEvent(&e);
    }
    void release(QPointF at)
    {
        QMouseEvent e(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        mouseReleaseEvent(&e);
    }
    void drag(QPointF from, QPointF to)
    {
        press(from);
        release(to);
    }
};

QStringList entries(std::initializer_list<int> indices)
{
    QStringList out;
    for (int i : indices)
        out << QStringLiteral("2026-03-14,09:20:00.0|%1").arg(i);
    return out;
}

TEST_F(ViewerEventsTest, FilterRequests)
{
    const double k1 = k(0);
    ASSERT_GT(k1, 0.0);
    ViewerEventFilter filter;
    filter.initFilterParams();
    filter.setProperty("sourceIndex", 0);
    const struct {
        const char* what;
        std::function<void()> call;
        std::vector<Post> posted;
    } rows[] = {
        {"source", [&] { filter.sendRequestSource(2); }, {{207, 2}}},
        {"type", [&] { filter.sendRequestType(1); }, {{208, 2}}},
        {"duration 2.0 s", [&] { filter.sendRequestDuration(2.0); }, {{211, 10}}},
        {"duration NaN", [&] { filter.sendRequestDuration(std::nan("")); }, {}},
        {"duration 1.2 s", [&] { filter.sendRequestDuration(1.2); }, {{211, 6}}},
        {"level 1 of 500 codes", [&] {
             filter.sendRequestSource(0);
             posts();
             filter.sendRequestLevel1(500 * k1);
         },
         {{209, 524756}, {88, 523756}}},
        {"level 2 of -500 codes", [&] { filter.sendRequestLevel2(-500 * k1); }, {{210, 523756}, {89, 524756}}},
    };
    for (const auto& row : rows) {
        row.call();
        EXPECT_EQ(posts(), row.posted) << row.what;
    }
    EXPECT_EQ(filter.property("typeIndex").toInt(), 1);
    EXPECT_DOUBLE_EQ(filter.property("durationValue").toDouble(), 1.2);

    // Without a trace the level has no code: nothing is posted.
    setupLinks().acqCh1 = nullptr;
    filter.sendRequestLevel1(1.0);
    EXPECT_TRUE(posts().empty());
}

TEST_F(ViewerEventsTest, FilterFollowsTheSetup)
{
    ViewerEventFilter filter;
    EXPECT_EQ(filter.property("sourceIndex").toInt(), -1);
    EXPECT_EQ(filter.property("level1Value").toDouble(), std::numeric_limits<double>::max());
    int dataChanges = 0;
    std::vector<int> counters;
    QObject::connect(&filter, &ViewerEventFilter::dataChanged, [&] { ++dataChanges; });
    QObject::connect(&filter, &ViewerEventFilter::counterChanged, [&](int n) { counters.push_back(n); });
    data.eventSource = 1;
    data.eventType = 3;
    data.eventLevel1 = 524256 + 1000;
    data.eventLevel2 = 524256 - 2000;
    data.eventDuration = 7;
    const struct {
        int code;
        int dataChanges;
        std::vector<int> counters;
    } rows[] = {{90, 1, {}}, {0, 1, {-1}}, {207, 1, {-1}}, {211, 1, {-1}}, {206, 0, {}}, {212, 0, {}}, {8, 0, {}}};
    for (const auto& row : rows) {
        dataChanges = 0;
        counters.clear();
        home_->screenMajSignal(row.code);
        EXPECT_EQ(dataChanges, row.dataChanges) << row.code;
        EXPECT_EQ(counters, row.counters) << row.code;
    }
    const double k2 = k(1);
    EXPECT_EQ(filter.property("sourceIndex").toInt(), 1);
    EXPECT_EQ(filter.property("typeIndex").toInt(), 2);
    EXPECT_DOUBLE_EQ(filter.property("level1Value").toDouble(), 1000 * k2);
    EXPECT_DOUBLE_EQ(filter.property("level2Value").toDouble(), -2000 * k2);
    EXPECT_DOUBLE_EQ(filter.property("maxLevel1Value").toDouble(), (655296 - 524256) * k2);
    EXPECT_DOUBLE_EQ(filter.property("durationValue").toDouble(), 1.4);
    EXPECT_DOUBLE_EQ(filter.property("maxDurationValue").toDouble(), 20000.0);
    EXPECT_EQ(filter.property("verticalUnit").toString(), GetVerticalUnit(trace(1), trace(1)->meterScale, true));

    // Shown again (opacity above 0): re-read, count hidden; hidden: nothing.
    counters.clear();
    filter.setOpacity(0.0);
    EXPECT_TRUE(counters.empty());
    filter.setOpacity(1.0);
    EXPECT_EQ(counters, std::vector<int>{-1});
    EXPECT_TRUE(posts().empty());
}

TEST_F(ViewerEventsTest, ListShowsTheSelectedEvent)
{
    data.vZoomFactor = 2.0f;
    data.vZoomPosition = 7;
    data.eventLevel1 = 600000;
    data.eventLevel2 = 500000;
    const struct {
        int16_t source;
        int sample;
        int32_t window;
        intptr_t reference;
    } rows[] = {{0, 800, 0, 1}, {2, 5000, 3750, 4}, {3, 99000, 97500, 8}, {40, 1251, 1, 1}, {-1, 1250, 0, 1}};
    TEventList list;
    for (const auto& row : rows) {
        data.eventSource = row.source;
        list.displayEventList(entries({row.sample, 1}));
        const std::vector<pipe_dial> p = uitest::takeRequests();
        ASSERT_EQ(p.size(), 6u) << row.sample;
        EXPECT_EQ(p[0].code, 61);
        EXPECT_EQ(p[0].intValue, 4);
        const auto* zoom = reinterpret_cast<const TZoomRect*>(p[0].auxValue);
        EXPECT_EQ(zoom->verticalFactor, 2.0f);
        EXPECT_EQ(zoom->verticalPosition, 7);
        EXPECT_EQ(zoom->windowWidth, 1.0f);
        EXPECT_EQ(zoom->windowPosition, row.window) << row.sample;
        std::vector<Post> rest;
        for (size_t i = 1; i < p.size(); ++i)
            rest.emplace_back(p[i].code, p[i].intValue);
        EXPECT_EQ(rest, (std::vector<Post>{{93, 1}, {24, row.sample}, {88, 448512}, {89, 548512}, {23, row.reference}}))
            << row.sample;
    }

    // Two quick taps keep their own zoom records.
    data.eventSource = 0;
    list.displayEventList(entries({3000, 9000}));
    list.drag({205, 15}, {205, 15});
    const std::vector<pipe_dial> p = uitest::takeRequests();
    ASSERT_EQ(p.size(), 12u);
    EXPECT_NE(p[0].auxValue, p[6].auxValue);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[0].auxValue)->windowPosition, 1750);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[6].auxValue)->windowPosition, 7750);

    // An empty list posts nothing.
    list.displayEventList({});
    EXPECT_TRUE(uitest::takeRequests().empty());
}

TEST_F(ViewerEventsTest, ListTapsAndDrags)
{
    TEventList list;
    list.setSize(QSizeF(600, 280));
    std::vector<int> selected;
    QObject::connect(&list, &ViewerEventList::eventSelectedChanged, [&](int n) { selected.push_back(n); });
    list.displayEventList(entries({10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(selected, std::vector<int>{0});
    const struct {
        const char* what;
        QPointF from, to;
        int selected;
        int cell;
    } rows[] = {
        {"tap on the second row's middle", {300, 30}, {300, 30}, 4, 4},
        {"11 pixels is a tap", {20, 20}, {20, 31}, 3, 3},
        {"tap below the last entry", {400, 200}, {400, 200}, 6, 6},
        {"12 pixels scroll by no row", {20, 100}, {20, 88}, 0, 0},
        {"dragging up shows later rows, at most top row 2", {20, 200}, {20, 100}, 6, 0},
        {"tap on the last row's second column", {300, 15}, {300, 15}, 6, 0},
        {"dragging down goes back to the top", {20, 50}, {20, 200}, 0, 0},
    };
    for (const auto& row : rows) {
        selected.clear();
        uitest::takeRequests();
        list.drag(row.from, row.to);
        EXPECT_EQ(selected, std::vector<int>{row.selected}) << row.what;
        EXPECT_EQ(list.eventSelected(), row.cell) << row.what;
        const std::vector<pipe_dial> p = uitest::takeRequests();
        ASSERT_EQ(p.size(), 6u) << row.what;
        EXPECT_EQ(p[2].intValue, 10 + row.selected) << row.what;
    }
}

TEST_F(ViewerEventsTest, ListPaintsTheSelectionRectangle)
{
    TEventList list;
    list.setSize(QSizeF(600, 280));
    list.displayEventList(entries({10, 11, 12, 13, 14}));
    const auto dark = [](const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 200; };
    QImage before = render(list);
    EXPECT_TRUE(dark(before, 5, 20));   // cell 0's left side
    EXPECT_FALSE(dark(before, 195, 42));
    EXPECT_EQ(before.pixel(590, 270), QColor(Qt::lightGray).lighter(150).rgba());
    list.drag({300, 40}, {300, 40});  // cell 4
    QImage after = render(list);
    EXPECT_FALSE(dark(after, 5, 20));
    EXPECT_TRUE(dark(after, 195, 42));
    EXPECT_TRUE(dark(after, 197, 53));  // its bottom side
}

} // namespace
