// The web service of a running benchview, over loopback UDP, on a simulated board of the
// test's own.
#include "network/pelanodeInterface.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

class BenchviewWebService : public SimBoardTest {
protected:
    void TearDown() override
    {
        if (client_ >= 0)
            ::close(client_);
        process_.kill();  // before the root goes
        SimBoardTest::TearDown();
    }

    // Starts the program and waits until its web service answers.
    void start()
    {
        auto options = BenchviewProcess::Options::headless(root_, portOffset_);
        options.environment.push_back("BENCHVIEW_SCPI_LOOPBACK_ONLY=1");
        options.environment.push_back("BENCHVIEW_HTTP_LOOPBACK_ONLY=1");
        options.environment.push_back("BENCHVIEW_WS_LOOPBACK_ONLY=1");
        ASSERT_TRUE(process_.start(BENCHVIEW_EXE, options));

        client_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(client_, 0);
        const int size = 1 << 20;  // 50000-byte replies need room
        ::setsockopt(client_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        service_ = sockaddr_in{};
        service_.sin_family = AF_INET;
        service_.sin_port = htons(static_cast<uint16_t>(kWsPort + portOffset_));
        service_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

        // Generous: start-up under the sanitizers on a loaded machine.
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            send("/nothing");
            if (!receive(200).empty())
                return;
            ASSERT_TRUE(process_.running()) << process_.log();
        }
        FAIL() << "no answer from the web service\n" << process_.log();
    }

    void send(const std::string& datagram)
    {
        ::sendto(client_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&service_),
                 sizeof service_);
    }

    // The datagrams that arrive until `quietMs` pass without one; the first is awaited up to
    // `firstMs`.
    std::vector<std::string> receive(int quietMs, int firstMs = -1)
    {
        std::vector<std::string> out;
        std::vector<char> buf(70000);
        for (;;) {
            pollfd p{client_, POLLIN, 0};
            if (::poll(&p, 1, out.empty() && firstMs > 0 ? firstMs : quietMs) <= 0)
                return out;
            const ssize_t n = ::recv(client_, buf.data(), buf.size(), 0);
            if (n < 0)
                return out;
            out.emplace_back(buf.data(), static_cast<size_t>(n));
        }
    }

    // One request, one answer awaited generously; empty when none came.
    std::string exchange(const std::string& datagram)
    {
        send(datagram);
        const std::vector<std::string> got = receive(50, 10000);
        return got.size() == 1 ? got[0] : std::string("<" + std::to_string(got.size()) + " datagrams>");
    }

    BenchviewProcess process_;
    int client_ = -1;
    sockaddr_in service_{};
};

TEST_F(BenchviewWebService, AnswersUnknownAndNotYetServedNamesWithMinusOne)
{
    start();
    EXPECT_EQ(exchange("/nothing"), "-1,");
    // Every row of the table: its handler is not there yet.
    for (const TWsCallback& row : wsCallback)
        EXPECT_EQ(exchange(std::string(row.name) + "?o=12"), "-1,") << row.name;
    EXPECT_EQ(exchange("/identify"), "-1,");

    // An empty datagram gets no reply; the next request is answered as usual.
    send("");
    EXPECT_TRUE(receive(300).empty());
    EXPECT_EQ(exchange("/status"), "-1,");

    // An over-long request is refused whole, not cut and served.
    EXPECT_EQ(exchange("/status?o=1&x=" + std::string(4000, 'x')), "-1,");
    EXPECT_EQ(exchange("/status?o=1&x=" + std::string(kWsDatagramMax - 14, 'x')), "-1,");
}

TEST_F(BenchviewWebService, SurvivesABurstOfBadDatagrams)
{
    start();
    std::string binary(2000, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 37);
    const std::vector<std::string> bad = {
        "",
        binary,
        "/calibr?o=" + binary,
        "/status?o=99999999999999999999&o=abc",
        "/savefile?" + std::string(2998, '&'),
        std::string(20000, '/'),
        "?=&=&",
        std::string("/list\0\0\0", 8),
    };
    for (int round = 0; round < 50; ++round)
        for (const std::string& datagram : bad)
            send(datagram);
    receive(500);  // what was answered, as far as the socket kept it
    ASSERT_TRUE(process_.running()) << process_.log();
    EXPECT_EQ(exchange("/nothing"), "-1,");
}

} // namespace
