// Observation of the FPGA register stand-in (tests only).
#pragma once

#include <cstdint>
#include <map>

struct TFpgaStandin {
    std::map<uint16_t, uint32_t> spiRegisters;  // last value written per SPI register
    int spiWrites = 0;
};

// A copy, taken under the stand-in's lock (any thread may write registers).
TFpgaStandin fpgaStandin();
void resetFpgaStandin();
