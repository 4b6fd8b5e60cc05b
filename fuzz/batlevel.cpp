// Fuzz target of the charging screen's level file: the bytes are read as the screen reads them
// (at most 10), then the level drives the gauge's steps from every animation state. Properties:
// no crash, no sanitizer report; every step names a picture.
#include "chargeview/mainwindow.h"
#include "fuzz/support.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int16_t level = parseBatteryLevel(reinterpret_cast<const char*>(data), size);
    for (int16_t image : {int16_t{0}, int16_t{20}, int16_t{80}, int16_t{100}, level})
        for (int16_t counter : {int16_t{0}, int16_t{1}, int16_t{9}}) {
            const TChargeStep step = chargeStep(level, image, counter);
            if (!step.picture)
                fuzzFailure("a step without a picture");
        }
    return 0;
}
