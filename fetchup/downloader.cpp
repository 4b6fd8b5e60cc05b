#include "fetchup/downloader.h"

#include "fetchup/updater.h"

#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cstdio>

#include "board/board.h"

namespace {

constexpr qint64 kBlock = 8192;
QString g_server;
int g_transferTimeoutMs = 60000;

// On the simulated board nothing but the loopback interface is reached, and no name is looked up.
bool serverAllowed(const QUrl& url)
{
    if (!url.isValid() || url.scheme() != "https" || url.host().isEmpty())
        return false;
    if (!kSimulatedBoard)
        return true;
    QHostAddress address;
    return address.setAddress(url.host()) && address.isLoopback();
}

} // namespace

QString firmwareServer() { return g_server; }
void setFirmwareServer(const QString& url) { g_server = url; }
void setTransferTimeoutMs(int ms) { g_transferTimeoutMs = ms; }

Downloader::Downloader()
{
    connect(&o_i_webCtrl, &QNetworkAccessManager::finished, this, &Downloader::fileDownloaded);
}

void Downloader::load(QStringList list, QString dest)
{
    o_i_fileList = list;
    o_i_dest = dest;
    if (!o_i_fileList.isEmpty())
        requestNext();
}

void Downloader::requestNext()
{
    name_ = o_i_fileList.takeFirst();
    const QUrl url(g_server + "/tavlinIV/firmware/" + name_);
    if (g_server.isEmpty() || !serverAllowed(url)) {
        // No request at all: the file fails as an unreachable server would, from the event loop.
        part_.setFileName(QString());
        QTimer::singleShot(0, this, &Downloader::failed);
        return;
    }
    part_.setFileName(o_i_dest + "/" + name_ + ".part");
    part_.open(QIODevice::WriteOnly | QIODevice::Truncate);  // not open: nothing is stored
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(g_transferTimeoutMs);
    QNetworkReply* reply = o_i_webCtrl.get(request);
    // A bounded buffer: the data goes to the part file as it arrives.
    reply->setReadBufferSize(4 * kBlock);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        char block[kBlock];
        qint64 n;
        while ((n = reply->read(block, sizeof block)) > 0)
            if (part_.isOpen() && part_.write(block, n) != n)
                part_.close();  // a short write: the file cannot be whole
    });
}

void Downloader::fileDownloaded(QNetworkReply* reply)
{
    // Stored under the name requested, only for a whole answer: no error and status 200.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status == 200)
        storeArrived(reply);
    else
        part_.remove();
    reply->deleteLater();
    next();
}

void Downloader::storeArrived(QNetworkReply* reply)
{
    char block[kBlock];
    qint64 n;
    while ((n = reply->read(block, sizeof block)) > 0)
        if (part_.isOpen() && part_.write(block, n) != n)
            part_.close();
    if (!part_.isOpen() || !part_.flush()) {
        part_.remove();
        return;
    }
    part_.close();
    syncPath(part_.fileName());
    const QString target = o_i_dest + "/" + name_;
    if (::rename(QFile::encodeName(part_.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        part_.remove();
}

void Downloader::failed()
{
    if (!part_.fileName().isEmpty())
        part_.remove();
    next();
}

void Downloader::next()
{
    if (o_i_fileList.isEmpty())
        emit downloadCompleteSignal();
    else
        requestNext();
}
