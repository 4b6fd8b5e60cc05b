// The multimeter on the simulated board, end to end: the controller's real start-up, a mode
// request for the meter, the acquisition threads running the meter cycle, and the published
// records read back as the meter view reads them.
#include "tests/hardware/realtime/cycle_e2e.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/measkernel.h"
#include "acquisition/meter.h"
#include "core/requests.h"
#include "core/scale.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/scaling.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace {

class MeterEndToEndTest : public CycleEndToEndTest {
protected:
    // Runs until `passes` notices came after the offset measurements reached `offsets`; the
    // published record of channel ch then.
    mesures recordAfter(int ch, int offsets, int passes = 2, int wallMs = 30000)
    {
        int after = 0;
        const bool done = runLoop(
            wallMs,
            [&](const pipe_dial& r) {
                if (r.kind == REQ_CHANNEL_STATE && meterCycleState().offsetMeasurements >= offsets)
                    ++after;
            },
            [&] { return after >= passes; });
        EXPECT_TRUE(done) << "offset measurements " << meterCycleState().offsetMeasurements;
        return published(ch);
    }

    static double volts(const mesures& m, int range) { return (m.mean - 524256.0) * coeffMeter[range]; }

    static void stopMeter() { backToScope(); }
};

// DC voltages on channels 2-4 at meter ranges 0-2, auto-range off: once the offset is measured,
// each reads within 0.5 %; the published records carry the time base's factor and the range.
TEST_F(MeterEndToEndTest, DcVoltagesReadWithinHalfAPercent)
{
    const struct {
        int channel;
        int range;
        double volts;
    } rows[] = {{1, 0, 0.5}, {2, 1, -5.0}, {3, 2, 60.0}};
    for (const auto& r : rows) {
        simboard::setSignal(r.channel, dc(r.volts));
    }
    startup();
    for (const auto& r : rows) {
        post(param::meterCouplingCh1 + 3 * r.channel, 1);
        post(param::meterRangeCh1 + 3 * r.channel, r.range);
        post(param::meterAutoRangeCh1 + 3 * r.channel, 0);
        post(param::traceOnCh1 + 2 * r.channel, 1);
    }
    post(param::instrumentMode, 128);
    recordAfter(1, 1);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.channel);
        const mesures m = published(r.channel);
        EXPECT_EQ(m.flags & 0x2003, 0x2003);
        EXPECT_EQ(m.capaWord, r.range);
        EXPECT_NEAR(volts(m, r.range), r.volts, 0.005 * std::fabs(r.volts));
    }
    stopMeter();
}

// A voltage above range 0 ranges channel 2 up (the controller applies the request), then reads
// within 0.5 %.
TEST_F(MeterEndToEndTest, VoltageAboveTheRangeRangesUp)
{
    simboard::setSignal(1, dc(2.0));
    startup();
    post(param::meterCouplingCh2, 1);
    post(param::meterRangeCh2, 0);
    post(param::meterAutoRangeCh2, 1);
    post(param::traceOnCh2, 1);
    post(param::instrumentMode, 128);
    bool requested = false;
    int after = 0;
    ASSERT_TRUE(runLoop(
        30000,
        [&](const pipe_dial& r) {
            if (r.kind == REQ_SET_PARAM && r.code == param::meterRangeCh2 && r.intValue == 1)
                requested = true;
            if (r.kind == REQ_CHANNEL_STATE && requested && meterCycleState().offsetMeasurements >= 1)
                ++after;
        },
        [&] { return after >= 2; }));
    EXPECT_EQ(data.meterRangeCh2, 1);
    EXPECT_EQ(data.meterAutoRangeCh2, 1);
    const mesures m = published(1);
    EXPECT_EQ(m.capaWord, 1);
    EXPECT_NEAR(volts(m, 1), 2.0, 0.01);
    stopMeter();
}

// Channel 1's test paths: a resistor read in ohms after auto-ranging from the default resistance
// range, an open input as an overload on the top range, a diode's forward voltage. The loads
// change on the board while the meter runs.
TEST_F(MeterEndToEndTest, ResistanceDiodeAndOpenInput)
{
    simboard::setLoad(simboard::TLoad{"resistor", 4700.0, 0.0});
    startMeter(128, 1, {0});
    mesures m = recordAfter(0, 1, 3);
    EXPECT_EQ(data.ohmRange, 2);
    EXPECT_EQ(m.flags & 0x2000, 0x2000);
    EXPECT_NEAR((m.mean - 524256.0) * coeffOhm[data.ohmRange], 4700.0, 0.005 * 4700.0);

    simboard::setLoad(simboard::TLoad{"open", 0.0, 0.0});
    int onTop = 0;
    EXPECT_TRUE(runLoop(
        60000,
        [&](const pipe_dial& r) {
            if (r.kind == REQ_CHANNEL_STATE && r.senderId == senderValue(RTAC_id))
                onTop = data.ohmRange == 6 ? onTop + 1 : 0;
        },
        [&] { return onTop >= 3; }))
        << "ohm range " << data.ohmRange;
    m = published(0);
    EXPECT_EQ(m.overrange, 1);
    EXPECT_EQ(m.flags, 0);

    simboard::setLoad(simboard::TLoad{"diode", 0.0, 0.62});
    post(param::meterFunction, 4);
    // The cycle starts again with the new function: its offset measurements count from 0.
    ASSERT_TRUE(runLoop(10000, [](const pipe_dial&) {}, [] {
        return data.meterFunction == 4 && meterCycleState().offsetMeasurements == 0;
    }));
    m = recordAfter(0, 1, 2);
    EXPECT_EQ(m.overrange, 0);
    EXPECT_NEAR(volts(m, 1), 0.62, 0.0062);
    stopMeter();
}

