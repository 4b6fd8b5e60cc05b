// The acquisition threads: the control thread takes the controller's restart orders; the
// real-time thread runs the acquisition cycles.
#pragma once

#include "core/requests.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <pthread.h>
#include <vector>

struct acq_ctrl;

// Control thread (ACQU_id); the argument is the live calibration record. Never returns.
void* acquisit(void* calibration);
// Real-time acquisition thread (RTAC_id), started by acquisit; the argument is the control
// record. Never returns.
void* startacq(void* acqCtrl);

// Starts acquisit or startacq (detached, round-robin at the share): every start goes through
// here, so that AcqThreadsEnd also waits for a thread created but not yet running. Returns
// startThread's result.
int startAcquisitionThread(pthread_t* id, void* (*entry)(void*), void* argument, int sharePercent,
                           const char* name = nullptr);

// Ends both threads as a power-off would, for a test's tear-down (the program never calls it):
// acquisit leaves at its next order, startacq at its next park, after which the identities, the
// control record, the order box, the hand-shake and the log are as at a fresh start. Any thread
// but the two; a hold the caller took must be ended first. False when a thread had not left
// after timeoutMs (nothing is reset then).
bool AcqThreadsEnd(int timeoutMs = 10000);

// --- Observation (tests and diagnostics) -----------------------------------------------------------

// What the two threads did so far. Recording costs a short lock per order and per cycle; the
// lists keep their last kLogListLimit entries at most, so a long run does not grow them.
constexpr size_t kLogListLimit = 4096;
struct TAcquisitLog {
    std::vector<TLongArray> orders;   // every order acquisit applied (after collapsing), in order
    int collapsed = 0;                // orders taken as duplicates of the one before
    int ordersDone = 0;               // orders fully applied (the acquisition resumed after them)
    int reprocessRuns = 0;            // re-processing runs on held samples (box was empty)
    int cycles = 0;                   // cycles startacq began
    int idleCycles = 0;               // of which idle (no acquisition, hold, no board, stand-in)
    int parks = 0;                    // times startacq parked between two cycles
    bool parked = false;              // parked now, waiting for a resume
    uint64_t parkStamp = 0;           // resume stamp of the current park (see AcqResumeStamp)
    std::vector<uint32_t> resumes;    // detail word of each resume startacq woke on
    std::vector<int32_t> calibrationResults;  // result of each calibration step, in order
};

TAcquisitLog acquisitLog();
// Waits (at most timeoutMs) until the predicate holds on the log; false on time-out.
bool acquisitLogWait(const std::function<bool(const TAcquisitLog&)>& until, int timeoutMs);
