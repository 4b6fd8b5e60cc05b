// Web-service requests of the recorder and the viewer: the two cursors and the zoom window in
// the client's view units, the event filter, and the events of the recorded file. A level is in
// thousandths of the view height above its bottom; a recorder time in units of 0.4 records from
// the screen's start, a viewer time in thousandths of the zoom window.
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"
#include "network/wsscope.h"

#include "acquisition/TAcquisition.h"
#include "core/requests.h"
#include "ui/viewer/viewereventlistfactory.h"

#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <pthread.h>

namespace {

constexpr int32_t kRecorderOrigin = 97500;      // record of the recorder screen's left edge
constexpr double kRecorderStep = 0.4;           // client units per record
constexpr int32_t kScreenCentre = 524256;       // display code of the screen's centre
constexpr int32_t kMirror = 2 * kScreenCentre;  // filter level to cursor level
constexpr double kCodesPerScreen = 262080.0;
constexpr int32_t kEventHalfWindow = 1250;      // records left of an event in a window of width 1
constexpr int16_t kPowerColour = 6;
constexpr int16_t kPowerReference = 0x2000;
constexpr int kLoggerNameMax = 39;

void sendReply(TWsReq* req, const TWsReply& reply)
{
    wsResponseSend(req, reply.data(), reply.size());
}

// Level conversion of the recorder and viewer screens: L codes per thousandth of the height, and
// the display code of the view's bottom (with the vertical zoom position) as D.
TWsConversion levelConversion()
{
    const float l = data.vZoomFactor * 1000.0f / 262080.0f;
    return TWsConversion(l, -static_cast<double>(data.vZoomPosition) / static_cast<double>(l) - 393216.0);
}

// p0..p6 and the report, shared by both cursor requests.
void cursors(TWsReq* req, const TWsConversion& time, bool recorder)
{
    const TWsConversion level = levelConversion();
    int set = 0;
    set |= SetWsParamDirect(req, "p0", param::cursorState, data.cursorState);
    set |= SetWsParamDirect(req, "p1", param::measRefChannel, data.measRefChannel);
    set |= time.set(req, "p2", param::cursor1Time, data.cursor1Time);
    set |= level.set(req, "p3", param::cursor1Level, data.cursor1Level);
    set |= time.set(req, "p4", param::cursor2Time, data.cursor2Time);
    set |= level.set(req, "p5", param::cursor2Level, data.cursor2Level);
    if (const char* zoom = wsParser(req, "p6")) {
        // The controller only copies these rectangles: constants serve every post.
        static const TZoomRect kZoomOff{1.0f, 0, 40.0f, 0};
        static const TZoomRect kZoomMax{1.0f, 0, 1.0f, 0};
        const TZoomRect* rect = *zoom == '0' ? &kZoomOff : &kZoomMax;
        wsPostRequest(REQ_SET_PARAM, param::zoomState, reinterpret_cast<intptr_t>(rect), 4, 0.0f, wsSender());
    }
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    const int16_t reference = data.measRefChannel;
    const int16_t referenceColour = recorder && reference == kPowerReference
                                        ? kPowerColour
                                        : wsChannelColour(wsReferenceChannel(reference));
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(19)
        .integer((data.channelFlags & 15u) | (data.channelFlags >> 8))
        .integer(static_cast<uint16_t>(data.cursorState))
        .integer(referenceColour)
        .integer(time.report(data.cursor1Time))
        .integer(level.report(data.cursor1Level))
        .integer(time.report(data.cursor2Time))
        .integer(level.report(data.cursor2Level));
    for (int n = 0; n < 4; ++n)
        reply.integer(500).integer(static_cast<uint16_t>(wsChannelColour(n))).integer(n + 1);
    sendReply(req, reply);
}

// Gives o_g_imageMutex (which the transport holds around every handler) back for the scope of
// the object, and takes it again at its end.
class TImageMutexReleased {
public:
    TImageMutexReleased() { pthread_mutex_unlock(&o_g_imageMutex); }
    ~TImageMutexReleased() { pthread_mutex_lock(&o_g_imageMutex); }
    TImageMutexReleased(const TImageMutexReleased&) = delete;
    TImageMutexReleased& operator=(const TImageMutexReleased&) = delete;
};

void listEvents(TWsReq* req)
{
    auto worker = std::make_unique<ViewerEventListFactory>(nullptr);
    worker->setFilterParams(&data);
    worker->init(QString::fromLatin1(data.loggerFileName,
                                     static_cast<int>(strnlen(data.loggerFileName, kLoggerNameMax))));
    // The search and the file save take long: the display and the other requests go on meanwhile.
    const TImageMutexReleased released;
    worker->exec();
    QStringList events;
    worker->getEventList(events);
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(events.size());
    for (QString& e : events)
        reply.text(e.replace(QLatin1Char(','), QLatin1Char('~')).toUtf8().constData());
    sendReply(req, reply);
    worker->saveToFile();
    worker.reset();
}

// The event at record index `index`: a window of width 1 around it, the cursors on it and at the
// filter's levels, the reference on the filter's channel. Sent as the user interface would.
void selectEvent(TWsReq* req, int32_t index)
{
    const intptr_t sender = senderValue(MENU_id);
    // A rectangle per post: the controller copies it when it takes the request.
    static TWsPostRing<TZoomRect> ring;
    TZoomRect* rect = ring.next();
    const int64_t left = static_cast<int64_t>(index) - kEventHalfWindow;
    *rect = TZoomRect{data.vZoomFactor, data.vZoomPosition, 1.0f, static_cast<int32_t>(std::max<int64_t>(left, 0))};
    if (wsPostRequest(REQ_SET_PARAM, param::zoomState, reinterpret_cast<intptr_t>(rect), 4, 0.0f, sender))
        ring.commit();
    const auto mirrored = [](int32_t level) {
        return static_cast<int32_t>(static_cast<uint32_t>(kMirror) - static_cast<uint32_t>(level));
    };
    const unsigned source = static_cast<uint16_t>(data.eventSource) & 255u;
    wsPostRequest(REQ_SET_PARAM, param::cursorState, 0, 1, 0.0f, sender);
    wsPostRequest(REQ_SET_PARAM, param::cursor1Time, 0, index, 0.0f, sender);
    wsPostRequest(REQ_SET_PARAM, param::cursor1Level, 0, mirrored(data.eventLevel1), 0.0f, sender);
    wsPostRequest(REQ_SET_PARAM, param::cursor2Level, 0, mirrored(data.eventLevel2), 0.0f, sender);
    wsPostRequest(REQ_SET_PARAM, param::measRefChannel, 0, source < 32 ? intptr_t{1} << source : 0, 0.0f, sender);
    wsReplyDone(req);
}

} // namespace

