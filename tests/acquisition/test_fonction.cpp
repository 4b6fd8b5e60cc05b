#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/gest_db.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kCentre = 524256;

struct FonctionTest : ::testing::Test {
    void SetUp() override
    {
        // The buffers live for the whole process, as the instrument's do.
        static uint32_t* const own = new uint32_t[4 * TAcquisition::kNormalisedSamples];
        TAcquisition::Voie1Normalisee = own;
        TAcquisition::Voie2Normalisee = own + TAcquisition::kNormalisedSamples;
        TAcquisition::Voie3Normalisee = own + 2 * TAcquisition::kNormalisedSamples;
        TAcquisition::Voie4Normalisee = own + 3 * TAcquisition::kNormalisedSamples;
        fill(1, kCentre);
        fill(2, kCentre);
        fill(3, kCentre);
        fill(4, kCentre);
        TAcquisition::decadrage1_hard = TAcquisition::decadrage2_hard = 0;
        TAcquisition::decadrage3_hard = TAcquisition::decadrage4_hard = 0;
    }

    static uint32_t* buffer(int channel)
    {
        uint32_t* const b[4] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                                TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee};
        return b[channel - 1];
    }

    static void fill(int channel, uint32_t word)
    {
        uint32_t* b = buffer(channel);
        for (uint32_t i = 0; i < TAcquisition::kNormalisedSamples; ++i)
            b[i] = word;
    }

    // Evaluates a text at sample 10.
    static uint32_t eval(const char* text, unsigned short identifier = 0)
    {
        std::string copy = text;
        TFonction f(identifier, &copy[0]);
        EXPECT_TRUE(f.IsDefined()) << text;
        std::vector<uint32_t> out(20, 0xDEADBEEF);
        EXPECT_TRUE(f.Compute(out.data(), 10, 1));
        EXPECT_EQ(out[9], 0xDEADBEEFu);
        EXPECT_EQ(out[11], 0xDEADBEEFu);
        return out[10];
    }
};

