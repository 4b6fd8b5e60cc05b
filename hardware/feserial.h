// The serial front-end interface: words 48-52 of the FPGA register window. Every user of those
// words (scaling registers, driver, self test, calibration, autoset, factory handlers) goes
// through these functions, each call one whole access under the interface's own lock: wait until
// the interface is idle, data word, command word, wait again, read-back. Nothing else is locked
// while that lock is held, so it is the innermost lock of the program.
#pragma once

#include <cstdint>

// Device mask bits (command word bits 9-15): the chips of channels 1-4 and three further devices.
enum : uint16_t {
    FE_CHANNEL_1 = 1,
    FE_CHANNEL_2 = 2,
    FE_CHANNEL_3 = 4,
    FE_CHANNEL_4 = 8,
    FE_ALL_CHANNELS = 0xF,
    FE_ALL_DEVICES = 0x7F,
};

// Window words of the interface.
enum : unsigned short {
    FE_WORD_DATA = 48,
    FE_WORD_COMMAND = 49,
    FE_WORD_STATUS = 50,   // bit 0: busy
    FE_WORD_READ_HIGH = 51,
    FE_WORD_READ_LOW = 52,
};

// How long a busy interface is waited for before the access is abandoned.
constexpr int kFeBusyTimeoutMs = 10;

// Command word of a device mask and an opcode (bits 0-8).
constexpr uint16_t feCommandWord(uint16_t deviceMask, uint16_t opcode)
{
    return static_cast<uint16_t>(((deviceMask & 0x7F) << 9) | (opcode & 0x1FF));
}
// Device mask of channel 0..3.
constexpr uint16_t feChannelMask(unsigned channel)
{
    return static_cast<uint16_t>(1u << (channel & 3));
}

// One access with a raw data word and a whole command word. readBack (may be null) receives the
// 24-bit read-back (word 51 << 16 | word 52) taken after the command, 0 on failure. False when
// no window is mapped or the interface stayed busy for kFeBusyTimeoutMs (before the command: it
// is not sent; after it: the read-back is not taken).
bool feSerialAccess(uint16_t dataWord, uint16_t commandWord, uint32_t* readBack = nullptr);

// A command carrying a value: data word = value shifted left by one.
bool feSerialSend(uint16_t deviceMask, uint16_t opcode, uint32_t value);
// A command with a raw data word (self test patterns, factory and autoset sequences).
bool feSerialSendData(uint16_t deviceMask, uint16_t opcode, uint16_t dataWord);
// A read command (data word 0); the 24-bit read-back, 0 on failure.
uint32_t feSerialQuery(uint16_t deviceMask, uint16_t opcode, bool* ok = nullptr);
