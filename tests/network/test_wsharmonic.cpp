// The harmonic analyser's requests of the web service: the tool bar, the normalised spectra and
// the readings of the selected order, against a linked result block and the traces' tables.
#include "tests/network/ws_handler_fixture.h"

#include "acquisition/TFonction.h"
#include "core/harmonic_results.h"
#include "core/scale.h"
#include "core/scopeprintf.h"

#include <array>
#include <cmath>
#include <cstring>

namespace {

std::string real(double value, int decimals = -1)
{
    char text[40];
    wsFormatReal(value, text, sizeof text, decimals);
    return text;
}

std::string webText(const QString& text)
{
    QString t = text;
    t.replace(QChar(0x03BC), QLatin1Char('u'));
    return t.toUtf8().toStdString();
}

class WsHarmonic : public WsHandlers {
protected:
    void SetUp() override
    {
        WsHandlers::SetUp();
        for (auto& r : records_)
            r = notComputed();
        setupLinks().harmonicResultsPtr = records_.data();
        data.harmPower = 0;
        data.harmOrder = 1;
        data.hwChannelMask = 15;
        data.channelFlags = 15;
        data.traceColorCh1 = 1;
        data.traceColorCh2 = 2;
        data.traceColorCh3 = 3;
        data.traceColorCh4 = 4;
    }

    static THarmonicResults notComputed()
    {
        THarmonicResults r;
        std::memset(&r, 0, sizeof r);
        r.status = HARMONIC_NOT_MEASURED;
        return r;
    }
    // 3.1 % distortion, RMS 230 codes; order n > 0: period 0.02 / n, ratio 1 / n, phase -n,
    // amplitude 230 / n.
    static THarmonicResults measured()
    {
        THarmonicResults r = notComputed();
        r.status = HARMONIC_MEASURED;
        r.distortion = 0.031f;
        r.rms = 230.0f;
        r.entries[0] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int n = 1; n < kHarmonicOrders; ++n)
            r.entries[n] = {0.02f / float(n), 1.0f / float(n), -float(n), 230.0f / float(n)};
        return r;
    }

    TAcquisition* harmonicTrace(int i) { return i == 4 ? setupLinks().powerAcq : trace(i); }

    std::array<THarmonicResults, 5> records_;
};

TEST_F(WsHarmonic, ToolBarSetsOrReportsFundamentalAndPower)
{
    data.harmonicFreq = 1;
    data.harmPower = 0;
    EXPECT_EQ(reply("/toolsHarmonic"), "2,1,0,");
    EXPECT_EQ(reply("/toolsHarmonic?p0=1"), "0,");
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(reply("/toolsHarmonic?p1=2&p0=3"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{202, 0, 3}, {198, 0, 2}}));
    EXPECT_EQ(reply("/toolsHarmonic?p0=x"), "2,1,0,");
}

TEST_F(WsHarmonic, SpectraOfTheTracesShown)
{
    char text[] = "ch1+ch4";
    TFonction function(67, text);
    ASSERT_TRUE(function.IsDefined());
    const struct {
        int16_t power;
        uint16_t hardware;
        uint16_t shown;
        bool mathOnTwo;
        bool noThree;
        bool noPower;
        uint32_t mask;
    } rows[] = {
        {0, 15, 15, false, false, false, 15},
        {1, 15, 15, false, false, false, 16},
        {2, 15, 15, false, false, false, 16},
        {1, 15, 15, false, false, true, 0},
        {0, 9, 15, false, false, false, 9},  // two-channel model
        {0, 15, 7, true, false, false, 5},
        {0, 15, 15, false, true, false, 11},
    };
    for (const auto& row : rows) {
        data.harmPower = row.power;
        data.hwChannelMask = row.hardware;
        data.channelFlags = row.shown;
        TSetupLinks saved = setupLinks();
        setupLinks().mathFunctionCh2 = row.mathOnTwo ? &function : nullptr;
        if (row.noThree)
            setupLinks().acqCh3 = nullptr;
        if (row.noPower)
            setupLinks().powerAcq = nullptr;
        TWsHarmonicTraces r;
        const std::string bytes = reply("/tracesHarmonic");
        setupLinks() = saved;
        ASSERT_TRUE(wsParseHarmonicTraces(bytes, &r)) << bytes.substr(0, 40);
        EXPECT_EQ(r.mask, row.mask);
        EXPECT_EQ(r.order, 1);
        for (const TWsHarmonicTrace& t : r.traces) {
            EXPECT_EQ(t.colour, t.index == 4 ? 6 : t.index + 1);
            EXPECT_EQ(t.amplitudes, std::vector<double>(64, 0.0));  // not computed
        }
    }
}