TEST_F(FonctionTest, CompilationTable)
{
    struct Case {
        const char* text;
        bool accepted;
        bool real;
        uint16_t sources;
    } cases[] = {
        {"ch1-ch2+ch3", true, false, 0x7},
        {"-ch1", true, false, 0x1},
        {"(-ch1)*2", true, false, 0x1},
        {"2.5+ch1", true, true, 0x1},
        {"ch1+2", true, false, 0x1},
        {"ch4 * sin(t)", true, true, 0x8},
        {"(ch1*ch2)/divv(4)", true, false, 0x3},
        {"ch1 ", false, false, 0},
        {"ch1++ch2", false, false, 0},
        {"CH1", false, false, 0},
        {"ch1))+((ch2", false, false, 0},
        {"ch1+123456789012", false, false, 0},
        {"ch1+2147483647", true, false, 0x1},
        {"(ch1", false, false, 0},
        {"ch1 ch2", false, false, 0},
        {"ch1+", false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        TFonction built(0, &text[0]);
        EXPECT_EQ(built.IsDefined(), c.accepted);
        EXPECT_EQ(built.VoiesSrc(), c.sources);
        // The constructor empties a refused text; SetFonctionString keeps it.
        EXPECT_STREQ(built.text, c.accepted ? c.text : "");
        if (c.accepted) {
            EXPECT_EQ(built.real, c.real);
        }

        char empty[] = "";
        TFonction set(1, empty);
        EXPECT_FALSE(set.IsDefined());
        EXPECT_EQ(set.SetFonctionString(&text[0], false), c.accepted);
        EXPECT_EQ(set.IsDefined(), c.accepted);
        EXPECT_STREQ(set.text, c.text);
    }
}

TEST_F(FonctionTest, TextHandling)
{
    // '%' reads as '+' in the constructor; at most 99 characters are kept.
    char percent[] = "ch1%ch2";
    TFonction f(0, percent);
    EXPECT_STREQ(f.text, "ch1+ch2");
    EXPECT_EQ(f.VoiesSrc(), 0x3);

    std::string longText(150, '1');
    EXPECT_FALSE(f.SetFonctionString(&longText[0], false)); // too big as an integer
    EXPECT_EQ(std::strlen(f.text), 99u);

    char web[] = "ch1%ch3&junk";
    EXPECT_TRUE(f.SetFonctionString(web, true));
    EXPECT_STREQ(f.text, "ch1+ch3");
    char out[100];
    EXPECT_EQ(f.GetFonctionString(out, true), out);
    EXPECT_STREQ(out, "ch1%ch3");
    EXPECT_STREQ(f.GetFonctionString(out, false), "ch1+ch3");

    // A null text is an empty text: it passes the token scan, not the order check ("()").
    EXPECT_FALSE(f.SetFonctionString(nullptr, false));
    EXPECT_TRUE(f.AnalyseSyntaxique());
    EXPECT_FALSE(f.AnalyseSemantique());
    EXPECT_FALSE(f.IsDefined());
    EXPECT_EQ(f.VoiesSrc(), 0);
    EXPECT_STREQ(f.GetFonctionString(out, true), "+");

    EXPECT_TRUE(f.SetFonctionString(web, true));
    f.RAZ();
    EXPECT_FALSE(f.IsDefined());
    EXPECT_EQ(f.VoiesSrc(), 0);
    EXPECT_STREQ(f.text, "");
}

TEST_F(FonctionTest, EvaluationOrderAndArithmetic)
{
    fill(1, kCentre + 100);
    fill(2, kCentre + 30);
    fill(3, kCentre + 20);
    struct Case {
        const char* text;
        int32_t relative;
    } cases[] = {
        {"ch1-ch2+ch3", 50},   // ch1 - (ch2 + ch3)
        {"ch1*ch2/ch3", 150},  // (ch1 * ch2) / ch3
        {"-ch1+ch2", -70},
        {"(-ch1)*2", -200},
        {"ch1/0", 0},
        {"ch1/(ch2-30)", 0},
        {"step(ch1)", 1},
        {"step(-ch1)", 0},
        {"divh(1)/ch1", 100},
        {"t", 10},
        {"2.5+ch1", 102},
        {"log(-ch1)", 0},
        {"sqrt(ch1)", 10},
        {"ch1*ch1*ch1", 0xBFFA0 - static_cast<int32_t>(kCentre)},
        {"-ch1*ch1*ch1", 0x40020 - static_cast<int32_t>(kCentre)},
        {"ch1/0.0", 0xBFFA0 - static_cast<int32_t>(kCentre)},
        {"(ch1-100)/0.0", 0x40020 - static_cast<int32_t>(kCentre)},  // NaN
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int32_t>(eval(c.text) - kCentre), c.relative) << c.text;
}

TEST_F(FonctionTest, LargeOperandsDivideByHalving)
{
    fill(1, kCentre + 2048);  // 2^11
    struct Case {
        const char* text;
        uint32_t result;
    } cases[] = {
        {"ch1*ch1*ch1/(ch1*ch1)", kCentre + 2048},             // 2^33 halved 3 times, shifted back
        {"ch1*ch1*ch1*ch1/(ch1*ch1*ch1)", kCentre + 2048},     // both halved: 1 << 14 >> 3
        {"ch1*ch1*ch1*ch1/ch1/ch1/ch1", kCentre + 2048},       // divisions chain to the left
        {"ch1*ch1*ch1*ch1*ch1*ch1*ch1", kCentre},              // 2^77 wraps to 0 in 64 bits
        {"ch1*ch1*ch1*ch1*ch1*256/1", kCentre},                // dividend halved 33 times: 0
        {"ch1*ch1*ch1*ch1*ch1*64/1", 0xBFFA0},                 // 2^61 comes back and clamps
    };
    for (const Case& c : cases)
        EXPECT_EQ(eval(c.text), c.result) << c.text;
}

TEST_F(FonctionTest, PositionsAndMissingSamples)
{
    fill(1, kCentre + 1000);
    TAcquisition::decadrage1_hard = 2;  // 2 thousandths = 524 codes
    EXPECT_EQ(eval("ch1") - kCentre, 1000u - 524u);
    EXPECT_EQ(eval("ch1", 8) - kCentre, 1000u);  // the power function ignores positions

    buffer(2)[10] = 0x80000000u;
    EXPECT_EQ(eval("ch1+ch2"), 0x80000000u);
    EXPECT_EQ(eval("ch1+ch2+0.5"), 0x80000000u);

    char text[] = "ch1+ch2";
    TFonction f(0, text);
    f.RAZ();
    uint32_t out[3] = {1, 2, 3};
    EXPECT_TRUE(f.Compute(out, 0, 3));
    EXPECT_EQ(out[1], 0x80000000u);
}

TEST_F(FonctionTest, VerticalScaleAndUnit)
{
    data.sensitivityCh1 = data.sensitivityCh2 = 8;  // 1 V/div
    std::memcpy(data.unitCh1, "V\0\0", 4);
    std::memcpy(data.unitCh2, "A\0\0", 4);
    std::memcpy(data.unitCh3, "VVVV", 4);  // no NUL
    data.sensitivityCh3 = 8;

    struct Case {
        const char* text;
        int result;
        float scale;
        const char* unit;
    } cases[] = {
        {"(ch1*ch2)/divv(4)", 0, 1.22101e-4f, "VA"},
        {"ch1*2", 0, 1.0f / 32760 / 2, "V"},
        {"ch1/ch2", 0, 1.0f, "V/A"},
        {"ch1+ch2", 0, 1.0f / 32760, "V"},
        {"ch3", 0, 1.0f / 32760, "VVV"},
        {"ch1*0", -1, 3.0525032e-5f, "div"},
        {"ch1/0", -1, 3.0525032e-5f, "div"},
        {"sin(ch1)", -1, 3.0525032e-5f, "div"},
        {"ch1*ch2*ch3", -1, 3.0525032e-5f, "div"},
        {"2+3", -1, 3.0525032e-5f, "div"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        TFonction f(8, &text[0]);
        ASSERT_TRUE(f.IsDefined());
        float scale = 0;
        char unit[8] = "xxxxxxx";
        EXPECT_EQ(f.GetVerticalScale(&scale, unit, SCALE_SCOPE), c.result);
        EXPECT_NEAR(scale, c.scale, std::fabs(c.scale) * 1e-5);
        EXPECT_STREQ(unit, c.unit);
        EXPECT_EQ(f.GetVerticalScale(&scale, nullptr, SCALE_SCOPE), c.result);
    }

    // Two volt channels give "VV".
    std::memcpy(data.unitCh2, "V\0\0", 4);
    char text[] = "(ch1*ch2)/divv(4)";
    TFonction power(8, text);
    float scale = 0;
    char unit[4];
    EXPECT_EQ(power.GetVerticalScale(&scale, unit, SCALE_SCOPE), 0);
    EXPECT_NEAR(scale, 1.22101e-4, 1e-9);
    EXPECT_STREQ(unit, "VV");

    // A source that is itself a math channel has no scale.
    char other[] = "ch3*2";
    setupLinks().mathFunctionCh2 = new TFonction(1, other);
    EXPECT_EQ(power.GetVerticalScale(&scale, unit, SCALE_SCOPE), -1);
    EXPECT_FLOAT_EQ(scale, 3.0525032e-5f);
    EXPECT_STREQ(unit, "div");
    delete setupLinks().mathFunctionCh2;
    setupLinks().mathFunctionCh2 = nullptr;
}

TEST_F(FonctionTest, FileLineRoundTrip)
{
    char path[] = "/tmp/fonctionXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    char text[] = "(ch1*ch2)/divv(4)";
    TFonction f(0, text);
    EXPECT_EQ(f.write(fd), 0);
    ASSERT_EQ(::write(fd, "\r\nch1++\r\n", 9), 9);
    const std::string longLine = "ch1+" + std::string(120, '1') + "\n";
    ASSERT_EQ(::write(fd, longLine.data(), longLine.size()), static_cast<ssize_t>(longLine.size()));
    lseek(fd, 0, SEEK_SET);

    char bytes[32] = {};
    ASSERT_EQ(::read(fd, bytes, 19), 19);
    EXPECT_STREQ(bytes, "(ch1*ch2)/divv(4)\r\n");
    lseek(fd, 0, SEEK_SET);

    char empty[] = "";
    TFonction g(0, empty);
    EXPECT_EQ(g.read(fd), 0);
    EXPECT_STREQ(g.text, "(ch1*ch2)/divv(4)");
    EXPECT_EQ(g.VoiesSrc(), 0x3);
    EXPECT_EQ(g.read(fd), -1);  // empty line
    EXPECT_EQ(g.read(fd), -1);  // refused text stays
    EXPECT_STREQ(g.text, "ch1++");
    EXPECT_EQ(g.read(fd), -1);  // 99 characters kept: the constant overflows
    EXPECT_EQ(std::strlen(g.text), 99u);
    EXPECT_EQ(g.read(fd), -1);  // end of file
    close(fd);
    EXPECT_EQ(f.write(fd), -1);
}

TEST_F(FonctionTest, RecompilingWhileComputingShowsOneFunctionAtATime)
{
    fill(1, kCentre + 100);
    fill(2, kCentre + 7);
    char first[] = "ch1+ch2";  // 107
    char second[] = "(ch1-ch2)*divv(1)/divv(1)*(-1)";  // -93
    TFonction f(0, first);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            f.SetFonctionString(i % 2 ? first : second, false);
        stop = true;
    });
    std::vector<uint32_t> out(256);
    bool bad = false;
    while (!stop && !bad) {
        f.Compute(out.data(), 0, static_cast<uint32_t>(out.size()));
        for (uint32_t w : out)
            if (w != kCentre + 107 && w != kCentre - 93)
                bad = true;
    }
    writer.join();
    EXPECT_FALSE(bad);
}

} // namespace
