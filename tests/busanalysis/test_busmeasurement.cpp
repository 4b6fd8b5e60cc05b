// Bus measurements (reading, scaling, values, verdicts, texts) and the bus (global values,
// steps, quality figure).
#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "busanalysis/bus.h"
#include "busanalysis/busmeasfactory.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "tests/busanalysis/busxml.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kZero = 524256;  // level code of position 0

class BusMeasurementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedData = data;
        data = init_par;
        savedLinks = setupLinks();
        for (int i = 0; i < 4; ++i) {
            traces[i] = std::make_unique<TAcquisition>(i + 1);
            traces[i]->timeBase = 7;
            traces[i]->sensitivity = 5;
            traces[i]->probeCoeff = 1;
        }
        TSetupLinks& l = setupLinks();
        l.acqCh1 = traces[0].get();
        l.acqCh2 = traces[1].get();
        l.acqCh3 = traces[2].get();
        l.acqCh4 = traces[3].get();
        char empty[1] = {0};
        function2 = std::make_unique<TFonction>(2, empty);
        function3 = std::make_unique<TFonction>(3, empty);
        l.mathFunctionCh2 = function2.get();
        l.mathFunctionCh3 = function3.get();
        factory = std::make_unique<TBusMeasFactory>();
    }
    void TearDown() override
    {
        setupLinks() = savedLinks;
        data = savedData;
    }

    std::unique_ptr<TAcquisition> traces[4];
    std::unique_ptr<TFonction> function2, function3;
    std::unique_ptr<TBusMeasFactory> factory;
    database savedData;
    TSetupLinks savedLinks;
};

TEST_F(BusMeasurementTest, ReadsMeasureElementsAndTurnsTheWarningIntoABand)
{
    struct Case {
        const char* children;
        int result;
        int16_t id;
        float max, min, warning;
    } cases[] = {
        {"<NameMesure a=\"Vdiff Dom\" unit=\"V\"/>\n<IdMesure a=\"$1040\"/>\n<LimiteMax a=\"3.0\"/>\n"
         "<LimiteMin a=\"1.2\"/>\n<Warning a=\"10\"/>\n<NbMesuresMax a=\"10\"/>",
         0, 0x1040, 3.0f, 1.2f, 0.18f},
        {"<IdMesure a=\"16\"/>\n<LimiteMax a=\"3.12e-07\"/>\n<LimiteMin a=\"---\"/>\n<Warning a=\"10\"/>", 0, 0x10,
         3.12e-07f, FLT_MAX, 3.12e-08f},
        {"<IdMesure a=\"4256\"/>\n<LimiteMin a=\"0.5\"/>\n<Warning a=\"10\"/>", 0, 0x10A0, FLT_MAX, 0.5f, 0},
        {"<IdMesure a=\"$10A0\"/>\n<LimiteMax a=\"nan\"/>\n<LimiteMin a=\"inf\"/>\n<Warning a=\"10\"/>", 0, 0x10A0,
         FLT_MAX, FLT_MAX, 0},
        // An absent warning is no band, whatever the limits.
        {"<IdMesure a=\"1\"/>\n<LimiteMax a=\"3\"/>\n<LimiteMin a=\"1\"/>\n<Warning a=\"---\"/>", 0, 1, 3, 1, FLT_MAX},
        {"<IdMesure a=\"1\"/>\n<LimiteMax a=\"3e38\"/>\n<LimiteMin a=\"-3e38\"/>\n<Warning a=\"90\"/>", 0, 1, 3e38f,
         -3e38f, FLT_MAX},
        // A value that does not read ends the element; the ones before it stay.
        {"<IdMesure a=\"5\"/>\n<LimiteMax a=\"2\"/>\n<Warning a=\"50\"/>\n<NbMesuresMax a=\"x\"/>\n<LimiteMin a=\"1\"/>",
         -1, 5, 2, FLT_MAX, 1},
        {"<IdMesure a=\"$\"/>\n<LimiteMax a=\"2\"/>", -1, 0, FLT_MAX, FLT_MAX, FLT_MAX},
        {"<LimiteMax a=\"2\"/>\n<TempoCoupAC a=\"abc\"/>", -1, 0, 2, FLT_MAX, FLT_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.children);
        auto element = xmlElement(std::string("<MESURE>\n") + c.children + "\n</MESURE>");
        ASSERT_TRUE(element->valid);
        TBusMeasurement m;
        EXPECT_EQ(m.setParamsFromXml(element.get()), c.result);
        EXPECT_EQ(m.idmesure, c.id);
        EXPECT_FLOAT_EQ(m.limitemax, c.max);
        EXPECT_FLOAT_EQ(m.limitemin, c.min);
        EXPECT_FLOAT_EQ(m.warning, c.warning);
    }
    auto named = xmlElement("<MESURE>\n<NameMesure a=\"Time Rise\"/>\n<InfluenceMes a=\"3\"/>\n"
                            "<TempoCoupAC a=\"250\"/>\n<Variable2 a=\"-7\"/>\n</MESURE>");
    TBusMeasurement m;
    ASSERT_EQ(m.setParamsFromXml(named.get()), 0);
    EXPECT_EQ(m.name, "Time Rise");
    EXPECT_EQ(m.influencemes, 3.0f);
    EXPECT_EQ(m.tempocoupac, 250.0f);
    EXPECT_EQ(m.variable2, -7);
}

