#include "ui/traces/indicscreent.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "ui/traces/cursorautomatic.h"
#include "ui/traces/cursorvertical.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicatortriggert.h"
#include "ui/traces/indicatortriggerv.h"
#include "ui/traces/zoomareat.h"

#include <pthread.h>

#include <cmath>

namespace {

// Points where a missing validity bit parks the automatic cursors.
constexpr int32_t kParkedLevel = 655296;
constexpr int32_t kParkedTimeB = 100000;

struct TGroup {
    unsigned short first;
    unsigned short last;
    int32_t requiredBits;
};

// Identifier groups and the validity bits each needs in the record.
const TGroup kGroups[] = {
    {0x10, 0x1F, 0x5C},        {0x20, 0x2F, 0x28C},       {0x30, 0x3F, 0x2124},
    {0x40, 0x4F, 0x2128},      {0x50, 0x7F, 0x2420},      {0x1000, 0x102F, 0x3},
    {0x1090, 0x10AF, 0x3},     {0x1030, 0x105F, 0xC},     {0x1060, 0x107F, 0x3000},
    {0x1080, 0x108F, 0x2000},  {0x10C0, 0x10CF, 0x1420},
};

const TGroup* groupOf(unsigned short identifier)
{
    for (const TGroup& g : kGroups)
        if (identifier >= g.first && identifier <= g.last)
            return &g;
    return nullptr;
}

int32_t codeOf(double value)
{
    if (!std::isfinite(value))
        return 0;
    return static_cast<int32_t>(std::clamp(value, -2147483648.0, 2147483647.0));
}

int32_t indexOf(uint32_t value)
{
    return static_cast<int32_t>(std::min<uint32_t>(value, 0x7FFFFFFF));
}

} // namespace

IndicScreenT::IndicScreenT(QQuickItem* parent, unsigned short channelMask, int x, int y, int width, int height)
    : ViewerIndicScreen(parent, channelMask, x, y, width, height)
{
    setCursor(1, new CursorVertical(0x8002, 500));
    setCursor(2, new CursorVertical(0x8004, 900));
    setCursor(5, new CursorAutomatic(0x2020, 350, 350));
    setCursor(6, new CursorAutomatic(0x2040, 650, 650));
    for (unsigned short n = 0; n < 4; ++n)
        if (channelMask_ & (1u << n))
            setIndicator(10 + n, new IndicatorTriggerV(n));
    setIndicator(8, new IndicatorTriggerT);
    if (home_)
        homeConnections_.push_back(connect(home_.data(), &HomeView::screenRefreshSignal, this, &IndicScreenT::screenRefreshSlot));
}

IndicScreenT::~IndicScreenT()
{
}

void IndicScreenT::placeZeroLine(int channel)
{
    if (indicators_[channel])
        indicators_[channel]->setPositionFromSetup(setupValue(param::offsetCh1 + channel), 0);
}

void IndicScreenT::placeTriggerLevel(int channel)
{
    if (indicators_[10 + channel])
        indicators_[10 + channel]->setPositionFromSetup(setupValue(param::trigLevelCh1 + channel),
                                                        setupValue(param::offsetCh1 + channel));
}

void IndicScreenT::setCouplingModel(int channel)
{
    if (indicators_[10 + channel])
        indicators_[10 + channel]->setModel(static_cast<short>(setupValue(param::trigCouplingCh1 + channel)));
}

void IndicScreenT::setVisibleIndics()
{
    for (int n = 0; n < 4; ++n) {
        if (indicators_[n])
            indicators_[n]->setVisible((data.channelFlags & (0x101u << n)) != 0);
        if (indicators_[10 + n]) {
            bool visible = data.trigSource == n;
            if (data.trigType == 2 || data.trigType == 3)
                visible = visible || data.qualifSource == n;
            indicators_[10 + n]->setVisible(visible);
        }
    }
    if (indicators_[8])
        indicators_[8]->setVisible(true);
    update();
}

void IndicScreenT::screenMajSlot(int parameter)
{
    switch (parameter) {
    case 8:    // channelFlags
    case 27:   // autoset
    case 29:   // layout
    case 73:   // traceFormat
    case 142:  // split layout
        setZoomArea(new ZoomAreaT);
        displayKalvexSlot();
        placementStep();
        for (int n = 0; n < 4; ++n) {
            placeZeroLine(n);
            placeTriggerLevel(n);
        }
        placeTriggerPosition();
        zoomAll(data.vZoomFactor, data.vZoomPosition);
        for (int n = 0; n < 4; ++n)
            setCouplingModel(n);
        break;
    case 9: case 10: case 11: case 12:  // offsetCh1-offsetCh4
    case 14: case 16: case 18: case 20: {  // traceOnCh1-traceOnCh4
        const int n = parameter <= 12 ? parameter - 9 : (parameter - 14) / 2;
        placeZeroLine(n);
        setVisibleIndics();
        placeTriggerLevel(n);
        break;
    }
    case 113: case 114: case 115: case 116:  // trigLevelCh1-trigLevelCh4
        placeTriggerLevel(parameter - 113);
        break;
    case 181: case 182: case 183: case 184:  // trigCouplingCh1-trigCouplingCh4
        setCouplingModel(parameter - 181);
        break;
    case 5:    // sweepOffset
    case 121:  // timeBaseIndex
        placeTriggerPosition();
        break;
    case 36:  // zoomWidth
        placeTriggerPosition();
        screenManualMeasurementSlot();
        break;
    case 23:  // measRefChannel
        placementStep();
        break;
    case 61:  // zoomState
    case 94:  // vZoomFactor
        zoomAll(data.vZoomFactor, data.vZoomPosition);
        screenManualMeasurementSlot();
        break;
    case 95:  // vZoomPosition
        zoomAll(data.vZoomFactor, data.vZoomPosition);
        break;
    case 74:  // indicatorMask
    case 90:
    case 91:
        screenRefreshSlot();
        break;
    case 93:   // cursorState
    case 112:  // trigSource
    case 174:  // qualifSource
        setVisibleIndics();
        cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
        screenManualMeasurementSlot();
        break;
    case 0:
    case 13:  // horizPosition
        screenManualMeasurementSlot();
        break;
    default:
        return;
    }
    update();
}

