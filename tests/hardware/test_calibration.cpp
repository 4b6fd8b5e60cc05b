// The calibration record: factory bytes, checksum rule, recall fix-up, accessors and the two
// record-install helpers.
#include "hardware/calibration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const uint8_t* bytes(const calibration& c)
{
    return calibrationBytes(c);
}

uint32_t wordAt(const calibration& c, size_t offset)
{
    uint32_t w;
    std::memcpy(&w, bytes(c) + offset, sizeof w);
    return w;
}

// A record whose every byte differs from its neighbours and from another pattern's.
calibration pattern(uint8_t seed)
{
    calibration c;
    for (uint32_t i = 0; i < kCalibrationSize; ++i)
        calibrationBytes(c)[i] = static_cast<uint8_t>(i * 13 + seed);
    return c;
}

TEST(CalibrationRecord, FactoryRecordHoldsTheFactoryTables)
{
    const calibration& f = CalibUsine;
    EXPECT_EQ(wordAt(f, 0), 0u);  // stored checksum is 0, not the computed one
    EXPECT_EQ(0, std::memcmp(bytes(f) + 4, "NONAME\0\0\0\0", 10));
    EXPECT_EQ(0, std::memcmp(bytes(f) + 14, "ZZ\0\0\0\0\0\0\0\0", 10));
    EXPECT_EQ(0, std::memcmp(bytes(f) + 24, "0000000000\0\0\0\0\0\0\0\0\0\0", 20));

    struct Run {
        const char* what;
        size_t offset, length;
        uint8_t value;
    };
    for (const Run& r : std::vector<Run>{
             {"identification code .. date", 44, 178 - 44, 0},
             {"vosBf1", 178, 4, 0x80},
             {"vosBf2Fill", 182, 4, 0},
             {"vosGp, vosBf2, ref2Vp, ref2Vn", 186, 322 - 186, 0x80},
             {"trigger offsets", 322, 32, 0},
             {"pipelineTrim", 354, 4, 0x80},
             {"trimP39", 1382, 4, 0},
             {"trimP22", 1386, 64, 0x80},
             {"trimP53, trimP54", 1578, 128, 0},
             {"timeAlignment", 2090, 16, 0},
         }) {
        SCOPED_TRACE(r.what);
        for (size_t i = r.offset; i < r.offset + r.length; ++i)
            ASSERT_EQ(bytes(f)[i], r.value) << "byte " << i;
    }

    // Range point placeholders: 6 low, 10 high, little-endian, in all 16 tables.
    for (int k = 0; k < 16; ++k)
        for (int s = 0; s < 16; ++s)
            ASSERT_EQ(wordAt(f, 358 + 64 * k + 4 * s), k % 2 == 0 ? 6u : 10u) << "table " << k;
    EXPECT_EQ(0, std::memcmp(bytes(f) + 358, "\x06\0\0\0", 4));
    EXPECT_EQ(0, std::memcmp(bytes(f) + 1318 + 60, "\x0a\0\0\0", 4));

    // 1.0f everywhere from the ohm gains to the end.
    for (size_t at = 2106; at < kCalibrationSize; at += 4)
        ASSERT_EQ(0, std::memcmp(bytes(f) + at, "\x00\x00\x80\x3f", 4)) << "byte " << at;
}

