// Scale and unit helpers: sensitivities, trace scales and units, divisions, time bases.
#include "core/scale.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class ScaleTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        setupLinks() = TSetupLinks{};  // an earlier test's links are none of this one
        data.instrumentMode = 16;
        data.traceFormat = 0;
        data.vZoomFactor = 1.0f;
    }

    static TAcquisition* trace(unsigned short identifier, uint16_t sensitivity, float probe, const char* unit = "V")
    {
        auto* t = new TAcquisition(identifier);
        t->sensitivity = sensitivity;
        t->probeCoeff = probe;
        std::memset(t->unit, 0, sizeof t->unit);
        std::memcpy(t->unit, unit, std::min<size_t>(std::strlen(unit), sizeof t->unit));
        return t;
    }
};

TEST_F(ScaleTest, OneVoltADivisionWithAProbe)
{
    EXPECT_FLOAT_EQ(GetSensitivity(8, SCALE_SCOPE) * 32760, 1.0f);
    TAcquisition* t = trace(1, 8, 10.0f);
    EXPECT_FLOAT_EQ(GetVerticalDiv(t, 8, SCALE_SCOPE), 10.0f);
    data.vZoomFactor = 2.0f;
    EXPECT_FLOAT_EQ(GetVerticalDiv(t, 8, SCALE_SCOPE), 5.0f);
    // The meter division is half the range's units; ohms and dB ignore the probe.
    EXPECT_FLOAT_EQ(GetVerticalScale(t, SCALE_METER, 1), coeffMeter[1] * 10.0f);
    EXPECT_FLOAT_EQ(GetVerticalScale(t, SCALE_OHMMETER, 2), coeffOhm[2]);
    EXPECT_FLOAT_EQ(GetVerticalOffset(t, SCALE_FFT_DB), 0.00030525032f * -131040.0f);
    EXPECT_EQ(GetVerticalDiv(nullptr, 8, SCALE_SCOPE), 0.0f);
}

TEST_F(ScaleTest, StoredMemoryUsesItsOwnSensitivityForScopeScales)
{
    TAcquisition* memory = trace(512, 5, 1.0f);
    for (TScale s : {SCALE_SCOPE, SCALE_XY, SCALE_FFT})
        EXPECT_EQ(GetVerticalScale(memory, s, 11), coeffScope[5]) << s;
    // Meter scales take the index given.
    EXPECT_EQ(GetVerticalScale(memory, SCALE_METER, 2), coeffMeter[2]);
    // A live channel takes the index given, or its own with -1.
    TAcquisition* live = trace(1, 5, 1.0f);
    EXPECT_EQ(GetVerticalScale(live, SCALE_SCOPE, 11), coeffScope[11]);
    EXPECT_EQ(GetVerticalScale(live, SCALE_SCOPE, -1), coeffScope[5]);
}

TEST_F(ScaleTest, ComputedTracesScaleOneUnitADivision)
{
    TAcquisition* ch2 = trace(2, 8, 10.0f);
    TAcquisition* ch3 = trace(4, 8, 1.0f);
    EXPECT_EQ(GetVerticalScale(ch2, SCALE_SCOPE, -1), coeffScope[8] * 10.0f);
    EXPECT_EQ(GetVerticalUnit(ch2, SCALE_SCOPE, true), "V");

    // On the two-channel model channels 2 and 3 always come out as computed traces.
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    EXPECT_FLOAT_EQ(GetVerticalScale(ch2, SCALE_SCOPE, -1), 3.0525032e-5f * 10.0f);
    EXPECT_FLOAT_EQ(GetVerticalScale(ch3, SCALE_SCOPE, -1), 3.0525032e-5f);
    EXPECT_FLOAT_EQ(GetVerticalDiv(ch3, 8, SCALE_SCOPE), 1.0f);
    EXPECT_EQ(GetVerticalUnit(ch3, SCALE_SCOPE, true), "div");
    // Not for the meter scale; and the unit is the trace's own outside scope modes.
    EXPECT_EQ(GetVerticalScale(ch3, SCALE_METER, 0), coeffMeter[0]);
    data.instrumentMode = 128;
    EXPECT_EQ(GetVerticalUnit(ch3, SCALE_SCOPE, true), "V");

    // A channel whose math function is defined.
    data.instrumentMode = 16;
    char text[] = "ch2+ch3";
    setupLinks().mathFunctionCh1 = new TFonction(0, text);
    ASSERT_TRUE(setupLinks().mathFunctionCh1->IsDefined());
    TAcquisition* ch1 = trace(1, 3, 1.0f);
    EXPECT_FLOAT_EQ(GetVerticalScale(ch1, SCALE_SCOPE, -1), 3.0525032e-5f);
    EXPECT_EQ(GetVerticalScale(ch1, SCALE_FFT_DB, -1), 0.00030525032f);
    // Units: identifiers without a rule of their own follow channel 1's function.
    EXPECT_EQ(GetVerticalUnit(trace(16, 8, 1.0f), SCALE_SCOPE, true), "div");
}

