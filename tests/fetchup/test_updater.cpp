// The update program's index arithmetic, copy and the order of its syncs, in process.
#include "board/board.h"
#include "fetchup/updater.h"
#include "tests/fetchup/fetchupfixture.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <sys/stat.h>

namespace {

class UpdaterTest : public FetchupTest {
protected:
    QStringList list(const std::string& accepted, const std::string& fresh)
    {
        if (!accepted.empty())
            put(kAcceptedIndex, accepted);
        put(kStagedIndex, fresh);
        QFile file(QString::fromStdString(hostPath(kStagedIndex)));
        Updater u;
        return u.createDownloadFileList(file);
    }
};

const std::string A = "the first file", B = "the second file";

} // namespace

TEST_F(UpdaterTest, DownloadListFromTwoIndexes)
{
    const std::string a = md5(A), b = md5(B), c = md5("changed");
    const struct {
        const char* name;
        std::string accepted, fresh;
        QStringList expected;
    } cases[] = {
        {"identical", a + "  a.bin\n" + b + "  b.bin\n", a + "  a.bin\n" + b + "  b.bin\n", {}},
        {"one changed", a + "  a.bin\n" + b + "  b.bin\n", c + "  a.bin\n" + b + "  b.bin\n", {"a.bin"}},
        {"no accepted index", "", a + "  a.bin\n" + b + "  b.bin\n", {"a.bin", "b.bin"}},
        {"single blank skipped", "", a + " a.bin\n" + b + "  b.bin\n", {"b.bin"}},
        {"three parts skipped", "", a + "  a.bin  x\n" + b + "  b.bin\n", {"b.bin"}},
        {"blanks trimmed, empty lines", "", "\n " + a + "  a.bin \r\n\n", {"a.bin"}},
        {"same name twice", a + "  a.bin\n", c + "  a.bin\n" + a + "  a.bin\n", {"a.bin"}},
        {"bytes after a zero ignored", "", a + "  a.bin" + std::string(1, '\0') + "  x\n", {"a.bin"}},
    };
    for (const auto& k : cases) {
        TearDown();
        SetUp();
        EXPECT_EQ(k.expected, list(k.accepted, k.fresh)) << k.name;
    }
}

TEST_F(UpdaterTest, IntegrityOfTheStagedRelease)
{
    const std::string a = md5(A);
    std::string upper = a;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const struct {
        const char* name;
        std::string index;
        bool good;
    } cases[] = {
        {"good", a + "  a.bin\n", true},
        {"empty index", "", true},
        {"upper-case digest", upper + "  a.bin\n", false},
        {"single blank", a + " a.bin\n", false},
        {"three parts", a + "  a.bin  x\n", false},
        {"missing file", a + "  a.bin\n" + a + "  gone.bin\n", false},
        {"hidden name not verified", a + "  a.bin\n" + a + "  .gone\n", true},
        {"a wrong digest", md5(B) + "  a.bin\n", false},
        {"a name leaving the folder", a + "  ../a.bin\n", false},
        {"the index itself", a + "  index\n", false},
    };
    for (const auto& k : cases) {
        TearDown();
        SetUp();
        put("/media/private/update/download/a.bin", A);
        put("/media/private/update/a.bin", A);
        put(kStagedIndex, k.index);
        Updater u;
        EXPECT_EQ(k.good, u.checkIntegrity(QDir(QString::fromStdString(hostPath(kStagingDir))))) << k.name;
    }
    Updater u;
    EXPECT_FALSE(u.checkIntegrity(QDir(QString::fromStdString(hostPath("/nowhere")))));
}

TEST(IndexNames, RefusedNames)
{
    for (const char* bad : {"", ".", "..", "index", "a/b", "/abs", "..\\x", "a\tb", "a\x7f"})
        EXPECT_TRUE(indexNameRefused(QString::fromUtf8(bad))) << bad;
    for (const char* good : {"a.bin", ".hidden", "index.old", "Index", "r\xc3\xa9sum\xc3\xa9"})
        EXPECT_FALSE(indexNameRefused(QString::fromUtf8(good))) << good;
}

TEST_F(UpdaterTest, CopyNeverOverwritesAndSkipsHiddenFilesAndFolders)
{
    put("/src/a.bin", "new");
    put("/src/.hidden", "h");
    put("/src/sub/x", "x");
    put("/dst/a.bin", "old");
    put("/src/b.bin", "b");
    Updater u;
    u.copyPath(QString::fromStdString(hostPath("/src")), QString::fromStdString(hostPath("/dst")));
    EXPECT_EQ("old", file("/dst/a.bin"));
    EXPECT_EQ("b", file("/dst/b.bin"));
    EXPECT_FALSE(exists("/dst/.hidden"));
    EXPECT_FALSE(exists("/dst/sub"));
}

TEST_F(UpdaterTest, EverythingAnnouncedIsSyncedBeforeTheMarker)
{
    put("/media/user/sdcard_p1/update/a.bin", A);
    put("/media/user/sdcard_p1/update/b.bin", B);
    put("/media/user/sdcard_p1/update/index", index({{"a.bin", A}, {"b.bin", B}}));
    std::vector<std::pair<std::string, bool>> syncs;  // path, marker there at that moment
    setSyncObserver([&](const QString& path) {
        syncs.emplace_back(boardPathFromHost(path.toStdString()), exists(kReadyMarker));
    });
    int ends = 0;
    setFinishHook([&] { ++ends; });
    Updater u;
    u.start();
    setSyncObserver(nullptr);
    setFinishHook(nullptr);
    EXPECT_EQ(1, ends);
    ASSERT_TRUE(exists(kReadyMarker));
    EXPECT_FALSE(exists(kCopyMarker));
    auto syncedBeforeMarker = [&](const char* path) {
        for (const auto& s : syncs)
            if (s.first == path && !s.second)
                return true;
        return false;
    };
    for (const char* path : {"/media/private/update/download/a.bin", "/media/private/update/download/b.bin",
                             kStagingDir, kAcceptedIndex, kDateFile, kUpdateDir})
        EXPECT_TRUE(syncedBeforeMarker(path)) << path;
    ASSERT_FALSE(syncs.empty());
    EXPECT_EQ(kUpdateDir, syncs.back().first) << "the marker's folder last";
    EXPECT_TRUE(syncs.back().second);
}
