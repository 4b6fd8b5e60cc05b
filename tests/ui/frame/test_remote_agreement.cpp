// What remote clients are told against what the screen shows: the trigger text of the status
// reply in English, the recorder's file in it, and the instrument's mode after random bursts of
// mode changes and settings over SCPI, the web service and the front-panel keys, the whole
// program running in this process on the simulated board.
#include "tests/ui/support/program_fixture.h"

#include "board/sim/simboard.h"
#include "core/root.h"
#include "network/pelanodeInterface.h"
#include "network/user_int.h"
#include "scpi/io.h"
#include "tests/network/ws_test_client.h"
#include "tests/scpi/scpi_consumer.h"
#include "tests/ui/support/catalogue.h"
#include "ui/frame/scopestatusline.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string cachedTrigger()
{
    std::string trigger, misc1, misc2, battery, warning, passfail;
    getPelanodeStatus(trigger, misc1, misc2, battery, warning, passfail);
    return trigger;
}

// The view each mode shows, by the object name of its root item; none for the home screen.
std::vector<std::string> viewOf(int mode)
{
    switch (mode) {
    case 0x10:
    case 0x12:
    case 0x13:
        return {"scopeView"};
    case 0x11:
        return {"busAnalysisView"};
    case 0x40:
        return {"harmonicView"};
    case 0x80:
    case 0x81:
        return {"meterView"};
    case 0x82:
        return {"loggerView"};
    case 0x100:
        return {"viewerView"};
    default:
        return {};
    }
}

// DEV:MOD?'s word for a mode.
std::string modeWord(int mode)
{
    switch (mode) {
    case 17: return "BUS";
    case 18: return "EYE";
    case 64: return "ANALYS";
    case 128: return "MULT";
    case 130:
    case 256: return "LOG";
    case 0x8000: return "HOME";
    default: return "SCOP";
    }
}

} // namespace

// Every trigger state of the scope's status line, with each edge, as the client reads it: the
// hyphens of "pre-trig" and "post-trig" stay, only the edge field turns into words.
TEST(RemoteStatusText, EnglishTriggerTextOfEveryState)
{
    TCatalogueGuard catalogue;
    ASSERT_TRUE(installTranslatorFrom(QCoreApplication::applicationDirPath() + "/translations", QString()));
    struct Case {
        int16_t runStop, state, source, edge, mode;
        uint16_t instrument;
        const char* status;
    } cases[] = {
        {0, 0, 0, 0, 0, 16, "running- ch1 - rising - auto"},
        {0, 1, 0, 1, 0, 64, "pre-trig- ch1 - falling - auto"},
        {0, 2, 1, 0, 1, 16, "waiting qualifier- ch2 - rising - trig'd"},
        {0, 3, 0, 2, 2, 16, "delay- ch1 - rising/falling - single"},
        {0, 4, 4, 0, 0, 16, "waiting trigger- line - rising - auto"},
        {0, 5, 5, 1, 1, 64, "post-trig- ext - falling - trig'd"},
        {0, 6, 6, 0, 2, 16, "end- ext/5 - rising - single"},
        {0, 7, 0, 0, 4, 16, "running- ch1 - rising - auto"},
        {1, 5, 0, 0, 0, 16, "stop- ch1 - rising - auto"},
        // Both edges in the dual-slope mode, whatever the channel's own.
        {0, 1, 0, 0, 0, 18, "pre-trig- ch1 - rising/falling - auto"},
    };
    for (const Case& c : cases) {
        database setup = init_par;
        setup.acqRunStop = c.runStop;
        setup.trigStatus = c.state;
        setup.trigSource = c.source;
        setup.trigEdgeCh1 = setup.trigEdgeCh2 = c.edge;
        setup.trigMode = c.mode;
        setup.instrumentMode = c.instrument;
        setPelanodeTriggerStatus(ScopeStatusLine::composeTriggerStatus(setup));
        EXPECT_EQ(cachedTrigger(), c.status) << ScopeStatusLine::composeTriggerStatus(setup).toStdString();
    }
    setPelanodeTriggerStatus(QString());
}

class RemoteAgreementTest : public ProgramTest {
protected:
    void TearDown() override
    {
        if (scpi_ >= 0)
            ::close(scpi_);
        ProgramTest::TearDown();
    }

