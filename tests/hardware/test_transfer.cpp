#include "hardware/transfer.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/vernier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kEmpty = 0x80000000u;
constexpr uint32_t kIdentitySpan = 262080;
constexpr int32_t kIdentityZero = 0x60000;

uint32_t s_buffers[4][100000];

// Normalised code of a 12-bit code through the identity correction.
uint32_t identity(uint32_t x)
{
    return kIdentityZero + ((x * 262144u) / kIdentitySpan) * 64u;
}

// Ring entry of equivalent-time sample (block, phase).
int32_t entryOf(int32_t block, int32_t phase)
{
    return 2 + 21 * block + phase;
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 0;
        VernierTablesEnd();  // as a power-on leaves them
        for (auto& b : s_buffers)
            std::fill(std::begin(b), std::end(b), kEmpty);
        TAcquisition::Voie1Normalisee = s_buffers[0];
        TAcquisition::Voie2Normalisee = s_buffers[1];
        TAcquisition::Voie3Normalisee = s_buffers[2];
        TAcquisition::Voie4Normalisee = s_buffers[3];
        std::fill(std::begin(tus_l_signalsBuffer), std::end(tus_l_signalsBuffer), 0);
        std::memset(&ctrl, 0, sizeof ctrl);
        ctrl.acqChannels = ctrl.cycleChannels = 1;
        ctrl.preTrigger = 50000;
        ctrl.postTrigger = 50000;
        ctrl.dispWidth = 40.0f;
        ctrl.decimation = 1;
        ctrl.calib = &param_calibr;
        for (int c = 0; c < 4; ++c) {
            ctrl.span[c] = kIdentitySpan;
            ctrl.zero[c] = kIdentityZero;
        }
        pseudoELV = 1;
        pseudoMacroVernier = 0;
    }
    void TearDown() override
    {
        TAcquisition::Voie1Normalisee = TAcquisition::Voie2Normalisee = nullptr;
        TAcquisition::Voie3Normalisee = TAcquisition::Voie4Normalisee = nullptr;
        setupLinks().acqCh1 = nullptr;
    }

    // Channel-1 words of consecutive streaming samples from ring word `start`.
    static void putStream(int32_t start, std::initializer_list<uint16_t> codes)
    {
        int32_t w = start;
        for (uint16_t c : codes) {
            tus_l_signalsBuffer[w] = c;
            w = (w + 4) % kRingWords;
        }
    }
    // Equivalent-time ring whose channel-1 codes are their entry index (with junk high bits, so
    // that the 12-bit mask shows).
    static void fillIndexRing()
    {
        for (int32_t e = 0; e < 2689; ++e)
            tus_l_signalsBuffer[e * 4] = static_cast<uint16_t>(0xF000 | e);
    }
    int32_t transfer(uint32_t* held, TInterpolation interp = 1)
    {
        first = -1;
        return acqtrans(&ctrl, held, &first, &interp);
    }

    acq_ctrl ctrl;
    int32_t first = -1;
    uint32_t* buf = s_buffers[0];
};

TEST_F(TransferTest, ClampsToTheRecordAndReportsNothingNew)
{
    ctrl.acqFlags = 129;
    ctrl.newSamples = 5000;
    ctrl.ringStart = 0;
    uint32_t held = 99000;
    EXPECT_EQ(transfer(&held), 1);
    EXPECT_EQ(held, 100000u);
    EXPECT_EQ(buf[99000], identity(0));
    EXPECT_EQ(buf[99999], identity(0));
    EXPECT_EQ(buf[98999], kEmpty);
    // Nothing more fits: 0, the buffer untouched.
    buf[99999] = 7;
    EXPECT_EQ(transfer(&held), 0);
    EXPECT_EQ(buf[99999], 7u);
    ctrl.newSamples = 0;
    held = 10;
    EXPECT_EQ(transfer(&held), 0);
    EXPECT_EQ(held, 10u);
}

