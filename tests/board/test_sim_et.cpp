// The simulated board's equivalent-time record, decoded by a small sort-and-place of the test's
// own (ring walk, origin and placement as the transfer does them) and compared with the
// analogue model at the instants the board states for each record position.
#include "board/sim/simboard.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using simboard::TSample;

uint32_t gray(uint32_t n)
{
    return n ^ (n >> 1);
}

// Per time-base index 6..17: the words the driver sends for a 50,000 / 50,000 record (divider,
// block length, pre-trigger word with its 3 ms fill, the driver's pre and post counts) and the
// transfer's tables (vernier divider, residual delay x 1000), scale in seconds per position.
struct TBase {
    int index;
    uint32_t divider;
    uint32_t elv;
    uint32_t preWord;
    int32_t pretrig;
    int32_t postrig;
    int vernierDivider;
    int residual;
    double scale;
    int D;
};
constexpr TBase kBases[] = {
    {6, 0, 0xFFFFF, 375070, 70, 56, 1, 0, 1e-11, 20},    {7, 0, 349525, 375133, 133, 118, 1, 0, 2e-11, 10},
    {8, 0, 33825, 375320, 321, 305, 1, 0, 5e-11, 4},     {9, 0, 1025, 375633, 634, 617, 1, 0, 1e-10, 2},
    {10, 0, 1, 376258, 1259, 1242, 1, 800, 2e-10, 1},    {11, 1, 1, 188755, 1256, 1245, 2, 400, 4e-10, 1},
    {12, 4, 1, 76253, 1253, 1248, 5, 160, 1e-9, 1},      {13, 9, 1, 38752, 1252, 1249, 10, 80, 2e-9, 1},
    {14, 24, 1, 16252, 1252, 1249, 25, 32, 5e-9, 1},     {15, 49, 1, 8752, 1252, 1249, 50, 16, 1e-8, 1},
    {16, 99, 1, 5002, 1252, 1249, 100, 8, 2e-8, 1},      {17, 249, 1, 2751, 1252, 1249, 250, 3, 5e-8, 1},
};
const TBase& base(int index)
{
    return kBases[index - 6];
}

uint32_t rotr20(uint32_t v)
{
    return ((v >> 1) | ((v & 1) << 19)) & 0xFFFFF;
}

// What one acquisition gives the transfer.
struct TCapture {
    std::vector<TSample> ring;
    uint8_t pipelineByte = 0;
    uint32_t g185 = 0, g186 = 0;
    int16_t macroVernier = 0;
};

// The test's own decoder of one channel: -1 where nothing is placed. pairs: min/max, each
// entry of out is {min, max, start position} of a pair.
struct TDecoded {
    std::vector<int> record = std::vector<int>(100000, -1);
    struct TPair {
        int lo, hi, position;
    };
    std::vector<TPair> pairs;
    int N = 0;
    uint32_t G = 0;
    bool ok = false;
};

