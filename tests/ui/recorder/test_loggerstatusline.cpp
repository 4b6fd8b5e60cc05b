// The recorder's and the viewer's status lines: what each parameter notice shows and publishes,
// the file name with its blinking background, the cursor readings, and the viewer's start time
// read from the record file's header.
#include "core/filehdr.h"
#include "core/gest_db.h"
#include "network/user_int.h"
#include "tests/support/linkedtraces.h"
#include "tests/ui/support/homescreen.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/traces/loggerstatusline.h"
#include "ui/viewer/viewerstatusline.h"

#include <QDateTime>
#include <QImage>
#include <QPainter>

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

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

QImage render(StatusLine& item)
{
    QImage image(static_cast<int>(item.width()), static_cast<int>(item.height()), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    item.paint(&painter);
    return image;
}

void setFileName(const char* name)
{
    std::memset(data.loggerFileName, 0, sizeof data.loggerFileName);
    std::memcpy(data.loggerFileName, name, std::min(std::strlen(name), sizeof data.loggerFileName));
}

class LoggerStatusLineTest : public uitest::HomeViewTest {
protected:
    void adjustSetup() override
    {
        data.instrumentMode = 130;
        data.acqRunStop = 0;
        data.cursorState = 0;
        data.channelFlags = 1;
        setFileName("tavlin_2026-12-10_09-00-00.rec");
    }
};

} // namespace

TEST_F(LoggerStatusLineTest, RangeTextsAtConstruction)
{
    LoggerStatusLine line;
    ASSERT_EQ(line.rangeTexts().size(), 2);
    EXPECT_EQ(line.rangeTexts()[0], QString::fromUtf8("\u2190 20000 s \u2192 "));
    EXPECT_EQ(line.rangeTexts()[1], QString::fromUtf8("\u2192 0.2 s \u2190"));
    EXPECT_TRUE(line.fileText().isEmpty());
    EXPECT_FALSE(line.blinkTimer().isActive());
    EXPECT_EQ(line.blinkTimer().interval(), 500);
    EXPECT_FALSE(line.blinkTimer().isSingleShot());
}

TEST_F(LoggerStatusLineTest, EachParameterSetsItsTexts)
{
    const QString name = QStringLiteral("tavlin_2026-12-10_09-00-00.rec");
    const struct {
        int parameter;
        bool stop;
        bool live;
        bool cursors;
        const char* trigger;  // after "..." set by the view
        bool file;            // file text set and blinking
        bool setting;         // the setting's texts for 2 s
    } rows[] = {
        {0, false, true, false, "running", true, false},
        {0, true, false, true, "stop", false, false},
        {param::spareWord29, false, true, true, "running", true, false},
        // No live channel: nothing is recorded, never "running".
        {param::spareWord29, false, false, false, "stop", false, false},
        {param::acqRunStop, true, true, false, "stop", false, false},
        {param::trigStatus, false, true, true, "running", false, false},
        {param::loggerFileName, false, true, false, "...", true, false},
        {param::loggerFileName, false, false, true, "...", false, false},
        {param::offsetCh1, false, true, true, "...", false, true},
        {param::offsetCh1, false, false, false, "...", false, true},
        {param::traceOnCh2, false, true, true, "running", false, false},
        {param::traceOnCh2, false, true, false, "running", false, false},
        {param::traceOnCh2, false, false, false, "stop", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "parameter " << row.parameter << " stop " << row.stop << " live "
                                          << row.live << " cursors " << row.cursors);
        data.acqRunStop = row.stop ? 1 : 0;
        data.channelFlags = row.live ? 0x5 : 0x100;
        data.cursorState = row.cursors ? 1 : 0;
        LoggerStatusLine line;
        line.setProperty("trigger", QStringLiteral("..."));
        setPelanodeMisc({QStringLiteral("old")}, {QStringLiteral("old")});

        emit home_->screenMajSignal(row.parameter);

        EXPECT_EQ(line.trigger(), QString::fromLatin1(row.trigger));
        EXPECT_EQ(line.fileText(), row.file ? name : QString());
        EXPECT_EQ(line.blinkTimer().isActive(), row.file);
        EXPECT_EQ(line.fugitiveTimer().isActive(), row.setting);
        if (row.setting) {
            EXPECT_FALSE(line.misc1().isEmpty());
            EXPECT_TRUE(line.misc2().isEmpty());
            // The setting's texts reach the cache only when the display ends.
            EXPECT_EQ(cached().misc1, "old ");
        } else if (row.cursors) {
            // Cursor 2's time and level.
            ASSERT_FALSE(line.misc1().isEmpty());
            ASSERT_FALSE(line.misc2().isEmpty());
            EXPECT_EQ(line.misc1()[0], QStringLiteral("T1:"));
            EXPECT_EQ(line.misc2()[0], QStringLiteral("V1:"));
            EXPECT_EQ(cached().misc1.rfind("T1: ", 0), 0u) << cached().misc1;
        } else {
            EXPECT_TRUE(line.misc1().isEmpty());
            EXPECT_TRUE(line.misc2().isEmpty());
            EXPECT_EQ(cached().misc1, "+");
            EXPECT_EQ(cached().misc2, "+");
        }
        EXPECT_EQ(cached().trigger,
                  ((row.file ? name : QString()) + QStringLiteral(" - ") + QString::fromLatin1(row.trigger)).toStdString());
    }
}

