// SCPI interpreter thread and its hand-off with the controller.
#pragma once

#include "core/requests.h"

#include <pthread.h>

// Interpreter thread (SCPI_id); no argument. Never returns.
void* scpi(void* arg);

// Posts one request to the controller as the interpreter and waits until the controller has
// released it. Only the interpreter's thread calls it (a handler such as *CLS, or the posting
// after a handler), never while a request of it is already outstanding.
void scpi_SemV(pipe_dial* request);
// Releases the outstanding interpreter request; does nothing when none is outstanding.
void scpi_SemP();

struct node;
// Test hook: the root every unit starts from; null restores the command tree.
void setScpiTree(const node* root);

// Calls of scpi_SemP so far, with or without an outstanding request (observation for tests).
int scpiReleaseCalls();

extern pthread_mutex_t o_g_synchroScpiMutex;
extern pthread_cond_t o_g_synchroScpiCond;
