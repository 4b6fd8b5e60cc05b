// DISPlay handlers: brightness, the manual cursors and the trace display. WINDow is an optional
// level, counted all the same: level 0 DISPlay, 1 WINDow, 2 CURSor or TRACe, then deeper.
#include "scpi/fct.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/utilities.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kScopeModes = 0x10;
constexpr int kInt5 = 4;
// Sample codes: screen centre and the codes per screen height.
constexpr double kScreenCentre = 524256.0;
// The per-division time of a time base: the record is 100000 samples over ten divisions.
constexpr double kSamplesPerDivision = 100000.0 / 10.0;

// The unit text of the last Y:LABel: the request carries its address.
char s_unitLabel[10];

int32_t readParam(int number)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(number));
}

bool hasValue(const indic* ind)
{
    return ind->paramCount >= 1;
}

// Levels 0..lastLevel carry suffix 1, except channelLevel (when >= 0) whose suffix must lie in
// 1..channels; the suffix - 1 goes to *channel.
int start(indic* ind, int16_t* requestCount, short lastLevel, short channelLevel = -1, int channels = 0,
          int* channel = nullptr)
{
    *requestCount = 0;
    for (short level = 0; level <= lastLevel; ++level) {
        const int suffix = ind->suffix[level];
        if (level == channelLevel) {
            if (suffix < 1 || suffix > channels)
                return kErrSuffixOutOfRange;
            *channel = suffix - 1;
        } else if (suffix != 1) {
            return kErrSuffixOutOfRange;
        }
    }
    return 0;
}

TAcquisition* referenceTrace()
{
    TSetupLinks& links = setupLinks();
    switch (data.measRefChannel) {
    case 2:
        return links.acqCh2;
    case 4:
        return links.acqCh3;
    case 8:
        return links.acqCh4;
    default:
        return links.acqCh1;
    }
}

bool cursorsShown()
{
    return (data.cursorState & 1) != 0;
}

const char* channelText(int32_t index)
{
    static const char* const kTexts[4] = {"INT1", "INT2", "INT3", "INT4"};
    return index >= 0 && index <= 3 ? kTexts[index] : "";
}

// A double that must become a 32-bit parameter: finite and in low..high after truncation.
int truncatedInRange(double value, int32_t low, int32_t high, int32_t* out)
{
    const double t = std::trunc(value);
    if (!(t >= low && t <= high))
        return kErrDataOutOfRange;
    *out = static_cast<int32_t>(t);
    return 0;
}

// A position parameter: a number through convert, or MINimum low / MAXimum high; other
// keywords are refused.
template <typename Convert>
int positionParam(const char* area, int32_t high, Convert convert, int32_t* out)
{
    switch (paramSpecial(area, 0)) {
    case kSpecialNone:
        return truncatedInRange(convert(static_cast<double>(paramFloat(area, 0))), 0, high, out);
    case kSpecialMin:
        *out = 0;
        return 0;
    case kSpecialMax:
        *out = high;
        return 0;
    default:
        return kErrQuery;
    }
}

double perDivision(int index)
{
    return static_cast<double>(GetHorizontalScaleT(static_cast<unsigned short>(index))) * kSamplesPerDivision;
}

// A table M choice of the channel selections that index four-entry tables: INT5 is refused.
int channelChoice(const char* area, uint16_t* index)
{
    *index = paramIndex(area, 0);
    return *index >= kInt5 ? kErrInvalidCharacterData : 0;
}

int xyDefine(indic* ind, const char* area, pipe_dial* requests, int16_t* requestCount, int code)
{
    if (int r = start(ind, requestCount, 4))
        return r;
    if (ind->query)
        return replyText(channelText(readParam(code))), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    uint16_t index = 0;
    if (int r = channelChoice(area, &index))
        return r;
    addSetting(requests, requestCount, code, index);
    return 0;
}

} // namespace

// DISPlay:BRIGhtness x: a fraction 0..1 onto the ten backlight steps.
int DispBrig(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount, 1))
        return r;
    if (!hasValue(ind))
        return kErrMissingParameter;
    int32_t level = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        const double x = static_cast<double>(paramFloat(area, 0)) * 9.0 + 0.5;
        if (std::isnan(x))
            return kErrDataOutOfRange;
        level = static_cast<int32_t>(std::trunc(x < 0.0 ? 0.0 : x > 9.0 ? 9.0 : x));
    } else if (int r = numericParam(paramSpecial(area, 0), 0, data.displayBrightness, 0, 9, 1, &level)) {
        return r;
    }
    addSetting(requests, requestCount, param::displayBrightness, level);
    return 0;
}

