#include "hardware/handshake.h"

// Statically initialised and never destroyed: detached threads use them up to the process end.
pthread_mutex_t o_g_synchroAcqMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_synchroAcqCond = PTHREAD_COND_INITIALIZER;
TSynchroDetail o_g_synchroAcqDetail = SYNCHRO_NONE;

pthread_mutex_t o_g_acqSuspendedMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_acqSuspendedCond = PTHREAD_COND_INITIALIZER;
uint8_t b_g_acqSuspended = 0;

void AcqSuspend()
{
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
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
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = detail;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}
