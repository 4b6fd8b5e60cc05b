// Controller start-up against the stand-ins and the files of the simulated board: order of the
// screen calls, the threads it starts, the smart-probe scan of the first start, the self test
// and the brand.
#include "tests/core/command_fixture.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/calibfile.h"
#include "core/setup.h"
#include "core/sysserv.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/fpga.h"
#include "hardware/handshake.h"
#include "hardware/vernier.h"

#include <chrono>
#include <functional>
#include <fcntl.h>
#include <iterator>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace {

class CommandStartupTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        COMM_id = pthread_self();
        recordPauses(true);
        // Every start-up runs the self test's calibration acquisitions.
        simboard::updateScenario([](simboard::TScenario& s) { s.speedFactor = 20; });
    }

    // Channels whose probe bus was read.
    static std::vector<int16_t> scannedChannels()
    {
        const std::vector<int> buses = probeBusesRead();
        return std::vector<int16_t>(buses.begin(), buses.end());
    }

    bool markerExists() const
    {
        struct stat st;
        return stat(hostPath("/var/tmp/tavlinStarted").c_str(), &st) == 0;
    }
};

// The start-up pause, the meter current-relay pulse (5 ms, 2 ms) of each of the two front-end
// configurations around the self test and of the self test's own scope configuration, then the
// settling after each channel's probe reading.
const std::vector<int> kStartupPauses{100, 5, 2, 5, 2, 5, 2, 20, 20, 20, 20};

// The self test's acquisition waits (its scope configuration's settling, the calibration
// acquisitions' arming waits) are left out: the start-up's own pauses around them stay.
std::vector<int> startupPauses()
{
    std::vector<int> own;
    for (int ms : TPauseLog::instance().pauses())
        if (ms != 500 && ms != 120 && ms != 110 && ms != 3)
            own.push_back(ms);
    return own;
}

// The self-test lamps as the first half of the test left them: the last register-20 write before
// the first interrupt (the status lamp shares their bits from then on).
uint32_t selfTestLampsShown()
{
    const auto interrupts = simboard::log({simboard::TLogKind::Interrupt});
    const uint64_t until = interrupts.empty() ? UINT64_MAX : interrupts.front().timeNs;
    uint32_t lamps = 0;
    for (const auto& w : simboard::reg20History())
        if (w.timeNs < until)
            lamps = (w.value >> 10) & 0xF;
    return lamps;
}

