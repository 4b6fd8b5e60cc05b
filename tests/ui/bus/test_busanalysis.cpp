// The bus-analysis items: the status line's texts and painting, the file selection's list,
// display and request, the limit editor's table, hit test and saved file, the results panel's
// reading of the report and its copy, and the view's notices.
#include "board/board.h"
#include "busanalysis/bus.h"
#include "core/gest_db.h"
#include "core/xmlutilities.h"
#include "network/user_int.h"
#include "tests/busanalysis/reportfixture.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/bus/busanalysisstatusline.h"
#include "ui/bus/busanalysisview.h"
#include "ui/bus/buslimits.h"
#include "ui/bus/busresults.h"
#include "ui/bus/busselection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

const QRegularExpression kDefaultName(QStringLiteral("^tavlin_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}$"));
const char* kReport = "/var/tmp/busAnalysisResults.html";
const char* kUserFolder = "/media/user/bus-limits";

void setBusFileName(const char* name)
{
    std::memset(data.busFileName, 0, sizeof data.busFileName);
    std::memcpy(data.busFileName, name, std::min(std::strlen(name), sizeof data.busFileName));
}

std::string pointedText(intptr_t p) { return reinterpret_cast<const char*>(p); }

// A small user descriptor: title, comment, optional bitmap and the measurements given as
// "name|unit|min|max|warning" in one group.
std::string userDescriptor(const std::string& title, const std::string& bitmap, const std::vector<std::string>& measures)
{
    std::string text = "<FileBUs>\r\n<General>\r\n";
    if (!bitmap.empty())
        text += "<BITMAP a=\"" + bitmap + "\"/>\r\n";
    text += "</General>\r\n<BUS>\r\n<TITLE a=\"" + title + "\"/>\r\n<COMMENT a=\"c of " + title + "\"/>\r\n</BUS>\r\n";
    text += "<MESURE0>\r\n";
    for (const std::string& m : measures) {
        const QStringList f = QString::fromStdString(m).split(QLatin1Char('|'));
        text += "<MESURE>\r\n<NameMesure a=\"" + f[0].toStdString() + "\" unit=\"" + f[1].toStdString() + "\"/>\r\n";
        text += "<LimiteMin a=\"" + f[2].toStdString() + "\"/>\r\n<LimiteMax a=\"" + f[3].toStdString() + "\"/>\r\n";
        text += "<Warning a=\"" + f[4].toStdString() + "\"/>\r\n</MESURE>\r\n";
    }
    return text + "</MESURE0>\r\n</FileBUs>\r\n";
}

std::string cachedTrigger()
{
    std::string trigger, m1, m2, battery, warning, passfail;
    getPelanodeStatus(trigger, m1, m2, battery, warning, passfail);
    return trigger;
}

// Shown as the dialog panel shows it: from hidden.
void showPanel(QQuickItem& panel)
{
    panel.setOpacity(0);
    panel.setOpacity(1);
}

class BusUiTest : public uitest::HomeViewTest {
protected:
    void SetUp() override
    {
        uitest::HomeViewTest::SetUp();
        QObject::connect(home_.get(), &HomeView::screenMessageSignal, home_.get(),
                         [this](int code, const QString& text) { messages_ << QStringLiteral("%1 %2").arg(code).arg(text); });
        for (const char* dir : {"/media", "/media/user", "/var", "/var/tmp"})
            ::mkdir(hostPath(dir).c_str(), 0777);
    }

    void writeUserFile(const std::string& name, const std::string& text)
    {
        ::mkdir(hostPath(kUserFolder).c_str(), 0777);
        std::ofstream(hostPath((std::string(kUserFolder) + "/" + name).c_str()), std::ios::binary) << text;
    }
    std::string userFile(const std::string& name)
    {
        return readHostFile(hostPath((std::string(kUserFolder) + "/" + name).c_str()));
    }

    QStringList messages_;
};

// ---- Status line ---------------------------------------------------------------------------

