// The two acquisition threads together, on the simulated board with the acquisition driver
// closed: every live cycle returns at once, as without a board.
#include "acquisition/acquisit.h"

#include "acquisition/acqctrl.h"
#include "board/process.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "hardware/calibration.h"
#include "hardware/handshake.h"
#include "tests/acquisition/acquisit_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

bool sameRecord(const pipe_dial& a, const pipe_dial& b)
{
    return a.kind == b.kind && a.code == b.code && a.auxValue == b.auxValue && a.intValue == b.intValue
        && a.floatValue == b.floatValue && a.senderId == b.senderId;
}

class AcquisitThreadsTest : public AcquisitFixture {
protected:
    void SetUp() override
    {
        AcquisitFixture::SetUp();
        data.channelFlags = 0xF;
    }

    // Starts acquisit (which starts startacq) and waits until its own first order is over.
    void startThreads()
    {
        ASSERT_EQ(startAcquisitionThread(&ACQU_id, acquisit, &param_calibr, 20, "acquisit"), 0);
        ASSERT_TRUE(ordersSettled(1));
        inbox();
    }

    static bool settled() { return ordersSettled(0); }

    // One more cycle through a hold of the test's own; the record is changed while parked.
    template <typename F>
    static void resumeWith(F change)
    {
        const size_t before = acquisitLog().resumes.size();
        AcqSuspend();
        change(par_acq);
        AcqResume(SYNCHRO_TIMEBASE_CHANGE);
        ASSERT_TRUE(acquisitLogWait([before](const TAcquisitLog& s) { return s.resumes.size() > before; }, 5000));
        ASSERT_TRUE(settled());
    }

    // Every record queued for the controller, oldest first, leaving the box empty.
    static std::vector<pipe_dial> inbox()
    {
        std::vector<pipe_dial> out;
        pipe_dial r{};
        while (o_g_consMessageBox.peek(&r)) {
            o_g_consMessageBox.receive(&r, true, 0);
            out.push_back(r);
        }
        return out;
    }

    static pipe_dial next()
    {
        pipe_dial r{};
        EXPECT_EQ(o_g_consMessageBox.receive(&r, true, 5), 0);
        return r;
    }

    static int count(const std::vector<pipe_dial>& records, uint16_t kind, int32_t code = -1)
    {
        return static_cast<int>(std::count_if(records.begin(), records.end(), [&](const pipe_dial& r) {
            return r.kind == kind && (code < 0 || r.code == code);
        }));
    }

    static void send(const TLongArray& order) { ASSERT_EQ(o_g_acquMessageBox.send(&order), 0); }
    static intptr_t comm() { return senderValue(COMM_id); }
    static void quiet() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }
};

// --- Orders ------------------------------------------------------------------------------------------

// A power-off right after a start, before the new thread has begun: the thread still ends and
// never runs into what comes next.
TEST_F(AcquisitThreadsTest, AnEndRightAfterAStartEndsTheThreadNotYetRunning)
{
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        RTAC_id = 0;
        ASSERT_EQ(startAcquisitionThread(&RTAC_id, startacq, nullptr, 15, "startacq"), 0);
        std::string stuck;
        ASSERT_TRUE(runPowerOffUndos(&stuck)) << stuck;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Ended and reset: nothing parked since, no identity left.
        EXPECT_EQ(acquisitLog().parks, 0);
        EXPECT_EQ(RTAC_id, pthread_t{});
    }
}

TEST_F(AcquisitThreadsTest, FirstOrderIsTheFullInitialisationAndStartsTheRealTimeThread)
{
    startThreads();
    const TAcquisitLog log = acquisitLog();
    ASSERT_EQ(log.orders.size(), 1u);
    EXPECT_EQ(log.orders[0].code, 0x49);
    EXPECT_EQ(log.orders[0].channelMask, 0x1FFF);
    EXPECT_EQ(log.orders[0].actionBits, 8);
    EXPECT_EQ(log.orders[0].senderId, 8);
    EXPECT_NE(senderValue(RTAC_id), 0);
    EXPECT_EQ(par_acq.armOption, 1);
    EXPECT_EQ(log.resumes, std::vector<uint32_t>{SYNCHRO_TIMEBASE_CHANGE});
}