TEST_F(LoggerStatusLineTest, TheEndOfASettingDisplayPublishesOnlyWithTheCursorsOff)
{
    for (const bool cursors : {false, true}) {
        SCOPED_TRACE(cursors ? "cursors on" : "cursors off");
        data.cursorState = cursors ? 1 : 0;
        LoggerStatusLine line;
        line.screenMajSlot(param::offsetCh1);
        ASSERT_TRUE(line.fugitiveTimer().isActive());
        setPelanodeMisc({QStringLiteral("kept")}, {});
        ASSERT_TRUE(processEventsUntil([&] { return !line.fugitiveTimer().isActive(); }, 5000));
        processEventsOnce(10);
        if (cursors) {
            ASSERT_FALSE(line.misc1().isEmpty());
            EXPECT_EQ(line.misc1()[0], QStringLiteral("T1:"));
            EXPECT_EQ(cached().misc1, "kept ");
        } else {
            EXPECT_TRUE(line.misc1().isEmpty());
            EXPECT_TRUE(line.misc2().isEmpty());
            EXPECT_EQ(cached().misc1, "+");
        }
    }
}

TEST_F(LoggerStatusLineTest, CursorMovesShowCursorTwo)
{
    LoggerStatusLine line;
    data.cursorState = 1;
    emit home_->screenManualMeasurementSignal();
    ASSERT_EQ(line.misc1().size(), 6);
    EXPECT_EQ(line.misc1()[2], QStringLiteral(" T2:"));
    data.cursorState = 0;
    emit home_->screenManualMeasurementSignal();
    EXPECT_TRUE(line.misc1().isEmpty());
    EXPECT_EQ(cached().misc1, "+");
}

TEST_F(LoggerStatusLineTest, TheFileBackgroundBlinks)
{
    LoggerStatusLine line;
    line.setSize(QSizeF(760, 35));
    line.screenMajSlot(0);
    ASSERT_TRUE(line.blinkTimer().isActive());
    const auto background = [&] { return render(line).pixelColor(348, 8); };
    EXPECT_EQ(background(), QColor(Qt::black));
    line.blinkSlot();
    EXPECT_TRUE(line.blinkOn());
    EXPECT_EQ(background(), QColor(Qt::darkGray));
    // The timer toggles it back.
    ASSERT_TRUE(processEventsUntil([&] { return !line.blinkOn(); }, 2000));
    EXPECT_EQ(background(), QColor(Qt::black));
    // Nothing left of the background's x: the range texts start at 370.
    EXPECT_EQ(render(line).pixelColor(346, 8).alpha(), 0);
}

TEST_F(LoggerStatusLineTest, AFullNameFieldEndsAtItsFortyBytes)
{
    // The controller fills all 40 bytes without a NUL; the next field must not show.
    const std::string forty(40, 'n');
    std::memcpy(data.loggerFileName, forty.data(), 40);
    const size_t after = offsetof(database, loggerFileName) + sizeof data.loggerFileName;
    ASSERT_LT(after, sizeof(database));
    const uint8_t saved = reinterpret_cast<uint8_t*>(&data)[after];
    reinterpret_cast<uint8_t*>(&data)[after] = 'X';
    LoggerStatusLine line;
    line.screenMajSlot(param::loggerFileName);
    reinterpret_cast<uint8_t*>(&data)[after] = saved;
    EXPECT_EQ(line.fileText(), QString::fromStdString(forty));
}

// ---- the viewer's line ------------------------------------------------------------------------

namespace {

class ViewerStatusLineTest : public LoggerStatusLineTest {
protected:
    void SetUp() override
    {
        LoggerStatusLineTest::SetUp();
        // Record names are relative to the current directory (restored by the fixture).
        ASSERT_EQ(::chdir(root_.c_str()), 0);
    }