TEST_F(BusUiTest, StatusTextOfEachSetupAndItsCopyInTheStatusCache)
{
    struct Case {
        int16_t runStop, status, source, edge1, edge2, mode;
        uint16_t instrument;
        const char* text;
    } cases[] = {
        {0, 4, 6, 1, 0, 2, 17, "waiting trigger, extern/5 , - , sgl"},
        // State 0 reads "stop" here; a stopped acquisition overrides any state word.
        {0, 0, 0, 0, 0, 0, 17, "stop, ch1 , + , auto"},
        {1, 4, 1, 0, 1, 1, 17, "stop, ch2 , - , trig'd"},
        {0, 7, 4, 2, 1, 4, 17, "running, line , +/- , auto"},
        {0, 1, 5, 1, 2, 3, 17, "pretrig, extern , - , "},
        {0, 6, 9, 0, 0, 9, 17, "end,  , + , "},
        {0, 5, 1, 0, 2, 0, 18, "postrig, ch2 , +/- , auto"},
    };
    BusAnalysisStatusLine line;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        data.acqRunStop = c.runStop;
        data.trigStatus = c.status;
        data.trigSource = c.source;
        data.trigEdgeCh1 = c.edge1;
        data.trigEdgeCh2 = c.edge2;
        data.trigMode = c.mode;
        data.instrumentMode = c.instrument;
        setPelanodeTriggerStatus(QString());
        line.screenMajSlot(param::trigMode);
        EXPECT_EQ(line.statusText().toStdString(), c.text);
        // The cache holds the text in its own form.
        const std::string published = cachedTrigger();
        setPelanodeTriggerStatus(QString::fromLatin1(c.text));
        EXPECT_EQ(published, cachedTrigger());
    }
}

TEST_F(BusUiTest, FileTextFollowsOnlyTheFileNoticesAndStaysWithinTheField)
{
    BusAnalysisStatusLine line;
    setBusFileName("CanHS_500kbps.bus");
    line.screenMajSlot(param::trigMode);
    EXPECT_TRUE(line.busFileText().isEmpty());
    line.screenMajSlot(param::busFileName);
    EXPECT_EQ(line.busFileText(), QStringLiteral("CanHS_500kbps.bus"));
    setBusFileName("RS232_9600bps.bus");
    line.screenMajSlot(param::acqRunStop);
    EXPECT_EQ(line.busFileText(), QStringLiteral("CanHS_500kbps.bus"));
    line.screenMajSlot(0);
    EXPECT_EQ(line.busFileText(), QStringLiteral("RS232_9600bps.bus"));

    // 40 bytes without a terminator, the next field poisoned: the text ends with the field.
    std::memset(data.busFileName, 'x', sizeof data.busFileName);
    auto* after = reinterpret_cast<char*>(&data.busFileName) + sizeof data.busFileName;
    const char saved = *after;
    *after = 'Z';
    line.screenMajSlot(0);
    *after = saved;
    EXPECT_EQ(line.busFileText(), QString(40, QLatin1Char('x')));
}

TEST_F(BusUiTest, PaintsStateFileNameAndIconsArtefact)
{
    ASSERT_TRUE(writeBoardFile(StatusLine::kBatteryLevelFile, "-45 "));
    for (const char* dir : {"/dev", "/media/user/sdcard_p1"})
        ::mkdir(hostPath(dir).c_str(), 0777);
    ASSERT_TRUE(writeBoardFile("/dev/mmcblk0p1", ""));
    setBusFileName("CanHS_500kbps.bus");
    data.trigStatus = 4;
    BusAnalysisStatusLine line;
    line.setSize(QSizeF(760, 40));
    line.screenMajSlot(0);
    ASSERT_FALSE(line.batteryIcon().isNull());
    ASSERT_FALSE(line.storageIcon().isNull());

    QImage image(760, 40, QImage::Format_ARGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        line.paint(&painter);
    }
    QDir().mkpath(QStringLiteral(BENCHVIEW_ARTEFACT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(BENCHVIEW_ARTEFACT_DIR "/bus_status_line.png")));
    auto litIn = [&](QRect r) {
        int lit = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                lit += QColor(image.pixel(x, y)).lightness() > 100;
        return lit;
    };
    // Storage icon top left, battery icon from y = 16 160 pixels before the edge (below the
    // state text, which ends 50 before it), the file name from x = 200 on the second line.
    EXPECT_GT(litIn(QRect(8, 8, 16, 16)), 50);
    EXPECT_GT(litIn(QRect(760 - 160 + 5, 20, 60, 10)), 100);
    EXPECT_EQ(litIn(QRect(760 - 48, 0, 48, 40)), 0);
    EXPECT_GT(litIn(QRect(200, 12, 150, 12)), 10);
    EXPECT_EQ(litIn(QRect(34, 12, 160, 28)), 0);
}

