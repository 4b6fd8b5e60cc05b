// Counts of the acquisitions that passed and failed the pass/fail mask test; one instance,
// TAcquisition::passFailCounter. Every operation holds the mutex: the acquisition thread counts
// while the controller clears and the GUI and remote interfaces read.
#pragma once

#include <cstdint>
#include <pthread.h>
#include <string>

class TPassFailCounter {
public:
    static constexpr int32_t kMaxCount = 99999;

    TPassFailCounter() = default;
    // Nothing to release: the instance lives until the process ends.
    ~TPassFailCounter() = default;
    TPassFailCounter(const TPassFailCounter&) = delete;
    TPassFailCounter& operator=(const TPassFailCounter&) = delete;

    // Both counts := 0.
    void raz();
    // Adds 1 while below 99999 (saturates).
    void incPass();
    void incFail();
    // "count / total": count = passes for type 1, failures for type 2, both for any other type;
    // total = passes + failures. A number of 99999 or more is written ">99999".
    std::string get(int16_t type);

    int32_t passCount = 0;
    int32_t failCount = 0;
    // Guards both counts; never destroyed.
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};
