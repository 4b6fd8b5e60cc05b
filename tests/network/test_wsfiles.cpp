// Identity, status, mode and the file requests of the web service, on the test's simulated root.
#include "tests/network/ws_handler_fixture.h"

#include "board/board.h"
#include "board/simcontrol.h"
#include "core/setup.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"
#include "network/requestkey.h"
#include "network/user_int.h"

#include <QString>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class WsFiles : public WsHandlers {
protected:
    void put(const char* boardFile, const std::string& content = std::string())
    {
        std::ofstream(hostPath(boardFile), std::ios::binary) << content;
    }
    bool there(const char* boardFile) const
    {
        struct stat st;
        return ::lstat(hostPath(boardFile).c_str(), &st) == 0;
    }
    // The set of names of a "/list" reply after its path field; the path field in *path.
    std::multiset<std::string> listed(const std::string& datagram, std::string* path)
    {
        std::vector<std::string> f = fields(datagram);
        if (f.empty())
            return {};
        *path = f[0];
        return std::multiset<std::string>(f.begin() + 1, f.end());
    }
};

TEST_F(WsFiles, IdentityStatusAndMode)
{
    char identification[kIdentificationSize] = {};
    GetIdentification(&param_calibr, identification, nullptr, false, false);
    EXPECT_EQ(reply("/ident"), "3," + std::string(identification) + ",3.05,");
    EXPECT_EQ(std::count(identification, identification + std::strlen(identification), ','), 1);

    // Right after the service starts, nothing published.
    data.instrumentMode = 16;
    data.traceFormat = 0;
    data.zoomWidth = 40.0f;
    EXPECT_EQ(reply("/status?o=77"), "9,+,,+,+,+,+,16,1,77,");

    setPelanodeBattery(50);
    setPelanodeWarning(QString::fromUtf8("Autoset \xC2\xB5s"));
    std::string trigger, misc1, misc2, battery, warning, passfail;
    getPelanodeStatus(trigger, misc1, misc2, battery, warning, passfail);
    std::vector<std::string> f = fields("/status");
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[4], warning);
    EXPECT_EQ(f[5], battery);
    EXPECT_EQ(f[8], "77");  // the key as it stands

    const struct {
        uint16_t mode;
        int16_t format;
        float width;
        const char* subMode;
    } rows[] = {
        {16, 0, 40.0f, "1"}, {16, 0, 20.0f, "18"}, {16, 1, 40.0f, "20"}, {16, 2, 40.0f, "19"},
        {17, 1, 40.0f, "20"}, {64, 1, 40.0f, "0"}, {0x8000, 0, 40.0f, "0"}, {128, 2, 5.0f, "0"},
    };
    for (const auto& row : rows) {
        data.instrumentMode = row.mode;
        data.traceFormat = row.format;
        data.zoomWidth = row.width;
        f = fields("/status");
        ASSERT_EQ(f.size(), 9u);
        EXPECT_EQ(f[6], std::to_string(row.mode));
        EXPECT_EQ(f[7], row.subMode) << row.mode << " " << row.format << " " << row.width;
    }

    data.instrumentMode = 16;
    EXPECT_EQ(reply("/instrument?mode=16"), "1,16,");
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(reply("/instrument?mode=64"), "1,16,");  // applied later by the controller
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{param::instrumentMode, 0, 64}}));
    EXPECT_EQ(reply("/instrument?mode=x"), "1,16,");
    // A number that is no instrument mode is refused and posts nothing.
    for (const char* request : {"/instrument?mode=5", "/instrument?mode=255", "/instrument?mode=-16"})
        EXPECT_EQ(reply(request), "-1,") << request;
    EXPECT_TRUE(sets().empty());
    EXPECT_EQ(reply("/instrument"), "1,16,");
    EXPECT_TRUE(posted().empty());
    data.instrumentMode = 0x8000;
    EXPECT_EQ(reply("/instrument"), "1,32768,");
}

