// The recorder and viewer requests of the web service: cursors and zoom in the client's view
// units, the overview pane, the event filter and the event list (against the event-list worker
// worker searching a prepared channel buffer).
#include "tests/network/ws_handler_fixture.h"

#include "acquisition/TAcquisition.h"
#include "board/process.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

class WsViewer : public WsHandlers {
protected:
    void SetUp() override
    {
        WsHandlers::SetUp();
        savedBuffer_ = TAcquisition::Voie1Normalisee;
        TAcquisition::Voie1Normalisee = channel1_.data();
    }
    void TearDown() override
    {
        setPauseHook(nullptr);
        TAcquisition::Voie1Normalisee = savedBuffer_;
        WsHandlers::TearDown();
    }

    // Channel 1 falls below 524256 twice, for five samples from 10 and from 30: events 9 and 29
    // of a type-1 search with a duration of 5.
    void prepareSearch()
    {
        std::fill(channel1_.begin(), channel1_.begin() + 10, 500000u);
        std::fill(channel1_.begin() + 10, channel1_.begin() + 15, 540000u);
        std::fill(channel1_.begin() + 20, channel1_.begin() + 30, 500000u);
        std::fill(channel1_.begin() + 30, channel1_.begin() + 35, 540000u);
        data.eventSource = 0;
        data.eventType = 1;
        data.eventLevel1 = 524256;
        data.eventDuration = 5;
    }

    std::vector<uint32_t> channel1_ = std::vector<uint32_t>(TAcquisition::kNormalisedSamples, 0x80000000u);
    uint32_t* savedBuffer_ = nullptr;

    static std::vector<pipe_dial> postedBy(intptr_t sender)
    {
        std::vector<pipe_dial> p = posted();
        for (const pipe_dial& r : p) {
            EXPECT_EQ(r.kind, REQ_SET_PARAM);
            EXPECT_EQ(r.senderId, sender) << r.code;
        }
        return p;
    }
};

int32_t trunc32(double v)
{
    return static_cast<int32_t>(std::trunc(v));
}

bool sameRect(const TZoomRect& a, const TZoomRect& b)
{
    return a.verticalFactor == b.verticalFactor && a.verticalPosition == b.verticalPosition
           && a.windowWidth == b.windowWidth && a.windowPosition == b.windowPosition;
}

TEST_F(WsViewer, CursorsComeBackWhereTheClientPutThem)
{
    data.vZoomFactor = 2.0f;
    data.vZoomPosition = 1000;
    data.zoomWidth = 4.0f;
    data.horizPosition = 5000;
    const double l = double(2.0f * 1000.0f / 262080.0f);
    const int32_t d = trunc32(-1000.0 / l - 393216.0);
    const double t = double(1000.0f / (4.0f * 2500.0f));
    const struct {
        const char* path;
        int32_t posted1;
        int32_t posted2;
        double back;  // the time conversion of the report
    } rows[] = {
        {"/indicsLogger", trunc32(100 / 0.4) + 97500, trunc32(900 / 0.4) + 97500, 0.4},
        {"/indicsViewer", trunc32(100 / t) + 5000, trunc32(900 / t) + 5000, t},
    };
    for (const auto& row : rows) {
        data.cursor1Time = data.cursor2Time = 0;
        data.cursor1Level = data.cursor2Level = 0;
        const std::string path = row.path;
        EXPECT_EQ(reply(path + "?p2=100&p3=250&p4=900&p5=750"), "0,") << path;
        const std::vector<TWsSet> s = sets();
        ASSERT_EQ(s.size(), 4u) << path;
        EXPECT_EQ(s[0], (TWsSet{24, 0, row.posted1}));
        EXPECT_EQ(s[1], (TWsSet{88, 0, trunc32(250 / l) - d}));
        EXPECT_EQ(s[2], (TWsSet{25, 0, row.posted2}));
        EXPECT_EQ(s[3], (TWsSet{89, 0, trunc32(750 / l) - d}));

        data.cursor1Time = static_cast<int32_t>(s[0].value);
        data.cursor1Level = static_cast<int32_t>(s[1].value);
        data.cursor2Time = static_cast<int32_t>(s[2].value);
        data.cursor2Level = static_cast<int32_t>(s[3].value);
        const std::vector<std::string> f = fields(path);
        ASSERT_EQ(f.size(), 19u);
        const double origin = path == "/indicsLogger" ? 97500 : 5000;
        EXPECT_EQ(f[3], std::to_string(trunc32((data.cursor1Time - origin) * row.back)));
        EXPECT_NEAR(std::stoi(f[3]), 100, 1);
        EXPECT_NEAR(std::stoi(f[4]), 250, 1);
        EXPECT_NEAR(std::stoi(f[5]), 900, 1);
        EXPECT_NEAR(std::stoi(f[6]), 750, 1);
        EXPECT_EQ(f[4], std::to_string(trunc32((data.cursor1Level + d) * l)));
    }
    // The viewer's cursor at the window's start is at 0; a cursor below the view reports negative.
    data.cursor1Time = 5000;
    data.cursor2Level = -d - 1000;
    const std::vector<std::string> f = fields("/indicsViewer");
    EXPECT_EQ(f[3], "0");
    EXPECT_EQ(f[6], std::to_string(trunc32(-1000 * l)));
}