TEST_F(CommandStartupTest, ScreenCallsComeInOrderAndTheBatchRecallIsQueued)
{
    commandStartup();

    EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{"screenMessage(27,)", "showWindow()", "setBrandVisible(0)",
                                                            "screenMaj(14)", "screenMessage(0,)"}));
    EXPECT_EQ(startupPauses(), kStartupPauses);

    // The measure thread answers its own start-up refresh, the key thread may post its first
    // brightness request and the acquisition driver's timer the trigger state it shows; the
    // controller's own request is the first of the rest.
    pipe_dial first{};
    for (;;) {
        ASSERT_EQ(o_g_consMessageBox.receive(&first, true, 1), 0);
        if (first.kind == REQ_MANUAL_MEAS && first.senderId == senderValue(MEAS_id))
            continue;
        if (first.kind == REQ_SET_PARAM && first.code == param::displayBrightness) {
            EXPECT_EQ(first.senderId, senderValue(TRAD_id));
            continue;
        }
        if (first.kind == REQ_SET_PARAM && first.code == param::trigStatus) {
            EXPECT_EQ(first.senderId, senderValue(RTAC_id));
            continue;
        }
        break;
    }
    EXPECT_EQ(first, (pipe_dial{REQ_FILE, fileBatchRecall, 0, 0, 0.0f, senderValue(pthread_self())}));

    // The hardware and setup sequence around the screen calls.
    // The driver opened: window mapped, interrupt thread started.
    EXPECT_TRUE(ChipAcqBoardPresent());
    EXPECT_NE(pv_g_fpgaIoMem.load(), nullptr);
    EXPECT_NE(senderValue(tItAcq_id), 0);
    // BaseInit(0) then BaseInit(1): the buzzer LED's trigger set once, the initial state (with its
    // beep) twice.
    std::vector<std::string> led;
    for (const simboard::TSysfsWrite& w : simboard::ledHistory())
        led.push_back(w.path.substr(w.path.rfind('/') + 1) + " " + w.text);
    EXPECT_EQ(led, (std::vector<std::string>{"trigger none", "brightness 255", "brightness 0", "brightness 255",
                                             "brightness 0"}));
    EXPECT_EQ(us_g_hwChannels, 15);
    EXPECT_EQ(data.hwChannelMask, 15);
    EXPECT_EQ(data.validChannelMask, 1039);
    EXPECT_EQ(data.instrumentMode, 0x8000);
    // No card: the PC sees the internal user partition, writable.
    EXPECT_EQ(readHostFile(hostPath(kUsbLunFile)), "/dev/mmcblk2p5");
    EXPECT_EQ(readHostFile(hostPath(kUsbLunReadOnly)), "0");
    std::vector<std::string> brightness;
    for (const simboard::TSysfsWrite& w : simboard::backlightHistory())
        if (w.path == "/sys/class/backlight/backlight.22/brightness")
            brightness.push_back(w.text);
    EXPECT_EQ(brightness, std::vector<std::string>{std::to_string(init_par.displayBrightness)});
    // Driver command 0 without a record: the four channels' initial words with 0x21, which only
    // command 0 sends.
    std::vector<uint16_t> initialised;
    for (const simboard::TSerialCommand& c : simboard::serialCommands())
        if (c.opcode == 0xC1 && c.data == (0x21 << 1))
            initialised.push_back(c.mask);
    // acquisit, started last, sends its own command 0 (with its record) as it comes up: only the
    // first four are the controller's.
    ASSERT_GE(initialised.size(), 4u);
    EXPECT_EQ(std::vector<uint16_t>(initialised.begin(), initialised.begin() + 4), (std::vector<uint16_t>{1, 2, 4, 8}));
    EXPECT_EQ(data.selfTestResult, 0xFFFF);
    EXPECT_EQ(ScreenSaverActif.load(), 0);
}

TEST_F(CommandStartupTest, WaitsForTheRootWindowPollingEvery100Ms)
{
    po_g_homeBridge.store(nullptr);
    int polls = 0;
    const pthread_t controller = pthread_self();
    setPauseHook([&, controller](int ms) {
        if (!pthread_equal(pthread_self(), controller))
            return;
        TPauseLog::instance().add(ms);
        if (++polls == 3)
            po_g_homeBridge.store(bridge());
    });

    commandStartup();

    const std::vector<int> p = pauses();
    ASSERT_GE(p.size(), 4u);
    EXPECT_EQ(std::vector<int>(p.begin(), p.begin() + 4), (std::vector<int>{100, 100, 100, 100}));
    ASSERT_FALSE(bridge()->calls().empty());
    EXPECT_EQ(bridge()->calls().front(), "screenMessage(27,)");
}

TEST_F(CommandStartupTest, StartsEveryServiceThreadWithItsIdentity)
{
    commandStartup();

    const pthread_t ids[] = {tWEBSd_id, tAPPLd_id, tSADMd_id, SCPI_id, MEAS_id, tBUS_id, tSDCARD_id, TRAD_id, ACQU_id};
    std::set<intptr_t> distinct;
    for (pthread_t id : ids) {
        EXPECT_NE(senderValue(id), 0);
        distinct.insert(senderValue(id));
    }
    EXPECT_EQ(distinct.size(), std::size(ids));
    // acquisit starts its real-time companion itself.
    for (int i = 0; i < 500 && senderValue(RTAC_id) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(senderValue(RTAC_id), 0);
}

TEST_F(CommandStartupTest, FirstStartCreatesTheMarkerAndScansEveryChannel)
{
    ASSERT_FALSE(markerExists());
    commandStartup();
    EXPECT_TRUE(markerExists());
    EXPECT_EQ(scannedChannels(), (std::vector<int16_t>{0, 1, 2, 3}));
}

TEST_F(CommandStartupTest, ScenarioProbesAreReadAndAppliedAtTheFirstStartOnly)
{
    std::string why;
    ASSERT_TRUE(simboard::loadScenarioText(R"({"channels": [{"probe": {"id": "0x8001"}}, null, null,
        {"probe": {"id": "0x0009"}}]})", &why)) << why;
    commandStartup();

    EXPECT_EQ(data.probeCoeffCh1, 10.0f);
    EXPECT_EQ(std::string(data.unitCh1, 4), std::string("V\0\0\0", 4));
    EXPECT_EQ(data.traceOnCh1, 1);
    EXPECT_EQ(data.probeCoeffCh4, 500.0f);
    EXPECT_EQ(std::string(data.unitCh4, 4), std::string("\xC2\xB0" "C\0", 4));
    EXPECT_EQ(data.traceOnCh4, 1);
    EXPECT_EQ(bridge()->count("screenMessage(15,)"), 1);  // the temperature adapter warns
    ASSERT_NE(smartProbeLink(0), nullptr);
    ASSERT_NE(smartProbeLink(3), nullptr);
    EXPECT_EQ(smartProbeLink(1), nullptr);

    // A second start (the marker stands) reads nothing.
    restartProgram();
    simboard::clearLog();
    commandStartup();
    EXPECT_TRUE(scannedChannels().empty());
}

