// Scope front end: the bandwidth-limit state that the front end and the sample correction share.
#pragma once

#include "hardware/frontend.h"

#include <cstdint>

// Bandwidth-limit enable state of a sensitivity (0..15): 1 when minMax is 0 and the time base is
// slow (index above 17); otherwise the board variant's table entry (ETAT_BANDWIDTH_VARIANT:
// 3 the 60 MHz model, 2 the 100 MHz model, any other the 300 MHz model). A sensitivity outside
// 0..15 has no entry and gives 0.
uint16_t getBwleState(int sensitivity, bool slow, unsigned short minMax);

// Forces a comparator transition on the trigger source: two edge selections, 0 then 1 when
// forward is not 0, 1 then 0 when it is 0.
void TriggerSimulation(uint16_t source, uint16_t forward);
