#include "scpi/params.h"
#include "tests/scpi/scpi_unit_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

void feed(const std::string& line)
{
    scpiPutMacroInput(line.data(), line.size());
}

std::string records(const TUnitResult& r, const char* area)
{
    std::string out;
    const char* letters = r.e && r.e->paramLetters ? r.e->paramLetters : "";
    for (int i = 0; i < r.ind.paramCount; ++i) {
        char buf[128];
        char letter = letters[i];
        if (paramSpecial(area, i) != kSpecialNone)
            std::snprintf(buf, sizeof buf, "s:%d", paramSpecial(area, i));
        else if (letter >= 'B' && letter <= '_')
            std::snprintf(buf, sizeof buf, "#%u", paramIndex(area, i));
        else if (letter == 'a')
            std::snprintf(buf, sizeof buf, "b:%u", paramBool(area, i));
        else if (letter == 'b' || letter == 'l' || letter == 'g')
            std::snprintf(buf, sizeof buf, "i:%d", paramInt(area, i));
        else if (std::strchr("cdhmno", letter))
            std::snprintf(buf, sizeof buf, "f:%g", static_cast<double>(paramFloat(area, i)));
        else
            std::snprintf(buf, sizeof buf, "t:%s", paramText(area, i));
        if (!out.empty())
            out += ' ';
        out += buf;
    }
    return out;
}

struct Decoded {
    int error;
    std::string records;
    bool blockPending;
};

Decoded decode(const std::string& line)
{
    TUnitReader reader;
    reader.callHandlers = false;
    feed(line + "\n");
    TUnitResult r = reader.readUnit();
    return {r.error, records(r, reader.area.bytes), r.blockPending};
}

