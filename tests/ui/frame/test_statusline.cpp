// Status lines: battery icon and charging overlay from the level file, the storage icon and its
// ratio, the rescan after SD-card notices; the scope line's trigger status text, fugitive
// display, cursor texts, pass/fail counter and its painting.
#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "core/gest_db.h"
#include "network/user_int.h"
#include "tests/support/simboardtest.h"
#include "tests/ui/support/layoutcheck.h"
#include "ui/frame/homeview.h"
#include "ui/frame/scopestatusline.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reaches the lists the line keeps, to set what the cursor slots would otherwise fill.
class TScopeLine : public ScopeStatusLine {
public:
    using ScopeStatusLine::misc1_;
    using ScopeStatusLine::misc2_;
};

struct TStatus {
    std::string trigger, misc1, misc2, battery, warning, passfail;
};

TStatus cached()
{
    TStatus s;
    getPelanodeStatus(s.trigger, s.misc1, s.misc2, s.battery, s.warning, s.passfail);
    return s;
}

QImage rgb(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

class StatusLineTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        view_ = std::make_unique<HomeView>();
        po_g_homeView = view_.get();
    }
    void TearDown() override
    {
        line_.reset();
        po_g_homeView = nullptr;
        view_.reset();
        // The remote status texts as at a start, for the tests after this one.
        initPelanodeStatus();
        clearPelanodeViewStatus();
        TAcquisition::passFailCounter.raz();
        SimBoardTest::TearDown();
    }

    void writeLevel(const std::string& text)
    {
        ASSERT_TRUE(writeBoardFile(StatusLine::kBatteryLevelFile, text));
    }
    void makeDir(const char* boardDir)
    {
        ASSERT_EQ(::mkdir(hostPath(boardDir).c_str(), 0777), 0) << boardDir;
    }
    void insertCard()
    {
        for (const char* dir : {"/dev", "/media", "/media/user"})
            ::mkdir(hostPath(dir).c_str(), 0777);
        makeDir("/media/user/sdcard_p1");
        ASSERT_TRUE(writeBoardFile("/dev/mmcblk0p1", ""));
    }
    TScopeLine& line()
    {
        if (!line_)
            line_ = std::make_unique<TScopeLine>();
        return *line_;
    }

    std::unique_ptr<HomeView> view_;
    std::unique_ptr<TScopeLine> line_;
};

} // namespace

TEST_F(StatusLineTest, BatteryIconFromTheLevelFile)
{
    const struct {
        const char* file;  // nullptr: no file
        const char* icon;
        bool charging;
        const char* cached;
    } rows[] = {
        {"-45 ", ":/images/battery60.png", true, "Batterie: 45 % - en charge"},
        {"80", ":/images/battery100.png", false, "Batterie: 80 %"},
        {"0", "", false, "Batterie: 0 %"},
        {"19 ", ":/images/battery20.png", false, "Batterie: 19 %"},
        {"20 ", ":/images/battery40.png", false, "Batterie: 20 %"},
        {"59 ", ":/images/battery60.png", false, "Batterie: 59 %"},
        {"60 ", ":/images/battery80.png", false, "Batterie: 60 %"},
        {"79 ", ":/images/battery80.png", false, "Batterie: 79 %"},
        {"100 ", ":/images/battery100.png", false, "Batterie: 100 %"},
        {"-5", ":/images/battery20.png", true, "Batterie: 5 % - en charge"},
        {"junk", "", false, "Batterie: 0 %"},
        {nullptr, "", false, "Batterie: 0 %"},  // the last text stays cached
    };
    for (const auto& row : rows) {
        ::unlink(hostPath(StatusLine::kBatteryLevelFile).c_str());
        if (row.file)
            writeLevel(row.file);
        line().batteryLevelSlot();
        SCOPED_TRACE(row.file ? row.file : "(missing)");
        EXPECT_EQ(line().batteryIconName(), QString::fromLatin1(row.icon));
        EXPECT_EQ(line().batteryCharging(), row.charging);
        EXPECT_EQ(line().batteryIcon().isNull(), *row.icon == '\0');
        EXPECT_EQ(cached().battery, row.cached);
    }
}

TEST_F(StatusLineTest, ChargingOverlayIsDrawnOntoTheBatteryIcon)
{
    writeLevel("-45 ");
    line().batteryLevelSlot();
    const QImage charging = rgb(line().batteryIcon());
    const QImage plain = rgb(QPixmap(QStringLiteral(":/images/battery60.png")));
    ASSERT_EQ(charging.size(), plain.size());
    // The bolt sits in the middle; the two ends stay as the plain icon draws them.
    EXPECT_NE(charging.pixel(47, 9), plain.pixel(47, 9));
    EXPECT_EQ(charging.pixel(6, 9), plain.pixel(6, 9));
    EXPECT_EQ(charging.pixel(95, 9), plain.pixel(95, 9));
}

