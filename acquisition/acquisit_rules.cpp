#include "acquisition/acquisit_rules.h"

#include "acquisition/TFonction.h"
#include "core/command.h"
#include "core/gest_db.h"

#include <cstddef>

namespace {

constexpr uint32_t kMemoryBits = 0xF00;

uint16_t sourcesOf(TFonction* function)
{
    return (function != nullptr && function->IsDefined()) ? function->VoiesSrc() : 0;
}

// First clear table of action 2: the clear word by code, before the second table.
enum class TClearRule : uint8_t {
    RunStateMath,  // running: displayed channels whose math function is undefined or reads channels
    One,
    Two,
    Four,
    Eight,
    OneInMode19,
    LiveAndNoMemory,  // 0xF | channels without a memory trace; sends the scope command
    NoMemory,         // channels without a memory trace
    Zero,
};
struct TClearRow {
    int16_t first;
    int16_t last;
    TClearRule rule;
};
constexpr TClearRow kFirstClearTable[] = {
    {3, 3, TClearRule::RunStateMath},     {7, 7, TClearRule::RunStateMath},
    {15, 15, TClearRule::One},            {138, 138, TClearRule::One},
    {152, 153, TClearRule::One},          {164, 165, TClearRule::One},
    {17, 17, TClearRule::Two},            {139, 139, TClearRule::Two},
    {155, 156, TClearRule::Two},          {19, 19, TClearRule::Four},
    {140, 140, TClearRule::Four},         {158, 159, TClearRule::Four},
    {21, 21, TClearRule::Eight},          {141, 141, TClearRule::Eight},
    {161, 162, TClearRule::Eight},        {55, 55, TClearRule::OneInMode19},
    {56, 58, TClearRule::Zero},           {121, 121, TClearRule::LiveAndNoMemory},
    {212, 214, TClearRule::NoMemory},     {219, 219, TClearRule::NoMemory},
};

// Second table: hardware and the final touch of the clear word, by code.
enum class TClearEffect : uint8_t {
    Mode19Shown,      // mode 19: every shown live channel with its memory bit; scope command
    Scope,            // scope command
    ScopeAndUnshown,  // scope command; clear |= channels not shown (0x1FFF)
    FirstTable,       // as the first table (121)
    Nothing,
    Unshown,          // any other code: clear |= channels without a memory trace
};
struct TEffectRow {
    int16_t first;
    int16_t last;
    TClearEffect effect;
};
constexpr TEffectRow kSecondClearTable[] = {
    {5, 5, TClearEffect::Mode19Shown},        {13, 13, TClearEffect::Mode19Shown},
    {15, 15, TClearEffect::Mode19Shown},      {17, 17, TClearEffect::Mode19Shown},
    {19, 19, TClearEffect::Mode19Shown},      {21, 21, TClearEffect::Mode19Shown},
    {32, 32, TClearEffect::Mode19Shown},      {36, 36, TClearEffect::Mode19Shown},
    {55, 58, TClearEffect::Mode19Shown},      {61, 61, TClearEffect::Mode19Shown},
    {71, 71, TClearEffect::Mode19Shown},      {94, 94, TClearEffect::Mode19Shown},
    {101, 101, TClearEffect::Mode19Shown},    {112, 116, TClearEffect::Mode19Shown},
    {138, 141, TClearEffect::Mode19Shown},    {174, 177, TClearEffect::Mode19Shown},
    {179, 192, TClearEffect::Mode19Shown},    {194, 194, TClearEffect::Mode19Shown},
    {198, 198, TClearEffect::Mode19Shown},    {9, 12, TClearEffect::Scope},
    {14, 14, TClearEffect::ScopeAndUnshown},  {16, 16, TClearEffect::ScopeAndUnshown},
    {18, 18, TClearEffect::ScopeAndUnshown},  {20, 20, TClearEffect::ScopeAndUnshown},
    {38, 38, TClearEffect::Scope},            {121, 121, TClearEffect::FirstTable},
    {134, 137, TClearEffect::Nothing},
};

template <typename Row, size_t N>
const Row* findRow(const Row (&table)[N], int32_t code)
{
    for (const Row& row : table)
        if (code >= row.first && code <= row.last)
            return &row;
    return nullptr;
}

uint32_t firstTableClear(TClearRule rule, const TAcqRuleFields& f, int* scope)
{
    const uint32_t cf = f.channelFlags;
    switch (rule) {
    case TClearRule::RunStateMath: {
        if (f.acqRunStop != 0 || (f.instrumentMode & 0x80) != 0)
            return 0;
        uint32_t clear = 0;
        for (int n = 0; n < 4; ++n) {
            const bool defined = (f.mathDefined >> n) & 1;
            if ((cf >> n) & 1 && (!defined || f.mathSources[n] != 0))
                clear |= 1u << n;
        }
        return clear;
    }
    case TClearRule::One: return 1;
    case TClearRule::Two: return 2;
    case TClearRule::Four: return 4;
    case TClearRule::Eight: return 8;
    case TClearRule::OneInMode19: return f.instrumentMode == 19 ? 1 : 0;
    case TClearRule::LiveAndNoMemory:
        ++*scope;
        return 0xF | (~cf & kMemoryBits);
    case TClearRule::NoMemory: return ~cf & kMemoryBits;
    case TClearRule::Zero: return 0;
    }
    return 0;
}

} // namespace