// ---- File selection ------------------------------------------------------------------------

TEST_F(BusUiTest, ListHoldsBuiltInAndFittingUserFilesInCaseInsensitiveOrder)
{
    BusSelection selection;
    showPanel(selection);
    const QStringList builtIn = selection.getFileList();
    ASSERT_EQ(builtIn.size(), 34);
    EXPECT_TRUE(builtIn.contains(QStringLiteral("CanHS_500kbps.bus")));
    EXPECT_TRUE(builtIn.contains(QStringLiteral("RS485_inf4V_10Mbps.bus")));

    writeUserFile("CanHS_500kbps.bus", userDescriptor("mine", "", {}));
    writeUserFile("aaa.bus", "");
    writeUserFile("zz.BUS", "");
    writeUserFile("notes.txt", "");
    const std::string longName = std::string(41, 'l') + ".bus";  // 45 characters
    writeUserFile(longName, "");
    showPanel(selection);
    const QStringList list = selection.getFileList();
    EXPECT_EQ(list.size(), 36);
    EXPECT_EQ(list.first(), QStringLiteral("aaa.bus*"));
    const int builtInAt = list.indexOf(QStringLiteral("CanHS_500kbps.bus"));
    ASSERT_GE(builtInAt, 0);
    EXPECT_EQ(list.value(builtInAt + 1), QStringLiteral("CanHS_500kbps.bus*"));
    for (int i = 1; i < list.size(); ++i)
        EXPECT_LE(list[i - 1].compare(list[i], Qt::CaseInsensitive), 0) << list[i].toStdString();
    EXPECT_FALSE(list.contains(QString::fromStdString(longName) + QLatin1Char('*')));
}

TEST_F(BusUiTest, DisplayStepShowsTheChosenDescriptorAndKeepsItsTextsOnFailure)
{
    writeUserFile("pic.bus", userDescriptor("With &amp; picture", "bitmap/can.png", {}));
    writeUserFile("bare.bus", userDescriptor("Bare", "", {}));
    writeUserFile("broken.bus", "<FileBUs>\r\n<BUS>\r\n");
    BusSelection selection;
    setBusFileName("CanHS_500kbps.bus");
    showPanel(selection);
    EXPECT_EQ(selection.title(), QStringLiteral("CAN HS 500 kbps\nISO 11898-2"));
    EXPECT_EQ(selection.comment(), QStringLiteral("High-speed CAN, differential two-wire bus"));
    EXPECT_FALSE(selection.image().isNull());
    uitest::takeRequests();

    struct Case {
        const char* name;
        const char* title;
        bool picture;
    } cases[] = {
        {"pic.bus*", "With & picture", true},
        // No picture of its own: none, never the previous bus's.
        {"bare.bus*", "Bare", false},
        {"pic.bus*", "With & picture", true},
        // Unreadable or unknown: texts and picture kept.
        {"broken.bus*", "With & picture", true},
        {"missing.bus*", "With & picture", true},
        {"Nothing.bus", "With & picture", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int shown = 0;
        QMetaObject::Connection counter = QObject::connect(&selection, &BusSelection::dataChanged, [&shown] { ++shown; });
        emit selection.busSelectSignal(QString::fromLatin1(c.name));
        QObject::disconnect(counter);
        EXPECT_EQ(shown, 1);
        EXPECT_EQ(selection.title(), QString::fromLatin1(c.title));
        EXPECT_EQ(!selection.image().isNull(), c.picture);
    }
    // Every choice is sent, the unknown ones too.
    EXPECT_EQ(uitest::takeRequests().size(), std::size(cases));
}

TEST_F(BusUiTest, SelectionPostsTheNameEvenWhenCurrentAndRefusesOneTooLongForTheField)
{
    setBusFileName("CanHS_500kbps.bus");
    BusSelection selection;
    // Refreshing the panel posts nothing.
    showPanel(selection);
    EXPECT_TRUE(uitest::takeRequests().empty());

    emit selection.busSelectSignal(QStringLiteral("CanHS_500kbps.bus"));
    auto posted = uitest::takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, REQ_SET_PARAM);
    EXPECT_EQ(posted[0].code, param::busFileName);
    EXPECT_EQ(posted[0].auxValue, 0);
    EXPECT_EQ(posted[0].senderId, senderValue(MENU_id));
    EXPECT_EQ(posted[0].intValue, reinterpret_cast<intptr_t>(BusSelection::selectionBuffer()));
    EXPECT_EQ(pointedText(posted[0].intValue), "CanHS_500kbps.bus");

    const QString fits = QString(38, QLatin1Char('f')) + QLatin1Char('*');
    emit selection.busSelectSignal(fits);
    posted = uitest::takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(pointedText(posted[0].intValue), fits.toStdString());

    const QString tooLong = QString(39, QLatin1Char('g')) + QLatin1Char('*');
    emit selection.busSelectSignal(tooLong);
    EXPECT_TRUE(uitest::takeRequests().empty());
    EXPECT_EQ(messages_, QStringList{QStringLiteral("23 ") + tooLong});
    EXPECT_EQ(BusSelection::selectionBuffer(), fits.toStdString());
}

