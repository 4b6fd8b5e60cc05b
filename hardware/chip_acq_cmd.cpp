// Driver control commands: each programs the FPGA's trigger blocks, hold-offs, time base and
// record lengths for one kind of acquisition, or stops it.
#include "hardware/chip_acq.h"

#include "board/process.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "core/command_helpers.h"
#include "core/scale.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"
#include "hardware/frequencemeter.h"
#include "hardware/frontend_scope.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

uint16_t pseudoInitCh1 = 0;
uint16_t pseudoInitCh2 = 0;
uint16_t pseudoInitCh3 = 0;
uint16_t pseudoInitCh4 = 0;
uint32_t pseudoBDT = 0;
uint32_t pseudoFPGA_BDT_ML = 0;
uint16_t pseudoParamTrigger_Main = 0;
uint16_t pseudoParamTrigger_Aux = 0;
uint16_t pseudoOn_Off_Blocs_Trigger = 0;
uint16_t pseudoOn_Off_Blocs_Qualifier = 0;
uint16_t pseudoOn_Off_Blocs_Aux = 0;
uint16_t pseudoParamHO_Trigger = 0;
uint16_t pseudoParamHO_Qualifier = 0;
uint16_t pseudoParamHO_Aux = 0;
uint16_t pseudoHoldOff_Trigger = 0;
uint16_t pseudoHoldOff_Qualifier = 0;
uint16_t pseudoHoldOff_Aux = 0;
uint16_t pseudoFrqMtr = 0;

const uint32_t tul_l_holdoffGammee[7] = {0, 15000, 237499, 3749999, 61249999, 937500000, 2500000000u};
const int32_t tl_l_holdoffClk[6] = {0, 4, 8, 12, 16, 20};
const uint32_t tul_l_delayGamme[7] = {0, 15000, 237499, 3749999, 61249999, 937500000, 2500000000u};
const uint32_t tul_l_dtGamme[7] = {0, 15000, 237499, 3749999, 61249999, 937500000, 1875000000};
const int32_t tl_l_delayClk[6] = {8, 12, 16, 20, 24, 28};
const int32_t tl_l_deltaTClk[6] = {0, 8, 16, 24, 32, 40};
const int16_t ts_l_deltaTClkCoeff[6] = {0, 4, 8, 12, 16, 20};
const uint16_t tus_l_deltaTSelect[4] = {2, 0, 4, 6};
const uint16_t tus_l_postrigDiviseur[36] = {
    400, 400, 400, 200, 80, 40, 20, 10, 4, 2, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
};