TEST_F(BusMeasurementTest, ChoosesTraceScaleAndLevelByChannel)
{
    traces[0]->position = -33;  // the worked example
    traces[0]->sensitivity = 5;
    traces[1]->sensitivity = 6;
    traces[3]->position = 100;
    traces[3]->fftPosition = -100.0;
    const double s5 = GetVerticalScale(traces[0].get(), SCALE_SCOPE, -1);
    const double s6 = GetVerticalScale(traces[1].get(), SCALE_SCOPE, -1);
    struct Case {
        int16_t channel;
        bool math2;
        int result;
        int32_t level;
        double scale;
    } cases[] = {
        {0, false, 0, 515607, s5},
        {1, false, 0, int32_t(kZero), s6},
        {1, true, 0, 515607, 2 * s5},
        {3, false, 0, 393216 + 157248, s5},
        {4, false, -1, 0, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        function2->defined = c.math2;
        factory->channel = c.channel;
        TBusMeasurement m;
        m.idmesure = 0x1040;
        EXPECT_EQ(m.setBusMeasFactory(factory.get()), c.result);
        EXPECT_EQ(m.levelCode, c.level);
        EXPECT_DOUBLE_EQ(m.scale, c.scale);
    }
    // The FFT position in FFT display; the centre code without a trace.
    data.traceFormat = 1;
    factory->channel = 3;
    TBusMeasurement fft;
    fft.idmesure = 0x4810;
    fft.setBusMeasFactory(factory.get());
    EXPECT_EQ(fft.levelCode, 393216 + 104832);
    data.traceFormat = 0;
    setupLinks().acqCh4 = nullptr;
    fft.setBusMeasFactory(factory.get());
    EXPECT_EQ(fft.levelCode, 0x7FFE0);
}

TEST_F(BusMeasurementTest, ScaleOffsetAndUnitByIdentifier)
{
    traces[0]->offset = 1000;
    factory->channel = 0;
    const double v = GetVerticalScale(traces[0].get(), SCALE_SCOPE, -1);
    const double off = GetVerticalOffset(traces[0].get(), SCALE_SCOPE);
    const double t = GetHorizontalScale(7);
    ASSERT_NE(off, 0);
    struct Case {
        int id;
        double scale, offset;
        const char* unit;
    } cases[] = {
        {0x10, t, 0, "s"},          {0x4103, t, 0, "s"},      {0x4021, t, 0, "s"},   {0x1020, v, 0, "V"},
        {0x4881, v, 0, "V"},        {0x1090, 0.1, 0, "%"},    {0x4101, 0.1, 0, "%"}, {0x4040, 1, 0, "%"},
        {0x4084, 1, 0, "%"},        {0x4810, 2 * v, 2 * off, "V"}, {0x4840, v / t, 0, "V/s"},
        {0x1040, v, off, "V"},      {0x4850, v, off, "V"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        TBusMeasurement m;
        m.idmesure = static_cast<int16_t>(c.id);
        m.setBusMeasFactory(factory.get());
        EXPECT_NEAR(m.scale, c.scale, std::fabs(c.scale) * 1e-6);
        EXPECT_NEAR(m.offset, c.offset, std::fabs(c.offset) * 1e-6);
        EXPECT_EQ(m.unit, c.unit);
    }
}

TEST_F(BusMeasurementTest, ValueOfEachIdentifier)
{
    constexpr int32_t kLevels = 0xF;
    auto record = [](int32_t flags) {
        TBusAutoMeas r{};
        r.flags = flags;
        r.maxCode = kZero + 1200;
        r.minCode = kZero - 300;
        r.topLevel = kZero + 1000;
        r.baseLevel = kZero - 200;
        r.midLevel = kZero + 400;
        r.mean = kZero + 77.9;
        r.rise10 = 100, r.rise90 = 160;
        r.rise55 = 130, r.rise95 = 170;
        r.fall90 = 300, r.fall10 = 390;
        r.fall45 = 340, r.fall5 = 395;
        r.afterFallLevel = kZero - 150;
        return r;
    };
    struct Case {
        int id;
        int32_t flags;
        bool value;
        double v;
    } cases[] = {
        {0x1000, MEAS_MIN_VALID, true, -300},
        {0x1000, 0, false, 0},
        {0x1010, MEAS_MAX_VALID, true, 1200},
        {0x1020, MEAS_MAX_VALID | MEAS_MIN_VALID, true, 1500},
        {0x1020, MEAS_MAX_VALID, false, 0},
        {0x1030, MEAS_BASE_VALID, true, -200},
        {0x1040, MEAS_TOP_VALID, true, 1000},
        {0x1050, MEAS_TOP_VALID | MEAS_BASE_VALID, true, 1200},
        {0x1080, MEAS_MAX_VALID | MEAS_MIN_VALID | 0x2000, true, 77},
        {0x1080, MEAS_MAX_VALID | MEAS_MIN_VALID, false, 0},
        {0x1090, kLevels, true, 200 * 1000 / 1200},
        {0x10A0, kLevels, true, 100 * 1000 / 1200},
        {0x10A0, MEAS_TOP_VALID | MEAS_BASE_VALID, false, 0},
        {0x4002, kLevels, true, 40},
        {0x4004, kLevels, true, 55},
        {0x4040, kLevels, true, 200 * 100 / 1500},
        {0x4100, MEAS_MAX_VALID | MEAS_TOP_VALID, true, 200 * 1000 / 1000},
        {0x4101, MEAS_MIN_VALID | MEAS_BASE_VALID, true, 100 * 1000 / 200},
        {0x4102, MEAS_RISE | MEAS_FALL, true, 60 - 90},
        {0x4102, MEAS_RISE, false, 0},
        {0x4103, MEAS_RISE | MEAS_FALL, true, 100 - 390},
        {0x4808, MEAS_MAX_VALID | MEAS_MIN_VALID, true, 450},
        {0x4850, MEAS_TOP_VALID | MEAS_BASE_VALID, true, 400},
        {0x4880, MEAS_TOP_VALID | MEAS_FALL, true, -1150},
        {0x4880, MEAS_TOP_VALID, false, 0},
        {0x4881, MEAS_MAX_VALID | MEAS_TOP_VALID, true, 200},
        {0x4882, MEAS_TOP_VALID | MEAS_BASE_VALID, true, -1200},
        {0x4820, MEAS_RISE, false, 0},  // the channel holds no data
        {0x1234, -1, false, 0},
    };
    factory->channel = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id << " flags " << c.flags);
        TBusMeasurement m;
        m.idmesure = static_cast<int16_t>(c.id);
        m.nbmesuresmax = 1;
        TBusAutoMeas r = record(c.flags);
        const int state = m.setBusMeasPixValues(factory.get(), &r);
        if (!c.value) {
            EXPECT_EQ(state, 4);
            EXPECT_EQ(m.values, 0);
            continue;
        }
        EXPECT_EQ(state, 1);
        EXPECT_EQ(m.minimum, c.v);
        EXPECT_EQ(m.maximum, c.v);
        EXPECT_EQ(m.sum, c.v);
    }
    // The slope of a rising edge from the channel's samples once the channel holds data.
    data.channelFlags = 1;
    for (uint32_t i = 0; i < 200; ++i)
        traces[0]->samples[i] = kZero + 10 * i;
    TBusMeasurement slope;
    slope.idmesure = 0x4820;
    slope.nbmesuresmax = 1;
    TBusAutoMeas r = record(MEAS_RISE);
    ASSERT_EQ(slope.setBusMeasPixValues(factory.get(), &r), 1);
    EXPECT_EQ(slope.maximum, 10);
    // Equal indices: 80 % of the amplitude; reversed ones: no value.
    r.rise90 = r.rise10;
    slope.init(), slope.idmesure = 0x4820, slope.nbmesuresmax = 1;
    ASSERT_EQ(slope.setBusMeasPixValues(factory.get(), &r), 1);
    EXPECT_EQ(slope.maximum, 1200 * 80 / 100);
    r.rise90 = r.rise10 - 1;
    slope.init(), slope.idmesure = 0x4820, slope.nbmesuresmax = 1;
    EXPECT_EQ(slope.setBusMeasPixValues(factory.get(), &r), 4);
}

