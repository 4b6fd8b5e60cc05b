// HTTP: the bytes are one connection's stream, framed and answered by the connection class;
// the first byte sets how many bytes each read delivers (0: as many as fit), so requests are
// also cut at every place. The board holds a secret inside the root but outside the served
// trees, another outside the root, and links from the served trees to both: a served secret,
// or a file opened for serving outside the served trees, fails the target.
#include "fuzz/support.h"

#include "board/board.h"
#include "network/serverHTTP.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kSecret = "SECRET-2b7d41e9";

std::string canonical(const std::string& path)
{
    char out[PATH_MAX];
    if (!realpath(path.c_str(), out))
        fuzzFailure("no canonical path for " + path);
    return out;
}

struct TFixture {
    std::string servedImages;
    std::string servedUser;

    TFixture()
    {
        fuzzSimulatedBoard();
        const std::string secret = std::string(kSecret) + "\n";
        const auto* secretBytes = reinterpret_cast<const uint8_t*>(secret.data());
        ::mkdir(boardPath("/media/private").c_str(), 0755);
        ::mkdir(boardPath("/media/user").c_str(), 0755);
        ::mkdir(boardPath("/images").c_str(), 0755);
        fuzzWriteBoardFile("/media/private/secret.txt", secretBytes, secret.size());
        const std::string outside = boardRoot() + ".outside.txt";
        std::ofstream(outside) << secret;
        std::atexit([] { ::unlink((boardRoot() + ".outside.txt").c_str()); });
        const std::string hello = "hello\n";
        fuzzWriteBoardFile("/media/user/hello.txt", reinterpret_cast<const uint8_t*>(hello.data()), hello.size());
        link(boardPath("/media/private"), "/media/user/private");
        link("../media/private/secret.txt", "/images/secret.gif");
        link(outside, "/media/user/outside.txt");
        link("../../..", "/media/user/up");
        servedImages = canonical(boardPath("/images")) + "/";
        servedUser = canonical(boardPath("/media/user")) + "/";
    }

    static void link(const std::string& target, const char* boardLink)
    {
        if (::symlink(target.c_str(), boardPath(boardLink).c_str()) != 0)
            fuzzFailure(std::string("cannot link ") + boardLink);
    }
};

class TCheckingSink : public THttpSink {
public:
    // An input that names the secret itself may see it echoed (an error page shows the path).
    TCheckingSink(const TFixture& fixture, bool inputNamesSecret) : fixture_(fixture), echoAllowed_(inputNamesSecret)
    {
    }

    bool send(const std::string& header, const char* body, size_t length) override
    {
        check(header);
        check(std::string(body ? body : "", body ? length : 0));
        return true;
    }

    bool sendFile(const std::string& header, int fd, int64_t length) override
    {
        check(header);
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const std::string opened = canonical(link);
        if (opened.compare(0, fixture_.servedImages.size(), fixture_.servedImages) != 0 &&
            opened.compare(0, fixture_.servedUser.size(), fixture_.servedUser) != 0)
            fuzzFailure("opened for serving outside the served trees: " + opened);
        std::string body(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(length, 0), 4096)), '\0');
        const ssize_t n = ::pread(fd, &body[0], body.size(), 0);
        body.resize(n > 0 ? static_cast<size_t>(n) : 0);
        check(body);
        return true;
    }

private:
    void check(const std::string& bytes) const
    {
        if (!echoAllowed_ && bytes.find(kSecret) != std::string::npos)
            fuzzFailure("served the secret");
    }

    const TFixture& fixture_;
    bool echoAllowed_;
};

TFixture* fixtureOnce()
{
    static TFixture* fixture = new TFixture();
    return fixture;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fixtureOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    TFixture* fixture = fixtureOnce();
    if (size < 1)
        return 0;
    const size_t step = bytes[0];
    const uint8_t* p = bytes + 1;
    size_t left = size - 1;
    const std::string input(reinterpret_cast<const char*>(p), left);
    TCheckingSink sink(*fixture, input.find(kSecret) != std::string::npos);
    THttpConnection connection;
    const time_t now = 1796688000;  // a fixed date: answers do not depend on the clock
    while (left > 0) {
        size_t n = std::min(left, connection.receiveRoom());
        if (step != 0)
            n = std::min(n, step);
        std::memcpy(connection.receiveBuffer(), p, n);
        p += n;
        left -= n;
        if (!connection.received(n, sink, now))
            break;
    }
    return 0;
}
