// The minimal scope cycle: re-processing of held samples and the end of a live run that
// cannot arm.
#include "acquisition/scope.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "core/requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

class ScopeStandinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        setupLinks() = TSetupLinks{};
        data.instrumentMode = 16;
        // Each test case is its own process: buffers and traces live until it ends.
        for (uint32_t** b : {&TAcquisition::Voie1Normalisee, &TAcquisition::Voie2Normalisee,
                             &TAcquisition::Voie3Normalisee, &TAcquisition::Voie4Normalisee}) {
            *b = new uint32_t[TAcquisition::kNormalisedSamples];
            std::fill(*b, *b + TAcquisition::kNormalisedSamples, 0x7FFE0u);
        }
        setupLinks().acqCh1 = ch1;
        setupLinks().acqCh2 = ch2;
        std::memset(&ctrl, 0, sizeof ctrl);
    }
    std::vector<pipe_dial> notices()
    {
        std::vector<pipe_dial> out;
        pipe_dial n{};
        while (o_g_consMessageBox.peek(&n)) {
            out.push_back(n);
            o_g_consMessageBox.receive(&n, true, 1);
        }
        return out;
    }
    TAcquisition* ch1 = new TAcquisition(1);
    TAcquisition* ch2 = new TAcquisition(2);
    acq_ctrl ctrl;
};

TEST_F(ScopeStandinTest, ReprocessingCopiesHeldSamplesAndPostsOneNotice)
{
    for (uint16_t flags : {ACQ_FLAGS_REPROCESS_REDRAW, ACQ_FLAGS_REPROCESS}) {
        ch1->RazSignalNormalise(true);
        ch2->RazSignalNormalise(true);
        ctrl.acqFlags = flags;
        ctrl.shownChannels = 0x1;
        ctrl.acqChannels = 0x3;
        Scope(&data, &ctrl);

        const std::vector<pipe_dial> got = notices();
        ASSERT_EQ(got.size(), 1u) << flags;
        EXPECT_EQ(got[0].kind, REQ_ACQ_DONE);
        EXPECT_EQ(got[0].code, 0);
        EXPECT_EQ(got[0].auxValue, 100000);
        EXPECT_EQ(got[0].intValue, 0x1);
        EXPECT_EQ(got[0].floatValue, 0.0f);
        EXPECT_EQ(got[0].senderId, senderValue(ACQU_id));
        // The shown channel got the whole held record, the other one nothing.
        EXPECT_EQ(std::count(ch1->samples, ch1->samples + 100000, 0x80000000u), 0) << flags;
        EXPECT_EQ(std::count(ch2->samples, ch2->samples + 100000, 0x80000000u), 100000) << flags;
    }
}

TEST_F(ScopeStandinTest, LiveRunThatCannotArmEndsWithoutNotice)
{
    // No board: arming fails, the cycle returns at once and tells nothing.
    ctrl.acqFlags = 32;
    ctrl.shownChannels = 0x1;
    ctrl.acqChannels = 0x1;
    Scope(&data, &ctrl);
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(std::count(ch1->samples, ch1->samples + 100000, 0x80000000u), 100000);
}

}  // namespace
