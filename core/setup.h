// Setup files, batch recall, start-up recall and shut-down.
#pragma once

#include <cstdint>
#include <string>

struct calibration;
struct database;

// Power-off kind; 2 saves the power-on setup first.
enum TPowerOff {
    POWEROFF_SAVE_SETUP = 2,
};

// Board paths of the setup files.
constexpr const char* kPrivateDir = "/media/private";
constexpr const char* kPowerOnSetupFile = "/media/private/setup.cfg";
constexpr const char* kBatchDir = "/media/private/batch";
constexpr const char* kUserSetupsDir = "/media/user/setups";
constexpr const char* kSdCardSetupsDir = "/media/user/sdcard_p1/setups";
constexpr const char* kOffPipe = "/var/tmp/offpipe";

// A setup file: the 128-byte header, then the 1232-byte record.
constexpr uint32_t kSetupFileSize = 1360;
// Longest last path component of a setup name.
constexpr uint32_t kSetupNameMax = 32;
// The mode of the batch recall before anything set one.
constexpr uint16_t kNoBatchMode = 0xFFFF;

// Start time of this run, seconds since 1970 (set by Startup).
extern int32_t l_g_startTime;

// Saves the live setup under name (".cfg" appended unless it ends in it): in the private
// directory when inPrivate, else at name when it is absolute, else in the setups directory of
// the SD card or the internal user partition. 0, 17 (setups directory missing and cannot be
// made), 19 (null name, cannot create or write; a previous file of that name is kept) or 23
// (empty name, last component longer than 32). May be called from any thread.
int SetupSave(const char* name, bool inPrivate, const char* comment);
// Loads a setup file into the live setup, or the defaults: 0, 18 (no path: the defaults; or
// cannot open) or 20 (wrong size, short read or bad checksum). A refused file leaves the live
// setup untouched, except at start (fresh), which takes the defaults instead. Keeps the running
// selfTestResult; sets the channel masks from the hardware.
int SetupRecall(const char* path, bool fresh, uint16_t hwChannels);
// The same; *refusal says why a file that is there was refused (empty when it was used or
// there is none).
int SetupRecall(const char* path, bool fresh, uint16_t hwChannels, std::string* refusal);
// Applies a setup image to the live setup and rebuilds its run-time links (with fresh, the
// smart-probe links are dropped); returns skip (a non-zero skip changes nothing).
int SetupRecallPostTraitement(database* image, bool fresh, uint16_t hwChannels, int skip);
// Copies the system fields (links, masks, units, probes, names ...) of source into target.
void SetupSystemCopy(database* target, const database* source);
// Applies what the batch directory names, then empties it of what it applied; posts the mode
// of the last recall to the controller. The result of the last recall, or 0. Leaves the
// process in the directory of the last link's target (or in the batch directory).
int batchRecall(uint16_t hwChannels);
// Start-up loading: temporary files of cut saves removed, sample buffers, calibration recall, power-on setup recall (every run-time
// object is created here). Returns the power-on recall's result.
int Startup(calibration* calib, uint16_t hwChannels);
// Stored files that were there at start but refused: each is renamed with ".bad" beside it (or
// ".bad.1", ".bad.2", ... when a copy kept earlier has that name) and
// named on standard error, and the factory calibration or the default setup takes its place.
struct TStartupRefusals {
    bool calibration = false;
    bool setup = false;
};
int Startup(calibration* calib, uint16_t hwChannels, TStartupRefusals* refused);
// Saves the power-on setup (kind 2), hands over to the battery daemon and ends the process
// with status 0.
[[noreturn]] void Shutdown(TPowerOff kind);
