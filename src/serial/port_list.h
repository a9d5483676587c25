#pragma once

#include <string>
#include <vector>

namespace veltra {

// Serial ports of this machine: device path, description, /dev/serial/by-id names.
struct PortInfo {
    std::string device;
    std::string description;
    std::vector<std::string> byId;
};
// The ports in number order; what every list of ports shows.
std::vector<PortInfo> listPorts();

// Number order by device: COM2 before COM10, ttyS2 before ttyS10 (the system
// may list them in any order).
void sortPorts(std::vector<PortInfo>& ports);

}  // namespace veltra
