// Parameter requests, the post-processing: the rows with observable effects, the autoset, the
// reference capture, the pass/fail mask and the calibration pseudo-parameters.
#include "tests/core/command_fixture.h"

#include "core/checksum.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/handshake.h"

#include <sys/stat.h>

#include <functional>
#include <string>

namespace {

class ParamPostTest : public CommandParamTest {};

TEST_F(ParamPostTest, PostProcessingRows)
{
    struct Row {
        const char* what;
        std::function<void()> prepare;
        int32_t parameter;
        intptr_t value;
        std::function<void()> check;
    };
    const std::vector<Row> rows = {
        {"single shot holds", [] { data.acqRunStop = 0; }, param::trigMode, 2,
         [] { EXPECT_EQ(data.acqRunStop, 1); }},
        {"other trigger modes run and forget the channel states",
         [] {
             data.acqRunStop = 1;
             data.channelOnMask = 0x0F0F;
         },
         param::trigMode, 1,
         [] {
             EXPECT_EQ(data.acqRunStop, 0);
             EXPECT_EQ(data.channelOnMask, 0u);
         }},
        {"channel flags keep only shown channels' states",
         [] {
             data.traceOnCh1 = data.traceOnCh3 = 1;
             data.channelOnMask = 0xFF;
             data.measRefChannel = 2;
         },
         param::channelFlags, 0x7,
         [] {
             EXPECT_EQ(data.channelFlags, 5);  // rebuilt from the switches
             EXPECT_EQ(data.channelOnMask, 5u);
             EXPECT_EQ(data.measRefChannel, 4);  // channel 2 is hidden: the highest shown
         }},
        {"cursors",
         [] {
             data.channelFlags = 1;
             data.measRefChannel = 2;
             data.cursor1Level = 0;
             data.cursor2Time = 200000;
         },
         param::cursorState, 1,
         [] {
             EXPECT_EQ(data.cursor1Level, 0x60000);  // back into the window
             EXPECT_EQ(data.cursor2Time, 99999);
             EXPECT_EQ(data.measRefChannel, 1);
         }},
        {"brightness", [] {}, param::displayBrightness, 4,
         [] {
             EXPECT_EQ(simboard::backlightBrightness(), "4");
             EXPECT_EQ(simboard::backlightHistory().size(), 1u);
         }},
        {"time base without zoom",
         [] {
             data.zoomState = 0;
             data.horizPosition = 300;
             data.zoomWidth = 5.0f;
             data.fftZoomState = 2;
             data.fftHorizPosition = 30;
             data.fftZoomWidth = 5.0f;
             data.voltsPerDivCh1 = -1.0f;
         },
         param::timeBaseIndex, 12,
         [] {
             EXPECT_EQ(data.horizPosition, 0);
             EXPECT_EQ(data.zoomWidth, 40.0f);
             EXPECT_EQ(data.fftHorizPosition, 30);
             EXPECT_EQ(data.fftZoomWidth, 5.0f);
             EXPECT_EQ(data.userTimeBase, 12);
             EXPECT_NE(data.voltsPerDivCh1, -1.0f);  // derived scales recomputed
             EXPECT_TRUE(passFailCleared());
         }},
        {"time base with a zoom",
         [] {
             data.zoomState = 2;
             data.horizPosition = 300;
             data.zoomWidth = 4.0f;
             data.fftZoomState = 0;
             data.fftHorizPosition = 30;
         },
         param::timeBaseIndex, 12,
         [] {
             EXPECT_EQ(data.horizPosition, 300);
             EXPECT_EQ(data.zoomWidth, 4.0f);
             EXPECT_EQ(data.fftHorizPosition, 0);
             EXPECT_EQ(data.fftZoomWidth, 40.0f);
         }},
        {"FFT format",
         [] {
             data.refCapture = 0x11;
             data.refShownCh2 = 1;
             data.zoomState = 2;
             data.timeBaseIndex = 3;
             data.horizPosition = 50;
             data.zoomWidth = 2.0f;
         },
         param::traceFormat, 1,
         [] {
             EXPECT_EQ(data.refCapture, 0);
             EXPECT_EQ(data.refShownCh2, 0);
             EXPECT_EQ(data.zoomState, 0);
             EXPECT_EQ(data.timeBaseIndex, 6);
             EXPECT_EQ(data.horizPosition, 0);
             EXPECT_EQ(data.zoomWidth, 40.0f);
             EXPECT_EQ(data.userTimeBase, 6);
             EXPECT_TRUE(passFailCleared());
             EXPECT_EQ(traceCalls(TTraceCall::RazSignalNormalise).size(), 4u);
         }},
        {"FFT format keeps a slower time base",
         [] { data.timeBaseIndex = 20; }, param::traceFormat, 1,
         [] {
             EXPECT_EQ(data.userTimeBase, 20);
             EXPECT_EQ(data.timeBaseIndex, 20);
         }},
        {"XY format",
         [] {
             data.zoomState = 2;
             data.timeBaseIndex = 3;
             data.horizPosition = 50;
             data.zoomWidth = 2.0f;
             data.userTimeBase = 9;
         },
         param::traceFormat, 2,
         [] {
             EXPECT_EQ(data.zoomState, 0);
             EXPECT_EQ(data.timeBaseIndex, 3);
             EXPECT_EQ(data.horizPosition, 0);
             EXPECT_EQ(data.zoomWidth, 40.0f);
             EXPECT_EQ(data.userTimeBase, 9);  // the time base is not re-applied
         }},
        {"harmonic power", [] {}, param::harmPower, 1,
         [] {
             EXPECT_EQ(functionText(setupLinks().powerFunctionA), "ch1*ch4/divv(4)");
             EXPECT_EQ(functionText(setupLinks().powerFunctionB), "");
         }},
        {"pass/fail stop set", [] {}, param::passFailRunStop, 1, [] { EXPECT_TRUE(passFailCleared()); }},
        {"pass/fail stop cleared", [] {}, param::passFailRunStop, 0, [] { EXPECT_FALSE(passFailCleared()); }},
        {"sweep offset", [] {}, param::sweepOffset, 0, [] { EXPECT_TRUE(passFailCleared()); }},
        {"meter function", [] { data.meterFunction = 0; }, param::meterFunction, 9,
         [] {
             EXPECT_EQ(functionText(setupLinks().powerFunctionA), "(ch1*ch2)/divv(4)");
             EXPECT_EQ(functionText(setupLinks().powerFunctionB), "(ch3*ch4)/divv(4)");
         }},
        {"meter coupling: auto-range back on, aux measurement default",
         [] {
             data.instrumentMode = 128;
             data.meterAutoRangeCh3 = 0;
             data.meterAuxMeas = 2;
         },
         param::meterCouplingCh3, 1,
         [] {
             EXPECT_EQ(data.meterAutoRangeCh3, 1);
             EXPECT_EQ(data.meterAuxMeas, 1);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 16;
        linkEverything();
        simboard::clearHistories();
        primePassFailCounter();
        row.prepare();
        set(row.parameter, row.value, 0, keys());
        row.check();
        drainAll();
    }
}

TEST_F(ParamPostTest, ChannelSwitchInvalidatesItsResultsAndOffDropsItsFunction)
{
    const TLinks links = linkEverything();
    static char expression[] = "ch1*ch2/divv(4)";
    links.function[2]->SetFonctionString(expression, false);
    data.memoryTraceCh3 = 1;
    data.refShownCh3 = 1;
    data.channelOnMask = 0xF;
    data.traceOnCh1 = 1;

    set(param::traceOnCh3, 0, 0, keys());

    EXPECT_EQ(harmonicValidity(links, 2), 1u);
    EXPECT_EQ(harmonicValidity(links, 4), 1u);
    EXPECT_NE(harmonicValidity(links, 0), 1u);
    const auto identified = traceCalls(TTraceCall::SetIdentifier);
    ASSERT_EQ(identified.size(), 1u);
    EXPECT_EQ(identified[0].trace, links.channel[2]);
    EXPECT_EQ(identified[0].identifier, 4);
    EXPECT_EQ(data.memoryTraceCh3, 0);
    EXPECT_FALSE(links.function[2]->IsDefined());
    EXPECT_EQ(data.refShownCh3, 0);
    EXPECT_EQ(data.channelFlags, 1);
    EXPECT_EQ(data.channelOnMask, 1u);
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(18, CH_LIVE_3, ACQ_RESTART_CLEAR)});

    // Switched on, the function stays.
    links.function[1]->SetFonctionString(expression, false);
    set(param::traceOnCh2, 1, 0, keys());
    EXPECT_TRUE(links.function[1]->IsDefined());
    EXPECT_EQ(data.channelFlags, 3);
}

TEST_F(ParamPostTest, HoldAndRunInTheMeter)
{
    data.instrumentMode = 128;
    data.channelOnMask = 0x3;
    set(param::acqRunStop, 1, 0, realTime());
    EXPECT_EQ(messages(), std::vector<std::string>{"screenMessage(10,)"});
    EXPECT_EQ(pauses(), std::vector<int>{100});
    EXPECT_EQ(data.channelOnMask, 0x3u);

    bridge()->clear();
    set(param::acqRunStop, 0, 0, realTime());
    EXPECT_EQ(messages(), std::vector<std::string>{"screenMessage(0,)"});
    EXPECT_EQ(data.channelOnMask, 0u);
    // acqRunStop restarts under code 3 and updates no screen item.
    EXPECT_EQ(restarts(), (std::vector<TLongArray>{restart(3, CH_ALL, ACQ_RESTART_CLEAR),
                                                   restart(3, CH_ALL, ACQ_RESTART_CLEAR)}));
    EXPECT_EQ(bridge()->callsStartingWith("screenMaj("), std::vector<std::string>{});

    // In the scope neither shows anything.
    data.instrumentMode = 16;
    bridge()->clear();
    set(param::acqRunStop, 1, 0, keys());
    set(param::acqRunStop, 0, 0, keys());
    EXPECT_TRUE(bridge()->calls().empty());
}

TEST_F(ParamPostTest, PassFailMaskIsBuiltOnlyWhileTheTestIsOn)
{
    const TLinks links = linkEverything();
    data.passFailSource = 2;
    data.passFailXMask = 50;
    data.passFailYMask = 125;

    data.passFailOn = 0;
    set(param::passFailSource, 2, 0, keys());
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(traceCalls(TTraceCall::GenPassFailMask).empty());

    set(param::passFailOn, 1, 0, keys());
    EXPECT_EQ(messages(), (std::vector<std::string>{"screenMessage(33,)", "screenMessage(0,)"}));
    EXPECT_EQ(pauses(), std::vector<int>{100});
    EXPECT_TRUE(passFailCleared());
    auto built = traceCalls(TTraceCall::GenPassFailMask);
    ASSERT_EQ(built.size(), 1u);
    EXPECT_EQ(built[0].trace, links.mask);
    EXPECT_EQ(built[0].source, links.channel[2]);
    EXPECT_EQ(built[0].xTolerance, 0.5f);
    EXPECT_EQ(built[0].yTolerance, 1.25f);

    // Sources outside 1..3 take channel 1.
    resetTraceCallLog();
    primePassFailCounter();
    set(param::passFailSource, 7, 0, keys());
    built = traceCalls(TTraceCall::GenPassFailMask);
    ASSERT_EQ(built.size(), 1u);
    EXPECT_EQ(built[0].source, links.channel[0]);
    EXPECT_FALSE(passFailCleared());  // the source itself clears nothing
    EXPECT_EQ(restarts(), (std::vector<TLongArray>{restart(212, CH_MASK_TRACE, ACQ_RESTART_CLEAR),
                                                   restart(219, CH_ALL, ACQ_RESTART_CLEAR),
                                                   restart(212, CH_MASK_TRACE, ACQ_RESTART_CLEAR)}));
}

// --- Autoset ------------------------------------------------------------------------------------

TEST_F(ParamPostTest, AutosetSubCodesCallTheirVariant)
{
    startRealTimeStandin();
    struct Row {
        int subCode;
        const char* text;
        const char* function;
        unsigned short argument;
    };
    const Row rows[] = {
        {0, "", "Autoset", 4},
        {1, "trig on CH1", "Autoset", 0},
        {4, "trig on CH4", "Autoset", 3},
        {5, "ch1", "AutosetVertical", 0},
        {8, "ch4", "AutosetVertical", 3},
        {9, "", "AutosetFft", 4},
        {10, "trig on CH1", "AutosetFft", 0},
        {13, "trig on CH4", "AutosetFft", 3},
        {14, "ch1", "AutosetVerticalFFT", 0},
        {17, "ch4", "AutosetVerticalFFT", 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.subCode);
        resetAutosetLog();
        bridge()->clear();
        TPauseLog::instance().clear();
        set(param::autosetRequest, row.subCode, 0, keys());
        ASSERT_EQ(autosetLog().calls.size(), 1u);
        EXPECT_EQ(autosetLog().calls[0].function, row.function);
        EXPECT_EQ(autosetLog().calls[0].argument, row.argument);
        // The log reports nothing found.
        EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{std::string("screenMessage(8,") + row.text + ")",
                                                                "screenMessage(0,)", "screenMessage(7,)"}));
        EXPECT_EQ(pauses(), (std::vector<int>{100, 100}));
        // The restart message resumes the acquisition.
        EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(27, CH_ALL, ACQ_RESTART_32)});
        AcqResume(SYNCHRO_TIMEBASE_CHANGE);
    }
}

