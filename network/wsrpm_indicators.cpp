// Web-service indicator and measurement requests. The client draws cursors, zero lines and
// trigger marks in view units (thousandths of its window); the instrument keeps sample indices
// and 20-bit codes. Each quantity converts both ways with the view's zoom of the moment.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"
#include "network/wsscope.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/requests.h"
#include "ui/traces/automeaschannel.h"

#include <cmath>
#include <cstdint>
#include <pthread.h>

namespace {

void sendReply(TWsReq* req, const TWsReply& reply)
{
    wsResponseSend(req, reply.data(), reply.size());
}

bool toInt(double value, int32_t* out)
{
    return wsTruncate(value, out);
}

using TConversion = TWsConversion;

// The time or FFT view's conversions.
struct TView {
    TConversion time;
    TConversion level;
    TConversion zeroLine;
    TConversion triggerPosition;

    TView(float width, int32_t origin, float factor, int32_t position)
    {
        const float sT = 1000.0f / (width * 2500.0f);
        const float sL = factor * 1000.0f / 262080.0f;
        time = TConversion(sT, -static_cast<double>(origin));
        level = TConversion(sL, -static_cast<double>(position) / sL - 393216.0);
        zeroLine = TConversion(-static_cast<double>(factor), position / static_cast<double>(factor) - 500.0);
        triggerPosition = TConversion(-static_cast<double>(sT), origin);
    }
};

TView timeView()
{
    return TView(data.zoomWidth, data.horizPosition, data.vZoomFactor, data.vZoomPosition);
}

TView fftView()
{
    return TView(data.fftZoomWidth, data.fftHorizPosition, data.fftVZoomFactor, data.fftVZoomPosition);
}

// The XY view's conversions.
struct TXyView {
    TConversion x;
    TConversion level;
    TConversion xZeroLine;
    TConversion yZeroLine;

    TXyView()
    {
        const float xf = data.xyZoomFactor;
        const float f = data.vZoomFactor;
        const float sX = xf * 1000.0f / 262080.0f;
        const float sY = f * 1000.0f / 262080.0f;
        int32_t inner = 0;
        const bool innerOk = toInt(data.xyZoomPosition / static_cast<double>(sX) + 393216.0, &inner);
        x = TConversion(sX, innerOk ? inner + 1000.0 / sX : NAN);
        level = TConversion(sY, -static_cast<double>(data.vZoomPosition) / sY - 393216.0);
        xZeroLine = TConversion(xf, (data.xyZoomPosition + 1000.0) / xf - 500.0);
        yZeroLine = TConversion(-static_cast<double>(f), data.vZoomPosition / static_cast<double>(f) - 500.0);
    }
};

const int16_t& offsetOf(int channel)
{
    const int16_t* const offsets[4] = {&data.offsetCh1, &data.offsetCh2, &data.offsetCh3, &data.offsetCh4};
    return *offsets[channel];
}

const int16_t& fftOffsetOf(int channel)
{
    const int16_t* const offsets[4] = {&data.fftOffsetCh1, &data.fftOffsetCh2, &data.fftOffsetCh3,
                                       &data.fftOffsetCh4};
    return *offsets[channel];
}

const int16_t& triggerLevelOf(int channel)
{
    const int16_t* const levels[4] = {&data.trigLevelCh1, &data.trigLevelCh2, &data.trigLevelCh3,
                                      &data.trigLevelCh4};
    return *levels[channel];
}

const char* const kLabels[4] = {"1", "2", "3", "4"};

// p0..p5 of the time and FFT views: cursor state, reference channel, cursors 1 and 2.
int setCursors(TWsReq* req, const TView& view)
{
    int set = 0;
    set |= SetWsParamDirect(req, "p0", param::cursorState, data.cursorState);
    set |= SetWsParamDirect(req, "p1", param::measRefChannel, data.measRefChannel);
    set |= view.time.set(req, "p2", param::cursor1Time, data.cursor1Time);
    set |= view.level.set(req, "p3", param::cursor1Level, data.cursor1Level);
    set |= view.time.set(req, "p4", param::cursor2Time, data.cursor2Time);
    set |= view.level.set(req, "p5", param::cursor2Level, data.cursor2Level);
    return set;
}

} // namespace

bool wsTruncate(double value, int32_t* out)
{
    const double t = std::trunc(value);
    if (!std::isfinite(t) || t < INT32_MIN || t > INT32_MAX)
        return false;
    *out = static_cast<int32_t>(t);
    return true;
}

