// Measurement back end: validity rules, edge order and period framing, scales and texts.
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "tests/ui/scope/automeas_fixture.h"
#include "ui/traces/automeaschannel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {
using AutoMeasEngine = AutoMeasFixture;

struct RawCase {
    const char* what;
    std::function<void(mesures&)> edit;
    unsigned short id;
    bool valid;
    float raw;
};

mesures periodRecord(int32_t flags, uint32_t r, uint32_t f, uint16_t n, int32_t end)
{
    mesures m{};
    m.flags = flags;
    m.rise50 = r;
    m.fall50 = f;
    m.periodCount = n;
    m.lastCross50 = end;
    m.otherEdgeCount = 4;
    return m;
}
} // namespace

// Time identifiers need no level reference: the record alone decides, trace or not.
TEST_F(AutoMeasEngine, TimeRawValuesFollowEdgeOrderAndPeriodFraming)
{
    const RawCase cases[] = {
        // Exact example: rising first, P = (300 - 100) / 2.
        {"duty rising first", [](mesures& m) { m = periodRecord(0x520, 100, 150, 2, 300); }, 0x50, true, 50},
        {"period", [](mesures& m) { m = periodRecord(0x520, 100, 150, 2, 300); }, 0x60, true, 100},
        {"freq raw is P", [](mesures& m) { m = periodRecord(0x520, 100, 150, 2, 300); }, 0x70, true, 100},
        {"wplus rising first", [](mesures& m) { m = periodRecord(0x520, 100, 150, 2, 300); }, 0x30, true, 50},
        {"wminus rising first",
         [](mesures& m) { m = periodRecord(0x520, 100, 150, 2, 300); m.nextRise50 = 200; }, 0x40, true, 50},
        {"channel bits ignored",
         [](mesures& m) { m = periodRecord(0x520, 100, 150, 2, 300); m.nextRise50 = 200; }, 0x41, true, 50},
        {"wminus rising first needs next rise",
         [](mesures& m) { m = periodRecord(0x120, 100, 150, 2, 300); }, 0x40, false, 0},
        {"negative width corrected by P",
         [](mesures& m) { m = periodRecord(0x520, 100, 150, 2, 300); m.nextRise50 = 120; }, 0x40, true, 70},
        // Falling first: P = (300 - 100) / 1.
        {"wplus falling first",
         [](mesures& m) { m = periodRecord(0x920, 150, 100, 1, 300); m.nextFall50 = 220; }, 0x30, true, 70},
        {"wplus falling first needs next fall",
         [](mesures& m) { m = periodRecord(0x120, 150, 100, 1, 300); }, 0x30, false, 0},
        {"wminus falling first", [](mesures& m) { m = periodRecord(0x120, 150, 100, 1, 300); }, 0x40, true, 50},
        {"duty falling first",
         [](mesures& m) { m = periodRecord(0x920, 150, 100, 1, 300); m.nextFall50 = 220; }, 0x50, true, 35},
        {"duty falling first needs 0x920",
         [](mesures& m) { m = periodRecord(0x520, 150, 100, 1, 300); m.nextFall50 = 220; }, 0x50, false, 0},
        // Both crossings, no whole period: widths and pulses only.
        {"no period: wplus", [](mesures& m) { m = periodRecord(0x520, 100, 150, 0, 0); }, 0x30, true, 50},
        {"no period: pulses", [](mesures& m) { m = periodRecord(0x520, 100, 150, 0, 0); }, 0x80, true, 4},
        {"no period: period", [](mesures& m) { m = periodRecord(0x520, 100, 150, 0, 0); }, 0x60, false, 0},
        {"no period: freq", [](mesures& m) { m = periodRecord(0x520, 100, 150, 0, 0); }, 0x70, false, 0},
        {"no period: duty", [](mesures& m) { m = periodRecord(0x520, 100, 150, 0, 0); }, 0x50, false, 0},
        // One crossing only: period from the earlier one, no edge order.
        {"one crossing: period", [](mesures& m) { m = periodRecord(0x20, 100, 150, 2, 300); }, 0x60, true, 100},
        {"one crossing: wplus", [](mesures& m) { m = periodRecord(0x20, 100, 150, 2, 300); }, 0x30, false, 0},
        {"one crossing: pulses", [](mesures& m) { m = periodRecord(0x20, 100, 150, 2, 300); }, 0x80, false, 0},
        {"nothing: period", [](mesures& m) { m = periodRecord(0x20, 100, 150, 0, 300); }, 0x60, false, 0},
        // Period end before the first edge: no period, no frequency, no duty cycle.
        {"P < 0: period", [](mesures& m) { m = periodRecord(0x520, 100, 150, 1, 50); }, 0x60, false, 0},
        {"P < 0: freq", [](mesures& m) { m = periodRecord(0x520, 100, 150, 1, 50); }, 0x70, false, 0},
        {"P = 0: period", [](mesures& m) { m = periodRecord(0x520, 100, 150, 1, 100); }, 0x60, false, 0},
        {"P = 0: duty", [](mesures& m) { m = periodRecord(0x520, 100, 150, 1, 100); }, 0x50, false, 0},
        {"trise", [](mesures& m) { m.flags = 0x50; m.rise10 = 10; m.rise90 = 30; }, 0x10, true, 20},
        {"trise needs both", [](mesures& m) { m.flags = 0x10; m.rise10 = 10; m.rise90 = 30; }, 0x10, false, 0},
        {"tfall", [](mesures& m) { m.flags = 0x280; m.fall90 = 40; m.fall10 = 70; }, 0x20, true, 30},
        // Edges faster than the search step: crossed all at once, no time measured.
        {"trise within a step", [](mesures& m) { m.flags = 0x50; m.rise10 = 30; m.rise90 = 30; }, 0x10, false, 0},
        {"tfall within a step", [](mesures& m) { m.flags = 0x280; m.fall90 = 70; m.fall10 = 70; }, 0x20, false, 0},
        {"unknown 0x90", [](mesures& m) { m = AutoMeasFixture::fullRecord(); }, 0x90, false, 0},
        {"unknown 0x0", [](mesures& m) { m = AutoMeasFixture::fullRecord(); }, 0x0, false, 0},
        {"unknown 0x840", [](mesures& m) { m = AutoMeasFixture::fullRecord(); }, 0x840, false, 0},
        {"unknown 0x8040", [](mesures& m) { m = AutoMeasFixture::fullRecord(); }, 0x8040, false, 0},
    };
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.what);
        mesures m{};
        c.edit(m);
        float raw = -1;
        EXPECT_EQ(AutoMeasChannel::getMeasurementValue(c.id, nullptr, &m, &raw), c.valid ? 1 : 0);
        EXPECT_FLOAT_EQ(raw, c.raw);
    }
    EXPECT_EQ(AutoMeasChannel::getMeasurementValue(0x60, nullptr, nullptr, nullptr), 0);
}

