// The scope requests of the web service: settings, traces, indicators, measurements, zoom and
// tools, against the setup, the linked traces and the posted records.
#include "tests/network/ws_handler_fixture.h"

#include "acquisition/TFonction.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "tests/ui/scope/automeas_fixture.h"
#include "ui/traces/automeaschannel.h"
#include "ui/scope/toolchannel.h"
#include "ui/scope/tooltimebase.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {

std::string real(double value)
{
    char text[40];
    wsFormatReal(value, text, sizeof text);
    return text;
}

std::string exact(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string webText(const QString& text)
{
    QString t = text;
    t.replace(QChar(0x03BC), QLatin1Char('u'));
    return t.toUtf8().toStdString();
}

using WsScope = WsHandlers;

// The measurement tests' clean square-wave record.
struct TMeasRecords : AutoMeasFixture {
    using AutoMeasFixture::fullRecord;
};

// ---- settings --------------------------------------------------------------------------------

TEST_F(WsScope, HorizontalKeysPostInTableOrderAndTheStatusMirrorsTheSetup)
{
    data.traceFormat = 0;
    data.timeBaseIndex = 13;
    data.averageCount = 4;
    data.traceMode = 4;
    data.repSig = 7;
    data.minMax = 1;
    data.fftWindow = 2;
    data.fftVerticalScale = 3;
    data.xySourceX = 2;
    data.xySourceY = 3;
    data.saveRestart = 1;
    EXPECT_EQ(reply("/horizontalScope"), "11,0,13,4,2,1,1,2,3,2,3,1,");

    const struct {
        const char* datagram;
        int16_t traceMode;
        std::vector<TWsSet> expected;
        bool status;
    } rows[] = {
        {"/horizontalScope?p1=13", 1, {}, false},  // equal: still a set
        {"/horizontalScope?p10=0&p3=1&p0=1", 1, {{73, 0, 1}, {206, 0, 0}, {2, 0, 2}}, false},
        {"/horizontalScope?p3=2", 1, {{2, 0, 4}}, false},
        {"/horizontalScope?p3=5", 2, {{2, 0, 1}}, false},
        {"/horizontalScope?p3=5", 1, {}, true},  // the code equals the mode: no set
        {"/horizontalScope?p3=x", 2, {}, true},  // no number: absent
        {"/horizontalScope?p2=1e3", 1, {{41, 0, 1}}, false},  // an integer key reads its leading digits
        {"/horizontalScope?p9=99999999999", 1, {}, true},
    };
    for (const auto& row : rows) {
        data.traceMode = row.traceMode;
        const std::string r = reply(row.datagram);
        EXPECT_EQ(r.compare(0, 3, "11,") == 0, row.status) << row.datagram << " " << r;
        if (!row.status) {
            EXPECT_EQ(r, "0,");
        }
        EXPECT_EQ(sets(), row.expected) << row.datagram;
    }
}

TEST_F(WsScope, VerticalNeedsAChannelAndPrintsSixteenLabels)
{
    EXPECT_EQ(reply("/verticalScope"), "-1,");
    data.traceOnCh1 = 1;
    data.traceColorCh1 = 5;
    data.sensitivityCh1 = 6;
    data.couplingCh1 = 2;
    data.bwLimitCh1 = 1;
    data.probeCoeffCh1 = 10.0f;
    const std::vector<std::string> f = fields("/verticalScope?channel=7");  // any other number: channel 1
    ASSERT_EQ(f.size(), 23u);
    EXPECT_EQ(std::vector<std::string>(f.begin(), f.begin() + 6),
              (std::vector<std::string>{"1", "5", "6", "2", "1", "10"}));
    const std::string unit = webText(GetVerticalUnit(trace(0), SCALE_SCOPE, false));
    EXPECT_EQ(f[6], unit.empty() ? "+" : unit);
    for (unsigned short k = 0; k < 16; ++k)
        EXPECT_EQ(f[7 + k], webText(ScopePrintf(3, GetVerticalDiv(trace(0), k, SCALE_SCOPE))) + unit) << k;
    EXPECT_EQ(fields("/verticalScope?channel=&x=1"), f);  // empty reads 0: channel 1
    EXPECT_EQ(fields("/verticalScope?channel=abc"), f);

    std::memcpy(data.unitCh3, "mVx!", 4);  // the stored unit counts up to 3 characters
    const struct {
        const char* datagram;
        TWsSet expected;
    } rows[] = {
        {"/verticalScope?channel=2&p0=1", {16, 0, 1}},
        {"/verticalScope?channel=2&p1=3", {56, 0, 3}},
        {"/verticalScope?channel=4&p2=1", {21, 0, 1}},
        {"/verticalScope?channel=4&p3=2", {141, 0, 2}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(reply(row.datagram), "0,") << row.datagram;
        EXPECT_EQ(sets(), std::vector<TWsSet>{row.expected}) << row.datagram;
    }
    EXPECT_EQ(reply("/verticalScope?channel=3&p5=mVx"), "0,");
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(reply("/verticalScope?channel=3&p4=2.5&p5=+"), "0,");
    std::vector<pipe_dial> p = posted();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].code, param::probeCoeffCh3);
    EXPECT_EQ(p[0].floatValue, 2.5f);
    EXPECT_EQ(p[1].code, param::unitCh3);
    EXPECT_STREQ(reinterpret_cast<const char*>(p[1].intValue), "");

    setupLinks().acqCh2 = nullptr;
    EXPECT_EQ(reply("/verticalScope?channel=2"), "-1,");
    EXPECT_EQ(reply("/triggerScope"), "-1,");
}