TEST_F(BusMeasurementTest, GathersOverAcquisitionsAndRemovesTheOwnRiseTime)
{
    TBusMeasurement m;
    m.idmesure = 0x1040;
    m.nbmesuresmax = 3;
    m.limitemin = 900 * float(GetVerticalScale(traces[0].get(), SCALE_SCOPE, -1));
    m.limitemax = 1e9f;
    TBusAutoMeas r{};
    r.flags = MEAS_TOP_VALID;
    const uint32_t tops[] = {kZero + 1000, kZero + 1100, kZero + 1300};
    int states[3];
    for (int i = 0; i < 3; ++i) {
        r.topLevel = tops[i];
        states[i] = m.setBusMeasPixValues(factory.get(), &r);
    }
    EXPECT_EQ(states[0], 2);
    EXPECT_EQ(states[1], 2);
    EXPECT_EQ(states[2], 1);
    EXPECT_EQ(m.minimum, 1000);
    EXPECT_EQ(m.maximum, 1300);
    EXPECT_DOUBLE_EQ(m.sum, 3400.0 / 3);
    EXPECT_EQ(m.result, 1);

    // Rise time: the instrument's own 1.1667 ns removed; edges shorter than it give one sample,
    // never NaN.
    struct Case {
        double scale;
        uint32_t n;
        double v;
    } cases[] = {{1e-9, 1, 1}, {1e-11, 100, 1}, {1e-11, 116, 1}, {1e-11, 117, 8}, {1e-11, 200, 162}, {1e-9, 3000, 2999}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        TBusMeasurement rise;
        rise.idmesure = 0x10;
        rise.acquisitions = 1;  // scale kept as set here
        rise.scale = c.scale;
        TBusAutoMeas e{};
        e.flags = MEAS_RISE;
        e.rise10 = 1000;
        e.rise90 = 1000 + c.n;
        ASSERT_EQ(rise.setBusMeasPixValues(factory.get(), &e), 1);
        EXPECT_EQ(rise.maximum, c.v);
    }
}

