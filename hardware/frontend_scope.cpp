// Scope front end: setup parameters into the channels' front-end scaling parameters.
#include "hardware/frontend_scope.h"

#include "acquisition/TFonction.h"
#include "acquisition/acqctrl.h"
#include "board/deviceio.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/scale.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/fpga.h"
#include "hardware/frontend.h"
#include "hardware/frontend_meter.h"
#include "hardware/kalvex.h"
#include "hardware/scaling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>

bool b_g_frontendInitialized = false;

const uint16_t to_l_voltParams[16][6] = {
    {14, 7, 4, 8, 7, 62}, {14, 7, 4, 4, 3, 59}, {14, 7, 4, 2, 2, 57}, {14, 7, 2, 2, 2, 50},
    {14, 7, 2, 1, 0, 31}, {14, 7, 1, 1, 0, 0},  {13, 6, 4, 2, 2, 57}, {13, 6, 4, 1, 1, 47},
    {13, 6, 2, 1, 0, 31}, {13, 6, 1, 1, 1, 0},  {11, 4, 4, 1, 0, 47}, {11, 4, 2, 1, 0, 31},
    {11, 4, 1, 1, 0, 0},  {7, 0, 4, 1, 0, 47},  {7, 0, 2, 1, 0, 31},  {7, 0, 1, 1, 0, 0},
};

const uint16_t tus_l_bwlState60MHz[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1};
const uint16_t tus_l_bwlState100MHz[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1};
const uint16_t tus_l_bwlState300MHz[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1};

namespace {

// Bandwidth-limit enable per sensitivity index, by bandwidth variant.
const uint16_t tus_l_bwleState60MHz[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
const uint16_t tus_l_bwleState100MHz[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
const uint16_t tus_l_bwleState300MHz[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};

constexpr uint16_t kFlagsBoth = SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER;
constexpr int kVoltParamNumbers[6] = {24, 27, 35, 33, 34, 56};

bool validChannel(int channel) { return channel >= 0 && channel < kScalingChannels; }

void setParam(uint16_t channel, int parameter, uint16_t value, uint16_t flags)
{
    to_g_scalingParams[channel][parameter] = value;
    ScalingWrite(channel, to_g_scalingParams[channel], static_cast<int16_t>(parameter), flags);
}

// floor(a / b) for b > 0.
int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b) != 0 && a < 0)
        --q;
    return q;
}

uint16_t clamp10(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 1023)); }

const uint16_t* autoBwlTable()
{
    switch (EtatLogique(ETAT_BANDWIDTH_VARIANT)) {
    case 3: return tus_l_bwlState60MHz;
    case 2: return tus_l_bwlState100MHz;
    default: return tus_l_bwlState300MHz;
    }
}

// The comparator channel of a trigger source; -1 when it has none.
int comparatorChannel(int source)
{
    if (source >= 0 && source <= 4)
        return source == 4 ? 0 : source;
    if (source == 5 || source == 6)
        return 3;
    return -1;
}

// The channel's smart-probe correction; false when it has none.
bool probeCorrection(int channel, double* gain, double* offset)
{
    if (!validChannel(channel))
        return false;
    const std::shared_ptr<TKalvex> probe = smartProbeLink(channel);
    return probe && probe->getCorrection(gain, offset) == 0;
}

TAcquisition* channelTraceOf(int channel)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const traces[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return traces[channel];
}

bool mathDefined(int channel)
{
    TFonction* const functions[4] = {setupLinks().mathFunctionCh1, setupLinks().mathFunctionCh2,
                                     setupLinks().mathFunctionCh3, setupLinks().mathFunctionCh4};
    return functions[channel] != nullptr && functions[channel]->IsDefined();
}

// The setup entries of channel 0..3.
struct TChannelSetup {
    int16_t offset, coupling, sensitivity, trigLevel, trigEdge, trigCoupling, noiseReject;
    int32_t bwLimit;
};

