// Stand-in for the driver commands until they exist: records the call.
#include "hardware/chip_acq.h"
#include "hardware/chip_acq_ioctl_standin.h"

TChipAcqIoctlStandin& chipAcqIoctlStandin()
{
    static auto* s = new TChipAcqIoctlStandin();
    return *s;
}

void resetChipAcqIoctlStandin()
{
    chipAcqIoctlStandin() = TChipAcqIoctlStandin();
}

int ChipAcqIoctl(int32_t command, acq_ctrl* ctrl)
{
    auto& s = chipAcqIoctlStandin();
    ++s.calls;
    s.lastCommand = command;
    s.lastRecordNull = ctrl == nullptr;
    return 0;
}
