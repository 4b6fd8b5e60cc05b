// Start-up loading (calibration, power-on setup, sample buffers) and the power-off that saves
// the power-on setup and hands over to the battery daemon.
#include "tests/core/setup_fixture.h"

#include "acquisition/TAcquisition.h"
#include "core/calibfile.h"
#include "core/process.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>
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

// A stored file that is there but refused is kept as ".bad", named on standard error, replaced
// in the run by the factory calibration or the defaults, and the next save writes a good file.
TEST_F(StartupTest, RefusedStoredFilesAreSetAsideAndNamed)
{
    calibration stored;
    std::memcpy(&stored, &CalibUsine, sizeof stored);
    std::memcpy(stored.modelName, "QV4000\0\0\0\0", 10);
    ASSERT_EQ(CalibrationSave(&stored, false), 0);
    const std::string goodCalibration = readHostFile(hostPath(kCalibrationFile));
    const std::string goodSetup = fileBytes(sampleImage());

    enum Damage { kShort, kChecksum, kFolder, kFifo };
    struct Row {
        const char* file;
        Damage damage;
        const char* reason;
    };
    for (const Row& row : {Row{kCalibrationFile, kShort, "2549 bytes instead of 2550"},
                           Row{kCalibrationFile, kChecksum, "checksum does not match"},
                           Row{kCalibrationFile, kFolder, "not a regular file"},
                           Row{kCalibrationFile, kFifo, "not a regular file"},
                           Row{kPowerOnSetupFile, kShort, "1359 bytes instead of 1360"},
                           Row{kPowerOnSetupFile, kChecksum, "checksum does not match"},
                           Row{kPowerOnSetupFile, kFolder, "not a regular file"},
                           Row{kPowerOnSetupFile, kFifo, "not a regular file"}}) {
        SCOPED_TRACE(std::string(row.file) + " " + row.reason);
        const bool isCalibration = row.file == kCalibrationFile;
        const std::string path = hostPath(row.file);
        const std::string bad = path + ".bad";
        removeTree(bad);
        ASSERT_TRUE(writeBoardFile(kCalibrationFile, goodCalibration));
        ASSERT_TRUE(writeBoardFile(kPowerOnSetupFile, goodSetup));
        std::string bytes = isCalibration ? goodCalibration : goodSetup;
        ::unlink(path.c_str());
        if (row.damage == kShort) {
            bytes.pop_back();
            ASSERT_TRUE(writeBoardFile(row.file, bytes));
        } else if (row.damage == kChecksum) {
            bytes[1000] ^= 0x40;
            ASSERT_TRUE(writeBoardFile(row.file, bytes));
        } else if (row.damage == kFolder) {
            ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
        } else {
            ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);  // must not hold the start
        }

        testing::internal::CaptureStderr();
        TStartupRefusals refused;
        const int result = Startup(&param_calibr, 15, &refused);
        const std::string said = testing::internal::GetCapturedStderr();

        EXPECT_EQ(refused.calibration, isCalibration);
        EXPECT_EQ(refused.setup, !isCalibration);
        EXPECT_NE(said.find(path + ": " + row.reason), std::string::npos) << said;
        EXPECT_NE(said.find(bad), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        if (isCalibration) {
            EXPECT_TRUE(identityIs(param_calibr, CalibUsine));
            EXPECT_EQ(result, 0);
        } else {
            EXPECT_TRUE(identityIs(param_calibr, stored));
            EXPECT_EQ(result, 20);
            EXPECT_EQ(data.timeBaseIndex, init_par.timeBaseIndex);
        }
        // Kept whole beside, and the place is free for the next save.
        struct stat st;
        EXPECT_NE(::lstat(path.c_str(), &st), 0);
        ASSERT_EQ(::lstat(bad.c_str(), &st), 0);
        if (row.damage == kShort || row.damage == kChecksum) {
            EXPECT_EQ(readHostFile(bad), bytes);
        }
        if (isCalibration)
            ASSERT_EQ(CalibrationSave(&stored, false), 0);
        else
            ASSERT_EQ(SetupSave("setup", true, ""), 0);
        TStartupRefusals again;
        EXPECT_EQ(Startup(&param_calibr, 15, &again), 0);
        EXPECT_FALSE(again.calibration || again.setup);
        EXPECT_TRUE(identityIs(param_calibr, stored));
    }
}

