// The acquisition control record: which fields each parameter of each mode sets, the time-base
// and trigger-position arithmetic, the channel masks and the flags.
#include "acquisition/acqctrl.h"

#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "hardware/calibration.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

struct TField {
    const char* name;
    size_t offset;
    size_t size;
};

#define FIELD(f) TField{#f, offsetof(acq_ctrl, f), sizeof(acq_ctrl::f)}
const std::vector<TField>& fields()
{
    static const std::vector<TField> all = {
        FIELD(decimation), FIELD(poweredChannels), FIELD(shownChannels), FIELD(acqChannels),
        FIELD(runStop), FIELD(dispPosition), FIELD(triggerMode), FIELD(dispWidth), FIELD(accumulate),
        FIELD(horizScalePs), FIELD(sensGroup), FIELD(qualifierSource), FIELD(acqMode), FIELD(calStep),
        FIELD(calArg), FIELD(triggerType), FIELD(holdoff), FIELD(triggerDelay), FIELD(triggerEventCount),
        FIELD(triggerT1), FIELD(triggerT2), FIELD(pulseCondition), FIELD(triggerEdge), FIELD(qualifierEdge),
        FIELD(armOption), FIELD(calib), FIELD(pfSource), FIELD(pfDisplay), FIELD(pfBeep), FIELD(pfActive),
        FIELD(powerMode), FIELD(harmonicFreqSel), FIELD(triggerSource), FIELD(averaging), FIELD(postTrigger),
        FIELD(preTrigger), FIELD(acqFlags), FIELD(cycleChannels), FIELD(timeBase), FIELD(triggerOffset),
        FIELD(triggerOffsetFrac), FIELD(averageIndex), FIELD(saveRestartOn), FIELD(transferPhase),
        FIELD(ringStart), FIELD(newSamples), FIELD(readChannels), FIELD(firstTransfer), FIELD(span),
        FIELD(zero), FIELD(probeGain), FIELD(offset), FIELD(meterFactorA), FIELD(meterFactorB),
    };
    return all;
}
#undef FIELD

// A record whose every byte is 0xA5, so that any assignment of a real value shows.
acq_ctrl sentinel()
{
    acq_ctrl r;
    std::memset(&r, 0xA5, sizeof r);
    return r;
}

std::set<std::string> changedFields(const acq_ctrl& before, const acq_ctrl& after)
{
    std::set<std::string> names;
    const auto* a = reinterpret_cast<const unsigned char*>(&before);
    const auto* b = reinterpret_cast<const unsigned char*>(&after);
    for (const TField& f : fields())
        if (std::memcmp(a + f.offset, b + f.offset, f.size) != 0)
            names.insert(f.name);
    return names;
}

