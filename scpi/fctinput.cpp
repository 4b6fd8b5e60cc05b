// INPut, CALCulate and SENSe handlers of the scope: coupling, math expressions, FFT display and
// window, averaging, bandwidth limits, vertical offset and range, horizontal offset.
//
// SENSe is the root's optional level: whether written or not it is level 0 with suffix 1.
#include "scpi/fct.h"

#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/utilities.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kErrInvalidExpression = 20;  // -171
constexpr double kScreenCodes = 262080.0;
constexpr double kCodesPerThousandth = 262.0;
constexpr int32_t kSweepOffsetLow = -92800;
constexpr int kSensitivityMax = 15;
constexpr int kAverageIndexMax = 4;
constexpr uint16_t kMeterModes = 0x80;

int32_t readParam(int number)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(number));
}

// Levels 0..lastLevel carry suffix 1, except channelLevel whose suffix is the channel 1..4.
// *channel := 0-based channel. 0 or 11.
int channelStart(indic* ind, int16_t* requestCount, short lastLevel, short channelLevel, int* channel)
{
    *requestCount = 0;
    const int n = ind->suffix[channelLevel];
    if (n < 1 || n > 4)
        return kErrSuffixOutOfRange;
    if ((channelLevel > 0 && tstind(ind, 0, static_cast<short>(channelLevel - 1)) != 0) ||
        tstind(ind, static_cast<short>(channelLevel + 1), lastLevel) != 0)
        return kErrSuffixOutOfRange;
    *channel = n - 1;
    return 0;
}

TAcquisition* channelTrace(int channel)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return t[channel];
}

TFonction* channelFunction(int channel)
{
    const TSetupLinks& l = setupLinks();
    TFonction* const f[4] = {l.mathFunctionCh1, l.mathFunctionCh2, l.mathFunctionCh3, l.mathFunctionCh4};
    return f[channel];
}

// The VOLTage n levels: suffixes, then channel n's trace (null link: 24).
int traceStart(indic* ind, int16_t* requestCount, int* channel, TAcquisition** trace)
{
    if (int r = channelStart(ind, requestCount, 4, 1, channel))
        return r;
    *trace = channelTrace(*channel);
    return *trace ? 0 : kErrSettingsConflict;
}

bool hasValue(const indic* ind)
{
    return ind->paramCount >= 1;
}

// A quotient of the conversions: finite and inside 32 bits, else 25 (a zero scale counts so).
bool usableQuotient(double q)
{
    return std::isfinite(q) && q >= static_cast<double>(INT32_MIN) && q <= static_cast<double>(INT32_MAX);
}

// A mnemonic setting: reply kTexts[value] for a query, else post the decoded index (below count).
int tableCommand(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int code,
                 const char* const* texts, int count)
{
    if (ind->query) {
        int32_t v = readParam(code);
        replyText(texts[v < 0 ? 0 : v >= count ? count - 1 : v]);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const uint16_t index = paramIndex(area, 0);
    if (index >= count)
        return kErrInvalidCharacterData;
    addSetting(requests, requestCount, code, index);
    return 0;
}

} // namespace

// INPut n:COUPling AC | DC | GROund.
int InpCoup(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = channelStart(ind, requestCount, 1, 0, &channel))
        return r;
    static const char* const kTexts[3] = {"AC", "DC", "GRO"};
    return tableCommand(ind, area, requests, requestCount, param::couplingCh1 + 2 * channel, kTexts, 3);
}

// CALCulate:MATH n[:EXPRession][:DEFine] (expression).
int CalcMath(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = channelStart(ind, requestCount, 3, 1, &channel))
        return r;
    if (ind->query) {
        TFonction* f = channelFunction(channel);
        if (!f)
            return kErrSettingsConflict;
        char text[TFonction::kTextSize];
        f->GetFonctionString(text, false);
        replyFormat("(%s)\n\r", text);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    // The text stays in the decoder's area until the controller has released the request.
    char* text = const_cast<char*>(paramText(area, 0));
    char empty[1] = {0};
    TFonction check(0, empty);
    if (!check.SetFonctionString(text, false))
        return kErrInvalidExpression;
    addSetting(requests, requestCount, param::mathExprCh1 + channel, reinterpret_cast<intptr_t>(text));
    addSetting(requests, requestCount, param::mathFunctionCh1 + channel, 1);
    return 0;
}

