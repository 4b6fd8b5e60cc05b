// The identification text: every form, the stored calibration as its source, and records whose
// texts fill their fields.
#include "tests/support/simboardtest.h"

#include "board/board.h"
#include "core/calibfile.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

calibration record(const char* model, const char* name, const char* serial, const char* code)
{
    calibration c = CalibUsine;
    std::memset(c.modelName, 0, 10);
    std::memset(c.calibrationName, 0, 10);
    std::memset(c.serialNumber, 0, 20);
    std::memset(c.identificationCode, 0, 8);
    std::memcpy(c.modelName, model, std::min<size_t>(10, std::strlen(model)));
    std::memcpy(c.calibrationName, name, std::min<size_t>(10, std::strlen(name)));
    std::memcpy(c.serialNumber, serial, std::min<size_t>(20, std::strlen(serial)));
    std::memcpy(c.identificationCode, code, std::min<size_t>(8, std::strlen(code)));
    return c;
}

class IdentificationTest : public SimBoardTest {};

TEST_F(IdentificationTest, FromAGivenRecord)
{
    struct Row {
        const char* what;
        calibration rec;
        bool withSerial, withCode;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"factory", CalibUsine, false, false, "NONAME, V1.12/ZZ"},
        {"factory with serial", CalibUsine, true, false, "NONAME, V1.12/ZZ, 0000000000"},
        {"factory with code", CalibUsine, true, true, "NONAME, V1.12/ZZ, 0000000000-"},
        {"code without serial", record("QV4", "C7", "SN1", "AB12"), false, true, "QV4, V1.12/C7-AB12"},
        {"every field full, no NUL anywhere",
         record("MMMMMMMMMM", "CCCCCCCCCC", "SSSSSSSSSSSSSSSSSSSS", "IIIIIIII"), true, true,
         "MMMMMMMMMM, V1.12/CCCCCCCCCC, SSSSSSSSSSSSSSSSSSSS-IIIIIIII"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        calibration rec = row.rec;
        // '#' marks bytes beyond the text.
        char text[kIdentificationSize + 16];
        std::memset(text, '#', sizeof text);
        uint16_t identifier = 0xFFFF;
        EXPECT_EQ(GetIdentification(&rec, text, &identifier, row.withSerial, row.withCode), text);
        EXPECT_EQ(std::string(text), row.expected);
        EXPECT_EQ(identifier, 0);  // the record carries no identifier
        EXPECT_LE(std::strlen(text) + 1, kIdentificationSize);
        EXPECT_EQ(text[kIdentificationSize], '#');  // nothing written past the output size
        if (!row.withCode) {
            EXPECT_EQ(std::string(GetIdentification(&rec, text, row.withSerial)), row.expected);
        }
        EXPECT_EQ(std::string(GetIdentification(&rec, text, nullptr, row.withSerial, row.withCode)), row.expected);
    }
}

TEST_F(IdentificationTest, WithoutARecordReadsTheStoredCalibration)
{
    char text[kIdentificationSize];
    uint16_t identifier = 7;
    // No file: the factory identity.
    EXPECT_EQ(std::string(GetIdentification(text, false)), "NONAME, V1.12/ZZ");
    EXPECT_EQ(std::string(GetIdentification(text, &identifier, true, true)), "NONAME, V1.12/ZZ, 0000000000-");
    EXPECT_EQ(identifier, 0);

    calibration stored = record("QV4-XT", "C7", "SN12345", "CODE0001");
    ASSERT_EQ(CalibrationSave(&stored, false), 0);
    EXPECT_EQ(std::string(GetIdentification(text, true)), "QV4-XT, V1.12/C7, SN12345");
    EXPECT_EQ(std::string(GetIdentification(text, nullptr, true, true)), "QV4-XT, V1.12/C7, SN12345-CODE0001");

    // A damaged file: the factory identity again, never an error.
    const std::string file = readHostFile(boardPath(kCalibrationFile));
    ASSERT_TRUE(writeBoardFile(kCalibrationFile, file + "x"));
    EXPECT_EQ(std::string(GetIdentification(text, true)), "NONAME, V1.12/ZZ, 0000000000");
}

} // namespace