TEST_F(StatusLineTest, StorageRatioChoosesTheColour)
{
    const uint64_t big = uint64_t(1) << 40;
    const struct {
        uint64_t available, total;
        const char* colour;
    } rows[] = {
        {81, 100, "green"}, {80, 100, "orange"}, {51, 100, "orange"}, {50, 100, "red"},
        {0, 100, "red"},    {0, 0, "red"},       {big, big + 1, "green"}, {big / 2, big, "red"},
    };
    for (const auto& row : rows) {
        const QString colour = QString::fromLatin1(row.colour);
        EXPECT_EQ(StatusLine::storageIconName(row.available, row.total, true), ":/images/sdcard-" + colour + ".png")
            << row.available << "/" << row.total;
        EXPECT_EQ(StatusLine::storageIconName(row.available, row.total, false), ":/images/file_" + colour + "32.png");
    }
}

TEST_F(StatusLineTest, StorageScanFollowsTheCardAndKeepsItsIconWhenStatfsFails)
{
    // The seeded root may lack the user partition: make it.
    ::mkdir(hostPath("/media").c_str(), 0777);
    ::mkdir(hostPath("/media/user").c_str(), 0777);
    line().memoryScanSlot();
    EXPECT_TRUE(line().storageIconName().startsWith(QStringLiteral(":/images/file_"))) << line().storageIconName().toStdString();
    EXPECT_FALSE(line().storageIcon().isNull());

    insertCard();
    line().memoryScanSlot();
    const QString cardIcon = line().storageIconName();
    EXPECT_TRUE(cardIcon.startsWith(QStringLiteral(":/images/sdcard-"))) << cardIcon.toStdString();

    // The card's mount point goes away while its device node stays: statfs fails.
    ASSERT_EQ(::rmdir(hostPath("/media/user/sdcard_p1").c_str()), 0);
    ASSERT_EQ(::rename(hostPath("/media/user").c_str(), hostPath("/media/gone").c_str()), 0);
    line().memoryScanSlot();
    EXPECT_EQ(line().storageIconName(), cardIcon);
    EXPECT_FALSE(line().storageIcon().isNull());
}

TEST_F(StatusLineTest, CardNoticesRescanFiveSecondsAfterTheLastOne)
{
    QTimer& scan = line().scanTimer();
    EXPECT_TRUE(scan.isActive());
    EXPECT_EQ(scan.interval(), StatusLine::kScanIntervalMs);
    EXPECT_FALSE(line().fugitiveTimer().isActive());
    EXPECT_TRUE(line().fugitiveTimer().isSingleShot());
    EXPECT_EQ(line().fugitiveTimer().interval(), StatusLine::kFugitiveIntervalMs);

    emit view_->screenIhmSignal(6, 0, 0);
    EXPECT_EQ(scan.interval(), StatusLine::kRescanIntervalMs);
    ::usleep(1000 * 1000);  // a second later the next notice restarts the one timer
    emit view_->screenIhmSignal(6, 0, 0);
    EXPECT_TRUE(scan.isActive());
    EXPECT_EQ(scan.interval(), StatusLine::kRescanIntervalMs);
    EXPECT_GT(scan.remainingTime(), 4500);  // coarse timer: within 5 %

    emit view_->screenIhmSignal(3, 0, 0);  // other codes leave it alone
    EXPECT_EQ(scan.interval(), StatusLine::kRescanIntervalMs);

    // The scan that follows puts the five minutes back.
    writeLevel("50 ");
    line().batteryLevelSlot();
    line().memoryScanSlot();
    EXPECT_EQ(line().batteryIconName(), QStringLiteral(":/images/battery60.png"));
    EXPECT_TRUE(scan.isActive());
    EXPECT_EQ(scan.interval(), StatusLine::kScanIntervalMs);

    emit view_->screenIhmSignal(7, 0, 0);
    EXPECT_EQ(scan.interval(), StatusLine::kRescanIntervalMs);
}

TEST_F(StatusLineTest, ConstructionPublishesEmptyTexts)
{
    line();
    const TStatus s = cached();
    EXPECT_EQ(s.trigger, "+");
    EXPECT_EQ(s.misc1, "+");
    EXPECT_EQ(s.misc2, "+");
}

