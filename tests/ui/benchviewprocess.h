// Runs the built benchview as a child process with its own simulated-board root and port
// offset. The child is killed and reaped when the object goes, whatever the test's outcome.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

class BenchviewProcess {
public:
    BenchviewProcess() = default;
    BenchviewProcess(const BenchviewProcess&) = delete;
    BenchviewProcess& operator=(const BenchviewProcess&) = delete;
    ~BenchviewProcess() { kill(); }

    // Starts the program; with captureStdout its standard output goes into a pipe read by
    // takeStdout() (for short runs only). False when the spawn failed.
    bool start(const std::vector<std::string>& args, const std::string& root, int portOffset,
               bool captureStdout = false)
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "BENCHVIEW_SIMROOT=", 18) != 0 && std::strncmp(*e, "BENCHVIEW_PORT_OFFSET=", 22) != 0)
                env.emplace_back(*e);
        }
        env.push_back("BENCHVIEW_SIMROOT=" + root);
        env.push_back("BENCHVIEW_PORT_OFFSET=" + std::to_string(portOffset));
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(&e[0]);
        envp.push_back(nullptr);

        std::string exe = BENCHVIEW_EXE;
        std::vector<std::string> argStorage{exe};
        argStorage.insert(argStorage.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStorage)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int fds[2] = {-1, -1};
        if (captureStdout) {
            if (pipe(fds) != 0)
                return false;
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
            posix_spawn_file_actions_addclose(&actions, fds[0]);
            posix_spawn_file_actions_addclose(&actions, fds[1]);
        }
        int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (captureStdout) {
            close(fds[1]);
            stdoutFd_ = fds[0];
        }
        if (rc != 0) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    // True once the child has ended (its wait status in *status); false at the time-out.
    bool waitExit(std::chrono::milliseconds timeout, int* status)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            if (exited())
                break;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        *status = status_;
        return true;
    }

    bool running() { return pid_ > 0 && !exited(); }
    pid_t pid() const { return pid_; }

    std::string takeStdout()
    {
        std::string out;
        if (stdoutFd_ < 0)
            return out;
        char buf[256];
        ssize_t n;
        while ((n = read(stdoutFd_, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        close(stdoutFd_);
        stdoutFd_ = -1;
        return out;
    }

    void kill()
    {
        if (pid_ > 0 && !exited()) {
            ::kill(pid_, SIGKILL);
            while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
            }
            reaped_ = true;
        }
        pid_ = -1;
        reaped_ = false;
        if (stdoutFd_ >= 0) {
            close(stdoutFd_);
            stdoutFd_ = -1;
        }
    }

private:
    bool exited()
    {
        if (reaped_)
            return true;
        if (pid_ <= 0)
            return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_)
            reaped_ = true;
        return reaped_;
    }

    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    int stdoutFd_ = -1;
};

// Polls for a path until it exists, the child ends, or the time-out passes.
inline bool waitForPath(BenchviewProcess& process, const std::string& path, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    struct stat st;
    while (stat(path.c_str(), &st) != 0) {
        if (!process.running() || std::chrono::steady_clock::now() >= deadline)
            return stat(path.c_str(), &st) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}
