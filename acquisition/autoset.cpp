// Autoset: the overscan detector finds the sensitivity and the position of each channel, the
// frequency counter behind the channel's trigger comparator its period.
#include "acquisition/autoset.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/setup_consistency.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"
#include "hardware/frequencemeter.h"
#include "hardware/frontend.h"

#include <cmath>
#include <cstring>

bool (*autosetObserver)(const TAutosetCall&, bool*) = nullptr;

const uint16_t tus_l_selClkFqPr[kAutosetCounterRanges] = {4, 8, 12, 16, 20, 24, 28};
const uint32_t tul_l_countDuration[kAutosetCounterRanges] = {540000, 34000, 2200, 85000, 18000, 1200, 1200};
const float tf_l_periodIdeal[kAutosetTimeBases] = {
    3.333e-9f, 6.667e-9f, 1.667e-8f, 3.333e-8f, 6.667e-8f, 1.667e-7f, 3.333e-7f, 6.667e-7f,
    1.667e-6f, 3.333e-6f, 6.667e-6f, 1.667e-5f, 3.333e-5f, 6.667e-5f, 1.667e-4f, 3.333e-4f,
    6.667e-4f, 1.667e-3f, 3.333e-3f, 6.667e-3f, 0.01667f,  0.03333f,  0.06667f,  0.1667f,
};
const int16_t ts_g_cadrageFft[16] = {625, 500, 500, 375, 250, 250, 125, 0, 0, -125, -250, -250, -375, -500, -500, -625};

