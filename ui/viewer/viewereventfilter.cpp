#include "ui/viewer/viewereventfilter.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/scale.h"
#include "ui/frame/homeview.h"
#include "ui/traces/scopetrigger.h"

#include <cstdint>
#include <limits>

namespace {

constexpr double kCentreCode = 524256.0;
constexpr double kSpanCodes = 262080.0;
constexpr int32_t kLevelMirror = 1048512;
constexpr double kSampleSeconds = 0.2;
constexpr double kMaxDurationSeconds = 20000.0;

void post(int32_t code, intptr_t value)
{
    pipe_dial request{REQ_SET_PARAM, code, 0, value, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

// The channel trace of a filter source: channel 1 for anything but 1..3.
TAcquisition* sourceTrace(int source)
{
    const TSetupLinks& l = setupLinks();
    return source == 1 ? l.acqCh2 : source == 2 ? l.acqCh3 : source == 3 ? l.acqCh4 : l.acqCh1;
}

// Trace units per level code; 0 without a trace.
double levelFactor(TAcquisition* trace)
{
    if (!trace)
        return 0.0;
    double span = 0.0;
    trace->GetMMRange(&span, nullptr, nullptr);
    return span / kSpanCodes;
}

} // namespace

ViewerEventFilter::ViewerEventFilter(QQuickItem* parent)
    : QQuickItem(parent),
      level1Value_(std::numeric_limits<double>::max()),
      maxLevel1Value_(std::numeric_limits<double>::max()),
      level2Value_(std::numeric_limits<double>::max()),
      maxLevel2Value_(std::numeric_limits<double>::max()),
      durationValue_(std::numeric_limits<double>::max()),
      maxDurationValue_(std::numeric_limits<double>::max())
{
    if (HomeView* home = po_g_homeView)
        screenMaj_ = connect(home, &HomeView::screenMajSignal, this, &ViewerEventFilter::screenMajSlot);
    connect(this, &QQuickItem::opacityChanged, this, &ViewerEventFilter::opacityChangedSlot);
}

ViewerEventFilter::~ViewerEventFilter()
{
    disconnect(screenMaj_);
}

void ViewerEventFilter::sendRequestSource(int i)
{
    sourceIndex_ = i;
    post(param::eventSource, i);
}

void ViewerEventFilter::sendRequestType(int i)
{
    typeIndex_ = i;
    post(param::eventType, i + 1);
}

void ViewerEventFilter::sendLevel(int levelCode, int cursorCode, double v)
{
    const double k = levelFactor(sourceTrace(sourceIndex_));
    // Without a scale a level has no code.
    if (k == 0.0)
        return;
    int32_t level = 0;
    if (!ScopeTrigger::toRequestValue(v / k + kCentreCode, &level))
        return;
    post(levelCode, level);
    post(cursorCode, static_cast<int32_t>(static_cast<uint32_t>(kLevelMirror) - static_cast<uint32_t>(level)));
}

void ViewerEventFilter::sendRequestLevel1(double v)
{
    level1Value_ = v;
    sendLevel(param::eventLevel1, param::cursor1Level, v);
}

void ViewerEventFilter::sendRequestLevel2(double v)
{
    level2Value_ = v;
    sendLevel(param::eventLevel2, param::cursor2Level, v);
}

void ViewerEventFilter::sendRequestDuration(double s)
{
    durationValue_ = s;
    int32_t samples = 0;
    if (ScopeTrigger::toRequestValue(s / kSampleSeconds, &samples))
        post(param::eventDuration, samples);
}

void ViewerEventFilter::initFilterParams()
{
    sourceIndex_ = data.eventSource;
    typeIndex_ = data.eventType - 1;
    TAcquisition* trace = sourceTrace(sourceIndex_);
    const double k = levelFactor(trace);
    level1Value_ = k * (static_cast<double>(data.eventLevel1) - kCentreCode);
    maxLevel1Value_ = k * (static_cast<double>(max_par.eventLevel1) - kCentreCode);
    level2Value_ = k * (static_cast<double>(data.eventLevel2) - kCentreCode);
    maxLevel2Value_ = k * (static_cast<double>(max_par.eventLevel2) - kCentreCode);
    durationValue_ = data.eventDuration * kSampleSeconds;
    maxDurationValue_ = kMaxDurationSeconds;
    verticalUnit_ = trace ? GetVerticalUnit(trace, trace->meterScale, true) : QString();
}

void ViewerEventFilter::screenMajSlot(int code)
{
    if (code == 90) {
        initFilterParams();
        emit dataChanged();
    } else if (code == 0 || (code >= param::eventSource && code <= param::eventDuration)) {
        initFilterParams();
        emit dataChanged();
        emit counterChanged(-1);
    }
}

void ViewerEventFilter::opacityChangedSlot()
{
    if (opacity() == 0.0)
        return;
    initFilterParams();
    emit dataChanged();
    emit counterChanged(-1);
}
