// The interpreter thread in process: its state machine on a small command tree of recording
// handlers, and its hand-off with a controller played by the test.
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "scpi/Arbre.h"
#include "scpi/blockdata.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/params.h"
#include "scpi/scpi.h"
#include "tests/support/requestboxes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- a small tree: TRIGger[:SEQuence]:LEVel|SLOPe|BAD|MULTi|QONLy?, WAIT, *OPC, MARK?, ... --

void addRequest(pipe_dial* requests, int16_t* count, int32_t code, intptr_t value)
{
    requests[*count] = pipe_dial{REQ_SET_PARAM, code, 0, value, 0.0f, 0};
    ++*count;
}

int hLevel(indic* ind, char* area, pipe_dial* requests, int16_t* count)
{
    *count = 0;
    if (ind->query) {
        PutMessage("LEV\n\r", 5);
        return 0;
    }
    addRequest(requests, count, 113, static_cast<intptr_t>(paramFloat(area, 0)));
    return 0;
}

// Reached as TRIGger[:SEQuence]:SLOPe: three levels, whatever the path to it.
int hSlope(indic* ind, char* area, pipe_dial* requests, int16_t* count)
{
    *count = 0;
    if (ind->count != 3)
        return kErrSuffixOutOfRange;
    addRequest(requests, count, 185, paramInt(area, 0));
    return 0;
}

// Fails after filling records: none of them may be posted.
int hBad(indic*, char*, pipe_dial* requests, int16_t* count)
{
    *count = 0;
    addRequest(requests, count, 999, 1);
    return 25;
}

int hMulti(indic*, char*, pipe_dial* requests, int16_t* count)
{
    *count = 0;
    for (int i = 1; i <= 3; ++i)
        addRequest(requests, count, 200 + i, i);
    return 0;
}

int hQueryOnly(indic*, char*, pipe_dial*, int16_t* count)
{
    *count = 0;
    PutMessage("Q\n\r", 3);
    return 0;
}

// Like *WAI: a kind-0 record, then post-action 10.
int hWait(indic* ind, char*, pipe_dial* requests, int16_t* count)
{
    requests[0] = pipe_dial{0, 0, 0, 0, 0.0f, 0};
    *count = 1;
    ind->postAction = 10;
    return 0;
}

int hOpc(indic* ind, char*, pipe_dial*, int16_t* count)
{
    *count = 0;
    ind->postAction = ind->query ? 12 : 11;
    return 0;
}

// The queued internal error numbers (oldest first) and the event register, read and cleared
// by the interpreter thread itself: "errs 10,2 esr 129\n\r".
int hMark(indic*, char*, pipe_dial*, int16_t* count)
{
    *count = 0;
    std::string text = "errs ";
    bool first = true;
    for (int e = memerr(2, 0); e != 0; e = memerr(2, 0)) {
        text += (first ? "" : ",") + std::to_string(e);
        first = false;
    }
    text += " esr " + std::to_string(memesr(7, 0, 0)) + "\n\r";
    PutMessage(text.data(), static_cast<int32_t>(text.size()));
    return 0;
}

const entry eSeq[] = {
    {1, 1, 3, 5, "level", &hLevel, "c", nullptr},
    {1, 0, 4, 5, "slope", &hSlope, "b", nullptr},
    {1, 0, 3, 3, "bad", &hBad, nullptr, nullptr},
    {1, 0, 4, 5, "multi", &hMulti, nullptr, nullptr},
    {0, 1, 4, 5, "qonly", &hQueryOnly, nullptr, nullptr},
};
const node nSeq = {5, eSeq, -1};
const entry eTrig[] = {
    {1, 0, 3, 8, "sequence", nullptr, nullptr, &nSeq},
};
const node nTrig = {1, eTrig, 0};
const entry eRoot[] = {
    {1, 1, 4, 4, "*opc", &hOpc, nullptr, nullptr},
    {1, 0, 4, 7, "trigger", nullptr, nullptr, &nTrig},
    {1, 0, 4, 4, "wait", &hWait, nullptr, nullptr},
    {0, 1, 4, 4, "mark", &hMark, nullptr, nullptr},
};
const node nRoot = {4, eRoot, -1};

