// The harmonic analyser's work on one channel: its own 2048-point transform plus the record and
// levels (HarmonicChannel), against the bare FFTW real transform of 2048 points timed
// alternately in the same run; and MeasCapa over the capacitance cycle's 2490 samples.
// Targets: a channel within 150 us, MeasCapa within 20 us.
#include "acquisition/capa.h"
#include "acquisition/harmonic.h"
#include "acquisition/measkernel.h"
#include "bench/support/benchsupport.h"

#include <benchmark/benchmark.h>
#include <srfftw.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kChannelTargetUs = 150.0;
constexpr double kMeasCapaTargetUs = 20.0;
double g_channelUs = -1.0;
double g_bareUs = -1.0;
double g_measCapaUs = -1.0;

// A distorted, noisy 16-period signal as a channel trace holds it.
std::vector<uint32_t> harmonicTrace()
{
    std::mt19937 rng(4242);
    std::normal_distribution<double> noise(0.0, 200.0);
    std::vector<uint32_t> v(2500);
    for (size_t k = 0; k < v.size(); ++k) {
        const double t = 2.0 * M_PI * (static_cast<double>(k) - kHarmonicFirstSample) / 128.0;
        const double code = 524256.0 + 90000.0 * std::sin(t) + 9000.0 * std::sin(3 * t + 0.5) + 4500.0 * std::sin(5 * t) + noise(rng);
        v[k] = static_cast<uint32_t>(std::lround(code));
    }
    return v;
}

void BM_HarmonicChannel(benchmark::State& state)
{
    const std::vector<uint32_t> samples = harmonicTrace();
    double table[kHarmonicOrders] = {};
    THarmonicResults record{};
    std::vector<float> in(kHarmonicPoints), out(kHarmonicPoints);
    for (int k = 0; k < kHarmonicPoints; ++k)
        in[k] = static_cast<float>(static_cast<int32_t>(samples[k + kHarmonicFirstSample]) - 524256);
    const rfftw_plan plan = rfftw_create_plan(kHarmonicPoints, FFTW_REAL_TO_COMPLEX, FFTW_ESTIMATE);

    std::vector<double> channel, bare;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        const int status = HarmonicChannel(samples.data(), 1.5625e-4, 2, false, table, &record, nullptr);
        channel.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(&record);

        start = std::chrono::steady_clock::now();
        rfftw_one(plan, in.data(), out.data());
        bare.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(out.data());
    }
    rfftw_destroy_plan(plan);
    if (record.status != HARMONIC_MEASURED || std::fabs(record.entries[3].ratio - 0.1) > 0.01) {
        state.SkipWithError("the channel was not measured");
        return;
    }
    if (channel.empty())
        return;
    g_channelUs = benchsupport::median(channel);
    g_bareUs = benchsupport::median(bare);
    state.counters["channel_us"] = g_channelUs;
    state.counters["rfftw_one_us"] = g_bareUs;
    state.counters["ratio"] = g_bareUs > 0.0 ? g_channelUs / g_bareUs : 0.0;
}
BENCHMARK(BM_HarmonicChannel)->UseRealTime();

void BM_MeasCapa(benchmark::State& state)
{
    // The cycle's ramp: flat at the top for a few samples, then down through the screen.
    std::vector<uint32_t> samples(2500);
    for (size_t k = 0; k < samples.size(); ++k)
        samples[k] = k <= 3 ? 640000u : static_cast<uint32_t>(std::max(0.0, 640000.0 - 100.0 * (static_cast<double>(k) - 3)));
    std::vector<double> times;
    mesures record{};
    double slope = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int result = MeasCapa(samples.data(), &record, 2490, &slope);
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(&record);
    }
    if (std::fabs(slope + 99.99988) > 1e-4) {
        state.SkipWithError("the slope was not measured");
        return;
    }
    if (times.empty())
        return;
    g_measCapaUs = benchsupport::median(times);
    state.counters["meascapa_us"] = g_measCapaUs;
}
BENCHMARK(BM_MeasCapa)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        if (name.rfind("BM_HarmonicChannel", 0) == 0) {
            const bool failed = run.error_occurred || g_channelUs < 0.0 || g_bareUs <= 0.0;
            c.record("harmonic channel (transform and record, median)", failed ? 0.0 : g_channelUs, kChannelTargetUs,
                     "us", 1, failed);
            c.check(!failed, "harmonic channel / bare rfftw_one of 2048 points: %.2f x", failed ? 0.0 : g_channelUs / g_bareUs);
        } else if (name.rfind("BM_MeasCapa", 0) == 0) {
            const bool failed = run.error_occurred || g_measCapaUs < 0.0;
            c.record("MeasCapa over 2490 samples (median)", failed ? 0.0 : g_measCapaUs, kMeasCapaTargetUs, "us", 2, failed);
        }
    });
}
