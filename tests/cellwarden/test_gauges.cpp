// The bus coding and both gauges' arithmetic over an in-memory register bank.
#include "cellwarden/battery.h"
#include "cellwarden/battery_bq2018.h"
#include "cellwarden/bq2018.h"
#include "cellwarden/bq34z100.h"
#include "cellwarden/hdq.h"
#include "tests/cellwarden/registerbank.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Hdq, CharacterCoding)
{
    unsigned char chars[8];
    HDQ::EncodeByte(0x01, chars);
    const unsigned char one[8] = {0xFE, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0};
    EXPECT_EQ(0, std::memcmp(chars, one, 8));
    HDQ::EncodeByte(0x80, chars);  // a write of register 0: bit 7 last
    EXPECT_EQ(0xFE, chars[7]);
    EXPECT_EQ(0xC0, chars[0]);

    const struct {
        std::vector<unsigned char> answer;
        unsigned char byte;
    } cases[] = {
        {{0xFC, 0xFE, 0xFF, 0xC0, 0xFE, 0x80, 0xFC, 0xFE}, 0xD3},
        {{0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE}, 0xFF},
        {{0xFE, 0xFE}, 0x03},  // missing characters read as 0 bits
        {{}, 0x00},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.byte, HDQ::DecodeAnswer(c.answer.data(), c.answer.size()));
}

// Byte reads scripted per register: each read of the register takes the next value.
struct ScriptedReads {
    std::vector<uint8_t> hi, lo;
    size_t hiAt = 0, loAt = 0, reads = 0;
    static uint8_t read(void* self, uint8_t reg)
    {
        auto* s = static_cast<ScriptedReads*>(self);
        ++s->reads;
        auto& v = reg == 0x11 ? s->hi : s->lo;
        auto& at = reg == 0x11 ? s->hiAt : s->loAt;
        const uint8_t b = v[std::min(at, v.size() - 1)];
        ++at;
        return b;
    }
    static bool complete(void*) { return true; }
};

TEST(Hdq, ConsistentWordRead)
{
    // The high byte changes once: three more byte reads, the second attempt's low byte.
    ScriptedReads settles{{0x12, 0x13, 0x13, 0x13}, {0x40, 0x41}};
    bool complete = false;
    EXPECT_EQ(0x1341, consistentWordRead(ScriptedReads::read, ScriptedReads::complete, &settles, 0x10, &complete));
    EXPECT_TRUE(complete);
    EXPECT_EQ(6u, settles.reads);

    // A high byte that never settles gives up, reported incomplete.
    ScriptedReads flaky{{}, {0}};
    for (int i = 0; i < 100; ++i)
        flaky.hi.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ(kWordReadAttempts, 8);
    consistentWordRead(ScriptedReads::read, ScriptedReads::complete, &flaky, 0x10, &complete);
    EXPECT_FALSE(complete);
    EXPECT_EQ(24u, flaky.reads);
}

TEST(Hdq, NoPortReadsZeroIncomplete)
{
    HDQ::Initialize("/dev/does-not-exist-here");
    EXPECT_EQ(-1, HDQ::i_i_fd);
    EXPECT_EQ(0, HDQ::ReadWordRegister(0));
    EXPECT_FALSE(HDQ::LastReadComplete());
}

TEST(Bq34z100, Update)
{
    const struct {
        uint8_t soc;
        uint16_t mv;
        int16_t current;
        bool wall;
        int32_t level;
        bool empty, full;
    } cases[] = {
        {87, 12000, -300, false, 87, false, false},
        {0, 12000, -300, true, -1, false, false},
        {0, 12000, -300, false, 0, false, false},
        {57, 12000, 200, true, -57, false, false},
        {100, 12000, 0, true, -100, false, true},
        {100, 12000, 0, false, 100, false, false},
        {5, 9999, -300, false, 5, true, false},
        {5, 10000, -300, false, 5, false, false},
        {255, 12000, -300, true, -100, false, false},  // a damaged charge byte
    };
    for (const auto& c : cases) {
        TRegisterBank bank;
        bank.regs[0x02] = c.soc;
        bank.setWord(0x08, c.mv);
        bank.setWord(0x10, static_cast<uint16_t>(c.current));
        bank.setWord(0x0C, 2982);
        BQ34Z100 gauge;
        gauge.GgInitialize();
        gauge.ChargerConnected = c.wall;
        EXPECT_EQ(c.level, gauge.GgUpdate()) << int(c.soc) << " " << c.mv;
        EXPECT_EQ(c.empty, gauge.b_i_batEmpty) << c.mv;
        EXPECT_EQ(c.full, gauge.bChgFull) << c.current;
        EXPECT_NEAR(25.05f, gauge.f_i_temperature, 0.01f);
    }
}