struct TTaken {
    uint16_t kind;
    int32_t code;
    intptr_t value;
    intptr_t senderId;
    bool operator==(const TTaken& o) const
    {
        return kind == o.kind && code == o.code && value == o.value;
    }
};

std::ostream& operator<<(std::ostream& os, const TTaken& t)
{
    return os << "{" << t.kind << "," << t.code << "," << t.value << "}";
}

TTaken set(int32_t code, intptr_t value)
{
    return TTaken{REQ_SET_PARAM, code, value, 0};
}

struct TControllerLog {
    std::mutex mutex;
    std::vector<TTaken> taken;
};
TControllerLog& controllerLog()
{
    static auto* log = new TControllerLog();
    return *log;
}

// A record no sender builds: it ends the controller stand-in.
constexpr uint16_t kEndController = 0xFFFF;

// Takes each record, notes it, applies a deviceError setting, releases.
void releasingController()
{
    for (;;) {
        pipe_dial r{};
        if (o_g_consMessageBox.receive(&r, true, 0) != 0)
            continue;
        if (r.kind == kEndController)
            return;
        {
            std::lock_guard<std::mutex> lock(controllerLog().mutex);
            controllerLog().taken.push_back(TTaken{r.kind, r.code, r.intValue, r.senderId});
        }
        if (r.kind == REQ_SET_PARAM && r.code == param::deviceError)
            data.deviceError = static_cast<int16_t>(r.intValue);
        scpi_SemP();
    }
}

