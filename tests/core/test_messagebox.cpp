#include "core/requests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

pipe_dial request(int32_t code, intptr_t sender = 0)
{
    pipe_dial r{};
    r.kind = REQ_SET_PARAM;
    r.code = code;
    r.intValue = code * 10;
    r.floatValue = code * 0.5f;
    r.senderId = sender;
    return r;
}

TEST(MessageBox, FullBoxDropsTheNewestAndKeepsTheOldestInOrder)
{
    TTavlinMessageBox<pipe_dial> box(kMessageBoxSlots);
    for (int i = 0; i < 127; ++i) {
        pipe_dial r = request(i);
        ASSERT_EQ(box.send(&r), 0) << i;
    }
    pipe_dial extra = request(999);
    EXPECT_EQ(box.send(&extra), -1);
    for (int i = 0; i < 127; ++i) {
        pipe_dial out{};
        ASSERT_EQ(box.receive(&out, true, 1), 0);
        EXPECT_EQ(out.code, i);
        EXPECT_EQ(out.intValue, i * 10);
        EXPECT_EQ(out.floatValue, i * 0.5f);
    }
    pipe_dial out = request(-7);
    EXPECT_EQ(box.receive(&out, true, 1), -1);
}

TEST(MessageBox, PeekLeavesTheRecordAtTheHead)
{
    TTavlinMessageBox<pipe_dial> box(kMessageBoxSlots);
    pipe_dial r = request(42, 1234);
    ASSERT_EQ(box.send(&r), 0);
    for (int i = 0; i < 2; ++i) {
        pipe_dial out{};
        ASSERT_EQ(box.receive(&out, false, 0), 0);
        EXPECT_EQ(out.code, 42);
        EXPECT_EQ(out.senderId, 1234);
    }
    pipe_dial out{};
    ASSERT_EQ(box.receive(&out, true, 0), 0);
    EXPECT_EQ(out.code, 42);
    EXPECT_EQ(box.receive(&out, true, 1), -1);
}

TEST(MessageBox, RecordsWrapAroundTheEndOfTheSlots)
{
    // A small box makes the write pointer wrap many times.
    TTavlinMessageBox<TLongArray> box(5);
    int next = 0, expected = 0;
    for (int round = 0; round < 50; ++round) {
        int burst = round % 5;  // 0..4 records, 4 being the capacity
        for (int i = 0; i < burst; ++i) {
            TLongArray m{next++, 8191, 2, -1};
            ASSERT_EQ(box.send(&m), 0);
        }
        for (int i = 0; i < burst; ++i) {
            TLongArray m{};
            ASSERT_EQ(box.receive(&m, true, 1), 0);
            ASSERT_EQ(m.code, expected++);
            EXPECT_EQ(m.channelMask, 8191);
        }
    }
    EXPECT_EQ(expected, next);
}

TEST(MessageBox, RemovingPickedRecordsKeepsTheOthersInOrderAcrossTheWrap)
{
    // Every start position of a box of 5 slots, four records, the odd codes removed.
    for (int start = 0; start < 5; ++start) {
        SCOPED_TRACE(start);
        TTavlinMessageBox<TLongArray> box(5);
        for (int i = 0; i < start; ++i) {
            TLongArray m{};
            box.send(&m);
            box.receive(&m, true, 1);
        }
        for (int code = 0; code < 4; ++code) {
            TLongArray m{code, 0, 0, 0};
            ASSERT_EQ(box.send(&m), 0);
        }
        EXPECT_EQ(box.removeIf([](const TLongArray& m) { return m.code % 2 == 1; }), 2);
        EXPECT_EQ(box.count(), 2);
        // The freed slots take new records after the kept ones.
        for (int code : {10, 11}) {
            TLongArray m{code, 0, 0, 0};
            ASSERT_EQ(box.send(&m), 0);
        }
        std::vector<int> order;
        TLongArray m{};
        while (box.peek(&m)) {
            box.receive(&m, true, 1);
            order.push_back(m.code);
        }
        EXPECT_EQ(order, (std::vector<int>{0, 2, 10, 11}));
    }
}

