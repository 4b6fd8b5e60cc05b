// The meter, power, recorder and viewer boxes: what they copy from the readings and publish to
// the status cache, the auxiliary-line modes, the viewer forms, and probes of their pictures
// (background, range flag, icon square, reference circle, no auxiliary lines in the viewer).
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "network/user_int.h"
#include "tests/ui/support/meter_fixture.h"
#include "ui/traces/loggerchannel.h"
#include "ui/traces/loggerpowerchannel.h"
#include "ui/frame/meterchannel.h"
#include "ui/frame/powerchannel.h"
#include "ui/traces/viewerchannel.h"
#include "ui/traces/viewerpowerchannel.h"
#include "ui/frame/zinccolor.h"

#include <gtest/gtest.h>

namespace {

struct TMeterCache {
    std::string range, coupling, value, aux1, aux2;
};

TMeterCache meterCache(int16_t channel)
{
    TMeterCache c;
    getPelanodeMeterMeas(channel, c.range, c.coupling, c.value, c.aux1, c.aux2);
    return c;
}

bool near(QColor a, QColor b, int tolerance = 24)
{
    return std::abs(a.red() - b.red()) < tolerance && std::abs(a.green() - b.green()) < tolerance &&
           std::abs(a.blue() - b.blue()) < tolerance;
}

class MeterBoxTest : public MeterFixture {
protected:
    void SetUp() override
    {
        MeterFixture::SetUp();
        initPelanodeMeterMeas();
    }
    // Channel `ch` on DC reading `volts` (a frequency of 1 kHz beside it), one refresh.
    void reading(MeterMeasurement& m, int ch, double volts)
    {
        int16_t* const couplings[4] = {&data.meterCouplingCh1, &data.meterCouplingCh2, &data.meterCouplingCh3,
                                       &data.meterCouplingCh4};
        *couplings[ch] = 1;
        m.setIdentifier(ch);
        mesures r = dcRecord(volts / m.scale());
        frame(r, 1000.0);
        record(ch) = r;
        m.screenRefreshSlot();
    }
};

} // namespace

TEST_F(MeterBoxTest, MeterBoxCopiesTheReadingAndPublishesIt)
{
    MeterChannel box;
    EXPECT_EQ(box.title(), QStringLiteral("---"));
    EXPECT_EQ(box.valueText(), QStringLiteral("------"));
    EXPECT_EQ(box.line1(), QStringLiteral("---"));
    EXPECT_EQ(box.status(), 2);
    EXPECT_EQ(box.width(), 355);
    EXPECT_EQ(box.height(), 140);

    MeterMeasurement m;
    reading(m, 2, 1.0);
    ASSERT_EQ(m.numericValue(nullptr), 0);
    data.measRefChannel = 0x4;  // channel 3 is the reference

    const struct {
        int16_t mode;
        QString line1, line2;
    } modes[] = {
        {1, m.maxText(), m.minText()},
        {2, QString(), m.relativeText()},
        {0, QString(), m.frequencyText()},
    };
    for (const auto& row : modes) {
        SCOPED_TRACE(row.mode);
        data.meterAuxMeas = row.mode;
        box.screenMajSlot(param::meterAuxMeas);
        box.trigger(&m);
        EXPECT_EQ(box.title(), QStringLiteral("CH3"));
        EXPECT_EQ(box.valueText(), m.valueText());
        EXPECT_EQ(box.rangeText(), m.rangeText());
        EXPECT_EQ(box.couplingText(), QStringLiteral("DC"));
        EXPECT_EQ(box.line1(), row.line1);
        EXPECT_EQ(box.line2(), row.line2);
        EXPECT_TRUE(box.isReference());
        float v = 0.0f;
        EXPECT_EQ(box.status(), m.numericValue(&v));
        EXPECT_EQ(box.value(), v);
        const TMeterCache c = meterCache(2);
        EXPECT_EQ(c.range, m.rangeText().toStdString());
        EXPECT_EQ(c.coupling, "DC");
        EXPECT_EQ(c.value, m.valueText().toStdString());
        EXPECT_EQ(c.aux1, row.line1.isEmpty() ? "+" : row.line1.toStdString());
        EXPECT_EQ(c.aux2, row.line2.toStdString());
        EXPECT_EQ(meterCache(0).value, "+");
    }
    data.measRefChannel = 0x1;
    box.trigger(&m);
    EXPECT_FALSE(box.isReference());
    box.trigger(static_cast<MeterMeasurement*>(nullptr));
    EXPECT_EQ(box.title(), QStringLiteral("CH3"));

    box.init();
    EXPECT_EQ(box.title(), QStringLiteral("X"));
    EXPECT_EQ(box.couplingText(), QStringLiteral("--"));
    EXPECT_EQ(box.rangeText(), QStringLiteral("-----"));
    EXPECT_TRUE(box.valueText().isEmpty());
    EXPECT_TRUE(box.line1().isEmpty() && box.line2().isEmpty());
    EXPECT_FALSE(box.isReference());
}

