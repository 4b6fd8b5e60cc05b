// Factory calibration steps: each programs the channel's front end through the private
// calibration set, measures through the calibration bench and writes its fields of the record.
#include "hardware/calibsteps.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/interpolation.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"
#include "hardware/frontend.h"
#include "hardware/frontend_meter.h"
#include "hardware/handshake.h"
#include "hardware/scaling.h"
#include "hardware/transfer.h"
#include "hardware/vernier.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
// Normalised codes: the screen spans 0x60000..0x9FFC0, its centre is 0x7FFE0.
constexpr int32_t kScreenTop = 0x60000;
constexpr int32_t kScreenBottom = 655296;
constexpr int32_t kCentre = 0x7FFE0;
constexpr int32_t kScreenSpan = 262080;
constexpr int kAcqCalibPolls = 1024;      // 100 ms bound each
constexpr int kAcqCalibPollMs = 100;
constexpr uint16_t kFlags = SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER;
// A calibration acquisition: at most 2500 samples, averaged over positions 250..2249 (fewer when
// the acquisition filled fewer, but never less than half of them).
constexpr int32_t kCalibrationSamples = 2500;
constexpr int kAverageFirst = 250;
constexpr int kAverageEnd = 2250;
constexpr int32_t kAverageLeast = 1000;
constexpr uint32_t kFirstInvalidWord = 0x40000000u;   // empty or a transfer mark

// A failed measurement or bound, thrown as a plain integer and caught in the step.
constexpr int kStepFailed = 0;

bool validMeasure(int32_t m)
{
    return m > kScreenTop && m < kScreenBottom;
}

int channelIndexOf(uint16_t channelBit)
{
    switch (channelBit) {
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: return 0;
    }
}

// --- Calibration acquisitions on the board ------------------------------------------------------

acq_ctrl calibrationRecord(int channel, int32_t span, int32_t zero)
{
    acq_ctrl c = calibrationControlRecord(static_cast<uint16_t>(1u << channel), static_cast<uint16_t>(channel));
    c.postTrigger = 2500;
    c.preTrigger = 250;
    c.acqFlags = 149;
    c.timeBase = 21;
    for (int ch = 0; ch < 4; ++ch) {
        c.span[ch] = span;
        c.zero[ch] = zero;
    }
    return c;
}

// One pass: force, arm, wait, bounded polls, transfer; the mean of the delivered samples 250..2249.
bool acquirePass(acq_ctrl* c, int channel, int64_t* mean)
{
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, 1);
    if (ChipAcqWrite(c) < 0) {
        TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, 0);
        return false;
    }
    hardwarePauseMs(100);
    TFpga::getSpiRegister(ACQ_SPI_VERSION);
    bool done = false;
    for (int i = 0; i < kAcqCalibPolls && !done; ++i)
        done = (ChipAcqRead(c, kAcqCalibPollMs) & (0x10 | 0x1000)) != 0;
    TFpga::setSpiRegister(ACQ_SPI_FORCE_TRIGGER, 0);
    if (!done)
        return false;

    // Arming restarts the ring, so it holds this acquisition's samples from its start. At this
    // time base the programmed counts fill fewer entries than the 2500 the average was meant to
    // reach (a quarter-rate pre-trigger and post-trigger: about 1940): transfer only those, and
    // average only the positions they fill, instead of ring entries and sorted words an earlier
    // acquisition left.
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const int32_t written = std::clamp<int32_t>(l_g_signalsBufferWritePtr / 4, 0, kCalibrationSamples);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    c->ringStart = 0;
    c->newSamples = static_cast<uint32_t>(written);
    uint32_t held = 0;
    int32_t first = 0;
    TInterpolation word = 1;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    uint32_t* samples = TAcquisition::Voie1Normalisee;
    switch (channel) {
    case 1: samples = TAcquisition::Voie2Normalisee; break;
    case 2: samples = TAcquisition::Voie3Normalisee; break;
    case 3: samples = TAcquisition::Voie4Normalisee; break;
    default: break;
    }
    if (samples) {
        std::fill(samples, samples + kCalibrationSamples, kEmptySampleWord);
        std::fill(tul_g_sortedSignal + written, tul_g_sortedSignal + kSortedSignalWords, kEmptySampleWord);
    }
    const int32_t moved = written > 0 && samples ? acqtrans(c, &held, &first, &word) : 0;
    int64_t sum = 0;
    int32_t count = 0;
    if (moved != 0)
        for (int i = kAverageFirst; i < kAverageEnd; ++i)
            if (samples[i] < kFirstInvalidWord) {
                sum += samples[i] & kSampleCodeMask;
                ++count;
            }
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    if (count < kAverageLeast)
        return false;
    *mean = sum / count;
    return true;
}

