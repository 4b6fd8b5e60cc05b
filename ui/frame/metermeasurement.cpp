#include "ui/frame/metermeasurement.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "ui/frame/homeview.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kCentreCode = 524256.0;
// Quadratic subtraction of 3.5 mV from the AC readings.
constexpr double kNoiseFloorSquare = 1.225e-5;
// Residual capacitance of the test path, farads.
constexpr double kCapacitanceZero = 2e-10;
// Below half range / 2000 a value reads 0.
constexpr double kZeroFraction = 2000.0;
// Changes within 1 % of the half range are smoothed.
constexpr double kSmoothingFraction = 0.01;

const char* const kCouplingTexts[12] = {
    QT_TRANSLATE_NOOP("MeterMeasurement", "AC"),
    QT_TRANSLATE_NOOP("MeterMeasurement", "DC"),
    QT_TRANSLATE_NOOP("MeterMeasurement", "AC+DC"),
    nullptr,
    QT_TRANSLATE_NOOP("MeterMeasurement", "AC <5 kHz"),
    nullptr,
    QT_TRANSLATE_NOOP("MeterMeasurement", "AC+DC <5 kHz"),
    nullptr,
    QT_TRANSLATE_NOOP("MeterMeasurement", "AC <625 Hz"),
    nullptr,
    QT_TRANSLATE_NOOP("MeterMeasurement", "AC+DC <625 Hz"),
    nullptr,
};

bool hasBits(int32_t flags, uint32_t bits)
{
    return (static_cast<uint32_t>(flags) & bits) == bits;
}

// Noise-floor rule of the AC readings.
float acValue(double r, double scale, double offset)
{
    const double t = offset + r * scale;
    const double d = t * t - kNoiseFloorSquare;
    return d > 0.0 ? static_cast<float>(std::sqrt(d)) : 0.0f;
}

} // namespace

MeterMeasurement::MeterMeasurement(QObject* parent)
    : QObject(parent)
    , valueText_(QStringLiteral("---.-"))
    , frequencyText_(QStringLiteral("--.-"))
    , minText_(QStringLiteral("min: -.---"))
    , maxText_(QStringLiteral("max: -.---"))
    , relativeText_(QStringLiteral("-"))
{
}

MeterMeasurement::~MeterMeasurement()
{
    if (po_g_homeView)
        disconnect(po_g_homeView, nullptr, this, nullptr);
}

mesures* MeterMeasurement::recordOf(int index)
{
    mesures* table = setupLinks().measResultsPtr;
    return table ? table + index : nullptr;
}

void MeterMeasurement::setIdentifier(int channel)
{
    channel_ = channel;
    const TSetupLinks& links = setupLinks();
    switch (channel) {
    case 1: acquisition_ = links.acqCh2; break;
    case 2: acquisition_ = links.acqCh3; break;
    case 3: acquisition_ = links.acqCh4; break;
    default: acquisition_ = links.acqCh1; break;
    }
    // Records 0-3 are the channels', 8 and 9 the power products'.
    record_ = channel >= 0 && channel < 10 ? recordOf(channel) : nullptr;
    if (po_g_homeView) {
        connect(po_g_homeView, &HomeView::screenRefreshSignal, this, &MeterMeasurement::screenRefreshSlot,
                Qt::UniqueConnection);
        connect(po_g_homeView, &HomeView::screenMajSignal, this, &MeterMeasurement::screenMajSlot,
                Qt::UniqueConnection);
    }
    screenMajSlot(0);
}

QString MeterMeasurement::title() const
{
    return tr("CH") + QString::number(channel_ + 1);
}

QString MeterMeasurement::getUnit() const
{
    if (!acquisition_)
        return QString();
    return GetVerticalUnit(acquisition_, acquisition_->meterScale, true);
}

int MeterMeasurement::numericValue(float* out) const
{
    if (out)
        *out = numericValue_;
    return status_;
}

void MeterMeasurement::setNumericValue(float v)
{
    if (std::isnan(v)) {
        status_ = 2;
        numericValue_ = 0.0f;
        valueText_ = QStringLiteral("---.-");
        return;
    }
    status_ = 0;
    numericValue_ = v;
    if (std::fabs(double(v)) < halfRange_ / kZeroFraction)
        numericValue_ = 0.0f;
    valueText_ = ScopePrintfRange(halfRange_, numericValue_) + getUnit();
}

QString MeterMeasurement::couplingText(int code)
{
    if (code < 0 || code > 11 || !kCouplingTexts[code])
        return QString();
    return QCoreApplication::translate("MeterMeasurement", kCouplingTexts[code]);
}

int MeterMeasurement::getMeasurementValue(uint16_t id, const mesures* record, float* out) const
{
    return valueOf(id, record, scale_, offset_, out);
}

