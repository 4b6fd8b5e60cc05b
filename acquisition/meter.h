// The multimeter cycle's parts: range steps, scale correction from the offset points, overload
// marking and the choice of time base per channel.
#pragma once

#include <cstdint>

struct acq_ctrl;
struct database;
struct mesures;

// Meter time bases of one pass and the factor each published record carries in extraValue.
constexpr unsigned short kMeterTimeBases[3] = {18, 21, 35};
constexpr float kMeterFactor18 = 10.0f;
constexpr float kMeterFactor21 = 1.0f;
constexpr float kMeterFactor35 = 7.9365077f;

// Range requests for the channels of `channels` (4, 3, 2, then 1) from the published records;
// 1 when the last channel examined got a request, else 0. Nothing in instrument mode 130.
int autorange(unsigned short channels, unsigned short meterFunction, database* setup);
// New span and zero of channel n from its three corrected offset points (bottom, top, centre).
// False (nothing changed) when the points give no usable gain: equal, reversed or far off.
bool CoeffAdjust(unsigned short channel, acq_ctrl* ctrl, float points[3]);
// Marks the record without value (flags 0) when its extremes reach the range's bounds for the
// probe gain, and overrange when they reach or pass them.
void checkOverflow(mesures* m, double gain);
// The time base (18, 21 or 35) whose window frames record `channel` of a set best.
unsigned short timebaseSelect(short channel, const mesures* set);

// The steps of a pass, for the benchmarks and tests (the cycle runs them itself):
// the traces' samples of one time base (18, 21 or 35) filtered and measured into its set, under
// o_g_autoMeasMutex; the pass's publication into the table at measResultsPtr; and the range
// step after it (range requests, else the state notice; marked-invalid records while holding).
void MeterMeasureSet(acq_ctrl* ctrl, const database& setup, unsigned short timeBase);
void MeterPublish(acq_ctrl* ctrl);
void MeterRangeStep(database* setup, acq_ctrl* ctrl);
// The counters' start values when the instrument mode or meter function differs from the last
// start (the resistance offset and its mark also on another resistance range).
void MeterCycleStart(const database& setup);

// Cycle counters that outlive one call (for the tests): passes without auto-range, passes
// before the next offset measurement, offset measurements done, the resistance code
// correction and the mark that ends channel 1's offset measurements.
struct TMeterCycleState {
    int holdPasses;
    int passesLeft;
    int offsetMeasurements;
    int32_t resistanceOffset;
    bool offsetDone;
};
TMeterCycleState meterCycleState();
