// The simulated board's acquisition engine and analogue model, driven through raw SPI, EIM and
// serial accesses and the control API (never through the product's driver).
#include "board/sim/simboard.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using simboard::TAcqKind;
using simboard::TSample;
using simboard::TStrictCheck;

constexpr uint64_t kMs = 1000000;

uint32_t gray(uint32_t n)
{
    return n ^ (n >> 1);
}

struct TFront {
    int row = 7;          // sensitivity row of the front end's table
    uint16_t p18 = 512;   // offset DAC
    uint16_t p19 = 511;   // trigger level
    uint16_t p41 = 1;     // comparator polarity
    uint16_t p40 = 0;     // trigger output disabled
    uint16_t p13 = 0;     // ground
    uint16_t p3 = 0;      // AC
    uint16_t p16 = 128;   // the first offset trim, at its factory value
    uint16_t p11 = 0;     // the calibration path, where that trim acts
};

// (p24, p27, p35, p33, p34) per row.
constexpr uint16_t kRows[16][5] = {{14, 7, 4, 8, 7}, {14, 7, 4, 4, 3}, {14, 7, 4, 2, 2}, {14, 7, 2, 2, 2},
                                   {14, 7, 2, 1, 0}, {14, 7, 1, 1, 0}, {13, 6, 4, 2, 2}, {13, 6, 4, 1, 1},
                                   {13, 6, 2, 1, 0}, {13, 6, 1, 1, 1}, {11, 4, 4, 1, 0}, {11, 4, 2, 1, 0},
                                   {11, 4, 1, 1, 0}, {7, 0, 4, 1, 0},  {7, 0, 2, 1, 0},  {7, 0, 1, 1, 0}};

class SimEngine : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        if (HasFatalFailure())
            return;
        simboard::setEnginePaused(true);
        w_ = std::make_unique<simtest::Window>();
        ASSERT_TRUE(w_->ok());
        ASSERT_TRUE(simtest::spiWrite(20, 0xF));   // the four channels powered
    }
    void TearDown() override
    {
        w_.reset();
        SimFpgaBoardTest::TearDown();
    }

    void cmd(uint16_t mask, uint16_t op, uint32_t value) { w_->command(mask, op, static_cast<uint16_t>(value << 1)); }
    // A word sent as its bits 14 and up, then its low 14 bits.
    void twoPart(uint16_t mask, uint16_t op, uint32_t word)
    {
        cmd(mask, op, (word >> 14) & 0x7FFF);
        cmd(mask, op, word & 0x3FFF);
    }
    void front(int ch, const TFront& f)
    {
        std::array<uint16_t, simboard::kChipParams> p{};
        p[24] = kRows[f.row][0];
        p[27] = kRows[f.row][1];
        p[35] = kRows[f.row][2];
        p[33] = kRows[f.row][3];
        p[34] = kRows[f.row][4];
        p[18] = f.p18;
        p[19] = f.p19;
        p[41] = f.p41;
        p[40] = f.p40;
        p[13] = f.p13;
        p[3] = f.p3;
        p[16] = f.p16;
        p[11] = f.p11;
        for (int r = 0; r < simboard::kChipRegisters; ++r)
            cmd(static_cast<uint16_t>(1u << ch), static_cast<uint16_t>(r), simtest::encodeChipRegister(p.data(), r));
    }
    static simboard::TSignal sine(double vpp, double hz)
    {
        simboard::TSignal s;
        s.shape = "sine";
        s.vpp = vpp;
        s.frequency = hz;
        return s;
    }
    static simboard::TSignal dc(double v)
    {
        simboard::TSignal s;
        s.offset = v;
        return s;
    }
    // Counts, trigger parameter of the source channel, relay words and mask.
    void arm(uint32_t pre, uint32_t post, uint16_t relay, uint16_t triggerMask = 1, uint32_t c3 = 0)
    {
        twoPart(triggerMask, 0xC4, gray(pre));
        twoPart(triggerMask, 0xC5, gray(post));
        cmd(0xF, 0xC3, 19);
        cmd(triggerMask, 0xC3, c3);
        cmd(0xF, 0x90, relay);
        ASSERT_TRUE(simtest::spiWrite(8, relay & 0x20 ? 0x1FF2F : 0x1FF6F));
        w_->write(17, 4095);
    }
    // A streaming acquisition at (SPI 68 + 1) us per sample.
    void startStreaming(uint32_t pre, uint32_t post, uint32_t spi68, uint16_t triggerMask = 1, uint32_t c3 = 0,
                        uint32_t spi0 = 0)
    {
        ASSERT_TRUE(simtest::spiWrite(68, spi68));
        ASSERT_TRUE(simtest::spiWrite(0, spi0));
        arm(pre, post, 0x100, triggerMask, c3);
        cmd(triggerMask, 0x97, 0);
        ASSERT_TRUE(simtest::spiWrite(0, spi0 | 0x2));
        cmd(triggerMask, 0x80, 0);
    }
    static std::vector<TSample> drain()
    {
        std::vector<TSample> v(simboard::kFifoSamples);
        v.resize(simboard::popSamples(v.data(), v.size()));
        return v;
    }
    static std::vector<std::string> engineLog()
    {
        std::vector<std::string> out;
        for (const auto& e : simboard::log({simboard::TLogKind::Engine}))
            out.push_back(e.text);
        return out;
    }
    static bool logHas(const std::string& text)
    {
        for (const auto& t : engineLog())
            if (t.find(text) != std::string::npos)
                return true;
        return false;
    }
    static void expectOnlyViolations(std::vector<TStrictCheck> expected)
    {
        std::vector<TStrictCheck> got;
        for (const auto& v : simboard::violations())
            got.push_back(v.check);
        EXPECT_EQ(got, expected);
        simboard::clearViolations();
    }

    std::unique_ptr<simtest::Window> w_;
};