TChannelSetup channelSetup(int channel)
{
    const database& d = data;
    switch (channel) {
    case 0: return {d.offsetCh1, d.couplingCh1, d.sensitivityCh1, d.trigLevelCh1, d.trigEdgeCh1, d.trigCouplingCh1, d.noiseRejectCh1, d.bwLimitCh1};
    case 1: return {d.offsetCh2, d.couplingCh2, d.sensitivityCh2, d.trigLevelCh2, d.trigEdgeCh2, d.trigCouplingCh2, d.noiseRejectCh2, d.bwLimitCh2};
    case 2: return {d.offsetCh3, d.couplingCh3, d.sensitivityCh3, d.trigLevelCh3, d.trigEdgeCh3, d.trigCouplingCh3, d.noiseRejectCh3, d.bwLimitCh3};
    default: return {d.offsetCh4, d.couplingCh4, d.sensitivityCh4, d.trigLevelCh4, d.trigEdgeCh4, d.trigCouplingCh4, d.noiseRejectCh4, d.bwLimitCh4};
    }
}

bool filterPasses(int channel)
{
    const int source = data.trigSource;
    if (channel == source || (channel == 5 && source == 6))
        return true;
    return (data.trigType == 2 || data.trigType == 3) && channel == data.qualifSource;
}

// FrontTrigger and HysteresisTrigger act on any source with trigger types 0 and 1.
bool ownGuardPasses(int source)
{
    if (data.trigType == 0 || data.trigType == 1)
        return true;
    if (source == data.trigSource)
        return true;
    return (data.trigType == 2 || data.trigType == 3) && source == data.qualifSource;
}

void channelCouplage(int channel)
{
    const TChannelSetup s = channelSetup(channel);
    CouplageBwlVertical(channel, s.sensitivity, s.coupling, s.bwLimit, data.userTimeBase);
}

void channelPosition(int channel)
{
    if (!mathDefined(channel))
        PositionVerticale(channel, channelSetup(channel).offset);
}

void channelSensitivityStep(int channel, calibration* calib)
{
    SetSensitivityCalibr(channel, channelSetup(channel).sensitivity, calib);
    channelCouplage(channel);
    channelPosition(channel);
}

} // namespace

uint16_t getBwleState(int sensitivity, bool slow, unsigned short minMax)
{
    if (minMax == 0 && slow)
        return 1;
    if (sensitivity < 0 || sensitivity > 15)
        return 0;
    switch (EtatLogique(ETAT_BANDWIDTH_VARIANT)) {
    case 3: return tus_l_bwleState60MHz[sensitivity];
    case 2: return tus_l_bwleState100MHz[sensitivity];
    default: return tus_l_bwleState300MHz[sensitivity];
    }
}

void FrontEndInit(calibration* calib)
{
    registerPowerOffUndo("front end", [] {
        FrontEndEnd();
        return true;
    });
    if (!b_g_frontendInitialized) {
        ScalingInit();
        b_g_frontendInitialized = true;
    }
    ConfigurationScope(calib);
}

void FrontEndEnd()
{
    pthread_mutex_lock(&exclusionScalingIO);
    b_g_frontendInitialized = false;
    std::memset(to_g_scalingParams, 0, sizeof to_g_scalingParams);
    std::memset(tus_g_scalingPseudoReg, 0, sizeof tus_g_scalingPseudoReg);
    std::memset(o_g_scalingParamsCalibration, 0, sizeof o_g_scalingParamsCalibration);
    pthread_mutex_unlock(&exclusionScalingIO);
}

void ChannelReferenceTrims(uint16_t ch, uint16_t* set, const calibration* calib)
{
    if (calib == nullptr)
        return;
    set[16] = calib->vosBf1[ch];
    set[1] = calib->pipelineTrim[ch];
    set[4] = calib->ref2Vp[ch];
    set[8] = calib->ref2Vn[ch];
}

void ConfigurationScope(calibration* calib)
{
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        uint16_t* set = to_g_scalingParams[ch];
        ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, set);
        ScalingWrite(ch, set, 23, kFlagsBoth);
        MMRelaisCourant(ch, false);
        ChannelReferenceTrims(ch, set, calib);
        if (calib != nullptr)
            set[39] = calib->trimP39[ch];
        ScalingWrite(ch, set, 0, kFlagsBoth);
    }
}