std::set<std::string> operator+(std::set<std::string> a, const std::set<std::string>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

const std::set<std::string> kMasks = {"shownChannels", "acqChannels", "acqMode"};
const std::set<std::string> kTemporal = {"dispPosition", "dispWidth",    "timeBase",          "horizScalePs",
                                         "decimation",   "accumulate",   "triggerOffset",     "triggerOffsetFrac",
                                         "preTrigger",   "postTrigger"};
const std::set<std::string> kCorrection = {"span", "zero", "probeGain", "offset"};

class AcqCtrlTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        data.hwChannelMask = 15;
        data.instrumentMode = 16;
        std::memcpy(&cal_, &CalibUsine, sizeof cal_);
    }

    void TearDown() override
    {
        TSetupLinks& l = setupLinks();
        for (TFonction** f : {&l.mathFunctionCh1, &l.mathFunctionCh2, &l.mathFunctionCh3, &l.mathFunctionCh4,
                              &l.powerFunctionA}) {
            delete *f;
            *f = nullptr;
        }
        SimBoardTest::TearDown();
    }

    // A setup in which every field the scope mode copies differs from the sentinel and from its
    // default.
    static void richScopeSetup()
    {
        data.traceMode = 4;
        data.acqRunStop = 1;
        data.userTimeBase = 20;
        data.sweepOffset = -30001;
        data.trigMode = 2;
        data.channelFlags = 0x0103;
        data.traceOnCh1 = 1;
        data.traceOnCh2 = 1;
        data.zoomState = 2;
        data.horizPosition = 1234;
        data.zoomWidth = 10.0f;
        data.repSig = 1;
        data.averageCount = 3;
        data.pulseT2 = 77;
        data.eventCount = 5;
        data.pulseT1 = 9;
        data.trigType = 2;
        data.trigHoldoff = 4444;
        data.trigDelay = 55;
        data.pulseType = 2;
        data.qualifSource = 1;
        data.trigSource = 0;
        data.trigEdgeCh1 = 1;
        data.trigEdgeCh2 = 2;
        data.sensitivityCh1 = 13;
        data.passFailSource = 2;
        data.saveRestart = 1;
        data.passFailDisplay = 1;
        data.passFailBeep = 1;
        data.passFailOn = 1;
        data.passFailRunStop = 1;
    }

    // A function reading exactly the channels of sources (bit 0 = channel 1).
    static TFonction* setMathFunction(TFonction*& link, unsigned short identifier, uint16_t sources)
    {
        std::string text;
        for (int c = 0; c < 4; ++c)
            if (sources & (1u << c))
                text += (text.empty() ? "ch" : "+ch") + std::to_string(c + 1);
        delete link;
        link = new TFonction(identifier, &text[0]);
        EXPECT_EQ(link->VoiesSrc(), sources);
        return link;
    }

    calibration cal_;
};

TEST_F(AcqCtrlTest, IdleModesOnlyMarkTheRecordIdle)
{
    richScopeSetup();
    for (uint16_t mode : {18, 19, 129, 256, 0x8000, 0}) {
        for (uint32_t parameter : {29u, 38u, 3u, 55u, 121u}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " parameter " + std::to_string(parameter));
            data.instrumentMode = mode;
            acq_ctrl r = sentinel();
            const acq_ctrl before = r;
            EXPECT_EQ(affect_par(&data, parameter, &cal_, &r), 0.0);
            EXPECT_EQ(changedFields(before, r), std::set<std::string>{"acqMode"});
            EXPECT_EQ(r.acqMode, 0x8000);
        }
    }
}

