// The suspension hand-shake: owned and nested holds, hand-over between holders without a cycle
// of the real-time thread, stray resumes, release without waking, stop without waiting, the
// idle-cycle wake-up, and the debug check of the set-up commands.
#include "hardware/handshake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {
using namespace std::chrono_literals;

uint32_t detailWord()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t d = o_g_synchroAcqDetail;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return d;
}

bool parked()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    const bool p = b_g_acqSuspended != 0;
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
    return p;
}

template <typename F>
bool eventually(F condition, std::chrono::milliseconds limit = 3000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A real-time thread as the mode cycles behave: a cycle runs until a stop arrives, then it parks,
// waits for a resume and consumes the word as arming does (unless a stop is pending).
class TRealTime {
public:
    TRealTime()
        : thread_([this] { run(); })
    {
    }
    ~TRealTime()
    {
        quit_ = true;
        while (!finished_) {
            pthread_mutex_lock(&o_g_synchroAcqMutex);
            pthread_cond_broadcast(&o_g_synchroAcqCond);
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
            if (parked())
                AcqResume(SYNCHRO_RESUME);  // nobody holds by now: stored, wakes it
            std::this_thread::sleep_for(1ms);
        }
        thread_.join();
    }

    int wakes() const { return wakes_.load(); }
    bool inCycle() const { return inCycle_.load(); }
    std::vector<uint32_t> details()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return details_;
    }
private:
    void run()
    {
        cycles();
        finished_ = true;
    }
    void cycles()
    {
        for (;;) {
            inCycle_ = true;
            pthread_mutex_lock(&o_g_synchroAcqMutex);
            while (!(o_g_synchroAcqDetail & SYNCHRO_STOP) && !quit_)
                pthread_cond_wait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex);
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
            inCycle_ = false;
            if (quit_)
                return;
            const TSynchroDetail d = AcqWaitForResume(false, AcqParkBetweenCycles());
            if (quit_)
                return;
            pthread_mutex_lock(&o_g_synchroAcqMutex);
            if (!(o_g_synchroAcqDetail & SYNCHRO_STOP))
                o_g_synchroAcqDetail = SYNCHRO_NONE;
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                details_.push_back(d);
            }
            ++wakes_;
        }
    }

    std::atomic<bool> quit_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> inCycle_{false};
    std::atomic<int> wakes_{0};
    std::mutex mutex_;
    std::vector<uint32_t> details_;
    std::thread thread_;
};

// A thread that runs one step at a time on request, so a test can interleave two holders.
class TParty {
public:
    TParty()
        : thread_([this] { run(); })
    {
    }
    ~TParty()
    {
        post(nullptr);
        thread_.join();
    }
    // Queues a step; returns at once.
    void post(std::function<void()> step)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        steps_.push_back(std::move(step));
        ++posted_;
        changed_.notify_all();
    }
    // True once every queued step has finished (false after limit).
    bool idle(std::chrono::milliseconds limit = 3000ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return done_ == posted_; });
    }
    void run(std::function<void()> step)
    {
        post(std::move(step));
        ASSERT_TRUE(idle());
    }

private:
    void run()
    {
        for (;;) {
            std::function<void()> step;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return !steps_.empty(); });
                step = std::move(steps_.front());
                steps_.erase(steps_.begin());
            }
            if (!step)
                return;
            step();
            std::lock_guard<std::mutex> lock(mutex_);
            ++done_;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::function<void()>> steps_;
    int posted_ = 0;
    int done_ = 0;
    std::thread thread_;
};
} // namespace

class HandshakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        o_g_synchroAcqDetail = SYNCHRO_NONE;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        AcqClearHandshakeMisuse();
    }
};

TEST_F(HandshakeTest, NestedSuspendInOneThreadEndsWithTheOutermostResume)
{
    TRealTime rt;
    AcqSuspend();
    EXPECT_TRUE(parked());
    AcqSuspend();  // the owner: at once
    EXPECT_TRUE(AcqHeldByCaller());
    AcqResume(SYNCHRO_TIMEBASE_CHANGE);  // inner level: nothing stored, the 1 remembered
    EXPECT_TRUE(AcqHeldByCaller());
    EXPECT_EQ(detailWord(), SYNCHRO_STOP);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rt.wakes(), 0);

    AcqResume(SYNCHRO_RESUME);
    EXPECT_FALSE(AcqHeldByCaller());
    ASSERT_TRUE(eventually([&] { return rt.wakes() == 1; }));
    EXPECT_EQ(rt.details(), std::vector<uint32_t>{SYNCHRO_TIMEBASE_CHANGE});

    // Without an inner 1 the outer 2 is what the real-time thread sees.
    AcqSuspend();
    AcqSuspend();
    AcqResume(SYNCHRO_RESUME);
    AcqResume(SYNCHRO_RESUME);
    ASSERT_TRUE(eventually([&] { return rt.wakes() == 2; }));
    EXPECT_EQ(rt.details().back(), SYNCHRO_RESUME);
}

