// The bus-analysis engine with the real controller pass: loads, the global setup, the step
// sequence with its records, stop, time-out and mode changes, and whole diagnoses of the CAN file.
#include "tests/busanalysis/busthreadfixture.h"

#include "board/board.h"
#include "busanalysis/busanalysis.h"
#include "busanalysis/buspseudofile.h"
#include "tests/busanalysis/busxml.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

// A user descriptor under /media/user/bus-limits.
void writeUserFile(const std::string& root, const std::string& name, const std::string& lines)
{
    const std::string dir = root + "/media/user/bus-limits";
    ::mkdir((root + "/media").c_str(), 0777);
    ::mkdir((root + "/media/user").c_str(), 0777);
    ::mkdir(dir.c_str(), 0777);
    std::ofstream out(dir + "/" + name, std::ios::binary);
    std::istringstream split(lines);
    for (std::string line; std::getline(split, line);)
        out << line << "\r\n";
}

const char* kShortFile =
    "<FileBUs>\n<BUS>\n<TITLE a=\"Short@test\"/>\n<NbMesureMax a=\"1\"/>\n</BUS>\n<SETUP>\n<TimeBase a=\"12\"/>\n"
    "</SETUP>\n<MESURE0>\n<MESURE>\n<NameMesure a=\"V Top\"/>\n<IdMesure a=\"$1040\"/>\n<LimiteMax a=\"3\"/>\n"
    "<LimiteMin a=\"1.2\"/>\n<Warning a=\"10\"/>\n<NbMesuresMax a=\"2\"/>\n<TempoCoupAC a=\"-5000\"/>\n</MESURE>\n"
    "<SETUPMESURE>\n<IdVoie a=\"0\"/>\n<NbAcq a=\"1\"/>\n</SETUPMESURE>\n<SETUP>\n<RunAfterDel a=\"-95000\"/>\n"
    "<TimeBase a=\"7\"/>\n<TrigSelect a=\"1\"/>\n</SETUP>\n<DIAG msg=\"msg1\"/>\n</MESURE0>\n</FileBUs>";

