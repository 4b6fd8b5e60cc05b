// The acquisition control thread's decisions, case by case, without threads.
#include "acquisition/acquisit_rules.h"

#include "core/requests.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TAcqRuleFields scope(uint16_t channelFlags)
{
    TAcqRuleFields f;
    f.channelFlags = channelFlags;
    f.instrumentMode = 16;
    return f;
}

std::vector<uint32_t> walk(uint32_t actions)
{
    uint32_t visited[6];
    const int n = acqActionWalk(actions, visited);
    return std::vector<uint32_t>(visited, visited + n);
}

TEST(AcquisitRules, OrdersCollapseOnCodeMaskAndActionsWhateverTheSender)
{
    const TLongArray current{10, 2, 2, 111};
    EXPECT_TRUE(acqSameOrder(current, TLongArray{10, 2, 2, 111}));
    EXPECT_TRUE(acqSameOrder(current, TLongArray{10, 2, 2, 999}));
    EXPECT_FALSE(acqSameOrder(current, TLongArray{11, 2, 2, 111}));
    EXPECT_FALSE(acqSameOrder(current, TLongArray{10, 3, 2, 111}));
    EXPECT_FALSE(acqSameOrder(current, TLongArray{10, 2, 8, 111}));
}

TEST(AcquisitRules, WalkGoesFromTheHighestSetBitDownToOne)
{
    EXPECT_EQ(walk(0x30), (std::vector<uint32_t>{32, 16, 8, 4, 2, 1}));
    EXPECT_EQ(walk(0x05), (std::vector<uint32_t>{4, 2, 1}));
    EXPECT_EQ(walk(1), (std::vector<uint32_t>{1}));
    EXPECT_EQ(walk(0), std::vector<uint32_t>{});
    EXPECT_EQ(walk(0x40), std::vector<uint32_t>{});  // outside 0x3F
}