int MeterMeasurement::valueOf(uint16_t id, const mesures* record, double scale, double offset, float* out)
{
    float value = 0.0f;
    int status = 1;
    if (!record || (record->flags == 0 && record->overrange == 0)) {
        status = 2;
    } else {
        const int32_t flags = record->flags;
        switch (id) {
        case MEAS_METER_FREQUENCY: {
            const uint16_t n = record->periodCount;
            if (n == 0)
                break;
            const uint32_t first = std::min(record->rise50, record->fall50);
            const int64_t span = int64_t(record->lastCross50) - int64_t(first);
            if (span <= 0)
                break;
            const double f = double(n) * double(record->extraValue) / double(span) / double(GetHorizontalScale(21));
            if (!std::isfinite(f))
                break;
            value = static_cast<float>(f);
            status = 0;
            break;
        }
        case MEAS_METER_DC:
            // Over the whole periods when the record framed any: the window holds a broken
            // last period, whose share moves the window mean of a square by up to 13 %.
            if ((hasBits(flags, 0x3403) || hasBits(flags, 0x3803)) && record->periodCount > 0) {
                value = static_cast<float>(offset + (record->meanPeriods - kCentreCode) * scale);
                status = 0;
            } else if (hasBits(flags, 0x2003)) {
                value = static_cast<float>(offset + (record->mean - kCentreCode) * scale);
                status = 0;
            }
            break;
        case MEAS_METER_DIODE:
            if (hasBits(flags, 0x2003)) {
                value = static_cast<float>(offset + (record->mean - kCentreCode) * scale);
                status = 0;
            }
            break;
        case MEAS_METER_AC:
            if (hasBits(flags, 0x300c)) {
                const double m = record->meanPeriods - kCentreCode;
                const double q = record->meanSquarePeriods;
                const double r = q > m * m ? std::sqrt(q - m * m) : 0.0;
                value = acValue(r, scale, offset);
                status = 0;
            }
            break;
        case MEAS_METER_ACDC:
            if (hasBits(flags, 0x3403) || hasBits(flags, 0x3803)) {
                value = acValue(std::sqrt(record->meanSquarePeriods), scale, offset);
                status = 0;
            } else if (hasBits(flags, 0x3003)) {
                value = acValue(std::sqrt(record->meanSquare), scale, offset);
                status = 0;
            }
            break;
        case MEAS_METER_RESISTANCE:
            if (hasBits(flags, 0x2000)) {
                value = static_cast<float>(offset + (record->mean - kCentreCode) * scale);
                status = 0;
            }
            break;
        case MEAS_METER_CAPACITANCE:
            if (hasBits(flags, 0x10000000)) {
                double c = -record->capaValue;
                if (c != 0.0)
                    c = scale / c + offset;
                value = c - kCapacitanceZero > 0.0 ? static_cast<float>(c - kCapacitanceZero) : 0.0f;
                status = 0;
            }
            break;
        case MEAS_POWER_SINGLE:
        case MEAS_POWER_THREE_PHASE:
        case MEAS_POWER_BALANCED_PN:
        case MEAS_POWER_BALANCED_2PH:
            if (hasBits(flags, 0x200c)) {
                value = static_cast<float>(offset + (record->meanPeriods - kCentreCode) * scale);
                status = 0;
            }
            break;
        default:
            break;
        }
    }
    if (out)
        *out = value;
    return status;
}

void MeterMeasurement::setTuningRange()
{
    if (acquisition_) {
        const TScale kind = acquisition_->meterScale;
        scale_ = GetVerticalScale(acquisition_, kind, static_cast<short>(acquisition_->meterRange));
        offset_ = GetVerticalOffset(acquisition_, kind);
        acquisition_->GetMMRange(&halfRange_, &rangeTop_, &rangeFlag_);
        halfRange_ /= 2.0;
        rangeText_ = ScopePrintf(3, halfRange_) + getUnit();
        return;
    }
    TFonction* function = channel_ == 8 ? setupLinks().powerFunctionA
                          : channel_ == 9 ? setupLinks().powerFunctionB
                                          : nullptr;
    if (function) {
        float s = static_cast<float>(scale_);
        function->GetVerticalScale(&s, nullptr, SCALE_METER);
        scale_ = s;
    }
}

void MeterMeasurement::setTuningCoupling(uint16_t function)
{
    if (!acquisition_)
        return;
    if (function >= 1 && function <= 4)
        couplingText_.clear();
    else
        couplingText_ = couplingText(acquisition_->meterCoupling);
}

void MeterMeasurement::resetStatistics()
{
    minimum_ = FLT_MAX;
    maximum_ = -FLT_MAX;
    relativeReference_ = numericValue_;
}

