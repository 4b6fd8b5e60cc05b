// Runs the built benchview as a child process on a simulated-board root and port offset of the
// test's own. The child is killed and reaped when the object goes, whatever the test's outcome.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class BenchviewProcess {
public:
    struct Options {
        std::vector<std::string> args;         // after the program name
        std::string root;                      // BENCHVIEW_SIMROOT
        int portOffset = 0;                    // BENCHVIEW_PORT_OFFSET
        std::vector<std::string> environment;  // more "NAME=value"; each replaces the inherited NAME
        // Standard output and error go into this file (truncated), standard input is /dev/null.
        std::string logPath;
        // Standard output goes into a pipe read by takeStdout() (for short runs only).
        bool captureStdout = false;

        // Without a display (Qt offscreen, software rendering), its output in <root>/benchview.log.
        static Options headless(const std::string& root, int portOffset);
    };

    BenchviewProcess() = default;
    BenchviewProcess(const BenchviewProcess&) = delete;
    BenchviewProcess& operator=(const BenchviewProcess&) = delete;
    ~BenchviewProcess() { kill(); }

    // False when the spawn failed.
    bool start(const std::string& executable, const Options& options);

    // True once the child has ended (its wait status in *status); false at the time-out.
    bool waitExit(std::chrono::milliseconds timeout, int* status);
    bool running();
    pid_t pid() const { return pid_; }
    void kill();

    std::string takeStdout();
    // What the child wrote to its log file so far.
    std::string log() const;

    // Ids of the child's threads with that kernel name (the controller names the threads it starts).
    std::vector<std::string> threads(const std::string& name) const;
    // True once the child has a thread of that name; false when it ends first or at the time-out.
    bool waitForThread(const std::string& name, std::chrono::milliseconds timeout);
    // User and system time of one thread, in clock ticks.
    long threadCpuTicks(const std::string& tid) const;

    // True once the host path exists; false when the child ends first or at the time-out.
    bool waitForPath(const std::string& path, std::chrono::milliseconds timeout);

private:
    bool exited();

    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    int stdoutFd_ = -1;
    std::string logPath_;
};

// A built program's standard output for one argument (its version answer), run on an empty root
// of the test's; *status its exit status (-1 when it did not end within 10 s).
std::string programOutput(const std::string& executable, const std::string& argument, int* status);