namespace {
enum : uint16_t {
    OP_DIVIDER = 0x089,
    OP_INIT = 0x0C1,
    OP_ON_OFF = 0x0C2,
    OP_PARAM = 0x0C3,
    OP_PRETRIG = 0x0C4,
    OP_POSTTRIG = 0x0C5,
    OP_HOLDOFF = 0x0C6,
    OP_HOLDOFF_CLOCK = 0x0C7,
    OP_TRIGGER_WORD = 0x0C8,
    OP_PULSE_LOW = 0x0C9,
    OP_DELAY_SETUP = 0x0CA,
    OP_DELAY_COUNT = 0x0CB,
    OP_DELAY_CLOCK = 0x0CC,
    OP_FRAMING = 0x0CD,
    OP_FREQUENCY = 0x0CE,
    OP_PULSE_HIGH = 0x0D1,
};

enum : unsigned short {
    SPI_OVERSCAN_HIGH = 40,
    SPI_OVERSCAN_LOW = 36,
    SPI_SLOW_CLOCK = 68,
};

constexpr uint16_t kModeScope = 0x10;
constexpr uint32_t kNoDivider = 0x1FFFF;
// Beyond this post-trigger length the record ends before the requested post count.
constexpr uint32_t kMaxPostRecorded = 99990;

void sleepUs(long microseconds)
{
    timespec t{microseconds / 1000000, (microseconds % 1000000) * 1000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool scopeMode(const acq_ctrl* c)
{
    return (c->acqMode & kModeScope) != 0;
}
bool withQualifier(const acq_ctrl* c)
{
    return c->triggerType == 2 || c->triggerType == 3;
}
uint16_t channelBit(uint16_t source)
{
    return source < 7 ? static_cast<uint16_t>(1u << source) : 0;
}
uint16_t sourceMask(const acq_ctrl* c)
{
    return channelBit(c->triggerSource);
}
uint16_t qualifierMask(const acq_ctrl* c)
{
    return channelBit(c->qualifierSource);
}

uint16_t gray16(uint32_t n)
{
    return static_cast<uint16_t>(BinToGray(n) & 0xFFFF);
}

// A count that a recalled setup may push below its offset stays at 0 instead of wrapping.
uint32_t countAbove(uint32_t value, uint32_t offset, int shift)
{
    return value > offset ? (value - offset) >> shift : 0;
}

void sendInitWords(uint16_t bits)
{
    const uint16_t init[4] = {pseudoInitCh1, pseudoInitCh2, pseudoInitCh3, pseudoInitCh4};
    for (unsigned ch = 0; ch < 4; ++ch)
        feSerialSend(feChannelMask(ch), OP_INIT, static_cast<uint16_t>(init[ch] | bits));
}

void writeGeneralCommand()
{
    TFpga::setSpiRegister(ACQ_SPI_GENERAL_COMMAND, pseudoFPGA_CMDE_GEN);
}

// The Gray code of a count in two parts, bits 14-28 then 0-13.
void sendGraySplit(uint16_t mask, uint16_t opcode, uint32_t value)
{
    const uint32_t g = BinToGray(value);
    feSerialSend(mask, opcode, (g >> 14) & 0x7FFF);
    feSerialSend(mask, opcode, g & 0x3FFF);
}

void sendDividerParts(uint16_t mask, uint32_t d)
{
    feSerialSend(mask, OP_DIVIDER, (d >> 14) & 0x3F);
    feSerialSend(mask, OP_DIVIDER, d & 0x3FFF);
}

// The divider unused: the slow sample clock of SPI 68 paces the acquisition.
void sendSlowClock(uint16_t mask, uint32_t clock)
{
    pseudoFPGA_BDT_ML = clock;
    TFpga::setSpiRegister(SPI_SLOW_CLOCK, clock);
    pseudoBDT = kNoDivider;
    feSerialSend(mask, OP_DIVIDER, 7);
    feSerialSend(mask, OP_DIVIDER, 16383);
}

// Whole microseconds of a sample period, minus one (1 when it is one microsecond).
uint32_t slowClockOf(double periodSeconds)
{
    const int64_t m = static_cast<int64_t>((periodSeconds + 5e-7) / 1e-6);
    if (m == 1)
        return 1;
    return m > 1 ? static_cast<uint32_t>(m - 1) : 0;
}

void disarmAutoTimer()
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    // A handle of 0 was never created (the driver is not open).
    if (d.autoTimer != timer_t()) {
        const itimerspec off{};
        timer_settime(d.autoTimer, 0, &off, nullptr);
    }
    d.autoTimerArmed = 0;
}

void commonPart(int32_t command)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    TFpga::setSpiRegister(SPI_OVERSCAN_HIGH, 0);
    TFpga::setSpiRegister(SPI_OVERSCAN_LOW, 0);
    pseudoFPGA_IRQ4_MASK = 0;
    TFpga::setSpiRegister(ACQ_SPI_IRQ_MASK, 0);
    TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 1);

    d.autoTriggered = 0;
    d.previousAutoTriggered = 0;
    // An armed auto-trigger timer would force a trigger into the set-up being programmed.
    disarmAutoTimer();

