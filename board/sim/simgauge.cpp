// The simulated fuel gauge of the battery pack behind a pseudo-terminal (see simboard.h).
#include "board/board.h"
#include "board/sim/simboard.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace simboard {

namespace {

constexpr const char* kGaugeDevice = "/dev/ttymxc2";
constexpr const char* kAdcValue = "/sys/bus/i2c/devices/2-0049/adc_aux/value_mV";
// Silence that ends a partial frame: long enough for a writer descheduled between its one-character
// writes on a loaded host (the real line's transmit queue hides such pauses; 50 ms was seen
// exceeded), and shorter than the host's half-second read time-out, so a host that gave up on a
// frame finds the gauge in step again.
constexpr int kIdleGapMs = 300;

bool isWordHigh(uint8_t reg)
{
    static const uint8_t highs[] = {0x01, 0x09, 0x0B, 0x0D, 0x11, 0x77, 0x79, 0x7B, 0x7D, 0x7F};
    return std::find(std::begin(highs), std::end(highs), reg) != std::end(highs);
}

void makeParents(const std::string& hostPath)
{
    for (size_t at = 1; (at = hostPath.find('/', at)) != std::string::npos; ++at)
        ::mkdir(hostPath.substr(0, at).c_str(), 0755);
}

} // namespace

struct TSimGauge::Impl {
    mutable std::mutex mu;
    TGaugeModel model = TGaugeModel::Bq34z100;
    std::array<uint8_t, 256> regs{};
    TGaugeFaults faults;
    std::vector<std::pair<uint8_t, uint8_t>> writes;
    int master = -1;
    int wake[2] = {-1, -1};
    std::thread thread;
    std::atomic<bool> running{false};
    // Set from before the gauge thread's read until what it read is handled (drained()).
    std::atomic<bool> handling{false};

    // The battery group's rates: simulated-board speed, the rates, what is not yet a whole unit.
    double speed = 1;
    TBattery::TRates charging, discharging;
    std::array<double, 6> owed{};
    std::chrono::steady_clock::time_point lastTick = std::chrono::steady_clock::now();