void SetSensitivity(uint16_t channel, int16_t sensitivity, uint16_t* set)
{
    if (!validChannel(channel) || sensitivity < 0 || sensitivity > 15 || set == nullptr)
        return;
    for (int i = 0; i < 6; ++i)
        set[kVoltParamNumbers[i]] = to_l_voltParams[sensitivity][i];
    for (int i = 0; i < 6; ++i) {
        const uint16_t flags = i == 0 ? SCALING_HOLD_BEFORE : i == 5 ? SCALING_RELEASE_AFTER : 0;
        ScalingWrite(channel, set, static_cast<int16_t>(kVoltParamNumbers[i]), flags);
    }
}

void SetSensitivityCalibr(uint16_t channel, int16_t sensitivity, calibration* calib)
{
    if (!validChannel(channel) || sensitivity < 0 || sensitivity > 15)
        return;
    SetSensitivity(channel, sensitivity, to_g_scalingParams[channel]);
    setParam(channel, 42, 1, SCALING_HOLD_BEFORE);
    SensitivityTrims(channel, sensitivity, calib, 0);
}

void SensitivityTrims(uint16_t channel, int16_t sensitivity, calibration* calib, uint16_t lastFlags)
{
    if (!validChannel(channel) || sensitivity < 0 || sensitivity > 15 || calib == nullptr)
        return;
    const int s = sensitivity;
    const struct {
        int parameter;
        uint8_t value;
    } trims[] = {
        {25, calib->vosBf2[channel][s]},  {29, calib->vosGp[channel][s]},   {22, calib->trimP22[channel][s]},
        {21, calib->trimP21[channel][s]}, {52, calib->trimP52[channel][s]}, {53, calib->trimP53[channel][s]},
        {54, calib->trimP54[channel][s]}, {30, calib->trimP30[channel][s]}, {70, calib->trimP70[channel][s]},
        {71, calib->trimP71[channel][s]}, {43, calib->trimP43[channel][s]}, {60, calib->trimP60[channel][s]},
        {61, calib->trimP61[channel][s]},
    };
    for (const auto& trim : trims)
        setParam(channel, trim.parameter, trim.value, &trim == &trims[12] ? lastFlags : 0);
}

void PositionVerticale(uint16_t channel, int16_t position)
{
    if (!validChannel(channel))
        return;
    int64_t pos = position;
    double gain = 1.0, offset = 0.0;
    if (probeCorrection(channel, &gain, &offset))
        pos = static_cast<int64_t>(pos * std::fabs(gain));
    setParam(channel, 18, clamp10(512 - floorDiv(pos * 8192, 20000)), kFlagsBoth);
}

float GetVertPositionError(uint16_t channel, int16_t position)
{
    if (!validChannel(channel))
        return 0.0f;
    const int64_t steps = floorDiv(int64_t{position} * 8192, 20000);
    return static_cast<float>(position - static_cast<double>(steps) * 20000.0 / 8184.0);
}

void CouplageBwlVertical(uint16_t channel, int16_t sensitivity, int16_t coupling, int32_t bwLimit, int16_t timeBase)
{
    if (!validChannel(channel))
        return;
    uint16_t code = 1, limit = 0, strong = 0;
    switch (bwLimit) {
    case 1: break;
    case 2: limit = 1; break;
    case 3: limit = 1; strong = 1; break;
    default: code = sensitivity >= 0 && sensitivity <= 15 ? autoBwlTable()[sensitivity] : 0; break;
    }
    const uint16_t state = getBwleState(sensitivity, timeBase > 17, static_cast<unsigned short>(data.minMax));
    uint16_t* set = to_g_scalingParams[channel];
    uint16_t p3 = 0, p20 = strong, p32 = code, p31 = limit, p13 = 0;
    if (coupling == 0)
        p3 = 1;
    else if (coupling == 2)
        p20 = p32 = p31 = p13 = 1;
    uint16_t* const initWords[4] = {&pseudoInitCh1, &pseudoInitCh2, &pseudoInitCh3, &pseudoInitCh4};
    *initWords[channel] = coupling == 2 ? 64 : 0;
    if (EtatLogique(ETAT_BOARD_CODE) != 0)
        p13 = set[13];
    setParam(channel, 32, p32, SCALING_HOLD_BEFORE);
    setParam(channel, 57, state, 0);
    setParam(channel, 31, p31, 0);
    setParam(channel, 20, p20, 0);
    setParam(channel, 13, p13, 0);
    setParam(channel, 3, p3, SCALING_RELEASE_AFTER);
}