// Every row of the scope table sets exactly its fields (plus the channel masks, which every
// parameter recomputes, and the mode).
TEST_F(AcqCtrlTest, ScopeParametersSetExactlyTheirFields)
{
    richScopeSetup();
    const std::set<std::string> complete =
        kMasks + kTemporal + kCorrection +
        std::set<std::string>{"averaging", "averageIndex", "triggerT2", "triggerEventCount", "runStop",
                              "triggerT1", "triggerType", "holdoff", "triggerDelay", "pulseCondition",
                              "qualifierSource", "triggerSource", "triggerMode", "acqFlags", "triggerEdge",
                              "qualifierEdge", "sensGroup", "pfSource", "saveRestartOn", "pfDisplay", "pfBeep",
                              "pfActive"};
    struct Row {
        std::vector<uint32_t> parameters;
        std::set<std::string> fields;
    };
    const std::vector<Row> rows = {
        {{2, 27, 29, 37, 38}, complete},
        {{3}, kMasks + std::set<std::string>{"runStop"}},
        {{5, 13, 61, 70, 71, 72, 73}, kMasks + kTemporal},
        {{7}, kMasks + kTemporal + kCorrection + std::set<std::string>{"runStop", "triggerMode", "acqFlags"}},
        {{32}, kMasks + std::set<std::string>{"holdoff"}},
        {{36}, kMasks + kTemporal + std::set<std::string>{"acqFlags"}},
        {{121}, kMasks + kTemporal + kCorrection + std::set<std::string>{"acqFlags"}},
        {{55, 56, 57, 58}, kMasks + kCorrection + std::set<std::string>{"sensGroup"}},
        {{112}, kMasks + std::set<std::string>{"triggerSource"}},
        {{148}, kMasks + kCorrection + std::set<std::string>{"averaging", "averageIndex"}},
        {{174}, kMasks + std::set<std::string>{"qualifierSource"}},
        {{175}, kMasks + std::set<std::string>{"triggerDelay"}},
        {{176}, kMasks + std::set<std::string>{"triggerEventCount"}},
        {{177}, kMasks + std::set<std::string>{"triggerT1"}},
        {{179}, kMasks + std::set<std::string>{"pulseCondition"}},
        {{180}, kMasks + std::set<std::string>{"triggerType"}},
        {{194}, kMasks + std::set<std::string>{"triggerT2"}},
        {{185}, kMasks + std::set<std::string>{"triggerEdge"}},    // trigSource is channel 1
        {{186}, kMasks + std::set<std::string>{"qualifierEdge"}},  // qualifSource is channel 2
        {{187, 188}, kMasks},
        {{206}, kMasks + std::set<std::string>{"saveRestartOn"}},
        {{212}, kMasks + std::set<std::string>{"pfSource"}},
        {{215}, kMasks + std::set<std::string>{"pfDisplay"}},
        {{216}, kMasks + std::set<std::string>{"pfBeep"}},
        {{218}, kMasks + std::set<std::string>{"pfActive"}},
        {{14, 15, 16, 17, 18, 19, 20, 21, 138, 139, 140, 141}, kMasks + kCorrection},
        {{41}, kMasks + std::set<std::string>{"averageIndex"}},  // the sentinel's averaging is set
        {{0, 4, 8, 66, 219, 221, 300}, kMasks},
    };
    for (const Row& row : rows) {
        for (uint32_t parameter : row.parameters) {
            SCOPED_TRACE("parameter " + std::to_string(parameter));
            acq_ctrl r = sentinel();
            const acq_ctrl before = r;
            affect_par(&data, parameter, &cal_, &r);
            EXPECT_EQ(changedFields(before, r), row.fields);
            EXPECT_EQ(r.acqMode, 16);
        }
    }
}

TEST_F(AcqCtrlTest, ScopeCompleteApplicationValues)
{
    richScopeSetup();
    data.instrumentMode = 17;
    acq_ctrl r{};
    affect_par(&data, 29, &cal_, &r);
    EXPECT_EQ(r.acqMode, 17);
    EXPECT_EQ(r.shownChannels, 0x0103);
    EXPECT_EQ(r.acqChannels, 0x3);
    EXPECT_EQ(r.averaging, 1);
    EXPECT_EQ(r.averageIndex, 3);
    EXPECT_EQ(r.triggerT2, 77u);
    EXPECT_EQ(r.triggerEventCount, 5u);
    EXPECT_EQ(r.runStop, 1);
    EXPECT_EQ(r.triggerT1, 9u);
    EXPECT_EQ(r.triggerType, 2);
    EXPECT_EQ(r.holdoff, 4444u);
    EXPECT_EQ(r.triggerDelay, 55u);
    EXPECT_EQ(r.pulseCondition, 2);
    EXPECT_EQ(r.qualifierSource, 1);
    EXPECT_EQ(r.triggerSource, 0);
    EXPECT_EQ(r.triggerMode, 2);
    EXPECT_EQ(r.triggerEdge, 1);
    EXPECT_EQ(r.qualifierEdge, 2);
    EXPECT_EQ(r.sensGroup[0], 3u);
    EXPECT_EQ(r.sensGroup[1], 1u);
    EXPECT_EQ(r.pfSource, 2);
    EXPECT_EQ(r.saveRestartOn, 1);
    EXPECT_EQ(r.pfDisplay, 1);
    EXPECT_EQ(r.pfBeep, 1);
    EXPECT_EQ(r.pfActive, 1);
    EXPECT_EQ(r.acqFlags, 0x90);  // traceMode 4: bits 0-1 clear; time base 20
    EXPECT_EQ(r.accumulate, 1);
    EXPECT_EQ(r.dispPosition, 1234);
    EXPECT_EQ(r.dispWidth, 10.0f);
    // The factory calibration gives every channel the identity correction.
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(r.span[c], 262080);
        EXPECT_EQ(r.zero[c], 393216);
        EXPECT_EQ(r.offset[c], 0);
        EXPECT_EQ(r.probeGain[c], 1.0);
    }

    // Averaging is off with min/max on; a source without a channel of its own has no edge.
    data.minMax = 1;
    data.trigSource = 4;
    data.qualifSource = 55;
    affect_par(&data, 38, &cal_, &r);
    EXPECT_EQ(r.averaging, 0);
    EXPECT_EQ(r.averageIndex, 0);
    EXPECT_EQ(r.triggerEdge, 0);
    EXPECT_EQ(r.qualifierEdge, 0);
    EXPECT_EQ(r.acqFlags, 0x94);
}