// DISP:CURSor:REFerence INTn: the channel of the cursor measurements, a shown one.
int DispCursRef(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount, 3))
        return r;
    if (ind->query) {
        const int16_t ref = data.measRefChannel;
        replyText(ref == 1 ? "INT1" : ref == 2 ? "INT2" : ref == 4 ? "INT3" : ref == 8 ? "INT4" : "");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    uint16_t index = 0;
    if (int r = channelChoice(area, &index))
        return r;
    if (readParam(param::traceOnCh1 + 2 * index) == 0)
        return kErrSettingsConflict;
    addSetting(requests, requestCount, param::measRefChannel, 1 << index);
    return 0;
}

// DISP:CURSor:STATe bool. State 3 belongs to the user interface and is left alone.
int DispCursStat(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount, 3))
        return r;
    if (ind->query)
        return replyText(data.cursorState != 0 ? "1" : "0"), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    if (data.cursorState == 3)
        return kErrSettingsConflict;
    addSetting(requests, requestCount, param::cursorState, paramBool(area, 0) != 0 ? 1 : 0);
    return 0;
}

// DISP:CURSor:TIME n:POSition t: seconds from the record's start onto a sample position.
int DispCursTimePos(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    static const int kCodes[3] = {param::cursor1Time, param::cursor2Time, param::cursor3Time};
    int cursor = 0;
    if (int r = start(ind, requestCount, 4, 3, 3, &cursor))
        return r;
    if (!cursorsShown())
        return kErrSettingsConflict;
    const double scale = GetHorizontalScaleT(static_cast<unsigned short>(data.timeBaseIndex));
    if (ind->query)
        return replyFormat("%.2e\n\r", readParam(kCodes[cursor]) * scale), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    int32_t position = 0;
    if (int r = positionParam(area, max_par.cursor1Time, [scale](double t) { return t / scale; }, &position))
        return r;
    addSetting(requests, requestCount, kCodes[cursor], position);
    return 0;
}

// DISP:CURSor:TIME n:YPOSition?: the reference trace's sample under time cursor n.
int DispCursTimeYpos(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    static const int kCodes[3] = {param::cursor1Time, param::cursor2Time, param::cursor3Time};
    int cursor = 0;
    if (int r = start(ind, requestCount, 4, 3, 3, &cursor))
        return r;
    if (!cursorsShown())
        return kErrSettingsConflict;
    TAcquisition* trace = referenceTrace();
    // The sample text carries its terminator; "?" alone does not.
    std::string text = trace ? trace->getSampleAt(static_cast<uint32_t>(readParam(kCodes[cursor]))) : "?";
    if (text == "?")
        text += "\n\r";
    PutMessage(text.c_str(), static_cast<int32_t>(text.size()));
    return 0;
}

// DISP:CURSor:VOLT n:POSition v: a voltage onto a display level code (larger codes are lower).
int DispCursVoltPos(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int cursor = 0;
    if (int r = start(ind, requestCount, 4, 3, 2, &cursor))
        return r;
    if (!cursorsShown())
        return kErrSettingsConflict;
    TAcquisition* trace = referenceTrace();
    const double offset = GetVerticalOffset(trace, SCALE_SCOPE);
    const double scale = GetVerticalScale(trace, SCALE_SCOPE, -1);
    const double cadrage = GetVerticalCadrage(trace, SCALE_SCOPE);
    const int code = cursor == 0 ? param::cursor1Level : param::cursor2Level;
    if (ind->query)
        return replyFormat("%.2e\n\r", (kScreenCentre - readParam(code) - cadrage) * scale + offset), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    int32_t level = 0;
    auto convert = [&](double v) { return (offset - v) / scale + kScreenCentre - cadrage; };
    if (int r = positionParam(area, max_par.cursor1Level, convert, &level))
        return r;
    addSetting(requests, requestCount, code, level);
    return 0;
}

// DISP:TRACe:FORMat A | XY.
int DispTracForm(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount, 3))
        return r;
    if (ind->query)
        return replyText(data.traceFormat == 2 ? "XY" : "A"), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::traceFormat, paramIndex(area, 0) == 0 ? 0 : 2);
    return 0;
}

// DISP:TRACe:MODE: the trace style, and the scope mode with it.
int DispTracMode(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    static const int32_t kModes[4] = {1, 2, 4, 5};
    if (int r = start(ind, requestCount, 3))
        return r;
    if (ind->query) {
        static const char* const kTexts[6] = {"DOT", "NORM", "ENV", "", "ALL", "ACC"};
        const int16_t mode = data.traceMode;
        replyText(mode >= 0 && mode <= 5 ? kTexts[mode] : "");
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const uint16_t index = paramIndex(area, 0);
    if (index > 3)
        return kErrInvalidCharacterData;
    addSetting(requests, requestCount, param::traceMode, kModes[index]);
    addSetting(requests, requestCount, param::instrumentMode, 16);
    return 0;
}

// DISP:TRACe:STATe n bool: channel n shown or hidden.
int DispTracStat(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = start(ind, requestCount, 3, 3, 4, &channel))
        return r;
    const int code = param::traceOnCh1 + 2 * channel;
    if (ind->query)
        return replyText(readParam(code) != 0 ? "1" : "0"), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, code, paramBool(area, 0) != 0 ? 1 : 0);
    return 0;
}