void MeterMeasurement::screenMajSlot(int parameter)
{
    valueText_ = QStringLiteral("-----");
    identifier_ = kNoIdentifier;
    int function = data.meterFunction;
    if (function == 16) {
        identifier_ = MEAS_METER_AC;
    } else {
        if (channel_ != 0) {
            iconName_.clear();
            // The other channels measure voltage beside the first channel's own functions.
            if ((function & 8) == 0)
                function = 0;
        } else {
            switch (function) {
            case 1:
                identifier_ = MEAS_METER_RESISTANCE;
                iconName_ = QStringLiteral("ch1_ohm.png");
                break;
            case 2:
                identifier_ = MEAS_METER_RESISTANCE;
                iconName_ = QStringLiteral("ch1_continuity.png");
                break;
            case 3:
                identifier_ = MEAS_METER_CAPACITANCE;
                iconName_ = QStringLiteral("ch1_capa.png");
                valueText_ = QStringLiteral("-run-");
                break;
            case 4:
                identifier_ = MEAS_METER_DIODE;
                iconName_ = QStringLiteral("ch1_diode.png");
                break;
            default:
                iconName_.clear();
                break;
            }
        }
        if (acquisition_) {
            acquisition_->SetMesureParametres();
            if (identifier_ == kNoIdentifier) {
                switch (acquisition_->meterCoupling) {
                case 0: case 4: case 8: identifier_ = MEAS_METER_AC; break;
                case 1: case 5: case 9: identifier_ = MEAS_METER_DC; break;
                default: identifier_ = MEAS_METER_ACDC; break;
                }
            }
        }
    }
    setTuningRange();
    setTuningCoupling(static_cast<uint16_t>(function));

    const bool ownCoupling = channel_ >= 0 && channel_ <= 3 && parameter == param::meterCouplingCh1 + 3 * channel_;
    if (parameter == param::meterAuxMeas || parameter == param::meterFunction || ownCoupling)
        resetStatistics();
}

void MeterMeasurement::screenRefreshSlot()
{
    const QString unit = getUnit();

    // A copy under the lock: the meter cycle rewrites the record while we read it otherwise.
    mesures copy{};
    const mesures* record = nullptr;
    if (record_) {
        pthread_mutex_lock(&o_g_autoMeasMutex);
        copy = *record_;
        pthread_mutex_unlock(&o_g_autoMeasMutex);
        record = &copy;
    }

    float v = 0.0f;
    const int status = getMeasurementValue(identifier_, record, &v);
    float f = 0.0f;
    int frequencyStatus = 1;
    if (identifier_ == MEAS_METER_DC || identifier_ == MEAS_METER_AC || identifier_ == MEAS_METER_ACDC)
        frequencyStatus = getMeasurementValue(MEAS_METER_FREQUENCY, record, &f);

    if (halfRange_ != 0.0 && std::fabs((double(v) - numericValue_) / halfRange_) < kSmoothingFraction)
        v = (v + 3.0f * numericValue_) / 4.0f;
    numericValue_ = v;
    if (std::fabs(double(v)) < halfRange_ / kZeroFraction)
        numericValue_ = 0.0f;

    switch (status) {
    case 0:
        minimum_ = std::min(minimum_, numericValue_);
        maximum_ = std::max(maximum_, numericValue_);
        valueText_ = ScopePrintfRange(halfRange_, numericValue_) + unit;
        break;
    case 1:
        valueText_ = QStringLiteral("- OL -");
        maximum_ = rangeFlag_ ? static_cast<float>(halfRange_) : FLT_MAX;
        break;
    default:
        break;
    }

    setAuxiliaryTexts(status, frequencyStatus, f, unit, true, false);
    status_ = status;
    frequencyStatus_ = frequencyStatus;
}

void MeterMeasurement::setAuxiliaryTexts(int status, int frequencyStatus, float frequency, const QString& unit,
                                         bool overloadMaximum, bool relativeNeedsFrequency)
{
    const QString none = QStringLiteral("-----");
    frequencyText_ = none;
    minText_ = none;
    maxText_ = none;
    relativeText_ = none;
    if (frequencyStatus == 0 && frequency > kMaxFrequency) {
        frequencyText_ = QStringLiteral("F= -OL-  Hz");
        return;
    }

    QString text;
    if (minimum_ == -1e8f)
        text = tr("Overload");
    else if (minimum_ == FLT_MAX)
        text = none;
    else
        text = ScopePrintf(3, minimum_) + unit;
    minText_ = tr("min: ") + text;

    if (maximum_ == 1e8f)
        text = tr("Overload");
    else if (maximum_ == -FLT_MAX)
        text = none;
    else if (overloadMaximum && maximum_ == FLT_MAX)
        text = QStringLiteral("- OL -");
    else
        text = ScopePrintf(3, maximum_) + unit;
    maxText_ = tr("max: ") + text;

    if (status != 0)
        return;
    if (!relativeNeedsFrequency || frequencyStatus == 0)
        relativeText_ = tr("Rel: ") + ScopePrintf(3, double(numericValue_) - relativeReference_) + unit;
    if (frequencyStatus == 0)
        frequencyText_ = tr("Freq: ") + ScopePrintf(3, frequency) + QStringLiteral("Hz");
}