TEST_F(WsScope, TriggerTimesAndLevelsConvertBothWays)
{
    const float step = 8e-09f;
    float scale[4];
    const int16_t sens[4] = {data.sensitivityCh1, data.sensitivityCh2, data.sensitivityCh3, data.sensitivityCh4};
    for (int n = 0; n < 4; ++n)
        scale[n] = GetVerticalScale(trace(n), SCALE_SCOPE, sens[n]) * 262.0f;

    const struct {
        std::string datagram;
        TWsSet expected;
    } rows[] = {
        {"/triggerScope?p3=0.0002", {32, 0, 25000}},
        {"/triggerScope?p5=" + exact(40 * static_cast<double>(step)), {177, 0, 40}},
        {"/triggerScope?p7=17", {175, 0, 2125000060}},  // the single-precision step
        {"/triggerScope?p9=" + exact(1000.0 * scale[0]), {113, 0, 1000}},
        {"/triggerScope?p12=" + exact(-250.0 * scale[3]), {116, 0, -250}},
        {"/triggerScope?p0=2&p24=1", {180, 0, 2}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(reply(row.datagram), "0,") << row.datagram;
        const std::vector<TWsSet> got = sets();
        ASSERT_FALSE(got.empty()) << row.datagram;
        EXPECT_EQ(got[0], row.expected) << row.datagram;
    }
    // Beyond 32 bits of steps: absent, so the status text comes back.
    EXPECT_EQ(reply("/triggerScope?p7=17.2").compare(0, 3, "29,"), 0);
    EXPECT_TRUE(posted().empty());

    data.trigType = 3;
    data.trigSource = 1;
    data.qualifSource = 2;
    data.trigHoldoff = 25;
    data.pulseT1 = 12500;
    data.pulseT2 = 0;
    data.trigDelay = 0xFFFFFFFFu;
    data.eventCount = 9;
    data.trigLevelCh1 = 100;
    data.trigLevelCh4 = -7;
    data.pulseType = 0;
    data.trigEdgeCh1 = data.trigEdgeCh3 = data.trigEdgeCh4 = 0;
    data.trigEdgeCh2 = 1;
    data.trigCouplingCh1 = data.trigCouplingCh2 = data.trigCouplingCh4 = 0;
    data.trigCouplingCh3 = 2;
    data.noiseRejectCh1 = data.noiseRejectCh2 = data.noiseRejectCh3 = 0;
    data.noiseRejectCh4 = 1;
    const std::vector<std::string> f = fields("/triggerScope");
    ASSERT_EQ(f.size(), 29u);
    EXPECT_EQ(std::vector<std::string>(f.begin(), f.begin() + 9),
              (std::vector<std::string>{"3", "1", "2", "2e-07", "0", "0.0001", "0",
                                        real(4294967295.0 * static_cast<double>(step)), "9"}));
    EXPECT_EQ(f[9], real(100 * static_cast<double>(scale[0]) + GetVerticalOffset(trace(0), SCALE_SCOPE)));
    EXPECT_EQ(f[12], real(-7 * static_cast<double>(scale[3]) + GetVerticalOffset(trace(3), SCALE_SCOPE)));
    EXPECT_EQ(std::vector<std::string>(f.begin() + 13, f.begin() + 25),
              (std::vector<std::string>{"0", "1", "0", "0", "0", "0", "2", "0", "0", "0", "0", "1"}));
    const std::string unit = webText(GetVerticalUnit(trace(2), SCALE_SCOPE, false));
    EXPECT_EQ(f[27], unit.empty() ? "+" : unit);
}

TEST_F(WsScope, MathPostsACopyOfEachCheckedExpression)
{
    EXPECT_EQ(reply("/mathScope?p0=2&p1=ch1%ch2"), "0,");
    EXPECT_EQ(reply("/mathScope?p0=4&p1=ch3*2&x=1"), "0,");
    EXPECT_EQ(reply("/mathScope?p0=3&p1=ch1%"), "0,");  // refused by the analysis
    EXPECT_EQ(reply("/mathScope?p0=5&p1=ch1"), "0,");   // no such channel
    EXPECT_EQ(reply("/mathScope?p1=ch2"), "0,");
    const std::vector<pipe_dial> p = posted();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].code, param::mathExprCh2);
    EXPECT_STREQ(reinterpret_cast<const char*>(p[0].intValue), "ch1+ch2");
    EXPECT_EQ(p[1].code, param::mathFunctionCh2);
    EXPECT_EQ(p[1].intValue, 1);
    EXPECT_EQ(p[2].code, param::mathExprCh4);
    EXPECT_STREQ(reinterpret_cast<const char*>(p[2].intValue), "ch3*2");
    EXPECT_EQ(p[3].code, param::mathFunctionCh4);
    for (const pipe_dial& r : p)
        EXPECT_EQ(r.senderId, senderValue(tWEBSd_id));

    // Status of a channel's function.
    char text[] = "ch1+ch4";
    TFonction function(66, text);
    char bad[] = "ch1+";
    TFonction broken(68, bad);
    std::strcpy(broken.text, "ch1+");  // a stored text that did not compile
    TFonction empty(67, nullptr);
    setupLinks().mathFunctionCh1 = &function;
    setupLinks().mathFunctionCh2 = &empty;
    setupLinks().mathFunctionCh3 = &broken;
    data.traceColorCh1 = 4;
    data.traceColorCh3 = 6;
    EXPECT_EQ(reply("/mathScope?channel=1"), std::string("2,4,ch1%ch4,\0", 13));
    EXPECT_EQ(reply("/mathScope?channel=3"), std::string("2,6,ch1%,\0", 10));
    EXPECT_EQ(reply("/mathScope?channel=2"), "0,");
    EXPECT_EQ(reply("/mathScope?channel=4"), "0,");  // no function object
    EXPECT_EQ(reply("/mathScope?channel=9"), "0,");
    EXPECT_EQ(reply("/mathScope"), "0,");
    setupLinks().mathFunctionCh1 = setupLinks().mathFunctionCh2 = setupLinks().mathFunctionCh3 = nullptr;
}

