// Helpers of the real-time acquisition tests: the engine pacer, the driver's synchronisation
// detail and the views of the sample ring and time bases these tests share.
#pragma once

#include "board/sim/simboard.h"
#include "core/scale.h"
#include "hardware/chip_acq.h"
#include "hardware/handshake.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace realtime {

// Sets the detail the driver's threads wait on and wakes them.
inline void setDetail(TSynchroDetail value)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = value;
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

// Seconds per record position of a time base.
inline double positionSeconds(int timeBase)
{
    return static_cast<double>(GetHorizontalScaleT(static_cast<unsigned short>(timeBase)));
}

// `samples` samples of the driver's ring from word `start` on, all four channels.
inline std::vector<simboard::TSample> copyBlock(int32_t start, uint32_t samples)
{
    std::vector<simboard::TSample> out(samples);
    int32_t pos = start;
    for (uint32_t i = 0; i < samples; ++i) {
        for (int ch = 0; ch < 4; ++ch)
            out[i][ch] = tus_l_signalsBuffer[pos + ch];
        pos = (pos + 4) % kRingWords;
    }
    return out;
}

// How a TPacer waits between steps. After each step it waits (checking every `poll`, for 100 ms
// at the most) until the driver took the pending interrupts and the FIFO has room, then `settle`.
// With settleWhenIdle false a step that raised nothing is followed at once by the next.
struct TPacing {
    std::chrono::microseconds poll;
    std::chrono::microseconds settle;
    bool settleWhenIdle;
};

// Drives the paused engine in steps of stepNs of simulated time, each once the driver handled
// what the previous one raised: a loaded machine then cannot fill the FIFO, leave a trigger
// position unread or keep an event waiting for the next one, which would pause the sample clock
// and put a gap into the signal.
class TPacer {
public:
    TPacer() = default;
    TPacer(uint64_t stepNs, TPacing pacing) { start(stepNs, pacing); }
    TPacer(const TPacer&) = delete;
    TPacer& operator=(const TPacer&) = delete;
    ~TPacer() { stop(); }

    void start(uint64_t stepNs, TPacing pacing)
    {
        stop();
        stop_.store(false);
        simboard::setEnginePaused(true);
        thread_ = std::thread([this, stepNs, pacing] {
            while (!stop_.load()) {
                simboard::runEngine(stepNs);
                if (!pacing.settleWhenIdle && !busy())
                    continue;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                while (!stop_.load() && std::chrono::steady_clock::now() < deadline && busy())
                    std::this_thread::sleep_for(pacing.poll);
                std::this_thread::sleep_for(pacing.settle);
            }
        });
    }
    void stop()
    {
        if (!thread_.joinable())
            return;
        stop_.store(true);
        thread_.join();
        simboard::setEnginePaused(false);
    }

private:
    static bool busy()
    {
        return (simboard::status() & simboard::interruptMask()) != 0 || simboard::fifo().count >= 4000;
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace realtime