TEST_F(WsViewer, ZoomKeyPostsAConstantRectangleAndKeepsTheReport)
{
    data.measRefChannel = 1;
    data.cursorState = 0;
    for (const char* path : {"/indicsLogger", "/indicsViewer"}) {
        const std::string p = path;
        EXPECT_EQ(reply(p + "?p6=0").compare(0, 3, "19,"), 0) << p;
        std::vector<TWsSet> s = sets();
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0].code, 61);
        EXPECT_EQ(s[0].value, 4);
        EXPECT_TRUE(sameRect(*reinterpret_cast<const TZoomRect*>(s[0].aux), TZoomRect{1.0f, 0, 40.0f, 0}));

        EXPECT_EQ(reply(p + "?p6=1"), reply(p));
        s = sets();
        ASSERT_EQ(s.size(), 1u);
        EXPECT_TRUE(sameRect(*reinterpret_cast<const TZoomRect*>(s[0].aux), TZoomRect{1.0f, 0, 1.0f, 0}));

        EXPECT_EQ(reply(p + "?p0=1&p6=x"), "0,");
        s = sets();
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0], (TWsSet{93, 0, 1}));
        EXPECT_EQ(s[1].code, 61);
    }
}

TEST_F(WsViewer, ReportsShowTheChannelsAndTheReferenceColour)
{
    data.channelFlags = 0x0201;  // channel 1 live, channel 2 as a memory trace
    data.cursorState = 1;
    data.traceColorCh1 = 11;
    data.traceColorCh2 = 12;
    data.traceColorCh3 = 13;
    data.traceColorCh4 = -3;
    data.vZoomFactor = 1.0f;
    data.vZoomPosition = 0;
    data.cursor1Time = data.cursor2Time = 97500;
    data.horizPosition = 97500;
    data.zoomWidth = 40.0f;
    data.cursor1Level = data.cursor2Level = 393216;
    const struct {
        int16_t reference;
        int logger;
        int viewer;
    } rows[] = {{1, 11, 11}, {2, 12, 12}, {4, 13, 13}, {8, -3, -3}, {0x2000, 6, 11}, {0, 11, 11}, {3, 11, 11}};
    for (const auto& row : rows) {
        data.measRefChannel = row.reference;
        const std::string tail = ",0,0,0,0,500,11,1,500,12,2,500,13,3,500,65533,4,";
        EXPECT_EQ(reply("/indicsLogger"), "19,3,1," + std::to_string(row.logger) + tail) << row.reference;
        EXPECT_EQ(reply("/indicsViewer"), "19,3,1," + std::to_string(row.viewer) + tail) << row.reference;
    }
}

