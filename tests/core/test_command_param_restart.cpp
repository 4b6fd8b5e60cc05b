// Parameter requests, what follows the write: screen update, forwarding to the measure and bus
// threads, the acquisition restart with its channel rule, and the completion of SCPI requests.
#include "tests/core/command_fixture.h"

#include "hardware/calibration.h"

#include <string>

namespace {

class ParamRestartTest : public CommandParamTest {};

TEST_F(ParamRestartTest, WhenChangedRowsFollowTheStoredValue)
{
    struct Row {
        const char* what;
        int32_t parameter;
        intptr_t value;      // data holds `current` before each request
        intptr_t current;
        std::vector<TLongArray> restart;
        bool measured;
    };
    data.traceOnCh2 = 1;
    data.channelFlags = 0x2;
    const std::vector<Row> rows = {
        {"trigger level, same", param::trigLevelCh2, 250, 250, {}, false},
        {"trigger level, other", param::trigLevelCh2, 300, 250, {restart(114, CH_LIVE_2, ACQ_RESTART_CLEAR)}, false},
        {"time base, same", param::timeBaseIndex, 15, 15, {}, false},
        {"time base, other", param::timeBaseIndex, 16, 15, {restart(121, CH_ALL, ACQ_RESTART_CLEAR)}, true},
        // Judged on the stored 16 bits, not on the value sent.
        {"time base, same 16 bits", param::timeBaseIndex, 0x1000F, 15, {}, false},
        {"sensitivity, same", param::sensitivityCh2, 8, 8, {}, false},
        {"sensitivity, other", param::sensitivityCh2, 9, 8, {restart(56, CH_LIVE_2, ACQ_RESTART_CLEAR)}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        set_db(adr_par, type_par, row.parameter, static_cast<uint32_t>(row.current));
        data.userTimeBase = 7;
        bridge()->clear();
        const pipe_dial applied = set(row.parameter, row.value, 0, keys());
        // The time base is re-applied whether or not the index changed.
        if (row.parameter == param::timeBaseIndex) {
            EXPECT_EQ(data.userTimeBase, data.timeBaseIndex);
        }
        // The screen is told either way.
        EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMaj(" + std::to_string(row.parameter) + ")"});
        EXPECT_EQ(restarts(), row.restart);
        EXPECT_EQ(measureBox(), row.measured ? std::vector<pipe_dial>{applied} : std::vector<pipe_dial>{});
    }
}

TEST_F(ParamRestartTest, ChannelRuleMask)
{
    struct Row {
        const char* what;
        uint16_t mode;
        uint16_t channelFlags;
        int32_t mask;
    };
    const Row rows[] = {
        {"shown", 16, 0x004, 4},
        {"shown, other channels too", 16, 0x00F, 4},
        {"showing a stored memory", 16, 0x404, 1024},
        {"memory only", 16, 0x400, 1024},
        {"hidden: sent with mask 0", 16, 0x0B, 0},
        {"reference only: sent with mask 0", 16, 0x40, 0},
        {"shown in the dots mode", 19, 0x004, 15},
        {"memory in the dots mode", 19, 0x404, 1024},
    };
    // Offset, coupling, sensitivity, FFT offset, bandwidth limit of channel 3.
    for (int32_t parameter : {param::offsetCh3, param::couplingCh3, param::sensitivityCh3, param::fftOffsetCh3,
                              param::bwLimitCh3}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::to_string(parameter) + ": " + row.what);
            data.instrumentMode = row.mode;
            data.channelFlags = row.channelFlags;
            // A new value each time: sensitivities restart only on a change.
            const intptr_t value = get_db(adr_par, type_par, &data, parameter) + 1;
            pipe_dial r = request(parameter, value, 0, realTime());
            TRequestOutcome outcome;
            applyParameterRequest(r, outcome);
            ASSERT_TRUE(outcome.acquisition);
            EXPECT_EQ(outcome.code, parameter);
            EXPECT_EQ(outcome.channelMask, row.mask);
            EXPECT_EQ(outcome.actionBits, ACQ_RESTART_CLEAR);
        }
    }
}

