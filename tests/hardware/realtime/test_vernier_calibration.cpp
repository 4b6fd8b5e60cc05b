// Start-up calibration of the verniers and offset tables on the simulated board, unpaced.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/realtime/realtime_support.h"

#include "board/deviceio.h"

#include "core/gest_db.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/selftest.h"
#include "hardware/vernier.h"

#include <array>
#include <chrono>

namespace {

using realtime::setDetail;

class VernierCalibrationTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        ASSERT_EQ(ChipAcqDrv(), 0);
        ASSERT_TRUE(ChipAcqBoardPresent());
        CmdeLogique(CMDE_CHANNEL_POWER, 0xF);
        setDetail(SYNCHRO_NONE);
        simboard::setInputsConnected(false);
        for (int ch = 0; ch < 4; ++ch) {
            vernierMinOf(ch) = 0;
            vernierMaxOf(ch) = 0;
        }
    }
    void TearDown() override
    {
        setDetail(SYNCHRO_STOP);
        ChipAcqIoctl(CHIPACQ_STOP_QUIET, nullptr);
        HardwareTest::TearDown();
    }
};

TEST_F(VernierCalibrationTest, LimitsLieInsideTheBoardRangeOnlyWhenTheLowByteIsFull)
{
    data.selfTestResult = 0xFFFD;
    EXPECT_EQ(TVernier::Calibration(nullptr), -1);
    EXPECT_EQ(vernierMinOf(0), 0);
    EXPECT_EQ(vernierMaxOf(0), 0);

    data.selfTestResult = 0xF0FF;
    ASSERT_EQ(TVernier::Calibration(nullptr), 0);
    const simboard::TVernierLimits board = simboard::vernierLimits();
    for (int ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(vernierOf(ch).IsCalibrationOK(), 0);
        EXPECT_GE(vernierMinOf(ch), board.min);
        EXPECT_LE(vernierMaxOf(ch), board.max);
        // 128 random placements cover most of the range; the narrowing takes 1/32 at each end.
        EXPECT_GT(vernierMaxOf(ch) - vernierMinOf(ch), (board.max - board.min) / 2);
    }
}

TEST_F(VernierCalibrationTest, ChannelsWithoutAValidCodeStayUncalibrated)
{
    // Without a valid code the narrowing would turn 4095..0 into a window IsCalibrationOK takes.
    for (const int code : {0, 4095}) {
        SCOPED_TRACE(code);
        simboard::setMissingVernier(code);
        data.selfTestResult = 0xFFFF;
        ASSERT_EQ(TVernier::Calibration(nullptr), 0);
        for (int ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(vernierMinOf(ch), 4095);
            EXPECT_EQ(vernierMaxOf(ch), 0);
            EXPECT_EQ(vernierOf(ch).IsCalibrationOK(), -1);
        }
    }
}

TEST_F(VernierCalibrationTest, OffsetTablesOfAQuietChannelAreZero)
{
    for (int ch = 0; ch < 4; ++ch)
        matriceOffsetsOf(1, ch)[5] = 77;
    bypassMinOffsetOf(1) = 9;
    ASSERT_EQ(MatriceCalibration(2), 0);
    for (int group = 0; group < 4; ++group)
        for (int j = 0; j < kPhaseCount; ++j)
            EXPECT_EQ(matriceOffsetsOf(1, group)[j], 0) << "group " << group << " phase " << j;
    EXPECT_EQ(bypassMinOffsetOf(1), 0);
    EXPECT_EQ(bypassMaxOffsetOf(1), 0);
}

TEST_F(VernierCalibrationTest, AcquisitionsThatNeverCompleteFailWithinThePollCount)
{
    simboard::setNoTrigger(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MatriceCalibration(1), -1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0);
}

}  // namespace

namespace {

// More than 64 failed acquisitions abort the calibration at once (a pending stop fails every
// arming): -1, and channels that never had a valid code keep 4095 and 0, not calibrated.
TEST_F(VernierCalibrationTest, AbortAfterTooManyFailedAcquisitions)
{
    data.selfTestResult = 0xFFFF;
    setDetail(SYNCHRO_STOP);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TVernier::Calibration(nullptr), -1);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
    for (int ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(vernierMinOf(ch), 4095);
        EXPECT_EQ(vernierMaxOf(ch), 0);
        EXPECT_EQ(vernierOf(ch).IsCalibrationOK(), -1);
    }
}

// The start-up self test as the controller runs it, with the real board's pacing (every settling
// pause and acquisition in wall time) and with the simulated board's quick calibration: either
// way every channel passes, the verniers span the board's range and the offset tables hold the
// board's phase offsets.
TEST_F(VernierCalibrationTest, QuickCalibrationFindsWhatTheRealPacingFinds)
{
    std::array<int16_t, 20> offsets{};
    for (int j = 0; j < 20; ++j)
        offsets[static_cast<size_t>(j)] = static_cast<int16_t>(j % 3 ? 2 * j : -j);
    simboard::setPhaseOffsets(1, offsets);
    const simboard::TVernierLimits board = simboard::vernierLimits();
    for (const bool quick : {false, true}) {
        SCOPED_TRACE(quick ? "quick calibration" : "real pacing");
        data.selfTestResult = 0;
        deviceIO().quickCalibration(quick);
        FrontEndInit(&param_calibr);
        data.selfTestResult = AutoTest(&param_calibr);
        FrontEndInit(&param_calibr);
        data.selfTestResult = AcqTransfertInit(&param_calibr);
        deviceIO().quickCalibration(false);
        EXPECT_EQ(data.selfTestResult, 0xFFFF);
        for (int ch = 0; ch < 4; ++ch) {
            SCOPED_TRACE(ch);
            EXPECT_GE(vernierMinOf(ch), board.min);
            EXPECT_LE(vernierMaxOf(ch), board.max);
            EXPECT_GT(vernierMaxOf(ch) - vernierMinOf(ch), (board.max - board.min) / 2);
            for (int group = 0; group < 4; ++group)
                for (int j = 0; j < kPhaseCount; ++j)
                    EXPECT_NEAR(matriceOffsetsOf(ch, group)[j], ch == 1 && group < 3 ? offsets[static_cast<size_t>(j)] : 0, 1)
                        << "group " << group << " phase " << j;
            EXPECT_NEAR(bypassMinOffsetOf(ch), 0, 1);
            EXPECT_NEAR(bypassMaxOffsetOf(ch), 0, 1);
        }
    }
}

// The phase-offset option: the tables hold what the board adds to each phase of its records.
TEST_F(VernierCalibrationTest, OffsetTablesFindThePhaseOffsetsOfTheBoard)
{
    std::array<int16_t, 20> offsets{};
    for (int j = 0; j < 20; ++j)
        offsets[static_cast<size_t>(j)] = static_cast<int16_t>(j % 2 ? -3 * j : 2 * j);
    simboard::setPhaseOffsets(2, offsets);
    ConfigurationScope(nullptr);  // the trace on the screen, not clipped at its edge
    ASSERT_EQ(MatriceCalibration(4), 0);
    for (int group = 0; group < 3; ++group)
        for (int j = 0; j < kPhaseCount; ++j)
            EXPECT_NEAR(matriceOffsetsOf(2, group)[j], offsets[static_cast<size_t>(j)], 1)
                << "group " << group << " phase " << j;
    EXPECT_EQ(bypassMinOffsetOf(2), 0);
    EXPECT_EQ(bypassMaxOffsetOf(2), 0);
}

}  // namespace
