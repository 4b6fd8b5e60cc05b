// Control API of the simulated board (board/sim/simboard.h).
#include "board/sim/simboard.h"
#include "board/sim/simstate.h"

#include "board/board.h"
#include "board/deviceio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace simboard {

namespace {

TSimBoard& board()
{
    return TSimBoard::get();
}

// Reads a board file through the board's confinement (a regular file under the root, opened
// non-blocking), keeping at most limit + 1 bytes so that the caller can tell a file too large.
// On failure: the reason.
bool readBoardFile(const std::string& path, std::string* out, size_t limit, std::string* why)
{
    int fd = openBoardFileIn("/", path.c_str(), nullptr, why);
    if (fd < 0)
        return false;
    out->clear();
    char buf[4096];
    while (out->size() <= limit) {
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit + 1 - out->size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            if (why)
                *why = "cannot be read";
            return false;
        }
        if (n == 0)
            break;
        out->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

// A scenario file and the text it holds.
bool readScenarioText(const std::string& path, std::string* text, std::string* why)
{
    constexpr size_t kLimit = 16u << 20;
    if (!readBoardFile(path, text, kLimit, why))
        return false;
    if (text->size() > kLimit) {
        *why = "larger than 16 MiB";
        return false;
    }
    return true;
}

// Every board path of the scenario must name a regular file under the root: anything else there
// (a FIFO, a folder, a device, a path leading out of the root) refuses the scenario as a bad key
// does. A missing file is left to applyScenario, which leaves the probe absent.
bool checkScenarioPaths(const TScenario& s, std::string* error)
{
    for (int ch = 0; ch < 4; ++ch) {
        const std::string& path = s.probeImages[ch];
        if (path.empty())
            continue;
        std::string why;
        int fd = openBoardFileIn("/", path.c_str(), nullptr, &why);
        if (fd >= 0) {
            ::close(fd);
            continue;
        }
        if (errno == ENOENT)
            continue;
        if (error)
            *error = "channels[" + std::to_string(ch) + "].probeMemory: " + path + ": " + why;
        return false;
    }
    return true;
}

std::vector<uint8_t> padded(const std::vector<uint8_t>& image)
{
    std::vector<uint8_t> mem(kProbeMemorySize, 0xFF);
    std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), mem.size())), mem.begin());
    return mem;
}

std::string hex(uint64_t v, int digits)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

std::atomic<bool> installedFlag{false};

} // namespace

void TSimBoard::applyScenario(const TScenario& s, std::string* warnings, bool reloadAll)
{
    TScenario old = scenario;
    scenario = s;
    attachBusModels(scenario);
    for (size_t c = 0; c < chips.size(); ++c)
        chips[c].errors = scenario.errors[c];
    if (s.speedFactor != speed)
        setSpeed(s.speedFactor);
    if (reloadAll || s.seed != old.seed)
        rng.seed(s.seed);
    for (int ch = 0; ch < 4; ++ch) {
        if (!reloadAll && s.probeImages[ch] == old.probeImages[ch] && s.probes[ch] == old.probes[ch])
            continue;
        plugProbe(ch, {}, 0x21);
        if (s.probes[ch]) {
            std::vector<uint8_t> mem = padded(buildProbeImage(*s.probes[ch], ch));
            plugProbe(ch, std::move(mem), s.probes[ch]->expander);
            probeChips[ch].press(s.probes[ch]->button);
            continue;
        }
        const std::string& path = s.probeImages[ch];
        if (path.empty())
            continue;
        std::string bytes, why;
        std::string where = "channels[" + std::to_string(ch) + "].probeMemory: " + path;
        if (!readBoardFile(path, &bytes, kProbeMemorySize, &why)) {
            if (warnings)
                *warnings += where + ": " + why + " (no probe)\n";
            continue;
        }
        if (bytes.size() > kProbeMemorySize && warnings)
            *warnings += where + ": larger than the " + std::to_string(kProbeMemorySize) + "-byte memory (cut)\n";
        plugProbe(ch, padded(std::vector<uint8_t>(bytes.begin(), bytes.end())), 0x21);
    }
}

