// Discovery and administration responder. Replies are built with explicit lengths: command 4
// answers zero bytes for empty fields.
#include "network/ScopeAdmin.h"

#include "board/board.h"
#include "core/gest_db.h"
#include "core/sysserv.h"
#include "network/pelanodeInterface.h"  // kWsInboxGuard: remote floods must not crowd out keys

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

const char scopeAdminHeader[kAdminHeaderSize + 1] = {0x01, 'b', 'r', 'o', 'v', 'a', 'k', 0x01, 0x02, 0x03, 0x04, 0};

namespace {

constexpr int kDefaultRetryMs = 5000;
constexpr int kReceiveWaitMs = 200;
// After a receive that failed for another reason than the wait: never spin on a broken socket.
constexpr int kFailedReceivePauseMs = 50;

// Command bytes.
enum : unsigned char {
    kCmdEcho = 0,
    kCmdIdentify = 1,
    kCmdSettings = 4,
    kCmdSettingsReply = 2,
    kCmdFixed = 5,
    kCmdEchoThree = 16,
    kCmdPing = 18,
    kCmdFlag = 20,
    kCmdPower = 255,
};

constexpr int32_t kSaverOn = 1;
constexpr int32_t kSaverOff = 3;

std::atomic<int>& retryStorage()
{
    static auto* v = new std::atomic<int>(boardSetting("BENCHVIEW_ADMIN_RETRY_MS", kDefaultRetryMs, 1, 600000));
    return *v;
}

// Not pauseMs: the controller's tests replace that one.
void sleepMs(int milliseconds)
{
    timespec t{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

int openSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    const timeval wait{0, kReceiveWaitMs * 1000};
    const bool loopbackOnly = boardSetting("BENCHVIEW_ADMIN_LOOPBACK_ONLY", 0, 0, 1) != 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kAdminPort)));
    addr.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0
        || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void field(std::string* reply, const std::string& text)
{
    reply->append(text);
    reply->push_back(',');
}

// The first byte of a field, a zero byte for an empty one, then ",".
void firstByte(std::string* reply, const std::string& text)
{
    reply->push_back(text.empty() ? '\0' : text[0]);
    reply->push_back(',');
}

void serve(int fd)
{
    unsigned char buffer[kAdminReceiveMax];
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const ssize_t n =
        ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            sleepMs(kFailedReceivePauseMs);
        return;
    }
    TAdminRequest request;
    if (!scopeAdminParse(buffer, static_cast<size_t>(n), &request))
        return;
    std::string mac;
    getMacAddress(mac);
    std::string reply;
    pipe_dial record{};
    bool posted = false;
    if (!scopeAdminAnswer(request, mac, &reply, &record, &posted))
        return;
    if (posted && o_g_consMessageBox.count() <= kWsInboxGuard) {
        record.senderId = senderValue(pthread_self());
        o_g_consMessageBox.send(&record);  // a full box drops it; the reply goes all the same
    }
    ::sendto(fd, reply.data(), reply.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer), peerLength);
}

} // namespace

int scopeAdminRetryMs()
{
    return retryStorage().load();
}

void setScopeAdminRetryMs(int milliseconds)
{
    retryStorage().store(milliseconds);
}

bool scopeAdminParse(const unsigned char* bytes, size_t length, TAdminRequest* request)
{
    if (length < kAdminHeaderSize + 1 || std::memcmp(bytes + 1, scopeAdminHeader + 1, kAdminHeaderSize - 1) != 0)
        return false;
    *request = TAdminRequest{};
    request->command = bytes[kAdminHeaderSize];
    size_t at = kAdminHeaderSize + 1;
    for (int i = 0; i < kAdminFieldCount && at < length; ++i) {
        const void* comma = std::memchr(bytes + at, ',', length - at);
        const size_t end = comma ? static_cast<size_t>(static_cast<const unsigned char*>(comma) - bytes) : length;
        if (end - at > kAdminFieldMax)
            return false;
        request->fields[i].assign(reinterpret_cast<const char*>(bytes + at), end - at);
        at = end + 1;  // past the comma; past the end when there was none
    }
    return true;
}

