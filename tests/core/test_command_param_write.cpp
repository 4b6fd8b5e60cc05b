// Parameter requests, the write: clamps, special writes, texts from senders' buffers, zoom
// rectangles, math functions and the writes that depend on the instrument mode.
#include "tests/core/command_fixture.h"

#include "hardware/kalvex.h"

#include <functional>
#include <string>

namespace {

class ParamWriteTest : public CommandParamTest {};

TEST_F(ParamWriteTest, ClampsAndSpecialWrites)
{
    struct Row {
        const char* what;
        int32_t parameter;
        intptr_t value;
        intptr_t aux;
        float floatValue;
        std::function<void()> check;
    };
    const std::vector<Row> rows = {
        {"sweepOffset below", param::sweepOffset, -100000, 0, 0, [] { EXPECT_EQ(data.sweepOffset, -92800); }},
        {"sweepOffset above", param::sweepOffset, 2000000, 0, 0, [] { EXPECT_EQ(data.sweepOffset, 1900000); }},
        {"sweepOffset inside", param::sweepOffset, -92799, 0, 0, [] { EXPECT_EQ(data.sweepOffset, -92799); }},
        {"trigHoldoff below", param::trigHoldoff, 7, 0, 0, [] { EXPECT_EQ(data.trigHoldoff, 8); }},
        {"trigHoldoff above", param::trigHoldoff, 1875000001, 0, 0, [] { EXPECT_EQ(data.trigHoldoff, 1875000000); }},
        {"trigHoldoff inside", param::trigHoldoff, 12345, 0, 0, [] { EXPECT_EQ(data.trigHoldoff, 12345); }},
        {"trigDelay above, unsigned", param::trigDelay, intptr_t{3000000000LL}, 0, 0,
         [] { EXPECT_EQ(data.trigDelay, 2500000000u); }},
        {"trigDelay -1 is the largest unsigned", param::trigDelay, -1, 0, 0,
         [] { EXPECT_EQ(data.trigDelay, 2500000000u); }},
        {"trigDelay below", param::trigDelay, 0, 0, 0, [] { EXPECT_EQ(data.trigDelay, 6u); }},
        {"trigDelay above 2^31", param::trigDelay, intptr_t{2400000000LL}, 0, 0,
         [] { EXPECT_EQ(data.trigDelay, 2400000000u); }},
        {"eventCount below", param::eventCount, 2, 0, 0, [] { EXPECT_EQ(data.eventCount, 3); }},
        {"eventCount above", param::eventCount, 16385, 0, 0, [] { EXPECT_EQ(data.eventCount, 16384); }},
        {"pulseT1 below", param::pulseT1, -5, 0, 0, [] { EXPECT_EQ(data.pulseT1, 2); }},
        {"pulseT1 above", param::pulseT1, 1875000001, 0, 0, [] { EXPECT_EQ(data.pulseT1, 1875000000); }},
        {"pulseT2 below", param::pulseT2, 1, 0, 0, [] { EXPECT_EQ(data.pulseT2, 2); }},
        {"pulseT2 inside", param::pulseT2, 1000, 0, 0, [] { EXPECT_EQ(data.pulseT2, 1000); }},
        {"eventDuration below", param::eventDuration, 4, 0, 0, [] { EXPECT_EQ(data.eventDuration, 5); }},
        {"eventDuration above", param::eventDuration, 100001, 0, 0, [] { EXPECT_EQ(data.eventDuration, 100000); }},
        {"zoomWidth back to the whole record", param::zoomWidth, 4000, 123, 0,
         [] {
             EXPECT_EQ(data.zoomWidth, 40.0f);
             EXPECT_EQ(data.horizPosition, 123);
             EXPECT_EQ(data.timeBaseIndex, 9);
         }},
        {"zoomWidth 1.5", param::zoomWidth, 150, 500, 0,
         [] {
             EXPECT_EQ(data.zoomWidth, 1.5f);
             EXPECT_EQ(data.horizPosition, 500);
             EXPECT_EQ(data.timeBaseIndex, 3);
         }},
        {"vZoomFactor", param::vZoomFactor, 150, 77, 0,
         [] {
             EXPECT_EQ(data.vZoomFactor, 1.5f);
             EXPECT_EQ(data.vZoomPosition, 77);
         }},
        {"fftVZoomFactor", param::fftVZoomFactor, 325, -8, 0,
         [] {
             EXPECT_EQ(data.fftVZoomFactor, 3.25f);
             EXPECT_EQ(data.fftVZoomPosition, -8);
         }},
        {"xyZoomFactor", param::xyZoomFactor, 199, 6, 0,
         [] {
             EXPECT_EQ(data.xyZoomFactor, 1.99f);
             EXPECT_EQ(data.xyZoomPosition, 6);
         }},
        {"fftZoomWidth", param::fftZoomWidth, 250, 1200, 0,
         [] {
             EXPECT_EQ(data.fftZoomWidth, 2.5f);
             EXPECT_EQ(data.fftHorizPosition, 1200);
         }},
        {"probe coefficient from floatValue", param::probeCoeffCh3, 7, 0, 10.5f,
         [] { EXPECT_EQ(data.probeCoeffCh3, 10.5f); }},
        {"measurement reference and indicators", param::measRefChannel, 4, 0, 0,
         [] {
             EXPECT_EQ(data.measRefChannel, 4);
             EXPECT_EQ(data.indicatorMask, 0xABC4);
         }},
        {"manual cursor A", param::manualCursorA, 4321, 500000, 0,
         [] {
             EXPECT_EQ(data.cursor1Time, 4321);
             EXPECT_EQ(data.cursor1Level, 500000);
             EXPECT_EQ(data.manualCursorA, static_cast<int16_t>(0xDEAD));
         }},
        {"manual cursor B", param::manualCursorB, 99, 400000, 0,
         [] {
             EXPECT_EQ(data.cursor2Time, 99);
             EXPECT_EQ(data.cursor2Level, 400000);
             EXPECT_EQ(data.cursor1Time, 5000);
         }},
        {"third cursor", param::cursor3Time, 77777, 0, 0, [] { EXPECT_EQ(data.cursor3Time, 77777); }},
        {"time base, 16 bits", param::timeBaseIndex, 0x10012, 0, 0,
         [] {
             EXPECT_EQ(data.timeBaseIndex, 0x12);
             EXPECT_EQ(data.userTimeBase, 0x12);  // applied
         }},
        {"colour, 16 bits", param::traceColorCh2, 0x10007, 3, 0, [] { EXPECT_EQ(data.traceColorCh2, 7); }},
        {"harmonic power, 16 bits", param::harmPower, 0x10001, 0, 0, [] { EXPECT_EQ(data.harmPower, 1); }},
        {"calibration read is not stored", param::calibrationRead, 0, 0, 0,
         [] { EXPECT_EQ(data.calibrationRead, static_cast<int16_t>(0xDEAD)); }},
        {"a link slot is not stored", param::acqCh2, 0x1234, 0, 0, [] { EXPECT_EQ(data.acqCh2Slot, 0u); }},
        {"plain parameter", param::averageCount, 3, 0, 0, [] { EXPECT_EQ(data.averageCount, 3); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 16;
        data.userTimeBase = 9;
        data.timeBaseIndex = 3;
        data.indicatorMask = 0xABCD;
        set(row.parameter, row.value, row.aux, 0, row.floatValue);
        row.check();
    }
}

TEST_F(ParamWriteTest, ColourReachesALinkedProbe)
{
    simboard::plugProbe(2, probeWithId(7));
    set(param::traceColorCh3, 5, 9);
    EXPECT_EQ(simboard::probeMemory(2)[36], 1);  // not linked: the header is left alone

    LectureKalvex(2, &data);  // links the probe
    set(param::traceColorCh3, 0x10006, 0x20009);
    const std::vector<uint8_t> memory = simboard::probeMemory(2);
    EXPECT_EQ(memory[36], 6);
    EXPECT_EQ(memory[37], 9);
    // A new reading finds a sound header with both bytes.
    TKalvex again(2);
    unsigned short colour = 0;
    unsigned short second = 0;
    EXPECT_EQ(again.getUserFields(&colour, &second), 0);
    EXPECT_EQ(colour, 6);
    EXPECT_EQ(second, 9);
}

// Every text comes from a sender's buffer that the controller may only read.
TEST_F(ParamWriteTest, TextsAreCutTerminatedAndNeverWrittenBack)
{
    data.voltsPerDivCh1 = -1.0f;  // recomputed once a unit changes
    // A literal lives in read-only memory: writing to it would crash the test.
    set(param::unitCh1, reinterpret_cast<intptr_t>("V"));
    EXPECT_EQ(std::string(data.unitCh1, 4), std::string("V\0\0\0", 4));

    const std::string longUnit = "mV/s";
    std::strcpy(data.unitCh2, "ABC");
    set(param::unitCh2, reinterpret_cast<intptr_t>(longUnit.c_str()));
    EXPECT_EQ(std::string(data.unitCh2, 4), std::string("mV/\0", 4));
    EXPECT_EQ(longUnit, "mV/s");

    const std::string expression(150, 'x');
    std::memset(data.mathExprCh3, 'q', sizeof data.mathExprCh3);
    set(param::mathExprCh3, reinterpret_cast<intptr_t>(expression.c_str()));
    EXPECT_EQ(std::string(data.mathExprCh3), std::string(99, 'x'));
    EXPECT_EQ(data.mathExprCh3[99], '\0');
    EXPECT_EQ(expression, std::string(150, 'x'));

    const std::string name(45, 'n');
    set(param::loggerFileName, reinterpret_cast<intptr_t>(name.c_str()));
    EXPECT_EQ(std::string(data.loggerFileName), std::string(39, 'n'));
    EXPECT_EQ(data.memoryTraceCh1, 0);  // the next field is untouched

    const pipe_dial rewritten = set(param::busFileName, reinterpret_cast<intptr_t>(name.c_str()));
    EXPECT_EQ(std::string(data.busFileName), std::string(39, 'n'));
    EXPECT_EQ(rewritten, (pipe_dial{REQ_BUS_STEP, BUS_STEP_LOAD, 0, reinterpret_cast<intptr_t>(data.busFileName),
                                    0.0f, comm()}));

    EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{"screenMaj(42)", "screenMaj(43)", "screenMaj(133)",
                                                            "screenMaj(195)"}));
    EXPECT_NE(data.voltsPerDivCh1, -1.0f);  // the units

    // Null texts empty the field.
    for (int32_t parameter : {param::unitCh4, param::mathExprCh1, param::loggerFileName, param::busFileName}) {
        SCOPED_TRACE(parameter);
        set(parameter, 0);
    }
    EXPECT_EQ(data.unitCh4[0], '\0');
    EXPECT_EQ(data.mathExprCh1[0], '\0');
    EXPECT_EQ(data.loggerFileName[0], '\0');
    EXPECT_EQ(data.busFileName[0], '\0');
}

TEST_F(ParamWriteTest, BusFileNameIsAnnouncedToTheBusThreadInBusMode)
{
    data.instrumentMode = 17;
    set(param::busFileName, reinterpret_cast<intptr_t>("CAN_500k.bus"), 0, keys());
    EXPECT_EQ(busBox(), (std::vector<pipe_dial>{{REQ_BUS_STEP, BUS_STEP_LOAD, 0,
                                                  reinterpret_cast<intptr_t>(data.busFileName), 0.0f, comm()}}));
    EXPECT_STREQ(data.busFileName, "CAN_500k.bus");
    EXPECT_TRUE(restarts().empty());
    EXPECT_TRUE(measureBox().empty());
}

TEST_F(ParamWriteTest, ZoomRectangles)
{
    const TZoomRect rect{2.5f, -300, 8.0f, 40000};

    set(param::zoomState, 4, reinterpret_cast<intptr_t>(&rect));
    EXPECT_EQ(data.vZoomFactor, 2.5f);
    EXPECT_EQ(data.vZoomPosition, -300);
    EXPECT_EQ(data.zoomWidth, 8.0f);
    EXPECT_EQ(data.horizPosition, 40000);
    EXPECT_EQ(data.zoomState, 2);

    set(param::fftZoomState, 4, reinterpret_cast<intptr_t>(&rect));
    EXPECT_EQ(data.fftVZoomFactor, 2.5f);
    EXPECT_EQ(data.fftVZoomPosition, -300);
    EXPECT_EQ(data.fftZoomWidth, 8.0f);
    EXPECT_EQ(data.fftHorizPosition, 40000);
    EXPECT_EQ(data.fftZoomState, 2);

    // Without a rectangle nothing changes, the state included.
    std::memcpy(&data, &init_par, sizeof data);
    data.instrumentMode = 16;
    set(param::zoomState, 4, 0);
    set(param::fftZoomState, 4, 0);
    EXPECT_EQ(data.zoomState, 0);
    EXPECT_EQ(data.fftZoomState, 0);
    EXPECT_EQ(data.vZoomFactor, 1.0f);
    EXPECT_EQ(data.horizPosition, 0);

    set(param::zoomState, 1);
    set(param::fftZoomState, 1);
    EXPECT_EQ(data.zoomState, 1);
    EXPECT_EQ(data.fftZoomState, 1);

    // The time display's zoom follows the time base: 7/40 of 100 us a division is matched
    // to 20 us a division.
    const TZoomRect odd{1.0f, 0, 7.0f, 0};
    data.userTimeBase = 15;
    set(param::zoomState, 4, reinterpret_cast<intptr_t>(&odd));
    EXPECT_FLOAT_EQ(data.zoomWidth, 8.0f);
}

TEST_F(ParamWriteTest, HardcopyTakesTheNameOrTheDefault)
{
    static char name[] = "/media/user/shot.png";
    set(param::hardcopyRequest, reinterpret_cast<intptr_t>(name));
    set(param::hardcopyRequest, 0);
    EXPECT_EQ(bridge()->calls(), (std::vector<std::string>{"screenHardcopy(/media/user/shot.png)", "screenMaj(30)",
                                                            "screenHardcopy()", "screenMaj(30)"}));
    EXPECT_EQ(data.hardcopyRequest, 0);
}

TEST_F(ParamWriteTest, MathFunctionCompilesTheChannelsExpression)
{
    const TLinks links = linkEverything();
    data.refShownCh2 = 1;
    data.memoryTraceCh2 = 1;
    data.traceOnCh2 = 0;
    set(param::mathExprCh2, reinterpret_cast<intptr_t>("ch1*ch2/divv(4)"));
    data.voltsPerDivCh1 = -1.0f;

    set(param::mathFunctionCh2, 0);

    EXPECT_TRUE(links.function[1]->IsDefined());
    EXPECT_STREQ(links.function[1]->text, "ch1*ch2/divv(4)");
    EXPECT_EQ(data.traceOnCh2, 1);
    EXPECT_EQ(data.refShownCh2, 0);
    EXPECT_EQ(data.memoryTraceCh2, 0);
    EXPECT_EQ(data.channelFlags, 2);
    EXPECT_NE(data.voltsPerDivCh1, -1.0f);  // derived scales recomputed
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(67, CH_LIVE_2, ACQ_RESTART_FULL)});

    // An empty expression: not defined, the flags stay.
    data.refShownCh4 = 1;
    set(param::mathFunctionCh4, 0);
    EXPECT_FALSE(links.function[3]->IsDefined());
    EXPECT_EQ(data.refShownCh4, 1);
    EXPECT_EQ(data.traceOnCh4, 0);

    // Without a function object only the helpers run.
    setupLinks().mathFunctionCh1 = nullptr;
    data.channelFlags = 0xFFFF;
    data.voltsPerDivCh1 = -1.0f;
    set(param::mathFunctionCh1, 0);
    EXPECT_EQ(data.channelFlags, 0x82);  // rebuilt: channel 2 and reference 4
    EXPECT_NE(data.voltsPerDivCh1, -1.0f);
}

