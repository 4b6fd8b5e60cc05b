#include "cellwarden/no_battery.h"

NoBattery::NoBattery() { ManageEvents(); }

void NoBattery::ManageEvents()
{
    SetBatteryCharge(true);
    RunPasses(kNoBatteryPasses);
}
