// Multimeter processing. Targets: Filter(2500) of either kind within 500 us; the processing of
// one pass for four channels, all of them filtered (filter, levels and edges, overload check,
// means) over its three time bases, plus the publication, within 3 ms.
#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/measkernel.h"
#include "acquisition/meter.h"
#include "bench/support/benchsupport.h"
#include "core/command_param.h"
#include "core/gest_db.h"
#include "hardware/frequencemeter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kPoints = 2500;
constexpr double kFilterTargetUs = 500.0;
constexpr double kPassTargetUs = 3000.0;

// A 1 kHz sine at time base 21 (25 samples a period) of 3 divisions' swing, with a little noise.
void fillSine(uint32_t* samples)
{
    for (uint32_t i = 0; i < kPoints; ++i) {
        const unsigned noise = (i * 2654435761u) >> 24;
        samples[i] = static_cast<uint32_t>(std::lround(524256.0 + 39312.0 * std::sin(2 * M_PI * i / 25.0))) + noise;
    }
}

void BM_Filter(benchmark::State& state)
{
    TAcquisition trace(0);
    trace.filterKind = static_cast<int16_t>(state.range(0));
    std::vector<uint32_t> input(kPoints);
    fillSine(input.data());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(trace.samples, input.data(), kPoints * sizeof(uint32_t));
        state.ResumeTiming();
        benchmark::DoNotOptimize(trace.Filter(kPoints));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Filter)->Arg(2)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_MeterPass(benchmark::State& state)
{
    std::memcpy(&data, &init_par, sizeof data);
    data.instrumentMode = 128;
    data.meterFunction = 0;
    std::unique_ptr<TAcquisition> traces[4];
    TAcquisition** links[4] = {&setupLinks().acqCh1, &setupLinks().acqCh2, &setupLinks().acqCh3, &setupLinks().acqCh4};
    std::vector<uint32_t> input(kPoints);
    fillSine(input.data());
    for (int n = 0; n < 4; ++n) {
        traces[n] = std::make_unique<TAcquisition>(static_cast<unsigned short>(n));
        traces[n]->filterKind = 1;
        *links[n] = traces[n].get();
    }
    mesures table[kMeasurementRecords] = {};
    setupLinks().measResultsPtr = table;
    acq_ctrl ctrl{};
    ctrl.shownChannels = ctrl.acqChannels = 0xF;
    for (int n = 0; n < 4; ++n)
        ctrl.probeGain[n] = 1.0;
    pseudo_FqPr[0][0] = 0;
    pseudo_FqPr[1][0] = 1342;  // 40 kHz: the counter's framing applies
    for (auto _ : state) {
        for (unsigned short timeBase : {18, 35, 21}) {
            state.PauseTiming();
            for (auto& t : traces)
                std::memcpy(t->samples, input.data(), kPoints * sizeof(uint32_t));
            state.ResumeTiming();
            MeterMeasureSet(&ctrl, data, timeBase);
        }
        MeterPublish(&ctrl);
        benchmark::ClobberMemory();
    }
    if ((table[0].flags & 3) != 3)
        state.SkipWithError("nothing measured");
    setupLinks().measResultsPtr = nullptr;
    for (TAcquisition** l : links)
        *l = nullptr;
}
BENCHMARK(BM_MeterPass)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const bool filter = run.benchmark_name().rfind("BM_Filter", 0) == 0;
        const double us = benchsupport::realTime(run, benchmark::kMicrosecond);
        c.record(run.benchmark_name().c_str(), us, filter ? kFilterTargetUs : kPassTargetUs, "us", 1,
                 run.error_occurred);
    });
}
