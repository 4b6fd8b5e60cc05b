// SCPI over loopback TCP: synchronous "*ESE?" queries against a running benchview and, in the
// same run, against a minimal echo server of our own that answers with a reply of the same
// size. Targets: at least 5000 queries/s from benchview, and at least half the echo server's
// rate. Also reported: p50/p99 latency and the total rate of four clients.
//
// The program is taken from $BENCHVIEW_EXE, else the one built with this benchmark.
#include "bench/support/benchsupport.h"
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

// ---- the echo server: one reply of the same size per line ----------------------------------

struct TEchoServer {
    int listenFd = -1;
    int port = 0;
    std::string reply;
};

void serveEcho(int fd, const std::string* reply)
{
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == '\n' && !benchsupport::sendAll(fd, reply->data(), reply->size()))
                break;
    }
    ::close(fd);
}

// Started once; lives with the process.
TEchoServer* startEcho(const std::string& reply)
{
    auto* s = new TEchoServer();
    s->reply = reply;
    s->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (s->listenFd < 0 || ::bind(s->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(s->listenFd, 8) != 0 || ::getsockname(s->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return nullptr;
    s->port = ntohs(addr.sin_port);
    std::thread([s] {
        for (;;) {
            int fd = ::accept4(s->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return;
            }
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::thread(serveEcho, fd, &s->reply).detach();
        }
    }).detach();
    return s;
}

// ---- the two targets, each with kClients connections opened once --------------------------

struct TTargets {
    benchsupport::TProgram program;
    int port = 0;  // benchview's SCPI port
    TEchoServer* echo = nullptr;
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
        t->echo = startEcho(reply);
        if (!t->echo)
            return t;
        for (int i = 0; i < kClients; ++i) {
            t->connections[kEcho][i] = benchsupport::connectLoopback(t->echo->port, 10000);
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

void BM_EseQuery(benchmark::State& state)
{
    TTargets& t = targets();
    if (!t.ok) {
        state.SkipWithError("no target to query");
        return;
    }
    const int fd = t.connections[state.range(0)][0];
    std::vector<double> latencies;
    latencies.reserve(1 << 16);
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!query(fd, t.reply)) {
            state.SkipWithError("no reply");
            break;
        }
        if (latencies.size() < latencies.capacity())
            latencies.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["p50_us"] = percentile(latencies, 0.50);
    state.counters["p99_us"] = percentile(latencies, 0.99);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) == kEcho ? "echo server" : "benchview");
}
BENCHMARK(BM_EseQuery)->Arg(kEcho)->Arg(kBenchview)->UseRealTime()->MinTime(1.0);

// Four clients at once, each issuing its queries synchronously; one iteration is the lot.
void BM_EseFourClients(benchmark::State& state)
{
    TTargets& t = targets();
    if (!t.ok) {
        state.SkipWithError("no target to query");
        return;
    }
    const int target = static_cast<int>(state.range(0));
    for (auto _ : state) {
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
        if (failed) {
            state.SkipWithError("no reply");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kClients * kQueriesPerClient);
    state.SetLabel(target == kEcho ? "echo server" : "benchview");
}
BENCHMARK(BM_EseFourClients)->Arg(kEcho)->Arg(kBenchview)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

double g_echoRate = 0.0;

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        if (run.error_occurred)
            return;
        const bool echo = run.report_label == "echo server";
        const char* who = echo ? "echo server" : "benchview";
        if (name.rfind("BM_EseQuery", 0) == 0) {
            const double rate = 1.0 / benchsupport::realTime(run, benchmark::kSecond);
            std::printf("%s: %.0f queries/s, p50 %.1f us, p99 %.1f us (reported)\n", who, rate,
                        run.counters.at("p50_us").value, run.counters.at("p99_us").value);
            if (echo) {
                g_echoRate = rate;
                return;
            }
            c.check(rate >= kTargetQueriesPerSecond, "benchview *ESE? %.0f queries/s (target 5000)", rate);
            if (g_echoRate > 0.0)
                c.check(rate >= kTargetShareOfEcho * g_echoRate,
                        "benchview *ESE? at %.2f of the echo server's rate (target 0.5)", rate / g_echoRate);
            else
                c.check(false, "echo server not measured (%.0f)", 0.0);
        } else if (name.rfind("BM_EseFourClients", 0) == 0) {
            const double rate = kClients * kQueriesPerClient / benchsupport::realTime(run, benchmark::kSecond);
            std::printf("%s, four clients: %.0f queries/s in total (reported)\n", who, rate);
        }
    });
    if (g_targets)
        benchsupport::stopProgram(&g_targets->program);
    return status;
}
