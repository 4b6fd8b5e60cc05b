// Waveform measurement kernels: levels, edges and periods of a trace window from a histogram of
// its codes (MeasPixT), then the means and mean squares over whole periods and over the window
// (MeasPixAmp). The kernels keep no state of their own and may run in several threads at once;
// callers lock only to protect the record they write.
#pragma once

#include <cstddef>
#include <cstdint>

// Measured range of codes: 524256 +/- 144144 (5.5 divisions each side of the centre).
constexpr uint32_t kMeasRangeLow = 380112u;
constexpr uint32_t kMeasRangeHigh = 668400u;

// Validity bits of mesures::flags.
enum : int32_t {
    MEAS_MAX_VALID = 0x1,
    MEAS_MIN_VALID = 0x2,
    MEAS_TOP_VALID = 0x4,
    MEAS_BASE_VALID = 0x8,
    MEAS_RISE = 0x70,         // rise10, rise50, rise90
    MEAS_FALL = 0x380,        // fall90, fall50, fall10
    MEAS_NEXT_RISE = 0x400,   // nextRise50
    MEAS_NEXT_FALL = 0x800,   // nextFall50
    MEAS_PERIOD_MEANS = 0x3000,
};

// One automatic-measurement record. Indices are sample indices of the trace; codes are 20-bit
// sample codes (larger codes for a higher signal).
struct mesures {
    int32_t flags;               // MEAS_* bits
    uint32_t maxCode;            // highest code, clamped to the measured range
    uint32_t minCode;            // lowest code, clamped likewise
    uint32_t topLevel;           // mean of the group of larger codes
    uint32_t baseLevel;          // mean of the group of smaller codes
    uint32_t rise10;             // crossings of the first rising edge
    uint32_t rise50;
    uint32_t rise90;
    uint32_t fall90;             // crossings of the first falling edge
    uint32_t fall50;
    uint32_t fall10;
    uint32_t nextRise50;         // 50 % crossing of the rising edge after the first one
    uint32_t nextFall50;         // 50 % crossing of the falling edge after the first one
    double mean;                 // over the whole window
    double meanPeriods;          // over the whole periods
    double meanSquare;           // of (code - reference)^2 over the whole window
    double meanSquarePeriods;    // the same over the whole periods
    int32_t minIndex;            // last index of minCode
    int32_t maxIndex;            // last index of maxCode
    double sum;                  // sum of the valid codes of the window
    int32_t count;               // valid samples of the window
    int32_t lastCross50;         // 50 % crossing that ends the counted periods
    uint16_t periodCount;        // whole periods counted
    uint16_t otherEdgeCount;     // counted crossings in the other direction
    int16_t capaWord;            // capacitance cycle's word
    double capaValue;            // capacitance result
    uint8_t overrange;           // 1 when the signal reached the bottom or top of the range
    float extraValue;            // read by the measurement display
};

static_assert(offsetof(mesures, flags) == 0, "mesures layout");
static_assert(offsetof(mesures, maxCode) == 4, "mesures layout");
static_assert(offsetof(mesures, minCode) == 8, "mesures layout");
static_assert(offsetof(mesures, topLevel) == 12, "mesures layout");
static_assert(offsetof(mesures, baseLevel) == 16, "mesures layout");
static_assert(offsetof(mesures, rise10) == 20, "mesures layout");
static_assert(offsetof(mesures, rise50) == 24, "mesures layout");
static_assert(offsetof(mesures, rise90) == 28, "mesures layout");
static_assert(offsetof(mesures, fall90) == 32, "mesures layout");
static_assert(offsetof(mesures, fall50) == 36, "mesures layout");
static_assert(offsetof(mesures, fall10) == 40, "mesures layout");
static_assert(offsetof(mesures, nextRise50) == 44, "mesures layout");
static_assert(offsetof(mesures, nextFall50) == 48, "mesures layout");
static_assert(offsetof(mesures, mean) == 56, "mesures layout");
static_assert(offsetof(mesures, meanPeriods) == 64, "mesures layout");
static_assert(offsetof(mesures, meanSquare) == 72, "mesures layout");
static_assert(offsetof(mesures, meanSquarePeriods) == 80, "mesures layout");
static_assert(offsetof(mesures, minIndex) == 88, "mesures layout");
static_assert(offsetof(mesures, maxIndex) == 92, "mesures layout");
static_assert(offsetof(mesures, sum) == 96, "mesures layout");
static_assert(offsetof(mesures, count) == 104, "mesures layout");
static_assert(offsetof(mesures, lastCross50) == 108, "mesures layout");
static_assert(offsetof(mesures, periodCount) == 112, "mesures layout");
static_assert(offsetof(mesures, otherEdgeCount) == 114, "mesures layout");
static_assert(offsetof(mesures, capaWord) == 116, "mesures layout");
static_assert(offsetof(mesures, capaValue) == 120, "mesures layout");
static_assert(offsetof(mesures, overrange) == 128, "mesures layout");
static_assert(offsetof(mesures, extraValue) == 132, "mesures layout");
static_assert(sizeof(mesures) == 136, "mesures layout");

// Levels and edges over the samples [min(first, last), max(first, last)), clamped to 0..100000;
// step is the stride of the edge search (1 or more). A window without a valid sample clears
// flags, periodCount and otherEdgeCount and leaves the rest of the record as it was.
// Returns the record's flags.
int32_t MeasPixT(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int16_t step);

// Means over the whole periods found by MeasPixT, then over the window [min(first, last),
// max(first, last)) (not clamped: callers stay inside 0..100000). reference is the code of 0 V.
// Returns the record's flags.
int32_t MeasPixAmp(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference);

// MeasPixT with step 2, then MeasPixAmp; returns MeasPixAmp's value.
int32_t meas_pix(const uint32_t* samples, mesures* m, int32_t first, int32_t last, int32_t reference);

