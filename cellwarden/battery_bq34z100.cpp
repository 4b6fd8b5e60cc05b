#include "cellwarden/battery_bq34z100.h"

#include <cstdio>
#include <cstdlib>

BatteryBQ34Z100::BatteryBQ34Z100(int passes) : bq34z100(new BQ34Z100), passes_(passes)
{
    bq34z100->GgInitialize();
    BattUpdate();
    ManageEvents();
}

BatteryBQ34Z100::~BatteryBQ34Z100()
{
    bq34z100->GgPwrDwnSave();
    delete bq34z100;
}

void BatteryBQ34Z100::ManageEvents() { RunPasses(passes_); }

void BatteryBQ34Z100::saveBatteryLevel() { bq34z100->GgPwrDwnSave(); }

void BatteryBQ34Z100::BattUpdate()
{
    bq34z100->ChargerConnected = IsWallAlimConnected();
    SetBatteryCharge(bq34z100->ChargerConnected);
    cellwardenSleepMs(kChargerSettleMs);
    const int32_t level = bq34z100->GgUpdate();
    BatLevel = std::abs(level);
    // Not truncated: the readers take the leading number, the rest may be an older text.
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d ", static_cast<int>(level));
    writeDaemonFile(kBatLevelFile, text, static_cast<size_t>(n), false);
    if (bq34z100->b_i_batEmpty && !bq34z100->ChargerConnected)
        SystemHalt();
    if (bq34z100->bChgFull && PowerOffAllowed())
        SystemHalt();
}
