// The simulated board's side of the device-I/O seam: routes modelled device paths to virtual
// descriptors (a high range, never a real descriptor) and everything else to the files under the
// simulated-board root. Device nodes under /dev without a model and without a file answer
// ENODEV.
#include "board/sim/simstate.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "board/simgadget.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <cstdio>
#include <ctime>
#include <linux/i2c-dev.h>
#include <linux/rtc.h>
#include <linux/spi/spidev.h>
#include <sys/stat.h>
#include <vector>

namespace simboard {

namespace {

constexpr uint32_t kRegisterSpeedHz = 6250000;
constexpr uint8_t kRegisterMode = SPI_MODE_1;

struct TRoute {
    TDevKind kind;
    TSysfsNode node = TSysfsNode::GpioValue;
    int gpio = -1;
    int evdev = 0;
};

// The real-time clock: a set is checked like a real clock's and stored in kSimRtcFile; a read
// gives the stored time, or the host's before any set.
bool validClockTime(const struct rtc_time& t)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.tm_year < 70 || t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_hour < 0 || t.tm_hour > 23
        || t.tm_min < 0 || t.tm_min > 59 || t.tm_sec < 0 || t.tm_sec > 59)
        return false;
    const int year = t.tm_year + 1900;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return t.tm_mday <= kDays[t.tm_mon] + (t.tm_mon == 1 && leap ? 1 : 0);
}