TEST_F(WsFiles, ListsDirectoriesOfTheUserPartitionAndTheCard)
{
    ASSERT_EQ(::mkdir(hostPath("/media/user/empty").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(hostPath("/media/user/two").c_str(), 0777), 0);
    put("/media/user/two/a.trc", "x");
    ASSERT_EQ(::mkdir(hostPath("/media/user/two/sub").c_str(), 0777), 0);
    std::string path;

    EXPECT_EQ(reply("/list?p0=/empty"), "1,/media/user/empty,");
    EXPECT_EQ(listed("/list?p0=/two", &path), (std::multiset<std::string>{"a.trc", "sub"}));
    EXPECT_EQ(path, "/media/user/two");
    EXPECT_EQ(reply("/list?p0=/missing"), "0,");
    EXPECT_EQ(reply("/list?p0=/two/a.trc"), "0,");
    // The key runs to the end of the datagram, "&" included.
    ASSERT_EQ(::mkdir(hostPath("/media/user/a&b").c_str(), 0777), 0);
    EXPECT_EQ(reply("/list?p0=/a&b"), "1,/media/user/a&b,");
    // Without a key: the user partition itself.
    EXPECT_EQ(listed("/list", &path).count("two"), 1u);
    EXPECT_EQ(path, "/media/user");

    // p1 without a card: the user partition; with one, the card.
    ASSERT_FALSE(isSdcardPresent());
    EXPECT_EQ(reply("/list?p1=/empty"), "1,/media/user/empty,");
    ASSERT_TRUE(simInsertSdCard());
    put("/media/user/sdcard_p1/card.cfg");
    EXPECT_EQ(listed("/list?p1=/", &path).count("card.cfg"), 1u);
    EXPECT_EQ(path, "/media/user/sdcard_p1/");
    ASSERT_TRUE(simRemoveSdCard());
}

TEST_F(WsFiles, ListStopsAtTheEndOfTheReplyBuffer)
{
    ASSERT_EQ(::mkdir(hostPath("/media/user/many").c_str(), 0777), 0);
    const std::string stem(200, 'n');
    for (int i = 0; i < 1100; ++i) {
        const std::string name = stem.substr(0, 190) + std::to_string(10000 + i);
        std::ofstream(hostPath("/media/user/many") + "/" + name);
    }
    const TWsAnswer answer = ask("/list?p0=/many");
    std::vector<std::string> f;
    ASSERT_TRUE(wsFields(answer.bytes, &f));  // N counts exactly the fields sent
    EXPECT_LT(f.size(), 1101u);
    EXPECT_GT(f.size(), 900u);
    EXPECT_LE(answer.bytes.size(), static_cast<size_t>(kWsReplyBufferSize));
    EXPECT_EQ(answer.sizes.front(), 50000u);
}

TEST_F(WsFiles, GetfileServesRegularFilesWhole)
{
    put("/media/user/empty.bin");
    std::string big(199993, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + 3);
    put("/media/user/big.bin", big);
    put("/media/user/bigger.bin", big + "x");
    ASSERT_EQ(::mkfifo(hostPath("/media/user/fifo").c_str(), 0666), 0);

    EXPECT_EQ(reply("/getfile?p0=/empty.bin"), "0,");
    EXPECT_EQ(reply("/getfile?p0=/missing.bin"), "-1,");
    EXPECT_EQ(reply("/getfile"), "-1,");
    EXPECT_EQ(reply("/getfile?p0=/fifo"), "-1,");  // at once: nothing waits for a writer
    EXPECT_EQ(reply("/getfile?p0=/"), "-1,");
    EXPECT_EQ(reply("/getfile?p0=/bigger.bin"), "-1,");

    const TWsAnswer answer = ask("/getfile?p0=/big.bin&o=3");
    EXPECT_EQ(answer.sizes, (std::vector<size_t>{50000, 50000, 50000, 50000}));
    long long size = 0;
    std::string body;
    ASSERT_TRUE(wsParseGetfile(answer.bytes, &size, &body));
    EXPECT_EQ(size, 199993);
    EXPECT_TRUE(body == big);
}

TEST_F(WsFiles, OpenLinksTheFileIntoTheBatchDirectoryForTheController)
{
    data.cursor1Time = 4321;
    ASSERT_EQ(SetupSave("web1", false, "saved"), 0);
    ASSERT_TRUE(there("/media/user/setups/web1.cfg"));
    data.cursor1Time = 12;
    removeTree(hostPath(kBatchDir));

    EXPECT_EQ(reply("/open?p0=/setups/web1.cfg"), "0,");
    const std::vector<pipe_dial> p = posted();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].kind, REQ_FILE);
    EXPECT_EQ(p[0].code, fileBatchRecall);
    EXPECT_EQ(p[0].senderId, senderValue(tWEBSd_id));
    char target[512] = {};
    ASSERT_GT(::readlink(hostPath("/media/private/batch/web1.cfg").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), hostPath("/media/user/setups/web1.cfg"));

    // The controller's batch recall takes it.
    EXPECT_EQ(batchRecall(data.hwChannelMask), 0);
    EXPECT_EQ(data.cursor1Time, 4321);
    EXPECT_FALSE(there("/media/private/batch/web1.cfg"));
    posted();  // the recall's mode

    EXPECT_EQ(reply("/open?p0=/setups/none.cfg"), "0,");
    EXPECT_EQ(reply("/open?p0=/setups/web1.cfg/"), "0,");
    EXPECT_TRUE(posted().empty());
}

