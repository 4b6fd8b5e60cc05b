// Scale and unit helpers: the time-base tables and the vertical scale of a trace.
#pragma once

#include <cstdint>

class TAcquisition;

// Kind of vertical scale passed to the scale helpers.
enum TScale : int {
    SCALE_SCOPE = 0,
    SCALE_XY = 1,
    SCALE_FFT = 2,
    SCALE_FFT_DB = 3,
    SCALE_METER = 4,
    SCALE_OHMMETER = 5,
    SCALE_CAPACITANCE = 6,
    SCALE_DIODE = 7,
    SCALE_POWER = 8,
};

// Time-base indices 0..34 are the user's; entry 35 exists in the tables but is no time base.
constexpr unsigned short kTimeBaseCount = 35;
constexpr unsigned short kTimeBaseTableSize = 36;

// Seconds per point of the 100,000-point record (a division is 10,000 points), as the
// single-precision table holds it. An index beyond the table gives 0.
float GetHorizontalScaleT(unsigned short index);
// Hardware sampling period of the time base, seconds. An index beyond the table gives 0.
float GetRealHorizontalScaleT(unsigned short index);

// Units per code of a trace's vertical scale; index is a sensitivity or range index (-1: the
// trace's own).
float GetVerticalScale(TAcquisition* trace, TScale scale, short index);
