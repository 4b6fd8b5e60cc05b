// The port offset of the simulated board: one that would push a served port past 65535 (where
// it would wrap onto a port nobody asked for) stops the program at start, naming the port.
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/wait.h>

using namespace std::chrono_literals;

class PortOffset : public SimBoardTest {};

TEST_F(PortOffset, AnOffsetPastTheLastPortEndsTheProgramNamingThePort)
{
    const struct {
        int offset;
        const char* named;
    } cases[] = {
        {38828, "port 50010 to 88838"},  // the web service would listen on 23302
        {15526, "port 50010 to 65536"},
        {-30, "port 23 to -7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        BenchviewProcess program;
        const auto options = BenchviewProcess::Options::headless(root_, c.offset);
        ASSERT_TRUE(program.start(BENCHVIEW_EXE, options));
        int status = 0;
        ASSERT_TRUE(program.waitExit(30s, &status)) << program.log();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const std::string log = program.log();
        EXPECT_NE(log.find(c.named), std::string::npos) << log;
        EXPECT_NE(log.find("BENCHVIEW_PORT_OFFSET"), std::string::npos) << log;
    }
}
