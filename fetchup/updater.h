// The firmware update's decisions: an SD card's update or, at most every 30 days, the changed
// files of a new release from the firmware server, verified against the MD5 index and announced
// by /media/private/update/downloadOk.
#pragma once

#include "fetchup/downloader.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

constexpr const char* kUpdateDir = "/media/private/update";
constexpr const char* kStagingDir = "/media/private/update/download";
constexpr const char* kStagedIndex = "/media/private/update/download/index";
constexpr const char* kAcceptedIndex = "/media/private/update/index";
constexpr const char* kDateFile = "/media/private/update/date";
constexpr const char* kReadyMarker = "/media/private/update/downloadOk";
constexpr const char* kCopyMarker = "/tmp/downloadRunning";
constexpr const char* kSdUpdateDir = "/media/user/sdcard_p1/update";
constexpr const char* kSdIndex = "/media/user/sdcard_p1/update/index";
constexpr long kCheckPeriodS = 2592000;

// Makes a file or folder durable (fsync of the host path). Tests observe the order.
void syncPath(const QString& hostPath);
void setSyncObserver(std::function<void(const QString&)> observer);
// Every end of the program: what was written is synced, then endProcess(0). A test's hook
// returns instead, and so does the caller.
void finishProgram();
void setFinishHook(std::function<void()> hook);
// Index line: digest and name, split at every two blanks, exactly two parts, trimmed.
bool splitIndexLine(const QByteArray& line, QString* digest, QString* name);
// A listed name that could leave the staging folder or replace its index.
bool indexNameRefused(const QString& name);

class Updater : public QObject {
    Q_OBJECT
public:
    Updater();
    void start();
    QStringList createDownloadFileList(QFile& file);
    bool checkIntegrity(QDir dir);
    void copyPath(QString src, QString dest);

public slots:
    void downloadCompleteSlot();

private:
    Downloader o_i_downloader;
    bool b_i_loadIndexRequested;

    void writeDate();
    void dropStagedIndex();
    bool stagedNamesRefused();
};
