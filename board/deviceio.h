// One seam for every device access of the program: board paths in, POSIX results out
// (-1 and errno on failure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <poll.h>
#include <sys/types.h>

// A mapped register window of 16-bit words (word = byte offset / 2).
class TRegisterWindow {
public:
    virtual ~TRegisterWindow() = default;
    virtual uint16_t read16(uint32_t word) = 0;
    virtual void write16(uint32_t word, uint16_t value) = 0;
};

class TDeviceIO {
public:
    virtual ~TDeviceIO() = default;
    virtual int open(const char* boardPath, int flags, mode_t mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual ssize_t write(int fd, const void* buffer, size_t count) = 0;
    virtual off_t lseek(int fd, off_t offset, int whence) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int poll(struct pollfd* fds, nfds_t count, int timeoutMs) = 0;
    // Shared read/write mapping of a device's register window; nullptr on failure.
    virtual TRegisterWindow* mapRegisterWindow(int fd, size_t length, off_t offset) = 0;
    virtual int unmapRegisterWindow(TRegisterWindow* window) = 0;
    // The file-system sync that ends every save.
    virtual void syncAll() = 0;

    // Quick calibration: the start-up self test runs between quickCalibration(true) and
    // quickCalibration(false). A board model that needs no wall time to settle or to acquire
    // then ends its acquisitions as soon as their samples are computed and lets skipHardwareWait
    // move its clock ahead. Real devices have neither: the defaults do nothing.
    virtual void quickCalibration(bool) {}
    // A wait for the hardware of ms milliseconds (settling, an armed acquisition running): true
    // when the model took it in its own time, so the caller need not sleep.
    virtual bool skipHardwareWait(int) { return false; }
};

// Plain system calls on the given paths: the board build.
TDeviceIO& realDeviceIO();
// Every path through boardPath() to the files under the simulated-board root; a device without
// a model is simply absent (ENOENT).
TDeviceIO& passThroughDeviceIO();

// The active implementation: the real one on the board, the simulated one on the desktop,
// or whatever a test or the board simulation installed.
TDeviceIO& deviceIO();
// Installs an implementation (not owned); nullptr restores the build's default.
void setDeviceIO(TDeviceIO* io);