// The interpreter and the controller stand-in of a test end with it, with whatever they left
// queued and the settings the test changed: the next test starts as after power-on.
class InterpreterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setScpiTree(&nRoot);
        session_ = new TScpiMemorySession();
        releaseTimeoutMs_ = scpiReleaseTimeoutMs();
        blockTimeoutMs_ = scpiBlockTimeoutMs();
        deviceError_ = data.deviceError;
    }

    void TearDown() override
    {
        stopScpiInterpreter();
        if (controller_.joinable()) {
            const pipe_dial end{kEndController, 0, 0, 0, 0.0f, 0};
            while (o_g_consMessageBox.send(&end) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            controller_.join();
        }
        drainRequestBoxes();
        takeRecords();
        delete session_;
        setScpiTree(nullptr);
        setScpiReleaseTimeoutMs(releaseTimeoutMs_);
        setScpiBlockTimeoutMs(blockTimeoutMs_);
        data.deviceError = deviceError_;
    }

    void startInterpreter()
    {
        ASSERT_EQ(startThread(&SCPI_id, scpi, nullptr, 40, true, "scpi"), 0);
    }

    void startController() { controller_ = std::thread(releasingController); }

    // Sends the input, then MARK? and returns every reply up to the mark's.
    std::string run(const std::string& input)
    {
        session_->send(input + "mark?\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            std::string r = session_->replies();
            if (r.find("errs ") != std::string::npos && r.size() >= 2 && r.compare(r.size() - 2, 2, "\n\r") == 0)
                return session_->takeReplies();
            if (std::chrono::steady_clock::now() > deadline)
                return "timeout: " + r;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    static std::vector<TTaken> takeRecords()
    {
        std::lock_guard<std::mutex> lock(controllerLog().mutex);
        std::vector<TTaken> copy;
        copy.swap(controllerLog().taken);
        return copy;
    }

    TScpiMemorySession* session_ = nullptr;

private:
    std::thread controller_;
    int releaseTimeoutMs_ = 0;
    int blockTimeoutMs_ = 0;
    int16_t deviceError_ = 0;
};

// ---- state machine -------------------------------------------------------------------------

TEST_F(InterpreterTest, StartsWithPowerOnAndRunsUnitsInOrderFromItsOwnIdentity)
{
    startController();
    startInterpreter();
    EXPECT_EQ(run(""), "errs  esr 128\n\r");

    EXPECT_EQ(run("TRIG:SEQ:LEV 2;SLOP 1\n"), "errs  esr 0\n\r");
    std::vector<TTaken> taken = takeRecords();
    ASSERT_EQ(taken, (std::vector<TTaken>{set(113, 2), set(185, 1)}));
    for (const TTaken& t : taken)
        EXPECT_EQ(t.senderId, senderValue(SCPI_id));
}

struct TLineCase {
    const char* input;
    std::vector<TTaken> applied;
    const char* replies;  // before the mark's reply
    const char* errors;   // internal numbers, oldest first
};

// The event bit of the first error: command errors below 22, execution errors from 22.
std::string esrOf(const char* errors)
{
    if (!*errors)
        return "0";
    return std::atoi(errors) >= 22 ? "16" : "32";
}

TEST_F(InterpreterTest, LinesGiveTheirRequestsRepliesAndErrors)
{
    const TLineCase cases[] = {
        // Optional SEQuence left out, and found again after ";".
        {"TRIG:LEV 1\n", {set(113, 1)}, "", ""},
        {"trigger:sequence:level 1\n", {set(113, 1)}, "", ""},
        {"TRIG:LEV 1;SLOP 0\n", {set(113, 1), set(185, 0)}, "", ""},
        {"TRIG:SEQ:LEV 1;:SLOP 0\n", {set(113, 1)}, "", "10"},
        // ";" just before the end: -101 after the level was applied.
        {"TRIG:SEQ:LEV 1;\n", {set(113, 1)}, "", "2"},
        // A path node alone has no handler.
        {"TRIG\n", {}, "", "10"},
        {"TRIG:SEQ:SLOP?\n", {}, "", "2"},
        {"TRIG:QONL\n", {}, "", "2"},
        {"TRIG:QONL?\n", {}, "Q\n\r", ""},
        {"TRIG:LEV\n", {}, "", "7"},
        {"WAIT 5\n", {}, "", "6"},
        // Carriage return ends a unit like line feed, also after a blank.
        {"TRIG:LEV? \r\n", {}, "LEV\n\r", ""},
        {"TRIG:LEV?\r\n", {}, "LEV\n\r", ""},
        {"TRIG:LEV 3 \r\n", {set(113, 3)}, "", ""},
        {"TRIG:QONL? ;QONL?\n", {}, "Q\n\rQ\n\r", ""},
        {"TRIG:QONL?;TRIG:QONL?\n", {}, "Q\n\r", "10"},
        // A number first: one -128, the rest of the line is not run.
        {"5 TRIG:LEV 3\n", {}, "", "13"},
        {":5\n", {}, "", "13"},
        {"TRIG:LEV 1 2;SLOP 1\n", {}, "", "2"},
        {"NOPE;TRIG:LEV 1\nTRIG:LEV 2\n", {set(113, 2)}, "", "10"},
        {"TRIG:LEV 1;NOPE;SLOP 1\n", {set(113, 1)}, "", "10"},
        {"TRIG:ABCDEFGHIJKLM 1;SLOP 1\n", {}, "", "9"},
        // The failing second unit of three: the first stays, the third is ignored, and the
        // failing handler's records are not posted.
        {"TRIG:LEV 1;BAD;SLOP 1\n", {set(113, 1)}, "", "25"},
        {"TRIG:BAD\nTRIG:SLOP 1\n", {set(185, 1)}, "", "25"},
        {"TRIG:MULT\n", {set(201, 1), set(202, 2), set(203, 3)}, "", ""},
        // Common commands anywhere, without losing the path.
        {"TRIG:SEQ:LEV 1;*OPC?;SLOP 0\n", {set(113, 1), set(185, 0)}, "1\n\r", ""},
        {"TRIG:LEV 1;*OPC?;LEV?\n", {set(113, 1)}, "1\n\rLEV\n\r", ""},
        {"*OPC?;*OPC?\n", {}, "1\n\r1\n\r", ""},
        {"TRIG:SEQ:LEV 1\n*OPC?;TRIG:SLOP 1\n", {set(113, 1), set(185, 1)}, "1\n\r", ""},
        {"TRIG:SEQ:LEV 1;:TRIG:SLOP 1\n", {set(113, 1), set(185, 1)}, "", ""},
        // Several lines in one send, an empty unit, leading blanks.
        {"\n  TRIG:LEV 4\n\nTRIG:SLOP 2\n", {set(113, 4), set(185, 2)}, "", ""},
    };
    startController();
    startInterpreter();
    run("");
    for (const TLineCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(run(c.input), std::string(c.replies) + "errs " + c.errors + " esr " + esrOf(c.errors) + "\n\r");
        EXPECT_EQ(takeRecords(), c.applied);
    }
}

TEST_F(InterpreterTest, OpcSetsTheOperationCompleteBit)
{
    startController();
    startInterpreter();
    run("");
    EXPECT_EQ(run("*OPC\n"), "errs  esr 1\n\r");
}

TEST_F(InterpreterTest, WaitReportsTheDeviceErrorInsideTheTableAndClearsIt)
{
    struct TCase {
        int16_t deviceError;
        const char* errors;
        std::vector<TTaken> applied;
    };
    const TCase cases[] = {
        {0, "", {TTaken{0, 0, 0, 0}}},
        {22, "22", {TTaken{0, 0, 0, 0}, set(130, 0)}},
        {5, "5", {TTaken{0, 0, 0, 0}, set(130, 0)}},
        // Outside 1..37 the number would leave the error table: -200.
        {99, "22", {TTaken{0, 0, 0, 0}, set(130, 0)}},
        {-3, "22", {TTaken{0, 0, 0, 0}, set(130, 0)}},
    };
    startController();
    startInterpreter();
    run("");
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.deviceError);
        data.deviceError = c.deviceError;
        std::string reply = run("WAIT\n");
        EXPECT_EQ(reply.substr(0, reply.find(" esr")), std::string("errs ") + c.errors);
        EXPECT_EQ(takeRecords(), c.applied);
        EXPECT_EQ(data.deviceError, 0);
    }
}

