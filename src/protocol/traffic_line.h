#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltra {

// One line of a traffic log, without the line end: local time with
// milliseconds, TX or RX, the port's name, the bytes in hex. The panel names
// a port by its COM number and device, veltractl by its device:
// "2026-12-06T22:15:03.123 TX COM1 /dev/ttyUSB0 CC",
// "2026-12-06T22:15:03.123 RX /dev/ttyUSB0 CC AA".
std::string trafficLine(std::chrono::system_clock::time_point time, bool tx, std::string_view portName,
                        const std::uint8_t* bytes, std::size_t n);
// An event of the link in the same log, "--" in place of TX or RX and the
// event's text in place of the bytes:
// "2026-12-06T22:15:03.123 -- COM1 /dev/ttyUSB0 opened 9600 8N1".
std::string trafficEventLine(std::chrono::system_clock::time_point time, std::string_view portName,
                             std::string_view text);
// `text` with every control character written out (\n, \r, \t, \x1B), so a
// device name or a reason can neither end a line nor start one of its own.
// Both functions above put names and texts through it.
std::string escapeControls(std::string_view text);

}  // namespace veltra
