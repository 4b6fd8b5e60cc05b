// The scope view's setting panels as items: the horizontal, vertical, math and pass/fail panels
// (requests, reloads from the setup, the rules that keep them from posting what the user did not
// choose) and the smart-probe overview (ratings, choice of the between-channels rating, showing
// and hiding).
// Before any Qt header: the scenario has a member named like Qt's "signals" keyword.
#include "board/sim/simboard.h"

#include "acquisition/TAcquisition.h"
#include "tests/support/probes.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/scope/kalvexoverview.h"
#include "ui/scope/passfail.h"
#include "ui/scope/scopehorizontal.h"
#include "ui/scope/scopemath.h"
#include "ui/scope/scopevertical.h"
#include "ui/frame/zinccolor.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QThread>

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

using uitest::takeRequests;

// A posted parameter request as {code, auxValue, intValue}, after checking the common fields.
struct TPosted {
    int code;
    intptr_t aux;
    intptr_t value;
    bool operator==(const TPosted& o) const { return code == o.code && aux == o.aux && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const TPosted& p)
{
    return os << "{" << p.code << ", " << p.aux << ", " << p.value << "}";
}

std::vector<TPosted> posted(std::vector<float>* floats = nullptr)
{
    std::vector<TPosted> out;
    for (const pipe_dial& r : takeRequests()) {
        EXPECT_EQ(r.kind, REQ_SET_PARAM);
        EXPECT_EQ(r.senderId, senderValue(MENU_id));
        out.push_back({r.code, r.auxValue, r.intValue});
        if (floats)
            floats->push_back(r.floatValue);
        else
            EXPECT_EQ(r.floatValue, 0.0f);
    }
    return out;
}

using Posts = std::vector<TPosted>;

// Counts the emissions of one signal; the connection goes with the counter.
class TSpy {
public:
    template <typename Sender, typename Signal>
    TSpy(Sender* sender, Signal signal)
    {
        QObject::connect(sender, signal, &context_, [this] { ++count_; });
    }
    int count() const { return count_; }
    void clear() { count_ = 0; }

private:
    int count_ = 0;
    QObject context_;
};

// The text a request points at.
std::string textAt(intptr_t pointer)
{
    return std::string(reinterpret_cast<const char*>(pointer));
}

class ScopePanelsTest : public uitest::HomeViewTest {
protected:
    void TearDown() override
    {
        if (simboard::installed()) {
            unplugAllProbes();
            simboard::shutdown();
            simboard::uninstall();
            simboard::setPowerOnConfiguration(simboard::TPowerOn::Scenario);
        }
        uitest::HomeViewTest::TearDown();
    }
    // The simulated board with its FPGA configured: the probes are read through it.
    static bool installBoard()
    {
        simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
        std::string why;
        const bool ok = simboard::install(&why);
        EXPECT_TRUE(ok) << why;
        return ok;
    }
};

// ---------------------------------------------------------------------------------------------
// Horizontal panel

TEST_F(ScopePanelsTest, HorizontalInvokablesPostOneRequestEach)
{
    ScopeHorizontal panel;
    struct Case {
        std::function<void()> call;
        TPosted expected;
    } cases[] = {
        {[&] { panel.sendRequestTimeBase(19); }, {121, 0, 19}},
        {[&] { panel.sendRequestSavRel(true); }, {206, 0, 1}},
        {[&] { panel.sendRequestSavRel(false); }, {206, 0, 0}},
        {[&] { panel.sendRequestMinMax(true); }, {37, 0, 1}},
        {[&] { panel.sendRequestRepsig(true); }, {148, 0, 1}},
        {[&] { panel.sendRequestAverage(3); }, {41, 0, 3}},
        {[&] { panel.sendRequestMode(0); }, {2, 0, 1}},
        {[&] { panel.sendRequestMode(1); }, {2, 0, 2}},
        {[&] { panel.sendRequestMode(2); }, {2, 0, 4}},
        {[&] { panel.sendRequestMode(3); }, {2, 0, 5}},
        {[&] { panel.sendRequestType(2); }, {73, 0, 2}},
        {[&] { panel.sendRequestWindow(4); }, {99, 0, 4}},
        {[&] { panel.sendRequestFftVerticalScale(1); }, {98, 0, 1}},
        {[&] { panel.sendRequestXSource(2); }, {59, 0, 2}},
        {[&] { panel.sendRequestYSource(3); }, {60, 0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.code);
        c.call();
        EXPECT_EQ(posted(), Posts{c.expected});
    }
    // A list box in its empty state, or beyond the four modes: nothing.
    panel.sendRequestMode(-1);
    panel.sendRequestMode(4);
    EXPECT_TRUE(posted().empty());
    const int indices[8] = {0, 0, 1, 0, 2, 3, 0, 0};
    for (int mode = 0; mode <= 7; ++mode)
        EXPECT_EQ(ScopeHorizontal::modeToIndex(mode), indices[mode]) << mode;
    EXPECT_EQ(ScopeHorizontal::modeToIndex(-1), 0);
}

TEST_F(ScopePanelsTest, HorizontalReloadsEverythingOnAnyNotice)
{
    ScopeHorizontal panel;
    EXPECT_EQ(panel.title(), QString());
    EXPECT_EQ(panel.timebaseIndex(), -1);
    EXPECT_EQ(panel.ySourceIndex(), -1);
    EXPECT_FALSE(panel.repsigValue());
    std::vector<bool> data;
    QObject::connect(&panel, &ScopeHorizontal::dataChanged, [&](bool domain) { data.push_back(domain); });
    TSpy title(&panel, &ScopeHorizontal::titleChanged);

    ::data.timeBaseIndex = 19;
    ::data.saveRestart = 1;
    ::data.minMax = 2;  // only 1 checks the box
    ::data.repSig = 1;
    ::data.averageCount = 3;
    ::data.traceMode = 3;
    ::data.traceFormat = 1;
    ::data.fftWindow = 4;
    ::data.fftVerticalScale = 1;
    ::data.xySourceX = 2;
    ::data.xySourceY = 3;
    // Any code reloads, through the root window's notice.
    home_->screenMaj(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(panel.title(), QStringLiteral("Parametres horizontaux"));
    EXPECT_EQ(panel.timebaseIndex(), 19);
    EXPECT_TRUE(panel.savrelValue());
    EXPECT_FALSE(panel.minmaxValue());
    EXPECT_TRUE(panel.repsigValue());
    EXPECT_EQ(panel.averageIndex(), 3);
    EXPECT_EQ(panel.modeIndex(), 0);
    EXPECT_EQ(panel.typeIndex(), 1);
    EXPECT_EQ(panel.windowIndex(), 4);
    EXPECT_EQ(panel.scaleIndex(), 1);
    EXPECT_EQ(panel.xSourceIndex(), 2);
    EXPECT_EQ(panel.ySourceIndex(), 3);
    EXPECT_EQ(data, std::vector<bool>{true});
    EXPECT_EQ(title.count(), 1);
    ::data.minMax = 1;
    ::data.traceMode = 6;
    panel.screenMajSlot();
    EXPECT_TRUE(panel.minmaxValue());
    EXPECT_EQ(panel.modeIndex(), 0);
    // A write from QML stores without a notice.
    panel.setProperty("timebaseIndex", 4);
    EXPECT_EQ(panel.timebaseIndex(), 4);
    EXPECT_EQ(data.size(), 2u);
    EXPECT_TRUE(posted().empty());
}

// ---------------------------------------------------------------------------------------------
// Vertical panel

TEST_F(ScopePanelsTest, VerticalRequestsUseTheClickedChannelsCodes)
{
    data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = data.traceOnCh4 = 1;
    ScopeVertical panel;
    for (int channel : {0, 1, 2, 3, 7}) {
        SCOPED_TRACE(channel);
        const int n = channel == 7 ? 0 : channel;
        panel.setClickedChannel(channel);
        takeRequests();
        panel.sendRequestSensibility(9);
        panel.sendRequestCoupling(2);
        panel.sendRequestBwLimit(3);
        panel.sendRequestKalvex(4, 1);
        EXPECT_EQ(posted(), (Posts{{55 + n, 0, 9}, {15 + 2 * n, 0, 2}, {138 + n, 0, 3}, {166 + n, 4, 4}}));
        std::vector<float> floats;
        panel.sendRequestProbeCoeff(12.5f);
        EXPECT_EQ(posted(&floats), (Posts{{50 + n, 0, 0}}));
        EXPECT_EQ(floats, std::vector<float>{12.5f});
    }
    // The colour table; an index outside it posts nothing.
    for (int colour = 0; colour < 4; ++colour) {
        panel.sendRequestKalvex(-1, colour);
        const intptr_t palette[4] = {2, 4, 1, 5};
        EXPECT_EQ(posted(), (Posts{{166, -1, palette[colour]}}));
    }
    panel.sendRequestKalvex(0, -1);
    panel.sendRequestKalvex(0, 4);
    EXPECT_TRUE(posted().empty());
}

TEST_F(ScopePanelsTest, VerticalUnitBuffersAreCutOnACharacterAndKeptPerRequest)
{
    data.traceOnCh2 = 1;
    ScopeVertical panel;
    panel.setClickedChannel(1);
    takeRequests();
    panel.sendRequestMeasUnit(QStringLiteral("\u00b0C"));
    panel.sendRequestMeasUnit(QStringLiteral("\u00b5VA"));
    panel.sendRequestMeasUnit(QStringLiteral("A"));
    const Posts p = posted();
    ASSERT_EQ(p.size(), 3u);
    for (const TPosted& r : p)
        EXPECT_EQ(r.code, 43);
    // Three bytes at most, never half a character; the earlier buffers are left alone.
    EXPECT_EQ(textAt(p[0].value), "\xc2\xb0""C");
    EXPECT_EQ(textAt(p[1].value), "\xc2\xb5V");
    EXPECT_EQ(textAt(p[2].value), "A");
    EXPECT_NE(p[0].value, p[1].value);
    EXPECT_EQ(ScopeVertical::cutUtf8(QStringLiteral("\u03a9\u03a9"), 3), QByteArray("\xce\xa9"));
}

TEST_F(ScopePanelsTest, VerticalShowsTheChannelAndItsProbe)
{
    ASSERT_TRUE(installBoard());
    data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = 1;
    data.probeCoeffCh1 = 10.0f;
    std::memcpy(data.unitCh1, "V\0\0", 4);
    data.sensitivityCh1 = 7;
    data.couplingCh1 = 2;
    data.bwLimitCh1 = 1;
    data.traceColorCh1 = 5;
    ScopeVertical panel;
    panel.setClickedChannel(0);
    EXPECT_EQ(panel.sensIndex(), 7);
    EXPECT_EQ(panel.couplingIndex(), 2);
    EXPECT_EQ(panel.bwLimitIndex(), 1);
    EXPECT_EQ(panel.probeCoeff(), 10.0f);
    EXPECT_EQ(panel.color(), getZincColor(5));
    EXPECT_EQ(panel.kalvexColorIndex(), 3);
    const QStringList list = panel.getSensitivityList();
    ASSERT_EQ(list.size(), 16);
    EXPECT_EQ(list[8], QStringLiteral("10.0 V"));
    EXPECT_EQ(list[0], QStringLiteral("25.0 mV"));

    // The unit's stored forms of the ohm and degree signs.
    struct UnitCase {
        const char bytes[4];
        QString shown;
    } units[] = {{"{", QString(QChar(0x03a9))}, {"\xb0""C", QString(QChar(0x00b0)) + QLatin1Char('C')}, {"VA", "VA"}};
    for (const UnitCase& u : units) {
        std::memcpy(data.unitCh1, u.bytes, 4);
        panel.screenMajSlot(42);
        EXPECT_EQ(panel.unit(), u.shown);
    }
    for (int colour : {4, 1, 5, 2, 0, 9})
        EXPECT_EQ(ScopeVertical::colourIndexOf(colour), colour == 4 ? 1 : colour == 1 ? 2 : colour == 5 ? 3 : 0);

    // Buttons: no probe, an unreadable probe, a passive probe, an active probe.
    EXPECT_EQ(panel.isButtonSelectPossible(), 0);
    EXPECT_EQ(panel.kalvexButtonIndex(), -1);
    setSmartProbeLink(0, std::make_shared<TKalvex>(0));  // nothing plugged: the read fails
    EXPECT_EQ(panel.isButtonSelectPossible(), 0);
    linkProbe(0, 0x0005);
    EXPECT_EQ(panel.isButtonSelectPossible(), 0);
    simboard::TProbeDescription active = probeWithId(0x8001);
    active.second = 3;
    linkProbe(0, active);
    EXPECT_EQ(panel.isButtonSelectPossible(), 1);
    panel.screenMajSlot(0);
    EXPECT_EQ(panel.kalvexButtonIndex(), 3);
    active.second = 255;
    linkProbe(0, active);
    panel.screenMajSlot(0);
    EXPECT_EQ(panel.kalvexButtonIndex(), -1);
    // Another channel's probe is not this one's.
    panel.setClickedChannel(2);
    EXPECT_EQ(panel.isButtonSelectPossible(), 0);
    EXPECT_TRUE(posted().size() >= 1);
}

TEST_F(ScopePanelsTest, VerticalFollowsItsCodesWhileShownWithOneConnection)
{
    data.traceOnCh1 = 1;
    ScopeVertical panel;
    panel.setOpacity(0);
    panel.setClickedChannel(0);
    takeRequests();
    TSpy changed(&panel, &ScopeVertical::dataChanged);
    // Hidden: no notice reaches it.
    home_->screenMaj(55);
    QCoreApplication::processEvents();
    EXPECT_EQ(changed.count(), 0);
    // Shown, hidden, shown again, faded: one refresh per show, one connection.
    panel.setOpacity(1);
    panel.setOpacity(0);
    panel.setOpacity(1);
    panel.setOpacity(0.5);
    EXPECT_EQ(changed.count(), 2);
    changed.clear();
    std::vector<int> refreshing = {0, 14, 21, 27, 42, 45, 50, 53, 55, 58, 138, 141, 166, 169};
    for (int code : refreshing)
        home_->screenMaj(code);
    for (int code : {1, 13, 22, 26, 28, 41, 46, 49, 54, 59, 137, 142, 165, 170})
        home_->screenMaj(code);
    QCoreApplication::processEvents();
    EXPECT_EQ(changed.count(), static_cast<int>(refreshing.size()));
    EXPECT_TRUE(takeRequests().empty());
}

// ---------------------------------------------------------------------------------------------
// Math panel

TEST_F(ScopePanelsTest, MathSendsOnlyACompiledTextCutToItsBuffer)
{
    std::strcpy(data.mathExprCh3, "ch1*2");
    data.traceColorCh3 = 1;
    ScopeMath panel;
    std::vector<std::string> order;
    QObject::connect(&panel, &ScopeMath::titleChanged, [&] { order.push_back("title"); });
    QObject::connect(&panel, &ScopeMath::colorChanged, [&] { order.push_back("color"); });
    QObject::connect(&panel, &ScopeMath::dataChanged, [&] { order.push_back("data"); });
    QObject::connect(&panel, &ScopeMath::funcChanged, [&] { order.push_back("func"); });
    panel.setClicked(2);
    EXPECT_EQ(order, (std::vector<std::string>{"title", "color", "data", "func"}));
    EXPECT_EQ(panel.title(), QStringLiteral("Fonction mathematique F3"));
    EXPECT_EQ(panel.color(), getZincColor(1));
    EXPECT_EQ(panel.func(), QStringLiteral("ch1*2"));

    EXPECT_TRUE(panel.sendRequest(QStringLiteral("ch1-ch4")));
    Posts p = posted();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].code, 64);
    EXPECT_EQ(textAt(p[0].value), "ch1-ch4");
    EXPECT_EQ(p[1], (TPosted{68, 0, 1}));

    // Two requests in a row: each keeps its own text until the controller copies it.
    ASSERT_TRUE(panel.sendRequest(QStringLiteral("ch2")));
    ASSERT_TRUE(panel.sendRequest(QStringLiteral("ch3")));
    p = posted();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(textAt(p[0].value), "ch2");
    EXPECT_EQ(textAt(p[2].value), "ch3");

    EXPECT_FALSE(panel.sendRequest(QStringLiteral("ch1++ch2")));
    EXPECT_FALSE(panel.sendRequest(QStringLiteral("sin(")));
    EXPECT_TRUE(posted().empty());

    // 150 bytes: the first 99 are kept, terminated.
    std::string longText = "ch1";
    while (longText.size() < 99)
        longText += "+ch1";
    while (longText.size() < 150)
        longText += "+ch2";
    ASSERT_EQ(longText.substr(0, 99).size(), 99u);
    ASSERT_TRUE(panel.sendRequest(QString::fromStdString(longText)));
    p = posted();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(textAt(p[0].value), longText.substr(0, 99));
    // The earlier request's text is still there for the controller.
    EXPECT_EQ(panel.setupExpression(), QStringLiteral("ch1*2"));

    // An index outside 0..3 is function 1.
    panel.setClicked(9);
    EXPECT_EQ(panel.title(), QStringLiteral("Fonction mathematique F1"));
    ASSERT_TRUE(panel.sendRequest(QStringLiteral("-ch1")));
    p = posted();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].code, 62);
    EXPECT_EQ(p[1], (TPosted{66, 0, 1}));
}

