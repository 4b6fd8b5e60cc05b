// The power reading: the four wiring formulas, the texts of each status, the second wattmeter
// of the three-phase function, readings without a valid voltage or current, and which
// parameters change the function and the statistics.
#include "acquisition/TFonction.h"
#include "tests/ui/support/meter_fixture.h"

#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>

namespace {

class PowerMeasurementTest : public MeterFixture {
protected:
    // The function chosen as a meter-function notice chooses it.
    void useFunction(TPowerMeasurement& m, int function)
    {
        data.meterFunction = static_cast<int16_t>(function);
        m.screenMajSlot(param::meterFunction);
    }
};

void expectTexts(const PowerMeasurement& m, const char* value, const char* apparent, const char* reactive,
                 const char* factor)
{
    EXPECT_EQ(m.valueText().toStdString(), value);
    EXPECT_EQ(m.apparentText().toStdString(), apparent);
    EXPECT_EQ(m.reactiveText().toStdString(), reactive);
    EXPECT_EQ(m.powerFactorText().toStdString(), factor);
}

} // namespace

TEST_F(PowerMeasurementTest, FourWiringFormulas)
{
    const struct {
        const char* what;
        int function;
        double w, w2;  // products of records 8 and 9 (scale 1, second scale 2)
        float v, i;
        const char *value, *apparent, *reactive, *factor;
    } rows[] = {
        {"single phase", 8, 100, 0, 250, 0.5f, "100.0 W", "125.0 VA", "75.00 var", "PF: 0.800"},
        {"single phase, product above V I", 8, 100, 0, 10, 5, "100.0 W", "100.0 VA", "0.000 var", "PF: 1.000"},
        {"single phase, energy sent back", 8, -100, 0, 250, 0.5f, "-100.0 W", "125.0 VA", "75.00 var", "PF: -0.800"},
        {"single phase, nothing", 8, 0, 0, 0, 0, "0.000 W", "0.000 VA", "0.000 var", "PF: ----"},
        {"an unknown function reads single phase", 5, 100, 0, 250, 0.5f, "100.0 W", "125.0 VA", "75.00 var",
         "PF: 0.800"},
        {"balanced, phase to neutral", 10, 100, 0, 250, 0.5f, "300.0 W", "375.0 VA", "225.0 var", "PF: 0.800"},
        {"balanced, between two phases", 11, 100, 0, 250, 0.5f, "129.9 W", "216.5 VA", "173.2 var", "PF: 0.600"},
        {"two wattmeters", 9, 100, 25, 0, 0, "150.0 W", "158.1 VA", "50.00 var", "PF: 0.949"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TPowerMeasurement m;
        useFunction(m, row.function);
        m.secondScale_ = 2.0;
        record(8) = powerRecord(row.w);
        record(9) = powerRecord(row.w2);
        m.compute(row.v, row.i);
        expectTexts(m, row.value, row.apparent, row.reactive, row.factor);
        float p = 0.0f;
        EXPECT_EQ(m.numericValue(&p), 0);
        EXPECT_NEAR(p, std::stod(row.value), 0.05);
    }
}

TEST_F(PowerMeasurementTest, StatusTextsAndTheSecondWattmeter)
{
    TPowerMeasurement m;
    useFunction(m, 8);
    record(8) = powerRecord(100);
    m.compute(250, 0.5f);
    ASSERT_EQ(m.minText(), QStringLiteral("min: 100.0 W"));

    // Missing bits: overload; the statistics stay.
    record(8).flags = 0x2004;
    m.compute(250, 0.5f);
    expectTexts(m, "- OL -", "- OL -", "- OL -", "-----");
    EXPECT_EQ(m.minText(), QStringLiteral("min: 100.0 W"));
    EXPECT_EQ(m.maxText(), QStringLiteral("max: 100.0 W"));
    // No data.
    record(8) = mesures{};
    m.compute(250, 0.5f);
    expectTexts(m, "-run-", "-----", "-----", "-----");

    // Two wattmeters: a valid first record lets the second decide.
    useFunction(m, 9);
    const struct {
        const char* what;
        mesures first, second;
        const char* value;
    } rows[] = {
        {"second without its bits", powerRecord(100), [] { mesures r = powerRecord(50); r.flags = 0x2008; return r; }(),
         "- OL -"},
        {"second without data", powerRecord(100), mesures{}, "-run-"},
        // The first record decides alone: the second (without data) is not read.
        {"first without its bits", [] { mesures r = powerRecord(100); r.flags = 0x200; return r; }(), mesures{},
         "- OL -"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        record(8) = row.first;
        record(9) = row.second;
        m.compute(0, 0);
        EXPECT_EQ(m.valueText().toStdString(), row.value);
    }

    // The frequency needs both records' framings.
    mesures first = powerRecord(100);
    mesures second = powerRecord(50);
    frame(first, 50.0);
    record(8) = first;
    record(9) = second;
    m.compute(0, 0);
    EXPECT_EQ(m.frequencyStatus(), 1);
    EXPECT_EQ(m.frequencyText(), QStringLiteral("-----"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("-----"));
    frame(second, 50.0);
    record(9) = second;
    m.compute(0, 0);
    EXPECT_EQ(m.frequencyStatus(), 0);
    EXPECT_EQ(m.frequencyText(), QStringLiteral("Freq: 50.00 Hz"));
    EXPECT_EQ(m.relativeText(), QStringLiteral("Rel: 150.0 W"));
    // Above the limit the frequency overloads and the rest stays empty.
    frame(first, 300000.0);
    record(8) = first;
    m.compute(0, 0);
    EXPECT_EQ(m.frequencyText(), QStringLiteral("F= -OL-  Hz"));
    EXPECT_EQ(m.minText(), QStringLiteral("-----"));
}

TEST_F(PowerMeasurementTest, ChannelsWithoutAValidReading)
{
    const float nan = std::nanf("");
    const struct {
        int function;
        float v, i;
        int status;
        const char *value, *apparent, *reactive, *factor;
    } rows[] = {
        {8, nan, 0.5f, 0, "100.0 W", "-----", "-----", "-----"},
        {10, 250, nan, 0, "300.0 W", "-----", "-----", "-----"},
        // The active power itself comes from V I here.
        {11, nan, nan, 2, "-run-", "-----", "-----", "-----"},
        // The wattmeters alone.
        {9, nan, nan, 0, "150.0 W", "158.1 VA", "50.00 var", "PF: 0.949"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.function);
        TPowerMeasurement m;
        useFunction(m, row.function);
        m.secondScale_ = 2.0;
        record(8) = powerRecord(100);
        record(9) = powerRecord(25);
        m.compute(row.v, row.i);
        float p = 0.0f;
        EXPECT_EQ(m.numericValue(&p), row.status);
        expectTexts(m, row.value, row.apparent, row.reactive, row.factor);
        EXPECT_FALSE(m.minText().contains(QLatin1String("nan")));
        if (row.status == 2) {
            EXPECT_TRUE(std::isnan(p));
        }
    }
    // An overload stays one.
    TPowerMeasurement m;
    useFunction(m, 11);
    record(8) = powerRecord(100);
    record(8).flags = 0x2004;
    m.compute(nan, nan);
    EXPECT_EQ(m.numericValue(nullptr), 1);
    expectTexts(m, "- OL -", "- OL -", "- OL -", "-----");
}

TEST_F(PowerMeasurementTest, ParametersChooseTheWiringAndResetTheStatistics)
{
    data.meterFunction = 10;
    TPowerMeasurement m;
    EXPECT_EQ(m.identifier(), 0x3210);
    EXPECT_EQ(m.iconName(), QStringLiteral("PuissanceTriEquilPhNCh1Ch4.png"));
    EXPECT_EQ(m.title(), QStringLiteral("POWER"));
    expectTexts(m, "---.-", "---.-", "---.-", "");

    const struct {
        int function;
        uint16_t identifier;
        const char* icon;
    } wiring[] = {
        {8, 0x30C0, "PuissanceMonoCh1Ch4.png"},
        {9, 0x3200, "PuissanceTri.png"},
        {10, 0x3210, "PuissanceTriEquilPhNCh1Ch4.png"},
        {11, 0x3230, "PuissanceTriEquil2PhCh1Ch4.png"},
        {0, 0x30C0, "PuissanceMonoCh1Ch4.png"},
    };
    record(8) = powerRecord(100);
    m.compute(0, 0);
    for (const auto& row : wiring) {
        SCOPED_TRACE(row.function);
        // 151 changes the wiring and keeps the statistics.
        useFunction(m, row.function);
        EXPECT_EQ(m.identifier(), row.identifier);
        EXPECT_EQ(m.iconName().toStdString(), row.icon);
        EXPECT_NE(m.minimum(), FLT_MAX);
    }
    // The base's slot is not connected: a notice leaves the value text alone.
    m.setIdentifier(8);
    const QString before = m.valueText();
    emit home_->screenMajSignal(param::meterCouplingCh1);
    EXPECT_EQ(m.valueText(), before);
    // Nor is the refresh.
    record(8) = powerRecord(7);
    emit home_->screenRefreshSignal();
    EXPECT_EQ(m.valueText(), before);

    for (int parameter : {int(param::meterAuxMeas), 0, 29}) {
        SCOPED_TRACE(parameter);
        record(8) = powerRecord(100);
        m.compute(0, 0);
        emit home_->screenMajSignal(parameter);
        EXPECT_EQ(m.minimum(), FLT_MAX);
        EXPECT_EQ(m.maximum(), -FLT_MAX);
        EXPECT_FLOAT_EQ(m.relativeReference(), 100.0f);
    }
}

TEST_F(PowerMeasurementTest, ScalesComeFromThePowerFunctions)
{
    char a[] = "ch1*ch4/divv(4)";
    char b[] = "(ch3*ch4)/divv(4)";
    TFonction functionA(0x2000, a);
    TFonction functionB(0x2000, b);
    ASSERT_TRUE(functionA.IsDefined());
    ASSERT_TRUE(functionB.IsDefined());
    setupLinks().powerFunctionA = &functionA;
    setupLinks().powerFunctionB = &functionB;
    float sa = 0.0f, sb = 0.0f;
    functionA.GetVerticalScale(&sa, nullptr, SCALE_METER);
    functionB.GetVerticalScale(&sb, nullptr, SCALE_METER);

    TPowerMeasurement m;
    EXPECT_DOUBLE_EQ(m.scale(), sa);
    EXPECT_DOUBLE_EQ(m.secondScale(), sb);

    // The range notices re-read them.
    data.meterRangeCh1 = static_cast<int16_t>(data.meterRangeCh1 == 0 ? 1 : 0);
    float changed = 0.0f;
    functionA.GetVerticalScale(&changed, nullptr, SCALE_METER);
    m.screenMajSlot(param::meterRangeCh1);
    EXPECT_DOUBLE_EQ(m.scale(), changed);
    setupLinks().powerFunctionA = nullptr;
    setupLinks().powerFunctionB = nullptr;
}

TEST_F(PowerMeasurementTest, ValueFromElsewhereInWatts)
{
    TPowerMeasurement m;
    m.setNumericValue(1234.0f);
    EXPECT_EQ(m.valueText(), QStringLiteral("1.234 kW"));
    m.setNumericValue(std::nanf(""));
    EXPECT_EQ(m.valueText(), QStringLiteral("---.-"));
}