// ---------------------------------------------------------------------------------------------
// Scenario

TScenario scenario()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().scenario;
}

bool loadScenarioText(const std::string& json, std::string* error)
{
    TScenario s;
    if (!parseScenario(json, &s, error) || !checkScenarioPaths(s, error))
        return false;
    std::string warnings;
    {
        std::lock_guard<std::mutex> lock(board().mu);
        board().applyScenario(s, &warnings, false);
    }
    if (!warnings.empty() && error)
        *error = warnings;
    return warnings.empty();
}

bool loadScenarioFile(const std::string& path, std::string* error)
{
    std::string text, why;
    if (!readScenarioText(path, &text, &why) || !loadScenarioText(text, &why)) {
        if (error)
            *error = path + ": " + why;
        return false;
    }
    return true;
}

void setScenario(const TScenario& s)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().applyScenario(s, nullptr, false);
}

void updateScenario(const std::function<void(TScenario&)>& change)
{
    TScenario s = scenario();
    change(s);
    setScenario(s);
}

// ---------------------------------------------------------------------------------------------
// Life cycle

bool install(std::string* error)
{
    std::string why;
    bool ok = true;
    TScenario s = defaultScenario();
    if (!boardRoot().empty()) {
        seedScenarioFile();
        std::string text, refusal;
        if (!readScenarioText(kScenarioPath, &text, &refusal) || !parseScenario(text, &s, &refusal) ||
            !checkScenarioPaths(s, &refusal)) {
            ok = false;
            why = std::string(kScenarioPath) + ": " + refusal + " (defaults used)\n";
            s = defaultScenario();
        }
    }
    {
        std::lock_guard<std::mutex> lock(board().mu);
        std::string warnings;
        board().applyScenario(s, &warnings, true);
        board().reset();
        if (!warnings.empty()) {
            ok = false;
            why += warnings;
        }
    }
    setDeviceIO(&simulatedDeviceIO());
    installedFlag = true;
    if (!why.empty() && why.back() == '\n')
        why.pop_back();
    if (error)
        *error = why;
    return ok;
}

void uninstall()
{
    if (installed())
        setDeviceIO(nullptr);
    installedFlag = false;
}

bool installed()
{
    return installedFlag && &deviceIO() == &simulatedDeviceIO();
}

void reset()
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().reset();
}

void shutdown()
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().shutDown = true;
    board().notifyAll();
}

bool isShutDown()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().shutDown;
}

uint64_t simTimeNs()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().nowNs();
}

uint32_t simRandom()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return static_cast<uint32_t>(board().rng());
}

// ---------------------------------------------------------------------------------------------
// FPGA model

uint32_t spiRegister(int id)
{
    if (id < 0 || id >= 128)
        return 0;
    TSimBoard& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    switch (id) {  // the computed registers, read without side effects
    case 16: return b.statusNow();
    case 99: return b.scenario.fpgaVersion;
    case 104: case 105: case 106: case 107: return b.triggerPosition(id - 104);
    case 122: return b.i2cStatus(false);
    case 123: return b.i2cStatus(true);
    default: return b.spi[id];
    }
}

void pokeSpiRegister(int id, uint32_t value)
{
    if (id < 0 || id >= 128)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().spi[id] = value;
}

uint16_t eimWord(uint32_t word)
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().eimStored(word);
}

void pokeEimWord(uint32_t word, uint16_t value)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().eimStore(word, value);
}

TFrontEnd frontEnd(int channel)
{
    TFrontEnd out;
    if (channel < 0 || channel > 3)
        return out;
    TSimBoard& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    const TFrontEndChip& c = b.chips[channel];
    out.registers = c.reg;
    out.registerWritten = c.written;
    out.params = c.params;
    out.decoded = c.decoded;
    out.registerWrites = c.writes;
    const auto& codes = b.deviceCodes[channel];
    out.relayWord = static_cast<uint16_t>(codes[0x10].data >> 1);
    out.relayWordWritten = codes[0x10].written;
    out.relayWord2 = static_cast<uint16_t>(codes[0x12].data >> 1);
    out.initWord = static_cast<uint16_t>(codes[0x41].data >> 1);
    return out;
}