int acquire(uint16_t channelBit, int32_t* mean, int passes, int32_t span, int32_t zero)
{
    if (passes < 1)
        return -1;
    const int channel = channelIndexOf(channelBit);
    acq_ctrl c = calibrationRecord(channel, span, zero);
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    ChipAcqIoctl(CHIPACQ_CALIBRATION, &c);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    int64_t sum = 0;
    for (int pass = 0; pass < passes; ++pass) {
        int64_t m = 0;
        if (!acquirePass(&c, channel, &m))
            return -1;
        sum += m;
    }
    *mean = static_cast<int32_t>(sum / passes);
    return 0;
}

class TBoardBench : public TCalibrationBench {
public:
    int measure(uint16_t channelBit, int32_t* mean, int passes) override
    {
        return AcqCalib(channelBit, mean, passes);
    }
    int measureCorrected(uint16_t channelBit, int32_t* mean, int32_t low, int32_t high, int passes) override
    {
        return AcqCalibWithCorrection(channelBit, mean, low, high, passes);
    }
    void clearQuality() override { TFpga::setSpiRegister(32, 0); }
    uint32_t quality() override { return TFpga::getSpiRegister(32); }
    // Every wait of a step is for the front end to settle.
    void wait(int ms) override { hardwarePauseMs(ms); }
};

TBoardBench boardBench;
TCalibrationBench* currentBench = &boardBench;

TCalibrationBench& bench()
{
    return *currentBench;
}

// --- Front-end writes through the calibration set -----------------------------------------------

uint16_t* calSet()
{
    return o_g_scalingParamsCalibration;
}

void setCal(int ch, int parameter, uint16_t value)
{
    calSet()[parameter] = value;
    ScalingWrite(static_cast<uint16_t>(ch), calSet(), static_cast<int16_t>(parameter), kFlags);
}

// Parameter 13 takes value only on board code 0; it is written in either case.
void boardCodeGround(int ch, uint16_t value)
{
    if (EtatLogique(ETAT_BOARD_CODE) == 0)
        calSet()[13] = value;
    ScalingWrite(static_cast<uint16_t>(ch), calSet(), 13, kFlags);
}

void initWords(uint16_t value)
{
    pseudoInitCh1 = pseudoInitCh2 = pseudoInitCh3 = pseudoInitCh4 = value;
}

void driverCommand0()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    ChipAcqIoctl(CHIPACQ_SCOPE, nullptr);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

void init(int ch)
{
    ParamsCalibrationInit(static_cast<uint16_t>(ch), calSet());
}

// One measurement; a failed one ends the step (or stage).
int32_t measure(int ch, int passes)
{
    int32_t m = 0;
    if (bench().measure(static_cast<uint16_t>(1u << ch), &m, passes) != 0)
        throw kStepFailed;
    return m;
}

int32_t measureCorrected(int ch, int32_t low, int32_t high, int passes)
{
    int32_t m = 0;
    if (bench().measureCorrected(static_cast<uint16_t>(1u << ch), &m, low, high, passes) != 0)
        throw kStepFailed;
    return m;
}

bool validChannel(int32_t ch)
{
    return ch >= 0 && ch <= 3;
}

