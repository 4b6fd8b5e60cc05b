#include "core/checksum.h"

uint32_t Checksum(const unsigned char* buffer, uint32_t length) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) sum += buffer[i];
    return ~sum;
}
