#include "hardware/calibration.h"

#include "core/checksum.h"

#include <cstring>

namespace {

// Non-uniform factory trim rows: channel 1, then the row every other channel uses.
struct TrimRows {
    uint8_t channel1[16];
    uint8_t others[16];
};

constexpr TrimRows kFactoryP21 = {{0, 0, 0, 0, 0, 0, 6, 6, 31, 16, 31, 0, 0, 0, 0, 0},
                                  {24, 0, 0, 0, 0, 0, 6, 6, 31, 31, 31, 0, 0, 0, 0, 0}};
constexpr TrimRows kFactoryP52 = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 31, 31, 31},
                                  {9, 0, 0, 0, 5, 4, 0, 0, 0, 0, 5, 5, 5, 31, 31, 31}};
constexpr TrimRows kFactoryP30 = {{0, 0, 0, 0, 2, 4, 0, 16, 0, 16, 0, 0, 15, 31, 31, 31},
                                  {0, 0, 0, 5, 0, 0, 0, 16, 0, 31, 7, 31, 31, 31, 31, 31}};
constexpr TrimRows kFactoryP70 = {{0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 15, 0, 0, 0, 0, 0},
                                  {0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0}};
constexpr TrimRows kFactoryP71 = {{0, 0, 0, 0, 0, 0, 7, 7, 0, 7, 0, 0, 0, 15, 15, 15},
                                  {0, 0, 0, 0, 0, 0, 7, 7, 0, 7, 0, 15, 0, 15, 15, 15}};
constexpr TrimRows kFactoryP43 = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15, 15, 15, 15, 15},
                                  {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15, 15, 15, 15, 15}};
constexpr TrimRows kFactoryP60 = {{15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 0, 0, 0, 0, 0},
                                  {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 0, 0, 0, 0, 0}};
constexpr TrimRows kFactoryP61 = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15, 15, 3, 3, 3},
                                  {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3, 3}};

constexpr void fillBlock(uint8_t (&block)[4][16], const TrimRows& rows)
{
    for (int ch = 0; ch < 4; ++ch)
        for (int s = 0; s < 16; ++s)
            block[ch][s] = ch == 0 ? rows.channel1[s] : rows.others[s];
}

constexpr void fillBlock(uint8_t (&block)[4][16], uint8_t value)
{
    for (int ch = 0; ch < 4; ++ch)
        for (int s = 0; s < 16; ++s)
            block[ch][s] = value;
}

constexpr void fillText(char* field, const char* text)
{
    for (int i = 0; text[i]; ++i)
        field[i] = text[i];
}

constexpr calibration buildFactoryRecord()
{
    calibration c{};
    fillText(c.modelName, "NONAME");
    fillText(c.calibrationName, "ZZ");
    fillText(c.serialNumber, "0000000000");
    for (int ch = 0; ch < 4; ++ch) {
        c.vosBf1[ch] = 0x80;
        c.ref2Vp[ch] = 0x80;
        c.ref2Vn[ch] = 0x80;
        c.pipelineTrim[ch] = 0x80;
    }
    fillBlock(c.vosGp, 0x80);
    fillBlock(c.vosBf2, 0x80);
    fillBlock(c.trimP22, 0x80);
    // Placeholders of a record that was never calibrated.
    for (int bwl = 0; bwl < 2; ++bwl)
        for (int ch = 0; ch < 4; ++ch)
            for (int s = 0; s < 16; ++s) {
                c.rangePoints[bwl][ch][0][s] = 6;
                c.rangePoints[bwl][ch][1][s] = 10;
            }
    fillBlock(c.trimP21, kFactoryP21);
    fillBlock(c.trimP52, kFactoryP52);
    fillBlock(c.trimP30, kFactoryP30);
    fillBlock(c.trimP70, kFactoryP70);
    fillBlock(c.trimP71, kFactoryP71);
    fillBlock(c.trimP43, kFactoryP43);
    fillBlock(c.trimP60, kFactoryP60);
    fillBlock(c.trimP61, kFactoryP61);
    for (int r = 0; r < 7; ++r)
        c.ohmCurrentGain[r] = 1.0f;
    for (int r = 0; r < 8; ++r)
        c.capaCurrentGain[r] = 1.0f;
    for (int ch = 0; ch < 4; ++ch)
        for (int s = 0; s < 16; ++s)
            c.meterGain[ch][s] = 1.0f;
    return c;
}

