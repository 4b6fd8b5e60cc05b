// Acquisition driver on the simulated board. Target (median of the timed calls): the interrupt
// handling that drains a full FIFO (16,384 samples, four port reads each) through the register
// window under 10 ms.
#include "bench/support/benchsupport.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/chip_acq.h"
#include "hardware/fpga.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

constexpr double kDrainTargetMs = 10.0;
double drainMedianMs = 0.0;
bool drainFailed = false;

void BM_DrainFullFifo(benchmark::State& state)
{
    std::vector<simboard::TSample> samples(simboard::kFifoSamples);
    for (size_t i = 0; i < samples.size(); ++i)
        for (int ch = 0; ch < 4; ++ch)
            samples[i][ch] = static_cast<uint16_t>((i * 4 + ch) & 0xFFF);
    pseudoFPGA_IRQ4_MASK = IRQ_FIFO_LAST;
    std::vector<double> times;
    for (auto _ : state) {
        state.PauseTiming();
        TFpga::setEimRegister(ACQ_EIM_FIFO_RESET, 0x8000);
        if (simboard::pushSamples(samples) != samples.size()) {
            state.SkipWithError("the simulated FIFO did not take a full load");
            drainFailed = true;
            break;
        }
        simboard::latchStatus(IRQ_FIFO_LAST);
        l_g_signalsBufferWritePtr = 0;
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        ChipAcqItHandle();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());

        if (simboard::fifo().count != 0 || l_g_signalsBufferWritePtr != static_cast<int32_t>(4 * samples.size())) {
            state.SkipWithError("the FIFO was not drained");
            drainFailed = true;
            break;
        }
    }
    if (times.empty())
        return;
    drainMedianMs = benchsupport::median(times);
    state.counters["median_ms"] = drainMedianMs;
}
BENCHMARK(BM_DrainFullFifo)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);

    benchsupport::TTargetChecker checker;
    {
        // A board of its own under a temporary root, its FPGA configured.
        benchsupport::TBoardOptions options;
        options.fpgaConfigured = true;
        options.mapWindow = true;
        options.loadInitialSetup = true;
        benchsupport::TBenchBoard board(options);
        if (!board.ok())
            return 2;

        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    checker.record("full-FIFO drain median", drainMedianMs, kDrainTargetMs, "ms", 2, drainFailed);
    return checker.exitStatus();
}
