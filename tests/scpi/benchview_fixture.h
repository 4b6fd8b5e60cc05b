// A running benchview on a simulated board of the test's own, with SCPI over loopback TCP only,
// and the client connections the test opened, closed before the program is killed.
#pragma once

#include "tests/scpi/scpi_consumer.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

class BenchviewScpiTest : public SimBoardTest {
protected:
    void TearDown() override
    {
        for (int fd : fds_)
            ::close(fd);
        process_.kill();  // before the root goes
        SimBoardTest::TearDown();
    }

    void start(const std::vector<std::string>& extraEnvironment = {})
    {
        auto options = BenchviewProcess::Options::headless(root_, portOffset_);
        options.environment.push_back("BENCHVIEW_SCPI_LOOPBACK_ONLY=1");
        options.environment.insert(options.environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        ASSERT_TRUE(process_.start(BENCHVIEW_EXE, options));
    }

    int connectClient()
    {
        int fd = connectScpi(10000);
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }

    BenchviewProcess process_;
    std::vector<int> fds_;
};