TEST_F(ParamPostTest, AutosetOutcomes)
{
    startRealTimeStandin();
    struct Row {
        const char* what;
        uint16_t mode;
        int subCode;
        bool finds;
        std::vector<std::string> screen;
        bool postsRun;
    };
    const std::vector<Row> rows = {
        {"found in the scope", 16, 2, true, {"screenMessage(8,trig on CH2)", "screenMessage(0,)", "screenMaj(27)"}, true},
        {"found in the dots mode", 19, 0, true, {"screenMessage(8,)", "screenMessage(0,)", "screenRaz()", "screenMaj(27)"}, true},
        {"nothing found", 16, 6, false, {"screenMessage(8,ch2)", "screenMessage(0,)", "screenMessage(7,)"}, false},
        {"unknown sub-code", 16, 18, true, {"screenMessage(0,)", "screenMessage(7,)"}, false},
        {"negative sub-code", 16, -1, true, {"screenMessage(0,)", "screenMessage(7,)"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        resetAutosetLog();
        primePassFailCounter();
        autosetLog().result = row.finds;
        data.instrumentMode = row.mode;
        data.voltsPerDivCh1 = -1.0f;
        bridge()->clear();

        const pipe_dial applied = set(param::autosetRequest, row.subCode, 0, keys());

        EXPECT_EQ(bridge()->calls(), row.screen);
        const std::vector<pipe_dial> run{{REQ_SET_PARAM, param::acqRunStop, 0, 0, 0.0f, 0}};
        EXPECT_EQ(inbox(), row.postsRun ? run : std::vector<pipe_dial>{});
        EXPECT_TRUE(passFailCleared());
        EXPECT_NE(data.voltsPerDivCh1, -1.0f);  // derived scales recomputed
        EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(27, CH_ALL, ACQ_RESTART_32)});
        EXPECT_EQ(measureBox(), std::vector<pipe_dial>{applied});
        AcqResume(SYNCHRO_TIMEBASE_CHANGE);
    }
}

