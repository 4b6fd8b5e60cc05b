#include "board/systools.h"

#include "board/board.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

int statusOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return 0;
}

// The child is not ours to stop: a thread waits for it so that it leaves no zombie.
void reapLater(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

int runBoardSystemTool(const std::string& program, const std::vector<std::string>& args, int waitMs)
{
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : storage)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // The child starts with no blocked signal and the default actions, whatever this thread has.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return kToolNotStarted;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, waitMs < 0 ? 0 : WNOHANG);
        if (r == pid)
            return statusOf(status);
        if (r < 0 && errno != EINTR)
            return kToolNotStarted;  // somebody else reaped it: its status is lost
        if (waitMs >= 0 && Clock::now() >= deadline) {
            reapLater(pid);
            return kToolStillRunning;
        }
        if (r == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int runSimulatedSystemTool(const std::string& program, const std::vector<std::string>& args, int)
{
    std::string line = program;
    for (const auto& a : args)
        line += " " + a;
    line += "\n";
    int fd = ::open(boardPath(kSimToolsLog).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return kToolNotStarted;
    // One write per line: runs from several threads never interleave within a line.
    ssize_t written = ::write(fd, line.data(), line.size());
    int saved = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(line.size())) {
        errno = written < 0 ? saved : EIO;
        return kToolNotStarted;
    }
    return 0;
}

int runSystemTool(const std::string& program, const std::vector<std::string>& args, int waitMs)
{
    return kSimulatedBoard ? runSimulatedSystemTool(program, args, waitMs)
                           : runBoardSystemTool(program, args, waitMs);
}
