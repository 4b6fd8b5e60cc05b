// The simulated board's meter hardware: the grounded input against the offset DAC, channel 1's
// current and diode test paths with their loads, the frequency counters and the comparator
// activity register, driven through raw serial and SPI accesses.
#include "board/sim/simboard.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

namespace {

using Params = std::array<uint16_t, simboard::kChipParams>;

// (p24, p27, p35, p33, p34) of the gains used here.
constexpr std::array<uint16_t, 5> kVolt2 = {13, 6, 1, 1, 1};     // 2 V/div
constexpr std::array<uint16_t, 5> kPath50mV = {14, 7, 4, 1, 1};
constexpr std::array<uint16_t, 5> kPath20mV = {14, 7, 1, 1, 1};
constexpr std::array<uint16_t, 5> kRow0 = {14, 7, 4, 8, 7};      // scope 2.5 mV: path 5 mV
constexpr std::array<uint16_t, 5> kRow2 = {14, 7, 4, 2, 2};      // scope 10 mV: path 20 mV
constexpr std::array<uint16_t, 5> kRow5 = {14, 7, 1, 1, 0};      // scope 0.1 V: path 0.2 V

Params params(const std::array<uint16_t, 5>& gain)
{
    Params p{};
    p[24] = gain[0];
    p[27] = gain[1];
    p[35] = gain[2];
    p[33] = gain[3];
    p[34] = gain[4];
    p[16] = 128;  // the first offset trim at its factory value
    p[18] = 512;
    p[19] = 511;
    p[41] = 1;
    p[7] = 1;
    p[5] = 15;
    return p;
}

// The ADC code of level u (thousandths of the screen height), as the board's ADC reads it.
uint16_t codeOf(double u)
{
    const double raw = std::floor(2047.5 + 3.6 * u + 0.5);
    return static_cast<uint16_t>(std::clamp(raw, 0.0, 4095.0));
}

double dacUnits(uint16_t p18)
{
    return (512.0 - p18) * 20000.0 / 8184.0;
}

class SimMeter : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        if (HasFatalFailure())
            return;
        w_ = std::make_unique<simtest::Window>();
        ASSERT_TRUE(w_->ok());
        ASSERT_TRUE(simtest::spiWrite(20, 0xF));
    }
    void TearDown() override
    {
        w_.reset();
        SimFpgaBoardTest::TearDown();
    }
    void front(int ch, const Params& p)
    {
        for (int r = 0; r < simboard::kChipRegisters; ++r)
            w_->command(static_cast<uint16_t>(1u << ch), static_cast<uint16_t>(r),
                        static_cast<uint16_t>(simtest::encodeChipRegister(p.data(), r) << 1));
    }
    // Counter read of channel ch: the binary count behind the Gray-coded read-back.
    uint32_t readCounter(int ch)
    {
        w_->command(static_cast<uint16_t>(1u << ch), 0x1CF, 0);
        uint32_t g = w_->readBack() >> 8;
        for (uint32_t shift = 1; shift < 32; shift <<= 1)
            g ^= g >> shift;
        return g;
    }
    void selectRange(uint16_t mask, uint16_t word) { w_->command(mask, 0x0CE, static_cast<uint16_t>(word << 1)); }
    static simboard::TSignal signal(const char* shape, double vpp, double hz, double offset = 0.0)
    {
        simboard::TSignal s;
        s.shape = shape;
        s.vpp = vpp;
        s.frequency = hz;
        s.offset = offset;
        return s;
    }

    std::unique_ptr<simtest::Window> w_;
};

// Grounded, a DAC beyond the screen rests the trace on that edge; inside, the DAC places it.
TEST_F(SimMeter, GroundedInputRestsOnTheScreenEdge)
{
    simboard::setSignal(1, signal("dc", 0.0, 0.0, 3.0));
    const struct {
        uint16_t p13, p18;
        uint16_t code;
    } rows[] = {
        {1, 921, 248},  {1, 102, 3848}, {1, 512, 2048}, {1, 718, 248},  {1, 306, 3848},
        {1, 717, codeOf(dacUnits(717))}, {1, 307, codeOf(dacUnits(307))}, {1, 400, codeOf(dacUnits(400))},
        {0, 512, codeOf(3.0 / 2.0 * 125.0)}, {0, 921, codeOf(dacUnits(921) + 187.5)},
    };
    for (const auto& r : rows) {
        Params p = params(kVolt2);
        p[13] = r.p13;
        p[18] = r.p18;
        front(1, p);
        EXPECT_EQ(simboard::sampleCode(1, 0.001), r.code) << "p13 " << r.p13 << ", p18 " << r.p18;
    }
}