TEST_F(TransferTest, StreamingCopyConvertsMasksAndWrapsTheRing)
{
    ctrl.acqFlags = 128;
    ctrl.ringStart = kRingWords - 4;  // last sample, then the ring's start
    ctrl.newSamples = 3;
    putStream(kRingWords - 4, {0xF000, 0x1FFF, 0x0800});
    tus_l_signalsBuffer[kRingWords - 3] = 0x0123;  // channel 2's word: not channel 1's sample
    uint32_t held = 10;
    EXPECT_EQ(transfer(&held), 1);
    EXPECT_EQ(held, 13u);
    EXPECT_EQ(buf[10], 0x60000u);
    EXPECT_EQ(buf[11], 0xA0000u);
    EXPECT_EQ(buf[12], 0x60000u + 2048u * 64u);
    EXPECT_EQ(buf[13], kEmpty);
}

TEST_F(TransferTest, AveragingMovesValidCodesAndReplacesEmptyOnes)
{
    struct Case {
        int16_t k;
        uint32_t old;
        uint16_t code;
        uint32_t expected;
    };
    const uint32_t v = identity(2048);  // 0x80000
    const Case cases[] = {
        {0, 0x70000, 2048, v},
        {2, 0x70000, 2048, 0x70000 + ((v - 0x70000) >> 2)},
        {2, 0x20090000, 2048, 0x90000 - (0x10000 >> 2)},        // marks dropped, negative step
        {31, 0x70000, 2048, 0x70000},                            // positive difference >> 31 = 0
        {31, 0x90000, 2048, 0x8FFFF},                            // arithmetic shift: -1
        {40, 0x70000, 2048, 0x70000},                            // shift bounded to 31
        {2, kEmpty, 2048, v},
    };
    ctrl.acqFlags = 128;
    ctrl.newSamples = 1;
    putStream(0, {2048});
    for (const Case& c : cases) {
        ctrl.averageIndex = c.k;
        buf[5] = c.old;
        uint32_t held = 5;
        ASSERT_EQ(transfer(&held), 1);
        EXPECT_EQ(buf[5], c.expected) << "k " << c.k << " old " << std::hex << c.old;
    }
}

TEST_F(TransferTest, StreamingEnvelopeKeepsRunningPairs)
{
    ctrl.acqFlags = 130;
    ctrl.newSamples = 4;
    putStream(0, {100, 300, 200, 200});
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(buf[0], identity(100));
    EXPECT_EQ(buf[1], identity(300));
    EXPECT_EQ(buf[2], identity(200));
    EXPECT_EQ(buf[3], identity(200));
    putStream(0, {50, 250, 400, 10});
    held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(buf[0], identity(50));
    EXPECT_EQ(buf[1], identity(300));
    EXPECT_EQ(buf[2], identity(10));
    EXPECT_EQ(buf[3], identity(400));
}

TEST_F(TransferTest, StreamingMinMaxTakesTheWiderPairTwice)
{
    ctrl.acqFlags = 133;
    ctrl.timeBase = 22;
    ctrl.newSamples = 8;
    // Pairs arrive in either order; the wider of the two pairs of a group stands for it.
    putStream(0, {200, 100, 150, 400, 900, 100, 500, 520});
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    const uint32_t expected[8] = {identity(150), identity(400), identity(150), identity(400),
                                  identity(100), identity(900), identity(100), identity(900)};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(buf[i], expected[i]) << i;
    EXPECT_EQ(held, 8u);
    // Below index 11 the min/max flag means nothing: a plain copy.
    ctrl.timeBase = 10;
    held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(buf[0], identity(200));
    EXPECT_EQ(buf[1], identity(100));
}

TEST_F(TransferTest, DecimatedPlacementAndFirstPosition)
{
    ctrl.acqFlags = 144;
    ctrl.timeBase = 20;
    ctrl.decimation = 10;
    ctrl.newSamples = 3;
    ctrl.dispPosition = 7;
    pseudoMacroVernier = 250;  // t = 10 x 250 / 500 = 5
    putStream(0, {1000, 2000, 3000});
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(buf[5], identity(1000));
    EXPECT_EQ(buf[15], identity(2000));
    EXPECT_EQ(buf[25], identity(3000));
    EXPECT_EQ(buf[6], kEmpty);
    EXPECT_EQ(first, 8);          // 5 - 7 = -2 -> 10 - 2
    EXPECT_EQ(held, 100000u);     // the whole record counts
    EXPECT_EQ(buf[0], buf[1]);

    struct Case {
        int16_t macro;
        int32_t dispPosition;
        float dispWidth;
        int32_t first;
        int32_t at;
    };
    for (const Case& c : {Case{-5, 0, 40.f, 0, 0}, Case{900, 3, 40.f, 7, 10}, Case{500, 0, 5.f, 0, 10}}) {
        std::fill(std::begin(s_buffers[0]), std::end(s_buffers[0]), kEmpty);
        pseudoMacroVernier = c.macro;
        ctrl.dispPosition = c.dispPosition;
        ctrl.dispWidth = c.dispWidth;
        held = 0;
        ASSERT_EQ(transfer(&held), 1);
        EXPECT_EQ(first, c.first) << c.macro;
        EXPECT_EQ(buf[c.at + 10], identity(2000)) << c.macro;
    }
}

