// The web service in process: dispatch, the "o" key, the query parser, the setters and reply
// chunking, over a pair of loopback UDP sockets of the test's own.
#include "network/pelanodeInterface.h"

#include "acquisition/TAcquisition.h"
#include "core/process.h"
#include "core/requests.h"
#include "board/board.h"
#include "network/requestkey.h"
#include "network/user_int.h"
#include "tests/network/status_cache.h"
#include "tests/network/ws_test_client.h"
#include "tests/support/locales.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The oldest record the setters posted, without waiting.
bool takePosted(pipe_dial* r)
{
    return !o_g_consMessageBox.empty() && o_g_consMessageBox.receive(r, true, 0) == 0;
}

int boundUdpSocket(sockaddr_in* addr)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // 50000-byte datagrams are dropped with the default receive buffer.
    const int size = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    *addr = sockaddr_in{};
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof *addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(addr), sizeof *addr) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(addr), &len) != 0)
        return -1;
    return fd;
}

// A server socket standing for the service's and a client socket standing for the remote peer.
class WsService : public ::testing::Test {
protected:
    void SetUp() override
    {
        sockaddr_in serverAddr{};
        server_ = boundUdpSocket(&serverAddr);
        ASSERT_GE(server_, 0);
        ASSERT_TRUE(client_.ok());
        clientAddr_ = client_.address();
        req_ = new TWsReq();
        req_->socket = server_;
        // A sender identity distinct from the user interface (0), the keys and the timers (-1).
        savedSender_ = tWEBSd_id;
        tWEBSd_id = static_cast<pthread_t>(0x5EB5);
        drainInbox();
    }

    void TearDown() override
    {
        drainInbox();
        tWEBSd_id = savedSender_;
        ::close(server_);
        delete req_;
    }

    // What a test posted, or crowded the inbox with, is not the next test's.
    static void drainInbox()
    {
        pipe_dial r{};
        while (o_g_consMessageBox.count() > 0)
            o_g_consMessageBox.receive(&r, true, 0);
    }

    // Puts a datagram into the request as the receive loop would.
    void load(const std::string& datagram)
    {
        std::memset(req_->buffer, 0, sizeof req_->buffer);
        std::memcpy(req_->buffer, datagram.data(), std::min<size_t>(datagram.size(), kWsDatagramMax));
        req_->received = static_cast<int32_t>(datagram.size());
        req_->peer = clientAddr_;
        req_->peerLength = sizeof clientAddr_;
    }

    int server_ = -1;
    TWsTestClient client_;
    sockaddr_in clientAddr_{};
    TWsReq* req_ = nullptr;
    pthread_t savedSender_{};
};

// ---- dispatch --------------------------------------------------------------------------------

std::vector<std::string>& calls()
{
    static auto* c = new std::vector<std::string>;
    return *c;
}

int32_t g_keySeen = 0;
int g_imageLockResult = 0;

void record(const char* name)
{
    calls().push_back(name);
    g_keySeen = l_g_requestKey.load();
    g_imageLockResult = pthread_mutex_trylock(&o_g_imageMutex);
    if (g_imageLockResult == 0)
        pthread_mutex_unlock(&o_g_imageMutex);
}

void identHandler(TWsReq* req) { record("ident"); wsResponseSend(req, "ok,", 3); }
void statusHandler(TWsReq*) { record("status"); }
void listHandler(TWsReq*) { record("list"); }
void calibrHandler(TWsReq*) { record("calibr"); }

const TWsCallback kTestTable[] = {
    {"/ident", 6, identHandler},
    {"/status", 7, statusHandler},
    {"/list", 5, listHandler},
    {"/calibr", 7, calibrHandler},
};

