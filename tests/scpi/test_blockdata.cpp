// Arrays of bytes in the four data formats: written to an in-process client, read from it.
#include "scpi/blockdata.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class BlockData : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        saved_ = scpiBlockTimeoutMs();
        setScpiBlockTimeoutMs(200);
    }
    void TearDown() override
    {
        setScpiBlockTimeoutMs(saved_);
        SimBoardTest::TearDown();
    }

    // Binds the session as the interpreter does on reading the first byte of a message.
    static void bind(TScpiMemorySession& session)
    {
        session.send("x\n");
        unsigned char c = 0;
        ASSERT_EQ(GetCharacter(&c), kGetCharOk);
    }

    int saved_ = 0;
};

std::string textOf(char format, const std::vector<unsigned char>& bytes)
{
    static const char* kHex = "0123456789abcdef";
    std::string out;
    for (unsigned char v : bytes) {
        if (format == 1) {
            out += "#H";
            out += kHex[v >> 4];
            out += kHex[v & 15];
        } else if (format == 2) {
            out += "#B";
            for (int b = 7; b >= 0; --b)
                out += static_cast<char>('0' + ((v >> b) & 1));
        } else {
            out += std::to_string(v);
        }
        out += ',';
    }
    return out;
}

TEST_F(BlockData, ArraysGoOutWholeInEveryFormat)
{
    const std::vector<unsigned char> small = {0, 10, 255};
    std::vector<unsigned char> large(3000);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<unsigned char>(i * 7);
    struct Case {
        char format;
        const std::vector<unsigned char>* bytes;
        const char* trailer;
        std::string expected;
    } cases[] = {
        {0, &small, "\n\r", "0,10,255,\n\r"},
        {1, &small, "\n\r", "#H00,#H0a,#Hff,\n\r"},
        {2, &small, "\n\r", "#B00000000,#B00001010,#B11111111,\n\r"},
        {3, &small, "\n\r", std::string("\0\n\xff\n\r", 5)},
        {3, &small, nullptr, std::string("\0\n\xff", 3)},
        // Many chunks, and not one zero byte between them.
        {0, &large, "\n\r", textOf(0, large) + "\n\r"},
        {1, &large, nullptr, textOf(1, large)},
        {2, &large, nullptr, textOf(2, large)},
    };
    for (const Case& c : cases) {
        TScpiMemorySession session;
        bind(session);
        EXPECT_EQ(putParameterValue(c.format, c.bytes->data(), static_cast<long>(c.bytes->size()), c.trailer),
                  static_cast<long>(c.bytes->size()));
        scpiEndOfMessage();
        EXPECT_EQ(session.takeReplies(), c.expected) << int(c.format) << " " << c.bytes->size();
    }

    TScpiMemorySession session;
    bind(session);
    EXPECT_EQ(entete_INT(3, 10000), 0);
    EXPECT_EQ(entete_INT(0, 10000), 0);
    EXPECT_EQ(entete_INT(3, 5), 0);
    scpiEndOfMessage();
    EXPECT_EQ(session.takeReplies(), "#510000#15");
}

TEST_F(BlockData, AFailedWriteIsReportedAndTheTrailerNotSent)
{
    const unsigned char bytes[4] = {1, 2, 3, 4};
    for (char format : {0, 1, 3}) {
        TScpiMemorySession session;
        bind(session);
        session.end();  // the client went away
        EXPECT_EQ(putParameterValue(format, bytes, 4, "\n\r"), -1) << int(format);
        EXPECT_EQ(entete_INT(3, 4), -1);
        scpiEndOfMessage();
        EXPECT_EQ(session.replies(), "");
    }
}

TEST_F(BlockData, IncomingValuesAreDecodedUntilOneIsMalformed)
{
    struct Case {
        char format;
        const char* input;  // after the first value
        long count;
        int result;
        std::vector<unsigned char> values;  // first value 7 included
    } cases[] = {
        {0, "0,10,255\n", 4, 0, {7, 0, 10, 255}},
        {0, "1,2,3,4,5\n", 3, 0, {7, 1, 2}},                 // count reached: the rest stays
        {0, "99999999999999999999999,\n", 2, 0, {7, 255}},  // a long run keeps its low 8 bits
        {0, "12x,\n", 3, kErrInvalidFormat, {7, 12}},       // stray character: the value so far
        {0, "1, 2\n", 3, kErrInvalidFormat, {7, 1}},        // blank after a comma
        {0, "-1\n", 2, kErrInvalidFormat, {7}},             // minus sign
        {1, "#H1F,H1F,#hff\r", 4, 0, {7, 31, 31, 255}},
        {1, "1F\n", 2, kErrInvalidFormat, {7}},             // no "H"
        {1, "#1F\n", 2, kErrInvalidFormat, {7}},
        {2, "#B101,B11111111\n", 3, 0, {7, 5, 255}},
        {2, "#B12\n", 2, kErrInvalidFormat, {7, 1}},
        {0, "", 0, 0, {}},                                  // nothing to read
    };
    for (const Case& c : cases) {
        TScpiMemorySession session;
        session.send(std::string(c.input) + "\n");
        char out[16] = {};
        short got = -1;
        EXPECT_EQ(getParameterValue(c.format, out, c.count, &got, 7), c.result) << c.input;
        scpiEndOfMessage();
        ASSERT_EQ(got, static_cast<short>(c.values.size())) << c.input;
        for (size_t i = 0; i < c.values.size(); ++i)
            EXPECT_EQ(static_cast<unsigned char>(out[i]), c.values[i]) << c.input << " at " << i;
    }
}

TEST_F(BlockData, RawBytesArriveUnchangedAndASilentClientTimesOut)
{
    {
        TScpiMemorySession session;
        const std::string bytes("A\nb\0\xff;*RST\n", 11);
        session.send(bytes + "\n");
        char out[16] = {};
        short got = 0;
        EXPECT_EQ(getParameterValue(3, out, 11, &got, 0), 0);
        EXPECT_EQ(std::string(out, 11), bytes);
        EXPECT_EQ(got, 11);
        scpiEndOfMessage();
    }
    {
        TScpiMemorySession session;
        session.send("abc\n");
        char out[16] = {};
        short got = 0;
        EXPECT_EQ(getParameterValue(3, out, 10, &got, 0), kErrCommunication);
        EXPECT_EQ(got, 4);
        scpiEndOfMessage();
    }
    {
        // A drain reads exactly its count: the line after it is still there.
        TScpiMemorySession session;
        session.send("0123456789\n*IDN?\n");
        EXPECT_EQ(blockDrain(11), 0);
        unsigned char c = 0;
        ASSERT_EQ(GetCharacter(&c), kGetCharOk);
        EXPECT_EQ(c, '*');
        scpiEndOfMessage();
    }
}

} // namespace
