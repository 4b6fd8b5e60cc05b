// Acquisition cycles of the instrument modes other than the oscilloscope: one call runs one cycle
// and returns when it ends (a stop request, or no acquisition to make).
#pragma once

struct acq_ctrl;
struct database;

// Harmonic analysis (instrument mode 64).
void Harmonic(database* setup, acq_ctrl* ctrl);
// Capacitance measurement (meter modes with meterFunction 3).
void Capa(database* setup, acq_ctrl* ctrl);
// Multimeter (meter modes 128/130).
void Meter(database* setup, acq_ctrl* ctrl);