TEST_F(ParamPostTest, AutosetLeavesTheAcquisitionSuspendedUntilTheRestart)
{
    startRealTimeStandin();
    ASSERT_EQ(startAcquisitionThread(&ACQU_id, acquisit, &param_calibr, 20, "acquisit"), 0);
    // The control thread's own first order (the full initialisation) is over first.
    ASSERT_TRUE(waitResumes(1));
    ASSERT_EQ(acquisitLog().orders.size(), 1u);
    autosetLog().result = true;
    const pipe_dial autoset = request(param::autosetRequest, 0, 0, keys());
    // Nothing reaches the acquisition control thread until the loop's restart message: apply
    // the parameter alone first.
    pipe_dial r = autoset;
    TRequestOutcome outcome;
    applyParameterRequest(r, outcome);
    EXPECT_EQ(acquisitLog().resumes.size(), 1u);
    pthread_mutex_lock(&o_g_acqSuspendedMutex);
    EXPECT_EQ(b_g_acqSuspended, 1);
    pthread_mutex_unlock(&o_g_acqSuspendedMutex);
    EXPECT_TRUE(outcome.acquisition);

    // The restart the loop sends resumes it, through the control thread (detail 1).
    TLongArray order{outcome.code, outcome.channelMask, outcome.actionBits, comm()};
    o_g_acquMessageBox.send(&order);
    ASSERT_TRUE(waitResumes(2));
    EXPECT_EQ(acquisitLog().resumes, (std::vector<uint32_t>{SYNCHRO_TIMEBASE_CHANGE, SYNCHRO_TIMEBASE_CHANGE}));
    ASSERT_EQ(acquisitLog().orders.size(), 2u);
    EXPECT_EQ(acquisitLog().orders[1], order);
}

