// Trigger panel: the request each invokable posts (with the channel column of the trigger and of
// the qualifier source), the tick and level conversions, the recomputation on controller notices
// and the model's channel count.
// Before any Qt header: the scenario has a member named like Qt's "signals" keyword.
#include "board/sim/simboard.h"

#include "tests/ui/support/homescreen.h"

#include "acquisition/TAcquisition.h"
#include "core/scale.h"
#include "ui/traces/scopetrigger.h"

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr intptr_t kMax = std::numeric_limits<int32_t>::max();
constexpr intptr_t kMin = std::numeric_limits<int32_t>::min();

// Counts the emissions of one signal of the panel.
struct TCount {
    template <typename Signal>
    TCount(ScopeTrigger* panel, Signal signal)
    {
        QObject::connect(panel, signal, &context, [this] { ++value; });
    }
    int count() const { return value; }
    void clear() { value = 0; }
    int value = 0;
    QObject context;
};
} // namespace

class ScopeTriggerTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        home_ = std::make_unique<HomeView>();
        po_g_homeView = home_.get();
        for (int i = 0; i < 4; ++i) {
            traces_[i] = new TAcquisition(static_cast<unsigned short>(1u << i));
            setSetupLink(param::acqCh1 + i, traces_[i]);
        }
        panel_ = std::make_unique<ScopeTrigger>();
        takeRequests();
    }
    void TearDown() override
    {
        panel_.reset();
        for (int i = 0; i < 4; ++i) {
            setSetupLink(param::acqCh1 + i, nullptr);
            delete traces_[i];
        }
        po_g_homeView = nullptr;
        home_.reset();
        SimBoardTest::TearDown();
    }

    // The panel's level scale of channel column `column` with the setup's sensitivity.
    double scaleOf(int column)
    {
        const short s = static_cast<short>(get_db(adr_par, type_par, &data, param::sensitivityCh1 + column));
        return static_cast<double>(GetVerticalScale(traces_[column], SCALE_SCOPE, s) * 262.0f);
    }

    std::unique_ptr<HomeView> home_;
    TAcquisition* traces_[4] = {};
    std::unique_ptr<ScopeTrigger> panel_;
};

TEST_F(ScopeTriggerTest, StartsEmptyWithInfiniteValuesAndNoConnection)
{
    const char* names[] = {"title", "tsourceIndex", "tcouplingIndex", "tedgeIndex", "tnoiserejectValue",
                           "tlevelValue", "tmaxlevelValue", "holdoffValue", "maxholdoffValue", "minholdoffValue",
                           "selectIndex", "qsourceIndex", "qcouplingIndex", "qedgeIndex", "qnoiserejectValue",
                           "qlevelValue", "qmaxlevelValue", "pulseIndex", "t1Value", "t1maxValue", "t1minValue",
                           "t2Value", "delayValue", "delaymaxValue", "delayminValue", "countValue", "countmaxValue",
                           "countminValue"};
    const QMetaObject* meta = panel_->metaObject();
    const int first = meta->propertyOffset();
    ASSERT_EQ(meta->propertyCount() - first, 28);
    for (int i = 0; i < 28; ++i) {
        SCOPED_TRACE(names[i]);
        const QMetaProperty p = meta->property(first + i);
        EXPECT_STREQ(p.name(), names[i]);
        const QVariant v = p.read(panel_.get());
        const QString name = QString::fromLatin1(names[i]);
        if (i == 0)
            EXPECT_TRUE(v.toString().isEmpty());
        else if (name.endsWith(QLatin1String("Index")))
            EXPECT_EQ(v.toInt(), -1);
        else if (p.type() == QVariant::Bool)
            EXPECT_FALSE(v.toBool());
        else if (name == QLatin1String("minholdoffValue") || name.endsWith(QLatin1String("minValue")))
            EXPECT_EQ(v.toDouble(), -kInf);
        else
            EXPECT_EQ(v.toDouble(), kInf);
    }
    // Hidden panels hear no notices: opacity 0 at creation connects nothing.
    panel_->setOpacity(0);
    data.trigType = 2;
    home_->screenMaj(param::trigType);
    processEventsFor(30);
    EXPECT_EQ(panel_->selectIndex(), -1);
    panel_->setOpacity(1);
    panel_->setOpacity(0.5);  // a fade: still one connection
    TCount types(panel_.get(), &ScopeTrigger::triggerTypeChanged);
    home_->screenMaj(param::trigType);
    processEventsFor(30);
    EXPECT_EQ(panel_->selectIndex(), 2);
    EXPECT_EQ(types.count(), 1);
    panel_->setOpacity(0);
    data.trigType = 3;
    home_->screenMaj(param::trigType);
    processEventsFor(30);
    EXPECT_EQ(panel_->selectIndex(), 2);
    EXPECT_TRUE(takeRequests().empty());
}