// DISP:TRACe:X[:SCALe]:PDIVision t: the time base by its seconds per division, zoom off.
int DispTracXPdiv(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount, 5))
        return r;
    if ((data.instrumentMode & kScopeModes) == 0)
        return kErrSettingsConflict;
    if (ind->query)
        return replyFormat("%.2e\n\r", perDivision(data.timeBaseIndex)), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    const int32_t last = max_par.timeBaseIndex;
    int32_t index = 0;
    if (paramSpecial(area, 0) == kSpecialNone) {
        const float t = paramFloat(area, 0);
        // The first and last time bases are the bounds themselves: the tolerance only picks a
        // time base between them.
        if (!(t >= static_cast<float>(perDivision(0)) && t <= static_cast<float>(perDivision(last))))
            return kErrDataOutOfRange;  // outside the time bases, or NaN
        index = -1;
        for (int32_t i = 0; i <= last && index < 0; ++i) {
            const double d = perDivision(i);
            if (FloatisEqu(t, static_cast<float>(d)) || t <= d)
                index = i;
        }
        if (index < 0)
            return kErrDataOutOfRange;
    } else if (int r = numericParam(paramSpecial(area, 0), 0, data.timeBaseIndex, 0, last, 1, &index)) {
        return r;
    }
    addSetting(requests, requestCount, param::zoomWidth, 4000);
    addSetting(requests, requestCount, param::timeBaseIndex, index);
    return 0;
}

int DispTracXYXdef(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return xyDefine(ind, area, requests, requestCount, param::xySourceX);
}

int DispTracXYYdef(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    return xyDefine(ind, area, requests, requestCount, param::xySourceY);
}

// DISP:TRACe:Y:LABel n "text": the channel's unit, at most three characters.
int DispTracYLab(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = start(ind, requestCount, 4, 4, 4, &channel))
        return r;
    if (ind->query) {
        const char* units[4] = {data.unitCh1, data.unitCh2, data.unitCh3, data.unitCh4};
        char text[sizeof data.unitCh1 + 1] = {};
        std::memcpy(text, units[channel], sizeof data.unitCh1);
        replyText(text);
        return 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const char* text = paramText(area, 0);
    const size_t length = strnlen(text, sizeof s_unitLabel);
    if (length > 3)
        return kErrStringTooLong;
    std::memset(s_unitLabel, 0, sizeof s_unitLabel);
    std::memcpy(s_unitLabel, text, length);
    addSetting(requests, requestCount, param::unitCh1 + channel, reinterpret_cast<intptr_t>(s_unitLabel));
    return 0;
}

// DISP:TRACe:Y[:SCALe]:PDIVision n v: the channel's probe coefficient.
int DispTracYPdiv(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    int channel = 0;
    if (int r = start(ind, requestCount, 5, 5, 4, &channel))
        return r;
    const int code = param::probeCoeffCh1 + channel;
    if (ind->query) {
        const float* coefficients[4] = {&data.probeCoeffCh1, &data.probeCoeffCh2, &data.probeCoeffCh3,
                                        &data.probeCoeffCh4};
        return replyFormat("%.2e\n\r", static_cast<double>(*coefficients[channel])), 0;
    }
    if (!hasValue(ind))
        return kErrMissingParameter;
    const float bound = max_par.probeCoeffCh1;
    float value = 0.0f;
    switch (paramSpecial(area, 0)) {
    case kSpecialNone:
        value = paramFloat(area, 0);
        if (!(value >= 0.0f && value <= bound))
            return kErrDataOutOfRange;
        break;
    case kSpecialMin:
        break;
    case kSpecialMax:
        value = bound;
        break;
    default:
        return kErrQuery;
    }
    addRequest(requests, requestCount, REQ_SET_PARAM, code, 0, 0, value);
    return 0;
}

// DISP:TRACe:Y:SPACing LIN | LOG: the FFT's vertical scale (1 is the dB scale).
int DispTracYSpac(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = start(ind, requestCount, 4))
        return r;
    if (ind->query)
        return replyText(data.fftVerticalScale == 0 ? "LIN" : "LOG"), 0;
    if (!hasValue(ind))
        return kErrMissingParameter;
    addSetting(requests, requestCount, param::fftVerticalScale, paramIndex(area, 0) == 0 ? 0 : 1);
    return 0;
}
