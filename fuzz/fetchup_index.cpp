// Fuzz target of the update index: the input is the new index, the first byte's bit 0 choosing
// whether it is also the accepted one. It is read as the download list, then checked against a
// staging folder holding one file. Properties: no crash, no sanitizer report; a listed name is
// never refused by the name rule yet able to leave the folder; the check never passes for an
// index naming a refused name.
#include "board/board.h"
#include "fetchup/updater.h"
#include "fuzz/support.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    QDir().mkpath(QString::fromStdString(boardPath(kStagingDir)));
    fuzzWriteBoardFile("/media/private/update/download/a.bin", reinterpret_cast<const uint8_t*>("a"), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    fuzzWriteBoardFile(kStagedIndex, data + 1, size - 1);
    if (data[0] & 1)
        fuzzWriteBoardFile(kAcceptedIndex, data + 1, size - 1);
    else
        QFile::remove(QString::fromStdString(boardPath(kAcceptedIndex)));
    Updater updater;
    QFile index(QString::fromStdString(boardPath(kStagedIndex)));
    const QStringList names = updater.createDownloadFileList(index);
    if ((data[0] & 1) && !names.isEmpty())
        fuzzFailure("an index identical to the accepted one lists files to fetch");
    bool refused = false;
    for (const QString& name : names) {
        refused = refused || indexNameRefused(name);
        if (!indexNameRefused(name) && (name.contains('/') || name == ".."))
            fuzzFailure("a name leaving the folder passes the name rule");
    }
    if (updater.checkIntegrity(QDir(QString::fromStdString(boardPath(kStagingDir)))) && refused)
        fuzzFailure("a release naming a refused file passes the check");
    return 0;
}