// ---- hand-off ------------------------------------------------------------------------------

class HandoffTest : public InterpreterTest {
protected:
    static bool take(pipe_dial* r, int seconds = 5)
    {
        return o_g_consMessageBox.receive(r, true, seconds) == 0;
    }
    bool waitUntilReplyEnds()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string r = session_->replies();
            if (r.size() >= 2 && r.compare(r.size() - 2, 2, "\n\r") == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    static bool boxEmptyFor(int ms)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        pipe_dial r{};
        return !o_g_consMessageBox.peek(&r);
    }
};

TEST_F(HandoffTest, EachRequestWaitsForItsReleaseAndTheReplyComesAfterTheLast)
{
    startInterpreter();
    session_->send("TRIG:MULT;*OPC?\n");
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        pipe_dial r{};
        ASSERT_TRUE(take(&r));
        EXPECT_EQ(r.code, 200 + i);
        EXPECT_EQ(r.senderId, senderValue(SCPI_id));
        // Nothing more is posted and nothing is answered before the release.
        EXPECT_TRUE(boxEmptyFor(50));
        EXPECT_EQ(session_->replies(), "");
        scpi_SemP();
    }
    EXPECT_TRUE(session_->waitForReplies(3, 5000));
    EXPECT_EQ(session_->replies(), "1\n\r");
}

TEST_F(HandoffTest, AReleaseWithNothingOutstandingIsNotKeptForTheNextRequest)
{
    startInterpreter();
    scpi_SemP();
    scpi_SemP();
    session_->send("TRIG:LEV 1;*OPC?\n");
    pipe_dial r{};
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.code, 113);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(session_->replies(), "");
    scpi_SemP();
    EXPECT_TRUE(session_->waitForReplies(3, 5000));
    EXPECT_EQ(session_->replies(), "1\n\r");
}

