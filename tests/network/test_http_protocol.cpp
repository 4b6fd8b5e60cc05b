// The HTTP server's protocol without sockets: tokenizer, framing, parsing, answers, the pages
// and the file-system confinement, fed with byte strings.
#include "tests/network/http_test_client.h"
#include "tests/support/simboardtest.h"

#include "board/board.h"
#include "hardware/calibration.h"
#include "network/serverHTTP.h"
#include "network/webServerFs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr time_t kNow = 1796682611;  // Mon, 7 Dec 2026 22:30:11 GMT
const char* const kIndexDate = "Thu, 15 Oct 2020 09:50:55 GMT";
const char* const kGoodAuthorization = "dHVuaW5nOiV2ZThSdzJrIw==";

std::string builtIn(const char* path)
{
    THttpPage p = getHttpPseudoFileHeader(path);
    return p.data ? std::string(p.data, static_cast<size_t>(p.length)) : std::string();
}

class HttpProtocol : public SimBoardTest {
protected:
    void SetUp() override
    {
        registerWebPictureSeed();
        SimBoardTest::SetUp();
    }

    // Feeds the chunks as successive reads; what the connection sent. open: still open after.
    std::string exchange(const std::vector<std::string>& chunks, bool* open = nullptr)
    {
        TStringSink sink;
        bool stillOpen = true;
        for (const std::string& chunk : chunks) {
            size_t done = 0;
            while (stillOpen && done < chunk.size()) {
                size_t n = std::min(chunk.size() - done, connection_.receiveRoom());
                std::memcpy(connection_.receiveBuffer(), chunk.data() + done, n);
                done += n;
                stillOpen = connection_.received(n, sink, kNow);
            }
        }
        if (open)
            *open = stillOpen;
        return sink.out;
    }

    std::vector<THttpReply> replies(const std::vector<std::string>& chunks, bool* open = nullptr)
    {
        return parseHttpReplies(exchange(chunks, open));
    }

    THttpReply one(const std::string& request, bool* open = nullptr)
    {
        auto r = replies({request}, open);
        EXPECT_EQ(r.size(), 1u) << request;
        return r.empty() ? THttpReply() : r.front();
    }

    THttpConnection connection_;
};

// --- Tokenizer --------------------------------------------------------------------------------

TEST(HttpParseString, TokensDelimitersAndTheEndOfTheText)
{
    struct Case {
        const char* text;
        const char* delimiters;
        const char* token;  // null: none found
        char found;
        const char* rest;
    } cases[] = {
        {"GET /x", " ", "GET", ' ', "/x"},
        {"GET  /x", " ", "GET", ' ', "/x"},        // a doubled delimiter is one
        {"/p?q=1 H", " ?", "/p", '?', "q=1 H"},
        {"a\r\nb", "\r", "a", '\r', "b"},           // CR LF is one
        {"a\r", "\r", "a", '\r', ""},               // a CR that ends the text: stop at the end
        {"a\rb", "\r", "a", '\r', "b"},             // a lone CR keeps what follows
        {"abc", "=", nullptr, 'x', "abc"},          // none: no token, nothing moves
        {"", " ", nullptr, 'x', ""},
    };
    for (const Case& c : cases) {
        std::string buffer(c.text);
        buffer.push_back(0);
        buffer.push_back('Z');  // a stale byte past the end must never be reached
        char* token = reinterpret_cast<char*>(1);
        char found = 'x';
        char* rest = parseString(&buffer[0], &token, c.delimiters, &found);
        if (c.token) {
            ASSERT_NE(token, nullptr) << c.text;
            EXPECT_STREQ(token, c.token) << c.text;
        } else {
            EXPECT_EQ(token, nullptr) << c.text;
        }
        EXPECT_EQ(found, c.found) << c.text;
        EXPECT_STREQ(rest, c.rest) << c.text;
        EXPECT_LE(rest, &buffer[std::strlen(c.text)]) << c.text;
    }
}

// --- Request parsing --------------------------------------------------------------------------

