#include "fetchup/updater.h"

#include "board/board.h"
#include "board/process.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::function<void(const QString&)> g_syncObserver;
std::function<void()> g_finishHook;

QString hostPath(const char* boardAbsolutePath) { return QString::fromStdString(boardPath(boardAbsolutePath)); }

bool exists(const char* boardAbsolutePath) { return QFileInfo::exists(hostPath(boardAbsolutePath)); }

// Opened read-write, created when missing, closed at once.
void touch(const char* boardAbsolutePath)
{
    const int fd = ::open(boardPath(boardAbsolutePath).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

struct TIndexEntry {
    QString digest, name;
};

// Every line of an index; false when it cannot be opened. A line that is not exactly two
// parts is skipped, or ends the reading with false when `strict`.
bool readIndex(const QString& path, bool strict, QList<TIndexEntry>* entries)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        TIndexEntry e;
        if (splitIndexLine(line, &e.digest, &e.name))
            entries->append(e);
        else if (strict)
            return false;
    }
    return true;
}

} // namespace

void syncPath(const QString& hostPath)
{
    const int fd = ::open(QFile::encodeName(hostPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    if (g_syncObserver)
        g_syncObserver(hostPath);
}

void setSyncObserver(std::function<void(const QString&)> observer) { g_syncObserver = std::move(observer); }

void finishProgram()
{
    if (g_finishHook) {
        g_finishHook();
        return;
    }
    endProcess(0);
}

void setFinishHook(std::function<void()> hook) { g_finishHook = std::move(hook); }

bool splitIndexLine(const QByteArray& line, QString* digest, QString* name)
{
    // The bytes up to the first zero, as UTF-8.
    const QStringList parts = QString::fromUtf8(line.constData()).split("  ", Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return false;
    *digest = parts[0].trimmed();
    *name = parts[1].trimmed();
    return true;
}

bool indexNameRefused(const QString& name)
{
    if (name.isEmpty() || name == "." || name == ".." || name == "index")
        return true;
    for (const QChar c : name)
        if (c == '/' || c == '\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

Updater::Updater() : b_i_loadIndexRequested(false)
{
    connect(&o_i_downloader, &Downloader::downloadCompleteSignal, this, &Updater::downloadCompleteSlot);
}

void Updater::start()
{
    // 1. A verified release still waits to be installed.
    if (exists(kReadyMarker))
        return finishProgram();

    // 2. An update on the SD card.
    if (QFileInfo(hostPath(kSdUpdateDir)).isDir() && QFileInfo(hostPath(kSdIndex)).isFile()) {
        QDir staging(hostPath(kStagingDir));
        if (staging.exists())
            staging.removeRecursively();
        QDir().mkpath(hostPath(kStagingDir));
        touch(kCopyMarker);
        copyPath(hostPath(kSdUpdateDir), hostPath(kStagingDir));
        ::unlink(boardPath(kCopyMarker).c_str());
        return downloadCompleteSlot();
    }

    // 3. A recent check: nothing to do. A date far ahead (a clock once wrong) is no date.
    const int dateFd = ::open(boardPath(kDateFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (dateFd >= 0) {
        char text[51] = {};
        const ssize_t n = ::read(dateFd, text, 50);
        ::close(dateFd);
        if (n > 0) {
            const long then = std::strtol(text, nullptr, 10);
            const long now = static_cast<long>(std::time(nullptr));
            if (then - now <= kCheckPeriodS && now - then <= kCheckPeriodS)
                return finishProgram();
        }
    }

    // 4.
    QDir().mkpath(hostPath(kStagingDir));

    // 5. Second stage: what the fetched index lists anew.
    if (exists(kStagedIndex)) {
        if (stagedNamesRefused()) {
            dropStagedIndex();
            return finishProgram();
        }
        QFile index(hostPath(kStagedIndex));
        const QStringList list = createDownloadFileList(index);
        if (list.isEmpty()) {
            dropStagedIndex();
            writeDate();
            syncPath(hostPath(kDateFile));
            syncPath(hostPath(kUpdateDir));
            return finishProgram();
        }
        o_i_downloader.load(list, hostPath(kStagingDir));
        return;
    }

    // 6. First stage: the index only.
    b_i_loadIndexRequested = true;
    o_i_downloader.load(QStringList{"index"}, hostPath(kStagingDir));
}

void Updater::downloadCompleteSlot()
{
    if (b_i_loadIndexRequested) {
        syncPath(hostPath(kStagingDir));
        return finishProgram();
    }
    if (!QFileInfo(hostPath(kStagingDir)).isDir() || !checkIntegrity(QDir(hostPath(kStagingDir)))) {
        dropStagedIndex();
        return finishProgram();
    }
    // Everything the marker announces reaches the medium before the marker does.
    QList<TIndexEntry> entries;
    readIndex(hostPath(kStagedIndex), false, &entries);
    for (const TIndexEntry& e : entries)
        syncPath(hostPath(kStagingDir) + "/" + e.name);
    syncPath(hostPath(kStagingDir));
    writeDate();
    QFile::remove(hostPath(kAcceptedIndex));
    QFile::copy(hostPath(kStagedIndex), hostPath(kAcceptedIndex));
    syncPath(hostPath(kAcceptedIndex));
    QFile::remove(hostPath(kStagedIndex));
    syncPath(hostPath(kStagingDir));
    syncPath(hostPath(kDateFile));
    syncPath(hostPath(kUpdateDir));
    touch(kReadyMarker);
    syncPath(hostPath(kReadyMarker));
    syncPath(hostPath(kUpdateDir));
    finishProgram();
}

QStringList Updater::createDownloadFileList(QFile& file)
{
    QStringList digests, names;
    QList<TIndexEntry> entries;
    readIndex(file.fileName(), false, &entries);
    for (const TIndexEntry& e : entries) {
        digests.append(e.digest);
        names.append(e.name);
    }
    QList<TIndexEntry> accepted;
    readIndex(hostPath(kAcceptedIndex), false, &accepted);
    for (const TIndexEntry& a : accepted) {
        for (int i = 0; i < names.size(); ++i) {
            if (digests[i] == a.digest && names[i] == a.name) {
                digests.removeAt(i);
                names.removeAt(i);
                break;
            }
        }
    }
    return names;
}

bool Updater::checkIntegrity(QDir dir)
{
    try {
        QList<TIndexEntry> entries;
        if (!readIndex(dir.path() + "/index", true, &entries))
            throw 1;
        for (const TIndexEntry& e : entries) {
            if (indexNameRefused(e.name))
                throw 2;
            if (e.name.startsWith('.'))
                continue;
            QFile file(dir.path() + "/" + e.name);
            if (!file.open(QIODevice::ReadOnly))
                throw 3;
            QCryptographicHash md5(QCryptographicHash::Md5);
            char block[8192];
            qint64 n;
            while ((n = file.read(block, sizeof block)) > 0)
                md5.addData(block, static_cast<int>(n));
            if (n < 0)
                throw 4;
            const QByteArray got = md5.result().toHex();
            QString listed;
            for (const TIndexEntry& first : entries)
                if (first.name == e.name) {
                    listed = first.digest;
                    break;
                }
            if (listed.toUtf8() != got)
                throw 5;
        }
    } catch (int) {
        return false;
    }
    return true;
}

void Updater::copyPath(QString src, QString dest)
{
    QDir from(src), to(dest);
    if (!from.exists() || !to.exists())
        return;
    for (const QString& name : from.entryList(QDir::Files | QDir::NoDotAndDotDot)) {
        // Never over an existing file; a failed copy shows in the check.
        if (QFile::copy(src + "/" + name, dest + "/" + name))
            syncPath(dest + "/" + name);
    }
}

void Updater::writeDate()
{
    const int fd = ::open(boardPath(kDateFile).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%ld", static_cast<long>(std::time(nullptr)));
    if (::write(fd, text, static_cast<size_t>(n)) < 0) {
    }
    ::close(fd);
}

void Updater::dropStagedIndex()
{
    QFile::remove(hostPath(kStagedIndex));
    syncPath(hostPath(kStagingDir));
}

bool Updater::stagedNamesRefused()
{
    QList<TIndexEntry> entries;
    readIndex(hostPath(kStagedIndex), false, &entries);
    for (const TIndexEntry& e : entries)
        if (indexNameRefused(e.name))
            return true;
    return false;
}
