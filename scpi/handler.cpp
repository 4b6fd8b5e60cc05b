#include "scpi/handler.h"

#include "core/command_tables.h"
#include "core/gest_db.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

int handlerStart(indic* ind, int16_t* requestCount, short lastLevel)
{
    *requestCount = 0;
    return tstind(ind, 0, lastLevel) != 0 ? kErrSuffixOutOfRange : 0;
}

void fillRequest(pipe_dial* request, uint16_t kind, int32_t code, intptr_t auxValue, intptr_t intValue,
                 float floatValue)
{
    request->kind = kind;
    request->code = code;
    request->auxValue = auxValue;
    request->intValue = intValue;
    request->floatValue = floatValue;
    request->senderId = 0;
}

void addRequest(pipe_dial* requests, int16_t* requestCount, uint16_t kind, int32_t code, intptr_t auxValue,
                intptr_t intValue, float floatValue)
{
    fillRequest(&requests[*requestCount], kind, code, auxValue, intValue, floatValue);
    ++*requestCount;
}

void addSetting(pipe_dial* requests, int16_t* requestCount, int32_t code, intptr_t value)
{
    addRequest(requests, requestCount, REQ_SET_PARAM, code, 0, value, 0.0f);
}

int settingsTakenInMode(const pipe_dial* requests, int16_t* requestCount)
{
    for (int16_t i = 0; i < *requestCount; ++i) {
        const pipe_dial& r = requests[i];
        if (r.kind == REQ_SET_PARAM
            && droppedInMode(r.code & 0xFFFF, static_cast<int32_t>(r.intValue), data.instrumentMode)) {
            *requestCount = 0;
            return kErrSettingsConflict;
        }
    }
    return 0;
}

int numericParam(int32_t special, double number, int32_t current, int32_t low, int32_t high, int32_t step,
                 int32_t* out)
{
    switch (special) {
    case kSpecialNone:
        // Compared in double so that a huge number cannot wrap into the range.
        if (!(number >= low && number <= high))
            return kErrDataOutOfRange;
        *out = static_cast<int32_t>(number);
        return 0;
    case kSpecialMin:
        *out = low;
        return 0;
    case kSpecialMax:
        *out = high;
        return 0;
    case kSpecialUp:
    case kSpecialDown: {
        const int64_t next = static_cast<int64_t>(current) + (special == kSpecialUp ? step : -int64_t(step));
        if (next < low || next > high)
            return kErrDataOutOfRange;
        *out = static_cast<int32_t>(next);
        return 0;
    }
    default:  // DEFault, INFinity
        return kErrQuery;
    }
}

int numericParam(const char* area, int i, int32_t current, int32_t low, int32_t high, int32_t step,
                 int32_t* out)
{
    return numericParam(paramSpecial(area, i), static_cast<double>(paramInt(area, i)), current, low, high, step,
                        out);
}

namespace {
constexpr int kReplySize = 130;  // 127 characters, "\n\r" and the NUL
}

int replyText(const char* text)
{
    // One buffer, one write: a reply never reaches the client in pieces.
    char buffer[kReplySize];
    const int length = std::snprintf(buffer, sizeof buffer, "%.127s\n\r", text);
    return PutMessage(buffer, length);
}

int replyInt(int32_t value)
{
    return replyFormat("%d\n\r", static_cast<int>(value));
}

int replyFormat(const char* format, ...)
{
    char buffer[kReplySize];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0)
        return -1;
    if (length >= static_cast<int>(sizeof buffer)) {
        // Cut, but keep the terminator the client waits for.
        length = static_cast<int>(sizeof buffer) - 1;
        buffer[length - 2] = '\n';
        buffer[length - 1] = '\r';
    }
    return PutMessage(buffer, length);
}
