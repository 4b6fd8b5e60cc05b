#include "board/process.h"

#include "board/board.h"
#include "board/deviceio.h"
#include "board/threads.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <cstdio>
#include <strings.h>
#include <utility>
#include <vector>
#include <mutex>
#include <sched.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {
struct TThreadStart {
    void* (*function)(void*);
    void* argument;
    const char* name;
};

// The thread names itself: naming a detached thread from outside races with its end.
void* namedThread(void* p)
{
    TThreadStart start = *static_cast<TThreadStart*>(p);
    delete static_cast<TThreadStart*>(p);
    if (start.name)
        pthread_setname_np(pthread_self(), start.name);
    return start.function(start.argument);
}

std::mutex& hookMutex()
{
    static std::mutex* m = new std::mutex();
    return *m;
}
std::function<void(int)>& hookStorage()
{
    static auto* h = new std::function<void(int)>();
    return *h;
}
} // namespace

void pauseMs(int milliseconds)
{
    std::function<void(int)> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = hookStorage();
    }
    if (hook) {
        hook(milliseconds);
        return;
    }
    timespec t{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

void hardwarePauseMs(int milliseconds)
{
    if (!deviceIO().skipHardwareWait(milliseconds))
        pauseMs(milliseconds);
}

void setPauseHook(std::function<void(int)> hook)
{
    std::lock_guard<std::mutex> lock(hookMutex());
    hookStorage() = std::move(hook);
}

int priorityForShare(int minPriority, int maxPriority, int sharePercent)
{
    return minPriority + (maxPriority - minPriority) * sharePercent / 100;
}

namespace {
std::atomic<bool>& explicitScheduling()
{
    // The board's threads run at their priorities; on a desktop the inherited scheduling stays,
    // since real-time threads would starve the machine.
    static std::atomic<bool>* on = new std::atomic<bool>(!kSimulatedBoard);
    return *on;
}
std::atomic<bool> s_refusalReported{false};
} // namespace

bool explicitThreadScheduling()
{
    return explicitScheduling().load();
}

void setExplicitThreadScheduling(bool on)
{
    explicitScheduling().store(on);
    s_refusalReported.store(false);  // a refusal under the new setting is said again
}

int startThread(pthread_t* id, void* (*function)(void*), void* argument, int sharePercent, bool detached,
                const char* name)
{
    const bool explicitSchedule = explicitThreadScheduling();
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, detached ? PTHREAD_CREATE_DETACHED : PTHREAD_CREATE_JOINABLE);
    // Policy and priority are always stored; only with explicit scheduling do they take effect.
    pthread_attr_setinheritsched(&attr, explicitSchedule ? PTHREAD_EXPLICIT_SCHED : PTHREAD_INHERIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_RR);
    sched_param param{};
    param.sched_priority = priorityForShare(sched_get_priority_min(SCHED_RR), sched_get_priority_max(SCHED_RR),
                                            sharePercent);
    pthread_attr_setschedparam(&attr, &param);
    auto* start = new TThreadStart{function, argument, name};
    int rc = pthread_create(id, &attr, namedThread, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        const int refused = rc;
        pthread_attr_t plain;
        pthread_attr_init(&plain);
        pthread_attr_setdetachstate(&plain, detached ? PTHREAD_CREATE_DETACHED : PTHREAD_CREATE_JOINABLE);
        rc = pthread_create(id, &plain, namedThread, start);
        pthread_attr_destroy(&plain);
        // Said once: the system refuses every thread alike.
        if (rc == 0 && explicitSchedule && !s_refusalReported.exchange(true))
            std::fprintf(stderr,
                         "%s: round-robin thread priorities refused (%s): threads run with the default "
                         "scheduling\n",
                         program_invocation_short_name, std::strerror(refused));
    }
    if (rc != 0)
        delete start;
    return rc;
}

namespace {

struct TEndActions {
    std::mutex lock;
    std::condition_variable done;
    std::vector<std::pair<EndActionHandle, std::function<void()>>> waiting;
    EndActionHandle running = 0;
    EndActionHandle next = 1;
};

// Never destroyed: any thread may end the process.
TEndActions& endActions()
{
    static TEndActions* actions = new TEndActions;
    return *actions;
}

} // namespace

