// Frequency meter: the counter start of the meter set-up, and the Gray code.
#include "hardware/frequencemeter.h"

#include "hardware/chip_acq.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"

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
