// What each key does, mode by mode: getRequest over a prepared setup, and the smart-probe keys.
#include "core/frontpanel.h"
#include "tests/core/command_fixture.h"

#include <cmath>
#include <functional>
#include <limits>
#include <linux/input.h>
#include <memory>

namespace {

constexpr intptr_t kKeys = 0x7A01;

pipe_dial set(int param, intptr_t value, intptr_t aux = 0)
{
    return pipe_dial{REQ_SET_PARAM, param, aux, value, 0.0f, kKeys};
}
pipe_dial screen(int32_t code, intptr_t value, intptr_t aux = 0)
{
    return pipe_dial{REQ_SCREEN, code, aux, value, 0.0f, kKeys};
}

const pipe_dial kInactive = screen(IhmMessage, MessageKeyInactive);

class KeyTablesTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        setKeySender(kKeys);
        for (TKeyFunction f : {KeyFunctionScope, KeyFunctionMeter, KeyFunctionHarmonic})
            setActiveKeyChannel(f, 0);
    }

    static std::vector<pipe_dial> keys(uint32_t mask, TPressType press, int32_t held = 0)
    {
        pipe_dial out[kKeyRecords] = {};
        const int n = getRequest(mask, press, held, out);
        return std::vector<pipe_dial>(out, out + n);
    }

    // The zoom record a request points to.
    static TZoomRect zoom(const pipe_dial& r) { return *reinterpret_cast<const TZoomRect*>(r.auxValue); }
};

struct Row {
    const char* what;
    std::function<void()> setup;
    uint32_t key;
    TPressType press;
    int32_t held;
    std::vector<pipe_dial> records;
};

// Each row on the defaults with its own changes.
template <size_t N>
void check(const Row (&rows)[N])
{
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::memcpy(&data, &init_par, sizeof(database));
        row.setup();
        pipe_dial out[kKeyRecords] = {};
        const int n = getRequest(row.key, row.press, row.held, out);
        EXPECT_EQ(std::vector<pipe_dial>(out, out + n), row.records);
    }
}

void scope(int active = 0)
{
    data.instrumentMode = 16;
    data.traceFormat = 0;
    setActiveKeyChannel(KeyFunctionScope, active);
}