// Successive approximation of an 8-bit trim towards the screen centre (1 pass a value).
int trimSearch(int ch, int parameter)
{
    int value = 128;
    int step = 128;
    int best = 128;
    int32_t bestError = kScreenBottom;
    bool more = true;
    while (more) {
        setCal(ch, parameter, static_cast<uint16_t>(value));
        const int32_t m = measure(ch, 1);
        const int32_t error = std::abs(m - kCentre);
        if (!validMeasure(m)) {
            step = 0;
            more = false;
        } else {
            more = error != 0 && step > 1;
            step /= 2;
        }
        if (error < bestError) {
            best = value;
            bestError = error;
        }
        value = m > kCentre ? value + step : (step > value ? 0 : value - step);
    }
    if (best < 5 || best > 251)
        throw kStepFailed;
    return best;
}

// Five trim searches on parameter, before each one the (33, 34) pair and the extra writes of k.
template <typename Before>
void fiveSearches(int ch, int parameter, Before before, int results[5])
{
    static const uint16_t p33[5] = {1, 2, 4, 1, 8};
    static const uint16_t p34[5] = {0, 2, 3, 1, 7};
    for (int k = 0; k < 5; ++k) {
        setCal(ch, 33, p33[k]);
        setCal(ch, 34, p34[k]);
        before(k);
        results[k] = trimSearch(ch, parameter);
    }
}

// The second and third stages of step 3: the common set-up, five trim searches on parameter,
// their results into table by sensitivity; nothing stored when one fails.
template <typename Extra, typename Before>
int32_t searchStage(int ch, const calibration* record, int parameter, Extra extra, Before before,
                    const int (&bySensitivity)[16], uint8_t* table)
{
    try {
        init(ch);
        setCal(ch, 32, 1);
        setCal(ch, 31, 1);
        setCal(ch, 56, 63);
        setCal(ch, 16, record->vosBf1[ch]);
        extra();
        int r[5];
        fiveSearches(ch, parameter, before, r);
        for (int s = 0; s < 16; ++s)
            table[s] = static_cast<uint8_t>(r[bySensitivity[s]]);
        return 1;
    } catch (int) {
        return 0;
    }
}

// The reference trims of steps 5 (positive) and 6 (negative).
int32_t referenceTrim(int32_t ch, calibration* record, bool positive)
{
    if (!validChannel(ch) || !record)
        return 0;
    const int trim = positive ? 4 : 8;
    const uint16_t far = positive ? 0 : 1023;
    try {
        init(ch);
        SetSensitivity(static_cast<uint16_t>(ch), 7, calSet());
        if (positive)
            setCal(ch, 8, 128);
        else
            setCal(ch, 4, record->ref2Vp[ch]);
        setCal(ch, 16, record->vosBf1[ch]);
        setCal(ch, 25, record->vosBf2[ch][7]);
        setCal(ch, 29, record->vosGp[ch][7]);
        setCal(ch, 56, 0);

        auto point = [&](int value) {
            setCal(ch, trim, static_cast<uint16_t>(value));
            setCal(ch, 18, 512);
            boardCodeGround(ch, 1);
            initWords(64);
            const int32_t a = measure(ch, 2);
            setCal(ch, 18, far);
            boardCodeGround(ch, 0);
            initWords(0);
            const int32_t b = measure(ch, 2);
            return b - a;
        };
        // The crossing of the fitted line with 0; a flat line fails.
        auto crossing = [&](const int16_t* x) {
            int32_t y[16];
            for (int i = 0; i < 16; ++i)
                y[i] = point(x[i]);
            double slope = 0, intercept = 0;
            RegressionLineaire(x, y, 16, &slope, &intercept);
            const double c = std::floor(-intercept / slope + 0.5);
            if (slope == 0 || !std::isfinite(c))
                throw kStepFailed;
            return c;
        };
        int16_t coarse[16];
        for (int i = 0; i < 16; ++i)
            coarse[i] = static_cast<int16_t>(16 * i);
        const double b = crossing(coarse);
        if (b < 8 || b > 247)
            throw kStepFailed;
        // The fine pass stays within the 8-bit field.
        int16_t fine[16];
        for (int i = 0; i < 16; ++i)
            fine[i] = static_cast<int16_t>(std::clamp(static_cast<int>(b) - 16 + i, 0, 255));
        const double c = crossing(fine);
        if (c < 0 || c > 255)
            throw kStepFailed;
        setCal(ch, trim, static_cast<uint16_t>(c));
        (positive ? record->ref2Vp : record->ref2Vn)[ch] = static_cast<uint8_t>(c);
        return 1;
    } catch (int) {
        return 0;
    }
}