// ---------------------------------------------------------------------------------------------
// Pass/fail panel

TEST_F(ScopePanelsTest, PassFailSettersSendOnlyADifference)
{
    data.passFailSource = 0;
    data.passFailXMask = 50;
    data.passFailYMask = 20;
    data.passFailDisplay = 0;
    data.passFailBeep = 0;
    data.passFailOn = 0;
    data.passFailRunStop = 0;
    data.passFailMaskIsMemory = 0;
    PassFail panel;
    EXPECT_FLOAT_EQ(panel.xMaskValue(), 0.5f);
    EXPECT_EQ(panel.counterValue(), QStringLiteral("-"));

    struct Case {
        std::function<void()> call;
        Posts expected;
    } cases[] = {
        {[&] { panel.sendRequestSource(0); }, {}},
        {[&] { panel.sendRequestSource(3); }, {{212, 0, 3}}},
        {[&] { panel.sendRequestXMask(0.505f); }, {}},
        {[&] { panel.sendRequestXMask(0.52f); }, {{213, 0, 52}}},
        {[&] { panel.sendRequestYMask(0.29f); }, {{214, 0, 29}}},
        {[&] { panel.sendRequestYMask(std::numeric_limits<float>::quiet_NaN()); }, {}},
        {[&] { panel.sendRequestDisplay(0); }, {}},
        {[&] { panel.sendRequestDisplay(2); }, {{215, 0, 2}}},
        {[&] { panel.sendRequestBeep(1); }, {{216, 0, 1}}},
        {[&] { panel.sendRequestOnOff(0); }, {}},
        {[&] { panel.sendRequestOnOff(1); }, {{219, 0, 1}}},
        {[&] { panel.sendRequestRunStop(1); }, {{218, 0, 1}}},
        {[&] { panel.sendRequestMaskIsMemory(0); }, {{220, 0, 0}}},
        {[&] { panel.sendRequestMaskIsMemory(1); }, {{220, 0, 1}}},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(i++);
        c.call();
        EXPECT_EQ(posted(), c.expected);
    }
    // Stored as sent, tolerances only when they moved by more than a hundredth.
    EXPECT_EQ(panel.sourceIndex(), 3);
    EXPECT_FLOAT_EQ(panel.xMaskValue(), 0.52f);
    EXPECT_FLOAT_EQ(panel.yMaskValue(), 0.29f);
    EXPECT_EQ(panel.maskIsMemory(), 1);

    int32_t hundredths = 0;
    for (auto [value, expected] : std::vector<std::pair<float, int32_t>>{{0.29f, 29}, {0.505f, 50}, {2.0f, 200}, {0.0f, 0}}) {
        ASSERT_TRUE(PassFail::toHundredths(value, &hundredths)) << value;
        EXPECT_EQ(hundredths, expected) << value;
    }
    EXPECT_FALSE(PassFail::toHundredths(std::nanf(""), &hundredths));
}