// Every invokable, for sources that pick each column and for the line / external sources (4, 5)
// and the unset -1, which use channel 1's column.
TEST_F(ScopeTriggerTest, EachInvokablePostsItsCodeWithTheChannelColumn)
{
    ScopeTrigger& p = *panel_;
    struct Case {
        const char* name;
        std::function<void()> call;
        int code;          // code for column 0
        bool perTrigger;   // + the trigger channel's column
        bool perQualif;    // + the qualifier channel's column
        intptr_t value;
    } cases[] = {
        {"select", [&] { p.sendRequestSelect(2); }, 180, false, false, 2},
        {"trigCoupling", [&] { p.sendRequestTrigCoupling(3); }, 181, true, false, 3},
        {"trigEdge", [&] { p.sendRequestTrigEdge(1); }, 185, true, false, 1},
        {"trigNoiseReject", [&] { p.sendRequestTrigNoiseReject(true); }, 189, true, false, 1},
        {"trigNoiseRejectOff", [&] { p.sendRequestTrigNoiseReject(false); }, 189, true, false, 0},
        {"holdoff", [&] { p.sendRequestHoldoff(6.4e-8); }, 32, false, false, 8},
        {"qualifCoupling", [&] { p.sendRequestQualifCoupling(2); }, 181, false, true, 2},
        {"qualifEdge", [&] { p.sendRequestQualifEdge(0); }, 185, false, true, 0},
        {"qualifNoiseReject", [&] { p.sendRequestQualifNoiseReject(true); }, 189, false, true, 1},
        {"pulseType", [&] { p.sendRequestPulseType(3); }, 179, false, false, 3},
        {"pulseT1", [&] { p.sendRequestPulseT1(1e-6); }, 177, false, false, 125},
        {"pulseT2", [&] { p.sendRequestPulseT2(2e-6); }, 194, false, false, 250},
        {"delay", [&] { p.sendRequestDelay(20.0); }, 175, false, false, kMax},
        {"count", [&] { p.sendRequestCount(17.9); }, 176, false, false, 17},
    };
    const int sources[][2] = {{0, 3}, {1, 2}, {2, 1}, {3, 0}, {4, 5}, {-1, 7}};
    for (const auto& src : sources) {
        data.trigSource = static_cast<int16_t>(src[0]);
        data.qualifSource = static_cast<int16_t>(src[1]);
        p.setClicked();
        const int tcol = src[0] >= 1 && src[0] <= 3 ? src[0] : 0;
        const int qcol = src[1] >= 1 && src[1] <= 3 ? src[1] : 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " sources " + std::to_string(src[0]) + "/" + std::to_string(src[1]));
            c.call();
            const auto posted = takeRequests();
            ASSERT_EQ(posted.size(), 1u);
            EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
            EXPECT_EQ(posted[0].code, c.code + (c.perTrigger ? tcol : 0) + (c.perQualif ? qcol : 0));
            EXPECT_EQ(posted[0].auxValue, 0);
            EXPECT_EQ(posted[0].intValue, c.value);
            EXPECT_EQ(posted[0].floatValue, 0.0f);
            EXPECT_EQ(posted[0].senderId, 0);
        }
        // Levels: volts over the column's scale.
        p.sendRequestTrigLevel(scaleOf(tcol) * 120);
        p.sendRequestQualifLevel(-scaleOf(qcol) * 40);
        const auto levels = takeRequests();
        ASSERT_EQ(levels.size(), 2u);
        EXPECT_EQ(levels[0].code, 113 + tcol);
        EXPECT_EQ(levels[0].intValue, 120);
        EXPECT_EQ(levels[1].code, 113 + qcol);
        EXPECT_EQ(levels[1].intValue, -40);
    }
}

TEST_F(ScopeTriggerTest, SourceChangesPostAndRecomputeAtOnce)
{
    data.trigLevelCh1 = 10;
    data.trigLevelCh3 = 30;
    data.trigSource = 0;
    data.qualifSource = 0;
    panel_->setClicked();
    takeRequests();
    TCount changed(panel_.get(), &ScopeTrigger::dataChanged);

    // The controller has not applied it yet: the panel shows the new column already.
    panel_->sendRequestTrigSource(2);
    EXPECT_EQ(panel_->tsourceIndex(), 2);
    EXPECT_DOUBLE_EQ(panel_->tlevelValue(), scaleOf(2) * 30);
    panel_->sendRequestQualifSource(5);
    EXPECT_EQ(panel_->qsourceIndex(), 5);
    EXPECT_DOUBLE_EQ(panel_->qlevelValue(), scaleOf(0) * 10);
    EXPECT_EQ(changed.count(), 2);
    const auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].code, 112);
    EXPECT_EQ(posted[0].intValue, 2);
    EXPECT_EQ(posted[1].code, 174);
    EXPECT_EQ(posted[1].intValue, 5);
}