TAcqRuleFields acqRuleFields(const database& setup)
{
    TAcqRuleFields f;
    f.channelFlags = setup.channelFlags;
    f.instrumentMode = setup.instrumentMode;
    f.acqRunStop = setup.acqRunStop;
    f.passFailOn = setup.passFailOn;
    f.passFailRunStop = setup.passFailRunStop;
    f.passFailSource = setup.passFailSource;
    f.meterFunction = setup.meterFunction;
    const TSetupLinks& links = setupLinks();
    TFonction* const math[4] = {links.mathFunctionCh1, links.mathFunctionCh2, links.mathFunctionCh3,
                                links.mathFunctionCh4};
    for (int n = 0; n < 4; ++n) {
        if (math[n] != nullptr && math[n]->IsDefined()) {
            f.mathDefined |= static_cast<uint16_t>(1u << n);
            f.mathSources[n] = math[n]->VoiesSrc();
        }
    }
    f.powerSources = static_cast<uint16_t>(sourcesOf(links.powerFunctionA) | sourcesOf(links.powerFunctionB));
    return f;
}

bool acqSameOrder(const TLongArray& current, const TLongArray& next)
{
    return current.code == next.code && current.channelMask == next.channelMask
        && current.actionBits == next.actionBits;
}

TAcqReapply acqReapply(int32_t code, int16_t acqRunStopNow)
{
    TAcqReapply r;
    switch (code) {
    case 3:
        r.stop = acqRunStopNow == 1;
        break;
    case 7: case 24: case 25: case 39: case 90: case 91:
        break;
    default:
        r.stop = true;
        r.programFE = true;
        break;
    }
    return r;
}

int acqActionWalk(uint32_t actions, uint32_t visited[6])
{
    actions &= 0x3F;
    uint32_t bit = 32;
    while (bit != 0 && !(actions & bit))
        bit >>= 1;
    int count = 0;
    for (; bit != 0; bit >>= 1)
        visited[count++] = bit;
    return count;
}

TAcqStep acqActionStep(uint32_t bit, bool bitSet, int32_t code, uint32_t mask, const TAcqRuleFields& f)
{
    TAcqStep s;
    if (!bitSet)
        return s;
    const uint32_t cf = f.channelFlags;
    switch (bit) {
    case 32:
        s.restartSet = true;
        s.restart = mask & cf;
        s.scopeCommands = 1;
        s.clear = (~cf & kMemoryBits) | 0xF;
        break;
    case 16:
        s.restartSet = true;
        s.restart = mask & cf;
        break;
    case 8:
        s.restartSet = true;
        s.restart = mask & cf;
        if (code == 73 || code == 99)
            s.redrawOnly = true;
        else if (code == 41 || code == 148)
            s.clear = 0xF0F;
        break;
    case 2:
        s.restartSet = true;
        s.restart = (f.passFailOn != 0 ? 0x1000u : 0u) | (mask & cf);
        s.clear = acqClearAction2(code, f, &s.scopeCommands);
        break;
    case 1:
        if (code == 127)
            s.calibration = true;
        else
            s.programAll = true;
        break;
    default:  // 4: nothing
        break;
    }
    return s;
}

