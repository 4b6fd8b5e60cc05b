// HTTP/1.1 server on TCP port 80: the built-in files, the generated pages and the pictures and
// user files of the instrument. Its only effect on the instrument is waking the screen saver.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

constexpr int kHttpPort = 80;                      // served at boardPort(kHttpPort)
constexpr int kHttpMaxSessions = 16;
constexpr int kHttpMaxParams = 20;
constexpr int kHttpMaxHeaders = 20;
constexpr size_t kHttpReceiveSize = 1500;          // a request's headers must fit
constexpr int64_t kHttpMaxDiscardedBody = 64 * 1024;
constexpr size_t kHttpTimeSize = 40;               // room for any httpTime text
constexpr size_t kHttpBase64Max = 50;              // strToBase64 output characters

// One query pair and one request header; both point into the session's receive buffer and are
// null when unused. Header names are lower-cased in place.
struct THttpParam {
    char* name;
    char* value;
};
struct THttpHeader {
    char* name;
    char* value;
};

// A servable page: data null means the bytes come from a file; mtime feeds Last-Modified.
struct THttpPage {
    const char* path;
    const char* data;
    int32_t length;
    int32_t mtime;
};

// Live sessions; the server counts up, each session counts down when it ends.
extern std::atomic<int16_t> nHttpSessions;

// Status texts by index.
enum THttpStatus : int {
    HTTP_OK = 0,
    HTTP_NOT_MODIFIED = 2,
    HTTP_UNAUTHORIZED = 3,
    HTTP_NOT_FOUND = 5,
    HTTP_UNAVAILABLE = 9,
    HTTP_BAD_REQUEST = 10,
};
constexpr int kHttpStatusCount = 11;
extern const char* const errorString[kHttpStatusCount];

// Extension to media type, searched in order; the last row (null extension) is the default.
struct THttpContentType {
    const char* extension;
    const char* type;
};
constexpr int kHttpContentTypeCount = 9;
extern const THttpContentType contentType[kHttpContentTypeCount];
// The type of the first table extension that occurs anywhere in path.
const char* httpContentType(const char* path);

// --- Threads ----------------------------------------------------------------------------------
// The server thread (tWEBSd_id): listens, and hands each connection to a detached session
// thread; a connection beyond kHttpMaxSessions is closed at once with nothing sent. Returns once
// ScopeHttpdStop was called (the power-off of a test).
void* ScopeHttpd(void* arg);
void ScopeHttpdStop();
// The server's loop; returns only once stop is set, with its listening socket closed and every
// session it started ended (they end on their own: the client closes or falls idle). The flag is
// looked at every 200 ms.
void httpServerRun(const std::atomic<bool>& stop);
// One connection, until the peer closes, a read fails or times out, or the answer closed it.
// Owns and closes the socket, and counts nHttpSessions down. Returns 0.
int httpSession(int socket);

// Settings of the simulated board, read from the environment at first use:
// BENCHVIEW_HTTP_IDLE_TIMEOUT_MS (a session receiving nothing that long is closed; 60000),
// BENCHVIEW_HTTP_HEADER_TIMEOUT_MS (a request whose header has not arrived whole that long
// after its first byte closes the session, however the bytes trickle; 10000),
// BENCHVIEW_HTTP_RETRY_MS (pause before a failed listening set-up is tried again; 5000) and
// BENCHVIEW_HTTP_LOOPBACK_ONLY (1: listen on 127.0.0.1 instead of every address). Tests may
// also set them in process, before the server starts.
int httpIdleTimeoutMs();
void setHttpIdleTimeoutMs(int milliseconds);
int httpHeaderTimeoutMs();
void setHttpHeaderTimeoutMs(int milliseconds);
int httpRetryDelayMs();
void setHttpRetryDelayMs(int milliseconds);
bool httpListenLoopbackOnly();
void setHttpListenLoopbackOnly(bool loopbackOnly);

// --- Text helpers ----------------------------------------------------------------------------
// Tokenizer: finds the first character of text that is in delimiters. None: *token = null, the
// text is returned unchanged and *found is left alone. Found: *found = it, it becomes NUL,
// *token = text, and the result is the position after it; a doubled delimiter, or a CR
// followed by LF, is consumed as one. Never moves past the text's terminating NUL.
char* parseString(char* text, char** token, const char* delimiters, char* found);

