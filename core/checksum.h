#pragma once

#include <cstdint>

// Byte-sum checksum of saved records (setup, calibration, probe memory):
// bitwise NOT of the 32-bit wrapping sum of the bytes; 0xFFFFFFFF for none.
uint32_t Checksum(const unsigned char* buffer, uint32_t length);
