// Setup files, batch recall, start-up recall and shut-down.
#pragma once

#include <cstdint>

struct calibration;
struct database;

// Power-off kind; 2 saves the power-on setup first.
enum TPowerOff {
    POWEROFF_SAVE_SETUP = 2,
};

// Saves the setup under name (in the private folder when inPrivate); a result code
// (0, 17, 19, 23). May be called from any thread.
int SetupSave(const char* name, bool inPrivate, const char* comment);
// Applies a setup image to the live setup and rebuilds its run-time links; returns skip
// (a non-zero skip changes nothing).
int SetupRecallPostTraitement(database* image, bool fresh, uint16_t hwChannels, int skip);
// Applies what the batch directory names; the result of the last recall, or 0.
int batchRecall(uint16_t hwChannels);
// Start-up loading: calibration recall and power-on setup recall.
int Startup(calibration* calib, uint16_t hwChannels);
// Saves the power-on setup (kind 2), hands over to the battery daemon and ends the process.
[[noreturn]] void Shutdown(TPowerOff kind);
