// Board logic: outputs and inputs, start-up and screen-saver sequences, the blink, channel
// powering with its delayed power-down, and register 20 under concurrent writers.
#include "tests/hardware/hwtest.h"

#include "acquisition/TFonction.h"
#include "hardware/CmdesBase.h"
#include "hardware/handshake.h"

#include <functional>
#include <thread>

namespace {
std::vector<std::string> sysfsTexts()
{
    std::vector<std::string> out;
    for (const auto& w : simboard::sysfsWrites())
        out.push_back(w.path + " " + w.text);
    return out;
}

const std::string kGpio = "/sys/class/gpio/gpio";
const std::string kBlPower = "/sys/class/backlight/backlight.22/bl_power";
const std::string kBlBrightness = "/sys/class/backlight/backlight.22/brightness";
const std::string kLed = "/sys/class/leds/led426/";

itimerspec timerState(timer_t id)
{
    itimerspec t{};
    timer_gettime(id, &t);
    return t;
}
double seconds(const timespec& t)
{
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}
} // namespace

TEST_F(HardwareTest, CmdeLogiqueOutputs)
{
    struct Row {
        const char* what;
        int id;
        uint32_t value;
        uint32_t before;
        uint32_t after;  // register 20; equal to before for outputs outside it
        std::vector<std::string> sysfs;
    };
    constexpr uint32_t kAll = 0xFFFFFFFF;
    const Row rows[] = {
        {"bit 18 on", 9, 1, 0, 1u << 18, {}},
        {"bit 18 off", 9, 0, kAll, ~(1u << 18), {}},
        {"bit 19 on", 10, 7, 0, 1u << 19, {}},
        {"bit 20 off", 12, 0, kAll, ~(1u << 20), {}},
        {"lamp on", 15, 2, 0, 1u << 9, {}},
        {"lamp off", 15, 0, kAll, ~(1u << 9), {}},
        {"self-test lamps all passed", 13, 0xFF, kAll, 0xFFFFC3FF, {}},
        {"self-test lamps all failed", 13, 0x0F, 0, 0x3C00, {}},
        {"self-test lamps channels 1, 2 passed", 13, 0x33, 0, 0x3000, {}},
        {"status lamp", 14, 3, 0, 0xC00, {}},
        {"status lamp keeps bits 12-13", 14, 1, kAll, ~0x800u, {}},
        {"channel power 9", 17, 9, 0, 0x9169, {}},
        {"channel power 9 over ones", 17, 9, kAll, 0xFFFF9F69, {}},
        {"channel power 0", 17, 0, kAll, 0xFFFF0EF0, {}},
        {"channel power cut to 4 bits", 17, 0x1F, 0, 0xF10F, {}},
        {"probe bus 2", 19, 2, 0, 2u << 22, {}},
        {"probe bus cut to 2 bits", 19, 5, kAll, ~(2u << 22), {}},
        {"backlight on", 1, 3, 0x55, 0x55, {kBlPower + " 0"}},
        {"backlight off", 1, 0, 0x55, 0x55, {kBlPower + " 1"}},
        {"gpio 4", 2, 7, 0x55, 0x55, {kGpio + "4/value 1"}},
        {"gpio 121", 3, 0, 0x55, 0x55, {kGpio + "121/value 0"}},
        {"gpio 127", 5, 1, 0x55, 0x55, {kGpio + "127/value 1"}},
        {"gpio 141", 6, 1, 0x55, 0x55, {kGpio + "141/value 1"}},
        {"gpio 144", 7, 0, 0x55, 0x55, {kGpio + "144/value 0"}},
        {"FPGA reset line", 8, 1, 0x55, 0x55, {kGpio + "145/value 1"}},
        {"id 20 does nothing", 20, 1, 0x55, 0x55, {}},
        {"id 255 does nothing", 255, 1, 0x55, 0x55, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        simboard::pokeSpiRegister(20, row.before);
        simboard::clearHistories();
        EXPECT_EQ(CmdeLogique(static_cast<TCmdeLogiqueIdentifier>(row.id), row.value), 0);
        EXPECT_EQ(simboard::spiRegister(20), row.after);
        EXPECT_EQ(simboard::reg20History().empty(), row.after == row.before);
        EXPECT_EQ(sysfsTexts(), row.sysfs);
    }

    simboard::clearHistories();
    CmdeAnalogique(ANALOG_BACKLIGHT_LEVEL, 7);
    CmdeAnalogique(static_cast<TCmdeAnalogiqueIdentifier>(2), 9);
    EXPECT_EQ(sysfsTexts(), std::vector<std::string>{kBlBrightness + " 7"});
    EXPECT_EQ(simboard::backlightBrightness(), "7");
}

TEST_F(HardwareTest, Pulse24WritesRegister20TwiceAroundTheBit)
{
    simboard::pokeSpiRegister(20, 0x205);
    simboard::clearHistories();
    const uint32_t pulsesBefore = simboard::reg20().pulse24Count;
    CmdeLogique(CMDE_REG20_PULSE24, 0);
    const auto history = simboard::reg20History();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].value, 0x1000205u);
    EXPECT_EQ(history[1].value, 0x205u);
    EXPECT_EQ(simboard::reg20().pulse24Count, pulsesBefore + 1);
}