TEST_F(TransferTest, DecimatedGapsAreInterpolatedOnTheFirstTransferOnly)
{
    ctrl.acqFlags = 144;
    ctrl.timeBase = 20;
    ctrl.decimation = 100;
    ctrl.newSamples = 1000;
    for (int i = 0; i < 1000; ++i)
        tus_l_signalsBuffer[4 * i] = 2000;
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held, 1), 1);
    EXPECT_EQ(buf[50], kEmpty);
    held = 0;
    ASSERT_EQ(transfer(&held, 0), 1);
    EXPECT_LT(buf[50], 0x40000000u);
    EXPECT_NEAR(double(buf[50] & 0xFFFFF), double(identity(2000)), 256.0);
}

TEST_F(TransferTest, OtherModesCopyPlainly)
{
    for (uint16_t flags : {385, 641, 642, 643}) {
        ctrl.acqFlags = flags;
        ctrl.averageIndex = 2;  // no averaging here
        ctrl.newSamples = 3;
        putStream(0, {10, 20, 30});
        buf[1] = 5;
        uint32_t held = 0;
        ASSERT_EQ(transfer(&held), 1) << flags;
        EXPECT_EQ(buf[0], identity(20)) << flags;
        EXPECT_EQ(buf[1], identity(20)) << flags;
        EXPECT_EQ(buf[2], identity(30)) << flags;
        EXPECT_EQ(held, 3u);
    }
}

TEST_F(TransferTest, SkipsChannelsOutsideTheCycleAndStartsAtTheTriggerChannel)
{
    ctrl.acqFlags = 128;
    ctrl.acqChannels = 0xF;
    ctrl.cycleChannels = 0x5;
    ctrl.newSamples = 1;
    for (int c = 0; c < 4; ++c)
        tus_l_signalsBuffer[c] = static_cast<uint16_t>(100 * (c + 1));
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(s_buffers[0][0], identity(100));
    EXPECT_EQ(s_buffers[1][0], kEmpty);
    EXPECT_EQ(s_buffers[2][0], identity(300));
    EXPECT_EQ(s_buffers[3][0], kEmpty);
}

// --- Equivalent-time sort -------------------------------------------------------------------

TEST_F(TransferTest, MatriceTriWalksBackwardsWithWrapAndMask)
{
    fillIndexRing();
    pseudoELV = 0xFFFFF;  // g = 1
    pseudoPretrig = 2500;
    pseudoPostrig = 1250;
    ctrl.timeBase = 9;
    MatriceOffsetsV1_inf2us[0] = 1;
    MatriceOffsetsV1_inf2us[1] = 5;  // above the code of entry 3: clamped to 0
    const TPipelineValues values{0, 0, 1024, 0xFFFFF};
    ASSERT_EQ(MatriceTri(1, &ctrl, &values), 2560);
    // Last entry first: sample 0 (block 0, phase 0), then block 127's phase 19, 18, ...
    EXPECT_EQ(tul_g_sortedSignal[2559], uint32_t(entryOf(0, 0) - 1));
    EXPECT_EQ(tul_g_sortedSignal[2558], uint32_t(entryOf(127, 19)));
    EXPECT_EQ(tul_g_sortedSignal[2539], uint32_t(entryOf(127, 0) - 1));
    EXPECT_EQ(tul_g_sortedSignal[2538], uint32_t(entryOf(126, 19)));
    EXPECT_EQ(tul_g_sortedSignal[0], 0u);  // (0, 1): entry 3 less 5
}

