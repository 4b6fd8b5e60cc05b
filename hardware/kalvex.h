// Smart probes: what one probe on a channel tells, and the reading that applies it to a setup.
#pragma once

#include <cstdint>

struct database;

class TKalvex {
public:
    // Reads the probe of channel 0..3.
    explicit TKalvex(unsigned short channel);

    // -1 unless the state is 0 or 4; else fills, when given, the 6-byte designation and the id; 0.
    int getId(char* designation, unsigned short* id);
    // Stores the colour and a second user byte in the probe's header; 0.
    int setUserFields(unsigned short colour, unsigned short second);
    // The probe's coefficient and its 4-byte unit text; 0, or -1 when the probe does not say
    // (the output is left as it was).
    int getProbeCoeff(float* coefficient);
    int getMeasurementUnit(char* unit);
    // The probe's gain and offset correction: 0 when the probe carries one; otherwise gain 1.0,
    // offset 0.0 and -1.
    int getCorrection(double* gain, double* offset);

    uint16_t id = 0xAAAA;  // 0xAAAA until read
    int32_t state = 0;     // 0 read, 2 I2C error, 3 descriptor checksum, 4 header checksum
    uint16_t channel = 0;
    uint8_t statusPending = 0;
};

// Reads and applies the probe of channel 0..3 to the setup; returns the probe's status.
int LectureKalvex(int16_t channel, database* db);
