// The save and load panels: the file requests they post and the buffers those point to, the
// names they propose and refuse, the masks folder they list, and the QML panels driven through
// the shared text keyboard's signals.
#include "board/board.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/frame/fileload.h"
#include "ui/frame/filesave.h"
#include "ui/frame/homeview.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstring>

namespace {

const QRegularExpression kDefaultName(QStringLiteral("^tavlin_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}$"));

void makeFile(const std::string& hostPath)
{
    QFile f(QString::fromStdString(hostPath));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << hostPath;
}

void mkdirs(const std::string& hostPath) { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(hostPath))); }

// The SD card as the system services see it: its device node and its mount point.
void insertCard()
{
    mkdirs(boardPath("/dev"));
    makeFile(boardPath("/dev/mmcblk0p1"));
    mkdirs(boardPath("/media/user/sdcard_p1"));
}

QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}

} // namespace

// A root window (not shown) through which the panels report refused names.
class FilePanelTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        po_g_homeView = &root_;
        QObject::connect(&root_, &HomeView::screenMessageSignal, &root_,
                         [this](int code, const QString& text) { messages_ << QStringLiteral("%1 %2").arg(code).arg(text); });
    }
    void TearDown() override
    {
        po_g_homeView = nullptr;
        SimBoardTest::TearDown();
    }

    HomeView root_;
    QStringList messages_;
};

TEST_F(FilePanelTest, SaveCodesPostTheirActionsWithTheBuffers)
{
    FileSave save;
    // Examples: 0 and 7 (unknown) save the setup.
    const std::pair<int, int32_t> table[] = {{0, 4}, {7, 4}, {-1, 4}, {1, 0}, {2, 6}, {3, 8}, {4, 15}};
    for (const auto& [code, action] : table) {
        SCOPED_TRACE(code);
        save.setFilename(QStringLiteral("f%1").arg(code));
        save.setComment(QStringLiteral("c%1").arg(code));
        emit save.saveSignal(code);
        const std::vector<pipe_dial> posted = takeRequests();
        ASSERT_EQ(posted.size(), 1u);
        EXPECT_EQ(posted[0].kind, REQ_FILE);
        EXPECT_EQ(posted[0].code, action);
        EXPECT_EQ(posted[0].senderId, kSenderUserInterface);
        EXPECT_EQ(posted[0].auxValue, reinterpret_cast<intptr_t>(FileSave::commentBuffer()));
        EXPECT_EQ(posted[0].intValue, reinterpret_cast<intptr_t>(FileSave::nameBuffer()));
        EXPECT_STREQ(FileSave::nameBuffer(), qPrintable(QStringLiteral("f%1").arg(code)));
        EXPECT_STREQ(FileSave::commentBuffer(), qPrintable(QStringLiteral("c%1").arg(code)));
    }
    EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(FilePanelTest, AfterASaveTheCommentAndNameAreProposedAgain)
{
    FileSave save;
    EXPECT_EQ(save.comment(), QStringLiteral("---"));
    EXPECT_TRUE(save.filename().isEmpty());
    EXPECT_EQ(save.saveTypes(), FileSave::Scope);
    int commentNotices = 0, nameNotices = 0;
    QObject::connect(&save, &FileSave::commentChanged, [&] { ++commentNotices; });
    QObject::connect(&save, &FileSave::filenameChanged, [&] { ++nameNotices; });

    // Writing the properties only stores them.
    save.setProperty("comment", QStringLiteral("bench 3"));
    save.setProperty("filename", QStringLiteral("probe_a"));
    EXPECT_EQ(commentNotices + nameNotices, 0);

    const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    save.saveSlot(0);
    const QString after = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    EXPECT_EQ(save.comment(), QStringLiteral("---"));
    EXPECT_TRUE(kDefaultName.match(save.filename()).hasMatch()) << save.filename().toStdString();
    const QString stamp = save.filename().mid(7);
    EXPECT_TRUE(stamp >= before && stamp <= after) << stamp.toStdString();
    EXPECT_EQ(commentNotices, 1);
    EXPECT_EQ(nameNotices, 1);
    // The buffers keep what was posted.
    EXPECT_STREQ(FileSave::nameBuffer(), "probe_a");
    EXPECT_STREQ(FileSave::commentBuffer(), "bench 3");
    takeRequests();

    EXPECT_EQ(FileSave::defaultFilename(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))),
              QStringLiteral("tavlin_2026-03-04_05-06-07"));
}