    void connect()
    {
        scpi_ = connectScpi(kTimeoutMs);
        ASSERT_GE(scpi_, 0);
        ASSERT_TRUE(ws_.ok());
        ws_.target(boardPort(kWsPort));
    }

    // One query's reply without its terminator; the GUI thread waits meanwhile (the controller
    // never waits for it).
    std::string ask(const std::string& query)
    {
        const std::string reply = askScpi(scpi_, query + "\n", 1, kTimeoutMs);
        const size_t end = reply.find("\n\r");
        return end == std::string::npos ? reply : reply.substr(0, end);
    }

    // The mode field of the status reply, or -1: the third field from the end (the texts
    // before it may hold commas of their own, a pop-up's for one).
    int statusMode()
    {
        std::vector<std::string> fields;
        if (!wsFields(ws_.exchange("/status").bytes, &fields, false) || fields.size() < 10)
            return -1;
        return std::atoi(fields[fields.size() - 3].c_str());
    }

    // The screen's view and the setup's mode agree, and the root window was told that mode.
    bool screenAgrees()
    {
        const int mode = data.instrumentMode;
        return modeViews(*view_) == viewOf(mode) && view_->scopeMode() == mode;
    }

    // After everything sent was taken: the view, DEV:MOD?, the status reply and the setup name
    // one mode, and keep doing so. False with what disagreed.
    bool settlesInAgreement(std::string* why)
    {
        ask("*WAI;*OPC?");
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kSettleMs) {
            processEventsFor(100);
            if (!screenAgrees())
                continue;
            const int mode = data.instrumentMode;
            const std::string word = ask("DEV:MOD?");
            const int reported = statusMode();
            processEventsFor(50);
            if (word == modeWord(mode) && reported == mode && data.instrumentMode == mode && screenAgrees())
                return true;
        }
        std::ostringstream out;
        out << "setup mode " << data.instrumentMode << ", root window mode " << view_->scopeMode() << ", views {";
        for (const std::string& v : modeViews(*view_))
            out << v << " ";
        out << "}, DEV:MOD? " << ask("DEV:MOD?") << ", /status mode " << statusMode();
        *why = out.str();
        return false;
    }

    static constexpr int kSettleMs = 20000;
    int scpi_ = -1;
    TWsTestClient ws_;
};