TDecoded decode(const TCapture& cap, const TBase& tb, int channel, int trigger, bool minMax, uint16_t vmin,
                uint16_t vmax)
{
    TDecoded out;
    const uint32_t elv = tb.elv;
    const int code = cap.ring.at(0)[trigger];
    if (code == 0 || code == 4095)
        return out;
    const int vp = (vmax - code) * 20479 / (vmax - vmin);
    const int K = elv == 1025 ? 10240 : elv == 33825 ? 5120 : elv == 349525 ? 2048 : elv == 0xFFFFF ? 1024 : 20480;
    const int b = cap.pipelineByte;
    uint32_t G = b < 64 ? cap.g185 : cap.g186;
    if (G == 0)
        G = 0xFFFFF;
    const int L = minMax ? ((-b) & 3) : 1;
    int N = 127 - b - L;
    if (N < 0)
        N += 128;
    if (elv != 0xFFFFF && N >= 64 - L && N <= 63)
        G = rotr20(G);
    out.N = N;
    out.G = G;
    int j = 0;
    while (j < 20 && !((G >> j) & elv))
        ++j;
    const int jScaled = elv == 1 ? j * 32768 / 400 : j * 1024;
    const int O = (cap.macroVernier * 20480 + K - vp % K - 1 + jScaled) / tb.vernierDivider;
    const int g = elv == 0xFFFFF ? 1 : elv == 349525 ? 2 : elv == 33825 ? 5 : elv == 1025 ? 10 : 20;
    int tz = 0;
    while (tz < 19 && !((G >> tz) & 1))
        ++tz;
    auto word = [&](int block, int phase) { return cap.ring.at(static_cast<size_t>(2 + 21 * block + phase))[channel]; };

    if (minMax) {
        const int words = std::min(((tb.pretrig + tb.postrig) / 2) & ~1, 2560);
        int blk = (N * 20 + (vp / 1024) / 20 * 20 + tz) % 2560 / 20, ph = (N * 20 + tz) % 20;
        std::vector<int> sorted(static_cast<size_t>(words));
        for (int w = words - 2; w >= 0; w -= 2) {
            const int e = 2 + 21 * blk + ph;
            sorted[static_cast<size_t>(w)] = cap.ring.at(static_cast<size_t>(e))[channel];
            sorted[static_cast<size_t>(w + 1)] = cap.ring.at(static_cast<size_t>(e - 42))[channel];
            const int nb = blk - 4;
            if (blk >= 64 && nb <= 63) {
                ph = ph == 0 ? 19 : ph - 1;
                blk = 63;
            } else {
                blk = nb < 0 ? 127 : nb;
            }
        }
        for (int w = 0; w + 1 < words; w += 2)
            out.pairs.push_back({std::min(sorted[w], sorted[w + 1]), std::max(sorted[w], sorted[w + 1]), 80 * w});
        out.ok = true;
        return out;
    }

    const int count = std::min((tb.pretrig + tb.postrig) * 20 / g, 2560);
    const int u = vp / 1024 - (vp / 1024) % g + tz;
    const int start = (N * 20 + u) % 2560;
    int blk = start / 20, ph = start % 20;
    std::vector<int> sorted(static_cast<size_t>(count));
    std::vector<uint32_t> marks(static_cast<size_t>(count), 0);
    for (int i = count - 1; i >= 0; --i) {
        sorted[static_cast<size_t>(i)] = word(blk, ph);
        if (elv != 0xFFFFF && ph < g && blk == 64) {
            marks[static_cast<size_t>(i)] = (ph == 0 && elv == 1) ? 0x20000000 : 0x40000000;
            ph = ph + 19 - g;
            blk = 63;
            if (ph < 0) {
                ph += 20;
                blk = 62;
            }
        } else {
            ph -= g;
            if (ph < 0) {
                ph += 20;
                blk = blk == 0 ? 127 : blk - 1;
            }
        }
    }
    const int H = elv == 1025 ? 4 : elv == 33825 ? 8 : elv == 349525 ? 20 : 0;
    int pos = (1 - O / K) * 40 + (O * 40) / K;
    int i = 1 - O / K;
    uint32_t carried = 0;
    while (pos < 0 || i < 0) {
        if (i >= 0)
            carried |= marks[static_cast<size_t>(i)];
        pos += 40;
        ++i;
    }
    int acc = 0;
    for (int first = i; i < count && pos < 100000; ++i, pos += 40) {
        const uint32_t m = marks[static_cast<size_t>(i)] | (i == first ? carried : 0);
        if (elv == 1) {
            if (m & 0x40000000)
                acc += tb.residual;
            else if (m & 0x20000000)
                acc -= 19 * tb.residual;
            pos += acc / 1000;
            acc %= 1000;
        } else if (m & 0x40000000) {
            pos += H;
        }
        if ((m & 0x20000000) && !(m & 0x40000000))
            continue;
        if (pos < 100000)
            out.record[static_cast<size_t>(pos)] = sorted[static_cast<size_t>(i)];
    }
    out.ok = true;
    return out;
}