TEST_F(FilePanelTest, LongTextsAreCutAtACharacterBoundaryAndTerminated)
{
    FileSave save;
    save.setFilename(QString(120, QLatin1Char('n')));
    // 98 ASCII bytes, then a two-byte character across the 99-byte limit.
    save.setComment(QString(98, QLatin1Char('c')) + QString::fromUtf8("\xc3\xa9") + QStringLiteral("zz"));
    save.saveSlot(0);
    EXPECT_EQ(std::strlen(FileSave::nameBuffer()), 99u);
    EXPECT_EQ(std::strlen(FileSave::commentBuffer()), 98u);
    EXPECT_EQ(QString::fromUtf8(FileSave::commentBuffer()), QString(98, QLatin1Char('c')));

    char out[8];
    std::memset(out, 'x', sizeof out);
    // "aé€": 1 + 2 + 3 bytes; 7 bytes hold it whole, 6 only "aé".
    copyUtf8Cut(QString::fromUtf8("a\xc3\xa9\xe2\x82\xac"), out, 7);
    EXPECT_STREQ(out, "a\xc3\xa9\xe2\x82\xac");
    copyUtf8Cut(QString::fromUtf8("a\xc3\xa9\xe2\x82\xac"), out, 6);
    EXPECT_STREQ(out, "a\xc3\xa9");
    takeRequests();
}

TEST_F(FilePanelTest, BadNamesPostNothingAndShowMessage23)
{
    FileSave save;
    FileLoad load;
    const char* bad[] = {"", "a/b", "/etc/passwd", "../up", ".hidden", "."};
    for (const char* name : bad) {
        SCOPED_TRACE(name);
        messages_.clear();
        save.setFilename(QString::fromUtf8(name));
        save.setComment(QStringLiteral("kept"));
        save.saveSlot(1);
        emit load.loadSignal(QString::fromUtf8(name));
        EXPECT_TRUE(takeRequests().empty());
        EXPECT_EQ(messages_, QStringList({QStringLiteral("23 %1").arg(QString::fromUtf8(name)),
                                          QStringLiteral("23 %1").arg(QString::fromUtf8(name))}));
        // Nothing typed is lost.
        EXPECT_EQ(save.filename(), QString::fromUtf8(name));
        EXPECT_EQ(save.comment(), QStringLiteral("kept"));
    }
    // A dot inside the name is ordinary.
    save.setFilename(QStringLiteral("mask.v2"));
    save.saveSlot(4);
    EXPECT_EQ(takeRequests().size(), 1u);
}

TEST_F(FilePanelTest, TheMasksFolderIsOnTheCardWhileItIsPresent)
{
    FileLoad load;
    EXPECT_EQ(load.loadTypes(), FileLoad::PassFail);
    // No folder yet: an empty list.
    EXPECT_TRUE(load.getFileList().isEmpty());

    mkdirs(boardPath("/media/user/masks/sub"));
    makeFile(boardPath("/media/user/masks/inner1.msk"));
    makeFile(boardPath("/media/user/masks/inner2.msk"));
    EXPECT_EQ(FileLoad::masksFolder(), QStringLiteral("/media/user/masks"));
    EXPECT_EQ(sorted(load.getFileList()), QStringList({QStringLiteral("inner1.msk"), QStringLiteral("inner2.msk")}));

    emit load.loadSignal(QStringLiteral("inner2.msk"));
    std::vector<pipe_dial> posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].kind, REQ_FILE);
    EXPECT_EQ(posted[0].code, 16);
    EXPECT_EQ(posted[0].auxValue, 0);
    EXPECT_EQ(posted[0].senderId, kSenderUserInterface);
    EXPECT_EQ(posted[0].intValue, reinterpret_cast<intptr_t>(FileLoad::lastPath()));
    EXPECT_STREQ(FileLoad::lastPath(), "/media/user/masks/inner2.msk");

    insertCard();
    EXPECT_EQ(FileLoad::masksFolder(), QStringLiteral("/media/user/sdcard_p1/masks"));
    EXPECT_TRUE(load.getFileList().isEmpty());
    mkdirs(boardPath("/media/user/sdcard_p1/masks"));
    makeFile(boardPath("/media/user/sdcard_p1/masks/card.msk"));
    EXPECT_EQ(load.getFileList(), QStringList({QStringLiteral("card.msk")}));
    load.loadSlot(QStringLiteral("card.msk"));
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(posted[0].intValue), "/media/user/sdcard_p1/masks/card.msk");
}

