// The FPGA's registers: the EIM window, the SPI register bus and the I2C master behind it,
// with a shadow of the last value of every register.
#pragma once

#include <atomic>
#include <cstdint>

class TRegisterWindow;

// The mapped EIM window (/dev/uio0), set by the driver once it mapped it; null until then, and
// then EIM reads give 0 and writes do nothing.
extern std::atomic<TRegisterWindow*> pv_g_fpgaIoMem;

// An I2C transfer request. The caller owns the buffer; the operations advance buffer and offset
// and lower length as chunks go, so after a failure they tell where the transfer stopped.
struct I2cfpga {
    uint32_t length;   // bytes to transfer
    uint16_t offset;   // memory address inside the device
    uint8_t* buffer;
};

// No state of its own: every operation works on the class-wide tables and may be called without
// an object (TFpga::getSpiRegister(99)).
class TFpga {
public:
    TFpga() {}

    static constexpr int kEimIds = 27;
    static constexpr int kSpiIds = 42;
    static constexpr int kEimShadowSize = 40;
    static constexpr int kSpiShadowSize = 50;

    static const uint8_t tuc_l_indexToEimReg[kEimIds];
    static const uint8_t tuc_l_indexToSpiReg[kSpiIds];
    // Last value read or written per table position. Plain words in the design, atomics here so
    // that concurrent readers see whole values.
    static std::atomic<uint32_t> tuc_i_eimRegisters[kEimShadowSize];
    static std::atomic<uint32_t> tuc_i_spiRegisters[kSpiShadowSize];

    // Configuration word of the I2C master, sent whole to SPI 120 to start a transfer. Guarded by
    // the probe-bus mutex (o_g_probeBusMutex, hardware/kalvex.h), held across each sequence.
    static uint32_t i2cconf;

    // Table positions; -1 for an id outside the table.
    static int eimPosition(unsigned short id);
    static int spiPosition(unsigned short id);

    // 16-bit word id of the window, shadowed. No window: 0.
    static uint32_t getEimRegister(unsigned short id);
    // Writes the low 16 bits, shadows the whole value. 0, or -1 when no window is mapped.
    static int setEimRegister(unsigned short id, uint32_t value);

    // 32-bit SPI register, shadowed; 0 (also shadowed) when the device cannot be opened. Ids above
    // 127 cannot be framed as a read and give 0.
    static uint32_t getSpiRegister(unsigned short id);
    // Shadows first, then one 5-byte write frame. Negative when the device cannot be opened or the
    // id is above 127; else the result of closing the device.
    static int setSpiRegister(unsigned short id, uint32_t value);

    // Sets address (bits 1-7), memory-address bytes (8-9), mode (10-11) and flag (31), clears
    // bits 12-15; direction and length are kept.
    static void i2cSetup(unsigned char address, unsigned char addressBytes, unsigned char mode,
                         unsigned char flag);
    // 1 when every byte moved; 0 on a busy master, an error bit or a done bit that never comes
    // (bytes of earlier chunks stay moved).
    static int i2cRead(I2cfpga* request);
    static int i2cWrite(I2cfpga* request);
};

// SPI registers of the I2C master.
enum : unsigned short {
    FPGA_SPI_I2C_CONFIG = 120,
    FPGA_SPI_I2C_OFFSET = 121,
    FPGA_SPI_I2C_WRITE_STATUS = 122,
    FPGA_SPI_I2C_READ_STATUS = 123,
    FPGA_SPI_I2C_WRITE_DATA = 124,
    FPGA_SPI_I2C_READ_DATA = 125,
};

// Status bits of SPI 122 and 123.
constexpr uint32_t kI2cBusy = 1u << 15;
constexpr uint32_t kI2cDone = 1u << 14;
constexpr uint32_t kI2cError = 1u << 12;

// Limit of each wait for the I2C done bit.
constexpr int kI2cDoneTimeoutMs = 100;
