// Internal state of the simulated board: one object, one mutex. The device front ends
// (simrouter.cpp), the FPGA model (simfpga.cpp, simacq.cpp, simfrontend.cpp, simi2c.cpp), the board model
// (simboardmodel.cpp) and the control API (simboard.cpp) all work on it with the mutex held.
#pragma once

#include "board/sim/simboard.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <linux/input.h>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace simboard {

class TSimBoard;
struct TEngineCore;

// Handler tables of the FPGA model. Handlers run with the board's mutex held: they work on the
// board directly and never call the control API. A null member keeps the register-file default.
struct TSpiHandler {
    std::function<uint32_t(TSimBoard&, int id)> read;
    std::function<void(TSimBoard&, int id, uint32_t value)> write;
};
struct TEimHandler {
    std::function<uint16_t(TSimBoard&, uint32_t word)> read;
    std::function<void(TSimBoard&, uint32_t word, uint16_t value)> write;
};
// One serial front-end command for one addressed device (0..6), or for the global acquisition
// controller (device -1, a command with an empty device mask). Returns the 24-bit read-back
// (meaningful for read opcodes 0x100-0x1FF).
using TOpcodeHandler = std::function<uint32_t(TSimBoard&, int device, uint16_t opcode, uint16_t data)>;

// Later models (acquisition engine, analogue model ...) add their handlers here: every reset
// runs the core set-up first, then each extension in registration order. Same name: replaced.
// Not to be called from a handler (the board's mutex is held there).
void registerSimExtension(const std::string& name, std::function<void(TSimBoard&)> install);

struct TFrontEndChip {
    std::array<uint16_t, kChipRegisters> reg{};
    std::array<bool, kChipRegisters> written{};
    std::array<uint16_t, kChipParams> params{};
    std::array<bool, kChipParams> decoded{};
    uint32_t writes = 0;
    bool offsetDacStuck = false;         // fault: p18 writes do not move the offset DAC
    bool referenceDead = false;          // fault: the internal references give nothing
    TAnalogErrors errors;                // the scenario's errors of the channel (applyScenario, reset)
    uint16_t initWord = 0;               // the channel's last init word (0x0C1)
    void write(int r, uint16_t value);   // stores and decodes
};

struct TI2cMaster {
    uint32_t writeStatus = 0;   // SPI 122
    uint32_t readStatus = 0;    // SPI 123
    std::vector<uint8_t> pending;        // bytes written to SPI 124 since the last start
    std::deque<uint8_t> readData;        // bytes for SPI 125
    std::array<uint16_t, 4> pointer{};   // current address of each bus's memory
};

// The chips of a plugged probe beside its memory.
struct TProbeChips {
    bool expander = false;         // active probe (id bit 15)
    int expanderAddress = 0x21;    // 0x21, or 0x41 for the second kind
    uint8_t expanderConfig = 0xFF;  // last configuration byte written
    uint8_t lines = 7;             // input lines; a pressed button holds its line low until read
    uint8_t status = 0;            // status device 0x0C
    bool converter = false;        // temperature converter 0x48 (probe id 7)
    // Button 1..3 pulls input line 0..2 low; other values do nothing.
    void press(int button)
    {
        if (button >= 1 && button <= 3)
            lines = static_cast<uint8_t>(7 & ~(1 << (button - 1)));
    }
};

struct TNoAnswer {
    int bus;
    int address;
    int remaining;   // good transfers left before it stops answering
};

enum class TDevKind { Spi, Uio, I2c, Sysfs, Evdev, Rtc };
enum class TSysfsNode { GpioValue, GpioEdge, LedBrightness, LedTrigger, BlPower, BlBrightness };

// One open of a modelled device.
struct TVFile {
    TDevKind kind = TDevKind::Spi;
    int flags = 0;
    std::string path;
    // spidev: per-open settings
    uint8_t spiMode = 0;
    uint32_t spiSpeed = 0;
    uint8_t spiBits = 8;
    // i2c-dev
    int i2cSlave = -1;
    // sysfs: the text is produced at the first read from offset 0
    TSysfsNode node = TSysfsNode::GpioValue;
    int gpio = -1;
    std::string text;
    bool textValid = false;
    size_t offset = 0;
    // evdev: queue from events[eventHead]
    int evdev = 0;
    std::vector<struct input_event> events;
    size_t eventHead = 0;
    // uio: interrupt count seen by this open
    uint64_t uioSeen = 0;
    // GPIO value file: the line changed since this open last read from offset 0 (POLLPRI)
    bool edgePending = false;
    bool closed = false;   // a blocked reader holds the object past close()
};

constexpr int kVirtualFdBase = 1 << 28;   // far above any real descriptor
constexpr uint32_t kEimDirectWords = 1024;
constexpr uint32_t kEimWindowWords = 0x4000000 / 2;
constexpr size_t kEventQueueLimit = 4096;
constexpr size_t kHistoryLimit = 100000;

