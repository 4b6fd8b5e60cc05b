// The two hand-shakes of the shared acquisition: the synchro word with its mutex and condition,
// and the suspended flag that the real-time thread raises between two cycles.
//
// Suspension is owned: a hold belongs to the thread that took it and nests in that thread. Every
// party goes through the helpers below; nobody else stores 1, 2 or 4 into the synchro word (the
// driver's own ORs and arming's stores of 0 or 8 stay). Rules for holders:
//   - every hold ends, in the thread that took it, with AcqResume or AcqReleaseHold before that
//     thread goes back to its loop;
//   - never suspend while holding another lock, and never wait, while holding, for a thread that
//     may itself be waiting to suspend.
#pragma once

#include <cstdint>
#include <functional>
#include <pthread.h>

// Bits of the synchro word. 1, 2 and 4 are stored (they replace the word); the driver ORs its own.
enum TSynchroDetail : uint32_t {
    SYNCHRO_NONE = 0,
    SYNCHRO_TIMEBASE_CHANGE = 1,  // resume after a parameter change; the scope cycle re-runs the time base
    SYNCHRO_RESUME = 2,           // resume without re-programming
    SYNCHRO_STOP = 4,             // stop or suspend request
    SYNCHRO_FAST_TIMEBASE = 8,
    SYNCHRO_SAMPLES = 0x20,
    SYNCHRO_END = 0x40,
};

inline TSynchroDetail operator|(TSynchroDetail a, TSynchroDetail b)
{
    return static_cast<TSynchroDetail>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
inline TSynchroDetail& operator|=(TSynchroDetail& a, TSynchroDetail b)
{
    return a = a | b;
}

// Read and written only with o_g_synchroAcqMutex held; every change is followed by a broadcast.
extern pthread_mutex_t o_g_synchroAcqMutex;
extern pthread_cond_t o_g_synchroAcqCond;
extern TSynchroDetail o_g_synchroAcqDetail;

// 1 while the real-time acquisition thread is between two cycles; guarded by its own mutex.
// Lock order: o_g_acqSuspendedMutex before o_g_synchroAcqMutex.
extern pthread_mutex_t o_g_acqSuspendedMutex;
extern pthread_cond_t o_g_acqSuspendedCond;
extern uint8_t b_g_acqSuspended;

// --- Holders ------------------------------------------------------------------------------------

// Suspend: in the thread that holds already, one level deeper at once. Otherwise waits until no
// one holds, takes the hold, stores 4 and waits until the real-time thread is between two cycles.
void AcqSuspend();
// Ends one level of the caller's hold; 1 is remembered. At the last level the hold passes to a
// thread waiting to suspend (the real-time thread stays parked), or else 1 (when any resume since
// the acquisition parked asked for it) or 2 is stored and the real-time thread woken. A resume
// from a thread that holds nothing while another holds is ignored (counted as a misuse); when
// nobody holds, the detail is stored as given.
void AcqResume(TSynchroDetail detail);
// Ends one level of the caller's hold without any store: the real-time thread stays parked until
// the next holder resumes (the autoset leaves the restart to the acquisition control thread).
void AcqReleaseHold();
// Stop without waiting (the screen saver): stores 4 and wakes every waiter; takes no hold.
void AcqStopNoWait();
// True when the calling thread holds the acquisition.
bool AcqHeldByCaller();

// --- The real-time thread -------------------------------------------------------------------------

// Between two cycles: raises the suspended flag and returns the resume stamp of that moment.
uint64_t AcqParkBetweenCycles();
// Waits for a resume, then clears the suspended flag. After an idle cycle it first waits until
// the stamp differs from the one parking returned; then while bit 4 is set or neither 1 nor 2 is.
// A suspend that arrived after the resume keeps the thread parked. whileResuming runs under the
// suspension mutex just before the flag is cleared (front-end power-down). Returns the detail
// word that let it go.
TSynchroDetail AcqWaitForResume(bool idleCycle, uint64_t parkStamp,
                                const std::function<void()>& whileResuming = std::function<void()>());
// Ending the real-time thread (a test's tear-down): a cycle under way is stopped (4, as
// AcqStopNoWait) or, when the thread is parked, 1 is stored and it is woken whoever holds.
// Returns whether it was parked.
bool AcqNudgeForEnd();
// The hand-shake as at a fresh start (word 0, flag down, nobody holding), once the real-time
// thread and every holder are gone (a test's tear-down). The resume stamp keeps counting.
void AcqHandshakeReset();
// Resumes that woke the real-time thread since the start.
uint64_t AcqResumeStamp();

// --- Debug checks -------------------------------------------------------------------------------

// True when the calling thread holds o_g_synchroAcqMutex (always true where it cannot be told).
bool AcqSynchroMutexHeldByCaller();
// The set-up commands that must run under o_g_synchroAcqMutex call this; a caller without it is
// counted. Returns whether the mutex is held.
bool AcqCheckSetupUnderMutex();

struct TAcqHandshakeMisuse {
    uint32_t strayResumes = 0;       // resumes by a thread holding nothing while another holds
    uint32_t setupsWithoutMutex = 0; // set-up commands called without o_g_synchroAcqMutex
    uint32_t strayReleases = 0;      // releases by a thread holding nothing
};
TAcqHandshakeMisuse AcqHandshakeMisuse();
void AcqClearHandshakeMisuse();
