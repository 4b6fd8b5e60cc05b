// Observation of the pass/fail counter stand-in (tests only).
#pragma once

#include <atomic>

// Number of raz() calls since the last reset of the stand-in.
std::atomic<int>& passFailResets();
void resetPassFailCounterStandin();
