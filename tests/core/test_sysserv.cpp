// System services: SD card presence, the USB mass-storage unit, network addresses, the MAC
// address, the static-address and Wi-Fi settings files and the interface restart.
#include "tests/support/recordingbridge.h"
#include "tests/support/simboardtest.h"

#include "board/board.h"
#include "board/simcontrol.h"
#include "core/homebridge.h"
#include "core/sysserv.h"

#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SystemServicesTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        mkdir(hostPath("/dev").c_str(), 0777);
    }
    void TearDown() override
    {
        po_g_homeBridge.store(nullptr);
        SimBoardTest::TearDown();
    }

    void setCard(bool device, bool mounted)
    {
        ::unlink(hostPath(kSimSdDevice).c_str());
        ::rmdir(hostPath(kSimSdMountPoint).c_str());
        if (device) {
            ASSERT_TRUE(writeBoardFile(kSimSdDevice, ""));
        }
        if (mounted) {
            ASSERT_EQ(mkdir(hostPath(kSimSdMountPoint).c_str(), 0777), 0);
        }
    }
    std::string interfaces() const { return readHostFile(hostPath("/etc/network/interfaces")); }
    std::string wifi() const { return readHostFile(hostPath("/media/private/sta_settings.conf")); }

    // Never destroyed: the bridge global may be read until the test ends.
    TRecordingBridge* bridge()
    {
        if (!bridge_)
            bridge_ = new TRecordingBridge();
        return bridge_;
    }
    TRecordingBridge* bridge_ = nullptr;
};

TEST_F(SystemServicesTest, SdCardNeedsBothTheDeviceAndTheMountPoint)
{
    struct Row {
        bool device, mounted, present;
    };
    for (const Row row : {Row{false, false, false}, Row{true, false, false}, Row{false, true, false},
                          Row{true, true, true}}) {
        SCOPED_TRACE(std::to_string(row.device) + std::to_string(row.mounted));
        setCard(row.device, row.mounted);
        EXPECT_EQ(isSdcardPresent(), row.present);
    }
}

