// Stand-in until the scope front end's trigger operations exist: the two edge writes on a channel
// source only.
#include "hardware/frontend_scope.h"

#include "hardware/scaling.h"

#include <initializer_list>

void TriggerSimulation(uint16_t source, uint16_t forward)
{
    if (source > 3)
        return;
    constexpr int16_t kEdgeParameter = 41;
    // Edge 0 selects p41 = 1 on a channel source.
    const uint16_t first = forward != 0 ? 1 : 0;
    for (uint16_t value : {first, static_cast<uint16_t>(1 - first)}) {
        to_g_scalingParams[source][kEdgeParameter] = value;
        ScalingWrite(source, to_g_scalingParams[source], kEdgeParameter, SCALING_HOLD_BEFORE | SCALING_RELEASE_AFTER);
    }
}
