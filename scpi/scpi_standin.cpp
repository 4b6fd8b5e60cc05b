// Stand-in until the SCPI interpreter exists: the thread blocks for ever; a release is counted.
#include "scpi/scpi.h"
#include "scpi/scpi_standin.h"

#include <unistd.h>

pthread_mutex_t o_g_synchroScpiMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_synchroScpiCond = PTHREAD_COND_INITIALIZER;

namespace {
TScpiStandin l_state;  // guarded by o_g_synchroScpiMutex
}

TScpiStandin scpiStandin()
{
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    TScpiStandin copy = l_state;
    pthread_mutex_unlock(&o_g_synchroScpiMutex);
    return copy;
}

void resetScpiStandin()
{
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    l_state = TScpiStandin();
    pthread_mutex_unlock(&o_g_synchroScpiMutex);
}

void* scpi(void*)
{
    for (;;)
        pause();
    return nullptr;
}

void scpi_SemP()
{
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    l_state.released = true;
    ++l_state.releaseCount;
    pthread_cond_signal(&o_g_synchroScpiCond);
    pthread_mutex_unlock(&o_g_synchroScpiMutex);
}
