// TRIGger and ARM handlers. TRIGger acts on the trigger source channel, ARM on the qualifier
// channel; both read the live setup and post kind-1 settings.
//
// Header levels: 0 TRIGger or ARM, 1 SEQuence (optional, no suffix counts as 1), 2 the
// command, 3 and 4 the optional STATe levels.
#include "scpi/fct.h"

#include "core/gest_db.h"
#include "core/scale.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <cmath>
#include <cstdint>

namespace {

// One 8-ns step of the trigger timers.
constexpr double kStepSeconds = 8e-9;
constexpr int32_t kHoldoffLow = 8;
constexpr int32_t kHoldoffHigh = 1875000000;
// Codes of the level scale: the trace's screen range is 262 codes per thousandth.
constexpr double kCodesPerThousandth = 262.0;
constexpr double kLevelScreenCodes = 262080.0;

// Allowed suffixes of the SEQuence level, as bits 1 << suffix.
enum : uint32_t {
    kSeq1 = 1u << 1,
    kSeq2 = 1u << 2,
    kSeq3 = 1u << 3,
    kSeq4 = 1u << 4,
    kSeqUpTo4 = kSeq1 | kSeq2 | kSeq3 | kSeq4,
    kSeqArm = kSeq1 | kSeq3 | kSeq4,
    kSeqAny = 0,  // no check
};

// Request count 0, then: level 0 and levels 2..lastLevel carry suffix 1, the SEQuence suffix
// is one of seqMask (kSeqAny: any).
int begin(indic* ind, int16_t* requestCount, short lastLevel, uint32_t seqMask)
{
    if (int r = handlerStart(ind, requestCount, 0))
        return r;
    if (lastLevel >= 2 && tstind(ind, 2, lastLevel) != 0)
        return kErrSuffixOutOfRange;
    if (seqMask != kSeqAny) {
        const int seq = ind->suffix[1];
        if (seq < 1 || seq > 4 || (seqMask & (1u << seq)) == 0)
            return kErrSuffixOutOfRange;
    }
    return 0;
}

// Source 1, 2, 3 select channel 2, 3, 4; any other value channel 1. 0-based.
int channelOf(int32_t source)
{
    return source >= 1 && source <= 3 ? source : 0;
}

int trigChannel()
{
    return channelOf(data.trigSource);
}

int armChannel()
{
    return channelOf(data.qualifSource);
}

int32_t readParam(int number)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(number));
}

// A set carries its value in record 0; the decoder normally rejects a missing one first.
bool hasValue(const indic* ind)
{
    return ind->paramCount >= 1;
}

// Resolves a time parameter in 8-ns steps. 64-bit: the delay counter reaches 2500000000.
int timeSteps(const char* area, int64_t current, int64_t low, int64_t high, int64_t step, int64_t* out)
{
    switch (paramSpecial(area, 0)) {
    case kSpecialNone: {
        // Rounded to the nearest step: the integer part of (t + half a step) / step.
        const double steps = std::trunc((static_cast<double>(paramFloat(area, 0)) + kStepSeconds / 2) / kStepSeconds);
        if (!(steps >= static_cast<double>(low) && steps <= static_cast<double>(high)))
            return kErrDataOutOfRange;
        *out = static_cast<int64_t>(steps);
        return 0;
    }
    case kSpecialMin:
        *out = low;
        return 0;
    case kSpecialMax:
        *out = high;
        return 0;
    case kSpecialUp:
    case kSpecialDown: {
        const int64_t next = current + (paramSpecial(area, 0) == kSpecialUp ? step : -step);
        if (next < low || next > high)
            return kErrDataOutOfRange;
        *out = next;
        return 0;
    }
    default:
        return kErrQuery;
    }
}

int replySeconds(double steps)
{
    return replyFormat("%.2e\n\r", steps * kStepSeconds);
}

// ---- shared bodies of the TRIGger / ARM twins

// COUPling set: AC (0) or DC (1) into the channel's coupling.
int setCoupling(const char* area, pipe_dial* requests, int16_t* requestCount, int channel)
{
    const uint16_t index = paramIndex(area, 0);
    if (index > 1)
        return kErrInvalidCharacterData;
    addSetting(requests, requestCount, param::trigCouplingCh1 + channel, index);
    return 0;
}

