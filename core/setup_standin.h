// Observation and hooks of the setup-file stand-in (tests only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TSetupStandin {
    std::vector<std::string> saveNames;       // SetupSave's name ("(null)" for none)
    std::vector<bool> saveInPrivate;
    int recallPostCalls = 0;
    uint16_t lastRecallHwChannels = 0;
    std::vector<uint16_t> batchRecallCalls;   // hwChannels of each call
    int startupCalls = 0;
    uint16_t startupHwChannels = 0;
};

// A copy, taken under the stand-in's lock (SetupSave may run in any thread).
TSetupStandin setupStandin();
void resetSetupStandin();

struct database;
// Hook: a power-on setup that Startup copies into the live setup (links untouched); nullptr:
// none, the defaults stay.
void setStartupSetupImage(const database* image);