TEST_F(AutoMeasEngine, LevelRawValuesAndValidity)
{
    TAcquisition* t = trace(0);
    const double offs = t->getOffsetCurs(static_cast<short>(data.instrumentMode), 0);
    const double ref = std::floor((offs + 500.0) * 262080.0 / 1000.0) + 0x60000;
    struct Case {
        const char* what;
        std::function<void(mesures&)> edit;
        unsigned short id;
        bool valid;
        double raw;
    } const cases[] = {
        {"vmin", [](mesures&) {}, 0x1000, true, 495000 - ref},
        {"vmin not found", [](mesures& m) { m.minCode = 668400; }, 0x1000, false, 0},
        {"vmax", [](mesures&) {}, 0x1010, true, 610000 - ref},
        {"vmax not found", [](mesures& m) { m.maxCode = 380112; }, 0x1010, false, 0},
        {"vpp", [](mesures&) {}, 0x1020, true, 115000},
        {"vpp needs 0x3", [](mesures& m) { m.flags = 0x1; }, 0x1020, false, 0},
        {"vlow", [](mesures&) {}, 0x1030, true, 500000 - ref},
        {"vhigh", [](mesures&) {}, 0x1040, true, 600000 - ref},
        {"vamp", [](mesures&) {}, 0x1050, true, 100000},
        {"vamp needs 0xC", [](mesures& m) { m.flags = 0x4; }, 0x1050, false, 0},
        {"vrms", [](mesures&) {}, 0x1070, true, 50000},
        {"vrms needs amplitude pass", [](mesures& m) { m.flags = 0x1003; }, 0x1070, false, 0},
        {"vrms negative square", [](mesures& m) { m.meanSquare = -4; }, 0x1070, true, 0},
        {"vrms_c 0x3403", [](mesures& m) { m.flags = 0x3403; }, 0x10c0, true, 50000},
        {"vrms_c 0x3803", [](mesures& m) { m.flags = 0x3803; }, 0x10c0, true, 50000},
        {"vrms_c without edge", [](mesures& m) { m.flags = 0x3003; }, 0x10c0, false, 0},
        {"vavg", [](mesures&) {}, 0x1080, true, 550000 - ref},
        {"sum", [](mesures&) {}, 0x10b0, true, 550000.0 * 1000 - ref * 1000},
        {"ov_pos", [](mesures&) {}, 0x1090, true, 10},
        {"ov_neg", [](mesures&) {}, 0x10a0, true, 5},
        {"ov_pos base = top", [](mesures& m) { m.baseLevel = 600000; }, 0x1090, true, 0},
        {"ov_neg base > top", [](mesures& m) { m.baseLevel = 700000; }, 0x10a0, true, 0},
        {"ov needs 0xF", [](mesures& m) { m.flags = 0x7; }, 0x1090, false, 0},
        {"unknown 0x1060", [](mesures&) {}, 0x1060, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mesures m = fullRecord();
        c.edit(m);
        float raw = -1;
        EXPECT_EQ(AutoMeasChannel::getMeasurementValue(c.id, t, &m, &raw), c.valid ? 1 : 0);
        EXPECT_FLOAT_EQ(raw, static_cast<float>(c.raw));
        // No trace, no reference: every level identifier is invalid.
        EXPECT_EQ(AutoMeasChannel::getMeasurementValue(c.id, nullptr, &m, &raw), 0);
    }
}

TEST_F(AutoMeasEngine, TextForms)
{
    TAcquisition* t = trace(0);
    const double sample = GetHorizontalScaleT(t->timeBase);
    mesures m = fullRecord();
    QString text;
    float value = -1;

    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x50, t, &m, &text, &value));
    EXPECT_EQ(text, "50.0 %");
    EXPECT_FLOAT_EQ(value, 50);
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x1090, t, &m, &text, &value));
    EXPECT_EQ(text, "10.0 %");
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x10a0, t, &m, &text, &value));
    EXPECT_EQ(text, "5.0 %");
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x80, t, &m, &text, &value));
    EXPECT_EQ(text, "3");
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x60, t, &m, &text, &value));
    EXPECT_EQ(text, ScopePrintf(2, 100 * sample) + "s");
    EXPECT_FLOAT_EQ(value, static_cast<float>(100 * sample));
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x70, t, &m, &text, &value));
    EXPECT_EQ(text, ScopePrintf(2, 1.0 / (100 * sample)) + "Hz");
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x1050, t, &m, &text, &value));
    const double amp = double(GetVerticalScale(t, SCALE_SCOPE, -1)) * 100000;
    EXPECT_FLOAT_EQ(value, static_cast<float>(amp));
    EXPECT_EQ(text, ScopePrintf(2, amp) + GetVerticalUnit(t, SCALE_SCOPE, true));
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x10b0, t, &m, &text, &value));
    EXPECT_TRUE(text.endsWith(GetVerticalUnit(t, SCALE_SCOPE, true) + "s"));
    // The RMS loses the noise floor in quadrature.
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x1070, t, &m, nullptr, &value));
    const double level = GetVerticalOffset(t, SCALE_SCOPE) + double(GetVerticalScale(t, SCALE_SCOPE, -1)) * 50000;
    const double y = level * level - 1.225e-5;
    EXPECT_FLOAT_EQ(value, static_cast<float>(y > 0 ? std::sqrt(y) : 0));

    // Invalid: the dash text and 0, with either pointer null.
    m = mesures{};
    value = -1;
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(0x60, t, &m, &text, &value));
    EXPECT_EQ(text, "----- ");
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(0x60, t, &m, nullptr, nullptr));
    // Times need the trace's time base.
    m = fullRecord();
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(0x60, nullptr, &m, &text, &value));
    EXPECT_EQ(text, "----- ");
}

