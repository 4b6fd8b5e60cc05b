// The daemon without a gauge: the charger on, the halt rules of the pipe and the edge only.
#pragma once

#include "cellwarden/battery.h"

constexpr int kNoBatteryPasses = 10;

class NoBattery : public Battery {
public:
    NoBattery();
    void ManageEvents() override;
    void saveBatteryLevel() override {}
};