TEST_F(BusThreadTest, LoadsBuiltInAndUserFilesAndRefusesTheOthers)
{
    writeUserFile(root_, "CAN.bus", kShortFile);
    writeUserFile(root_, "Empty.bus",
                  "<FileBUs>\n<BUS>\n<TITLE a=\"none\"/>\n<NbMesureMax a=\"0\"/>\n</BUS>\n</FileBUs>");
    struct Case {
        const char* name;
        bool loads;
    } cases[] = {
        {"CanHS_500kbps.bus", true}, {"CAN.bus*", true},         {"Empty.bus*", true},
        {"Nope.bus", false},         {"../bus-limits/CAN.bus*", false}, {".CAN.bus*", false},
        {"*", false},                {"CAN.bus", false},         {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        posted.clear();
        loadFile(c.name);
        EXPECT_EQ(engine->loadState() == TBusAnalysis::kLoaded, c.loads);
        EXPECT_EQ(postedOf(REQ_FILE, fileSetupApply).size(), c.loads ? 1u : 0u);
        EXPECT_EQ(messages(), c.loads ? std::vector<intptr_t>{} : std::vector<intptr_t>{30});
    }
    // Nothing loaded: a start posts message 30 and sets the switch back to idle.
    posted.clear();
    setParam(param::busDiag, 0);
    EXPECT_FALSE(engine->running());
    // Message 30 for the start, and again for the reload that the switch's return asks for.
    EXPECT_EQ(messages(), (std::vector<intptr_t>{30, 30}));
    EXPECT_EQ(data.busDiag, 1);
}

TEST_F(BusThreadTest, RefusesDescriptorsBeyondTheSlotsOrTheStepCount)
{
    std::string many = "<FileBUs>\n<BUS>\n<NbMesureMax a=\"2\"/>\n</BUS>\n";
    for (int n = 0; n < 2; ++n) {
        many += "<MESURE" + std::to_string(n) + ">\n";
        for (int i = 0; i < 9; ++i)
            many += "<MESURE>\n<IdMesure a=\"$1040\"/>\n</MESURE>\n";
        many += "</MESURE" + std::to_string(n) + ">\n";
    }
    writeUserFile(root_, "Many.bus", many + "</FileBUs>");
    writeUserFile(root_, "Steps.bus", "<FileBUs>\n<BUS>\n<NbMesureMax a=\"28\"/>\n</BUS>\n</FileBUs>");
    writeUserFile(root_, "Bad.bus",
                  "<FileBUs>\n<BUS>\n<NbMesureMax a=\"0\"/>\n</BUS>\n<SETUP>\n<TimeBase a=\"x\"/>\n</SETUP>\n"
                  "</FileBUs>");
    for (const char* name : {"Many.bus*", "Steps.bus*", "Bad.bus*"}) {
        SCOPED_TRACE(name);
        posted.clear();
        loadFile(name);
        EXPECT_EQ(engine->loadState(), TBusAnalysis::kLoadFailed);
        EXPECT_EQ(messages(), std::vector<intptr_t>{30});
        EXPECT_TRUE(postedOf(REQ_FILE, fileSetupApply).empty());
    }
}

TEST_F(BusThreadTest, AppliesTheGlobalSetupOfTheCanFile)
{
    data.offsetCh1 = 250;
    loadFile("CanHS_500kbps.bus");
    ASSERT_EQ(engine->loadState(), TBusAnalysis::kLoaded);
    EXPECT_EQ(data.timeBaseIndex, 13);
    EXPECT_EQ(data.sweepOffset, -10000);
    EXPECT_EQ(data.sensitivityCh1, 5);
    EXPECT_EQ(data.sensitivityCh4, 6);
    EXPECT_EQ(data.trigMode, 0);
    EXPECT_EQ(data.traceOnCh1, 1);
    EXPECT_EQ(data.traceOnCh4, 1);
    EXPECT_EQ(data.couplingCh1, 1);
    EXPECT_EQ(data.couplingCh4, 1);
    EXPECT_EQ(data.offsetCh1, -33);
    EXPECT_EQ(data.trigSource, 0);
    EXPECT_EQ(data.trigLevelCh1, 100);
    EXPECT_EQ(data.trigCouplingCh1, 1);
    EXPECT_EQ(data.trigType, 0);
    EXPECT_EQ(data.pulseType, 0);
    EXPECT_EQ(data.pulseT2, 374);
    EXPECT_EQ(data.busDiag, 1);
    EXPECT_EQ(data.acqRunStop, 0);
    EXPECT_EQ(data.instrumentMode, 17);
    // The instrument's own fields stay.
    EXPECT_EQ(data.probeCoeffCh1, 10);
    EXPECT_STREQ(data.busFileName, "CanHS_500kbps.bus");
    const std::vector<pipe_dial> applied = postedOf(REQ_FILE, fileSetupApply);
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].senderId, senderValue(tBUS_id));
}

TEST_F(BusThreadTest, SetupTagsIntoTheRecord)
{
    auto setup = xmlElement(
        "<SETUP>\n<DecadeCh1 a=\"$10\"/>\n<TrigPulseWidthD a=\"374\"/>\n<TrigPulseWidth a=\"12\"/>\n"
        "<xxValideCh4xx a=\"1\"/>\n<Math2 a=\"ch1-ch4 rest\"/>\n<FFTDecadCh2 a=\"-7\"/>\n<Unknown a=\"5\"/>\n"
        "<SensiCh1 a=\"\"/>\n<Holdoff a=\"4000000000\"/>\n<LevelTrigCh4 a=\"70000\"/>\n<TimeBase a=\"3\"/>\n"
        "</SETUP>");
    database image = init_par;
    image.traceOnCh4 = 0;
    EXPECT_EQ(createBusSetup(setup.get(), &image), -1);
    EXPECT_EQ(image.offsetCh1, 16);
    EXPECT_EQ(image.pulseT2, 374);
    EXPECT_EQ(image.pulseT1, 12);
    EXPECT_EQ(image.traceOnCh4, 1);
    EXPECT_STREQ(image.mathExprCh2, "ch1-ch4");
    EXPECT_EQ(image.fftOffsetCh2, -7);
    EXPECT_EQ(image.sensitivityCh1, init_par.sensitivityCh1);
    EXPECT_EQ(image.trigHoldoff, 4000000000u);
    EXPECT_EQ(image.trigLevelCh4, init_par.trigLevelCh4);  // did not read: the walk stopped
    EXPECT_EQ(image.timeBaseIndex, init_par.timeBaseIndex);
    EXPECT_EQ(createBusSetup(nullptr, &image), 0);
}

