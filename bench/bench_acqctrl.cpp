// Acquisition control record on the simulated board. Target (median of the timed calls): the
// complete application (affect_par with parameter 29) in the scope mode under 50 us, with every
// channel shown and the bandwidth-limit state read from the board for each.
#include "acquisition/acqctrl.h"
#include "bench/support/benchsupport.h"
#include "core/gest_db.h"
#include "hardware/calibration.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr double kTargetUs = 50.0;
double g_medianUs = -1.0;  // of the latest run

calibration g_cal;

void BM_AffectParComplete(benchmark::State& state)
{
    std::memcpy(&data, &init_par, sizeof data);
    data.instrumentMode = 16;
    data.hwChannelMask = 15;
    data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = data.traceOnCh4 = 1;
    data.channelFlags = 0xF;
    std::memcpy(&g_cal, &CalibUsine, sizeof g_cal);
    // Calibrated points, so the full correction path runs rather than the identity fallback.
    for (int bwl = 0; bwl < 2; ++bwl)
        for (int c = 0; c < 4; ++c)
            for (int s = 0; s < 16; ++s) {
                setCalibrationRangePoint(g_cal, bwl, c, 0, s, 400000 + s);
                setCalibrationRangePoint(g_cal, bwl, c, 1, s, 650000 - s);
            }

    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(affect_par(&data, 29, &g_cal, &par_acq));
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    if (par_acq.acqMode != 16 || par_acq.acqChannels != 0xF || par_acq.span[0] != 249984)
        state.SkipWithError("the record was not applied");
    if (samples.empty())
        return;
    g_medianUs = benchsupport::median(samples);
    state.counters["median_us"] = g_medianUs;
}
BENCHMARK(BM_AffectParComplete)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);

    // A board of its own under a temporary root.
    benchsupport::TBenchBoard board;
    if (!board.ok())
        return 2;

    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        c.record("affect_par complete application median", g_medianUs, kTargetUs, "us", 1,
                 run.error_occurred || g_medianUs < 0.0);
    });
}