// Built at compile time: no start-up order between it and the threads that read it.
constexpr calibration kFactoryRecord = buildFactoryRecord();
static_assert(kFactoryRecord.checksum == 0, "the factory record stores checksum 0");

constexpr uint32_t kIdentityEnd = 52;          // bytes 4..51
constexpr uint32_t kIdentityWordOffset = 172;  // bytes 172..173
constexpr uint32_t kDateOffset = offsetof(calibration, calibrationDate);

template <typename T>
T readAt(const calibration& record, size_t offset)
{
    T v;
    std::memcpy(&v, calibrationBytes(record) + offset, sizeof v);
    return v;
}

template <typename T>
void writeAt(calibration& record, size_t offset, T v)
{
    std::memcpy(calibrationBytes(record) + offset, &v, sizeof v);
}

// Out-of-range indices read the first entry rather than bytes of another field.
int clampIndex(int i, int count)
{
    return i >= 0 && i < count ? i : 0;
}

} // namespace

const calibration CalibUsine = kFactoryRecord;
calibration param_calibr{};

uint32_t calibrationChecksum(const calibration& record)
{
    return Checksum(calibrationBytes(record) + 4, kCalibrationSize - 4);
}

bool calibrationChecksumValid(const calibration& record)
{
    return readAt<uint32_t>(record, 0) == calibrationChecksum(record);
}

void calibrationStampChecksum(calibration& record)
{
    writeAt<uint32_t>(record, 0, calibrationChecksum(record));
}

void calibrationCopyIdentity(calibration& target, const calibration& source)
{
    if (&target == &source)
        return;
    std::memcpy(calibrationBytes(target) + 4, calibrationBytes(source) + 4, kIdentityEnd - 4);
    std::memcpy(calibrationBytes(target) + kIdentityWordOffset, calibrationBytes(source) + kIdentityWordOffset, 2);
}

void calibrationApplyVosBf2Fill(calibration& record)
{
    for (int ch = 0; ch < kCalibChannels; ++ch) {
        const uint8_t fill = record.vosBf2Fill[ch];
        if (fill != 0)
            std::memset(record.vosBf2[ch], fill, kCalibSensitivities);
    }
}

uint8_t calibrationTrim(const calibration& record, uint32_t blockOffset, int channel, int sensitivity)
{
    const size_t at = blockOffset + 16 * static_cast<size_t>(clampIndex(channel, kCalibChannels))
                      + static_cast<size_t>(clampIndex(sensitivity, kCalibSensitivities));
    return at < kCalibrationSize ? calibrationBytes(record)[at] : 0;
}

namespace {
size_t rangePointOffset(int bwLimit, int channel, int point, int sensitivity)
{
    const int table = (bwLimit ? 1 : 0) * 8 + clampIndex(channel, kCalibChannels) * 2 + (point ? 1 : 0);
    return offsetof(calibration, rangePoints) + 64 * static_cast<size_t>(table)
           + 4 * static_cast<size_t>(clampIndex(sensitivity, kCalibSensitivities));
}
} // namespace

int32_t calibrationRangePoint(const calibration& record, int bwLimit, int channel, int point, int sensitivity)
{
    return readAt<int32_t>(record, rangePointOffset(bwLimit, channel, point, sensitivity));
}

void setCalibrationRangePoint(calibration& record, int bwLimit, int channel, int point, int sensitivity,
                              int32_t value)
{
    writeAt<int32_t>(record, rangePointOffset(bwLimit, channel, point, sensitivity), value);
}

float calibrationMeterOffset(const calibration& record, int channel, int meterRange)
{
    return readAt<float>(record, offsetof(calibration, meterOffset)
                                     + 4 * (4 * static_cast<size_t>(clampIndex(channel, 4))
                                            + static_cast<size_t>(clampIndex(meterRange, 4))));
}

float calibrationMeterGain(const calibration& record, int channel, int sensitivity)
{
    return readAt<float>(record, offsetof(calibration, meterGain)
                                     + 4 * (16 * static_cast<size_t>(clampIndex(channel, 4))
                                            + static_cast<size_t>(clampIndex(sensitivity, 16))));
}

float calibrationOhmCurrentGain(const calibration& record, int ohmRange)
{
    return readAt<float>(record, offsetof(calibration, ohmCurrentGain) + 4 * static_cast<size_t>(clampIndex(ohmRange, 7)));
}

