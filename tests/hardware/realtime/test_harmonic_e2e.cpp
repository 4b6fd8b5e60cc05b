// The harmonic analyser on the simulated board, end to end: a 50 Hz signal with known harmonics
// on channel 1, the controller's mode request, the acquisition threads running the harmonic
// cycle, and the result block read back as the harmonic views read it.
#include "tests/hardware/realtime/cycle_e2e.h"

#include "acquisition/harmonic.h"
#include "core/harmonic_results.h"
#include "core/scale.h"

#include <cmath>

namespace {

class HarmonicEndToEndTest : public CycleEndToEndTest {
protected:
    // 2 Vpp of fundamental with 10 % of order 3 at 30 degrees and 5 % of order 5.
    static simboard::TSignal distorted(double vpp = 2.3)
    {
        simboard::TSignal s;
        s.shape = "harmonics";
        s.vpp = vpp;
        s.frequency = 50.0;
        s.phase = 63.0;
        s.harmonics = {1, 0, 0.1, 0, 0.05};
        s.harmonicPhases = {0, 0, 30};
        return s;
    }

    // Channel 1 at 1 V a division in the harmonic mode.
    static void startHarmonic(int frequency)
    {
        startup();
        post(param::traceOnCh1, 1);
        post(param::sensitivityCh1, kOneVolt);
        post(param::averageCount, 0);
        post(param::harmonicFreq, frequency);
        post(param::instrumentMode, 64);
    }

    // Channel 1's record after `passes` notices of the cycle.
    static THarmonicResults recordAfter(int passes)
    {
        int notices = 0;
        const bool done = runLoop(
            40000,
            [&](const pipe_dial& r) {
                if (r.kind == REQ_CHANNEL_STATE && r.code == 15 && r.senderId == senderValue(RTAC_id))
                    ++notices;
            },
            [&] { return notices >= passes; });
        EXPECT_TRUE(done) << notices << " passes";
        pthread_mutex_lock(&o_g_autoMeasMutex);
        const THarmonicResults r = setupLinks().harmonicResultsPtr[0];
        pthread_mutex_unlock(&o_g_autoMeasMutex);
        return r;
    }

    static THarmonicResults block(int record)
    {
        pthread_mutex_lock(&o_g_autoMeasMutex);
        const THarmonicResults r = setupLinks().harmonicResultsPtr[record];
        pthread_mutex_unlock(&o_g_autoMeasMutex);
        return r;
    }

    static constexpr int kOneVolt = 8;
};

TEST_F(HarmonicEndToEndTest, LevelsAndPhasesOfAKnownSignal)
{
    simboard::setSignal(0, distorted());
    startHarmonic(1);
    for (int frequency : {1, 0}) {
        SCOPED_TRACE(frequency == 1 ? "50 Hz selected" : "automatic");
        post(param::harmonicFreq, frequency);
        ASSERT_TRUE(runLoop(5000, [](const pipe_dial&) {}, [&] { return data.harmonicFreq == frequency; }));
        const THarmonicResults r = recordAfter(2);
        ASSERT_EQ(r.status, HARMONIC_MEASURED);
        EXPECT_NEAR(r.entries[3].ratio, 0.1, 0.002);
        EXPECT_NEAR(r.entries[3].phase, 30.0, 2.0);
        EXPECT_NEAR(r.entries[5].ratio, 0.05, 0.002);
        EXPECT_NEAR(r.distortion, 0.1118, 0.002);
        const float volts = GetVerticalScale(setupLinks().acqCh1, SCALE_SCOPE, -1);
        EXPECT_NEAR(r.entries[1].amplitude * volts, 0.7071, 0.007);
        EXPECT_NEAR(r.rms * volts, std::sqrt((1.0 + 0.01 + 0.0025) / 2.0), 0.007);
        EXPECT_NEAR(r.entries[1].period, 0.02, 0.02 * 0.001);
        EXPECT_EQ(setupLinks().acqCh1->harmonicTable[0], 0.0);
    }
    backToScope();
}

TEST_F(HarmonicEndToEndTest, SignalBeyondTheScreenClips)
{
    simboard::setSignal(0, distorted(16.0));
    startHarmonic(1);
    const THarmonicResults r = recordAfter(2);
    EXPECT_EQ(r.status, HARMONIC_OVERRANGE);
    EXPECT_EQ(setupLinks().acqCh1->harmonicTable[1], kHarmonicClipped);
    EXPECT_EQ(setupLinks().acqCh1->harmonicTable[0], 0.0);
    backToScope();
}

// Single-phase power: voltage on channel 1, current on channel 4. The current's third harmonic
// lies 150 degrees from the voltage's, so its power flows back (negative); the fifth is in phase.
TEST_F(HarmonicEndToEndTest, PowerOfChannelsOneAndFour)
{
    simboard::TSignal voltage = distorted();
    voltage.harmonicPhases = {0, 0, 0};
    simboard::TSignal current = voltage;
    current.harmonicPhases = {0, 0, 150, 0, 20};
    current.phase = 30;
    simboard::setSignal(0, voltage);
    simboard::setSignal(3, current);
    startup();
    post(param::traceOnCh1, 1);
    post(param::traceOnCh4, 1);
    post(param::sensitivityCh1, kOneVolt);
    post(param::sensitivityCh4, kOneVolt);
    post(param::averageCount, 0);
    post(param::harmonicFreq, 1);
    post(param::harmPower, 1);
    post(param::instrumentMode, 64);
    recordAfter(3);
    const THarmonicResults ch1 = block(0);
    const THarmonicResults ch4 = block(3);
    const THarmonicResults power = block(kHarmonicPowerRecord);
    ASSERT_EQ(ch1.status, HARMONIC_MEASURED);
    ASSERT_EQ(ch4.status, HARMONIC_MEASURED);
    ASSERT_EQ(power.status, HARMONIC_MEASURED);
    EXPECT_NEAR(ch4.entries[3].phase, 150.0, 2.0);
    EXPECT_NEAR(power.entries[1].ratio, 1.0, 1e-6);
    EXPECT_NEAR(power.entries[3].phase, -150.0, 2.0);
    EXPECT_NEAR(power.entries[3].ratio, -0.01, 0.001) << "0.1 x 0.1 of the fundamental's, returned";
    EXPECT_NEAR(power.entries[5].phase, -20.0, 2.0);
    EXPECT_NEAR(power.entries[5].ratio, 0.0025, 0.0005);
    pthread_mutex_lock(&o_g_autoMeasMutex);
    const double level = setupLinks().powerAcq->harmonicTable[3];
    const double product = setupLinks().acqCh1->harmonicTable[3] * setupLinks().acqCh4->harmonicTable[3];
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    EXPECT_LT(level, 0.0);
    EXPECT_NEAR(level, -product, 1e-6 * product);
    backToScope();
}

} // namespace