TEST_F(WsService, DispatchesByPrefixAndAnswersTheRest)
{
    const std::string binaryCalibr = std::string("/calibr?o=5&d=") + std::string("\0\x01\xFF&o=9\0", 8);
    const struct {
        std::string datagram;
        const char* handler;  // "" for none
        std::vector<std::string> replies;
    } rows[] = {
        {"/ident", "ident", {"ok,"}},
        {"/identify?x=1", "ident", {"ok,"}},
        {"/listing", "list", {}},
        {"/calibration", "calibr", {}},
        {binaryCalibr, "calibr", {}},
        {"/nothing", "", {"-1,"}},
        {"/iden", "", {"-1,"}},          // shorter than every name
        {"status", "", {"-1,"}},         // names are compared from the first byte
        {"/STATUS", "", {"-1,"}},        // and case matters
        {std::string(3000, 'x').replace(0, 6, "/ident"), "", {"-1,"}},  // over-long: not cut and served
        {std::string(kWsDatagramMax, 'x').replace(0, 6, "/ident"), "ident", {"ok,"}},
    };
    for (const auto& row : rows) {
        calls().clear();
        load(row.datagram);
        wsServeDatagram(req_, kTestTable, 4);
        const std::vector<std::string> expectedCalls =
            *row.handler ? std::vector<std::string>{row.handler} : std::vector<std::string>{};
        EXPECT_EQ(calls(), expectedCalls) << row.datagram.substr(0, 20);
        EXPECT_EQ(client_.drain(50), row.replies) << row.datagram.substr(0, 20);
    }

    // An empty datagram gets no reply at all.
    load("");
    wsServeDatagram(req_, kTestTable, 4);
    EXPECT_TRUE(client_.drain(50).empty());
}

TEST_F(WsService, TakesTheKeyBeforeTheHandlerWhichRunsUnderTheImageMutex)
{
    const struct {
        const char* datagram;
        int32_t before;
        int32_t seen;
    } rows[] = {
        {"/status?o=77", 0, 77},
        {"/status?x=1&o=-12&o=5", 3, -12},  // the first occurrence wins
        {"/status?o=abc", 3, 3},            // no number: the key is kept
        {"/status?o=99999999999", 3, 3},    // beyond 32 bits: kept
        {"/status?oo=4", 3, 3},
        {"/status", 3, 3},
    };
    for (const auto& row : rows) {
        l_g_requestKey = row.before;
        g_imageLockResult = 0;
        load(row.datagram);
        wsServeDatagram(req_, kTestTable, 4);
        EXPECT_EQ(g_keySeen, row.seen) << row.datagram;
        EXPECT_EQ(g_imageLockResult, EBUSY) << row.datagram;
    }
    // The key of a binary request.
    load(std::string("/calibr?o=41&d=\0\0\x7F", 18));
    wsServeDatagram(req_, kTestTable, 4);
    EXPECT_EQ(g_keySeen, 41);
    // Released after the handler.
    ASSERT_EQ(pthread_mutex_trylock(&o_g_imageMutex), 0);
    pthread_mutex_unlock(&o_g_imageMutex);
}

TEST(WsCallbackTable, HoldsTheFortyThreeNamesWithTheirLengthsAndNoneIsAPrefixOfALaterOne)
{
    EXPECT_STREQ(wsCallback[0].name, "/ident");
    EXPECT_STREQ(wsCallback[9].name, "/tracesScope");
    EXPECT_STREQ(wsCallback[38].name, "/calibr");
    EXPECT_STREQ(wsCallback[kWsCallbackRows - 1].name, "/fpga");
    for (int i = 0; i < kWsCallbackRows; ++i) {
        EXPECT_EQ(wsCallback[i].nameLength, std::strlen(wsCallback[i].name)) << wsCallback[i].name;
        EXPECT_NE(wsCallback[i].handler, nullptr);
        for (int j = i + 1; j < kWsCallbackRows; ++j)
            EXPECT_NE(std::strncmp(wsCallback[j].name, wsCallback[i].name, wsCallback[i].nameLength), 0)
                << wsCallback[i].name << " shadows " << wsCallback[j].name;
    }
}

// ---- query parser ----------------------------------------------------------------------------

