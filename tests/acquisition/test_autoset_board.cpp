// Autoset on the simulated board, its pauses really slept: the settings found for each kind of
// signal, the counter sequence on the serial interface, and the failures that change nothing.
#include "tests/core/command_fixture.h"

#include "acquisition/autoset.h"
#include "board/deviceio.h"
#include "core/scale.h"
#include "hardware/calibration.h"
#include "hardware/fpga.h"
#include "hardware/frequencemeter.h"
#include "hardware/frontend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace {

simboard::TSignal signalOf(const char* shape, double vpp, double frequency, double offset = 0.0)
{
    simboard::TSignal s;
    s.shape = shape;
    s.vpp = vpp;
    s.frequency = frequency;
    s.offset = offset;
    return s;
}

class AutosetBoardTest : public CommandParamTest {
protected:
    void SetUp() override
    {
        CommandParamTest::SetUp();
        autosetObserver = nullptr;
        setPauseHook(nullptr);
        uioFd_ = deviceIO().open("/dev/uio0", O_RDWR);
        ASSERT_GE(uioFd_, 0);
        TRegisterWindow* window = deviceIO().mapRegisterWindow(uioFd_, 64u << 20, 0);
        ASSERT_NE(window, nullptr);
        pv_g_fpgaIoMem.store(window);
        FrontEndInit(&param_calibr);
    }

    void TearDown() override
    {
        if (TRegisterWindow* window = pv_g_fpgaIoMem.exchange(nullptr))
            deviceIO().unmapRegisterWindow(window);
        if (uioFd_ >= 0)
            deviceIO().close(uioFd_);
        CommandParamTest::TearDown();
    }

    // Only channel `channel` carries `signal`; the others are flat.
    static void onlyChannel(int channel, const simboard::TSignal& signal)
    {
        for (int ch = 0; ch < 4; ++ch)
            simboard::setSignal(ch, ch == channel ? signal : simboard::TSignal{});
    }

    struct TChannel {
        int16_t sensitivity, offset, coupling, trigLevel;
        uint8_t traceOn;
    };
    static TChannel channel(int ch)
    {
        const database& d = data;
        switch (ch) {
        case 0: return {d.sensitivityCh1, d.offsetCh1, d.couplingCh1, d.trigLevelCh1, d.traceOnCh1};
        case 1: return {d.sensitivityCh2, d.offsetCh2, d.couplingCh2, d.trigLevelCh2, d.traceOnCh2};
        case 2: return {d.sensitivityCh3, d.offsetCh3, d.couplingCh3, d.trigLevelCh3, d.traceOnCh3};
        default: return {d.sensitivityCh4, d.offsetCh4, d.couplingCh4, d.trigLevelCh4, d.traceOnCh4};
        }
    }
    static void setCoupling(int ch, int16_t coupling)
    {
        int16_t* c[4] = {&data.couplingCh1, &data.couplingCh2, &data.couplingCh3, &data.couplingCh4};
        *c[ch] = coupling;
    }

private:
    int uioFd_ = -1;
};