TEST_F(AcqCtrlTest, AveragingAndPassFailFollowTheirOwnParameters)
{
    acq_ctrl r{};
    data.repSig = 1;
    data.averageCount = 2;
    affect_par(&data, 41, &cal_, &r);  // averaging not yet set: index 0
    EXPECT_EQ(r.averageIndex, 0);
    affect_par(&data, 148, &cal_, &r);
    EXPECT_EQ(r.averaging, 1);
    EXPECT_EQ(r.averageIndex, 2);
    data.averageCount = 4;
    affect_par(&data, 41, &cal_, &r);
    EXPECT_EQ(r.averageIndex, 4);

    // passFailOn alone leaves pfActive; 218 and a complete application take it.
    data.passFailRunStop = 1;
    data.passFailOn = 1;
    affect_par(&data, 219, &cal_, &r);
    EXPECT_EQ(r.pfActive, 0);
    affect_par(&data, 218, &cal_, &r);
    EXPECT_EQ(r.pfActive, 1);
    data.passFailOn = 0;
    affect_par(&data, 219, &cal_, &r);
    EXPECT_EQ(r.pfActive, 1);
    affect_par(&data, 29, &cal_, &r);
    EXPECT_EQ(r.pfActive, 0);
}

TEST_F(AcqCtrlTest, TriggerPositionAndTimeBase)
{
    struct Case {
        int16_t timeBase;
        int32_t sweepOffset;
        uint16_t decimation;
        int32_t triggerOffset, triggerOffsetFrac;
        uint32_t preTrigger, postTrigger;
    };
    for (const Case& c : std::vector<Case>{
             {15, -50000, 1, -50000, 0, 50000, 50000},  // the default
             {17, 0, 1, 0, 0, 0, 102400},               // equivalent time, trigger at the start
             {12, 1001, 1, 125, 128, 0, 103401},        // divisor 8 without decimation
             {0, 160500, 1, 2, 6, 0, 262900},           // divisor 80000
             {20, -50003, 8, -6250, -384, 50003, 49997},
             {20, 50003, 8, 6250, 384, 0, 150003},
             {25, 1000, 1, 1000, 0, 0, 101000},
             {34, -100000, 1, -100000, 0, 100000, 0},
         }) {
        SCOPED_TRACE("time base " + std::to_string(c.timeBase) + " offset " + std::to_string(c.sweepOffset));
        data.userTimeBase = c.timeBase;
        data.timeBaseIndex = 3;  // the displayed time base plays no part
        data.sweepOffset = c.sweepOffset;
        acq_ctrl r{};
        ParametresTemporels(&data, &r);
        EXPECT_EQ(r.timeBase, c.timeBase);
        EXPECT_EQ(r.decimation, c.decimation);
        EXPECT_EQ(r.triggerOffset, c.triggerOffset);
        EXPECT_EQ(r.triggerOffsetFrac, c.triggerOffsetFrac);
        EXPECT_EQ(r.preTrigger, c.preTrigger);
        EXPECT_EQ(r.postTrigger, c.postTrigger);
    }

    // Single-precision quotients: 40, 20, 8, 4, 2, 1 and 0.4 -> 1.
    const uint16_t decimations[] = {40, 20, 8, 4, 2, 1, 1};
    for (int16_t tb = 18; tb <= 24; ++tb) {
        data.userTimeBase = tb;
        acq_ctrl r{};
        ParametresTemporels(&data, &r);
        EXPECT_EQ(r.decimation, decimations[tb - 18]) << "time base " << tb;
    }

    // Picoseconds per point from the single-precision table; the slow end saturates.
    const std::vector<std::pair<int16_t, int32_t>> scales = {
        {0, 0}, {3, 1}, {15, 10000}, {23, 4000000}, {30, 1000000064}, {32, std::numeric_limits<int32_t>::max()},
        {34, std::numeric_limits<int32_t>::max()}};
    for (const auto& s : scales) {
        data.userTimeBase = s.first;
        acq_ctrl r{};
        ParametresTemporels(&data, &r);
        EXPECT_EQ(r.horizScalePs, s.second) << "time base " << s.first;
    }
}