// FILTer:HPASs / LPASs: ON selects the filter (coupling 2 or 3), OFF goes back to DC.
int filterCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int channel,
                  int16_t filterCoupling)
{
    const int code = param::trigCouplingCh1 + channel;
    if (ind->query) {
        replyText(readParam(code) == filterCoupling ? "1" : "0");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, code, paramBool(area, 0) != 0 ? filterCoupling : 1);
    return 0;
}

// HYSTeresis: 0 turns noise reject off, 3 turns it on; the query answers in the same terms.
int hysteresisCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int channel)
{
    const int code = param::noiseRejectCh1 + channel;
    const int32_t current = readParam(code) != 0 ? 1 : 0;
    if (ind->query) {
        replyText(current ? "3" : "0");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    int32_t value = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        const int32_t n = paramInt(area, 0);
        if (n != 0 && n != 3)
            return kErrDataOutOfRange;
        value = n == 3 ? 1 : 0;
    } else if (int r = numericParam(paramSpecial(area, 0), 0, current, 0, 1, 1, &value)) {
        return r;
    }
    addSetting(requests, requestCount, code, value);
    return 0;
}

// SLOPe: table G, POSitive (1) -> edge 0, NEGative (2) -> edge 1.
int slopeCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int channel)
{
    const int code = param::trigEdgeCh1 + channel;
    if (ind->query) {
        replyText(readParam(code) != 0 ? "NEG" : "POS");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const uint16_t index = paramIndex(area, 0);
    if (index != 1 && index != 2)
        return kErrInvalidCharacterData;  // NO, EITHer, WINDow
    addSetting(requests, requestCount, code, index - 1);
    return 0;
}

const char* sourceText(int32_t source)
{
    static const char* const kTexts[4] = {"INT1", "INT2", "INT3", "INT4"};
    return kTexts[source >= 3 ? 3 : channelOf(source)];
}

// SOURce set from a table F / Z index (two spellings per channel): the channel must be
// installed.
int setSource(uint16_t index, pipe_dial* requests, int16_t* requestCount, int code)
{
    const int channel = index / 2;
    if (channel > 3 || (data.hwChannelMask & (1u << channel)) == 0)
        return kErrSettingsConflict;
    addSetting(requests, requestCount, code, channel);
    return 0;
}

// LEVel: the level is kept in thousandths of the channel's screen range; replies and numbers
// are in the trace's units. trig selects the TRIGger conversion (rounded, screen codes) over
// the ARM one (truncated, 262 codes).
int levelCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int channel, bool trig)
{
    TSetupLinks& links = setupLinks();
    TAcquisition* const traces[4] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};
    TAcquisition* trace = traces[channel];
    const short sensitivity = static_cast<short>(readParam(param::sensitivityCh1 + channel));
    const double scale = GetVerticalScale(trace, SCALE_SCOPE, sensitivity);
    const double offset = GetVerticalOffset(trace, SCALE_SCOPE);
    const int code = param::trigLevelCh1 + channel;
    const int32_t current = readParam(code);
    if (ind->query) {
        replyFormat("%.2e\n\r", current * kCodesPerThousandth * scale + offset);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const int32_t bound = max_par.trigLevelCh1;
    int32_t level = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        const double v = paramFloat(area, 0);
        const double d = trig ? (v - offset) * 1000.0 / (scale * kLevelScreenCodes)
                              : (v - offset) / (scale * kCodesPerThousandth);
        if (!(std::fabs(d) <= bound))  // also a zero scale (inf, NaN)
            return kErrDataOutOfRange;
        level = static_cast<int32_t>(trig ? std::floor(d + 0.5) : std::trunc(d));
    } else if (int r = numericParam(paramSpecial(area, 0), 0, current, -bound, bound, 1, &level)) {
        return r;
    }
    addSetting(requests, requestCount, code, level);
    return 0;
}

} // namespace

// ---- TRIGger

