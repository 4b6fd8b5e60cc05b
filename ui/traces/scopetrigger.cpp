#include "ui/traces/scopetrigger.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "core/scale.h"
#include "hardware/CmdesBase.h"
#include "ui/frame/homeview.h"

#include <cmath>
#include <limits>

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();

// Parameter `number` of an image, read as the field's signed value.
int32_t paramOf(const database* image, int number)
{
    return get_db(adr_par, type_par, image, static_cast<uint32_t>(number));
}

// Unsigned 32-bit time / count fields and their bounds.
double unsignedOf(const database* image, int number)
{
    return static_cast<double>(static_cast<uint32_t>(paramOf(image, number)));
}

// Settings of one trigger channel column, as the panel shows them.
struct ChannelView {
    int coupling;
    int edge;
    bool noiseReject;
    double scale;
    double level;
    double maxLevel;
};

ChannelView channelView(int column)
{
    ChannelView v;
    v.coupling = static_cast<uint16_t>(paramOf(&data, param::trigCouplingCh1 + column));
    v.edge = static_cast<uint16_t>(paramOf(&data, param::trigEdgeCh1 + column));
    auto* trace = static_cast<TAcquisition*>(setupLink(param::acqCh1 + column));
    const auto sensitivity = static_cast<short>(paramOf(&data, param::sensitivityCh1 + column));
    // Volts per thousandth of the range, in single precision as the level field is scaled.
    const float scale = GetVerticalScale(trace, SCALE_SCOPE, sensitivity) * 262.0f;
    v.scale = scale;
    v.level = v.scale * paramOf(&data, param::trigLevelCh1 + column);
    v.noiseReject = paramOf(&data, param::noiseRejectCh1 + column) != 0;
    v.maxLevel = v.scale * paramOf(&max_par, param::trigLevelCh1 + column);
    return v;
}
} // namespace

ScopeTrigger::ScopeTrigger(QQuickItem* parent)
    : QQuickItem(parent),
      tlevelValue_(kInf),
      tmaxlevelValue_(kInf),
      holdoffValue_(kInf),
      maxholdoffValue_(kInf),
      minholdoffValue_(-kInf),
      qlevelValue_(kInf),
      qmaxlevelValue_(kInf),
      t1Value_(kInf),
      t1maxValue_(kInf),
      t1minValue_(-kInf),
      t2Value_(kInf),
      delayValue_(kInf),
      delaymaxValue_(kInf),
      delayminValue_(-kInf),
      countValue_(kInf),
      countmaxValue_(kInf),
      countminValue_(-kInf),
      // No scale before the first recomputation: a level sent then posts nothing.
      triggerScale_(std::numeric_limits<double>::quiet_NaN()),
      qualifierScale_(std::numeric_limits<double>::quiet_NaN())
{
    connect(this, &QQuickItem::opacityChanged, this, &ScopeTrigger::opacityChangedSlot);
}

ScopeTrigger::~ScopeTrigger()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &ScopeTrigger::screenMajSlot);
}

int ScopeTrigger::channelColumn(int sourceIndex)
{
    return sourceIndex >= 1 && sourceIndex <= 3 ? sourceIndex : 0;
}

bool ScopeTrigger::toRequestValue(double quotient, int32_t* out)
{
    if (std::isnan(quotient))
        return false;
    const double magnitude = std::fabs(quotient);
    double whole = std::ceil(magnitude);
    // Decimal inputs rarely divide exactly in binary: 1e-6 / 8e-9 is 124.99999999999999.
    if (whole - magnitude > 1e-9 * whole)
        whole = std::trunc(magnitude);
    const double value = quotient < 0 ? -whole : whole;
    if (value >= 2147483647.0)
        *out = std::numeric_limits<int32_t>::max();
    else if (value <= -2147483648.0)
        *out = std::numeric_limits<int32_t>::min();
    else
        *out = static_cast<int32_t>(value);
    return true;
}

void ScopeTrigger::post(int code, int32_t value)
{
    pipe_dial request{REQ_SET_PARAM, code, 0, value, 0.0f, senderValue(MENU_id)};
    // The panel shows the value only when the controller announces it; a full box drops it.
    o_g_consMessageBox.send(&request);
}

void ScopeTrigger::postQuotient(int code, double quotient)
{
    int32_t value;
    // 0 / 0 (a level with a zero scale): there is no value to send.
    if (toRequestValue(quotient, &value))
        post(code, value);
}

void ScopeTrigger::sendRequestSelect(int index)
{
    post(param::trigType, index);
}

void ScopeTrigger::sendRequestTrigSource(int index)
{
    post(param::trigSource, index);
    tsourceIndex_ = index;
    paramUpdate();
    emit dataChanged();
}

void ScopeTrigger::sendRequestTrigCoupling(int index)
{
    post(param::trigCouplingCh1 + channelColumn(tsourceIndex_), index);
}

void ScopeTrigger::sendRequestTrigEdge(int index)
{
    post(param::trigEdgeCh1 + channelColumn(tsourceIndex_), index);
}

void ScopeTrigger::sendRequestTrigNoiseReject(bool on)
{
    post(param::noiseRejectCh1 + channelColumn(tsourceIndex_), on ? 1 : 0);
}

void ScopeTrigger::sendRequestTrigLevel(double volts)
{
    postQuotient(param::trigLevelCh1 + channelColumn(tsourceIndex_), volts / triggerScale_);
}

