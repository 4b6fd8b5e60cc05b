// The discovery responder: the datagram checks and replies in process, and its thread on a
// loopback socket of the test's port range.
#include "network/ScopeAdmin.h"

#include "board/board.h"
#include "board/simcontrol.h"
#include "core/requests.h"
#include "core/sysserv.h"
#include "network/pelanodeInterface.h"
#include "tests/network/admin_test_client.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string kMac = "02-42-56-00-02-0a";  // eth0 of the seeded interface table


struct TPost {
    uint16_t kind;
    int32_t code;
    intptr_t value;
};

void drainInbox()
{
    pipe_dial r;
    while (!o_g_consMessageBox.empty())
        o_g_consMessageBox.receive(&r, true, 0);
}

class ScopeAdminTest : public SimBoardTest {};

TEST_F(ScopeAdminTest, ChecksAnswersAndPostsByTheCommandTable)
{
    std::string mac;
    ASSERT_TRUE(getMacAddress(mac));
    ASSERT_EQ(mac, kMac);
    char identification[kIdentificationSize];
    GetIdentification(identification, nullptr, true, true);
    const std::string ident = identification;
    ASSERT_NE(ident.find(", V1.12/"), std::string::npos);

    const std::string field32(32, 'q'), field33(33, 'q');
    const std::string zero(1, '\0');
    const struct {
        const char* what;
        std::string request;
        bool answered;
        std::string expected;
        std::vector<TPost> posts;
    } rows[] = {
        {"ping to every instrument (30 bytes)", adminDatagram(18, "+"), true, adminReply(18, kMac + ","), {}},
        {"byte 0 is anything", adminDatagram(18, "+,", '\x7f'), true, adminReply(18, kMac + ","), {}},
        {"exact MAC", adminDatagram(18, kMac + ","), true, adminReply(18, kMac + ","), {}},
        {"\"+\" with more after it", adminDatagram(18, "+x,"), true, adminReply(18, kMac + ","), {}},
        {"upper-case MAC", adminDatagram(18, "02-42-56-00-02-0A,"), false, "", {}},
        {"another MAC", adminDatagram(18, "02-42-56-00-02-0b,"), false, "", {}},
        {"\"+\" not first", adminDatagram(18, "x+,"), false, "", {}},
        {"empty addressee", adminDatagram(18, ","), false, "", {}},
        {"no fields", adminDatagram(18, ""), false, "", {}},
        {"11 bytes only", std::string(scopeAdminHeader, kAdminHeaderSize), false, "", {}},
        {"header differs", adminDatagram(18, "+,").replace(1, 1, "B"), false, "", {}},
        {"header's last byte differs", adminDatagram(18, "+,").replace(10, 1, "\x05"), false, "", {}},
        {"unknown command", adminDatagram(7, "+,"), false, "", {}},
        {"command 2 is only a reply", adminDatagram(2, "+,"), false, "", {}},
        {"echo of fields 1-9, empty ones kept",
         adminDatagram(0, "+,a,,c,d,e,f,g,h,i,j,k,"), true, adminReply(0, kMac + ",a,,c,d,e,f,g,h,i,"), {}},
        {"echo without a trailing comma", adminDatagram(0, "+,a,b"), true, adminReply(0, kMac + ",a,b,,,,,,,,"), {}},
        {"a 32-byte field", adminDatagram(16, "+," + field32 + ",b,c"), true, adminReply(16, kMac + "," + field32 + ",b,c,"), {}},
        {"a 33-byte field", adminDatagram(16, "+," + field33 + ",b,c"), false, "", {}},
        {"a 33-byte field after the 20th is not read",
         adminDatagram(16, "+,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19," + field33), true, adminReply(16, kMac + ",1,2,3,"), {}},
        {"a 33-byte 20th field", adminDatagram(16, "+,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18," + field33), false, "", {}},
        {"fixed settings", adminDatagram(5, "+"), true, adminReply(5, kMac + ",0,0,0,"), {}},
        {"first bytes of fields 7-9", adminDatagram(4, "+,1,2,3,4,5,6,A,BC,,"), true,
         adminReply(2, kMac + ",0,0,0,0,0,0,A,B," + zero + ","), {}},
        {"fields 7-9 missing", adminDatagram(4, "+"), true,
         adminReply(2, kMac + ",0,0,0,0,0,0," + zero + "," + zero + "," + zero + ","), {}},
        {"identification and network", adminDatagram(1, "+"), true,
         adminReply(1, kMac + "," + ident + ",0,192.0.2.10,255.255.255.0,0.0.0.0,0.0.0.0,-,0.0.0.0,-,-,"), {}},
        {"flag 6 set", adminDatagram(20, "+,5,"), true, adminReply(20, kMac + ",5,"), {{REQ_SET_PARAM, 6, 1}}},
        {"flag 6 cleared", adminDatagram(20, "+,0"), true, adminReply(20, kMac + ",0,"), {{REQ_SET_PARAM, 6, 0}}},
        {"flag 6 empty", adminDatagram(20, "+"), true, adminReply(20, kMac + ",,"), {{REQ_SET_PARAM, 6, 0}}},
        {"flag 6 negative", adminDatagram(20, "+, -3x"), true, adminReply(20, kMac + ", -3x,"), {{REQ_SET_PARAM, 6, 1}}},
        {"screen saver on", adminDatagram(255, "+,0"), true, adminReply(255, kMac + ",0,"), {{REQ_SCREEN_SAVER, 1, 0}}},
        {"power off", adminDatagram(255, kMac + ",2,"), true, adminReply(255, kMac + ",2,"), {{REQ_SET_PARAM, 122, 2}}},
        {"power off, blank and sign", adminDatagram(255, "+, +2"), true, adminReply(255, kMac + ", +2,"), {{REQ_SET_PARAM, 122, 2}}},
        {"wake", adminDatagram(255, "+,3"), true, adminReply(255, kMac + ",3,"), {{REQ_SCREEN_SAVER, 3, 3}}},
        {"no digits read as 0: saver on", adminDatagram(255, "+,"), true, adminReply(255, kMac + ",,"), {{REQ_SCREEN_SAVER, 1, 0}}},
        {"letters read as 0: saver on", adminDatagram(255, "+,x2"), true, adminReply(255, kMac + ",x2,"), {{REQ_SCREEN_SAVER, 1, 0}}},
        {"wake on -1", adminDatagram(255, "+,-1"), true, adminReply(255, kMac + ",-1,"), {{REQ_SCREEN_SAVER, 3, -1}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TAdminRequest request;
        std::string answer = "left over from a longer reply, which must not show";
        pipe_dial record{};
        bool posted = false;
        const bool parsed =
            scopeAdminParse(reinterpret_cast<const unsigned char*>(row.request.data()), row.request.size(), &request);
        const bool answered = parsed && scopeAdminAnswer(request, mac, &answer, &record, &posted);
        EXPECT_EQ(answered, row.answered);
        if (!answered) {
            EXPECT_FALSE(posted);
            continue;
        }
        EXPECT_EQ(answer, row.expected);
        ASSERT_EQ(posted, !row.posts.empty());
        if (posted) {
            EXPECT_EQ(record.kind, row.posts[0].kind);
            EXPECT_EQ(record.code, row.posts[0].code);
            EXPECT_EQ(record.auxValue, 0);
            EXPECT_EQ(record.intValue, row.posts[0].value);
            EXPECT_EQ(record.floatValue, 0.0f);
        }
    }
}

TEST(ScopeAdminInteger, ReadsAsStrtol)
{
    const struct {
        const char* text;
        long value;
    } rows[] = {{"", 0}, {"  7", 7}, {"-12", -12}, {"+3x", 3}, {"x3", 0}, {"\t2", 2}, {"- 2", 0}};
    for (const auto& row : rows)
        EXPECT_EQ(scopeAdminInteger(row.text), row.value) << '"' << row.text << '"';
}

// ---- the thread ------------------------------------------------------------------------------

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class ScopeAdminThread : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        ::setenv("BENCHVIEW_ADMIN_LOOPBACK_ONLY", "1", 1);
        port_ = boardPort(kAdminPort);
        drainInbox();
    }
    void TearDown() override
    {
        stopThread();
        drainInbox();
        SimBoardTest::TearDown();
    }
    void startThread()
    {
        stop_ = false;
        thread_ = std::thread([this] { scopeAdminRun(stop_); });
    }
    void stopThread()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    bool ask(const std::string& request, std::string* answer) { return client_.ask(port_, request, answer, 5000); }
    std::vector<pipe_dial> posted()
    {
        std::vector<pipe_dial> records;
        pipe_dial r;
        while (!o_g_consMessageBox.empty() && o_g_consMessageBox.receive(&r, true, 0) == 0)
            records.push_back(r);
        return records;
    }

    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    TAdminClient client_;
};