// ---- Limit editor --------------------------------------------------------------------------

TEST_F(BusUiTest, TheCanFileGivesItsTenMeasurementsWithTheirLimits)
{
    setBusFileName("CanHS_500kbps.bus");
    BusLimits limits;
    limits.setEnabled(false);
    limits.setEnabled(true);
    EXPECT_EQ(limits.title(), QStringLiteral("CAN HS 500 kbps\tISO 11898-2"));
    EXPECT_TRUE(kDefaultName.match(limits.filename()).hasMatch());
    struct Row {
        const char* name;
        const char* unit;
        float min, max, warning;
    } expected[] = {
        {"Vdiff Dom", "V", 1.2f, 3.0f, 10},   {"Vdiff Rec", "V", -0.12f, 0.05f, 10},
        {"VCanH Dom", "V", -0.8f, 7.0f, 10},  {"VCanH Rec", "V", -2.12f, 7.0f, 10},
        {"Time Rise", "s", NAN, 3.12e-07f, 10}, {"Time Fall", "s", NAN, 3.12e-07f, 10},
        {"Time Data", "s", NAN, NAN, NAN},    {"Jitter", "%", NAN, NAN, NAN},
        {"Over+", "%", NAN, NAN, NAN},        {"Over-", "%", NAN, NAN, NAN},
    };
    ASSERT_EQ(limits.limits().size(), static_cast<int>(std::size(expected)));
    const auto same = [](float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
    for (int i = 0; i < limits.limits().size(); ++i) {
        const TMeasurementSpecs& s = limits.limits()[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(s.name, expected[i].name);
        EXPECT_EQ(s.unit, expected[i].unit);
        EXPECT_TRUE(same(s.minimum, expected[i].min)) << s.minimum;
        EXPECT_TRUE(same(s.maximum, expected[i].max)) << s.maximum;
        EXPECT_TRUE(same(s.warning, expected[i].warning)) << s.warning;
    }
}

TEST_F(BusUiTest, HitTestValuesAndBadIndices)
{
    writeUserFile("four.bus", userDescriptor("Four", "", {"a|V|1|2|3", "b|V|4|5|6", "c|V|7|8|9", "d|V|10|11|12"}));
    setBusFileName("four.bus*");
    BusLimits limits;
    limits.setEnabled(false);
    limits.setEnabled(true);
    ASSERT_EQ(limits.limits().size(), 4);
    const struct {
        int x, y, item;
    } taps[] = {{530, 25, 31}, {455, 25, 30}, {380, 25, -1}, {600, 25, 32}, {10, 5, -1},
                {130, 5, 0},   {189, 5, 0},   {190, 5, 1},   {250, 5, 2},   {300, 45, -1}, {-5, 5, -1}};
    for (const auto& t : taps)
        EXPECT_EQ(limits.getClickedItem(t.x, t.y), t.item) << t.x << "," << t.y;
    EXPECT_EQ(limits.getValue(32), 12.0);
    EXPECT_EQ(limits.getValue(0), 1.0);
    for (int bad : {33, 40, -1, 9})
        EXPECT_TRUE(std::isnan(limits.getValue(bad))) << bad;

    // Indices outside the entries change nothing; a column beyond the warning stores nothing.
    for (int bad : {-1, 40, 1000})
        limits.setValue(bad, 99);
    EXPECT_FALSE(limits.modified());
    for (int bad : {3, 19})
        limits.setValue(bad, 99);
    for (int i = 0; i < 4; ++i)
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(limits.getValue(i * 10 + column), 3 * i + column + 1) << i << " " << column;
    limits.setValue(21, 0.5);
    EXPECT_TRUE(limits.modified());
    EXPECT_EQ(limits.getValue(21), 0.5);
}

TEST_F(BusUiTest, CloseWithoutChangeWritesNothingAndAChangeSavesAndSelectsFromTwoBuffers)
{
    setBusFileName("CanHS_500kbps.bus");
    BusLimits limits;
    limits.setEnabled(false);
    limits.setEnabled(true);
    limits.setEnabled(false);
    EXPECT_TRUE(uitest::takeRequests().empty());
    EXPECT_FALSE(QDir(QString::fromStdString(hostPath(kUserFolder))).exists());

    limits.setEnabled(true);
    limits.setFilename(QStringLiteral("mylimits"));
    limits.setValue(0, 0.1);   // Vdiff Dom's minimum
    limits.setValue(41, NAN);  // Time Rise's maximum
    limits.setEnabled(false);
    const auto posted = uitest::takeRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].kind, REQ_SCREEN);
    EXPECT_EQ(posted[0].code, 2);
    EXPECT_EQ(posted[0].intValue, BusLimits::kMessageSaved);
    EXPECT_EQ(pointedText(posted[0].auxValue), "mylimits.bus");
    EXPECT_EQ(posted[1].kind, REQ_SET_PARAM);
    EXPECT_EQ(posted[1].code, param::busFileName);
    EXPECT_EQ(posted[1].auxValue, -1);
    EXPECT_EQ(pointedText(posted[1].intValue), "mylimits.bus*");
    EXPECT_NE(posted[0].auxValue, posted[1].intValue);

    // Written back in the classic format, read back the same.
    const std::string file = userFile("mylimits.bus");
    EXPECT_NE(file.find("<LimiteMin a=\"0.1\"/>"), std::string::npos) << file;
    EXPECT_NE(file.find("<LimiteMax a=\"nan\"/>"), std::string::npos) << file;
    setBusFileName("mylimits.bus*");
    BusLimits again;
    again.setEnabled(false);
    again.setEnabled(true);
    ASSERT_EQ(again.limits().size(), 10);
    EXPECT_FLOAT_EQ(again.limits()[0].minimum, 0.1f);
    EXPECT_TRUE(std::isnan(again.limits()[4].maximum));
    EXPECT_FLOAT_EQ(again.limits()[0].maximum, 3.0f);
}