TEST_F(StatusLineTest, TriggerStatusText)
{
    struct TRow {
        int16_t runStop, status, source, edge1, edge2, mode;
        uint16_t instrument;
        const char* text;
    };
    const TRow rows[] = {
        {0, 4, 0, 1, 0, 1, 0, "waiting trigger, ch1 , - , trig'd"},
        {1, 4, 0, 1, 0, 1, 0, "stop, ch1 , - , trig'd"},
        {0, 0, 1, 0, 2, 0, 0, "running, ch2 , +/- , auto"},
        {0, 1, 2, 0, 0, 4, 0, "pretrig, ch3 , + , auto"},
        {0, 2, 3, 0, 0, 2, 0, "waiting qualifier, ch4 , + , sgl"},
        {0, 3, 4, 1, 2, 1, 0, "delay, line , - , trig'd"},
        {0, 5, 5, 2, 1, 1, 0, "postrig, extern , +/- , trig'd"},
        {0, 6, 6, 0, 1, 1, 0, "end, extern/5 , + , trig'd"},
        {0, 7, 7, 1, 0, 1, 0, "running,  , - , trig'd"},
        {0, 0, 0, 1, 0, 3, 0, "running, ch1 , - , "},          // mode 3 ends after the slope
        {0, 0, 1, 1, 1, 0, 18, "running, ch2 , +/- , auto"},   // dual-slope mode
        {0, 0, -1, 2, 1, 0, 0, "running,  , +/- , auto"},      // negative source: channel 1's slope
        {0, 0, -32768, 1, 2, 0, 0, "running,  , - , auto"},
        {0, 9, 0, 0, 0, 0, 0, ", ch1 , + , auto"},
    };
    for (const TRow& row : rows) {
        database setup;
        std::memcpy(&setup, &init_par, sizeof setup);
        setup.acqRunStop = row.runStop;
        setup.trigStatus = row.status;
        setup.trigSource = row.source;
        setup.trigEdgeCh1 = row.edge1;
        setup.trigEdgeCh2 = row.edge2;
        setup.trigEdgeCh3 = 0;
        setup.trigEdgeCh4 = 0;
        setup.trigMode = row.mode;
        setup.instrumentMode = row.instrument;
        EXPECT_EQ(ScopeStatusLine::composeTriggerStatus(setup).toStdString(), row.text);
    }
}

TEST_F(StatusLineTest, UpdateComposesAndPublishesAndStartsTheFugitiveDisplay)
{
    data.acqRunStop = 0;
    data.trigStatus = 4;
    data.trigSource = 0;
    data.trigEdgeCh1 = 1;
    data.trigMode = 1;
    data.cursorState = 0;
    line().misc1_ = QStringList{QStringLiteral("old")};
    line().misc2_ = QStringList{QStringLiteral("old")};

    // A code with status-line texts (autoset: none to show) starts the 2 s display.
    emit view_->screenMajSignal(param::autosetRequest);
    EXPECT_EQ(line().triggerStatusText(), QStringLiteral("waiting trigger, ch1 , - , trig'd"));
    EXPECT_TRUE(line().fugitiveTimer().isActive());
    EXPECT_TRUE(line().misc1().isEmpty());
    EXPECT_TRUE(line().misc2().isEmpty());
    TStatus s = cached();
    EXPECT_EQ(s.trigger, "waiting trigger- ch1 - neg - trig'd");
    EXPECT_EQ(s.misc1, "+");
    EXPECT_EQ(s.misc2, "+");

    // While it lasts the cursor slot leaves the lists alone.
    data.cursorState = 1;
    line().misc1_ = QStringList{QStringLiteral("T1:"), QStringLiteral("1ms")};
    emit view_->screenManualMeasurementSignal();
    EXPECT_EQ(cached().misc1, "+");

    // Its end with the cursors off empties the lists and publishes them.
    data.cursorState = 0;
    line().fugitiveDisplayEndSlot();
    EXPECT_TRUE(line().misc1().isEmpty());
    EXPECT_EQ(cached().misc1, "+");
}

TEST_F(StatusLineTest, CodeWithoutTextsShowsTheCursorValuesOnlyWhenCursorsAreOn)
{
    data.acqRunStop = 1;
    line().misc1_ = QStringList{QStringLiteral("T1:"), QString::fromUtf8("2μs")};
    line().misc2_ = QStringList{QStringLiteral("V1:"), QStringLiteral("1V")};
    setPelanodeMisc({}, {});

    data.cursorState = 0;
    line().screenMajSlot(14);
    EXPECT_FALSE(line().fugitiveTimer().isActive());
    EXPECT_EQ(line().misc1().size(), 2);
    EXPECT_EQ(cached().misc1, "+");
    EXPECT_EQ(cached().trigger, "stop- ch1 - pos - auto");

    // Cursors on: the readings of the time and level cursors (no trace linked here: dashes).
    data.cursorState = 1;
    line().screenMajSlot(14);
    EXPECT_EQ(cached().misc1.rfind("T1: ", 0), 0u) << cached().misc1;
    EXPECT_EQ(cached().misc2.rfind("V1: ", 0), 0u) << cached().misc2;

    // With cursors on, the end of a fugitive display gives the cursor texts back.
    line().misc2_.clear();
    line().fugitiveDisplayEndSlot();
    EXPECT_EQ(line().misc2().size(), 8);
    EXPECT_EQ(cached().misc2.rfind("V1: ", 0), 0u);
}

