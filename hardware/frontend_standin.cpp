// Stand-in until the scope front end exists: programs nothing.
#include "hardware/frontend.h"

void FrontEndInit(calibration*)
{
}
