// Stand-in for the USB mass-storage switch until the system services exist: records the mode.
#include "core/sysserv.h"
#include "core/sysserv_standin.h"

TSysservStandin& sysservStandin()
{
    static auto* s = new TSysservStandin();
    return *s;
}

void resetSysservStandin()
{
    sysservStandin() = TSysservStandin();
}

void setUsbMassStorage(int mode)
{
    sysservStandin().usbMassStorageModes.push_back(mode);
}
