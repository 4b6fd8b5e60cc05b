// The front panel of the simulated board: the keys (SPI 52), their event flags (SPI 12, enabled
// by SPI 4) with the events they queue on /dev/input/event1, the power key, the probe lines, the
// GPIO line edges and the ambient-light sensor at 0x4A on /dev/i2c-0.
#include "board/sim/simstate.h"

#include "board/board.h"

#include <algorithm>
#include <cmath>
#include <sys/time.h>

namespace simboard {

namespace {

constexpr int kEventDevice = 1;
constexpr uint16_t kKeyEventCode = 0x100;   // anything but the power key and the light sensor
constexpr uint16_t kPowerEventCode = 47;
constexpr uint16_t kLightEventCode = 50;
constexpr int kLuxAddress = 0x4A;

TSimBoard& board()
{
    return TSimBoard::get();
}

// Register 3 and 4 of a level: the smallest exponent whose rounded mantissa fits in 8 bits.
std::pair<uint8_t, uint8_t> luxBytes(double lux)
{
    const double counts = lux > 0 && std::isfinite(lux) ? lux / 0.045 : 0.0;
    int exponent = 0;
    double mantissa = std::round(counts);
    while (mantissa > 255 && exponent < 15) {
        ++exponent;
        mantissa = std::round(counts / std::ldexp(1.0, exponent));
    }
    const int m = static_cast<int>(std::min(mantissa, 255.0));
    return {static_cast<uint8_t>((exponent << 4) | (m >> 4)), static_cast<uint8_t>(m & 15)};
}

} // namespace

int TSimBoard::queueEventRecord(int device, const struct input_event& ev)
{
    int reached = 0;
    for (auto& f : files) {
        if (!f || f->kind != TDevKind::Evdev || f->evdev != device)
            continue;
        if (f->events.size() - f->eventHead >= kEventQueueLimit)
            continue;  // a reader that never reads loses the newest events
        f->events.push_back(ev);
        ++reached;
    }
    notifyAll();
    return reached;
}

int TSimBoard::queueEvent(int device, uint16_t type, uint16_t code, int32_t value)
{
    struct input_event ev {};
    struct timeval now;
    gettimeofday(&now, nullptr);
    ev.input_event_sec = now.tv_sec;
    ev.input_event_usec = now.tv_usec;
    ev.type = type;
    ev.code = code;
    ev.value = value;
    return queueEventRecord(device, ev);
}

void TSimBoard::raisePanelFlag(int bit)
{
    panelFlags |= 1u << bit;
    if (spi[4] & (1u << bit))
        queueEvent(kEventDevice, EV_KEY, kKeyEventCode, 1);
}

void TSimBoard::installPanelHandlers()
{
    spiHandlers[12].read = [](TSimBoard& b, int) {
        const uint32_t flags = b.panelFlags;
        b.panelFlags = 0;
        return flags;
    };
    spiHandlers[52].read = [](TSimBoard& b, int) { return b.panelKeys; };
}

void TSimBoard::setGpioLine(int line, int level)
{
    level = level ? 1 : 0;
    // A shared line's file may already hold the level (the player wrote it): the edge is a
    // change from what this program last saw.
    auto seen = lineSeen.find(line);
    const int before = seen != lineSeen.end() ? seen->second : gpioLevel(line);
    if (isSharedLine(line) && !boardRoot().empty())
        writeSharedLineFile(line, level);
    auto& inputs = scenario.gpioInputs;
    auto it = std::find_if(inputs.begin(), inputs.end(), [&](const std::pair<int, int>& g) { return g.first == line; });
    if (it != inputs.end())
        it->second = level;
    else
        inputs.emplace_back(line, level);
    if (gpioLevel(line) == before)
        return;
    for (auto& f : files)
        if (f && f->kind == TDevKind::Sysfs && f->node == TSysfsNode::GpioValue && f->gpio == line)
            f->edgePending = true;
    notifyAll();
}

void TSimBoard::setLuxLevel(double lux)
{
    const uint8_t before = luxBytes(scenario.lux).first;
    scenario.lux = lux;
    const uint8_t now = luxBytes(lux).first;
    if (now == before || luxRegs[1] != 1)
        return;
    if (now > luxRegs[5] || now < luxRegs[6]) {
        luxRegs[0] |= 1;
        queueEvent(kEventDevice, EV_KEY, kLightEventCode, 1);
    }
}

ssize_t TSimBoard::i2cDevWrite(TVFile& f, int fd, const uint8_t* in, size_t count)
{
    TLogEntry& e = addLog(TLogKind::I2cDev);
    e.a = fd;
    e.b = f.i2cSlave;
    e.c = count > 0 ? in[0] : -1;
    e.d = count > 1 ? in[1] : -1;
    e.text = "write";
    if (f.i2cSlave != kLuxAddress || luxSilent || count == 0 || count > 2) {
        e.text += " failed";
        errno = EIO;
        return -1;
    }
    luxPointer = in[0] & 7;
    if (count == 2 && luxPointer != 0 && luxPointer != 3 && luxPointer != 4)
        luxRegs[luxPointer] = in[1];
    return static_cast<ssize_t>(count);
}

ssize_t TSimBoard::i2cDevRead(TVFile& f, int fd, uint8_t* out, size_t count)
{
    TLogEntry& e = addLog(TLogKind::I2cDev);
    e.a = fd;
    e.b = f.i2cSlave;
    e.c = luxPointer;
    e.text = "read";
    if (f.i2cSlave != kLuxAddress || luxSilent || count != 1) {
        e.text += " failed";
        errno = EIO;
        return -1;
    }
    const auto bytes = luxBytes(scenario.lux);
    uint8_t v = luxRegs[luxPointer];
    if (luxPointer == 3)
        v = bytes.first;
    else if (luxPointer == 4)
        v = bytes.second;
    else if (luxPointer == 0)
        luxRegs[0] = 0;  // reading the status clears it
    out[0] = v;
    e.d = v;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Control API

void pressKeys(uint32_t mask)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    mask &= 0x7FFFFFFF;   // the power key is not on the panel register
    const uint32_t added = mask & ~b.panelKeys;
    b.panelKeys |= mask;
    if (added != 0)
        b.raisePanelFlag(0);
}

void releaseKeys(uint32_t mask)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().panelKeys &= ~mask;
}

uint32_t panelKeys()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().panelKeys;
}

void setPowerKey(bool down)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    if (b.powerKey == down)
        return;
    b.powerKey = down;
    b.queueEvent(kEventDevice, EV_KEY, kPowerEventCode, down ? 1 : 0);
}

void setGpioInput(int line, int level)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().setGpioLine(line, level);
}

void setLux(double lux)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().setLuxLevel(lux);
}

void setLuxSensorSilent(bool silent)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().luxSilent = silent;
}

uint8_t luxRegister(int reg)
{
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    if (reg == 3 || reg == 4) {
        const auto bytes = luxBytes(b.scenario.lux);
        return reg == 3 ? bytes.first : bytes.second;
    }
    return reg >= 0 && reg < 8 ? b.luxRegs[reg] : 0;
}

} // namespace simboard
