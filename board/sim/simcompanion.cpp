// The simulated device I/O of the companion programs: the pass-through with sysfs attribute
// files, the shared line files and the wall-power edge FIFO; no FPGA model.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/time.h>
#include <fstream>
#include <map>
#include <mutex>
#include <time.h>
#include <sstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace simboard {

namespace {

bool isSysfs(const char* path) { return std::strncmp(path, "/sys/", 5) == 0; }
bool isWallPowerValue(const char* path) { return std::strcmp(path, "/sys/class/gpio/gpio114/value") == 0; }

std::string linePath(int line) { return "/sys/class/gpio/gpio" + std::to_string(line) + "/value"; }

// The shared line a board path names, or -1.
int sharedLineOf(const char* path)
{
    for (int line : {114, 121, 127})
        if (linePath(line) == path)
            return line;
    return -1;
}

void drainFd(int fd)
{
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

class TCompanionDeviceIO : public TDeviceIO {
public:
    int open(const char* path, int flags, mode_t mode) override
    {
        // A sysfs write replaces the whole value.
        // A sysfs attribute exists on the board: its file and folders are made on first write.
        if (isSysfs(path) && (flags & O_ACCMODE) != O_RDONLY) {
            flags |= O_TRUNC | O_CREAT, mode = mode ? mode : 0644;
            const std::string host = boardPath(path);
            for (size_t at = boardRoot().size() + 1; (at = host.find('/', at)) != std::string::npos; ++at)
                ::mkdir(host.substr(0, at).c_str(), 0755);
        }
        // A line nobody has written yet reads the scenario's level: it becomes the line's file.
        // A file seen once and gone later is an unreadable line, not a new one.
        const int line = sharedLineOf(path);
        if (line >= 0 && !lineKnown(line) && sharedLineFileLevel(line) < 0)
            writeSharedLineFile(line, scenarioLineLevel(scenario_, line));
        const int fd = base().open(path, flags, mode);
        if (fd >= 0 && isWallPowerValue(path)) {
            std::lock_guard<std::mutex> lock(mu_);
            wallFds_.insert(fd);
        }
        if (fd >= 0 && isSysfs(path) && (flags & O_ACCMODE) != O_RDONLY) {
            std::lock_guard<std::mutex> lock(mu_);
            sysfsWriters_[fd] = path;
        }
        return fd;
    }
    int close(int fd) override
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            wallFds_.erase(fd);
            sysfsWriters_.erase(fd);
        }
        return base().close(fd);
    }
    ssize_t read(int fd, void* buffer, size_t count) override
    {
        // Reading the value arms the next edge, as sysfs does: edges before it are gone.
        if (isWallFd(fd) && edgeFifo() >= 0)
            drainFd(edgeFifo());
        return base().read(fd, buffer, count);
    }
    ssize_t write(int fd, const void* buffer, size_t count) override
    {
        std::string path;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = sysfsWriters_.find(fd);
            if (it == sysfsWriters_.end())
                return base().write(fd, buffer, count);
            path = it->second;
        }
        // Each write of an attribute replaces its whole value, however many came before on the
        // descriptor; the log keeps every write with its time.
        if (::ftruncate(fd, 0) != 0 || base().lseek(fd, 0, SEEK_SET) != 0)
            return -1;
        const ssize_t n = base().write(fd, buffer, count);
        logSysfsWrite(path, std::string(static_cast<const char*>(buffer), count));
        return n;
    }
    off_t lseek(int fd, off_t offset, int whence) override { return base().lseek(fd, offset, whence); }
    int ioctl(int fd, unsigned long request, void* arg) override { return base().ioctl(fd, request, arg); }
    int poll(struct pollfd* fds, nfds_t count, int timeoutMs) override
    {
        // An edge of line 114 is a byte in the edge FIFO: watched in place of the value file.
        std::vector<struct pollfd> mapped(fds, fds + count);
        std::vector<bool> wall(count, false);
        const int fifo = edgeFifo();
        for (nfds_t i = 0; i < count; ++i) {
            if (fifo >= 0 && isWallFd(fds[i].fd) && (fds[i].events & POLLPRI)) {
                wall[i] = true;
                mapped[i] = {fifo, POLLIN, 0};
            }
        }
        const int n = base().poll(count ? mapped.data() : nullptr, count, timeoutMs);
        for (nfds_t i = 0; i < count; ++i) {
            fds[i].revents = mapped[i].revents;
            if (wall[i])
                fds[i].revents = (mapped[i].revents & POLLIN) ? POLLPRI : 0;
        }
        return n;
    }
    TRegisterWindow* mapRegisterWindow(int, size_t, off_t) override
    {
        errno = ENODEV;
        return nullptr;
    }
    int unmapRegisterWindow(TRegisterWindow*) override { return -1; }
    void syncAll() override { base().syncAll(); }
    void loadScenario()
    {
        std::ifstream in(boardPath(kScenarioPath));
        std::stringstream text;
        text << in.rdbuf();
        TScenario s;
        if (in && parseScenario(text.str(), &s))
            scenario_ = s;
    }

