#include "ui/frame/filesave.h"

#include "core/filename.h"
#include "core/requests.h"
#include "ui/frame/homeview.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMessageBadName = 23;

// The controller reads the request's texts after the post: storage for the whole process.
char s_nameBuffer[FileSave::kBufferSize];
char s_commentBuffer[FileSave::kBufferSize];

const QString kDefaultComment = QStringLiteral("---");

} // namespace

bool isAcceptableFileName(const QString& name)
{
    // The file services take a name starting with "/" as a full path: a name must stay inside
    // its storage folder.
    const QByteArray bytes = name.toUtf8();
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && fileNameIsClean(bytes.constData(), static_cast<size_t>(bytes.size()))
        && !name.startsWith(QLatin1Char('.'));
}

void copyUtf8Cut(const QString& text, char* out, int size)
{
    const QByteArray bytes = text.toUtf8();
    int n = std::min(bytes.size(), size - 1);
    // Never end inside a multi-byte character: back off its continuation bytes and its lead.
    if (n < bytes.size()) {
        while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(out, bytes.constData(), static_cast<size_t>(n));
    out[n] = '\0';
}

FileSave::FileSave(QQuickItem* parent)
    : QQuickItem(parent)
    , comment_(kDefaultComment)
{
    connect(this, SIGNAL(saveSignal(int)), this, SLOT(saveSlot(int)));
}

FileSave::~FileSave()
{
    disconnect(this, SIGNAL(saveSignal(int)), this, SLOT(saveSlot(int)));
}

void FileSave::setDefaultComment()
{
    comment_ = kDefaultComment;
    emit commentChanged();
}

QString FileSave::defaultFilename(const QDateTime& when)
{
    return QStringLiteral("tavlin") + QStringLiteral("_%1").arg(when.toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")));
}

void FileSave::setDefaultFilename()
{
    filename_ = defaultFilename(QDateTime::currentDateTime());
    emit filenameChanged();
}

int32_t FileSave::actionOfKind(int code)
{
    switch (code) {
    case kindTraces: return fileTraceSave;
    case kindMath: return fileFunctionSave;
    case kindHarmonics: return fileHarmonicSave;
    case kindMask: return fileMaskSave;
    default: return fileSetupSave;
    }
}

const char* FileSave::nameBuffer() { return s_nameBuffer; }
const char* FileSave::commentBuffer() { return s_commentBuffer; }

void FileSave::saveSlot(int code)
{
    if (!isAcceptableFileName(filename_)) {
        // Nothing posted; the typed name and comment stay for a correction.
        if (po_g_homeView)
            emit po_g_homeView->screenMessageSignal(kMessageBadName, filename_);
        return;
    }
    copyUtf8Cut(filename_, s_nameBuffer, kBufferSize);
    copyUtf8Cut(comment_, s_commentBuffer, kBufferSize);
    pipe_dial request{REQ_FILE, actionOfKind(code), reinterpret_cast<intptr_t>(s_commentBuffer),
                      reinterpret_cast<intptr_t>(s_nameBuffer), 0.0f, senderValue(MENU_id)};
    // A full box loses the request; the controller reports the saves it does.
    o_g_consMessageBox.send(&request);

    comment_ = kDefaultComment;
    emit commentChanged();
    setDefaultFilename();
}
