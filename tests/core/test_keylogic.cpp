// The key thread's timing and event handling, through a scripted device interface: every wait
// returns the next scripted source at once, so whole presses run without real time.
#include "core/frontpanel.h"
#include "tests/core/command_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <linux/input.h>
#include <string>
#include <vector>

namespace {

struct TScriptStep {
    TPanelWait wait;
    uint32_t keys = 0;        // what SPI 52 reads from this step on
    uint16_t code = 0x100;    // input event
    int32_t value = 1;
    uint32_t flags = 0;       // SPI 12 at the event
};

using TScript = std::vector<TScriptStep>;

TScript keyDown(uint32_t keys, uint32_t flags = 1)
{
    return {{TPanelWait::InputEvent, keys, 0x100, 1, flags}};
}
TScript ticks(int n, uint32_t keys)
{
    return TScript(static_cast<size_t>(n), TScriptStep{TPanelWait::Tick, keys});
}
TScript powerKey(int value, uint32_t keys = 0)
{
    return {{TPanelWait::InputEvent, keys, 47, value, 0}};
}
TScript light(uint32_t keys)
{
    return {{TPanelWait::InputEvent, keys, 50, 1, 0}};
}
TScript lineEdge(uint32_t keys)
{
    return {{TPanelWait::LineEdge, keys}};
}
TScript failedWait(uint32_t keys)
{
    return {{TPanelWait::Failed, keys}};
}
TScript operator+(TScript a, const TScript& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char* pressName(TPressType p)
{
    static const char* names[] = {"NONE", "PROBE", "DOWN", "SHORT", "WAIT", "DOUBLE", "LONG", "HELD", "REPEAT"};
    return names[p];
}

std::string hex(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%X", v);
    return b;
}

// Plays a script and writes what the logic did into one log line per action.
class TScriptedPanel : public TFrontPanelIO {
public:
    explicit TScriptedPanel(TScript script) : script_(script.begin(), script.end()) {}

    bool done() const { return script_.empty(); }
    std::vector<std::string> log;
    std::vector<pipe_dial> posted;
    uint32_t twoRecordMask = 0;   // this key's records come in pairs

    void startLightSensor() override { log.push_back("lux start"); }
    void openDevices() override { log.push_back("open"); }
    TPanelWait wait(bool tick) override
    {
        const TScriptStep s = script_.front();
        script_.pop_front();
        if (s.wait == TPanelWait::Tick) {
            EXPECT_TRUE(tick) << "no tick was awaited";
        }
        keys_ = s.keys;
        event_ = s;
        if (s.wait == TPanelWait::Tick)
            timeMs_ += 50;
        return s.wait;
    }
    bool readInputEvent(struct input_event* ev) override
    {
        ev->type = EV_KEY;
        ev->code = event_.code;
        ev->value = event_.value;
        flags_ = event_.flags;
        return true;
    }
    void readLine() override { log.push_back("line"); }
    uint32_t readSpi(int id) override
    {
        if (id == 12) {
            const uint32_t f = flags_;
            flags_ = 0;
            return f;
        }
        return id == 52 ? keys_ : 0;
    }
    void writeSpi(int id, uint32_t value) override { log.push_back("spi" + std::to_string(id) + "=" + std::to_string(value)); }
    void pulse() override { log.push_back("pulse"); }
    void luxAutoSet() override { log.push_back("lux"); }
    int keyRequests(uint32_t mask, TPressType press, int32_t held, pipe_dial* out) override
    {
        if (press == PRESS_DOWN || press == PRESS_WAIT_SECOND || press == PRESS_PROBE || (press == PRESS_NONE && mask == 0))
            return 0;
        log.push_back(std::to_string(timeMs_) + " " + pressName(press) + " " + hex(mask));
        if (press == PRESS_NONE)
            return 0;
        const int n = mask == twoRecordMask ? 2 : 1;
        for (int i = 0; i < n; ++i)
            out[i] = pipe_dial{REQ_SET_PARAM, i, static_cast<intptr_t>(mask), held, 0.0f, 0};
        return n;
    }
    int probeRequests(uint32_t bits, pipe_dial* out) override
    {
        log.push_back("probe " + hex(bits));
        out[0] = pipe_dial{REQ_PROBE_EVENT, 0, 0, static_cast<intptr_t>(bits), 0.0f, 0};
        return 1;
    }
    void post(const pipe_dial& r) override
    {
        posted.push_back(r);
        log.push_back(r.kind == REQ_SCREEN ? "post edge" : r.kind == REQ_PROBE_EVENT ? "post probe" : "post " + std::to_string(r.code));
    }
    void clearRequestKey() override { log.push_back("key0"); }
    void pauseTick() override { log.push_back("pause"); }

private:
    std::deque<TScriptStep> script_;
    uint32_t keys_ = 0;
    uint32_t flags_ = 0;
    TScriptStep event_{TPanelWait::Failed};
    int timeMs_ = 0;
};

// Runs the script to its end; the log without the start-up and, unless asked, without the posts.
std::vector<std::string> play(TScriptedPanel& panel, TKeyLogic& logic, bool withPosts = false)
{
    logic.start();
    panel.log.clear();
    while (!panel.done())
        logic.step();
    std::vector<std::string> out;
    for (const std::string& line : panel.log)
        if (withPosts || (line.compare(0, 4, "post") != 0 && line != "key0"))
            out.push_back(line);
    return out;
}

std::vector<std::string> heldOneSecond()
{
    std::vector<std::string> expected;
    for (int t = 400; t <= 1000; t += 50)
        expected.push_back(std::to_string(t) + (t == 400 ? " LONG" : t % 200 == 0 ? " REPEAT" : " HELD") + " 0x10000");
    expected.push_back("1050 NONE 0x10000");
    return expected;
}

TEST(KeyLogic, StartUpEnablesEveryEventLineAfterTheDevices)
{
    TScriptedPanel panel({});
    TKeyLogic logic(panel);
    logic.start();
    EXPECT_EQ(panel.log, (std::vector<std::string>{"lux start", "open", "spi4=31"}));
    EXPECT_FALSE(logic.ticking());
}

TEST(KeyLogic, PressesTimedInTicks)
{
    const uint32_t ch1 = 0x100000, ch2 = 0x200000;
    struct Row {
        const char* what;
        TScript script;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"a key held for 1 s", keyDown(0x10000) + ticks(20, 0x10000) + ticks(1, 0), heldOneSecond()},
        {"a short press", keyDown(0x8) + ticks(2, 0x8) + ticks(1, 0), {"150 SHORT 0x8"}},
        {"a channel key once: short on the fourth tick after the release",
         keyDown(ch1) + ticks(2, ch1) + ticks(5, 0), {"350 SHORT 0x100000"}},
        {"a channel key twice", keyDown(ch1) + ticks(1, ch1) + ticks(1, 0) + keyDown(ch1),
         {"100 DOUBLE 0x100000"}},
        {"a channel key down again, seen by a tick", keyDown(ch1) + ticks(1, 0) + ticks(1, ch1),
         {"100 DOUBLE 0x100000"}},
        {"a channel key, then another key within the window",
         keyDown(ch1) + ticks(1, ch1) + ticks(1, 0) + keyDown(ch2) + ticks(1, ch2) + ticks(5, 0),
         {"100 SHORT 0x100000", "400 SHORT 0x200000"}},
        {"the power key held 400 ms ends at once; its release does nothing",
         powerKey(1) + ticks(8, 0) + powerKey(0), {"400 LONG 0x80000000", "pulse"}},
        {"a short press of the power key", powerKey(1) + ticks(2, 0) + powerKey(0) + ticks(1, 0),
         {"150 SHORT 0x80000000"}},
        {"a second key joins and starts the timing again",
         keyDown(0x8) + ticks(2, 0x8) + keyDown(0x18) + ticks(8, 0x18) + ticks(1, 0),
         {"500 LONG 0x18", "550 NONE 0x18"}},
        {"another key alone changes nothing", keyDown(0x8) + ticks(4, 0x10) + ticks(8, 0x8) + ticks(1, 0),
         {"600 LONG 0x8", "650 NONE 0x8"}},
        {"a light interrupt while a key is held presses it anew",
         keyDown(0x8) + ticks(8, 0x8) + light(0x8) + ticks(8, 0x8) + ticks(1, 0),
         {"400 LONG 0x8", "lux", "800 LONG 0x8", "850 NONE 0x8"}},
        {"a line edge is forwarded and changes nothing else",
         keyDown(0x8) + ticks(8, 0x8) + lineEdge(0x8) + ticks(1, 0x8) + ticks(1, 0),
         {"400 LONG 0x8", "line", "450 HELD 0x8", "500 NONE 0x8"}},
        {"a failed wait pauses a tick and changes nothing",
         keyDown(0x8) + ticks(8, 0x8) + failedWait(0x8) + ticks(1, 0), {"400 LONG 0x8", "pause", "450 NONE 0x8"}},
        {"a probe key while idle", keyDown(0, 0x4) + ticks(1, 0),
         {"spi4=1", "pulse", "spi4=31", "probe 0x4"}},
        {"a probe key while a key is held is handled when the key ends",
         keyDown(0x8) + ticks(1, 0x8) + keyDown(0x8, 0x5) + ticks(1, 0x8) + ticks(1, 0),
         {"spi4=1", "pulse", "150 SHORT 0x8", "probe 0x4", "spi4=31"}},
        {"a short read or an idle light interrupt", light(0) + lineEdge(0) + failedWait(0),
         {"lux", "line", "pause"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TScriptedPanel panel(row.script);
        TKeyLogic logic(panel);
        EXPECT_EQ(play(panel, logic), row.log);
        EXPECT_EQ(logic.keyMask(), 0u);
        EXPECT_EQ(logic.press(), PRESS_NONE);
        EXPECT_FALSE(logic.ticking());
        EXPECT_EQ(logic.pendingProbeBits(), 0u);
    }
}

TEST(KeyLogic, RecordsPostedLastToFirstAfterTheRequestKeyIsCleared)
{
    TScriptedPanel panel(keyDown(0x80) + ticks(1, 0) + lineEdge(0));
    panel.twoRecordMask = 0x80;
    TKeyLogic logic(panel);
    EXPECT_EQ(play(panel, logic, true),
              (std::vector<std::string>{"50 SHORT 0x80", "key0", "post 1", "post 0", "line", "post edge"}));
    ASSERT_EQ(panel.posted.size(), 3u);
    EXPECT_EQ(panel.posted[2], (pipe_dial{REQ_SCREEN, IhmPanelEdge, 0, 0, 0.0f, keySender()}));
}

TEST(KeyLogic, BrightnessKeyEndsAutomaticBrightnessForGood)
{
    for (uint32_t key : {0x80000u, 0x1000000u}) {
        TScriptedPanel panel(light(0) + keyDown(key) + ticks(1, 0) + light(0) + keyDown(0x8) + ticks(1, 0) + light(0));
        TKeyLogic logic(panel);
        EXPECT_EQ(play(panel, logic), (std::vector<std::string>{"lux", "50 SHORT " + hex(key), "100 SHORT 0x8"}));
        EXPECT_FALSE(logic.automaticBrightness());
    }
}

} // namespace