private:
    TScenario scenario_ = defaultScenario();
    std::map<int, std::string> sysfsWriters_;

    static void logSysfsWrite(const std::string& path, const std::string& text)
    {
        struct timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "%lld.%06ld ", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
        const std::string line = stamp + path + " " + text + "\n";
        const int fd = ::open(boardPath(kSysfsLogPath).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        if (::write(fd, line.data(), line.size()) < 0) {
        }
        ::close(fd);
    }
    std::mutex mu_;
    std::set<int> wallFds_;
    int fifo_ = -2;

    static TDeviceIO& base() { return passThroughDeviceIO(); }
    std::set<int> knownLines_;
    bool lineKnown(int line)
    {
        std::lock_guard<std::mutex> lock(mu_);
        return !knownLines_.insert(line).second;
    }
    bool isWallFd(int fd)
    {
        std::lock_guard<std::mutex> lock(mu_);
        return wallFds_.count(fd) != 0;
    }
    int edgeFifo()
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (fifo_ == -2) {
            const std::string path = boardPath(kWallPowerEdgePath);
            ::mkfifo(path.c_str(), 0644);
            // Read-write: held open for the program's life, so a writer never blocks nor fails.
            fifo_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        }
        return fifo_;
    }
};

} // namespace

void installCompanionDeviceIO()
{
    static TCompanionDeviceIO* io = new TCompanionDeviceIO;  // never destroyed
    io->loadScenario();
    setDeviceIO(io);
}

bool prepareCompanionBoard(TScenario* scenario)
{
    resolveBoardRoot();
    std::ifstream in(boardPath(kScenarioPath));
    std::stringstream text;
    text << in.rdbuf();
    const bool read = in && parseScenario(text.str(), scenario);
    if (!read)
        *scenario = defaultScenario();
    installCompanionDeviceIO();
    return read;
}

bool signalWallPowerEdge()
{
    const int fd = ::open(boardPath(kWallPowerEdgePath).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;  // no daemon holds the FIFO
    const bool ok = ::write(fd, "e", 1) == 1;
    ::close(fd);
    return ok;
}

bool setWallPower(bool on)
{
    const bool ok = writeSharedLineFile(114, on ? 1 : 0);
    signalWallPowerEdge();
    return ok;
}

bool isSharedLine(int line) { return line == 114 || line == 121 || line == 127; }

int sharedLineFileLevel(int line)
{
    if (!isSharedLine(line) || boardRoot().empty())
        return -1;
    const int fd = ::open(boardPath(linePath(line).c_str()).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    ::close(fd);
    return n == 1 && c == '1' ? 1 : 0;  // empty: a writer truncated it this moment
}

bool writeSharedLineFile(int line, int level)
{
    if (!isSharedLine(line) || boardRoot().empty())
        return false;
    const std::string dir = "/sys/class/gpio/gpio" + std::to_string(line);
    for (const std::string& d : {std::string("/sys"), std::string("/sys/class"), std::string("/sys/class/gpio"), dir})
        ::mkdir(boardPath(d.c_str()).c_str(), 0755);
    // A new file renamed into place: a reader never sees it empty.
    const std::string path = boardPath(linePath(line).c_str());
    const std::string temp = path + ".new" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, level ? "1\n" : "0\n", 2) == 2;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

int scenarioLineLevel(const TScenario& scenario, int line)
{
    for (const auto& g : scenario.gpioInputs)
        if (g.first == line)
            return g.second ? 1 : 0;
    return line == 114 && scenario.battery.wallPower ? 1 : 0;
}

} // namespace simboard

namespace simboard {

int makeCompanionKeyFifo()
{
    const std::string path = boardPath(kCompanionKeyPath);
    for (size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at)
        ::mkdir(path.substr(0, at).c_str(), 0755);
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0644) != 0)
        return -1;
    // Read-write: the reader never sees an end of file between presses, and opening never blocks.
    return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

bool writePowerKeyRecord(int fd, int value)
{
    struct input_event ev {};
    struct timeval now;
    ::gettimeofday(&now, nullptr);
    ev.input_event_sec = now.tv_sec;
    ev.input_event_usec = now.tv_usec;
    ev.type = EV_KEY;
    ev.code = 47;
    ev.value = value;
    return ::write(fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
}

} // namespace simboard
