// The SCPI transports of a running benchview on a simulated board of the test's own.
#include "board/board.h"
#include "tests/scpi/benchview_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

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
