// INPut, CALCulate and SENSe handlers of the scope, in process against a prepared live setup and
// live traces: suffix rules, keywords, bounds, conversions, query texts and posted requests.
#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "tests/scpi/handler_cases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

constexpr int kErrInvalidExpression = 20;

class InputCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        // Channel 1: probe x10, 1 V/div, offset 3276 codes (1 V); channel 2: probe x1, 1 V/div;
        // channel 3: a math function and no trace.
        trace1_ = new TAcquisition(1);
        trace1_->sensitivity = 8;
        trace1_->probeCoeff = 10.0f;
        trace1_->offset = 3276.0f;
        trace2_ = new TAcquisition(2);
        trace2_->sensitivity = 8;
        trace2_->probeCoeff = 1.0f;
        trace2_->offset = 0.0f;
        char text[] = "ch1+ch2";
        function3_ = new TFonction(4, text);
        setupLinks().acqCh1 = trace1_;
        setupLinks().acqCh2 = trace2_;
        setupLinks().mathFunctionCh3 = function3_;
        reset();
    }

    void TearDown() override
    {
        setupLinks().acqCh1 = nullptr;
        setupLinks().acqCh2 = nullptr;
        setupLinks().mathFunctionCh3 = nullptr;
        delete trace1_;
        delete trace2_;
        delete function3_;
        ScpiHandlerTest::TearDown();
    }

    // Scope mode, 1 ms/div, the channels at 1 V/div.
    void reset() override
    {
        data = init_par;
        data.instrumentMode = 16;
        data.userTimeBase = 18;
        data.sensitivityCh1 = 8;
        data.sensitivityCh2 = 8;
    }

    TAcquisition* trace1_ = nullptr;
    TAcquisition* trace2_ = nullptr;
    TFonction* function3_ = nullptr;
};

TEST_F(InputCommands, CouplingWindowAveragingAndFormatFollowTheirTables)
{
    checkSets({
        {nullptr, "INP1:COUP AC", 0, "1:15=0"},
        {nullptr, "INP3:COUP DC", 0, "1:19=1"},
        {nullptr, "INP4:COUP GRO", 0, "1:21=2"},
        {nullptr, "INP5:COUP DC", kErrSuffixOutOfRange, ""},
        {nullptr, "INP0:COUP DC", kErrSuffixOutOfRange, ""},
        {nullptr, "INP2:COUP2 DC", kErrSuffixOutOfRange, ""},
        {nullptr, "CALC:TRAN:FREQ:WIND HANN", 0, "1:99=2"},
        {nullptr, "CALC:TRAN:FREQ:WIND FLATTOP", 0, "1:99=4"},
        {nullptr, "CALC2:TRAN:FREQ:WIND RECT", kErrSuffixOutOfRange, ""},
        {nullptr, "AVER:TYPE ENV", 0, "1:37=1"},
        {nullptr, "SENS:AVER:TYPE NORM", 0, "1:37=0"},
        {nullptr, "SENS2:AVER:TYPE NORM", kErrSuffixOutOfRange, ""},
        {nullptr, "AVER ON", 0, "1:148=1"},
        {nullptr, "AVER:STAT OFF", 0, "1:148=0"},
        // Averaging count: factors to their index; unsigned, so negative counts are too large.
        {nullptr, "AVER:COUN 10", 0, "1:41=2"},
        {nullptr, "AVER:COUN 64", 0, "1:41=4"},
        {nullptr, "AVER:COUN 16", 0, "1:41=3"},
        {nullptr, "AVER:COUN 63", 0, "1:41=3"},
        {nullptr, "AVER:COUN 3", 0, "1:41=1"},
        {nullptr, "AVER:COUN 1", 0, "1:41=0"},
        {nullptr, "AVER:COUN 65", kErrDataOutOfRange, ""},
        {nullptr, "AVER:COUN -1", kErrDataOutOfRange, ""},
        {nullptr, "AVER:COUN MAX", 0, "1:41=4"},
        {[] { data.averageCount = 4; }, "AVER:COUN UP", kErrDataOutOfRange, ""},
        {[] { data.averageCount = 2; }, "AVER:COUN DOWN", 0, "1:41=1"},
        {nullptr, "AVER:COUN DEF", kErrQuery, ""},
        // FFT display: XY stays XY when switched off.
        {[] { data.traceFormat = 0; }, "CALC:TRAN:FREQ ON", 0, "1:73=1"},
        {[] { data.traceFormat = 1; }, "CALC:TRAN:FREQ OFF", 0, "1:73=0"},
        {[] { data.traceFormat = 2; }, "CALC:TRAN:FREQ OFF", 0, "1:73=2"},
        {[] { data.traceFormat = 2; }, "CALC:TRAN:FREQ:STAT ON", 0, "1:73=1"},
        {[] { data.traceFormat = 5; }, "CALC:TRAN:FREQ ON", 0, "1:73=0"},
    });
    checkQueries({
        {[] { data.couplingCh2 = 2; }, "INP2:COUP?", "GRO", 0},
        {[] { data.couplingCh1 = 0; }, "INP:COUP?", "AC", 0},
        {[] { data.fftWindow = 3; }, "CALC:TRAN:FREQ:WIND?", "BLAC", 0},
        {[] { data.fftWindow = 4; }, "CALC:TRAN:FREQ:WIND?", "FLATTOP", 0},
        {[] { data.averageCount = 2; }, "AVER:COUN?", "4", 0},
        {[] { data.averageCount = 4; }, "SENS:AVER:COUN?", "64", 0},
        {[] { data.minMax = 1; }, "AVER:TYPE?", "ENV", 0},
        {[] { data.repSig = 3; }, "AVER?", "1", 0},
        {[] { data.traceFormat = 2; }, "CALC:TRAN:FREQ?", "0", 0},
        {[] { data.traceFormat = 3; }, "CALC:TRAN:FREQ?", "1", 0},
    });
}