// Random bursts as remote users and a finger on the keys make them: mode changes over SCPI and
// the web service, settings over both, channel keys, with gaps of 0 to 200 ms. Once a burst has
// been taken and the screen has settled, the view shown, DEV:MOD?, the status reply and the
// setup name the same mode: the last request won and no switch left a view half done.
PROGRAM_TEST_F(RemoteAgreementTest, ModeChangesFromEverySideLeaveScreenAndRemoteInAgreement)
{
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    connect();
    ASSERT_FALSE(HasFatalFailure());

    static const char* const kScpiModes[] = {"SCOP", "MULT", "ANALYS", "LOG", "BUS", "HOME", "EYE"};
    static const int kWebModes[] = {16, 128, 130, 64, 17, 0x8000};
    static const char* const kScpiSettings[] = {"DISP:TRAC:STAT2 ON", "DISP:TRAC:STAT2 OFF", "TRIG:RUN:STAT ON",
                                                "SENS:FUNC RES", "SENS:FUNC VOLT", "DISP:TRAC:MODE NORM",
                                                "INP1:DMM:COUP DC", "CALC:MATH1 (ch1*2)", "ABOR"};
    static const char* const kWebSettings[] = {"/verticalScope?channel=1&p0=1", "/toolsScope?p0=0",
                                               "/toolsMeter?p1=0", "/commandScope?p1=12",
                                               "/verticalMeter?channel=1&p2=1"};
    static const char* const kKeys[] = {"key ch1", "key ch2", "key ch3", "key ch4"};

    constexpr int kBursts = 14;
    std::mt19937 random(63);
    std::vector<std::string> log;
    for (int burst = 0; burst < kBursts; ++burst) {
        const int steps = 6 + static_cast<int>(random() % 6);
        std::vector<std::pair<int, std::string>> plan;
        for (int i = 0; i < steps; ++i) {
            const int gap = static_cast<int>(random() % 201);
            const int kind = static_cast<int>(random() % 10);
            std::string step;
            if (kind < 3)
                step = std::string("scpi DEV:MOD ") + kScpiModes[random() % 7];
            else if (kind < 5)
                step = "web /instrument?mode=" + std::to_string(kWebModes[random() % 6]);
            else if (kind < 7)
                step = std::string("scpi ") + kScpiSettings[random() % 9];
            else if (kind < 9)
                step = std::string("web ") + kWebSettings[random() % 5];
            else
                step = kKeys[random() % 4];
            plan.emplace_back(gap, step);
        }
        // Each burst ends with two mode changes in quick succession, the first of them the bus
        // analysis half the time: its view's switch starts work of its own (the bus file's setup)
        // that the second must overtake without a trace.
        const bool bus = random() % 2 == 0;
        plan.emplace_back(static_cast<int>(random() % 201),
                          std::string("scpi DEV:MOD ") + (bus ? "BUS" : kScpiModes[random() % 7]));
        plan.emplace_back(static_cast<int>(random() % 61),
                          "web /instrument?mode=" + std::to_string(kWebModes[random() % 6]));
        // Sent from another thread while this one draws the screen, as the program's loop would.
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            for (const auto& [gap, step] : plan) {
                std::this_thread::sleep_for(std::chrono::milliseconds(gap));
                if (step.rfind("scpi ", 0) == 0)
                    writeAll(scpi_, step.substr(5) + "\n");
                else if (step.rfind("web ", 0) == 0)
                    ws_.exchange(step.substr(4), 2000);
                else
                    simboard::runControlLine(step);
            }
            // The key thread posts on its next scan.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sent = true;
        });
        processEventsUntil([&] { return sent.load(); }, 120000);
        sender.join();
        for (const auto& p : plan)
            log.push_back(std::to_string(p.first) + " ms, " + p.second);

        std::string why;
        ASSERT_TRUE(settlesInAgreement(&why)) << "burst " << burst << ": " << why << "\nsteps so far:\n" << [&] {
            std::string all;
            for (const std::string& line : log)
                all += "  " + line + "\n";
            return all;
        }();
    }
}

// The recorder's status names the file it records into, or none: not a file of an earlier
// visit when it starts, and nothing once the recorder has gone.
PROGRAM_TEST_F(RemoteAgreementTest, RecorderStatusNamesItsCurrentFileOrNone)
{
    startProgram();
    ASSERT_FALSE(HasFatalFailure());
    connect();
    ASSERT_FALSE(HasFatalFailure());

    // Channel 1 shown: the recorder has something to record.
    writeAll(scpi_, "DEV:MOD MULT\nDISP:TRAC:STAT1 ON\nDEV:MOD LOG\n");
    std::string first;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            const std::string name(data.loggerFileName, strnlen(data.loggerFileName, sizeof data.loggerFileName));
            if (name.empty() || cachedTrigger().find(name) != 0)
                return false;
            first = name;
            return true;
        },
        kTimeoutMs))
        << cachedTrigger();

    // Gone to the home screen: no recording, no file.
    writeAll(scpi_, "DEV:MOD HOME\n");
    ASSERT_TRUE(processEventsUntil([&] { return modeViews(*view_).empty() && data.instrumentMode == 0x8000; },
                                   kTimeoutMs));
    processEventsFor(300);
    EXPECT_EQ(cachedTrigger(), "+");

    // A short visit, left before the recorder opened a file: the earlier file is never named.
    writeAll(scpi_, "DEV:MOD LOG\n");
    bool shown = false;
    std::vector<std::string> seen;
    processEventsUntil(
        [&] {
            seen.push_back(cachedTrigger());
            shown = shown || modeViews(*view_) == viewOf(0x82);
            return shown;
        },
        kTimeoutMs);
    writeAll(scpi_, "DEV:MOD HOME\n");
    processEventsUntil(
        [&] {
            seen.push_back(cachedTrigger());
            return modeViews(*view_).empty() && data.instrumentMode == 0x8000;
        },
        kTimeoutMs);
    processEventsFor(300);
    seen.push_back(cachedTrigger());
    for (const std::string& text : seen)
        EXPECT_EQ(text.find(first), std::string::npos) << text;
    EXPECT_EQ(cachedTrigger(), "+");
}