namespace {

// Counter units: ranges 0-2 count units per period, ranges 3-6 periods per unit.
constexpr double kCounterUnits[kAutosetCounterRanges] = {8.192e-6, 5.12e-7, 3.2e-8, 0.0335544,
                                                         0.002097152, 1.31072e-4, 6.5536e-5};
constexpr uint32_t kCountLow = 80;
constexpr uint32_t kCountHigh = 16384;

// Serial opcodes and data words of the counter sequence (raw words of the data register).
constexpr uint16_t kOpInit = 0x0C1;
constexpr uint16_t kOpOnOff = 0x0C2;
constexpr uint16_t kOpCounterMode = 0x0C7;
constexpr uint16_t kOpCounterGray = 0x0C6;
constexpr uint16_t kOpSelection = 0x0CE;
constexpr uint16_t kOpCounterRead = 0x1CF;
constexpr uint16_t kWordInit = 68;
constexpr uint16_t kWordStart = 80;
constexpr uint16_t kWordOff = 18920;
constexpr uint16_t kWordOn = 18922;
constexpr uint16_t kCounterMode = 2;

constexpr unsigned short kSpiQuality = 32;
constexpr unsigned short kSpiOverscan = 40;
constexpr unsigned short kSpiCounterClear = 56;
constexpr unsigned short kSpiAcknowledge = 64;

constexpr int16_t kSearchWindow = 437;
constexpr int16_t kCadrageWindow = 500;
constexpr float kSearchWatch = 0.06666667f;
constexpr uint16_t kSearchTimeBase = 22;
constexpr int16_t kPresenceStep = 40;
constexpr int16_t kClassStep = 250;
constexpr int16_t kClassLevel = 75;
constexpr int16_t kCoarseFirst = -1250;
constexpr int16_t kCoarseEnd = 1500;
constexpr int16_t kCoarseStep = 250;
constexpr int16_t kFineStep = 62;
constexpr int16_t kStartSensitivity = 15;
constexpr int16_t kCouplingAc = 0;
constexpr int16_t kCouplingDc = 1;
constexpr int32_t kBwAuto = 0;
constexpr int16_t kSearchBwTimeBase = 18;
constexpr int kSettleMs = 500;

calibration* calib() { return &param_calibr; }

// The setup fields of one channel.
struct TChannelFields {
    int16_t& trigLevel;
    int16_t& offset;
    int16_t& coupling;
    int16_t& sensitivity;
    uint8_t& traceOn;
    int16_t& trigCoupling;
    int32_t& bwLimit;
    uint8_t& memoryTrace;
    uint8_t& refShown;
    int16_t& fftOffset;
    float& probeCoeff;
};

TChannelFields fieldsOf(database& d, int ch)
{
    switch (ch) {
    case 0:
        return {d.trigLevelCh1, d.offsetCh1, d.couplingCh1, d.sensitivityCh1, d.traceOnCh1, d.trigCouplingCh1,
                d.bwLimitCh1, d.memoryTraceCh1, d.refShownCh1, d.fftOffsetCh1, d.probeCoeffCh1};
    case 1:
        return {d.trigLevelCh2, d.offsetCh2, d.couplingCh2, d.sensitivityCh2, d.traceOnCh2, d.trigCouplingCh2,
                d.bwLimitCh2, d.memoryTraceCh2, d.refShownCh2, d.fftOffsetCh2, d.probeCoeffCh2};
    case 2:
        return {d.trigLevelCh3, d.offsetCh3, d.couplingCh3, d.sensitivityCh3, d.traceOnCh3, d.trigCouplingCh3,
                d.bwLimitCh3, d.memoryTraceCh3, d.refShownCh3, d.fftOffsetCh3, d.probeCoeffCh3};
    default:
        return {d.trigLevelCh4, d.offsetCh4, d.couplingCh4, d.sensitivityCh4, d.traceOnCh4, d.trigCouplingCh4,
                d.bwLimitCh4, d.memoryTraceCh4, d.refShownCh4, d.fftOffsetCh4, d.probeCoeffCh4};
    }
}

int16_t highestSensitivity(int ch)
{
    const int16_t limits[4] = {max_par.sensitivityCh1, max_par.sensitivityCh2, max_par.sensitivityCh3,
                               max_par.sensitivityCh4};
    return limits[ch];
}

TFonction* mathFunction(int ch)
{
    TFonction* const f[4] = {setupLinks().mathFunctionCh1, setupLinks().mathFunctionCh2,
                             setupLinks().mathFunctionCh3, setupLinks().mathFunctionCh4};
    return f[ch];
}

TAcquisition* trace(int ch)
{
    TAcquisition* const t[4] = {setupLinks().acqCh1, setupLinks().acqCh2, setupLinks().acqCh3, setupLinks().acqCh4};
    return t[ch];
}

void undefineMath(int ch)
{
    if (TFonction* f = mathFunction(ch))
        f->RAZ();
}

bool observed(const char* function, unsigned short argument, bool* result)
{
    return autosetObserver != nullptr && autosetObserver(TAutosetCall{function, argument}, result);
}

int pauseForMicroseconds(uint32_t us)
{
    return static_cast<int>((us + 999) / 1000);
}

// A channel at a sensitivity with the search's coupling words, triggered in DC without
// hysteresis.
void searchStart(uint16_t ch)
{
    SetSensitivityCalibr(ch, kStartSensitivity, calib());
    CouplageBwlVertical(ch, kStartSensitivity, kCouplingAc, kBwAuto, kSearchBwTimeBase);
    CouplageTrigger(static_cast<int16_t>(ch), 1);
    HysteresisTrigger(static_cast<int16_t>(ch), 0);
}

// The found settings of a channel into the setup. channel1Guard: channel 1 keeps its trigger
// level in trigger coupling 2.
void writeChannel(int ch, const TAutosetParams& p, bool channel1Guard)
{
    TChannelFields f = fieldsOf(data, ch);
    if (!(channel1Guard && ch == 0 && f.trigCoupling == 2))
        f.trigLevel = p.triggerLevel;
    if (f.trigCoupling == 2)
        f.trigCoupling = 0;
    if (f.trigCoupling == 1 || f.trigCoupling == 3)
        f.trigLevel = static_cast<int16_t>(p.triggerLevel - p.position);
    f.offset = p.position;
    f.coupling = p.coupling;
    f.sensitivity = static_cast<int16_t>(p.sensitivity);
    f.traceOn = 1;
    undefineMath(ch);
    if (TAcquisition* t = trace(ch))
        t->SetIdentifier(static_cast<unsigned short>(1u << ch));
}

void fftOffsets()
{
    for (int ch = 0; ch < 4; ++ch) {
        TChannelFields f = fieldsOf(data, ch);
        // A coefficient that is not a positive number counts as 1.
        const double coeff = std::isfinite(f.probeCoeff) && f.probeCoeff > 0.0f ? f.probeCoeff : 1.0;
        const int index = f.sensitivity < 0 ? 0 : f.sensitivity > 15 ? 15 : f.sensitivity;
        f.fftOffset = static_cast<int16_t>(ts_g_cadrageFft[index] - static_cast<int>(std::log10(coeff) * 1000.0 * 0.25));
    }
}

// Parameters that an autoset brings back to their defaults.
constexpr int kScopeDefaults[] = {
    param::trigType, param::trigEdgeCh1, param::trigEdgeCh2, param::trigEdgeCh3, param::trigEdgeCh4,
    param::noiseRejectCh1, param::noiseRejectCh2, param::noiseRejectCh3, param::noiseRejectCh4,
    param::zoomState, param::zoomWidth, param::horizPosition, param::sweepOffset, param::repSig,
    param::trigHoldoff, param::traceMode, param::minMax, param::bwLimitCh1, param::bwLimitCh2,
    param::bwLimitCh3, param::bwLimitCh4, param::traceFormat, param::refCapture, param::trigMode,
    param::channelFlags, param::traceOnCh1, param::traceOnCh2, param::traceOnCh3, param::traceOnCh4,
    param::memoryTraceCh1, param::memoryTraceCh2, param::memoryTraceCh3, param::memoryTraceCh4,
    param::refShownCh1, param::refShownCh2, param::refShownCh3, param::refShownCh4, param::vZoomFactor,
    param::vZoomPosition, param::xyZoomFactor, param::xyZoomPosition, param::averageCount,
};
constexpr int kVerticalDefaults[] = {
    param::xyZoomPosition, param::zoomWidth, param::traceFormat, param::zoomState, param::minMax,
    param::traceMode, param::horizPosition, param::vZoomFactor, param::vZoomPosition, param::xyZoomFactor,
    param::averageCount,
};
constexpr int kFftZoomDefaults[] = {param::fftZoomWidth, param::fftZoomState};

template <size_t N>
void restoreDefaults(const int (&parameters)[N])
{
    for (int p : parameters)
        std::memcpy(reinterpret_cast<char*>(&data) + adr_par[p], reinterpret_cast<const char*>(&init_par) + adr_par[p],
                    type_par[p]);
}

// The result of OverscanTest at a position.
int overscanAt(uint16_t ch, int16_t position, float watch)
{
    PositionVerticale(ch, position);
    return OverscanTest(ch, watch);
}

// From start by kFineStep: the first position whose result differs from start's, while the
// position stays at or below last; false when none does.
bool fineSweep(uint16_t ch, int start, int last, float watch, int* found)
{
    const int first = overscanAt(ch, static_cast<int16_t>(start), watch);
    for (int pos = start + kFineStep; pos <= last; pos += kFineStep) {
        if (overscanAt(ch, static_cast<int16_t>(pos), watch) != first) {
            *found = pos;
            return true;
        }
    }
    return false;
}

bool scopeAutoset(unsigned short which)
{
    if (which > 4)
        return false;
    AlimentationVoies(8191);
    feSerialSendData(FE_ALL_CHANNELS, kOpInit, kWordInit);
    ConfigurationScope(calib());
    for (uint16_t ch = 0; ch < 4; ++ch)
        searchStart(ch);
    pauseMs(kSettleMs);
    ChipAcqIoctl(CHIPACQ_AUTOSET, nullptr);

    TAutosetParams p[4];
    for (uint16_t ch = 0; ch < 4; ++ch) {
        if ((data.hwChannelMask & (1u << ch)) == 0)
            continue;
        if (!AutosetSensibilite(ch, &p[ch]) || !AutosetBdt(ch, &p[ch]))
            continue;
        p[ch].found = 1;
        if (fieldsOf(data, ch).coupling == 1)
            AutosetCadrage(ch, &p[ch]);
    }
    const int reference = which == 4 ? AutosetBestChannel(p) : (p[which].found ? which : -1);
    if (reference < 0)
        return false;

    restoreDefaults(kScopeDefaults);
    for (int ch = 0; ch < 4; ++ch)
        if (data.hwChannelMask & (1u << ch))
            undefineMath(ch);

    data.trigSource = static_cast<int16_t>(reference);
    data.timeBaseIndex = static_cast<int16_t>(p[reference].timeBase);
    SetUserTimeBase(static_cast<uint16_t>(data.timeBaseIndex));
    data.acqRunStop = 0;

    for (int ch = 0; ch < 4; ++ch)
        if (p[ch].found)
            writeChannel(ch, p[ch], true);
    return true;
}

} // namespace