TEST_F(SystemServicesTest, UsbMassStorageExposesTheMediumOfTheMode)
{
    struct Row {
        int mode;
        bool device, mounted;
        const char* file;
        const char* readOnly;
    };
    const Row rows[] = {
        {0x8000, false, false, "/dev/mmcblk2p5", "0"},
        {0x8000, true, false, "/dev/mmcblk2p5", "0"},  // card not mounted
        {0x8000, true, true, "/dev/mmcblk0p1", "0"},
        {0x8000, false, true, "/dev/mmcblk0p1", "0"},  // the mount point decides
        {16, true, true, "/dev/mmcblk2p7", "1"},
        {128, false, false, "/dev/mmcblk2p7", "1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + " " + std::to_string(row.device) + std::to_string(row.mounted));
        setCard(row.device, row.mounted);
        setUsbMassStorage(row.mode);
        // Written literally, never mapped to the simulated root.
        EXPECT_EQ(readHostFile(hostPath(kUsbLunFile)), row.file);
        EXPECT_EQ(readHostFile(hostPath(kUsbLunReadOnly)), row.readOnly);
    }

    // A unit file that is not there is skipped, never created.
    ASSERT_EQ(::unlink(hostPath(kUsbLunReadOnly).c_str()), 0);
    setUsbMassStorage(16);
    struct stat st;
    EXPECT_NE(stat(hostPath(kUsbLunReadOnly).c_str(), &st), 0);
    EXPECT_EQ(readHostFile(hostPath(kUsbLunFile)), "/dev/mmcblk2p7");
}

TEST_F(SystemServicesTest, IpAddressOfTheFirstWiredOrWirelessInterface)
{
    struct Row {
        const char* what;
        std::vector<TNetInterface> table;
        bool found;
        const char* address;
        const char* netmask;
    };
    const TNetInterface lo{"lo", true, {{"127.0.0.1", "255.0.0.0"}}, "00:00:00:00:00:00"};
    const TNetInterface eth0{"eth0", true, {{"192.0.2.10", "255.255.255.0"}}, "02:42:56:00:02:0A"};
    const TNetInterface eth0Bare{"eth0", true, {}, "02:42:56:00:02:0A"};
    const TNetInterface wifi0{"wifi0", true, {{"10.0.0.5", "255.0.0.0"}}, "02:00:00:00:00:09"};
    const TNetInterface usb0{"usb0", true, {{"172.16.0.1", "255.255.0.0"}}, "-"};
    const std::vector<Row> rows = {
        {"seeded", {lo, eth0}, true, "192.0.2.10", "255.255.255.0"},
        {"wifi0 listed first", {lo, wifi0, eth0}, true, "10.0.0.5", "255.0.0.0"},
        {"eth0 without address", {lo, eth0Bare, wifi0}, true, "10.0.0.5", "255.0.0.0"},
        {"other interfaces only", {lo, usb0}, false, "0.0.0.0", "0.0.0.0"},
        {"eth0 absent", {lo}, false, "0.0.0.0", "0.0.0.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(simWriteInterfaces(row.table));
        bool dhcp = true;
        std::string address = "x", netmask = "x", gateway = "x";
        EXPECT_EQ(getIpAddress(dhcp, address, netmask, gateway), row.found);
        EXPECT_FALSE(dhcp);
        EXPECT_EQ(address, row.address);
        EXPECT_EQ(netmask, row.netmask);
        EXPECT_EQ(gateway, "0.0.0.0");
    }
}

TEST_F(SystemServicesTest, MacAddressOfEth0OrZerosPromptly)
{
    std::string mac;
    EXPECT_TRUE(getMacAddress(mac));
    EXPECT_EQ(mac, "02-42-56-00-02-0a");

    ASSERT_TRUE(simRemoveInterface("eth0"));
    const auto start = std::chrono::steady_clock::now();
    mac = "x";
    EXPECT_TRUE(getMacAddress(mac));
    EXPECT_EQ(mac, "00-00-00-00-00-00");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(SystemServicesTest, StaticAddressReplacesTheStanzaOfTheInterface)
{
    ASSERT_TRUE(writeBoardFile("/etc/network/interfaces",
                               "auto lo\n"
                               "iface lo inet loopback\n"
                               "\n"
                               "auto eth0\n"
                               "iface eth0 inet dhcp\n"
                               "iface wifi0 inet dhcp\n"));
    po_g_homeBridge.store(bridge());

    EXPECT_TRUE(setIpParams("eth0", "10.1.2.3"));

    EXPECT_EQ(interfaces(), "auto lo\n"
                            "iface lo inet loopback\n"
                            "auto eth0\n"
                            "iface wifi0 inet dhcp\n"
                            "iface eth0 inet static\n"
                            "    address 10.1.2.3\n"
                            "    netmask 255.0.0.0\n");
    EXPECT_EQ(simReadToolsLog(), "ifdown wifi0\nifdown eth0\nifup eth0\n");
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"refreshConfig()"});
    struct stat st;
    EXPECT_NE(stat(hostPath("/etc/network/interfaces.tmp").c_str(), &st), 0);
}

TEST_F(SystemServicesTest, StaticAddressSkipsTheOldStanzaUpToTheNextOneAndDropsAutoWifi)
{
    ASSERT_TRUE(writeBoardFile("/etc/network/interfaces",
                               "auto wifi0\n"
                               "iface wifi0 inet dhcp\n"
                               "    wpa-conf /media/private/sta_settings.conf\n"
                               "# wired\n"
                               "iface eth0 inet static\n"
                               "    address 192.0.2.99\n"
                               "    gateway 192.0.2.1\n"
                               "auto usb0\n"));
    EXPECT_TRUE(setIpParams("wifi0", "192.168.1.20"));
    EXPECT_EQ(interfaces(), "# wired\n"
                            "iface eth0 inet static\n"
                            "    address 192.0.2.99\n"
                            "    gateway 192.0.2.1\n"
                            "auto usb0\n"
                            "iface wifi0 inet static\n"
                            "    address 192.168.1.20\n"
                            "    netmask 255.255.255.0\n");
}

TEST_F(SystemServicesTest, NetmaskFollowsTheClassOfTheAddress)
{
    struct Row {
        const char* address;
        const char* written;
        const char* netmask;
    };
    const Row rows[] = {
        {"192.168.1.20", "192.168.1.20", "255.255.255.0"}, {"192.0.0.0", "192.0.0.0", "255.255.255.0"},
        {"191.255.255.255", "191.255.255.255", "255.255.0.0"}, {"172.16.0.5", "172.16.0.5", "255.255.0.0"},
        {"128.0.0.0", "128.0.0.0", "255.255.0.0"}, {"127.0.0.1", "127.0.0.1", "255.0.0.0"},
        {"010.001.002.003", "10.1.2.3", "255.0.0.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        ASSERT_TRUE(writeBoardFile("/etc/network/interfaces", ""));
        EXPECT_TRUE(setIpParams("eth0", row.address));
        EXPECT_EQ(interfaces(), std::string("iface eth0 inet static\n    address ") + row.written
                                    + "\n    netmask " + row.netmask + "\n");
    }
}

TEST_F(SystemServicesTest, InvalidAddressChangesNothingAndRestartsNothing)
{
    const std::string before = interfaces();
    ASSERT_FALSE(before.empty());
    const char* addresses[] = {"1.2.3", "256.1.1.1", "1.2.3.4.5", "a.b.c.d", "", "1.2.3.4 ", " 1.2.3.4",
                               "1..2.3", "1.2.3.1000", "-1.2.3.4", "1.2.3.4\nauto x", nullptr};
    for (const char* address : addresses) {
        SCOPED_TRACE(address ? address : "(null)");
        EXPECT_FALSE(setIpParams("eth0", address));
    }
    for (const char* name : {"", "eth0\nauto x", "eth 0", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(name ? name : "(null)");
        EXPECT_FALSE(setIpParams(name, "10.1.2.3"));
    }
    EXPECT_EQ(interfaces(), before);
    EXPECT_EQ(simReadToolsLog(), "");
}

TEST_F(SystemServicesTest, SettingsFileThatCannotBeOpenedGivesOnlyTheNewStanza)
{
    ASSERT_EQ(::unlink(hostPath("/etc/network/interfaces").c_str()), 0);
    EXPECT_TRUE(setIpParams("eth0", "10.1.2.3"));
    EXPECT_EQ(interfaces(), "iface eth0 inet static\n    address 10.1.2.3\n    netmask 255.0.0.0\n");
}

TEST_F(SystemServicesTest, WifiSettingsForEachSecurityKind)
{
    const std::string header = "ctrl_interface=/var/run/wpa_supplicant\n"
                               "update_config=1\n"
                               "uuid=12345678-9abc-def0-1234-56789abcdef0\n"
                               "device_name=RS9113_n-Link\n"
                               "manufacturer=Redpine Signals INC\n"
                               "model_name=OneBox-Mobile\n"
                               "model_number=9113\n"
                               "serial_number=02\n"
                               "device_type=1-0050F204-1\n"
                               "os_version=01020300\n"
                               "config_methods=display push_button keypad\n"
                               "ap_scan=1\n"
                               "\n"
                               "network={\n"
                               "\tssid=\"Lab net\"\n";
    struct Row {
        const char* security;
        std::string block;
    };
    const Row rows[] = {
        {"WPA-PSK",
         "\tpairwise=CCMP TKIP\n\tgroup=CCMP TKIP\n\tkey_mgmt=WPA-PSK\n\tpsk=\"KEY\"\n\tproto=WPA2 WPA\n"},
        {"WEP", "\twep_key0=\"KEY\"\n\twep_tx_keyidx=1\n\tkey_mgmt=NONE\n"},
        {"WPA2-WEP", "\twep_key0=\"KEY\"\n\twep_tx_keyidx=1\n\tkey_mgmt=NONE\n"},  // WEP is tested first
        {"NONE", "\tkey_mgmt=NONE\n"},
        {nullptr, "\tkey_mgmt=NONE\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.security ? row.security : "(null)");
        simClearToolsLog();
        EXPECT_TRUE(setWifiParams("Lab net", row.security, "KEY"));
        EXPECT_EQ(wifi(), header + row.block + "\tpriority=1\n}");
        EXPECT_EQ(simReadToolsLog(), "ifdown wifi0\nifdown eth0\nifup wifi0\n");
    }
}

TEST_F(SystemServicesTest, WifiSettingsRefuseTextsThatWouldInjectDirectives)
{
    ASSERT_TRUE(writeBoardFile("/media/private/sta_settings.conf", "previous"));
    struct Row {
        const char* ssid;
        const char* key;
    };
    const Row rows[] = {
        {"net\"\n\tkey_mgmt=NONE", "KEY"}, {"net", "KEY\"\npsk=\"x"}, {"net\\", "KEY"}, {"net", "K\rEY"},
        {"net\x7f", "KEY"},               {"n\tet", "KEY"},           {nullptr, "KEY"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ssid ? row.ssid : "(null)");
        EXPECT_FALSE(setWifiParams(row.ssid, "WPA-PSK", row.key));
    }
    EXPECT_EQ(wifi(), "previous");
    EXPECT_EQ(simReadToolsLog(), "");
}

TEST_F(SystemServicesTest, NetworkStartTakesBothDownThenOneUpAndRefreshesTheScreens)
{
    networkStart("eth0");  // no bridge yet: nothing to refresh
    po_g_homeBridge.store(bridge());
    networkStart("wifi0");
    EXPECT_EQ(simReadToolsLog(), "ifdown wifi0\nifdown eth0\nifup eth0\n"
                                 "ifdown wifi0\nifdown eth0\nifup wifi0\n");
    EXPECT_EQ(bridge()->calls(), std::vector<std::string>{"refreshConfig()"});
}

} // namespace