TEST_F(CommandStartupTest, LaterStartSkipsTheScanAndLeavesTheMarker)
{
    ASSERT_TRUE(writeBoardFile("/var/tmp/tavlinStarted", ""));
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, hostPath("/var/tmp/tavlinStarted").c_str(), old, 0), 0);
    simboard::plugProbe(0, probeWithId(9));  // would warn if it were read

    commandStartup();

    EXPECT_TRUE(scannedChannels().empty());
    EXPECT_EQ(bridge()->count("screenMessage(15,)"), 0);
    struct stat st;
    ASSERT_EQ(stat(hostPath("/var/tmp/tavlinStarted").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
}

TEST_F(CommandStartupTest, TwoChannelModelScansChannelsOneAndFour)
{
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    commandStartup();
    EXPECT_EQ(scannedChannels(), (std::vector<int16_t>{0, 3}));
    EXPECT_EQ(data.validChannelMask, 1033);
    EXPECT_EQ(us_g_hwChannels, 9);
}

TEST_F(CommandStartupTest, ShownChannelWithADefinedFunctionIsNotScanned)
{
    // The power-on setup shows channel 1 and hides channel 2; both have a function.
    data.traceOnCh1 = 1;
    data.traceOnCh2 = 0;
    std::strcpy(data.mathExprCh1, "ch1*ch2/divv(4)");
    std::strcpy(data.mathExprCh2, "ch1*ch2/divv(4)");
    ASSERT_EQ(SetupSave("setup", true, ""), 0);
    std::memcpy(&data, &init_par, sizeof data);

    commandStartup();

    EXPECT_EQ(scannedChannels(), (std::vector<int16_t>{1, 2, 3}));
}

TEST_F(CommandStartupTest, ProbeIdentifierDecidesTheWarning)
{
    struct Row {
        uint16_t id;
        bool warns;
    };
    for (const Row row : {Row{9, true}, Row{36, true}, Row{5, false}}) {
        SCOPED_TRACE(row.id);
        unplugAllProbes();
        resetTraceCallLog();
        ::unlink(hostPath("/var/tmp/tavlinStarted").c_str());
        bridge()->clear();
        TPauseLog::instance().clear();
        auto* trace = new TAcquisition(4);
        setupLinks().acqCh3 = trace;
        simboard::plugProbe(2, probeWithId(row.id));

        commandStartup();

        // The probe's trace re-applies its acquisition parameters without a control record
        // (the power-on recall has set identifiers and cleared samples before).
        std::vector<TTraceCall> calls;
        for (const TTraceCall& c : traceCallLog().calls)
            if (c.kind == TTraceCall::SetAcquisitionParametres)
                calls.push_back(c);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].trace, trace);
        EXPECT_TRUE(calls[0].recordNull);

        const auto log = bridge()->calls();
        ASSERT_GE(log.size(), 2u);
        if (row.warns) {
            EXPECT_EQ(log[log.size() - 2], "screenMessage(0,)");
            EXPECT_EQ(log.back(), "screenMessage(15,)");
            EXPECT_EQ(pauses().back(), 100);
        } else {
            EXPECT_EQ(log.back(), "screenMessage(0,)");
            EXPECT_EQ(bridge()->count("screenMessage(15,)"), 0);
        }
        restartProgram();
    }
}