TEST_F(WsService, ParserFindsValuesByExactKey)
{
    const struct {
        std::string datagram;
        const char* key;
        int position;  // -1 for null
    } rows[] = {
        {"/x?p0=&p1=5", "p0", 6},   // an empty value starts at the "&"
        {"/x?p0=&p1=5", "p1", 10},
        {"/x?p1=5&p0=", "p0", -1},  // a value that would start at the end
        {"/x?p0=1", "p", -1},       // the byte after the name must be "="
        {"/x?p=1&p=2", "p", 5},     // the first occurrence wins
        {"/x?ab=1&b=2", "b", 10},   // keys start only after "?" or "&"
        {"/x?A=1", "a", -1},
        {"/x?a%3D=1", "a", -1},     // nothing is decoded
        {"/x p=1", "p", -1},        // no "?"
        {"/x?p", "p", -1},
        {"/x?&&p=3", "p", 7},
        {std::string("/calibr?o=1&d=\0\0&k=7", 20), "k", 19},  // NUL bytes inside the datagram
        {std::string("/x?\0p=1", 7), "p", -1},                  // a NUL is no key start
        {std::string("/x?d=\0?&p=2", 11), "p", 10},
    };
    for (const auto& row : rows) {
        load(row.datagram);
        const char* value = wsParser(req_, row.key);
        const int position = value ? static_cast<int>(value - req_->buffer) : -1;
        EXPECT_EQ(position, row.position) << row.datagram << " key " << row.key;
    }
    // Past the received length the cleared buffer is not scanned.
    load("/x?p=1");
    req_->received = 4;
    EXPECT_EQ(wsParser(req_, "p"), nullptr);
}

// ---- setters ---------------------------------------------------------------------------------

struct TPosted {
    int result;
    bool posted;
    int32_t intValue;
    float floatValue;
};

TPosted outcome(int result)
{
    pipe_dial r{};
    TPosted out{result, false, 0, 0.0f};
    if (takePosted(&r)) {
        out.posted = true;
        out.intValue = static_cast<int32_t>(r.intValue);
        out.floatValue = r.floatValue;
        EXPECT_EQ(r.kind, REQ_SET_PARAM);
        EXPECT_EQ(r.code, 321);
        EXPECT_EQ(r.auxValue, 0);
        EXPECT_EQ(r.senderId, senderValue(tWEBSd_id));
    }
    EXPECT_TRUE(o_g_consMessageBox.empty());
    return out;
}

TEST_F(WsService, ParamDirectReadsABase10Integer)
{
    const struct {
        const char* datagram;
        int32_t current;
        int result;
        int32_t value;
    } rows[] = {
        {"/v?k=12", 5, 2, 12},
        {"/v?k=12", 12, 1, 0},
        {"/v?k=-7&z=1", 0, 2, -7},
        {"/v?k=010", 0, 2, 10},  // base 10, not octal
        {"/v?x=3", 0, 0, 0},
        {"/v?k=", 0, 0, 0},
        {"/v?k=&z=1", 0, 0, 0},  // empty: no number
        {"/v?k=abc", 0, 0, 0},
        {"/v?k=2147483647", 0, 2, 2147483647},
        {"/v?k=2147483648", 0, 0, 0},
        {"/v?k=-2147483649", 0, 0, 0},
    };
    for (const auto& row : rows) {
        load(row.datagram);
        const TPosted got = outcome(SetWsParamDirect(req_, "k", 321, row.current));
        EXPECT_EQ(got.result, row.result) << row.datagram;
        EXPECT_EQ(got.posted, row.result == 2) << row.datagram;
        if (got.posted) {
            EXPECT_EQ(got.intValue, row.value) << row.datagram;
        }
    }
}

