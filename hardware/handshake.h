// The two hand-shakes of the shared acquisition: the synchro word with its mutex and condition,
// and the suspended flag that the real-time thread raises between two cycles.
#pragma once

#include <cstdint>
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

// Suspend: store 4 and wait until the real-time thread is parked between two cycles.
void AcqSuspend();
// Resume: store detail (1 after a parameter change, 2 otherwise) and wake the waiters.
void AcqResume(TSynchroDetail detail);
