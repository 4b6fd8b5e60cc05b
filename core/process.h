// Process-wide services of the engine: pauses, thread start, deliberate end of the process.
#pragma once

#include <functional>
#include <pthread.h>

// Every pause of the controller goes through here, so that tests can record them instead.
void pauseMs(int milliseconds);
// Test hook: called instead of sleeping; nullptr restores real sleeping.
void setPauseHook(std::function<void(int)> hook);

// Starts a thread with round-robin attributes at the given share (percent) of the priority
// range; the inherited scheduling is left alone, and refused attributes fall back to the
// defaults. Returns pthread_create's result.
int startThread(pthread_t* id, void* (*function)(void*), void* argument, int sharePercent, bool detached,
                const char* name = nullptr);
// min + (max - min) * share / 100, integer arithmetic.
int priorityForShare(int minPriority, int maxPriority, int sharePercent);

// Ends the process after the caller did its work (save, sync, pipe write): flushes stdio and
// calls _exit, so no static destructor runs under live detached threads.
[[noreturn]] void endProcess(int status);
