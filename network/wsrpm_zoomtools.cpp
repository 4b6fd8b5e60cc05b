// Web-service zoom and tool-bar requests: a rectangle drawn on the client's view (thousandths of
// the view) becomes the view's new zoom; the tool bar runs, stops, autosets, unzooms and captures.
// All answer "0,".
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

#include "core/gest_db.h"
#include "core/requests.h"

#include <cmath>
#include <cstdint>

namespace {

// Truncation toward zero of a single-precision value into 32 bits; false when it has none.
bool toInt(float value, int32_t* out)
{
    const float t = std::trunc(value);
    if (!std::isfinite(t) || t < -2147483648.0f || t >= 2147483648.0f)
        return false;
    *out = static_cast<int32_t>(t);
    return true;
}

bool usableDivisor(float value)
{
    return std::isfinite(value) && value != 0.0f;
}

// The client's rectangle: p0 left edge, p1 width, p2 bottom, p3 height; a missing key reads 0.
struct TClientRect {
    int32_t x0 = 0;
    int32_t w = 0;
    int32_t y0 = 0;
    int32_t h = 0;
    bool present = false;

    explicit TClientRect(TWsReq* req)
    {
        present = wsKeyInteger(req, "p3", &h);
        wsKeyInteger(req, "p0", &x0);
        wsKeyInteger(req, "p1", &w);
        wsKeyInteger(req, "p2", &y0);
        present = present && h != 0 && w != 0;
    }
};

// Zoom of the time or FFT view: F, P, W, H its vertical factor and position, width and position.
void zoomView(TWsReq* req, int32_t request, float factor, int32_t position, float width, int32_t origin)
{
    const TClientRect r(req);
    if (r.present && usableDivisor(factor) && usableDivisor(width)) {
        float newFactor = factor * 1000.0f / static_cast<float>(r.h);
        if (newFactor >= 16.0f)
            newFactor = 16.0f;
        float newWidth = width * static_cast<float>(r.w) / 1000.0f;
        if (newWidth <= 1.0f)
            newWidth = 1.0f;
        int32_t newPosition = 0;
        int32_t newOrigin = origin;
        bool ok = toInt(newFactor * static_cast<float>(r.y0 + static_cast<int64_t>(position)) / factor, &newPosition);
        if (newWidth != width)
            ok = ok && toInt(static_cast<float>(origin) + width * static_cast<float>(r.x0) * 2500.0f / 1000.0f, &newOrigin);
        if (ok) {
            // A rectangle per post: the controller copies it when it takes the request.
            static TWsPostRing<TZoomRect> ring;
            TZoomRect* rect = ring.next();
            *rect = TZoomRect{newFactor, newPosition, newWidth, newOrigin};
            if (wsPostRequest(REQ_SET_PARAM, request, reinterpret_cast<intptr_t>(rect), 4, 0.0f, wsSender()))
                ring.commit();
        }
    }
    wsReplyDone(req);
}

// One axis of the XY zoom: the factor (x 100) and the position the controller takes with it.
bool xyAxis(float factor, int32_t span, int32_t start, int32_t position, int32_t* value, int32_t* newPosition)
{
    if (!usableDivisor(factor))
        return false;
    float f = factor * 1000.0f / static_cast<float>(span);
    if (f < 16.0f) {
        if (!toInt(f * 100.0f, value))
            return false;
    } else {
        f = 16.0f;
        *value = 1600;
    }
    return toInt(f * static_cast<float>(static_cast<int64_t>(start) + position) / factor, newPosition);
}

} // namespace

void wsRpmZoomScope(TWsReq* req)
{
    zoomView(req, param::zoomState, data.vZoomFactor, data.vZoomPosition, data.zoomWidth, data.horizPosition);
}

void wsRpmZoomFft(TWsReq* req)
{
    zoomView(req, param::fftZoomState, data.fftVZoomFactor, data.fftVZoomPosition, data.fftZoomWidth,
             data.fftHorizPosition);
}

void wsRpmZoomXy(TWsReq* req)
{
    const TClientRect r(req);
    if (r.present) {
        const intptr_t sender = senderValue(MENU_id);
        int32_t value = 0;
        int32_t position = 0;
        if (xyAxis(data.vZoomFactor, r.h, r.y0, data.vZoomPosition, &value, &position))
            wsPostRequest(REQ_SET_PARAM, param::vZoomFactor, position, value, 0.0f, sender);
        // The client's X axis runs the other way.
        const int64_t mirrored = 1000 - static_cast<int64_t>(r.x0) - r.w;
        if (mirrored >= INT32_MIN && mirrored <= INT32_MAX
            && xyAxis(data.xyZoomFactor, r.w, static_cast<int32_t>(mirrored), data.xyZoomPosition, &value, &position))
            wsPostRequest(REQ_SET_PARAM, param::xyZoomFactor, position, value, 0.0f, sender);
    }
    wsReplyDone(req);
}

void wsRpmToolsScope(TWsReq* req)
{
    // A stop the mode drops fails the request before anything is posted.
    if (wsSettingRefused(req, "p0", param::acqRunStop)) {
        wsReplyFailed(req);
        return;
    }
    SetWsParamDirect(req, "p0", param::acqRunStop, data.acqRunStop);
    SetWsParamDirect(req, "p1", param::trigMode, data.trigMode);
    // p4 present: a value that is no number reads as 0, for the setter and for the capture.
    int32_t capture = 0;
    const bool captureKey = wsKeySelector(req, "p4", &capture);
    if (captureKey && capture != data.refCapture)
        wsPostSetParam(param::refCapture, capture, 0.0f);
    if (wsParser(req, "p2") != nullptr)
        wsPostRequest(REQ_SET_PARAM, param::autosetRequest, 0, 0, 0.0f, wsSender());
    if (wsParser(req, "p3") != nullptr) {
        // The controller only copies the rectangle: one constant serves every post.
        static const TZoomRect kWholeRecord{1.0f, 0, 40.0f, 0};
        const intptr_t whole = reinterpret_cast<intptr_t>(&kWholeRecord);
        wsPostRequest(REQ_SET_PARAM, param::zoomState, whole, 4, 0.0f, wsSender());
        wsPostRequest(REQ_SET_PARAM, param::fftZoomState, whole, 4, 0.0f, wsSender());
        wsPostRequest(REQ_SET_PARAM, param::xyZoomFactor, 0, 100, 0.0f, wsSender());
    }
    if (captureKey)
        wsPostRequest(REQ_SET_PARAM, param::refCapture, 0, capture != 0 ? 255 : 0, 0.0f, senderValue(TRAD_id));
    wsReplyDone(req);
}
