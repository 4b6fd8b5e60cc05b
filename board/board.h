// Platform seam: where board paths live, which ports are served, how the board is seeded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// True in the desktop build, which runs the simulated board.
constexpr bool kSimulatedBoard = (BENCHVIEW_BOARD_BUILD == 0);

// Maps a board path to the host path that holds it. Board build: identity. Desktop build: an
// absolute path gets the simulated-board root as prefix; a path already under the root and a
// relative path are returned unchanged.
std::string boardPath(const char* boardAbsolutePath);
inline std::string boardPath(const std::string& p) { return boardPath(p.c_str()); }

// The reverse, for texts shown to the user or sent to remote clients.
std::string boardPathFromHost(const std::string& hostPath);

// Pure forms used by the two above; an empty root is the board build.
std::string mapBoardPath(const std::string& root, const char* path);
std::string unmapBoardPath(const std::string& root, const std::string& hostPath);

// The simulated-board root, absolute and canonical; empty in the board build.
const std::string& boardRoot();
// Sets the root (created when missing); for tests and start-up, before any thread starts.
// Returns false when the directory cannot be made.
bool setBoardRoot(const std::string& dir);
// Program start-up: BENCHVIEW_SIMROOT, else "simroot" beside the executable.
bool resolveBoardRoot();

// A served port: port + BENCHVIEW_PORT_OFFSET on the simulated board, the port itself on the board.
int boardPort(int port);
void setBoardPortOffset(int offset);  // tests

// A whole-number setting from the environment, read on the simulated board only (tests tune
// delays with it). The fallback on the board, and when the variable is missing, not a whole
// number or outside min..max.
int boardSetting(const char* name, int fallback, int min, int max);

// Before the Qt application is created. Simulated board: Qt Quick draws with its software scene
// graph unless QT_QUICK_BACKEND (or QMLSCENE_DEVICE) chose one, even an empty one (Qt's default
// OpenGL), because a desktop without a GPU would run the OpenGL rasteriser on the processor at
// three times the cost. Board build: nothing, the platform's default holds.
void chooseQuickBackend();

// First-start seeding of the simulated board. Later layers register their own steps (scenario,
// calibration ...) before calling seedBoardRoot(); a seeded root is never seeded again.
using BoardSeedStep = std::function<void()>;
void registerBoardSeedStep(const std::string& name, BoardSeedStep step);
// Removes a registered step (nothing when none has the name).
void forgetBoardSeedStep(const std::string& name);
// Returns true when this call seeded the root, false when it was seeded already (or board build).
bool seedBoardRoot();
// Opens the board file `path` for reading when it is a regular file inside the board folder
// `dir` ("/" for the whole board): no ".." component, and its canonical path (symbolic links
// resolved) stays under the canonical folder. Opened non-blocking, so that a FIFO or a device
// put there never holds the caller, and checked with fstat. Returns the descriptor (its size in
// *size), or -1 with the reason in *why and errno set: ENOENT when nothing is there.
int openBoardFileIn(const char* dir, const char* path, int64_t* size = nullptr, std::string* why = nullptr);
// The check behind openBoardFileIn, for any kind of file and for paths that do not exist yet:
// `path` is an absolute board path without a ".." component, and its nearest existing part (the
// path itself when it exists), resolved through symbolic links, is the folder `dir` itself or
// lies under it. On success the host path with that part resolved (the rest appended as given)
// in *resolved; else false with the reason in *why and errno set.
bool confineBoardPath(const char* dir, const char* path, std::string* resolved = nullptr, std::string* why = nullptr);
// Simulated board: true when the scenario of the root (<root>/sim/scenario.json, when there is
// one that reads) gives a channel analogue errors, so that its calibration record is to be
// measured, not seeded. Board build: false.
bool boardScenarioNeedsCalibration();
// True once the root has been seeded (false in the board build).
bool boardRootSeeded();
// Writes a whole file under the root (board path); used by seeding steps. Returns false on error.
bool writeBoardFile(const char* boardAbsolutePath, const std::string& content);