TEST_F(ScopeAdminThread, PostsTheActingCommandsAsItself)
{
    startThread();
    std::string answer;
    ASSERT_TRUE(ask(adminDatagram(18, "+,"), &answer));
    const struct {
        std::string request;
        TPost post;
    } rows[] = {
        {adminDatagram(20, "+,1,"), {REQ_SET_PARAM, 6, 1}},
        {adminDatagram(20, "+,0,"), {REQ_SET_PARAM, 6, 0}},
        {adminDatagram(255, "+,0,"), {REQ_SCREEN_SAVER, 1, 0}},
        {adminDatagram(255, kMac + ",2,"), {REQ_SET_PARAM, 122, 2}},
        {adminDatagram(255, "+,1,"), {REQ_SCREEN_SAVER, 3, 1}},
    };
    for (const auto& row : rows) {
        client_.send(port_, row.request);
        ASSERT_TRUE(client_.receive(&answer, 5000));
        EXPECT_EQ(static_cast<unsigned char>(answer[kAdminHeaderSize]), static_cast<unsigned char>(row.request[kAdminHeaderSize]));
        const std::vector<pipe_dial> records = posted();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].kind, row.post.kind);
        EXPECT_EQ(records[0].code, row.post.code);
        EXPECT_EQ(records[0].intValue, row.post.value);
        EXPECT_NE(records[0].senderId, kSenderUserInterface);
        EXPECT_NE(records[0].senderId, kSenderTimer);
    }
}