void ScopeTrigger::sendRequestHoldoff(double seconds)
{
    postQuotient(param::trigHoldoff, seconds / kTick);
}

void ScopeTrigger::sendRequestQualifSource(int index)
{
    post(param::qualifSource, index);
    qsourceIndex_ = index;
    paramUpdate();
    emit dataChanged();
}

void ScopeTrigger::sendRequestQualifCoupling(int index)
{
    post(param::trigCouplingCh1 + channelColumn(qsourceIndex_), index);
}

void ScopeTrigger::sendRequestQualifEdge(int index)
{
    post(param::trigEdgeCh1 + channelColumn(qsourceIndex_), index);
}

void ScopeTrigger::sendRequestQualifNoiseReject(bool on)
{
    post(param::noiseRejectCh1 + channelColumn(qsourceIndex_), on ? 1 : 0);
}

void ScopeTrigger::sendRequestQualifLevel(double volts)
{
    postQuotient(param::trigLevelCh1 + channelColumn(qsourceIndex_), volts / qualifierScale_);
}

void ScopeTrigger::sendRequestPulseType(int index)
{
    post(param::pulseType, index);
}

void ScopeTrigger::sendRequestPulseT1(double seconds)
{
    postQuotient(param::pulseT1, seconds / kTick);
}

void ScopeTrigger::sendRequestPulseT2(double seconds)
{
    postQuotient(param::pulseT2, seconds / kTick);
}

void ScopeTrigger::sendRequestDelay(double seconds)
{
    postQuotient(param::trigDelay, seconds / kTick);
}

void ScopeTrigger::sendRequestCount(double count)
{
    postQuotient(param::eventCount, count);
}

void ScopeTrigger::setClicked()
{
    title_ = tr("Parametres de declenchement");
    tsourceIndex_ = data.trigSource;
    qsourceIndex_ = data.qualifSource;
    paramUpdate();
    emit titleChanged();
    emit triggerTypeChanged();
}

int ScopeTrigger::getChannels() const
{
    return EtatLogique(ETAT_TWO_CHANNEL_MODEL) ? 2 : 4;
}

void ScopeTrigger::opacityChangedSlot()
{
    if (!po_g_homeView)
        return;
    if (opacity() == 0.0) {
        disconnect(po_g_homeView, &HomeView::screenMajSignal, this, &ScopeTrigger::screenMajSlot);
        return;
    }
    // Fades change the opacity many times; one connection only.
    connect(po_g_homeView, &HomeView::screenMajSignal, this, &ScopeTrigger::screenMajSlot,
            Qt::UniqueConnection);
}

void ScopeTrigger::screenMajSlot(int code)
{
    switch (code) {
    case param::autosetRequest:  // an autoset changes the whole trigger set-up
    case param::trigType:
        paramUpdate();
        emit triggerTypeChanged();
        return;
    case param::trigSource:
        tsourceIndex_ = data.trigSource;
        paramUpdate();
        emit dataChanged();
        return;
    case param::qualifSource:
        qsourceIndex_ = data.qualifSource;
        paramUpdate();
        emit dataChanged();
        return;
    default:
        break;
    }
    const bool ours = code == param::trigHoldoff
                      || (code >= param::trigLevelCh1 && code <= param::trigLevelCh1 + 3)
                      || (code >= param::trigDelay && code <= param::pulseType)
                      || (code >= param::trigCouplingCh1 && code <= param::noiseRejectCh1 + 3)
                      || code == param::pulseT2;
    if (!ours)
        return;
    paramUpdate();
    emit dataChanged();
}

void ScopeTrigger::paramUpdate()
{
    selectIndex_ = data.trigType;

    const ChannelView t = channelView(channelColumn(tsourceIndex_));
    tcouplingIndex_ = t.coupling;
    tedgeIndex_ = t.edge;
    triggerScale_ = t.scale;
    tlevelValue_ = t.level;
    tnoiserejectValue_ = t.noiseReject;
    tmaxlevelValue_ = t.maxLevel;

    holdoffValue_ = unsignedOf(&data, param::trigHoldoff) * kTick;
    maxholdoffValue_ = unsignedOf(&max_par, param::trigHoldoff) * kTick;
    minholdoffValue_ = kMinHoldoff;

    const ChannelView q = channelView(channelColumn(qsourceIndex_));
    qcouplingIndex_ = q.coupling;
    qedgeIndex_ = q.edge;
    qnoiserejectValue_ = q.noiseReject;
    qualifierScale_ = q.scale;
    qlevelValue_ = q.level;
    qmaxlevelValue_ = q.maxLevel;

    pulseIndex_ = data.pulseType;
    t1Value_ = unsignedOf(&data, param::pulseT1) * kTick;
    t1maxValue_ = unsignedOf(&max_par, param::pulseT1) * kTick;
    t2Value_ = unsignedOf(&data, param::pulseT2) * kTick;
    delayValue_ = unsignedOf(&data, param::trigDelay) * kTick;
    delaymaxValue_ = unsignedOf(&max_par, param::trigDelay) * kTick;
    countValue_ = unsignedOf(&data, param::eventCount);
    countmaxValue_ = unsignedOf(&max_par, param::eventCount);
    t1minValue_ = kT1Min;
    delayminValue_ = kDelayMin;
    countminValue_ = kCountMin;
}
