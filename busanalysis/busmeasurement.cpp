#include "busanalysis/busmeasurement.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "busanalysis/busmeasfactory.h"
#include "busanalysis/busxmlvalue.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"

#include <QString>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

constexpr int32_t kLevelBits = MEAS_MAX_VALID | MEAS_MIN_VALID | MEAS_TOP_VALID | MEAS_BASE_VALID;
constexpr int32_t kRise10And90 = 0x10 | 0x40;
constexpr int32_t kFall90And10 = 0x80 | 0x200;
constexpr int32_t kMeanValid = 0x2000;
// Square of the instrument's own rise time (1.1667 ns), in s².
constexpr double kOwnRiseSquared = 1.361111111111111e-18;

bool has(int32_t flags, int32_t bits)
{
    return (flags & bits) == bits;
}

int64_t code(uint32_t word)
{
    return int64_t{word & 0xFFFFFu};
}

// A display value as a float: beyond the float range it is FLT_MAX (no value) or -FLT_MAX.
float toFloat(double d)
{
    if (!(d < FLT_MAX))
        return FLT_MAX;
    if (d < -FLT_MAX)
        return -FLT_MAX;
    return static_cast<float>(d);
}

TScale currentScale()
{
    if (data.traceFormat == 1)
        return data.fftVerticalScale == 1 ? SCALE_FFT_DB : SCALE_FFT;
    return SCALE_SCOPE;
}

} // namespace

void TBusMeasurement::init()
{
    name.clear();
    idmesure = 0;
    levelCode = 0;
    scale = 1.0;
    offset = 0.0;
    unit.clear();
    stepNumber = 0;
    limitemax = FLT_MAX;
    limitemin = FLT_MAX;
    warning = FLT_MAX;
    nbmesuresmax = 0;
    maximum = -DBL_MAX;
    minimum = DBL_MAX;
    sum = 0;
    tempocoupac = 0;
    influencemes = 1.0f;
    state = kIdle;
    result = kNoLimit;
    distance = 0;
    retained = 0;
    acquisitions = 0;
    values = 0;
    variable1 = variable2 = variable3 = variable4 = 0;
}

int TBusMeasurement::setParamsFromXml(XmlDescriptor* mesureElement)
{
    static const char* const kKeys[] = {"namemesure",   "idmesure",     "limitemax",   "limitemin",
                                        "warning",      "nbmesuresmax", "influencemes", "tempocoupac",
                                        "variable1",    "variable2",    "variable3",   "variable4"};
    const int r = walkBusChildren(mesureElement, kKeys, 12, [this](int key, const std::string& text) {
        int64_t v = 0;
        switch (key) {
        case 0:
            name = text;
            return true;
        case 1:
            if (!readBusInteger(text, 16, true, &v))
                return false;
            idmesure = static_cast<int16_t>(v);
            return true;
        case 2:
        case 3:
        case 4: {
            // A limit or band that does not read ("---") is absent.
            float* const fields[] = {&limitemax, &limitemin, &warning};
            float f = 0;
            *fields[key - 2] = readBusFloat(text, &f) ? f : FLT_MAX;
            return true;
        }
        case 5:
            if (!readBusInteger(text, 32, true, &v))
                return false;
            nbmesuresmax = static_cast<int32_t>(v);
            return true;
        case 6:
        case 7:
            return readBusFloat(text, key == 6 ? &influencemes : &tempocoupac);
        default: {
            if (!readBusInteger(text, 32, true, &v))
                return false;
            int32_t* const spares[] = {&variable1, &variable2, &variable3, &variable4};
            *spares[key - 8] = static_cast<int32_t>(v);
            return true;
        }
        }
    });
    // Percent into a band of display units, in single precision; an absent warning or a
    // product that is not finite gives no band.
    if (warning != FLT_MAX) {
        float band = 0;
        if (limitemax != FLT_MAX && limitemin != FLT_MAX)
            band = std::fabs((limitemax - limitemin) * warning / 100.0f);
        else if (limitemax != FLT_MAX)
            band = std::fabs(limitemax * warning / 100.0f);
        warning = std::isfinite(band) && band < FLT_MAX ? band : FLT_MAX;
    }
    return r;
}

