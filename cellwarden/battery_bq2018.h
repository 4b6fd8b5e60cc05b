// The daemon with a bq2018 pack, whose gas gauge runs here.
#pragma once

#include "cellwarden/battery.h"
#include "cellwarden/bq2018.h"

#include <cstdint>

constexpr const char* kAdcValueFile = "/sys/bus/i2c/devices/2-0049/adc_aux/value_mV";
constexpr const char* kAdcReferenceFile = "/sys/bus/i2c/devices/2-0049/adc_aux/ref_voltage_mV";

// The millivolts of an ADC text (at most 10 bytes); false for no digits or -1.
bool parseAdcMillivolts(const char* bytes, size_t count, long* millivolts);

class BatteryBQ2018 : public Battery {
public:
    BQ2018* bq2018;
    int32_t BatLevel = 0;

    explicit BatteryBQ2018(int passes = -1);
    ~BatteryBQ2018() override;
    void ManageEvents() override;
    void saveBatteryLevel() override;
    void BattUpdate(bool b_a_testFullCharge);

protected:
    void EdgeAction() override { BattUpdate(false); }
    bool FullTest() override { return BatLevel == 100; }
    void PeriodicAction() override;

private:
    int passes_;
    int s_l_counterBeforeTestFull = 3;
};
