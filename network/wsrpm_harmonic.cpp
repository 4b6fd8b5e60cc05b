// Web-service requests of the harmonic analyser: the normalised spectra of the traces shown, the
// readings of the selected order for every channel and the power trace, and the tool bar. The
// results of one analysis cycle are copied under o_g_autoMeasMutex (after the transport's image
// mutex) and formatted from the copy, so a reply never mixes two cycles.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"
#include "network/wsscope.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/harmonic_results.h"
#include "core/scale.h"
#include "core/scopeprintf.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <string>

namespace {

constexpr int kTraces = 5;  // four channels and the power trace
constexpr int16_t kPowerColour = 6;
constexpr uint32_t kPowerMask = 1u << kHarmonicPowerRecord;

void sendReply(TWsReq* req, const TWsReply& reply)
{
    wsResponseSend(req, reply.data(), reply.size());
}

TAcquisition* harmonicTrace(int i)
{
    return i == kHarmonicPowerRecord ? setupLinks().powerAcq : wsLiveTrace(i);
}

int16_t harmonicColour(int i)
{
    return i == kHarmonicPowerRecord ? kPowerColour : wsChannelColour(i);
}

TFonction* mathFunction(int channel)
{
    const TSetupLinks& l = setupLinks();
    TFonction* const functions[4] = {l.mathFunctionCh1, l.mathFunctionCh2, l.mathFunctionCh3, l.mathFunctionCh4};
    return functions[channel];
}

// The five result records as one cycle left them; "not computed" without a result block.
std::array<THarmonicResults, kTraces> resultsCopy()
{
    std::array<THarmonicResults, kTraces> copy;
    std::memset(copy.data(), 0, sizeof copy);
    for (THarmonicResults& r : copy)
        r.status = HARMONIC_NOT_MEASURED;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    if (const THarmonicResults* block = setupLinks().harmonicResultsPtr)
        std::memcpy(copy.data(), block, sizeof copy);
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    return copy;
}

std::string fixed(double value, int decimals, const char* unit)
{
    char text[48];
    wsFormatReal(value, text, 40, decimals);
    return std::string(text) + unit;
}

std::string valueText(int32_t digits, double value, const QString& unit)
{
    return (ScopePrintf(digits, value) + unit).toUtf8().toStdString();
}

void sixTimes(TWsReply& reply, const char* text)
{
    for (int k = 0; k < 6; ++k)
        reply.text(text);
}

// The relative level, phase and frequency of the order; "----" for an order the record lacks.
void orderFields(TWsReply& reply, const THarmonicResults& r, int order)
{
    if (order < 0 || order >= kHarmonicOrders) {
        reply.text("----").text("----").text("----");
        return;
    }
    const THarmonicEntry& e = r.entries[order];
    reply.text(fixed(double(e.ratio) * 100.0, 1, " %").c_str());
    // A phase that rounds to zero reads 0, not "-0".
    const double phase = std::round(double(e.phase)) == 0.0 ? 0.0 : double(e.phase);
    reply.text(fixed(phase, 0, " deg").c_str());
    // No period (order 0, or no period found on a DC input): no frequency to show.
    const bool noPeriod = e.period == 0.0f || !std::isfinite(e.period);
    reply.text(noPeriod ? "----" : (valueText(2, 1.0 / double(e.period), QString()) + "Hz").c_str());
}

} // namespace

void wsRpmToolsHarmonic(TWsReq* req)
{
    int set = SetWsParamDirect(req, "p0", param::harmonicFreq, data.harmonicFreq);
    set |= SetWsParamDirect(req, "p1", param::harmPower, data.harmPower);
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(2).integer(static_cast<uint16_t>(data.harmonicFreq)).integer(static_cast<uint16_t>(data.harmPower));
    sendReply(req, reply);
}

void wsRpmTracesHarmonic(TWsReq* req)
{
    uint32_t mask = kPowerMask;
    if (data.harmPower == 0) {
        mask = data.hwChannelMask & data.channelFlags;
        for (int n = 0; n < 4; ++n) {
            TFonction* f = mathFunction(n);
            if (f != nullptr && f->IsDefined())
                mask &= ~(1u << n);
        }
    }
    for (int i = 0; i < kTraces; ++i)
        if (harmonicTrace(i) == nullptr)
            mask &= ~(1u << i);

    std::array<int32_t, kTraces> status{};
    std::array<std::array<double, kHarmonicOrders>, kTraces> amplitudes{};
    pthread_mutex_lock(&o_g_autoMeasMutex);
    const THarmonicResults* block = setupLinks().harmonicResultsPtr;
    for (int i = 0; i < kTraces; ++i) {
        if ((mask & (1u << i)) == 0)
            continue;
        status[size_t(i)] = block ? block[i].status : int32_t(HARMONIC_NOT_MEASURED);
        std::memcpy(amplitudes[size_t(i)].data(), harmonicTrace(i)->harmonicTable, sizeof amplitudes[0]);
    }
    pthread_mutex_unlock(&o_g_autoMeasMutex);

    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(mask).integer(static_cast<uint16_t>(data.harmOrder));
    for (int i = 0; i < kTraces; ++i) {
        if ((mask & (1u << i)) == 0)
            continue;
        reply.integer(i).integer(static_cast<uint16_t>(harmonicColour(i)));
        const std::array<double, kHarmonicOrders>& a = amplitudes[size_t(i)];
        double largest = 0.0;
        for (double v : a)
            largest = std::fmax(largest, std::fabs(v));
        // Not computed, or nothing to scale by: a flat spectrum.
        if (status[size_t(i)] == HARMONIC_NOT_MEASURED || largest == 0.0 || !std::isfinite(largest)) {
            for (int k = 0; k < kHarmonicOrders; ++k)
                reply.integer(0);
            continue;
        }
        for (double v : a)
            reply.real(v / largest);
    }
    sendReply(req, reply);
}

void wsRpmMeasuresHarmonic(TWsReq* req)
{
    if (SetWsParamDirect(req, "p0", param::harmOrder, data.harmOrder) != 0) {
        wsReplyDone(req);
        return;
    }
    const int order = data.harmOrder;
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(37).integer(static_cast<uint16_t>(order)).integer(static_cast<uint16_t>(data.harmPower));
    const std::array<THarmonicResults, kTraces> results = resultsCopy();
    for (int i = 0; i < kTraces; ++i) {
        const THarmonicResults& r = results[size_t(i)];
        TAcquisition* trace = harmonicTrace(i);
        reply.integer(harmonicColour(i));
        if (r.status == HARMONIC_OVERRANGE) {
            sixTimes(reply, "-OL-");
            continue;
        }
        if (r.status != HARMONIC_MEASURED || trace == nullptr) {
            sixTimes(reply, "----");
            continue;
        }
        const bool inRecord = order >= 0 && order < kHarmonicOrders;
        if (i == kHarmonicPowerRecord) {
            reply.text("+").text("+");
            orderFields(reply, r, order);
            reply.text("+");
            continue;
        }
        const double scale = GetVerticalScale(trace, SCALE_SCOPE, -1);
        const QString unit = GetVerticalUnit(trace, SCALE_SCOPE, false);
        reply.text(valueText(3, scale * double(r.rms), unit).c_str());
        reply.text(fixed(double(r.distortion) * 100.0, 1, " %").c_str());
        orderFields(reply, r, order);
        reply.text(inRecord ? valueText(3, scale * double(r.entries[order].amplitude), unit).c_str() : "----");
    }
    sendReply(req, reply);
}
