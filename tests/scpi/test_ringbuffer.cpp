#include "scpi/io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(RingBuffer, HoldsSizeMinusOneAndReportsFillAtTheEdges)
{
    TRingBuffer fifo(8192);
    EXPECT_EQ(fifo.NBytes(), 0);
    EXPECT_EQ(fifo.free(), 8191);
    std::vector<char> data(9000, 'x');
    EXPECT_EQ(fifo.Put(data.data(), 8191), 8191);
    EXPECT_EQ(fifo.NBytes(), 8191);
    EXPECT_EQ(fifo.free(), 0);
    EXPECT_EQ(fifo.Put(data.data(), 1), 0);  // the 8192nd byte waits
    char one;
    EXPECT_EQ(fifo.Get(&one, 1), 1);
    EXPECT_EQ(fifo.free(), 1);
    EXPECT_EQ(fifo.Put(data.data(), 5), 1);  // as many as fit
    std::vector<char> out(9000);
    EXPECT_EQ(fifo.Get(out.data(), 9000), 8191);
    EXPECT_EQ(fifo.Get(out.data(), 10), 0);
    EXPECT_EQ(fifo.NBytes(), 0);
}

TEST(RingBuffer, WrapsAroundInTwoPiecesKeepingOrder)
{
    TRingBuffer fifo(8);
    char out[16];
    // Walk the pointers round several times with pieces that straddle the end.
    int next = 0, expected = 0;
    for (int round = 0; round < 20; ++round) {
        char in[5];
        for (char& c : in)
            c = static_cast<char>('a' + next++ % 26);
        ASSERT_EQ(fifo.Put(in, 5), 5);
        ASSERT_EQ(fifo.NBytes(), 5);
        ASSERT_EQ(fifo.free(), 2);
        ASSERT_EQ(fifo.Get(out, 5), 5);
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(out[i], static_cast<char>('a' + expected++ % 26)) << "round " << round;
    }
    // Fill completely across the end, then drain in two calls.
    ASSERT_EQ(fifo.Put("0123", 4), 4);
    ASSERT_EQ(fifo.Put("456789", 6), 3);
    EXPECT_EQ(fifo.NBytes(), 7);
    EXPECT_EQ(fifo.Get(out, 3), 3);
    EXPECT_EQ(fifo.Get(out + 3, 10), 4);
    EXPECT_EQ(std::string(out, 7), "0123456");
}

} // namespace
