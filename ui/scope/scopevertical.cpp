#include "ui/scope/scopevertical.h"

#include "core/gest_db.h"
#include "core/scopeprintf.h"
#include "hardware/kalvex.h"
#include "ui/frame/homeview.h"
#include "ui/frame/menurequest.h"
#include "ui/frame/zinccolor.h"

#include <cstring>
#include <memory>

const float ScopeVertical::kSensitivities[16] = {0.0025f, 0.005f, 0.01f, 0.02f, 0.05f, 0.1f, 0.2f, 0.5f,
                                                 1.0f,    2.0f,   5.0f,  10.0f, 20.0f, 50.0f, 100.0f, 200.0f};
const int ScopeVertical::kColourTable[4] = {2, 4, 1, 5};

namespace {

struct ChannelCodes {
    int displaySwitch;
    int sensitivity;
    int coupling;
    int bwLimit;
    int probeCoeff;
    int unit;
    int colour;
    int referenceMask;
};

// Channel index 1, 2, 3 as given; any other value is channel index 0.
int channelIndex(int channel)
{
    return channel >= 1 && channel <= 3 ? channel : 0;
}

ChannelCodes codesOf(int channel)
{
    const int n = channelIndex(channel);
    return {param::traceOnCh1 + 2 * n, param::sensitivityCh1 + n, param::couplingCh1 + 2 * n,
            param::bwLimitCh1 + n,     param::probeCoeffCh1 + n,  param::unitCh1 + n,
            param::traceColorCh1 + n,  1 << n};
}

int32_t setupValue(int number)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(number));
}

const char* unitField(int n)
{
    const char* const fields[4] = {data.unitCh1, data.unitCh2, data.unitCh3, data.unitCh4};
    return fields[n];
}

float probeCoeffOf(int n)
{
    const float values[4] = {data.probeCoeffCh1, data.probeCoeffCh2, data.probeCoeffCh3, data.probeCoeffCh4};
    return values[n];
}

} // namespace

ScopeVertical::ScopeVertical(QQuickItem* parent) : QQuickItem(parent)
{
    connect(this, &QQuickItem::opacityChanged, this, &ScopeVertical::opacityChangedSlot);
}

ScopeVertical::~ScopeVertical()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &ScopeVertical::screenMajSlot);
}

int ScopeVertical::colourIndexOf(int paletteIndex)
{
    switch (paletteIndex) {
    case 4: return 1;
    case 1: return 2;
    case 5: return 3;
    default: return 0;
    }
}

QByteArray ScopeVertical::cutUtf8(const QString& text, int bytes)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= bytes)
        return utf8;
    int end = bytes;
    // Back to the start of the character that would be cut (continuation bytes are 10xxxxxx).
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.left(end);
}

int ScopeVertical::setClickedChannel(int channel)
{
    clickedChannel_ = channel;
    const ChannelCodes codes = codesOf(channel);
    displayCode_ = codes.displaySwitch;
    sensitivityCode_ = codes.sensitivity;
    couplingCode_ = codes.coupling;
    bwLimitCode_ = codes.bwLimit;
    probeCode_ = codes.probeCoeff;
    unitCode_ = codes.unit;
    colourCode_ = codes.colour;
    // The display switch is one byte.
    if (static_cast<uint8_t>(setupValue(codes.displaySwitch)) == 0) {
        postMenuRequest(codes.displaySwitch, 1);
        postMenuRequest(param::measRefChannel, codes.referenceMask);
        selectedChannel_ = channel;
        refresh();
        return 1;
    }
    if (channel == selectedChannel_) {
        postMenuRequest(codes.displaySwitch, 0);
        selectedChannel_ = channel;
        return 0;
    }
    postMenuRequest(param::measRefChannel, codes.referenceMask);
    selectedChannel_ = channel;
    refresh();
    return 1;
}

void ScopeVertical::sendRequestSensibility(int index)
{
    postMenuRequest(sensitivityCode_, index);
}

void ScopeVertical::sendRequestCoupling(int index)
{
    postMenuRequest(couplingCode_, index);
}

void ScopeVertical::sendRequestBwLimit(int index)
{
    postMenuRequest(bwLimitCode_, index);
}

