// Discovery datagrams: the bytes are one datagram, cut as the responder reads it, checked and
// answered with a fixed MAC text (the exact addressee and "+" both reach the commands).
#include "fuzz/support.h"

#include "network/ScopeAdmin.h"

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const std::string kMac = "02-00-5e-10-00-01";
    TAdminRequest request;
    if (!scopeAdminParse(bytes, std::min(size, kAdminReceiveMax), &request))
        return 0;
    std::string reply;
    pipe_dial record{};
    bool posted = false;
    if (scopeAdminAnswer(request, kMac, &reply, &record, &posted)) {
        if (reply.size() < kAdminHeaderSize + 1 || reply.compare(0, kAdminHeaderSize, scopeAdminHeader, kAdminHeaderSize) != 0)
            fuzzFailure("a reply without the header");
        if (reply.size() > kAdminHeaderSize + 1 + 20 * (kAdminFieldMax + 1) + 200)
            fuzzFailure("a reply longer than its request could make it");
    } else if (posted) {
        fuzzFailure("a request posted for an unanswered datagram");
    }
    return 0;
}
