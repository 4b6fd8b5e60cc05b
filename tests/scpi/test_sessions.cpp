#include "board/board.h"
#include "core/process.h"
#include "scpi/io.h"
#include "tests/scpi/scpi_consumer.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <thread>

namespace {

class ScpiSessions : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        retryDelayMs_ = scpiRetryDelayMs();
        sendTimeoutMs_ = scpiSendTimeoutMs();
        idleTakeoverMs_ = scpiIdleTakeoverMs();
        setScpiListenLoopbackOnly(true);
        setScpiRetryDelayMs(30);
        setScpiSendTimeoutMs(300);
    }

    // The managers and sessions of this test's board end with it.
    void TearDown() override
    {
        for (int fd : fds_)
            ::close(fd);
        stopScpiTransports();
        setScpiRetryDelayMs(retryDelayMs_);
        setScpiSendTimeoutMs(sendTimeoutMs_);
        setScpiIdleTakeoverMs(idleTakeoverMs_);
        SimBoardTest::TearDown();
    }

    int client(int receiveBuffer = 0)
    {
        startScpiOverTcp();
        int fd = connectScpi(5000, receiveBuffer);
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }

    std::string usbLink() const { return hostPath("/dev/ttyGS0.host"); }

    // Opens the host end of the simulated gadget once the manager has published it.
    int usbHost()
    {
        startScpiOverUsb();
        std::string link = usbLink();
        if (!waitUntil([&] { return ::access(link.c_str(), F_OK) == 0; }))
            return -1;
        // The host's side is left as the gadget set it: the pair shares one set of settings.
        int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }

    void forget(int fd)
    {
        for (int& f : fds_) {
            if (f == fd)
                f = -1;
        }
    }

    std::vector<int> fds_;
    int retryDelayMs_ = 0;
    int sendTimeoutMs_ = 0;
    int idleTakeoverMs_ = 0;
};

// Answers "<first character>:<length>:<1 when every byte is that character>".
void uniformity(const std::string& line, TConsumedLine& rec)
{
    bool same = line.find_first_not_of(line[0]) == std::string::npos;
    rec.putResult = TTestConsumer::reply(std::string(1, line[0]) + ":" + std::to_string(line.size()) + ":" +
                                         (same ? "1" : "0") + "\n\r");
}

TEST_F(ScpiSessions, InterleavedPiecesFromTwoTcpClientsAndUsbStayWholeAndAnswersGoHome)
{
    int a = client();
    int b = client();
    int usb = usbHost();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_GE(usb, 0);
    TTestConsumer consumer(uniformity);

    // Three lines of 1000 bytes per client, sent in 200-byte pieces taking turns.
    const std::map<int, char> who{{a, 'A'}, {b, 'B'}, {usb, 'U'}};
    for (int line = 0; line < 3; ++line) {
        for (int piece = 0; piece < 5; ++piece) {
            for (const auto& w : who) {
                std::string chunk(200, w.second);
                if (piece == 4)
                    chunk.back() = '\n';
                ASSERT_TRUE(writeAll(w.first, chunk));
            }
        }
    }
    for (const auto& w : who) {
        std::string replies;
        ASSERT_TRUE(readReplies(w.first, 3, &replies)) << w.second << ": " << replies;
        std::string one = std::string(1, w.second) + ":999:1\n\r";
        EXPECT_EQ(replies, one + one + one) << w.second;
    }
    ASSERT_TRUE(consumer.waitForLines(9));
    for (const TConsumedLine& l : consumer.lines()) {
        EXPECT_EQ(l.getResult, kGetCharOk);
        EXPECT_EQ(l.putResult, 0);
        EXPECT_EQ(l.terminator, '\n');
        if (l.text[0] == 'U') {
            EXPECT_EQ(l.origin, kOriginUsb);
            EXPECT_EQ(l.lanSocket, 0);
        } else {
            EXPECT_EQ(l.origin, kOriginTcp);
            EXPECT_NE(l.lanSocket, 0);
        }
    }
    EXPECT_EQ(s_g_nLanSessions.load(), 2);
}