void SourceTrigger(int16_t qualifier, int16_t source)
{
    const bool none = qualifier == kNoTriggerSource || source == kNoTriggerSource;
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        const bool used = ch == source || ch == qualifier;
        setParam(ch, 40, none || used ? 0 : 1, kFlagsBoth);
    }
}

void LevelTrigger(int16_t source, int16_t level, int16_t position, int16_t edge, int16_t coupling, int16_t hysteresis,
                  calibration* calib)
{
    const int channel = comparatorChannel(source);
    if (channel < 0)
        return;
    int64_t lvl = level, pos = position;
    double probeOffset = 0.0;
    double gain = 1.0, corrOffset = 0.0;
    if (source <= 3 && probeCorrection(source, &gain, &corrOffset)) {
        lvl = static_cast<int64_t>(lvl * std::fabs(gain));
        pos = static_cast<int64_t>(std::fabs(gain) * pos);
        // The channel's own scale (its probe coefficient included), as the correction takes it.
        const float scale = GetVerticalScale(channelTraceOf(source), SCALE_SCOPE, channelSetup(source).sensitivity);
        if (scale != 0.0f)
            probeOffset = corrOffset / scale;
    }
    if (source == 4) {
        lvl = 0;
        pos = 0;
    } else if (source <= 3) {
        lvl = -lvl;
    } else {
        pos = 0;
    }
    int16_t offset = 0;
    if (coupling == 1 || coupling == 3) {
        if (calib != nullptr)
            offset = edge == 1 ? calib->trigOffsetHigh13[channel] : calib->trigOffsetLow13[channel];
    } else {
        if (calib != nullptr)
            offset = edge == 1 ? calib->trigOffsetHigh02[channel] : calib->trigOffsetLow02[channel];
        pos = 0;
    }
    const double numerator = static_cast<double>((lvl - pos) * 8184) + probeOffset;
    int64_t u = static_cast<int64_t>(std::floor(numerator / 20000.0)) + offset;
    if (hysteresis)
        u += edge != 0 ? -25 : 25;
    setParam(channel, 19, clamp10(u + 511), kFlagsBoth);
}

void FrontTrigger(int16_t source, int16_t edge)
{
    const int channel = comparatorChannel(source);
    if (channel < 0 || !ownGuardPasses(source))
        return;
    const bool value = source >= 4 ? edge != 0 : edge == 0;
    setParam(channel, 41, value ? 1 : 0, kFlagsBoth);
}

void CouplageTrigger(int16_t source, int16_t coupling)
{
    const int channel = comparatorChannel(source);
    if (channel < 0)
        return;
    uint16_t code = 6;
    if (source != 4) {
        switch (coupling) {
        case 1: code = 1; break;
        case 2: code = 7; break;
        case 3: code = 13; break;
        default: break;
        }
    }
    setParam(channel, 38, code, kFlagsBoth);
}

void HysteresisTrigger(int16_t source, int16_t hysteresis)
{
    const int channel = comparatorChannel(source);
    if (channel < 0 || !ownGuardPasses(source))
        return;
    setParam(channel, 46, source == 4 || hysteresis == 1 ? 3 : 1, kFlagsBoth);
}

void TriggerSimulation(uint16_t source, uint16_t forward)
{
    const int16_t first = forward != 0 ? 0 : 1;
    FrontTrigger(static_cast<int16_t>(source), first);
    FrontTrigger(static_cast<int16_t>(source), static_cast<int16_t>(1 - first));
}

void LEVEL_TRIGGER(int16_t channel, calibration* calib)
{
    if (!validChannel(channel) || !filterPasses(channel))
        return;
    const TChannelSetup s = channelSetup(channel);
    LevelTrigger(channel, s.trigLevel, s.offset, s.trigEdge, s.trigCoupling, s.noiseReject, calib);
}

