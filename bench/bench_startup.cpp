// Start-up on the simulated board. Target: benchview ready (SCPI over TCP and HTTP answering; the
// home screen's start-up message is cleared in the same step as the services start) within
// 2 s of the spawn, median of the runs.
// Its parts, in this process on a board of the benchmark's own: the self test's first half
// (AutoTest: pipelines and scaling paths), its second half (AcqTransfertInit: the offset tables
// and the time verniers), each with the board's quick calibration, as the start-up runs them, and
// with the real board's pacing (every settling pause and acquisition in wall time) beside it.
// The run also checks that both pacings leave the same self-test word, vernier limits and offset
// tables.
#include "bench/support/benchsupport.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/selftest.h"
#include "hardware/vernier.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kScpiPort = 23;
constexpr int kHttpPort = 80;
constexpr double kReadyTargetMs = 2000.0;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Sends request on a fresh connection and waits for the first byte of a reply: false at the
// time-out.
bool answers(int port, const char* request, Clock::time_point deadline)
{
    while (Clock::now() < deadline) {
        const int fd = benchsupport::connectLoopback(port, 50);
        if (fd < 0)
            continue;
        bool got = false;
        if (benchsupport::sendAll(fd, request, std::strlen(request))) {
            pollfd p{fd, POLLIN, 0};
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            char c;
            got = ::poll(&p, 1, left > 0 ? left : 0) == 1 && ::read(fd, &c, 1) == 1;
        }
        ::close(fd);
        if (got)
            return true;
    }
    return false;
}

// The whole program: spawn to the first SCPI answer and to the first HTTP answer.
void BM_TimeToReady(benchmark::State& state)
{
    std::vector<double> scpi, http, ready;
    for (auto _ : state) {
        benchsupport::TProgram program;
        const auto start = Clock::now();
        if (!benchsupport::startProgram(&program, {})) {
            state.SkipWithError("benchview did not start");
            return;
        }
        const auto deadline = start + std::chrono::seconds(60);
        const bool scpiOk = answers(kScpiPort + program.portOffset, "*IDN?\n", deadline);
        const double scpiMs = msSince(start);
        const bool httpOk = answers(kHttpPort + program.portOffset, "GET / HTTP/1.0\r\n\r\n", deadline);
        const double httpMs = msSince(start);
        benchsupport::stopProgram(&program);
        if (!scpiOk || !httpOk) {
            state.SkipWithError("benchview never answered");
            return;
        }
        scpi.push_back(scpiMs);
        http.push_back(httpMs);
        ready.push_back(std::max(scpiMs, httpMs));
    }
    state.counters["scpi_ms"] = benchsupport::median(scpi);
    state.counters["http_ms"] = benchsupport::median(http);
    state.counters["ready_ms"] = benchsupport::median(ready);
}
BENCHMARK(BM_TimeToReady)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The in-process board, the driver started once.
bool driverBoard()
{
    static bool ok = [] {
        static benchsupport::TBenchBoard* board = [] {
            benchsupport::TBoardOptions options;
            options.fpgaConfigured = true;
            options.loadInitialSetup = true;
            return new benchsupport::TBenchBoard(options);
        }();
        if (!board->ok() || ChipAcqDrv() != 0)
            return false;
        data.hwChannelMask = 15;
        simboard::setInputsConnected(false);   // flat inputs: the offset tables read the board alone
        return true;
    }();
    return ok;
}

// What the self test leaves behind: its word, the vernier limits and the offset tables.
struct TSelfTestResults {
    uint16_t word = 0;
    std::vector<int> limits;    // per channel: minimum, maximum
    std::vector<int> offsets;   // per channel: the bypass offsets, then the four tables
};

