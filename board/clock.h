// The host's clocks as the recorder reads them: the real-time clock for dates, the monotonic
// clock for counting ticks. Tests put their own clock in place to run hours in a moment.
#pragma once

#include <ctime>

class BoardClock {
public:
    virtual ~BoardClock() = default;
    virtual timespec realtime() = 0;
    virtual timespec monotonic() = 0;
};

// The clock in use: the host's unless a test set another.
BoardClock& boardClock();
// nullptr restores the host's clock. The caller keeps ownership.
void setBoardClock(BoardClock* clock);