namespace {
size_t meterOffsetOffset(int channel, int meterRange)
{
    return offsetof(calibration, meterOffset)
           + 4 * (4 * static_cast<size_t>(clampIndex(channel, 4)) + static_cast<size_t>(clampIndex(meterRange, 4)));
}

size_t meterGainOffset(int channel, int sensitivity)
{
    return offsetof(calibration, meterGain)
           + 4 * (16 * static_cast<size_t>(clampIndex(channel, 4)) + static_cast<size_t>(clampIndex(sensitivity, 16)));
}

size_t trigOffsetOffset(int group, int bound, int channel)
{
    const size_t tables[2][2] = {{offsetof(calibration, trigOffsetLow02), offsetof(calibration, trigOffsetHigh02)},
                                 {offsetof(calibration, trigOffsetLow13), offsetof(calibration, trigOffsetHigh13)}};
    return tables[clampIndex(group, 2)][clampIndex(bound, 2)] + 2 * static_cast<size_t>(clampIndex(channel, 4));
}
} // namespace

void setCalibrationMeterOffset(calibration& record, int channel, int meterRange, float value)
{
    writeAt<float>(record, meterOffsetOffset(channel, meterRange), value);
}

void setCalibrationMeterGain(calibration& record, int channel, int sensitivity, float value)
{
    writeAt<float>(record, meterGainOffset(channel, sensitivity), value);
}

void setCalibrationOhmCurrentGain(calibration& record, int ohmRange, float value)
{
    writeAt<float>(record, offsetof(calibration, ohmCurrentGain) + 4 * static_cast<size_t>(clampIndex(ohmRange, 7)), value);
}

void setCalibrationCapaCurrentGain(calibration& record, int capaRange, float value)
{
    writeAt<float>(record, offsetof(calibration, capaCurrentGain) + 4 * static_cast<size_t>(clampIndex(capaRange, 8)),
                   value);
}

int16_t calibrationTrigOffset(const calibration& record, int group, int bound, int channel)
{
    return readAt<int16_t>(record, trigOffsetOffset(group, bound, channel));
}

void setCalibrationTrigOffset(calibration& record, int group, int bound, int channel, int16_t value)
{
    writeAt<int16_t>(record, trigOffsetOffset(group, bound, channel), value);
}

float calibrationCapaCurrentGain(const calibration& record, int capaRange)
{
    return readAt<float>(record,
                         offsetof(calibration, capaCurrentGain) + 4 * static_cast<size_t>(clampIndex(capaRange, 8)));
}

int32_t calibrationTimeAlignment(const calibration& record, int channel)
{
    return readAt<int32_t>(record, offsetof(calibration, timeAlignment) + 4 * static_cast<size_t>(clampIndex(channel, 4)));
}

void setCalibrationTimeAlignment(calibration& record, int channel, int32_t picoseconds)
{
    writeAt<int32_t>(record, offsetof(calibration, timeAlignment) + 4 * static_cast<size_t>(clampIndex(channel, 4)),
                     picoseconds);
}

uint32_t calibrationDateOf(const calibration& record)
{
    return readAt<uint32_t>(record, kDateOffset);
}

void setCalibrationDate(calibration& record, uint32_t secondsSince1970)
{
    writeAt<uint32_t>(record, kDateOffset, secondsSince1970);
}

bool calibrationInstallScpi(const calibration& live, const calibration& block, calibration* out)
{
    if (!out || !calibrationChecksumValid(block))
        return false;
    calibration result;
    std::memcpy(&result, &live, sizeof result);
    std::memcpy(result.serialNumber, block.serialNumber, sizeof result.serialNumber);
    std::memcpy(calibrationBytes(result) + offsetof(calibration, meterOffset),
                calibrationBytes(block) + offsetof(calibration, meterOffset), sizeof block.meterOffset);
    std::memcpy(calibrationBytes(result) + kDateOffset, calibrationBytes(block) + kDateOffset,
                kCalibrationSize - kDateOffset);
    std::memcpy(out, &result, sizeof result);
    return true;
}

bool calibrationInstallWeb(const calibration& live, const calibration& block, calibration* out)
{
    if (!out || !calibrationChecksumValid(block))
        return false;
    calibration result;
    std::memcpy(&result, &live, kDateOffset);
    std::memcpy(calibrationBytes(result) + kDateOffset, calibrationBytes(block) + kDateOffset,
                kCalibrationSize - kDateOffset);
    calibrationStampChecksum(result);
    std::memcpy(out, &result, sizeof result);
    return true;
}
