// The web service: dispatch and query parsing in process (ns per request, no heap allocation per
// request), round trips of "/nothing" over loopback UDP against a running benchview and against the
// plain echo program (bench/support/echo_server.cpp, a process of its own like benchview), by the
// same client code in alternating rounds (target: at least half the echo program's rate, ratio
// of the median rounds), and a 120000-byte reply
// through wsResponseSend against three plain sendto calls (target: at least half the plain rate).
// Traces: the largest "/tracesScope" reply (ten traces, about 100 KB) built in process against a
// plain memcpy of as many bytes (target: at most 3 times the copy's time, no heap allocation per
// request); round trips of "/tracesScope?channels=15" (four traces, about 40 KB) against
// benchview and against the echo program answering as many bytes (target: at least half the
// echo rate); and the latency of "/status" (p50, p99) while trace requests run (reported).
//
// The program is taken from $BENCHVIEW_EXE, else the one built with this benchmark.
#include "bench/support/allocation_counter.h"
#include "bench/support/benchsupport.h"
#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "network/pelanodeInterface.h"
#include "network/wsrpm.h"

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
#include <functional>
#include <new>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <algorithm>
#include <memory>
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

// The ten traces of the largest reply, linked and shown; never freed.
bool linkTraces()
{
    data = init_par;
    static const unsigned short ids[10] = {1, 2, 4, 8, 256, 512, 1024, 2048, 8192, 0};
    TAcquisition* t[10];
    for (int i = 0; i < 10; ++i) {
        t[i] = new TAcquisition(ids[i]);
        for (uint32_t k = 0; k < TAcquisition::kLoggerWords; ++k)
            t[i]->loggerRaw[k] = t[i]->loggerEnvelope[k] = 524256u + k * 7u + static_cast<uint32_t>(i);
    }
    TSetupLinks& l = setupLinks();
    l.acqCh1 = t[0];
    l.acqCh2 = t[1];
    l.acqCh3 = t[2];
    l.acqCh4 = t[3];
    l.refAcqCh1 = t[4];
    l.refAcqCh2 = t[5];
    l.refAcqCh3 = t[6];
    l.refAcqCh4 = t[7];
    l.powerAcq = t[8];
    l.maskAcq = t[9];
    data.channelFlags = 0xFF;
    data.passFailOn = 1;
    data.instrumentMode = 128;
    data.meterFunction = 8;
    return true;
}

constexpr int kCopy = 0;
constexpr int kTraces = 1;

void BM_LargestTracesReply(benchmark::State& state)
{
    static const bool linked = linkTraces();
    static TWsReq req;
    const char request[] = "/tracesScope?channels=65535";
    std::memset(&req, 0, sizeof req);
    std::memcpy(req.buffer, request, sizeof request - 1);
    req.received = sizeof request - 1;
    const int32_t length = wsTracesReply(&req, false);
    if (!linked || length < 100000) {
        state.SkipWithError("the largest reply is not built");
        return;
    }
    static std::vector<char> source(200000, 's');
    static std::vector<char> target(200000);
    const bool copy = state.range(0) == kCopy;
    const long before = g_allocations.load();
    for (auto _ : state) {
        if (copy) {
            std::memcpy(target.data(), source.data(), static_cast<size_t>(length));
            benchmark::DoNotOptimize(target.data());
        } else {
            benchmark::DoNotOptimize(wsTracesReply(&req, false));
        }
        benchmark::ClobberMemory();
    }
    state.counters["allocs_per_request"] =
        static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations());
    state.counters["bytes"] = length;
    state.SetLabel(copy ? "memcpy" : "tracesScope");
}
BENCHMARK(BM_LargestTracesReply)->Arg(kCopy)->Arg(kTraces)->MinTime(0.5);

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

// Rounds of perRound round trips alternating between the echo program and benchview; false (the
// benchmark skipped) when one failed.
bool alternate(benchmark::State& state, int perRound, const std::function<bool(int target)>& roundTrip,
               benchsupport::TRoundFigures* f)
{
    for (auto _ : state) {
        const bool ok = benchsupport::alternateRounds(kRounds, [&](int target) -> long {
            for (int i = 0; i < perRound; ++i)
                if (!roundTrip(target))
                    return -1;
            return perRound;
        }, f);
        if (!ok) {
            state.SkipWithError("no reply");
            return false;
        }
    }
    return true;
}

