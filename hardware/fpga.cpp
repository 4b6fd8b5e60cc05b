#include "hardware/fpga.h"

#include "board/deviceio.h"

#include <chrono>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <time.h>

std::atomic<TRegisterWindow*> pv_g_fpgaIoMem{nullptr};

const uint8_t TFpga::tuc_l_indexToEimReg[kEimIds] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 16, 17,
                                                     18, 19, 20, 21, 32, 33, 34, 35, 48, 49, 50, 51, 52};
const uint8_t TFpga::tuc_l_indexToSpiReg[kSpiIds] = {80,  81,  82,  83,  84,  85,  86,  87,  96,  97,  98,
                                                     99,  100, 102, 103, 104, 105, 106, 107, 0,   4,   8,
                                                     12,  16,  20,  32,  36,  40,  52,  56,  60,  64,  68,
                                                     112, 113, 114, 120, 121, 122, 123, 124, 125};
std::atomic<uint32_t> TFpga::tuc_i_eimRegisters[kEimShadowSize] = {};
std::atomic<uint32_t> TFpga::tuc_i_spiRegisters[kSpiShadowSize] = {};
uint32_t TFpga::i2cconf = 0;

namespace {
const char kSpiDevice[] = "/dev/spidev1.0";
constexpr uint32_t kSpiSpeedHz = 6250000;
constexpr uint8_t kSpiMode = SPI_MODE_1;
constexpr unsigned short kSpiWriteFlag = 0x80;

constexpr uint32_t kI2cLengthField = 0x3FFu << 16;
constexpr uint32_t kI2cReadChunk = 512;
constexpr uint32_t kI2cPage = 32;

void setI2cChunk(uint32_t chunk)
{
    TFpga::i2cconf = (TFpga::i2cconf & ~kI2cLengthField) | (((chunk - 1) << 16) & kI2cLengthField);
}

// Sleeps 10 µs and reads the status until its done bit comes, at most kI2cDoneTimeoutMs.
bool waitI2cDone(unsigned short statusRegister)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kI2cDoneTimeoutMs);
    for (;;) {
        timespec t{0, 10000};
        nanosleep(&t, nullptr);
        if (TFpga::getSpiRegister(statusRegister) & kI2cDone)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}
} // namespace

int TFpga::eimPosition(unsigned short id)
{
    if (id == tuc_l_indexToEimReg[0])
        return 0;
    for (int i = 1; i < kEimIds; ++i)
        if (tuc_l_indexToEimReg[i] == id)
            return i;
    return -1;
}

int TFpga::spiPosition(unsigned short id)
{
    if (id == tuc_l_indexToSpiReg[0])
        return 0;
    for (int i = 1; i < kSpiIds; ++i)
        if (tuc_l_indexToSpiReg[i] == id)
            return i;
    return -1;
}

uint32_t TFpga::getEimRegister(unsigned short id)
{
    TRegisterWindow* window = pv_g_fpgaIoMem.load(std::memory_order_acquire);
    const uint32_t value = window ? window->read16(id) : 0;
    const int pos = eimPosition(id);
    if (pos >= 0)
        tuc_i_eimRegisters[pos].store(value, std::memory_order_relaxed);
    return value;
}

int TFpga::setEimRegister(unsigned short id, uint32_t value)
{
    const int pos = eimPosition(id);
    if (pos >= 0)
        tuc_i_eimRegisters[pos].store(value, std::memory_order_relaxed);
    TRegisterWindow* window = pv_g_fpgaIoMem.load(std::memory_order_acquire);
    if (!window)
        return -1;
    window->write16(id, static_cast<uint16_t>(value));
    return 0;
}

uint32_t TFpga::getSpiRegister(unsigned short id)
{
    const int pos = spiPosition(id);
    // Bit 7 of the first byte marks a write: a larger id cannot be read.
    if (id >= kSpiWriteFlag)
        return 0;

    uint8_t frame[5] = {static_cast<uint8_t>(id), 0, 0, 0, 0};
    TDeviceIO& io = deviceIO();
    const int fd = io.open(kSpiDevice, O_RDONLY);
    if (fd >= 0) {
        uint32_t speed = kSpiSpeedHz;
        uint8_t mode = kSpiMode;
        io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed);
        io.ioctl(fd, SPI_IOC_WR_MODE, &mode);
        spi_ioc_transfer transfers[2] = {};
        transfers[0].tx_buf = reinterpret_cast<uintptr_t>(&frame[0]);
        transfers[0].len = 1;
        transfers[0].bits_per_word = 8;
        transfers[1].rx_buf = reinterpret_cast<uintptr_t>(&frame[1]);
        transfers[1].len = 4;
        transfers[1].bits_per_word = 8;
        if (io.ioctl(fd, SPI_IOC_MESSAGE(2), transfers) < 0)
            frame[1] = frame[2] = frame[3] = frame[4] = 0;
        io.close(fd);
    }
    const uint32_t value = static_cast<uint32_t>(frame[1]) | (static_cast<uint32_t>(frame[2]) << 8)
        | (static_cast<uint32_t>(frame[3]) << 16) | (static_cast<uint32_t>(frame[4]) << 24);
    if (pos >= 0)
        tuc_i_spiRegisters[pos].store(value, std::memory_order_relaxed);
    return value;
}

