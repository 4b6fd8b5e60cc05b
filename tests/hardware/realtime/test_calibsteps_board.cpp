// The calibration steps on the simulated board with nothing connected (as on a factory bench):
// the one modelled trim and the comparator let steps 3 and 4 succeed; without internal
// references steps 5, 6, 7 and 13 fail and leave their fields alone.
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

TEST_F(CalibStepsBoardTest, OffsetAndTriggerStepsSucceedTheReferenceStepsFail)
{
    const int ch = 1;
    record_.vosBf2Fill[ch] = 5;
    EXPECT_EQ(CalibOffsetOscillo(ch, &record_), 1);
    EXPECT_EQ(record_.vosBf1[ch], 128) << "the factory value, error 0";
    EXPECT_EQ(record_.vosBf2Fill[ch], 0);
    for (int s = 0; s < 16; ++s) {
        // No other trim acts: every search keeps its first value.
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

    // Step 13 keeps 1.0 for every gain it cannot measure: the identity gains stay as they are.
    for (int r = 0; r < 8; ++r) {
        setCalibrationOhmCurrentGain(record_, r, 1.0f);
        setCalibrationCapaCurrentGain(record_, r, 1.0f);
    }
    const calibration before = record_;
    EXPECT_EQ(CompensationRef2VP(ch, &record_), 0);
    EXPECT_EQ(CompensationRef2VN(ch, &record_), 0);
    data.sensitivityCh2 = 4;
    EXPECT_EQ(CompensationMesure(ch, &record_), 0);
    EXPECT_EQ(CompensationCourantIgamme(ch, &record_), 0);
    EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
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
