// SCPI: the bytes after the first are the input of one session, read by the interpreter thread
// with the real command tree and handlers; their requests go to a controller stand-in, which
// releases the interpreter after each, except the one the first byte names (1..15; 0: none),
// whose release it withholds until the next input, as a controller waiting for an acquisition
// that does not come. After the bytes (and a line end) the target sends a marker command that
// only it knows the argument of, and waits for it: the input has then been read whole, and no
// wait of the interpreter hung on the controller.
#include "fuzz/support.h"

#include "core/gest_db.h"
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

constexpr int kBlockTimeoutMs = 1;
// A withheld release ends the command after this bound.
constexpr int kReleaseTimeoutMs = 5;
// The marker is sent again after this long: a block announced longer than the input swallows
// it, and the resent one comes after the drain has timed out.
constexpr auto kMarkResend = std::chrono::milliseconds(3 * kBlockTimeoutMs);

// The stand-in's state: which request of the current input to withhold, and the releases owed.
std::mutex g_controllerMutex;
int g_withhold = 0;  // 1-based number of the request of this input; 0: release everything
int g_taken = 0;
int g_owed = 0;

void* withholdingController(void*)
{
    for (;;) {
        pipe_dial r{};
        if (o_g_consMessageBox.receive(&r, true, 0) != 0)
            continue;
        if (r.kind == REQ_SET_PARAM && r.code == param::deviceError)
            data.deviceError = static_cast<int16_t>(r.intValue);
        bool release = true;
        {
            std::lock_guard<std::mutex> lock(g_controllerMutex);
            if (++g_taken == g_withhold) {
                ++g_owed;
                release = false;
            }
        }
        if (release)
            scpi_SemP();
    }
    return nullptr;
}

// Before each input: the releases withheld during the last one come, late; then the next one
// to withhold.
void nextInput(int withhold)
{
    std::lock_guard<std::mutex> lock(g_controllerMutex);
    for (; g_owed > 0; --g_owed)
        scpi_SemP();
    g_taken = 0;
    g_withhold = withhold;
}

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
        pthread_t controller;
        if (startThread(&controller, withholdingController, nullptr, 50, true, "ctl") != 0)
            fuzzFailure("cannot start the controller stand-in");
        // No acquisition thread: the acquisition stands between two cycles for ever.
        b_g_acqSuspended = 1;
        // A block announced longer than the input is drained until the client falls silent.
        setScpiBlockTimeoutMs(kBlockTimeoutMs);
        setScpiReleaseTimeoutMs(kReleaseTimeoutMs);
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
    if (size == 0)
        return 0;
    TScpiMemorySession* s = session();
    mark = mark == INT32_MAX ? 0x2A000000 : mark + 1;
    nextInput(bytes[0] & 0x0F);
    s->send(reinterpret_cast<const char*>(bytes + 1), size - 1);
    const std::string tail = "\nfuzzmarkzzz " + std::to_string(mark) + "\n";
    s->send(tail);

    // Far above every bound of the interpreter's waits: only a hang gets here.
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