TDeviceCode channelDeviceCode(int device, int code)
{
    if (device < 0 || device > 6 || code < 0 || code > 0x7F)
        return TDeviceCode();
    std::lock_guard<std::mutex> lock(board().mu);
    return board().deviceCodes[device][code];
}

std::vector<TSerialCommand> serialCommands()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return std::vector<TSerialCommand>(board().serialHistory.begin(), board().serialHistory.end());
}

std::vector<TSerialCommand> globalCommands()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return std::vector<TSerialCommand>(board().globalHistory.begin(), board().globalHistory.end());
}

TDeviceCode globalCommand(int opcode)
{
    if (opcode < 0 || opcode > 0x1FF)
        return TDeviceCode();
    std::lock_guard<std::mutex> lock(board().mu);
    return board().globalStore[opcode];
}

std::vector<uint8_t> probeMemory(int channel)
{
    if (channel < 0 || channel > 3)
        return {};
    std::lock_guard<std::mutex> lock(board().mu);
    return board().probe[channel];
}

void setProbeMemory(int channel, const std::vector<uint8_t>& image)
{
    if (channel < 0 || channel > 3)
        return;
    std::vector<uint8_t> mem = padded(image);
    std::lock_guard<std::mutex> lock(board().mu);
    board().plugProbe(channel, std::move(mem), 0x21);
    board().raisePanelFlag(channel + 1);
}

void removeProbe(int channel)
{
    if (channel < 0 || channel > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    const bool plugged = !board().probe[channel].empty();
    board().plugProbe(channel, {}, 0x21);
    if (plugged)
        board().raisePanelFlag(channel + 1);
}

// ---------------------------------------------------------------------------------------------
// Board model

TReg20 reg20()
{
    TReg20 r;
    {
        std::lock_guard<std::mutex> lock(board().mu);
        r.raw = board().spi[20];
        r.pulse24Count = board().pulse24Count;
    }
    uint32_t v = r.raw;
    r.channelPower = v & 0xF;
    r.channelPowerInverted = (v >> 4) & 0xF;
    r.anyChannelPowered = (v >> 8) & 1;
    r.lamp = (v >> 9) & 1;
    r.statusLamp = (v >> 10) & 3;
    r.selfTestLamps = (v >> 10) & 0xF;
    r.channelPowerCopy = (v >> 12) & 0xF;
    r.bit18 = (v >> 18) & 1;
    r.bit19 = (v >> 19) & 1;
    r.bit20 = (v >> 20) & 1;
    r.probeBus = (v >> 22) & 3;
    return r;
}

std::vector<TTimed<uint32_t>> reg20History()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().reg20History;
}

namespace {
std::vector<TSysfsWrite> sysfsWithPrefix(const std::string& prefix, bool exact)
{
    std::lock_guard<std::mutex> lock(board().mu);
    std::vector<TSysfsWrite> out;
    for (const auto& w : board().sysfsHistory)
        if (exact ? w.path == prefix : w.path.compare(0, prefix.size(), prefix) == 0)
            out.push_back(w);
    return out;
}
} // namespace

std::vector<TSysfsWrite> sysfsWrites()
{
    return sysfsWithPrefix("", false);
}

std::vector<TSysfsWrite> gpioHistory(int line)
{
    return sysfsWithPrefix("/sys/class/gpio/gpio" + std::to_string(line) + "/value", true);
}

std::vector<TSysfsWrite> ledHistory()
{
    return sysfsWithPrefix("/sys/class/leds/led426/", false);
}

std::vector<TSysfsWrite> backlightHistory()
{
    return sysfsWithPrefix("/sys/class/backlight/backlight.22/", false);
}

int gpioLevel(int line)
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().gpioLevel(line);
}

std::string backlightPower()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().blPower;
}

std::string backlightBrightness()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().blBrightness;
}

std::string ledBrightness()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().ledBrightness;
}

