// Multimeter handlers, executed in process: the meter-mode gate, both coupling tables entry by
// entry, filters, ranges with their tolerance and keywords, and the meter values.
#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "tests/scpi/handler_cases.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class MeterCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        reset();
    }

    void TearDown() override
    {
        TSetupLinks& links = setupLinks();
        links.acqCh1 = links.acqCh2 = links.acqCh3 = links.acqCh4 = links.powerAcq = nullptr;
        for (TAcquisition* t : traces_)
            delete t;
        ScpiHandlerTest::TearDown();
    }

    // Meter mode, voltage, every channel AC without filter.
    void reset() override
    {
        data = init_par;
        data.instrumentMode = 128;
        data.meterFunction = 0;
        data.meterCouplingCh1 = data.meterCouplingCh2 = data.meterCouplingCh3 = data.meterCouplingCh4 = 0;
    }

    TAcquisition* traces_[5] = {};
};

TEST_F(MeterCommands, EveryHandlerIsRefusedOutsideTheMeterModes)
{
    for (uint16_t mode : {16, 0x8000, 0x40}) {
        for (const char* line : {"SENS:FUNC?", "SENS:FUNC RES", "INP2:DMM:COUP?", "INP2:DMM:COUP DC",
                                 "INP2:DMM:BAND:RES?", "INP2:DMM:BAND:RES 100", "RANG2:AUTO ON", "RANG2:AUTO?",
                                 "RANG2:VOLT 8", "RANG2:VOLT?", "RANG:OHM 80", "RANG:OHM?", "RANG:CAPA 5E-9",
                                 "RANG:CAPA?", "MEAS:DMM? INT1"}) {
            reset();
            data.instrumentMode = mode;
            data.meterFunction = 1;
            const Outcome o = run(line);
            EXPECT_EQ(o.error, kErrSettingsConflict) << line << " mode " << mode;
            EXPECT_EQ(o.requests, "") << line;
            EXPECT_EQ(o.reply, "") << line;
        }
    }
}

// The recorder keeps running and keeps its meter settings: the controller would drop every one
// of these there, so the handler refuses it and posts nothing. Queries still answer.
TEST_F(MeterCommands, TheRecorderRefusesWhatItWouldDrop)
{
    const struct {
        int16_t function;
        const char* line;
        const char* inMeterMode;  // the requests the same line makes in mode 128
    } rows[] = {
        {0, "SENS:FUNC RES", "1:151=1"},
        {0, "INP2:DMM:COUP DC", "1:155=1"},
        {0, "INP1:DMM:BAND:RES 100", "1:152=8"},
        {0, "RANG2:AUTO OFF", "1:157=0"},
        {0, "RANG1:VOLT 80", "1:153=2"},
        {1, "RANG:OHM 800", "1:164=1"},
        {3, "RANG:CAPA 5E-8", "1:165=2"},
        {0, "TRIG:RUN:STAT OFF", "1:3=1"},
        {0, "ABOR", "1:3=1 1:3=0"},
        {0, "INIT:CONT:NAME EDGE,OFF", "1:180=0 1:7=1 1:3=1"},
    };
    for (const auto& row : rows) {
        for (uint16_t mode : {128, 130}) {
            reset();
            data.instrumentMode = mode;
            data.meterFunction = row.function;
            const Outcome o = run(row.line);
            EXPECT_EQ(o.error, mode == 130 ? kErrSettingsConflict : 0) << row.line << " mode " << mode;
            EXPECT_EQ(o.requests, mode == 130 ? "" : row.inMeterMode) << row.line << " mode " << mode;
        }
    }
    // What the recorder takes: running on, and the queries.
    for (const char* line : {"TRIG:RUN:STAT ON", "INIT:CONT:NAME EDGE,ON", "*TRG"}) {
        reset();
        data.instrumentMode = 130;
        EXPECT_EQ(run(line).error, 0) << line;
    }
    reset();
    data.instrumentMode = 130;
    data.meterCouplingCh2 = 0;
    const Outcome query = run("INP2:DMM:COUP?");
    EXPECT_EQ(query.error, 0);
    EXPECT_EQ(query.reply, "AC\n\r");
}

