// Setup consistency helpers: keep the derived fields of the live setup in line after a change.
// They run in the controller thread and take no lock.
#include "core/setup_consistency.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/command_param.h"
#include "core/gest_db.h"
#include "core/scale.h"

#include <algorithm>
#include <cstring>

namespace {

bool meterMode(int mode)
{
    return mode == 128 || mode == 129 || mode == 130;
}

bool scopeMode()
{
    return (data.instrumentMode & 0x10) != 0;
}

void setText(char (&field)[4], const char* text)
{
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text, sizeof field - 1);
}

unsigned char* measurementRecord(int record)
{
    auto* table = reinterpret_cast<unsigned char*>(setupLinks().measResultsPtr);
    return table == nullptr ? nullptr : table + record * kMeasurementRecordSize;
}

void clearMeasurement(int record)
{
    if (unsigned char* r = measurementRecord(record))
        std::memset(r, 0, kMeasurementRecordSize);
}

void clearChannel(int channel)
{
    clearMeasurement(channel);
    if (auto* table = reinterpret_cast<unsigned char*>(setupLinks().harmonicResultsPtr)) {
        const uint32_t recompute = 1;
        std::memcpy(table + channel * kHarmonicRecordSize, &recompute, sizeof recompute);
    }
}

unsigned short userIndex(int index)
{
    // 35 is in the tables but is no time base.
    return static_cast<unsigned short>(std::clamp(index, 0, static_cast<int>(kTimeBaseCount) - 1));
}

double timePerPoint(int i)
{
    return GetHorizontalScaleT(static_cast<unsigned short>(i));
}

double frequencyPerPoint(int i)
{
    return GetHorizontalScaleF(static_cast<unsigned short>(i));
}

// Slowest time base at or below start whose duration per point is not much larger than wanted.
int matchTimeBase(int start, double wanted)
{
    int i = start;
    while (i > 0 && timePerPoint(i) / std::max(wanted, 1e-13) > 1.3)
        --i;
    return i;
}

// The FFT span: frequencies per point grow as the index falls.
int matchFftSpan(double wanted)
{
    wanted = std::min(wanted, 1e13);
    int i = kTimeBaseCount - 1;
    while (i > 0 && wanted / frequencyPerPoint(i) > 1.3)
        --i;
    return i;
}

// The zoom follows the time base (and the FFT span in the FFT format): returns the matched
// time index.
int matchZoom(unsigned short index)
{
    const double t = timePerPoint(index);
    const int i = matchTimeBase(index, t * data.zoomWidth / 40.0);
    data.zoomWidth = static_cast<float>(timePerPoint(i) * 40.0 / t);
    data.horizPosition = std::min<int32_t>(data.horizPosition,
                                           100000 - static_cast<int32_t>(data.zoomWidth * 100000.0 / 40));

    if (data.traceFormat != 1)
        return i;
    const double f = frequencyPerPoint(index);
    const int j = matchFftSpan(f * data.fftZoomWidth / 40.0);
    data.fftZoomWidth = static_cast<float>(frequencyPerPoint(j) * 40.0 / f);
    // FFT positions are in 0..100,000 units like the time positions.
    data.fftHorizPosition = std::min<int32_t>(data.fftHorizPosition,
                                              100000 - static_cast<int32_t>(data.fftZoomWidth * 100000.0 / 40));
    return i;
}

} // namespace

