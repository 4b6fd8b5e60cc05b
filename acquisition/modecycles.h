// Acquisition cycles of the instrument modes other than the oscilloscope: one call runs one cycle
// and returns when it ends (a stop request, or no acquisition to make).
#pragma once

#include <cstdint>

struct acq_ctrl;
struct database;

// The last read-out's newSamples samples into the traces, under o_g_autoMeasMutex (the
// measurement code reads them): acqtrans's result; *held (when given) the samples held then.
int32_t TransferNewSamples(acq_ctrl* ctrl, uint32_t newSamples, uint32_t* held = nullptr);

// Harmonic analysis (instrument mode 64).
void Harmonic(database* setup, acq_ctrl* ctrl);
// Capacitance measurement (meter modes with meterFunction 3).
void Capa(database* setup, acq_ctrl* ctrl);
// Multimeter (meter modes 128/130).
void Meter(database* setup, acq_ctrl* ctrl);