TEST(Decoder, ParametersByLetter)
{
    meminit();
    const std::string s40(40, 'a'), s39(39, 'b'), s38(38, 'c'), s80(80, 'd'), s81(81, 'e');
    struct Case {
        std::string line;
        int error;
        std::string records;
    } cases[] = {
        // Units and factors.
        {"TRIG:LEV 2 MV", 0, "f:0.002"},
        {"TRIG:LEV 2MV", 0, "f:0.002"},
        {"TRIG:LEV 2 MILLIVOLT", 14, ""},
        {"TRIGger:SEQuence:LEVel 1.0E0 V", 0, "f:1"},
        {"TRIG:LEV -3 UV", 0, "f:-3e-06"},
        {"TRIG:LEV 5 KV", 0, "f:5000"},
        {"TRIG:LEV 2 MV V", 2, ""},       // a second word after the unit
        {"TRIG:LEV 2 HZ", 14, ""},        // a unit of another quantity
        {"TRIG:LEV 2 3", 2, ""},
        {"TRIG:LEV 2,3", 6, ""},          // beyond the letters
        {"TRIG:LEV 2 MV;", 0, "f:0.002"},
        {"TRIG:HOLD 1E-6", 0, "f:1e-06"},
        {"TRIG:HOLD 10 US", 0, "f:1e-05"},
        {"TRIG:HOLD 3 KS", 0, "f:3000"},
        {"TRIG:HOLD 7 PS", 0, "f:7e-12"},
        {"INP:DMM:BAND:RES 2 KHZ", 0, "f:2000"},
        {"INP:DMM:BAND:RES 1 MHZ", 0, "f:1e+06"},
        {"INP:DMM:BAND:RES 1 MAHZ", 0, "f:1e+06"},
        {"SENS:RANG:OHM 1 MOHM", 0, "f:0.001"},  // milli-ohm
        {"SENS:RANG:OHM 1 MAOHM", 0, "f:1e+06"}, // mega-ohm
        {"RANG:OHM 2 KOHM", 0, "f:2000"},
        {"RANG:CAPA 3 NF", 0, "f:3e-09"},
        {"RANG:CAPA 4 F", 0, "f:4"},
        {"DISP:BRIG 50", 0, "f:50"},
        {"DISP:BRIG 50 V", 15, ""},       // m takes no unit
        // Special numeric words, accepted in queries.
        {"TRIG:LEV MAX", 0, "s:3"},
        {"TRIG:LEV MINIMUM", 0, "s:2"},
        {"TRIG:LEV DEF", 0, "s:4"},
        {"TRIG:LEV UP", 0, "s:5"},
        {"TRIG:LEV DOWN", 0, "s:6"},
        {"TRIG:LEV INF", 0, "s:7"},
        {"TRIG:LEV DOW", 16, ""},         // UP and DOWN have no short form
        {"TRIG:LEV FOO", 16, ""},
        {"TRIG:LEV \"2\"", 5, ""},
        {"TRIG:LEV? MAX", 0, "s:3"},
        {"TRIG:LEV? 2", 6, ""},
        // Integers.
        {"*ESE 32", 0, "i:32"},
        {"*ESE 32.5", 5, ""},
        {"*ESE 32 V", 15, ""},
        {"*ESE MIN", 0, "s:2"},
        {"*ESE? 32", 6, ""},
        {"*ESE? MAX", 0, "s:3"},
        {"*ESE? \"x\"", 6, ""},
        {"*ESE #15abcde", 5, ""},         // a block is no integer
        {"*ESE #HFF", 0, "i:255"},
        {"TRIG:ECO 1234567890", 0, "i:1234567890"},
        {"TRIG:ECO 12345678901", 5, ""},  // beyond 32 bits: a real, not an integer
        {"SYST:DATE 2024,5,1", 0, "i:2024 i:5 i:1"},
        {"SYST:DATE 2024 , 5,\t1", 0, "i:2024 i:5 i:1"},
        {"SYST:DATE 2024,5", 7, ""},
        {"SYST:DATE 2024,5,1,2", 6, ""},
        {"SYST:DATE 2024,,1", 5, ""},
        // Booleans.
        {"SYST:KLOCK ON", 0, "b:1"},
        {"SYST:KLOCK OFF", 0, "b:0"},
        {"SYST:KLOCK 1", 0, "b:1"},
        {"SYST:KLOCK 7", 0, "b:1"},
        {"SYST:KLOCK -1", 0, "b:255"},
        {"SYST:KLOCK 0", 0, "b:0"},
        {"SYST:KLOCK MAYBE", 16, ""},
        {"SYST:KLOCK 1.5", 5, ""},
        {"SYST:KLOCK? ON", 6, ""},
        {"SYST:KLOCK? 1", 6, ""},
        // Mnemonics.
        {"FORM HEX", 0, "#1"},
        {"FORM:DATA ASCII", 0, "#0"},
        {"FORM HEXA", 16, ""},
        {"FORM 3", 5, ""},
        {"FORM? ASC", 6, ""},             // P is not accepted in a query
        {"TRIG:SOUR INT2", 0, "#2"},
        {"TRIG:SOUR INTERNAL2", 0, "#3"},
        {"TRIG:SOUR? INT1", 6, ""},
        {"TRIG:SLOP NO", 0, "#0"},
        {"TRIG:SLOP NEGATIVE", 0, "#2"},
        {"MEAS:FREQ? INT1", 0, "#0"},
        {"MEAS:FREQ? CH1", 16, ""},
        {"TRAC? IMG2", 0, "#5"},
        {"HELP *", 0, "#0"},
        {"HELP? TRIG", 0, "#18"},
        {"FUNC PT100", 0, "#5"},
        {"CALC:TRAN:FREQ:WIND FLATTOP", 0, "#4"},
        {"CALC:TRAN:FREQ:WIND FLAT", 16, ""},  // no short form
        {"MMEM:CAT? SDCAR", 0, "#1"},
        {"MMEM:CAT? SDCARD", 0, "#1"},
        {"MMEM:CAT? SDCA", 16, ""},
        {"MEAS:AC? INT1", 0, "#0"},            // ^ is optional
        {"MEAS:AC? INT1,INT", 0, "#0 #1"},
        {"PASSFAIL:DISP FAIL", 0, "#2"},
        {"DISP:TRAC:FORM XY", 0, "#1"},
        // Strings, optional letters and the shared text area.
        {"MMEM:CDIR \"/media/user_1\"", 0, "t:/media/user_1"},
        {"MMEM:CDIR \"$%&-@_.:/\"", 0, "t:$%&-@_.:/"},
        {"MMEM:CDIR \"a b\"", 18, ""},
        {"MMEM:CDIR \"a#b\"", 18, ""},
        {"MMEM:CDIR \"abc", 18, ""},
        {"MMEM:CDIR abc", 5, ""},
        {"MMEM:CDIR \"x\" V", 15, ""},
        {"MMEM:CDIR \"" + s80 + "\"", 0, "t:" + s80},
        {"MMEM:CDIR \"" + s81 + "\"", 19, ""},
        {"MMEM:DEL \"file\"", 0, "t:file"},
        {"MMEM:DEL \"file\",SDCARD", 0, "t:file #1"},
        {"MMEM:LOAD:MACR INT1,\"f\"", 0, "#0 t:f"},
        {"MMEM:LOAD:MACR INT1", 7, ""},
        {"HCOP:SDUM \"x\"", 0, "t:x"},
        {"SYST:COMM:SOCK:WIFI \"ssid\",\"wpa\",\"key\"", 0, "t:ssid t:wpa t:key"},
        {"SYST:COMM:SOCK:WIFI \"" + s40 + "\",\"" + s38 + "\",\"\"", 0, "t:" + s40 + " t:" + s38 + " t:"},
        {"SYST:COMM:SOCK:WIFI \"" + s40 + "\",\"" + s39 + "\",\"\"", 19, ""},
        // Expressions.
        {"CALC:MATH (CH1 + 2*CH2)", 0, "t:ch1 + 2*ch2"},
        {"CALC:MATH ((A+B)/2.5)", 0, "t:(a+b)/2.5"},
        {"CALC:MATH:EXPR:DEF (\"x\"-1)", 0, "t:\"x\"-1"},
        {"CALC:MATH (a+b", 18, ""},
        {"CALC:MATH (a;b)", 18, ""},
        {"CALC:MATH a", 5, ""},
        // Blocks.
        {"SYST:SET 5", 5, ""},
        {"SYST:SET #0", 12, ""},
    };
    for (const Case& c : cases) {
        memerr(0, 0);
        Decoded d = decode(c.line);
        EXPECT_EQ(d.error, c.error) << c.line;
        if (c.error == 0) {
            EXPECT_EQ(d.records, c.records) << c.line;
        }
        EXPECT_EQ(memerr(2, 0), c.error) << c.line;
        // Whatever happened, the line is gone: the next unit starts clean.
        feed("*CLS\n");
        TUnitReader next;
        next.callHandlers = false;
        TUnitResult r = next.readUnit();
        EXPECT_EQ(r.error, 0) << "after " << c.line;
        ASSERT_NE(r.e, nullptr);
        EXPECT_STREQ(r.e->keyword, "*cls") << "after " << c.line;
    }
}

