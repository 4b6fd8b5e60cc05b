#include "board/netif.h"

#include "board/board.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <mutex>
#include <net/if.h>
#include <set>
#include <sstream>
#include <sys/socket.h>

namespace {

std::string dotted(const in_addr& a)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::string netmaskOfPrefix(int prefix)
{
    in_addr mask{};
    mask.s_addr = htonl(prefix == 0 ? 0u : 0xFFFFFFFFu << (32 - prefix));
    return dotted(mask);
}

// -1 when the mask is not a run of ones followed by zeros.
int prefixOfNetmask(const std::string& netmask)
{
    in_addr mask{};
    if (inet_pton(AF_INET, netmask.c_str(), &mask) != 1)
        return -1;
    uint32_t m = ntohl(mask.s_addr);
    int prefix = 0;
    while (prefix < 32 && (m & (0x80000000u >> prefix)))
        ++prefix;
    return (prefix == 32 || (m << prefix) == 0) ? prefix : -1;
}

std::string hexAddress(const unsigned char* bytes, int length)
{
    std::string out;
    char part[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(part, sizeof part, i ? ":%02X" : "%02X", bytes[i]);
        out += part;
    }
    return out;
}

bool isHardwareAddress(const std::string& text)
{
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i % 3 == 2 ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

bool readIpv4Entry(const std::string& text, TIpv4Entry& entry)
{
    size_t slash = text.find('/');
    if (slash == std::string::npos)
        return false;
    std::string address = text.substr(0, slash);
    std::string prefixText = text.substr(slash + 1);
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1 || prefixText.empty() || prefixText.size() > 2
        || !std::all_of(prefixText.begin(), prefixText.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    int prefix = std::atoi(prefixText.c_str());
    if (prefix > 32)
        return false;
    entry.address = dotted(a);
    entry.netmask = netmaskOfPrefix(prefix);
    return true;
}

// A table edited by hand is read every few seconds: each complaint is printed once.
void reportOnce(const std::vector<std::string>& errors)
{
    static std::mutex* mutex = new std::mutex();
    static auto* reported = new std::set<std::string>();
    std::lock_guard<std::mutex> lock(*mutex);
    for (const auto& e : errors) {
        if (reported->insert(e).second)
            std::fprintf(stderr, "benchview: %s: %s\n", kSimNetifTable, e.c_str());
    }
}

} // namespace

std::vector<TNetInterface> parseNetifTable(const std::string& text, std::vector<std::string>* errors)
{
    std::vector<TNetInterface> out;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty() || w[0][0] == '#')
            continue;
        auto fail = [&](const std::string& why) {
            if (errors)
                errors->push_back("line " + std::to_string(number) + ": " + why);
        };
        if (w.size() < 3) {
            fail("expected: name up|down hardware-address|- [address/prefix ...]");
            continue;
        }
        TNetInterface netif;
        netif.name = w[0];
        if (w[1] != "up" && w[1] != "down") {
            fail("state \"" + w[1] + "\" is neither up nor down");
            continue;
        }
        netif.up = w[1] == "up";
        if (w[2] != "-") {
            if (!isHardwareAddress(w[2])) {
                fail("\"" + w[2] + "\" is not a hardware address");
                continue;
            }
            netif.hardwareAddress = w[2];
            std::transform(netif.hardwareAddress.begin(), netif.hardwareAddress.end(), netif.hardwareAddress.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        }
        bool ok = true;
        for (size_t i = 3; i < w.size() && ok; ++i) {
            TIpv4Entry entry;
            ok = readIpv4Entry(w[i], entry);
            if (ok)
                netif.ipv4.push_back(entry);
            else
                fail("\"" + w[i] + "\" is not an IPv4 address/prefix-length");
        }
        if (ok)
            out.push_back(netif);
    }
    return out;
}

std::string formatNetifTable(const std::vector<TNetInterface>& interfaces)
{
    std::string out =
        "# Network interfaces of the simulated board, in system order:\n"
        "# name up|down hardware-address|- [address/prefix-length ...]\n";
    for (const auto& n : interfaces) {
        out += n.name + (n.up ? " up " : " down ") + (n.hardwareAddress.empty() ? "-" : n.hardwareAddress);
        for (const auto& e : n.ipv4) {
            int prefix = prefixOfNetmask(e.netmask);
            out += " " + e.address + "/" + std::to_string(prefix < 0 ? 32 : prefix);
        }
        out += "\n";
    }
    return out;
}

std::string defaultNetifTable()
{
    TNetInterface lo{"lo", true, {{"127.0.0.1", "255.0.0.0"}}, "00:00:00:00:00:00"};
    // Locally administered, so it cannot be anybody's real card.
    TNetInterface eth0{"eth0", true, {{"192.0.2.10", "255.255.255.0"}}, "02:42:56:00:02:0A"};
    return formatNetifTable({lo, eth0});
}

void seedSimulatedNetworkInterfaces()
{
    writeBoardFile(kSimNetifTable, defaultNetifTable());
}

std::vector<TNetInterface> simulatedNetworkInterfaces()
{
    std::ifstream in(boardPath(kSimNetifTable));
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> errors;
    auto out = parseNetifTable(text.str(), &errors);
    reportOnce(errors);
    return out;
}

std::vector<TNetInterface> boardNetworkInterfaces()
{
    std::vector<TNetInterface> out;
    if (struct if_nameindex* names = if_nameindex()) {
        std::vector<std::pair<unsigned, std::string>> order;
        for (struct if_nameindex* n = names; n->if_index != 0 && n->if_name; ++n)
            order.emplace_back(n->if_index, n->if_name);
        if_freenameindex(names);
        std::sort(order.begin(), order.end());
        for (auto& o : order) {
            TNetInterface netif;
            netif.name = o.second;
            out.push_back(netif);
        }
    }
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (struct ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name)
            continue;
        // An alias label ("eth0:1") is an address of its interface.
        std::string name(a->ifa_name);
        name = name.substr(0, name.find(':'));
        auto it = std::find_if(out.begin(), out.end(), [&](const TNetInterface& n) { return n.name == name; });
        if (it == out.end()) {
            out.push_back(TNetInterface{name, false, {}, {}});
            it = out.end() - 1;
        }
        if (a->ifa_flags & IFF_UP)
            it->up = true;
        if (!a->ifa_addr)
            continue;
        if (a->ifa_addr->sa_family == AF_INET) {
            TIpv4Entry entry;
            entry.address = dotted(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr);
            entry.netmask = a->ifa_netmask ? dotted(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr)
                                           : std::string("0.0.0.0");
            it->ipv4.push_back(entry);
        } else if (a->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
            if (ll->sll_halen > 0 && ll->sll_halen <= 8)
                it->hardwareAddress = hexAddress(ll->sll_addr, ll->sll_halen);
        }
    }
    freeifaddrs(list);
    return out;
}

std::vector<TNetInterface> networkInterfaces()
{
    return kSimulatedBoard ? simulatedNetworkInterfaces() : boardNetworkInterfaces();
}

std::string hardwareAddress(const std::string& name)
{
    for (const auto& n : networkInterfaces()) {
        if (n.name == name)
            return n.hardwareAddress;
    }
    return std::string();
}
