#include "board/deviceio.h"

#include "board/board.h"
#include "board/simgadget.h"

#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

class TRealDeviceIO : public TDeviceIO {
public:
    int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    int close(int fd) override { return ::close(fd); }
    ssize_t read(int fd, void* buffer, size_t count) override { return ::read(fd, buffer, count); }
    ssize_t write(int fd, const void* buffer, size_t count) override { return ::write(fd, buffer, count); }
    off_t lseek(int fd, off_t offset, int whence) override { return ::lseek(fd, offset, whence); }
    int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
    int poll(struct pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
    void* mapRegisterWindow(int fd, size_t length, off_t offset) override
    {
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return p == MAP_FAILED ? nullptr : p;
    }
    int unmapRegisterWindow(void* window, size_t length) override { return ::munmap(window, length); }
    void syncAll() override { ::sync(); }
};

class TPassThroughDeviceIO : public TRealDeviceIO {
public:
    int open(const char* path, int flags, mode_t mode) override
    {
        if (isSimulatedGadget(path))
            return openSimulatedGadget(flags);
        return TRealDeviceIO::open(boardPath(path).c_str(), flags, mode);
    }
    // Only the file system of the simulated root: the host's other disks are not ours.
    void syncAll() override
    {
        int fd = ::open(boardRoot().c_str(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
        }
    }
};

std::atomic<TDeviceIO*> g_installed{nullptr};

} // namespace

TDeviceIO& realDeviceIO()
{
    static TDeviceIO* io = new TRealDeviceIO();
    return *io;
}

TDeviceIO& passThroughDeviceIO()
{
    static TDeviceIO* io = new TPassThroughDeviceIO();
    return *io;
}

TDeviceIO& deviceIO()
{
    if (TDeviceIO* io = g_installed.load(std::memory_order_acquire))
        return *io;
    return kSimulatedBoard ? passThroughDeviceIO() : realDeviceIO();
}

void setDeviceIO(TDeviceIO* io)
{
    g_installed.store(io, std::memory_order_release);
}