TEST_F(TransferTest, MatriceTriStartAndCountRules)
{
    fillIndexRing();
    ctrl.timeBase = 12;
    pseudoELV = 33825;  // g = 5
    pseudoPretrig = 2;
    pseudoPostrig = 1;  // count 3 x 20 / 5 = 12
    // Start phase: vernier position 7 less 7 mod 5, plus the two trailing zeros of G; N 3.
    const TPipelineValues values{3, 7, 5120, 0x84};
    ASSERT_EQ(MatriceTri(1, &ctrl, &values), 12);
    EXPECT_EQ(tul_g_sortedSignal[11], uint32_t(entryOf(3, 7)));
    EXPECT_EQ(tul_g_sortedSignal[10], uint32_t(entryOf(3, 2)));
    EXPECT_EQ(tul_g_sortedSignal[9], uint32_t(entryOf(2, 17)));
    // Start sample wraps into 0..2559: N 127 with start phase 20.
    const TPipelineValues wrapped{127, 19, 5120, 0x20};  // 15 + 5
    ASSERT_EQ(MatriceTri(1, &ctrl, &wrapped), 12);
    EXPECT_EQ(tul_g_sortedSignal[11], uint32_t(entryOf(0, 0)));
    EXPECT_EQ(tul_g_sortedSignal[10], uint32_t(entryOf(127, 15)));
    // Nothing to sort.
    pseudoPretrig = pseudoPostrig = 0;
    EXPECT_EQ(MatriceTri(1, &ctrl, &values), 0);
}

TEST_F(TransferTest, MatriceTriHalfAreaMarks)
{
    fillIndexRing();
    ctrl.timeBase = 12;
    pseudoELV = 1025;  // g = 10
    pseudoPretrig = 3;
    pseudoPostrig = 0;  // count 6
    const TPipelineValues values{64, 0, 10240, 0xFFFFF};
    ASSERT_EQ(MatriceTri(1, &ctrl, &values), 6);
    const uint32_t expected[6] = {uint32_t(entryOf(61, 9)), uint32_t(entryOf(61, 19)),
                                  uint32_t(entryOf(62, 9)), uint32_t(entryOf(62, 19)),
                                  uint32_t(entryOf(63, 9)), 0x40000000u | uint32_t(entryOf(64, 0))};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(tul_g_sortedSignal[i], expected[i]) << i;

    // Block pattern 1: the phase-0 sample is marked "drop" and the walk goes on at phase 19.
    pseudoELV = 1;
    pseudoPretrig = 3;  // count 3
    ASSERT_EQ(MatriceTri(1, &ctrl, &values), 3);
    EXPECT_EQ(tul_g_sortedSignal[2], 0x20000000u | uint32_t(entryOf(64, 0)));
    EXPECT_EQ(tul_g_sortedSignal[1], uint32_t(entryOf(62, 19)));
    EXPECT_EQ(tul_g_sortedSignal[0], uint32_t(entryOf(61, 19)));
}

TEST_F(TransferTest, MatriceTriMinMaxPairs)
{
    fillIndexRing();
    ctrl.timeBase = 13;
    ctrl.acqFlags = 37;
    pseudoELV = 1025;
    pseudoPretrig = 8;
    pseudoPostrig = 0;  // count 4 words: two pairs
    MatriceOffsetsMinMaxV1[19] = 1;
    const TPipelineValues values{64, 19, 10240, 0xFFFFF};  // position below 20480: phase 0
    ASSERT_EQ(MatriceTri(1, &ctrl, &values), 4);
    EXPECT_EQ(tul_g_sortedSignal[2], uint32_t(entryOf(64, 0)));
    EXPECT_EQ(tul_g_sortedSignal[3], uint32_t(entryOf(62, 0)));
    EXPECT_EQ(tul_g_sortedSignal[0], uint32_t(entryOf(63, 19) - 1));
    EXPECT_EQ(tul_g_sortedSignal[1], uint32_t(entryOf(61, 19) - 1));
}

// --- Equivalent-time placement --------------------------------------------------------------

