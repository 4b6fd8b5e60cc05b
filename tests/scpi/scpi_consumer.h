// Test helpers: a consumer thread standing in for the interpreter, and small loopback and
// pseudo-terminal clients.
#pragma once

#include "board/board.h"
#include "scpi/io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct TConsumedLine {
    std::string text;
    int origin = -1;
    int getResult = 0;     // of the GetCharacter that ended the line
    int lanSocket = 0;     // i_g_lanSocketFd while the line was bound
    int putResult = 1;     // of the reply; 1 when none was written
    unsigned char terminator = 0;
};

// Reads whole lines through GetCharacter, answers through PutMessage while the message is
// bound, then ends it. The default answer is "echo:<line>\n\r".
class TTestConsumer {
public:
    using Answer = std::function<void(const std::string& line, TConsumedLine& record)>;

    explicit TTestConsumer(Answer answer = nullptr) : answer_(std::move(answer))
    {
        thread_ = std::thread([this] { run(); });
    }

    ~TTestConsumer()
    {
        static const char quit[] = "__quit\n";
        scpiPutMacroInput(quit, sizeof quit - 1);
        thread_.join();
    }

    bool waitForLines(size_t count, int timeoutMs = 5000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return lines_.size() >= count; });
    }

    std::vector<TConsumedLine> lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    static int reply(const std::string& text) { return PutMessage(text.data(), static_cast<int32_t>(text.size())); }

private:
    void run()
    {
        for (;;) {
            TConsumedLine rec;
            unsigned char c = 0;
            for (;;) {
                rec.getResult = GetCharacter(&c);
                if (c == '\n' || c == '\r')
                    break;
                rec.text += static_cast<char>(c);
            }
            rec.terminator = c;
            rec.origin = e_g_requestOrg;
            rec.lanSocket = i_g_lanSocketFd;
            if (rec.origin == kOriginMacro && rec.text == "__quit") {
                scpiEndOfMessage();
                return;
            }
            if (rec.text.empty() && rec.getResult == kGetCharOk) {
                scpiEndOfMessage();
                continue;
            }
            if (answer_)
                answer_(rec.text, rec);
            else
                rec.putResult = reply("echo:" + rec.text + "\n\r");
            scpiEndOfMessage();
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(rec);
            cond_.notify_all();
        }
    }

    Answer answer_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::vector<TConsumedLine> lines_;
    std::thread thread_;
};

// ---- loopback clients

// receiveBuffer > 0 shrinks the client's receive buffer (a client that is slow to fill up).
inline int connectScpi(int timeoutMs = 5000, int receiveBuffer = 0)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(boardPort(kScpiPort)));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline bool writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Exactly n bytes of the stream, or what came before the time-out or the end of the stream.
inline std::string readExactly(int fd, size_t n, int timeoutMs)
{
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[65536];
        const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (r <= 0)
            break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

// Reads until count "\n\r" terminators arrived; false on time-out or end of stream.
inline bool readReplies(int fd, size_t count, std::string* out, int timeoutMs = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto terminators = [&] {
        size_t n = 0;
        for (size_t p = out->find("\n\r"); p != std::string::npos; p = out->find("\n\r", p + 2))
            ++n;
        return n;
    };
    while (terminators() < count) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            return false;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        out->append(buf, static_cast<size_t>(n));
    }
    return true;
}

// Reads until the end of the stream: the bytes read, or -1 on time-out.
inline long readToEnd(int fd, int timeoutMs = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    long total = 0;
    for (;;) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0)
            return -1;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            return -1;
        char buf[65536];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return total;
        total += n;
    }
}

// Nothing arrives (no data, no end of stream) within the time.
inline bool staysQuiet(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
}

template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = 5000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Writes the lines and reads until `replies` terminators arrived; the replies, or what came
// before a failure with "write failed" or "timeout: " in front.
inline std::string askScpi(int fd, const std::string& lines, size_t replies, int timeoutMs)
{
    if (!writeAll(fd, lines))
        return "write failed";
    std::string out;
    if (!readReplies(fd, replies, &out, timeoutMs))
        return "timeout: " + out;
    return out;
}