// Channel 1 with its current relay closed reads its load: -I x R (clamped at -4 V, open -4 V,
// no current 0 V), with the path's gains and a bias of -62 thousandths.
TEST_F(SimMeter, CurrentPathReadsTheLoad)
{
    simboard::setSignal(0, signal("sine", 2.0, 1000.0));
    const simboard::TLoad open{"open", 0.0, 0.0};
    const auto resistor = [](double ohms) { return simboard::TLoad{"resistor", ohms, 0.0}; };
    const struct {
        simboard::TLoad load;
        uint16_t p5, p6;
        std::array<uint16_t, 5> gain;
        double volts, voltsPerDiv;
    } rows[] = {
        {resistor(4700), 13, 0, kPath50mV, -0.235, 0.05},  {resistor(4700), 13, 1, kPath50mV, 0.0, 0.05},
        {resistor(50), 14, 0, kRow0, -0.025, 0.005},       {resistor(50e3), 11, 0, kRow2, -0.1, 0.02},
        {resistor(1e6), 7, 0, kPath50mV, -0.05, 0.05},     {resistor(1e6), 15, 0, kPath50mV, 0.0, 0.05},
        {resistor(5e3), 7, 0, kPath20mV, -0.00025, 0.02},  {resistor(1e9), 7, 0, kRow5, -4.0, 0.2},
        {open, 7, 0, kRow5, -4.0, 0.2},                    {open, 15, 0, kRow5, 0.0, 0.2},
        {simboard::TLoad{"diode", 0.0, 0.6}, 13, 0, kRow5, -0.6, 0.2},
    };
    for (const auto& r : rows) {
        simboard::setLoad(r.load);
        Params p = params(r.gain);
        p[17] = 1;
        p[5] = r.p5;
        p[6] = r.p6;
        p[18] = 282;
        front(0, p);
        const double u = r.volts / r.voltsPerDiv * 125.0 + dacUnits(282) - 62.0;
        EXPECT_EQ(simboard::sampleCode(0, 0.0003), codeOf(u))
            << r.load.kind << " " << r.load.ohms << ", p5 " << r.p5 << ", p6 " << r.p6;
    }
    // Without current the ohmmeter position puts 0 V on the top edge.
    EXPECT_NEAR(dacUnits(282) - 62.0, 500.0, 0.2);

    // Another channel's relay bit changes nothing; channel 1 with the relay open reads its signal.
    Params p = params(kVolt2);
    p[17] = 1;
    p[5] = 14;
    front(1, p);
    simboard::setSignal(1, signal("dc", 0.0, 0.0, 1.0));
    EXPECT_EQ(simboard::sampleCode(1, 0.0), codeOf(62.5));
    front(0, params(kVolt2));
    EXPECT_EQ(simboard::sampleCode(0, 0.00025), codeOf(1.0 / 2.0 * 125.0));
}

// p7 = 0 with no current range: the diode source (diode +Vf, resistor 1 mA x R up to 3.3 V,
// open 3.3 V) at the voltmeter's own gain.
TEST_F(SimMeter, DiodeSource)
{
    const struct {
        simboard::TLoad load;
        double volts;
    } rows[] = {
        {{"diode", 0.0, 0.62}, 0.62}, {{"resistor", 1000.0, 0.0}, 1.0}, {{"resistor", 1e4, 0.0}, 3.3},
        {{"open", 0.0, 0.0}, 3.3},
    };
    for (const auto& r : rows) {
        simboard::setLoad(r.load);
        Params p = params(kVolt2);
        p[7] = 0;
        front(0, p);
        EXPECT_EQ(simboard::sampleCode(0, 0.0), codeOf(r.volts / 2.0 * 125.0)) << r.load.kind;
    }
    // With a current range selected p7 = 0 is no diode source.
    simboard::setSignal(0, signal("dc", 0.0, 0.0, -1.0));
    Params p = params(kVolt2);
    p[7] = 0;
    p[5] = 13;
    front(0, p);
    EXPECT_EQ(simboard::sampleCode(0, 0.0), codeOf(-62.5));
}

