// Web-service requests of the scope's setting panels: each changes settings through the setters
// when one of its keys is there, else answers with the panel's status text.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"
#include "network/wsscope.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/requests.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "ui/scope/toolchannel.h"
#include "ui/scope/tooltimebase.h"

#include <cstring>

namespace {

// The trigger timer's step, seconds, kept in single precision.
constexpr float kTimerStep = 8e-09f;

void sendReply(TWsReq* req, const TWsReply& reply)
{
    wsResponseSend(req, reply.data(), reply.size());
}

template <typename T>
T perChannel(int channel, const T& a, const T& b, const T& c, const T& d)
{
    switch (channel) {
    case 1: return b;
    case 2: return c;
    case 3: return d;
    default: return a;
    }
}

// The channel of "channel": 1..4 -> 0..3, any other number (or no number) channel 1.
int channelKey(int32_t value)
{
    return value >= 1 && value <= 4 ? value - 1 : 0;
}

std::string unitText(TAcquisition* trace)
{
    return wsClientText(GetVerticalUnit(trace, SCALE_SCOPE, false));
}

} // namespace

TAcquisition* wsLiveTrace(int channel)
{
    const TSetupLinks& l = setupLinks();
    switch (channel) {
    case 0: return l.acqCh1;
    case 1: return l.acqCh2;
    case 2: return l.acqCh3;
    case 3: return l.acqCh4;
    default: return nullptr;
    }
}

int16_t wsChannelColour(int channel)
{
    return perChannel(channel, data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4);
}

int wsSourceChannel(int32_t source)
{
    return source >= 1 && source <= 3 ? source : 0;
}

int wsReferenceChannel(int32_t reference)
{
    switch (reference) {
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: return 0;
    }
}

uint16_t wsVisibleChannels()
{
    return static_cast<uint16_t>((data.channelFlags & 0xF) | ((data.channelFlags >> 8) & 0xF));
}

std::string wsClientText(QString text)
{
    text.replace(QChar(0x03BC), QLatin1Char('u'));
    text.replace(QChar(0x2126), QLatin1Char('{'));
    text.replace(QChar(0x03A9), QLatin1Char('{'));
    return text.toUtf8().toStdString();
}

void wsRpmHorizontalScope(TWsReq* req)
{
    int set = 0;
    set |= SetWsParamDirect(req, "p0", param::traceFormat, data.traceFormat);
    set |= SetWsParamDirect(req, "p1", param::timeBaseIndex, data.timeBaseIndex);
    set |= SetWsParamDirect(req, "p2", param::averageCount, data.averageCount);
    set |= SetWsParamDirect(req, "p4", param::repSig, data.repSig);
    set |= SetWsParamDirect(req, "p5", param::minMax, data.minMax);
    set |= SetWsParamDirect(req, "p6", param::fftWindow, data.fftWindow);
    set |= SetWsParamDirect(req, "p7", param::fftVerticalScale, data.fftVerticalScale);
    set |= SetWsParamDirect(req, "p8", param::xySourceX, data.xySourceX);
    set |= SetWsParamDirect(req, "p9", param::xySourceY, data.xySourceY);
    set |= SetWsParamDirect(req, "p10", param::saveRestart, data.saveRestart);
    bool posted = false;
    int32_t code = 0;
    if (wsKeyInteger(req, "p3", &code)) {
        const int16_t mode = code == 1 ? 2 : (code == 2 ? 4 : 1);
        if (mode != data.traceMode) {
            wsPostSetParam(param::traceMode, mode, 0.0f);
            posted = true;
        }
    }
    if (set != 0 || posted) {
        wsReplyDone(req);
        return;
    }
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(11)
        .integer(static_cast<uint16_t>(data.traceFormat))
        .integer(static_cast<uint16_t>(data.timeBaseIndex))
        .integer(static_cast<uint16_t>(data.averageCount))
        .integer(data.traceMode == 2 ? 1 : (data.traceMode == 4 ? 2 : 0))
        .integer(data.repSig != 0 ? 1 : 0)
        .integer(static_cast<uint16_t>(data.minMax))
        .integer(static_cast<uint16_t>(data.fftWindow))
        .integer(static_cast<uint16_t>(data.fftVerticalScale))
        .integer(data.xySourceX)
        .integer(data.xySourceY)
        .integer(data.saveRestart);
    sendReply(req, reply);
}

