// Round trip of the equivalent-time placement: one real acquisition on the simulated board, one
// transfer into channel 1's normalised buffer, and every record position compared with the
// analogue model at the instant the board says that position stands for. The board builds its
// record with its own code, so this proves the product's sort, origin and placement.
#include "tests/hardware/realtime/transfer_fixture.h"

#include "hardware/frontend.h"

#include <array>

namespace {

TEST_F(TransferRoundTripTest, PlacedSamplesMatchTheAnalyticSignal)
{
    // N 0, 63, 64 and 127 where a case's block length allows a choice (block length 1 from time
    // base 10 on keeps every start); the triangle exercises the linear parts of the conversion.
    // Every start block at every time base; 40 periods give 62 measured samples a period, 100
    // periods 25 (the slowest sine the sinc fill must hold to 1 %). The triangle exercises the
    // linear parts.
    std::vector<TCase> cases;
    for (int timeBase : {6, 9, 10, 13, 15, 17})
        for (int n : {0, 63, 64, 127})
            cases.push_back({timeBase, n, "sine", 40, false});
    cases.push_back({15, 64, "sine", 100, false});
    cases.push_back({9, 63, "sine", 100, false});
    cases.push_back({15, 0, "triangle", 4, false});
    cases.push_back({9, 127, "triangle", 4, false});
    for (const TCase& c : cases) {
        SCOPED_TRACE(name(c));
        acquireAndTransfer(c);
        if (!acquired_)
            continue;

        double worstMeasured = 0, worstInterpolated = 0;
        uint32_t measured = 0, empty = 0;
        // Interpolation is judged between the first and the last measured word; the words before
        // and after them are extrapolated (at time base 6 the origin's sub-sample term leaves the
        // first 400 positions without a measured word, see productShift).
        uint32_t firstMeasured = kRecord, lastMeasured = 0;
        for (uint32_t p = 0; p < kRecord; ++p)
            if (!(s_buffer[p] & (kEmptyWord | kInterpolated))) {
                firstMeasured = std::min(firstMeasured, p);
                lastMeasured = p;
            }
        for (uint32_t p = 0; p < kRecord; ++p) {
            const uint32_t w = s_buffer[p];
            if (w & kEmptyWord) {
                ++empty;
                continue;
            }
            const double error = std::fabs(static_cast<double>(w & kSampleCodeMask) - expected(p));
            if (w & kInterpolated) {
                if (p > firstMeasured && p < lastMeasured)
                    worstInterpolated = std::max(worstInterpolated, error);
            } else {
                ++measured;
                worstMeasured = std::max(worstMeasured, error);
            }
        }
        EXPECT_EQ(empty, 0u);
        EXPECT_GE(measured, 2400u);
        EXPECT_LE(worstMeasured, kMeasuredTolerance);
        // The sinc fill is held to the sine; a triangle's corners ring, so only its measured
        // words are compared.
        if (std::string(c.shape) == "sine") {
            EXPECT_LE(worstInterpolated, kInterpolatedTolerance);
        }

        // The trigger's rising crossing: the level is what the input read at the board's
        // trigger instant.
        const double level = normalised(simboard::sampleCode(0, et_.triggerNs * 1e-9));
        int64_t best = -1;
        for (uint32_t p = 1; p < kRecord; ++p) {
            const double a = s_buffer[p - 1] & kSampleCodeMask, b = s_buffer[p] & kSampleCodeMask;
            if (a < level && b >= level && (best < 0 || std::llabs(p - 50000) < std::llabs(best - 50000)))
                best = p;
        }
        EXPECT_LE(std::llabs(best - 50000), fpgaSamplePositions()) << "crossing at " << best;
        std::printf("[ round trip ] %s: measured %u, worst measured %.0f, worst interpolated %.0f codes, "
                    "crossing at %lld (shift %.0f, board crossing %.1f, 40 x D %d)\n",
                    name(c).c_str(), measured, worstMeasured, worstInterpolated, static_cast<long long>(best),
                    productShift() == 0 ? 0.0 : productShift(), et_.crossingPosition, fpgaSamplePositions());
    }
}

// One engine step covers the whole record: the trigger and the record end reach the driver in
// one status read, and the interrupt still pending from the second reads an empty status. The
// record must still be flushed and placed.
TEST_F(TransferRoundTripTest, TriggerAndRecordEndInOneInterrupt)
{
    for (int timeBase : {13, 15}) {
        const TCase c{timeBase, 0, "sine", 4, false};
        SCOPED_TRACE(name(c));
        acquireAndTransfer(c, 20000000);
        if (!acquired_)
            continue;
        uint32_t measured = 0;
        double worst = 0;
        for (uint32_t p = 0; p < kRecord; ++p)
            if (!(s_buffer[p] & (kEmptyWord | kInterpolated))) {
                ++measured;
                worst = std::max(worst, std::fabs(double(s_buffer[p] & kSampleCodeMask) - expected(p)));
            }
        EXPECT_GE(measured, 2400u);
        EXPECT_LE(worst, kMeasuredTolerance);
    }
}

// Min/max equivalent time: each sorted pair holds the input's extremes over 160 positions. The
// stretched pairs put a segment's maximum on its even words and its minimum on the odd words of
// the next segment; each segment's two extremes must be the input's over the segment.
TEST_F(TransferRoundTripTest, MinMaxEnvelopeContainsTheSignal)
{
    constexpr uint32_t kSegment = 160;
    const TCase cases[] = {{13, 63, "sine", 40, true}, {15, 127, "sine", 40, true}, {17, 0, "sine", 40, true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(name(c));
        acquireAndTransfer(c);
        if (!acquired_)
            continue;
        ASSERT_TRUE(et_.minMax);
        ASSERT_EQ(et_.samples, 1250);
        double worstOutside = 0, worstLoose = 0;
        uint32_t segments = 0;
        // The last pair has no successor to stretch to: it is not written.
        for (uint32_t i = 0; (i + 2) * kSegment <= kRecord; ++i) {
            double hi = -1, lo = 1e9;
            for (uint32_t p = i * kSegment; p < (i + 1) * kSegment; p += 2) {
                ASSERT_FALSE(s_buffer[p] & kEmptyWord) << p;
                ASSERT_FALSE(s_buffer[p + kSegment + 1] & kEmptyWord) << p + kSegment + 1;
                hi = std::max(hi, double(s_buffer[p] & kSampleCodeMask));
                lo = std::min(lo, double(s_buffer[p + kSegment + 1] & kSampleCodeMask));
            }
            // The segment itself for containment; one position more on each side for tightness
            // (the board's interval includes its end, and positions are whole).
            double top = -1, bottom = 1e9, outerTop = -1, outerBottom = 1e9;
            for (int64_t p = int64_t(i * kSegment) - 1; p <= int64_t((i + 1) * kSegment); ++p) {
                const double v = expected(double(p));
                outerTop = std::max(outerTop, v);
                outerBottom = std::min(outerBottom, v);
                if (p >= int64_t(i * kSegment) && p < int64_t((i + 1) * kSegment)) {
                    top = std::max(top, v);
                    bottom = std::min(bottom, v);
                }
            }
            worstOutside = std::max({worstOutside, top - hi, lo - bottom});
            worstLoose = std::max({worstLoose, hi - outerTop, outerBottom - lo});
            ++segments;
        }
        EXPECT_EQ(segments, kRecord / kSegment - 1);
        EXPECT_LE(worstOutside, kMeasuredTolerance);
        EXPECT_LE(worstLoose, kMeasuredTolerance);
        std::printf("[ round trip ] %s: signal outside the envelope by at most %.0f codes, envelope wider by "
                    "at most %.0f\n",
                    name(c).c_str(), worstOutside, worstLoose);
    }
}

// The board adds its own offset to each of the 20 interleaved phases of an equivalent-time
// record. Once the offset calibration has measured them, the transfer takes them off: a smooth
// input reads back as the board's signal at every measured word, at the time base of each table,
// where the same records without the tables show the interleave pattern.
TEST_F(TransferRoundTripTest, CalibratedPhaseOffsetsLeaveNoPatternInTheTrace)
{
    std::array<int16_t, 20> offsets{};
    for (int j = 0; j < 20; ++j)
        offsets[static_cast<size_t>(j)] = static_cast<int16_t>(j % 2 ? -3 * j : 2 * j);  // up to 57 ADC steps
    simboard::setPhaseOffsets(0, offsets);

    // The worst distance of a measured word from the board's signal, in ADC steps.
    auto worstStep = [this](const TCase& c) {
        acquireAndTransfer(c);
        if (!acquired_)
            return -1.0;
        double worst = 0;
        for (uint32_t p = 0; p < kRecord; ++p)
            if (!(s_buffer[p] & (kEmptyWord | kInterpolated)))
                worst = std::max(worst, std::fabs(double(s_buffer[p] & kSampleCodeMask) - expected(p)));
        return worst / 64.0;
    };
    // Time bases 6, 10 and 13 use the tables measured at 9, 10 and 13.
    const TCase cases[] = {{6, 0, "sine", 4, false}, {10, 64, "sine", 4, false}, {13, 127, "sine", 4, false}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(name(c));
        EXPECT_GT(worstStep(c), 20.0) << "the board's phase offsets should show without the tables";
    }

    simboard::setSignal(0, simboard::TSignal{});  // the calibration measures a quiet input
    ConfigurationScope(nullptr);
    setDetail(SYNCHRO_NONE);  // the last acquisition left a stop pending
    ASSERT_EQ(MatriceCalibration(1), 0);
    for (const TCase& c : cases) {
        SCOPED_TRACE(name(c));
        EXPECT_LE(worstStep(c), kMeasuredTolerance / 64.0);
    }
}

} // namespace
