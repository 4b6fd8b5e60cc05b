// SCPI block data and measurement queries in process. Targets: putParameterValue of 400,000
// bytes in ASCii and HEXadecimal into a session that discards its replies at no less than half
// the rate of a plain formatter writing the same text into memory from a table of value texts;
// the acquisition held at most 1 ms by one MEASure:FREQ? (the measurement of the held record
// and the lookup), taken from the measurement handler's timing hook.
#include "bench/support/benchsupport.h"
#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "scpi/blockdata.h"
#include "scpi/io.h"
#include "scpi/measure.h"
#include "tests/scpi/scpi_unit_reader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long kArray = 400000;
constexpr double kTargetShareOfPlain = 0.5;
constexpr double kTargetHoldMs = 1.0;

const std::vector<unsigned char>& array()
{
    static const std::vector<unsigned char>* a = [] {
        auto* v = new std::vector<unsigned char>(kArray);
        for (long i = 0; i < kArray; ++i)
            (*v)[static_cast<size_t>(i)] = static_cast<unsigned char>(i * 37 + (i >> 8));
        return v;
    }();
    return *a;
}

// The plain formatter: each value's text from a 256-entry table, appended into one buffer.
void BM_PlainFormatter(benchmark::State& state)
{
    const bool hex = state.range(0) == 1;
    std::vector<std::string> table(256);
    for (int v = 0; v < 256; ++v) {
        char text[16];
        std::snprintf(text, sizeof text, hex ? "#H%02x," : "%d,", v);
        table[static_cast<size_t>(v)] = text;
    }
    std::string out;
    out.reserve(static_cast<size_t>(kArray) * 5);
    const std::vector<unsigned char>& a = array();
    for (auto _ : state) {
        out.clear();
        for (unsigned char v : a)
            out += table[v];
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kArray);
}
BENCHMARK(BM_PlainFormatter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PutParameterValue(benchmark::State& state)
{
    const char format = static_cast<char>(state.range(0));
    TScpiMemorySession session;
    session.discardReplies(true);
    session.send("x\n");
    unsigned char c = 0;
    GetCharacter(&c);  // bound, as while a query runs
    const std::vector<unsigned char>& a = array();
    for (auto _ : state) {
        if (putParameterValue(format, a.data(), kArray, "\n\r") != kArray) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    scpiEndOfMessage();
    state.SetBytesProcessed(state.iterations() * kArray);
}
BENCHMARK(BM_PutParameterValue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

std::vector<double> g_holdNs;

void BM_MeasureHold(benchmark::State& state)
{
    benchsupport::TBenchBoard board;
    if (!board.ok()) {
        state.SkipWithError("no board");
        return;
    }
    data = init_par;
    data.instrumentMode = 16;
    data.userTimeBase = 18;
    data.channelFlags = 1;
    TAcquisition trace(1);
    trace.timeBase = 18;
    for (int i = 0; i < 100000; ++i)
        trace.samples[i] = (i % 10000) < 5000 ? 600000u : 500000u;
    static mesures records[9];
    const TSetupLinks saved = setupLinks();
    setupLinks().acqCh1 = &trace;
    setupLinks().measResultsPtr = records;
    // The acquisition's own hold needs its real-time thread: here the hold itself is empty and
    // the hook times what the handler does while it holds.
    const TMeasureHold kept = measureHold();
    measureHold() = TMeasureHold{[] {}, [] {}, [](int64_t ns) { g_holdNs.push_back(static_cast<double>(ns)); }};
    TUnitReader reader;
    TScpiMemorySession session;
    session.discardReplies(true);
    for (auto _ : state) {
        session.send("MEAS:FREQ? INT1\n");
        TUnitResult r = reader.readUnit();
        benchmark::DoNotOptimize(r);
    }
    measureHold() = kept;
    setupLinks() = saved;
    std::sort(g_holdNs.begin(), g_holdNs.end());
    state.counters["hold_p50_ms"] = g_holdNs.empty() ? 0 : g_holdNs[g_holdNs.size() / 2] / 1e6;
    state.counters["hold_max_ms"] = g_holdNs.empty() ? 0 : g_holdNs.back() / 1e6;
}
BENCHMARK(BM_MeasureHold)->Iterations(200)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    static double plain[2] = {0, 0};
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        if (run.error_occurred) {
            c.check(false, "a benchmark failed (%.0f)", 0.0);
            return;
        }
        const double rate = benchsupport::counter(run, "bytes_per_second");
        const int hex = name.find("/1") != std::string::npos ? 1 : 0;
        if (name.rfind("BM_PlainFormatter", 0) == 0) {
            plain[hex] = rate;
        } else if (name.rfind("BM_PutParameterValue", 0) == 0) {
            const double share = plain[hex] > 0 ? rate / plain[hex] : 0.0;
            std::printf("%s: %.1f MB/s, plain formatter %.1f MB/s\n", hex ? "HEXadecimal" : "ASCii", rate / 1e6,
                        plain[hex] / 1e6);
            c.check(share >= kTargetShareOfPlain,
                    hex ? "putParameterValue HEXadecimal at %.2f of the plain formatter (target 0.5)"
                        : "putParameterValue ASCii at %.2f of the plain formatter (target 0.5)",
                    share);
        } else if (name.rfind("BM_MeasureHold", 0) == 0) {
            c.record("MEAS:FREQ? hold, longest", benchsupport::counter(run, "hold_max_ms"), kTargetHoldMs, "ms", 3);
        }
    });
}