TEST_F(HardwareTest, BeepHoldsTheLedFileOpenFor70Ms)
{
    simboard::clearLog();
    CmdeLogique(CMDE_BEEP, 0);
    const auto led = simboard::ledHistory();
    ASSERT_EQ(led.size(), 2u);
    EXPECT_EQ(led[0].text, "255");
    EXPECT_EQ(led[1].text, "0");
    const double gapMs = (led[1].timeNs - led[0].timeNs) / 1e6;
    EXPECT_GE(gapMs, 69.0);
    EXPECT_LT(gapMs, 300.0);
    // One open for both writes.
    int opens = 0;
    for (const auto& e : simboard::log({simboard::TLogKind::Open}))
        opens += e.text == kLed + "brightness";
    EXPECT_EQ(opens, 1);
}

TEST_F(HardwareTest, BaseInitSetsTheInitialStateAndCreatesTheTimersOnce)
{
    simboard::pokeSpiRegister(20, 0);
    simboard::clearHistories();
    BaseInit(0);
    EXPECT_TRUE(boardTimersCreated());
    EXPECT_EQ(sysfsTexts(), (std::vector<std::string>{kLed + "trigger none", kLed + "brightness 255",
                                                      kLed + "brightness 0", kBlPower + " 0", kGpio + "145/value 1",
                                                      kGpio + "4/value 1", kGpio + "144/value 0"}));
    EXPECT_EQ(simboard::spiRegister(20), (1u << 20) | (1u << 9));
    const timer_t blink = o_g_blinkPeriodTimerId;

    // Later calls repeat the initial state only.
    simboard::clearHistories();
    BaseInit(1);
    BaseInit(0);
    EXPECT_EQ(o_g_blinkPeriodTimerId, blink);
    int triggers = 0;
    for (const std::string& s : sysfsTexts())
        triggers += s == kLed + "trigger none";
    EXPECT_EQ(triggers, 1);
}

TEST_F(HardwareTest, ScreenSaverSequencesAndTheBlink)
{
    BaseInit(0);
    simboard::pokeSpiRegister(20, 0x9169 | (1u << 9));
    simboard::clearHistories();

    EconomiseurEcran(true);
    EXPECT_EQ(o_g_synchroAcqDetail, SYNCHRO_STOP);
    EXPECT_EQ(sysfsTexts(), (std::vector<std::string>{kBlPower + " 1", kGpio + "144/value 1"}));
    // Every channel down at once, lamp on, the blink armed at 500 ms.
    EXPECT_EQ(simboard::spiRegister(20), 0x0F0u | (1u << 9));
    itimerspec t = timerState(o_g_blinkPeriodTimerId);
    EXPECT_DOUBLE_EQ(seconds(t.it_interval), 0.5);
    EXPECT_GT(seconds(t.it_value), 0.0);

    // The blink runs on its timer threads.
    bool blinked = false;
    for (int i = 0; i < 150 && !blinked; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        blinked = !simboard::reg20().lamp;
    }
    EXPECT_TRUE(blinked);

    o_g_synchroAcqDetail = SYNCHRO_NONE;
    simboard::clearHistories();
    EconomiseurEcran(false);
    EXPECT_EQ(o_g_synchroAcqDetail, SYNCHRO_NONE);
    EXPECT_EQ(sysfsTexts(), (std::vector<std::string>{kGpio + "144/value 0", kBlPower + " 0", kGpio + "4/value 1"}));
    t = timerState(o_g_blinkPeriodTimerId);
    EXPECT_EQ(seconds(t.it_value), 0.0);
    EXPECT_TRUE(simboard::reg20().lamp);
    // A late expiry after the stop leaves the lamp on.
    BlinkPeriodCallBack(sigval{});
    BlinkPeriodCallBack(sigval{});
    EXPECT_TRUE(simboard::reg20().lamp);
    // Channels stay off until the next front-end programming powers them.
    EXPECT_EQ(simboard::reg20().channelPower, 0);
}