TEST_F(WsViewer, OverviewPaneKeepsWidthAndPositionOfOneRequest)
{
    data.horizPosition = 199;
    data.zoomWidth = 40.0f;
    EXPECT_EQ(reply("/indicsCompViewer"), "2,1,1000,");
    data.zoomWidth = 4.0f;
    EXPECT_EQ(reply("/indicsCompViewer"), "2,1,100,");
    EXPECT_TRUE(posted().empty());

    const struct {
        const char* datagram;
        std::vector<TWsSet> expected;
        const char* reply;
    } rows[] = {
        {"/indicsCompViewer?p1=500&p2=10", {{13, 0, 50000}, {36, 50000, 40}}, "0,"},
        {"/indicsCompViewer?p2=10", {{36, 199, 40}}, "0,"},
        {"/indicsCompViewer?p2=1", {{36, 199, 4}}, "0,"},
        {"/indicsCompViewer?p2=100", {}, "0,"},  // the width in force: still a set
        {"/indicsCompViewer?p1=1.995", {}, "0,"},
        {"/indicsCompViewer?p1=x&p2=y", {}, "2,1,100,"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(reply(row.datagram), row.reply) << row.datagram;
        EXPECT_EQ(sets(), row.expected) << row.datagram;
    }
}

TEST_F(WsViewer, FilterLevelsAreInTheSourceChannelsUnit)
{
    data.eventSource = 0;
    data.eventType = 3;
    data.eventLevel1 = 524256 + 26208;
    data.eventLevel2 = 524256 - 13104;
    data.eventDuration = 15;
    double span1 = 0.0;
    double span3 = 0.0;
    trace(0)->GetMMRange(&span1, nullptr, nullptr);
    trace(2)->GetMMRange(&span3, nullptr, nullptr);
    ASSERT_GT(span1, 0.0);
    const double s1 = span1 / 262080.0;
    const double s3 = span3 / 262080.0;

    const std::vector<std::string> f = fields("/viewerFilter");
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(f[0], "0");
    EXPECT_EQ(f[1], "2");
    char text[40];
    wsFormatReal(26208 * s1, text, sizeof text);
    EXPECT_EQ(f[2], text);
    EXPECT_NEAR(std::stod(f[2]), span1 / 10, span1 * 1e-5);
    EXPECT_NEAR(std::stod(f[3]), -span1 / 20, span1 * 1e-5);
    EXPECT_EQ(f[4], "3");

    const struct {
        const char* datagram;
        std::vector<TWsSet> expected;
    } rows[] = {
        {"/viewerFilter?p1=0", {{208, 0, 1}}},
        {"/viewerFilter?p4=1", {{211, 0, 5}}},
        {"/viewerFilter?p0=0", {}},
        {"/viewerFilter?p0=65538", {{207, 0, 2}}},  // taken as 16 bits
        {"/viewerFilter?p0=2&p2=1&p3=-1", {{207, 0, 2}, {209, 0, trunc32(1 / s3) + 524256}, {210, 0, trunc32(-1 / s3) + 524256}}},
        {"/viewerFilter?p2=1", {{209, 0, trunc32(1 / s1) + 524256}}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(reply(row.datagram), "0,") << row.datagram;
        EXPECT_EQ(sets(), row.expected) << row.datagram;
    }

    // Without the source's trace there is no scale: its level keys post nothing, its levels print 0.
    setupLinks().acqCh1 = nullptr;
    EXPECT_EQ(reply("/viewerFilter?p2=1"), "5,0,2,0,0,3,");
    EXPECT_EQ(reply("/viewerFilter?p2=1&p0=0"), "0,");
    EXPECT_TRUE(posted().empty());
}

TEST_F(WsViewer, ZeroZoomFactorsPostNoCursorAndReportZero)
{
    data.vZoomFactor = 0.0f;
    data.zoomWidth = 0.0f;
    data.cursor1Time = data.horizPosition + 100;
    data.cursor1Level = 400000;
    EXPECT_EQ(reply("/indicsViewer?p2=5&p3=5").compare(0, 3, "19,"), 0);
    EXPECT_TRUE(posted().empty());
    const std::vector<std::string> f = fields("/indicsViewer");
    EXPECT_EQ(f[3], "0");
    EXPECT_EQ(f[4], "0");
    EXPECT_EQ(reply("/indicsLogger?p2=5"), "0,");  // the recorder's time scale is a constant
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{24, 0, 97512}}));
}

