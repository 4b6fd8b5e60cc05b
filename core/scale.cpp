// Scale and unit helpers. Every table index coming from the setup or a file is clamped: the
// controller stores values as sent and setup files are only checksummed.
#include "core/scale.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "hardware/CmdesBase.h"
#include "hardware/frontend_capa.h"

#include <algorithm>
#include <cstring>
#include <mutex>

const float coeffScope[16] = {
    0.0025f / 32760, 0.005f / 32760, 0.01f / 32760, 0.02f / 32760, 0.05f / 32760, 0.1f / 32760,
    0.2f / 32760,    0.5f / 32760,   1.0f / 32760,  2.0f / 32760,  5.0f / 32760,  10.0f / 32760,
    20.0f / 32760,   50.0f / 32760,  100.0f / 32760, 200.0f / 32760,
};
const float coeffMeter[4] = {0.8f / 131040, 8.0f / 131040, 80.0f / 131040, 800.0f / 131040};
const float coeffOhm[7] = {80.0f / 131040,     800.0f / 131040,     8000.0f / 131040, 80000.0f / 131040,
                           800000.0f / 131040, 8000000.0f / 131040, 32e6f / 131040};
const double CapaGamme[8] = {1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2};

namespace {

// Seconds per point, per time-base index.
const float EchelleHorizontale_T[kTimeBaseTableSize] = {
    1e-13f, 2e-13f, 5e-13f, 1e-12f, 2.5e-12f, 5e-12f, 1e-11f, 2e-11f, 5e-11f, 1e-10f,
    2e-10f, 4e-10f, 1e-9f,  2e-9f,  5e-9f,    1e-8f,  2e-8f,  5e-8f,  1e-7f,  2e-7f,
    5e-7f,  1e-6f,  2e-6f,  4e-6f,  1e-5f,    2e-5f,  5e-5f,  1e-4f,  2e-4f,  5e-4f,
    1e-3f,  2e-3f,  5e-3f,  1e-2f,  2e-2f,    1.26e-7f,
};

// Record duration, seconds.
const float tf_l_acquisitionLength[kTimeBaseTableSize] = {
    1e-6f, 1e-6f, 1e-6f, 1e-6f, 1e-6f, 1e-6f, 1e-6f, 2e-6f, 5e-6f, 1e-5f, 2e-5f, 4e-5f,
    1e-4f, 2e-4f, 5e-4f, 1e-3f, 2e-3f, 5e-3f, 0.01f, 0.02f, 0.04f, 0.1f,  0.2f,  0.5f,
    1.0f,  2.0f,  5.0f,  10.0f, 20.0f, 50.0f, 100.0f, 200.0f, 500.0f, 1000.0f, 2000.0f, 0.0f,
};

// Static text of the horizontal unit; the callers get constant texts since several threads ask.
char Unite[10] = "s";
std::mutex& uniteMutex()
{
    static auto* m = new std::mutex();  // never destroyed: other threads may ask during exit
    return *m;
}

const char kHertz[] = "Hz";
const char kSeconds[] = "s";

template <typename T>
T clampIndex(int index, T last)
{
    return static_cast<T>(std::clamp(index, 0, static_cast<int>(last)));
}

unsigned short timeBaseIndexOf(unsigned short index)
{
    return std::min<unsigned short>(index, kTimeBaseTableSize - 1);
}

int scaleKind(TScale scale)
{
    return std::clamp(static_cast<int>(scale), 0, 8);
}

bool defined(TFonction* function)
{
    return function != nullptr && function->IsDefined();
}

bool twoChannelModel()
{
    return EtatLogique(ETAT_TWO_CHANNEL_MODEL) != 0;
}

// A computed trace takes its samples from a math function (or from the second converter path
// on the two-channel model). forUnit: identifiers without a rule of their own follow channel 1.
bool isComputed(const TAcquisition* trace, bool forUnit)
{
    const TSetupLinks& links = setupLinks();
    switch (trace->identifier) {
    case 1:
        return defined(links.mathFunctionCh1);
    case 2:
        return twoChannelModel() || defined(links.mathFunctionCh2);
    case 4:
        return twoChannelModel() || defined(links.mathFunctionCh3);
    case 8:
        return defined(links.mathFunctionCh4);
    case 8192:
        return defined(links.powerFunctionA);
    default:
        return forUnit && defined(links.mathFunctionCh1);
    }
}

bool meterMode(int mode)
{
    return mode == 128 || mode == 129 || mode == 130;
}

float zoomOrOne(float factor)
{
    // A zero or negative zoom factor (bad setup value) would give an infinite division.
    return factor > 0.0f ? factor : 1.0f;
}

} // namespace

