// Stand-in until the pass/fail counter exists: raz clears the counts and is counted.
#include "acquisition/TPassFailCounter.h"
#include "acquisition/TPassFailCounter_standin.h"

std::atomic<int>& passFailResets()
{
    static auto* resets = new std::atomic<int>(0);
    return *resets;
}

void resetPassFailCounterStandin()
{
    passFailResets() = 0;
}

void TPassFailCounter::raz()
{
    pthread_mutex_lock(&mutex);
    passCount = 0;
    failCount = 0;
    pthread_mutex_unlock(&mutex);
    ++passFailResets();
}
