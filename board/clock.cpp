#include "board/clock.h"

#include <atomic>

namespace {

class HostClock : public BoardClock {
public:
    timespec realtime() override
    {
        timespec t{};
        ::clock_gettime(CLOCK_REALTIME, &t);
        return t;
    }
    timespec monotonic() override
    {
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        return t;
    }
};

HostClock& hostClock()
{
    // Never destroyed: a thread may read it while the process ends.
    static HostClock* clock = new HostClock;
    return *clock;
}

std::atomic<BoardClock*> s_clock{nullptr};

} // namespace

BoardClock& boardClock()
{
    BoardClock* c = s_clock.load();
    return c ? *c : hostClock();
}

void setBoardClock(BoardClock* clock)
{
    s_clock.store(clock);
}
