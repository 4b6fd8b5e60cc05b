#include "acquisition/TAcquisition.h"

#include "acquisition/TFonction.h"
#include "acquisition/acqctrl.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "hardware/frontend.h"
#include "hardware/handshake.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <unistd.h>

pthread_mutex_t o_g_autoMeasMutex = PTHREAD_MUTEX_INITIALIZER;

TPassFailCounter TAcquisition::passFailCounter;
uint32_t* TAcquisition::Voie1Normalisee = nullptr;
uint32_t* TAcquisition::Voie2Normalisee = nullptr;
uint32_t* TAcquisition::Voie3Normalisee = nullptr;
uint32_t* TAcquisition::Voie4Normalisee = nullptr;
uint32_t* TAcquisition::VoieAuxNormalisee = nullptr;
int16_t TAcquisition::decadrage1_hard = 0;
int16_t TAcquisition::decadrage2_hard = 0;
int16_t TAcquisition::decadrage3_hard = 0;
int16_t TAcquisition::decadrage4_hard = 0;
void (*TAcquisition::callObserver)(const TTraceCall&) = nullptr;

namespace {

// Display range of the recorder and viewer codes (393216 at the top).
constexpr double kDisplayBottom = 655296.0;
constexpr double kDisplaySpan = 262080.0;
constexpr uint32_t kTopCode = 0x60000u;

// Per-channel setup fields of the live database, channel 0..3.
struct ChannelSetup {
    int16_t offset, coupling, sensitivity, fftOffset;
    int32_t bwLimit;
    float probeCoeff, auxCoeff;
    const char* unit;
    uint8_t meterAutoRange;
    int16_t meterRange, meterCoupling;
    TFonction* math;
};

ChannelSetup channelSetup(int ch)
{
    const database& d = data;
    const TSetupLinks& l = setupLinks();
    switch (ch) {
    case 0:
        return {d.offsetCh1, d.couplingCh1, d.sensitivityCh1, d.fftOffsetCh1, d.bwLimitCh1, d.probeCoeffCh1,
                d.auxCoeffCh1, d.unitCh1, d.meterAutoRangeCh1, d.meterRangeCh1, d.meterCouplingCh1,
                l.mathFunctionCh1};
    case 1:
        return {d.offsetCh2, d.couplingCh2, d.sensitivityCh2, d.fftOffsetCh2, d.bwLimitCh2, d.probeCoeffCh2,
                d.auxCoeffCh2, d.unitCh2, d.meterAutoRangeCh2, d.meterRangeCh2, d.meterCouplingCh2,
                l.mathFunctionCh2};
    case 2:
        return {d.offsetCh3, d.couplingCh3, d.sensitivityCh3, d.fftOffsetCh3, d.bwLimitCh3, d.probeCoeffCh3,
                d.auxCoeffCh3, d.unitCh3, d.meterAutoRangeCh3, d.meterRangeCh3, d.meterCouplingCh3,
                l.mathFunctionCh3};
    default:
        return {d.offsetCh4, d.couplingCh4, d.sensitivityCh4, d.fftOffsetCh4, d.bwLimitCh4, d.probeCoeffCh4,
                d.auxCoeffCh4, d.unitCh4, d.meterAutoRangeCh4, d.meterRangeCh4, d.meterCouplingCh4,
                l.mathFunctionCh4};
    }
}

bool isLive(uint16_t id)
{
    return id == 1 || id == 2 || id == 4 || id == 8;
}

bool mathDefined(TFonction* f)
{
    return f && f->IsDefined();
}

int16_t* hardPosition(int ch)
{
    int16_t* const p[4] = {&TAcquisition::decadrage1_hard, &TAcquisition::decadrage2_hard,
                           &TAcquisition::decadrage3_hard, &TAcquisition::decadrage4_hard};
    return ch >= 0 && ch < 4 ? p[ch] : nullptr;
}

uint32_t* normalisedBuffer(int ch)
{
    uint32_t* const b[4] = {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                            TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee};
    return ch >= 0 && ch < 4 ? b[ch] : nullptr;
}

// Recorder code of value v on a range of span r; empty when the range is unusable.
uint32_t recorderCode(double v, double r)
{
    if (!(r > 0.0) || !std::isfinite(r) || std::isnan(v))
        return kEmptySampleWord;
    double c = kDisplayBottom - (kDisplaySpan / r) * (v + r / 2.0);
    c = std::min(std::max(c, 0.0), double(kSampleCodeMask));
    return static_cast<uint32_t>(c);
}

// Little-endian field writers and readers of the file records.
template <typename T>
void putLE(uint8_t* at, T value)
{
    uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i)
        at[i] = raw[i];  // the supported hosts are little-endian, as the file is
}

