// Web-service trace requests: the display records of the traces a client asks for, as raw codes
// after a short text head per trace, built by whole-block copies into the reply buffer.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kTraceIndexes = 14;

// The trace of index 0..13 (null for 8..11 and for a missing link).
TAcquisition* traceOf(int index)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const traces[kTraceIndexes] = {
        l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4, l.refAcqCh1, l.refAcqCh2, l.refAcqCh3, l.refAcqCh4,
        nullptr, nullptr, nullptr, nullptr, l.powerAcq, l.maskAcq,
    };
    return index >= 0 && index < kTraceIndexes ? traces[index] : nullptr;
}

int colourOf(int index)
{
    const int16_t colours[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4};
    if (index < 4)
        return colours[index];
    if (index < 8)
        return colours[index - 4] + 8;
    if (index == 12)
        return 14;
    const int source = data.passFailSource >= 1 && data.passFailSource <= 3 ? data.passFailSource : 0;
    return colours[source] + 8;
}

uint16_t availableTraces()
{
    uint32_t mask = (data.channelFlags & 0xFu) | ((data.channelFlags >> 8) & 0xFu) | (data.channelFlags & 0xF0u);
    if ((data.instrumentMode & 0x180) != 0 && (data.meterFunction & 8) != 0)
        mask |= 1u << 12;
    if (data.passFailOn != 0)
        mask |= 1u << 13;
    for (int i = 0; i < kTraceIndexes; ++i)
        if ((mask & (1u << i)) != 0 && traceOf(i) == nullptr)
            mask &= ~(1u << i);
    return static_cast<uint16_t>(mask);
}

int envelopeFlag(const TAcquisition* trace)
{
    return (trace->acqFlags & 6) != 0 || data.traceMode == 4 ? 1 : 0;
}

} // namespace

int32_t wsTracesReply(TWsReq* req, bool compressed)
{
    int32_t requested = 0;
    if (!wsKeySelector(req, "channels", &requested))
        return -1;
    const uint16_t available = availableTraces();
    const uint16_t selected = static_cast<uint16_t>(static_cast<uint32_t>(requested) & available);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(100000).integer(selected).integer(available).integer(data.xySourceX).integer(data.xySourceY);
    // The zoom pairs' texts, each formatted once per request.
    struct TPair {
        char text[80];
        int32_t length = -1;
    } pairs[3];
    for (int i = 0; i < kTraceIndexes; ++i) {
        if ((selected & (1u << i)) == 0)
            continue;
        const TAcquisition* trace = traceOf(i);
        reply.integer(i).integer(colourOf(i)).integer(envelopeFlag(trace));
        if (compressed) {
            reply.raw("1.0,0.0,", 8);
        } else {
            const int kind = data.traceFormat == 1 ? 1 : (data.traceFormat == 2 && i % 4 == data.xySourceX ? 2 : 0);
            TPair& pair = pairs[kind];
            if (pair.length < 0) {
                TWsReply text(pair.text, sizeof pair.text);
                if (kind == 1)
                    text.real(data.fftVZoomFactor).real(data.fftVZoomPosition);
                else if (kind == 2)
                    text.real(data.xyZoomFactor).real(data.xyZoomPosition);
                else
                    text.real(data.vZoomFactor).real(data.vZoomPosition);
                pair.length = text.size();
            }
            reply.raw(pair.text, pair.length);
        }
        // Padding up to a multiple of 4 of the running offset in the whole reply.
        const int padding = (8 - reply.size() % 4) % 8;
        reply.raw("00000000", padding).raw("2500,", 5);
        const uint32_t* codes = compressed ? trace->loggerEnvelope : trace->loggerRaw;
        reply.raw(codes, static_cast<int32_t>(sizeof trace->loggerRaw));
    }
    return reply.size();
}

namespace {

void sendTraces(TWsReq* req, bool compressed)
{
    const int32_t length = wsTracesReply(req, compressed);
    if (length < 0)
        wsReplyFailed(req);
    else
        wsResponseSend(req, tc_g_wsBuffer, length);
}

} // namespace

void wsRpmTracesScope(TWsReq* req)
{
    sendTraces(req, false);
}

void wsRpmTracesCompScope(TWsReq* req)
{
    sendTraces(req, true);
}
