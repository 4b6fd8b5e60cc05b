// The interpreter thread in process: lines parsed, matched, decoded, run by their handlers and
// their requests handed to a controller that releases each at once. Targets: no heap
// allocation per line; the time per line is reported. Also reported: where the time of one
// "*ESE?" round trip over loopback TCP goes, hop by hop (client to the session's read, into the
// queue and to the interpreter, parsing and handler, the reply's write, back to the client).
#include "acquisition/TAcquisition.h"
#include "bench/support/allocation_counter.h"
#include "bench/support/benchsupport.h"
#include "board/board.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/scpi.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The input path's mix plus a restarting setting and an operation-complete query, which comes
// last: its "1\n\r" marks the end of the batch.
const std::string& lineMix()
{
    static const std::string* mix = new std::string(
        "*ESE?\n"
        "TRIGger:SEQuence:LEVel 1.0E0 V\n"
        "SENS:VOLT1:DC:RANG:PTP 8 V\n"
        "FOO\n"
        "MMEM:CDIR \"/media/user/abcdefghijklmnopqrstuvwxyz_0123456789/ABCDEFGHIJ\"\n"
        "TRIG:LEV 1\n"
        "*OPC?\n");
    return *mix;
}
constexpr int kLinesInMix = 7;

std::atomic<long> g_released{0};

// Takes every record and releases it at once, like a controller whose settings need no
// acquisition acknowledgement.
void* releasingController(void*)
{
    for (;;) {
        pipe_dial r{};
        if (o_g_consMessageBox.receive(&r, true, 0) != 0)
            continue;
        g_released.fetch_add(1, std::memory_order_relaxed);
        scpi_SemP();
    }
    return nullptr;
}

// The interpreter, the controller stand-in and the client session: started once, they live
// with the process.
struct TRig {
    benchsupport::TBenchBoard* board = nullptr;
    TScpiMemorySession* session = nullptr;
    size_t bytesPerMix = 0;
    bool ok = false;
};

TRig* g_rig = nullptr;

TRig& rig()
{
    static TRig* r = [] {
        auto* rig = new TRig();
        benchsupport::TBoardOptions options;
        options.loadInitialSetup = true;
        rig->board = new benchsupport::TBenchBoard(options);
        if (!rig->board->ok())
            return rig;
        setBoardPortOffset(benchsupport::claimPortOffset());
        setScpiListenLoopbackOnly(true);
        data.hwChannelMask = 15;
        data.trigSource = 0;
        // The level conversion reads channel 1's live trace.
        auto* trace = new TAcquisition(1);
        trace->sensitivity = 8;
        trace->probeCoeff = 10.0f;
        setupLinks().acqCh1 = trace;
        data.sensitivityCh1 = 8;
        rig->session = new TScpiMemorySession();
        pthread_t controller;
        if (startThread(&controller, releasingController, nullptr, 50, true, "ctl") != 0 ||
            startThread(&SCPI_id, scpi, nullptr, 40, true, "scpi") != 0) {
            std::fprintf(stderr, "cannot start the threads\n");
            return rig;
        }
        // The first batch, kept: its replies give the bytes per batch.
        rig->session->send(lineMix());
        for (int i = 0; i < 5000; ++i) {
            std::string r = rig->session->replies();
            if (r.size() >= 3 && r.compare(r.size() - 3, 3, "1\n\r") == 0 && r.find("\n\r") < r.size() - 2) {
                rig->bytesPerMix = r.size();
                break;
            }
            rig->session->waitForReplies(r.size() + 1, 1);
        }
        if (rig->bytesPerMix == 0) {
            std::fprintf(stderr, "no reply to the first batch: %s\n", rig->session->replies().c_str());
            return rig;
        }
        rig->session->discardReplies(true);
        rig->ok = true;
        return rig;
    }();
    g_rig = r;
    return *r;
}

void BM_InterpreterLineMix(benchmark::State& state)
{
    TRig& r = rig();
    if (!r.ok) {
        state.SkipWithError("the interpreter does not run");
        return;
    }
    const std::string& mix = lineMix();
    // Warm up once more with replies discarded.
    size_t expected = r.session->replyBytes() + r.bytesPerMix;
    r.session->send(mix);
    r.session->waitForReplies(expected, 10000);
    long lines = 0;
    const long releasedBefore = g_released.load();
    const long before = g_allocations.load();
    for (auto _ : state) {
        expected += r.bytesPerMix;
        r.session->send(mix);
        if (!r.session->waitForReplies(expected, 10000)) {
            state.SkipWithError("a batch was not answered");
            break;
        }
        lines += kLinesInMix;
    }
    const long allocations = g_allocations.load() - before;
    state.counters["allocations_per_line"] = lines ? static_cast<double>(allocations) / lines : 0.0;
    state.counters["requests_per_line"] =
        lines ? static_cast<double>(g_released.load() - releasedBefore) / lines : 0.0;
    state.SetItemsProcessed(lines);
}
BENCHMARK(BM_InterpreterLineMix)->UseRealTime();

// ---- one query over TCP, hop by hop

std::atomic<int64_t> g_hopAt[kScpiHops];

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void recordHop(int hop)
{
    g_hopAt[hop].store(nowNs(), std::memory_order_relaxed);
}