// Four connections that hold their slots: a fifth client is refused while they are busy, but
// once one of them has been idle for the take-over bound (no input, no reply pending) it gives
// its place to the newcomer. The others are served as before.
TEST_F(ScpiSessions, AnIdleSessionGivesItsPlaceToANewClient)
{
    setScpiIdleTakeoverMs(400);
    TTestConsumer consumer;
    std::vector<int> four;
    for (int i = 0; i < kScpiMaxLanSessions; ++i) {
        four.push_back(client());
        ASSERT_GE(four.back(), 0);
    }
    ASSERT_TRUE(waitUntil([] { return s_g_nLanSessions.load() == kScpiMaxLanSessions; }));
    // Nobody idle long enough yet: the fifth is accepted and closed at once.
    const int early = client();
    ASSERT_GE(early, 0);
    EXPECT_EQ(readToEnd(early, 2000), 0);

    // The first stays silent; the others keep talking.
    std::string replies;
    for (int round = 0; round < 6; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (size_t i = 1; i < four.size(); ++i) {
            replies.clear();
            ASSERT_TRUE(writeAll(four[i], "busy\n"));
            ASSERT_TRUE(readReplies(four[i], 1, &replies));
        }
    }
    const int late = client();
    ASSERT_GE(late, 0);
    replies.clear();
    ASSERT_TRUE(writeAll(late, "new\n"));
    ASSERT_TRUE(readReplies(late, 1, &replies)) << replies;
    EXPECT_EQ(replies, "echo:new\n\r");
    EXPECT_EQ(readToEnd(four[0], 2000), 0) << "the idle session is closed";
    for (size_t i = 1; i < four.size(); ++i) {
        replies.clear();
        ASSERT_TRUE(writeAll(four[i], "still\n"));
        ASSERT_TRUE(readReplies(four[i], 1, &replies));
        EXPECT_EQ(replies, "echo:still\n\r");
    }
    EXPECT_EQ(s_g_nLanSessions.load(), kScpiMaxLanSessions);
}

TEST_F(ScpiSessions, SessionsAreServedInTurnAndMacroInputFirst)
{
    TScpiMemorySession x, y, z;
    x.send("x1\nx2\nx3\n");
    y.send("y1\ny2\n");
    z.send("z1\nz2\nz3\n");
    scpiPutMacroInput("m1\nm2\n", 6);
    TTestConsumer consumer;
    ASSERT_TRUE(consumer.waitForLines(10));
    std::string order;
    for (const TConsumedLine& l : consumer.lines())
        order += l.text + " ";
    EXPECT_EQ(order, "m1 m2 x1 y1 z1 x2 y2 z2 x3 z3 ");
    EXPECT_EQ(x.replies(), "echo:x1\n\recho:x2\n\recho:x3\n\r");
    EXPECT_EQ(y.replies(), "echo:y1\n\recho:y2\n\r");
    for (const TConsumedLine& l : consumer.lines()) {
        if (l.text[0] == 'm') {
            EXPECT_EQ(l.origin, kOriginMacro);
            EXPECT_EQ(l.putResult, 0);  // taken, never sent
        }
    }
}

TEST_F(ScpiSessions, ClientSilentInsideALineHoldsNobody)
{
    int a = client();
    int b = client();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    TTestConsumer consumer;
    ASSERT_TRUE(writeAll(a, "first half"));
    ASSERT_TRUE(writeAll(b, "whole\n"));
    std::string replies;
    ASSERT_TRUE(readReplies(b, 1, &replies));
    EXPECT_EQ(replies, "echo:whole\n\r");
    ASSERT_TRUE(writeAll(a, " and the rest\r\n"));  // CR ends it, LF is an empty unit
    replies.clear();
    ASSERT_TRUE(readReplies(a, 1, &replies));
    EXPECT_EQ(replies, "echo:first half and the rest\n\r");
    EXPECT_TRUE(staysQuiet(a, 50));
}

