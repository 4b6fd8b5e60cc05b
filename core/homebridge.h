// What the engine calls on the root window. Every call only posts (queued into the GUI thread)
// and returns at once; the engine never depends on Qt Quick.
#pragma once

#include <atomic>

class THomeBridge {
public:
    virtual ~THomeBridge() = default;
    virtual void screenMaj(int code) = 0;
    virtual void screenRefresh() = 0;
    virtual void screenRaz() = 0;
    virtual void screenMessage(int number, const char* text) = 0;
    virtual void screenIhm(int code, int a, int b) = 0;
    virtual void screenHardcopy(char* name) = 0;
    virtual void screenKalvex() = 0;
    virtual void screenManualMeasurement() = 0;
    virtual void screenAutomaticMeasurement() = 0;
    virtual void setBrandVisible(bool visible) = 0;
    // The one show of the root window, queued into the GUI thread.
    virtual void showWindow() = 0;
    virtual void refreshConfig() = 0;
};

// Set once by main after the root window exists; null before. Callers skip the call while null.
extern std::atomic<THomeBridge*> po_g_homeBridge;

inline THomeBridge* homeBridge()
{
    return po_g_homeBridge.load(std::memory_order_acquire);
}
