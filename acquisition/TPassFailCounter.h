// Counts of the acquisitions that passed and failed the pass/fail mask test; one instance,
// TAcquisition::passFailCounter.
#pragma once

#include <cstdint>
#include <pthread.h>

class TPassFailCounter {
public:
    // Both counts := 0.
    void raz();

    int32_t passCount = 0;
    int32_t failCount = 0;
    // Guards both counts; never destroyed (the instance lives until the process ends).
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};
