#include "board/board.h"
#include "board/netif.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {
const TNetInterface* find(const std::vector<TNetInterface>& list, const std::string& name)
{
    auto it = std::find_if(list.begin(), list.end(), [&](const TNetInterface& n) { return n.name == name; });
    return it == list.end() ? nullptr : &*it;
}
} // namespace

class NetworkInterfaces : public SimBoardTest {};

TEST_F(NetworkInterfaces, SeededTableHasAWiredInterfaceAndNoWireless)
{
    auto list = networkInterfaces();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "lo");
    EXPECT_EQ(list[1].name, "eth0");
    EXPECT_TRUE(list[1].up);
    ASSERT_EQ(list[1].ipv4.size(), 1u);
    EXPECT_EQ(list[1].ipv4[0].address, "192.0.2.10");
    EXPECT_EQ(list[1].ipv4[0].netmask, "255.255.255.0");
    const std::string mac = hardwareAddress("eth0");
    ASSERT_EQ(mac.size(), 17u);
    EXPECT_EQ(std::stoi(mac.substr(0, 2), nullptr, 16) & 0x03, 0x02) << "not locally administered unicast: " << mac;
    EXPECT_EQ(find(list, "wifi0"), nullptr);
    EXPECT_EQ(hardwareAddress("wifi0"), "");
}

TEST_F(NetworkInterfaces, EditedTableIsReadInItsOrder)
{
    ASSERT_TRUE(writeBoardFile(kSimNetifTable,
                               "# edited\n"
                               "\n"
                               "wifi0 up 02:aa:bb:cc:dd:ee 10.0.0.7/8 10.1.0.7/16\n"
                               "eth0 down -\n"));
    auto list = networkInterfaces();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "wifi0");
    EXPECT_TRUE(list[0].up);
    ASSERT_EQ(list[0].ipv4.size(), 2u);
    EXPECT_EQ(list[0].ipv4[0].netmask, "255.0.0.0");
    EXPECT_EQ(list[0].ipv4[1].address, "10.1.0.7");
    EXPECT_EQ(list[0].ipv4[1].netmask, "255.255.0.0");
    EXPECT_EQ(list[0].hardwareAddress, "02:AA:BB:CC:DD:EE");
    EXPECT_FALSE(list[1].up);
    EXPECT_TRUE(list[1].ipv4.empty());
    EXPECT_EQ(list[1].hardwareAddress, "");

    ASSERT_EQ(::unlink(hostPath(kSimNetifTable).c_str()), 0);
    EXPECT_TRUE(networkInterfaces().empty());
}

TEST(NetifTable, BadLinesAreSkippedAndNamed)
{
    const std::string text =
        "eth0 up - 192.0.2.1/24\n"
        "eth1 sideways -\n"
        "eth2 up 02:00:00:00:00\n"
        "eth3 up - 192.0.2.300/24\n"
        "eth4 up - 192.0.2.4/33\n"
        "eth5 up - 192.0.2.5\n"
        "eth6 up\n"
        "eth7 down - 192.0.2.7/0\n";
    std::vector<std::string> errors;
    auto list = parseNetifTable(text, &errors);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "eth0");
    EXPECT_EQ(list[1].name, "eth7");
    EXPECT_EQ(list[1].ipv4.at(0).netmask, "0.0.0.0");
    ASSERT_EQ(errors.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(errors[i].rfind("line " + std::to_string(i + 2) + ": ", 0), 0u) << errors[i];
}

TEST(NetifTable, FormatReadsBack)
{
    std::vector<TNetInterface> in = {
        {"lo", true, {{"127.0.0.1", "255.0.0.0"}}, "00:00:00:00:00:00"},
        {"wifi0", false, {{"10.0.0.7", "255.255.255.252"}, {"10.1.0.7", "255.255.255.255"}}, ""},
    };
    std::vector<std::string> errors;
    auto out = parseNetifTable(formatNetifTable(in), &errors);
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(out[i].name, in[i].name);
        EXPECT_EQ(out[i].up, in[i].up);
        EXPECT_EQ(out[i].hardwareAddress, in[i].hardwareAddress);
        ASSERT_EQ(out[i].ipv4.size(), in[i].ipv4.size());
        for (size_t k = 0; k < in[i].ipv4.size(); ++k) {
            EXPECT_EQ(out[i].ipv4[k].address, in[i].ipv4[k].address);
            EXPECT_EQ(out[i].ipv4[k].netmask, in[i].ipv4[k].netmask);
        }
    }
}

TEST(BoardNetworkInterfaces, ListsTheHostsLoopback)
{
    auto list = boardNetworkInterfaces();
    const TNetInterface* lo = find(list, "lo");
    ASSERT_NE(lo, nullptr);
    EXPECT_TRUE(lo->up);
    ASSERT_FALSE(lo->ipv4.empty());
    EXPECT_EQ(lo->ipv4[0].address, "127.0.0.1");
    EXPECT_EQ(lo->ipv4[0].netmask, "255.0.0.0");
}
