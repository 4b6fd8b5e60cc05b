// Start-up calibration of the time verniers and of the equivalent-time offset tables: private
// acquisitions on the live board, results in memory only.
#include "hardware/vernier.h"

#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/chip_acq.h"
#include "hardware/fpga.h"

#include <cstring>

namespace {
constexpr int kAcqCalPolls = 1024;      // 1 ms apart
constexpr int kMatricePolls = 9999;     // 1 ms bound each
constexpr int kVernierAcquisitions = 128;
constexpr int kMaxFailures = 64;
constexpr int kEntryWords = 4;

// Thrown as a plain integer and caught in the function that started the calibration.
constexpr int kCalibrationFailed = -1;

int highestInstalledChannel(uint16_t mask)
{
    for (int ch = 3; ch > 0; --ch)
        if (mask & (1u << ch))
            return ch;
    return 0;
}

acq_ctrl calibrationRecord(uint16_t channels, uint16_t source)
{
    acq_ctrl c = calibrationControlRecord(channels, source);
    c.postTrigger = 1250;
    c.preTrigger = 2500;
    c.acqFlags = 33;
    c.timeBase = 7;
    return c;
}

// Polls the read-out count times with the given bound until it reports a bit of want; a read
// that returns 0 counts as one unanswered poll.
bool pollFor(acq_ctrl* ctrl, int count, int32_t timeoutMs, int want)
{
    for (int i = 0; i < count; ++i) {
        const int r = ChipAcqRead(ctrl, timeoutMs);
        if (r & want)
            return true;
    }
    return false;
}

void forceTrigger(uint32_t on)
{
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, on);
}

int channelCode(int entry, int channel)
{
    return tus_l_signalsBuffer[kEntryWords * entry + channel] & 0xFFF;
}

// One plain acquisition for the offset tables: force on, arm, wait, one read of SPI 99, polls.
void plainAcquisition(acq_ctrl* ctrl, int waitMs)
{
    ChipAcqIoctl(CHIPACQ_CALIBRATION, ctrl);
    forceTrigger(1);
    if (ChipAcqWrite(ctrl) < 0) {
        forceTrigger(0);
        throw kCalibrationFailed;
    }
    hardwarePauseMs(waitMs);
    TFpga::getSpiRegister(ACQ_SPI_VERSION);
    const bool done = pollFor(ctrl, kMatricePolls, 1, 0x10);
    forceTrigger(0);
    if (!done)
        throw kCalibrationFailed;
}

// Mean of the channel's codes in entries first, first + step, ... below end, minus reference.
int16_t meanFrom(int channel, int first, int step, int end, int32_t reference)
{
    int32_t sum = 0;
    int32_t n = 0;
    for (int e = first; e < end; e += step, ++n)
        sum += channelCode(e, channel);
    return static_cast<int16_t>((n ? sum / n : 0) - reference);
}

// MatriceAcqCal until it succeeds; more than kMaxFailures failures over the calibration abort.
void acquireUntilDone(acq_ctrl* ctrl, int* failures)
{
    while (MatriceAcqCal(ctrl, nullptr, nullptr, nullptr, nullptr) != 0)
        if (++*failures > kMaxFailures)
            throw kCalibrationFailed;
}

void phaseMeans(int channel, int32_t reference, int16_t* table)
{
    for (int j = 0; j < kPhaseCount; ++j)
        table[j] = meanFrom(channel, 2 + j, 21, 2688, reference);
}
}  // namespace

acq_ctrl calibrationControlRecord(uint16_t channels, uint16_t source)
{
    acq_ctrl c;
    std::memset(&c, 0, sizeof c);
    c.decimation = 1;
    c.shownChannels = c.acqChannels = c.cycleChannels = channels;
    c.triggerMode = 1;
    c.dispWidth = 1.0f;
    c.qualifierSource = c.triggerSource = source;
    c.acqMode = 16;
    c.triggerType = 0;
    c.holdoff = 8;
    c.triggerDelay = 6;
    c.triggerEventCount = 3;
    c.triggerT1 = 2;
    c.triggerT2 = 2;
    c.pulseCondition = 2;
    return c;
}

int MatriceAcqCal(acq_ctrl* ctrl, short* out1, short* out2, short* out3, short* out4)
{
    try {
        forceTrigger(1);
        if (ChipAcqWrite(ctrl) < 0) {
            forceTrigger(0);
            throw kCalibrationFailed;
        }
        hardwarePauseMs(3);
        TFpga::getSpiRegister(ACQ_SPI_VERSION);
        const bool done = pollFor(ctrl, kAcqCalPolls, 1, 0x10 | 0x1000);
        forceTrigger(0);
        if (!done)
            throw kCalibrationFailed;
        short* const outs[4] = {out1, out2, out3, out4};
        for (int ch = 0; ch < 4; ++ch)
            if (outs[ch])
                *outs[ch] = static_cast<short>(tus_l_signalsBuffer[ch]);
        pseudoRC = static_cast<uint16_t>(pseudoRC & ~0x40u);
        ChipAcqSendRelayWords();
        return 0;
    } catch (int) {
        return -1;
    }
}

