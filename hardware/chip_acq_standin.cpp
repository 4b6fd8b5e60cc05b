// Stand-in for the driver opening until the acquisition-chip driver exists: records the calls.
#include "hardware/chip_acq.h"
#include "hardware/chip_acq_standin.h"

TChipAcqStandin& chipAcqStandin()
{
    static auto* s = new TChipAcqStandin();
    return *s;
}

void resetChipAcqStandin()
{
    chipAcqStandin() = TChipAcqStandin();
}

int ChipAcqDrv()
{
    ++chipAcqStandin().drvCalls;
    return 0;
}

int ChipAcqOpen(char* name, int32_t flags)
{
    auto& s = chipAcqStandin();
    ++s.openCalls;
    s.openName = name ? name : "";
    s.openFlags = flags;
    return 0;
}
