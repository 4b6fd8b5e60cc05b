// Web service: the bytes are one datagram, served through the whole request table, stand-in
// rows included, so each handler is fuzzed from the day it lands. Replies go to a loopback
// socket of the target's own and are dropped; the settings posted are taken off the
// controller's inbox after each datagram.
#include "fuzz/support.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "network/pelanodeInterface.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <unistd.h>

namespace {

TWsReq* request()
{
    static TWsReq* req = [] {
        fuzzStartup();
        wsServiceInit();
        auto* r = new TWsReq{};
        r->socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (r->socket < 0 || ::bind(r->socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(r->socket, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            fuzzFailure("cannot open the reply socket");
        // Replies are sent to the socket itself; it is never read, so they are dropped.
        const int small = 4096;
        ::setsockopt(r->socket, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        r->local = addr;
        r->localLength = length;
        return r;
    }();
    return req;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    request();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    TWsReq* req = request();
    // As the service receives it: at most kWsDatagramMax bytes kept, the full length known.
    std::memset(req->buffer, 0, sizeof req->buffer);
    std::memcpy(req->buffer, bytes, std::min<size_t>(size, kWsDatagramMax));
    req->received = static_cast<int32_t>(std::min<size_t>(size, INT32_MAX));
    req->peer = req->local;
    req->peerLength = req->localLength;
    wsServeDatagram(req, wsCallback, kWsCallbackRows);
    // The key readers every handler builds on, on the same datagram (the handlers that exist
    // today may not call them all).
    wsParser(req, "k");
    SetWsParamDirect(req, "p", param::horizPosition, 0);
    SetWsFloatDirect(req, "f", param::horizPosition, 0.0);
    SetWsStringDirect(req, "s", param::mathExprCh1, "");
    SetWsParamIndirect(req, "i", param::horizPosition, 0, 1e-3, 7);
    int32_t number = 0;
    double real = 0.0;
    char text[100];
    wsKeyInteger(req, "n", &number);
    wsKeyReal(req, "r", &real);
    wsKeyScaled(req, "c", -8e-9, -5, &number);
    wsKeySelector(req, "channel", &number);
    wsKeyText(req, "t", text, sizeof text, false);
    wsKeyText(req, "e", text, sizeof text, true);

    pipe_dial posted;
    while (!o_g_consMessageBox.empty())
        o_g_consMessageBox.receive(&posted, true, 0);
    return 0;
}
