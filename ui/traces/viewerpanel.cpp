#include "ui/traces/viewerpanel.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "ui/frame/homeview.h"
#include "ui/frame/meterchannel.h"
#include "ui/frame/metermeasurement.h"
#include "ui/frame/powerchannel.h"
#include "ui/frame/powermeasurement.h"
#include "ui/traces/viewerchannel.h"
#include "ui/traces/viewerpowerchannel.h"

#include <cmath>
#include <limits>

namespace {

// Palette index of a box whose trace is off.
constexpr unsigned short kOffColour = 15;

const uint8_t* traceOnFlag(int i)
{
    static const uint8_t* const flags[4] = {&data.traceOnCh1, &data.traceOnCh2, &data.traceOnCh3, &data.traceOnCh4};
    return flags[i];
}

const uint8_t* memoryTraceFlag(int i)
{
    static const uint8_t* const flags[4] = {&data.memoryTraceCh1, &data.memoryTraceCh2, &data.memoryTraceCh3,
                                            &data.memoryTraceCh4};
    return flags[i];
}

const int16_t* traceColour(int i)
{
    static const int16_t* const colours[4] = {&data.traceColorCh1, &data.traceColorCh2, &data.traceColorCh3,
                                              &data.traceColorCh4};
    return colours[i];
}

uint32_t* normalisedBuffer(int i)
{
    switch (i) {
    case 0:
        return TAcquisition::Voie1Normalisee;
    case 1:
        return TAcquisition::Voie2Normalisee;
    case 2:
        return TAcquisition::Voie3Normalisee;
    default:
        return TAcquisition::Voie4Normalisee;
    }
}

bool isPowerFunction(int f)
{
    return f >= 8 && f <= 11;
}

} // namespace

const char* channelOneIcon(int meterFunction)
{
    switch (meterFunction) {
    case 1:
        return "ch1_ohm.png";
    case 2:
        return "ch1_continuity.png";
    case 3:
        return "ch1_capa.png";
    case 4:
        return "ch1_diode.png";
    default:
        return "";
    }
}

ViewerPanel::ViewerPanel(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::displayKalvexSignal, this, &ViewerPanel::displayKalvexSlot);
        connections_[1] = connect(home, &HomeView::screenMajSignal, this, &ViewerPanel::screenMajSlot);
        connections_[2] =
            connect(home, &HomeView::screenManualMeasurementSignal, this, &ViewerPanel::displayCursorValueSlot);
    }
}

ViewerPanel::~ViewerPanel()
{
    for (const QMetaObject::Connection& c : connections_)
        disconnect(c);
    clearLayout();
}

TAcquisition* ViewerPanel::channelTrace(int i)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const t[4] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4};
    return i >= 0 && i < 4 ? t[i] : nullptr;
}

void ViewerPanel::setChannels()
{
    const int f = data.meterFunction;
    const uint16_t flags = data.channelFlags;
    if (f >= 2 && f <= 4)
        channels_ = flags & 0x101;
    else if (isPowerFunction(f))
        channels_ = static_cast<uint16_t>((flags & 0xF0F) | kPowerBit);
    else
        channels_ = flags & 0xF0F;
}

void ViewerPanel::refresh()
{
    setChannels();
    // Runs before a new layout too (the recorder's order): any box may be missing.
    for (int i = 0; i < 4; ++i) {
        MeterChannel* b = boxes_[i];
        if (!b)
            continue;
        if ((channels_ & (1u << i)) && measurements_[i])
            b->trigger(measurements_[i]);
        else if ((channels_ & (0x100u << i)) && channelTrace(i))
            b->trigger(channelTrace(i));
        else
            b->init();
    }
    if (powerBox_) {
        if ((channels_ & kPowerBit) && setupLinks().powerAcq)
            powerBox_->trigger(setupLinks().powerAcq);
        else
            powerBox_->init();
    }
}

void ViewerPanel::clearLayout()
{
    for (int i = 0; i < 4; ++i) {
        delete boxes_[i];
        boxes_[i] = nullptr;
        delete measurements_[i];
        measurements_[i] = nullptr;
    }
    delete powerMeasurement_;
    powerMeasurement_ = nullptr;
    delete powerBox_;
    powerBox_ = nullptr;
}

MeterChannel* ViewerPanel::makeChannelBox(bool)
{
    return new ViewerChannel(this);
}

PowerChannel* ViewerPanel::makePowerBox()
{
    return new ViewerPowerChannel(this);
}