// Typed decimal times are rarely exact in binary: 1 µs / 8 ns is 124.99999999999999.
TEST_F(ScopeTriggerTest, TickConversionTakesNearIntegersAndSaturates)
{
    struct Case {
        double seconds;
        intptr_t ticks;
    } cases[] = {
        {1e-6, 125},        {2e-6, 250},  {1.2e-8, 1},        {6.4e-8, 8},       {1.6e-8, 2},
        {4.8e-8, 6},        {0.0, 0},     {7.9e-9, 0},        {1e-3, 125000},    {17.18e0, kMax},
        {20.0, kMax},       {kInf, kMax}, {-1e-6, -125},      {-20.0, kMin},     {-kInf, kMin},
        {17.179869176, 2147483647},       {17.179869168, 2147483646},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        panel_->sendRequestDelay(c.seconds);
        const auto posted = takeRequests();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].code, 175);
        EXPECT_EQ(posted[0].intValue, c.ticks);
    }
    int32_t out = 99;
    EXPECT_FALSE(ScopeTrigger::toRequestValue(std::nan(""), &out));
    EXPECT_EQ(out, 99);
    EXPECT_TRUE(ScopeTrigger::toRequestValue(124.99999999999999, &out));
    EXPECT_EQ(out, 125);
    EXPECT_TRUE(ScopeTrigger::toRequestValue(124.9999, &out));
    EXPECT_EQ(out, 124);
}

// A zero scale: 0 / 0 has no value and posts nothing, anything else saturates. Before the first
// recomputation there is no scale at all.
TEST_F(ScopeTriggerTest, LevelWithoutUsableScale)
{
    panel_->sendRequestTrigLevel(1.0);
    panel_->sendRequestQualifLevel(0.0);
    EXPECT_TRUE(takeRequests().empty());

    traces_[1]->probeCoeff = 0.0f;
    data.trigSource = 1;
    data.qualifSource = 1;
    panel_->setClicked();
    EXPECT_EQ(panel_->triggerScale(), 0.0);
    panel_->sendRequestTrigLevel(0.0);
    panel_->sendRequestQualifLevel(0.0);
    EXPECT_TRUE(takeRequests().empty());
    panel_->sendRequestTrigLevel(0.5);
    panel_->sendRequestQualifLevel(-0.5);
    const auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].code, 114);
    EXPECT_EQ(posted[0].intValue, kMax);
    EXPECT_EQ(posted[1].intValue, kMin);
}

TEST_F(ScopeTriggerTest, RecomputationReadsTheSourceColumnsAndTheBounds)
{
    data.trigType = 1;
    data.trigSource = 2;
    data.qualifSource = 6;  // external: channel 1's column
    data.trigCouplingCh3 = 3;
    data.trigEdgeCh3 = 1;
    data.noiseRejectCh3 = 1;
    data.trigLevelCh3 = -250;
    data.sensitivityCh3 = 4;
    traces_[2]->probeCoeff = 10.0f;
    data.trigCouplingCh1 = 2;
    data.trigEdgeCh1 = 0;
    data.noiseRejectCh1 = 0;
    data.trigLevelCh1 = 77;
    data.trigHoldoff = 12500;
    data.pulseType = 2;
    data.pulseT1 = 125;
    data.pulseT2 = -1;  // read unsigned
    data.trigDelay = 0xFFFFFFFFu;
    data.eventCount = 42;
    TCount title(panel_.get(), &ScopeTrigger::titleChanged);
    TCount types(panel_.get(), &ScopeTrigger::triggerTypeChanged);
    panel_->setClicked();
    EXPECT_EQ(title.count(), 1);
    EXPECT_EQ(types.count(), 1);

    const ScopeTrigger& p = *panel_;
    EXPECT_EQ(p.title(), QStringLiteral("Parametres de declenchement"));
    EXPECT_EQ(p.selectIndex(), 1);
    EXPECT_EQ(p.tsourceIndex(), 2);
    EXPECT_EQ(p.tcouplingIndex(), 3);
    EXPECT_EQ(p.tedgeIndex(), 1);
    EXPECT_TRUE(p.tnoiserejectValue());
    const double tscale = static_cast<double>(coeffScope[4] * 10.0f * 262.0f);
    EXPECT_DOUBLE_EQ(p.triggerScale(), tscale);
    EXPECT_DOUBLE_EQ(p.tlevelValue(), tscale * -250);
    EXPECT_DOUBLE_EQ(p.tmaxlevelValue(), tscale * max_par.trigLevelCh3);
    EXPECT_DOUBLE_EQ(p.holdoffValue(), 12500 * 8e-9);
    EXPECT_DOUBLE_EQ(p.maxholdoffValue(), static_cast<uint32_t>(max_par.trigHoldoff) * 8e-9);
    EXPECT_DOUBLE_EQ(p.minholdoffValue(), 6.4e-8);
    EXPECT_EQ(p.qsourceIndex(), 6);
    EXPECT_EQ(p.qcouplingIndex(), 2);
    EXPECT_EQ(p.qedgeIndex(), 0);
    EXPECT_FALSE(p.qnoiserejectValue());
    EXPECT_DOUBLE_EQ(p.qlevelValue(), scaleOf(0) * 77);
    EXPECT_DOUBLE_EQ(p.qmaxlevelValue(), scaleOf(0) * max_par.trigLevelCh1);
    EXPECT_EQ(p.pulseIndex(), 2);
    EXPECT_DOUBLE_EQ(p.t1Value(), 1e-6);
    EXPECT_DOUBLE_EQ(p.t1maxValue(), static_cast<uint32_t>(max_par.pulseT1) * 8e-9);
    EXPECT_DOUBLE_EQ(p.t1minValue(), 1.6e-8);
    EXPECT_DOUBLE_EQ(p.t2Value(), 4294967295.0 * 8e-9);
    EXPECT_DOUBLE_EQ(p.delayValue(), 4294967295.0 * 8e-9);
    EXPECT_DOUBLE_EQ(p.delaymaxValue(), static_cast<double>(max_par.trigDelay) * 8e-9);
    EXPECT_DOUBLE_EQ(p.delayminValue(), 4.8e-8);
    EXPECT_DOUBLE_EQ(p.countValue(), 42);
    EXPECT_DOUBLE_EQ(p.countmaxValue(), static_cast<uint32_t>(max_par.eventCount));
    EXPECT_DOUBLE_EQ(p.countminValue(), 3);
}

