// Driver shadow words shared with the front-end scaling registers.
#include "hardware/chip_acq.h"

uint16_t pseudoRC = 0;
uint16_t pseudoRC_bwl[4] = {0, 0, 0, 0};
