// MEASure queries in process, with the hold recorded instead of taken: identifiers and formats,
// the guards and their order, the measurement taken inside the hold, cursor and phase queries.
#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "scpi/measure.h"
#include "tests/scpi/handler_cases.h"
#include "ui/traces/automeaschannel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

int g_suspends = 0;
int g_resumes = 0;
bool g_heldByTest = false;

class MeasureCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        savedLinks_ = setupLinks();
        saved_ = measureHold();
        measureHold() = TMeasureHold{[] { ++g_suspends; g_heldByTest = true; },
                                     [] { ++g_resumes; g_heldByTest = false; }, nullptr};
        g_suspends = g_resumes = 0;
        static const unsigned short ids[4] = {1, 2, 4, 8};
        for (int i = 0; i < 4; ++i)
            traces_[i] = std::make_unique<TAcquisition>(ids[i]);
        TSetupLinks& l = setupLinks();
        l.acqCh1 = traces_[0].get();
        l.acqCh2 = traces_[1].get();
        l.acqCh3 = traces_[2].get();
        l.acqCh4 = traces_[3].get();
        l.mathFunctionCh1 = l.mathFunctionCh2 = l.mathFunctionCh3 = l.mathFunctionCh4 = nullptr;
        l.measResultsPtr = records_;
        l.cursorTablePtr = cursors_;
        // Channel 1: a square wave of 1000 samples a period at 1 ms/div; channel 2: flat.
        traces_[0]->timeBase = 18;
        traces_[1]->timeBase = 18;
        for (int i = 0; i < 100000; ++i) {
            traces_[0]->samples[i] = (i % 1000) < 500 ? 600000u : 500000u;
            traces_[1]->samples[i] = 550000u;
        }
        reset();
    }

    void TearDown() override
    {
        measureHold() = saved_;
        setupLinks() = savedLinks_;
        ScpiHandlerTest::TearDown();
    }

    // Scope mode at 1 ms/div, channels 1 and 2 shown, the records stale.
    void reset() override
    {
        data = init_par;
        data.instrumentMode = 16;
        data.userTimeBase = 18;
        data.timeBaseIndex = 18;
        data.channelFlags = 3;
        data.cursorState = 0;
        for (mesures& m : records_)
            m = mesures{};
        for (int32_t& w : cursors_)
            w = 0;
    }

    // What the lookup gives now, in the reply's format.
    static std::string lookedUp(unsigned short mask, unsigned short id, const char* format = "%3.3e\n\r")
    {
        float v = 0.0f;
        if (!AutoMeasChannel::getMeasurement(mask, id, nullptr, &v))
            return "-----\n\r";
        char text[48];
        std::snprintf(text, sizeof text, format, static_cast<double>(v));
        return text;
    }

    mesures records_[9];
    int32_t cursors_[7];
    std::unique_ptr<TAcquisition> traces_[4];
    TSetupLinks savedLinks_{};
    TMeasureHold saved_{};
};

TEST_F(MeasureCommands, EveryHeaderAsksItsIdentifierOfAFreshMeasurement)
{
    struct Case {
        const char* line;
        unsigned short id;
        const char* format;
    } cases[] = {
        {"MEAS:AC? INT1", 0x10C0, "%3.3e\n\r"},        {"MEAS:AC? INT1,CYC", 0x10C0, "%3.3e\n\r"},
        {"MEAS:AC? INT1,INT", 0x1070, "%3.3e\n\r"},    {"MEAS:AMPL? INT1", 0x1050, "%3.3e\n\r"},
        {"MEAS:FALL:OVER? INT1", 0x10A0, "%3.3e\n\r"}, {"MEAS:FALL:TIME? INT1", 0x20, "%3.3e\n\r"},
        {"MEAS:FTIME? INT1", 0x20, "%3.3e\n\r"},       {"MEAS:FREQ? INT1", 0x70, "%3.3e\n\r"},
        {"MEAS:HIGH? INT1", 0x1040, "%3.3e\n\r"},      {"MEAS:LOW? INT1", 0x1030, "%3.3e\n\r"},
        {"MEAS:MAX? INT1", 0x1010, "%3.3e\n\r"},       {"MEAS:MIN? INT1", 0x1000, "%3.3e\n\r"},
        {"MEAS:NWID? INT1", 0x40, "%3.3e\n\r"},        {"MEAS:PDUT? INT1", 0x50, "%3.3e\n\r"},
        {"MEAS:PER? INT1", 0x60, "%3.3e\n\r"},         {"MEAS:PTP? INT1", 0x1020, "%3.3e\n\r"},
        {"MEAS:PUL:COUN? INT1", 0x80, "%1.0f\n\r"},    {"MEAS:PWID? INT1", 0x30, "%3.3e\n\r"},
        {"MEAS:RISE:OVER? INT1", 0x1090, "%3.3e\n\r"}, {"MEAS:RISE:TIME? INT1", 0x10, "%3.3e\n\r"},
        {"MEAS:RTIME? INT1", 0x10, "%3.3e\n\r"},       {"MEAS:SUM? INT1", 0x10B0, "%3.3e\n\r"},
        {"MEAS:VOLT? INT1", 0x1080, "%3.3e\n\r"},      {"MEAS:VOLT:DC? INT1", 0x1080, "%3.3e\n\r"},
    };
    for (const Case& c : cases) {
        reset();
        const Outcome o = run(c.line);
        EXPECT_EQ(o.error, 0) << c.line;
        EXPECT_EQ(o.requests, "") << c.line;
        // The record was empty before: the query measured it.
        EXPECT_NE(records_[0].flags, 0) << c.line;
        EXPECT_EQ(o.reply, lookedUp(1, c.id, c.format)) << c.line;
    }
    EXPECT_EQ(g_suspends, static_cast<int>(sizeof cases / sizeof cases[0]));
    EXPECT_EQ(g_resumes, g_suspends);
    EXPECT_FALSE(g_heldByTest);

    reset();
    EXPECT_EQ(run("MEAS:FREQ? INT1").reply, "1.000e+04\n\r");  // 1000 samples of 0.1 us
    EXPECT_EQ(run("MEAS:PER? INT1").reply, "1.000e-04\n\r");
    EXPECT_EQ(run("MEAS:FREQ? INT2").reply, "-----\n\r");  // flat: no edge, no error
}