class TSimBoard {
public:
    // Created on first use, never destroyed (device threads may outlive main).
    static TSimBoard& get();

    std::mutex mu;
    std::condition_variable wake;   // blocked reads and polls
    uint64_t wakeGeneration = 0;
    void notifyAll();               // lock held

    bool shutDown = false;

    // Clock: wall time since creation times the speed factor, continuous across changes.
    std::chrono::steady_clock::time_point clockMark;
    uint64_t clockMarkNs = 0;
    double speed = 1.0;
    uint64_t nowNs() const;
    void setSpeed(double factor);
    // Quick calibration (TDeviceIO::quickCalibration): hardware waits move the clock ahead and
    // the engine skips the wall time of a running acquisition (simengine.cpp).
    bool quickCalibration = false;
    void advanceClock(uint64_t ns);

    std::mt19937 rng;

    TScenario scenario;
    std::array<std::vector<uint8_t>, 4> probe;   // empty: no probe
    std::array<TProbeChips, 4> probeChips;
    // Plugs mem (padded) with the chips its id calls for; an empty image unplugs.
    void plugProbe(int channel, std::vector<uint8_t> mem, int expanderAddress);
    // Takes s in force: clock speed, seed and probe images (all of them with reloadAll, else
    // those whose file changed); unreadable images are named in warnings.
    void applyScenario(const TScenario& s, std::string* warnings, bool reloadAll);

    // Log ring
    std::vector<TLogEntry> ring;
    size_t ringCapacity = 65536;
    size_t ringNext = 0;
    uint64_t logSeq = 0;
    TLogEntry& addLog(TLogKind kind);

    // Strict checks
    bool strictOn = false;
    std::array<bool, static_cast<size_t>(TStrictCheck::Count)> checkOn{};
    std::vector<TViolation> violationList;
    void violate(TStrictCheck check, std::string context);

    // Faults
    std::map<std::string, int> openFaults;
    int serialBusyReads = 0;
    std::vector<TNoAnswer> noAnswer;
    bool i2cMasterBusy = false;

    // FPGA model: SPI register file and handlers
    std::array<uint32_t, 128> spi{};
    std::array<TSpiHandler, 128> spiHandlers;
    uint32_t spiRead(int id);
    void spiWrite(int id, uint32_t value);

    // EIM window
    std::vector<uint16_t> eim;                       // words below kEimDirectWords
    std::unordered_map<uint32_t, uint16_t> eimFar;   // the rest of the window
    std::array<TEimHandler, kEimDirectWords> eimHandlers;
    uint16_t eimStored(uint32_t word) const;
    void eimStore(uint32_t word, uint16_t value);
    uint16_t eimRead(uint32_t word);
    void eimWrite(uint32_t word, uint16_t value);

    // Serial front-end interface
    std::array<TOpcodeHandler, 512> opcodeHandlers;
    uint16_t serialData = 0;
    uint32_t serialReadBack = 0;
    uint64_t serialCount = 0;   // commands executed since power-on (the one running included)
    bool serialBusy() const { return serialBusyReads != 0; }
    void serialCommand(uint16_t command);
    std::array<std::array<TDeviceCode, 128>, 7> deviceCodes{};
    std::array<TDeviceCode, 512> globalStore{};
    std::deque<TSerialCommand> globalHistory;
    std::deque<TSerialCommand> serialHistory;
    std::array<TFrontEndChip, 4> chips;

    // I2C master
    TI2cMaster i2c;
    void i2cStart(uint32_t conf);
    uint32_t i2cStatus(bool read) const;

    // FPGA configuration (simacq.cpp). powerOn survives reset().
    TPowerOn powerOn = TPowerOn::Scenario;
    TFpgaState fpgaState = TFpgaState::WaitingForImage;
    bool configuredAtPowerOn = false;   // no load since power-on: stray stream bytes ignored
    uint32_t fpgaResets = 0;
    uint64_t configBytes = 0;           // stream bytes since the last reset
    bool fpgaConfigured() const { return fpgaState == TFpgaState::Configured; }
    // A write of count bytes on the configuration stream; false when the FPGA ignored it.
    bool configurationStream(size_t count);
    // gpio145 written: before and after levels.
    void fpgaResetLine(int before, int after);
    void setFpgaState(TFpgaState state);
    void powerOnFpga();     // reset(): power-on configuration and an empty acquisition model
    void clearFpga();       // the FPGA's own registers, FIFO and status back to zero

