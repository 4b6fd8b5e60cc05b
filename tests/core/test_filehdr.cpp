// The 128-byte saved-file header: field layout, cuts, the identity from the stored calibration
// and reading a header back.
#include "tests/support/simboardtest.h"

#include "board/board.h"
#include "core/calibfile.h"
#include "core/filehdr.h"
#include "hardware/calibration.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string padded(const std::string& text, size_t width)
{
    std::string s = text.substr(0, width);
    return s + std::string(width - s.size(), '.');
}

std::string header(const std::string& type, const std::string& model, const std::string& version,
                   const std::string& serial, const std::string& date, const std::string& comment)
{
    return padded(type, 4) + padded(model, 12) + padded(version, 10) + padded(serial, 16) + padded(date, 20)
           + padded(comment, 64) + "\r\n";
}

class FileHeaderTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        setenv("TZ", "UTC", 1);
        tzset();
    }

    // Writes a header into a fresh file and returns the file's bytes.
    std::string write(const char* type, const char* comment, int32_t time, int32_t* result = nullptr)
    {
        const std::string path = hostPath("/media/user/header.bin");
        ::unlink(path.c_str());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        EXPECT_GE(fd, 0);
        const int32_t r = WriteFileHeader(fd, type, comment, time);
        if (result)
            *result = r;
        ::close(fd);
        return readHostFile(path);
    }
};

TEST_F(FileHeaderTest, FieldsTypeCommentAndDate)
{
    const std::string c100(100, 'c');
    struct Row {
        const char* what;
        const char* type;
        const char* comment;
        int32_t time;
        std::string expected;
    };
    // Exact example: without a calibration file the factory identity fills the header.
    const std::vector<Row> rows = {
        {"setup, no comment, epoch", ".cfg", nullptr, 0,
         header(".cfg", "NONAME", "V1.12/ZZ", "0000000000", "1970-01-01_00-00-00.", "")},
        {"long type cut at 4", ".calibration", "", 0,
         header(".cal", "NONAME", "V1.12/ZZ", "0000000000", "1970-01-01_00-00-00.", "")},
        {"100-character comment keeps 64", ".trc", c100.c_str(), 1700000000,
         header(".trc", "NONAME", "V1.12/ZZ", "0000000000", "2023-11-14_22-13-20.", c100.substr(0, 64))},
        {"short comment, recorder time", ".rec", "run 3", 86399,
         header(".rec", "NONAME", "V1.12/ZZ", "0000000000", "1970-01-01_23-59-59.", "run 3")},
        {"empty type", "", "x", 0, header("", "NONAME", "V1.12/ZZ", "0000000000", "1970-01-01_00-00-00.", "x")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        int32_t result = -2;
        const std::string h = write(row.type, row.comment, row.time, &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(h, row.expected);
        EXPECT_EQ(h.find('\0'), std::string::npos);
    }
}

TEST_F(FileHeaderTest, CurrentTimeIsLocalTime)
{
    setenv("TZ", "UTC-2", 1);  // two hours east of UTC
    tzset();
    auto format = [](time_t t) {
        char s[32];
        struct tm local;
        localtime_r(&t, &local);
        strftime(s, sizeof s, "%Y-%m-%d_%H-%M-%S.", &local);
        return std::string(s);
    };
    const time_t before = std::time(nullptr);
    const std::string date = write(".txt", nullptr, -1).substr(42, 20);
    const time_t after = std::time(nullptr);
    EXPECT_TRUE(date == format(before) || date == format(after)) << date;
    EXPECT_EQ(write(".txt", nullptr, 0).substr(42, 20), "1970-01-01_02-00-00.");
}

TEST_F(FileHeaderTest, IdentityComesFromTheStoredCalibration)
{
    struct Row {
        const char* what;
        const char* model;  // 10 bytes each, no NUL when full
        const char* name;
        const char* serial;  // 20 bytes
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"short texts", "QV4-XT", "C7", "SN12345",
         header(".cfg", "QV4-XT", "V1.12/C7", "SN12345", "1970-01-01_00-00-00.", "")},
        // Full-width fields without a NUL: each token is cut at its field, the date stays.
        {"full-width fields", "ABCDEFGHIJ", "KLMNOPQRST", "01234567890123456789",
         header(".cfg", "ABCDEFGHIJ", "V1.12/KLMN", "0123456789012345", "1970-01-01_00-00-00.", "")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        calibration c = CalibUsine;
        std::memset(c.modelName, 0, 10);
        std::memset(c.calibrationName, 0, 10);
        std::memset(c.serialNumber, 0, 20);
        std::memcpy(c.modelName, row.model, std::strlen(row.model));
        std::memcpy(c.calibrationName, row.name, std::strlen(row.name));
        std::memcpy(c.serialNumber, row.serial, std::strlen(row.serial));
        std::memset(c.identificationCode, 'X', 8);
        ASSERT_EQ(CalibrationSave(&c, false), 0);
        EXPECT_EQ(write(".cfg", nullptr, 0), row.expected);
    }

    // A damaged file (exact example): the factory identity, no error.
    const std::string cal = readHostFile(hostPath(kCalibrationFile));
    ASSERT_TRUE(writeBoardFile(kCalibrationFile, cal.substr(0, 2549)));
    int32_t result = -2;
    const std::string h = write(".cfg", nullptr, 0, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(h.substr(4, 12), "NONAME......");
    EXPECT_EQ(h.substr(16, 10), "V1.12/ZZ..");
    EXPECT_EQ(h.substr(26, 16), "0000000000......");
}

TEST_F(FileHeaderTest, WriteFailureIsReported)
{
    EXPECT_EQ(WriteFileHeader(-1, ".cfg", nullptr, 0), -1);
    const std::string path = hostPath("/media/user/ro.bin");
    ASSERT_TRUE(writeBoardFile("/media/user/ro.bin", ""));
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(WriteFileHeader(fd, ".cfg", nullptr, 0), -1);
    ::close(fd);
}

TEST_F(FileHeaderTest, ReadFileHeader)
{
    const std::string written = write(".msk", "mask", 0) + std::string(500, 'z');
    ASSERT_TRUE(writeBoardFile("/media/user/full.msk", written));
    TFileHeader h;
    EXPECT_EQ(ReadFileHeader(hostPath("/media/user/full.msk"), h), 0);
    EXPECT_EQ(0, std::memcmp(&h, written.data(), 128));
    EXPECT_EQ(std::string(h.comment, 4), "mask");
    // A board path names the same file.
    EXPECT_EQ(ReadFileHeader("/media/user/full.msk", h), 0);

    ASSERT_TRUE(writeBoardFile("/media/user/short.msk", written.substr(0, 100)));
    EXPECT_EQ(ReadFileHeader(hostPath("/media/user/short.msk"), h), -1);
    EXPECT_EQ(ReadFileHeader(hostPath("/media/user/none.msk"), h), -1);
}

} // namespace
