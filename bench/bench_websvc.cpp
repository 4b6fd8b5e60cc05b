// The web service: dispatch and query parsing in process (ns per request, no heap allocation per
// request), round trips of "/nothing" over loopback UDP against a running benchview and against the
// plain echo program (bench/support/echo_server.cpp, a process of its own like benchview), by the
// same client code in alternating rounds (target: at least half the echo program's rate, ratio
// of the median rounds), and a 120000-byte reply
// through wsResponseSend against three plain sendto calls (target: at least half the plain rate).
//
// The program is taken from $BENCHVIEW_EXE, else the one built with this benchmark.
#include "bench/support/allocation_counter.h"
#include "bench/support/benchsupport.h"
#include "network/pelanodeInterface.h"

#include <benchmark/benchmark.h>

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
#include <new>
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

constexpr double kTargetShare = 0.5;
enum TTarget : int { kEcho = 0, kBenchview = 1 };
enum TSend : int { kPlain = 0, kChunked = 1 };

// ---- in process ----------------------------------------------------------------------------

// A typical handler: four keys looked up.
void parsingHandler(TWsReq* req)
{
    for (const char* key : {"p0", "p1", "p2", "p3"})
        benchmark::DoNotOptimize(wsParser(req, key));
}

void BM_DispatchAndParse(benchmark::State& state)
{
    static TWsCallback table[kWsCallbackRows];
    for (int i = 0; i < kWsCallbackRows; ++i)
        table[i] = {wsCallback[i].name, wsCallback[i].nameLength, parsingHandler};
    static TWsReq req;
    const char request[] = "/horizontalScope?o=1234567&p0=1&p1=0.000125&p2=+&p3=-2.5&x=1";  // 60 bytes
    std::memset(&req, 0, sizeof req);
    std::memcpy(req.buffer, request, sizeof request - 1);
    req.received = sizeof request - 1;
    const long before = g_allocations.load();
    for (auto _ : state)
        wsServeDatagram(&req, table, kWsCallbackRows);
    state.counters["allocs_per_request"] =
        static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DispatchAndParse);

// ---- sockets -------------------------------------------------------------------------------

int udpSocket(sockaddr_in* addr)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    *addr = sockaddr_in{};
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof *addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(addr), sizeof *addr) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(addr), &len) != 0)
        return -1;
    return fd;
}

// One datagram within the time-out; its size, or -1.
ssize_t receiveOne(int fd, char* buf, size_t size, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return -1;
    return ::recv(fd, buf, size, 0);
}

struct TTargets {
    benchsupport::TProgram program;
    benchsupport::TEchoProgram echo;
    int ports[2] = {0, 0};
    int clients[2] = {-1, -1};  // connected to each target
    bool ok = false;
};

TTargets* g_targets = nullptr;

int connectedClient(int port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return -1;
    return fd;
}

bool roundTrip(int fd)
{
    char buf[16];
    return ::send(fd, "/nothing", 8, 0) == 8 && receiveOne(fd, buf, sizeof buf, 2000) == 3 && std::memcmp(buf, "-1,", 3) == 0;
}

