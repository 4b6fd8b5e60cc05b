// The calibration record: 2422 packed little-endian bytes, the same bytes as the calibration
// file body, the factory exchange block and the controller's read/write pseudo-parameters.
//
// The record is packed and most multi-byte fields sit at odd or 2-aligned offsets: never take a
// pointer or reference to a multi-byte field. Read and write them by member access on the
// record itself or through the accessors below (memcpy at the field's offset).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4,
              "calibration records store IEEE 754 single-precision floats");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "calibration records are little-endian");

constexpr uint32_t kCalibrationSize = 2422;
constexpr int kCalibChannels = 4;
constexpr int kCalibSensitivities = 16;

// Widths of the identity texts; a text that fills its field has no NUL.
constexpr uint32_t kCalibModelNameWidth = 10;
constexpr uint32_t kCalibCalibrationNameWidth = 10;
constexpr uint32_t kCalibSerialNumberWidth = 20;
constexpr uint32_t kCalibIdentificationCodeWidth = 8;

struct __attribute__((packed)) calibration {
    uint32_t checksum;                     // NOT of the byte sum of bytes 4..2421
    char modelName[10];                    // "QV..." marks the product family
    char calibrationName[10];              // shown after "V1.12/" in the identification
    char serialNumber[20];
    char identificationCode[8];            // not interpreted here; travels with the identity
    float meterOffset[4][4];               // [channel][meter voltage range], sample codes
    uint8_t reserved116[56];
    uint8_t reserved172[2];                // travels with the identity
    uint32_t calibrationDate;              // seconds since 1970 (UTC)
    uint8_t vosBf1[4];                     // front-end parameter 16
    uint8_t vosBf2Fill[4];                 // non-zero: fills the channel's vosBf2 row on recall
    uint8_t vosGp[4][16];                  // parameter 29
    uint8_t vosBf2[4][16];                 // parameter 25
    uint8_t ref2Vp[4];                     // parameter 4
    uint8_t ref2Vn[4];                     // parameter 8
    int16_t trigOffsetLow02[4];
    int16_t trigOffsetHigh02[4];
    int16_t trigOffsetLow13[4];
    int16_t trigOffsetHigh13[4];
    uint8_t pipelineTrim[4];               // parameter 1
    int32_t rangePoints[2][4][2][16];      // [bandwidth limit][channel][low, high][sensitivity]
    uint8_t trimP39[4];
    uint8_t trimP22[4][16];
    uint8_t trimP21[4][16];
    uint8_t trimP52[4][16];
    uint8_t trimP53[4][16];
    uint8_t trimP54[4][16];
    uint8_t trimP30[4][16];
    uint8_t trimP70[4][16];
    uint8_t trimP71[4][16];
    uint8_t trimP43[4][16];
    uint8_t trimP60[4][16];
    uint8_t trimP61[4][16];
    int32_t timeAlignment[4];              // picoseconds
    float ohmCurrentGain[7];               // per resistance range
    float capaCurrentGain[8];              // per capacitance range
    float meterGain[4][16];                // [channel][sensitivity]
};

static_assert(sizeof(calibration) == kCalibrationSize, "calibration record size");
static_assert(alignof(calibration) == 1, "calibration record is packed");
static_assert(offsetof(calibration, checksum) == 0, "checksum");
static_assert(offsetof(calibration, modelName) == 4, "modelName");
static_assert(offsetof(calibration, calibrationName) == 14, "calibrationName");
static_assert(offsetof(calibration, serialNumber) == 24, "serialNumber");
static_assert(offsetof(calibration, identificationCode) == 44, "identificationCode");
static_assert(offsetof(calibration, meterOffset) == 52, "meterOffset");
static_assert(offsetof(calibration, reserved116) == 116, "reserved116");
static_assert(offsetof(calibration, reserved172) == 172, "reserved172");
static_assert(offsetof(calibration, calibrationDate) == 174, "calibrationDate");
static_assert(offsetof(calibration, vosBf1) == 178, "vosBf1");
static_assert(offsetof(calibration, vosBf2Fill) == 182, "vosBf2Fill");
static_assert(offsetof(calibration, vosGp) == 186, "vosGp");
static_assert(offsetof(calibration, vosBf2) == 250, "vosBf2");
static_assert(offsetof(calibration, ref2Vp) == 314, "ref2Vp");
static_assert(offsetof(calibration, ref2Vn) == 318, "ref2Vn");
static_assert(offsetof(calibration, trigOffsetLow02) == 322, "trigOffsetLow02");
static_assert(offsetof(calibration, trigOffsetHigh02) == 330, "trigOffsetHigh02");
static_assert(offsetof(calibration, trigOffsetLow13) == 338, "trigOffsetLow13");
static_assert(offsetof(calibration, trigOffsetHigh13) == 346, "trigOffsetHigh13");
static_assert(offsetof(calibration, pipelineTrim) == 354, "pipelineTrim");
static_assert(offsetof(calibration, rangePoints) == 358, "rangePoints");
static_assert(offsetof(calibration, trimP39) == 1382, "trimP39");
static_assert(offsetof(calibration, trimP22) == 1386, "trimP22");
static_assert(offsetof(calibration, trimP21) == 1450, "trimP21");
static_assert(offsetof(calibration, trimP52) == 1514, "trimP52");
static_assert(offsetof(calibration, trimP53) == 1578, "trimP53");
static_assert(offsetof(calibration, trimP54) == 1642, "trimP54");
static_assert(offsetof(calibration, trimP30) == 1706, "trimP30");
static_assert(offsetof(calibration, trimP70) == 1770, "trimP70");
static_assert(offsetof(calibration, trimP71) == 1834, "trimP71");
static_assert(offsetof(calibration, trimP43) == 1898, "trimP43");
static_assert(offsetof(calibration, trimP60) == 1962, "trimP60");
static_assert(offsetof(calibration, trimP61) == 2026, "trimP61");
static_assert(offsetof(calibration, timeAlignment) == 2090, "timeAlignment");
static_assert(offsetof(calibration, ohmCurrentGain) == 2106, "ohmCurrentGain");
static_assert(offsetof(calibration, capaCurrentGain) == 2134, "capaCurrentGain");
static_assert(offsetof(calibration, meterGain) == 2166, "meterGain");

