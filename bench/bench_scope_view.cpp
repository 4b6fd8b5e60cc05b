// Drawing cost of the live scope view on the simulated board: the program's own start-up in this
// process (controller, acquisition threads, the root window and its scope view under the test
// display, with the renderer the program would pick), the default scenario with 1 and 4 channels
// shown, then 4 channels of which three carry noise, then 4 noisy channels at the default time
// base and at the fastest real-time base; 10 s each. Reported: processor time a second of the
// whole process, frames drawn a second, pictures a second (repaints asked for by traces whose
// rows changed, every trace screen counted), resident memory and records a second. Targets: at
// most 0.5 core with 4 channels, at most 60 frames/s, at most 100 MB; with 4 noisy channels at
// most 0.5 core, and at the real-time base (every record changes every trace) 25 frames/s or
// more. At the default base (equivalent time) a record brings one sample in 40 of the record and
// the display shows one point in 40: a channel's picture changes only with the records whose
// samples fall on the points shown, a few times a second, and the frames follow the pictures.
// At the real-time base the refreshes, 30 a second, set the frames.
// Run it under the test display:
// xvfb-run -a -s "-screen 0 800x480x24" bench_scope_view
#include "acquisition/scope.h"
#include "bench/support/benchsupport.h"
#include "board/board.h"
#include "board/sim/simboard.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "ui/frame/homeview.h"
#include "ui/qmltypes.h"
#include "ui/traces/tracescreen.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QTimer>
#include <QUrl>
#include <benchmark/benchmark.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace {

constexpr double kTargetCores = 0.5;
constexpr double kTargetFps = 60.0;
constexpr double kTargetNoisyFps = 25.0;
constexpr double kTargetRssMb = 100.0;
constexpr int kSettleMs = 3000;
constexpr int kDefaultTimeBase = 15;
constexpr int kNoisyTimeBase = 21;
// The fastest base sampled in real time: every record is dense.
constexpr int kRealTimeBase = 18;
constexpr int kMeasureMs = 10000;

std::atomic<long> s_frames{0};
std::atomic<long> s_refreshes{0};

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double residentMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0.0;
}

void setParam(int32_t parameter, intptr_t value)
{
    pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, kSenderUserInterface};
    o_g_consMessageBox.send(&r);
}

// As the program's main: the root window, handed to the controller once complete.
bool loadRootWindow()
{
    auto* engine = new QQmlEngine();
    auto* component = new QQmlComponent(engine, QUrl(QStringLiteral("qrc:/HomeView.qml")));
    auto* view = qobject_cast<HomeView*>(component->create());
    if (!view) {
        std::fprintf(stderr, "%s\n", qPrintable(component->errorString()));
        return false;
    }
    po_g_homeView = view;
    po_g_homeBridge.store(view, std::memory_order_release);
    QObject::connect(view, &QQuickWindow::frameSwapped, [] { s_frames.fetch_add(1); });
    QObject::connect(view, &HomeView::screenRefreshSignal, [] { s_refreshes.fetch_add(1); });
    emit view->complete();
    return true;
}

// Signal of a channel in the scenario the board started with (Qt's keyword macro hides the
// member's name).
#pragma push_macro("signals")
#undef signals
simboard::TSignal startSignal(int channel)
{
    static const simboard::TScenario start = simboard::scenario();
    return start.signals[channel];
}
#pragma pop_macro("signals")