class EtTransferTest : public TransferTest {
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        fillIndexRing();
        ctrl.acqFlags = 33;
        ctrl.acqMode = 0;  // no pipeline read: N 0, position 0, K 20480, G 0xFFFFF
        ctrl.timeBase = 9;
        ctrl.newSamples = 2500;
        ctrl.preTrigger = 50000;
        ctrl.postTrigger = 50000;
        pseudoELV = 0xFFFFF;
        pseudoPretrig = 2500;
        pseudoPostrig = 1250;
    }
    // Sorted entry s of the g = 1 walk from sample 0: sample (s + 1) mod 2560.
    static uint32_t sortedCode(int32_t s)
    {
        const int32_t k = (s + 1) % 2560;
        return identity(static_cast<uint32_t>(entryOf(k / 20, k % 20)));
    }
};

TEST_F(EtTransferTest, PlacesEveryFortiethPositionAndCountsTheWholeRecord)
{
    ctrl.dispWidth = 100.f;
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    // Origin 0: u = 40, sorted index 1.
    EXPECT_EQ(buf[40], sortedCode(1));
    EXPECT_EQ(buf[80], sortedCode(2));
    EXPECT_EQ(buf[99960], sortedCode(2499));
    EXPECT_EQ(buf[41], kEmpty);
    EXPECT_EQ(buf[0], buf[1]);
    EXPECT_EQ(first, 40);
    EXPECT_EQ(held, 100000u);
}

TEST_F(EtTransferTest, OriginAndTimeAlignmentShiftTheStart)
{
    struct Case {
        uint16_t timeBase;
        int32_t origin;
        int32_t alignmentPs;
        int32_t u;  // first position written
        int32_t s;  // its sorted entry
    };
    const Case cases[] = {
        {9, 10240, 0, 60, 1},      // (1 - 0) x 40 + 10240 x 40 / 20480
        {9, 40960, 0, 80, 0},      // (1 - 2) x 40 + 80, sorted index -1: one step skipped
        {9, 0, 2000, 20, 1},       // 2 ns at 100 ps a position = 20 positions
        {0, 0, 50, 20, 13},        // 0.1 ps a position: 500 positions, 12 entries skipped
        {3, 0, 50, 30, 2},         // 1 ps: the float scale is not truncated to 0
        {36, 0, 50, 40, 1},        // no scale: no shift
    };
    for (const Case& c : cases) {
        std::fill(std::begin(s_buffers[0]), std::end(s_buffers[0]), kEmpty);
        ctrl.timeBase = c.timeBase;
        ctrl.transferPhase = c.origin;
        param_calibr.timeAlignment[0] = c.alignmentPs;
        uint32_t held = 0;
        ASSERT_EQ(transfer(&held), 1) << c.timeBase;
        EXPECT_EQ(buf[c.u], sortedCode(c.s)) << c.timeBase << " " << c.origin;
        EXPECT_EQ(buf[c.u + 40], sortedCode(c.s + 1)) << c.timeBase << " " << c.origin;
    }
}

TEST_F(EtTransferTest, ShiftMarkMovesLaterPositions)
{
    ctrl.timeBase = 12;
    pseudoELV = 1025;   // g 10, H 4
    pseudoPretrig = 128; // count 256: two samples a block
    pseudoPostrig = 0;
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    // (b, 10) sorted at 2b, (b, 0) at 2b - 1; (64, 0) at 127 carries the mark.
    EXPECT_EQ(buf[40 * 126], identity(uint32_t(entryOf(63, 9))));  // walk goes on at phase 9
    EXPECT_EQ(buf[40 * 127 + 4], identity(uint32_t(entryOf(64, 0))));
    EXPECT_EQ(buf[40 * 128 + 4], identity(uint32_t(entryOf(64, 10))));
    EXPECT_EQ(buf[40 * 128], kEmpty);
}

TEST_F(EtTransferTest, DropMarkIsNotStored)
{
    pseudoELV = 1;      // g 20; index 9: no residual delay
    pseudoPretrig = 128;
    pseudoPostrig = 0;  // count 128, one sample a block, (b, 0) at b - 1
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(buf[40 * 62], identity(uint32_t(entryOf(62, 19))));
    EXPECT_EQ(buf[40 * 63], kEmpty);  // (64, 0), marked 0x20000000
    EXPECT_EQ(buf[40 * 64], identity(uint32_t(entryOf(65, 0))));
}

