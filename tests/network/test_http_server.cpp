// The HTTP server thread in this process: the screen-saver wake and the listening set-up.
#include "tests/network/http_test_client.h"
#include "tests/support/simboardtest.h"

#include "core/command.h"
#include "core/process.h"
#include "core/requests.h"
#include "network/serverHTTP.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace {

class HttpServerThread : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        savedLoopbackOnly_ = httpListenLoopbackOnly();
        savedRetryMs_ = httpRetryDelayMs();
        setHttpListenLoopbackOnly(true);
    }
    void TearDown() override
    {
        stopServer();
        ScreenSaverActif = 0;
        while (o_g_consMessageBox.count() > 0)
            nextPost();
        setHttpRetryDelayMs(savedRetryMs_);
        setHttpListenLoopbackOnly(savedLoopbackOnly_);
        SimBoardTest::TearDown();
    }

    void startServer()
    {
        stop_ = false;
        server_ = std::thread([this] { httpServerRun(stop_); });
    }
    // Returns once the listening socket is closed and every session has ended.
    void stopServer()
    {
        stop_ = true;
        if (server_.joinable())
            server_.join();
    }

    // The next record of the controller's inbox, or kind 0xFFFF when none came.
    static pipe_dial nextPost()
    {
        pipe_dial p{0xFFFF, 0, 0, 0, 0.0f, 0};
        o_g_consMessageBox.receive(&p, true, 5);
        return p;
    }

    // A marker behind everything the server may have posted so far.
    static void postMarker(int32_t code)
    {
        pipe_dial marker{0, code, 0, 0, 0.0f, 0};
        ASSERT_EQ(o_g_consMessageBox.send(&marker), 0);
    }

    std::thread server_;
    std::atomic<bool> stop_{false};
    bool savedLoopbackOnly_ = false;
    int savedRetryMs_ = 0;
};

TEST_F(HttpServerThread, AConnectionWakesTheScreenSaverOnce)
{
    startServer();
    ScreenSaverActif = 1;
    THttpTestClient c;
    ASSERT_TRUE(c.connect());
    THttpReply r;
    ASSERT_TRUE(c.get("/favicon.ico", r));
    ASSERT_TRUE(c.get("/index.html", r));
    postMarker(1);
    pipe_dial wake = nextPost();
    EXPECT_EQ(wake.kind, REQ_SCREEN_SAVER);
    EXPECT_EQ(wake.code, 3);
    EXPECT_EQ(wake.auxValue, 0);
    EXPECT_EQ(wake.intValue, 0);
    EXPECT_EQ(wake.floatValue, 0.0f);
    EXPECT_EQ(wake.senderId, -1);
    EXPECT_EQ(nextPost().code, 1) << "one wake per connection, not per request";

    // Screen saver off: nothing is posted.
    ScreenSaverActif = 0;
    THttpTestClient d;
    ASSERT_TRUE(d.connect());
    ASSERT_TRUE(d.get("/favicon.ico", r));
    postMarker(2);
    pipe_dial next = nextPost();
    EXPECT_EQ(next.kind, 0);
    EXPECT_EQ(next.code, 2);
}

TEST_F(HttpServerThread, HeldPortIsRetriedWithoutSpinningUntilItIsFree)
{
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    // Connections of an earlier server on the port may linger in TIME_WAIT; a listener holds it.
    int one = 1;
    ASSERT_EQ(::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one), 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kHttpPort)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    setHttpRetryDelayMs(50);
    startServer();
    clockid_t serverClock;
    ASSERT_EQ(pthread_getcpuclockid(server_.native_handle(), &serverClock), 0);
    timespec before{}, after{};
    clock_gettime(serverClock, &before);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    clock_gettime(serverClock, &after);
    double used = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(used, 0.05) << "the server spins while the port is held";

    ::close(holder);
    THttpTestClient c;
    ASSERT_TRUE(c.connect());
    THttpReply r;
    ASSERT_TRUE(c.get("/favicon.ico", r));
    EXPECT_EQ(r.status, 200);
}

} // namespace