bool AutosetCounterAccepts(int range, uint32_t v, uint32_t l, double* period)
{
    if (range < 0 || range >= kAutosetCounterRanges)
        return false;
    bool accepted;
    if (range <= 2)
        accepted = v != 0 && v != 1 && l >= kCountLow && l <= kCountHigh;
    else if (range <= 5)
        accepted = v > 9 && l >= kCountLow && l <= kCountHigh;
    else
        accepted = v > 9 && l >= kCountLow;
    if (accepted && period != nullptr)
        *period = range <= 2 ? l * kCounterUnits[range] : kCounterUnits[range] / l;
    return accepted;
}

void AutosetTimeBaseOf(double period, TAutosetParams* p)
{
    int below = 0;
    while (below < kAutosetTimeBases && static_cast<double>(tf_l_periodIdeal[below]) < period)
        ++below;
    p->timeBase = static_cast<uint16_t>(below);
    p->watchTime = tf_l_periodIdeal[below < kAutosetTimeBases ? below : kAutosetTimeBases - 1];
}

int AutosetBestChannel(const TAutosetParams (&p)[4])
{
    int best = -1;
    for (int ch = 0; ch < 4; ++ch)
        if (p[ch].found && (best < 0 || p[ch].timeBase >= p[best].timeBase))
            best = ch;
    return best;
}

