#include "tests/support/benchviewprocess.h"

#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::chrono::milliseconds kPollInterval(10);

std::string variableName(const std::string& entry)
{
    return entry.substr(0, entry.find('='));
}

// The overrides, then the inherited environment without the names they replace.
std::vector<std::string> childEnvironment(const BenchviewProcess::Options& options)
{
    std::vector<std::string> env{
        "BENCHVIEW_SIMROOT=" + options.root,
        "BENCHVIEW_PORT_OFFSET=" + std::to_string(options.portOffset),
    };
    env.insert(env.end(), options.environment.begin(), options.environment.end());
    const size_t overrides = env.size();
    for (char** e = environ; *e; ++e) {
        std::string name = variableName(*e);
        bool overridden = false;
        for (size_t i = 0; i < overrides && !overridden; ++i)
            overridden = variableName(env[i]) == name;
        if (!overridden)
            env.emplace_back(*e);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (std::string& s : strings)
        p.push_back(&s[0]);
    p.push_back(nullptr);
    return p;
}

template <typename Predicate>
bool pollUntil(Predicate done, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

} // namespace

BenchviewProcess::Options BenchviewProcess::Options::headless(const std::string& root, int portOffset)
{
    Options options;
    options.root = root;
    options.portOffset = portOffset;
    options.environment = {"QT_QPA_PLATFORM=offscreen", "QT_QUICK_BACKEND=software"};
    options.logPath = root + "/benchview.log";
    return options;
}

bool BenchviewProcess::start(const std::string& executable, const Options& options)
{
    kill();
    std::vector<std::string> env = childEnvironment(options);
    std::vector<char*> envp = pointers(env);
    std::vector<std::string> args{executable};
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv = pointers(args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    logPath_ = options.logPath;
    if (!logPath_.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    int fds[2] = {-1, -1};
    if (options.captureStdout) {
        // Close-on-exec: only the child's standard output keeps the writing end.
        if (pipe2(fds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return false;
        }
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    }
    int rc = posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (options.captureStdout) {
        ::close(fds[1]);
        stdoutFd_ = fds[0];
    }
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool BenchviewProcess::waitExit(std::chrono::milliseconds timeout, int* status)
{
    if (!pollUntil([&] { return exited(); }, timeout))
        return false;
    *status = status_;
    return true;
}

bool BenchviewProcess::running()
{
    return pid_ > 0 && !exited();
}

bool BenchviewProcess::exited()
{
    if (reaped_)
        return true;
    if (pid_ <= 0)
        return false;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_)
        reaped_ = true;
    return reaped_;
}

void BenchviewProcess::kill()
{
    if (pid_ > 0 && !exited()) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    reaped_ = false;
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
        stdoutFd_ = -1;
    }
}

std::string BenchviewProcess::takeStdout()
{
    std::string out;
    if (stdoutFd_ < 0)
        return out;
    char buf[256];
    ssize_t n;
    while ((n = ::read(stdoutFd_, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
    }
    ::close(stdoutFd_);
    stdoutFd_ = -1;
    return out;
}

std::string BenchviewProcess::log() const
{
    return readWholeFile(logPath_);
}

std::vector<std::string> BenchviewProcess::threads(const std::string& name) const
{
    std::vector<std::string> ids;
    if (pid_ <= 0)
        return ids;
    const std::string dir = "/proc/" + std::to_string(pid_) + "/task";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return ids;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream comm(dir + "/" + e->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name)
            ids.push_back(e->d_name);
    }
    ::closedir(d);
    return ids;
}

bool BenchviewProcess::waitForThread(const std::string& name, std::chrono::milliseconds timeout)
{
    return pollUntil([&] { return !running() || !threads(name).empty(); }, timeout) && running();
}

long BenchviewProcess::threadCpuTicks(const std::string& tid) const
{
    std::ifstream in("/proc/" + std::to_string(pid_) + "/task/" + tid + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The fields after the command name, which may hold spaces and parentheses itself.
    size_t nameEnd = all.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 > all.size())
        return 0;  // the thread has gone
    std::istringstream fields(all.substr(nameEnd + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14)
            utime = std::atol(f.c_str());
        if (i == 15)
            stime = std::atol(f.c_str());
    }
    return utime + stime;
}

bool BenchviewProcess::waitForPath(const std::string& path, std::chrono::milliseconds timeout)
{
    struct stat st;
    auto exists = [&] { return ::stat(path.c_str(), &st) == 0; };
    return pollUntil([&] { return exists() || !running(); }, timeout) && exists();
}

std::string programOutput(const std::string& executable, const std::string& argument, int* status)
{
    BenchviewProcess p;
    BenchviewProcess::Options o;
    o.args = {argument};
    o.captureStdout = true;
    o.root = ::testing::TempDir() + "version-answer";
    *status = -1;
    if (!p.start(executable, o) || !p.waitExit(std::chrono::seconds(10), status))
        return std::string();
    return p.takeStdout();
}