int TVernier::Calibration(calibration*)
{
    registerPowerOffUndo("vernier tables", [] {
        VernierTablesEnd();
        return true;
    });
    if ((data.selfTestResult & 0xFF) != 0xFF)
        return -1;
    for (int ch = 0; ch < 4; ++ch) {
        vernierMinOf(ch) = 4095;
        vernierMaxOf(ch) = 0;
    }
    const uint16_t mask = data.hwChannelMask;
    acq_ctrl ctrl = calibrationRecord(mask, static_cast<uint16_t>(highestInstalledChannel(mask)));
    ChipAcqIoctl(CHIPACQ_CALIBRATION, &ctrl);

    bool received[4] = {false, false, false, false};
    bool lastValid[4] = {false, false, false, false};
    int failures = 0;
    try {
        for (int i = 0; i < kVernierAcquisitions; ++i) {
            short codes[4] = {0, 0, 0, 0};
            if (MatriceAcqCal(&ctrl, &codes[0], &codes[1], &codes[2], &codes[3]) != 0) {
                if (++failures > kMaxFailures)
                    throw kCalibrationFailed;
                continue;
            }
            for (int ch = 0; ch < 4; ++ch) {
                const uint16_t code = static_cast<uint16_t>(codes[ch]) & 0xFFF;
                lastValid[ch] = code != 0 && code != 4095;
                if (!lastValid[ch])
                    continue;
                received[ch] = true;
                if (code < vernierMinOf(ch))
                    vernierMinOf(ch) = code;
                if (code > vernierMaxOf(ch))
                    vernierMaxOf(ch) = code;
            }
        }
    } catch (int) {
        for (int ch = 0; ch < 4; ++ch) {
            if (lastValid[ch]) {
                vernierMinOf(ch) = 0;
                vernierMaxOf(ch) = 4095;
            }
        }
        return -1;
    }
    // A channel that never gave a valid code keeps 4095..0, which IsCalibrationOK refuses.
    for (int ch = 0; ch < 4; ++ch) {
        if (!received[ch])
            continue;
        const int32_t mn = vernierMinOf(ch);
        const int32_t mx = vernierMaxOf(ch);
        const int32_t narrowedMin = mn + (mx - mn) / 32;
        vernierMinOf(ch) = static_cast<uint16_t>(narrowedMin);
        vernierMaxOf(ch) = static_cast<uint16_t>(mx - (mx - narrowedMin) / 32);
    }
    return 0;
}

int MatriceCalibration(unsigned char channelBit)
{
    registerPowerOffUndo("vernier tables", [] {
        VernierTablesEnd();
        return true;
    });
    int a = 0;
    switch (channelBit) {
    case 2: a = 1; break;
    case 4: a = 2; break;
    case 8: a = 3; break;
    default: channelBit = 1; break;
    }
    for (int group = 0; group < 4; ++group)
        std::memset(matriceOffsetsOf(a, group), 0, sizeof(int16_t) * kPhaseCount);
    bypassMinOffsetOf(a) = 0;
    bypassMaxOffsetOf(a) = 0;

    acq_ctrl ctrl = calibrationRecord(channelBit, static_cast<uint16_t>(a));
    ctrl.timeBase = 21;
    ctrl.acqFlags = 129;
    for (int ch = 0; ch < 4; ++ch) {
        ctrl.span[ch] = 262080;
        ctrl.zero[ch] = 0x60000;
    }
    try {
        // Plain level.
        plainAcquisition(&ctrl, 120);
        const int32_t reference = meanFrom(a, 4, 1, 2496, 0);

        // Min/max (bypass) paths.
        ctrl.acqFlags = 133;
        plainAcquisition(&ctrl, 110);
        bypassMinOffsetOf(a) = meanFrom(a, 18, 4, 18 + 4 * 619, reference);
        bypassMaxOffsetOf(a) = meanFrom(a, 20, 4, 20 + 4 * 619, reference);

        // Phases, at the measurement time bases of sup2us, equ2us, inf2us.
        int failures = 0;
        const uint16_t timeBases[3] = {13, 10, 9};
        for (int group = 0; group < 3; ++group) {
            ctrl.timeBase = timeBases[group];
            ctrl.acqFlags = 33;
            ctrl.postTrigger = 1250;
            ctrl.preTrigger = 2500;
            ChipAcqIoctl(CHIPACQ_CALIBRATION, &ctrl);
            acquireUntilDone(&ctrl, &failures);
            phaseMeans(a, reference, matriceOffsetsOf(a, group));
        }
        ctrl.timeBase = 13;
        ctrl.acqFlags = 37;
        ChipAcqIoctl(CHIPACQ_CALIBRATION, &ctrl);
        acquireUntilDone(&ctrl, &failures);
        phaseMeans(a, reference, matriceOffsetsOf(a, 3));
        return 0;
    } catch (int) {
        return -1;
    }
}
