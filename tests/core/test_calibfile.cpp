// The calibration file: recall of good and damaged files, the save (format, date stamp, a
// failing medium) and the identity calibration seeded on the simulated board.
#include "tests/support/simboardtest.h"

#include "board/board.h"
#include "core/calibfile.h"
#include "core/checksum.h"
#include "hardware/calibration.h"

#include <csignal>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kFile = "/media/private/calibration.cal";

class CalibFileTest : public SimBoardTest {
protected:
    std::string file() const { return hostPath(kFile); }
    std::string content() const { return readHostFile(file()); }
    void put(const std::string& bytes) { ASSERT_TRUE(writeBoardFile(kFile, bytes)); }

    // A record unlike the factory one everywhere that matters.
    static calibration sample()
    {
        calibration c = CalibUsine;
        std::memcpy(c.modelName, "QV4-XT\0\0\0\0", 10);
        std::memcpy(c.calibrationName, "C7\0\0\0\0\0\0\0\0", 10);
        std::memcpy(c.serialNumber, "SN12345\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
        std::memcpy(c.identificationCode, "IDCODE01", 8);
        c.reserved172[0] = 0x12;
        c.reserved172[1] = 0x34;
        for (uint32_t i = 178; i < kCalibrationSize; ++i)
            calibrationBytes(c)[i] = static_cast<uint8_t>(i * 31 + 7);
        std::memset(c.vosBf2Fill, 0, 4);
        setCalibrationDate(c, 1000000);
        return c;
    }
};

TEST_F(CalibFileTest, RecallTable)
{
    const calibration good = sample();
    {
        calibration toSave = good;
        ASSERT_EQ(CalibrationSave(&toSave, false), 0);
    }
    const std::string goodFile = content();
    ASSERT_EQ(goodFile.size(), 2550u);
    calibration stored;
    std::memcpy(&stored, goodFile.data() + 128, sizeof stored);

    calibration factoryWithIdentity = CalibUsine;
    calibrationCopyIdentity(factoryWithIdentity, stored);

    calibration withFill = stored;
    withFill.vosBf2Fill[2] = 7;
    calibrationStampChecksum(withFill);
    calibration withFillRecalled = withFill;
    std::memset(withFillRecalled.vosBf2[2], 7, 16);

    auto fileWith = [&](const calibration& record) {
        std::string f = goodFile;
        std::memcpy(&f[128], &record, sizeof record);
        return f;
    };

    struct Row {
        const char* what;
        std::function<void()> prepare;
        bool factoryTrims;
        calibration expected;
    };
    const std::vector<Row> rows = {
        {"missing", [&] { ::unlink(file().c_str()); }, false, CalibUsine},
        {"missing, factory trims", [&] { ::unlink(file().c_str()); }, true, CalibUsine},
        {"2549 bytes", [&] { put(goodFile.substr(0, 2549)); }, false, CalibUsine},
        {"2551 bytes", [&] { put(goodFile + "x"); }, false, CalibUsine},
        {"one byte changed after the header",
         [&] {
             std::string f = goodFile;
             f[128 + 1000] ^= 0x01;
             put(f);
         },
         false, CalibUsine},
        {"a directory", [&] { ::unlink(file().c_str()); ::mkdir(file().c_str(), 0777); }, false, CalibUsine},
        {"good", [&] { put(goodFile); }, false, stored},
        {"good, header not checked",
         [&] {
             std::string f = goodFile;
             f.replace(0, 128, std::string(128, 'x'));
             put(f);
         },
         false, stored},
        {"good, factory trims", [&] { put(goodFile); }, true, factoryWithIdentity},
        {"fill byte in the file", [&] { put(fileWith(withFill)); }, false, withFillRecalled},
        {"fill byte in the file, factory trims", [&] { put(fileWith(withFill)); }, true, factoryWithIdentity},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ::rmdir(file().c_str());
        row.prepare();
        const std::string before = content();
        calibration out = sample();
        CalibrationRecall(&out, row.factoryTrims);
        EXPECT_EQ(0, std::memcmp(&out, &row.expected, sizeof out));
        EXPECT_EQ(content(), before);  // a recall never writes the file
    }
    CalibrationRecall(nullptr, false);  // no record: nothing to fill
}

// Exact example: 2550 bytes, ".cal", CR LF, and the word at 128 the NOT of the byte sum of file
// offsets 132..2549; stampDate off keeps the stored date, on sets the current time.
TEST_F(CalibFileTest, SaveWritesHeaderAndChecksummedRecord)
{
    for (const bool stamp : {false, true}) {
        SCOPED_TRACE(stamp ? "stamp" : "keep");
        calibration record = sample();
        const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
        ASSERT_EQ(CalibrationSave(&record, stamp), 0);
        const uint32_t after = static_cast<uint32_t>(std::time(nullptr));

        const std::string f = content();
        ASSERT_EQ(f.size(), 2550u);
        EXPECT_EQ(f.substr(0, 4), ".cal");
        EXPECT_EQ(f.substr(62, 64), std::string(64, '.'));  // empty comment
        EXPECT_EQ(f.substr(126, 2), "\r\n");
        uint32_t word;
        std::memcpy(&word, f.data() + 128, 4);
        EXPECT_EQ(word, Checksum(reinterpret_cast<const unsigned char*>(f.data()) + 132, 2550 - 132));
        // The record handed in carries the checksum and date that were written.
        EXPECT_EQ(0, std::memcmp(f.data() + 128, &record, sizeof record));

        if (stamp) {
            EXPECT_GE(calibrationDateOf(record), before);
            EXPECT_LE(calibrationDateOf(record), after);
        } else {
            EXPECT_EQ(calibrationDateOf(record), 1000000u);
        }
    }
}

TEST_F(CalibFileTest, FailedSaveKeepsThePreviousFile)
{
    calibration previous = sample();
    ASSERT_EQ(CalibrationSave(&previous, false), 0);
    const std::string good = content();

    // A medium that fills up in the middle of the record: the writes fail with EFBIG.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        calibration next = CalibUsine;
        _exit(CalibrationSave(&next, true));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 19);
    EXPECT_EQ(content(), good);

