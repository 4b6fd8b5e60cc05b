// The meter's status line (running or stop, the 2 s display of a changed setting, what it
// publishes, where it paints the battery) and the harmonic analyser's power button.
#include "board/board.h"
#include "core/gest_db.h"
#include "network/user_int.h"
#include "tests/ui/support/homescreen.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/meter/meterstatusline.h"
#include "ui/harmonic/toolpower.h"

#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QThread>

#include <gtest/gtest.h>
#include <memory>

namespace {

struct TStatus {
    std::string trigger, misc1, misc2, battery, warning, passfail;
};

TStatus cached()
{
    TStatus s;
    getPelanodeStatus(s.trigger, s.misc1, s.misc2, s.battery, s.warning, s.passfail);
    return s;
}

template <typename T>
QImage render(T& item)
{
    QImage image(static_cast<int>(item.width()), static_cast<int>(item.height()), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    item.paint(&painter);
    return image;
}

class MeterStatusLineTest : public uitest::HomeViewTest {
protected:
    void adjustSetup() override
    {
        data.instrumentMode = 128;
        data.acqRunStop = 0;
    }
};

} // namespace

TEST_F(MeterStatusLineTest, RunningOrStopAndTheChangedSettingForTwoSeconds)
{
    MeterStatusLine line;
    line.setProperty("trigger", QStringLiteral("..."));
    EXPECT_EQ(line.trigger(), QStringLiteral("..."));

    // A parameter without texts: the trigger text only.
    emit home_->screenMajSignal(param::meterCouplingCh1);
    EXPECT_EQ(line.trigger(), QStringLiteral("running"));
    EXPECT_TRUE(line.misc1().isEmpty());
    EXPECT_FALSE(line.fugitiveTimer().isActive());
    EXPECT_EQ(cached().trigger, "running");
    data.acqRunStop = 1;
    line.screenMajSlot(param::acqRunStop);
    EXPECT_EQ(line.trigger(), QStringLiteral("stop"));
    EXPECT_EQ(cached().trigger, "stop");
    data.acqRunStop = 0;

    // A setting with texts shows them for 2 s; the lists reach the cache only when emptied.
    setPelanodeMisc({QStringLiteral("old")}, {QStringLiteral("texts")});
    line.screenMajSlot(param::displayBrightness);
    ASSERT_EQ(line.misc1().size(), 2);
    EXPECT_TRUE(line.misc2().isEmpty());
    EXPECT_TRUE(line.fugitiveTimer().isActive());
    EXPECT_EQ(line.fugitiveTimer().interval(), 2000);
    EXPECT_EQ(cached().misc1, "old ");

    // A second change within the 2 s starts them anew; one without texts leaves them.
    QThread::msleep(700);
    data.displayBrightness = static_cast<int16_t>(data.displayBrightness == 9 ? 5 : 9);
    line.screenMajSlot(param::displayBrightness);
    const QStringList second = line.misc1();
    EXPECT_GT(line.fugitiveTimer().remainingTime(), 1700);
    QThread::msleep(700);
    line.screenMajSlot(param::meterRangeCh1);
    EXPECT_EQ(line.misc1(), second);
    EXPECT_LT(line.fugitiveTimer().remainingTime(), 1650);

    ASSERT_TRUE(processEventsUntil([&] { return line.misc1().isEmpty(); }, 5000));
    EXPECT_TRUE(line.misc2().isEmpty());
    EXPECT_EQ(cached().misc1, "+");
    EXPECT_EQ(cached().misc2, "+");
}

TEST_F(MeterStatusLineTest, PaintsTheTextAndTheBatteryBelowIt)
{
    ASSERT_TRUE(writeBoardFile(StatusLine::kBatteryLevelFile, "80"));
    MeterStatusLine line;
    line.setSize(QSizeF(800, 35));
    line.batteryLevelSlot();
    ASSERT_FALSE(line.batteryIcon().isNull());
    line.screenMajSlot(0);
    const QImage picture = render(line);
    // The battery in (640, 16, 100 x 18), nothing of it above.
    int battery = 0, above = 0;
    for (int x = 640; x < 740; ++x) {
        battery += picture.pixelColor(x, 25).alpha() > 0;
        above += picture.pixelColor(x, 14).alpha() > 0;
    }
    EXPECT_GT(battery, 50);
    EXPECT_EQ(above, 0);
    // "running" ends 50 pixels before the right edge, above the battery.
    int text = 0;
    for (int x = 600; x < 750; ++x)
        for (int y = 0; y < 13; ++y)
            text += picture.pixelColor(x, y).alpha() > 0;
    EXPECT_GT(text, 20);
    for (int x = 751; x < 800; ++x)
        for (int y = 0; y < 14; ++y)
            ASSERT_EQ(picture.pixelColor(x, y).alpha(), 0) << x << "," << y;
}

TEST_F(MeterStatusLineTest, PowerButtonFrameFollowsTheHarmonicPowerDisplay)
{
    ToolPower tool;
    tool.setSize(QSizeF(120, 60));
    EXPECT_EQ(tool.title(), QStringLiteral("Power"));
    const auto frame = [&] { return render(tool).pixelColor(60, 1); };
    EXPECT_EQ(frame(), QColor(Qt::white));

    // The colour the QML gives holds until the first parameter notice.
    tool.setProperty("color", QColor(Qt::black));
    EXPECT_EQ(tool.color(), QColor(Qt::black));
    EXPECT_EQ(frame(), QColor(Qt::black));

    const struct {
        int16_t harmPower;
        QColor colour;
    } rows[] = {{1, Qt::yellow}, {0, Qt::white}, {2, Qt::yellow}};
    for (const auto& row : rows) {
        data.harmPower = row.harmPower;
        emit home_->screenMajSignal(param::meterFunction);
        EXPECT_EQ(tool.color(), row.colour) << row.harmPower;
        EXPECT_EQ(frame(), row.colour) << row.harmPower;
    }
}

TEST_F(MeterStatusLineTest, MeterTypesAreKnownToQml)
{
    QQmlEngine engine;
    const struct {
        const char* document;
        const char* className;
    } rows[] = {
        {"MeterStatusLine_ { width: 800; height: 35; trigger: \"...\" }", "MeterStatusLine"},
        {"ToolPower_ { width: 120; height: 60; color: \"black\" }", "ToolPower"},
        {"MeterChannel_ {}", "MeterChannel"},
        {"PowerChannel_ {}", "PowerChannel"},
        {"LoggerChannel_ {}", "LoggerChannel"},
        {"MeterMeasurement_ {}", "MeterMeasurement"},
    };
    for (const auto& row : rows) {
        QQmlComponent component(&engine);
        component.setData(QByteArray("import QtQuick 2.0\nimport com.brovak.scope 1.0\n") + row.document, QUrl());
        std::unique_ptr<QObject> object(component.create());
        ASSERT_TRUE(object) << component.errorString().toStdString();
        EXPECT_STREQ(object->metaObject()->className(), row.className);
    }
    QQmlComponent line(&engine);
    line.setData("import QtQuick 2.0\nimport com.brovak.scope 1.0\nMeterStatusLine_ { trigger: \"...\" }", QUrl());
    std::unique_ptr<QObject> object(line.create());
    ASSERT_TRUE(object);
    EXPECT_EQ(object->property("trigger").toString(), QStringLiteral("..."));
    QQmlComponent tool(&engine);
    tool.setData("import QtQuick 2.0\nimport com.brovak.scope 1.0\nToolPower_ { color: \"black\" }", QUrl());
    std::unique_ptr<QObject> power(tool.create());
    ASSERT_TRUE(power);
    EXPECT_EQ(power->property("color").value<QColor>(), QColor(Qt::black));
}
