#include "board/board.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/root.h"
#include "tests/support/simboardtest.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTranslator>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <vector>

// Readable failure output.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

// Everything posted to the controller's inbox so far, in order.
std::vector<pipe_dial> takePosted()
{
    pipe_dial end{};
    end.kind = 0xFFFF;
    o_g_consMessageBox.send(&end);
    std::vector<pipe_dial> posted;
    pipe_dial r{};
    while (o_g_consMessageBox.receive(&r, true, 1) == 0 && r.kind != 0xFFFF)
        posted.push_back(r);
    return posted;
}

void setMtime(const std::string& path, const timespec& t)
{
    timespec times[2] = {t, t};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void expectRecord(const pipe_dial& r, uint16_t kind, int32_t code)
{
    EXPECT_EQ(r.kind, kind);
    EXPECT_EQ(r.code, code);
    EXPECT_EQ(r.auxValue, 0);
    EXPECT_EQ(r.intValue, 0);
    EXPECT_EQ(r.floatValue, 0.0f);
    EXPECT_EQ(r.senderId, -1);
}

constexpr int64_t kMinute = 60000;

} // namespace

class RootTest : public SimBoardTest {};

TEST_F(RootTest, AutoOffCheckPostsByIdleTime)
{
    enum Post { None, PowerOff, Saver, Both };
    struct Case {
        const char* name;
        bool markExists;
        int32_t autoOff;
        int32_t saver;
        int64_t idleMs;  // negative: mark in the future
        Post expected;
    };
    const Case cases[] = {
        {"no mark file", false, 1, 1, 600 * kMinute, None},
        {"both off", true, 0, 0, 24 * 60 * kMinute, None},
        {"auto-off below", true, 2, 0, 2 * kMinute - 1, None},
        {"auto-off at", true, 2, 0, 2 * kMinute, PowerOff},
        {"auto-off above", true, 2, 0, 60 * kMinute, PowerOff},
        {"saver below", true, 0, 3, 3 * kMinute - 1, None},
        {"saver at", true, 0, 3, 3 * kMinute, Saver},
        {"saver above", true, 0, 3, 60 * kMinute, Saver},
        {"both, below both", true, 10, 5, 5 * kMinute - 1, None},
        {"both, saver only", true, 10, 5, 7 * kMinute, Saver},
        {"both, at power-off", true, 10, 5, 10 * kMinute, Both},
        {"mark in the future", true, 1, 1, -60 * kMinute, None},
        {"limit beyond 32-bit milliseconds", true, 40000, 0, 24 * 60 * kMinute, None},
    };
    const std::string mark = hostPath(kActivityMarkFile);
    const timespec mtime{1700000000, 123000000};
    const int64_t mtimeMs = 1700000000123LL;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(mark.c_str());
        if (c.markExists) {
            ASSERT_TRUE(writeBoardFile(kActivityMarkFile, ""));
            setMtime(mark, mtime);
        }
        autoOffTimeout = c.autoOff;
        screenSaverTimeout = c.saver;
        autoOffCheck(mtimeMs + c.idleMs);
        std::vector<pipe_dial> posted = takePosted();
        switch (c.expected) {
        case None:
            EXPECT_TRUE(posted.empty());
            break;
        case PowerOff:
            ASSERT_EQ(posted.size(), 1u);
            expectRecord(posted[0], REQ_SET_PARAM, 122);
            break;
        case Saver:
            ASSERT_EQ(posted.size(), 1u);
            expectRecord(posted[0], REQ_SCREEN_SAVER, 1);
            break;
        case Both:
            ASSERT_EQ(posted.size(), 2u);
            expectRecord(posted[0], REQ_SET_PARAM, 122);
            expectRecord(posted[1], REQ_SCREEN_SAVER, 1);
            break;
        }
    }
}