TEST_F(HardwareTest, BlinkCallbackTogglesTheLamp)
{
    CmdeLogique(CMDE_BLINK, 1);  // before BaseInit: no timer, the state alone
    EXPECT_TRUE(simboard::reg20().lamp);
    const uint8_t phase = b_l_blinkPhase;
    BlinkPeriodCallBack(sigval{});
    EXPECT_EQ(b_l_blinkPhase, phase ? 0 : 1);
    EXPECT_EQ(simboard::reg20().lamp, b_l_blinkPhase != 0);
    BlinkPeriodCallBack(sigval{});
    EXPECT_EQ(simboard::reg20().lamp, b_l_blinkPhase != 0);
    CmdeLogique(CMDE_BLINK, 0);
    EXPECT_TRUE(simboard::reg20().lamp);
}

TEST_F(HardwareTest, EtatLogiqueInputs)
{
    struct Row {
        const char* what;
        std::function<void(simboard::TScenario&)> scenario;
        uint16_t swBandwidth;
        int id;
        int expected;
    };
    const auto none = [](simboard::TScenario&) {};
    const auto code = [](int c) { return [c](simboard::TScenario& s) { s.boardCode = c; }; };
    const auto lines = [](int l) { return [l](simboard::TScenario& s) { s.bandwidthLines = l; }; };
    const auto input = [](int line) { return [line](simboard::TScenario& s) { s.gpioInputs.push_back({line, 1}); }; };
    const Row rows[] = {
        {"FPGA configured", none, 0, 0, 1},
        {"four-channel model", none, 0, 8, 0},
        {"two-channel model", [](simboard::TScenario& s) { s.model = 2; }, 0, 8, 1},
        {"board code 0", code(0), 0, 5, 0},
        {"board code 1", code(1), 0, 5, 1},
        {"board code 2", code(2), 0, 5, 2},
        {"board code 3", code(3), 0, 5, 3},
        {"board code 1: gpio106 set", code(1), 0, 9, 1},
        {"board code 1: gpio8 clear", code(1), 0, 10, 0},
        {"bandwidth lines 0 read as 1", lines(0), 0, 6, 1},
        {"bandwidth lines 1", lines(1), 0, 6, 1},
        {"bandwidth lines 2", lines(2), 0, 6, 2},
        {"bandwidth lines 3", lines(3), 0, 6, 3},
        {"bandwidth line 161", lines(2), 0, 11, 1},
        {"bandwidth line 160", lines(2), 0, 12, 0},
        {"override wins over the lines", lines(3), 2, 6, 2},
        {"override 3", lines(0), 3, 6, 3},
        {"gpio146", input(146), 0, 1, 1},
        {"gpio123", input(123), 0, 2, 1},
        {"gpio136 as 3", input(136), 0, 3, 1},
        {"gpio136 as 4", input(136), 0, 4, 1},
        {"gpio114", input(114), 0, 13, 1},
        {"gpio146 default", none, 0, 1, 0},
        {"id 7 is not an input", input(7), 0, 7, 0},
        {"id 14", none, 0, 14, 0},
        {"id 255", none, 0, 255, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        simboard::setScenario(simboard::defaultScenario());
        simboard::updateScenario(row.scenario);
        us_g_swBandwidth = row.swBandwidth;
        EXPECT_EQ(EtatLogique(static_cast<TEtatLogiqueIdentifier>(row.id)), row.expected);
    }
    us_g_swBandwidth = 0;

    // A value file that cannot be opened reads 0.
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    simboard::setOpenFault("/sys/class/gpio/gpio164/value", ENOENT);
    EXPECT_EQ(EtatLogique(ETAT_TWO_CHANNEL_MODEL), 0);
}

class ChannelPowerTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        data.instrumentMode = 16;
        data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = data.traceOnCh4 = 0;
        data.trigType = 0;
        data.trigSource = 0;
        data.qualifSource = 0;
    }
};