// A 1 kHz sine on channel 1: the frequency the meter view computes from the published framing
// (periods x factor / framed samples / sample period of time base 21) is 1 kHz within 0.2 %.
TEST_F(MeterEndToEndTest, SineFrequencyFromThePublishedFraming)
{
    simboard::TSignal sine;
    sine.shape = "sine";
    sine.vpp = 1.0;
    sine.frequency = 1000.0;
    simboard::setSignal(0, sine);
    startup();
    post(param::meterCouplingCh1, 1);
    post(param::meterRangeCh1, 0);
    post(param::meterAutoRangeCh1, 0);
    post(param::meterFunction, 0);
    post(param::traceOnCh1, 1);
    post(param::instrumentMode, 128);
    const mesures m = recordAfter(0, 1, 2);
    ASSERT_GT(m.periodCount, 0);
    const double framed = m.lastCross50 - static_cast<double>(std::min(m.rise50, m.fall50));
    const double hz = m.periodCount * m.extraValue / framed / GetHorizontalScale(21);
    EXPECT_NEAR(hz, 1000.0, 2.0) << "periods " << m.periodCount << ", factor " << m.extraValue;
    stopMeter();
}

// Mode 130: an input far above the range, auto-range on, and no range request ever posted.
TEST_F(MeterEndToEndTest, ModeWithoutAutoRangePostsNoRequest)
{
    simboard::setSignal(1, dc(30.0));
    startup();
    post(param::meterCouplingCh2, 1);
    post(param::meterRangeCh2, 0);
    post(param::meterAutoRangeCh2, 1);
    post(param::traceOnCh2, 1);
    post(param::instrumentMode, 130);
    int requests = 0, notices = 0;
    runLoop(
        20000,
        [&](const pipe_dial& r) {
            const bool range = r.code == param::meterRangeCh1 || r.code == param::meterRangeCh2
                               || r.code == param::meterRangeCh3 || r.code == param::meterRangeCh4
                               || r.code == param::ohmRange;
            if (r.kind == REQ_SET_PARAM && range && r.senderId == senderValue(RTAC_id))
                ++requests;
            if (r.kind == REQ_CHANNEL_STATE)
                ++notices;
        },
        [&] { return notices >= 4; });
    EXPECT_GE(notices, 4);
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(published(1).overrange, 1);
    stopMeter();
}

// From the meter in the resistance function back to the scope: the current relay opens and the
// scope cycle acquires and notifies as before.
TEST_F(MeterEndToEndTest, BackToTheScopeOpensTheRelay)
{
    simboard::setLoad(simboard::TLoad{"resistor", 4700.0, 0.0});
    startMeter(128, 1, {0});
    int meterNotices = 0;
    ASSERT_TRUE(runLoop(
        20000,
        [&](const pipe_dial& r) {
            meterNotices += r.kind == REQ_CHANNEL_STATE && r.senderId == senderValue(RTAC_id) ? 1 : 0;
        },
        [&] { return meterNotices >= 1; }));
    EXPECT_EQ(simboard::frontEnd(0).params[17], 1);

    // The scope's equivalent-time acquisitions run at the board's own speed.
    simboard::TScenario s = simboard::scenario();
    s.speedFactor = 1.0;
    simboard::setScenario(s);
    simboard::setSignal(0, simboard::TSignal{"sine", 2.0, 0.0, 1000.0, 0.0, 50.0, {}});
    post(param::instrumentMode, 16);
    int scopeNotices = 0;
    ASSERT_TRUE(runLoop(
        20000,
        [&](const pipe_dial& r) {
            if (r.kind == REQ_CHANNEL_STATE && r.senderId == senderValue(ACQU_id) && data.instrumentMode == 16)
                ++scopeNotices;
        },
        [&] { return scopeNotices >= 2; }));
    EXPECT_EQ(simboard::frontEnd(0).params[17], 0);
    EXPECT_EQ(par_acq.acqMode, 16);
}

// A hold during an offset measurement ends the cycle with the channel back in its meter set-up.
TEST_F(MeterEndToEndTest, HoldDuringAnOffsetMeasurementRestoresTheChannel)
{
    simboard::setSignal(1, dc(0.3));
    startup();
    post(param::meterCouplingCh2, 1);
    post(param::meterRangeCh2, 0);
    post(param::traceOnCh2, 1);
    post(param::instrumentMode, 128);
    ASSERT_TRUE(runLoop(30000, [](const pipe_dial&) {}, [] { return simboard::frontEnd(1).params[13] == 1; }));
    post(param::acqRunStop, 1);
    runLoop(3000, [](const pipe_dial&) {}, [] { return false; });
    const simboard::TFrontEnd fe = simboard::frontEnd(1);
    EXPECT_EQ(fe.params[13], 0);
    EXPECT_EQ(fe.params[18], 512);
    EXPECT_EQ(fe.params[14], 2);
    EXPECT_EQ(fe.params[20], 0);
}

} // namespace