// TRIG:ATRIGger[:STATe] ON | OFF | -1: auto (0), triggered (1) or trigger mode 4.
int TrigAtrig(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 3, kSeqUpTo4))
        return r;
    if (ind->query) {
        const int16_t mode = data.trigMode;
        replyText(mode == 4 ? "-1" : mode == 0 ? "1" : "0");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const uint8_t state = paramBool(area, 0);
    addSetting(requests, requestCount, param::trigMode, state == 255 ? 4 : state != 0 ? 0 : 1);
    return 0;
}

// TRIG:COUPling AC | DC.
int TrigCoup(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqUpTo4))
        return r;
    const int channel = trigChannel();
    if (ind->query) {
        const int32_t coupling = readParam(param::trigCouplingCh1 + channel);
        // Filters report the coupling underneath them: high-pass is AC, low-pass DC.
        replyText(coupling == 1 || coupling == 3 ? "DC" : coupling == 0 || coupling == 2 ? "AC" : "NONE");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    return setCoupling(area, requests, requestCount, channel);
}

// TRIG:SEQn:DEFine? names the trigger sequence n, whatever the setup says.
int TrigDef(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqUpTo4))
        return r;
    static const char* const kNames[5] = {"", "EDGE", "PUL", "DEL", "EVEN"};
    replyText(kNames[ind->suffix[1]]);
    return 0;
}

// TRIG:SEQ2:DELay (pulse time T1) and TRIG:SEQ3:DELay (trigger delay), in seconds.
int TrigDel(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeq2 | kSeq3))
        return r;
    const bool pulse = ind->suffix[1] == 2;
    const int code = pulse ? param::pulseT1 : param::trigDelay;
    const int64_t current = pulse ? int64_t{data.pulseT1} : int64_t{data.trigDelay};
    if (ind->query) {
        replySeconds(static_cast<double>(current));
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const int64_t low = pulse ? 2 : 6;
    const int64_t high = pulse ? int64_t{max_par.pulseT1} : int64_t{max_par.trigDelay};
    // Keywords step by the width shown on screen. A width that is no usable step count (from a
    // damaged setup) lets UP and DOWN fail like any step out of range.
    const double width = data.zoomWidth;
    const int64_t step = width >= 0.0 && width <= static_cast<double>(high) ? static_cast<int64_t>(width) : high + 1;
    int64_t steps = 0;
    if (int r = timeSteps(area, current, low, high, step, &steps))
        return r;
    addSetting(requests, requestCount, code, static_cast<intptr_t>(steps));
    return 0;
}

// TRIG:DELDpulse: pulse time T2, in seconds.
int TrigDeld(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeq1 | kSeq2))
        return r;
    if (ind->query) {
        replySeconds(static_cast<double>(data.pulseT2));
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    int64_t steps = 0;
    if (int r = timeSteps(area, data.pulseT2, 2, max_par.pulseT2, 1, &steps))
        return r;
    addSetting(requests, requestCount, param::pulseT2, static_cast<intptr_t>(steps));
    return 0;
}

// TRIG:ECOunt n: events counted before the trigger.
int TrigEco(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeq1 | kSeq4))
        return r;
    if (ind->query) {
        replyInt(data.eventCount);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    int32_t count = 0;
    if (int r = numericParam(area, 0, data.eventCount, 3, max_par.eventCount, 1, &count))
        return r;
    addSetting(requests, requestCount, param::eventCount, count);
    return 0;
}

int TrigFiltHpas(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 4, kSeqUpTo4))
        return r;
    return filterCommand(ind, area, requests, requestCount, trigChannel(), 2);
}

int TrigFiltLpas(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 4, kSeqUpTo4))
        return r;
    return filterCommand(ind, area, requests, requestCount, trigChannel(), 3);
}

