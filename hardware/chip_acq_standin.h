// Observation of the driver-opening stand-in (tests only).
#pragma once

#include <cstdint>
#include <string>

struct TChipAcqStandin {
    int drvCalls = 0;
    int openCalls = 0;
    std::string openName;
    int32_t openFlags = 0;
};

TChipAcqStandin& chipAcqStandin();
void resetChipAcqStandin();
