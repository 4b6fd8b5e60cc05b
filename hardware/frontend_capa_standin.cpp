// Stand-in until the capacitance front end's ramp exists: does nothing.
#include "hardware/frontend_capa.h"

void MMRampCapa(bool)
{
}
