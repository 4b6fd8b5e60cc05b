// Measurement kernels. Target: meas_pix over a 100,000-point trace costs at most three plain
// vectorised passes over the same words (a sum of the valid codes, timed in the same run), for
// a square wave and a noisy sine, over the whole trace and over 5000..95000.
#include "acquisition/measkernel.h"
#include "bench/support/benchsupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int kSize = 100000;
constexpr double kTargetRatio = 3.0;
constexpr int32_t kCentre = 0x7FFE0;

std::vector<uint32_t> makeTrace(int shape)
{
    std::vector<uint32_t> v(kSize);
    for (int i = 0; i < kSize; ++i) {
        if (shape == 0) {
            v[i] = i % 1000 < 500 ? 458736u : 589776u;
        } else {
            const unsigned noise = (static_cast<unsigned>(i) * 2654435761u) >> 21;  // 0..2047
            v[i] = static_cast<uint32_t>(std::lround(kCentre + 60000.0 * std::sin(2 * M_PI * i / 2345.0))) +
                   noise - 1024;
        }
    }
    return v;
}

// The reference pass: one read of every word, summing the valid codes, written with SSE2
// intrinsics so that it is a vectorised pass whatever the compiler chooses: 32-bit lane sums
// over blocks too short to carry (4 x 4096 codes below 2^20), widened once a block.
__attribute__((noinline)) uint64_t plainSum(const uint32_t* s, int first, int last)
{
    uint64_t sum = 0;
    int i = first;
#if defined(__SSE2__)
    const __m128i codeMask = _mm_set1_epi32(0xFFFFF);
    const __m128i zero = _mm_setzero_si128();
    __m128i wide = zero;
    while (last - i >= 4) {
        const int end = i + std::min(4 * 4096, (last - i) & ~3);
        __m128i lanes = zero;
        for (; i < end; i += 4) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i ok = _mm_cmpeq_epi32(_mm_srli_epi32(x, 30), zero);
            lanes = _mm_add_epi32(lanes, _mm_and_si128(_mm_and_si128(x, codeMask), ok));
        }
        wide = _mm_add_epi64(wide, _mm_add_epi64(_mm_unpacklo_epi32(lanes, zero), _mm_unpackhi_epi32(lanes, zero)));
    }
    alignas(16) uint64_t parts[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(parts), wide);
    sum = parts[0] + parts[1];
#endif
    for (; i < last; ++i)
        if (s[i] < 0x40000000u)
            sum += s[i] & 0xFFFFFu;
    return sum;
}

double elapsedUs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - since).count();
}

// Arguments: shape (0 square, 1 noisy sine), window (0 whole trace, 1 5000..95000). Each
// iteration times one plain pass and one meas_pix call back to back, so that both see the same
// machine load; the ratio is that of the medians.
void BM_MeasPix(benchmark::State& state)
{
    const std::vector<uint32_t> trace = makeTrace(static_cast<int>(state.range(0)));
    const int first = state.range(1) ? 5000 : 0;
    const int last = state.range(1) ? 95000 : kSize;

    mesures m{};
    std::vector<double> sumTimes;
    std::vector<double> measTimes;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(plainSum(trace.data(), first, last));
        sumTimes.push_back(elapsedUs(start));

        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(meas_pix(trace.data(), &m, first, last, kCentre));
        benchmark::ClobberMemory();
        const double us = elapsedUs(start);
        measTimes.push_back(us);
        state.SetIterationTime(us * 1e-6);
    }
    if ((m.flags & 0xFF0) != 0xFF0)
        state.SkipWithError("no edges measured");
    const double measUs = benchsupport::median(measTimes);
    const double sumUs = benchsupport::median(sumTimes);
    state.counters["meas_pix_us"] = measUs;
    state.counters["sum_us"] = sumUs;
    state.counters["ratio"] = sumUs > 0.0 ? measUs / sumUs : 0.0;
}
BENCHMARK(BM_MeasPix)->ArgsProduct({{0, 1}, {0, 1}})->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const auto ratio = run.counters.find("ratio");
        const double value = ratio == run.counters.end() ? 0.0 : static_cast<double>(ratio->second);
        const std::string what = run.benchmark_name() + " time / plain pass";
        c.record(what.c_str(), value, kTargetRatio, "x", 2, run.error_occurred || value <= 0.0);
    });
}
