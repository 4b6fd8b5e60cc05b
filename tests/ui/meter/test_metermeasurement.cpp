// The meter's reading model: the quantity chosen per function, channel and coupling; values and
// statuses read from measurement records; the refresh with smoothing, zero suppression, the
// statistics texts and their sentinels; which parameters reset the statistics.
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "tests/ui/support/meter_fixture.h"

#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>

namespace {

class MeterMeasurementTest : public MeterFixture {
protected:
    void setCoupling(int channel, int16_t code)
    {
        int16_t* const couplings[4] = {&data.meterCouplingCh1, &data.meterCouplingCh2, &data.meterCouplingCh3,
                                       &data.meterCouplingCh4};
        *couplings[channel] = code;
    }
    // Channel 1 on DC with a half range of 2 V and 1 mV a code, as example readings need.
    void dcOnChannel1(TMeterMeasurement& m)
    {
        setCoupling(0, 1);
        m.setIdentifier(0);
        ASSERT_EQ(m.identifier(), MeterMeasurement::MEAS_METER_DC);
        m.halfRange_ = 2.0;
        m.scale_ = 1e-3;
        m.offset_ = 0.0;
        m.rangeFlag_ = false;
    }
    // One refresh on a DC reading of `volts` at 1 mV a code.
    void readVolts(TMeterMeasurement& m, double volts, mesures r = dcRecord(0))
    {
        r.mean = kCentre + volts * 1000.0;
        record(0) = r;
        m.screenRefreshSlot();
    }
};

} // namespace

TEST_F(MeterMeasurementTest, QuantityAndIconFollowFunctionChannelAndCoupling)
{
    const struct {
        int function, channel;
        int16_t coupling;
        uint16_t identifier;
        const char* icon;
        const char* value;
        const char* couplingText;  // nullptr: not checked
    } rows[] = {
        {0, 0, 1, 0x3020, "", "-----", "DC"},
        {0, 0, 0, 0x3030, "", "-----", "AC"},
        {0, 0, 2, 0x3040, "", "-----", "AC+DC"},
        {0, 1, 4, 0x3030, "", "-----", "AC <5 kHz"},
        {0, 2, 9, 0x3020, "", "-----", ""},
        {0, 3, 10, 0x3040, "", "-----", "AC+DC <625 Hz"},
        {1, 0, 1, 0x3060, "ch1_ohm.png", "-----", ""},
        {2, 0, 1, 0x3060, "ch1_continuity.png", "-----", ""},
        {3, 0, 1, 0x3070, "ch1_capa.png", "-run-", ""},
        {4, 0, 1, 0x3080, "ch1_diode.png", "-----", ""},
        // The other channels measure voltage beside channel 1's own functions.
        {1, 1, 1, 0x3020, "", "-----", "DC"},
        {3, 3, 0, 0x3030, "", "-----", "AC"},
        {16, 0, 1, 0x3030, "", "-----", nullptr},
        {16, 2, 1, 0x3030, "", "-----", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "function " << row.function << " channel " << row.channel
                                        << " coupling " << row.coupling);
        data.meterFunction = static_cast<int16_t>(row.function);
        setCoupling(row.channel, row.coupling);
        MeterMeasurement m;
        m.setIdentifier(row.channel);
        EXPECT_EQ(m.identifier(), row.identifier);
        EXPECT_EQ(m.iconName().toStdString(), row.icon);
        EXPECT_EQ(m.valueText().toStdString(), row.value);
        if (row.couplingText) {
            EXPECT_EQ(m.couplingText().toStdString(), row.couplingText);
        }
        EXPECT_EQ(m.title().toStdString(), "CH" + std::to_string(row.channel + 1));
        EXPECT_EQ(m.acquisition(), trace(row.channel));
    }

    // Any other channel number takes channel 1's trace.
    MeterMeasurement other;
    other.setIdentifier(7);
    EXPECT_EQ(other.acquisition(), trace(0));
    // The range text: half the span with the unit.
    MeterMeasurement dc;
    setCoupling(0, 1);
    data.meterFunction = 0;
    dc.setIdentifier(0);
    double span = 0.0;
    trace(0)->GetMMRange(&span, nullptr, nullptr);
    EXPECT_DOUBLE_EQ(dc.halfRange(), span / 2);
    EXPECT_EQ(dc.rangeText(), ScopePrintf(3, span / 2) + QStringLiteral("V"));
}

