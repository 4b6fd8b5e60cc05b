// Multimeter front end: the channels as voltmeters, channel 1 also as ohmmeter, continuity tester
// and diode tester behind its current relay; the offset-measurement set-up of the meter cycle;
// the meter programming by changed setup parameter.
#include "hardware/frontend_meter.h"

#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/frontend_capa.h"
#include "hardware/kalvex.h"

#include <memory>
#include "hardware/scaling.h"

#include <algorithm>

const int16_t Sensibilite[kMeterVoltageRanges] = {6, 9, 12, 15};

const uint8_t voltParams[kMeterVoltageRanges][6] = {
    {13, 6, 4, 2, 2, 59},
    {13, 6, 1, 1, 1, 31},
    {11, 4, 1, 1, 0, 31},
    {7, 0, 1, 1, 0, 31},
};

uint16_t tul_g_ctruOrg[4] = {0, 0, 0, 0};
uint16_t tul_g_VdcRejEnOrg[4] = {0, 0, 0, 0};
uint16_t tul_g_iGammeOrg[4] = {0, 0, 0, 0};
uint16_t tul_g_gndHfOrg[4] = {0, 0, 0, 0};

const TOhmParametres OhmParametres[kOhmRanges] = {
    {14, 0, 14, 7, 4, 8, 7, 62},
    {13, 0, 14, 7, 4, 8, 7, 62},
    {13, 7, 14, 7, 4, 1, 1, 47},
    {11, 6, 14, 7, 4, 2, 2, 57},
    {11, 15, 14, 7, 1, 1, 0, 0},
    {7, 7, 14, 7, 4, 1, 1, 47},
    {7, 15, 14, 7, 1, 1, 0, 0},
};

int16_t MeterRangeToScopeSensibility(int range)
{
    return range >= 0 && range < kMeterVoltageRanges ? Sensibilite[range] : -1;
}

int16_t OhmRangeToScopeSensibility(int range)
{
    return range >= 0 && range < kOhmRanges ? OhmParametres[range].sensitivity : -1;
}

void MMRelaisCourant(uint16_t channel, bool closed)
{
    if (channel != 0)
        return;
    uint16_t* set = to_g_scalingParams[0];
    set[17] = closed ? 1 : 0;
    ScalingWrite(0, set, 17, SCALING_HOLD_BEFORE);
    set[2] = 0;
    ScalingWrite(0, set, 2, 0);
    pauseMs(5);
    set[2] = 1;
    ScalingWrite(0, set, 2, SCALING_RELEASE_AFTER);
    pauseMs(2);
}

