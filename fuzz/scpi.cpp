// SCPI: the bytes after the first are the input of one session, read by the interpreter thread
// with the real command tree and handlers; their requests go to a controller stand-in, which
// releases the interpreter after each, except from the one the first byte names (1..15; 0:
// none): there it parks, as a controller waiting for an acquisition that does not come, and
// releases nothing more of this input. After the bytes (and a line end) the client falls silent
// and the target waits until the interpreter has read them all and ended its message: a wait
// of the interpreter that has no bound hangs there.
//
// No real time is spent on the bounds themselves: a parked request's wait is ended as its bound
// would end it, and a read with a time limit (a block announced longer than the input) ends as
// soon as the silent client's input is used up. The releases owed come, late, before the next
// input.
#include "fuzz/support.h"

#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "hardware/handshake.h"
#include "scpi/blockdata.h"
#include "scpi/io.h"
#include "scpi/scpi.h"

#include <chrono>
#include <mutex>
#include <sched.h>
#include <string>

namespace {

// Far above what any input takes: only a wait without a bound gets there.
constexpr int kHangMs = 20000;
constexpr auto kWatch = std::chrono::microseconds(100);

// The stand-in's state: which request of the current input it parks at, and the releases owed.
std::mutex g_controllerMutex;
int g_parkAt = 0;  // 1-based number of the request of this input; 0: release everything
int g_taken = 0;
int g_owed = 0;

void* parkingController(void*)
{
    for (;;) {
        pipe_dial r{};
        // The interpreter posts its next request within microseconds while an input runs:
        // watch a little before sleeping, a wake-up costs more than the request.
        const auto until = std::chrono::steady_clock::now() + kWatch;
        while (!o_g_consMessageBox.peek(&r) && std::chrono::steady_clock::now() < until)
            sched_yield();
        if (o_g_consMessageBox.receive(&r, true, 0) != 0)
            continue;
        if (r.kind == REQ_SET_PARAM && r.code == param::deviceError)
            data.deviceError = static_cast<int16_t>(r.intValue);
        bool release = true;
        {
            std::lock_guard<std::mutex> lock(g_controllerMutex);
            ++g_taken;
            if (g_parkAt != 0 && g_taken >= g_parkAt) {
                ++g_owed;
                release = false;
            }
        }
        if (release)
            scpi_SemP();
        else
            scpiEndReleaseWaits();
    }
    return nullptr;
}

// Before each input: the releases owed by the last one come, late; then where to park next.
void nextInput(int parkAt)
{
    std::lock_guard<std::mutex> lock(g_controllerMutex);
    for (; g_owed > 0; --g_owed)
        scpi_SemP();
    g_taken = 0;
    g_parkAt = parkAt;
}

TScpiMemorySession* session()
{
    static TScpiMemorySession* s = [] {
        fuzzStartup();
        pthread_t controller;
        if (startThread(&controller, parkingController, nullptr, 50, true, "ctl") != 0)
            fuzzFailure("cannot start the controller stand-in");
        // No acquisition thread: the acquisition stands between two cycles for ever.
        b_g_acqSuspended = 1;
        // Real bounds, short, in case a wait is reached that the silence or the stand-in does
        // not end at once.
        setScpiBlockTimeoutMs(1);
        setScpiReleaseTimeoutMs(5);
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
    if (size == 0)
        return 0;
    TScpiMemorySession* s = session();
    nextInput(bytes[0] & 0x0F);
    std::string input(reinterpret_cast<const char*>(bytes + 1), size - 1);
    input += '\n';
    s->send(input);
    s->fallSilent();
    if (!s->waitUntilRead(kHangMs))
        fuzzFailure("the interpreter did not finish reading the input");
    return 0;
}
