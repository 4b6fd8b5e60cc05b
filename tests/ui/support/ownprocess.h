// Tests that start the program's controller in the test's process. Its threads (controller,
// acquisition, servers, front panel) run until the process ends, as on the instrument, so such a
// test runs in a new process of this binary and leaves nothing running, bound or queued for the
// tests after it.
#pragma once

#include "board/process.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace ownprocess {
// True in the process that runs one test's body (the death-test child of the binary).
inline bool inTestProcess()
{
    return !GTEST_FLAG_GET(internal_run_death_test).empty();
}

// Ends the test's process with status 1 when the test failed there, else 0. That process
// reports nothing itself, so each failure goes to standard error, which the calling process
// shows when the status is not 0.
[[noreturn]] inline void endTestProcess()
{
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    for (int i = 0; i < result->total_part_count(); ++i) {
        const ::testing::TestPartResult& part = result->GetTestPartResult(i);
        if (part.failed())
            std::fprintf(stderr, "%s:%d: Failure\n%s\n", part.file_name() ? part.file_name() : "?",
                         part.line_number(), part.message());
    }
    endProcess(result->Failed() ? 1 : 0);
}
} // namespace ownprocess

// Like TEST_F, with the fixture's SetUp, the body and its TearDown in a process of their own (the
// binary started again by the "threadsafe" death-test style); the calling process only waits.
// The test fails when the body fails there or the process ends in any other way (crash,
// sanitizer report).
#define PROGRAM_TEST_F(fixture, name)                                                                  \
    class fixture##_##name##_Program : public fixture {                                                \
    protected:                                                                                         \
        void SetUp() override                                                                          \
        {                                                                                              \
            if (!ownprocess::inTestProcess())                                                          \
                return;                                                                                \
            fixture::SetUp();                                                                          \
            if (HasFatalFailure()) {                                                                   \
                fixture::TearDown();                                                                   \
                ownprocess::endTestProcess();                                                          \
            }                                                                                          \
        }                                                                                              \
        void TearDown() override                                                                       \
        {                                                                                              \
            if (ownprocess::inTestProcess())                                                           \
                fixture::TearDown();                                                                   \
        }                                                                                              \
        void programBody();                                                                            \
    };                                                                                                 \
    GTEST_TEST_(fixture, name, fixture##_##name##_Program, ::testing::internal::GetTypeId<fixture>()) \
    {                                                                                                  \
        EXPECT_EXIT(                                                                                   \
            {                                                                                          \
                programBody();                                                                         \
                fixture::TearDown();                                                                   \
                ownprocess::endTestProcess();                                                          \
            },                                                                                         \
            ::testing::ExitedWithCode(0), "")                                                          \
            << "the test failed in its own process (its messages are above)";                        \
    }                                                                                                  \
    void fixture##_##name##_Program::programBody()