TEST(HttpParseRequest, QueryPairsHeadersAndTheirLimits)
{
    std::string block = "GET /page.html?a=1&b&&c=x=y&=v HTTP/1.1\r\n"
                        "Host: h\r\n"
                        "X-Mixed-CASE:\t value \r\n"
                        "\r\n";
    THttpRequest r;
    ASSERT_TRUE(parseHttpRequest(&block[0], block.size(), r));
    EXPECT_STREQ(r.method, "GET");
    EXPECT_STREQ(r.path, "/page.html");
    struct Pair {
        const char* name;
        const char* value;
    } expected[] = {{"a", "1"}, {"b", nullptr}, {"c", "x=y"}, {"", "v"}};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_NE(r.params[i].name, nullptr) << i;
        EXPECT_STREQ(r.params[i].name, expected[i].name) << i;
        if (expected[i].value) {
            EXPECT_STREQ(r.params[i].value, expected[i].value) << i;
        } else {
            EXPECT_EQ(r.params[i].value, nullptr) << i;
        }
    }
    EXPECT_EQ(r.params[4].name, nullptr);
    // A pair without "=" swallows nothing: the headers that follow are all there.
    EXPECT_STREQ(getHttpHeaderField(r.headers, "HOST"), "h");
    EXPECT_STREQ(r.headers[1].name, "x-mixed-case");
    EXPECT_STREQ(r.headers[1].value, "value ");
    EXPECT_EQ(r.headers[2].name, nullptr);

    std::string many = "GET /x?";
    for (int i = 0; i < 30; ++i)
        many += "n" + std::to_string(i) + "=" + std::to_string(i) + (i < 29 ? "&" : "");
    many += " HTTP/1.1\r\n";
    for (int i = 0; i < 25; ++i)
        many += "H" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
    many += "\r\n";
    ASSERT_TRUE(parseHttpRequest(&many[0], many.size(), r));
    EXPECT_STREQ(r.params[19].name, "n19");
    EXPECT_STREQ(r.headers[19].name, "h19");
    EXPECT_EQ(getHttpHeaderField(r.headers, "h20"), nullptr);

    // Header slots stop at a line without ":"; the body's framing still sees every line.
    std::string broken = "POST /x HTTP/1.1\nA: 1\nnot a header\nB: 2\nContent-Length: 7\n\n";
    ASSERT_TRUE(parseHttpRequest(&broken[0], broken.size(), r));
    EXPECT_STREQ(getHttpHeaderField(r.headers, "a"), "1");
    EXPECT_EQ(getHttpHeaderField(r.headers, "b"), nullptr);
    EXPECT_EQ(r.bodyLength, 7);

    std::string root = "HEAD / HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(parseHttpRequest(&root[0], root.size(), r));
    EXPECT_STREQ(r.path, "/index.html");
    EXPECT_TRUE(r.head);
}

TEST(HttpParseRequest, MissingMethodOrPathIsRefused)
{
    for (const char* line : {"GET\r\n\r\n", "GET \r\n\r\n", " /index.html HTTP/1.1\r\n\r\n", "GET ?a=1 HTTP/1.1\r\n\r\n"}) {
        std::string block(line);
        THttpRequest r;
        EXPECT_FALSE(parseHttpRequest(&block[0], block.size(), r)) << line;
    }
}

TEST(HttpHeaderBlock, EndsAtTheFirstEmptyLine)
{
    struct Case {
        std::string bytes;
        size_t length;
    } cases[] = {
        {"GET / HTTP/1.1\r\nA: b\r\n\r\nrest", 24},
        {"GET / HTTP/1.1\nA: b\n\nrest", 21},
        {"GET / HTTP/1.1\r\nA: b\r\n\r", 0},  // a CR as the last byte
        {"GET / HTTP/1.1\r\nA: b\r\n", 0},
        {"GET / HTTP/1.1\r\n\n", 17},
    };
    for (const Case& c : cases)
        EXPECT_EQ(httpHeaderBlockLength(c.bytes.data(), c.bytes.size()), c.length) << c.bytes;
}

// --- Framing over a connection ------------------------------------------------------------------

TEST_F(HttpProtocol, FramingOfSplitPipelinedAndBodyCarryingRequests)
{
    const std::string get = "GET /favicon.ico HTTP/1.1\r\n\r\n";
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<int> statuses;
        bool open;
    } cases[] = {
        {"split over two reads", {"GET /favicon.ico HT", "TP/1.1\r\nHost: a\r\n\r\n"}, {200}, true},
        {"split after a final CR", {"GET /favicon.ico HTTP/1.1\r\n\r", "\n"}, {200}, true},
        {"pipelined", {get + "GET /none HTTP/1.1\r\n\r\n" + get}, {200, 404, 200}, true},
        {"bare LF lines", {"GET /favicon.ico HTTP/1.1\nHost: a\n\n"}, {200}, true},
        {"blank lines between requests", {get + "\r\n\r\n" + get}, {200, 200}, true},
        {"body skipped", {"POST /favicon.ico HTTP/1.1\r\nContent-Length: 5\r\n\r\nGET /" + get}, {200, 200}, true},
        {"body over several reads",
         {"POST /favicon.ico HTTP/1.1\r\nContent-Length: 3000\r\n\r\n", std::string(1400, 'x'),
          std::string(1600, 'y') + get},
         {200, 200},
         true},
        {"body too large", {"POST /favicon.ico HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" + get}, {200}, false},
        {"chunked body", {"POST /favicon.ico HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"}, {200}, false},
        {"bad length", {"POST /favicon.ico HTTP/1.1\r\nContent-Length: 1x\r\n\r\n" + get}, {200}, false},
        {"headers too long", {"GET /favicon.ico HTTP/1.1\r\nX: " + std::string(1600, 'a')}, {400}, false},
        {"no path after a good request", {get + "GET\r\n\r\n" + get}, {200}, false},
        {"incomplete", {"GET /favicon.ico HTTP/1.1\r\n"}, {}, true},
    };
    for (const Case& c : cases) {
        THttpConnection fresh;
        TStringSink sink;
        bool open = true;
        for (const std::string& chunk : c.chunks) {
            size_t done = 0;
            while (open && done < chunk.size()) {
                size_t n = std::min(chunk.size() - done, fresh.receiveRoom());
                std::memcpy(fresh.receiveBuffer(), chunk.data() + done, n);
                done += n;
                open = fresh.received(n, sink, kNow);
            }
        }
        std::vector<int> statuses;
        for (const THttpReply& r : parseHttpReplies(sink.out))
            statuses.push_back(r.status);
        EXPECT_EQ(statuses, c.statuses) << c.name;
        EXPECT_EQ(open, c.open) << c.name;
    }
}