bool AutosetSensibilite(uint16_t channel, TAutosetParams* p)
{
    *p = TAutosetParams{};
    p->timeBase = kSearchTimeBase;
    p->watchTime = kSearchWatch;
    if (channel > 3)
        return false;
    const int16_t highest = highestSensitivity(channel);

    OverscanSet(channel, kSearchWindow, -kSearchWindow);
    TFpga::getSpiRegister(kSpiOverscan);
    SetSensitivityCalibr(channel, 0, calib());
    PositionVerticale(channel, 0);

    bool ok = true;
    if (OverscanTest(channel, p->watchTime) != 0) {
        ok = false;
        while (static_cast<int>(p->sensitivity) < highest) {
            ++p->sensitivity;
            SetSensitivityCalibr(channel, static_cast<int16_t>(p->sensitivity), calib());
            if (OverscanTest(channel, p->watchTime) == 0) {
                ok = true;
                break;
            }
        }
    } else {
        // Inside at the most sensitive index: only a signal that reaches the window's edge
        // when moved a little counts as present.
        ok = (overscanAt(channel, kPresenceStep, p->watchTime) & 2) != 0
            || (overscanAt(channel, -kPresenceStep, p->watchTime) & 1) != 0;
    }
    if (ok) {
        const bool high = overscanAt(channel, kClassStep, p->watchTime) != 0;
        const bool low = overscanAt(channel, -kClassStep, p->watchTime) != 0;
        p->positionClass = high == low ? 2 : high ? 1 : 3;
    }
    OverscanReset(channel);
    PositionVerticale(channel, p->position);
    SetSensitivityCalibr(channel, static_cast<int16_t>(p->sensitivity), calib());
    return ok;
}

bool AutosetBdt(uint16_t channel, TAutosetParams* p)
{
    if (channel > 3)
        return false;
    p->triggerLevel = p->positionClass == 1 ? kClassLevel : p->positionClass == 3 ? -kClassLevel : 0;
    const auto source = static_cast<int16_t>(channel);
    ChipAcqIoctl(CHIPACQ_AUTOSET, nullptr);
    CouplageBwlVertical(channel, static_cast<int16_t>(p->sensitivity), kCouplingAc, kBwAuto, kSearchBwTimeBase);
    PositionVerticale(channel, 0);
    SourceTrigger(source, source);
    LevelTrigger(source, p->triggerLevel, 0, 0, 1, 0, calib());
    FrontTrigger(source, 0);

    const uint16_t own = feChannelMask(channel);
    feSerialSendData(FE_ALL_CHANNELS, kOpOnOff, kWordOff);
    feSerialSendData(own, kOpCounterMode, kCounterMode);
    feSerialSendData(own, kOpCounterGray, static_cast<uint16_t>(BinToGray(kCounterMode) << 1));
    feSerialSendData(own, kOpOnOff, kWordOn);

    bool found = false;
    for (int r = 0; r < kAutosetCounterRanges && !found; ++r) {
        feSerialSendData(FE_ALL_CHANNELS, kOpInit, kWordInit);
        TFpga::setSpiRegister(kSpiCounterClear, 0);
        feSerialSendData(own, kOpSelection, static_cast<uint16_t>((tus_l_selClkFqPr[r] | 1) << 1));
        feSerialSendData(FE_ALL_CHANNELS, kOpInit, kWordStart);
        TFpga::setSpiRegister(kSpiQuality, 0);
        pauseMs(pauseForMicroseconds(tul_l_countDuration[r]));
        const uint32_t v = (TFpga::getSpiRegister(kSpiQuality) >> (6 * channel + 4)) & 0x3F;
        const uint32_t l = GrayToBin(feSerialQuery(own, kOpCounterRead)) >> 8;
        found = AutosetCounterAccepts(r, v, l, &p->period);
    }
    if (found)
        AutosetTimeBaseOf(p->period, p);
    TFpga::setSpiRegister(kSpiAcknowledge, 0);
    return found;
}