    // A record file of that name stamped t (local time), as the recorder writes it.
    static void writeRecord(const char* name, int32_t t)
    {
        const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(WriteFileHeader(fd, kFileTypeRecording, nullptr, t), 0);
        ::close(fd);
    }
    // A header whose date field holds the text.
    static void writeHeaderWithDate(const char* name, const char* date)
    {
        TFileHeader header;
        std::memset(&header, '.', sizeof header);
        std::memcpy(header.dateText, date, std::min(std::strlen(date), sizeof header.dateText));
        const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::write(fd, &header, sizeof header), static_cast<ssize_t>(sizeof header));
        ::close(fd);
    }

    int32_t cursors_[7] = {};
};

} // namespace

TEST_F(ViewerStatusLineTest, StartTimeFromTheHeaderAndKeptOnABadFile)
{
    const int32_t start = 1765357200;  // 2025-12-10 09:00:00 UTC
    writeRecord("first.rec", start);
    writeHeaderWithDate("baddate.rec", "2026-13-45_99-99-99");
    {
        const int fd = ::open("short.rec", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::write(fd, "tiny", 4), 4);
        ::close(fd);
    }

    ViewerStatusLine line;
    setFileName("first.rec");
    emit home_->screenMajSignal(param::channelFlags);
    EXPECT_EQ(line.fileText(), QStringLiteral("first.rec"));
    EXPECT_EQ(line.startTime(), static_cast<uint32_t>(start));
    // The viewer publishes the name alone and never blinks from these.
    EXPECT_EQ(cached().trigger, "first.rec");
    EXPECT_FALSE(line.blinkTimer().isActive());

    const char* const failing[] = {"baddate.rec", "short.rec", "missing.rec"};
    for (const char* name : failing) {
        setFileName(name);
        emit home_->screenMajSignal(param::spareWord29);
        EXPECT_EQ(line.fileText(), QString::fromLatin1(name));
        EXPECT_EQ(line.startTime(), static_cast<uint32_t>(start)) << name;
    }
    // Other parameters leave the name.
    setFileName("first.rec");
    emit home_->screenMajSignal(param::loggerFileName);
    EXPECT_EQ(line.fileText(), QStringLiteral("missing.rec"));
}

TEST_F(ViewerStatusLineTest, CursorOneAsADateAndTimeTruncatedToTheSecond)
{
    const int32_t start = 1765357200;
    writeRecord("rec.rec", start);
    setFileName("rec.rec");
    // Cursor 1 at position 63 of channel 1's record: 12.6 s after the start.
    TLinkedTraces traces(TLinkedTraces::kLive);
    cursors_[0] = 63;
    setupLinks().cursorTablePtr = cursors_;
    data.measRefChannel = 1;

    ViewerStatusLine line;
    line.screenMajSlot(0);
    data.cursorState = 1;
    // Through the base's connection by name: the viewer's own slot answers.
    emit home_->screenManualMeasurementSignal();

    const QString expected = QDateTime::fromSecsSinceEpoch(start + 12).toString(QStringLiteral("yyyy-MM-dd:hh-mm-ss"));
    ASSERT_EQ(line.misc1().size(), 2);
    EXPECT_EQ(line.misc1()[0], QStringLiteral("T1:"));
    EXPECT_EQ(line.misc1()[1], expected);
    ASSERT_FALSE(line.misc2().isEmpty());
    EXPECT_EQ(line.misc2()[0], QStringLiteral("V1:"));
    EXPECT_EQ(cached().misc1, ("T1: " + expected + " ").toStdString());

    data.cursorState = 0;
    emit home_->screenManualMeasurementSignal();
    EXPECT_TRUE(line.misc1().isEmpty());
    EXPECT_EQ(cached().misc1, "+");
}

TEST_F(ViewerStatusLineTest, TheEndOfASettingDisplayPublishesNothing)
{
    ViewerStatusLine line;
    data.cursorState = 0;
    line.screenMajSlot(param::offsetCh1);
    ASSERT_TRUE(line.fugitiveTimer().isActive());
    setPelanodeMisc({QStringLiteral("kept")}, {});
    ASSERT_TRUE(processEventsUntil([&] { return line.misc1().isEmpty(); }, 5000));
    EXPECT_EQ(cached().misc1, "kept ");
}

TEST_F(LoggerStatusLineTest, StatusLinesAreKnownToQml)
{
    QQmlEngine engine;
    for (const char* type : {"LoggerStatusLine", "ViewerStatusLine"}) {
        QQmlComponent component(&engine);
        component.setData(QByteArray("import QtQuick 2.0\nimport com.brovak.scope 1.0\n") + type +
                              "_ { width: 760; height: 35; trigger: \"...\" }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        ASSERT_TRUE(object) << component.errorString().toStdString();
        EXPECT_STREQ(object->metaObject()->className(), type);
        EXPECT_EQ(object->property("trigger").toString(), QStringLiteral("..."));
    }
}