void wsRpmVerticalScope(TWsReq* req)
{
    int32_t key = 0;
    if (!wsKeySelector(req, "channel", &key)) {
        wsReplyFailed(req);
        return;
    }
    const int n = channelKey(key);
    TAcquisition* trace = wsLiveTrace(n);
    if (trace == nullptr) {
        wsReplyFailed(req);
        return;
    }
    const char* storedUnit = perChannel<const char*>(n, data.unitCh1, data.unitCh2, data.unitCh3, data.unitCh4);
    char unit[4] = {};
    std::memcpy(unit, storedUnit, 3);  // the stored unit is read up to 3 characters
    int set = 0;
    set |= SetWsParamDirect(req, "p0", static_cast<uint16_t>(param::traceOnCh1 + 2 * n),
                            perChannel(n, data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4));
    set |= SetWsParamDirect(req, "p1", static_cast<uint16_t>(param::sensitivityCh1 + n),
                            perChannel(n, data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3,
                                       data.sensitivityCh4));
    set |= SetWsParamDirect(req, "p2", static_cast<uint16_t>(param::couplingCh1 + 2 * n),
                            perChannel(n, data.couplingCh1, data.couplingCh2, data.couplingCh3, data.couplingCh4));
    set |= SetWsParamDirect(req, "p3", static_cast<uint16_t>(param::bwLimitCh1 + n),
                            perChannel(n, data.bwLimitCh1, data.bwLimitCh2, data.bwLimitCh3, data.bwLimitCh4));
    set |= SetWsFloatDirect(req, "p4", static_cast<uint16_t>(param::probeCoeffCh1 + n),
                            perChannel(n, data.probeCoeffCh1, data.probeCoeffCh2, data.probeCoeffCh3,
                                       data.probeCoeffCh4));
    set |= SetWsStringDirect(req, "p5", static_cast<uint16_t>(param::unitCh1 + n), unit);
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    const std::string units = unitText(trace);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(23)
        .integer(perChannel(n, data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4))
        .integer(wsChannelColour(n))
        .integer(perChannel(n, data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3, data.sensitivityCh4))
        .integer(perChannel(n, data.couplingCh1, data.couplingCh2, data.couplingCh3, data.couplingCh4))
        .integer(perChannel(n, data.bwLimitCh1, data.bwLimitCh2, data.bwLimitCh3, data.bwLimitCh4))
        .real(perChannel(n, data.probeCoeffCh1, data.probeCoeffCh2, data.probeCoeffCh3, data.probeCoeffCh4))
        .text(units.c_str());
    for (unsigned short k = 0; k < 16; ++k) {
        const std::string label = wsClientText(ScopePrintf(3, GetVerticalDiv(trace, k, SCALE_SCOPE))) + units;
        reply.text(label.c_str());
    }
    sendReply(req, reply);
}

void wsRpmTriggerScope(TWsReq* req)
{
    TAcquisition* traces[4];
    float levelScale[4];
    const int16_t sensitivity[4] = {data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3,
                                    data.sensitivityCh4};
    for (int n = 0; n < 4; ++n) {
        traces[n] = wsLiveTrace(n);
        if (traces[n] == nullptr) {
            wsReplyFailed(req);
            return;
        }
        levelScale[n] = GetVerticalScale(traces[n], SCALE_SCOPE, sensitivity[n]) * 262.0f;
    }
    const int16_t levels[4] = {data.trigLevelCh1, data.trigLevelCh2, data.trigLevelCh3, data.trigLevelCh4};
    const int16_t edges[4] = {data.trigEdgeCh1, data.trigEdgeCh2, data.trigEdgeCh3, data.trigEdgeCh4};
    const int16_t couplings[4] = {data.trigCouplingCh1, data.trigCouplingCh2, data.trigCouplingCh3,
                                  data.trigCouplingCh4};
    const int16_t rejects[4] = {data.noiseRejectCh1, data.noiseRejectCh2, data.noiseRejectCh3,
                                data.noiseRejectCh4};
    const double step = kTimerStep;
    int set = 0;
    set |= SetWsParamDirect(req, "p0", param::trigType, data.trigType);
    set |= SetWsParamDirect(req, "p1", param::trigSource, data.trigSource);
    set |= SetWsParamDirect(req, "p2", param::qualifSource, data.qualifSource);
    set |= SetWsParamIndirect(req, "p3", param::trigHoldoff, data.trigHoldoff, step, 0);
    set |= SetWsParamDirect(req, "p4", param::pulseType, data.pulseType);
    set |= SetWsParamIndirect(req, "p5", param::pulseT1, data.pulseT1, step, 0);
    set |= SetWsParamIndirect(req, "p6", param::pulseT2, data.pulseT2, step, 0);
    set |= SetWsParamIndirect(req, "p7", param::trigDelay, static_cast<int32_t>(data.trigDelay), step, 0);
    set |= SetWsParamDirect(req, "p8", param::eventCount, data.eventCount);
    static const char* const keys[16] = {"p9",  "p10", "p11", "p12", "p13", "p14", "p15", "p16",
                                         "p17", "p18", "p19", "p20", "p21", "p22", "p23", "p24"};
    for (int n = 0; n < 4; ++n)
        set |= SetWsParamIndirect(req, keys[n], static_cast<uint16_t>(param::trigLevelCh1 + n), levels[n],
                                  levelScale[n], 0);
    for (int n = 0; n < 4; ++n)
        set |= SetWsParamDirect(req, keys[4 + n], static_cast<uint16_t>(param::trigEdgeCh1 + n), edges[n]);
    for (int n = 0; n < 4; ++n)
        set |= SetWsParamDirect(req, keys[8 + n], static_cast<uint16_t>(param::trigCouplingCh1 + n), couplings[n]);
    for (int n = 0; n < 4; ++n)
        set |= SetWsParamDirect(req, keys[12 + n], static_cast<uint16_t>(param::noiseRejectCh1 + n), rejects[n]);
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(29)
        .integer(static_cast<uint16_t>(data.trigType))
        .integer(static_cast<uint16_t>(data.trigSource))
        .integer(static_cast<uint16_t>(data.qualifSource))
        .real(data.trigHoldoff * step)
        .integer(static_cast<uint16_t>(data.pulseType))
        .real(data.pulseT1 * step)
        .real(data.pulseT2 * step)
        .real(data.trigDelay * step)
        .integer(static_cast<uint32_t>(data.eventCount));
    for (int n = 0; n < 4; ++n)
        reply.real(levels[n] * static_cast<double>(levelScale[n]) + GetVerticalOffset(traces[n], SCALE_SCOPE));
    for (const int16_t* group : {edges, couplings, rejects})
        for (int n = 0; n < 4; ++n)
            reply.integer(static_cast<uint16_t>(group[n]));
    for (int n = 0; n < 4; ++n)
        reply.text(unitText(traces[n]).c_str());
    sendReply(req, reply);
}

