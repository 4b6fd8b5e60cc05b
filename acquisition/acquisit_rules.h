// Decisions of the acquisition control thread, as pure functions over an order and the setup
// fields they read, so that they can be checked case by case without threads.
#pragma once

#include "core/requests.h"

#include <cstdint>

struct database;

// Setup fields the decisions read.
struct TAcqRuleFields {
    uint16_t channelFlags = 0;     // bits 0-3 live, 4-7 references, 8-11 memories, 12 mask trace
    uint16_t instrumentMode = 16;
    int16_t acqRunStop = 0;        // 0 running, 1 held
    int16_t passFailOn = 0;
    int16_t passFailRunStop = 0;
    int16_t passFailSource = 0;    // channel index 0..3
    int16_t meterFunction = 0;
    uint16_t mathDefined = 0;      // bit n - 1: channel n has a defined math function
    uint16_t mathSources[4] = {};  // channels each function reads (1, 2, 4, 8); 0 when undefined
    uint16_t powerSources = 0;     // channels the two power functions read
};
// The fields of a setup and its run-time links (math and power functions).
TAcqRuleFields acqRuleFields(const database& setup);

// Step 1: an order that repeats the current one except for its sender is collapsed into it.
bool acqSameOrder(const TLongArray& current, const TLongArray& next);

// Step 3: what an order re-applies before the walk (actionBits other than exactly 1).
struct TAcqReapply {
    bool stop = false;       // ChipAcqIoctl(CHIPACQ_STOP)
    bool programFE = false;  // ProgramFE(code, ...) after the stop
};
TAcqReapply acqReapply(int32_t code, int16_t acqRunStopNow);

// Step 4: the bits the walk visits, highest first (from 32 or the highest set bit down to 1).
// Writes them into visited and returns their count (0 for no bit).
int acqActionWalk(uint32_t actions, uint32_t visited[6]);

// One step of the walk.
struct TAcqStep {
    bool restartSet = false;   // restart takes `restart` (otherwise it keeps its value)
    uint32_t restart = 0;
    uint32_t clear = 0;
    int scopeCommands = 0;     // ChipAcqIoctl(CHIPACQ_SCOPE) to send
    bool redrawOnly = false;
    bool calibration = false;  // acqMode 255, calStep = calRange, calArg = the order's channelMask
    bool programAll = false;   // ProgramFE(-1, ...): every front-end register again
};
// bitSet false: a visited bit that the order does not carry (a step with clear 0).
TAcqStep acqActionStep(uint32_t bit, bool bitSet, int32_t code, uint32_t mask, const TAcqRuleFields& f);
// Action 2's clear word: both tables and the reduction. scopeCommands receives the number of
// ChipAcqIoctl(CHIPACQ_SCOPE) the code asks for (0 or 1).
uint32_t acqClearAction2(int32_t code, const TAcqRuleFields& f, int* scopeCommands);

// Step 5, after each step: the pass/fail source channel is never re-processed, and is cleared
// while running.
void acqPassFailAdjust(const TAcqRuleFields& f, uint32_t* restart, uint32_t* clear);
// Step 6: the power trace is reset when the clear word meets its source channels.
bool acqPowerTraceReset(const TAcqRuleFields& f, uint32_t clear);

// Step 7: the traces a clear word empties.
struct TAcqClearing {
    uint16_t channels = 0;   // bit n - 1: channel n's trace and normalised buffer
    bool maskTrace = false;  // the mask trace alone
};
// A channel is cleared only with its bits n and n + 8 both set, and never while it shows a
// memory trace (channelFlags bit n + 8).
TAcqClearing acqClearing(uint32_t clear, uint16_t channelFlags);

// Step 8: what ends the order.
enum class TAcqFinish {
    Nothing,      // restart 0 and the order was not the controller's
    ReplyShown,   // restart 0: reply with shownChannels to the controller
    Deferred,     // another order waits: it will do the re-processing
    Reply,        // re-processing run of modes 64, 128-130 and 0x8000: reply or not (see reply)
    ViewerCopy,   // viewer mode 256: copy the normalised buffers into the memory traces
    Scope,        // scope modes: one re-processing Scope run (it posts its own reply)
};
struct TAcqFinishPlan {
    TAcqFinish action = TAcqFinish::Nothing;
    uint32_t restart = 0;     // after &= channelFlags | 0x1000
    uint16_t acqFlags = 0;    // 254 or 255 for the re-processing run
    bool reply = false;       // a REQ_ACQ_DONE with intValue = restart (Reply, ViewerCopy)
    bool powerCopy = false;   // ViewerCopy: the auxiliary buffer into the power trace too
};
TAcqFinishPlan acqFinishDecision(uint32_t restart, const TLongArray& order, bool boxEmpty, bool redrawOnly,
                                 const TAcqRuleFields& f);