TEST_F(AutoMeasEngine, CursorIdentifiers)
{
    TAcquisition* t = trace(0);
    std::snprintf(data.xUnit, sizeof data.xUnit, "s");
    // t1, t2, level1, level2, t3, x1, x2
    const int32_t table[7] = {100, 100, 400000, 390000, 150, 10, 30};
    std::copy(table, table + 7, cursors_);
    QString text;
    float value = -1;

    // Coincident cursors: no 1/dT and no phase, but a valid zero difference.
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(0x880, t, nullptr, &text, &value));
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(0x890, t, nullptr, &text, &value));
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x850, t, nullptr, &text, &value));
    EXPECT_EQ(value, 0);

    cursors_[1] = 300;
    const double h = GetHorizontalScaleT(t->timeBase);
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x880, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, static_cast<float>(1.0 / (h * 200)));
    EXPECT_TRUE(text.endsWith("Hz"));
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x890, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, 90);  // (150 - 100) x 360 / 200
    EXPECT_EQ(text, ScopePrintf(2, 90) + QChar(176));
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x860, t, nullptr, &text, &value));
    EXPECT_EQ(text, ScopePrintf(2, 100 * h) + "s");

    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x1800, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, GetVerticalScale(t, SCALE_SCOPE, -1) * 10000);
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x1830, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, static_cast<float>(GetVerticalOffset(t, SCALE_SCOPE) +
                                              double(GetVerticalScale(t, SCALE_SCOPE, -1)) * 20));

    // Recorder times in steps of 0.2 s; positions counted back from 100000.
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x8000, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, 40);
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x8010, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, (100000 - 100) * 0.2f);
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x8030, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, 20);
    double span = 0;
    t->GetMMRange(&span, nullptr, nullptr);
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x9010, t, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, static_cast<float>(span / 2 + span / 2 * (0x60000 - 400000) / 131040.0));

    // Without a trace: cursor times on the user's time base, levels and recorder values invalid.
    const double hu = GetHorizontalScaleT(static_cast<unsigned short>(data.userTimeBase));
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x860, nullptr, nullptr, &text, &value));
    EXPECT_FLOAT_EQ(value, static_cast<float>(100 * hu));
    for (unsigned short id : {0x1800, 0x1810, 0x1840, 0x8000, 0x9000}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(AutoMeasChannel::getMeasurement(id, nullptr, nullptr, &text, &value));
    }
    // No cursor table: nothing.
    setupLinks().cursorTablePtr = nullptr;
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(0x850, t, nullptr, &text, &value));
}