TEST_F(ParamRestartTest, ChannelRuleResetsThePassFailCounterOfItsSource)
{
    for (int16_t source : {0, 1, 2, 3}) {
        SCOPED_TRACE(source);
        primePassFailCounter();
        data.passFailSource = source;
        set(param::offsetCh3, 100 + source, 0, keys());
        EXPECT_EQ(passFailCleared(), source == 2);
        restarts();
    }
}

TEST_F(ParamRestartTest, BusDiagnosisRestartsAsAcqRunStopAndStepsTheBusThread)
{
    struct Row {
        uint16_t mode;
        int16_t busDiag;
        int32_t step;
    };
    for (const Row row : {Row{17, 1, BUS_STEP_STOP}, Row{17, 0, BUS_STEP_START}, Row{16, 0, BUS_STEP_START}}) {
        SCOPED_TRACE(std::to_string(row.mode) + " busDiag " + std::to_string(row.busDiag));
        data.instrumentMode = row.mode;
        bridge()->clear();
        set(param::busDiag, row.busDiag, 0, keys());
        EXPECT_EQ(data.busDiag, row.busDiag);
        EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMaj(196)"});
        EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(3, CH_ALL, ACQ_RESTART_CLEAR)});
        const std::vector<pipe_dial> step{{REQ_BUS_STEP, row.step, 0, 0, 0.0f, comm()}};
        EXPECT_EQ(busBox(), row.mode == 17 ? step : std::vector<pipe_dial>{});
        EXPECT_TRUE(measureBox().empty());
    }
}

TEST_F(ParamRestartTest, XySourcesFollowOnlyRemoteRequests)
{
    for (intptr_t sender : {keys(), intptr_t{0}, realTime()}) {
        SCOPED_TRACE(sender);
        bridge()->clear();
        set(param::xySourceX, 2, 0, sender);
        EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMaj(59)"});
        EXPECT_TRUE(restarts().empty());
        EXPECT_TRUE(measureBox().empty());
    }
    for (intptr_t sender : {scpi(), web()}) {
        SCOPED_TRACE(sender);
        const pipe_dial applied = set(param::xySourceY, 3, 0, sender);
        EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(60, CH_ALL, ACQ_RESTART_FULL)});
        EXPECT_EQ(measureBox(), std::vector<pipe_dial>{applied});
    }
}

TEST_F(ParamRestartTest, XyZoomFollowsTheTimeZoomWhenBothSourcesAreOneChannel)
{
    data.xySourceX = 1;
    data.xySourceY = 2;
    set(param::vZoomFactor, 200, 40, keys());
    EXPECT_EQ(data.xyZoomFactor, 1.0f);
    EXPECT_EQ(data.xyZoomPosition, 0);

    set(param::xySourceY, 1, 0, keys());
    EXPECT_EQ(data.xyZoomFactor, 2.0f);
    EXPECT_EQ(data.xyZoomPosition, 40);

    // Even a request for the XY zoom itself.
    set(param::xyZoomFactor, 500, 7, keys());
    EXPECT_EQ(data.xyZoomFactor, 2.0f);
    EXPECT_EQ(data.xyZoomPosition, 40);
    EXPECT_EQ(restarts().size(), 2u);  // 94 and 101; 60 came from the keys
}

TEST_F(ParamRestartTest, ScopeOnlyRows)
{
    struct Row {
        int32_t parameter;
        intptr_t value;
    };
    for (uint16_t mode : {16, 19, 128, 64}) {
        const bool scope = (mode & 0x10) != 0;
        for (const Row row : {Row{param::cursor1Time, 100}, Row{param::manualCursorB, 200}, Row{param::cursorState, 1}}) {
            SCOPED_TRACE(std::to_string(mode) + ": " + std::to_string(row.parameter));
            data.instrumentMode = mode;
            bridge()->clear();
            const pipe_dial applied = set(row.parameter, row.value, 0, realTime());
            EXPECT_EQ(measureBox(), std::vector<pipe_dial>{applied});
            EXPECT_EQ(restarts(), scope ? std::vector<TLongArray>{restart(row.parameter, CH_ALL, ACQ_RESTART_CLEAR)}
                                        : std::vector<TLongArray>{});
            // Only the cursor state updates the screen, from its own post-processing.
            EXPECT_EQ(bridge()->calls(), row.parameter == param::cursorState ? std::vector<std::string>{"screenMaj(93)"}
                                                                             : std::vector<std::string>{});
        }
        bridge()->clear();
        set(param::trigStatus, 3, 0, realTime());
        EXPECT_EQ(bridge()->calls(), scope ? std::vector<std::string>{"screenMaj(34)"} : std::vector<std::string>{});
    }
}

