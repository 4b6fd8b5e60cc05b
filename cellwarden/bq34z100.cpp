#include "cellwarden/bq34z100.h"

#include "cellwarden/hdq.h"

int32_t signedLevel(int32_t percent, bool wallPower)
{
    // A gauge's charge register holds a byte: a damaged answer must not publish beyond 100 %.
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (!wallPower)
        return percent;
    return percent == 0 ? -1 : -percent;
}

void BQ34Z100::note() { complete_ = complete_ && hdqBus().lastReadComplete(); }

uint16_t BQ34Z100::ReadVoltage()
{
    const uint16_t v = hdqBus().readWord(0x08);
    note();
    return v;
}

uint8_t BQ34Z100::ReadStateOfCharge()
{
    const uint8_t v = hdqBus().readByte(0x02);
    note();
    return v;
}

int16_t BQ34Z100::ReadAverageCurrent()
{
    const int16_t v = static_cast<int16_t>(hdqBus().readWord(0x0A));
    note();
    return v;
}

int16_t BQ34Z100::ReadCurrent()
{
    const int16_t v = static_cast<int16_t>(hdqBus().readWord(0x10));
    note();
    return v;
}

float BQ34Z100::ReadTemperature()
{
    const uint16_t v = hdqBus().readWord(0x0C);
    note();
    return static_cast<float>(v / 10.0 - 273.15);
}

void BQ34Z100::GgInitialize() { bChgFull = false; }

void BQ34Z100::GgPwrDwnSave() {}

int32_t BQ34Z100::GgUpdate()
{
    // Everything is read first, in the bus order, and taken only when every answer came whole:
    // a silent gauge reads as zeros, which must not look like an empty battery.
    complete_ = true;
    const int16_t current = ReadCurrent();
    const uint16_t voltage = ReadVoltage();
    const uint8_t soc = ReadStateOfCharge();
    const float temperature = ReadTemperature();
    if (!complete_) {
        l_i_soc = signedLevel(percent_, ChargerConnected);
        return l_i_soc;
    }
    s_i_current = current;
    bChgFull = current == 0 && ChargerConnected;
    us_i_voltage = voltage;
    b_i_batEmpty = voltage <= 9999;
    percent_ = soc;
    l_i_soc = signedLevel(soc, ChargerConnected);
    f_i_temperature = temperature;
    return l_i_soc;
}
