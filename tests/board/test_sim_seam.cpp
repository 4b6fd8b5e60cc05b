// The simulated board behind the device-I/O seam: routing, per-open state, blocking and poll.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "board/sim/simstate.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr int kVirtualBase = 1 << 28;

std::string readAll(int fd)
{
    std::string s;
    char buf[64];
    ssize_t n;
    while ((n = deviceIO().read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    return s;
}

std::string readPath(const char* path)
{
    int fd = deviceIO().open(path, O_RDONLY);
    if (fd < 0)
        return "<open failed>";
    std::string s = readAll(fd);
    deviceIO().close(fd);
    return s;
}

class SimSeam : public SimFpgaBoardTest {};

TEST_F(SimSeam, RoutesModelledPathsToTheModelAndTheRestToFilesUnderTheRoot)
{
    TDeviceIO& io = deviceIO();
    ASSERT_EQ(&io, &simboard::simulatedDeviceIO());

    // Regular files standing in for /sys entries and a device node made as a plain file.
    ASSERT_TRUE(writeBoardFile("/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/file", "x\n"));
    mkdir(hostPath("/dev").c_str(), 0777);
    ASSERT_TRUE(writeBoardFile("/dev/mmcblk0p1", ""));

    struct Case {
        const char* path;
        int flags;
        enum { Model, File, NoDevice } expect;
    } cases[] = {
        {"/dev/spidev1.0", O_RDONLY, Case::Model},
        {"/dev/spidev1.0", O_WRONLY, Case::Model},
        {"/dev/uio0", O_RDWR, Case::Model},
        {"/dev/i2c-0", O_RDWR, Case::Model},
        {"/dev/input/event1", O_RDONLY, Case::Model},
        {"/dev/input/event2", O_RDONLY, Case::Model},
        {"/sys/class/gpio/gpio164/value", O_RDONLY, Case::Model},
        {"/sys/class/gpio/gpio114/edge", O_WRONLY, Case::Model},
        {"/sys/class/gpio/gpio999/value", O_RDONLY, Case::Model},  // any line: reads 0
        {"/sys/class/leds/led426/brightness", O_WRONLY, Case::Model},
        {"/sys/class/leds/led426/trigger", O_WRONLY, Case::Model},
        {"/sys/class/backlight/backlight.22/bl_power", O_RDWR, Case::Model},
        {"/sys/class/backlight/backlight.22/brightness", O_RDWR, Case::Model},
        {"/var/tmp/plain", O_RDWR | O_CREAT, Case::File},
        {"/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/file", O_RDWR, Case::File},
        {"/dev/mmcblk0p1", O_RDONLY, Case::File},
        {"/dev/video0", O_RDWR, Case::NoDevice},
        {"/dev/input/event3", O_RDONLY, Case::NoDevice},
        {"/dev/spidev1.1", O_RDWR, Case::NoDevice},
        {"/dev/i2c-1", O_RDWR, Case::NoDevice},
    };
    for (const Case& c : cases) {
        errno = 0;
        int fd = io.open(c.path, c.flags, 0666);
        switch (c.expect) {
        case Case::Model:
            EXPECT_GE(fd, kVirtualBase) << c.path;
            break;
        case Case::File:
            EXPECT_GE(fd, 0) << c.path;
            EXPECT_LT(fd, kVirtualBase) << c.path;
            EXPECT_NE(fcntl(fd, F_GETFD), -1) << c.path << ": a real descriptor";
            break;
        case Case::NoDevice:
            EXPECT_EQ(fd, -1) << c.path;
            EXPECT_EQ(errno, ENODEV) << c.path;
            break;
        }
        if (fd >= 0) {
            EXPECT_EQ(io.close(fd), 0) << c.path;
        }
    }

    // A pass-through file is the file under the root.
    int fd = io.open("/var/tmp/plain", O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(io.write(fd, "abc", 3), 3);
    io.close(fd);
    EXPECT_EQ(readHostFile(hostPath("/var/tmp/plain")), "abc");

    // A host path under the root reaches the model too.
    EXPECT_EQ(readPath(hostPath("/sys/class/gpio/gpio147/value").c_str()), "1\n");

    // Closing a virtual descriptor twice, or one never opened, fails like a real one.
    fd = io.open("/dev/spidev1.0", O_RDONLY);
    EXPECT_EQ(io.close(fd), 0);
    EXPECT_EQ(io.close(fd), -1);
    EXPECT_EQ(errno, EBADF);
    char c;
    EXPECT_EQ(io.read(kVirtualBase + 12345, &c, 1), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(SimSeam, SpidevSettingsBelongToEachOpen)
{
    TDeviceIO& io = deviceIO();
    int a = io.open("/dev/spidev1.0", O_RDWR);
    int b = io.open("/dev/spidev1.0", O_RDWR);
    uint8_t mode = SPI_MODE_1;
    uint32_t speed = simtest::kSpiHz;
    ASSERT_EQ(io.ioctl(a, SPI_IOC_WR_MODE, &mode), 0);
    ASSERT_EQ(io.ioctl(a, SPI_IOC_WR_MAX_SPEED_HZ, &speed), 0);

    auto settings = [&](int fd) {
        uint8_t m = 0xFF;
        uint32_t s = 1;
        io.ioctl(fd, SPI_IOC_RD_MODE, &m);
        io.ioctl(fd, SPI_IOC_RD_MAX_SPEED_HZ, &s);
        return std::make_pair(static_cast<int>(m), s);
    };
    EXPECT_EQ(settings(a), std::make_pair(1, simtest::kSpiHz));
    EXPECT_EQ(settings(b), std::make_pair(0, 0u));
    io.close(a);
    int c = io.open("/dev/spidev1.0", O_RDWR);
    EXPECT_EQ(settings(c), std::make_pair(0, 0u)) << "a new open starts afresh";
    EXPECT_EQ(io.ioctl(c, 0x1234, &mode), -1);
    EXPECT_EQ(errno, ENOTTY);
    io.close(b);
    io.close(c);

    // i2c-dev: the slave address belongs to the open; only the light sensor (0x4A) answers.
    int i2c = io.open("/dev/i2c-0", O_RDWR);
    EXPECT_EQ(io.ioctl(i2c, I2C_SLAVE, reinterpret_cast<void*>(uintptr_t{0x21})), 0);
    EXPECT_EQ(io.ioctl(i2c, I2C_SLAVE, reinterpret_cast<void*>(uintptr_t{0x80})), -1);
    uint8_t byte = 0;
    EXPECT_EQ(io.write(i2c, &byte, 1), -1);
    EXPECT_EQ(errno, EIO);
    io.close(i2c);
    auto slaves = simboard::log({simboard::TLogKind::I2cDev});
    ASSERT_EQ(slaves.size(), 2u);
    EXPECT_EQ(slaves[0].b, 0x21);
    EXPECT_EQ(slaves[1].text, "write failed");
}

TEST_F(SimSeam, SysfsFilesReadFromTheStartOfEachOpenAndRecordWrites)
{
    TDeviceIO& io = deviceIO();
    const char* bl = "/sys/class/backlight/backlight.22/brightness";
    EXPECT_EQ(readPath(bl), "9\n");
    int w = io.open(bl, O_WRONLY);
    ASSERT_GE(w, 0);
    EXPECT_EQ(io.write(w, "5", 1), 1);
    EXPECT_EQ(io.write(w, "bright", 6), -1) << "not a number: refused";
    EXPECT_EQ(errno, EINVAL);
    char c;
    EXPECT_EQ(io.read(w, &c, 1), -1) << "opened write-only";
    io.close(w);

    int r = io.open(bl, O_RDONLY);
    EXPECT_EQ(readAll(r), "5\n");
    EXPECT_EQ(readAll(r), "") << "end of file until the next open or a seek to 0";
    EXPECT_EQ(io.lseek(r, 0, SEEK_SET), 0);
    EXPECT_EQ(readAll(r), "5\n");
    io.close(r);
    EXPECT_EQ(simboard::backlightBrightness(), "5");

    // GPIO outputs: recorded with the time, and read back as the line's level.
    const char* gpio = "/sys/class/gpio/gpio144/value";
    uint64_t before = simboard::simTimeNs();
    for (const char* v : {"1", "0\n"}) {
        int fd = io.open(gpio, O_WRONLY);
        EXPECT_EQ(io.write(fd, v, strlen(v)), static_cast<ssize_t>(strlen(v)));
        io.close(fd);
    }
    auto history = simboard::gpioHistory(144);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].text, "1");
    EXPECT_EQ(history[1].text, "0\n");
    EXPECT_GE(history[0].timeNs, before);
    EXPECT_LE(history[0].timeNs, history[1].timeNs);
    EXPECT_EQ(readPath(gpio), "0\n");
    EXPECT_EQ(simboard::sysfsWrites().size(), 3u) << "the refused write is not in the history";
}

TEST_F(SimSeam, EventDevicesQueueWholeRecordsPerOpen)
{
    TDeviceIO& io = deviceIO();
    int a = io.open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(simboard::queueInputEvent(1, EV_KEY, 47, 1), 1);
    int b = io.open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
    int other = io.open("/dev/input/event2", O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(simboard::queueInputEvent(1, EV_KEY, 47, 0), 2);

    struct input_event ev[4];
    EXPECT_EQ(io.read(a, ev, sizeof ev[0] - 1), -1) << "only whole records";
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(io.read(a, ev, sizeof ev), static_cast<ssize_t>(2 * sizeof ev[0]));
    EXPECT_EQ(ev[0].code, 47);
    EXPECT_EQ(ev[0].value, 1);
    EXPECT_EQ(ev[1].value, 0);
    ASSERT_EQ(io.read(b, ev, sizeof ev), static_cast<ssize_t>(sizeof ev[0])) << "b opened after the first event";
    EXPECT_EQ(ev[0].value, 0);
    EXPECT_EQ(io.read(b, ev, sizeof ev), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(io.read(other, ev, sizeof ev), -1);
    EXPECT_EQ(errno, EAGAIN);
    for (int fd : {a, b, other})
        io.close(fd);
}

TEST_F(SimSeam, PollWakesOnAnEventAndShutdownWakesEveryBlockedCaller)
{
    TDeviceIO& io = deviceIO();
    int ev = io.open("/dev/input/event1", O_RDONLY);
    int uio = io.open("/dev/uio0", O_RDWR);
    int spi = io.open("/dev/spidev1.0", O_RDONLY);
    uint32_t one = 1;
    ASSERT_EQ(io.write(uio, &one, 4), 4);

    struct pollfd p[2] = {{ev, POLLIN, 0}, {uio, POLLIN, 0}};
    EXPECT_EQ(io.poll(p, 2, 0), 0) << "nothing pending";
    EXPECT_EQ(io.poll(p, 2, 20), 0) << "a time-out";

    std::thread queue([] {
        std::this_thread::sleep_for(30ms);
        simboard::queueInputEvent(1, EV_KEY, 47, 1);
    });
    EXPECT_EQ(io.poll(p, 2, -1), 1);
    EXPECT_EQ(p[0].revents, POLLIN);
    queue.join();

    // A pipe and a simulated device in one poll: the real descriptor is watched too.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    struct pollfd mixed[2] = {{uio, POLLIN, 0}, {fds[0], POLLIN, 0}};
    std::thread writer([&] {
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(::write(fds[1], "x", 1), 1);
    });
    EXPECT_EQ(io.poll(mixed, 2, 5000), 1);
    EXPECT_EQ(mixed[1].revents, POLLIN);
    writer.join();
    ::close(fds[0]);
    ::close(fds[1]);

    // Blocked: a UIO read (the interrupt wait) and an endless poll.
    std::atomic<int> readResult{0}, readErrno{0}, pollResult{0};
    struct pollfd p2[2] = {{uio, POLLIN, 0}, {spi, 0, 0}};
    std::thread reader([&] {
        uint32_t count;
        readResult = static_cast<int>(io.read(uio, &count, 4));
        readErrno = errno;
    });
    std::thread poller([&] { pollResult = io.poll(p2, 2, -1); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(readResult.load(), 0) << "still waiting for an interrupt";
    simboard::shutdown();
    reader.join();
    poller.join();
    EXPECT_EQ(readResult.load(), -1);
    EXPECT_EQ(readErrno.load(), EIO);
    EXPECT_EQ(pollResult.load(), 1);
    EXPECT_EQ(p2[0].revents, POLLERR | POLLHUP);
    EXPECT_EQ(io.write(uio, &one, 4), -1) << "the interrupt thread's re-enable fails too";
    EXPECT_EQ(io.open("/dev/uio0", O_RDWR), -1);
    EXPECT_EQ(errno, ENODEV);
    for (int fd : {ev, uio, spi})
        io.close(fd);
}

TEST_F(SimSeam, UioGivesTheEimWindowAndAcceptsTheInterruptReenable)
{
    TDeviceIO& io = deviceIO();
    int uio = io.open("/dev/uio0", O_RDWR);
    ASSERT_GE(uio, 0);
    uint32_t one = 1;
    EXPECT_EQ(io.write(uio, &one, 4), 4);
    EXPECT_EQ(io.write(uio, &one, 2), -1);
    EXPECT_EQ(errno, EINVAL);

    TRegisterWindow* w = io.mapRegisterWindow(uio, 0x4000000, 0);
    ASSERT_NE(w, nullptr);
    w->write16(16, 0x1234);
    w->write16(0x1FFFFFF, 0xBEEF);  // the last word of 64 MiB
    w->write16(0x2000000, 0x5555);  // past the window: ignored
    EXPECT_EQ(w->read16(16), 0x1234);
    EXPECT_EQ(simboard::eimWord(16), 0x1234);
    EXPECT_EQ(w->read16(0x1FFFFFF), 0xBEEF);
    EXPECT_EQ(w->read16(0x2000000), 0);
    EXPECT_EQ(io.unmapRegisterWindow(w), 0);

    int spi = io.open("/dev/spidev1.0", O_RDWR);
    EXPECT_EQ(io.mapRegisterWindow(spi, 4096, 0), nullptr);
    EXPECT_EQ(errno, ENODEV);
    io.close(spi);
    io.close(uio);
}

TEST_F(SimSeam, UioReadReturnsEachInterruptOnceReenabled)
{
    TDeviceIO& io = deviceIO();
    int uio = io.open("/dev/uio0", O_RDWR);
    auto raise = [] {
        simboard::TSimBoard& b = simboard::TSimBoard::get();
        std::lock_guard<std::mutex> lock(b.mu);
        b.raiseUioInterrupt();
    };
    raise();  // disabled: held until the re-enable
    uint32_t one = 1, count = 0;
    std::thread reader([&] { EXPECT_EQ(io.read(uio, &count, 4), 4); });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(io.write(uio, &one, 4), 4);
    reader.join();
    EXPECT_EQ(count, 1u);

    raise();  // disabled again by the first one
    int nb = io.open("/dev/uio0", O_RDWR | O_NONBLOCK);
    EXPECT_EQ(io.read(nb, &count, 4), -1);
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_EQ(io.write(uio, &one, 4), 4);
    EXPECT_EQ(io.read(uio, &count, 4), 4);
    EXPECT_EQ(count, 2u);
    io.close(nb);
    io.close(uio);
}

TEST_F(SimSeam, OpenFaultsRefuseTheDeviceUntilCleared)
{
    simboard::setOpenFault("/dev/spidev1.0");
    simboard::setOpenFault("/dev/uio0", EACCES);
    EXPECT_EQ(deviceIO().open("/dev/spidev1.0", O_RDWR), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(deviceIO().open("/dev/uio0", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(simtest::spiRead(99), 0xDEADBEEFu);
    simboard::clearOpenFault("/dev/spidev1.0");
    EXPECT_EQ(simtest::spiRead(99), 0x0312u);
    simboard::clearFaults();
    simtest::Window w;
    EXPECT_TRUE(w.ok());
}

TEST_F(SimSeam, ManyShortAccessesReuseDescriptors)
{
    // Every register access is an open-ioctl-close: descriptors must not pile up.
    int first = deviceIO().open("/dev/spidev1.0", O_RDONLY);
    deviceIO().close(first);
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(simtest::spiRead(99), 0x0312u);
    int again = deviceIO().open("/dev/spidev1.0", O_RDONLY);
    EXPECT_EQ(again, first);
    deviceIO().close(again);
}

} // namespace