TEST_F(MeterMeasurementTest, RecordsGiveStatusAndValue)
{
    const auto rec = [](int32_t flags, uint8_t overrange = 0) {
        mesures m{};
        m.flags = flags;
        m.overrange = overrange;
        return m;
    };
    const auto withA = [](mesures m, double mean, double meanSquare) {
        m.mean = mean;
        m.meanSquare = meanSquare;
        return m;
    };
    const auto withB = [](mesures m, double mean, double meanSquare) {
        m.meanPeriods = mean;
        m.meanSquarePeriods = meanSquare;
        return m;
    };
    const auto withPeriods = [](mesures m, uint16_t periods) {
        m.periodCount = periods;
        return m;
    };
    const auto withCapa = [](mesures m, double c) {
        m.capaValue = c;
        return m;
    };
    const double c = kCentre;
    const struct {
        const char* what;
        uint16_t id;
        mesures record;
        double scale, offset;
        int status;
        double value;
    } rows[] = {
        {"DC", 0x3020, withA(rec(0x2003), c + 10, 0), 2.0, 0.5, 0, 20.5},
        {"DC without bit 0x1", 0x3020, withA(rec(0x2002), c + 10, 0), 2.0, 0.5, 1, 0},
        {"DC, no data", 0x3020, withA(rec(0), c + 10, 0), 2.0, 0.5, 2, 0},
        {"DC, overrange", 0x3020, withA(rec(0, 1), c + 10, 0), 2.0, 0.5, 1, 0},
        // A periodic signal: the mean of its whole periods, not of a window that cuts one.
        {"DC over whole periods", 0x3020, withPeriods(withB(withA(rec(0x3403), c + 10, 0), c + 12, 0), 3), 2.0, 0.5,
         0, 24.5},
        {"DC, falling edges framed", 0x3020, withPeriods(withB(withA(rec(0x3803), c + 10, 0), c + 12, 0), 3), 2.0,
         0.5, 0, 24.5},
        {"DC, no period counted", 0x3020, withPeriods(withB(withA(rec(0x3403), c + 10, 0), c + 12, 0), 0), 2.0, 0.5,
         0, 20.5},
        {"diode as DC", 0x3080, withA(rec(0x2003), c - 10, 0), 2.0, 0.5, 0, -19.5},
        {"resistance", 0x3060, withA(rec(0x2000), c + 100, 0), 0.5, 0.0, 0, 50},
        {"resistance without 0x2000", 0x3060, withA(rec(0x1fff), c + 100, 0), 0.5, 0.0, 1, 0},
        // AC: r = sqrt(q - m^2) with m the mean of set B about the centre, then 3.5 mV off
        // quadratically.
        {"AC above the floor", 0x3030, withB(rec(0x300c), c, 1.6e-5), 1.0, 0.0, 0, std::sqrt(1.6e-5 - 1.225e-5)},
        {"AC below the floor", 0x3030, withB(rec(0x300c), c, 0.9e-5), 1.0, 0.0, 0, 0},
        {"AC with q under m^2", 0x3030, withB(rec(0x300c), c + 1, 0.5), 1.0, 0.0, 0, 0},
        {"AC, scaled", 0x3030, withB(rec(0x300c), c + 3, 25), 0.01, 0.0, 0, std::sqrt(0.04 * 0.04 - 1.225e-5)},
        {"AC without 0x4", 0x3030, withB(rec(0x3008), c, 1.0), 1.0, 0.0, 1, 0},
        {"AC+DC from set B (0x3403)", 0x3040, withB(withA(rec(0x3403), 0, 4.0), 0, 9.0), 0.01, 0.0, 0,
         std::sqrt(0.03 * 0.03 - 1.225e-5)},
        {"AC+DC from set B (0x3803)", 0x3040, withB(withA(rec(0x3803), 0, 4.0), 0, 9.0), 0.01, 0.0, 0,
         std::sqrt(0.03 * 0.03 - 1.225e-5)},
        {"AC+DC from set A", 0x3040, withB(withA(rec(0x3003), 0, 4.0), 0, 9.0), 0.01, 0.0, 0,
         std::sqrt(0.02 * 0.02 - 1.225e-5)},
        {"AC+DC just under the floor", 0x3040, withA(rec(0x3003), 0, 1.2e-5), 1.0, 0.0, 0, 0},
        {"AC+DC without a set", 0x3040, withA(rec(0x3000), 0, 4.0), 0.01, 0.0, 1, 0},
        // Capacitance: scale over minus the result, plus offset, less the path's 200 pF.
        {"capacitance", 0x3070, withCapa(rec(0x10000000), -2.0), 1e-6, 1e-9, 0, 1e-6 / 2.0 + 1e-9 - 2e-10},
        {"capacitance of a zero result", 0x3070, withCapa(rec(0x10000000), 0.0), 1e-6, 0.0, 0, 0},
        {"capacitance of a negative result", 0x3070, withCapa(rec(0x10000000), 2.0), 1e-6, 0.0, 0, 0},
        {"capacitance overload", 0x3070, withCapa(rec(0, 1), -2.0), 1e-6, 0.0, 1, 0},
        {"capacitance without its bit", 0x3070, withCapa(rec(0x2003), -2.0), 1e-6, 0.0, 1, 0},
        {"power", 0x30C0, withB(rec(0x200c), c + 40, 0), 0.25, 0.0, 0, 10},
        {"three-phase power", 0x3200, withB(rec(0x200c), c - 40, 0), 0.25, 0.0, 0, -10},
        {"power without 0x8", 0x3210, withB(rec(0x2004), c + 40, 0), 0.25, 0.0, 1, 0},
        {"power, no data", 0x3230, withB(rec(0), c + 40, 0), 0.25, 0.0, 2, 0},
        {"unknown quantity", 0x1234, withA(rec(0x3FFF), c + 10, 0), 1.0, 0.0, 1, 0},
    };
    TMeterMeasurement m;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        m.scale_ = row.scale;
        m.offset_ = row.offset;
        float value = -1.0f;
        EXPECT_EQ(m.getMeasurementValue(row.id, &row.record, &value), row.status);
        EXPECT_NEAR(value, row.value, std::fabs(row.value) * 1e-5 + 1e-12);
        EXPECT_EQ(m.getMeasurementValue(row.id, &row.record, nullptr), row.status);
    }
    // No linked table: no data.
    EXPECT_EQ(m.getMeasurementValue(0x3020, nullptr, nullptr), 2);
}