TEST_F(WsViewer, EventListIsTheSearchOfTheRecordingWithTildesAndIsSaved)
{
    prepareSearch();
    // The recording's header dates the events; the worker reads it in the working directory.
    ASSERT_EQ(::chdir(hostPath("/media/user").c_str()), 0);
    const std::string name = "tavlin_2026-03-14_09-20-00.rec";
    std::string header(128, '.');
    header.replace(42, 19, "2026-03-14_09-20-00");
    {
        FILE* f = std::fopen(name.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(header.data(), 1, header.size(), f);
        std::fclose(f);
    }
    std::memset(data.loggerFileName, 0, sizeof data.loggerFileName);
    std::memcpy(data.loggerFileName, name.data(), name.size());
    EXPECT_EQ(reply("/viewerEvents"), "2,2026-03-14~09:20:01.8|9,2026-03-14~09:20:05.8|29,");
    EXPECT_FALSE(readWholeFile(hostPath("/media/user/logger-events/tavlin_2026-03-14_09-20-00.txt")).empty());

    std::vector<TWsEvent> events;
    ASSERT_TRUE(wsParseEvents(reply("/viewerEvents"), &events));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].date, "2026-03-14");
    EXPECT_EQ(events[0].time, "09:20:01.8");
    EXPECT_EQ(events[0].index, 9);
    EXPECT_EQ(events[1].index, 29);
    // Each request saves its list anew.
    EXPECT_FALSE(readWholeFile(hostPath("/media/user/logger-events/tavlin_2026-03-14_09-20-00_1.txt")).empty());

    // The name is taken within its field (no terminating zero), Latin-1.
    std::memset(data.loggerFileName, 'a', sizeof data.loggerFileName);
    data.loggerFileName[0] = '\xe9';
    data.eventType = 0;
    EXPECT_EQ(reply("/viewerEvents"), "0,");
    data.eventType = 1;
    EXPECT_EQ(reply("/viewerEvents").compare(0, 2, "2,"), 0);
    EXPECT_FALSE(readWholeFile(hostPath(("/media/user/logger-events/\xc3\xa9" + std::string(38, 'a') + ".txt").c_str()))
                     .empty());
    EXPECT_TRUE(posted().empty());
}

TEST_F(WsViewer, EventSearchLeavesTheImageMutexToOthers)
{
    prepareSearch();
    std::strcpy(data.loggerFileName, "r.rec");
    std::atomic<bool> taken{false};
    // The save's pause comes after the search: another thread takes the mutex meanwhile.
    setPauseHook([&taken](int) {
        std::thread other([&taken] {
            if (pthread_mutex_trylock(&o_g_imageMutex) == 0) {
                taken = true;
                pthread_mutex_unlock(&o_g_imageMutex);
            }
        });
        other.join();
    });
    EXPECT_EQ(reply("/viewerEvents").compare(0, 2, "2,"), 0);
    EXPECT_TRUE(taken);
    // Taken again before the handler returned: the transport's unlock found it held.
    ASSERT_EQ(pthread_mutex_trylock(&o_g_imageMutex), 0);
    pthread_mutex_unlock(&o_g_imageMutex);
}

TEST_F(WsViewer, EventSelectionMovesWindowCursorsAndReference)
{
    data.vZoomFactor = 2.0f;
    data.vZoomPosition = 7;
    data.eventLevel1 = 600000;
    data.eventLevel2 = 500000;
    const struct {
        int16_t source;
        int32_t index;
        int32_t window;
        intptr_t reference;
    } rows[] = {{2, 1000, 0, 4}, {0, 5000, 3750, 1}, {3, 1250, 0, 8}, {40, 1251, 1, 0}, {0x0101, 7, 0, 2}};
    const intptr_t menu = senderValue(MENU_id);
    for (const auto& row : rows) {
        data.eventSource = row.source;
        EXPECT_EQ(reply("/viewerEvents?p0=" + std::to_string(row.index)), "0,");
        const std::vector<pipe_dial> p = postedBy(menu);
        ASSERT_EQ(p.size(), 6u);
        EXPECT_EQ(p[0].code, 61);
        EXPECT_EQ(p[0].intValue, 4);
        EXPECT_TRUE(sameRect(*reinterpret_cast<const TZoomRect*>(p[0].auxValue), TZoomRect{2.0f, 7, 1.0f, row.window}))
            << row.index;
        const std::vector<TWsSet> rest = {{p[1].code, p[1].auxValue, p[1].intValue},
                                          {p[2].code, p[2].auxValue, p[2].intValue},
                                          {p[3].code, p[3].auxValue, p[3].intValue},
                                          {p[4].code, p[4].auxValue, p[4].intValue},
                                          {p[5].code, p[5].auxValue, p[5].intValue}};
        EXPECT_EQ(rest, (std::vector<TWsSet>{{93, 0, 1}, {24, 0, row.index}, {88, 0, 448512}, {89, 0, 548512},
                                             {23, 0, row.reference}}))
            << row.index;
    }
    // A selection searches nothing: no list is saved.
    struct stat st;
    EXPECT_NE(::stat(hostPath("/media/user/logger-events").c_str(), &st), 0);

    // Two selections before the controller takes them keep their own rectangles.
    reply("/viewerEvents?p0=3000");
    reply("/viewerEvents?p0=9000");
    const std::vector<pipe_dial> p = posted();
    ASSERT_EQ(p.size(), 12u);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[0].auxValue)->windowPosition, 1750);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[6].auxValue)->windowPosition, 7750);
}

} // namespace
