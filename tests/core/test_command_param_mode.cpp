// Parameter requests, the mode change (instrumentMode, 38): message and pause, FPGA event lines,
// math functions and probes, the resets, the screen and where the request goes.
#include "acquisition/TFonction.h"
#include "tests/core/command_fixture.h"

#include "core/sysserv.h"

#include <cstring>
#include <string>

namespace {

class ParamModeTest : public CommandParamTest {};

TEST_F(ParamModeTest, MessageAndPauseByModeThenTheCommonSteps)
{
    struct Row {
        uint16_t mode;
        int message;  // -1: none, and no pause
    };
    const Row rows[] = {{16, 1}, {18, 1}, {17, 28}, {64, 3}, {128, 9}, {129, 9},
                        {130, 2}, {256, 4}, {19, -1}, {0x8000, -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 16;
        data.hwChannelMask = 15;
        data.busDiag = 0;
        data.memoryTraceCh2 = 1;
        data.zoomState = 2;
        data.zoomWidth = 4.0f;
        data.xyZoomFactor = 3.0f;
        data.meterAuxMeas = 2;
        simboard::clearLog();
        bridge()->clear();
        TPauseLog::instance().clear();

        const pipe_dial applied = set(param::instrumentMode, row.mode, 0, keys());

        std::vector<std::pair<int64_t, int64_t>> spiWrites;
        for (const simboard::TLogEntry& e : simboard::log({simboard::TLogKind::SpiWrite}))
            spiWrites.emplace_back(e.b, e.c);
        EXPECT_EQ(spiWrites, (std::vector<std::pair<int64_t, int64_t>>{{4, 31}}));
        std::vector<std::string> screen;
        if (row.message >= 0)
            screen.push_back("screenMessage(" + std::to_string(row.message) + ",)");
        screen.push_back("screenRaz()");
        EXPECT_EQ(bridge()->calls(), screen);
        EXPECT_EQ(pauses(), row.message >= 0 ? std::vector<int>{100} : std::vector<int>{});
        EXPECT_EQ(data.instrumentMode, row.mode);
        // No card: the home screen exposes the internal partition writable, the modes read-only.
        EXPECT_EQ(readHostFile(hostPath(kUsbLunFile)), row.mode == 0x8000 ? "/dev/mmcblk2p5" : "/dev/mmcblk2p7");
        EXPECT_EQ(readHostFile(hostPath(kUsbLunReadOnly)), row.mode == 0x8000 ? "0" : "1");
        EXPECT_EQ(data.busDiag, row.mode == 17 ? 1 : 0);
        EXPECT_EQ(data.meterAuxMeas, 1);
        // Memories and zooms are reset only where no message is shown.
        const bool silent = row.message < 0;
        EXPECT_EQ(data.memoryTraceCh2, silent ? 0 : 1);
        EXPECT_EQ(data.zoomState, silent ? 0 : 2);
        EXPECT_EQ(data.zoomWidth, silent ? 40.0f : 4.0f);
        EXPECT_EQ(data.xyZoomFactor, silent ? 1.0f : 3.0f);
        EXPECT_EQ(data.traceMode, row.mode == 17 ? 4 : init_par.traceMode);
        EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(38, CH_ALL, ACQ_RESTART_32)});
        EXPECT_EQ(measureBox(), std::vector<pipe_dial>{applied});
        busBox();
    }
}

TEST_F(ParamModeTest, MathFunctionsAreDroppedEnteringAMeterModeOrLeavingBusAnalysis)
{
    struct Row {
        uint16_t from, to;
        bool drops;
    };
    for (const Row row : {Row{16, 128, true}, Row{16, 130, true}, Row{17, 16, true}, Row{16, 64, false},
                          Row{64, 16, false}}) {
        SCOPED_TRACE(std::to_string(row.from) + " to " + std::to_string(row.to));
        const TLinks links = linkEverything();
        static char expression[] = "ch1*ch2/divv(4)";
        links.function[0]->SetFonctionString(expression, false);
        links.function[2]->SetFonctionString(expression, false);
        data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = 1;
        data.instrumentMode = row.from;

        set(param::instrumentMode, row.to, 0, keys());

        EXPECT_EQ(links.function[0]->IsDefined(), !row.drops);
        EXPECT_EQ(links.function[2]->IsDefined(), !row.drops);
        EXPECT_EQ(std::string(links.function[0]->text), row.drops ? "" : expression);
        EXPECT_EQ(data.traceOnCh1, row.drops ? 0 : 1);
        EXPECT_EQ(data.traceOnCh2, 1);  // no function: kept
        EXPECT_EQ(data.traceOnCh3, row.drops ? 0 : 1);
        EXPECT_EQ(data.channelFlags, row.drops ? 2 : 7);
        drainAll();
    }
}