TEST_F(WsService, FloatDirectComparesAfterRoundingToSinglePrecision)
{
    const struct {
        const char* datagram;
        double current;
        int result;
        float value;
    } rows[] = {
        {"/v?k=0.5", 0.25, 2, 0.5f},
        {"/v?k=0.5", 0.5, 1, 0},
        {"/v?k=0.1", static_cast<double>(0.1f), 1, 0},  // equal once rounded
        {"/v?k=0.1", 0.1, 2, 0.1f},                      // the double differs from the float
        {"/v?k=-1.5e3", 0, 2, -1500.0f},
        {"/v?k=1e30", 0, 2, 1e30f},
        {"/v?k=1e39", 0, 0, 0},  // no single-precision value
        {"/v?k=inf", 0, 0, 0},
        {"/v?k=nan", 0, 0, 0},
        {"/v?k=abc", 0, 0, 0},
        {"/v?k=", 0, 0, 0},
    };
    for (const auto& row : rows) {
        load(row.datagram);
        const TPosted got = outcome(SetWsFloatDirect(req_, "k", 321, row.current));
        EXPECT_EQ(got.result, row.result) << row.datagram;
        EXPECT_EQ(got.posted, row.result == 2) << row.datagram;
        if (got.posted) {
            EXPECT_EQ(got.floatValue, row.value) << row.datagram;
            EXPECT_EQ(got.intValue, 0);
        }
    }
}

TEST_F(WsService, ParamIndirectScalesTruncatesAndOffsets)
{
    const struct {
        const char* datagram;
        int32_t current;
        double scale;
        int32_t offset;
        int result;
        int32_t value;
    } rows[] = {
        {"/v?k=-2.5", 0, 1, 0, 2, -2},  // toward zero
        {"/v?k=2.75", 0, 0.25, 0, 2, 11},
        {"/v?k=0.5", 0, 0.125, 3, 2, 1},
        {"/v?k=1.5", 1, 1, 0, 1, 0},
        {"/v?k=6", 0, -2, -1, 2, -2},
        {"/v?k=5", 0, 0, 0, 0, 0},  // scale 0
        {"/v?k=1e30", 0, 1, 0, 0, 0},
        {"/v?k=2147483647", 0, 1, -1, 0, 0},  // the offset takes it out of range
        {"/v?k=inf", 0, 1, 0, 0, 0},
        {"/v?k=x", 0, 1, 0, 0, 0},
        {"/v?j=1", 0, 1, 0, 0, 0},
    };
    for (const auto& row : rows) {
        load(row.datagram);
        const TPosted got = outcome(SetWsParamIndirect(req_, "k", 321, row.current, row.scale, row.offset));
        EXPECT_EQ(got.result, row.result) << row.datagram;
        EXPECT_EQ(got.posted, row.result == 2) << row.datagram;
        if (got.posted) {
            EXPECT_EQ(got.intValue, row.value) << row.datagram;
        }
    }
}

TEST_F(WsService, StringDirectTakesAtMost49CharactersUpToTheNextKey)
{
    const std::string sixty(60, 'm');
    const struct {
        std::string datagram;
        const char* current;
        int result;
        std::string value;
    } rows[] = {
        {"/v?k=mV&z=1", "V", 2, "mV"},
        {"/v?k=mV", "mV", 1, ""},
        {"/v?k=+", "V", 2, ""},     // "+" is empty
        {"/v?k=+abc", "V", 2, ""},
        {"/v?k=+", "", 1, ""},
        {"/v?k=&z", "V", 2, ""},
        {"/v?k=" + sixty, "", 2, sixty.substr(0, 49)},
        {"/v?k=a%20b", "", 2, "a%20b"},
        {"/v?z=1", "", 0, ""},
    };
    for (const auto& row : rows) {
        load(row.datagram);
        pipe_dial r{};
        const int result = SetWsStringDirect(req_, "k", 321, row.current);
        EXPECT_EQ(result, row.result) << row.datagram;
        const bool posted = takePosted(&r);
        EXPECT_EQ(posted, row.result == 2) << row.datagram;
        if (posted) {
            EXPECT_EQ(r.code, 321);
            EXPECT_EQ(r.floatValue, 0.0f);
            EXPECT_EQ(r.senderId, senderValue(tWEBSd_id));
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.intValue)), row.value) << row.datagram;
        }
    }
}

