#include "board/deviceio.h"

#include "board/board.h"
#include "board/simgadget.h"

#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Volatile 16-bit accesses to the mapped device memory.
class TMappedWindow : public TRegisterWindow {
public:
    TMappedWindow(void* base, size_t length) : base_(static_cast<volatile uint16_t*>(base)), length_(length) {}
    uint16_t read16(uint32_t word) override { return word < length_ / 2 ? base_[word] : 0; }
    void write16(uint32_t word, uint16_t value) override
    {
        if (word < length_ / 2)
            base_[word] = value;
    }
    void* base() const { return const_cast<uint16_t*>(base_); }
    size_t length() const { return length_; }

private:
    volatile uint16_t* base_;
    size_t length_;
};

class TRealDeviceIO : public TDeviceIO {
public:
    int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    int close(int fd) override { return ::close(fd); }
    ssize_t read(int fd, void* buffer, size_t count) override { return ::read(fd, buffer, count); }
    ssize_t write(int fd, const void* buffer, size_t count) override { return ::write(fd, buffer, count); }
    off_t lseek(int fd, off_t offset, int whence) override { return ::lseek(fd, offset, whence); }
    int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
    int poll(struct pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
    TRegisterWindow* mapRegisterWindow(int fd, size_t length, off_t offset) override
    {
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return p == MAP_FAILED ? nullptr : new TMappedWindow(p, length);
    }
    int unmapRegisterWindow(TRegisterWindow* window) override
    {
        auto* w = static_cast<TMappedWindow*>(window);
        if (!w)
            return -1;
        int rc = ::munmap(w->base(), w->length());
        delete w;
        return rc;
    }
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
