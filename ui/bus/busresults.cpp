#include "ui/bus/busresults.h"

#include "board/board.h"
#include "core/requests.h"
#include "core/sysserv.h"
#include "core/xmlutilities.h"
#include "ui/frame/filesave.h"
#include "ui/frame/homeview.h"

#include <QDateTime>
#include <QFile>

#include <cstring>
#include <strings.h>
#include <sys/stat.h>

namespace {

constexpr int kBufferSize = 100;
constexpr int32_t kScreenMessage = 2;
// The controller shows the message after the post.
char s_message[kBufferSize];

const QString kNone = QStringLiteral("---");

QString orNone(const QString& text) { return text.isEmpty() ? kNone : text; }

// "&#N;" at text[at]: the code point, or 0 when it is not a usable reference; *end past the ';'.
uint32_t numericReference(const std::string& text, size_t at, size_t* end)
{
    size_t i = at + 2;
    uint32_t value = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (++digits > 7)
            return 0;
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        ++i;
    }
    if (digits == 0 || i >= text.size() || text[i] != ';')
        return 0;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *end = i + 1;
    return value;
}

QStringList cellTexts(XmlDescriptor& row)
{
    QStringList cells;
    QString colour = QStringLiteral("green");
    int n = 0;
    for (XmlDescriptor* cell : row.children) {
        if (!cell)
            break;
        if (strcasecmp(cell->tag, "TD") != 0)
            continue;
        // Name, minimum, maximum, value and error: a sixth cell has no column.
        if (n == 5)
            break;
        QString text = BusResults::decodeReportText(cell->text);
        if (n >= 1 && n <= 3)
            text.replace(QStringLiteral(" u"), QStringLiteral(" \u03BC"));
        if (n == 3) {
            const std::string cls = cell->getAttributeValue("class");
            if (!cls.empty())
                colour = BusResults::decodeReportText(cls);
        }
        cells << orNone(text);
        if (n == 3)
            cells << colour;
        ++n;
    }
    return cells;
}

} // namespace

BusResults::BusResults(QQuickItem* parent) : QQuickItem(parent)
{
    connect(this, &QQuickItem::enabledChanged, this, &BusResults::enabledChangedSlot);
}

BusResults::~BusResults()
{
    disconnect(this, &QQuickItem::enabledChanged, this, &BusResults::enabledChangedSlot);
}

const char* BusResults::messageBuffer() { return s_message; }

void BusResults::enabledChangedSlot()
{
    if (!isEnabled())
        return;
    fileRead();
    setDefaultFilename();
    emit dataChanged();
}

QStringList BusResults::getBusAnalysisResult(int i) const
{
    if (i < 0 || i >= rows_.size())
        return QStringList();
    return rows_[i];
}

QString BusResults::decodeReportText(const std::string& text)
{
    static const struct {
        const char* entity;
        char16_t c;
    } kNamed[] = {{"&amp;", u'&'}, {"&lt;", u'<'}, {"&gt;", u'>'}, {"&quot;", u'"'}};
    QString out;
    size_t start = 0;  // of the bytes not yet taken
    size_t i = 0;
    const auto flush = [&](size_t upTo) {
        out += QString::fromUtf8(text.data() + start, static_cast<int>(upTo - start));
    };
    while (i < text.size()) {
        if (text[i] != '&') {
            ++i;
            continue;
        }
        size_t end = 0;
        QString decoded;
        if (i + 1 < text.size() && text[i + 1] == '#') {
            const uint32_t c = numericReference(text, i, &end);
            if (c)
                decoded = QString::fromUcs4(&c, 1);
        } else {
            for (const auto& e : kNamed) {
                if (text.compare(i, std::strlen(e.entity), e.entity) == 0) {
                    decoded = QChar(e.c);
                    end = i + std::strlen(e.entity);
                    break;
                }
            }
        }
        if (decoded.isEmpty()) {
            ++i;
            continue;
        }
        flush(i);
        out += decoded;
        i = start = end;
    }
    flush(text.size());
    return out;
}

BusResults::Report BusResults::readReport(XmlDescriptor& tree)
{
    Report report;
    XmlFifo path;
    path.initFifo(3, "HTML", "BODY", "H1");
    report.header << orNone(decodeReportText(tree.getText(&path)));
    path.initFifo(3, "HTML", "BODY", "H3");
    report.header << orNone(decodeReportText(tree.getText(&path)));
    path.initFifo(3, "HTML", "BODY", "H2");
    const QString quality = decodeReportText(tree.getText(&path));
    report.header << (quality.isEmpty() ? QStringLiteral("0%") : quality);
    path.initFifo(3, "HTML", "BODY", "H2");
    const QString colour = decodeReportText(tree.getAttributeValue("class", &path));
    report.header << (colour.isEmpty() ? QStringLiteral("white") : colour);

    path.initFifo(4, "HTML", "BODY", "TABLE", "TBODY");
    if (XmlDescriptor* body = tree.getTag(&path)) {
        for (XmlDescriptor* row : body->children) {
            if (!row)
                break;
            if (strcasecmp(row->tag, "TR") != 0)
                continue;
            // A row without cells would end the panel's table early.
            const QStringList cells = cellTexts(*row);
            if (!cells.isEmpty())
                report.rows << cells;
        }
    }

    path.initFifo(3, "HTML", "BODY", "UL");
    if (XmlDescriptor* list = tree.getTag(&path)) {
        for (XmlDescriptor* item : list->children) {
            if (!item)
                break;
            if (strcasecmp(item->tag, "LI") == 0)
                report.hints << orNone(decodeReportText(item->text));
        }
    }
    return report;
}

void BusResults::fileRead()
{
    header_.clear();
    rows_.clear();
    XmlDescriptor tree(kReportPath, true);
    if (!tree.valid) {
        header_ = QStringList{kNone, kNone, QStringLiteral("0%"), QStringLiteral("yellow")};
    } else {
        Report report = readReport(tree);
        header_ = report.header;
        rows_ = report.rows;
        hints_ = report.hints;
    }
    setFlag(ItemHasContents);
    update();
}

void BusResults::setDefaultFilename()
{
    filename_ = FileSave::defaultFilename(QDateTime::currentDateTime());
}

void BusResults::fileWrite()
{
    if (!isAcceptableFileName(filename_)) {
        // Outside the bus folder the copy could replace any file.
        if (po_g_homeView)
            emit po_g_homeView->screenMessageSignal(kMessageBadName, filename_);
        return;
    }
    const std::string dir = boardPath(std::string(isSdcardPresent() ? "/media/user/sdcard_p1" : "/media/user") + "/bus");
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        ::mkdir(dir.c_str(), 0777);
    const QString target = QString::fromStdString(dir) + QLatin1Char('/') + filename_ + QStringLiteral(".htm");
    const bool copied = QFile::copy(QString::fromStdString(boardPath(kReportPath)), target);

    copyUtf8Cut(filename_, s_message, kBufferSize);
    pipe_dial request{REQ_SCREEN, kScreenMessage, reinterpret_cast<intptr_t>(s_message),
                      copied ? kMessageSaved : kMessageNotSaved, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}
