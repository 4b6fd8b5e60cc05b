#include "core/utilities.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

TEST(Utilities, CharacterClassesAndDigitValues)
{
    for (int i = 0; i < 256; ++i) {
        char c = static_cast<char>(i);
        bool dec = i >= '0' && i <= '9';
        bool hexLetter = (i >= 'a' && i <= 'f') || (i >= 'A' && i <= 'F');
        bool letter = (i >= 'a' && i <= 'z') || (i >= 'A' && i <= 'Z');
        EXPECT_EQ(isDecimal(c), dec) << i;
        EXPECT_EQ(isHexa(c), dec || hexLetter) << i;
        EXPECT_EQ(isBinary(c), i == '0' || i == '1') << i;
        EXPECT_EQ(isCharacter(c), letter) << i;
        // Non-digits read as 0: callers test the class first.
        EXPECT_EQ(dectoi(c), dec ? i - '0' : 0) << i;
        EXPECT_EQ(bintoi(c), i == '1' ? 1 : 0) << i;
    }
    EXPECT_EQ(hextoi('7'), 7);
    EXPECT_EQ(hextoi('a'), 10);
    EXPECT_EQ(hextoi('F'), 15);
    EXPECT_EQ(hextoi('g'), 0);
    EXPECT_EQ(itohex(11), 'b');
    EXPECT_EQ(itohex(16), '0');
    EXPECT_EQ(itohex(-1), '0');
}

TEST(Utilities, ItoaCoversBasesSignsAndLimits)
{
    struct Case {
        int32_t value;
        int32_t base;
        const char* expected;
    } cases[] = {
        {-255, 16, "-FF"}, {0, 10, "0"}, {1234, 10, "1234"}, {INT32_MIN, 10, "-2147483648"},
        {INT32_MAX, 2, "1111111111111111111111111111111"}, {INT32_MIN, 2, "-10000000000000000000000000000000"},
        {35, 36, "Z"}, {10, 99, "10"},  // an unusable base is read as 10
    };
    for (const Case& c : cases) {
        char out[40];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(itoa(c.value, out, c.base), out);
        EXPECT_STREQ(out, c.expected) << c.value << " base " << c.base;
    }
}

TEST(Utilities, FloatComparisonsWithinTwoPerMille)
{
    EXPECT_TRUE(FloatisEqu(0.0f, 0.001f));
    EXPECT_FALSE(FloatisEqu(0.0f, 0.003f));
    EXPECT_TRUE(FloatisEqu(1000.0f, 1001.0f));
    EXPECT_FALSE(FloatisEqu(1000.0f, 1003.0f));
    EXPECT_TRUE(FloatisEqu(-1000.0f, -1001.0f));
    EXPECT_TRUE(FloatisInf(1000.0f, 1003.0f));
    EXPECT_FALSE(FloatisInf(1000.0f, 1001.0f));
    EXPECT_FALSE(FloatisInf(1003.0f, 1000.0f));
}

TEST(Utilities, TextHelpers)
{
    EXPECT_LT(stricmp("ABC", "abd"), 0);
    EXPECT_EQ(stricmp("Abc", "aBC"), 0);
    EXPECT_GT(stricmp("abc", "ab"), 0);
    EXPECT_LT(stricmp("ab", "abc"), 0);

    const char* text = "Content-Length: 12";
    EXPECT_EQ(stristr(text, "LENGTH"), text + 8);
    EXPECT_EQ(stristr(text, "length: 12"), text + 8);
    EXPECT_EQ(stristr("abc", ""), nullptr);
    EXPECT_EQ(stristr("", "a"), nullptr);
    EXPECT_EQ(stristr("abc", "abcd"), nullptr);
    EXPECT_EQ(stristr("aab", "ab"), static_cast<const char*>("aab") + 1);

    char lower[] = "MiXeD \xC0 Text1";
    EXPECT_EQ(strToLower(lower), lower);
    EXPECT_STREQ(lower, "mixed \xC0 text1");  // bytes outside ASCII stay as they are
    EXPECT_EQ(strToLower(nullptr), nullptr);

    char replace[] = "a,b,,c";
    strCharToChar(replace, ',', ';');
    EXPECT_STREQ(replace, "a;b;;c");
    char empty[] = "";
    strCharToChar(empty, 'a', 'b');
    EXPECT_STREQ(empty, "");
}

} // namespace
