// The FPGA's registers: the EIM window, the SPI register bus and the I2C master behind it,
// with a shadow of the last value of every register.
#pragma once

#include <cstdint>

class TFpga {
public:
    TFpga() {}

    // Writes the 32-bit SPI register id, storing the value in the shadow first. Negative when the
    // device cannot be opened; callers ignore the result.
    static int setSpiRegister(unsigned short id, uint32_t value);
};