long scopeAdminInteger(const std::string& field)
{
    return std::strtol(field.c_str(), nullptr, 10);
}

bool scopeAdminAnswer(const TAdminRequest& request, const std::string& mac, std::string* reply, pipe_dial* record,
                      bool* posted)
{
    *posted = false;
    const std::string& addressee = request.fields[0];
    if (!(!addressee.empty() && addressee[0] == '+') && addressee != mac)
        return false;
    reply->assign(scopeAdminHeader, kAdminHeaderSize);
    reply->push_back(static_cast<char>(request.command == kCmdSettings ? static_cast<unsigned char>(kCmdSettingsReply) : request.command));
    auto post = [&](uint16_t kind, int32_t code, long value) {
        *record = pipe_dial{kind, code, 0, static_cast<intptr_t>(value), 0.0f, 0};
        *posted = true;
    };
    switch (request.command) {
    case kCmdEcho:
        field(reply, mac);
        for (int i = 1; i <= 9; ++i)
            field(reply, request.fields[i]);
        return true;
    case kCmdIdentify: {
        field(reply, mac);
        char identification[kIdentificationSize];
        GetIdentification(identification, nullptr, true, true);
        field(reply, identification);
        bool dhcp = false;
        std::string address, netmask, gateway;
        getIpAddress(dhcp, address, netmask, gateway);
        field(reply, dhcp ? "1" : "0");
        field(reply, address);
        field(reply, netmask);
        field(reply, gateway);
        reply->append("0.0.0.0,-,0.0.0.0,-,-,");
        return true;
    }
    case kCmdSettings:
        field(reply, mac);
        reply->append("0,0,0,0,0,0,");
        firstByte(reply, request.fields[7]);
        firstByte(reply, request.fields[8]);
        firstByte(reply, request.fields[9]);
        return true;
    case kCmdFixed:
        field(reply, mac);
        reply->append("0,0,0,");
        return true;
    case kCmdEchoThree:
        field(reply, mac);
        for (int i = 1; i <= 3; ++i)
            field(reply, request.fields[i]);
        return true;
    case kCmdPing:
        field(reply, mac);
        return true;
    case kCmdFlag:
        post(REQ_SET_PARAM, param::spareWord6, scopeAdminInteger(request.fields[1]) != 0 ? 1 : 0);
        field(reply, mac);
        field(reply, request.fields[1]);
        return true;
    case kCmdPower: {
        const long value = scopeAdminInteger(request.fields[1]);
        if (value == 0)
            post(REQ_SCREEN_SAVER, kSaverOn, value);
        else if (value == 2)
            post(REQ_SET_PARAM, param::powerOffRequest, value);
        else
            post(REQ_SCREEN_SAVER, kSaverOff, value);
        field(reply, mac);
        field(reply, request.fields[1]);
        return true;
    }
    default:
        reply->clear();
        return false;
    }
}

void scopeAdminRun(const std::atomic<bool>& stop)
{
    while (!stop.load()) {
        const int fd = openSocket();
        if (fd < 0) {
            // Port taken or no network yet: try again later, checking the flag meanwhile.
            for (int waited = 0; waited < scopeAdminRetryMs() && !stop.load(); waited += kReceiveWaitMs)
                sleepMs(std::min(kReceiveWaitMs, scopeAdminRetryMs() - waited));
            continue;
        }
        while (!stop.load())
            serve(fd);
        ::close(fd);
    }
}

namespace {
std::atomic<bool> g_adminStop{false};
}

void* ScopeAdmin(void*)
{
    g_adminStop = false;
    scopeAdminRun(g_adminStop);
    return nullptr;
}

void ScopeAdminStop()
{
    g_adminStop = true;
}