namespace {

constexpr uint16_t kFlagsBoth = SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER;
constexpr int kGainParams[6] = {24, 27, 35, 33, 34, 56};
constexpr int16_t kOhmmeterPosition = 562;
constexpr int kProgramSettleMs = 200;
constexpr int kCurrentOffSettleMs = 300;

bool validChannel(uint16_t channel) { return channel < kScalingChannels; }

void setParam(uint16_t channel, int parameter, uint16_t value, uint16_t flags)
{
    to_g_scalingParams[channel][parameter] = value;
    ScalingWrite(channel, to_g_scalingParams[channel], static_cast<int16_t>(parameter), flags);
}

// The six gain parameters of a row, held before the first and released after the last.
void writeGain(uint16_t channel, const uint8_t* row)
{
    for (int i = 0; i < 6; ++i)
        setParam(channel, kGainParams[i], row[i], i == 0 ? uint16_t{SCALING_HOLD_BEFORE} : i == 5 ? uint16_t{SCALING_RELEASE_AFTER} : uint16_t{0});
}

uint16_t* initWord(uint16_t channel)
{
    uint16_t* const words[4] = {&pseudoInitCh1, &pseudoInitCh2, &pseudoInitCh3, &pseudoInitCh4};
    return words[channel & 3];
}

int16_t clampRange(int16_t range, int16_t top) { return std::clamp<int16_t>(range, 0, top); }

int16_t meterRange(uint16_t channel)
{
    const int16_t r[4] = {data.meterRangeCh1, data.meterRangeCh2, data.meterRangeCh3, data.meterRangeCh4};
    return clampRange(r[channel], kMeterVoltageRanges - 1);
}

int16_t meterCoupling(uint16_t channel)
{
    const int16_t c[4] = {data.meterCouplingCh1, data.meterCouplingCh2, data.meterCouplingCh3, data.meterCouplingCh4};
    return c[channel];
}

// A smart probe with id 7 on the channel selects the meter range itself.
bool probeId7(uint16_t channel)
{
    const std::shared_ptr<TKalvex> probe = smartProbeLink(channel);
    unsigned short id = 0;
    return probe && probe->getId(nullptr, &id) == 0 && id == 7;
}

void channel1Setup(calibration* calib)
{
    ConfigurationMultimetre(calib, 1);
    switch (data.meterFunction) {
    case 1: ConfigurationOhmetre(0, calib); break;
    case 2: ConfigurationContinuite(0, calib); break;
    case 3: ConfigurationCapa(0, calib); break;
    case 4: ConfigurationDiode(0, calib); break;
    default: ConfigurationVoltmetre(0, calib, meterRange(0), data.meterCouplingCh1); break;
    }
}

void channel1RangeStep(calibration* calib)
{
    if (probeId7(0)) {
        MMGammeVoltmetre(0, meterRange(0), calib);
        return;
    }
    switch (data.meterFunction) {
    case 1: MMGammeOhmetre(0, data.ohmRange, calib); break;
    case 2: MMGammeOhmetre(0, 0, calib); break;
    case 3: MMGammeCapa(0, data.capaRange, calib); break;
    case 4: MMGammeVoltmetre(0, 1, calib); break;
    case 8: case 9: case 10: case 11:
        MMCouplageVertical(0, static_cast<int16_t>(data.meterCouplingCh1 & 0xC), 1);
        MMGammeVoltmetre(0, meterRange(0), calib);
        break;
    default:
        MMCouplageVertical(0, data.meterCouplingCh1, meterRange(0));
        MMGammeVoltmetre(0, meterRange(0), calib);
        break;
    }
}

void channelSetup(uint16_t channel, calibration* calib)
{
    ConfigurationMultimetre(calib, static_cast<uint16_t>(1u << channel));
    ConfigurationVoltmetre(channel, calib, meterRange(channel), meterCoupling(channel));
}

void channelRangeStep(uint16_t channel, calibration* calib)
{
    const int16_t function = data.meterFunction;
    const bool power = channel == 3 ? (function & 8) != 0 : function == 9;
    if (power)
        MMCouplageVertical(channel, static_cast<int16_t>(meterCoupling(channel) & 0xC), 1);
    else if (!probeId7(channel))
        MMCouplageVertical(channel, meterCoupling(channel), meterRange(channel));
    MMGammeVoltmetre(channel, meterRange(channel), calib);
}

void relayStep()
{
    switch (data.meterFunction) {
    case 1: case 2: case 3: MMRelaisCourant(0, true); break;
    case 4:
        MMRelaisCourant(0, true);
        setParam(0, 17, 0, kFlagsBoth);
        break;
    default: break;
    }
}

void ohmmeterSetup(uint16_t channel, calibration* calib, bool continuity)
{
    MMRelaisCourant(channel, true);
    PositionVerticale(channel, kOhmmeterPosition);
    setParam(channel, 15, 1, SCALING_HOLD_BEFORE);
    setParam(channel, 14, 0, 0);
    if (!continuity)
        setParam(channel, 20, 1, 0);
    setParam(channel, 9, 1, SCALING_RELEASE_AFTER);
    MMGammeOhmetre(channel, continuity ? 0 : data.ohmRange, calib);
}

} // namespace

void ConfigurationMultimetre(calibration* calib, uint16_t channelMask)
{
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        if (!(channelMask & (1u << ch)))
            continue;
        uint16_t* set = to_g_scalingParams[ch];
        ScalingLoadDefaults(SCALING_DEFAULTS_METER, set);
        ScalingWrite(ch, set, 23, kFlagsBoth);
        if (calib != nullptr) {
            set[16] = calib->vosBf1[ch];
            set[25] = calib->vosBf2Fill[ch];
            set[1] = calib->pipelineTrim[ch];
            set[4] = calib->ref2Vp[ch];
            set[8] = calib->ref2Vn[ch];
            set[39] = calib->trimP39[ch];
        }
        if (ch == 0)
            MMRelaisCourant(0, false);
        ScalingWrite(ch, set, 0, kFlagsBoth);
    }
    pseudoInitCh1 = pseudoInitCh2 = pseudoInitCh3 = pseudoInitCh4 = 0;
    ChipAcqIoctl(CHIPACQ_SCOPE, nullptr);
}