bool AutosetCadrage(uint16_t channel, TAutosetParams* p)
{
    if (channel > 3)
        return false;
    const auto sensitivity = static_cast<int16_t>(p->sensitivity);
    OverscanSet(channel, kCadrageWindow, -kCadrageWindow);
    SetSensitivityCalibr(channel, sensitivity, calib());
    CouplageBwlVertical(channel, sensitivity, kCouplingDc, kBwAuto, kSearchBwTimeBase);

    // Coarse: the positions where the result changes, the signal's bottom and then its top
    // crossing the window's edges.
    int changes[2] = {0, 0};
    int seen = 0;
    int previous = overscanAt(channel, kCoarseFirst, p->watchTime);
    for (int pos = kCoarseFirst + kCoarseStep; pos < kCoarseEnd && seen < 2; pos += kCoarseStep) {
        const int result = overscanAt(channel, static_cast<int16_t>(pos), p->watchTime);
        if (result != previous)
            changes[seen++] = pos;
        previous = result;
    }
    int f1 = 0, f2 = 0;
    const bool ok = seen == 2
        && fineSweep(channel, changes[0] - kCoarseStep, changes[0] + kCoarseStep - 1, p->watchTime, &f1)
        && fineSweep(channel, changes[1] - kCoarseStep, changes[1], p->watchTime, &f2);
    if (ok) {
        p->position = static_cast<int16_t>((f1 + f2) / 2 - kFineStep);
        p->coupling = 1;
        SetSensitivityCalibr(channel, sensitivity, calib());
        PositionVerticale(channel, p->position);
    }
    OverscanReset(channel);
    return ok;
}

bool Autoset(unsigned short which)
{
    bool result = false;
    if (observed("Autoset", which, &result))
        return result;
    return scopeAutoset(which);
}

bool AutosetFft(unsigned short which)
{
    bool result = false;
    if (observed("AutosetFft", which, &result))
        return result;
    if (!scopeAutoset(which))
        return false;
    data.traceFormat = 1;
    restoreDefaults(kFftZoomDefaults);
    data.timeBaseIndex = static_cast<int16_t>(autosetFftTimeBase(static_cast<uint16_t>(data.timeBaseIndex)));
    SetUserTimeBase(static_cast<uint16_t>(data.timeBaseIndex));
    fftOffsets();
    return true;
}

bool AutosetVerticalFFT(unsigned short which)
{
    bool result = false;
    if (observed("AutosetVerticalFFT", which, &result))
        return result;
    if (!scopeAutoset(which))
        return false;
    restoreDefaults(kFftZoomDefaults);
    fftOffsets();
    return true;
}

bool AutosetVertical(unsigned short channel)
{
    bool result = false;
    if (observed("AutosetVertical", channel, &result))
        return result;
    if (channel > 3)
        return false;
    AlimentationVoies(8191);
    feSerialSendData(FE_ALL_CHANNELS, kOpInit, kWordInit);
    ChipAcqIoctl(CHIPACQ_AUTOSET, nullptr);
    searchStart(channel);
    pauseMs(kSettleMs);

    TAutosetParams p;
    if (!AutosetSensibilite(channel, &p))
        return false;
    if (fieldsOf(data, channel).coupling == 1) {
        AutosetBdt(channel, &p);
        AutosetCadrage(channel, &p);
    }
    writeChannel(channel, p, false);
    TChannelFields f = fieldsOf(data, channel);
    database defaults = init_par;
    const TChannelFields d = fieldsOf(defaults, channel);
    f.bwLimit = d.bwLimit;
    f.memoryTrace = d.memoryTrace;
    f.refShown = d.refShown;
    const auto bits = static_cast<uint16_t>(0x110u << channel);
    data.refCapture = static_cast<int16_t>(data.refCapture & ~bits);
    data.channelFlags = static_cast<uint16_t>(data.channelFlags & ~bits);
    restoreDefaults(kVerticalDefaults);
    SetUserTimeBase(static_cast<uint16_t>(data.timeBaseIndex));
    return true;
}
