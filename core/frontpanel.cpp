// The key thread: watches the power-key and panel events, the light sensor's interrupt and a GPIO
// line, times each key in 50 ms ticks and posts what the key tables make of it.
#include "core/frontpanel.h"

#include "board/deviceio.h"
#include "hardware/CmdesBase.h"
#include "hardware/fpga.h"
#include "hardware/lux.h"
#include "network/requestkey.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/input.h>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kSpiEventEnable = 4;
constexpr int kSpiEventFlags = 12;
constexpr int kSpiKeys = 52;
constexpr uint32_t kAllEventLines = 31;
constexpr uint32_t kKeyLineOnly = 1;
constexpr uint32_t kProbeFlags = 0x1E;
constexpr uint16_t kCodeLight = 50;
constexpr uint16_t kCodePower = 47;
constexpr int32_t kLongPressUs = 399999;
constexpr int32_t kSecondPressUs = 199999;
constexpr int32_t kRepeatUs = 200000;

} // namespace

void TKeyLogic::start()
{
    io_.startLightSensor();
    io_.openDevices();
    io_.writeSpi(kSpiEventEnable, kAllEventLines);
    io_.readSpi(kSpiEventFlags);
}

void TKeyLogic::step()
{
    recordCount_ = 0;
    switch (io_.wait(tick_)) {
    case TPanelWait::Failed:
        // A broken device must not make the thread spin; nothing else changes.
        io_.pauseTick();
        return;
    case TPanelWait::LineEdge: {
        io_.readLine();
        const pipe_dial edge{REQ_SCREEN, IhmPanelEdge, 0, 0, 0.0f, keySender()};
        io_.post(edge);
        return;
    }
    case TPanelWait::Tick:
        finish(tick());
        return;
    case TPanelWait::InputEvent:
        inputEvent();
        finish(false);
        return;
    }
}

bool TKeyLogic::tick()
{
    uint32_t keys = io_.readSpi(kSpiKeys);
    if (powerDown_)
        keys |= kKeyPower;
    if (keys != 0 && (keys & keyMask_) == 0)
        return false;  // another key: the times do not advance
    if (keys != 0)
        keyMask_ = keys;
    switch (press_) {
    case PRESS_PROBE:
        io_.writeSpi(kSpiEventEnable, kAllEventLines);
        recordCount_ = io_.probeRequests(probeBits_, records_);
        probeBits_ = 0;
        postRecords(records_, recordCount_);
        return true;  // the probe key's end: no call of the tables
    case PRESS_DOWN:
        if (keys != 0) {
            held_ += kTickUs;
            if (held_ > kLongPressUs)
                press_ = PRESS_LONG;
        } else if (keyMask_ & kKeyChannels) {
            firstPress_ = keyMask_;
            press_ = PRESS_WAIT_SECOND;
        } else {
            press_ = PRESS_SHORT;
        }
        break;
    case PRESS_WAIT_SECOND:
        if (keys == keyMask_) {
            press_ = PRESS_DOUBLE;
        } else {
            waiting_ += kTickUs;
            if (waiting_ > kSecondPressUs)
                press_ = PRESS_SHORT;
        }
        break;
    case PRESS_LONG:
    case PRESS_HELD:
    case PRESS_REPEAT:
        held_ += kTickUs;
        if (keys == 0)
            press_ = PRESS_NONE;
        else
            press_ = held_ % kRepeatUs == 0 ? PRESS_REPEAT : PRESS_HELD;
        break;
    default:
        break;
    }
    return false;
}

void TKeyLogic::inputEvent()
{
    struct input_event ev {};
    if (!io_.readInputEvent(&ev))
        return;
    if (ev.code == kCodeLight) {
        if (autoBrightness_ && ev.value == 1)
            io_.luxAutoSet();
        if (keyMask_ != 0)
            pressAnew();
    } else if (ev.code == kCodePower) {
        if (ev.value == 1) {
            powerDown_ = true;
            keyMask_ = kKeyPower;
            pressAnew();
        } else {
            powerDown_ = false;
            if (keyMask_ != 0)
                pressAnew();
        }
    } else {
        const uint32_t flags = io_.readSpi(kSpiEventFlags);
        if (ev.type == EV_KEY && ev.value == 1)
            keyMask_ = io_.readSpi(kSpiKeys);
        const uint32_t probe = flags & kProbeFlags;
        if (probe != 0) {
            io_.writeSpi(kSpiEventEnable, kKeyLineOnly);
            io_.pulse();
            probeBits_ |= probe;
            held_ = 0;
            waiting_ = 0;
            press_ = keyMask_ != 0 ? PRESS_DOWN : PRESS_PROBE;
        } else if (keyMask_ != 0) {
            pressAnew();
        }
    }
}

void TKeyLogic::pressAnew()
{
    if (press_ == PRESS_WAIT_SECOND) {
        if (keyMask_ == firstPress_) {
            press_ = PRESS_DOUBLE;
            held_ = 0;
            waiting_ = 0;
            firstPress_ = 0;
            return;
        }
        // Another key within the window: the first key's short press counts at once.
        pipe_dial first[kKeyRecords] = {};
        postRecords(first, io_.keyRequests(firstPress_, PRESS_SHORT, 0, first));
        firstPress_ = keyMask_;
    }
    press_ = PRESS_DOWN;
    held_ = 0;
    waiting_ = 0;
}