TEST_F(WsScope, PassfailAndCommandBar)
{
    EXPECT_EQ(reply("/passfail?p3=0.25&p0=1"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{219, 0, 1}, {213, 0, 25}}));
    data.passFailOn = 1;
    data.passFailSource = 2;
    data.passFailXMask = 25;
    data.passFailYMask = 150;
    data.passFailDisplay = 1;
    data.passFailBeep = 0;
    data.passFailRunStop = 1;
    EXPECT_EQ(reply("/passfail"), "7,1,2,0.25,1.5,1,0,1,");

    std::string expected = "31,";
    for (unsigned short c = 0; c < 4; ++c)
        expected += ToolChannel::getPelanodeInfos(c);
    expected += ToolTimebase::getPelanodeInfos();
    EXPECT_EQ(reply("/commandScope?p0=1"), expected);
    std::vector<std::string> f;
    EXPECT_TRUE(wsFields(expected, &f));
    EXPECT_EQ(f.size(), 31u);
}

// ---- traces ----------------------------------------------------------------------------------

class WsTraces : public WsHandlers {
protected:
    void SetUp() override
    {
        WsHandlers::SetUp();
        data.instrumentMode = 16;
        data.channelFlags = 3;
        data.passFailOn = 0;
        data.xySourceX = 0;
        data.xySourceY = 1;
        data.traceFormat = 0;
        data.traceMode = 1;
        data.vZoomFactor = 1.0f;
        data.vZoomPosition = 0;
        data.traceColorCh1 = 2;
        data.traceColorCh2 = 3;
        data.traceColorCh3 = 4;
        data.traceColorCh4 = 5;
        for (int i = 0; i < 10; ++i) {
            trace(i)->acqFlags = 0;
            for (uint32_t k = 0; k < 2500; ++k) {
                trace(i)->loggerRaw[k] = 524256u + 1000u * i + k;
                trace(i)->loggerEnvelope[k] = 300000u + 1000u * i + k;
            }
        }
    }
};

TEST_F(WsTraces, HeadAndOneBlockExactly)
{
    EXPECT_EQ(reply("/tracesScope"), "-1,");
    EXPECT_EQ(reply("/tracesScope?channels=0"), "100000,0,3,0,1,");
    EXPECT_EQ(reply("/tracesScope?channels=x"), "100000,0,3,0,1,");

    trace(0)->loggerRaw[7] = 0x80000000u;  // no sample
    const std::string r = reply("/tracesScope?channels=1");
    ASSERT_EQ(r.size(), 10037u);
    EXPECT_EQ(r.substr(0, 37), "100000,1,3,0,1,0,2,0,1,0,00000002500,");
    EXPECT_EQ(std::memcmp(r.data() + 37, trace(0)->loggerRaw, 10000), 0);
    EXPECT_EQ(r.substr(37 + 28, 4), std::string("\0\0\0\x80", 4));

    const std::string c = reply("/tracesCompScope?channels=1");
    ASSERT_EQ(c.size(), 10041u);
    EXPECT_EQ(c.substr(0, 41), "100000,1,3,0,1,0,2,0,1.0,0.0,00000002500,");
    EXPECT_EQ(std::memcmp(c.data() + 41, trace(0)->loggerEnvelope, 10000), 0);
}

TEST_F(WsTraces, OnlyAvailableTracesAreSent)
{
    const struct {
        const char* name;
        uint16_t flags;
        int16_t passFail;
        uint16_t mode;
        int16_t meterFunction;
        const char* channels;
        uint32_t selected;
        uint32_t available;
    } rows[] = {
        {"hidden reference", 0x01, 0, 16, 0, "17", 0x01, 0x01},
        {"shown reference", 0x11, 0, 16, 0, "17", 0x11, 0x11},
        {"memory trace under its channel", 0x200, 0, 16, 0, "514", 0x02, 0x02},
        {"pass/fail off", 0x01, 0, 16, 0, "8193", 0x01, 0x01},
        {"pass/fail on", 0x01, 1, 16, 0, "8193", 0x2001, 0x2001},
        {"meter power", 0x00, 0, 128, 8, "4096", 0x1000, 0x1000},
        {"recorder power", 0x00, 0, 256, 9, "65535", 0x1000, 0x1000},
        {"meter without power", 0x00, 0, 128, 7, "4096", 0, 0},
        {"scope with a power function", 0x00, 0, 16, 8, "4096", 0, 0},
        {"beyond 16 bits", 0x0F, 0, 16, 0, "65537", 0x01, 0x0F},
    };
    for (const auto& row : rows) {
        data.channelFlags = row.flags;
        data.passFailOn = row.passFail;
        data.instrumentMode = row.mode;
        data.meterFunction = row.meterFunction;
        TWsTraceReply t;
        std::string why;
        ASSERT_TRUE(wsParseTraces(reply(std::string("/tracesScope?channels=") + row.channels), &t, &why))
            << row.name << ": " << why;
        EXPECT_EQ(t.selected, row.selected) << row.name;
        EXPECT_EQ(t.available, row.available) << row.name;
        EXPECT_EQ(t.blocks.size(), static_cast<size_t>(__builtin_popcount(row.selected))) << row.name;
    }
    // A missing link is not available.
    data.channelFlags = 0x23;
    data.instrumentMode = 16;
    data.passFailOn = 1;
    setupLinks().refAcqCh2 = nullptr;
    setupLinks().maskAcq = nullptr;
    TWsTraceReply t;
    std::string why;
    ASSERT_TRUE(wsParseTraces(reply("/tracesScope?channels=65535"), &t, &why)) << why;
    EXPECT_EQ(t.available, 0x03u);
}

