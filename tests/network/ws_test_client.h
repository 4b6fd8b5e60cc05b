// Reference client of the web service for the tests: one datagram out on loopback, the reply's
// datagrams in, and parsers for the reply forms (comma fields, the trace layout, the file head).
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// A reply as received: the datagrams joined, and each datagram's size.
struct TWsAnswer {
    std::string bytes;
    std::vector<size_t> sizes;
};

class TWsTestClient {
public:
    static constexpr size_t kChunk = 50000;
    static constexpr int kQuietMs = 300;

    TWsTestClient()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        // Replies of 200000 bytes arrive as four datagrams at once: room for all of them.
        const int size = 1 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address_;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address_), sizeof address_) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~TWsTestClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TWsTestClient(const TWsTestClient&) = delete;
    TWsTestClient& operator=(const TWsTestClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const sockaddr_in& address() const { return address_; }

    // The service on 127.0.0.1 at port.
    void target(int port)
    {
        service_ = sockaddr_in{};
        service_.sin_family = AF_INET;
        service_.sin_port = htons(static_cast<uint16_t>(port));
        service_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    void target(const sockaddr_in& service) { service_ = service; }

    void send(const std::string& datagram) const
    {
        ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&service_),
                 sizeof service_);
    }

    // One reply: datagrams until one shorter than 50000 bytes, or until quietMs pass without one
    // (the first is awaited up to firstMs).
    TWsAnswer receive(int firstMs, int quietMs = kQuietMs) const
    {
        TWsAnswer answer;
        std::vector<char> buffer(kChunk + 1000);
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, answer.sizes.empty() ? firstMs : quietMs) <= 0)
                return answer;
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n < 0)
                return answer;
            answer.bytes.append(buffer.data(), static_cast<size_t>(n));
            answer.sizes.push_back(static_cast<size_t>(n));
            if (static_cast<size_t>(n) < kChunk)
                return answer;
        }
    }

    // Every datagram that arrives until quietMs pass without one.
    std::vector<std::string> drain(int quietMs) const
    {
        std::vector<std::string> out;
        std::vector<char> buffer(kChunk + 1000);
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                return out;
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n < 0)
                return out;
            out.emplace_back(buffer.data(), static_cast<size_t>(n));
        }
    }

    TWsAnswer exchange(const std::string& datagram, int firstMs = 10000)
    {
        send(datagram);
        return receive(firstMs);
    }

private:
    int fd_ = -1;
    sockaddr_in address_{};
    sockaddr_in service_{};
};

// The comma-terminated fields of a reply. With counted, the first field is the number of fields
// that follow, and it must match. False for text that is not whole fields.
inline bool wsFields(const std::string& reply, std::vector<std::string>* fields, bool counted = true)
{
    fields->clear();
    size_t pos = 0;
    while (pos < reply.size()) {
        const size_t comma = reply.find(',', pos);
        if (comma == std::string::npos)
            return false;
        fields->push_back(reply.substr(pos, comma - pos));
        pos = comma + 1;
    }
    if (!counted)
        return true;
    if (fields->empty())
        return false;
    char* end = nullptr;
    const long count = std::strtol((*fields)[0].c_str(), &end, 10);
    if (*end != '\0' || count != static_cast<long>(fields->size()) - 1)
        return false;
    fields->erase(fields->begin());
    return true;
}

// The trace reply: a five-field head, then per trace five fields, padding, "2500," and the codes.
struct TWsTraceBlock {
    int index = 0;
    int colour = 0;
    int envelope = 0;
    std::string factor;
    std::string position;
    size_t padding = 0;
    size_t codesAt = 0;  // offset of the first code byte in the reply
    std::vector<uint32_t> codes;
};

struct TWsTraceReply {
    uint32_t selected = 0;
    uint32_t available = 0;
    int xySourceX = 0;
    int xySourceY = 0;
    std::vector<TWsTraceBlock> blocks;
};

namespace wsclient_detail {

inline bool field(const std::string& bytes, size_t* pos, std::string* out)
{
    const size_t comma = bytes.find(',', *pos);
    if (comma == std::string::npos)
        return false;
    *out = bytes.substr(*pos, comma - *pos);
    *pos = comma + 1;
    return true;
}

} // namespace wsclient_detail

inline bool wsParseTraces(const std::string& bytes, TWsTraceReply* out, std::string* why)
{
    using wsclient_detail::field;
    *out = TWsTraceReply();
    size_t pos = 0;
    std::string f[5];
    for (std::string& s : f)
        if (!field(bytes, &pos, &s))
            return *why = "short head", false;
    if (f[0] != "100000")
        return *why = "head does not start with 100000", false;
    out->selected = static_cast<uint32_t>(std::stoul(f[1]));
    out->available = static_cast<uint32_t>(std::stoul(f[2]));
    out->xySourceX = std::stoi(f[3]);
    out->xySourceY = std::stoi(f[4]);
    while (pos < bytes.size()) {
        TWsTraceBlock b;
        for (std::string& s : f)
            if (!field(bytes, &pos, &s))
                return *why = "short block head", false;
        b.index = std::stoi(f[0]);
        b.colour = std::stoi(f[1]);
        b.envelope = std::stoi(f[2]);
        b.factor = f[3];
        b.position = f[4];
        while (pos < bytes.size() && bytes[pos] == '0' && bytes.compare(pos, 5, "2500,") != 0) {
            ++pos;
            ++b.padding;
        }
        if (pos % 4 != 0)
            return *why = "padding does not end on a multiple of 4", false;
        if (bytes.compare(pos, 5, "2500,") != 0)
            return *why = "no 2500 after the padding", false;
        pos += 5;
        if (bytes.size() - pos < 10000)
            return *why = "short codes", false;
        b.codesAt = pos;
        b.codes.resize(2500);
        for (size_t i = 0; i < 2500; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + pos + 4 * i);
            b.codes[i] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
        }
        pos += 10000;
        out->blocks.push_back(std::move(b));
    }
    return true;
}

