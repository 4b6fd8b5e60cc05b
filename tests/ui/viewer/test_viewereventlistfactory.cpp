// The event-list worker: the search automaton over a channel's viewer codes, its thread, and the
// event-list file.
#include "tests/ui/support/logger_fixture.h"

#include "ui/viewer/viewereventlistfactory.h"

#include <QObject>

#include <atomic>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr uint32_t kMissing = 0x80000000u;
constexpr uint32_t kFiller = 0x7FC00000u;

using Segments = std::vector<std::pair<uint32_t, int>>;

class ViewerEventListTest : public LoggerFixture {
protected:
    // Channel `source`'s buffer: the segments from sample 0, missing words after.
    void fill(int source, const Segments& segments)
    {
        std::vector<uint32_t>& b = buffers_[static_cast<size_t>(source)];
        std::fill(b.begin(), b.end(), kMissing);
        size_t i = 0;
        for (const auto& s : segments)
            for (int n = 0; n < s.second; ++n)
                b.at(i++) = s.first;
    }
    static void setFilter(int16_t source, int16_t type, int32_t level1, int32_t level2, int32_t duration)
    {
        data.eventSource = source;
        data.eventType = type;
        data.eventLevel1 = level1;
        data.eventLevel2 = level2;
        data.eventDuration = duration;
    }
    static QStringList search(ViewerEventListFactory& worker)
    {
        worker.setFilterParams(&data);
        worker.exec();
        QStringList list;
        worker.getEventList(list);
        return list;
    }
    static std::vector<int> indices(const QStringList& list)
    {
        std::vector<int> out;
        for (const QString& e : list)
            out.push_back(e.mid(e.lastIndexOf(QLatin1Char('|')) + 1).toInt());
        return out;
    }
    // A recording of that name in the working directory, holding only its header's date.
    static void writeRecording(const char* name, const char* date)
    {
        std::string header(128, '.');
        header.replace(42, 19, date);
        FILE* f = std::fopen(name, "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(header.data(), 1, header.size(), f);
        std::fclose(f);
    }
    std::string eventsDir() const { return hostPath("/media/user/logger-events"); }
};

TEST_F(ViewerEventListTest, SearchAutomaton)
{
    // Type 1-3 with L1 = 524256: A = 524256, arming below 516066, band up to A. Type 4 with levels
    // 600000 and 450000: codes 448512 and 598512, inside the band from 456703 to 590321.
    struct Row {
        const char* what;
        int16_t type;
        int32_t level1, level2, duration;
        Segments segments;
        std::vector<int> events;
    };
    const Row rows[] = {
        {"one fall of the duration", 1, 524256, 0, 5, {{500000, 10}, {540000, 5}}, {9}},
        {"one sample short", 1, 524256, 0, 5, {{500000, 10}, {540000, 4}}, {}},
        {"the band restarts the count", 1, 524256, 0, 5, {{500000, 10}, {540000, 3}, {520000, 1}, {540000, 5}}, {13}},
        {"above the band ends the attempt, then re-armed",
         1,
         524256,
         0,
         5,
         {{500000, 10}, {540000, 3}, {500000, 1}, {540000, 4}, {500000, 1}, {540000, 5}},
         {18}},
        {"never armed", 1, 524256, 0, 5, {{540000, 20}}, {}},
        {"missing words and filler neither count nor reset",
         1,
         524256,
         0,
         5,
         {{500000, 10}, {540000, 2}, {kMissing, 3}, {kFiller, 2}, {540000, 3}},
         {14}},
        {"a rise", 2, 524256, 0, 5, {{540000, 10}, {500000, 5}}, {9}},
        {"both directions", 3, 524256, 0, 5, {{500000, 10}, {540000, 6}, {500000, 5}}, {9, 15}},
        {"duration 0 counts as 1", 1, 524256, 0, 0, {{500000, 3}, {540000, 1}}, {2}},
        {"out of the band both ways", 4, 600000, 450000, 3, {{520000, 5}, {600000, 3}, {520000, 2}, {440000, 3}}, {4, 9}},
        {"from the high zone only after the band", 4, 600000, 450000, 3, {{600000, 10}, {520000, 2}, {600000, 3}}, {11}},
        {"straight from low to high", 4, 600000, 450000, 3, {{440000, 5}, {600000, 3}}, {4}},
        {"all missing", 3, 524256, 0, 1, {}, {}},
        {"unknown type", 5, 524256, 0, 1, {{500000, 10}, {540000, 5}}, {}},
    };
    ViewerEventListFactory worker;
    for (const Row& row : rows) {
        fill(0, row.segments);
        setFilter(0, row.type, row.level1, row.level2, row.duration);
        EXPECT_EQ(indices(search(worker)), row.events) << row.what;
        if (row.type == 4) {
            setFilter(0, row.type, row.level2, row.level1, row.duration);
            EXPECT_EQ(indices(search(worker)), row.events) << row.what << " (levels exchanged)";
        }
    }

    // Another channel is searched only when named; outside 0..3 nothing is.
    fill(0, {});
    fill(2, {{500000, 10}, {540000, 5}});
    setFilter(2, 1, 524256, 0, 5);
    EXPECT_EQ(indices(search(worker)), std::vector<int>{9});
    for (int16_t source : {int16_t(4), int16_t(-1), int16_t(0x0102)}) {
        setFilter(source, 1, 524256, 0, 5);
        EXPECT_TRUE(search(worker).isEmpty()) << source;
    }
}

TEST_F(ViewerEventListTest, ListLimitsAndTheRecordsEnd)
{
    Segments excursions;
    for (int n = 0; n < 250; ++n)
        excursions.insert(excursions.end(), {{500000, 2}, {540000, 2}});
    fill(0, excursions);
    setFilter(0, 1, 524256, 0, 2);
    ViewerEventListFactory worker;
    const std::vector<int> found = indices(search(worker));
    ASSERT_EQ(found.size(), 200u);
    EXPECT_EQ(found.front(), 1);
    EXPECT_EQ(found.back(), 199 * 4 + 1);

    // An excursion still counted at the end gives nothing.
    fill(0, {});
    std::vector<uint32_t>& b = buffers_[0];
    std::fill(b.end() - 10, b.end() - 3, 500000u);
    std::fill(b.end() - 3, b.end(), 540000u);
    setFilter(0, 1, 524256, 0, 5);
    EXPECT_TRUE(search(worker).isEmpty());
    setFilter(0, 1, 524256, 0, 3);
    EXPECT_EQ(indices(search(worker)), std::vector<int>{99996});
}

TEST_F(ViewerEventListTest, EntriesAndTheEventListFile)
{
    ASSERT_EQ(::chdir(hostPath("/media/user").c_str()), 0);
    const char* name = "tavlin_2026-03-14_09-20-00.rec";
    writeRecording(name, "2026-03-14_09-20-00");
    fill(0, {{500000, 10}, {540000, 5}, {500000, 1}, {540000, 5}});
    setFilter(0, 1, 524256, 0, 5);
    ViewerEventListFactory worker;
    worker.init(QString::fromLatin1(name));
    EXPECT_EQ(search(worker), (QStringList{"2026-03-14,09:20:01.8|9", "2026-03-14,09:20:03.0|15"}));

    // Message 14 comes once the file is complete.
    std::vector<std::pair<int, QString>> messages;
    std::string atMessage;
    QObject::connect(
        home_.get(), &HomeView::screenMessageSignal, home_.get(),
        [&](int code, const QString& text) {
            messages.emplace_back(code, text);
            atMessage = readWholeFile(eventsDir() + "/" + text.toStdString());
        },
        Qt::DirectConnection);
    EXPECT_FALSE(worker.saveToFile());
    const std::string file = readWholeFile(eventsDir() + "/tavlin_2026-03-14_09-20-00.txt");
    ASSERT_GT(file.size(), 128u);
    EXPECT_EQ(file.substr(0, 4), ".txt");
    EXPECT_EQ(file.substr(128),
              "\r\nEvents detected in file: tavlin_2026-03-14_09-20-00.rec\r\n\r\nEvent type: CH1 < 0.000000V\r\n\r\n"
              "#       Time\r\n1       2026-03-14,09:20:01.8\r\n2       2026-03-14,09:20:03.0\r\n");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], std::make_pair(14, QStringLiteral("tavlin_2026-03-14_09-20-00.txt")));
    EXPECT_EQ(atMessage, file);

    // The next save takes the next free name.
    EXPECT_FALSE(worker.saveToFile());
    EXPECT_EQ(readWholeFile(eventsDir() + "/tavlin_2026-03-14_09-20-00_1.txt").substr(128), file.substr(128));
    EXPECT_EQ(messages.back().second, QStringLiteral("tavlin_2026-03-14_09-20-00_1.txt"));

    // Every type's description; another channel's trace gives the unit and the scale.
    struct Row {
        int16_t source, type;
        int32_t level1, level2;
        const char* description;
    };
    const Row rows[] = {
        {0, 2, 524256, 0, "CH1 > 0.000000V"},
        {1, 3, 524256, 0, "CH2 < 0.000000V or  > 0.000000V"},
        {3, 4, 524256, 524256, "CH4 < 0.000000V or  > 0.000000V"},
    };
    for (const Row& row : rows) {
        setFilter(row.source, row.type, row.level1, row.level2, 5);
        search(worker);
        ASSERT_FALSE(worker.saveToFile());
        const std::string saved = readWholeFile(eventsDir() + "/" + messages.back().second.toStdString());
        EXPECT_NE(saved.find(std::string("Event type: ") + row.description + "\r\n"), std::string::npos)
            << row.description;
    }
}

