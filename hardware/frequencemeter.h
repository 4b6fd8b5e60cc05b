// Frequency meter of the meter mode and the Gray code of the FPGA's counters.
#pragma once

#include <cstdint>

// Counts of the two counter ranges (row 0: word 13, row 1: word 17), per channel 1-4. Zeroed by
// the scope command.
extern int32_t pseudo_FqPr[2][4];
// Row that the next read fills; switched at every counter start.
extern uint16_t gammeIndex;

// Reflected Gray code and its inverse.
uint32_t BinToGray(uint32_t n);
uint32_t GrayToBin(uint32_t g);

// Starts the counters (meter command at time-base index 21): switches the range, sends its word
// with opcode 0xCE to triggerChannels, marks the meter counting, re-initialises the four
// channels, clears SPI 32 and arms the 300 ms frequency-meter timer.
void FrequencemeterStart(uint16_t triggerChannels);

constexpr int kFrequencemeterMs = 300;
