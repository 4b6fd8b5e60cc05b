// The programs running on the simulated board: each one notes itself under <root>/sim/programs,
// so that the simulated power cut ends all of them, as a real cut would, whoever started them.
#include "board/board.h"
#include "board/sim/simboard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace simboard {

namespace {

constexpr const char* kProgramsDir = "/sim/programs";

// Start time of a process (field 22 of /proc/<pid>/stat), "" when it is gone; with the pid it
// names one process, whatever pid reuse happens later.
std::string startTimeOf(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    char buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return "";
    buffer[n] = '\0';
    // The name in parentheses may hold blanks: count the fields after its closing one.
    const char* p = std::strrchr(buffer, ')');
    if (!p)
        return "";
    int field = 2;
    while (*p && field < 22) {
        if (*p == ' ')
            ++field;
        ++p;
    }
    const char* end = p;
    while (*end && *end != ' ')
        ++end;
    return std::string(p, end);
}

std::string entryPath(pid_t pid)
{
    return boardPath(std::string(kProgramsDir) + "/" + std::to_string(pid));
}

// The entry's process when it still runs (same start time), else 0 (the entry is stale).
pid_t liveProgram(const std::string& name)
{
    char* end = nullptr;
    const long pid = std::strtol(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0' || pid <= 0)
        return 0;
    const int fd = ::open(entryPath(static_cast<pid_t>(pid)).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    buffer[n] = '\0';
    const char* stamp = std::strchr(buffer, ' ');
    std::string started = stamp ? std::string(stamp + 1) : std::string();
    while (!started.empty() && (started.back() == '\n' || started.back() == ' '))
        started.pop_back();
    const std::string now = startTimeOf(static_cast<pid_t>(pid));
    return !now.empty() && now == started ? static_cast<pid_t>(pid) : 0;
}

// Calls f(entry name, live pid or 0) for every entry.
template <typename F>
void forEachEntry(F f)
{
    DIR* d = ::opendir(boardPath(kProgramsDir).c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string name = e->d_name;
        f(name, liveProgram(name));
    }
    ::closedir(d);
}

} // namespace

void registerBoardProgram(const char* name)
{
    ::mkdir(boardPath("/sim").c_str(), 0755);
    ::mkdir(boardPath(kProgramsDir).c_str(), 0755);
    forEachEntry([](const std::string& entry, pid_t pid) {
        if (pid == 0)
            ::unlink(boardPath(std::string(kProgramsDir) + "/" + entry).c_str());
    });
    const pid_t self = ::getpid();
    const std::string text = std::string(name) + " " + startTimeOf(self) + "\n";
    writeBoardFile((std::string(kProgramsDir) + "/" + std::to_string(self)).c_str(), text);
}

int endBoardPrograms()
{
    int ended = 0;
    const pid_t self = ::getpid();
    forEachEntry([&](const std::string& entry, pid_t pid) {
        if (pid == self)
            return;
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            ++ended;
        ::unlink(boardPath(std::string(kProgramsDir) + "/" + entry).c_str());
    });
    ::unlink(entryPath(self).c_str());
    return ended;
}

} // namespace simboard
