// The discovery responder of a running benchview, over loopback UDP, on a simulated board of
// the test's own.
#include "core/setup.h"
#include "tests/network/admin_test_client.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace {

const std::string kMac = "02-42-56-00-02-0a";

class BenchviewDiscovery : public SimBoardTest {
protected:
    void TearDown() override
    {
        process_.kill();  // before the root goes
        SimBoardTest::TearDown();
    }

    void start()
    {
        auto options = BenchviewProcess::Options::headless(root_, portOffset_);
        options.environment.push_back("BENCHVIEW_SCPI_LOOPBACK_ONLY=1");
        options.environment.push_back("BENCHVIEW_HTTP_LOOPBACK_ONLY=1");
        options.environment.push_back("BENCHVIEW_WS_LOOPBACK_ONLY=1");
        options.environment.push_back("BENCHVIEW_ADMIN_LOOPBACK_ONLY=1");
        ASSERT_TRUE(process_.start(BENCHVIEW_EXE, options));
        port_ = kAdminPort + portOffset_;
        std::string answer;
        // Generous: start-up under the sanitizers on a loaded machine.
        ASSERT_TRUE(client_.ask(port_, adminDatagram(18, "+,"), &answer, 60000)) << process_.log();
        ASSERT_EQ(answer, adminReply(18, kMac + ","));
    }

    std::string exchange(const std::string& request, int waitMs = 5000)
    {
        client_.send(port_, request);
        std::string answer;
        return client_.receive(&answer, waitMs) ? answer : std::string();
    }

    BenchviewProcess process_;
    TAdminClient client_;
    int port_ = 0;
};

TEST_F(BenchviewDiscovery, AnswersQueriesAndIgnoresTheRest)
{
    start();
    const std::string identity = exchange(adminDatagram(1, "+"));
    ASSERT_FALSE(identity.empty());
    EXPECT_EQ(identity.compare(0, 12, adminReply(1, "")), 0);
    EXPECT_EQ(identity.compare(12, kMac.size() + 1, kMac + ","), 0);
    EXPECT_NE(identity.find(", V1.12/"), std::string::npos);
    EXPECT_NE(identity.find(",0,192.0.2.10,255.255.255.0,0.0.0.0,0.0.0.0,-,0.0.0.0,-,-,"), std::string::npos);
    EXPECT_EQ(exchange(adminDatagram(5, kMac)), adminReply(5, kMac + ",0,0,0,"));
    EXPECT_EQ(exchange(adminDatagram(16, "+,a,b,c,d")), adminReply(16, kMac + ",a,b,c,"));
    EXPECT_EQ(exchange(adminDatagram(4, "+,1,2,3,4,5,6,A,BC,,")),
              adminReply(2, kMac + ",0,0,0,0,0,0,A,B," + std::string(1, '\0') + ","));

    const std::string ignored[] = {
        adminDatagram(18, "+,").replace(3, 1, "X"),     // header
        adminDatagram(18, "02-42-56-00-02-0B,"),        // addressee
        adminDatagram(9, "+,"),                         // command
        adminDatagram(18, "+," + std::string(33, 'x')),  // field length
    };
    for (const std::string& request : ignored)
        EXPECT_EQ(exchange(request, 500), "");
    EXPECT_EQ(exchange(adminDatagram(18, "+")), adminReply(18, kMac + ","));  // still serving
}

TEST_F(BenchviewDiscovery, PowerOffEndsTheProgramThroughTheOffPipe)
{
    start();
    EXPECT_EQ(exchange(adminDatagram(255, kMac + ",2,")), adminReply(255, kMac + ",2,"));
    int status = -1;
    ASSERT_TRUE(process_.waitExit(60s, &status)) << process_.log();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readHostFile(hostPath(kOffPipe)), "POWEROFF");
}

} // namespace
