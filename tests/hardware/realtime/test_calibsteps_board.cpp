// The calibration steps on the simulated board with nothing connected (as on a factory bench):
// the offset and trigger steps on a board without offset errors, the reference steps on a board
// whose references are off (each trim takes its reference's error out), and the faults that fail
// a step and leave the record alone.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/realtime/realtime_support.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/calibsteps.h"
#include "hardware/chip_acq.h"

#include <chrono>
#include <vector>

namespace {

using realtime::setDetail;

class CalibStepsBoardTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        ASSERT_EQ(ChipAcqDrv(), 0);
        CmdeLogique(CMDE_CHANNEL_POWER, 0xF);
        setDetail(SYNCHRO_NONE);
        simboard::setInputsConnected(false);
        simboard::updateScenario([](simboard::TScenario& s) { s.speedFactor = 20; });
        // The waits between measurements do not change what the board answers.
        setPauseHook([](int) {});
        std::memset(&record_, 0, sizeof record_);
        for (int ch = 0; ch < 4; ++ch)
            record_.vosBf1[ch] = 77;
        // The channels' normalised buffers, which the program's start-up allocates.
        static std::vector<uint32_t> buffers[4];
        uint32_t** const links[4] = {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                                     &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee};
        for (int ch = 0; ch < 4; ++ch) {
            buffers[ch].assign(TAcquisition::kNormalisedSamples, 0);
            *links[ch] = buffers[ch].data();
        }
    }
    void TearDown() override
    {
        TAcquisition::Voie1Normalisee = TAcquisition::Voie2Normalisee = nullptr;
        TAcquisition::Voie3Normalisee = TAcquisition::Voie4Normalisee = nullptr;
        setPauseHook(nullptr);
        setDetail(SYNCHRO_STOP);
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        HardwareTest::TearDown();
    }

    calibration record_{};
};

TEST_F(CalibStepsBoardTest, OffsetAndTriggerStepsOnABoardWithoutOffsets)
{
    const int ch = 1;
    record_.vosBf2Fill[ch] = 5;
    EXPECT_EQ(CalibOffsetOscillo(ch, &record_), 1);
    EXPECT_EQ(record_.vosBf1[ch], 128) << "the factory value, error 0";
    EXPECT_EQ(record_.vosBf2Fill[ch], 0);
    for (int s = 0; s < 16; ++s) {
        // Nothing for the trims to null: every search keeps its first value.
        EXPECT_EQ(record_.vosBf2[ch][s], 128);
        EXPECT_EQ(record_.vosGp[ch][s], 128);
    }

    // A 0 V input: the comparator toggles within a few steps of the middle, for both couplings.
    for (const int16_t coupling : {1, 0}) {
        SCOPED_TRACE(coupling);
        data.trigCouplingCh2 = coupling;
        ASSERT_EQ(CompensationLevelTrig(ch, &record_), 1);
        const int group = coupling == 1 ? 1 : 0;
        EXPECT_NEAR(calibrationTrigOffset(record_, group, 0, ch), 0, 8);
        EXPECT_NEAR(calibrationTrigOffset(record_, group, 1, ch), 0, 8);
    }
}

// Each channel's references off by their own errors: the steps pass on every channel and the
// trims they store bring each reference back to its nominal size (the board's trim moves a
// reference by 1/2000 a step from 128).
TEST_F(CalibStepsBoardTest, ReferenceStepsTrimEveryChannelsReferencesToTheirSize)
{
    struct TCase {
        double refP, refN;
    };
    const TCase cases[4] = {{0.02, -0.015}, {-0.01, 0.02}, {0.03, 0.01}, {-0.02, -0.025}};
    simboard::updateScenario([&](simboard::TScenario& s) {
        for (int ch = 0; ch < 4; ++ch) {
            s.errors[ch].refP = cases[ch].refP;
            s.errors[ch].refN = cases[ch].refN;
            s.errors[ch].gain = 0.01 * (ch - 1);
        }
    });
    for (int ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
        ASSERT_EQ(CompensationRef2VP(ch, &record_), 1);
        ASSERT_EQ(CompensationRef2VN(ch, &record_), 1);
        EXPECT_NEAR((1 + cases[ch].refP) * (1 + (record_.ref2Vp[ch] - 128) / 2000.0), 1.0, 0.001)
            << int(record_.ref2Vp[ch]);
        EXPECT_NEAR((1 + cases[ch].refN) * (1 + (record_.ref2Vn[ch] - 128) / 2000.0), 1.0, 0.001)
            << int(record_.ref2Vn[ch]);
    }
}

// A dead reference leaves a flat line: both reference steps fail and store nothing.
TEST_F(CalibStepsBoardTest, ADeadReferenceFailsTheReferenceSteps)
{
    const int ch = 2;
    ASSERT_EQ(CalibOffsetOscillo(ch, &record_), 1);
    simboard::setReferenceDead(ch, true);
    const calibration before = record_;
    EXPECT_EQ(CompensationRef2VP(ch, &record_), 0);
    EXPECT_EQ(CompensationRef2VN(ch, &record_), 0);
    EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
    simboard::setReferenceDead(ch, false);
    EXPECT_EQ(CompensationRef2VP(ch, &record_), 1) << "the fault cleared";
}

TEST_F(CalibStepsBoardTest, StuckQualityBitsFailTheTriggerStepWithinItsScans)
{
    simboard::setQualityStuck(2, 0);
    data.trigCouplingCh3 = 2;
    const calibration before = record_;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CompensationLevelTrig(2, &record_), 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 60.0);
    EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
    // Every threshold written stayed in the 10-bit field.
    EXPECT_LE(simboard::frontEnd(2).params[19], 1023);
}

} // namespace
