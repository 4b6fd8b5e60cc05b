// Measurement back end: identifier -> raw value (samples, codes, cursor words) -> scaled value
// -> text. Static members of AutoMeasChannel; no locking here (callers arrange
// o_g_autoMeasMutex when they read live records).
#include "ui/traces/automeaschannel.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr int64_t kZeroCode = 0x60000;
constexpr uint32_t kNoMinimum = 668400;  // minimum code when nothing was found
constexpr uint32_t kNoMaximum = 380112;  // maximum code when nothing was found
constexpr double kRmsNoiseFloor = 1.225e-5;
constexpr double kRecorderStep = 0.2;  // seconds a recorder position stands for

bool isAutomatic(unsigned key)
{
    switch (key) {
    case 0x10: case 0x20: case 0x30: case 0x40: case 0x50: case 0x60: case 0x70: case 0x80:
    case 0x1000: case 0x1010: case 0x1020: case 0x1030: case 0x1040: case 0x1050: case 0x1070:
    case 0x1080: case 0x1090: case 0x10a0: case 0x10b0: case 0x10c0:
        return true;
    default:
        return false;
    }
}

bool isCursorTime(unsigned key) { return key >= 0x850 && key <= 0x890; }
bool isCursorLevel(unsigned key) { return key >= 0x1800 && key <= 0x1850; }
bool isRecorderTime(unsigned key) { return key >= 0x8000 && key <= 0x8030; }
bool isRecorderLevel(unsigned key) { return key >= 0x9000 && key <= 0x9020; }
bool isCursor(unsigned key)
{
    return isCursorTime(key) || isCursorLevel(key) || isRecorderTime(key) || isRecorderLevel(key);
}

bool has(int32_t flags, int32_t bits) { return (flags & bits) == bits; }

int64_t referenceCode(unsigned key, const TAcquisition* trace)
{
    const short mode = static_cast<short>(data.instrumentMode);
    if (key == 0x1800)
        return kZeroCode;
    if (key == 0x1810 || key == 0x1820) {
        const double offs = trace->getOffsetCurs(mode, data.traceFormat);
        return static_cast<int64_t>(std::floor((500.0 - offs) * 262080.0 / 1000.0)) + kZeroCode;
    }
    if (key == 0x1840 || key == 0x1850) {
        const double offs = trace->getOffsetCurs(mode, 2);
        return static_cast<int64_t>(std::floor((500.0 - offs) * 262080.0 / 1000.0)) + kZeroCode;
    }
    const double offs = trace->getOffsetCurs(mode, 0);
    return static_cast<int64_t>(std::floor((offs + 500.0) * 262080.0 / 1000.0)) + kZeroCode;
}

enum TEdgeOrder { NO_ORDER, RISING_FIRST, FALLING_FIRST };

// Edge order and period P (whole samples) of the record; false when the six period
// identifiers cannot be framed at all.
bool framePeriod(const mesures& m, TEdgeOrder* order, int64_t* period)
{
    const int64_t r = m.rise50;
    const int64_t f = m.fall50;
    const int64_t n = m.periodCount;
    const int64_t end = m.lastCross50;
    if (has(m.flags, 0x120)) {
        *order = r <= f ? RISING_FIRST : FALLING_FIRST;
        *period = n > 0 ? ((*order == RISING_FIRST ? end - r : end - f) / n) : 0;
        return true;
    }
    if (n == 0)
        return false;
    *order = NO_ORDER;
    *period = (end - std::min(r, f)) / n;
    return true;
}

// Width of the high part (0x30 and 0x50) or low part (0x40), corrected by P when negative.
bool pulseWidth(const mesures& m, TEdgeOrder order, int64_t period, bool high, int64_t* width)
{
    const int64_t r = m.rise50;
    const int64_t f = m.fall50;
    if (order == NO_ORDER)
        return false;
    if (high) {
        if (order == RISING_FIRST) {
            *width = f - r;
        } else {
            if (!has(m.flags, 0x820))
                return false;
            *width = int64_t(m.nextFall50) - r;
        }
    } else {
        if (order == RISING_FIRST) {
            if (!has(m.flags, 0x500))
                return false;
            *width = int64_t(m.nextRise50) - f;
        } else {
            *width = r - f;
        }
    }
    if (*width < 0)
        *width += period;
    return true;
}