namespace {
struct TPowerOffUndos {
    std::mutex lock;
    std::vector<std::pair<std::string, std::function<bool()>>> undos;
};
TPowerOffUndos& powerOffUndos()
{
    static auto* u = new TPowerOffUndos();  // never destroyed: detached threads may register late
    return *u;
}
} // namespace

void registerPowerOffUndo(const char* name, std::function<bool()> undo, bool once)
{
    TPowerOffUndos& u = powerOffUndos();
    std::lock_guard<std::mutex> guard(u.lock);
    for (const auto& entry : u.undos)
        if (once && entry.first == name)
            return;
    u.undos.emplace_back(name, std::move(undo));
}

namespace {
struct TServiceRun {
    void* (*function)(void*);
    void* argument;
    std::function<void()> stop;
    std::atomic<bool> done{false};
    std::atomic<bool> settled{false};  // the starter has stored the thread (or its refusal)
    bool joinable = false;
    pthread_t thread{};
};

void* serviceRun(void* p)
{
    auto* run = static_cast<TServiceRun*>(p);
    run->function(run->argument);
    run->done.store(true);
    return nullptr;
}
} // namespace

int startServiceThread(pthread_t* id, void* (*function)(void*), void* argument, int sharePercent,
                       const char* name, std::function<void()> stop, int endTimeoutMs)
{
    // Freed by the undo once the thread is joined; a thread that never ends keeps it.
    auto* run = new TServiceRun{function, argument, std::move(stop)};
    registerPowerOffUndo(name, [run, endTimeoutMs] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(endTimeoutMs);
        while (!run->done.load() || !run->settled.load()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            run->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (run->joinable)
            pthread_join(run->thread, nullptr);
        delete run;
        return true;
    }, false);
    const int rc = startThread(id, serviceRun, run, sharePercent, false, name);
    if (rc != 0) {
        run->done.store(true);
    } else {
        run->thread = *id;
        run->joinable = true;
    }
    run->settled.store(true);
    return rc;
}

bool runPowerOffUndos(std::string* failed)
{
    bool ok = true;
    for (;;) {
        std::pair<std::string, std::function<bool()>> entry;
        {
            TPowerOffUndos& u = powerOffUndos();
            std::lock_guard<std::mutex> guard(u.lock);
            if (u.undos.empty())
                break;
            entry = std::move(u.undos.back());
            u.undos.pop_back();
        }
        // Outside the lock: an undo may end a thread that is registering right now.
        if (!entry.second()) {
            ok = false;
            if (failed)
                *failed += (failed->empty() ? "" : ", ") + entry.first;
        }
    }
    return ok;
}

EndActionHandle registerEndAction(std::function<void()> action)
{
    TEndActions& a = endActions();
    std::lock_guard<std::mutex> hold(a.lock);
    const EndActionHandle handle = a.next++;
    a.waiting.emplace_back(handle, std::move(action));
    return handle;
}

void removeEndAction(EndActionHandle handle)
{
    TEndActions& a = endActions();
    std::unique_lock<std::mutex> hold(a.lock);
    for (auto it = a.waiting.begin(); it != a.waiting.end(); ++it) {
        if (it->first == handle) {
            a.waiting.erase(it);
            return;
        }
    }
    a.done.wait(hold, [&] { return a.running != handle; });
}

void runEndActions()
{
    TEndActions& a = endActions();
    std::unique_lock<std::mutex> hold(a.lock);
    // Two threads ending at once: the second waits for the first, then finds nothing left.
    a.done.wait(hold, [&] { return a.running == 0; });
    while (!a.waiting.empty()) {
        auto entry = std::move(a.waiting.front());
        a.waiting.erase(a.waiting.begin());
        a.running = entry.first;
        hold.unlock();
        entry.second();
        hold.lock();
        a.running = 0;
        a.done.notify_all();
    }
}

void endProcess(int status)
{
    runEndActions();
    std::fflush(nullptr);
    _exit(status);
}

bool printVersionOption(int argc, char** argv, const char* version)
{
    if (argc != 2 || ::strcasecmp(argv[1], "-V") != 0)
        return false;
    std::printf("%s\n", version);
    return true;
}