// A 2 Vpp 1 kHz sine as the board alone produces it: the sine placed by row 7 and p18 = 512,
// triggered on its rising crossing of 0 V after the pre count, ended after the post count.
TEST_F(SimEngine, StreamingSinePlacedTriggeredAndEndedByTheCounts)
{
    simboard::setSignal(0, sine(2.0, 1000.0));
    front(0, TFront{});
    startStreaming(1000, 2000, 3);
    simboard::runEngine(40 * kMs);

    const auto st = simboard::engineState();
    EXPECT_EQ(st.kind, TAcqKind::Streaming);
    EXPECT_EQ(st.samplePeriodPs, 4000000u);
    EXPECT_EQ(st.preCount, 1000u);
    EXPECT_EQ(st.postCount, 2000u);
    ASSERT_TRUE(st.triggered);
    EXPECT_TRUE(st.lastBlock);
    EXPECT_FALSE(st.running);
    EXPECT_EQ(st.source, 0);
    EXPECT_GE(st.triggerSample, 8 + 1000);
    // The post count runs from the trigger sample on: it is the first of the 2000.
    EXPECT_EQ(st.produced, static_cast<uint64_t>(st.triggerSample) + 2000);
    EXPECT_EQ(simboard::status() & 0x2F, 0x21u);
    EXPECT_EQ(simtest::spiRead(104) & 0x1FFF, static_cast<uint32_t>(st.triggerSample));

    const auto v = drain();
    ASSERT_EQ(v.size(), st.produced);
    for (size_t k = 0; k < 8; ++k)
        EXPECT_EQ(v[k], (TSample{0xFFF, 0xFFF, 0xFFF, 0xFFF})) << k;
    uint16_t lo = 4095, hi = 0;
    std::vector<size_t> rising;
    for (size_t k = 9; k < v.size(); ++k) {
        lo = std::min(lo, v[k][0]);
        hi = std::max(hi, v[k][0]);
        if (v[k - 1][0] < 2048 && v[k][0] >= 2048)
            rising.push_back(k);
    }
    EXPECT_NEAR(lo, 1148, 12);
    EXPECT_NEAR(hi, 2947, 30);
    ASSERT_GE(rising.size(), 3u);
    EXPECT_EQ(std::find(rising.begin(), rising.end(), static_cast<size_t>(st.triggerSample)) != rising.end(), true);
    for (size_t i = 1; i < rising.size(); ++i)
        EXPECT_NEAR(static_cast<double>(rising[i] - rising[i - 1]), 250.0, 1.0);
    EXPECT_TRUE(logHas("start"));
    EXPECT_TRUE(logHas("trigger edge"));
    EXPECT_TRUE(logHas("last block"));
}

