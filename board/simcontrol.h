// Control of the simulated board from tests and tools: what a user or the kernel would do to a
// real instrument (insert a card, plug a cable) and what it would show (the tools it ran).
// Works on the files under the simulated-board root; meaningless in the board build.
#pragma once

#include "board/netif.h"

#include <string>
#include <vector>

// Board paths of the SD card's first partition and of its mount point.
constexpr const char* kSimSdDevice = "/dev/mmcblk0p1";
constexpr const char* kSimSdMountPoint = "/media/user/sdcard_p1";
// Kernel device path of the card; the partition is "<card>/mmcblk0p1".
constexpr const char* kSimSdCardDevicePath =
    "/devices/soc0/soc.1/2100000.aips-bus/2190000.usdhc/mmc_host/mmc0/mmc0:0001/block/mmcblk0";

// Inserts the card: creates the device node (an empty regular file) and the mount point, then
// sends the kernel's "add" events of the card and of its partition. False when a file cannot be
// made (no event is sent then).
bool simInsertSdCard();
// Removes the card: removes the mount point with everything under it and the device node, then
// sends the "remove" events of the partition and of the card.
bool simRemoveSdCard();
// The text of one kernel event, as the kernel sends it: "action@devpath", then the NUL-ended
// KEY=value lines (ACTION, DEVPATH, SUBSYSTEM, DEVNAME, DEVTYPE, SEQNUM).
std::string simKernelEventText(const std::string& action, const std::string& devicePath, bool partition);
// Sends any event text (NULs included) to every listener; the number that took it.
int simSendKernelEvent(const std::string& event);

// The tools the instrument ran: one line "program arg ..." each, oldest first.
std::string simReadToolsLog();
void simClearToolsLog();

// The interface table of the simulated network (see board/netif.h).
std::vector<TNetInterface> simReadInterfaces();
bool simWriteInterfaces(const std::vector<TNetInterface>& interfaces);
// Replaces the interface of that name, or appends it; false when the table cannot be written.
bool simSetInterface(const TNetInterface& netif);
// Removes the interface of that name (absent already: true, nothing changes).
bool simRemoveInterface(const std::string& name);