int rtcIoctl(unsigned long request, void* arg)
{
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    auto* t = static_cast<struct rtc_time*>(arg);
    const std::string file = boardPath(kSimRtcFile);
    if (request == RTC_SET_TIME) {
        if (!validClockTime(*t)) {
            errno = EINVAL;
            return -1;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d\n", t->tm_year + 1900, t->tm_mon + 1,
                      t->tm_mday, t->tm_hour, t->tm_min, t->tm_sec);
        std::FILE* out = std::fopen(file.c_str(), "w");
        if (!out || std::fputs(text, out) < 0 || std::fclose(out) != 0) {
            errno = EIO;
            return -1;
        }
        return 0;
    }
    if (request == RTC_RD_TIME) {
        struct tm now{};
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        std::FILE* in = std::fopen(file.c_str(), "r");
        const bool stored = in && std::fscanf(in, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) == 6;
        if (in)
            std::fclose(in);
        if (stored) {
            now.tm_year = year - 1900;
            now.tm_mon = month - 1;
            now.tm_mday = day;
            now.tm_hour = hour;
            now.tm_min = minute;
            now.tm_sec = second;
        } else {
            const time_t seconds = ::time(nullptr);
            gmtime_r(&seconds, &now);
        }
        *t = rtc_time{};
        t->tm_sec = now.tm_sec;
        t->tm_min = now.tm_min;
        t->tm_hour = now.tm_hour;
        t->tm_mday = now.tm_mday;
        t->tm_mon = now.tm_mon;
        t->tm_year = now.tm_year;
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool route(const std::string& p, TRoute* r)
{
    if (startsWith(p, "/dev/")) {
        if (p == "/dev/spidev1.0")
            r->kind = TDevKind::Spi;
        else if (p == "/dev/uio0")
            r->kind = TDevKind::Uio;
        else if (p == "/dev/i2c-0")
            r->kind = TDevKind::I2c;
        else if (p == "/dev/rtc")
            r->kind = TDevKind::Rtc;
        else if (p == "/dev/input/event1" || p == "/dev/input/event2") {
            r->kind = TDevKind::Evdev;
            r->evdev = p.back() - '0';
        } else
            return false;
        return true;
    }
    if (!startsWith(p, "/sys/class/"))
        return false;
    r->kind = TDevKind::Sysfs;
    static const char kGpio[] = "/sys/class/gpio/gpio";
    if (startsWith(p, kGpio)) {
        size_t i = sizeof kGpio - 1, start = i;
        int n = 0;
        while (i < p.size() && i - start < 4 && p[i] >= '0' && p[i] <= '9')
            n = n * 10 + (p[i++] - '0');
        if (i == start)
            return false;
        std::string rest = p.substr(i);
        if (rest == "/value")
            r->node = TSysfsNode::GpioValue;
        else if (rest == "/edge")
            r->node = TSysfsNode::GpioEdge;
        else
            return false;
        r->gpio = n;
        return true;
    }
    if (p == "/sys/class/leds/led426/brightness")
        r->node = TSysfsNode::LedBrightness;
    else if (p == "/sys/class/leds/led426/trigger")
        r->node = TSysfsNode::LedTrigger;
    else if (p == "/sys/class/backlight/backlight.22/bl_power")
        r->node = TSysfsNode::BlPower;
    else if (p == "/sys/class/backlight/backlight.22/brightness")
        r->node = TSysfsNode::BlBrightness;
    else
        return false;
    return true;
}

// A path under the root (a host path) is routed by its board form.
std::string boardForm(const char* path)
{
    const std::string& root = boardRoot();
    std::string p = path ? path : "";
    if (!root.empty() && p.size() > root.size() && p.compare(0, root.size(), root) == 0 && p[root.size()] == '/')
        return p.substr(root.size());
    return p;
}

uint32_t littleEndian(const uint8_t* b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

std::string settingsText(uint8_t mode, uint32_t speed)
{
    return "mode " + std::to_string(mode) + ", " + std::to_string(speed) + " Hz";
}

// The EIM window of the FPGA model, as mapped from /dev/uio0.
class TSimWindow : public TRegisterWindow {
public:
    explicit TSimWindow(size_t length) : words_(static_cast<uint32_t>(std::min<size_t>(length / 2, kEimWindowWords))) {}
    uint16_t read16(uint32_t word) override
    {
        if (word >= words_)
            return 0;
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        return b.eimRead(word);
    }
    void write16(uint32_t word, uint16_t value) override
    {
        if (word >= words_)
            return;
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        b.eimWrite(word, value);
    }

private:
    uint32_t words_;
};

// The open simulated file of fd when its access mode allows the transfer; else EBADF.
std::shared_ptr<TVFile> transferFile(TSimBoard& b, int fd, int refusedMode)
{
    std::shared_ptr<TVFile> f = b.file(fd);
    if (!f || (f->flags & O_ACCMODE) == refusedMode) {
        errno = EBADF;
        return nullptr;
    }
    return f;
}

class TSimDeviceIO : public TDeviceIO {
public:
    int open(const char* path, int flags, mode_t mode) override
    {
        std::string p = boardForm(path);
        TRoute r;
        if (!route(p, &r)) {
            if (startsWith(p, "/dev/") && !isSimulatedGadget(p.c_str()) && !(flags & O_CREAT)) {
                struct stat st;
                if (::stat(boardPath(p).c_str(), &st) != 0) {
                    errno = ENODEV;  // a device node the simulated board does not model
                    return -1;
                }
            }
            return passThroughDeviceIO().open(path, flags, mode);
        }

        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        auto fault = b.openFaults.find(p);
        if (fault != b.openFaults.end()) {
            errno = fault->second;
            return -1;
        }
        if (b.shutDown && (r.kind == TDevKind::Uio || r.kind == TDevKind::Evdev)) {
            errno = ENODEV;
            return -1;
        }
        auto f = std::make_shared<TVFile>();
        f->kind = r.kind;
        f->flags = flags;
        f->path = p;
        f->node = r.node;
        f->gpio = r.gpio;
        f->evdev = r.evdev;
        f->uioSeen = b.uioInterrupts;
        int slot;
        if (!b.freeSlots.empty()) {
            slot = b.freeSlots.back();
            b.freeSlots.pop_back();
            b.files[slot] = std::move(f);
        } else {
            slot = static_cast<int>(b.files.size());
            b.files.push_back(std::move(f));
        }
        int fd = kVirtualFdBase + slot;
        TLogEntry& e = b.addLog(TLogKind::Open);
        e.a = fd;
        e.b = flags;
        e.text = p;
        return fd;
    }

    int close(int fd) override
    {
        if (fd < kVirtualFdBase)
            return passThroughDeviceIO().close(fd);
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        std::shared_ptr<TVFile> f = b.file(fd);
        if (!f) {
            errno = EBADF;
            return -1;
        }
        f->closed = true;
        b.files[fd - kVirtualFdBase].reset();
        b.freeSlots.push_back(fd - kVirtualFdBase);
        b.addLog(TLogKind::Close).a = fd;
        b.notifyAll();  // a reader blocked on this descriptor gives up
        return 0;
    }

    ssize_t read(int fd, void* buffer, size_t count) override
    {
        if (fd < kVirtualFdBase)
            return passThroughDeviceIO().read(fd, buffer, count);
        TSimBoard& b = TSimBoard::get();
        std::unique_lock<std::mutex> lock(b.mu);
        std::shared_ptr<TVFile> f = transferFile(b, fd, O_WRONLY);
        if (!f)
            return -1;
        auto* out = static_cast<uint8_t*>(buffer);
        switch (f->kind) {
        case TDevKind::Spi:
            std::memset(out, 0, count);  // half-duplex read: nothing is clocked in
            return static_cast<ssize_t>(count);
        case TDevKind::I2c:
            return b.i2cDevRead(*f, fd, out, count);
        case TDevKind::Sysfs: {
            if (f->offset == 0)
                f->edgePending = false;
            if (!f->textValid || f->offset == 0) {
                f->text = b.sysfsText(*f);
                f->textValid = true;
            }
            if (f->offset >= f->text.size())
                return 0;
            size_t n = std::min(count, f->text.size() - f->offset);
            std::memcpy(out, f->text.data() + f->offset, n);
            f->offset += n;
            return static_cast<ssize_t>(n);
        }
        case TDevKind::Uio: {
            if (count != sizeof(uint32_t)) {
                errno = EINVAL;
                return -1;
            }
            while (!b.shutDown && !f->closed && b.uioInterrupts <= f->uioSeen) {
                if (f->flags & O_NONBLOCK) {
                    errno = EAGAIN;
                    return -1;
                }
                b.wake.wait(lock);
            }
            if (b.shutDown || f->closed) {
                errno = f->closed ? EBADF : EIO;
                return -1;
            }
            f->uioSeen = b.uioInterrupts;
            uint32_t n = static_cast<uint32_t>(b.uioInterrupts);
            std::memcpy(out, &n, sizeof n);
            return sizeof n;
        }
        case TDevKind::Evdev: {
            constexpr size_t kSize = sizeof(struct input_event);
            if (count < kSize) {
                errno = EINVAL;
                return -1;
            }
            while (!b.shutDown && !f->closed && f->eventHead >= f->events.size()) {
                if (f->flags & O_NONBLOCK) {
                    errno = EAGAIN;
                    return -1;
                }
                b.wake.wait(lock);
            }
            if (b.shutDown || f->closed) {
                errno = f->closed ? EBADF : ENODEV;
                return -1;
            }
            size_t n = std::min(count / kSize, f->events.size() - f->eventHead);
            std::memcpy(out, &f->events[f->eventHead], n * kSize);
            f->eventHead += n;
            if (f->eventHead == f->events.size()) {
                f->events.clear();
                f->eventHead = 0;
            }
            return static_cast<ssize_t>(n * kSize);
        }
        case TDevKind::Rtc:
            break;  // the clock's interrupts are not modelled
        }
        errno = EINVAL;
        return -1;
    }

    ssize_t write(int fd, const void* buffer, size_t count) override
    {
        if (fd < kVirtualFdBase)
            return passThroughDeviceIO().write(fd, buffer, count);
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        std::shared_ptr<TVFile> f = transferFile(b, fd, O_RDONLY);
        if (!f)
            return -1;
        const auto* in = static_cast<const uint8_t*>(buffer);
        switch (f->kind) {
        case TDevKind::Spi:
            return spiWriteBytes(b, *f, fd, in, count);
        case TDevKind::I2c:
            return b.i2cDevWrite(*f, fd, in, count);
        case TDevKind::Sysfs:
            if (!b.sysfsWrite(*f, std::string(reinterpret_cast<const char*>(in), count))) {
                errno = EINVAL;
                return -1;
            }
            return static_cast<ssize_t>(count);
        case TDevKind::Uio: {
            if (b.shutDown) {
                errno = EIO;
                return -1;
            }
            if (count != sizeof(uint32_t)) {
                errno = EINVAL;
                return -1;
            }
            uint32_t v = littleEndian(in);
            b.setUioEnabled(v != 0);
            TLogEntry& e = b.addLog(TLogKind::Uio);
            e.a = fd;
            e.b = v;
            return sizeof v;
        }
        case TDevKind::Evdev:
            if (count % sizeof(struct input_event) != 0) {
                errno = EINVAL;
                return -1;
            }
            return static_cast<ssize_t>(count);  // events sent to the device (LEDs ...): none modelled
        case TDevKind::Rtc:
            break;
        }
        errno = EINVAL;
        return -1;
    }

    off_t lseek(int fd, off_t offset, int whence) override
    {
        if (fd < kVirtualFdBase)
            return passThroughDeviceIO().lseek(fd, offset, whence);
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        std::shared_ptr<TVFile> f = b.file(fd);
        if (!f) {
            errno = EBADF;
            return -1;
        }
        if (f->kind != TDevKind::Sysfs) {
            errno = ESPIPE;
            return -1;
        }
        off_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? static_cast<off_t>(f->offset) + offset : -1;
        if (whence != SEEK_SET && whence != SEEK_CUR) {
            errno = EINVAL;
            return -1;
        }
        if (to < 0) {
            errno = EINVAL;
            return -1;
        }
        f->offset = static_cast<size_t>(to);
        if (to == 0)
            f->textValid = false;  // a read from the start renews the text
        return to;
    }

    int ioctl(int fd, unsigned long request, void* arg) override
    {
        if (fd < kVirtualFdBase)
            return passThroughDeviceIO().ioctl(fd, request, arg);
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        std::shared_ptr<TVFile> f = b.file(fd);
        if (!f) {
            errno = EBADF;
            return -1;
        }
        switch (f->kind) {
        case TDevKind::Spi:
            return spiIoctl(b, *f, fd, request, arg);
        case TDevKind::I2c:
            if (request == I2C_SLAVE || request == I2C_SLAVE_FORCE) {
                auto address = reinterpret_cast<uintptr_t>(arg);
                if (address > 0x7F) {
                    errno = EINVAL;
                    return -1;
                }
                f->i2cSlave = static_cast<int>(address);
                TLogEntry& e = b.addLog(TLogKind::I2cDev);
                e.a = fd;
                e.b = static_cast<int64_t>(address);
                return 0;
            }
            if (request == I2C_RDWR || request == I2C_SMBUS) {
                errno = EIO;
                return -1;
            }
            errno = ENOTTY;
            return -1;
        case TDevKind::Rtc:
            return rtcIoctl(request, arg);
        default:
            errno = ENOTTY;
            return -1;
        }
    }

    int poll(struct pollfd* fds, nfds_t count, int timeoutMs) override
    {
        bool anyVirtual = false, anyReal = false;
        for (nfds_t i = 0; i < count; ++i) {
            fds[i].revents = 0;
            if (fds[i].fd >= kVirtualFdBase)
                anyVirtual = true;
            else if (fds[i].fd >= 0)
                anyReal = true;
        }
        if (!anyVirtual)
            return passThroughDeviceIO().poll(fds, count, timeoutMs);

        using clock = std::chrono::steady_clock;
        const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
        std::vector<struct pollfd> real;
        TSimBoard& b = TSimBoard::get();
        std::unique_lock<std::mutex> lock(b.mu);
        for (;;) {
            int ready = 0;
            for (nfds_t i = 0; i < count; ++i) {
                if (fds[i].fd < kVirtualFdBase)
                    continue;
                fds[i].revents = readiness(b, fds[i].fd, fds[i].events);
                if (fds[i].revents)
                    ++ready;
            }
            if (anyReal) {
                lock.unlock();
                real.clear();
                for (nfds_t i = 0; i < count; ++i)
                    if (fds[i].fd >= 0 && fds[i].fd < kVirtualFdBase)
                        real.push_back(fds[i]);
                int rc = ::poll(real.data(), real.size(), 0);
                if (rc < 0 && errno != EINTR)
                    return -1;
                size_t k = 0;
                for (nfds_t i = 0; i < count; ++i)
                    if (fds[i].fd >= 0 && fds[i].fd < kVirtualFdBase) {
                        fds[i].revents = real[k++].revents;
                        if (fds[i].revents)
                            ++ready;
                    }
                lock.lock();
            }
            if (ready > 0 || timeoutMs == 0)
                return ready;
            auto now = clock::now();
            if (timeoutMs > 0 && now >= deadline)
                return 0;
            uint64_t generation = b.wakeGeneration;
            // Real descriptors cannot wake the condition: look at them again every few ms.
            auto until = anyReal ? now + std::chrono::milliseconds(5) : deadline;
            if (timeoutMs > 0 && until > deadline)
                until = deadline;
            if (timeoutMs < 0 && !anyReal)
                b.wake.wait(lock, [&] { return b.wakeGeneration != generation; });
            else
                b.wake.wait_until(lock, until, [&] { return b.wakeGeneration != generation; });
        }
    }

    TRegisterWindow* mapRegisterWindow(int fd, size_t length, off_t offset) override
    {
        if (fd < kVirtualFdBase)
            return passThroughDeviceIO().mapRegisterWindow(fd, length, offset);
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        std::shared_ptr<TVFile> f = b.file(fd);
        if (!f) {
            errno = EBADF;
            return nullptr;
        }
        if (f->kind != TDevKind::Uio) {
            errno = ENODEV;
            return nullptr;
        }
        if (offset != 0 || length == 0) {
            errno = EINVAL;
            return nullptr;
        }
        return new TSimWindow(length);
    }

    int unmapRegisterWindow(TRegisterWindow* window) override
    {
        if (auto* w = dynamic_cast<TSimWindow*>(window)) {
            delete w;
            return 0;
        }
        return passThroughDeviceIO().unmapRegisterWindow(window);
    }

    void syncAll() override { passThroughDeviceIO().syncAll(); }

    // The model settles at once and computes an acquisition's samples in no time: during the
    // quick calibration nothing needs the wall clock.
    void quickCalibration(bool on) override
    {
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        b.quickCalibration = on;
    }

    bool skipHardwareWait(int ms) override
    {
        TSimBoard& b = TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        if (!b.quickCalibration || ms <= 0)
            return false;
        b.advanceClock(static_cast<uint64_t>(static_cast<double>(ms) * 1e6 * b.speed));
        return true;
    }

private:
    static short readiness(TSimBoard& b, int fd, short events)
    {
        std::shared_ptr<TVFile> f = b.file(fd);
        if (!f)
            return POLLNVAL;
        const short io = POLLIN | POLLOUT | POLLRDNORM | POLLWRNORM;
        switch (f->kind) {
        case TDevKind::Spi:
        case TDevKind::I2c:
            return static_cast<short>(events & io);
        case TDevKind::Sysfs:
            return static_cast<short>((events & io) | (f->edgePending ? events & POLLPRI : 0));
        case TDevKind::Uio:
            if (b.shutDown)
                return POLLERR | POLLHUP;
            return static_cast<short>((b.uioInterrupts > f->uioSeen ? events & (POLLIN | POLLRDNORM) : 0) |
                                      (events & (POLLOUT | POLLWRNORM)));
        case TDevKind::Evdev:
            if (b.shutDown)
                return POLLERR | POLLHUP;
            return static_cast<short>(f->eventHead < f->events.size() ? events & (POLLIN | POLLRDNORM) : 0);
        case TDevKind::Rtc:
            return 0;
        }
        return 0;
    }

    static void checkSettings(TSimBoard& b, const TVFile& f, uint32_t speed, const char* what, int id)
    {
        if (f.spiMode != kRegisterMode || speed != kRegisterSpeedHz)
            b.violate(TStrictCheck::SpiSettings, std::string(what) + " of register " + std::to_string(id) +
                                                     " on a descriptor at " + settingsText(f.spiMode, speed) +
                                                     " (expected " + settingsText(kRegisterMode, kRegisterSpeedHz) + ")");
    }

    static ssize_t spiWriteBytes(TSimBoard& b, TVFile& f, int fd, const uint8_t* in, size_t count)
    {
        if ((f.flags & O_ACCMODE) == O_WRONLY && count > 5) {
            // The FPGA configuration stream. The log entry comes first: the state change it
            // may cause is logged after it.
            TLogEntry& e = b.addLog(TLogKind::ConfigBytes);
            e.a = fd;
            e.b = static_cast<int64_t>(count);
            if (b.fpgaState == TFpgaState::HeldInReset)
                e.text = "ignored: FPGA held in reset";
            b.configurationStream(count);
            return static_cast<ssize_t>(count);
        }
        if (count != 5)
            b.violate(TStrictCheck::SpiWriteSize,
                      "SPI register write of " + std::to_string(count) + " bytes (a register frame is 5 bytes)");
        if (count < 5)
            return static_cast<ssize_t>(count);  // not a whole frame: the FPGA ignores it
        const int id = in[0] & 0x7F;
        const bool isWrite = (in[0] & 0x80) != 0;
        checkSettings(b, f, f.spiSpeed, isWrite ? "write" : "read", id);
        uint32_t value;
        if (isWrite) {
            value = littleEndian(in + 1);
            b.spiWrite(id, value);
        } else {
            value = b.spiRead(id);  // clocked out, but a plain write receives nothing
        }
        TLogEntry& e = b.addLog(isWrite ? TLogKind::SpiWrite : TLogKind::SpiRead);
        e.a = fd;
        e.b = id;
        e.c = value;
        std::memcpy(e.bytes, in, 5);
        e.byteCount = 5;
        if (!isWrite)
            e.text = "read frame sent by write(): value lost";
        if (!b.fpgaConfigured())
            e.text += std::string(e.text.empty() ? "" : "; ") + "FPGA not configured";
        return static_cast<ssize_t>(count);
    }

    // A message is one chip-select period: the FPGA sees the bytes of every transfer in turn and
    // answers a read frame with the register value in stream bytes 1-4.
    static int spiMessage(TSimBoard& b, TVFile& f, int fd, unsigned long request, void* arg)
    {
        size_t size = _IOC_SIZE(request);
        if (size == 0 || size % sizeof(struct spi_ioc_transfer) != 0) {
            errno = EINVAL;
            return -1;
        }
        size_t n = size / sizeof(struct spi_ioc_transfer);
        auto* t = static_cast<struct spi_ioc_transfer*>(arg);
        size_t total = 0;
        for (size_t i = 0; i < n; ++i)
            total += t[i].len;
        if (total == 0) {
            errno = EINVAL;
            return -1;
        }
        uint8_t frame[5] = {};
        size_t pos = 0;
        for (size_t i = 0; i < n && pos < 5; ++i) {
            const auto* tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(t[i].tx_buf));
            for (uint32_t k = 0; k < t[i].len && pos < 5; ++k, ++pos)
                frame[pos] = tx ? tx[k] : 0;
        }
        const int id = frame[0] & 0x7F;
        const bool isWrite = (frame[0] & 0x80) != 0;
        const bool readForm = n == 2 && t[0].len == 1 && t[0].tx_buf != 0 && t[1].len == 4 && t[1].rx_buf != 0 && !isWrite;
        if (!readForm)
            b.violate(TStrictCheck::SpiReadForm,
                      "SPI message of " + std::to_string(n) + " transfers, " + std::to_string(total) +
                          " bytes, first byte " + std::to_string(frame[0]) + " (a register read is 1 byte out, then 4 in)");
        uint32_t speed = f.spiSpeed;
        for (size_t i = 0; i < n; ++i)
            if (t[i].speed_hz)
                speed = t[i].speed_hz;
        checkSettings(b, f, speed, isWrite ? "write" : "read", id);

        uint32_t value;
        if (isWrite) {
            value = littleEndian(frame + 1);
            if (total >= 5)
                b.spiWrite(id, value);
        } else {
            value = b.spiRead(id);
        }
        uint8_t answer[5] = {0, 0, 0, 0, 0};
        if (!isWrite)
            for (int k = 0; k < 4; ++k)
                answer[k + 1] = static_cast<uint8_t>(value >> (8 * k));
        pos = 0;
        for (size_t i = 0; i < n; ++i) {
            auto* rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t[i].rx_buf));
            for (uint32_t k = 0; k < t[i].len; ++k, ++pos)
                if (rx)
                    rx[k] = pos < 5 ? answer[pos] : 0;
        }

        TLogEntry& e = b.addLog(isWrite ? TLogKind::SpiWrite : TLogKind::SpiRead);
        e.a = fd;
        e.b = id;
        e.c = value;
        e.bytes[0] = frame[0];
        for (int k = 1; k < 5; ++k)
            e.bytes[k] = isWrite ? frame[k] : answer[k];
        e.byteCount = 5;
        if (!readForm)
            e.text = "message of " + std::to_string(n) + " transfers";
        if (!b.fpgaConfigured())
            e.text += std::string(e.text.empty() ? "" : "; ") + "FPGA not configured";
        return static_cast<int>(total);
    }

    static int spiIoctl(TSimBoard& b, TVFile& f, int fd, unsigned long request, void* arg)
    {
        if (!arg) {
            errno = EFAULT;
            return -1;
        }
        if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE)
            return spiMessage(b, f, fd, request, arg);
        auto logMode = [&](bool write) {
            TLogEntry& e = b.addLog(TLogKind::SpiMode);
            e.a = fd;
            e.b = f.spiMode;
            e.c = write;
        };
        auto logSpeed = [&](bool write) {
            TLogEntry& e = b.addLog(TLogKind::SpiSpeed);
            e.a = fd;
            e.b = f.spiSpeed;
            e.c = write;
        };
        switch (request) {
        case SPI_IOC_WR_MODE:
            f.spiMode = *static_cast<uint8_t*>(arg);
            logMode(true);
            return 0;
        case SPI_IOC_RD_MODE:
            *static_cast<uint8_t*>(arg) = f.spiMode;
            logMode(false);
            return 0;
        case SPI_IOC_WR_MODE32:
            f.spiMode = static_cast<uint8_t>(*static_cast<uint32_t*>(arg));
            logMode(true);
            return 0;
        case SPI_IOC_RD_MODE32:
            *static_cast<uint32_t*>(arg) = f.spiMode;
            logMode(false);
            return 0;
        case SPI_IOC_WR_MAX_SPEED_HZ:
            f.spiSpeed = *static_cast<uint32_t*>(arg);
            logSpeed(true);
            return 0;
        case SPI_IOC_RD_MAX_SPEED_HZ:
            *static_cast<uint32_t*>(arg) = f.spiSpeed;
            logSpeed(false);
            return 0;
        case SPI_IOC_WR_BITS_PER_WORD: {
            uint8_t bits = *static_cast<uint8_t*>(arg);
            if (bits != 0 && bits != 8) {
                errno = EINVAL;  // the FPGA's register bus is byte-wide
                return -1;
            }
            f.spiBits = 8;
            return 0;
        }
        case SPI_IOC_RD_BITS_PER_WORD:
            *static_cast<uint8_t*>(arg) = f.spiBits;
            return 0;
        case SPI_IOC_WR_LSB_FIRST:
            if (*static_cast<uint8_t*>(arg) != 0) {
                errno = EINVAL;
                return -1;
            }
            return 0;
        case SPI_IOC_RD_LSB_FIRST:
            *static_cast<uint8_t*>(arg) = 0;
            return 0;
        default:
            errno = ENOTTY;
            return -1;
        }
    }
};

} // namespace

std::shared_ptr<TVFile> TSimBoard::file(int fd)
{
    if (fd < kVirtualFdBase)
        return nullptr;
    size_t slot = static_cast<size_t>(fd - kVirtualFdBase);
    return slot < files.size() ? files[slot] : nullptr;
}

bool isModelledPath(const std::string& boardPath)
{
    TRoute r;
    return route(boardPath, &r);
}

TDeviceIO& simulatedDeviceIO()
{
    static TDeviceIO* io = new TSimDeviceIO();
    return *io;
}

} // namespace simboard
