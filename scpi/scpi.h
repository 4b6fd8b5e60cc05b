// SCPI interpreter thread and its hand-off with the controller.
#pragma once

#include <pthread.h>

// Interpreter thread (SCPI_id); no argument. Never returns.
void* scpi(void* arg);
// Releases the interpreter waiting for the completion of its request.
void scpi_SemP();

extern pthread_mutex_t o_g_synchroScpiMutex;
extern pthread_cond_t o_g_synchroScpiCond;