TEST_F(BusThreadTest, FirstStepRecordsInOrder)
{
    loadFile("CanHS_500kbps.bus");
    posted.clear();
    TPauseLog::instance().clear();
    pipe_dial start{REQ_BUS_STEP, BUS_STEP_START, 0, 0, 0.0f, 0};
    o_g_busMessageBox.send(&start);
    engine->handleNext();
    ASSERT_TRUE(engine->running());
    EXPECT_FALSE(engine->acquiring());
    EXPECT_EQ(engine->waitTimeout(), 10);
    EXPECT_EQ(pauses(), std::vector<int>{500});
    std::vector<pipe_dial> records = drain(o_g_consMessageBox);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(records[0].code, param::acqRunStop);
    EXPECT_EQ(records[0].intValue, 1);
    EXPECT_EQ(records[0].senderId, senderValue(tBUS_id));
    EXPECT_EQ(records[1].kind, REQ_FILE);
    EXPECT_EQ(records[1].code, fileSetupApply);
    const auto* step = reinterpret_cast<const database*>(records[1].intValue);
    EXPECT_EQ(step->timeBaseIndex, 7);
    EXPECT_EQ(step->sweepOffset, -95000);
    EXPECT_EQ(step->trigType, 1);
    EXPECT_EQ(step->traceOnCh4, 0);
    EXPECT_EQ(step->busDiag, 0);
    EXPECT_EQ(step->acqRunStop, 1);
    EXPECT_EQ(step->probeCoeffCh1, 10);
    EXPECT_EQ(records[2].kind, REQ_SCREEN);
    EXPECT_EQ(records[2].code, 2);
    EXPECT_EQ(records[2].intValue, 29);
    EXPECT_EQ(records[2].senderId, senderValue(TRAD_id));
    EXPECT_STREQ(reinterpret_cast<const char*>(records[2].auxValue), "1/10 ( Vdiff_Dom )");

    // An acquisition notice while not acquiring changes nothing.
    engine->handle(pipe_dial{REQ_BUS_STEP, BUS_STEP_ACQUIRED, 0, 0, 0.0f, 0});
    EXPECT_TRUE(o_g_consMessageBox.empty());
    EXPECT_EQ(engine->bus().measurementSlots[0].acquisitions, 0);

    // Stale notices are dropped when the step's setup is applied; a stop sent meanwhile stays.
    for (int32_t code : {BUS_STEP_ACQUIRED, BUS_STEP_STOP, BUS_STEP_ACQUIRED}) {
        pipe_dial r{REQ_BUS_STEP, code, 0, 0, 0.0f, 0};
        o_g_busMessageBox.send(&r);
    }
    TPauseLog::instance().clear();
    engine->handle(pipe_dial{REQ_BUS_STEP, BUS_STEP_APPLIED, 0, 0, 0.0f, 0});
    EXPECT_TRUE(engine->acquiring());
    EXPECT_EQ(pauses(), (std::vector<int>{0, 5}));
    records = drain(o_g_consMessageBox);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, param::acqRunStop);
    EXPECT_EQ(records[0].intValue, 0);
    EXPECT_EQ(records[0].senderId, senderValue(MENU_id));
    const std::vector<pipe_dial> left = drain(o_g_busMessageBox);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].code, BUS_STEP_STOP);

    // The stop: message 32, the diagnosis ended, the file reloaded quietly.
    posted.clear();
    send(BUS_STEP_STOP);
    EXPECT_FALSE(engine->running());
    EXPECT_EQ(messages(), std::vector<intptr_t>{32});
    EXPECT_EQ(engine->loadState(), TBusAnalysis::kLoaded);
    EXPECT_EQ(postedOf(REQ_FILE, fileSetupApply).size(), 1u);
}

TEST_F(BusThreadTest, SettlingPauseIsBounded)
{
    writeUserFile(root_, "Short.bus", kShortFile);
    loadFile("Short.bus*");
    engine->handle(pipe_dial{REQ_BUS_STEP, BUS_STEP_START, 0, 0, 0.0f, 0});
    ASSERT_TRUE(engine->running());
    drain(o_g_consMessageBox);
    TPauseLog::instance().clear();
    engine->handle(pipe_dial{REQ_BUS_STEP, BUS_STEP_APPLIED, 0, 0, 0.0f, 0});
    EXPECT_EQ(pauses(), (std::vector<int>{0, 5}));  // -5000 ms from the file
}

