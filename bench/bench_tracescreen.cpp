// Trace drawing. Targets: one frame of four traces (their conversions plus the trace screen's
// paint into an image of the scope's main-screen size) at least 50 frames/s, five times the
// 10 frames/s that the display must hold; the conversion of one trace at most 50 us.
#include "acquisition/TAcquisition.h"
#include "bench/support/benchsupport.h"
#include "core/gest_db.h"
#include "ui/traces/trace.h"
#include "ui/traces/tracescreen.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr double kTargetFps = 50.0;
constexpr double kTargetConversionUs = 50.0;
constexpr int kWidth = 725;
constexpr int kHeight = 330;

// Four channels of noisy sines over most of the screen height, linked into the setup.
struct TFixtureTraces {
    std::unique_ptr<TAcquisition> channels[4];

    TFixtureTraces()
    {
        TAcquisition** links[4] = {&setupLinks().acqCh1, &setupLinks().acqCh2, &setupLinks().acqCh3,
                                   &setupLinks().acqCh4};
        for (int ch = 0; ch < 4; ++ch) {
            channels[ch] = std::make_unique<TAcquisition>(static_cast<unsigned short>(1 << ch));
            *links[ch] = channels[ch].get();
            for (int i = 0; i < 2500; ++i) {
                const unsigned noise = ((static_cast<unsigned>(i + 977 * ch) * 2654435761u) >> 20) % 6000;
                const double s = std::sin(2 * M_PI * (ch + 1) * i / 2500.0 + ch);
                const uint32_t code = static_cast<uint32_t>(524256 + 110000 * s) + noise - 3000;
                channels[ch]->loggerRaw[i] = channels[ch]->loggerEnvelope[i] = code;
            }
        }
    }
    ~TFixtureTraces()
    {
        setupLinks().acqCh1 = setupLinks().acqCh2 = setupLinks().acqCh3 = setupLinks().acqCh4 = nullptr;
    }
};

void waitFirstConversion(Trace* t)
{
    while (t->conversions() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void BM_FrameOfFourTraces(benchmark::State& state)
{
    TFixtureTraces fixture;
    TraceScreen screen(nullptr, 0x000F, 0, 0, kWidth, kHeight);
    screen.setCompressed(false);
    Trace* traces[4];
    for (int ch = 0; ch < 4; ++ch) {
        traces[ch] = screen.trace(TraceScreen::kLiveSlot + ch);
        // The constructor's refresh: its conversions end before the timed ones start.
        waitFirstConversion(traces[ch]);
    }
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> frameUs;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (Trace* t : traces)
            t->samplesToPixels();
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            screen.paint(&painter);
        }
        benchmark::ClobberMemory();
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        frameUs.push_back(us);
        state.SetIterationTime(us * 1e-6);
    }
    const double us = benchsupport::median(frameUs);
    state.counters["frames_per_s"] = us > 0 ? 1e6 / us : 0.0;
}
BENCHMARK(BM_FrameOfFourTraces)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ConversionOfOneTrace(benchmark::State& state)
{
    TFixtureTraces fixture;
    Trace trace(0);
    trace.setCompressed(false);
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        trace.samplesToPixels();
        benchmark::ClobberMemory();
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        times.push_back(us);
        state.SetIterationTime(us * 1e-6);
    }
    state.counters["conversion_us"] = benchsupport::median(times);
}
BENCHMARK(BM_ConversionOfOneTrace)->UseManualTime()->Unit(benchmark::kMicrosecond);

double counter(const benchsupport::TRun& run, const char* name)
{
    const auto it = run.counters.find(name);
    return it == run.counters.end() ? 0.0 : static_cast<double>(it->second);
}

} // namespace

int main(int argc, char** argv)
{
    // Painting into images needs a GUI application, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchsupport::TBoardOptions options;
    options.loadInitialSetup = true;
    benchsupport::TBenchBoard board(options);
    if (!board.ok())
        return 1;
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        if (run.benchmark_name().rfind("BM_FrameOfFourTraces", 0) == 0) {
            const double fps = counter(run, "frames_per_s");
            c.check(!run.error_occurred && fps >= kTargetFps,
                    "one frame of four traces: %.1f frames/s (target >= 50 frames/s)", fps);
        } else {
            const double us = counter(run, "conversion_us");
            c.record("conversion of one trace", us, kTargetConversionUs, "us", 1, run.error_occurred || us <= 0.0);
        }
    });
}
