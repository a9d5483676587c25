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
std::vector<PortInfo> listPorts();

}  // namespace veltra
