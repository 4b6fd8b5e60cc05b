// An in-memory gauge behind the bus interface: 256 byte registers, a write log and faults.
#pragma once

#include "cellwarden/hdq.h"

#include <array>
#include <utility>
#include <vector>

class TRegisterBank : public THdqBus {
public:
    std::array<uint8_t, 256> regs{};
    std::vector<std::pair<uint8_t, uint8_t>> writes;
    bool silent = false;  // every read lost

    TRegisterBank() { setHdqBus(this); }
    ~TRegisterBank() override { setHdqBus(nullptr); }

    uint8_t readByte(uint8_t reg) override
    {
        complete_ = !silent;
        return silent ? 0 : regs[reg];
    }
    void writeByte(uint8_t reg, uint8_t value) override
    {
        writes.emplace_back(reg, value);
        if (reg != 0x74)  // a write there clears counters; reads give the temperature
            regs[reg] = value;
    }
    uint16_t readWord(uint8_t reg) override
    {
        const uint8_t lo = readByte(reg);
        const uint8_t hi = readByte(static_cast<uint8_t>(reg + 1));
        return static_cast<uint16_t>(hi << 8 | lo);
    }
    void writeWord(uint8_t reg, uint16_t value) override
    {
        writeByte(reg, static_cast<uint8_t>(value));
        writeByte(static_cast<uint8_t>(reg + 1), static_cast<uint8_t>(value >> 8));
    }
    bool lastReadComplete() const override { return complete_; }

    void setWord(uint8_t reg, uint16_t v)
    {
        regs[reg] = static_cast<uint8_t>(v);
        regs[static_cast<uint8_t>(reg + 1)] = static_cast<uint8_t>(v >> 8);
    }

private:
    bool complete_ = true;
};
