// The SCPI transports of a running benchview on a simulated board of the test's own.
#include "board/board.h"
#include "tests/scpi/benchview_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Generous: start-up under the sanitizers on a loaded machine.
constexpr auto kStartTimeout = 60s;

using BenchviewScpi = BenchviewScpiTest;

TEST_F(BenchviewScpi, FourSessionsAtOnceAndAFifthIsClosedAtOnce)
{
    start();
    ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", kStartTimeout)) << process_.log();
    int clients[4];
    for (int i = 0; i < 4; ++i) {
        clients[i] = connectClient();
        ASSERT_GE(clients[i], 0) << process_.log();
        // Accepted and running before the next one comes.
        ASSERT_TRUE(process_.waitForThread("tSCPI" + std::to_string(i + 1), 5s)) << i;
    }
    int fifth = connectClient();
    ASSERT_GE(fifth, 0);
    EXPECT_EQ(readToEnd(fifth, 5000), 0);  // closed with nothing sent
    for (int fd : clients) {
        EXPECT_TRUE(staysQuiet(fd, 50));  // still connected
        EXPECT_TRUE(writeAll(fd, "*IDN?\n"));
    }
    EXPECT_TRUE(process_.threads("tSCPI5").empty());

    // A slot that frees up is served again.
    ::close(clients[0]);
    fds_.erase(fds_.begin());
    ASSERT_TRUE(waitUntil([&] { return process_.threads("tSCPI1").empty(); }));
    int sixth = connectClient();
    ASSERT_GE(sixth, 0);
    EXPECT_TRUE(process_.waitForThread("tSCPI5", 5s));
    EXPECT_TRUE(staysQuiet(sixth, 100));
    EXPECT_TRUE(process_.running());
}

// Sent without waiting for the peer: a client that was refused must not end the test.
bool sendAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string queries(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "*IDN?\n";
    return text;
}

// A client that floods queries and never reads holds nobody up: more replies than the kernel
// buffers for it, fewer than its reply queue adds. Once its replies have not moved for the send
// time-out it is dropped: its connection is reset.
TEST_F(BenchviewScpi, ClientThatNeverReadsHoldsNobodyUpAndIsDropped)
{
    start({"BENCHVIEW_SCPI_SEND_TIMEOUT_MS=3000"});
    ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", kStartTimeout)) << process_.log();
    int silent = connectScpi(10000, 2048);
    ASSERT_GE(silent, 0);
    fds_.push_back(silent);
    // About 6 MB of replies.
    std::thread flood([&] { sendAll(silent, queries(200000)); });

    for (int round = 0; round < 6; ++round) {
        std::this_thread::sleep_for(round == 0 ? 1500ms : 700ms);
        int other = connectClient();
        ASSERT_GE(other, 0);
        ASSERT_TRUE(writeAll(other, "*IDN?\n"));
        std::string reply;
        EXPECT_TRUE(readReplies(other, 1, &reply, 1000)) << round;
        ::close(other);
        fds_.pop_back();
    }
    // Watched without reading (reading would move its replies): the reset arrives.
    EXPECT_TRUE(waitUntil(
        [&] {
            pollfd p{silent, POLLRDHUP, 0};
            return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
        },
        30000))
        << "still served";
    ::shutdown(silent, SHUT_RDWR);
    flood.join();
    EXPECT_TRUE(process_.running());
}

// Six clients that ask fifty times and go without reading, at once followed by a normal
// client: that client connects at once and gets its reply, every time.
TEST_F(BenchviewScpi, ClientsLeavingFastGiveTheirSlotsBackAtOnce)
{
    start();
    ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", kStartTimeout)) << process_.log();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 6; ++i) {
            int fast = connectScpi(5000);
            ASSERT_GE(fast, 0);
            sendAll(fast, queries(50));
            ::close(fast);
        }
        const auto before = std::chrono::steady_clock::now();
        int normal = connectScpi(5000);
        ASSERT_GE(normal, 0);
        fds_.push_back(normal);
        // In the kernel's queue at once, not after a refused first try.
        EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
        ASSERT_TRUE(writeAll(normal, "*IDN?\n"));
        std::string reply;
        EXPECT_TRUE(readReplies(normal, 1, &reply, 5000));
        ::close(normal);
        fds_.pop_back();
    }
    EXPECT_TRUE(process_.running());
}

TEST_F(BenchviewScpi, PortTakenAtStartIsRetriedWithoutSpinningUntilItIsFree)
{
    // Hold the SCPI port before the program starts.
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    int one = 1;
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kScpiPort)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    start({"BENCHVIEW_SCPI_RETRY_MS=100"});
    ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", kStartTimeout)) << process_.log();
    std::string manager = process_.threads("scpiMgrTcp").front();
    long before = process_.threadCpuTicks(manager);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    long used = process_.threadCpuTicks(manager) - before;
    EXPECT_LE(used, 10) << "the manager spins while the port is taken";

    ::close(holder);
    int fd = connectClient();
    ASSERT_GE(fd, 0) << process_.log();
    EXPECT_TRUE(process_.waitForThread("tSCPI1", 5s));
    EXPECT_TRUE(process_.running());
}

} // namespace
