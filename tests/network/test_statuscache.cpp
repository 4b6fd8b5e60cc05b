// The status cache of the remote client: each setter's own rules (substitutions, folding, "+"
// for empty), the resets, the meter and power tables, and readers racing a writer under the lock.
#include "network/user_int.h"
#include "tests/network/status_cache.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

struct TStatus {
    std::string trigger, misc1, misc2, battery, warning, passfail;
};

TStatus status()
{
    TStatus s;
    getPelanodeStatus(s.trigger, s.misc1, s.misc2, s.battery, s.warning, s.passfail);
    return s;
}

std::string warning()
{
    return status().warning;
}

// Each test starts from the cache of a program just started, and leaves it so.
class StatusCache : public ::testing::Test {
protected:
    void SetUp() override { resetWsStatusCache(); }
    void TearDown() override { resetWsStatusCache(); }
};

} // namespace

TEST_F(StatusCache, StartsEmptyAndInitPutsPlusInFiveButNotTheCounter)
{
    TStatus s = status();
    for (const std::string* text : {&s.trigger, &s.misc1, &s.misc2, &s.battery, &s.warning, &s.passfail})
        EXPECT_EQ(*text, "");

    initPelanodeStatus();
    s = status();
    for (const std::string* text : {&s.trigger, &s.misc1, &s.misc2, &s.battery, &s.warning})
        EXPECT_EQ(*text, "+");
    EXPECT_EQ(s.passfail, "");

    setPelanodePassfailCounter(QStringLiteral("3 / 4"));
    initPelanodeStatus();
    EXPECT_EQ(status().passfail, "3 / 4");
}

TEST_F(StatusCache, TriggerTextSubstitutesSignsAndFolds)
{
    const struct {
        const char* text;
        const char* stored;
    } rows[] = {
        {"", "+"},
        // Only a field that is the edge's sign alone turns into words.
        {"T+,2-", "T+-2-"},
        {"pre-trig, ch1 , - , auto", "pre-trig- ch1 - neg - auto"},
        {"post-trig, ch1 , +/- , trig'd", "post-trig- ch1 - pos/neg - trig'd"},
        {"a+b, + ,-", "a+b- pos -neg"},
        {"Arrêté", "Arrete"},
        {"waiting trigger, ch1 , - , trig'd", "waiting trigger- ch1 - neg - trig'd"},
        {"ÉTÉ è", "ÉTÉ e"},  // upper case is left alone
    };
    for (const auto& row : rows) {
        setPelanodeTriggerStatus(QString::fromUtf8(row.text));
        EXPECT_EQ(status().trigger, row.stored) << row.text;
    }
}

TEST_F(StatusCache, LoggerAndCounterTextsAreKeptAsTheyAre)
{
    setPelanodeLoggerStatus(QString::fromUtf8("Arrêté +,-"));
    setPelanodePassfailCounter(QString::fromUtf8("é 1 / 2"));
    EXPECT_EQ(status().trigger, "Arrêté +,-");
    EXPECT_EQ(status().passfail, "é 1 / 2");
    setPelanodeLoggerStatus(QString());
    setPelanodePassfailCounter(QString());
    EXPECT_EQ(status().trigger, "+");
    EXPECT_EQ(status().passfail, "+");
}

TEST_F(StatusCache, WarningFoldsAllThirtyLettersAndEmptyIsPlus)
{
    setPelanodeWarning(QString::fromUtf8("àáâãäåčèéêëěìíîïñňòóôõöřšùúûüž ÀÉ x"));
    EXPECT_EQ(warning(), "aaaaaaceeeeeiiiinnooooorsuuuuz ÀÉ x");
    setPelanodeWarning(QString::fromUtf8("ß only"));
    EXPECT_EQ(warning(), "ß only");
    setPelanodeWarning(QString());
    EXPECT_EQ(warning(), "+");
}

TEST_F(StatusCache, BatteryText)
{
    const struct {
        int16_t level;
        const char* stored;
    } rows[] = {
        {0, "Batterie: 0 %"},
        {100, "Batterie: 100 %"},
        {-45, "Batterie: 45 % - en charge"},
        {-32768, "Batterie: 32768 % - en charge"},
    };
    for (const auto& row : rows) {
        setPelanodeBattery(row.level);
        EXPECT_EQ(status().battery, row.stored) << row.level;
    }
}

