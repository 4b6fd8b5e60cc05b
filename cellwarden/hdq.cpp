#include "cellwarden/hdq.h"

#include "board/deviceio.h"

#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

int HDQ::i_i_fd = -1;

namespace {

bool s_g_lastComplete = true;

class THdqDefault : public THdqBus {
public:
    uint8_t readByte(uint8_t reg) override { return HDQ::ReadRegister(reg); }
    void writeByte(uint8_t reg, uint8_t value) override { HDQ::WriteRegister(reg, value); }
    uint16_t readWord(uint8_t reg) override { return HDQ::ReadWordRegister(reg); }
    void writeWord(uint8_t reg, uint16_t value) override { HDQ::WriteWordRegister(reg, value); }
    bool lastReadComplete() const override { return HDQ::LastReadComplete(); }
};

THdqBus* s_g_bus = nullptr;

// Bus timings are the wire's, never scaled with the simulated board's speed.
void waitUs(unsigned us) { ::usleep(us); }

} // namespace

THdqBus& hdqBus()
{
    static THdqDefault def;
    return s_g_bus ? *s_g_bus : def;
}

void setHdqBus(THdqBus* bus) { s_g_bus = bus; }

void HDQ::Initialize(const char* pc_a_devName)
{
    i_i_fd = deviceIO().open(pc_a_devName, O_RDWR | O_NOCTTY | O_SYNC);
    if (i_i_fd < 0) {
        i_i_fd = -1;
        return;
    }
    struct termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_cflag = CS8 | CSTOPB | CREAD | CLOCAL;
    cfsetispeed(&tio, B57600);
    cfsetospeed(&tio, B57600);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 5;
    deviceIO().ioctl(i_i_fd, TCSETS, &tio);
}

void HDQ::Close()
{
    if (i_i_fd >= 0)
        deviceIO().close(i_i_fd);
    i_i_fd = -1;
}

void HDQ::EncodeByte(unsigned char uc_a_byte, unsigned char tuc_a_chars[8])
{
    for (int bit = 0; bit < 8; ++bit)
        tuc_a_chars[bit] = (uc_a_byte >> bit) & 1 ? 0xFE : 0xC0;
}

unsigned char HDQ::DecodeAnswer(const unsigned char* puc_a_chars, size_t count)
{
    unsigned char result = 0;
    for (size_t bit = 0; bit < 8 && bit < count; ++bit)
        if ((puc_a_chars[bit] & 0xFD) == 0xFC)
            result |= 1u << bit;
    return result;
}

void HDQ::WriteByte(unsigned char uc_a_byte)
{
    unsigned char chars[8];
    EncodeByte(uc_a_byte, chars);
    for (unsigned char c : chars)
        if (i_i_fd >= 0)
            deviceIO().write(i_i_fd, &c, 1);
}

void HDQ::WriteRegister(unsigned char uc_a_registerAddress, unsigned char uc_a_data)
{
    if (i_i_fd >= 0) {
        int duration = 10;
        deviceIO().ioctl(i_i_fd, TCSBRKP, reinterpret_cast<void*>(static_cast<intptr_t>(duration)));
    }
    WriteByte(static_cast<unsigned char>(uc_a_registerAddress | 0x80));
    WriteByte(uc_a_data);
}

void HDQ::WriteWordRegister(unsigned char uc_a_registerAddress, unsigned short us_a_data)
{
    WriteRegister(uc_a_registerAddress, static_cast<unsigned char>(us_a_data & 0xFF));
    WriteRegister(static_cast<unsigned char>(uc_a_registerAddress + 1), static_cast<unsigned char>(us_a_data >> 8));
}

unsigned char HDQ::ReadRegister(unsigned char uc_a_registerAddress)
{
    if (i_i_fd < 0) {
        s_g_lastComplete = false;
        return 0;
    }
    deviceIO().ioctl(i_i_fd, TIOCSBRK, nullptr);
    waitUs(200);
    deviceIO().ioctl(i_i_fd, TIOCCBRK, nullptr);
    waitUs(200);
    deviceIO().ioctl(i_i_fd, TCFLSH, reinterpret_cast<void*>(static_cast<intptr_t>(TCIFLUSH)));
    WriteByte(static_cast<unsigned char>(uc_a_registerAddress & 0x7F));
    waitUs(5000);
    unsigned char chars[16] = {};
    size_t got = 0;
    // One read may stop short of 16 characters; go on until they are all in or one comes back
    // empty (VTIME's half second without a character).
    while (got < sizeof chars) {
        const ssize_t n = deviceIO().read(i_i_fd, chars + got, sizeof chars - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    s_g_lastComplete = got == sizeof chars;
    return DecodeAnswer(chars + 8, got > 8 ? got - 8 : 0);
}

uint16_t consistentWordRead(uint8_t (*readByte)(void*, uint8_t), bool (*lastComplete)(void*),
                            void* context, uint8_t reg, bool* complete)
{
    const uint8_t hiReg = static_cast<uint8_t>(reg + 1);
    uint8_t hi = 0, lo = 0;
    for (int attempt = 0; attempt < kWordReadAttempts; ++attempt) {
        hi = readByte(context, hiReg);
        bool whole = lastComplete(context);
        lo = readByte(context, reg);
        whole = whole && lastComplete(context);
        const uint8_t again = readByte(context, hiReg);
        whole = whole && lastComplete(context);
        if (again == hi) {
            *complete = whole;
            return static_cast<uint16_t>(hi << 8 | lo);
        }
    }
    *complete = false;
    return static_cast<uint16_t>(hi << 8 | lo);
}

unsigned short HDQ::ReadWordRegister(unsigned char uc_a_registerAddress)
{
    bool complete = true;
    const uint16_t v = consistentWordRead([](void*, uint8_t r) -> uint8_t { return ReadRegister(r); },
                                          [](void*) { return s_g_lastComplete; }, nullptr,
                                          uc_a_registerAddress, &complete);
    s_g_lastComplete = complete;
    return v;
}

bool HDQ::LastReadComplete() { return s_g_lastComplete; }
