// Round trip of the equivalent-time placement: one real acquisition on the simulated board, one
// transfer into channel 1's normalised buffer, and every record position compared with the
// analogue model at the instant the board says that position stands for. The board builds its
// record with its own code, so this proves the product's sort, origin and placement.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/realtime/realtime_support.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/handshake.h"
#include "hardware/scaling.h"
#include "hardware/transfer.h"
#include "hardware/vernier.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <sstream>
#include <vector>
#include <thread>

namespace {

constexpr uint32_t kRecord = TAcquisition::kNormalisedSamples;
constexpr uint32_t kEmptyWord = 0x80000000u;
constexpr uint32_t kInterpolated = 0x20000000u;
constexpr double kFullScale = 4096.0 * 64.0;  // normalised codes
constexpr double kMeasuredTolerance = 128.0;  // two ADC steps
constexpr double kInterpolatedTolerance = 0.01 * kFullScale;

uint32_t s_buffer[kRecord];

using realtime::positionSeconds;
using realtime::setDetail;
using realtime::TPacer;

// The driver takes each interrupt before the next step, so that a loaded machine cannot stall the
// sample clock in the middle of a record. Short steps give the driver the trigger and the record
// end apart, as on the board; TriggerAndRecordEndInOneInterrupt takes one long step on purpose.
constexpr realtime::TPacing kPacing{std::chrono::microseconds(50), std::chrono::microseconds(200), false};

struct TCase {
    int timeBase;
    int startBlock;          // N forced on the board
    const char* shape;       // "sine" or "triangle"
    double periods;          // periods across the record
    bool minMax;
};

std::string name(const TCase& c)
{
    std::ostringstream s;
    s << "time base " << c.timeBase << ", N " << c.startBlock << ", " << c.shape << (c.minMax ? ", min/max" : "");
    return s.str();
}

class TransferRoundTripTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        ASSERT_EQ(ChipAcqDrv(), 0);
        ASSERT_TRUE(ChipAcqBoardPresent());
        CmdeLogique(CMDE_CHANNEL_POWER, 0x1);
        setDetail(SYNCHRO_NONE);
        TAcquisition::Voie1Normalisee = s_buffer;
        // Calibrated limits equal to the board's; the offset tables stay zero.
        const simboard::TVernierLimits limits = simboard::vernierLimits();
        TVernier::us_c_vernierMinCh1 = limits.min;
        TVernier::us_c_vernierMaxCh1 = limits.max;
        setTransferRandomSeed(1);
    }
    void TearDown() override
    {
        TAcquisition::Voie1Normalisee = nullptr;
        setDetail(SYNCHRO_STOP);
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        simboard::shutdown();
        HardwareTest::TearDown();
    }

    // Channel 1 at 0.5 V/div, centred, comparator at 0 V on rising edges.
    static void frontEnd()
    {
        uint16_t params[kScalingParams];
        ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, params);
        const int rowParams[] = {24, 27, 35, 33, 34};
        const uint16_t row7[] = {13, 6, 4, 1, 1};
        for (int i = 0; i < 5; ++i)
            params[rowParams[i]] = row7[i];
        params[18] = 512;  // offset
        params[19] = 511;  // trigger level
        params[40] = 0;    // trigger on
        params[41] = 1;    // rising
        params[13] = 0;    // not grounded
        params[3] = 0;     // DC
        ASSERT_EQ(ScalingWrite(0, params, 0, SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER), 0);
    }

    // One acquisition of the case on the board, then its first transfer into s_buffer.
    // stepNs: engine step, 0 for a quarter of the post-trigger time.
    void acquireAndTransfer(const TCase& c, uint64_t stepNs = 0)
    {
        acquired_ = false;
        simboard::TSignal signal;
        signal.shape = c.shape;
        signal.vpp = 2.0;
        signal.frequency = c.periods / (kRecord * positionSeconds(c.timeBase));
        simboard::setSignal(0, signal);
        simboard::forceEtChoices(c.startBlock, 0.37);

        data.instrumentMode = 16;
        data.userTimeBase = static_cast<int16_t>(c.timeBase);
        data.minMax = c.minMax ? 1 : 0;
        data.traceMode = 0;
        data.repSig = 0;
        rec_ = acq_ctrl{};
        affect_par(&data, 29, &param_calibr, &rec_);
        ASSERT_EQ(rec_.timeBase, c.timeBase);
        ASSERT_TRUE(rec_.acqFlags & 0x20) << rec_.acqFlags;
        rec_.triggerSource = 0;
        rec_.triggerType = 0;
        rec_.triggerMode = 1;  // normal: the record starts at a real edge

        frontEnd();
        setDetail(SYNCHRO_NONE);
        ChipAcqIoctl(CHIPACQ_SCOPE, &rec_);
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        ChipAcqIoctl(CHIPACQ_TIMEBASE, &rec_);
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        {
            // A quarter of the post-trigger time a step, (divider + 1) x 8 ns a sample.
            const uint64_t periodNs = 8ull * (simboard::engineState().divider + 1);
            const uint64_t postNs = periodNs * static_cast<uint64_t>(std::max(pseudoPostrig, 1));
            TPacer pacer(stepNs != 0 ? stepNs : std::max<uint64_t>(8, postNs / 4), kPacing);
            ASSERT_EQ(ChipAcqWrite(&rec_), 0);
            int events = 0;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (std::chrono::steady_clock::now() < deadline) {
                events = ChipAcqRead(&rec_, 200);
                if (events == 8192 || events == 4096 || (events & 0x10))
                    break;
            }
            const simboard::TEngineState e = simboard::engineState();
            ASSERT_TRUE(events & 0x10) << "no complete record, events " << events << " running " << e.running
                                       << " triggered " << e.triggered << " produced " << e.produced
                                       << " flushed " << e.flushed << " stalled " << e.stalled << " starts "
                                       << e.starts << " pre " << e.preCount << " post " << e.postCount;
        }
        // The acquisition is over: stop it as the cycle does, so the next one starts clean.
        setDetail(SYNCHRO_STOP);
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        et_ = simboard::etRecord();
        ASSERT_TRUE(et_.valid);
        ASSERT_FALSE(et_.vernierMissing);
        ASSERT_EQ(et_.startBlock, c.minMax ? (c.startBlock | 3) : c.startBlock);

        std::fill(std::begin(s_buffer), std::end(s_buffer), kEmptyWord);
        rec_.acqMode = 16;
        rec_.acqChannels = rec_.cycleChannels = 1;
        rec_.shownChannels = 1;
        uint32_t held = 0;
        int32_t first = 0;
        TInterpolation interpolate = 0;
        ASSERT_EQ(acqtrans(&rec_, &held, &first, &interpolate), 1);
        EXPECT_EQ(held, kRecord);
        acquired_ = true;
    }

    // The product's pipeline origin subtracts triggerOffsetFrac x 20 vernier units (the part of
    // the setup's trigger position below one FPGA sample), which the board cannot know. After
    // the division by s_l_diviseurVernier, K = 1024 x g vernier units make one sort step of 40
    // positions, and a larger origin places every sorted entry later. So the product's position
    // p holds what the board meant for p - shift, with
    //   shift = -triggerOffsetFrac x 20 / diviseur x 40 / (1024 g).
    // The default sweep offset (-50,000) gives triggerOffsetFrac -512 at time bases 6 and 8:
    // +400 positions at 6 (g 1), +80 at 8 (g 5); 0 elsewhere.
    double productShift() const
    {
        const double divider = s_l_diviseurVernier[rec_.timeBase];
        return -static_cast<double>(rec_.triggerOffsetFrac) * 20.0 / divider * 40.0 / (1024.0 * et_.g);
    }

    // The normalised code the transfer makes of the board's ADC code at record position p.
    double expected(double p) const
    {
        const double t = simboard::etPositionTimeNs(p - productShift()) * 1e-9;
        return normalised(simboard::sampleCode(0, t));
    }
    double normalised(uint32_t code) const
    {
        const uint32_t span = rec_.span[0] > 0 ? static_cast<uint32_t>(rec_.span[0]) : 262080u;
        return static_cast<double>(static_cast<uint32_t>(rec_.zero[0]) + ((code & 0xFFFu) * 262144u / span) * 64u);
    }
    // Positions one FPGA sample covers (40 x D).
    int fpgaSamplePositions() const
    {
        const int d = et_.elv == 1 ? 1 : 20 / et_.g;
        return 40 * d;
    }

    acq_ctrl rec_{};
    simboard::TEtRecord et_{};
    bool acquired_ = false;
};

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

} // namespace