// The two points of one bandwidth-limit state of step 7.
struct TRangePoints {
    int32_t low, high;
};

TRangePoints twoPoints(int ch, int sensitivity, bool limited)
{
    const int32_t m1 = [&] {
        if (!limited) {
            boardCodeGround(ch, 1);
            setCal(ch, 20, 0);
            setCal(ch, 31, 0);
            setCal(ch, 32, 0);
        } else {
            setCal(ch, 31, 1);
            setCal(ch, 32, 1);
        }
        setCal(ch, 18, 307);
        driverCommand0();
        bench().wait(500);
        return measure(ch, 1);
    }();
    setCal(ch, 18, 716);
    bench().wait(500);
    const int32_t m2 = measure(ch, 1);
    initWords(0);
    boardCodeGround(ch, 0);
    if (!limited)
        setCal(ch, 20, 0);
    driverCommand0();
    bench().wait(500);
    int32_t m3 = measure(ch, 1);
    if (sensitivity == 15)
        m3 = 2 * m3 - m2;

    initWords(64);
    const int32_t a = static_cast<int32_t>(((m1 - 127.96875) + (m2 - 511.875)) * 0.5);
    const int32_t b = static_cast<int32_t>((m3 - m2) * 0.5);
    TRangePoints p{a - b, a + b};

    boardCodeGround(ch, 1);
    setCal(ch, 18, 511);
    driverCommand0();
    bench().wait(500);
    const int32_t m4 = measureCorrected(ch, p.low, p.high, 2);
    const int32_t shift = kCentre - m4;
    p.low += shift;
    p.high += shift;
    if (p.low > 0x6FFF0 || p.high <= 589775)
        throw kStepFailed;
    return p;
}

int16_t setupSensitivity(int ch)
{
    const int16_t s[4] = {data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3, data.sensitivityCh4};
    return s[ch];
}

int16_t setupTrigCoupling(int ch)
{
    const int16_t c[4] = {data.trigCouplingCh1, data.trigCouplingCh2, data.trigCouplingCh3, data.trigCouplingCh4};
    return c[ch];
}
} // namespace

TCalibrationBench* setCalibrationBench(TCalibrationBench* next)
{
    TCalibrationBench* previous = currentBench == &boardBench ? nullptr : currentBench;
    currentBench = next ? next : &boardBench;
    return previous;
}

int AcqCalib(uint16_t channelBit, int32_t* mean, int passes)
{
    return acquire(channelBit, mean, passes, kScreenSpan, kScreenTop);
}

int AcqCalibWithCorrection(uint16_t channelBit, int32_t* mean, int32_t low, int32_t high, int passes)
{
    if (high == low)
        return -1;
    const double span = static_cast<double>(high) - low;
    const double zero = (393216.0 - low) * 262080.0 / span + 393216.0;
    if (!std::isfinite(zero) || std::fabs(zero) > 2e9 || std::fabs(span) > 2e9)
        return -1;
    return acquire(channelBit, mean, passes, static_cast<int32_t>(span), static_cast<int32_t>(zero));
}

void ParamsCalibrationInit(uint16_t channel, uint16_t* set)
{
    if (channel > 3 || !set)
        return;
    ScalingLoadDefaults(SCALING_DEFAULTS_CALIBRATION, set);
    ScalingWrite(channel, set, 0, kFlags);
    initWords(64);
    SetSensitivity(channel, 0, set);
}

