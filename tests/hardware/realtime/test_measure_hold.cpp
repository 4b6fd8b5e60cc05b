// MEASure and TRACe? queries against the live acquisition: the real controller, acquisition
// threads and interpreter on the simulated board, while another thread keeps holding and
// releasing the acquisition as the controller's file work does. Every query answers and nothing
// deadlocks.
#include "tests/core/command_fixture.h"

#include "acquisition/TAcquisition.h"
#include "core/requests.h"
#include "hardware/handshake.h"
#include "scpi/io.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

size_t countReplies(const std::string& text)
{
    size_t n = 0;
    for (size_t p = text.find("\n\r"); p != std::string::npos; p = text.find("\n\r", p + 2))
        ++n;
    return n;
}

class MeasureHoldTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        COMM_id = pthread_self();
        recordPauses(true);
        simboard::TSignal square;
        square.shape = "square";
        square.vpp = 2.0;
        square.frequency = 1000.0;
        simboard::setSignal(0, square);
    }

    // Scope mode with channel 1 shown, then `count` queries (query(i), after the preamble) while
    // a thread keeps holding and releasing. The replies; the hand-shake checked afterwards.
    std::string askWhileHeld(const char* preamble, size_t count, const std::function<const char*(size_t)>& query)
    {
        commandStartup();
        pipe_dial scope{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0};
        EXPECT_EQ(o_g_consMessageBox.send(&scope), 0);
        pipe_dial channel1{REQ_SET_PARAM, param::traceOnCh1, 0, 1, 0.0f, 0};
        EXPECT_EQ(o_g_consMessageBox.send(&channel1), 0);
        int notices = 0;
        EXPECT_TRUE(runLoop(20000, [&](const pipe_dial& r) { notices += r.kind == REQ_CHANNEL_STATE; },
                            [&] { return notices > 2; }));
        AcqClearHandshakeMisuse();
        const uint64_t stamp = AcqResumeStamp();

        std::atomic<bool> stop{false};
        std::thread holder([&] {
            while (!stop.load()) {
                AcqSuspend();
                std::this_thread::sleep_for(std::chrono::microseconds(500));
                AcqResume(SYNCHRO_RESUME);
                std::this_thread::sleep_for(std::chrono::microseconds(700));
            }
        });
        std::atomic<bool> answered{false};
        std::string replies;
        std::thread client([&] {
            TScpiMemorySession session;
            session.send(preamble);
            for (size_t i = 0; i < count; ++i) {
                session.send(query(i));
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (countReplies(session.replies()) <= i && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (countReplies(session.replies()) <= i)
                    break;
            }
            replies = session.replies();
            answered = true;
        });
        const bool done = runLoop(60000, [](const pipe_dial&) {}, [&] { return answered.load(); });
        stop = true;
        holder.join();
        client.join();
        EXPECT_TRUE(done);
        EXPECT_EQ(countReplies(replies), count) << replies;

        // The holds woke the acquisition again each time, it runs on afterwards, and every hold
        // was its holder's own.
        EXPECT_GT(AcqResumeStamp(), stamp);
        notices = 0;
        EXPECT_TRUE(runLoop(20000, [&](const pipe_dial& r) { notices += r.kind == REQ_CHANNEL_STATE; },
                            [&] { return notices > 2; }));
        const TAcqHandshakeMisuse misuse = AcqHandshakeMisuse();
        EXPECT_EQ(misuse.strayResumes, 0u);
        EXPECT_EQ(misuse.strayReleases, 0u);
        EXPECT_EQ(misuse.setupsWithoutMutex, 0u);
        return replies;
    }
};

TEST_F(MeasureHoldTest, QueriesAnswerWhileAnotherThreadHoldsAndReleases)
{
    askWhileHeld("", 40, [](size_t i) { return i % 2 ? "MEAS:FREQ? INT1\n" : "MEAS:PTP? INT1\n"; });
}