// The "/getfile" reply: the size, ",", then exactly that many bytes.
inline bool wsParseGetfile(const std::string& bytes, long long* size, std::string* body)
{
    const size_t comma = bytes.find(',');
    if (comma == std::string::npos || comma == 0)
        return false;
    char* end = nullptr;
    *size = std::strtoll(bytes.c_str(), &end, 10);
    if (end != bytes.c_str() + comma || *size < 0 || bytes.size() - comma - 1 != static_cast<size_t>(*size))
        return false;
    *body = bytes.substr(comma + 1);
    return true;
}

// "/tracesHarmonic": the trace mask (not a count), the order, then per trace of the mask its
// index, colour and 64 amplitudes.
struct TWsHarmonicTrace {
    int index = 0;
    int colour = 0;
    std::vector<double> amplitudes;
};

struct TWsHarmonicTraces {
    uint32_t mask = 0;
    int order = 0;
    std::vector<TWsHarmonicTrace> traces;
};

inline bool wsParseHarmonicTraces(const std::string& bytes, TWsHarmonicTraces* out)
{
    *out = TWsHarmonicTraces();
    std::vector<std::string> f;
    if (!wsFields(bytes, &f, false) || f.size() < 2)
        return false;
    out->mask = static_cast<uint32_t>(std::stoul(f[0]));
    out->order = std::stoi(f[1]);
    size_t at = 2;
    for (int i = 0; i < 5; ++i) {
        if ((out->mask & (1u << i)) == 0)
            continue;
        if (f.size() < at + 66)
            return false;
        TWsHarmonicTrace t;
        t.index = std::stoi(f[at]);
        t.colour = std::stoi(f[at + 1]);
        for (size_t k = 0; k < 64; ++k)
            t.amplitudes.push_back(std::strtod(f[at + 2 + k].c_str(), nullptr));
        at += 66;
        out->traces.push_back(std::move(t));
    }
    return at == f.size();
}

// "/measuresHarmonic": "37,", the order, the power display, then five blocks (channels 1-4, the
// power trace) of a colour and six readings.
struct TWsHarmonicBlock {
    int colour = 0;
    std::vector<std::string> readings;  // RMS, distortion, relative level, phase, frequency, level
};

struct TWsHarmonicMeasures {
    int order = 0;
    int power = 0;
    std::vector<TWsHarmonicBlock> blocks;
};

inline bool wsParseHarmonicMeasures(const std::string& bytes, TWsHarmonicMeasures* out)
{
    *out = TWsHarmonicMeasures();
    std::vector<std::string> f;
    if (!wsFields(bytes, &f) || f.size() != 37)
        return false;
    out->order = std::stoi(f[0]);
    out->power = std::stoi(f[1]);
    for (size_t b = 0; b < 5; ++b) {
        TWsHarmonicBlock block;
        block.colour = std::stoi(f[2 + 7 * b]);
        block.readings.assign(f.begin() + 3 + 7 * b, f.begin() + 9 + 7 * b);
        out->blocks.push_back(std::move(block));
    }
    return true;
}

// "/measuresMeter": the box of one meter channel.
struct TWsMeterBox {
    std::string label;
    int state = 0;
    std::string function;  // channel 1: the meter function; else "0" taking part, "+" not
    int colour = 0;
    int autoRange = 0;
    std::vector<std::string> texts;  // range, coupling, main reading, auxiliary 1 and 2
};

inline bool wsParseMeterBox(const std::string& bytes, TWsMeterBox* out)
{
    *out = TWsMeterBox();
    std::vector<std::string> f;
    if (!wsFields(bytes, &f) || f.size() != 10)
        return false;
    out->label = f[0];
    out->state = std::stoi(f[1]);
    out->function = f[2];
    out->colour = std::stoi(f[3]);
    out->autoRange = std::stoi(f[4]);
    out->texts.assign(f.begin() + 5, f.end());
    return true;
}

// "/viewerEvents": the count, then entries "yyyy-MM-dd~hh:mm:ss.t|index".
struct TWsEvent {
    std::string date;
    std::string time;
    long index = -1;
};

inline bool wsParseEvents(const std::string& bytes, std::vector<TWsEvent>* out)
{
    out->clear();
    std::vector<std::string> f;
    if (!wsFields(bytes, &f))
        return false;
    for (const std::string& e : f) {
        const size_t tilde = e.find('~');
        const size_t bar = e.find('|');
        if (tilde == std::string::npos || bar == std::string::npos || bar < tilde)
            return false;
        TWsEvent event;
        event.date = e.substr(0, tilde);
        event.time = e.substr(tilde + 1, bar - tilde - 1);
        char* end = nullptr;
        event.index = std::strtol(e.c_str() + bar + 1, &end, 10);
        if (*end != '\0')
            return false;
        out->push_back(std::move(event));
    }
    return true;
}