TEST_F(EtTransferTest, EmptySortEndsWithZero)
{
    pseudoPretrig = pseudoPostrig = 0;
    uint32_t held = 0;
    EXPECT_EQ(transfer(&held), 0);
    EXPECT_EQ(held, 0u);
    EXPECT_EQ(buf[40], kEmpty);
}

TEST_F(EtTransferTest, WholeRecordReachesTheTrace)
{
    auto trace = std::make_unique<TAcquisition>(1);
    std::fill(trace->samples, trace->samples + 100000, 0x12345u);
    setupLinks().acqCh1 = trace.get();
    ctrl.shownChannels = 1;
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(held, 100000u);
    EXPECT_EQ(trace->samples[40], sortedCode(1));
    EXPECT_EQ(trace->samples[99960], sortedCode(2499));
    EXPECT_EQ(trace->samples[99999], kEmpty);
}

TEST_F(EtTransferTest, EnvelopeKeepsTheExtremesOfRepeatedAcquisitions)
{
    ctrl.acqFlags = 34;
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(buf[40], sortedCode(1));
    EXPECT_EQ(buf[41], sortedCode(1));
    // The next acquisition reads 100 codes higher: the pair's second word follows it.
    for (int32_t e = 0; e < 2689; ++e)
        tus_l_signalsBuffer[e * 4] = static_cast<uint16_t>(e + 100);
    held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(buf[40], sortedCode(1));
    EXPECT_EQ(buf[41], identity(uint32_t(entryOf(0, 2) + 100)));
    EXPECT_EQ(held, 100000u);
}

TEST_F(EtTransferTest, MinMaxEnvelopePairsEvery160Positions)
{
    ctrl.acqFlags = 38;
    ctrl.timeBase = 13;
    ctrl.dispWidth = 200.f;
    pseudoPretrig = 8;
    pseudoPostrig = 0;  // two pairs: (0,0)/(126,0) and (127,0)/(125,0)
    uint32_t held = 0;
    ASSERT_EQ(transfer(&held), 1);
    EXPECT_EQ(first, 160);
    EXPECT_EQ(buf[160], identity(uint32_t(entryOf(0, 0))));
    EXPECT_EQ(buf[161], identity(uint32_t(entryOf(126, 0))));
    EXPECT_EQ(buf[162], kEmpty);
    EXPECT_EQ(buf[0], kEmpty);  // first two pairs := the third (empty here)
    // First transfer: the gaps hold the pairs, marked as filled.
    std::fill(std::begin(s_buffers[0]), std::end(s_buffers[0]), kEmpty);
    held = 0;
    ASSERT_EQ(transfer(&held, 0), 1);
    EXPECT_EQ(buf[162], identity(uint32_t(entryOf(0, 0))) | 0x20000000u);
    EXPECT_EQ(buf[163], identity(uint32_t(entryOf(126, 0))) | 0x20000000u);
    EXPECT_EQ(buf[0], buf[4]);
    EXPECT_EQ(buf[1], buf[5]);
    EXPECT_EQ(buf[4], identity(uint32_t(entryOf(0, 0))) | 0x20000000u);
}

// --- Pipeline decode ------------------------------------------------------------------------

uint32_t patternReadBack(uint32_t g)
{
    return ((g >> 12) & 0xFF) << 16 | ((g & 0xFFF) << 4);
}