// Only a file is opened, and only by its whole name: an empty name (the user partition itself,
// which would move the program's working directory), a folder, a name that a NUL cuts short or
// that holds control characters post nothing and link nothing.
TEST_F(WsFiles, OpenTakesOnlyWholeNamesOfFiles)
{
    using namespace std::string_literals;
    put("/media/user/zqh.cfg", "old");
    removeTree(hostPath(kBatchDir));
    for (const std::string& datagram : {"/open?p0="s, "/open?p0=/"s, "/open?p1="s, "/open"s, "/open?p0=/zqh.cfg\0x"s,
                                        "/open?p0=/zqh\0.cfg"s, "/open?p0=/zqh.cfg\t"s, "/open?p0=/zq\x1bh.cfg"s}) {
        SCOPED_TRACE(testing::PrintToString(datagram));
        EXPECT_EQ(reply(datagram), "0,");
        EXPECT_TRUE(posted().empty());
        EXPECT_FALSE(there(kBatchDir) && ::rmdir(hostPath(kBatchDir).c_str()) != 0) << "something was linked";
    }
    // A terminator sent along ends the name and is no part of it.
    EXPECT_EQ(reply("/open?p0=/zqh.cfg\0\0"s), "0,");
    EXPECT_EQ(posted().size(), 1u);
    EXPECT_EQ(reply("/getfile?p0=/zqh.cfg\0junk"s), "-1,");
    EXPECT_EQ(reply("/getfile?p0=/zqh.cfg"), "3,old");

    // A save named through a NUL or with control characters goes out unnamed (and then fails).
    for (const std::string& datagram : {"/savefile?p0=1&p2=zqh\0nul2"s, "/savefile?p0=1&p2=zq\th"s}) {
        SCOPED_TRACE(testing::PrintToString(datagram));
        EXPECT_EQ(reply(datagram), "0,");
        const std::vector<pipe_dial> p = posted();
        ASSERT_EQ(p.size(), 1u);
        EXPECT_STREQ(reinterpret_cast<const char*>(p[0].intValue), "");
    }
}

// What a killed save left (temporary files of ours) is no file of the user's: never listed.
TEST_F(WsFiles, ListShowsNoTemporaryFilesOfSaves)
{
    put("/media/user/keep.cfg");
    put("/media/user/.half.trc.tmp31-0", "half");
    put("/media/user/old.cfg.tmp31-2", "half");
    put("/media/user/tmp1-2.cfg");
    std::string path;
    const std::multiset<std::string> names = listed("/list", &path);
    EXPECT_EQ(names.count("keep.cfg"), 1u);
    EXPECT_EQ(names.count("tmp1-2.cfg"), 1u);
    EXPECT_EQ(names.count(".half.trc.tmp31-0"), 0u);
    EXPECT_EQ(names.count("old.cfg.tmp31-2"), 0u);
}