TEST_F(ParamWriteTest, ParameterAbove221DoesNothingButTheScpiRequestCompletes)
{
    std::vector<unsigned char> before(sizeof data);
    std::memcpy(before.data(), &data, sizeof data);
    for (int32_t code : {222, 0xFFFF, 0x7FFFFFFF}) {
        SCOPED_TRACE(code);
        set(code, 5, 5, scpi());
    }
    EXPECT_EQ(0, std::memcmp(before.data(), &data, sizeof data));
    EXPECT_TRUE(bridge()->calls().empty());
    EXPECT_TRUE(restarts().empty());
    EXPECT_TRUE(measureBox().empty());
    EXPECT_EQ(scpiReleases(), 3);
}

TEST_F(ParamWriteTest, TraceModeZeroPostsTheDotsModeAndStops)
{
    set(param::traceMode, 0, 0, keys());
    EXPECT_EQ(data.traceMode, 0);
    EXPECT_EQ(inbox(), (std::vector<pipe_dial>{{REQ_SET_PARAM, param::instrumentMode, 0, 19, 0.0f, 0}}));
    EXPECT_TRUE(bridge()->calls().empty());
    EXPECT_TRUE(restarts().empty());
    EXPECT_TRUE(measureBox().empty());

    // Back from the dots mode: the switch to 16 is posted and this request goes on.
    data.instrumentMode = 19;
    const pipe_dial back = set(param::traceMode, 2, 0, keys());
    EXPECT_EQ(data.traceMode, 2);
    EXPECT_EQ(inbox(), (std::vector<pipe_dial>{{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0}}));
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"screenMaj(2)"});
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(2, CH_ALL, ACQ_RESTART_32)});
    EXPECT_EQ(measureBox(), std::vector<pipe_dial>{back});

    // Outside the dots mode nothing is posted.
    data.instrumentMode = 16;
    set(param::traceMode, 1, 0, keys());
    EXPECT_TRUE(inbox().empty());
}