TEST_F(MeterBoxTest, AuxiliaryModeFollowsTheParameters)
{
    const struct {
        int16_t function, auxMeas;
        int parameter;
        short mode;
    } rows[] = {
        {0, 0, 0, 0},
        // Channel 1's own functions have no frequency: the relative value instead.
        {1, 0, 0, 2},
        {3, 0, 29, 2},
        {16, 0, param::meterFunction, 2},
        {8, 0, param::meterFunction, 0},
        // meterAuxMeas alone sets the mode as it is.
        {1, 0, param::meterAuxMeas, 0},
        {1, 1, 0, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.function << " " << row.auxMeas << " " << row.parameter);
        data.meterFunction = 0;
        data.meterAuxMeas = row.auxMeas;
        MeterChannel box;
        data.meterFunction = row.function;
        box.screenMajSlot(row.parameter);
        EXPECT_EQ(box.auxiliaryMode(), row.mode);
    }
    // Other parameters leave it.
    data.meterFunction = 0;
    data.meterAuxMeas = 1;
    MeterChannel box;
    data.meterAuxMeas = 2;
    emit home_->screenMajSignal(param::meterCouplingCh1);
    EXPECT_EQ(box.auxiliaryMode(), 1);
    emit home_->screenMajSignal(param::meterAuxMeas);
    EXPECT_EQ(box.auxiliaryMode(), 2);
}

TEST_F(MeterBoxTest, ViewerFormDescribesTheRecordedTrace)
{
    MeterMeasurement m;
    reading(m, 1, 2.0);
    ViewerChannel box;
    data.meterAuxMeas = 1;
    box.screenMajSlot(param::meterAuxMeas);
    box.trigger(&m);

    TAcquisition* t = trace(2);
    t->meterScale = SCALE_METER;
    t->meterCoupling = 0;
    data.measRefChannel = 0x4;
    box.trigger(t);
    EXPECT_EQ(box.title(), QStringLiteral("M3"));
    EXPECT_EQ(box.couplingText(), QStringLiteral("AC"));
    EXPECT_TRUE(box.isReference());
    double span = 0.0;
    t->GetMMRange(&span, nullptr, nullptr);
    EXPECT_EQ(box.rangeText(), ScopePrintf(3, span / 2) + GetVerticalUnit(t, SCALE_METER, true));
    const TMeterCache c = meterCache(2);
    EXPECT_EQ(c.coupling, "AC");
    EXPECT_EQ(c.value, m.valueText().toStdString());
    EXPECT_EQ(c.aux1, m.maxText().toStdString());

    for (TScale kind : {SCALE_OHMMETER, SCALE_CAPACITANCE, SCALE_DIODE}) {
        t->meterScale = kind;
        box.trigger(t);
        EXPECT_TRUE(box.couplingText().isEmpty()) << kind;
    }
    box.trigger(static_cast<TAcquisition*>(nullptr));
    EXPECT_EQ(box.title(), QStringLiteral("M3"));
}

