// Control of the simulated FPGA board, for tests, benchmarks and the desktop start-up.
//
// The simulated board sits behind the device-I/O seam (board/deviceio.h): once installed, the
// modelled device paths (/dev/spidev1.0, /dev/uio0, /dev/i2c-0, /dev/input/event1-2, the GPIO,
// buzzer-LED and backlight sysfs files) answer from the model, every other path stays a file
// under the simulated-board root. Everything here is thread-safe (one internal mutex) and never
// calls product code. Channels are numbered 0..3 (channel 1 is 0), like the product's scaling
// functions. Times are simulated-board nanoseconds (see simTimeNs()).
//
// The scenario file and its keys are described in board/sim/SCENARIO.txt.
#pragma once

#include "board/sim/simbus.h"

#include <array>
#include <chrono>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TDeviceIO;

namespace simboard {

// ---------------------------------------------------------------------------------------------
// Scenario

// Board path of the scenario file, under the simulated-board root.
constexpr const char* kScenarioPath = "/sim/scenario.json";

struct TSignal {
    std::string shape = "dc";   // "dc", "sine", "square", "triangle", "harmonics", "noise"
    double vpp = 0.0;           // peak-to-peak volts
    double offset = 0.0;        // DC offset, volts
    double frequency = 0.0;     // Hz
    double phase = 0.0;         // degrees
    double duty = 50.0;         // square: percent of the period high
    // "harmonics": relative amplitudes of harmonics 1, 2, 3 ... (the sum is scaled to vpp), with
    // their own phases in degrees (missing entries 0); "phase" shifts the whole shape in time.
    std::vector<double> harmonics;
    std::vector<double> harmonicPhases{};
    // "bus": the scenario's bus seen on one wire (or high - low), divided by the probe's factor.
    TBusWire wire = kBusDiff;
    double attenuation = 1.0;
    std::shared_ptr<const bus::TBusModel> busModel = nullptr;  // set when the scenario takes effect
};

// What is connected to channel 1's current and diode test paths.
struct TLoad {
    std::string kind = "open";   // "open", "resistor", "diode" or "capacitor"
    double ohms = 0.0;           // resistor
    double volts = 0.0;          // diode: forward voltage
    double farads = 0.0;         // capacitor (the path adds its own 200 pF)
    double leakOhms = 0.0;       // capacitor: a resistance in parallel (fault); 0 none
};

// A channel's analogue errors, all 0 on a perfect board (the default): what factory
// calibration measures and corrects (SCENARIO.txt, key "errors" of a channel).
struct TAnalogErrors {
    double gain = 0.0;        // relative gain error of the channel's amplifier (0.02: 2 % high)
    double offset = 0.0;      // offset at the amplifier's output, divisions (the offset trims null it)
    double refP = 0.0;        // relative error of the positive internal reference (its trim p4 nulls it)
    double refN = 0.0;        // relative error of the negative internal reference (p8)
    double current = 0.0;     // relative error of the measurement current source (channel 1)
    bool operator==(const TAnalogErrors& o) const
    {
        return gain == o.gain && offset == o.offset && refP == o.refP && refN == o.refN && current == o.current;
    }
};

struct TBattery {
    int percent = 80;        // bq34z100 state of charge
    bool charging = false;   // accepted, no effect: charging is line 127 with wall power
    bool wallPower = false;  // line 114 until its line file exists
    std::string gauge = "bq34z100";  // "bq34z100", "bq2018" or "none"
    int voltage_mV = 12000;
    int current_mA = -300;
    double temperature_K = 298.2;
    int adc_mV = 12000;        // bq2018 pack: the battery voltage converter's reading
    int temperatureCode = 2;   // bq2018: register 0x74 bits 5-7
    int chargeTime = 0, dischargeTime = 0, selfDischarge = 0, chargeCount = 0, dischargeCount = 0;
    std::vector<uint8_t> ram{};  // bq2018 RAM, 26 bytes; empty: zeros
    // Linear change per simulated minute while charging (wall power and line 127 at 1) and while
    // discharging (no wall power); all 0 by default, so the values stay as set.
    struct TRates {
        double percent = 0;
        double chargeTime = 0, dischargeTime = 0, selfDischarge = 0, chargeCount = 0, dischargeCount = 0;
        bool any() const;
    };
    TRates chargingRates{}, dischargingRates{};
};

// A smart probe described by its contents, built into a memory image by buildProbeImage.
struct TProbeDescription {
    uint16_t id = 0;           // bit 15: an active probe (I/O expander and status device)
    int colour = -1;           // header colour byte; -1: the channel's usual colour (4, 2, 1, 5)
    int second = 255;          // second header user byte
    // Descriptor fields by name: input1, input2, floating1, floating2, betweenChannels, comment,
    // bandwidthLimit, sensitivity, position, coupling, unit, coefficient, meterType,
    // meterCoupling, meterRange. A text as long as its field is written without terminator.
    std::map<std::string, std::string> fields;
    bool hasCorrection = false;
    std::string correction;        // e.g. "1.02 x 0.5"
    bool correctionMarker = true;  // the marker bytes 0x00 0x02 before the text (else 0x00 0x01)
    std::string damage;        // "", "header", "descriptor" or "userArea": that checksum is wrong
    int expander = 0x21;       // address of the I/O expander: 0x21 or 0x41
    int button = 0;            // 1..3: a button held when plugged
    bool operator==(const TProbeDescription& o) const;
};
// Whether name is a descriptor field buildProbeImage knows.
bool isProbeField(const std::string& name);

// Board faults in force from power-on (key "faults"), per channel 0..3.
struct TStartupFaults {
    std::array<bool, 4> deadPipeline{};      // setPipelineDead
    std::array<bool, 4> stuckOffsetDac{};    // setOffsetDacStuck
    std::array<int, 4> vernierCode{{-1, -1, -1, -1}};  // setVernierCode (-1: none)
};

struct TScenario {
    int model = 4;                    // 4 or 2 channels (gpio164 reads 1 on the 2-channel model)
    int bandwidthLines = 0;           // 0..3: gpio161 = bit 1, gpio160 = bit 0
    int boardCode = 0;                // 0..3: gpio106 = NOT bit 1, gpio8 = NOT bit 0
    bool fpgaPreconfigured = false;   // used by the FPGA load model
    uint32_t fpgaVersion = 0x0312;    // SPI register 99
    std::array<TSignal, 4> signals;
    TLoad load;                       // channel 1's "load" key
    std::array<TAnalogErrors, 4> errors;  // each channel's "errors" key (default: none)
    // Board path of each channel's probe-memory image (e.g. "/sim/probe1.bin"); empty: no probe.
    // Loading a scenario refuses a path that is not a regular file under the root.
    std::array<std::string, 4> probeImages;
    // Probes described instead (a channel has an image file or a description, never both).
    std::array<std::optional<TProbeDescription>, 4> probes;
    double lux = 100.0;
    double speedFactor = 1.0;         // simulated time runs this many times faster than the wall
    bool inputsConnected = true;      // key "inputs connected"; false: every input reads 0 V
    uint32_t seed = 1;                // random source
    TBattery battery;
    // Further GPIO inputs by line number (146, 123, 136, 114 ...); unlisted lines read 0.
    std::vector<std::pair<int, int>> gpioInputs;
    TBusConfig bus;                   // the one bus the "bus" signals show
    // The firmware server fetchup reaches on the simulated board (only a loopback address is
    // ever contacted) and the certificate it trusts for it (a board path under /sim/).
    struct TFirmware {
        std::string server;   // "https://127.0.0.1:PORT"; empty: no server
        std::string caFile;
    } firmware;
    TStartupFaults faults;
};

// Gives every "bus" signal of the scenario the model of its bus.
void attachBusModels(TScenario& scenario);

// The desktop defaults (four channels, 1 kHz sine 2 Vpp / 1 kHz square 1 Vpp / 10 kHz triangle
// 0.5 Vpp / DC 0 V, no probes, lux 100, speed 1, seed 1).
TScenario defaultScenario();
// JSON text <-> scenario. Unknown keys are ignored, missing keys keep their defaults; a syntax
// error or a value of the wrong type fails with a message naming the place. Text only: the files
// the paths name are checked when the scenario is loaded.
bool parseScenario(const std::string& json, TScenario* out, std::string* error = nullptr);
std::string scenarioToJson(const TScenario& scenario);
// Writes the default scenario to kScenarioPath unless a file is there already.
bool seedScenarioFile();
// Adds seedScenarioFile to the steps of seedBoardRoot(); call before seeding.
void registerScenarioSeed();

// The scenario in force. Loading never replaces the current one when the text is bad or a probe
// path names anything but a regular file under the root; a missing probe image, or one whose
// reading fails, leaves that probe absent and fails with the message.
TScenario scenario();
bool loadScenarioFile(const std::string& boardPath, std::string* error = nullptr);
bool loadScenarioText(const std::string& json, std::string* error = nullptr);
void setScenario(const TScenario& scenario);
// Changes fields at run time: simboard::updateScenario([](TScenario& s) { s.model = 2; });
void updateScenario(const std::function<void(TScenario&)>& change);

// ---------------------------------------------------------------------------------------------
// Life cycle

// Board path touched by every boot; its modification time is the boot time.
constexpr const char* kBootMarkPath = "/sim/boot";
// The real-time clock /dev/rtc keeps the time of its last accepted set here, as
// "yyyy-mm-dd hh:mm:ss" (see SCENARIO.txt).
constexpr const char* kSimRtcFile = "/sim/rtc";
// A boot of the board under the current root (the developer tool "simboard boot"): on a seeded
// root empties /var/tmp (links are removed, never followed) and puts back the regular file
// /var/tmp/offpipe; then touches kBootMarkPath. A root not yet seeded only gets the mark (the
// product seeds it at its first start). False with a message when a step fails.
bool boot(std::string* error = nullptr);

// Creates the board on first use, loads the scenario file of the current root (seeding it when
// missing; a bad file leaves the defaults in force and fails with the message), resets the board
// to its power-on state and installs it as the device-I/O seam. Installing again re-reads the
// scenario and resets.
bool install(std::string* error = nullptr);
// Restores the build's default seam (the board itself stays, idle).
void uninstall();
bool installed();
// The simulated seam itself (also usable without installing it).
TDeviceIO& simulatedDeviceIO();
// Power-on state with the current scenario: registers, chips, histories, log, faults and strict
// violations cleared, the random source reseeded, a shut-down board back in service. Probe
// memories keep their content (they live in the probes); strict settings are kept.
void reset();
// Makes UIO and event reads fail, wakes every poll and blocked read (polls then report POLLHUP
// on those descriptors); later opens of /dev/uio0 and the event devices fail with ENODEV.
// reset() or install() brings the board back.
void shutdown();
bool isShutDown();

// ---------------------------------------------------------------------------------------------
// Clock and random source

// Simulated time: wall time since the board was created, times the speed factor.
uint64_t simTimeNs();
// Seeded random source (reseeded by reset() and by a new scenario seed).
uint32_t simRandom();

// ---------------------------------------------------------------------------------------------
// FPGA model

// SPI register file: the last value written (register 99: the version; 120-125: the I2C master's
// view; 20: the board outputs). pokeSpiRegister sets a stored value without side effects (key
// lines and the like).
uint32_t spiRegister(int id);
void pokeSpiRegister(int id, uint32_t value);
// EIM window words as the last write left them (48-52: the serial interface's registers).
uint16_t eimWord(uint32_t word);
void pokeEimWord(uint32_t word, uint16_t value);

// ---------------------------------------------------------------------------------------------
// FPGA configuration
//
// gpio145 is the FPGA's configuration reset (an undriven line counts as high). Its falling edge
// clears the FPGA (SPI register file, FIFO, status, mask, trigger positions) and holds it
// unconfigured; its rising edge lets it wait for its image. While it waits, the bytes of every
// write longer than 5 bytes on a write-only /dev/spidev1.0 descriptor are counted, and it is
// configured exactly while that count, since the last reset, is kConfigurationBytes. gpio147
// reads 1 while configured. A board configured from power-on ignores stray stream bytes.
// While unconfigured: SPI reads give 0, SPI writes and serial commands have no effect (logged,
// text "FPGA not configured"), pushed samples and latched status bits are refused, and no
// interrupt is raised.
constexpr uint64_t kConfigurationBytes = 142124;

enum class TFpgaState {
    HeldInReset,       // gpio145 low
    WaitingForImage,   // counting the stream
    Configured,
};
struct TConfiguration {
    TFpgaState state = TFpgaState::WaitingForImage;
    bool configured = false;   // state == Configured
    uint64_t bytes = 0;        // stream bytes since the last reset (power-on or gpio145 falling)
    uint32_t resets = 0;       // falling edges of gpio145 since power-on
};
TConfiguration configuration();
bool fpgaConfigured();
// Stream bytes written to /dev/spidev1.0 (writes above 5 bytes) since the last reset.
uint64_t configurationBytes();

// The FPGA's state at power-on (reset(), install()): the scenario's fpgaPreconfigured, or forced.
// Kept across reset() and install(). SimFpgaBoardTest forces Configured unless a test asks
// otherwise.
enum class TPowerOn { Scenario, Configured, Unconfigured };
void setPowerOnConfiguration(TPowerOn powerOn);
TPowerOn powerOnConfiguration();

// ---------------------------------------------------------------------------------------------
// Acquisition FIFO, interrupt status and the UIO interrupt
//
// FIFO of kFifoSamples samples of four 12-bit codes. EIM word 18 reads the count in samples.
// Reading word 32 latches the head sample and returns channel 1; words 33 and 34 return
// channels 2 and 3 of the latched sample; word 35 returns channel 4 and pops it. An empty FIFO
// reads 0. Writing 0x8000 to word 16 empties the FIFO, restarts the sample numbering and
// clears the latched bits 5, 6 and 7. Word 17 is the threshold of the level bit 6.
//
// SPI 16 reads the latched status bits (0-3, 5, 7, 8-16, and 6 when latched) plus the level
// bit 6 (count >= threshold, FIFO not empty), and clears the latched ones; a write clears them.
// SPI 8 is the interrupt mask. Any write to SPI 64 acknowledges: a pending interrupt event is
// dropped and the edge detection restarts, so a bit still set in status & mask (a level bit above
// its threshold, or a bit latched since the last status read) raises a new event. With SPI 8 at 0
// the acknowledge also clears the latched bits; with a mask set only the status read or write
// does. SPI 104-107 read the trigger position of source 1-4: the 13-bit
// two's complement of (trigger sample index - samples popped), computed at the read.
//
// Sample numbering: every sample pushed since the last FIFO reset counts, from 0, warm-up
// samples included.
//
// Interrupt (/dev/uio0, Linux UIO semantics): a write of the 32-bit value 1 enables, 0 disables;
// a read of 4 bytes blocks until an event is delivered and returns the event count; delivering
// an event disables the interrupt until the next enable, and an event raised while disabled
// waits, pending, for it. An event is a bit of SPI 8 becoming set in the status read by SPI 16
// (an edge of status & mask, so a mask write uncovering a set bit counts too; a level bit counts
// on its rising edge only). shutdown() makes the reads fail.
constexpr size_t kFifoSamples = 16384;

constexpr uint32_t kStatusTriggers = 0xF;          // bits 0-3: trigger of source 1-4
constexpr uint32_t kStatusLastBlock = 1u << 5;
constexpr uint32_t kStatusThreshold = 1u << 6;     // level: count >= threshold
constexpr uint32_t kStatusRingRestart = 1u << 7;
constexpr uint32_t kStatusEnd = 0x1FF00;           // bits 8-16
constexpr uint32_t kStatusBits = 0x1FFEF;          // every bit the FPGA reports

using TSample = std::array<uint16_t, 4>;           // channel 1 first

// Pushes samples at the tail (codes cut to 12 bits). Returns how many were taken: fewer when
// the FIFO fills, none while it stalls or while the FPGA is not configured.
size_t pushSamples(const TSample* samples, size_t count);
size_t pushSamples(const std::vector<TSample>& samples);

struct TFifoState {
    size_t count = 0;          // samples held (what EIM 18 reads, unless stalled)
    uint64_t produced = 0;     // samples pushed since the last FIFO reset
    uint64_t popped = 0;       // samples popped since the last FIFO reset
    uint16_t threshold = 0;    // EIM 17
    uint32_t resets = 0;       // FIFO resets (EIM 16 := 0x8000) since power-on
};
TFifoState fifo();

// ORs bits into the latched status (only kStatusBits are kept) and raises the interrupt events
// that this makes.
void latchStatus(uint32_t bits);
// The status as SPI 16 would read it, without clearing anything.
uint32_t status();
// SPI 8.
uint32_t interruptMask();

// The trigger sample of a source (0..3), in the sample numbering above. highBits (above bit
// 12) are added to the register's value, as noise the reader must ignore. Power-on and the FPGA
// reset clear them; a FIFO reset keeps them. Unset: the register reads 0.
void setTriggerSample(int source, int64_t index, uint32_t highBits = 0);
void clearTriggerSample(int source);

// Macro vernier of a channel device (0..3): the read opcode 0x1A0 answers vernier << 7
// (24 bits). 0 at power-on.
void setMacroVernier(int device, int16_t vernier);

struct TInterruptState {
    bool enabled = false;      // last write on /dev/uio0 (disabled again by each delivery)
    bool pending = false;      // an event waits for the enable
    uint64_t count = 0;        // events delivered since power-on (what a read returns)
    uint64_t raised = 0;       // events raised by the FPGA model (suppressed ones not counted)
};
TInterruptState interruptState();

// The front-end chip's register layout, the simulated board's own copy (tests mask decoded
// values to a field's width with it). Fields of register reg from bit 0 up; param 128 is the
// register's top flag bit, not a parameter.
struct TChipField {
    uint8_t param;
    uint8_t width;
    uint8_t position;
    bool reversed;
    bool inverted;
};
constexpr int kChipRegisters = 17;
constexpr int kChipParams = 72;
const std::vector<TChipField>& chipFields(int reg);
// The register's top bit: a read-back stands left-aligned with it at bit 23.
int chipTopBit(int reg);

// One front-end chip, as the chip itself sees it.
struct TFrontEnd {
    std::array<uint16_t, 17> registers{};      // last value per register (data word >> 1)
    std::array<bool, 17> registerWritten{};
    // The 72 parameters decoded from the registers with the simulated board's own layout;
    // a decoded value holds only its field's width. decoded[p]: some register carried p.
    std::array<uint16_t, 72> params{};
    std::array<bool, 72> decoded{};
    uint16_t relayWord = 0;          // code 0x090, data word >> 1; bit 7 (0x80): front end held
    bool relayWordWritten = false;
    uint16_t relayWord2 = 0;         // code 0x092
    uint16_t initWord = 0;           // code 0x0C1
    uint32_t registerWrites = 0;     // front-end register commands received
    bool held() const { return (relayWord & 0x80) != 0; }
};
TFrontEnd frontEnd(int channel);

// Channel devices 0..6 (0-3 the channels, 4-6 the three further devices): the last data word
// (raw, as written to word 48) per code 0x00..0x7F (opcode - 0x80); nullopt-like: written false.
struct TDeviceCode {
    uint16_t data = 0;
    bool written = false;
    uint16_t previous = 0;   // the data word written before data (two-part pipeline values)
};
TDeviceCode channelDeviceCode(int device, int code);

// One command of the serial front-end interface.
struct TSerialCommand {
    uint64_t timeNs = 0;
    uint16_t mask = 0;       // device mask (command bits 9-15)
    uint16_t opcode = 0;     // command bits 0-8
    uint16_t data = 0;       // word 48 when the command was written
    uint32_t readBack = 0;   // 24-bit value for read opcodes
    bool dropped = false;    // written while busy: not executed
};
// Every command, oldest first (bounded).
std::vector<TSerialCommand> serialCommands();
// Commands with device mask 0 (the global acquisition controller), oldest first (bounded).
std::vector<TSerialCommand> globalCommands();
// Last data word per global opcode; written false when never sent.
TDeviceCode globalCommand(int opcode);

// Probe memory at I2C address 0x50 on the probe bus of a channel; empty when no probe.
std::vector<uint8_t> probeMemory(int channel);
// Plugs a probe whose memory holds image (padded to the memory size with 0xFF).
void setProbeMemory(int channel, const std::vector<uint8_t>& image);
void removeProbe(int channel);
constexpr size_t kProbeMemorySize = 8192;   // 32-byte pages
// The 4904 bytes a probe memory holds for a description (id, header, descriptor, user area),
// laid out and checksummed by the board's own copy of the format. channel only picks the
// default colour.
std::vector<uint8_t> buildProbeImage(const TProbeDescription& description, int channel = 0);
// Plugs a probe built from description: its memory and the chips its id calls for.
void plugProbe(int channel, const TProbeDescription& description);
// Holds button 1..3 of the active probe on channel low on its expander until the next read.
void pressProbeButton(int channel, int button);
// The configuration byte last written to the channel's expander (0xFF: none).
uint8_t probeExpanderConfiguration(int channel);

// ---------------------------------------------------------------------------------------------
// Board model

struct TReg20 {
    uint32_t raw = 0;
    uint8_t channelPower = 0;         // bits 0-3
    uint8_t channelPowerInverted = 0; // bits 4-7
    bool anyChannelPowered = false;   // bit 8
    uint8_t channelPowerCopy = 0;     // bits 12-15
    bool lamp = false;                // bit 9
    uint8_t statusLamp = 0;           // bits 10-11
    uint8_t selfTestLamps = 0;        // bits 10-13 (overlaps the status lamp and nothing else)
    bool bit18 = false, bit19 = false, bit20 = false;
    uint32_t pulse24Count = 0;        // writes that set bit 24 after it was clear
    uint8_t probeBus = 0;             // bits 22-23: the channel the I2C master drives
};
TReg20 reg20();

template <typename T>
struct TTimed {
    uint64_t timeNs;
    T value;
};
// Every write of register 20, oldest first.
std::vector<TTimed<uint32_t>> reg20History();

// A write to a modelled sysfs file (board path, text as written).
struct TSysfsWrite {
    uint64_t timeNs = 0;
    std::string path;
    std::string text;
};
std::vector<TSysfsWrite> sysfsWrites();                 // all, oldest first
std::vector<TSysfsWrite> gpioHistory(int line);          // "/sys/class/gpio/gpioN/value"
std::vector<TSysfsWrite> ledHistory();                  // led426 brightness and trigger
std::vector<TSysfsWrite> backlightHistory();            // bl_power and brightness
// Current level of a GPIO line: the last output written, else the scenario input, else 0.
int gpioLevel(int line);
// Current values as the files read them, without the newline (power-on: "0" and "9").
std::string backlightPower();
std::string backlightBrightness();
std::string ledBrightness();
std::string ledTrigger();
// Empties the register-20, sysfs and serial histories and the bit-24 pulse count.
void clearHistories();

// ---------------------------------------------------------------------------------------------
// Front panel, GPIO line edges and the light sensor (simpanel.cpp)
//
// SPI 52 reads the panel keys held down (never the power key). SPI 12 reads the latched event
// flags and clears them: bit 0 when a key goes down, bit n (1..4) when channel n's probe line is
// raised (plugProbe, setProbeMemory, removeProbe of a plugged probe, pressProbeButton). A flag whose bit of SPI 4 is
// set when it latches queues {EV_KEY, 0x100, 1} on /dev/input/event1; a release queues nothing.
// The power key queues {EV_KEY, 47, 1} when pressed and {EV_KEY, 47, 0} when released.
void pressKeys(uint32_t mask);
void releaseKeys(uint32_t mask);
uint32_t panelKeys();
void setPowerKey(bool down);
// Sets an input line (the scenario's copy too). A change of level is an edge: every open value
// file of the line reports POLLPRI until it is read from offset 0.
void setGpioInput(int line, int level);
// The light sensor at 0x4A on /dev/i2c-0 (read and write on the descriptor after I2C_SLAVE; a
// write is the register number and the value, a read the register number then one byte).
// Registers 3 and 4 encode the lux in force (scenario "lux"); reading register 0 clears its
// bit 0, which is set, with {EV_KEY, 50, 1} queued on event1, when a new lux puts the register-3
// byte outside [register 6, register 5] while register 1 is 1. Other addresses fail (EIO).
void setLux(double lux);
// Every transfer fails with EIO (cleared by clearFaults()).
void setLuxSensorSilent(bool silent);
uint8_t luxRegister(int reg);

// ---------------------------------------------------------------------------------------------
// Control pipe (simcontrolpipe.cpp; the grammar is in board/sim/CONTROL.txt)

constexpr const char* kControlPipePath = "/sim/control";
constexpr const char* kControlLogPath = "/sim/control.log";   // lines that were ignored, and why

// One step of a control command.
struct TControlStep {
    enum Kind { Down, Up, Wait, PlugId, PlugImage, Unplug, Button, Lux, Line114, Capacitor, Fault };
    Kind kind = Down;
    uint32_t value = 0;     // key mask (bit 31: the power key), ms, probe id, button, level
    int channel = 0;        // probes: 0..3
    double lux = 0.0;       // lux; a capacitor's farads
    double ohms = 0.0;      // a capacitor's leak (0 none)
    std::string text;       // image board path; the lux or farads as written
};
// Fault steps: text "pipeline", "dac" or "vernier", value 1 or the code, kFaultOff to end it.
constexpr uint32_t kFaultOff = 0xFFFFFFFFu;
// E.g. "down 0x100000", "wait 150", "plug 1 0x8001", "lux 5000", "capacitor 4.7e-08 leak 1e+06".
std::string describe(const TControlStep& step);
// The steps of one line; false with the reason for a line that is not a command.
bool parseControlLine(const std::string& line, std::vector<TControlStep>* steps, std::string* error = nullptr);
// Runs the steps of a line (waits in real time); a bad line is noted in kControlLogPath.
bool runControlLine(const std::string& line, std::string* error = nullptr);
// Makes the named pipe kControlPipePath under the current root (replacing whatever is there) and
// starts the thread that reads it for the rest of the process.
bool startControlPipe(std::string* error = nullptr);

// Input events of /dev/input/eventN (1 or 2): queued to every open descriptor of that device
// (each open has its own queue, empty at open). Returns the number of queues reached.
int queueInputEvent(int device, uint16_t type, uint16_t code, int32_t value);

// ---------------------------------------------------------------------------------------------
// Acquisition engine and analogue model (simengine.cpp, simanalog.cpp)
//
// Channel-device opcodes, per device and for device mask 0 on the global controller (the engine
// uses the value last committed by any of them):
//   0x089  sample-clock divider, two writes: (first << 14) | (second & 0x3FFF)
//   0x082  block length (ELV), two writes (6 + 14 bits), committed by 0x083; read back by
//          0x185 and 0x186 as ELV << 4 (24 bits)
//   0x0C4, 0x0C5  pre- and post-trigger counts, two writes each (bits 14-28, then 0-13),
//          Gray-decoded
//   0x0C3  trigger parameter: 0 edge, 1 immediate (forces), 2 pulse width (equivalent time;
//          streaming takes it as an edge), 14 delay (as a plain edge), 19 off, 21 free-run
//   0x0CA, 0x0C9, 0x0D1  pulse-width condition: 0x0CA bits 0-2 (2 shorter than b, 0 longer than
//          b, 4 between b and b + g, 6 outside), bits 3-5 the range k of b, bits 6-8 the range j
//          of g; b = Gray(0x0C9) << 4k and g = Gray(0x0D1) << 4j, in 8 ns ticks. A pulse is the
//          comparator output high; the trigger is its falling crossing.
//   0x097  start (while SPI 8 is not 0); 0x080 streaming go; 0x096 stop; 0x095 ET flush;
//   0x181  answers 26 in its low byte (pipeline depth 100) until an ET acquisition completed;
//          then 0x181, 0x185 and 0x186 answer the record's pipeline values (see "Equivalent-time
//          record" below) until the next block length arrives (0x082)
//   0x1A0  macro vernier << 7: set per ET acquisition, and per streaming trigger at divider 500
//          (the middle time bases: the crossing's distance before the trigger sample x 500)
//   0x188, 0x191, 0x193, 0x1C1-0x1CC, 0x1CE, 0x1D1  the pipeline registers of the factory
//          client: the words last written under 0x089, 0x090, 0x092, 0x0C1-0x0CC, 0x0CE, 0x0D1,
//          field width w (17, 14, 2; the table's widths): w > 14 ((previous >> 1) << 14 |
//          last >> 1), else last >> 1, answered as value << (24 - w) in 24 bits; 0x1D0 a fixed
//          pattern per channel (0x5A0000 + 0x1111 x channel number)
// The kind of an acquisition is decided at 0x097 by the relay word last sent (0x090): bit 0x20
// equivalent time, else streaming. Streaming produces once SPI 0 bit 0x2 is set and 0x080 has
// arrived, one sample every (SPI 68 + 1) x unit (1 us; 80 ns with SPI 0 bit 0x40; 1.008 us with
// bit 0x20); ET runs at (divider + 1) x 8 ns. Every acquisition begins with 8 warm-up samples of
// code 0x0FFF. The trigger is accepted after the pre count of samples (after the warm-up); the
// acquisition ends (bit 5) after the post count of samples following the trigger sample.
// 0x096, clearing SPI 0 bit 0x2, SPI 8 := 0 and EIM 16 := 0x8000 stop it.
// A device thread advances the engine to simTimeNs() every millisecond of wall time.
//
// Log entries (TLogKind::Engine): "start" a = kind (1 ET, 2 streaming), b = sample period ps,
// c = post count; "trigger" a = source (-1: none), b = trigger sample, text adds the cause
// ("edge", "force", "immediate", "free-run"); "last block" b = samples produced; "flush"
// a = record entries; "stop" text adds the cause; "not modelled" c = opcode, d = value.

enum class TAcqKind { None, EquivalentTime, Streaming };

struct TEngineState {
    bool running = false;          // started and not yet ended or stopped
    TAcqKind kind = TAcqKind::None;
    bool producing = false;        // streaming: SPI 0 bit 0x2 and 0x080 seen
    uint64_t samplePeriodPs = 0;   // in force for the running (or last) acquisition
    uint32_t divider = 0;          // last committed 0x089 value
    uint32_t elv = 0;              // last committed block length
    uint32_t preCount = 0;         // decoded 0x0C4 / 0x0C5 in force
    uint32_t postCount = 0;
    bool postWritten = false;      // a post count was committed since power-on
    int source = -1;               // trigger source device 0..3; -1 none (free-run, mask 0)
    bool freeRun = false;
    bool triggered = false;
    int64_t triggerSample = -1;    // in the FIFO's sample numbering
    uint64_t produced = 0;         // samples produced by this acquisition (warm-up included)
    bool lastBlock = false;
    bool flushed = false;          // ET record queued
    bool stalled = false;          // back-pressure or trigger-position range
    uint32_t starts = 0;           // acquisitions started since power-on
};
TEngineState engineState();

// Signals at run time (the scenario's copy is changed too).
void setSignal(int channel, const TSignal& signal);
void setInputsConnected(bool connected);
bool inputsConnected();

// The analogue model of a channel as the front-end chip programs it now.
struct TAnalogChannel {
    double voltsPerDiv = 1.0;   // from (p24, p27, p35, p33, p34); unknown tuples keep the last
    int sensitivityRow = -1;    // 0..15, -1 when the tuple was never known
    bool ground = false;        // p13 = 1
    bool ac = false;            // p3 = 1
    bool powered = true;        // register 20 bit of the channel
    double offsetUnits = 0.0;   // (512 - p18) x 20000 / 8184
    double thresholdUnits = 0.0;// -(p19 - 511) x 20000 / 8184
    bool risingOutput = true;   // p41 = 1: output (u > threshold)
    bool triggerDisabled = false; // p40 = 1
    // Channel 1's current and diode test paths (decoded on every channel, used on channel 1).
    bool currentRelay = false;  // p17 = 1: the input is the load under the current source
    double currentAmps = 0.0;   // by p5 while p6 = 0 (0: no current)
    bool diodeSource = false;   // p7 = 0 with p5 = 15: the input is the load under the diode source
    double pathVoltsPerDiv = 1.0; // volts per division while the current path is in use
    // The channel's analogue errors and its calibration bench (board/sim/simbench.cpp).
    double gain = 1.0;          // the amplifier's gain: 1 + the scenario's gain error
    double outputUnits = 0.0;   // offset after the amplifier: the offset error less the trims'
    double currentGain = 1.0;   // the measurement current source: 1 + its error
    bool isolated = false;      // calibration bench: the connector is off the input
    bool benchSource = false;   // calibration bench: the input is benchVolts instead
    double benchVolts = 0.0;
};
TAnalogChannel analogChannel(int channel);
// Input voltage of a channel at simulated time t (seconds), before the front end.
double inputVolts(int channel, double t);
// ADC code of a channel at simulated time t as the front end places it (0..4095).
uint16_t sampleCode(int channel, double t);

// A trace of a channel's "bus" signal sampled straight from the model, for tests and benchmarks
// of the bus measurements: 100,000 words as the trace holds them (524256 at the zero line for
// position 0, 32760 codes a division, codes growing with the voltage), the chosen event at
// sample triggerIndex.
struct TBusTraceRequest {
    enum Event { RisingEdge, FallingEdge, PositivePulseEnd, NegativePulseEnd };
    int channel = 0;              // 0..3: whose signal (and wire)
    int timeBase = 7;             // time-base index (7: 2e-11 s a sample)
    int sensitivity = 5;          // sensitivity index (5: 0.1 V a division at the input)
    double probeFactor = 10;      // the probe's division of the bus volts (the signal's attenuation is not used)
    int position = 0;             // thousandths of the screen height
    Event event = FallingEdge;
    double maxPulse = 1e9;        // pulse ends: only pulses shorter than this (s)
    int occurrence = 0;           // which matching event of the frame (wraps)
    int32_t triggerIndex = 50000;
};
// False when the channel does not show a bus or the frame has no such event.
bool sampleBusTrace(const TBusTraceRequest& request, uint32_t* words);

// Engine pacing: paused, the device thread leaves the engine alone and runEngine() drives it
// (benchmarks, exact tests). Unpausing takes up simulated time from now.
void setEnginePaused(bool paused);
// Advances the engine by simNs of simulated time, synchronously.
void runEngine(uint64_t simNs);
// Pops up to max samples from the FIFO head, as the sample ports would (no strict checks).
size_t popSamples(TSample* out, size_t max);

// Engine faults (cleared by clearFaults() and reset()).
// The trigger never fires (force, immediate and free-run included).
void setNoTrigger(bool on);
// A channel (0..3) reads a constant code; code < 0 ends the fault.
void setSilentChannel(int channel, int code);
// Read-backs 0x185/0x186 answer 0 until the device receives 0x0AD or 0x0AC: every device, or
// one channel's (0..3).
void setElvReadBackLate(bool on);
void setElvReadBackLate(int channel, bool on);
// A channel's pipeline device (0..3) is dead: 0x185/0x186 answer 0 whatever was loaded.
void setPipelineDead(int channel, bool on);
// A channel's offset DAC is stuck at mid-scale: p18 writes reach the chip but do not move the
// trace, so the overscan detector never trips on an input near 0 V.
void setOffsetDacStuck(int channel, bool on);
// The channel's internal references give nothing (the reference steps find a flat line).
void setReferenceDead(int channel, bool on);
// A channel's entry-0 code of every ET record (its vernier) reads code: 0 or 4095 (missing) or
// any constant; < 0 ends the fault.
void setVernierCode(int channel, int code);
// The next count acquisitions trigger as usual, every later one never triggers (forces
// included); < 0 ends the fault.
void setAcquisitionBudget(int count);
// Test option: offset j (codes) is added to channel's samples of phase j, entries 2 + 21 b + j
// of every plain (not min/max) ET record; all zero ends it.
void setPhaseOffsets(int channel, const std::array<int16_t, 20>& offsets);
//
// Calibration trims: the board models one, the channel's raw code moving by (p16 - 128) x p35
// steps while p35 is not 0 and the calibration path is selected (p11 = 1). No other trim, no internal reference and no current-gain path acts.
// The comparator: a register write that moves the threshold (p19) or the polarity (p41) across
// the input's level flips its output, counted as one transition in SPI 32.
// The frequency counter of a channel (0..3) answers 0 (on = false ends the fault).
void setCounterSilent(int channel, bool on);
// The six comparator-activity bits of a channel in SPI 32 read value (0..63); < 0 ends the fault.
void setQualityStuck(int channel, int value);

// Channel 1's load at run time (the scenario's "load" key). A capacitor keeps the voltage it
// holds when its value changes.
void setLoad(const TLoad& load);
// Channel 1's capacitor at run time: its value, and a leak (a resistance in parallel, 0 none)
// that bends the ramp. Makes the load a capacitor.
void setCapacitor(double farads, double leakOhms = 0.0);
// Volts across channel 1's load now: a capacitor's charge, or the current and diode sources'
// voltage while a test path is in use (0 otherwise).
double pathVolts();
// Frequency-counter range selected on a channel (0..3) by opcode 0x0CE: 0..6, -1 when idle.
int counterRange(int channel);
// The count a channel's counter gives for range 0..6 with the front end as it stands (what a
// read 0x1CF answers in binary): 0 when the comparator does not toggle.
uint32_t counterCount(int channel, int range);

// ---------------------------------------------------------------------------------------------
// Equivalent-time record (simengine.cpp; the model is described there and in SCENARIO.txt)
//
// Per ET acquisition the board picks the start block N (0..127), the sub-sample fraction of the
// trigger (0 <= f < 1 of one block-length step) and from them the pattern G, the macro vernier
// and the trigger channel's vernier code; the record it flushes places the input so that the
// product's sort puts the trigger crossing at record position 50,000 (the pre-trigger count).

// The board's vernier limits: fraction f maps to code max - f x (max - min) (default 800..3300).
// min < max, both 1..4094; anything else is refused (false) and changes nothing.
struct TVernierLimits {
    uint16_t min = 800;
    uint16_t max = 3300;
};
bool setVernierLimits(const TVernierLimits& limits);
TVernierLimits vernierLimits();

// Forces the choices of the next acquisitions (kept until cleared; reset() clears them).
// startBlock < 0 or fraction < 0: that choice is random again. fraction is cut into [0, 1).
// Min/max records keep N at 3 mod 4 (N | 3): their pairs reach two blocks back.
void forceEtChoices(int startBlock, double fraction);
void clearEtChoices();

// The facts of the last ET record flushed (valid false before the first one).
struct TEtRecord {
    bool valid = false;
    bool minMax = false;          // relay 0x400: pairs of entries (see the notes in simengine.cpp)
    uint32_t elv = 0;             // block length in force
    int g = 0;                    // sort step: 1, 2, 5, 10 or 20
    int startBlock = 0;           // N
    uint32_t pattern = 0;         // G (0x185/0x186 answer G << 4)
    int16_t macroVernier = 0;     // 0x1A0 answers it << 7
    uint16_t vernierCode = 0;     // the trigger channel's entry-0 code
    double fraction = 0;          // trigger sub-sample fraction
    int source = -1;              // trigger channel 0..3 (-1: none, channel 0's codes are used)
    double periodNs = 0;          // FPGA sample period D x 8 ns
    double triggerNs = 0;         // simulated instant of the trigger crossing
    double positionNs = 0;        // simulated time between two record positions
    double crossingPosition = 0;  // record position of the trigger crossing (about 50,000)
    int samples = 0;              // sorted entries (min/max: words, two per pair)
    bool vernierMissing = false;  // the missing-vernier fault was in force: the product places
                                  // the record at random, the positions below do not apply
};
TEtRecord etRecord();
// Simulated time (ns) that record position p (0..99,999) of the last ET record stands for:
// triggerNs + (p - crossingPosition) x positionNs. 0 before the first record.
double etPositionTimeNs(double position);
// Every entry of the last record that the product's sort places, newest first, with the record
// position its sample takes (entries it leaves out are not listed).
struct TEtPlacement {
    uint32_t entry = 0;           // record entry (0..2688); min/max: the entry carrying the minimum
    int32_t entryMax = -1;        // min/max: the entry carrying the maximum (42 entries earlier)
    double position = 0;          // record position the product places it at; min/max: the
    double positionEnd = 0;       // interval [position, positionEnd) the pair stands for
};
std::vector<TEtPlacement> etPlacements();

// Fault: the trigger channel's vernier code reads code (0 or 4095: "missing"); < 0 ends it.
void setMissingVernier(int code);

// ---------------------------------------------------------------------------------------------
// Log

enum class TLogKind {
    Open,          // text: path; a = fd; b = flags
    Close,         // a = fd
    SpiMode,       // a = fd; b = mode; c = 1 for a write ioctl
    SpiSpeed,      // a = fd; b = Hz; c = 1 for a write ioctl
    SpiWrite,      // a = fd; b = register id; c = value; bytes = frame
    SpiRead,       // a = fd; b = register id; c = value; bytes = frame sent (id) + received
    ConfigBytes,   // a = fd; b = byte count
    Serial,        // a = mask; b = opcode; c = data; d = read-back; text "dropped" when busy
    I2c,           // a = bus; b = address; c = direction (1 read); d = offset; e = length;
                   // bytes = the first bytes written; text "ok", "absent", "no answer", "busy"
    Sysfs,         // text: path + " " + text written
    I2cDev,        // a = fd; b = slave address; transfers: text "read"/"write" (+ " failed"),
                   // c = register, d = value
    Uio,           // a = fd; b = value written
    Fpga,          // configuration: a = bytes since the reset; text "reset", "waiting for image",
                   // "configured", "unconfigured"
    Interrupt,     // a = new status bits (status & mask); b = events delivered; text "delivered",
                   // "pending" (disabled), "suppressed" (fault)
    Engine,        // acquisition engine event, text "start", "trigger", "last block", "flush",
                   // "stop", "not modelled", "unknown sensitivity"; a, b, c per event (see
                   // the acquisition engine section)
};

struct TLogEntry {
    uint64_t seq = 0;
    uint64_t timeNs = 0;
    TLogKind kind = TLogKind::Open;
    int64_t a = 0, b = 0, c = 0, d = 0, e = 0;
    uint8_t bytes[8] = {};
    uint8_t byteCount = 0;
    std::string text;
};
// One line per entry, e.g. "spi write fd=... 20 0x00000200 [94 00 02 00 00]".
std::string describe(const TLogEntry& entry);

// Bounded ring: the newest entries, oldest first. Filters by kind when kinds is not empty.
std::vector<TLogEntry> log(const std::vector<TLogKind>& kinds = {});
void clearLog();
void setLogCapacity(size_t entries);   // default 131072

// ---------------------------------------------------------------------------------------------
// Faults

// Opening a modelled device path ("/dev/uio0", "/dev/spidev1.0" ...) fails with errno.
void setOpenFault(const std::string& boardPath, int error = ENODEV);
void clearOpenFault(const std::string& boardPath);
// Word 50 reads busy for the next n reads; n < 0: for ever; 0 clears.
void setSerialBusy(int reads);
// An I2C device stops answering (error bit) after afterTransfers more good transfers.
// bus < 0: every bus.
void setI2cNoAnswer(int bus, int address, int afterTransfers = 0);
// The I2C master's busy bit stays set (and done never comes).
void setI2cMasterBusy(bool busy);
// The configuration load never configures the FPGA (gpio147 stays 0).
void setLoadNeverConfigures(bool on);
// No interrupt event is ever raised (the status still latches).
void setInterruptsSuppressed(bool on);
// The FIFO stalls: it takes no sample, EIM 18 reads 0 and the ports read as empty; what it
// holds waits for the end of the stall.
void setFifoStalled(bool on);
// End bits (8-16) are latched together with bit 5.
void setEndWithLastBlock(bool on);
// Test option: the next SPI 16 read latches bits right after it took the status, as if the FPGA
// raised them between a reader's status read and what the reader does next.
void latchAfterNextStatusRead(uint32_t bits);
// Clears every fault above.
void clearFaults();

// ---------------------------------------------------------------------------------------------
// Strict mode

enum class TStrictCheck {
    UnknownOpcode,         // serial opcode outside the list the Parts use
    SerialWhileBusy,       // word 48 or 49 written while busy
    FrontEndWhileHeld,     // front-end register write while the relay word's bit 7 is set
    SpiWriteSize,          // SPI register write not exactly 5 bytes
    SpiReadForm,           // read message not 1 byte out then 4 bytes in
    SpiSettings,           // register access not at mode 1 and 6,250,000 Hz
    FifoPortOrder,         // sample ports not read 32, 33, 34, 35 in turn
    FifoReadEmpty,         // a sample port read with an empty FIFO
    StartWithoutMask,      // opcode 0x097 while SPI 8 is 0 (nothing starts)
    PostCountNeverWritten, // an acquisition started before any post-trigger count (0x0C5)
    Count
};
const char* strictCheckName(TStrictCheck check);

struct TViolation {
    uint64_t timeNs = 0;
    TStrictCheck check = TStrictCheck::UnknownOpcode;
    std::string context;
};
// Strict mode on: violations are recorded (never aborted). Off by default; every check on.
void setStrict(bool on);
bool strict();
// A single check off, for a test that runs a sequence a Part itself specifies.
void setStrictCheck(TStrictCheck check, bool on);
std::vector<TViolation> violations();
void clearViolations();

// ---------------------------------------------------------------------------------------------
// Companion programs (the battery daemon and later the others)

// Every /sys write of a companion program, one line each: "<seconds.micro> <board path> <text>".
constexpr const char* kSysfsLogPath = "/sim/sysfs.log";
// The companion programs' power key: a FIFO of host input_event records at the board path of
// the key device, made fresh by whoever plays the board, with a writer kept open.
constexpr const char* kCompanionKeyPath = "/dev/input/event1";
// Makes the key FIFO empty under the current root; returns a descriptor held open for writing
// (-1 on failure). A press is {EV_KEY, 47, 1} then {EV_KEY, 47, 0}.
int makeCompanionKeyFifo();
bool writePowerKeyRecord(int fd, int value);
// FIFO standing for line 114's edge: a byte in it wakes a poll of the value file with POLLPRI.
constexpr const char* kWallPowerEdgePath = "/sim/gpio114.edge";
// The companion flavour of the simulated device I/O: the pass-through, where a write of a /sys
// file replaces its whole value and line 114's edges come from kWallPowerEdgePath (made and held
// open on first use); no FPGA model.
void installCompanionDeviceIO();
// A companion program's start on the simulated board: the root resolved (never seeded), the
// scenario read into *scenario (the defaults when it is absent or refused: false), the companion
// device I/O installed.
bool prepareCompanionBoard(TScenario* scenario);
// Notes the calling process as a program of the board (<root>/sim/programs/<pid>: its name and
// start time), after the root is resolved; a program's main calls it once.
void registerBoardProgram(const char* name);
// The simulated power cut: ends every other noted program of the board at once (SIGKILL), and
// forgets them and the caller. Returns how many were ended.
int endBoardPrograms();
// Writes line 114's value file, then one byte into the edge FIFO (skipped when no program holds
// it). False when the value file cannot be written.
bool setWallPower(bool on);
bool signalWallPowerEdge();
// Lines 114, 121 and 127 are one file each under the root (their board paths), shared by every
// program on it: "0" or "1" stored, read back as "0\n" or "1\n". With no file yet the level is
// the scenario's: its gpio entry, else for line 114 battery.wallPower, else 0.
bool isSharedLine(int line);
int sharedLineFileLevel(int line);                    // -1: no file (or no root)
bool writeSharedLineFile(int line, int level);        // makes the folders
int scenarioLineLevel(const TScenario& scenario, int line);

// The battery pack's fuel gauge on the HDQ bus: owns the master of a pseudo-terminal whose
// slave is published as /dev/ttymxc2 (a link under the root). The host's characters are decoded
// 8 per byte, bit 0 first (0xC0 an HDQ 0, anything else a 1); a read command is answered in one
// write with its 8-character echo and 8 answer characters (0xFE for 1, 0xC0 for 0). Framing is
// by counting, restarted at every input flush of the host and after an idle gap above 3 ms.
enum class TGaugeModel { None, Bq34z100, Bq2018 };
struct TGaugeFaults {
    int droppedAnswerChars = 0;   // the last N answer characters of every read never come
    uint8_t flippedAnswerBits = 0;  // XORed into every answered byte
    int unstableHighReads = 0;    // the next N word reads see their high byte change once
    int answerDelayMs = 0;        // the answer comes this late
    bool silent = false;          // no answer at all from now on
};
class TSimGauge {
public:
    TSimGauge();
    ~TSimGauge();
    // Opens the pseudo-terminal, publishes the link and starts answering. False with a message.
    bool start(std::string* error = nullptr);
    void stop();
    // Model and values from the scenario's battery group (also writes the ADC value file of a
    // bq2018 pack).
    void configure(const TBattery& battery);
    void setModel(TGaugeModel model);
    TGaugeModel model() const;
    void setStateOfCharge(int percent);
    int stateOfCharge() const;
    void setVoltage(int millivolts);
    void setCurrent(int milliamps);
    void setTemperatureK(double kelvin);
    void setTemperatureCode(int code);
    // bq2018 counters by register (0x76, 0x78, 0x7A, 0x7C, 0x7E).
    void setCounter(uint8_t reg, uint16_t value);
    uint16_t counter(uint8_t reg) const;
    void setRam(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> ram() const;
    // Writes the ADC value file (board path of the bq2018 pack's voltage converter).
    void setAdcMillivolts(int millivolts);
    // Waits until the gauge has handled every character the host wrote: a host that writes and
    // goes (a save before the power cut) is not waited for by any answer. False on time-out.
    bool drained(std::chrono::milliseconds timeout) const;
    // Every register write the gauge received: (register, byte).
    std::vector<std::pair<uint8_t, uint8_t>> writeLog() const;
    void setFaults(const TGaugeFaults& faults);
    void resetFaults();
    // Simulated-board time runs this many times faster (the scenario's speedFactor): the
    // battery group's rates per simulated minute follow it.
    void setSpeedFactor(double factor);
    void setRates(const TBattery::TRates& charging, const TBattery::TRates& discharging);

private:
    struct Impl;
    Impl* impl_;
};

} // namespace simboard