TEST_F(ParamRestartTest, ScreenRulesOfTheSpecialRows)
{
    struct Row {
        const char* what;
        uint16_t mode;
        int32_t parameter;
        intptr_t value;
        std::vector<std::string> screen;
    };
    const std::vector<Row> rows = {
        {"format in the dots mode", 19, param::traceFormat, 0, {"screenRaz()"}},
        {"format in the scope", 16, param::traceFormat, 0, {"screenMaj(73)"}},
        {"spare word 29", 16, param::spareWord29, 1, {"screenRaz()"}},
        {"indicators", 16, param::indicatorMask, 3, {"screenMaj(74)"}},
        {"a parameter without rules", 16, param::userTimeBase, 3, {}},
        {"a derived field", 16, param::voltsPerDivCh1, 3, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        data.instrumentMode = row.mode;
        bridge()->clear();
        set(row.parameter, row.value, 0, realTime());
        EXPECT_EQ(bridge()->calls(), row.screen);
        drainAll();
    }
    // 29 restarts and goes to the bus thread like a mode change.
    data.instrumentMode = 17;
    const pipe_dial applied = set(param::spareWord29, 0, 0, realTime());
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(29, CH_ALL, ACQ_RESTART_32)});
    EXPECT_EQ(busBox(), std::vector<pipe_dial>{applied});
    EXPECT_EQ(measureBox(), std::vector<pipe_dial>{applied});
}

TEST_F(ParamRestartTest, NothingIsSentWhileACalibrationStepIsPending)
{
    pendingAcknowledge = 0x800;
    data.traceOnCh1 = 1;
    data.channelFlags = 1;
    for (int32_t parameter : {param::offsetCh1, param::timeBaseIndex, param::instrumentMode, param::calRange}) {
        SCOPED_TRACE(parameter);
        set(parameter, 17, 1, keys());
    }
    EXPECT_TRUE(restarts().empty());
    EXPECT_EQ(pendingAcknowledge, 0x800);
    EXPECT_FALSE(measureBox().empty());  // forwarding goes on
}

TEST_F(ParamRestartTest, ScpiSetIsReleasedAfterTheAcknowledgementOfItsRestart)
{
    startRealTimeStandin();
    data.traceOnCh2 = 1;
    data.channelFlags = 2;
    ASSERT_EQ(startAcquisitionThread(&ACQU_id, acquisit, &param_calibr, 20, "acquisit"), 0);
    // The control thread's own first order (the full initialisation) is over first; whatever
    // it reported is not this test's.
    ASSERT_TRUE(waitResumes(1));
    drain(o_g_consMessageBox);

    // A setting that changes nothing in the acquisition: released in its own pass.
    set(param::keyLock, 1, 0, scpi());
    EXPECT_EQ(scpiReleases(), 1);
    EXPECT_EQ(pendingAcknowledge, 0);

    // A restarting one waits for the control thread's acknowledgement.
    set(param::offsetCh2, 640, 0, scpi());
    EXPECT_EQ(scpiReleases(), 1);
    EXPECT_EQ(pendingAcknowledge, 8);

    pipe_dial done{};
    ASSERT_EQ(o_g_consMessageBox.receive(&done, true, 5), 0);
    EXPECT_EQ(done.kind, REQ_ACQ_DONE);
    ASSERT_EQ(acquisitLog().orders.size(), 2u);
    EXPECT_EQ(acquisitLog().orders[1], (TLongArray{10, CH_LIVE_2, ACQ_RESTART_CLEAR, comm()}));
    applyRequest(done);
    EXPECT_EQ(scpiReleases(), 2);
    EXPECT_EQ(pendingAcknowledge, 0);
    EXPECT_FALSE(b_g_scpiOrigin);
}

} // namespace
