// Kernel device events: the simulated listeners and their sender, the board's netlink socket,
// and the simulated-board control that inserts and removes the SD card.
#include "board/board.h"
#include "board/kevents.h"
#include "board/simcontrol.h"
#include "board/systools.h"
#include "tests/support/simboardtest.h"

#include <cerrno>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The next event of a listener as received in a buffer of the given size ("" when none comes
// within a second); truncated tells whether it was cut.
std::string receive(int fd, size_t size = 4096, bool* truncated = nullptr)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1)
        return "";
    std::string buffer(size, '\0');
    iovec io{&buffer[0], size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    const ssize_t n = recvmsg(fd, &message, 0);
    if (truncated)
        *truncated = (message.msg_flags & MSG_TRUNC) != 0;
    return n < 0 ? "" : buffer.substr(0, static_cast<size_t>(n));
}

bool exists(const std::string& p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

class KernelEvents : public SimBoardTest {};

TEST_F(KernelEvents, EveryListenerGetsEachEventWholeAndInOrder)
{
    const int a = openKernelEventSocket(0x11);
    const int b = openSimulatedKernelEventSocket();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(simulatedKernelEventListeners(), 2);
    const std::string first("add@/x\0ACTION=add\0", 18);
    EXPECT_EQ(simSendKernelEvent(first), 2);
    EXPECT_EQ(simSendKernelEvent("remove@/x"), 2);
    for (int fd : {a, b}) {
        EXPECT_EQ(receive(fd), first);
        EXPECT_EQ(receive(fd), "remove@/x");
    }

    // A closed listener is forgotten; the other one goes on.
    ::close(a);
    EXPECT_EQ(simSendKernelEvent("change@/y"), 1);
    EXPECT_EQ(simulatedKernelEventListeners(), 1);
    EXPECT_EQ(receive(b), "change@/y");
    ::close(b);
}

TEST_F(KernelEvents, LongEventIsCutByTheReceiveBuffer)
{
    const int fd = openSimulatedKernelEventSocket();
    ASSERT_GE(fd, 0);
    const std::string text = "add@/" + std::string(6000, 'z');
    EXPECT_EQ(simSendKernelEvent(text), 1);
    bool truncated = false;
    EXPECT_EQ(receive(fd, 4096, &truncated), text.substr(0, 4096));
    EXPECT_TRUE(truncated);
    ::close(fd);
}

TEST_F(KernelEvents, SenderNeverWaitsForAListenerThatDoesNotRead)
{
    const int fd = openSimulatedKernelEventSocket();
    ASSERT_GE(fd, 0);
    int delivered = 0;
    for (int i = 0; i < 10000; ++i)
        delivered += simSendKernelEvent("add@/devices/flood");
    EXPECT_GT(delivered, 0);
    EXPECT_LT(delivered, 10000);  // the queue filled up and the rest was dropped
    ::close(fd);
}

TEST_F(KernelEvents, BoardSocketIsANetlinkEventSocketOnTheGroups)
{
    const int fd = openBoardKernelEventSocket(0x11);
    if (fd < 0)
        GTEST_SKIP() << "no kernel event socket here: " << strerror(errno);
    sockaddr_nl address{};
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_EQ(address.nl_family, AF_NETLINK);
    EXPECT_EQ(address.nl_groups, 0x11u);
    EXPECT_NE(address.nl_pid, 0u);  // assigned by the kernel
    ::close(fd);
}

TEST_F(KernelEvents, SdCardInsertionMakesTheFilesThenAnnouncesCardAndPartition)
{
    const int fd = openSimulatedKernelEventSocket();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(simInsertSdCard());
    EXPECT_TRUE(exists(hostPath(kSimSdDevice)));
    EXPECT_TRUE(exists(hostPath(kSimSdMountPoint)));
    const std::string card = kSimSdCardDevicePath;
    std::string e = receive(fd);
    EXPECT_EQ(e.substr(0, e.find('\0')), "add@" + card);
    EXPECT_NE(e.find(std::string("DEVNAME=mmcblk0\0", 16)), std::string::npos);
    e = receive(fd);
    EXPECT_EQ(e.substr(0, e.find('\0')), "add@" + card + "/mmcblk0p1");
    EXPECT_NE(e.find(std::string("DEVTYPE=partition\0", 18)), std::string::npos);

    // Removal takes the mount point with what was written on the card.
    ASSERT_EQ(mkdir((hostPath(kSimSdMountPoint) + "/setups").c_str(), 0777), 0);
    ASSERT_TRUE(writeBoardFile("/media/user/sdcard_p1/setups/a.cfg", "x"));
    ASSERT_TRUE(simRemoveSdCard());
    EXPECT_FALSE(exists(hostPath(kSimSdDevice)));
    EXPECT_FALSE(exists(hostPath(kSimSdMountPoint)));
    e = receive(fd);
    EXPECT_EQ(e.substr(0, e.find('\0')), "remove@" + card + "/mmcblk0p1");
    e = receive(fd);
    EXPECT_EQ(e.substr(0, e.find('\0')), "remove@" + card);
    ::close(fd);
}

TEST_F(KernelEvents, ToolsLogAndInterfaceTableThroughTheControl)
{
    EXPECT_EQ(simReadToolsLog(), "");
    runSystemTool("ifup", {"eth0"}, 1000);
    EXPECT_EQ(simReadToolsLog(), "ifup eth0\n");
    simClearToolsLog();
    EXPECT_EQ(simReadToolsLog(), "");

    TNetInterface wifi{"wifi0", true, {{"10.0.0.5", "255.0.0.0"}}, "02:00:00:00:00:09"};
    ASSERT_TRUE(simSetInterface(wifi));
    ASSERT_TRUE(simRemoveInterface("eth0"));
    std::vector<std::string> names;
    for (const TNetInterface& n : networkInterfaces())
        names.push_back(n.name);
    EXPECT_EQ(names, (std::vector<std::string>{"lo", "wifi0"}));
    EXPECT_EQ(hardwareAddress("wifi0"), "02:00:00:00:00:09");
    EXPECT_EQ(hardwareAddress("eth0"), "");
}

} // namespace