int32_t CompensationVosBF1(int32_t ch, calibration* record)
{
    if (!validChannel(ch) || !record)
        return 0;
    try {
        init(ch);
        setCal(ch, 15, 1);
        setCal(ch, 11, 1);
        setCal(ch, 32, 1);
        setCal(ch, 31, 1);
        setCal(ch, 35, 0);
        setCal(ch, 59, 1);
        const int32_t m0 = measure(ch, 1);

        init(ch);
        setCal(ch, 15, 1);
        setCal(ch, 11, 1);
        setCal(ch, 32, 1);
        setCal(ch, 31, 1);
        setCal(ch, 35, 4);
        int best = 0;
        int32_t bestError = INT32_MAX;
        auto tryValue = [&](int value) {
            setCal(ch, 16, static_cast<uint16_t>(value));
            const int32_t error = std::abs(m0 - measure(ch, 1));
            if (error < bestError) {
                best = value;
                bestError = error;
            }
        };
        for (int value = 255; value >= 15; value -= 16)
            tryValue(value);
        tryValue(0);
        const int from = best < 16 ? 0 : best - 16;
        for (int i = 0; i < 33; ++i) {
            setCal(ch, 16, static_cast<uint16_t>(std::min(from + i, 255)));
            bench().wait(10);
            const int value = std::min(from + i, 255);
            const int32_t error = std::abs(m0 - measure(ch, 1));
            if (error < bestError) {
                best = value;
                bestError = error;
            }
        }
        if (best == 0 || best == 255 || bestError >= 2000)
            return 0;
        record->vosBf1[ch] = static_cast<uint8_t>(best);
        return 1;
    } catch (int) {
        return 0;
    }
}

int32_t CompensationVosBF2(int32_t ch, calibration* record)
{
    if (!validChannel(ch) || !record)
        return 0;
    // Sensitivity 7 takes r3 here (r0 in the third stage).
    static const int bySensitivity[16] = {4, 2, 1, 1, 0, 0, 1, 3, 0, 3, 0, 0, 0, 0, 0, 0};
    const int32_t done = searchStage(
        ch, record, 25, [ch] { setCal(ch, 29, 128); }, [](int) {}, bySensitivity, record->vosBf2[ch]);
    if (done)
        record->vosBf2Fill[ch] = 0;
    return done;
}

int32_t CompensationVosGP(int32_t ch, calibration* record)
{
    if (!validChannel(ch) || !record)
        return 0;
    static const int p25Sensitivity[5] = {4, 2, 1, 9, 0};
    static const int bySensitivity[16] = {4, 2, 1, 1, 0, 0, 1, 0, 0, 3, 0, 0, 0, 0, 0, 0};
    return searchStage(
        ch, record, 29, [] {}, [ch, record](int k) { setCal(ch, 25, record->vosBf2[ch][p25Sensitivity[k]]); },
        bySensitivity, record->vosGp[ch]);
}

int32_t CalibOffsetOscillo(int32_t ch, calibration* record)
{
    if (!validChannel(ch) || !record)
        return 0;
    std::memset(o_g_scalingParamsCalibration, 0, sizeof o_g_scalingParamsCalibration);
    const int32_t first = CompensationVosBF1(ch, record);
    const int32_t second = CompensationVosBF2(ch, record);
    const int32_t third = CompensationVosGP(ch, record);
    return first & second & third;
}

int32_t CompensationRef2VP(int32_t ch, calibration* record)
{
    return referenceTrim(ch, record, true);
}

int32_t CompensationRef2VN(int32_t ch, calibration* record)
{
    return referenceTrim(ch, record, false);
}