// Sample clock per kind and mode bits; ELV and divider words rebuilt from their parts.
TEST_F(SimEngine, SampleClockAndBlockLengthFromTheirWords)
{
    struct Case {
        uint32_t spi0, spi68;
        uint64_t ps;
    } cases[] = {{0, 3, 4000000}, {0x40, 0, 80000}, {0x40, 9, 800000}, {0x20, 4, 5040000}, {0, 0, 1000000}};
    for (const auto& c : cases) {
        startStreaming(0, 10, c.spi68, 1, 0, c.spi0);
        simboard::runEngine(kMs / 10);
        EXPECT_EQ(simboard::engineState().samplePeriodPs, c.ps) << c.spi0 << " " << c.spi68;
        cmd(1, 0x96, 0);
    }
    // ET: (d + 1) x 8 ns, the divider sent as bits 14-19 then the low 14 bits.
    twoPart(1, 0x89, 49);
    arm(10, 10, 0x20);
    cmd(1, 0x97, 0);
    EXPECT_EQ(simboard::engineState().kind, TAcqKind::EquivalentTime);
    EXPECT_EQ(simboard::engineState().samplePeriodPs, 400000u);
    EXPECT_EQ(simboard::engineState().divider, 49u);

    // ELV parts 21 and 5461 read back as 349525 << 4 on both opcodes.
    cmd(8, 0x82, 21);
    cmd(8, 0x82, 5461);
    cmd(8, 0x83, 0);
    cmd(8, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 349525u << 4);
    cmd(8, 0x186, 0);
    EXPECT_EQ(w_->readBack(), 349525u << 4);
    EXPECT_EQ(simboard::engineState().elv, 349525u);
    // The self test's pattern.
    cmd(4, 0x82, 0xAAAAA >> 14);
    cmd(4, 0x82, 0xAAAAA & 0x3FFF);
    cmd(4, 0x83, 0);
    cmd(4, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 0xAAAAAu << 4);
    // The late read-back fault answers 0 until 0xAD.
    simboard::setElvReadBackLate(true);
    cmd(8, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 0u);
    cmd(8, 0xAD, 0);
    cmd(8, 0x186, 0);
    EXPECT_EQ(w_->readBack(), 349525u << 4);
    // One channel's late fault; a dead device never echoes.
    simboard::clearFaults();
    simboard::setElvReadBackLate(2, true);
    cmd(4, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 0u);
    cmd(8, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 349525u << 4) << "the other channels answer";
    cmd(4, 0xAC, 0);
    cmd(4, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 0xAAAAAu << 4);
    simboard::setPipelineDead(2, true);
    cmd(4, 0x82, 0xAAAAA >> 14);
    cmd(4, 0x82, 0xAAAAA & 0x3FFF);
    cmd(4, 0x83, 0);
    for (uint16_t op : {0x185, 0x186}) {
        cmd(4, op, 0);
        EXPECT_EQ(w_->readBack(), 0u);
    }
    simboard::clearFaults();
    cmd(4, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 0xAAAAAu << 4);
    // The pipeline depth answer.
    cmd(1, 0x181, 0);
    EXPECT_EQ(w_->read(52) & 0xFF, 26);
}

