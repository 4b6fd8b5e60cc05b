// Multimeter front-end tables and lookups.
#include "hardware/frontend_meter.h"

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