TEST(Decoder, BlockHeaderStopsDecodingBeforeTheBytes)
{
    meminit();
    for (const char* line : {"SYST:SET #15aBcDe\n", "MMEM:DATA \"f\",#15aBcDe\n"}) {
        feed(line);
        TUnitReader reader;
        reader.callHandlers = false;
        TUnitResult r = reader.readUnit();
        ASSERT_EQ(r.error, 0) << line;
        ASSERT_TRUE(r.blockPending) << line;
        EXPECT_EQ(reader.l.punct, 0);
        EXPECT_EQ(paramInt(reader.area.bytes, r.ind.paramCount - 1), 5);
        std::string bytes;
        unsigned char c;
        for (int i = 0; i < 5; ++i) {
            GetCharacter(&c);
            bytes += static_cast<char>(c);
        }
        EXPECT_EQ(bytes, "aBcDe") << line;
        skip(&reader.l);
        scpiEndOfMessage();
    }
    EXPECT_EQ(memerr(2, 0), 0);
}

TEST(Decoder, ChannelLists)
{
    struct Case {
        const char* input;  // after the opening parenthesis
        int result;
        const char* list;
    } cases[] = {
        {"@1,3)", 0, "13"},
        {"@1:3)", 0, "123"},
        {"@4:2)", 0, "432"},
        {"@1:3,4)", 0, "1234"},
        {"@)", 0, ""},
        {"@2:2)", 26, ""},
        {"@12)", 26, ""},  // a digit right after a digit
        {"@,1)", 26, ""},
        {"@1,:2)", 26, ""},
        {"@5)", 26, ""},
        {"1)", 26, ""},
        {"@1,2", 4, ""},   // the line ends inside
    };
    for (const Case& c : cases) {
        feed(std::string(c.input) + "\n");
        char dst[kScpiTextAreaSize];
        short length = -1;
        int r = getChannelList(dst, sizeof dst, &length);
        EXPECT_EQ(r, c.result) << c.input;
        if (r == 0) {
            EXPECT_STREQ(dst, c.list) << c.input;
            EXPECT_EQ(length, static_cast<short>(std::strlen(c.list)));
        }
        lex l{};
        if (r != 4)
            skip(&l);
        scpiEndOfMessage();
    }
    feed("@1:4,1:4)\n");
    char small[5];
    short length;
    EXPECT_EQ(getChannelList(small, sizeof small, &length), 19);
    lex l{};
    skip(&l);
    scpiEndOfMessage();
}

