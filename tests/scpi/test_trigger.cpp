// TRIGger and ARM handlers, executed in process one unit at a time against a prepared live
// setup: suffix rules, conversions, bounds, keywords and reply texts.
#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "tests/scpi/handler_cases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

namespace {

class TriggerCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        reset();
    }

    void TearDown() override
    {
        setupLinks().acqCh1 = nullptr;
        setupLinks().acqCh4 = nullptr;
        delete trace1_;
        delete trace4_;
        ScpiHandlerTest::TearDown();
    }

    // A four-channel setup: trigger and qualifier on channel 1.
    void reset() override
    {
        data = init_par;
        data.hwChannelMask = 15;
        data.trigSource = 0;
        data.qualifSource = 0;
    }

    // Live traces of channels 1 and 4. Channel 1: 1 V per 32760 codes, probe x10, offset
    // 3276 codes, so the screen range is 80 V and the offset 1 V. Channel 4: probe x1, no offset.
    void installTraces()
    {
        trace1_ = new TAcquisition(1);
        trace1_->sensitivity = 8;
        trace1_->probeCoeff = 10.0f;
        trace1_->offset = 3276.0f;
        trace4_ = new TAcquisition(8);
        trace4_->sensitivity = 8;
        trace4_->probeCoeff = 1.0f;
        trace4_->offset = 0.0f;
        setupLinks().acqCh1 = trace1_;
        setupLinks().acqCh4 = trace4_;
        data.sensitivityCh1 = 8;
        data.sensitivityCh4 = 8;
    }

    TAcquisition* trace1_ = nullptr;
    TAcquisition* trace4_ = nullptr;
};

