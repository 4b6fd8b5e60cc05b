#include "ui/frame/fileload.h"

#include "board/board.h"
#include "core/requests.h"
#include "core/sysserv.h"
#include "ui/frame/filesave.h"
#include "ui/frame/homeview.h"

#include <QDir>

#include <cstring>

namespace {

constexpr int kMessageBadName = 23;

// The controller reads the path after the post: storage for the whole process, overwritten in
// place by the next load (never freed under a reader).
constexpr int kPathSize = 1024;
char s_path[kPathSize];

} // namespace

FileLoad::FileLoad(QQuickItem* parent)
    : QQuickItem(parent)
{
    connect(this, SIGNAL(loadSignal(QString)), this, SLOT(loadSlot(QString)));
}

FileLoad::~FileLoad()
{
    disconnect(this, SIGNAL(loadSignal(QString)), this, SLOT(loadSlot(QString)));
}

QString FileLoad::masksFolder()
{
    const QString root = isSdcardPresent() ? QStringLiteral("/media/user/sdcard_p1") : QStringLiteral("/media/user");
    return root + QStringLiteral("/masks");
}

const char* FileLoad::lastPath() { return s_path; }

QStringList FileLoad::getFileList()
{
    const QDir dir(QString::fromStdString(boardPath(masksFolder().toStdString())));
    if (!dir.exists())
        return {};
    return dir.entryList(QDir::Files, QDir::Unsorted);
}

void FileLoad::loadSlot(QString name)
{
    const QByteArray path = (masksFolder() + QLatin1Char('/') + name).toUtf8();
    // A cut path would name another file: too long a name is refused like a bad one.
    if (!isAcceptableFileName(name) || path.size() >= kPathSize || path.contains('\0')) {
        if (po_g_homeView)
            emit po_g_homeView->screenMessageSignal(kMessageBadName, name);
        return;
    }
    std::memcpy(s_path, path.constData(), static_cast<size_t>(path.size()) + 1);
    pipe_dial request{REQ_FILE, fileTraceRecall, 0, reinterpret_cast<intptr_t>(s_path), 0.0f,
                      senderValue(MENU_id)};
    // A full box loses the request; the controller reports the loads it does.
    o_g_consMessageBox.send(&request);
}
