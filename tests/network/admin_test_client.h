// A loopback UDP client of the discovery responder, and the datagrams it sends and expects.
#pragma once

#include "network/ScopeAdmin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A request: header (byte 0 given), command byte, then the field bytes as they stand.
inline std::string adminDatagram(unsigned char command, const std::string& fields, char first = 0x01)
{
    std::string d(scopeAdminHeader, kAdminHeaderSize);
    d[0] = first;
    d.push_back(static_cast<char>(command));
    return d + fields;
}

inline std::string adminReply(unsigned char command, const std::string& fields)
{
    return std::string(scopeAdminHeader, kAdminHeaderSize) + static_cast<char>(command) + fields;
}

class TAdminClient {
public:
    TAdminClient()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int size = 1 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~TAdminClient() { ::close(fd_); }
    void send(int port, const std::string& bytes)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // One datagram, or false when none came within the wait.
    bool receive(std::string* out, int waitMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1)
            return false;
        char buffer[2048];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0)
            return false;
        out->assign(buffer, static_cast<size_t>(n));
        return true;
    }

    // Sends until an answer comes (the responder may still be setting up); false at the wait's end.
    bool ask(int port, const std::string& request, std::string* answer, int waitMs)
    {
        for (int waited = 0; waited < waitMs; waited += 100) {
            send(port, request);
            if (receive(answer, 100))
                return true;
        }
        return false;
    }

private:
    int fd_ = -1;
};