    // Acquisition FIFO and interrupt status (simacq.cpp)
    std::vector<TSample> fifoData = std::vector<TSample>(kFifoSamples);
    size_t fifoHead = 0;
    size_t fifoSize = 0;
    uint64_t fifoProduced = 0;
    uint64_t fifoPopped = 0;
    uint32_t fifoResets = 0;
    int nextPort = 0;                   // 0..3: port 32 + nextPort is due
    uint32_t latched = 0;               // latched status bits
    uint32_t lastActive = 0;            // status & mask at the last evaluation (edge detection)
    uint64_t irqRaised = 0;
    std::array<int64_t, 4> triggerIndex{};
    std::array<bool, 4> triggerSet{};
    std::array<uint32_t, 4> triggerHighBits{};
    std::array<int16_t, 4> macroVernier{};
    bool loadNeverConfigures = false;
    bool interruptsSuppressed = false;
    bool fifoStalled = false;
    bool endWithLastBlock = false;
    uint32_t latchAfterStatusRead = 0;  // test option: latched right after the next SPI 16 read
    size_t fifoVisible() const { return fifoStalled ? 0 : fifoSize; }
    // stampNs: the samples' production time (default: now), or stamps[i] per sample, for the age
    // rule of the level bit.
    size_t fifoPush(const TSample* samples, size_t count, uint64_t stampNs = UINT64_MAX,
                    const uint64_t* stamps = nullptr);
    std::vector<uint64_t> fifoTime = std::vector<uint64_t>(kFifoSamples);
    // Level bit 6 also set by the acquisition engine's age rule (simengine.cpp).
    bool ageLevel = false;
    void refreshAgeLevel();
    void fifoReset();
    uint16_t fifoPort(uint32_t word);
    uint32_t statusNow() const;
    void latchStatus(uint32_t bits);
    // Raises an interrupt event for every bit newly set in status & mask.
    void updateInterrupt();
    uint32_t triggerPosition(int source) const;
    void installAcquisitionHandlers();

    // Acquisition engine and analogue model (simengine.cpp); created by its extension, never
    // destroyed.
    TEngineCore* engine = nullptr;
    void clearEngineFaults();
    void installEngineHandlers();   // after the acquisition handlers, whose handlers it wraps

    // UIO interrupt: like the generic UIO driver, an interrupt disables itself until the reader
    // writes 1 again; one raised while disabled waits for that write.
    uint64_t uioInterrupts = 0;
    bool uioEnabled = false;
    bool uioPending = false;
    void raiseUioInterrupt();
    void setUioEnabled(bool on);

    // Board model
    std::vector<TTimed<uint32_t>> reg20History;
    uint32_t pulse24Count = 0;
    std::map<int, int> gpioOutputs;                // lines not shared with the companion programs
    mutable std::map<int, int> lineSeen;           // shared lines: the level this program last saw
    std::map<int, std::string> gpioEdges;
    std::string ledBrightness, ledTrigger, blPower, blBrightness;
    std::vector<TSysfsWrite> sysfsHistory;
    int gpioInput(int line) const;
    int gpioLevel(int line) const;
    std::string sysfsText(const TVFile& f) const;
    bool sysfsWrite(TVFile& f, const std::string& text);   // false: the text is refused
    void writeReg20(uint32_t value);

    // Front panel (simpanel.cpp): keys held down, event flags latched for SPI 12, the power key.
    uint32_t panelKeys = 0;
    uint32_t panelFlags = 0;
    bool powerKey = false;
    // Light sensor at 0x4A on /dev/i2c-0: its registers (3 and 4 are computed from the lux in
    // force), the register pointer and the silent fault.
    std::array<uint8_t, 8> luxRegs{};
    uint8_t luxPointer = 0;
    bool luxSilent = false;
    // Queues ev on every open of /dev/input/event<device>; the number of queues reached.
    int queueEventRecord(int device, const struct input_event& ev);
    int queueEvent(int device, uint16_t type, uint16_t code, int32_t value);
    // Latches event flag bit (0 keys, 1..4 the probe lines) and queues its event when enabled.
    void raisePanelFlag(int bit);
    void installPanelHandlers();
    void setGpioLine(int line, int level);
    void setLuxLevel(double lux);
    // One transfer on an i2c-dev descriptor: bytes written (count) or read; -1 with errno.
    ssize_t i2cDevWrite(TVFile& f, int fd, const uint8_t* in, size_t count);
    ssize_t i2cDevRead(TVFile& f, int fd, uint8_t* out, size_t count);

    // Descriptor table of the router
    std::vector<std::shared_ptr<TVFile>> files;
    std::vector<int> freeSlots;
    std::shared_ptr<TVFile> file(int fd);   // null when fd is not an open virtual descriptor

    // Power-on state (scenario kept): core handlers, then the extensions.
    void reset();

private:
    TSimBoard();
    void installCoreHandlers();
    void installPipelineReadBacks();  // the channel devices' pipeline registers
};

// Board-path form of a device path, or "" when the path is not a modelled device.
bool isModelledPath(const std::string& boardPath);

} // namespace simboard