TEST_F(AcquisitThreadsTest, IdenticalOrdersAreAppliedOnceAndTheLastSenderCounts)
{
    startThreads();
    // Queued behind one that waits for the test's hold.
    AcqSuspend();
    send(TLongArray{0, 0xF, 1, 77});
    ASSERT_TRUE(acquisitLogWait([](const TAcquisitLog& s) { return s.orders.size() == 2; }, 5000));
    for (intptr_t sender : {comm(), comm(), intptr_t{5}, comm(), comm()})
        send(TLongArray{0, 0xF, 1, sender});  // one differs only in its sender
    AcqResume(SYNCHRO_RESUME);

    ASSERT_TRUE(ordersSettled(3));
    const TAcquisitLog log = acquisitLog();
    EXPECT_EQ(log.collapsed, 4);
    EXPECT_EQ(log.orders[2].senderId, comm());
    // One reply: the first order was not the controller's, the five were applied once.
    quiet();
    const auto replies = inbox();
    EXPECT_EQ(count(replies, REQ_ACQ_DONE), 1);
    EXPECT_EQ(log.orders.size(), 3u);
}

TEST_F(AcquisitThreadsTest, CalibrationOrderRepliesAtOnceThenTheWorkerPostsTheStepResult)
{
    startThreads();
    // A channel to acquire (the bare setup has none valid): an idle record never calibrates.
    resumeWith([](acq_ctrl& c) { c.acqChannels = 1; });
    struct Row {
        int16_t step;
        int32_t channel;
        int32_t result;
    };
    // Recall; a step that fails at once (no channel 5); no such step.
    const Row rows[] = {{0, 2, 1}, {5, 4, 0}, {2, 2, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        data.calRange = row.step;
        const uint64_t before = simboard::simTimeNs();
        send(TLongArray{127, row.channel, 1, comm()});
        const pipe_dial done = next();
        EXPECT_EQ(done.kind, REQ_ACQ_DONE);
        EXPECT_EQ(done.auxValue, 100000);
        const intptr_t rt = senderValue(RTAC_id);
        EXPECT_TRUE(sameRecord(next(), pipe_dial{REQ_OPERATION_DONE, row.result, 0, 0, 0.0f, rt}));
        EXPECT_TRUE(sameRecord(next(), pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, rt}));
        // The settling second after the step is the board's: the simulated board takes it in
        // its own time, at once.
        EXPECT_GE(simboard::simTimeNs() - before, 1000000000u);
        EXPECT_EQ(par_acq.acqMode, ACQ_MODE_CALIBRATION);
        EXPECT_EQ(par_acq.calArg, row.channel);
        EXPECT_EQ(par_acq.calStep, row.step);
        EXPECT_EQ(acquisitLog().calibrationResults.back(), row.result);
    }
}

TEST_F(AcquisitThreadsTest, RestartWhileAnotherOrderWaitsLeavesTheReprocessingToTheLast)
{
    struct Row {
        uint16_t mode;
        int32_t code;  // of the second order
        int replies;
    };
    const Row rows[] = {{0x8000, 201, 1}, {64, 201, 1}, {64, 0, 0}};
    data.instrumentMode = 0x8000;
    startThreads();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        data.instrumentMode = row.mode;
        const TAcquisitLog before = acquisitLog();
        AcqSuspend();
        send(TLongArray{200, 0x3, 16, comm()});
        send(TLongArray{row.code, 0x3, 16, comm()});
        AcqResume(SYNCHRO_RESUME);
        ASSERT_TRUE(ordersSettled(before.ordersDone + 2));
        quiet();
        const TAcquisitLog after = acquisitLog();
        EXPECT_EQ(after.orders.size(), before.orders.size() + 2);
        EXPECT_EQ(after.reprocessRuns, before.reprocessRuns + 1);
        const auto replies = inbox();
        ASSERT_EQ(count(replies, REQ_ACQ_DONE), row.replies);
        if (row.replies == 1) {
            EXPECT_EQ(replies[0].intValue, 0x3);
        }
    }
}

// --- Cycle protocol -------------------------------------------------------------------------------------

