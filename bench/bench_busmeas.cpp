// Bus measurements on traces of the simulated CAN source. Targets: MeasPixT_bus over 2000..98000
// of a noisy trace at most 0.5 ms a call (the scope kernel meas_pix on the same trace is shown
// beside it); one newAcq of a jitter step at most 5 ms (the bus thread holds o_g_autoMeasMutex
// that long); 100,000 instants of the bus source in random order at most 10 ms.
#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "bench/support/benchsupport.h"
#include "board/sim/simboard.h"
#include "busanalysis/busmeasfactory.h"
#include "busanalysis/busmeasurement.h"
#include "core/gest_db.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

namespace {

std::vector<double> kernelTimes, scopeTimes, acqTimes, sourceTimes, heldTimes;

double elapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

std::vector<uint32_t> busTrace(int timeBase, int occurrence)
{
    std::vector<uint32_t> words(100000);
    simboard::TBusTraceRequest q;
    q.timeBase = timeBase;
    q.event = simboard::TBusTraceRequest::FallingEdge;
    q.occurrence = occurrence;
    q.triggerIndex = 50000;
    simboard::sampleBusTrace(q, words.data());
    return words;
}

void BM_MeasPixTBus(benchmark::State& state)
{
    const std::vector<uint32_t> trace = busTrace(11, 0);
    TBusAutoMeas bus;
    mesures scope{};
    for (auto _ : state) {
        auto t = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(MeasPixT_bus(trace.data(), &bus, 2000, 98000, 0));
        kernelTimes.push_back(elapsedMs(t));
        t = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(meas_pix(trace.data(), &scope, 2000, 98000, 0x7FFE0));
        scopeTimes.push_back(elapsedMs(t));
    }
}
BENCHMARK(BM_MeasPixTBus)->Iterations(200);

void BM_NewAcqJitterStep(benchmark::State& state)
{
    auto factory = std::make_unique<TBusMeasFactory>();
    auto trace = std::make_unique<TAcquisition>(1);
    auto setup = std::make_unique<database>();
    setupLinks().acqCh1 = trace.get();
    factory->timeBitTheo = 2000;
    factory->trigAuto = true;
    factory->nbAcq = 150;
    const std::vector<uint32_t> words = busTrace(12, 3);
    TBusAutoMeas m;
    for (auto _ : state) {
        std::copy(words.begin(), words.end(), trace->samples);
        auto t = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(factory->newAcq(setup.get(), &m));
        acqTimes.push_back(elapsedMs(t));
    }
    setupLinks().acqCh1 = nullptr;
}
BENCHMARK(BM_NewAcqJitterStep)->Iterations(100);

// One acquisition of the jitter step as the bus thread evaluates it: the lock held around newAcq
// and the step's measurement (the jitter figure computed from the histograms).
void BM_JitterStepUnderLock(benchmark::State& state)
{
    auto factory = std::make_unique<TBusMeasFactory>();
    auto trace = std::make_unique<TAcquisition>(1);
    auto setup = std::make_unique<database>(init_par);
    setupLinks().acqCh1 = trace.get();
    factory->timeBitTheo = 2000;
    factory->trigAuto = true;
    factory->nbAcq = 150;
    TBusMeasurement jitter;
    jitter.idmesure = 0x4080;
    jitter.nbmesuresmax = 1;
    std::vector<std::vector<uint32_t>> records;
    for (int k = 0; k < 8; ++k)
        records.push_back(busTrace(12, k));
    TBusAutoMeas m;
    int k = 0;
    for (auto _ : state) {
        std::copy(records[k % 8].begin(), records[k % 8].end(), trace->samples);
        ++k;
        auto t = std::chrono::steady_clock::now();
        pthread_mutex_lock(&o_g_autoMeasMutex);
        benchmark::DoNotOptimize(factory->newAcq(setup.get(), &m));
        benchmark::DoNotOptimize(jitter.setBusMeasPixValues(factory.get(), &m));
        pthread_mutex_unlock(&o_g_autoMeasMutex);
        heldTimes.push_back(elapsedMs(t));
    }
    setupLinks().acqCh1 = nullptr;
}
BENCHMARK(BM_JitterStepUnderLock)->Iterations(150);

void BM_BusSourceRandomInstants(benchmark::State& state)
{
    std::vector<double> instants(100000);
    for (size_t i = 0; i < instants.size(); ++i)
        instants[i] = 1e-3 + static_cast<double>(i) * 4e-10;
    std::shuffle(instants.begin(), instants.end(), std::mt19937(7));
    const std::shared_ptr<const simboard::bus::TBusModel> model = simboard::scenario().signals[0].busModel;
    for (auto _ : state) {
        auto t = std::chrono::steady_clock::now();
        double sum = 0;
        for (double x : instants)
            sum += simboard::bus::wireVolts(*model, simboard::kBusDiff, x);
        benchmark::DoNotOptimize(sum);
        sourceTimes.push_back(elapsedMs(t));
    }
}
BENCHMARK(BM_BusSourceRandomInstants)->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchsupport::TTargetChecker checker;
    {
        benchsupport::TBenchBoard board;
        if (!board.ok())
            return 2;
        simboard::updateScenario([](simboard::TScenario& s) {
            s.signals[0].shape = "bus";
            s.signals[0].attenuation = 10;
            s.bus.noise = 0.02;
        });
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    checker.record("MeasPixT_bus over 2000..98000 of a noisy CAN trace, median",
                   1000 * benchsupport::median(kernelTimes), 500, "us", 0, kernelTimes.empty());
    std::printf("for comparison: meas_pix on the same trace, median %.0f us\n", 1000 * benchsupport::median(scopeTimes));
    checker.record("newAcq of a jitter step, median", benchsupport::median(acqTimes), 5.0, "ms", 3, acqTimes.empty());
    checker.record("jitter step acquisition evaluated under o_g_autoMeasMutex, median", benchsupport::median(heldTimes),
                   5.0, "ms", 3, heldTimes.empty());
    if (!heldTimes.empty())
        std::printf("jitter step: longest hold %.2f ms over %zu acquisitions\n",
                    *std::max_element(heldTimes.begin(), heldTimes.end()), heldTimes.size());
    checker.record("100,000 bus-source instants in random order, median", benchsupport::median(sourceTimes), 10.0,
                   "ms", 2, sourceTimes.empty());
    return checker.exitStatus();
}
