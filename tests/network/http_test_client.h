// Test helpers of the HTTP server: a reply parser over bytes, a loopback client, and a sink that
// collects what a connection sends.
#pragma once

#include "board/board.h"
#include "network/serverHTTP.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

struct THttpReply {
    int status = 0;
    std::string head;  // status line to the empty line, as received
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // Value of the first header of that name (any case); "" when absent.
    std::string header(const std::string& name) const
    {
        for (const auto& h : headers)
            if (strcasecmp(h.first.c_str(), name.c_str()) == 0)
                return h.second;
        return std::string();
    }
    bool has(const std::string& name) const
    {
        for (const auto& h : headers)
            if (strcasecmp(h.first.c_str(), name.c_str()) == 0)
                return true;
        return false;
    }
    std::vector<std::string> headerNames() const
    {
        std::vector<std::string> names;
        for (const auto& h : headers)
            names.push_back(h.first);
        return names;
    }
};

// One reply from the start of bytes; the bytes it took, or 0 when incomplete. A reply to HEAD,
// and a 304, carry no body.
inline size_t parseHttpReply(const std::string& bytes, bool headRequest, THttpReply& reply)
{
    size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos)
        return 0;
    reply = THttpReply();
    reply.head = bytes.substr(0, end + 4);
    if (reply.head.compare(0, 9, "HTTP/1.1 ") != 0)
        return 0;
    reply.status = std::atoi(reply.head.c_str() + 9);
    size_t pos = reply.head.find("\r\n") + 2;
    while (pos < end) {
        size_t eol = reply.head.find("\r\n", pos);
        std::string line = reply.head.substr(pos, eol - pos);
        size_t colon = line.find(": ");
        if (colon != std::string::npos)
            reply.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        pos = eol + 2;
    }
    size_t length = 0;
    if (!headRequest && reply.status != 304)
        length = static_cast<size_t>(std::atoll(reply.header("Content-Length").c_str()));
    if (bytes.size() < end + 4 + length)
        return 0;
    reply.body = bytes.substr(end + 4, length);
    return end + 4 + length;
}

// Every reply of a byte stream, in order (all to GET).
inline std::vector<THttpReply> parseHttpReplies(std::string bytes)
{
    std::vector<THttpReply> replies;
    THttpReply r;
    while (size_t n = parseHttpReply(bytes, false, r)) {
        replies.push_back(r);
        bytes.erase(0, n);
    }
    return replies;
}

// Collects what a connection sends, as the socket would carry it.
class TStringSink : public THttpSink {
public:
    bool send(const std::string& header, const char* body, size_t length) override
    {
        out += header;
        if (length)
            out.append(body, length);
        return true;
    }
    bool sendFile(const std::string& header, int fd, int64_t length) override
    {
        out += header;
        char piece[4096];
        int64_t left = length;
        while (left > 0) {
            ssize_t n = ::read(fd, piece, static_cast<size_t>(std::min<int64_t>(left, sizeof piece)));
            if (n <= 0)
                return false;
            out.append(piece, static_cast<size_t>(n));
            left -= n;
        }
        return true;
    }
    std::string out;
};

// A loopback client of the server at boardPort(80).
class THttpTestClient {
public:
    THttpTestClient() = default;
    THttpTestClient(const THttpTestClient&) = delete;
    THttpTestClient& operator=(const THttpTestClient&) = delete;
    ~THttpTestClient() { close(); }

    // receiveBuffer > 0: a client that takes the answers slowly.
    bool connect(int timeoutMs = 5000, int receiveBuffer = 0)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (receiveBuffer > 0)
                ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(boardPort(kHttpPort)));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                int one = 1;
                ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                return true;
            }
            close();
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        pending_.clear();
    }

    bool send(const std::string& data)
    {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // One reply; false on time-out or when the connection ends first.
    bool read(THttpReply& reply, bool headRequest = false, int timeoutMs = 5000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (size_t n = parseHttpReply(pending_, headRequest, reply)) {
                pending_.erase(0, n);
                return true;
            }
            if (!fill(deadline))
                return false;
        }
    }

    bool get(const std::string& path, THttpReply& reply, const std::string& extraHeaders = "")
    {
        return send("GET " + path + " HTTP/1.1\r\n" + extraHeaders + "\r\n") && read(reply);
    }

    // Waits for the peer to close; true when it did within the time. Bytes that came first are
    // left in received().
    bool closedByPeer(int timeoutMs = 5000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (fill(deadline)) {
        }
        return eof_;
    }

    // Nothing arrives and the connection stays open for that long.
    bool staysQuiet(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

    const std::string& received() const { return pending_; }
    int fd() const { return fd_; }

private:
    // Reads what comes before the deadline; false on end, error or time-out.
    bool fill(std::chrono::steady_clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || fd_ < 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            eof_ = n == 0 || errno == ECONNRESET;
            return false;
        }
        pending_.append(buf, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool eof_ = false;
    std::string pending_;
};