float GetHorizontalScaleT(unsigned short index)
{
    return index < kTimeBaseTableSize ? EchelleHorizontale_T[index] : 0.0f;
}

float GetRealHorizontalScaleT(unsigned short index)
{
    // The hardware sampling period: the converter's fastest period up to 100 ns a division.
    static const float EchelleHorizontale_T[kTimeBaseTableSize] = {
        4e-10f, 4e-10f, 4e-10f, 4e-10f, 4e-10f, 4e-10f, 4e-10f, 8e-10f, 2e-9f, 4e-9f,
        8e-9f,  1.6e-8f, 4e-8f, 8e-8f,  2e-7f,  4e-7f,  8e-7f,  2e-6f,  4e-6f, 4e-6f,
        4e-6f,  4e-6f,  4e-6f,  4e-6f,  1e-5f,  2e-5f,  5e-5f,  1e-4f,  2e-4f, 5e-4f,
        1e-3f,  2e-3f,  5e-3f,  1e-2f,  2e-2f,  2.52e-6f,
    };
    return index < kTimeBaseTableSize ? EchelleHorizontale_T[index] : 0.0f;
}

double GetHorizontalScaleF(unsigned short index)
{
    const double t = EchelleHorizontale_T[timeBaseIndexOf(index)];
    return static_cast<float>(1.0 / (t * 2e5 * 40));
}

float GetAcquisitionLength(unsigned short index)
{
    return tf_l_acquisitionLength[timeBaseIndexOf(index)];
}

float GetHorizontalScale(unsigned short index)
{
    const float t = EchelleHorizontale_T[timeBaseIndexOf(index)];
    const int mode = data.instrumentMode;
    if (mode == 64 || meterMode(mode))
        return t * 100000.0f / 2500.0f;
    if (data.traceFormat == 1)
        return static_cast<float>(1.0 / (static_cast<double>(t) * 2e5 * 40));
    return t;
}

const char* GetHorizontalUnit()
{
    const int mode = data.instrumentMode;
    const char* unit = kSeconds;
    if (mode == 64)
        unit = kHertz;
    else if (!meterMode(mode) && data.traceFormat == 1)
        unit = kHertz;
    {
        std::lock_guard<std::mutex> lock(uniteMutex());
        std::memcpy(Unite, unit, std::strlen(unit) + 1);
    }
    return unit;
}

float GetHorizontalDiv(unsigned short index)
{
    const unsigned short i = timeBaseIndexOf(std::max<unsigned short>(index, 6));
    const float t = EchelleHorizontale_T[i];
    const int mode = data.instrumentMode;
    if (mode == 16 || mode == 17) {
        if (data.traceFormat == 1) {
            float f = static_cast<float>(1.0 / (static_cast<double>(t) * 2e5 * 40)) * 10000.0f;
            if (data.fftZoomState == 2)
                f = f * data.fftZoomWidth / 40.0f;
            return f;
        }
        float v = t * 10000.0f;
        if (data.zoomState == 2)
            v = v * data.zoomWidth / 40.0f;
        return v;
    }
    if (mode == 64)
        return GetHorizontalScale(i) * 10000.0f;
    return 0.0f;
}

float GetSensitivity(unsigned short index, TScale scale)
{
    switch (scaleKind(scale)) {
    case SCALE_FFT_DB:
        return 0.00030525032f;
    case SCALE_METER:
        return coeffMeter[clampIndex<unsigned short>(index, 3)];
    case SCALE_OHMMETER:
        return coeffOhm[clampIndex<unsigned short>(index, 6)];
    case SCALE_CAPACITANCE: {
        unsigned short t = 0;
        unsigned short s = 0;
        double k = 0.0;
        CapaRangeToScopeReglages(clampIndex<int>(index, 7), &t, &s, &k);
        const float v = static_cast<float>(static_cast<double>(EchelleHorizontale_T[timeBaseIndexOf(t)]) * k /
                                           coeffScope[clampIndex<unsigned short>(s, 15)]);
        return v * 100.0f * 100000.0f / 2500.0f;
    }
    case SCALE_DIODE:
        return 6.1050065e-5f;
    default:
        return coeffScope[clampIndex<unsigned short>(index, 15)];
    }
}