TEST_F(ParamModeTest, LeavingTheViewerReadsTheProbesAgain)
{
    const TLinks links = linkEverything();
    data.instrumentMode = 256;
    data.memoryTraceCh1 = data.memoryTraceCh4 = 1;
    simboard::plugProbe(1, probeWithId(5));   // a probe on channel 2
    simboard::TProbeDescription damaged = probeWithId(0x1234);
    damaged.damage = "descriptor";
    simboard::plugProbe(2, damaged);           // one on channel 3 whose descriptor is damaged
    simboard::TProbeDescription headerError = probeWithId(7);
    headerError.damage = "header";
    simboard::plugProbe(3, headerError);       // one on channel 4 with a header error only
    simboard::clearLog();

    set(param::instrumentMode, 16, 0, keys());

    EXPECT_EQ(probeBusesRead(), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(data.memoryTraceCh1, 0);
    EXPECT_EQ(data.memoryTraceCh4, 0);
    EXPECT_EQ(data.traceOnCh1, 0);
    EXPECT_EQ(data.traceOnCh2, 1);
    EXPECT_EQ(data.traceOnCh3, 0);
    EXPECT_EQ(data.traceOnCh4, 1);
    const auto identified = traceCalls(TTraceCall::SetIdentifier);
    ASSERT_EQ(identified.size(), 2u);
    EXPECT_EQ(identified[0].trace, links.channel[1]);
    EXPECT_EQ(identified[0].identifier, 2);
    EXPECT_EQ(identified[1].trace, links.channel[3]);
    EXPECT_EQ(identified[1].identifier, 8);
    // Re-applied once for the probe, then for every channel in the resets.
    EXPECT_EQ(traceCalls(TTraceCall::SetAcquisitionParametres).size(), 2u + 4u);
    EXPECT_EQ(data.cursorState, 0);
    EXPECT_EQ(data.acqRunStop, 0);
}

TEST_F(ParamModeTest, TheResetsOfEveryModeChange)
{
    const TLinks links = linkEverything();
    data.refShownCh1 = data.refShownCh3 = 1;
    data.refCapture = 0x11;
    data.splitLayout = 1;
    data.keyToggleFlag = 1;
    data.saveRestart = 1;
    data.acqRunStop = 1;
    data.cursorState = 0;

    set(param::instrumentMode, 256, 0, keys());

    EXPECT_EQ(data.refShownCh1 + data.refShownCh3, 0);
    EXPECT_EQ(data.refCapture, 0);
    EXPECT_EQ(data.splitLayout, 0);
    EXPECT_EQ(data.keyToggleFlag, 0);
    EXPECT_EQ(data.saveRestart, 0);
    // The viewer shows the cursors and holds the acquisition.
    EXPECT_EQ(data.cursorState, 1);
    EXPECT_EQ(data.acqRunStop, 1);
    for (int index : {0, 1, 2, 3, 8, 9})
        EXPECT_TRUE(measurementRecordZero(links, index)) << index;
    // The hidden references lose their measurements too.
    for (int index : {4, 5, 6, 7})
        EXPECT_TRUE(measurementRecordZero(links, index)) << index;

    std::vector<const TAcquisition*> cleared;
    for (const TTraceCall& c : traceCalls(TTraceCall::RazSignalNormalise)) {
        EXPECT_TRUE(c.all);
        cleared.push_back(c.trace);
    }
    EXPECT_EQ(cleared, (std::vector<const TAcquisition*>{links.channel[0], links.channel[1], links.channel[2],
                                                         links.channel[3], links.reference[0], links.reference[1],
                                                         links.reference[2], links.reference[3], links.power}));
    const auto applied = traceCalls(TTraceCall::SetAcquisitionParametres);
    ASSERT_EQ(applied.size(), 4u);
    for (const TTraceCall& c : applied)
        EXPECT_TRUE(c.recordNull);

    // Leaving the viewer: cursors stay as set, the acquisition runs.
    set(param::instrumentMode, 16, 0, keys());
    EXPECT_EQ(data.cursorState, 0);
    EXPECT_EQ(data.acqRunStop, 0);
}

TEST_F(ParamModeTest, MeterAndHarmonicModesSetThePowerFunctions)
{
    const TLinks links = linkEverything();
    static char empty[] = "";
    setupLinks().powerFunctionA = new TFonction(8, empty);
    setupLinks().powerFunctionB = new TFonction(9, empty);
    auto text = [](TFonction* f) {
        char out[128] = {};
        return std::string(f->GetFonctionString(out, false));
    };
    auto powerWordCleared = [&links] {
        uint32_t word;
        std::memcpy(&word, links.measurements + 8 * kMeasurementRecordSize, sizeof word);
        return word == 0;
    };
    data.meterFunction = 9;
    set(param::instrumentMode, 128, 0, keys());
    EXPECT_EQ(text(setupLinks().powerFunctionA), "(ch1*ch2)/divv(4)");
    EXPECT_EQ(text(setupLinks().powerFunctionB), "(ch3*ch4)/divv(4)");
    EXPECT_TRUE(powerWordCleared());
    // Only hidden channels are marked for recomputing; the power record is not.
    EXPECT_NE(harmonicValidity(links, 4), 1u);

    std::memset(links.measurements + 8 * kMeasurementRecordSize, 0xAB, 4);
    set(param::instrumentMode, 64, 0, keys());
    EXPECT_EQ(text(setupLinks().powerFunctionA), "ch1*ch4/divv(4)");
    EXPECT_EQ(text(setupLinks().powerFunctionB), "");
    EXPECT_TRUE(powerWordCleared());
    for (int index = 0; index < kHarmonicRecords; ++index)
        EXPECT_EQ(harmonicValidity(links, index), 1u) << index;

    // Back to the scope: the power functions are left alone.
    set(param::instrumentMode, 16, 0, keys());
    EXPECT_EQ(text(setupLinks().powerFunctionA), "ch1*ch4/divv(4)");
    EXPECT_EQ(text(setupLinks().powerFunctionB), "");
}

TEST_F(ParamModeTest, TheBusThreadHearsOfEnteringAndLeavingBusAnalysis)
{
    struct Row {
        uint16_t from, to;
        bool forwarded;
    };
    for (const Row row : {Row{16, 17, true}, Row{17, 16, true}, Row{17, 128, true}, Row{17, 17, true},
                          Row{16, 128, false}, Row{128, 64, false}}) {
        SCOPED_TRACE(std::to_string(row.from) + " to " + std::to_string(row.to));
        data.instrumentMode = row.from;
        const pipe_dial applied = set(param::instrumentMode, row.to, 0, keys());
        EXPECT_EQ(busBox(), row.forwarded ? std::vector<pipe_dial>{applied} : std::vector<pipe_dial>{});
        drainAll();
    }
}

// What the bus thread sent before it learnt that the bus analysis was left (a stop, a step's
// setup image, which carries mode 17) must not bring the bus mode back behind the screen's
// back nor hold the next mode; in the bus mode it is applied.
TEST_F(ParamModeTest, TheBusThreadsLateRequestsAreDroppedOnceBusAnalysisIsLeft)
{
    startRealTimeStandin();
    const pthread_t saved = tBUS_id;
    tBUS_id = static_cast<pthread_t>(0xB005);
    static database image;
    for (uint16_t mode : {0x8000, 16, 17}) {
        SCOPED_TRACE(mode);
        data.instrumentMode = mode;
        data.acqRunStop = 0;
        data.timeBaseIndex = 5;
        std::memcpy(&image, &init_par, sizeof image);
        image.instrumentMode = 17;
        image.timeBaseIndex = 12;
        pipe_dial step{REQ_FILE, fileSetupApply, 0, reinterpret_cast<intptr_t>(&image), 0.0f, senderValue(tBUS_id)};
        applyRequest(step);
        set(param::acqRunStop, 1, 0, senderValue(tBUS_id));
        const bool bus = mode == 17;
        EXPECT_EQ(data.instrumentMode, mode);
        EXPECT_EQ(data.timeBaseIndex, bus ? 12 : 5);
        EXPECT_EQ(data.acqRunStop, bus ? 1 : 0);
        drainAll();
    }
    tBUS_id = saved;
}

// Entering the recorder, no file is its current one until its panel opens one.
TEST_F(ParamModeTest, TheRecorderStartsWithoutAFileName)
{
    for (uint16_t to : {130, 128, 0x8000}) {
        std::strcpy(data.loggerFileName, "tavlin_2026-12-10_15-59-03.rec");
        data.instrumentMode = 16;
        set(param::instrumentMode, to, 0, keys());
        EXPECT_EQ(std::string(data.loggerFileName), to == 130 ? "" : "tavlin_2026-12-10_15-59-03.rec") << to;
        drainAll();
    }
}

TEST_F(ParamModeTest, WithoutLinksNothingIsFollowed)
{
    data.meterFunction = 1;
    for (uint16_t mode : {256, 16, 128, 64, 17, 19}) {
        SCOPED_TRACE(mode);
        set(param::instrumentMode, mode, 0, keys());
        EXPECT_EQ(data.instrumentMode, mode);
    }
    EXPECT_TRUE(traceCallLog().calls.empty());
}

} // namespace