TEST_F(WsTraces, BlocksCarryColourEnvelopeZoomAndTheRecords)
{
    data.channelFlags = 0xFF;
    data.passFailOn = 1;
    data.passFailSource = 2;
    data.instrumentMode = 128;
    data.meterFunction = 8;
    data.traceFormat = 2;
    data.xySourceX = 1;
    data.xyZoomFactor = 2.5f;
    data.xyZoomPosition = 1000000;
    data.vZoomFactor = 4.0f;
    data.vZoomPosition = -30;
    trace(1)->acqFlags = 2;
    trace(2)->acqFlags = 4;
    trace(3)->acqFlags = 1;
    const TWsAnswer answer = ask("/tracesScope?channels=65535");
    // Ten blocks: about 100 KB, in datagrams of 50000 whose concatenation parses.
    ASSERT_EQ(answer.sizes.size(), 3u);
    EXPECT_EQ(answer.sizes[0], 50000u);
    EXPECT_EQ(answer.sizes[1], 50000u);
    TWsTraceReply t;
    std::string why;
    ASSERT_TRUE(wsParseTraces(answer.bytes, &t, &why)) << why;
    EXPECT_EQ(t.selected, 0x30FFu);
    EXPECT_EQ(t.xySourceX, 1);
    const int indexes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 12, 13};
    const int colours[10] = {2, 3, 4, 5, 10, 11, 12, 13, 14, 12};
    const int envelopes[10] = {0, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    const int traceOf[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(t.blocks.size(), 10u);
    for (int b = 0; b < 10; ++b) {
        const TWsTraceBlock& block = t.blocks[static_cast<size_t>(b)];
        EXPECT_EQ(block.index, indexes[b]);
        EXPECT_EQ(block.colour, colours[b]) << b;
        EXPECT_EQ(block.envelope, envelopes[b]) << b;
        const bool xSource = indexes[b] % 4 == 1;
        EXPECT_EQ(block.factor, xSource ? "2.5" : "4") << b;
        EXPECT_EQ(block.position, xSource ? "1e+06" : "-30") << b;
        EXPECT_EQ(std::memcmp(block.codes.data(), trace(traceOf[b])->loggerRaw, 10000), 0) << b;
    }

    // The FFT format: every trace the FFT pair; trace mode 4 sets every envelope flag.
    data.traceFormat = 1;
    data.fftVZoomFactor = 0.5f;
    data.fftVZoomPosition = 12;
    data.traceMode = 4;
    ASSERT_TRUE(wsParseTraces(reply("/tracesScope?channels=9"), &t, &why)) << why;
    ASSERT_EQ(t.blocks.size(), 2u);
    for (const TWsTraceBlock& block : t.blocks) {
        EXPECT_EQ(block.factor + "/" + block.position, "0.5/12");
        EXPECT_EQ(block.envelope, 1);
    }
}

TEST_F(WsTraces, PaddingFollowsTheRunningOffset)
{
    // The head "100000,1,3,0,1," and "0,2,0,1," are 23 bytes; the position's digits move the rest.
    const struct {
        int32_t position;
        size_t padding;
    } rows[] = {{0, 7}, {10, 6}, {100, 5}, {1000, 0}};
    for (const auto& row : rows) {
        data.vZoomPosition = row.position;
        TWsTraceReply t;
        std::string why;
        const std::string r = reply("/tracesScope?channels=1");
        ASSERT_TRUE(wsParseTraces(r, &t, &why)) << why;
        ASSERT_EQ(t.blocks.size(), 1u);
        EXPECT_EQ(t.blocks[0].padding, row.padding) << row.position;
    }
    // A second block's padding counts from the start of the whole reply.
    data.vZoomPosition = 0;
    TWsTraceReply t;
    std::string why;
    ASSERT_TRUE(wsParseTraces(reply("/tracesScope?channels=3"), &t, &why)) << why;
    ASSERT_EQ(t.blocks.size(), 2u);
    EXPECT_EQ(t.blocks[1].padding, 5u);  // 10037 + "1,3,0,1,0," = 10047, 3 mod 4
}

// ---- indicators ------------------------------------------------------------------------------

TEST_F(WsScope, CursorTimeOfTheWholeRecord)
{
    data.zoomWidth = 40.0f;
    data.horizPosition = 0;
    EXPECT_EQ(reply("/indicsScope?p2=500"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{24, 0, 50000}}));
    data.cursor1Time = 50000;
    data.cursor3Time = -1000;  // left of the window
    const std::vector<std::string> f = fields("/indicsScope");
    ASSERT_EQ(f.size(), 29u);
    EXPECT_EQ(f[3], "499");
    EXPECT_EQ(f[7], "-9");
}

