// An order that clears traces, carried out by the running acquisition control thread: the live
// channel's trace and normalised buffer are emptied, a channel showing a memory keeps both.
#include "acquisition/acquisit.h"
#include "acquisition/acquisit_rules.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "hardware/calibration.h"
#include "hardware/handshake.h"
#include "tests/acquisition/acquisit_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr uint32_t kRecord = TAcquisition::kNormalisedSamples;
constexpr uint32_t kEmptyWord = 0x80000000u;

uint32_t s_buffers[2][kRecord];

class AcquisitClearingTest : public AcquisitFixture {
protected:
    void SetUp() override
    {
        AcquisitFixture::SetUp();
        data.hwChannelMask = 15;
        setPauseHook([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
        TAcquisition::Voie1Normalisee = s_buffers[0];
        TAcquisition::Voie2Normalisee = s_buffers[1];
        // Never freed: the threads outlive the test body.
        setupLinks().acqCh1 = new TAcquisition(1);
        setupLinks().acqCh2 = new TAcquisition(2);
    }

    // A recognisable signal in channel n's buffer and trace (code grows with the position).
    static void fill(int n)
    {
        for (uint32_t p = 0; p < kRecord; ++p)
            s_buffers[n][p] = 0x60000u + p;
        TAcquisition* trace = n == 0 ? setupLinks().acqCh1 : setupLinks().acqCh2;
        std::copy(s_buffers[n], s_buffers[n] + kRecord, trace->samples);
    }
    static bool holds(const uint32_t* words, uint32_t expectedFirst, bool pattern)
    {
        for (uint32_t p = 0; p < kRecord; ++p)
            if (words[p] != (pattern ? expectedFirst + p : expectedFirst))
                return false;
        return true;
    }
};

TEST_F(AcquisitClearingTest, ClearOrderEmptiesTheLiveChannelAndKeepsTheMemoryChannel)
{
    // Channel 1 live, channel 2 shows its memory trace.
    data.traceOnCh1 = 1;
    data.memoryTraceCh2 = 1;
    data.channelFlags = 0x0001 | 0x0200;
    // Action 32 clears every live channel and every memory not shown: channel 1 has both its
    // bits, channel 2 only its live bit, so the memory rule is what keeps it.
    const TLongArray order{param::userTimeBase, 0x1FFF, ACQ_RESTART_32, senderValue(COMM_id)};
    const uint32_t clear = acqActionStep(32, true, order.code, 0x1FFF, acqRuleFields(data)).clear;
    ASSERT_EQ(clear & 0x0303, 0x0103u) << std::hex << clear;

    ASSERT_EQ(startAcquisitionThread(&ACQU_id, acquisit, &param_calibr, 20, "acquisit"), 0);
    ASSERT_TRUE(ordersSettled(1));
    fill(0);
    fill(1);

    ASSERT_EQ(o_g_acquMessageBox.send(&order), 0);
    ASSERT_TRUE(ordersSettled(2));

    EXPECT_TRUE(holds(s_buffers[0], kEmptyWord, false)) << "channel 1's buffer";
    EXPECT_TRUE(holds(setupLinks().acqCh1->samples, kEmptyWord, false)) << "channel 1's trace";
    EXPECT_TRUE(holds(s_buffers[1], 0x60000u, true)) << "channel 2's buffer";
    EXPECT_TRUE(holds(setupLinks().acqCh2->samples, 0x60000u, true)) << "channel 2's trace";
}

} // namespace
