// Small helpers shared by the controller's request handlers (controller thread only).
#pragma once

#include "core/files.h"
#include "core/gest_db.h"
#include "core/homebridge.h"
#include "core/process.h"
#include "core/requests.h"

#include <algorithm>
#include <optional>

namespace command_util {

// Bridge calls are skipped while the root window does not exist; callers take their pauses anyway.
inline void message(int number, const char* text = "")
{
    if (THomeBridge* bridge = homeBridge())
        bridge->screenMessage(number, text ? text : "");
}

inline void screenMaj(int code)
{
    if (THomeBridge* bridge = homeBridge())
        bridge->screenMaj(code);
}

inline void screenRaz()
{
    if (THomeBridge* bridge = homeBridge())
        bridge->screenRaz();
}

inline void screenRefresh()
{
    if (THomeBridge* bridge = homeBridge())
        bridge->screenRefresh();
}

inline void screenKalvex()
{
    if (THomeBridge* bridge = homeBridge())
        bridge->screenKalvex();
}

// The links of channel n (0..3); any of them may be null.
inline TFonction* channelFunction(int n)
{
    const TSetupLinks& l = setupLinks();
    TFonction* const f[4] = {l.mathFunctionCh1, l.mathFunctionCh2, l.mathFunctionCh3, l.mathFunctionCh4};
    return f[n];
}

inline TAcquisition* channelTrace(int n)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return t[n];
}

inline TAcquisition* referenceTrace(int n)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.refAcqCh1, l.refAcqCh2, l.refAcqCh3, l.refAcqCh4};
    return t[n];
}

// A copy of the channel's probe link, to hold for the length of its use.
inline std::shared_ptr<TKalvex> channelProbe(int n)
{
    return smartProbeLink(n);
}

inline bool channelShown(int n)
{
    const uint8_t shown[4] = {data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4};
    return shown[n] != 0;
}

// Every zoom back to the whole record at factor 1.
inline void resetZooms()
{
    data.zoomState = 0;
    data.horizPosition = 0;
    data.fftHorizPosition = 0;
    data.vZoomPosition = 0;
    data.fftVZoomPosition = 0;
    data.xyZoomPosition = 0;
    data.zoomWidth = 40.0f;
    data.fftZoomWidth = 40.0f;
    data.vZoomFactor = 1.0f;
    data.fftVZoomFactor = 1.0f;
    data.xyZoomFactor = 1.0f;
}

// The live channels as they were before the first recall of a recording, given back when the
// viewer is left; empty while none is held.
inline std::optional<TLiveChannels>& liveChannelsBeforeViewer()
{
    static std::optional<TLiveChannels> kept;
    return kept;
}

// Before a recording's recall: the first one outside the viewer keeps the live channels (the
// recalls of the viewer's next and previous files do not replace them).
inline void keepLiveChannelsForViewer()
{
    constexpr int kViewerMode = 256;
    if (data.instrumentMode != kViewerMode && !liveChannelsBeforeViewer())
        liveChannelsBeforeViewer() = LiveChannelsOf(data);
}

// A recalled recording fills the viewer's window however short it is: the window spans the
// recording (the fewest samples per display point that hold it, or the recording alone when it
// has fewer samples than the display has pairs), starts at its first sample, and cursor T1 stands
// on its first record.
inline void fitViewerWindow()
{
    constexpr uint32_t kDisplayPairs = 1250;
    const TRecordedExtent extent = RecordedExtent();
    SetViewerSpan(extent);
    if (extent.end <= extent.first)
        return;
    const uint32_t span = extent.end - (extent.first & ~1u);
    const uint32_t perPair = (span + kDisplayPairs - 1) / kDisplayPairs;
    // Fewer samples than display pairs: the window is the recording itself (its samples spread
    // over the display) rather than 1250 samples of which it fills a part.
    data.zoomWidth = perPair <= 1 ? static_cast<float>(span) / 2500.0f
                                  : std::min(40.0f, static_cast<float>(perPair) / 2.0f);
    data.horizPosition = static_cast<int32_t>(extent.first & ~1u);
    data.zoomState = data.zoomWidth < 40.0f ? 2 : 0;
    // Through the controller's box: the measurement thread and the cursors take it from there.
    pipe_dial cursor{REQ_SET_PARAM, param::cursor1Time, 0, static_cast<intptr_t>(extent.first), 0.0f,
                     senderValue(MENU_id)};
    o_g_consMessageBox.send(&cursor);
}

} // namespace command_util