TEST(CalibrationRecord, FactoryTrimRowsThatAreNotUniform)
{
    struct Block {
        const char* name;
        size_t offset;
        std::vector<int> channel1, others;
    };
    const std::vector<Block> blocks = {
        {"trimP21", 1450, {0, 0, 0, 0, 0, 0, 6, 6, 31, 16, 31, 0, 0, 0, 0, 0}, {24, 0, 0, 0, 0, 0, 6, 6, 31, 31, 31, 0, 0, 0, 0, 0}},
        {"trimP52", 1514, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 31, 31, 31}, {9, 0, 0, 0, 5, 4, 0, 0, 0, 0, 5, 5, 5, 31, 31, 31}},
        {"trimP30", 1706, {0, 0, 0, 0, 2, 4, 0, 16, 0, 16, 0, 0, 15, 31, 31, 31}, {0, 0, 0, 5, 0, 0, 0, 16, 0, 31, 7, 31, 31, 31, 31, 31}},
        {"trimP70", 1770, {0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 15, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"trimP71", 1834, {0, 0, 0, 0, 0, 0, 7, 7, 0, 7, 0, 0, 0, 15, 15, 15}, {0, 0, 0, 0, 0, 0, 7, 7, 0, 7, 0, 15, 0, 15, 15, 15}},
        {"trimP43", 1898, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15, 15, 15, 15, 15}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15, 15, 15, 15, 15}},
        {"trimP60", 1962, {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 0, 0, 0, 0, 0}, {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 0, 0, 0, 0, 0}},
        {"trimP61", 2026, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15, 15, 3, 3, 3}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3, 3}},
    };
    for (const Block& b : blocks) {
        SCOPED_TRACE(b.name);
        for (int ch = 0; ch < 4; ++ch) {
            const std::vector<int>& row = ch == 0 ? b.channel1 : b.others;
            for (int s = 0; s < 16; ++s) {
                ASSERT_EQ(bytes(CalibUsine)[b.offset + 16 * ch + s], row[s]) << "channel " << ch << " sens " << s;
                // The lookup reads the same byte.
                ASSERT_EQ(calibrationTrim(CalibUsine, static_cast<uint32_t>(b.offset), ch, s), row[s]);
            }
        }
    }
}

TEST(CalibrationRecord, ChecksumCoversBytes4ToTheEnd)
{
    calibration c = pattern(1);
    uint32_t sum = 0;
    for (uint32_t i = 4; i < kCalibrationSize; ++i)
        sum += bytes(c)[i];
    EXPECT_EQ(calibrationChecksum(c), ~sum);
    EXPECT_FALSE(calibrationChecksumValid(c));

    calibrationStampChecksum(c);
    EXPECT_EQ(wordAt(c, 0), ~sum);
    EXPECT_TRUE(calibrationChecksumValid(c));
    // The word itself is outside the sum; the last byte is inside.
    calibrationBytes(c)[kCalibrationSize - 1] ^= 1;
    EXPECT_FALSE(calibrationChecksumValid(c));

    // The factory constant stays 0; a stamped copy carries the computed value.
    calibration copy = CalibUsine;
    calibrationStampChecksum(copy);
    EXPECT_NE(wordAt(copy, 0), 0u);
    EXPECT_TRUE(calibrationChecksumValid(copy));
    EXPECT_EQ(wordAt(CalibUsine, 0), 0u);
}

TEST(CalibrationRecord, FixUpFillsOnlyChannelsWithAFillByte)
{
    calibration c = pattern(3);
    std::memset(c.vosBf2Fill, 0, 4);
    c.vosBf2Fill[1] = 0x90;
    const calibration before = c;
    calibrationApplyVosBf2Fill(c);
    for (uint32_t i = 0; i < kCalibrationSize; ++i) {
        if (i >= 266 && i <= 281)
            ASSERT_EQ(bytes(c)[i], 0x90) << "byte " << i;
        else
            ASSERT_EQ(bytes(c)[i], bytes(before)[i]) << "byte " << i;
    }
    EXPECT_EQ(bytes(c)[183], 0x90);  // the fill byte itself stays
}

