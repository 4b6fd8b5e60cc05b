// The time verniers as the start-up self test leaves them: an equivalent-time record at the
// fastest time base places the trigger crossing where the board's signal has it.
#include "tests/hardware/realtime/transfer_fixture.h"

#include "hardware/frontend.h"
#include "hardware/selftest.h"

namespace {

class VernierStartupTest : public TransferRoundTripTest {
protected:
    void SetUp() override
    {
        TransferRoundTripTest::SetUp();
        for (int ch = 0; ch < 4; ++ch) {
            vernierMinOf(ch) = 0;
            vernierMaxOf(ch) = 0;
        }
    }

    // Step 13 of the controller's start-up.
    static uint16_t selfTest()
    {
        FrontEndInit(&param_calibr);
        data.selfTestResult = AutoTest(&param_calibr);
        FrontEndInit(&param_calibr);
        data.selfTestResult = AcqTransfertInit(&param_calibr);
        return data.selfTestResult;
    }
};

// With a signal on the input during the self test, as the default scenario has: the limits come
// from the calibration only. Trigger fractions across the sample period take codes from the
// whole vernier range, the edges of the calibrated window included.
TEST_F(VernierStartupTest, FastTimeBaseCrossingStaysWithinATenthOfASample)
{
    simboard::TSignal sine;
    sine.shape = "sine";
    sine.vpp = 2.0;
    sine.frequency = 1000;
    simboard::setSignal(0, sine);
    ASSERT_EQ(selfTest(), 0xFFFF);
    ASSERT_EQ(VernierCh1.IsCalibrationOK(), 0);

    for (const double fraction : {0.02, 0.25, 0.5, 0.75, 0.98}) {
        const TCase c{6, 0, "sine", 40, false, fraction};
        SCOPED_TRACE(name(c) + ", fraction " + std::to_string(fraction));
        acquireAndTransfer(c);
        if (!acquired_)
            continue;
        const double board = et_.crossingPosition + productShift();
        const double found = crossing();
        ASSERT_GE(found, 0.0);
        std::printf("[ vernier ] fraction %.2f: code %u, crossing at %.1f, the board's at %.1f\n", fraction,
                    et_.vernierCode, found, board);
        EXPECT_LE(std::fabs(found - board), fpgaSamplePositions() / 10.0)
            << "crossing at " << found << ", the board's at " << board << ", vernier code " << et_.vernierCode
            << ", limits " << vernierMinOf(0) << ".." << vernierMaxOf(0);
    }
}

} // namespace