TEST_F(HttpProtocol, OversizeHeadersGetTheBadRequestPageAndAnnouncedClose)
{
    bool open = true;
    THttpReply r = one("GET /big.css HTTP/1.1\r\nX: " + std::string(1600, 'a'), &open);
    EXPECT_FALSE(open);
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.header("Connection"), "close");
    EXPECT_EQ(r.header("Content-Type"), "text/css");
    EXPECT_NE(r.body.find("<HR><H1>Server Error: 400 Bad Request</H1>\r\n<HR><H2>Filename: /big.css</H2>"),
              std::string::npos);
}

// --- Answers ----------------------------------------------------------------------------------

TEST_F(HttpProtocol, ResponseHeaderFieldsInTheirOrder)
{
    THttpReply r = one("GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(r.head, "HTTP/1.1 200 OK\r\n"
                      "connection: keep-alive\r\n"
                      "Date: Mon, 7 Dec 2026 22:30:11 GMT\r\n"
                      "Server: Quarnel/1.0\r\n"
                      "Last-Modified: Thu, 15 Oct 2020 09:50:55 GMT\r\n"
                      "Content-Length: " + std::to_string(builtIn("/index.html").size()) + "\r\n"
                      "Content-Type: text/html\r\n"
                      "Age: 0\r\n\r\n");
    EXPECT_EQ(r.body, builtIn("/index.html"));

    bool open = true;
    r = one("GET /morvadin.html HTTP/1.1\r\nConnection: keep-alive\r\n\r\n", &open);
    std::string page = r.body;
    EXPECT_EQ(r.head, "HTTP/1.1 401 Unauthorized\r\n"
                      "WWW-Authenticate: Basic realm=\"Oscilloscope\"\r\n"
                      "connection: close\r\n"
                      "Date: Mon, 7 Dec 2026 22:30:11 GMT\r\n"
                      "Server: Quarnel/1.0\r\n"
                      "Content-Length: " + std::to_string(page.size()) + "\r\n"
                      "Content-Type: text/html\r\n"
                      "Age: 0\r\n\r\n");
    EXPECT_FALSE(open) << "an answer that announced close keeps the connection";
}

