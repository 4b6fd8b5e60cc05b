// Simulated acquisition engine. Target (median of the timed runs): synthesising and queueing
// 100,000 four-channel streaming samples (the analogue model of all four channels, the trigger
// comparator, the FIFO with its back-pressure) under 10 ms.
#include "bench/support/benchsupport.h"
#include "board/sim/simboard.h"
#include "tests/board/test_sim_raw.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

constexpr double kTargetMs = 10.0;
constexpr uint64_t kSamples = 100000;
constexpr uint64_t kStepNs = 16000000;   // 16,000 samples at 1 us: just under a full FIFO
double medianMs = 0.0;
bool failed = false;

uint32_t gray(uint32_t n)
{
    return n ^ (n >> 1);
}

// A streaming acquisition at 1 us per sample that never triggers (trigger parameter 19 on every
// channel, no free-run): it runs until stopped.
void startStreaming(simtest::Window& w)
{
    auto cmd = [&w](uint16_t mask, uint16_t op, uint32_t value) { w.command(mask, op, static_cast<uint16_t>(value << 1)); };
    const uint32_t post = gray(1000000);
    w.write(16, 0x8000);
    cmd(0, 0xC4, 0);
    cmd(0, 0xC4, 0);
    cmd(0, 0xC5, (post >> 14) & 0x7FFF);
    cmd(0, 0xC5, post & 0x3FFF);
    cmd(0xF, 0xC3, 19);
    cmd(0xF, 0x90, 0x100);
    simtest::spiWrite(68, 0);
    simtest::spiWrite(8, 0x1FF6F);
    w.write(17, 4095);
    cmd(0, 0x97, 0);
    simtest::spiWrite(0, 0x2);
    cmd(0, 0x80, 0);
}

void BM_SynthesiseAndQueue(benchmark::State& state)
{
    simtest::Window w;
    simtest::spiWrite(20, 0xF);
    std::vector<simboard::TSample> out(simboard::kFifoSamples);
    std::vector<double> times;
    for (auto _ : state) {
        state.PauseTiming();
        startStreaming(w);
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        uint64_t taken = 0;
        while (taken < kSamples) {
            simboard::runEngine(kStepNs);
            const size_t n = simboard::popSamples(out.data(), out.size());
            if (n == 0)
                break;
            taken += n;
        }
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());

        state.PauseTiming();
        simtest::spiWrite(0, 0);
        state.ResumeTiming();
        if (taken < kSamples) {
            state.SkipWithError("the engine stopped producing");
            failed = true;
            break;
        }
    }
    if (times.empty())
        return;
    medianMs = benchsupport::median(times);
    state.counters["median_ms"] = medianMs;
}
BENCHMARK(BM_SynthesiseAndQueue)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);

    benchsupport::TTargetChecker checker;
    {
        benchsupport::TBoardOptions options;
        options.fpgaConfigured = true;
        benchsupport::TBenchBoard board(options);
        if (!board.ok())
            return 2;
        simboard::setEnginePaused(true);

        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    checker.record("100,000 streaming samples synthesised and queued, median", medianMs, kTargetMs, "ms", 2, failed);
    return checker.exitStatus();
}
