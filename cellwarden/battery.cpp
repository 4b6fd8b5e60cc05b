#include "cellwarden/battery.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"

#include <QByteArray>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

double s_g_speed = 1.0;
bool s_g_wallPower = false;
int s_g_wallPowerRead = -1;  // the level of the last good read (-1: none yet)
int s_g_offPipe = -1;

// The off pipe is opened once, read-write so that it never sees an end of file and a writer
// never meets a closed pipe, and kept. Anything but a FIFO there counts as no pipe.
int offPipe()
{
    if (s_g_offPipe >= 0)
        return s_g_offPipe;
    struct stat st;
    if (::stat(boardPath(kOffPipeFile).c_str(), &st) != 0 || !S_ISFIFO(st.st_mode))
        return -1;
    s_g_offPipe = deviceIO().open(kOffPipeFile, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return s_g_offPipe;
}

// Everything waiting in the pipe.
std::string drainPipe(int fd)
{
    std::string bytes;
    char buffer[256];
    for (;;) {
        const ssize_t n = deviceIO().read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (bytes.size() < 65536)
            bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

// The boot time in seconds since the epoch; 0 when unknown.
time_t bootTime()
{
    if (kSimulatedBoard) {
        struct stat st;
        return ::stat(boardPath("/sim/boot").c_str(), &st) == 0 ? st.st_mtime : 0;
    }
    FILE* f = std::fopen("/proc/stat", "r");
    if (!f)
        return 0;
    char line[256];
    long long btime = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "btime %lld", &btime) == 1)
            break;
    std::fclose(f);
    return static_cast<time_t>(btime);
}

[[noreturn]] void waitForPowerCut()
{
    if (kSimulatedBoard) {
        // The simulated board has no power to cut: the log line and status 99 stand for it.
        const int fd = ::open(boardPath("/sim/power.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char line[128];
            const int n = std::snprintf(line, sizeof line, "%lld cellwarden power cut\n",
                                        static_cast<long long>(std::time(nullptr)));
            if (n > 0 && ::write(fd, line, static_cast<size_t>(n)) < 0) {
            }
            ::close(fd);
        }
        // The cut ends every program of the board, those started beside the player too.
        simboard::endBoardPrograms();
        std::fflush(nullptr);
        ::_exit(99);
    }
    for (;;)
        ::pause();
}

} // namespace

double cellwardenSpeed() { return s_g_speed; }
void setCellwardenSpeed(double factor) { s_g_speed = factor > 0 ? factor : 1.0; }

void cellwardenSleepMs(int ms)
{
    const double us = ms * 1000.0 / s_g_speed;
    ::usleep(static_cast<useconds_t>(us));
}

double cellwardenClockSeconds()
{
    using namespace std::chrono;
    const double wall = duration<double>(steady_clock::now().time_since_epoch()).count();
    return wall * s_g_speed;
}

bool isPowerOffMessage(const char* bytes, size_t count)
{
    if (count == 0 || count % 8 != 0)
        return false;
    for (size_t i = 0; i < count; i += 8)
        if (std::memcmp(bytes + i, "POWEROFF", 8) != 0)
            return false;
    return true;
}

void writeDaemonFile(const char* path, const char* bytes, size_t count, bool truncate)
{
    // A reader between a truncation and the write would find no level (the charging screen
    // showed an empty battery): the text goes into a file beside it, which then replaces it whole.
    const std::string temporary = std::string(path) + ".new";
    const char* target = truncate ? temporary.c_str() : path;
    const int fd = deviceIO().open(target, O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
    if (fd < 0)
        return;
    const ssize_t written = deviceIO().write(fd, bytes, count);
    deviceIO().close(fd);
    if (!truncate)
        return;
    if (written != static_cast<ssize_t>(count) ||
        ::rename(boardPath(temporary).c_str(), boardPath(path).c_str()) != 0)
        ::unlink(boardPath(temporary).c_str());
}

Battery::Battery()
{
    const int fd = deviceIO().open(kWallPowerEdge, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        deviceIO().write(fd, "both", 4);
        deviceIO().close(fd);
    }
}

Battery::~Battery() {}

bool Battery::IsWallAlimConnected()
{
    const int fd = deviceIO().open(kWallPowerValue, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return s_g_wallPower;
    char c = 0;
    const ssize_t n = deviceIO().read(fd, &c, 1);
    deviceIO().close(fd);
    if (n == 1 && (c == '0' || c == '1')) {
        s_g_wallPower = c == '1';
        s_g_wallPowerRead = s_g_wallPower ? 1 : 0;
    }
    return s_g_wallPower;
}

void Battery::SetBatteryCharge(bool charge)
{
    const int fd = deviceIO().open(kChargeValue, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    deviceIO().write(fd, charge ? "1" : "0", 1);
    deviceIO().close(fd);
}

void Battery::LogWrite(QString o_a_str)
{
    const QByteArray bytes = o_a_str.toUtf8();
    const int fd = deviceIO().open(kBatteryLog, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        deviceIO().write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
        deviceIO().close(fd);
    }
    deviceIO().syncAll();
}

bool Battery::PowerOffAllowed()
{
    const int fd = deviceIO().open(kPowerOffAllowedFile, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    deviceIO().close(fd);
    // A marker left from an earlier boot (a charging screen cut off) is not the charging
    // screen of this one.
    struct stat st;
    const time_t boot = bootTime();
    if (boot != 0 && ::stat(boardPath(kPowerOffAllowedFile).c_str(), &st) == 0 && st.st_mtime < boot)
        return false;
    return true;
}

void Battery::SystemHalt()
{
    saveBatteryLevel();
    // The other programs' unwritten data must reach the storage before the power goes.
    deviceIO().syncAll();
    const int fd = deviceIO().open(kHaltValue, O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        deviceIO().write(fd, "1", 1);
        deviceIO().close(fd);
    }
    waitForPowerCut();
}

void Battery::RunPasses(int passes)
{
    int& settled = settledWallPower_;
    // The start acted on the level it read: a change before the first arming is an edge too.
    if (settled < 0)
        settled = s_g_wallPowerRead;
    for (int pass = 0; passes < 0 || pass < passes; ++pass) {
        int gpio = deviceIO().open(kWallPowerValue, O_RDONLY | O_CLOEXEC);
        int level = -1;
        if (gpio >= 0) {
            char arm[2];
            if (deviceIO().read(gpio, arm, sizeof arm) > 0 && (arm[0] == '0' || arm[0] == '1'))
                level = arm[0] == '1';
        }
        const bool missedEdge = level >= 0 && settled >= 0 && level != settled;
        const int pipe = offPipe();
        struct pollfd fds[2];
        nfds_t count = 0;
        int gpioSlot = -1, pipeSlot = -1;
        if (pipe >= 0) {
            pipeSlot = static_cast<int>(count);
            fds[count++] = {pipe, POLLIN, 0};
        }
        if (gpio >= 0) {
            gpioSlot = static_cast<int>(count);
            fds[count++] = {gpio, POLLPRI | POLLERR, 0};
        }
        int ready = 1;
        if (!missedEdge) {
            const int timeoutMs = static_cast<int>(kPassTimeoutMs / s_g_speed);
            ready = deviceIO().poll(count ? fds : nullptr, count, timeoutMs);
            if (ready < 0 && errno == EINTR)
                ready = 1;  // neither a time-out nor an event: just the next pass
        }
        if (missedEdge || (gpioSlot >= 0 && (fds[gpioSlot].revents & (POLLPRI | POLLERR)))) {
            cellwardenSleepMs(kEdgeSettleMs);
            EdgeAction();
            settled = IsWallAlimConnected() ? 1 : 0;
            if (!settled && PowerOffAllowed()) {
                deviceIO().close(gpio);
                SystemHalt();
            }
        } else if (level >= 0) {
            settled = level;
        }
        if (pipeSlot >= 0 && (fds[pipeSlot].revents & POLLIN)) {
            const std::string bytes = drainPipe(pipe);
            if (isPowerOffMessage(bytes.data(), bytes.size()) && (!IsWallAlimConnected() || FullTest())) {
                if (gpio >= 0)
                    deviceIO().close(gpio);
                SystemHalt();
            }
        }
        if (ready == 0)
            PeriodicAction();
        if (gpio >= 0)
            deviceIO().close(gpio);
    }
}