void FRONT_TRIGGER(int16_t channel)
{
    if (validChannel(channel) && filterPasses(channel))
        FrontTrigger(channel, channelSetup(channel).trigEdge);
}

void COUPLAGE_TRIGGER(int16_t channel)
{
    if (validChannel(channel) && filterPasses(channel))
        CouplageTrigger(channel, channelSetup(channel).trigCoupling);
}

void HYSTERESIS_TRIGGER(int16_t channel)
{
    if (validChannel(channel) && filterPasses(channel))
        HysteresisTrigger(channel, channelSetup(channel).noiseReject);
}

void OverscanSet(uint16_t channel, int16_t high, int16_t low)
{
    if (!validChannel(channel))
        return;
    // 16-bit thresholds; the register fields keep the low 10 bits.
    const auto threshold = [](int16_t x) {
        return static_cast<uint16_t>(floorDiv(int64_t{x} * 8184, 20000) + 511);
    };
    setParam(channel, 40, 0, SCALING_HOLD_BEFORE);
    setParam(channel, 41, 1, 0);
    setParam(channel, 19, threshold(high), 0);
    setParam(channel, 67, 0, 0);
    setParam(channel, 66, threshold(low), 0);
    setParam(channel, 68, 0, 0);
    setParam(channel, 46, 1, 0);
    setParam(channel, 63, 1, 0);
    setParam(channel, 64, 1, SCALING_RELEASE_AFTER);
}

void OverscanReset(uint16_t channel)
{
    if (!validChannel(channel))
        return;
    setParam(channel, 40, 0, SCALING_HOLD_BEFORE);
    setParam(channel, 41, 1, 0);
    setParam(channel, 19, 511, 0);
    setParam(channel, 67, 1, 0);
    setParam(channel, 46, 1, 0);
    setParam(channel, 64, 0, 0);
    setParam(channel, 63, 0, SCALING_RELEASE_AFTER);
}

int OverscanTest(uint16_t channel, float seconds)
{
    if (!validChannel(channel))
        return 0;
    ChipAcqIoctl(CHIPACQ_AUTOSET, nullptr);
    TFpga::setSpiRegister(36, 0x11u << channel);
    const int fd = deviceIO().open("/dev/input/event2", O_RDONLY);
    if (fd < 0)
        return 0;
    setParam(channel, 44, 0, kFlagsBoth);
    int result = 0;
    const double wantedMs = std::isfinite(seconds) ? std::ceil(static_cast<double>(seconds) * 1000.0) : 10.0;
    const int timeoutMs = static_cast<int>(std::clamp(wantedMs, 10.0, 3600000.0));
    pollfd pfd{fd, POLLIN, 0};
    // A failed wait counts as no event.
    if (deviceIO().poll(&pfd, 1, timeoutMs) > 0 && (pfd.revents & POLLIN) != 0) {
        input_event event{};
        deviceIO().read(fd, &event, sizeof event);
        const uint32_t latched = TFpga::getSpiRegister(40);
        if (latched & 0xF0u)
            result += 2;
        if (latched & 0x0Fu)
            result += 1;
    }
    TFpga::setSpiRegister(36, 0);
    TFpga::getSpiRegister(40);
    setParam(channel, 44, 1, kFlagsBoth);
    deviceIO().close(fd);
    return result;
}

void ProgScalingsPowerDown(uint16_t)
{
}

void ProgramFE(int32_t parameter, acq_ctrl* ctrl, calibration* calib)
{
    using namespace param;
    switch (parameter) {
    case channelFlags: case traceOnCh1: case traceOnCh2: case traceOnCh3: case traceOnCh4: case autosetRequest: case 29:
    case instrumentMode: case mathFunctionCh1: case mathFunctionCh2: case mathFunctionCh3: case mathFunctionCh4:
    case trigSource: case meterFunction: case qualifSource: case trigType:
        if (ctrl != nullptr && data.instrumentMode != 0x8000)
            ctrl->poweredChannels = AlimentationVoies(&data);
        break;
    default: break;
    }
    const uint16_t mode = data.instrumentMode;
    if (parameter == -1) {
        for (uint16_t ch = 0; ch < kScalingChannels; ++ch)
            ScalingWrite(ch, nullptr, 0, kFlagsBoth | SCALING_FROM_SHADOW);
        if (mode >= 128 && mode <= 130)
            ProgramFE_Meter(-1, ctrl, calib);
        else if (mode == 0x8000)
            AlimentationVoies(0u);
        return;
    }
    if (mode == 64)
        ProgramFE_Harmonic(parameter, ctrl, calib);
    else if (mode >= 128 && mode <= 130)
        ProgramFE_Meter(parameter, ctrl, calib);
    else if (mode == 0x8000)
        AlimentationVoies(0u);
    else
        ProgramFE_Scope(parameter, ctrl, calib);
}

