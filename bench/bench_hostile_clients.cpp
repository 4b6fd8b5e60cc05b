// Load check of the remote interfaces against hostile clients, on a running benchview:
//  - SCPI churn: rounds of six clients that send fifty "*IDN?" and close without reading, each
//    followed at once by a normal client; clients per second held, normal replies lost (none);
//  - SCPI beside a client that floods queries and never reads: the worst wait of a normal
//    query (target 1.2 s: a query that comes while the interpreter waits on the silent
//    client's full queue waits until that client is dropped, at most 1 s), replies lost (none);
//  - HTTP beside sixteen connections trickling header lines: time until a GET is served
//    (target: the header time plus 1 s), then GETs lost (none).
//
// The program is taken from $BENCHVIEW_EXE, else the one built with this benchmark.
#include "bench/support/benchsupport.h"
#include "network/serverHTTP.h"
#include "scpi/io.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kHeaderTimeoutMs = 2000;
constexpr int kChurnRounds = 100;
constexpr double kTargetChurnClientsPerSecond = 100.0;
constexpr double kTargetWaitBesideSilentMs = kScpiReplyStallMs + 200.0;
constexpr int kSilentRounds = 20;
constexpr int kGetsAfterTricklers = 50;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool sendAll(int fd, const std::string& data)
{
    return benchsupport::sendAll(fd, data.data(), data.size());
}

// Reads until the text holds `until`; false on end, error or time-out.
bool readUntil(int fd, const char* until, int timeoutMs, std::string* text = nullptr)
{
    std::string local;
    std::string& got = text ? *text : local;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.find(until) == std::string::npos) {
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            return false;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        got.append(buf, static_cast<size_t>(n));
    }
    return true;
}

std::string idnQueries(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "*IDN?\n";
    return text;
}

