// Simulated USB serial gadget: opening its device gives the master side of a new raw
// pseudo-terminal; the slave side, which a PC would see as its ACM port, is published as a
// symbolic link beside the device's board path.
#pragma once

#include <string>

constexpr const char* kSimGadgetDevice = "/dev/ttyGS0";
constexpr const char* kSimGadgetHostLink = "/dev/ttyGS0.host";

// True for the board path of a modelled gadget device.
bool isSimulatedGadget(const char* boardPath);
// Opens a new pair and renews the link; the master's descriptor or -1 with errno.
int openSimulatedGadget(int flags);
