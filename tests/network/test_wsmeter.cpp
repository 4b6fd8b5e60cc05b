// The meter requests of the web service: the tool bar, the power box, the meter channel boxes and
// the meter channel settings, against the setup, the status cache and the posted records.
#include "tests/network/ws_handler_fixture.h"

#include "board/sim/simboard.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "hardware/CmdesBase.h"
#include "network/user_int.h"

namespace {

std::string webText(const QString& text)
{
    QString t = text;
    t.replace(QChar(0x03BC), QLatin1Char('u'));
    return t.toUtf8().toStdString();
}

// The board's model lines read through the installed simulated devices.
void useModel(int model)
{
    static const bool installed = [] {
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
        std::string why;
        EXPECT_TRUE(simboard::install(&why)) << why;
        return true;
    }();
    (void)installed;
    simboard::updateScenario([model](simboard::TScenario& s) { s.model = model; });
}

using WsMeter = WsHandlers;

TEST_F(WsMeter, ToolBarPostsAuxiliaryRunHoldAndThePowerFunction)
{
    data.meterAuxMeas = 1;
    data.acqRunStop = 0;
    data.meterFunction = 8;
    const struct {
        const char* datagram;
        std::vector<TWsSet> expected;
    } rows[] = {
        {"/toolsMeter", {}},
        {"/toolsMeter?p0=1&p2=0", {}},  // unchanged
        {"/toolsMeter?p1=1&p2=1&p0=3", {{150, 0, 3}, {3, 0, 1}, {151, 0, 9}}},
        {"/toolsMeter?p1=0", {{151, 0, 8}}},  // posted although meterFunction is 8 already
        {"/toolsMeter?p1=2", {{151, 0, 10}}},
        {"/toolsMeter?p1=3", {{151, 0, 11}}},
        {"/toolsMeter?p1=4", {}},
        {"/toolsMeter?p1=-1", {}},
        {"/toolsMeter?p1=abc&p0=abc", {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(reply(row.datagram), "0,") << row.datagram;
        EXPECT_EQ(sets(), row.expected) << row.datagram;
    }
}

TEST_F(WsMeter, PowerBoxReadsTheCacheByFieldName)
{
    initPelanodeMeterMeas();
    data.meterFunction = 9;
    EXPECT_EQ(reply("/measuresPower"), "9,Power,1,1,+,+,+,+,+,+,");

    TPowerTexts texts;
    texts.active = QString::fromUtf8("1.20 kW");
    texts.reactive = QString::fromUtf8("300 var");
    texts.apparent = QString::fromUtf8("1.24 kVA");
    texts.dpf = QString::fromUtf8("0.97");
    texts.aux1 = QString::fromUtf8("5.00 \u03bcA");
    texts.aux2 = QString();
    setPelanodePowerMeas(texts);
    data.meterFunction = 2;
    EXPECT_EQ(reply("/measuresPower"), "9,Power,0,2,1.20 kW,300 var,1.24 kVA,0.97,5.00 uA,+,");
    data.meterFunction = 11;
    EXPECT_EQ(reply("/measuresPower").compare(0, 13, "9,Power,1,3,1"), 0);
    EXPECT_TRUE(posted().empty());
}

TEST_F(WsMeter, ChannelBoxesShowLabelStateFunctionAndTheCacheTexts)
{
    initPelanodeMeterMeas();
    for (int n = 0; n < 4; ++n) {
        const QString i = QString::number(n);
        setPelanodeMeterMeas(static_cast<int16_t>(n), "R" + i, "C" + i, QString::fromUtf8("1.5 \u03bcV"), QString(), "A" + i);
    }
    data.traceOnCh1 = 1;
    data.traceOnCh2 = 0;
    data.traceOnCh3 = 0;
    data.traceOnCh4 = 1;
    data.memoryTraceCh1 = data.memoryTraceCh2 = data.memoryTraceCh4 = 0;
    data.memoryTraceCh3 = 1;
    data.traceColorCh1 = 11;
    data.traceColorCh2 = 12;
    data.traceColorCh3 = 13;
    data.traceColorCh4 = 14;
    data.meterAutoRangeCh1 = 1;
    data.meterAutoRangeCh2 = data.meterAutoRangeCh3 = 0;
    data.meterAutoRangeCh4 = 7;
    const struct {
        int model;
        int16_t function;
        const char* datagram;
        const char* expected;
    } rows[] = {
        {4, 0, "/measuresMeter?channel=1", "10,CH1,1,0,11,1,R0,C0,1.5 uV,+,A0,"},
        {4, 0, "/measuresMeter?channel=2", "10,CH2,0,0,12,0,R1,C1,1.5 uV,+,A1,"},
        {4, 0, "/measuresMeter?channel=3", "10,M3,1,0,13,0,R2,C2,1.5 uV,+,A2,"},  // memory OR shown
        {4, 9, "/measuresMeter?channel=4", "10,CH4,1,0,14,1,R3,C3,1.5 uV,+,A3,"},
        {2, 0, "/measuresMeter?channel=2", "10,CH2,0,+,12,0,R1,C1,1.5 uV,+,A1,"},  // flag word 9
        {2, 0, "/measuresMeter?channel=4", "10,CH4,1,0,14,1,R3,C3,1.5 uV,+,A3,"},
        {4, 3, "/measuresMeter?channel=1", "10,CH1,1,3,11,1,R0,C0,1.5 uV,+,A0,"},
        {4, 3, "/measuresMeter?channel=2", "10,CH2,0,+,12,0,R1,C1,1.5 uV,+,A1,"},  // flag word 1
        {4, 9, "/measuresMeter?channel=1", "10,CH1,1,9,11,1,R0,C0,1.5 uV,+,A0,"},
        {4, 0, "/measuresMeter?channel=0", "0,"},
        {4, 0, "/measuresMeter?channel=5", "0,"},
        {4, 0, "/measuresMeter?channel=abc", "0,"},
        {4, 0, "/measuresMeter?channel=", "0,"},
        {4, 0, "/measuresMeter", "0,"},
    };
    for (const auto& row : rows) {
        useModel(row.model);
        data.meterFunction = row.function;
        EXPECT_EQ(reply(row.datagram), row.expected) << row.model << " " << row.function << " " << row.datagram;
    }
    TWsMeterBox box;
    ASSERT_TRUE(wsParseMeterBox(reply("/measuresMeter?channel=3"), &box));
    EXPECT_EQ(box.label, "M3");
    EXPECT_EQ(box.texts, (std::vector<std::string>{"R2", "C2", "1.5 uV", "+", "A2"}));
    EXPECT_TRUE(posted().empty());
}

TEST_F(WsMeter, SettingsPostInKeyOrderByTheFunctionInForce)
{
    data.traceOnCh1 = data.traceOnCh3 = 0;
    data.meterRangeCh1 = data.meterRangeCh2 = 0;
    data.ohmRange = 0;
    data.capaRange = 1;
    data.meterAutoRangeCh1 = data.meterAutoRangeCh3 = 0;
    data.meterCouplingCh1 = 0;
    const struct {
        int16_t function;
        const char* datagram;
        std::vector<TWsSet> expected;
    } rows[] = {
        // p1 follows the function on arrival, p4 comes after it.
        {0, "/verticalMeter?channel=1&p4=1&p1=3", {{153, 0, 2}, {151, 0, 1}}},
        {1, "/verticalMeter?channel=1&p1=3", {{164, 0, 2}}},
        {3, "/verticalMeter?channel=1&p1=3", {{165, 0, 3}}},
        {1, "/verticalMeter?channel=2&p1=3", {{156, 0, 2}}},
        {0, "/verticalMeter?channel=1&p1=1", {}},  // range 0 already: still a set
        {0, "/verticalMeter?channel=3&p3=1&p2=1&p0=1", {{18, 0, 1}, {160, 0, 1}, {158, 0, 4}}},
        {0, "/verticalMeter?channel=1&p3=0", {{152, 0, 0}}},  // posted although unchanged
        {0, "/verticalMeter?channel=1&p3=2", {{152, 0, 8}}},
        {0, "/verticalMeter?channel=2&p3=3", {{155, 0, 2}}},
        {0, "/verticalMeter?channel=3&p3=4", {{158, 0, 6}}},
        {0, "/verticalMeter?channel=4&p3=5", {{161, 0, 10}}},
        {0, "/verticalMeter?channel=4&p3=6", {{161, 0, 1}}},
        {0, "/verticalMeter?channel=4&p3=7", {}},
        {0, "/verticalMeter?channel=4&p3=-1", {}},
        {0, "/verticalMeter?channel=5&p0=1", {}},
    };
    for (const auto& row : rows) {
        data.meterFunction = row.function;
        EXPECT_EQ(reply(row.datagram), "0,") << row.datagram;
        EXPECT_EQ(sets(), row.expected) << row.datagram;
    }
    // Keys without a usable value, and p4 on a channel without one, leave the report.
    EXPECT_EQ(reply("/verticalMeter?channel=1&p0=x&p3=y").compare(0, 2, "9,"), 0);
    EXPECT_EQ(reply("/verticalMeter?channel=2&p4=1").compare(0, 2, "9,"), 0);
    EXPECT_TRUE(posted().empty());
}

TEST_F(WsMeter, ReportsListTheRangesOfTheFunction)
{
    data.traceOnCh1 = 1;
    data.traceColorCh1 = 2;
    data.meterAutoRangeCh1 = 0;
    data.meterFunction = 2;
    EXPECT_EQ(reply("/verticalMeter?channel=1"), "5,1,2,0,-1,80.00 Ohm,");
    data.meterFunction = 4;
    EXPECT_EQ(reply("/verticalMeter?channel=1"), "5,1,2,0,-1,4.000 V,");

    std::vector<std::string> f;
    data.meterFunction = 1;
    data.ohmRange = 2;
    f = fields("/verticalMeter?channel=1");
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(std::vector<std::string>(f.begin(), f.begin() + 5), (std::vector<std::string>{"1", "2", "3", "-1", "Autorange"}));
    for (unsigned short i = 0; i < 7; ++i)
        EXPECT_EQ(f[5 + i], webText(ScopePrintf(3, 4.0 * double(GetVerticalDiv(trace(0), i, SCALE_OHMMETER)))) + "Ohm") << i;
    data.meterAutoRangeCh1 = 1;
    EXPECT_EQ(fields("/verticalMeter?channel=1")[2], "0");

    data.meterFunction = 3;
    data.meterAutoRangeCh1 = 0;
    data.capaRange = 4;
    f = fields("/verticalMeter?channel=1");
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(std::vector<std::string>(f.begin(), f.begin() + 5), (std::vector<std::string>{"1", "2", "4", "-1", "Autorange"}));
    for (unsigned short i = 1; i <= 7; ++i)
        EXPECT_EQ(f[4 + i], webText(ScopePrintf(3, 4.0 * double(GetVerticalDiv(trace(0), i, SCALE_CAPACITANCE)))) + "F") << i;

    // Voltage: channel 1 in a power function, channels 2..4 whatever the function.
    data.traceOnCh2 = 1;
    data.traceColorCh2 = 2;
    data.meterAutoRangeCh2 = 0;
    data.meterRangeCh2 = 1;
    const struct {
        int16_t coupling;
        const char* client;
    } couplings[] = {{4, "1"}, {0, "0"}, {10, "5"}, {3, "65535"}, {12, "65535"}, {-2, "65535"}};
    for (const auto& c : couplings) {
        data.meterCouplingCh2 = c.coupling;
        f = fields("/verticalMeter?channel=2");
        ASSERT_EQ(f.size(), 9u);
        EXPECT_EQ(std::vector<std::string>(f.begin(), f.begin() + 5),
                  (std::vector<std::string>{"1", "2", "2", c.client, "Autorange"}))
            << c.coupling;
    }
    const std::string unit = webText(GetVerticalUnit(trace(1), SCALE_METER, false));
    for (unsigned short i = 0; i < 4; ++i)
        EXPECT_EQ(f[5 + i], webText(ScopePrintf(3, 8.0 * double(GetVerticalDiv(trace(1), i, SCALE_METER)))) + unit) << i;
    data.meterAutoRangeCh2 = 1;
    EXPECT_EQ(fields("/verticalMeter?channel=2")[2], "0");
    data.meterFunction = 9;
    data.meterCouplingCh1 = 6;
    EXPECT_EQ(fields("/verticalMeter?channel=1")[3], "4");

    // The range texts need the channel's trace.
    setupLinks().acqCh2 = nullptr;
    EXPECT_EQ(reply("/verticalMeter?channel=2"), "0,");
    EXPECT_TRUE(posted().empty());
}

} // namespace