    if (command == CHIPACQ_SCOPE)
        sendInitWords(0x21);
    pseudoFPGA_CMDE_GEN = (pseudoFPGA_CMDE_GEN & ~0x62u) | 1u;
    writeGeneralCommand();
    pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x500u);
    ChipAcqSendRelayWords();
    sendInitWords(0x22);

    pseudoParamTrigger_Aux = 19;
    d.delaySamples = 0;
    d.autoTimeoutFirst = kAutoTimeoutFirstNs;
    d.autoTimeoutNext = kAutoTimeoutNextNs;
}

// --- Command 0 --------------------------------------------------------------------------------------

void holdoffs(const acq_ctrl* c)
{
    const int r = ChipAcqRange(tul_l_holdoffGammee, c->holdoff);
    const uint16_t count = gray16(countAbove(c->holdoff, 7, 4 * r));
    const uint16_t clock = static_cast<uint16_t>(tl_l_holdoffClk[r] | 1);
    const uint16_t source = sourceMask(c);

    pseudoParamHO_Aux = 3;
    feSerialSend(ChipAcqAuxChannels(c), OP_HOLDOFF_CLOCK, pseudoParamHO_Aux);

    if (!withQualifier(c)) {
        pseudoOn_Off_Blocs_Qualifier = 0x2000;
    } else {
        const uint16_t q = qualifierMask(c);
        pseudoParamHO_Qualifier = clock;
        feSerialSend(q, OP_HOLDOFF_CLOCK, pseudoParamHO_Qualifier);
        pseudoHoldOff_Qualifier = count;
        feSerialSend(q, OP_HOLDOFF, pseudoHoldOff_Qualifier);
        feSerialSend(q, OP_ON_OFF, 9316);
        pseudoOn_Off_Blocs_Qualifier = 9332;
        feSerialSend(q, OP_ON_OFF, pseudoOn_Off_Blocs_Qualifier);
    }

    switch (c->triggerType) {
    case 2:
    case 3:
        pseudoOn_Off_Blocs_Trigger = 9461;
        feSerialSend(source, OP_ON_OFF, pseudoOn_Off_Blocs_Trigger);
        pseudoParamHO_Trigger = clock;
        feSerialSend(source, OP_HOLDOFF_CLOCK, pseudoParamHO_Trigger);
        break;
    case 1:
        pseudoOn_Off_Blocs_Trigger = 9969;
        feSerialSend(source, OP_ON_OFF, pseudoOn_Off_Blocs_Trigger);
        pseudoParamHO_Trigger = 0;
        feSerialSend(source, OP_HOLDOFF_CLOCK, pseudoParamHO_Trigger);
        break;
    default:
        pseudoHoldOff_Trigger = count;
        feSerialSend(source, OP_HOLDOFF, pseudoHoldOff_Trigger);
        feSerialSend(source, OP_ON_OFF, 9445);
        pseudoOn_Off_Blocs_Trigger = 9461;
        feSerialSend(source, OP_ON_OFF, pseudoOn_Off_Blocs_Trigger);
        pseudoParamHO_Trigger = clock;
        feSerialSend(source, OP_HOLDOFF_CLOCK, pseudoParamHO_Trigger);
        break;
    }
}

// --- Command 1 --------------------------------------------------------------------------------------

void timeBase(const acq_ctrl* c, uint16_t channels)
{
    const unsigned short t = c->timeBase;
    const double s = GetHorizontalScaleT(t);
    if (t < 18) {
        const double raw = s * 100000.0 / 2500.0 / 8e-9 + 0.1 - 1.0;
        const uint32_t d = raw > 0.0 ? static_cast<uint32_t>(raw) : 0;
        pseudoBDT = d;
        sendDividerParts(channels, d);
    } else if (t > 23) {
        sendSlowClock(channels, slowClockOf(s));
    } else {
        pseudoFPGA_BDT_ML = slowClockOf(GetHorizontalScaleT(23));
        TFpga::setSpiRegister(SPI_SLOW_CLOCK, pseudoFPGA_BDT_ML);
        pseudoBDT = 500;
        feSerialSend(channels, OP_DIVIDER, 0);
        feSerialSend(channels, OP_DIVIDER, 500);
    }
}