TEST_F(MeterMeasurementTest, FrequencyFromThePeriodsAndTheirSpan)
{
    const double perPoint = GetHorizontalScale(21);
    ASSERT_GT(perPoint, 0.0);
    MeterMeasurement m;
    for (const float k : {1.0f, 10.0f, 7.9365077f}) {
        mesures r{};
        r.flags = 0x2003;
        r.periodCount = 5;
        r.rise50 = 120;
        r.fall50 = 80;  // the smaller first edge starts the span
        r.lastCross50 = 580;
        r.extraValue = k;
        float f = 0.0f;
        EXPECT_EQ(m.getMeasurementValue(0x2060, &r, &f), 0) << k;
        EXPECT_NEAR(f, 5.0 * k / 500.0 / perPoint, 5.0 * k / 500.0 / perPoint * 1e-6) << k;
    }

    const auto framing = [](uint16_t n, uint32_t rise, uint32_t fall, int32_t last) {
        mesures r{};
        r.flags = 0x2003;
        r.periodCount = n;
        r.rise50 = rise;
        r.fall50 = fall;
        r.lastCross50 = last;
        r.extraValue = 1.0f;
        return r;
    };
    const struct {
        const char* what;
        mesures record;
    } unavailable[] = {
        {"no whole period", framing(0, 100, 150, 300)},
        {"last edge on the first", framing(2, 100, 150, 100)},
        {"last edge before the first", framing(2, 100, 150, 60)},
        {"first edges past any index", framing(2, 0xFFFFFFF0u, 0xFFFFFFF8u, 300)},
    };
    for (const auto& row : unavailable) {
        float f = -1.0f;
        EXPECT_EQ(m.getMeasurementValue(0x2060, &row.record, &f), 1) << row.what;
        EXPECT_EQ(f, 0.0f) << row.what;
    }
}

