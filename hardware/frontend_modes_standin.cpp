// Stand-in until the harmonic front-end programming exists: it programs nothing.
#include "hardware/frontend.h"

void ProgramFE_Harmonic(int32_t, acq_ctrl*, calibration*)
{
}
