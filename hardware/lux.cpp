#include "hardware/lux.h"

#include "board/deviceio.h"
#include "core/gest_db.h"
#include "core/requests.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>

namespace {

constexpr const char* kBus = "/dev/i2c-0";
constexpr uintptr_t kSensorAddress = 0x4A;
constexpr float kLuxPerCount = 0.045f;

enum : unsigned char {
    kRegInterrupt = 0,
    kRegInterruptEnable = 1,
    kRegConfig = 2,
    kRegValueHigh = 3,
    kRegValueLow = 4,
    kRegUpper = 5,
    kRegLower = 6,
    kRegTimer = 7,
};

// The bus with the sensor selected, closed when it goes; fd < 0 when either step failed.
class TSensor {
public:
    TSensor()
    {
        fd_ = deviceIO().open(kBus, O_RDWR);
        if (fd_ >= 0 && deviceIO().ioctl(fd_, I2C_SLAVE, reinterpret_cast<void*>(kSensorAddress)) < 0) {
            deviceIO().close(fd_);
            fd_ = -1;
        }
    }
    ~TSensor()
    {
        if (fd_ >= 0)
            deviceIO().close(fd_);
    }
    TSensor(const TSensor&) = delete;
    TSensor& operator=(const TSensor&) = delete;

    bool write(unsigned char reg, unsigned char value)
    {
        const unsigned char frame[2] = {reg, value};
        return fd_ >= 0 && deviceIO().write(fd_, frame, 2) == 2;
    }
    bool read(unsigned char reg, unsigned char* value)
    {
        return fd_ >= 0 && deviceIO().write(fd_, &reg, 1) == 1 && deviceIO().read(fd_, value, 1) == 1;
    }

private:
    int fd_ = -1;
};

int writeRegister(unsigned char reg, unsigned char value)
{
    TSensor sensor;
    return sensor.write(reg, value) ? 0 : -1;
}

} // namespace

int luxConfig(unsigned char value)
{
    return writeRegister(kRegConfig, value);
}

int luxInit()
{
    return luxConfig(3);
}

int luxInterruptEnable(bool on)
{
    return writeRegister(kRegInterruptEnable, on ? 1 : 0);
}

int luxInterruptRead(bool* pending)
{
    TSensor sensor;
    unsigned char v = 0;
    if (!sensor.read(kRegInterrupt, &v))
        return -1;
    if (pending)
        *pending = (v & 1) != 0;
    return 0;
}

int luxSetThresholds(unsigned char upper, unsigned char lower)
{
    TSensor sensor;
    return sensor.write(kRegUpper, upper) && sensor.write(kRegLower, lower) ? 0 : -1;
}

int luxSetThresholdsTimer(unsigned char timer)
{
    return writeRegister(kRegTimer, timer);
}

int luxRead(float* lux)
{
    TSensor sensor;
    unsigned char high = 0, low = 0;
    if (!sensor.read(kRegValueHigh, &high) || !sensor.read(kRegValueLow, &low))
        return -1;
    const int mantissa = ((high & 15) << 4) | (low & 15);
    const int exponent = high >> 4;
    if (lux)
        *lux = static_cast<float>(mantissa) * static_cast<float>(1u << exponent) * kLuxPerCount;
    return 0;
}

unsigned char ConvLuxInExponentMantissaByte(float lux)
{
    const float counts = lux / kLuxPerCount;
    // Levels outside the sensor's range are held at its ends.
    if (!(counts >= 0.0f))
        return 0;
    const uint32_t a = counts >= 4294967040.0f ? 0xFFFFFF00u : static_cast<uint32_t>(counts);
    if (a < 256)
        return static_cast<unsigned char>(a >> 4);
    uint32_t b = a;
    int c = 0;
    if (b < 0x10000) {
        while (!(b & 0x8000)) {
            b <<= 1;
            --c;
        }
    } else {
        while (b >= 0x10000) {
            b >>= 1;
            ++c;
        }
    }
    const unsigned d = static_cast<unsigned>((c + 8) * 16) & 0xFF;
    const unsigned e = ((b + 16) >> 12) & 0xFF;
    return static_cast<unsigned char>(d != 0 ? (e | 8 | d) : e);
}

int luxBrightness(float lux)
{
    static const float kLimits[] = {4.0f, 20.0f, 99.0f, 463.0f, 2153.0f, 10000.0f};
    int level = 3;
    for (float limit : kLimits) {
        if (lux < limit)
            return level;
        ++level;
    }
    return level;
}

int luxAutoSet()
{
    bool pending = false;
    luxInterruptRead(&pending);
    float lux = 0.0f;
    if (luxRead(&lux) != 0)
        return 0;
    pipe_dial request{REQ_SET_PARAM, param::displayBrightness, 0, luxBrightness(lux), 0.0f,
                      senderValue(pthread_self())};
    o_g_consMessageBox.send(&request);
    luxSetThresholds(ConvLuxInExponentMantissaByte(1.5f * lux), ConvLuxInExponentMantissaByte(0.5f * lux));
    luxSetThresholdsTimer(100);
    return 0;
}