// Each post keeps its own text until the controller takes it, even after later datagrams.
TEST_F(WsService, StringPostsKeepTheirOwnTextsUntilTaken)
{
    const std::vector<std::string> units = {"mV", "A", "W", "kOhm"};
    for (int round = 0; round < 3; ++round) {  // wraps the storage more than once
        for (int i = 0; i < 100; ++i) {
            load("/v?k=" + units[static_cast<size_t>(i) % units.size()] + std::to_string(i));
            ASSERT_EQ(SetWsStringDirect(req_, "k", 321, ""), 2);
            if (i >= kWsInboxGuard) {
                // The flood guard: nothing more is queued once the box holds over 64 records.
                EXPECT_EQ(o_g_consMessageBox.count(), kWsInboxGuard + 1);
            }
        }
        for (int i = 0; i <= kWsInboxGuard; ++i) {
            pipe_dial r{};
            ASSERT_TRUE(takePosted(&r));
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.intValue)),
                      units[static_cast<size_t>(i) % units.size()] + std::to_string(i));
        }
        EXPECT_TRUE(o_g_consMessageBox.empty());
    }
}

TEST_F(WsService, SettersPostNothingWhileTheInboxIsCrowded)
{
    pipe_dial local{REQ_SET_PARAM, 1, 0, 0, 0.0f, kSenderUserInterface};
    for (int i = 0; i < kWsInboxGuard; ++i)
        ASSERT_EQ(o_g_consMessageBox.send(&local), 0);
    load("/v?k=5");
    EXPECT_EQ(SetWsParamDirect(req_, "k", 321, 0), 2);  // at 64: still posted
    EXPECT_EQ(o_g_consMessageBox.count(), kWsInboxGuard + 1);
    EXPECT_EQ(SetWsParamDirect(req_, "k", 321, 0), 2);
    EXPECT_EQ(SetWsFloatDirect(req_, "k", 321, 0), 2);
    EXPECT_EQ(SetWsParamIndirect(req_, "k", 321, 0, 1, 0), 2);
    EXPECT_EQ(o_g_consMessageBox.count(), kWsInboxGuard + 1);
    // Local input still finds room.
    EXPECT_EQ(o_g_consMessageBox.send(&local), 0);
}

// ---- start of the thread and replies ---------------------------------------------------------

// From the state of a program just started, and back to it after.
class WsServiceStart : public ::testing::Test {
protected:
    void SetUp() override { backToStart(); }
    void TearDown() override { backToStart(); }
    static void backToStart()
    {
        l_g_requestKey = 0;
        l_g_requestKeyOrigin = 0;
        resetWsStatusCache();
    }
};

TEST_F(WsServiceStart, ResetsTheKeyDrawsTheOriginAndInitialisesTheStatus)
{
    l_g_requestKey = 55;
    setPelanodePassfailCounter(QStringLiteral("1 / 2"));
    wsServiceInit();
    EXPECT_EQ(l_g_requestKey.load(), 0);
    const int32_t origin = l_g_requestKeyOrigin.load();
    EXPECT_EQ(origin & 0xFFFF, 0);
    EXPECT_GE(origin, 0);  // below 2^31
    std::string trigger, misc1, misc2, battery, warning, passfail;
    getPelanodeStatus(trigger, misc1, misc2, battery, warning, passfail);
    EXPECT_EQ(trigger + misc1 + misc2 + battery + warning, "+++++");
    EXPECT_EQ(passfail, "1 / 2");
}