TEST_F(BusUiTest, RefusedNamesShowMessage23AndAFailedWriteMessage19)
{
    setBusFileName("CanHS_500kbps.bus");
    BusLimits limits;
    limits.setEnabled(false);
    const QString tooLong = QString(35, QLatin1Char('n'));  // "<name>.bus*" is 39 bytes + 1
    for (const QString& name : {QStringLiteral("a/b"), QStringLiteral(".x"), QStringLiteral("../up"), QString(), tooLong}) {
        SCOPED_TRACE(name.toStdString());
        messages_.clear();
        limits.setEnabled(true);
        limits.setFilename(name);
        limits.setValue(1, 2.5);
        limits.setEnabled(false);
        EXPECT_TRUE(uitest::takeRequests().empty());
        EXPECT_EQ(messages_, QStringList{QStringLiteral("23 ") + name});
    }
    EXPECT_FALSE(QDir(QString::fromStdString(hostPath(kUserFolder))).exists());

    // 34 characters fit: "<name>.bus*" is 39 bytes.
    limits.setEnabled(true);
    limits.setFilename(QString(34, QLatin1Char('k')));
    limits.setValue(1, 2.5);
    limits.setEnabled(false);
    EXPECT_EQ(uitest::takeRequests().size(), 2u);

    // The folder is a file: the write fails, message 19, no selection.
    removeTree(hostPath(kUserFolder));
    ASSERT_TRUE(writeBoardFile(kUserFolder, ""));
    limits.setEnabled(true);
    limits.setFilename(QStringLiteral("blocked"));
    limits.setValue(1, 2.5);
    limits.setEnabled(false);
    const auto posted = uitest::takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].intValue, BusLimits::kMessageNotSaved);
    EXPECT_EQ(pointedText(posted[0].auxValue), "blocked.bus");
}

