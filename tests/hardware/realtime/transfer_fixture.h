// Fixture of the equivalent-time round trips: one real acquisition on the simulated board, one
// transfer into channel 1's normalised buffer, and the record positions compared with the
// analogue model at the instant the board says each position stands for.
#pragma once

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
    double fraction = 0.37;  // trigger sub-sample fraction forced on the board
};

inline std::string name(const TCase& c)
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
        simboard::forceEtChoices(c.startBlock, c.fraction);

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

    // The trace's rising crossing of the level the input read at the board's trigger instant,
    // nearest to position 50,000, to a fraction of a position (-1: none).
    double crossing() const
    {
        const double level = normalised(simboard::sampleCode(0, et_.triggerNs * 1e-9));
        double best = -1;
        for (uint32_t p = 1; p < kRecord; ++p) {
            const double a = s_buffer[p - 1] & kSampleCodeMask, b = s_buffer[p] & kSampleCodeMask;
            if (a < level && b >= level) {
                const double at = p - 1 + (level - a) / (b - a);
                if (best < 0 || std::fabs(at - 50000) < std::fabs(best - 50000))
                    best = at;
            }
        }
        return best;
    }

    acq_ctrl rec_{};
    simboard::TEtRecord et_{};
    bool acquired_ = false;
};

} // namespace
