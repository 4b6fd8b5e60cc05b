// Network interfaces as the system lists them. On the board: the kernel's list. On the simulated
// board: a table file under the root, seeded with one wired interface and editable by hand or
// by tests.
#pragma once

#include <string>
#include <vector>

struct TIpv4Entry {
    std::string address;  // dotted, e.g. "192.0.2.10"
    std::string netmask;  // dotted, e.g. "255.255.255.0"
};

struct TNetInterface {
    std::string name;
    bool up = false;
    std::vector<TIpv4Entry> ipv4;
    std::string hardwareAddress;  // "02:00:5E:10:00:01", empty when it has none
};

// The interfaces in system order (interface index order on the board, line order of the table
// on the simulated board). The board's or the simulated implementation, by kSimulatedBoard.
std::vector<TNetInterface> networkInterfaces();
// The hardware address of the named interface; empty when there is no such interface.
std::string hardwareAddress(const std::string& name);

// The two implementations, both in every build.
std::vector<TNetInterface> boardNetworkInterfaces();
std::vector<TNetInterface> simulatedNetworkInterfaces();

// The table of the simulated board: one interface per line, in system order,
//   name up|down hardware-address|- [address/prefix-length ...]
// '#' starts a comment line. A line that does not read is skipped, with a message naming it.
constexpr const char* kSimNetifTable = "/sim/netif";

// Reads a table; every line that does not read adds "line N: why" to errors (when given).
std::vector<TNetInterface> parseNetifTable(const std::string& text, std::vector<std::string>* errors);
// Writes a table that parseNetifTable reads back (netmasks are written as prefix lengths).
std::string formatNetifTable(const std::vector<TNetInterface>& interfaces);
// The first-start table: loopback, "eth0" up with 192.0.2.10/24 and a locally administered
// hardware address; no "wifi0".
std::string defaultNetifTable();
// Seeding step of the simulated board: writes the first-start table.
void seedSimulatedNetworkInterfaces();