// Which notices recompute, and which signal each one gives.
TEST_F(ScopeTriggerTest, NoticesRecomputeOnTheirCodesOnly)
{
    data.trigSource = 1;
    data.qualifSource = 1;
    panel_->setClicked();
    TCount changed(panel_.get(), &ScopeTrigger::dataChanged);
    TCount types(panel_.get(), &ScopeTrigger::triggerTypeChanged);

    std::vector<int> dataCodes = {32, 175, 176, 177, 178, 179, 194};
    for (int c = 113; c <= 116; ++c)
        dataCodes.push_back(c);
    for (int c = 181; c <= 192; ++c)
        dataCodes.push_back(c);
    int level = 1;
    for (int code : dataCodes) {
        SCOPED_TRACE(code);
        data.trigLevelCh2 = static_cast<int16_t>(++level);
        changed.clear();
        types.clear();
        panel_->screenMajSlot(code);
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(types.count(), 0);
        EXPECT_DOUBLE_EQ(panel_->tlevelValue(), scaleOf(1) * level);
    }
    for (int code : {27, 180}) {
        SCOPED_TRACE(code);
        data.trigType = static_cast<int16_t>(code == 27 ? 3 : 2);
        changed.clear();
        types.clear();
        panel_->screenMajSlot(code);
        EXPECT_EQ(changed.count(), 0);
        EXPECT_EQ(types.count(), 1);
        EXPECT_EQ(panel_->selectIndex(), data.trigType);
    }
    changed.clear();
    data.trigSource = 3;
    panel_->screenMajSlot(112);
    EXPECT_EQ(panel_->tsourceIndex(), 3);
    data.qualifSource = 0;
    panel_->screenMajSlot(174);
    EXPECT_EQ(panel_->qsourceIndex(), 0);
    EXPECT_EQ(changed.count(), 2);

    // Anything else leaves the panel as it is.
    changed.clear();
    types.clear();
    const double before = panel_->tlevelValue();
    data.trigLevelCh4 = 999;
    data.trigType = 0;
    data.trigSource = 0;
    for (int code : {0, 1, 29, 31, 33, 111, 117, 173, 193, 195, 221}) {
        panel_->screenMajSlot(code);
    }
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(types.count(), 0);
    EXPECT_EQ(panel_->tlevelValue(), before);
    EXPECT_EQ(panel_->tsourceIndex(), 3);
    EXPECT_EQ(panel_->selectIndex(), 2);
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(ScopeTriggerTest, ChannelCountFollowsTheModel)
{
    ASSERT_TRUE(simboard::install());
    EXPECT_EQ(panel_->getChannels(), 4);
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    EXPECT_EQ(panel_->getChannels(), 2);
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 4; });
    EXPECT_EQ(panel_->getChannels(), 4);
    simboard::uninstall();
}