int TBusMeasurement::setBusMeasFactory(TBusMeasFactory* factory)
{
    TSetupLinks& links = setupLinks();
    TAcquisition* trace = nullptr;
    double factor = 1.0;
    auto defined = [](TFonction* f) { return f && f->IsDefined(); };
    switch (factory ? factory->channel : -1) {
    case 0:
        trace = links.acqCh1;
        break;
    case 1:
        if (defined(links.mathFunctionCh2))
            trace = links.acqCh1, factor = 2.0;
        else
            trace = links.acqCh2;
        break;
    case 2:
        if (defined(links.mathFunctionCh3))
            trace = links.acqCh1, factor = 2.0;
        else
            trace = links.acqCh3;
        break;
    case 3:
        trace = links.acqCh4;
        break;
    default:
        return -1;
    }
    if (trace) {
        const double position = data.traceFormat == 1 ? trace->fftPosition : double(trace->position);
        levelCode = 0x60000 + static_cast<int32_t>(std::floor((position + 500) * 262081 / 1000));
    } else {
        levelCode = 0x7FFE0;
    }
    const TScale kind = currentScale();
    const double vertical = double(GetVerticalScale(trace, kind, -1)) * factor;
    const double verticalOffset = GetVerticalOffset(trace, kind);
    const double perSample = GetHorizontalScale(trace ? trace->timeBase : uint16_t(data.timeBaseIndex));
    const uint16_t id = static_cast<uint16_t>(idmesure);
    offset = 0;
    switch (id) {
    case 0x10: case 0x20: case 0x4002: case 0x4004: case 0x4008: case 0x4010:
    case 0x4020: case 0x4021: case 0x4022: case 0x4102: case 0x4103:
        scale = perSample;
        unit = "s";
        break;
    case 0x1020: case 0x1050: case 0x4880: case 0x4881: case 0x4882:
        scale = vertical;
        unit = "V";
        break;
    case 0x1090: case 0x10A0: case 0x4100: case 0x4101:
        scale = 0.1;
        unit = "%";
        break;
    case 0x4040: case 0x4080: case 0x4081: case 0x4082: case 0x4084:
        scale = 1.0;
        unit = "%";
        break;
    case 0x4810:
        scale = 2 * vertical;
        offset = 2 * verticalOffset;
        unit = "V";
        break;
    case 0x4820: case 0x4840:
        scale = perSample != 0 ? vertical / perSample : 0;
        unit = "V/s";
        break;
    default:
        scale = vertical;
        offset = verticalOffset;
        unit = "V";
        break;
    }
    return 0;
}