TEST_F(MeterCommands, FunctionTexts)
{
    static const char* const kTexts[] = {"VOLT", "RES", "CONT", "CAPA", "DIOD", "PT100", "PT1000", "TCK", "POW",
                                         "POW3a", "POW3b", "POW3c", "MONITOR", "MONITOR", "MONITOR", "MONITOR",
                                         "MONITOR", "MONITOR"};
    for (int f = 0; f <= 17; ++f) {
        reset();
        data.meterFunction = static_cast<int16_t>(f);
        EXPECT_EQ(run("SENS:FUNC?").reply, std::string(kTexts[f]) + "\n\r") << f;
    }
    checkSets({
        {[] { data.instrumentMode = 129; }, "SENS:FUNC RES", 0, "1:151=1"},
        {nullptr, "FUNC MONITOR", 0, "1:151=12"},
        {nullptr, "FUNC POW3C", 0, "1:151=11"},
        {nullptr, "SENS2:FUNC VOLT", kErrSuffixOutOfRange, ""},
    });
}

// Both coupling tables, entry by entry, through what the coupling commands allow.
TEST_F(MeterCommands, CouplingFollowsTheTablesOfEveryFunction)
{
    const int ch1[17] = {0, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 2};
    const int chX[17] = {0, 0, 1, 1, 1, 0, 0, 0, 2, 2, 2, 2, 1, 1, 1, 1, 2};
    // A function stored beyond the tables counts as not applicable.
    for (int f = -1; f <= 17; ++f) {
        for (int channel = 1; channel <= 4; ++channel) {
            reset();
            data.meterFunction = static_cast<int16_t>(f);
            const int rule = f < 0 || f > 16 ? 1 : channel == 1 ? ch1[f] : chX[f];
            const std::string n = std::to_string(channel);
            const Outcome query = run("INP" + n + ":DMM:COUP?");
            const Outcome set = run("INP" + n + ":DMM:COUP DC");
            const std::string where = "function " + std::to_string(f) + " channel " + n;
            EXPECT_EQ(query.error, rule == 1 ? kErrSettingsConflict : 0) << where;
            EXPECT_EQ(query.reply, rule == 1 ? "" : "AC\n\r") << where;
            EXPECT_EQ(set.error, rule == 0 ? 0 : kErrSettingsConflict) << where;
            const int code = param::meterCouplingCh1 + 3 * (channel - 1);
            EXPECT_EQ(set.requests, rule == 0 ? "1:" + std::to_string(code) + "=1" : "") << where;
        }
    }
}

