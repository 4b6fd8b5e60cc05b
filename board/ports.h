// The served ports' check at program start: the simulated board's port offset must leave every
// served port a port.
#pragma once

#include <string>
#include <vector>

// True when every served port, shifted by the offset (boardPort), stays within 1..65535; the
// board build shifts nothing. Else false with a message naming every port that leaves the
// range and the offsets that are served, or saying that BENCHVIEW_PORT_OFFSET is no whole number.
bool servedPortsInRange(const std::vector<int>& ports, std::string* why);
