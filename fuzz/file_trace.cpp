// Trace records as trace files hold them: the first byte chooses the trace that reads the
// record, the rest is the record. A record that is accepted is then shown and measured.
#include "fuzz/support.h"

#include "acquisition/TAcquisition.h"

#include <unistd.h>

namespace {
// A live channel (its record also lands in the channel's buffer), a stored trace, the mask.
constexpr unsigned short kReaders[] = {1, 8, 16, 4096};
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    static TAcquisition* traces[4] = {};
    const unsigned which = bytes[0] & 3u;
    if (!traces[which])
        traces[which] = new TAcquisition(kReaders[which]);
    TAcquisition* trace = traces[which];

    const int fd = fuzzMemoryFile(bytes + 1, size - 1);
    const int32_t result = trace->read(fd);
    ::close(fd);
    if (result == 0) {
        double span = 0.0, top = 0.0;
        bool autoRange = false;
        trace->GetMMRange(&span, &top, &autoRange);
        trace->getSampleAt(0);
        trace->getSampleAt(TAcquisition::kSampleCount - 1);
        trace->getOffsetCurs(0, 0);
        trace->getOffsetCurs(0, 1);
    }
    return 0;
}
