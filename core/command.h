// The controller thread: the only thread that changes the setup; applies every request.
#pragma once

#include "core/requests.h"

#include <atomic>
#include <cstdint>
#include <pthread.h>

// Screen message numbers the controller shows.
enum TMessageNumber {
    MessageClear = 0,
    MessageScopeMode = 1,
    MessageRecorderMode = 2,
    MessageHarmonicMode = 3,
    MessageViewerMode = 4,
    MessagePowerOff = 5,
    MessageCalibrationStep = 6,
    MessageAutosetFailed = 7,
    MessageAutoset = 8,
    MessageMeterMode = 9,
    MessageMeterHeld = 10,
    MessageCalibrationStore = 12,
    MessageSelfTestFailed = 13,
    MessageFileWrite = 14,
    MessageProbeWarning = 15,
    MessageSetupFileDamaged = 20,  // the recall's result for a damaged setup file
    MessageKeyInactive = 21,
    MessageStartup = 27,
    MessageBusMode = 28,
    MessagePassFailMask = 33,
};

// Thread function of the controller ("COMM"), started by main: start-up, then the loop until
// commandStop (the power-off of a test).
void* command(void* unused);
void commandStop();

// Start-up steps 1 to 24, everything before the loop. Waits for the root-window bridge.
void commandStartup();
// Step 1 and one pass: waits for the oldest record of the inbox and applies it.
void commandLoopPass();
// One pass of the loop (steps 2 to 9) on a record already taken from the inbox. Handlers may
// rewrite the record before it is forwarded.
void applyRequest(pipe_dial& request);

// What applying one request asks of the rest of the loop.
struct TRequestOutcome {
    bool acquisition = false;  // send {code, channelMask, actionBits, COMM_id} to the acquisition
    int32_t code = 0;
    int32_t channelMask = 0;
    int32_t actionBits = 0;
    bool measure = false;      // forward the record to the measure thread
    bool bus = false;          // forward the record to the bus thread (bus-analysis mode only)
    bool busAnyMode = false;   // ... in any mode: the request leaves bus analysis
    bool operation = false;    // the request started a calibration step

    void restart(int32_t restartCode, int32_t mask, int32_t action)
    {
        acquisition = true;
        code = restartCode;
        channelMask = mask;
        actionBits = action;
    }
};

// Does a record's sender come from this thread identity? MENU_id (the user interface) is
// recognised by the value 0; any other identity matches only once its thread exists (non-zero),
// so a user-interface record is never taken for SCPI or the real-time thread.
bool isSender(intptr_t senderId, const pthread_t& identity);

// Controller state, kept across passes.
extern uint16_t pendingAcknowledge;  // 8: SCPI waits for REQ_ACQ_DONE; 0x800: for REQ_OPERATION_DONE
extern bool b_g_scpiOrigin;          // an SCPI request was taken and not yet released
extern uint16_t us_g_hwChannels;     // installed channels: 15, or 9 on the two-channel model

// 1 while the screen saver is on; read by the HTTP server.
extern std::atomic<uint8_t> ScreenSaverActif;

// Save-and-restart hand-shake with the real-time thread: after a fileTraceSaveAlt the controller
// sets the done flag under the mutex and signals; the waiter clears the flag before it posts and
// waits while it is false.
extern pthread_mutex_t o_g_synchroSavRelMutex;
extern pthread_cond_t o_g_synchroSavRelCond;
extern bool b_g_saveRestartDone;

// Set by an acquisition cycle when it queued a state notice (kind 16 or 1024), cleared by the
// controller when it takes one: at most one such notice waits in the inbox, so a fast cycle
// cannot crowd out records that must not be lost.
extern std::atomic<bool> b_g_stateNoticePending;
// Posts a record to the controller; a state notice (kind 16 or 1024) only when none is waiting
// (the next one carries the same channel word). Used by every acquisition cycle.
void postStateNotice(const pipe_dial& notice);
