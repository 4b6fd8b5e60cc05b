// The English catalogue: every key the sources look up has a finished English text in the
// catalogue compiled beside the program, and the start-up installs it.
#include "board/board.h"
#include "core/root.h"
#include "tests/support/simboardtest.h"
#include "tests/ui/support/catalogue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>
#include <vector>

namespace {

struct Entry {
    QString context;
    QString key;
    QString text;
    QString type;  // "unfinished", "obsolete", "vanished" ... or empty when finished
};

std::vector<Entry> readCatalogue(const QString& path)
{
    std::vector<Entry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    QXmlStreamReader xml(&file);
    QString context;
    Entry entry;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            entry = Entry{context, QString(), QString(), QString()};
        } else if (xml.name() == QLatin1String("source")) {
            entry.key = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            entry.type = xml.attributes().value(QLatin1String("type")).toString();
            entry.text = xml.readElementText();
            entries.push_back(entry);
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return entries;
}

// Keys that name a text rather than being one ("message7", "AIDE_INFO", "vrms_c"): a text equal
// to such a key is a missing text. Keys that are words ("stop", "CH1") may read the same.
bool symbolicKey(const QString& key)
{
    static const QRegularExpression symbolic(QStringLiteral("^[a-z]+[0-9]+$|^[^ ]*_[^ ]*$"));
    return symbolic.match(key).hasMatch();
}

QString catalogueOfTheProgram()
{
    return QFileInfo(QStringLiteral(BENCHVIEW_EXE)).absolutePath() + QStringLiteral("/translations/tavlin_en.qm");
}

} // namespace

// The same extraction as the build, over the sources as they are now, into a copy of the
// catalogue: a key added without a text comes back unfinished and is named.
TEST(Catalogue, EveryKeyOfTheSourcesHasAFinishedEnglishText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fresh = dir.filePath(QStringLiteral("tavlin_en.ts"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(BENCHVIEW_TRANSLATION_TS), fresh));
    QStringList arguments = QStringLiteral(BENCHVIEW_LUPDATE_OPTIONS).split(QLatin1Char('|'));
    arguments << QStringLiteral("@" BENCHVIEW_TRANSLATION_LIST) << QStringLiteral("-ts") << fresh;
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(BENCHVIEW_LUPDATE), arguments);
    ASSERT_TRUE(lupdate.waitForFinished(60000));
    ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAll().toStdString();

    QTranslator compiled;
    ASSERT_TRUE(compiled.load(catalogueOfTheProgram())) << catalogueOfTheProgram().toStdString();

    const std::vector<Entry> entries = readCatalogue(fresh);
    ASSERT_GT(entries.size(), 33u);
    for (const Entry& e : entries) {
        const std::string name = (e.context + " / \"" + e.key + "\"").toStdString();
        EXPECT_TRUE(e.type.isEmpty()) << name << " is " << e.type.toStdString() << " in tavlin_en.ts";
        EXPECT_FALSE(e.text.isEmpty()) << name << " has no English text";
        EXPECT_FALSE(symbolicKey(e.key) && e.text == e.key) << name << " reads as its own key";
        if (e.type.isEmpty() && !e.text.isEmpty()) {
            EXPECT_EQ(compiled.translate(e.context.toUtf8().constData(), e.key.toUtf8().constData()), e.text)
                << name << ": the compiled catalogue is not the source's";
        }
    }
}

class StartUpCatalogue : public SimBoardTest {};

// The default configuration names no language, and a language without its file gets English.
TEST_F(StartUpCatalogue, TheDefaultConfigurationShowsEnglish)
{
    TCatalogueGuard catalogue;
    for (const char* config : {"", "Language=de\n"}) {
        SCOPED_TRACE(config);
        ASSERT_TRUE(writeBoardFile(kConfigFile, config));
        installTranslator();
        const QString text = QCoreApplication::translate("MessageBox", "message1");
        EXPECT_FALSE(text.isEmpty());
        EXPECT_NE(text, QStringLiteral("message1"));
    }
}