void find_coeff()
{
    const TSetupLinks& links = setupLinks();
    const int16_t sensitivity[4] = {data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3, data.sensitivityCh4};
    float* voltsPerDiv[4] = {&data.voltsPerDivCh1, &data.voltsPerDivCh2, &data.voltsPerDivCh3, &data.voltsPerDivCh4};
    const float probe[4] = {data.probeCoeffCh1, data.probeCoeffCh2, data.probeCoeffCh3, data.probeCoeffCh4};
    float* auxScale[4] = {&data.auxScaleCh1, &data.auxScaleCh2, &data.auxScaleCh3, &data.auxScaleCh4};
    const float auxCoeff[4] = {data.auxCoeffCh1, data.auxCoeffCh2, data.auxCoeffCh3, data.auxCoeffCh4};
    TAcquisition* traces[4] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};

    for (int n = 0; n < 4; ++n) {
        const float s = GetSensitivity(static_cast<unsigned short>(std::max<int16_t>(sensitivity[n], 0)), SCALE_SCOPE);
        *voltsPerDiv[n] = s * probe[n];
        *auxScale[n] = s * auxCoeff[n];
        if (traces[n] != nullptr)
            traces[n]->SetMesureParametres();
    }
    if (links.powerAcq != nullptr)
        links.powerAcq->SetMesureParametres();

    for (TAcquisition* trace : traces)
        if (trace != nullptr)
            trace->filterKind = 0;
    if (links.powerAcq != nullptr)
        links.powerAcq->filterKind = 0;

    const int mode = data.instrumentMode;
    if (meterMode(mode)) {
        setText(data.xUnit, "s");
        const int16_t coupling[4] = {data.couplingCh1, data.couplingCh2, data.couplingCh3, data.couplingCh4};
        for (int n = 0; n < 4; ++n)
            if (coupling[n] == 0)
                *voltsPerDiv[n] *= 0.5f;
        const int16_t meterCoupling[4] = {data.meterCouplingCh1, data.meterCouplingCh2, data.meterCouplingCh3,
                                          data.meterCouplingCh4};
        if (traces[0] != nullptr && (data.meterFunction == 0 || (data.meterFunction & 8) != 0))
            traces[0]->filterKind = static_cast<int16_t>((meterCoupling[0] >> 3) & 1);
        for (int n = 1; n < 4; ++n)
            if (traces[n] != nullptr)
                traces[n]->filterKind = static_cast<int16_t>((meterCoupling[n] >> 3) & 1);
    } else if (mode == 64) {
        setText(data.xUnit, "Hz");
    } else {
        setText(data.xUnit, data.traceFormat == 1 ? "Hz" : "s");
    }
}

void SetVoiesValides()
{
    const uint8_t shown[4] = {data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4};
    const uint8_t refs[4] = {data.refShownCh1, data.refShownCh2, data.refShownCh3, data.refShownCh4};
    const uint8_t memories[4] = {data.memoryTraceCh1, data.memoryTraceCh2, data.memoryTraceCh3, data.memoryTraceCh4};
    uint16_t flags = 0;
    for (int n = 0; n < 4; ++n) {
        if (shown[n])
            flags |= 1u << n;
        if (refs[n])
            flags |= 0x10u << n;
        if (memories[n])
            flags |= 0x100u << n;
    }
    data.channelFlags = flags;

    for (int n = 3; n >= 0; --n)
        if ((flags & (0x101u << n)) == 0)
            clearChannel(n);
    for (int n = 3; n >= 0; --n)
        if ((flags & (0x10u << n)) == 0)
            clearMeasurement(4 + n);
}

uint16_t GetMesureReference()
{
    const uint16_t ref = static_cast<uint16_t>(data.measRefChannel);
    const uint16_t flags = data.channelFlags;
    const int mode = data.instrumentMode;
    auto firstOf = [](unsigned m, uint16_t otherwise) -> uint16_t {
        for (uint16_t bit : {8, 4, 2, 1})
            if (m & bit)
                return bit;
        return otherwise;
    };

    if (mode & 0x80) {
        const int function = data.meterFunction;
        if (function == 2 || function == 3 || function == 4)
            return 1;
        if (function & 8)
            return (ref & flags & data.hwChannelMask) != 0 ? ref : 8192;
        const unsigned m = data.hwChannelMask & flags;
        return (ref & m) != 0 ? ref : firstOf(m, ref);
    }
    if (mode & 0x100) {
        if (ref & flags)
            return ref;
        return firstOf(flags >> 8, 0);
    }
    if ((mode & 0x10) && ref != 0xF0F) {
        const unsigned m = (flags & 0xFu) | (flags >> 8);
        return (ref & m) != 0 ? ref : firstOf(m, ref);
    }
    return ref;
}