TEST_F(InputCommands, MathExpressionsAreCheckedBeforeAnythingIsPosted)
{
    const Outcome set = run("CALC:MATH2 (ch1*2)");
    EXPECT_EQ(set.error, 0);
    // The text by address (the decoder's area), then the function compiled from it.
    ASSERT_EQ(set.requests.substr(0, 5), "1:63=");
    EXPECT_NE(set.requests.find(" 1:67=1"), std::string::npos) << set.requests;

    checkSets({
        {nullptr, "CALC:MATH1 (ch1*)", kErrInvalidExpression, ""},
        {nullptr, "CALC:MATH1 ((ch1)", kErrInvalidString, ""},
        {nullptr, "CALC:MATH3 (foo(ch1))", kErrInvalidExpression, ""},
        {nullptr, "CALC:MATH5 (ch1)", kErrSuffixOutOfRange, ""},
        {nullptr, "CALC2:MATH1 (ch1)", kErrSuffixOutOfRange, ""},
        {nullptr, "CALC:MATH2:DEL", 0, "1:16=0"},
        {nullptr, "CALC:MATH4:EXPR:DEL", 0, "1:20=0"},
        {nullptr, "CALC:MATH4:EXPR2:DEL", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {nullptr, "CALC:MATH3?", "(ch1+ch2)", 0},
        {nullptr, "CALC:MATH3:EXPR:DEF?", "(ch1+ch2)", 0},
        {nullptr, "CALC:MATH4?", nullptr, kErrSettingsConflict},  // no function linked
    });
}

TEST_F(InputCommands, BandwidthLimitsByFrequencyAndNotInMeterModes)
{
    checkSets({
        {nullptr, "BAND2 1e6", 0, "1:139=2"},
        {nullptr, "BAND2 2e7", 0, "1:139=0"},
        {nullptr, "BAND 5000", 0, "1:138=3"},
        {nullptr, "SENS:BAND3:RES 1.5e7", 0, "1:140=1"},
        {nullptr, "BAND4 0", 0, "1:141=0"},
        {nullptr, "BAND4 MAX", 0, "1:141=0"},
        {nullptr, "BAND5 1e6", kErrSuffixOutOfRange, ""},
        {[] { data.instrumentMode = 0x80; }, "BAND1 1e6", kErrSettingsConflict, ""},
    });
    checkQueries({
        {[] { data.bwLimitCh1 = 0; }, "BAND?", "0", 0},
        {[] { data.bwLimitCh2 = 1; }, "BAND2?", "15.0e6", 0},
        {[] { data.bwLimitCh3 = 2; }, "BAND3:RES?", "1.5e6", 0},
        {[] { data.bwLimitCh4 = 7; }, "BAND4?", "5.0e3", 0},
        {[] { data.instrumentMode = 0x81; }, "BAND1?", nullptr, kErrSettingsConflict},
    });
}

TEST_F(InputCommands, OffsetRangeAndSweepOffsetConvertWithinTheirBounds)
{
    const float inf = std::numeric_limits<float>::infinity();
    checkSets({
        // Offset in thousandths of the screen range (channel 1: 80 V, 1 V offset).
        {nullptr, "VOLT2:RANG:OFFS 1", 0, "1:10=125"},
        {nullptr, "VOLT2:DC:RANG:OFFS -1", 0, "1:10=-125"},
        {nullptr, "SENS:VOLT1:RANG:OFFS 9", 0, "1:9=100"},
        {nullptr, "VOLT2:RANG:OFFS 10", 0, "1:10=1250"},
        {nullptr, "VOLT2:RANG:OFFS 10.01", kErrDataOutOfRange, ""},
        {nullptr, "VOLT2:RANG:OFFS 1e30", kErrDataOutOfRange, ""},
        {nullptr, "VOLT2:RANG:OFFS MIN", 0, "1:10=-1250"},
        {[] { data.offsetCh2 = 1250; }, "VOLT2:RANG:OFFS UP", kErrDataOutOfRange, ""},
        {[] { data.offsetCh2 = 7; }, "VOLT2:RANG:OFFS DOWN", 0, "1:10=6"},
        {nullptr, "VOLT2:RANG:OFFS DEF", kErrQuery, ""},
        {nullptr, "VOLT3:RANG:OFFS 1", kErrSettingsConflict, ""},  // no trace
        {nullptr, "VOLT5:RANG:OFFS 1", kErrSuffixOutOfRange, ""},
        {nullptr, "VOLT2:DC2:RANG:OFFS 1", kErrSuffixOutOfRange, ""},
        // Sensitivity: the smallest range that is not below the asked one by more than 0.2 %.
        {nullptr, "VOLT2:RANG:PTP 8", 0, "1:56=8"},
        {nullptr, "VOLT2:RANG:PTP 8.01", 0, "1:56=8"},
        {nullptr, "VOLT2:RANG:PTP 8.1", 0, "1:56=9"},
        {nullptr, "VOLT2:RANG:PTP 6", 0, "1:56=8"},
        {nullptr, "VOLT2:RANG:PTP 0.02", 0, "1:56=0"},
        {nullptr, "VOLT2:RANG:PTP 0.01", kErrDataOutOfRange, ""},
        {nullptr, "VOLT2:RANG:PTP 1601", kErrDataOutOfRange, ""},
        {nullptr, "VOLT1:RANG:PTP 16000", 0, "1:55=15"},  // x10 probe
        {nullptr, "VOLT2:RANG:PTP MAX", 0, "1:56=15"},
        {[] { data.sensitivityCh2 = 0; }, "VOLT2:RANG:PTP DOWN", kErrDataOutOfRange, ""},
        {[] { data.sensitivityCh2 = 3; }, "VOLT2:RANG:PTP UP", 0, "1:56=4"},
        {nullptr, "VOLT2:RANG:PTP INF", kErrQuery, ""},
        // Horizontal offset: 1 ms/div is 1e-7 s a sample.
        {nullptr, "SWE:OFFS:TIME 1e-3", 0, "1:5=10000"},
        {nullptr, "SENS:SWE:OFFS:TIME -5.00001e-3", 0, "1:5=-50000"},  // truncated
        {nullptr, "SWE:OFFS:TIME -9.3e-3", kErrDataOutOfRange, ""},
        {nullptr, "SWE:OFFS:TIME 1", kErrDataOutOfRange, ""},
        {nullptr, "SWE:OFFS:TIME MIN", 0, "1:5=-92800"},
        {nullptr, "SWE:OFFS:TIME MAX", 0, "1:5=1900000"},
        {[] { data.sweepOffset = 100; data.zoomWidth = 1000.5f; }, "SWE:OFFS:TIME UP", 0, "1:5=1100"},
        {[] { data.sweepOffset = -92000; data.zoomWidth = 1000.0f; }, "SWE:OFFS:TIME DOWN", kErrDataOutOfRange,
         ""},
        {[=] { data.sweepOffset = 0; data.zoomWidth = inf; }, "SWE:OFFS:TIME UP", kErrDataOutOfRange, ""},
        {nullptr, "SWE:OFFS:TIME 1e30", kErrDataOutOfRange, ""},
        {nullptr, "SWE2:OFFS:TIME 0", kErrSuffixOutOfRange, ""},
    });
    checkQueries({
        {[] { data.offsetCh2 = 125; }, "VOLT2:RANG:OFFS?", "1.00e+00", 0},
        {[] { data.offsetCh1 = 0; }, "VOLT1:RANG:OFFS?", "1.00e+00", 0},
        {nullptr, "VOLT2:RANG:PTP?", "8.00e+00", 0},
        {[] { data.sensitivityCh2 = 15; }, "VOLT2:RANG:PTP?", "1.60e+03", 0},
        {[] { data.sweepOffset = -50000; }, "SWE:OFFS:TIME?", "-5.00e-03", 0},
    });
}

} // namespace
