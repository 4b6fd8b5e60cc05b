// SCPI files and measurements over loopback TCP against a running benchview. Target: MMEMory:DATA?
// of a 1 MiB file at no less than 20 MB/s; reported beside it a plain read of the same file, and
// the p50 and p99 round trips of MEASure:FREQ? INT1 in scope mode.
//
// The program is taken from $BENCHVIEW_EXE, else the one built with this benchmark.
#include "bench/support/benchsupport.h"
#include "bench/support/sendall.h"
#include "bench/support/scpiclient.h"
#include "board/board.h"
#include "core/gest_db.h"
#include "core/setup.h"
#include "scpi/io.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using benchsupport::ask;
using benchsupport::readExactly;
using benchsupport::startScopeProgram;

constexpr size_t kFileSize = 1u << 20;
constexpr double kTargetMBps = 20.0;
constexpr int kQueries = 200;

struct TTarget {
    benchsupport::TProgram program;
    int fd = -1;
    bool ok = false;
};
TTarget* g_target = nullptr;

// benchview in scope mode with channel 1 shown at 1 ms/div, and the 1 MiB file on its medium.
TTarget& target()
{
    static TTarget* t = [] {
        auto* t = new TTarget();
        g_target = t;
        if (!startScopeProgram(&t->program, &t->fd))
            return t;
        std::string reply;
        std::string file(kFileSize, '\0');
        for (size_t i = 0; i < kFileSize; ++i)
            file[i] = static_cast<char>(i * 131 + (i >> 10));
        if (!ask(t->fd, "MMEM:DATA \"m.bin\",#7" + std::to_string(kFileSize) + file + "\n*OPC?\n", &reply))
            return t;
        t->ok = reply == "1\n\r" && ask(t->fd, "SYST:ERR?\n", &reply) && reply.compare(0, 2, "0,") == 0;
        if (!t->ok)
            std::fprintf(stderr, "setting up the files: %s", reply.c_str());
        return t;
    }();
    return *t;
}

void BM_DataQuery(benchmark::State& state)
{
    TTarget& t = target();
    if (!t.ok) {
        state.SkipWithError("no program to ask");
        return;
    }
    const std::string query = "MMEM:DATA? \"m.bin\"\n";
    const size_t replySize = 2 + 7 + kFileSize + 2;
    std::string reply;
    for (auto _ : state) {
        if (!benchsupport::sendAll(t.fd, query.data(), query.size()) || !readExactly(t.fd, &reply, replySize, 30000)) {
            state.SkipWithError("no reply");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}
BENCHMARK(BM_DataQuery)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PlainRead(benchmark::State& state)
{
    TTarget& t = target();
    if (!t.ok) {
        state.SkipWithError("no program");
        return;
    }
    const std::string path = t.program.root + "/media/user/m.bin";
    std::vector<char> buffer(1500);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        size_t total = 0;
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
            total += static_cast<size_t>(n);
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}
BENCHMARK(BM_PlainRead)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_MeasFreqRoundTrip(benchmark::State& state)
{
    TTarget& t = target();
    if (!t.ok) {
        state.SkipWithError("no program to ask");
        return;
    }
    std::vector<double> us;
    std::string reply;
    for (auto _ : state) {
        for (int i = 0; i < kQueries; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (!ask(t.fd, "MEAS:FREQ? INT1\n", &reply)) {
                state.SkipWithError("no reply");
                return;
            }
            us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
    state.counters["last_reply_valid"] = reply.compare(0, 5, "-----") != 0 ? 1 : 0;
}
BENCHMARK(BM_MeasFreqRoundTrip)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

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
        const double mbps = benchsupport::counter(run, "bytes_per_second") / 1e6;
        if (name.rfind("BM_DataQuery", 0) == 0) {
            c.check(mbps >= kTargetMBps, "MMEM:DATA? of 1 MiB at %.1f MB/s (target 20)", mbps);
        } else if (name.rfind("BM_PlainRead", 0) == 0) {
            std::printf("plain read of the same file: %.1f MB/s (reported)\n", mbps);
        } else if (name.rfind("BM_MeasFreqRoundTrip", 0) == 0) {
            std::printf("MEAS:FREQ? INT1 round trip: p50 %.0f us, p99 %.0f us, measured %s (reported)\n",
                        benchsupport::counter(run, "p50_us"), benchsupport::counter(run, "p99_us"),
                        benchsupport::counter(run, "last_reply_valid") > 0 ? "yes" : "no");
        }
    });
    if (g_target)
        benchsupport::stopProgram(&g_target->program);
    return status;
}
