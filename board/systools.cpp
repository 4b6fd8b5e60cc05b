#include "board/systools.h"

#include "board/board.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
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

// Spawns the program with its arguments, without a shell; the child starts with no blocked
// signal and the default actions, whatever this thread has. posix_spawn's result.
int spawnProgram(pid_t* pid, const std::string& program, const std::vector<std::string>& args,
                 const posix_spawn_file_actions_t* actions, bool searchPath)
{
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : storage)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

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
    int rc = searchPath ? posix_spawnp(pid, program.c_str(), actions, &attr, argv.data(), environ)
                        : posix_spawn(pid, program.c_str(), actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc;
}

} // namespace

int runBoardSystemTool(const std::string& program, const std::vector<std::string>& args, int waitMs)
{
    pid_t pid = -1;
    int rc = spawnProgram(&pid, program, args, nullptr, true);
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

namespace {

struct TChild {
    pid_t pid = -1;
    int fd = -1;
    bool lineDone = false;
};

pid_t spawnWithPipe(const std::string& path, const std::vector<std::string>& args, int* readFd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    int rc = spawnProgram(&pid, path, args, &actions, false);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        errno = rc;
        return -1;
    }
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    *readFd = fds[0];
    return pid;
}

} // namespace

void readFirstLines(std::vector<TProgramLine>& programs, size_t maxChars, int waitMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs);
    std::vector<TChild> children(programs.size());
    for (size_t i = 0; i < programs.size(); ++i) {
        programs[i].answered = false;
        programs[i].line.clear();
        children[i].pid = spawnWithPipe(boardPath(programs[i].program), programs[i].args, &children[i].fd);
        children[i].lineDone = children[i].pid < 0;
    }

    // Reads every pipe until each child has given its line or closed its output.
    for (;;) {
        std::vector<pollfd> polls;
        std::vector<size_t> owners;
        for (size_t i = 0; i < children.size(); ++i)
            if (!children[i].lineDone) {
                polls.push_back({children[i].fd, POLLIN, 0});
                owners.push_back(i);
            }
        if (polls.empty())
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        int n = ::poll(polls.data(), polls.size(), static_cast<int>(left));
        if (n < 0 && errno != EINTR)
            break;
        for (size_t k = 0; k < polls.size() && n > 0; ++k) {
            if (!polls[k].revents)
                continue;
            TChild& child = children[owners[k]];
            TProgramLine& program = programs[owners[k]];
            char c = 0;
            ssize_t r = 0;
            while (!child.lineDone && (r = ::read(child.fd, &c, 1)) == 1) {
                program.line += c;
                if (c == '\n' || program.line.size() >= maxChars) {
                    child.lineDone = true;
                    program.answered = true;
                }
            }
            if (!child.lineDone && (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR))) {
                // Ended: a last line without its end still counts.
                child.lineDone = true;
                program.answered = !program.line.empty();
            }
        }
    }

    for (size_t i = 0; i < children.size(); ++i) {
        if (children[i].fd >= 0)
            ::close(children[i].fd);
        if (!children[i].lineDone)
            programs[i].line.clear();
    }
    // The children are given until the deadline to end; the rest are stopped.
    for (size_t i = 0; i < children.size(); ++i) {
        pid_t pid = children[i].pid;
        if (pid < 0)
            continue;
        int status = 0;
        for (;;) {
            pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid || (r < 0 && errno != EINTR))
                break;
            if (Clock::now() >= deadline) {
                ::kill(pid, SIGKILL);
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}

const char* const kBoardPrograms[5] = {"benchview", "fetchup", "cellwarden", "chargeview", "flashnote"};

bool writeSimulatedPrograms(const std::string& binDir)
{
    if (!kSimulatedBoard)
        return true;
    // binDir inside single quotes, each quote written as '\''.
    std::string quoted = "'";
    for (char c : binDir)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    ::mkdir(boardPath("/opt").c_str(), 0755);
    bool ok = true;
    for (const char* name : kBoardPrograms) {
        const std::string script = "#!/bin/sh\nexec " + quoted + "/" + name + " \"$@\"\n";
        const std::string path = boardPath(std::string("/opt/") + name);
        std::string current;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            char buf[512];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                current.append(buf, n);
            std::fclose(f);
        }
        struct stat st {};
        if (current == script && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0111) == 0111)
            continue;
        ::unlink(path.c_str());
        ok = writeBoardFile((std::string("/opt/") + name).c_str(), script) && ::chmod(path.c_str(), 0755) == 0 && ok;
    }
    return ok;
}