TEST_F(ScopeAdminThread, FullInboxStillAnswersButPostsNothing)
{
    pipe_dial filler{REQ_SCREEN, 0, 0, 0, 0.0f, 0};
    for (int i = 0; i <= kWsInboxGuard; ++i)
        ASSERT_EQ(o_g_consMessageBox.send(&filler), 0);
    startThread();
    std::string answer;
    ASSERT_TRUE(ask(adminDatagram(255, "+,0,"), &answer));
    EXPECT_EQ(answer, adminReply(255, kMac + ",0,"));
    EXPECT_EQ(o_g_consMessageBox.count(), kWsInboxGuard + 1);
}

TEST_F(ScopeAdminThread, WaitsForATakenPortWithoutSpinning)
{
    const int taken = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const int savedRetry = scopeAdminRetryMs();
    setScopeAdminRetryMs(100);

    const double before = processCpuSeconds();
    startThread();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LT(processCpuSeconds() - before, 0.3);  // a spinning thread would use the whole second

    ::close(taken);
    std::string answer;
    EXPECT_TRUE(ask(adminDatagram(18, "+,"), &answer));
    setScopeAdminRetryMs(savedRetry);
}

TEST_F(ScopeAdminThread, AnswersABurstWithoutRunningAway)
{
    startThread();
    std::string answer;
    ASSERT_TRUE(ask(adminDatagram(18, "+,"), &answer));
    const double before = processCpuSeconds();
    int answered = 0;
    for (int i = 0; i < 1000; ++i) {
        client_.send(port_, adminDatagram(i % 2 ? 18 : 7, "+,"));  // every other one is ignored
        if (i % 2 && client_.receive(&answer, 2000))
            ++answered;
    }
    EXPECT_EQ(answered, 500);
    EXPECT_LT(processCpuSeconds() - before, 10.0);  // far more than loopback needs, far less than a spin
}

} // namespace
