// One spectrum frame: Fft on 2500 points (Hanning window, dB scale, zoom 1: window, transform,
// module, shift, zoom, interpolation) against the bare rfftw_one call of the same plan, timed
// alternately in the same run. Target: the frame within 2 times the bare transform.
#include "acquisition/fft.h"
#include "bench/support/benchsupport.h"
#include "core/scale.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr double kTargetRatio = 2.0;
double g_frameUs = -1.0;
double g_bareUs = -1.0;

// An inverted envelope of a noisy sine, as the scope cycle hands it over.
std::vector<uint32_t> envelope()
{
    std::mt19937 rng(12345);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<uint32_t> v(kFftPoints);
    for (int i = 0; i < kFftPoints; ++i) {
        const double code = 524256.0 + 40000.0 * std::sin(2.0 * M_PI * 37.3 * i / kFftPoints) + noise(rng);
        v[i] = ~uint32_t(std::lround(code)) & 0xFFFFFu;
    }
    return v;
}

void BM_FftFrame(benchmark::State& state)
{
    fftInit();
    const std::vector<uint32_t> input = envelope();
    const float unitsPerCode = GetSensitivity(8, SCALE_SCOPE);
    std::vector<uint32_t> points(kFftPoints);
    std::vector<float> in(kFftPoints);
    std::vector<float> out(kFftPoints);
    for (int i = 0; i < kFftPoints; ++i)
        in[i] = float(int32_t(input[i]));
    const rfftw_plan plan = fftPlan();

    std::vector<double> frame;
    std::vector<double> bare;
    for (auto _ : state) {
        std::memcpy(points.data(), input.data(), kFftPoints * sizeof(uint32_t));
        auto start = std::chrono::steady_clock::now();
        Fft(points.data(), 2, 1, unitsPerCode, 1.0f, 0, 0);
        frame.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(points.data());

        start = std::chrono::steady_clock::now();
        rfftw_one(plan, in.data(), out.data());
        bare.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(out.data());
    }
    if (points[0] == kFftEmpty) {
        state.SkipWithError("the frame produced no spectrum");
        return;
    }
    if (frame.empty())
        return;
    g_frameUs = benchsupport::median(frame);
    g_bareUs = benchsupport::median(bare);
    state.counters["frame_us"] = g_frameUs;
    state.counters["rfftw_one_us"] = g_bareUs;
    state.counters["ratio"] = g_bareUs > 0.0 ? g_frameUs / g_bareUs : 0.0;
}
BENCHMARK(BM_FftFrame)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const bool failed = run.error_occurred || g_frameUs < 0.0 || g_bareUs <= 0.0;
        c.record("Fft frame / bare rfftw_one (median)", failed ? 0.0 : g_frameUs / g_bareUs, kTargetRatio, "x", 2,
                 failed);
        c.check(!failed, "Fft frame median %.1f us", g_frameUs);
    });
}