TEST(Bq34z100, SilentGaugeKeepsLevelAndFlags)
{
    TRegisterBank bank;
    bank.regs[0x02] = 40;
    bank.setWord(0x08, 12000);
    bank.setWord(0x10, 0);
    BQ34Z100 gauge;
    gauge.ChargerConnected = true;
    EXPECT_EQ(-40, gauge.GgUpdate());
    EXPECT_TRUE(gauge.bChgFull);
    bank.silent = true;
    gauge.ChargerConnected = false;
    EXPECT_EQ(40, gauge.GgUpdate());  // the previous percentage, the current sign
    EXPECT_FALSE(gauge.b_i_batEmpty);
    EXPECT_TRUE(gauge.bChgFull);
    EXPECT_EQ(12000, gauge.us_i_voltage);
}

namespace {

uint8_t ramSum(const TRegisterBank& bank)
{
    uint8_t sum = 0;
    for (int r = 0x02; r <= 0x1B; ++r)
        sum = static_cast<uint8_t>(sum + bank.regs[r]);
    return sum;
}

// A gauge with a valid record: defaults, padding as given.
void loadRecord(TRegisterBank& bank, const ggData_t& d)
{
    std::memcpy(&bank.regs[0x02], &d, sizeof d);
}

ggData_t defaultRecord(uint16_t lastMeas = 46400, uint16_t rate = 740)
{
    ggData_t d{};
    setGg16(d.iLastMeasDsg, lastMeas);
    setGg16(d.iRemCap, 46400);
    setGg16(d.iDES_CAP, 46400);
    setGg16(d.iSLF_DSG_RATE, rate);
    setGg16(d.iEND_DSG_VLTG, 10000);
    d.pad9 = 0x33;
    d.pad25 = 0x44;
    uint8_t sum = 0;
    const auto* b = reinterpret_cast<const uint8_t*>(&d);
    for (size_t k = 0; k < sizeof d; ++k)
        sum = static_cast<uint8_t>(sum + b[k]);
    d.checksum = static_cast<uint8_t>(0x55 - sum);
    return d;
}

struct Clock {
    double t = 1000;
    std::function<double()> fn() { return [this] { return t; }; }
};

// A gauge at 288 K on the bank, started, the battery above the end of discharge.
void startGauge(TRegisterBank& bank, Clock& clock, BQ2018& gauge)
{
    bank.regs[0x74] = 0x40;
    gauge.clock = clock.fn();
    gauge.GgInitialize();
    gauge.SetBatteryVoltage(12000);
}

} // namespace

TEST(Bq2018, RecordCheckedAtStart)
{
    const ggData_t good = defaultRecord();
    ggData_t badSum = good;
    badSum.checksum ^= 1;
    const struct {
        const char* name;
        ggData_t record;
        bool kept;
    } cases[] = {
        {"valid, odd padding", good, true},
        {"wrong sum", badSum, false},
        {"all zeros", ggData_t{}, false},
        {"zero last discharge", defaultRecord(0), false},
        {"zero self-discharge rate", defaultRecord(46400, 0), false},
    };
    for (const auto& c : cases) {
        TRegisterBank bank;
        loadRecord(bank, c.record);
        BQ2018 gauge;
        Clock clock;
        gauge.clock = clock.fn();
        gauge.GgInitialize();
        EXPECT_EQ(0x55, ramSum(bank)) << c.name;
        EXPECT_EQ(c.kept, bank.writes.empty()) << c.name;
        if (!c.kept) {
            // Defaults, padding as read.
            EXPECT_EQ(0x40, bank.regs[0x02 + 0]) << c.name;
            EXPECT_EQ(0xB5, bank.regs[0x02 + 1]);
            EXPECT_EQ(0xB5, bank.regs[0x02 + 3]);
            EXPECT_EQ(0xB5, bank.regs[0x02 + 19]);
            EXPECT_EQ(0xE4, bank.regs[0x02 + 20]);
            EXPECT_EQ(0x02, bank.regs[0x02 + 21]);
            EXPECT_EQ(0x10, bank.regs[0x02 + 22]);
            EXPECT_EQ(0x27, bank.regs[0x02 + 23]);
            EXPECT_EQ(c.record.pad9, bank.regs[0x02 + 9]);
            EXPECT_EQ(c.record.pad25, bank.regs[0x02 + 25]);
        }
    }
}