TEST_F(ScpiSessions, SessionEndingInsideItsLineEndsThatMessage)
{
    int a = client();
    ASSERT_GE(a, 0);
    TTestConsumer consumer;
    ASSERT_TRUE(writeAll(a, "ONE\nHALF"));
    ::shutdown(a, SHUT_WR);
    ASSERT_TRUE(consumer.waitForLines(2));
    std::vector<TConsumedLine> lines = consumer.lines();
    EXPECT_EQ(lines[0].text, "ONE");
    EXPECT_EQ(lines[1].text, "HALF");
    EXPECT_EQ(lines[1].getResult, kGetCharEnded);
    EXPECT_EQ(lines[1].terminator, '\n');
    EXPECT_EQ(lines[1].putResult, -1);  // the reply to an ended session is dropped
    EXPECT_TRUE(waitUntil([] { return s_g_nLanSessions.load() == 0; }));

    int b = client();
    ASSERT_GE(b, 0);
    ASSERT_TRUE(writeAll(b, "NEXT\n"));
    std::string replies;
    ASSERT_TRUE(readReplies(b, 1, &replies));
    EXPECT_EQ(replies, "echo:NEXT\n\r");
}

// "BIG" is answered with up to 512 MiB in 1 MiB replies, stopping at the first that fails.
void bigReply(const std::string& line, TConsumedLine& rec)
{
    if (line != "BIG") {
        rec.putResult = TTestConsumer::reply("echo:" + line + "\n\r");
        return;
    }
    static const std::string chunk(1 << 20, 'z');
    for (int i = 0; i < 512; ++i) {
        rec.putResult = TTestConsumer::reply(chunk);
        if (rec.putResult != 0)
            return;
    }
}