TEST_F(WsFiles, DeleteRemovesFilesAndEmptyDirectoriesButNeverTheRoots)
{
    put("/media/user/gone.trc", "x");
    ASSERT_EQ(::mkdir(hostPath("/media/user/emptydir").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(hostPath("/media/user/full").c_str(), 0777), 0);
    put("/media/user/full/kept", "x");
    ASSERT_TRUE(simInsertSdCard());

    const struct {
        const char* datagram;
        const char* path;
        bool remains;
    } rows[] = {
        {"/delete?p0=/gone.trc", "/media/user/gone.trc", false},
        {"/delete?p0=/emptydir", "/media/user/emptydir", false},
        {"/delete?p0=/full", "/media/user/full/kept", true},
        {"/delete?p0=/sdcard_p1", "/media/user/sdcard_p1", true},
        {"/delete?p0=/sdcard_p1/", "/media/user/sdcard_p1", true},
        {"/delete?p0=/./sdcard_p1/.", "/media/user/sdcard_p1", true},
        {"/delete?p0=/", "/media/user", true},
        {"/delete?p0=/.", "/media/user", true},
        {"/delete", "/media/user", true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(reply(row.datagram), "0,") << row.datagram;
        EXPECT_EQ(there(row.path), row.remains) << row.datagram;
    }
    ASSERT_TRUE(simRemoveSdCard());
    // Emptied of everything, the partition itself still stays.
    removeTree(hostPath("/media/user/full"));
    removeTree(hostPath("/media/user/setups"));
    EXPECT_EQ(reply("/delete?p0="), "0,");
    EXPECT_EQ(reply("/delete?p0=/"), "0,");
    EXPECT_TRUE(there("/media/user"));
}

TEST_F(WsFiles, CwdMovesOnlyIntoDirectoriesOfTheUserPartition)
{
    ASSERT_EQ(::mkdir(hostPath("/media/user/work").c_str(), 0777), 0);
    put("/media/user/file");
    ASSERT_EQ(::chdir(hostPath("/media/user").c_str()), 0);
    EXPECT_EQ(reply("/cwd"), "1,/media/user");
    EXPECT_EQ(reply("/cwd?p0=/media/user/work&x=1"), "0,");
    EXPECT_EQ(reply("/cwd"), "1,/media/user/work");
    for (const char* refused : {"/cwd?p0=/media/private", "/cwd?p0=/media/user/file", "/cwd?p0=/media/user/none",
                                "/cwd?p0=work", "/cwd?p0=/"}) {
        EXPECT_EQ(reply(refused), "0,") << refused;
        EXPECT_EQ(reply("/cwd"), "1,/media/user/work") << refused;
    }
    EXPECT_EQ(reply("/cwd?p0=/media/user"), "0,");
    EXPECT_EQ(reply("/cwd"), "1,/media/user");
}

TEST_F(WsFiles, SavefilePostsEachSaveWithItsOwnTexts)
{
    // A fresh system: empty name and comment.
    EXPECT_EQ(reply("/savefile?p0=2"), "0,");
    std::vector<pipe_dial> p = posted();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].kind, REQ_FILE);
    EXPECT_EQ(p[0].code, fileTraceSave);
    EXPECT_STREQ(reinterpret_cast<const char*>(p[0].auxValue), "");
    EXPECT_STREQ(reinterpret_cast<const char*>(p[0].intValue), "");

    const struct {
        const char* p0;
        int32_t code;
    } kinds[] = {{"2", fileTraceSave}, {"4", fileFunctionSave}, {"8", fileHarmonicSave}, {"16", fileMaskSave},
                 {"1", fileSetupSave}, {"0", fileSetupSave},     {"x", fileSetupSave},    {"32", fileSetupSave}};
    for (const auto& k : kinds) {
        EXPECT_EQ(reply(std::string("/savefile?p0=") + k.p0), "0,");
        p = posted();
        ASSERT_EQ(p.size(), 1u) << k.p0;
        EXPECT_EQ(p[0].code, k.code) << k.p0;
        EXPECT_EQ(p[0].senderId, senderValue(tWEBSd_id));
    }

    // The texts persist; two saves queued keep their own.
    EXPECT_EQ(reply("/savefile?p1=first%20run&p2=one"), "0,");
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(reply("/savefile?p0=0"), "0,");
    EXPECT_EQ(reply("/savefile?p2=two&p0=0"), "0,");
    p = posted();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(p[0].intValue), "one");
    EXPECT_STREQ(reinterpret_cast<const char*>(p[0].auxValue), "first%20run");
    EXPECT_STREQ(reinterpret_cast<const char*>(p[1].intValue), "two");
    EXPECT_STREQ(reinterpret_cast<const char*>(p[1].auxValue), "first%20run");

    // A name holding "/" is not kept: the save fails as unnamed instead of writing elsewhere.
    EXPECT_EQ(reply("/savefile?p2=../../media/private/setup&p0=0"), "0,");
    p = posted();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(p[0].intValue), "");

    // Crowded inbox: held back, and the copy is not consumed.
    pipe_dial local{REQ_SET_PARAM, 1, 0, 0, 0.0f, kSenderUserInterface};
    for (int i = 0; i <= kWsInboxGuard; ++i)
        ASSERT_EQ(o_g_consMessageBox.send(&local), 0);
    EXPECT_EQ(reply("/savefile?p2=held&p0=0"), "0,");
    EXPECT_EQ(o_g_consMessageBox.count(), kWsInboxGuard + 1);
    posted();
    EXPECT_EQ(reply("/savefile?p2=next&p0=0"), "0,");
    p = posted();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(p[0].intValue), "next");
}