TEST_F(KeyTablesTest, ScopeKeysByPressType)
{
    const int16_t maxOffset = max_par.offsetCh1;
    const int16_t maxSensitivity = max_par.sensitivityCh3;
    const Row rows[] = {
        {"sensitivity up on the active channel", [] { scope(2); data.sensitivityCh3 = 2; }, 0x10000, PRESS_SHORT, 0,
         {set(param::sensitivityCh3, 3)}},
        {"sensitivity up at its limit", [=] { scope(2); data.sensitivityCh3 = maxSensitivity; }, 0x10000, PRESS_REPEAT, 0,
         {set(param::sensitivityCh3, maxSensitivity)}},
        {"sensitivity down at 0", [] { scope(1); data.sensitivityCh2 = 0; }, 0x8000, PRESS_SHORT, 0,
         {set(param::sensitivityCh2, 0)}},
        {"offset up across zero stops at 0", [] { scope(); data.offsetCh1 = -5; }, 0x400, PRESS_SHORT, 0,
         {set(param::offsetCh1, 0)}},
        {"offset up", [] { scope(); data.offsetCh1 = 100; }, 0x400, PRESS_REPEAT, 2000000, {set(param::offsetCh1, 110)}},
        {"offset up after 2 s", [] { scope(); data.offsetCh1 = 100; }, 0x400, PRESS_REPEAT, 2050000,
         {set(param::offsetCh1, 150)}},
        {"offset held sends the current value", [] { scope(); data.offsetCh1 = 100; }, 0x400, PRESS_HELD, 2050000,
         {set(param::offsetCh1, 100)}},
        {"offset long sends the current value", [] { scope(); data.offsetCh1 = 100; }, 0x400, PRESS_LONG, 400000,
         {set(param::offsetCh1, 100)}},
        {"offset up at the limit", [=] { scope(); data.offsetCh1 = static_cast<int16_t>(maxOffset - 3); }, 0x400,
         PRESS_SHORT, 0, {set(param::offsetCh1, maxOffset)}},
        {"offset down across zero stops at 0", [] { scope(); data.offsetCh1 = 5; }, 0x800, PRESS_SHORT, 0,
         {set(param::offsetCh1, 0)}},
        {"offset down at minus the limit", [=] { scope(); data.offsetCh1 = static_cast<int16_t>(3 - maxOffset); },
         0x800, PRESS_SHORT, 0, {set(param::offsetCh1, -maxOffset)}},
        {"FFT offset", [] { scope(3); data.traceFormat = 1; data.fftOffsetCh4 = 7; }, 0x400, PRESS_SHORT, 0,
         {set(param::fftOffsetCh4, 17)}},
        {"coupling steps on the long press and every later tick", [] { scope(); data.couplingCh1 = 0; }, 0x20000,
         PRESS_HELD, 0, {set(param::couplingCh1, 1)}},
        {"trigger mode held", [] { scope(); data.trigMode = 0; }, 0x100, PRESS_HELD, 0, {set(param::trigMode, 1)}},
        {"run/stop", [] { scope(); data.acqRunStop = 1; }, 0x8, PRESS_SHORT, 0, {set(param::acqRunStop, 0)}},
        {"run/stop from 2", [] { scope(); data.acqRunStop = 2; }, 0x8, PRESS_LONG, 0, {set(param::acqRunStop, 1)}},
        {"edge of the trigger source", [] { scope(); data.trigSource = 2; data.trigEdgeCh3 = 0; }, 0x2000, PRESS_SHORT,
         0, {set(param::trigEdgeCh3, 1)}},
        {"toggle short or long only", [] { scope(); data.keyToggleFlag = 0; }, 0x4000, PRESS_HELD, 0, {}},
        {"reference capture", [] { scope(); data.refCapture = 0; }, 0x10, PRESS_LONG, 0, {set(param::refCapture, 255)}},
        {"autoset", [] { scope(); }, 0x1, PRESS_SHORT, 0, {set(param::autosetRequest, 0)}},
        {"autoset in FFT", [] { scope(); data.traceFormat = 1; }, 0x200001, PRESS_LONG, 0,
         {set(param::autosetRequest, 11)}},
        {"time base", [] { scope(); data.timeBaseIndex = 5; }, 0x2, PRESS_SHORT, 0, {set(param::timeBaseIndex, 4)}},
        {"brightness down stops at 3", [] { scope(); data.displayBrightness = 3; }, 0x1000000, PRESS_SHORT, 0,
         {set(param::displayBrightness, 3)}},
        {"brightness up", [] { scope(); data.displayBrightness = 8; }, 0x80000, PRESS_SHORT, 0,
         {set(param::displayBrightness, 9)}},
        {"home screen", [] { scope(); }, 0x2000000, PRESS_HELD, 0, {}},
        {"direct command, then the reference channel",
         [] { scope(); }, 0x4200000, PRESS_SHORT, 0, {screen(IhmDirectCommand, 0), set(param::measRefChannel, 2)}},
        {"trigger on channel 4", [] { scope(); }, 0x840000, PRESS_LONG, 0,
         {set(param::trigSource, 3), set(param::trigLevelAuto, 1)}},
        {"cursor state 3 sends nothing", [] { scope(); data.cursorState = 3; }, 0x10000000, PRESS_SHORT, 0, {}},
        {"split screen", [] { scope(); data.splitLayout = 1; }, 0x1000, PRESS_SHORT, 0, {set(param::splitLayout, 0)}},
        {"a key the mode does not list: short", [] { scope(); }, 0x40000000, PRESS_SHORT, 0, {kInactive}},
        {"a key the mode does not list: long", [] { scope(); }, 0x40000000, PRESS_LONG, 0, {}},
        {"key help", [] { scope(); data.keyHelpOn = 1; }, 0x2, PRESS_SHORT, 0, {screen(IhmKeyHelp, 121, 0x2)}},
        {"key help of an unlisted key", [] { scope(); data.keyHelpOn = 1; }, 0x40000000, PRESS_HELD, 0,
         {screen(IhmKeyHelp, -1, 0x40000000)}},
        {"the power key acts with the key help on", [] { scope(); data.keyHelpOn = 1; }, kKeyPower, PRESS_LONG, 0,
         {set(param::powerOffRequest, 0)}},
        {"the power key's short press", [] { scope(); }, kKeyPower, PRESS_SHORT, 0,
         {pipe_dial{REQ_SCREEN_SAVER, 5, 0, 0, 0.0f, kKeys}}},
        {"locked: short", [] { scope(); data.keyLock = 1; }, 0x10000, PRESS_SHORT, 0, {kInactive}},
        {"locked: repeat", [] { scope(); data.keyLock = 1; }, 0x10000, PRESS_REPEAT, 0, {}},
        {"locked: no key help", [] { scope(); data.keyLock = 1; data.keyHelpOn = 1; }, 0x2, PRESS_SHORT, 0, {kInactive}},
        {"locked: the power key still powers off", [] { scope(); data.keyLock = 1; }, kKeyPower, PRESS_LONG, 0,
         {set(param::powerOffRequest, 0)}},
        {"hardcopy", [] { scope(); }, 0x200, PRESS_SHORT, 0,
         {pipe_dial{REQ_SET_PARAM, param::hardcopyRequest, 0, 0, 0.0f, kSenderHardcopyKey}}},
        {"hardcopy: short press only", [] { scope(); }, 0x200, PRESS_LONG, 0, {}},
    };
    check(rows);
}

