// The FPGA's configuration load, its acquisition FIFO, the interrupt status with mask and
// acknowledge, the trigger positions, the macro vernier read-back and the UIO interrupt they
// raise. Member functions run with the board's mutex held; the control API at the end takes it.
#include "board/sim/simstate.h"

#include <algorithm>

namespace simboard {

namespace {

constexpr uint32_t kFifoResetWord = 16;
constexpr uint32_t kThresholdWord = 17;
constexpr uint32_t kCountWord = 18;
constexpr uint32_t kFirstPort = 32;
constexpr uint16_t kFifoResetValue = 0x8000;
constexpr uint16_t kCodeMask = 0x0FFF;

const char* stateText(TFpgaState s)
{
    switch (s) {
    case TFpgaState::HeldInReset: return "reset";
    case TFpgaState::WaitingForImage: return "waiting for image";
    case TFpgaState::Configured: return "configured";
    }
    return "?";
}

TSimBoard& board()
{
    return TSimBoard::get();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Configuration

void TSimBoard::powerOnFpga()
{
    const bool pre = powerOn == TPowerOn::Configured || (powerOn == TPowerOn::Scenario && scenario.fpgaPreconfigured);
    fpgaState = pre ? TFpgaState::Configured : TFpgaState::WaitingForImage;
    configuredAtPowerOn = pre;
    fpgaResets = 0;
    configBytes = 0;
    fifoSize = fifoHead = 0;
    fifoProduced = fifoPopped = 0;
    fifoResets = 0;
    nextPort = 0;
    ageLevel = false;
    latched = lastActive = 0;
    irqRaised = 0;
    triggerIndex = {};
    triggerSet = {};
    triggerHighBits = {};
    macroVernier = {};
    loadNeverConfigures = interruptsSuppressed = fifoStalled = endWithLastBlock = false;
    latchAfterStatusRead = 0;
}

void TSimBoard::clearFpga()
{
    spi.fill(0);
    eim.assign(kEimDirectWords, 0);
    eimFar.clear();
    serialData = 0;
    serialReadBack = 0;
    i2c = TI2cMaster();
    fifoSize = fifoHead = 0;
    fifoProduced = fifoPopped = 0;
    nextPort = 0;
    ageLevel = false;
    latched = lastActive = 0;
    triggerSet = {};
    triggerHighBits = {};
}

void TSimBoard::setFpgaState(TFpgaState state)
{
    if (state == fpgaState)
        return;
    const bool lost = fpgaState == TFpgaState::Configured;
    fpgaState = state;
    if (lost)
        clearFpga();
    TLogEntry& e = addLog(TLogKind::Fpga);
    e.a = static_cast<int64_t>(configBytes);
    e.text = lost && state == TFpgaState::WaitingForImage ? "unconfigured" : stateText(state);
    updateInterrupt();
}

void TSimBoard::fpgaResetLine(int before, int after)
{
    if (before && !after) {
        ++fpgaResets;
        configuredAtPowerOn = false;
        configBytes = 0;
        clearFpga();  // also when it was not configured: the reset pulse always clears
        setFpgaState(TFpgaState::HeldInReset);
    } else if (!before && after && fpgaState == TFpgaState::HeldInReset) {
        setFpgaState(TFpgaState::WaitingForImage);
    }
}

bool TSimBoard::configurationStream(size_t count)
{
    if (fpgaState == TFpgaState::HeldInReset)
        return false;
    configBytes += count;
    if (configuredAtPowerOn)
        return true;  // a configured FPGA lets stray stream bytes pass
    const bool done = configBytes == kConfigurationBytes && !loadNeverConfigures;
    setFpgaState(done ? TFpgaState::Configured : TFpgaState::WaitingForImage);
    return true;
}

// ---------------------------------------------------------------------------------------------
// FIFO

size_t TSimBoard::fifoPush(const TSample* samples, size_t count, uint64_t stampNs, const uint64_t* stamps)
{
    if (!fpgaConfigured() || fifoStalled || !samples)
        return 0;
    const size_t taken = std::min(count, kFifoSamples - fifoSize);
    if (stampNs == UINT64_MAX && !stamps)
        stampNs = nowNs();
    for (size_t i = 0; i < taken; ++i) {
        const size_t at = (fifoHead + fifoSize) % kFifoSamples;
        TSample& slot = fifoData[at];
        for (int c = 0; c < 4; ++c)
            slot[c] = samples[i][c] & kCodeMask;
        fifoTime[at] = stamps ? stamps[i] : stampNs;
        ++fifoSize;
    }
    fifoProduced += taken;
    if (taken > 0)
        updateInterrupt();
    return taken;
}

void TSimBoard::fifoReset()
{
    fifoSize = fifoHead = 0;
    fifoProduced = fifoPopped = 0;
    nextPort = 0;
    ageLevel = false;
    latched &= ~(kStatusLastBlock | kStatusThreshold | kStatusRingRestart);
    ++fifoResets;
    updateInterrupt();
}

uint16_t TSimBoard::fifoPort(uint32_t word)
{
    const int port = static_cast<int>(word - kFirstPort);
    if (port != nextPort)
        violate(TStrictCheck::FifoPortOrder, "sample port " + std::to_string(word) + " read while port " +
                                                 std::to_string(kFirstPort + nextPort) + " was due");
    nextPort = (port + 1) % 4;
    if (fifoVisible() == 0) {
        violate(TStrictCheck::FifoReadEmpty, "sample port " + std::to_string(word) + " read with an empty FIFO" +
                                                 (fifoStalled && fifoSize ? " (stalled)" : ""));
        return 0;
    }
    // The latched sample is always the head: only the channel-4 port pops.
    const uint16_t v = fifoData[fifoHead][port];
    if (port == 3) {
        fifoHead = (fifoHead + 1) % kFifoSamples;
        --fifoSize;
        ++fifoPopped;
        if (ageLevel)
            refreshAgeLevel();
        if (lastActive & kStatusThreshold)
            updateInterrupt();  // the level may fall: a later rise is a new edge
    }
    return v;
}

// ---------------------------------------------------------------------------------------------
// Status, mask and interrupt

uint32_t TSimBoard::statusNow() const
{
    uint32_t s = latched;
    const size_t n = fifoVisible();
    if (n > 0 && (n >= eimStored(kThresholdWord) || ageLevel))
        s |= kStatusThreshold;
    return s;
}

void TSimBoard::latchStatus(uint32_t bits)
{
    if (!fpgaConfigured())
        return;
    bits &= kStatusBits;
    if (endWithLastBlock && (bits & kStatusEnd))
        bits |= kStatusLastBlock;
    latched |= bits;
    updateInterrupt();
}

void TSimBoard::updateInterrupt()
{
    const uint32_t active = fpgaConfigured() ? statusNow() & spi[8] & kStatusBits : 0;
    const uint32_t rising = active & ~lastActive;
    lastActive = active;
    if (!rising)
        return;
    TLogEntry& e = addLog(TLogKind::Interrupt);
    e.a = rising;
    if (interruptsSuppressed) {
        e.b = static_cast<int64_t>(uioInterrupts);
        e.text = "suppressed";
        return;
    }
    ++irqRaised;
    const bool enabled = uioEnabled;
    raiseUioInterrupt();
    e.b = static_cast<int64_t>(uioInterrupts);
    e.text = enabled ? "delivered" : "pending";
}

uint32_t TSimBoard::triggerPosition(int source) const
{
    if (source < 0 || source > 3 || !triggerSet[source])
        return 0;
    const int64_t offset = triggerIndex[source] - static_cast<int64_t>(fifoPopped);
    return (static_cast<uint32_t>(offset) & 0x1FFF) | (triggerHighBits[source] & ~0x1FFFu);
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TSimBoard::installAcquisitionHandlers()
{
    spiHandlers[8].write = [](TSimBoard& b, int, uint32_t v) {
        b.spi[8] = v;
        b.updateInterrupt();
    };
    spiHandlers[16].read = [](TSimBoard& b, int) {
        const uint32_t s = b.statusNow();
        b.latched = 0;
        b.updateInterrupt();
        if (const uint32_t bits = b.latchAfterStatusRead) {
            b.latchAfterStatusRead = 0;
            b.latchStatus(bits);
        }
        return s;
    };
    spiHandlers[16].write = [](TSimBoard& b, int, uint32_t v) {
        b.spi[16] = v;
        b.latched = 0;
        b.updateInterrupt();
    };
    // The acknowledge drops the pending event and restarts the edge detection. With the mask
    // cleared it also clears the latched bits (a clean start); with the mask set it leaves them,
    // so a bit latched after the reader's status read interrupts again instead of vanishing with
    // the acknowledge, and a level bit still set (samples above the threshold) does too.
    spiHandlers[64].write = [](TSimBoard& b, int, uint32_t v) {
        b.spi[64] = v;
        if (b.spi[8] == 0)
            b.latched = 0;
        b.uioPending = false;
        b.lastActive = 0;
        b.updateInterrupt();
    };
    for (int id = 104; id <= 107; ++id) {
        spiHandlers[id].read = [](TSimBoard& b, int reg) { return b.triggerPosition(reg - 104); };
        spiHandlers[id].write = [](TSimBoard&, int, uint32_t) {};
    }

    eimHandlers[kFifoResetWord].write = [](TSimBoard& b, uint32_t w, uint16_t v) {
        b.eimStore(w, v);
        if (v & kFifoResetValue)
            b.fifoReset();
    };
    eimHandlers[kThresholdWord].write = [](TSimBoard& b, uint32_t w, uint16_t v) {
        b.eimStore(w, v);
        b.updateInterrupt();
    };
    eimHandlers[kCountWord].read = [](TSimBoard& b, uint32_t) { return static_cast<uint16_t>(b.fifoVisible()); };
    eimHandlers[kCountWord].write = [](TSimBoard&, uint32_t, uint16_t) {};
    for (uint32_t w = kFirstPort; w < kFirstPort + 4; ++w)
        eimHandlers[w].read = [](TSimBoard& b, uint32_t word) { return b.fifoPort(word); };

    // Macro vernier read-back of a channel device.
    opcodeHandlers[0x1A0] = [](TSimBoard& b, int d, uint16_t, uint16_t) -> uint32_t {
        if (d < 0 || d > 3)
            return 0;
        return (static_cast<uint32_t>(static_cast<uint16_t>(b.macroVernier[d])) << 7) & 0xFFFFFF;
    };
}

// ---------------------------------------------------------------------------------------------
// Control API

TConfiguration configuration()
{
    std::lock_guard<std::mutex> lock(board().mu);
    TConfiguration c;
    c.state = board().fpgaState;
    c.configured = board().fpgaConfigured();
    c.bytes = board().configBytes;
    c.resets = board().fpgaResets;
    return c;
}

bool fpgaConfigured()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().fpgaConfigured();
}

uint64_t configurationBytes()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().configBytes;
}

void setPowerOnConfiguration(TPowerOn powerOn)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().powerOn = powerOn;
}

TPowerOn powerOnConfiguration()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().powerOn;
}

