// Scope front-end tables and lookups.
#include "hardware/frontend_scope.h"

#include "hardware/CmdesBase.h"

namespace {

// Bandwidth-limit enable per sensitivity index, by bandwidth variant.
const uint16_t tus_l_bwleState60MHz[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
const uint16_t tus_l_bwleState100MHz[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
const uint16_t tus_l_bwleState300MHz[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};

} // namespace

uint16_t getBwleState(int sensitivity, bool slow, unsigned short minMax)
{
    if (minMax == 0 && slow)
        return 1;
    if (sensitivity < 0 || sensitivity > 15)
        return 0;
    switch (EtatLogique(ETAT_BANDWIDTH_VARIANT)) {
    case 3: return tus_l_bwleState60MHz[sensitivity];
    case 2: return tus_l_bwleState100MHz[sensitivity];
    default: return tus_l_bwleState300MHz[sensitivity];
    }
}
