// Acquisition read-out. Target (median of the timed calls): one ChipAcqRead pass (progress step
// and the framing of a 25,000-sample streaming block) under 50 us; it copies no sample.
#include "acquisition/acqctrl.h"
#include "bench/support/benchsupport.h"
#include "hardware/chip_acq.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

constexpr double kReadTargetUs = 50.0;
constexpr int32_t kBlockSamples = 25000;
double readMedianUs = 0.0;
bool readFailed = false;

// A streaming acquisition in its post-trigger phase with one block of new samples in the ring.
void prepare()
{
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    d.acqEvents = 0;
    d.readPosition = 0;
    d.autoTimerArmed = 1;
    d.delaySamples = 0;
    d.pretrigWords = d.triggerWords = d.posttrigWords = 0;
    pseudoPretrig = pseudoPostrig = 1000000;
    pseudoFPGA_IRQ4_STAT = 0;
    pseudoChipAcqPhotoTrig = 0;
    us_g_chipAcqStatus = 0x17;
    l_g_signalsBufferReadPtr = 0;
    l_g_signalsBufferWritePtrOld = 0;
    l_g_signalsBufferWritePtr = 4 * kBlockSamples;
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = SYNCHRO_SAMPLES;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

void BM_ReadOutPass(benchmark::State& state)
{
    acq_ctrl ctrl{};
    ctrl.acqMode = 16;
    ctrl.acqFlags = 0x80;
    ctrl.triggerMode = 1;
    ctrl.decimation = 1;
    ctrl.cycleChannels = 0xF;
    std::vector<double> times;
    for (auto _ : state) {
        state.PauseTiming();
        prepare();
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        const int events = ChipAcqRead(&ctrl, 0);
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());

        if (!(events & 0x400) || ctrl.newSamples != static_cast<uint32_t>(kBlockSamples) || ctrl.ringStart != 0) {
            state.SkipWithError("the pass did not frame the block");
            readFailed = true;
            break;
        }
    }
    if (times.empty())
        return;
    readMedianUs = benchsupport::median(times);
    state.counters["median_us"] = readMedianUs;
}
BENCHMARK(BM_ReadOutPass)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    benchsupport::TTargetChecker checker;
    checker.record("read-out pass median", readMedianUs, kReadTargetUs, "us", 2, readFailed);
    return checker.exitStatus();
}
