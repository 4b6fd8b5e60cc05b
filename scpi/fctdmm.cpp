// Multimeter handlers: function, per-channel coupling and filter, ranges and the meter value.
// Every one of them works in the meter modes only, in query and set form.
#include "scpi/fct.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/utilities.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <QString>

#include <cstdint>

namespace {

constexpr uint16_t kMeterModes = 0x80;
constexpr int kMeterFunctions = 17;
constexpr int kPowerBit = 8;
constexpr int kMonitor = 16;
constexpr int kInt5 = 4;

// The meter coupling word: the coupling in bits 0-1, the filter in bits 2-3.
constexpr int32_t kCouplingBits = 0x3;
constexpr int32_t kFilterBits = 0xC;
constexpr int32_t kDc = 1;
constexpr int32_t kFilter5k = 4;
constexpr int32_t kFilter625 = 8;

// Whether a channel's coupling may be chosen, by meterFunction: 0 free, 1 not applicable,
// 2 fixed AC.
enum : uint8_t { kFree = 0, kNotApplicable = 1, kFixedAc = 2 };
constexpr uint8_t CouplageCh1[kMeterFunctions] = {0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 2};
constexpr uint8_t CouplageChX[kMeterFunctions] = {0, 0, 1, 1, 1, 0, 0, 0, 2, 2, 2, 2, 1, 1, 1, 1, 2};

// Parameters of channel n follow each other three apart.
constexpr int kChannelStride = 3;

int32_t readParam(int number)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(number));
}

bool hasValue(const indic* ind)
{
    return ind->paramCount >= 1;
}

// A function stored from elsewhere beyond the tables counts as not applicable.
uint8_t couplingRule(int channel)
{
    const int16_t function = data.meterFunction;
    if (function < 0 || function >= kMeterFunctions)
        return kNotApplicable;
    return channel == 0 ? CouplageCh1[function] : CouplageChX[function];
}

// Request count 0; levels 0..count-1 carry suffix 1 except channelLevel, whose suffix (1..4)
// gives *channel; then the meter-mode gate.
int start(indic* ind, int16_t* requestCount, short channelLevel = -1, int* channel = nullptr)
{
    *requestCount = 0;
    for (short level = 0; level < ind->count; ++level) {
        const int suffix = ind->suffix[level];
        if (level == channelLevel) {
            if (suffix < 1 || suffix > 4)
                return kErrSuffixOutOfRange;
            *channel = suffix - 1;
        } else if (suffix != 1) {
            return kErrSuffixOutOfRange;
        }
    }
    return (data.instrumentMode & kMeterModes) != 0 ? 0 : kErrSettingsConflict;
}

// A range chosen by its value: the index of the first value equal within 0.2 %, offset by
// first; keywords step within low..high.
int rangeParam(const char* area, const float* values, int count, int32_t first, int32_t current, int32_t low,
               int32_t high, int32_t* out)
{
    if (paramSpecial(area, 0) != kSpecialNone)
        return numericParam(paramSpecial(area, 0), 0, current, low, high, 1, out);
    const float v = paramFloat(area, 0);
    for (int i = 0; i < count; ++i)
        if (FloatisEqu(v, values[i])) {
            *out = first + i;
            return 0;
        }
    return kErrDataOutOfRange;
}

// The coupling word of INPut n:DMM: the channel's parameter, its word and the function's rule for
// the channel. The query of a channel whose coupling does not apply is refused.
struct TCoupling {
    int code = 0;
    int32_t word = 0;
    uint8_t rule = kNotApplicable;
};

int couplingStart(indic* ind, int16_t* requestCount, TCoupling* c)
{
    int channel = 0;
    if (int r = start(ind, requestCount, 0, &channel))
        return r;
    c->code = param::meterCouplingCh1 + kChannelStride * channel;
    c->word = readParam(c->code);
    c->rule = couplingRule(channel);
    if (ind->query && c->rule == kNotApplicable)
        return kErrSettingsConflict;
    return 0;
}

const char* textAt(const char* const* texts, int count, int32_t index)
{
    return texts[index < 0 ? 0 : index >= count ? count - 1 : index];
}

} // namespace

// [SENSe]:FUNCtion f.
int SensFunc(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query) {
        static const char* const kTexts[12] = {"VOLT", "RES",  "CONT",  "CAPA",  "DIOD",  "PT100",
                                               "PT1000", "TCK", "POW", "POW3a", "POW3b", "POW3c"};
        const int16_t function = data.meterFunction;
        replyText(function >= 0 && function < 12 ? kTexts[function] : "MONITOR");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::meterFunction, paramIndex(area, 0));
    return settingsTakenInMode(requests, requestCount);
}

