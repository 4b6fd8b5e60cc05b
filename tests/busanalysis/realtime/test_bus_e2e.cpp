// The bus analyser on the simulated board, end to end: the controller's real start-up with the
// bus thread, the acquisition threads and the trigger in process, a diagnosis started as the
// view's switch starts it, and the report it leaves. No timing is asserted.
#include "tests/core/command_fixture.h"
#include "tests/hardware/realtime/cycle_e2e.h"

#include "core/requests.h"
#include "busanalysis/buspseudofile.h"
#include "hardware/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace {

class BusEndToEndTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        COMM_id = pthread_self();
        recordPauses(true);
    }

    void useScenario(const char* file)
    {
        std::ifstream in(std::string(BV_SOURCE_ROOT) + "/board/sim/" + file);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string why;
        ASSERT_TRUE(simboard::loadScenarioText(text, &why)) << why;
    }

    static void post(int32_t parameter, intptr_t value)
    {
        pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, 0};
        ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
    }

    // Start-up, bus mode with the x10 probes' factor on channels 1 and 4, the file, the switch;
    // the report once the view is told to show it.
    std::string diagnose(const char* file)
    {
        commandStartup();
        if (calibrated_)
            calibrateRangePoints();
        data.probeCoeffCh1 = 10;
        data.probeCoeffCh4 = 10;
        static char name[40];
        std::snprintf(name, sizeof name, "%s", file);
        post(param::instrumentMode, 17);
        post(param::busFileName, reinterpret_cast<intptr_t>(name));
        runLoop(3000, [](const pipe_dial&) {}, [] { return false; });
        bridge()->clear();
        post(param::busDiag, 0);
        const bool done = runLoop(
            600000, [](const pipe_dial&) {}, [this] { return !bridge()->callsStartingWith("screenIhm(5,").empty(); });
        EXPECT_TRUE(done) << "no results after the diagnosis";
        return readHostFile(hostPath("/var/tmp/busAnalysisResults.html"));
    }

    bool calibrated_ = false;  // the range points of a calibrated board

    // The step numbers of the messages 29 shown, in order.
    std::vector<int> stepsShown()
    {
        std::vector<int> steps;
        for (const std::string& c : bridge()->callsStartingWith("screenMessage(29,"))
            steps.push_back(std::atoi(c.c_str() + std::strlen("screenMessage(29,")));
        return steps;
    }
};

// The measured value of the report row named name, in its unit (the text "2.064 us" gives
// 2.064e-6); NaN when the row has no value.
double reportValue(const std::string& report, const std::string& name)
{
    size_t at = report.find("<TD>" + name + "</TD>");
    for (int i = 0; i < 3 && at != std::string::npos; ++i)
        at = report.find("\r\n", at) == std::string::npos ? std::string::npos : report.find("\r\n", at) + 2;
    if (at == std::string::npos)
        return NAN;
    const size_t open = report.find('>', at);
    const std::string cell = report.substr(open + 1, report.find("</TD>", open) - open - 1);
    char* end = nullptr;
    const double v = std::strtod(cell.c_str(), &end);
    if (end == cell.c_str())
        return NAN;
    while (*end == ' ')
        ++end;
    static const std::string prefixes = "pnumkM";
    static const double factors[] = {1e-12, 1e-9, 1e-6, 1e-3, 1e3, 1e6};
    const size_t p = prefixes.find(*end);
    // A bare unit ("V", "s", "%") has no prefix; "m" before a unit letter is milli.
    if (p != std::string::npos && end[1] != '\0' && end[1] != '<')
        return v * factors[p];
    return v;
}