void auxiliaryBlock(const acq_ctrl* c)
{
    const uint16_t aux = ChipAcqAuxChannels(c);
    pseudoOn_Off_Blocs_Aux = 9312;
    feSerialSend(aux, OP_ON_OFF, pseudoOn_Off_Blocs_Aux);
    sleepUs(10);
    feSerialSend(aux, OP_DELAY_SETUP, 62);
    feSerialSend(aux, OP_PARAM, 19);
    feSerialSend(aux, OP_DELAY_CLOCK, 3);
    if (withQualifier(c)) {
        feSerialSend(qualifierMask(c), OP_ON_OFF, pseudoOn_Off_Blocs_Qualifier);
        sleepUs(10);
    }
}

void pulseWidthWords(const acq_ctrl* c)
{
    const uint16_t source = sourceMask(c);
    sendInitWords(0x22);
    TriggerSimulation(c->triggerSource, c->triggerEdge);
    const uint16_t p = std::min<uint16_t>(c->pulseCondition, 3);
    uint32_t b;
    uint32_t g;
    if (p == 0) {
        b = c->triggerT2;
        g = 0;
    } else if (p == 1) {
        b = c->triggerT1;
        g = 0;
    } else {
        b = c->triggerT1;
        g = c->triggerT1 < c->triggerT2 ? c->triggerT2 - c->triggerT1 : 0;
    }
    const int k = ChipAcqRange(tul_l_dtGamme, b);
    const int j = ChipAcqRange(tul_l_dtGamme, g);
    feSerialSend(source, OP_DELAY_SETUP,
                 static_cast<uint32_t>(tus_l_deltaTSelect[p] | tl_l_deltaTClk[k] | (tl_l_deltaTClk[j] << 3)));
    pseudoParamTrigger_Main = 2;
    feSerialSend(source, OP_PARAM, pseudoParamTrigger_Main);
    feSerialSend(source, OP_DELAY_CLOCK, 3);
    feSerialSend(source, OP_PULSE_LOW, gray16(b >> ts_l_deltaTClkCoeff[k]));
    feSerialSend(source, OP_PULSE_HIGH, gray16(g >> ts_l_deltaTClkCoeff[j]));
}

void edgeWords(const acq_ctrl* c)
{
    const uint16_t source = sourceMask(c);
    feSerialSend(source, OP_DELAY_SETUP, 62);
    pseudoParamTrigger_Main = 0;
    feSerialSend(source, OP_PARAM, pseudoParamTrigger_Main);
    feSerialSend(source, OP_DELAY_CLOCK, 3);
}

// Trigger types 2 (delay) and 3 (event count).
void delayWords(const acq_ctrl* c)
{
    const uint16_t source = sourceMask(c);
    const bool events = c->triggerType == 3;
    const int r = ChipAcqRange(tul_l_delayGamme, c->triggerDelay);
    feSerialSend(source, OP_DELAY_SETUP, 62);
    pseudoParamTrigger_Main = 14;
    feSerialSend(source, OP_PARAM, pseudoParamTrigger_Main);
    feSerialSend(source, OP_DELAY_CLOCK, events ? 0 : static_cast<uint32_t>(tl_l_delayClk[r]));
    feSerialSend(source, OP_ON_OFF, pseudoOn_Off_Blocs_Trigger & ~0x8u);
    const uint32_t count = events ? countAbove(c->triggerEventCount, 2, 0) : countAbove(c->triggerDelay, 5, 4 * r);
    feSerialSend(source, OP_DELAY_COUNT, gray16(count));
    pseudoOn_Off_Blocs_Trigger = static_cast<uint16_t>(pseudoOn_Off_Blocs_Trigger | 0x8);
    feSerialSend(source, OP_ON_OFF, pseudoOn_Off_Blocs_Trigger);
}

