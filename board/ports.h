// The served ports' check at program start: the simulated board's port offset must leave every
// served port a port.
#pragma once

#include <string>
#include <vector>

// True when every served port, shifted by the offset (boardPort), stays within 1..65535; the
// board build shifts nothing. Else false with a message naming every port that leaves the
// range and the offsets that are served, or saying that BENCHVIEW_PORT_OFFSET is no whole number.
bool servedPortsInRange(const std::vector<int>& ports, std::string* why);

// For tests and benchmarks that run programs side by side on one machine: a port offset that no
// other process here holds (held for the life of the calling process), spaced so that no two
// offsets share a served port, and keeping every served port out of the range the kernel hands
// to client sockets (ip_local_port_range): a client given a served port by chance would take the
// service's place, and talk to itself.
int claimPortOffset(const std::vector<int>& servedPorts);
