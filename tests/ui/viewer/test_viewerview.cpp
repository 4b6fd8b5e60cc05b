// The viewer view's item: the recordings of the working directory by date, the recall requests of
// search, next and previous, the list it takes from its worker, and the full-screen flag.
#include "tests/ui/support/logger_fixture.h"

#include "ui/viewer/viewerview.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

class ViewerViewTest : public LoggerFixture {
protected:
    void SetUp() override
    {
        LoggerFixture::SetUp();
        dir_ = hostPath("/media/user/logger");
        ::mkdir(dir_.c_str(), 0777);
        ASSERT_EQ(::chdir(dir_.c_str()), 0);
        const struct {
            const char* name;
            time_t time;
        } files[] = {{"b.rec", 2000000}, {"a.rec", 1000000}, {"x.REC", 3000000}, {"x.rec.bak", 4000000}};
        for (const auto& f : files) {
            FILE* file = std::fopen(f.name, "w");
            ASSERT_NE(file, nullptr);
            std::fclose(file);
            const utimbuf times{f.time, f.time};
            ASSERT_EQ(::utime(f.name, &times), 0);
        }
    }
    // The recall requests waiting, as (worker, name).
    static std::vector<std::pair<intptr_t, std::string>> recalls()
    {
        std::vector<std::pair<intptr_t, std::string>> out;
        for (const pipe_dial& r : uitest::takeRequests()) {
            EXPECT_EQ(r.kind, REQ_FILE);
            EXPECT_EQ(r.code, fileLoggerRecall);
            EXPECT_EQ(r.senderId, senderValue(MENU_id));
            out.emplace_back(r.auxValue, reinterpret_cast<const char*>(r.intValue));
        }
        return out;
    }
    // One type-1 event on channel 1.
    void fill()
    {
        std::vector<uint32_t>& b = buffers_[0];
        std::fill(b.begin(), b.end(), 0x80000000u);
        std::fill(b.begin(), b.begin() + 10, 500000u);
        std::fill(b.begin() + 10, b.begin() + 15, 540000u);
    }
    template <typename F>
    static bool processUntil(F done)
    {
        for (int i = 0; i < 400 && !done(); ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        return done();
    }
    std::string dir_;
};

TEST_F(ViewerViewTest, NextAndPreviousFollowTheDates)
{
    ViewerView view;
    ASSERT_EQ(view.fileList().size(), 2);
    const intptr_t worker = reinterpret_cast<intptr_t>(&view.worker());
    using Recalls = std::vector<std::pair<intptr_t, std::string>>;
    const struct {
        const char* viewed;
        bool next;
        Recalls posted;
    } rows[] = {
        {"a.rec", true, {{worker, "b.rec"}}},
        {"a.rec", false, {}},
        {"b.rec", true, {}},
        {"b.rec", false, {{worker, "a.rec"}}},
        {"c.rec", true, {}},
        {"x.REC", false, {}},
    };
    for (const auto& row : rows) {
        std::strcpy(data.loggerFileName, row.viewed);
        if (row.next)
            view.nextFile();
        else
            view.previousFile();
        EXPECT_EQ(recalls(), row.posted) << row.viewed << (row.next ? " next" : " previous");
    }

    // Search recalls the viewed file by the setup's own text.
    std::strcpy(data.loggerFileName, "b.rec");
    view.searchClicked();
    const std::vector<pipe_dial> p = uitest::takeRequests();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].auxValue, worker);
    EXPECT_EQ(p[0].intValue, reinterpret_cast<intptr_t>(data.loggerFileName));
}

TEST_F(ViewerViewTest, ListFollowsTheWorkerAndAFilterChangeEmptiesIt)
{
    ViewerView view;
    std::vector<int> counts;
    QObject::connect(&view, &ViewerView::dataChanged, [&](int n) { counts.push_back(n); });
    fill();
    data.eventSource = 0;
    data.eventType = 1;
    data.eventLevel1 = 524256;
    data.eventDuration = 5;
    view.worker().setFilterParams(&data);
    view.worker().init(QStringLiteral("a.rec"));
    view.worker().exec();
    ASSERT_TRUE(processUntil([&] { return !counts.empty(); }));
    EXPECT_EQ(counts.back(), 1);
    EXPECT_EQ(view.property("displayEventList").toStringList().size(), 1);
    EXPECT_EQ(view.property("maxEventNumber").toInt(), 200);

    counts.clear();
    view.screenMajSlot(param::eventLevel1);
    ASSERT_TRUE(processUntil([&] { return !counts.empty(); }));
    EXPECT_EQ(counts.back(), 0);
    EXPECT_TRUE(view.property("displayEventList").toStringList().isEmpty());

    // The save is named after the viewed recording, whatever the title.
    view.saveEventList(QStringLiteral("some title"));
    struct stat st;
    EXPECT_EQ(::stat(hostPath("/media/user/logger-events/a.txt").c_str(), &st), 0);
}

TEST_F(ViewerViewTest, FullScreenFollowsTheSetup)
{
    ViewerView view;
    int changes = 0;
    QObject::connect(&view, &ViewerView::displayFullScreenChanged, [&] { ++changes; });
    data.keyToggleFlag = 1;
    const struct {
        int code;
        bool full;
        int changes;
    } rows[] = {{8, false, 0}, {param::keyToggleFlag, true, 1}, {0, true, 1}, {29, true, 1}};
    for (const auto& row : rows) {
        view.setProperty("displayFullScreen", false);
        changes = 0;
        home_->screenMajSignal(row.code);
        EXPECT_EQ(view.property("displayFullScreen").toBool(), row.full) << row.code;
        EXPECT_EQ(changes, row.changes) << row.code;
    }
}

TEST_F(ViewerViewTest, FileManagerStepOfTheRunScriptLinksTheNewestRecording)
{
    // Without a terminal the newest recording is taken, linked relative to the batch folder.
    const std::string command = std::string("bash ") + BENCHVIEW_PICK_RECORDING + " '" + root_ + "' </dev/null >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    char target[256] = {};
    const std::string link = root_ + "/media/private/batch/b.rec";
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../../user/logger/b.rec");
    struct stat st;
    EXPECT_EQ(::stat(link.c_str(), &st), 0);  // it resolves on the host
}

} // namespace