// Rounds alternating between the echo program and benchview.
void BM_NothingRoundTrip(benchmark::State& state)
{
    TTargets& t = targets();
    if (!t.ok) {
        state.SkipWithError("no target to query");
        return;
    }
    benchsupport::TRoundFigures f;
    if (!alternate(state, kRoundTripsPerRound, [&](int target) { return roundTrip(t.clients[target]); }, &f))
        return;
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


// ---- traces over loopback ------------------------------------------------------------------

struct TTraceTargets {
    benchsupport::TEchoProgram echo;  // answering as many bytes as benchview's trace reply
    int clients[2] = {-1, -1};
    int replySize = 0;
    bool ok = false;
};

TTraceTargets* g_traceTargets = nullptr;

// One request, one datagram back; its size, or -1.
ssize_t ask(int fd, const char* request, std::vector<char>& buf)
{
    if (::send(fd, request, std::strlen(request), 0) < 0)
        return -1;
    return receiveOne(fd, buf.data(), buf.size(), 2000);
}

TTraceTargets& traceTargets()
{
    static TTraceTargets* t = [] {
        auto* t = new TTraceTargets();
        g_traceTargets = t;
        TTargets& base = targets();
        if (!base.ok)
            return t;
        // Channels 1 to 4 shown, then the reply's size once all four are there.
        std::vector<char> buf(70000);
        for (const char* on : {"/verticalScope?channel=1&p0=1", "/verticalScope?channel=2&p0=1",
                               "/verticalScope?channel=3&p0=1", "/verticalScope?channel=4&p0=1"})
            ask(base.clients[kBenchview], on, buf);
        for (int i = 0; i < 100 && t->replySize == 0; ++i) {
            const ssize_t n = ask(base.clients[kBenchview], "/tracesScope?channels=15", buf);
            if (n > 40000 && n < 50000 && std::strncmp(buf.data(), "100000,15,", 10) == 0)
                t->replySize = static_cast<int>(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (t->replySize == 0) {
            std::fprintf(stderr, "benchview does not send the four traces\n");
            return t;
        }
        if (!benchsupport::startEchoProgram(&t->echo, "udp-bytes", std::to_string(t->replySize)))
            return t;
        t->clients[kEcho] = connectedClient(t->echo.port);
        t->clients[kBenchview] = connectedClient(base.ports[kBenchview]);
        t->ok = t->clients[kEcho] >= 0 && t->clients[kBenchview] >= 0;
        return t;
    }();
    return *t;
}

constexpr int kTraceRoundTripsPerRound = 300;

void BM_TracesRoundTrip(benchmark::State& state)
{
    TTraceTargets& t = traceTargets();
    if (!t.ok) {
        state.SkipWithError("no target to query");
        return;
    }
    std::vector<char> buf(70000);
    benchsupport::TRoundFigures f;
    if (!alternate(state, kTraceRoundTripsPerRound,
                   [&](int target) { return ask(t.clients[target], "/tracesScope?channels=15", buf) == t.replySize; },
                   &f))
        return;
    state.counters["echo_per_s"] = f.baseline;
    state.counters["benchview_per_s"] = f.subject;
    state.counters["bytes"] = t.replySize;
}
BENCHMARK(BM_TracesRoundTrip)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// "/status" answered while another client asks for traces without pause.
void BM_StatusBesideTraces(benchmark::State& state)
{
    TTraceTargets& t = traceTargets();
    TTargets& base = targets();
    const int status = t.ok ? connectedClient(base.ports[kBenchview]) : -1;
    if (status < 0) {
        state.SkipWithError("no target to query");
        return;
    }
    std::atomic<bool> stop{false};
    std::thread load([&] {
        std::vector<char> buf(70000);
        while (!stop.load())
            ask(t.clients[kBenchview], "/tracesScope?channels=15", buf);
    });
    std::vector<double> latencies;
    std::vector<char> buf(70000);
    bool lost = false;
    for (auto _ : state) {
        for (int i = 0; i < 2000 && !lost; ++i) {
            const auto start = std::chrono::steady_clock::now();
            lost = ask(status, "/status", buf) < 2;
            latencies.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
    }
    stop = true;
    load.join();
    ::close(status);
    if (lost || latencies.empty()) {
        state.SkipWithError("status reply lost");
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
}
BENCHMARK(BM_StatusBesideTraces)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

double g_plainRate = 0.0;
double g_copySeconds = 0.0;

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
        } else if (name.rfind("BM_LargestTracesReply", 0) == 0) {
            if (run.report_label == "memcpy") {
                g_copySeconds = seconds;
                std::printf("memcpy of %.0f bytes: %.1f us (reported)\n", run.counters.at("bytes").value, seconds * 1e6);
                return;
            }
            std::printf("largest /tracesScope reply (%.0f bytes): %.1f us (reported)\n", run.counters.at("bytes").value,
                        seconds * 1e6);
            c.check(g_copySeconds > 0.0 && seconds <= 3.0 * g_copySeconds,
                    "the largest trace reply at %.2f times the copy's time (target 3)",
                    g_copySeconds > 0.0 ? seconds / g_copySeconds : 0.0);
            c.check(run.counters.at("allocs_per_request").value == 0.0,
                    "heap allocations per trace reply: %.3f (target 0)", run.counters.at("allocs_per_request").value);
        } else if (name.rfind("BM_TracesRoundTrip", 0) == 0) {
            const double echo = run.counters.at("echo_per_s").value;
            const double rate = run.counters.at("benchview_per_s").value;
            std::printf("echo program: %.0f, benchview /tracesScope?channels=15 (%.0f bytes): %.0f round trips/s "
                        "(medians of %d alternating rounds, reported)\n",
                        echo, run.counters.at("bytes").value, rate, kRounds);
            c.check(echo > 0.0 && rate >= kTargetShare * echo,
                    "benchview traces at %.2f of the echo program's rate (target 0.5)", echo > 0.0 ? rate / echo : 0.0);
        } else if (name.rfind("BM_StatusBesideTraces", 0) == 0) {
            std::printf("/status while traces are asked for: p50 %.0f us, p99 %.0f us (reported)\n",
                        run.counters.at("p50_us").value, run.counters.at("p99_us").value);
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
    if (g_traceTargets)
        benchsupport::stopEchoProgram(&g_traceTargets->echo);
    if (g_targets) {
        benchsupport::stopProgram(&g_targets->program);
        benchsupport::stopEchoProgram(&g_targets->echo);
    }
    return status;
}