// Every conversion: a value sent by a key comes back through the status text, within one step
// of the stored unit (one view unit, or the zoom factor for zero lines and trigger levels).
TEST_F(WsScope, IndicatorsComeBackWhereTheClientPutThem)
{
    // field: in the status fields after the count.
    auto roundTrip = [this](const char* request, const char* key, int field, int32_t* stored, int16_t* stored16,
                            int value, int step = 1) {
        const std::string datagram = std::string(request) + "?" + key + "=" + std::to_string(value);
        EXPECT_EQ(reply(datagram), "0,") << datagram;
        const std::vector<TWsSet> s = sets();
        ASSERT_EQ(s.size(), 1u) << datagram;
        if (stored)
            *stored = static_cast<int32_t>(s[0].value);
        else
            *stored16 = static_cast<int16_t>(s[0].value);
        const std::vector<std::string> f = fields(request);
        ASSERT_GT(f.size(), static_cast<size_t>(field));
        EXPECT_NEAR(std::stoi(f[static_cast<size_t>(field)]), value, step) << datagram << " -> " << s[0].value;
    };
    data.traceFormat = 0;
    data.zoomWidth = 10.0f;
    data.horizPosition = 30000;
    data.vZoomFactor = 2.0f;
    data.vZoomPosition = 150;
    data.trigSource = 2;
    data.qualifSource = 3;
    data.offsetCh3 = -400;
    data.offsetCh4 = 1200;
    for (int v : {0, 333, 1000}) {
        roundTrip("/indicsScope", "p2", 3, &data.cursor1Time, nullptr, v);
        roundTrip("/indicsScope", "p3", 4, &data.cursor1Level, nullptr, v);
        roundTrip("/indicsScope", "p4", 5, &data.cursor2Time, nullptr, v);
        roundTrip("/indicsScope", "p5", 6, &data.cursor2Level, nullptr, v);
        roundTrip("/indicsScope", "p6", 7, &data.cursor3Time, nullptr, v);
        roundTrip("/indicsScope", "p8", 11, nullptr, &data.offsetCh2, v, 2);
        roundTrip("/indicsScope", "p11", 20, &data.sweepOffset, nullptr, v);
        roundTrip("/indicsScope", "p12", 23, nullptr, &data.trigLevelCh3, v, 2);  // follows trigSource
        roundTrip("/indicsScope", "p13", 26, nullptr, &data.trigLevelCh4, v, 2);  // follows qualifSource
    }

    data.traceFormat = 1;
    data.fftZoomWidth = 20.0f;
    data.fftHorizPosition = 5000;
    data.fftVZoomFactor = 4.0f;
    data.fftVZoomPosition = -60;
    for (int v : {10, 500, 990}) {
        roundTrip("/indicsFft", "p2", 3, &data.cursor1Time, nullptr, v);
        roundTrip("/indicsFft", "p5", 6, &data.cursor2Level, nullptr, v);
        roundTrip("/indicsFft", "p9", 16, nullptr, &data.fftOffsetCh4, v, 4);
    }

    data.traceFormat = 2;
    data.xyZoomFactor = 2.0f;
    data.xyZoomPosition = 100;
    data.xySourceX = 1;
    data.xySourceY = 3;
    for (int v : {20, 500, 900}) {
        roundTrip("/indicsXy", "p1", 2, &data.xyCursor1X, nullptr, v);
        roundTrip("/indicsXy", "p2", 3, &data.cursor1Level, nullptr, v);
        roundTrip("/indicsXy", "p3", 4, &data.xyCursor2X, nullptr, v);
        roundTrip("/indicsXy", "p4", 5, &data.cursor2Level, nullptr, v);
        roundTrip("/indicsXy", "p5", 6, nullptr, &data.offsetCh2, v, 2);
        roundTrip("/indicsXy", "p6", 9, nullptr, &data.offsetCh4, v, 2);
    }
}

TEST_F(WsScope, IndicatorMasksLabelsAndColours)
{
    data.channelFlags = 0x0105;
    data.traceColorCh1 = 1;
    data.traceColorCh2 = 2;
    data.traceColorCh3 = 3;
    data.traceColorCh4 = 4;
    data.measRefChannel = 4;
    data.trigSource = 2;
    data.qualifSource = 9;
    data.zoomWidth = 40.0f;
    data.horizPosition = 0;
    data.cursor3Time = 0;
    const struct {
        int16_t format;
        int16_t trigType;
        const char* mask;
        const char* cursor3;
    } rows[] = {
        {0, 0, "24581", "0"}, {0, 2, "57349", "0"}, {0, 3, "57349", "0"}, {1, 2, "5", "-1"}, {2, 0, "5", "-1"},
    };
    for (const auto& row : rows) {
        data.traceFormat = row.format;
        data.trigType = row.trigType;
        const std::vector<std::string> f = fields("/indicsScope");
        ASSERT_EQ(f.size(), 29u);
        EXPECT_EQ(f[0], row.mask) << row.format << " " << row.trigType;
        EXPECT_EQ(f[7], row.cursor3) << row.format;
        EXPECT_EQ(f[2], "3");
        EXPECT_EQ(f[9] + f[10] + f[12] + f[13] + f[15] + f[16] + f[18] + f[19], "11223344");
        EXPECT_EQ(f[21] + f[22] + f[24] + f[25] + f[27] + f[28], "3T3T1Q");
    }
    const std::vector<std::string> fft = fields("/indicsFft");
    ASSERT_EQ(fft.size(), 19u);
    EXPECT_EQ(fft[0], "5");
    EXPECT_EQ(fft[9] + "|" + fft[18], "1 -40dB|4 -40dB");
    data.xySourceX = 3;
    data.xySourceY = 0;
    const std::vector<std::string> xy = fields("/indicsXy");
    ASSERT_EQ(xy.size(), 12u);
    EXPECT_EQ(xy[7] + xy[8] + xy[10] + xy[11], "4411");
}