// Counts of the seven ranges for a 25 kHz sine, the read-back in Gray code, the idle selection,
// the selection of the global controller, and the cases without comparator activity.
TEST_F(SimMeter, FrequencyCounters)
{
    simboard::setSignal(2, signal("sine", 2.0, 25000.0));
    front(2, params(kVolt2));
    const uint32_t expected[7] = {4, 78, 1250, 838, 52, 3, 1};
    for (int range = 0; range < 7; ++range) {
        selectRange(0x4, static_cast<uint16_t>(4 * (range + 1)));
        EXPECT_EQ(simboard::counterRange(2), range);
        EXPECT_EQ(readCounter(2), expected[range]) << range;
    }
    selectRange(0x4, 3);
    EXPECT_EQ(simboard::counterRange(2), -1);
    EXPECT_EQ(readCounter(2), 0u);
    selectRange(0, 13);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(simboard::counterRange(ch), 2) << ch;
    EXPECT_EQ(readCounter(2), 1250u);

    simboard::setSignal(2, signal("sine", 2.0, 10.0));
    EXPECT_EQ(readCounter(2), 0xFFFFu) << "at most 0xFFFF";
    simboard::setSignal(2, signal("sine", 2.0, 25000.0));

    simboard::setCounterSilent(2, true);
    EXPECT_EQ(readCounter(2), 0u);
    simboard::clearFaults();
    EXPECT_EQ(readCounter(2), 1250u);

    Params high = params(kVolt2);
    high[19] = 0;  // threshold far above the swing
    front(2, high);
    EXPECT_EQ(readCounter(2), 0u);
    front(2, params(kVolt2));
    ASSERT_TRUE(simtest::spiWrite(20, 0xB));
    EXPECT_EQ(readCounter(2), 0u) << "unpowered";
    ASSERT_TRUE(simtest::spiWrite(20, 0xF));
    simboard::setSignal(2, signal("dc", 0.0, 0.0, 1.0));
    EXPECT_EQ(readCounter(2), 0u) << "DC";
}

// SPI 32: a 100 kHz sine saturates its channel's six bits within a millisecond; DC and
// channel 1's current path give none; a stuck value holds until the faults are cleared.
TEST_F(SimMeter, ComparatorActivity)
{
    simboard::setSignal(1, signal("sine", 2.0, 100000.0));
    simboard::setSignal(0, signal("sine", 2.0, 100000.0));
    simboard::setSignal(2, signal("dc", 0.0, 0.0, 0.5));
    front(1, params(kVolt2));
    front(2, params(kVolt2));
    Params path = params(kVolt2);
    path[17] = 1;
    path[5] = 13;
    front(0, path);
    ASSERT_TRUE(simtest::spiWrite(32, 0));
    const uint64_t start = simboard::simTimeNs();
    while (simboard::simTimeNs() - start < 1000000)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const uint32_t word = simtest::spiRead(32);
    EXPECT_EQ((word >> 10) & 0x3F, 63u);
    EXPECT_EQ((word >> 4) & 0x3F, 0u) << "channel 1 on its current path";
    EXPECT_EQ((word >> 16) & 0x3F, 0u) << "channel 3 at DC";

    simboard::setQualityStuck(1, 5);
    EXPECT_EQ((simtest::spiRead(32) >> 10) & 0x3F, 5u);
    simboard::clearFaults();
    EXPECT_EQ((simtest::spiRead(32) >> 10) & 0x3F, 63u);
}

