#include "network/requestkey.h"

#include <gtest/gtest.h>

TEST(RequestKey, RenewsFromTheOriginAndWrapsTheId)
{
    l_g_requestKeyOrigin = 0x10000;
    us_g_requestId = 0;
    for (int32_t expected : {0x10001, 0x10002, 0x10003}) {
        ResetRequestKey();
        EXPECT_EQ(l_g_requestKey.load(), expected);
    }
    us_g_requestId = 0x7FFF;
    ResetRequestKey();
    EXPECT_EQ(us_g_requestId.load(), 0);
    EXPECT_EQ(l_g_requestKey.load(), 0x10000);
}