TEST_F(ViewerEventListTest, LevelsInTheFileFollowTheTracesScale)
{
    // k x (L - 524256) for a stored level L, k = span / 262080 of the trace's range.
    double span = 0.0;
    trace(0)->GetMMRange(&span, nullptr, nullptr);
    ASSERT_GT(span, 0.0);
    setFilter(0, 4, 524256 + 26208, 524256 - 13104, 5);
    ViewerEventListFactory worker;
    worker.init(QStringLiteral("r.rec"));
    search(worker);
    ASSERT_FALSE(worker.saveToFile());
    const std::string file = readWholeFile(eventsDir() + "/r.txt");
    const double k = span / 262080.0;
    const std::string expected = "Event type: CH1 < " + QString::asprintf("%f", k * -13104.0).toStdString()
        + "V or  > " + QString::asprintf("%f", k * 26208.0).toStdString() + "V\r\n";
    EXPECT_NE(file.find(expected), std::string::npos) << file.substr(128);
}

TEST_F(ViewerEventListTest, AnUnwritableFolderShowsMessage19AndLeavesNoFile)
{
    // A file where the folder should be: nothing can be created in it.
    FILE* blocker = std::fopen(eventsDir().c_str(), "w");
    ASSERT_NE(blocker, nullptr);
    std::fclose(blocker);
    std::vector<int> codes;
    QObject::connect(
        home_.get(), &HomeView::screenMessageSignal, home_.get(), [&](int code, const QString&) { codes.push_back(code); },
        Qt::DirectConnection);
    setFilter(0, 1, 524256, 0, 5);
    ViewerEventListFactory worker;
    worker.init(QStringLiteral("r.rec"));
    search(worker);
    EXPECT_TRUE(worker.saveToFile());
    EXPECT_EQ(codes, std::vector<int>{19});
    struct stat st;
    EXPECT_NE(::stat((eventsDir() + "/r.txt").c_str(), &st), 0);

    // No filter type: nothing written, no message.
    setFilter(0, 0, 524256, 0, 5);
    search(worker);
    EXPECT_FALSE(worker.saveToFile());
    EXPECT_EQ(codes, std::vector<int>{19});
}