// Arguments: channels shown; noise: 0 none, 1 on channels 2-4 at a streaming time base, so that
// every record changes the picture (at the default time base 15 the equivalent-time display fills
// in a few times a second, and the steady signals of the default scenario draw the same
// picture), 2 on all four channels at the default time base (the records' samples change, the
// points shown only now and then), 3 on all four channels at the fastest real-time base, where
// every record changes every trace.
void BM_ScopeView(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0));
    const int noise = static_cast<int>(state.range(1));
    for (int n = 0; n < 4; ++n) {
        simboard::TSignal s = startSignal(n);
        if ((noise == 1 && n > 0) || noise >= 2) {
            s.shape = "noise";
            s.vpp = 1.0;
        }
        simboard::setSignal(n, s);
    }
    const int32_t traces[4] = {param::traceOnCh1, param::traceOnCh2, param::traceOnCh3, param::traceOnCh4};
    for (int n = 0; n < 4; ++n)
        setParam(traces[n], n < channels ? 1 : 0);
    setParam(param::timeBaseIndex, noise == 1 ? kNoisyTimeBase : noise == 3 ? kRealTimeBase : kDefaultTimeBase);
    runEventsFor(kSettleMs);

    double cores = 0.0;
    double fps = 0.0;
    double records = 0.0;
    double refreshes = 0.0;
    double pictures = 0.0;
    for (auto _ : state) {
        const long frames0 = s_frames.load();
        const long refreshes0 = s_refreshes.load();
        const uint64_t pictures0 = TraceScreen::changedPictures();
        const uint64_t records0 = scopeProcessing().records;
        const double cpu0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        runEventsFor(kMeasureMs);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cores = (processCpuSeconds() - cpu0) / seconds;
        fps = static_cast<double>(s_frames.load() - frames0) / seconds;
        refreshes = static_cast<double>(s_refreshes.load() - refreshes0) / seconds;
        pictures = static_cast<double>(TraceScreen::changedPictures() - pictures0) / seconds;
        records = static_cast<double>(scopeProcessing().records - records0) / seconds;
    }
    state.counters["cores"] = cores;
    state.counters["frames_per_s"] = fps;
    state.counters["rss_mb"] = residentMb();
    state.counters["records_per_s"] = records;
    state.counters["refreshes_per_s"] = refreshes;
    state.counters["pictures_per_s"] = pictures;
    if (fps <= 0.0)
        state.SkipWithError("no frame was drawn");
}
BENCHMARK(BM_ScopeView)->Args({1, 0})->Args({4, 0})->Args({4, 1})->Args({4, 2})->Args({4, 3})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "no display: run under xvfb-run -a -s \"-screen 0 800x480x24\"\n");
        return 1;
    }
    benchsupport::TBoardOptions options;
    options.fpgaConfigured = true;
    benchsupport::TBenchBoard board(options);
    if (!board.ok())
        return 1;
    chooseQuickBackend();
    registerQmlTypes();
    Q_INIT_RESOURCE(ui);
    new QGuiApplication(argc, argv);  // lives for the whole run
    std::setlocale(LC_NUMERIC, "C");
    startThread(&COMM_id, command, nullptr, 65, false, "COMM");
    if (!loadRootWindow())
        return 1;
    // Start-up done and the window shown: then the user picks the oscilloscope.
    for (int waited = 0; waited < 20000 && !po_g_homeView->isVisible(); waited += 100)
        runEventsFor(100);
    runEventsFor(1000);
    setParam(param::instrumentMode, 16);

    const int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        const std::string name = run.benchmark_name();
        const bool four = name.find("ScopeView/4/0") != std::string::npos;
        const bool noisyEquivalent = name.find("ScopeView/4/2") != std::string::npos;
        const bool noisyRealTime = name.find("ScopeView/4/3") != std::string::npos;
        const double fps = benchsupport::counter(run, "frames_per_s");
        if (four || noisyEquivalent || noisyRealTime)
            c.record((name + " processor").c_str(), 100.0 * benchsupport::counter(run, "cores"), 100.0 * kTargetCores,
                     "% of a core", 0, run.error_occurred);
        if (noisyEquivalent || noisyRealTime)
            std::printf("%s: %.1f frames/s for %.1f pictures/s (all trace screens) and %.1f records/s (reported)\n",
                        name.c_str(), fps, benchsupport::counter(run, "pictures_per_s"),
                        benchsupport::counter(run, "records_per_s"));
        if (noisyRealTime) {
            c.check(!run.error_occurred && fps >= kTargetNoisyFps,
                    "BM_ScopeView/4/3 (4 noisy channels, time base 18) frames drawn %.1f/s (target at least 25/s)", fps);
        } else if (!noisyEquivalent) {
            c.record((name + " frames drawn").c_str(), fps, kTargetFps, "/s", 1, run.error_occurred);
        }
        c.record((name + " resident memory").c_str(), benchsupport::counter(run, "rss_mb"), kTargetRssMb, "MB", 0,
                 run.error_occurred);
    });
    // The controller and acquisition threads run on: leave without unwinding them.
    std::fflush(stdout);
    std::_Exit(status);
}
