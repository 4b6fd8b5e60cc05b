// Stand-in for the acquisition threads until they exist. The real-time companion honours the
// suspend hand-shake through the handshake helpers (parks on a stop, waits for a resume with 1
// or 2, consumes the word as arming would); acquisit takes each order, suspends the companion,
// answers the controller's orders with REQ_ACQ_DONE and resumes with 1.
#include "acquisition/acquisit.h"
#include "acquisition/acquisit_standin.h"

#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/handshake.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
struct TShared {
    std::mutex mutex;
    std::condition_variable changed;
    TAcquisitStandinState state;
};

TShared& shared()
{
    static auto* s = new TShared();
    return *s;
}

template <typename F>
void update(F f)
{
    auto& s = shared();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        f(s.state);
    }
    s.changed.notify_all();
}
} // namespace

TAcquisitStandinState acquisitStandinState()
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    return shared().state;
}

bool acquisitStandinWait(const std::function<bool(const TAcquisitStandinState&)>& until, int timeoutMs)
{
    auto& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return until(s.state); });
}

void* startacq(void*)
{
    for (;;) {
        // A cycle runs until a stop request arrives.
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        while (!(o_g_synchroAcqDetail & SYNCHRO_STOP))
            pthread_cond_wait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex);
        pthread_mutex_unlock(&o_g_synchroAcqMutex);

        // Between two cycles.
        update([](TAcquisitStandinState& st) { ++st.parks; });
        const uint64_t stamp = AcqParkBetweenCycles();
        const uint32_t detail = AcqWaitForResume(false, stamp);

        // Arming the next cycle consumes the word, unless a stop came in meanwhile.
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        if (!(o_g_synchroAcqDetail & SYNCHRO_STOP))
            o_g_synchroAcqDetail = SYNCHRO_NONE;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        // Recorded once running again, so an observer that saw it can rely on the next stop.
        update([detail](TAcquisitStandinState& st) { st.resumes.push_back(detail); });
    }
    return nullptr;
}

void* acquisit(void*)
{
    if (RTAC_id == 0)
        startThread(&RTAC_id, startacq, nullptr, 15, true, "startacq");
    for (;;) {
        TLongArray order{};
        if (o_g_acquMessageBox.receive(&order, true, 0) != 0)
            continue;
        update([&order](TAcquisitStandinState& st) { st.orders.push_back(order); });
        AcqSuspend();
        if (isSender(order.senderId, COMM_id)) {
            pipe_dial done{REQ_ACQ_DONE, 0, 100000, static_cast<intptr_t>(data.channelFlags & 0xF), 0.0f,
                           senderValue(ACQU_id)};
            o_g_consMessageBox.send(&done);
        }
        AcqResume(SYNCHRO_TIMEBASE_CHANGE);
    }
    return nullptr;
}