bool automaticRaw(unsigned key, const mesures& m, int64_t ref, double* x)
{
    const int32_t fl = m.flags;
    const int64_t maxCode = m.maxCode;
    const int64_t minCode = m.minCode;
    const int64_t top = m.topLevel;
    const int64_t base = m.baseLevel;
    if (key >= 0x30 && key <= 0x80) {
        TEdgeOrder order = NO_ORDER;
        int64_t period = 0;
        if (!framePeriod(m, &order, &period))
            return false;
        int64_t width = 0;
        switch (key) {
        case 0x30:
        case 0x40:
            if (!pulseWidth(m, order, period, key == 0x30, &width))
                return false;
            *x = double(width);
            return true;
        case 0x50:
            if (period <= 0 || order == NO_ORDER || !has(fl, order == RISING_FIRST ? 0x520 : 0x920))
                return false;
            pulseWidth(m, order, period, true, &width);
            *x = double(width) * 100.0 / double(period);
            return true;
        case 0x60:
        case 0x70:
            // A period end at or before the first edge gives no period at all.
            if (m.periodCount == 0 || period <= 0)
                return false;
            *x = double(period);
            return true;
        default:  // 0x80
            if (order == NO_ORDER)
                return false;
            *x = double(m.otherEdgeCount);
            return true;
        }
    }
    switch (key) {
    // An edge that crossed 10 % and 90 % between two visited samples has no measured
    // duration: no edge takes no time, so there is no value.
    case 0x10:
        if (!has(fl, 0x50) || m.rise90 == m.rise10) return false;
        *x = double(int64_t(m.rise90) - int64_t(m.rise10));
        return true;
    case 0x20:
        if (!has(fl, 0x280) || m.fall10 == m.fall90) return false;
        *x = double(int64_t(m.fall10) - int64_t(m.fall90));
        return true;
    case 0x1000:
        if (!has(fl, 0x2) || m.minCode == kNoMinimum) return false;
        *x = double(minCode - ref);
        return true;
    case 0x1010:
        if (!has(fl, 0x1) || m.maxCode == kNoMaximum) return false;
        *x = double(maxCode - ref);
        return true;
    case 0x1020:
        if (!has(fl, 0x3)) return false;
        *x = double(maxCode - minCode);
        return true;
    case 0x1030:
        if (!has(fl, 0x8)) return false;
        *x = double(base - ref);
        return true;
    case 0x1040:
        if (!has(fl, 0x4)) return false;
        *x = double(top - ref);
        return true;
    case 0x1050:
        if (!has(fl, 0xC)) return false;
        *x = double(top - base);
        return true;
    case 0x1070:
        if (!has(fl, 0x3003)) return false;
        *x = m.meanSquare > 0 ? std::sqrt(m.meanSquare) : 0.0;
        return true;
    case 0x10c0:
        if (!has(fl, 0x3403) && !has(fl, 0x3803)) return false;
        *x = m.meanSquarePeriods > 0 ? std::sqrt(m.meanSquarePeriods) : 0.0;
        return true;
    case 0x1080:
        if (!has(fl, 0x2003)) return false;
        *x = m.mean - double(ref);
        return true;
    case 0x1090:
        if (!has(fl, 0xF)) return false;
        *x = base < top ? double(std::max<int64_t>(maxCode - top, 0)) * 100.0 / double(top - base) : 0.0;
        return true;
    case 0x10a0:
        if (!has(fl, 0xF)) return false;
        *x = base < top ? double(std::max<int64_t>(base - minCode, 0)) * 100.0 / double(top - base) : 0.0;
        return true;
    case 0x10b0:
        if (!has(fl, 0x2003)) return false;
        *x = m.sum - double(ref) * double(m.count);
        return true;
    default:
        return false;
    }
}

