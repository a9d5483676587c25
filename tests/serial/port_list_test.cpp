#include "serial/port_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltra {
namespace {

std::vector<std::string> sortedDevices(const std::vector<std::string>& devices) {
    std::vector<PortInfo> ports;
    for (const std::string& d : devices) ports.push_back({d, "", {}});
    sortPorts(ports);
    std::vector<std::string> out;
    for (const PortInfo& p : ports) out.push_back(p.device);
    return out;
}

// Ports come in number order, not the system's nor the characters' order.
TEST(PortList, SortsByStemThenNumber) {
    const struct { std::vector<std::string> given, sorted; } rows[] = {
        {{"COM10", "COM2", "COM1"}, {"COM1", "COM2", "COM10"}},
        {{"/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyS2"}, {"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}},
        {{"/dev/ttyS02", "/dev/ttyS1", "/dev/ttyS10"}, {"/dev/ttyS1", "/dev/ttyS02", "/dev/ttyS10"}},
        {{"/dev/ttyACM", "/dev/ttyACM0"}, {"/dev/ttyACM", "/dev/ttyACM0"}},
        {{}, {}},
    };
    for (const auto& row : rows) EXPECT_EQ(sortedDevices(row.given), row.sorted);
}

TEST(PortList, ListedPortsAreSorted) {
    const std::vector<PortInfo> ports = listPorts();
    std::vector<std::string> devices;
    for (const PortInfo& p : ports) devices.push_back(p.device);
    EXPECT_EQ(sortedDevices(devices), devices);
}

}  // namespace
}  // namespace veltra