TEST_F(AutosetBoardTest, SingleChannelScenarios)
{
    // Sensitivity indices: 5 = 0.1 V/div, 6 = 0.2, 7 = 0.5, 8 = 1 V/div.
    struct Row {
        int channel;
        simboard::TSignal signal;
        int16_t coupling;
        int16_t sensitivity;
        int16_t timeBase;
        double periods;  // on the screen's 10 divisions
    };
    const Row rows[] = {
        {0, signalOf("sine", 2.0, 1000.0), 0, 7, 17, 5},
        {1, signalOf("square", 1.0, 4000.0), 1, 6, 15, 4},
        {2, signalOf("triangle", 0.5, 10000.0), 0, 5, 14, 5},
        {3, signalOf("sine", 5.0, 50.0), 1, 8, 21, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "channel " << row.channel + 1 << " " << row.signal.shape);
        std::memcpy(&data, &init_par, sizeof data);
        data.hwChannelMask = 15;
        data.instrumentMode = 16;
        onlyChannel(row.channel, row.signal);
        setCoupling(row.channel, row.coupling);
        ASSERT_TRUE(Autoset(4));
        const TChannel c = channel(row.channel);
        EXPECT_EQ(c.sensitivity, row.sensitivity);
        EXPECT_EQ(data.timeBaseIndex, row.timeBase);
        EXPECT_NEAR(GetHorizontalScaleT(static_cast<unsigned short>(data.timeBaseIndex)) * 100000.0
                        * row.signal.frequency, row.periods, 0.1);
        EXPECT_EQ(data.trigSource, row.channel);
        EXPECT_EQ(c.coupling, row.coupling);
        // AC keeps the position 0; DC centres the signal, here without offset.
        if (row.coupling == 0)
            EXPECT_EQ(c.offset, 0);
        else
            EXPECT_NEAR(c.offset, 0, 62);
        EXPECT_EQ(c.traceOn, 1);
        EXPECT_EQ(data.acqRunStop, 0);
    }
}

// The counter sequence goes out as raw data words; the counter sees the signal through the
// comparator at the programmed level (a 1 kHz sine counts 122 units of range 0).
TEST_F(AutosetBoardTest, CounterSequenceOnTheSerialInterface)
{
    onlyChannel(0, signalOf("sine", 2.0, 1000.0));
    TAutosetParams p;
    ASSERT_TRUE(AutosetSensibilite(0, &p));
    EXPECT_EQ(p.positionClass, 2);
    simboard::clearHistories();
    ASSERT_TRUE(AutosetBdt(0, &p));
    EXPECT_EQ(simboard::counterCount(0, 0), 122u);
    EXPECT_DOUBLE_EQ(p.period, 122 * 8.192e-6);
    EXPECT_EQ(p.timeBase, 17);
    EXPECT_FLOAT_EQ(p.watchTime, 1.667e-3f);
    EXPECT_EQ(p.triggerLevel, 0);

    struct Word {
        uint16_t mask, opcode, data;
        bool operator==(const Word& o) const { return mask == o.mask && opcode == o.opcode && data == o.data; }
    };
    std::vector<Word> words;
    bool begun = false;
    for (const simboard::TSerialCommand& c : simboard::serialCommands()) {
        begun = begun || (c.opcode == 0x0C2 && c.data == 18920);
        const bool counter = c.opcode == 0x0C1 || c.opcode == 0x0C2 || c.opcode == 0x0C6 || c.opcode == 0x0C7
            || c.opcode == 0x0CE || c.opcode == 0x1CF;
        if (begun && counter)
            words.push_back({c.mask, c.opcode, c.data});
    }
    const std::vector<Word> expected{
        {0xF, 0x0C2, 18920}, {0x1, 0x0C7, 2}, {0x1, 0x0C6, 6}, {0x1, 0x0C2, 18922},
        {0xF, 0x0C1, 68},    {0x1, 0x0CE, 10}, {0xF, 0x0C1, 80}, {0x1, 0x1CF, 0},
    };
    ASSERT_EQ(words.size(), expected.size());
    for (size_t i = 0; i < words.size(); ++i)
        EXPECT_TRUE(words[i] == expected[i]) << i << ": mask " << words[i].mask << " opcode 0x" << std::hex
                                             << words[i].opcode << std::dec << " data " << words[i].data;
}