void ViewerPanel::createBoxes()
{
    clearLayout();
    const int f = data.meterFunction;
    const uint16_t mask = data.hwChannelMask;
    const bool power = isPowerFunction(f);
    const bool channelOneOnly = f >= 2 && f <= 4;
    for (int i = 0; i < 4; ++i) {
        if (channelOneOnly ? i != 0 : (mask & (1u << i)) == 0)
            continue;
        measurements_[i] = new MeterMeasurement(this);
        measurements_[i]->setIdentifier(i);
        boxes_[i] = makeChannelBox(power);
    }
    if (power) {
        powerMeasurement_ = new PowerMeasurement(this);
        powerMeasurement_->setIdentifier(8);
        powerBox_ = makePowerBox();
    }
    if (measurements_[0] && f >= 1 && f <= 4)
        measurements_[0]->setIconName(QString::fromLatin1(channelOneIcon(f)));
}

void ViewerPanel::buildRowLayout()
{
    createBoxes();
    const int f = data.meterFunction;
    const bool power = isPowerFunction(f);
    const bool channelOneOnly = f >= 2 && f <= 4;
    if (channelOneOnly) {
        if (boxes_[0])
            boxes_[0]->setPosition(QPointF(272, 3));
    } else {
        if (boxes_[0])
            boxes_[0]->setPosition(boxes_[1] ? QPointF(5, 3) : QPointF(94, 3));
        if (boxes_[0] && boxes_[1])
            boxes_[1]->setPosition(QPointF(183, 3));
        if (boxes_[3])
            boxes_[3]->setPosition(boxes_[2] ? QPointF(539, 3) : QPointF(450, 3));
        if (boxes_[2] && boxes_[3])
            boxes_[2]->setPosition(QPointF(362, 3));
    }
    if (powerBox_)
        powerBox_->setPosition(QPointF(5, 110));

    // The heights of the boxes the recorder would make, whichever exist.
    const qreal boxHeight = boxes_[0] ? boxes_[0]->height() : 105;
    if (power)
        setHeight(boxHeight + (powerBox_ ? powerBox_->height() : 0) + 7);
    else
        setHeight(boxHeight + 6);
}

void ViewerPanel::setLayout()
{
    buildRowLayout();
    displayKalvexSlot();
    refresh();
}

void ViewerPanel::applyColours(bool memoryFlags)
{
    for (int i = 0; i < 4; ++i) {
        if (!boxes_[i])
            continue;
        const bool on = memoryFlags ? *memoryTraceFlag(i) != 0 : *traceOnFlag(i) != 0;
        boxes_[i]->setColor(on ? static_cast<unsigned short>(*traceColour(i)) : kOffColour);
    }
}

void ViewerPanel::displayKalvexSlot()
{
    applyColours(true);
    for (MeterChannel* b : boxes_) {
        if (b)
            b->init();
    }
}

void ViewerPanel::screenMajSlot(int code)
{
    switch (code) {
    case 0:
    case 23:
    case 29:
        displayKalvexSlot();
        setLayout();
        displayCursorValueSlot();
        break;
    case param::channelFlags:
        setLayout();
        displayCursorValueSlot();
        break;
    default:
        break;
    }
}

void ViewerPanel::displayCursorValueSlot()
{
    const int32_t* cursors = setupLinks().cursorTablePtr;
    const bool shown = (data.cursorState & 1) != 0 && cursors != nullptr;
    // A negative entry becomes a huge index, which reads as no value.
    const uint32_t index = shown ? static_cast<uint32_t>(cursors[0]) : 0;
    const float none = std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < 4; ++i) {
        if (!boxes_[i] || !measurements_[i] || (channels_ & (0x100u << i)) == 0)
            continue;
        TAcquisition* t = channelTrace(i);
        uint32_t* codes = normalisedBuffer(i);
        const float v = shown && t && codes ? TAcquisition::measValueAt(codes, t, index) : none;
        measurements_[i]->setNumericValue(v);
        boxes_[i]->trigger(measurements_[i]);
    }
    if (powerBox_ && powerMeasurement_ && (channels_ & kPowerBit)) {
        TAcquisition* t = setupLinks().powerAcq;
        uint32_t* codes = TAcquisition::VoieAuxNormalisee;
        const float v = shown && t && codes ? TAcquisition::measValueAt(codes, t, index) : none;
        powerMeasurement_->setNumericValue(v);
        powerBox_->trigger(powerMeasurement_);
    }
}