void MMCouplageVertical(uint16_t channel, int16_t coupling, int16_t range)
{
    if (!validChannel(channel))
        return;
    uint16_t p3 = 0, p14 = 0, p20 = 0;
    switch (coupling) {
    case 0: case 4: case 8: p3 = 1; p20 = coupling != 0 ? 1 : 0; break;
    case 1: case 5: p14 = clampRange(range, kMeterVoltageRanges - 1) <= 1 ? 2 : 1; break;
    case 2: case 6: case 10: p20 = coupling != 2 ? 1 : 0; break;
    default: break;
    }
    setParam(channel, 3, p3, SCALING_HOLD_BEFORE);
    setParam(channel, 14, p14, 0);
    setParam(channel, 20, p20, SCALING_RELEASE_AFTER);
}

void MMGammeVoltmetre(uint16_t channel, int16_t range, calibration* calib)
{
    if (!validChannel(channel) || range < 0 || range >= kMeterVoltageRanges)
        return;
    writeGain(channel, voltParams[range]);
    // Without a calibration record there are no trims to release the relay word after.
    setParam(channel, 42, 1, calib != nullptr ? uint16_t{SCALING_HOLD_BEFORE} : kFlagsBoth);
    SensitivityTrims(channel, Sensibilite[range], calib, SCALING_RELEASE_AFTER);
}

void MMGammeOhmetre(uint16_t channel, int16_t range, calibration* calib)
{
    if (!validChannel(channel))
        return;
    const TOhmParametres& row = OhmParametres[clampRange(range, kOhmRanges - 1)];
    const int s = row.sensitivity;
    setParam(channel, 5, row.currentCode, SCALING_HOLD_BEFORE);
    if (calib != nullptr) {
        setParam(channel, 25, calib->vosBf2[channel][s], 0);
        setParam(channel, 29, calib->vosGp[channel][s], 0);
        setParam(channel, 22, calib->trimP22[channel][s], 0);
        setParam(channel, 21, calib->trimP21[channel][s], 0);
    }
    const uint8_t gain[6] = {row.p24, row.p27, row.p35, row.p33, row.p34, row.p56};
    for (int i = 0; i < 6; ++i)
        setParam(channel, kGainParams[i], gain[i], i == 5 ? SCALING_RELEASE_AFTER : 0);
}

void ConfigurationVoltmetre(uint16_t channel, calibration* calib, int16_t range, int16_t coupling)
{
    if (!validChannel(channel))
        return;
    MMRelaisCourant(channel, false);
    MMGammeVoltmetre(channel, range, calib);
    PositionVerticale(channel, 0);
    MMCouplageVertical(channel, coupling, range);
    const int16_t triggerCoupling = coupling == 0 || coupling == 4 || coupling == 8 ? 1 : 0;
    CouplageTrigger(static_cast<int16_t>(channel), triggerCoupling);
    LevelTrigger(static_cast<int16_t>(channel), 0, 0, 0, triggerCoupling, 0, calib);
}

void ConfigurationDiode(uint16_t channel, calibration* calib)
{
    if (!validChannel(channel))
        return;
    MMRelaisCourant(channel, true);
    MMGammeVoltmetre(0, 1, calib);
    PositionVerticale(channel, 0);
    MMCouplageVertical(channel, 1, 1);
    setParam(channel, 5, 15, SCALING_HOLD_BEFORE);
    setParam(channel, 17, 0, 0);
    setParam(channel, 7, 0, SCALING_RELEASE_AFTER);
}

void ConfigurationOhmetre(uint16_t channel, calibration* calib)
{
    if (validChannel(channel))
        ohmmeterSetup(channel, calib, false);
}

