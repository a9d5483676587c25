#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltra {

// One line of line traffic: local time with milliseconds, TX or RX, the port's
// name, then the bytes in upper-case hex separated by blanks:
// "2026-12-06T22:15:03.123 TX COM1 CC AA".
std::string trafficLine(std::chrono::system_clock::time_point time, bool tx, std::string_view portName,
                        const std::uint8_t* bytes, std::size_t n);

}  // namespace veltra
