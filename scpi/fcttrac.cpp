// FORMat and TRACe handlers: the data format of arrays, the DIF wrapping, the sample window and
// the transfer of one trace. The settings live in the status store; nothing here posts a
// request.
#include "scpi/fct.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "scpi/blockdata.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/measure.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the trace words are sent as they lie in memory: four little-endian bytes each"
#endif

namespace {

constexpr uint32_t kRecordWords = TAcquisition::kSampleCount;
constexpr uint32_t kImageWords = TAcquisition::kLoggerWords;
constexpr uint8_t kFormatInteger = 3;
// The sample scale of a record: 262080 codes a screen height, 524256 its centre.
constexpr int32_t kScreenCodes = 262080;
constexpr int32_t kDifSize = 262081;
constexpr int32_t kDifOffsetBase = 393216;

// The private copy a trace is sent from, after the acquisition runs again.
uint32_t bufferSignal[kRecordWords];

int start(indic* ind, int16_t* requestCount)
{
    return handlerStart(ind, requestCount, static_cast<short>(ind->count - 1));
}

int write(const char* text)
{
    return PutMessage(text, static_cast<int32_t>(std::strlen(text)));
}

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Copies words of the trace into bufferSignal with the acquisition held between two cycles; its
// writers are parked, so the copy takes no lock.
void copyHeld(const uint32_t* source, uint32_t words)
{
    TMeasureHold& hold = measureHold();
    hold.suspend();
    const int64_t heldAt = hold.observer ? nowNs() : 0;
    std::memcpy(bufferSignal, source, words * sizeof(uint32_t));
    hold.resume();
    if (hold.observer)
        hold.observer(nowNs() - heldAt);
}

// The DIF header of a trace: its time and voltage scales.
int writeDifHeader(TAcquisition* trace, int channel, uint32_t step, uint32_t count)
{
    char text[256];
    std::snprintf(text, sizeof text, "(DIF (VER 1999.1) DIM=X (TYPE IMPL SCAL %e SIZE %i UNITs \"S\") ",
                  static_cast<double>(GetHorizontalScale(static_cast<unsigned short>(data.userTimeBase))) * step,
                  static_cast<int>(count));
    if (write(text) < 0)
        return -1;
    const int16_t offsets[4] = {data.offsetCh1, data.offsetCh2, data.offsetCh3, data.offsetCh4};
    const int16_t sensitivities[4] = {data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3,
                                      data.sensitivityCh4};
    const double scale = GetVerticalScale(trace, SCALE_SCOPE, sensitivities[channel]);
    // Integer division truncating toward zero, as C++ does.
    const int64_t codes = -((static_cast<int64_t>(offsets[channel]) + 500) * kScreenCodes / 1000) - kDifOffsetBase;
    std::snprintf(text, sizeof text, "DIM=Y (TYPE EXPL SCAL %e SIZE %d OFFS %e UNIT \"V\") DATA (CURV (", scale,
                  kDifSize, scale * static_cast<double>(codes));
    return write(text);
}

} // namespace

// FORMat[:DATA] ASCii | HEXadecimal | BINary | INTeger.
int Form(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query) {
        char word[16];
        search_mnemo(word, 'P', memform(2, 0));
        return write(word) < 0 ? kErrCommunication : 0;
    }
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    memform(1, static_cast<unsigned char>(paramIndex(area, 0)));
    return 0;
}

// FORMat:DINTerchange bool: wrap a trace in the DIF header and trailer.
int FormDint(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query)
        return replyText(memdint(2, 0) != 0 ? "1" : "0") < 0 ? kErrCommunication : 0;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    memdint(1, paramBool(area, 0) != 0 ? 1 : 0);
    return 0;
}

// TRACe:CATalog?: the live channels that can be read.
int TracCat(indic* ind, char*, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    std::string list;
    for (int channel = 0; channel < 4; ++channel)
        if ((data.channelFlags & (1u << channel)) != 0)
            list += (list.empty() ? "INT" : ",INT") + std::to_string(channel + 1);
    return replyText(list.c_str()) < 0 ? kErrCommunication : 0;
}

// TRACe:LIMit first,last,step: the window of the record that TRACe? sends.
int TracLim(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->query)
        return replyFormat("%u,%u,%u\n\r", memabsc1(2, 0), memabsc2(2, 0), mempas(2, 0)) < 0 ? kErrCommunication : 0;
    if (ind->paramCount < 3)
        return kErrMissingParameter;
    const int64_t first = paramInt(area, 0);
    const int64_t last = paramInt(area, 1);
    const int64_t step = paramInt(area, 2);
    // A step below 1 would divide by zero or count backwards in TRACe?.
    if (first < 0 || last < first || last >= kRecordWords || step < 1 || last - first < step)
        return kErrDataOutOfRange;
    memabsc1(1, static_cast<uint32_t>(first));
    memabsc2(1, static_cast<uint32_t>(last));
    mempas(1, static_cast<uint32_t>(step));
    return 0;
}

// TRACe[:DATA]? INTn | IMGn: the raw 32-bit words of a record (the window of TRACe:LIMit) or of
// its display points, each as four little-endian bytes in the data format.
int Trac(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    if (int r = start(ind, requestCount))
        return r;
    if (ind->paramCount < 1)
        return kErrMissingParameter;
    if (ind->paramCount > 1)
        return kErrParameterNotAllowed;
    const uint16_t index = paramIndex(area, 0);
    const int channel = index % 4;
    TSetupLinks& links = setupLinks();
    TAcquisition* const traces[4] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};
    TAcquisition* trace = traces[channel];
    if ((data.channelFlags & (1u << channel)) == 0 || !trace || !trace->samples)
        return kErrSettingsConflict;

    uint32_t first = 0;
    uint32_t step = 1;
    uint32_t count = kImageWords;
    if (index < 4) {
        first = memabsc1(2, 0);
        step = mempas(2, 0);
        const uint32_t last = memabsc2(2, 0);
        // The store holds checked values; a window beyond the record is never read.
        if (step < 1 || last < first || last >= kRecordWords)
            return kErrExecution;
        count = (last - first) / step + 1;
        copyHeld(trace->samples, kRecordWords);
    } else {
        copyHeld(trace->loggerRaw, kImageWords);
    }

    const bool dif = memdint(2, 0) != 0;
    const char format = static_cast<char>(memform(2, 0));
    if (dif && writeDifHeader(trace, channel, step, count) < 0)
        return kErrCommunication;
    const long bytes = static_cast<long>(count) * 4;
    if (format == kFormatInteger && entete_INT(format, static_cast<int>(bytes)) < 0)
        return kErrCommunication;
    if (first != 0 || step != 1)
        for (uint32_t k = 0; k < count; ++k)
            bufferSignal[k] = bufferSignal[first + k * step];
    const long sent = putParameterValue(format, reinterpret_cast<const unsigned char*>(bufferSignal), bytes,
                                        dif ? ")))\n\r" : "\n\r");
    return sent <= 0 ? kErrCommunication : 0;
}
