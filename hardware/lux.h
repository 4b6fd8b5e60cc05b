// The ambient-light sensor at 0x4A on /dev/i2c-0, and the automatic display brightness it drives.
// Every operation opens the bus, selects the sensor, transfers and closes: no descriptor is kept.
// Used by the key thread only.
#pragma once

#include <cstdint>

// Register 2 := value. 0, or -1 when the bus cannot be opened or a transfer is short.
int luxConfig(unsigned char value);
// luxConfig(3).
int luxInit();
// Register 1 := 1 or 0.
int luxInterruptEnable(bool on);
// Reads register 0 (which clears it); *pending := its bit 0.
int luxInterruptRead(bool* pending);
// Register 5 := upper, then register 6 := lower (only when the first write succeeded).
int luxSetThresholds(unsigned char upper, unsigned char lower);
// Register 7 := timer.
int luxSetThresholdsTimer(unsigned char timer);
// Reads registers 3 and 4: mantissa x 2^exponent x 0.045 lux.
int luxRead(float* lux);
// The threshold byte of a level (the form of register 3).
unsigned char ConvLuxInExponentMantissaByte(float lux);
// Display brightness level 3..9 for a light level.
int luxBrightness(float lux);
// Reads the level, posts the brightness request to the controller (sender: the calling thread,
// the key thread) and sets a window of thresholds around the level. A level that cannot be read
// posts nothing and leaves the thresholds. Returns 0.
int luxAutoSet();
