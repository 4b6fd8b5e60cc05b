// MEASure queries: one automatic measurement of a shown channel, or a cursor measurement, as a
// number. Each query holds the acquisition between two cycles, measures the held record, looks
// the value up and lets the acquisition run again before writing.
#include "scpi/fct.h"
#include "scpi/measure.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/scope.h"
#include "core/gest_db.h"
#include "hardware/handshake.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/params.h"
#include "ui/traces/automeaschannel.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kScopeModes = 0x10;
constexpr uint16_t kAcInterval = 0x1070;
constexpr uint16_t kAcCycles = 0x10C0;
constexpr uint16_t kCursorTime = 0x850;
constexpr uint16_t kCursorLevel = 0x1800;
constexpr int kInt5 = 4;
constexpr char kNoValue[] = "-----\n\r";
constexpr char kValue[] = "%3.3e\n\r";
constexpr char kCount[] = "%1.0f\n\r";

void holdSuspend()
{
    AcqSuspend();
}

void holdResume()
{
    AcqResume(SYNCHRO_RESUME);
}

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Holds, measures channel (0..3, or -1 for none) when asked, looks id up for the mask, resumes;
// the reply text goes into out. The mutex is taken inside the hold and given back before it ends.
void measureHeld(int channel, uint16_t mask, uint16_t id, const char* format, char* out, size_t room)
{
    TMeasureHold& hold = measureHold();
    hold.suspend();
    const int64_t heldAt = hold.observer ? nowNs() : 0;
    float value = 0.0f;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    if (channel >= 0)
        scopeMeasureChannel(&data, channel);
    const bool valid = AutoMeasChannel::getMeasurement(mask, id, nullptr, &value);
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    if (valid)
        std::snprintf(out, room, format, static_cast<double>(value));
    else
        std::snprintf(out, room, "%s", kNoValue);
    hold.resume();
    if (hold.observer)
        hold.observer(nowNs() - heldAt);
}

int write(const char* text)
{
    return PutMessage(text, static_cast<int32_t>(std::strlen(text)));
}

// The channel queries: suffixes, scope mode without FFT, a parameter, a shown channel.
int channelQuery(indic* ind, const char* area, int16_t* requestCount, uint16_t id, const char* format,
                 bool acMode = false)
{
    if (int r = handlerStart(ind, requestCount, static_cast<short>(ind->count - 1)))
        return r;
    if (!(data.instrumentMode & kScopeModes) || data.traceFormat == 1)
        return kErrSettingsConflict;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    const int channel = paramIndex(area, 0);
    if (channel < kInt5 && !(data.channelFlags & (1u << channel)))
        return kErrSettingsConflict;
    if (channel >= kInt5)
        return write(kNoValue);  // no channel behind it
    if (acMode)
        id = ind->paramCount >= 2 && paramIndex(area, 1) == 1 ? kAcInterval : kAcCycles;
    char reply[48];
    measureHeld(channel, static_cast<uint16_t>(1u << channel), id, format, reply, sizeof reply);
    return write(reply);
}

// The cursor queries read the reference channel's scale; the mask 1 when it names none.
int cursorQuery(indic* ind, int16_t* requestCount, uint16_t id)
{
    if (int r = handlerStart(ind, requestCount, static_cast<short>(ind->count - 1)))
        return r;
    if (!(data.cursorState & 1))
        return kErrSettingsConflict;
    const int16_t ref = data.measRefChannel;
    const uint16_t mask = ref == 1 || ref == 2 || ref == 4 || ref == 8 ? static_cast<uint16_t>(ref) : 1;
    char reply[48];
    measureHeld(-1, mask, id, kValue, reply, sizeof reply);
    return write(reply);
}

} // namespace

TMeasureHold defaultMeasureHold()
{
    return TMeasureHold{&holdSuspend, &holdResume, nullptr};
}

TMeasureHold& measureHold()
{
    static TMeasureHold hold = defaultMeasureHold();
    return hold;
}

#define CHANNEL_QUERY(name, id, format) \
    int name(indic* ind, char* area, pipe_dial*, int16_t* requestCount) \
    { \
        return channelQuery(ind, area, requestCount, id, format); \
    }

CHANNEL_QUERY(MeasAmpl, 0x1050, kValue)
CHANNEL_QUERY(MeasFallOver, 0x10A0, kValue)
CHANNEL_QUERY(MeasFallTime, 0x20, kValue)
CHANNEL_QUERY(MeasFreq, 0x70, kValue)
CHANNEL_QUERY(MeasHigh, 0x1040, kValue)
CHANNEL_QUERY(MeasLow, 0x1030, kValue)
CHANNEL_QUERY(MeasMax, 0x1010, kValue)
CHANNEL_QUERY(MeasMin, 0x1000, kValue)
CHANNEL_QUERY(MeasNwid, 0x40, kValue)
CHANNEL_QUERY(MeasPdut, 0x50, kValue)
CHANNEL_QUERY(MeasPer, 0x60, kValue)
CHANNEL_QUERY(MeasPtp, 0x1020, kValue)
CHANNEL_QUERY(MeasPulCoun, 0x80, kCount)
CHANNEL_QUERY(MeasPwid, 0x30, kValue)
CHANNEL_QUERY(MeasRiseOver, 0x1090, kValue)
CHANNEL_QUERY(MeasRiseTime, 0x10, kValue)
CHANNEL_QUERY(MeasSum, 0x10B0, kValue)
CHANNEL_QUERY(MeasVolt, 0x1080, kValue)

#undef CHANNEL_QUERY

// MEASure:AC? channel[, CYCle | INTerval]: RMS over whole cycles, or over the interval.
int MeasAc(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    return channelQuery(ind, area, requestCount, kAcCycles, kValue, true);
}

int MeasCursDtime(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    return cursorQuery(ind, requestCount, kCursorTime);
}

int MeasCursDvolt(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    return cursorQuery(ind, requestCount, kCursorLevel);
}

// MEASure:MANual:PHASe?: the third cursor's place within the period of the first two, in
// degrees. Read from the cursor table without a hold.
int MeasManPhas(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, static_cast<short>(ind->count - 1)))
        return r;
    if (!(data.cursorState & 1))
        return kErrSettingsConflict;
    const int32_t* cursors = setupLinks().cursorTablePtr;
    if (!cursors || cursors[1] == cursors[0])
        return write(kNoValue);  // no table, or no period to divide by
    const float shift = static_cast<float>(int64_t{cursors[4]} - cursors[0]);
    const float period = static_cast<float>(int64_t{cursors[1]} - cursors[0]);
    const float phase = static_cast<float>(static_cast<double>(shift) * 360.0 / static_cast<double>(period));
    return replyFormat("%3.1f\n\r", static_cast<double>(phase));
}
