// SCPI: the bytes are the input of one session, read by the interpreter thread with the real
// command tree and handlers; their requests go to the controller stand-in, which releases the
// interpreter. After the bytes (and a line end) the target sends a marker command that only it
// knows the argument of, and waits for it: the input has then been read whole.
#include "fuzz/support.h"

#include "core/process.h"
#include "core/requests.h"
#include "hardware/handshake.h"
#include "scpi/Arbre.h"
#include "scpi/blockdata.h"
#include "scpi/io.h"
#include "scpi/params.h"
#include "scpi/scpi.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int kBlockTimeoutMs = 50;
// The marker is sent again after this long: a block announced longer than the input swallows
// it, and the resent one comes after the drain has timed out.
constexpr auto kMarkResend = std::chrono::milliseconds(4 * kBlockTimeoutMs);

std::mutex g_markMutex;
std::condition_variable g_markCond;
int32_t g_markSeen = -1;

int hFuzzMark(indic*, char* area, pipe_dial*, int16_t* requestCount)
{
    *requestCount = 0;
    std::lock_guard<std::mutex> lock(g_markMutex);
    g_markSeen = paramInt(area, 0);
    g_markCond.notify_all();
    return 0;
}

// The real tree's root with the marker beside its entries; every level below is the real one.
const node* markedTree()
{
    static node* root = [] {
        const node* real = tree();
        auto* entries = new std::vector<entry>(real->entries, real->entries + real->entryCount);
        entries->push_back(entry{1, 0, 11, 11, "fuzzmarkzzz", &hFuzzMark, "b", nullptr});
        return new node{static_cast<int16_t>(entries->size()), entries->data(), real->defaultEntry};
    }();
    return root;
}

TScpiMemorySession* session()
{
    static TScpiMemorySession* s = [] {
        fuzzStartup();
        fuzzStartController();
        // No acquisition thread: the acquisition stands between two cycles for ever.
        b_g_acqSuspended = 1;
        // A block announced longer than the input is drained until the client falls silent.
        setScpiBlockTimeoutMs(kBlockTimeoutMs);
        setScpiTree(markedTree());
        if (startThread(&SCPI_id, scpi, nullptr, 40, true, "scpi") != 0)
            fuzzFailure("cannot start the interpreter");
        // Lives with the process: the interpreter may still be bound to it.
        auto* made = new TScpiMemorySession();
        made->discardReplies(true);
        return made;
    }();
    return s;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    session();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static int32_t mark = 0x2A000000;
    TScpiMemorySession* s = session();
    mark = mark == INT32_MAX ? 0x2A000000 : mark + 1;
    s->send(reinterpret_cast<const char*>(bytes), size);
    const std::string tail = "\nfuzzmarkzzz " + std::to_string(mark) + "\n";
    s->send(tail);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::unique_lock<std::mutex> lock(g_markMutex);
    while (!g_markCond.wait_for(lock, kMarkResend, [&] { return g_markSeen == mark; })) {
        if (std::chrono::steady_clock::now() > deadline)
            fuzzFailure("the interpreter did not come back to the marker after the input");
        lock.unlock();
        s->send(tail);
        lock.lock();
    }
    return 0;
}
