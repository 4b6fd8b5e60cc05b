// DISPlay handlers, executed in process against a prepared live setup and live traces: suffix
// rules, gates, bounds, keywords, conversions both ways and the reply texts.
#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "tests/scpi/handler_cases.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

class DisplayCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        // Channel 1: probe x10, an offset and a position, so that every term of the level
        // conversion counts. Channel 2: plain.
        trace1_ = new TAcquisition(1);
        trace1_->sensitivity = 8;
        trace1_->probeCoeff = 10.0f;
        trace1_->offset = 3276.0f;
        trace1_->position = 100;
        trace2_ = new TAcquisition(2);
        trace2_->sensitivity = 5;
        trace2_->probeCoeff = 1.0f;
        setupLinks().acqCh1 = trace1_;
        setupLinks().acqCh2 = trace2_;
        reset();
    }

    void TearDown() override
    {
        setupLinks().acqCh1 = nullptr;
        setupLinks().acqCh2 = nullptr;
        delete trace1_;
        delete trace2_;
        ScpiHandlerTest::TearDown();
    }

    // Scope mode, cursors shown, reference on channel 1, channels 1 and 3 shown.
    void reset() override
    {
        data = init_par;
        data.instrumentMode = 16;
        data.cursorState = 1;
        data.measRefChannel = 1;
        data.traceOnCh1 = 1;
        data.traceOnCh2 = 0;
        data.traceOnCh3 = 1;
        data.traceOnCh4 = 0;
    }

    // The value of a setting in a request text "1:code=value".
    static long long posted(const std::string& requests, int code)
    {
        const std::string key = "1:" + std::to_string(code) + "=";
        const size_t at = requests.find(key);
        return at == std::string::npos ? -1 : std::stoll(requests.substr(at + key.size()));
    }

    TAcquisition* trace1_ = nullptr;
    TAcquisition* trace2_ = nullptr;
};