bool TBusMeasurement::valueOf(TBusMeasFactory* factory, const TBusAutoMeas& m, double* v, double* vmin,
                              double* vmax) const
{
    const int32_t f = m.flags;
    const int64_t level = levelCode;
    const int64_t top = m.topLevel, base = m.baseLevel, maxc = m.maxCode, minc = m.minCode;
    int64_t value = 0;
    switch (static_cast<uint16_t>(idmesure)) {
    case 0x10:
    case 0x20: {
        if (!has(f, idmesure == 0x10 ? kRise10And90 : kFall90And10))
            return false;
        const double n = idmesure == 0x10 ? double(int64_t{m.rise90} - m.rise10)
                                          : double(int64_t{m.fall10} - m.fall90);
        // The instrument's own rise time removed; never below one sample.
        const double own = scale != 0 ? kOwnRiseSquared / (scale * scale) : 0;
        const double d = n * n - own;
        double r = 1;
        if (d > 1)
            r = std::max(1.0, std::floor(std::sqrt(std::floor(d))));
        *v = *vmin = *vmax = r;
        return true;
    }
    case 0x1000:
        if (!has(f, MEAS_MIN_VALID) || m.minCode == 0xA32F0)
            return false;
        value = minc - level;
        break;
    case 0x1010:
        if (!has(f, MEAS_MAX_VALID) || m.maxCode == 0x5CCD0)
            return false;
        value = maxc - level;
        break;
    case 0x1020:
        if (!has(f, MEAS_MAX_VALID | MEAS_MIN_VALID))
            return false;
        value = maxc - minc;
        break;
    case 0x1030:
        if (!has(f, MEAS_BASE_VALID))
            return false;
        value = base - level;
        break;
    case 0x1040:
        if (!has(f, MEAS_TOP_VALID))
            return false;
        value = top - level;
        break;
    case 0x1050:
        if (!has(f, MEAS_TOP_VALID | MEAS_BASE_VALID))
            return false;
        value = top - base;
        break;
    case 0x1080:
        if (!has(f, MEAS_MAX_VALID | MEAS_MIN_VALID | kMeanValid))
            return false;
        value = static_cast<int64_t>(m.mean) - level;
        break;
    case 0x1090:
        if (!has(f, kLevelBits))
            return false;
        value = top > base ? std::max<int64_t>(maxc - top, 0) * 1000 / (top - base) : 0;
        break;
    case 0x10A0:
        if (!has(f, kLevelBits))
            return false;
        value = top > base ? std::max<int64_t>(base - minc, 0) * 1000 / (top - base) : 0;
        break;
    case 0x4002:
        if (!has(f, kLevelBits))
            return false;
        value = int64_t{m.rise95} - m.rise55;
        break;
    case 0x4004:
        if (!has(f, kLevelBits))
            return false;
        value = int64_t{m.fall5} - m.fall45;
        break;
    case 0x4008:
    case 0x4010: {
        TAcquisition* trace = factory->channelTrace();
        TTriggerRiseFallTime t{};
        const bool rising = idmesure == 0x4008;
        if (!trace || !trace->samples || factory->computeTriseTfall(trace->samples, &t, rising ? 1 : 2) != 0)
            return false;
        const uint32_t longest = rising ? t.longestRise : t.longestFall;
        const uint32_t shortest = rising ? t.shortestRise : t.shortestFall;
        if (longest == 0)
            return false;
        *v = double((uint64_t{longest} + shortest) / 2);
        *vmin = shortest;
        *vmax = longest;
        return true;
    }
    case 0x4020:
    case 0x4021:
    case 0x4022: {
        const unsigned short mode = idmesure == 0x4020 ? 3 : idmesure == 0x4021 ? 1 : 2;
        return factory->computeTimeBit(v, vmin, vmax, mode) == 0;
    }
    case 0x4040:
        if (!has(f, kLevelBits))
            return false;
        value = maxc > minc ? std::max(maxc - top, std::max<int64_t>(base - minc, 0)) * 100 / (maxc - minc) : 0;
        break;
    case 0x4080:
    case 0x4081:
    case 0x4082:
    case 0x4084: {
        double percent = 0;
        if (factory->jitter(idmesure, &percent) != 0)
            return false;
        *v = *vmin = *vmax = percent;
        return true;
    }
    case 0x4100:
        if (!has(f, MEAS_MAX_VALID | MEAS_TOP_VALID) || !(top > level))
            return false;
        value = (maxc - top) * 1000 / (top - level);
        break;
    case 0x4101:
        if (!has(f, MEAS_MIN_VALID | MEAS_BASE_VALID) || !(level > base))
            return false;
        value = (base - minc) * 1000 / (level - base);
        break;
    case 0x4102:
        if (!has(f, MEAS_RISE | MEAS_FALL))
            return false;
        value = (int64_t{m.rise90} - m.rise10) + (int64_t{m.fall90} - m.fall10);
        break;
    case 0x4103:
        if (!has(f, 0x10 | 0x200))
            return false;
        value = int64_t{m.rise10} - m.fall10;
        break;
    case 0x4808:
        if (!has(f, MEAS_MAX_VALID | MEAS_MIN_VALID))
            return false;
        value = (maxc + minc) / 2 - level;
        break;
    case 0x4810: {
        int32_t peak = 0;
        if (factory->getMaxFft(factory->channelTrace(), &peak) != 0)
            return false;
        value = int64_t{peak} - level;
        break;
    }
    case 0x4820:
    case 0x4840: {
        const bool rising = idmesure == 0x4820;
        if (!has(f, rising ? kRise10And90 : (MEAS_TOP_VALID | MEAS_BASE_VALID | kFall90And10)))
            return false;
        const int64_t first = rising ? m.rise10 : m.fall90;
        const int64_t later = rising ? m.rise90 : m.fall10;
        if (later == first) {
            value = (top - base) * 80 / 100;
            break;
        }
        if (later < first)
            return false;
        // The samples of the factory's channel, when that channel holds data.
        const int k = factory->channel;
        TAcquisition* trace = factory->channelTrace();
        if (!trace || !trace->samples || !(data.channelFlags & ((1 << k) | (1 << (8 + k)))) ||
            later >= TBusMeasFactory::kSignalSize)
            return false;
        value = (code(trace->samples[later]) - code(trace->samples[first])) / (later - first);
        break;
    }
    case 0x4850:
        if (!has(f, MEAS_TOP_VALID | MEAS_BASE_VALID))
            return false;
        value = int64_t{m.midLevel} - level;
        break;
    case 0x4880:
        if (!has(f, MEAS_TOP_VALID | MEAS_FALL) || m.afterFallLevel == 0)
            return false;
        value = int64_t{m.afterFallLevel} - top;
        break;
    case 0x4881:
        if (!has(f, MEAS_MAX_VALID | MEAS_TOP_VALID))
            return false;
        value = maxc - top;
        break;
    case 0x4882:
        if (!has(f, MEAS_TOP_VALID | MEAS_BASE_VALID))
            return false;
        value = base - top;
        break;
    default:
        return false;
    }
    *v = *vmin = *vmax = double(value);
    return true;
}