// One normal SCPI client: connects, asks once, reads its reply. False when the reply is lost.
bool normalScpiClient(int port, double* waitedMs)
{
    const auto start = Clock::now();
    int fd = benchsupport::connectLoopback(port, 5000);
    bool ok = fd >= 0 && sendAll(fd, "*IDN?\n") && readUntil(fd, "\n\r", 5000);
    if (waitedMs)
        *waitedMs = msSince(start);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

struct TTarget {
    benchsupport::TProgram program;
    int scpiPort = 0;
    int httpPort = 0;
    bool ok = false;
};

TTarget* g_target = nullptr;

TTarget& target()
{
    static TTarget* t = [] {
        auto* t = new TTarget();
        g_target = t;
        if (!benchsupport::startProgram(&t->program,
                                        {"BENCHVIEW_SCPI_LOOPBACK_ONLY=1", "BENCHVIEW_HTTP_LOOPBACK_ONLY=1",
                                         "BENCHVIEW_HTTP_HEADER_TIMEOUT_MS=" + std::to_string(kHeaderTimeoutMs)}))
            return t;
        t->scpiPort = kScpiPort + t->program.portOffset;
        t->httpPort = kHttpPort + t->program.portOffset;
        // Start-up of the whole program on a loaded machine.
        int first = benchsupport::connectLoopback(t->scpiPort, 60000);
        if (first < 0) {
            std::fprintf(stderr, "benchview does not listen on port %d\n", t->scpiPort);
            return t;
        }
        t->ok = sendAll(first, "*IDN?\n") && readUntil(first, "\n\r", 20000);
        ::close(first);
        return t;
    }();
    return *t;
}

void BM_ScpiChurn(benchmark::State& state)
{
    TTarget& t = target();
    if (!t.ok) {
        state.SkipWithError("no program to load");
        return;
    }
    int lost = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        for (int round = 0; round < kChurnRounds; ++round) {
            for (int i = 0; i < 6; ++i) {
                int fast = benchsupport::connectLoopback(t.scpiPort, 5000);
                if (fast < 0)
                    continue;
                sendAll(fast, idnQueries(50));
                ::close(fast);
            }
            lost += normalScpiClient(t.scpiPort, nullptr) ? 0 : 1;
        }
    }
    const double seconds = msSince(start) / 1000.0;
    state.counters["clients_per_s"] = 7.0 * kChurnRounds * static_cast<double>(state.iterations()) / seconds;
    state.counters["lost"] = lost;
}
BENCHMARK(BM_ScpiChurn)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ScpiBesideSilentClient(benchmark::State& state)
{
    TTarget& t = target();
    if (!t.ok) {
        state.SkipWithError("no program to load");
        return;
    }
    int lost = 0;
    double worst = 0.0;
    for (auto _ : state) {
        int silent = benchsupport::connectLoopback(t.scpiPort, 5000, 2048);
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            const std::string burst = idnQueries(1000);
            while (!stop && sendAll(silent, burst)) {
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        for (int i = 0; i < kSilentRounds; ++i) {
            double waited = 0.0;
            lost += normalScpiClient(t.scpiPort, &waited) ? 0 : 1;
            worst = std::max(worst, waited);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        stop = true;
        ::shutdown(silent, SHUT_RDWR);
        flood.join();
        ::close(silent);
    }
    state.counters["worst_ms"] = worst;
    state.counters["lost"] = lost;
}
BENCHMARK(BM_ScpiBesideSilentClient)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

bool httpGet(int port)
{
    int fd = benchsupport::connectLoopback(port, 1000);
    bool ok = fd >= 0 && sendAll(fd, "GET /favicon.ico HTTP/1.1\r\n\r\n");
    std::string reply;
    ok = ok && readUntil(fd, "\r\n\r\n", 2000, &reply) && reply.compare(0, 12, "HTTP/1.1 200") == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

void BM_HttpBesideTricklers(benchmark::State& state)
{
    TTarget& t = target();
    if (!t.ok) {
        state.SkipWithError("no program to load");
        return;
    }
    double servedAfter = -1.0;
    int lost = 0;
    for (auto _ : state) {
        std::vector<int> slow;
        for (int i = 0; i < kHttpMaxSessions; ++i) {
            int fd = benchsupport::connectLoopback(t.httpPort, 5000);
            if (fd >= 0 && sendAll(fd, "GET /index.html HTTP/1.1\r\n"))
                slow.push_back(fd);
        }
        const auto start = Clock::now();
        while (servedAfter < 0.0 && msSince(start) < 4.0 * kHeaderTimeoutMs) {
            for (int fd : slow)
                sendAll(fd, "X-Trickle: 0123456789\r\n");
            if (httpGet(t.httpPort))
                servedAfter = msSince(start);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        for (int i = 0; i < kGetsAfterTricklers; ++i)
            lost += httpGet(t.httpPort) ? 0 : 1;
        for (int fd : slow)
            ::close(fd);
    }
    state.counters["served_after_ms"] = servedAfter;
    state.counters["lost"] = lost;
}
BENCHMARK(BM_HttpBesideTricklers)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        if (run.error_occurred)
            return;
        const std::string name = run.benchmark_name();
        const double lost = run.counters.at("lost").value;
        if (name.rfind("BM_ScpiChurn", 0) == 0) {
            const double rate = run.counters.at("clients_per_s").value;
            c.check(rate >= kTargetChurnClientsPerSecond, "SCPI churn: %.0f clients/s held (target 100)", rate);
            c.check(lost == 0.0, "SCPI churn: %.0f normal replies lost (target none)", lost);
        } else if (name.rfind("BM_ScpiBesideSilentClient", 0) == 0) {
            c.record("SCPI beside a silent client: worst query", run.counters.at("worst_ms").value,
                     kTargetWaitBesideSilentMs, "ms", 0);
            c.check(lost == 0.0, "SCPI beside a silent client: %.0f replies lost (target none)", lost);
        } else if (name.rfind("BM_HttpBesideTricklers", 0) == 0) {
            const double after = run.counters.at("served_after_ms").value;
            c.record("HTTP beside sixteen tricklers: first GET served after", after, kHeaderTimeoutMs + 1000.0, "ms", 0,
                     after < 0.0);
            c.check(lost == 0.0, "HTTP after the tricklers: %.0f GETs lost (target none)", lost);
        }
    });
    if (g_target)
        benchsupport::stopProgram(&g_target->program);
    return status;
}
