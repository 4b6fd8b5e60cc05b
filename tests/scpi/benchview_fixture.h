// A running benchview on a simulated board of the test's own, with SCPI over loopback TCP only,
// and the client connections the test opened, closed before the program is killed.
#pragma once

#include "board/board.h"
#include "core/calibfile.h"
#include "scpi/io.h"
#include "tests/scpi/scpi_consumer.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

class BenchviewScpiTest : public SimBoardTest {
protected:
    // The root as the program seeds it on a first start: on the factory record every level
    // would read 12 % low.
    void SetUp() override
    {
        registerCalibrationSeed();
        SimBoardTest::SetUp();
    }
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

    // Runs a client script with Debian's python3 against this program's SCPI port and root; its
    // exit status and everything it printed.
    int runClientScript(const char* script, std::string* output)
    {
        const std::string command = std::string("/usr/bin/python3 ") + script + " " +
                                    std::to_string(boardPort(kScpiPort)) + " " + root_ + " 2>&1";
        FILE* p = ::popen(command.c_str(), "r");
        if (!p)
            return -1;
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, p))
            output->append(buf, n);
        return ::pclose(p);
    }

    BenchviewProcess process_;
    std::vector<int> fds_;
};
