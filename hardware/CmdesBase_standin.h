// Observation and hooks of the board-logic stand-in (tests only).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

struct TCmdesBaseStandin {
    // Hook: what EtatLogique(ETAT_TWO_CHANNEL_MODEL) reports (0: the four-channel model).
    int twoChannelModel = 0;

    std::vector<int16_t> baseInitCalls;
    std::vector<std::pair<int, uint32_t>> cmdeLogiqueCalls;  // (identifier, value)
    std::vector<int> etatLogiqueCalls;
    std::vector<bool> economiseurCalls;
    std::vector<std::pair<int, uint16_t>> cmdeAnalogiqueCalls;
};

TCmdesBaseStandin& cmdesBaseStandin();
void resetCmdesBaseStandin();