TEST_F(AcqCtrlTest, ZoomWindowOnlyInTheZoomedTimeDisplay)
{
    data.horizPosition = 5000;
    data.zoomWidth = 4.0f;
    struct Case {
        int16_t traceFormat, zoomState;
        bool zoomed;
    };
    for (const Case& c : std::vector<Case>{{0, 2, true}, {0, 1, false}, {1, 2, false}, {2, 2, false}, {3, 2, true}}) {
        data.traceFormat = c.traceFormat;
        data.zoomState = c.zoomState;
        acq_ctrl r{};
        ParametresTemporels(&data, &r);
        EXPECT_EQ(r.dispPosition, c.zoomed ? 5000 : 0) << c.traceFormat << "/" << c.zoomState;
        EXPECT_EQ(r.dispWidth, c.zoomed ? 4.0f : 40.0f) << c.traceFormat << "/" << c.zoomState;
    }
}

TEST_F(AcqCtrlTest, ScopeAcqFlagsByTimeBaseRange)
{
    struct Case {
        int16_t traceMode, minMax, timeBase, trigMode;
        uint16_t flags;
    };
    for (const Case& c : std::vector<Case>{
             {1, 0, 15, 0, 0x21},
             {2, 1, 17, 2, 0x26},
             {3, 0, 18, 2, 0x93},
             {0, 0, 24, 1, 0x90},
             {1, 0, 25, 0, 0x81},
             {1, 0, 25, 1, 0x81},
             {1, 0, 25, 2, 0xC1},
             {4, 1, 34, 2, 0xC4},
         }) {
        data.traceMode = c.traceMode;
        data.minMax = c.minMax;
        data.userTimeBase = c.timeBase;
        data.trigMode = c.trigMode;
        for (uint32_t parameter : {29u, 7u, 121u}) {
            acq_ctrl r{};
            affect_par(&data, parameter, &cal_, &r);
            EXPECT_EQ(r.acqFlags, c.flags) << "time base " << c.timeBase << " parameter " << parameter;
        }
    }
}

TEST_F(AcqCtrlTest, SensitivityGroups)
{
    const uint32_t groups[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2, 2, 3, 3, 3};
    for (int16_t s = 0; s < 16; ++s) {
        EXPECT_EQ(sensGroupOf(s), groups[s]);
        data.sensitivityCh3 = s;
        acq_ctrl r{};
        affect_par(&data, 57, &cal_, &r);
        EXPECT_EQ(r.sensGroup[2], groups[s]) << "sensitivity " << s;
        EXPECT_EQ(r.sensGroup[0], 0u);  // only the changed channel
    }
}

