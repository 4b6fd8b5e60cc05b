// Raw device accesses through the seam, written the way the FPGA's own protocol wants them, so
// that the simulated board's tests do not depend on the product's hardware layer.
#pragma once

#include "board/deviceio.h"
#include "board/sim/simboard.h"

#include <cstdint>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

namespace simtest {

// Front-end register reg as the chip's own layout packs the parameters p[0..kChipParams).
inline uint16_t encodeChipRegister(const uint16_t* p, int reg)
{
    uint16_t v = 0;
    for (const auto& fl : simboard::chipFields(reg)) {
        if (fl.param >= simboard::kChipParams)
            continue;
        const uint16_t m = static_cast<uint16_t>((1u << fl.width) - 1);
        uint16_t x = p[fl.param] & m;
        if (fl.inverted)
            x ^= m;
        if (fl.reversed) {
            uint16_t r = 0;
            for (int i = 0; i < fl.width; ++i)
                if (x & (1u << i))
                    r = static_cast<uint16_t>(r | (1u << (fl.width - 1 - i)));
            x = r;
        }
        v = static_cast<uint16_t>(v | (x << fl.position));
    }
    return v;
}

constexpr uint32_t kSpiHz = 6250000;

// One 5-byte register write frame on a fresh descriptor set to mode and speed.
inline bool spiWrite(int id, uint32_t value, uint8_t mode = SPI_MODE_1, uint32_t speed = kSpiHz)
{
    TDeviceIO& io = deviceIO();
    int fd = io.open("/dev/spidev1.0", O_WRONLY);
    if (fd < 0)
        return false;
    io.ioctl(fd, SPI_IOC_WR_MODE, &mode);
    io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed);
    uint8_t frame[5] = {static_cast<uint8_t>(id | 0x80), static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    bool ok = io.write(fd, frame, 5) == 5;
    io.close(fd);
    return ok;
}

// One message of two transfers: the id out, then 4 bytes in, least significant first.
inline uint32_t spiRead(int id, uint8_t mode = SPI_MODE_1, uint32_t speed = kSpiHz)
{
    TDeviceIO& io = deviceIO();
    int fd = io.open("/dev/spidev1.0", O_RDONLY);
    if (fd < 0)
        return 0xDEADBEEF;
    io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed);
    io.ioctl(fd, SPI_IOC_WR_MODE, &mode);
    uint8_t out = static_cast<uint8_t>(id);
    uint8_t in[4] = {};
    struct spi_ioc_transfer t[2] = {};
    t[0].tx_buf = reinterpret_cast<uintptr_t>(&out);
    t[0].len = 1;
    t[1].rx_buf = reinterpret_cast<uintptr_t>(in);
    t[1].len = 4;
    int rc = io.ioctl(fd, SPI_IOC_MESSAGE(2), t);
    io.close(fd);
    if (rc != 5)
        return 0xDEADBEEF;
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

// The EIM window of /dev/uio0, mapped for the life of the object.
class Window {
public:
    Window()
    {
        fd_ = deviceIO().open("/dev/uio0", O_RDWR);
        if (fd_ >= 0)
            w_ = deviceIO().mapRegisterWindow(fd_, 0x4000000, 0);
    }
    ~Window()
    {
        if (w_)
            deviceIO().unmapRegisterWindow(w_);
        if (fd_ >= 0)
            deviceIO().close(fd_);
    }
    bool ok() const { return w_ != nullptr; }
    uint16_t read(uint32_t word) { return w_->read16(word); }
    void write(uint32_t word, uint16_t value) { w_->write16(word, value); }

    // A serial front-end command: data word, then command word (mask << 9 | opcode).
    void command(uint16_t mask, uint16_t opcode, uint16_t data)
    {
        write(48, data);
        write(49, static_cast<uint16_t>(mask << 9 | opcode));
    }
    uint32_t readBack() { return static_cast<uint32_t>(read(51)) << 16 | read(52); }

private:
    int fd_ = -1;
    TRegisterWindow* w_ = nullptr;
};

} // namespace simtest