TEST_F(WsScope, OverviewPaneKeysAndStatus)
{
    data.horizPosition = 1299;
    data.zoomWidth = 20.0f;
    data.sweepOffset = -50000;
    data.traceFormat = 0;
    data.trigSource = 3;
    data.traceColorCh4 = 6;
    EXPECT_EQ(reply("/indicsCompScope"), "6,1,12,500,500,6,T,");
    // Position and width in one request: the width request carries the new position.
    EXPECT_EQ(reply("/indicsCompScope?p1=12.34&p2=250"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{13, 0, 1234}, {36, 1234, 1000}}));
    EXPECT_EQ(reply("/indicsCompScope?p2=250.9"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{36, 1299, 1003}}));
    EXPECT_EQ(reply("/indicsCompScope?p2=500"), "0,");  // equal width: nothing posted
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(reply("/indicsCompScope?p3=250"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{5, 0, -25000}}));
    data.traceFormat = 1;
    data.zoomWidth = NAN;
    EXPECT_EQ(reply("/indicsCompScope"), "6,0,12,0,500,6,T,");
}

// Zero or non-finite zoom factors and widths: nothing posted, fields 0, and no undefined arithmetic.
TEST_F(WsScope, UnusableDivisorsPostNothingAndReportZero)
{
    data.zoomWidth = 0.0f;
    data.vZoomFactor = 0.0f;
    data.fftZoomWidth = INFINITY;
    data.fftVZoomFactor = NAN;
    data.xyZoomFactor = 0.0f;
    data.cursor1Time = 500;
    data.cursor1Level = 600000;
    for (const char* request : {"/indicsScope?p2=5&p3=5&p4=5&p5=5&p6=5&p7=5&p11=5&p12=5&p13=5",
                                "/indicsFft?p2=5&p3=5&p6=5", "/indicsXy?p1=5&p2=5&p5=5&p6=5",
                                "/zoomScope?p0=1&p1=500&p2=1&p3=500", "/zoomFft?p1=500&p3=500",
                                "/zoomXy?p1=500&p3=500"}) {
        reply(request);
        EXPECT_TRUE(posted().empty()) << request;
    }
    const std::vector<std::string> f = fields("/indicsScope");
    ASSERT_EQ(f.size(), 29u);
    EXPECT_EQ(f[3] + f[4] + f[8] + f[20] + f[23], "00000");
}

// ---- measurements ----------------------------------------------------------------------------

const unsigned short kMeasIds[20] = {0x1000, 0x1010, 0x1020, 0x1030, 0x1040, 0x1050, 0x1070, 0x10c0, 0x1080, 0x10b0,
                                     0x10,   0x20,   0x30,   0x40,   0x60,   0x70,   0x50,   0x80,   0x1090, 0x10a0};

std::vector<std::string> measurementTexts(TAcquisition* t, mesures* m)
{
    std::vector<std::string> out;
    for (unsigned short id : kMeasIds) {
        QString text;
        AutoMeasChannel::getMeasurement(id, t, m, &text, nullptr);
        text.replace(QChar(0x03BC), QLatin1Char('u')).replace(QChar(0x2126), QLatin1Char('{'));
        text.replace(QChar(0x03A9), QLatin1Char('{'));
        out.push_back(text.toUtf8().toStdString());
    }
    return out;
}

TEST_F(WsScope, MeasurementsOfAChannelInTheirOrder)
{
    data.traceColorCh3 = 7;
    data.measRefChannel = 2;
    records_[1] = TMeasRecords::fullRecord();
    records_[2] = TMeasRecords::fullRecord();
    records_[2].topLevel = 650000;
    std::vector<std::string> f = fields("/measuresScope?channel=4");
    ASSERT_EQ(f.size(), 22u);
    EXPECT_EQ(f[0] + "," + f[1], "4,7");
    EXPECT_EQ(std::vector<std::string>(f.begin() + 2, f.end()), measurementTexts(trace(2), &records_[2]));
    f = fields("/measuresScope");  // the reference channel
    ASSERT_EQ(f.size(), 22u);
    EXPECT_EQ(std::vector<std::string>(f.begin() + 2, f.end()), measurementTexts(trace(1), &records_[1]));
    EXPECT_EQ(f[0], "2");
    EXPECT_EQ(fields("/measuresScope?p0=2"), f);  // equal reference, no p1: the status

    EXPECT_EQ(reply("/measuresScope?channel=3"), "0,");
    EXPECT_EQ(reply("/measuresScope?channel=16"), "0,");
    EXPECT_EQ(reply("/measuresScope?p0=8&channel=1"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{23, 0, 8}}));
    EXPECT_EQ(reply("/measuresScope?p1=1"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{93, 0, 1}}));
    setupLinks().measResultsPtr = nullptr;
    EXPECT_EQ(reply("/measuresScope?channel=2"), "0,");
}