bool cursorRaw(unsigned key, const int32_t* table, int64_t ref, double* x)
{
    const int64_t t1 = table[0], t2 = table[1], level1 = table[2], level2 = table[3];
    const int64_t t3 = table[4], x1 = table[5], x2 = table[6];
    switch (key) {
    case 0x850: *x = double(t2 - t1); return true;
    case 0x860: *x = double(t1); return true;
    case 0x870: *x = double(t2); return true;
    case 0x880:
        if (t1 == t2) return false;
        *x = double(t2 - t1);
        return true;
    case 0x890:
        if (t1 == t2) return false;
        *x = double(t3 - t1) * 360.0 / double(t2 - t1);
        return true;
    case 0x1800: *x = double(level1 - level2); return true;
    case 0x1810: *x = double(ref - level1); return true;
    case 0x1820: *x = double(ref - level2); return true;
    case 0x1830: *x = double(x2 - x1); return true;
    case 0x1840: *x = double(ref + x1); return true;
    case 0x1850: *x = double(ref + x2); return true;
    case 0x8000: *x = double(t2 - t1); return true;
    case 0x8010: *x = double(t1); return true;
    case 0x8020: *x = double(t2); return true;
    case 0x8030: *x = double(t1); return true;
    case 0x9000: *x = double(level1 - level2); return true;
    case 0x9010: *x = double(kZeroCode - level1); return true;
    case 0x9020: *x = double(kZeroCode - level2); return true;
    default: return false;
    }
}

// Raw value in double precision; the public form hands it out as a float.
bool rawValue(unsigned key, TAcquisition* trace, mesures* record, double* x)
{
    if (!isAutomatic(key) && !isCursor(key))
        return false;
    int64_t ref = kZeroCode;
    if (trace == nullptr) {
        if (key & 0x1000)
            return false;
    } else {
        ref = referenceCode(key, trace);
    }
    if (isAutomatic(key))
        return record != nullptr && automaticRaw(key, *record, ref, x);
    const int32_t* table = setupLinks().cursorTablePtr;
    return table != nullptr && cursorRaw(key, table, ref, x);
}

TScale scaleKind(const TAcquisition* trace)
{
    if (data.instrumentMode == 128 || data.instrumentMode == 130) {
        switch (data.meterFunction) {
        case 1: case 2: return SCALE_OHMMETER;
        case 3: return SCALE_CAPACITANCE;
        case 4: return SCALE_DIODE;
        case 8: case 9: case 10: case 11:
            return trace != nullptr && trace == setupLinks().powerAcq ? SCALE_POWER : SCALE_METER;
        default: return SCALE_METER;
        }
    }
    if (data.traceFormat == 1)
        return data.fftVerticalScale == 1 ? SCALE_FFT_DB : SCALE_FFT;
    return SCALE_SCOPE;
}

QString horizontalUnitText()
{
    return QString::fromLatin1(data.xUnit, static_cast<int>(strnlen(data.xUnit, sizeof data.xUnit)));
}
} // namespace

int AutoMeasChannel::getMeasurementValue(unsigned short id, TAcquisition* trace, mesures* record, float* raw)
{
    double x = 0.0;
    const bool valid = rawValue(id & 0xFFF0u, trace, record, &x);
    if (raw != nullptr)
        *raw = valid ? static_cast<float>(x) : 0.0f;
    return valid ? 1 : 0;
}

