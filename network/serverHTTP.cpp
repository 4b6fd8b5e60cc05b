#include "network/serverHTTP.h"

#include "board/board.h"
#include "core/command.h"
#include "core/process.h"
#include "core/requests.h"
#include "network/webServerFs.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

std::atomic<int16_t> nHttpSessions{0};

const char* const errorString[kHttpStatusCount] = {
    "200 OK",
    "302 Found",
    "304 Not Modified",
    "401 Unauthorized",
    "403 Forbidden",
    "404 Not Found",
    "405 Method Not Allowed",
    "408 Request Timeout",
    "500 Internal Server Error",
    "503 Service Unavailable",
    "400 Bad Request",
};

const THttpContentType contentType[kHttpContentTypeCount] = {
    {".html", "text/html"},
    // The saved bus reports are named ".htm": a browser must show them, not download them.
    {".htm", "text/html"},
    {".css", "text/css"},
    {".gif", "image/gif"},
    {".jpg", "image/jpeg"},
    {".ico", "image/x-icon"},
    {".jar", "application/java-archive"},
    {".jnlp", "application/x-java-jnlp-file"},
    {nullptr, "application/octet-stream"},
};

namespace {

constexpr int kDefaultIdleTimeoutMs = 60000;
constexpr int kDefaultHeaderTimeoutMs = 10000;
// A connection the server ends reads and drops what the client still sends for this long (and
// at most this much), so that the answer is not lost to a reset.
constexpr int kLingerMs = 2000;
constexpr size_t kLingerMaxBytes = 1 << 20;
constexpr int kDefaultRetryMs = 5000;
constexpr int kAcceptErrorPauseMs = 100;
// How often a server that may be stopped looks at its flag, and at its sessions once stopped.
constexpr int kStopLookMs = 200;
constexpr int kSessionEndLookMs = 10;
constexpr int kListenBacklog = 16;
constexpr size_t kFilePiece = 64 * 1024;

// The stored credential of the guarded page, user:password.
constexpr const char* kCredential = "tuning:%ve8Rw2k#";
constexpr const char* kGuardedPage = "/morvadin.html";
constexpr const char* kRealmLine = "WWW-Authenticate: Basic realm=\"Oscilloscope\"\r\n";

// Only these trees of the board are served from the file system.
constexpr const char* kAllowedRoots[] = {"/images", "/media/user"};

// Accepted range of the environment settings (simulated board only).
constexpr int kSettingMin = 1;
constexpr int kSettingMax = 3600000;

std::atomic<int>& idleTimeoutStorage()
{
    static auto* v =
        new std::atomic<int>(boardSetting("BENCHVIEW_HTTP_IDLE_TIMEOUT_MS", kDefaultIdleTimeoutMs, kSettingMin, kSettingMax));
    return *v;
}

std::atomic<int>& headerTimeoutStorage()
{
    static auto* v = new std::atomic<int>(
        boardSetting("BENCHVIEW_HTTP_HEADER_TIMEOUT_MS", kDefaultHeaderTimeoutMs, kSettingMin, kSettingMax));
    return *v;
}

std::atomic<int>& retryDelayStorage()
{
    static auto* v =
        new std::atomic<int>(boardSetting("BENCHVIEW_HTTP_RETRY_MS", kDefaultRetryMs, kSettingMin, kSettingMax));
    return *v;
}

std::atomic<bool>& loopbackOnlyStorage()
{
    static auto* v =
        new std::atomic<bool>(boardSetting("BENCHVIEW_HTTP_LOOPBACK_ONLY", 0, kSettingMin, kSettingMax) != 0);
    return *v;
}

// Not pauseMs: the controller's tests replace that one.
void sleepMs(int milliseconds)
{
    timespec t{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// A pause of the given length that ends early once stop is set.
void pauseWatching(int milliseconds, const std::atomic<bool>& stop)
{
    for (int waited = 0; waited < milliseconds && !stop.load(); waited += kStopLookMs)
        sleepMs(std::min(kStopLookMs, milliseconds - waited));
}

bool startsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// parseString, with the line's end also ending a token: the rest of the text is the token.
char* nextToken(char* text, char** token, const char* delimiters, char* found)
{
    *found = 0;
    char* next = parseString(text, token, delimiters, found);
    if (!*token) {
        *token = text;
        next = text + std::strlen(text);
    }
    return next;
}

// Splits the query text (after "?") into pairs; a pair without "=" has a null value.
void parseQuery(char* query, THttpParam* params)
{
    int stored = 0;
    char* pos = query;
    while (*pos && stored < kHttpMaxParams) {
        char* pair = nullptr;
        char found = 0;
        pos = nextToken(pos, &pair, "&", &found);
        if (!*pair)
            continue;
        char* name = nullptr;
        char* rest = parseString(pair, &name, "=", &found);
        if (name) {
            params[stored].name = name;
            params[stored].value = rest;
        } else {
            params[stored].name = pair;
            params[stored].value = nullptr;
        }
        ++stored;
    }
}

// A Content-Length value: digits only, blanks around allowed; -1 when it is not one.
int64_t contentLength(const char* value)
{
    while (isBlank(*value))
        ++value;
    if (*value < '0' || *value > '9')
        return -1;
    int64_t n = 0;
    while (*value >= '0' && *value <= '9') {
        n = n * 10 + (*value - '0');
        if (n > (int64_t(1) << 40))
            return -1;
        ++value;
    }
    while (isBlank(*value))
        ++value;
    return *value ? -1 : n;
}

// Equal texts, in a time that does not depend on where they differ.
bool sameSecret(const char* given, const char* expected)
{
    const size_t g = std::strlen(given);
    const size_t e = std::strlen(expected);
    unsigned char diff = g == e ? 0 : 1;
    for (size_t i = 0; i < e; ++i)
        diff |= static_cast<unsigned char>(expected[i] ^ (i < g ? given[i] : 0));
    return diff == 0;
}

// The guarded page's credential: the text after the first blank of the authorization value. The
// word before it (normally "Basic") is not checked; no blank means no credential.
bool authorized(THttpHeader* headers)
{
    const char* value = getHttpHeaderField(headers, "authorization");
    if (!value)
        return false;
    const char* blank = std::strchr(value, ' ');
    if (!blank)
        return false;
    char expected[kHttpBase64Max + 1];
    strToBase64(kCredential, expected);
    return sameSecret(blank + 1, expected);
}

// Echoed header values keep no control characters: a bare LF would start a header of its own.
std::string withoutControls(const char* value)
{
    std::string s;
    for (const char* p = value; *p; ++p)
        if (static_cast<unsigned char>(*p) >= 0x20 && *p != 0x7F)
            s += *p;
    return s;
}

// Opens a file of the allowed trees for serving: a regular file whose canonical path stays under
// the canonical root it was asked under. fd and size on success.
bool openConfined(const char* path, int* fd, int64_t* size)
{
    const char* root = nullptr;
    for (const char* r : kAllowedRoots) {
        size_t n = std::strlen(r);
        if (std::strncmp(path, r, n) == 0 && path[n] == '/') {
            root = r;
            break;
        }
    }
    if (!root)
        return false;
    int f = openBoardFileIn(root, path, size);
    if (f < 0)
        return false;
    *fd = f;
    return true;
}

// Writes all the pieces, without SIGPIPE; more = more bytes follow at once.
bool sendPieces(int socket, iovec* pieces, int count, bool more)
{
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = pieces;
        msg.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        size_t left = static_cast<size_t>(n);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
    return true;
}

// The header followed by length bytes of the file, the header riding in the first piece.
bool sendHeaderAndFile(int socket, const std::string& header, int fd, int64_t length)
{
    std::string piece;
    piece.resize(static_cast<size_t>(std::min<int64_t>(length, static_cast<int64_t>(kFilePiece))));
    bool headerSent = false;
    int64_t left = length;
    while (left > 0 || !headerSent) {
        size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(piece.size())));
        size_t got = 0;
        while (got < want) {
            ssize_t n = ::read(fd, &piece[got], want - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        // A file that shrank cannot fill the announced length: only closing tells the client.
        const bool shortRead = got < want;
        iovec v[2];
        int count = 0;
        if (!headerSent)
            v[count++] = {const_cast<char*>(header.data()), header.size()};
        if (got > 0)
            v[count++] = {&piece[0], got};
        left -= static_cast<int64_t>(got);
        if (!sendPieces(socket, v, count, left > 0 && !shortRead))
            return false;
        headerSent = true;
        if (shortRead)
            return false;
    }
    return true;
}

class TSocketSink : public THttpSink {
public:
    explicit TSocketSink(int socket) : socket_(socket) {}

    bool send(const std::string& header, const char* body, size_t length) override
    {
        iovec v[2] = {{const_cast<char*>(header.data()), header.size()}, {const_cast<char*>(body), length}};
        return sendPieces(socket_, v, length > 0 ? 2 : 1, false);
    }

    bool sendFile(const std::string& header, int fd, int64_t length) override
    {
        return sendHeaderAndFile(socket_, header, fd, length);
    }

private:
    int socket_;
};

// Non-blocking: the server polls it, so that a connection gone before accept holds nobody.
int openListener()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kHttpPort)));
    addr.sin_addr.s_addr = htonl(loopbackOnlyStorage().load() ? INADDR_LOOPBACK : INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, kListenBacklog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int64_t monotonicMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Ends the sending side, then reads and drops what the client still sends, for a bounded time
// and amount: closing with unread bytes would reset the connection and lose the answer.
void lingeringClose(int socket)
{
    ::shutdown(socket, SHUT_WR);
    const int64_t until = monotonicMs() + kLingerMs;
    char scratch[4096];
    size_t total = 0;
    while (total < kLingerMaxBytes) {
        const int64_t left = until - monotonicMs();
        if (left <= 0)
            break;
        pollfd p{socket, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        const ssize_t n = ::recv(socket, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
}

void* sessionThread(void* arg)
{
    httpSession(static_cast<int>(reinterpret_cast<intptr_t>(arg)));
    return nullptr;
}

} // namespace

// --- Settings ---------------------------------------------------------------------------------

int httpIdleTimeoutMs()
{
    return idleTimeoutStorage().load();
}

void setHttpIdleTimeoutMs(int milliseconds)
{
    idleTimeoutStorage() = std::max(1, milliseconds);
}

int httpHeaderTimeoutMs()
{
    return headerTimeoutStorage().load();
}

void setHttpHeaderTimeoutMs(int milliseconds)
{
    headerTimeoutStorage() = std::max(1, milliseconds);
}

int httpRetryDelayMs()
{
    return retryDelayStorage().load();
}

void setHttpRetryDelayMs(int milliseconds)
{
    retryDelayStorage() = std::max(1, milliseconds);
}

bool httpListenLoopbackOnly()
{
    return loopbackOnlyStorage().load();
}

void setHttpListenLoopbackOnly(bool loopbackOnly)
{
    loopbackOnlyStorage() = loopbackOnly;
}

// --- Text helpers -----------------------------------------------------------------------------

char* parseString(char* text, char** token, const char* delimiters, char* found)
{
    char* p = std::strpbrk(text, delimiters);
    if (!p) {
        *token = nullptr;
        return text;
    }
    const char c = *p;
    *found = c;
    *p = 0;
    *token = text;
    ++p;
    // The terminating NUL is never in the set, so neither test can step over it.
    if ((c == '\r' && *p == '\n') || *p == c)
        ++p;
    return p;
}

char* getHttpHeaderField(THttpHeader* headers, const char* name)
{
    for (int i = 0; i < kHttpMaxHeaders && headers[i].name; ++i)
        if (strcasecmp(headers[i].name, name) == 0)
            return headers[i].value;
    return nullptr;
}

THttpPage getHttpPseudoFileHeader(const char* path)
{
    if (path)
        for (const THttpPage& page : wsHttpPage)
            if (startsWith(path, page.path))
                return page;
    return THttpPage{nullptr, nullptr, 0, 0};
}

char* httpTime(time_t seconds, char* text)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    tm t{};
    if (!gmtime_r(&seconds, &t)) {
        text[0] = 0;
        return text;
    }
    std::snprintf(text, kHttpTimeSize, "%s, %d %s %d %02d:%02d:%02d GMT", days[t.tm_wday % 7], t.tm_mday,
                  months[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

char* strToBase64(const char* text, char* out)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    size_t length = std::strlen(text);
    size_t n = 0;
    for (size_t i = 0; i < length && n < kHttpBase64Max; i += 3) {
        uint32_t group = static_cast<uint32_t>(in[i]) << 16;
        if (i + 1 < length)
            group |= static_cast<uint32_t>(in[i + 1]) << 8;
        if (i + 2 < length)
            group |= in[i + 2];
        char quad[4] = {alphabet[(group >> 18) & 63], alphabet[(group >> 12) & 63],
                        i + 1 < length ? alphabet[(group >> 6) & 63] : '=', i + 2 < length ? alphabet[group & 63] : '='};
        for (int k = 0; k < 4 && n < kHttpBase64Max; ++k)
            out[n++] = quad[k];
    }
    out[n] = 0;
    return out;
}

const char* httpContentType(const char* path)
{
    for (int i = 0; i < kHttpContentTypeCount - 1; ++i)
        if (path && std::strstr(path, contentType[i].extension))
            return contentType[i].type;
    return contentType[kHttpContentTypeCount - 1].type;
}

int64_t httpSendFile(int socket, const char* path)
{
    int fd = ::open(boardPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    int64_t sent = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && sendHeaderAndFile(socket, std::string(), fd, st.st_size))
        sent = st.st_size;
    ::close(fd);
    return sent;
}

// --- Request framing and parsing ----------------------------------------------------------------

size_t httpHeaderBlockLength(const char* buf, size_t length)
{
    size_t lineStart = 0;
    for (size_t i = 0; i < length; ++i) {
        if (buf[i] != '\n')
            continue;
        size_t lineLength = i - lineStart;
        if (lineLength == 0 || (lineLength == 1 && buf[lineStart] == '\r'))
            return lineStart == 0 ? 0 : i + 1;
        lineStart = i + 1;
    }
    return 0;
}

bool parseHttpRequest(char* block, size_t length, THttpRequest& request)
{
    request = THttpRequest();
    // Cut the block into NUL-ended lines (the CR of a CR LF goes too); the empty last line ends it.
    char* lines[kHttpReceiveSize / 2];
    int lineCount = 0;
    char* start = block;
    for (size_t i = 0; i < length; ++i) {
        if (block[i] != '\n')
            continue;
        block[i] = 0;
        if (&block[i] > start && block[i - 1] == '\r')
            block[i - 1] = 0;
        if (!*start || lineCount == static_cast<int>(sizeof lines / sizeof lines[0]))
            break;
        lines[lineCount++] = start;
        start = &block[i + 1];
    }
    if (lineCount == 0)
        return false;

    // Request line: method, path, query; the protocol version is not looked at.
    char found = 0;
    char* pos = nextToken(lines[0], &request.method, " ", &found);
    if (!*request.method || found != ' ')
        return false;
    char* path = nullptr;
    pos = nextToken(pos, &path, " ?", &found);
    if (!*path)
        return false;
    if (found == '?') {
        char* query = nullptr;
        nextToken(pos, &query, " ", &found);
        parseQuery(query, request.params);
    }
    request.path = std::strcmp(path, "/") == 0 ? "/index.html" : path;
    request.head = std::strcmp(request.method, "HEAD") == 0;

    // Headers: the first 20 fill the slots, stopping at a line without ":"; framing reads all.
    int stored = 0;
    bool slotsOpen = true;
    bool lengthSeen = false;
    for (int l = 1; l < lineCount; ++l) {
        char* name = nullptr;
        char* value = parseString(lines[l], &name, ":", &found);
        if (!name) {
            slotsOpen = false;
            continue;
        }
        while (isBlank(*value))
            ++value;
        if (slotsOpen && stored < kHttpMaxHeaders) {
            for (char* p = name; *p; ++p)
                *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
            request.headers[stored].name = name;
            request.headers[stored].value = value;
            ++stored;
        }
        if (strcasecmp(name, "content-length") == 0) {
            int64_t n = contentLength(value);
            if (n < 0 || (lengthSeen && n != request.bodyLength))
                request.unframedBody = true;
            else
                request.bodyLength = n;
            lengthSeen = true;
        } else if (strcasecmp(name, "transfer-encoding") == 0 && strcasecmp(value, "identity") != 0) {
            request.unframedBody = true;
        }
    }
    if (request.bodyLength > kHttpMaxDiscardedBody)
        request.unframedBody = true;
    if (request.unframedBody)
        request.bodyLength = 0;
    return true;
}

std::string httpResponseHeader(int status, THttpHeader* headers, const char* requestPath, int64_t length,
                               int32_t mtime, time_t now, bool forceClose, bool* closeAfter)
{
    char date[kHttpTimeSize];
    std::string h;
    h.reserve(256);
    h += "HTTP/1.1 ";
    h += errorString[status];
    h += "\r\n";
    if (status == HTTP_UNAUTHORIZED)
        h += kRealmLine;
    bool close = false;
    bool echoed = false;
    for (int i = 0; headers && i < kHttpMaxHeaders && headers[i].name; ++i) {
        if (!std::strstr(headers[i].name, "connection"))
            continue;
        std::string value = status == HTTP_OK && !forceClose ? withoutControls(headers[i].value) : "close";
        if (strcasestr(value.c_str(), "close"))
            close = true;
        h += headers[i].name;
        h += ": ";
        h += value;
        h += "\r\n";
        echoed = true;
    }
    if (forceClose) {
        if (!echoed)
            h += "Connection: close\r\n";
        close = true;
    }
    h += "Date: ";
    h += httpTime(now, date);
    h += "\r\nServer: Quarnel/1.0\r\n";
    if (status == HTTP_OK) {
        h += "Last-Modified: ";
        h += httpTime(static_cast<time_t>(mtime), date);
        h += "\r\n";
    }
    h += "Content-Length: ";
    h += std::to_string(length);
    h += "\r\nContent-Type: ";
    h += httpContentType(requestPath);
    h += "\r\nAge: 0\r\n\r\n";
    if (closeAfter)
        *closeAfter = close;
    return h;
}

// --- One connection ---------------------------------------------------------------------------

THttpConnection::THttpConnection()
{
    buffer_[0] = 0;
}

void THttpConnection::consume(size_t count)
{
    count = std::min(count, length_);
    std::memmove(buffer_, buffer_ + count, length_ - count);
    length_ -= count;
}

bool THttpConnection::received(size_t count, THttpSink& sink, time_t now)
{
    length_ += std::min(count, receiveRoom());
    for (;;) {
        if (discard_ > 0) {
            size_t take = static_cast<size_t>(std::min<int64_t>(discard_, static_cast<int64_t>(length_)));
            consume(take);
            discard_ -= static_cast<int64_t>(take);
            if (discard_ > 0)
                return true;
        }
        // Blank lines between requests are skipped.
        size_t blank = 0;
        while (blank < length_ && (buffer_[blank] == '\r' || buffer_[blank] == '\n'))
            ++blank;
        consume(blank);
        if (length_ == 0)
            return true;
        size_t block = httpHeaderBlockLength(buffer_, length_);
        if (block == 0) {
            if (length_ < kHttpReceiveSize)
                return true;
            answerOversize(sink, now);
            return false;
        }
        bool closeAfter = false;
        if (!answerOne(block, sink, now, closeAfter))
            return false;
        consume(block);
        if (closeAfter)
            return false;
    }
}

bool THttpConnection::answerOne(size_t blockLength, THttpSink& sink, time_t now, bool& closeAfter)
{
    THttpRequest request;
    if (!parseHttpRequest(buffer_, blockLength, request))
        return false;
    discard_ = request.bodyLength;

    int status = HTTP_OK;
    THttpPage found{nullptr, nullptr, 0, 0};
    THttpPage* page = nullptr;
    int fd = -1;
    int64_t fileSize = 0;
    if (startsWith(request.path, kGuardedPage) && !authorized(request.headers)) {
        status = HTTP_UNAUTHORIZED;
    } else {
        for (const THttpPage& p : wsHttpPage) {
            if (startsWith(request.path, p.path)) {
                found = p;
                page = &found;
                break;
            }
        }
        if (!page) {
            for (const THttpPageDyn& d : wsHttpPageDyn) {
                if (startsWith(request.path, d.path)) {
                    page = d.function(request.method, request.params, request.headers, page_, &found);
                    if (!page)
                        status = HTTP_UNAVAILABLE;
                    break;
                }
            }
        }
        if (!page && status == HTTP_OK) {
            if (openConfined(request.path, &fd, &fileSize)) {
                found = THttpPage{request.path, nullptr, static_cast<int32_t>(std::min<int64_t>(fileSize, INT32_MAX)),
                                  static_cast<int32_t>(now)};
                page = &found;
            } else {
                status = HTTP_NOT_FOUND;
            }
        }
    }

    bool sent;
    if (status == HTTP_OK) {
        char date[kHttpTimeSize];
        const char* since = getHttpHeaderField(request.headers, "if-modified-since");
        if (since && std::strcmp(since, httpTime(static_cast<time_t>(page->mtime), date)) == 0) {
            if (fd >= 0)
                ::close(fd);
            return sink.send("HTTP/1.1 304 Not Modified\r\n\r\n", nullptr, 0);
        }
    } else {
        // The error page, made with the request's path as the client sent it.
        char name0[] = "ErrorCode";
        char name1[] = "File";
        THttpParam pairs[3] = {{name0, const_cast<char*>(errorString[status])},
                               {name1, const_cast<char*>(request.path)},
                               {nullptr, nullptr}};
        page = httpFctError(request.method, pairs, request.headers, page_, &found);
    }

    const int64_t length = fd >= 0 ? fileSize : page->length;
    const std::string header = httpResponseHeader(status, request.headers, request.path, length, page->mtime, now,
                                                  request.unframedBody, &closeAfter);
    if (request.head)
        sent = sink.send(header, nullptr, 0);
    else if (fd >= 0)
        sent = sink.sendFile(header, fd, fileSize);
    else
        sent = sink.send(header, page->data, static_cast<size_t>(page->length));
    if (fd >= 0)
        ::close(fd);
    return sent;
}

void THttpConnection::answerOversize(THttpSink& sink, time_t now)
{
    // The request line, when it arrived whole, names the file on the error page.
    buffer_[length_] = 0;
    char* path = nullptr;
    char* lineEnd = std::strchr(buffer_, '\n');
    if (lineEnd) {
        *lineEnd = 0;
        char* method = nullptr;
        char found = 0;
        char* pos = nextToken(buffer_, &method, " ", &found);
        if (found == ' ')
            nextToken(pos, &path, " ?\r", &found);
        if (path && !*path)
            path = nullptr;
    }
    char name0[] = "ErrorCode";
    char name1[] = "File";
    THttpParam pairs[3] = {{name0, const_cast<char*>(errorString[HTTP_BAD_REQUEST])}, {name1, path}, {nullptr, nullptr}};
    THttpPage found{nullptr, nullptr, 0, 0};
    THttpPage* page = httpFctError("GET", pairs, nullptr, page_, &found);
    const std::string header =
        httpResponseHeader(HTTP_BAD_REQUEST, nullptr, path, page->length, page->mtime, now, true, nullptr);
    sink.send(header, page->data, static_cast<size_t>(page->length));
    length_ = 0;
}

// --- Threads ----------------------------------------------------------------------------------

int httpSession(int socket)
{
    if (ScreenSaverActif.load()) {
        pipe_dial wake{REQ_SCREEN_SAVER, 3, 0, 0, 0.0f, -1};
        o_g_consMessageBox.send(&wake);  // a full inbox drops it
    }
    int one = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    // Answers leave whole and at once: a keep-alive client must not wait for a delayed ACK.
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int idle = httpIdleTimeoutMs();
    timeval tv{idle / 1000, (idle % 1000) * 1000};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int headerLimit = httpHeaderTimeoutMs();

    auto* connection = new THttpConnection();
    TSocketSink sink(socket);
    int64_t requestStart = -1;  // first byte of the request not yet whole
    bool answeredClose = false;
    for (;;) {
        // Nothing for the idle time, or a request not whole in time: closed without an answer.
        int wait = idle;
        if (requestStart >= 0) {
            const int64_t left = requestStart + headerLimit - monotonicMs();
            if (left <= 0)
                break;
            wait = static_cast<int>(std::min<int64_t>(wait, left));
        }
        pollfd p{socket, POLLIN, 0};
        const int r = ::poll(&p, 1, wait);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0 && wait < idle)
            continue;  // the request's deadline, checked above
        if (r <= 0)
            break;
        ssize_t n = ::recv(socket, connection->receiveBuffer(), connection->receiveRoom(), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            break;
        const int64_t arrived = monotonicMs();
        if (!connection->received(static_cast<size_t>(n), sink, time(nullptr))) {
            answeredClose = true;
            break;
        }
        if (!connection->midRequest())
            requestStart = -1;
        else if (requestStart < 0)
            requestStart = arrived;
    }
    delete connection;
    if (answeredClose)
        lingeringClose(socket);
    // Counted down first: a client that sees the close may connect again at once.
    --nHttpSessions;
    ::close(socket);
    return 0;
}

void httpServerRun(const std::atomic<bool>& stop)
{
    nHttpSessions = 0;
    while (!stop.load()) {
        int listener = openListener();
        if (listener < 0) {
            // Port held or no network yet: try again later, without spinning.
            pauseWatching(httpRetryDelayMs(), stop);
            continue;
        }
        while (!stop.load()) {
            pollfd p{listener, POLLIN, 0};
            const int ready = ::poll(&p, 1, kStopLookMs);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN)
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM || errno == EPERM
                    || errno == EPROTO || errno == ETIMEDOUT) {
                    sleepMs(kAcceptErrorPauseMs);
                    continue;
                }
                break;  // the listening socket itself failed: set it up again
            }
            if (nHttpSessions.load() >= kHttpMaxSessions) {
                ::close(fd);
                continue;
            }
            ++nHttpSessions;
            pthread_t session;
            if (startThread(&session, sessionThread, reinterpret_cast<void*>(static_cast<intptr_t>(fd)), 70, true,
                            "tWEBSs") != 0) {
                --nHttpSessions;
                ::close(fd);
            }
        }
        ::close(listener);
        if (!stop.load())
            pauseWatching(httpRetryDelayMs(), stop);
    }
    // Each session ends on its own (the client closes, or the idle time passes).
    while (nHttpSessions.load() > 0)
        sleepMs(kSessionEndLookMs);
}

namespace {
std::atomic<bool> g_httpdStop{false};
}

void* ScopeHttpd(void*)
{
    pthread_setname_np(pthread_self(), "tWEBSd");
    g_httpdStop = false;
    httpServerRun(g_httpdStop);
    return nullptr;
}

void ScopeHttpdStop()
{
    g_httpdStop = true;
}