int wsSetZoomWidth(TWsReq* req, const char* widthKey, const char* positionKey)
{
    double width = 0.0;
    int32_t value = 0;
    if (!wsKeyReal(req, widthKey, &width) || !wsTruncate(width * 4.0, &value))
        return 0;
    // The controller takes the width in hundredths and the window position with it: the one
    // this request sets, else the current one.
    int32_t position = data.horizPosition;
    if (!wsKeyScaled(req, positionKey, 0.01, 0, &position))
        position = data.horizPosition;
    int32_t current = 0;
    if (wsTruncate(static_cast<double>(data.zoomWidth) * 100.0, &current) && current == value)
        return 1;
    wsPostRequest(REQ_SET_PARAM, param::zoomWidth, position, value, 0.0f, wsSender());
    return 2;
}

void wsRpmIndicsScope(TWsReq* req)
{
    const TView view = timeView();
    const int trigger = wsSourceChannel(data.trigSource);
    const int qualifier = wsSourceChannel(data.qualifSource);
    const TConversion triggerLevel = view.zeroLine.shifted(offsetOf(trigger));
    const TConversion qualifierLevel = view.zeroLine.shifted(offsetOf(qualifier));
    int set = setCursors(req, view);
    set |= view.time.set(req, "p6", param::cursor3Time, data.cursor3Time);
    static const char* const offsetKeys[4] = {"p7", "p8", "p9", "p10"};
    for (int n = 0; n < 4; ++n)
        set |= view.zeroLine.set(req, offsetKeys[n], param::offsetCh1 + n, offsetOf(n));
    set |= view.triggerPosition.set(req, "p11", param::sweepOffset, data.sweepOffset);
    set |= triggerLevel.set(req, "p12", param::trigLevelCh1 + trigger, triggerLevelOf(trigger));
    set |= qualifierLevel.set(req, "p13", param::trigLevelCh1 + qualifier, triggerLevelOf(qualifier));
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    const bool timeFormat = data.traceFormat == 0;
    uint32_t mask = wsVisibleChannels();
    if (timeFormat)
        mask |= (1u << 13) | (1u << 14) | (data.trigType == 2 || data.trigType == 3 ? 1u << 15 : 0u);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(29)
        .integer(mask)
        .integer(static_cast<uint16_t>(data.cursorState))
        .integer(wsChannelColour(wsReferenceChannel(data.measRefChannel)))
        .integer(view.time.report(data.cursor1Time))
        .integer(view.level.report(data.cursor1Level))
        .integer(view.time.report(data.cursor2Time))
        .integer(view.level.report(data.cursor2Level))
        .integer(timeFormat ? view.time.report(data.cursor3Time) : -1);
    for (int n = 0; n < 4; ++n)
        reply.integer(view.zeroLine.report(offsetOf(n)))
            .integer(static_cast<uint16_t>(wsChannelColour(n)))
            .text(kLabels[n]);
    reply.integer(view.triggerPosition.report(data.sweepOffset)).integer(wsChannelColour(trigger)).text("T");
    reply.integer(triggerLevel.report(triggerLevelOf(trigger))).integer(wsChannelColour(trigger)).text("T");
    reply.integer(qualifierLevel.report(triggerLevelOf(qualifier))).integer(wsChannelColour(qualifier)).text("Q");
    sendReply(req, reply);
}

void wsRpmIndicsCompScope(TWsReq* req)
{
    int set = SetWsParamIndirect(req, "p1", param::horizPosition, data.horizPosition, 0.01, 0);
    set |= wsSetZoomWidth(req, "p2", "p1");
    set |= SetWsParamIndirect(req, "p3", param::sweepOffset, data.sweepOffset, -0.01, 0);
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    int32_t shownWidth = 0;
    if (!toInt(static_cast<double>(data.zoomWidth) * 1000.0 / 40.0, &shownWidth))
        shownWidth = 0;
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(6)
        .integer(data.traceFormat == 0 ? 1 : 0)
        .integer(data.horizPosition / 100)
        .integer(shownWidth)
        .integer(-(data.sweepOffset / 100))
        .integer(wsChannelColour(wsSourceChannel(data.trigSource)))
        .text("T");
    sendReply(req, reply);
}