bool AutoMeasChannel::getMeasurement(unsigned short id, TAcquisition* trace, mesures* record, QString* text,
                                     float* value)
{
    if (text != nullptr)
        *text = QStringLiteral("----- ");
    if (value != nullptr)
        *value = 0.0f;
    const unsigned key = id & 0xFFF0u;
    double x = 0.0;
    if (!rawValue(key, trace, record, &x))
        return false;

    const TScale kind = scaleKind(trace);
    double scale = 0.0;
    double offset = 0.0;
    const bool levelGroup = isCursorLevel(key) || isRecorderLevel(key) || (key >= 0x1000 && key <= 0x10c0);
    if (isCursorTime(key)) {
        const unsigned short tb = trace != nullptr ? trace->timeBase : static_cast<unsigned short>(data.userTimeBase);
        scale = data.traceFormat == 1 ? GetHorizontalScaleF(tb) : double(GetHorizontalScaleT(tb));
    } else if (key == 0x10b0) {
        const double h = GetHorizontalScaleT(trace->timeBase);
        scale = double(GetVerticalScale(trace, SCALE_SCOPE, -1)) * h;
        offset = double(GetVerticalOffset(trace, SCALE_SCOPE)) * h;
    } else if (levelGroup) {
        scale = GetVerticalScale(trace, kind, -1);
        offset = GetVerticalOffset(trace, kind);
    } else {
        if (trace == nullptr)  // times in samples need the trace's time base
            return false;
        scale = GetHorizontalScaleT(trace->timeBase);
    }

    double v = 0.0;
    switch (key) {
    case 0x50: case 0x80: case 0x890: case 0x1090: case 0x10a0:
        v = x;
        break;
    case 0x70: case 0x880:
        v = 1.0 / (scale * x);
        break;
    case 0x1020: case 0x1050: case 0x1800:
        v = scale * x;
        break;
    case 0x1070: case 0x10c0: {
        const double level = offset + scale * x;
        const double y = level * level - kRmsNoiseFloor;
        v = y > 0 ? std::sqrt(y) : 0.0;
        break;
    }
    case 0x8000: case 0x8030:
        v = x * kRecorderStep;
        break;
    case 0x8010: case 0x8020:
        v = (100000.0 - x) * kRecorderStep;
        break;
    case 0x9000: case 0x9010: case 0x9020: {
        double span = 0.0, top = 0.0;
        bool autoRange = false;
        trace->GetMMRange(&span, &top, &autoRange);
        v = span / 2.0 * x / 131040.0;
        if (key != 0x9000)
            v += span / 2.0;
        break;
    }
    default:
        v = offset + scale * x;
        break;
    }
    if (value != nullptr)
        *value = static_cast<float>(v);
    if (text == nullptr)
        return true;

    if (key == 0x50 || key == 0x1090 || key == 0x10a0) {
        *text = QString::number(v, 'f', 1) + QStringLiteral(" %");
        return true;
    }
    if (key == 0x80) {
        *text = QString::number(static_cast<int64_t>(v));
        return true;
    }
    QString unit;
    if (key == 0x10 || key == 0x20 || key == 0x30 || key == 0x40 || key == 0x60)
        unit = QStringLiteral("s");
    else if (key == 0x70 || key == 0x880)
        unit = QStringLiteral("Hz");
    else if ((key >= 0x850 && key <= 0x870) || isRecorderTime(key))
        unit = horizontalUnitText();
    else if (key == 0x890)
        unit = QChar(176);
    else if (key == 0x10b0)
        unit = GetVerticalUnit(trace, SCALE_SCOPE, true) + QStringLiteral("s");
    else if (isCursorLevel(key) || isRecorderLevel(key))
        unit = GetVerticalUnit(trace, kind, true);
    else
        unit = GetVerticalUnit(trace, SCALE_SCOPE, true);
    *text = ScopePrintf(2, v) + unit;
    return true;
}

void AutoMeasChannel::channelSources(unsigned short channel, TAcquisition** trace, mesures** record)
{
    const TSetupLinks& links = setupLinks();
    int index = -1;
    *trace = nullptr;
    switch (channel) {
    case 1: *trace = links.acqCh1; index = 0; break;
    case 2: *trace = links.acqCh2; index = 1; break;
    case 4: *trace = links.acqCh3; index = 2; break;
    case 8: *trace = links.acqCh4; index = 3; break;
    case 8192: *trace = links.powerAcq; index = 8; break;
    default: break;
    }
    *record = index >= 0 && links.measResultsPtr != nullptr ? links.measResultsPtr + index : nullptr;
}

bool AutoMeasChannel::getMeasurement(unsigned short channel, unsigned short id, QString* text, float* value)
{
    TAcquisition* trace = nullptr;
    mesures* record = nullptr;
    channelSources(channel, &trace, &record);
    return getMeasurement(id, trace, record, text, value);
}