TEST_F(KeyTablesTest, ChannelKeysInEveryModeWithAChannel)
{
    const Row rows[] = {
        {"show", [] { scope(); }, 0x100000, PRESS_SHORT, 0, {set(param::traceOnCh1, 1)}},
        {"show a flagged channel", [] { scope(); data.channelFlags = 0x200; }, 0x200000, PRESS_SHORT, 0, {}},
        {"hide", [] { scope(); }, 0x400000, PRESS_DOUBLE, 0, {set(param::traceOnCh3, 0)}},
        {"autoset", [] { scope(); }, 0x800000, PRESS_LONG, 0, {set(param::autosetRequest, 8)}},
        {"held", [] { scope(); }, 0x800000, PRESS_HELD, 0, {}},
        {"harmonic autoset", [] { data.instrumentMode = 64; }, 0x800000, PRESS_LONG, 0, {set(param::autosetRequest, 8)}},
        {"harmonic autoset in FFT", [] { data.instrumentMode = 64; data.traceFormat = 1; }, 0x800000, PRESS_LONG, 0,
         {set(param::autosetRequest, 17)}},
        {"meter auto-range", [] { data.instrumentMode = 128; data.meterAutoRangeCh2 = 0; }, 0x200000, PRESS_LONG, 0,
         {set(param::meterAutoRangeCh2, 1)}},
        {"no channel keys in the recorder", [] { data.instrumentMode = 256; }, 0x200000, PRESS_SHORT, 0, {kInactive}},
    };
    check(rows);
    // The press made the channel active in its mode.
    EXPECT_EQ(activeKeyChannel(KeyFunctionScope), 3);
    EXPECT_EQ(activeKeyChannel(KeyFunctionHarmonic), 3);
    EXPECT_EQ(activeKeyChannel(KeyFunctionMeter), 1);
}