// Damaged start-up files in a row: each is kept under a name of its own, never over the copy
// kept before, and the message names the copy actually made.
TEST_F(StartupTest, EachRefusedStartFileKeepsItsOwnCopy)
{
    const std::string path = hostPath(kPowerOnSetupFile);
    const char* kept[] = {".bad", ".bad.1", ".bad.2"};
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        const std::string damaged(1359, static_cast<char>('a' + run));
        ASSERT_TRUE(writeBoardFile(kPowerOnSetupFile, damaged));
        testing::internal::CaptureStderr();
        EXPECT_EQ(Startup(&param_calibr, 15), 20);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("kept as " + path + kept[run] + "\n"), std::string::npos) << said;
    }
    for (int run = 0; run < 3; ++run)
        EXPECT_EQ(readHostFile(path + kept[run]), std::string(1359, static_cast<char>('a' + run))) << kept[run];
}

// A save killed part way leaves a temporary file of ours beside the old one (whole); the next
// start removes it, and only it: files of the user with similar names stay.
TEST_F(StartupTest, StartRemovesWhatKilledSavesLeft)
{
    ASSERT_EQ(SetupSave("keep", false, ""), 0);
    const std::string good = readHostFile(hostPath("/media/user/setups/keep.cfg"));
    const int status = inChild([] {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit limit{700, 700};
        setrlimit(RLIMIT_FSIZE, &limit);
        data.timeBaseIndex = 9;
        ::_exit(SetupSave("keep", false, ""));
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    // Left by saves of earlier versions, and the user's own look-alikes.
    const std::vector<std::string> stale = {"/media/user/setups/old.cfg.tmp4242-0", "/media/private/.tmp77-3",
                                            "/media/private/calibration.cal.tmp", "/media/user/.x.trc.tmp1-2"};
    const std::vector<std::string> users = {"/media/user/setups/tmp1-2.cfg", "/media/user/notes.tmp",
                                            "/media/user/setups/a.tmp1-2", "/media/user/x.tmp"};
    for (const std::string& f : stale)
        ASSERT_TRUE(writeBoardFile(f.c_str(), "stale"));
    for (const std::string& f : users)
        ASSERT_TRUE(writeBoardFile(f.c_str(), "mine"));
    auto setupFolder = [this] {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(hostPath("/media/user/setups").c_str())) {
            while (const dirent* e = ::readdir(d))
                names.emplace_back(e->d_name);
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    // . .. keep.cfg, the killed save's, the earlier version's, tmp1-2.cfg, a.tmp1-2
    EXPECT_EQ(setupFolder().size(), 7u);

    Startup(&param_calibr, 15);

    EXPECT_EQ(readHostFile(hostPath("/media/user/setups/keep.cfg")), good);
    for (const std::string& f : stale)
        EXPECT_FALSE(exists(f.c_str())) << f;
    for (const std::string& f : users)
        EXPECT_TRUE(exists(f.c_str())) << f;
    EXPECT_EQ(setupFolder(), (std::vector<std::string>{".", "..", "a.tmp1-2", "keep.cfg", "tmp1-2.cfg"}));
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

// A FIFO off pipe: nobody reading must not keep the instrument on for ever; a reader that
// arrives late (within the 5 s) still gets the message.
TEST_F(StartupTest, PowerOffThroughAFifoIsBounded)
{
    ASSERT_EQ(::unlink(hostPath(kOffPipe).c_str()), 0);
    ASSERT_EQ(::mkfifo(hostPath(kOffPipe).c_str(), 0644), 0);
    const auto t0 = std::chrono::steady_clock::now();
    int status = inChild([] { Shutdown(POWEROFF_SAVE_SETUP); });
    const auto waited = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GE(waited, std::chrono::milliseconds(4500));

    std::string received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const int fd = ::open(hostPath(kOffPipe).c_str(), O_RDONLY);
        char buffer[16];
        ssize_t n;
        while (fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<size_t>(n));
        if (fd >= 0)
            ::close(fd);
    });
    status = inChild([] { Shutdown(POWEROFF_SAVE_SETUP); });
    reader.join();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(received, "POWEROFF");
}

} // namespace

// A recording's end action runs before the setup save and the off pipe, once: endProcess after
// Shutdown's own run finds nothing left.
TEST_F(StartupTest, PowerOffRunsTheEndActionsFirstAndOnce)
{
    const std::string marks = hostPath("/var/tmp/end_actions");
    const std::string setup = hostPath(kPowerOnSetupFile);
    const std::string pipe = hostPath(kOffPipe);
    ASSERT_EQ(::unlink(setup.c_str()) == 0 || errno == ENOENT, true);
    const int status = inChild([&] {
        registerEndAction([&] {
            std::ofstream out(marks, std::ios::app);
            out << (::access(setup.c_str(), F_OK) == 0 ? "saved" : "unsaved") << ' '
                << (readWholeFile(pipe) == "POWEROFF" ? "off" : "on") << '\n';
        });
        Shutdown(POWEROFF_SAVE_SETUP);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readWholeFile(marks), "unsaved on\n");
    EXPECT_EQ(readHostFile(pipe), "POWEROFF");
}