TEST_F(MeterBoxTest, PowerBoxCopiesAndPublishesTheNamedTexts)
{
    data.meterFunction = 8;
    data.meterAuxMeas = 1;
    PowerChannel box;
    EXPECT_EQ(box.title(), QStringLiteral("Pa"));
    EXPECT_EQ(box.width(), 715);
    EXPECT_EQ(box.channelColour(), getZincColor(6));

    PowerMeasurement m;
    record(8) = powerRecord(100);
    m.compute(250, 0.5f);
    data.measRefChannel = 1 << 13;
    box.trigger(&m);
    EXPECT_EQ(box.title(), QStringLiteral("POWER"));
    EXPECT_EQ(box.iconName(), QStringLiteral("PuissanceMonoCh1Ch4.png"));
    EXPECT_TRUE(box.isReference());
    EXPECT_EQ(box.line1(), m.maxText());
    TPowerBytes cached;
    getPelanodePowerMeas(cached);
    EXPECT_EQ(cached.active, "100.0 W");
    EXPECT_EQ(cached.apparent, "125.0 VA");
    EXPECT_EQ(cached.reactive, "75.00 var");
    EXPECT_EQ(cached.dpf, "PF: 0.800");
    EXPECT_EQ(cached.aux1, "max: 100.0 W");
    EXPECT_EQ(cached.aux2, "min: 100.0 W");

    box.trigger(trace(4));
    EXPECT_TRUE(box.valueText().isEmpty() && box.apparentText().isEmpty() && box.powerFactorText().isEmpty());
    getPelanodePowerMeas(cached);
    EXPECT_EQ(cached.active, "+");
    EXPECT_EQ(cached.dpf, "+");
    EXPECT_EQ(cached.aux2, "+");
}

TEST_F(MeterBoxTest, MeterBoxPicture)
{
    data.meterFunction = 1;
    data.meterAutoRangeCh1 = 0;
    MeterMeasurement m;
    reading(m, 0, 0.0);
    ASSERT_FALSE(m.rangeFlag());
    MeterChannel box;
    box.setColor(3);
    const QColor colour = getZincColor(3);
    box.trigger(&m);
    ASSERT_EQ(box.iconName(), QStringLiteral("ch1_ohm.png"));
    const int w = 355, h = 140;

    QImage picture = render(box);
    saveArtefact(picture, "box-meter.png");
    // The channel colour behind the rounded corners and in the icon square's corner.
    EXPECT_TRUE(near(picture.pixelColor(0, 0), colour));
    EXPECT_TRUE(near(picture.pixelColor(w - 72, h - 57), colour));
    // No range flag: the gradient behind the range text.
    EXPECT_FALSE(near(picture.pixelColor(66, 16), colour));
    // Never a reference circle in the meter's own box.
    data.measRefChannel = 1;
    box.trigger(&m);
    ASSERT_TRUE(box.isReference());
    const QImage withReference = render(box);
    EXPECT_EQ(withReference.pixelColor(w - 26, h - 25), picture.pixelColor(w - 26, h - 25));

    // The range flag fills the rectangle behind the range text.
    data.meterFunction = 0;
    data.meterRangeCh1 = 0;
    data.meterAutoRangeCh1 = 1;
    data.instrumentMode = 128;
    MeterMeasurement ranging;
    reading(ranging, 0, 0.1);
    ASSERT_TRUE(ranging.rangeFlag());
    box.trigger(&ranging);
    picture = render(box);
    EXPECT_TRUE(near(picture.pixelColor(66, 16), colour));
    // No icon: no square.
    EXPECT_FALSE(near(picture.pixelColor(w - 72, h - 57), colour));
}