TSelfTestResults results(uint16_t word)
{
    TSelfTestResults r;
    r.word = word;
    for (int ch = 0; ch < 4; ++ch) {
        r.limits.push_back(vernierMinOf(ch));
        r.limits.push_back(vernierMaxOf(ch));
        r.offsets.push_back(bypassMinOffsetOf(ch));
        r.offsets.push_back(bypassMaxOffsetOf(ch));
        for (int group = 0; group < 4; ++group)
            r.offsets.insert(r.offsets.end(), matriceOffsetsOf(ch, group), matriceOffsetsOf(ch, group) + kPhaseCount);
    }
    return r;
}

// The same outcome: the same word, offsets within a code (sample noise), vernier limits within
// 1/16 of the board's range (they come from 128 random trigger placements).
bool sameOutcome(const TSelfTestResults& a, const TSelfTestResults& b)
{
    if (a.word != b.word || a.limits.size() != b.limits.size() || a.offsets.size() != b.offsets.size())
        return false;
    const simboard::TVernierLimits board = simboard::vernierLimits();
    for (size_t i = 0; i < a.limits.size(); ++i)
        if (std::abs(a.limits[i] - b.limits[i]) > (board.max - board.min) / 16)
            return false;
    for (size_t i = 0; i < a.offsets.size(); ++i)
        if (std::abs(a.offsets[i] - b.offsets[i]) > 1)
            return false;
    return true;
}

TSelfTestResults g_results[2];   // by quickness: what the last second half left

// One half of the self test (0: AutoTest, 1: AcqTransfertInit) per iteration, the start-up's
// FrontEndInit before it; quick: the board's quick calibration around it.
void selfTestHalf(benchmark::State& state, int half, bool quick)
{
    if (!driverBoard()) {
        state.SkipWithError("no simulated board");
        return;
    }
    std::vector<double> samples;
    for (auto _ : state) {
        if (half == 1) {
            state.PauseTiming();
            deviceIO().quickCalibration(true);   // the first half only prepares the second
            FrontEndInit(&param_calibr);
            data.selfTestResult = AutoTest(&param_calibr);
            deviceIO().quickCalibration(false);
            state.ResumeTiming();
        }
        const auto start = Clock::now();
        deviceIO().quickCalibration(quick);
        FrontEndInit(&param_calibr);
        const uint16_t word = half == 0 ? AutoTest(&param_calibr) : AcqTransfertInit(&param_calibr);
        deviceIO().quickCalibration(false);
        samples.push_back(msSince(start));
        if (half == 1)
            g_results[quick ? 1 : 0] = results(word);
    }
    state.counters["median_ms"] = benchsupport::median(samples);
}

void BM_SelfTestPipelinesAndScaling_Quick(benchmark::State& state) { selfTestHalf(state, 0, true); }
void BM_SelfTestPipelinesAndScaling_RealPacing(benchmark::State& state) { selfTestHalf(state, 0, false); }
void BM_SelfTestOffsetTablesAndVerniers_Quick(benchmark::State& state) { selfTestHalf(state, 1, true); }
void BM_SelfTestOffsetTablesAndVerniers_RealPacing(benchmark::State& state) { selfTestHalf(state, 1, false); }
BENCHMARK(BM_SelfTestPipelinesAndScaling_Quick)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SelfTestPipelinesAndScaling_RealPacing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_SelfTestOffsetTablesAndVerniers_Quick)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SelfTestOffsetTablesAndVerniers_RealPacing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const int status = benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& checker) {
        if (run.benchmark_name().rfind("BM_TimeToReady", 0) == 0 && !run.error_occurred)
            checker.record("time to ready", benchsupport::counter(run, "ready_ms"), kReadyTargetMs, "ms", 0);
        if (run.benchmark_name().rfind("BM_SelfTestOffsetTablesAndVerniers_RealPacing", 0) == 0 && !run.error_occurred)
            checker.check(sameOutcome(g_results[0], g_results[1]) && g_results[1].word == 0xFFFF,
                          "self-test word %.0f, vernier limits and offset tables the same with either pacing",
                          g_results[1].word);
    });
    return status;
}
