// The benchmarks' baseline server, a process of its own like benchview: the plainest loopback
// server doing the same exchange. Writes its port on the first line of standard output, then
// serves until killed.
//   bench_echo_server tcp REPLY   every line received is answered with REPLY (a thread a client)
//   bench_echo_server udp REPLY   every datagram is answered with REPLY
//   bench_echo_server udp-bytes N every datagram is answered with N bytes (N at most 65000)
#include "bench/support/sendall.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void serveLines(int fd, const std::string& reply)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == '\n' && !benchsupport::sendAll(fd, reply.data(), reply.size()))
                break;
    }
    ::close(fd);
}

int boundSocket(int type, sockaddr_in* addr)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    *addr = sockaddr_in{};
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof *addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(addr), sizeof *addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(addr), &len) != 0)
        return -1;
    return fd;
}

int serveTcp(const std::string& reply)
{
    sockaddr_in addr{};
    const int listener = boundSocket(SOCK_STREAM, &addr);
    if (listener < 0 || ::listen(listener, 16) != 0)
        return 1;
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return 1;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread(serveLines, fd, reply).detach();
    }
}

int serveUdp(const std::string& reply)
{
    sockaddr_in addr{};
    const int fd = boundSocket(SOCK_DGRAM, &addr);
    if (fd < 0)
        return 1;
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    char buf[65536];
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const ssize_t n = ::recvfrom(fd, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&peer), &len);
        if (n < 1)
            continue;
        ::sendto(fd, reply.data(), reply.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&peer), len);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s tcp|udp REPLY | udp-bytes N\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    if (kind == "tcp")
        return serveTcp(argv[2]);
    if (kind == "udp")
        return serveUdp(argv[2]);
    if (kind == "udp-bytes") {
        const long n = std::strtol(argv[2], nullptr, 10);
        if (n < 1 || n > 65000)
            return 2;
        return serveUdp(std::string(static_cast<size_t>(n), 'x'));
    }
    std::fprintf(stderr, "unknown kind %s\n", argv[1]);
    return 2;
}