// INPut n:DMM:COUPling AC | DC | ACDC. DC drops the filter.
int InpDmmCoup(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    TCoupling c;
    if (int r = couplingStart(ind, requestCount, &c))
        return r;
    if (ind->query) {
        const int32_t coupling = c.word & kCouplingBits;
        replyText(c.rule == kFixedAc || coupling == 0 ? "AC" : coupling == kDc ? "DC" : "ACDC");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    // Channel 1's coupling is free in the voltage function only, which its table says already.
    if (c.rule != kFree)
        return kErrSettingsConflict;
    const int32_t index = paramIndex(area, 0);
    addSetting(requests, requestCount, c.code, index == kDc ? kDc : (index | (c.word & kFilterBits)));
    return settingsTakenInMode(requests, requestCount);
}

// INPut n:DMM:BANDwidth:RESolution f: the filter by its bandwidth in Hz.
int InpDmmBandRes(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    TCoupling c;
    if (int r = couplingStart(ind, requestCount, &c))
        return r;
    if (ind->query) {
        const int32_t filter = c.word & kFilterBits;
        replyText(filter == kFilter5k || (filter == kFilter625 && data.meterFunction == kMonitor) ? "5.0e3"
                  : filter == kFilter625                                                         ? "625.0"
                                                                                                 : "0");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    if (c.rule != kFree || (c.word & kCouplingBits) == kDc)
        return kErrSettingsConflict;
    const double f = paramSpecial(area, 0) == kSpecialNone ? paramFloat(area, 0) : 0.0;
    const int32_t filter = f <= 0.0 ? 0 : f <= 625.0 ? kFilter625 : f <= 5000.0 ? kFilter5k : 0;
    if (filter == kFilter625 && data.meterFunction == kMonitor)
        return kErrSettingsConflict;
    addSetting(requests, requestCount, c.code, (c.word & kCouplingBits) | filter);
    return settingsTakenInMode(requests, requestCount);
}

// [SENSe]:RANGe n:AUTO bool.
int SensRangAuto(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = start(ind, requestCount, 1, &channel))
        return r;
    if (data.meterFunction == kMonitor)
        return kErrSettingsConflict;
    const int code = param::meterAutoRangeCh1 + kChannelStride * channel;
    if (ind->query)
        return replyText(readParam(code) != 0 ? "1" : "0"), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, code, paramBool(area, 0) != 0 ? 1 : 0);
    return settingsTakenInMode(requests, requestCount);
}

// [SENSe]:RANGe n:VOLT v: 0.8, 8, 80 or 800 V.
int SensRangVolt(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = start(ind, requestCount, 1, &channel))
        return r;
    const int16_t function = data.meterFunction;
    if (channel == 0 && !(function == 0 || function == kMonitor || (function & kPowerBit) != 0))
        return kErrSettingsConflict;
    const int code = param::meterRangeCh1 + kChannelStride * channel;
    const int32_t current = readParam(code);
    if (ind->query) {
        static const char* const kTexts[4] = {"8.0e-1", "8.0", "8.0e1", "8.0e2"};
        return replyText(textAt(kTexts, 4, current)), 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    static const float kValues[4] = {0.8f, 8.0f, 80.0f, 800.0f};
    int32_t range = 0;
    if (int r = rangeParam(area, kValues, 4, 0, current, 0, max_par.meterRangeCh1, &range))
        return r;
    addSetting(requests, requestCount, code, range);
    return settingsTakenInMode(requests, requestCount);
}

// [SENSe]:RANGe:OHM r: 80 ohm up to 32 Mohm, resistance only.
int SensRangOhm(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (data.meterFunction != 1)
        return kErrSettingsConflict;
    if (ind->query) {
        static const char* const kTexts[7] = {"8.0e1", "8.0e2", "8.0e3", "8.0e4", "8.0e5", "8.0e6", "32.0e6"};
        return replyText(textAt(kTexts, 7, data.ohmRange)), 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    static const float kValues[7] = {80.0f, 800.0f, 8000.0f, 80000.0f, 800000.0f, 8e6f, 3.2e7f};
    int32_t range = 0;
    if (int r = rangeParam(area, kValues, 7, 0, data.ohmRange, 0, max_par.ohmRange, &range))
        return r;
    addSetting(requests, requestCount, param::ohmRange, range);
    return settingsTakenInMode(requests, requestCount);
}

// [SENSe]:RANGe:CAPA c: 5 nF up to 5 mF, capacitance only; the smallest range is the
// instrument's own choice.
int SensRangCapa(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (data.meterFunction != 3)
        return kErrSettingsConflict;
    if (ind->query) {
        static const char* const kTexts[8] = {"5.0e-10", "5.0e-9", "5.0e-8", "5.0e-7",
                                              "5.0e-6",  "5.0e-5", "5.0e-4", "5.0e-3"};
        return replyText(textAt(kTexts, 8, data.capaRange)), 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    static const float kValues[7] = {5e-9f, 5e-8f, 5e-7f, 5e-6f, 5e-5f, 5e-4f, 0.005f};
    int32_t range = 0;
    if (int r = rangeParam(area, kValues, 7, 1, data.capaRange, 1, max_par.capaRange, &range))
        return r;
    addSetting(requests, requestCount, param::capaRange, range);
    return settingsTakenInMode(requests, requestCount);
}

// MEASure:DMM? INTn: the meter value last stored in the channel's (INT5: the power) trace.
int MeasDmm(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (!hasValue(ind))
        return kErrMissingParameter;
    const uint16_t index = paramIndex(area, 0);
    TSetupLinks& links = setupLinks();
    TAcquisition* trace = nullptr;
    if (index == kInt5) {
        if ((data.meterFunction & kPowerBit) != 0)
            trace = links.powerAcq;
    } else if (index < kInt5 && (data.channelFlags & (1u << index)) != 0) {
        TAcquisition* const traces[4] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};
        trace = traces[index];
    }
    if (!trace)
        return kErrSettingsConflict;
    // One aligned 32-bit word, stored whole by the meter cycle: no hold needed.
    const float value = trace->measureValue;
    const QByteArray text = QString("%1\n\r").arg(static_cast<double>(value), 0, 'e', 3).toLatin1();
    return PutMessage(text.constData(), text.size()) < 0 ? kErrCommunication : 0;
}