TEST_F(RootTest, AutoOffCallbackUsesTheWallClock)
{
    const std::string mark = hostPath(kActivityMarkFile);
    ASSERT_TRUE(writeBoardFile(kActivityMarkFile, ""));
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    autoOffTimeout = 1;
    screenSaverTimeout = 0;

    setMtime(mark, timespec{now.tv_sec - 600, now.tv_nsec});
    autoOffCallback();
    std::vector<pipe_dial> posted = takePosted();
    ASSERT_EQ(posted.size(), 1u);
    expectRecord(posted[0], REQ_SET_PARAM, 122);

    // A clock set back behind the mark: fresh activity, not a power-off.
    setMtime(mark, timespec{now.tv_sec + 3600, now.tv_nsec});
    autoOffCallback();
    EXPECT_TRUE(takePosted().empty());
}

TEST_F(RootTest, ConfigurationKeysAndDefaults)
{
    struct Case {
        const char* name;
        const char* content;  // nullptr: no file
        const char* language;
        int32_t autoOff;
        int32_t saver;
    };
    const Case cases[] = {
        {"missing file", nullptr, "", 0, 0},
        {"all keys", "Language=fr\nAutoOff=10\nScreenSaver=5\n", "fr", 10, 5},
        {"bad minutes", "Language=ar\nAutoOff=-3\nScreenSaver=soon\n", "ar", 0, 0},
    };
    const std::string config = hostPath(kConfigFile);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(config.c_str());
        if (c.content) {
            ASSERT_TRUE(writeBoardFile(kConfigFile, c.content));
        }
        TRootConfig read = readRootConfig();
        EXPECT_EQ(read.language, QString(c.language));
        EXPECT_EQ(read.autoOff, c.autoOff);
        EXPECT_EQ(read.screenSaver, c.saver);
    }

    // Unreadable (a directory in its place): the defaults.
    unlink(config.c_str());
    ASSERT_EQ(mkdir(config.c_str(), 0777), 0);
    TRootConfig read = readRootConfig();
    EXPECT_TRUE(read.language.isEmpty());
    EXPECT_EQ(read.autoOff, 0);
    EXPECT_EQ(read.screenSaver, 0);
}

TEST_F(RootTest, InstallTranslatorFallsBackToEnglishThenToKeys)
{
    auto text = [] { return QCoreApplication::translate("HomeView", "message27"); };

    ASSERT_TRUE(writeBoardFile(kConfigFile, "Language=fr\n"));
    installTranslator();
    EXPECT_EQ(text(), QString::fromUtf8("Démarrage"));

    // No file for this language: English. (A different size, so that the settings cache sees
    // the new file.)
    ASSERT_TRUE(writeBoardFile(kConfigFile, "Language=de\nAutoOff=0\n"));
    installTranslator();
    EXPECT_EQ(text(), QString("Starting"));

    // No configuration at all: English too.
    unlink(hostPath(kConfigFile).c_str());
    installTranslator();
    EXPECT_EQ(text(), QString("Starting"));

    // Neither file: an empty translator is installed and the previous one is gone.
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_FALSE(installTranslatorFrom(empty.path(), "fr"));
    ASSERT_NE(po_g_appTranslator, nullptr);
    EXPECT_TRUE(po_g_appTranslator->isEmpty());
    EXPECT_EQ(text(), QString("message27"));
}

TEST(RootFont, FamilyByLanguage)
{
    EXPECT_EQ(applicationFontFamily("ar"), QString("Arial Unicode MS"));
    EXPECT_EQ(applicationFontFamily("zh"), QString("Arial Unicode MS"));
    EXPECT_EQ(applicationFontFamily("fr"), QString("Noto Sans"));
    EXPECT_EQ(applicationFontFamily(""), QString("Noto Sans"));
}

TEST(ThreadPriority, ShareOfTheRoundRobinRange)
{
    const struct {
        int share;
        int priority;
    } cases[] = {{65, 64}, {80, 79}, {50, 50}, {15, 15}};
    for (const auto& c : cases)
        EXPECT_EQ(priorityForShare(1, 99, c.share), c.priority) << "share " << c.share;
}
