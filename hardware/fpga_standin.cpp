// Stand-in until the FPGA register access exists: no bus; the last write per register is kept.
#include "hardware/fpga.h"
#include "hardware/fpga_standin.h"

#include <mutex>

namespace {
struct TShared {
    std::mutex mutex;
    TFpgaStandin state;
};

TShared& shared()
{
    static auto* s = new TShared();
    return *s;
}
} // namespace

TFpgaStandin fpgaStandin()
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    return shared().state;
}

void resetFpgaStandin()
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().state = TFpgaStandin();
}

int TFpga::setSpiRegister(unsigned short id, uint32_t value)
{
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().state.spiRegisters[id] = value;
    ++shared().state.spiWrites;
    return 0;
}