TEST_F(StatusCache, MiscListsJoinWithTrailingBlankAndUnitSubstitutions)
{
    setPelanodeMisc({QString::fromUtf8("40°"), QString::fromUtf8("3 μA")}, {});
    EXPECT_EQ(status().misc1, "40} 3 uA ");
    EXPECT_EQ(status().misc2, "+");

    // Both omegas: the ohm sign and the Greek capital the unit helpers write.
    setPelanodeMisc({QStringLiteral("a")}, {QString::fromUtf8("1 k\u2126"), QString::fromUtf8("2 k\u03a9"), QString::fromUtf8("é")});
    EXPECT_EQ(status().misc1, "a ");
    EXPECT_EQ(status().misc2, "1 k{ 2 k{ é ");  // no folding here
}

TEST_F(StatusCache, MeterChannelsSubstituteAndGiveBackPlusForEmpty)
{
    std::string range, coupling, mainMeas, aux1, aux2;
    // Before any reset an unset channel reads as "+" too.
    getPelanodeMeterMeas(1, range, coupling, mainMeas, aux1, aux2);
    EXPECT_EQ(range + coupling + mainMeas + aux1 + aux2, "+++++");

    initPelanodeMeterMeas();
    setPelanodeMeterMeas(0, QString::fromUtf8("100 μV"), QStringLiteral("AC+DC"), QString::fromUtf8("12.5 kΩ"),
                         QString::fromUtf8("déf 20°"), QString());
    getPelanodeMeterMeas(0, range, coupling, mainMeas, aux1, aux2);
    EXPECT_EQ(range, "100 uV");
    EXPECT_EQ(coupling, "AC%DC");
    EXPECT_EQ(mainMeas, "12.5 k{");
    EXPECT_EQ(aux1, "def 20}");
    EXPECT_EQ(aux2, "+");
    EXPECT_EQ(to_g_meterAux2Meas[0], "");  // stored empty, read as "+"

    getPelanodeMeterMeas(3, range, coupling, mainMeas, aux1, aux2);
    EXPECT_EQ(range + coupling + mainMeas + aux1 + aux2, "+++++");

    // Out-of-range channels store nothing and read as "+".
    for (int16_t channel : {int16_t(-1), int16_t(4), int16_t(32767)}) {
        setPelanodeMeterMeas(channel, QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("x"),
                             QStringLiteral("x"), QStringLiteral("x"));
        getPelanodeMeterMeas(channel, range, coupling, mainMeas, aux1, aux2);
        EXPECT_EQ(range + coupling + mainMeas + aux1 + aux2, "+++++");
    }
    for (int16_t channel = 0; channel < 4; ++channel) {
        getPelanodeMeterMeas(channel, range, coupling, mainMeas, aux1, aux2);
        EXPECT_NE(range, "x");
    }
}

TEST_F(StatusCache, PowerTextsByNameWithTheirSubstitutions)
{
    initPelanodeMeterMeas();
    TPowerBytes out;
    getPelanodePowerMeas(out);
    EXPECT_EQ(out.active + out.reactive + out.apparent + out.dpf + out.aux1 + out.aux2, "++++++");

    TPowerTexts in;
    in.active = QString::fromUtf8("1 μW");
    in.reactive = QString::fromUtf8("2 var é");
    in.apparent = QStringLiteral("3 VA");
    in.dpf = QString();
    in.aux1 = QString::fromUtf8("é μ");
    in.aux2 = QString::fromUtf8("fréq");
    setPelanodePowerMeas(in);
    getPelanodePowerMeas(out);
    EXPECT_EQ(out.active, "1 uW");
    EXPECT_EQ(out.reactive, "2 var é");  // é is kept outside the two auxiliary texts
    EXPECT_EQ(out.apparent, "3 VA");
    EXPECT_EQ(out.dpf, "+");
    EXPECT_EQ(out.aux1, "e u");
    EXPECT_EQ(out.aux2, "freq");
}

// One writer replaces long texts while a reader copies them: every copy is one whole text.
TEST_F(StatusCache, ReadersNeverSeeATornText)
{
    const QString a(300, QLatin1Char('a'));
    const QString b(500, QLatin1Char('b'));
    const std::string aBytes(300, 'a');
    const std::string bBytes(500, 'b');
    std::atomic<bool> stop{false};
    setPelanodeWarning(a);
    setPelanodeMisc({a}, {b});

    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            setPelanodeWarning((i & 1) ? a : b);
            setPelanodeMisc({a}, {b});
        }
        stop = true;
    });
    int torn = 0;
    int reads = 0;
    while (!stop || reads < 100) {
        const TStatus s = status();
        if (s.warning != aBytes && s.warning != bBytes)
            ++torn;
        if (s.misc1 != aBytes + " " || s.misc2 != bBytes + " ")
            ++torn;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}