namespace {

void allTracesStep(calibration* calib)
{
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        ScalingWrite(ch, to_g_scalingParams[ch], 0, kFlagsBoth);
        if (ch == 0)
            MMRelaisCourant(0, false);
        COUPLAGE_TRIGGER(ch);
        LEVEL_TRIGGER(ch, calib);
        FRONT_TRIGGER(ch);
        HYSTERESIS_TRIGGER(ch);
    }
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch)
        channelSensitivityStep(ch, calib);
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        channelPosition(ch);
        LEVEL_TRIGGER(ch, calib);
    }
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch)
        channelCouplage(ch);
}

void sourceStep(calibration* calib)
{
    SourceTrigger(data.qualifSource, data.trigSource);
    allTracesStep(calib);
}

} // namespace

void ProgramFE_Scope(int32_t parameter, acq_ctrl*, calibration* calib)
{
    using namespace param;
    switch (parameter) {
    case offsetCh1: case offsetCh2: case offsetCh3: case offsetCh4: {
        const int ch = parameter - offsetCh1;
        channelPosition(ch);
        LEVEL_TRIGGER(ch, calib);
        return;
    }
    case couplingCh1: case sensitivityCh1: channelSensitivityStep(0, calib); return;
    case couplingCh2: case sensitivityCh2: channelSensitivityStep(1, calib); return;
    case couplingCh3: case sensitivityCh3: channelSensitivityStep(2, calib); return;
    case couplingCh4: case sensitivityCh4: channelSensitivityStep(3, calib); return;
    case autosetRequest: case 29: case instrumentMode: case calibrationWrite:
        ConfigurationScope(calib);
        pauseMs(200);
        sourceStep(calib);
        return;
    case channelFlags: case trigSource: case qualifSource: case trigType: sourceStep(calib); return;
    case traceOnCh1: case traceOnCh2: case traceOnCh3: case traceOnCh4:
    case mathFunctionCh1: case mathFunctionCh2: case mathFunctionCh3: case mathFunctionCh4: allTracesStep(calib); return;
    case minMax: case timeBaseIndex:
        for (int ch = 0; ch < kScalingChannels; ++ch)
            channelCouplage(ch);
        return;
    case bwLimitCh1: case bwLimitCh2: case bwLimitCh3: case bwLimitCh4: channelCouplage(parameter - bwLimitCh1); return;
    case trigLevelCh1: case trigLevelCh2: case trigLevelCh3: case trigLevelCh4:
        LEVEL_TRIGGER(static_cast<int16_t>(parameter - trigLevelCh1), calib);
        return;
    default: break;
    }
    int ch = -1;
    if (parameter >= trigCouplingCh1 && parameter <= trigCouplingCh1 + 3)
        ch = parameter - trigCouplingCh1;
    else if (parameter >= trigEdgeCh1 && parameter <= trigEdgeCh1 + 3)
        ch = parameter - trigEdgeCh1;
    else if (parameter >= noiseRejectCh1 && parameter <= noiseRejectCh1 + 3)
        ch = parameter - noiseRejectCh1;
    if (ch < 0)
        return;
    FRONT_TRIGGER(static_cast<int16_t>(ch));
    COUPLAGE_TRIGGER(static_cast<int16_t>(ch));
    HYSTERESIS_TRIGGER(static_cast<int16_t>(ch));
    LEVEL_TRIGGER(static_cast<int16_t>(ch), calib);
}