TEST_F(WsHarmonic, SpectraAreNormalisedToTheLargestAmplitude)
{
    data.channelFlags = 0x7;
    for (int k = 0; k < 64; ++k) {
        trace(0)->harmonicTable[k] = (k - 10) * 0.5;  // largest: 26.5 at order 63
        trace(1)->harmonicTable[k] = k == 3 ? -4.0 : 1.0;  // largest by magnitude is negative
        trace(2)->harmonicTable[k] = 0.0;
    }
    records_[0] = measured();
    records_[1] = measured();
    records_[1].status = HARMONIC_OVERRANGE;
    records_[2] = measured();
    const std::string bytes = reply("/tracesHarmonic");
    TWsHarmonicTraces r;
    ASSERT_TRUE(wsParseHarmonicTraces(bytes, &r));
    ASSERT_EQ(r.traces.size(), 3u);
    std::string expected = "7,1,0,1,";
    for (int k = 0; k < 64; ++k)
        expected += real((k - 10) * 0.5 / 26.5) + ",";
    expected += "1,2,";
    for (int k = 0; k < 64; ++k)
        expected += (k == 3 ? "-1" : "0.25") + std::string(",");
    expected += "2,3,";
    for (int k = 0; k < 64; ++k)
        expected += "0,";  // all zero: no quotient
    EXPECT_EQ(bytes, expected);
    EXPECT_DOUBLE_EQ(r.traces[0].amplitudes[63], 1.0);
    EXPECT_NEAR(r.traces[0].amplitudes[0], -5.0 / 26.5, 1e-6);

    setupLinks().harmonicResultsPtr = nullptr;  // no result block: nothing computed
    ASSERT_TRUE(wsParseHarmonicTraces(reply("/tracesHarmonic"), &r));
    EXPECT_EQ(r.traces[0].amplitudes, std::vector<double>(64, 0.0));
}

TEST_F(WsHarmonic, ReadingsOfTheOrderForEveryChannelAndThePowerTrace)
{
    data.harmPower = 1;
    data.harmOrder = 5;
    EXPECT_EQ(reply("/measuresHarmonic"),
              "37,5,1,1,----,----,----,----,----,----,2,----,----,----,----,----,----,3,----,----,----,----,----,"
              "----,4,----,----,----,----,----,----,6,----,----,----,----,----,----,");
    EXPECT_EQ(reply("/measuresHarmonic?p0=5"), "0,");
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(reply("/measuresHarmonic?p0=7"), "0,");
    EXPECT_EQ(sets(), (std::vector<TWsSet>{{39, 0, 7}}));

    for (auto& r : records_)
        r = measured();
    records_[1].status = HARMONIC_OVERRANGE;
    records_[2].status = 7;
    records_[3].entries[5].period = 0.0f;
    const auto channelBlock = [&](int i, int order) {
        TAcquisition* t = trace(i);
        const double v = GetVerticalScale(t, SCALE_SCOPE, -1);
        const std::string unit = webText(GetVerticalUnit(t, SCALE_SCOPE, false));
        const THarmonicResults& r = records_[size_t(i)];
        std::vector<std::string> f{webText(ScopePrintf(3, v * 230.0)) + unit, "3.1 %"};
        if (order > 63) {
            f.insert(f.end(), {"----", "----", "----", "----"});
            return f;
        }
        const THarmonicEntry& e = r.entries[order];
        f.push_back(real(double(e.ratio) * 100.0, 1) + " %");
        f.push_back(real(double(e.phase), 0) + " deg");
        f.push_back(e.period == 0.0f || !std::isfinite(e.period)
                        ? std::string("----")
                        : webText(ScopePrintf(2, 1.0 / double(e.period))) + "Hz");
        f.push_back(webText(ScopePrintf(3, v * double(e.amplitude))) + unit);
        return f;
    };
    for (int order : {0, 5, 63, 64}) {
        data.harmOrder = static_cast<int16_t>(order);
        TWsHarmonicMeasures m;
        ASSERT_TRUE(wsParseHarmonicMeasures(reply("/measuresHarmonic"), &m)) << order;
        EXPECT_EQ(m.order, order);
        EXPECT_EQ(m.power, 1);
        EXPECT_EQ(m.blocks[0].colour, 1);
        EXPECT_EQ(m.blocks[0].readings, channelBlock(0, order)) << order;
        EXPECT_EQ(m.blocks[1].readings, std::vector<std::string>(6, "-OL-"));
        EXPECT_EQ(m.blocks[2].readings, std::vector<std::string>(6, "----"));
        EXPECT_EQ(m.blocks[3].readings, channelBlock(3, order)) << order;
        EXPECT_EQ(m.blocks[4].colour, 6);
        std::vector<std::string> power = channelBlock(0, order);
        power[0] = power[1] = power[5] = "+";
        EXPECT_EQ(m.blocks[4].readings, power) << order;
    }
    // Readable values of order 5: the fifth harmonic of 50 Hz at a fifth of the fundamental.
    data.harmOrder = 5;
    TWsHarmonicMeasures m;
    ASSERT_TRUE(wsParseHarmonicMeasures(reply("/measuresHarmonic"), &m));
    EXPECT_EQ(m.blocks[0].readings[2], "20.0 %");
    EXPECT_EQ(m.blocks[0].readings[3], "-5 deg");
    EXPECT_NE(m.blocks[0].readings[4].find("250"), std::string::npos) << m.blocks[0].readings[4];
    EXPECT_EQ(m.blocks[3].readings[4], "----");

    // A channel without its trace prints no readings; the others stay.
    setupLinks().acqCh1 = nullptr;
    ASSERT_TRUE(wsParseHarmonicMeasures(reply("/measuresHarmonic"), &m));
    EXPECT_EQ(m.blocks[0].colour, 1);
    EXPECT_EQ(m.blocks[0].readings, std::vector<std::string>(6, "----"));
    EXPECT_EQ(m.blocks[3].readings, channelBlock(3, 5));
}

} // namespace