    // The new file cannot take the place of the old one (a directory is in the way).
    const std::string blocked = hostPath("/media/private/blocked");
    ::rename(file().c_str(), blocked.c_str());
    ASSERT_EQ(::mkdir(file().c_str(), 0777), 0);
    calibration next = CalibUsine;
    EXPECT_EQ(CalibrationSave(&next, false), 19);
    ::rmdir(file().c_str());
    ::rename(blocked.c_str(), file().c_str());
    EXPECT_EQ(content(), good);

    // No private directory at all.
    removeTree(hostPath("/media/private"));
    EXPECT_EQ(CalibrationSave(&next, false), 19);
    EXPECT_EQ(CalibrationSave(nullptr, false), 19);

    // No temporary file is ever left behind.
    ASSERT_EQ(::mkdir(hostPath("/media/private").c_str(), 0777), 0);
    struct stat st;
    EXPECT_NE(::stat(hostPath("/media/private/calibration.cal.tmp").c_str(), &st), 0);
}

// --- Identity calibration of the simulated board ---------------------------------------------

// The seed step is registered for the whole process: tests that register it take it out again
// (a no-op under its name), so that later tests in the same process seed no record.
void unregisterCalibrationSeed()
{
    registerBoardSeedStep("identity-calibration", [] {});
}

class SeededCalibrationTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        registerCalibrationSeed();
        SimBoardTest::SetUp();
    }
    void TearDown() override
    {
        unregisterCalibrationSeed();
        SimBoardTest::TearDown();
    }
};

// Where the simulated ADC (raw = 2047.5 + 3.6 u, u = +-500 at the screen edges) puts a raw
// code, read through the identity correction.
double identityCode(double raw)
{
    return 393216.0 + raw * 262144.0 / 262080.0 * 64.0;
}

