// Observation of the driver-command stand-in (tests only).
#pragma once

#include <cstdint>

struct TChipAcqIoctlStandin {
    int calls = 0;
    int32_t lastCommand = -1;
    bool lastRecordNull = false;
};

TChipAcqIoctlStandin& chipAcqIoctlStandin();
void resetChipAcqIoctlStandin();