int32_t FindTrigLevel(int32_t ch, int16_t coupling, int16_t* lowOffset, int16_t* highOffset)
{
    if (!validChannel(ch))
        return 0;
    setCal(ch, 19, 512);
    setCal(ch, 37, 4);
    setCal(ch, 38, static_cast<uint16_t>(coupling));
    setCal(ch, 46, 1);
    setCal(ch, 40, 0);
    setCal(ch, 41, 0);
    bench().wait(200);

    static const uint16_t base[4] = {0x2C7, 0x4C7, 0x8C7, 0x10C7};
    static const uint32_t bits[4] = {0x3F0, 0xFC00, 0x3F0000, 0xFC00000};
    const uint16_t k = base[ch];
    feSerialAccess(2, static_cast<uint16_t>(k - 1));
    feSerialAccess(2, k);
    feSerialAccess(232, static_cast<uint16_t>(k - 5));

    // The comparator toggled when the threshold went from `from` to value.
    auto hit = [&](int from, int value) {
        setCal(ch, 19, static_cast<uint16_t>(from));
        bench().clearQuality();
        setCal(ch, 19, static_cast<uint16_t>(value));
        return (bench().quality() & bits[ch]) != 0;
    };

    int e = 768;
    int g = 1024;
    int h = 768;
    bool found = false;
    for (int i = 0; i < 7; ++i) {
        g /= 2;
        e = found ? e + g : e - g;
        found = hit(768, e);
        h = e < 760 ? e + 8 : 768;
    }
    int upper = -1;
    for (int i = std::min(h, 1023); i >= 0 && upper < 0; --i)
        if (hit(768, i))
            upper = i;

    setCal(ch, 41, 1);
    int m = 256;
    int t = 256;
    g = 1024;
    found = false;
    for (int i = 0; i < 7; ++i) {
        g /= 2;
        m = found ? m - g : m + g;
        found = hit(256, m);
        t = m < 265 ? 256 : m - 8;
    }
    int lower = -1;
    for (int j = std::max(t, 0); j <= 1023 && lower < 0; ++j)
        if (hit(256, j))
            lower = j;

    // A comparator that never toggles has no offsets.
    if (upper < 0 || lower < 0)
        return 0;
    *lowOffset = static_cast<int16_t>(lower - 513);
    *highOffset = static_cast<int16_t>(upper - 513);
    return 1;
}

int32_t CompensationLevelTrig(int32_t ch, calibration* record)
{
    if (!validChannel(ch) || !record)
        return 0;
    const int16_t coupling = setupTrigCoupling(ch);
    if (coupling < 0 || coupling > 3)
        return 0;
    init(ch);
    setCal(ch, 32, 1);
    setCal(ch, 31, 1);
    SetSensitivity(static_cast<uint16_t>(ch), 15, calSet());
    setCal(ch, 40, 0);
    setCal(ch, 16, record->vosBf1[ch]);
    setCal(ch, 25, record->vosBf2[ch][15]);
    setCal(ch, 29, record->vosGp[ch][15]);
    setCal(ch, 4, record->ref2Vp[ch]);
    setCal(ch, 8, record->ref2Vn[ch]);
    bench().wait(300);

    const bool odd = coupling == 1 || coupling == 3;
    int16_t low = 0, high = 0;
    if (FindTrigLevel(ch, odd ? 1 : 6, &low, &high) != 1)
        return 0;
    const int group = odd ? 1 : 0;
    setCalibrationTrigOffset(*record, group, 0, ch, low);
    setCalibrationTrigOffset(*record, group, 1, ch, high);
    return 1;
}