TEST_F(AcquisitThreadsTest, SingleShotAsksForHoldAfterEveryCycleExceptInBusMode)
{
    startThreads();
    for (uint16_t mode : {16, 17}) {
        SCOPED_TRACE(mode);
        resumeWith([mode](acq_ctrl& c) {
            c.acqMode = mode;
            c.triggerMode = 2;
            c.runStop = 0;
            c.acqChannels = 1;
        });
        inbox();
        const int cycles = acquisitLog().cycles;
        for (int i = 0; i < 3; ++i)
            resumeWith([](acq_ctrl&) {});
        quiet();  // and no cycle without a resume: the cycle returned at once, it waits
        EXPECT_EQ(acquisitLog().cycles, cycles + 3);
        const auto notices = inbox();
        EXPECT_EQ(count(notices, REQ_SET_PARAM, param::acqRunStop), mode == 17 ? 0 : 3);
        for (const pipe_dial& n : notices) {
            if (n.code == param::acqRunStop) {
                EXPECT_TRUE(sameRecord(n, pipe_dial{REQ_SET_PARAM, param::acqRunStop, 0, 1, 0.0f, senderValue(RTAC_id)}));
            }
        }
    }
}

TEST_F(AcquisitThreadsTest, HoldIdlesEveryModeUntilARunOrderAndNoResumeIsLost)
{
    startThreads();
    data.trigStatus = 1;
    struct Row {
        uint16_t mode;
        int16_t meterFunction;
    };
    const Row rows[] = {{16, 0}, {17, 0}, {64, 0}, {128, 0}, {128, 3}, {130, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        data.meterFunction = row.meterFunction;
        resumeWith([&row](acq_ctrl& c) {
            c.acqMode = row.mode;
            c.runStop = 1;
            c.triggerMode = 0;
            c.acqChannels = 0xF;
        });
        const TAcquisitLog held = acquisitLog();
        quiet();
        EXPECT_EQ(acquisitLog().cycles, held.cycles);  // blocked
        EXPECT_GE(count(inbox(), REQ_SET_PARAM, param::trigStatus), 1);

        // Run orders given right after each idle cycle are each acted on.
        for (int i = 1; i <= 20; ++i) {
            const size_t before = acquisitLog().resumes.size();
            AcqSuspend();
            AcqResume(SYNCHRO_TIMEBASE_CHANGE);
            ASSERT_TRUE(acquisitLogWait([before](const TAcquisitLog& s) { return s.resumes.size() == before + 1; },
                                        5000))
                << "resume " << i << " lost";
        }
        ASSERT_TRUE(settled());
        const TAcquisitLog after = acquisitLog();
        EXPECT_EQ(after.cycles, held.cycles + 20);
        EXPECT_EQ(after.idleCycles - held.idleCycles, 20);
    }
}

TEST_F(AcquisitThreadsTest, OrderWaitsWhileTheControllerHoldsTheAcquisitionForAFile)
{
    startThreads();
    const TAcquisitLog before = acquisitLog();
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    // The controller's file work, in a thread of its own.
    std::thread files([&] {
        AcqSuspend();
        held = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        AcqResume(SYNCHRO_RESUME);
    });
    while (!held)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    send(TLongArray{0, 0xF, 1, comm()});
    quiet();
    EXPECT_TRUE(o_g_consMessageBox.empty());  // not applied yet
    EXPECT_EQ(acquisitLog().cycles, before.cycles);

    release = true;
    files.join();
    EXPECT_EQ(next().kind, REQ_ACQ_DONE);
    ASSERT_TRUE(ordersSettled(before.ordersDone + 1));
    quiet();
    const TAcquisitLog after = acquisitLog();
    // Both holds ended with one resume: the hold passed from one to the other without a cycle.
    EXPECT_EQ(after.resumes.size(), before.resumes.size() + 1);
    EXPECT_EQ(after.resumes.back(), SYNCHRO_TIMEBASE_CHANGE);
    EXPECT_EQ(after.cycles, before.cycles + 1);
    EXPECT_EQ(AcqHandshakeMisuse().strayResumes, 0u);
}

} // namespace