TEST_F(BusThreadTest, NoStepsWritesTheReportAtOnce)
{
    writeUserFile(root_, "Empty.bus",
                  "<FileBUs>\n<BUS>\n<TITLE a=\"No@steps\"/>\n<NbMesureMax a=\"0\"/>\n</BUS>\n</FileBUs>");
    loadFile("Empty.bus*");
    posted.clear();
    send(BUS_STEP_START);
    EXPECT_FALSE(engine->running());
    const std::string report = reportText();
    EXPECT_NE(report.find("<H1>No steps</H1>"), std::string::npos);
    EXPECT_NE(report.find("Bus quality: ----"), std::string::npos);
    // Message 0, the switch to idle, the results: in this order, with their senders.
    std::vector<pipe_dial> end;
    for (const pipe_dial& r : posted)
        if (r.kind == REQ_SCREEN || (r.kind == REQ_SET_PARAM && r.code == param::busDiag))
            end.push_back(r);
    ASSERT_GE(end.size(), 3u);
    EXPECT_EQ(end[0].kind, REQ_SCREEN);
    EXPECT_EQ(end[0].intValue, 0);
    EXPECT_EQ(end[0].senderId, senderValue(TRAD_id));
    EXPECT_EQ(end[1].code, param::busDiag);
    EXPECT_EQ(end[1].intValue, 1);
    EXPECT_EQ(end[1].senderId, senderValue(MENU_id));
    EXPECT_EQ(end[2].kind, REQ_SCREEN);
    EXPECT_EQ(end[2].code, 5);
    EXPECT_EQ(bridge()->callsStartingWith("screenIhm(5,").size(), 1u);
    // No message 32: the reload after the report is quiet.
    EXPECT_EQ(messages(), std::vector<intptr_t>{0});
}

TEST_F(BusThreadTest, TimeOutOnceThenAStartRunsAgain)
{
    loadFile("CanHS_500kbps.bus");
    engine->handle(pipe_dial{REQ_BUS_STEP, BUS_STEP_START, 0, 0, 0.0f, 0});
    ASSERT_TRUE(engine->running());
    drain(o_g_consMessageBox);
    posted.clear();
    engine->timeOut();
    EXPECT_FALSE(engine->running());
    EXPECT_EQ(engine->waitTimeout(), 0);
    EXPECT_EQ(engine->loadState(), TBusAnalysis::kTimedOut);
    pump();
    EXPECT_EQ(messages(), std::vector<intptr_t>{31});
    EXPECT_EQ(postedOf(REQ_SET_PARAM, param::busDiag).size(), 1u);
    EXPECT_EQ(data.busDiag, 1);
    EXPECT_EQ(engine->loadState(), TBusAnalysis::kLoaded);  // the quiet reload
    posted.clear();
    setParam(param::busDiag, 0);
    ASSERT_FALSE(messages().empty());
    EXPECT_EQ(messages()[0], 29);
    EXPECT_EQ(messages().back(), 0);  // the diagnosis ran to its report
}

TEST_F(BusThreadTest, LeavingBusAnalysisEndsTheDiagnosis)
{
    loadFile("CanHS_500kbps.bus");
    engine->handle(pipe_dial{REQ_BUS_STEP, BUS_STEP_START, 0, 0, 0.0f, 0});
    ASSERT_TRUE(engine->running());
    drain(o_g_consMessageBox);
    posted.clear();
    engine->handle(pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0});
    EXPECT_FALSE(engine->running());
    EXPECT_EQ(engine->waitTimeout(), 0);
    std::vector<pipe_dial> records = drain(o_g_consMessageBox);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, param::busDiag);
    // Coming back loads the file again.
    engine->handle(pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, 17, 0.0f, 0});
    records = drain(o_g_busMessageBox);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, BUS_STEP_LOAD);
    EXPECT_EQ(reinterpret_cast<const char*>(records[0].intValue), data.busFileName);
    // A step setup that does not read ends the diagnosis with message 30.
    writeUserFile(root_, "BadStep.bus",
                  "<FileBUs>\n<BUS>\n<NbMesureMax a=\"1\"/>\n</BUS>\n<MESURE0>\n<MESURE>\n<IdMesure a=\"16\"/>\n"
                  "</MESURE>\n<SETUP>\n<TimeBase a=\"-\"/>\n</SETUP>\n</MESURE0>\n</FileBUs>");
    loadFile("BadStep.bus*");
    posted.clear();
    setParam(param::busDiag, 0);
    EXPECT_FALSE(engine->running());
    EXPECT_EQ(messages(), std::vector<intptr_t>{30});
    EXPECT_EQ(data.busDiag, 1);
}