std::string text(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

TEST_F(DisplayCommands, BrightnessReferenceStateFormatModeAndSources)
{
    checkSets({
        {nullptr, "DISP:BRIG 0.5", 0, "1:103=5"},
        {nullptr, "DISP:BRIG 2", 0, "1:103=9"},
        {nullptr, "DISP:BRIG -1", 0, "1:103=0"},
        {nullptr, "DISP:BRIG 0.05", 0, "1:103=0"},
        {nullptr, "DISP:BRIG MAX", 0, "1:103=9"},
        {nullptr, "DISP2:BRIG 0.5", kErrSuffixOutOfRange, ""},
        // Reference: the channel must be shown; INT5 indexes nothing.
        {nullptr, "DISP:CURS:REF INT3", 0, "1:23=4"},
        {nullptr, "DISP:WIND:CURS:REF INT1", 0, "1:23=1"},
        {nullptr, "DISP:CURS:REF INT2", kErrSettingsConflict, ""},
        {nullptr, "DISP:CURS:REF INT5", kErrInvalidCharacterData, ""},
        {nullptr, "DISP:WIND2:CURS:REF INT1", kErrSuffixOutOfRange, ""},
        {nullptr, "DISP:CURS:STAT ON", 0, "1:93=1"},
        {nullptr, "DISP:CURS:STAT OFF", 0, "1:93=0"},
        {[] { data.cursorState = 3; }, "DISP:CURS:STAT OFF", kErrSettingsConflict, ""},
        {nullptr, "DISP:TRAC:FORM XY", 0, "1:73=2"},
        {nullptr, "DISP:TRAC:FORM A", 0, "1:73=0"},
        {nullptr, "DISP:TRAC:MODE NORM", 0, "1:2=1 1:38=16"},
        {[] { data.instrumentMode = 129; }, "DISP:TRAC:MODE ENV", 0, "1:2=2 1:38=16"},
        {nullptr, "DISP:TRAC:MODE ALL", 0, "1:2=4 1:38=16"},
        {nullptr, "DISP:TRAC:MODE ACC", 0, "1:2=5 1:38=16"},
        {nullptr, "DISP:TRAC:STAT4 ON", 0, "1:20=1"},
        {nullptr, "DISP:TRAC:STAT2 OFF", 0, "1:16=0"},
        {nullptr, "DISP:TRAC:STAT5 ON", kErrSuffixOutOfRange, ""},
        {nullptr, "DISP:TRAC:XY:XDEF INT4", 0, "1:59=3"},
        {nullptr, "DISP:TRAC:XY:YDEF INT2", 0, "1:60=1"},
        {nullptr, "DISP:TRAC:XY:XDEF INT5", kErrInvalidCharacterData, ""},
        {nullptr, "DISP:TRAC:XY:YDEF INT5", kErrInvalidCharacterData, ""},
        {nullptr, "DISP:TRAC:Y:SPAC LIN", 0, "1:98=0"},
        {nullptr, "DISP:TRAC:Y:SPAC LOG", 0, "1:98=1"},
    });
    checkQueries({
        {[] { data.measRefChannel = 4; }, "DISP:CURS:REF?", "INT3", 0},
        {[] { data.measRefChannel = 8; }, "DISP:CURS:REF?", "INT4", 0},
        // Not one channel: an empty line, never a silent wait.
        {[] { data.measRefChannel = 3; }, "DISP:CURS:REF?", "", 0},
        {[] { data.cursorState = 3; }, "DISP:CURS:STAT?", "1", 0},
        {[] { data.cursorState = 0; }, "DISP:CURS:STAT?", "0", 0},
        {[] { data.traceFormat = 1; }, "DISP:TRAC:FORM?", "A", 0},
        {[] { data.traceFormat = 2; }, "DISP:TRAC:FORM?", "XY", 0},
        {[] { data.traceMode = 0; }, "DISP:TRAC:MODE?", "DOT", 0},
        {[] { data.traceMode = 2; }, "DISP:TRAC:MODE?", "ENV", 0},
        {[] { data.traceMode = 3; }, "DISP:TRAC:MODE?", "", 0},
        {[] { data.traceMode = 5; }, "DISP:TRAC:MODE?", "ACC", 0},
        {nullptr, "DISP:TRAC:STAT3?", "1", 0},
        {nullptr, "DISP:TRAC:STAT2?", "0", 0},
        {[] { data.xySourceY = 2; }, "DISP:TRAC:XY:YDEF?", "INT3", 0},
        {[] { data.fftVerticalScale = 0; }, "DISP:TRAC:Y:SPAC?", "LIN", 0},
        {nullptr, "DISP:TRAC:Y:SPAC?", "LOG", 0},  // the default setup's dB scale
    });
}

TEST_F(DisplayCommands, CursorPositionsNeedShownCursors)
{
    const std::string timeMax = "1:24=" + std::to_string(max_par.cursor1Time);
    const std::string levelMax = "1:89=" + std::to_string(max_par.cursor1Level);
    checkSets({
        {[] { data.cursorState = 0; }, "DISP:CURS:TIME2:POS 0", kErrSettingsConflict, ""},
        {[] { data.cursorState = 2; }, "DISP:CURS:VOLT1:POS 0", kErrSettingsConflict, ""},
        {nullptr, "DISP:CURS:TIME4:POS 0", kErrSuffixOutOfRange, ""},
        {nullptr, "DISP:CURS:VOLT3:POS 0", kErrSuffixOutOfRange, ""},
        {nullptr, "DISP:CURS:TIME:POS2 0", kErrSuffixOutOfRange, ""},
        {nullptr, "DISP:CURS:TIME3:POS MIN", 0, "1:92=0"},
        {nullptr, "DISP:CURS:TIME:POS MAX", 0, timeMax.c_str()},
        {nullptr, "DISP:CURS:TIME:POS UP", kErrQuery, ""},
        {nullptr, "DISP:CURS:VOLT2:POS MAX", 0, levelMax.c_str()},
        {nullptr, "DISP:CURS:VOLT:POS DEF", kErrQuery, ""},
        {nullptr, "DISP:CURS:TIME:POS -1", kErrDataOutOfRange, ""},
        {nullptr, "DISP:CURS:TIME:POS 1E30", kErrDataOutOfRange, ""},
        {nullptr, "DISP:CURS:VOLT:POS 1E30", kErrDataOutOfRange, ""},
    });
    checkQueries({
        {[] { data.cursorState = 0; }, "DISP:CURS:TIME2:POS?", nullptr, kErrSettingsConflict},
        {[] { data.cursorState = 0; }, "DISP:CURS:TIME2:YPOS?", nullptr, kErrSettingsConflict},
        {[] { data.cursorState = 0; }, "DISP:CURS:VOLT2:POS?", nullptr, kErrSettingsConflict},
    });
}

TEST_F(DisplayCommands, TimeCursorRoundTripsAtSeveralTimeBases)
{
    for (int16_t base : {3, 15, 27, 33}) {
        for (int32_t position : {0, 1234, 77777}) {
            reset();
            data.timeBaseIndex = base;
            const double scale = GetHorizontalScaleT(static_cast<unsigned short>(base));
            const std::string line = "DISP:CURS:TIME2:POS " + text("%.9e", (position + 0.4) * scale);
            const Outcome set = run(line);
            ASSERT_EQ(set.error, 0) << line;
            ASSERT_EQ(set.requests, "1:25=" + std::to_string(position)) << line;
            data.cursor2Time = position;
            EXPECT_EQ(run("DISP:CURS:TIME2:POS?").reply, text("%.2e\n\r", position * scale)) << line;
        }
    }
}

TEST_F(DisplayCommands, VoltageCursorRoundTripsOnTheReferenceTrace)
{
    // A larger level code is a lower voltage: the two formulas are each other's inverse.
    for (int16_t ref : {1, 2}) {
        TAcquisition* trace = ref == 1 ? trace1_ : trace2_;
        const int32_t top = max_par.cursor1Level;
        for (int32_t level : {0, top / 3, top / 2, top - 1}) {
            reset();
            data.measRefChannel = ref;
            data.traceOnCh2 = 1;
            const double scale = GetVerticalScale(trace, SCALE_SCOPE, -1);
            const double offset = GetVerticalOffset(trace, SCALE_SCOPE);
            const double cadrage = GetVerticalCadrage(trace, SCALE_SCOPE);
            const double volts = offset - (level + 0.4 - 524256.0 + cadrage) * scale;
            const std::string line = "DISP:CURS:VOLT:POS " + text("%.12e", volts);
            const Outcome set = run(line);
            ASSERT_EQ(set.error, 0) << line;
            ASSERT_EQ(set.requests, "1:88=" + std::to_string(level)) << line;
            data.cursor1Level = level;
            EXPECT_EQ(run("DISP:CURS:VOLT1:POS?").reply, text("%.2e\n\r", (524256.0 - level - cadrage) * scale + offset))
                << line;
        }
    }
}

TEST_F(DisplayCommands, SampleUnderTimeCursorEndsWithOneTerminator)
{
    data.cursor3Time = 10;
    trace1_->samples[10] = 524256 + 32760;
    const std::string expected = trace1_->getSampleAt(10);
    ASSERT_NE(expected, "?");
    EXPECT_EQ(run("DISP:CURS:TIME3:YPOS?").reply, expected);
    trace1_->samples[10] = 0x80000000u;
    EXPECT_EQ(run("DISP:CURS:TIME3:YPOS?").reply, "?\n\r");
    // The reference trace is the one of measRefChannel.
    data.measRefChannel = 2;
    trace2_->samples[10] = 524256;
    EXPECT_EQ(run("DISP:CURS:TIME3:YPOS?").reply, trace2_->getSampleAt(10));
}

TEST_F(DisplayCommands, TimeBasePerDivisionPicksTheSlowerBaseAndTurnsTheZoomOff)
{
    const int last = max_par.timeBaseIndex;
    const std::string lastBase = "1:36=4000 1:121=" + std::to_string(last);
    auto perDivision = [](int i) { return GetHorizontalScaleT(static_cast<unsigned short>(i)) * 10000.0; };
    // Between two bases: the slower one; at a base within 0.2 %: that base.
    Outcome o = run("DISP:TRAC:X:PDIV 3E-4");
    ASSERT_EQ(o.error, 0);
    long long index = posted(o.requests, param::timeBaseIndex);
    EXPECT_EQ(o.requests.rfind("1:36=4000 1:121=", 0), 0u) << o.requests;
    data.timeBaseIndex = static_cast<int16_t>(index);
    EXPECT_EQ(run("DISP:TRAC:X:PDIV?").reply, "5.00e-04\n\r");
    EXPECT_GE(perDivision(index), 3e-4);
    EXPECT_LT(perDivision(index - 1), 3e-4);
    o = run("DISP:TRAC:X:PDIV 1.001E-3");
    data.timeBaseIndex = static_cast<int16_t>(posted(o.requests, param::timeBaseIndex));
    EXPECT_EQ(run("DISP:TRAC:X:PDIV?").reply, "1.00e-03\n\r");
    reset();
    checkSets({
        {nullptr, "DISP:TRAC:X:PDIV 1E-10", kErrDataOutOfRange, ""},
        {nullptr, "DISP:TRAC:X:PDIV 1E6", kErrDataOutOfRange, ""},
        {nullptr, "DISP:TRAC:X:PDIV MIN", 0, "1:36=4000 1:121=0"},
        {nullptr, "DISP:WIND:TRAC:X:SCAL:PDIV MAX", 0, lastBase.c_str()},
        {[] { data.timeBaseIndex = 7; }, "DISP:TRAC:X:PDIV UP", 0, "1:36=4000 1:121=8"},
        {[] { data.timeBaseIndex = 0; }, "DISP:TRAC:X:PDIV DOWN", kErrDataOutOfRange, ""},
        {[] { data.timeBaseIndex = static_cast<int16_t>(max_par.timeBaseIndex); }, "DISP:TRAC:X:PDIV UP",
         kErrDataOutOfRange, ""},
        {[] { data.instrumentMode = 128; }, "DISP:TRAC:X:PDIV 1E-3", kErrSettingsConflict, ""},
        {nullptr, "DISP:TRAC:X:SCAL2:PDIV 1E-3", kErrSuffixOutOfRange, ""},
    });
    checkQueries({{[] { data.instrumentMode = 0x8000; }, "DISP:TRAC:X:PDIV?", nullptr, kErrSettingsConflict}});
}

// The first and last time bases bound the command: the 0.2 % tolerance picks a base between
// them and never reaches beyond. The query's own text at either end is taken back.
TEST_F(DisplayCommands, TimeBasePerDivisionStopsAtTheFirstAndLastBase)
{
    const int last = max_par.timeBaseIndex;
    auto perDivision = [](int i) { return GetHorizontalScaleT(static_cast<unsigned short>(i)) * 10000.0; };
    auto line = [](double t) {
        char text[64];
        std::snprintf(text, sizeof text, "DISP:TRAC:X:PDIV %.9e", t);
        return std::string(text);
    };
    const struct {
        double t;
        int error;
        int index;
    } cases[] = {
        {perDivision(0), 0, 0},
        {perDivision(0) * 1.001, 0, 0},  // the first base, within 0.2 %
        {perDivision(0) * 0.999, kErrDataOutOfRange, -1},
        {perDivision(last), 0, last},
        {perDivision(last) * 0.9999, 0, last},
        {perDivision(last) * 1.001, kErrDataOutOfRange, -1},
        {perDivision(last) * 1.0019, kErrDataOutOfRange, -1},
    };
    for (const auto& c : cases) {
        reset();
        const Outcome o = run(line(c.t));
        EXPECT_EQ(o.error, c.error) << line(c.t);
        if (c.error == 0)
            EXPECT_EQ(posted(o.requests, param::timeBaseIndex), c.index) << line(c.t);
        else
            EXPECT_EQ(o.requests, "") << line(c.t);
    }
    for (int index : {0, last}) {
        reset();
        data.timeBaseIndex = static_cast<int16_t>(index);
        std::string reply = run("DISP:TRAC:X:PDIV?").reply;
        reply = reply.substr(0, reply.find('\n'));
        const Outcome o = run("DISP:TRAC:X:PDIV " + reply);
        EXPECT_EQ(o.error, 0) << reply;
        EXPECT_EQ(posted(o.requests, param::timeBaseIndex), index) << reply;
    }
}

TEST_F(DisplayCommands, LabelsAndProbeCoefficients)
{
    Outcome o = run("DISP:TRAC:Y:LAB2 \"mV\"");
    ASSERT_EQ(o.error, 0);
    ASSERT_EQ(o.requests.rfind("1:43=", 0), 0u);
    const char* label = reinterpret_cast<const char*>(posted(o.requests, param::unitCh2));
    EXPECT_STREQ(label, "mV");
    EXPECT_EQ(run("DISP:TRAC:Y:LAB \"volt\"").error, kErrStringTooLong);
    EXPECT_EQ(run("DISP:TRAC:Y:LAB5 \"V\"").error, kErrSuffixOutOfRange);
    std::memcpy(data.unitCh4, "dBm!", 4);  // four bytes without a NUL
    EXPECT_EQ(run("DISP:TRAC:Y:LAB4?").reply, "dBm!\n\r");

    // The coefficient travels in floatValue; the bound of channel 1 holds for all.
    struct Case {
        const char* line;
        int error;
        float value;
    };
    const float bound = max_par.probeCoeffCh1;
    for (const Case& c : {Case{"DISP:TRAC:Y:PDIV3 10", 0, 10.0f}, Case{"DISP:TRAC:Y:SCAL:PDIV4 0.5", 0, 0.5f},
                          Case{"DISP:TRAC:Y:PDIV MAX", 0, bound}, Case{"DISP:TRAC:Y:PDIV2 MIN", 0, 0.0f},
                          Case{"DISP:TRAC:Y:PDIV -1", kErrDataOutOfRange, 0}, Case{"DISP:TRAC:Y:PDIV UP", kErrQuery, 0},
                          Case{"DISP:TRAC:Y:PDIV5 1", kErrSuffixOutOfRange, 0}}) {
        TScpiMemorySession session;
        session.send(std::string(c.line) + "\n");
        TUnitReader reader;
        const TUnitResult r = reader.readUnit();
        EXPECT_EQ(r.error ? r.error : r.handlerResult, c.error) << c.line;
        if (c.error == 0) {
            ASSERT_EQ(reader.requestCount, 1) << c.line;
            EXPECT_EQ(reader.requests[0].intValue, 0) << c.line;
            EXPECT_EQ(reader.requests[0].floatValue, c.value) << c.line;
        } else {
            EXPECT_EQ(reader.requestCount, 0) << c.line;
        }
    }
    const std::string overBound = "DISP:TRAC:Y:PDIV " + text("%.6e", bound * 1.01);
    EXPECT_EQ(run(overBound).error, kErrDataOutOfRange);
    data.probeCoeffCh3 = 100.0f;
    EXPECT_EQ(run("DISP:TRAC:Y:PDIV3?").reply, "1.00e+02\n\r");
}

} // namespace
