// Shared pieces of the benchmark programs: a simulated board of their own for the run, and the
// checking of measured figures against their targets.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <sys/types.h>
#include <string>
#include <vector>

namespace benchsupport {

struct TBoardOptions {
    bool fpgaConfigured = false;  // force the FPGA configured at power-on (no image load)
    bool mapWindow = false;       // open /dev/uio0 and map the register window into pv_g_fpgaIoMem
    bool loadInitialSetup = false; // copy init_par into data
};

// The board the driver benchmarks run on: FPGA configured, register window mapped, initial setup.
inline TBoardOptions driverBoardOptions()
{
    TBoardOptions options;
    options.fpgaConfigured = true;
    options.mapWindow = true;
    options.loadInitialSetup = true;
    return options;
}

// A simulated board under a temporary root, installed for the lifetime of the object; the root
// is removed afterwards. Check ok() before running: on failure the reason is already on stderr.
class TBenchBoard {
public:
    explicit TBenchBoard(const TBoardOptions& options = TBoardOptions());
    ~TBenchBoard();
    TBenchBoard(const TBenchBoard&) = delete;
    TBenchBoard& operator=(const TBenchBoard&) = delete;

    bool ok() const { return ok_; }

private:
    std::string root_;
    int uio_ = -1;
    bool installed_ = false;
    bool ok_ = false;
};

// Median of the samples (reorders them); 0 when there are none.
double median(std::vector<double>& samples);

// Real time per iteration of a run, in the given unit.
double realTime(const benchmark::BenchmarkReporter::Run& run, benchmark::TimeUnit unit);

// Records measured figures against their targets, prints one "OK: ..." or "MISS: ..." line for
// each, and gives the exit status of the program (1 once anything missed).
class TTargetChecker {
public:
    // "<what> <value> <unit> <= <target> <unit> target"; a miss when failed or value > target.
    bool record(const char* what, double value, double target, const char* unit, int precision,
                bool failed = false);
    // A free-form line: format takes the one value.
    bool check(bool ok, const char* format, double value);

    bool missed() const { return missed_; }
    int exitStatus() const { return missed_ ? 1 : 0; }

private:
    bool missed_ = false;
};

// Console reporter that hands every iteration run, once printed, to a check.
class TTargetReporter : public benchmark::ConsoleReporter {
public:
    using TCheck = std::function<void(const Run& run, TTargetChecker& checker)>;
    TTargetReporter(TTargetChecker& checker, TCheck check);
    void ReportRuns(const std::vector<Run>& runs) override;

private:
    TTargetChecker& checker_;
    TCheck check_;
};
using TRun = benchmark::BenchmarkReporter::Run;

// A user counter of a run, 0 when it has none (a skipped run).
double counter(const TRun& run, const char* name);

// Runs the benchmarks selected on the command line through a TTargetReporter with this check,
// shuts the library down and gives the exit status.
int runChecked(TTargetReporter::TCheck check);

// benchview run as a child process on a simulated board of its own under a temporary root, its
// ports moved by an offset claimed like the tests do (an abstract socket named after it, released
// by the kernel when the process ends), so that parallel runs never collide.
struct TProgram {
    pid_t pid = -1;
    std::string root;
    int portOffset = 0;
};

#ifdef BENCHVIEW_EXE
#define BENCHSUPPORT_BUILT_PROGRAM BENCHVIEW_EXE
#else
#define BENCHSUPPORT_BUILT_PROGRAM nullptr
#endif

// Starts $BENCHVIEW_EXE, else builtProgram (the one built with the calling benchmark), off screen
// with its output in <root>/benchview.log; `env` ("NAME=value") and the board root and port
// offset override the inherited environment. False, with the reason on stderr, when it cannot.
bool startProgram(TProgram* p, const std::vector<std::string>& env,
                  const char* builtProgram = BENCHSUPPORT_BUILT_PROGRAM);
// Kills the program and removes its root (kept with $BENCHVIEW_KEEP_SIMROOT).
void stopProgram(TProgram* p);

// The baseline server of the loopback benchmarks (bench/support/echo_server.cpp), run as a
// process of its own like benchview: "tcp" answers every line with `reply`, "udp" every
// datagram. False, with the reason on stderr, when it cannot start or names no port.
struct TEchoProgram {
    pid_t pid = -1;
    int port = 0;
};

#ifdef BENCH_ECHO_EXE
#define BENCHSUPPORT_ECHO_PROGRAM BENCH_ECHO_EXE
#else
#define BENCHSUPPORT_ECHO_PROGRAM nullptr
#endif

bool startEchoProgram(TEchoProgram* p, const char* kind, const std::string& reply,
                      const char* program = BENCHSUPPORT_ECHO_PROGRAM);
void stopEchoProgram(TEchoProgram* p);

// Alternating rounds against a baseline and a subject: the median rate of each and their ratio.
struct TRoundFigures {
    double baseline = 0.0;
    double subject = 0.0;
    double ratio() const { return baseline > 0.0 ? subject / baseline : 0.0; }
};
// Runs `round` (target 0 the baseline, 1 the subject; returns the operations done, negative on
// failure) `rounds` times each, alternating, and gives the median operations a second.
bool alternateRounds(int rounds, const std::function<long(int target)>& round, TRoundFigures* figures);

// A port offset no other benchmark or test run holds, kept for the life of the process, with the
// served ports clear of the client ports (claimPortOffset in board/ports.h).
int claimPortOffset();

// A loopback TCP client (no delay), retried until the time-out: the descriptor, or -1.
// receiveBuffer > 0 shrinks its receive buffer (a client slow to take replies).
int connectLoopback(int port, int timeoutMs, int receiveBuffer = 0);
// Sends all len bytes (no SIGPIPE from a peer that went); false when the peer is gone.
bool sendAll(int fd, const char* data, size_t len);

} // namespace benchsupport