TEST_F(ScaleTest, UnitsInDisplayAndFileForm)
{
    TAcquisition* ohm = trace(1, 8, 1.0f, "k{");
    EXPECT_EQ(GetVerticalUnit(ohm, SCALE_OHMMETER, false), "{");
    EXPECT_EQ(GetVerticalUnit(ohm, SCALE_OHMMETER, true), QString(QChar(0x2126)));
    EXPECT_EQ(GetVerticalUnit(ohm, SCALE_SCOPE, true), QStringLiteral("k") + QChar(0x2126));
    EXPECT_EQ(GetVerticalUnit(ohm, SCALE_CAPACITANCE, true), "F");
    EXPECT_EQ(GetVerticalUnit(ohm, SCALE_POWER, true), "W");

    // The degree sign is stored as a byte that is no UTF-8.
    TAcquisition* degrees = trace(1, 8, 1.0f, "\xB0" "C");
    EXPECT_EQ(GetVerticalUnit(degrees, SCALE_SCOPE, true), QString(QChar(0x00B0)) + "C");
    EXPECT_EQ(GetVerticalUnit(degrees, SCALE_SCOPE, false), "}C");
    EXPECT_EQ(GetVerticalUnit(degrees, SCALE_FFT_DB, true), QStringLiteral("dB") + QChar(0x00B0) + "C");

    // Four bytes without a NUL: never read beyond them.
    TAcquisition* full = trace(1, 8, 1.0f, "ABCD");
    EXPECT_EQ(GetVerticalUnit(full, SCALE_SCOPE, true), "ABCD");
    EXPECT_TRUE(GetVerticalUnit(nullptr, SCALE_SCOPE, true).isEmpty());
}

TEST_F(ScaleTest, OutOfRangeIndicesAreClamped)
{
    struct Row {
        unsigned short index;
        TScale scale;
        float expected;
    };
    const Row rows[] = {
        {15, SCALE_SCOPE, coeffScope[15]},    {99, SCALE_SCOPE, coeffScope[15]},
        {3, SCALE_METER, coeffMeter[3]},      {9, SCALE_METER, coeffMeter[3]},
        {6, SCALE_OHMMETER, coeffOhm[6]},     {60, SCALE_OHMMETER, coeffOhm[6]},
        {2, static_cast<TScale>(42), coeffScope[2]},  // an unknown kind reads as the power scale
        {2, static_cast<TScale>(-3), coeffScope[2]},
        {0, SCALE_DIODE, 6.1050065e-5f},
    };
    for (const Row& row : rows)
        EXPECT_EQ(GetSensitivity(row.index, row.scale), row.expected) << row.index << " " << row.scale;
    EXPECT_EQ(GetSensitivity(70, SCALE_CAPACITANCE), GetSensitivity(7, SCALE_CAPACITANCE));
    EXPECT_GT(GetSensitivity(7, SCALE_CAPACITANCE), 0.0f);
    TAcquisition* t = trace(1, 8, 1.0f);
    EXPECT_EQ(GetVerticalDiv(t, 40, SCALE_CAPACITANCE), static_cast<float>(CapaGamme[7] * 0.125));
    EXPECT_EQ(GetAcquisitionLength(34), 2000.0f);
    EXPECT_EQ(GetAcquisitionLength(500), GetAcquisitionLength(35));
    EXPECT_EQ(GetHorizontalScaleF(500), GetHorizontalScaleF(35));
}

TEST_F(ScaleTest, HorizontalScalesFollowModeAndFormat)
{
    // Below 100 ns a division the division stays 100 ns (software zoom).
    EXPECT_FLOAT_EQ(GetHorizontalDiv(0), 1e-7f);
    EXPECT_EQ(GetHorizontalDiv(0), GetHorizontalDiv(6));
    data.zoomState = 2;
    data.zoomWidth = 4.0f;
    EXPECT_FLOAT_EQ(GetHorizontalDiv(15), 1e-4f / 10);
    EXPECT_STREQ(GetHorizontalUnit(), "s");
    EXPECT_EQ(GetHorizontalScale(15), 1e-8f);

    data.traceFormat = 1;  // FFT
    EXPECT_STREQ(GetHorizontalUnit(), "Hz");
    EXPECT_FLOAT_EQ(GetHorizontalScale(15), 1.0f / (1e-8f * 2e5f * 40));
    EXPECT_EQ(GetHorizontalScaleF(15), static_cast<double>(static_cast<float>(1.0 / (double(1e-8f) * 2e5 * 40))));
    EXPECT_FLOAT_EQ(GetHorizontalDiv(15), GetHorizontalScaleF(15) * 10000);

    data.instrumentMode = 128;  // meter: points of the 2500-point signal
    EXPECT_STREQ(GetHorizontalUnit(), "s");
    EXPECT_FLOAT_EQ(GetHorizontalScale(15), 1e-8f * 40);
    EXPECT_EQ(GetHorizontalDiv(15), 0.0f);
    data.instrumentMode = 64;  // harmonic
    EXPECT_STREQ(GetHorizontalUnit(), "Hz");
    EXPECT_FLOAT_EQ(GetHorizontalDiv(15), 1e-8f * 40 * 10000);
}

} // namespace
