#include "scpi/io.h"
#include "scpi/lex.h"
#include "scpi/memdat.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void feed(const std::string& line)
{
    scpiPutMacroInput(line.data(), line.size());
}

std::string describe(int token, const lex& l)
{
    char buf[64];
    switch (token) {
    case kTokWord:
        return "W:" + std::string(l.text);
    case kTokInteger:
        std::snprintf(buf, sizeof buf, "I:%d%s", l.integer, l.block ? "#" : "");
        return buf;
    case kTokReal:
        std::snprintf(buf, sizeof buf, "R:%.7g", static_cast<double>(l.real));
        return buf;
    case kTokFailure:
        std::snprintf(buf, sizeof buf, "F:%d", l.failure);
        return buf;
    default:
        if (l.punct == 0)
            return "P:end";
        if (l.punct == ' ')
            return "P:blank";
        return std::string("P:") + static_cast<char>(l.punct);
    }
}

// Tokens of one line up to its end (or a failure, after which the line is discarded).
std::string tokens(const std::string& line)
{
    feed(line + "\n");
    lex l{};
    std::string out;
    for (int guard = 0; guard < 40; ++guard) {
        int t = lexic(&l);
        if (!out.empty())
            out += ' ';
        out += describe(t, l);
        if (t == kTokFailure) {
            skip(&l);
            break;
        }
        if (t == kTokPunct && l.punct == 0)
            break;
    }
    scpiEndOfMessage();
    return out;
}

