#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltra {

// One line of a traffic log, without the line end: local time with
// milliseconds, TX or RX, the port's name, the bytes in hex, e.g.
// "2026-12-06T22:15:03.123 TX COM1 CC".
std::string trafficLine(std::chrono::system_clock::time_point time, bool tx, std::string_view portName,
                        const std::uint8_t* bytes, std::size_t n);

}  // namespace veltra