TEST_F(KeyTablesTest, MeterKeysAndTheirChannelOneRules)
{
    auto meter = [](int active, int16_t function) {
        data.instrumentMode = 128;
        data.meterFunction = function;
        setActiveKeyChannel(KeyFunctionMeter, active);
    };
    const Row rows[] = {
        {"range down", [=] { meter(0, 0); data.meterRangeCh1 = 2; }, 0x8000, PRESS_SHORT, 0, {set(param::meterRangeCh1, 1)}},
        {"resistance range", [=] { meter(0, 1); data.ohmRange = 0; }, 0x8000, PRESS_SHORT, 0, {set(param::ohmRange, 0)}},
        {"capacitance range stops at 1", [=] { meter(0, 3); data.capaRange = 1; }, 0x8000, PRESS_SHORT, 0,
         {set(param::capaRange, 1)}},
        {"capacitance range up", [=] { meter(0, 3); data.capaRange = 1; }, 0x10000, PRESS_REPEAT, 0,
         {set(param::capaRange, 2)}},
        {"channel 3 ignores the function", [=] { meter(2, 1); data.meterRangeCh3 = 0; }, 0x10000, PRESS_SHORT, 0,
         {set(param::meterRangeCh3, 1)}},
        {"coupling of channel 1 in resistance", [=] { meter(0, 1); }, 0x20000, PRESS_SHORT, 0, {}},
        {"coupling of channel 1 with bit 3", [=] { meter(0, 8); data.meterCouplingCh1 = 0; }, 0x20000, PRESS_SHORT, 0,
         {set(param::meterCouplingCh1, 4)}},
        {"coupling 10", [=] { meter(0, 0); data.meterCouplingCh1 = 10; }, 0x20000, PRESS_SHORT, 0,
         {set(param::meterCouplingCh1, 1)}},
        {"coupling above 10", [=] { meter(1, 1); data.meterCouplingCh2 = 12; }, 0x20000, PRESS_SHORT, 0,
         {set(param::meterCouplingCh2, 1)}},
        {"negative coupling", [=] { meter(1, 1); data.meterCouplingCh2 = -1; }, 0x20000, PRESS_SHORT, 0,
         {set(param::meterCouplingCh2, 1)}},
        {"an unlisted key", [=] { meter(0, 0); }, 0x4, PRESS_SHORT, 0, {kInactive}},
    };
    check(rows);
}

TEST_F(KeyTablesTest, OtherModesAndZoomRecords)
{
    scope();
    data.zoomWidth = 40.0f;
    auto r = keys(0x80, PRESS_SHORT);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].code, param::zoomState);
    EXPECT_EQ(zoom(r[0]).windowPosition, 48750);
    data.zoomWidth = 4.0f;
    EXPECT_EQ(zoom(keys(0x80, PRESS_SHORT)[0]).windowWidth, 40.0f);

    data.traceFormat = 1;
    data.fftZoomWidth = 40.0f;
    r = keys(0x80, PRESS_SHORT);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].code, param::fftZoomState);
    EXPECT_EQ(zoom(r[0]).windowWidth, 1.0f);

    for (uint16_t mode : {uint16_t{16}, uint16_t{17}}) {
        data.instrumentMode = mode;
        data.traceFormat = 2;
        r = keys(0x80, PRESS_LONG);
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0], set(param::xyZoomFactor, 100));
        EXPECT_EQ(r[1].code, param::zoomState);
        EXPECT_EQ(zoom(r[1]).windowWidth, 40.0f);
    }

    data.instrumentMode = 256;
    data.zoomWidth = 40.0f;
    r = keys(0x80, PRESS_SHORT);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], set(param::horizPosition, 0));
    EXPECT_EQ(zoom(r[1]).windowPosition, 48750);

    data.instrumentMode = 0x8000;
    EXPECT_EQ(keys(0x4000, PRESS_SHORT), std::vector<pipe_dial>{screen(IhmExit, 180)});
    EXPECT_EQ(keys(0x8, PRESS_SHORT), std::vector<pipe_dial>{kInactive});
    data.instrumentMode = 130;
    EXPECT_EQ(keys(0x1000, PRESS_SHORT), std::vector<pipe_dial>{set(param::splitLayout, data.splitLayout ^ 1)});
}