TEST_F(SeededCalibrationTest, RangePointsSitAtTheScreenEdgesOfTheSimulatedAdc)
{
    struct stat st;
    ASSERT_EQ(::stat(hostPath(kFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2550);

    calibration c;
    CalibrationRecall(&c, false);
    EXPECT_TRUE(calibrationChecksumValid(c));
    const int32_t low = calibrationRangePoint(c, 0, 0, 0, 0);
    const int32_t high = calibrationRangePoint(c, 0, 0, 1, 0);
    EXPECT_NEAR(low, identityCode(2047.5 - 1800), 1.0);
    EXPECT_NEAR(high, identityCode(2047.5 + 1800), 1.0);
    EXPECT_NEAR(low, 409060, 1);
    EXPECT_NEAR(high, 639516, 1);
    for (int bwl = 0; bwl < 2; ++bwl)
        for (int ch = 0; ch < 4; ++ch)
            for (int s = 0; s < 16; ++s) {
                ASSERT_EQ(calibrationRangePoint(c, bwl, ch, 0, s), low);
                ASSERT_EQ(calibrationRangePoint(c, bwl, ch, 1, s), high);
            }

    // Everything else is the factory record, identity included.
    calibration expected = CalibUsine;
    for (int bwl = 0; bwl < 2; ++bwl)
        for (int ch = 0; ch < 4; ++ch)
            for (int s = 0; s < 16; ++s) {
                setCalibrationRangePoint(expected, bwl, ch, 0, s, low);
                setCalibrationRangePoint(expected, bwl, ch, 1, s, high);
            }
    calibrationStampChecksum(expected);
    EXPECT_EQ(0, std::memcmp(&c, &expected, sizeof c));

    // The correction of the sample transfer (no probe, range factor 1): span and zero from the
    // two points, raw x mapped to zero + (x * 262144 / span) * 64. The screen edges of the ADC
    // land on the screen edges of the normalised scale.
    const int32_t span = high - low;
    const int32_t zero = static_cast<int32_t>((393216.0 - low) * 262080.0 / span + 393216.0);
    auto corrected = [&](double raw) { return zero + (raw * 262144.0 / span) * 64.0; };
    EXPECT_NEAR(corrected(247.5), 393216, 2);
    EXPECT_NEAR(corrected(3847.5), 655296, 2);
}

TEST_F(SimBoardTest, SeedNeverOverwritesAnExistingCalibration)
{
    // A fresh root that already holds a calibration file when it is first seeded.
    ASSERT_TRUE(setBoardRoot(root_ + "/other"));
    ASSERT_EQ(::mkdir(boardPath("/media").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(boardPath("/media/private").c_str(), 0777), 0);
    ASSERT_TRUE(writeBoardFile(kFile, "mine"));
    registerCalibrationSeed();
    const bool seeded = seedBoardRoot();
    unregisterCalibrationSeed();
    ASSERT_TRUE(seeded);
    EXPECT_EQ(readHostFile(boardPath(kFile)), "mine");
    ASSERT_TRUE(setBoardRoot(root_));
}

// A board whose scenario gives it analogue errors needs calibrating: its first start seeds no
// record, so it runs on the factory record; a scenario that cannot be read changes nothing.
TEST_F(SimBoardTest, SeedLeavesABoardWithErrorsToBeCalibrated)
{
    const struct {
        const char* scenario;
        bool seeded;
    } cases[] = {
        {R"({"channels": [{}, {"errors": {"gain": 0.01}}]})", false},
        {R"({"channels": [{"errors": {"offset": -0.1}}]})", false},
        {R"({"channels": [{"errors": {"gain": 0}}]})", true},
        {"{", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        ASSERT_TRUE(setBoardRoot(root_ + "/board" + std::to_string(n++)));
        ASSERT_EQ(::mkdir(boardPath("/sim").c_str(), 0777), 0);
        ASSERT_TRUE(writeBoardFile("/sim/scenario.json", c.scenario));
        registerCalibrationSeed();
        const bool seeded = seedBoardRoot();
        unregisterCalibrationSeed();
        ASSERT_TRUE(seeded);
        struct stat st;
        EXPECT_EQ(::stat(boardPath(kFile).c_str(), &st) == 0, c.seeded);
    }
    ASSERT_TRUE(setBoardRoot(root_));
}

} // namespace
