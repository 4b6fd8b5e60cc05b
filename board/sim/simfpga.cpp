// The simulated board's core: clock, log, strict checks, and the FPGA model (SPI register file,
// EIM window, serial front-end interface) with its handler tables.
#include "board/sim/simstate.h"

#include <pthread.h>

#include <cstdio>

namespace simboard {

namespace {

std::vector<std::pair<std::string, std::function<void(TSimBoard&)>>>& extensions()
{
    static auto* list = new std::vector<std::pair<std::string, std::function<void(TSimBoard&)>>>();
    return *list;
}

// Opcodes of the serial front-end interface that the product uses.
bool opcodeKnown(uint16_t op)
{
    if (op <= 0x010 || (op >= 0x100 && op <= 0x110) || (op >= 0x0C1 && op <= 0x0CE) || (op >= 0x1C1 && op <= 0x1CC))
        return true;
    switch (op) {
    case 0x080: case 0x082: case 0x083: case 0x084: case 0x087: case 0x089: case 0x090:
    case 0x092: case 0x095: case 0x096: case 0x097: case 0x0AC: case 0x0AD: case 0x0D1:
    case 0x181: case 0x185: case 0x186: case 0x1A0: case 0x1CF:
    case 0x188: case 0x191: case 0x193: case 0x1CE: case 0x1D0: case 0x1D1:
        return true;
    default:
        return false;
    }
}

template <typename T>
void pushBounded(std::deque<T>& q, T v)
{
    if (q.size() >= kHistoryLimit)
        q.pop_front();
    q.push_back(std::move(v));
}

std::string hex(uint32_t v, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

constexpr uint16_t kRelayCode = 0x10;   // opcode 0x090
constexpr uint16_t kHeldBit = 0x80;     // of the relay word (data word >> 1)

} // namespace

void registerSimExtension(const std::string& name, std::function<void(TSimBoard&)> install)
{
    TSimBoard& b = TSimBoard::get();
    std::lock_guard<std::mutex> lock(b.mu);
    for (auto& e : extensions())
        if (e.first == name) {
            e.second = std::move(install);
            return;
        }
    extensions().emplace_back(name, std::move(install));
}

namespace {
TSimBoard* g_board = nullptr;
void lockBoardForFork() { g_board->mu.lock(); }
void unlockBoardAfterFork() { g_board->mu.unlock(); }
} // namespace

TSimBoard& TSimBoard::get()
{
    static TSimBoard* board = [] {
        g_board = new TSimBoard();
        // The device thread takes the board lock every millisecond: a fork (death tests, child
        // processes) must not copy it locked, or the child's first device access would hang.
        pthread_atfork(lockBoardForFork, unlockBoardAfterFork, unlockBoardAfterFork);
        return g_board;
    }();
    return *board;
}

TSimBoard::TSimBoard()
{
    clockMark = std::chrono::steady_clock::now();
    checkOn.fill(true);
    scenario = defaultScenario();
    reset();
}

void TSimBoard::notifyAll()
{
    ++wakeGeneration;
    wake.notify_all();
}

uint64_t TSimBoard::nowNs() const
{
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - clockMark);
    return clockMarkNs + static_cast<uint64_t>(static_cast<double>(elapsed.count()) * speed);
}

void TSimBoard::setSpeed(double factor)
{
    clockMarkNs = nowNs();
    clockMark = std::chrono::steady_clock::now();
    speed = factor > 0 ? factor : 1.0;
}

TLogEntry& TSimBoard::addLog(TLogKind kind)
{
    TLogEntry* e;
    if (ring.size() < ringCapacity) {
        ring.emplace_back();
        e = &ring.back();
    } else {
        e = &ring[ringNext];
        ringNext = (ringNext + 1) % ringCapacity;
        *e = TLogEntry();
    }
    e->seq = ++logSeq;
    e->timeNs = nowNs();
    e->kind = kind;
    return *e;
}

void TSimBoard::violate(TStrictCheck check, std::string context)
{
    if (!strictOn || !checkOn[static_cast<size_t>(check)])
        return;
    if (violationList.size() >= 1000)
        return;  // enough to report; a runaway loop must not eat the memory
    violationList.push_back(TViolation{nowNs(), check, std::move(context)});
}

void TSimBoard::raiseUioInterrupt()
{
    if (!uioEnabled) {
        uioPending = true;
        return;
    }
    uioEnabled = false;
    ++uioInterrupts;
    notifyAll();
}

void TSimBoard::setUioEnabled(bool on)
{
    uioEnabled = on;
    if (on && uioPending) {
        uioPending = false;
        raiseUioInterrupt();
    }
}

// ---------------------------------------------------------------------------------------------
// SPI register file

uint32_t TSimBoard::spiRead(int id)
{
    if (id < 0 || id >= 128 || !fpgaConfigured())
        return 0;
    if (spiHandlers[id].read)
        return spiHandlers[id].read(*this, id);
    return spi[id];
}

void TSimBoard::spiWrite(int id, uint32_t value)
{
    if (id < 0 || id >= 128 || !fpgaConfigured())
        return;
    if (spiHandlers[id].write)
        spiHandlers[id].write(*this, id, value);
    else
        spi[id] = value;
}

// ---------------------------------------------------------------------------------------------
// EIM window

uint16_t TSimBoard::eimStored(uint32_t word) const
{
    if (word < kEimDirectWords)
        return eim[word];
    auto it = eimFar.find(word);
    return it == eimFar.end() ? 0 : it->second;
}

void TSimBoard::eimStore(uint32_t word, uint16_t value)
{
    if (word < kEimDirectWords)
        eim[word] = value;
    else if (word < kEimWindowWords)
        eimFar[word] = value;
}

uint16_t TSimBoard::eimRead(uint32_t word)
{
    if (word < kEimDirectWords && eimHandlers[word].read)
        return eimHandlers[word].read(*this, word);
    return eimStored(word);
}

void TSimBoard::eimWrite(uint32_t word, uint16_t value)
{
    if (word < kEimDirectWords && eimHandlers[word].write)
        eimHandlers[word].write(*this, word, value);
    else
        eimStore(word, value);
}

// ---------------------------------------------------------------------------------------------
// Serial front-end interface

void TSimBoard::serialCommand(uint16_t command)
{
    ++serialCount;
    TSerialCommand c;
    c.timeNs = nowNs();
    c.opcode = command & 0x1FF;
    c.mask = static_cast<uint16_t>(command >> 9);
    c.data = serialData;

    if (!fpgaConfigured()) {  // nothing answers: logged only, kept out of the histories
        TLogEntry& e = addLog(TLogKind::Serial);
        e.a = c.mask;
        e.b = c.opcode;
        e.c = c.data;
        e.text = "FPGA not configured";
        return;
    }
    if (serialBusy()) {
        violate(TStrictCheck::SerialWhileBusy,
                "serial command " + hex(command, 4) + " written while the interface is busy (dropped)");
        c.dropped = true;
    } else {
        if (!opcodeKnown(c.opcode))
            violate(TStrictCheck::UnknownOpcode, "serial command " + hex(command, 4) + ": opcode " +
                                                     hex(c.opcode, 3) + " is not one the product uses");
        const TOpcodeHandler& h = opcodeHandlers[c.opcode];
        uint32_t readBack = 0;
        if (c.mask == 0) {
            globalStore[c.opcode] = TDeviceCode{c.data, true};
            if (h)
                readBack = h(*this, -1, c.opcode, c.data);
        } else {
            bool first = true;
            for (int d = 0; d < 7; ++d) {
                if (!(c.mask & (1u << d)))
                    continue;
                uint32_t r = h ? h(*this, d, c.opcode, c.data) : 0;
                if (first)
                    readBack = r;
                first = false;
            }
        }
        if (c.opcode & 0x100) {
            serialReadBack = readBack & 0xFFFFFF;
            c.readBack = serialReadBack;
        }
    }

    TLogEntry& e = addLog(TLogKind::Serial);
    e.a = c.mask;
    e.b = c.opcode;
    e.c = c.data;
    e.d = c.readBack;
    if (c.dropped)
        e.text = "dropped";
    if (c.mask == 0)
        pushBounded(globalHistory, c);
    pushBounded(serialHistory, c);
}

// ---------------------------------------------------------------------------------------------
// Power-on state and the core handlers

void TSimBoard::reset()
{
    quickCalibration = false;
    spi.fill(0);
    spiHandlers = {};
    eim.assign(kEimDirectWords, 0);
    eimFar.clear();
    eimHandlers = {};
    opcodeHandlers = {};
    serialData = 0;
    serialReadBack = 0;
    serialCount = 0;
    deviceCodes = {};
    globalStore = {};
    globalHistory.clear();
    serialHistory.clear();
    chips = {};
    for (size_t c = 0; c < chips.size(); ++c)
        chips[c].errors = scenario.errors[c];
    i2c = TI2cMaster();
    powerOnFpga();
    uioInterrupts = 0;
    uioEnabled = false;
    uioPending = false;

    reg20History.clear();
    pulse24Count = 0;
    gpioOutputs.clear();
    gpioEdges.clear();
    lineSeen.clear();
    ledBrightness = "0";
    ledTrigger = "none";
    blPower = "0";
    blBrightness = "9";
    sysfsHistory.clear();

    ring.clear();
    ring.shrink_to_fit();
    ringNext = 0;
    violationList.clear();
    openFaults.clear();
    serialBusyReads = 0;
    noAnswer.clear();
    i2cMasterBusy = false;
    shutDown = false;
    rng.seed(scenario.seed);
    panelKeys = 0;
    panelFlags = 0;
    powerKey = false;
    luxRegs.fill(0);
    luxPointer = 0;
    luxSilent = false;

    for (auto& f : files)
        if (f) {
            f->events.clear();
            f->eventHead = 0;
            f->uioSeen = 0;
        }

    installCoreHandlers();
    for (auto& ext : extensions())
        ext.second(*this);
    notifyAll();
}

void TSimBoard::installCoreHandlers()
{
    // Register 20: the board outputs.
    spiHandlers[20].write = [](TSimBoard& b, int, uint32_t v) { b.writeReg20(v); };
    // Register 99: the FPGA version; writes do not change it.
    spiHandlers[99].read = [](TSimBoard& b, int) { return b.scenario.fpgaVersion; };
    spiHandlers[99].write = [](TSimBoard&, int, uint32_t) {};
    // I2C master.
    spiHandlers[120].write = [](TSimBoard& b, int, uint32_t v) {
        b.spi[120] = v;
        b.i2cStart(v);
    };
    spiHandlers[122].read = [](TSimBoard& b, int) { return b.i2cStatus(false); };
    spiHandlers[122].write = [](TSimBoard&, int, uint32_t) {};
    spiHandlers[123].read = [](TSimBoard& b, int) { return b.i2cStatus(true); };
    spiHandlers[123].write = [](TSimBoard&, int, uint32_t) {};
    spiHandlers[124].write = [](TSimBoard& b, int, uint32_t v) {
        b.spi[124] = v;
        if (b.i2c.pending.size() < 4096)
            b.i2c.pending.push_back(static_cast<uint8_t>(v));
    };
    spiHandlers[125].read = [](TSimBoard& b, int) -> uint32_t {
        if (b.i2c.readData.empty())
            return 0xFF;  // an idle bus reads high
        uint8_t v = b.i2c.readData.front();
        b.i2c.readData.pop_front();
        return v;
    };

    // Serial front-end interface: words 48 (data), 49 (command), 50 (busy), 51-52 (read-back).
    eimHandlers[48].write = [](TSimBoard& b, uint32_t w, uint16_t v) {
        if (b.serialBusy())
            b.violate(TStrictCheck::SerialWhileBusy, "serial data word " + hex(v, 4) + " written while busy");
        b.eimStore(w, v);
        b.serialData = v;
    };
    eimHandlers[49].write = [](TSimBoard& b, uint32_t w, uint16_t v) {
        b.eimStore(w, v);
        b.serialCommand(v);
    };
    eimHandlers[50].read = [](TSimBoard& b, uint32_t) -> uint16_t {
        if (b.serialBusyReads == 0)
            return 0;
        if (b.serialBusyReads > 0)
            --b.serialBusyReads;
        return 1;
    };
    eimHandlers[51].read = [](TSimBoard& b, uint32_t) { return static_cast<uint16_t>((b.serialReadBack >> 16) & 0xFF); };
    eimHandlers[52].read = [](TSimBoard& b, uint32_t) { return static_cast<uint16_t>(b.serialReadBack & 0xFFFF); };

    // Front-end register writes and read-backs (channel devices 0-3 carry the chips).
    for (uint16_t r = 0; r < kChipRegisters; ++r) {
        opcodeHandlers[r] = [](TSimBoard& b, int d, uint16_t op, uint16_t data) -> uint32_t {
            if (d < 0 || d > 3)
                return 0;
            const TDeviceCode& relay = b.deviceCodes[d][kRelayCode];
            if (((relay.data >> 1) & kHeldBit) != 0)
                b.violate(TStrictCheck::FrontEndWhileHeld,
                          "front-end register " + std::to_string(op) + " of channel " + std::to_string(d + 1) +
                              " written while its relay word " + hex(relay.data >> 1, 4) + " holds the front end");
            b.chips[d].write(op, static_cast<uint16_t>(data >> 1));
            return 0;
        };
        opcodeHandlers[0x100 + r] = [](TSimBoard& b, int d, uint16_t op, uint16_t) -> uint32_t {
            if (d < 0 || d > 3)
                return 0;
            int r = op - 0x100;
            return (static_cast<uint32_t>(b.chips[d].reg[r]) << (23 - chipTopBit(r))) & 0xFFFFFF;
        };
    }
    // Channel-device codes: the last two data words per code and device.
    for (uint16_t op = 0x080; op <= 0x0FF; ++op)
        opcodeHandlers[op] = [](TSimBoard& b, int d, uint16_t code, uint16_t data) -> uint32_t {
            if (d >= 0) {
                TDeviceCode& stored = b.deviceCodes[d][code - 0x80];
                stored = TDeviceCode{data, true, stored.data};
                if (code == 0x0C1 && d < 4)
                    b.chips[static_cast<size_t>(d)].initWord = data;
            }
            return 0;
        };
    installPipelineReadBacks();

    installAcquisitionHandlers();
    installEngineHandlers();
    installPanelHandlers();
}

void TSimBoard::installPipelineReadBacks()
{
    // The channel devices' pipeline registers: read code, the code written for it, field width.
    // A field wider than 14 bits arrives in two words, its high part first.
    struct TPipelineField {
        uint16_t readCode;
        uint16_t writeCode;
        int width;
    };
    static const TPipelineField kFields[] = {
        {0x41, 0x41, 7},  {0x42, 0x42, 14}, {0x43, 0x43, 5},  {0x44, 0x44, 20}, {0x45, 0x45, 20},
        {0x46, 0x46, 14}, {0x47, 0x47, 5},  {0x48, 0x48, 12}, {0x49, 0x49, 14}, {0x4A, 0x4A, 6},
        {0x4B, 0x4B, 14}, {0x4C, 0x4C, 5},  {0x4E, 0x4E, 5},  {0x51, 0x51, 14}, {0x08, 0x09, 17},
        {0x11, 0x10, 14}, {0x13, 0x12, 2},
    };
    for (const TPipelineField& f : kFields) {
        const uint16_t writeCode = f.writeCode;
        const int width = f.width;
        opcodeHandlers[0x180 + f.readCode] = [writeCode, width](TSimBoard& b, int d, uint16_t, uint16_t) -> uint32_t {
            if (d < 0 || d > 3)
                return 0;
            const TDeviceCode& w = b.deviceCodes[d][writeCode];
            const uint32_t value = width > 14 ? ((uint32_t{w.previous} >> 1) << 14) | (uint32_t{w.data} >> 1)
                                              : uint32_t{w.data} >> 1;
            return (value << (24 - width)) & 0xFFFFFF;
        };
    }
    // Read-only: a fixed pattern per channel (0x1CF is the frequency counter's).
    opcodeHandlers[0x1D0] = [](TSimBoard&, int d, uint16_t, uint16_t) -> uint32_t {
        return d < 0 || d > 3 ? 0 : 0x5A0000u + 0x1111u * static_cast<uint32_t>(d + 1);
    };
}

} // namespace simboard