TEST_F(KeyTablesTest, HorizontalStepsBoundedByTheZoomWidth)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct H {
        float width;
        uint32_t key;
        TPressType press;
        int32_t held;
        int32_t from;
        int32_t to;
    };
    const H rows[] = {
        {40.0f, 0x4, PRESS_SHORT, 0, 0, 0},            // the whole record: nowhere to go
        {4.0f, 0x4, PRESS_SHORT, 0, 500, 600},
        {4.0f, 0x4, PRESS_REPEAT, 2050000, 500, 1500},
        {4.0f, 0x4, PRESS_SHORT, 0, 89950, 90000},
        {4.0f, 0x4, PRESS_SHORT, 0, -50, 0},
        {4.0f, 0x4, PRESS_DOUBLE, 0, 500, 500},
        {4.0f, 0x40, PRESS_SHORT, 0, 50, 0},
        {4.0f, 0x40, PRESS_LONG, 0, 500, 400},
        {nan, 0x40, PRESS_REPEAT, 2050000, 20000, 10000},
        {-3.0f, 0x40, PRESS_REPEAT, 2050000, 20000, 10000},
        {1e9f, 0x4, PRESS_SHORT, 0, 0, 0},
    };
    for (const H& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + " " + std::to_string(row.from));
        scope();
        data.zoomWidth = row.width;
        data.horizPosition = row.from;
        EXPECT_EQ(keys(row.key, row.press, row.held), std::vector<pipe_dial>{set(param::horizPosition, row.to)});
    }
    scope();
    data.traceFormat = 1;
    data.fftZoomWidth = 4.0f;
    data.fftHorizPosition = 500;
    EXPECT_EQ(keys(0x4, PRESS_SHORT), std::vector<pipe_dial>{set(param::fftHorizPosition, 600)});
}

TEST_F(KeyTablesTest, NextUsableChannel)
{
    struct N {
        uint16_t mode;
        int16_t from;
        uint16_t flags;
        std::vector<pipe_dial> records;
    };
    const N rows[] = {
        {16, 1, 0x4, {set(param::measRefChannel, 4)}},
        {16, 2, 0x0, {set(param::measRefChannel, 2)}},
        {16, 8, 0x100, {set(param::measRefChannel, 1)}},
        {16, 4, 0x4, {set(param::measRefChannel, 4)}},
        {16, 8191, 0x2, {}},
        {130, 8191, 0x2, {set(param::measRefChannel, 2)}},
        {130, 8191, 0x0, {set(param::measRefChannel, 8191)}},
        {130, 0, 0x800, {set(param::measRefChannel, 8)}},
        {130, 0, 0x0, {set(param::measRefChannel, 0)}},
    };
    for (const N& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + " " + std::to_string(row.from) + " " + std::to_string(row.flags));
        data.instrumentMode = row.mode;
        data.measRefChannel = row.from;
        data.channelFlags = row.flags;
        EXPECT_EQ(keys(0x8000000, PRESS_SHORT), row.records);
    }
}