void wsRpmMathScope(TWsReq* req)
{
    // The handler's own function checks the expression; the controller compiles the channel's.
    static TFonction* function = nullptr;
    char text[TFonction::kTextSize];
    if (wsKeyText(req, "p1", text, sizeof text, false) >= 0) {
        if (function == nullptr) {
            char empty[1] = {};
            function = new TFonction(0, empty);
        }
        if (text[0] == '+')
            text[0] = '\0';
        int32_t channel = 0;
        const bool named = wsKeySelector(req, "p0", &channel) && channel >= 1 && channel <= 4;
        if (function->SetFonctionString(text, true) && named) {
            // A copy per post: a second expression must not replace the first before it is taken.
            static TWsPostRing<char[TFonction::kTextSize]> ring;
            char* copy = *ring.next();
            function->GetFonctionString(copy, false);
            if (wsPostSetParam(static_cast<uint16_t>(param::mathExprCh1 + channel - 1),
                               reinterpret_cast<intptr_t>(copy), 0.0f)) {
                ring.commit();
                wsPostSetParam(static_cast<uint16_t>(param::mathFunctionCh1 + channel - 1), 1, 0.0f);
            }
        }
        wsReplyDone(req);
        return;
    }
    int32_t channel = 0;
    if (!wsKeySelector(req, "channel", &channel) || channel < 1 || channel > 4) {
        wsReplyDone(req);
        return;
    }
    const TSetupLinks& l = setupLinks();
    TFonction* stored = perChannel(channel - 1, l.mathFunctionCh1, l.mathFunctionCh2, l.mathFunctionCh3,
                                   l.mathFunctionCh4);
    if (stored == nullptr || stored->text[0] == '\0') {
        wsReplyDone(req);
        return;
    }
    char web[TFonction::kTextSize + 1] = {};
    stored->GetFonctionString(web, true);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(2).integer(wsChannelColour(channel - 1)).raw(web, static_cast<int32_t>(strnlen(web, sizeof web)));
    reply.raw(",\0", 2);  // the closing NUL belongs to the reply
    sendReply(req, reply);
}

void wsRpmPassfail(TWsReq* req)
{
    int set = 0;
    set |= SetWsParamDirect(req, "p0", param::passFailOn, data.passFailOn);
    set |= SetWsParamDirect(req, "p1", param::passFailSource, data.passFailSource);
    set |= SetWsParamIndirect(req, "p3", param::passFailXMask, data.passFailXMask, 0.01, 0);
    set |= SetWsParamIndirect(req, "p4", param::passFailYMask, data.passFailYMask, 0.01, 0);
    set |= SetWsParamDirect(req, "p5", param::passFailDisplay, data.passFailDisplay);
    set |= SetWsParamDirect(req, "p6", param::passFailBeep, data.passFailBeep);
    set |= SetWsParamDirect(req, "p7", param::passFailRunStop, data.passFailRunStop);
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(7)
        .integer(static_cast<uint16_t>(data.passFailOn))
        .integer(data.passFailSource)
        .real(data.passFailXMask / 100.0)
        .real(data.passFailYMask / 100.0)
        .integer(data.passFailDisplay)
        .integer(static_cast<uint16_t>(data.passFailBeep))
        .integer(static_cast<uint16_t>(data.passFailRunStop));
    sendReply(req, reply);
}

void wsRpmCommandScope(TWsReq* req)
{
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.raw("31,", 3);
    for (unsigned short channel = 0; channel < 4; ++channel) {
        const std::string infos = ToolChannel::getPelanodeInfos(channel);
        reply.raw(infos.data(), static_cast<int32_t>(infos.size()));
    }
    const std::string timebase = ToolTimebase::getPelanodeInfos();
    reply.raw(timebase.data(), static_cast<int32_t>(timebase.size()));
    sendReply(req, reply);
}