TEST_F(ChannelPowerTest, NeededChannelsFromTheSetup)
{
    struct Row {
        const char* what;
        uint16_t mode;
        uint8_t traces;
        int16_t trigType, qualif, trigSource;
        uint16_t hw;
        int16_t meterFunction, harmPower;
        uint16_t expected;
    };
    const Row rows[] = {
        {"scope: shown channel and trigger source", 16, 1, 0, 0, 3, 15, 0, 0, 9},
        {"scope: delay trigger adds the qualifier", 16, 1, 2, 2, 3, 15, 0, 0, 0xD},
        {"scope: event count adds the qualifier", 17, 1, 3, 1, 0, 15, 0, 0, 3},
        {"scope: other trigger types do not", 16, 1, 1, 2, 0, 15, 0, 0, 1},
        {"scope: nothing shown, nothing added", 16, 0, 2, 2, 3, 15, 0, 0, 0},
        {"scope: no trigger source", 16, 2, 0, 0, 55, 15, 0, 0, 2},
        {"scope: comparator sources beyond the channels", 16, 2, 2, 6, 4, 15, 0, 0, 2},
        {"two-channel model", 16, 0xF, 0, 0, 1, 9, 0, 0, 9},
        {"meter without power function", 128, 3, 0, 0, 3, 15, 1, 0, 3},
        {"harmonic without power", 64, 5, 0, 0, 3, 15, 0, 0, 5},
        {"harmonic power: only the power sources", 64, 5, 0, 0, 3, 15, 0, 1, 0},
        {"idle", 0x8000, 6, 0, 0, 3, 15, 0, 0, 6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        data.instrumentMode = row.mode;
        data.traceOnCh1 = row.traces & 1;
        data.traceOnCh2 = (row.traces >> 1) & 1;
        data.traceOnCh3 = (row.traces >> 2) & 1;
        data.traceOnCh4 = (row.traces >> 3) & 1;
        data.trigType = row.trigType;
        data.qualifSource = row.qualif;
        data.trigSource = row.trigSource;
        data.hwChannelMask = row.hw;
        data.meterFunction = row.meterFunction;
        data.harmPower = row.harmPower;
        us_g_channelsUsed = us_g_channelsToPowerOff = 0;
        EXPECT_EQ(AlimentationVoies(&data), row.expected);
        EXPECT_EQ(simboard::reg20().channelPower, row.expected);
    }

    // A shown channel with a defined function is replaced by the function's sources.
    static char text[] = "ch1+ch2";
    TFonction function(0, text);
    ASSERT_TRUE(function.IsDefined());
    setupLinks().mathFunctionCh1 = &function;
    data.instrumentMode = 0x8000;
    data.hwChannelMask = 15;
    data.traceOnCh1 = 1;
    data.traceOnCh2 = data.traceOnCh3 = data.traceOnCh4 = 0;
    EXPECT_EQ(AlimentationVoies(&data), function.VoiesSrc() & 15);
    setupLinks().mathFunctionCh1 = nullptr;
    // Before BaseInit(0) there is no power-down timer to arm.
    EXPECT_FALSE(boardTimersCreated());
}

TEST_F(ChannelPowerTest, ChannelNoLongerNeededStaysPoweredUntilThePowerDown)
{
    BaseInit(0);
    data.traceOnCh1 = data.traceOnCh2 = 1;
    double waited = elapsedMs([] { EXPECT_EQ(AlimentationVoies(&data), 3); });
    EXPECT_GE(waited, kChannelSettleMs - 1);
    EXPECT_EQ(simboard::reg20().channelPower, 3);
    itimerspec t = timerState(o_g_shutDownChannelPowerTimerId);
    EXPECT_GT(seconds(t.it_value), 299.0);
    EXPECT_LE(seconds(t.it_value), 300.0);
    EXPECT_EQ(seconds(t.it_interval), 0.0);

    // Channel 2 switched off: still powered, marked for the power-down.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_LT(seconds(timerState(o_g_shutDownChannelPowerTimerId).it_value), 299.0);
    data.traceOnCh2 = 0;
    EXPECT_EQ(AlimentationVoies(&data), 1);
    EXPECT_EQ(simboard::reg20().channelPower, 3);
    EXPECT_EQ(us_g_channelsUsed, 3);
    EXPECT_EQ(us_g_channelsToPowerOff, 2);
    // The second call restarted the 300-second period.
    EXPECT_GT(seconds(timerState(o_g_shutDownChannelPowerTimerId).it_value), 299.0);

    // Needed again before the power-down: no longer marked.
    data.traceOnCh2 = 1;
    AlimentationVoies(&data);
    EXPECT_EQ(us_g_channelsToPowerOff, 0);
    data.traceOnCh2 = 0;
    AlimentationVoies(&data);

    // The power-down (run directly instead of waiting 300 s) leaves only channel 1.
    shutDownChannelHandler(sigval{});
    EXPECT_EQ(simboard::reg20().channelPower, 1);
    EXPECT_EQ(simboard::reg20().channelPowerCopy, 1);
    EXPECT_EQ(us_g_channelsUsed, 1);
    EXPECT_EQ(us_g_channelsToPowerOff, 0);
    EXPECT_EQ(seconds(timerState(o_g_shutDownChannelPowerTimerId).it_value), 0.0);
}

TEST_F(ChannelPowerTest, MaskFormPowersExactlyTheInstalledChannelsAsked)
{
    data.hwChannelMask = 9;
    us_g_channelsToPowerOff = 6;
    double waited = elapsedMs([] { AlimentationVoies(8191); });
    EXPECT_GE(waited, kChannelSettleMs - 1);
    EXPECT_EQ(simboard::reg20().channelPower, 9);
    EXPECT_EQ(us_g_channelsUsed, 9);
    EXPECT_EQ(us_g_channelsToPowerOff, 0);
    AlimentationVoies(0);
    EXPECT_EQ(simboard::reg20().channelPower, 0);
    EXPECT_FALSE(simboard::reg20().anyChannelPowered);
    EXPECT_EQ(us_g_channelsUsed, 0);
}

TEST_F(HardwareTest, ConcurrentRegister20WritersNeverLoseEachOthersBits)
{
    constexpr int kRounds = 150;
    struct Writer {
        TCmdeLogiqueIdentifier id;
        std::function<uint32_t(int)> value;  // value of round i
    };
    const Writer writers[] = {
        {CMDE_REG20_BIT18, [](int i) { return static_cast<uint32_t>(i & 1); }},
        {CMDE_REG20_BIT19, [](int i) { return static_cast<uint32_t>((i + 1) & 1); }},
        {CMDE_REG20_BIT20, [](int i) { return static_cast<uint32_t>(i % 3 == 0); }},
        {CMDE_LAMP, [](int i) { return static_cast<uint32_t>(i & 1); }},
        {CMDE_ACQ_STATUS_LAMP, [](int i) { return static_cast<uint32_t>(i % 4); }},
        {CMDE_CHANNEL_POWER, [](int i) { return static_cast<uint32_t>((i * 7) & 15); }},
        {CMDE_PROBE_I2C_SELECT, [](int i) { return static_cast<uint32_t>(i % 4); }},
        {CMDE_REG20_PULSE24, [](int) { return 0u; }},
    };
    const uint32_t pulsesBefore = simboard::reg20().pulse24Count;
    std::vector<std::thread> threads;
    for (const Writer& w : writers)
        threads.emplace_back([&w] {
            for (int i = 0; i < kRounds; ++i)
                CmdeLogique(w.id, w.value(i));
        });
    for (std::thread& t : threads)
        t.join();

    const int last = kRounds - 1;
    const simboard::TReg20 r = simboard::reg20();
    EXPECT_EQ(r.bit18, (last & 1) != 0);
    EXPECT_EQ(r.bit19, ((last + 1) & 1) != 0);
    EXPECT_EQ(r.bit20, last % 3 == 0);
    EXPECT_EQ(r.lamp, (last & 1) != 0);
    EXPECT_EQ(r.statusLamp, last % 4);
    const uint32_t power = (last * 7) & 15;
    EXPECT_EQ(r.channelPower, power);
    EXPECT_EQ(r.channelPowerInverted, ~power & 15);
    EXPECT_EQ(r.channelPowerCopy, power);
    EXPECT_EQ(r.anyChannelPowered, power != 0);
    EXPECT_EQ(r.probeBus, last % 4);
    EXPECT_EQ(r.raw & (1u << 24), 0u);
    EXPECT_EQ(r.pulse24Count, pulsesBefore + kRounds);
}