TEST_F(KeyTablesTest, PowerKeyBeepsAndRepeatPulses)
{
    scope();
    const size_t leds = simboard::ledHistory().size();
    keys(0x10000, PRESS_SHORT);
    EXPECT_EQ(simboard::ledHistory().size(), leds);
    keys(kKeyPower, PRESS_LONG);
    EXPECT_GT(simboard::ledHistory().size(), leds);

    const uint32_t pulses = simboard::reg20().pulse24Count;
    keys(0x10000, PRESS_HELD);
    keys(0x800000, PRESS_REPEAT);  // no record: no pulse
    EXPECT_EQ(simboard::reg20().pulse24Count, pulses);
    keys(0x10000, PRESS_REPEAT);
    EXPECT_EQ(simboard::reg20().pulse24Count, pulses + 1);

    pipe_dial out[kKeyRecords] = {};
    EXPECT_EQ(getRequest(0x10000, PRESS_SHORT, 0, nullptr), 0);
    EXPECT_EQ(getRequest(0x10000, PRESS_DOWN, 0, out), 0);
    EXPECT_EQ(getRequest(0x10000, PRESS_WAIT_SECOND, 0, out), 0);
}

TEST_F(KeyTablesTest, ProbeKeysActAsTheirButtons)
{
    auto probeKeys = [](uint32_t bits) {
        pipe_dial out[kKeyRecords] = {};
        const int n = getKalvexRequest(bits, out);
        return std::vector<pipe_dial>(out, out + n);
    };
    const pipe_dial event0{REQ_PROBE_EVENT, 0, 0, 0, 0.0f, kKeys};
    const pipe_dial event1{REQ_PROBE_EVENT, 1, 0, 0, 0.0f, kKeys};
    scope();
    EXPECT_EQ(probeKeys(0), std::vector<pipe_dial>{event0});
    EXPECT_EQ(probeKeys(0x4), std::vector<pipe_dial>{event1});  // no probe
    EXPECT_EQ(activeKeyChannel(KeyFunctionScope), 1);

    struct P {
        int index;
        int button;   // 1: status 5, 2: status 6, 3: status 7, 0: none pressed
        std::vector<pipe_dial> records;
    };
    data.timeBaseIndex = 5;
    data.sensitivityCh2 = 2;
    const P rows[] = {
        {2, 2, {set(param::timeBaseIndex, 4)}},         // second button, index 2: key 0x2
        {0, 1, {set(param::sensitivityCh2, 3)}},        // first button, index 0: key 0x10000
        {6, 2, {set(param::trigLevelAuto, 1)}},         // second button, index 6: key 0x40000
        {255, 1, {}},
        {7, 2, {}},
        {0, 3, {}},
        {0, 0, {event1}},
    };
    for (const P& row : rows) {
        SCOPED_TRACE(std::to_string(row.index) + " " + std::to_string(row.button));
        setActiveKeyChannel(KeyFunctionScope, 0);
        simboard::TProbeDescription d = probeWithId(0x8001);
        d.second = row.index;
        linkProbe(1, d);
        if (row.button)
            simboard::pressProbeButton(1, row.button);
        EXPECT_EQ(probeKeys(0x4 | 0x10), row.records);
        EXPECT_EQ(activeKeyChannel(KeyFunctionScope), 1);
    }
    data.instrumentMode = 130;
    EXPECT_TRUE(probeKeys(0x4).empty());
}

TEST_F(KeyTablesTest, ProgramDevicesReportEachLineEdgeOnceAndThePanelEvents)
{
    std::unique_ptr<TFrontPanelIO> panel = makePanelDevices();
    panel->openDevices();
    EXPECT_EQ(panel->wait(true), TPanelWait::Tick);
    for (int level : {1, 0}) {
        simboard::setGpioInput(114, level);
        EXPECT_EQ(panel->wait(true), TPanelWait::LineEdge);
        panel->readLine();
        EXPECT_EQ(panel->wait(true), TPanelWait::Tick) << "the edge was read: no flood";
    }
    panel->writeSpi(4, 31);
    panel->readSpi(12);
    simboard::pressKeys(0x8);
    EXPECT_EQ(panel->wait(false), TPanelWait::InputEvent);
    struct input_event ev {};
    EXPECT_TRUE(panel->readInputEvent(&ev));
    EXPECT_EQ(panel->readSpi(52), 0x8u);
    simboard::releaseKeys(0x8);
}

} // namespace