TEST_F(AcqCtrlTest, ScopeChannelMasks)
{
    // Two-channel model: only installed channels are acquired.
    data.hwChannelMask = 9;
    data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = 1;
    data.channelFlags = 0xE007;
    acq_ctrl r{};
    affect_par(&data, 8, &cal_, &r);
    EXPECT_EQ(r.shownChannels, 0x0007);
    EXPECT_EQ(r.acqChannels, 0x1);

    // A displayed math function acquires its sources, except one that shows a memory, even when
    // its own display is off; the math channel itself is not acquired.
    data.hwChannelMask = 15;
    data.traceOnCh1 = 0;
    data.traceOnCh3 = 0;
    data.channelFlags = 0x0402;
    setMathFunction(setupLinks().mathFunctionCh2, 2, 0x5);
    affect_par(&data, 29, &cal_, &r);
    EXPECT_EQ(r.shownChannels, 0x0402);
    EXPECT_EQ(r.acqChannels, 0x1);

    // Without the memory the sources are acquired.
    data.channelFlags = 0x0002;
    setMathFunction(setupLinks().mathFunctionCh2, 2, 0xC);
    affect_par(&data, 8, &cal_, &r);
    EXPECT_EQ(r.acqChannels, 0xC);
}

TEST_F(AcqCtrlTest, HarmonicMode)
{
    data.instrumentMode = 64;
    data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh4 = 1;
    data.hwChannelMask = 0xB;  // channel 3 absent
    setMathFunction(setupLinks().mathFunctionCh2, 2, 0x1);
    data.acqRunStop = 1;
    data.averageCount = 2;
    data.harmonicFreq = 1;
    data.sweepOffset = 777;

    acq_ctrl r = sentinel();
    affect_par(&data, 29, &cal_, &r);
    EXPECT_EQ(r.acqMode, 64);
    EXPECT_EQ(r.acqChannels, 0x9);
    EXPECT_EQ(r.shownChannels, 0x9);
    EXPECT_EQ(r.runStop, 1);
    EXPECT_EQ(r.averageIndex, 2);
    EXPECT_EQ(r.triggerOffset, 0);
    EXPECT_EQ(r.preTrigger, 0u);
    EXPECT_EQ(r.triggerSource, 0);
    EXPECT_EQ(r.accumulate, 0);
    EXPECT_EQ(r.dispPosition, 0);
    EXPECT_EQ(r.triggerOffsetFrac, 0);
    EXPECT_EQ(r.triggerEdge, 0);
    EXPECT_EQ(r.qualifierEdge, 0);
    EXPECT_EQ(r.dispWidth, 1.0f);
    EXPECT_EQ(r.postTrigger, 2500u);
    EXPECT_EQ(r.timeBase, 23);
    EXPECT_EQ(r.decimation, 1);
    EXPECT_EQ(r.triggerMode, 1);
    EXPECT_EQ(r.acqFlags, 0x181);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(r.sensGroup[c], 3u);
        EXPECT_EQ(r.span[c], 262080);
    }
    EXPECT_EQ(r.powerMode, 0);
    EXPECT_EQ(r.harmonicFreqSel, 1);

    // Power mode acquires the sources of the first power function; shown channels stay.
    data.harmPower = 1;
    setMathFunction(setupLinks().powerFunctionA, 8192, 0x3);
    affect_par(&data, 198, &cal_, &r);
    EXPECT_EQ(r.powerMode, 1);
    EXPECT_EQ(r.acqChannels, 0x3);
    EXPECT_EQ(r.shownChannels, 0x9);

    // Single-field rows; a scope-only parameter touches only the masks.
    const acq_ctrl before = r;
    data.harmonicFreq = 2;
    data.averageCount = 4;
    affect_par(&data, 112, &cal_, &r);
    // Any other parameter recomputes the displayed-channel mask.
    EXPECT_EQ(changedFields(before, r), std::set<std::string>{"acqChannels"});
    affect_par(&data, 202, &cal_, &r);
    EXPECT_EQ(r.harmonicFreqSel, 2);
    affect_par(&data, 41, &cal_, &r);
    EXPECT_EQ(r.averageIndex, 4);
}