// Nothing usable (or not on the requested channel): false, and the setup is untouched.
TEST_F(AutosetBoardTest, FailuresLeaveTheSetupByteIdentical)
{
    struct Row {
        const char* what;
        int signalChannel;  // -1: every input flat
        uint16_t channels;
        unsigned short which;
        bool vertical;
    };
    const Row rows[] = {
        {"a flat only channel", -1, 1, 4, false},
        {"the requested channel is flat", 0, 9, 3, false},
        {"no such channel", 0, 15, 5, false},
        {"vertical on a flat channel", -1, 15, 2, true},
        {"vertical on no channel", 0, 15, 4, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        onlyChannel(row.signalChannel, signalOf("sine", 2.0, 1000.0));
        data.hwChannelMask = row.channels;
        database before;
        std::memcpy(&before, &data, sizeof before);
        EXPECT_FALSE(row.vertical ? AutosetVertical(row.which) : Autoset(row.which));
        EXPECT_EQ(std::memcmp(&before, &data, sizeof before), 0);
    }
}

// In DC coupling the position brings the middle of the signal to the zero line.
TEST_F(AutosetBoardTest, DcOffsetIsCentred)
{
    onlyChannel(0, signalOf("sine", 1.0, 1000.0, 0.5));
    data.couplingCh1 = 1;
    data.trigCouplingCh1 = 1;
    ASSERT_TRUE(Autoset(0));
    EXPECT_EQ(data.sensitivityCh1, 6);
    EXPECT_EQ(data.couplingCh1, 1);
    const double centred = -0.5 / simboard::analogChannel(0).voltsPerDiv * 125.0;
    EXPECT_NEAR(data.offsetCh1, centred, 62.0);
    // Trigger coupling 1 keeps the level relative to the position.
    EXPECT_NEAR(data.trigLevelCh1, -data.offsetCh1, 75.0);
}

TEST_F(AutosetBoardTest, VerticalAutosetTouchesOnlyItsChannel)
{
    data.channelFlags = 0xFFF;
    data.refCapture = 0xFF;
    data.timeBaseIndex = 12;
    data.refShownCh3 = 1;
    data.memoryTraceCh3 = 1;
    for (int ch = 0; ch < 4; ++ch) {
        int16_t* sensitivity[4] = {&data.sensitivityCh1, &data.sensitivityCh2, &data.sensitivityCh3, &data.sensitivityCh4};
        int16_t* offset[4] = {&data.offsetCh1, &data.offsetCh2, &data.offsetCh3, &data.offsetCh4};
        *sensitivity[ch] = 11;
        *offset[ch] = 100;
    }
    database before;
    std::memcpy(&before, &data, sizeof before);
    ASSERT_TRUE(AutosetVertical(2));  // the default scenario's 10 kHz triangle, 0.5 Vpp
    EXPECT_EQ(data.sensitivityCh3, 5);
    EXPECT_EQ(data.offsetCh3, 0);
    EXPECT_EQ(data.couplingCh3, 0);
    EXPECT_EQ(data.traceOnCh3, 1);
    EXPECT_EQ(data.refShownCh3, init_par.refShownCh3);
    EXPECT_EQ(data.memoryTraceCh3, init_par.memoryTraceCh3);
    EXPECT_EQ(data.channelFlags, 0xFFF & ~0x440);
    EXPECT_EQ(data.refCapture, 0xFF & ~0x40);
    EXPECT_EQ(data.timeBaseIndex, 12);
    for (int ch : {0, 1, 3}) {
        SCOPED_TRACE(ch);
        const TChannel c = channel(ch);
        EXPECT_EQ(c.sensitivity, 11);
        EXPECT_EQ(c.offset, 100);
    }
    EXPECT_EQ(data.trigSource, before.trigSource);
    EXPECT_EQ(data.trigLevelCh1, before.trigLevelCh1);
}

// Channels 1-3 carry signals, channel 4 is flat: three found, channel 2 the reference (the
// largest time base, the later channel on a tie with channel 1).
TEST_F(AutosetBoardTest, DefaultScenarioTakesTheLaterOfTheSlowestChannels)
{
    // Settings an autoset brings back to their defaults, left elsewhere beforehand.
    using namespace param;
    const int restored[] = {
        trigType, trigEdgeCh1, trigEdgeCh4, noiseRejectCh2, noiseRejectCh3, zoomState, zoomWidth,
        horizPosition, sweepOffset, repSig, trigHoldoff, traceMode, minMax, bwLimitCh1, bwLimitCh4,
        traceFormat, refCapture, trigMode, channelFlags, traceOnCh4, memoryTraceCh1, memoryTraceCh4,
        refShownCh2, refShownCh3, vZoomFactor, vZoomPosition, xyZoomFactor, xyZoomPosition, averageCount,
    };
    for (int p : restored)
        set_db(adr_par, type_par, p, static_cast<uint32_t>(get_db(adr_par, type_par, &init_par, p) + 1));
    data.offsetCh4 = 77;
    ASSERT_TRUE(Autoset(4));
    for (int p : restored)
        EXPECT_EQ(get_db(adr_par, type_par, &data, p), get_db(adr_par, type_par, &init_par, p)) << "parameter " << p;
    EXPECT_EQ(data.trigSource, 1);
    EXPECT_EQ(data.timeBaseIndex, 17);
    const int16_t sensitivities[3] = {7, 6, 5};
    for (int ch = 0; ch < 3; ++ch) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(channel(ch).sensitivity, sensitivities[ch]);
        EXPECT_EQ(channel(ch).traceOn, 1);
    }
    EXPECT_EQ(data.offsetCh4, 77);
}