TEST_F(WsFiles, SavefileProposesKindsAndADatedName)
{
    const struct {
        uint16_t mode;
        int16_t passFail;
        const char* kinds;
    } rows[] = {{16, 0, "7"}, {16, 1, "23"}, {64, 0, "9"}, {128, 0, "1"}, {130, 1, "1"}, {256, 0, "0"}};
    const std::regex name("tavlin_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}");
    for (const auto& row : rows) {
        data.instrumentMode = row.mode;
        data.passFailOn = row.passFail;
        const std::vector<std::string> f = fields("/savefile");
        ASSERT_EQ(f.size(), 3u);
        EXPECT_EQ(f[0], row.kinds) << row.mode;
        EXPECT_EQ(f[1], "---");
        EXPECT_TRUE(std::regex_match(f[2], name)) << f[2];
    }
    EXPECT_TRUE(posted().empty());
}

// Nothing outside the roots is read, changed, linked or entered, however the path is written.
TEST_F(WsFiles, PathsNeverLeaveTheRoots)
{
    put("/media/private/secret.cfg", "secret");
    put("/media/user/inside.txt", "in");
    ASSERT_EQ(::symlink(hostPath("/media/private").c_str(), hostPath("/media/user/out").c_str()), 0);
    ASSERT_EQ(::symlink(hostPath("/media/private/secret.cfg").c_str(), hostPath("/media/user/secret").c_str()), 0);
    ASSERT_EQ(::chdir(hostPath("/media/user").c_str()), 0);
    removeTree(hostPath(kBatchDir));

    const struct {
        const char* datagram;
        const char* expected;
    } rows[] = {
        {"/getfile?p0=/../private/secret.cfg", "-1,"},
        {"/getfile?p0=/%2E%2E/private/secret.cfg", "-1,"},
        {"/getfile?p0=/out/secret.cfg", "-1,"},
        {"/getfile?p0=/secret", "-1,"},
        {"/delete?p0=/../private/secret.cfg", "0,"},
        {"/delete?p0=/out/secret.cfg", "0,"},
        {"/delete?p0=/secret", "0,"},
        {"/delete?p0=/out", "0,"},
        {"/open?p0=/../private/secret.cfg", "0,"},
        {"/open?p0=/out/secret.cfg", "0,"},
        {"/open?p0=/secret", "0,"},
        {"/open?p1=/../private/secret.cfg", "0,"},
        {"/list?p0=/..", "0,"},
        {"/list?p0=/../private", "0,"},
        {"/list?p0=/out", "0,"},
        {"/list?p1=/..", "0,"},
        {"/cwd?p0=/media/user/..", "0,"},
        {"/cwd?p0=/media/user/out", "0,"},
        {"/cwd?p0=/media/user/%2E%2E", "0,"},
        {"/savefile?p2=../secret&p0=0", "0,"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(reply(row.datagram), row.expected) << row.datagram;
    // The encoded form is a name like any other: it does not exist, so nothing is served.
    EXPECT_EQ(readHostFile(hostPath("/media/private/secret.cfg")), "secret");
    EXPECT_FALSE(there("/media/private/batch/secret.cfg"));
    EXPECT_FALSE(there("/media/private/batch/secret"));
    EXPECT_TRUE(there("/media/user/out"));
    EXPECT_TRUE(there("/media/user/secret"));
    EXPECT_EQ(reply("/cwd"), "1,/media/user");
    for (const pipe_dial& r : posted()) {
        if (r.kind == REQ_FILE && r.code == fileSetupSave) {
            EXPECT_STREQ(reinterpret_cast<const char*>(r.intValue), "");
        } else {
            ADD_FAILURE() << "posted " << r.kind << "/" << r.code;
        }
    }
    // Inside the root, the same requests work.
    EXPECT_EQ(reply("/getfile?p0=/inside.txt"), "2,in");
}

} // namespace