// --- Reference capture ----------------------------------------------------------------------------

TEST_F(ParamPostTest, ReferenceCapture)
{
    startRealTimeStandin();
    const TLinks links = linkEverything();
    data.offsetCh1 = 100;
    data.offsetCh2 = 200;
    data.offsetCh4 = 400;
    data.fftOffsetCh2 = 20;
    data.fftOffsetCh4 = 40;

    // One channel.
    set(param::refCapture, 0x22, 0, keys());
    auto copies = traceCalls(TTraceCall::Assign);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].trace, links.reference[1]);
    EXPECT_EQ(copies[0].source, links.channel[1]);
    EXPECT_EQ(data.refShownCh2, 1);
    EXPECT_EQ(data.refOffsetCh2, 200);
    EXPECT_EQ(data.refFftOffsetCh2, 20);
    EXPECT_EQ(data.refShownCh1, 0);
    EXPECT_EQ(data.channelFlags, 0x20);
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(83, 240, ACQ_RESTART_CLEAR)});
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMaj(83)"});

    // Every shown channel.
    resetTraceCallLog();
    data.traceOnCh1 = data.traceOnCh4 = 1;
    set(param::refCapture, 255, 0, keys());
    copies = traceCalls(TTraceCall::Assign);
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].trace, links.reference[0]);
    EXPECT_EQ(copies[1].trace, links.reference[3]);
    EXPECT_EQ(copies[1].source, links.channel[3]);
    EXPECT_EQ(data.refShownCh1 + data.refShownCh2 + data.refShownCh4, 3);
    EXPECT_EQ(data.refOffsetCh1, 100);
    EXPECT_EQ(data.refOffsetCh4, 400);
    EXPECT_EQ(data.refFftOffsetCh4, 40);
    EXPECT_EQ(data.refShownCh3, 0);

    // Cleared.
    resetTraceCallLog();
    set(param::refCapture, 0, 0, keys());
    const auto cleared = traceCalls(TTraceCall::RazSignalNormalise);
    ASSERT_EQ(cleared.size(), 4u);
    EXPECT_EQ(cleared[3].trace, links.reference[3]);
    EXPECT_EQ(data.refShownCh1 + data.refShownCh2 + data.refShownCh3 + data.refShownCh4, 0);
    EXPECT_EQ(data.channelFlags, 0x9);

    // Any other value copies nothing.
    resetTraceCallLog();
    set(param::refCapture, 0x33, 0, keys());
    EXPECT_TRUE(traceCallLog().calls.empty());

    // The captures suspended the acquisition (a suspend that comes before the real-time thread
    // woke from the previous resume finds it still parked) and let it run again afterwards.
    // The real-time thread is idle here: after each resume it runs one cycle and parks again.
    ASSERT_TRUE(acquisitLogWait(
        [](const TAcquisitLog& s) { return !s.resumes.empty() && static_cast<size_t>(s.parks) == s.resumes.size() + 1; },
        5000));
    for (uint32_t detail : acquisitLog().resumes)
        EXPECT_EQ(detail, SYNCHRO_RESUME);
    EXPECT_EQ(AcqHandshakeMisuse().strayResumes, 0u);
}