// The pre- and post-trigger lengths of command 1 (and of the calibration command), then the
// record framing words.
void lengths(const acq_ctrl* c, uint16_t channels, uint16_t sourceChannels)
{
    const unsigned short t = c->timeBase;
    const double s = GetHorizontalScaleT(t);
    const double post = c->postTrigger;
    const double pre = c->preTrigger;
    int64_t word;
    if (t < 18) {
        const double D = tus_l_postrigDiviseur[t];
        const double r = GetRealHorizontalScaleT(t);
        const int64_t pretrig = static_cast<int64_t>(7.2e-8 / (D * r)) - (t < 11 ? 2 : 0)
            + static_cast<int64_t>(pre * 2500.0 / (D * 100000.0)) + 2;
        const int64_t posttrig = static_cast<int64_t>((post + pre) * 2500.0 / (D * 100000.0)) - pretrig + 1;
        pseudoPretrig = static_cast<int32_t>(pretrig);
        pseudoPostrig = static_cast<int32_t>(std::max<int64_t>(posttrig, 0));
        word = static_cast<int64_t>(pretrig + 0.003 / (s * 100000.0 / 2500.0 * D));
    } else if (t <= 22 && (c->acqFlags & 0x90) == 0x90) {
        const double s23 = GetHorizontalScaleT(23);
        const double q = s23 / s;
        pseudoPostrig = static_cast<int32_t>((post + 1.0) / q);
        pseudoPretrig = static_cast<int32_t>((pre + 0.02 / s23) / q);
        word = pseudoPretrig;
    } else {
        pseudoPostrig = static_cast<int32_t>(c->postTrigger);
        pseudoPretrig = static_cast<int32_t>(pre + 0.02 / s);
        word = pseudoPretrig;
    }
    sendGraySplit(channels, OP_PRETRIG, static_cast<uint32_t>(word));
    sendGraySplit(channels, OP_POSTTRIG, static_cast<uint32_t>(pseudoPostrig));
    feSerialSend(channels, OP_FRAMING, 8);
    feSerialSend(sourceChannels, OP_FRAMING, 12);
    pseudoFrqMtr = 3;
    feSerialSend(channels, OP_FREQUENCY, pseudoFrqMtr);
}

uint32_t qualifierSelection(const acq_ctrl* c)
{
    if (!withQualifier(c))
        return 0;
    switch (c->qualifierSource) {
    case 3: return 48;
    case 2: return 40;
    case 1: return 36;
    default: return 34;
    }
}

void setDelaySamples(const acq_ctrl* c)
{
    o_g_chipAcqDevDescriptor.delaySamples =
        c->postTrigger > kMaxPostRecorded ? static_cast<int32_t>(c->postTrigger - kMaxPostRecorded) : 0;
}

void timeBaseCommand(const acq_ctrl* c)
{
    const uint16_t channels = ChipAcqTriggerChannels(c);
    timeBase(c, channels);
    auxiliaryBlock(c);
    switch (c->triggerType) {
    case 1: pulseWidthWords(c); break;
    case 2:
    case 3: delayWords(c); break;
    default: edgeWords(c); break;
    }
    lengths(c, channels, sourceMask(c));
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, qualifierSelection(c));
    setDelaySamples(c);
}

// --- Commands 2, 3, 8 ---------------------------------------------------------------------------

// The lengths as given, without framing arithmetic.
void plainLengths(const acq_ctrl* c, uint16_t channels)
{
    pseudoPretrig = static_cast<int32_t>(c->preTrigger);
    pseudoPostrig = static_cast<int32_t>(c->postTrigger);
    sendGraySplit(channels, OP_PRETRIG, static_cast<uint32_t>(pseudoPretrig));
    sendGraySplit(channels, OP_POSTTRIG, static_cast<uint32_t>(pseudoPostrig));
}

// Trigger blocks on, free-running parameter, hold-offs 1: the acquisition is forced at arming.
void freeRunningBlocks(uint16_t channels)
{
    pseudoOn_Off_Blocs_Trigger = 9461;
    pseudoOn_Off_Blocs_Aux = 9461;
    feSerialSend(channels, OP_ON_OFF, 9461);
    pseudoParamTrigger_Aux = 21;
    pseudoParamTrigger_Main = 21;
    feSerialSend(channels, OP_PARAM, 21);
}

