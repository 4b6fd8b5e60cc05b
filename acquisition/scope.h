// One run of the oscilloscope cycle (instrument modes 16/17): live acquisitions, or a
// re-processing run of the held samples when acqFlags is 254/255.
#pragma once

#include <cstdint>

struct database;
struct acq_ctrl;

// True when the run's last acquisition completed (a single shot taken) or there was nothing to
// acquire (no board); false when a stop ended the run before (in a read-out or at the arming).
bool Scope(database* setup, acq_ctrl* ctrl);

// The cycle's measurement step for channel n (0..3): its trace's samples measured into its record
// of the measurement table, over the cursors' window in the time format with cursors shown, else
// samples 5000..95000. The caller holds o_g_autoMeasMutex. False when there is no table, trace or
// samples.
bool scopeMeasureChannel(const database* setup, int n);

// Cost of the cycle's own work, for the benchmarks: from the read-out that completed a record to
// the notice sent for it (transfer, display, FFT and measurements included).
struct TScopeProcessing {
    uint64_t records = 0;  // completed records processed
    double totalNs = 0.0;
    double maxNs = 0.0;
};
TScopeProcessing scopeProcessing();
void resetScopeProcessing();
