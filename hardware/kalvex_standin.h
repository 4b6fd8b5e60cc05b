// Observation and hooks of the smart-probe stand-in (tests only).
#pragma once

#include <cstdint>
#include <vector>

struct TKalvexStandin {
    // Hooks per channel 0..3: the identifier of a probe put on it (0: none), and a result that
    // LectureKalvex reports instead of its own (-1: none).
    uint16_t probeId[4] = {0, 0, 0, 0};
    int forcedResult[4] = {-1, -1, -1, -1};
    // A gain and offset correction carried by the probe of a channel (none unless set).
    bool hasCorrection[4] = {false, false, false, false};
    double correctionGain[4] = {1.0, 1.0, 1.0, 1.0};
    double correctionOffset[4] = {0.0, 0.0, 0.0, 0.0};

    std::vector<int16_t> lectureCalls;  // channel of each LectureKalvex
    struct TUserFields {
        uint16_t channel, colour, second;
    };
    std::vector<TUserFields> userFieldCalls;  // each setUserFields, with the probe's channel
    int getIdCalls = 0;
};

TKalvexStandin& kalvexStandin();
void resetKalvexStandin();
