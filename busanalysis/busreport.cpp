// The HTML report of a diagnosis. Every line must also read back through XmlDescriptor (the
// results panel parses the page): plain ASCII, lines of at most 99 characters, no text after a
// child element, comments of at most 9 characters.
#include "busanalysis/bus.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "core/fileio.h"
#include "core/root.h"
#include "core/xmlutilities.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

constexpr size_t kMaxLine = 99;
// The reader keeps at most this many comments and children per element.
constexpr int kMaxCommentsPerRow = XmlDescriptor::kComments;
constexpr int kMaxHints = XmlDescriptor::kChildren;

// The hint keys, each mapped to its catalogue source text. The texts themselves come from the
// built-in message file of the configured language unless a catalogue translates them, so they
// are not listed in the project's catalogue.
const std::map<std::string, const char*>& helpMessages()
{
    static const std::map<std::string, const char*> o_l_helpMsg = {
        {"msg1", "msg1"},   {"msg2", "msg2"},
        {"msg3", "msg3"},   {"msg4", "msg4"},
        {"msg5", "msg5"},   {"msg6", "msg6"},
        {"msg7", "msg7"},   {"msg8", "msg8"},
        {"msg9", "msg9"},   {"msg10", "msg10"},
        {"msg11", "msg11"}, {"msg12", "msg12"},
        {"msg13", "msg13"}, {"msg14", "msg14"},
        {"msg15", "msg15"}, {"msg16", "msg16"},
    };
    return o_l_helpMsg;
}

// One character as page text: ASCII printable as is (the four markup characters as entities),
// control characters as blanks, the rest as numeric references.
std::string escaped(uint32_t c)
{
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    default:
        break;
    }
    if (c < 0x20 || c == 0x7F)
        return " ";
    if (c < 0x80)
        return std::string(1, static_cast<char>(c));
    return "&#" + std::to_string(c) + ";";
}

// prefix + text + suffix, the text cut at a character boundary so that the line stays within
// the reader's length.
std::string line(const std::string& prefix, const QString& text, const std::string& suffix)
{
    std::string out = prefix;
    const size_t room = kMaxLine > prefix.size() + suffix.size() ? kMaxLine - suffix.size() : prefix.size();
    for (const uint32_t c : text.toUcs4()) {
        const std::string piece = escaped(c);
        if (out.size() + piece.size() > room)
            break;
        out += piece;
    }
    return out + suffix;
}

// A stored descriptor or message-file text (Latin-1 bytes with the reader's escapes).
QString storedText(const std::string& bytes)
{
    return QString::fromUtf8(XmlDescriptor::xmlToText(bytes).c_str());
}

// Keys are written into comments and looked up only when short and plain.
bool usableKey(const std::string& key)
{
    if (key.empty() || key.size() > 9)
        return false;
    for (const char c : key)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

// The built-in message file of the configured language, else the English one.
class TMessageFile {
public:
    TMessageFile()
    {
        const std::string language = readRootConfig().language.trimmed().toLower().toStdString();
        bool read = false;
        if (usableKey(language))
            read = file_.fileRead(("/messages/" + language + ".xml").c_str(), false);
        if (!read) {
            file_.clear();
            file_.fileRead("/messages/en.xml", false);
        }
    }
    // Empty when the file has no such text.
    QString text(const std::string& key)
    {
        if (!file_.valid)
            return QString();
        XmlFifo path;
        path.initFifo(2, "resources", key.c_str());
        XmlDescriptor* node = file_.getTag(&path);
        if (!node)
            return QString();
        std::string value = node->getAttributeValue("a");
        if (value.empty())
            value = node->text;
        return storedText(value);
    }

private:
    XmlDescriptor file_;
};

QString translated(const char* source, TMessageFile& messages, const std::string& key, const QString& fallback)
{
    const QString t = QCoreApplication::translate("TBus", source);
    if (t != QLatin1String(source))
        return t;
    const QString fromFile = messages.text(key);
    return fromFile.isEmpty() ? fallback : fromFile;
}

// Collects the text, then writes it into a new file beside the target and renames it over the
// target (one naming of temporary files for the whole system: the start removes them).
class TReportFile {
public:
    explicit TReportFile(const std::string& target) : file_(target, false, 0666) {}
    bool opened() const { return file_.fd() >= 0; }
    void write(const std::string& text) { text_ += text + "\r\n"; }
    void commit()
    {
        if (writeAll(file_.fd(), text_.data(), text_.size()))
            file_.commit();
        deviceIO().syncAll();
    }

private:
    TAtomicFile file_;
    std::string text_;
};

} // namespace

