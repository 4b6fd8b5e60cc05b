// Frequency meter: the counter start of the meter set-up, the read-out of the counts, the period
// framing of a meter record, and the Gray code.
#include "hardware/frequencemeter.h"

#include "hardware/chip_acq.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"
#include "acquisition/measkernel.h"
#include "core/process.h"
#include "core/scale.h"

int32_t pseudo_FqPr[2][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}};
uint16_t gammeIndex = 0;

namespace {
constexpr uint16_t kOpFrequencemeter = 0x0CE;
constexpr uint16_t kOpInitChannel = 0x0C1;
constexpr unsigned short kSpiTriggerQuality = 32;
} // namespace

uint32_t BinToGray(uint32_t n)
{
    return n ^ (n >> 1);
}

uint32_t GrayToBin(uint32_t g)
{
    // Each bit is XORed with every higher bit of the code.
    uint32_t b = g;
    b ^= b >> 1;
    b ^= b >> 2;
    b ^= b >> 4;
    b ^= b >> 8;
    b ^= b >> 16;
    return b;
}

void FrequencemeterStart(uint16_t triggerChannels)
{
    gammeIndex = gammeIndex == 0 ? 1 : 0;
    pseudoFrqMtr = gammeIndex == 1 ? 17 : 13;
    feSerialSend(triggerChannels, kOpFrequencemeter, pseudoFrqMtr);
    o_g_frequenceMeterReady.store(1);
    const uint16_t init[4] = {pseudoInitCh1, pseudoInitCh2, pseudoInitCh3, pseudoInitCh4};
    for (unsigned ch = 0; ch < 4; ++ch)
        feSerialSend(feChannelMask(ch), kOpInitChannel, static_cast<uint16_t>(init[ch] | 0x20));
    TFpga::setSpiRegister(kSpiTriggerQuality, 0);

    // A handle of 0 was never created (the driver is not open): nothing to arm.
    const timer_t timer = o_g_chipAcqDevDescriptor.frequencemeterTimer;
    if (timer != timer_t()) {
        itimerspec once{};
        once.it_value.tv_sec = kFrequencemeterMs / 1000;
        once.it_value.tv_nsec = (kFrequencemeterMs % 1000) * 1000000L;
        timer_settime(timer, 0, &once, nullptr);
    }
}

uint32_t pseudoQoutTrig = 0;

namespace {
constexpr uint16_t kOpCounterRead = 0x1CF;
// The timer normally expires after 300 ms; without it the read gives up here.
constexpr int kReadyWaitMs = 1000;
constexpr int kReadyPollMs = 40;
constexpr uint32_t kCountLow = 1000;
constexpr uint32_t kCountHigh = 12288;
constexpr uint32_t kQualityMin = 32;
constexpr double kUnitRange0 = 3.2e-8;
constexpr double kUnitRange1 = 0.033554432;
} // namespace

void FrequencemeterRead()
{
    if (o_g_frequenceMeterReady.load() == 0)
        return;
    int waited = 0;
    while (o_g_frequenceMeterReady.load() != 2) {
        if (waited >= kReadyWaitMs) {
            // No timer expiry: keep the previous counts.
            o_g_frequenceMeterReady.store(0);
            return;
        }
        pauseMs(kReadyPollMs);
        waited += kReadyPollMs;
    }
    o_g_frequenceMeterReady.store(0);
    pseudoQoutTrig = TFpga::getSpiRegister(kSpiTriggerQuality);
    TFpga::getSpiRegister(kSpiTriggerQuality);
    const int row = gammeIndex == 0 ? 0 : 1;
    for (int ch = 3; ch >= 0; --ch) {
        const uint32_t count = GrayToBin(feSerialQuery(feChannelMask(static_cast<unsigned>(ch)), kOpCounterRead) >> 8);
        const uint32_t quality = (pseudoQoutTrig >> (6 * ch + 4)) & 0x3F;
        if (count < kCountLow || count > kCountHigh)
            pseudo_FqPr[row][ch] = 0;
        else if (quality > kQualityMin)
            pseudo_FqPr[row][ch] = static_cast<int32_t>(count);
    }
}

namespace {

constexpr int32_t kMarkBits = MEAS_RISE | MEAS_FALL | MEAS_NEXT_RISE | MEAS_NEXT_FALL;

void fixedFraming(mesures* m)
{
    m->flags |= kMarkBits;
    m->rise10 = m->rise50 = m->rise90 = 100;
    m->fall90 = m->fall50 = m->fall10 = 100;
    m->nextRise50 = m->nextFall50 = 100;
    m->lastCross50 = 2599;
    m->periodCount = 2500;
}

} // namespace

int MesuresCorrection(mesures* m, unsigned short channelIndex, short timeBase)
{
    if (m == nullptr || channelIndex > 3)
        return 0;
    const int32_t a = pseudo_FqPr[0][channelIndex];
    const bool rangeOne = a <= 1000;
    const int32_t b = rangeOne ? pseudo_FqPr[1][channelIndex] : a;
    if ((m->flags & (MEAS_MAX_VALID | MEAS_MIN_VALID)) == (MEAS_MAX_VALID | MEAS_MIN_VALID)
        && m->maxCode - m->minCode < 26208u) {
        m->flags &= ~kMarkBits;
        m->periodCount = 0;
        m->otherEdgeCount = 0;
        return 0;
    }
    if (b < 1001 || b > 12287) {
        if (rangeOne && b >= 0x4000)
            fixedFraming(m);
        return 0;
    }
    const double period = rangeOne ? kUnitRange1 / b : b * kUnitRange0;
    const double scale = GetHorizontalScale(static_cast<unsigned short>(timeBase));
    if (!(scale > 0.0))
        return 0;
    const double q = period / scale;
    const uint32_t d = static_cast<uint32_t>(q);
    const int32_t h = static_cast<int32_t>(2499.0 / q);
    m->flags |= kMarkBits;
    m->rise10 = m->rise50 = m->rise90 = 100;
    m->nextRise50 = d + 100;
    m->fall90 = m->fall50 = m->fall10 = d / 2 + 100;
    m->nextFall50 = d / 2 + 100 + d;
    m->periodCount = m->otherEdgeCount = static_cast<uint16_t>(h);
    m->lastCross50 = static_cast<int32_t>(100.0 + h * q);
    return 1;
}