void TKeyLogic::postRecords(const pipe_dial* records, int count)
{
    if (count <= 0)
        return;
    io_.clearRequestKey();
    for (int i = count - 1; i >= 0; --i)
        io_.post(records[i]);
}

void TKeyLogic::finish(bool probeEnd)
{
    if (!probeEnd) {
        recordCount_ = io_.keyRequests(keyMask_, press_, held_, records_);
        if (keyMask_ & kKeysBrightness)
            autoBrightness_ = false;
        postRecords(records_, recordCount_);
    }
    if (probeEnd || press_ == PRESS_NONE || press_ == PRESS_SHORT || press_ == PRESS_DOUBLE) {
        idle();
    } else if (press_ == PRESS_LONG && keyMask_ == kKeyPower) {
        io_.pulse();
        powerDown_ = false;
        idle();
    } else {
        tick_ = true;
    }
}

void TKeyLogic::idle()
{
    // Probe keys that came during a key action are handled now, and their events enabled again.
    if (probeBits_ != 0 && press_ != PRESS_PROBE) {
        pipe_dial probe[kKeyRecords] = {};
        postRecords(probe, io_.probeRequests(probeBits_, probe));
        probeBits_ = 0;
        io_.writeSpi(kSpiEventEnable, kAllEventLines);
    }
    keyMask_ = 0;
    press_ = PRESS_NONE;
    held_ = 0;
    waiting_ = 0;
    tick_ = false;
}

// ---------------------------------------------------------------------------------------------
// The program's devices

namespace {

// Longest wait without a tick: the thread looks at its stop flag this often.
constexpr int kIdleWaitMs = 500;

class TPanelDevices : public TFrontPanelIO {
public:
    ~TPanelDevices() override
    {
        if (input_ >= 0)
            deviceIO().close(input_);
        if (line_ >= 0)
            deviceIO().close(line_);
    }
    void startLightSensor() override
    {
        luxInit();
        luxInterruptEnable(true);
        ::luxAutoSet();
    }
    void openDevices() override
    {
        input_ = deviceIO().open("/dev/input/event1", O_RDONLY);
        line_ = deviceIO().open("/sys/class/gpio/gpio114/value", O_RDONLY);
        if (line_ >= 0)
            readLine();
    }
    TPanelWait wait(bool tick) override
    {
        struct pollfd fds[2];
        nfds_t n = 0;
        if (line_ >= 0)
            fds[n++] = pollfd{line_, POLLPRI, 0};
        if (input_ >= 0)
            fds[n++] = pollfd{input_, POLLIN, 0};
        int r;
        do
            r = deviceIO().poll(fds, n, tick ? TKeyLogic::kTickUs / 1000 : kIdleWaitMs);
        while (r < 0 && errno == EINTR);
        if (r < 0)
            return TPanelWait::Failed;
        if (r == 0)
            return tick ? TPanelWait::Tick : TPanelWait::Failed;  // idle: nothing changes
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].fd == line_ && (fds[i].revents & POLLPRI))
                return TPanelWait::LineEdge;
            if (fds[i].fd == input_ && (fds[i].revents & POLLIN))
                return TPanelWait::InputEvent;
        }
        return TPanelWait::Failed;  // only errors reported
    }
    bool readInputEvent(struct input_event* event) override
    {
        return deviceIO().read(input_, event, sizeof *event) == static_cast<ssize_t>(sizeof *event);
    }
    void readLine() override
    {
        // From the start every time: a second read at the end would leave the edge reported.
        char level[2];
        deviceIO().lseek(line_, 0, SEEK_SET);
        deviceIO().read(line_, level, sizeof level);
    }
    uint32_t readSpi(int id) override { return TFpga::getSpiRegister(static_cast<unsigned short>(id)); }
    void writeSpi(int id, uint32_t value) override { TFpga::setSpiRegister(static_cast<unsigned short>(id), value); }
    void pulse() override { CmdeLogique(CMDE_REG20_PULSE24, 1); }
    void luxAutoSet() override { ::luxAutoSet(); }
    int keyRequests(uint32_t keyMask, TPressType press, int32_t heldTime, pipe_dial* out) override
    {
        return getRequest(keyMask, press, heldTime, out);
    }
    int probeRequests(uint32_t probeBits, pipe_dial* out) override { return getKalvexRequest(probeBits, out); }
    void post(const pipe_dial& record) override { o_g_consMessageBox.send(&record); }
    void clearRequestKey() override { l_g_requestKey.store(0); }
    void pauseTick() override { ::usleep(TKeyLogic::kTickUs); }

private:
    int input_ = -1;
    int line_ = -1;
};

} // namespace

std::unique_ptr<TFrontPanelIO> makePanelDevices()
{
    return std::make_unique<TPanelDevices>();
}

namespace {
std::atomic<bool> g_panelStop{false};
}

void FrontPanelStop()
{
    g_panelStop = true;
}

void* FrontPanel(void*)
{
    g_panelStop = false;
    // Read here: the light sensor posts before the creating thread may have stored TRAD_id.
    setKeySender(senderValue(pthread_self()));
    const std::unique_ptr<TFrontPanelIO> devices = makePanelDevices();
    TKeyLogic logic(*devices);
    logic.start();
    while (!g_panelStop)
        logic.step();
    return nullptr;
}
