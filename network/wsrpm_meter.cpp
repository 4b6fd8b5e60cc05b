// Web-service requests of the multimeter modes: the four meter channel boxes, the power box and
// the meter tool bar. The box texts come from the status cache the meter screen fills; settings
// go to the controller. The client numbers couplings and power functions its own way.
#include "network/pelanodeInterface.h"
#include "network/user_int.h"
#include "network/wsrpm.h"
#include "network/wsscope.h"

#include "acquisition/TAcquisition.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "hardware/CmdesBase.h"

#include <cstdint>
#include <string>

namespace {

const uint16_t tus_l_powerPelanodeToSetup[4] = {8, 9, 10, 11};
const uint16_t tus_l_couplingPelanodeToSetup[7] = {0, 4, 8, 2, 6, 10, 1};
const int16_t tus_l_couplingSetupToPelanode[11] = {0, 6, 3, -1, 1, -1, 4, -1, 2, -1, 5};

constexpr int kResistance = 1;
constexpr int kContinuity = 2;
constexpr int kCapacitance = 3;
constexpr int kDiode = 4;
constexpr int kPowerBit = 8;

void sendReply(TWsReq* req, const TWsReply& reply)
{
    wsResponseSend(req, reply.data(), reply.size());
}

// The meter fields of channel 0..3.
struct TMeterChannel {
    uint8_t& shown;
    uint8_t& memory;
    int16_t& coupling;
    int16_t& range;
    uint8_t& autoRange;
    uint16_t shownParam;
    uint16_t couplingParam;
    uint16_t rangeParam;
    uint16_t autoRangeParam;
};

TMeterChannel meterChannel(int n)
{
    switch (n) {
    case 1:
        return {data.traceOnCh2, data.memoryTraceCh2, data.meterCouplingCh2, data.meterRangeCh2,
                data.meterAutoRangeCh2, param::traceOnCh2, param::meterCouplingCh2, param::meterRangeCh2,
                param::meterAutoRangeCh2};
    case 2:
        return {data.traceOnCh3, data.memoryTraceCh3, data.meterCouplingCh3, data.meterRangeCh3,
                data.meterAutoRangeCh3, param::traceOnCh3, param::meterCouplingCh3, param::meterRangeCh3,
                param::meterAutoRangeCh3};
    case 3:
        return {data.traceOnCh4, data.memoryTraceCh4, data.meterCouplingCh4, data.meterRangeCh4,
                data.meterAutoRangeCh4, param::traceOnCh4, param::meterCouplingCh4, param::meterRangeCh4,
                param::meterAutoRangeCh4};
    default:
        return {data.traceOnCh1, data.memoryTraceCh1, data.meterCouplingCh1, data.meterRangeCh1,
                data.meterAutoRangeCh1, param::traceOnCh1, param::meterCouplingCh1, param::meterRangeCh1,
                param::meterAutoRangeCh1};
    }
}

// The "channel" key as an index 0..3; false when missing or not 1..4.
bool channelKey(TWsReq* req, int* index)
{
    int32_t n = 0;
    if (!wsKeySelector(req, "channel", &n) || n < 1 || n > 4)
        return false;
    *index = n - 1;
    return true;
}

// A client coupling code without setup equivalent, or a setup code past the table, prints 65535.
uint16_t clientCoupling(int16_t setupCode)
{
    if (setupCode < 0 || setupCode > 10)
        return 0xFFFF;
    return static_cast<uint16_t>(tus_l_couplingSetupToPelanode[setupCode]);
}

// A range value as the client lists it: three digits, a prefix and the unit.
std::string rangeText(double value, const QString& unit)
{
    return (ScopePrintf(3, value) + unit).toUtf8().toStdString();
}

void reportVoltage(TWsReply& reply, const TMeterChannel& c, TAcquisition* trace)
{
    reply.integer(c.autoRange ? 0 : c.range + 1).integer(clientCoupling(c.coupling)).text("Autorange");
    const QString unit = GetVerticalUnit(trace, SCALE_METER, false);
    for (unsigned short i = 0; i <= 3; ++i)
        reply.text(rangeText(8.0 * double(GetVerticalDiv(trace, i, SCALE_METER)), unit).c_str());
}

} // namespace

void wsRpmToolsMeter(TWsReq* req)
{
    // All or nothing: a setting the mode drops fails the request before anything is posted.
    if (wsSettingRefused(req, "p0", param::meterAuxMeas) || wsSettingRefused(req, "p1", param::meterFunction)
        || wsSettingRefused(req, "p2", param::acqRunStop)) {
        wsReplyFailed(req);
        return;
    }
    SetWsParamDirect(req, "p0", param::meterAuxMeas, data.meterAuxMeas);
    SetWsParamDirect(req, "p2", param::acqRunStop, data.acqRunStop);
    int32_t power = 0;
    if (wsKeyInteger(req, "p1", &power) && power >= 0 && power <= 3)
        wsPostSetParam(param::meterFunction, tus_l_powerPelanodeToSetup[power], 0.0f);
    wsReplyDone(req);
}

