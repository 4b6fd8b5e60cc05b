// The bq34z100 fuel gauge: the chip computes the state of charge itself.
#pragma once

#include <cstdint>

class BQ34Z100 {
public:
    bool ChargerConnected = false;
    bool b_i_batEmpty = false;
    bool bChgFull = false;
    int16_t s_i_current = 0;
    uint16_t us_i_voltage = 0;
    int32_t l_i_soc = 0;
    float f_i_temperature = 0.0f;

    BQ34Z100() {}
    ~BQ34Z100() {}
    void GgInitialize();
    // The level: state of charge in percent, negated on wall power (0 then gives -1). An update
    // that lost part of an answer changes no flag and publishes the previous percentage.
    int32_t GgUpdate();
    void GgPwrDwnSave();

    uint16_t ReadVoltage();
    uint8_t ReadStateOfCharge();
    int16_t ReadAverageCurrent();
    int16_t ReadCurrent();
    float ReadTemperature();

private:
    int32_t percent_ = 0;  // last complete state of charge
    bool complete_ = true;
    void note();
};

// The level as published: the percentage, negated on wall power with 1 in place of 0.
int32_t signedLevel(int32_t percent, bool wallPower);