// ---- Results panel -------------------------------------------------------------------------

class BusResultsTest : public BusUiTest {
protected:
    void writeReport(const std::string& body)
    {
        ASSERT_TRUE(writeBoardFile(kReport, "<!DOCTYPE HTML>\r\n<HTML>\r\n<BODY>\r\n" + body + "</BODY>\r\n</HTML>\r\n"));
    }
    void show(BusResults& results)
    {
        results.setEnabled(false);
        results.setEnabled(true);
    }
};

TEST_F(BusResultsTest, NoReportReadsAsUnknownAndKeepsTheHints)
{
    BusResults results;
    writeReport("<UL>\r\n<LI>- kept</LI>\r\n</UL>\r\n");
    show(results);
    EXPECT_EQ(results.getBusAnalysisMessages(), QStringList{QStringLiteral("- kept")});
    ::unlink(hostPath(kReport).c_str());
    int refreshed = 0;
    QObject::connect(&results, &BusResults::dataChanged, [&refreshed] { ++refreshed; });
    show(results);
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(results.getBusTitle(), QStringList({"---", "---", "0%", "yellow"}));
    EXPECT_TRUE(results.getBusAnalysisResult(0).isEmpty());
    EXPECT_EQ(results.getBusAnalysisMessages(), QStringList{QStringLiteral("- kept")});
    EXPECT_TRUE(kDefaultName.match(results.filename()).hasMatch());
}

TEST_F(BusResultsTest, AnEngineReportReadsBackRowByRowWithItsEnglishHints)
{
    TBus bus;
    fillBus(bus, "CAN HS",
            {{"Vdiff Dom", 1.0f, 3.0f, 0.2f, 3.5}, {"Rise", 1e-6f, 2e-6f, 0.2f, 1.5e-6, "s"}, {"Gone", 1, 2, 0, NAN}});
    auto descriptor = diagDescriptor({{"msg1", "msg3"}, {}, {}});
    ASSERT_EQ(bus.saveResultToFile(kReport, descriptor.get()), 0);

    BusResults results;
    show(results);
    const QStringList header = results.getBusTitle();
    ASSERT_EQ(header.size(), 4);
    EXPECT_EQ(header[0], QStringLiteral("CAN HS"));
    EXPECT_NE(header[1], QStringLiteral("---"));
    EXPECT_EQ(header[2], QStringLiteral("Bus quality: 0%"));
    EXPECT_EQ(header[3], QStringLiteral("red"));
    EXPECT_EQ(results.getBusAnalysisResult(0),
              QStringList({"Vdiff Dom", "1.000 V", "3.000 V", "3.500 V", "red", "+500.0 mV"}));
    const QStringList rise = results.getBusAnalysisResult(1);
    ASSERT_EQ(rise.size(), 6);
    EXPECT_EQ(rise[1], QStringLiteral("1.000 \u03BCs"));
    EXPECT_EQ(rise[3], QStringLiteral("1.500 \u03BCs"));
    EXPECT_EQ(rise[4], QStringLiteral("green"));
    EXPECT_EQ(results.getBusAnalysisResult(2)[4], QStringLiteral("red"));
    for (int bad : {-1, 3, 100})
        EXPECT_TRUE(results.getBusAnalysisResult(bad).isEmpty()) << bad;
    EXPECT_EQ(results.getBusAnalysisMessages(),
              QStringList({"- Termination problem", "- Faulty junction connection"}));
}