void ScopeVertical::sendRequestProbeCoeff(float coefficient)
{
    postMenuRequest(probeCode_, 0, 0, coefficient);
}

void ScopeVertical::sendRequestMeasUnit(QString unit)
{
    char* buffer = unitBuffers_[nextUnitBuffer_];
    nextUnitBuffer_ = (nextUnitBuffer_ + 1) % kBufferRing;
    const QByteArray bytes = cutUtf8(unit, kUnitBytes);
    std::memset(buffer, 0, kUnitBytes + 1);
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(bytes.size()));
    postMenuRequest(unitCode_, reinterpret_cast<intptr_t>(buffer));
}

void ScopeVertical::sendRequestKalvex(int button, int colour)
{
    // A selector at its empty state (-1) has no colour to send.
    if (colour < 0 || colour > 3)
        return;
    postMenuRequest(colourCode_, kColourTable[colour], button);
}

int ScopeVertical::isButtonSelectPossible() const
{
    if (clickedChannel_ < 0 || clickedChannel_ > 3)
        return 0;
    // A copy of the link: the probe stays for this call even if the controller replaces it.
    const std::shared_ptr<TKalvex> probe = smartProbeLink(clickedChannel_);
    unsigned short id = 0;
    if (!probe || probe->getId(nullptr, &id) != 0)
        return 0;
    return (id & 0x8000) != 0 ? 1 : 0;
}

QStringList ScopeVertical::getSensitivityList() const
{
    QStringList list;
    const QString suffix = unit();
    for (float entry : kSensitivities)
        list << ScopePrintf(2, entry * probeCoeff_) + suffix;
    return list;
}

QString ScopeVertical::unit() const
{
    QString text = unit_;
    text.replace(QLatin1Char('{'), QChar(0x03A9));
    text.replace(QChar(0xFFFD), QChar(0x00B0));
    return text;
}

void ScopeVertical::opacityChangedSlot()
{
    // Only a change between hidden and shown counts: a fade or a second show keeps one connection.
    const bool shown = opacity() != 0.0;
    if (shown == shown_)
        return;
    shown_ = shown;
    HomeView* view = po_g_homeView;
    if (!view)
        return;
    if (!shown) {
        disconnect(view, &HomeView::screenMajSignal, this, &ScopeVertical::screenMajSlot);
        return;
    }
    connect(view, &HomeView::screenMajSignal, this, &ScopeVertical::screenMajSlot, Qt::UniqueConnection);
    refresh();
}

void ScopeVertical::screenMajSlot(int code)
{
    const bool refreshes = code == 0 || (code >= 14 && code <= 21) || code == 27 || (code >= 42 && code <= 45) ||
                           (code >= 50 && code <= 53) || (code >= 55 && code <= 58) || (code >= 138 && code <= 141) ||
                           (code >= 166 && code <= 169);
    if (refreshes)
        refresh();
}

void ScopeVertical::refresh()
{
    const int n = channelIndex(clickedChannel_);
    const ChannelCodes codes = codesOf(n);
    title_ = tr("CH") + QString::number(n + 1);
    sensIndex_ = static_cast<int16_t>(setupValue(codes.sensitivity));
    couplingIndex_ = static_cast<int16_t>(setupValue(codes.coupling));
    bwLimitIndex_ = setupValue(codes.bwLimit);
    probeCoeff_ = probeCoeffOf(n);
    const char* field = unitField(n);
    unit_ = QString::fromUtf8(field, static_cast<int>(strnlen(field, 4)));
    const int colour = static_cast<int16_t>(setupValue(codes.colour));
    color_ = getZincColor(static_cast<unsigned short>(colour));
    kalvexColorIndex_ = colourIndexOf(colour);
    kalvexButtonIndex_ = -1;
    if (const std::shared_ptr<TKalvex> probe = smartProbeLink(n)) {
        unsigned short colourByte = 0;
        unsigned short second = 0;
        if (probe->getUserFields(&colourByte, &second) == 0 && second != 255)
            kalvexButtonIndex_ = second;
    }
    emit dataChanged();
}
