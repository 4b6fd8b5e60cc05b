// Acquisition-chip driver: opening and control commands.
#pragma once

#include <cstdint>

struct acq_ctrl;

// Opens the driver: register window, FPGA configuration, timers, interrupt thread. Returns 0.
int ChipAcqDrv();
// Clears the auto-trigger state; both arguments are ignored. Returns 0.
int ChipAcqOpen(char* name, int32_t flags);
// Driver command; 0, 6, 10 and 12 accept a null record. Returns 0.
int ChipAcqIoctl(int32_t command, acq_ctrl* ctrl);

// Front-end relay word (serial opcode 0x90) and the per-channel bandwidth-limit bits ORed into it
// for each channel. The driver owns them; the scaling registers only clear and set bit 7
// (front end held) around register writes.
extern uint16_t pseudoRC;
extern uint16_t pseudoRC_bwl[4];