    // Applies the rates for the time since the last tick (the gauge thread, every 100 ms).
    void tick()
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastTick < std::chrono::milliseconds(100))
            return;
        const double minutes = std::chrono::duration<double>(now - lastTick).count() * speed / 60.0;
        lastTick = now;
        TBattery::TRates r;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (!charging.any() && !discharging.any())
                return;
            r = charging;
        }
        const bool wall = sharedLineFileLevel(114) == 1;
        if (wall && sharedLineFileLevel(127) != 1)
            return;  // on wall power with the charger off: the pack rests
        std::lock_guard<std::mutex> lock(mu);
        if (!wall)
            r = discharging;
        const double perMinute[6] = {r.percent, r.chargeTime, r.dischargeTime, r.selfDischarge, r.chargeCount,
                                     r.dischargeCount};
        static const uint8_t where[6] = {0x02, 0x76, 0x78, 0x7A, 0x7C, 0x7E};
        for (int i = 0; i < 6; ++i) {
            owed[i] += perMinute[i] * minutes;
            const double whole = std::trunc(owed[i]);
            if (whole == 0)
                continue;
            owed[i] -= whole;
            if (i == 0) {
                regs[0x02] = static_cast<uint8_t>(std::min(std::max(regs[0x02] + whole, 0.0), 100.0));
            } else {
                const int old = regs[where[i]] | regs[where[i] + 1] << 8;
                setWord(where[i], static_cast<uint16_t>(std::min(std::max(old + whole, 0.0), 65535.0)));
            }
        }
    }

    // Framing state of the gauge thread.
    int bits = 0;
    uint8_t byte = 0;
    bool haveCommand = false;
    uint8_t command = 0;

    void setWord(uint8_t reg, uint16_t v)
    {
        regs[reg] = static_cast<uint8_t>(v);
        regs[static_cast<uint8_t>(reg + 1)] = static_cast<uint8_t>(v >> 8);
    }

    void resync()
    {
        bits = 0;
        byte = 0;
        haveCommand = false;
    }

    // A register read as the model answers it; false for no answer.
    bool answer(uint8_t reg, uint8_t* value)
    {
        std::lock_guard<std::mutex> lock(mu);
        if (model == TGaugeModel::None || faults.silent)
            return false;
        uint8_t v = regs[reg];
        if (model == TGaugeModel::Bq34z100 && reg <= 1)
            v = reg;
        if (model == TGaugeModel::Bq2018 && reg == 0x74)
            v = regs[0x74] & 0xE0;
        if (faults.unstableHighReads > 0 && isWordHigh(reg)) {
            if (faults.unstableHighReads % 2)
                v = static_cast<uint8_t>(v + 1);
            --faults.unstableHighReads;
        }
        *value = v ^ faults.flippedAnswerBits;
        return true;
    }

    void store(uint8_t reg, uint8_t value)
    {
        std::lock_guard<std::mutex> lock(mu);
        writes.emplace_back(reg, value);
        if (model == TGaugeModel::Bq34z100)
            return;  // the registers used are read-only
        if (reg == 0x74) {
            // Counter clear by bits: charge, discharge, self-discharge, charge time, discharge time.
            static const uint8_t counters[] = {0x7C, 0x7E, 0x7A, 0x76, 0x78};
            for (int bit = 0; bit < 5; ++bit)
                if (value & (1 << bit))
                    setWord(counters[bit], 0);
            return;
        }
        regs[reg] = value;
    }

    void onByte(uint8_t b)
    {
        if (!haveCommand) {
            command = b;
            if (b & 0x80) {
                haveCommand = true;  // the data byte follows
                return;
            }
            uint8_t value = 0;
            if (!answer(b, &value))
                return;
            unsigned char chars[16];
            for (int i = 0; i < 8; ++i) {
                chars[i] = (b >> i) & 1 ? 0xFE : 0xC0;
                chars[8 + i] = (value >> i) & 1 ? 0xFE : 0xC0;
            }
            int dropped, delayMs;
            {
                std::lock_guard<std::mutex> lock(mu);
                dropped = std::min(std::max(faults.droppedAnswerChars, 0), 8);
                delayMs = faults.answerDelayMs;
            }
            if (delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            const size_t count = 16 - static_cast<size_t>(dropped);
            if (::write(master, chars, count) < 0) {
            }
            return;
        }
        haveCommand = false;
        store(command & 0x7F, b);
    }

    void onChar(unsigned char c)
    {
        if ((c & 0x3F) != 0)
            byte |= static_cast<uint8_t>(1u << bits);
        if (++bits == 8) {
            const uint8_t b = byte;
            bits = 0;
            byte = 0;
            onByte(b);
        }
    }

    void run()
    {
        unsigned char buffer[257];
        while (running) {
            struct pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
            const int n = ::poll(fds, 2, kIdleGapMs);
            if (!running || (fds[1].revents & POLLIN))
                break;
            tick();
            if (n == 0) {
                resync();  // an idle gap ends any partial frame
                continue;
            }
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            handling = true;
            int queued = 0;
            if ((fds[0].revents & (POLLHUP | POLLERR)) && (::ioctl(master, FIONREAD, &queued) != 0 || queued == 0)) {
                // No host holds the slave, and the last one's writes are all handled: wait for one.
                handling = false;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            const ssize_t got = ::read(master, buffer, sizeof buffer);
            if (got <= 0) {
                handling = false;
                continue;
            }
            // Packet mode: a leading 0 is data, anything else a control report such as the
            // host's input flush that starts every read transaction. A report overtakes the data
            // still queued before it, so it says nothing about where a frame ends: ignored.
            if (buffer[0] == TIOCPKT_DATA)
                for (ssize_t i = 1; i < got; ++i)
                    onChar(buffer[i]);
            handling = false;
        }
    }
};

TSimGauge::TSimGauge() : impl_(new Impl) {}

TSimGauge::~TSimGauge()
{
    stop();
    delete impl_;
}

bool TSimGauge::start(std::string* error)
{
    auto failWith = [&](const std::string& what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        stop();
        return false;
    };
    if (impl_->running)
        return true;
    impl_->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (impl_->master < 0)
        return failWith("pseudo-terminal");
    char slave[128];
    if (::grantpt(impl_->master) != 0 || ::unlockpt(impl_->master) != 0 ||
        ::ptsname_r(impl_->master, slave, sizeof slave) != 0)
        return failWith("pseudo-terminal");
    termios tio;
    if (::tcgetattr(impl_->master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(impl_->master, TCSANOW, &tio);
    }
    int on = 1;
    if (::ioctl(impl_->master, TIOCPKT, &on) != 0)
        return failWith("packet mode");
    const std::string link = boardPath(kGaugeDevice);
    makeParents(link);
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(slave, temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0)
        return failWith(link);
    if (::pipe2(impl_->wake, O_CLOEXEC) != 0)
        return failWith("pipe");
    impl_->running = true;
    impl_->thread = std::thread([this] { impl_->run(); });
    return true;
}

void TSimGauge::stop()
{
    if (impl_->running) {
        impl_->running = false;
        if (::write(impl_->wake[1], "x", 1) < 0) {
        }
    }
    if (impl_->thread.joinable())
        impl_->thread.join();
    for (int* fd : {&impl_->master, &impl_->wake[0], &impl_->wake[1]})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

void TSimGauge::configure(const TBattery& b)
{
    setModel(b.gauge == "bq2018" ? TGaugeModel::Bq2018 : b.gauge == "none" ? TGaugeModel::None : TGaugeModel::Bq34z100);
    setStateOfCharge(b.percent);
    setVoltage(b.voltage_mV);
    setCurrent(b.current_mA);
    setTemperatureK(b.temperature_K);
    setTemperatureCode(b.temperatureCode);
    setCounter(0x76, static_cast<uint16_t>(b.chargeTime));
    setCounter(0x78, static_cast<uint16_t>(b.dischargeTime));
    setCounter(0x7A, static_cast<uint16_t>(b.selfDischarge));
    setCounter(0x7C, static_cast<uint16_t>(b.chargeCount));
    setCounter(0x7E, static_cast<uint16_t>(b.dischargeCount));
    setRates(b.chargingRates, b.dischargingRates);
    // The two models share one register space: the RAM lies over the bq34z100 registers.
    if (b.gauge == "bq2018") {
        setRam(b.ram.empty() ? std::vector<uint8_t>(26, 0) : b.ram);
        setAdcMillivolts(b.adc_mV);
    }
}

void TSimGauge::setModel(TGaugeModel model)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->model = model;
}

TGaugeModel TSimGauge::model() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->model;
}

void TSimGauge::setStateOfCharge(int percent)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->regs[0x02] = static_cast<uint8_t>(std::min(std::max(percent, 0), 255));
}