class BusDiagnosisTest : public BusThreadTest {
protected:
    // A whole diagnosis of a file; the report.
    std::string run(const char* file)
    {
        loadFile(file);
        EXPECT_EQ(engine->loadState(), TBusAnalysis::kLoaded);
        posted.clear();
        setParam(param::busDiag, 0);
        EXPECT_FALSE(engine->running());
        return reportText();
    }
    // A sample scenario of board/sim.
    static void useScenario(const char* file)
    {
        std::ifstream in(std::string(BV_SOURCE_ROOT) + "/board/sim/" + file);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string why;
        ASSERT_TRUE(simboard::loadScenarioText(text, &why)) << why;
    }
    void dominant(double volts)
    {
        simboard::updateScenario([volts](simboard::TScenario& s) {
            s.bus.high[0] = 2.5 + volts / 2;
            s.bus.low[0] = 2.5 - volts / 2;
        });
    }
    static int rows(const std::string& report)
    {
        int n = 0;
        for (size_t at = report.find("<TR class="); at != std::string::npos; at = report.find("<TR class=", at + 1))
            ++n;
        return n;
    }
    // The value cell of the row named name.
    static std::string valueCell(const std::string& report, const std::string& name)
    {
        size_t at = report.find("<TD>" + name + "</TD>");
        for (int i = 0; i < 3 && at != std::string::npos; ++i)
            at = report.find("\r\n", at) + 2;
        return at == std::string::npos ? std::string() : report.substr(at, report.find("\r\n", at) - at);
    }
};

TEST_F(BusDiagnosisTest, WholeCanFileStepByStep)
{
    const std::string report = run("CanHS_500kbps.bus");
    EXPECT_EQ(rows(report), 10);
    const std::vector<std::string>& texts = stepTexts;
    ASSERT_EQ(texts.size(), 10u);
    EXPECT_EQ(texts[0], "1/10 ( Vdiff_Dom )");
    EXPECT_EQ(texts[9], "10/10 ( Over- )");
    // CAN-H's 1 V swing is less than half a division at 2 V/div: its levels still count.
    for (const char* name : {"Vdiff Dom", "Vdiff Rec", "VCanH Dom", "VCanH Rec", "Time Rise", "Time Fall"})
        EXPECT_EQ(valueCell(report, name).rfind("<TD class=\"green\">", 0), 0u) << name << "\n" << report;
    EXPECT_EQ(bridge()->callsStartingWith("screenIhm(5,").size(), 1u);
    EXPECT_EQ(data.busDiag, 1);
}

TEST_F(BusDiagnosisTest, HealthyBusIsGreen)
{
    useScenario("can_hs_500k.json");
    const std::string report = run("CanHS_500kbps.bus");
    EXPECT_NE(report.find("<H2 class=\"green\">Bus quality: 100%</H2>"), std::string::npos) << report;
    EXPECT_EQ(rows(report), 10);
    EXPECT_EQ(report.find("<H5>"), std::string::npos);
}

TEST_F(BusDiagnosisTest, LowDominantLevelFailsWithItsHints)
{
    dominant(1.0);
    const std::string report = run("CanHS_500kbps.bus");
    EXPECT_NE(report.find("<H2 class=\"red\">Bus quality: 0%</H2>"), std::string::npos) << report;
    EXPECT_EQ(valueCell(report, "Vdiff Dom").rfind("<TD class=\"red\">", 0), 0u);
    for (const char* hint : {"<LI>- Termination problem</LI>", "<LI>- Faulty junction connection</LI>",
                             "<LI>- Cable length not compliant with standard</LI>", "<LI>- Significant noise</LI>"})
        EXPECT_NE(report.find(hint), std::string::npos) << hint;
}

TEST_F(BusDiagnosisTest, DominantLevelInTheWarningBandIsYellow)
{
    dominant(1.1);
    const std::string report = run("CanHS_500kbps.bus");
    // Five passes and one warning among the steps with limits.
    EXPECT_NE(report.find("<H2 class=\"yellow\">Bus quality: 83%</H2>"), std::string::npos) << report;
    EXPECT_EQ(valueCell(report, "Vdiff Dom").rfind("<TD class=\"yellow\">", 0), 0u);
}

} // namespace

namespace {

TEST_F(BusDiagnosisTest, SampleRs232ScenarioWithTheDefaultFileIsGreen)
{
    useScenario("rs232_9600.json");
    data.probeCoeffCh1 = 10;
    const std::string report = run(init_par.busFileName);
    EXPECT_STREQ(init_par.busFileName, "RS232_9600bps.bus");
    EXPECT_NE(report.find("<H2 class=\"green\">Bus quality: 100%</H2>"), std::string::npos) << report;
    EXPECT_EQ(rows(report), 6);
}

} // namespace