TTargets& targets()
{
    static TTargets* t = [] {
        auto* t = new TTargets();
        g_targets = t;
        if (benchsupport::startEchoProgram(&t->echo, "udp", "-1,"))
            t->ports[kEcho] = t->echo.port;
        if (t->ports[kEcho] <= 0 || !benchsupport::startProgram(&t->program, {"BENCHVIEW_SCPI_LOOPBACK_ONLY=1",
                                                                                "BENCHVIEW_HTTP_LOOPBACK_ONLY=1",
                                                                                "BENCHVIEW_WS_LOOPBACK_ONLY=1"}))
            return t;
        t->ports[kBenchview] = kWsPort + t->program.portOffset;
        for (int target : {kEcho, kBenchview})
            t->clients[target] = connectedClient(t->ports[target]);
        if (t->clients[kEcho] < 0 || t->clients[kBenchview] < 0)
            return t;
        // Start-up of the whole program on a loaded machine; until the port is bound the
        // connected socket reports the refusal at once.
        for (int i = 0; i < 300 && !t->ok; ++i) {
            t->ok = roundTrip(t->clients[kBenchview]);
            if (!t->ok)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (!t->ok)
            std::fprintf(stderr, "benchview does not answer on UDP port %d\n", t->ports[kBenchview]);
        return t;
    }();
    return *t;
}

constexpr int kRounds = 7;
constexpr int kRoundTripsPerRound = 3000;

// Rounds alternating between the echo program and benchview.
void BM_NothingRoundTrip(benchmark::State& state)
{
    TTargets& t = targets();
    if (!t.ok) {
        state.SkipWithError("no target to query");
        return;
    }
    benchsupport::TRoundFigures f;
    for (auto _ : state) {
        const bool ok = benchsupport::alternateRounds(kRounds, [&](int target) -> long {
            for (int i = 0; i < kRoundTripsPerRound; ++i)
                if (!roundTrip(t.clients[target]))
                    return -1;
            return kRoundTripsPerRound;
        }, &f);
        if (!ok) {
            state.SkipWithError("no reply");
            return;
        }
    }
    state.counters["echo_per_s"] = f.baseline;
    state.counters["benchview_per_s"] = f.subject;
    state.counters["ratio"] = f.ratio();
}
BENCHMARK(BM_NothingRoundTrip)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// 120000 bytes to a loopback client, received there; plain sendto calls against wsResponseSend.
void BM_ChunkedReply(benchmark::State& state)
{
    static std::vector<char> reply(120000, 'r');
    static std::vector<char> in(70000);
    sockaddr_in serverAddr{};
    sockaddr_in clientAddr{};
    const int server = udpSocket(&serverAddr);
    const int client = udpSocket(&clientAddr);
    if (server < 0 || client < 0) {
        state.SkipWithError("no sockets");
        return;
    }
    static TWsReq req;
    req.socket = server;
    req.peer = clientAddr;
    req.peerLength = sizeof clientAddr;
    const bool chunked = state.range(0) == kChunked;
    const size_t sizes[] = {50000, 50000, 20000};
    for (auto _ : state) {
        if (chunked) {
            wsResponseSend(&req, reply.data(), static_cast<int32_t>(reply.size()));
        } else {
            size_t offset = 0;
            for (size_t size : sizes) {
                ::sendto(server, reply.data() + offset, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&clientAddr),
                         sizeof clientAddr);
                offset += size;
            }
        }
        size_t got = 0;
        for (int i = 0; i < 3; ++i) {
            const ssize_t n = receiveOne(client, in.data(), in.size(), 1000);
            if (n > 0)
                got += static_cast<size_t>(n);
        }
        if (got != reply.size()) {
            state.SkipWithError("reply lost");
            break;
        }
    }
    ::close(server);
    ::close(client);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
    state.SetLabel(chunked ? "wsResponseSend" : "plain sendto");
}
BENCHMARK(BM_ChunkedReply)->Arg(kPlain)->Arg(kChunked)->UseRealTime()->MinTime(0.5);

double g_plainRate = 0.0;

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        if (run.error_occurred) {
            c.check(false, "a benchmark failed (%.0f)", 0.0);
            return;
        }
        const double seconds = benchsupport::realTime(run, benchmark::kSecond);
        if (name.rfind("BM_DispatchAndParse", 0) == 0) {
            std::printf("dispatch and four keys: %.0f ns per request (reported)\n", seconds * 1e9);
            c.check(run.counters.at("allocs_per_request").value == 0.0, "heap allocations per request: %.3f (target 0)",
                    run.counters.at("allocs_per_request").value);
        } else if (name.rfind("BM_NothingRoundTrip", 0) == 0) {
            const double echo = run.counters.at("echo_per_s").value;
            const double rate = run.counters.at("benchview_per_s").value;
            std::printf("echo program: %.0f, benchview /nothing: %.0f round trips/s (medians of %d alternating "
                        "rounds, reported)\n", echo, rate, kRounds);
            c.check(echo > 0.0 && rate >= kTargetShare * echo,
                    "benchview /nothing at %.2f of the echo program's rate (target 0.5)", echo > 0.0 ? rate / echo : 0.0);
        } else if (name.rfind("BM_ChunkedReply", 0) == 0) {
            const double rate = 120000.0 / seconds / 1e6;
            if (run.report_label == "plain sendto") {
                g_plainRate = rate;
                std::printf("plain sendto: %.0f MB/s (reported)\n", rate);
                return;
            }
            std::printf("wsResponseSend: %.0f MB/s (reported)\n", rate);
            c.check(g_plainRate > 0.0 && rate >= kTargetShare * g_plainRate,
                    "wsResponseSend at %.2f of the plain rate (target 0.5)", g_plainRate > 0.0 ? rate / g_plainRate : 0.0);
        }
    });
    if (g_targets) {
        benchsupport::stopProgram(&g_targets->program);
        benchsupport::stopEchoProgram(&g_targets->echo);
    }
    return status;
}