// Forces, free-run and the normal trigger of a flat input; the no-trigger fault holds every
// kind back and a stop still ends the acquisition.
TEST_F(SimEngine, TriggerCausesAndTheNoTriggerFault)
{
    simboard::setSignal(0, dc(0.2));
    front(0, TFront{});
    struct Case {
        const char* name;
        uint16_t mask;
        uint32_t c3;
        bool spi56AtStart;
        bool c3OneWhileRunning;
        const char* cause;   // nullptr: no trigger
        int source;
        bool atPreCount;     // fires on the first sample after the pre count
    } cases[] = {
        {"flat edge", 1, 0, false, false, nullptr, 0, false},
        {"spi56 force", 1, 0, true, false, "trigger force", 0, true},
        {"immediate", 1, 0, false, true, "trigger immediate", 0, false},
        {"free-run", 0, 21, false, false, "trigger free-run", -1, true},
    };
    for (const auto& c : cases) {
        simboard::clearLog();
        ASSERT_TRUE(simtest::spiWrite(56, c.spi56AtStart ? 1 : 0));
        startStreaming(100, 50, 0, c.mask, c.c3);
        simboard::runEngine(kMs / 2);
        if (c.c3OneWhileRunning) {
            cmd(0xF, 0xC3, 1);
            simboard::runEngine(kMs / 2);
        }
        const auto st = simboard::engineState();
        EXPECT_EQ(st.triggered, c.cause != nullptr) << c.name;
        EXPECT_EQ(st.source, c.source) << c.name;
        if (c.cause) {
            EXPECT_TRUE(logHas(c.cause)) << c.name;
            if (c.atPreCount)
                EXPECT_EQ(st.triggerSample, 8 + 100) << c.name;
            else
                EXPECT_GT(st.triggerSample, 8 + 100) << c.name;
            EXPECT_TRUE(st.lastBlock) << c.name;
        } else {
            EXPECT_TRUE(st.running) << c.name;
        }
        cmd(0xF, 0x96, 0);
        EXPECT_FALSE(simboard::engineState().running) << c.name;
        w_->write(16, 0x8000);
    }

    // No trigger ever, even forced; the stop still ends it.
    simboard::setNoTrigger(true);
    ASSERT_TRUE(simtest::spiWrite(56, 1));
    startStreaming(10, 10, 0, 0, 21);
    simboard::runEngine(2 * kMs);
    EXPECT_FALSE(simboard::engineState().triggered);
    EXPECT_TRUE(simboard::engineState().running);
    ASSERT_TRUE(simtest::spiWrite(8, 0));
    EXPECT_FALSE(simboard::engineState().running);
    EXPECT_TRUE(logHas("stop (SPI 8 := 0)"));
}

