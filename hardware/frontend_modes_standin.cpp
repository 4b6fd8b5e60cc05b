// Stand-ins until the harmonic and meter front-end programming exist: they program nothing.
#include "hardware/frontend.h"

void ProgramFE_Harmonic(int32_t, acq_ctrl*, calibration*)
{
}

void ProgramFE_Meter(int32_t, acq_ctrl*, calibration*)
{
}