TEST_F(MeasureCommands, GuardsComeInOrderAndNothingIsHeldWhenTheyRefuse)
{
    checkQueries({
        {[] { data.instrumentMode = 0x80; }, "MEAS2:FREQ? INT1", nullptr, kErrSuffixOutOfRange},
        {nullptr, "MEAS:FREQ2? INT1", nullptr, kErrSuffixOutOfRange},
        {[] { data.instrumentMode = 0x80; }, "MEAS:FREQ?", nullptr, kErrSettingsConflict},
        {[] { data.instrumentMode = 0x8000; }, "MEAS:FREQ? INT1", nullptr, kErrSettingsConflict},
        {[] { data.traceFormat = 1; }, "MEAS:FREQ? INT1", nullptr, kErrSettingsConflict},
        {nullptr, "MEAS:FREQ?", nullptr, kErrMissingParameter},
        {nullptr, "MEAS:FREQ? INT3", nullptr, kErrSettingsConflict},
        {[] { data.channelFlags = 0x100; }, "MEAS:FREQ? INT1", nullptr, kErrSettingsConflict},  // memory only
        {nullptr, "MEAS:CURS:DTIME?", nullptr, kErrSettingsConflict},
        {nullptr, "MEAS:MAN:PHAS?", nullptr, kErrSettingsConflict},
        {[] { data.cursorState = 1; }, "MEAS:CURS2:DVOLT?", nullptr, kErrSuffixOutOfRange},
    });
    EXPECT_EQ(g_suspends, 0);
    checkQueries({
        {[] { data.traceFormat = 2; }, "MEAS:FREQ? INT5", "-----", 0},
        {[] { data.channelFlags = 0; }, "MEAS:AMPL? INT5", "-----", 0},
    });
    EXPECT_EQ(g_suspends, 0);
}

TEST_F(MeasureCommands, CursorQueriesUseTheReferenceChannelAndPhaseNeedsAPeriod)
{
    traces_[1]->probeCoeff = 10.0f;  // channel 2's levels differ from channel 1's
    for (int16_t ref : {1, 2, 7}) {
        reset();
        data.cursorState = 3;
        data.measRefChannel = ref;
        cursors_[0] = 1000;
        cursors_[1] = 3000;
        cursors_[2] = 100;
        cursors_[3] = -200;
        const unsigned short mask = ref == 2 ? 2 : 1;
        EXPECT_EQ(run("MEAS:CURS:DTIME?").reply, lookedUp(mask, 0x850)) << ref;
        EXPECT_EQ(run("MEAS:CURS:DVOLT?").reply, lookedUp(mask, 0x1800)) << ref;
    }
    EXPECT_EQ(g_suspends, 6);
    EXPECT_EQ(g_resumes, 6);

    g_suspends = 0;
    checkQueries({
        {[this] { data.cursorState = 1; cursors_[0] = 0; cursors_[1] = 1000; cursors_[4] = 250; }, "MEAS:MAN:PHAS?",
         "90.0", 0},
        {[this] { data.cursorState = 1; cursors_[0] = 500; cursors_[1] = 100; cursors_[4] = 600; }, "MEAS:MAN:PHAS?",
         "-90.0", 0},
        {[this] { data.cursorState = 1; cursors_[0] = 400; cursors_[1] = 400; cursors_[4] = 600; }, "MEAS:MAN:PHAS?",
         "-----", 0},
        {[] { data.cursorState = 1; setupLinks().cursorTablePtr = nullptr; }, "MEAS:MAN:PHAS?", "-----", 0},
    });
    EXPECT_EQ(g_suspends, 0);  // the phase holds nothing
}

} // namespace