// Channel 1's capacitor, with the engine paused so that the board's clock moves only when told:
// the current ramps it down as -I t / (C + 200 pF) from where it stood, clamped at -4 V; the
// discharge switch empties it through 10 ohms; without current it holds; a leak bends the ramp.
TEST_F(SimMeter, CapacitorOnTheCurrentPath)
{
    simboard::setEnginePaused(true);
    Params p = params(kRow5);
    p[17] = 1;
    p[18] = 282;
    const auto drive = [&](uint16_t p5, uint16_t p6) {
        p[5] = p5;
        p[6] = p6;
        front(0, p);
    };
    const auto after = [](double seconds) {
        simboard::runEngine(static_cast<uint64_t>(std::llround(seconds * 1e9)));
        return simboard::pathVolts();
    };
    constexpr double kPath = 200e-12;

    simboard::setCapacitor(1e-6);
    drive(13, 1);
    EXPECT_EQ(after(0.001), 0.0) << "discharged";
    drive(13, 0);
    EXPECT_NEAR(after(0.001), -50e-6 * 0.001 / (1e-6 + kPath), 1e-9);
    EXPECT_NEAR(after(0.001), -50e-6 * 0.002 / (1e-6 + kPath), 1e-9);
    const double held = -50e-6 * 0.002 / (1e-6 + kPath);
    drive(15, 0);
    EXPECT_NEAR(after(0.5), held, 1e-12) << "no current: holds";
    // The samples read it through the path's gain (0.2 V a division here) and bias.
    EXPECT_EQ(simboard::sampleCode(0, 0.0), codeOf(held / 0.2 * 125.0 + dacUnits(282) - 62.0));
    drive(13, 0);
    EXPECT_NEAR(after(0.001), held - 50e-6 * 0.001 / (1e-6 + kPath), 1e-9) << "goes on from where it stood";
    EXPECT_EQ(after(0.2), -4.0) << "the source's compliance";
    drive(15, 1);
    EXPECT_NEAR(after(20e-6), -4.0 * std::exp(-20e-6 / (10 * (1e-6 + kPath))), 1e-6);
    EXPECT_NEAR(after(0.01), 0.0, 1e-9);

    simboard::setCapacitor(0.0);
    drive(11, 0);
    EXPECT_NEAR(after(100e-6), -2e-6 * 100e-6 / kPath, 1e-9) << "the path's own capacitance";
    drive(15, 1);
    after(0.001);

    simboard::setCapacitor(1e-6, 1e4);
    drive(13, 0);
    const double tau = 1e4 * (1e-6 + kPath);
    EXPECT_NEAR(after(0.01), -50e-6 * 1e4 * (1 - std::exp(-0.01 / tau)), 1e-9) << "leak";
    EXPECT_NEAR(after(0.09), -0.5, 1e-4) << "settles at -I R";

    simboard::setLoad(simboard::TLoad{"open", 0.0, 0.0});
    EXPECT_EQ(simboard::pathVolts(), -4.0) << "open: the compliance while current flows";
    simboard::setEnginePaused(false);
}

// The scenario's "load" key of channel 1, written and read back.
TEST(SimMeterScenario, LoadKey)
{
    simboard::TScenario s = simboard::defaultScenario();
    EXPECT_EQ(s.load.kind, "open");
    s.load = simboard::TLoad{"resistor", 4700.0, 0.0};
    simboard::TScenario back;
    ASSERT_TRUE(simboard::parseScenario(simboard::scenarioToJson(s), &back));
    EXPECT_EQ(back.load.kind, "resistor");
    EXPECT_EQ(back.load.ohms, 4700.0);

    ASSERT_TRUE(simboard::parseScenario(R"({"channels": [{"load": {"kind": "diode", "volts": 0.62}}]})", &back));
    EXPECT_EQ(back.load.kind, "diode");
    EXPECT_DOUBLE_EQ(back.load.volts, 0.62);
    ASSERT_TRUE(simboard::parseScenario(R"({"channels": [{"load": {"kind": "capacitor", "farads": 4.7e-8}}]})", &back));
    EXPECT_EQ(back.load.kind, "capacitor");
    EXPECT_DOUBLE_EQ(back.load.farads, 4.7e-8);
    EXPECT_EQ(back.load.leakOhms, 0.0);
    s.load = simboard::TLoad{"capacitor", 0.0, 0.0, 2.2e-6, 5e5};
    ASSERT_TRUE(simboard::parseScenario(simboard::scenarioToJson(s), &back));
    EXPECT_EQ(back.load.farads, 2.2e-6);
    EXPECT_EQ(back.load.leakOhms, 5e5);
    std::string error;
    EXPECT_FALSE(simboard::parseScenario(R"({"channels": [{"load": {"kind": "capacitor", "farads": -1}}]})", &back, &error));
    EXPECT_NE(error.find("channels[0].load.farads"), std::string::npos) << error;
    EXPECT_FALSE(simboard::parseScenario(R"({"channels": [{"load": {"kind": "inductor"}}]})", &back, &error));
    EXPECT_NE(error.find("channels[0].load.kind"), std::string::npos) << error;
}

} // namespace