TEST_F(ScopePanelsTest, PassFailCounterAndNoticesWhileShown)
{
    data.passFailDisplay = 1;
    data.passFailOn = 1;
    TAcquisition::passFailCounter.raz();
    TAcquisition::passFailCounter.incPass();
    TAcquisition::passFailCounter.incFail();
    TAcquisition::passFailCounter.incFail();
    PassFail panel;
    panel.setOpacity(0);
    TSpy counter(&panel, &PassFail::counterValueChanged);
    TSpy changed(&panel, &PassFail::dataChanged);
    // Shown twice, then faded: one counter update per display refresh.
    panel.setOpacity(1);
    panel.setOpacity(0);
    panel.setOpacity(1);
    panel.setOpacity(0.7);
    EXPECT_EQ(panel.counterValue(), QStringLiteral("1 / 3"));
    counter.clear();
    emit home_->screenRefreshSignal();
    EXPECT_EQ(counter.count(), 1);
    data.passFailDisplay = 2;
    emit home_->screenRefreshSignal();
    EXPECT_EQ(panel.counterValue(), QStringLiteral("2 / 3"));

    changed.clear();
    data.passFailSource = 3;
    for (int code : {0, 212, 216, 220, 211, 221, 90})
        emit home_->screenMajSignal(code);
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(panel.sourceIndex(), 3);
    // Hidden: nothing more.
    panel.setOpacity(0);
    counter.clear();
    emit home_->screenRefreshSignal();
    EXPECT_EQ(counter.count(), 0);
    EXPECT_TRUE(takeRequests().empty());
    TAcquisition::passFailCounter.raz();
}

