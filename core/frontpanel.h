// Front-panel keys: the key thread (TRAD_id), its key logic, and the tables that turn a key and
// its press type into requests for the controller.
#pragma once

#include "core/requests.h"

#include <cstdint>
#include <memory>

struct input_event;

enum TPressType {
    PRESS_NONE = 0,         // no key, or released after a long press
    PRESS_PROBE = 1,        // a smart-probe key is pending
    PRESS_DOWN = 2,         // down, not yet classified
    PRESS_SHORT = 3,        // reported once, after the release
    PRESS_WAIT_SECOND = 4,  // a channel key was released: waiting for a second press
    PRESS_DOUBLE = 5,
    PRESS_LONG = 6,         // reported once
    PRESS_HELD = 7,         // still held, not a repeat tick
    PRESS_REPEAT = 8,       // still held, auto-repeat tick
};

// Key masks of SPI register 52, and the thread's own power-key bit.
constexpr uint32_t kKeyPower = 0x80000000u;
constexpr uint32_t kKeyChannel1 = 0x100000u;
constexpr uint32_t kKeyChannels = 0xF00000u;
constexpr uint32_t kKeysBrightness = 0x1080000u;

// REQ_SCREEN codes the keys send.
enum : int32_t {
    IhmDirectCommand = 0,
    IhmKeyHelp = 1,
    IhmMessage = 2,
    IhmExit = 3,
    IhmPanelEdge = 7,
};

// Records per call of the tables (they never write more than 2).
constexpr int kKeyRecords = 5;

// The records of a key: 0, 1 or 2, written to out. With out null nothing is written and only the
// mode's active channel follows a channel key.
int getRequest(uint32_t keyMask, TPressType press, int32_t heldTime, pipe_dial* out);
// The records of the smart-probe key events in probeBits (event flags AND 0x1E).
int getKalvexRequest(uint32_t probeBits, pipe_dial* out);

// Sender value of the key records; the key thread stores its own when it starts.
void setKeySender(intptr_t sender);
intptr_t keySender();

// Active channel (0..3) of the scope, meter and harmonic keys.
enum TKeyFunction { KeyFunctionScope, KeyFunctionMeter, KeyFunctionHarmonic };
int activeKeyChannel(TKeyFunction function);
void setActiveKeyChannel(TKeyFunction function, int channel);

// What the key logic waits for and acts on: the program's version works on the devices, the FPGA
// and the controller's inbox; tests script it.
enum class TPanelWait { Failed, Tick, LineEdge, InputEvent };

class TFrontPanelIO {
public:
    virtual ~TFrontPanelIO() = default;
    // Start-up: the light sensor (init, interrupt on, automatic brightness), then the input
    // device and the line file opened (and the line read once).
    virtual void startLightSensor() = 0;
    virtual void openDevices() = 0;
    // Waits for the next source; with tick, at most one 50 ms tick.
    virtual TPanelWait wait(bool tick) = 0;
    // One whole input event; false when the read was short.
    virtual bool readInputEvent(struct input_event* event) = 0;
    // Reads the line file from its start.
    virtual void readLine() = 0;
    virtual uint32_t readSpi(int id) = 0;
    virtual void writeSpi(int id, uint32_t value) = 0;
    // CmdeLogique(CMDE_REG20_PULSE24, 1).
    virtual void pulse() = 0;
    virtual void luxAutoSet() = 0;
    virtual int keyRequests(uint32_t keyMask, TPressType press, int32_t heldTime, pipe_dial* out) = 0;
    virtual int probeRequests(uint32_t probeBits, pipe_dial* out) = 0;
    virtual void post(const pipe_dial& record) = 0;
    virtual void clearRequestKey() = 0;
    // One tick without waiting for anything (after a failed wait).
    virtual void pauseTick() = 0;
};

// The key thread's state machine around one TFrontPanelIO.
class TKeyLogic {
public:
    static constexpr int32_t kTickUs = 50000;

    explicit TKeyLogic(TFrontPanelIO& io) : io_(io) {}
    // Start-up steps: light sensor, devices, all event lines on, the event flags read once.
    void start();
    // One pass of the loop: one wait and what it brings.
    void step();

    uint32_t keyMask() const { return keyMask_; }
    TPressType press() const { return press_; }
    int32_t heldTime() const { return held_; }
    bool ticking() const { return tick_; }
    bool automaticBrightness() const { return autoBrightness_; }
    uint32_t pendingProbeBits() const { return probeBits_; }

private:
    // A tick; true at the end of a probe key.
    bool tick();
    void inputEvent();
    void pressAnew();
    void postRecords(const pipe_dial* records, int count);
    void finish(bool probeEnd);
    void idle();

    TFrontPanelIO& io_;
    uint32_t keyMask_ = 0;
    TPressType press_ = PRESS_NONE;
    int32_t held_ = 0;
    int32_t waiting_ = 0;
    uint32_t firstPress_ = 0;
    uint32_t probeBits_ = 0;
    bool powerDown_ = false;
    bool autoBrightness_ = true;
    bool tick_ = false;
    pipe_dial records_[kKeyRecords] = {};
    int recordCount_ = 0;
};

// The program's devices: the input device and the line file through deviceIO(), the FPGA, the
// light sensor, the key tables and the controller's inbox.
std::unique_ptr<TFrontPanelIO> makePanelDevices();

// Thread entry of the key thread; the argument is not used. Returns once FrontPanelStop was
// called (the power-off of a test), within half a second when no key is down.
void* FrontPanel(void* arg);
void FrontPanelStop();