void SetCursorsInScreen(unsigned short state)
{
    if (!scopeMode() || (state != 1 && state != 3))
        return;
    const bool fft = data.traceFormat == 1;
    const int32_t position = fft ? data.fftHorizPosition : data.horizPosition;
    const float width = fft ? data.fftZoomWidth : data.zoomWidth;
    const bool zoomed = (fft ? data.fftZoomState : data.zoomState) == 2;
    float factor = fft ? data.fftVZoomFactor : data.vZoomFactor;
    if (!(factor > 0.0f))
        factor = 1.0f;  // a bad factor would give an infinite window
    const int32_t vPosition = fft ? data.fftVZoomPosition : data.vZoomPosition;

    const int32_t x0 = zoomed ? position : 0;
    const int32_t x1 = zoomed ? static_cast<int32_t>(x0 + width / 40.0 * 100000 - 1) : 99999;
    const double h = 262080.0 / factor;
    const double v = vPosition * 262080.0 / (factor * 1000.0);
    const int32_t top = static_cast<int32_t>(262080.0 - (h + v) + 0x60000);
    const int32_t bottom = static_cast<int32_t>(262080.0 - v + 0x60000);
    const int32_t low = std::min(top, bottom);
    const int32_t high = std::max(top, bottom);
    const int32_t first = std::min(x0, x1);
    const int32_t last = std::max(x0, x1);

    data.cursor1Level = std::clamp(data.cursor1Level, low, high);
    data.cursor2Level = std::clamp(data.cursor2Level, low, high);
    data.xyCursor1X = -std::clamp(-data.xyCursor1X, low, high);
    data.xyCursor2X = -std::clamp(-data.xyCursor2X, low, high);
    data.cursor1Time = std::clamp(data.cursor1Time, first, last);
    data.cursor2Time = std::clamp(data.cursor2Time, first, last);
    data.cursor3Time = std::clamp(data.cursor3Time, first, last);
}

void SetUserTimeBase(uint16_t requested)
{
    if (!scopeMode())
        return;
    const unsigned short index = userIndex(requested);
    const bool fft = data.traceFormat == 1;

    if (index < 6) {
        // The acquisition stays at 100 ns a division; the display zooms in software.
        const double w0 = data.zoomWidth;
        data.userTimeBase = 6;
        data.zoomState = fft ? 0 : 2;
        data.zoomWidth = static_cast<float>(timePerPoint(index) * 40 / 1e-11);
        const double width = data.zoomWidth;
        const double position = data.horizPosition + (w0 - width) * 2500 * 0.5;
        data.horizPosition = static_cast<int32_t>(std::clamp(position, 0.0, 100000 - width * 2500));
        if (fft)
            data.timeBaseIndex = 6;
        return;
    }

    bool reset = false;
    const bool wasUnzoomed = data.zoomState == 0;
    if (data.userTimeBase == 6 && data.zoomWidth > 10) {
        data.zoomState = 0;
        data.horizPosition = 0;
        data.zoomWidth = 40;
        reset = true;
    }
    data.userTimeBase = static_cast<int16_t>(index);
    matchZoom(index);
    if (wasUnzoomed || reset)
        data.timeBaseIndex = static_cast<int16_t>(index);
}

void adjustHorizontalZoom()
{
    if (!scopeMode())
        return;
    const unsigned short index = userIndex(data.userTimeBase);
    const int matched = matchZoom(index);
    if (index < 7)
        data.timeBaseIndex = static_cast<int16_t>(matched);
}

void SetPowerFct(bool threePhase, database*)
{
    // The functions and the measurement table are run-time links: always the live ones.
    const TSetupLinks& links = setupLinks();
    if (threePhase) {
        char a[] = "(ch1*ch2)/divv(4)";
        char b[] = "(ch3*ch4)/divv(4)";
        if (links.powerFunctionA != nullptr)
            links.powerFunctionA->SetFonctionString(a, false);
        if (links.powerFunctionB != nullptr)
            links.powerFunctionB->SetFonctionString(b, false);
    } else {
        char a[] = "ch1*ch4/divv(4)";
        if (links.powerFunctionA != nullptr)
            links.powerFunctionA->SetFonctionString(a, false);
        if (links.powerFunctionB != nullptr)
            links.powerFunctionB->RAZ();
    }
    for (int record : {0, 1, 2, 3, 8, 9})
        if (unsigned char* r = measurementRecord(record))
            std::memset(r, 0, sizeof(uint32_t));
}

void SetPowerFct(bool on)
{
    SetPowerFct(on, &data);
}
