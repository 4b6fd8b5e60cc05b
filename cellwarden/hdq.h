// The HDQ single-wire bus of the battery pack, driven through a serial port whose sent characters
// also come back on its receive side.
#pragma once

#include <cstddef>
#include <cstdint>

// What the gauge classes need of the bus; the default is HDQ, tests install a register bank.
class THdqBus {
public:
    virtual ~THdqBus() = default;
    virtual uint8_t readByte(uint8_t reg) = 0;
    virtual void writeByte(uint8_t reg, uint8_t value) = 0;
    virtual uint16_t readWord(uint8_t reg) = 0;
    virtual void writeWord(uint8_t reg, uint16_t value) = 0;
    // False when the last read lost part of its answer (a silent or flaky gauge).
    virtual bool lastReadComplete() const = 0;
};

THdqBus& hdqBus();
// Installs a bus (not owned); nullptr restores HDQ.
void setHdqBus(THdqBus* bus);

class HDQ {
public:
    static int i_i_fd;  // the serial port, -1 for none

    static void Initialize(const char* pc_a_devName);
    static void Close();
    static void WriteByte(unsigned char uc_a_byte);
    static void WriteRegister(unsigned char uc_a_registerAddress, unsigned char uc_a_data);
    static void WriteWordRegister(unsigned char uc_a_registerAddress, unsigned short us_a_data);
    static unsigned char ReadRegister(unsigned char uc_a_registerAddress);
    static unsigned short ReadWordRegister(unsigned char uc_a_registerAddress);
    static bool LastReadComplete();

    // The wire coding: 8 characters per byte, bit 0 first.
    static void EncodeByte(unsigned char uc_a_byte, unsigned char tuc_a_chars[8]);
    // The answer characters (at most 8 used); missing ones read as 0 bits.
    static unsigned char DecodeAnswer(const unsigned char* puc_a_chars, size_t count);
};

// A consistent 16-bit read over any bus: high, low, high again until the two highs agree, at
// most kWordReadAttempts times. *complete is false when no attempt succeeded whole.
constexpr int kWordReadAttempts = 8;
uint16_t consistentWordRead(uint8_t (*readByte)(void*, uint8_t), bool (*lastComplete)(void*),
                            void* context, uint8_t reg, bool* complete);
