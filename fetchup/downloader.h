// Fetches the files of a release one after another from the firmware server into the staging
// directory, each streamed to "<name>.part" and renamed when it arrived whole.
#pragma once

#include <QFile>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QStringList>

class QNetworkReply;

// The server's address ("https://host[:port]"); on the simulated board only a loopback
// address is reached. Empty: every download fails at once.
QString firmwareServer();
void setFirmwareServer(const QString& url);
// A download that stalls this long fails (the library's transfer time-out).
void setTransferTimeoutMs(int ms);

class Downloader : public QObject {
    Q_OBJECT
public:
    Downloader();
    void load(QStringList list, QString dest);

signals:
    void downloadCompleteSignal();

public slots:
    void fileDownloaded(QNetworkReply* reply);

private:
    QStringList o_i_fileList;
    QString o_i_dest;
    QNetworkAccessManager o_i_webCtrl;

    QString name_;        // the file in flight, as requested
    QFile part_;          // its part file
    void requestNext();
    void storeArrived(QNetworkReply* reply);
    void failed();        // the file in flight is not stored
    void next();          // the next file, or the end of the list
};