std::string ledTrigger()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().ledTrigger;
}

void clearHistories()
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().reg20History.clear();
    board().sysfsHistory.clear();
    board().serialHistory.clear();
    board().globalHistory.clear();
    board().pulse24Count = 0;
}

int queueInputEvent(int device, uint16_t type, uint16_t code, int32_t value)
{
    TSimBoard& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.queueEvent(device, type, code, value);
}

// ---------------------------------------------------------------------------------------------
// Log

std::string describe(const TLogEntry& e)
{
    std::string s;
    switch (e.kind) {
    case TLogKind::Open: s = "open fd=" + std::to_string(e.a) + " flags=" + hex(static_cast<uint64_t>(e.b), 1) + " " + e.text; break;
    case TLogKind::Close: s = "close fd=" + std::to_string(e.a); break;
    case TLogKind::SpiMode: s = std::string("spi ") + (e.c ? "set" : "get") + " mode " + std::to_string(e.b) + " fd=" + std::to_string(e.a); break;
    case TLogKind::SpiSpeed: s = std::string("spi ") + (e.c ? "set" : "get") + " speed " + std::to_string(e.b) + " fd=" + std::to_string(e.a); break;
    case TLogKind::SpiWrite:
    case TLogKind::SpiRead: {
        s = std::string(e.kind == TLogKind::SpiWrite ? "spi write " : "spi read ") + std::to_string(e.b) + " = " +
            hex(static_cast<uint64_t>(e.c), 8) + " [";
        for (int i = 0; i < e.byteCount; ++i) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%02X", e.bytes[i]);
            s += (i ? " " : "") + std::string(buf);
        }
        s += "] fd=" + std::to_string(e.a);
        break;
    }
    case TLogKind::ConfigBytes: s = "configuration " + std::to_string(e.b) + " bytes fd=" + std::to_string(e.a); break;
    case TLogKind::Serial:
        s = "serial mask " + hex(static_cast<uint64_t>(e.a), 2) + " opcode " + hex(static_cast<uint64_t>(e.b), 3) + " data " +
            hex(static_cast<uint64_t>(e.c), 4) + " read-back " + hex(static_cast<uint64_t>(e.d), 6);
        break;
    case TLogKind::I2c:
        s = "i2c bus " + std::to_string(e.a) + " address " + hex(static_cast<uint64_t>(e.b), 2) + (e.c ? " read" : " write") +
            " offset " + std::to_string(e.d) + " length " + std::to_string(e.e) + ":";
        break;
    case TLogKind::Sysfs: s = "sysfs"; break;
    case TLogKind::I2cDev:
        s = "i2c-dev " + (e.text.empty() ? std::string("slave") : e.text) + " " + hex(static_cast<uint64_t>(e.b), 2) +
            (e.text.empty() ? "" : " register " + std::to_string(e.c) + " value " + hex(static_cast<uint64_t>(e.d), 2)) +
            " fd=" + std::to_string(e.a);
        break;
    case TLogKind::Uio: s = "uio write " + std::to_string(e.b) + " fd=" + std::to_string(e.a); break;
    case TLogKind::Fpga: s = "fpga " + e.text + " after " + std::to_string(e.a) + " bytes"; break;
    case TLogKind::Interrupt:
        s = "interrupt " + e.text + " bits " + hex(static_cast<uint64_t>(e.a), 5) + " count " + std::to_string(e.b);
        break;
    case TLogKind::Engine:
        s = "engine a=" + std::to_string(e.a) + " b=" + std::to_string(e.b) + " c=" + std::to_string(e.c) + " d=" +
            std::to_string(e.d) + ":";
        break;
    }
    if (!e.text.empty() && e.kind != TLogKind::Open && e.kind != TLogKind::Fpga && e.kind != TLogKind::Interrupt)
        s += " " + e.text;
    return s;
}

