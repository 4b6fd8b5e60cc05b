// Observation of the acquisition stand-in threads (tests only).
#pragma once

#include "core/requests.h"

#include <cstdint>
#include <functional>
#include <vector>

struct TAcquisitStandinState {
    std::vector<TLongArray> orders;   // every order acquisit took, in order
    int parks = 0;                    // times the real-time stand-in parked on a stop request
    std::vector<uint32_t> resumes;    // the detail word of each resume it woke on
};

TAcquisitStandinState acquisitStandinState();
// Waits (at most timeoutMs) until the predicate holds on the state; false on time-out.
bool acquisitStandinWait(const std::function<bool(const TAcquisitStandinState&)>& until, int timeoutMs);