TEST_F(StatusLineTest, RefreshPublishesThePassFailCounterOrNothing)
{
    TAcquisition::passFailCounter.raz();
    TAcquisition::passFailCounter.incPass();
    TAcquisition::passFailCounter.incPass();
    TAcquisition::passFailCounter.incFail();
    data.passFailDisplay = 1;

    data.passFailOn = 0;
    setPelanodePassfailCounter(QStringLiteral("earlier"));
    emit view_->screenRefreshSignal();
    line();  // made after the first signal: nothing published yet
    EXPECT_EQ(cached().passfail, "earlier");
    emit view_->screenRefreshSignal();
    EXPECT_EQ(cached().passfail, "+");  // the empty text, as the cache stores it

    data.passFailOn = 1;
    emit view_->screenRefreshSignal();
    EXPECT_EQ(cached().passfail, TAcquisition::passFailCounter.get(1));
    EXPECT_NE(cached().passfail, "+");
}

TEST_F(StatusLineTest, TriggerPropertyWritesTheBaseText)
{
    line().setProperty("trigger", QStringLiteral("..."));
    EXPECT_EQ(line().triggerText(), QStringLiteral("..."));
    EXPECT_EQ(line().property("trigger").toString(), QStringLiteral("..."));
}

TEST_F(StatusLineTest, ScopeLineIsAQmlTypeWithItsTriggerProperty)
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick 2.0\nimport com.brovak.scope 1.0\n"
                      "ScopeStatusLine_ { width: 800; height: 40; trigger: \"...\" }",
                      QUrl());
    std::unique_ptr<QObject> object(component.create());
    ASSERT_TRUE(object) << component.errorString().toStdString();
    auto* scopeLine = qobject_cast<ScopeStatusLine*>(object.get());
    ASSERT_NE(scopeLine, nullptr);
    EXPECT_EQ(scopeLine->triggerText(), QStringLiteral("..."));
    // The view's "..." is the base's text only: the line draws its own status text.
    EXPECT_TRUE(scopeLine->triggerStatusText().isEmpty());
}

TEST_F(StatusLineTest, PaintsTextsAndBothIconsArtefact)
{
    writeLevel("-45 ");
    ::mkdir(hostPath("/media").c_str(), 0777);
    ::mkdir(hostPath("/media/user").c_str(), 0777);
    insertCard();
    data.acqRunStop = 0;
    data.trigStatus = 4;
    data.trigSource = 0;
    data.trigEdgeCh1 = 1;
    data.trigMode = 1;
    data.cursorState = 1;
    TScopeLine& l = line();
    l.setSize(QSizeF(800, 40));
    l.misc1_ = QStringList{QStringLiteral("T1:"), QStringLiteral("-1.20ms"), QStringLiteral(" T2:"), QStringLiteral("3.40ms")};
    l.misc2_ = QStringList{QStringLiteral("V1:"), QStringLiteral("250mV"), QStringLiteral(" V2:"), QStringLiteral("-1.05V")};
    l.screenMajSlot(14);

    QImage image(800, 40, QImage::Format_ARGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        l.paint(&painter);
    }
    QDir().mkpath(QStringLiteral(BENCHVIEW_ARTEFACT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(BENCHVIEW_ARTEFACT_DIR "/scope_status_line.png")));

    auto litIn = [&](QRect r) {
        int lit = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                lit += QColor(image.pixel(x, y)).lightness() > 100;
        return lit;
    };
    // Storage icon top left, battery icon 160 pixels before the edge below the trigger text, the
    // text ending 50 before the edge, field lists from x = 32 (fonts render at the painter's
    // resolution: regions, not exact glyphs).
    EXPECT_GT(litIn(QRect(8, 8, 16, 16)), 50);
    EXPECT_GT(litIn(QRect(800 - 160 + 5, StatusLine::kBatteryTop + 4, 60, 10)), 100);
    EXPECT_GT(litIn(QRect(800 - 300, 0, 240, 16)), 10);
    EXPECT_EQ(litIn(QRect(800 - 48, 0, 48, 40)), 0);
    EXPECT_GT(litIn(QRect(32, 0, 200, 16)), 10);
    EXPECT_GT(litIn(QRect(32, 18, 200, 16)), 10);

    // No text lies under the battery or the storage icon.
    const std::vector<PaintedLayout::Entry> drawn = l.paintedLayout().entries();
    for (const PaintedLayout::Entry& picture : drawn) {
        for (const PaintedLayout::Entry& text : drawn) {
            if (picture.text.isEmpty() && !text.text.isEmpty()) {
                EXPECT_FALSE(layoutcheck::collide(picture.rect, text.rect)) << text.text.toStdString();
            }
        }
    }
}