TEST_F(HttpProtocol, ConnectionEchoRules)
{
    struct Case {
        const char* name;
        std::string headers;
        const char* path;
        std::vector<std::string> expectedLines;
        bool open;
    } cases[] = {
        {"own values on 200", "Connection: keep-alive\r\nProxy-Connection: Keep-Alive\r\n", "/favicon.ico",
         {"connection: keep-alive", "proxy-connection: Keep-Alive"}, true},
        {"close on an error", "Connection: keep-alive\r\n", "/none", {"connection: close"}, false},
        {"client asks to close", "Connection: Close\r\n", "/favicon.ico", {"connection: Close"}, false},
        {"control characters removed", "Connection: keep\001-al\rive\r\n", "/favicon.ico",
         {"connection: keep-alive"}, true},
        {"no header, nothing echoed, stays open on 404", "", "/none", {}, true},
    };
    for (const Case& c : cases) {
        THttpConnection fresh;
        TStringSink sink;
        std::string request = std::string("GET ") + c.path + " HTTP/1.1\r\n" + c.headers + "\r\n";
        std::memcpy(fresh.receiveBuffer(), request.data(), request.size());
        bool open = fresh.received(request.size(), sink, kNow);
        auto r = parseHttpReplies(sink.out);
        ASSERT_EQ(r.size(), 1u) << c.name;
        std::vector<std::string> echoed;
        for (const auto& h : r[0].headers)
            if (h.first.find("onnection") != std::string::npos)
                echoed.push_back(h.first + ": " + h.second);
        EXPECT_EQ(echoed, c.expectedLines) << c.name;
        EXPECT_EQ(open, c.open) << c.name;
    }

    // Twenty echoed headers all fit.
    std::string request = "GET /favicon.ico HTTP/1.1\r\n";
    for (int i = 0; i < 20; ++i)
        request += "X-Connection-" + std::to_string(i) + ": " + std::string(40, 'v') + "\r\n";
    THttpReply r = one(request + "\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.has("x-connection-19"));
}

TEST_F(HttpProtocol, ConditionalAnswerAndHead)
{
    bool open = false;
    std::string out = exchange({std::string("GET /index.html HTTP/1.1\r\nIf-Modified-Since: ") + kIndexDate
                                + "\r\n\r\nGET /index.html HTTP/1.1\r\n\r\n"},
                               &open);
    ASSERT_GE(out.size(), 29u);
    EXPECT_EQ(out.substr(0, 29), "HTTP/1.1 304 Not Modified\r\n\r\n");
    THttpReply next;
    ASSERT_GT(parseHttpReply(out.substr(29), false, next), 0u);
    EXPECT_EQ(next.status, 200);
    EXPECT_TRUE(open);

    // Another spelling of the same date is no match.
    for (const char* other : {"Thu, 15 Oct 2020 09:50:55 GMT ", "thu, 15 Oct 2020 09:50:55 GMT",
                              "Thursday, 15-Oct-20 09:50:55 GMT"})
        EXPECT_EQ(one(std::string("GET /index.html HTTP/1.1\r\nIf-Modified-Since: ") + other + "\r\n\r\n").status, 200)
            << other;

    // HEAD: the GET's header, no body; the next request is framed right.
    THttpReply get = one("GET /stylesheet.css HTTP/1.1\r\n\r\n");
    out = exchange({"HEAD /stylesheet.css HTTP/1.1\r\n\r\nGET /favicon.ico HTTP/1.1\r\n\r\n"});
    THttpReply head;
    size_t n = parseHttpReply(out, true, head);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(head.head, get.head);
    ASSERT_GT(parseHttpReply(out.substr(n), false, next), 0u);
    EXPECT_EQ(next.body, builtIn("/favicon.ico"));
}

TEST_F(HttpProtocol, GuardedLaunchPage)
{
    struct Case {
        const char* authorization;  // null: no header
        int status;
    } cases[] = {
        {"Basic dHVuaW5nOiV2ZThSdzJrIw==", 200},
        {"Digest dHVuaW5nOiV2ZThSdzJrIw==", 200},  // the scheme word is not checked
        {"Basic dHVuaW5nOiV2ZThSdzJrIw== ", 401},
        {"dHVuaW5nOiV2ZThSdzJrIw==", 401},          // no blank: no credential
        {"Basic dHVuaW5nOiV2ZThSdzJrIw=", 401},
        {"Basic  dHVuaW5nOiV2ZThSdzJrIw==", 401},
        {"Basic ", 401},
        {nullptr, 401},
    };
    for (const Case& c : cases) {
        std::string request = "GET /morvadin.html HTTP/1.1\r\n";
        if (c.authorization)
            request += std::string("Authorization: ") + c.authorization + "\r\n";
        THttpReply r = one(request + "\r\n");
        EXPECT_EQ(r.status, c.status) << (c.authorization ? c.authorization : "(none)");
        if (c.status == 401) {
            EXPECT_EQ(r.header("WWW-Authenticate"), "Basic realm=\"Oscilloscope\"");
            EXPECT_NE(r.body.find("401 Unauthorized"), std::string::npos);
        } else {
            EXPECT_EQ(r.body, builtIn("/morvadin.html"));
        }
    }
    // Only that page: prefix included, the archive with the capital M is open.
    EXPECT_EQ(one("GET /morvadin.htmlx HTTP/1.1\r\n\r\n").status, 401);
    EXPECT_EQ(one("GET /Morvadin.jar HTTP/1.1\r\n\r\n").status, 200);
    EXPECT_EQ(one("GET /morvadin.jnlp HTTP/1.1\r\nHost: h\r\n\r\n").status, 200);
    EXPECT_EQ(one(std::string("GET /morvadin.htmlx HTTP/1.1\r\nAuthorization: Basic ") + kGoodAuthorization
                  + "\r\n\r\n")
                  .body,
              builtIn("/morvadin.html"));
}

TEST_F(HttpProtocol, LookupByPrefixQueryAndContentType)
{
    struct Case {
        const char* target;
        int status;
        const char* type;
        const char* body;  // built-in path whose bytes are served, or null
    } cases[] = {
        {"/", 200, "text/html", "/index.html"},
        {"/index.htmlmore", 200, "text/html", "/index.html"},
        {"/index.html?x=1&y", 200, "text/html", "/index.html"},
        {"/pelanode.html", 200, "text/html", "/pelanode.html"},
        {"/favicon.ico.jar", 200, "image/x-icon", "/favicon.ico"},
        {"/Index.html", 404, "text/html", nullptr},
        {"/x.png", 404, "application/octet-stream", nullptr},
        {"/nothing.jnlp", 404, "application/x-java-jnlp-file", nullptr},
        {"/a.jar.css", 404, "text/css", nullptr},
    };
    for (const Case& c : cases) {
        THttpReply r = one(std::string("GET ") + c.target + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(r.status, c.status) << c.target;
        EXPECT_EQ(r.header("Content-Type"), c.type) << c.target;
        if (c.body) {
            EXPECT_EQ(r.body, builtIn(c.body)) << c.target;
        } else {
            EXPECT_FALSE(r.has("Last-Modified")) << c.target;
        }
    }
    // The error page names the status and the path, escaped.
    THttpReply r = one("GET /x.png HTTP/1.1\r\n\r\n");
    EXPECT_NE(r.body.find("<HR><H1>Server Error: 404 Not Found</H1>\r\n<HR><H2>Filename: /x.png</H2>\r\n"),
              std::string::npos);
    r = one("GET /<script>&\"x' HTTP/1.1\r\n\r\n");
    EXPECT_NE(r.body.find("Filename: /&lt;script&gt;&amp;&quot;x&#39;</H2>"), std::string::npos);
    EXPECT_EQ(r.body.find("<script>"), std::string::npos);
}

// --- Pages ------------------------------------------------------------------------------------

TEST_F(HttpProtocol, GeneratedPages)
{
    std::memcpy(param_calibr.modelName, "QV4-XT\0\0\0\0", 10);
    std::memcpy(param_calibr.calibrationName, "C7\0\0\0\0\0\0\0\0", 10);
    std::memcpy(param_calibr.serialNumber, "SN12345\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
    std::memcpy(param_calibr.identificationCode, "IDCODE01", 8);
    THttpReply r = one("GET /Instrument.html HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Type"), "text/html");
    EXPECT_NE(r.body.find("<TD ALIGN=\"center\" WIDTH=\"90%\"><FONT SIZE=\"4\"><B><U>QV4-XT, V1.12/C7, SN12345</U></B>"
                          "</FONT></TD>\r\n"),
              std::string::npos);
    EXPECT_EQ(r.body.find("IDCODE01"), std::string::npos);
    EXPECT_EQ(r.body.substr(r.body.size() - 16), "</BODY>\r\n</HTML>");  // no line end after the last

    r = one("GET /pelanode.jnlp HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Type"), "application/x-java-jnlp-file");
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < r.body.size();) {
        size_t eol = r.body.find('\n', pos);
        lines.push_back(r.body.substr(pos, eol - pos));
        pos = eol == std::string::npos ? r.body.size() : eol + 1;
    }
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], "<jnlp codebase=\"http://127.0.0.1:8080/\" href=\"pelanode.jnlp&#063;ip=127.0.0.1:8080\" "
                        "spec=\"1.0+\">");
    EXPECT_EQ(lines[7], "<argument>127.0.0.1:8080</argument></application-desc>");
    EXPECT_EQ(r.body.back(), '\n');
    EXPECT_EQ(r.body.find('\r'), std::string::npos);

    r = one("GET /morvadin.jnlp?x HTTP/1.1\r\nHost: 192.168.0.5\r\n\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("<jnlp codebase=\"http://192.168.0.5\" href=\"morvadin.jnlp\" spec=\"1.0+\">\n"
                          "<information><title>Morvadin</title><vendor>BROVAK</vendor></information>"
                          "<security><all-permissions/></security>\n"),
              std::string::npos);
    EXPECT_NE(r.body.find("<j2se version=\"1.6+\"/>"), std::string::npos);
    EXPECT_NE(r.body.find("\n<argument>192.168.0.5</argument>\n</application-desc>\n</jnlp>\n"), std::string::npos);

    // A missing or unsafe Host fails both descriptors: 503.
    for (const char* page : {"/pelanode.jnlp", "/morvadin.jnlp"}) {
        for (const char* host : {"", "Host: \r\n", "Host: a b\r\n", "Host: x\"/><y\r\n", "Host: h/p\r\n"}) {
            r = one(std::string("GET ") + page + " HTTP/1.1\r\n" + host + "\r\n");
            EXPECT_EQ(r.status, 503) << page << " " << host;
            EXPECT_NE(r.body.find("503 Service Unavailable"), std::string::npos);
        }
        for (const char* host : {"Host: [::1]:80\r\n", "Host: my-scope.example:8080\r\n"})
            EXPECT_EQ(one(std::string("GET ") + page + " HTTP/1.1\r\n" + host + "\r\n").status, 200) << host;
    }
}