void wsRpmIndicsXy(TWsReq* req)
{
    const TXyView view;
    const int xChannel = wsSourceChannel(data.xySourceX);
    const int yChannel = wsSourceChannel(data.xySourceY);
    int set = 0;
    set |= SetWsParamDirect(req, "p0", param::cursorState, data.cursorState);
    set |= view.x.set(req, "p1", param::xyCursor1X, data.xyCursor1X);
    set |= view.level.set(req, "p2", param::cursor1Level, data.cursor1Level);
    set |= view.x.set(req, "p3", param::xyCursor2X, data.xyCursor2X);
    set |= view.level.set(req, "p4", param::cursor2Level, data.cursor2Level);
    set |= view.xZeroLine.set(req, "p5", param::offsetCh1 + xChannel, offsetOf(xChannel));
    set |= view.yZeroLine.set(req, "p6", param::offsetCh1 + yChannel, offsetOf(yChannel));
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(12)
        .integer(wsVisibleChannels())
        .integer(static_cast<uint16_t>(data.cursorState))
        .integer(view.x.report(data.xyCursor1X))
        .integer(view.level.report(data.cursor1Level))
        .integer(view.x.report(data.xyCursor2X))
        .integer(view.level.report(data.cursor2Level))
        .integer(view.xZeroLine.report(offsetOf(xChannel)))
        .integer(wsChannelColour(xChannel))
        .text(kLabels[xChannel])
        .integer(view.yZeroLine.report(offsetOf(yChannel)))
        .integer(wsChannelColour(yChannel))
        .text(kLabels[yChannel]);
    sendReply(req, reply);
}

void wsRpmIndicsFft(TWsReq* req)
{
    const TView view = fftView();
    int set = setCursors(req, view);
    static const char* const offsetKeys[4] = {"p6", "p7", "p8", "p9"};
    for (int n = 0; n < 4; ++n)
        set |= view.zeroLine.set(req, offsetKeys[n], param::fftOffsetCh1 + n, fftOffsetOf(n));
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    static const char* const labels[4] = {"1 -40dB", "2 -40dB", "3 -40dB", "4 -40dB"};
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(19)
        .integer(wsVisibleChannels())
        .integer(static_cast<uint16_t>(data.cursorState))
        .integer(wsChannelColour(wsReferenceChannel(data.measRefChannel)))
        .integer(view.time.report(data.cursor1Time))
        .integer(view.level.report(data.cursor1Level))
        .integer(view.time.report(data.cursor2Time))
        .integer(view.level.report(data.cursor2Level));
    for (int n = 0; n < 4; ++n)
        reply.integer(view.zeroLine.report(fftOffsetOf(n)))
            .integer(static_cast<uint16_t>(wsChannelColour(n)))
            .text(labels[n]);
    sendReply(req, reply);
}

void wsRpmMeasuresScope(TWsReq* req)
{
    int32_t reference = 0;
    bool posted = false;
    if (wsKeyInteger(req, "p0", &reference) && static_cast<int16_t>(reference) != data.measRefChannel) {
        wsPostSetParam(param::measRefChannel, static_cast<int16_t>(reference), 0.0f);
        posted = true;
    }
    const int set = SetWsParamDirect(req, "p1", param::cursorState, data.cursorState);
    if (set != 0 || posted) {
        wsReplyDone(req);
        return;
    }
    int32_t mask = data.measRefChannel;
    wsKeySelector(req, "channel", &mask);
    int channel = -1;
    switch (mask) {
    case 1: channel = 0; break;
    case 2: channel = 1; break;
    case 4: channel = 2; break;
    case 8: channel = 3; break;
    default: break;
    }
    mesures* records = setupLinks().measResultsPtr;
    TAcquisition* trace = channel >= 0 ? wsLiveTrace(channel) : nullptr;
    if (trace == nullptr || records == nullptr) {
        wsReplyDone(req);
        return;
    }
    // One computation: the record is copied under the measurement lock (taken after the image
    // mutex the transport holds) and formatted from the copy.
    pthread_mutex_lock(&o_g_autoMeasMutex);
    mesures record = records[channel];
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    static const unsigned short ids[20] = {0x1000, 0x1010, 0x1020, 0x1030, 0x1040, 0x1050, 0x1070,
                                           0x10c0, 0x1080, 0x10b0, 0x10,   0x20,   0x30,   0x40,
                                           0x60,   0x70,   0x50,   0x80,   0x1090, 0x10a0};
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(22).integer(static_cast<uint32_t>(mask)).integer(static_cast<uint16_t>(wsChannelColour(channel)));
    for (unsigned short id : ids) {
        QString text;
        AutoMeasChannel::getMeasurement(id, trace, &record, &text, nullptr);
        reply.text(wsClientText(text).c_str());
    }
    sendReply(req, reply);
}
