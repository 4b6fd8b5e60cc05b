// One run of the oscilloscope cycle (instrument modes 16/17): live acquisitions, or a
// re-processing run of the held samples when acqFlags is 254/255.
#pragma once

struct database;
struct acq_ctrl;

void Scope(database* setup, acq_ctrl* ctrl);
