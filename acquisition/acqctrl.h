// The acquisition control record: everything the driver and the acquisition cycles need for the
// current acquisition, derived from a setup and the calibration record, and its application
// after a change of one setup parameter.
#pragma once

#include <cstdint>

struct calibration;
struct database;

// Plain record, in memory only (no constructor: the static instance starts zeroed).
struct acq_ctrl {
    uint16_t decimation;          // sample decimation of the transfer
    uint16_t poweredChannels;     // channels whose front end is powered
    uint16_t shownChannels;       // bits 0-3 live, 4-7 references, 8-11 memories, 12 mask trace
    uint16_t acqChannels;         // channels to acquire; 0 makes the worker idle
    uint16_t runStop;             // 0 run, 1 hold
    int32_t dispPosition;         // horizPosition while the time display is zoomed, else 0
    uint16_t triggerMode;         // 0 auto, 1 normal, 2 single
    float dispWidth;              // zoomWidth while zoomed, else 40.0
    uint8_t accumulate;           // 1 when traceMode is 4
    int32_t horizScalePs;         // horizontal scale of timeBase, picoseconds
    uint32_t sensGroup[4];        // pipeline correction row per channel
    uint16_t qualifierSource;
    uint16_t acqMode;             // 16/17 scope, 64 harmonic, 128 meter and capacitance,
                                  // 255 one calibration step, 0x8000 idle
    uint16_t calStep;
    uint16_t calArg;
    uint16_t triggerType;
    uint32_t holdoff;
    uint32_t triggerDelay;
    uint32_t triggerEventCount;
    uint32_t triggerT1;
    uint32_t triggerT2;
    uint16_t pulseCondition;
    uint16_t triggerEdge;         // 2: the scope cycle toggles the edge each acquisition
    int16_t qualifierEdge;
    uint8_t armOption;
    calibration* calib;           // the live calibration record
    int16_t pfSource;
    int16_t pfDisplay;
    int16_t pfBeep;
    int16_t pfActive;             // passFailOn and passFailRunStop both set
    uint8_t powerMode;            // harmonic mode: harmPower not 0
    int16_t harmonicFreqSel;
    uint16_t triggerSource;
    uint8_t averaging;            // repSig on and minMax not 1
    uint32_t postTrigger;         // samples from the trigger to the end of the record
    uint32_t preTrigger;          // samples before the trigger
    uint16_t acqFlags;
    uint16_t cycleChannels;       // channels of the running cycle
    uint16_t timeBase;            // time-base index of the acquisition
    int32_t triggerOffset;        // trigger position in decimated samples
    int32_t triggerOffsetFrac;    // remainder, 1/1024 of a decimated sample
    int16_t averageIndex;         // 0 none, 1-4 = 2, 4, 16, 64
    uint8_t saveRestartOn;
    int32_t transferPhase;        // pipeline origin of the equivalent-time placement
    int32_t ringStart;            // start of the new samples in the sample ring
    uint32_t newSamples;
    uint32_t readChannels;        // cycleChannels at the last read-out
    uint8_t firstTransfer;
    int32_t span[4];              // per-channel code span of the sample correction
    int32_t zero[4];              // per-channel zero code
    double probeGain[4];
    int32_t offset[4];            // probe offset in codes
    double meterFactorA[4];
    double meterFactorB[4];
};

// acqFlags values outside the scope modes.
enum : uint16_t {
    ACQ_FLAGS_HARMONIC = 0x181,
    ACQ_FLAGS_METER = 0x281,
    ACQ_FLAGS_CAPACITANCE = 0x282,
    ACQ_FLAGS_CONTINUITY = 0x283,
    ACQ_FLAGS_REPROCESS_REDRAW = 254,  // re-processing run of the scope cycle on held samples
    ACQ_FLAGS_REPROCESS = 255,
};

// acqMode values.
enum : uint16_t {
    ACQ_MODE_HARMONIC = 64,
    ACQ_MODE_METER = 128,
    ACQ_MODE_CALIBRATION = 255,
    ACQ_MODE_IDLE = 0x8000,
};

// The one record, written by the acquisition control thread while the real-time thread is parked.
extern acq_ctrl par_acq;

// Brings the record up to date after a change of setup parameter `parameter` (29 or 38: the
// complete record), by the setup's instrument mode: 16/17 scope, 64 harmonic, 128/130 meter or
// capacitance; any other mode leaves the acquisition idle. Returns the sample correction's result
// when the routine computed it, else 0.0 (no caller uses it).
double affect_par(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl);
// Zoom, time-base and trigger-position fields.
void ParametresTemporels(database* setup, acq_ctrl* ctrl);
// One routine per instrument mode.
double ScopeParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl);
double HarmonicParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl);
double MeterParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl);
double CapaParam(database* setup, uint32_t parameter, calibration* cal, acq_ctrl* ctrl);

// Pipeline correction row of a sensitivity index: 0-7 give 0, 8-9 1, 10-12 2, 13-15 3.
uint32_t sensGroupOf(int sensitivity);
