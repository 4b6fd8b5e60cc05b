// Screenshots: the file name rule, the storage root, the announcement and the failures.
#include "tests/ui/support/homescreen.h"

#include "board/board.h"

#include <QImage>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
bool exists(const std::string& hostPath)
{
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0;
}
} // namespace

class ScreenshotTest : public HomeScreenTest {
protected:
    void SetUp() override
    {
        HomeScreenTest::SetUp();
        load();
        ASSERT_TRUE(showAndExpose());
        log_ = std::make_unique<TSignalLog>(*view_);
    }
    void TearDown() override
    {
        log_.reset();
        HomeScreenTest::TearDown();
    }

    std::unique_ptr<TSignalLog> log_;
};

TEST_F(ScreenshotTest, NameRuleAndSaveUnderTheUsersFolder)
{
    struct Case {
        const char* name;
        const char* file;
    } cases[] = {
        {"shot", "shot.png"},
        {"shot.png", "shot.png"},
        {"shot.PNG", "shot.PNG.png"},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_->clear();
        const std::string path = hostPath("/media/user/screenshots/") + c.file;
        ::unlink(path.c_str());
        char name[64];
        std::strcpy(name, c.name);
        std::thread controller([&] { view_->screenHardcopy(name); });
        controller.join();
        ASSERT_TRUE(processEventsUntil([&] { return !log_->startingWith("message").empty(); }));
        EXPECT_EQ(log_->startingWith("message"), std::vector<std::string>{"message 25 '" + std::string(c.file) + "'"});
        QImage saved(QString::fromStdString(path));
        ASSERT_FALSE(saved.isNull()) << path;
        EXPECT_EQ(saved.format(), QImage::Format_Indexed8);
        EXPECT_EQ(saved.size(), QSize(800, 480));
    }
}

TEST_F(ScreenshotTest, EmptyNameGetsTheDatedDefault)
{
    std::thread controller([&] { view_->screenHardcopy(nullptr); });
    controller.join();
    ASSERT_TRUE(processEventsUntil([&] { return !log_->startingWith("message").empty(); }));
    auto messages = log_->startingWith("message");
    ASSERT_EQ(messages.size(), 1u);
    QRegularExpressionMatch m = QRegularExpression(QStringLiteral(
                                                       "^message 25 '(tavlin_[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2}\\.png)'$"))
                                    .match(QString::fromStdString(messages[0]));
    ASSERT_TRUE(m.hasMatch()) << messages[0];
    EXPECT_TRUE(exists(hostPath("/media/user/screenshots/") + m.captured(1).toStdString()));
}

TEST_F(ScreenshotTest, SdCardIsTheStorageRootWhenPresent)
{
    ASSERT_EQ(::mkdir(hostPath("/dev").c_str(), 0777), 0);
    int fd = ::open(hostPath("/dev/mmcblk0p1").c_str(), O_WRONLY | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::mkdir(hostPath("/media/user/sdcard_p1").c_str(), 0777), 0);

    view_->screenshotSlot(QStringLiteral("card"));
    EXPECT_TRUE(exists(hostPath("/media/user/sdcard_p1/screenshots/card.png")));
    EXPECT_FALSE(exists(hostPath("/media/user/screenshots")));
}

TEST_F(ScreenshotTest, FolderThatCannotHoldTheFileGivesMessage19)
{
    // A plain file where the folder goes: stat finds it, the save fails.
    int fd = ::open(hostPath("/media/user/screenshots").c_str(), O_WRONLY | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    ::close(fd);
    view_->screenshotSlot(QStringLiteral("shot"));
    EXPECT_EQ(log_->startingWith("message"),
              (std::vector<std::string>{"message 25 'shot.png'", "message 19 'shot.png'"}));
}

TEST_F(ScreenshotTest, NameThatLeavesTheFolderIsRefused)
{
    for (const char* name : {"../escape", "/media/private/setup", "a/b"}) {
        SCOPED_TRACE(name);
        log_->clear();
        view_->screenshotSlot(QString::fromLatin1(name));
        EXPECT_EQ(log_->startingWith("message"),
                  (std::vector<std::string>{"message 19 '" + std::string(name) + ".png'"}));
    }
    EXPECT_FALSE(exists(hostPath("/media/user/escape.png")));
    EXPECT_FALSE(exists(hostPath("/media/private/setup.png")));
    EXPECT_FALSE(exists(hostPath("/media/user/screenshots")));
}
