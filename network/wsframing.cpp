// Request framing of the web service: the query parser, reply sending and reply assembly.
#include "network/pelanodeInterface.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>

char* wsParser(TWsReq* req, const char* name)
{
    if (req == nullptr || name == nullptr)
        return nullptr;
    // By the received length: binary requests hold NUL bytes.
    int32_t end = req->received;
    if (end > kWsDatagramMax)
        end = kWsDatagramMax;
    if (end <= 0)
        return nullptr;
    char* const buf = req->buffer;
    const auto* question = static_cast<const char*>(std::memchr(buf, '?', static_cast<size_t>(end)));
    if (question == nullptr)
        return nullptr;
    const int32_t nameLength = static_cast<int32_t>(std::strlen(name));
    int32_t pos = static_cast<int32_t>(question - buf) + 1;
    while (pos < end) {
        if (end - pos > nameLength && std::memcmp(buf + pos, name, static_cast<size_t>(nameLength)) == 0
            && buf[pos + nameLength] == '=') {
            const int32_t value = pos + nameLength + 1;
            return value < end ? buf + value : nullptr;
        }
        const auto* amp = static_cast<const char*>(std::memchr(buf + pos, '&', static_cast<size_t>(end - pos)));
        if (amp == nullptr)
            return nullptr;
        pos = static_cast<int32_t>(amp - buf) + 1;
    }
    return nullptr;
}

ssize_t wsResponseSend(TWsReq* req, const char* bytes, int32_t length)
{
    ssize_t result = 0;
    int32_t sent = 0;
    while (sent < length) {
        const int32_t chunk = length - sent < kWsReplyChunk ? length - sent : kWsReplyChunk;
        do {
            result = ::sendto(req->socket, bytes + sent, static_cast<size_t>(chunk), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&req->peer), req->peerLength);
        } while (result < 0 && errno == EINTR);
        if (result < 0)
            break;
        sent += chunk;
    }
    return result;
}

ssize_t wsReplyFailed(TWsReq* req)
{
    return wsResponseSend(req, "-1,", 3);
}

ssize_t wsReplyDone(TWsReq* req)
{
    return wsResponseSend(req, "0,", 2);
}

int wsFormatReal(double value, char* out, size_t size, int decimals)
{
    // Remote clients read "." whatever the process locale is.
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = cLocale ? uselocale(cLocale) : static_cast<locale_t>(nullptr);
    const int n = decimals < 0 ? std::snprintf(out, size, "%g", value) : std::snprintf(out, size, "%.*f", decimals, value);
    if (previous)
        uselocale(previous);
    return n < 0 ? 0 : (static_cast<size_t>(n) >= size ? static_cast<int>(size) - 1 : n);
}

void TWsReply::put(const char* bytes, int32_t length)
{
    if (overflow_ || length < 0 || length > capacity_ - size_) {
        overflow_ = true;
        return;
    }
    std::memcpy(buffer_ + size_, bytes, static_cast<size_t>(length));
    size_ += length;
}

TWsReply& TWsReply::integer(int64_t value)
{
    // By hand: the trace replies print dozens of fields per request, and snprintf is most of it.
    char text[24];
    char* p = text + sizeof text;
    *--p = ',';
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--p = '-';
    put(p, static_cast<int32_t>(text + sizeof text - p));
    return *this;
}

TWsReply& TWsReply::real(double value)
{
    char text[40];
    int n = wsFormatReal(value, text, sizeof text - 1);
    text[n++] = ',';
    put(text, n);
    return *this;
}

TWsReply& TWsReply::text(const char* utf8)
{
    if (utf8 == nullptr || *utf8 == '\0') {
        put("+,", 2);
        return *this;
    }
    // Micro (U+03BC, CE BC in UTF-8) is written "u": the client's font lacks it.
    const char* run = utf8;
    for (const char* p = utf8; *p; ++p) {
        if (p[0] == '\xCE' && p[1] == '\xBC') {
            put(run, static_cast<int32_t>(p - run));
            put("u", 1);
            run = p + 2;
            ++p;
        }
    }
    put(run, static_cast<int32_t>(std::strlen(run)));
    put(",", 1);
    return *this;
}

TWsReply& TWsReply::raw(const void* bytes, int32_t length)
{
    put(static_cast<const char*>(bytes), length);
    return *this;
}