void holdoffParametersOne(uint16_t channels)
{
    pseudoParamHO_Trigger = pseudoParamHO_Qualifier = pseudoParamHO_Aux = 1;
    feSerialSend(channels, OP_HOLDOFF_CLOCK, 1);
}

TAcquisition* harmonicTrace(uint16_t channels)
{
    using command_util::channelTrace;
    switch (channels) {
    case 4: return channelTrace(2);
    case 8: return channelTrace(3);
    case 2: return channelTrace(1);
    default: return channelTrace(0);
    }
}

void harmonicCommand(const acq_ctrl* c)
{
    const uint16_t channels = ChipAcqTriggerChannels(c);
    pseudoFPGA_CMDE_GEN |= 0x40;
    writeGeneralCommand();
    TAcquisition* trace = harmonicTrace(c->cycleChannels);
    const double period = trace ? trace->GetHarmonicSamplingPeriod() : 5e-5;
    const int64_t k = std::max<int64_t>(static_cast<int64_t>((period + 4e-8) / 8e-8), 1);
    if (trace)
        trace->SetHarmonicSampleRate(1.0 / (static_cast<double>(k) * 8e-8));
    sendSlowClock(channels, static_cast<uint32_t>(k - 1));
    freeRunningBlocks(channels);
    plainLengths(c, channels);
    holdoffParametersOne(channels);
    pseudoFrqMtr = 3;
    feSerialSend(channels, OP_FREQUENCY, pseudoFrqMtr);
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, 0);
}

void meterCommand(const acq_ctrl* c)
{
    const uint16_t channels = ChipAcqTriggerChannels(c);
    const unsigned short t = c->timeBase;
    sendInitWords(0x22);
    const double s = GetHorizontalScaleT(t);
    const uint32_t clock = slowClockOf(s * 100000.0 / 2500.0);
    pseudoFPGA_BDT_ML = clock;
    TFpga::setSpiRegister(SPI_SLOW_CLOCK, clock);
    if (t == 35) {
        pseudoFPGA_CMDE_GEN |= 0x20;
        writeGeneralCommand();
    }
    pseudoBDT = kNoDivider;
    feSerialSend(channels, OP_DIVIDER, 7);
    feSerialSend(channels, OP_DIVIDER, 16383);
    freeRunningBlocks(channels);
    holdoffParametersOne(channels);
    // Without them the FPGA would keep the post count of the previous set-up.
    plainLengths(c, channels);
    if (t == 21 && c->acqFlags != ACQ_FLAGS_CONTINUITY)
        FrequencemeterStart(channels);
    else
        o_g_frequenceMeterReady.store(0);
}

// --- Command 5 --------------------------------------------------------------------------------------