void wsRpmMeasuresPower(TWsReq* req)
{
    TPowerBytes texts;
    getPelanodePowerMeas(texts);
    const auto function = static_cast<uint16_t>(data.meterFunction);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(9)
        .text("Power")
        .integer((function & kPowerBit) != 0 ? 1 : 0)
        .integer(function & 3)
        .text(texts.active.c_str())
        .text(texts.reactive.c_str())
        .text(texts.apparent.c_str())
        .text(texts.dpf.c_str())
        .text(texts.aux1.c_str())
        .text(texts.aux2.c_str());
    sendReply(req, reply);
}

void wsRpmMeasuresMeter(TWsReq* req)
{
    int n = 0;
    if (!channelKey(req, &n)) {
        wsReplyDone(req);
        return;
    }
    const TMeterChannel c = meterChannel(n);
    const int function = data.meterFunction;
    int flags = 15;
    if (function == kContinuity || function == kCapacitance || function == kDiode)
        flags = 1;
    else if (EtatLogique(ETAT_TWO_CHANNEL_MODEL))
        flags = 9;
    static const char* const live[4] = {"CH1", "CH2", "CH3", "CH4"};
    static const char* const memory[4] = {"M1", "M2", "M3", "M4"};
    std::string range, coupling, mainMeas, aux1, aux2;
    getPelanodeMeterMeas(static_cast<int16_t>(n), range, coupling, mainMeas, aux1, aux2);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(10).text(c.memory ? memory[n] : live[n]).integer(c.memory | c.shown);
    if (n == 0)
        reply.integer(static_cast<uint16_t>(data.meterFunction));
    else
        reply.text((flags & (1 << n)) != 0 ? "0" : "+");
    reply.integer(static_cast<uint16_t>(wsChannelColour(n)))
        .integer(c.autoRange != 0 ? 1 : 0)
        .text(range.c_str())
        .text(coupling.c_str())
        .text(mainMeas.c_str())
        .text(aux1.c_str())
        .text(aux2.c_str());
    sendReply(req, reply);
}

void wsRpmVerticalMeter(TWsReq* req)
{
    int n = 0;
    if (!channelKey(req, &n)) {
        wsReplyDone(req);
        return;
    }
    const TMeterChannel c = meterChannel(n);
    const int function = data.meterFunction;  // the one in force on arrival rules p1
    if (wsSettingRefused(req, "p1", c.rangeParam) || wsSettingRefused(req, "p2", c.autoRangeParam)
        || wsSettingRefused(req, "p3", c.couplingParam)
        || (n == 0 && wsSettingRefused(req, "p4", param::meterFunction))) {
        wsReplyFailed(req);
        return;
    }
    int set = SetWsParamDirect(req, "p0", c.shownParam, c.shown);
    if (n == 0 && function == kResistance)
        set |= SetWsParamIndirect(req, "p1", param::ohmRange, data.ohmRange, 1, 1);
    else if (n == 0 && function == kCapacitance)
        set |= SetWsParamDirect(req, "p1", param::capaRange, data.capaRange);
    else
        set |= SetWsParamIndirect(req, "p1", c.rangeParam, c.range, 1, 1);
    set |= SetWsParamDirect(req, "p2", c.autoRangeParam, c.autoRange);
    if (n == 0)
        set |= SetWsParamDirect(req, "p4", param::meterFunction, data.meterFunction);
    int32_t coupling = 0;
    if (wsKeyInteger(req, "p3", &coupling)) {
        set |= 2;
        if (coupling >= 0 && coupling <= 6)
            wsPostSetParam(c.couplingParam, tus_l_couplingPelanodeToSetup[coupling], 0.0f);
    }
    TAcquisition* trace = wsLiveTrace(n);
    if (set != 0 || trace == nullptr) {
        wsReplyDone(req);
        return;
    }

    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    const auto prefix = [&](int count) {
        reply.integer(count).integer(c.shown).integer(static_cast<uint16_t>(wsChannelColour(n)));
    };
    switch (n == 0 ? function : 0) {
    case kResistance:
        prefix(12);
        reply.integer(c.autoRange ? 0 : data.ohmRange + 1).integer(-1).text("Autorange");
        for (unsigned short i = 0; i <= 6; ++i)
            reply.text(rangeText(4.0 * double(GetVerticalDiv(trace, i, SCALE_OHMMETER)), QStringLiteral("Ohm")).c_str());
        break;
    case kContinuity:
        prefix(5);
        reply.integer(0).integer(-1).text("80.00 Ohm");
        break;
    case kCapacitance:
        prefix(12);
        reply.integer(c.autoRange ? 0 : data.capaRange).integer(-1).text("Autorange");
        for (unsigned short i = 1; i <= 7; ++i)
            reply.text(rangeText(4.0 * double(GetVerticalDiv(trace, i, SCALE_CAPACITANCE)), QStringLiteral("F")).c_str());
        break;
    case kDiode:
        prefix(5);
        reply.integer(0).integer(-1).text("4.000 V");
        break;
    default:
        prefix(9);
        reportVoltage(reply, c, trace);
        break;
    }
    sendReply(req, reply);
}