// The ET protocol: nothing before the trigger, the 8 warm-up samples and bit 5 after the post
// count, then the 2,689-entry record and bit 7 on the flush; after it the pipeline read-backs
// answer the record (its content is checked in test_sim_et.cpp), until the next block length.
TEST_F(SimEngine, EquivalentTimeProtocolAndPipelineAnswers)
{
    simboard::setSignal(0, sine(2.0, 1000.0));
    front(0, TFront{});
    twoPart(1, 0x89, 49);
    twoPart(0xF, 0x82, 1);
    cmd(0xF, 0x83, 0);
    arm(1252, 1249, 0x20);
    w_->write(16, 0x8000);
    simboard::forceEtChoices(40, 0.5);
    cmd(1, 0x97, 0);
    EXPECT_EQ(simboard::fifo().count, 0u);
    cmd(1, 0x181, 0);
    EXPECT_EQ(w_->read(52) & 0xFF, 26) << "no record yet: the pipeline depth";
    simboard::runEngine(3 * kMs);
    auto st = simboard::engineState();
    ASSERT_TRUE(st.triggered);
    EXPECT_TRUE(st.lastBlock);
    EXPECT_EQ(simboard::fifo().count, 8u);
    EXPECT_EQ(simboard::status() & 0xA1, 0x21u);
    const auto warm = drain();
    for (const auto& s : warm)
        EXPECT_EQ(s, (TSample{0xFFF, 0xFFF, 0xFFF, 0xFFF}));

    cmd(1, 0x95, 0);
    EXPECT_TRUE(simboard::engineState().flushed);
    EXPECT_TRUE(simboard::status() & 0x80);
    const auto rec = drain();
    ASSERT_EQ(rec.size(), 2689u);
    const auto facts = simboard::etRecord();
    ASSERT_TRUE(facts.valid);
    EXPECT_EQ(rec[0], (TSample{facts.vernierCode, facts.vernierCode, facts.vernierCode, facts.vernierCode}));
    EXPECT_EQ(facts.vernierCode, 3300) << "the fraction falls on a clock edge: position 0";
    for (size_t b = 0; b < 128; ++b)
        EXPECT_EQ(rec[1 + 21 * b], (TSample{0, 0, 0, 0})) << b;
    EXPECT_TRUE(logHas("flush"));
    // Pipeline answers: N = 127 - b - 1, G << 4 on both, the macro vernier << 7.
    cmd(1, 0x181, 0);
    EXPECT_EQ(127 - (w_->read(52) & 0xFF) - 1, 40);
    cmd(1, 0x185, 0);
    EXPECT_EQ(w_->readBack(), facts.pattern << 4);
    EXPECT_EQ(facts.pattern & (facts.pattern - 1), 0u) << "length 1: one bit";
    cmd(1, 0x186, 0);
    EXPECT_EQ(w_->readBack(), facts.pattern << 4);
    cmd(1, 0x1A0, 0);
    EXPECT_EQ(w_->readBack() >> 7, static_cast<uint32_t>(facts.macroVernier));
    EXPECT_EQ(facts.macroVernier, 24) << "half of the 50 clocks of a 400 ns sample, counted down";
    // A second flush adds nothing; a new block length reads back as itself again.
    cmd(1, 0x95, 0);
    EXPECT_EQ(simboard::fifo().count, 0u);
    twoPart(0xF, 0x82, 1);
    cmd(0xF, 0x83, 0);
    cmd(1, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 1u << 4);
}

// Back-pressure never loses a sample; the stalled-FIFO fault holds production; the age rule
// raises the level bit for slow time bases.
TEST_F(SimEngine, BackPressureStalledFifoAndTheTwentyMillisecondLevel)
{
    simboard::setSignal(0, dc(0));
    front(0, TFront{});
    startStreaming(0, 1000000, 0, 0, 19);   // 1 us, no trigger source: runs until stopped
    simboard::runEngine(30 * kMs);
    EXPECT_EQ(simboard::fifo().count, simboard::kFifoSamples);
    EXPECT_TRUE(simboard::engineState().stalled);
    const uint64_t before = simboard::engineState().produced;
    EXPECT_EQ(before, simboard::kFifoSamples);
    drain();
    simboard::runEngine(kMs);
    EXPECT_EQ(simboard::fifo().produced, simboard::fifo().popped + simboard::fifo().count);
    EXPECT_GT(simboard::engineState().produced, before);

    simboard::setFifoStalled(true);
    const uint64_t held = simboard::engineState().produced;
    simboard::runEngine(5 * kMs);
    EXPECT_EQ(simboard::engineState().produced, held);
    simboard::setFifoStalled(false);
    simboard::runEngine(kMs);
    EXPECT_GT(simboard::engineState().produced, held);
    cmd(0, 0x96, 0);
    w_->write(16, 0x8000);

    // 1 ms per sample: 8 samples older than 20 ms raise bit 6 long before 4,095.
    startStreaming(0, 1000000, 999, 0, 19);
    simboard::runEngine(15 * kMs);
    EXPECT_FALSE(simboard::status() & 0x40);
    simboard::runEngine(20 * kMs);
    EXPECT_TRUE(simboard::status() & 0x40);
    EXPECT_GT(simboard::interruptState().raised, 0u);
    drain();
    EXPECT_FALSE(simboard::status() & 0x40);
}

