// The simulated device I/O of the companion programs: the pass-through with sysfs attribute
// files, the shared line files and the wall-power edge FIFO; no FPGA model.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace simboard {

namespace {

bool isSysfs(const char* path) { return std::strncmp(path, "/sys/", 5) == 0; }
bool isWallPowerValue(const char* path) { return std::strcmp(path, "/sys/class/gpio/gpio114/value") == 0; }

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
        if (isSysfs(path) && (flags & O_ACCMODE) != O_RDONLY)
            flags |= O_TRUNC | O_CREAT, mode = mode ? mode : 0644;
        const int fd = base().open(path, flags, mode);
        if (fd >= 0 && isWallPowerValue(path)) {
            std::lock_guard<std::mutex> lock(mu_);
            wallFds_.insert(fd);
        }
        return fd;
    }
    int close(int fd) override
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            wallFds_.erase(fd);
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
    ssize_t write(int fd, const void* buffer, size_t count) override { return base().write(fd, buffer, count); }
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

private:
    std::mutex mu_;
    std::set<int> wallFds_;
    int fifo_ = -2;

    static TDeviceIO& base() { return passThroughDeviceIO(); }
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
    setDeviceIO(io);
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
    const std::string path = boardPath("/sys/class/gpio/gpio114/value");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, on ? "1\n" : "0\n", 2) == 2;
    ::close(fd);
    signalWallPowerEdge();
    return ok;
}

} // namespace simboard