// CALCulate:MATH n[:EXPRession]:DELete: hides the channel; its expression stays.
int CalcMathDel(indic* ind, char*, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = channelStart(ind, requestCount, 3, 1, &channel))
        return r;
    addSetting(requests, requestCount, param::traceOnCh1 + 2 * channel, 0);
    return 0;
}

// CALCulate:TRANsform:FREQuency[:STATe]: the FFT display.
int CalcTranFreq(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, 3))
        return r;
    const int16_t format = data.traceFormat;
    if (ind->query) {
        replyText(format == 1 || format == 3 ? "1" : "0");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const bool on = paramBool(area, 0) != 0;
    int32_t next = 0;
    if (format == 0 || format == 1)
        next = on ? 1 : 0;
    else if (format == 2)
        next = on ? 1 : 2;  // XY stays XY
    addSetting(requests, requestCount, param::traceFormat, next);
    return 0;
}

// CALCulate:TRANsform:FREQuency:WINDow.
int CalcTranFreqWind(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, 3))
        return r;
    static const char* const kTexts[5] = {"RECT", "HAMM", "HANN", "BLAC", "FLATTOP"};
    return tableCommand(ind, area, requests, requestCount, param::fftWindow, kTexts, 5);
}

// [SENSe]:AVERage:COUNt n: the factor 0, 2, 4, 16 or 64, kept as its index.
int AverCoun(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, 2))
        return r;
    static const int kFactors[kAverageIndexMax + 1] = {0, 2, 4, 16, 64};
    const int16_t current = data.averageCount;
    if (ind->query) {
        replyInt(kFactors[current < 0 ? 0 : current > kAverageIndexMax ? kAverageIndexMax : current]);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    int32_t index = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        // Taken as unsigned: every negative count is above 64.
        const uint32_t n = static_cast<uint32_t>(paramInt(area, 0));
        if (n > 64)
            return kErrDataOutOfRange;
        index = n == 64 ? 4 : n >= 16 ? 3 : n >= 4 ? 2 : n >= 2 ? 1 : 0;
    } else if (int r = numericParam(paramSpecial(area, 0), 0, current, 0, kAverageIndexMax, 1, &index)) {
        return r;
    }
    addSetting(requests, requestCount, param::averageCount, index);
    return 0;
}

// [SENSe]:AVERage:TYPE NORMal | ENVelope.
int AverType(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, 2))
        return r;
    static const char* const kTexts[2] = {"NORM", "ENV"};
    return tableCommand(ind, area, requests, requestCount, param::minMax, kTexts, 2);
}

// [SENSe]:AVERage[:STATe].
int Aver(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, 2))
        return r;
    if (ind->query) {
        replyText(data.repSig != 0 ? "1" : "0");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::repSig, paramBool(area, 0) != 0 ? 1 : 0);
    return 0;
}

// [SENSe]:BANDwidth n[:RESolution] f: the channel's bandwidth limit.
int BandRes(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = channelStart(ind, requestCount, 2, 1, &channel))
        return r;
    if (data.instrumentMode & kMeterModes)
        return kErrSettingsConflict;
    const int code = param::bwLimitCh1 + channel;
    if (ind->query) {
        const int32_t limit = readParam(code);
        replyText(limit <= 0 ? "0" : limit == 1 ? "15.0e6" : limit == 2 ? "1.5e6" : "5.0e3");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const double f = paramSpecial(area, 0) == kSpecialNone ? paramFloat(area, 0) : 0.0;  // keywords: 0
    int32_t limit = 0;
    if (f <= 0.0)
        limit = 0;
    else if (f <= 5000.0)
        limit = 3;
    else if (f <= 1.5e6)
        limit = 2;
    else if (f <= 1.5e7)
        limit = 1;
    addSetting(requests, requestCount, code, limit);
    return 0;
}

