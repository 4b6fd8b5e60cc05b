// System services: SD card, network addresses, USB mass storage, identification.
#pragma once

// An SD card is present and mounted: both its device node and its mount point exist.
bool isSdcardPresent();
// Exposes the medium that suits the instrument mode to the USB mass-storage gadget.
void setUsbMassStorage(int mode);
