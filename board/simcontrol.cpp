#include "board/simcontrol.h"

#include "board/board.h"
#include "board/kevents.h"
#include "board/systools.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeDirectory(const std::string& hostPath)
{
    struct stat st;
    if (::mkdir(hostPath.c_str(), 0777) != 0 && errno != EEXIST)
        return false;
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

std::atomic<unsigned> g_sequence{1000};

} // namespace

std::string simKernelEventText(const std::string& action, const std::string& devicePath, bool partition)
{
    const std::string name = devicePath.substr(devicePath.rfind('/') + 1);
    std::string text = action + "@" + devicePath;
    text += '\0';
    for (const std::string& line :
         {"ACTION=" + action, "DEVPATH=" + devicePath, std::string("SUBSYSTEM=block"), "DEVNAME=" + name,
          std::string(partition ? "DEVTYPE=partition" : "DEVTYPE=disk"),
          "SEQNUM=" + std::to_string(g_sequence.fetch_add(1))}) {
        text += line;
        text += '\0';
    }
    return text;
}

int simSendKernelEvent(const std::string& event)
{
    return deliverSimulatedKernelEvent(event);
}

bool simInsertSdCard()
{
    if (!makeDirectory(boardPath("/dev")) || !makeDirectory(boardPath(kSimSdMountPoint)))
        return false;
    const int fd = ::open(boardPath(kSimSdDevice).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    // The card first, then its partition, as the kernel announces them.
    const std::string card = kSimSdCardDevicePath;
    simSendKernelEvent(simKernelEventText("add", card, false));
    simSendKernelEvent(simKernelEventText("add", card + "/mmcblk0p1", true));
    return true;
}

bool simRemoveSdCard()
{
    ::nftw(boardPath(kSimSdMountPoint).c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    ::unlink(boardPath(kSimSdDevice).c_str());
    const std::string card = kSimSdCardDevicePath;
    simSendKernelEvent(simKernelEventText("remove", card + "/mmcblk0p1", true));
    simSendKernelEvent(simKernelEventText("remove", card, false));
    struct stat st;
    return ::stat(boardPath(kSimSdMountPoint).c_str(), &st) != 0 && ::stat(boardPath(kSimSdDevice).c_str(), &st) != 0;
}

std::string simReadToolsLog()
{
    std::ifstream in(boardPath(kSimToolsLog), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void simClearToolsLog()
{
    ::unlink(boardPath(kSimToolsLog).c_str());
}

std::vector<TNetInterface> simReadInterfaces()
{
    return simulatedNetworkInterfaces();
}

bool simWriteInterfaces(const std::vector<TNetInterface>& interfaces)
{
    return writeBoardFile(kSimNetifTable, formatNetifTable(interfaces));
}

bool simSetInterface(const TNetInterface& netif)
{
    std::vector<TNetInterface> table = simReadInterfaces();
    auto it = std::find_if(table.begin(), table.end(), [&](const TNetInterface& n) { return n.name == netif.name; });
    if (it != table.end())
        *it = netif;
    else
        table.push_back(netif);
    return simWriteInterfaces(table);
}

bool simRemoveInterface(const std::string& name)
{
    std::vector<TNetInterface> table = simReadInterfaces();
    const auto end = std::remove_if(table.begin(), table.end(), [&](const TNetInterface& n) { return n.name == name; });
    if (end == table.end())
        return true;
    table.erase(end, table.end());
    return simWriteInterfaces(table);
}