// The QML panels under a stand-in root window that logs the keyboard signals.
class FilePanelQmlTest : public QmlControlsTest {
protected:
    void SetUp() override
    {
        QmlControlsTest::SetUp();
        board_.SetUpBoard();
    }
    void TearDown() override
    {
        QmlControlsTest::TearDown();
        board_.TearDownBoard();
    }

    // Labels of the kind selector's buttons, in order.
    QStringList kinds(QQuickItem* panel)
    {
        QStringList out;
        QQuickItem* box = need(panel, "kindBox");
        for (int i = 0; box; ++i) {
            QQuickItem* button = findItem(box, QStringLiteral("radioButton%1").arg(i));
            if (!button)
                break;
            out << button->property("label").toString();
        }
        return out;
    }

    std::vector<int> kindCodes(QQuickItem* panel)
    {
        std::vector<int> out;
        for (const QVariant& v : panel->property("kindCodes").toList())
            out.push_back(v.toInt());
        return out;
    }

    void closeAlphaKey(const QString& value)
    {
        ASSERT_TRUE(QMetaObject::invokeMethod(root_, "sigCloseAlphaKey", Q_ARG(QString, value)));
    }

    struct Board : SimBoardTest {
        void TestBody() override {}
        void SetUpBoard() { SetUp(); }
        void TearDownBoard() { TearDown(); }
    } board_;
};

TEST_F(FilePanelQmlTest, TheKindListFollowsSaveTypesAtEachOpening)
{
    ASSERT_TRUE(load("FileSave { objectName: \"fileSave\"; saveTypes: \"PassFail\" }"));
    QQuickItem* panel = item("fileSave");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(kindCodes(panel), std::vector<int>({4}));
    EXPECT_EQ(kinds(panel), QStringList({QStringLiteral("Masque")}));

    const struct {
        int type;
        std::vector<int> codes;
        QStringList labels;
    } table[] = {
        {FileSave::Scope, {0, 1, 2}, {"Configuration", "Traces", "Fonction"}},
        {FileSave::Meter, {0}, {"Configuration"}},
        {FileSave::Harmonic, {0, 3}, {"Configuration", "Harmoniques"}},
        {FileSave::Logger, {0}, {"Configuration"}},
        {FileSave::PassFail, {4}, {"Masque"}},
        {9, {0, 1, 2}, {"Configuration", "Traces", "Fonction"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.type);
        panel->setProperty("saveTypes", row.type);
        panel->setEnabled(false);
        panel->setEnabled(true);
        processEventsOnce(0);
        EXPECT_EQ(kindCodes(panel), row.codes);
        EXPECT_EQ(kinds(panel), row.labels);
    }
}

TEST_F(FilePanelQmlTest, TheSavePanelTypesOnTheKeyboardAndSavesTheChosenKind)
{
    ASSERT_TRUE(load("FileSave { objectName: \"fileSave\"; saveTypes: \"Harmonic\" }"));
    auto* panel = qobject_cast<FileSave*>(item("fileSave"));
    ASSERT_NE(panel, nullptr);
    // Opening proposes a dated name and the default comment.
    EXPECT_TRUE(kDefaultName.match(panel->filename()).hasMatch());
    EXPECT_EQ(panel->comment(), QStringLiteral("---"));
    const QString proposed = panel->filename();
    takeLog(root_);

    clickKey(panel, "filenameField");
    EXPECT_EQ(takeLog(root_), QStringList({QStringLiteral("openAlpha %1 28").arg(proposed)}));
    closeAlphaKey(QStringLiteral("harm_a"));
    clickKey(panel, "commentField");
    EXPECT_EQ(takeLog(root_), QStringList({QStringLiteral("closeAlpha harm_a"), QStringLiteral("openAlpha --- 30")}));
    closeAlphaKey(QStringLiteral("line 3"));
    // A close that this panel did not ask for changes nothing.
    closeAlphaKey(QStringLiteral("other"));
    EXPECT_EQ(panel->filename(), QStringLiteral("harm_a"));
    EXPECT_EQ(panel->comment(), QStringLiteral("line 3"));
    EXPECT_EQ(need(panel, "filenameField")->property("stringValue").toString(), QStringLiteral("harm_a"));

    // Second kind of the harmonic view: the harmonic table.
    clickKey(need(panel, "kindBox"), "radioButton1");
    clickKey(panel, "saveTool");
    std::vector<pipe_dial> posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, fileHarmonicSave);
    EXPECT_STREQ(FileSave::nameBuffer(), "harm_a");
    EXPECT_STREQ(FileSave::commentBuffer(), "line 3");
    // Proposed again, and shown.
    EXPECT_EQ(panel->comment(), QStringLiteral("---"));
    EXPECT_EQ(need(panel, "commentField")->property("stringValue").toString(), QStringLiteral("---"));
    EXPECT_TRUE(kDefaultName.match(need(panel, "filenameField")->property("stringValue").toString()).hasMatch());

    // The first kind is the setup.
    clickKey(need(panel, "kindBox"), "radioButton0");
    clickKey(panel, "saveTool");
    posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, fileSetupSave);
}