TEST_F(ScopePanelsTest, PassFailChannelsOfTheModel)
{
    ASSERT_TRUE(installBoard());
    PassFail panel;
    EXPECT_EQ(panel.getChannels(), 4);
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    EXPECT_EQ(panel.getChannels(), 2);
}

// ---------------------------------------------------------------------------------------------
// Smart-probe overview

simboard::TProbeDescription ratedProbe(const std::string& between)
{
    simboard::TProbeDescription d = probeWithId(0x1234);
    d.fields["input1"] = "1000 V CAT II";
    d.fields["input2"] = "600 V CAT III";
    d.fields["floating1"] = "300 V CAT II";
    d.fields["floating2"] = "30 V";
    d.fields["betweenChannels"] = between;
    d.fields["comment"] = "x10 probe";
    return d;
}

QStringList listOf(const KalvexOverview& o, int n)
{
    return n == 0 ? o.kalvexListCh1() : n == 1 ? o.kalvexListCh2() : n == 2 ? o.kalvexListCh3() : o.kalvexListCh4();
}

TEST_F(ScopePanelsTest, OverviewDefaultsAndColours)
{
    data.traceColorCh1 = 4;
    data.traceColorCh2 = 2;
    data.traceColorCh3 = 1;
    data.traceColorCh4 = 5;
    KalvexOverview overview;
    EXPECT_FALSE(overview.isVisible());
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(listOf(overview, n), (QStringList{QStringLiteral("CH%1").arg(n + 1), "600 V CAT III", "---",
                                                    "300 V CAT III", "---", "600 V CAT III", "---"}));
    EXPECT_EQ(overview.colorCh1(), QStringLiteral("#FF7F7F"));
    EXPECT_EQ(overview.colorCh2(), QStringLiteral("#7FFF7F"));
    EXPECT_EQ(overview.colorCh3(), QStringLiteral("#7F7FFF"));
    EXPECT_EQ(overview.colorCh4(), QStringLiteral("#FF7FFF"));

    long value = 0;
    struct Parse {
        const char* text;
        bool ok;
        long value;
    } parses[] = {{"300 V", true, 300}, {" +200 V", true, 200}, {"-5 V", true, -5}, {"CAT III 300 V", false, 0},
                  {"", false, 0},       {"- 5", false, 0},      {"99999999999999999999999 V", true, LONG_MAX}};
    for (const Parse& p : parses) {
        EXPECT_EQ(KalvexOverview::leadingInteger(QString::fromLatin1(p.text), &value), p.ok) << p.text;
        if (p.ok) {
            EXPECT_EQ(value, p.value) << p.text;
        }
    }
}

