// Observation of the USB mass-storage stand-in (tests only).
#pragma once

#include <vector>

struct TSysservStandin {
    std::vector<int> usbMassStorageModes;
};

TSysservStandin& sysservStandin();
void resetSysservStandin();