TEST_F(MeterMeasurementTest, RefreshSmoothsSmallStepsAndSuppressesNoise)
{
    TMeterMeasurement m;
    dcOnChannel1(m);
    float v = 0.0f;

    readVolts(m, 1.5);
    EXPECT_EQ(m.valueText(), QStringLiteral("1.500 V"));
    // Within 1 % of the half range: a quarter of the way.
    readVolts(m, 1.516);
    EXPECT_EQ(m.valueText(), QStringLiteral("1.504 V"));
    EXPECT_NEAR((m.numericValue(&v), v), 1.504, 1e-6);
    // A larger step is taken at once.
    readVolts(m, 1.6);
    EXPECT_EQ(m.valueText(), QStringLiteral("1.600 V"));
    // Below half range / 2000: zero, stored as such.
    readVolts(m, 0.0009);
    EXPECT_EQ(m.numericValue(&v), 0);
    EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(m.valueText(), QStringLiteral("0.000 V"));

    EXPECT_EQ(m.minText(), QStringLiteral("min: 0.000 V"));
    EXPECT_EQ(m.maxText(), QStringLiteral("max: 1.600 V"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("Rel: 0.000 V"));
}

TEST_F(MeterMeasurementTest, OverloadAndNoDataTexts)
{
    TMeterMeasurement m;
    dcOnChannel1(m);

    // Missing bits: overload; the maximum is unbounded without the range flag.
    readVolts(m, 1.0, mesures{});
    record(0).flags = 0x2001;
    m.screenRefreshSlot();
    float v = 0.0f;
    EXPECT_EQ(m.numericValue(&v), 1);
    EXPECT_EQ(m.valueText(), QStringLiteral("- OL -"));
    EXPECT_EQ(m.maxText(), QStringLiteral("max: - OL -"));
    EXPECT_EQ(m.minText(), QStringLiteral("min: -----"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("-----"));
    // With the range flag the maximum is the half range.
    m.rangeFlag_ = true;
    m.screenRefreshSlot();
    EXPECT_EQ(m.maxText(), QStringLiteral("max: 2.000 V"));

    // No data keeps the value text.
    readVolts(m, 1.25);
    EXPECT_EQ(m.valueText(), QStringLiteral("1.250 V"));
    record(0) = mesures{};
    m.screenRefreshSlot();
    EXPECT_EQ(m.numericValue(&v), 2);
    EXPECT_EQ(m.valueText(), QStringLiteral("1.250 V"));

    // The statistics' sentinels.
    m.minimum_ = -1e8f;
    m.maximum_ = 1e8f;
    m.screenRefreshSlot();
    EXPECT_EQ(m.minText(), QStringLiteral("min: Overload"));
    EXPECT_EQ(m.maxText(), QStringLiteral("max: Overload"));
    m.maximum_ = -FLT_MAX;
    m.screenRefreshSlot();
    EXPECT_EQ(m.maxText(), QStringLiteral("max: -----"));
}

TEST_F(MeterMeasurementTest, FrequencyTextNeedsBothStatusesAndStaysBelowTheLimit)
{
    TMeterMeasurement m;
    dcOnChannel1(m);

    mesures r = dcRecord(0);
    frame(r, 1000.0);
    readVolts(m, 1.0, r);
    EXPECT_EQ(m.frequencyStatus(), 0);
    EXPECT_EQ(m.frequencyText(), QStringLiteral("Freq: 1.000 kHz"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("Rel: 1.000 V"));

    // The value overloads while the frequency is known: no frequency text.
    r.flags = 0x2001;
    readVolts(m, 1.0, r);
    EXPECT_EQ(m.frequencyStatus(), 0);
    EXPECT_EQ(m.frequencyText(), QStringLiteral("-----"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("-----"));

    // A valid value without a frequency: the relative value only.
    r = dcRecord(0);
    readVolts(m, 1.0, r);
    EXPECT_EQ(m.frequencyStatus(), 1);
    EXPECT_EQ(m.frequencyText(), QStringLiteral("-----"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("Rel: 1.000 V"));

    // Above 202 kHz: the overload text and nothing else.
    frame(r, 250000.0);
    readVolts(m, 1.0, r);
    EXPECT_EQ(m.frequencyText(), QStringLiteral("F= -OL-  Hz"));
    EXPECT_EQ(m.minText(), QStringLiteral("-----"));
    EXPECT_EQ(m.maxText(), QStringLiteral("-----"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("-----"));
    EXPECT_EQ(m.valueText(), QStringLiteral("1.000 V"));

    // Only the voltage quantities read a frequency.
    data.meterFunction = 1;
    m.screenMajSlot(0);
    record(0).flags |= 0x2000;
    m.screenRefreshSlot();
    EXPECT_EQ(m.frequencyStatus(), 1);
}

TEST_F(MeterMeasurementTest, StatisticsResetOnlyOnTheirParameters)
{
    TMeterMeasurement m;
    dcOnChannel1(m);
    const auto scaled = [&] {
        m.halfRange_ = 2.0;
        m.scale_ = 1e-3;
    };
    // Statistics from a reset at 1 V, then 1 V and 1.5 V.
    const auto twoReadings = [&] {
        scaled();
        readVolts(m, 1.0);
        m.screenMajSlot(param::meterAuxMeas);
        scaled();
        readVolts(m, 1.0);
        readVolts(m, 1.5);
        ASSERT_EQ(m.minText(), QStringLiteral("min: 1.000 V"));
    };
    const struct {
        int parameter;
        bool resets;
    } rows[] = {
        {0, false},
        {29, false},
        {param::meterAuxMeas, true},
        {param::meterFunction, true},
        {param::meterCouplingCh1, true},
        {param::meterCouplingCh2, false},
        {param::meterCouplingCh4, false},
        {param::meterRangeCh1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.parameter);
        twoReadings();
        m.screenMajSlot(row.parameter);
        // Every parameter notice empties the value text until the next refresh.
        EXPECT_EQ(m.valueText(), QStringLiteral("-----"));
        EXPECT_EQ(m.minimum() == FLT_MAX, row.resets);
        EXPECT_EQ(m.maximum() == -FLT_MAX, row.resets);
        EXPECT_FLOAT_EQ(m.relativeReference(), row.resets ? 1.5f : 1.0f);
    }

    // The relative value starts from the reading at the reset.
    twoReadings();
    m.screenMajSlot(param::meterFunction);
    scaled();
    readVolts(m, 1.75);
    EXPECT_EQ(m.relativeText(), QStringLiteral("Rel: 250.0 mV"));
}

TEST_F(MeterMeasurementTest, ValueFromElsewhere)
{
    TMeterMeasurement m;
    dcOnChannel1(m);
    float v = -1.0f;
    m.setNumericValue(1.5f);
    EXPECT_EQ(m.numericValue(&v), 0);
    EXPECT_EQ(m.valueText(), QStringLiteral("1.500 V"));
    m.setNumericValue(0.0005f);
    EXPECT_EQ(m.numericValue(&v), 0);
    EXPECT_EQ(v, 0.0f);
    m.setNumericValue(std::nanf(""));
    EXPECT_EQ(m.numericValue(&v), 2);
    EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(m.valueText(), QStringLiteral("---.-"));
}

TEST_F(MeterMeasurementTest, StartsAsTheTableSaysAndFollowsTheRootWindow)
{
    const MeterMeasurement fresh;
    float v = 1.0f;
    EXPECT_EQ(fresh.numericValue(&v), 1);
    EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(fresh.valueText(), QStringLiteral("---.-"));
    EXPECT_EQ(fresh.frequencyText(), QStringLiteral("--.-"));
    EXPECT_EQ(fresh.minText(), QStringLiteral("min: -.---"));
    EXPECT_EQ(fresh.maxText(), QStringLiteral("max: -.---"));
    EXPECT_EQ(fresh.relativeText(), QStringLiteral("-"));
    EXPECT_EQ(fresh.identifier(), 0x3020);
    EXPECT_EQ(fresh.minimum(), FLT_MAX);
    EXPECT_EQ(fresh.maximum(), -FLT_MAX);
    EXPECT_EQ(fresh.getUnit(), QString());

    // Connected by setIdentifier: a refresh notice reads the record, a parameter notice the setup.
    setCoupling(0, 1);
    MeterMeasurement m;
    m.setIdentifier(0);
    record(0) = dcRecord(20000);
    emit home_->screenRefreshSignal();
    EXPECT_EQ(m.numericValue(&v), 0);
    EXPECT_GT(v, 0.0f);
    setCoupling(0, 0);
    emit home_->screenMajSignal(param::meterCouplingCh1);
    EXPECT_EQ(m.identifier(), 0x3030);
    EXPECT_EQ(m.couplingText(), QStringLiteral("AC"));
}
