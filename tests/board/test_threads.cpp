// Thread starts: the board's threads run round-robin at their share of the priority range, or
// with the default attributes and one line on standard error when the system refuses; the
// simulated board keeps the scheduling the threads inherit.
#include "board/process.h"
#include "board/threads.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <string>

namespace {

struct TSeen {
    int policy = -1;
    int priority = -1;
};

void* recordScheduling(void* p)
{
    auto* seen = static_cast<TSeen*>(p);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &seen->policy, &param);
    seen->priority = param.sched_priority;
    return nullptr;
}

TSeen startAndSee(int share)
{
    TSeen seen;
    pthread_t id{};
    EXPECT_EQ(startThread(&id, recordScheduling, &seen, share, false, "schedTest"), 0);
    pthread_join(id, nullptr);
    return seen;
}

int ownPolicy()
{
    int policy = -1;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    return policy;
}

int lines(const std::string& text)
{
    int n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

} // namespace

TEST(ThreadScheduling, TheSimulatedBoardKeepsTheInheritedScheduling)
{
    ASSERT_FALSE(explicitThreadScheduling());
    testing::internal::CaptureStderr();
    const TSeen seen = startAndSee(75);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(seen.policy, ownPolicy());
}

TEST(ThreadScheduling, BoardThreadsRunAtTheirShareOrSayOnceThatTheSystemRefused)
{
    const int low = sched_get_priority_min(SCHED_RR);
    const int high = sched_get_priority_max(SCHED_RR);
    setExplicitThreadScheduling(true);
    testing::internal::CaptureStderr();
    const TSeen scpi = startAndSee(75);
    const TSeen interpreter = startAndSee(40);
    const std::string said = testing::internal::GetCapturedStderr();
    setExplicitThreadScheduling(false);

    if (scpi.policy == SCHED_RR) {
        EXPECT_EQ(scpi.priority, priorityForShare(low, high, 75));
        EXPECT_EQ(interpreter.policy, SCHED_RR);
        EXPECT_EQ(interpreter.priority, priorityForShare(low, high, 40));
        EXPECT_EQ(said, "");
    } else {
        // Refused (no right to real-time scheduling): both threads run all the same.
        EXPECT_EQ(scpi.policy, ownPolicy());
        EXPECT_EQ(interpreter.policy, ownPolicy());
        EXPECT_EQ(lines(said), 1) << said;
        EXPECT_NE(said.find("round-robin thread priorities refused"), std::string::npos) << said;
    }
}