class SimEt : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        if (HasFatalFailure())
            return;
        simboard::setEnginePaused(true);
        w_ = std::make_unique<simtest::Window>();
        ASSERT_TRUE(w_->ok());
        ASSERT_TRUE(simtest::spiWrite(20, 0xF));
        for (uint16_t ch = 0; ch < 2; ++ch)
            front(ch);
    }
    // Front end at sensitivity row 7, offset and trigger level at 0 V, rising comparator (or
    // falling): a sine of 2 Vpp crosses code 2048.
    void front(uint16_t ch, bool risingComparator = true)
    {
        std::array<uint16_t, simboard::kChipParams> p{};
        const uint16_t row7[5] = {13, 6, 4, 1, 1};
        const int ids[5] = {24, 27, 35, 33, 34};
        for (int i = 0; i < 5; ++i)
            p[static_cast<size_t>(ids[i])] = row7[i];
        p[18] = 512;
        p[19] = 511;
        p[41] = risingComparator ? 1 : 0;
        for (int r = 0; r < simboard::kChipRegisters; ++r)
            cmd(static_cast<uint16_t>(1u << ch), static_cast<uint16_t>(r), simtest::encodeChipRegister(p.data(), r));
    }
    void TearDown() override
    {
        w_.reset();
        SimFpgaBoardTest::TearDown();
    }
    void cmd(uint16_t mask, uint16_t op, uint32_t value) { w_->command(mask, op, static_cast<uint16_t>(value << 1)); }
    void twoPart(uint16_t mask, uint16_t op, uint32_t word)
    {
        cmd(mask, op, (word >> 14) & 0x7FFF);
        cmd(mask, op, word & 0x3FFF);
    }
    uint32_t readBack(uint16_t op)
    {
        cmd(1, op, 0);
        return w_->readBack();
    }

    // One ET acquisition at the base's words, triggered by channel 1, flushed and read back.
    TCapture acquire(const TBase& tb, bool minMax, uint32_t triggerParameter = 0)
    {
        TCapture cap;
        twoPart(0xF, 0x89, tb.divider);
        twoPart(0xF, 0x82, tb.elv);
        cmd(0xF, 0x83, 0);
        EXPECT_EQ(readBack(0x185), tb.elv << 4) << "the block length reads back before the acquisition";
        twoPart(1, 0xC4, gray(tb.preWord));
        twoPart(1, 0xC5, gray(static_cast<uint32_t>(tb.postrig)));
        cmd(0xF, 0xC3, 19);
        cmd(1, 0xC3, triggerParameter);
        cmd(0xF, 0x90, 0x20 | (minMax ? 0x400 : 0));
        EXPECT_TRUE(simtest::spiWrite(8, 0x1FF2F));
        w_->write(16, 0x8000);
        cmd(1, 0x97, 0);
        for (int i = 0; i < 100 && !simboard::engineState().lastBlock; ++i)
            simboard::runEngine(1000000);
        EXPECT_TRUE(simboard::engineState().lastBlock) << tb.index;
        drain();
        cmd(1, 0x95, 0);
        cap.ring = drain();
        cap.pipelineByte = static_cast<uint8_t>(readBack(0x181) & 0xFF);
        cap.g185 = readBack(0x185) >> 4;
        cap.g186 = readBack(0x186) >> 4;
        cap.macroVernier = static_cast<int16_t>(readBack(0x1A0) >> 7);
        return cap;
    }
    static std::vector<TSample> drain()
    {
        std::vector<TSample> v(simboard::kFifoSamples);
        v.resize(simboard::popSamples(v.data(), v.size()));
        return v;
    }
    static simboard::TSignal sine(double vpp, double hz)
    {
        simboard::TSignal s;
        s.shape = "sine";
        s.vpp = vpp;
        s.frequency = hz;
        return s;
    }
    // Twenty periods over the record of the base (100,000 positions).
    static double frequencyFor(const TBase& tb) { return 20.0 / (100000 * tb.scale); }

    std::unique_ptr<simtest::Window> w_;
};