TEST_F(ParamWriteTest, RecorderIgnoresMeterSettingsAndAHold)
{
    data.instrumentMode = 130;
    std::vector<unsigned char> before(sizeof data);
    std::memcpy(before.data(), &data, sizeof data);
    set(param::acqRunStop, 1, 0, keys());
    for (int32_t parameter = param::meterAuxMeas; parameter <= param::capaRange; ++parameter) {
        SCOPED_TRACE(parameter);
        set(parameter, 0x55, 0, keys());
    }
    EXPECT_EQ(0, std::memcmp(before.data(), &data, sizeof data));
    EXPECT_TRUE(bridge()->calls().empty());
    EXPECT_TRUE(restarts().empty());
    EXPECT_TRUE(inbox().empty());

    // Running again is allowed.
    data.acqRunStop = 1;
    set(param::acqRunStop, 0, 0, keys());
    EXPECT_EQ(data.acqRunStop, 0);
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(3, CH_ALL, ACQ_RESTART_CLEAR)});
}

TEST_F(ParamWriteTest, HandChosenMeterRangeEndsTheAutoRange)
{
    data.instrumentMode = 128;
    struct Row {
        int32_t parameter;
        uint8_t database::*autoRange;
    };
    const Row rows[] = {
        {param::meterRangeCh1, &database::meterAutoRangeCh1}, {param::ohmRange, &database::meterAutoRangeCh1},
        {param::capaRange, &database::meterAutoRangeCh1},     {param::meterRangeCh2, &database::meterAutoRangeCh2},
        {param::meterRangeCh3, &database::meterAutoRangeCh3}, {param::meterRangeCh4, &database::meterAutoRangeCh4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.parameter);
        for (intptr_t sender : {keys(), realTime()}) {
            data.meterAutoRangeCh1 = data.meterAutoRangeCh2 = data.meterAutoRangeCh3 = data.meterAutoRangeCh4 = 1;
            set(row.parameter, 2, 0, sender);
            EXPECT_EQ(get_db(adr_par, type_par, &data, row.parameter), 2);
            EXPECT_EQ(data.*row.autoRange, sender == realTime() ? 1 : 0);
            const int shownOff = (data.meterAutoRangeCh1 == 0) + (data.meterAutoRangeCh2 == 0)
                + (data.meterAutoRangeCh3 == 0) + (data.meterAutoRangeCh4 == 0);
            EXPECT_EQ(shownOff, sender == realTime() ? 0 : 1);
        }
    }
}

TEST_F(ParamWriteTest, MeterFunctionSwitchesToTheMatchingMeterMode)
{
    struct Row {
        uint16_t mode;
        int function;
        int posted;  // mode posted, 0 for none
    };
    const Row rows[] = {{16, 16, 129}, {128, 16, 129}, {129, 16, 0}, {129, 1, 128},
                        {128, 3, 0},   {16, 0, 128},   {64, 9, 128}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + " function " + std::to_string(row.function));
        data.instrumentMode = row.mode;
        set(param::meterFunction, row.function, 0, keys());
        EXPECT_EQ(data.meterFunction, row.function);
        const auto posted = inbox();
        if (row.posted)
            EXPECT_EQ(posted, (std::vector<pipe_dial>{{REQ_SET_PARAM, param::instrumentMode, 0, row.posted, 0.0f, 0}}));
        else
            EXPECT_TRUE(posted.empty());
    }
}

} // namespace