TEST_F(MeterCommands, CouplingAndFilterWords)
{
    checkSets({
        // DC drops the filter; AC and ACDC keep it.
        {[] { data.meterCouplingCh2 = 8; }, "INP2:DMM:COUP DC", 0, "1:155=1"},
        {[] { data.meterCouplingCh2 = 1; }, "INP2:DMM:COUP AC", 0, "1:155=0"},
        {[] { data.meterCouplingCh3 = 4; }, "INP3:DMM:COUP ACDC", 0, "1:158=6"},
        {[] { data.meterCouplingCh4 = 9; }, "INP4:DMM:COUP AC", 0, "1:161=8"},
        {nullptr, "INP5:DMM:COUP AC", kErrSuffixOutOfRange, ""},
        {nullptr, "INP:DMM2:COUP AC", kErrSuffixOutOfRange, ""},
        // Filters by bandwidth; a keyword is 0 Hz.
        {nullptr, "INP1:DMM:BAND:RES 100", 0, "1:152=8"},
        {nullptr, "INP1:DMM:BAND:RES 625", 0, "1:152=8"},
        {nullptr, "INP1:DMM:BAND:RES 626", 0, "1:152=4"},
        {nullptr, "INP1:DMM:BAND:RES 5000", 0, "1:152=4"},
        {[] { data.meterCouplingCh1 = 6; }, "INP1:DMM:BAND:RES 5001", 0, "1:152=2"},
        {[] { data.meterCouplingCh1 = 10; }, "INP1:DMM:BAND:RES 0", 0, "1:152=2"},
        {[] { data.meterCouplingCh1 = 8; }, "INP1:DMM:BAND:RES MAX", 0, "1:152=0"},
        {[] { data.meterCouplingCh1 = 1; }, "INP1:DMM:BAND:RES 100", kErrSettingsConflict, ""},
        {[] { data.meterFunction = 8; }, "INP1:DMM:BAND:RES 100", kErrSettingsConflict, ""},
        {[] { data.meterFunction = 5; }, "INP2:DMM:BAND:RES 100", 0, "1:155=8"},
        {nullptr, "INP2:DMM:BAND2:RES 100", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {[] { data.meterCouplingCh2 = 1; }, "INP2:DMM:COUP?", "DC", 0},
        {[] { data.meterCouplingCh2 = 2; }, "INP2:DMM:COUP?", "ACDC", 0},
        {[] { data.meterCouplingCh2 = 3; }, "INP2:DMM:COUP?", "ACDC", 0},
        {[] { data.meterFunction = 16; data.meterCouplingCh1 = 1; }, "INP1:DMM:COUP?", "AC", 0},
        {[] { data.meterCouplingCh3 = 4; }, "INP3:DMM:BAND:RES?", "5.0e3", 0},
        {[] { data.meterCouplingCh3 = 8; }, "INP3:DMM:BAND:RES?", "625.0", 0},
        {[] { data.meterCouplingCh3 = 10; data.meterFunction = 16; }, "INP3:DMM:BAND:RES?", "5.0e3", 0},
        {[] { data.meterCouplingCh3 = 12; }, "INP3:DMM:BAND:RES?", "0", 0},
        {[] { data.meterFunction = 1; }, "INP1:DMM:BAND:RES?", nullptr, kErrSettingsConflict},
    });
}

TEST_F(MeterCommands, RangesByValueWithinTolerance)
{
    const std::string voltMax = "1:156=" + std::to_string(max_par.meterRangeCh1);
    const std::string ohmMax = "1:164=" + std::to_string(max_par.ohmRange);
    const std::string capaMax = "1:165=" + std::to_string(max_par.capaRange);
    checkSets({
        {nullptr, "RANG2:VOLT 80", 0, "1:156=2"},
        {nullptr, "SENS:RANG2:VOLT 0.8016", 0, "1:156=0"},
        {nullptr, "RANG2:VOLT 7.99", 0, "1:156=1"},
        {nullptr, "RANG4:VOLT 800", 0, "1:162=3"},
        {nullptr, "RANG2:VOLT 50", kErrDataOutOfRange, ""},
        {nullptr, "RANG2:VOLT 8.03", kErrDataOutOfRange, ""},
        {nullptr, "RANG2:VOLT MAX", 0, voltMax.c_str()},
        {[] { data.meterRangeCh3 = 0; }, "RANG3:VOLT DOWN", kErrDataOutOfRange, ""},
        {[] { data.meterRangeCh3 = 1; }, "RANG3:VOLT UP", 0, "1:159=2"},
        {nullptr, "RANG2:VOLT DEF", kErrQuery, ""},
        {nullptr, "RANG5:VOLT 8", kErrSuffixOutOfRange, ""},
        {nullptr, "SENS2:RANG:VOLT 8", kErrSuffixOutOfRange, ""},
        // Channel 1 only in voltage, monitor and the power functions.
        {[] { data.meterFunction = 1; }, "RANG1:VOLT 8", kErrSettingsConflict, ""},
        {[] { data.meterFunction = 9; }, "RANG1:VOLT 8", 0, "1:153=1"},
        {[] { data.meterFunction = 16; }, "RANG:VOLT 8", 0, "1:153=1"},
        {[] { data.meterFunction = 1; }, "RANG2:VOLT 8", 0, "1:156=1"},
        {nullptr, "RANG2:AUTO ON", 0, "1:157=1"},
        {[] { data.meterFunction = 16; }, "RANG2:AUTO ON", kErrSettingsConflict, ""},
        {[] { data.meterFunction = 1; }, "RANG:OHM 8000", 0, "1:164=2"},
        {[] { data.meterFunction = 1; }, "RANG:OHM 3.2E7", 0, "1:164=6"},
        {[] { data.meterFunction = 1; }, "RANG:OHM 8100", kErrDataOutOfRange, ""},
        {[] { data.meterFunction = 1; }, "RANG:OHM MAX", 0, ohmMax.c_str()},
        {[] { data.meterFunction = 1; data.ohmRange = 0; }, "RANG:OHM DOWN", kErrDataOutOfRange, ""},
        {nullptr, "RANG:OHM 80", kErrSettingsConflict, ""},
        {[] { data.meterFunction = 3; }, "RANG:CAPA 5E-9", 0, "1:165=1"},
        {[] { data.meterFunction = 3; }, "RANG:CAPA 0.005", 0, "1:165=7"},
        {[] { data.meterFunction = 3; }, "RANG:CAPA 5E-10", kErrDataOutOfRange, ""},
        {[] { data.meterFunction = 3; }, "RANG:CAPA MIN", 0, "1:165=1"},
        {[] { data.meterFunction = 3; }, "RANG:CAPA MAX", 0, capaMax.c_str()},
        {[] { data.meterFunction = 3; data.capaRange = 1; }, "RANG:CAPA DOWN", kErrDataOutOfRange, ""},
        {[] { data.meterFunction = 3; data.capaRange = 0; }, "RANG:CAPA DOWN", kErrDataOutOfRange, ""},
        {[] { data.meterFunction = 3; data.capaRange = 0; }, "RANG:CAPA UP", 0, "1:165=1"},
        {nullptr, "RANG:CAPA 5E-9", kErrSettingsConflict, ""},
    });
    checkQueries({
        {[] { data.meterRangeCh2 = 0; }, "RANG2:VOLT?", "8.0e-1", 0},
        {[] { data.meterRangeCh2 = 1; }, "RANG2:VOLT?", "8.0", 0},
        {[] { data.meterRangeCh2 = 2; }, "RANG2:VOLT?", "8.0e1", 0},
        {[] { data.meterRangeCh2 = 3; }, "RANG2:VOLT?", "8.0e2", 0},
        {[] { data.meterFunction = 2; }, "RANG1:VOLT?", nullptr, kErrSettingsConflict},
        {[] { data.meterAutoRangeCh4 = 1; }, "RANG4:AUTO?", "1", 0},
        {[] { data.meterFunction = 1; data.ohmRange = 2; }, "RANG:OHM?", "8.0e3", 0},
        {[] { data.meterFunction = 1; data.ohmRange = 6; }, "RANG:OHM?", "32.0e6", 0},
        {[] { data.meterFunction = 3; data.capaRange = 0; }, "RANG:CAPA?", "5.0e-10", 0},
        {[] { data.meterFunction = 3; data.capaRange = 7; }, "RANG:CAPA?", "5.0e-3", 0},
    });
}

TEST_F(MeterCommands, MeterValuesOfShownChannelsAndThePowerTrace)
{
    TSetupLinks& links = setupLinks();
    TAcquisition** slots[5] = {&links.acqCh1, &links.acqCh2, &links.acqCh3, &links.acqCh4, &links.powerAcq};
    const float values[5] = {123.456f, -0.001234f, 0.0f, 5e9f, 42.0f};
    for (int i = 0; i < 5; ++i) {
        traces_[i] = new TAcquisition(static_cast<unsigned short>(i < 4 ? 1 << i : 16));
        traces_[i]->measureValue = values[i];
        *slots[i] = traces_[i];
    }
    checkQueries({
        {[] { data.channelFlags = 0xF; }, "MEAS:DMM? INT1", "1.235e+02", 0},
        {[] { data.channelFlags = 0xF; }, "MEAS:DMM? INT2", "-1.234e-03", 0},
        {[] { data.channelFlags = 0xF; }, "MEAS:DMM? INT3", "0.000e+00", 0},
        {[] { data.channelFlags = 0xF; }, "MEAS:DMM? INT4", "5.000e+09", 0},
        {[] { data.channelFlags = 0xB; }, "MEAS:DMM? INT3", nullptr, kErrSettingsConflict},
        {[] { data.meterFunction = 8; }, "MEAS:DMM? INT5", "4.200e+01", 0},
        {[] { data.meterFunction = 1; }, "MEAS:DMM? INT5", nullptr, kErrSettingsConflict},
        {nullptr, "MEAS:DMM?", nullptr, kErrMissingParameter},
        {nullptr, "MEAS2:DMM? INT1", nullptr, kErrSuffixOutOfRange},
    });
}

} // namespace