// TRIG:HOLDoff t, in seconds; any SEQuence.
int TrigHold(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqAny))
        return r;
    if (ind->query) {
        // The holdoff has always been shown from a single-precision product.
        const float seconds = static_cast<float>(data.trigHoldoff) * 8e-9f;
        replyFormat("%.2e\n\r", static_cast<double>(seconds));
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    int64_t steps = 0;
    if (int r = timeSteps(area, data.trigHoldoff, kHoldoffLow, kHoldoffHigh, 1, &steps))
        return r;
    addSetting(requests, requestCount, param::trigHoldoff, static_cast<intptr_t>(steps));
    return 0;
}

int TrigHyst(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 3, kSeqUpTo4))
        return r;
    return hysteresisCommand(ind, area, requests, requestCount, trigChannel());
}

// TRIG:LEVel v, in the source trace's units. Sources beyond channel 4 have no level.
int TrigLev(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqUpTo4))
        return r;
    if (data.trigSource >= 4)
        return kErrSuffixOutOfRange;
    return levelCommand(ind, area, requests, requestCount, trigChannel(), true);
}

// TRIG:RUN:STATe ON | OFF: run or stop the acquisition.
int TrigRunStat(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 3, kSeqUpTo4))
        return r;
    if (ind->query) {
        replyText(data.acqRunStop == 0 ? "1" : "0");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::acqRunStop, paramBool(area, 0) != 0 ? 0 : 1);
    return settingsTakenInMode(requests, requestCount);
}

int TrigSlop(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqUpTo4))
        return r;
    return slopeCommand(ind, area, requests, requestCount, trigChannel());
}

// TRIG:SOURce INTn (table F).
int TrigSour(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqUpTo4))
        return r;
    if (ind->query) {
        replyText(sourceText(data.trigSource));
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    return setSource(paramIndex(area, 0), requests, requestCount, param::trigSource);
}

// TRIG:TYPe: pulse comparison (table Y: INFerior, SUPerior, EQUate, INSide, OUTside).
int TrigTyp(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeq1 | kSeq2))
        return r;
    if (ind->query) {
        static const char* const kTexts[4] = {"INF", "SUP", "INT", "OUT"};
        const int16_t type = data.pulseType;
        replyText(kTexts[type < 0 ? 0 : type > 3 ? 3 : type]);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    static const int8_t kTypes[5] = {0, 1, -1, 2, 3};  // EQUate is not supported
    const uint16_t index = paramIndex(area, 0);
    if (index > 4 || kTypes[index] < 0)
        return kErrInvalidCharacterData;
    addSetting(requests, requestCount, param::pulseType, kTypes[index]);
    return 0;
}

// ---- ARM: the same settings on the qualifier channel; SEQuence 1, 3 or 4.

int ArmCoup(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqArm))
        return r;
    const int channel = armChannel();
    if (ind->query) {
        const int32_t coupling = readParam(param::trigCouplingCh1 + channel);
        replyText(coupling == 0 ? "AC" : coupling == 1 ? "DC" : "NONE");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    return setCoupling(area, requests, requestCount, channel);
}

int ArmFiltHpas(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 4, kSeqArm))
        return r;
    return filterCommand(ind, area, requests, requestCount, armChannel(), 2);
}

int ArmFiltLpas(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 4, kSeqArm))
        return r;
    return filterCommand(ind, area, requests, requestCount, armChannel(), 3);
}

int ArmHyst(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqArm))
        return r;
    return hysteresisCommand(ind, area, requests, requestCount, armChannel());
}

// ARM:LEVel v: a set needs a qualifier on a channel.
int ArmLev(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqArm))
        return r;
    if (!ind->query && data.qualifSource > 3)
        return kErrSettingsConflict;
    return levelCommand(ind, area, requests, requestCount, armChannel(), false);
}

int ArmSlop(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqArm))
        return r;
    return slopeCommand(ind, area, requests, requestCount, armChannel());
}

// ARM:SOURce INTn (table Z); the analogue-internal and timer qualifiers are not available.
int ArmSour(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = begin(ind, requestCount, 2, kSeqArm))
        return r;
    if (ind->query) {
        replyText(sourceText(data.qualifSource));
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const uint16_t index = paramIndex(area, 0);
    if (index >= 8)
        return kErrSettingsConflict;  // AINTernal, TIMer
    return setSource(index, requests, requestCount, param::qualifSource);
}
