// Message-box throughput. Target: an uncontended send + removing receive pair within 1 us.
#include "bench/support/benchsupport.h"
#include "core/requests.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

void BM_SendReceivePair(benchmark::State& state)
{
    TTavlinMessageBox<pipe_dial> box(kMessageBoxSlots);
    pipe_dial r{REQ_SET_PARAM, 38, 0, 0x10, 0.0f, 0};
    pipe_dial out{};
    for (auto _ : state) {
        box.send(&r);
        box.receive(&out, true, 0);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_SendReceivePair);

void BM_PingPong(benchmark::State& state)
{
    TTavlinMessageBox<pipe_dial> ping(kMessageBoxSlots), pong(kMessageBoxSlots);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        pipe_dial r{};
        while (true) {
            ping.receive(&r, true, 0);
            if (r.code < 0)
                break;
            pong.send(&r);
        }
    });
    pipe_dial r{REQ_SET_PARAM, 1, 0, 0, 0.0f, 0};
    for (auto _ : state) {
        ping.send(&r);
        pong.receive(&r, true, 0);
    }
    r.code = -1;
    ping.send(&r);
    echo.join();
}
BENCHMARK(BM_PingPong)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    return benchsupport::runChecked([](const benchsupport::TRun& run, benchsupport::TTargetChecker& c) {
        if (run.benchmark_name().rfind("BM_SendReceivePair", 0) == 0)
            c.record("send+receive pair", benchsupport::realTime(run, benchmark::kNanosecond), 1000.0, "ns", 1);
    });
}
