// SCPI input path. Targets: a mix of lines tokenised, matched and decoded through the macro
// input in under 5 us per line with no heap allocation per line; 1 MiB through one session
// queue (a writer thread, GetCharacter reading) in under 100 ms.
#include "bench/support/allocation_counter.h"
#include "bench/support/benchsupport.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "tests/scpi/scpi_unit_reader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

namespace {

const std::string& lineMix()
{
    static const std::string* mix = new std::string(
        "*ESE?\n"
        "TRIGger:SEQuence:LEVel 1.0E0 V\n"
        "SENS:VOLT1:DC:RANG:PTP 8 V\n"
        "FOO\n"
        "MMEM:CDIR \"/media/user/abcdefghijklmnopqrstuvwxyz_0123456789/ABCDEFGHIJ\"\n");  // 60 characters
    return *mix;
}
constexpr int kLinesInMix = 5;

void BM_LineMix(benchmark::State& state)
{
    meminit();
    TUnitReader* reader = new TUnitReader();
    const std::string& mix = lineMix();
    // Warm up: first use of the session table and of the reader.
    scpiPutMacroInput(mix.data(), mix.size());
    for (int i = 0; i < kLinesInMix; ++i)
        reader->readUnit();
    long lines = 0;
    long before = g_allocations.load();
    for (auto _ : state) {
        scpiPutMacroInput(mix.data(), mix.size());
        for (int i = 0; i < kLinesInMix; ++i) {
            TUnitResult r = reader->readUnit();
            benchmark::DoNotOptimize(r);
        }
        memerr(0, 0);  // the failing lines fill the queue
        lines += kLinesInMix;
    }
    long allocations = g_allocations.load() - before;
    state.counters["allocations_per_line"] = lines ? static_cast<double>(allocations) / lines : 0.0;
    delete reader;
}
BENCHMARK(BM_LineMix);

void BM_QueueThroughput(benchmark::State& state)
{
    constexpr size_t kBytes = 1 << 20;
    for (auto _ : state) {
        TScpiMemorySession session;
        std::thread writer([&] {
            static const std::string chunk(1000, 'w');
            for (size_t sent = 0; sent < kBytes; sent += chunk.size())
                session.send(chunk.data(), std::min(chunk.size(), kBytes - sent));
            session.end();
        });
        size_t got = 0;
        unsigned char c;
        while (GetCharacter(&c) == kGetCharOk)
            ++got;
        scpiEndOfMessage();
        writer.join();
        if (got != kBytes)
            state.SkipWithError("bytes lost");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_QueueThroughput)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        if (name.rfind("BM_LineMix", 0) == 0) {
            const double ns = benchsupport::realTime(run, benchmark::kNanosecond) / kLinesInMix;
            const double allocations = run.counters.at("allocations_per_line").value;
            c.check(ns <= 5000.0, "line mix %.0f ns per line (target 5000 ns)", ns);
            c.check(allocations == 0.0, "line mix %.3f heap allocations per line (target 0)", allocations);
        } else if (name.rfind("BM_QueueThroughput", 0) == 0) {
            const double ms = benchsupport::realTime(run, benchmark::kMillisecond);
            c.check(ms <= 100.0, "1 MiB through a session queue in %.1f ms (target 100 ms)", ms);
        }
    });
}