TEST_F(MeterBoxTest, RecorderAndViewerPictures)
{
    data.meterAuxMeas = 1;
    MeterMeasurement m;
    reading(m, 0, 1.0);
    m.setIconName(QStringLiteral("ch1_diode.png"));
    data.measRefChannel = 1;
    const QColor colour = getZincColor(2);

    LoggerChannel logger;
    ViewerChannel viewer;
    EXPECT_EQ(logger.width(), 175);
    EXPECT_EQ(logger.height(), 105);
    EXPECT_EQ(logger.titleFont().pointSize(), 12);
    EXPECT_EQ(viewer.valueFont().pointSize(), 18);
    for (MeterChannel* box : {static_cast<MeterChannel*>(&logger), static_cast<MeterChannel*>(&viewer)}) {
        box->setColor(2);
        box->trigger(&m);
        ASSERT_TRUE(box->isReference());
    }
    const QImage loggerPicture = render(logger);
    const QImage viewerPicture = render(viewer);
    saveArtefact(loggerPicture, "box-logger.png");
    saveArtefact(viewerPicture, "box-viewer.png");
    const int w = 175, h = 105;
    for (const QImage* picture : {&loggerPicture, &viewerPicture}) {
        // Plain frame: the corner is the gradient's, not the colour behind a rounded one.
        EXPECT_FALSE(near(picture->pixelColor(6, 6), colour));
        // The icon square.
        EXPECT_TRUE(near(picture->pixelColor(w - 41, (h - 32) / 2 + 1), colour));
        // The reference circle, in the border pen: its top and its left.
        EXPECT_TRUE(near(picture->pixelColor(w - 26, h - 25), colour, 60));
        EXPECT_TRUE(near(picture->pixelColor(w - 33, h - 18), colour, 60));
    }
    // Without the reference no circle.
    data.measRefChannel = 0;
    logger.trigger(&m);
    EXPECT_FALSE(near(render(logger).pixelColor(w - 26, h - 25), colour, 60));

    // The auxiliary lines: drawn by the recorder's box, never by the viewer's.
    MeterMeasurement empty;
    const auto linesArea = [&](const QImage& image) {
        const int t = 12, v = 18;
        return image.copy(QRect(0, 3 * t + v + 12, w - 45, h - (3 * t + v + 12) - 3));
    };
    LoggerChannel blankLogger;
    ViewerChannel blankViewer;
    for (MeterChannel* box : {static_cast<MeterChannel*>(&blankLogger), static_cast<MeterChannel*>(&blankViewer)}) {
        box->setColor(2);
        box->trigger(&m);
        data.meterAuxMeas = 2;  // relative line empty until a reset
        box->screenMajSlot(param::meterAuxMeas);
        box->trigger(&empty);
        data.meterAuxMeas = 1;
    }
    logger.trigger(&m);
    viewer.trigger(&m);
    ASSERT_FALSE(viewer.line1().isEmpty());
    EXPECT_NE(linesArea(render(logger)), linesArea(render(blankLogger)));
    EXPECT_EQ(linesArea(render(viewer)), linesArea(render(blankViewer)));
}

TEST_F(MeterBoxTest, PowerBoxPictures)
{
    data.meterFunction = 9;
    data.meterAuxMeas = 1;
    data.measRefChannel = 1 << 13;
    PowerMeasurement m;
    record(8) = powerRecord(100);
    record(9) = powerRecord(50);
    m.compute(230, 0.5f);
    const QColor colour = getZincColor(6);

    PowerChannel power;
    LoggerPowerChannel logger;
    ViewerPowerChannel viewer;
    EXPECT_EQ(logger.title(), QStringLiteral("Pa"));
    EXPECT_EQ(logger.width(), 709);
    EXPECT_EQ(logger.height(), 75);
    EXPECT_EQ(viewer.channelColour(), colour);
    power.trigger(&m);
    logger.trigger(&m);
    viewer.trigger(&m);

    const QImage powerPicture = render(power);
    saveArtefact(powerPicture, "box-power.png");
    // The wiring picture at (10, (h - 75) / 2) in its own size: its dark background.
    const QColor wiringBackground = QImage(QStringLiteral(":/images/PuissanceTri.png")).pixelColor(5, 5);
    EXPECT_TRUE(near(powerPicture.pixelColor(15, (140 - 75) / 2 + 5), wiringBackground, 4));
    EXPECT_TRUE(near(powerPicture.pixelColor(0, 0), colour));
    // The meter's power box draws no reference circle.
    EXPECT_FALSE(near(powerPicture.pixelColor(715 - 26, 140 - 25), colour, 60));

    const QImage loggerPicture = render(logger);
    const QImage viewerPicture = render(viewer);
    saveArtefact(loggerPicture, "box-logger-power.png");
    saveArtefact(viewerPicture, "box-viewer-power.png");
    EXPECT_TRUE(near(loggerPicture.pixelColor(709 - 26, 75 - 25), colour, 60));
    EXPECT_TRUE(near(viewerPicture.pixelColor(709 - 26, 75 - 25), colour, 60));
    // The auxiliary lines lie below the values: drawn in the recorder's box only.
    const QRect lines(0, 12 + 18 + 20, 600, 75 - (12 + 18 + 20) - 3);
    EXPECT_NE(loggerPicture.copy(lines), viewerPicture.copy(lines));
    ViewerPowerChannel blank;
    blank.trigger(&m);
    blank.trigger(trace(4));
    blank.trigger(&m);
    EXPECT_EQ(render(blank).copy(lines), viewerPicture.copy(lines));
}