// Value of the first of at most kHttpMaxHeaders slots whose name equals name ignoring case;
// stops at the first empty slot. Null when none.
char* getHttpHeaderField(THttpHeader* headers, const char* name);

// A copy of the first built-in file whose name is a prefix of path (case-sensitive), or a
// record of nulls and zeros.
THttpPage getHttpPseudoFileHeader(const char* path);

// "Mon, 7 Dec 2026 22:30:11 GMT", always in UTC. text holds kHttpTimeSize bytes. Returns text.
char* httpTime(time_t seconds, char* text);

// Base64 (RFC 4648, "=" padding) of a NUL-ended text, stopping after kHttpBase64Max output
// characters; out holds kHttpBase64Max + 1 bytes and ends with NUL. Returns out.
char* strToBase64(const char* text, char* out);

// Streams a regular file of the board (board path) to the socket: its size at open, in pieces.
// Returns the bytes sent, or -1 when the file cannot be opened, is not a regular file, or not
// all of it could be sent.
int64_t httpSendFile(int socket, const char* path);

// --- One connection's protocol, without the socket ---------------------------------------------
// Where answers go. Each call sends one whole answer; false when it could not be sent whole.
class THttpSink {
public:
    virtual ~THttpSink() = default;
    // The header, then length bytes at body (none for HEAD and 304).
    virtual bool send(const std::string& header, const char* body, size_t length) = 0;
    // The header, then length bytes read from the open file fd.
    virtual bool sendFile(const std::string& header, int fd, int64_t length) = 0;
};

// The framing and answering of one connection: requests are read into a 1500-byte buffer up to
// the empty line that ends their headers (CR LF or bare LF), every complete request is answered
// in order, a body announced by Content-Length (up to 64 KiB) is skipped.
class THttpConnection {
public:
    THttpConnection();
    THttpConnection(const THttpConnection&) = delete;
    THttpConnection& operator=(const THttpConnection&) = delete;

    // Where the next bytes go, and how many fit (never 0 while the connection is open).
    char* receiveBuffer() { return buffer_ + length_; }
    size_t receiveRoom() const { return kHttpReceiveSize - length_; }
    // Takes count bytes just placed at receiveBuffer() and answers what is complete. False when
    // the connection must now close: a request line without method or path (nothing sent for
    // it), headers longer than the buffer (400 sent), an answer that announced "close", a body
    // that cannot be skipped, or an answer that could not be sent.
    bool received(size_t count, THttpSink& sink, time_t now);
    // A request has begun and is not yet whole (its header, or a body being skipped).
    bool midRequest() const { return length_ > 0 || discard_ > 0; }

private:
    bool answerOne(size_t blockLength, THttpSink& sink, time_t now, bool& closeAfter);
    void answerOversize(THttpSink& sink, time_t now);
    void consume(size_t count);

    char buffer_[kHttpReceiveSize + 1];
    size_t length_ = 0;
    int64_t discard_ = 0;        // body bytes still to skip
    std::string page_;           // generated and error pages are built here
};

// Length of the header block at the start of buf (request line to the empty line included),
// or 0 when its end has not arrived.
size_t httpHeaderBlockLength(const char* buf, size_t length);

// One request parsed in place from a header block (its line ends become NULs).
struct THttpRequest {
    char* method = nullptr;
    const char* path = nullptr;   // "/" is already "/index.html"
    THttpParam params[kHttpMaxParams] = {};
    THttpHeader headers[kHttpMaxHeaders] = {};
    bool head = false;
    int64_t bodyLength = 0;       // announced by Content-Length
    bool unframedBody = false;    // chunked, unreadable length or larger than 64 KiB
};
// False when the method or the path is missing or empty.
bool parseHttpRequest(char* block, size_t length, THttpRequest& request);

// The response header (status line to the empty line). closeAfter is set when it announces
// "close" (or forceClose asked for it: then "Connection: close" is added if no request header
// asked for an echo).
std::string httpResponseHeader(int status, THttpHeader* headers, const char* requestPath, int64_t length,
                               int32_t mtime, time_t now, bool forceClose, bool* closeAfter);