// [SENSe]:VOLTage n[:DC]:RANGe:OFFSet v: the offset in thousandths of the screen range.
int VoltRangOffs(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    TAcquisition* trace = nullptr;
    if (int r = traceStart(ind, requestCount, &channel, &trace))
        return r;
    const int code = param::offsetCh1 + channel;
    const int32_t current = readParam(code);
    const double offset = GetVerticalOffset(trace, SCALE_SCOPE);
    if (ind->query) {
        replyFormat("%.2e\n\r", current * kCodesPerThousandth * GetVerticalScale(trace, SCALE_SCOPE, -1) + offset);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const int32_t bound = max_par.offsetCh1;
    int32_t value = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        const short sensitivity = static_cast<short>(readParam(param::sensitivityCh1 + channel));
        const double scale = GetVerticalScale(trace, SCALE_SCOPE, sensitivity);
        const double d = (paramFloat(area, 0) - offset) * 1000.0 / (scale * kScreenCodes);
        if (!usableQuotient(d) || std::fabs(std::trunc(d)) > bound)
            return kErrDataOutOfRange;
        value = static_cast<int32_t>(std::floor(d + 0.5));
    } else if (int r = numericParam(paramSpecial(area, 0), 0, current, -bound, bound, 1, &value)) {
        return r;
    }
    addSetting(requests, requestCount, code, value);
    return 0;
}

// [SENSe]:VOLTage n[:DC]:RANGe:PTPeak v: the sensitivity, as volts peak to peak over the screen.
int VoltRangPtp(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    TAcquisition* trace = nullptr;
    if (int r = traceStart(ind, requestCount, &channel, &trace))
        return r;
    const int code = param::sensitivityCh1 + channel;
    const int32_t current = readParam(code);
    if (ind->query) {
        replyFormat("%.2e\n\r", GetVerticalScale(trace, SCALE_SCOPE, static_cast<short>(current)) * kScreenCodes);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    int32_t index = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        const double b = paramFloat(area, 0) / kScreenCodes;
        if (!std::isfinite(b) || b < GetVerticalScale(trace, SCALE_SCOPE, 0) ||
            b > GetVerticalScale(trace, SCALE_SCOPE, kSensitivityMax))
            return kErrDataOutOfRange;
        while (index < kSensitivityMax &&
               FloatisInf(GetVerticalScale(trace, SCALE_SCOPE, static_cast<short>(index)), static_cast<float>(b)))
            ++index;
    } else if (int r = numericParam(paramSpecial(area, 0), 0, current, 0, kSensitivityMax, 1, &index)) {
        return r;
    }
    addSetting(requests, requestCount, code, index);
    return 0;
}

// [SENSe]:SWEep:OFFSet:TIME t: the horizontal offset in samples.
int SensSweOffsTime(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, 3))
        return r;
    const double scale = GetHorizontalScale(static_cast<unsigned short>(data.userTimeBase));
    const int32_t current = data.sweepOffset;
    if (ind->query) {
        replyFormat("%.2e\n\r", current * scale);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const int32_t high = max_par.sweepOffset;
    int32_t value = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        const double a = paramFloat(area, 0) / scale;
        if (!usableQuotient(a))
            return kErrDataOutOfRange;
        const double steps = std::trunc(a);
        if (steps < kSweepOffsetLow || steps > high)
            return kErrDataOutOfRange;
        value = static_cast<int32_t>(steps);
    } else {
        // A width that is no usable step (a damaged setup) lets UP and DOWN fail as out of range.
        const double width = data.zoomWidth;
        const int64_t span = int64_t{high} - kSweepOffsetLow;
        const int32_t step = width >= 0.0 && width <= static_cast<double>(span) ? static_cast<int32_t>(width)
                                                                               : INT32_MAX;
        if (int r = numericParam(paramSpecial(area, 0), 0, current, kSweepOffsetLow, high, step, &value))
            return r;
    }
    addSetting(requests, requestCount, param::sweepOffset, value);
    return 0;
}