TEST(MessageBox, TimedReceiveOnAnEmptyBoxTimesOutAndLeavesTheRecord)
{
    TTavlinMessageBox<pipe_dial> box(kMessageBoxSlots);
    pipe_dial out = request(77);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(box.receive(&out, true, 1), -1);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_EQ(out.code, 77);
    EXPECT_EQ(out.intValue, 770);
}

TEST(MessageBox, SendFromAnotherThreadEndsAWait)
{
    TTavlinMessageBox<pipe_dial> box(kMessageBoxSlots);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pipe_dial r = request(5);
        box.send(&r);
    });
    pipe_dial out{};
    EXPECT_EQ(box.receive(&out, true, 10), 0);
    EXPECT_EQ(out.code, 5);
    writer.join();
}

TEST(MessageBox, ManyWritersOneReaderLoseNothingAndKeepEachWritersOrder)
{
    TTavlinMessageBox<pipe_dial> box(kMessageBoxSlots);
    constexpr int kWriters = 4, kPerWriter = 2000;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&box, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                pipe_dial r = request(i, w);
                while (box.send(&r) != 0)  // full: the reader is behind, try again
                    std::this_thread::yield();
            }
        });
    }
    std::vector<int> nextOf(kWriters, 0);
    for (int n = 0; n < kWriters * kPerWriter; ++n) {
        pipe_dial out{};
        ASSERT_EQ(box.receive(&out, true, 10), 0);
        ASSERT_GE(out.senderId, 0);
        ASSERT_LT(out.senderId, kWriters);
        ASSERT_EQ(out.code, nextOf[out.senderId]++);
    }
    for (auto& t : writers)
        t.join();
    pipe_dial out{};
    EXPECT_EQ(box.receive(&out, true, 1), -1);
}

TEST(MessageBox, GlobalBoxesExchangeRecordsBetweenThreads)
{
    std::thread t([] {
        pipe_dial r = request(38, senderValue(pthread_self()));
        o_g_consMessageBox.send(&r);
        TLongArray m{73, CH_ALL, ACQ_RESTART_FULL, senderValue(pthread_self())};
        o_g_acquMessageBox.send(&m);
    });
    pipe_dial r{};
    TLongArray m{};
    ASSERT_EQ(o_g_consMessageBox.receive(&r, true, 5), 0);
    ASSERT_EQ(o_g_acquMessageBox.receive(&m, true, 5), 0);
    EXPECT_EQ(r.code, 38);
    EXPECT_EQ(m.code, 73);
    EXPECT_EQ(r.senderId, m.senderId);
    EXPECT_NE(r.senderId, 0);
    t.join();
    EXPECT_EQ(senderValue(MENU_id), kSenderUserInterface);
}

// The look without waiting that the acquisition control thread collapses orders with.
TEST(MessageBox, NonBlockingPeekAndEmptinessTest)
{
    TTavlinMessageBox<TLongArray> box(3);
    TLongArray out{-1, -1, -1, -1};
    EXPECT_TRUE(box.empty());
    EXPECT_FALSE(box.peek(&out));  // returns at once
    EXPECT_EQ(out.code, -1);       // untouched

    for (int32_t code : {1, 2, 3}) {  // the third does not fit
        const TLongArray order{code, 0, 0, 0};
        box.send(&order);
    }
    ASSERT_FALSE(box.empty());
    ASSERT_TRUE(box.peek(&out));
    EXPECT_EQ(out.code, 1);
    ASSERT_TRUE(box.peek(&out));  // still there
    EXPECT_EQ(out.code, 1);
    ASSERT_EQ(box.receive(&out, true, 0), 0);
    ASSERT_TRUE(box.peek(&out));
    EXPECT_EQ(out.code, 2);
    ASSERT_EQ(box.receive(&out, true, 0), 0);
    EXPECT_TRUE(box.empty());
    EXPECT_FALSE(box.peek(&out));
}

} // namespace