TEST_F(TriggerCommands, ModeRunAndDefineFollowTheirSuffixRules)
{
    checkSets({
        {nullptr, "TRIG:ATRIG ON", 0, "1:7=0"},
        {nullptr, "TRIG:ATRIG OFF", 0, "1:7=1"},
        {nullptr, "TRIG:ATRIG -1", 0, "1:7=4"},
        {nullptr, "TRIG:SEQ4:ATRIG:STAT ON", 0, "1:7=0"},
        {nullptr, "TRIG:SEQ5:ATRIG ON", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG2:ATRIG ON", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG:ATRIG2 ON", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG:ATRIG:STAT2 ON", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG:RUN:STAT ON", 0, "1:3=0"},
        {nullptr, "TRIG:SEQ3:RUN:STAT OFF", 0, "1:3=1"},
        {nullptr, "TRIG:RUN2:STAT OFF", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {[] { data.trigMode = 4; }, "TRIG:ATRIG?", "-1", 0},
        {[] { data.trigMode = 0; }, "TRIG:ATRIG:STAT?", "1", 0},
        {[] { data.trigMode = 1; }, "TRIG:ATRIG?", "0", 0},
        {[] { data.trigMode = 2; }, "TRIG:ATRIG?", "0", 0},
        {[] { data.acqRunStop = 0; }, "TRIG:RUN:STAT?", "1", 0},
        {[] { data.acqRunStop = 1; }, "TRIG:RUN:STAT?", "0", 0},
        // By the suffix alone, whatever the setup's trigger type.
        {[] { data.trigType = 0; }, "TRIG:SEQ2:DEF?", "PUL", 0},
        {nullptr, "TRIG:DEF?", "EDGE", 0},
        {nullptr, "TRIG:SEQ3:DEF?", "DEL", 0},
        {nullptr, "TRIG:SEQ4:DEF?", "EVEN", 0},
        {nullptr, "TRIG:SEQ5:DEF?", nullptr, kErrSuffixOutOfRange},
        {nullptr, "TRIG:SEQ0:DEF?", nullptr, kErrSuffixOutOfRange},
    });
}

TEST_F(TriggerCommands, ATrigMinusOneThenQueryReportsMinusOne)
{
    const Outcome set = run("TRIG:ATRIG -1");
    ASSERT_EQ(set.requests, "1:7=4");
    data.trigMode = 4;  // as the controller applies it
    EXPECT_EQ(run("TRIG:ATRIG?").reply, "-1\n\r");
}

TEST_F(TriggerCommands, TimesConvertToEightNanosecondStepsWithinTheirRanges)
{
    checkSets({
        // HOLDoff: any SEQuence, 8..1875000000, keywords step by 1.
        {nullptr, "TRIG:HOLD 1E-6", 0, "1:32=125"},
        {nullptr, "TRIG:HOLD 1.003E-6", 0, "1:32=125"},
        {nullptr, "TRIG:HOLD 1.005E-6", 0, "1:32=126"},
        {nullptr, "TRIG:SEQ7:HOLD 1E-6", 0, "1:32=125"},
        {nullptr, "TRIG:HOLD 0", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:HOLD 15.1", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:HOLD MIN", 0, "1:32=8"},
        {nullptr, "TRIG:HOLD MAX", 0, "1:32=1875000000"},
        {[] { data.trigHoldoff = 12500; }, "TRIG:HOLD UP", 0, "1:32=12501"},
        {[] { data.trigHoldoff = 8; }, "TRIG:HOLD DOWN", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:HOLD DEF", kErrQuery, ""},
        {nullptr, "TRIG:HOLD INF", kErrQuery, ""},
        {nullptr, "TRIG:HOLD2 1E-6", kErrSuffixOutOfRange, ""},
        // DELay: SEQuence 2 is the pulse time T1, 3 the trigger delay; nothing else.
        {nullptr, "TRIG:DEL 1E-6", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG:SEQ4:DEL 1E-6", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG:SEQ2:DEL2 1E-6", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG:SEQ2:DEL 1E-6", 0, "1:177=125"},
        {nullptr, "TRIG:SEQ3:DEL 1E-6", 0, "1:175=125"},
        {nullptr, "TRIG:SEQ2:DEL 16E-9", 0, "1:177=2"},
        {nullptr, "TRIG:SEQ3:DEL 16E-9", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:SEQ3:DEL MIN", 0, "1:175=6"},
        {nullptr, "TRIG:SEQ2:DEL MIN", 0, "1:177=2"},
        // The delay counter goes beyond 32-bit signed values.
        {nullptr, "TRIG:SEQ3:DEL MAX", 0, "1:175=2500000000"},
        {nullptr, "TRIG:SEQ3:DEL 20", 0, "1:175=2500000000"},
        {nullptr, "TRIG:SEQ3:DEL 20.1", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:SEQ2:DEL MAX", 0, "1:177=1875000000"},
        {nullptr, "TRIG:SEQ2:DEL 16", kErrDataOutOfRange, ""},
        // Keywords step by the zoom width in steps.
        {[] { data.trigDelay = 100; data.zoomWidth = 40.0f; }, "TRIG:SEQ3:DEL UP", 0, "1:175=140"},
        {[] { data.trigDelay = 100; data.zoomWidth = 12.7f; }, "TRIG:SEQ3:DEL DOWN", 0, "1:175=88"},
        {[] { data.trigDelay = 40; data.zoomWidth = 40.0f; }, "TRIG:SEQ3:DEL DOWN", kErrDataOutOfRange, ""},
        {[] { data.pulseT1 = 1875000000; }, "TRIG:SEQ2:DEL UP", kErrDataOutOfRange, ""},
        // A damaged zoom width is no step.
        {[] { data.trigDelay = 100; data.zoomWidth = std::nanf(""); }, "TRIG:SEQ3:DEL UP", kErrDataOutOfRange, ""},
        {[] { data.trigDelay = 100; data.zoomWidth = -3.0f; }, "TRIG:SEQ3:DEL DOWN", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:SEQ3:DEL DEF", kErrQuery, ""},
        // DELDpulse: SEQuence 1 or 2, 2..max, keywords step by 1.
        {nullptr, "TRIG:DELD 1E-6", 0, "1:194=125"},
        {nullptr, "TRIG:SEQ2:DELD 16E-9", 0, "1:194=2"},
        {nullptr, "TRIG:DELD 8E-9", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:SEQ3:DELD 1E-6", kErrSuffixOutOfRange, ""},
        {[] { data.pulseT2 = 100; }, "TRIG:DELD UP", 0, "1:194=101"},
        {[] { data.pulseT2 = 100; }, "TRIG:DELD DOWN", 0, "1:194=99"},
        {[] { data.pulseT2 = 1875000000; }, "TRIG:DELD UP", kErrDataOutOfRange, ""},
        {[] { data.pulseT2 = 2; }, "TRIG:DELD DOWN", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:DELD INF", kErrQuery, ""},
        // ECOunt: SEQuence 1 or 4, 3..16384.
        {nullptr, "TRIG:ECO 10", 0, "1:176=10"},
        {nullptr, "TRIG:SEQ4:ECO 10", 0, "1:176=10"},
        {nullptr, "TRIG:SEQ2:ECO 10", kErrSuffixOutOfRange, ""},
        {nullptr, "TRIG:ECO 2", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:ECO 16385", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:ECO MAX", 0, "1:176=16384"},
        {[] { data.eventCount = 3; }, "TRIG:ECO UP", 0, "1:176=4"},
        {[] { data.eventCount = 3; }, "TRIG:ECO DOWN", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:ECO DEF", kErrQuery, ""},
    });
    checkQueries({
        {[] { data.trigHoldoff = 12500; }, "TRIG:HOLD?", "1.00e-04", 0},
        {[] { data.trigHoldoff = 12500; }, "TRIG:SEQ3:HOLD?", "1.00e-04", 0},
        {[] { data.pulseT1 = 125; }, "TRIG:SEQ2:DEL?", "1.00e-06", 0},
        {[] { data.trigDelay = 2500000000u; }, "TRIG:SEQ3:DEL?", "2.00e+01", 0},
        {nullptr, "TRIG:DEL?", nullptr, kErrSuffixOutOfRange},
        {[] { data.pulseT2 = 250; }, "TRIG:DELD?", "2.00e-06", 0},
        {[] { data.eventCount = 17; }, "TRIG:SEQ4:ECO?", "17", 0},
        // A numeric keyword after a query is accepted and answers the current value.
        {[] { data.trigHoldoff = 12500; }, "TRIG:HOLD? MIN", "1.00e-04", 0},
        {[] { data.eventCount = 17; }, "TRIG:ECO? MAX", "17", 0},
    });
}

TEST_F(TriggerCommands, ChannelSettingsActOnTheSourceChannel)
{
    auto source = [](int16_t trig, int16_t qualif) {
        return [=] { data.trigSource = trig; data.qualifSource = qualif; };
    };
    checkSets({
        {source(2, 0), "TRIG:COUP AC", 0, "1:183=0"},
        {source(2, 0), "TRIG:COUP DC", 0, "1:183=1"},
        {source(7, 0), "TRIG:COUP DC", 0, "1:181=1"},  // no channel source: channel 1
        {source(3, 0), "TRIG:FILT:HPAS ON", 0, "1:184=2"},
        {source(3, 0), "TRIG:FILT:HPAS:STAT OFF", 0, "1:184=1"},
        {source(3, 0), "TRIG:FILT:LPAS 1", 0, "1:184=3"},
        {source(3, 0), "TRIG:FILT2:LPAS ON", kErrSuffixOutOfRange, ""},
        {source(3, 0), "TRIG:FILT:LPAS:STAT2 ON", kErrSuffixOutOfRange, ""},
        {source(1, 0), "TRIG:HYST 3", 0, "1:190=1"},
        {source(1, 0), "TRIG:HYST 0", 0, "1:190=0"},
        {source(1, 0), "TRIG:HYST 1", kErrDataOutOfRange, ""},
        {source(1, 0), "TRIG:HYST MAX", 0, "1:190=1"},
        {source(1, 0), "TRIG:HYST DEF", kErrQuery, ""},
        {source(0, 0), "TRIG:SLOP POS", 0, "1:185=0"},
        {source(0, 0), "TRIG:SEQ2:SLOP NEG", 0, "1:185=1"},
        {source(0, 0), "TRIG:SLOP EITH", kErrInvalidCharacterData, ""},
        {source(0, 0), "TRIG:SLOP NO", kErrInvalidCharacterData, ""},
        {source(0, 0), "TRIG:SLOP WIND", kErrInvalidCharacterData, ""},
        {nullptr, "TRIG:TYP INF", 0, "1:179=0"},
        {nullptr, "TRIG:TYP SUP", 0, "1:179=1"},
        {nullptr, "TRIG:SEQ2:TYP INS", 0, "1:179=2"},
        {nullptr, "TRIG:TYP OUT", 0, "1:179=3"},
        {nullptr, "TRIG:TYP EQU", kErrInvalidCharacterData, ""},
        {nullptr, "TRIG:SEQ3:TYP INF", kErrSuffixOutOfRange, ""},
        // ARM: the qualifier's channel, SEQuence 1, 3 or 4.
        {source(0, 3), "ARM:COUP AC", 0, "1:184=0"},
        {source(0, 3), "ARM:SEQ2:COUP AC", kErrSuffixOutOfRange, ""},
        {source(0, 3), "ARM:SEQ3:SLOP NEG", 0, "1:188=1"},
        {source(0, 3), "ARM:SEQ4:HYST 3", 0, "1:192=1"},
        {source(0, 3), "ARM:FILT:HPAS ON", 0, "1:184=2"},
        {source(0, 2), "ARM:FILT:LPAS:STAT OFF", 0, "1:183=1"},
        {source(0, 3), "ARM:SEQ2:FILT:LPAS ON", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {[] { data.trigSource = 1; data.trigCouplingCh2 = 0; }, "TRIG:COUP?", "AC", 0},
        {[] { data.trigSource = 1; data.trigCouplingCh2 = 1; }, "TRIG:COUP?", "DC", 0},
        {[] { data.trigSource = 1; data.trigCouplingCh2 = 2; }, "TRIG:COUP?", "AC", 0},
        {[] { data.trigSource = 1; data.trigCouplingCh2 = 3; }, "TRIG:COUP?", "DC", 0},
        {[] { data.trigSource = 1; data.trigCouplingCh2 = 4; }, "TRIG:COUP?", "NONE", 0},
        {[] { data.qualifSource = 1; data.trigCouplingCh2 = 0; }, "ARM:COUP?", "AC", 0},
        {[] { data.qualifSource = 1; data.trigCouplingCh2 = 1; }, "ARM:COUP?", "DC", 0},
        {[] { data.qualifSource = 1; data.trigCouplingCh2 = 2; }, "ARM:COUP?", "NONE", 0},
        {[] { data.qualifSource = 1; data.trigCouplingCh2 = 3; }, "ARM:COUP?", "NONE", 0},
        {[] { data.trigCouplingCh1 = 2; }, "TRIG:FILT:HPAS?", "1", 0},
        {[] { data.trigCouplingCh1 = 3; }, "TRIG:FILT:HPAS:STAT?", "0", 0},
        {[] { data.trigCouplingCh1 = 3; }, "TRIG:FILT:LPAS?", "1", 0},
        {[] { data.qualifSource = 3; data.trigCouplingCh4 = 2; }, "ARM:FILT:HPAS?", "1", 0},
        {[] { data.noiseRejectCh1 = 1; }, "TRIG:HYST?", "3", 0},
        {[] { data.noiseRejectCh1 = 0; }, "TRIG:HYST?", "0", 0},
        {[] { data.noiseRejectCh1 = 5; }, "TRIG:HYST?", "3", 0},
        {[] { data.trigEdgeCh1 = 0; }, "TRIG:SLOP?", "POS", 0},
        {[] { data.trigEdgeCh1 = 1; }, "TRIG:SLOP?", "NEG", 0},
        {[] { data.trigEdgeCh1 = 7; }, "TRIG:SLOP?", "NEG", 0},
        {[] { data.qualifSource = 3; data.trigEdgeCh4 = 1; }, "ARM:SEQ4:SLOP?", "NEG", 0},
        {nullptr, "ARM:SEQ2:SLOP?", nullptr, kErrSuffixOutOfRange},
        {[] { data.pulseType = 0; }, "TRIG:TYP?", "INF", 0},
        {[] { data.pulseType = 1; }, "TRIG:TYP?", "SUP", 0},
        {[] { data.pulseType = 2; }, "TRIG:TYP?", "INT", 0},
        {[] { data.pulseType = 3; }, "TRIG:SEQ2:TYP?", "OUT", 0},
    });
}

TEST_F(TriggerCommands, HysteresisThreeSetsNoiseRejectAndReadsBackThree)
{
    ASSERT_EQ(run("TRIG:HYST 3").requests, "1:189=1");
    data.noiseRejectCh1 = 1;
    EXPECT_EQ(run("TRIG:HYST?").reply, "3\n\r");
}

TEST_F(TriggerCommands, CouplingQueriesReadFiltersDifferently)
{
    data.trigSource = 0;
    data.qualifSource = 0;
    data.trigCouplingCh1 = 2;  // high-pass filter on
    EXPECT_EQ(run("TRIG:COUP?").reply, "AC\n\r");
    EXPECT_EQ(run("ARM:COUP?").reply, "NONE\n\r");
}

TEST_F(TriggerCommands, SourcesMustBeInstalledChannels)
{
    checkSets({
        {nullptr, "TRIG:SOUR INT1", 0, "1:112=0"},
        {nullptr, "TRIG:SOUR INT2", 0, "1:112=1"},
        {nullptr, "TRIG:SOUR INTERNAL3", 0, "1:112=2"},
        {nullptr, "TRIG:SEQ4:SOUR INT4", 0, "1:112=3"},
        {nullptr, "TRIG:SOUR2 INT4", kErrSuffixOutOfRange, ""},
        {nullptr, "ARM:SOUR INT2", 0, "1:174=1"},
        {nullptr, "ARM:SEQ3:SOUR INTERNAL4", 0, "1:174=3"},
        {nullptr, "ARM:SOUR AINT", kErrSettingsConflict, ""},
        {nullptr, "ARM:SOUR TIM", kErrSettingsConflict, ""},
        {nullptr, "ARM:SEQ2:SOUR INT1", kErrSuffixOutOfRange, ""},
        // The two-channel model has channels 1 and 4.
        {[] { data.hwChannelMask = 9; }, "TRIG:SOUR INT1", 0, "1:112=0"},
        {[] { data.hwChannelMask = 9; }, "TRIG:SOUR INT2", kErrSettingsConflict, ""},
        {[] { data.hwChannelMask = 9; }, "TRIG:SOUR INT3", kErrSettingsConflict, ""},
        {[] { data.hwChannelMask = 9; }, "TRIG:SOUR INT4", 0, "1:112=3"},
        {[] { data.hwChannelMask = 9; }, "ARM:SOUR INTERNAL2", kErrSettingsConflict, ""},
        {[] { data.hwChannelMask = 9; }, "ARM:SOUR INT4", 0, "1:174=3"},
    });
    checkQueries({
        {[] { data.trigSource = 0; }, "TRIG:SOUR?", "INT1", 0},
        {[] { data.trigSource = 2; }, "TRIG:SOUR?", "INT3", 0},
        {[] { data.trigSource = 3; }, "TRIG:SOUR?", "INT4", 0},
        {[] { data.trigSource = 4; }, "TRIG:SOUR?", "INT4", 0},
        {[] { data.qualifSource = 1; }, "ARM:SOUR?", "INT2", 0},
    });
}

TEST_F(TriggerCommands, LevelsConvertThroughTheSourceTrace)
{
    installTraces();
    checkSets({
        // Channel 1: thousandths of 80 V above an offset of 1 V, rounded to nearest.
        {nullptr, "TRIG:LEV 5", 0, "1:113=50"},
        {nullptr, "TRIG:SEQ3:LEV 5.03", 0, "1:113=50"},
        {nullptr, "TRIG:LEV 5.05", 0, "1:113=51"},
        {nullptr, "TRIG:LEV -2.02", 0, "1:113=-38"},
        {nullptr, "TRIG:LEV 80.9", 0, "1:113=999"},
        {nullptr, "TRIG:LEV 81.1", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:LEV -79.1", kErrDataOutOfRange, ""},
        {nullptr, "TRIG:LEV MAX", 0, "1:113=1000"},
        {nullptr, "TRIG:LEV MIN", 0, "1:113=-1000"},
        {[] { data.trigLevelCh1 = 1000; }, "TRIG:LEV UP", kErrDataOutOfRange, ""},
        {[] { data.trigLevelCh1 = 1000; }, "TRIG:LEV DOWN", 0, "1:113=999"},
        {nullptr, "TRIG:LEV DEF", kErrQuery, ""},
        {nullptr, "TRIG:LEV2 5", kErrSuffixOutOfRange, ""},
        {[] { data.trigSource = 4; }, "TRIG:LEV 0", kErrSuffixOutOfRange, ""},
        // Channel 4: 262 codes of 1/32760 V a thousandth.
        {[] { data.trigSource = 3; }, "TRIG:LEV 1", 0, "1:116=125"},
        // ARM: truncated toward zero, on the qualifier's channel.
        {nullptr, "ARM:LEV 5", 0, "1:113=50"},
        {nullptr, "ARM:LEV -2.02", 0, "1:113=-37"},
        {[] { data.qualifSource = 3; }, "ARM:SEQ3:LEV 1", 0, "1:116=125"},
        {[] { data.qualifSource = 3; }, "ARM:SEQ2:LEV 0", kErrSuffixOutOfRange, ""},
        {[] { data.qualifSource = 4; }, "ARM:LEV 0", kErrSettingsConflict, ""},
        {[] { data.trigLevelCh1 = -1000; }, "ARM:LEV DOWN", kErrDataOutOfRange, ""},
    });
    checkQueries({
        // 100 thousandths of 80 V plus 1 V.
        {[] { data.trigLevelCh1 = 100; }, "TRIG:LEV?", "9.00e+00", 0},
        {[] { data.trigLevelCh1 = 100; }, "TRIG:LEV? MAX", "9.00e+00", 0},
        {[] { data.trigLevelCh1 = 100; }, "ARM:SEQ4:LEV?", "9.00e+00", 0},
        {[] { data.trigSource = 3; data.trigLevelCh4 = -500; }, "TRIG:LEV?", "-4.00e+00", 0},
        {[] { data.trigSource = 4; }, "TRIG:LEV?", nullptr, kErrSuffixOutOfRange},
    });
}

} // namespace
