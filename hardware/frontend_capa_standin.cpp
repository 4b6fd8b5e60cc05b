// Stand-ins until the capacitance front end's set-up, range and ramp exist: they do nothing.
#include "hardware/frontend_capa.h"

void ConfigurationCapa(uint16_t, calibration*)
{
}

void MMGammeCapa(uint16_t, int16_t, calibration*)
{
}

void MMRampCapa(bool)
{
}