TEST_F(BusMeasurementTest, VerdictDistanceAndText)
{
    struct Case {
        float min, max, warning;
        double value;
        int result;
        float distance;
    } cases[] = {
        {1.2f, 3.0f, 0.18f, 3.1, 2, 0.1f},
        {1.2f, 3.0f, 0.18f, 3.3, 4, 0.3f},
        {1.2f, 3.0f, 0.18f, 2.0, 1, 0},
        {1.2f, 3.0f, FLT_MAX, 3.1, 4, 0.1f},
        {1.2f, 3.0f, 0.18f, 1.1, 2, -0.1f},
        {FLT_MAX, 3.12e-07f, 3.12e-08f, 3.3e-07, 2, 1.8e-08f},
        {FLT_MAX, 3.12e-07f, 3.12e-08f, -1e-9, 2, -1e-9f},
        {FLT_MAX, 3.12e-07f, 3.12e-08f, -1e-7, 4, -1e-7f},
        {0.5f, FLT_MAX, 0, 0.5, 1, 0},
        {0.5f, FLT_MAX, 0, 0.6, 4, 0.1f},
        {-0.5f, FLT_MAX, 0, -0.2, 1, -0.2f},
        {FLT_MAX, FLT_MAX, FLT_MAX, 7, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << " " << c.max << " " << c.value);
        TBusMeasurement m;
        m.limitemin = c.min;
        m.limitemax = c.max;
        m.warning = c.warning;
        m.minimum = m.maximum = c.value;
        EXPECT_EQ(m.integrityCompute(), c.result);
        EXPECT_FLOAT_EQ(m.retained, float(c.value));
        EXPECT_NEAR(m.distance, c.distance, 1e-6 * std::max(1.0f, std::fabs(c.distance)) + 1e-12);
    }
    // The value farther from the centre is retained; ties keep the low one.
    TBusMeasurement spread;
    spread.limitemin = 1, spread.limitemax = 3;
    spread.minimum = 0.5, spread.maximum = 3.2;
    spread.integrityCompute();
    EXPECT_FLOAT_EQ(spread.retained, 0.5f);
    spread.minimum = 1, spread.maximum = 3;
    spread.integrityCompute();
    EXPECT_FLOAT_EQ(spread.retained, 1.0f);

    TBusMeasurement t;
    t.unit = "V";
    EXPECT_EQ(t.toString(FLT_MAX), "---");
    EXPECT_EQ(t.toString(3.5f), "3.500 V");
    EXPECT_EQ(t.toString(0.5f), "500.0 mV");
    t.unit = "s";
    EXPECT_EQ(t.toString(3.12e-07f), "312.0 ns");
    EXPECT_EQ(t.toString(2e-6f), "2.000 us");
    t.unit = "%";
    EXPECT_EQ(t.toString(12.34f), "12.3%");
    t.scale = 2, t.offset = 1;
    EXPECT_FLOAT_EQ(t.scaledValue(3), 7);
    EXPECT_EQ(t.scaledValue(FLT_MAX), FLT_MAX);
}