TEST_F(CommandStartupTest, BrandShownOnlyForTheModelLettersQV)
{
    struct Row {
        char b4, b5;
        bool shown;
    };
    for (const Row row : {Row{'Q', 'V', true}, Row{'Q', 'X', false}, Row{'X', 'V', false}, Row{0, 0, false},
                          Row{'q', 'v', false}}) {
        SCOPED_TRACE((std::string{row.b4, row.b5}));
        // Start-up recalls the calibration file: the letters come from there.
        calibration stored;
        std::memcpy(&stored, &CalibUsine, sizeof stored);
        calibrationBytes(stored)[4] = static_cast<uint8_t>(row.b4);
        calibrationBytes(stored)[5] = static_cast<uint8_t>(row.b5);
        ASSERT_EQ(CalibrationSave(&stored, false), 0);
        bridge()->clear();
        commandStartup();
        EXPECT_EQ(bridge()->count("setBrandVisible(1)"), row.shown ? 1 : 0);
        EXPECT_EQ(bridge()->count("setBrandVisible(0)"), row.shown ? 0 : 1);
        restartProgram();
    }
}

// A stored file refused at start is told once the start is over: the setup by the pop-up of a
// failed recall, the calibration by the start-up message naming the files.
TEST_F(CommandStartupTest, RefusedStoredFilesAreShownAfterTheStart)
{
    struct Row {
        bool calibration, setup;
        const char* shown;
    };
    for (const Row& row : {Row{true, false, "screenMessage(27,calibration.cal)"},
                           Row{false, true, "screenMessage(20,)"},
                           Row{true, true, "screenMessage(27,calibration.cal setup.cfg)"},
                           Row{false, false, "screenMessage(0,)"}}) {
        SCOPED_TRACE(row.shown);
        ::unlink(hostPath(kCalibrationFile).c_str());
        ::unlink(hostPath(kPowerOnSetupFile).c_str());
        if (row.calibration) {
            ASSERT_TRUE(writeBoardFile(kCalibrationFile, "short"));
        }
        if (row.setup) {
            ASSERT_TRUE(writeBoardFile(kPowerOnSetupFile, "short"));
        }
        bridge()->clear();
        testing::internal::CaptureStderr();
        commandStartup();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(bridge()->calls().back(), row.shown);
        restartProgram();
    }
}

