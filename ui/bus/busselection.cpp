#include "ui/bus/busselection.h"

#include "board/board.h"
#include "busanalysis/buspseudofile.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/xmlutilities.h"
#include "ui/bus/busanalysisstatusline.h"
#include "ui/frame/filesave.h"
#include "ui/frame/homeview.h"
#include "ui/frame/menurequest.h"

#include <QDir>

#include <algorithm>

namespace {

constexpr int kBufferSize = 100;
// The controller copies busFileName from here after the post.
char s_selection[kBufferSize];

QString attributeText(XmlDescriptor& tree, const char* group, const char* tag)
{
    XmlFifo path;
    path.initFifo(3, "FILEBUS", group, tag);
    return QString::fromUtf8(XmlDescriptor::xmlToText(tree.getAttributeValue("a", &path)).c_str());
}

bool fitsSelection(const QString& name)
{
    return name.toUtf8().size() <= BusSelection::kMaxSelectionBytes;
}

} // namespace

BusSelection::BusSelection(QQuickItem* parent) : QQuickItem(parent)
{
    connect(this, &QQuickItem::opacityChanged, this, &BusSelection::opacityChangedSlot);
    connect(this, &BusSelection::busSelectSignal, this, &BusSelection::busSelectSlot);
}

BusSelection::~BusSelection()
{
    disconnect(this, &QQuickItem::opacityChanged, this, &BusSelection::opacityChangedSlot);
    disconnect(this, &BusSelection::busSelectSignal, this, &BusSelection::busSelectSlot);
}

const char* BusSelection::selectionBuffer() { return s_selection; }

void BusSelection::opacityChangedSlot()
{
    if (opacity() == 0)
        return;
    disconnect(this, &BusSelection::busSelectSignal, this, &BusSelection::busSelectSlot);

    fileList_.clear();
    for (const TBusPseudoFile* row = getBusDataPage(); row && row->name; ++row) {
        const QString name = QString::fromUtf8(row->name);
        if (name.endsWith(QLatin1String(".bus")))
            fileList_ << name.mid(1);
    }
    const QDir folder(QString::fromStdString(boardPath(kUserFolder)));
    for (const QString& file : folder.entryList(QDir::Files)) {
        // A longer name would lose its '*' in busFileName and load another file.
        if (file.endsWith(QLatin1String(".bus")) && fitsSelection(file + QLatin1Char('*')))
            fileList_ << file + QLatin1Char('*');
    }
    std::stable_sort(fileList_.begin(), fileList_.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });

    display(BusAnalysisStatusLine::busFileNameOf(data));
    connect(this, &BusSelection::busSelectSignal, this, &BusSelection::busSelectSlot);
    emit fileListChanged();
}

void BusSelection::display(const QString& name)
{
    XmlDescriptor tree;
    if (name.endsWith(QLatin1Char('*'))) {
        const QString file = name.left(name.size() - 1);
        if (isAcceptableFileName(file))
            tree.fileRead((kUserFolder + file.toStdString()).c_str(), true);
    } else if (const TBusPseudoFile* row = findBusPseudoFileBySuffix(name.toUtf8().constData())) {
        tree.fileRead(row->name, false);
    }
    if (tree.valid) {
        XmlFifo path;
        path.initFifo(3, "FILEBUS", "GENERAL", "BITMAP");
        const std::string bitmap = tree.getAttributeValue("a", &path);
        const unsigned char* bytes = nullptr;
        int size = 0;
        QImage picture;
        // No picture of its own: none, rather than the previous bus's connector.
        if (!bitmap.empty() && getBusPseudoFileContent(("/" + bitmap).c_str(), &bytes, &size))
            picture.loadFromData(bytes, size, "PNG");
        image_ = picture;
        title_ = attributeText(tree, "BUS", "TITLE");
        comment_ = attributeText(tree, "BUS", "COMMENT");
    }
    emit dataChanged();
}

void BusSelection::busSelectSlot(const QString& name)
{
    display(name);
    if (!fitsSelection(name)) {
        // Cut into the 40-byte field it would name another file.
        if (po_g_homeView)
            emit po_g_homeView->screenMessageSignal(kMessageBadName, name);
        return;
    }
    copyUtf8Cut(name, s_selection, kBufferSize);
    postMenuRequest(param::busFileName, reinterpret_cast<intptr_t>(s_selection));
}