// The analogue model's placement, coupling, clipping and faults.
TEST_F(SimEngine, AnalogueModelPlacesTheSignal)
{
    struct Case {
        const char* name;
        simboard::TSignal sig;
        TFront f;
        uint16_t code;
    } cases[] = {
        {"0 V centre", dc(0), TFront{}, 2048},
        {"+1 V at 0.5 V/div", dc(1.0), TFront{}, 2948},
        {"-1 V at 0.5 V/div", dc(-1.0), TFront{}, 1148},
        {"1 V at 1 V/div", dc(1.0), TFront{8, 512, 511, 1, 0, 0, 0}, 2498},
        {"position up", dc(0), TFront{7, 102, 511, 1, 0, 0, 0}, 4095},   // 1002 thousandths: clipped
        {"clip low", dc(-10.0), TFront{}, 0},
        {"ground", dc(1.0), TFront{7, 512, 511, 1, 0, 1, 0}, 2048},
        {"AC removes the mean", dc(1.0), TFront{7, 512, 511, 1, 0, 0, 1}, 2048},
    };
    for (const auto& c : cases) {
        simboard::setSignal(1, c.sig);
        front(1, c.f);
        EXPECT_EQ(simboard::sampleCode(1, 0.0), c.code) << c.name;
    }
    EXPECT_DOUBLE_EQ(simboard::analogChannel(1).voltsPerDiv, 0.5);

    simboard::setSignal(1, dc(1.0));
    front(1, TFront{});
    simboard::setInputsConnected(false);
    EXPECT_EQ(simboard::sampleCode(1, 0.0), 2048);
    simboard::setInputsConnected(true);
    simboard::TScenario parsed;
    ASSERT_TRUE(simboard::parseScenario(R"({"inputs connected": false})", &parsed));
    EXPECT_FALSE(parsed.inputsConnected);
    EXPECT_FALSE(simboard::parseScenario(R"({"inputs connected": 3})", &parsed));
    simboard::setSilentChannel(1, 0x123);
    EXPECT_EQ(simboard::sampleCode(1, 0.0), 0x123);
    simboard::setSilentChannel(1, -1);
    ASSERT_TRUE(simtest::spiWrite(20, 0xD));   // channel 2 unpowered
    EXPECT_EQ(simboard::sampleCode(1, 0.0), 2048);
    ASSERT_TRUE(simtest::spiWrite(20, 0xF));

    // An unknown sensitivity tuple keeps the last volts per division and is logged.
    cmd(2, 8, 0);   // register 8 carries p24 (inverted): 15 is no row
    EXPECT_DOUBLE_EQ(simboard::analogChannel(1).voltsPerDiv, 0.5);
    EXPECT_TRUE(logHas("unknown sensitivity"));

    // The comparator threshold follows p19 in the same units: level at +0.4 V (80 units).
    const uint16_t p19 = static_cast<uint16_t>(511 - 80 * 8184 / 20000);
    front(1, TFront{7, 512, p19, 1, 0, 0, 0});
    EXPECT_NEAR(simboard::analogChannel(1).thresholdUnits, (511 - p19) * 20000.0 / 8184.0, 1e-9);
}