int32_t CompensationMesure(int32_t ch, calibration* record)
{
    if (!validChannel(ch) || !record)
        return 0;
    const int16_t s = setupSensitivity(ch);
    if (s < 0 || s > 15)
        return 0;
    try {
        init(ch);
        SetSensitivity(static_cast<uint16_t>(ch), s, calSet());
        setCal(ch, 16, record->vosBf1[ch]);
        setCal(ch, 25, record->vosBf2[ch][s]);
        setCal(ch, 29, record->vosGp[ch][s]);
        setCal(ch, 4, record->ref2Vp[ch]);
        setCal(ch, 8, record->ref2Vn[ch]);
        bench().wait(500);
        initWords(64);
        const TRangePoints open = twoPoints(ch, s, false);
        const TRangePoints limited = twoPoints(ch, s, true);

        setCalibrationRangePoint(*record, 0, ch, 0, s, open.low);
        setCalibrationRangePoint(*record, 0, ch, 1, s, open.high);
        setCalibrationRangePoint(*record, 1, ch, 0, s, limited.low);
        setCalibrationRangePoint(*record, 1, ch, 1, s, limited.high);
        setCalibrationMeterGain(*record, ch, s, 1.0f);
        if (s == 6 || s == 9 || s == 12 || s == 15)
            setCalibrationMeterOffset(*record, ch, (s - 6) / 3, 0.0f);
        return 1;
    } catch (int) {
        return 0;
    }
}

int32_t CompensationCourantIgamme(int32_t ch, calibration* record)
{
    if (!validChannel(ch) || !record)
        return 0;
    const uint16_t channel = static_cast<uint16_t>(ch);
    int32_t done = 1;
    try {
        init(ch);
        MMRelaisCourant(channel, true);
        setCal(ch, 17, 0);
        setCal(ch, 32, 1);
        setCal(ch, 31, 1);
        setCal(ch, 9, 0);
        setCal(ch, 18, 742);
        setCal(ch, 7, 1);
        setCal(ch, 16, record->vosBf1[ch]);
        setCal(ch, 25, record->vosBf2[ch][0]);
        setCal(ch, 4, record->ref2Vp[ch]);
        setCal(ch, 8, record->ref2Vn[ch]);

        struct TGainRow {
            int16_t sensitivity;
            uint16_t range;
            double k;
        };
        static const TGainRow rows[4] = {{14, 14, 5.0}, {11, 13, 5.0}, {7, 11, 4.0}, {2, 7, 5.0}};
        float gain[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        for (int i = 0; i < 4; ++i) {
            const TGainRow& row = rows[i];
            SetSensitivityCalibr(channel, row.sensitivity, record);
            setCal(ch, 14, 2);
            setCal(ch, 10, 0);
            boardCodeGround(ch, 1);
            initWords(64);
            setCal(ch, 5, row.range);
            driverCommand0();
            bench().wait(800);
            const int32_t a = measure(ch, 4);
            initWords(0);
            boardCodeGround(ch, 0);
            setCal(ch, 14, 2);
            setCal(ch, 10, 1);
            driverCommand0();
            bench().wait(800);
            const int32_t b = measure(ch, 4);
            if (!validMeasure(a) || !validMeasure(b)) {
                done = 0;
                continue;
            }
            // Channel 1's span with the bandwidth limit on; the difference taken unsigned.
            const uint32_t span = static_cast<uint32_t>(calibrationRangePoint(*record, 1, 0, 1, row.sensitivity))
                                  - static_cast<uint32_t>(calibrationRangePoint(*record, 1, 0, 0, row.sensitivity));
            const double g = static_cast<double>(b - a) * 8.0 / (static_cast<double>(span) * row.k);
            // A gain that is not finite or far from 1 would zero or blow up every range it scales.
            if (!std::isfinite(g) || g < 0.5 || g > 2.0) {
                done = 0;
                continue;
            }
            gain[i] = static_cast<float>(g);
        }
        const float ohm[7] = {gain[0], gain[1], gain[1], gain[2], gain[2], gain[3], gain[3]};
        const float capa[8] = {gain[2], gain[2], gain[2], gain[1], gain[1], gain[0], gain[0], gain[0]};
        for (int r = 0; r < 7; ++r)
            setCalibrationOhmCurrentGain(*record, r, ohm[r]);
        for (int r = 0; r < 8; ++r)
            setCalibrationCapaCurrentGain(*record, r, capa[r]);
    } catch (int) {
        done = 0;
    }
    // The current relay is opened on every way out, a failed acquisition included.
    MMRelaisCourant(channel, false);
    return done;
}