bool IndicScreenT::automaticCursorPoints(unsigned short identifier, const mesures& r, int32_t tm, int32_t reference,
                                         QPoint* a, QPoint* b)
{
    const TGroup* group = groupOf(identifier);
    if (!group)
        return false;
    if ((r.flags & group->requiredBits) != group->requiredBits) {
        *a = QPoint(0, kParkedLevel);
        *b = QPoint(kParkedTimeB, kParkedLevel);
        return true;
    }
    const int64_t top = r.topLevel;
    const int64_t base = r.baseLevel;
    const int32_t mid = static_cast<int32_t>((top + base) / 2);
    const int32_t low = static_cast<int32_t>((9 * base + top) / 10);
    const int32_t high = static_cast<int32_t>((base + 9 * top) / 10);
    const bool risingFirst = r.rise50 <= r.fall50;
    switch (group->first) {
    case 0x10:
        *a = QPoint(indexOf(r.rise10), low);
        *b = QPoint(indexOf(r.rise90), high);
        break;
    case 0x20:
        *a = QPoint(indexOf(r.fall90), high);
        *b = QPoint(indexOf(r.fall10), low);
        break;
    case 0x30:
        *a = QPoint(indexOf(r.rise50), mid);
        *b = QPoint(indexOf(risingFirst ? r.fall50 : r.nextFall50), mid);
        break;
    case 0x40:
        *a = QPoint(indexOf(r.fall50), mid);
        *b = QPoint(indexOf(risingFirst ? r.nextRise50 : r.rise50), mid);
        break;
    case 0x50:
        *a = QPoint(indexOf(risingFirst ? r.rise50 : r.fall50), mid);
        *b = QPoint(indexOf(risingFirst ? r.nextRise50 : r.nextFall50), mid);
        break;
    case 0x1000:
    case 0x1090:
        *a = QPoint(tm, indexOf(r.maxCode));
        *b = QPoint(tm, indexOf(r.minCode));
        break;
    case 0x1030:
        *a = QPoint(tm, indexOf(r.topLevel));
        *b = QPoint(tm, indexOf(r.baseLevel));
        break;
    case 0x1060:
    case 0x10C0: {
        const double square = group->first == 0x1060 ? r.meanSquare : r.meanSquarePeriods;
        const double rms = square > 0.0 ? std::sqrt(square) : 0.0;
        *a = QPoint(tm, codeOf(reference + rms));
        *b = QPoint(tm, codeOf(reference - rms));
        break;
    }
    case 0x1080:
        *a = QPoint(tm, codeOf(r.mean));
        *b = QPoint(tm, codeOf(r.mean));
        break;
    default:
        return false;
    }
    return true;
}

void IndicScreenT::screenRefreshSlot()
{
    if (data.cursorState != 3 || (channelMask_ & data.indicatorMask) == 0 || !cursors_[5] || !cursors_[6])
        return;
    int record = -1;
    switch (data.indicatorMask & 0xF) {
    case 1: record = 0; break;
    case 2: record = 1; break;
    case 4: record = 2; break;
    case 8: record = 3; break;
    default: return;
    }
    mesures* table = setupLinks().measResultsPtr;
    if (!table)
        return;
    mesures copy;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    copy = table[record];
    pthread_mutex_unlock(&o_g_autoMeasMutex);

    const unsigned short identifier = static_cast<unsigned short>(data.indicatorMask & ~0xFu);
    const int32_t tm = static_cast<int32_t>((static_cast<int64_t>(data.cursor1Time) + data.cursor2Time) / 2);
    // Zero code of the reference trace, for the RMS groups.
    int32_t reference = 0x60000 + 131040;
    TAcquisition* const traces[4] = {setupLinks().acqCh1, setupLinks().acqCh2, setupLinks().acqCh3,
                                     setupLinks().acqCh4};
    if (traces[record]) {
        const double offs = traces[record]->getOffsetCurs(static_cast<short>(data.instrumentMode), 0);
        if (std::isfinite(offs))
            reference = 0x60000 + codeOf(std::floor((offs + 500.0) * 262080.0 / 1000.0));
    }
    QPoint a;
    QPoint b;
    if (!automaticCursorPoints(identifier, copy, tm, reference, &a, &b))
        return;
    cursors_[5]->setPositionFromSetup(a);
    cursors_[6]->setPositionFromSetup(b);
    update();
}
