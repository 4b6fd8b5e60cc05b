// Process-wide services of every program: pauses, thread start, deliberate end of the process.
#pragma once

#include <functional>
#include <string>
#include <pthread.h>

// Every pause of the controller goes through here, so that tests can record them instead.
void pauseMs(int milliseconds);
// Test hook: called instead of sleeping; nullptr restores real sleeping.
void setPauseHook(std::function<void(int)> hook);
// A pause that only waits for the hardware: an analogue change settling, an armed acquisition
// running. The real board sleeps as pauseMs does (the test hook included); the simulated board
// during its quick calibration (TDeviceIO::quickCalibration) moves its clock ahead instead and
// returns at once.
void hardwarePauseMs(int milliseconds);

// Starts a thread with round-robin attributes at the given share (percent) of the priority
// range: in force on the board build, the inherited scheduling on the simulated board
// (board/threads.h); refused attributes fall back to the defaults. Returns pthread_create's
// result.
int startThread(pthread_t* id, void* (*function)(void*), void* argument, int sharePercent, bool detached,
                const char* name = nullptr);
// min + (max - min) * share / 100, integer arithmetic.
int priorityForShare(int minPriority, int maxPriority, int sharePercent);

// Actions to run once when the process ends (a recording's last records). Any thread.
using EndActionHandle = int;
EndActionHandle registerEndAction(std::function<void()> action);
// Removes an action not yet run; waits while that action is running elsewhere.
void removeEndAction(EndActionHandle handle);
// Runs each registered action once, oldest first; an action is never run twice.
void runEndActions();

// What a start sets going that only a power-off ends (threads, timers, the driver): each start
// registers its undo under a name (once: a second registration of the name is ignored, unless
// `once` is false). A test's tear-down runs them, newest first, so that the next test of the
// process starts as after a power-on; the program never does. Any thread.
void registerPowerOffUndo(const char* name, std::function<bool()> undo, bool once = true);
// Starts a service thread (startThread, joinable) whose power-off undo, registered under `name`
// before the thread exists, calls `stop` until the thread's function has returned, then joins it:
// a stop that comes before the thread listens is simply said again. `stop` must be safe to call
// at any time and repeatedly. The undo fails when the thread has not ended within endTimeoutMs.
// A second start before a power-off gets an undo of its own.
int startServiceThread(pthread_t* id, void* (*function)(void*), void* argument, int sharePercent,
                       const char* name, std::function<void()> stop, int endTimeoutMs = 10000);
// Runs and forgets every registered undo, newest first. False when one failed; *failed (when
// given) then names them.
bool runPowerOffUndos(std::string* failed = nullptr);

// Ends the process after the caller did its work (save, sync, pipe write): runs the end actions
// not yet run, flushes stdio and calls _exit, so no static destructor runs under live detached
// threads.
[[noreturn]] void endProcess(int status);

// The suite's version option: exactly one argument "-V", compared ignoring case. True once the
// version and a line end are printed (the caller then ends with status 0).
bool printVersionOption(int argc, char** argv, const char* version);