// The live record: loaded at start-up, read by every front-end and acquisition routine.
// Trivially destructible, so threads may use it until the process ends.
extern calibration param_calibr;
// The factory record: replaces a missing or damaged calibration. Its checksum word is 0; only
// copies handed out carry a computed checksum.
extern const calibration CalibUsine;

// Bytes of a record, for byte-wise copies, files and checksums.
inline uint8_t* calibrationBytes(calibration& record) { return reinterpret_cast<uint8_t*>(&record); }
inline const uint8_t* calibrationBytes(const calibration& record)
{
    return reinterpret_cast<const uint8_t*>(&record);
}

// --- Checksum over bytes 4..2421 --------------------------------------------------------------
uint32_t calibrationChecksum(const calibration& record);
bool calibrationChecksumValid(const calibration& record);
// Stores the computed checksum into the record's checksum word.
void calibrationStampChecksum(calibration& record);

// --- Identity: bytes 4..51 and 172..173 -------------------------------------------------------
// Copies the identity of source over that of target; every other byte of target is kept.
void calibrationCopyIdentity(calibration& target, const calibration& source);

// --- Recall fix-up ---------------------------------------------------------------------------
// For each channel whose vosBf2Fill byte is not 0, its 16 vosBf2 entries take that byte.
void calibrationApplyVosBf2Fill(calibration& record);

// --- Trim lookup -----------------------------------------------------------------------------
// The byte of a [channel][sensitivity] block (block offset from offsetof, e.g.
// offsetof(calibration, trimP22)) for channel 0..3 and sensitivity index 0..15.
uint8_t calibrationTrim(const calibration& record, uint32_t blockOffset, int channel, int sensitivity);

// --- Unaligned multi-byte fields -------------------------------------------------------------
// Range point of a bandwidth-limit state (0 off, 1 on), channel 0..3, point (0 low, 1 high)
// and sensitivity 0..15.
int32_t calibrationRangePoint(const calibration& record, int bwLimit, int channel, int point, int sensitivity);
void setCalibrationRangePoint(calibration& record, int bwLimit, int channel, int point, int sensitivity,
                              int32_t value);
float calibrationMeterOffset(const calibration& record, int channel, int meterRange);
float calibrationMeterGain(const calibration& record, int channel, int sensitivity);
float calibrationOhmCurrentGain(const calibration& record, int ohmRange);
float calibrationCapaCurrentGain(const calibration& record, int capaRange);
void setCalibrationMeterOffset(calibration& record, int channel, int meterRange, float value);
void setCalibrationMeterGain(calibration& record, int channel, int sensitivity, float value);
void setCalibrationOhmCurrentGain(calibration& record, int ohmRange, float value);
void setCalibrationCapaCurrentGain(calibration& record, int capaRange, float value);
// The four trigger comparator offset tables, by coupling group (0: couplings 0 and 2, 1: 1 and
// 3) and bound (0 low, 1 high), for channel 0..3.
int16_t calibrationTrigOffset(const calibration& record, int group, int bound, int channel);
void setCalibrationTrigOffset(calibration& record, int group, int bound, int channel, int16_t value);
int32_t calibrationTimeAlignment(const calibration& record, int channel);
void setCalibrationTimeAlignment(calibration& record, int channel, int32_t picoseconds);
uint32_t calibrationDateOf(const calibration& record);
void setCalibrationDate(calibration& record, uint32_t secondsSince1970);

// --- Record install (factory interfaces) ------------------------------------------------------
// Both refuse (false, out untouched) a block whose checksum does not match its bytes 4..2421.
// They build the record to hand to the controller's calibrationWrite; the live record is only
// read.
// SCPI form: serialNumber, meterOffset and bytes 174..2421 from the block, the rest from live.
bool calibrationInstallScpi(const calibration& live, const calibration& block, calibration* out);
// Web-service form: bytes 0..173 from live, 174..2421 from the block, checksum recomputed.
bool calibrationInstallWeb(const calibration& live, const calibration& block, calibration* out);