TEST(CalibrationRecord, UnalignedFieldAccessors)
{
    calibration c{};
    setCalibrationRangePoint(c, 1, 3, 1, 15, 0x01020304);  // table 15, last entry
    EXPECT_EQ(0, std::memcmp(bytes(c) + 1318 + 60, "\x04\x03\x02\x01", 4));
    EXPECT_EQ(calibrationRangePoint(c, 1, 3, 1, 15), 0x01020304);
    setCalibrationRangePoint(c, 0, 1, 0, 0, -5);  // table 2: channel 2 low points at 486
    EXPECT_EQ(wordAt(c, 486), static_cast<uint32_t>(-5));

    setCalibrationDate(c, 0xA1B2C3D4u);
    EXPECT_EQ(0, std::memcmp(bytes(c) + 174, "\xd4\xc3\xb2\xa1", 4));
    EXPECT_EQ(calibrationDateOf(c), 0xA1B2C3D4u);

    const float gain = 1.5f;
    std::memcpy(calibrationBytes(c) + 2166 + 4 * (16 * 2 + 7), &gain, 4);
    EXPECT_EQ(calibrationMeterGain(c, 2, 7), 1.5f);
    std::memcpy(calibrationBytes(c) + 52 + 4 * (4 * 3 + 2), &gain, 4);
    EXPECT_EQ(calibrationMeterOffset(c, 3, 2), 1.5f);
    std::memcpy(calibrationBytes(c) + 2106 + 4 * 6, &gain, 4);
    EXPECT_EQ(calibrationOhmCurrentGain(c, 6), 1.5f);
    std::memcpy(calibrationBytes(c) + 2134 + 4 * 7, &gain, 4);
    EXPECT_EQ(calibrationCapaCurrentGain(c, 7), 1.5f);
    const int32_t shift = -1234;
    std::memcpy(calibrationBytes(c) + 2090 + 12, &shift, 4);
    EXPECT_EQ(calibrationTimeAlignment(c, 3), -1234);
}

TEST(CalibrationRecord, IdentityIsBytes4To51And172To173)
{
    calibration target = pattern(5);
    const calibration before = target;
    const calibration source = pattern(77);
    calibrationCopyIdentity(target, source);
    for (uint32_t i = 0; i < kCalibrationSize; ++i) {
        const bool identity = (i >= 4 && i <= 51) || i == 172 || i == 173;
        ASSERT_EQ(bytes(target)[i], identity ? bytes(source)[i] : bytes(before)[i]) << "byte " << i;
    }
}

TEST(CalibrationRecord, RecordInstallTakesTheListedBytesFromAValidBlock)
{
    const calibration live = pattern(11);
    calibration block = pattern(200);
    calibrationStampChecksum(block);

    // SCPI form: serial, meter offsets and 174..2421 from the block; the rest (checksum word
    // included) from the live record.
    calibration out{};
    ASSERT_TRUE(calibrationInstallScpi(live, block, &out));
    for (uint32_t i = 0; i < kCalibrationSize; ++i) {
        const bool fromBlock = (i >= 24 && i <= 43) || (i >= 52 && i <= 115) || i >= 174;
        ASSERT_EQ(bytes(out)[i], fromBlock ? bytes(block)[i] : bytes(live)[i]) << "byte " << i;
    }

    // Web form: 4..173 from live, 174..2421 from the block, checksum recomputed.
    ASSERT_TRUE(calibrationInstallWeb(live, block, &out));
    for (uint32_t i = 4; i < kCalibrationSize; ++i)
        ASSERT_EQ(bytes(out)[i], i >= 174 ? bytes(block)[i] : bytes(live)[i]) << "byte " << i;
    EXPECT_TRUE(calibrationChecksumValid(out));

    // A block whose checksum does not match is refused by both; nothing is written.
    calibrationBytes(block)[2000] ^= 0x40;
    const calibration untouched = pattern(42);
    for (auto install : {calibrationInstallScpi, calibrationInstallWeb}) {
        calibration result = untouched;
        EXPECT_FALSE(install(live, block, &result));
        EXPECT_EQ(0, std::memcmp(&result, &untouched, sizeof result));
        EXPECT_FALSE(install(live, block, nullptr));
    }
}

} // namespace
