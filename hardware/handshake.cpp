#include "hardware/handshake.h"

#include <atomic>
#include <sys/syscall.h>
#include <unistd.h>

// Statically initialised and never destroyed: detached threads use them up to the process end.
pthread_mutex_t o_g_synchroAcqMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_synchroAcqCond = PTHREAD_COND_INITIALIZER;
TSynchroDetail o_g_synchroAcqDetail = SYNCHRO_NONE;

pthread_mutex_t o_g_acqSuspendedMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_acqSuspendedCond = PTHREAD_COND_INITIALIZER;
uint8_t b_g_acqSuspended = 0;

namespace {
// The hold, guarded by o_g_acqSuspendedMutex.
struct THold {
    bool held = false;
    pthread_t owner{};
    int depth = 0;
    int waiting = 0;        // threads waiting in AcqSuspend for the hold
    bool oneAsked = false;  // a resume since the acquisition parked asked for 1
};
THold hold;

// Incremented by every resume that wakes the real-time thread, with both mutexes held, so that
// it can be read under either.
std::atomic<uint64_t> resumeStamp{0};

std::atomic<uint32_t> strayResumes{0};
std::atomic<uint32_t> setupsWithoutMutex{0};
std::atomic<uint32_t> strayReleases{0};

bool ownedByCaller()
{
    return hold.held && pthread_equal(hold.owner, pthread_self());
}

// Stores a waking detail (1 or 2) and wakes both hand-shakes; o_g_acqSuspendedMutex held.
void storeResume(TSynchroDetail detail)
{
    const TSynchroDetail stored = (detail == SYNCHRO_TIMEBASE_CHANGE || hold.oneAsked)
        ? SYNCHRO_TIMEBASE_CHANGE
        : SYNCHRO_RESUME;
    hold.oneAsked = false;
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = stored;
    resumeStamp.fetch_add(1);
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    pthread_cond_broadcast(&o_g_acqSuspendedCond);
}

bool resumeWanted(uint32_t detail)
{
    return !(detail & SYNCHRO_STOP) && (detail & (SYNCHRO_TIMEBASE_CHANGE | SYNCHRO_RESUME));
}
} // namespace

void AcqSuspend()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    if (ownedByCaller()) {
        ++hold.depth;
        pthread_mutex_unlock(&o_g_acqSuspendedMutex);
        return;
    }
    ++hold.waiting;
    while (hold.held)
        pthread_cond_wait(&o_g_acqSuspendedCond, &o_g_acqSuspendedMutex);
    --hold.waiting;
    hold.held = true;
    hold.owner = pthread_self();
    hold.depth = 1;

    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = SYNCHRO_STOP;  // stored, never ORed
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    while (b_g_acqSuspended == 0)
        pthread_cond_wait(&o_g_acqSuspendedCond, &o_g_acqSuspendedMutex);
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
}

void AcqResume(TSynchroDetail detail)
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    if (!hold.held) {
        storeResume(detail);
    } else if (!ownedByCaller()) {
        // Ending someone else's hold would let the real-time thread run under its feet.
        strayResumes.fetch_add(1);
    } else {
        if (detail == SYNCHRO_TIMEBASE_CHANGE)
            hold.oneAsked = true;
        if (--hold.depth == 0) {
            hold.held = false;
            if (hold.waiting > 0)
                pthread_cond_broadcast(&o_g_acqSuspendedCond);  // handed over, still parked
            else
                storeResume(detail);
        }
    }
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
}

void AcqReleaseHold()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    if (!ownedByCaller()) {
        strayReleases.fetch_add(1);
    } else if (--hold.depth == 0) {
        hold.held = false;
        pthread_cond_broadcast(&o_g_acqSuspendedCond);
    }
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
}

void AcqStopNoWait()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = SYNCHRO_STOP;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

bool AcqHeldByCaller()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    const bool mine = ownedByCaller();
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
    return mine;
}

uint64_t AcqParkBetweenCycles()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    // Read with the flag raised under the same lock: a resume that follows is always seen.
    const uint64_t stamp = resumeStamp.load();
    hold.oneAsked = false;
    b_g_acqSuspended = 1;
    pthread_cond_broadcast(&o_g_acqSuspendedCond);
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
    return stamp;
}

TSynchroDetail AcqWaitForResume(bool idleCycle, uint64_t parkStamp, const std::function<void()>& whileResuming)
{
    for (;;) {
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        if (idleCycle)
            while (resumeStamp.load() == parkStamp)
                pthread_cond_wait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex);
        while (!resumeWanted(o_g_synchroAcqDetail))
            pthread_cond_wait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex);
        pthread_mutex_unlock(&o_g_synchroAcqMutex);

        // A suspend may have come in since: it found the flag raised and went to work, so the
        // thread must stay parked. Checked with the flag's lock held so the two cannot cross.
        pthread_mutex_lock(&o_g_acqSuspendedMutex);
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        const TSynchroDetail detail = o_g_synchroAcqDetail;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        if (resumeWanted(detail)) {
            if (whileResuming)
                whileResuming();
            b_g_acqSuspended = 0;
            pthread_cond_broadcast(&o_g_acqSuspendedCond);
            pthread_mutex_unlock(&o_g_acqSuspendedMutex);
            return detail;
        }
        pthread_mutex_unlock(&o_g_acqSuspendedMutex);
        idleCycle = false;  // the stop is pending now: wait for its resume
    }
}

bool AcqNudgeForEnd()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    const bool parked = b_g_acqSuspended != 0;
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = parked ? SYNCHRO_TIMEBASE_CHANGE : SYNCHRO_STOP;
    if (parked)
        resumeStamp.fetch_add(1);
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    pthread_cond_broadcast(&o_g_acqSuspendedCond);
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
    return parked;
}

void AcqHandshakeReset()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    hold = THold{};
    b_g_acqSuspended = 0;
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = SYNCHRO_NONE;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
}

uint64_t AcqResumeStamp()
{
    return resumeStamp.load();
}

bool AcqSynchroMutexHeldByCaller()
{
#if defined(__GLIBC__)
    // glibc records the owning thread's id in every mutex it locks (cleared while a condition
    // wait has released it).
    return o_g_synchroAcqMutex.__data.__owner == static_cast<int>(syscall(SYS_gettid));
#else
    return true;
#endif
}

bool AcqCheckSetupUnderMutex()
{
    const bool held = AcqSynchroMutexHeldByCaller();
    if (!held)
        setupsWithoutMutex.fetch_add(1);
    return held;
}

TAcqHandshakeMisuse AcqHandshakeMisuse()
{
    TAcqHandshakeMisuse m;
    m.strayResumes = strayResumes.load();
    m.setupsWithoutMutex = setupsWithoutMutex.load();
    m.strayReleases = strayReleases.load();
    return m;
}

void AcqClearHandshakeMisuse()
{
    strayResumes.store(0);
    setupsWithoutMutex.store(0);
    strayReleases.store(0);
}