TEST_F(AutosetBoardTest, FftAutosetShiftsTheTimeBaseAndSetsTheOffsets)
{
    onlyChannel(0, signalOf("square", 2.0, 1000.0));
    data.couplingCh1 = 1;
    data.probeCoeffCh1 = 10.0f;
    data.probeCoeffCh2 = 0.0f;  // not a usable coefficient: counts as 1
    data.probeCoeffCh3 = -5.0f;
    data.probeCoeffCh4 = std::nanf("");
    data.sensitivityCh2 = 3;
    ASSERT_TRUE(Autoset(4));
    EXPECT_EQ(data.trigSource, 0);
    EXPECT_EQ(data.timeBaseIndex, 17);
    EXPECT_EQ(data.traceOnCh1, 1);
    ASSERT_TRUE(AutosetFft(4));
    EXPECT_EQ(data.timeBaseIndex, 21);
    EXPECT_EQ(data.traceFormat, 1);
    EXPECT_EQ(data.fftOffsetCh1, ts_g_cadrageFft[data.sensitivityCh1] - 250);
    EXPECT_EQ(data.fftOffsetCh2, ts_g_cadrageFft[3]);
    EXPECT_EQ(data.fftOffsetCh3, ts_g_cadrageFft[data.sensitivityCh3]);
    EXPECT_EQ(data.fftOffsetCh4, ts_g_cadrageFft[data.sensitivityCh4]);
}

// The controller's request runs the real search and restarts the acquisition.
TEST_F(AutosetBoardTest, ThroughTheControllersRequest)
{
    startRealTimeStandin();
    onlyChannel(0, signalOf("sine", 2.0, 1000.0));
    bridge()->clear();
    set(param::autosetRequest, 0, 0, keys());
    EXPECT_EQ(messages(), (std::vector<std::string>{"screenMessage(8,)", "screenMessage(0,)"}));
    EXPECT_EQ(bridge()->calls().back(), "screenMaj(27)");
    EXPECT_EQ(data.trigSource, 0);
    EXPECT_EQ(data.sensitivityCh1, 7);
    EXPECT_EQ(data.timeBaseIndex, 17);
    EXPECT_EQ(inbox(), (std::vector<pipe_dial>{{REQ_SET_PARAM, param::acqRunStop, 0, 0, 0.0f, 0}}));
    EXPECT_EQ(restarts(), std::vector<TLongArray>{restart(27, CH_ALL, ACQ_RESTART_32)});
    AcqResume(SYNCHRO_TIMEBASE_CHANGE);
}

} // namespace
