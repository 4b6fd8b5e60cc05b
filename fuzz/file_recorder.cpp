// The recorder's information record as recorder files hold it, read by a channel's trace; an
// accepted record is then shown on its range.
#include "fuzz/support.h"

#include "acquisition/TAcquisition.h"

#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static TAcquisition* trace = new TAcquisition(1);
    const int fd = fuzzMemoryFile(bytes, size);
    const int32_t result = trace->readLoggerInfos(fd);
    ::close(fd);
    if (result == 0) {
        double span = 0.0, top = 0.0;
        bool autoRange = false;
        trace->GetMMRange(&span, &top, &autoRange);
        trace->putLoggerMeasurement(MEASURE_VALID, 1.5f);
        // The viewer converts a whole trace of floats in place: 0, 1, +inf, -inf, NaN, ...
        static uint32_t* values = new uint32_t[TAcquisition::kSampleCount];
        static const uint32_t pattern[] = {0, 0x3f800000u, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xc61c4000u};
        for (uint32_t i = 0; i < TAcquisition::kSampleCount; ++i)
            values[i] = pattern[i % (sizeof pattern / sizeof pattern[0])];
        TAcquisition::computeViewerSignal(values, trace);
        for (uint32_t i = 0; i < 6; ++i)
            TAcquisition::measValueAt(values, trace, i);
    }
    return 0;
}