// Every ET base and the four start blocks of interest: the decoded record holds the analogue
// model at the stated instants, the trigger crossing sits at 50,000 within one FPGA sample, and
// the pipeline answers decode to the board's choices.
TEST_F(SimEt, DecodedRecordMatchesTheModelAtEveryBase)
{
    for (int index : {6, 9, 10, 13, 15, 17}) {
        const TBase& tb = base(index);
        simboard::setSignal(0, sine(2.0, frequencyFor(tb)));
        simboard::setSignal(1, sine(1.0, 2 * frequencyFor(tb)));
        for (int N : {0, 63, 64, 127}) {
            SCOPED_TRACE("index " + std::to_string(index) + " N " + std::to_string(N));
            simboard::forceEtChoices(N, -1);
            const TCapture cap = acquire(tb, false);
            ASSERT_EQ(cap.ring.size(), 2689u);
            const simboard::TEtRecord facts = simboard::etRecord();
            ASSERT_TRUE(facts.valid);
            const auto limits = simboard::vernierLimits();
            const TDecoded dec = decode(cap, tb, 0, 0, false, limits.min, limits.max);
            ASSERT_TRUE(dec.ok);
            EXPECT_EQ(dec.N, N);
            EXPECT_EQ(facts.startBlock, N);
            EXPECT_GE(cap.ring[0][0], limits.min);
            EXPECT_LE(cap.ring[0][0], limits.max);
            EXPECT_GE(cap.macroVernier, 0);
            EXPECT_LT(cap.macroVernier, tb.vernierDivider);
            for (int b = 0; b < 128; ++b)
                ASSERT_EQ(cap.ring[static_cast<size_t>(1 + 21 * b)], (TSample{0, 0, 0, 0}));

            // Every placed position against the model, on two channels.
            const TDecoded dec2 = decode(cap, tb, 1, 0, false, limits.min, limits.max);
            int placed = 0, wrong = 0;
            for (int p = 0; p < 100000; ++p) {
                if (dec.record[p] < 0)
                    continue;
                ++placed;
                const double t = simboard::etPositionTimeNs(p) * 1e-9;
                wrong += dec.record[p] != simboard::sampleCode(0, t);
                wrong += dec2.record[p] != simboard::sampleCode(1, t);
            }
            EXPECT_EQ(wrong, 0);
            EXPECT_GE(placed, 2490);
            EXPECT_EQ(static_cast<size_t>(placed), simboard::etPlacements().size() -
                                                       [] {
                                                           size_t n = 0;
                                                           for (const auto& pl : simboard::etPlacements())
                                                               n += pl.position >= 100000;
                                                           return n;
                                                       }());

            // The rising crossing of code 2048 nearest the middle.
            int crossing = -1, last = -1;
            for (int p = 0; p < 100000; ++p) {
                if (dec.record[p] < 0)
                    continue;
                if (last >= 0 && dec.record[last] < 2048 && dec.record[p] >= 2048 &&
                    (crossing < 0 || std::abs(p - 50000) < std::abs(crossing - 50000)))
                    crossing = p;
                last = p;
            }
            EXPECT_NEAR(crossing, 50000, 40 * tb.D);
            EXPECT_NEAR(facts.crossingPosition, 50000, 40 * tb.D);
            EXPECT_NEAR(simboard::etPositionTimeNs(facts.crossingPosition), facts.triggerNs, 1e-6);
        }
    }
}