int TSimGauge::stateOfCharge() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->regs[0x02];
}

void TSimGauge::setVoltage(int millivolts)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->setWord(0x08, static_cast<uint16_t>(millivolts));
}

void TSimGauge::setCurrent(int milliamps)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->setWord(0x0A, static_cast<uint16_t>(static_cast<int16_t>(milliamps)));
    impl_->setWord(0x10, static_cast<uint16_t>(static_cast<int16_t>(milliamps)));
}

void TSimGauge::setTemperatureK(double kelvin)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->setWord(0x0C, static_cast<uint16_t>(std::lround(kelvin * 10)));
}

void TSimGauge::setTemperatureCode(int code)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->regs[0x74] = static_cast<uint8_t>((code & 7) << 5);
}

void TSimGauge::setCounter(uint8_t reg, uint16_t value)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->setWord(reg, value);
}

uint16_t TSimGauge::counter(uint8_t reg) const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return static_cast<uint16_t>(impl_->regs[reg] | impl_->regs[static_cast<uint8_t>(reg + 1)] << 8);
}

void TSimGauge::setRam(const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    for (size_t k = 0; k < 26; ++k)
        impl_->regs[0x02 + k] = k < bytes.size() ? bytes[k] : 0;
}

std::vector<uint8_t> TSimGauge::ram() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return std::vector<uint8_t>(impl_->regs.begin() + 0x02, impl_->regs.begin() + 0x02 + 26);
}

void TSimGauge::setAdcMillivolts(int millivolts)
{
    const std::string path = boardPath(kAdcValue);
    makeParents(path);
    const std::string text = std::to_string(millivolts) + "\n";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (::write(fd, text.data(), text.size()) < 0) {
    }
    ::close(fd);
}

bool TSimGauge::drained(std::chrono::milliseconds timeout) const
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int queued = 0;
        if (!impl_->running || ::ioctl(impl_->master, FIONREAD, &queued) != 0)
            return false;
        if (queued == 0 && !impl_->handling)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::vector<std::pair<uint8_t, uint8_t>> TSimGauge::writeLog() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->writes;
}

void TSimGauge::setFaults(const TGaugeFaults& faults)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults = faults;
}

void TSimGauge::resetFaults() { setFaults(TGaugeFaults{}); }

void TSimGauge::setSpeedFactor(double factor)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->speed = factor > 0 ? factor : 1;
}

void TSimGauge::setRates(const TBattery::TRates& charging, const TBattery::TRates& discharging)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->charging = charging;
    impl_->discharging = discharging;
    impl_->owed = {};
}

bool TBattery::TRates::any() const
{
    return percent != 0 || chargeTime != 0 || dischargeTime != 0 || selfDischarge != 0 || chargeCount != 0 ||
           dischargeCount != 0;
}

} // namespace simboard
