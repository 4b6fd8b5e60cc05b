// The capacitance meter on the simulated board, end to end: a capacitor on channel 1's current
// path, the meter's capacitance function from the default range with auto-range on, the cycle
// discharging and charging it, and record 0 read as the meter boxes read it.
#include "tests/hardware/realtime/cycle_e2e.h"

#include "acquisition/capa.h"
#include "core/scale.h"

#include <cmath>

namespace {

class CapaEndToEndTest : public CycleEndToEndTest {
protected:
    static constexpr int kDefaultRange = 4;

    // Runs until record 0 was published `passes` times in a row on `range` with the controller
    // on that range too; the record then.
    static mesures settleOn(int range, int passes, int wallMs = 60000)
    {
        int inRow = 0;
        const bool done = runLoop(
            wallMs,
            [&](const pipe_dial& r) {
                if (r.kind != REQ_CHANNEL_STATE || r.senderId != senderValue(RTAC_id))
                    return;
                const mesures m = published(0);
                inRow = data.capaRange == range && m.capaWord == range ? inRow + 1 : 0;
            },
            [&] { return inRow >= passes; });
        EXPECT_TRUE(done) << "range " << data.capaRange << ", published on " << published(0).capaWord;
        return published(0);
    }

    // The value the meter boxes show for a published record.
    static double farads(const mesures& m)
    {
        return GetSensitivity(static_cast<unsigned short>(m.capaWord), SCALE_CAPACITANCE) / (-m.capaValue) - 2e-10;
    }
};

TEST_F(CapaEndToEndTest, CapacitorsSettleOnTheirRangeAndRead)
{
    const struct {
        double farads;
        int range;
    } rows[] = {{47e-9, 3}, {2.2e-6, 4}};
    simboard::setCapacitor(rows[0].farads);
    startMeter(128, 3, {0});
    EXPECT_EQ(data.capaRange, kDefaultRange);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.farads);
        simboard::setCapacitor(r.farads);
        // A range chosen by hand turns auto-range off: on again.
        post(param::capaRange, kDefaultRange);
        post(param::meterAutoRangeCh1, 1);
        mesures m = settleOn(r.range, 3);
        // Valid once its last slopes agree, which on a loaded host may take a few more records
        // than the range needs. There the thread that switches the ramp on may also be held up
        // before the acquisition starts, so that a record holds only the ramp's last few samples
        // and a slope a few percent off; the reading averages the last four slopes and comes
        // back within a few records. A reading wrong for good still fails.
        const auto reads = [&](const mesures& p) {
            return (p.flags & kCapaValidFlag) != 0 && std::fabs(farads(p) - r.farads) <= 0.02 * r.farads;
        };
        for (int extra = 0; extra < 8 && !reads(m); ++extra)
            m = settleOn(r.range, 1);
        EXPECT_EQ(m.flags & kCapaValidFlag, kCapaValidFlag);
        EXPECT_EQ(m.overrange, 0);
        EXPECT_NEAR(farads(m), r.farads, 0.02 * r.farads);
    }
    backToScope();
}

TEST_F(CapaEndToEndTest, TooLargeClimbsToTheTopRangeAndOverloads)
{
    setSpeed(40.0);
    simboard::setCapacitor(6e-3);
    startMeter(128, 3, {0});
    const mesures m = settleOn(7, 2, 90000);
    EXPECT_EQ(m.flags & kCapaValidFlag, 0);
    EXPECT_EQ(m.overrange, 1);
    backToScope();
}

// The recorder (mode 130) keeps the range even for a capacitor that belongs on another one.
TEST_F(CapaEndToEndTest, RangeHoldsInTheRecorder)
{
    simboard::setCapacitor(47e-9);
    startup();
    // The capacitance function brings the meter mode; the recorder is entered from there.
    post(param::traceOnCh1, 0);
    post(param::meterFunction, 3);
    ASSERT_TRUE(runLoop(5000, [](const pipe_dial&) {}, [] { return data.instrumentMode == 128; }));
    post(param::instrumentMode, 130);
    ASSERT_TRUE(runLoop(5000, [](const pipe_dial&) {}, [] { return data.instrumentMode == 130; }));
    post(param::traceOnCh1, 1);
    // A record is published once its slope agrees with the one before; on this range the ramp
    // is short and its slopes scatter, so that may take more than the four records watched.
    int notices = 0;
    runLoop(
        30000,
        [&](const pipe_dial& r) {
            notices += r.kind == REQ_CHANNEL_STATE && r.senderId == senderValue(RTAC_id) ? 1 : 0;
            EXPECT_FALSE(r.kind == REQ_SET_PARAM && r.code == param::capaRange) << "range request " << r.intValue;
        },
        [&] { return notices >= 4 && published(0).capaWord != 0; });
    EXPECT_GE(notices, 4);
    EXPECT_EQ(data.capaRange, kDefaultRange);
    EXPECT_EQ(published(0).capaWord, kDefaultRange);
    backToScope();
}

// Channel 1 stuck far below the discharged level: the cycle discharges again and again and
// never charges; a stop during that ends the call with the ramp off.
TEST_F(CapaEndToEndTest, StopDuringADischargeLeavesTheRampOff)
{
    simboard::setCapacitor(47e-9);
    simboard::setSilentChannel(0, 2048);
    startMeter(128, 3, {0});
    const uint32_t started = simboard::engineState().starts;
    ASSERT_TRUE(runLoop(20000, [](const pipe_dial&) {}, [&] { return simboard::engineState().starts >= started + 3; }));
    EXPECT_EQ(simboard::frontEnd(0).params[17], 1) << "the current relay closed";
    post(param::acqRunStop, 1);
    ASSERT_TRUE(runLoop(5000, [](const pipe_dial&) {}, [] { return data.acqRunStop == 1; }));
    runLoop(2000, [](const pipe_dial&) {}, [] { return false; });
    const uint32_t stopped = simboard::engineState().starts;
    runLoop(1000, [](const pipe_dial&) {}, [] { return false; });
    EXPECT_EQ(simboard::engineState().starts, stopped) << "the cycle ended";
    const simboard::TFrontEnd fe = simboard::frontEnd(0);
    EXPECT_EQ(fe.params[5], 15);
    EXPECT_EQ(fe.params[6], 1);
    simboard::setSilentChannel(0, -1);
    backToScope();
}

} // namespace