// Every ET base once (random choices): the record decodes to the model.
TEST_F(SimEt, EveryBaseDecodes)
{
    for (const TBase& tb : kBases) {
        SCOPED_TRACE(tb.index);
        simboard::setSignal(0, sine(2.0, frequencyFor(tb)));
        const TCapture cap = acquire(tb, false);
        const auto limits = simboard::vernierLimits();
        const TDecoded dec = decode(cap, tb, 0, 0, false, limits.min, limits.max);
        ASSERT_TRUE(dec.ok);
        int placed = 0, wrong = 0;
        for (int p = 0; p < 100000; ++p)
            if (dec.record[p] >= 0) {
                ++placed;
                wrong += dec.record[p] != simboard::sampleCode(0, simboard::etPositionTimeNs(p) * 1e-9);
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_GE(placed, 2490);
        EXPECT_NEAR(simboard::etRecord().crossingPosition, 50000, 40 * tb.D);
        // G is the block pattern rotated.
        EXPECT_EQ(__builtin_popcount(simboard::etRecord().pattern), __builtin_popcount(tb.elv));
    }
}

// Forced fractions and vernier limits: the code follows the fraction through the limits, the
// middle of the clock is the middle of the window, and the missing-vernier fault reads 0.
TEST_F(SimEt, VernierFollowsTheFractionAndTheLimits)
{
    const TBase& tb = base(9);   // one 8 ns clock per sample: the code carries the whole fraction
    simboard::setSignal(0, sine(2.0, frequencyFor(tb)));
    EXPECT_FALSE(simboard::setVernierLimits({3300, 800}));
    EXPECT_FALSE(simboard::setVernierLimits({0, 4095}));
    struct Case {
        uint16_t min, max;
        double fraction;
        int code;
    } cases[] = {{800, 3300, 0.0, 3300}, {800, 3300, 0.5, 2050}, {800, 3300, 0.9999, 800}, {1000, 2000, 0.25, 1750}};
    for (const auto& c : cases) {
        ASSERT_TRUE(simboard::setVernierLimits({c.min, c.max}));
        simboard::forceEtChoices(10, c.fraction);
        const TCapture cap = acquire(tb, false);
        EXPECT_NEAR(cap.ring[0][0], c.code, 1) << c.fraction;
        EXPECT_NEAR(simboard::etRecord().fraction, c.fraction, 1.0 / (c.max - c.min)) << c.fraction;
        const TDecoded dec = decode(cap, tb, 0, 0, false, c.min, c.max);
        int wrong = 0;
        for (int p = 0; p < 100000; ++p)
            if (dec.record[p] >= 0)
                wrong += dec.record[p] != simboard::sampleCode(0, simboard::etPositionTimeNs(p) * 1e-9);
        EXPECT_EQ(wrong, 0) << c.fraction;
    }
    // At length 1 with several clocks per sample the macro vernier counts the clocks down.
    ASSERT_TRUE(simboard::setVernierLimits({800, 3300}));
    simboard::forceEtChoices(10, 0.99);
    simboard::setSignal(0, sine(2.0, frequencyFor(base(15))));
    EXPECT_EQ(acquire(base(15), false).macroVernier, 0);
    simboard::forceEtChoices(10, 0.01);
    EXPECT_EQ(acquire(base(15), false).macroVernier, 49);

    simboard::setMissingVernier(0);
    simboard::clearEtChoices();
    EXPECT_EQ(acquire(base(15), false).ring[0][0], 0);
    EXPECT_TRUE(simboard::etRecord().vernierMissing);
    simboard::setMissingVernier(-1);
    EXPECT_NE(acquire(base(15), false).ring[0][0], 0);
}

// Min/max above index 10: the pairs bracket the input over the interval each stands for; the
// start block stays at 3 mod 4 so that the product's L is 0.
TEST_F(SimEt, MinMaxPairsBracketTheInput)
{
    for (int index : {13, 15, 17}) {
        const TBase& tb = base(index);
        simboard::setSignal(0, sine(2.0, frequencyFor(tb)));
        for (int N : {63, 127, 64}) {
            SCOPED_TRACE("index " + std::to_string(index) + " N " + std::to_string(N));
            simboard::forceEtChoices(N, -1);
            const TCapture cap = acquire(tb, true);
            EXPECT_EQ(cap.pipelineByte % 4, 0);
            const auto limits = simboard::vernierLimits();
            const TDecoded dec = decode(cap, tb, 0, 0, true, limits.min, limits.max);
            ASSERT_TRUE(dec.ok);
            EXPECT_EQ(dec.N % 4, 3);
            EXPECT_EQ(dec.N, N | 3);
            ASSERT_EQ(dec.pairs.size(), 625u);
            int outside = 0, spread = 0;
            for (const auto& pr : dec.pairs) {
                spread += pr.hi > pr.lo;
                for (int k = 0; k <= 4; ++k) {
                    const double t = simboard::etPositionTimeNs(pr.position + 40.0 * k) * 1e-9;
                    const int code = simboard::sampleCode(0, t);
                    outside += code < pr.lo || code > pr.hi;
                }
            }
            EXPECT_EQ(outside, 0);
            EXPECT_GT(spread, 600);
            EXPECT_NEAR(simboard::etRecord().crossingPosition, 50000, 40);
        }
    }
}

} // namespace

