#include "ui/frame/powermeasurement.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "core/scopeprintf.h"
#include "ui/frame/homeview.h"

#include <algorithm>
#include <cmath>

namespace {

// The record, copied under the results lock; null without one.
const mesures* copyOf(const mesures* live, mesures* copy)
{
    if (!live)
        return nullptr;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    *copy = *live;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    return copy;
}

} // namespace

PowerMeasurement::PowerMeasurement(QObject* parent)
    : MeterMeasurement(parent)
    , apparentText_(QStringLiteral("---.-"))
    , reactiveText_(QStringLiteral("---.-"))
{
    record_ = recordOf(kMainRecord);
    secondRecord_ = recordOf(kSecondRecord);
    screenMajSlot(29);
}

uint16_t PowerMeasurement::identifierOf(int function)
{
    switch (function) {
    case 9: return MEAS_POWER_THREE_PHASE;
    case 10: return MEAS_POWER_BALANCED_PN;
    case 11: return MEAS_POWER_BALANCED_2PH;
    default: return MEAS_POWER_SINGLE;
    }
}

QString PowerMeasurement::iconOf(int function)
{
    switch (function) {
    case 9: return QStringLiteral("PuissanceTri.png");
    case 10: return QStringLiteral("PuissanceTriEquilPhNCh1Ch4.png");
    case 11: return QStringLiteral("PuissanceTriEquil2PhCh1Ch4.png");
    default: return QStringLiteral("PuissanceMonoCh1Ch4.png");
    }
}

void PowerMeasurement::setIdentifier(int channel)
{
    channel_ = channel;
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &PowerMeasurement::screenMajSlot,
                Qt::UniqueConnection);
}

QString PowerMeasurement::title() const
{
    return tr("POWER");
}

void PowerMeasurement::setTuningRange()
{
    const TSetupLinks& links = setupLinks();
    float s = static_cast<float>(scale_);
    if (links.powerFunctionA) {
        links.powerFunctionA->GetVerticalScale(&s, nullptr, SCALE_METER);
        scale_ = s;
    }
    s = static_cast<float>(secondScale_);
    if (links.powerFunctionB) {
        links.powerFunctionB->GetVerticalScale(&s, nullptr, SCALE_METER);
        secondScale_ = s;
    }
}

void PowerMeasurement::setNumericValue(float v)
{
    MeterMeasurement::setNumericValue(v);
    if (status_ == 0)
        valueText_ = ScopePrintf(3, numericValue_) + QStringLiteral("W");
}

void PowerMeasurement::screenMajSlot(int parameter)
{
    const auto chooseFunction = [this] {
        identifier_ = identifierOf(data.meterFunction);
        iconName_ = iconOf(data.meterFunction);
    };
    switch (parameter) {
    case 0:
    case 29:
        chooseFunction();
        setTuningRange();
        resetStatistics();
        break;
    case param::meterFunction:
        chooseFunction();
        break;
    case param::meterAuxMeas:
        resetStatistics();
        break;
    case param::traceOnCh1:
    case param::traceOnCh2:
    case param::traceOnCh3:
    case param::traceOnCh4:
    case param::meterRangeCh1:
    case param::meterRangeCh2:
    case param::meterRangeCh3:
    case param::meterRangeCh4:
        setTuningRange();
        break;
    default:
        break;
    }
}

void PowerMeasurement::compute(float voltage, float current)
{
    mesures mainCopy{};
    mesures secondCopy{};
    const mesures* main = copyOf(record_, &mainCopy);

    float w = 0.0f;
    int status = getMeasurementValue(identifier_, main, &w);
    float f = 0.0f;
    int frequencyStatus = getMeasurementValue(MEAS_METER_FREQUENCY, main, &f);

    const double vi = double(voltage) * double(current);
    // A channel without a valid reading (the recorder passes NaN) gives no apparent power.
    const bool viKnown = std::isfinite(vi);
    double p = 0.0, s = 0.0, q = 0.0;
    switch (identifier_) {
    case MEAS_POWER_BALANCED_PN:
        p = 3.0 * w;
        s = std::max(3.0 * vi, p);
        q = std::sqrt(std::max(s * s - p * p, 0.0));
        break;
    case MEAS_POWER_BALANCED_2PH:
        q = kSqrt3 * w;
        s = std::max(kSqrt3 * vi, q);
        p = std::sqrt(std::max(s * s - q * q, 0.0));
        if (!viKnown) {
            // The active power itself comes from the apparent one here: no reading (an
            // overload stays one).
            p = std::nan("");
            if (status == 0)
                status = 2;
        }
        break;
    case MEAS_POWER_THREE_PHASE: {
        const mesures* second = copyOf(secondRecord_, &secondCopy);
        float w2 = 0.0f;
        if (status == 0)
            status = valueOf(identifier_, second, secondScale_, offset_, &w2);
        if (frequencyStatus == 0)
            frequencyStatus = getMeasurementValue(MEAS_METER_FREQUENCY, second, nullptr);
        p = double(w) + double(w2);
        q = double(w) - double(w2);
        s = std::sqrt(p * p + q * q);
        break;
    }
    default:
        p = w;
        s = std::max(vi, p);
        q = std::sqrt(std::max(s * s - p * p, 0.0));
        break;
    }
    const bool apparentKnown = viKnown || identifier_ == MEAS_POWER_THREE_PHASE;

    numericValue_ = static_cast<float>(p);
    const QString none = QStringLiteral("-----");
    switch (status) {
    case 0:
        minimum_ = std::min(minimum_, numericValue_);
        maximum_ = std::max(maximum_, numericValue_);
        valueText_ = ScopePrintf(3, p) + QStringLiteral("W");
        if (!apparentKnown) {
            apparentText_ = none;
            reactiveText_ = none;
            powerFactorText_ = none;
            break;
        }
        apparentText_ = ScopePrintf(3, s) + QStringLiteral("VA");
        reactiveText_ = ScopePrintf(3, q) + QStringLiteral("var");
        powerFactorText_ = s == 0.0 ? QStringLiteral("PF: ----")
                                    : QStringLiteral("PF: ") + QString::number(p / s, 'f', 3);
        break;
    case 1:
        valueText_ = QStringLiteral("- OL -");
        apparentText_ = valueText_;
        reactiveText_ = valueText_;
        powerFactorText_ = none;
        break;
    default:
        valueText_ = QStringLiteral("-run-");
        apparentText_ = none;
        reactiveText_ = none;
        powerFactorText_ = none;
        break;
    }

    setAuxiliaryTexts(status, frequencyStatus, f, QStringLiteral("W"), false, true);
    status_ = status;
    frequencyStatus_ = frequencyStatus;
}