TEST_F(BusEndToEndTest, CanFileRunsEveryStepAndReports)
{
    useScenario("can_hs_500k.json");
    const std::string report = diagnose("CanHS_500kbps.bus");
    EXPECT_EQ(stepsShown(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    const std::vector<std::string> calls = bridge()->calls();
    const auto results = std::find(calls.begin(), calls.end(), "screenIhm(5,0,0)");
    ASSERT_NE(results, calls.end());
    const auto lastStep = std::find_if(calls.rbegin(), calls.rend(), [](const std::string& c) {
        return c.rfind("screenMessage(29,", 0) == 0;
    });
    EXPECT_LT(lastStep.base() - calls.begin(), results - calls.begin());
    // A healthy bus: every step with limits passes, the CAN-H ones too, whose 1 V swing is less
    // than half a division at the 2 V/div their range needs.
    EXPECT_NE(report.find("<H2 class=\"green\">Bus quality: 100%</H2>"), std::string::npos) << report;
    for (const char* name : {"Vdiff Dom", "Vdiff Rec", "VCanH Dom", "VCanH Rec", "Time Rise", "Time Fall"}) {
        const size_t row = report.find(std::string("<TD>") + name + "</TD>");
        ASSERT_NE(row, std::string::npos) << name;
        EXPECT_NE(report.find("<TD class=\"green\">", row), std::string::npos) << name << "\n" << report;
        EXPECT_LT(report.find("<TD class=\"green\">", row), report.find("</TR>", row)) << name << "\n" << report;
    }
    EXPECT_EQ(data.busDiag, 1);
}

TEST_F(BusEndToEndTest, LowerDominantLevelIsNotGreen)
{
    useScenario("can_hs_500k.json");
    simboard::updateScenario([](simboard::TScenario& s) {
        s.bus.high[0] = 3.0;
        s.bus.low[0] = 2.0;
    });
    // The first two steps of the CAN file.
    const unsigned char* bytes = nullptr;
    int size = 0;
    ASSERT_EQ(getBusPseudoFileContent("/CanHS_500kbps.bus", &bytes, &size), 1);
    std::string text(reinterpret_cast<const char*>(bytes), size_t(size));
    text.erase(text.find("<MESURE2>"), text.find("</FileBUs>") - text.find("<MESURE2>"));
    text.replace(text.find("<NbMesureMax a=\"10\"/>"), 21, "<NbMesureMax a=\"2\"/>");
    ::mkdir(hostPath("/media/user/bus-limits").c_str(), 0777);
    std::ofstream(hostPath("/media/user/bus-limits/CanLow.bus"), std::ios::binary) << text;
    const std::string report = diagnose("CanLow.bus*");
    EXPECT_EQ(stepsShown(), (std::vector<int>{1, 2}));
    EXPECT_EQ(report.find("class=\"green\">Bus quality"), std::string::npos) << report;
    EXPECT_NE(report.find("Bus quality: "), std::string::npos);
    EXPECT_NE(report.find("<LI>- Termination problem</LI>"), std::string::npos) << report;
}

TEST_F(BusEndToEndTest, Rs232ScenarioWithTheDefaultFileIsGreen)
{
    useScenario("rs232_9600.json");
    const std::string report = diagnose(init_par.busFileName);
    EXPECT_NE(report.find("<H2 class=\"green\">Bus quality: 100%</H2>"), std::string::npos) << report;
}

} // namespace

namespace {

// What the scenario's bus is, and what each report row must read: the true value and the
// allowed distance (relative to the truth, or absolute for a level at zero).
struct TFidelityRow {
    const char* name;
    double truth;
    double relative;
    double absolute;
};

class BusFidelityTest : public BusEndToEndTest {
protected:
    void SetUp() override
    {
        BusEndToEndTest::SetUp();
        calibrated_ = true;
    }

    void check(const std::string& report, const std::vector<TFidelityRow>& rows)
    {
        for (const TFidelityRow& r : rows) {
            const double v = reportValue(report, r.name);
            std::printf("[ fidelity ] %-12s %12.6g (truth %.6g, %+.2f %%)\n", r.name, v, r.truth,
                        r.truth != 0 ? 100 * (v - r.truth) / r.truth : 0.0);
            ASSERT_FALSE(std::isnan(v)) << r.name << " has no value\n" << report;
            EXPECT_NEAR(v, r.truth, std::max(r.absolute, std::abs(r.truth) * r.relative)) << r.name << "\n" << report;
        }
    }
};

// RS-232 at 9600 bit/s, +10 V / -10 V through a x10 probe, 1 us edges: the edges and levels of
// the default file read as the scenario made them.
TEST_F(BusFidelityTest, Rs232At9600)
{
    useScenario("rs232_9600.json");
    const std::string report = diagnose(init_par.busFileName);
    std::printf("%s\n", report.c_str());
    // Levels within 1 % of the 20 V swing.
    check(report, {{"V Space", 10.0, 0, 0.2},
                   {"V Mark", -10.0, 0, 0.2},
                   {"Time Rise", 1e-6, 0.2, 0},
                   {"Time Fall", 1e-6, 0.2, 0},
                   {"Time Data", 1 / 9600.0, 0.01, 0}});
}

// CAN at 500 kbit/s, 60 ns into dominant and 90 ns into recessive, with the sample's levels.
TEST_F(BusFidelityTest, CanAt500k)
{
    useScenario("can_hs_500k.json");
    const std::string report = diagnose("CanHS_500kbps.bus");
    std::printf("%s\n", report.c_str());
    // Levels within 1 % of their value or of the 2 V swing. The bit is read at 0.4 ns a sample
    // over ten records of 40 us: it reads 3 % long there, held to 5 %.
    check(report, {{"Vdiff Dom", 2.0, 0.01, 0.02},
                   {"Vdiff Rec", 0.0, 0, 0.02},
                   {"VCanH Dom", 3.5, 0.01, 0.02},
                   {"VCanH Rec", 2.5, 0.01, 0.02},
                   {"Time Rise", 60e-9, 0.2, 0},
                   {"Time Fall", 90e-9, 0.2, 0},
                   {"Time Data", 2e-6, 0.05, 0}});
}

// The dominant differential lowered to 0.8 V. The CAN file triggers 100 thousandths of the screen
// (0.8 division, 0.8 V) above the zero line: the lowered dominant level only touches it, the
// trigger fires on noise and ringing anywhere on the level, and records without an edge leave
// steps without a value. With the trigger level within the swing (0.32 V, a user file as the
// limit editor saves it) every step reads the lowered bus.
TEST_F(BusFidelityTest, CanAt500kWithLoweredLevelsAndATriggerLevelWithinThem)
{
    useScenario("can_hs_500k.json");
    simboard::updateScenario([](simboard::TScenario& s) {
        s.bus.high[0] = 2.9;
        s.bus.low[0] = 2.1;
    });
    const unsigned char* bytes = nullptr;
    int size = 0;
    ASSERT_EQ(getBusPseudoFileContent("/CanHS_500kbps.bus", &bytes, &size), 1);
    std::string text(reinterpret_cast<const char*>(bytes), size_t(size));
    const std::string level = "<LevelTrigCh1 a=\"100\"/>";
    ASSERT_NE(text.find(level), std::string::npos);
    text.replace(text.find(level), level.size(), "<LevelTrigCh1 a=\"40\"/>");
    ::mkdir(hostPath("/media/user/bus-limits").c_str(), 0777);
    std::ofstream(hostPath("/media/user/bus-limits/CanLowTrigger.bus"), std::ios::binary) << text;
    const std::string report = diagnose("CanLowTrigger.bus*");
    std::printf("%s\n", report.c_str());
    // Levels within 1 % of the sample's 2 V swing.
    check(report, {{"Vdiff Dom", 0.8, 0, 0.02},
                   {"Vdiff Rec", 0.0, 0, 0.02},
                   {"VCanH Dom", 2.9, 0, 0.02},
                   {"VCanH Rec", 2.5, 0, 0.02},
                   {"Time Rise", 60e-9, 0.2, 0},
                   {"Time Fall", 90e-9, 0.2, 0},
                   {"Time Data", 2e-6, 0.05, 0}});
}

} // namespace