TEST_F(MeasureHoldTest, TraceTransfersCompleteWhileAnotherThreadHoldsAndReleases)
{
    // Text values: a terminator in the data cannot be taken for the end of a reply.
    constexpr size_t kQueries = 40;
    const std::string replies = askWhileHeld("FORM ASC\nTRAC:LIM 0,99,3\n", kQueries,
                                             [](size_t i) { return i % 2 ? "TRAC? INT1\n" : "TRAC? IMG1\n"; });
    // Whole replies only: 34 words of four byte values, or the 2500 display words.
    size_t at = 0;
    for (size_t i = 0; i < kQueries && at < replies.size(); ++i) {
        const size_t end = replies.find("\n\r", at);
        ASSERT_NE(end, std::string::npos);
        const std::string reply = replies.substr(at, end - at);
        EXPECT_EQ(static_cast<size_t>(std::count(reply.begin(), reply.end(), ',')), i % 2 ? 34u * 4 : 2500u * 4)
            << i;
        at = end + 2;
    }
}

TEST_F(MeasureHoldTest, RawSortedSamplesAreCopiedBetweenTwoCycles)
{
    // The hold ends inside the query: the acquisition runs on and the other holder gets its turns.
    constexpr size_t kQueries = 6;
    const std::string replies =
        askWhileHeld("FORM ASC\n", kQueries, [](size_t) { return "ZC:CAL:MAT?\n"; });
    size_t at = 0;
    for (size_t i = 0; i < kQueries; ++i) {
        const size_t end = replies.find("\n\r", at);
        ASSERT_NE(end, std::string::npos);
        const std::string reply = replies.substr(at, end - at);
        EXPECT_EQ(static_cast<size_t>(std::count(reply.begin(), reply.end(), ',')), 10000u) << i;
        at = end + 2;
    }
}

// In the INTeger format: one definite-length block of 10000 bytes (the first 2500 sorted sample
// words) between "#510000" and "\n\r", 10009 bytes in all; the hold ends with the query, and the
// acquisition runs on with nobody else to wake it.
TEST_F(MeasureHoldTest, RawSortedSamplesComeAsOneBlockAndTheAcquisitionRunsOn)
{
    commandStartup();
    pipe_dial scope{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0};
    ASSERT_EQ(o_g_consMessageBox.send(&scope), 0);
    pipe_dial channel1{REQ_SET_PARAM, param::traceOnCh1, 0, 1, 0.0f, 0};
    ASSERT_EQ(o_g_consMessageBox.send(&channel1), 0);
    int notices = 0;
    ASSERT_TRUE(runLoop(20000, [&](const pipe_dial& r) { notices += r.kind == REQ_CHANNEL_STATE; },
                        [&] { return notices > 2; }));
    AcqClearHandshakeMisuse();
    const uint64_t stamp = AcqResumeStamp();

    constexpr size_t kBlock = 7 + 10000 + 2;
    std::atomic<bool> answered{false};
    std::string reply;
    std::thread client([&] {
        TScpiMemorySession session;
        session.send("FORM INT\nZC:CAL:MAT?\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (session.replies().size() < kBlock && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // nothing more comes
        reply = session.replies();
        answered = true;
    });
    const bool done = runLoop(60000, [](const pipe_dial&) {}, [&] { return answered.load(); });
    client.join();
    ASSERT_TRUE(done);
    ASSERT_EQ(reply.size(), kBlock);
    EXPECT_EQ(reply.substr(0, 7), "#510000");
    EXPECT_EQ(reply.substr(kBlock - 2), "\n\r");
    // Sample words of a 2 Vpp square wave: not one value repeated.
    std::set<uint32_t> words;
    for (size_t i = 7; i + 4 <= kBlock - 2; i += 4) {
        uint32_t w = 0;
        std::memcpy(&w, reply.data() + i, 4);
        words.insert(w);
    }
    EXPECT_GT(words.size(), 1u);

    notices = 0;
    EXPECT_TRUE(runLoop(20000, [&](const pipe_dial& r) { notices += r.kind == REQ_CHANNEL_STATE; },
                        [&] { return notices > 2; }));
    EXPECT_GT(AcqResumeStamp(), stamp);
    const TAcqHandshakeMisuse misuse = AcqHandshakeMisuse();
    EXPECT_EQ(misuse.strayResumes, 0u);
    EXPECT_EQ(misuse.strayReleases, 0u);
}

} // namespace
