// Pass/fail counter: texts, saturation and counting while another thread clears and reads.
#include "acquisition/TPassFailCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace {

TEST(PassFailCounter, TextsOfEachType)
{
    TPassFailCounter c;
    EXPECT_EQ(c.get(0), "0 / 0");
    for (int i = 0; i < 3; ++i)
        c.incPass();
    c.incFail();
    EXPECT_EQ(c.get(1), "3 / 4");
    EXPECT_EQ(c.get(2), "1 / 4");
    EXPECT_EQ(c.get(0), "4 / 4");
    EXPECT_EQ(c.get(3), "4 / 4");
    EXPECT_EQ(c.get(-1), "4 / 4");
    c.raz();
    EXPECT_EQ(c.get(1), "0 / 0");
    EXPECT_EQ(c.passCount, 0);
    EXPECT_EQ(c.failCount, 0);
}

TEST(PassFailCounter, SaturationAndLargeTotals)
{
    struct Row {
        int32_t pass;
        int32_t fail;
        const char* type1;
        const char* type2;
        const char* type0;
    };
    const Row rows[] = {
        {99998, 0, "99998 / 99998", "0 / 99998", "99998 / 99998"},
        {99999, 0, ">99999 / >99999", "0 / >99999", ">99999 / >99999"},
        {60000, 39998, "60000 / 99998", "39998 / 99998", "99998 / 99998"},
        {60000, 39999, "60000 / >99999", "39999 / >99999", ">99999 / >99999"},
        {99999, 99999, ">99999 / >99999", ">99999 / >99999", ">99999 / >99999"},
    };
    for (const Row& r : rows) {
        TPassFailCounter c;
        c.passCount = r.pass;
        c.failCount = r.fail;
        EXPECT_EQ(c.get(1), r.type1);
        EXPECT_EQ(c.get(2), r.type2);
        EXPECT_EQ(c.get(0), r.type0);
    }

    // Counting stops at 99999.
    TPassFailCounter c;
    c.passCount = 99998;
    c.failCount = 99998;
    for (int i = 0; i < 3; ++i) {
        c.incPass();
        c.incFail();
    }
    EXPECT_EQ(c.passCount, 99999);
    EXPECT_EQ(c.failCount, 99999);
}

// "a / b" with a <= b read under one lock (a == b for type 0); false when malformed.
bool consistent(const std::string& text, bool equal)
{
    int a = -1;
    int b = -1;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%d / %d%c", &a, &b, &rest) != 2)
        return false;
    return a >= 0 && (equal ? a == b : a <= b);
}

TEST(PassFailCounter, CountsWhileAnotherThreadClearsAndReads)
{
    constexpr int kCounts = 20000;
    TPassFailCounter c;

    // Two counting threads and a reader: the final counts are exact.
    std::atomic<bool> bad{false};
    std::atomic<bool> done{false};
    auto reader = [&] {
        while (!done)
            if (!consistent(c.get(0), true) || !consistent(c.get(1), false))
                bad = true;
    };
    {
        std::thread r(reader);
        std::thread p([&] { for (int i = 0; i < kCounts; ++i) c.incPass(); });
        std::thread f([&] { for (int i = 0; i < kCounts; ++i) c.incFail(); });
        p.join();
        f.join();
        done = true;
        r.join();
    }
    EXPECT_FALSE(bad);
    EXPECT_EQ(c.get(1), "20000 / 40000");
    EXPECT_EQ(c.get(2), "20000 / 40000");

    // A third thread clears and reads meanwhile: every text stays whole, counts within bounds.
    // The counting threads start only once it has cleared, so at least one clear falls before
    // their counts, however the threads are scheduled.
    done = false;
    std::atomic<bool> cleared{false};
    {
        std::thread r([&] {
            do {
                c.raz();
                cleared = true;
                if (!consistent(c.get(1), false))
                    bad = true;
            } while (!done);
        });
        auto afterClear = [&](void (TPassFailCounter::*count)()) {
            while (!cleared)
                std::this_thread::yield();
            for (int i = 0; i < kCounts; ++i)
                (c.*count)();
        };
        std::thread p(afterClear, &TPassFailCounter::incPass);
        std::thread f(afterClear, &TPassFailCounter::incFail);
        p.join();
        f.join();
        done = true;
        r.join();
    }
    EXPECT_FALSE(bad);
    pthread_mutex_lock(&c.mutex);
    EXPECT_LE(c.passCount, kCounts);
    EXPECT_LE(c.failCount, kCounts);
    pthread_mutex_unlock(&c.mutex);
    c.raz();
    c.incFail();
    EXPECT_EQ(c.get(2), "1 / 1");
}

} // namespace