// --- Calibration pseudo-parameters -------------------------------------------------------------------

TEST_F(ParamPostTest, CalibrationReadFillsTheTargetWithAChecksummedRecord)
{
    for (uint32_t i = 0; i < kCalibrationSize; ++i)
        calibrationBytes(param_calibr)[i] = static_cast<uint8_t>(i * 7);
    static calibration target;
    set(param::calibrationRead, reinterpret_cast<intptr_t>(&target), 0, scpi());

    uint32_t word;
    std::memcpy(&word, &target, sizeof word);
    EXPECT_EQ(word, Checksum(calibrationBytes(param_calibr) + 4, kCalibrationSize - 4));
    EXPECT_EQ(0, std::memcmp(&target, &param_calibr, sizeof target));
    // Nothing else follows; the SCPI request completes at once.
    EXPECT_TRUE(bridge()->calls().empty());
    EXPECT_TRUE(restarts().empty());
    EXPECT_EQ(scpiReleases(), 1);
    EXPECT_EQ(data.calibrationRead, static_cast<int16_t>(0xDEAD));

    // Without a target nothing is written anywhere.
    const calibration before = param_calibr;
    set(param::calibrationRead, 0, 0, scpi());
    EXPECT_EQ(0, std::memcmp(&before, &param_calibr, sizeof before));
}