TEST_F(BusResultsTest, CellsEntitiesAndShortRows)
{
    writeReport("<H1>&amp;#233; &#233;t&#233; &lt;b&gt;</H1>\r\n<H2>87%</H2>\r\n<TABLE>\r\n<THEAD>\r\n<TR>\r\n<TD>head</TD>\r\n</TR>\r\n</THEAD>\r\n"
                "<TBODY>\r\n"
                "<TR>\r\n<TD>a&lt;b&gt;&quot;</TD>\r\n<TD>1.5 us</TD>\r\n<TD></TD>\r\n<TD>2 us</TD>\r\n<TD>e</TD>\r\n</TR>\r\n"
                "<TR>\r\n</TR>\r\n"
                "<TR>\r\n<TD>&#233;&#0;&#x41;&amp</TD>\r\n<TD>x</TD>\r\n</TR>\r\n"
                "</TBODY>\r\n</TABLE>\r\n<UL>\r\n<LI></LI>\r\n<LI>&#8364; &amp;lt;</LI>\r\n</UL>\r\n");
    BusResults results;
    show(results);
    // Each entity read once, left to right: a typed "&#233;" stays as typed.
    EXPECT_EQ(results.getBusTitle(), QStringList({"&#233; \u00E9t\u00E9 <b>", "---", "87%", "white"}));
    EXPECT_EQ(results.getBusAnalysisResult(0),
              QStringList({"a<b>\"", "1.5 \u03BCs", "---", "2 \u03BCs", "green", "e"}));
    // A row without cells is left out, so that the table goes on.
    EXPECT_EQ(results.getBusAnalysisResult(1), QStringList({"\u00E9&#0;&#x41;&amp", "x"}));
    EXPECT_TRUE(results.getBusAnalysisResult(2).isEmpty());
    EXPECT_EQ(results.getBusAnalysisMessages(), QStringList({"---", "\u20AC &lt;"}));
}

TEST_F(BusResultsTest, SavingCopiesOnceUnderANameAndRefusesBadNames)
{
    writeReport("<H1>T</H1>\r\n");
    const std::string report = readHostFile(hostPath(kReport));
    BusResults results;
    show(results);
    results.setFilename(QStringLiteral("run1"));
    results.fileWrite();
    results.fileWrite();
    const auto posted = uitest::takeRequests();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].kind, REQ_SCREEN);
    EXPECT_EQ(posted[0].intValue, BusResults::kMessageSaved);
    EXPECT_EQ(posted[1].intValue, BusResults::kMessageNotSaved);
    EXPECT_EQ(pointedText(posted[1].auxValue), "run1");
    EXPECT_EQ(readHostFile(hostPath("/media/user/bus/run1.htm")), report);

    for (const QString& name : {QStringLiteral("../run2"), QStringLiteral(".hidden"), QString()}) {
        messages_.clear();
        results.setFilename(name);
        results.fileWrite();
        EXPECT_TRUE(uitest::takeRequests().empty());
        EXPECT_EQ(messages_, QStringList{QStringLiteral("23 ") + name});
    }

    // With the card, onto the card; without a report, message 19.
    ::mkdir(hostPath("/dev").c_str(), 0777);
    ::mkdir(hostPath("/media/user/sdcard_p1").c_str(), 0777);
    ASSERT_TRUE(writeBoardFile("/dev/mmcblk0p1", ""));
    results.setFilename(QStringLiteral("card"));
    results.fileWrite();
    EXPECT_EQ(readHostFile(hostPath("/media/user/sdcard_p1/bus/card.htm")), report);
    ::unlink(hostPath(kReport).c_str());
    results.setFilename(QStringLiteral("none"));
    results.fileWrite();
    const auto last = uitest::takeRequests();
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].intValue, BusResults::kMessageSaved);
    EXPECT_EQ(last[1].intValue, BusResults::kMessageNotSaved);
}

// ---- View ----------------------------------------------------------------------------------

TEST_F(BusUiTest, ViewPassesPanelCodesClosesOnTheDiagnosisSwitchAndGoesOnRaz)
{
    QPointer<BusAnalysisView> view = new BusAnalysisView();
    int notices = 0, closes = 0;
    QObject::connect(view.data(), &BusAnalysisView::directCmdeToIhmChanged, [&notices] { ++notices; });
    QObject::connect(view.data(), &BusAnalysisView::closeDialog, [&closes] { ++closes; });
    for (int code : {4, 5, 5, 7}) {
        home_->screenIhm(code, 0, 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->directCmdeToIhm(), code);
    }
    EXPECT_EQ(notices, 4);
    for (int code : {0, 29, int(param::busFileName), int(param::busDiag), int(param::busDiag)})
        home_->screenMaj(code);
    QCoreApplication::processEvents();
    EXPECT_EQ(closes, 2);

    emit home_->screenRazSignal();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(view.isNull());
}

} // namespace
