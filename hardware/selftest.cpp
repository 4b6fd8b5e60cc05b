// Power-on self test: the pipeline devices and scaling paths (low byte), then the offset
// matrices and the time verniers of the channels that passed (high byte).
#include "hardware/selftest.h"

#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "hardware/feserial.h"
#include "hardware/fpga.h"
#include "hardware/frontend.h"
#include "hardware/scaling.h"
#include "hardware/vernier.h"

namespace {
// The test pattern, sent as a sample-block length in two raw data words.
constexpr uint32_t kPipelinePattern = 0xAAAAA;
constexpr uint16_t kPatternHigh = (kPipelinePattern >> 14) << 1;    // 84
constexpr uint16_t kPatternLow = (kPipelinePattern & 0x3FFF) << 1;  // 21844
static_assert(kPatternHigh == 84 && kPatternLow == 21844, "raw data words of the pattern");

constexpr uint16_t kBroadcastInit = 0xFEC1;
constexpr uint16_t kBroadcastInitData = 68;
constexpr uint16_t kOffsetDac = 18;
constexpr uint16_t kOffsetDacLow = 1023;
constexpr uint16_t kHoldAndRelease = SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER;

uint32_t pipelineAccess(unsigned short channel, uint16_t data, uint16_t opcode)
{
    uint32_t readBack = 0;
    feSerialAccess(data, feCommandWord(feChannelMask(channel), opcode), &readBack);
    return readBack;
}

void showLamps(uint16_t word)
{
    CmdeLogique(CMDE_SELFTEST_LAMPS, word);
}

void offsetDacLow(unsigned short channel)
{
    to_g_scalingParams[channel][kOffsetDac] = kOffsetDacLow;
    ScalingWrite(channel, to_g_scalingParams[channel], kOffsetDac, kHoldAndRelease);
}

// Channels 1 and 4 are always installed; 2 and 3 by the setup's channel mask.
bool installed(unsigned short channel, uint16_t mask)
{
    return channel == 0 || channel == 3 || (mask & (1u << channel)) != 0;
}
} // namespace

uint16_t AutoTestPipeline(unsigned short channel, calibration*)
{
    if (channel > 3)
        return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        TFpga::setSpiRegister(ACQ_SPI_IRQ_ACK, 0);
        pipelineAccess(channel, 0, 0x87);
        pipelineAccess(channel, kPatternHigh, 0x82);
        pipelineAccess(channel, kPatternLow, 0x82);
        pipelineAccess(channel, 0, 0x83);
        const uint32_t first = pipelineAccess(channel, 0, 0x185);
        const uint32_t second = pipelineAccess(channel, 0, 0x186);
        const uint32_t high = second >> 16;
        const uint32_t low = second & 0xFFFF;
        if ((first >> 4) == kPipelinePattern && high == 0xAA && low >= 0xAAA0 && low <= 0xAAAF)
            return static_cast<uint16_t>(1u << channel);
        pipelineAccess(channel, 0, 0xAD);
        pipelineAccess(channel, 0, 0xAC);
    }
    return 0;
}

uint16_t AutoTestScaling(unsigned short channel, calibration*)
{
    if (channel > 3)
        return 0;
    offsetDacLow(channel);
    OverscanSet(channel, 250, -250);
    TFpga::getSpiRegister(40);
    offsetDacLow(channel);
    const int tripped = OverscanTest(channel, 0.0f);
    OverscanReset(channel);
    return tripped != 0 ? static_cast<uint16_t>(16u << channel) : 0;
}

uint16_t AutoTest(calibration* calib)
{
    AlimentationVoies(8191);
    feSerialAccess(kBroadcastInitData, kBroadcastInit);
    ConfigurationScope(calib);
    hardwarePauseMs(500);
    ChipAcqIoctl(CHIPACQ_AUTOSET, nullptr);
    showLamps(0);

    const uint16_t mask = data.hwChannelMask;
    uint16_t word = 0;
    for (unsigned short ch = 0; ch < 4; ++ch) {
        if (!installed(ch, mask)) {
            word |= static_cast<uint16_t>(0x11u << ch);
            continue;
        }
        word |= AutoTestPipeline(ch, calib);
        showLamps(word);
        word |= AutoTestScaling(ch, calib);
        showLamps(word);
    }
    return word;
}

uint16_t AcqTransfertInit(calibration* calib)
{
    TVernier* const verniers[4] = {&VernierCh1, &VernierCh2, &VernierCh3, &VernierCh4};
    for (int16_t ch = 0; ch < 4; ++ch)
        verniers[ch]->channelIndex = ch;

    const uint16_t mask = data.hwChannelMask;
    uint16_t word = static_cast<uint16_t>(data.selfTestResult | 0xFF00);
    // The channels that passed their pipeline test, installed ones only.
    auto checked = [&](unsigned short ch) { return installed(ch, mask) && (word & (1u << ch)) != 0; };

    for (unsigned short ch = 0; ch < 4; ++ch)
        if (checked(ch) && MatriceCalibration(static_cast<unsigned char>(1u << ch)) != 0)
            word = static_cast<uint16_t>(word & ~(0x1000u << ch));
    if ((word & 0xF000) != 0xF000)
        return static_cast<uint16_t>(word & ~0x0F00u);

    TVernier::Calibration(calib);
    for (unsigned short ch = 0; ch < 4; ++ch)
        if (checked(ch) && verniers[ch]->IsCalibrationOK() != 0)
            word = static_cast<uint16_t>(word & ~(0x100u << ch));
    return word;
}