TEST(Bq2018, Levels)
{
    const struct {
        uint16_t dsg, chg;
        bool wall;
        int32_t level;
    } cases[] = {
        {23200, 0, false, 50},
        {23200, 0, true, -50},
        {46400, 0, true, -1},
        {46400, 0, false, 0},
        {50000, 0, false, 0},   // below zero: clamped
        {0, 9000, false, 100},  // above full: clamped
    };
    for (const auto& c : cases) {
        TRegisterBank bank;
        loadRecord(bank, defaultRecord());
        bank.setWord(0x7E, c.dsg);
        bank.setWord(0x7C, c.chg);
        BQ2018 gauge;
        Clock clock;
        startGauge(bank, clock, gauge);
        gauge.ChargerConnected = c.wall;
        EXPECT_EQ(c.level, gauge.GgUpdate(false)) << c.dsg << " " << c.chg;
        EXPECT_EQ(288u, gauge.iKelvin);
    }
}

TEST(Bq2018, FullChargeOnlyWhenAsked)
{
    for (bool test : {false, true}) {
        TRegisterBank bank;
        loadRecord(bank, defaultRecord());
        BQ2018 gauge;
        Clock clock;
        startGauge(bank, clock, gauge);
        gauge.ChargerConnected = true;
        gauge.GgUpdate(false);
        bank.writes.clear();
        gauge.GgUpdate(test);
        EXPECT_EQ(test ? 0x55 : 0, gauge.bChgFull);
        EXPECT_EQ(test, !bank.writes.empty() && bank.writes.back() == std::make_pair(uint8_t(0x74), uint8_t(0x1F)));
    }
}

TEST(Bq2018, EndOfDischargeOncePerStartAndLearning)
{
    // The learned discharge is accepted strictly inside design capacity +/- a tenth.
    const struct {
        int32_t remaining;
        bool learned;
    } cases[] = {{41760, false}, {41761, true}, {51039, true}, {51040, false}};
    for (const auto& c : cases) {
        TRegisterBank bank;
        ggData_t d = defaultRecord();
        setGg16(d.iRemCap, 0);
        d.checksum = 0;
        uint8_t sum = 0;
        for (size_t k = 0; k < 26; ++k)
            sum = static_cast<uint8_t>(sum + reinterpret_cast<uint8_t*>(&d)[k]);
        d.checksum = static_cast<uint8_t>(0x55 - sum);
        loadRecord(bank, d);
        BQ2018 gauge;
        Clock clock;
        startGauge(bank, clock, gauge);
        gauge.GgUpdate(false);
        gauge.iValidDsgRam = 0x55;
        gauge.iDsgCntr = 0;
        gauge.iRemCapNow = c.remaining;
        bank.setWord(0x7C, static_cast<uint16_t>(c.remaining));
        gauge.SetBatteryVoltage(9000);
        EXPECT_EQ(0, gauge.GgUpdate(false));
        EXPECT_TRUE(gauge.b_i_batEmpty);
        EXPECT_EQ(c.learned ? c.remaining : 46400, gg16(gauge.s_l_gg_data.iLastMeasDsg)) << c.remaining;
        gauge.GgUpdate(false);
        EXPECT_FALSE(gauge.b_i_batEmpty);  // once per start
    }
}