TEST_F(WsScope, MeasurementTextsWriteMicroAndOhmAsTheClientReadsThem)
{
    std::memcpy(trace(0)->unit, "{", 2);  // ohms
    trace(0)->probeCoeff = 1e-4f;
    records_[0] = TMeasRecords::fullRecord();
    QString raw;
    AutoMeasChannel::getMeasurement(0x1050, trace(0), &records_[0], &raw, nullptr);
    const std::string rawBytes = raw.toUtf8().toStdString();
    ASSERT_TRUE(raw.contains(QChar(0x03BC)) || raw.contains(QChar(0x03A9)) || raw.contains(QChar(0x2126))) << rawBytes;
    const std::string r = reply("/measuresScope?channel=1");
    for (const char* sign : {"\xCE\xBC", "\xCE\xA9", "\xE2\x84\xA6"})
        EXPECT_EQ(r.find(sign), std::string::npos) << r;
    EXPECT_NE(r.find('{'), std::string::npos) << r;
}

// Another thread rewrites the record while requests run: every reply shows one record whole.
TEST_F(WsScope, MeasurementTextsComeFromOneRecord)
{
    mesures a = TMeasRecords::fullRecord();
    mesures b = a;
    b.topLevel = 700000;
    b.rise50 = 120;
    b.nextRise50 = 260;
    b.periodCount = 1;
    const std::vector<std::string> textsA = measurementTexts(trace(0), &a);
    const std::vector<std::string> textsB = measurementTexts(trace(0), &b);
    ASSERT_NE(textsA, textsB);
    records_[0] = a;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i) {
            pthread_mutex_lock(&o_g_autoMeasMutex);
            records_[0] = i % 2 ? a : b;
            pthread_mutex_unlock(&o_g_autoMeasMutex);
        }
    });
    for (int i = 0; i < 40; ++i) {
        const std::vector<std::string> f = fields("/measuresScope?channel=1");
        ASSERT_EQ(f.size(), 22u);
        const std::vector<std::string> texts(f.begin() + 2, f.end());
        EXPECT_TRUE(texts == textsA || texts == textsB) << i;
    }
    stop = true;
    writer.join();
}

// ---- zoom and tools --------------------------------------------------------------------------

TEST_F(WsScope, ZoomRectanglesFollowTheClientsRectangle)
{
    const struct {
        const char* datagram;
        float factor;
        int32_t position;
        float width;
        int32_t origin;
        int32_t horizPosition;  // before
        int32_t vZoomPosition;  // before
    } rows[] = {
        {"/zoomScope?p1=500&p3=500", 2.0f, 0, 20.0f, 0, 0, 0},  // from the left edge and the bottom
        {"/zoomScope?p1=500&p3=50", 16.0f, 0, 20.0f, 0, 0, 0},  // 20 limited to 16
        {"/zoomScope?p0=100&p1=10&p3=500", 2.0f, 0, 1.0f, 10000, 0, 0},  // width limited to 1
        {"/zoomScope?p0=100&p1=1000&p3=500", 2.0f, 0, 40.0f, 1234, 1234, 0},  // width kept: position kept
        {"/zoomScope?p0=100&p1=500&p2=250&p3=500", 2.0f, 700, 20.0f, 10000, 0, 100},
    };
    for (const auto& row : rows) {
        data.vZoomFactor = 1.0f;
        data.zoomWidth = 40.0f;
        data.horizPosition = row.horizPosition;
        data.vZoomPosition = row.vZoomPosition;
        EXPECT_EQ(reply(row.datagram), "0,");
        const std::vector<pipe_dial> p = posted();
        ASSERT_EQ(p.size(), 1u) << row.datagram;
        EXPECT_EQ(p[0].code, param::zoomState);
        EXPECT_EQ(p[0].intValue, 4);
        EXPECT_EQ(p[0].senderId, senderValue(tWEBSd_id));
        const auto* rect = reinterpret_cast<const TZoomRect*>(p[0].auxValue);
        EXPECT_EQ(rect->verticalFactor, row.factor) << row.datagram;
        EXPECT_EQ(rect->verticalPosition, row.position) << row.datagram;
        EXPECT_EQ(rect->windowWidth, row.width) << row.datagram;
        EXPECT_EQ(rect->windowPosition, row.origin) << row.datagram;
    }
    for (const char* none : {"/zoomScope", "/zoomScope?p1=500", "/zoomScope?p1=500&p3=0", "/zoomScope?p1=0&p3=500",
                             "/zoomScope?p1=500&p3=x", "/zoomXy?p1=500", "/zoomFft"}) {
        EXPECT_EQ(reply(none), "0,") << none;
        EXPECT_TRUE(posted().empty()) << none;
    }

    // Two zooms before the controller takes either: each keeps its rectangle.
    data.fftVZoomFactor = 1.0f;
    data.fftZoomWidth = 40.0f;
    reply("/zoomScope?p1=500&p3=500");
    reply("/zoomScope?p1=250&p3=250");
    reply("/zoomFft?p1=800&p3=1000");
    const std::vector<pipe_dial> p = posted();
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[0].auxValue)->windowWidth, 20.0f);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[1].auxValue)->windowWidth, 10.0f);
    EXPECT_EQ(p[2].code, param::fftZoomState);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[2].auxValue)->windowWidth, 32.0f);
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(p[2].auxValue)->verticalFactor, 1.0f);

    // Crowded inbox: held back, and the slot is used again by the next zoom.
    pipe_dial local{REQ_SET_PARAM, 1, 0, 0, 0.0f, kSenderUserInterface};
    for (int i = 0; i <= kWsInboxGuard; ++i)
        ASSERT_EQ(o_g_consMessageBox.send(&local), 0);
    reply("/zoomScope?p1=500&p3=500");
    EXPECT_EQ(o_g_consMessageBox.count(), kWsInboxGuard + 1);
    posted();
    reply("/zoomScope?p1=500&p3=500");
    reply("/zoomScope?p1=250&p3=500");
    const std::vector<pipe_dial> q = posted();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[1].auxValue - q[0].auxValue, static_cast<intptr_t>(sizeof(TZoomRect)));
    EXPECT_EQ(reinterpret_cast<const TZoomRect*>(q[0].auxValue)->windowWidth, 20.0f);
}