TEST_F(AcqCtrlTest, MeterAndCapacitanceModes)
{
    data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = data.traceOnCh4 = 1;
    data.acqRunStop = 1;
    data.capaRange = 7;
    struct Case {
        uint16_t mode;
        int16_t function;
        uint16_t channels, flags, timeBase, triggerMode;
    };
    for (const Case& c : std::vector<Case>{
             {128, 0, 0xF, 0x281, 21, 0},  // voltmeter
             {130, 1, 0xF, 0x281, 21, 0},  // resistance
             {128, 2, 0x1, 0x283, 21, 0},  // continuity
             {128, 4, 0x1, 0x281, 21, 0},  // diode
             {128, 3, 0x1, 0x282, 27, 1},  // capacitance: time base of range 7
         }) {
        for (uint32_t parameter : {29u, 38u, 151u}) {
            SCOPED_TRACE("function " + std::to_string(c.function) + " parameter " + std::to_string(parameter));
            data.instrumentMode = c.mode;
            data.meterFunction = c.function;
            acq_ctrl r = sentinel();
            affect_par(&data, parameter, &cal_, &r);
            EXPECT_EQ(r.acqMode, 128);
            EXPECT_EQ(r.acqChannels, c.channels);
            EXPECT_EQ(r.shownChannels, c.channels);
            EXPECT_EQ(r.acqFlags, c.flags);
            EXPECT_EQ(r.timeBase, c.timeBase);
            EXPECT_EQ(r.triggerMode, c.triggerMode);
            EXPECT_EQ(r.runStop, 1);
            EXPECT_EQ(r.dispWidth, 1.0f);
            EXPECT_EQ(r.postTrigger, 2500u);
            EXPECT_EQ(r.decimation, 1);
            EXPECT_EQ(r.triggerOffset, 0);
            EXPECT_EQ(r.preTrigger, 0u);
            EXPECT_EQ(r.averageIndex, 0);
            EXPECT_EQ(r.triggerEdge, 0);
            EXPECT_EQ(r.qualifierEdge, 0);
            for (int ch = 0; ch < 4; ++ch) {
                EXPECT_EQ(r.sensGroup[ch], 3u);
                EXPECT_EQ(r.span[ch], 262080);
                EXPECT_EQ(r.zero[ch], 393216);
            }
        }
    }

    // The capacitance range alone moves the time base and recomputes the correction.
    data.instrumentMode = 128;
    data.meterFunction = 3;
    data.capaRange = 2;
    acq_ctrl r = sentinel();
    affect_par(&data, 165, &cal_, &r);
    EXPECT_EQ(r.timeBase, 21);
    EXPECT_EQ(r.span[0], 262080);
    // A capacitance range without a row keeps the time base.
    data.capaRange = 9;
    affect_par(&data, 165, &cal_, &r);
    EXPECT_EQ(r.timeBase, 21);
}

TEST_F(AcqCtrlTest, MeterCorrectionOnlyWithACalibrationRecord)
{
    data.instrumentMode = 128;
    data.traceOnCh1 = 1;
    for (uint32_t parameter : {29u, 153u, 164u}) {
        acq_ctrl r = sentinel();
        const acq_ctrl before = r;
        affect_par(&data, parameter, nullptr, &r);
        const std::set<std::string> changed = changedFields(before, r);
        for (const char* f : {"span", "zero", "offset", "probeGain", "meterFactorA", "meterFactorB"})
            EXPECT_EQ(changed.count(f), 0u) << f << " parameter " << parameter;

        affect_par(&data, parameter, &cal_, &r);
        EXPECT_EQ(r.span[0], 262080) << parameter;
        EXPECT_EQ(r.meterFactorA[0], 1.0) << parameter;
    }
}

} // namespace