TEST_F(ParamPostTest, CalibrationWriteCopiesTheRecordInAndRestarts)
{
    static calibration incoming;
    std::memset(&incoming, 0x5A, sizeof incoming);
    set(param::calibrationWrite, reinterpret_cast<intptr_t>(&incoming), 0, scpi());
    EXPECT_EQ(0, std::memcmp(&incoming, &param_calibr, sizeof incoming));
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(129, CH_ALL, ACQ_RESTART_32)});
    EXPECT_EQ(pendingAcknowledge, 8);
    EXPECT_EQ(data.calibrationWrite, static_cast<int16_t>(0xDEAD));

    const calibration before = param_calibr;
    set(param::calibrationWrite, 0, 0, scpi());
    EXPECT_EQ(0, std::memcmp(&before, &param_calibr, sizeof before));
}

TEST_F(ParamPostTest, CalibrationSaveStampsTheDateForRemoteRequestsAndReportsAFailure)
{
    struct Row {
        const char* who;
        intptr_t sender;
        bool mediumFails;
        bool stamps;
        std::vector<std::string> screen;
        int deviceError;
    };
    const std::vector<Row> rows = {
        {"screen, failed", 0, true, false, {"screenMessage(12,)", "screenMessage(0,)", "screenMessage(19,)"}, 5},
        {"scpi, failed", scpi(), true, true, {"screenMessage(12,)", "screenMessage(0,)"}, 22},
        {"scpi, saved", scpi(), false, true, {"screenMessage(12,)", "screenMessage(0,)"}, 0},
        {"keys, saved", keys(), false, true, {"screenMessage(12,)", "screenMessage(0,)"}, 5},
        {"screen, saved", 0, false, false, {"screenMessage(12,)", "screenMessage(0,)"}, 5},
    };
    const std::string dir = hostPath("/media/private");
    const std::string file = hostPath("/media/private/calibration.cal");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.who);
        // A private directory that is a plain file: nothing can be created in it.
        removeTree(dir);
        if (row.mediumFails)
            ASSERT_TRUE(writeBoardFile("/media/private", "not a directory"));
        else
            ASSERT_EQ(0, mkdir(dir.c_str(), 0777));
        std::memcpy(&param_calibr, &CalibUsine, sizeof param_calibr);
        setCalibrationDate(param_calibr, 1234);
        data.deviceError = 5;
        bridge()->clear();
        const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
        set(param::calibrationSave, 1, 0, row.sender);
        if (row.stamps)
            EXPECT_GE(calibrationDateOf(param_calibr), before);
        else
            EXPECT_EQ(calibrationDateOf(param_calibr), 1234u);
        const std::string saved = readHostFile(file);
        if (row.mediumFails) {
            EXPECT_TRUE(saved.empty());
        } else {
            ASSERT_EQ(saved.size(), 2550u);
            EXPECT_EQ(0, std::memcmp(saved.data() + 128, &param_calibr, sizeof param_calibr));
        }
        EXPECT_EQ(bridge()->calls(), row.screen);
        EXPECT_EQ(data.deviceError, row.deviceError);
        EXPECT_TRUE(restarts().empty());
    }
}

TEST_F(ParamPostTest, CalibrationStepFromScpiWaitsForTheOperationDone)
{
    set(param::calRange, 4, 0x1F, scpi());
    EXPECT_EQ(data.calRange, 4);
    EXPECT_EQ(messages(), std::vector<std::string>{"screenMessage(6,)"});
    EXPECT_EQ(pauses(), std::vector<int>{100});
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(127, 0x1F, ACQ_RESTART_FRONT_END)});
    EXPECT_EQ(pendingAcknowledge, 0x800);
    EXPECT_EQ(scpiReleases(), 0);

    // An acquisition acknowledgement does not release it; the end of the step does.
    pipe_dial acquired{REQ_ACQ_DONE, 0, 0, 0, 0.0f, senderValue(ACQU_id)};
    applyRequest(acquired);
    EXPECT_EQ(scpiReleases(), 0);
    pipe_dial stepDone{REQ_OPERATION_DONE, 1, 0, 0, 0.0f, realTime()};
    applyRequest(stepDone);
    EXPECT_EQ(scpiReleases(), 1);
    EXPECT_EQ(pendingAcknowledge, 0);
}

} // namespace