TEST_F(CommandStartupTest, SelfTestResultAndMessage13)
{
    struct Row {
        const char* what;
        std::function<void()> fault;
        uint16_t autoTest, result;
    };
    const Row rows[] = {
        {"healthy", [] {}, 0xFF, 0xFFFF},
        {"offset DAC of channel 1 stuck", [] { simboard::setOffsetDacStuck(0, true); }, 0xEF, 0xF0EF},
        {"dead pipeline on channel 2", [] { simboard::setPipelineDead(1, true); }, 0xFD, 0xF2FD},
        {"offset DAC of channel 3 stuck", [] { simboard::setOffsetDacStuck(2, true); }, 0xBF, 0xF0BF},
        {"vernier of channel 2 stuck at 4095", [] { simboard::setVernierCode(1, 4095); }, 0xFF, 0xFDFF},
        {"two-channel model", [] { simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; }); }, 0xFF,
         0xFFFF},
        // As at power-on, no window is mapped yet.
        {"no register window",
         [] {
             simboard::setOpenFault("/dev/uio0");
             pv_g_fpgaIoMem.store(nullptr);
         },
         0x00, 0xFF00},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        simboard::clearFaults();
        simboard::updateScenario([](simboard::TScenario& s) { s.model = 4; });
        row.fault();
        simboard::setInputsConnected(false);
        simboard::clearHistories();
        simboard::clearLog();
        for (int ch = 0; ch < 4; ++ch)  // as at power-on: nothing calibrated yet
            vernierMinOf(ch) = vernierMaxOf(ch) = 0;
        ::unlink(hostPath("/var/tmp/tavlinStarted").c_str());  // every row a first start
        bridge()->clear();
        TPauseLog::instance().clear();

        commandStartup();

        EXPECT_EQ(data.selfTestResult, row.result);
        if (row.result == 0xFFFF && data.hwChannelMask == 15) {
            // Calibrated within the board's codes; nothing on the inputs, nothing in the tables.
            for (int ch = 0; ch < 4; ++ch) {
                EXPECT_EQ(vernierOf(ch).IsCalibrationOK(), 0) << ch;
                EXPECT_GE(vernierMinOf(ch), 800) << ch;
                EXPECT_LE(vernierMaxOf(ch), 3300) << ch;
                for (int group = 0; group < 4; ++group)
                    for (int j = 0; j < kPhaseCount; ++j)
                        EXPECT_EQ(matriceOffsetsOf(ch, group)[j], 0) << ch << " " << group << " " << j;
                EXPECT_EQ(bypassMinOffsetOf(ch), 0) << ch;
                EXPECT_EQ(bypassMaxOffsetOf(ch), 0) << ch;
            }
        }
        // The lamps showed the first half of the test: lit where a channel's pipeline or scaling
        // bit is clear.
        if (row.autoTest != 0) {  // without a board no interrupt marks where the status lamp takes over
            EXPECT_EQ(selfTestLampsShown(), ~(row.autoTest & (row.autoTest >> 4)) & 0xF);
        }
        const auto log = bridge()->calls();
        const bool message13 = row.result != 0xFFFF;
        // The probe scan settles after each installed channel.
        std::vector<int> own = kStartupPauses;
        if (data.hwChannelMask == 9)
            own.resize(own.size() - 2);
        if (message13) {
            ASSERT_EQ(log.size(), 6u);
            EXPECT_EQ(log[3], "screenMessage(13,)");
            own.insert(own.begin() + 7, 100);  // the message's pause, before the scan
        } else {
            EXPECT_EQ(bridge()->count("screenMessage(13,)"), 0);
        }
        EXPECT_EQ(startupPauses(), own);
        restartProgram();
    }
}

// The whole thread: start-up, then the loop applies the batch recall, whose restart the
// acquisition control thread acknowledges; the acknowledgement updates and refreshes the screen.
TEST_F(CommandStartupTest, ThreadRunsTheBatchRecallThroughTheAcquisition)
{
    const std::string batch = hostPath("/media/private/batch");
    ASSERT_EQ(mkdir(batch.c_str(), 0777), 0);
    ASSERT_EQ(startServiceThread(&COMM_id, command, nullptr, 65, "COMM", commandStop), 0);

    // acquisit's own first order (full initialisation), then the batch recall's restart; each
    // ends with a resume with 1 (two close together may wake the real-time thread once).
    const TLongArray restart{8, CH_ALL, ACQ_RESTART_CLEAR, senderValue(COMM_id)};
    ASSERT_TRUE(acquisitLogWait(
        [](const TAcquisitLog& s) { return s.ordersDone >= 2 && !s.resumes.empty(); }, 30000));
    const auto acq = acquisitLog();
    // The two come from different threads: either may be queued first.
    ASSERT_EQ(acq.orders.size(), 2u);
    const TLongArray initial{0x49, 0x1FFF, 8, 8};
    EXPECT_TRUE((acq.orders[0] == initial && acq.orders[1] == restart)
                || (acq.orders[0] == restart && acq.orders[1] == initial));
    EXPECT_EQ(acq.resumes.back(), SYNCHRO_TIMEBASE_CHANGE);

    // The acknowledgement of the last order updates and refreshes the screen.
    bool refreshed = false;
    for (int i = 0; i < 500 && !refreshed; ++i) {
        const auto calls = bridge()->calls();
        refreshed = calls.size() >= 2
            && std::vector<std::string>(calls.end() - 2, calls.end())
                == std::vector<std::string>{"screenMaj(90)", "screenRefresh()"};
        if (!refreshed)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(refreshed);
    // The batch recall entered its directory (and found nothing to apply).
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), batch);
}

} // namespace
