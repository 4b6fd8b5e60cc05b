// Multimeter front-end tables and lookups.
#include "hardware/frontend_meter.h"

#include "core/process.h"
#include "hardware/scaling.h"

const int16_t Sensibilite[kMeterVoltageRanges] = {6, 9, 12, 15};

const TOhmParametres OhmParametres[kOhmRanges] = {
    {14, 0, 14, 7, 4, 8, 7, 62},
    {13, 0, 14, 7, 4, 8, 7, 62},
    {13, 7, 14, 7, 4, 1, 1, 47},
    {11, 6, 14, 7, 4, 2, 2, 57},
    {11, 15, 14, 7, 1, 1, 0, 0},
    {7, 7, 14, 7, 4, 1, 1, 47},
    {7, 15, 14, 7, 1, 1, 0, 0},
};

int16_t MeterRangeToScopeSensibility(int range)
{
    return range >= 0 && range < kMeterVoltageRanges ? Sensibilite[range] : -1;
}

int16_t OhmRangeToScopeSensibility(int range)
{
    return range >= 0 && range < kOhmRanges ? OhmParametres[range].sensitivity : -1;
}

void MMRelaisCourant(uint16_t channel, bool closed)
{
    if (channel != 0)
        return;
    uint16_t* set = to_g_scalingParams[0];
    set[17] = closed ? 1 : 0;
    ScalingWrite(0, set, 17, SCALING_HOLD_BEFORE);
    set[2] = 0;
    ScalingWrite(0, set, 2, 0);
    pauseMs(5);
    set[2] = 1;
    ScalingWrite(0, set, 2, SCALING_RELEASE_AFTER);
    pauseMs(2);
}