int TBusMeasurement::setBusMeasPixValues(TBusMeasFactory* factory, TBusAutoMeas* autoMeas)
{
    if (acquisitions == 0)
        setBusMeasFactory(factory);
    ++acquisitions;
    double v = 0, vmin = 0, vmax = 0;
    if (factory && autoMeas && valueOf(factory, *autoMeas, &v, &vmin, &vmax)) {
        ++values;
        minimum = std::min(minimum, vmin);
        maximum = std::max(maximum, vmax);
        sum += v;
    }
    if (acquisitions < nbmesuresmax) {
        state = kGathering;
        return kGathering;
    }
    if (values > 0) {
        sum = sum / values;
        result = integrityCompute();
        state = kVerdict;
        return kVerdict;
    }
    result = kNoValue;
    state = kNoValue;
    return kNoValue;
}

int TBusMeasurement::integrityCompute()
{
    const float vlow = minimum >= FLT_MAX ? FLT_MAX : toFloat(offset + minimum * scale);
    const float vhigh = maximum >= FLT_MAX ? FLT_MAX : toFloat(offset + maximum * scale);
    const bool hasMax = limitemax != FLT_MAX;
    const bool hasMin = limitemin != FLT_MAX;
    float lower = 0, upper = 0;
    if (hasMax && hasMin) {
        lower = limitemin, upper = limitemax;
    } else if (hasMax) {
        lower = limitemax > 0 ? 0 : limitemax;
        upper = limitemax;
    } else if (hasMin) {
        lower = limitemin;
        upper = limitemin < 0 ? 0 : limitemin;
    }
    const float centre = (lower + upper) / 2;
    retained = std::fabs(centre - vlow) < std::fabs(vhigh - centre) ? vhigh : vlow;
    distance = intervalDistance(retained);
    if (!hasMax && !hasMin)
        return kNoLimit;
    if (retained >= lower && retained <= upper)
        return kPass;
    if (warning == FLT_MAX)
        return kFail;
    return std::fabs(distance) <= warning ? kWarning : kFail;
}

float TBusMeasurement::intervalDistance(float x) const
{
    const bool hasMax = limitemax != FLT_MAX;
    const bool hasMin = limitemin != FLT_MAX;
    if (hasMax && hasMin) {
        if (x < limitemin)
            return x - limitemin;
        if (x > limitemax)
            return x - limitemax;
        return 0;
    }
    if (hasMax)
        return limitemax > 0 && x < 0 ? x : x - limitemax;
    if (hasMin)
        return limitemin < 0 && x >= limitemin ? x : x - limitemin;
    return 0;
}

float TBusMeasurement::scaledValue(float x) const
{
    if (x == FLT_MAX)
        return FLT_MAX;
    return toFloat(offset + double(x) * scale);
}

std::string TBusMeasurement::toString(float x) const
{
    if (x == FLT_MAX)
        return "---";
    QString text;
    if (unit == "%")
        text = QString::asprintf("%3.1f%%", double(x));
    else
        text = ScopePrintf(3, x) + QString::fromStdString(unit);
    text.replace(QChar(0x03BC), QLatin1Char('u'));
    text.replace(QChar(0x00B5), QLatin1Char('u'));
    return text.toStdString();
}
