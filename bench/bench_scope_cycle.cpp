// The whole oscilloscope cycle on the simulated board, four channels shown and the automatic
// measurements on, at time bases 15 (equivalent time) and 21 (middle). The board runs fast and is
// stepped as soon as the driver took its last event, so its pacing does not limit the cycle.
// Reported: complete records a second end to end, and the cycle's own processing from the
// read-out that completed a record to its notice. Target: processing <= 10 ms a record.
#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/scope.h"
#include "bench/support/benchsupport.h"
#include "board/sim/simboard.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/setup.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/handshake.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr double kTargetMs = 10.0;

struct TFigures {
    int timeBase = 0;
    double perSecond = 0.0;
    double meanMs = 0.0;
    double maxMs = 0.0;
    bool failed = false;
};
TFigures s_figures[2];
int s_runs = 0;

void setDetail(TSynchroDetail value)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = value;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

bool openDriver()
{
    static bool opened = false;
    static bool ok = false;
    if (opened)
        return ok;
    opened = true;
    simboard::updateScenario([](simboard::TScenario& s) {
        for (int c = 0; c < 4; ++c) {
            s.signals[c].shape = "sine";
            s.signals[c].vpp = 2.0;
            s.signals[c].frequency = 1000.0 * (c + 1);
        }
    });
    ok = ChipAcqDrv() == 0 && ChipAcqBoardPresent();
    if (!ok) {
        std::fprintf(stderr, "driver not opened\n");
        return false;
    }
    Startup(&param_calibr, 15);
    data.instrumentMode = 16;
    data.hwChannelMask = 15;
    data.channelFlags = 0xF;
    data.traceOnCh1 = data.traceOnCh2 = data.traceOnCh3 = data.traceOnCh4 = 1;
    data.trigMode = 0;
    data.acqRunStop = 0;
    data.cursorState = 3;  // automatic measurements shown
    // 0.5 V/div, DC, edge trigger at 0 V rising on channel 1.
    data.sensitivityCh1 = data.sensitivityCh2 = data.sensitivityCh3 = data.sensitivityCh4 = 7;
    data.couplingCh1 = data.couplingCh2 = data.couplingCh3 = data.couplingCh4 = 0;
    data.trigSource = 0;
    data.trigLevelCh1 = 0;
    data.trigEdgeCh1 = 0;
    data.repSig = 0;
    data.minMax = 0;
    data.traceMode = 0;
    data.traceFormat = 0;
    return true;
}

// Steps the paused engine as soon as the driver took what the previous step raised.
class TStepper {
public:
    explicit TStepper(uint64_t stepNs)
    {
        simboard::setEnginePaused(true);
        thread_ = std::thread([this, stepNs] {
            while (!stop_.load()) {
                simboard::runEngine(stepNs);
                // An event the interrupt thread missed is raised again by the next step.
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
                while (!stop_.load() && std::chrono::steady_clock::now() < deadline &&
                       ((simboard::status() & simboard::interruptMask()) != 0 || simboard::fifo().count >= 4000))
                    std::this_thread::yield();
            }
        });
    }
    ~TStepper()
    {
        stop_.store(true);
        thread_.join();
        simboard::setEnginePaused(false);
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_ScopeCycle(benchmark::State& state)
{
    const int timeBase = static_cast<int>(state.range(0));
    TFigures& figures = s_figures[timeBase == 15 ? 0 : 1];
    figures.timeBase = timeBase;
    if (!openDriver()) {
        figures.failed = true;
        state.SkipWithError("no driver");
        return;
    }
    data.timeBaseIndex = data.userTimeBase = static_cast<int16_t>(timeBase);
    acq_ctrl ctrl{};
    affect_par(&data, 29, &param_calibr, &ctrl);
    ProgramFE(29, &ctrl, &param_calibr);
    ProgScalingsPowerDown(ctrl.poweredChannels);
    ChipAcqIoctl(CHIPACQ_SCOPE, &ctrl);
    setDetail(SYNCHRO_TIMEBASE_CHANGE);

    // Steps of a few hundred record positions: never more than the FIFO takes at once.
    const double positionSeconds = GetHorizontalScaleT(static_cast<unsigned short>(timeBase));
    TStepper stepper(std::max<uint64_t>(1000, static_cast<uint64_t>(positionSeconds * 2e11)));
    std::thread cycle([&] { Scope(&data, &ctrl); });

    // Takes the controller's part: every notice taken clears the pending flag.
    auto drain = [] {
        pipe_dial r{};
        while (o_g_consMessageBox.peek(&r)) {
            o_g_consMessageBox.receive(&r, true, 1);
            if (r.kind == REQ_CHANNEL_STATE || r.kind == REQ_CHANNEL_STATE2)
                b_g_stateNoticePending.store(false);
        }
    };
    resetScopeProcessing();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const uint64_t before = scopeProcessing().records;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (scopeProcessing().records == before && std::chrono::steady_clock::now() < deadline) {
            drain();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (scopeProcessing().records == before) {
            state.SkipWithError("no complete record within 10 s");
            figures.failed = true;
            break;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    AcqStopNoWait();
    cycle.join();
    drain();

    const TScopeProcessing p = scopeProcessing();
    if (p.records > 0 && !figures.failed) {
        figures.perSecond = p.records / seconds;
        figures.meanMs = p.totalNs / p.records / 1e6;
        figures.maxMs = p.maxNs / 1e6;
        state.counters["records_per_s"] = figures.perSecond;
        state.counters["processing_ms"] = figures.meanMs;
        state.counters["processing_max_ms"] = figures.maxMs;
        state.counters["target_ratio"] = figures.meanMs / kTargetMs;
    }
    ++s_runs;
}
// Time base 21 streams the record at the board's pace: fewer records.
BENCHMARK(BM_ScopeCycle)->ArgName("time_base")->Arg(15)->Iterations(200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScopeCycle)->ArgName("time_base")->Arg(21)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchsupport::TBenchBoard board(benchsupport::driverBoardOptions());
    if (!board.ok())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    benchsupport::TTargetChecker checker;
    for (const TFigures& f : s_figures) {
        if (f.timeBase == 0)
            continue;  // not selected
        char what[128];
        std::snprintf(what, sizeof what, "scope cycle processing per record, four channels, time base %d", f.timeBase);
        checker.record(what, f.meanMs, kTargetMs, "ms", 3, f.failed);
        std::printf("time base %d: %.1f records/s end to end, processing mean %.3f ms, max %.3f ms\n", f.timeBase,
                    f.perSecond, f.meanMs, f.maxMs);
    }
    // Released by the board's destructor: the real-time driver threads stay parked.
    simboard::shutdown();
    return checker.exitStatus();
}
