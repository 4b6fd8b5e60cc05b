// The reply queue of a session: order and bytes kept across growth and wrap-around, the
// interpreter waiting only while the writer moves, and the stall, drop, clear and close rules.
#include "scpi/io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Takes everything from the queue in pieces of at most piece bytes, pausing between them.
std::string drain(TScpiReplyQueue& q, size_t piece, std::chrono::milliseconds pause)
{
    std::string got;
    std::vector<char> buf(piece);
    uint64_t generation = 0;
    while (size_t n = q.peek(buf.data(), buf.size(), &generation)) {
        // Hand over less than was peeked now and then: the rest is peeked again.
        size_t taken = n > 3 ? n - 3 : n;
        got.append(buf.data(), taken);
        q.consume(taken, generation);
        std::this_thread::sleep_for(pause);
    }
    return got;
}

TEST(ReplyQueue, RepliesLargerThanTheQueueKeepTheirOrderAndBytesWhileTheWriterMoves)
{
    TScpiReplyQueue q(1000);
    std::string expected;
    std::string got;
    std::thread writer([&] { got = drain(q, 257, 1ms); });
    for (int i = 0; i < 200; ++i) {
        // Short replies, and blocks several times the queue's size.
        std::string reply = i % 50 == 7 ? std::string(4321, static_cast<char>('a' + i % 26)) : "r" + std::to_string(i) + "\n\r";
        expected += reply;
        ASSERT_EQ(q.append(reply.data(), reply.size(), 200), TScpiReplyQueue::kAppended) << i;
    }
    q.close();
    writer.join();
    EXPECT_EQ(got, expected);
    EXPECT_EQ(q.size(), 0u);
}

// A transport that takes at most a few bytes at once, whether offered directly or by the writer.
struct TNarrowTransport {
    std::mutex mutex;
    std::string got;
    static ssize_t take(void* self, const char* data, size_t length)
    {
        auto* t = static_cast<TNarrowTransport*>(self);
        std::lock_guard<std::mutex> lock(t->mutex);
        const size_t n = std::min<size_t>(length, 5);
        t->got.append(data, n);
        return static_cast<ssize_t>(n);
    }
};

TEST(ReplyQueue, RepliesOfferedDirectlyKeepTheirOrderWithWhatIsQueued)
{
    TNarrowTransport transport;
    TScpiReplyQueue q(64);
    q.setDirectWrite(&TNarrowTransport::take, &transport);
    std::thread writer([&] {
        char buf[16];
        uint64_t generation = 0;
        while (size_t n = q.peek(buf, sizeof buf, &generation)) {
            const ssize_t taken = TNarrowTransport::take(&transport, buf, n);
            q.consume(static_cast<size_t>(taken), generation);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string reply = "reply " + std::to_string(i) + "\n\r";
        expected += reply;
        ASSERT_EQ(q.append(reply.data(), reply.size(), 1000), TScpiReplyQueue::kAppended);
        if (i % 37 == 0)
            std::this_thread::sleep_for(5ms);  // the queue runs empty: the next goes direct
    }
    q.close();
    writer.join();
    EXPECT_EQ(transport.got, expected);
}

TEST(ReplyQueue, AFullQueueThatDoesNotMoveStallsAfterTheLimitKeepingWhatFitted)
{
    TScpiReplyQueue q(100);
    const std::string reply(150, 'x');
    const auto start = Clock::now();
    EXPECT_EQ(q.append(reply.data(), reply.size(), 150), TScpiReplyQueue::kStalled);
    EXPECT_GE(Clock::now() - start, 140ms);
    EXPECT_EQ(q.size(), 100u);
    EXPECT_GE(q.stillMs(), 140);

    // A slow writer that keeps taking holds the interpreter longer than the limit, without a stall.
    TScpiReplyQueue slow(100);
    ASSERT_EQ(slow.append(reply.data(), 100, 150), TScpiReplyQueue::kAppended);
    std::thread writer([&] { drain(slow, 20, 30ms); });
    const std::string more(400, 'y');
    const auto again = Clock::now();
    EXPECT_EQ(slow.append(more.data(), more.size(), 150), TScpiReplyQueue::kAppended);
    EXPECT_GE(Clock::now() - again, 300ms);
    slow.close();
    writer.join();
}

TEST(ReplyQueue, DropClearAndCloseRules)
{
    struct Row {
        const char* name;
        void (*act)(TScpiReplyQueue&);
        TScpiReplyQueue::Result appendAfter;
        bool stalePeekTaken;
    };
    const Row rows[] = {
        {"drop", [](TScpiReplyQueue& q) { q.drop(); }, TScpiReplyQueue::kDropped, false},
        {"clear", [](TScpiReplyQueue& q) { q.clear(); }, TScpiReplyQueue::kAppended, false},
        {"close", [](TScpiReplyQueue& q) { q.close(); }, TScpiReplyQueue::kDropped, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TScpiReplyQueue q(64);
        ASSERT_EQ(q.append("abcdef", 6, 10), TScpiReplyQueue::kAppended);
        char buf[16];
        uint64_t generation = 0;
        ASSERT_EQ(q.peek(buf, 4, &generation), 4u);
        row.act(q);
        EXPECT_EQ(q.append("zz", 2, 10), row.appendAfter);
        // What was peeked before a drop or clear is not taken from what came after it.
        q.consume(4, generation);
        const size_t left = q.size();
        if (row.stalePeekTaken) {
            EXPECT_EQ(left, 2u);  // closed: "ef" still goes out, then the end
            EXPECT_EQ(q.peek(buf, sizeof buf, &generation), 2u);
            q.consume(2, generation);
            EXPECT_EQ(q.peek(buf, sizeof buf, &generation), 0u);
        } else if (row.appendAfter == TScpiReplyQueue::kAppended) {
            EXPECT_EQ(left, 2u);
            EXPECT_EQ(q.peek(buf, sizeof buf, &generation), 2u);
            EXPECT_EQ(std::string(buf, 2), "zz");
        } else {
            EXPECT_EQ(left, 0u);
            EXPECT_TRUE(q.dropped());
            EXPECT_EQ(q.peek(buf, sizeof buf, &generation), 0u);
        }
    }
}

TEST(ReplyQueue, ADropWakesAWaitingInterpreterAndAnIdleWriter)
{
    TScpiReplyQueue q(10);
    std::atomic<int> result{-1};
    std::thread interpreter([&] { result = q.append("0123456789abc", 13, 60000); });
    std::this_thread::sleep_for(50ms);
    q.drop();
    interpreter.join();
    EXPECT_EQ(result.load(), TScpiReplyQueue::kDropped);

    TScpiReplyQueue idle(10);
    std::atomic<size_t> peeked{99};
    std::thread writer([&] {
        char buf[4];
        uint64_t generation;
        peeked = idle.peek(buf, sizeof buf, &generation);
    });
    std::this_thread::sleep_for(50ms);
    idle.drop();
    writer.join();
    EXPECT_EQ(peeked.load(), 0u);
}

} // namespace