TEST_F(ViewerEventListTest, Threading)
{
    fill(0, {{500000, 10}, {540000, 5}});
    std::atomic<int> announced{0};
    {
        ViewerEventListFactory worker;
        QObject::connect(
            &worker, &ViewerEventListFactory::eventListCreatedSignal, &worker, [&announced] { ++announced; },
            Qt::DirectConnection);
        // The list right after exec is the new filter's, however quickly the filters change.
        for (int n = 0; n < 40; ++n) {
            const bool found = n % 2 == 0;
            setFilter(0, 1, found ? 524256 : 0, 0, 5);
            EXPECT_EQ(search(worker).size(), found ? 1 : 0) << n;
        }
        // A filter set while a search runs applies to the next one.
        setFilter(0, 1, 0, 0, 5);
        worker.setFilterParams(&data);
        worker.exec();
        setFilter(0, 1, 524256, 0, 5);
        EXPECT_EQ(search(worker).size(), 1);
        // Requests while a search runs end in one list; the destructor waits for a running search.
        for (int n = 0; n < 5; ++n)
            worker.exec();
    }
    // Each finished search is announced, after its lock is released.
    EXPECT_GE(announced.load(), 41);

    // clear() announces without holding the lock: a direct receiver can read the list.
    ViewerEventListFactory worker;
    QStringList got{"stale"};
    QObject::connect(
        &worker, &ViewerEventListFactory::eventListCreatedSignal, &worker,
        [&worker, &got] {
            got.clear();
            worker.getEventList(got);
        },
        Qt::DirectConnection);
    worker.clear();
    EXPECT_TRUE(got.isEmpty());
}

} // namespace