TEST(Decoder, MnemonicLookUpAndReplyForms)
{
    char word[16] = "sdcar";
    EXPECT_EQ(search_mnemo(word, '[', kMnemoNone), 1);
    EXPECT_EQ(search_mnemo(word, '[', 1), kMnemoNone);
    EXPECT_STREQ(word, "SDCAR\n\r");
    EXPECT_EQ(search_mnemo(word, 'W', 6), kMnemoNone);
    EXPECT_STREQ(word, "P$T1000\n\r");  // cannot be typed, but is what a reply shows
    EXPECT_EQ(search_mnemo(word, 'R', 0), kMnemoNone);
    EXPECT_STREQ(word, "*\n\r");
    EXPECT_EQ(search_mnemo(word, 'P', 1), kMnemoNone);
    EXPECT_STREQ(word, "HEX\n\r");
    std::strcpy(word, "p$t1000");
    EXPECT_EQ(search_mnemo(word, 'W', kMnemoNone), 6);
    std::strcpy(word, "x");
    EXPECT_EQ(search_mnemo(word, 'E', kMnemoNone), kMnemoNone);  // empty tables
    EXPECT_EQ(search_mnemo(word, 'U', kMnemoNone), kMnemoNone);
    EXPECT_EQ(search_mnemo(word, '\\', kMnemoNone), kMnemoNone);
    EXPECT_EQ(search_mnemo(word, 'a', kMnemoNone), kMnemoNone);  // not a table letter
    // Table sizes, letter by letter from B to _.
    const int sizes[30] = {7, 3, 2, 0, 8, 5, 2, 5, 2, 2, 4, 5, 5, 8, 4, 7, 19, 4, 8, 0, 0, 13, 3, 5, 10, 2, 0, 17, 2, 3};
    for (int t = 0; t < 30; ++t) {
        const mnemo* m = mnemonicTable(static_cast<char>('B' + t));
        ASSERT_NE(m, nullptr);
        int n = 0;
        while (m[n].shortLength)
            ++n;
        EXPECT_EQ(n, sizes[t]) << static_cast<char>('B' + t);
    }

    EXPECT_EQ(sp_num_search("min"), 2);
    EXPECT_EQ(sp_num_search("maximum"), 3);
    EXPECT_EQ(sp_num_search("def"), 4);
    EXPECT_EQ(sp_num_search("up"), 5);
    EXPECT_EQ(sp_num_search("down"), 6);
    EXPECT_EQ(sp_num_search("inf"), 7);
    EXPECT_EQ(sp_num_search("maxi"), 1);
    EXPECT_EQ(sp_num_search("on"), 1);

    EXPECT_EQ(unit(unitTable('d'), "mv"), 2);
    EXPECT_EQ(unit(unitTable('d'), "millivolt"), 0);
    EXPECT_EQ(unit(unitTable('h'), "mahz"), 4);
    EXPECT_EQ(unit(unitTable('l'), "pct"), 1);
    EXPECT_EQ(unit(unitTable('l'), "pc"), 0);
    EXPECT_EQ(unitTable('m'), nullptr);
    EXPECT_EQ(unit(nullptr, "v"), 0);
}

} // namespace
