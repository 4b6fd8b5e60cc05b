// SCPI interpreter thread and its hand-off with the controller.
#pragma once

#include "core/requests.h"

#include <pthread.h>

// Interpreter thread (SCPI_id); no argument. Never returns.
void* scpi(void* arg);

// Posts one request to the controller as the interpreter and waits until the controller has
// released it, at most scpiReleaseTimeoutMs: true when released, false when the bound passed
// (the request stays queued; its late release is not taken for a later one). Only the
// interpreter's thread calls it (a handler such as *CLS, or the posting after a handler).
bool scpi_SemV(pipe_dial* request);
// Releases the oldest interpreter request not yet released; does nothing when none is.
void scpi_SemP();
// Ends the wait for every request posted so far as its bound would, at once: for a stand-in
// controller that knows it will not release in time (the fuzz target), so that the bound costs
// no real time.
void scpiEndReleaseWaits();
// The bound of the wait for a release (BENCHVIEW_SCPI_RELEASE_TIMEOUT_MS, 30 s by default).
int scpiReleaseTimeoutMs();
void setScpiReleaseTimeoutMs(int milliseconds);

struct node;
// Test hook: the root every unit starts from; null restores the command tree.
void setScpiTree(const node* root);

// Calls of scpi_SemP so far, with or without an outstanding request (observation for tests).
int scpiReleaseCalls();

extern pthread_mutex_t o_g_synchroScpiMutex;
extern pthread_cond_t o_g_synchroScpiCond;