// Reads up to the reply's "\n\r"; false on time-out or end of stream.
bool readReply(int fd, std::string* reply)
{
    reply->clear();
    char buf[64];
    while (reply->size() < 2 || reply->compare(reply->size() - 2, 2, "\n\r") != 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return false;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        reply->append(buf, static_cast<size_t>(n));
    }
    return true;
}

enum THopSpan : int {
    kToRead,       // client's send to the session's read
    kIntoQueue,    // the read to the input stored and signalled
    kToBound,      // the read to the interpreter taking the message
    kHandling,     // the message taken to its reply
    kWriting,      // PutMessage, the reply's write included
    kToClient,     // the reply's start to the client's read
    kRoundTrip,
    kSpans
};
const char* const kSpanNames[kSpans] = {"to_read", "into_queue", "to_bound", "handling", "writing", "to_client",
                                        "round_trip"};

void BM_TcpQueryHops(benchmark::State& state)
{
    TRig& r = rig();
    if (!r.ok) {
        state.SkipWithError("the interpreter does not run");
        return;
    }
    startScpiOverTcp();
    const int fd = benchsupport::connectLoopback(boardPort(kScpiPort), 10000);
    if (fd < 0) {
        state.SkipWithError("the SCPI port does not answer");
        return;
    }
    const char query[] = "*ESE?\n";
    std::string reply;
    // Warm up, probe unset.
    for (int i = 0; i < 200; ++i)
        if (!benchsupport::sendAll(fd, query, sizeof query - 1) || !readReply(fd, &reply)) {
            ::close(fd);
            state.SkipWithError("no reply");
            return;
        }
    constexpr int kQueries = 5000;
    std::vector<double> spans[kSpans];
    setScpiHopProbe(recordHop);
    for (auto _ : state) {
        for (int i = 0; i < kQueries; ++i) {
            for (auto& at : g_hopAt)
                at.store(0, std::memory_order_relaxed);
            const int64_t sent = nowNs();
            if (!benchsupport::sendAll(fd, query, sizeof query - 1) || !readReply(fd, &reply)) {
                state.SkipWithError("no reply");
                break;
            }
            const int64_t received = nowNs();
            // The interpreter may still be leaving PutMessage.
            for (int spin = 0; spin < 100000 && g_hopAt[kScpiHopReplyWritten].load() == 0; ++spin)
                std::this_thread::yield();
            int64_t at[kScpiHops];
            for (int h = 0; h < kScpiHops; ++h)
                at[h] = g_hopAt[h].load();
            if (std::find(at, at + kScpiHops, 0) != at + kScpiHops)
                continue;  // a hop was missed (a reply split over two reads): not counted
            const double us = 1e-3;
            spans[kToRead].push_back((at[kScpiHopInputRead] - sent) * us);
            spans[kIntoQueue].push_back((at[kScpiHopInputStored] - at[kScpiHopInputRead]) * us);
            spans[kToBound].push_back((at[kScpiHopMessageBound] - at[kScpiHopInputRead]) * us);
            spans[kHandling].push_back((at[kScpiHopReplyStart] - at[kScpiHopMessageBound]) * us);
            spans[kWriting].push_back((at[kScpiHopReplyWritten] - at[kScpiHopReplyStart]) * us);
            spans[kToClient].push_back((received - at[kScpiHopReplyStart]) * us);
            spans[kRoundTrip].push_back((received - sent) * us);
        }
    }
    setScpiHopProbe(nullptr);
    ::close(fd);
    for (int k = 0; k < kSpans; ++k) {
        std::vector<double>& v = spans[k];
        std::sort(v.begin(), v.end());
        const auto at = [&v](double p) { return v.empty() ? 0.0 : v[static_cast<size_t>(p * (v.size() - 1))]; };
        state.counters[std::string(kSpanNames[k]) + "_p50"] = at(0.50);
        state.counters[std::string(kSpanNames[k]) + "_p99"] = at(0.99);
    }
    state.counters["queries"] = static_cast<double>(spans[kRoundTrip].size());
}
BENCHMARK(BM_TcpQueryHops)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        if (run.benchmark_name().rfind("BM_TcpQueryHops", 0) == 0) {
            std::printf("one *ESE? over TCP, p50 / p99 in us (reported):");
            for (const char* span : kSpanNames)
                std::printf(" %s %.1f / %.1f;", span, benchsupport::counter(run, (std::string(span) + "_p50").c_str()),
                            benchsupport::counter(run, (std::string(span) + "_p99").c_str()));
            std::printf("\n");
            return;
        }
        if (run.benchmark_name().rfind("BM_InterpreterLineMix", 0) != 0)
            return;
        const double us = benchsupport::realTime(run, benchmark::kMicrosecond) / kLinesInMix;
        const double allocations = run.counters.at("allocations_per_line").value;
        std::printf("interpreter: %.2f us per line (reported)\n", us);
        c.check(run.counters.at("requests_per_line").value > 0.0, "%.2f released requests per line (target > 0)",
                run.counters.at("requests_per_line").value);
        c.check(allocations == 0.0, "interpreter %.3f heap allocations per line (target 0)", allocations);
    });
    // The threads stay (idle, waiting for input); the board's root goes.
    if (g_rig && g_rig->board) {
        delete g_rig->board;
        g_rig->board = nullptr;
    }
    return status;
}