void wsRpmIndicsLogger(TWsReq* req)
{
    cursors(req, TWsConversion(kRecorderStep, -kRecorderOrigin), true);
}

void wsRpmIndicsViewer(TWsReq* req)
{
    const float t = 1000.0f / (data.zoomWidth * 2500.0f);
    cursors(req, TWsConversion(t, -static_cast<double>(data.horizPosition)), false);
}

void wsRpmIndicsCompViewer(TWsReq* req)
{
    int set = SetWsParamIndirect(req, "p1", param::horizPosition, data.horizPosition, 0.01, 0);
    set |= wsSetZoomWidth(req, "p2", "p1");
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    int32_t width = 0;
    if (!wsTruncate(static_cast<double>(data.zoomWidth * 1000.0f / 40.0f), &width))
        width = 0;
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(2).integer(data.horizPosition / 100).integer(width);
    sendReply(req, reply);
}

void wsRpmViewerFilter(TWsReq* req)
{
    int set = 0;
    int32_t source = data.eventSource;
    int32_t key = 0;
    if (wsKeyInteger(req, "p0", &key)) {
        source = static_cast<uint16_t>(key);
        set |= 1;
        if (source != data.eventSource) {
            wsPostSetParam(param::eventSource, source, 0.0f);
            set |= 2;
        }
    }
    // Levels are in the source channel's unit: its span over the screen's height of codes.
    double scale = 0.0;
    if (TAcquisition* trace = wsLiveTrace(wsSourceChannel(source))) {
        double span = 0.0;
        trace->GetMMRange(&span, nullptr, nullptr);
        scale = span / kCodesPerScreen;
    }
    const TWsConversion level(scale, -kScreenCentre);
    set |= SetWsParamIndirect(req, "p1", param::eventType, data.eventType, 1, -1);
    set |= level.set(req, "p2", param::eventLevel1, data.eventLevel1);
    set |= level.set(req, "p3", param::eventLevel2, data.eventLevel2);
    set |= SetWsParamIndirect(req, "p4", param::eventDuration, data.eventDuration, 0.2, 0);
    if (set != 0) {
        wsReplyDone(req);
        return;
    }
    const auto levelValue = [&](int32_t stored) {
        return level.usable ? (static_cast<double>(stored) - kScreenCentre) * scale : 0.0;
    };
    TWsReply reply(tc_g_wsBuffer, kWsReplyBufferSize);
    reply.integer(5)
        .integer(data.eventSource)
        .integer(data.eventType - 1)
        .real(levelValue(data.eventLevel1))
        .real(levelValue(data.eventLevel2))
        .real(data.eventDuration * 0.2);
    sendReply(req, reply);
}

void wsRpmViewerEvents(TWsReq* req)
{
    int32_t index = 0;
    if (wsKeyInteger(req, "p0", &index))
        selectEvent(req, index);
    else
        listEvents(req);
}