template <typename T>
T getLE(const uint8_t* at)
{
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

// Offsets of the trace record header.
constexpr size_t kOffFlags = 0, kOffTimeBase = 2, kOffCoeff = 4, kOffOffset = 8, kOffSoftPos = 12,
                 kOffSensitivity = 20, kOffCoupling = 22, kOffBwLimit = 24, kOffUnit = 28, kOffFnFlag = 32,
                 kOffDashes = 33;
static_assert(kOffTimeBase == kOffFlags + 2 && kOffCoeff == kOffTimeBase + 2 && kOffOffset == kOffCoeff + 4 &&
                  kOffSoftPos == kOffOffset + 4 && kOffSensitivity == kOffSoftPos + 8 &&
                  kOffCoupling == kOffSensitivity + 2 && kOffBwLimit == kOffCoupling + 2 &&
                  kOffUnit == kOffBwLimit + 4 && kOffFnFlag == kOffUnit + 4 && kOffDashes == kOffFnFlag + 1 &&
                  kOffDashes + 31 == TAcquisition::kRecordHeaderSize,
              "trace record header layout");
// Offsets of the recorder information record.
constexpr size_t kLogScale = 0, kLogRange = 4, kLogCoupling = 6, kLogUnit = 8, kLogProbe = 12, kLogOffset = 16,
                 kLogFields = 20;
static_assert(kLogRange == kLogScale + 4 && kLogCoupling == kLogRange + 2 && kLogUnit == kLogCoupling + 2 &&
                  kLogProbe == kLogUnit + 4 && kLogOffset == kLogProbe + 4 && kLogFields == kLogOffset + 4 &&
                  kLogFields + 44 == TAcquisition::kLoggerInfoSize,
              "recorder record layout");

bool writeAll(int fd, const void* buf, size_t len)
{
    const auto* p = static_cast<const uint8_t*>(buf);
    while (len > 0) {
        const ssize_t n = ::write(fd, p, len);
        if (n <= 0)
            return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Reads up to len bytes; stops at the end of the file or a read error.
size_t readUpTo(int fd, void* buf, size_t len)
{
    auto* p = static_cast<uint8_t*>(buf);
    size_t got = 0;
    while (got < len) {
        const ssize_t n = ::read(fd, p + got, len - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    return got;
}

bool meterRangeValid(uint32_t scale, uint32_t range)
{
    switch (scale) {
    case SCALE_OHMMETER: return range <= 6;
    case SCALE_CAPACITANCE: return range <= 7;
    case SCALE_SCOPE: case SCALE_XY: case SCALE_FFT: case SCALE_FFT_DB: return range <= 15;
    case SCALE_METER: return range <= 3;
    case SCALE_DIODE: case SCALE_POWER: return true;
    default: return false;
    }
}

} // namespace

TAcquisition::TAcquisition(unsigned short id)
{
    filterKind = 0;
    samples = new uint32_t[kSampleCount];
    setIdentifierImpl(id);
    // A period where a rate is expected: the harmonic cycle sets the real rate before use.
    SetHarmonicSampleRate(GetHorizontalScale(23));
    std::fill(std::begin(harmonicTable), std::end(harmonicTable), 0.0);
    razImpl(true);
    setAcquisitionImpl(nullptr);
}

TAcquisition::~TAcquisition()
{
    delete[] samples;
}

void TAcquisition::SetIdentifier(unsigned short id)
{
    notify({TTraceCall::SetIdentifier, this, id, false});
    setIdentifierImpl(id);
}

void TAcquisition::setIdentifierImpl(unsigned short id)
{
    identifier = id;
    switch (id) {
    case 1: case 256: channelIndex = 0; break;
    case 2: case 512: channelIndex = 1; break;
    case 4: case 1024: channelIndex = 2; break;
    case 8: case 2048: channelIndex = 3; break;
    case 8192: channelIndex = 8; break;
    default: channelIndex = -1; break;
    }
    setMesureImpl();
}

bool TAcquisition::IsPermanentMemory() const
{
    return identifier == 256 || identifier == 512 || identifier == 1024 || identifier == 2048;
}

void TAcquisition::RazSignalNormalise(bool all)
{
    TTraceCall call{TTraceCall::RazSignalNormalise, this, identifier, false};
    call.all = all;
    notify(call);
    razImpl(all);
}

void TAcquisition::razImpl(bool all)
{
    std::fill(samples, samples + kSampleCount, kEmptySampleWord);
    if (all) {
        std::fill(std::begin(loggerRaw), std::end(loggerRaw), kEmptySampleWord);
        std::fill(std::begin(loggerEnvelope), std::end(loggerEnvelope), kEmptySampleWord);
    }
    measureValue = 0.0f;
    measureStatus = MEASURE_INVALID;
    loggerCount = 0;
    loggerValues = 0;
    envelopeIndex = 0;
    rawCount = 0;
}

void TAcquisition::SetAcquisitionParametres(acq_ctrl* ctrl)
{
    notify({TTraceCall::SetAcquisitionParametres, this, identifier, ctrl == nullptr});
    setAcquisitionImpl(ctrl);
}

void TAcquisition::setAcquisitionImpl(acq_ctrl* ctrl)
{
    if (!isLive(identifier)) {
        acqFlags = 33;
        return;
    }
    if (ctrl) {
        acqFlags = ctrl->acqFlags;
        timeBase = ctrl->timeBase;
    } else {
        acqFlags = 33;
        timeBase = static_cast<uint16_t>(data.userTimeBase);
    }
    const ChannelSetup s = channelSetup(channelIndex);
    if (mathDefined(s.math)) {
        sensitivity = 8;
    } else {
        position = s.offset;
        *hardPosition(channelIndex) = s.offset;
        sensitivity = static_cast<uint16_t>(s.sensitivity);
    }
    fftPosition = s.fftOffset;
}

void TAcquisition::SetMesureParametres()
{
    notify({TTraceCall::SetMesureParametres, this, identifier, false});
    setMesureImpl();
}

void TAcquisition::setMesureImpl()
{
    if (!(identifier & 0x200F))
        return;
    if (identifier == 8192) {
        probeCoeff = 1.0f;
        offset = 0.0f;
        meterRange = 0;
        meterCoupling = 0;
        meterScale = SCALE_POWER;
        std::memcpy(unit, "W\0\0", 4);
        GetMMRange(&fullRange, nullptr, nullptr);
        return;
    }
    if (channelIndex < 0 || channelIndex > 3)
        return;
    const int ch = channelIndex;
    const ChannelSetup s = channelSetup(ch);
    if ((data.instrumentMode & 0x50) && mathDefined(s.math)) {
        position = s.offset;
        sensitivity = 8;
        coupling = 1;
        bwLimit = 0;
        probeCoeff = 1.0f;
        offset = 0.0f;
    } else {
        coupling = static_cast<uint16_t>(s.coupling);
        bwLimit = s.bwLimit;
        probeCoeff = s.probeCoeff;
        offset = s.auxCoeff;
    }
    std::memcpy(unit, s.unit, 4);
    autoRange = s.meterAutoRange && data.instrumentMode == 128;

    const int fn = data.meterFunction;
    const auto couplingOf16 = [&](int16_t c) -> uint16_t { return (c & 0xC) ? 4 : 0; };
    if (ch == 0) {
        switch (fn) {
        case 1: meterScale = SCALE_OHMMETER; meterRange = static_cast<uint16_t>(data.ohmRange); meterCoupling = 1; break;
        case 2: meterScale = SCALE_OHMMETER; meterRange = 0; meterCoupling = 1; break;
        case 3: meterScale = SCALE_CAPACITANCE; meterRange = static_cast<uint16_t>(data.capaRange); meterCoupling = 1; break;
        case 4: meterScale = SCALE_DIODE; meterRange = 1; meterCoupling = 1; break;
        case 8: case 9: case 10: case 11:
            meterScale = SCALE_METER;
            meterRange = static_cast<uint16_t>(s.meterRange);
            meterCoupling = static_cast<uint16_t>(s.meterCoupling & 0xC);
            break;
        case 16:
            meterScale = SCALE_METER;
            meterRange = static_cast<uint16_t>(s.meterRange);
            meterCoupling = couplingOf16(s.meterCoupling);
            break;
        default:
            meterScale = SCALE_METER;
            meterRange = static_cast<uint16_t>(s.meterRange);
            meterCoupling = static_cast<uint16_t>(s.meterCoupling);
            break;
        }
    } else {
        meterRange = static_cast<uint16_t>(s.meterRange);
        meterScale = SCALE_METER;
        TFonction* power = setupLinks().powerFunctionA;
        const bool readByPower = (fn & 8) && power && (power->VoiesSrc() & (1u << ch));
        if (fn == 9 || readByPower)
            meterCoupling = static_cast<uint16_t>(s.meterCoupling & 0xC);
        else if (fn == 16)
            meterCoupling = couplingOf16(s.meterCoupling);
        else
            meterCoupling = static_cast<uint16_t>(s.meterCoupling);
    }
    GetMMRange(&fullRange, nullptr, nullptr);
}

int TAcquisition::GetMMRange(double* span, double* top, bool* autoRangeOut)
{
    double sp = 0.0;
    int result = 0;
    switch (meterScale) {
    case SCALE_CAPACITANCE:
        sp = double(GetVerticalDiv(this, meterRange, SCALE_CAPACITANCE)) * 8.0;
        break;
    case SCALE_DIODE:
        sp = double(GetVerticalScale(this, SCALE_DIODE, 0)) * 262080.0;
        break;
    case SCALE_POWER: {
        float scaleA = 3.0525032e-5f;
        TFonction* a = setupLinks().powerFunctionA;
        result = a ? a->GetVerticalScale(&scaleA, nullptr, SCALE_METER) : -1;
        sp = double(scaleA) * 262080.0;
        const int fn = data.meterFunction;
        if (fn == 9) {
            float scaleB = 3.0525032e-5f;
            if (TFonction* b = setupLinks().powerFunctionB)
                b->GetVerticalScale(&scaleB, nullptr, SCALE_METER);
            sp = std::max(sp, double(scaleB) * 262080.0) * 2.0;
        } else if (fn == 10) {
            sp *= 3.0;
        } else if (fn == 11) {
            sp *= 1.7320508;
        }
        break;
    }
    default:
        sp = double(GetVerticalScale(this, meterScale, static_cast<short>(meterRange))) * 262080.0;
        break;
    }
    if (span)
        *span = sp;
    if (top)
        *top = sp + (meterScale == SCALE_POWER ? 0.0 : double(GetVerticalOffset(this, meterScale)));
    if (autoRangeOut)
        *autoRangeOut = autoRange;
    return result;
}

std::string TAcquisition::getSampleAt(uint32_t index)
{
    if (index >= kSampleCount || samples[index] >= kInvalidSampleFrom)
        return "?";
    const uint32_t s = samples[index];
    const double value = (double(int32_t(s & kSampleCodeMask)) - double(kZeroLineCode) -
                          double(GetVerticalCadrage(this, SCALE_SCOPE))) *
                             double(GetVerticalScale(this, SCALE_SCOPE, -1)) +
                         double(GetVerticalOffset(this, SCALE_SCOPE));
    char text[64];
    std::snprintf(text, sizeof text, "%.3f\n\r", value);
    return text;
}

double TAcquisition::getOffsetCurs(short mode, short fft) const
{
    if (mode != 16)
        return 0.0;
    return fft == 1 ? fftPosition : softPosition;
}

double TAcquisition::SetHarmonicSampleRate(double rate)
{
    double period = 1.0 / rate;
    const double fastest = GetHorizontalScale(17);
    if (!(period >= fastest))
        period = fastest;
    harmonicSamplingPeriod = period;
    return period;
}

double TAcquisition::GetHarmonicSamplingPeriod() const
{
    return harmonicSamplingPeriod;
}

void TAcquisition::CadrageSoftT(short newPosition, uint32_t first, uint32_t count)
{
    softPosition = double(newPosition) - double(GetVertPositionError(static_cast<uint16_t>(channelIndex), position));
    const int64_t shift = static_cast<int64_t>((double(position) - double(newPosition)) * 262079.0) / 1000;
    if (shift != 0 && first < kSampleCount) {
        const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(first) + count, kSampleCount));
        for (uint32_t i = first; i < end; ++i) {
            const uint32_t w = samples[i];
            if (w >= kEmptySampleWord)
                continue;
            // Bounded so a shifted code never reaches the flag bits nor goes below zero.
            int64_t code = int64_t(w & kSampleCodeMask) - shift;
            code = std::min<int64_t>(std::max<int64_t>(code, 0), kSampleCodeMask);
            samples[i] = (w & ~kSampleCodeMask) | static_cast<uint32_t>(code);
        }
    }
    setMesureImpl();
}

void TAcquisition::setMeterMeasurement(TMeasureStatus status, float value)
{
    measureStatus = status;
    measureValue = value;
}

void TAcquisition::putLoggerMeasurement(TMeasureStatus status, float value)
{
    setMeterMeasurement(status, value);
    uint32_t c;
    if (status == MEASURE_VALID) {
        if (!(fullRange > 0.0) || !std::isfinite(fullRange) || !std::isfinite(value)) {
            c = kEmptySampleWord;
        } else {
            double code = double(kZeroLineCode) - double(value) * kDisplaySpan / fullRange;
            code = std::min(std::max(code, 0.0), double(kSampleCodeMask));
            c = static_cast<uint32_t>(code);
        }
    } else if (status == MEASURE_PENDING) {
        c = kTopCode;
    } else {
        c = kEmptySampleWord;
    }

    // "Every 80 values" counts values, not the saturating loggerCount.
    const uint32_t n = loggerValues;
    const bool step = n != 0 && n % 80 == 0;
    bool skipWiden = false;
    if (envelopeIndex <= 2497) {
        if (n == 0) {
            loggerEnvelope[envelopeIndex] = c;
            loggerEnvelope[envelopeIndex + 1] = c;
        } else if (step) {
            // The last step lands on the final pair (2498); the envelope is full from then on.
            envelopeIndex = static_cast<uint16_t>(envelopeIndex + 2);
            loggerEnvelope[envelopeIndex] = c;
            loggerEnvelope[envelopeIndex + 1] = c;
            skipWiden = true;
        }
    } else if (step) {
        std::memmove(loggerEnvelope, loggerEnvelope + 2, (kLoggerWords - 2) * sizeof(uint32_t));
        loggerEnvelope[kLoggerWords - 2] = c;
        loggerEnvelope[kLoggerWords - 1] = c;
        skipWiden = true;
    }
    if (!skipWiden) {
        const uint16_t i = std::min<uint16_t>(envelopeIndex, 2498);
        loggerEnvelope[i] = std::min(loggerEnvelope[i], c);
        loggerEnvelope[i + 1] = std::max(loggerEnvelope[i + 1], c);
    }

    if (rawCount > 2498) {
        std::memmove(loggerRaw, loggerRaw + 1, (kLoggerWords - 1) * sizeof(uint32_t));
        loggerRaw[kLoggerWords - 1] = c;
    } else {
        ++rawCount;
        loggerRaw[rawCount] = c;
    }
    if (loggerCount < 100000)
        ++loggerCount;
    ++loggerValues;
}

void TAcquisition::computeViewerSignal(uint32_t* values, TAcquisition* trace)
{
    const double r = trace ? trace->fullRange : 0.0;
    for (uint32_t i = 0; i < kSampleCount; ++i) {
        float v;
        std::memcpy(&v, &values[i], sizeof v);
        values[i] = recorderCode(double(v), r);
    }
}

float TAcquisition::measValueAt(uint32_t* codes, TAcquisition* trace, uint32_t index)
{
    const double r = trace ? trace->fullRange : 0.0;
    if (index >= kSampleCount || codes[index] >= kInvalidSampleFrom || !(r > 0.0) || !std::isfinite(r))
        return NAN;
    return static_cast<float>((kDisplayBottom - double(codes[index] & kSampleCodeMask)) / (kDisplaySpan / r) -
                              r / 2.0);
}

void TAcquisition::genPassFailMask(TAcquisition* source, float xTolerance, float yTolerance)
{
    TTraceCall call{TTraceCall::GenPassFailMask, this, identifier, false};
    call.source = source;
    call.xTolerance = xTolerance;
    call.yTolerance = yTolerance;
    notify(call);
    pthread_mutex_lock(&o_g_autoMeasMutex);
    uint32_t* src = source->samples;
    for (uint32_t i = 0; i < kSampleCount; ++i)
        src[i] &= 0x800FFFFFu;
    std::memcpy(samples, src, kSampleCount * sizeof(uint32_t));

    // Mask word m takes the max (even words, from lower words) or min (odd words, from upper
    // words) over source pairs j, j ≡ m (mod 8) within ±w, valid lower word at j: a sliding
    // window per residue class gives the same words as the literal double loop.
    const int64_t w = (static_cast<int64_t>(double(xTolerance) * 10000.0) / 8) * 8;
    if (w > 0) {
        const int64_t n = kSampleCount;
        for (int64_t res = 0; res < 8; ++res) {
            const bool even = (res % 2) == 0;
            // Pair j (even) feeds mask words j + 8t (from its lower word) and j + 1 + 8t (upper).
            const int64_t srcStart = even ? res : res - 1;  // source pair index of this class
            std::deque<int64_t> window;                      // indices j of candidate pairs
            auto better = [&](uint32_t a, uint32_t b) { return even ? a >= b : a <= b; };
            auto valueOf = [&](int64_t j) { return even ? src[j] : src[j + 1]; };
            int64_t nextJ = srcStart;
            for (int64_t m = res; m < n; m += 8) {
                const int64_t jm = even ? m : m - 1;  // pair aligned with m
                while (nextJ <= jm + w && nextJ + 1 < n + 1) {
                    if (nextJ >= 0 && nextJ < n && src[nextJ] < kInvalidSampleFrom &&
                        (even || nextJ + 1 < n)) {
                        while (!window.empty() && better(valueOf(nextJ), valueOf(window.back())))
                            window.pop_back();
                        window.push_back(nextJ);
                    }
                    nextJ += 8;
                }
                while (!window.empty() && window.front() < jm - w)
                    window.pop_front();
                if (!window.empty()) {
                    const uint32_t v = valueOf(window.front());
                    samples[m] = even ? std::max(samples[m], v) : std::min(samples[m], v);
                }
            }
        }
    }

    const uint32_t d = static_cast<uint32_t>(static_cast<int64_t>(double(yTolerance) * 262080.0 / 8.0));
    for (uint32_t i = 0; i + 1 < kSampleCount; i += 2) {
        if (samples[i] < kInvalidSampleFrom && samples[i] + d >= samples[i])
            samples[i] += d;
        if (samples[i + 1] < kInvalidSampleFrom && samples[i + 1] >= d)
            samples[i + 1] -= d;
    }

    acqFlags = source->acqFlags;
    timeBase = source->timeBase;
    probeCoeff = 1.0f;
    offset = 0.0f;
    softPosition = 0.0;
    sensitivity = 8;
    coupling = 1;
    bwLimit = 0;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
}

bool TAcquisition::passFailCompare(TAcquisition* signal)
{
    const uint32_t* s = signal->samples;
    for (uint32_t k = 0; k < kSampleCount; k += 2) {
        if (samples[k] < kInvalidSampleFrom && s[k] < kInvalidSampleFrom &&
            (samples[k] & kSampleCodeMask) < (s[k] & kSampleCodeMask))
            return false;
        if (samples[k + 1] < kInvalidSampleFrom && s[k + 1] < kInvalidSampleFrom &&
            (s[k + 1] & kSampleCodeMask) < (samples[k + 1] & kSampleCodeMask))
            return false;
    }
    return true;
}

TAcquisition& TAcquisition::operator=(const TAcquisition& other)
{
    if (this == &other)
        return *this;
    AcqSuspend();
    TTraceCall call{TTraceCall::Assign, this, identifier, false};
    call.source = &other;
    notify(call);
    razImpl(true);
    probeCoeff = other.probeCoeff;
    position = other.position;
    timeBase = other.timeBase;
    offset = other.offset;
    acqFlags = other.acqFlags;
    sensitivity = other.sensitivity;
    coupling = other.coupling;
    bwLimit = other.bwLimit;
    filterKind = other.filterKind;
    std::memcpy(unit, other.unit, sizeof unit);
    softPosition = other.softPosition;
    std::memcpy(samples, other.samples, kSampleCount * sizeof(uint32_t));
    std::memcpy(loggerRaw, other.loggerRaw, sizeof loggerRaw);
    std::memcpy(loggerEnvelope, other.loggerEnvelope, sizeof loggerEnvelope);
    AcqResume(SYNCHRO_RESUME);
    return *this;
}

int32_t TAcquisition::write(int32_t fd)
{
    uint8_t h[kRecordHeaderSize] = {};
    float coeff = 1.0f;
    char u[4] = {'d', 'i', 'v', 0};
    uint8_t fnFlag = 0;
    if (isLive(identifier)) {
        if (mathDefined(channelSetup(channelIndex).math)) {
            fnFlag = 1;
        } else {
            coeff = probeCoeff;
            std::memcpy(u, unit, 4);
        }
    }
    putLE<uint16_t>(h + kOffFlags, acqFlags);
    putLE<uint16_t>(h + kOffTimeBase, timeBase);
    putLE<float>(h + kOffCoeff, coeff);
    putLE<float>(h + kOffOffset, offset);
    putLE<double>(h + kOffSoftPos, softPosition);
    putLE<uint16_t>(h + kOffSensitivity, sensitivity);
    putLE<uint16_t>(h + kOffCoupling, coupling);
    putLE<int32_t>(h + kOffBwLimit, bwLimit);
    std::memcpy(h + kOffUnit, u, 4);
    h[kOffFnFlag] = fnFlag;
    std::memset(h + kOffDashes, '-', 31);
    if (!writeAll(fd, h, sizeof h))
        return 19;
    if (!writeAll(fd, samples, kSampleCount * sizeof(uint32_t)))
        return 19;
    return 0;
}

int32_t TAcquisition::read(int32_t fd)
{
    uint8_t h[kRecordHeaderSize] = {};
    const size_t got = readUpTo(fd, h, sizeof h);
    const uint16_t flags = getLE<uint16_t>(h + kOffFlags);
    const uint16_t tb = getLE<uint16_t>(h + kOffTimeBase);
    const uint16_t sens = getLE<uint16_t>(h + kOffSensitivity);
    const uint16_t coup = getLE<uint16_t>(h + kOffCoupling);
    const int32_t bw = getLE<int32_t>(h + kOffBwLimit);
    const float coeff = getLE<float>(h + kOffCoeff);
    const float off = getLE<float>(h + kOffOffset);
    const double soft = getLE<double>(h + kOffSoftPos);
    // Fields from a file index the scale tables or become the 16-bit position: refuse the
    // record before changing anything. A short record counts too: its missing bytes read as 0,
    // its partial fields may not.
    if (sens > 15 || tb > 34 || coup > 2 || bw < 0 || bw > 3)
        return 20;
    if (!std::isfinite(coeff) || !std::isfinite(off) || !std::isfinite(soft) || soft < -32768.0 || soft > 32767.0)
        return 20;
    acqFlags = static_cast<uint16_t>(flags & ~0x4000u);
    timeBase = tb;
    probeCoeff = coeff;
    offset = off;
    softPosition = soft;
    sensitivity = sens;
    coupling = coup;
    bwLimit = bw;
    std::memcpy(unit, h + kOffUnit, 3);
    unit[3] = 0;
    position = static_cast<int16_t>(softPosition);
    filterKind = 0;
    if (got == sizeof h)
        readUpTo(fd, samples, kSampleCount * sizeof(uint32_t));

    int ch = -1;
    switch (identifier) {
    case 1: case 256: ch = 0; break;
    case 2: case 512: ch = 1; break;
    case 4: case 1024: ch = 2; break;
    case 8: case 2048: ch = 3; break;
    default: break;
    }
    if (ch >= 0) {
        *hardPosition(ch) = position;
        if (uint32_t* buffer = normalisedBuffer(ch))
            std::memcpy(buffer, samples, kSampleCount * sizeof(uint32_t));
    }
    return 0;
}

int32_t TAcquisition::writeLoggerInfos(int fd)
{
    uint8_t r[kLoggerInfoSize] = {};
    putLE<uint32_t>(r + kLogScale, static_cast<uint32_t>(meterScale));
    putLE<uint16_t>(r + kLogRange, meterRange);
    putLE<uint16_t>(r + kLogCoupling, meterCoupling);
    std::memcpy(r + kLogUnit, unit, 4);
    putLE<float>(r + kLogProbe, probeCoeff);
    putLE<float>(r + kLogOffset, offset);
    return writeAll(fd, r, sizeof r) ? 0 : 19;
}

int32_t TAcquisition::readLoggerInfos(int fd)
{
    uint8_t r[kLogFields] = {};
    const size_t got = readUpTo(fd, r, sizeof r);
    int32_t result = 0;
    if (got < sizeof r) {
        result = -1;
    } else {
        const uint32_t scale = getLE<uint32_t>(r + kLogScale);
        const uint16_t range = getLE<uint16_t>(r + kLogRange);
        const uint16_t coup = getLE<uint16_t>(r + kLogCoupling);
        const float coeff = getLE<float>(r + kLogProbe);
        const float off = getLE<float>(r + kLogOffset);
        if (scale > SCALE_POWER || !meterRangeValid(scale, range) || coup > 11 || !std::isfinite(coeff) ||
            !std::isfinite(off)) {
            result = -1;
        } else {
            meterScale = static_cast<TScale>(scale);
            meterRange = range;
            meterCoupling = coup;
            std::memcpy(unit, r + kLogUnit, 3);
            unit[3] = 0;
            probeCoeff = coeff;
            offset = off;
        }
        uint8_t skip[kLoggerInfoSize - kLogFields];
        readUpTo(fd, skip, sizeof skip);
    }
    GetMMRange(&fullRange, nullptr, nullptr);
    return result;
}