uint32_t acqClearAction2(int32_t code, const TAcqRuleFields& f, int* scopeCommands)
{
    int scope = 0;
    const uint32_t cf = f.channelFlags;
    uint32_t clear = 0;
    if (const TClearRow* row = findRow(kFirstClearTable, code))
        clear = firstTableClear(row->rule, f, &scope);

    const TEffectRow* effect = findRow(kSecondClearTable, code);
    switch (effect != nullptr ? effect->effect : TClearEffect::Unshown) {
    case TClearEffect::Mode19Shown:
        if (f.instrumentMode == 19)
            clear = (cf & 0xF) * 257;
        ++scope;
        break;
    case TClearEffect::Scope:
        ++scope;
        break;
    case TClearEffect::ScopeAndUnshown:
        ++scope;
        clear |= ~cf & 0x1FFF;
        break;
    case TClearEffect::FirstTable:
    case TClearEffect::Nothing:
        break;
    case TClearEffect::Unshown:
        clear |= ~cf & kMemoryBits;
        break;
    }

    // A math channel is cleared only when one of its sources is.
    const uint32_t beforeReduction = clear;
    for (int n = 0; n < 4; ++n)
        if ((f.mathDefined >> n) & 1 && (f.mathSources[n] & beforeReduction) == 0)
            clear &= ~(1u << n);
    if (scopeCommands != nullptr)
        *scopeCommands += scope;
    return clear & 0xF0F;
}

void acqPassFailAdjust(const TAcqRuleFields& f, uint32_t* restart, uint32_t* clear)
{
    if (f.instrumentMode != 16 || f.passFailOn == 0 || f.passFailRunStop == 0)
        return;
    if (f.passFailSource < 0 || f.passFailSource > 12)
        return;  // no such channel: nothing to spare
    const uint32_t b = 1u << f.passFailSource;
    *restart &= ~b;
    if (f.acqRunStop == 0)
        *clear |= b;
}

bool acqPowerTraceReset(const TAcqRuleFields& f, uint32_t clear)
{
    return f.instrumentMode != 256 && (clear & f.powerSources) != 0;
}

TAcqClearing acqClearing(uint32_t clear, uint16_t channelFlags)
{
    TAcqClearing c;
    for (int n = 0; n < 4; ++n) {
        const bool asked = ((clear >> n) & 1) && ((clear >> (n + 8)) & 1);
        const bool showsMemory = (channelFlags >> (n + 8)) & 1;
        if (asked && !showsMemory)
            c.channels |= static_cast<uint16_t>(1u << n);
    }
    c.maskTrace = (clear & 0x1000) != 0 && (clear & 0x10) == 0;
    return c;
}

TAcqFinishPlan acqFinishDecision(uint32_t restart, const TLongArray& order, bool boxEmpty, bool redrawOnly,
                                 const TAcqRuleFields& f)
{
    TAcqFinishPlan p;
    p.restart = restart & (static_cast<uint32_t>(f.channelFlags) | 0x1000u);
    if (p.restart == 0) {
        p.action = isSender(order.senderId, COMM_id) ? TAcqFinish::ReplyShown : TAcqFinish::Nothing;
        return p;
    }
    if (!boxEmpty) {
        p.action = TAcqFinish::Deferred;
        return p;
    }
    p.acqFlags = (redrawOnly && (f.instrumentMode & 0x10) != 0) ? 254 : 255;
    const uint16_t mode = f.instrumentMode;
    if (mode == 64 || (mode >= 128 && mode <= 130)) {
        p.action = TAcqFinish::Reply;
        p.reply = order.code != 0;
    } else if (mode == 0x8000) {
        p.action = TAcqFinish::Reply;
        p.reply = true;
    } else if (mode == 256) {
        p.action = TAcqFinish::ViewerCopy;
        p.reply = order.code != 0;
        p.powerCopy = (f.meterFunction & 8) != 0;
    } else {
        p.action = TAcqFinish::Scope;
    }
    return p;
}