TEST(Lexer, TokensOfTypicalAndEdgeInputs)
{
    struct Case {
        const char* input;
        const char* expected;
    } cases[] = {
        {"*IDN?", "W:*idn P:? P:end"},
        {"MEAS:FREQ? CH1", "W:meas P:: W:freq P:? P:blank W:ch1 P:end"},
        {"TRIG:LEV 2 MV", "W:trig P:: W:lev P:blank I:2 W:mv P:end"},
        {"trig:lev 2mv", "W:trig P:: W:lev P:blank I:2 W:mv P:end"},
        {"TRACE12", "W:trace12 P:end"},
        {"a\t\t b;c,d", "W:a P:blank W:b P:; W:c P:, W:d P:end"},
        {"Sys_tem*x", "W:sys_tem*x P:end"},
        {"abcdefghijkl", "W:abcdefghijkl P:end"},
        {"abcdefghijklm", "F:9"},
        // Decimal numbers.
        {"12", "I:12 P:end"},
        {"1.5E3", "R:1500 P:end"},
        {"1.5 E 3", "R:1500 P:end"},
        {"1 e 5", "R:100000 P:end"},
        {"+.5", "R:0.5 P:end"},
        {"-2e-3", "R:-0.002 P:end"},
        {"1e+2", "R:100 P:end"},
        {"1.", "R:1 P:end"},
        {"2 ,3", "I:2 P:, I:3 P:end"},
        {"5 ABC", "I:5 W:abc P:end"},
        {"-.x", "F:12"},
        {"1.5e,", "F:12"},
        {"1e+", "F:12"},
        // Integers keep every digit; beyond 32 bits they travel as reals with their value.
        {"1234567890", "I:1234567890 P:end"},
        {"0000000001", "I:1 P:end"},
        {"2147483647", "I:2147483647 P:end"},
        {"-2147483648", "I:-2147483648 P:end"},
        {"2147483648", "R:2.147484e+09 P:end"},
        {"12345678901", "R:1.234568e+10 P:end"},
        {"-99999999999999999999999", "R:-1e+23 P:end"},
        // Fractions keep their significant digits.
        {"0.1234567890123", "R:0.1234568 P:end"},
        {"123456.7890123", "R:123456.8 P:end"},
        {"0.000000000012345", "R:1.2345e-11 P:end"},
        {"1e40", "R:inf P:end"},
        {"1e-60", "R:0 P:end"},
        // Hash forms.
        {"#HFF", "I:255 P:end"},
        {"#hff", "I:255 P:end"},
        {"#HFFFFFFFF", "I:-1 P:end"},
        {"#H123456789", "I:305419896 I:9 P:end"},
        {"#B101", "I:5 P:end"},
        {"#H", "F:12"},
        {"#B2", "F:12"},
        {"#0", "F:12"},
        {"#X12", "F:12"},
        {"#2", "F:12"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokens(c.input), c.expected) << c.input;
}

TEST(Lexer, PunctAndLookAheadAfterWordsAndNumbers)
{
    feed("LEV:x lev\tY lev\n");
    lex l{};
    ASSERT_EQ(lexic(&l), kTokWord);
    EXPECT_EQ(l.punct, ':');
    EXPECT_EQ(l.pendingFlag, 1);
    EXPECT_EQ(l.nextChar, ':');
    EXPECT_EQ(l.textLength, 3);
    ASSERT_EQ(lexic(&l), kTokPunct);
    ASSERT_EQ(lexic(&l), kTokWord);  // x
    EXPECT_EQ(l.punct, ' ');
    ASSERT_EQ(lexic(&l), kTokPunct);  // the blank run
    EXPECT_EQ(l.nextChar, 'l');        // first character behind the blanks
    ASSERT_EQ(lexic(&l), kTokWord);
    EXPECT_EQ(l.punct, ' ');           // a tab ends the word like a blank
    EXPECT_EQ(l.nextChar, '\t');
    ASSERT_EQ(lexic(&l), kTokPunct);
    EXPECT_EQ(l.nextChar, 'y');        // the look-ahead is lower-cased too
    ASSERT_EQ(lexic(&l), kTokWord);   // y
    ASSERT_EQ(lexic(&l), kTokPunct);
    ASSERT_EQ(lexic(&l), kTokWord);
    EXPECT_EQ(l.punct, 0);             // a line end ends the word
    ASSERT_EQ(lexic(&l), kTokPunct);
    EXPECT_EQ(l.punct, 0);
    scpiEndOfMessage();

    // Blanks after the mantissa belong to the number; the next character is kept.
    feed("2 ,7 \n");
    l = lex{};
    ASSERT_EQ(lexic(&l), kTokInteger);
    EXPECT_EQ(l.pendingFlag, 1);
    EXPECT_EQ(l.nextChar, ',');
    ASSERT_EQ(lexic(&l), kTokPunct);
    ASSERT_EQ(lexic(&l), kTokInteger);
    EXPECT_EQ(l.nextChar, '\n');
    scpiEndOfMessage();
}

TEST(Lexer, BlockHeaderLeavesTheFirstBlockByteUnread)
{
    feed("#3100AbC\n");
    lex l{};
    ASSERT_EQ(lexic(&l), kTokInteger);
    EXPECT_EQ(l.integer, 100);
    EXPECT_EQ(l.block, 1);
    EXPECT_EQ(l.pendingFlag, 0);
    std::string bytes;
    unsigned char c;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GetCharacter(&c), kGetCharOk);
        bytes += static_cast<char>(c);
    }
    EXPECT_EQ(bytes, "AbC");  // exactly as sent
    skip(&l);
    scpiEndOfMessage();
}

TEST(Lexer, FailureAtTheLineEndDoesNotSwallowTheNextLine)
{
    feed("-.\nNEXT\n1e\nAFTER\n");
    lex l{};
    ASSERT_EQ(lexic(&l), kTokFailure);
    EXPECT_EQ(l.failure, kErrInvalidNumber);
    skip(&l);
    scpiEndOfMessage();
    ASSERT_EQ(lexic(&l), kTokWord);
    EXPECT_STREQ(l.text, "next");
    ASSERT_EQ(lexic(&l), kTokPunct);
    scpiEndOfMessage();
    ASSERT_EQ(lexic(&l), kTokFailure);
    skip(&l);
    scpiEndOfMessage();
    ASSERT_EQ(lexic(&l), kTokWord);
    EXPECT_STREQ(l.text, "after");
    skip(&l);
    scpiEndOfMessage();
}

} // namespace