TEST_F(WsService, RepliesLeaveInDatagramsOfAtMost50000Bytes)
{
    std::string reply(150001, '\0');
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>('a' + i % 26);
    const struct {
        int32_t length;
        std::vector<size_t> sizes;
    } rows[] = {
        {120000, {50000, 50000, 20000}},
        {100000, {50000, 50000}},  // no empty datagram after an exact multiple
        {50001, {50000, 1}},
        {3, {3}},
        {0, {}},
    };
    for (const auto& row : rows) {
        load("/x");
        const ssize_t last = wsResponseSend(req_, reply.data(), row.length);
        const std::vector<std::string> got = client_.drain(100);
        std::vector<size_t> sizes;
        std::string joined;
        for (const std::string& d : got) {
            sizes.push_back(d.size());
            joined += d;
        }
        EXPECT_EQ(sizes, row.sizes) << row.length;
        EXPECT_EQ(joined, reply.substr(0, static_cast<size_t>(row.length)));
        EXPECT_EQ(last, row.sizes.empty() ? 0 : static_cast<ssize_t>(row.sizes.back()));
    }
    // A failed send ends the reply and is reported.
    load("/x");
    req_->socket = -1;
    EXPECT_LT(wsResponseSend(req_, reply.data(), 120000), 0);
    req_->socket = server_;
}

// The service thread itself: a port held by someone else is retried after a pause, never in a
// busy loop, and served once it is free.
class WsServiceThread : public SimBoardTest {
protected:
    void TearDown() override
    {
        stop_ = true;
        if (service_.joinable())
            service_.join();
        setPauseHook(nullptr);
        SimBoardTest::TearDown();
    }

    std::thread service_;
    std::atomic<bool> stop_{false};
    // Members: the thread may pause until TearDown stops it.
    std::atomic<int> pauses_{0};
    std::atomic<int> longest_{0};
};

TEST_F(WsServiceThread, RetriesABusyPortAfterAPauseAndThenServes)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kWsPort)));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    const int blocker = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    setPauseHook([this](int ms) {
        pauses_.fetch_add(1);
        if (ms > longest_.load())
            longest_.store(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    service_ = std::thread([this] {
        wsServiceInit();
        wsServiceRun(stop_);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pauses_.load() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(pauses_.load(), 3);
    EXPECT_GE(longest_.load(), 1000);  // seconds apart on the instrument
    ::close(blocker);

    TWsTestClient client;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    client.target(addr);
    std::vector<std::string> got;
    while (got.empty() && std::chrono::steady_clock::now() < deadline) {
        client.send("/nothing");
        got = client.drain(50);
    }
    EXPECT_EQ(got, std::vector<std::string>{"-1,"});
}

TEST(WsReply, FollowsTheFieldConvention)
{
    char buffer[64];
    TWsReply r(buffer, sizeof buffer);
    r.integer(3).real(0.5).real(1e-5).real(100).real(1.5e6).text("").text("12 \xCE\xBCV").text(nullptr);
    EXPECT_EQ(std::string(r.data(), static_cast<size_t>(r.size())), "3,0.5,1e-05,100,1.5e+06,+,12 uV,+,");
    EXPECT_FALSE(r.overflow());

    TWsReply integers(buffer, sizeof buffer);
    integers.integer(0).integer(-12).integer(INT64_MIN).integer(4294967295u);
    EXPECT_EQ(std::string(integers.data(), static_cast<size_t>(integers.size())),
              "0,-12,-9223372036854775808,4294967295,");

    char small[8];
    TWsReply full(small, sizeof small);
    full.text("1234567").text("x");
    EXPECT_TRUE(full.overflow());
    EXPECT_LE(full.size(), 8);
}

class WsReplyLocale : public SimBoardTest {};

TEST_F(WsReplyLocale, RealsUseAPointWhateverTheLocale)
{
    char text[32] = "";
    {
        TDecimalCommaNumeric comma(root_ + "/locale");
        ASSERT_TRUE(comma.ok()) << "no decimal-comma locale could be had (package locales)";
        char native[32];
        std::snprintf(native, sizeof native, "%.1f", 2.5);
        ASSERT_STREQ(native, "2,5");  // the locale really writes a comma
        wsFormatReal(2.5, text, sizeof text);
    }
    EXPECT_STREQ(text, "2.5");
}

} // namespace