float GetVerticalScale(TAcquisition* trace, TScale scale, short index)
{
    const int kind = scaleKind(scale);
    if (trace == nullptr)
        return GetSensitivity(static_cast<unsigned short>(std::max<short>(index, 0)), static_cast<TScale>(kind));
    if ((kind < 4 || kind > 8) && (index == -1 || trace->IsPermanentMemory()))
        index = static_cast<short>(trace->sensitivity);
    float s;
    if (kind < 3 && isComputed(trace, false))
        s = 3.0525032e-5f;  // one unit a division
    else
        s = GetSensitivity(static_cast<unsigned short>(std::max<short>(index, 0)), static_cast<TScale>(kind));
    if (kind == 3 || kind == 5 || kind == 6 || kind == 7)
        return s;
    return s * trace->probeCoeff;
}

float GetVerticalOffset(TAcquisition* trace, TScale scale)
{
    const int kind = scaleKind(scale);
    if (trace == nullptr || (kind >= 4 && kind <= 7))
        return 0.0f;
    const float k = kind == 3 ? -131040.0f : trace->offset;
    return GetVerticalScale(trace, static_cast<TScale>(kind), -1) * k;
}

int GetVerticalCadrage(TAcquisition* trace, TScale)
{
    if (trace == nullptr)
        return 0;
    return static_cast<int>(trace->position * 262080.0 / 1000);
}

QString GetVerticalUnit(TAcquisition* trace, TScale scale, bool display)
{
    if (trace == nullptr)
        return QString();
    // The stored unit may lack its NUL: never read past its four bytes.
    const char* raw = reinterpret_cast<const char*>(trace->unit);
    const int length = static_cast<int>(strnlen(raw, sizeof trace->unit));
    const QString unit = QString::fromUtf8(raw, length);
    QString text;
    switch (scaleKind(scale)) {
    case SCALE_FFT_DB:
        text = QStringLiteral("dB") + unit;
        break;
    case SCALE_OHMMETER:
        text = QStringLiteral("{");
        break;
    case SCALE_CAPACITANCE:
        text = QStringLiteral("F");
        break;
    case SCALE_POWER:
        text = QStringLiteral("W");
        break;
    default:
        if (isComputed(trace, true) && (data.instrumentMode & 0x50) != 0)
            text = QStringLiteral("div");
        else
            text = unit;
        break;
    }
    if (display) {
        text.replace(QLatin1Char('{'), QChar(0x2126));
        text.replace(QChar(QChar::ReplacementCharacter), QChar(0x00B0));
    } else {
        text.replace(QChar(QChar::ReplacementCharacter), QLatin1Char('}'));
        text.replace(QChar(0x2126), QLatin1Char('{'));
    }
    return text;
}

float GetVerticalDiv(TAcquisition* trace, unsigned short index, TScale scale)
{
    if (trace == nullptr)
        return 0.0f;
    const int kind = scaleKind(scale);
    const float v = GetVerticalScale(trace, static_cast<TScale>(kind), static_cast<short>(index)) * 262080.0f * 0.125f;
    if (data.instrumentMode == 64)
        return v;
    switch (kind) {
    case SCALE_SCOPE:
        return v / zoomOrOne(data.vZoomFactor);
    case SCALE_XY:
        return v / zoomOrOne(data.xyZoomFactor);
    case SCALE_FFT:
    case SCALE_FFT_DB:
        return v / zoomOrOne(data.fftVZoomFactor);
    case SCALE_METER:
        return v * 0.5f;
    case SCALE_CAPACITANCE:
        return static_cast<float>(CapaGamme[clampIndex<unsigned short>(index, 7)] * 0.125);
    default:
        return v;
    }
}