void calibrationCommand(const acq_ctrl* c)
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    const uint16_t source = scopeMode(c) ? sourceMask(c) : 0;
    const uint16_t channels = static_cast<uint16_t>((c->cycleChannels & 0xF) | source);
    const int r = ChipAcqRange(tul_l_holdoffGammee, c->holdoff);
    d.autoTimeoutFirst = kAutoTimeoutNextNs;
    d.autoTimeoutNext = kAutoTimeoutNextNs;

    // 2e-8 here where the scope's divider uses 8e-9: the calibration acquisitions have their own clock.
    const double raw = GetHorizontalScaleT(c->timeBase) * 100000.0 / 2500.0 / 2e-8 + 0.1 - 1.0;
    if (c->acqFlags & 0x20) {
        const uint32_t div = raw > 0.0 ? static_cast<uint32_t>(raw) : 0;
        pseudoBDT = div;
        sendDividerParts(channels, div);
    } else {
        const double m = (raw - 49.0) / 50.0;
        sendSlowClock(channels, m > 0.0 ? static_cast<uint32_t>(m) : 0);
    }

    pseudoOn_Off_Blocs_Trigger = pseudoOn_Off_Blocs_Qualifier = pseudoOn_Off_Blocs_Aux = 9460;
    feSerialSend(channels, OP_ON_OFF, 9460);
    sleepUs(10);
    const uint16_t clock = static_cast<uint16_t>(tl_l_holdoffClk[r] | 1);
    pseudoParamHO_Trigger = pseudoParamHO_Qualifier = pseudoParamHO_Aux = clock;
    feSerialSend(channels, OP_HOLDOFF_CLOCK, clock);
    feSerialSend(channels, OP_DELAY_SETUP, 62);
    feSerialSend(channels, OP_PARAM, 19);
    feSerialSend(channels, OP_DELAY_CLOCK, 3);
    pseudoParamTrigger_Aux = pseudoParamTrigger_Main = 1;
    feSerialSend(channels, OP_PARAM, 1);
    const uint16_t count = gray16(c->holdoff >> (4 * r));
    pseudoHoldOff_Trigger = pseudoHoldOff_Qualifier = pseudoHoldOff_Aux = count;
    feSerialSend(channels, OP_HOLDOFF, count);
    // Its callers set the force bit of SPI 56 themselves.
    lengths(c, channels, source != 0 ? source : channels);
    setDelaySamples(c);
}

// --- Command 6 --------------------------------------------------------------------------------------

void autosetCommand()
{
    struct Word {
        uint16_t opcode;
        uint16_t value;
    };
    static const Word before[] = {{OP_DIVIDER, 7}, {OP_DIVIDER, 16383}, {OP_ON_OFF, 9248}};
    static const Word after[] = {
        {OP_PARAM, 19}, {OP_HOLDOFF, 0}, {OP_HOLDOFF_CLOCK, 3}, {OP_TRIGGER_WORD, 0},
        {OP_PULSE_LOW, 0}, {OP_PULSE_HIGH, 0}, {OP_DELAY_SETUP, 62}, {OP_DELAY_COUNT, 0},
        {OP_DELAY_CLOCK, 3}, {OP_FRAMING, 3}, {OP_FREQUENCY, 3},
    };
    pseudoBDT = kNoDivider;
    for (const Word& w : before)
        feSerialSend(FE_ALL_CHANNELS, w.opcode, w.value);
    pseudoOn_Off_Blocs_Trigger = pseudoOn_Off_Blocs_Qualifier = pseudoOn_Off_Blocs_Aux = 9248;
    sleepUs(10);
    for (const Word& w : after)
        feSerialSend(FE_ALL_CHANNELS, w.opcode, w.value);
    pseudoParamTrigger_Main = 19;
    pseudoHoldOff_Trigger = pseudoHoldOff_Qualifier = pseudoHoldOff_Aux = 0;
    pseudoParamHO_Trigger = pseudoParamHO_Qualifier = pseudoParamHO_Aux = 3;
    pseudoFrqMtr = 3;
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, 0);
}

// --- Commands 10 and 12 -----------------------------------------------------------------------------

void stopSteps()
{
    pseudoFPGA_IRQ4_MASK = 0;
    TFpga::setSpiRegister(ACQ_SPI_IRQ_MASK, 0);
    TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 1);
    if (us_g_chipAcqStatus & ACQ_STATUS_STREAM_FPGA_END) {
        pseudoFPGA_CMDE_GEN &= ~0x62u;
        writeGeneralCommand();
        pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x100u);
    }
    pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x60u);
    ChipAcqSendRelayWords();
}
} // namespace

int ChipAcqRange(const uint32_t* table, uint32_t value)
{
    for (int k = 1; k <= 6; ++k) {
        if (table[k] >= value)
            return k - 1;
    }
    return 5;
}