TEST_F(FilePanelQmlTest, TheLoadPanelListsTheMasksLoadsOneAndCloses)
{
    mkdirs(boardPath("/media/user/masks"));
    makeFile(boardPath("/media/user/masks/only.msk"));
    ASSERT_TRUE(load(R"(
    Item {
        width: 800
        height: 110
        function displayOff() { homeView.note("displayOff") }
        FileLoad { objectName: "fileLoad" }
    })"));
    QQuickItem* panel = item("fileLoad");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(need(panel, "fileList")->property("currentText").toString(), QStringLiteral("only.msk"));
    takeLog(root_);
    clickKey(panel, "loadTool");
    const std::vector<pipe_dial> posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, fileTraceRecall);
    EXPECT_STREQ(FileLoad::lastPath(), "/media/user/masks/only.msk");
    EXPECT_EQ(takeLog(root_), QStringList({QStringLiteral("displayOff")}));
}

// The save panel closes on its own close button, as the load panel does after a load, without
// saving anything.
TEST_F(FilePanelQmlTest, TheSavePanelClosesOnItsCloseButton)
{
    ASSERT_TRUE(load(R"(
    Item {
        width: 730
        height: 110
        function displayOff() { homeView.note("displayOff") }
        FileSave { objectName: "fileSave"; width: 730; saveTypes: "Scope" }
    })"));
    QQuickItem* panel = item("fileSave");
    ASSERT_NE(panel, nullptr);
    QQuickItem* close = need(panel, "closeButton");
    ASSERT_NE(close, nullptr);
    // Inside the panel, clear of the save tool.
    const QRectF closeRect = close->mapRectToItem(panel, QRectF(0, 0, close->width(), close->height()));
    EXPECT_TRUE(QRectF(0, 0, panel->width(), panel->height()).contains(closeRect));
    QQuickItem* save = need(panel, "saveTool");
    EXPECT_FALSE(closeRect.intersects(save->mapRectToItem(panel, QRectF(0, 0, save->width(), save->height()))));
    takeLog(root_);
    clickKey(panel, "closeButton");
    EXPECT_TRUE(takeRequests().empty());
    EXPECT_EQ(takeLog(root_), QStringList({QStringLiteral("displayOff")}));
}