TEST_F(ScopePanelsTest, OverviewChoosesTheLowestBetweenChannelsRating)
{
    ASSERT_TRUE(installBoard());
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> probes;  // channel, between-channels rating
        std::vector<QString> entry5;                      // per channel
    } cases[] = {
        {"300 and 150", {{0, "300 V CAT II"}, {2, "150 V CAT IV"}},
         {"150 V CAT IV", "150 V CAT IV", "150 V CAT IV", "150 V CAT IV"}},
        {"sign and blanks", {{1, " +200 V"}, {3, "-5 V"}}, {"-5 V", "-5 V", "-5 V", "-5 V"}},
        {"not an integer first", {{0, "CAT III 300 V"}}, {"CAT III 300 V", "600 V CAT III", "600 V CAT III", "600 V CAT III"}},
        {"600 never", {{1, "600 V CAT III x"}, {2, "1000 V"}},
         {"600 V CAT III", "600 V CAT III x", "1000 V", "600 V CAT III"}},
        {"tie to the earlier", {{3, "150 V b"}, {1, "150 V a"}}, {"150 V a", "150 V a", "150 V a", "150 V a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unplugAllProbes();
        for (const auto& [channel, rating] : c.probes)
            linkProbe(channel, ratedProbe(rating));
        KalvexOverview overview;
        overview.displayKalvexSlot();
        for (int n = 0; n < 4; ++n) {
            const QStringList list = listOf(overview, n);
            ASSERT_EQ(list.size(), 7);
            EXPECT_EQ(list[5], c.entry5[n]) << "channel " << n + 1;
            const bool hasProbe = smartProbeLink(n) != nullptr;
            EXPECT_EQ(list[1], hasProbe ? QStringLiteral("1000 V CAT II") : QStringLiteral("600 V CAT III"));
            EXPECT_EQ(list[4], hasProbe ? QStringLiteral("30 V") : QStringLiteral("---"));
            EXPECT_EQ(list[6], hasProbe ? QStringLiteral("x10 probe") : QStringLiteral("---"));
        }
    }
}

TEST_F(ScopePanelsTest, OverviewShowsOnAProbeEventAndHidesOnTimerOrTouch)
{
    KalvexOverview overview;
    TSpy display(&overview, &KalvexOverview::kalvexListDisplay);
    // Not active yet: the notice passes it by.
    emit home_->displayKalvexSignal();
    EXPECT_FALSE(overview.isVisible());
    overview.setActive();
    home_->screenKalvex();
    QCoreApplication::processEvents();
    EXPECT_TRUE(overview.isVisible());
    EXPECT_EQ(display.count(), 1);
    EXPECT_TRUE(overview.timer().isActive());
    EXPECT_EQ(overview.timer().interval(), 10000);
    overview.timerSlot();
    EXPECT_FALSE(overview.isVisible());

    // A second event while shown starts the 10 s again.
    emit home_->displayKalvexSignal();
    QThread::msleep(300);
    const int left = overview.timer().remainingTime();
    EXPECT_LT(left, 9800);
    emit home_->displayKalvexSignal();
    EXPECT_GT(overview.timer().remainingTime(), left + 200);

    // A press anywhere hides it and is taken.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    press.setAccepted(false);
    QCoreApplication::sendEvent(&overview, &press);
    EXPECT_TRUE(press.isAccepted());
    EXPECT_FALSE(overview.isVisible());
    EXPECT_FALSE(overview.timer().isActive());
    EXPECT_EQ(overview.acceptedMouseButtons(), Qt::AllButtons);
}

} // namespace
