#include "cellwarden/battery_bq2018.h"

#include "board/deviceio.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

bool parseAdcMillivolts(const char* bytes, size_t count, long* millivolts)
{
    char text[11] = {};
    if (count > 10)
        count = 10;
    for (size_t i = 0; i < count; ++i)
        text[i] = bytes[i];
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno != 0 || v == -1)
        return false;
    *millivolts = v;
    return true;
}

BatteryBQ2018::BatteryBQ2018(int passes) : bq2018(new BQ2018), passes_(passes)
{
    bq2018->clock = cellwardenClockSeconds;
    writeDaemonFile(kAdcReferenceFile, "75537", 5, false);
    bq2018->GgInitialize();
    // Until a first good reading the update runs as if above the end of discharge.
    bq2018->SetBatteryVoltage(0xFFFF);
    BattUpdate(false);
    ManageEvents();
}

BatteryBQ2018::~BatteryBQ2018()
{
    bq2018->GgPwrDwnSave();
    delete bq2018;
}

void BatteryBQ2018::ManageEvents()
{
    s_l_counterBeforeTestFull = 3;
    RunPasses(passes_);
}

void BatteryBQ2018::saveBatteryLevel() { bq2018->GgPwrDwnSave(); }

void BatteryBQ2018::PeriodicAction()
{
    if (s_l_counterBeforeTestFull > 0)
        --s_l_counterBeforeTestFull;
    BattUpdate(s_l_counterBeforeTestFull == 0);
}

void BatteryBQ2018::BattUpdate(bool b_a_testFullCharge)
{
    // A missing, empty or garbled reading keeps the last good voltage: read as 0 mV it would
    // look like the end of discharge and halt the board.
    const int fd = deviceIO().open(kAdcValueFile, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char bytes[10];
        const ssize_t n = deviceIO().read(fd, bytes, sizeof bytes);
        deviceIO().close(fd);
        long mv = 0;
        if (n > 0 && parseAdcMillivolts(bytes, static_cast<size_t>(n), &mv))
            bq2018->SetBatteryVoltage(static_cast<unsigned short>(mv));
    }
    bq2018->ChargerConnected = IsWallAlimConnected();
    SetBatteryCharge(bq2018->ChargerConnected);
    cellwardenSleepMs(kChargerSettleMs);
    const int32_t level = bq2018->GgUpdate(b_a_testFullCharge);
    BatLevel = std::abs(level);
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(level));
    writeDaemonFile(kBatLevelFile, text, static_cast<size_t>(n), true);
    if (bq2018->b_i_batEmpty && !bq2018->ChargerConnected)
        SystemHalt();
    if (bq2018->bChgFull == kGgMarker && PowerOffAllowed())
        SystemHalt();
}
