// Hardware layer on the simulated board. Targets (median of the timed calls):
// one SPI register read through the seam (open, two ioctls, message, close) under 10 us;
// a whole-channel ScalingWrite (parameter 0, flags 3) under 200 us;
// a 4,904-byte probe-memory read through the FPGA's I2C master under 100 ms;
// the whole reading of a full active smart probe within 1.2 times that bare read plus 1 ms;
// a probe-link copy and its correction (per channel at each front-end programming) within 1 us.
#include "bench/support/benchsupport.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/CmdesBase.h"
#include "hardware/fpga.h"
#include "hardware/kalvex.h"
#include "hardware/scaling.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace {

struct TTarget {
    const char* what;
    double targetUs;
    double medianUs;  // of the latest run
};
std::map<std::string, TTarget>& targets()
{
    static auto* t = new std::map<std::string, TTarget>();
    return *t;
}

// Times each call of op and keeps the median of this run; the reporter checks the median of the
// run it reports (the last one) against the target.
template <typename Op>
void timed(benchmark::State& state, const char* name, const char* what, double targetUs, Op op)
{
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        op();
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    if (samples.empty())
        return;
    const double median = benchsupport::median(samples);
    state.counters["median_us"] = median;
    targets()[name] = TTarget{what, targetUs, median};
}

void BM_SpiRegisterRead(benchmark::State& state)
{
    timed(state, "BM_SpiRegisterRead", "SPI register read", 10.0, [] { benchmark::DoNotOptimize(TFpga::getSpiRegister(99)); });
}
BENCHMARK(BM_SpiRegisterRead)->UseRealTime();

void BM_ScalingWriteChannel(benchmark::State& state)
{
    ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, to_g_scalingParams[0]);
    timed(state, "BM_ScalingWriteChannel", "whole-channel ScalingWrite", 200.0, [] { ScalingWrite(0, to_g_scalingParams[0], 0, 3); });
}
BENCHMARK(BM_ScalingWriteChannel)->UseRealTime();

void BM_ProbeMemoryRead(benchmark::State& state)
{
    std::vector<uint8_t> image(simboard::kProbeMemorySize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 13);
    simboard::setProbeMemory(0, image);
    CmdeLogique(CMDE_PROBE_I2C_SELECT, 0);
    std::vector<uint8_t> buffer(4904);
    timed(state, "BM_ProbeMemoryRead", "4904-byte probe-memory read", 100000.0, [&] {
        TFpga::i2cSetup(0x50, 2, 1, 0);
        I2cfpga request{static_cast<uint32_t>(buffer.size()), 0, buffer.data()};
        if (TFpga::i2cRead(&request) != 1)
            state.SkipWithError("probe-memory read failed");
    });
    if (!std::equal(buffer.begin(), buffer.end(), image.begin()))
        state.SkipWithError("probe memory read back wrong");
}
BENCHMARK(BM_ProbeMemoryRead)->UseRealTime()->Unit(benchmark::kMillisecond);

// A x10 active probe with every descriptor field and a correction.
simboard::TProbeDescription fullActiveProbe()
{
    simboard::TProbeDescription d;
    d.id = 0x8123;
    d.colour = 3;
    d.fields = {{"bandwidthLimit", "BL1"}, {"coupling", "DC"},     {"unit", "V"},          {"coefficient", "10"},
                {"sensitivity", "1"},      {"position", "0.5"},    {"meterType", "0"},     {"meterCoupling", "DC"},
                {"meterRange", "1"},       {"comment", "VA123 probe"}, {"input1", "300V CAT III"}};
    d.hasCorrection = true;
    d.correction = "1.02 x 0.5";
    return d;
}

void BM_ProbeReading(benchmark::State& state)
{
    simboard::plugProbe(0, fullActiveProbe());
    const auto bare = targets().find("BM_ProbeMemoryRead");
    if (bare == targets().end()) {
        state.SkipWithError("the bare read runs first");
        return;
    }
    timed(state, "BM_ProbeReading", "whole smart-probe reading", 1.2 * bare->second.medianUs + 1000.0, [&] {
        TKalvex probe(0);
        if (probe.state != 0)
            state.SkipWithError("probe reading failed");
    });
}
BENCHMARK(BM_ProbeReading)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ProbeLinkCorrection(benchmark::State& state)
{
    simboard::plugProbe(0, fullActiveProbe());
    setSmartProbeLink(0, std::make_shared<TKalvex>(0));
    timed(state, "BM_ProbeLinkCorrection", "probe-link copy and correction", 1.0, [] {
        double gain = 0.0;
        double offset = 0.0;
        if (const std::shared_ptr<TKalvex> probe = smartProbeLink(0))
            probe->getCorrection(&gain, &offset);
        benchmark::DoNotOptimize(gain);
        benchmark::DoNotOptimize(offset);
    });
    setSmartProbeLink(0, nullptr);
}
BENCHMARK(BM_ProbeLinkCorrection)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);

    // A board of its own under a temporary root, its FPGA configured (no image load here).
    benchsupport::TBoardOptions options;
    options.fpgaConfigured = true;
    options.mapWindow = true;
    options.loadInitialSetup = true;
    benchsupport::TBenchBoard board(options);
    if (!board.ok())
        return 2;
    data.hwChannelMask = 15;

    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        for (const auto& t : targets()) {
            if (run.benchmark_name().rfind(t.first, 0) != 0)
                continue;
            const TTarget& target = t.second;
            c.record((std::string(target.what) + " median").c_str(), target.medianUs, target.targetUs, "us", 1,
                     run.error_occurred);
        }
    });
}