TEST_F(WsScope, XyZoomPostsBothAxesAsTheUserInterface)
{
    data.vZoomFactor = 1.0f;
    data.vZoomPosition = 0;
    data.xyZoomFactor = 1.0f;
    data.xyZoomPosition = 0;
    EXPECT_EQ(reply("/zoomXy?p0=100&p1=250&p2=0&p3=500"), "0,");
    const std::vector<pipe_dial> p = posted();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].code, param::vZoomFactor);
    EXPECT_EQ(p[0].intValue, 200);
    EXPECT_EQ(p[0].auxValue, 0);
    EXPECT_EQ(p[1].code, param::xyZoomFactor);
    EXPECT_EQ(p[1].intValue, 400);
    EXPECT_EQ(p[1].auxValue, 2600);  // mirrored: (1000 - 100 - 250) x 4
    for (const pipe_dial& r : p)
        EXPECT_EQ(r.senderId, senderValue(MENU_id));
    EXPECT_EQ(reply("/zoomXy?p1=50&p3=20"), "0,");
    const std::vector<pipe_dial> q = posted();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].intValue, 1600);
    EXPECT_EQ(q[1].intValue, 1600);
}

TEST_F(WsScope, ToolBarActions)
{
    struct TPost {
        int32_t code;
        intptr_t value;
        intptr_t sender;
    };
    const intptr_t web = 0x5EB5;
    const intptr_t keys = 0x7AAD;
    const struct {
        const char* datagram;
        int16_t refCapture;
        std::vector<TPost> expected;
    } rows[] = {
        {"/toolsScope", 0, {}},
        {"/toolsScope?p2=", 0, {}},
        {"/toolsScope?p2=x", 0, {{27, 0, web}}},
        {"/toolsScope?p0=1&p1=2", 0, {{3, 1, web}, {7, 2, web}}},
        {"/toolsScope?p4=1", 0, {{83, 1, web}, {83, 255, keys}}},
        {"/toolsScope?p4=0", 0, {{83, 0, keys}}},
        {"/toolsScope?p4=3", 3, {{83, 255, keys}}},
        {"/toolsScope?p3=1", 0, {{61, 4, web}, {72, 4, web}, {101, 100, web}}},
        // A p4 that is no number reads as 0: it clears, and the setter posts 0 unless it is 0.
        {"/toolsScope?p4=x", 0, {{83, 0, keys}}},
        {"/toolsScope?p4=x", 255, {{83, 0, web}, {83, 0, keys}}},
        {"/toolsScope?p4=&p2=1", 3, {{83, 0, web}, {27, 0, web}, {83, 0, keys}}},
    };
    data.acqRunStop = 0;
    data.trigMode = 0;
    for (const auto& row : rows) {
        data.refCapture = row.refCapture;
        EXPECT_EQ(reply(row.datagram), "0,") << row.datagram;
        const std::vector<pipe_dial> p = posted();
        ASSERT_EQ(p.size(), row.expected.size()) << row.datagram;
        for (size_t i = 0; i < p.size(); ++i) {
            EXPECT_EQ(p[i].kind, REQ_SET_PARAM);
            EXPECT_EQ(p[i].code, row.expected[i].code) << row.datagram << " " << i;
            EXPECT_EQ(p[i].intValue, row.expected[i].value) << row.datagram << " " << i;
            EXPECT_EQ(p[i].senderId, row.expected[i].sender) << row.datagram << " " << i;
        }
        if (std::string(row.datagram) == "/toolsScope?p3=1") {
            ASSERT_EQ(p[0].auxValue, p[1].auxValue);
            const auto* rect = reinterpret_cast<const TZoomRect*>(p[0].auxValue);
            EXPECT_EQ(rect->verticalFactor, 1.0f);
            EXPECT_EQ(rect->verticalPosition, 0);
            EXPECT_EQ(rect->windowWidth, 40.0f);
            EXPECT_EQ(rect->windowPosition, 0);
            EXPECT_EQ(p[2].auxValue, 0);
        }
    }
}

} // namespace
