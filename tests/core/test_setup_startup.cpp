// Start-up loading (calibration, power-on setup, sample buffers) and the power-off that saves
// the power-on setup and hands over to the battery daemon.
#include "tests/core/setup_fixture.h"

#include "acquisition/TAcquisition.h"
#include "core/calibfile.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"

#include <algorithm>
#include <ctime>

namespace {

class StartupTest : public SetupTest {
protected:
    static bool identityIs(const calibration& record, const calibration& expected)
    {
        return std::memcmp(calibrationBytes(record) + 4, calibrationBytes(expected) + 4, 48) == 0;
    }
};

TEST_F(StartupTest, WithoutFilesTheFactoryCalibrationAndTheDefaults)
{
    std::memset(&param_calibr, 0x77, sizeof param_calibr);
    data.timeBaseIndex = 3;
    data.selfTestResult = 0xFFFF;
    const int32_t before = static_cast<int32_t>(std::time(nullptr));

    EXPECT_EQ(Startup(&param_calibr, 15), 18);

    EXPECT_GE(l_g_startTime, before);
    EXPECT_LE(l_g_startTime, static_cast<int32_t>(std::time(nullptr)));
    EXPECT_TRUE(identityIs(param_calibr, CalibUsine));
    EXPECT_EQ(calibrationRangePoint(param_calibr, 0, 0, 0, 0), calibrationRangePoint(CalibUsine, 0, 0, 0, 0));
    EXPECT_EQ(data.timeBaseIndex, init_par.timeBaseIndex);
    EXPECT_EQ(data.selfTestResult, 0xFFFF);
    EXPECT_EQ(data.validChannelMask, 1039);
    // Four empty channel buffers and the auxiliary buffer, each of 100,000 samples.
    for (uint32_t* buffer : {TAcquisition::Voie1Normalisee, TAcquisition::Voie2Normalisee,
                             TAcquisition::Voie3Normalisee, TAcquisition::Voie4Normalisee}) {
        ASSERT_NE(buffer, nullptr);
        EXPECT_TRUE(std::all_of(buffer, buffer + 100000, [](uint32_t s) { return s == 0x80000000u; }));
    }
    ASSERT_NE(TAcquisition::VoieAuxNormalisee, nullptr);
    // Every run-time object exists.
    const TSetupLinks& l = setupLinks();
    for (const void* p : {static_cast<const void*>(l.acqCh1), static_cast<const void*>(l.refAcqCh4),
                          static_cast<const void*>(l.maskAcq), static_cast<const void*>(l.powerAcq),
                          static_cast<const void*>(l.mathFunctionCh4), static_cast<const void*>(l.powerFunctionB),
                          static_cast<const void*>(l.measResultsPtr), static_cast<const void*>(l.cursorTablePtr),
                          static_cast<const void*>(l.harmonicResultsPtr)})
        EXPECT_NE(p, nullptr);
}

TEST_F(StartupTest, WithFilesTheStoredCalibrationAndPowerOnSetup)
{
    calibration stored;
    std::memcpy(&stored, &CalibUsine, sizeof stored);
    std::memcpy(stored.modelName, "QV4000\0\0\0\0", 10);
    ASSERT_EQ(CalibrationSave(&stored, false), 0);
    data.timeBaseIndex = 7;
    data.sensitivityCh1 = 2;
    ASSERT_EQ(SetupSave("setup", true, ""), 0);
    std::memcpy(&data, &init_par, sizeof data);
    std::memset(&param_calibr, 0, sizeof param_calibr);

    EXPECT_EQ(Startup(&param_calibr, 9), 0);

    EXPECT_TRUE(identityIs(param_calibr, stored));
    EXPECT_EQ(data.timeBaseIndex, 7);
    EXPECT_EQ(data.sensitivityCh1, 2);
    EXPECT_EQ(data.hwChannelMask, 9);
}

// A damaged power-on setup starts the instrument with the defaults.
TEST_F(StartupTest, DamagedPowerOnSetupStartsWithTheDefaults)
{
    const std::string good = fileBytes(sampleImage());
    std::string changed = good;
    changed[1000] ^= 0x40;
    for (const std::string& bytes : {good.substr(0, 1359), changed}) {
        SCOPED_TRACE(bytes.size());
        ASSERT_TRUE(writeBoardFile(kPowerOnSetupFile, bytes));
        data.timeBaseIndex = 3;
        data.sensitivityCh1 = 1;
        EXPECT_EQ(Startup(&param_calibr, 15), 20);
        EXPECT_EQ(data.timeBaseIndex, 15);
        EXPECT_EQ(data.sensitivityCh1, 8);
    }
}

TEST_F(StartupTest, PowerOffSavesThePowerOnSetupAndWritesTheOffPipe)
{
    ASSERT_TRUE(writeBoardFile("/media/private/setup", "stale"));
    data.timeBaseIndex = 5;

    const int status = inChild([] { Shutdown(POWEROFF_SAVE_SETUP); });

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readHostFile(hostPath(kOffPipe)), "POWEROFF");
    EXPECT_FALSE(exists("/media/private/setup"));
    EXPECT_EQ(fileSize(kPowerOnSetupFile), 1360);
    EXPECT_EQ(SetupRecall(kPowerOnSetupFile, false, 15), 0);
    EXPECT_EQ(data.timeBaseIndex, 5);
    // The PC sees the internal user partition, writable.
    EXPECT_EQ(readHostFile(hostPath(kUsbLunFile)), "/dev/mmcblk2p5");
    EXPECT_EQ(readHostFile(hostPath(kUsbLunReadOnly)), "0");
}

TEST_F(StartupTest, PowerOffWithoutPipeOrPrivateDirectoryStillEndsWithZero)
{
    ASSERT_EQ(::unlink(hostPath(kOffPipe).c_str()), 0);
    removeTree(hostPath(kPrivateDir));

    const int status = inChild([] { Shutdown(POWEROFF_SAVE_SETUP); });

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(exists(kOffPipe));
}

} // namespace