TEST_F(HandoffTest, SpuriousWakeUpsDoNotEndTheWait)
{
    startInterpreter();
    session_->send("TRIG:LEV 1;*OPC?\n");
    pipe_dial r{};
    ASSERT_TRUE(take(&r));
    for (int i = 0; i < 5; ++i) {
        pthread_mutex_lock(&o_g_synchroScpiMutex);
        pthread_cond_broadcast(&o_g_synchroScpiCond);
        pthread_mutex_unlock(&o_g_synchroScpiMutex);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(session_->replies(), "");
    scpi_SemP();
    EXPECT_TRUE(session_->waitForReplies(3, 5000));
}

TEST_F(HandoffTest, AFullBoxIsRetriedUntilTheRequestIsQueued)
{
    pipe_dial filler{REQ_SCREEN, 0, 0, 0, 0.0f, kSenderTimer};
    int queued = 0;
    while (o_g_consMessageBox.send(&filler) == 0)
        ++queued;
    ASSERT_EQ(queued, kMessageBoxSlots - 1);

    startInterpreter();
    session_->send("TRIG:LEV 7;*OPC?\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Drain the fillers; the interpreter's record follows them once there was room.
    pipe_dial r{};
    for (int i = 0; i < queued; ++i) {
        ASSERT_TRUE(take(&r));
        ASSERT_EQ(r.kind, REQ_SCREEN);
    }
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.kind, REQ_SET_PARAM);
    EXPECT_EQ(r.code, 113);
    EXPECT_EQ(r.intValue, 7);
    EXPECT_TRUE(boxEmptyFor(50));
    scpi_SemP();
    EXPECT_TRUE(session_->waitForReplies(3, 5000));
    EXPECT_EQ(session_->replies(), "1\n\r");
}

// A controller that withholds its release (a step waiting for an acquisition that never comes)
// holds the interpreter only for the bound: the command ends with -300, the requests after the
// withheld one are not posted, and the session goes on. The late release then frees only the
// request it belongs to, never a later one.
TEST_F(HandoffTest, AWithheldReleaseEndsTheCommandAfterTheBoundAndTheSessionGoesOn)
{
    setScpiReleaseTimeoutMs(300);
    startInterpreter();
    session_->send("TRIG:MULT\nmark?\n");
    pipe_dial r{};
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.code, 201);
    ASSERT_TRUE(session_->waitForReplies(1, 5000));
    ASSERT_TRUE(waitUntilReplyEnds());
    EXPECT_EQ(session_->takeReplies(), "errs 33 esr 136\n\r");  // power on, device-dependent error
    EXPECT_TRUE(boxEmptyFor(50)) << "the requests after the withheld one are dropped";

    scpi_SemP();  // late, for request 201
    session_->send("TRIG:LEV 1;*OPC?\n");
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.code, 113);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(session_->replies(), "");
    scpi_SemP();
    EXPECT_TRUE(waitUntilReplyEnds());
    EXPECT_EQ(session_->replies(), "1\n\r");
}

// Stopped while it waits for a release, then while it waits for input, the interpreter ends at
// once; the request it left unreleased is forgotten, so that the next interpreter's request
// waits for a release of its own.
TEST_F(HandoffTest, AStoppedInterpreterEndsItsWaitsAndItsSuccessorWaitsForItsOwnRelease)
{
    startInterpreter();
    session_->send("TRIG:LEV 1;*OPC?\n");
    pipe_dial r{};
    ASSERT_TRUE(take(&r));
    auto stopTakes = [] {
        const auto start = std::chrono::steady_clock::now();
        stopScpiInterpreter();
        return std::chrono::steady_clock::now() - start;
    };
    EXPECT_LT(stopTakes(), std::chrono::seconds(2)) << "the release bound is 30 s";
    EXPECT_EQ(session_->replies(), "");

    startInterpreter();
    session_->send("TRIG:LEV 2;*OPC?\n");
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.code, 113);
    EXPECT_EQ(r.intValue, 2);
    scpi_SemP();
    EXPECT_TRUE(waitUntilReplyEnds());
    EXPECT_EQ(session_->takeReplies(), "1\n\r");
    EXPECT_LT(stopTakes(), std::chrono::seconds(2)) << "waiting for input";
}

