// Observation of the setup-consistency stand-in (tests only).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

struct database;

struct TSetupConsistencyStandin {
    int findCoeffCalls = 0;
    int setVoiesValidesCalls = 0;
    int getMesureReferenceCalls = 0;
    std::vector<uint16_t> userTimeBaseCalls;
    std::vector<uint16_t> cursorsInScreenCalls;                 // SetCursorsInScreen's state
    int adjustHorizontalZoomCalls = 0;
    std::vector<std::pair<bool, const database*>> powerFctCalls;  // (threePhase, db)
};

TSetupConsistencyStandin& setupConsistencyStandin();
void resetSetupConsistencyStandin();