TEST_F(HandshakeTest, SecondHolderWaitsAndTakesOverWithoutACycleInBetween)
{
    // The controller holds for a file action; the acquisition control thread's suspend waits, the
    // controller's resume hands the hold over, and the control thread's resume(1) wakes the
    // real-time thread exactly once.
    TRealTime rt;
    TParty controller, control;
    controller.run([] { AcqSuspend(); });
    ASSERT_TRUE(parked());

    std::atomic<bool> controlHolds{false};
    control.post([&] {
        AcqSuspend();
        controlHolds = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(controlHolds.load()) << "the second suspend waits while the first party holds";

    controller.run([] { AcqResume(SYNCHRO_RESUME); });
    ASSERT_TRUE(control.idle());
    EXPECT_TRUE(controlHolds.load());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rt.wakes(), 0) << "handed over: the real-time thread stays parked";
    EXPECT_TRUE(parked());
    EXPECT_EQ(detailWord(), SYNCHRO_STOP);

    control.run([] { AcqResume(SYNCHRO_TIMEBASE_CHANGE); });
    ASSERT_TRUE(eventually([&] { return rt.wakes() == 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rt.details(), std::vector<uint32_t>{SYNCHRO_TIMEBASE_CHANGE});
}

TEST_F(HandshakeTest, StrayResumeWhileAnotherHoldsIsIgnoredAndFlagged)
{
    TRealTime rt;
    TParty holder;
    holder.run([] { AcqSuspend(); });
    AcqResume(SYNCHRO_RESUME);  // this thread holds nothing
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rt.wakes(), 0);
    EXPECT_EQ(detailWord(), SYNCHRO_STOP);
    EXPECT_EQ(AcqHandshakeMisuse().strayResumes, 1u);

    holder.run([] { AcqResume(SYNCHRO_RESUME); });
    ASSERT_TRUE(eventually([&] { return rt.wakes() == 1; }));
    EXPECT_EQ(rt.details(), std::vector<uint32_t>{SYNCHRO_RESUME});
}

TEST_F(HandshakeTest, ReleaseWithoutWakingLeavesItParkedForTheNextHolder)
{
    // The autoset ends its hold without waking; the control thread's suspend then finds the
    // acquisition between two cycles at once, and its resume(1) restarts it.
    TRealTime rt;
    TParty autoset, control;
    autoset.run([] {
        AcqSuspend();
        AcqReleaseHold();
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rt.wakes(), 0);
    EXPECT_TRUE(parked());

    control.run([] { AcqSuspend(); });  // returns: the flag is raised
    control.run([] { AcqResume(SYNCHRO_TIMEBASE_CHANGE); });
    ASSERT_TRUE(eventually([&] { return rt.wakes() == 1; }));
    EXPECT_EQ(rt.details(), std::vector<uint32_t>{SYNCHRO_TIMEBASE_CHANGE});

    // A release by a thread that holds nothing changes nothing.
    AcqReleaseHold();
    EXPECT_EQ(AcqHandshakeMisuse().strayReleases, 1u);
}

TEST_F(HandshakeTest, StopWithoutWaitingParksTheCycleAndTakesNoHold)
{
    TRealTime rt;
    ASSERT_TRUE(eventually([&] { return rt.inCycle(); }));
    AcqStopNoWait();
    EXPECT_FALSE(AcqHeldByCaller());
    ASSERT_TRUE(eventually([] { return parked(); }));
    EXPECT_EQ(detailWord(), SYNCHRO_STOP);

    // Nobody holds: a later holder gets through at once and its resume restarts the cycle.
    TParty control;
    control.run([] { AcqSuspend(); });
    control.run([] { AcqResume(SYNCHRO_RESUME); });
    ASSERT_TRUE(eventually([&] { return rt.wakes() == 1; }));
    EXPECT_EQ(AcqHandshakeMisuse().strayResumes, 0u);
}

TEST_F(HandshakeTest, SuspendArrivingBetweenAResumeAndTheRestartKeepsItParked)
{
    TRealTime rt;
    AcqSuspend();
    AcqReleaseHold();
    ASSERT_TRUE(parked());

    // A resume lets the real-time thread out of its wait, but it cannot lower its flag yet: the
    // suspend protocol's first steps hold the flag's mutex and store a stop.
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = SYNCHRO_RESUME;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    std::this_thread::sleep_for(20ms);  // it now waits for the flag's mutex
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = SYNCHRO_STOP;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    EXPECT_EQ(b_g_acqSuspended, 1);  // the suspender sees it parked and goes to work
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);

    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(parked()) << "it must not start a cycle under the suspender's feet";
    EXPECT_EQ(rt.wakes(), 0);
    AcqResume(SYNCHRO_RESUME);
    ASSERT_TRUE(eventually([&] { return rt.wakes() == 1; }));
}

TEST_F(HandshakeTest, IdleCycleWaitsForTheNextResumeEvenWhenItCameBeforeTheWait)
{
    // Scripted parking thread: after an idle cycle it parks, lets a whole suspend-apply-resume of
    // another thread run, and only then waits. The resume must still wake it.
    std::mutex m;
    std::condition_variable cv;
    int parkedRound = -1, goRound = -1, wokeRound = -1;
    uint32_t woke = 0;
    constexpr int kRounds = 300;
    std::thread rt([&] {
        for (int round = 0; round < kRounds; ++round) {
            const uint64_t stamp = AcqParkBetweenCycles();
            {
                std::unique_lock<std::mutex> lock(m);
                parkedRound = round;
                cv.notify_all();
                cv.wait(lock, [&] { return goRound == round; });
            }
            const TSynchroDetail d = AcqWaitForResume(true, stamp);
            std::lock_guard<std::mutex> lock(m);
            woke = d;
            wokeRound = round;
            cv.notify_all();
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, 3s, [&] { return parkedRound == round; }));
        lock.unlock();
        AcqSuspend();  // finds it parked
        AcqResume(SYNCHRO_TIMEBASE_CHANGE);
        lock.lock();
        goRound = round;
        cv.notify_all();
        ASSERT_TRUE(cv.wait_for(lock, 3s, [&] { return wokeRound == round; })) << "round " << round << ": the resume was lost";
        EXPECT_EQ(woke, SYNCHRO_TIMEBASE_CHANGE);
    }
    rt.join();
}

TEST_F(HandshakeTest, IdleCycleDoesNotRunAgainOnAnOldResume)
{
    AcqResume(SYNCHRO_RESUME);  // the word says "run" already
    std::atomic<bool> woke{false};
    std::thread rt([&] {
        AcqWaitForResume(true, AcqParkBetweenCycles());
        woke = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(woke.load()) << "an idle cycle waits for a new resume";
    AcqSuspend();
    AcqResume(SYNCHRO_RESUME);
    rt.join();
    EXPECT_TRUE(woke.load());
}

TEST_F(HandshakeTest, HoldersAreSerialisedAndNoResumeIsLost)
{
    // Three parties suspend and resume in a loop while the real-time thread cycles: no cycle
    // runs while anyone holds, and the last resume always lets it run again.
    TRealTime rt;
    std::atomic<int> holding{0};
    std::atomic<int> overlaps{0};
    auto party = [&](TSynchroDetail resumeWith) {
        for (int i = 0; i < 300; ++i) {
            AcqSuspend();
            if (holding.fetch_add(1) != 0 || rt.inCycle() || !parked())
                ++overlaps;
            std::this_thread::yield();
            if (rt.inCycle())
                ++overlaps;
            holding.fetch_sub(1);
            AcqResume(resumeWith);
        }
    };
    std::thread a(party, SYNCHRO_RESUME), b(party, SYNCHRO_TIMEBASE_CHANGE), c(party, SYNCHRO_RESUME);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(AcqHandshakeMisuse().strayResumes, 0u);
    ASSERT_TRUE(eventually([&] { return rt.inCycle(); })) << "the last resume woke the real-time thread";
    EXPECT_GE(rt.wakes(), 1);
}

TEST_F(HandshakeTest, SetUpCommandsCheckWhoHoldsTheAcquisitionMutex)
{
    EXPECT_FALSE(AcqCheckSetupUnderMutex());
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    EXPECT_TRUE(AcqCheckSetupUnderMutex());
    std::thread other([] { EXPECT_FALSE(AcqCheckSetupUnderMutex()); });
    other.join();
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    EXPECT_EQ(AcqHandshakeMisuse().setupsWithoutMutex, 2u);
}