std::vector<TLogEntry> log(const std::vector<TLogKind>& kinds)
{
    TSimBoard& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    std::vector<TLogEntry> out;
    auto take = [&](const TLogEntry& e) {
        if (kinds.empty())
            out.push_back(e);
        else
            for (TLogKind k : kinds)
                if (k == e.kind) {
                    out.push_back(e);
                    break;
                }
    };
    size_t n = b.ring.size();
    size_t start = n < b.ringCapacity ? 0 : b.ringNext;
    for (size_t i = 0; i < n; ++i)
        take(b.ring[(start + i) % n]);
    return out;
}

void clearLog()
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().ring.clear();
    board().ringNext = 0;
}

void setLogCapacity(size_t entries)
{
    if (entries == 0)
        entries = 1;
    std::vector<TLogEntry> kept = log();
    std::lock_guard<std::mutex> lock(board().mu);
    TSimBoard& b = board();
    if (kept.size() > entries)
        kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(entries));
    b.ring = std::move(kept);
    b.ringCapacity = entries;
    b.ringNext = 0;
}

// ---------------------------------------------------------------------------------------------
// Faults

void setOpenFault(const std::string& path, int error)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().openFaults[path] = error;
}

void clearOpenFault(const std::string& path)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().openFaults.erase(path);
}

void setSerialBusy(int reads)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().serialBusyReads = reads;
}

void setI2cNoAnswer(int bus, int address, int afterTransfers)
{
    std::lock_guard<std::mutex> lock(board().mu);
    for (auto& na : board().noAnswer)
        if (na.bus == bus && na.address == address) {
            na.remaining = afterTransfers;
            return;
        }
    board().noAnswer.push_back(TNoAnswer{bus, address, afterTransfers});
}

void setI2cMasterBusy(bool busy)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().i2cMasterBusy = busy;
}

void clearFaults()
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().luxSilent = false;
    board().openFaults.clear();
    board().serialBusyReads = 0;
    board().noAnswer.clear();
    board().i2cMasterBusy = false;
    board().loadNeverConfigures = false;
    board().interruptsSuppressed = false;
    board().endWithLastBlock = false;
    board().latchAfterStatusRead = 0;
    board().fifoStalled = false;
    board().clearEngineFaults();
    board().updateInterrupt();
}

// ---------------------------------------------------------------------------------------------
// Strict mode

const char* strictCheckName(TStrictCheck check)
{
    switch (check) {
    case TStrictCheck::UnknownOpcode: return "unknown serial opcode";
    case TStrictCheck::SerialWhileBusy: return "serial interface written while busy";
    case TStrictCheck::FrontEndWhileHeld: return "front-end register written while held";
    case TStrictCheck::SpiWriteSize: return "SPI register write not 5 bytes";
    case TStrictCheck::SpiReadForm: return "SPI read message not 1 + 4 bytes";
    case TStrictCheck::SpiSettings: return "SPI register access not at mode 1, 6250000 Hz";
    case TStrictCheck::FifoPortOrder: return "FIFO sample ports read out of order";
    case TStrictCheck::FifoReadEmpty: return "FIFO sample port read while empty";
    case TStrictCheck::StartWithoutMask: return "acquisition start while the interrupt mask is 0";
    case TStrictCheck::PostCountNeverWritten: return "acquisition start before any post-trigger count";
    case TStrictCheck::Count: break;
    }
    return "?";
}

void setStrict(bool on)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().strictOn = on;
}

bool strict()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().strictOn;
}

void setStrictCheck(TStrictCheck check, bool on)
{
    if (check == TStrictCheck::Count)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().checkOn[static_cast<size_t>(check)] = on;
}

std::vector<TViolation> violations()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().violationList;
}

void clearViolations()
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().violationList.clear();
}

} // namespace simboard

bool boardScenarioNeedsCalibration()
{
    using namespace simboard;
    if (!kSimulatedBoard || boardRoot().empty())
        return false;
    std::string text, refusal;
    TScenario s;
    if (!readScenarioText(kScenarioPath, &text, &refusal) || !parseScenario(text, &s, &refusal))
        return false;
    const TAnalogErrors none;
    for (const TAnalogErrors& e : s.errors)
        if (!(e == none))
            return true;
    return false;
}