void ConfigurationContinuite(uint16_t channel, calibration* calib)
{
    if (validChannel(channel))
        ohmmeterSetup(channel, calib, true);
}

void ScalingMesureOffsetInit(uint16_t channel)
{
    if (!validChannel(channel))
        return;
    const uint16_t* set = to_g_scalingParams[channel];
    tul_g_ctruOrg[channel] = set[18];
    tul_g_VdcRejEnOrg[channel] = set[14];
    tul_g_iGammeOrg[channel] = set[5];
    tul_g_gndHfOrg[channel] = set[20];
}

void ScalingMesureOffset(uint16_t channel, int16_t function, int type)
{
    if (!validChannel(channel) || (static_cast<uint16_t>(function) & 0x8000))
        return;
    const bool resistance = function == 1 || function == 2;
    // p13 (input grounded) is switched only on board code 0; it is rewritten in any case.
    const bool groundSwitch = EtatLogique(ETAT_BOARD_CODE) == 0;
    const uint16_t p13 = to_g_scalingParams[channel][13];
    if (type >= 1 && type <= 3) {
        if (resistance) {
            setParam(channel, 6, 1, SCALING_HOLD_BEFORE);
            setParam(channel, 5, 15, SCALING_RELEASE_AFTER);
            return;
        }
        if (function == 4)
            setParam(channel, 7, 1, kFlagsBoth);
        const uint16_t dac[4] = {0, 921, 102, 512};
        setParam(channel, 20, 1, SCALING_HOLD_BEFORE);
        setParam(channel, 13, groundSwitch ? 1 : p13, SCALING_RELEASE_AFTER);
        setParam(channel, 18, dac[type], kFlagsBoth);
        *initWord(channel) = 64;
    } else if (type == 0) {
        if (resistance) {
            setParam(channel, 6, 0, SCALING_HOLD_BEFORE);
            setParam(channel, 5, tul_g_iGammeOrg[channel], 0);
            setParam(channel, 20, tul_g_gndHfOrg[channel], SCALING_RELEASE_AFTER);
            pauseMs(kCurrentOffSettleMs);
            return;
        }
        if (function == 4)
            setParam(channel, 7, 0, kFlagsBoth);
        setParam(channel, 18, tul_g_ctruOrg[channel], SCALING_HOLD_BEFORE);
        setParam(channel, 13, groundSwitch ? 0 : p13, 0);
        setParam(channel, 20, tul_g_gndHfOrg[channel], 0);
        setParam(channel, 14, tul_g_VdcRejEnOrg[channel], SCALING_RELEASE_AFTER);
        *initWord(channel) = 0;
    } else {
        return;
    }
    ChipAcqIoctl(CHIPACQ_SCOPE, nullptr);
}

void ProgramFE_Meter(int32_t parameter, acq_ctrl*, calibration* calib)
{
    using namespace param;
    switch (parameter) {
    case traceOnCh1:
        channel1Setup(calib);
        channel1RangeStep(calib);
        pauseMs(kProgramSettleMs);
        return;
    case traceOnCh2: case traceOnCh3: case traceOnCh4: {
        const uint16_t ch = static_cast<uint16_t>((parameter - traceOnCh1) / 2);
        channelSetup(ch, calib);
        channelRangeStep(ch, calib);
        pauseMs(kProgramSettleMs);
        return;
    }
    case 29: case instrumentMode: case calibrationWrite: case meterFunction:
        channel1Setup(calib);
        channel1RangeStep(calib);
        for (uint16_t ch = 1; ch < kScalingChannels; ++ch) {
            channelSetup(ch, calib);
            channelRangeStep(ch, calib);
        }
        relayStep();
        pauseMs(kProgramSettleMs);
        return;
    case meterCouplingCh1: case meterRangeCh1: case ohmRange: case capaRange:
        channel1RangeStep(calib);
        return;
    case meterCouplingCh2: case meterRangeCh2: channelRangeStep(1, calib); return;
    case meterCouplingCh3: case meterRangeCh3: channelRangeStep(2, calib); return;
    case meterCouplingCh4: case meterRangeCh4: channelRangeStep(3, calib); return;
    case -1: relayStep(); return;
    default: return;
    }
}
