// The meter panel: which boxes exist for each function on both models, the readings it passes on
// to the traces, and what it inherits from the recorder (no file of its own).
#include "board/sim/simboard.h"
#include "network/user_int.h"
#include "tests/ui/support/logger_fixture.h"
#include "ui/traces/loggerchannel.h"
#include "ui/traces/loggerpowerchannel.h"
#include "ui/meter/meterpanel.h"
#include "ui/meter/metertoolpanel.h"

#include <cmath>

namespace {

class MeterPanelTest : public LoggerFixture {
protected:
    void adjustSetup() override
    {
        LoggerFixture::adjustSetup();
        data.instrumentMode = 128;
    }
};

int measurementsUnder(QObject& panel)
{
    return panel.findChildren<MeterMeasurement*>(QString(), Qt::FindDirectChildrenOnly).size();
}

} // namespace

TEST_F(MeterPanelTest, LayoutTableOnBothModels)
{
    struct Row {
        int function;
        uint16_t mask;
        std::vector<QPointF> boxes;  // channels 1-4, (-1, -1) for none
        bool powerBox;
        const char* icon;
    };
    const QPointF none(-1, -1);
    const Row rows[] = {
        {0, 0xF, {{5, 50}, {365, 50}, {5, 235}, {365, 235}}, false, ""},
        {0, 9, {{180, 50}, none, none, {180, 235}}, false, ""},
        {1, 0xF, {{5, 50}, {365, 50}, {5, 235}, {365, 235}}, false, "ch1_ohm.png"},
        {2, 0xF, {{170, 145}, none, none, none}, false, "ch1_continuity.png"},
        {4, 9, {{170, 145}, none, none, none}, false, "ch1_diode.png"},
        {8, 9, {{180, 3}, none, none, {180, 145}}, true, ""},
        {9, 0xF, {{5, 3}, {365, 3}, {5, 145}, {365, 145}}, true, ""},
        {16, 0xF, {{5, 50}, {365, 50}, {5, 235}, {365, 235}}, false, ""},
    };
    MeterPanel p;
    p.timer()->stop();
    for (const Row& r : rows) {
        data.meterFunction = static_cast<int16_t>(r.function);
        data.hwChannelMask = r.mask;
        // Twice: a new layout leaves no object of the old one.
        p.setLayout();
        p.setLayout();
        int boxes = 0;
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << "function " << r.function << " mask " << r.mask << " box " << i);
            ASSERT_EQ(p.box(i) != nullptr, r.boxes[i] != none);
            EXPECT_EQ(p.measurement(i) != nullptr, r.boxes[i] != none);
            if (!p.box(i))
                continue;
            ++boxes;
            EXPECT_EQ(p.box(i)->position(), r.boxes[i]);
            EXPECT_EQ(p.measurement(i)->channel(), i);
            EXPECT_EQ(qobject_cast<LoggerChannel*>(p.box(i)), nullptr);
        }
        EXPECT_EQ(p.measurement(0)->iconName(), QString::fromLatin1(r.icon));
        ASSERT_EQ(p.powerBox() != nullptr, r.powerBox);
        EXPECT_EQ(p.powerMeasurement() != nullptr, r.powerBox);
        if (r.powerBox) {
            EXPECT_EQ(p.powerBox()->position(), QPointF(5, 286));
            EXPECT_EQ(qobject_cast<LoggerPowerChannel*>(p.powerBox()), nullptr);
        }
        EXPECT_EQ(measurementsUnder(p), boxes + (r.powerBox ? 1 : 0));
    }
}

TEST_F(MeterPanelTest, RefreshPassesEachReadingToItsTrace)
{
    data.hwChannelMask = 9;
    data.meterFunction = 8;
    record(8) = powerRecord(1000.0);
    MeterPanel p;
    p.timer()->stop();
    p.setLayout();
    p.measurement(0)->setNumericValue(230.0f);
    p.measurement(3)->setNumericValue(std::nanf(""));
    trace(1)->setMeterMeasurement(MEASURE_PENDING, 7.0f);
    p.refreshSlot();
    EXPECT_EQ(trace(0)->measureStatus, MEASURE_VALID);
    EXPECT_FLOAT_EQ(trace(0)->measureValue, 230.0f);
    EXPECT_EQ(trace(3)->measureStatus, MEASURE_INVALID);
    // A channel without a box is left alone.
    EXPECT_EQ(trace(1)->measureStatus, MEASURE_PENDING);
    // The power trace gets the power box's reading.
    float active = 0.0f;
    const int status = p.powerMeasurement()->numericValue(&active);
    EXPECT_EQ(trace(4)->measureStatus, status);
    if (status == 0) {
        EXPECT_FLOAT_EQ(trace(4)->measureValue, active);
    }
    EXPECT_EQ(p.powerBox()->valueText(), p.powerMeasurement()->valueText());
}

TEST_F(MeterPanelTest, ClearsTheRemoteTextsAndWritesNoFile)
{
    to_g_meterRange[0] = "stale";
    auto p = makePanel<MeterPanel>();
    EXPECT_NE(to_g_meterRange[0], "stale");
    EXPECT_NE(::access(hostPath("/var/tmp/auto_off").c_str(), F_OK), 0);
    for (int i = 0; i < 700; ++i)
        tick(*p);
    p.reset();
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(::access(hostPath("/var/tmp/auto_off").c_str(), F_OK), 0);
}

TEST_F(MeterPanelTest, ThreePhaseWiringNeedsFourChannels)
{
    simboard::setPowerOnConfiguration(simboard::TPowerOn::Configured);
    std::string why;
    ASSERT_TRUE(simboard::install(&why)) << why;
    MeterToolPanel tools;
    EXPECT_TRUE(tools.is2wattmeterMeasAvailable());
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    EXPECT_FALSE(tools.is2wattmeterMeasAvailable());
}