TEST(AcquisitRules, ReapplicationByCode)
{
    struct Row {
        int32_t code;
        int16_t runStop;
        bool stop, programFE;
    };
    const Row rows[] = {
        {3, 1, true, false}, {3, 0, false, false}, {7, 0, false, false},   {24, 0, false, false},
        {25, 0, false, false}, {39, 0, false, false}, {90, 0, false, false}, {91, 0, false, false},
        {10, 0, true, true},   {73, 1, true, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        const TAcqReapply a = acqReapply(r.code, r.runStop);
        EXPECT_EQ(a.stop, r.stop);
        EXPECT_EQ(a.programFE, r.programFE);
    }
}

TEST(AcquisitRules, StepsOfTheWalk)
{
    const TAcqRuleFields f = scope(0x10B);  // live 1, 2, 4; channel 1 shows a memory
    TAcqStep s = acqActionStep(32, true, 10, 0x1FFF, f);
    EXPECT_TRUE(s.restartSet);
    EXPECT_EQ(s.restart, 0x10Bu);
    EXPECT_EQ(s.scopeCommands, 1);
    EXPECT_EQ(s.clear, 0xE0Fu);

    s = acqActionStep(16, true, 10, 0x3, f);
    EXPECT_EQ(s.restart, 0x3u);
    EXPECT_EQ(s.clear, 0u);

    s = acqActionStep(8, true, 73, 0xF, f);
    EXPECT_TRUE(s.redrawOnly);
    EXPECT_EQ(s.clear, 0u);
    EXPECT_TRUE(acqActionStep(8, true, 99, 0xF, f).redrawOnly);
    EXPECT_EQ(acqActionStep(8, true, 41, 0xF, f).clear, 0xF0Fu);
    EXPECT_EQ(acqActionStep(8, true, 148, 0xF, f).clear, 0xF0Fu);
    EXPECT_EQ(acqActionStep(8, true, 40, 0xF, f).clear, 0u);

    TAcqRuleFields pf = f;
    pf.passFailOn = 1;
    EXPECT_EQ(acqActionStep(2, true, 200, 0x2, pf).restart, 0x1002u);

    s = acqActionStep(1, true, 127, 2, f);
    EXPECT_TRUE(s.calibration);
    EXPECT_FALSE(s.programAll);
    EXPECT_FALSE(s.restartSet);
    s = acqActionStep(1, true, 5, 2, f);
    EXPECT_TRUE(s.programAll);
    EXPECT_FALSE(s.calibration);

    // Visited but not set, and bit 4: nothing at all.
    for (uint32_t bit : {32u, 16u, 8u, 4u, 2u, 1u}) {
        s = acqActionStep(bit, bit == 4, 41, 0x1FFF, f);
        EXPECT_FALSE(s.restartSet);
        EXPECT_EQ(s.clear, 0u);
        EXPECT_EQ(s.scopeCommands, 0);
        EXPECT_FALSE(s.calibration || s.programAll || s.redrawOnly);
    }
}

// Every row of both clear tables of action 2, and the reduction.
TEST(AcquisitRules, ClearOfAction2)
{
    struct Row {
        const char* what;
        int32_t code;
        uint16_t cf;
        uint16_t mode;
        int16_t runStop;
        uint16_t mathDefined;
        uint16_t sources[4];
        uint32_t clear;
        int scope;
    };
    const Row rows[] = {
        {"3 running: shown plain channels", 3, 0x003, 16, 0, 0, {}, 0xF03, 0},
        {"7 running: a math channel of time only is kept", 7, 0x003, 16, 0, 2, {0, 0, 0, 0}, 0xF01, 0},
        {"3 running: a math channel reading a cleared channel is cleared too", 3, 0x00F, 16, 0, 2, {0, 4, 0, 0}, 0xF0F, 0},
        {"3 running, meter mode", 3, 0x003, 128, 0, 0, {}, 0xF00, 0},
        {"3 held", 3, 0x003, 16, 1, 0, {}, 0xF00, 0},
        {"7 held", 7, 0x00F, 16, 1, 0, {}, 0xF00, 0},
        {"15", 15, 0x00F, 16, 0, 0, {}, 0x001, 1},
        {"138", 138, 0x00F, 16, 0, 0, {}, 0x001, 1},
        {"152", 152, 0x00F, 16, 0, 0, {}, 0xF01, 0},
        {"153", 153, 0x00F, 16, 0, 0, {}, 0xF01, 0},
        {"164", 164, 0x00F, 16, 0, 0, {}, 0xF01, 0},
        {"165", 165, 0x00F, 16, 0, 0, {}, 0xF01, 0},
        {"17", 17, 0x00F, 16, 0, 0, {}, 0x002, 1},
        {"139", 139, 0x00F, 16, 0, 0, {}, 0x002, 1},
        {"155", 155, 0x00F, 16, 0, 0, {}, 0xF02, 0},
        {"156", 156, 0x00F, 16, 0, 0, {}, 0xF02, 0},
        {"19", 19, 0x00F, 16, 0, 0, {}, 0x004, 1},
        {"140", 140, 0x00F, 16, 0, 0, {}, 0x004, 1},
        {"158", 158, 0x00F, 16, 0, 0, {}, 0xF04, 0},
        {"159", 159, 0x00F, 16, 0, 0, {}, 0xF04, 0},
        {"21", 21, 0x00F, 16, 0, 0, {}, 0x008, 1},
        {"141", 141, 0x00F, 16, 0, 0, {}, 0x008, 1},
        {"161", 161, 0x00F, 16, 0, 0, {}, 0xF08, 0},
        {"162", 162, 0x00F, 16, 0, 0, {}, 0xF08, 0},
        {"55 outside mode 19", 55, 0x003, 16, 0, 0, {}, 0x000, 1},
        {"55 in mode 19", 55, 0x003, 19, 0, 0, {}, 0x303, 1},
        {"56 in mode 19", 56, 0x005, 19, 0, 0, {}, 0x505, 1},
        {"58", 58, 0x005, 16, 0, 0, {}, 0x000, 1},
        {"15 in mode 19", 15, 0x003, 19, 0, 0, {}, 0x303, 1},
        {"5 / 13 / 32 in mode 19", 32, 0x008, 19, 0, 0, {}, 0x808, 1},
        {"112", 112, 0x00F, 16, 0, 0, {}, 0x000, 1},
        {"185", 185, 0x00F, 16, 0, 0, {}, 0x000, 1},
        {"198", 198, 0x00F, 16, 0, 0, {}, 0x000, 1},
        {"121: live channels and those without a memory", 121, 0x10F, 16, 0, 0, {}, 0xE0F, 1},
        {"212", 212, 0x20F, 16, 0, 0, {}, 0xD00, 0},
        {"214", 214, 0x20F, 16, 0, 0, {}, 0xD00, 0},
        {"219", 219, 0x00F, 16, 0, 0, {}, 0xF00, 0},
        {"9", 9, 0x00F, 16, 0, 0, {}, 0x000, 1},
        {"12", 12, 0x00F, 16, 0, 0, {}, 0x000, 1},
        {"14: every unshown trace, cut to 0xF0F", 14, 0x00F, 16, 0, 0, {}, 0xF00, 1},
        {"20", 20, 0x103, 16, 0, 0, {}, 0xE0C, 1},
        {"38", 38, 0x00F, 16, 0, 0, {}, 0x000, 1},
        {"134", 134, 0x00F, 16, 0, 0, {}, 0x000, 0},
        {"137", 137, 0x00F, 16, 0, 0, {}, 0x000, 0},
        {"any other", 200, 0x30F, 16, 0, 0, {}, 0xC00, 0},
        {"reduction: channel 1 reads channel 2, which is kept", 15, 0x00F, 16, 0, 1, {2, 0, 0, 0}, 0x000, 1},
        {"reduction: channel 1 reads itself", 152, 0x00F, 16, 0, 1, {1, 0, 0, 0}, 0xF01, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TAcqRuleFields f = scope(r.cf);
        f.instrumentMode = r.mode;
        f.acqRunStop = r.runStop;
        f.mathDefined = r.mathDefined;
        for (int n = 0; n < 4; ++n)
            f.mathSources[n] = r.sources[n];
        int scopeCommands = 0;
        EXPECT_EQ(acqClearAction2(r.code, f, &scopeCommands), r.clear);
        EXPECT_EQ(scopeCommands, r.scope);
    }
}

TEST(AcquisitRules, PassFailSourceIsNeverReprocessedAndClearedWhileRunning)
{
    struct Row {
        uint16_t mode;
        int16_t on, runStopFlag, runStop;
        uint32_t restart, clear;
    };
    const Row rows[] = {
        {16, 1, 1, 0, 0x1009, 0x4},  // source channel 2 (bit 2)
        {16, 1, 1, 1, 0x1009, 0x0},
        {16, 1, 0, 0, 0x100D, 0x0},
        {16, 0, 1, 0, 0x100D, 0x0},
        {17, 1, 1, 0, 0x100D, 0x0},
    };
    for (const Row& r : rows) {
        TAcqRuleFields f = scope(0xF);
        f.instrumentMode = r.mode;
        f.passFailOn = r.on;
        f.passFailRunStop = r.runStopFlag;
        f.acqRunStop = r.runStop;
        f.passFailSource = 2;
        uint32_t restart = 0x100D;
        uint32_t clear = 0;
        acqPassFailAdjust(f, &restart, &clear);
        EXPECT_EQ(restart, r.restart);
        EXPECT_EQ(clear, r.clear);
    }
}

TEST(AcquisitRules, PowerTraceAndClearing)
{
    TAcqRuleFields f = scope(0xF);
    f.powerSources = 0x6;
    EXPECT_TRUE(acqPowerTraceReset(f, 0x2));
    EXPECT_FALSE(acqPowerTraceReset(f, 0x9));
    f.instrumentMode = 256;
    EXPECT_FALSE(acqPowerTraceReset(f, 0x2));

    // A channel is cleared with both its bits; never while it shows a memory.
    EXPECT_EQ(acqClearing(0x0F0F, 0x000F).channels, 0xF);
    EXPECT_EQ(acqClearing(0x0F01, 0x000F).channels, 0x1);
    EXPECT_EQ(acqClearing(0x000F, 0x000F).channels, 0x0);
    EXPECT_EQ(acqClearing(0x0F0F, 0x050F).channels, 0xA);
    EXPECT_TRUE(acqClearing(0x1000, 0xF).maskTrace);
    EXPECT_FALSE(acqClearing(0x1010, 0xF).maskTrace);
    EXPECT_FALSE(acqClearing(0x0F0F, 0xF).maskTrace);
}

// Whatever the order, a channel showing a memory trace keeps it.
TEST(AcquisitRules, MemoryTracesAreNeverCleared)
{
    for (uint16_t memories = 1; memories < 16; ++memories) {
        for (uint16_t mode : {16, 19}) {
            TAcqRuleFields f = scope(static_cast<uint16_t>(0xF | (memories << 8)));
            f.instrumentMode = mode;
            f.passFailOn = f.passFailRunStop = 1;
            for (int32_t code = 0; code < 256; ++code) {
                for (uint32_t bit : {32u, 16u, 8u, 4u, 2u, 1u}) {
                    const TAcqStep s = acqActionStep(bit, true, code, 0x1FFF, f);
                    uint32_t restart = s.restart;
                    uint32_t clear = s.clear;
                    acqPassFailAdjust(f, &restart, &clear);
                    ASSERT_EQ(acqClearing(clear, f.channelFlags).channels & memories, 0)
                        << "code " << code << " bit " << bit << " memories " << memories;
                }
            }
        }
    }
}

TEST(AcquisitRules, HowAnOrderEnds)
{
    COMM_id = static_cast<pthread_t>(0xC0);
    const TLongArray fromController{10, 0xF, 2, senderValue(COMM_id)};
    const TLongArray fromElsewhere{10, 0xF, 2, 8};
    struct Row {
        const char* what;
        uint32_t restart;
        const TLongArray* order;
        bool boxEmpty, redraw;
        uint16_t mode, cf;
        int16_t meterFunction;
        TAcqFinish action;
        uint32_t kept;
        uint16_t flags;
        bool reply, power;
    };
    const TLongArray codeZero{0, 0xF, 2, senderValue(COMM_id)};
    const Row rows[] = {
        {"nothing to re-process: reply shown channels", 0, &fromController, true, false, 16, 0xF, 0, TAcqFinish::ReplyShown, 0, 0, false, false},
        {"not the controller's: silent", 0, &fromElsewhere, true, false, 16, 0xF, 0, TAcqFinish::Nothing, 0, 0, false, false},
        {"restart of hidden channels only counts as none", 0x30, &fromController, true, false, 16, 0xF, 0, TAcqFinish::ReplyShown, 0, 0, false, false},
        {"another order waits", 0x3, &fromController, false, false, 16, 0xF, 0, TAcqFinish::Deferred, 0x3, 0, false, false},
        {"scope redraw", 0x3, &fromController, true, true, 16, 0xF, 0, TAcqFinish::Scope, 0x3, 254, false, false},
        {"scope", 0x1003, &fromController, true, false, 19, 0xF, 0, TAcqFinish::Scope, 0x1003, 255, false, false},
        {"redraw outside the scope modes", 0x3, &fromController, true, true, 64, 0xF, 0, TAcqFinish::Reply, 0x3, 255, true, false},
        {"meter, code 0", 0x3, &codeZero, true, false, 130, 0xF, 0, TAcqFinish::Reply, 0x3, 255, false, false},
        {"idle mode always replies", 0x3, &codeZero, true, false, 0x8000, 0xF, 0, TAcqFinish::Reply, 0x3, 255, true, false},
        {"viewer with a power function", 0x3, &fromController, true, false, 256, 0xF, 9, TAcqFinish::ViewerCopy, 0x3, 255, true, true},
        {"viewer, code 0", 0x3, &codeZero, true, false, 256, 0xF, 3, TAcqFinish::ViewerCopy, 0x3, 255, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TAcqRuleFields f = scope(r.cf);
        f.instrumentMode = r.mode;
        f.meterFunction = r.meterFunction;
        const TAcqFinishPlan p = acqFinishDecision(r.restart, *r.order, r.boxEmpty, r.redraw, f);
        EXPECT_EQ(p.action, r.action);
        EXPECT_EQ(p.restart, r.kept);
        if (r.action != TAcqFinish::ReplyShown && r.action != TAcqFinish::Nothing && r.action != TAcqFinish::Deferred) {
            EXPECT_EQ(p.acqFlags, r.flags);
        }
        EXPECT_EQ(p.reply, r.reply);
        EXPECT_EQ(p.powerCopy, r.power);
    }
}

} // namespace