TEST(HttpPages, ErrorPageLinesAndMissingPairs)
{
    std::string out;
    THttpPage page{};
    char n0[] = "ErrorCode", v0[] = "404 Not Found", n1[] = "File", v1[] = "/x.png";
    THttpParam pairs[] = {{n0, v0}, {n1, v1}, {nullptr, nullptr}};
    ASSERT_EQ(httpFctError("GET", pairs, nullptr, out, &page), &page);
    EXPECT_EQ(page.data, out.data());
    EXPECT_EQ(page.length, static_cast<int32_t>(out.size()));
    size_t lines = 0;
    for (size_t pos = 0; (pos = out.find("\r\n", pos)) != std::string::npos; pos += 2)
        ++lines;
    EXPECT_EQ(lines, 13u);
    const std::string start = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
                              "\"http://www.w3.org/TR/html4/loose.dtd\">\r\n<HTML>\r\n<HEAD>\r\n"
                              "<TITLE>QV-Applet</TITLE>\r\n";
    EXPECT_EQ(out.substr(0, start.size()), start);
    EXPECT_EQ(out.substr(out.size() - 9), "</HTML>\r\n");

    THttpParam noValue[] = {{n0, nullptr}, {nullptr, nullptr}};
    httpFctError("GET", noValue, nullptr, out, &page);
    EXPECT_NE(out.find("Server Error: -</H1>\r\n<HR><H2>Filename: -</H2>"), std::string::npos);
}

