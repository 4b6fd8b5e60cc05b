// Ends the controller thread ("COMM", started joinable) of a test that ran the program's loop:
// the stop is said again until the thread has returned, since it may come before the loop runs.
#pragma once

#include "core/command.h"

#include <chrono>
#include <pthread.h>
#include <time.h>

inline bool endControllerThread(pthread_t thread, int timeoutMs = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        commandStop();
        timespec until{};
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += 50 * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_nsec -= 1000000000L;
            ++until.tv_sec;
        }
        if (pthread_timedjoin_np(thread, nullptr, &until) == 0)
            return true;
    }
    return false;
}