TEST_F(TransferTest, PipelineDecode)
{
    struct Case {
        uint32_t elv;
        uint16_t timeBase;
        uint16_t flags;
        uint32_t b;
        uint32_t g5, g6;
        int32_t n;
        uint32_t g;
        int32_t k;
    };
    const Case cases[] = {
        {0xFFFFF, 9, 33, 26, 0xABCDE, 0x11111, 100, 0xABCDE, 1024},
        {0xFFFFF, 9, 33, 100, 0xABCDE, 0x11111, 26, 0x11111, 1024},
        {0xFFFFF, 9, 33, 127, 0, 0, 127, 0xFFFFF, 1024},          // N -1 -> 127; G 0 -> all
        {1025, 12, 33, 63, 0x00001, 0, 63, 0x80000, 10240},       // N 63: rotated right
        {1025, 12, 33, 62, 0x00001, 0, 64, 0x00001, 10240},
        {349525, 11, 37, 5, 0x00003, 0, 119, 0x00003, 2048},      // min/max: L = 3
        {33825, 13, 33, 1, 0x00002, 0, 125, 0x00002, 5120},
        {1, 17, 33, 1, 0x00002, 0, 125, 0x00002, 20480},
    };
    TVernier::us_c_vernierMinCh1 = 1000;
    TVernier::us_c_vernierMaxCh1 = 3000;
    tus_l_signalsBuffer[0] = 2000;
    for (const Case& c : cases) {
        pseudoELV = c.elv;
        ctrl.timeBase = c.timeBase;
        ctrl.acqFlags = c.flags;
        TPipelineValues v{};
        const TPipelineReadBack rb{c.b, patternReadBack(c.g5), patternReadBack(c.g6)};
        ASSERT_EQ(decodePipeline(&ctrl, tus_l_signalsBuffer, rb, &v), 1);
        EXPECT_EQ(v.phaseIndex, c.n) << c.b;
        EXPECT_EQ(v.pattern, c.g) << c.b;
        EXPECT_EQ(v.phaseUnit, c.k) << c.b;
    }
}

TEST_F(TransferTest, PipelineOrigin)
{
    TVernier::us_c_vernierMinCh2 = 1000;
    TVernier::us_c_vernierMaxCh2 = 3000;
    ctrl.triggerSource = 1;
    tus_l_signalsBuffer[1] = 0xF000 | 2000;  // position 10239
    pseudoELV = 33825;
    ctrl.timeBase = 12;                      // divisor 5
    ctrl.acqFlags = 33;
    ctrl.triggerOffsetFrac = 2;
    pseudoMacroVernier = 3;
    struct Case {
        uint32_t g;
        int32_t origin;
    };
    // (3 x 20480 + 5120 - 10239 mod 5120 - 40 - 1 + 1024 j) / 5, j = shifts until G meets ELV.
    for (const Case& c : {Case{0x00001, 12280}, Case{0x00010, 13099}}) {
        TPipelineValues v{};
        ASSERT_EQ(decodePipeline(&ctrl, tus_l_signalsBuffer, {0, patternReadBack(c.g), 0}, &v), 1);
        EXPECT_EQ(ctrl.transferPhase, c.origin) << c.g;
        EXPECT_EQ(v.vernierPosition, 9);
        TVernier::us_c_vernierMinCh2 = 1000;
        TVernier::us_c_vernierMaxCh2 = 3000;
    }
    // No divisor at index 21: origin and position 0.
    ctrl.timeBase = 21;
    TPipelineValues v{};
    decodePipeline(&ctrl, tus_l_signalsBuffer, {0, patternReadBack(1), 0}, &v);
    EXPECT_EQ(ctrl.transferPhase, 0);
    EXPECT_EQ(v.vernierPosition, 0);
}

TEST_F(TransferTest, MissingVernierPlacesAtASeededRandomPosition)
{
    pseudoELV = 0xFFFFF;
    ctrl.timeBase = 15;  // dynamic macro vernier 50, divisor 50
    ctrl.acqFlags = 33;
    tus_l_signalsBuffer[0] = 4095;
    auto run = [&](uint32_t seed) {
        setTransferRandomSeed(seed);
        TPipelineValues v{};
        pseudoMacroVernier = -1;
        decodePipeline(&ctrl, tus_l_signalsBuffer, {0, patternReadBack(1), 0}, &v);
        return std::make_tuple(v.vernierPosition, pseudoMacroVernier, ctrl.transferPhase);
    };
    const auto a = run(7);
    EXPECT_EQ(a, run(7));
    int differing = 0;
    for (uint32_t seed = 1; seed < 6; ++seed) {
        const auto b = run(seed);
        EXPECT_GE(std::get<0>(b), 0);
        EXPECT_LT(std::get<0>(b), 20);
        EXPECT_GE(std::get<1>(b), 0);
        EXPECT_LT(std::get<1>(b), 50);
        differing += b != a;
    }
    EXPECT_GE(differing, 4);
}

}  // namespace
