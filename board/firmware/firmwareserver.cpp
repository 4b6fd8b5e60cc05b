#include "board/firmware/firmwareserver.h"

#include "board/systools.h"

#include <QFile>
#include <QHostAddress>
#include <QMutex>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace simboard {

namespace {

constexpr qint64 kChunk = 65536;
const QByteArray kPrefix = "/tavlinIV/firmware/";

struct TSwitches {
    std::map<std::string, int> status;
    std::set<std::string> changed, closeMid;
    std::map<std::string, TFirmwareServer::TStall> stall;
};

} // namespace

struct TFirmwareServer::Impl : QThread {
    mutable std::mutex mu;
    std::string folder, cert, key;
    TSwitches switches;
    std::vector<std::string> requests;
    int port = 0;
    std::mutex readyMu;
    std::condition_variable ready;
    bool started = false;
    std::string error;

    void run() override;
};

namespace {

class TServer : public QTcpServer {
public:
    explicit TServer(TFirmwareServer::Impl* owner) : owner_(owner) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        std::string cert, key;
        {
            std::lock_guard<std::mutex> lock(owner_->mu);
            cert = owner_->cert;
            key = owner_->key;
        }
        socket->setLocalCertificate(QString::fromStdString(cert));
        socket->setPrivateKey(QString::fromStdString(key), QSsl::Ec);
        auto request = std::make_shared<QByteArray>();
        connect(socket, &QSslSocket::readyRead, socket, [this, socket, request] {
            const QByteArray bytes = socket->readAll();
            if (socket->property("answered").toBool())
                return;
            request->append(bytes);
            if (request->indexOf("\r\n\r\n") < 0)
                return;
            socket->setProperty("answered", true);
            answer(socket, *request);
        });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), socket,
                [socket](const QList<QSslError>&) { socket->abort(); });
        socket->startServerEncryption();
    }

private:
    TFirmwareServer::Impl* owner_;

    void answer(QSslSocket* socket, const QByteArray& request)
    {
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        const QByteArray path = words.size() >= 2 ? words[1] : QByteArray();
        std::string folder;
        TSwitches sw;
        {
            std::lock_guard<std::mutex> lock(owner_->mu);
            owner_->requests.push_back(path.toStdString());
            folder = owner_->folder;
            sw = owner_->switches;
        }
        const std::string name = path.startsWith(kPrefix) ? path.mid(kPrefix.size()).toStdString() : std::string();
        auto status = sw.status.find(name);
        auto stall = sw.stall.find(name);
        QFile* file = new QFile(QString::fromStdString(folder + "/" + name), socket);
        const bool plain = !name.empty() && name.find('/') == std::string::npos && name != "." && name != ".." &&
                           file->open(QIODevice::ReadOnly);
        if (stall != sw.stall.end() && stall->second == TFirmwareServer::TStall::Silent)
            return;
        if (!plain || (status != sw.status.end() && status->second == 404)) {
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        if (status != sw.status.end() && status->second == 204) {
            socket->write("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        qint64 length = file->size();
        QByteArray head;
        if (status != sw.status.end() && status->second == 301)
            head = "HTTP/1.1 301 Moved Permanently\r\nLocation: " + kPrefix + "moved/" + QByteArray::fromStdString(name) +
                   "\r\n";
        else
            head = "HTTP/1.1 200 OK\r\n";
        head += "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
        socket->write(head);
        if (stall != sw.stall.end() && stall->second == TFirmwareServer::TStall::AfterHeaders)
            return;
        const bool changed = sw.changed.count(name) != 0;
        const qint64 limit = sw.closeMid.count(name) ? length / 2 : length;
        auto sent = std::make_shared<qint64>(0);
        auto feed = [socket, file, sent, limit, changed] {
            while (*sent < limit && socket->encryptedBytesToWrite() + socket->bytesToWrite() < 4 * kChunk) {
                QByteArray chunk = file->read(std::min(kChunk, limit - *sent));
                if (chunk.isEmpty())
                    break;
                if (changed && *sent == 0)
                    chunk[0] = static_cast<char>(chunk[0] ^ 1);
                *sent += chunk.size();
                socket->write(chunk);
            }
            if (*sent >= limit && socket->property("closing").toBool() == false) {
                socket->setProperty("closing", true);
                socket->disconnectFromHost();
            }
        };
        connect(socket, &QSslSocket::encryptedBytesWritten, socket, feed);
        feed();
    }
};

} // namespace

void TFirmwareServer::Impl::run()
{
    TServer server(this);
    const bool ok = server.listen(QHostAddress::LocalHost, 0);
    {
        std::lock_guard<std::mutex> lock(readyMu);
        port = ok ? server.serverPort() : 0;
        error = ok ? std::string() : server.errorString().toStdString();
        started = true;
    }
    ready.notify_all();
    if (ok)
        exec();
}

bool makeServerCertificate(const std::string& certPath, const std::string& keyPath, std::string* error)
{
    const int status = runBoardSystemTool(
        "openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30", "-subj",
         "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", keyPath, "-out", certPath},
        -1);
    if (status != 0 && error)
        *error = status == kToolNotStarted ? "the openssl command cannot be run" : "openssl could not make the certificate";
    return status == 0;
}

TFirmwareServer::TFirmwareServer() : impl_(new Impl) {}

TFirmwareServer::~TFirmwareServer()
{
    stop();
    delete impl_;
}

bool TFirmwareServer::start(const std::string& folder, const std::string& certPath, const std::string& keyPath,
                            std::string* error)
{
    stop();
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        impl_->folder = folder;
        impl_->cert = certPath;
        impl_->key = keyPath;
        impl_->requests.clear();
        impl_->switches = TSwitches();
    }
    impl_->started = false;
    impl_->start();
    std::unique_lock<std::mutex> lock(impl_->readyMu);
    impl_->ready.wait(lock, [this] { return impl_->started; });
    if (impl_->port == 0) {
        if (error)
            *error = impl_->error;
        lock.unlock();
        impl_->wait();
        return false;
    }
    return true;
}

void TFirmwareServer::stop()
{
    if (impl_->isRunning()) {
        impl_->quit();
        impl_->wait();
    }
}

int TFirmwareServer::port() const { return impl_->port; }

std::string TFirmwareServer::url() const { return "https://127.0.0.1:" + std::to_string(impl_->port); }

void TFirmwareServer::setFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->folder = folder;
}

std::vector<std::string> TFirmwareServer::requests() const
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->requests;
}

void TFirmwareServer::clearRequests()
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->requests.clear();
}

void TFirmwareServer::setStatus(const std::string& name, int status)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->switches.status[name] = status;
}

void TFirmwareServer::setChangedByte(const std::string& name)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->switches.changed.insert(name);
}

void TFirmwareServer::setStall(const std::string& name, TStall stall)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->switches.stall[name] = stall;
}

void TFirmwareServer::setCloseMidBody(const std::string& name)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->switches.closeMid.insert(name);
}

void TFirmwareServer::setCertificate(const std::string& certPath, const std::string& keyPath)
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->cert = certPath;
    impl_->key = keyPath;
}

void TFirmwareServer::resetSwitches()
{
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->switches = TSwitches();
}

} // namespace simboard