TEST_F(ScpiSessions, ClientLeavingDuringALargeReplyLeavesTheProcessAlive)
{
    int a = client();
    ASSERT_GE(a, 0);
    TTestConsumer consumer(bigReply);
    ASSERT_TRUE(writeAll(a, "BIG\n"));
    char some[4096];
    pollfd p{a, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    ASSERT_GT(::read(a, some, sizeof some), 0);
    // Reset, not a polite close: the next write of the reply meets a dead peer.
    linger hard{1, 0};
    ::setsockopt(a, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(a);
    forget(a);
    ASSERT_TRUE(consumer.waitForLines(1));
    EXPECT_EQ(consumer.lines()[0].putResult, -1);

    int b = client();
    ASSERT_GE(b, 0);
    ASSERT_TRUE(writeAll(b, "PING\n"));
    std::string replies;
    ASSERT_TRUE(readReplies(b, 1, &replies));
    EXPECT_EQ(replies, "echo:PING\n\r");
}

TEST_F(ScpiSessions, ClientThatStopsReadingIsDroppedAfterTheSendTimeOut)
{
    int a = client(4096);
    int b = client();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    TTestConsumer consumer(bigReply);
    ASSERT_TRUE(writeAll(a, "BIG\n"));
    ASSERT_TRUE(writeAll(b, "PING\n"));  // waits behind the stuck reply
    std::string replies;
    ASSERT_TRUE(readReplies(b, 1, &replies, 10000));
    EXPECT_EQ(replies, "echo:PING\n\r");
    ASSERT_TRUE(consumer.waitForLines(2));
    for (const TConsumedLine& l : consumer.lines()) {
        if (l.text == "BIG") {
            EXPECT_EQ(l.putResult, -1);
        }
    }
    // The dropped client's connection ends; the other one goes on.
    EXPECT_GE(readToEnd(a, 10000), 0);
    EXPECT_TRUE(waitUntil([] { return s_g_nLanSessions.load() == 1; }));
    ASSERT_TRUE(writeAll(b, "AGAIN\n"));
    replies.clear();
    ASSERT_TRUE(readReplies(b, 1, &replies));
    EXPECT_EQ(replies, "echo:AGAIN\n\r");
}

TEST_F(ScpiSessions, UsbIsRawBothWays)
{
    int usb = usbHost();
    ASSERT_GE(usb, 0);
    // Answer with the exact bytes of the line and its terminator, then "\n\r".
    TTestConsumer consumer([](const std::string& line, TConsumedLine& rec) {
        rec.putResult = TTestConsumer::reply("<" + line + std::string(1, static_cast<char>(rec.terminator)) + ">\n\r");
    });
    ASSERT_TRUE(writeAll(usb, std::string("a\xff" "b\r") + "c\xff\n"));
    std::string replies;
    ASSERT_TRUE(readReplies(usb, 2, &replies));
    // No echo in front, CR not turned into LF, LF not turned into CR LF, 0xFF intact.
    EXPECT_EQ(replies, std::string("<a\xff" "b\r>\n\r<c\xff\n>\n\r"));
    EXPECT_TRUE(staysQuiet(usb, 50));
    EXPECT_NE(i_g_usbFd.load(), 0);
}

TEST_F(ScpiSessions, ClosingTheUsbHostEndsTheSessionAndTheRenewedLinkIsServed)
{
    int usb = usbHost();
    ASSERT_GE(usb, 0);
    TTestConsumer consumer;
    ASSERT_TRUE(writeAll(usb, "one\n"));
    std::string replies;
    ASSERT_TRUE(readReplies(usb, 1, &replies));
    EXPECT_EQ(replies, "echo:one\n\r");

    struct stat before;
    ASSERT_EQ(::lstat(usbLink().c_str(), &before), 0);
    ::close(usb);  // the cable is pulled
    forget(usb);
    // The manager opens a new pair after its pause and renews the link.
    ASSERT_TRUE(waitUntil([&] {
        struct stat now;
        return ::lstat(usbLink().c_str(), &now) == 0 && now.st_ino != before.st_ino && i_g_usbFd.load() != 0;
    }));
    int again = ::open(usbLink().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(again, 0);
    fds_.push_back(again);
    ASSERT_TRUE(writeAll(again, "two\n"));
    replies.clear();
    ASSERT_TRUE(readReplies(again, 1, &replies));
    EXPECT_EQ(replies, "echo:two\n\r");
}

// The pause that timed a block out ends it: what came before is gone with the message, the next
// line is read whole and answered (no line of the client is dropped for the block's sake).
TEST_F(ScpiSessions, TimedReadReportsAStalledMessageAndTheNextLineIsReadWhole)
{
    TScpiMemorySession s;
    // Longer than the queue, without a line end: taken because its writer waits for room.
    std::thread writer([&] { s.send(std::string(9000, 'x')); });
    size_t bytes = 0;
    unsigned char c;
    int r;
    // The pause that ends the message must outlast a writer descheduled on a loaded host: were
    // it to end before the writer's last chunk, that chunk would wait for room for ever.
    while ((r = GetCharacterTimed(&c, 1000)) == kGetCharOk)
        ++bytes;
    writer.join();
    EXPECT_EQ(r, kGetCharTimedOut);
    EXPECT_EQ(c, '\n');
    EXPECT_EQ(bytes, 9000u);
    EXPECT_EQ(GetCharacterTimed(&c, 0), kGetCharTimedOut);  // until the message ends
    scpiEndOfMessage();

    s.send("next\n");
    std::string line;
    while (GetCharacter(&c) == kGetCharOk && c != '\n')
        line += static_cast<char>(c);
    EXPECT_EQ(line, "next");
    scpiEndOfMessage();

    // A timed read with nothing bound and nothing waiting.
    EXPECT_EQ(GetCharacterTimed(&c, 20), kGetCharTimedOut);
    scpiEndOfMessage();
}

TEST_F(ScpiSessions, ThroughputOfOneSessionQueue)
{
    TScpiMemorySession s;
    constexpr size_t kTotal = 1 << 20;
    std::thread writer([&] {
        std::string chunk(200, 'q');
        for (size_t sent = 0; sent < kTotal; sent += chunk.size())
            s.send(chunk.data(), std::min(chunk.size(), kTotal - sent));
        s.end();
    });
    size_t bytes = 0;
    unsigned char c;
    while (GetCharacter(&c) == kGetCharOk)
        ++bytes;
    writer.join();
    EXPECT_EQ(bytes, kTotal);
    scpiEndOfMessage();
}

} // namespace