int TBus::saveResultToFile(std::string path, XmlDescriptor* descriptor)
{
    helpMessages();
    TReportFile out(boardPath(path));
    if (!out.opened())
        return -1;
    const QString date =
        QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("ddd MMM d yyyy, hh:mm:ss"));

    out.write("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">");
    out.write("<HTML>");
    out.write("<HEAD>");
    out.write("<TITLE>TavlinIV-1.12 - Bus Analysis results</TITLE>");
    out.write("<BASE HREF=\"http:127.0.0.1\"/>");
    // The page must read on its own in a browser: the verdict classes get their colours, and
    // the hints, whose texts begin with their own dash, no second bullet.
    for (const char* style :
         {"<STYLE TYPE=\"text/css\">", "TR.white { background: #ffffff; }", "TR.silver { background: #e4e4e4; }",
          "TD.green, H2.green { background: #8fd88f; color: #000000; }",
          "TD.yellow, H2.yellow { background: #f3dc6a; color: #000000; }",
          "TD.red, H2.red { background: #f08a8a; color: #000000; }", "UL { list-style: none; }", "</STYLE>"})
        out.write(style);
    out.write("</HEAD>");
    out.write("<BODY>");
    out.write(line("<H1>", storedText(title), "</H1>"));
    out.write(line("<H3>", date, "</H3>"));

    int percent = 0;
    const bool computed = nbmesuremax != 0 && stepCount == nbmesuremax;
    if (!computed || computeBusIntegrity(&percent) == -1) {
        out.write("<H2 class=\"red\">Bus quality: ----</H2>");
    } else {
        const char* colour = percent < 50 ? "red" : percent < 100 ? "yellow" : "green";
        out.write(std::string("<H2 class=\"") + colour + "\">Bus quality: " + std::to_string(percent) + "%</H2>");
    }

    for (const char* head : {"<TABLE WIDTH=\"100%\" CELLPADDING=\"10%\">", "<THEAD>", "<TR>", "<TD></TD>",
                             "<TD>Min value allowed</TD>", "<TD>Max value allowed</TD>", "<TD>Measurement</TD>",
                             "<TD>Error</TD>", "</TR>", "</THEAD>", "<TBODY>"})
        out.write(head);

    QStringList help;
    for (int i = 0; i <= lastSlot && i < kSlots; ++i) {
        TBusMeasurement& m = measurementSlots[i];
        out.write(i % 2 == 0 ? "<TR class=\"white\">" : "<TR class=\"silver\">");
        out.write(line("<TD>", storedText(m.name), "</TD>"));
        out.write(line("<TD>", QString::fromStdString(m.toString(m.limitemin)), "</TD>"));
        out.write(line("<TD>", QString::fromStdString(m.toString(m.limitemax)), "</TD>"));
        if (m.state != TBusMeasurement::kVerdict) {
            out.write("<TD class=\"red\">----</TD>");
            out.write("<TD>----</TD>");
            out.write("</TR>");
            continue;
        }
        const char* open = (m.result & TBusMeasurement::kFail)      ? "<TD class=\"red\">"
                           : (m.result & TBusMeasurement::kWarning) ? "<TD class=\"yellow\">"
                           : (m.result & TBusMeasurement::kPass)    ? "<TD class=\"green\">"
                                                                    : "<TD>";
        out.write(line(open, QString::fromStdString(m.toString(m.retained)), "</TD>"));
        if (m.result & (TBusMeasurement::kWarning | TBusMeasurement::kFail)) {
            XmlDescriptor* step = busStepElement(descriptor, m.stepNumber);
            int comments = 0;
            for (int c = 0; step && c < XmlDescriptor::kChildren && step->children[c]; ++c) {
                XmlDescriptor* child = step->children[c];
                if (strcasecmp(child->tag, "DIAG") != 0)
                    continue;
                const std::string key = child->getAttributeValue("MSG");
                if (!usableKey(key) || comments >= kMaxCommentsPerRow)
                    continue;
                const QString k = QString::fromLatin1(key.c_str());
                if (!help.contains(k, Qt::CaseInsensitive) && help.size() < kMaxHints)
                    help.append(k);
                out.write("<!--" + key + "-->");
                ++comments;
            }
        }
        if (m.result == TBusMeasurement::kPass) {
            out.write("<TD>OK</TD>");
        } else if (m.result == TBusMeasurement::kNoLimit) {
            out.write("<TD>---</TD>");
        } else {
            const QString text = QString::fromStdString(m.toString(m.distance));
            const bool digit = !text.isEmpty() && text.at(0).isDigit();
            out.write(line(digit ? "<TD>+" : "<TD>", text, "</TD>"));
        }
        out.write("</TR>");
    }
    out.write("</TBODY>");
    out.write("</TABLE>");

    if (!help.isEmpty()) {
        TMessageFile messages;
        static const char* const heading = "Aide au depannage";
        out.write(line("<H5>", translated(heading, messages, "msgTitle", QLatin1String(heading)), "</H5>"));
        out.write("<UL>");
        while (!help.isEmpty()) {
            const std::string key = help.takeFirst().toStdString();
            const auto known = helpMessages().find(key);
            const QString fallback = QString::fromStdString(key);
            const QString text = known != helpMessages().end() ? translated(known->second, messages, key, fallback)
                                                               : translated(key.c_str(), messages, key, fallback);
            out.write(line("<LI>", text, "</LI>"));
        }
        out.write("</UL>");
    }
    out.write("</BODY>");
    out.write("</HTML>");
    out.commit();
    return 0;
}