TEST_F(BusMeasurementTest, BusGlobalsStepsAndQuality)
{
    auto descriptor = xmlElement(
        "<FileBUs>\n<BUS>\n<TITLE a=\"CAN@HS@ISO\"/>\n<NbMesureMax a=\"3\"/>\n</BUS>\n"
        "<MESURE0>\n<MESURE>\n<IdMesure a=\"$1040\"/>\n</MESURE>\n<MESURE>\n<IdMesure a=\"$1030\"/>\n</MESURE>\n"
        "<SETUPMESURE>\n<IdVoie a=\"3\"/>\n</SETUPMESURE>\n</MESURE0>\n"
        "<MESURE1>\n<MESURE>\n<IdMesure a=\"$10\"/>\n</MESURE>\n<MESURE>\n<IdMesure a=\"bad\"/>\n</MESURE>\n</MESURE1>\n"
        "<MESURE2>\n<DIAG msg=\"msg1\"/>\n</MESURE2>\n</FileBUs>");
    ASSERT_TRUE(descriptor->valid);
    TBus bus;
    ASSERT_EQ(bus.readGlobalParamsFromXml(descriptor.get()), 0);
    EXPECT_EQ(bus.title, "CAN HS ISO");
    EXPECT_EQ(bus.nbmesuremax, 3);

    QList<TBusMeasurement*> list;
    EXPECT_EQ(bus.addStep(descriptor.get(), factory.get(), list), 0);
    EXPECT_EQ(list.size(), 2);
    EXPECT_EQ(bus.lastSlot, 1);
    EXPECT_EQ(factory->channel, 3);
    EXPECT_EQ(bus.getLastMeas(), &bus.measurementSlots[1]);
    // A measurement that does not read releases the step's slots; the step still counts.
    list.clear();
    EXPECT_EQ(bus.addStep(descriptor.get(), factory.get(), list), -1);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(bus.lastSlot, 1);
    EXPECT_EQ(bus.stepCount, 2);
    EXPECT_EQ(bus.addStep(descriptor.get(), factory.get(), list), -4);  // no MESURE child
    EXPECT_EQ(bus.stepCount, 3);
    EXPECT_EQ(bus.addStep(descriptor.get(), factory.get(), list), -5);  // no such step
    EXPECT_EQ(bus.stepCount, 4);
    bus.lastSlot = 15;
    EXPECT_EQ(bus.addStep(descriptor.get(), factory.get(), list), -4);  // no free slot: not counted
    EXPECT_EQ(bus.stepCount, 4);

    auto emptyTag = xmlElement("<FileBUs>\n<BUS>\n<TITLE a=\"x\"/>\n<>\n</BUS>\n</FileBUs>");
    if (emptyTag->valid) {
        EXPECT_EQ(bus.readGlobalParamsFromXml(emptyTag.get()), -1);
    }
    bus.initMeasurements();
    EXPECT_EQ(bus.title, "CAN HS ISO");
    EXPECT_EQ(bus.getLastMeas(), nullptr);

    // Quality: weights 1 and 3 passing, a warning of weight 1: 80.
    auto verdicts = [&bus](std::initializer_list<std::pair<int, float>> slots) {
        bus.initMeasurements();
        for (const auto& s : slots) {
            TBusMeasurement& m = bus.measurementSlots[++bus.lastSlot];
            m.state = s.first == 4 && s.second < 0 ? 4 : 1;
            m.result = s.first;
            m.influencemes = std::fabs(s.second);
        }
        bus.stepCount = bus.nbmesuremax;
        int percent = -99;
        const int r = bus.computeBusIntegrity(&percent);
        return r == 0 ? percent : -1000 + r;
    };
    EXPECT_EQ(verdicts({{1, 1}, {1, 3}, {2, 1}}), 80);
    EXPECT_EQ(verdicts({{1, 1}, {4, 1}, {1, 1}}), 0);
    EXPECT_EQ(verdicts({{1, 1}, {0, 1}}), 100);
    EXPECT_EQ(verdicts({{0, 1}}), 0);
    EXPECT_EQ(verdicts({{1, 1}, {4, -1}}), -1001);  // a slot without value
    bus.stepCount = 1;
    int untouched = 42;
    EXPECT_EQ(bus.computeBusIntegrity(&untouched), 0);
    EXPECT_EQ(untouched, 42);
}

} // namespace