TEST_F(AutoMeasEngine, ScaleKindByModeAndFormat)
{
    struct Case {
        const char* what;
        uint16_t mode;
        int16_t function;
        int16_t format;
        int16_t fftScale;
        int trace;
        TScale kind;
    } const cases[] = {
        {"scope time", 0x10, 0, 0, 0, 0, SCALE_SCOPE},
        {"FFT logarithmic", 0x10, 0, 1, 1, 0, SCALE_FFT_DB},
        {"FFT linear", 0x10, 0, 1, 0, 0, SCALE_FFT},
        {"meter ohm", 128, 1, 0, 0, 0, SCALE_OHMMETER},
        {"meter capacitance", 130, 3, 0, 0, 0, SCALE_CAPACITANCE},
        {"meter diode", 128, 4, 0, 0, 0, SCALE_DIODE},
        {"power on the power trace", 128, 9, 0, 0, 4, SCALE_POWER},
        {"power on a channel", 128, 9, 0, 0, 0, SCALE_METER},
        {"meter volts", 128, 0, 1, 1, 0, SCALE_METER},
    };
    cursors_[2] = 400000;
    cursors_[3] = 390000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        data.instrumentMode = c.mode;
        data.meterFunction = c.function;
        data.traceFormat = c.format;
        data.fftVerticalScale = c.fftScale;
        TAcquisition* t = trace(c.trace);
        QString text;
        float value = -1;
        EXPECT_TRUE(AutoMeasChannel::getMeasurement(0x1800, t, nullptr, &text, &value));
        EXPECT_FLOAT_EQ(value, GetVerticalScale(t, c.kind, -1) * 10000);
        EXPECT_TRUE(text.endsWith(GetVerticalUnit(t, c.kind, true)));
    }
}

TEST_F(AutoMeasEngine, ChannelBitSelectsTraceAndRecord)
{
    records_[2] = fullRecord();
    records_[8] = fullRecord();
    records_[8].rise50 = 80;  // rising first, duty (150 - 80) / ((300 - 80) / 2)
    QString text;
    float value = 0;
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(4, 0x50, &text, &value));
    EXPECT_EQ(text, "50.0 %");
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(8192, 0x50, &text, &value));
    EXPECT_FLOAT_EQ(value, 70.0f * 100 / 110);
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(1, 0x50, &text, &value));  // record 0 is empty
    // Any other channel: no trace and no record; only cursor times remain.
    cursors_[1] = 10;
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(3, 0x50, &text, &value));
    EXPECT_TRUE(AutoMeasChannel::getMeasurement(3, 0x850, &text, &value));
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(3, 0x1800, &text, &value));
    // Missing links are no error.
    setupLinks().measResultsPtr = nullptr;
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(4, 0x50, &text, &value));
    setupLinks().acqCh3 = nullptr;
    EXPECT_FALSE(AutoMeasChannel::getMeasurement(4, 0x1020, &text, &value));
}
