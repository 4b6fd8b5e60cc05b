// Thread starts: the board's threads run round-robin at their share of the priority range, or
// with the default attributes and one line on standard error when the system refuses; the
// simulated board keeps the scheduling the threads inherit.
#include "board/process.h"
#include "board/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <thread>

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

namespace {

std::atomic<bool> g_serviceStop{false};
std::atomic<int> g_serviceEnded{0};
std::atomic<bool> g_serviceDeaf{false};

// A service that begins late and clears its flag as it begins, as the instrument's do: a stop
// said before that is lost, and only a stop said again ends it.
void* lateService(void*)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    g_serviceStop = false;
    while (!g_serviceStop || g_serviceDeaf)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++g_serviceEnded;
    return nullptr;
}

} // namespace

TEST(ServiceThreads, APowerOffEndsThemEvenBeforeTheyListenAndNamesOneThatStaysDeaf)
{
    std::string failed;
    ASSERT_TRUE(runPowerOffUndos(&failed)) << failed;
    g_serviceEnded = 0;
    pthread_t first, second;
    ASSERT_EQ(startServiceThread(&first, lateService, nullptr, 50, "late one", [] { g_serviceStop = true; }), 0);
    // A second start before a power-off is ended too.
    ASSERT_EQ(startServiceThread(&second, lateService, nullptr, 50, "late one", [] { g_serviceStop = true; }), 0);
    EXPECT_TRUE(runPowerOffUndos(&failed)) << failed;
    EXPECT_EQ(g_serviceEnded, 2);

    g_serviceDeaf = true;
    pthread_t deaf;
    ASSERT_EQ(startServiceThread(&deaf, lateService, nullptr, 50, "deaf one", [] { g_serviceStop = true; }, 300), 0);
    EXPECT_FALSE(runPowerOffUndos(&failed));
    EXPECT_EQ(failed, "deaf one");
    g_serviceDeaf = false;
    pthread_join(deaf, nullptr);
    EXPECT_EQ(g_serviceEnded, 3);
}