TEST(Bq2018, MaintenanceAndSelfDischarge)
{
    TRegisterBank bank;
    loadRecord(bank, defaultRecord());
    bank.setWord(0x7A, 740 * 2 + 5);
    BQ2018 gauge;
    Clock clock;
    startGauge(bank, clock, gauge);
    gauge.GgUpdate(false);
    clock.t += 59 * 60;
    bank.writes.clear();
    gauge.GgUpdate(false);
    EXPECT_EQ(59u, gauge.iTimeSinceMaint);
    EXPECT_TRUE(bank.writes.empty());
    clock.t += 60;
    gauge.GgUpdate(false);
    // Two steps of 1/512: 46400 -> 46310 -> 46220; the remainder kept; counters cleared with
    // the self-discharge bit.
    EXPECT_EQ(46220, gauge.iRemCapNow);
    EXPECT_EQ(5u, gauge.iSlfDsgCntr);
    EXPECT_EQ(180, gg16(gauge.s_l_gg_data.iCumlCorrectn));
    ASSERT_FALSE(bank.writes.empty());
    EXPECT_EQ(std::make_pair(uint8_t(0x74), uint8_t(31)), bank.writes.back());
    EXPECT_EQ(46220, gg16(gauge.s_l_gg_data.iRemCap));
}

TEST(Bq2018, PowerDownSaveAndSilence)
{
    TRegisterBank bank;
    loadRecord(bank, defaultRecord());
    bank.setWord(0x7E, 1000);
    BQ2018 gauge;
    Clock clock;
    startGauge(bank, clock, gauge);
    EXPECT_EQ(97, gauge.GgUpdate(false));
    bank.silent = true;
    gauge.ChargerConnected = true;
    EXPECT_EQ(-97, gauge.GgUpdate(false));
    EXPECT_EQ(45400, gauge.iRemCapNow);
    bank.silent = false;
    gauge.GgPwrDwnSave();
    EXPECT_EQ(45400, bank.regs[0x02 + 14] | bank.regs[0x02 + 15] << 8);
    EXPECT_EQ(0x55, ramSum(bank));
}

TEST(Bq2018, DataFileText)
{
    EXPECT_EQ("Last measured discharge: 0\r\nRemaining capacity: 0\r\nCycle count: 0\r\n"
              "Max temp seen by this BQ2018: 0\r\nValid discharge flag: 0\r\n"
              "Discharge counter for learning a new iLastMeasDsg: 0\r\n"
              "Cumulative discharge counter tracks partial discharges for iCycleCount update: 0\r\n"
              "Last computed remaining capacity value: 0\r\n"
              "Tracks cumulative self-discharge corrections: 0\r\n"
              "Pack design capacity (milliampere hours): 0\r\n"
              "Sel discharge rate (% / day * 105.8): 0\r\nEnd discharge voltage (millivolt): 0\r\n",
              BQ2018::ggDataText(ggData_t{}));
    EXPECT_NE(std::string::npos, BQ2018::ggDataText(defaultRecord()).find("capacity: 46400\r\n"));
}

TEST(Daemon, OffPipeAndAdcTexts)
{
    const struct {
        std::string bytes;
        bool powerOff;
    } pipeCases[] = {{"POWEROFF", true}, {"POWEROFFPOWEROFF", true}, {"POWEROFF\n", false},
                     {"poweroff", false}, {"", false}, {"POWEROFFX", false}, {"POWEROF", false}};
    for (const auto& c : pipeCases)
        EXPECT_EQ(c.powerOff, isPowerOffMessage(c.bytes.data(), c.bytes.size())) << c.bytes;

    const struct {
        std::string text;
        bool ok;
        long mv;
    } adcCases[] = {{"12000\n", true, 12000}, {"", false, 0}, {"abc", false, 0}, {"-1", false, 0},
                    {"9500", true, 9500}, {"12345678901234", true, 1234567890}};
    for (const auto& c : adcCases) {
        long mv = 0;
        EXPECT_EQ(c.ok, parseAdcMillivolts(c.text.data(), c.text.size(), &mv)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.mv, mv) << c.text;
        }
    }
}