// --- Helpers ----------------------------------------------------------------------------------

// The type of the first table extension anywhere in the path: the saved bus reports (".htm")
// are pages too.
TEST(HttpContentType, ExtensionsAnywhereInThePath)
{
    const struct {
        const char* path;
        const char* type;
    } rows[] = {{"/index.html", "text/html"},
                {"/media/user/bus/tavlin_2026-12-10_17-30-00.htm", "text/html"},
                {"/media/user/bus/a.htm?x=1", "text/html"},
                {"/style.css", "text/css"},
                {"/Morvadin.jar", "application/java-archive"},
                {"/x.png", "application/octet-stream"},
                {"/etc/hostname", "application/octet-stream"}};
    for (const auto& r : rows)
        EXPECT_STREQ(httpContentType(r.path), r.type) << r.path;
}

TEST(HttpHelpers, DatesAreUtcWhateverTheHostZone)
{
    struct Case {
        time_t t;
        const char* text;
    } cases[] = {
        {0, "Thu, 1 Jan 1970 00:00:00 GMT"},
        {1602755455, "Thu, 15 Oct 2020 09:50:55 GMT"},
        {1554968993, "Thu, 11 Apr 2019 07:49:53 GMT"},
        {1603101406, "Mon, 19 Oct 2020 09:56:46 GMT"},
        {kNow, "Mon, 7 Dec 2026 22:30:11 GMT"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
    };
    for (const char* zone : {"UTC0", "IST-5:30", "PST8PDT"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (const Case& c : cases) {
            char text[kHttpTimeSize];
            EXPECT_STREQ(httpTime(c.t, text), c.text) << zone;
        }
    }
}

TEST(HttpHelpers, Base64StopsAtFiftyCharacters)
{
    struct Case {
        const char* text;
        const char* base64;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"tuning:%ve8Rw2k#", kGoodAuthorization},
        {"\xff\xfe", "//4="},
        // 40 bytes would give 56 characters.
        {"0123456789012345678901234567890123456789", "MDEyMzQ1Njc4OTAxMjM0NTY3ODkwMTIzNDU2Nzg5MDEyMzQ1Nj"},
    };
    for (const Case& c : cases) {
        char out[kHttpBase64Max + 1 + 8];
        std::memset(out, 'Z', sizeof out);
        EXPECT_STREQ(strToBase64(c.text, out), c.base64) << c.text;
        EXPECT_EQ(out[kHttpBase64Max + 1], 'Z');
    }
}

TEST(HttpHelpers, PseudoFileHeaderOfTheBuiltInTable)
{
    struct Case {
        const char* path;
        const char* name;
        int32_t length;
        int32_t mtime;
    } cases[] = {
        {"/Morvadin.jar", "/Morvadin.jar", 64874, 1554968993},
        {"/PelanodeIV.jar", "/PelanodeIV.jar", 1035726, 1603101406},
        {"/favicon.ico", "/favicon.ico", 766, 1554968993},
        {"/index.html?x", "/index.html", -1, 1602755455},
        {"/pelanode.html", "/pelanode.html", -1, 1602754654},
        {"/morvadin.html", "/morvadin.html", -1, 1602755243},
        {"/busAnalysisResult.css", "/busAnalysisResult.css", -1, 1554968993},
        {"/stylesheet.cssx", "/stylesheet.css", -1, 1554968993},
        {"/morvadin.jar", nullptr, 0, 0},
        {"/", nullptr, 0, 0},
        {"", nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        THttpPage p = getHttpPseudoFileHeader(c.path);
        if (!c.name) {
            EXPECT_EQ(p.path, nullptr) << c.path;
            EXPECT_EQ(p.data, nullptr) << c.path;
            EXPECT_EQ(p.length, 0) << c.path;
            EXPECT_EQ(p.mtime, 0) << c.path;
            continue;
        }
        ASSERT_NE(p.path, nullptr) << c.path;
        EXPECT_STREQ(p.path, c.name);
        EXPECT_NE(p.data, nullptr);
        if (c.length >= 0) {
            EXPECT_EQ(p.length, c.length) << c.path;
        }
        EXPECT_EQ(p.mtime, c.mtime) << c.path;
    }
    EXPECT_EQ(builtIn("/pelanode.html"), builtIn("/index.html"));
}

// --- File system ------------------------------------------------------------------------------

TEST_F(HttpProtocol, FileSystemIsConfinedToThePicturesAndTheUserFiles)
{
    ASSERT_TRUE(writeBoardFile("/media/private/calibration.cal", "secret"));
    ASSERT_TRUE(writeBoardFile("/media/user/note.txt", "user text"));
    ASSERT_EQ(::mkdir(hostPath("/media/user/sdcard_p1").c_str(), 0777), 0);
    ASSERT_TRUE(writeBoardFile("/media/user/sdcard_p1/shot.gif", "GIF89a.."));
    ASSERT_TRUE(writeBoardFile("/etc/hostname", "scope\n"));
    ASSERT_EQ(::mkfifo(hostPath("/media/user/fifo").c_str(), 0666), 0);
    ASSERT_EQ(::symlink(hostPath("/media/private/calibration.cal").c_str(), hostPath("/media/user/out").c_str()), 0);
    ASSERT_EQ(::symlink("/etc/passwd", hostPath("/media/user/host").c_str()), 0);
    ASSERT_EQ(::symlink("../private", hostPath("/media/user/up").c_str()), 0);
    ASSERT_EQ(::symlink(hostPath("/media/user/note.txt").c_str(), hostPath("/media/user/in").c_str()), 0);

    struct Case {
        const char* path;
        int status;
        const char* type;
        std::string body;
    } cases[] = {
        {"/images/pelanode.gif", 200, "image/gif", httpLogoPictureBytes()},
        {"/images/splash.jpg", 200, "image/jpeg", httpSplashPictureBytes()},
        {"/media/user/note.txt", 200, "application/octet-stream", "user text"},
        {"/media/user/sdcard_p1/shot.gif", 200, "image/gif", "GIF89a.."},
        {"/media/user/in", 200, "application/octet-stream", "user text"},
        {"/media/user/./note.txt", 200, "application/octet-stream", "user text"},
        {"/media/private/calibration.cal", 404, "", ""},
        {"/media/user/../private/calibration.cal", 404, "", ""},
        {"/images/../../etc/passwd", 404, "", ""},
        {"/images/", 404, "", ""},
        {"/images", 404, "", ""},
        {"/media/user/fifo", 404, "", ""},
        {"/media/user/out", 404, "", ""},
        {"/media/user/host", 404, "", ""},
        {"/media/user/up/calibration.cal", 404, "", ""},
        {"/etc/hostname", 404, "", ""},
        {"/dev/zero", 404, "", ""},
        {"/var/tmp/offpipe", 404, "", ""},
        {"/media/user/missing", 404, "", ""},
    };
    for (const Case& c : cases) {
        auto started = std::chrono::steady_clock::now();
        THttpReply r = one(std::string("GET ") + c.path + " HTTP/1.1\r\n\r\n");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << c.path;
        EXPECT_EQ(r.status, c.status) << c.path;
        if (c.status == 200) {
            EXPECT_EQ(r.body, c.body) << c.path;
            EXPECT_EQ(r.header("Content-Type"), c.type) << c.path;
            EXPECT_EQ(r.header("Content-Length"), std::to_string(c.body.size())) << c.path;
            EXPECT_EQ(r.header("Last-Modified"), "Mon, 7 Dec 2026 22:30:11 GMT") << c.path;
        }
        EXPECT_EQ(r.head.find(root_), std::string::npos) << c.path;
        EXPECT_EQ(r.body.find(root_), std::string::npos) << c.path;
    }
}

TEST_F(HttpProtocol, SendFileStreamsARegularFileOfTheBoard)
{
    std::string big(200000, 0);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(writeBoardFile("/media/user/big.bin", big));
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    std::string got;
    std::thread reader([&] {
        char buf[8192];
        ssize_t n;
        while ((n = ::read(sv[1], buf, sizeof buf)) > 0)
            got.append(buf, static_cast<size_t>(n));
    });
    EXPECT_EQ(httpSendFile(sv[0], "/media/user/big.bin"), static_cast<int64_t>(big.size()));
    EXPECT_EQ(httpSendFile(sv[0], "/media/user/none"), -1);
    EXPECT_EQ(httpSendFile(sv[0], "/media/user"), -1);
    ::close(sv[0]);
    reader.join();
    ::close(sv[1]);
    EXPECT_EQ(got, big);
}

// --- Resources --------------------------------------------------------------------------------

uint32_t crc32Of(const char* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<unsigned char>(p[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

uint32_t le(const char* p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

TEST(HttpResources, ArchivePlaceholdersAreWholeZipFilesOfTheTableSizes)
{
    for (const char* name : {"/Morvadin.jar", "/PelanodeIV.jar"}) {
        THttpPage page = getHttpPseudoFileHeader(name);
        const char* z = page.data;
        const size_t size = static_cast<size_t>(page.length);
        ASSERT_GE(size, 22u);
        const char* eocd = z + size - 22;
        ASSERT_EQ(le(eocd, 4), 0x06054b50u) << name;
        const uint32_t entries = le(eocd + 10, 2);
        const uint32_t centralSize = le(eocd + 12, 4);
        const uint32_t central = le(eocd + 16, 4);
        ASSERT_EQ(central + centralSize + 22, size) << name;
        std::vector<std::string> names;
        const char* c = z + central;
        for (uint32_t i = 0; i < entries; ++i) {
            ASSERT_EQ(le(c, 4), 0x02014b50u);
            const uint32_t crc = le(c + 16, 4);
            const uint32_t length = le(c + 24, 4);
            const uint32_t nameLength = le(c + 28, 2);
            const uint32_t offset = le(c + 42, 4);
            std::string entry(c + 46, nameLength);
            names.push_back(entry);
            const char* local = z + offset;
            ASSERT_EQ(le(local, 4), 0x04034b50u) << entry;
            ASSERT_EQ(le(local + 8, 2), 0u) << "stored";
            ASSERT_EQ(std::string(local + 30, le(local + 26, 2)), entry);
            const char* data = local + 30 + le(local + 26, 2) + le(local + 28, 2);
            ASSERT_LE(static_cast<size_t>(data - z) + length, central);
            EXPECT_EQ(crc32Of(data, length), crc) << entry;
            if (entry == "README.txt") {
                EXPECT_NE(std::string(data, length).find("not part of this build"), std::string::npos);
            }
            c += 46 + nameLength + le(c + 30, 2) + le(c + 32, 2);
        }
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.front(), "META-INF/MANIFEST.MF") << name;
    }
}

TEST(HttpResources, IconIsOne32By32SixteenColourImage)
{
    THttpPage ico = getHttpPseudoFileHeader("/favicon.ico");
    ASSERT_EQ(ico.length, 766);
    const char* p = ico.data;
    EXPECT_EQ(le(p, 2), 0u);
    EXPECT_EQ(le(p + 2, 2), 1u);  // icon
    EXPECT_EQ(le(p + 4, 2), 1u);  // one image
    EXPECT_EQ(static_cast<unsigned char>(p[6]), 32);
    EXPECT_EQ(static_cast<unsigned char>(p[7]), 32);
    EXPECT_EQ(static_cast<unsigned char>(p[8]), 16);
    EXPECT_EQ(le(p + 12, 2), 4u);  // bits per pixel
    EXPECT_EQ(le(p + 14, 4) + le(p + 18, 4), 766u);
}

TEST_F(HttpProtocol, SeedingInstallsThePictures)
{
    std::string gif = readHostFile(hostPath("/images/pelanode.gif"));
    std::string jpg = readHostFile(hostPath("/images/splash.jpg"));
    EXPECT_EQ(gif, httpLogoPictureBytes());
    EXPECT_EQ(jpg, httpSplashPictureBytes());
    EXPECT_EQ(gif.compare(0, 6, "GIF89a"), 0);
    ASSERT_GT(jpg.size(), 4u);
    EXPECT_EQ(jpg.compare(0, 3, "\xff\xd8\xff"), 0);
    EXPECT_EQ(jpg.compare(jpg.size() - 2, 2, "\xff\xd9"), 0);
}

} // namespace