uint16_t ChipAcqTriggerChannels(const acq_ctrl* c)
{
    if (!c || !scopeMode(c))
        return 0;
    uint16_t mask = static_cast<uint16_t>((c->cycleChannels & 0xF) | sourceMask(c));
    if (withQualifier(c))
        mask = static_cast<uint16_t>(mask | qualifierMask(c));
    return static_cast<uint16_t>(mask & 0x7F);
}

uint16_t ChipAcqAuxChannels(const acq_ctrl* c)
{
    if (!c)
        return 0;
    uint16_t mask = static_cast<uint16_t>(c->cycleChannels & 0xF);
    if (scopeMode(c)) {
        mask = static_cast<uint16_t>(mask & ~sourceMask(c));
        if (withQualifier(c))
            mask = static_cast<uint16_t>(mask & ~qualifierMask(c));
    }
    return mask;
}

void ChipAcqResetCommandWords()
{
    pseudoInitCh1 = pseudoInitCh2 = pseudoInitCh3 = pseudoInitCh4 = 0;
    pseudoBDT = 0;
    pseudoFPGA_BDT_ML = 0;
    pseudoParamTrigger_Main = pseudoParamTrigger_Aux = 0;
    pseudoOn_Off_Blocs_Trigger = pseudoOn_Off_Blocs_Qualifier = pseudoOn_Off_Blocs_Aux = 0;
    pseudoParamHO_Trigger = pseudoParamHO_Qualifier = pseudoParamHO_Aux = 0;
    pseudoHoldOff_Trigger = pseudoHoldOff_Qualifier = pseudoHoldOff_Aux = 0;
    pseudoFrqMtr = 0;
    pseudoELV = 1;
    pseudoRC = 0;
    for (int ch = 0; ch < 4; ++ch)
        pseudoRC_bwl[ch] = pseudoRC2[ch] = 0;
}

void ChipAcqSendRelayWords()
{
    for (unsigned ch = 0; ch < 4; ++ch)
        feSerialSend(feChannelMask(ch), ACQ_OP_RELAY, static_cast<uint16_t>(pseudoRC | pseudoRC_bwl[ch]));
}

int ChipAcqIoctl(int32_t command, acq_ctrl* ctrl)
{
    // The words below outlive the caller's set-up until a power-off.
    registerPowerOffUndo("acquisition driver", [] { return ChipAcqDrvEnd(); });
    // The stop takes the mutex itself, from the common part on, so that the auto-trigger timer's
    // callback cannot slip between the disarm and the stop.
    if (command == CHIPACQ_STOP)
        pthread_mutex_lock(&o_g_synchroAcqMutex);
    else if (command == CHIPACQ_TIMEBASE || command == CHIPACQ_METER || command == CHIPACQ_CAPACITANCE)
        AcqCheckSetupUnderMutex();

    commonPart(command);

    switch (command) {
    case CHIPACQ_SCOPE:
        for (auto& row : pseudo_FqPr)
            for (int32_t& v : row)
                v = 0;
        if (ctrl && scopeMode(ctrl))
            holdoffs(ctrl);
        break;
    case CHIPACQ_TIMEBASE:
        if (ctrl)
            timeBaseCommand(ctrl);
        break;
    case CHIPACQ_HARMONIC:
        if (ctrl)
            harmonicCommand(ctrl);
        break;
    case CHIPACQ_METER:
    case CHIPACQ_CAPACITANCE:
        if (ctrl)
            meterCommand(ctrl);
        break;
    case CHIPACQ_CALIBRATION:
        if (ctrl)
            calibrationCommand(ctrl);
        break;
    case CHIPACQ_AUTOSET:
        autosetCommand();
        break;
    case CHIPACQ_STOP:
        stopSteps();
        o_g_synchroAcqDetail |= SYNCHRO_STOP;
        pthread_cond_broadcast(&o_g_synchroAcqCond);
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        sleepUs(10000);
        break;
    case CHIPACQ_STOP_QUIET:
        stopSteps();
        sleepUs(10000);
        break;
    default:
        pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x460u);
        ChipAcqSendRelayWords();
        break;
    }
    return 0;
}