// Pulse-width trigger: pulses of the comparator output (above the level with the rising
// comparator, below it with the falling one) whose width meets the condition fire at their end,
// at the crossing itself.
TEST_F(SimEt, PulseWidthTriggerFiresAtTheEndOfAQualifyingPulse)
{
    const TBase& tb = base(13);
    const double hz = frequencyFor(tb);
    const double periodNs = 1e9 / hz;
    simboard::TSignal square;
    square.shape = "square";
    square.vpp = 2.0;
    square.frequency = hz;
    square.duty = 30;
    simboard::setSignal(0, square);
    // b in 8 ns ticks with its range: b = (word << 4k) x 8 ns.
    auto condition = [this](uint32_t select, double bNs) {
        uint32_t ticks = static_cast<uint32_t>(bNs / 8);
        uint32_t k = 0;
        while (ticks > 0xFFFF)
            ticks >>= 4, ++k;
        cmd(1, 0xCA, select | (k << 3));
        cmd(1, 0xC9, gray(ticks));
        cmd(1, 0xD1, 0);
    };
    auto high = [](double ns) { return simboard::inputVolts(0, ns * 1e-9) > 0; };
    struct Case {
        bool risingComparator;
        uint32_t select;
        double bFraction;
        bool fires;
        double pulseFraction;  // width of the pulse that ends at the trigger
    } cases[] = {
        {true, 2, 0.5, true, 0.3},    // high pulses shorter than half a period
        {true, 0, 0.5, false, 0},     // none longer
        {false, 0, 0.5, true, 0.7},   // low pulses longer than half a period
        {false, 2, 0.5, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.select) + (c.risingComparator ? " rising" : " falling"));
        front(0, c.risingComparator);
        condition(c.select, c.bFraction * periodNs);
        if (!c.fires) {
            twoPart(0xF, 0x89, tb.divider);
            twoPart(1, 0xC4, gray(tb.preWord));
            twoPart(1, 0xC5, gray(static_cast<uint32_t>(tb.postrig)));
            cmd(0xF, 0xC3, 19);
            cmd(1, 0xC3, 2);
            cmd(0xF, 0x90, 0x20);
            ASSERT_TRUE(simtest::spiWrite(8, 0x1FF2F));
            w_->write(16, 0x8000);
            cmd(1, 0x97, 0);
            for (int i = 0; i < 20; ++i)
                simboard::runEngine(1000000);
            EXPECT_FALSE(simboard::engineState().triggered);
            cmd(1, 0x96, 0);
            drain();
            continue;
        }
        acquire(tb, false, 2);
        const simboard::TEtRecord facts = simboard::etRecord();
        ASSERT_TRUE(facts.valid);
        const double t = facts.triggerNs;
        // The end of the pulse: the signal crosses there, to a small part of a sample.
        const double tiny = facts.periodNs / 100;
        EXPECT_EQ(high(t - tiny), c.risingComparator);
        EXPECT_NE(high(t + tiny), c.risingComparator);
        // The pulse that ended there had the expected width.
        double start = t - tiny;
        const double step = periodNs / 2000;
        while (high(start) == c.risingComparator && start > t - 2 * periodNs)
            start -= step;
        EXPECT_NEAR((t - start) / periodNs, c.pulseFraction, 0.01);
    }
}
