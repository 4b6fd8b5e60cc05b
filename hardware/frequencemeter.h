// Frequency meter of the meter mode and the Gray code of the FPGA's counters.
#pragma once

#include <cstdint>

struct mesures;

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

// Last value of SPI 32: six quality bits per channel, channel k (0..3) at bits 6k+4..6k+9.
extern uint32_t pseudoQoutTrig;

// After a counter start: waits (at most 1 s) for the counting time, then reads the counts of
// channels 4 down to 1 into row gammeIndex. A count below 1000 or above 12288 stores 0; one in
// between is stored only when the channel's quality exceeds 32. Without a start: nothing.
// Without the timer's expiry within the bound: ready := 0 and the counts stay.
void FrequencemeterRead();

// Frames whole periods of channel channelIndex (0..3) in m from its counts, with the sample
// period of timeBase; 1 when it framed whole periods, else 0.
int MesuresCorrection(mesures* m, unsigned short channelIndex, short timeBase);