size_t pushSamples(const TSample* samples, size_t count)
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().fifoPush(samples, count);
}

size_t pushSamples(const std::vector<TSample>& samples)
{
    return pushSamples(samples.data(), samples.size());
}

TFifoState fifo()
{
    std::lock_guard<std::mutex> lock(board().mu);
    const TSimBoard& b = board();
    TFifoState f;
    f.count = b.fifoSize;
    f.produced = b.fifoProduced;
    f.popped = b.fifoPopped;
    f.threshold = b.eimStored(kThresholdWord);
    f.resets = b.fifoResets;
    return f;
}

void latchStatus(uint32_t bits)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().latchStatus(bits);
}

uint32_t status()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().statusNow();
}

uint32_t interruptMask()
{
    std::lock_guard<std::mutex> lock(board().mu);
    return board().spi[8];
}

void setTriggerSample(int source, int64_t index, uint32_t highBits)
{
    if (source < 0 || source > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().triggerIndex[source] = index;
    board().triggerSet[source] = true;
    board().triggerHighBits[source] = highBits & ~0x1FFFu;
}

void clearTriggerSample(int source)
{
    if (source < 0 || source > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().triggerSet[source] = false;
    board().triggerHighBits[source] = 0;
}

void setMacroVernier(int device, int16_t vernier)
{
    if (device < 0 || device > 3)
        return;
    std::lock_guard<std::mutex> lock(board().mu);
    board().macroVernier[device] = vernier;
}

TInterruptState interruptState()
{
    std::lock_guard<std::mutex> lock(board().mu);
    const TSimBoard& b = board();
    TInterruptState s;
    s.enabled = b.uioEnabled;
    s.pending = b.uioPending;
    s.count = b.uioInterrupts;
    s.raised = b.irqRaised;
    return s;
}

void setLoadNeverConfigures(bool on)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().loadNeverConfigures = on;
}

void setInterruptsSuppressed(bool on)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().interruptsSuppressed = on;
}

void setFifoStalled(bool on)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().fifoStalled = on;
    board().updateInterrupt();
}

void setEndWithLastBlock(bool on)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().endWithLastBlock = on;
}

void latchAfterNextStatusRead(uint32_t bits)
{
    std::lock_guard<std::mutex> lock(board().mu);
    board().latchAfterStatusRead = bits & kStatusBits;
}

} // namespace simboard
