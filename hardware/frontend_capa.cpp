// Capacitance front-end table and lookups.
#include "hardware/frontend_capa.h"

const TCapaParametres CapaParametres[kCapaRanges] = {
    {11, 9, 14, 7, 1, 1, 1, 0, 18},
    {11, 11, 14, 7, 2, 1, 0, 31, 18},
    {11, 11, 14, 7, 2, 1, 0, 31, 21},
    {13, 11, 14, 7, 2, 1, 0, 31, 18},
    {13, 11, 14, 7, 2, 1, 0, 31, 21},
    {14, 11, 14, 7, 2, 1, 0, 31, 21},
    {14, 11, 14, 7, 2, 1, 0, 31, 24},
    {14, 11, 14, 7, 2, 1, 0, 31, 27},
};

double CapaCurrentOfCode(uint8_t currentCode)
{
    switch (currentCode) {
    case 7: return 5e-8;
    case 11: return 2e-6;
    case 13: return 5e-5;
    case 14: return 5e-4;
    default: return 0.0;
    }
}

bool CapaRangeToScopeReglages(int range, unsigned short* timeBase, unsigned short* sensitivity, double* current)
{
    if (range < 0 || range >= kCapaRanges)
        return false;
    const TCapaParametres& row = CapaParametres[range];
    if (timeBase)
        *timeBase = row.timeBase;
    if (sensitivity)
        *sensitivity = row.sensitivity;
    if (current)
        *current = CapaCurrentOfCode(row.currentCode);
    return true;
}
