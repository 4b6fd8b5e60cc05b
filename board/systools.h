// System programs that the instrument runs (reboot, network scripts ...). On the board each run
// is a child process; on the simulated board it is only written to a log, so nothing on the
// host is rebooted or reconfigured. The programs of /opt asked for their versions are ours and
// run for real on both, from under the simulated root.
#pragma once

#include <string>
#include <vector>

// Results of a run besides the program's own exit status (0 to 255; 128 + n when signal n
// ended it).
constexpr int kToolNotStarted = -1;    // errno tells why
constexpr int kToolStillRunning = -2;  // the wait ended first; the program goes on

// Log of the simulated board: one line "program arg ..." per run.
constexpr const char* kSimToolsLog = "/sim/tools.log";

// Runs the program (looked up in PATH when the name has no '/') with the arguments, without a
// shell, and waits at most waitMs for it (a negative wait has no limit). A program that
// outlives the wait is never killed; it is reaped in the background when it ends. The board's
// or the simulated implementation, by kSimulatedBoard.
int runSystemTool(const std::string& program, const std::vector<std::string>& args, int waitMs);

// The two implementations, both in every build.
int runBoardSystemTool(const std::string& program, const std::vector<std::string>& args, int waitMs);
// Appends the line to kSimToolsLog and returns 0 at once; kToolNotStarted when the log cannot
// be written.
int runSimulatedSystemTool(const std::string& program, const std::vector<std::string>& args, int waitMs);

// Runs each program (a board path, mapped under the simulated root) with its arguments, all side
// by side and without a shell, and gives the first line each writes on its standard output (at
// most maxChars characters, the line end kept), or nothing for a program that could not start,
// ended without writing or had not finished its line within waitMs. Every child is stopped by
// its process id by then and reaped: the call returns within about waitMs.
struct TProgramLine {
    std::string program;
    std::vector<std::string> args;
    bool answered = false;
    std::string line;
};
void readFirstLines(std::vector<TProgramLine>& programs, size_t maxChars, int waitMs);

// Simulated board: the board's /opt programs as scripts that run the program of the same name
// from the folder `binDir` (the running benchview's), written when missing or different. Returns
// false when one cannot be written.
extern const char* const kBoardPrograms[5];
bool writeSimulatedPrograms(const std::string& binDir);
