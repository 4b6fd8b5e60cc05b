// The daemon with a bq34z100 pack.
#pragma once

#include "cellwarden/battery.h"
#include "cellwarden/bq34z100.h"

#include <cstdint>

class BatteryBQ34Z100 : public Battery {
public:
    BQ34Z100* bq34z100;
    int32_t BatLevel = 0;

    // Runs the loop; returns only in tests (passes >= 0).
    explicit BatteryBQ34Z100(int passes = -1);
    ~BatteryBQ34Z100() override;
    void ManageEvents() override;
    void saveBatteryLevel() override;
    void BattUpdate();

protected:
    void EdgeAction() override { BattUpdate(); }
    bool FullTest() override { return bq34z100->bChgFull; }
    void PeriodicAction() override { BattUpdate(); }

private:
    int passes_;
};
