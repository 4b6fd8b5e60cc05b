// SCPI over loopback TCP: synchronous "*ESE?" queries against a running benchview and, in the
// same run, against the plain echo program (bench/support/echo_server.cpp, a process of its own
// like benchview) answering with a reply of the same size, driven by the same client code in
// alternating rounds. Targets: at least 5000 queries/s from benchview, and at least half the
// echo program's rate (ratio of the median rounds). Also reported: p50/p99 latency and the total
// rate of four clients.
//
// The program is taken from $BENCHVIEW_EXE, else the one built with this benchmark.
#include "bench/support/benchsupport.h"
#include "bench/support/sendall.h"
#include "board/board.h"
#include "scpi/io.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr double kTargetQueriesPerSecond = 5000.0;
constexpr double kTargetShareOfEcho = 0.5;
constexpr int kClients = 4;
constexpr int kQueriesPerClient = 2000;
const char kQuery[] = "*ESE?\n";

enum TTarget : int { kEcho = 0, kBenchview = 1 };

// ---- plain blocking socket helpers ----------------------------------------------------------

// Reads exactly len bytes; false on end of stream, error or time-out.
bool readExactly(int fd, char* out, size_t len, int timeoutMs)
{
    while (len > 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        ssize_t n = ::read(fd, out, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// ---- the two targets, each with kClients connections opened once --------------------------

struct TTargets {
    benchsupport::TProgram program;
    int port = 0;  // benchview's SCPI port
    benchsupport::TEchoProgram echo;
    std::string reply;  // benchview's answer to the query; the echo server sends the same size
    int connections[2][kClients] = {{-1, -1, -1, -1}, {-1, -1, -1, -1}};
    bool ok = false;
};

TTargets* g_targets = nullptr;

TTargets& targets()
{
    static TTargets* t = [] {
        auto* t = new TTargets();
        if (!benchsupport::startProgram(&t->program, {"BENCHVIEW_SCPI_LOOPBACK_ONLY=1"}))
            return t;
        t->port = kScpiPort + t->program.portOffset;
        // Start-up of the whole program (FPGA load, self test) on a loaded machine.
        int first = benchsupport::connectLoopback(t->port, 60000);
        if (first < 0) {
            std::fprintf(stderr, "benchview does not listen on port %d\n", t->port);
            return t;
        }
        t->connections[kBenchview][0] = first;
        char buf[64];
        if (!benchsupport::sendAll(first, kQuery, sizeof kQuery - 1))
            return t;
        // The reply ends with "\n\r"; read it byte by byte once.
        std::string reply;
        while (reply.size() < sizeof buf &&
               (reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\n\r") != 0) &&
               readExactly(first, buf, 1, 20000))
            reply += buf[0];
        if (reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\n\r") != 0) {
            std::fprintf(stderr, "no reply to %s", kQuery);
            return t;
        }
        t->reply = reply;
        for (int i = 1; i < kClients; ++i) {
            t->connections[kBenchview][i] = benchsupport::connectLoopback(t->port, 10000);
            if (t->connections[kBenchview][i] < 0)
                return t;
        }
        if (!benchsupport::startEchoProgram(&t->echo, "tcp", reply))
            return t;
        for (int i = 0; i < kClients; ++i) {
            t->connections[kEcho][i] = benchsupport::connectLoopback(t->echo.port, 10000);
            if (t->connections[kEcho][i] < 0)
                return t;
        }
        t->ok = true;
        return t;
    }();
    g_targets = t;
    return *t;
}

// One synchronous query: false when the reply is not the expected one in time.
bool query(int fd, const std::string& reply)
{
    char buf[64];
    return benchsupport::sendAll(fd, kQuery, sizeof kQuery - 1) && readExactly(fd, buf, reply.size(), 20000) &&
           std::memcmp(buf, reply.data(), reply.size()) == 0;
}

double percentile(std::vector<double>& samples, double p)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(i, samples.size() - 1)];
}

constexpr int kRounds = 7;
constexpr int kQueriesPerRound = 2000;

// One client, rounds alternating between the echo program and benchview.
void BM_EseQuery(benchmark::State& state)
{
    TTargets& t = targets();
    if (!t.ok) {
        state.SkipWithError("no target to query");
        return;
    }
    std::vector<double> latencies[2];
    benchsupport::TRoundFigures f;
    for (auto _ : state) {
        const bool ok = benchsupport::alternateRounds(kRounds, [&](int target) -> long {
            const int fd = t.connections[target][0];
            for (int i = 0; i < kQueriesPerRound; ++i) {
                const auto start = std::chrono::steady_clock::now();
                if (!query(fd, t.reply))
                    return -1;
                latencies[target].push_back(
                    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
            }
            return kQueriesPerRound;
        }, &f);
        if (!ok) {
            state.SkipWithError("no reply");
            return;
        }
    }
    state.counters["echo_qps"] = f.baseline;
    state.counters["benchview_qps"] = f.subject;
    state.counters["ratio"] = f.ratio();
    state.counters["echo_p50_us"] = percentile(latencies[kEcho], 0.50);
    state.counters["p50_us"] = percentile(latencies[kBenchview], 0.50);
    state.counters["p99_us"] = percentile(latencies[kBenchview], 0.99);
}
BENCHMARK(BM_EseQuery)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Four clients at once, each issuing its queries synchronously; rounds alternate likewise.
void BM_EseFourClients(benchmark::State& state)
{
    TTargets& t = targets();
    if (!t.ok) {
        state.SkipWithError("no target to query");
        return;
    }
    benchsupport::TRoundFigures f;
    for (auto _ : state) {
        const bool ok = benchsupport::alternateRounds(3, [&](int target) -> long {
            std::atomic<bool> failed{false};
            std::vector<std::thread> clients;
            for (int c = 0; c < kClients; ++c) {
                clients.emplace_back([&, c] {
                    for (int i = 0; i < kQueriesPerClient && !failed; ++i)
                        if (!query(t.connections[target][c], t.reply))
                            failed = true;
                });
            }
            for (std::thread& c : clients)
                c.join();
            return failed ? -1 : long{kClients} * kQueriesPerClient;
        }, &f);
        if (!ok) {
            state.SkipWithError("no reply");
            return;
        }
    }
    state.counters["echo_qps"] = f.baseline;
    state.counters["benchview_qps"] = f.subject;
    state.counters["ratio"] = f.ratio();
}
BENCHMARK(BM_EseFourClients)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        if (run.error_occurred) {
            c.check(false, "a benchmark failed (%.0f)", 0.0);
            return;
        }
        const double echo = benchsupport::counter(run, "echo_qps");
        const double rate = benchsupport::counter(run, "benchview_qps");
        if (name.rfind("BM_EseQuery", 0) == 0) {
            std::printf("echo program: %.0f queries/s, p50 %.1f us; benchview: %.0f queries/s, p50 %.1f us, "
                        "p99 %.1f us (medians of %d alternating rounds, reported)\n",
                        echo, benchsupport::counter(run, "echo_p50_us"), rate, benchsupport::counter(run, "p50_us"), benchsupport::counter(run, "p99_us"),
                        kRounds);
            c.check(rate >= kTargetQueriesPerSecond, "benchview *ESE? %.0f queries/s (target 5000)", rate);
            c.check(rate >= kTargetShareOfEcho * echo, "benchview *ESE? at %.2f of the echo program's rate (target 0.5)",
                    echo > 0.0 ? rate / echo : 0.0);
        } else if (name.rfind("BM_EseFourClients", 0) == 0) {
            std::printf("four clients: echo program %.0f, benchview %.0f queries/s in total, ratio %.2f (reported)\n",
                        echo, rate, echo > 0.0 ? rate / echo : 0.0);
        }
    });
    if (g_targets) {
        benchsupport::stopProgram(&g_targets->program);
        benchsupport::stopEchoProgram(&g_targets->echo);
    }
    return status;
}