// The one modelled calibration trim, the stuck offset DAC, comparator flips made by threshold
// writes, and the scenario's start-up faults.
TEST_F(SimEngine, TrimStuckDacComparatorFlipsAndStartupFaults)
{
    simboard::setSignal(1, dc(0.0));
    const struct {
        const char* what;
        TFront f;
        uint16_t code;
    } trims[] = {
        {"factory trim", TFront{}, 2048},
        {"trim +10 at p35 = 4", TFront{7, 512, 511, 1, 0, 0, 0, 138, 1}, 2088},
        {"trim -5 at p35 = 2", TFront{3, 512, 511, 1, 0, 0, 0, 123, 1}, 2038},
        {"outside the calibration path", TFront{7, 512, 511, 1, 0, 0, 0, 138, 0}, 2048},
    };
    for (const auto& t : trims) {
        front(1, t.f);
        EXPECT_EQ(simboard::sampleCode(1, 0.0), t.code) << t.what;
    }
    simboard::setOffsetDacStuck(1, true);
    front(1, TFront{7, 102, 511, 1, 0, 0, 0});
    EXPECT_EQ(simboard::sampleCode(1, 0.0), 2048) << "p18 does not move a stuck DAC";
    simboard::setOffsetDacStuck(1, false);
    front(1, TFront{7, 102, 511, 1, 0, 0, 0});
    EXPECT_EQ(simboard::sampleCode(1, 0.0), 4095);

    // A 0 V input: moving the threshold across it flips the comparator once per move.
    front(1, TFront{7, 512, 300, 1, 0, 0, 0});
    ASSERT_TRUE(simtest::spiWrite(32, 0));
    front(1, TFront{7, 512, 700, 1, 0, 0, 0});
    EXPECT_EQ((simtest::spiRead(32) >> 10) & 0x3F, 1u);
    front(1, TFront{7, 512, 720, 1, 0, 0, 0});
    EXPECT_EQ((simtest::spiRead(32) >> 10) & 0x3F, 1u) << "still on the same side";
    front(1, TFront{7, 512, 300, 1, 0, 0, 0});
    EXPECT_EQ((simtest::spiRead(32) >> 10) & 0x3F, 2u);
    simboard::setQualityStuck(1, 0);
    front(1, TFront{7, 512, 700, 1, 0, 0, 0});
    EXPECT_EQ((simtest::spiRead(32) >> 10) & 0x3F, 0u);

    // Start-up faults from the scenario act from power-on; clearFaults ends them.
    simboard::updateScenario([](simboard::TScenario& sc) { sc.faults.deadPipeline[3] = true; });
    simboard::reset();
    ASSERT_TRUE(simtest::spiWrite(20, 0xF));
    cmd(8, 0x82, 0xAAAAA >> 14);
    cmd(8, 0x82, 0xAAAAA & 0x3FFF);
    cmd(8, 0x83, 0);
    cmd(8, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 0u);
    simboard::clearFaults();
    cmd(8, 0x185, 0);
    EXPECT_EQ(w_->readBack(), 0xAAAAAu << 4);
}

// Strict checks of the start: no mask, and a post count never written.
TEST_F(SimEngine, StrictChecksOfTheStart)
{
    cmd(1, 0xC3, 0);
    cmd(1, 0x97, 0);
    EXPECT_FALSE(simboard::engineState().running);
    expectOnlyViolations({TStrictCheck::StartWithoutMask});
    ASSERT_TRUE(simtest::spiWrite(8, 0x1FF6F));
    cmd(1, 0x97, 0);
    EXPECT_TRUE(simboard::engineState().running);
    expectOnlyViolations({TStrictCheck::PostCountNeverWritten});
    twoPart(1, 0xC5, gray(10));
    cmd(1, 0x97, 0);
    expectOnlyViolations({});
}

// Unpaused, the device thread advances the engine with the scenario's speed factor.
TEST_F(SimEngine, DeviceThreadRunsAtTheSpeedFactor)
{
    simboard::updateScenario([](simboard::TScenario& s) { s.speedFactor = 50; });
    simboard::setEnginePaused(false);
    simboard::setSignal(0, sine(2.0, 1000.0));
    front(0, TFront{});
    startStreaming(500, 500, 3);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!simboard::engineState().lastBlock && std::chrono::steady_clock::now() < until) {
        drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(simboard::engineState().lastBlock);
    EXPECT_TRUE(simboard::engineState().triggered);
}

} // namespace