// A stand-in controller that knows it will not release in time ends the wait at once, as the
// bound would: far below a bound of a minute, the command ends with -300 and the late release
// still frees only its own request.
TEST_F(HandoffTest, EndingTheReleaseWaitActsAsItsBoundAtOnce)
{
    const int saved = scpiReleaseTimeoutMs();
    setScpiReleaseTimeoutMs(60000);
    startInterpreter();
    session_->send("TRIG:MULT\nmark?\n");
    pipe_dial r{};
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.code, 201);
    scpiEndReleaseWaits();
    ASSERT_TRUE(waitUntilReplyEnds());
    EXPECT_EQ(session_->takeReplies(), "errs 33 esr 136\n\r");
    EXPECT_TRUE(boxEmptyFor(50));

    scpi_SemP();  // late, for request 201
    session_->send("TRIG:LEV 1;*OPC?\n");
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.code, 113);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(session_->replies(), "") << "a request posted after the call waits for its own release";
    scpi_SemP();
    EXPECT_TRUE(waitUntilReplyEnds());
    EXPECT_EQ(session_->replies(), "1\n\r");
    setScpiReleaseTimeoutMs(saved);
}

TEST_F(HandoffTest, ASemVFromAnotherThreadCarriesThatThreadsIdentity)
{
    // Before the controller has written SCPI_id, the record already names its poster.
    std::atomic<intptr_t> self{0};
    std::thread poster([&self] {
        self = senderValue(pthread_self());
        pipe_dial clear{REQ_SET_PARAM, param::deviceError, 0, 0, 0.0f, 0};
        scpi_SemV(&clear);
    });
    pipe_dial r{};
    ASSERT_TRUE(take(&r));
    EXPECT_EQ(r.senderId, self.load());
    EXPECT_NE(r.senderId, 0);
    scpi_SemP();
    poster.join();
}

} // namespace

namespace {

// ---- the real command tree -----------------------------------------------------------------

TEST_F(InterpreterTest, RealTreeAnswersErrorsThroughSystErrInQueueOrder)
{
    setScpiTree(nullptr);
    startController();
    startInterpreter();
    // A path node alone, a number first, then a set of a query-only header.
    session_->send("ARM\n5 ABC\n:SYST:ERR?;ERR?\nSYST:ERR? \r\n");
    const std::string expected = "-113,Undefined header\n\r-128,Numeric data not allowed\n\r"
                                 "0,No error \n\r";
    ASSERT_TRUE(session_->waitForReplies(expected.size(), 5000)) << session_->replies();
    EXPECT_EQ(session_->replies(), expected);
    EXPECT_TRUE(takeRecords().empty());
}

// A block that ends by its time-out, short or refused for its size: its bytes are gone, and the
// next line the client sends after the pause is read and answered, whatever the transport.
TEST_F(InterpreterTest, TheLineAfterATimedOutBlockIsAnswered)
{
    setScpiTree(nullptr);
    setScpiBlockTimeoutMs(200);
    startController();
    startInterpreter();
    struct Row {
        const char* block;
        const char* error;
    };
    // The line ends are block bytes: the input stops inside the block.
    for (const Row& row : {Row{"ZC:CAL:LIST #210abc\n", "-360,Communication error\n\r"},
                           Row{"ZC:CAL:LIST #9999999999\n", "-360,Communication error\n\r"}}) {
        SCOPED_TRACE(row.block);
        session_->send(row.block);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        session_->send("SYST:ERR?\nSYST:ERR?\n");
        const std::string expected = std::string(row.error) + "0,No error \n\r";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (session_->replies().size() < expected.size() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(session_->takeReplies(), expected);
    }
}

// A client known to send nothing more ends a block short of its count at once, as the block
// time-out would (here a minute): the interpreter has then read everything, and the next line
// is answered.
TEST_F(InterpreterTest, ASilentClientEndsAShortBlockAtOnce)
{
    setScpiTree(nullptr);
    const int saved = scpiBlockTimeoutMs();
    setScpiBlockTimeoutMs(60000);
    startController();
    startInterpreter();
    session_->send("ZC:CAL:LIST #210abc\n");
    EXPECT_FALSE(session_->waitUntilRead(200)) << "the block waits for the rest while the client may send it";
    session_->fallSilent();
    ASSERT_TRUE(session_->waitUntilRead(5000));
    session_->send("SYST:ERR?\nSYST:ERR?\n");
    const std::string expected = "-360,Communication error\n\r0,No error \n\r";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (session_->replies().size() < expected.size() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(session_->takeReplies(), expected);
    setScpiBlockTimeoutMs(saved);
}

} // namespace