int TFpga::setSpiRegister(unsigned short id, uint32_t value)
{
    const int pos = spiPosition(id);
    if (pos >= 0)
        tuc_i_spiRegisters[pos].store(value, std::memory_order_relaxed);
    if (id >= kSpiWriteFlag)
        return -1;

    const uint8_t frame[5] = {static_cast<uint8_t>(id | kSpiWriteFlag), static_cast<uint8_t>(value),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 24)};
    TDeviceIO& io = deviceIO();
    const int fd = io.open(kSpiDevice, O_WRONLY);
    if (fd < 0)
        return fd;
    uint8_t mode = kSpiMode;
    uint32_t speed = kSpiSpeedHz;
    io.ioctl(fd, SPI_IOC_WR_MODE, &mode);
    io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed);
    io.write(fd, frame, sizeof frame);
    return io.close(fd);
}

void TFpga::i2cSetup(unsigned char address, unsigned char addressBytes, unsigned char mode, unsigned char flag)
{
    uint32_t c = i2cconf & ~(0xFEu | (3u << 8) | (3u << 10) | (0xFu << 12) | (1u << 31));
    c |= (static_cast<uint32_t>(address) & 0x7F) << 1;
    c |= (static_cast<uint32_t>(addressBytes) & 3) << 8;
    c |= (static_cast<uint32_t>(mode) & 3) << 10;
    c |= (static_cast<uint32_t>(flag) & 1) << 31;
    i2cconf = c;
}

int TFpga::i2cRead(I2cfpga* r)
{
    if (!r || (r->length > 0 && !r->buffer))
        return 0;
    i2cconf |= 1;
    while (r->length > 0) {
        const uint32_t chunk = r->length < kI2cReadChunk ? r->length : kI2cReadChunk;
        setI2cChunk(chunk);
        if (getSpiRegister(FPGA_SPI_I2C_READ_STATUS) & kI2cBusy)
            return 0;
        setSpiRegister(FPGA_SPI_I2C_OFFSET, r->offset);
        setSpiRegister(FPGA_SPI_I2C_CONFIG, i2cconf);
        if (!waitI2cDone(FPGA_SPI_I2C_READ_STATUS))
            return 0;
        for (uint32_t i = 0; i < chunk; ++i)
            r->buffer[i] = static_cast<uint8_t>(getSpiRegister(FPGA_SPI_I2C_READ_DATA));
        if (getSpiRegister(FPGA_SPI_I2C_READ_STATUS) & kI2cError)
            return 0;
        r->buffer += chunk;
        r->offset = static_cast<uint16_t>(r->offset + chunk);
        r->length -= chunk;
    }
    return 1;
}

int TFpga::i2cWrite(I2cfpga* r)
{
    if (!r || (r->length > 0 && !r->buffer))
        return 0;
    i2cconf &= ~1u;
    while (r->length > 0) {
        const uint32_t room = kI2cPage - (r->offset % kI2cPage);
        const uint32_t chunk = r->length < room ? r->length : room;
        setI2cChunk(chunk);
        if (getSpiRegister(FPGA_SPI_I2C_WRITE_STATUS) & kI2cBusy)
            return 0;
        setSpiRegister(FPGA_SPI_I2C_OFFSET, r->offset);
        (void)getSpiRegister(FPGA_SPI_I2C_CONFIG);  // part of the master's write sequence
        for (uint32_t i = 0; i < chunk; ++i)
            setSpiRegister(FPGA_SPI_I2C_WRITE_DATA, r->buffer[i]);
        setSpiRegister(FPGA_SPI_I2C_CONFIG, i2cconf);
        if (!waitI2cDone(FPGA_SPI_I2C_WRITE_STATUS))
            return 0;
        if (getSpiRegister(FPGA_SPI_I2C_WRITE_STATUS) & kI2cError)
            return 0;
        r->buffer += chunk;
        r->offset = static_cast<uint16_t>(r->offset + chunk);
        r->length -= chunk;
    }
    return 1;
}
